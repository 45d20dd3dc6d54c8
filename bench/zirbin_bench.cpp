// ZIRBIN and the LZ77 packer.
//
// Encoding and decoding a large nested value in both forms (the same data as
// bench/peers/zirbin.py gives to Python's pickle), and loading the value's
// molded text with the lexer for comparison; LZ77 against zlib at levels
// 1 and 6 on generated text (ZIR_BENCH_LZ77_MIB sets its size, 16 MiB by
// default). "ratio" is input over output.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "loader/lz77.hpp"
#include "loader/zirbin.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

using Bytes = std::vector<u8>;

// 2,000 records, each a block of an integer, a float, a 12-character string,
// a word, a small block of three integers and a set-word: 20,000 values in
// all, as bench/peers/zirbin.py builds them for pickle.
constexpr int RECORDS = 2000;

Cell* nested_value() {
    Cell* top = stack::push(&unset::value);
    cell::init(top, TYPE_UNSET);
    block::make_at(top, RECORDS);
    std::mt19937 rng(42);
    for (int i = 0; i < RECORDS; i++) {
        stack::KeepTop keep;
        Cell* rec = stack::push(&unset::value);
        cell::init(rec, TYPE_UNSET);
        block::make_at(rec, 6);
        Cell* v = memory::alloc_tail(rec);
        cell::init(v, TYPE_INTEGER);
        v->w2 = u32(rng() % 1000000);
        v = memory::alloc_tail(rec);
        cell::init(v, TYPE_FLOAT);
        cell::set_float(v, (rng() % 100000) / 7.0);
        Cell* s = stack::push(&unset::value);
        cell::init(s, TYPE_UNSET);
        string::make_at(s, 12, 1);
        std::string text = "name-" + std::to_string(rng() % 10000000);
        text.resize(12, 'x');
        string::append_utf8(s, reinterpret_cast<const u8*>(text.data()), i64(text.size()));
        *memory::alloc_tail(rec) = *s;
        *memory::alloc_tail(rec) = *word::load("field" + std::to_string(i % 50));
        Cell* small = stack::push(&unset::value);
        cell::init(small, TYPE_UNSET);
        block::make_at(small, 3);
        for (int k = 0; k < 3; k++) {
            v = memory::alloc_tail(small);
            cell::init(v, TYPE_INTEGER);
            v->w2 = u32(rng() % 100);
        }
        *memory::alloc_tail(rec) = *small;
        Cell* sw = stack::push(word::load("key" + std::to_string(i % 20)));
        cell::set_type(sw, TYPE_SET_WORD);
        *memory::alloc_tail(rec) = *sw;
        *memory::alloc_tail(top) = *rec;
    }
    return top;
}

struct Nested {
    Cell* value;
    Bytes fixed, compact;
    std::string text;   // its mold, for the lexer
};

Nested& nested() {
    static Nested n = [] {
        bench::setup_runtime();
        Nested r;
        r.value = nested_value();
        r.fixed = binary::bytes_of(zirbin::encode(r.value));
        r.compact = binary::bytes_of(zirbin::encode_cp(r.value));
        Cell* buffer = stack::push(&unset::value);
        string::make_at(buffer, 1 << 20, 1);
        actions::mold(r.value, buffer, false, false, false, nullptr, -1, 0);
        r.text = string::to_std(buffer);
        stack::top = r.value + 1;
        return r;
    }();
    return n;
}

