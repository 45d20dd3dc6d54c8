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
// A `hash!` table (kind 0) indexes every cell of its block: equal cells share
// one bucket, whose key becomes -c for a chain c listing their cell indexes,
// and a per-cell array of bucket numbers lets block changes find a cell's
// bucket without hashing it again. A `map!` table (kind 1) indexes the key
// cells of a key/value block; a removed pair keeps its bucket and is marked
// dead by a value header of 0.
//
// The pointer map is a malloc'd table of the same scheme from 32-bit keys to
// 32-bit values, outside the collector's reach.
#pragma once

#include <string>

#include "runtime/cell.hpp"

namespace zir {
namespace hash_table {

enum Kind : u32 { HASH = 0, MAP = 1, WORDS = 2, NODES = 3, OWNERSHIP = 4 };

struct Record {
    u32 count;      // used buckets (hash!: distinct keys)
    u32 indexes;    // hash!: node of the cell -> bucket+1 map; kinds 3/4: entry size in bytes
    u32 chains;     // hash!: node of the list of duplicate chains
    u32 flags;      // node: 2 bits per bucket
    u32 keys;       // node: one (key, hash) pair of 32-bit words per bucket
    u32 block;      // node of the indexed block or of the entries block
    u32 occupied;   // used + deleted buckets
    u32 buckets;    // a power of two, at least 4
    u32 upper;      // occupied count that forces growth
    u32 kind;
    u32 stamp;      // collector::stats.nodes_cycles + 1 when node-dependent hashes were taken
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
// The text may lie in a series buffer: it is copied before anything
// allocates, unless `fixed_text` says it lies outside the collector's buffers.
i32 intern_symbol(u32 table, const u8* text, i32 length, bool case_insensitive_only, bool fixed_text = false);
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

// --- hash! (kind 0) and map! (kind 1) ------------------------------------------
//
// Cells are named by their 0-based index from the head of the table's block.
// Cell pointers given are turned into indexes before anything allocates; cell
// pointers answered are valid until the next allocation.

// The hash of a value as the tables see it, by datatype: scalars by their
// payload, series and contexts by node and head, text folded to upper case
// unless case-sensitive, words by their canonical symbol.
u32 hash_value(const Cell* value, bool case_sensitive);
// Types whose hash depends on a node id (their hashes would go stale if nodes moved).
bool node_keyed_type_q(u32 type);

// What put_value did: indexed a new key, found the key already there (hash!:
// the cell joined its chain; map!: the earlier key cell is answered), or
// rebuilt a hash! table, which indexed the whole block, this cell included.
enum PutStatus : i32 { PUT_NEW = 0, PUT_FOUND = 1, PUT_REBUILT = 2 };

// Indexes one cell of the block (a cell already indexed is re-indexed).
// Answers the cell now holding the key: for a map!, the earlier key cell when
// the key was there already.
Cell* put_value(u32 table, const Cell* cell, i32* status);
void put(u32 table, const Cell* cell);
// A walk along the probe sequence of one key (`find_next`): where it stands,
// and the key's hash, taken once.
constexpr u32 PROBE_START = 0xFFFFFFFF;
struct Walk {
    u32 bucket = PROBE_START;
    u32 step = 0;
    u32 hash = 0;
};

// map!: indexes a key cell known to be absent into the empty bucket where a
// search for an equal key ended (a `find_next` walk that answered nullptr),
// with the hash that search took, saving a second probe and a second hashing;
// a bucket that no longer fits (the table must grow, or it is taken) falls
// back to put_value.
Cell* put_absent(u32 table, const Cell* cell, const Walk& walk, i32* status);
// Indexes the cells from index `from` on, every `step` cells (1: hash!, 2:
// map! keys). In a map! a key already present takes the later value: it is
// copied over the earlier key's value and the later pair leaves the block (so
// the cells after it must not be indexed yet).
void put_all(u32 table, i32 from, i32 step);

// hash!: the cell equal to `key` under `op` (0 plain, 2 case, 9 same) at a
// distance from `head` that is a multiple of `skip`: forward the nearest at or
// after the head, with `last` the farthest at or after it, with `reverse` the
// nearest before it. map!: the first key cell of the key's datatype equal
// under `op` (word keys are looked up as set-words); head, skip, last and
// reverse do not apply. Answers nullptr when there is none.
Cell* find(u32 table, const Cell* key, i32 head, i32 skip, i32 op, bool last, bool reverse);
// The same with cells from `end` on left out (hash!: a /part limit, so that
// `last` answers the farthest match before it).
Cell* find_within(u32 table, const Cell* key, i32 head, i32 end, i32 skip, i32 op, bool last, bool reverse);
// Walks the probe sequence of `key`, answering each key cell of the key's
// datatype equal under `op` (for a hash!, the first cell of each matching
// bucket). Start with a fresh Walk; nullptr ends the walk.
Cell* find_next(u32 table, const Cell* key, i32 op, Walk* walk);

// hash!: the cell leaves its bucket or chain. map!: the pair becomes dead
// (value header 0) and the key count drops; the key keeps its bucket.
void delete_(u32 table, const Cell* cell);
// hash!: the cells [index, index + n) leave the table; the whole block empties it.
void delete_range(u32 table, i32 index, i32 n);
// Empties the table and the block it indexes (the word tables keep their block).
void clear(u32 table);
// A table of the same content over `block` (a copy of the indexed block);
// the copy and the source change independently afterwards.
u32 copy(u32 table, u32 block);
// hash!: the n cells from `from` have moved by `offset` cells. With
// `shift_tail` the per-cell bucket entries move too; cells overwritten by a
// move down leave the table first. Answers true, doing nothing, for more than
// MOVE_KEYS_LIMIT cells: the caller rebuilds the table instead.
constexpr i32 MOVE_KEYS_LIMIT = 30000;
bool move_keys(u32 table, i32 offset, i32 from, i32 n, bool shift_tail);
// hash!: the n cells from `from` have moved to before cell `to` (an index
// taken before the move); nothing when `to` lies within [from, from + n].
void move_range(u32 table, i32 to, i32 from, i32 n);
// Nodes never move in this runtime, so a table never needs refreshing.
inline void refresh(u32) {}
// hash!: a fresh index over the whole block with room for `target` keys.
void rebuild(u32 table, u32 target);
// The buckets and, after "\n== Deleted keys ==", the keys of deleted buckets.
std::string dump(u32 table);

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
