// Sorting engine: both sorts over 100,000 elements through a comparison
// callback, as `sort` calls them, with the standard library's sorts over the
// same callback as a yardstick.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "runtime/sorting.hpp"

namespace zir {
namespace {

constexpr i64 N = 100000;

int compare_u32(const void* x, const void* y, std::intptr_t, std::intptr_t) {
    u32 a, b;
    std::memcpy(&a, x, 4);
    std::memcpy(&b, y, 4);
    return a < b ? -1 : a > b ? 1 : 0;
}

struct Record {
    u32 key, pad[3];   // the size of a cell
};

std::vector<Record> make_input(int shape) {
    std::mt19937 rng(42);
    std::vector<Record> v(N);
    for (i64 i = 0; i < N; i++) v[size_t(i)].key = shape == 0 ? u32(rng()) : u32(i);
    if (shape == 1)   // nearly sorted: 1% of the elements swapped at random
        for (i64 j = 0; j < N / 100; j++) std::swap(v[rng() % N], v[rng() % N]);
    return v;
}

template <typename Sort>
void run(benchmark::State& state, Sort sort) {
    std::vector<Record> input = make_input(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<Record> v = input;
        state.ResumeTiming();
        sort(v);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * N);
}

// The callback through a pointer the compiler cannot see through, as ours is
// called, so that the yardstick does not inline it.
sort::Compare volatile opaque_pointer = compare_u32;
sort::Compare opaque_compare() { return opaque_pointer; }

void BM_Quicksort(benchmark::State& state) {
    run(state, [](std::vector<Record>& v) { sort::quicksort(v.data(), N, sizeof(Record), 0, 0, opaque_compare()); });
}

void BM_MergeSort(benchmark::State& state) {
    run(state, [](std::vector<Record>& v) { sort::merge_sort(v.data(), N, sizeof(Record), 0, 0, opaque_compare()); });
}

void BM_StdSortSameCallback(benchmark::State& state) {
    run(state, [](std::vector<Record>& v) {
        sort::Compare c = opaque_compare();
        std::sort(v.begin(), v.end(), [c](const Record& a, const Record& b) { return c(&a, &b, 0, 0) < 0; });
    });
}

void BM_StdStableSortSameCallback(benchmark::State& state) {
    run(state, [](std::vector<Record>& v) {
        sort::Compare c = opaque_compare();
        std::stable_sort(v.begin(), v.end(), [c](const Record& a, const Record& b) { return c(&a, &b, 0, 0) < 0; });
    });
}

// Argument: 0 random keys, 1 nearly sorted.
BENCHMARK(BM_Quicksort)->Arg(0)->Arg(1);
BENCHMARK(BM_MergeSort)->Arg(0)->Arg(1);
BENCHMARK(BM_StdSortSameCallback)->Arg(0)->Arg(1);
BENCHMARK(BM_StdStableSortSameCallback)->Arg(0)->Arg(1);

}  // namespace
}  // namespace zir