void BM_ZirbinEncode(benchmark::State& state) {
    Nested& n = nested();
    bool compact = state.range(0);
    for (auto _ : state) {
        stack::KeepTop keep;
        benchmark::DoNotOptimize(compact ? zirbin::encode_cp(n.value) : zirbin::encode(n.value));
    }
    state.counters["values/s"] = benchmark::Counter(double(RECORDS) * 10 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(compact ? n.compact.size() : n.fixed.size());
}
BENCHMARK(BM_ZirbinEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ZirbinDecode(benchmark::State& state) {
    Nested& n = nested();
    const Bytes& image = state.range(0) ? n.compact : n.fixed;
    for (auto _ : state) {
        stack::KeepTop keep;
        Cell* target = stack::push(&unset::value);
        cell::init(target, TYPE_UNSET);
        block::make_at(target, 1);
        zirbin::codec_q = 1;
        zirbin::decode(image.data(), target, i64(image.size()));
    }
    state.counters["values/s"] = benchmark::Counter(double(RECORDS) * 10 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(i64(image.size()) * i64(state.iterations()));
}
BENCHMARK(BM_ZirbinDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same values loaded from their molded text by the lexer.
void BM_LexerLoad(benchmark::State& state) {
    Nested& n = nested();
    for (auto _ : state) {
        stack::KeepTop keep;
        Cell* target = stack::push(&unset::value);
        lexer::transcode(target, reinterpret_cast<const u8*>(n.text.data()), i64(n.text.size()), lexer::Options{},
                         nullptr, nullptr, nullptr, nullptr);
    }
    state.counters["values/s"] = benchmark::Counter(double(RECORDS) * 10 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(i64(n.text.size()) * i64(state.iterations()));
}
BENCHMARK(BM_LexerLoad)->Unit(benchmark::kMillisecond);

// --- LZ77 against zlib -------------------------------------------------------------

const Bytes& text() {
    static Bytes t = [] {
        const char* env = std::getenv("ZIR_BENCH_LZ77_MIB");
        size_t size = size_t(env ? std::atoi(env) : 16) << 20;
        static const char* words[] = {"the", "of", "and", "a", "to", "in", "is", "value", "block", "series", "word",
                                      "that", "for", "it", "with", "function", "context", "string", "binary",
                                      "evaluate", "interpreter", "collector", "symbol", "returns", "argument",
                                      "datatype", "console", "language", "parse", "dialect", "lexer", "view"};
        const int n_words = int(sizeof words / sizeof *words);
        std::mt19937 rng(20240601);
        std::vector<double> weights;
        for (int i = 0; i < n_words; i++) weights.push_back(1.0 / (i + 1));
        std::discrete_distribution<int> pick(weights.begin(), weights.end());
        std::string s;
        while (s.size() < size) {
            if (rng() % 10 == 0) {
                s += "    append result [name: \"" + std::string(words[pick(rng)]) + "\" " +
                     std::to_string(rng() % 100000) + "]\n";
            } else {
                int len = 5 + int(rng() % 15);
                for (int i = 0; i < len; i++) {
                    s += words[pick(rng)];
                    s += i + 1 < len ? " " : ". ";
                }
                if (rng() % 4 == 0) s += "\n";
            }
        }
        s.resize(size);
        return Bytes(s.begin(), s.end());
    }();
    return t;
}

void BM_Lz77Compress(benchmark::State& state) {
    const Bytes& in = text();
    Bytes out(in.size());
    i64 n = 0;
    for (auto _ : state) n = lz77::compress(in.data(), i64(in.size()), out.data());
    state.SetBytesProcessed(i64(in.size()) * i64(state.iterations()));
    state.counters["ratio"] = double(in.size()) / double(n);
}
BENCHMARK(BM_Lz77Compress)->Unit(benchmark::kMillisecond);

void BM_Lz77Decompress(benchmark::State& state) {
    const Bytes& in = text();
    Bytes packed(in.size());
    packed.resize(size_t(lz77::compress(in.data(), i64(in.size()), packed.data())));
    for (auto _ : state) {
        lz77::Unpacked u;
        benchmark::DoNotOptimize(lz77::decompress(packed.data(), i64(packed.size()), &u));
    }
    state.SetBytesProcessed(i64(in.size()) * i64(state.iterations()));
}
BENCHMARK(BM_Lz77Decompress)->Unit(benchmark::kMillisecond);

void BM_ZlibCompress(benchmark::State& state) {
    const Bytes& in = text();
    Bytes out(compressBound(uLong(in.size())));
    uLongf n = 0;
    for (auto _ : state) {
        n = uLongf(out.size());
        compress2(out.data(), &n, in.data(), uLong(in.size()), int(state.range(0)));
    }
    state.SetBytesProcessed(i64(in.size()) * i64(state.iterations()));
    state.counters["ratio"] = double(in.size()) / double(n);
}
BENCHMARK(BM_ZlibCompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_ZlibDecompress(benchmark::State& state) {
    const Bytes& in = text();
    Bytes packed(compressBound(uLong(in.size())));
    uLongf n = uLongf(packed.size());
    compress2(packed.data(), &n, in.data(), uLong(in.size()), int(state.range(0)));
    Bytes out(in.size());
    for (auto _ : state) {
        uLongf m = uLongf(out.size());
        uncompress(out.data(), &m, packed.data(), n);
    }
    state.SetBytesProcessed(i64(in.size()) * i64(state.iterations()));
}
BENCHMARK(BM_ZlibDecompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zir
