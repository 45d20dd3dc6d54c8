// money!: see money.hpp.
#include "datatypes/money.hpp"

#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/fire.hpp"
#include "services/random.hpp"

namespace zir {
namespace money {

LocaleField locale_currencies = nullptr;
LocaleField option_money_digits = nullptr;
StringToMoney string_to_money = nullptr;

namespace {

constexpr Magnitude pow10(int n) {
    Magnitude m = 1;
    for (int i = 0; i < n; i++) m *= 10;
    return m;
}

constexpr Magnitude LIMIT = pow10(DIGITS);            // every magnitude lies below
constexpr Magnitude ONE = pow10(FRACTION_DIGITS);     // $1
// A product of magnitudes whose digit lengths sum to more than this holds more
// than 17 integral digits; below it the product fits 128 bits.
constexpr i32 PRODUCT_DIGITS = 28;

// The smallest and the largest float magnitude that converts.
constexpr double SMALLEST = 0.00001;
constexpr double TOO_LARGE = 1e17;

// The amount of a cell as sign and magnitude.
struct Amount {
    bool negative;
    Magnitude m;
};

Amount amount_of(const Cell* c) { return {get_sign(c), magnitude_of(c)}; }

i32 decimal_length(Magnitude m) {
    i32 n = 1;
    while (m >= 10) {
        m /= 10;
        n++;
    }
    return n;
}

[[noreturn]] void type_limit(u32 type) {
    Cell t;
    datatype::make_at(&t, type);
    fire(ERR_SCRIPT, "type-limit", &t);
}

[[noreturn]] void bad_arg(const char* id, const Cell* value) {
    Cell t;
    datatype::make_at(&t, TYPE_MONEY);
    fire(ERR_SCRIPT, id, &t, value);
}

[[noreturn]] void bad_float(double x) {
    Cell f;
    float_::make_at(&f, x);
    bad_arg("bad-make-arg", &f);
}

// A fresh money! cell: no currency, the amount given.
Cell* write(Cell* c, bool negative, Magnitude m) {
    cell::init(c, TYPE_MONEY);
    set_magnitude(c, m);
    set_sign(c, negative && m != 0);
    return c;
}

void set_from_integer(Cell* c, i32 n) {
    i64 v = n;
    write(c, v < 0, Magnitude(u64(v < 0 ? -v : v)) * ONE);
}

void set_from_float(Cell* c, double x, bool strict) {
    double a = std::fabs(x);
    if (!std::isfinite(x) || (a > 0 && a < SMALLEST) || a >= TOO_LARGE) bad_float(x);
    // The shortest text that reads back as x: the decimal the float was
    // written as, so 0.1 is $0.10 and 2.675 is $2.675.
    const char* text = dtoa::form_float(x, 0, true);
    const char* point = std::strchr(text, '.');
    size_t n = std::strlen(text);
    if (strict && point && text + n - point - 1 > FRACTION_DIGITS) bad_float(x);
    const u8* begin = reinterpret_cast<const u8*>(text);
    bool negative = text[0] == '-';
    if (!make_at(c, negative, nullptr, begin + (negative ? 1 : 0), reinterpret_cast<const u8*>(point), begin + n))
        bad_float(x);
    if (zero_q(c)) set_sign(c, false);
}

}  // namespace

// --- Digits -----------------------------------------------------------------------

i32 get_digit(const u8* area, i32 position) {
    u8 b = area[(position - 1) / 2];
    return (position & 1) ? b >> 4 : b & 0xF;
}

void set_digit(u8* area, i32 position, i32 digit) {
    u8& b = area[(position - 1) / 2];
    b = (position & 1) ? u8((b & 0x0F) | (digit << 4)) : u8((b & 0xF0) | digit);
}

i32 digit_length(const u8* area) {
    for (i32 p = 1; p <= DIGITS; p++)
        if (get_digit(area, p) != 0) return DIGITS - p + 1;
    return 1;
}

bool zero_digits_q(const u8* area) {
    for (i32 i = 0; i < DIGIT_BYTES; i++)
        if (area[i]) return false;
    return true;
}

i32 compare_digits(const u8* a, const u8* b) {
    // Packed decimal orders as its bytes do.
    i32 r = std::memcmp(a, b, DIGIT_BYTES);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

Magnitude magnitude_of(const Cell* c) {
    const u8* area = digit_area(c);
    Magnitude m = 0;
    for (i32 i = 0; i < DIGIT_BYTES; i++) m = m * 100 + (area[i] >> 4) * 10 + (area[i] & 0xF);
    return m;
}

void set_magnitude(Cell* c, Magnitude m) {
    u8* area = digit_area(c);
    for (i32 i = DIGIT_BYTES - 1; i >= 0; i--) {
        u32 low = u32(m % 10);
        m /= 10;
        u32 high = u32(m % 10);
        m /= 10;
        area[i] = u8((high << 4) | low);
    }
}

i32 sign_q(const Cell* c) {
    if (zero_digits_q(digit_area(c))) return 0;
    return get_sign(c) ? -1 : 1;
}

// --- Currencies --------------------------------------------------------------------

namespace {

const Cell* currency_list() {
    const Cell* list = locale_currencies ? locale_currencies() : nullptr;
    return list && any_block_q(TYPE_OF(list)) ? list : nullptr;
}

}  // namespace

i32 currency_index(const Cell* word) {
    const Cell* list = currency_list();
    if (!list || !any_word_q(TYPE_OF(word))) return -1;
    i32 wanted = symbol::resolve(i32(word->w2));
    i32 n = block::zs_length_q(list);
    // An index must fit the cell's currency byte.
    if (n > 255) n = 255;
    for (i32 i = 0; i < n; i++) {
        const Cell* c = block::cell_at(list->w2, i64(list->w1) + i);
        if (any_word_q(TYPE_OF(c)) && symbol::resolve(i32(c->w2)) == wanted) return i + 1;
    }
    return -1;
}

const Cell* currency_word(u32 index) {
    const Cell* list = currency_list();
    if (!list || index < 1 || i64(index) > block::zs_length_q(list)) return nullptr;
    const Cell* c = block::cell_at(list->w2, i64(list->w1) + index - 1);
    return any_word_q(TYPE_OF(c)) ? c : nullptr;
}

bool currency_compatible_q(const Cell* a, const Cell* b, bool strict) {
    u32 x = get_currency(a), y = get_currency(b);
    return x == y || (!strict && (x == 0 || y == 0));
}

// --- Values ------------------------------------------------------------------------

Cell* make_at(Cell* c, bool negative, const Cell* currency, const u8* digits, const u8* point, const u8* end) {
    i32 index = 0;
    if (currency && TYPE_OF(currency) != TYPE_NONE) {
        index = currency_index(currency);
        if (index < 0) return nullptr;
    }
    Magnitude m = 0;
    i32 significant = 0;
    for (const u8* p = digits; p < (point ? point : end); p++) {
        if (*p == '\'') continue;
        if (*p < '0' || *p > '9') return nullptr;
        if (significant == 0 && *p == '0') continue;
        // More integral digits than the cell holds: the caller raises its error.
        if (++significant > INTEGRAL_DIGITS) return nullptr;
        m = m * 10 + (*p - '0');
    }
    m *= ONE;
    if (point) {
        Magnitude scale = ONE;
        for (const u8* p = point + 1; p < end; p++) {
            if (*p == '\'') continue;
            if (*p < '0' || *p > '9') return nullptr;
            if (scale == 1) continue;   // digits past the fifth are cut
            scale /= 10;
            m += (*p - '0') * scale;
        }
    }
    cell::init(c, TYPE_MONEY);
    set_magnitude(c, m);
    set_sign(c, negative);
    set_currency(c, u32(index));
    return c;
}

Cell* make_raw(Cell* c, bool negative, u32 currency, const u8* digits) {
    cell::init(c, TYPE_MONEY);
    std::memcpy(digit_area(c), digits, DIGIT_BYTES);
    set_sign(c, negative);
    set_currency(c, currency);
    return c;
}

Cell* push_raw(bool negative, u32 currency, const u8* digits) {
    return make_raw(stack::push_slot(), negative, currency, digits);
}

Cell* from_integer(i32 n) {
    Cell* c = stack::push_slot();
    set_from_integer(c, n);
    return c;
}

Cell* from_float(double x, bool strict) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    set_from_float(c, x, strict);
    return c;
}

i32 to_integer(const Cell* c) {
    Amount a = amount_of(c);
    Magnitude whole = a.m / ONE;
    if (whole > (a.negative ? Magnitude(2147483648u) : Magnitude(2147483647u))) type_limit(TYPE_INTEGER);
    i64 v = i64(u64(whole));
    return i32(a.negative ? -v : v);
}

namespace {

// The digits of a magnitude as text: the integral part (at least "0"), then
// "." and all five fractional digits.
std::string plain_digits(Magnitude m) {
    std::string whole;
    Magnitude w = m / ONE;
    do {
        whole.insert(whole.begin(), char('0' + u32(w % 10)));
        w /= 10;
    } while (w != 0);
    char fraction[FRACTION_DIGITS + 1];
    Magnitude f = m % ONE;
    for (i32 i = FRACTION_DIGITS - 1; i >= 0; i--) {
        fraction[i] = char('0' + u32(f % 10));
        f /= 10;
    }
    fraction[FRACTION_DIGITS] = 0;
    return whole + "." + fraction;
}

}  // namespace

double to_float(const Cell* c) {
    Amount a = amount_of(c);
    if (a.m == 0) return 0.0;
    std::string text = plain_digits(a.m);
    i64 unconsumed = 0;
    double d = dtoa::string_to_float(text.data(), text.data() + text.size(), 0, &unconsumed);
    if (unconsumed != 0) {
        Cell t, v = *c;
        datatype::make_at(&t, TYPE_FLOAT);
        fire(ERR_SCRIPT, "bad-make-arg", &t, &v);
    }
    return a.negative ? -d : d;
}

// --- Text -------------------------------------------------------------------------------

i32 form_digits(const Cell* value, Cell* buffer, i32 part, bool all, bool group) {
    std::string text;
    if (sign_q(value) < 0) text += '-';
    u32 currency = get_currency(value);
    if (currency != 0) {
        if (const Cell* word = currency_word(currency)) text += symbol::spelling(i32(word->w2));
    }
    text += '$';
    Magnitude m = magnitude_of(value);
    std::string digits = plain_digits(m);
    size_t point = digits.find('.');
    std::string whole = digits.substr(0, point);
    if (group) {
        // A mark after the digits at positions 2, 5, 8, 11 and 14: every
        // three digits counted from the units.
        std::string grouped;
        for (size_t i = 0; i < whole.size(); i++) {
            if (i > 0 && (whole.size() - i) % 3 == 0) grouped += '\'';
            grouped += whole[i];
        }
        whole = grouped;
    }
    text += whole;
    i32 shown = 2;
    const Cell* option = option_money_digits ? option_money_digits() : nullptr;
    if (option && TYPE_OF(option) == TYPE_INTEGER) shown = integer::get(option);
    if (all || shown > FRACTION_DIGITS) shown = FRACTION_DIGITS;
    if (shown >= 1) {
        text += '.';
        text += digits.substr(point + 1, size_t(shown));
    }
    string::append_utf8(buffer, reinterpret_cast<const u8*>(text.data()), i64(text.size()));
    // Every character counts one: the code is three letters.
    return part - i32(text.size());
}

// --- Arithmetic -----------------------------------------------------------------------------

namespace {

Amount add_amounts(Amount a, Amount b) {
    if (a.m == 0) return b;
    if (b.m == 0) return a;
    if (a.negative == b.negative) {
        Magnitude s = a.m + b.m;
        if (s >= LIMIT) type_limit(TYPE_MONEY);
        return {a.negative, s};
    }
    // Opposite signs: the larger magnitude gives the sign; equal ones give +0.
    if (a.m > b.m) return {a.negative, a.m - b.m};
    if (a.m < b.m) return {b.negative, b.m - a.m};
    return {false, 0};
}

Amount multiply_amounts(Amount a, Amount b) {
    if (a.m == 0) return a;
    if (b.m == 0) return b;
    if (decimal_length(a.m) + decimal_length(b.m) > PRODUCT_DIGITS) type_limit(TYPE_MONEY);
    // The exact product has ten fractional digits; five are cut.
    Magnitude p = a.m * b.m / ONE;
    if (p == 0 || p >= LIMIT) type_limit(TYPE_MONEY);
    return {a.negative != b.negative, p};
}

Amount divide_amounts(Amount a, Amount b, bool remainder) {
    if (b.m == 0) fire(ERR_MATH, "zero-divide");
    if (a.m == 0) return a;
    if (remainder) return {a.negative, a.m % b.m};
    // The dividend scaled by 10^5 gives a quotient with five fractional digits.
    Magnitude q = a.m * ONE / b.m;
    if (q == 0 || q >= LIMIT) type_limit(TYPE_MONEY);
    return {a.negative != b.negative, q};
}

// An operand of money math that is not money becomes money in place.
void as_money(Cell* c) {
    switch (TYPE_OF(c)) {
        case TYPE_MONEY: return;
        case TYPE_INTEGER: set_from_integer(c, integer::get(c)); return;
        case TYPE_FLOAT:
        case TYPE_PERCENT: set_from_float(c, cell::get_float(c), false); return;
        default: integer::invalid_operand(c);
    }
}

}  // namespace

Cell* do_math_op(i32 op) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    bool a_money = TYPE_OF(a) == TYPE_MONEY, b_money = TYPE_OF(b) == TYPE_MONEY;
    if (op == MATH_MULTIPLY && a_money && b_money) integer::invalid_operand(a);
    if ((op == MATH_DIVIDE || op == MATH_REMAINDER) && !a_money && b_money) integer::invalid_operand(a);
    if (op < MATH_ADD || op > MATH_REMAINDER) integer::invalid_operand(a);
    bool ratio = op == MATH_DIVIDE && a_money && b_money;
    as_money(a);
    as_money(b);
    if (!currency_compatible_q(a, b, false)) fire(ERR_SCRIPT, "wrong-denom", a, b);
    u32 currency = get_currency(b) != 0 ? get_currency(b) : get_currency(a);
    Amount x = amount_of(a), y = amount_of(b), r;
    switch (op) {
        case MATH_ADD: r = add_amounts(x, y); break;
        case MATH_SUBTRACT: r = add_amounts(x, {!y.negative, y.m}); break;
        case MATH_MULTIPLY: r = multiply_amounts(x, y); break;
        case MATH_DIVIDE: r = divide_amounts(x, y, false); break;
        default: r = divide_amounts(x, y, true); break;
    }
    set_magnitude(a, r.m);
    set_sign(a, r.negative);
    if (ratio) return float_::make_at(a, to_float(a));
    set_currency(a, currency);
    return a;
}

// --- Comparison -----------------------------------------------------------------------------------

namespace {

i32 compare_values(const Cell* a, const Cell* b) {
    i32 sa = sign_q(a), sb = sign_q(b);
    // Only the sign of the difference: -2 would read as "not comparable".
    if (sa != sb) return sa < sb ? -1 : 1;
    i32 r = compare_digits(digit_area(a), digit_area(b));
    return sa < 0 ? -r : r;
}

i32 sort_compare(const Cell* a, const Cell* b) {
    u32 x = get_currency(a), y = get_currency(b);
    if (x != y) {
        if (x == 0) return -1;
        if (y == 0) return 1;
        const Cell* wx = currency_word(x);
        const Cell* wy = currency_word(y);
        if (wx && wy) {
            i32 r = symbol::compare_spellings(i32(wx->w2), i32(wy->w2), COMP_SORT);
            if (r != 0) return r < 0 ? -1 : 1;
        }
        if (!wx || !wy) return x < y ? -1 : 1;
    }
    return compare_values(a, b);
}

bool ordering_op_q(i32 op) { return op >= COMP_LESSER && op <= COMP_GREATER_EQUAL; }

// Money against a float that money cannot hold: only the signs and the
// magnitudes' ranges decide.
i32 compare_out_of_range(const Cell* a, double x, i32 op) {
    if (x != x) {
        // A NaN orders with nothing: every ordering answers false.
        if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
        if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
        return equality_op_q(op) ? 1 : 0;
    }
    if (equality_op_q(op)) return 1;
    if (std::fabs(x) >= TOO_LARGE) return x > 0 ? -1 : 1;
    // A magnitude below 0.00001 lies between any non-zero amount and zero.
    i32 s = sign_q(a);
    if (s != 0) return s;
    return x > 0 ? -1 : 1;
}

}  // namespace

i32 compare(const Cell* value, const Cell* other, i32 op) {
    u32 t = TYPE_OF(other);
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && t != TYPE_MONEY) return 1;
    Cell converted;
    switch (t) {
        case TYPE_MONEY:
            if (sort_op_q(op)) return sort_compare(value, other);
            if (ordering_op_q(op)) {
                if (!currency_compatible_q(value, other, false)) {
                    Cell a = *value, b = *other;
                    fire(ERR_SCRIPT, "wrong-denom", &a, &b);
                }
            } else {
                bool strict = op == COMP_STRICT_EQUAL || op == COMP_SAME || (op == COMP_FIND && get_currency(other) != 0);
                if (!currency_compatible_q(value, other, strict)) return 1;
            }
            return compare_values(value, other);
        case TYPE_INTEGER:
            set_from_integer(&converted, integer::get(other));
            return compare_values(value, &converted);
        case TYPE_FLOAT: {
            double x = cell::get_float(other);
            double a = std::fabs(x);
            if (x != x || (a > 0 && a < SMALLEST) || a >= TOO_LARGE) return compare_out_of_range(value, x, op);
            set_from_float(&converted, x, true);
            return compare_values(value, &converted);
        }
        default: return NOT_COMPARABLE;
    }
}

