// ref!: references, a string written after an at sign; child of string!.
// The buffer holds the text without the "@". A ref cannot be appended to,
// sorted or trimmed, and has no path access.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace ref {

Cell* push(const Cell* value);
// "@" and the text.
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
void init();

}  // namespace ref
}  // namespace zir
