// Shared by the tests of the number datatypes: calling their actions on
// values built in C++, and reading the outcome.
#pragma once

#include <cmath>
#include <cstdlib>
#include <string>

#include "datatypes/block.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/string.hpp"
#include "datatypes/time.hpp"
#include "runtime/memory.hpp"
#include "evaluator/actions.hpp"
#include "values.hpp"

namespace zir::test {

// make or to of a datatype on a copy of the spec.
inline Cell* convert(u32 slot, u32 type, const Cell* spec) {
    Cell* c = stack::push(spec);
    return reinterpret_cast<action::Make>(actions::lookup(type, slot))(nullptr, c, type);
}
inline Cell* to_(u32 type, const Cell* spec) { return convert(ACT_TO, type, spec); }

// round of a copy of the value: `how` names the refinements ("even",
// "down", "half-down", "floor", "ceiling", "half-ceiling", or "" for none);
// a null scale is a round without /to.
inline Cell* round_(const Cell* value, const Cell* scale, const std::string& how = "") {
    Cell* v = stack::push(value);
    Cell* s = scale ? stack::push(scale) : nullptr;
    auto f = actions::get<action::Round>(v, ACT_ROUND);
    return f(v, s, how == "even", how == "down", how == "half-down", how == "floor", how == "ceiling",
             how == "half-ceiling");
}

inline Cell* unary_(u32 slot, const Cell* value) {
    Cell* v = stack::push(value);
    return actions::get<action::Unary>(v, slot)(v);
}
inline bool predicate_(u32 slot, const Cell* value) {
    return actions::get<action::Predicate>(value, slot)(value);
}
inline i32 compare_(const Cell* a, const Cell* b, i32 op) { return actions::compare_typed(a, b, op); }

// The number a cell holds, whatever its number datatype.
inline double number_of(const Cell* c) {
    u32 t = TYPE_OF(c);
    return t == TYPE_INTEGER || t == TYPE_CHAR ? double(integer::get(c)) : cell::get_float(c);
}

// Doubles equal as bit patterns (NaN equal to NaN), for expectations.
inline bool same_double(double a, double b) { return (a != a && b != b) || std::bit_cast<u64>(a) == std::bit_cast<u64>(b); }

// A loader standing in for the lexer while a test lives: the text is one
// number (percent! with "%", time! of minutes with ":", float! with ".",
// integer! of digits), "two" gives two values and anything else none.
inline void fake_load(const Cell* text, Cell* result) {
    std::string t = string::to_std(text);
    block::make_at(result, 2);
    Cell* c = memory::alloc_tail(result);
    cell::init(c, TYPE_NONE);
    double d = std::strtod(t.c_str(), nullptr);
    if (t == "two") cell::init(memory::alloc_tail(result), TYPE_NONE);
    else if (!t.empty() && t.back() == '%') percent::make_at(c, d / 100);
    else if (t.find(':') != std::string::npos) time::make_at(c, d * 60);
    else if (t.find('.') != std::string::npos) float_::make_at(c, d);
    else if (!t.empty() && t[0] >= '0' && t[0] <= '9') integer::make_at(c, i32(d));
}

struct FakeLoader {
    void (*saved)(const Cell*, Cell*) = block::load_text;
    FakeLoader() { block::load_text = fake_load; }
    ~FakeLoader() { block::load_text = saved; }
    FakeLoader(const FakeLoader&) = delete;
    FakeLoader& operator=(const FakeLoader&) = delete;
};

}  // namespace zir::test
