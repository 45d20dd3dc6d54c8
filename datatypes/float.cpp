// float!: see float.hpp.
#include "datatypes/float.hpp"

#include <cmath>
#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "loader/number.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/fault.hpp"
#include "runtime/memory.hpp"
#include "services/random.hpp"

namespace zir {
namespace float_ {

bool pretty_print_q = true;
bool full_support_q = false;
Bridges bridges = {};

namespace {

constexpr u64 SIGN_BIT = 0x8000000000000000ull;
constexpr u64 EXPONENT_BITS = 0x7FF0000000000000ull;
constexpr u64 MANTISSA_BITS = 0x000FFFFFFFFFFFFFull;

// The smallest and the largest magnitude a money! holds.
constexpr double MONEY_SMALLEST = 0.00001;
constexpr double MONEY_LIMIT = 1e17;

// The text `format` answers; 31 characters hold every layout it writes.
char text[32];

}  // namespace

// --- Values ------------------------------------------------------------------

Cell* box(double d) { return make_at(stack::arguments, d); }

Cell* make_at(Cell* c, double d) {
    c->header = TYPE_FLOAT;
    c->w1 = 0;
    cell::set_float(c, d);
    return c;
}

Cell* make_in(Cell* block, u32 high, u32 low) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_FLOAT);
    c->w2 = low;
    c->w3 = high;
    return c;
}

Cell* push(u32 high, u32 low) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_FLOAT);
    c->w2 = low;
    c->w3 = high;
    return c;
}

Cell* push_value(double d) { return make_at(stack::push_slot(), d); }

double fabs(double d) { return std::bit_cast<double>(std::bit_cast<u64>(d) & ~SIGN_BIT); }

bool nan_q(double d) {
    u64 bits = std::bit_cast<u64>(d);
    return (bits & EXPONENT_BITS) == EXPONENT_BITS && (bits & MANTISSA_BITS) != 0;
}

bool nan32_q(float f) { return f != f; }

bool not_finite_q(double d) { return (std::bit_cast<u64>(d) & EXPONENT_BITS) == EXPONENT_BITS; }

// --- Tolerant equality ----------------------------------------------------------

namespace {

// The bit pattern mapped to an unsigned key that orders as the doubles do.
u64 ordered_key(double d) {
    u64 bits = std::bit_cast<u64>(d);
    return (bits & SIGN_BIT) ? u64(0) - bits : bits | SIGN_BIT;
}

}  // namespace

bool almost_equal_q(double a, double b) {
    if (nan_q(a) || nan_q(b)) return false;
    if (a == b) return true;
    // An infinity's pattern lies one unit above the largest double: it equals
    // only itself.
    if (not_finite_q(a) || not_finite_q(b)) return false;
    if (std::fabs(a - b) < EPSILON) return true;
    u64 x = ordered_key(a), y = ordered_key(b);
    u64 gap = x > y ? x - y : y - x;
    return gap <= 10;
}

bool equal32_q(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    u32 x = std::bit_cast<u32>(a), y = std::bit_cast<u32>(b);
    u32 mx = x & 0x7FFFFFFF, my = y & 0x7FFFFFFF;
    if (mx >= 0x7F7FFFFF || my >= 0x7F7FFFFF) {
        if ((x ^ y) & 0x80000000) return false;
        return (mx > my ? mx - my : my - mx) < 0x100000;
    }
    // Two zeros of opposite signs compared equal above; the rest map the
    // negative patterns below the positive ones.
    i64 kx = (x & 0x80000000) ? i64(0x80000000) - i64(x) : i64(x);
    i64 ky = (y & 0x80000000) ? i64(0x80000000) - i64(y) : i64(y);
    return (kx > ky ? kx - ky : ky - kx) <= 10;
}

// --- Text ------------------------------------------------------------------------

