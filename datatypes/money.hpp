// money!: an exact decimal amount with an optional currency, held entirely
// in the cell.
//
// Header bit 14 is the sign (set: negative). Payload byte 0 (the low byte of
// word 1) is the currency: 0 for none, n for the n-th word of
// `system/locale/currencies/list`. Payload bytes 1..11 hold the magnitude as
// 22 packed decimal digits, two per byte, most significant first: digit
// position p (1..22) lies in byte ceil(p / 2), odd positions in the high
// nibble. Positions 1..17 are the integral digits (17 the units), 18..22 the
// five fractional digits. A magnitude of all zeros is zero whatever the sign.
//
// Arithmetic works on the magnitude read as an integer count of 0.00001 (a
// 128-bit integer: 10^22 needs 74 bits, a product of two magnitudes that can
// still fit needs fewer than 94), never through floating point: sums and
// differences are exact, products and quotients are cut to five fractional
// digits. A result that needs more than 17 integral digits, or a product or
// quotient of non-zero values below 0.00001, raises `script type-limit`.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace money {

constexpr u32 SIGN_BIT = 0x4000;
constexpr i32 DIGITS = 22;
constexpr i32 INTEGRAL_DIGITS = 17;
constexpr i32 FRACTION_DIGITS = 5;
constexpr i32 DIGIT_BYTES = 11;
// The largest count of 0.00001 a block spec may add to its amount.
constexpr i32 MAX_FRACTION_COUNT = 99999;

// A magnitude in units of 0.00001; always below 10^22.
using Magnitude = unsigned __int128;

// --- The cell -------------------------------------------------------------------

inline const u8* digit_area(const Cell* c) { return reinterpret_cast<const u8*>(&c->w1) + 1; }
inline u8* digit_area(Cell* c) { return reinterpret_cast<u8*>(&c->w1) + 1; }

// Digit primitives over an 11-byte digit area, positions 1..22.
i32 get_digit(const u8* area, i32 position);
void set_digit(u8* area, i32 position, i32 digit);
// 22 - (position of the first non-zero digit) + 1; 1 when all are zero.
i32 digit_length(const u8* area);
bool zero_digits_q(const u8* area);
// Negative, 0 or positive as the magnitudes compare.
i32 compare_digits(const u8* a, const u8* b);

Magnitude magnitude_of(const Cell* c);
// Writes a magnitude below 10^22 into the digit area.
void set_magnitude(Cell* c, Magnitude m);

inline bool get_sign(const Cell* c) { return (c->header & SIGN_BIT) != 0; }
inline void set_sign(Cell* c, bool negative) { c->header = negative ? c->header | SIGN_BIT : c->header & ~SIGN_BIT; }
inline u32 get_currency(const Cell* c) { return c->w1 & 0xFF; }
inline void set_currency(Cell* c, u32 index) { c->w1 = (c->w1 & ~0xFFu) | (index & 0xFF); }

// -1, 0 or 1; zero whatever the sign bit.
i32 sign_q(const Cell* c);
inline bool negative_q(const Cell* c) { return sign_q(c) < 0; }
inline bool zero_q(const Cell* c) { return sign_q(c) == 0; }
inline bool positive_q(const Cell* c) { return sign_q(c) > 0; }

// --- Currencies -------------------------------------------------------------------

// The 1-based position of a word in the currency list (letter case ignored),
// or -1.
i32 currency_index(const Cell* word);
// The word of a currency index, or null when the list holds none there.
const Cell* currency_word(u32 index);
// Non-strict: either has no currency, or both the same. Strict: the same
// (none and none included).
bool currency_compatible_q(const Cell* a, const Cell* b, bool strict);

// --- Values -------------------------------------------------------------------------

// Writes a money! from digit text: the integral digits in [digits, point) (or
// [digits, end) without a point), the fractional digits after the point up to
// end; "'" group marks are skipped, fractional digits past the fifth are cut.
// `currency` is a word (or null or none). Answers null, writing nothing, when
// the currency is not in the list, the text holds anything but digits and
// marks, or the integral part has more than 17 significant digits.
Cell* make_at(Cell* c, bool negative, const Cell* currency, const u8* digits, const u8* point, const u8* end);
// The ZIRBIN loaders: the 11 digit bytes as stored.
Cell* make_raw(Cell* c, bool negative, u32 currency, const u8* digits);
Cell* push_raw(bool negative, u32 currency, const u8* digits);
// Pushes the amount, no currency.
Cell* from_integer(i32 n);
// Pushes the amount of a float, no currency: `script bad-make-arg` (money!,
// the float) when it is no number, its magnitude lies in (0, 0.00001) or is
// 1e17 and more, or, with `strict`, its shortest text has more than five
// fractional digits; without `strict` further digits are cut.
Cell* from_float(double x, bool strict);
// The integral part; `script type-limit` (integer!) when it needs more than
// 32 bits.
i32 to_integer(const Cell* c);
double to_float(const Cell* c);

// Appends the text of an amount (sign, currency code, "$", digits) and
// answers the part left. With `all`, all five fractional digits; otherwise
// `system/options/money-digits` of them (2 when that is not an integer!, at
// most 5, none below 1). With `group`, "'" between groups of three integral
// digits. The fraction is cut, never rounded.
i32 form_digits(const Cell* value, Cell* buffer, i32 part, bool all, bool group);

// The arithmetic of the current call (op 0 add .. 4 remainder), either
// operand money; the result goes to the call's result cell, which is answered.
Cell* do_math_op(i32 op);

i32 compare(const Cell* value, const Cell* other, i32 op);

// --- What the system object and the lexer provide ------------------------------------

// `system/locale/currencies/list` and `system/options/money-digits`: the boot
// step points these at the fields; null (the default) is no list and the
// default of two digits.
using LocaleField = const Cell* (*)();
extern LocaleField locale_currencies;
extern LocaleField option_money_digits;

// The lexer's scanner of money text (`to money!` of strings): an optional
// sign, an optional currency code and the amount, written into `result`;
// `error` set on failure. Until the lexer sets it, `to money!` of text raises
// `internal not-done`.
using StringToMoney = void (*)(const u8* text, i32 length, u32 unit, bool* error, Cell* result);
extern StringToMoney string_to_money;

// Registers money!.
void init();

}  // namespace money
}  // namespace zir
