// Hash tables: one engine for five kinds of index.
//
// A table never holds values itself: it indexes the cells of a block (kinds 0
// to 2: `hash!` keys, `map!` keys, word tables of contexts and the symbol
// table) or a block of fixed-size entries (kinds 3 and 4: sets keyed by series
// node, and the ownership table), and stores 0-based cell indexes (or entry byte
// offsets) in its buckets. Buckets are open-addressed with 2-bit flags (2 empty,
// 1 deleted, 0 used) and triangular probing over a power-of-two bucket count.
//
// The table's record is the data of a byte series; its node is what values and
// contexts hold. Every other part (flags, keys, the indexed block, the chains
// of `hash!` duplicates) is a series named by node in the record, so tables are
// collected like everything else.
//
// The pointer map is a malloc'd table of the same scheme from 32-bit keys to
// 32-bit values, outside the collector's reach.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace hash_table {

enum Kind : u32 { HASH = 0, MAP = 1, WORDS = 2, NODES = 3, OWNERSHIP = 4 };

struct Record {
    u32 count;      // used buckets (hash!: distinct keys)
    u32 indexes;    // hash!: node of the cell -> bucket+1 map; kinds 3/4: entry size in bytes
    u32 chains;     // hash!: node of the list of duplicate chains
    u32 flags;      // node: 2 bits per bucket
    u32 keys;       // node: one 32-bit key per bucket
    u32 block;      // node of the indexed block or of the entries block
    u32 occupied;   // used + deleted buckets
    u32 buckets;    // a power of two, at least 4
    u32 upper;      // occupied count that forces growth
    u32 kind;
    u32 stamp;
};

constexpr double LOAD_FACTOR = 0.77;
constexpr u32 BUCKET_EMPTY = 2;
constexpr u32 BUCKET_DELETED = 1;
constexpr u32 BUCKET_USED = 0;

// The seed of every MurmurHash3 computation of the run, set at start-up.
extern u32 seed;

u32 murmur3(const void* data, size_t n);
u32 mix(u32 x);
// Hash of text from a string value's head: one 4-byte block per code point,
// upper-cased unless case-sensitive.
u32 hash_string(const Cell* string, bool case_sensitive);

Record* record(u32 table);

// A new table; with a block (kinds 0 to 2) every cell of it is indexed at once.
// For kinds 3 and 4, `value_cells` is the number of value cells per entry.
u32 init(i32 size, u32 block, Kind kind, i32 value_cells);

// Symbols and word tables.
i32 intern_symbol(u32 table, const u8* text, i32 length, bool case_insensitive_only);
// Slot index of a symbol in a context's word table, or -1. With a context
// node given, an absent word is added (its new slot goes to `index_out`) and -1
// is still answered.
i32 find_symbol(u32 table, i32 symbol, bool compare_aliases, u32 context, i32* index_out);
// A copy of a word table over a new words block.
u32 copy_words(u32 table, u32 block);

// Node keys (kinds 3 and 4). Answers the value cells of the entry (valid until
// the next allocation), or nullptr.
Cell* put_node(u32 table, u32 node);
Cell* get_node(u32 table, u32 node);
Cell* delete_node(u32 table, u32 node);
// Calls `visit` with the key node and value cells of every live entry.
void for_each_node(u32 table, void (*visit)(u32 key, Cell* values, void* ctx), void* ctx);

void clear(u32 table);

// The collector's entry: keeps the table's series and marks what it indexes.
// Ownership tables keep their entries block without marking its cells: their
// entries are weak and handled by the ownership module.
void mark(u32 table);

}  // namespace hash_table

namespace pointer_map {

struct Map {
    u32 count;
    u32* flags;
    u32* pairs;     // buckets x (key, value)
    u32 occupied;
    u32 buckets;
    u32 upper;
};

Map* create(u32 n);
void put(Map* m, u32 key, u32 value);
u32* get(Map* m, u32 key);
i32 find(Map* m, u32 key);
void remove(Map* m, u32 key);
int resize(Map* m, u32 buckets);
u32 count(const Map* m);
// The used pair after `pair` (nullptr: the first), or nullptr at the end.
u32* next(Map* m, u32* pair);
void clear(Map* m);
void destroy(Map* m);

}  // namespace pointer_map

}  // namespace zir
