// The cell: every value of the language is one 16-byte cell.
//
// A cell is a 32-bit header and three 32-bit payload words. The header's low
// 8 bits are the datatype id; bit 30 asks for a new line before the value when
// it is molded inside a block; the remaining bits belong to the datatype. The
// payload words mean what the datatype says: integer! and char! keep their value
// in word 2, float!, percent! and time! keep an IEEE double in words 2 and 3
// (low half in word 2), series values keep the head index in word 1 and the node
// id of their buffer in word 2. A fresh cell holds unset!.
#pragma once

#include "runtime/base.hpp"

namespace zir {

struct alignas(8) Cell {
    u32 header;
    u32 w1;
    u32 w2;
    u32 w3;
};
static_assert(sizeof(Cell) == 16);

// Datatype ids. The tables reserve TYPE_TOTAL ids.
enum TypeId : u32 {
    TYPE_VALUE = 0,
    TYPE_DATATYPE = 1,
    TYPE_UNSET = 2,
    TYPE_NONE = 3,
    TYPE_LOGIC = 4,
    TYPE_BLOCK = 5,
    TYPE_PAREN = 6,
    TYPE_STRING = 7,
    TYPE_FILE = 8,
    TYPE_URL = 9,
    TYPE_CHAR = 10,
    TYPE_INTEGER = 11,
    TYPE_FLOAT = 12,
    TYPE_SYMBOL = 13,
    TYPE_CONTEXT = 14,
    TYPE_WORD = 15,
    TYPE_SET_WORD = 16,
    TYPE_LIT_WORD = 17,
    TYPE_GET_WORD = 18,
    TYPE_REFINEMENT = 19,
    TYPE_ISSUE = 20,
    TYPE_NATIVE = 21,
    TYPE_ACTION = 22,
    TYPE_OP = 23,
    TYPE_FUNCTION = 24,
    TYPE_PATH = 25,
    TYPE_LIT_PATH = 26,
    TYPE_SET_PATH = 27,
    TYPE_GET_PATH = 28,
    TYPE_ROUTINE = 29,
    TYPE_BITSET = 30,
    TYPE_TRIPLE = 31,
    TYPE_OBJECT = 32,
    TYPE_TYPESET = 33,
    TYPE_ERROR = 34,
    TYPE_VECTOR = 35,
    TYPE_HASH = 36,
    TYPE_PAIR = 37,
    TYPE_PERCENT = 38,
    TYPE_TUPLE = 39,
    TYPE_MAP = 40,
    TYPE_BINARY = 41,
    TYPE_SERIES = 42,
    TYPE_TIME = 43,
    TYPE_TAG = 44,
    TYPE_EMAIL = 45,
    TYPE_HANDLE = 46,
    TYPE_DATE = 47,
    TYPE_PORT = 48,
    TYPE_MONEY = 49,
    TYPE_REF = 50,
    TYPE_POINT2D = 51,
    TYPE_POINT3D = 52,
    TYPE_IMAGE = 53,
    TYPE_EVENT = 54,
    TYPE_TOTAL = 57,
};

// Header bits shared by every datatype.
constexpr u32 TYPE_MASK = 0xFF;
constexpr u32 FLAG_NEW_LINE = 1u << 30;

inline u32 TYPE_OF(const Cell* c) { return c->header & TYPE_MASK; }

// --- Datatype groups ---------------------------------------------------------

// block!, paren!, the four paths and hash!: buffers of cells.
inline bool any_block_q(u32 t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}
// string!, file!, url!, tag!, email!, ref!: buffers of code points.
inline bool any_text_q(u32 t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_REF;
}
inline bool any_series_q(u32 t) {
    return any_block_q(t) || any_text_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_IMAGE;
}
// word!, set-word!, lit-word!, get-word!.
inline bool any_word_q(u32 t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

namespace cell {

inline void set_type(Cell* c, u32 type) { c->header = (c->header & ~TYPE_MASK) | type; }
inline void clear_new_line(Cell* c) { c->header &= ~FLAG_NEW_LINE; }

// A cell written from scratch: header type only, payload zero.
inline void init(Cell* c, u32 type) {
    c->header = type;
    c->w1 = c->w2 = c->w3 = 0;
}

inline double get_float(const Cell* c) {
    u64 bits = (u64(c->w3) << 32) | c->w2;
    return std::bit_cast<double>(bits);
}
inline void set_float(Cell* c, double d) {
    u64 bits = std::bit_cast<u64>(d);
    c->w2 = u32(bits);
    c->w3 = u32(bits >> 32);
}

}  // namespace cell

// Copies the four words; copying a cell onto itself changes nothing.
inline Cell* copy_cell(const Cell* src, Cell* dst) {
    if (src != dst) *dst = *src;
    return dst;
}

}  // namespace zir
