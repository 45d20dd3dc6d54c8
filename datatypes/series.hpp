// series!: the parent row of every series datatype (block!, string!, binary!,
// image! and, through them, all the others). It is never the type of a value.
//
// A series value holds its head index (in elements, 0-based) in word 1 and the
// node of its buffer in word 2; word 3 belongs to the datatype (a vector's
// element type, a hash!'s table, 0 for the rest). The routines and actions here
// work on byte offsets and the buffer's element width, so one piece of code
// serves text of 1, 2 or 4 bytes, bytes, cells and vector elements. Where an
// action must know what an element is (pick, poke, random/only, take, move), it
// switches on the value's type.
//
// The raw by-node routines of runtime/series.hpp share this namespace; the ones
// here take series values.
#pragma once

#include "evaluator/actions.hpp"
#include "runtime/series.hpp"

namespace zir {
namespace series {

// The datatype groups (any_block_q, any_text_q, any_series_q) live in runtime/cell.hpp.
using zir::any_block_q;
using zir::any_text_q;
using zir::any_series_q;

// --- Element geometry --------------------------------------------------------

// log2 of the element width (0 for widths 0 and 1).
inline u32 shift_of(const SeriesBuffer* s) {
    u32 u = unit_of(s);
    return u > 1 ? u32(__builtin_ctz(u)) : 0;
}
inline SeriesBuffer* buffer_of(const Cell* series) { return node_buffer(series->w2); }
// Elements from the first used one to the tail.
inline i32 abs_length(const SeriesBuffer* s) { return i32(used_bytes(s) >> shift_of(s)); }
// Element i counted from the first used one (valid until the next allocation).
inline u8* element_at(SeriesBuffer* s, i64 i) { return head(s) + (i << shift_of(s)); }
inline bool same_series_q(const Cell* a, const Cell* b) { return TYPE_OF(a) == TYPE_OF(b) && a->w2 == b->w2; }
inline i32 head_index(const Cell* series) { return i32(series->w1); }
// Elements from the head to the tail without touching the value: 0 when the
// head is past the tail.
inline i32 rest_length(const Cell* series) {
    i32 n = abs_length(buffer_of(series)) - head_index(series);
    return n > 0 ? n : 0;
}
// Clamps a head past the tail (`abs` elements) back to the tail and answers it.
inline i32 clamp_head(Cell* series, i32 abs) {
    if (head_index(series) > abs) series->w1 = u32(abs);
    return head_index(series);
}
inline i32 clamp_head(Cell* series) { return clamp_head(series, abs_length(buffer_of(series))); }

// --- Shared routines ---------------------------------------------------------

// True when the head index is at or past the tail.
bool zs_tail_q(const Cell* series);
// The whole length of the buffer in elements.
i32 zs_abs_length_q(const Cell* series);
// Moves the head by n when the new head is still within 0..tail; answers true
// when head + n is at or past the tail, moved or not.
bool zs_skip(Cell* series, i32 n);
// Elements from the head (or from 0) to the tail. A head past the tail is set
// to the tail first.
i32 get_length(Cell* series, bool from_start);

// --- Services to the datatypes -------------------------------------------------

// The words the series actions use: the owner notifications (an action word
// before the change, its past form after it) and the names given in errors.
struct Words {
    i32 append, appended, insert, inserted, change, changed, clear, cleared, poke, poked, put, put_ed, remove,
        removed, reverse, reversed, random, randomized, sort, sorted, swap, swaped, take, taken, trim, trimmed, move,
        moved, part, skip, owned, body, target, compare;
};
extern Words words;

// Tells the series' owner (if it has one with change handlers) of a change;
// answers true when an owner was told, so the report after the change goes
// out only then.
bool notify(const Cell* series, i32 word, const Cell* value, i32 index, i32 part);

// The change-handler rule. The report before a change runs the owner's
// handler, user code that may clear, extend or replace the very series being
// changed (and allocate, moving every buffer). So every modifying action
//   1. works out the change it means to make and reports that (its index
//      and part may come from the series as it was);
//   2. derives everything it then does again, from the series as it is after
//      the report: heads clamped to the tail, counts to what is there (`fit`),
//      positions such as "the tail" looked up afresh, buffers re-read;
//   3. makes the change and reports what it did (a count of 0 when nothing
//      was left to do), and after that report neither reads nor writes the
//      series again; it may still set its result cell.

// A stretch of elements: absolute index and count.
struct Span {
    i32 at;
    i32 n;
};
// Elements as far as the tail, whatever it is by then.
constexpr i64 TO_TAIL = MAX_LENGTH;
// An intended stretch clamped to the series as it is: the index to 0..tail,
// the count to 0..(tail - index).
Span fit(const Cell* series, i64 at, i64 n);

// `script invalid-refine-arg` naming a refinement by word (`part`) or, with
// `as_refinement`, as a refinement! (`/part`).
[[noreturn]] void fire_refine_arg(i32 word, const Cell* arg, bool as_refinement = false);
// An unbound word! cell for an error argument.
void make_word(Cell* out, i32 symbol, u32 type = TYPE_WORD);

// A block type that keeps an index over its cells (hash!) is told of every
// change to them so that the index follows: `drop` before the cells at
// absolute indexes [from, to) are overwritten, moved or cut, `put` after the
// cells now at [from, to) were written or moved in, `init` when a new series of
// the type was made from copied cells (take). Cells outside the range keep
// their places. The steps given here keep hash!'s table (payload word 3).
struct IndexHooks {
    void (*drop)(const Cell* series, i32 from, i32 to);
    void (*put)(const Cell* series, i32 from, i32 to);
    void (*init)(Cell* series);
};
extern IndexHooks index_hooks;
inline bool indexed_q(const Cell* series) { return TYPE_OF(series) == TYPE_HASH && index_hooks.drop; }
inline void index_drop(const Cell* series, i32 from, i32 to) {
    if (indexed_q(series) && from < to) index_hooks.drop(series, from, to);
}
inline void index_put(const Cell* series, i32 from, i32 to) {
    if (indexed_q(series) && from < to) index_hooks.put(series, from, to);
}

// vector! elements as values, set by the vector! module: `read` writes the
// element at `element` into `out` as a scalar; `write` stores a value of the
// vector's element type there (else `script invalid-arg`).
extern void (*vector_read)(const Cell* vector, const u8* element, Cell* out);
extern void (*vector_write)(const Cell* vector, u8* element, const Cell* value);

// The element at an absolute index as a value: the cell itself for blocks
// (valid until the next allocation), else a scalar written into `out`.
const Cell* element_value(const Cell* series, i32 index, Cell* out);
// Stores a value as the element at an absolute index, checking its type.
void element_store(Cell* series, i32 index, const Cell* value);

// The /part and /dup arguments of insert and append as the stack entries
// convert them for the typed entries: /part (a count, or a position in
// `value`) becomes an integer! count in its cell, a negative count moving
// `value`'s head back; /dup is checked. Answers false when the action must do
// nothing. Null cells are absent refinements.
bool insert_counts(Cell* value, Cell* part, Cell* dup);
// The same for change, whose /part counts in the changed series itself.
bool change_counts(Cell* series, Cell* part, Cell* dup);

// Start-up and memory resets: forgets the shared take buffer, makes the words.
void init_state();

// --- Actions -----------------------------------------------------------------
// Typed entries, also called by the datatypes that build on them. The first
// argument is the series cell, which also receives the result where the
// action answers a series. Absent refinement arguments are null.

// /seed seeds the generator from the bytes of the series and answers unset;
// /only answers one element (none when empty); otherwise shuffles in place.
Cell* random(Cell* series, bool seed, bool secure, bool only);
Cell* reflect(Cell* series, i32 field);
Cell* clear(Cell* series);
Cell* copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
i32 length_q(const Cell* series);
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* pick(Cell* series, i32 index, Cell* boxed);
Cell* poke(Cell* series, i32 index, Cell* value, Cell* boxed);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* reverse(Cell* series, Cell* part, Cell* skip);
// Answers a new series of the series' type in the series cell (without /part
// it shares one buffer that every such take reuses), or the none cell.
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* modify(Cell* series, i32 field, Cell* value, bool case_);

void init();

}  // namespace series
}  // namespace zir
