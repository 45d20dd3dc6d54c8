// pair!: a two-dimensional integer coordinate or size, written 10x20; the
// view engine's positions and sizes.
//
// Payload word 2 holds x and word 3 y, each a signed 32-bit integer; word 1
// is unused. Arithmetic works coordinate by coordinate through the integer
// core and moves the whole operation to point2D! when a coordinate's result
// is not a whole 32-bit number (3x3 / 2 is (1.5, 1.5)), or when a float
// multiplies or divides the pair.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace pair {

inline i32 x_of(const Cell* c) { return i32(c->w2); }
inline i32 y_of(const Cell* c) { return i32(c->w3); }

// Writes a pair into a cell, keeping its header flag bits.
Cell* make_at(Cell* c, i32 x, i32 y);
// Appends a pair at a block's tail.
Cell* make_in(Cell* block, i32 x, i32 y);
Cell* push(i32 x, i32 y);

// 1 for the word x, 2 for y; any other word raises `script cannot-use` (the
// word, the value) when the value is a pair!, otherwise `script invalid-path`
// (the value, the word).
i32 field_index(const Cell* word, const Cell* value);

// Turns the pair in a cell into the point2D! of its coordinates.
void to_point2D(Cell* c);

// A coordinate given as a number: a float! truncated toward zero (outside
// the 32-bit range `script out-of-range`), else payload word 2.
i32 get_coord(const Cell* c);

// The arithmetic core on the current call's two arguments, the first a pair
// (the result slot); the integer! and float! dispatchers hand it their pair
// operands with the operands swapped.
Cell* do_math_op(i32 op);

void init();

}  // namespace pair
}  // namespace zir
