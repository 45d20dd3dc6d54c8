// ZIRBIN container, entries, and what both record forms share: the encoder's
// sharing step and symbol table, and the decoder's checks, reference paths
// and value builders. See zirbin.hpp for the format and zirbin_internal.hpp
// for the shared state.
#include "loader/zirbin.hpp"

#include <memory>
#include <unordered_map>

#include "boot/catalog.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/date.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/image.hpp"
#include "datatypes/image_backend.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "loader/lz77.hpp"
#include "loader/zirbin_internal.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"

namespace zir {
namespace zirbin {

u32 codec_q = 0;
bool adopt_specs = false;

namespace {

constexpr u8 MAGIC[6] = {'Z', 'I', 'R', 'B', 'I', 'N'};

// The series table: series node (or context node) -> offset of its path in
// the path store. A node-keyed table of the collector, kept by a mark
// callback; created on the first encode.
u32 series_table = 0;
constexpr i32 SERIES_TABLE_SIZE = 1024;

// The specs natives and actions were defined with, by slot.
u32 own_specs[2][natives::NATIVES_SIZE + 1] = {};

bool marks_registered = false;

void mark_roots() {
    if (series_table) hash_table::mark(series_table);
    for (auto& row : own_specs)
        for (u32 spec : row)
            if (spec) collector::mark_block(spec);
}

void register_marks() {
    if (marks_registered) return;
    collector::register_(mark_roots);
    marks_registered = true;
}

Encoder encoder;
std::unordered_map<i32, u32> symbol_positions;

// Buffers beyond these sizes are given back at reset rather than kept for
// the next encode.
constexpr size_t KEEP_LEVELS = 1024;
constexpr size_t KEEP_PATHS = 16384;
constexpr size_t KEEP_OUT = 1 << 20;

template <typename T>
void clear_buffer(std::vector<T>& v, size_t keep) {
    if (v.capacity() > keep) std::vector<T>().swap(v);
    else v.clear();
}

void reset_encoder() {
    Encoder& e = encoder;
    e.index = 0;
    e.depth = 0;
    clear_buffer(e.out, KEEP_OUT);
    clear_buffer(e.levels, KEEP_LEVELS);
    clear_buffer(e.paths, KEEP_PATHS);
    e.symbols.clear();
    e.strings.clear();
    e.offsets.clear();
    symbol_positions.clear();
    register_marks();
    if (!series_table) series_table = hash_table::init(SERIES_TABLE_SIZE, 0, hash_table::NODES, 1);
    else hash_table::clear(series_table);
}

// --- Bytes -------------------------------------------------------------------

void put_u32(std::vector<u8>& out, u32 v) {
    u8 b[4];
    std::memcpy(b, &v, 4);
    out.insert(out.end(), b, b + 4);
}

void put_varint(std::vector<u8>& out, u32 v) {
    while (v >= 0x80) {
        out.push_back(u8(v | 0x80));
        v >>= 7;
    }
    out.push_back(u8(v));
}

inline u32 get_u32(const u8* p) {
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}

// A varint of the container's header, read within `limit`.
const u8* header_varint(Decoder& d, const u8* p, const u8* limit, u32* out) {
    u32 v = 0;
    for (int i = 0; i < 5; i++) {
        if (p >= limit) fire_invalid(d, p);
        u8 b = *p++;
        if (i == 4 && b >= 0x10) fire_invalid(d, p);
        v |= u32(b & 0x7F) << (7 * i);
        if (!(b & 0x80)) {
            *out = v;
            return p;
        }
    }
    fire_invalid(d, p);
}

// --- Strict UTF-8, as the runtime reads it ---------------------------------

bool valid_utf8(const u8* p, const u8* end) {
    while (p < end) {
        u8 b = *p;
        if (b < 0x80) {
            p++;
            continue;
        }
        int n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
        if (n == 0 || b > 0xF4 || end - p < n) return false;
        u32 cp = b & (0x7F >> n);
        for (int i = 1; i < n; i++) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
        if ((cp >= 0xDC00 && cp <= 0xDCFF) || cp == 0xFFFE) return false;
        p += n;
    }
    return true;
}

// --- The image ------------------------------------------------------------------

[[noreturn]] void fire_invalid_data(const Cell* subject) {
    Cell arg;
    if (subject) arg = *subject;
    else cell::init(&arg, TYPE_NONE);
    fire(ERR_SCRIPT, "invalid-data", &arg);
}

// Reads the symbol table of N offsets and S bytes at `p`, checked against
// the end when it is known.
const u8* read_table(Decoder& d, const u8* p, const u8* end, u32 n, u32 s) {
    if (end) {
        i64 left = end - p;
        if (i64(n) > left / 4 || i64(s) > left - 4 * i64(n)) fire_invalid(d, p);
        if (s > 0 && p[4 * i64(n) + s - 1] != 0) fire_invalid(d, p);
        if (n > 0 && s == 0) fire_invalid(d, p);
    }
    d.table = p;
    d.table_count = n;
    d.strings = p + 4 * i64(n);
    d.strings_size = s;
    d.symbols.assign(n, 0);
    d.global_slots.assign(n, -1);
    return p + 4 * i64(n) + s;
}

void decode_records(Decoder& d, const u8* p) {
    d.records = p;
    while (p < d.end) p = d.fixed ? decode_value_fixed(d, p, d.target) : decode_value_cp(d, p, d.target);
}

void decode_compact_body(Decoder& d, const u8* p, const u8* end, bool symbols) {
    // Header varints are read within 20 bytes, or up to a nearer end.
    auto window = [&](const u8* at) { return end && end - at < 20 ? end : at + 20; };
    u32 roots, size;
    const u8* limit = window(p);
    p = header_varint(d, p, limit, &roots);
    p = header_varint(d, p, limit, &size);
    if (symbols) {
        u32 n, s;
        limit = window(p);
        p = header_varint(d, p, limit, &n);
        p = header_varint(d, p, limit, &s);
        if (i32(n) < 0 || i32(s) < 0) fire_invalid(d, p);
        p = read_table(d, p, end, n, s);
    }
    if (i32(size) < 0 || (end && i64(size) > end - p)) fire_invalid(d, p);
    d.end = p + size;
    d.min_record = 1;
    decode_records(d, p);
}

void decode_fixed_body(Decoder& d, const u8* p, const u8* end, bool symbols, const Cell* subject) {
    if (end && end - p < 8) fire_invalid_data(subject);
    u32 size = get_u32(p + 4);
    p += 8;
    if (symbols) {
        if (end && end - p < 8) fire_invalid(d, p);
        u32 n = get_u32(p), s = get_u32(p + 4);
        if (i32(n) < 0 || i32(s) < 0) fire_invalid(d, p);
        p = read_table(d, p + 8, end, n, s);
    }
    if (i32(size) < 0 || (end && i64(size) > end - p)) fire_invalid(d, p);
    d.end = p + size;
    d.fixed = true;
    d.min_record = 4;
    decode_records(d, p);
}

}  // namespace

// --- Encoder state ----------------------------------------------------------------

void fire_no_codec(const Cell* value) {
    Cell v = *value;
    reset_encoder();
    fire(ERR_ACCESS, "no-codec", &v);
}

EncodeDepth::EncodeDepth(Encoder& enc) : e(enc) {
    if (++e.depth > MAX_DEPTH) {
        reset_encoder();
        fire(ERR_INTERNAL, "too-deep");
    }
}

u32 symbol_index(Encoder& e, i32 symbol) {
    auto [it, added] = symbol_positions.try_emplace(symbol, u32(e.symbols.size()));
    if (!added) return it->second;
    e.symbols.push_back(symbol);
    std::string_view text = symbol::spelling(symbol);
    if (e.fixed) e.offsets.push_back(u32(e.strings.size()));
    e.strings.insert(e.strings.end(), text.begin(), text.end());
    e.strings.push_back(0);
    if (e.fixed)
        while (e.strings.size() % 8) e.strings.push_back(0);
    return it->second;
}

Share open_level(Encoder& e, u32 key) {
    Share s;
    s.opened = true;
    e.levels.push_back(e.index);
    e.index = 0;
    if (!hash_table::get_node(series_table, key)) {
        u32 at = u32(e.paths.size());
        e.paths.push_back(u32(e.levels.size()));
        e.paths.insert(e.paths.end(), e.levels.begin(), e.levels.end());
        Cell* v = hash_table::put_node(series_table, key);
        cell::init(v, TYPE_INTEGER);
        v->w2 = at;
    }
    return s;
}

Share share(Encoder& e, u32 key) {
    // The global context is never referred to; an image without pixels has
    // no node to share.
    if (key == context::global || key == 0) return {};
    if (const Cell* v = hash_table::get_node(series_table, key)) {
        Share s;
        s.shared = true;
        s.path = v->w2;
        return s;
    }
    return open_level(e, key);
}

void close_share(Encoder& e, const Share& s) {
    if (!s.opened) return;
    e.index = e.levels.back();
    e.levels.pop_back();
}

u32 word_context(const Cell* word) {
    u32 ctx = word->w1;
    if (!ctx) return context::global;
    u32 owner = TYPE_OF(context::owner_of(ctx));
    if (owner == TYPE_NONE || owner == TYPE_UNSET || owner == TYPE_BLOCK) return context::global;
    return ctx;
}

// --- Encoding entries ---------------------------------------------------------

namespace {

Cell* finish_image(bool fixed, u32 roots = 1) {
    Encoder& e = encoder;
    std::vector<u8> image(MAGIC, MAGIC + 6);
    image.push_back(VERSION);
    bool table = !e.symbols.empty();
    image.push_back(u8((fixed ? 0 : FLAG_COMPACT) | (table ? FLAG_SYMBOLS : 0)));
    u32 n = u32(e.symbols.size());
    if (fixed) {
        put_u32(image, roots);
        put_u32(image, u32(e.out.size()));
        if (table) {
            put_u32(image, n);
            put_u32(image, u32(e.strings.size()));
            for (u32 off : e.offsets) put_u32(image, off);
        }
    } else {
        put_varint(image, roots);
        put_varint(image, u32(e.out.size()));
        if (table) {
            put_varint(image, n);
            put_varint(image, u32(e.strings.size()));
            // Offsets found by walking the packed spellings.
            u32 off = 0;
            for (i32 sym : e.symbols) {
                put_u32(image, off);
                off += u32(symbol::spelling(sym).size()) + 1;
            }
        }
    }
    image.insert(image.end(), e.strings.begin(), e.strings.end());
    image.insert(image.end(), e.out.begin(), e.out.end());
    reset_encoder();
    return binary::load(image.data(), i64(image.size()));
}

Cell* encode_image(const Cell* value, bool fixed) {
    codec_q = 1;
    reset_encoder();
    encoder.fixed = fixed;
    Cell v = *value;
    collector::RootCell keep(v);
    try {
        if (fixed) encode_value_fixed(encoder, &keep.value);
        else encode_value_cp(encoder, &keep.value);
    } catch (...) {
        reset_encoder();
        throw;
    }
    return finish_image(fixed);
}

}  // namespace

Cell* encode(const Cell* value) { return encode_image(value, true); }

Cell* encode_boot(const Cell* sets, const Cell* roots) {
    reset_encoder();
    Encoder& e = encoder;
    // The boot image is always the compact form, whatever the last image was.
    e.fixed = false;
    try {
        i32 n = series::rest_length(sets);
        for (i32 i = 0; i + 1 < n; i += 2) {
            Cell word = *block::cell_at(sets->w2, i64(sets->w1) + i);
            Cell value = *block::cell_at(sets->w2, i64(sets->w1) + i + 1);
            encode_set_pair_cp(e, &word, &value);
        }
        // Nothing of the pairs is a root: references count from the roots.
        hash_table::clear(series_table);
        clear_buffer(e.paths, KEEP_PATHS);
        e.index = 0;
        i32 count = series::rest_length(roots);
        for (i32 i = 0; i < count; i++) {
            Cell value = *block::cell_at(roots->w2, i64(roots->w1) + i);
            encode_value_cp(e, &value);
        }
        return finish_image(false, u32(count));
    } catch (...) {
        reset_encoder();
        throw;
    }
}
Cell* encode_cp(const Cell* value) { return encode_image(value, false); }

Cell* pack(const Cell* image) {
    std::vector<u8> bytes = binary::bytes_of(image);
    if (bytes.size() < size_t(HEADER_SIZE) || std::memcmp(bytes.data(), MAGIC, 6) != 0) fire_invalid_data(image);
    i64 body = i64(bytes.size()) - HEADER_SIZE;
    if (bytes[7] & FLAG_COMPRESSED) return binary::load(bytes.data(), i64(bytes.size()));
    std::vector<u8> out(size_t(HEADER_SIZE + (body > 0 ? body : 0)));
    i64 packed = lz77::compress(bytes.data() + HEADER_SIZE, body, out.data() + HEADER_SIZE);
    if (packed < 0 || packed >= body) return binary::load(bytes.data(), i64(bytes.size()));
    std::memcpy(out.data(), bytes.data(), size_t(HEADER_SIZE));
    out[7] |= FLAG_COMPRESSED;
    return binary::load(out.data(), HEADER_SIZE + packed);
}

// --- Decoding entries -------------------------------------------------------------

i32 decode(const u8* image, Cell* target, i64 length, const Cell* subject) {
    Decoder d;
    d.start = image;
    d.target = target;
    d.boot = codec_q == 0;
    d.root_base = cell_total(target->w2);
    if ((length >= 0 && length < HEADER_SIZE) || std::memcmp(image, MAGIC, 6) != 0) fire_invalid_data(subject);
    const u8* end = length >= 0 ? image + length : nullptr;
    u8 flags = image[7];
    const u8* body = image + HEADER_SIZE;
    lz77::Unpacked unpacked;   // released on every way out
    if (flags & FLAG_COMPRESSED) {
        if (!lz77::decompress(body, end ? end - body : -1, &unpacked)) fire_invalid_data(subject);
        if (end && lz77::HEADER_SIZE + get_u32(body) != end - body) fire_invalid_data(subject);
        body = unpacked.data.get();
        end = body + unpacked.size;
        // Offsets in the unpacked body count as if it stood after the header.
        d.start = body;
        d.start_offset = HEADER_SIZE;
    }
    if (flags & FLAG_COMPACT) decode_compact_body(d, body, end, flags & FLAG_SYMBOLS);
    else decode_fixed_body(d, body, end, flags & FLAG_SYMBOLS, subject);
    return d.root_base;
}

i32 decode_binary(const Cell* bin, Cell* target) {
    codec_q = 1;
    SeriesBuffer* s = node_buffer(bin->w2);
    i32 length = series::length_of(s);
    i32 head = i32(bin->w1) < length ? i32(bin->w1) : length;
    i64 n = length - head;
    std::unique_ptr<u8[]> copy(new u8[size_t(n > 0 ? n : 1)]);
    if (n > 0) std::memcpy(copy.get(), series::head(s) + head, size_t(n));
    Cell subject = *bin;
    collector::RootCell keep(subject);
    return decode(copy.get(), target, n, &keep.value);
}

void init_state() {
    series_table = 0;
    for (auto& row : own_specs)
        for (u32& spec : row) spec = 0;
}

void set_own_spec(u32 type, i32 slot, u32 spec) {
    register_marks();
    if (slot >= 1 && slot <= natives::NATIVES_SIZE) own_specs[type == TYPE_ACTION][slot] = spec;
}

u32 own_spec(u32 type, i32 slot) {
    return slot >= 1 && slot <= natives::NATIVES_SIZE ? own_specs[type == TYPE_ACTION][slot] : 0;
}

// --- Decoder: checks and paths -------------------------------------------------------

void fire_invalid(const Decoder& d, const u8* at) {
    Cell offset;
    cell::init(&offset, TYPE_INTEGER);
    offset.w2 = u32(i32((at - d.start) + d.start_offset + 1));
    fire(ERR_SCRIPT, "zb-invalid-record", &offset);
}

i32 symbol_at(Decoder& d, u32 index, const u8* at) {
    if (!d.table || index >= d.table_count) fire_invalid(d, at);
    if (i32 sym = d.symbols[index]) return sym;
    u32 off = get_u32(d.table + 4 * i64(index));
    if (off >= d.strings_size) fire_invalid(d, at);
    const u8* text = d.strings + off;
    size_t n = std::strlen(reinterpret_cast<const char*>(text));
    if (n == 0 || n > 0x7FFFFFFF || !valid_utf8(text, text + n)) fire_invalid(d, at);
    // The image never lies in a collector buffer (the binary codec decodes a
    // private copy): its spellings need no copy before the table allocates.
    i32 sym = hash_table::intern_symbol(symbol::table, text, i32(n), false, true);
    d.symbols[index] = sym;
    return sym;
}

namespace {

// The cells a path step may select from: a block series from its first cell.
const Cell* step_cells(Decoder& d, u32 node, i64 base, u32 k, const u8* at) {
    if (!node || series::unit_of(node_buffer(node)) != 16) fire_invalid(d, at);
    i64 i = base + k;
    if (i >= cell_total(node)) fire_invalid(d, at);
    return block::cell_at(node, i);
}

u32 source_type(const Cell* v) { return TYPE_OF(v) == TYPE_OP ? (v->header >> op::SOURCE_SHIFT) & 0xFF : TYPE_OF(v); }

}  // namespace

void resolve_path(Decoder& d, Cell* out, const u8* at) {
    Cell cur = *d.target;
    bool root = true;
    size_t n = d.path.size();
    for (size_t i = 0; i < n; i++) {
        u32 k = d.path[i];
        u32 t = TYPE_OF(&cur);
        if (root) {
            cur = *step_cells(d, cur.w2, d.root_base, k, at);
            root = false;
            continue;
        }
        if (any_block_q(t) || t == TYPE_MAP) {
            cur = *step_cells(d, cur.w2, 0, k, at);
        } else if (t == TYPE_OBJECT || t == TYPE_ERROR || any_word_q(t) || t == TYPE_REFINEMENT ||
                   t == TYPE_FUNCTION || t == TYPE_OP) {
            u32 ctx = cur.w1;
            bool function = t == TYPE_FUNCTION || (t == TYPE_OP && source_type(&cur) == TYPE_FUNCTION);
            if (t == TYPE_OP && !function) {
                cur = *step_cells(d, cur.w2, 0, k, at);   // an operator of a native: its spec
                continue;
            }
            if (!function) {
                if (!ctx || ctx == context::global) fire_invalid(d, at);
                const Cell* c = context::cell_of(ctx);
                if (c->header & context::ON_STACK) {
                    cur = *context::owner_of(ctx);
                    if (TYPE_OF(&cur) != TYPE_FUNCTION) fire_invalid(d, at);
                    function = true;
                } else {
                    cur = *step_cells(d, c->w2, t == TYPE_ERROR ? error::FIELD_ARG1 : 0, k, at);
                    continue;
                }
            }
            // The function step: 0 its spec, 1 its body.
            if (k == 1) {
                if (TYPE_OF(&cur) != TYPE_FUNCTION && source_type(&cur) != TYPE_FUNCTION) fire_invalid(d, at);
                cur = *function::record_cell(&cur, function::RECORD_BODY);
                if (TYPE_OF(&cur) != TYPE_BLOCK) fire_invalid(d, at);
            } else if (k == 0) {
                u32 spec = cur.w2;
                if (i + 1 == n) {
                    cell::init(&cur, TYPE_BLOCK);
                    cur.w2 = spec;
                } else {
                    cur = *step_cells(d, spec, 0, d.path[++i], at);
                }
            } else {
                fire_invalid(d, at);
            }
        } else if (t == TYPE_NATIVE || t == TYPE_ACTION) {
            cur = *step_cells(d, cur.w2, 0, k, at);
        } else {
            fire_invalid(d, at);
        }
    }
    if (root) fire_invalid(d, at);
    *out = cur;
}

namespace {

enum Storage { CELLS, TEXT, OTHER };

Storage storage_of(u32 t) {
    if (t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH)) return CELLS;
    if (any_text_q(t)) return TEXT;
    return OTHER;
}

}  // namespace

bool shareable_q(u32 record_type, const Cell* target) {
    u32 t = TYPE_OF(target);
    Storage s = storage_of(record_type);
    if (s == CELLS)
        return storage_of(t) == CELLS || t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION ||
               (t == TYPE_OP && source_type(target) != TYPE_ROUTINE);
    if (s == TEXT) return storage_of(t) == TEXT;
    return t == record_type;
}

void shared_series(Cell* out, u32 record_type, const Cell* target, u32 head) {
    *out = *target;
    if (storage_of(record_type) != OTHER) {
        if (storage_of(TYPE_OF(target)) == OTHER) {   // a spec reached through its function
            cell::init(out, record_type);
            out->w2 = target->w2;
        }
        cell::set_type(out, record_type);
    }
    out->header &= ~FLAG_NEW_LINE;
    out->w1 = head;
}

// --- Decoder: value builders --------------------------------------------------------

void reserve_cells(u32 node, i64 n) {
    SeriesBuffer* s = node_buffer(node);
    i64 need = i64(s->tail) + n * 16;
    if (need > i64(s->size)) memory::expand_series(s, need);
}

void make_cells(Cell* out, u32 type, i64 n) {
    cell::init(out, TYPE_UNSET);
    u32 node = memory::alloc_cells(n > 0 ? n : 1);
    cell::init(out, type);
    out->w2 = node;
    if (type == TYPE_MAP) map::make_at(out, node, i32(n / 2));
    else if (type == TYPE_HASH) out->w3 = hash_table::init(i32(n), node, hash_table::HASH, 0);
}

namespace {

// Whether comparing a key with another can never raise: its datatype has a
// comparison, and so has everything the comparison walks into (the cells of
// blocks, the fields of objects), not deeper than the cycle guard allows.
bool comparable_q(const Cell* key, i32 depth, std::vector<u32>& seen) {
    u32 t = TYPE_OF(key);
    if (!datatype::table[t][ACT_COMPARE - 1]) return false;
    u32 node;
    if (any_block_q(t) || t == TYPE_MAP) node = key->w2;
    else if (t == TYPE_OBJECT || t == TYPE_ERROR) node = context::cell_of(key->w1)->w2;
    else return true;
    if (depth > cycles::CAPACITY / 4) return false;
    for (u32 n : seen)
        if (n == node) return true;
    seen.push_back(node);
    for (i32 i = 0, n = cell_total(node); i < n; i++) {
        Cell c = *block::cell_at(node, i);
        if (!comparable_q(&c, depth + 1, seen)) return false;
    }
    return true;
}

}  // namespace

void index_cells(Decoder& d, Cell* value, const u8* at) {
    // Indexing compares keys that meet in a bucket, and which keys meet
    // depends on the run's hash seed and on node ids. So that a value decodes
    // alike every time, keys whose comparison could raise are refused
    // whatever their hashes, and any error of the indexing refuses the
    // record (the index is left empty, in agreement with its block).
    u32 step = TYPE_OF(value) == TYPE_MAP ? 2 : 1;
    std::vector<u32> seen;
    for (i32 i = 0, n = cell_total(value->w2); i < n; i += i32(step)) {
        Cell key = *block::cell_at(value->w2, i);
        // A map's keys follow its own rule: text and bytes as private
        // copies, words as set-words, the other key types as they are.
        if (step == 2 && !map::valid_key_type_q(TYPE_OF(&key))) {
            hash_table::clear(value->w3);
            fire_invalid(d, at);
        }
        if (step == 2) {
            collector::RootCell k(key);
            map::normalize_key(k.get(), nullptr);
            *block::cell_at(value->w2, i) = k.value;
            key = k.value;
        }
        if (!comparable_q(&key, 0, seen)) {
            hash_table::clear(value->w3);
            fire_invalid(d, at);
        }
    }
    try {
        hash_table::put_all(value->w3, 0, i32(step));
    } catch (const LanguageError&) {
        hash_table::clear(value->w3);
        fire_invalid(d, at);
    }
}

void make_text(Decoder& d, Cell* out, u32 type, const u8* bytes, i64 count, u32 unit, const u8* at) {
    if (unit == 4)
        for (i64 i = 0; i < count; i++)
            if (get_u32(bytes + 4 * i) > 0x10FFFF) fire_invalid(d, at);
    cell::init(out, TYPE_UNSET);
    u32 node = memory::alloc_codepoints(count, unit);
    SeriesBuffer* s = node_buffer(node);
    if (count) std::memcpy(series::head(s), bytes, size_t(count * unit));
    s->tail = s->offset + u32(count * unit);
    cell::init(out, type);
    out->w2 = node;
}

void make_vector(Decoder& d, Cell* out, u32 elem_type, u32 size, const u8* bytes, i64 count, const u8* at) {
    bool ok = ((elem_type == TYPE_CHAR || elem_type == TYPE_INTEGER) && (size == 1 || size == 2 || size == 4)) ||
              ((elem_type == TYPE_FLOAT || elem_type == TYPE_PERCENT) && (size == 4 || size == 8));
    if (!ok) fire_invalid(d, at);
    if (elem_type == TYPE_CHAR && size == 4)   // chars read back as code points
        for (i64 i = 0; i < count; i++)
            if (get_u32(bytes + 4 * i) > 0x10FFFF) fire_invalid(d, at);
    cell::init(out, TYPE_UNSET);
    u32 node = memory::alloc_series(count > 0 ? count : 1, size, 0);
    SeriesBuffer* s = node_buffer(node);
    if (count) std::memcpy(series::head(s), bytes, size_t(count * size));
    s->tail = s->offset + u32(count * size);
    cell::init(out, TYPE_VECTOR);
    out->w2 = node;
    out->w3 = elem_type;
}

void make_bitset(Decoder& d, Cell* out, const u8* bytes, i64 n, bool complement, const u8* at) {
    // Bit numbers stop where the length in bits is still a 32-bit integer.
    if (n > MAX_BITSET_BYTES) fire_invalid(d, at);
    cell::init(out, TYPE_UNSET);
    u32 node = memory::alloc_bytes(n);
    SeriesBuffer* s = node_buffer(node);
    if (n) std::memcpy(series::head(s), bytes, size_t(n));
    s->tail = s->offset + u32(n);
    if (complement) s->flags |= SERIES_COMPLEMENT;
    cell::init(out, TYPE_BITSET);
    out->w2 = node;
}

Cell* image_pixels(const Cell* img, i32* width, i32* height) {
    // The sides are the value's own: an image without pixels still has the
    // size it was made with when one side is 0 (make image! 2x0).
    *width = image::width_of(img);
    *height = image::height_of(img);
    if (!img->w2 && *width && *height) *width = *height = 0;   // no pixels to write for them
    return image::extract_data(img, image::KIND_ARGB);
}

void make_image(Decoder& d, Cell* out, i64 width, i64 height, const u8* pixels, const u8* at) {
    u32 record = 0;
    if (width && height) {
        if (!image_backend::size_fits_q(width, height)) fire_invalid(d, at);
        if (image_backend::from_memory(i32(width), i32(height), 0, width * height * 4, pixels, &record) != 0)
            fire_invalid(d, at);
    } else if (width > image_backend::MAX_SIDE || height > image_backend::MAX_SIDE) {
        fire_invalid(d, at);
    }
    cell::init(out, TYPE_UNSET);
    image::make_at(out, record);
    if (!record) out->w3 = u32(height) << 16 | u32(width);   // no pixels, but its sides
}

void make_date(Decoder& d, Cell* out, u32 date, u32 time_high, u32 time_low, const u8* at) {
    u32 month = (date >> 12) & 0xF, day = (date >> 7) & 0x1F;
    if (month < 1 || month > 12 || day < 1) fire_invalid(d, at);
    // A day the month does not have (31-Feb) is no date: it would mold as
    // text that does not load.
    static constexpr u32 month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > month_days[month - 1] + (month == 2 && date::leap_year_q(i32(date) >> 17))) fire_invalid(d, at);
    double time = std::bit_cast<double>((u64(time_high) << 32) | time_low);
    if (date & date::TIME_FLAG) {
        // The time is stored in UTC; with the zone's offset it is a clock
        // time of the local day, as every date keeps it.
        double local = date::to_local(time, date::zone_of(date));
        if (!(local >= 0 && local < date::SECONDS_PER_DAY)) fire_invalid(d, at);
    } else if (time_high | time_low) {
        fire_invalid(d, at);
    }
    cell::init(out, TYPE_DATE);
    out->w1 = date;
    out->w2 = time_low;
    out->w3 = time_high;
}

