// integer!: 32-bit signed integers, the value in payload word 2.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace integer {

inline i32 get(const Cell* c) { return i32(c->w2); }

// Decimal text of a value ("-" for negatives, no grouping) in a buffer that
// the next call overwrites.
const char* form_signed(i32 value);

void make_at(Cell* c, i32 value);
Cell* make_in(Cell* block, i32 value);
Cell* push(i32 value);
Cell* box(i32 value);

// Registers integer! (form, mold and comparison so far).
void init();

}  // namespace integer
}  // namespace zir
