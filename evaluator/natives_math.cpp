// The math natives: max, min, shift, to-hex, trigonometry, logarithms, exp,
// square-root, NaN?, zero?, and the makers as-pair, as-point2D, as-point3D
// and as-money.
//
// Angles are in degrees unless /radians is given. A degree angle is first
// folded into -90..90 (sine, tangent) or -180..180 (cosine) so that the exact
// angles give exact results: `sine 180` is 0.0, `tangent 90` an infinity.
// Every conversion of a float to an integer is checked first: a float out of
// the 32-bit range (or not finite) is an error, never a wrapped value.
#include <cmath>

#include "datatypes/char.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace natives {

namespace {

constexpr double PI = 3.141592653589793;
// Sine and cosine results below this are rounding noise of an exact zero.
constexpr double TINY = 2.220446049250313e-16;
constexpr double LN2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

// --- Helpers -------------------------------------------------------------------

bool float_like_q(u32 t) { return t == TYPE_FLOAT || t == TYPE_PERCENT; }
bool number_q(u32 t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }

// The first argument made a float!: an integer! converted, a percent!
// retyped; answers its value.
double arg_to_float() {
    Cell* c = stack::arguments;
    if (TYPE_OF(c) == TYPE_INTEGER) float_::make_at(c, double(integer::get(c)));
    else cell::set_type(c, TYPE_FLOAT);
    return float_::get(c);
}

double number_to_double(const Cell* c) {
    return TYPE_OF(c) == TYPE_INTEGER ? double(integer::get(c)) : float_::get(c);
}

// Whether a float truncates to a 32-bit integer without leaving the range
// (NaN and the infinities do not).
bool fits_i32_q(double d) { return d > -2147483649.0 && d < 2147483648.0; }

// An integer!'s value, or a float! truncated toward zero.
i32 number_to_int(const Cell* c) {
    if (TYPE_OF(c) == TYPE_INTEGER) return integer::get(c);
    double d = float_::get(c);
    if (!fits_i32_q(d)) {
        Cell t;
        datatype::make_at(&t, TYPE_INTEGER);
        fire(ERR_SCRIPT, "type-limit", &t);
    }
    return i32(d);
}

void answer_float(double d) {
    float_::make_at(stack::arguments, d);
    stack::keep();
}

void answer_logic(bool b) {
    logic::box(b);
    stack::keep();
}

// The angle in degrees folded, then in radians. Mode 0 tangent, 1 cosine,
// 2 sine.
double degree_to_radians(double a, i32 mode) {
    a = std::fmod(a, 360.0);
    if (a > 180.0 || a < -180.0) a = a >= 0.0 ? a - 360.0 : a + 360.0;
    if (a > 90.0 || a < -90.0) {
        if (mode == 0) a = a >= 0.0 ? a - 180.0 : a + 180.0;
        else if (mode == 2) a = a >= 0.0 ? 180.0 - a : -180.0 - a;
    }
    return a * PI / 180.0;
}

double trig_arg(const i32* r, i32 mode) {
    double a = arg_to_float();
    return r[0] < 0 ? degree_to_radians(a, mode) : a;
}

// --- Trigonometry ----------------------------------------------------------------

i32 sine(i32 check, const i32* r) {
    if (check) check_args(55, r);
    double s = std::sin(trig_arg(r, 2));
    answer_float(std::fabs(s) < TINY ? 0.0 : s);
    return 0;
}

i32 cosine(i32 check, const i32* r) {
    if (check) check_args(56, r);
    double c = std::cos(trig_arg(r, 1));
    answer_float(std::fabs(c) < TINY ? 0.0 : c);
    return 0;
}

i32 tangent(i32 check, const i32* r) {
    if (check) check_args(57, r);
    double a = trig_arg(r, 0);
    answer_float(a == PI / 2 ? INFINITY : a == -PI / 2 ? -INFINITY : std::tan(a));
    return 0;
}

template <i32 Slot, double (*F)(double)>
i32 arc_trig(i32 check, const i32* r) {
    if (check) check_args(Slot, r);
    double a = F(arg_to_float());
    answer_float(r[0] < 0 ? a * 180.0 / PI : a);
    return 0;
}

double asin_(double d) { return std::asin(d); }
double acos_(double d) { return std::acos(d); }
double atan_(double d) { return std::atan(d); }

i32 arctangent2(i32 check, const i32* r) {
    if (check) check_args(61, r);
    double a = std::atan2(number_to_double(stack::arguments), number_to_double(stack::arguments + 1));
    answer_float(r[0] < 0 ? a * 180.0 / PI : a);
    return 0;
}

// --- Logarithms and powers ----------------------------------------------------------

double log2_(double d) { return std::log(d) / LN2; }
double log10_(double d) { return std::log10(d); }
double loge_(double d) { return std::log(d); }
double exp_(double d) { return std::pow(E, d); }
double sqrt_(double d) { return std::sqrt(d); }

template <i32 Slot, double (*F)(double)>
i32 float_fn(i32 check, const i32* r) {
    if (check) check_args(Slot, r);
    answer_float(F(arg_to_float()));
    return 0;
}

i32 nan_q(i32 check, const i32* r) {
    if (check) check_args(62, r);
    const Cell* v = stack::arguments;
    answer_logic(float_like_q(TYPE_OF(v)) && std::isnan(float_::get(v)));
    return 0;
}

// --- Integers ------------------------------------------------------------------

i32 shift(i32 check, const i32* r) {
    if (check) check_args(53, r);
    i32 data = integer::get(stack::arguments);
    i32 bits = integer::get(stack::arguments + 1);
    if (bits < 0) bits = 0;
    i32 result;
    if (r[0] >= 0) result = bits > 31 ? 0 : i32(u32(data) << bits);
    else if (r[1] >= 0) result = bits > 31 ? 0 : i32(u32(data) >> bits);
    else result = bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
    integer::make_at(stack::arguments, result);
    stack::keep();
    return 0;
}

i32 to_hex(i32 check, const i32* r) {
    if (check) check_args(54, r);
    static const char digits[] = "0123456789ABCDEF";
    u32 v = u32(integer::get(stack::arguments));
    char text[8];
    for (i32 i = 7; i >= 0; i--, v >>= 4) text[i] = digits[v & 15];
    i32 keep = 8;
    if (r[0] >= 0) {
        const Cell* length = stack::arguments + r[0];
        i32 n = integer::get(length);
        if (n < 1) fire(ERR_SCRIPT, "invalid-arg", length);
        if (n < 8) keep = n;
    }
    issue::make_at(stack::arguments, std::string_view(text + 8 - keep, size_t(keep)));
    stack::keep();
    return 0;
}

// --- Makers --------------------------------------------------------------------

i32 as_pair(i32 check, const i32* r) {
    if (check) check_args(73, r);
    i32 xy[2];
    for (i32 i = 0; i < 2; i++) {
        const Cell* c = stack::arguments + i;
        if (TYPE_OF(c) == TYPE_FLOAT && !fits_i32_q(float_::get(c))) fire(ERR_SCRIPT, "invalid-arg", c);
        xy[i] = number_to_int(c);
    }
    pair::make_at(stack::arguments, xy[0], xy[1]);
    stack::keep();
    return 0;
}

i32 as_point2d(i32 check, const i32* r) {
    if (check) check_args(74, r);
    float x = point::to_single(number_to_double(stack::arguments));
    float y = point::to_single(number_to_double(stack::arguments + 1));
    point2D::make_at(stack::arguments, x, y);
    stack::keep();
    return 0;
}

i32 as_point3d(i32 check, const i32* r) {
    if (check) check_args(75, r);
    float x = point::to_single(number_to_double(stack::arguments));
    float y = point::to_single(number_to_double(stack::arguments + 1));
    float z = point::to_single(number_to_double(stack::arguments + 2));
    point3D::make_at(stack::arguments, x, y, z);
    stack::keep();
    return 0;
}

i32 as_money(i32 check, const i32* r) {
    if (check) check_args(76, r);
    const Cell* word = stack::arguments;
    i32 currency = money::currency_index(word);
    if (currency < 0) fire(ERR_SCRIPT, "bad-denom", word);
    const Cell* amount = stack::arguments + 1;
    Cell* m = TYPE_OF(amount) == TYPE_INTEGER ? money::from_integer(integer::get(amount))
                                              : money::from_float(float_::get(amount), false);
    money::set_currency(m, u32(currency));
    stack::set_last(m);
    stack::keep();
    return 0;
}

i32 zero_q(i32 check, const i32* r) {
    if (check) check_args(100, r);
    const Cell* v = stack::arguments;
    bool zero = false;
    switch (TYPE_OF(v)) {
        case TYPE_MONEY: zero = money::zero_q(v); break;
        case TYPE_CHAR: zero = char_::get(v) == 0; break;
        case TYPE_INTEGER: zero = integer::get(v) == 0; break;
        case TYPE_TIME:
        case TYPE_PERCENT:
        case TYPE_FLOAT: zero = cell::get_float(v) == 0.0; break;
        case TYPE_PAIR: zero = pair::x_of(v) == 0 && pair::y_of(v) == 0; break;
        case TYPE_POINT2D: zero = point2D::x_of(v) == 0.0f && point2D::y_of(v) == 0.0f; break;
        case TYPE_POINT3D:
            zero = point3D::x_of(v) == 0.0f && point3D::y_of(v) == 0.0f && point3D::z_of(v) == 0.0f;
            break;
        case TYPE_TUPLE: zero = tuple::all_zero_q(v); break;
        default: break;
    }
    answer_logic(zero);
    return 0;
}

// --- max and min -----------------------------------------------------------------

// The greater (or lesser) of two single components; a NaN other wins.
float pick32(float c, float o, bool greater) {
    if (std::isnan(o)) return o;
    return greater ? (o > c ? o : c) : (o < c ? o : c);
}

i32 pick_int(i32 c, i32 o, bool greater) { return greater ? (o > c ? o : c) : (o < c ? o : c); }

// Component i (0..2) of a point, pair or number as a single.
float component(const Cell* c, i32 i) {
    switch (TYPE_OF(c)) {
        case TYPE_PAIR: return float(i == 0 ? pair::x_of(c) : pair::y_of(c));
        case TYPE_POINT2D: return point::get(i == 0 ? c->w1 : c->w2);
        case TYPE_POINT3D: return point::get(i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3);
        default: return point::to_single(number_to_double(c));
    }
}

// The composite value `a` (pair!, a point, tuple!) with `b`; false when the
// two have no component rule (left to the plain comparison).
bool max_min_composite(Cell* a, const Cell* b, bool greater) {
    u32 ta = TYPE_OF(a), tb = TYPE_OF(b);
    bool number = tb == TYPE_INTEGER || tb == TYPE_FLOAT;
    if (ta == TYPE_PAIR) {
        if ((tb == TYPE_FLOAT && !fits_i32_q(float_::get(b))) || tb == TYPE_POINT2D) {
            pair::to_point2D(a);
            return max_min_composite(a, b, greater);
        }
        if (number) {
            i32 n = number_to_int(b);
            pair::make_at(a, pick_int(pair::x_of(a), n, greater), pick_int(pair::y_of(a), n, greater));
            return true;
        }
        if (tb == TYPE_PAIR) {
            pair::make_at(a, pick_int(pair::x_of(a), pair::x_of(b), greater),
                          pick_int(pair::y_of(a), pair::y_of(b), greater));
            return true;
        }
        return false;
    }
    if (ta == TYPE_POINT2D || ta == TYPE_POINT3D) {
        if (!(number || tb == TYPE_PAIR || tb == ta)) return false;
        i32 n = ta == TYPE_POINT2D ? 2 : 3;
        if (tb == TYPE_PAIR && n == 3) return false;
        u32* words[3] = {&a->w1, &a->w2, &a->w3};
        for (i32 i = 0; i < n; i++) *words[i] = point::put(pick32(point::get(*words[i]), component(b, i), greater));
        return true;
    }
    if (ta == TYPE_TUPLE) {
        i32 len = tuple::length_of(a);
        if (number) {
            i32 n = number_to_int(b);
            n = n < 0 ? 0 : n > 255 ? 255 : n;
            for (i32 i = 0; i < len; i++) tuple::set_byte(a, i, u8(pick_int(tuple::byte_at(a, i), n, greater)));
            return true;
        }
        if (tb == TYPE_TUPLE && tuple::length_of(b) == len) {
            for (i32 i = 0; i < len; i++)
                tuple::set_byte(a, i, u8(pick_int(tuple::byte_at(a, i), tuple::byte_at(b, i), greater)));
            return true;
        }
    }
    return false;
}

bool composite_q(u32 t) { return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TUPLE; }

void max_min(bool greater) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    u32 ta = TYPE_OF(a), tb = TYPE_OF(b);
    if (float_like_q(ta) && std::isnan(float_::get(a)) && number_q(tb)) {
        stack::keep();
        return;
    }
    if (float_like_q(tb) && std::isnan(float_::get(b)) && number_q(ta)) {
        stack::set_last(b);
        stack::keep();
        return;
    }
    if ((ta == TYPE_INTEGER || ta == TYPE_FLOAT) && composite_q(tb)) {
        Cell t = *a;
        *a = *b;
        *b = t;
    }
    if (composite_q(TYPE_OF(a))) {
        Cell result = *a;
        if (max_min_composite(&result, b, greater)) {
            stack::set_last(&result);
            stack::keep();
            return;
        }
    }
    bool less = actions::compare(a, b, COMP_LESSER);
    if (greater ? less : !less) stack::set_last(b);
    stack::keep();
}

i32 max_(i32 check, const i32* r) {
    if (check) check_args(51, r);
    max_min(true);
    return 0;
}

i32 min_(i32 check, const i32* r) {
    if (check) check_args(52, r);
    max_min(false);
    return 0;
}

}  // namespace

void fill_math(action::Generic* slots) {
    auto put = [&](i32 slot, Entry e) { slots[slot - 1] = reinterpret_cast<action::Generic>(e); };
    put(51, max_);
    put(52, min_);
    put(53, shift);
    put(54, to_hex);
    put(55, sine);
    put(56, cosine);
    put(57, tangent);
    put(58, arc_trig<58, asin_>);
    put(59, arc_trig<59, acos_>);
    put(60, arc_trig<60, atan_>);
    put(61, arctangent2);
    put(62, nan_q);
    put(63, float_fn<63, log2_>);
    put(64, float_fn<64, log10_>);
    put(65, float_fn<65, loge_>);
    put(66, float_fn<66, exp_>);
    put(67, float_fn<67, sqrt_>);
    put(73, as_pair);
    put(74, as_point2d);
    put(75, as_point3d);
    put(76, as_money);
    put(100, zero_q);
}

}  // namespace natives
}  // namespace zir
