// Loading source text: about 10 MB of mixed literals, and the rows of the
// peer comparison (bench/peers/load.py and load.lua load the same rows as
// JSON and as a Lua table constructor). Reports bytes loaded per second.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.hpp"
#include "datatypes/block.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"

namespace zir {
namespace {

constexpr size_t TARGET = 10 << 20;

// Rows of integers, floats, strings and a nested block: what JSON and Lua
// have too. The peers write the same rows.
std::string peer_rows() {
    std::string s = "[";
    for (long r = 0; s.size() < TARGET; r++) {
        s += "[" + std::to_string(r) + " " + std::to_string(r) + ".5 \"text" + std::to_string(r) + "\" [" +
             std::to_string(r) + " " + std::to_string(r + 1) + "]]\n";
    }
    return s + "]";
}

// Every literal form the lexer reads (but maps, whose datatype is yet to come).
std::string mixed() {
    std::string s;
    for (long r = 0; s.size() < TARGET; r++) {
        std::string n = std::to_string(r);
        std::string w = std::to_string(r % 1000);   // words repeat, as in source code
        s += "[word-" + w + " set-" + w + ": 'lit :get /ref #issue-" + w + " " + n + " -" + n + "'000 " + n +
             ".25e3 1.2." + std::to_string(r % 256) + " " + n + "x7 FFh 12.5% 10:30:15 " +
             "\"string ^(41) " + n + "\" {multi\nline " + n + "} %file/" + n + ".txt http://example.com/" + n +
             " user@example.com <tag " + n + "> a/b/" + n + " #\"c\" #{0A0B0C} (1, " + n + ") " +
             std::to_string(1 + r % 28) + "-Jan-2023/10:" + std::to_string(10 + r % 50) + " $" + n + ".50]\n";
    }
    return s;
}

void load_text(benchmark::State& state, const std::string& text) {
    bench::setup_runtime();
    const u8* p = reinterpret_cast<const u8*>(text.data());
    for (auto _ : state) {
        Cell* saved = stack::top;
        Cell* out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        lexer::transcode(out, p, i64(text.size()), {}, nullptr, nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(out->w2);
        stack::top = saved;
    }
    state.SetBytesProcessed(i64(state.iterations()) * i64(text.size()));
}

void BM_LoadMixedLiterals(benchmark::State& state) {
    static const std::string text = mixed();
    load_text(state, text);
}
BENCHMARK(BM_LoadMixedLiterals)->Unit(benchmark::kMillisecond);

void BM_LoadPeerRows(benchmark::State& state) {
    static const std::string text = peer_rows();
    load_text(state, text);
}
BENCHMARK(BM_LoadPeerRows)->Unit(benchmark::kMillisecond);

// 700,000 words never seen before: interning dominates. The symbol table
// keeps them, so the text is loaded once per run (a second load would only
// find them).
void BM_LoadDistinctWords(benchmark::State& state) {
    static const std::string text = [] {
        std::string s;
        for (i32 i = 0; i < 700000; i++) s += "distinct-" + std::to_string(i) + (i % 10 == 9 ? "\n" : " ");
        return s;
    }();
    load_text(state, text);
}
BENCHMARK(BM_LoadDistinctWords)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_CheckMixedLiterals(benchmark::State& state) {
    bench::setup_runtime();
    static const std::string text = mixed();
    const u8* p = reinterpret_cast<const u8*>(text.data());
    lexer::Options o;
    o.load = false;
    for (auto _ : state) {
        Cell out;
        benchmark::DoNotOptimize(lexer::transcode(&out, p, i64(text.size()), o, nullptr, nullptr, nullptr, nullptr));
    }
    state.SetBytesProcessed(i64(state.iterations()) * i64(text.size()));
}
BENCHMARK(BM_CheckMixedLiterals)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zir