void make_money(Decoder& d, Cell* out, const u8* bytes, bool negative, const u8* at) {
    for (int i = 1; i < 12; i++)
        if ((bytes[i] >> 4) > 9 || (bytes[i] & 0xF) > 9) fire_invalid(d, at);
    cell::init(out, TYPE_MONEY);
    std::memcpy(&out->w1, bytes, 12);
    money::set_sign(out, negative);
}

void make_datatype(Decoder& d, Cell* out, u32 id, const u8* at) {
    if (id < 1 || id > TYPE_EVENT) fire_invalid(d, at);
    cell::init(out, TYPE_UNSET);
    datatype::make_at(out, id);
}

void make_char(Decoder& d, Cell* out, u32 cp, const u8* at) {
    if (cp > 0x10FFFF) fire_invalid(d, at);
    cell::init(out, TYPE_CHAR);
    out->w2 = cp;
}

void make_error(Decoder& d, Cell* out, u32 code, const u8* at) {
    u32 category = code / 100, id = code % 100;
    if (category >= u32(catalog::CATEGORIES) || i32(id) >= catalog::categories[category].count) fire_invalid(d, at);
    cell::init(out, TYPE_UNSET);
    error::make_at(out, category, i32(id), nullptr, 0);
}

u32 new_context(Decoder& d, u32 owner_type, u32 kind, bool on_stack, bool self, u32 n, const u8* at) {
    // At run time an object's context keeps its values in a block and a
    // function's on the stack: any other shape would be read the wrong way.
    bool ok = owner_type == TYPE_FUNCTION ? kind == context::KIND_FUNCTION && on_stack
                                          : kind == context::KIND_OBJECT && !on_stack;
    if (!ok && !d.boot) fire_invalid(d, at);
    if (kind > context::KIND_OBJECT) fire_invalid(d, at);
    return context::create(i32(n), on_stack, self, 0, kind);
}

