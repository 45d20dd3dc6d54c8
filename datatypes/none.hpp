// none!: the absent value, and the answer of lookups that find nothing.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace none {

extern const Cell value;   // the shared none cell: routines answer it, callers copy it

Cell* box();
Cell* push();
Cell* make_in(Cell* block);
void init();

}  // namespace none
}  // namespace zir
