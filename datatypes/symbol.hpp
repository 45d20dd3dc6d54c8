// symbol!: every distinct spelling of a word, stored once in the symbol table
// and named everywhere by its id (its 1-based position in the symbol block).
//
// A symbol cell holds in word 1 the id of its case-insensitive twin stored
// first (or -1 when it is its own canonical form), in word 2 the node of a
// cached string! copy of its spelling (0 until first used) and in word 3 the
// node of its UTF-8 spelling (followed by a NUL byte outside the tail).
#pragma once

#include <string_view>

#include "runtime/cell.hpp"

namespace zir {
namespace symbol {

extern u32 table;   // the symbol table (a word-table kind hash table)

constexpr i32 TABLE_SIZE = 4000;

void init();
// The id of a spelling, made on first use.
i32 make(std::string_view text);
// The id of the spelling compared without case: an existing twin's id, or new.
i32 make_case_insensitive(std::string_view text);
// The canonical id: the twin stored first.
i32 resolve(i32 id);
const Cell* get(i32 id);
// The UTF-8 spelling, viewed inside its series buffer: the view is good only
// until the next allocation (which may move the buffer). Copy it out first, or
// hand it to an appender, which copies it before growing.
std::string_view spelling(i32 id);
i32 count();

}  // namespace symbol

namespace debug {
// Prints the spelling of a word's symbol on standard output (a debugging aid).
void print_symbol(const Cell* word);
}  // namespace debug

}  // namespace zir
