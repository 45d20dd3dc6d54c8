// logic!: see logic.hpp.
#include "datatypes/logic.hpp"

#include <cmath>

#include "datatypes/datatype.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "services/random.hpp"

namespace zir {
namespace logic {

const Cell true_value = {TYPE_LOGIC, 1, 0, 0};
const Cell false_value = {TYPE_LOGIC, 0, 0, 0};

Cell* box(bool v) { return stack::box_scalar(TYPE_LOGIC, v); }
Cell* push(bool v) { return stack::push_scalar(TYPE_LOGIC, v); }
Cell* make_in(Cell* block, bool v) { return memory::make_scalar_in(block, TYPE_LOGIC, v); }

namespace {

inline bool falsy(const Cell* c) { return falsy_q(c); }

}  // namespace

void fire_no_value(const Cell* word) { fire(ERR_SCRIPT, "no-value", word); }

bool true_q() {
    if (TYPE_OF(stack::arguments) == TYPE_UNSET) fire(ERR_SCRIPT, "no-return");
    return !falsy(stack::arguments);
}

bool false_q() { return falsy(stack::arguments); }

bool top_true_q() { return !falsy(stack::top == stack::arguments ? stack::top : stack::top_cell()); }

namespace {

Cell* to(Cell* proto, Cell* spec, u32) {
    if (TYPE_OF(spec) == TYPE_LOGIC) return spec;
    (void)proto;
    return const_cast<Cell*>(TYPE_OF(spec) == TYPE_NONE ? &false_value : &true_value);
}

Cell* make(Cell* proto, Cell* spec, u32 type) {
    switch (TYPE_OF(spec)) {
        case TYPE_INTEGER:
            return const_cast<Cell*>(spec->w2 != 0 ? &true_value : &false_value);
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            return const_cast<Cell*>(cell::get_float(spec) != 0.0 ? &true_value : &false_value);
        default:
            return to(proto, spec, type);
    }
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    string::append_literal(buffer, value->w1 ? "true" : "false");
    return part - (value->w1 ? 4 : 5);
}

i32 mold(const Cell* value, Cell* buffer, bool, bool all, bool, const Cell* arg, i32 part, i32) {
    if (!all) return form(value, buffer, arg, part);
    string::append_literal(buffer, value->w1 ? "#(true)" : "#(false)");
    return part - (value->w1 ? 7 : 8);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_LOGIC) return NOT_COMPARABLE;
    // True sorts after false.
    return equality_op_q(op) || sort_op_q(op) ? i32(value->w1) - i32(other->w1) : NOT_COMPARABLE;
}

Cell* complement(Cell* value) {
    value->w1 ^= 1;
    return value;
}

// and~, or~, xor~: the result slot and the cell after it.
void bitwise(int op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (TYPE_OF(right) != TYPE_LOGIC) {
        Cell caller, type, argument;
        stack::caller_name(&caller);
        datatype::make_at(&type, TYPE_OF(right));
        error::call_argument_of(&caller, 1, &argument);
        fire(ERR_SCRIPT, "expect-arg", &caller, &type, &argument);
    }
    switch (op) {
        case 6: left->w1 &= right->w1; break;
        case 5: left->w1 |= right->w1; break;
        default: left->w1 ^= right->w1; break;
    }
}
void and_() { bitwise(6); }
void or_() { bitwise(5); }
void xor_() { bitwise(7); }

Cell* random_(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(i32(value->w1));
        cell::init(value, TYPE_UNSET);
        return value;
    }
    i32 draw = secure ? random::secure_bytes() : random::genrand();
    value->w1 = draw > 0x3FFFFFFF ? 1 : 0;
    return value;
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_LOGIC, 0, "logic!");
    r.on<ACT_MAKE>(make).on<ACT_RANDOM>(random_).on<ACT_TO>(to).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_COMPARE>(compare).on<ACT_AND_T>(and_).on<ACT_COMPLEMENT>(complement).on<ACT_OR_T>(or_);
    r.on<ACT_XOR_T>(xor_);
    datatype::register_(r);
}

}  // namespace logic
}  // namespace zir
