// tag!: markup tags, a string written between angle brackets; child of
// string!. The buffer holds the text without its brackets.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace tag {

Cell* push(const Cell* value);
// form and mold alike: "<", the text, ">".
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
void init();

}  // namespace tag
}  // namespace zir
