// Hash tables: see hash_table.hpp.
#include "runtime/hash_table.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/date.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/memory.hpp"
#include "runtime/series.hpp"

namespace zir {
namespace hash_table {

u32 seed = 0x9747B28C;

using collector::RootNode;

// --- Hash functions ----------------------------------------------------------

namespace {

inline u32 rotl(u32 x, int r) { return (x << r) | (x >> (32 - r)); }

constexpr u32 C1 = 0xCC9E2D51;
constexpr u32 C2 = 0x1B873593;

inline u32 mix_block(u32 h, u32 k) {
    k *= C1;
    k = rotl(k, 15);
    k *= C2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xE6546B64;
}

inline u32 finish(u32 h, u32 length) { return mix(h ^ length); }

}  // namespace

u32 mix(u32 x) {
    x ^= x >> 16;
    x *= 0x85EBCA6B;
    x ^= x >> 13;
    x *= 0xC2B2AE35;
    x ^= x >> 16;
    return x;
}

u32 murmur3(const void* data, size_t n) {
    const u8* p = static_cast<const u8*>(data);
    u32 h = seed;
    size_t blocks = n / 4;
    for (size_t i = 0; i < blocks; i++) {
        u32 k;
        std::memcpy(&k, p + 4 * i, 4);
        h = mix_block(h, k);
    }
    const u8* tail = p + 4 * blocks;
    u32 k = 0;
    switch (n & 3) {
        case 3: k ^= u32(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= u32(tail[1]) << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            k *= C1;
            k = rotl(k, 15);
            k *= C2;
            h ^= k;
    }
    return finish(h, u32(n));
}

u32 hash_string(const Cell* string, bool case_sensitive) {
    SeriesBuffer* s = node_buffer(string->w2);
    u32 unit = series::unit_of(s);
    if (unit != 1 && unit != 2 && unit != 4) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    const u8* p = series::head(s) + u64(string->w1) * unit;
    const u8* end = series::tail(s);
    u32 h = seed;
    u32 n = 0;
    for (; p < end; p += unit, n++) {
        u32 cp = unit == 1 ? *p : unit == 2 ? u32(p[0] | (p[1] << 8)) : u32(p[0] | (p[1] << 8) | (p[2] << 16) | (u32(p[3]) << 24));
        if (!case_sensitive) cp = case_folding::change_char(cp, true);
        h = mix_block(h, cp);
    }
    return finish(h, 4 * n);
}

// --- Buckets -----------------------------------------------------------------

namespace {

inline u32 flag_of(const u32* flags, u32 i) { return (flags[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_flag(u32* flags, u32 i, u32 v) {
    u32 shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (v << shift);
}

inline u32* flags_of(const Record* r) { return reinterpret_cast<u32*>(series::data(node_buffer(r->flags))); }
inline u32* keys_of(const Record* r) { return reinterpret_cast<u32*>(series::data(node_buffer(r->keys))); }
inline Cell* block_cells(const Record* r) { return reinterpret_cast<Cell*>(series::head(node_buffer(r->block))); }
inline u8* entries_of(const Record* r) { return series::head(node_buffer(r->block)); }

u32 next_power_of_two(u64 n) {
    u32 p = 4;
    while (p < n) p <<= 1;
    return p;
}

inline u32 flag_words(u32 buckets) { return buckets < 16 ? 1 : buckets / 16; }

// Fresh flags (all empty) and keys arrays for a bucket count.
void new_arrays(u32 buckets, u32* flags, u32* keys) {
    *flags = memory::alloc_bytes_filled(i64(flag_words(buckets)) * 4, 0xAA);
    RootNode keep_flags(*flags);
    *keys = memory::alloc_bytes(i64(buckets) * 4);
    // Both are arrays in full use: their tails sit at the end (copies copy them whole).
    SeriesBuffer* f = node_buffer(*flags);
    f->tail = f->offset + flag_words(buckets) * 4;
    SeriesBuffer* k = node_buffer(*keys);
    k->tail = k->offset + buckets * 4;
}

// The growth target before an insertion into a full table.
inline u32 growth_target(const Record* r) { return r->count * 2 < r->buckets ? r->buckets - 1 : r->buckets + 1; }

// Hash of a key cell of a kind-2 table: symbols by their spelling, words by
// their resolved symbol (case variants share a chain).
u32 symbol_text_hash(const u8* text, i32 length);

u32 key_hash(const Record* r, const Cell* c) {
    if (r->kind != WORDS) return hash_value(c, false);
    if (TYPE_OF(c) == TYPE_SYMBOL) {
        SeriesBuffer* s = node_buffer(c->w3);
        return symbol_text_hash(series::head(s), i32(series::used_bytes(s)));
    }
    return mix(u32(symbol::resolve(i32(c->w2))));
}

// Places a key in the first empty bucket of its probe sequence.
void place(u32* flags, u32* keys, u32 mask, u32 h, u32 key) {
    u32 i = h & mask;
    for (u32 k = 0; flag_of(flags, i) != BUCKET_EMPTY; k++) i = (i + k + 1) & mask;
    set_flag(flags, i, BUCKET_USED);
    keys[i] = key;
}

// Kinds 1 and 2: new arrays for the target, every used key placed again.
void resize_in_place(u32 table, u32 target) {
    u32 buckets = next_power_of_two(target);
    u32 upper = u32(buckets * LOAD_FACTOR + 0.5);
    if (record(table)->count >= upper) return;
    u32 flags, keys;
    new_arrays(buckets, &flags, &keys);
    Record* r = record(table);
    u32* old_flags = flags_of(r);
    u32* old_keys = keys_of(r);
    u32* nf = reinterpret_cast<u32*>(series::data(node_buffer(flags)));
    u32* nk = reinterpret_cast<u32*>(series::data(node_buffer(keys)));
    Cell* cells = block_cells(r);
    for (u32 i = 0; i < r->buckets; i++) {
        if (flag_of(old_flags, i) != BUCKET_USED) continue;
        place(nf, nk, buckets - 1, key_hash(r, &cells[old_keys[i]]), old_keys[i]);
    }
    r->flags = flags;
    r->keys = keys;
    r->buckets = buckets;
    r->upper = upper;
    if (r->kind == WORDS) r->occupied = r->count;
}

}  // namespace

Record* record(u32 table) { return reinterpret_cast<Record*>(series::data(node_buffer(table))); }

// --- Creation -----------------------------------------------------------------

u32 init(i32 size, u32 block, Kind kind, i32 value_cells) {
    RootNode keep_block(block);
    if (size < 4) size = 4;
    if (kind == WORDS && size >= 4000) size *= 2;
    u32 buckets = next_power_of_two(u64(size / LOAD_FACTOR));
    RootNode table(memory::alloc_bytes(sizeof(Record)));
    node_buffer(table)->tail = node_buffer(table)->offset + sizeof(Record);
    node_buffer(table)->flags |= SERIES_TABLE;
    std::memset(record(table), 0, sizeof(Record));
    u32 flags, keys;
    new_arrays(buckets, &flags, &keys);
    Record* r = record(table);
    r->flags = flags;
    r->keys = keys;
    r->buckets = buckets;
    r->upper = u32(buckets * LOAD_FACTOR);
    r->kind = kind;
    if (kind == NODES || kind == OWNERSHIP) {
        r->indexes = u32(16 * (value_cells + 1));
        r->stamp = collector::stats.nodes_cycles + 1;
        u32 entries = memory::alloc_cells(i64(size) * (value_cells + 1));
        record(table)->block = entries;
        return table;
    }
    if (kind == HASH) {
        // One bucket entry per cell, for as many cells as asked for; it grows with the block.
        u32 indexes = memory::alloc_bytes(i64(size) * 4);
        record(table)->indexes = indexes;
        u32 chains = memory::alloc_bytes(16);
        record(table)->chains = chains;
    }
    if (!block) {
        u32 b = memory::alloc_cells(size);
        record(table)->block = b;
        return table;
    }
    r = record(table);
    r->block = block;
    if (kind == WORDS) {
        Cell* cells = block_cells(r);
        i32 n = series::length_of(node_buffer(block));
        for (i32 i = 0; i < n; i++) {
            if (r->occupied >= r->upper) {
                resize_in_place(table, 16 * growth_target(r));
                r = record(table);
                cells = block_cells(r);
            }
            place(flags_of(r), keys_of(r), r->buckets - 1, key_hash(r, &cells[i]), u32(i));
            r->count++;
            r->occupied++;
        }
    } else {
        put_all(table, 0, kind == MAP ? 2 : 1);
    }
    return table;
}

u32 copy_words(u32 source, u32 block) {
    RootNode src(source);
    RootNode blk(block);
    RootNode table(memory::copy_series(node_buffer(source)));
    RootNode flags(memory::copy_series(node_buffer(record(source)->flags)));
    u32 keys = memory::copy_series(node_buffer(record(source)->keys));
    Record* r = record(table);
    r->flags = flags;
    r->keys = keys;
    r->block = block;
    return table;
}

// --- Hashing values -------------------------------------------------------------

namespace {

// money! layout: the sign in header bit 14, the currency index in the low
// byte of word 1, the packed decimal digits in the eleven bytes after it.
constexpr u32 MONEY_SIGN = 0x4000;

// n bytes of a cell's payload from word `first_word` (1 to 3) on.
inline u32 payload_hash(const Cell* v, int first_word, size_t n) {
    return murmur3(reinterpret_cast<const u8*>(v) + 4 * first_word, n);
}

}  // namespace

bool node_keyed_type_q(u32 type) { return in_group(type, type_traits::G_NODE_KEYED); }

u32 hash_value(const Cell* v, bool case_sensitive) {
    using namespace type_traits;
    switch (type_table[TYPE_OF(v)].hash) {
        case HASH_NOTHING: return 0;
        case HASH_UNSET: return u32(-2);
        case HASH_NONE: return u32(-1);
        case HASH_W1: return mix(v->w1);
        case HASH_W2: return mix(v->w2);
        case HASH_W3: return mix(v->w3);
        case HASH_SYMBOL_ID:
            // Case variants resolve to one symbol, so they hash alike.
            return mix(u32(symbol::resolve(i32(v->w2))));
        case HASH_SPELLING: {
            SeriesBuffer* s = node_buffer(v->w3);
            return symbol_text_hash(series::head(s), i32(series::used_bytes(s)));
        }
        case HASH_W1_W2: return payload_hash(v, 1, 8);
        case HASH_W2_W3: return payload_hash(v, 2, 8);
        case HASH_W1_W3: return payload_hash(v, 1, 12);
        case HASH_TUPLE: {
            // 1.2.3 equals 1.2.3.0: trailing zero bytes do not count.
            u32 n = (v->header >> 19) & 0xF;
            if (n > 12) n = 12;
            const u8* bytes = reinterpret_cast<const u8*>(v) + 4;
            while (n > 0 && bytes[n - 1] == 0) n--;
            return payload_hash(v, 1, n);
        }
        case HASH_TEXT:
            return hash_string(v, case_sensitive);
        case HASH_BYTES: {
            SeriesBuffer* s = node_buffer(v->w2);
            const u8* head = series::head(s) + v->w1;
            const u8* tail = series::tail(s);
            return murmur3(head, head < tail ? size_t(tail - head) : 0);
        }
        case HASH_MONEY: {
            // Only what makes two amounts equal is hashed: the header's flag
            // bits go, a zero amount has no sign, and the currency is dropped
            // because an amount without one equals the same amount in any
            // currency under plain equality.
            Cell m = *v;
            bool zero = (m.w1 >> 8) == 0 && m.w2 == 0 && m.w3 == 0;
            m.header = TYPE_MONEY | (zero ? 0 : v->header & MONEY_SIGN);
            m.w1 &= ~0xFFu;
            return murmur3(&m, sizeof m);
        }
        case HASH_DATE: {
            // Dates are equal as instants: one moment written in two zones,
            // or a day without a time and its midnight, hash alike.
            double instant = double(date::to_day_number(v->w1)) * date::SECONDS_PER_DAY + date::time_of(v);
            if (instant == 0) instant = 0;   // -0.0 and 0.0 are one instant
            u64 bits = std::bit_cast<u64>(instant);
            return mix(u32(bits) ^ mix(u32(bits >> 32)));
        }
    }
    return 0;
}

// --- Indexed blocks: hash! and map! ------------------------------------------------
//
// A hash! table keeps, beside its buckets, one 32-bit entry per block cell:
// the cell's bucket + 1, or -1 when the cell is not indexed. A bucket whose key
// occurs in several cells holds -c, c being the 1-based slot of a chain (a byte
// series of cell indexes) in the list of chains. A freed chain leaves 0 in its
// slot; zero slots at the end of the list are dropped.
//
// Nodes never move in this runtime, so hashes taken from node ids never go
// stale: the stamp is recorded when a node-keyed value is first indexed, but
// nothing ever needs to re-hash a table because of it.

namespace {

constexpr u32 NO_BUCKET = 0xFFFFFFFF;

inline i32 block_length(const Record* r) { return series::length_of(node_buffer(r->block)); }
inline Cell* cell_at(const Record* r, i32 i) { return block_cells(r) + i; }
inline i32 cell_index(const Record* r, const Cell* c) { return i32(c - block_cells(r)); }

inline u32* words_of(u32 node) { return reinterpret_cast<u32*>(series::head(node_buffer(node))); }
inline i32 word_count(u32 node) { return i32(series::used_bytes(node_buffer(node)) / 4); }

// The bucket of an indexed cell, or -1.
i32 bucket_of(const Record* r, i32 i) {
    if (i < 0 || i >= word_count(r->indexes)) return -1;
    i32 e = i32(words_of(r->indexes)[i]);
    return e > 0 ? e - 1 : -1;
}

inline void set_bucket_of(const Record* r, i32 i, i32 bucket) { words_of(r->indexes)[i] = u32(bucket + 1); }
inline void clear_bucket_of(const Record* r, i32 i) { words_of(r->indexes)[i] = u32(-1); }

// Makes room for the entries of cells [0, n): new entries are -1.
void ensure_indexes(u32 table, i64 n) {
    SeriesBuffer* s = node_buffer(record(table)->indexes);
    i64 need = n * 4;
    i64 used = series::used_bytes(s);
    if (used >= need) return;
    if (i64(s->offset) + need > i64(s->size)) s = memory::expand_series(s, std::max(i64(s->size) * 2, need));
    std::memset(series::tail(s), 0xFF, size_t(need - used));
    s->tail = s->offset + u32(need);
}

// The first cell of a bucket: the key cell, or the first cell of its chain.
inline i32 chain_node(const Record* r, i32 c) { return i32(words_of(r->chains)[c - 1]); }
inline i32 first_of_bucket(const Record* r, u32 bucket) {
    i32 k = i32(keys_of(r)[bucket]);
    return k >= 0 ? k : i32(words_of(u32(chain_node(r, -k)))[0]);
}

// Word-family keys of a map! are stored as set-words, and searched as such.
inline void as_map_key(const Record* r, Cell* key) {
    if (r->kind != MAP) return;
    u32 t = TYPE_OF(key);
    if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) cell::set_type(key, TYPE_SET_WORD);
}

// A search key of this internal type matches a stored key of any datatype.
constexpr u32 TYPE_ANY_KEY = 56;

inline bool same_key_type(const Cell* stored, const Cell* key) {
    return TYPE_OF(key) == TYPE_ANY_KEY || TYPE_OF(stored) == TYPE_OF(key);
}

// Where a key cell goes: the bucket holding an equal key (found), else the
// first deleted bucket met or the empty bucket that ended the search. A hash!
// bucket holds the key when its first cell has the key's datatype and equals
// it; a map! key equals strictly, whatever its datatype.
struct Slot {
    bool found;
    u32 bucket;
};

// The one probe of every table: walks the triangular sequence from the hash
// and answers the first used bucket that `match` accepts (found), else where a
// new key goes: the first deleted bucket met, or the empty bucket that ended
// the search. `match` may allocate: the record is re-read after it.
template <typename Match>
Slot probe(u32 table, u32 hash, Match match) {
    Record* r = record(table);
    u32 mask = r->buckets - 1;
    u32 i = hash & mask;
    u32 deleted = NO_BUCKET;
    for (u32 k = 0; k < r->buckets; k++) {
        u32 f = flag_of(flags_of(r), i);
        if (f == BUCKET_EMPTY) return {false, deleted != NO_BUCKET ? deleted : i};
        if (f == BUCKET_USED) {
            bool hit = match(r, i);
            r = record(table);
            if (hit) return {true, i};
        } else if (deleted == NO_BUCKET) {
            deleted = i;
        }
        i = (i + k + 1) & mask;
    }
    if (deleted == NO_BUCKET) ZIR_FAULT(runtime::FAULT_NO_CASE);   // tables grow before they fill
    return {false, deleted};
}

Slot probe_insert(u32 table, const Cell* key) {
    return probe(table, hash_value(key, false), [key](const Record* r, u32 i) {
        const Cell* first = cell_at(r, first_of_bucket(r, i));
        return r->kind == HASH ? TYPE_OF(first) == TYPE_OF(key) && actions::compare(first, key, COMP_EQUAL)
                               : actions::compare(first, key, COMP_STRICT_EQUAL);
    });
}

void take_bucket(Record* r, u32 bucket, u32 key) {
    u32* flags = flags_of(r);
    if (flag_of(flags, bucket) == BUCKET_EMPTY) r->occupied++;
    set_flag(flags, bucket, BUCKET_USED);
    keys_of(r)[bucket] = key;
    r->count++;
}

// Drops trailing free slots from the list of chains.
void trim_chains(const Record* r) {
    SeriesBuffer* s = node_buffer(r->chains);
    while (s->tail > s->offset) {
        u32 last;
        std::memcpy(&last, series::tail(s) - 4, 4);
        if (last) break;
        s->tail -= 4;
    }
}

// A hash! cell joins the bucket of an equal key: a single key becomes a chain.
void chain_cell(u32 table, u32 bucket, i32 index) {
    Record* r = record(table);
    i32 k = i32(keys_of(r)[bucket]);
    if (k < 0) {
        series::zs_append_int(u32(chain_node(r, -k)), u32(index));
        return;
    }
    collector::RootNode chain(memory::alloc_bytes(16));
    series::zs_append_int(chain, u32(k));
    series::zs_append_int(chain, u32(index));
    series::zs_append_int(record(table)->chains, chain);
    r = record(table);
    keys_of(r)[bucket] = u32(-word_count(r->chains));
}

// Indexes hash! cell i, which is not indexed, without growing the table.
i32 index_hash_cell(u32 table, i32 index) {
    Record* r = record(table);
    Cell key = *cell_at(r, index);
    Slot s = probe_insert(table, &key);
    r = record(table);
    if (!r->stamp && node_keyed_type_q(TYPE_OF(&key))) r->stamp = collector::stats.nodes_cycles + 1;
    if (s.found) {
        chain_cell(table, s.bucket, index);
        r = record(table);
    } else {
        take_bucket(r, s.bucket, u32(index));
    }
    set_bucket_of(r, index, i32(s.bucket));
    return s.found ? PUT_FOUND : PUT_NEW;
}

// Takes hash! cell i out of its bucket or chain.
void unindex(Record* r, i32 index) {
    i32 b = bucket_of(r, index);
    if (b < 0) return;
    clear_bucket_of(r, index);
    i32 k = i32(keys_of(r)[b]);
    if (k < 0) {
        u32 chain = u32(chain_node(r, -k));
        series::zs_remove_ptr(chain, u32(index));
        if (word_count(chain) > 0) return;
        words_of(r->chains)[-k - 1] = 0;
        trim_chains(r);
    }
    set_flag(flags_of(r), u32(b), BUCKET_DELETED);
    r->count--;
}

// Empties the buckets, the per-cell entries and the chains.
void reset(Record* r) {
    std::memset(flags_of(r), 0xAA, flag_words(r->buckets) * 4);
    r->count = r->occupied = 0;
    if (r->kind != HASH) return;
    SeriesBuffer* ix = node_buffer(r->indexes);
    std::memset(series::head(ix), 0xFF, series::used_bytes(ix));
    SeriesBuffer* ch = node_buffer(r->chains);
    ch->tail = ch->offset;
    r->stamp = 0;
}

i32 put_index(u32 table, i32 index, i32* status) {
    collector::RootNode keep(table);
    Record* r = record(table);
    if (r->kind == HASH) {
        ensure_indexes(table, i64(index) + 1);
        r = record(table);
        unindex(r, index);
        if (r->occupied >= r->upper) {
            rebuild(table, growth_target(r));
            *status = PUT_REBUILT;
        } else {
            *status = index_hash_cell(table, index);
        }
        return index;
    }
    // A map! never shrinks: its deleted pairs keep their buckets.
    if (r->occupied >= r->upper) resize_in_place(table, r->buckets + 1);
    r = record(table);
    Cell key = *cell_at(r, index);
    Slot s = probe_insert(table, &key);
    r = record(table);
    if (s.found) {
        *status = PUT_FOUND;
        return i32(keys_of(r)[s.bucket]);
    }
    take_bucket(r, s.bucket, u32(index));
    *status = PUT_NEW;
    return index;
}

// Calls visit(cell index) for each cell of the bucket, chain or not.
template <typename Visit>
void for_each_in_bucket(const Record* r, u32 bucket, Visit visit) {
    i32 k = i32(keys_of(r)[bucket]);
    if (k >= 0) {
        visit(k);
        return;
    }
    u32 chain = u32(chain_node(r, -k));
    for (i32 j = 0; j < word_count(chain); j++) visit(i32(words_of(chain)[j]));
}

// Renumbers the indexed cells of [lo, hi) to renumber(cell), in their buckets
// and chains (each chain once). The per-cell entries are not moved.
template <typename Renumber>
void renumber_cells(const Record* r, i32 lo, i32 hi, Renumber renumber) {
    std::vector<bool> done(size_t(word_count(r->chains)));
    u32* keys = keys_of(r);
    for (i32 j = lo; j < hi; j++) {
        i32 b = bucket_of(r, j);
        if (b < 0) continue;
        i32 k = i32(keys[b]);
        if (k >= 0) {
            keys[b] = u32(renumber(j));
            continue;
        }
        if (done[size_t(-k - 1)]) continue;
        done[size_t(-k - 1)] = true;
        u32 chain = u32(chain_node(r, -k));
        u32* entries = words_of(chain);
        for (i32 e = 0; e < word_count(chain); e++)
            if (i32(entries[e]) >= lo && i32(entries[e]) < hi) entries[e] = u32(renumber(i32(entries[e])));
    }
}

}  // namespace

Cell* put_value(u32 table, const Cell* cell, i32* status) {
    i32 st;
    i32 at = put_index(table, cell_index(record(table), cell), &st);
    if (status) *status = st;
    return cell_at(record(table), at);
}

void put(u32 table, const Cell* cell) { put_value(table, cell, nullptr); }

Cell* put_absent(u32 table, const Cell* cell, u32 bucket, i32* status) {
    Record* r = record(table);
    if (r->kind != MAP || r->occupied >= r->upper || bucket >= r->buckets ||
        flag_of(flags_of(r), bucket) != BUCKET_EMPTY)
        return put_value(table, cell, status);
    take_bucket(r, bucket, u32(cell_index(r, cell)));
    if (status) *status = PUT_NEW;
    return const_cast<Cell*>(cell);
}

void put_all(u32 table, i32 from, i32 step) {
    collector::RootNode keep(table);
    if (step < 1) step = 1;
    Record* r = record(table);
    if (r->kind != MAP) {
        for (i32 i = from; i < block_length(record(table)); i += step) {
            i32 status;
            put_index(table, i, &status);
            if (status == PUT_REBUILT) return;
        }
        return;
    }
    for (i32 i = from; i + 1 < block_length(record(table));) {
        i32 status;
        i32 at = put_index(table, i, &status);
        if (at == i) {
            i += step;
            continue;
        }
        // A later duplicate: its value goes to the earlier key, its pair leaves the block.
        r = record(table);
        SeriesBuffer* b = node_buffer(r->block);
        Cell* cells = series::head_cells(b);
        if (cells[at + 1].header == 0) r->count++;
        cells[at + 1] = cells[i + 1];
        std::memmove(&cells[i], &cells[i + 2], size_t(series::length_of(b) - i - 2) * 16);
        b->tail -= 32;
    }
}

Cell* find(u32 table, const Cell* key, i32 head, i32 skip, i32 op, bool last, bool reverse) {
    return find_within(table, key, head, 0x7FFFFFFF, skip, op, last, reverse);
}

Cell* find_within(u32 table, const Cell* key, i32 head, i32 end, i32 skip, i32 op, bool last, bool reverse) {
    Record* r = record(table);
    if (r->kind != HASH) {
        u32 bucket = PROBE_START, step = 0;
        return find_next(table, key, op, &bucket, &step);
    }
    if (skip < 1) skip = 1;
    Cell k = *key;
    u32 mask = r->buckets - 1;
    u32 i = hash_value(&k, false) & mask;
    for (u32 n = 0; n < r->buckets; n++) {
        u32 f = flag_of(flags_of(r), i);
        if (f == BUCKET_EMPTY) return nullptr;
        if (f == BUCKET_USED) {
            i32 first_index = first_of_bucket(r, i);
            const Cell* first = cell_at(r, first_index);
            bool here = TYPE_OF(first) == TYPE_OF(&k) && actions::compare(first, &k, COMP_EQUAL);
            r = record(table);
            if (here) {
                // Equal keys share this bucket: pick among its cells. The
                // first was just compared under op 0.
                i32 best = -1;
                for_each_in_bucket(r, i, [&](i32 p) {
                    bool candidate = reverse ? p < head && p < end && (head - p - 1) % skip == 0
                                             : p >= head && p < end && (p - head) % skip == 0;
                    if (!candidate) return;
                    bool better = best < 0 || ((last || reverse) ? p > best : p < best);
                    if (!better) return;
                    if ((p == first_index && op == COMP_EQUAL) || actions::compare(cell_at(record(table), p), &k, op))
                        best = p;
                });
                return best < 0 ? nullptr : cell_at(record(table), best);
            }
        }
        i = (i + n + 1) & mask;
    }
    return nullptr;
}

Cell* find_next(u32 table, const Cell* key, i32 op, u32* bucket, u32* step) {
    Record* r = record(table);
    Cell k = *key;
    as_map_key(r, &k);
    u32 mask = r->buckets - 1;
    u32 i, n;
    if (*bucket == PROBE_START) {
        i = hash_value(&k, false) & mask;
        n = 0;
    } else {
        i = (*bucket + *step + 1) & mask;
        n = *step + 1;
    }
    for (; n < r->buckets; n++) {
        u32 f = flag_of(flags_of(r), i);
        if (f == BUCKET_EMPTY) break;
        if (f == BUCKET_USED) {
            Cell* first = cell_at(r, first_of_bucket(r, i));
            bool equal = same_key_type(first, &k) && actions::compare(first, &k, op);
            r = record(table);
            if (equal) {
                *bucket = i;
                *step = n;
                return cell_at(r, first_of_bucket(r, i));
            }
        }
        i = (i + n + 1) & mask;
    }
    *bucket = i;
    *step = r->buckets;
    return nullptr;
}

void delete_(u32 table, const Cell* cell) {
    Record* r = record(table);
    i32 index = cell_index(r, cell);
    if (r->kind == HASH) {
        unindex(r, index);
        return;
    }
    Cell* value = cell_at(r, index) + 1;
    if (value->header == 0) return;
    value->header = 0;
    r->count--;
}

void delete_range(u32 table, i32 index, i32 n) {
    Record* r = record(table);
    if (r->kind != HASH) return;
    i32 length = block_length(r);
    if (index < 0) index = 0;
    if (n > length - index) n = length - index;
    if (n <= 0) return;
    if (index == 0 && n == length) {
        reset(r);
        return;
    }
    for (i32 i = index; i < index + n; i++) unindex(r, i);
}

void clear(u32 table) {
    Record* r = record(table);
    reset(r);
    if (r->kind == WORDS) return;
    SeriesBuffer* b = node_buffer(r->block);
    b->tail = b->offset;
    if (r->kind == HASH) {
        SeriesBuffer* ix = node_buffer(r->indexes);
        ix->tail = ix->offset;
    }
}

u32 copy(u32 source, u32 block) {
    collector::RootNode src(source);
    collector::RootNode blk(block);
    // The copy's record names the source's series until each is replaced by
    // its own copy, so whatever a collection meets through it is alive.
    collector::RootNode table(memory::copy_series(node_buffer(source)));
    u32 flags = memory::copy_series(node_buffer(record(source)->flags));
    record(table)->flags = flags;
    u32 keys = memory::copy_series(node_buffer(record(source)->keys));
    record(table)->keys = keys;
    record(table)->block = block;
    if (record(table)->kind == HASH) {
        u32 indexes = memory::copy_series(node_buffer(record(source)->indexes));
        record(table)->indexes = indexes;
        u32 chains = memory::copy_series(node_buffer(record(source)->chains));
        record(table)->chains = chains;
        // Each chain is copied too: shared chains would let a change of one
        // table corrupt the other's lookups.
        for (i32 c = 0; c < word_count(chains); c++) {
            u32 chain = words_of(chains)[c];
            if (!chain) continue;
            u32 own = memory::copy_series(node_buffer(chain));
            words_of(chains)[c] = own;
        }
    }
    return table;
}

bool move_keys(u32 table, i32 offset, i32 from, i32 n, bool shift_tail) {
    if (n > MOVE_KEYS_LIMIT) return true;
    collector::RootNode keep(table);
    if (record(table)->kind != HASH || n < 0 || offset == 0) return false;
    i64 end = i64(from) + n;
    if (shift_tail) ensure_indexes(table, std::max(end, end + offset));
    Record* r = record(table);
    // Cells about to be overwritten leave the table first.
    if (offset < 0) {
        for (i32 i = std::max(0, from + offset); i < from; i++) unindex(r, i);
    } else if (shift_tail) {
        for (i64 i = end; i < end + offset; i++) unindex(r, i32(i));
    }
    renumber_cells(r, from, i32(end), [&](i32 j) { return j + offset; });
    if (!shift_tail) return false;
    u32* ix = words_of(r->indexes);
    std::memmove(ix + from + offset, ix + from, size_t(n) * 4);
    if (offset > 0) {
        std::fill(ix + from, ix + std::min(i64(from) + offset, end), u32(-1));
    } else {
        std::fill(ix + std::max(end + offset, i64(from)), ix + end, u32(-1));
    }
    return false;
}

void move_range(u32 table, i32 to, i32 from, i32 n) {
    if (n <= 0 || (to >= from && to <= from + n)) return;
    collector::RootNode keep(table);
    if (record(table)->kind != HASH) return;
    i32 lo = std::min(to, from), hi = std::max(to, from + n);
    ensure_indexes(table, hi);
    Record* r = record(table);
    u32* ix = words_of(r->indexes);
    if (to < from) {
        renumber_cells(r, lo, hi, [&](i32 j) { return j < from ? j + n : j - (from - to); });
        std::rotate(ix + to, ix + from, ix + from + n);
    } else {
        renumber_cells(r, lo, hi, [&](i32 j) { return j < from + n ? j + (to - from - n) : j - n; });
        std::rotate(ix + from, ix + from + n, ix + to);
    }
}

void rebuild(u32 table, u32 target) {
    collector::RootNode keep(table);
    // On an error (a comparison may raise one) the table is left as it was. A
    // copy of the record keeps the old series alive meanwhile: marked as a
    // table, it keeps every chain its list names too.
    collector::RootNode saved(memory::copy_series(node_buffer(table)));
    try {
        i32 length = block_length(record(table));
        // Room for every cell of the block, in case all of them are distinct.
        u32 buckets = next_power_of_two(u64(target) * 3 / 2);
        while (u32(buckets * LOAD_FACTOR) <= u32(length)) buckets <<= 1;
        u32 flags, keys;
        new_arrays(buckets, &flags, &keys);
        record(table)->flags = flags;
        record(table)->keys = keys;
        u32 indexes = memory::alloc_bytes(std::max(i64(length), i64(1)) * 4);
        record(table)->indexes = indexes;
        ensure_indexes(table, length);
        u32 chains = memory::alloc_bytes(16);
        Record* r = record(table);
        r->chains = chains;
        r->buckets = buckets;
        r->upper = u32(buckets * LOAD_FACTOR);
        r->count = r->occupied = 0;
        r->stamp = 0;
        for (i32 i = 0; i < length; i++) index_hash_cell(table, i);
    } catch (...) {
        *record(table) = *record(saved);
        throw;
    }
}

std::string dump(u32 table) {
    Record* r = record(table);
    std::string out;
    auto line = [&](u32 bucket) {
        out += std::to_string(bucket) + ": ";
        i32 k = i32(keys_of(r)[bucket]);
        out += std::to_string(k);
        if (k < 0 && r->kind == HASH && words_of(r->chains)[-k - 1]) {
            out += " [";
            for_each_in_bucket(r, bucket, [&](i32 p) { out += " " + std::to_string(p); });
            out += " ]";
        }
        out += "\n";
    };
    for (u32 i = 0; i < r->buckets; i++)
        if (flag_of(flags_of(r), i) == BUCKET_USED) line(i);
    out += "\n== Deleted keys ==\n";
    for (u32 i = 0; i < r->buckets; i++)
        if (flag_of(flags_of(r), i) == BUCKET_DELETED) out += std::to_string(i) + ": " + std::to_string(i32(keys_of(r)[i])) + "\n";
    return out;
}

// --- Symbols and word tables ----------------------------------------------------

namespace {

std::string lowered;   // scratch: the spelling lower-cased in ASCII

u32 symbol_text_hash(const u8* text, i32 length) {
    lowered.assign(reinterpret_cast<const char*>(text), size_t(length));
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = char(c + 0x20);
    return murmur3(lowered.data(), lowered.size());
}

bool ascii_equal_ignoring_case(const u8* a, const u8* b, i32 n) {
    for (i32 i = 0; i < n; i++) {
        u8 x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = u8(x + 0x20);
        if (y >= 'A' && y <= 'Z') y = u8(y + 0x20);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

// The spelling of the symbol whose cell index is `key`.
std::string_view spelling_at(const Record* r, u32 key) {
    SeriesBuffer* s = node_buffer(block_cells(r)[key].w3);
    return std::string_view(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s));
}

i32 intern_symbol(u32 table, const u8* text, i32 length, bool case_insensitive_only) {
    // The text may live in a buffer that the allocations below move.
    std::string spelling(reinterpret_cast<const char*>(text), size_t(length));
    RootNode keep_table(table);
    Record* r = record(table);
    if (r->occupied >= r->upper) resize_in_place(table, 16 * growth_target(r));
    const u8* t = reinterpret_cast<const u8*>(spelling.data());
    u32 h = symbol_text_hash(t, length);

    // An exact spelling answers its id; a spelling equal but for ASCII case is
    // a twin; the new symbol goes where the exact search stopped.
    Slot at{false, 0};
    if (!case_insensitive_only) {
        at = probe(table, h, [&](const Record* rec, u32 i) { return spelling_at(rec, keys_of(rec)[i]) == spelling; });
        if (at.found) return i32(keys_of(record(table))[at.bucket]) + 1;
    }
    Slot twin = probe(table, h, [&](const Record* rec, u32 i) {
        std::string_view other = spelling_at(rec, keys_of(rec)[i]);
        return i32(other.size()) == length &&
               ascii_equal_ignoring_case(reinterpret_cast<const u8*>(other.data()), t, length);
    });
    i32 alias = -1;
    if (twin.found) {
        i32 id = i32(keys_of(record(table))[twin.bucket]) + 1;
        if (case_insensitive_only) return id;
        alias = symbol::resolve(id);   // the canonical symbol, never a twin
    }
    if (case_insensitive_only) at = twin;

    RootNode text_node(memory::alloc_bytes(i64(length) + 1));
    SeriesBuffer* ts = node_buffer(text_node);
    std::memcpy(series::data(ts), t, size_t(length));
    series::data(ts)[length] = 0;
    ts->tail = ts->offset + u32(length);

    SeriesBuffer* blk = node_buffer(record(table)->block);
    Cell* c = memory::alloc_tail_buffer(blk);
    i32 index = i32((reinterpret_cast<u8*>(c) - series::head(blk)) / 16);
    c->header = TYPE_SYMBOL;
    c->w1 = u32(alias);
    c->w2 = 0;
    c->w3 = text_node;
    take_bucket(record(table), at.bucket, u32(index));
    return index + 1;
}

i32 find_symbol(u32 table, i32 symbol, bool compare_aliases, u32 context, i32* index_out) {
    RootNode keep_table(table);
    RootNode keep_context(context);
    Record* r = record(table);
    if (context && r->occupied >= r->upper) resize_in_place(table, 16 * growth_target(r));
    i32 resolved = symbol::resolve(symbol);
    Slot at = probe(table, mix(u32(resolved)), [&](const Record* rec, u32 i) {
        i32 other = i32(block_cells(rec)[keys_of(rec)[i]].w2);
        return compare_aliases ? symbol::resolve(other) == resolved : other == symbol;
    });
    if (at.found) {
        i32 slot = i32(keys_of(record(table))[at.bucket]);
        if (index_out) *index_out = slot;
        return slot;
    }
    if (!context) return -1;
    SeriesBuffer* blk = node_buffer(record(table)->block);
    Cell* c = memory::alloc_tail_buffer(blk);
    i32 n = i32((reinterpret_cast<u8*>(c) - series::head(blk)) / 16);
    c->header = TYPE_WORD;
    c->w1 = context;
    c->w2 = u32(symbol);
    c->w3 = u32(n);
    take_bucket(record(table), at.bucket, u32(n));
    if (index_out) *index_out = n;
    return -1;
}

// --- Node keys ------------------------------------------------------------------

namespace {

constexpr u32 ENTRY_LIVE = 2;   // header of a live entry's key cell; 0 once deleted

// Bucket of a node key, or of the insertion point when absent.
Slot probe_node(u32 table, u32 node) {
    return probe(table, mix(node), [node](const Record* r, u32 i) {
        return reinterpret_cast<const Cell*>(entries_of(r) + keys_of(r)[i])->w1 == node;
    });
}

// A fresh entries block holding the live entries only, with new buckets.
void rebuild_nodes(u32 table, u32 target) {
    u32 buckets = next_power_of_two(u64(target * 3 / 2));
    Record* r = record(table);
    u32 entry = r->indexes;
    u32 flags, keys;
    new_arrays(buckets, &flags, &keys);
    RootNode keep_flags(flags);
    RootNode keep_keys(keys);
    u32 fresh = memory::alloc_cells(i64(record(table)->count + 1) * (entry / 16));
    r = record(table);
    SeriesBuffer* from = node_buffer(r->block);
    SeriesBuffer* to = node_buffer(fresh);
    u32* nf = reinterpret_cast<u32*>(series::data(node_buffer(flags)));
    u32* nk = reinterpret_cast<u32*>(series::data(node_buffer(keys)));
    u32 live = 0;
    for (u8* p = series::head(from); p < series::tail(from); p += entry) {
        const Cell* key = reinterpret_cast<const Cell*>(p);
        if (key->header != ENTRY_LIVE) continue;
        u32 at = to->tail - to->offset;
        std::memcpy(series::tail(to), p, entry);
        to->tail += entry;
        place(nf, nk, buckets - 1, mix(key->w1), at);
        live++;
    }
    r->flags = flags;
    r->keys = keys;
    r->block = fresh;
    r->buckets = buckets;
    r->upper = u32(buckets * LOAD_FACTOR);
    r->count = r->occupied = live;
    r->stamp = collector::stats.nodes_cycles + 1;
}

inline Cell* values_at(const Record* r, u32 offset) {
    return reinterpret_cast<Cell*>(entries_of(r) + offset) + 1;
}

}  // namespace

Cell* put_node(u32 table, u32 node) {
    RootNode keep_table(table);
    Record* r = record(table);
    if (r->occupied >= r->upper) {
        rebuild_nodes(table, growth_target(r));
        r = record(table);
    }
    u32 entry = r->indexes;
    Slot at = probe_node(table, node);
    if (at.found) {
        Cell* key = values_at(r, keys_of(r)[at.bucket]) - 1;
        for (u32 c = 0; c < entry / 16; c++) key[c].header = ENTRY_LIVE;
        return key + 1;
    }
    SeriesBuffer* e = node_buffer(r->block);
    u8* p = memory::alloc_tail_bytes(e, entry);
    u32 offset = u32(p - series::head(e));
    Cell* cells = reinterpret_cast<Cell*>(p);
    for (u32 c = 0; c < entry / 16; c++) cell::init(&cells[c], ENTRY_LIVE);
    cells[0].w1 = node;
    take_bucket(record(table), at.bucket, offset);
    return cells + 1;
}

Cell* get_node(u32 table, u32 node) {
    Slot at = probe_node(table, node);
    return at.found ? values_at(record(table), keys_of(record(table))[at.bucket]) : nullptr;
}

Cell* delete_node(u32 table, u32 node) {
    Slot at = probe_node(table, node);
    if (!at.found) return nullptr;
    Record* r = record(table);
    Cell* values = values_at(r, keys_of(r)[at.bucket]);
    values[-1].header = 0;
    set_flag(flags_of(r), at.bucket, BUCKET_DELETED);
    r->count--;
    return values;
}

void for_each_node(u32 table, void (*visit)(u32 key, Cell* values, void* ctx), void* ctx) {
    Record* r = record(table);
    u32 entry = r->indexes;
    SeriesBuffer* e = node_buffer(r->block);
    for (u32 at = e->offset; at < e->tail; at += entry) {
        Cell* key = reinterpret_cast<Cell*>(series::data(e) + at);
        if (key->header == ENTRY_LIVE) visit(key->w1, key + 1, ctx);
    }
}

// --- Marking ------------------------------------------------------------------------

void mark(u32 table) {
    if (!collector::keep(table)) return;
    Record* r = record(table);
    collector::keep(r->flags);
    collector::keep(r->keys);
    switch (r->kind) {
        case HASH:
            collector::keep(r->indexes);
            if (r->chains && collector::keep(r->chains)) {
                SeriesBuffer* c = node_buffer(r->chains);
                for (u8* p = series::head(c); p < series::tail(c); p += 4) {
                    u32 chain;
                    std::memcpy(&chain, p, 4);
                    collector::keep(chain);
                }
            }
            collector::mark_block(r->block);
            break;
        case MAP:
        case WORDS:
            collector::mark_block(r->block);
            break;
        case NODES: {
            if (!r->block) break;   // a table still being made
            SeriesBuffer* e = node_buffer(r->block);
            for (u32 at = e->offset; at < e->tail; at += r->indexes) {
                const Cell* key = reinterpret_cast<const Cell*>(series::data(e) + at);
                if (key->header != ENTRY_LIVE) continue;
                if (series::unit_of(node_buffer(key->w1)) == 16) collector::mark_block(key->w1);
                else collector::keep(key->w1);
            }
            collector::mark_block(r->block);
            break;
        }
        case OWNERSHIP:
            collector::keep(r->block);
            break;
    }
}

}  // namespace hash_table

// --- Pointer map ----------------------------------------------------------------------

namespace pointer_map {

namespace {

u32 bucket_count_for(u32 n) {
    u32 p = 4;
    while (p < u64(n / hash_table::LOAD_FACTOR)) p <<= 1;
    return p;
}

inline u32 flag_of(const u32* flags, u32 i) { return (flags[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_flag(u32* flags, u32 i, u32 v) {
    u32 shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (v << shift);
}
inline size_t flag_bytes(u32 buckets) { return size_t(buckets < 16 ? 1 : buckets / 16) * 4; }

}  // namespace

Map* create(u32 n) {
    if (n < 4) n = 4;
    auto* m = static_cast<Map*>(std::calloc(1, sizeof(Map)));
    if (!m) runtime::error_exit(runtime::FAULT_OUT_OF_MEMORY, nullptr);
    m->buckets = bucket_count_for(n);
    m->upper = u32(m->buckets * hash_table::LOAD_FACTOR);
    m->flags = static_cast<u32*>(std::malloc(flag_bytes(m->buckets)));
    m->pairs = static_cast<u32*>(std::malloc(size_t(m->buckets) * 8));
    if (!m->flags || !m->pairs) runtime::error_exit(runtime::FAULT_OUT_OF_MEMORY, nullptr);
    std::memset(m->flags, 0xAA, flag_bytes(m->buckets));
    return m;
}

i32 find(Map* m, u32 key) {
    u32 mask = m->buckets - 1;
    u32 i = hash_table::mix(key) & mask;
    u32 start = i;
    for (u32 k = 0;; k++) {
        u32 f = flag_of(m->flags, i);
        if (f == hash_table::BUCKET_EMPTY) return -1;
        if (f == hash_table::BUCKET_USED && m->pairs[2 * i] == key) return i32(i);
        i = (i + k + 1) & mask;
        if (i == start) return -1;
    }
}

int resize(Map* m, u32 buckets) {
    u32 nb = 4;
    while (nb < buckets) nb <<= 1;
    auto* flags = static_cast<u32*>(std::malloc(flag_bytes(nb)));
    auto* pairs = static_cast<u32*>(std::malloc(size_t(nb) * 8));
    if (!flags || !pairs) {
        std::free(flags);
        std::free(pairs);
        return -1;
    }
    std::memset(flags, 0xAA, flag_bytes(nb));
    for (u32 i = 0; i < m->buckets; i++) {
        if (flag_of(m->flags, i) != hash_table::BUCKET_USED) continue;
        u32 j = hash_table::mix(m->pairs[2 * i]) & (nb - 1);
        for (u32 k = 0; flag_of(flags, j) != hash_table::BUCKET_EMPTY; k++) j = (j + k + 1) & (nb - 1);
        set_flag(flags, j, hash_table::BUCKET_USED);
        pairs[2 * j] = m->pairs[2 * i];
        pairs[2 * j + 1] = m->pairs[2 * i + 1];
    }
    std::free(m->flags);
    std::free(m->pairs);
    m->flags = flags;
    m->pairs = pairs;
    m->buckets = nb;
    m->upper = u32(nb * hash_table::LOAD_FACTOR + 0.5);
    m->occupied = m->count;
    return 0;
}

void put(Map* m, u32 key, u32 value) {
    if (m->occupied >= m->upper) {
        u32 target = m->count * 2 < m->buckets ? m->buckets - 1 : m->buckets + 1;
        resize(m, target);
    }
    u32 mask = m->buckets - 1;
    u32 i = hash_table::mix(key) & mask;
    u32 start = i;
    i32 slot = -1;
    for (u32 k = 0;; k++) {
        u32 f = flag_of(m->flags, i);
        if (f == hash_table::BUCKET_EMPTY) {
            if (slot < 0) slot = i32(i);
            break;
        }
        if (f == hash_table::BUCKET_USED && m->pairs[2 * i] == key) {
            m->pairs[2 * i + 1] = value;
            return;
        }
        if (f == hash_table::BUCKET_DELETED && slot < 0) slot = i32(i);
        i = (i + k + 1) & mask;
        if (i == start) break;
    }
    if (slot < 0) {   // every bucket deleted or used: grow and try again
        resize(m, m->buckets + 1);
        put(m, key, value);
        return;
    }
    if (flag_of(m->flags, u32(slot)) == hash_table::BUCKET_EMPTY) m->occupied++;
    set_flag(m->flags, u32(slot), hash_table::BUCKET_USED);
    m->pairs[2 * slot] = key;
    m->pairs[2 * slot + 1] = value;
    m->count++;
}

u32* get(Map* m, u32 key) {
    i32 i = find(m, key);
    return i < 0 ? nullptr : &m->pairs[2 * i + 1];
}

void remove(Map* m, u32 key) {
    i32 i = find(m, key);
    if (i < 0) return;
    set_flag(m->flags, u32(i), hash_table::BUCKET_DELETED);
    m->count--;
}

u32 count(const Map* m) { return m->count; }

u32* next(Map* m, u32* pair) {
    u32 i = pair ? u32((pair - m->pairs) / 2) + 1 : 0;
    for (; i < m->buckets; i++)
        if (flag_of(m->flags, i) == hash_table::BUCKET_USED) return &m->pairs[2 * i];
    return nullptr;
}

void clear(Map* m) {
    std::memset(m->flags, 0xAA, flag_bytes(m->buckets));
    m->count = m->occupied = 0;
}

void destroy(Map* m) {
    if (!m) return;
    std::free(m->flags);
    std::free(m->pairs);
    std::free(m);
}

}  // namespace pointer_map
}  // namespace zir