namespace {

// What one pass over a formatted text found.
struct Scan {
    i32 length;
    bool dot;
    i32 e;           // position of the "e", -1 when none
    i32 exponent;    // position of the first exponent digit above "0", -1 when none
};

Scan scan(const char* t) {
    Scan s{0, false, -1, -1};
    for (const char* p = t; *p; p++) {
        if (*p == '.') s.dot = true;
        if (*p == 'e') s.e = i32(p - t);
        else if (s.e >= 0 && s.exponent < 0 && *p > '0' && *p <= '9') s.exponent = i32(p - t);
    }
    s.length = i32(std::strlen(t));
    return s;
}

void set_text(const char* t) {
    size_t n = std::strlen(t);
    if (n > sizeof text - 1) n = sizeof text - 1;   // every layout here is shorter
    std::memcpy(text, t, n);
    text[n] = 0;
}

// A 17-digit text whose last two digits are 01 or 99 is the binary error of a
// short decimal: it is written again with fewer digits (0.7999999999999999
// prints as 0.8). Answers true when it did.
bool tidy(double d, i32 kind, const Scan& s) {
    i32 end = s.e >= 0 ? s.e : s.length;
    bool long_text;
    if (s.e < 0) {
        i32 first = text[0] == '-' ? 1 : 0;
        long_text = s.length > 16 && (text[first] != '0' || s.length > 17);
    } else {
        long_text = s.e > 16;
    }
    if (!long_text || end < 2) return false;
    char a = text[end - 2], b = text[end - 1];
    if (!((a == '0' && b == '1') || (a == '9' && b == '9'))) return false;
    bool short_kind = kind == FORMAT_FLOAT32 || kind == FORMAT_TIME || kind == FORMAT_POINT;
    set_text(dtoa::form_general(d, short_kind ? 5 : 14));
    return true;
}

}  // namespace

const char* format(double d, i32 kind) {
    if (not_finite_q(d)) {
        set_text(nan_q(d) ? "1.#NaN" : d < 0 ? "-1.#INF" : "1.#INF");
        return text;
    }
    if (pretty_print_q && fabs(d) < EPSILON) {
        set_text(kind == FORMAT_PERCENT32 || kind == FORMAT_PERCENT ? "0%" : kind == FORMAT_POINT ? "0" : "0.0");
        return text;
    }
    switch (kind) {
        case FORMAT_FLOAT: set_text(dtoa::form_general(d, 16)); break;
        case FORMAT_PERCENT: set_text(dtoa::form_general(d, 13)); break;
        case FORMAT_TIME: set_text(dtoa::form_float(d, 6, false)); break;
        default: set_text(dtoa::form_general(d, 7)); break;
    }
    Scan s = scan(text);
    if (pretty_print_q && tidy(d, kind, s)) s = scan(text);
    if (s.exponent > 0) {
        // "1e+20" becomes "1e20", "1.5e-07" becomes "1.5e-7".
        i32 to = s.e + 1;
        if (text[to] == '-') to++;
        std::memmove(text + to, text + s.exponent, size_t(s.length - s.exponent + 1));
        s.length -= s.exponent - to;
    }
    if (kind == FORMAT_PERCENT32 || kind == FORMAT_PERCENT) {
        text[s.length] = '%';
        text[s.length + 1] = 0;
        return text;
    }
    if (kind != FORMAT_TIME && kind != FORMAT_POINT && !s.dot) {
        i32 at = s.e >= 0 ? s.e : s.length;
        std::memmove(text + at + 2, text + at, size_t(s.length - at + 1));
        text[at] = '.';
        text[at + 1] = '0';
    }
    return text;
}

// --- Arithmetic --------------------------------------------------------------------

double do_math_op(double a, double b, i32 op) {
    switch (op) {
        case MATH_ADD: return a + b;
        case MATH_SUBTRACT: return a - b;
        case MATH_MULTIPLY: return a * b;
        case MATH_DIVIDE: return a / b;
        case MATH_REMAINDER:
            if (nan_q(b)) return b;
            if (not_finite_q(b)) return not_finite_q(a) ? std::nan("") : a;
            return std::fmod(a, b);
        default: {
            Cell caller, type;
            stack::caller_name(&caller);
            datatype::make_at(&type, TYPE_FLOAT);
            fire(ERR_SCRIPT, "cannot-use", &caller, &type);
        }
    }
}

Cell* do_math(i32 op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    u32 lt = TYPE_OF(left), rt = TYPE_OF(right);
    double b;
    switch (rt) {
        case TYPE_CHAR:
            if (lt == TYPE_TIME || lt == TYPE_PERCENT) integer::invalid_operand(right);
            [[fallthrough]];
        case TYPE_INTEGER:
            b = double(integer::get(right));
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            b = get(right);
            break;
        case TYPE_MONEY:
            return integer::hand_to_core(TYPE_MONEY, op);
        case TYPE_TUPLE:
            // A tuple takes no number from which to subtract, by which to
            // divide or of which to take a remainder.
            if (op == MATH_SUBTRACT || op == MATH_DIVIDE || op == MATH_REMAINDER) integer::not_related(op, lt);
            return integer::hand_swapped(TYPE_TUPLE, op);
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (lt == TYPE_TIME) integer::invalid_operand(right);
            if (op == MATH_SUBTRACT || op == MATH_DIVIDE || op == MATH_REMAINDER) integer::not_related(op, rt);
            if (lt == TYPE_INTEGER) make_at(left, double(integer::get(left)));
            return integer::hand_swapped(rt, op);
        case TYPE_VECTOR:
            integer::hand_to_vector(op, right, left, left);
            return left;
        default:
            integer::invalid_operand(right);
    }
    double a = lt == TYPE_INTEGER ? double(integer::get(left)) : get(left);
    u32 type = (lt == TYPE_TIME || rt == TYPE_TIME) ? TYPE_TIME : lt == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
    cell::set_float(left, do_math_op(a, b, op));
    cell::set_type(left, type);
    left->w1 = 0;
    return left;
}

