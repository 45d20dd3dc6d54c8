// Float text conversion: doubles to decimal text and back, correctly rounded.
//
// Double to digits gives the shortest digit string that reads back to the same
// double, or a fixed number of significant digits; text to double gives the
// nearest double to the decimal value (ties to even). Both decide almost every
// case with 128-bit scaled powers of ten and fall back to exact big-integer
// arithmetic when the scaled value is too close to a rounding boundary for the
// approximation to decide.
//
// On top of the digit generator sit two layouts: the language's own float text
// (`form_float`, used by mold and form of float!, percent!, time! and money!)
// and the C "%g" layout (`form_general`, for the float formatter of the float
// datatype).
//
// Results live in one process-wide buffer: a text answered by `digits`,
// `form_float` or `form_general` stays valid until the next call of any of them.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace dtoa {

// Decimal exponents answered by `digits` for the values that have no digits.
constexpr int EXPONENT_NOT_FINITE = 9999;
constexpr int EXPONENT_ZERO = 9998;

// For tests: every conversion then decides with big integers, so that the
// fallback faces the same reference cases as the scaled arithmetic.
extern bool big_integers_only;

// Precisions above this are treated as this; no caller asks for more than 22.
constexpr int MAX_PRECISION = 40;

// The digits of `value` without sign, no leading or trailing zeros; value =
// 0.DIGITS x 10^decimal_exponent. `precision` <= 0 asks for the shortest
// digits that read back to the same double, above 0 for that many significant
// digits (fewer when trailing zeros are removed). Infinities and NaN answer
// "1.#INF", "-1.#INF" or "1.#NaN" with exponent 9999; zeros answer "0.0" or
// "-0.0" ("0", "-0" without `keep_dot`) with exponent 9998. `count` receives
// the length of the answered text, `sign` the sign bit.
const char* digits(double value, int precision, int* decimal_exponent, bool* sign, int* count, bool keep_dot);

// The language's text of `value`: plain form from 1e-7 up to below 1e17,
// exponent form ("1.5e20", "1.0e-8") outside; with `keep_dot` a whole number
// keeps ".0" ("1.0", "1.0e17"), without it has no point ("1", "1e17").
const char* form_float(double value, int precision, bool keep_dot);

// The C "%.<precision>g" text of a finite `value` (trailing zeros removed,
// exponent with sign and at least two digits: "1e+20", "1.5e-07"); a
// precision of 0 counts as 1. Infinities and NaN answer the texts of `digits`.
const char* form_general(double value, int precision);

// The double nearest to the decimal text in [first, end), times 10^extra_exponent:
// an optional sign, digits with an optional point, an optional exponent ("e" or
// "E", optional sign, digits), or the special forms "1.#INF" and "1.#NaN" (letters
// in any case). Too large gives an infinity, too small a zero of the text's sign.
// `unconsumed` receives the number of characters after the end of the number
// (the whole length when the text holds no digit), so 0 means all was read.
double string_to_float(const char* first, const char* end, int extra_exponent, i64* unconsumed);

}  // namespace dtoa
}  // namespace zir
