// The interpreter: blocks of one statement repeated, evaluated from C++ —
// integer and float arithmetic through infix operators, calls of a small
// function! (leaving at its end or by return), words, object fields and
// block elements reached by paths, and the same arithmetic written as prefix
// calls of the actions. Each figure is the time per statement, without the
// program's start-up: the figures to count instructions against. The
// comparison with Python and Lua is made on whole programs
// (bench/programs: fib, loops, call_plain, floats, paths ...).
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/float.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

// Statements per block: the cost of entering the block is spread over them.
constexpr int REPEAT = 100;

void set_global(const char* spelling, const Cell* value) {
    Cell v = *value;
    Cell word = *word::load(spelling);
    context::set(&word, &v);
}

Cell global(const char* spelling) {
    Cell word = *word::load(spelling);
    return *context::get(&word);
}

// One value of the statements' text: a number, a word, a set-word, a path
// of words and integers.
void append_token(Cell* block, const std::string& token) {
    Cell* v = stack::push_slot();
    cell::init(v, TYPE_UNSET);
    bool number = token.find_first_not_of("-.0123456789") == std::string::npos && token != "-";
    if (number && token.find('.') != std::string::npos) {
        float_::make_at(v, std::stod(token));
    } else if (number) {
        integer::make_at(v, std::stoi(token));
    } else if (token.find('/') != std::string::npos && token.size() > 1) {
        block::make_at(v, 2);
        std::stringstream parts(token);
        std::string part;
        while (std::getline(parts, part, '/')) append_token(v, part);
        cell::set_type(v, TYPE_PATH);
    } else if (token.size() > 1 && token.back() == ':') {
        word::make_at(symbol::make(token.substr(0, token.size() - 1)), v);
        cell::set_type(v, TYPE_SET_WORD);
    } else {
        word::make_at(symbol::make(token), v);
    }
    block::zs_append(block, v);
    stack::pop(1);
}

// A block of the statement `REPEAT` times, pushed.
Cell* statements(const std::string& text) {
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    block::make_at(b, 16);
    for (int i = 0; i < REPEAT; i++) {
        std::stringstream tokens(text);
        std::string token;
        while (tokens >> token) append_token(b, token);
    }
    return b;
}

void setup() {
    static bool done = false;
    bench::setup_runtime();
    collector::active = false;
    if (done) return;
    done = true;
    for (auto [op, source] : {std::pair{"+", "add"}, {"-", "subtract"}, {"*", "multiply"}}) {
        Cell s = global(source), o;
        op::make(&o, &s, TYPE_OP);
        set_global(op, &o);
    }
    Cell n;
    for (auto [w, v] : {std::pair{"a", 3}, {"b", 4}, {"c", 5}, {"d", 6}}) {
        integer::make_at(&n, v);
        set_global(w, &n);
    }
    for (auto [w, v] : {std::pair{"x", 1.5}, {"y", 2.25}, {"z", 0.5}, {"w", 4.0}}) {
        float_::make_at(&n, v);
        set_global(w, &n);
    }
    Cell* base = stack::top;
    // f: func [p q] [p + q]
    Cell* spec = stack::push_slot();
    cell::init(spec, TYPE_UNSET);
    block::make_at(spec, 2);
    append_token(spec, "p");
    append_token(spec, "q");
    Cell* body = stack::push_slot();
    cell::init(body, TYPE_UNSET);
    block::make_at(body, 3);
    for (const char* t : {"p", "+", "q"}) append_token(body, t);
    function::push(spec, body, 0, 0, 0, 0);
    set_global("f", stack::top - 1);
    // g: func [p q] [return p + q], the same leaving by return.
    spec = stack::push_slot();
    cell::init(spec, TYPE_UNSET);
    block::make_at(spec, 2);
    append_token(spec, "p");
    append_token(spec, "q");
    body = stack::push_slot();
    cell::init(body, TYPE_UNSET);
    block::make_at(body, 4);
    for (const char* t : {"return", "p", "+", "q"}) append_token(body, t);
    function::push(spec, body, 0, 0, 0, 0);
    set_global("g", stack::top - 1);
    // o: an object with the field a; blk: a block of three integers.
    Cell* obj = stack::push_slot();
    cell::init(obj, TYPE_UNSET);
    object::make_at(obj, 2);
    integer::make_at(&n, 7);
    context::put(obj->w1, symbol::make("a"), &n);
    set_global("o", obj);
    Cell* blk = stack::push_slot();
    cell::init(blk, TYPE_UNSET);
    block::make_at(blk, 3);
    for (const char* t : {"10", "20", "30"}) append_token(blk, t);
    set_global("blk", blk);
    stack::top = base;
}

void eval_bench(benchmark::State& state, const char* text) {
    setup();
    Cell* base = stack::top;
    Cell* code = statements(text);
    Cell* result = stack::top;
    for (auto _ : state) {
        interpreter::eval_block(code, false);
        stack::top = result;
    }
    stack::top = base;
    state.SetItemsProcessed(state.iterations() * REPEAT);
}

void BM_IntegerArithmetic(benchmark::State& s) { eval_bench(s, "r: a + b * c - d"); }
void BM_FloatArithmetic(benchmark::State& s) { eval_bench(s, "r: x * y + z - w"); }
void BM_IntegerArithmeticPrefix(benchmark::State& s) { eval_bench(s, "r: subtract multiply add a b c d"); }
void BM_FunctionCall(benchmark::State& s) { eval_bench(s, "r: f a b"); }
void BM_FunctionReturn(benchmark::State& s) {
    setup();
    Cell ret = global("return");
    if (TYPE_OF(&ret) != TYPE_NATIVE) {
        s.SkipWithError("the return native is not registered");
        return;
    }
    eval_bench(s, "r: g a b");
}
void BM_WordAccess(benchmark::State& s) { eval_bench(s, "r: a"); }
void BM_ObjectFieldPath(benchmark::State& s) { eval_bench(s, "r: o/a"); }
void BM_BlockIndexPath(benchmark::State& s) { eval_bench(s, "r: blk/2"); }
void BM_Literal(benchmark::State& s) { eval_bench(s, "1"); }

BENCHMARK(BM_IntegerArithmetic);
BENCHMARK(BM_FloatArithmetic);
BENCHMARK(BM_IntegerArithmeticPrefix);
BENCHMARK(BM_FunctionCall);
BENCHMARK(BM_FunctionReturn);
BENCHMARK(BM_WordAccess);
BENCHMARK(BM_ObjectFieldPath);
BENCHMARK(BM_BlockIndexPath);
BENCHMARK(BM_Literal);

}  // namespace
}  // namespace zir
