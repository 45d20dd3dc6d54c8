// Display width and case mapping of code points: the per-character costs of
// the line editor's layout and of word hashing and case-insensitive comparison.
#include <benchmark/benchmark.h>

#include <vector>

#include "runtime/case_folding.hpp"
#include "runtime/char_width.hpp"

namespace zir {
namespace {

// Text as the console sees it: mostly ASCII, some accented Latin and Greek,
// some CJK and a combining mark.
std::vector<u32> sample_text() {
    const char32_t text[] = U"print [\"Grüße\" 42 ñandú Ωμέγα] 漢字かな e\u0301 ";
    std::vector<u32> cps;
    for (int i = 0; i < 64; i++) {
        for (const char32_t* p = text; *p; p++) cps.push_back(u32(*p));
    }
    return cps;
}

std::vector<u32> every_nth(u32 first, u32 last, u32 step) {
    std::vector<u32> cps;
    for (u32 cp = first; cp <= last; cp += step) cps.push_back(cp);
    return cps;
}

void run_width(benchmark::State& state, const std::vector<u32>& cps, int (*width)(u32)) {
    for (auto _ : state) {
        int total = 0;
        for (u32 cp : cps) total += width(cp);
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(i64(state.iterations()) * i64(cps.size()));
}

void run_case(benchmark::State& state, const std::vector<u32>& cps) {
    case_folding::init();
    for (auto _ : state) {
        u32 acc = 0;
        for (u32 cp : cps) acc += case_folding::change_char(cp, 1);
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(i64(state.iterations()) * i64(cps.size()));
}

void BM_CharWidthText(benchmark::State& state) { run_width(state, sample_text(), unicode::char_width); }
BENCHMARK(BM_CharWidthText);

void BM_CharWidthCjkText(benchmark::State& state) { run_width(state, sample_text(), unicode::char_width_cjk); }
BENCHMARK(BM_CharWidthCjkText);

// Every code point of the first three planes: the searches at their worst.
void BM_CharWidthAllPlanes(benchmark::State& state) {
    run_width(state, every_nth(0, 0x3FFFF, 7), unicode::char_width_cjk);
}
BENCHMARK(BM_CharWidthAllPlanes);

void BM_ToUpperText(benchmark::State& state) { run_case(state, sample_text()); }
BENCHMARK(BM_ToUpperText);

// Deseret through Adlam: the sorted lists above the Basic Multilingual Plane.
void BM_ToUpperAboveBmp(benchmark::State& state) { run_case(state, every_nth(0x10400, 0x1E95F, 3)); }
BENCHMARK(BM_ToUpperAboveBmp);

}  // namespace
}  // namespace zir
