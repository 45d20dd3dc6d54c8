// Raising errors: `fire` builds an error! value and throws it; caught one
// frame up. Also the bare throw of the same exception, for what building adds.
#include <benchmark/benchmark.h>

#include "bench_support.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace {

[[gnu::noinline]] void raise_built(const Cell* arg) { fire(ERR_SCRIPT, "invalid-arg", arg); }

[[gnu::noinline]] void raise_bare(const Cell* arg) {
    LanguageError e;
    e.category = ERR_SCRIPT;
    e.id = "invalid-arg";
    e.args[0] = *arg;
    e.argc = 1;
    throw e;
}

template <void (*Raise)(const Cell*)>
void BM_Raise(benchmark::State& state) {
    bench::setup_runtime();
    collector::active = true;
    Cell arg;
    cell::init(&arg, TYPE_INTEGER);
    arg.w2 = 7;
    for (auto _ : state) {
        try {
            Raise(&arg);
        } catch (const LanguageError& e) {
            benchmark::DoNotOptimize(e.error.w1);
        }
    }
    collector::active = false;
}

BENCHMARK(BM_Raise<raise_built>)->Name("BM_FireBuildingTheErrorValue");
BENCHMARK(BM_Raise<raise_bare>)->Name("BM_ThrowWithoutAValue");

}  // namespace
}  // namespace zir
