// Fast operators: see fast_op.hpp.
#include "evaluator/fast_op.hpp"

#include "datatypes/block.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fault.hpp"

namespace zir {
namespace fast_op {

namespace {

// The action of each arithmetic operation code.
u32 math_slot(i32 op) {
    switch (op) {
        case MATH_ADD: return ACT_ADD;
        case MATH_SUBTRACT: return ACT_SUBTRACT;
        case MATH_MULTIPLY: return ACT_MULTIPLY;
        case MATH_OR: return ACT_OR_T;
        case MATH_AND: return ACT_AND_T;
        case MATH_XOR: return ACT_XOR_T;
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
}

inline void check_compare_op(i32 op) {
    if (op < COMP_EQUAL || op > COMP_GREATER_EQUAL) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
}

// The slow paths: a native frame named by the operator, the operands pushed,
// the action's entry; the result is left pushed where the frame began.
void slow_math(i32 op, const Cell* name, Cell left, Cell right) {
    stack::mark_named(name, stack::FRAME_NATIVE);
    stack::push(&left);
    stack::push(&right);
    actions::call_star(math_slot(op));
    stack::unwind_last();
}

void slow_compare(i32 op, const Cell* name, Cell left, Cell right) {
    stack::mark_named(name, stack::FRAME_NATIVE);
    stack::push(&left);
    stack::push(&right);
    actions::compare_op(op);
    stack::unwind_last();
}

inline Cell integer_cell(i32 v) {
    Cell c;
    integer::make_at(&c, v);
    return c;
}

// The comparison's answer, nothing left on the stack.
bool answer(i32 op, const Cell* name, const Cell* left, const Cell* right) {
    check_compare_op(op);
    if (TYPE_OF(left) == TYPE_INTEGER && TYPE_OF(right) == TYPE_INTEGER)
        return compare_integers(integer::get(left), integer::get(right), op);
    stack::KeepTop restore;
    slow_compare(op, name, *left, *right);
    return stack::top[-1].w1 != 0;
}

}  // namespace

void math(i32 op, const Cell* name, const Cell* left, const Cell* right) {
    math_slot(op);
    const Cell l = *left, r = *right;
    Cell* out = stack::push(&l);
    if (math_in_place(out, &r, op)) return;
    stack::top = out;
    slow_math(op, name, l, r);
}

void math_int(i32 op, const Cell* name, const Cell* left, i32 right) {
    const Cell r = integer_cell(right);
    math(op, name, left, &r);
}

void math_top(i32 op, const Cell* name, const Cell* right) {
    math_slot(op);
    Cell* t = stack::top - 1;
    if (math_in_place(t, right, op)) return;
    const Cell l = *t, r = *right;
    stack::top = t;
    slow_math(op, name, l, r);
}

void math_top_int(i32 op, const Cell* name, i32 right) {
    const Cell r = integer_cell(right);
    math_top(op, name, &r);
}

void compare(i32 op, const Cell* name, const Cell* left, const Cell* right) {
    check_compare_op(op);
    const Cell l = *left, r = *right;
    if (TYPE_OF(&l) == TYPE_INTEGER && TYPE_OF(&r) == TYPE_INTEGER) {
        stack::push_scalar(TYPE_LOGIC, compare_integers(integer::get(&l), integer::get(&r), op));
        return;
    }
    slow_compare(op, name, l, r);
}

void compare_int(i32 op, const Cell* name, const Cell* left, i32 right) {
    const Cell r = integer_cell(right);
    compare(op, name, left, &r);
}

void compare_top(i32 op, const Cell* name, const Cell* right) {
    Cell* t = stack::top - 1;
    const Cell l = *t;
    stack::top = t;
    compare(op, name, &l, right);
}

void compare_top_int(i32 op, const Cell* name, i32 right) {
    const Cell r = integer_cell(right);
    compare_top(op, name, &r);
}

bool compare_test(i32 op, const Cell* name, const Cell* left, const Cell* right, bool expected) {
    return answer(op, name, left, right) != expected;
}

bool compare_int_test(i32 op, const Cell* name, const Cell* left, i32 right, bool expected) {
    const Cell r = integer_cell(right);
    return answer(op, name, left, &r) != expected;
}

bool compare_flag(i32 op, const Cell* name, const Cell* left, const Cell* right) {
    bool r = answer(op, name, left, right);
    stack::box_scalar(TYPE_LOGIC, r);
    return r;
}

bool compare_int_flag(i32 op, const Cell* name, const Cell* left, i32 right) {
    const Cell r = integer_cell(right);
    return compare_flag(op, name, left, &r);
}

void path_int(const Cell* value, i32 index, const Cell* name) {
    const Cell v = *value;
    if (TYPE_OF(&v) == TYPE_BLOCK) {
        i64 k = i64(v.w1) + index - 1;
        bool inside = index >= 1 && k < block::cell_count(node_buffer(v.w2));
        stack::push(inside ? block::cell_at(v.w2, k) : &none::value);
        return;
    }
    stack::mark_named(name, stack::FRAME_NATIVE);
    stack::push(&v);
    const Cell n = integer_cell(index);
    stack::push(&n);
    const i32 no_set_value[1] = {0};
    actions::call_star(ACT_EVAL_PATH, no_set_value);
    stack::unwind_last();
}

void series_op(const Cell* series, i32 op, const Cell* name) {
    static const u32 slots[] = {0, ACT_LENGTH_Q, ACT_INDEX_Q, ACT_HEAD_Q, ACT_TAIL_Q,
                                ACT_NEXT, ACT_BACK, ACT_HEAD, ACT_TAIL};
    if (op < SERIES_LENGTH_Q || op > SERIES_TAIL) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    const Cell s = *series;
    if (TYPE_OF(&s) != TYPE_BLOCK) {
        stack::mark_named(name, stack::FRAME_NATIVE);
        stack::push(&s);
        actions::call_star(slots[op]);
        stack::unwind_last();
        return;
    }
    i32 h = i32(s.w1);
    i32 length = block::cell_count(node_buffer(s.w2)) - h;
    Cell* out = stack::push(&s);
    switch (op) {
        case SERIES_LENGTH_Q: integer::make_at(out, length > 0 ? length : 0); break;
        case SERIES_INDEX_Q: integer::make_at(out, h + 1); break;
        case SERIES_HEAD_Q: cell::init(out, TYPE_LOGIC), out->w1 = h == 0; break;
        case SERIES_TAIL_Q: cell::init(out, TYPE_LOGIC), out->w1 = length < 1; break;
        case SERIES_NEXT: if (length > 0) out->w1 = u32(h + 1); break;
        case SERIES_BACK: out->w1 = u32(h > 0 ? h - 1 : 0); break;
        case SERIES_HEAD: out->w1 = 0; break;
        case SERIES_TAIL: out->w1 = u32(h + length); break;
        default: break;
    }
}

}  // namespace fast_op
}  // namespace zir
