// char!: one Unicode code point as a value.
//
// The cell holds the code point in payload word 2, like an integer!, and
// char! is registered as integer!'s child: its math runs through the integer
// core, keeps the result a char! and refuses results that are not code points
// (0..0x10FFFF) with `math overflow`. Strings hand out char! values for their
// elements; the lexer and the binary loader make them with `make_in`.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace char_ {

constexpr u32 MAX_CODE_POINT = 0x10FFFF;

inline u32 get(const Cell* c) { return c->w2; }

// Writes a char! into a cell, keeping its header flag bits.
void make_at(Cell* c, u32 cp);
Cell* make_in(Cell* block, u32 cp);
Cell* push(u32 cp);

// Registers char! (after integer!, whose random, absolute, even? and odd? it takes).
void init();

}  // namespace char_
}  // namespace zir
