// ZIRBIN compact records: each value as prefix bytes, one lead byte and a
// payload of bytes, LEB128 varints and zigzag integers; the writer and the
// reader of the records. The container and everything both forms share are
// zirbin.cpp.
//
// Lead bytes: 0x00..0x7F a typed record (bits 0..5 the datatype id, 63 for a
// varint id after it; bit 6 the datatype's flag F), 0x80..0xBF the integers
// 0..63, 0xC2/0xC3 true/false, 0xFF a copy of the value a path reaches.
// Prefixes: 0xC0 new line, 0xC1 shared (a reference path follows the
// record's head fields), 0xC4 SET (boot images only).
#include <cmath>
#include <string>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/date.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/money.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "loader/zirbin_internal.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace zirbin {

namespace {

constexpr u8 NEW_LINE = 0xC0;
constexpr u8 SHARED = 0xC1;
constexpr u8 TRUE_ = 0xC2;
constexpr u8 FALSE_ = 0xC3;
constexpr u8 SET = 0xC4;
constexpr u8 COPY = 0xFF;
constexpr u8 SMALL_INT = 0x80;
constexpr u8 FLAG_F = 0x40;
constexpr u32 EXTENDED_ID = 63;

// Context body flags.
constexpr u8 CTX_KIND = 3;
constexpr u8 CTX_ON_STACK = 4;
constexpr u8 CTX_SELF = 8;
constexpr u8 CTX_VALUES = 16;

// --- Writers -------------------------------------------------------------------

inline void put_byte(Encoder& e, u8 b) { e.out.push_back(b); }

void put_uint(Encoder& e, u32 v) {
    while (v >= 0x80) {
        e.out.push_back(u8(v | 0x80));
        v >>= 7;
    }
    e.out.push_back(u8(v));
}

inline void put_int(Encoder& e, i32 v) { put_uint(e, (u32(v) << 1) ^ u32(v >> 31)); }

inline void put_u32(Encoder& e, u32 v) {
    u8 b[4];
    std::memcpy(b, &v, 4);
    e.out.insert(e.out.end(), b, b + 4);
}

inline void put_bytes(Encoder& e, const u8* p, size_t n) { e.out.insert(e.out.end(), p, p + n); }

void put_type(Encoder& e, u32 type, bool flag) {
    u8 f = flag ? FLAG_F : 0;
    if (type < EXTENDED_ID) {
        put_byte(e, u8(type | f));
    } else {
        put_byte(e, u8(EXTENDED_ID | f));
        put_uint(e, type);
    }
}

void put_path(Encoder& e, u32 at) {
    u32 n = e.paths[at];
    put_uint(e, n);
    for (u32 i = 1; i <= n; i++) put_uint(e, e.paths[at + i]);
}

void encode_float(Encoder& e, const Cell* v, u32 type) {
    double x = cell::get_float(v);
    bool negative_zero = x == 0 && std::signbit(x);
    if (type == TYPE_PERCENT) {
        if (x >= -21474836.0 && x <= 21474836.0 && !negative_zero) {
            i32 n = i32(x >= 0 ? x * 100 + 0.5 : x * 100 - 0.5);
            if (n / 100.0 == x) {
                put_type(e, type, true);
                put_int(e, n);
                return;
            }
        }
    } else if (x >= -2147483000.0 && x <= 2147483000.0 && !negative_zero) {
        i32 n = i32(x);
        if (double(n) == x) {
            put_type(e, type, true);
            put_int(e, n);
            return;
        }
    }
    put_type(e, type, false);
    put_u32(e, v->w2);
    put_u32(e, v->w3);
}

void encode_context_body(Encoder& e, u32 ctx) {
    const Cell* c = context::cell_of(ctx);
    u32 header = c->header;
    bool on_stack = header & context::ON_STACK;
    i32 n = context::word_count(c);
    bool values = false;
    if (!on_stack)
        for (i32 i = 0; i < n && !values; i++) values = TYPE_OF(context::value_at(context::cell_of(ctx), i)) != TYPE_UNSET;
    put_type(e, TYPE_CONTEXT, false);
    put_byte(e, u8(context::kind_of(c) | (on_stack ? CTX_ON_STACK : 0) | (header & context::HAS_SELF ? CTX_SELF : 0) |
                   (values ? CTX_VALUES : 0)));
    put_uint(e, u32(n));
    for (i32 i = 0; i < n; i++) put_uint(e, symbol_index(e, i32(context::word_at(context::cell_of(ctx), i)->w2)));
    if (!values) return;
    for (i32 i = 0; i < n; i++) {
        Cell value = *context::value_at(context::cell_of(ctx), i);
        encode_value_cp(e, &value);
    }
}

// The on-set indexes of an object's change handlers (-1: none).
i32 handler_index(const Cell* object, i32 which) {
    const Cell* record = series::head_cells(node_buffer(object->w3)) + which;
    u32 index = record->w2 >> 16;
    return index == 0xFFFF ? -1 : i32(index);
}

void encode_object_body(Encoder& e, const Cell* object) {
    put_int(e, i32(object->w2));
    if (object->w3) {
        put_int(e, handler_index(object, object::ON_CHANGE));
        put_int(e, handler_index(object, object::ON_DEEP_CHANGE));
    }
    encode_context_body(e, object->w1);
}

void encode_function_body(Encoder& e, const Cell* fn) {
    Cell body = *function::record_cell(fn, function::RECORD_BODY);
    if (TYPE_OF(&body) != TYPE_BLOCK) fire_no_codec(fn);
    put_uint(e, u32(cell_total(fn->w2)));
    put_uint(e, u32(cell_total(body.w2)));
    encode_context_body(e, fn->w1);
    u32 saved = e.index;
    Cell spec;
    cell::init(&spec, TYPE_BLOCK);
    spec.w2 = fn->w2;
    e.index = 0;
    encode_value_cp(e, &spec);
    cell::init(&spec, TYPE_BLOCK);
    spec.w2 = body.w2;
    e.index = 1;
    encode_value_cp(e, &spec);
    e.index = saved;
}

void encode_error(Encoder& e, const Cell* err) {
    const Cell* code = error::field(err, error::FIELD_CODE);
    if (TYPE_OF(code) != TYPE_INTEGER) fire_no_codec(err);
    u32 c = code->w2;
    Share s = open_level(e, err->w1);
    put_type(e, TYPE_ERROR, false);
    put_uint(e, c);
    for (i32 i = error::FIELD_ARG1; i <= error::FIELD_STACK; i++) {
        Cell field = *error::field(err, i);
        encode_value_cp(e, &field);
    }
    close_share(e, s);
}

bool shared_type_q(u32 t) {
    return any_block_q(t) || any_text_q(t) || any_word_q(t) || t == TYPE_REFINEMENT || t == TYPE_BINARY ||
           t == TYPE_VECTOR || t == TYPE_BITSET || t == TYPE_IMAGE || t == TYPE_MAP || t == TYPE_OBJECT ||
           t == TYPE_FUNCTION;
}

// The contents of each kind of record that goes through the sharing step.
// Each kind has a function of its own, kept out of line: the walk recurses
// through them, and one frame holding every kind's locals would make deep
// values need far more stack.
[[gnu::noinline]] void encode_owner(Encoder& e, const Cell* word, u32 ctx) {
    Cell owner = *context::owner_of(ctx);
    if (TYPE_OF(&owner) == TYPE_OBJECT) {
        put_type(e, TYPE_OBJECT, owner.w3 != 0);
        encode_object_body(e, &owner);
    } else if (TYPE_OF(&owner) == TYPE_FUNCTION) {
        put_type(e, TYPE_FUNCTION, false);
        encode_function_body(e, &owner);
    } else {
        fire_no_codec(word);
    }
}

[[gnu::noinline]] void encode_cells(Encoder& e, u32 node) {
    i32 n = cell_total(node);
    put_uint(e, u32(n));
    for (i32 i = 0; i < n; i++) {
        Cell item = *block::cell_at(node, i);
        encode_value_cp(e, &item);
    }
}

[[gnu::noinline]] void encode_bytes(Encoder& e, const Cell* v, u32 t) {
    SeriesBuffer* b = node_buffer(v->w2);
    u32 unit = series::unit_of(b);
    u32 count = u32(series::length_of(b));
    if (t == TYPE_VECTOR) {
        put_byte(e, u8((v->w3 << 2) | series::unit_shift(unit)));
        put_uint(e, count);
    } else if (t == TYPE_BINARY || t == TYPE_BITSET) {
        put_uint(e, series::used_bytes(b));
    } else {
        put_uint(e, (count << 2) | (unit == 1 ? 0 : unit == 2 ? 1 : 2));
    }
    b = node_buffer(v->w2);
    put_bytes(e, series::head(b), series::used_bytes(b));
}

[[gnu::noinline]] void encode_image(Encoder& e, const Cell* v) {
    stack::KeepTop keep;
    i32 w, h;
    const Cell* pixels = image_pixels(v, &w, &h);
    put_uint(e, u32(w));
    put_uint(e, u32(h));
    SeriesBuffer* b = node_buffer(pixels->w2);
    put_bytes(e, series::head(b), series::used_bytes(b));
}

[[gnu::noinline]] void encode_map(Encoder& e, u32 node) {
    i32 n = cell_total(node);
    u32 live = 0;
    for (i32 i = 0; i + 1 < n; i += 2) live += block::cell_at(node, i + 1)->header != 0;
    put_uint(e, 2 * live);
    for (i32 i = 0; i + 1 < n; i += 2) {
        if (block::cell_at(node, i + 1)->header == 0) continue;
        Cell pair[2] = {*block::cell_at(node, i), *block::cell_at(node, i + 1)};
        encode_value_cp(e, &pair[0]);
        pair[1] = *block::cell_at(node, i + 1);
        encode_value_cp(e, &pair[1]);
    }
}

// The records that go through the sharing step.
[[gnu::noinline]] void encode_shared(Encoder& e, const Cell* v, u32 t) {
    bool word = any_word_q(t) || t == TYPE_REFINEMENT;
    u32 key = word ? word_context(v) : t == TYPE_OBJECT || t == TYPE_FUNCTION ? v->w1 : v->w2;
    if (word && key == context::global) {
        put_type(e, t, false);
        put_uint(e, symbol_index(e, i32(v->w2)));
        return;
    }
    Share s = share(e, key);
    if (s.shared) put_byte(e, SHARED);
    u32 head = v->w1;
    bool has_head = t != TYPE_MAP && t != TYPE_BITSET && t != TYPE_OBJECT && t != TYPE_FUNCTION && !word;
    if (word) {
        put_type(e, t, true);
        put_uint(e, symbol_index(e, i32(v->w2)));
        put_int(e, i32(v->w3));
    } else if (t == TYPE_BITSET) {
        put_type(e, t, (node_buffer(v->w2)->flags & SERIES_COMPLEMENT) != 0);
    } else if (t == TYPE_OBJECT) {
        put_type(e, t, !s.shared && v->w3 != 0);
    } else {
        put_type(e, t, has_head && head != 0);
    }
    if (has_head && head) put_uint(e, head);
    if (!s.shared) {
        if (word) encode_owner(e, v, key);
        else if (any_block_q(t)) encode_cells(e, v->w2);
        else if (t == TYPE_IMAGE) encode_image(e, v);
        else if (t == TYPE_MAP) encode_map(e, v->w2);
        else if (t == TYPE_OBJECT) encode_object_body(e, v);
        else if (t == TYPE_FUNCTION) encode_function_body(e, v);
        else encode_bytes(e, v, t);
    }
    if (s.shared) put_path(e, s.path);
    close_share(e, s);
}

}  // namespace

