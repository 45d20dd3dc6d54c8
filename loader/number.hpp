// Text to number conversion: the contents of a string value (any width) read
// as an integer or a float, for `make` and `to` of the number datatypes.
//
// Unlike the lexer's own loaders these read string elements rather than UTF-8
// source, and they answer failure through an error code for the caller to
// raise as its own error: 0 on success, -1 for text that is not a number of
// that kind, -2 for an integer beyond 32 bits.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace lexer {

// Longest text the float reader accepts, in characters.
constexpr i32 MAX_FLOAT_TEXT = 312;

// An optional "+" or "-" and decimal digits; apostrophes anywhere are skipped.
// "-2147483648" gives the smallest integer. Empty text, or a sign alone, is
// error -1.
i32 string_to_integer(const u8* text, i32 length, u32 unit, i32* error);

// A decimal number ("," read as "."; apostrophes between digits, an optional
// exponent) to the nearest double. On error -1 it answers a NaN.
double string_to_float(const u8* text, i32 length, u32 unit, i32* error);

// The syntax check of float text: sign, digits with apostrophes, an optional
// point and fraction, an optional exponent; nothing else, nothing longer than
// MAX_FLOAT_TEXT bytes.
bool check_number(const char* text, i32 length);

}  // namespace lexer
}  // namespace zir