// --- Comparison -------------------------------------------------------------------

namespace {

// A float against money: beyond what money holds only the signs decide (a
// magnitude below the smallest amount lies between zero and every non-zero
// amount); within it the amount decides as money.
i32 compare_money(double a, const Cell* money, i32 op) {
    const Cell other = *money;   // the conversion pushes, which may move its buffer
    double m = fabs(a);
    if (nan_q(a)) {
        if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
        if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
        return equality_op_q(op) ? 1 : 0;
    }
    bool tiny = m > 0 && m < MONEY_SMALLEST;
    if (tiny || m >= MONEY_LIMIT) {
        if (equality_op_q(op)) return 1;
        if (!tiny) return a > 0 ? 1 : -1;
        Cell* zero = bridge(bridges.money_from_integer)(0);
        i32 r = actions::compare_typed(zero, &other, COMP_LESSER);
        stack::pop(1);
        if (r != 0) return r;
        return a > 0 ? 1 : -1;
    }
    Cell* amount = bridge(bridges.money_from_float)(a, true);
    i32 r = actions::compare_typed(amount, &other, op);
    stack::pop(1);
    return r;
}

}  // namespace

i32 compare_double(double a, u32 type, const Cell* other, i32 op) {
    u32 t = TYPE_OF(other);
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && t != type) return 1;
    double b;
    switch (t) {
        case TYPE_INTEGER: b = double(integer::get(other)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: b = get(other); break;
        case TYPE_MONEY: return compare_money(a, other, op);
        default: return NOT_COMPARABLE;
    }
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL: return almost_equal_q(a, b) ? 0 : 1;
        case COMP_STRICT_EQUAL: return a == b ? 0 : 1;
        case COMP_SAME: return std::bit_cast<u64>(a) == std::bit_cast<u64>(b) ? 0 : 1;
        default:
            // Sorting and find see a NaN as equal to anything; an ordering
            // with a NaN is false either way.
            if (a != a || b != b) {
                if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
                if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
                return 0;
            }
            return a < b ? -1 : a > b ? 1 : 0;
    }
}

// --- Rounding -------------------------------------------------------------------------

void not_related_to_caller(u32 type) {
    Cell caller, datatype;
    stack::caller_name(&caller);
    datatype::make_at(&datatype, type);
    fire(ERR_SCRIPT, "not-related", &caller, &datatype);
}