void add_context_word(u32 ctx, i32 symbol) { context::add_word(ctx, symbol); }

void check_word_count(Decoder& d, u32 ctx, u32 n, const u8* at) {
    if (context::word_count(context::cell_of(ctx)) != i32(n)) fire_invalid(d, at);
}

void make_global_word(Cell* out, u32 type, i32 symbol) {
    cell::init(out, TYPE_UNSET);
    word::make_at(symbol, out);
    cell::set_type(out, type);
}

void first_global_word_at(Decoder& d, Cell* out, u32 type, u32 index, const u8* at) {
    make_global_word(out, type, symbol_at(d, index, at));
    d.global_slots[index] = i32(out->w3);
}

void bind_word(Decoder& d, Cell* word, u32 ctx, i32 slot, const u8* at) {
    const Cell* c = context::cell_of(ctx);
    if (slot != -1) {
        if (slot < 0 || slot >= context::word_count(c)) fire_invalid(d, at);
        const Cell* w = context::word_at(c, slot);
        if (symbol::resolve(i32(w->w2)) != symbol::resolve(i32(word->w2))) fire_invalid(d, at);
    }
    word->w1 = ctx;
    word->w3 = u32(slot);
}

u32 context_of_target(Decoder& d, const Cell* target, const u8* at) {
    u32 t = TYPE_OF(target);
    bool ok = any_word_q(t) || t == TYPE_REFINEMENT || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_FUNCTION ||
              (t == TYPE_OP && source_type(target) == TYPE_FUNCTION);
    if (!ok || !target->w1 || target->w1 == context::global) fire_invalid(d, at);
    return target->w1;
}

