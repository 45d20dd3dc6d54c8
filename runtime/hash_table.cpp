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

namespace {

// Bytes A to Z of a 4-byte block lower-cased, the others left alone: the
// high bit of a byte's lane is set when the byte lies in 'A'..'Z', and moved
// down to 0x20.
inline u32 ascii_lower4(u32 k) {
    u32 low7 = k & 0x7F7F7F7Fu;
    u32 at_least_a = low7 + 0x3F3F3F3Fu;     // 0x80 set from 'A' (0x41) up
    u32 past_z = low7 + 0x25252525u;         // 0x80 set from '[' (0x5B) up
    u32 upper = at_least_a & ~past_z & ~k & 0x80808080u;
    return k | (upper >> 2);
}

inline u8 ascii_lower(u8 c) { return u32(c - 'A') < 26u ? u8(c + 0x20) : c; }

// MurmurHash3 x86 32-bit; LOWER hashes the bytes as if lower-cased in ASCII,
// without making the lower-cased copy.
template <bool LOWER>
u32 murmur3_bytes(const u8* p, size_t n) {
    u32 h = seed;
    size_t blocks = n / 4;
    for (size_t i = 0; i < blocks; i++) {
        u32 k;
        std::memcpy(&k, p + 4 * i, 4);
        h = mix_block(h, LOWER ? ascii_lower4(k) : k);
    }
    const u8* tail = p + 4 * blocks;
    auto at = [tail](size_t i) { return u32(LOWER ? ascii_lower(tail[i]) : tail[i]); };
    u32 k = 0;
    switch (n & 3) {
        case 3: k ^= at(2) << 16; [[fallthrough]];
        case 2: k ^= at(1) << 8; [[fallthrough]];
        case 1:
            k ^= at(0);
            k *= C1;
            k = rotl(k, 15);
            k *= C2;
            h ^= k;
    }
    return finish(h, u32(n));
}

// Upper case of a code point as text hashing and comparison fold it; ASCII
// without a call.
inline u32 fold_upper(u32 cp) {
    if (cp < 0x80) return cp - 'a' < 26u ? cp - 32 : cp;
    return case_folding::change_char(cp, true);
}

template <typename Unit, bool FOLD>
u32 hash_units(const u8* p, const u8* end) {
    u32 h = seed;
    u32 n = 0;
    for (; p < end; p += sizeof(Unit), n++) {
        Unit u;
        std::memcpy(&u, p, sizeof(Unit));
        h = mix_block(h, FOLD ? fold_upper(u32(u)) : u32(u));
    }
    return finish(h, 4 * n);
}

template <typename Unit>
u32 hash_units(const u8* p, const u8* end, bool fold) {
    return fold ? hash_units<Unit, true>(p, end) : hash_units<Unit, false>(p, end);
}

}  // namespace

u32 murmur3(const void* data, size_t n) { return murmur3_bytes<false>(static_cast<const u8*>(data), n); }

