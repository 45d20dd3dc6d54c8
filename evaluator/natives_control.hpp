// The control natives' shared parts: the entries of the loop natives (made
// in natives_loop.cpp, registered by fill_control), the iteration steps they
// are built from, and switch's selection.
//
// The iteration steps work on cells the loop pushed before opening its loop
// frame, just below `stack::arguments`:
//   arguments - 1  the loop word, or the block of loop words
//   arguments - 2  the series walked (its head is the walk's position)
//   arguments - 3  remove-each only: an integer!, the record size
// `arguments` itself is the loop frame's result cell (the body's value).
// Code that compiles these loops inline calls the same steps with the same
// layout.
#pragma once

#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

// Entries of the loop natives (slots 6 to 13).
i32 while_star(i32 check, const i32* refinements);
i32 until_star(i32 check, const i32* refinements);
i32 loop_star(i32 check, const i32* refinements);
i32 repeat_star(i32 check, const i32* refinements);
i32 forever_star(i32 check, const i32* refinements);
i32 foreach_star(i32 check, const i32* refinements);
i32 forall_star(i32 check, const i32* refinements);
i32 remove_each_star(i32 check, const i32* refinements);

// --- Iteration steps ------------------------------------------------------------

// Whether an element remains at the series' head (image!: a pixel before
// width x height).
bool more_items_q(const Cell* series);
// One element into the loop word, the head moved past it; false at the tail.
bool foreach_next();
// n elements into the n loop words (a map!: one key and value; n must be
// 2), the head moved past them; false when nothing remained.
bool foreach_next_multi(i32 n);
// Word i of the block := element i of the series from its head (none past
// the tail), for i from 1 to n.
void set_words_by_pick(const Cell* words, const Cell* series, i32 n);
// The record size cell (arguments - 3) := the number of loop words.
void set_words_count();
// After remove-each's body: when its value is true (neither none nor
// false), the n elements just given out are removed and the walk goes on
// from the element that followed them.
void remove_each_next(i32 n);
// forall: the word := the series cell.
void forall_set();
// forall: moves the word's series one on (with `advance`); answers whether
// it is at its tail.
bool forall_next(bool advance);
// forall: the series cell takes the head of the word's series.
void forall_sync();
// A float! count becomes the integer! it truncates to; NaN and a count out
// of the integer range raise `script out-of-range` with the count.
void to_loop_count(Cell* count);
void get_loop_count();
// repeat compiled inline: the word's integer grows by one (set again
// through its context, so that an object hears of it).
void repeat_step(Cell* word);

// --- switch -------------------------------------------------------------------

// The index, in the cases block's series, of the block that follows the
// first case equal to `value` (same datatype, `equal?`); -1 when nothing
// matches, `value` is a block!, or no block follows the match.
i32 switch_select(const Cell* value, const Cell* cases);

}  // namespace natives
}  // namespace zir