Cell shared_owner(Decoder& d, const Cell* target, u32 type, const u8* at) {
    if (type == TYPE_FUNCTION && TYPE_OF(target) == TYPE_OP && source_type(target) == TYPE_FUNCTION) {
        Cell v = *target;
        v.header = (target->header & ~(TYPE_MASK | (0xFFu << op::SOURCE_SHIFT))) | TYPE_FUNCTION;
        return v;
    }
    Cell v = *context::owner_of(context_of_target(d, target, at));
    if (TYPE_OF(&v) != type) fire_invalid(d, at);
    return v;
}

void check_native_slot(Decoder& d, u32 type, u32 slot, const u8* at) {
    bool ok;
    if (type == TYPE_ACTION)
        // eval-path and compare have calling conventions of their own, and the
        // reserved slot has no entry: none of them can be called as an action.
        ok = slot >= 1 && slot <= ACTION_SLOTS && slot != ACT_EVAL_PATH && slot != ACT_RESERVED &&
             slot != ACT_COMPARE && actions::table[slot - 1];
    else
        ok = slot >= 1 && slot <= u32(natives::count) && natives::table[slot - 1];
    if (!ok || (!own_spec(type, i32(slot)) && !(adopt_specs && codec_q == 0))) fire_invalid(d, at);
}