// --- Actions ---------------------------------------------------------------------------------------

namespace {

// --- make and to

Cell* to(Cell*, Cell* spec, u32) {
    u32 t = TYPE_OF(spec);
    switch (t) {
        case TYPE_MONEY: return spec;
        case TYPE_INTEGER: set_from_integer(spec, integer::get(spec)); return spec;
        case TYPE_FLOAT: set_from_float(spec, cell::get_float(spec), true); return spec;
        default: break;
    }
    if (!any_text_q(t)) bad_arg("bad-to-arg", spec);
    if (!string_to_money) fire(ERR_INTERNAL, "not-done");
    SeriesBuffer* s = series::buffer_of(spec);
    i32 n = string::zs_length(spec);
    bool error = false;
    Cell result;
    cell::init(&result, TYPE_NONE);
    string_to_money(series::element_at(s, series::head_index(spec)), n, series::unit_of(s), &error, &result);
    if (error || TYPE_OF(&result) != TYPE_MONEY) bad_arg("bad-to-arg", spec);
    *spec = result;
    return spec;
}

// [currency amount fraction]: an optional currency word, an integer! or
// float! amount, and after an integer an optional count of 0.00001.
Cell* make_from_block(Cell* spec) {
    i32 n = block::zs_length_q(spec);
    i32 i = 0;
    i32 currency = 0;
    Cell result;
    auto item = [&](i32 k) { return block::cell_at(spec->w2, i64(spec->w1) + k); };
    if (i < n && any_word_q(TYPE_OF(item(i)))) {
        currency = currency_index(item(i));
        if (currency < 0) bad_arg("bad-make-arg", spec);
        i++;
    }
    if (i >= n) bad_arg("bad-make-arg", spec);
    const Cell* amount = item(i++);
    if (TYPE_OF(amount) == TYPE_INTEGER) set_from_integer(&result, integer::get(amount));
    else if (TYPE_OF(amount) == TYPE_FLOAT) set_from_float(&result, cell::get_float(amount), true);
    else bad_arg("bad-make-arg", spec);
    if (i < n) {
        const Cell* fraction = item(i++);
        if (TYPE_OF(amount) != TYPE_INTEGER || TYPE_OF(fraction) != TYPE_INTEGER) bad_arg("bad-make-arg", spec);
        i32 f = integer::get(fraction);
        if (f < 0 || f > MAX_FRACTION_COUNT) bad_arg("bad-make-arg", spec);
        // An integer amount is whole: the count fills its fraction.
        Magnitude m = magnitude_of(&result) + Magnitude(u32(f));
        set_magnitude(&result, m);
        set_sign(&result, integer::get(amount) < 0);
    }
    if (i < n) bad_arg("bad-make-arg", spec);
    set_currency(&result, u32(currency));
    *spec = result;
    return spec;
}

Cell* make(Cell* proto, Cell* spec, u32 type) {
    u32 t = TYPE_OF(spec);
    if (t == TYPE_WORD) {
        i32 currency = currency_index(spec);
        if (currency < 0) bad_arg("bad-make-arg", spec);
        write(spec, false, 0);
        set_currency(spec, u32(currency));
        return spec;
    }
    if (t == TYPE_BLOCK) return make_from_block(spec);
    return to(proto, spec, type);
}

// --- random

i32 draw(bool secure) { return secure ? random::secure_bytes() : random::genrand(); }

Cell* random_(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(i32(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & SIGN_BIT)));
        cell::init(value, TYPE_UNSET);
        return value;
    }
    u8* area = digit_area(value);
    i32 first = DIGITS - digit_length(area) + 1;
    bool free = false;
    for (i32 p = first; p <= DIGITS; p++) {
        i32 bound = get_digit(area, p);
        i32 digit;
        if (free) {
            digit = draw(secure) % 10;
        } else {
            // The bound digit itself is kept only rarely, so that the drawn
            // amount seldom reaches the value.
            for (;;) {
                digit = draw(secure) % (bound + 1);
                if (digit < bound) break;
                if (draw(secure) % 1000 == draw(secure) % 1000) break;
            }
            if (digit < bound) free = true;
        }
        set_digit(area, p, digit);
    }
    return value;
}

