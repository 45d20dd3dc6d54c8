// Sorting engine of `sort` on blocks and strings.
//
// Both sorts work in place on a raw array of fixed-width elements (16-byte
// cells for blocks, 1, 2 or 4 bytes for text, several of either for records
// under /skip) and order them with a comparison callback that the caller
// supplies together with two opaque arguments (its comparison op and option
// flags, or the user's comparator function), which are passed through
// untouched.
//
// - `merge_sort` is stable: natural runs, extended to a minimum length by
//   insertion sort, merged under the powersort policy through one work buffer
//   of count / 2 elements.
// - `quicksort` is not stable: a driver probes the input for presortedness and
//   gathers a sorted prefix, then `quicksort_step` partitions three ways around
//   pivots drawn from a sorted sample that grows as it goes.
//
// The callback may raise a language error; it propagates through the sort and
// the array is left partly sorted but still a permutation of its elements.
//
// The sorts hold raw pointers into the array and, for the merge sort, copies
// of elements in its work buffer. A caller whose callback can allocate sorts
// memory that the collector never moves, with the array and the work buffer
// both visible to the collector when they hold values (block sort sorts a
// rooted copy of the cells and hands the merge sort a rooted work buffer).
#pragma once

#include <cstdint>

#include "runtime/base.hpp"

namespace zir {
namespace sort {

// Negative when x sorts before y, 0 when they tie, positive when after.
using Compare = int (*)(const void* x, const void* y, std::intptr_t arg1, std::intptr_t arg2);

// Exchanges two elements; without `bytewise` the width must be a multiple of 4.
void swap(void* a, void* b, size_t width, bool bytewise);

// The end of the natural run starting at `start` (start < end): a strictly
// descending run is reversed in place first, so the answer bounds an
// ascending run.
u8* find_run(u8* start, u8* end, size_t width, std::intptr_t arg1, std::intptr_t arg2, Compare cmp);

// Merges the adjacent sorted runs [run1, run2) and [run2, end) in place
// through `work`, which holds at least the shorter run; equal elements keep
// their order.
void merge_runs(u8* run1, u8* run2, u8* end, u8* work, size_t width, std::intptr_t arg1,
                std::intptr_t arg2, Compare cmp);

// Stable sort. Raises `script too-long` when its work buffer would pass 32
// bits and `internal no-memory` when it cannot be allocated.
void merge_sort(void* base, i64 count, size_t width, std::intptr_t arg1, std::intptr_t arg2, Compare cmp);
// The same through a work buffer of the caller's, of count / 2 elements.
void merge_sort_through(void* base, i64 count, size_t width, std::intptr_t arg1, std::intptr_t arg2, Compare cmp,
                        void* work);

// Sorts a range of `count` elements of which |sample| are already sorted and
// kept at the front (sample > 0) or at the end (sample < 0) of the range.
void quicksort_step(void* base, i64 sample, i64 count, size_t width, std::intptr_t arg1,
                    std::intptr_t arg2, Compare cmp);

// Unstable sort.
void quicksort(void* base, i64 count, size_t width, std::intptr_t arg1, std::intptr_t arg2, Compare cmp);

// The same two sorts, comparing elements by the signed 32-bit integer at byte
// offset `key` of each (greater first when `descending`) without a callback:
// they take exactly the steps the callback versions take for a callback that
// answers that order, so elements that tie end in the same places.
void quicksort_i32(void* base, i64 count, size_t width, size_t key, bool descending);
void merge_sort_i32_through(void* base, i64 count, size_t width, size_t key, bool descending, void* work);

}  // namespace sort
}  // namespace zir
