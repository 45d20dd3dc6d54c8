// unset!: the value of nothing (a fresh cell, an undefined word, a function
// that returns nothing). No payload.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace unset {

extern const Cell value;   // the shared unset cell

Cell* box();
Cell* push();
Cell* make_in(Cell* block);
void init();

}  // namespace unset
}  // namespace zir
