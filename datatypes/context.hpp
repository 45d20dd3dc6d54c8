// Contexts: the binding environments of words, and the context! datatype.
//
// A context is named by the node of a two-cell series: a context! cell and the
// value that owns the context (an object! or function!; unset! until one is
// stored). The context! cell holds in word 1 the node of its word table (a
// hash table of the word-table kind, whose block is the word list: one word!
// cell per word, in the order added) and in word 2 the node of its values block
// (cell i is the value of word i), or, when header bit 22 is set (a function
// context), where its values sit on the value stack while the function runs:
// 1 + the index of the first value cell from the stack's bottom, 0 when the
// function is not running. (The 1 keeps a function whose values start at the
// very bottom of the stack apart from one that is not running.)
//
// Every word cell refers to the context it is bound to (word 1) and to its
// slot there (word 3), so getting or setting a word is one indexed access; a
// word whose slot is -1 is looked up by symbol when it is first set. Three kinds
// of context exist: the global context (every global word; letter-case twins
// share one slot), function contexts, and object contexts, whose word cells
// carry a changed flag and whose owner may ask to hear of every change.
//
// Contexts are passed by node to everything that may allocate; cell pointers
// answered (word and value cells) are valid until the next allocation.
#pragma once

#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace context {

constexpr u32 KIND_SHIFT = 11;
constexpr u32 KIND_MASK = 3u << KIND_SHIFT;
constexpr u32 KIND_GLOBAL = 0;
constexpr u32 KIND_FUNCTION = 1;
constexpr u32 KIND_OBJECT = 2;
constexpr u32 OWNS_SERIES = 0x10000;    // an object that owns the series of its fields
constexpr u32 ON_STACK = 0x400000;      // values live on the value stack
constexpr u32 HAS_SELF = 0x1000000;     // the context answers `self`

// Header bit of a word cell in an object context's word list: the field was
// set since the flags were last cleared.
constexpr u32 WORD_CHANGED = 0x2000;

// The slot count of the global context at start-up: room for the library's
// words (about 1,250) without growing.
constexpr i32 GLOBAL_SLOTS = 2000;

extern u32 global;        // node of the global context
// Node of the global context's values block: it never changes (the block
// grows in place), so global words may skip the context's own cell.
extern u32 global_values;
extern i32 self_symbol;   // symbol id of `self`

// Where the global values lie and how many there are, read by every global
// word without looking the block up: kept current by what moves or grows
// that block (a collection, through collector::moved_hook, and
// append_value). Debug builds check it on every read.
struct GlobalSlots {
    Cell* cells;
    u32 count;
};
extern GlobalSlots global_slots;
void refresh_global_slots();
#ifdef NDEBUG
inline const GlobalSlots& global_slots_now() { return global_slots; }
#else
const GlobalSlots& global_slots_now();
#endif

// Called when a field of an object with change handlers is set with events
// on: (owner object, word, old value, new value). The object! datatype sets
// it (its handler runs through the interpreter); until then such a change
// raises `internal not-done`.
using OnSet = void (*)(const Cell* owner, const Cell* word, const Cell* old_value, const Cell* new_value);
extern OnSet on_set;

// --- Reading a context --------------------------------------------------------

// The context! cell of a context node, and its owner cell.
inline Cell* cell_of(u32 node) { return series::head_cells(node_buffer(node)); }
inline Cell* owner_of(u32 node) { return series::head_cells(node_buffer(node)) + 1; }
inline u32 kind_of(const Cell* ctx) { return (ctx->header & KIND_MASK) >> KIND_SHIFT; }

u32 words_node(const Cell* ctx);
SeriesBuffer* words_buffer(const Cell* ctx);
// Word cell i of the context's word list (valid until the next allocation).
Cell* word_at(const Cell* ctx, i32 i);
i32 word_count(const Cell* ctx);
// Value cell i of a context whose values are in a block.
Cell* value_at(const Cell* ctx, i32 i);

// Where the values of a function context sit while it runs: the first value
// cell, or null when the function is not running.
inline Cell* stack_values(const Cell* ctx) { return ctx->w2 ? stack::bottom + (ctx->w2 - 1) : nullptr; }
inline void set_stack_values(Cell* ctx, const Cell* first) {
    ctx->w2 = first ? u32(first - stack::bottom) + 1 : 0;
}

// --- Making contexts ----------------------------------------------------------

// A new context with room for `slots` words (0 counts as 1): with `on_stack`
// its values will live on the value stack, otherwise in an empty values block
// with room for them; with a source context, its word table and word list are
// copies of the source's (still bound to the source).
u32 create(i32 slots, bool on_stack, bool self, u32 source, u32 kind);
// A context holding, in order, every word!, get-word!, lit-word! and
// refinement! of the block (set-words and other values skipped; a letter-case
// twin of a word already there is not added again), with one unset! value per
// word when the values are in a block.
u32 make(const Cell* spec, bool on_stack, bool self, u32 kind);
// A copy of the object's context (words rebound to the copy, values block
// empty), stored in the object's word 1. `object` must be a cell that does not
// move: a stack cell or a root.
u32 clone(Cell* object, u32 kind);

// --- Words ----------------------------------------------------------------------

