// integer!: see integer.hpp.
#include "datatypes/integer.hpp"

#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "loader/number.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "services/random.hpp"

namespace zir {
namespace integer {

namespace {
char text[12];
}  // namespace

VectorScalarMath vector_scalar_math = nullptr;

i32 get_arg() { return get(stack::arguments); }
i32 get_any() { return TYPE_OF(stack::arguments) == TYPE_INTEGER ? get(stack::arguments) : 0; }

i32 abs(i32 value) {
    if (ZIR_UNLIKELY(value == INT32_MIN)) fire(ERR_MATH, "overflow");
    return value < 0 ? -value : value;
}

bool float_overflow_q(const Cell* c) {
    double d = cell::get_float(c);
    return !(d <= 2147483647.0 && d >= -2147483648.0);
}

const char* form_signed(i32 value) {
    if (value == 0) return "0";
    if (value == INT32_MIN) return "-2147483648";
    char* p = text + sizeof text - 1;
    *p = 0;
    u32 n = value < 0 ? u32(-value) : u32(value);
    do *--p = char('0' + n % 10);
    while ((n /= 10) != 0);
    if (value < 0) *--p = '-';
    return p;
}

void make_at(Cell* c, i32 value) {
    // Written whole (see cell::store): results made here are copied next.
    cell::store(c, (c->header & ~TYPE_MASK) | TYPE_INTEGER, c->w1, u32(value), c->w3);
}

Cell* make_in(Cell* block, i32 value) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

Cell* push(i32 value) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

Cell* box(i32 value) {
    Cell* c = stack::arguments;
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

// --- The arithmetic core ---------------------------------------------------

namespace {

// An add, subtract or multiply left the 32-bit range: the cell takes the
// exact operation in doubles, or, without a cell, the caller takes the
// wrapped result.
i32 overflowed(Cell* cell, double result, i32 wrapped) {
    if (!cell) return wrapped;
    cell->header = TYPE_FLOAT;
    cell::set_float(cell, result);
    return 0;
}

void check_divisor(i32 a, i32 b) {
    if (ZIR_UNLIKELY(b == 0)) fire(ERR_MATH, "zero-divide");
    if (ZIR_UNLIKELY(b == -1 && a == INT32_MIN)) fire(ERR_MATH, "overflow");
}

}  // namespace

i32 do_math_op(i32 a, i32 b, i32 op, Cell* cell) {
    i32 r;
    switch (op) {
        case MATH_ADD:
            if (ZIR_UNLIKELY(__builtin_add_overflow(a, b, &r))) return overflowed(cell, double(a) + double(b), r);
            break;
        case MATH_SUBTRACT:
            if (ZIR_UNLIKELY(__builtin_sub_overflow(a, b, &r))) return overflowed(cell, double(a) - double(b), r);
            break;
        case MATH_MULTIPLY:
            if (ZIR_UNLIKELY(__builtin_mul_overflow(a, b, &r))) return overflowed(cell, double(a) * double(b), r);
            break;
        case MATH_DIVIDE:
            check_divisor(a, b);
            if (cell && a % b != 0) {
                cell->header = TYPE_FLOAT;
                cell::set_float(cell, double(a) / double(b));
                return 0;
            }
            r = a / b;
            break;
        case MATH_REMAINDER:
            check_divisor(a, b);
            r = a % b;
            break;
        case MATH_OR: r = a | b; break;
        case MATH_AND: r = a & b; break;
        case MATH_XOR: r = a ^ b; break;
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
    if (cell) cell->w2 = u32(r);
    return r;
}

void invalid_operand(const Cell* operand) {
    Cell type;
    datatype::make_at(&type, TYPE_OF(operand));
    fire(ERR_SCRIPT, "invalid-type", &type);
}

void not_related(i32 op, u32 type) {
    static const char* const words[] = {"add", "subtract", "multiply", "divide", "remainder", "or~", "and~", "xor~"};
    Cell word, datatype;
    series::make_word(&word, symbol::make(op >= 0 && op < 8 ? words[op] : "add"));
    datatype::make_at(&datatype, type);
    fire(ERR_SCRIPT, "not-related", &word, &datatype);
}

void hand_to_vector(i32 op, Cell* vector, const Cell* scalar, Cell* result) {
    if (!vector_scalar_math) fire(ERR_INTERNAL, "not-done");
    *result = *vector_scalar_math(op, vector, scalar);
}

Cell* hand_to_core(u32 type, i32 op) {
    actions::MathCore core = actions::math_core[type];
    if (!core) fire(ERR_INTERNAL, "not-done");
    return core(op);
}

Cell* hand_swapped(u32 type, i32 op) {
    actions::MathCore core = actions::math_core[type];
    if (!core) fire(ERR_INTERNAL, "not-done");
    std::swap(stack::arguments[0], stack::arguments[1]);
    return core(op);
}

Cell* do_math(i32 op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    u32 t = TYPE_OF(right);
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            do_math_op(get(left), get(right), op, left);
            return left;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            return float_::do_math(op);
        case TYPE_MONEY:
            return hand_to_core(TYPE_MONEY, op);
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            // Swapped, a quotient or a remainder would be the pair's by the
            // number: those are refused.
            if (op == MATH_DIVIDE || op == MATH_REMAINDER) not_related(op, TYPE_INTEGER);
            if (op == MATH_SUBTRACT) {
                // n - p is -p + n: the core always has the richer value on the left.
                if (!actions::math_core[t]) fire(ERR_INTERNAL, "not-done");
                std::swap(*left, *right);
                actions::get<action::Unary>(left, ACT_NEGATE)(left);
                return hand_to_core(t, MATH_ADD);
            }
            return hand_swapped(t, op);
        case TYPE_TUPLE:
            if (op == MATH_SUBTRACT || op == MATH_DIVIDE || op == MATH_REMAINDER) not_related(op, TYPE_INTEGER);
            return hand_swapped(t, op);
        case TYPE_DATE:
            if (op != MATH_ADD) not_related(op, TYPE_INTEGER);
            return hand_swapped(t, op);
        case TYPE_VECTOR:
            hand_to_vector(op, right, left, left);
            return left;
        default:
            invalid_operand(right);
    }
}

// --- Rounding ----------------------------------------------------------------

i64 round_value(i64 n, i64 scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                bool half_ceiling) {
    i64 s = scale < 0 ? -scale : scale;
    if (s == 0) return n;
    i64 a = n < 0 ? -n : n;
    i64 r = a % s;
    if (r == 0) return n;
    i64 d = s - r;
    // The multiples of s on either side of n, and the one on the other side
    // of n from zero, all within 64 bits for 32-bit n and s.
    i64 toward = n < 0 ? -(a - r) : a - r;
    i64 away = n < 0 ? -(a + d) : a + d;
    i64 below = n < 0 ? away : toward, above = n < 0 ? toward : away;
    i64 result;
    if (down) result = toward;
    else if (floor) result = below;
    else if (ceiling) result = above;
    else if (r < d) result = toward;
    else if (r > d) result = away;
    else if (even) result = ((a / s) % 2 == 0) ? toward : away;
    else if (half_down) result = toward;
    else if (half_ceiling) result = above;
    else result = away;
    if (result < INT32_MIN || result > INT32_MAX) fire(ERR_MATH, "overflow");
    return result;
}

// --- Actions ---------------------------------------------------------------

namespace {

[[noreturn]] void bad_to_arg(const Cell* spec) {
    Cell type;
    datatype::make_at(&type, TYPE_INTEGER);
    fire(ERR_SCRIPT, "bad-to-arg", &type, spec);
}

[[noreturn]] void type_limit() {
    Cell type;
    datatype::make_at(&type, TYPE_INTEGER);
    fire(ERR_SCRIPT, "type-limit", &type);
}

// The first up to 4 bytes from a binary's head, big-endian.
i32 from_binary(const Cell* spec) {
    SeriesBuffer* s = series::buffer_of(spec);
    i64 avail = i64(series::used_bytes(s)) - i64(spec->w1);
    if (avail > 4) avail = 4;
    u32 bits = 0;
    const u8* p = series::head(s) + spec->w1;
    for (i64 i = 0; i < avail; i++) bits = (bits << 8) | p[i];
    return i32(bits);
}

// The characters of an issue as hexadecimal digits, 8 at most.
i32 from_issue(const Cell* spec) {
    std::string_view t = symbol::spelling(i32(spec->w2));
    if (t.empty() || t.size() > 8) fire(ERR_SCRIPT, "invalid-data", spec);
    u32 v = 0;
    for (char c : t) {
        u32 digit;
        if (c >= '0' && c <= '9') digit = u32(c - '0');
        else if (c >= 'A' && c <= 'F') digit = u32(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = u32(c - 'a' + 10);
        else fire(ERR_SCRIPT, "invalid-data", spec);
        v = (v << 4) | digit;
    }
    return i32(v);
}

i32 from_text(const Cell* spec) {
    i32 n = string::zs_length(spec);
    if (n <= 0) bad_to_arg(spec);
    SeriesBuffer* s = series::buffer_of(spec);
    i32 error;
    i32 v = lexer::string_to_integer(series::element_at(s, series::head_index(spec)), n, series::unit_of(s), &error);
    if (error != 0) bad_to_arg(spec);
    return v;
}

// Seconds rounded half away from zero.
i32 from_time(const Cell* spec) {
    double r = std::round(cell::get_float(spec));
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) type_limit();
    return i32(r);
}

Cell* to(Cell*, Cell* spec, u32) {
    u32 t = TYPE_OF(spec);
    i32 v;
    switch (t) {
        case TYPE_INTEGER: return spec;
        case TYPE_CHAR: v = get(spec); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            if (float_overflow_q(spec)) type_limit();
            v = i32(cell::get_float(spec));
            break;
        case TYPE_TIME: v = from_time(spec); break;
        case TYPE_MONEY: v = float_::bridge(float_::bridges.money_to_integer)(spec); break;
        case TYPE_DATE: v = float_::bridge(float_::bridges.date_to_epoch)(spec); break;
        case TYPE_BINARY: v = from_binary(spec); break;
        case TYPE_ISSUE: v = from_issue(spec); break;
        default:
            if (!any_text_q(t)) bad_to_arg(spec);
            v = from_text(spec);
            break;
    }
    cell::init(spec, TYPE_INTEGER);
    spec->w2 = u32(v);
    return spec;
}

Cell* make(Cell* proto, Cell* spec, u32 type) {
    if (TYPE_OF(spec) == TYPE_LOGIC) {
        bool truth = spec->w1 != 0;
        cell::init(spec, TYPE_INTEGER);
        spec->w2 = truth ? 1 : 0;
        return spec;
    }
    return to(proto, spec, type);
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    const char* text = form_signed(get(value));
    i64 n = i64(std::strlen(text));
    string::append_bytes(buffer, reinterpret_cast<const u8*>(text), n);
    return part - i32(n);
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    u32 t = TYPE_OF(other);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_INTEGER) return 1;
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_CHAR: {
            i32 a = get(value), b = get(other);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            return float_::compare_double(double(get(value)), TYPE_INTEGER, other, op);
        case TYPE_MONEY: {
            const Cell money = *other;   // the conversion pushes
            Cell* amount = float_::bridge(float_::bridges.money_from_integer)(get(value));
            i32 r = actions::compare_typed(amount, &money, op);
            stack::pop(1);
            return r;
        }
        default:
            return NOT_COMPARABLE;
    }
}

// The result keeps its datatype: absolute and random of a char! give a char!.
Cell* random_(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(get(value));
        cell::init(value, TYPE_UNSET);
        return value;
    }
    value->w2 = u32(random::int_(secure, get(value)));
    return value;
}

void absolute() { stack::arguments->w2 = u32(abs(get_arg())); }

void add() { do_math(MATH_ADD); }
void divide() { do_math(MATH_DIVIDE); }
void multiply() { do_math(MATH_MULTIPLY); }

Cell* negate(Cell* value) {
    i32 v = get(value);
    if (ZIR_UNLIKELY(v == INT32_MIN)) fire(ERR_MATH, "overflow");
    value->w2 = u32(-v);
    return value;
}

// Repeated squaring in 32 bits while the result fits; otherwise, and for a
// negative or float exponent, the float power of the base's double.
void power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    if (TYPE_OF(exponent) == TYPE_INTEGER && get(exponent) >= 0) {
        i32 result = 1, b = get(base);
        i32 e = get(exponent);
        bool fits = true;
        while (e != 0) {
            if ((e & 1) && __builtin_mul_overflow(result, b, &result)) {
                fits = false;
                break;
            }
            e >>= 1;
            if (e != 0 && __builtin_mul_overflow(b, b, &b)) {
                fits = false;
                break;
            }
        }
        if (fits) {
            base->w2 = u32(result);
            return;
        }
    }
    float_::make_at(base, double(get(base)));
    actions::get<action::Direct>(base, ACT_POWER)();
}

void remainder() { do_math(MATH_REMAINDER); }

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && TYPE_OF(scale) == TYPE_MONEY) float_::not_related_to_caller(TYPE_MONEY);
    if (scale && TYPE_OF(scale) != TYPE_INTEGER) {
        float_::make_at(value, double(get(value)));
        return float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    }
    i64 s = scale ? i64(get(scale)) : 1;
    value->w2 = u32(i32(round_value(get(value), s, even, down, half_down, floor, ceiling, half_ceiling)));
    return value;
}

