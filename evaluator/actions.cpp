// Action dispatch and the shared entry points: see actions.hpp.
#include "evaluator/actions.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace actions {

MathCore math_core[TYPE_TOTAL] = {};
action::Generic table[ACTION_SLOTS] = {};

action::Generic lookup(u32 type, u32 slot) { return datatype::table[type][slot - 1]; }

action::Generic get_action_of(const Cell* value, u32 slot) {
    action::Generic f = datatype::table[TYPE_OF(value)][slot - 1];
    if (ZIR_LIKELY(f != nullptr)) return f;
    Cell caller, type, argument;
    stack::caller_name(&caller);
    datatype::make_at(&type, TYPE_OF(value));
    error::call_argument_of(&caller, 0, &argument);
    fire(ERR_SCRIPT, "expect-arg", &caller, &type, &argument);
}

i32 compare_typed(const Cell* value, const Cell* other, i32 op) {
    u32 t = TYPE_OF(value);
    auto order = [](u32 a, u32 b) { return a < b ? -1 : a > b ? 1 : 0; };
    switch (t) {
        case TYPE_LOGIC:
            if (TYPE_OF(other) != TYPE_LOGIC) break;
            return i32(value->w1) - i32(other->w1);
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_OP:
            if (TYPE_OF(other) != t) return NOT_COMPARABLE;
            return order(value->w1, other->w1);
        default:
            break;
    }
    return get<action::Compare>(value, ACT_COMPARE)(value, other, op);
}

bool compare(const Cell* value, const Cell* other, i32 op) {
    if ((op > COMP_GREATER_EQUAL && op < COMP_SAME) || op < 0 || op > COMP_FIND) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    // The comparison may allocate and move the buffers the operands lie in:
    // the error reports the values as they were given.
    const Cell a = *value, b = *other;
    i32 r = compare_typed(&a, &b, op);
    if (r == NOT_COMPARABLE) {
        switch (op) {
            case COMP_NOT_EQUAL: return true;
            case COMP_LESSER:
            case COMP_LESSER_EQUAL:
            case COMP_GREATER:
            case COMP_GREATER_EQUAL:
                fire(ERR_SCRIPT, "invalid-compare", &a, &b);
            default: return false;
        }
    }
    switch (op) {
        case COMP_NOT_EQUAL: return r != 0;
        case COMP_LESSER: return r < 0;
        case COMP_LESSER_EQUAL: return r <= 0;
        case COMP_GREATER: return r > 0;
        case COMP_GREATER_EQUAL: return r >= 0;
        default: return r == 0;
    }
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    return get<action::Mold>(value, ACT_MOLD)(value, buffer, only, all, flat, arg, part, indent);
}

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    return get<action::Form>(value, ACT_FORM)(value, buffer, arg, part);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    return get<action::Copy>(value, ACT_COPY)(value, result, part, deep, types);
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return get<action::Find>(series, ACT_FIND)(series, value, part, only, case_, same, any, with, skip, last,
                                               reverse, tail, match);
}

Cell* poke(Cell* series, i32 index, Cell* data, Cell* boxed) {
    return get<action::Poke>(series, ACT_POKE)(series, index, data, boxed);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get_, bool last, bool notify) {
    return get<action::EvalPath>(parent, ACT_EVAL_PATH)(parent, element, value, path, grand_parent, prev_element,
                                                        index, case_, get_, last, notify);
}

namespace {

// Shared by the stack entries of mold and form: the result is a fresh string.
template <typename Render>
void render_star(const Cell*& part_arg, Render render) {
    // The /part cell lies above the first argument, where the buffer goes.
    Cell part_copy;
    if (part_arg) {
        part_copy = *part_arg;
        part_arg = &part_copy;
    }
    i32 limit = part_arg ? i32(part_arg->w2) : -1;
    if (part_arg && limit < 1) {
        string::make_at(stack::arguments, 1, 1);
        stack::keep();
        return;
    }
    stack::keep();
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    render(stack::arguments, buffer, part_arg ? limit : PART_UNLIMITED);
    if (part_arg) string::truncate_from(buffer, limit);
    stack::set_last(buffer);
    stack::keep();
}

}  // namespace

void mold_star(bool only, bool all, bool flat, const Cell* part) {
    render_star(part, [&](Cell* value, Cell* buffer, i32 budget) {
        mold(value, buffer, only, all, flat, part, budget, 0);
    });
}

void form_star(const Cell* part) {
    render_star(part, [&](Cell* value, Cell* buffer, i32 budget) { form(value, buffer, part, budget); });
}

}  // namespace actions
}  // namespace zir
