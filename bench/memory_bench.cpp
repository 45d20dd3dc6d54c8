// Allocation of small series and node churn.
#include <benchmark/benchmark.h>

#include "bench_support.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

// A small block of cells, the commonest allocation of the evaluator. Frames
// are given back every 100,000 allocations so memory stays bounded.
void BM_AllocSmallSeries(benchmark::State& state) {
    bench::setup_runtime();
    memory::free_all_frames();
    i64 n = 0;
    for (auto _ : state) {
        u32 node = memory::alloc_cells(4);
        benchmark::DoNotOptimize(node);
        if (++n % 100000 == 0) {
            state.PauseTiming();
            memory::free_all_frames();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AllocSmallSeries);

// Taking and giving back nodes, as a collection followed by allocation does.
void BM_NodeChurn(benchmark::State& state) {
    bench::setup_runtime();
    memory::free_all_frames();
    constexpr int BATCH = 1000;
    u32 ids[BATCH];
    for (auto _ : state) {
        for (int i = 0; i < BATCH; i++) ids[i] = memory::alloc_node();
        for (int i = 0; i < BATCH; i++) memory::free_node(ids[i]);
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
}
BENCHMARK(BM_NodeChurn);

// Appending cells one by one to a block that doubles when full.
void BM_AppendCells(benchmark::State& state) {
    bench::setup_runtime();
    memory::free_all_frames();
    i64 rounds = 0;
    for (auto _ : state) {
        u32 node = memory::alloc_cells(1);
        Cell block;
        cell::init(&block, TYPE_BLOCK);
        block.w2 = node;
        for (int i = 0; i < 100; i++) memory::alloc_tail(&block)->w2 = u32(i);
        if (++rounds % 1000 == 0) {
            state.PauseTiming();
            memory::free_all_frames();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_AppendCells);

}  // namespace
}  // namespace zir
