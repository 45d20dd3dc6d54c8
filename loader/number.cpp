// Text to number conversion: see number.hpp.
#include "loader/number.hpp"

#include <limits>

#include "runtime/dtoa.hpp"

namespace zir {
namespace lexer {

namespace {

inline u32 char_at(const u8* text, i32 i, u32 unit) {
    switch (unit) {
        case 1: return text[i];
        case 2: return u32(text[2 * i]) | (u32(text[2 * i + 1]) << 8);
        default: {
            const u8* p = text + 4 * i;
            return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
        }
    }
}

// The float automaton: states 0..8 by character class (sign, digit, exponent
// letter, point, apostrophe); -1 rejects.
constexpr i8 NUMBER_STATES[9][5] = {
    {0, 1, -1, 4, -1},    // start
    {-1, 1, 6, 5, 2},     // integer digits
    {-1, 1, -1, -1, -1},  // after an apostrophe among the integer digits
    {-1, 3, 6, -1, 4},    // fraction digits
    {-1, 3, -1, -1, -1},  // after a leading point, or an apostrophe in the fraction
    {-1, 3, -1, -1, -1},  // after "digits.": a fraction digit must come before an exponent
    {7, 8, -1, -1, -1},   // after the exponent letter
    {-1, 8, -1, -1, -1},  // after the exponent's sign
    {-1, 8, -1, -1, -1},  // exponent digits
};
constexpr bool NUMBER_ACCEPTS[9] = {false, true, true, true, true, true, false, false, true};

int number_class(char c) {
    switch (c) {
        case '+': case '-': return 0;
        case 'e': case 'E': return 2;
        case '.': return 3;
        case '\'': return 4;
        default: return c >= '0' && c <= '9' ? 1 : -1;
    }
}

}  // namespace

bool check_number(const char* text, i32 length) {
    if (length > MAX_FLOAT_TEXT) return false;
    int state = 0;
    for (i32 i = 0; i < length; i++) {
        int k = number_class(text[i]);
        if (k < 0) return false;
        state = NUMBER_STATES[state][k];
        if (state < 0) return false;
    }
    return NUMBER_ACCEPTS[state];
}

i32 string_to_integer(const u8* text, i32 length, u32 unit, i32* error) {
    *error = 0;
    i32 i = 0;
    bool negative = false;
    if (length > 0) {
        u32 c = char_at(text, 0, unit);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    if (i >= length) {
        *error = -1;
        return 0;
    }
    // Accumulated as a magnitude: 2147483648 is the limit when negative.
    u64 limit = negative ? 2147483648u : 2147483647u;
    u64 value = 0;
    bool digits = false;
    for (; i < length; i++) {
        u32 c = char_at(text, i, unit);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            *error = -1;
            return 0;
        }
        value = value * 10 + (c - '0');
        digits = true;
        if (value > limit) {
            *error = -2;
            return 0;
        }
    }
    if (!digits) {
        *error = -1;
        return 0;
    }
    return negative ? i32(u32(0) - u32(value)) : i32(value);
}

double string_to_float(const u8* text, i32 length, u32 unit, i32* error) {
    *error = -1;
    constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
    if (length <= 0 || length > MAX_FLOAT_TEXT) return NOT_A_NUMBER;
    char copy[MAX_FLOAT_TEXT + 1];
    for (i32 i = 0; i < length; i++) {
        u32 c = char_at(text, i, unit);
        if (c > 0x7F) return NOT_A_NUMBER;   // no number has a character beyond ASCII
        copy[i] = c == ',' ? '.' : char(c);
    }
    if (!check_number(copy, length)) return NOT_A_NUMBER;
    i32 n = 0;
    for (i32 i = 0; i < length; i++)
        if (copy[i] != '\'') copy[n++] = copy[i];
    // The check lets through texts without a digit ("." or "-.") and repeated
    // signs; the converter leaves them unconsumed.
    i64 unconsumed = 0;
    double d = dtoa::string_to_float(copy, copy + n, 0, &unconsumed);
    if (unconsumed != 0) return NOT_A_NUMBER;
    *error = 0;
    return d;
}

}  // namespace lexer
}  // namespace zir
