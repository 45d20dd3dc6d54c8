// Hash tables over values: indexing a hash! block, finding in it, filling a
// map!; and the word tables: interning spellings, finding words in a context.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_support.hpp"
#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
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
        // The blocks and tables of past rounds are garbage: collected aside
        // from the timing. (Giving all frames back instead would pull the
        // runtime's own series from under the benchmarks that follow.)
        if (++rounds % 50 == 0) {
            state.PauseTiming();
            collector::do_cycle();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * CELLS);
}
BENCHMARK(BM_HashIndexBlock)->Arg(0)->Arg(100);

// Finding keys that are there, each from the head.
void BM_HashFind(benchmark::State& state) {
    bench::setup_runtime();
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
        // The blocks and tables of past rounds are garbage: collected aside
        // from the timing. (Giving all frames back instead would pull the
        // runtime's own series from under the benchmarks that follow.)
        if (++rounds % 50 == 0) {
            state.PauseTiming();
            collector::do_cycle();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * CELLS);
}
BENCHMARK(BM_MapIndexPairs);

constexpr i32 SPELLINGS = 100000;

// Distinct spellings as source code has them: a few common stems, a number.
const std::vector<std::string>& spellings() {
    static std::vector<std::string> all = [] {
        const char* stems[] = {"item-", "count", "make-", "on-change-", "x", "parse-rule-"};
        std::vector<std::string> v;
        for (i32 i = 0; i < SPELLINGS; i++) v.push_back(stems[i % 6] + std::to_string(i));
        return v;
    }();
    return all;
}

// A table of the symbol table's kind and starting size, of its own.
u32 fresh_symbol_table(collector::RootNode& block) {
    block.node = memory::alloc_cells(symbol::TABLE_SIZE);
    return hash_table::init(symbol::TABLE_SIZE, block.node, hash_table::WORDS, 1);
}

// Interning spellings never seen: the table grows from 4,000 symbols on, as
// the symbol table does when a load meets many new words.
void BM_InternNewSpellings(benchmark::State& state) {
    bench::setup_runtime();
    const auto& words = spellings();
    for (auto _ : state) {
        {
            collector::RootNode block(0);
            collector::RootNode table(fresh_symbol_table(block));
            for (const std::string& w : words)
                hash_table::intern_symbol(table, reinterpret_cast<const u8*>(w.data()), i32(w.size()), false);
        }
        state.PauseTiming();
        collector::do_cycle();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * SPELLINGS);
}
BENCHMARK(BM_InternNewSpellings)->Unit(benchmark::kMillisecond);

// Interning spellings already there (a word met again), from a table of
// 1,000 or 100,000 symbols.
void BM_InternKnownSpelling(benchmark::State& state) {
    bench::setup_runtime();
    const auto& words = spellings();
    i32 n = i32(state.range(0));
    collector::RootNode block(0);
    collector::RootNode table(fresh_symbol_table(block));
    for (i32 i = 0; i < n; i++)
        hash_table::intern_symbol(table, reinterpret_cast<const u8*>(words[size_t(i)].data()),
                                  i32(words[size_t(i)].size()), false);
    i32 i = 0;
    for (auto _ : state) {
        const std::string& w = words[size_t(i)];
        benchmark::DoNotOptimize(
            hash_table::intern_symbol(table, reinterpret_cast<const u8*>(w.data()), i32(w.size()), false));
        i = i + 7 < n ? i + 7 : i + 7 - n;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InternKnownSpelling)->Arg(1000)->Arg(100000);

// Finding the slot of a word in a context of 2,000 words (the size of the
// global context), by alias (as binding does) and by exact spelling.
void BM_FindWord(benchmark::State& state) {
    bench::setup_runtime();
    bool by_alias = state.range(0) != 0;
    constexpr i32 WORDS = 2000;
    collector::RootNode ctx(context::create(WORDS, false, false, 0, 0));
    std::vector<i32> symbols;
    for (i32 i = 0; i < WORDS; i++) {
        symbols.push_back(symbol::make("bench-word-" + std::to_string(i)));
        context::add_word(ctx, symbols.back());
    }
    i32 i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(context::find_word(ctx, symbols[size_t(i)], by_alias));
        i = i + 7 < WORDS ? i + 7 : i + 7 - WORDS;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindWord)->Arg(1)->Arg(0);

}  // namespace
}  // namespace zir
