// binary!: the byte string of the language, a series of 8-bit elements
// written #{0102FF}. Its parent is string!, whose buffer routines it shares at
// unit 1; it inherits every series action it does not define.
//
// A binary value holds its head index (in bytes) in word 1 and the node of its
// unit-1 buffer in word 2; word 3 is 0. A head past the tail is clamped to the
// tail by everything that writes.
//
// The module is split by concern: binary.cpp (the raw-buffer helpers the
// services build binaries with, to, form and mold, comparison and the parse
// tests, the bitwise actions, registration), binary_modify.cpp (the bytes a
// value puts in, insert, append, change, trim) and binary_codecs.cpp (the
// base-2, base-16, base-58 and base-64 text encodings of bytes).
//
// Pointers answered into a buffer are good until the next allocation.
#pragma once

#include <vector>

#include "datatypes/string.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace binary {

// --- Raw-buffer helpers ----------------------------------------------------------

// The head byte; a head past the tail is first set to the tail.
inline u8* zs_head(Cell* bin) { return string::zs_head(bin); }
inline u8* zs_tail(const Cell* bin) { return string::zs_tail(bin); }
// Bytes from the head to the tail (0 when the head is past the tail).
inline i32 zs_length_q(const Cell* bin) { return string::zs_length(bin); }
inline bool zs_tail_q(const Cell* bin) { return string::zs_length(bin) == 0; }
// The byte at an index counted from the buffer's first used byte.
inline u8 zs_byte_at(const Cell* bin, i32 index) { return series::head(node_buffer(bin->w2))[index]; }
// Move the head by n (by 1) when it stays inside the series; answer whether
// head + n is at or past the tail.
bool zs_skip(Cell* bin, i32 n);
inline bool zs_next(Cell* bin) { return zs_skip(bin, 1); }
// Drops the bytes from the head on.
void zs_cut_at_head(Cell* bin);
// Copies n bytes to the tail, growing the buffer to double its size (or to
// twice the request when that is larger); answers where they went. The source
// may lie in a series buffer, this one included.
u8* zs_append(Cell* bin, const u8* bytes, i64 n);
// Makes room for n bytes at head + offset, moving what follows up, and copies
// them in; answers where they went. The source may lie in a series buffer.
u8* zs_insert(Cell* bin, i32 offset, const u8* bytes, i64 n);
// Overwrites n bytes at head + offset, growing the buffer when the write
// reaches beyond it; the tail moves only when the write ends past it.
void zs_write_at(Cell* bin, i32 offset, const u8* bytes, i64 n);
// Appends n as four bytes, most significant first.
void zs_append_int32(Cell* bin, i32 n);

// --- Values ----------------------------------------------------------------------

// An empty binary with room for `capacity` bytes (16 when 0) in the cell,
// keeping its new-line flag.
Cell* make_at(Cell* c, i64 capacity);
Cell* make_in(Cell* block, i64 capacity);
// A new binary holding a copy of n bytes, in a new cell at the block's tail or,
// without a block, pushed. The bytes may lie in a series buffer. `load` is the
// pushed form: the way checksums, compression and the other services answer.
Cell* load_in(const u8* bytes, i64 n, Cell* block);
Cell* load(const u8* bytes, i64 n);
Cell* push(const Cell* bin);
// The bytes from the head, for tests and the services.
std::vector<u8> bytes_of(const Cell* bin);

// The byte an integer! (-128..255, the low eight bits) or a char! (0..0xFF)
// stands for as an element; anything else raises `script invalid-arg`.
u8 byte_of(const Cell* value);
// Writes the byte a value stands for (byte_of) at the address: poke's store.
void set_byte(u8* p, const Cell* value);

// --- Comparison and parse tests -----------------------------------------------------

