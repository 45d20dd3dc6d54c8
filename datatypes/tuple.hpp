// tuple!: 3 to 12 bytes written with dots (1.2.3, 255.0.0.128): colours and
// version numbers. The whole value lives in its cell.
//
// Header bits 19..22 hold the length. The bytes fill payload words 1 to 3 in
// order, the first byte in the lowest byte of word 1 (so a colour's word 1 is
// R | G << 8 | B << 16 | alpha << 24); bytes past the length are 0, which lets
// comparison and hashing treat 1.2.3 and 1.2.3.0 alike. Arithmetic works byte
// by byte and saturates at 0 and 255.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace tuple {

constexpr u32 LENGTH_SHIFT = 19;
constexpr u32 LENGTH_MASK = 0xFu << LENGTH_SHIFT;
constexpr i32 MIN_LENGTH = 3;
constexpr i32 MAX_LENGTH = 12;

inline i32 length_of(const Cell* t) { return i32((t->header & LENGTH_MASK) >> LENGTH_SHIFT); }
// Byte i (0-based) of the payload.
inline u8 byte_at(const Cell* t, i32 i) {
    const u32 words[3] = {t->w1, t->w2, t->w3};
    return u8(words[i >> 2] >> ((i & 3) * 8));
}
void set_byte(Cell* t, i32 i, u8 b);

// Writes a tuple of the given length and payload words into a cell, keeping
// its new-line flag.
Cell* make_at(Cell* c, i32 length, u32 w1, u32 w2, u32 w3);
Cell* push(i32 length, u32 w1, u32 w2, u32 w3);
// A tuple of the low bytes of `count` integers (at most 12), at least 3 long,
// zero-padded.
Cell* push_bytes(i32 count, const i32* values);
// R, G, B and an alpha (-1: none, a 3-byte tuple) into a cell.
Cell* make_rgba(Cell* c, i32 r, i32 g, i32 b, i32 alpha);
// The first bytes (at most 12) from a binary's head, padded to 3.
Cell* from_binary(const Cell* binary, Cell* out);
// #RGB (each digit doubled), #RRGGBB or #RRGGBBAA; any other issue raises
// `script invalid-data`.
Cell* from_issue(const Cell* issue, Cell* out);

// The arithmetic core on the current call's two arguments; a number in the
// result slot (from the integer! or float! dispatcher) trades places with the
// tuple.
Cell* do_math_op(i32 op);

i32 compare(const Cell* value, const Cell* other, i32 op);
bool all_zero_q(const Cell* t);
// Stores an integer! (clamped to 0..255) as byte `index` (1-based), or for
// none cuts the tuple before it (never below 3 bytes); an index outside
// 1..length raises `script out-of-range` with the index cell.
Cell* poke(Cell* t, i32 index, const Cell* value, const Cell* index_cell);

void init();

}  // namespace tuple
}  // namespace zir