namespace {

// Every record but those of the sharing step.
[[gnu::noinline]] void encode_other(Encoder& e, const Cell* value, u32 t) {
    Cell v = *value;
    switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE:
            put_type(e, t, false);
            break;
        case TYPE_DATATYPE:
            put_type(e, t, false);
            put_uint(e, v.w1);
            break;
        case TYPE_LOGIC:
            put_byte(e, v.w1 ? TRUE_ : FALSE_);
            break;
        case TYPE_INTEGER:
            if (i32(v.w2) >= 0 && i32(v.w2) < 64) {
                put_byte(e, u8(SMALL_INT + v.w2));
            } else {
                put_type(e, t, false);
                put_int(e, i32(v.w2));
            }
            break;
        case TYPE_CHAR:
            put_type(e, t, false);
            put_uint(e, v.w2);
            break;
        case TYPE_PAIR:
            put_type(e, t, false);
            put_int(e, i32(v.w2));
            put_int(e, i32(v.w3));
            break;
        case TYPE_POINT2D:
            put_type(e, t, false);
            put_u32(e, v.w1);
            put_u32(e, v.w2);
            break;
        case TYPE_POINT3D:
            put_type(e, t, false);
            put_u32(e, v.w1);
            put_u32(e, v.w2);
            put_u32(e, v.w3);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            encode_float(e, &v, t);
            break;
        case TYPE_DATE: {
            bool time = v.w1 & date::TIME_FLAG;
            put_type(e, t, time);
            put_u32(e, v.w1);
            if (time) {
                put_u32(e, v.w2);
                put_u32(e, v.w3);
            }
            break;
        }
        case TYPE_TYPESET: {
            u8 map[12];
            std::memcpy(map, &v.w1, 12);
            u8 n = 12;
            while (n > 0 && map[n - 1] == 0) n--;
            put_type(e, t, false);
            put_byte(e, n);
            put_bytes(e, map, n);
            break;
        }
        case TYPE_TUPLE: {
            u8 n = u8((v.header >> 19) & 0xF);
            if (n < 1 || n > 12) fire_no_codec(&v);
            put_type(e, t, n != 3);
            if (n != 3) put_byte(e, n);
            put_bytes(e, reinterpret_cast<const u8*>(&v.w1), n);
            break;
        }
        case TYPE_MONEY:
            put_type(e, t, money::get_sign(&v));
            put_bytes(e, reinterpret_cast<const u8*>(&v.w1), 12);
            break;
        case TYPE_ISSUE:
            put_type(e, t, false);
            put_uint(e, symbol_index(e, i32(v.w2)));
            break;
        case TYPE_ERROR:
            encode_error(e, &v);
            break;
        case TYPE_NATIVE:
        case TYPE_ACTION: {
            put_type(e, t, false);
            put_uint(e, v.w1);
            Cell spec;
            cell::init(&spec, TYPE_BLOCK);
            spec.w2 = v.w2;
            encode_value_cp(e, &spec);
            e.index--;   // the value and its spec count as one record
            break;
        }
        case TYPE_OP: {
            u32 source = (v.header >> 16) & 0xFF;
            if (source != TYPE_NATIVE && source != TYPE_ACTION && source != TYPE_FUNCTION) fire_no_codec(&v);
            put_type(e, t, false);
            Cell wrapped = v;
            wrapped.header = (v.header & ~(TYPE_MASK | (0xFFu << 16) | FLAG_NEW_LINE)) | source;
            encode_value_cp(e, &wrapped);
            e.index--;
            break;
        }
        default:
            fire_no_codec(&v);
    }
}

}  // namespace

