// map! and hash! at the language's level: putting 100,000 keys into a map,
// selecting them back, and finding values in a hash!, with integer and
// string keys. bench/peers/maps.py and maps.lua do the same work.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.hpp"
#include "datatypes/block.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/map.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

constexpr i32 KEYS = 100000;

// A block of KEYS keys: integers, or strings "key<n>"; held by the caller.
void make_keys(Cell* out, bool strings) {
    block::make_at(out, KEYS);
    for (i32 i = 0; i < KEYS; i++) {
        Cell key;
        if (strings) {
            cell::init(&key, TYPE_UNSET);
            string::make_at(&key, 12, 1);
            std::string text = "key" + std::to_string(i);
            collector::RootCell held(key);
            string::append_literal(held.get(), text.c_str());
            key = held.value;
        } else {
            cell::init(&key, TYPE_INTEGER);
            key.w2 = u32(i * 7919);
        }
        *memory::alloc_tail(out) = key;
    }
}

inline Cell* key_at(const Cell* keys, i32 i) { return block::cell_at(keys->w2, i); }

void BM_MapPut(benchmark::State& state) {
    bench::setup_runtime();
    bool strings = state.range(0) != 0;
    collector::RootCell keys;
    make_keys(keys.get(), strings);
    Cell value;
    cell::init(&value, TYPE_INTEGER);
    for (auto _ : state) {
        Cell* mark = stack::top;
        Cell size;
        cell::init(&size, TYPE_INTEGER);
        Cell* m = map::make(nullptr, &size, TYPE_MAP);
        for (i32 i = 0; i < KEYS; i++) {
            Cell key = *key_at(keys.get(), i);
            value.w2 = u32(i);
            map::put(m, &key, &value, false);
        }
        benchmark::DoNotOptimize(m->w3);
        stack::top = mark;
    }
    state.SetItemsProcessed(state.iterations() * KEYS);
}
BENCHMARK(BM_MapPut)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_MapSelect(benchmark::State& state) {
    bench::setup_runtime();
    bool strings = state.range(0) != 0;
    collector::RootCell keys;
    make_keys(keys.get(), strings);
    Cell pairs_spec;
    cell::init(&pairs_spec, TYPE_UNSET);
    collector::RootCell pairs;
    block::make_at(pairs.get(), 2 * KEYS);
    for (i32 i = 0; i < KEYS; i++) {
        Cell key = *key_at(keys.get(), i), value;
        cell::init(&value, TYPE_INTEGER);
        value.w2 = u32(i);
        *memory::alloc_tail(pairs.get()) = key;
        *memory::alloc_tail(pairs.get()) = value;
    }
    collector::RootCell m(*map::make(nullptr, pairs.get(), TYPE_MAP));
    i32 i = 0;
    for (auto _ : state) {
        Cell* position = stack::push(m.get());
        Cell key = *key_at(keys.get(), i);
        benchmark::DoNotOptimize(map::select(position, &key, nullptr, false, false, false, false, nullptr, nullptr,
                                             false, false));
        stack::pop(1);
        i = i + 7 < KEYS ? i + 7 : i + 7 - KEYS;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MapSelect)->Arg(0)->Arg(1);

void BM_HashFindValue(benchmark::State& state) {
    bench::setup_runtime();
    bool strings = state.range(0) != 0;
    collector::RootCell keys;
    make_keys(keys.get(), strings);
    collector::RootCell h(*hash::make(nullptr, keys.get(), TYPE_HASH));
    i32 i = 0;
    for (auto _ : state) {
        Cell* position = stack::push(h.get());
        Cell key = *key_at(keys.get(), i);
        benchmark::DoNotOptimize(block::find(position, &key, nullptr, false, false, false, false, nullptr, nullptr,
                                             false, false, false, false));
        stack::pop(1);
        i = i + 7 < KEYS ? i + 7 : i + 7 - KEYS;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashFindValue)->Arg(0)->Arg(1);

}  // namespace
}  // namespace zir