double round_unit(u32 value_type, const Cell* scale) {
    bool percent = value_type == TYPE_PERCENT;
    if (!scale) return percent ? 0.01 : 1.0;
    double s;
    switch (TYPE_OF(scale)) {
        case TYPE_INTEGER: s = double(integer::get(scale)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: s = get(scale); break;
        case TYPE_MONEY: not_related_to_caller(TYPE_MONEY);
        default: {
            // The action's spec lets no other scale through; from C++ it
            // would be a payload read as a number.
            Cell caller, type, argument;
            stack::caller_name(&caller);
            datatype::make_at(&type, TYPE_OF(scale));
            series::make_word(&argument, symbol::make("scale"));
            fire(ERR_SCRIPT, "expect-arg", &caller, &type, &argument);
        }
    }
    s = fabs(s);
    return percent ? s / 100.0 : s;
}

double round_to_unit(double v, double s, RoundMode mode) {
    if (exact_at_unit_q(v, s)) return v;
    double inverse = 1.0 / s;
    // A unit whose inverse overflows is divided by directly; the test above
    // keeps that quotient small.
    bool scaled = s < 1.0 && !not_finite_q(inverse);
    double q = scaled ? v * inverse : v / s;
    double f = std::floor(std::fabs(q));
    double m = f + 0.5;
    double away = std::ceil(std::fabs(q));
    auto with_sign = [q](double x) { return q < 0 ? -x : x; };
    double r;
    if (mode.down) r = with_sign(f);
    else if (mode.floor) r = std::floor(q);
    else if (mode.ceiling) r = std::ceil(q);
    else if (std::fabs(q) > m) r = with_sign(away);
    else if (std::fabs(q) < m) r = with_sign(f);
    else if (mode.even) r = with_sign(std::fmod(std::fabs(q), 2.0) < 1.0 ? f : away);
    else if (mode.half_down) r = with_sign(f);
    else if (mode.half_ceiling) r = std::ceil(q);
    else r = with_sign(away);
    if (scaled) return r / inverse;
    double result = r * s;
    if (s >= 1.0 && std::fabs(result) > 1.7976931348623157e308) fire(ERR_MATH, "overflow");
    return result;
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    double v = get(value);
    double s = round_unit(TYPE_OF(value), scale);
    if (exact_at_unit_q(v, s)) return value;
    double r = round_to_unit(v, s, RoundMode{even, down, half_down, floor, ceiling, half_ceiling});
    if (scale && TYPE_OF(scale) == TYPE_INTEGER) {
        // An integer scale asks for an integer!, which must hold the result.
        if (!(r > -2147483649.0 && r < 2147483648.0)) fire(ERR_MATH, "overflow");
        integer::make_at(value, i32(r));
        value->w3 = 0;
        return value;
    }
    cell::set_float(value, r);
    if (scale) cell::set_type(value, TYPE_OF(scale));
    return value;
}

// --- Random ----------------------------------------------------------------------------

double random_in(double max, bool secure) {
    // The bound times the draw overflows for the largest doubles before it is
    // divided down; those take the fraction first (the others keep the
    // product's rounding).
    if (!secure) {
        double r = double(random::genrand());
        double d = max * r / 2147483647.0;
        return std::isfinite(d) || !std::isfinite(max) ? d : max * (r / 2147483647.0);
    }
    double r1 = double(random::secure_bytes()), r2 = double(random::secure_bytes());
    double t = r2 + r1 / 2147483647.0;
    double d = t * max / 2147483648.0;
    return std::isfinite(d) || !std::isfinite(max) ? d : max * (t / 2147483648.0);
}

// --- make and to ----------------------------------------------------------------------------

namespace {

[[noreturn]] void bad_to_arg(u32 type, const Cell* spec) {
    Cell datatype;
    datatype::make_at(&datatype, type);
    fire(ERR_SCRIPT, "bad-to-arg", &datatype, spec);
}

// The text of a string value from its head, as the float reader takes it.
double text_to_float(const Cell* spec, bool* ok) {
    i32 n = string::zs_length(spec);
    if (n <= 0) {
        *ok = false;
        return 0;
    }
    SeriesBuffer* s = series::buffer_of(spec);
    i32 error;
    double d = lexer::string_to_float(series::element_at(s, series::head_index(spec)), n, series::unit_of(s), &error);
    *ok = error == 0;
    return d;
}

// A text loaded by the lexer must hold exactly one number.
double loaded_number(const Cell* spec, u32 type) {
    Cell* loaded = stack::push_slot();
    cell::init(loaded, TYPE_UNSET);
    if (!block::load_text_q(spec, loaded) || block::zs_length_q(loaded) != 1) bad_to_arg(type, spec);
    const Cell* v = block::cell_at(loaded->w2, loaded->w1);
    double d;
    switch (TYPE_OF(v)) {
        case TYPE_INTEGER: d = double(integer::get(v)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: d = get(v); break;
        default: bad_to_arg(type, spec);
    }
    stack::pop(1);
    return d;
}

// The first up to 8 bytes from the head, big-endian; fewer fill the low end.
u64 leading_bytes(const Cell* spec, i32 most) {
    SeriesBuffer* s = series::buffer_of(spec);
    i64 avail = i64(series::used_bytes(s)) - i64(spec->w1);
    if (avail > most) avail = most;
    u64 bits = 0;
    const u8* p = series::head(s) + spec->w1;
    for (i64 i = 0; i < avail; i++) bits = (bits << 8) | p[i];
    return bits;
}

// [mantissa exponent]: mantissa x 10 ** exponent truncated.
double from_pair_block(const Cell* spec, u32 type) {
    if (block::zs_length_q(spec) != 2) bad_to_arg(type, spec);
    double parts[2];
    for (i32 i = 0; i < 2; i++) {
        const Cell* item = block::cell_at(spec->w2, i64(spec->w1) + i);
        if (TYPE_OF(item) == TYPE_INTEGER) parts[i] = double(integer::get(item));
        else if (TYPE_OF(item) == TYPE_FLOAT) parts[i] = get(item);
        else bad_to_arg(TYPE_FLOAT, item);
    }
    return parts[0] * std::pow(10.0, std::trunc(parts[1]));
}

}  // namespace

Cell* make(Cell*, Cell* spec, u32 type) {
    u32 t = TYPE_OF(spec);
    double d;
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_CHAR: d = double(integer::get(spec)); break;
        case TYPE_MONEY: d = bridge(bridges.money_to_float)(spec); break;
        case TYPE_TIME: d = get(spec); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            cell::set_type(spec, type);
            return spec;
        case TYPE_BINARY: d = std::bit_cast<double>(leading_bytes(spec, 8)); break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: d = from_pair_block(spec, type); break;
        default:
            if (!any_text_q(t)) bad_to_arg(type, spec);
            if (type == TYPE_PERCENT) {
                d = loaded_number(spec, type);
            } else {
                bool ok;
                d = text_to_float(spec, &ok);
                if (!ok) bad_to_arg(type, spec);
            }
            break;
    }
    cell::init(spec, type);
    cell::set_float(spec, d);
    return spec;
}

i32 to_integer_checked(const Cell* value) {
    if (TYPE_OF(value) != TYPE_FLOAT) return i32(value->w2);
    double d = get(value);
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) fire(ERR_SCRIPT, "out-of-range", value);
    return i32(std::trunc(d));
}