// --- form and mold

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) { return form_digits(value, buffer, part, false, true); }

i32 mold(const Cell* value, Cell* buffer, bool, bool all, bool, const Cell*, i32 part, i32) {
    return form_digits(value, buffer, part, all, false);
}

// --- path access

// 1 for the currency code, 2 for the amount, 0 for anything else.
i32 accessor_of(const Cell* element, i32 index) {
    if (!element) return index;
    if (TYPE_OF(element) == TYPE_INTEGER) return integer::get(element);
    if (!any_word_q(TYPE_OF(element))) return 0;
    std::string_view s = symbol::spelling(symbol::resolve(i32(element->w2)));
    auto same = [&](const char* w) {
        if (s.size() != std::strlen(w)) return false;
        for (size_t i = 0; i < s.size(); i++)
            if ((s[i] | 0x20) != w[i]) return false;
        return true;
    };
    return same("code") ? 1 : same("amount") ? 2 : 0;
}

Cell* push_accessor(const Cell* value, i32 which) {
    if (which == 1) {
        const Cell* word = get_currency(value) ? currency_word(get_currency(value)) : nullptr;
        return word ? stack::push(word) : stack::push_scalar(TYPE_NONE);
    }
    Cell* c = stack::push(value);
    set_currency(c, 0);
    return c;
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, Cell* path, Cell*, Cell*, i32, bool, bool get_only,
                bool, bool) {
    Cell none;
    cell::init(&none, TYPE_NONE);
    if (new_value && !get_only) fire(ERR_SCRIPT, "bad-path-set", path ? path : &none, element);
    i32 which = accessor_of(element, 0);
    if (which != 1 && which != 2) fire(ERR_SCRIPT, "invalid-path", path ? path : &none, element);
    return push_accessor(value, which);
}

