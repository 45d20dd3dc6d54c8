// Blocks: appending and inserting cells, searching, molding and deep copying.
#include <benchmark/benchmark.h>

#include "bench_support.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

void setup() {
    bench::setup_runtime();
    collector::active = false;
}

Cell integer_cell(i32 v) {
    Cell c;
    cell::init(&c, TYPE_INTEGER);
    c.w2 = u32(v);
    return c;
}

// A block of n integers 0..n-1 on the value stack.
Cell* integers(i32 n) {
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    block::make_at(b, n);
    for (i32 i = 0; i < n; i++) {
        Cell v = integer_cell(i);
        block::zs_append(b, &v);
    }
    return b;
}

void BM_AppendCell(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    Cell* b = integers(0);
    Cell v = integer_cell(1);
    i64 n = 0;
    for (auto _ : state) {
        block::zs_append(b, &v);
        if (++n == 100000) {
            block::zs_clear(b);
            n = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
    stack::top = saved;
}
BENCHMARK(BM_AppendCell);

// insert at the head of a block of 1,000 cells, then remove it again.
void BM_InsertAtHead(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    Cell* b = integers(1000);
    Cell* value = stack::push_slot();
    *value = integer_cell(7);
    Cell* position = stack::push_slot();
    for (auto _ : state) {
        *position = *b;
        block::insert(position, value, nullptr, false, nullptr, false);
        *position = *b;
        series::remove(position, nullptr, nullptr);
    }
    state.SetItemsProcessed(state.iterations());
    stack::top = saved;
}
BENCHMARK(BM_InsertAtHead);

// find of the last value of a block of n integers: a full scan.
void BM_FindScan(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    i32 n = i32(state.range(0));
    Cell* b = integers(n);
    Cell* value = stack::push_slot();
    *value = integer_cell(n - 1);
    Cell* position = stack::push_slot();
    for (auto _ : state) {
        *position = *b;
        benchmark::DoNotOptimize(block::find(position, value, nullptr, false, false, false, false, nullptr, nullptr,
                                             false, false, false, false));
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetLabel("items: cells compared");
    stack::top = saved;
}
BENCHMARK(BM_FindScan)->Arg(1000)->Arg(100000);

// mold of 100 blocks of 10 integers.
void BM_MoldNested(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    Cell* outer = integers(0);
    for (i32 i = 0; i < 100; i++) block::zs_append(outer, integers(10));
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    collector::active = true;   // the texts of earlier rounds are garbage
    for (auto _ : state) {
        string::make_at(buffer, 4096, 1);
        block::mold(outer, buffer, false, false, false, nullptr, PART_UNLIMITED, 0);
    }
    collector::active = false;
    state.SetItemsProcessed(state.iterations() * 1100);
    state.SetLabel("items: cells molded");
    stack::top = saved;
}
BENCHMARK(BM_MoldNested);

// copy/deep of 100 blocks of 10 integers.
void BM_CopyDeep(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    Cell* outer = integers(0);
    for (i32 i = 0; i < 100; i++) block::zs_append(outer, integers(10));
    Cell* result = stack::push_slot();
    cell::init(result, TYPE_NONE);
    collector::active = true;   // the copies of earlier rounds are garbage
    for (auto _ : state) block::copy(outer, result, nullptr, true, nullptr);
    collector::active = false;
    state.SetItemsProcessed(state.iterations() * 101);
    state.SetLabel("items: blocks copied");
    stack::top = saved;
}
BENCHMARK(BM_CopyDeep);

}  // namespace
}  // namespace zir
