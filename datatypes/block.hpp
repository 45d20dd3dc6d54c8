// block!: the language's universal container. Code, data, argument lists and
// specs are blocks of cells.
//
// A block value is a series value (datatypes/series.hpp) whose buffer holds
// 16-byte cells. This module gives the routines that the runtime and the other
// datatypes use to build and read blocks, and the block actions. paren!, the
// four path types and hash! inherit them, so every routine and action here
// works on any block-like type id and keeps the value's own type; hash! keeps
// its index in step through series::index_hooks. Sorting and the set
// operations live in their own module (block_sort.hpp).
#pragma once

#include "datatypes/series.hpp"

namespace zir {
namespace block {

// --- Routines ----------------------------------------------------------------

// Cell i counted from the first used one (valid until the next allocation),
// and the cells from the first used one to the tail.
inline Cell* cell_at(u32 node, i64 i) { return series::head_cells(node_buffer(node)) + i; }
inline i32 cell_count(const SeriesBuffer* s) { return series::abs_length(s); }
// Cell pointers answered here are valid until the next allocation.

// Cells from the head to the tail; negative when the head is past the tail.
i32 zs_length_q(const Cell* block);
// The head cell; a head past the tail is set to the tail first.
Cell* zs_head(Cell* block);
Cell* zs_tail(const Cell* block);
bool zs_tail_q(const Cell* block);
Cell* zs_abs_at(const Cell* block, i32 index);
// Cell i counted from the head, copied; none past the tail. For a block read
// again after code that may have shortened it.
Cell cell_or_none(const Cell* block, i32 i);
// Moves the head on by one when that cell exists; answers true when the head
// is then at the tail.
bool zs_next(Cell* block);
void zs_clear(Cell* block);
// Cuts the tail back to an absolute index.
void zs_clear_from(Cell* block, i32 index);
void remove_last(Cell* block);
// Appends a copy of the value at the tail; answers the new cell.
Cell* zs_append(Cell* block, const Cell* value);
// Appends copies of the other block's cells from its head.
void zs_append_block(Cell* block, const Cell* other);
// The cell after the first cell equal to the value (find equality), or the
// none cell.
const Cell* zs_select(const Cell* block, const Cell* value);
// Removes the first cell equal to the value, searching from the head or from
// the start.
void zs_remove_value(Cell* block, const Cell* value, bool from_start);
// The cell after the first any-word with the word's symbol (without case: the
// same canonical symbol), or the none cell when there is none or it is last.
const Cell* select_word(const Cell* block, const Cell* word, bool case_);
// Pushes a new block of the source's type holding copies of its cells from the
// head; `deep` copies nested blocks too (with `any_block` also parens and paths).
Cell* clone(const Cell* block, bool deep, bool any_block);
// Points the cell `c` of a block being copied at its nested copy `copy`
// (clone's result): the copy's type and series, the cell's flags kept.
inline void point_at_copy(Cell* c, const Cell* copy) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_OF(copy);
    c->w1 = 0;
    c->w2 = copy->w2;
    c->w3 = copy->w3;
}
// Flags the block and every block inside it as library code (SERIES_LIBRARY).
void mark_library(u32 node);
// Replaces every cell of the block at [from, to) (by `step`) whose type is in
// `types` (a datatype! or typeset!) and that is a series, bitset!, object!,
// error! or map! by its copy.
void copy_types(u32 node, i32 from, i32 to, i32 step, bool deep, const Cell* types);
// Inserts a copy of the value at the head (or at the start), moving the rest
// up; with `advance` the head moves past it.
void insert_value(Cell* block, const Cell* value, bool at_head, bool advance);
// Inserts copies of the other block's cells (from its head) at the head.
void insert_block(Cell* block, const Cell* other);

// An empty block! of n cells (1 when n < 0) in the cell, keeping its new-line flag.
void make_at(Cell* c, i32 n);
// An empty block of at least one cell: with `fixed`, a buffer outside the
// collector's frames that never moves, else a buffer of unset cells.
void make_fixed_at(Cell* c, i32 n, bool fixed);
// A new empty block in a new cell at the parent's tail, or, without a parent,
// in the runtime's root cell (which the caller copies before the next one).
Cell* make_in(Cell* parent, i32 n);
Cell* make_fixed_in(Cell* parent, i32 n);
Cell* push(const Cell* block);
Cell* push_only_star(i32 n);

// A line feed and `indent` levels of four spaces, as mold breaks lines;
// answers the part left.
i32 new_line(Cell* buffer, i32 indent, i32 part);
// Writes the cells from the head with spaces, new-line markers and indentation
// (the inside of a block or paren); answers the part left.
i32 mold_each(const Cell* block, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part,
              i32 indent);
// Writes n levels of indentation (four spaces each); answers part - 4n.
i32 mold_indent(Cell* buffer, i32 n, i32 part);
// The cells between an open and a close character ("[...]" when the block is
// already being molded further up), as block! and paren! mold.
i32 mold_enclosed(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part,
                  i32 indent, char open, char close);

// Loads source text into a block (to block! of a string); set by the lexer.
extern void (*load_text)(const Cell* text, Cell* result);
// Loads source text for a conversion (to time! of a string ...): false,
// with the stacks as they were, when the text does not load (a syntax
// error), which the caller reports as its own error.
bool load_text_q(const Cell* text, Cell* result);
// Loads source text that must hold one value (to pair! of a string ...):
// true with the value in `out`, false when the text does not load or holds
// none or several.
bool load_one(const Cell* text, Cell* out);

// --- Actions -----------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type);
Cell* to(Cell* proto, Cell* spec, u32 type);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify);
i32 compare(const Cell* value, const Cell* other, i32 op);
// insert and append: /part and /dup arrive as integer! counts (see
// series::insert_counts).
Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append);
// insert's (and append's) commonest case: one cell, put at `at` (the head
// clamped to the tail; the tail when appending) of a series with room for it
// whose buffer no object owns and that keeps no index: nothing allocates and
// nobody is told, so the value needs no root. The series is left as insert
// leaves it. False, having done nothing, otherwise.
inline bool insert_one_q(Cell* series, const Cell* value, bool append, i32 at) {
    SeriesBuffer* s = series::buffer_of(series);
    if ((s->flags & SERIES_OWNED) || series::indexed_q(series) || s->tail + 16 > s->size) return false;
    const Cell copy = *value;
    i32 n = i32((s->tail - s->offset) >> 4);
    if (append) at = n;
    Cell* base = series::head_cells(s);
    if (at < n) std::memmove(base + at + 1, base + at, size_t(n - at) * 16);
    base[at] = copy;
    s->tail += 16;
    // The whole cell in one store: the result is read back whole at once, and
    // a load over a narrower store waits for it to reach the cache.
    cell::store(series, series->header, append ? 0 : u32(at + 1), series->w2, series->w3);
    return true;
}
// /part arrives as an integer! count of cells to replace (series::change_counts).
Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* swap(Cell* series, Cell* other);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

void init();
// Start-up and memory resets: forgets the root cell's block and the blocks
// of the sort comparators.
void init_state();

}  // namespace block
}  // namespace zir
