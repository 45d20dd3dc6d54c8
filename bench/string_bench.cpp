// Strings: find in narrow and wide text with and without /case, appending,
// and mold of long text.
#include <benchmark/benchmark.h>

#include <random>

#include "bench_support.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

void setup() {
    bench::setup_runtime();
    collector::active = false;
}

constexpr i32 TEXT_LENGTH = 1 << 16;

// TEXT_LENGTH pseudo-random lower-case letters (and, at unit 4, a wide code
// point now and then) with the needle "needle" at the end, pushed.
Cell* haystack(u32 unit) {
    std::mt19937 random(1);
    Cell* s = stack::push_slot();
    cell::init(s, TYPE_UNSET);
    string::make_at(s, TEXT_LENGTH + 8, unit);
    SeriesBuffer* b = node_buffer(s->w2);
    u8* p = series::head(b);
    for (i32 i = 0; i < TEXT_LENGTH; i++) {
        u32 c = 'a' + random() % 26;
        if (unit == 4 && i % 97 == 0) c = 0x1F600;
        string::put_char(p + i64(i) * unit, unit, c);
    }
    const char* needle = "needle";
    for (i32 i = 0; i < 6; i++) string::put_char(p + i64(TEXT_LENGTH + i) * unit, unit, u32(needle[i]));
    b->tail = b->offset + u32((TEXT_LENGTH + 6) * unit);
    return s;
}

Cell* text(const char* utf8) {
    Cell* s = stack::push_slot();
    cell::init(s, TYPE_UNSET);
    string::make_at(s, 16, 1);
    string::append_utf8(s, reinterpret_cast<const u8*>(utf8), i64(std::strlen(utf8)));
    return s;
}

void find_bench(benchmark::State& state, u32 unit, bool case_, const char* needle) {
    setup();
    Cell* saved = stack::top;
    Cell* hay = haystack(unit);
    Cell* value = text(needle);
    Cell* position = stack::push(hay);
    for (auto _ : state) {
        *position = *hay;
        Cell* r = string::find(position, value, nullptr, false, case_, false, false, nullptr, nullptr, false, false,
                               false, false);
        benchmark::DoNotOptimize(r->w1);
    }
    state.SetItemsProcessed(state.iterations() * TEXT_LENGTH);
    stack::top = saved;
}

void BM_FindUnit1(benchmark::State& state) { find_bench(state, 1, false, "NEEDLE"); }
void BM_FindUnit1Case(benchmark::State& state) { find_bench(state, 1, true, "needle"); }
void BM_FindUnit4(benchmark::State& state) { find_bench(state, 4, false, "NEEDLE"); }
void BM_FindUnit4Case(benchmark::State& state) { find_bench(state, 4, true, "needle"); }
BENCHMARK(BM_FindUnit1);
BENCHMARK(BM_FindUnit1Case);
BENCHMARK(BM_FindUnit4);
BENCHMARK(BM_FindUnit4Case);

// Appending to a string that is emptied every 100,000 appends.
template <typename Append>
void append_bench(benchmark::State& state, Append append) {
    setup();
    Cell* saved = stack::top;
    Cell* s = text("");
    Cell* position = stack::push(s);
    i64 n = 0;
    for (auto _ : state) {
        *position = *s;
        append(position);
        if (++n == 100000) {
            string::zs_reset(s);
            n = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
    stack::top = saved;
}

void BM_AppendString(benchmark::State& state) {
    Cell* piece = nullptr;
    append_bench(state, [&](Cell* s) {
        if (!piece) piece = text("0123456789");
        string::insert(s, piece, nullptr, false, nullptr, true);
    });
}
BENCHMARK(BM_AppendString);

void BM_AppendChar(benchmark::State& state) {
    Cell c;
    cell::init(&c, TYPE_CHAR);
    c.w2 = 'x';
    append_bench(state, [&](Cell* s) { string::insert(s, &c, nullptr, false, nullptr, true); });
}
BENCHMARK(BM_AppendChar);

void BM_AppendInteger(benchmark::State& state) {
    Cell v;
    cell::init(&v, TYPE_INTEGER);
    v.w2 = 123456;
    append_bench(state, [&](Cell* s) { string::insert(s, &v, nullptr, false, nullptr, true); });
}
BENCHMARK(BM_AppendInteger);

// mold of 64 KiB of text: words, a line feed in every 60 characters, a
// double quote in the middle (so braces), a few braces.
void BM_MoldLongText(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    std::string source;
    while (source.size() < size_t(TEXT_LENGTH)) source += "a few words of text, {braced} and plain\tthen\n";
    source[source.size() / 2] = '"';
    Cell* s = text(source.c_str());
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    string::make_at(out, 16, 1);
    for (auto _ : state) {
        string::zs_reset(out);
        string::mold(s, out, false, false, false, nullptr, PART_UNLIMITED, 0);
        benchmark::DoNotOptimize(node_buffer(out->w2)->tail);
    }
    state.SetBytesProcessed(state.iterations() * i64(source.size()));
    stack::top = saved;
}
BENCHMARK(BM_MoldLongText);

}  // namespace
}  // namespace zir