// --- Actions ------------------------------------------------------------------------------------

namespace {

Cell* random_(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(i32(value->w2 ^ value->w3));
        cell::init(value, TYPE_UNSET);
        return value;
    }
    cell::set_float(value, random_in(get(value), secure));
    return value;
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    const char* t = format(get(value), FORMAT_FLOAT);
    i32 n = i32(std::strlen(t));
    string::append_bytes(buffer, reinterpret_cast<const u8*>(t), n);
    return part - n;
}

// Shortest digits that read back to the same double.
i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell*, i32 part, i32) {
    const char* t = dtoa::form_float(get(value), 0, true);
    i32 n = i32(std::strlen(t));
    string::append_bytes(buffer, reinterpret_cast<const u8*>(t), n);
    return part - n;
}

i32 compare(const Cell* value, const Cell* other, i32 op) { return compare_double(get(value), TYPE_OF(value), other, op); }

void absolute() { cell::set_float(stack::arguments, fabs(get(stack::arguments))); }
void add() { do_math(MATH_ADD); }
void divide() { do_math(MATH_DIVIDE); }
void multiply() { do_math(MATH_MULTIPLY); }

Cell* negate(Cell* value) {
    cell::set_float(value, 0.0 - get(value));
    return value;
}

void power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    if (TYPE_OF(exponent) == TYPE_INTEGER) {
        make_at(exponent, double(integer::get(exponent)));
    } else if (TYPE_OF(exponent) != TYPE_FLOAT) {
        Cell caller, type, argument;
        stack::caller_name(&caller);
        datatype::make_at(&type, TYPE_OF(exponent));
        series::make_word(&argument, symbol::make("exponent"));
        fire(ERR_SCRIPT, "expect-arg", &caller, &type, &argument);
    }
    cell::set_float(base, std::pow(get(base), get(exponent)));
}

void remainder() { do_math(MATH_REMAINDER); }
void subtract() { do_math(MATH_SUBTRACT); }

// Bit 0 of the value truncated toward zero. Above 2^53 every double is an even
// integer; the values that are no numbers count as even, as their integer
// conversion's indefinite value (only its top bit set) is.
bool odd_q(const Cell* value) {
    double d = get(value);
    if (not_finite_q(d)) return false;
    return std::fmod(std::trunc(d), 2.0) != 0.0;
}
bool even_q(const Cell* value) { return !odd_q(value); }

}  // namespace

void init() {
    datatype::Registration r(TYPE_FLOAT, 0, "float!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_RANDOM>(random_).on<ACT_TO>(make).on<ACT_FORM>(form);
    r.on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare).on<ACT_ABSOLUTE>(absolute).on<ACT_ADD>(add);
    r.on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply).on<ACT_NEGATE>(negate).on<ACT_POWER>(power);
    r.on<ACT_REMAINDER>(remainder).on<ACT_ROUND>(round).on<ACT_SUBTRACT>(subtract);
    r.on<ACT_EVEN_Q>(even_q).on<ACT_ODD_Q>(odd_q);
    datatype::register_(r);
}

}  // namespace float_
}  // namespace zir
