// triple!: an internal value carrying three signed 32-bit integers in payload
// words 1 to 3, made field by field by the modules that need one (the
// serialisation codec). It only prints; every other action is unsupported.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace triple {

void make_at(Cell* c, i32 a, i32 b, i32 d);
Cell* push(i32 a, i32 b, i32 d);

void init();

}  // namespace triple
}  // namespace zir