// --- math

void absolute() { set_sign(stack::arguments, false); }
void add() { do_math_op(MATH_ADD); }
void divide() { do_math_op(MATH_DIVIDE); }
void multiply() { do_math_op(MATH_MULTIPLY); }

Cell* negate(Cell* value) {
    set_sign(value, !get_sign(value));
    return value;
}

void remainder() { do_math_op(MATH_REMAINDER); }

// Rounds |n| to a multiple of the scale's magnitude. A tie is a remainder of
// exactly half the scale, and evenness is that of the quotient: so /even/to
// $25 $10 gives $20, as it does for integers.
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (zero_q(value)) return value;
    Magnitude s = ONE;
    if (scale) {
        Cell unit;
        switch (TYPE_OF(scale)) {
            case TYPE_MONEY: unit = *scale; break;
            case TYPE_INTEGER: set_from_integer(&unit, integer::get(scale)); break;
            case TYPE_FLOAT: set_from_float(&unit, cell::get_float(scale), true); break;
            default: float_::not_related_to_caller(TYPE_OF(scale));
        }
        s = magnitude_of(&unit);
    }
    if (s == 0) return value;
    Amount n = amount_of(value);
    Magnitude r = n.m % s;
    // A multiple of the scale already: every mode leaves it.
    if (r == 0) return value;
    Magnitude d = s - r;
    bool tie = r * 2 == s;
    Magnitude down_m = n.m - r;
    Magnitude up_m = n.m + d;
    bool up;   // away from zero
    bool nearest_up = r >= d;
    if (down) up = false;
    else if (floor) up = n.negative;
    else if (ceiling) up = !n.negative;
    else if (even) up = tie ? (n.m / s) % 2 != 0 : nearest_up;
    else if (half_down) up = tie ? false : nearest_up;
    else if (half_ceiling) up = tie ? !n.negative : nearest_up;
    else up = nearest_up;
    if (up && up_m >= LIMIT) type_limit(TYPE_MONEY);
    set_magnitude(value, up ? up_m : down_m);
    return value;
}

