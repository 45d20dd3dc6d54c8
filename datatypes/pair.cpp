// pair!: see pair.hpp.
#include "datatypes/pair.hpp"

#include <cmath>

#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/point.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"
#include "services/random.hpp"

namespace zir {
namespace pair {

Cell* make_at(Cell* c, i32 x, i32 y) {
    cell::set_type(c, TYPE_PAIR);
    c->w1 = 0;
    c->w2 = u32(x);
    c->w3 = u32(y);
    return c;
}

Cell* make_in(Cell* block, i32 x, i32 y) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_PAIR);
    return make_at(c, x, y);
}

Cell* push(i32 x, i32 y) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_PAIR);
    return make_at(c, x, y);
}

i32 field_index(const Cell* word, const Cell* value) { return point::field_of(word, value, TYPE_PAIR, 2); }

void to_point2D(Cell* c) { point2D::make_at(c, float(x_of(c)), float(y_of(c))); }

i32 get_coord(const Cell* c) { return float_::to_integer_checked(c); }

Cell* do_math_op(i32 op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    i32 lx = x_of(left), ly = y_of(left), rx, ry;
    switch (TYPE_OF(right)) {
        case TYPE_PAIR:
            rx = x_of(right);
            ry = y_of(right);
            break;
        case TYPE_INTEGER:
            rx = ry = i32(right->w2);
            break;
        case TYPE_POINT2D:
            to_point2D(left);
            return point2D::do_math_op(op);
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = cell::get_float(right);
            if (op == MATH_MULTIPLY || op == MATH_DIVIDE) {
                // Scaling by a float gives a point2D!; dividing by an
                // infinity (giving zeros) or by zero (infinities) is allowed.
                if (std::isnan(d) || (op == MATH_MULTIPLY && std::isinf(d))) fire(ERR_SCRIPT, "invalid-arg", right);
                double x = op == MATH_MULTIPLY ? double(lx) * d : double(lx) / d;
                double y = op == MATH_MULTIPLY ? double(ly) * d : double(ly) / d;
                point2D::make_at(left, point::to_single(x), point::to_single(y));
                return left;
            }
            if (!std::isfinite(d)) fire(ERR_SCRIPT, "invalid-arg", right);
            double t = std::trunc(d);
            if (t < -2147483648.0 || t > 2147483647.0) {
                // No pair holds that operand: the operation is a point2D!'s.
                to_point2D(left);
                point2D::make_at(right, point::to_single(t), point::to_single(t));
                return point2D::do_math_op(op);
            }
            rx = ry = i32(t);
            break;
        }
        default:
            integer::invalid_operand(right);
    }
    // A coordinate that leaves the integers (an overflow, an inexact division)
    // moves the whole operation to point2D!.
    Cell sx, sy;
    cell::init(&sx, TYPE_INTEGER);
    cell::init(&sy, TYPE_INTEGER);
    i32 x = integer::do_math_op(lx, rx, op, &sx);
    i32 y = integer::do_math_op(ly, ry, op, &sy);
    if (TYPE_OF(&sx) != TYPE_INTEGER || TYPE_OF(&sy) != TYPE_INTEGER) {
        point2D::make_at(left, float(lx), float(ly));
        point2D::make_at(right, float(rx), float(ry));
        return point2D::do_math_op(op);
    }
    left->w2 = u32(x);
    left->w3 = u32(y);
    return left;
}

// --- Actions -------------------------------------------------------------------------

namespace {

// make and to.
Cell* make(Cell*, Cell* spec, u32) {
    i32 x, y;
    switch (TYPE_OF(spec)) {
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            x = y = get_coord(spec);
            break;
        case TYPE_BLOCK: {
            const Cell* items = series::head_cells(series::buffer_of(spec)) + series::head_index(spec);
            auto number = [](const Cell* c) { return TYPE_OF(c) == TYPE_INTEGER || TYPE_OF(c) == TYPE_FLOAT; };
            if (series::rest_length(spec) < 2 || !number(&items[0]) || !number(&items[1]))
                fire(ERR_SYNTAX, "malconstruct", spec);
            x = get_coord(&items[0]);
            y = get_coord(&items[1]);
            break;
        }
        case TYPE_POINT2D: {
            // Only a coordinate with a 32-bit integer part makes a pair.
            auto coord = [&](float f) {
                if (!(f >= -2147483648.0f && f < 2147483648.0f)) fire(ERR_SCRIPT, "invalid-arg", spec);
                return i32(f);
            };
            x = coord(point2D::x_of(spec));
            y = coord(point2D::y_of(spec));
            break;
        }
        case TYPE_STRING:
            return point::load_one(spec, TYPE_PAIR);
        case TYPE_PAIR:
            return spec;
        default:
            point::bad_to_arg(TYPE_PAIR, spec);
    }
    return push(x, y);
}

Cell* random_(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(i32(value->w2 ^ value->w3));
        cell::init(value, TYPE_UNSET);
        return value;
    }
    if (x_of(value) != 0) value->w2 = u32(random::int_(secure, x_of(value)));
    if (y_of(value) != 0) value->w3 = u32(random::int_(secure, y_of(value)));
    return value;
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    i32 before = string::zs_length(buffer);
    string::append_literal(buffer, integer::form_signed(x_of(value)));
    string::append_char(buffer, 'x');
    string::append_literal(buffer, integer::form_signed(y_of(value)));
    return part - (string::zs_length(buffer) - before);
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

Cell* push_coord(const Cell* value, i32 field) { return integer::push(field == 1 ? x_of(value) : y_of(value)); }

// Reads a coordinate, or sets one to an integer! in place and tells the
// holder of the pair.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element, i32,
                bool, bool get, bool, bool notify) {
    i32 field;
    if (TYPE_OF(element) == TYPE_WORD) {
        field = point::field_of(element, path, TYPE_PAIR, 2);
    } else if (TYPE_OF(element) == TYPE_INTEGER && (element->w2 == 1 || element->w2 == 2)) {
        field = i32(element->w2);
    } else {
        fire(ERR_SCRIPT, "invalid-path", path ? path : &none::value, element);
    }
    if (get || !value) return push_coord(parent, field);
    if (TYPE_OF(value) != TYPE_INTEGER) integer::invalid_operand(value);
    Cell* old = notify ? stack::push(parent) : nullptr;
    (field == 1 ? parent->w2 : parent->w3) = value->w2;
    if (notify) ownership::notify_set_path(grand_parent, prev_element, old, stack::push(parent), value, field);
    return value;
}

