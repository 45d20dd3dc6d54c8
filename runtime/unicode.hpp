// Unicode conversions: every text that enters or leaves the runtime passes here.
//
// A string keeps one code point per element, 1 byte (Latin-1), 2 bytes (UCS-2)
// or 4 bytes (UCS-4) wide, chosen per string. This module
//   - decodes UTF-8: a table-driven automaton for the hot paths (lexer, symbol
//     routines, terminal input) and a strict decoder that raises
//     `access invalid-utf8` for the loaders;
//   - encodes code points as UTF-8 and UTF-16;
//   - loads UTF-8, UTF-16LE and Windows-1251 text into a string buffer at the
//     narrowest width, widening the buffer in place when a wider code point
//     arrives (widening never narrows back);
//   - exports a string as UTF-8 or UTF-16 into its conversion cache: payload
//     word 3 of a string value may hold the node of a byte series that the
//     exports write into, made on first use and reused while large enough.
//
// Strings are series values: w1 = head index in elements, w2 = node of the
// buffer, w3 = cache node or 0.
//
// Allocation may move series buffers. Source pointers given to the loaders must
// therefore not point into a series buffer (copy such text out first); the one
// exception is `load_utf16` with no source, which reads the target string's own
// cache through its node. Pointers answered into a cache stay valid until the
// next allocation.
#pragma once

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace unicode {

// Set on a buffer that `load_utf16` filled (the text came from UTF-16).
constexpr u32 SERIES_FROM_UTF16 = 0x40000;

// Exit status of the process when UTF-16 input holds a malformed surrogate
// pair: the data-format status of sysexits.h, so that scripts see a failure.
constexpr int EXIT_INVALID_UTF16 = 65;

// --- UTF-8 decoding --------------------------------------------------------

// Decodes the character at `p` and answers the pointer after the last byte it
// took; the code point goes to `cp`, or -1 for an ill-formed sequence (the
// pointer is then just after the offending byte). The end of the text is not
// tested: the text must end in a complete character or a NUL (which stops any
// sequence it cuts).
const u8* fast_decode_utf8_char(const u8* p, i32* cp);

// Number of code points whose first byte lies in [start, end).
i64 count_utf8_chars(const u8* start, const u8* end);

// `p` advanced by n code points, never past `end`.
const u8* skip_utf8_chars(const u8* p, const u8* end, i64 n);

// 4, 3 or 2 for lead bytes 1111xxxx, 1110xxxx, 110xxxxx; 0 otherwise.
int utf8_lead_size(u8 lead);

// Strict decoder. `avail` gives the bytes readable at `p`; answers the code
// point and sets `avail` to the bytes it used. When the bytes present are a
// valid beginning of a longer sequence, answers -1 and sets `avail` to the
// length the sequence needs. Raises `access invalid-utf8` (with a binary! of
// the up to 4 bytes at `p`) for a stray continuation byte, an invalid lead byte,
// a bad continuation byte, an overlong form, a code point past U+10FFFF, one in
// DC00..DCFF, and U+FFFE. Other surrogates (D800..DBFF, DD00..DFFF) load: the
// runtime writes unpaired surrogates as three-byte forms and reads them back.
i32 decode_utf8_char(const u8* p, i32* avail);
// The same judgement without raising: answers -2 where decode_utf8_char
// raises (the lexer reports its own syntax error).
i32 check_utf8_char(const u8* p, i32* avail);
// Whether n bytes are text the strict decoder reads whole, without raising:
// no ill-formed sequence and no character cut by the end.
bool utf8_valid_q(const u8* p, i64 n);

// --- UTF-8 encoding --------------------------------------------------------

// Bytes of the UTF-8 encoding of a code point (1..4); above 0x10FFFF raises
// `script invalid-char`.
int cp_utf8_size(u32 cp);

// Writes the UTF-8 encoding of a code point and answers its length. Surrogate
// code points are encoded like any other; above 0x10FFFF raises `script invalid-char`.
int cp_to_utf8(u32 cp, u8* out);

// Writes as many leading bytes of the encoding as `room` allows; answers how many.
int cp_to_utf8_room(u32 cp, u8* out, int room);

// UTF-8 bytes needed for the elements in [start, end) of the given unit.
i64 utf8_size_of(const u8* start, const u8* end, u32 unit);

// --- Loading ---------------------------------------------------------------

// Loads UTF-8 text into `target` (a series node; its content is replaced from
// its offset on, its unit kept unless a wider code point arrives) or, when 0,
// into a new unit-1 buffer; answers the node. A leading byte-order mark is
// skipped. A character cut by the end of the text stops loading; its bytes are
// counted in `remainder` (set to 0 when all was read) so that the caller can
// pass them again with the next block. With `crlf`, CR LF becomes LF and a lone
// CR becomes LF.
u32 load_utf8(const u8* src, i64 len, u32 target, i32* remainder, bool crlf);
u32 load_utf8_into(const u8* src, i64 len, Cell* str, i32* remainder);
u32 load_utf8_new(const u8* src, i64 len);

// Loads Windows-1251 bytes like `load_utf8` (code points above 0xFF widen the
// buffer to unit 2).
u32 load_windows_1251(const u8* src, i64 len, u32 target, bool crlf);

// Widen a text buffer in place, from its last element to its first, expanding
// it first when it lacks room for its elements plus one at the new width.
// Answer the buffer to use afterwards.
SeriesBuffer* widen_1_to_2(SeriesBuffer* s);
SeriesBuffer* widen_1_to_4(SeriesBuffer* s);
SeriesBuffer* widen_2_to_4(SeriesBuffer* s);

// --- UTF-16 ----------------------------------------------------------------

// Element width that n UTF-16LE units need: 4 when any is a surrogate, else 2
// when any is above 0xFF, else 1.
u32 utf16_unit_of(const void* src, i64 n);

// Bytes beyond two per element that a UTF-16 copy of [start, end) may need:
// two for every LF (a CR may go before it) and for every code point above 0xFFFF.
i64 utf16_extra_size(const u8* start, const u8* end, u32 unit);

// Loads n UTF-16LE units into the target string's buffer (content replaced, unit
// set to the width needed) or a new buffer; answers the node. With no source
// and n > 0, the units are read from the target string's cache. An empty text
// with no target gets a unit-2 buffer. With `drop_cr`, CR units
// are left out. A high surrogate not followed by a low one prints
// "*** Input Error: invalid UTF-16LE codepoint" and ends the process with
// EXIT_INVALID_UTF16.
u32 load_utf16(const void* src, i64 n, Cell* target, bool drop_cr);

// Writes a code point as UTF-16; answers the units written: 1, 2 for a
// surrogate pair, 0 above 0x10FFFF.
int cp_to_utf16(u32 cp, u16* out);

// Widens each byte of a NUL-terminated text to a unit, then writes a NUL unit;
// answers the units written before the NUL.
i64 ascii_to_utf16(const char* src, u16* out);

// --- Exports into the string's cache ---------------------------------------

// NUL-terminated UTF-8 copy of the string from its head, at most *len code
// points (-1: to the tail); *len becomes the byte count. With `crlf`, every LF
// is preceded by CR. Raises `script invalid-char` for a code point above 0x10FFFF.
u8* to_utf8(Cell* str, i32* len);
u8* to_utf8_part(Cell* str, i32* len, bool crlf);

// UTF-8 of n code points from the head (-1: all) into `target`, NUL-terminated
// when asked; answers the byte count (without the NUL). The room must be there
// (see `utf8_size_of`).
i32 to_utf8_buffer(const Cell* str, u8* target, i32 n, bool nul);

// As `to_utf8_buffer` (n <= 0: all) but never writes beyond `room` bytes: only
// whole characters are written, and the NUL, when asked, takes one byte of it.
i32 to_utf8_limit(const Cell* str, u8* target, i32 room, i32 n, bool nul);

// NUL-terminated UTF-16 copy of the string from its head, at most *len code
// points (-1: all); *len becomes the unit count (CR and surrogate units
// included). With `crlf`, every LF is preceded by CR. A code point above
// 0x10FFFF ends the export: the answer is null.
u16* to_utf16_part(Cell* str, i32* len, bool crlf);
u16* to_utf16(Cell* str);

}  // namespace unicode
}  // namespace zir
