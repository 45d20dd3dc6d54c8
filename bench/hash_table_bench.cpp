// Hash tables over values: indexing a hash! block, finding in it, filling a map!.
#include <benchmark/benchmark.h>

#include "bench_support.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

constexpr i32 CELLS = 10000;

// A block of n integers: distinct ones, or `distinct` values repeated.
u32 integer_block(i32 n, i32 distinct) {
    u32 node = memory::alloc_cells(n);
    SeriesBuffer* s = node_buffer(node);
    Cell* c = series::head_cells(s);
    for (i32 i = 0; i < n; i++) {
        cell::init(&c[i], TYPE_INTEGER);
        c[i].w2 = u32(distinct ? i % distinct : i);
    }
    s->tail = s->offset + u32(n) * 16;
    return node;
}

// Indexing a whole block, as make hash! does; the table starts small and grows.
void BM_HashIndexBlock(benchmark::State& state) {
    bench::setup_runtime();
    i32 distinct = i32(state.range(0));
    i64 rounds = 0;
    for (auto _ : state) {
        collector::RootNode block(integer_block(CELLS, distinct));
        u32 table = hash_table::init(0, block, hash_table::HASH, 0);
        benchmark::DoNotOptimize(table);
        if (++rounds % 50 == 0) {
            state.PauseTiming();
            memory::free_all_frames();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * CELLS);
}
BENCHMARK(BM_HashIndexBlock)->Arg(0)->Arg(100);

// Finding keys that are there, each from the head.
void BM_HashFind(benchmark::State& state) {
    bench::setup_runtime();
    memory::free_all_frames();
    collector::RootNode block(integer_block(CELLS, 0));
    collector::RootNode table(hash_table::init(CELLS, block, hash_table::HASH, 0));
    Cell key;
    cell::init(&key, TYPE_INTEGER);
    i32 k = 0;
    for (auto _ : state) {
        key.w2 = u32(k);
        benchmark::DoNotOptimize(hash_table::find(table, &key, 0, 1, COMP_EQUAL, false, false));
        k = k + 7 < CELLS ? k + 7 : k + 7 - CELLS;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashFind);

// Indexing the keys of a key/value block, as make map! does.
void BM_MapIndexPairs(benchmark::State& state) {
    bench::setup_runtime();
    i64 rounds = 0;
    for (auto _ : state) {
        collector::RootNode block(integer_block(2 * CELLS, 0));
        u32 table = hash_table::init(0, block, hash_table::MAP, 0);
        benchmark::DoNotOptimize(table);
        if (++rounds % 50 == 0) {
            state.PauseTiming();
            memory::free_all_frames();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * CELLS);
}
BENCHMARK(BM_MapIndexPairs);

}  // namespace
}  // namespace zir
