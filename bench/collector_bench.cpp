// Collection: marking and compacting live data, and allocation with the
// collector reclaiming garbage as it goes.
#include <benchmark/benchmark.h>

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

void BM_CollectLiveBlocks(benchmark::State& state) {
    bench::setup_runtime();
    collector::active = false;
    collector::RootNode live(make_live_data(state.range(0)));
    for (auto _ : state) collector::do_cycle();
    state.SetItemsProcessed(state.iterations() * state.range(0) * 9);
    state.SetLabel("items: cells marked");
}
BENCHMARK(BM_CollectLiveBlocks)->Arg(1000)->Arg(10000)->Arg(100000);

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

}  // namespace
}  // namespace zir
