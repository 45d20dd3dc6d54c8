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

#include <emmintrin.h>

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

// --- What the runtime knows of each datatype ------------------------------------
//
// One row per datatype id (runtime/type_traits.cpp): the name, how the
// collector marks a value (which payload words hold nodes), how a value is
// hashed, and the groups it belongs to.

namespace type_traits {

enum Mark : u8 {
    MARK_NOTHING,    // no node
    MARK_CELLS,      // word 2: a block of cells
    MARK_TEXT,       // word 2: the text, word 3: its conversion cache (0 when none)
    MARK_SYMBOL,     // word 2: cached string, word 3: UTF-8 spelling
    MARK_CONTEXT,    // word 1: word table; word 2: values, unless they live on the stack
    MARK_WORD,       // word 1: the bound context
    MARK_NATIVE,     // words 2 and 3: spec and more blocks
    MARK_OP,         // as native, and word 1's context when made from a function
    MARK_FUNCTION,   // word 1: context, words 2 and 3: blocks
    MARK_BYTES,      // word 2: a byte series
    MARK_OBJECT,     // word 1: context, word 3: change-handler record
    MARK_INDEXED,    // word 2: the cells, word 3: the hash table
    MARK_HANDLE,     // word 3: a handle-table slot
    MARK_IMAGE,      // word 2: the pixels, and what the image backend holds
    MARK_EVENT,      // word 2: a block when word 3 says so
};

enum Hash : u8 {
    HASH_NOTHING,    // all values of the type hash to 0
    HASH_UNSET,
    HASH_NONE,
    HASH_W1,         // one payload word
    HASH_W2,
    HASH_W3,
    HASH_SYMBOL_ID,  // the word's canonical symbol
    HASH_SPELLING,   // a symbol's text
    HASH_W1_W2,      // payload bytes: words 1 and 2
    HASH_W2_W3,
    HASH_W1_W3,
    HASH_TUPLE,      // as many payload bytes as the tuple has
    HASH_TEXT,       // code points folded unless case-sensitive
    HASH_BYTES,      // the bytes from the head
    HASH_MONEY,      // sign and amount, not the currency
    HASH_DATE,       // the instant: day number and UTC time, not the zone
};

enum Group : u16 {
    G_ANY_BLOCK = 1,      // buffers of cells: block!, paren!, the paths, hash!
    G_ANY_TEXT = 2,       // buffers of code points: string!, file!, url!, tag!, email!, ref!
    G_ANY_SERIES = 4,     // every series type
    G_ANY_WORD = 8,       // word!, set-word!, lit-word!, get-word!
    G_NODE_KEYED = 16,    // hashed by node: its hash changes if the node does
};

}  // namespace type_traits

struct TypeTraits {
    const char* name;   // "block!"
    u8 mark;            // type_traits::Mark
    u8 hash;            // type_traits::Hash
    u16 groups;         // type_traits::Group bits
};
extern const TypeTraits type_table[TYPE_TOTAL];

inline bool in_group(u32 t, u16 group) { return t < TYPE_TOTAL && (type_table[t].groups & group) != 0; }
inline bool any_block_q(u32 t) { return in_group(t, type_traits::G_ANY_BLOCK); }
inline bool any_text_q(u32 t) { return in_group(t, type_traits::G_ANY_TEXT); }
inline bool any_series_q(u32 t) { return in_group(t, type_traits::G_ANY_SERIES); }
inline bool any_word_q(u32 t) { return in_group(t, type_traits::G_ANY_WORD); }

namespace cell {

inline void set_type(Cell* c, u32 type) { c->header = (c->header & ~TYPE_MASK) | type; }
inline void clear_new_line(Cell* c) { c->header &= ~FLAG_NEW_LINE; }

// A cell written from scratch: header type only, payload zero.
inline void init(Cell* c, u32 type) {
    c->header = type;
    c->w1 = c->w2 = c->w3 = 0;
}

// A cell written whole, in one 16-byte store. A cell computed in place and
// then copied (an operator's result moved to its variable) is read back as
// one 16-byte load at once: had it been written field by field, that load
// would wait for the pieces to reach the cache (no store forwarding).
inline void store(Cell* c, u32 header, u32 w1, u32 w2, u32 w3) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(c), _mm_set_epi32(int(w3), int(w2), int(w1), int(header)));
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