void make_native(Decoder& d, Cell* out, u32 type, u32 slot, const Cell* spec, const u8* at) {
    cell::init(out, TYPE_UNSET);
    if (TYPE_OF(spec) != TYPE_BLOCK) fire_invalid(d, at);
    Cell own;
    cell::init(&own, TYPE_BLOCK);
    own.w2 = own_spec(type, i32(slot));
    Cell given = *spec;
    given.w1 = 0;
    // The program's own image is the source of the specs when adopting: the
    // first spec of a slot becomes the one later images are checked against.
    if (!own.w2 && adopt_specs && codec_q == 0) {
        set_own_spec(type, i32(slot), given.w2);
        own.w2 = given.w2;
    }
    // The entry reads as many arguments as its own spec names.
    if (!actions::compare(&given, &own, COMP_STRICT_EQUAL)) fire_invalid(d, at);
    collector::RootCell words(given);
    collector::RootNode ctx(context::make(words.get(), true, false, context::KIND_FUNCTION));
    u32 record = memory::alloc_cells(2);
    SeriesBuffer* r = node_buffer(record);
    Cell* cells = series::head_cells(r);
    cells[native::RECORD_CONTEXT] = *context::cell_of(ctx);
    cell::init(&cells[native::RECORD_ARGUMENTS], TYPE_NONE);
    r->tail = r->offset + 32;
    cell::init(out, type);
    out->w1 = slot;
    out->w2 = given.w2;
    out->w3 = record;
}

