// The console's input and terminal routines: the language reaches standard
// input through them (`ask`, `input`, `input-stdin`, `read-stdin`) and the
// console sets its terminal up with `_console-init`.
//
// Standard input is read through one buffer of this module, whichever routine
// reads, so a line read by `ask` and the bytes read by `read-stdin` never
// overtake each other. A line ends at a line feed (not kept; a carriage return
// before it stays) or at the end of input; bytes that are not well-formed
// UTF-8 become U+FFFD each. On a terminal the line editor (terminal.hpp)
// reads the line instead.
#pragma once

#include <string>

#include "runtime/cell.hpp"

namespace zir {
namespace console_io {

// Makes the routines and binds their words (start-up, before the library's
// statements run).
void define_routines();

// Reads one line of standard input as bytes, without its line feed; false at
// the end of input when nothing was read.
bool read_line(std::string* out);

// Appends UTF-8 bytes to a string, each byte of an ill-formed sequence (a
// stray continuation byte, a truncated or overlong sequence, a surrogate, a
// code point past U+10FFFF) as U+FFFD.
void append_utf8_replacing(Cell* str, const u8* bytes, size_t n);

}  // namespace console_io
}  // namespace zir
