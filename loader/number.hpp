// Text to number conversion: the contents of a string value (any width) read
// as an integer, a float, a tuple or money, for `make` and `to` of those
// datatypes (the tuple and money readers live with the lexer's loaders, in
// numbers.cpp, and share their parsers).
//
// Unlike the lexer's own loaders these read string elements rather than UTF-8
// source, and they answer failure through an error code for the caller to
// raise as its own error: 0 on success, -1 for text that is not a number of
// that kind, -2 for an integer beyond 32 bits.
#pragma once

#include "runtime/cell.hpp"

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

// Dot-separated decimal parts 0..255, at most 12 (the lexer's tuple loader
// takes at least 3 of them; here any count from 1): a tuple! written into the
// cell, keeping its new-line flag. Digits and dots only.
void string_to_tuple(const u8* text, i32 length, u32 unit, i32* error, Cell* result);

// [sign] [three-letter currency] "$" amount, or the amount alone: a money!
// written into the cell (through the money! datatype's maker); any other text,
// an unknown currency or too many digits are error -1, and the cell is then
// not to be used.
void string_to_money(const u8* text, i32 length, u32 unit, i32* error, Cell* result);

}  // namespace lexer
}  // namespace zir
