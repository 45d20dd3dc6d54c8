// The comparison and predicate natives: equal? and the other comparisons,
// same?, not, type?, complement?, negative?, positive? and sign?.
//
// The seven comparisons go through actions::compare_op, the routine the
// interpreter's infix fast path (fast_op) also falls back on, so that `=`
// and `equal?` can never answer differently. `same?` is an identity test of
// its own: it compares payload words, never contents.
#include "evaluator/natives.hpp"

#include "datatypes/bitset.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/money.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"

namespace zir {
namespace natives {

namespace {

inline Cell* arg(i32 i) { return stack::arguments + i; }

// Slots of this group.
enum : i32 {
    SLOT_EQUAL = 25, SLOT_NOT_EQUAL, SLOT_STRICT_EQUAL, SLOT_LESSER, SLOT_GREATER, SLOT_LESSER_EQUAL,
    SLOT_GREATER_EQUAL, SLOT_SAME, SLOT_NOT, SLOT_TYPE, SLOT_COMPLEMENT = 46, SLOT_NEGATIVE = 49,
    SLOT_POSITIVE = 50, SLOT_SIGN = 97,
};

// --- Comparisons -----------------------------------------------------------------

template <i32 Slot, i32 Op>
i32 comparison(i32 check, const i32* r) {
    if (check) check_args(Slot, r);
    actions::compare_op(Op);
    return 0;
}

// --- same? -----------------------------------------------------------------------

bool same_series_q(u32 t) {
    switch (t) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR: case TYPE_IMAGE:
            return true;
        default:
            return false;
    }
}

// Identity: the same scalar bits, the same series at the same position, the
// same context. Doubles compare by their bits, so 0.0 and -0.0 differ.
bool same_q(const Cell* a, const Cell* b) {
    u32 t = TYPE_OF(a);
    if (t != TYPE_OF(b)) return false;
    if (same_series_q(t)) return a->w1 == b->w1 && a->w2 == b->w2;
    switch (t) {
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT:
            return a->w1 == b->w1;
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_BITSET:
            return a->w2 == b->w2;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_PAIR: case TYPE_TIME: case TYPE_OP:
            return a->w2 == b->w2 && a->w3 == b->w3;
        case TYPE_TUPLE:
            return tuple::length_of(a) == tuple::length_of(b) && tuple::compare(a, b, COMP_SAME) == 0;
        case TYPE_NONE: case TYPE_UNSET:
            return true;
        case TYPE_MONEY:
            return money::compare(a, b, COMP_SAME) == 0;
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_POINT2D:
            return a->w1 == b->w1 && a->w2 == b->w2;
        default:
            return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
    }
}

i32 same_q_star(i32 check, const i32* r) {
    if (check) check_args(SLOT_SAME, r);
    stack::box_scalar(TYPE_LOGIC, same_q(arg(0), arg(1)));
    return 0;
}

// --- not, type?, complement? --------------------------------------------------------

i32 not_star(i32 check, const i32* r) {
    if (check) check_args(SLOT_NOT, r);
    u32 t = TYPE_OF(arg(0));
    bool falsy = t == TYPE_NONE || (t == TYPE_LOGIC && !logic::get(arg(0)));
    stack::box_scalar(TYPE_LOGIC, falsy);
    return 0;
}

i32 type_q_star(i32 check, const i32* r) {
    if (check) check_args(SLOT_TYPE, r);
    u32 t = TYPE_OF(arg(0));
    if (r[0] >= 0) {
        const datatype::TypeName& n = datatype::names[t];
        Cell w = n.word.header != 0 ? n.word : *word::load(datatype::name_of(t));
        *arg(0) = w;
    } else {
        datatype::make_at(arg(0), t);
    }
    return 0;
}

i32 complement_q_star(i32 check, const i32* r) {
    if (check) check_args(SLOT_COMPLEMENT, r);
    if (TYPE_OF(arg(0)) != TYPE_BITSET) typeset::expect_arg(TYPE_OF(arg(0)), 0);
    bool complemented = bitset::complemented_q(arg(0));
    stack::box_scalar(TYPE_LOGIC, complemented);
    return 0;
}

// --- Signs -----------------------------------------------------------------------

// -1, 0 or 1 for a number, money or time; a NaN has no sign (0). Any other
// datatype is refused as the spec's typeset would refuse it.
i32 sign_of(const Cell* v) {
    switch (TYPE_OF(v)) {
        case TYPE_INTEGER: {
            i32 n = i32(v->w2);
            return (n > 0) - (n < 0);
        }
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
            double d = cell::get_float(v);
            return (d > 0.0) - (d < 0.0);
        }
        case TYPE_MONEY:
            return money::sign_q(v);
        default:
            typeset::expect_arg(TYPE_OF(v), 0);
    }
}

template <i32 Slot>
i32 sign_predicate(i32 check, const i32* r) {
    if (check) check_args(Slot, r);
    i32 s = sign_of(arg(0));
    stack::box_scalar(TYPE_LOGIC, Slot == SLOT_NEGATIVE ? s < 0 : s > 0);
    return 0;
}

i32 sign_q_star(i32 check, const i32* r) {
    if (check) check_args(SLOT_SIGN, r);
    i32 s = sign_of(arg(0));
    cell::init(arg(0), TYPE_INTEGER);
    arg(0)->w2 = u32(s);
    return 0;
}

template <typename F>
action::Generic entry(F f) {
    Entry e = f;
    return reinterpret_cast<action::Generic>(e);
}

}  // namespace

void fill_compare(action::Generic* slots) {
    slots[SLOT_EQUAL - 1] = entry(comparison<SLOT_EQUAL, COMP_EQUAL>);
    slots[SLOT_NOT_EQUAL - 1] = entry(comparison<SLOT_NOT_EQUAL, COMP_NOT_EQUAL>);
    slots[SLOT_STRICT_EQUAL - 1] = entry(comparison<SLOT_STRICT_EQUAL, COMP_STRICT_EQUAL>);
    slots[SLOT_LESSER - 1] = entry(comparison<SLOT_LESSER, COMP_LESSER>);
    slots[SLOT_GREATER - 1] = entry(comparison<SLOT_GREATER, COMP_GREATER>);
    slots[SLOT_LESSER_EQUAL - 1] = entry(comparison<SLOT_LESSER_EQUAL, COMP_LESSER_EQUAL>);
    slots[SLOT_GREATER_EQUAL - 1] = entry(comparison<SLOT_GREATER_EQUAL, COMP_GREATER_EQUAL>);
    slots[SLOT_SAME - 1] = entry(same_q_star);
    slots[SLOT_NOT - 1] = entry(not_star);
    slots[SLOT_TYPE - 1] = entry(type_q_star);
    slots[SLOT_COMPLEMENT - 1] = entry(complement_q_star);
    slots[SLOT_NEGATIVE - 1] = entry(sign_predicate<SLOT_NEGATIVE>);
    slots[SLOT_POSITIVE - 1] = entry(sign_predicate<SLOT_POSITIVE>);
    slots[SLOT_SIGN - 1] = entry(sign_q_star);
}

}  // namespace natives
}  // namespace zir
