// email!: addresses, a string written bare; child of string!. Path access
// reads and sets the two sides of the first "@": `user` and `host`.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace email {

Cell* push(const Cell* value);
// The text as it is.
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
// An integer! selects as in a string!; `user` and `host` answer a new string!
// of the text before and after the first "@" from the head (without one, the
// whole text is the user and the host is empty), or, when setting, change
// that side in place. Any other element raises `script invalid-path`.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify);
void init();
// Start-up and memory resets: makes the accessor words.
void init_state();

}  // namespace email
}  // namespace zir