// x first, y breaking a tie, whatever the operation; a point2D! compares the
// pair as a point.
i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) == TYPE_POINT2D) {
        Cell as_point = *value;
        to_point2D(&as_point);
        return point2D::compare(&as_point, other, op);
    }
    if (TYPE_OF(other) != TYPE_PAIR) return NOT_COMPARABLE;
    auto order = [](i32 a, i32 b) { return a < b ? -1 : a > b ? 1 : 0; };
    i32 r = order(x_of(value), x_of(other));
    return r != 0 ? r : order(y_of(value), y_of(other));
}

void absolute() {
    Cell* p = stack::arguments;
    make_at(p, integer::abs(x_of(p)), integer::abs(y_of(p)));
}

void add() { do_math_op(MATH_ADD); }
void divide() { do_math_op(MATH_DIVIDE); }
void multiply() { do_math_op(MATH_MULTIPLY); }

// -2147483648 has no negative: it raises as absolute does.
Cell* negate(Cell* p) {
    if (x_of(p) == INT32_MIN || y_of(p) == INT32_MIN) fire(ERR_MATH, "overflow");
    return make_at(p, -x_of(p), -y_of(p));
}

void remainder() { do_math_op(MATH_REMAINDER); }

// Each coordinate rounded as an integer! by integer!'s round (a float scale
// goes on to float!'s), x with a pair scale's x and y with its y; a float
// result is truncated toward zero.
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && TYPE_OF(scale) == TYPE_MONEY) float_::not_related_to_caller(TYPE_MONEY);
    auto round_integer = reinterpret_cast<action::Round>(actions::lookup(TYPE_INTEGER, ACT_ROUND));
    i32 out[2];
    for (i32 i = 0; i < 2; i++) {
        Cell* c = integer::push(i == 0 ? x_of(value) : y_of(value));
        Cell* s = nullptr;
        if (scale) s = TYPE_OF(scale) == TYPE_PAIR ? integer::push(i == 0 ? x_of(scale) : y_of(scale)) : stack::push(scale);
        Cell* r = round_integer(c, s, even, down, half_down, floor, ceiling, half_ceiling);
        if (TYPE_OF(r) == TYPE_INTEGER) {
            out[i] = integer::get(r);
            continue;
        }
        double d = std::trunc(cell::get_float(r));
        if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire(ERR_MATH, "overflow");
        out[i] = i32(d);
    }
    return make_at(value, out[0], out[1]);
}

void subtract() { do_math_op(MATH_SUBTRACT); }
void and_() { do_math_op(MATH_AND); }
void or_() { do_math_op(MATH_OR); }
void xor_() { do_math_op(MATH_XOR); }

Cell* pick(Cell* value, i32 index, Cell* boxed) {
    i32 field = boxed && TYPE_OF(boxed) == TYPE_WORD ? field_index(boxed, value) : index;
    if (field != 1 && field != 2) {
        if (boxed) fire(ERR_SCRIPT, "out-of-range", boxed);
        fire(ERR_SCRIPT, "out-of-range", integer::push(index));
    }
    return push_coord(value, field);
}

Cell* reverse(Cell* p, Cell*, Cell*) { return make_at(p, y_of(p), x_of(p)); }

}  // namespace

void init() {
    datatype::Registration r(TYPE_PAIR, 0, "pair!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_RANDOM>(random_).on<ACT_TO>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_EVAL_PATH>(eval_path).on<ACT_COMPARE>(compare).on<ACT_ABSOLUTE>(absolute).on<ACT_ADD>(add);
    r.on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply).on<ACT_NEGATE>(negate).on<ACT_REMAINDER>(remainder);
    r.on<ACT_ROUND>(round).on<ACT_SUBTRACT>(subtract).on<ACT_AND_T>(and_).on<ACT_OR_T>(or_).on<ACT_XOR_T>(xor_);
    r.on<ACT_PICK>(pick).on<ACT_REVERSE>(reverse);
    datatype::register_(r);
    actions::math_core[TYPE_PAIR] = do_math_op;
}

}  // namespace pair
}  // namespace zir
