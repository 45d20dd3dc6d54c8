// Display width of code points: how many character cells (0, 1 or 2) a code
// point takes on a terminal. The console's line editor and the terminal backend
// place text with it. The interval tables are generated from the Unicode
// Character Database by tools/gen-unicode-tables.py (char_width_tables.cpp).
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace unicode {

// Interval tables: flat arrays of (first, last) pairs, sorted ascending and not
// overlapping. Each count is the number of values, twice the number of pairs.
extern const u32 zero_width_table[];   // marks drawn over the previous character
extern const u32 zero_width_count;
extern const u32 wide_table[];         // East Asian Wide and Fullwidth
extern const u32 wide_count;
extern const u32 ambiguous_table[];    // East Asian Ambiguous (two cells on CJK terminals)
extern const u32 ambiguous_count;

// True when the code point lies in one of the pairs of `table` (`count` values).
bool in_intervals_q(u32 cp, const u32* table, u32 count);

// Cells taken by a code point: 0 for NUL and zero-width marks, 2 for wide
// characters, 1 for everything else (control characters included).
int char_width(u32 cp);

// As char_width, for terminals that draw East Asian Ambiguous characters in
// two cells.
int char_width_cjk(u32 cp);

}  // namespace unicode
}  // namespace zir