// The slot of a symbol in the context, or -1. With `by_alias`, letter-case
// twins match.
i32 find_word(u32 ctx, i32 symbol, bool by_alias);
// The word cell of a symbol in the word list (of that very spelling unless
// `by_alias`), or null.
Cell* find_word_cell(u32 ctx, i32 symbol, bool by_alias);
// The slot of a symbol; when absent, a word! cell of it is added to the word
// list (values untouched), its slot goes to `index_out` and -1 is answered.
i32 find_or_put(u32 ctx, i32 symbol, bool by_alias, i32* index_out);
// The word's slot (letter-case twins match), the word added when absent (with
// an unset! value when the values are in a block).
i32 add_word(u32 ctx, i32 symbol);
// Adds the word with a copy of the value when absent; changes nothing otherwise.
void add_with(u32 ctx, i32 symbol, const Cell* value);
// Adds the word with a copy of the value, or stores the value in its slot.
void put(u32 ctx, i32 symbol, const Cell* value);
// Adds every set-word! of the block from its head (clamped to its tail first);
// answers whether the word list grew.
bool collect_set_words(u32 ctx, Cell* block);

// --- Binding ------------------------------------------------------------------

// Binds the word to the context when the context holds its symbol (twins
// match): its context and slot are written into the cell. Answers the slot, or
// -1 when absent (the word is left as it was).
i32 bind_word(u32 ctx, Cell* word);
// Binds every word of the block from its head, and of the blocks, parens,
// paths and hash! values inside it, to the context. With `self`, a word! `self`
// is bound with slot -1 (it then stands for the context's owner). A series met
// again (a block holding itself) is not walked twice. Answers the block.
Cell* bind(Cell* block, u32 ctx, bool self);
// A deep copy of the block from its head (every any-block value inside copied
// too, as block::clone copies deeply) whose words are bound as `bind` binds
// them: the copy and the bind in one walk; with `library`, the copy and every
// block inside it are flagged as library code, as block::mark_library flags
// them. Pushed; a block holding itself raises `internal no-cycle`, as the
// copy does.
Cell* copy_bound(const Cell* block, u32 ctx, bool self, bool library);

// --- Values -------------------------------------------------------------------

// The value cell of a bound word whose slot is known: null when the word is
// unbound or not looked up yet, its function is not running, or the slot is
// not there (`get` and `set` then report it); with `plain_only`, null too
// for an object's field, whose changes are tracked. Nothing is allocated.
inline Cell* value_cell_q(const Cell* word, bool plain_only) {
    u32 ctx = word->w1;
    u32 slot = word->w3;
    if (ZIR_UNLIKELY(ctx == 0)) return nullptr;
    if (ctx == global) {
        // A slot of -1 fails the unsigned test.
        const GlobalSlots& g = global_slots_now();
        return ZIR_LIKELY(slot < g.count) ? g.cells + slot : nullptr;
    }
    if (ZIR_UNLIKELY(i32(slot) < 0)) return nullptr;
    Cell* c = cell_of(ctx);
    if (plain_only && ZIR_UNLIKELY(kind_of(c) == KIND_OBJECT)) return nullptr;
    if (c->header & ON_STACK) {
        Cell* first = stack_values(c);
        return first ? first + slot : nullptr;
    }
    SeriesBuffer* v = node_buffer(c->w2);
    return ZIR_LIKELY(slot < u32(series::length_of(v))) ? series::head_cells(v) + slot : nullptr;
}
// The value cell of a word in a context. A word with slot -1 answers the
// owner of its context when it is `self`, and raises `script no-value`
// otherwise; a function context whose function is not running raises
// `script not-in-context`. (find_value is the whole of it; get_in first
// tries the common case inline.)
Cell* find_value(const Cell* word, u32 ctx);
inline Cell* get_in(const Cell* word, u32 ctx) {
    if (ZIR_LIKELY(ctx == word->w1)) {
        if (Cell* v = value_cell_q(word, false)) return v;
    }
    return find_value(word, ctx);
}
inline Cell* get(const Cell* word) { return get_in(word, word->w1); }
// Stores a copy of the value as the word's value in a context and answers the
// cell written. A word with slot -1 is looked up first (the slot found is
// written into the word cell) and added to the context when absent. In an
// object context the word is marked changed and, with `events` and an owner
// with change handlers, the owner hears of the change (see `on_set`). A
// function context whose function is not running raises `script not-defined`.
Cell* set_in(Cell* word, const Cell* value, u32 ctx, bool events);
// The value cell a word's value may be written into as it is, which is all
// `set` would do: a word of the global context or of a running function.
inline Cell* plain_value_cell(const Cell* word) { return value_cell_q(word, true); }
inline Cell* set(Cell* word, const Cell* value) { return set_in(word, value, word->w1, true); }
// The value cell of a symbol in a context (twins match); a function context
// stands for the global context here. An absent symbol raises `script no-value`.
Cell* get_by_symbol(i32 symbol, u32 ctx);

// --- The global context ---------------------------------------------------------

// The global word of a symbol, added when absent. A word added for a
// letter-case twin of a global word shares that word's slot. With `by_alias`
// a twin's word is found; with `exact_copy` too, a found word of another
// spelling is answered as a copy with the asked spelling, kept in the root
// block. Answers the word cell (valid until the next allocation).
Cell* add_global(i32 symbol, bool by_alias, bool exact_copy);

// --- Start-up -----------------------------------------------------------------

// Registers context! (no action is implemented for it).
void init();
// Makes the global context and the well-known symbols (start-up and memory
// resets).
void init_global();

}  // namespace context
}  // namespace zir
