// Decoding and loading UTF-8, exporting strings: the paths every source file,
// symbol and printed text takes.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace {

// 64 KiB of text: ASCII source code, or a mix of Latin-1, Cyrillic, CJK and
// emoji as it comes in documents.
std::string sample(bool mixed) {
    const char* chunk = mixed ? "Stra\xC3\x9F" "e \xD0\x9F\xD1\x80\xD0\xB8 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 ok\n"
                              : "append result [name: \"value\" 42 3.14]\n";
    std::string s;
    while (s.size() < 65536) s += chunk;
    return s;
}

void BM_FastDecode(benchmark::State& state) {
    std::string text = sample(state.range(0));
    for (auto _ : state) {
        const u8* p = reinterpret_cast<const u8*>(text.c_str());
        const u8* end = p + text.size();
        i64 sum = 0;
        while (p < end) {
            i32 cp;
            p = unicode::fast_decode_utf8_char(p, &cp);
            sum += cp;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * i64(text.size()));
}
BENCHMARK(BM_FastDecode)->Arg(0)->Arg(1);

void BM_LoadUtf8(benchmark::State& state) {
    bench::setup_runtime();
    std::string text = sample(state.range(0));
    i64 n = 0;
    for (auto _ : state) {
        u32 node = unicode::load_utf8_new(reinterpret_cast<const u8*>(text.data()), i64(text.size()));
        benchmark::DoNotOptimize(node);
        if (++n % 200 == 0) {
            state.PauseTiming();
            memory::free_all_frames();
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(state.iterations() * i64(text.size()));
}
BENCHMARK(BM_LoadUtf8)->Arg(0)->Arg(1);

void BM_ToUtf8(benchmark::State& state) {
    bench::setup_runtime();
    memory::free_all_frames();
    std::string text = sample(state.range(0));
    Cell str;
    cell::init(&str, TYPE_STRING);
    str.w2 = unicode::load_utf8_new(reinterpret_cast<const u8*>(text.data()), i64(text.size()));
    for (auto _ : state) {
        i32 len = -1;
        benchmark::DoNotOptimize(unicode::to_utf8(&str, &len));
    }
    state.SetBytesProcessed(state.iterations() * i64(text.size()));
}
BENCHMARK(BM_ToUtf8)->Arg(0)->Arg(1);

}  // namespace
}  // namespace zir