void make_op(Decoder& d, Cell* cell, const u8* at) {
    u32 t = TYPE_OF(cell);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION) fire_invalid(d, at);
    // An operator takes exactly two operands.
    i32 operands = 0;
    for (i32 i = 0; i < cell_total(cell->w2); i++) {
        u32 it = TYPE_OF(block::cell_at(cell->w2, i));
        if (it == TYPE_REFINEMENT) break;
        if (it == TYPE_WORD || it == TYPE_LIT_WORD || it == TYPE_GET_WORD) operands++;
    }
    if (operands != 2) fire_invalid(d, at);
    cell->header = (cell->header & FLAG_NEW_LINE) | TYPE_OP | (t << op::SOURCE_SHIFT);
}

void make_function(Cell* out, u32 ctx) {
    collector::RootNode spec(memory::alloc_cells(1));
    collector::RootNode record(memory::alloc_unset_cells(function::RECORD_CELLS));
    u32 body = memory::alloc_cells(1);
    SeriesBuffer* r = node_buffer(record);
    r->tail = r->offset + 16 * function::RECORD_CELLS;
    Cell* b = series::head_cells(r) + function::RECORD_BODY;
    cell::init(b, TYPE_BLOCK);
    b->w2 = body;
    cell::init(out, TYPE_FUNCTION);
    out->w1 = ctx;
    out->w2 = spec;
    out->w3 = record;
    *context::owner_of(ctx) = *out;
}

