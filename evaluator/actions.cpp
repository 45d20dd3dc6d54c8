// Action dispatch and the typed entry points: see actions.hpp. The stack
// entries are in action_entries.cpp, the specs and words in action_specs.cpp.
#include "evaluator/actions.hpp"

#include "evaluator/fast_op.hpp"

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/error.hpp"
#include "datatypes/context.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/port.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace actions {

MathCore math_core[TYPE_TOTAL] = {};
action::Generic table[ACTION_SLOTS] = {};
namespace {

// A port whose actor is a handle! takes the slots from append on from the
// handle's table.
action::Generic port_route(const Cell* port, u32 slot) {
    const Cell* ctx = context::cell_of(port->w1);
    if (context::word_count(ctx) <= port::FIELD_ACTOR) return nullptr;
    if (TYPE_OF(context::value_at(ctx, port::FIELD_ACTOR)) != TYPE_HANDLE) return nullptr;
    return port::native_entry(port, slot);
}

}  // namespace

action::Generic (*port_actor_entry)(const Cell* port, u32 slot) = port_route;

// --- Dispatch ---------------------------------------------------------------------

action::Generic lookup(u32 type, u32 slot) { return datatype::table[type][slot - 1]; }

namespace {

[[noreturn]] void missing(u32 type) {
    Cell caller, datatype, argument;
    stack::caller_name(&caller);
    datatype::make_at(&datatype, type);
    error::call_argument_of(&caller, 0, &argument);
    fire(ERR_SCRIPT, "expect-arg", &caller, &datatype, &argument);
}

}  // namespace

action::Generic get_action(u32 type, const Cell* value, u32 slot) {
    if (ZIR_UNLIKELY(type == TYPE_PORT) && slot >= ACT_APPEND && port_actor_entry)
        if (action::Generic f = port_actor_entry(value, slot)) return f;
    action::Generic f = datatype::table[type][slot - 1];
    if (ZIR_LIKELY(f != nullptr)) return f;
    missing(type);
}

action::Generic get_action_of(const Cell* value, u32 slot) { return get_action(TYPE_OF(value), value, slot); }

action::Generic get_action_first(u32 slot) { return get_action_of(stack::arguments, slot); }

action::Generic get_action_checked(const Cell* value, u32 slot, const Cell* path, const Cell* selector, i32 index) {
    action::Generic f = datatype::table[TYPE_OF(value)][slot - 1];
    if (ZIR_LIKELY(f != nullptr)) return f;
    const Cell sel = *selector;
    Cell datatype;
    datatype::make_at(&datatype, TYPE_OF(value));
    if (!path) fire(ERR_SCRIPT, "bad-path-type2", &sel, &datatype);
    // The part of the path that produced the value.
    Cell* cut = block::clone(path, false, false);
    i32 keep = index + 1;
    if (keep < block::zs_length_q(cut)) block::zs_clear_from(cut, i32(cut->w1) + keep);
    fire(ERR_SCRIPT, "bad-path-type", &sel, &datatype, cut);
}

// --- Comparison -------------------------------------------------------------------

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
    // Two integers, and a datatype against anything for equality (the
    // predicates of the library compare type? with a datatype), at once: the
    // answers of their datatypes' own comparisons.
    u32 ta = TYPE_OF(value);
    if (ta == TYPE_INTEGER && TYPE_OF(other) == TYPE_INTEGER && op <= COMP_GREATER_EQUAL)
        return fast_op::compare_integers(integer::get(value), integer::get(other), op);
    if (ta == TYPE_DATATYPE && equality_op_q(op)) {
        bool same = TYPE_OF(other) == TYPE_DATATYPE && other->w1 == value->w1;
        return op == COMP_NOT_EQUAL ? !same : same;
    }
    // The comparison may allocate and move the buffers the operands lie in:
    // the error reports the values as they were given.
    const Cell a = *value, b = *other;
    // The datatype's own comparison: natives and functions are not ordered
    // here (compare_typed orders them, for sorting).
    i32 r = get<action::Compare>(&a, ACT_COMPARE)(&a, &b, op);
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

void compare_op(i32 op) {
    bool r = compare(stack::arguments, stack::arguments + 1, op);
    stack::box_scalar(TYPE_LOGIC, r);
}

// --- Typed entries ------------------------------------------------------------------

namespace {

// make and to take the datatype a datatype! names.
Cell* make_or_to(Cell* type, Cell* spec, u32 slot) {
    u32 t = TYPE_OF(type) == TYPE_DATATYPE && type->w1 < TYPE_TOTAL ? type->w1 : TYPE_OF(type);
    return reinterpret_cast<action::Make>(get_action(t, type, slot))(type, spec, t);
}

}  // namespace

Cell* make(Cell* type, Cell* spec) { return make_or_to(type, spec, ACT_MAKE); }
Cell* to(Cell* type, Cell* spec) { return make_or_to(type, spec, ACT_TO); }

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    return get<action::Random>(value, ACT_RANDOM)(value, seed, secure, only);
}

