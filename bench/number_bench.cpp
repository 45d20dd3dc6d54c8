// Numbers: add, multiply and compare through the action entries (integer,
// float, mixed), the text of integers and floats, and reading them from text.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/dtoa.hpp"

namespace zir {
namespace {

void setup() {
    bench::setup_runtime();
    collector::active = false;
}

Cell number(double d, bool integer) {
    Cell c;
    if (integer) {
        cell::init(&c, TYPE_INTEGER);
        c.w2 = u32(i32(d));
    } else {
        float_::make_at(&c, d);
    }
    return c;
}

// One math action on the stack, its left operand written afresh each time,
// as the evaluator writes the arguments of each call.
void math_bench(benchmark::State& state, u32 slot, bool left_integer, bool right_integer) {
    setup();
    Cell* saved = stack::top;
    Cell* args = stack::push_slot();
    stack::push_slot();
    Cell* saved_arguments = stack::arguments;
    stack::arguments = args;
    Cell left = number(12345, left_integer), right = number(678, right_integer);
    for (auto _ : state) {
        args[0] = left;
        args[1] = right;
        actions::get<action::Direct>(args, slot)();
        benchmark::DoNotOptimize(args->w2);
    }
    stack::arguments = saved_arguments;
    stack::top = saved;
    state.SetItemsProcessed(state.iterations());
}

void compare_bench(benchmark::State& state, bool left_integer, bool right_integer) {
    setup();
    Cell a = number(12345, left_integer), b = number(678, right_integer);
    for (auto _ : state) {
        bool r = actions::compare(&a, &b, COMP_LESSER);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(math_bench, add_integer, ACT_ADD, true, true);
BENCHMARK_CAPTURE(math_bench, add_float, ACT_ADD, false, false);
BENCHMARK_CAPTURE(math_bench, add_integer_float, ACT_ADD, true, false);
BENCHMARK_CAPTURE(math_bench, multiply_integer, ACT_MULTIPLY, true, true);
BENCHMARK_CAPTURE(math_bench, multiply_float, ACT_MULTIPLY, false, false);
BENCHMARK_CAPTURE(math_bench, multiply_float_integer, ACT_MULTIPLY, false, true);
BENCHMARK_CAPTURE(compare_bench, lesser_integer, true, true);
BENCHMARK_CAPTURE(compare_bench, lesser_float, false, false);
BENCHMARK_CAPTURE(compare_bench, lesser_integer_float, true, false);

// --- Text ---------------------------------------------------------------------------

constexpr int VALUES = 4096;

// Random integers of every length and doubles with short and long digits.
std::vector<Cell> values(bool integer) {
    std::mt19937_64 gen(3);
    std::vector<Cell> v;
    for (int i = 0; i < VALUES; i++) {
        if (integer) {
            v.push_back(number(double(i32(u32(gen()) >> (gen() % 32))), true));
        } else {
            double d = i % 2 ? double(i64(gen() % 2000000) - 1000000) / 1000.0
                             : std::bit_cast<double>((gen() & 0x3FFFFFFFFFFFFFFFull) | 0x3000000000000000ull);
            v.push_back(number(d, false));
        }
    }
    return v;
}

void text_bench(benchmark::State& state, bool integer, bool molded) {
    setup();
    Cell* saved = stack::top;
    std::vector<Cell> v = values(integer);
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 64, 1);
    size_t i = 0;
    for (auto _ : state) {
        const Cell& c = v[i++ % VALUES];
        if (molded) actions::mold(&c, buffer, false, false, false, nullptr, PART_UNLIMITED, 0);
        else actions::form(&c, buffer, nullptr, PART_UNLIMITED);
        string::truncate_from(buffer, 0);
    }
    stack::top = saved;
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(text_bench, form_integer, true, false);
BENCHMARK_CAPTURE(text_bench, form_float, false, false);
BENCHMARK_CAPTURE(text_bench, mold_float, false, true);

// to integer! and to float! of strings holding the texts of the values above.
void reading_bench(benchmark::State& state, bool integer) {
    setup();
    Cell* saved = stack::top;
    std::vector<Cell> v = values(integer);
    std::vector<Cell> texts;
    for (const Cell& c : v) {
        Cell* s = stack::push_slot();
        cell::init(s, TYPE_UNSET);
        string::make_at(s, 32, 1);
        const char* t = integer ? integer::form_signed(integer::get(&c)) : dtoa::form_float(float_::get(&c), 0, true);
        string::append_bytes(s, reinterpret_cast<const u8*>(t), i64(std::strlen(t)));
        texts.push_back(*s);
    }
    u32 type = integer ? TYPE_INTEGER : TYPE_FLOAT;
    auto to = reinterpret_cast<action::Make>(actions::lookup(type, ACT_TO));
    Cell* spec = stack::push_slot();
    size_t i = 0;
    for (auto _ : state) {
        *spec = texts[i++ % VALUES];
        Cell* r = to(nullptr, spec, type);
        benchmark::DoNotOptimize(r->w2);
    }
    stack::top = saved;
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(reading_bench, to_integer, true);
BENCHMARK_CAPTURE(reading_bench, to_float, false);

}  // namespace
}  // namespace zir