void finish_function(Decoder& d, Cell* fn, u32 place_node, i32 place_index, const u8* at) {
    Cell spec;
    cell::init(&spec, TYPE_BLOCK);
    spec.w2 = fn->w2;
    collector::RootCell keep(spec);
    u32 flags;
    try {
        flags = function::validate(keep.get());
    } catch (const LanguageError&) {
        fire_invalid(d, at);
    }
    // The frame the interpreter builds from the spec must be the context the
    // body's words are bound to: the same words in the same order.
    collector::RootNode made(context::make(keep.get(), true, false, context::KIND_FUNCTION));
    const Cell* a = context::cell_of(made);
    const Cell* b = context::cell_of(fn->w1);
    i32 n = context::word_count(a);
    if (n != context::word_count(b)) fire_invalid(d, at);
    for (i32 i = 0; i < n; i++)
        if (symbol::resolve(i32(context::word_at(a, i)->w2)) != symbol::resolve(i32(context::word_at(b, i)->w2)))
            fire_invalid(d, at);
    // The spec's attributes (trace, no-trace) live in the header.
    fn->header |= flags;
    *context::owner_of(fn->w1) = *fn;
    if (place_node) block::cell_at(place_node, place_index)->header |= flags;
}

void make_object(Decoder& d, Cell* out, u32 ctx, i32 class_id) {
    cell::init(out, TYPE_OBJECT);
    out->w1 = ctx;
    // Objects of one class have the same words: a stored class id could name
    // another shape in this run, so run-time decodes take fresh ones.
    out->w2 = d.boot ? u32(class_id) : object::new_class_id();
    *context::owner_of(ctx) = *out;
}

void install_handlers(Decoder& d, Cell* object, const u8* at) {
    try {
        object::install_handlers(object);
    } catch (const LanguageError&) {
        fire_invalid(d, at);
    }
}

}  // namespace zirbin
}  // namespace zir