Cell* reflect(Cell* value, i32 field_symbol) { return get<action::Reflect>(value, ACT_REFLECT)(value, field_symbol); }

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    return get<action::Mold>(value, ACT_MOLD)(value, buffer, only, all, flat, arg, part, indent);
}

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    return get<action::Form>(value, ACT_FORM)(value, buffer, arg, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get_, bool last, bool notify) {
    return get<action::EvalPath>(parent, ACT_EVAL_PATH)(parent, element, value, path, grand_parent, prev_element,
                                                        index, case_, get_, last, notify);
}

Cell* negate(Cell* value) { return get<action::Unary>(value, ACT_NEGATE)(value); }

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    return get<action::Round>(value, ACT_ROUND)(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
}

bool even_q(const Cell* value) { return get<action::Predicate>(value, ACT_EVEN_Q)(value); }
bool odd_q(const Cell* value) { return get<action::Predicate>(value, ACT_ODD_Q)(value); }
Cell* complement(Cell* value) { return get<action::Unary>(value, ACT_COMPLEMENT)(value); }

Cell* append(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return get<action::Insert>(series, ACT_APPEND)(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return get<action::Insert>(series, ACT_INSERT)(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return get<action::Change>(series, ACT_CHANGE)(series, value, part, only, dup);
}

Cell* clear(Cell* series) { return get<action::Unary>(series, ACT_CLEAR)(series); }

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    return get<action::Copy>(value, ACT_COPY)(value, result, part, deep, types);
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return get<action::Find>(series, ACT_FIND)(series, value, part, only, case_, same, any, with, skip, last,
                                               reverse, tail, match);
}

i32 length_q(const Cell* series) { return get<action::Length>(series, ACT_LENGTH_Q)(series); }

Cell* move(Cell* origin, Cell* target, Cell* part) {
    return get<action::Move>(origin, ACT_MOVE)(origin, target, part);
}

Cell* pick(Cell* series, i32 index, Cell* boxed) { return get<action::Pick>(series, ACT_PICK)(series, index, boxed); }

Cell* poke(Cell* series, i32 index, Cell* data, Cell* boxed) {
    return get<action::Poke>(series, ACT_POKE)(series, index, data, boxed);
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    return get<action::Put>(series, ACT_PUT)(series, key, value, case_);
}

Cell* remove(Cell* series, Cell* part, Cell* key) { return get<action::Remove>(series, ACT_REMOVE)(series, part, key); }

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    return get<action::Reverse>(series, ACT_REVERSE)(series, part, skip);
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse) {
    return get<action::Select>(series, ACT_SELECT)(series, value, part, only, case_, same, any, with, skip, last,
                                                   reverse);
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    return get<action::Sort>(series, ACT_SORT)(series, case_, skip, comparator, part, all, reverse, stable);
}

Cell* swap(Cell* series1, Cell* series2) { return get<action::Swap>(series1, ACT_SWAP)(series1, series2); }

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    return get<action::Take>(series, ACT_TAKE)(series, part, deep, last);
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return get<action::Trim>(series, ACT_TRIM)(series, head, tail, auto_, lines, all, with);
}

Cell* create(Cell* port) { return get<action::Unary>(port, ACT_CREATE)(port); }
Cell* close(Cell* port) { return get<action::Unary>(port, ACT_CLOSE)(port); }
Cell* delete_(Cell* file) { return get<action::Unary>(file, ACT_DELETE)(file); }

Cell* modify(Cell* target, i32 field_symbol, Cell* value, bool case_) {
    return get<action::Modify>(target, ACT_MODIFY)(target, field_symbol, value, case_);
}

Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return get<action::Open>(port, ACT_OPEN)(port, new_, read, write, seek, allow);
}

Cell* open_q(Cell* port) { return get<action::Unary>(port, ACT_OPEN_Q)(port); }
Cell* query(Cell* target) { return get<action::Unary>(target, ACT_QUERY)(target); }

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    return get<action::Read>(source, ACT_READ)(source, part, seek, binary, lines, info, as);
}

Cell* rename(Cell* from, Cell* to) { return get<action::Rename>(from, ACT_RENAME)(from, to); }
Cell* update(Cell* port) { return get<action::Unary>(port, ACT_UPDATE)(port); }

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as) {
    return get<action::Write>(destination, ACT_WRITE)(destination, data, binary, lines, info, append, part, seek,
                                                      allow, as);
}

i32 index_of(const Cell* index) {
    switch (TYPE_OF(index)) {
        case TYPE_LOGIC: return index->w1 ? 1 : 2;
        case TYPE_CHAR:
        case TYPE_INTEGER: return i32(index->w2);
        default: return 0;
    }
}

}  // namespace actions
}  // namespace zir
