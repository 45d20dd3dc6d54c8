// function! and routine!: functions written in the language, and functions
// whose behaviour is a C++ routine with a typed interface.
//
// A function! cell holds:
// - header: type 24, and its spec's attributes: TRACE (always trace it),
//   NO_TRACE (never trace it);
// - word 1: node of its function context (values on the value stack while it
//   runs, no `self`), whose owner cell holds a copy of the function! value;
// - word 2: node of its spec block (head 0): doc strings, arguments with their
//   type blocks, refinements, `return:`, `/local` and the locals;
// - word 3: node of its record, five cells:
//     RECORD_BODY       the body block (a deep copy made at construction), or
//                       none! for a function built without one;
//     RECORD_ARGUMENTS  unset! until the interpreter caches there, on the first
//                       call, a block describing the arguments;
//     RECORD_CODE       integer!: the entry of a built-in implementation, or
//                       unset! for an interpreted function;
//     RECORD_OP         unset!, or the op! made from the function
//                       (op::FUNCTION_RECORD_OP);
//     RECORD_OWNER      the object! a method belongs to, or unset!.
//
// A routine! has the same layout: its context is made from its spec, its
// record holds the body (or none!), unset!, the routine's index in the routine
// table as an integer!, unset! and its return type as an integer! (-1 none,
// 4 logic!, 11 integer!). Its header has POINTER_ARGS when it takes the
// addresses of its argument cells, and in ARITY bits the number of word! items
// of its spec.
//
// Calling either is the interpreter's business.
#pragma once

#include "datatypes/native.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace function {

// Header flags.
constexpr u32 NO_TRACE = 0x200;
constexpr u32 TRACE = 0x400;

// Cells of the record.
constexpr i32 RECORD_BODY = 0;
constexpr i32 RECORD_ARGUMENTS = 1;
constexpr i32 RECORD_CODE = 2;
constexpr i32 RECORD_OP = op::FUNCTION_RECORD_OP;
constexpr i32 RECORD_OWNER = 4;
constexpr i32 RECORD_CELLS = 5;

// The record's cell i (valid until the next allocation).
inline Cell* record_cell(const Cell* fn, i32 i) { return series::head_cells(node_buffer(fn->w3)) + i; }

// Pushes a new function! and answers its context node. A spec whose head is
// not 0 is replaced by a copy from its head. `body` (null: none) is copied
// deeply; without a given context (0) one is made from `spec` and the body
// copy is bound to it. `code` (0: none) is the built-in entry; `owner` (0:
// none) the context node of the object a method belongs to.
u32 push(const Cell* spec, const Cell* body, u32 ctx, u32 code, u32 owner, u32 flags);
// Set while start-up runs the library's own code: every function made then
// is a library function, its body flagged as library code (run untraced,
// moving no `near`, given out as a copy), whatever made the body (`func`'s
// copy of a written block, a `compose`d one).
extern bool library_bodies;

// The header flags of a spec block; any fault raises `script bad-func-def`
// with that block, a bad type block item `script invalid-type-spec` and a word
// named twice `script dup-vars`.
u32 validate(const Cell* spec);
// The flags of an attribute block: `trace`, `no-trace`; -1 when an item is
// not a word.
i32 spec_attributes(const Cell* block);
// The words that the body sets (set-words, the words of foreach, remove-each
// and repeat), less those `spec` names: they are appended to `spec` after
// `/local` (added when absent), and answered as a new block pushed on the
// value stack. The words after `/extern` are kept out and `spec` is cut
// there.
Cell* collect_words(Cell* spec, const Cell* body);
// From a start index: 1 for the first `/local` plus 1 per word! after it; 0
// without `/local`, or -1 when `strict`.
i32 count_locals(u32 spec, i32 start, bool strict);
// Pushes false then n - 1 none! cells: the cells of a refinement not given
// (a function's `/local` and its locals).
void push_unused_refinement(i32 n);

// A copy of the function for another object: the body copied and bound to
// `object_ctx` (with `self`), then to the copy's own context. Pushed.
Cell* rebuild_for(const Cell* fn, u32 object_ctx);

// --- Actions ------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type);
Cell* reflect(Cell* value, i32 field_symbol);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
i32 compare(const Cell* value, const Cell* other, i32 op);

void init();
// Start-up and memory resets: the words specs and bodies are read for.
void init_state();

}  // namespace function

namespace routine {

constexpr u32 POINTER_ARGS = 0x8000;
constexpr u32 ARITY_SHIFT = 25;
constexpr u32 ARITY_MASK = 0x1Fu << ARITY_SHIFT;

// Return types recorded for a routine.
constexpr i32 RETURNS_NONE = -1;
constexpr i32 RETURNS_LOGIC = 4;
constexpr i32 RETURNS_INTEGER = 11;

constexpr i32 RECORD_RETURN = 4;

// Pushes a new routine! over the routine table's entry `index` and answers it.
Cell* push(const Cell* spec, const Cell* body, i32 index, i32 return_type, bool pointer_args);
// Counts the word! items of the whole spec into the ARITY bits (at most 31).
void set_arity(Cell* routine);
i32 get_arity(const Cell* routine);

void init();

}  // namespace routine
}  // namespace zir