void subtract() { do_math_op(MATH_SUBTRACT); }

bool odd_q(const Cell* value) { return (get_digit(digit_area(value), INTEGRAL_DIGITS) & 1) != 0; }
bool even_q(const Cell* value) { return !odd_q(value); }

// --- pick

Cell* pick(Cell* value, i32 index, Cell* boxed) {
    i32 which = accessor_of(boxed, index);
    if (which != 1 && which != 2) {
        Cell given;
        if (boxed) given = *boxed;
        else integer::make_at(&given, index);
        fire(ERR_SCRIPT, "out-of-range", &given);
    }
    return push_accessor(value, which);
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_MONEY, 0, "money!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_RANDOM>(random_).on<ACT_TO>(to).on<ACT_FORM>(form);
    r.on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path).on<ACT_COMPARE>(compare).on<ACT_ABSOLUTE>(absolute);
    r.on<ACT_ADD>(add).on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply).on<ACT_NEGATE>(negate);
    r.on<ACT_REMAINDER>(remainder).on<ACT_ROUND>(round).on<ACT_SUBTRACT>(subtract);
    r.on<ACT_EVEN_Q>(even_q).on<ACT_ODD_Q>(odd_q).on<ACT_PICK>(pick);
    datatype::register_(r);
    actions::math_core[TYPE_MONEY] = do_math_op;
    float_::bridges.money_from_integer = from_integer;
    float_::bridges.money_from_float = from_float;
    float_::bridges.money_to_integer = to_integer;
    float_::bridges.money_to_float = to_float;
}

}  // namespace money
}  // namespace zir
