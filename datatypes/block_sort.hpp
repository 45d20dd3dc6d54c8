// block!: sorting in place and the set operations (unique, union, intersect,
// exclude, difference).
//
// `sort` orders the cells from the head (or a /part of them) as records of
// /skip cells, with the runtime's quicksort or, under /stable, its merge sort
// (runtime/sorting.hpp). The engine holds raw pointers for the whole sort, so
// it sorts a rooted copy of the cells that never moves, with the collector on:
// a comparator function may allocate, collect and even change the block, into
// which the sorted cells are then written back as far as it still reaches.
//
// The set operations build a new block of first occurrences, finding values
// through hash tables (runtime/hash_table.hpp): one over the result to drop
// duplicates, and the other series' own (a hash!) or a temporary one to test
// membership. The natives that call them check the argument types first.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zir {
namespace block {

// Comparator flags handed to the sort callbacks: /reverse, whole records
// (/all), and from bit SORT_SHIFT up either the record size in cells (with
// /all) or the 0-based offset of the compared cell inside a record.
constexpr std::intptr_t SORT_REVERSE = 1;
constexpr std::intptr_t SORT_ALL = 2;
constexpr int SORT_SHIFT = 2;

// What the refinements of sort ask for, checked, for block! and string!
// alike: the elements sorted (from `at`, `count` of them, the head clamped
// first; a negative /part sorts those before the head), the count asked for
// (fitted again to the series after the owner's report), the record size of
// /skip, the 0-based compared element of an integer /compare and a
// function! comparator (unset when none). With nothing to sort nothing else
// is checked; otherwise the refinement errors are raised here.
struct SortPlan {
    i64 at = 0;
    i64 count = 0;
    i64 wanted = 0;
    i64 size = 1;
    i64 offset = 0;
    Cell function{};
};
SortPlan plan_sort(Cell* series, Cell* skip, Cell* comparator, Cell* part, bool all);

// The sort action (slot 45): answers the series.
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable);

// The default callback: compares two records under comparison op 7 (sort) or
// 8 (case-sensitive sort). Values that cannot be compared order by type id.
int sort_compare(const void* cell, const void* other, std::intptr_t op, std::intptr_t flags);

// The callback of /compare with a function!: `function` is the address of
// the function! cell. The function receives the second value then the first
// (the first then the second under /reverse), or, with /all, two blocks
// holding the records; true maps to 1, false and none to -1, an integer! to
// itself, a float! to its sign, anything else to 1.
int sort_compare_with(const void* cell, const void* other, std::intptr_t function, std::intptr_t flags);

// Calls a comparator function! on two values, pushed second first (first
// first under `reverse`), and answers its result. The values are pushed:
// they need not be held elsewhere.
Cell run_comparator(const Cell* function, const Cell* first, const Cell* second, bool reverse);

// Runs a comparator function! whose call frame is open with its two
// arguments pushed: it supplies the rest of the frame (the cells of the
// function's refinements and locals), runs the body and leaves the result in
// the frame's first cell. Set by the interpreter; while it is null, a sort
// that must call a function raises `internal not-done`.
extern void (*call_comparator)(const Cell* function);

// Set-operation codes, continuing the arithmetic operation codes.
enum SetOp : int { SET_UNIQUE = 8, SET_UNION = 9, SET_INTERSECT = 10, SET_EXCLUDE = 11, SET_DIFFERENCE = 12 };

// Works on the first (and, but for unique, the second) argument cell of the
// current call, `stack::arguments` and the cell after it, and leaves the
// result in the first: a new series of first occurrences, at head 0. `skip`
// (null when absent) gives the record size.
void do_set_op(bool case_, const Cell* skip, int op);

// Start-up and memory resets: forgets the blocks that hand records to a
// comparator function.
void init_sort_state();

}  // namespace block
}  // namespace zir
