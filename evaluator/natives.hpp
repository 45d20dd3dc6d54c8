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

// Entry i - 1 is the native numbered i; null while not filled.
extern action::Generic table[NATIVES_SIZE];
// Entries filled so far.
extern i32 count;

}  // namespace natives
}  // namespace zir
