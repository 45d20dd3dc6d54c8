// Natives: the built-in functions that are not actions, reached through the
// natives table by the index that a native! value holds.
//
// The table has NATIVES_SIZE entries, NATIVES_USED of them filled at start-up
// in the order the boot image's native! values number them (from 1). A native
// reads its arguments from the value stack from `stack::arguments` on and
// leaves its result in the first of them.
#pragma once

#include "evaluator/actions.hpp"

namespace zir {
namespace natives {

constexpr i32 NATIVES_SIZE = 120;
constexpr i32 NATIVES_USED = 107;

// A native's entry: `check` asks it to type-check its arguments itself (the
// interpreter has checked them already and passes 0); `refinements` holds one
// integer per refinement of its spec, in spec order: -1 when the refinement
// is absent, else the position (in cells from `stack::arguments`) of its
// first argument. The result goes to the first argument cell. It answers 0,
// or a pending exit code for a caller that acts on it (the interpreter
// carries pending exits on by itself and ignores the answer).
using Entry = i32 (*)(i32 check, const i32* refinements);

// Entry i - 1 is the native numbered i; null while not filled.
extern action::Generic table[NATIVES_SIZE];
// Entries filled so far.
extern i32 count;

// Stores each entry at the next slot of the table, in order (registration,
// slot 1 first). More than the table holds is a fault of the program.
void table_append(i32 n, const action::Generic* entries);

}  // namespace natives
}  // namespace zir
