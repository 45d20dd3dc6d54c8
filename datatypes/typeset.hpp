// typeset!: a set of datatypes, used above all in function specs to say
// which datatypes an argument accepts.
//
// Payload words 1 to 3 form a 96-bit map: datatype id t is bit 0x80 >> (t & 7)
// of payload byte t >> 3, byte 0 being the low byte of word 1. The typesets of
// a function's argument cache carry the argument mode in header bits 20..21.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace typeset {

constexpr u32 ARG_MODE_SHIFT = 20;
constexpr u32 ARG_MODE_MASK = 3u << ARG_MODE_SHIFT;
constexpr u32 BITS = 96;

// The payload word holding a type's bit, and the bit within it.
inline u32& word_of(Cell* ts, u32 type) { return type < 32 ? ts->w1 : type < 64 ? ts->w2 : ts->w3; }
inline u32 word_of(const Cell* ts, u32 type) { return type < 32 ? ts->w1 : type < 64 ? ts->w2 : ts->w3; }
inline u32 bit_of(u32 type) { return 1u << (((type >> 3) & 3) * 8 + 7 - (type & 7)); }

inline bool has_q(const Cell* ts, u32 type) { return type < BITS && (word_of(ts, type) & bit_of(type)) != 0; }
inline void set_type_bit(Cell* ts, u32 type) {
    if (type < BITS) word_of(ts, type) |= bit_of(type);
}

// Appends a typeset with the given payload to a block value.
Cell* make_in(Cell* block, u32 w1, u32 w2, u32 w3);
// Appends the typeset of every datatype but unset! (an argument without a type spec).
Cell* make_default_in(Cell* block);
// Appends the typeset a spec block describes: datatypes, typesets, and words
// standing for either; a word whose value is itself a word adds object!.
Cell* make_from_spec_in(Cell* block, const Cell* spec);
// Adds a datatype, a typeset, or what a word stands for.
void add(Cell* ts, const Cell* value);
// and~, or~, xor~ and the set operations (math-op codes 5..12) on the typeset
// at `stack::arguments` and the typeset or datatype after it; the result
// replaces the first argument.
void do_bitwise(i32 op);
// A new block in `block` (a cell that does not move, such as a stack cell)
// holding the datatype of every member, in id order.
Cell* to_block(const Cell* ts, Cell* block);
// Members among the registered datatype ids.
i32 count(const Cell* ts);
void clear(Cell* c);
Cell* push(const Cell* ts);

// Argument checks of functions: a value whose datatype the typeset lacks
// raises `script expect-arg` naming the caller, the datatype and the argument.
const Cell* check_arg(const Cell* ts, i32 argument, const Cell* value);
// Raises that error for a value of `type` given as argument `argument` (from 0).
[[noreturn]] void expect_arg(u32 type, i32 argument);
// Checks argument i from `stack::arguments`; -1 (an absent refinement) checks nothing.
void check_stack_arg(const Cell* ts, i32 i);
// Checks argument i only when the refinement is true.
void check_refinement_arg(const Cell* refinement, const Cell* ts, i32 i);
const Cell* check_not_unset(i32 argument, const Cell* value);

void init();

}  // namespace typeset
}  // namespace zir