void encode_value_cp(Encoder& e, const Cell* value) {
    EncodeDepth depth(e);
    if (value->header & FLAG_NEW_LINE) put_byte(e, NEW_LINE);
    u32 t = TYPE_OF(value);
    if (shared_type_q(t)) encode_shared(e, value, t);
    else encode_other(e, value, t);
    e.index++;
}

void encode_set_pair_cp(Encoder& e, const Cell* word, const Cell* value) {
    // The pair takes no root index: the decoder drops both from its target.
    u32 index = e.index;
    put_byte(e, SET);
    encode_value_cp(e, word);
    encode_value_cp(e, value);
    e.index = index;
}

// --- Reader --------------------------------------------------------------------

namespace {

struct In {
    Decoder& d;
    const u8* p;

    void need(i64 n) {
        if (d.end - p < n) fire_invalid(d, p);
    }
    u8 byte() {
        need(1);
        return *p++;
    }
    u32 uint() {
        u32 v = 0;
        for (int i = 0; i < 5; i++) {
            need(1);
            u8 b = *p++;
            if (i == 4 && b >= 0x10) fire_invalid(d, p);
            v |= u32(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        return v;   // not reached: the fifth byte has no continuation bit
    }
    // A varint that must be a non-negative 32-bit count.
    i64 count() {
        u32 v = uint();
        if (i32(v) < 0) fire_invalid(d, p);
        return v;
    }
    i32 int_() {
        u32 u = uint();
        return i32((u >> 1) ^ (0u - (u & 1)));
    }
    u32 u32_() {
        need(4);
        u32 v;
        std::memcpy(&v, p, 4);
        p += 4;
        return v;
    }
    const u8* bytes(i64 n) {
        if (n > room(d, p)) fire_invalid(d, p);
        const u8* at = p;
        p += n;
        return at;
    }
    i32 symbol() {
        const u8* at = p;
        return symbol_at(d, uint(), at);
    }
    void global_word(Cell* out, u32 type) {
        const u8* at = p;
        global_word_at(d, out, type, uint(), at);
    }
    void path(Cell* out) {
        const u8* at = p;
        u32 n = uint();
        if (n < 1 || n > MAX_PATH || i64(n) > d.end - p) fire_invalid(d, at);
        d.path.resize(n);
        for (u32 i = 0; i < n; i++) d.path[i] = uint();
        resolve_path(d, out, at);
    }
};

// Decodes `n` records into the block `into`, which must then hold exactly
// `before + n` cells.
[[gnu::noinline]] void decode_into(In& in, Cell* into, i64 n) {
    const u8* at = in.p;
    i32 before = cell_total(into->w2);
    in.d.pending += n * in.d.min_record;
    for (i64 i = 0; i < n; i++) {
        in.d.pending -= in.d.min_record;
        in.p = decode_value_cp(in.d, in.p, into);
    }
    if (cell_total(into->w2) != before + n) fire_invalid(in.d, at);
}

// The context body record: lead byte (id 14), flags, words, values. The
// context is made, `made` is called with it (the owner value is built and
// placed there, so that references inside the values can reach it), then
// the words and values are read.
template <typename Made>
u32 decode_context_body(In& in, u32 owner_type, bool lead_read, Made made) {
    const u8* at = in.p;
    if (!lead_read) {
        u8 lead = in.byte();
        if (lead >= 0x80 || (lead & 0x3F) != TYPE_CONTEXT) fire_invalid(in.d, at);
    }
    u8 flags = in.byte();
    i64 n = in.count();
    if (n > room(in.d, in.p) || (flags & ~0x1F)) fire_invalid(in.d, at);
    bool on_stack = flags & CTX_ON_STACK;
    collector::RootNode ctx(new_context(in.d, owner_type, flags & CTX_KIND, on_stack, flags & CTX_SELF, u32(n), at));
    made(u32(ctx));
    for (i64 i = 0; i < n; i++) add_context_word(ctx, in.symbol());
    check_word_count(in.d, ctx, u32(n), at);
    if ((flags & CTX_VALUES) && !on_stack) {
        stack::KeepTop keep;
        u32 values = context::cell_of(ctx)->w2;
        node_buffer(values)->tail = node_buffer(values)->offset;
        decode_into(in, block_target(values), n);
    }
    return ctx;
}

// object! record after its lead byte, not shared. Answers the object value.
Cell decode_object(In& in, bool on_set, Place* place, Cell* target, bool new_line, Place word) {
    stack::KeepTop keep;
    const u8* at = in.p;
    i32 class_id = in.int_();
    if (on_set) in.int_(), in.int_();   // the handlers are found again from the fields
    Cell* obj = push_unset();
    cell::init(obj, TYPE_UNSET);
    decode_context_body(in, TYPE_OBJECT, false, [&](u32 ctx) {
        make_object(in.d, obj, ctx, class_id);
        if (target) *place = append(target, obj, new_line);
        if (word.node) word.at()->w1 = ctx;
    });
    if (on_set) {
        install_handlers(in.d, obj, at);
        if (target) place->at()->w3 = obj->w3;
    }
    return *obj;
}

// A function's spec or body block record.
void decode_function_block(In& in, Cell* fn, bool body, Place place) {
    const u8* at = in.p;
    bool shared = false;
    for (;;) {
        u8 b = in.byte();
        if (b == NEW_LINE) continue;
        if (b == SHARED) {
            shared = true;
            continue;
        }
        if (b >= 0x80 || (b & 0x3F) != TYPE_BLOCK) fire_invalid(in.d, at);
        if (b & FLAG_F) in.count();
        break;
    }
    if (shared) {
        Cell t;
        in.path(&t);
        if (!shareable_q(TYPE_BLOCK, &t)) fire_invalid(in.d, at);
        if (body) {
            cell::init(function::record_cell(fn, function::RECORD_BODY), TYPE_BLOCK);
            function::record_cell(fn, function::RECORD_BODY)->w2 = t.w2;
        } else {
            fn->w2 = t.w2;
            *context::owner_of(fn->w1) = *fn;
            if (place.node) {
                Cell* c = place.at();
                c->w2 = t.w2;
            }
        }
        return;
    }
    i64 n = in.count();
    if (n > room(in.d, in.p)) fire_invalid(in.d, at);
    u32 node = body ? function::record_cell(fn, function::RECORD_BODY)->w2 : fn->w2;
    reserve_cells(node, n);
    stack::KeepTop keep;
    decode_into(in, block_target(node), n);
}

// function! record after its lead byte, not shared.
Cell decode_function(In& in, Place* place, Cell* target, bool new_line, Place word) {
    stack::KeepTop keep;
    const u8* at = in.p;
    i64 spec_cells = in.count();
    i64 body_cells = in.count();
    if (spec_cells > room(in.d, in.p) || body_cells > room(in.d, in.p)) fire_invalid(in.d, at);
    Cell* fn = push_unset();
    cell::init(fn, TYPE_UNSET);
    Place appended;
    decode_context_body(in, TYPE_FUNCTION, false, [&](u32 ctx) {
        make_function(fn, ctx);
        if (target) appended = *place = append(target, fn, new_line);
        if (word.node) word.at()->w1 = ctx;
    });
    decode_function_block(in, fn, false, appended);
    decode_function_block(in, fn, true, appended);
    finish_function(in.d, fn, appended.node, appended.index, at);
    return *fn;
}

// A word bound to a context other than the global one.
void decode_bound_word(In& in, u32 type, bool shared, Cell* target, bool new_line, const u8* at) {
    stack::KeepTop keep;
    i32 sym = in.symbol();
    if (in.d.boot) {
        // Bound by root index: the context of an earlier root value.
        u32 k = in.uint();
        i32 slot = in.int_();
        if (shared) fire_invalid(in.d, at);
        collector::RootCell w;
        cell::init(w.get(), type);
        w.get()->w2 = u32(sym);
        w.get()->w3 = u32(-1);
        i64 root = i64(in.d.root_base) + k;
        if (root >= cell_total(in.d.target->w2)) fire_invalid(in.d, at);
        Cell owner = *block::cell_at(in.d.target->w2, root);
        u32 ctx = context_of_target(in.d, &owner, at);
        if (slot == -1) {
            slot = context::find_word(ctx, sym, true);
            if (slot < 0) fire_invalid(in.d, at);
        }
        bind_word(in.d, w.get(), ctx, slot, at);
        append(target, w.get(), new_line);
        return;
    }
    i32 slot = in.int_();
    Cell* w = push_unset();
    cell::init(w, type);
    w->w2 = u32(sym);
    w->w3 = u32(-1);
    if (shared) {
        Cell t;
        in.path(&t);
        bind_word(in.d, w, context_of_target(in.d, &t, at), slot, at);
        append(target, w, new_line);
        return;
    }
    // The owner follows; the word is placed first, unresolved (slot -1), so
    // that references inside the owner reach its context through it.
    Place place = append(target, w, new_line);
    const u8* owner_at = in.p;
    u8 lead = in.byte();
    u32 id = lead & 0x3F;
    if (lead >= 0x80 || (id != TYPE_OBJECT && id != TYPE_FUNCTION)) fire_invalid(in.d, owner_at);
    Cell owner = id == TYPE_OBJECT ? decode_object(in, lead & FLAG_F, nullptr, nullptr, false, place)
                                   : decode_function(in, nullptr, nullptr, false, place);
    *w = *place.at();
    bind_word(in.d, w, owner.w1, slot, at);
    place.at()->w3 = w->w3;
}

void decode_native(In& in, u32 type, Cell* target, bool new_line, const u8* at) {
    stack::KeepTop keep;
    u32 slot = in.uint();
    check_native_slot(in.d, type, slot, at);
    Cell* spec = push_unset();
    make_cells(spec, TYPE_BLOCK, 1);
    decode_into(in, spec, 1);
    Cell* v = push_unset();
    make_native(in.d, v, type, slot, block::cell_at(spec->w2, 0), at);
    append(target, v, new_line);
}

void decode_error(In& in, Cell* target, bool new_line, const u8* at) {
    stack::KeepTop keep;
    u32 code = in.uint();
    Cell* err = push_unset();
    make_error(in.d, err, code, at);
    append(target, err, new_line);
    u32 values = context::cell_of(err->w1)->w2;
    Cell* files = stack::push(context::value_at(context::cell_of(err->w1), error::FIELD_FILES));
    SeriesBuffer* s = node_buffer(values);
    s->tail = s->offset + 16 * error::FIELD_ARG1;
    Cell* into = block_target(values);
    decode_into(in, into, error::FIELD_STACK - error::FIELD_ARG1 + 1);
    *memory::alloc_tail(into) = *files;
}

// Series records: block-likes, hash!, map!, text, binary!, vector!, bitset!, image!.
[[gnu::noinline]] void decode_series(In& in, u32 t, bool flag, bool shared, Cell* target, bool new_line, const u8* at) {
    stack::KeepTop keep;
    u32 head = 0;
    bool has_head = t != TYPE_MAP && t != TYPE_BITSET;
    if (has_head && flag) {
        i64 h = in.count();
        head = u32(h);
    }
    Cell* v = push_unset();
    cell::init(v, TYPE_UNSET);
    if (shared) {
        Cell target_value;
        in.path(&target_value);
        if (!shareable_q(t, &target_value)) fire_invalid(in.d, at);
        shared_series(v, t, &target_value, has_head ? head : target_value.w1);
        append(target, v, new_line);
        return;
    }
    if (any_block_q(t) || t == TYPE_MAP) {
        i64 n = in.count();
        if (n > room(in.d, in.p) || (t == TYPE_MAP && n % 2)) fire_invalid(in.d, at);
        make_cells(v, t, n);
        v->w1 = head;
        append(target, v, new_line);
        decode_into(in, v, n);
        if (t == TYPE_HASH || t == TYPE_MAP) index_cells(in.d, v, at);
        return;
    }
    if (any_text_q(t)) {
        i64 l = in.count();
        u32 unit = 1u << (l & 3);
        if ((l & 3) == 3) fire_invalid(in.d, at);
        i64 count = l >> 2;
        const u8* bytes = in.bytes(count * unit);
        make_text(in.d, v, t, bytes, count, unit, at);
    } else if (t == TYPE_BINARY) {
        i64 n = in.count();
        make_text(in.d, v, t, in.bytes(n), n, 1, at);
    } else if (t == TYPE_VECTOR) {
        u8 u = in.byte();
        i64 count = in.count();
        u32 size = 1u << (u & 3);
        make_vector(in.d, v, u >> 2, size, in.bytes(count * size), count, at);
    } else if (t == TYPE_BITSET) {
        i64 n = in.count();
        make_bitset(in.d, v, in.bytes(n), n, flag, at);
    } else {   // image!
        i64 w = in.count(), h = in.count();
        if (w > 0xFFFF || h > 0xFFFF) fire_invalid(in.d, at);
        make_image(in.d, v, w, h, in.bytes(w * h * 4), at);
    }
    v->w1 = head;
    append(target, v, new_line);
}

}  // namespace

namespace {

// Every typed record but the series ones, out of line: see encode_shared.
[[gnu::noinline]] const u8* decode_typed(In& in, u32 t, bool flag, bool shared, Cell* target, bool new_line,
                                          const u8* at) {
    Decoder& d = in.d;
    Cell v;
    switch (t) {
        case TYPE_DATATYPE:
            make_datatype(d, &v, in.uint(), at);
            break;
        case TYPE_UNSET:
        case TYPE_NONE:
            cell::init(&v, t);
            break;
        case TYPE_CHAR:
            make_char(d, &v, in.uint(), at);
            break;
        case TYPE_INTEGER:
            cell::init(&v, t);
            v.w2 = u32(in.int_());
            break;
        case TYPE_PAIR:
            cell::init(&v, t);
            v.w2 = u32(in.int_());
            v.w3 = u32(in.int_());
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            cell::init(&v, t);
            v.w1 = in.u32_();
            v.w2 = in.u32_();
            if (t == TYPE_POINT3D) v.w3 = in.u32_();
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            cell::init(&v, t);
            if (flag) {
                i32 n = in.int_();
                cell::set_float(&v, t == TYPE_PERCENT ? n / 100.0 : double(n));
            } else {
                v.w2 = in.u32_();
                v.w3 = in.u32_();
            }
            break;
        case TYPE_DATE: {
            u32 date = in.u32_();
            if (bool(date & date::TIME_FLAG) != flag) fire_invalid(d, at);
            u32 low = 0, high = 0;
            if (flag) low = in.u32_(), high = in.u32_();
            make_date(d, &v, date, high, low, at);
            break;
        }
        case TYPE_TYPESET: {
            u8 n = in.byte();
            if (n > 12 || n > room(d, in.p)) fire_invalid(d, at);
            cell::init(&v, t);
            std::memcpy(&v.w1, in.bytes(n), n);
            break;
        }
        case TYPE_TUPLE: {
            u8 n = flag ? in.byte() : 3;
            if (n < 3 || n > 12 || n > room(d, in.p)) fire_invalid(d, at);
            cell::init(&v, t);
            v.header |= u32(n) << 19;
            std::memcpy(&v.w1, in.bytes(n), n);
            break;
        }
        case TYPE_MONEY:
            if (room(d, in.p) < 12) fire_invalid(d, at);
            make_money(d, &v, in.bytes(12), flag, at);
            break;
        case TYPE_ISSUE: {
            i32 sym = in.symbol();
            std::string spelling(symbol::spelling(sym));
            cell::init(&v, TYPE_UNSET);
            collector::RootCell out(v);
            issue::make_at(out.get(), spelling);
            append(target, out.get(), new_line);
            return in.p;
        }
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
            if (flag) {
                decode_bound_word(in, t, shared, target, new_line, at);
            } else {
                if (shared) fire_invalid(d, at);
                // A global word holds nothing the collector could take.
                Cell w;
                in.global_word(&w, t);
                append(target, &w, new_line);
            }
            return in.p;
        case TYPE_CONTEXT: {
            stack::KeepTop keep;
            Cell* obj = push_unset();
            cell::init(obj, TYPE_UNSET);
            decode_context_body(in, TYPE_CONTEXT, true, [&](u32 ctx) {
                make_object(d, obj, ctx, -1);
                append(target, obj, new_line);
            });
            return in.p;
        }
        case TYPE_OBJECT:
        case TYPE_FUNCTION: {
            if (shared) {
                Cell tv;
                in.path(&tv);
                v = shared_owner(d, &tv, t, at);
                break;
            }
            Place place;
            if (t == TYPE_OBJECT) decode_object(in, flag, &place, target, new_line, Place{});
            else decode_function(in, &place, target, new_line, Place{});
            return in.p;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION:
            decode_native(in, t, target, new_line, at);
            return in.p;
        case TYPE_OP: {
            i32 before = cell_total(target->w2);
            in.p = decode_value_cp(d, in.p, target);
            if (cell_total(target->w2) != before + 1) fire_invalid(d, at);
            Cell* c = block::cell_at(target->w2, before);
            make_op(d, c, at);
            if (new_line) c->header |= FLAG_NEW_LINE;
            return in.p;
        }
        case TYPE_ERROR:
            decode_error(in, target, new_line, at);
            return in.p;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH:
        case TYPE_HASH:
        case TYPE_MAP:
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
        case TYPE_BINARY:
        case TYPE_VECTOR:
        case TYPE_BITSET:
        case TYPE_IMAGE:
            decode_series(in, t, flag, shared, target, new_line, at);
            return in.p;
        case TYPE_ROUTINE:
        case TYPE_TRIPLE:
        case TYPE_HANDLE:
        case TYPE_PORT:
        case TYPE_EVENT: {
            Cell type;
            datatype::make_at(&type, t);
            fire(ERR_ACCESS, "no-codec", &type);
        }
        default:
            fire_invalid(d, at);
    }
    append(target, &v, new_line);
    return in.p;
}

}  // namespace


const u8* decode_value_cp(Decoder& d, const u8* p, Cell* target) {
    DecodeDepth depth(d, p);
    In in{d, p};
    bool new_line = false, shared = false, set = false;
    for (;;) {
        in.need(1);
        u8 b = *in.p;
        if (b == NEW_LINE) new_line = true;
        else if (b == SHARED) shared = true;
        else if (b == SET) {
            if (!d.boot) fire_invalid(d, in.p + 1);
            set = true;
        } else break;
        in.p++;
    }
    const u8* at = in.p;
    u8 lead = *in.p++;
    if (lead >= 0x80) {
        Cell v;
        if (shared || set) fire_invalid(d, at);
        if (lead < TRUE_) {
            cell::init(&v, TYPE_INTEGER);
            v.w2 = u32(lead - SMALL_INT);
        } else if (lead == TRUE_ || lead == FALSE_) {
            cell::init(&v, TYPE_LOGIC);
            v.w1 = lead == TRUE_;
        } else if (lead == COPY) {
            in.path(&v);
        } else {
            fire_invalid(d, at);
        }
        append(target, &v, new_line);
        return in.p;
    }
    bool flag = lead & FLAG_F;
    u32 t = lead & 0x3F;
    if (t == EXTENDED_ID) t = in.uint();
    if (t == 0 || t > TYPE_EVENT) fire_invalid(d, at);
    if (set) {
        // A word of the global context and the value it is given. Neither
        // stays in the target: the tail goes back to the word's cell.
        if (t != TYPE_SET_WORD || flag || shared) fire_invalid(d, at);
        Cell w;
        in.global_word(&w, t);
        u32 node = target->w2;
        i64 word_at = cell_total(node);
        append(target, &w, new_line);
        in.p = decode_value_cp(d, in.p, target);
        if (cell_total(node) <= word_at + 1) fire_invalid(d, at);
        Cell value = *block::cell_at(node, word_at + 1);
        context::set(&w, &value);
        SeriesBuffer* b = node_buffer(node);
        b->tail = b->offset + u32(word_at * 16);
        return in.p;
    }
    if (shared && !shared_type_q(t)) fire_invalid(d, at);
    if (any_block_q(t) || any_text_q(t) || t == TYPE_MAP || t == TYPE_BINARY || t == TYPE_VECTOR ||
        t == TYPE_BITSET || t == TYPE_IMAGE) {
        decode_series(in, t, flag, shared, target, new_line, at);
        return in.p;
    }
    return decode_typed(in, t, flag, shared, target, new_line, at);
}

}  // namespace zirbin
}  // namespace zir
