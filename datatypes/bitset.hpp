// bitset!: a set of non-negative integers (code points, most of the time)
// kept as a bit array in a byte series.
//
// Payload word 2 holds the node of a unit-1 byte series; word 1 is unused: a
// bitset always starts at its first byte. Bit n lives in byte n >> 3 under the
// mask 0x80 >> (n & 7), so the top bit of byte 0 is bit 0. The stored bytes
// (tail - offset) always hold the membership itself; the buffer flag
// SERIES_COMPLEMENT says that every bit beyond them is a member too. The
// buffer may be larger than the stored bytes.
//
// Bitsets are built from a small spec dialect (chars, integers, text, ranges
// `A - B`, nested blocks, a leading `not`), tested by pick, find, path access,
// parse rules and string searches, and changed by append, insert, poke,
// remove and clear. Their mold reads back: make bitset! #{...}, or
// make bitset! [not #{...}] with the complement's bytes inverted.
#pragma once

#include "runtime/memory.hpp"

namespace zir {
namespace bitset {

// The operations over a charset description (chars, ranges, texts, `not`).
enum SpecOp : i32 { OP_SIZE = 0, OP_SET = 1, OP_TEST = 2, OP_CLEAR = 3 };
// Who runs it: only the error raised for a bad spec item differs
// (`bad-make-arg`, `bad-to-arg`, `invalid-arg`).
enum SpecMode : i32 { MODE_MAKE = 0, MODE_TO = 1, MODE_OTHER = 2 };

// The highest bit number a bitset can hold. Bits are numbered by 32-bit
// integers, and a bitset's length in bits (stored bytes x 8) must be one too:
// the byte of this bit is the last whose length still fits.
constexpr i64 MAX_BIT = 0x7FFFFFFF - 8;

inline SeriesBuffer* buffer_of(const Cell* bitset) { return node_buffer(bitset->w2); }
// The first stored byte (valid until the next allocation).
inline u8* zs_head(const Cell* bitset) { return series::head(buffer_of(bitset)); }
inline i64 byte_length(const Cell* bitset) { return series::used_bytes(buffer_of(bitset)); }
inline bool complemented_q(const Cell* bitset) { return (buffer_of(bitset)->flags & SERIES_COMPLEMENT) != 0; }
inline u8 bit_mask(i64 bit) { return u8(0x80u >> (bit & 7)); }

// Whether bit n is a member: a stored bit, or beyond the stored bytes the
// complement flag. Negative numbers are never members.
bool has_q(const Cell* bitset, i64 n);
// True for a negative bit, or one whose byte lies beyond the stored bytes.
bool out_of_range_q(const Cell* bitset, i64 bit);
// Makes the stored bytes cover `bit`, the new ones 0xFF on a complemented
// bitset and 0 otherwise; answers the first stored byte.
u8* grow(Cell* bitset, i64 bit);

// Applies the inclusive range low..high (0 <= low <= high) by op OP_SET,
// OP_TEST or OP_CLEAR; answers the test's result (1 or 0), else 0.
i32 range_op(Cell* bitset, i64 low, i64 high, i32 op);
// Applies the code points of a text from its head; op OP_SIZE answers the
// highest of them (-1 for an empty text), OP_TEST whether all are members
// (an empty text is not), the others 0.
i64 apply_string(const Cell* text, Cell* bitset, i32 op);

// Applies a charset description to a bitset (none with OP_SIZE). OP_SIZE and
// OP_SET answer at the outermost level the number of bytes the description
// needs (at least 1), and OP_SET extends the stored bytes to it; OP_TEST
// answers 1 when every bit the description names is a member, else 0.
i64 process_spec(const Cell* spec, Cell* bitset, i32 op, bool nested, i32 mode);

// A new bitset made from a spec (mode MODE_MAKE or MODE_TO) into `result`,
// which may be the spec's own cell.
void make_from_spec(Cell* result, const Cell* spec, i32 mode);

// A bitset of `bytes` zero bytes into a cell.
void make_at(Cell* c, i64 bytes);

// Combines the bitset at `stack::arguments` with the argument after it and
// leaves a new bitset in the first: the codes 5 or, 6 and, 7 xor of the
// actions and 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference of
// the set natives.
void do_bitwise(i32 code);

// Writes each stored byte as two upper-case hexadecimal digits (inverted with
// `inverted`), taking 2 from part per byte; with `limited` it stops as soon as
// part is 0 or less. Answers part.
i32 form_hex(const Cell* bitset, Cell* buffer, bool limited, i32 part, bool inverted);

// Start-up and memory resets: the words of the spec dialect.
void init_state();
void init();

}  // namespace bitset
}  // namespace zir
