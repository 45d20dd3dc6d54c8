// issue!: a word written after a number sign (`#abc`), used as a literal
// name. It shares the word layout (datatypes/word.hpp) but is not bound to
// anything that matters for its meaning and compares only with other issues.
#pragma once

#include <string_view>

#include "runtime/cell.hpp"

namespace zir {
namespace issue {

// An issue! of the spelling: while the root block is recording, in a new cell
// at its tail, otherwise pushed on the value stack.
Cell* load(std::string_view text);
// Writes into `cell` an issue! of the spelling, bound to the global context
// with slot -1; keeps the cell's new-line flag.
Cell* make_at(Cell* cell, std::string_view text);

// make and to: the result is written into `proto`.
Cell* make(Cell* proto, Cell* spec, u32 type);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
i32 compare(const Cell* value, const Cell* other, i32 op);

void init();

}  // namespace issue
}  // namespace zir
