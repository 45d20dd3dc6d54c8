// string!: storage of text at one of three widths, and the writers that
// form, mold and every text builder use.
//
// A string value holds its head index in word 1, the node of its buffer in
// word 2 and the node of its conversion cache (or 0) in word 3; file!, url!,
// tag!, email! and ref! share the layout. A buffer's unit is 1, 2 or 4 bytes
// per code point; it only grows: a wider code point widens the buffer in place.
// Writers append at the buffer's tail, whatever the value's head.
#pragma once

#include <string>

#include "runtime/memory.hpp"

namespace zir {
namespace string {

inline u32 get_char(const u8* p, u32 unit) {
    switch (unit) {
        case 1: return *p;
        case 2: return u32(p[0]) | (u32(p[1]) << 8);
        default: return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
    }
}

// An empty string of the given capacity (elements) and unit in the cell.
void make_at(Cell* c, i64 size, u32 unit);
// An empty unit-1 string with room for n elements (1 when n is 0).
void zs_make_at(Cell* c, i64 n);

// Appends one code point; a unit-1 buffer keeps 0..0x7F and widens for more
// (the writers of mold and form).
void append_char(Cell* str, u32 cp);
// The appenders taking text by address accept a source inside a series buffer
// (a symbol's spelling, the string itself): they copy it out before any
// allocation that could move it.
//
// Appends bytes as code points (0x80..0xFF become those code points).
void append_literal(Cell* str, const char* text);
void append_bytes(Cell* str, const u8* text, i64 n);
// Appends UTF-8 text, decoded.
void append_utf8(Cell* str, const u8* text, i64 n);

// Stores a code point as element `index` (counted from the first used one),
// widening the buffer when a unit-1 buffer meets one above 0xFF or a unit-2
// buffer one above 0xFFFF.
void poke_char(Cell* str, i32 index, u32 cp);
// Inserts n code points before element `index` (counted from the first used
// one), widening the buffer as poke_char does; `cps` may lie in a series buffer.
void insert_codepoints(Cell* str, i32 index, const u32* cps, i64 n);

// Cuts the buffer back to n elements from its first used one.
void truncate_from(Cell* str, i64 n);

// Code points from the head to the tail (0 when the head is past the tail).
i32 zs_length(const Cell* str);
u32 get_char_at(const Cell* str, i32 index);   // counted from the first used element

// The text from the head as UTF-8 (for tests and diagnostics).
std::string to_std(const Cell* str);

}  // namespace string
}  // namespace zir
