// Words: word!, set-word!, lit-word!, get-word! and refinement!, the names of
// the language (issue! shares their layout: datatypes/issue.hpp).
//
// A word cell holds in word 1 the node of the context it is bound to (0 for an
// unbound one), in word 2 its symbol id and in word 3 its slot in that context,
// or -1 while it has not been looked up (datatypes/context.hpp). Reading or
// writing a word goes straight to its slot. The variants differ only in how
// they are written: `a`, `a:`, `'a`, `:a`, `/a`; each forms as its bare
// spelling, exactly as it was written (not its canonical twin's).
//
// Cell pointers answered are valid until the next allocation.
#pragma once

#include <string_view>

#include "runtime/cell.hpp"

namespace zir {
namespace word {

// --- Making words -------------------------------------------------------------

// The global word of a spelling, added to the global context when absent; a
// letter-case twin of a global word shares its slot and keeps its own
// spelling. While the root block is recording, the answer is a copy kept there.
Cell* load(std::string_view text);
// The global word of a symbol, added when absent (recorded as `load` does).
Cell* from_symbol(i32 symbol);
// Writes into `cell` a word! of the symbol bound to the global context, the word
// added there when absent; keeps the cell's new-line flag. `cell` must not lie
// in a series buffer (a stack cell or a root): the addition may move buffers.
Cell* make_at(i32 symbol, Cell* cell);
Cell* push_global(i32 symbol);
// A copy of the word pushed on the value stack.
Cell* push(const Cell* word);
// The word cell of that exact spelling in the context (0: none), or else the
// global word; call frames are named by it.
Cell* find_or_global(u32 ctx, i32 symbol);
// Value cell i of a context whose values are in a block.
Cell* get_in(u32 ctx, i32 i);
// The word's symbol! cell, its spelling string made.
const Cell* symbol_cell(const Cell* word);

// --- Reading and writing values (the interpreter's) ----------------------------

// Pushes a copy of the word's value; an unset value raises `script no-value`.
Cell* get_value(const Cell* word);
// The word is the call's first argument, the value the second: an unset value
// raises `script need-value`; otherwise the word is set (change events on) and
// the value becomes the call's result.
void set_from_stack();
// Word i (from 0, counted from the head) of a loop's words block, copied:
// any word but a refinement, else `script invalid-arg` (a cell past the tail
// is none). The block is read afresh each time: setting the word before may
// have run a change handler that shortened it.
Cell loop_word(const Cell* words, i32 i);

// Loads a text as source text into a block (`block::load_text`), for the
// conversions that ask the lexer what a text is; `internal not-done` until
// the lexer is there. Answers the type of the first value (0 for none) and
// writes it into `first`.
u32 load_first(const Cell* text, Cell* first);

// --- Actions ------------------------------------------------------------------

// make and to of every word type but issue!: the result is written into `proto`.
Cell* make(Cell* proto, Cell* spec, u32 type);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
i32 compare(const Cell* value, const Cell* other, i32 op);

void init();

}  // namespace word

namespace get_word {
// Pushes a copy of the word's value, unset or not.
Cell* push_value(const Cell* word);
void init();
}  // namespace get_word

namespace lit_word {
void init();
}  // namespace lit_word

namespace set_word {
void init();
}  // namespace set_word

namespace refinement {
// An unbound refinement! of the spelling in a new cell at the root block's tail.
Cell* load(std::string_view text);
void init();
}  // namespace refinement

}  // namespace zir
