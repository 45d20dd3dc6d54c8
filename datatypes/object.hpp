// object!: a context of named fields, with a class identity and optional
// change events. error! and port! are objects too and share this module's
// routines.
//
// An object! cell holds:
// - word 1: the node of its context (object kind, values in a block, `self`
//   answered), whose owner cell holds a copy of the object value;
// - word 2: its class id. Objects of one class have the same words in the same
//   order. Ids up to 999,999 are fixed by the library; the run-time counter
//   starts at FIRST_CLASS_ID, so run-time classes start one above it. 0 is an
//   empty object made by `make_at`;
// - word 3: 0, or the node of its change-handlers record.
//
// The change-handlers record is a two-cell block: ON_CHANGE for the field
// `on-change*` (called after a field is set), ON_DEEP_CHANGE for
// `on-deep-change*` (called when a series the object owns changes). Each is a
// pair! whose word 2 holds the handler's index among the object's values
// (upper 16 bits; 0xFFFF: no handler) and the number of its local cells when
// the handlers were installed (lower 16 bits), and whose word 3 holds the
// node of the handler's argument block then. A call lays out the handler's
// frame from the argument block of whatever handler it finds
// (interpreter::fill_frame), so neither figure is read when a handler runs.
// The collector keeps those argument blocks alive with the record, so a node
// id held there is never reused for another block.
//
// The object's fields carry the changed flag (context::WORD_CHANGED) in their
// word cells.
#pragma once

#include "evaluator/actions.hpp"

namespace zir {
namespace object {

constexpr u32 FIRST_CLASS_ID = 1000000;
constexpr i32 ON_CHANGE = 0;
constexpr i32 ON_DEEP_CHANGE = 1;
constexpr i32 NO_HANDLER = -1;
// The slots a new empty object has room for.
constexpr i32 DEFAULT_SLOTS = 4;

// --- The interpreter's services ------------------------------------------------
//
// Evaluating a spec block of `make object!` (and `make error!`) and calling
// change handlers is the interpreter's work; it sets these. While one is null,
// what needs it raises `internal not-done`.

// Evaluates a block already bound; its last value goes to `result` (a cell
// that does not move).
extern void (*eval_block)(const Cell* block, Cell* result);
// Runs a function! whose call frame is open, with its arguments and the cells
// of its locals pushed after the frame mark; the result is left in the
// frame's first cell. `name` names the call; `flags` says why it is called.
extern void (*call_function)(const Cell* function, u32 ctx, const Cell* name, i32 flags);
// Completes the frame of a function whose first `given` arguments are pushed:
// its refinements off, their arguments and its locals none!.
extern void (*fill_frame)(const Cell* function, i32 given);
constexpr i32 CALL_ON_CHANGE = 8;
constexpr i32 CALL_ON_DEEP_CHANGE = 16;

// --- Making objects -------------------------------------------------------------

// Pushes an object! over a context with a class id and no handlers, and stores
// it in the context's owner cell; the values block gets one value per word.
Cell* push(u32 ctx, u32 class_id);
// A new empty object in the cell: room for `slots` fields, class id 0, no
// handlers. The cell must not move (a stack cell or a root).
Cell* make_at(Cell* cell, i32 slots);
u32 new_class_id();
// A new change-handlers record (index NO_HANDLER: none).
u32 make_handlers(u32 spec1, u32 spec2, i32 index1, i32 count1, i32 index2, i32 count2);
// Scans the object for `on-change*` and `on-deep-change*`, gives it a
// handlers record when either is there (a value that is not a function!
// raises `script bad-field-set`), makes it the owner of its series when it has
// `on-deep-change*`, and stores it in its context's owner cell. The cell must
// not move.
void install_handlers(Cell* object);

// Copies an object into `result` (a cell that does not move): same datatype
// and class id, a new context with the same words, the values copied, every
// function! rebuilt for the copy. With `deep`, series values are copied
// deeply (or, with `types`, the values of those types through
// block::copy_types); an object met again while copying deeply raises
// `internal no-cycle`. With `rebuild_handlers` the copy gets handlers of its
// own; otherwise it shares the original's record.
Cell* duplicate(const Cell* proto, Cell* result, bool deep, const Cell* types, bool rebuild_handlers);
// A new object from a spec block without evaluation: each set-word gets the
// next value that is not a set-word (none! at the end); unless `only`, the
// words true, yes, on, false, no, off and none become those values. From a
// copy of `proto` when it is an object! (its class id kept), else from an
// empty object of a new class. Pushed.
Cell* construct(const Cell* spec, const Cell* proto, bool only);
// The object side of `set`: sets the object's words from a block (word i
// takes value i, none! past its end) or an object (fields of the same words),
// or every word to one value. An unset value raises `script need-value`
// unless `any`; with `some`, none! values are skipped; with `only`, a block or
// object is set as one value. Change handlers hear of every word set.
void set_many(Cell* object, const Cell* value, bool any, bool only, bool some);

// --- Fields ---------------------------------------------------------------------

// The index of a word's field (letter-case twins match), or -1.
i32 find_index(const Cell* object, const Cell* word);
// The value cell of a word's field, or the shared none cell when absent
// (valid until the next allocation).
const Cell* select_value(const Cell* object, const Cell* word);
i32 get_size(const Cell* object);
// Clears the new-line flag of every cell of a block's buffer.
void clear_new_lines(u32 node);
// Clears the changed flag of every word of a context.
void clear_changed(u32 ctx);

// --- Change events -----------------------------------------------------------------

// Calls the object's `on-change*` with the word, the old and the new value;
// nothing when it has none.
void fire_on_set(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value);
// Calls the owner's `on-deep-change*` with the owner, the field word, the
// changed series, the action word, the new value (none! when null), the
// index and the part.
void fire_on_deep_set(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                      const Cell* new_value, i32 index, i32 part);

// --- Writing ----------------------------------------------------------------------

// Writes the fields, `word: value` each, molded; answers the part left.
// Not flat, each field is on a line of its own, indented to `level` when
// `indent`; `mold` writes a line feed before the first. Handler fields are
// left out unless `all`.
i32 mold_fields(const Cell* object, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part,
                bool indent, i32 level, bool mold);
// The mold of an object-like value after its own opening ("make object! [").
i32 mold_as(const char* opening, const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg,
            i32 part, i32 indent);

// --- Actions --------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type);
Cell* reflect(Cell* value, i32 field_symbol);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
// Path access: `get` and `last` say what an absent or unset field gives:
// with both, unset!; with `last` only, `script invalid-path`; otherwise
// `script unset-path`.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify);
i32 compare(const Cell* value, const Cell* other, i32 op);
// The comparison of two object-like values of one datatype: the same context
// is equal; otherwise the one with more fields is the lesser, then the words
// (by canonical symbol) and values in order decide; an object met again while
// comparing is equal only to another one met again.
i32 compare_fields(const Cell* value, const Cell* other, i32 op);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* modify(Cell* target, i32 field_symbol, Cell* value, bool case_);

void init();
// Start-up and memory resets: the words objects are read for, and the change
// hooks of contexts and of the ownership table.
void init_state();

}  // namespace object
}  // namespace zir
