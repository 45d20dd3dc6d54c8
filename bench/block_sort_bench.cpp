// Blocks: sort through the per-type comparison, and the set operations.
#include <benchmark/benchmark.h>

#include "bench_support.hpp"
#include "datatypes/block.hpp"
#include "datatypes/block_sort.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

void setup() {
    bench::setup_runtime();
    collector::active = false;
}

// A block of n integers drawn from 0..range-1 on the value stack.
Cell* random_integers(i32 n, u32 range, u32 seed) {
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    block::make_at(b, n);
    for (i32 i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        Cell v;
        cell::init(&v, TYPE_INTEGER);
        v.w2 = (seed >> 8) % range;
        block::zs_append(b, &v);
    }
    return b;
}

// sort of 10,000 random integers (argument 1: /stable), re-shuffled by
// copying the input back before each round.
void BM_SortBlock(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    const i32 n = 10000;
    Cell* input = random_integers(n, 1000000, 7);
    Cell* work = random_integers(n, 1, 0);
    bool stable = state.range(0) != 0;
    for (auto _ : state) {
        std::memcpy(block::zs_abs_at(work, 0), block::zs_abs_at(input, 0), size_t(n) * 16);
        block::sort(work, false, nullptr, nullptr, nullptr, false, false, stable);
    }
    state.SetItemsProcessed(state.iterations() * n);
    stack::top = saved;
}
BENCHMARK(BM_SortBlock)->Arg(0)->Arg(1);

// A comparator function standing in for user code that allocates on every
// call, as most do (a block, a string, a formed value): the interpreter's
// hook is played by C++ that takes eight cells, then answers first < second.
void allocating_comparator(const Cell*) {
    memory::alloc_cells(8);
    Cell* args = stack::arguments;
    bool first = i32(args[0].w2) < i32(args[1].w2);
    cell::init(args, TYPE_LOGIC);
    args->w1 = first;
    stack::top = args + 1;
}

// sort/compare of 50,000 random integers with the allocating comparator,
// with the collector on as in a running program. The counters give the
// heap (memory::frame_total) before and after the sort, in MiB: the garbage
// the comparator makes must be collected during the sort.
void BM_SortWithAllocatingComparator(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    const i32 n = 50000;
    Cell* input = random_integers(n, 1000000, 11);
    Cell* work = random_integers(n, 1, 0);
    Cell* function = stack::push_slot();
    cell::init(function, TYPE_FUNCTION);
    void (*saved_hook)(const Cell*) = block::call_comparator;
    block::call_comparator = allocating_comparator;
    collector::active = true;
    double before = 0, after = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(block::zs_abs_at(work, 0), block::zs_abs_at(input, 0), size_t(n) * 16);
        collector::do_cycle();
        before = double(memory::frame_total());
        state.ResumeTiming();
        block::sort(work, false, nullptr, function, nullptr, false, false, state.range(0) != 0);
        after = double(memory::frame_total());
    }
    collector::active = false;
    block::call_comparator = saved_hook;
    state.counters["heap_before_MiB"] = before / (1024 * 1024);
    state.counters["heap_after_MiB"] = after / (1024 * 1024);
    state.SetItemsProcessed(state.iterations() * n);
    stack::top = saved;
}
BENCHMARK(BM_SortWithAllocatingComparator)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

// A set operation on two blocks of 10,000 integers with many duplicates.
// Every round makes a result and tables: the collector reclaims them.
void BM_SetOp(benchmark::State& state) {
    setup();
    collector::active = true;
    Cell* saved = stack::top;
    const i32 n = 10000;
    Cell* a = random_integers(n, 5000, 3);
    Cell* b = random_integers(n, 5000, 5);
    int op = int(state.range(0));
    Cell* args = stack::push_slot();
    stack::push_slot();
    Cell* old_arguments = stack::arguments;
    for (auto _ : state) {
        args[0] = *a;
        args[1] = *b;
        stack::arguments = args;
        block::do_set_op(false, nullptr, op);
        stack::arguments = old_arguments;
        benchmark::DoNotOptimize(args[0].w2);
    }
    collector::active = false;
    state.SetItemsProcessed(state.iterations() * n * (op == block::SET_UNIQUE || op == block::SET_INTERSECT ? 1 : 2));
    state.SetLabel(op == block::SET_UNIQUE ? "unique" : op == block::SET_UNION ? "union" : "intersect");
    stack::top = saved;
}
BENCHMARK(BM_SetOp)->Arg(block::SET_UNIQUE)->Arg(block::SET_UNION)->Arg(block::SET_INTERSECT);

}  // namespace
}  // namespace zir