void subtract() { do_math(MATH_SUBTRACT); }
bool even_q(const Cell* value) { return (value->w2 & 1) == 0; }
bool odd_q(const Cell* value) { return (value->w2 & 1) != 0; }
void and_() { do_math(MATH_AND); }

Cell* complement(Cell* value) {
    value->w2 = ~value->w2;
    return value;
}

void or_() { do_math(MATH_OR); }
void xor_() { do_math(MATH_XOR); }

}  // namespace

void init() {
    datatype::Registration r(TYPE_INTEGER, 0, "integer!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_RANDOM>(random_).on<ACT_TO>(to).on<ACT_FORM>(form);
    r.on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare).on<ACT_ABSOLUTE>(absolute).on<ACT_ADD>(add);
    r.on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply).on<ACT_NEGATE>(negate).on<ACT_POWER>(power);
    r.on<ACT_REMAINDER>(remainder).on<ACT_ROUND>(round).on<ACT_SUBTRACT>(subtract);
    r.on<ACT_EVEN_Q>(even_q).on<ACT_ODD_Q>(odd_q).on<ACT_AND_T>(and_).on<ACT_COMPLEMENT>(complement);
    r.on<ACT_OR_T>(or_).on<ACT_XOR_T>(xor_);
    datatype::register_(r);
}

}  // namespace integer
}  // namespace zir