u32 hash_string(const Cell* string, bool case_sensitive) {
    SeriesBuffer* s = node_buffer(string->w2);
    u32 unit = series::unit_of(s);
    const u8* p = series::head(s) + u64(string->w1) * unit;
    const u8* end = series::tail(s);
    switch (unit) {
        case 1: return hash_units<u8>(p, end, !case_sensitive);
        case 2: return hash_units<u16>(p, end, !case_sensitive);
        case 4: return hash_units<u32>(p, end, !case_sensitive);
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
}

// --- Buckets -----------------------------------------------------------------

namespace {

inline u32 flag_of(const u32* flags, u32 i) { return (flags[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_flag(u32* flags, u32 i, u32 v) {
    u32 shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (v << shift);
}

inline u32* flags_of(const Record* r) { return reinterpret_cast<u32*>(series::data(node_buffer(r->flags))); }
// A bucket's key (a cell index, -c for a hash! chain, or an entry offset)
// and the key's hash. Kept side by side, a probe reads both in one access and
// compares hashes before it ever reads a key cell.
struct Bucket {
    u32 key;
    u32 hash;
};

inline Bucket* buckets_of(const Record* r) { return reinterpret_cast<Bucket*>(series::data(node_buffer(r->keys))); }
inline Cell* block_cells(const Record* r) { return reinterpret_cast<Cell*>(series::head(node_buffer(r->block))); }
inline u8* entries_of(const Record* r) { return series::head(node_buffer(r->block)); }

u32 next_power_of_two(u64 n) {
    u32 p = 4;
    while (p < n) p <<= 1;
    return p;
}

inline u32 flag_words(u32 buckets) { return buckets < 16 ? 1 : buckets / 16; }

// Fresh flags (all empty) and bucket arrays for a bucket count.
void new_arrays(u32 buckets, u32* flags, u32* keys) {
    *flags = memory::alloc_bytes_filled(i64(flag_words(buckets)) * 4, 0xAA);
    RootNode keep_flags(*flags);
    *keys = memory::alloc_bytes(i64(buckets) * i64(sizeof(Bucket)));
    // Both are arrays in full use: their tails sit at the end (copies copy them whole).
    SeriesBuffer* f = node_buffer(*flags);
    f->tail = f->offset + flag_words(buckets) * 4;
    SeriesBuffer* k = node_buffer(*keys);
    k->tail = k->offset + buckets * u32(sizeof(Bucket));
}

// The growth target before an insertion into a full table.
inline u32 growth_target(const Record* r) { return r->count * 2 < r->buckets ? r->buckets - 1 : r->buckets + 1; }

// Hash of a key cell of a kind-2 table: symbols by their spelling, words by
// their resolved symbol (case variants share a chain).
u32 symbol_text_hash(const u8* text, i32 length);

u32 word_key_hash(const Cell* c) {
    if (TYPE_OF(c) == TYPE_SYMBOL) {
        SeriesBuffer* s = node_buffer(c->w3);
        return symbol_text_hash(series::head(s), i32(series::used_bytes(s)));
    }
    return mix(u32(symbol::resolve(i32(c->w2))));
}

// Places a key in the first empty bucket of its probe sequence.
void place(u32* flags, Bucket* buckets, u32 mask, u32 h, u32 key) {
    u32 i = h & mask;
    for (u32 k = 0; flag_of(flags, i) != BUCKET_EMPTY; k++) i = (i + k + 1) & mask;
    set_flag(flags, i, BUCKET_USED);
    buckets[i] = {key, h};
}

// Kinds 1 and 2: new arrays for the target, every used key placed again by
// the hash kept in its bucket.
void resize_in_place(u32 table, u32 target) {
    u32 buckets = next_power_of_two(target);
    u32 upper = u32(buckets * LOAD_FACTOR + 0.5);
    if (record(table)->count >= upper) return;
    u32 flags, keys;
    new_arrays(buckets, &flags, &keys);
    Record* r = record(table);
    const u32* old_flags = flags_of(r);
    const Bucket* old = buckets_of(r);
    u32* nf = reinterpret_cast<u32*>(series::data(node_buffer(flags)));
    Bucket* nb = reinterpret_cast<Bucket*>(series::data(node_buffer(keys)));
    for (u32 i = 0; i < r->buckets; i++) {
        if (flag_of(old_flags, i) != BUCKET_USED) continue;
        place(nf, nb, buckets - 1, old[i].hash, old[i].key);
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
            place(flags_of(r), buckets_of(r), r->buckets - 1, word_key_hash(&cells[i]), u32(i));
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
    i32 k = i32(buckets_of(r)[bucket].key);
    return k >= 0 ? k : i32(words_of(u32(chain_node(r, -k)))[0]);
}

// The hash of a hash! or map! key: hash_value, integers without the call.
inline u32 key_hash(const Cell* key) {
    return TYPE_OF(key) == TYPE_INTEGER ? mix(key->w2) : hash_value(key, false);
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

// Whether a bucket whose hash differs from the key's may be passed without
// comparing: true for the datatypes whose equal values always hash alike
// (integers and chars by value, text folded as its comparison folds it,
// binaries by their bytes, words by their resolved symbol), under the
// equality comparisons. Lookups compare keys of one datatype only, but for
// a map!'s insertion, which compares strictly: no value of another datatype
// is strictly equal to one of these. The rest are compared bucket by bucket as the probe meets them: floats
// compare with a tolerance, blocks and objects by content but hash by
// identity, so an equal key may sit under another hash.
inline bool hash_decides_q(u32 type, i32 op) {
    if (op != COMP_EQUAL && op != COMP_STRICT_EQUAL && op != COMP_SAME && op != COMP_FIND) return false;
    return type == TYPE_INTEGER || type == TYPE_CHAR || type == TYPE_BINARY || type == TYPE_REFINEMENT ||
           type == TYPE_ISSUE || any_text_q(type) || any_word_q(type);
}

// Two 1-byte texts compared for equality as the string comparison does it
// (from their heads, folded unless strict); -1 when either is wider, left
// to the comparison action.
int equal_narrow_text(const Cell* a, const Cell* b, i32 op) {
    if (a->w2 == b->w2 && a->w1 == b->w1) return 1;
    if (op == COMP_SAME) return 0;
    SeriesBuffer* sa = node_buffer(a->w2);
    SeriesBuffer* sb = node_buffer(b->w2);
    if (series::unit_of(sa) != 1 || series::unit_of(sb) != 1) return -1;
    u32 na = series::used_bytes(sa), nb = series::used_bytes(sb);
    u32 ha = std::min(a->w1, na), hb = std::min(b->w1, nb);
    u32 n = na - ha;
    if (n != nb - hb) return 0;
    const u8* pa = series::head(sa) + ha;
    const u8* pb = series::head(sb) + hb;
    if (op == COMP_STRICT_EQUAL) return std::memcmp(pa, pb, n) == 0;
    for (u32 i = 0; i < n; i++)
        if (pa[i] != pb[i] && fold_upper(pa[i]) != fold_upper(pb[i])) return 0;
    return 1;
}

// A stored key compared with a search key under `op`, as the comparison
// action would answer; keys of one datatype among integers, chars and narrow
// texts are compared here, without the action's dispatch. Only the action may
// allocate.
inline bool keys_equal(const Cell* stored, const Cell* key, i32 op) {
    u32 t = TYPE_OF(key);
    if (TYPE_OF(stored) == t && (op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME)) {
        if (t == TYPE_INTEGER || t == TYPE_CHAR) return stored->w2 == key->w2;
        if (any_text_q(t)) {
            int equal = equal_narrow_text(stored, key, op);
            if (equal >= 0) return equal != 0;
        }
    }
    return actions::compare(stored, key, op);
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
// the search. With `by_hash`, only buckets holding that same hash are offered
// to `match`. `match` may allocate: the record is re-read after it.
template <typename Match>
Slot probe(u32 table, u32 hash, bool by_hash, Match match) {
    Record* r = record(table);
    u32 buckets = r->buckets;
    u32 mask = buckets - 1;
    u32 i = hash & mask;
    const u32* flags = flags_of(r);
    const Bucket* b = buckets_of(r);
    u32 deleted = NO_BUCKET;
    for (u32 k = 0; k < buckets; k++) {
        u32 f = flag_of(flags, i);
        if (f == BUCKET_EMPTY) return {false, deleted != NO_BUCKET ? deleted : i};
        if (f == BUCKET_USED) {
            if (!by_hash || b[i].hash == hash) {
                if (match(r, i)) return {true, i};
                r = record(table);
                flags = flags_of(r);
                b = buckets_of(r);
            }
        } else if (deleted == NO_BUCKET) {
            deleted = i;
        }
        i = (i + k + 1) & mask;
    }
    if (deleted == NO_BUCKET) ZIR_FAULT(runtime::FAULT_NO_CASE);   // tables grow before they fill
    return {false, deleted};
}

Slot probe_insert(u32 table, const Cell* key, u32 hash) {
    bool by_hash = hash_decides_q(TYPE_OF(key), record(table)->kind == HASH ? COMP_EQUAL : COMP_STRICT_EQUAL);
    return probe(table, hash, by_hash, [key](const Record* r, u32 i) {
        const Cell* first = cell_at(r, first_of_bucket(r, i));
        return r->kind == HASH ? TYPE_OF(first) == TYPE_OF(key) && keys_equal(first, key, COMP_EQUAL)
                               : keys_equal(first, key, COMP_STRICT_EQUAL);
    });
}

void take_bucket(Record* r, u32 bucket, u32 key, u32 hash) {
    u32* flags = flags_of(r);
    if (flag_of(flags, bucket) == BUCKET_EMPTY) r->occupied++;
    set_flag(flags, bucket, BUCKET_USED);
    buckets_of(r)[bucket] = {key, hash};
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
    i32 k = i32(buckets_of(r)[bucket].key);
    if (k < 0) {
        series::zs_append_int(u32(chain_node(r, -k)), u32(index));
        return;
    }
    collector::RootNode chain(memory::alloc_bytes(16));
    series::zs_append_int(chain, u32(k));
    series::zs_append_int(chain, u32(index));
    series::zs_append_int(record(table)->chains, chain);
    r = record(table);
    buckets_of(r)[bucket].key = u32(-word_count(r->chains));
}

// Indexes hash! cell i, which is not indexed, without growing the table.
i32 index_hash_cell(u32 table, i32 index) {
    Record* r = record(table);
    Cell key = *cell_at(r, index);
    u32 hash = key_hash(&key);
    Slot s = probe_insert(table, &key, hash);
    r = record(table);
    if (!r->stamp && node_keyed_type_q(TYPE_OF(&key))) r->stamp = collector::stats.nodes_cycles + 1;
    if (s.found) {
        chain_cell(table, s.bucket, index);
        r = record(table);
    } else {
        take_bucket(r, s.bucket, u32(index), hash);
    }
    set_bucket_of(r, index, i32(s.bucket));
    return s.found ? PUT_FOUND : PUT_NEW;
}

// Takes hash! cell i out of its bucket or chain.
void unindex(Record* r, i32 index) {
    i32 b = bucket_of(r, index);
    if (b < 0) return;
    clear_bucket_of(r, index);
    i32 k = i32(buckets_of(r)[b].key);
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
    u32 hash = key_hash(&key);
    Slot s = probe_insert(table, &key, hash);
    r = record(table);
    if (s.found) {
        *status = PUT_FOUND;
        return i32(buckets_of(r)[s.bucket].key);
    }
    take_bucket(r, s.bucket, u32(index), hash);
    *status = PUT_NEW;
    return index;
}

// Calls visit(cell index) for each cell of the bucket, chain or not.
template <typename Visit>
void for_each_in_bucket(const Record* r, u32 bucket, Visit visit) {
    i32 k = i32(buckets_of(r)[bucket].key);
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
    Bucket* buckets = buckets_of(r);
    for (i32 j = lo; j < hi; j++) {
        i32 b = bucket_of(r, j);
        if (b < 0) continue;
        i32 k = i32(buckets[b].key);
        if (k >= 0) {
            buckets[b].key = u32(renumber(j));
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

Cell* put_absent(u32 table, const Cell* cell, const Walk& walk, i32* status) {
    Record* r = record(table);
    if (r->kind != MAP || r->occupied >= r->upper || walk.bucket >= r->buckets ||
        flag_of(flags_of(r), walk.bucket) != BUCKET_EMPTY)
        return put_value(table, cell, status);
    take_bucket(r, walk.bucket, u32(cell_index(r, cell)), walk.hash);
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
        Walk walk;
        return find_next(table, key, op, &walk);
    }
    if (skip < 1) skip = 1;
    Cell k = *key;
    // Equal keys share one bucket, whose first cell is compared under op 0.
    Slot s = probe(table, key_hash(&k), hash_decides_q(TYPE_OF(&k), COMP_EQUAL),
                   [&k](const Record* rec, u32 i) {
                       const Cell* first = cell_at(rec, first_of_bucket(rec, i));
                       return TYPE_OF(first) == TYPE_OF(&k) && keys_equal(first, &k, COMP_EQUAL);
                   });
    if (!s.found) return nullptr;
    // Pick among the bucket's cells; the first was just compared under op 0.
    r = record(table);
    i32 first_index = first_of_bucket(r, s.bucket);
    i32 best = -1;
    for_each_in_bucket(r, s.bucket, [&](i32 p) {
        bool candidate = reverse ? p < head && p < end && (skip == 1 || (head - p - 1) % skip == 0)
                                 : p >= head && p < end && (skip == 1 || (p - head) % skip == 0);
        if (!candidate) return;
        bool better = best < 0 || ((last || reverse) ? p > best : p < best);
        if (!better) return;
        if ((p == first_index && op == COMP_EQUAL) || keys_equal(cell_at(record(table), p), &k, op)) best = p;
    });
    return best < 0 ? nullptr : cell_at(record(table), best);
}

Cell* find_next(u32 table, const Cell* key, i32 op, Walk* walk) {
    Record* r = record(table);
    Cell k = *key;
    as_map_key(r, &k);
    u32 buckets = r->buckets;
    u32 mask = buckets - 1;
    u32 i, n;
    if (walk->bucket == PROBE_START) {
        walk->hash = key_hash(&k);
        i = walk->hash & mask;
        n = 0;
    } else {
        i = (walk->bucket + walk->step + 1) & mask;
        n = walk->step + 1;
    }
    bool by_hash = hash_decides_q(TYPE_OF(&k), op);
    const u32* flags = flags_of(r);
    const Bucket* b = buckets_of(r);
    for (; n < buckets; n++) {
        u32 f = flag_of(flags, i);
        if (f == BUCKET_EMPTY) break;
        if (f == BUCKET_USED && (!by_hash || b[i].hash == walk->hash)) {
            Cell* first = cell_at(r, first_of_bucket(r, i));
            bool equal = same_key_type(first, &k) && keys_equal(first, &k, op);
            r = record(table);
            if (equal) {
                walk->bucket = i;
                walk->step = n;
                return cell_at(r, first_of_bucket(r, i));
            }
            flags = flags_of(r);
            b = buckets_of(r);
        }
        i = (i + n + 1) & mask;
    }
    walk->bucket = i;
    walk->step = buckets;
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
        i32 k = i32(buckets_of(r)[bucket].key);
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
        if (flag_of(flags_of(r), i) == BUCKET_DELETED) out += std::to_string(i) + ": " + std::to_string(i32(buckets_of(r)[i].key)) + "\n";
    return out;
}

// --- Symbols and word tables ----------------------------------------------------

namespace {

// MurmurHash3 of a spelling lower-cased in ASCII.
u32 symbol_text_hash(const u8* text, i32 length) { return murmur3_bytes<true>(text, size_t(length)); }

bool ascii_equal_ignoring_case(const u8* a, const u8* b, i32 n) {
    for (i32 i = 0; i < n; i++)
        if (a[i] != b[i] && ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// The spelling of the symbol whose cell index is `key`.
inline std::string_view spelling_at(const Cell* cells, u32 key) {
    SeriesBuffer* s = node_buffer(cells[key].w3);
    return std::string_view(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s));
}

std::string scratch;   // a spelling being added, out of the buffers that allocation moves

}  // namespace

i32 intern_symbol(u32 table, const u8* text, i32 length, bool case_insensitive_only, bool fixed_text) {
    Record* r = record(table);
    if (r->occupied >= r->upper) {
        RootNode keep_table(table);
        // The text may live in a buffer that growing the table moves.
        if (!fixed_text) {
            scratch.assign(reinterpret_cast<const char*>(text), size_t(length));
            text = reinterpret_cast<const u8*>(scratch.data());
        }
        resize_in_place(table, 16 * growth_target(r));
        r = record(table);
    }
    u32 h = symbol_text_hash(text, length);

    // One walk serves both searches, which follow the same sequence: an exact
    // spelling answers its id at once; the first spelling equal but for ASCII
    // case met on the way is the twin. Nothing here allocates, and only
    // buckets of the same hash are read. A new symbol goes where the walk
    // stopped (word tables never delete).
    const u32* flags = flags_of(r);
    const Bucket* b = buckets_of(r);
    const Cell* cells = block_cells(r);
    u32 mask = r->buckets - 1;
    u32 i = h & mask;
    i32 twin = -1;
    for (u32 k = 0;; k++) {
        if (k == r->buckets) ZIR_FAULT(runtime::FAULT_NO_CASE);   // tables grow before they fill
        u32 f = flag_of(flags, i);
        if (f == BUCKET_EMPTY) break;
        if (f == BUCKET_USED && b[i].hash == h) {
            std::string_view other = spelling_at(cells, b[i].key);
            if (i32(other.size()) == length) {
                const u8* o = reinterpret_cast<const u8*>(other.data());
                if (!case_insensitive_only && std::memcmp(o, text, size_t(length)) == 0) return i32(b[i].key) + 1;
                if (twin < 0 && ascii_equal_ignoring_case(o, text, length)) {
                    twin = i32(b[i].key) + 1;
                    if (case_insensitive_only) return twin;
                }
            }
        }
        i = (i + k + 1) & mask;
    }
    u32 bucket = i;
    i32 alias = twin > 0 ? symbol::resolve(twin) : -1;   // the canonical symbol, never a twin

    if (!fixed_text && text != reinterpret_cast<const u8*>(scratch.data())) {
        scratch.assign(reinterpret_cast<const char*>(text), size_t(length));
        text = reinterpret_cast<const u8*>(scratch.data());
    }
    RootNode keep_table(table);
    RootNode text_node(memory::alloc_bytes(i64(length) + 1));
    SeriesBuffer* ts = node_buffer(text_node);
    std::memcpy(series::data(ts), text, size_t(length));
    series::data(ts)[length] = 0;
    ts->tail = ts->offset + u32(length);

    SeriesBuffer* blk = node_buffer(record(table)->block);
    Cell* c = memory::alloc_tail_buffer(blk);
    i32 index = i32((reinterpret_cast<u8*>(c) - series::head(blk)) / 16);
    c->header = TYPE_SYMBOL;
    c->w1 = u32(alias);
    c->w2 = 0;
    c->w3 = text_node;
    take_bucket(record(table), bucket, u32(index), h);
    return index + 1;
}

namespace {

// The word table is full: grown before a word is added. Kept out of line, as
// is the adding below, so that a lookup saves few registers.
[[gnu::noinline]] void grow_words(u32 table, u32 context) {
    RootNode keep_table(table);
    RootNode keep_context(context);
    resize_in_place(table, 16 * growth_target(record(table)));
}

// A new word cell for the symbol, in the bucket where the search ended.
[[gnu::noinline]] i32 add_word(u32 table, u32 context, i32 symbol, u32 bucket, u32 h, i32* index_out) {
    RootNode keep_table(table);
    RootNode keep_context(context);
    SeriesBuffer* blk = node_buffer(record(table)->block);
    Cell* c = memory::alloc_tail_buffer(blk);
    i32 n = i32((reinterpret_cast<u8*>(c) - series::head(blk)) / 16);
    c->header = TYPE_WORD;
    c->w1 = context;
    c->w2 = u32(symbol);
    c->w3 = u32(n);
    take_bucket(record(table), bucket, u32(n), h);
    if (index_out) *index_out = n;
    return -1;
}

}  // namespace

i32 find_symbol(u32 table, i32 symbol, bool compare_aliases, u32 context, i32* index_out) {
    if (context) {
        const Record* r = record(table);
        if (r->occupied >= r->upper) grow_words(table, context);
    }
    // A word's bucket holds mix(its resolved symbol), and mix is one-to-one:
    // an equal hash is an equal resolved symbol, so a lookup by alias never
    // reads a word cell; an exact lookup reads only the cells of that symbol.
    i32 resolved = symbol::resolve(symbol);
    u32 h = mix(u32(resolved));
    Slot at = probe(table, h, true, [&](const Record* rec, u32 i) {
        return compare_aliases || i32(block_cells(rec)[buckets_of(rec)[i].key].w2) == symbol;
    });
    if (at.found) {
        i32 slot = i32(buckets_of(record(table))[at.bucket].key);
        if (index_out) *index_out = slot;
        return slot;
    }
    if (!context) return -1;
    return add_word(table, context, symbol, at.bucket, h, index_out);
}

// --- Node keys ------------------------------------------------------------------

namespace {

constexpr u32 ENTRY_LIVE = 2;   // header of a live entry's key cell; 0 once deleted

// Bucket of a node key, or of the insertion point when absent. mix is
// one-to-one, so a bucket of the same hash holds the node itself: the entry
// is never read.
Slot probe_node(u32 table, u32 node) {
    return probe(table, mix(node), true, [](const Record*, u32) { return true; });
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
    Bucket* nb = reinterpret_cast<Bucket*>(series::data(node_buffer(keys)));
    u32 live = 0;
    for (u8* p = series::head(from); p < series::tail(from); p += entry) {
        const Cell* key = reinterpret_cast<const Cell*>(p);
        if (key->header != ENTRY_LIVE) continue;
        u32 at = to->tail - to->offset;
        std::memcpy(series::tail(to), p, entry);
        to->tail += entry;
        place(nf, nb, buckets - 1, mix(key->w1), at);
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
        Cell* key = values_at(r, buckets_of(r)[at.bucket].key) - 1;
        for (u32 c = 0; c < entry / 16; c++) key[c].header = ENTRY_LIVE;
        return key + 1;
    }
    SeriesBuffer* e = node_buffer(r->block);
    u8* p = memory::alloc_tail_bytes(e, entry);
    u32 offset = u32(p - series::head(e));
    Cell* cells = reinterpret_cast<Cell*>(p);
    for (u32 c = 0; c < entry / 16; c++) cell::init(&cells[c], ENTRY_LIVE);
    cells[0].w1 = node;
    take_bucket(record(table), at.bucket, offset, mix(node));
    return cells + 1;
}

Cell* get_node(u32 table, u32 node) {
    Slot at = probe_node(table, node);
    return at.found ? values_at(record(table), buckets_of(record(table))[at.bucket].key) : nullptr;
}

Cell* delete_node(u32 table, u32 node) {
    Slot at = probe_node(table, node);
    if (!at.found) return nullptr;
    Record* r = record(table);
    Cell* values = values_at(r, buckets_of(r)[at.bucket].key);
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