// The bytes from the heads compared under a comparison op; the other value
// may be a binary! or text (its code points, each compared with a byte).
// With `match`, whether `other` is a prefix of `bin` (0 when it is). Any
// other type answers NOT_COMPARABLE.
i32 compare_bytes(const Cell* bin, const Cell* other, i32 op, bool match);
// Whether the head byte is in the bitset (beyond its bits: whether it is
// complemented).
bool match_bitset_q(const Cell* bin, const Cell* bitset);
// A text or binary that `bin` begins with, or a char! equal to its head byte.
bool match_value_q(const Cell* bin, const Cell* other, i32 op);

// --- The bytes a value puts into a binary (binary_modify.cpp) -------------------------

// How insert_value treats a value it has no bytes for.
enum InsertMode : i32 {
    MODE_MEASURE = 0,   // insert, append: script bad-to-arg
    MODE_WRITE = 1,
    MODE_CHANGE = 2,    // change: its formed text, as UTF-8
};
// Appends to `out` the bytes that `value` puts into a binary and answers their
// count: a char! its UTF-8, an integer! one byte (-128..255, else `script
// invalid-arg`), a binary! or tuple! its bytes, text its UTF-8, a block!,
// paren! or hash! the bytes of each value in turn. `part` (negative: no limit)
// limits the bytes, whole characters only for text; for a block it counts its
// values, or with `only` the bytes left for each value in turn. With `out`
// null the bytes are only counted.
i64 insert_value(std::vector<u8>* out, const Cell* value, i64 part, bool only, i32 mode);

// --- Codecs (binary_codecs.cpp) ----------------------------------------------------

// Encoders write ASCII characters from `out` on and answer the address past
// the last one. Room the caller gives: 8n bytes for base 2, 2n for base 16
// and base 58, 4 for every started group of 3 bytes for base 64.
u8* encode_2(u8* out, const u8* in, i64 n);
u8* encode_16(u8* out, const u8* in, i64 n);
u8* encode_58(u8* out, const u8* in, i64 n);
u8* encode_64(u8* out, const u8* in, i64 n);
// Room an encoder needs for n bytes.
i64 encoded_room(i32 base, i64 n);

// Decoders read `count` code points stored at `unit` bytes each and answer
// the node of a new binary! buffer, or 0 when the text is not valid in that
// base. A ";" starts a comment that runs to the next line feed. The text may
// lie in a series buffer: it is read before anything is allocated.
u32 decode_2(const u8* text, i64 count, u32 unit);
u32 decode_16(const u8* text, i64 count, u32 unit);
u32 decode_58(const u8* text, i64 count, u32 unit);
u32 decode_64(const u8* text, i64 count, u32 unit);

// Decodes an issue!'s spelling as base-16 text into a binary in `result`;
// a spelling that is not raises `script invalid-data` with the issue.
Cell* from_issue(const Cell* issue, Cell* result);

// --- Actions -------------------------------------------------------------------------

// to binary! (also make binary! of any spec but a number): a new binary pushed.
Cell* to(Cell* proto, Cell* spec, u32 type);
// The bytes as "#{" two hex digits a byte "}", lines of 32 bytes from 31 bytes
// on; form writes the same text.
i32 mold_bytes(const Cell* bin, Cell* buffer, bool only, bool flat, const Cell* arg, i32 part, i32 indent);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
i32 compare(const Cell* value, const Cell* other, i32 op);
// and~, or~, xor~ on the current call's two arguments (MATH_AND, MATH_OR,
// MATH_XOR): a new binary as long as the longer operand.
void do_bitwise(i32 op);
// Inverts every byte from the head in place; answers the binary.
Cell* complement(Cell* bin);
// /part and /dup arrive as integer! counts (series::insert_counts).
Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append);
// /part arrives as an integer! count of bytes to replace (series::change_counts).
Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

// The pixels of an image! as to binary! gives them; set by the image! module.
// Until then such a conversion raises `internal not-done`.
extern Cell* (*image_to_binary)(const Cell* image, Cell* result);

void init();

}  // namespace binary
}  // namespace zir
