// Collection: marking and compacting live data, and allocation with the
// collector reclaiming garbage as it goes.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_support.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

// A block of `n` blocks of 8 integers: what one collection has to mark.
u32 make_live_data(i64 n) {
    collector::RootNode list(memory::alloc_cells(n));
    Cell outer;
    cell::init(&outer, TYPE_BLOCK);
    outer.w2 = list;
    for (i64 i = 0; i < n; i++) {
        u32 inner = memory::alloc_cells(8);
        Cell b;
        cell::init(&b, TYPE_BLOCK);
        b.w2 = inner;
        for (u32 k = 0; k < 8; k++) {
            Cell* c = memory::alloc_tail(&b);
            cell::init(c, TYPE_INTEGER);
            c->w2 = k;
        }
        *memory::alloc_tail(&outer) = b;
    }
    return list;
}

// 111,111 blocks of 8 cells and the list holding them: a heap of 1e6 cells.
constexpr i64 MILLION_CELL_BLOCKS = 111111;

void BM_CollectLiveBlocks(benchmark::State& state) {
    bench::setup_runtime();
    collector::active = false;
    collector::RootNode live(make_live_data(state.range(0)));
    for (auto _ : state) collector::do_cycle();
    state.SetItemsProcessed(state.iterations() * state.range(0) * 9);
    state.SetLabel("items: cells marked");
}
BENCHMARK(BM_CollectLiveBlocks)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(MILLION_CELL_BLOCKS)->Unit(benchmark::kMicrosecond);

// Allocating short-lived blocks while a modest live set stays: collections
// happen when frames fill, as in a running program.
void BM_AllocateWithCollection(benchmark::State& state) {
    bench::setup_runtime();
    collector::RootNode live(make_live_data(10000));
    collector::active = true;
    for (auto _ : state) benchmark::DoNotOptimize(memory::alloc_cells(4));
    collector::active = false;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AllocateWithCollection);

// --- A large live heap and a stream of garbage -------------------------------

constexpr i64 MIB = 1 << 20;
constexpr i64 LIVE_STRING_BYTES = 1000;          // one live string's data
constexpr i64 GARBAGE_PER_ITERATION = 64 * MIB;  // what the program throws away
constexpr i64 GARBAGE_BLOCK_CELLS = 4;           // the evaluator's commonest allocation

// About `mib` MiB of 1,000-byte strings held by one block, made with the
// collector off so that building it is not measured.
u32 make_live_strings(i64 mib) {
    i64 n = mib * MIB / (LIVE_STRING_BYTES + BUFFER_OVERHEAD);
    collector::RootNode list(memory::alloc_cells(n));
    Cell outer;
    cell::init(&outer, TYPE_BLOCK);
    outer.w2 = list;
    for (i64 i = 0; i < n; i++) {
        Cell s;
        cell::init(&s, TYPE_STRING);
        s.w2 = memory::alloc_bytes(LIVE_STRING_BYTES);
        *memory::alloc_tail(&outer) = s;
    }
    return list;
}

// 64 MiB of short-lived 4-cell blocks allocated while `range(0)` MiB stay
// live, under the growth rule (`range(1)` = 1) or with a collection whenever
// no frame fits (0: a budget of nothing). Counters: full collections per
// 64 MiB and OS bytes held at the end.
void BM_GarbageOverLargeLiveHeap(benchmark::State& state) {
    bench::setup_runtime();
    collector::active = false;
    const bool growth_rule = state.range(1) != 0;
    collector::growth_percent = growth_rule ? collector::GROWTH_PERCENT : 0;
    collector::growth_floor = growth_rule ? collector::GROWTH_FLOOR : 0;
    memory::free_all_frames();
    runtime::init_tables();
    collector::RootNode live(make_live_strings(state.range(0)));
    collector::do_cycle();
    collector::active = true;
    u32 cycles = collector::stats.cycles;
    const i64 per_block = GARBAGE_BLOCK_CELLS * 16 + BUFFER_OVERHEAD;
    for (auto _ : state) {
        for (i64 done = 0; done < GARBAGE_PER_ITERATION; done += per_block)
            benchmark::DoNotOptimize(memory::alloc_cells(GARBAGE_BLOCK_CELLS));
    }
    collector::active = false;
    state.counters["collections"] =
        benchmark::Counter(double(collector::stats.cycles - cycles), benchmark::Counter::kAvgIterations);
    state.counters["os_MiB"] = double(memory::record.os_total) / double(MIB);
    state.SetBytesProcessed(state.iterations() * GARBAGE_PER_ITERATION);
    live.node = 0;
    collector::growth_percent = collector::GROWTH_PERCENT;
    collector::growth_floor = collector::GROWTH_FLOOR;
    memory::free_all_frames();
    runtime::init_tables();
}
BENCHMARK(BM_GarbageOverLargeLiveHeap)
    ->ArgNames({"live_MiB", "growth"})
    ->Args({64, 0})
    ->Args({64, 1})
    ->Unit(benchmark::kMillisecond);

// The full-size case (512 MiB live) takes seconds and a gigabyte: run by hand
// with ZIR_BENCH_LARGE_HEAP=1.
[[maybe_unused]] const bool large_heap_registered = [] {
    if (std::getenv("ZIR_BENCH_LARGE_HEAP"))
        benchmark::RegisterBenchmark("BM_GarbageOverLargeLiveHeap", BM_GarbageOverLargeLiveHeap)
            ->ArgNames({"live_MiB", "growth"})
            ->Args({512, 0})
            ->Args({512, 1})
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    return true;
}();

}  // namespace
}  // namespace zir
