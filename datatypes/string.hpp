// string!: storage of text at one of three widths, the concatenation core and
// the writers that form, mold and every text builder use, and the string
// actions. file!, url!, tag!, email! and ref! keep their text the same way and
// build on what is exported here; binary! and vector! reuse the buffer
// routines with their own units.
//
// A string value holds its head index in word 1, the node of its buffer in
// word 2 and the node of its conversion cache (or 0) in word 3. A buffer's
// unit is 1, 2 or 4 bytes per code point (unit 1 holds 0..0xFF, unit 2
// 0..0xFFFF); it only grows: a wider code point widens the buffer in place,
// from its last element backwards, and only `zs_reset` sets it back to 1.
// Two writer families widen at different points: the mold and form writers
// (`append_char` and the appenders built on it) keep unit 1 for ASCII only,
// the element writers (`poke_char`, `overwrite_char`, `insert_char`,
// `insert_codepoints`) for all of 0..0xFF.
//
// The module is split by concern: string.cpp (storage, conversion, make and
// to, registration), string_mold.cpp (form, mold, escapes, hexadecimal),
// string_search.cpp (comparison, find, select, path access, parse tests),
// string_modify.cpp (append, insert, change, swap, take, trim, sort, the set
// operations).
//
// Writers append at the buffer's tail, whatever the value's head. Pointers
// answered into a buffer are good until the next allocation.
#pragma once

#include <string>

#include "runtime/memory.hpp"

