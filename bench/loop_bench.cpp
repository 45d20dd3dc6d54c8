// The loop natives: what one pass of loop, repeat, while and foreach costs
// on top of its body. The body is one statement, `r: a + b`, whose own cost
// BM_LoopStatementAlone gives (the same statement repeated in one block);
// while's condition and body, `pick d 1` and `d: next d`, cost
// BM_WhileConditionAlone. Each figure is the time per pass.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/native.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

constexpr int PASSES = 1000;

// The code of a text, pushed.
Cell* code_of(const std::string& text) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    lexer::transcode(c, reinterpret_cast<const u8*>(text.data()), i64(text.size()), lexer::Options{}, nullptr,
                     nullptr, nullptr, nullptr);
    return c;
}

void loop_bench(benchmark::State& state, const std::string& text) {
    bench::setup_runtime();
    collector::active = false;
    Cell* base = stack::top;
    // The infix operators start-up does not make yet.
    for (auto [op, source] : {std::pair{"+", "add"}}) {
        Cell w = *word::load(source);
        Cell s = *context::get(&w), o;
        op::make(&o, &s, TYPE_OP);
        Cell ow = *word::load(op);
        context::set(&ow, &o);
    }
    Cell* setup = code_of("a: 3 b: 4 data: [] loop " + std::to_string(PASSES) + " [append data 1]");
    interpreter::eval_block(setup, false);
    stack::top = base;
    Cell* code = code_of(text);
    Cell* result = stack::top;
    for (auto _ : state) {
        interpreter::eval_block(code, false);
        stack::top = result;
    }
    stack::top = base;
    collector::active = true;
    state.SetItemsProcessed(state.iterations() * PASSES);
}

std::string passes() { return std::to_string(PASSES); }

void BM_LoopStatementAlone(benchmark::State& s) {
    std::string text;
    for (int i = 0; i < PASSES; i++) text += "r: a + b ";
    loop_bench(s, text);
}
void BM_Loop(benchmark::State& s) { loop_bench(s, "loop " + passes() + " [r: a + b]"); }
void BM_Repeat(benchmark::State& s) { loop_bench(s, "repeat i " + passes() + " [r: a + b]"); }
// The condition walks the data block: it ends at its tail.
void BM_While(benchmark::State& s) { loop_bench(s, "d: data while [pick d 1] [d: next d]"); }
void BM_WhileConditionAlone(benchmark::State& s) {
    std::string text = "d: data ";
    for (int i = 0; i < PASSES; i++) text += "pick d 1 d: next d ";
    loop_bench(s, text);
}
void BM_Foreach(benchmark::State& s) { loop_bench(s, "foreach x data [r: a + b]"); }

BENCHMARK(BM_LoopStatementAlone);
BENCHMARK(BM_Loop);
BENCHMARK(BM_Repeat);
BENCHMARK(BM_While);
BENCHMARK(BM_WhileConditionAlone);
BENCHMARK(BM_Foreach);

}  // namespace
}  // namespace zir