namespace zir {
namespace string {

// --- Elements ----------------------------------------------------------------

inline u32 get_char(const u8* p, u32 unit) {
    switch (unit) {
        case 1: return *p;
        case 2: return u32(p[0]) | (u32(p[1]) << 8);
        default: return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
    }
}

inline void put_char(u8* p, u32 unit, u32 cp) {
    switch (unit) {
        case 1: *p = u8(cp); break;
        case 2: p[0] = u8(cp); p[1] = u8(cp >> 8); break;
        default: std::memcpy(p, &cp, 4); break;
    }
}

// The unit a code point needs in a buffer written by the element writers.
inline u32 unit_for(u32 cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Text read from a value: a string-family value, or a symbol! (its spelling's
// string, read from index 0: the one `symbol::get_buffer` keeps in the table's
// cell, or for another copy of the cell one made from its UTF-8). `head` is an element index from the buffer's
// first used element, never past its tail.
struct Text {
    u32 node;
    i32 head;
};
Text text_of(const Cell* value);

// --- Reading -----------------------------------------------------------------

// The head element; a head index past the tail is first set to the tail.
u8* zs_head(Cell* str);
u8* zs_tail(const Cell* str);
bool zs_tail_q(const Cell* str);
// Code points from the head to the tail (0 when the head is past the tail).
i32 zs_length(const Cell* str);
// Code points of the whole buffer.
i32 zs_abs_length(const Cell* str);
u32 get_char_at(const Cell* str, i32 index);   // counted from the first used element
// Index from the head of the first occurrence of a code point, or -1.
i32 zs_find_char(const Cell* str, u32 cp);

// The text from the head as UTF-8 (for tests and diagnostics).
std::string to_std(const Cell* str);

// --- Making ------------------------------------------------------------------

// An empty string of the given capacity (elements) and unit in the cell.
void make_at(Cell* c, i64 size, u32 unit);
// An empty unit-1 string with room for n elements (1 when n is 0).
void zs_make_at(Cell* c, i64 n);
Cell* push(const Cell* value);
// Empties the string and sets its unit back to 1; answers it.
Cell* zs_reset(Cell* str);

// A string! built from encoded text: encoding ENCODING_UTF8 or
// ENCODING_UTF16LE (length in 16-bit units, CRs kept). Any other encoding is
// a fault of the caller: the process ends with runtime error 101. Without a
// target the value is pushed. Answers the cell. The text may lie in a series
// buffer (a binary's bytes): it is read from a copy taken before the string
// is made.
constexpr i32 ENCODING_UTF8 = 0;
constexpr i32 ENCODING_UTF16LE = -1;
Cell* load(const u8* text, i64 length, Cell* target, i32 encoding);
Cell* load_in(const u8* text, i64 length, Cell* block, i32 encoding);
Cell* load_push(const u8* text, i64 length, i32 encoding);

// --- Writing -----------------------------------------------------------------

// Widens a text buffer from one unit to a wider one; answers the buffer to
// use afterwards.
SeriesBuffer* widen_to(SeriesBuffer* s, u32 from, u32 to);

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
// Appends text from outside that may not be UTF-8 (header bytes, another
// program's clipboard): decoded as UTF-8 when all of it is well formed, else
// each byte as its Latin-1 character, so nothing is refused or lost.
void append_utf8_lenient(Cell* str, const u8* text, i64 n);
// Appends n code points stored at `unit` bytes each.
void append_codepoints(Cell* str, const u8* text, i64 n, u32 unit);

// Stores a code point as element `index` (counted from the first used one),
// widening the buffer when a unit-1 buffer meets one above 0xFF or a unit-2
// buffer one above 0xFFFF.
void poke_char(Cell* str, i32 index, u32 cp);
// As poke_char; an index at or past the tail grows the buffer until the
// element fits and moves the tail just past it (elements skipped on the way
// read as 0).
void overwrite_char(Cell* str, i32 index, u32 cp);
// Inserts one code point before element `index`, widening as poke_char does.
void insert_char(Cell* str, i32 index, u32 cp);
// Inserts n code points before element `index` (counted from the first used
// one), widening the buffer as poke_char does; `cps` may lie in a series buffer.
void insert_codepoints(Cell* str, i32 index, const u32* cps, i64 n);

// Removes n code points at `index` (from the first used element), moving the
// rest down; nothing when the index is at or past the tail.
void remove_part(Cell* str, i32 index, i32 n);
void remove_char(Cell* str, i32 index);
// Cuts the buffer back to n elements from its first used one.
void truncate_from(Cell* str, i64 n);

// The concatenation core. Copies the source's text from its head (at most
// `part` code points when part >= 0) into the target:
//   CONCAT_APPEND at the target's tail,
//   CONCAT_INSERT at `offset` elements past the target's head, moving the
//     rest up,
//   CONCAT_OVERWRITE from `offset` past the target's head, the tail moving
//     only when the text ends beyond it.
// A narrower target is widened to the source's unit. A narrower source is
// widened in place to the target's (same text, wider storage) unless
// `keep_source`, which copies it code point by code point instead. Source
// and target may be one buffer. Answers the target's buffer.
enum ConcatMode : i32 { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };
SeriesBuffer* zs_concatenate(Cell* target, const Cell* source, i32 part, i32 offset, bool keep_source, i32 mode);
SeriesBuffer* concatenate(Cell* target, const Cell* source, i32 part, i32 offset, bool keep_source, i32 mode);

// --- Small text routines ------------------------------------------------------

// The upper-case hexadecimal digits, in order.
extern const char HEX_DIGITS[17];
// Two upper-case hexadecimal digits, in a buffer the next call overwrites.
const char* byte_to_hex(u8 byte);
// Eight upper-case hexadecimal digits, padded with "0" (with "F" for a
// negative value); with `drop_zeros` a non-zero value from its first
// significant digit, and zero as "00". In a buffer the next call overwrites.
const char* to_hex(i32 value, bool drop_zeros);
// The float value of decimal text held as code points at `unit` bytes each.
double to_float(const u8* text, i32 length, u32 unit);

// --- Form and mold (string_mold.cpp) -------------------------------------------

// Appends one code point in molded form: "^(hex)" for 0x1E, 0x80..0x9F and,
// with `all`, everything above 0x7F; a caret and a letter for the control
// characters, the double quote and the caret itself; "^~" for 0x7F; else the
// code point itself. Shared by char! and the molds of the string family.
void append_escaped_char(Cell* buffer, u32 cp, bool all);
// The text from the head, as form writes it (at most the /part argument's
// count when `arg` is given); answers part minus the whole length.
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
// The text between double quotes or braces, with caret escapes.
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);

// --- Comparison and searching (string_search.cpp) -------------------------------

// Comparison type of a search key: a string whose payload word 3, when 0 or
// more, is the number of its code points that take part.
constexpr u32 TYPE_STRING_KEY = 56;

i32 compare(const Cell* value, const Cell* other, i32 op);
// Compares the texts from their heads under a comparison op; with `match`
// asks whether `a` begins with `b` (0 when it does).
i32 compare_strings(const Cell* a, const Cell* b, i32 op, bool match);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify);

// The tests the parse dialect makes at a string's head.
bool match_bitset_q(const Cell* str, const Cell* bitset);
bool match_tag_brackets_q(const Cell* str, const Cell* tag);
bool match_q(const Cell* str, const Cell* value, i32 op);
// Whether a code point is at the head or at every skip-th element after it
// (upper-cased first unless `case_`).
bool contains_q(const Cell* str, u32 cp, i32 skip, bool case_);

// --- Modification (string_modify.cpp) ---------------------------------------------

// insert and append: /part and /dup arrive as integer! counts (see
// series::insert_counts).
Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append);
// /part arrives as an integer! count of code points to replace.
Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* swap(Cell* series, Cell* other);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable);
// The set operations (unique, union, intersect, exclude, difference, by the
// codes of block::SetOp) on the current call's first and second argument
// cells; the result replaces the first. `skip` is null when absent.
void do_set_op(bool case_, const Cell* skip, int op);

// --- Actions and registration ---------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type);
Cell* to(Cell* proto, Cell* spec, u32 type);

void init();

}  // namespace string
}  // namespace zir
