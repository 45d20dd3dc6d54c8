// ZIRBIN fixed-width records: every field a 32-bit little-endian word; the
// writer and the reader. It carries the same values as the compact form,
// with the same sharing and reference paths; only the layout differs.
//
// Header word: bits 0..7 the datatype id (0 a padding word, 255 a reference
// record), 8..15 the unit of text, binary! and vector! data or a tuple's
// length, 16..23 an op!'s wrapped datatype, 19 shared (a reference record
// follows the leading words), 22 money! negative, 23 bitset! complemented, 24
// an object's handler indexes follow, 25 a word of the global context, 26..30
// a context body's kind, self, values-on-stack and values-written bits, 31
// the new-line flag.
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

constexpr u32 ID_MASK = 0xFF;
constexpr u32 ID_PADDING = 0;
constexpr u32 ID_REFERENCE = 255;
constexpr u32 UNIT_SHIFT = 8;
constexpr u32 OP_SHIFT = 16;
constexpr u32 SHARED = 1u << 19;
constexpr u32 MONEY_NEGATIVE = 1u << 22;
constexpr u32 COMPLEMENT = 1u << 23;
constexpr u32 ON_SET = 1u << 24;
constexpr u32 GLOBAL = 1u << 25;
constexpr u32 CTX_KIND_SHIFT = 26;
constexpr u32 CTX_SELF = 1u << 28;
constexpr u32 CTX_ON_STACK = 1u << 29;
constexpr u32 CTX_VALUES = 1u << 30;
constexpr u32 NEW_LINE = 1u << 31;

bool shared_type_q(u32 t) {
    return any_block_q(t) || any_text_q(t) || any_word_q(t) || t == TYPE_REFINEMENT || t == TYPE_BINARY ||
           t == TYPE_VECTOR || t == TYPE_BITSET || t == TYPE_IMAGE || t == TYPE_MAP || t == TYPE_OBJECT ||
           t == TYPE_FUNCTION;
}

// --- Writers -------------------------------------------------------------------

inline void put(Encoder& e, u32 v) {
    u8 b[4];
    std::memcpy(b, &v, 4);
    e.out.insert(e.out.end(), b, b + 4);
}

void put_data(Encoder& e, const u8* p, size_t n) {
    e.out.insert(e.out.end(), p, p + n);
    while (e.out.size() % 4) e.out.push_back(0);
}

void put_reference(Encoder& e, u32 at) {
    u32 n = e.paths[at];
    put(e, ID_REFERENCE);
    put(e, n);
    for (u32 i = 1; i <= n; i++) put(e, e.paths[at + i]);
}

void encode_context_body(Encoder& e, u32 ctx) {
    const Cell* c = context::cell_of(ctx);
    u32 header = c->header;
    bool on_stack = header & context::ON_STACK;
    i32 n = context::word_count(c);
    bool values = false;
    if (!on_stack)
        for (i32 i = 0; i < n && !values; i++) values = TYPE_OF(context::value_at(context::cell_of(ctx), i)) != TYPE_UNSET;
    put(e, TYPE_CONTEXT | (context::kind_of(c) << CTX_KIND_SHIFT) | (header & context::HAS_SELF ? CTX_SELF : 0) |
               (on_stack ? CTX_ON_STACK : 0) | (values ? CTX_VALUES : 0));
    put(e, u32(n));
    for (i32 i = 0; i < n; i++) put(e, symbol_index(e, i32(context::word_at(context::cell_of(ctx), i)->w2)));
    if (!values) return;
    for (i32 i = 0; i < n; i++) {
        Cell value = *context::value_at(context::cell_of(ctx), i);
        encode_value_fixed(e, &value);
    }
}

i32 handler_index(const Cell* object, i32 which) {
    u32 index = (series::head_cells(node_buffer(object->w3)) + which)->w2 >> 16;
    return index == 0xFFFF ? -1 : i32(index);
}

void encode_object_record(Encoder& e, const Cell* object, u32 nl) {
    put(e, TYPE_OBJECT | nl | (object->w3 ? ON_SET : 0));
    put(e, object->w2);
    if (object->w3) {
        put(e, u32(handler_index(object, object::ON_CHANGE)));
        put(e, u32(handler_index(object, object::ON_DEEP_CHANGE)));
    }
    encode_context_body(e, object->w1);
}

void encode_function_record(Encoder& e, const Cell* fn, u32 nl) {
    Cell body = *function::record_cell(fn, function::RECORD_BODY);
    if (TYPE_OF(&body) != TYPE_BLOCK) fire_no_codec(fn);
    put(e, TYPE_FUNCTION | nl);
    put(e, u32(cell_total(fn->w2)));
    put(e, u32(cell_total(body.w2)));
    encode_context_body(e, fn->w1);
    u32 saved = e.index;
    Cell block;
    cell::init(&block, TYPE_BLOCK);
    block.w2 = fn->w2;
    e.index = 0;
    encode_value_fixed(e, &block);
    cell::init(&block, TYPE_BLOCK);
    block.w2 = body.w2;
    e.index = 1;
    encode_value_fixed(e, &block);
    e.index = saved;
}

[[gnu::noinline]] void encode_cells(Encoder& e, u32 node) {
    i32 n = cell_total(node);
    put(e, u32(n));
    for (i32 i = 0; i < n; i++) {
        Cell item = *block::cell_at(node, i);
        encode_value_fixed(e, &item);
    }
}

[[gnu::noinline]] void encode_owner(Encoder& e, const Cell* word, u32 ctx) {
    Cell owner = *context::owner_of(ctx);
    if (TYPE_OF(&owner) == TYPE_OBJECT) encode_object_record(e, &owner, 0);
    else if (TYPE_OF(&owner) == TYPE_FUNCTION) encode_function_record(e, &owner, 0);
    else fire_no_codec(word);
}

[[gnu::noinline]] void encode_image(Encoder& e, const Cell* v) {
    stack::KeepTop keep;
    i32 w, h;
    const Cell* pixels = image_pixels(v, &w, &h);
    put(e, u32(w) | (u32(h) << 16));
    SeriesBuffer* b = node_buffer(pixels->w2);
    put_data(e, series::head(b), series::used_bytes(b));
}

[[gnu::noinline]] void encode_map(Encoder& e, u32 node) {
    i32 n = cell_total(node);
    u32 live = 0;
    for (i32 i = 0; i + 1 < n; i += 2) live += block::cell_at(node, i + 1)->header != 0;
    put(e, 2 * live);
    for (i32 i = 0; i + 1 < n; i += 2) {
        if (block::cell_at(node, i + 1)->header == 0) continue;
        Cell pair[2] = {*block::cell_at(node, i), *block::cell_at(node, i + 1)};
        encode_value_fixed(e, &pair[0]);
        pair[1] = *block::cell_at(node, i + 1);
        encode_value_fixed(e, &pair[1]);
    }
}

// Records of the sharing step; the kinds that recurse are out of line, so
// that deep values take little stack per level.
[[gnu::noinline]] void encode_shared(Encoder& e, const Cell* v, u32 t, u32 nl) {
    bool word = any_word_q(t) || t == TYPE_REFINEMENT;
    u32 key = word || t == TYPE_OBJECT || t == TYPE_FUNCTION ? v->w1 : v->w2;
    if (word) {
        key = word_context(v);
        if (key == context::global) {
            put(e, t | nl | GLOBAL);
            put(e, symbol_index(e, i32(v->w2)));
            put(e, v->w3);
            return;
        }
    }
    Share s = share(e, key);
    u32 shared = s.shared ? SHARED : 0;
    u32 head = v->w1;
    if (word) {
        put(e, t | nl | shared);
        put(e, symbol_index(e, i32(v->w2)));
        put(e, v->w3);
        if (!s.shared) encode_owner(e, v, key);
    } else if (any_block_q(t)) {
        put(e, t | nl | shared);
        put(e, head);
        if (!s.shared) encode_cells(e, v->w2);
    } else if (any_text_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR) {
        SeriesBuffer* b = node_buffer(v->w2);
        put(e, t | nl | shared | (series::unit_of(b) << UNIT_SHIFT));
        put(e, head);
        if (!s.shared) {
            put(e, u32(series::length_of(b)));
            if (t == TYPE_VECTOR) put(e, v->w3);
            b = node_buffer(v->w2);
            put_data(e, series::head(b), series::used_bytes(b));
        }
    } else if (t == TYPE_BITSET) {
        SeriesBuffer* b = node_buffer(v->w2);
        put(e, t | nl | shared | (b->flags & SERIES_COMPLEMENT ? COMPLEMENT : 0));
        if (!s.shared) {
            put(e, series::used_bytes(b));
            b = node_buffer(v->w2);
            put_data(e, series::head(b), series::used_bytes(b));
        }
    } else if (t == TYPE_IMAGE) {
        put(e, t | nl | shared);
        put(e, head);
        if (!s.shared) encode_image(e, v);
    } else if (t == TYPE_MAP) {
        put(e, t | nl | shared);
        if (!s.shared) encode_map(e, v->w2);
    } else if (t == TYPE_OBJECT) {
        if (s.shared) put(e, t | nl | shared);
        else encode_object_record(e, v, nl);
    } else {   // function!
        if (s.shared) put(e, t | nl | shared);
        else encode_function_record(e, v, nl);
    }
    if (s.shared) put_reference(e, s.path);
    close_share(e, s);
}

}  // namespace

namespace {

// An error's fields nest through here: kept apart from encode_other, whose
// frame is large, so that the nesting limit is met before the machine
// stack's.
[[gnu::noinline]] void encode_error(Encoder& e, const Cell* value, u32 nl) {
    const Cell v = *value;
    const Cell* code = error::field(&v, error::FIELD_CODE);
    if (TYPE_OF(code) != TYPE_INTEGER) fire_no_codec(&v);
    u32 c = code->w2;
    Share s = open_level(e, v.w1);
    put(e, TYPE_ERROR | nl);
    put(e, c);
    for (i32 i = error::FIELD_ARG1; i <= error::FIELD_STACK; i++) {
        Cell field = *error::field(&v, i);
        encode_value_fixed(e, &field);
    }
    close_share(e, s);
}

[[gnu::noinline]] void encode_other(Encoder& e, const Cell* value, u32 t, u32 nl) {
    Cell v = *value;
    switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE:
            put(e, t | nl);
            break;
        case TYPE_DATATYPE:
        case TYPE_LOGIC:
            put(e, t | nl);
            put(e, v.w1);
            break;
        case TYPE_CHAR:
        case TYPE_INTEGER:
            put(e, t | nl);
            put(e, v.w2);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            if (e.out.size() % 8) put(e, ID_PADDING);
            put(e, t | nl);
            put(e, v.w3);
            put(e, v.w2);
            break;
        case TYPE_PAIR:
            put(e, t | nl);
            put(e, v.w2);
            put(e, v.w3);
            break;
        case TYPE_POINT2D:
            put(e, t | nl);
            put(e, v.w1);
            put(e, v.w2);
            break;
        case TYPE_POINT3D:
        case TYPE_TYPESET:
            put(e, t | nl);
            put(e, v.w1);
            put(e, v.w2);
            put(e, v.w3);
            break;
        case TYPE_TUPLE: {
            u32 n = (v.header >> 19) & 0xF;
            if (n < 1 || n > 12) fire_no_codec(&v);
            put(e, t | nl | (n << UNIT_SHIFT));
            put(e, v.w1);
            put(e, v.w2);
            put(e, v.w3);
            break;
        }
        case TYPE_MONEY:
            put(e, t | nl | (money::get_sign(&v) ? MONEY_NEGATIVE : 0));
            put(e, v.w1);
            put(e, v.w2);
            put(e, v.w3);
            break;
        case TYPE_DATE:
            put(e, t | nl);
            put(e, v.w1);
            put(e, v.w3);
            put(e, v.w2);
            break;
        case TYPE_ISSUE:
            put(e, t | nl);
            put(e, symbol_index(e, i32(v.w2)));
            break;
        case TYPE_NATIVE:
        case TYPE_ACTION: {
            put(e, t | nl);
            put(e, v.w1);
            Cell spec;
            cell::init(&spec, TYPE_BLOCK);
            spec.w2 = v.w2;
            encode_value_fixed(e, &spec);
            e.index--;
            break;
        }
        case TYPE_OP: {
            u32 source = (v.header >> 16) & 0xFF;
            if (source != TYPE_NATIVE && source != TYPE_ACTION && source != TYPE_FUNCTION) fire_no_codec(&v);
            put(e, t | nl | (source << OP_SHIFT));
            Cell wrapped = v;
            wrapped.header = (v.header & ~(TYPE_MASK | (0xFFu << 16) | FLAG_NEW_LINE)) | source;
            encode_value_fixed(e, &wrapped);
            e.index--;
            break;
        }
        default:
            fire_no_codec(&v);
    }
}

}  // namespace

void encode_value_fixed(Encoder& e, const Cell* value) {
    EncodeDepth depth(e);
    u32 t = TYPE_OF(value);
    u32 nl = value->header & FLAG_NEW_LINE ? NEW_LINE : 0;
    if (shared_type_q(t)) encode_shared(e, value, t, nl);
    else if (t == TYPE_ERROR) encode_error(e, value, nl);
    else encode_other(e, value, t, nl);
    e.index++;
}

// --- Reader --------------------------------------------------------------------

namespace {

struct In {
    Decoder& d;
    const u8* p;

    void need(i64 n) {
        if (d.end - p < n) fire_invalid(d, p);
    }
    u32 word() {
        need(4);
        u32 v;
        std::memcpy(&v, p, 4);
        p += 4;
        return v;
    }
    // A word that must be a non-negative 32-bit count.
    i64 count() {
        const u8* at = p;
        u32 v = word();
        if (i32(v) < 0) fire_invalid(d, at);
        return v;
    }
    // n bytes of data, then zero bytes up to the next word.
    const u8* data(i64 n) {
        if (n > room(d, p)) fire_invalid(d, p);
        const u8* at = p;
        i64 padded = ((p + n - d.records) + 3) / 4 * 4;
        if (padded > d.end - d.records) fire_invalid(d, p);
        p = d.records + padded;
        return at;
    }
    i32 symbol() {
        const u8* at = p;
        return symbol_at(d, word(), at);
    }
    // A reference record: 255, n, n indexes.
    void reference(Cell* out) {
        const u8* at = p;
        need(8);
        if ((word() & ID_MASK) != ID_REFERENCE) fire_invalid(d, at);
        u32 n = word();
        if (n < 1 || n > MAX_PATH || i64(n) > (d.end - p) / 4) fire_invalid(d, at);
        d.path.resize(n);
        for (u32 i = 0; i < n; i++) d.path[i] = word();
        resolve_path(d, out, at);
    }
};

[[gnu::noinline]] void decode_into(In& in, Cell* into, i64 n) {
    const u8* at = in.p;
    i32 before = cell_total(into->w2);
    in.d.pending += n * in.d.min_record;
    for (i64 i = 0; i < n; i++) {
        in.d.pending -= in.d.min_record;
        in.p = decode_value_fixed(in.d, in.p, into);
    }
    if (cell_total(into->w2) != before + n) fire_invalid(in.d, at);
}

// The context body record (its header read here unless given).
template <typename Made>
u32 decode_context_body(In& in, u32 owner_type, const u32* header_given, Made made) {
    const u8* at = header_given ? in.p - 4 : in.p;
    u32 h = header_given ? *header_given : in.word();
    if ((h & ID_MASK) != TYPE_CONTEXT || (h & 0x3FFFF00)) fire_invalid(in.d, at);
    i64 n = in.count();
    if (n * 4 > room(in.d, in.p)) fire_invalid(in.d, at);
    bool on_stack = h & CTX_ON_STACK;
    collector::RootNode ctx(
        new_context(in.d, owner_type, (h >> CTX_KIND_SHIFT) & 3, on_stack, h & CTX_SELF, u32(n), at));
    made(u32(ctx));
    for (i64 i = 0; i < n; i++) add_context_word(ctx, in.symbol());
    check_word_count(in.d, ctx, u32(n), at);
    if ((h & CTX_VALUES) && !on_stack) {
        stack::KeepTop keep;
        u32 values = context::cell_of(ctx)->w2;
        node_buffer(values)->tail = node_buffer(values)->offset;
        decode_into(in, block_target(values), n);
    }
    return ctx;
}

// object! record after its header, not shared.
Cell decode_object(In& in, u32 h, Place* place, Cell* target, bool new_line, Place word) {
    stack::KeepTop keep;
    const u8* at = in.p - 4;
    i32 class_id = i32(in.word());
    bool on_set = h & ON_SET;
    if (on_set) in.word(), in.word();
    Cell* obj = push_unset();
    cell::init(obj, TYPE_UNSET);
    decode_context_body(in, TYPE_OBJECT, nullptr, [&](u32 ctx) {
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

void decode_function_block(In& in, Cell* fn, bool body, Place place) {
    const u8* at = in.p;
    u32 h = in.word();
    if ((h & ID_MASK) != TYPE_BLOCK) fire_invalid(in.d, at);
    in.word();   // the head: a function's blocks are read from their first cell
    if (h & SHARED) {
        Cell t;
        in.reference(&t);
        if (!shareable_q(TYPE_BLOCK, &t)) fire_invalid(in.d, at);
        if (body) {
            cell::init(function::record_cell(fn, function::RECORD_BODY), TYPE_BLOCK);
            function::record_cell(fn, function::RECORD_BODY)->w2 = t.w2;
        } else {
            fn->w2 = t.w2;
            *context::owner_of(fn->w1) = *fn;
            if (place.node) place.at()->w2 = t.w2;
        }
        return;
    }
    i64 n = in.count();
    if (n * 4 > room(in.d, in.p)) fire_invalid(in.d, at);
    u32 node = body ? function::record_cell(fn, function::RECORD_BODY)->w2 : fn->w2;
    reserve_cells(node, n);
    stack::KeepTop keep;
    decode_into(in, block_target(node), n);
}

Cell decode_function(In& in, Place* place, Cell* target, bool new_line, Place word) {
    stack::KeepTop keep;
    const u8* at = in.p - 4;
    i64 spec_cells = in.count();
    i64 body_cells = in.count();
    if (spec_cells * 4 > room(in.d, in.p) || body_cells * 4 > room(in.d, in.p)) fire_invalid(in.d, at);
    Cell* fn = push_unset();
    cell::init(fn, TYPE_UNSET);
    Place appended;
    decode_context_body(in, TYPE_FUNCTION, nullptr, [&](u32 ctx) {
        make_function(fn, ctx);
        if (target) appended = *place = append(target, fn, new_line);
        if (word.node) word.at()->w1 = ctx;
    });
    decode_function_block(in, fn, false, appended);
    decode_function_block(in, fn, true, appended);
    finish_function(in.d, fn, appended.node, appended.index, at);
    return *fn;
}

void decode_word(In& in, u32 h, Cell* target, bool new_line, const u8* at) {
    stack::KeepTop keep;
    u32 t = h & ID_MASK;
    i32 sym = in.symbol();
    i32 slot = i32(in.word());
    if (in.d.boot) fire(ERR_INTERNAL, "not-done");   // words bound by root index: the boot step
    Cell* w = push_unset();
    if (h & GLOBAL) {
        if (h & SHARED) fire_invalid(in.d, at);
        make_global_word(w, t, sym);
        append(target, w, new_line);
        return;
    }
    cell::init(w, t);
    w->w2 = u32(sym);
    w->w3 = u32(-1);
    if (h & SHARED) {
        Cell tv;
        in.reference(&tv);
        bind_word(in.d, w, context_of_target(in.d, &tv, at), slot, at);
        append(target, w, new_line);
        return;
    }
    Place place = append(target, w, new_line);
    const u8* owner_at = in.p;
    u32 oh = in.word();
    u32 id = oh & ID_MASK;
    if ((id != TYPE_OBJECT && id != TYPE_FUNCTION) || (oh & SHARED)) fire_invalid(in.d, owner_at);
    Cell owner = id == TYPE_OBJECT ? decode_object(in, oh, nullptr, nullptr, false, place)
                                   : decode_function(in, nullptr, nullptr, false, place);
    *w = *place.at();
    bind_word(in.d, w, owner.w1, slot, at);
    place.at()->w3 = w->w3;
}

[[gnu::noinline]] void decode_series(In& in, u32 h, Cell* target, bool new_line, const u8* at) {
    stack::KeepTop keep;
    u32 t = h & ID_MASK;
    bool has_head = t != TYPE_MAP && t != TYPE_BITSET;
    u32 head = has_head ? u32(in.count()) : 0;
    Cell* v = push_unset();
    cell::init(v, TYPE_UNSET);
    if (h & SHARED) {
        Cell tv;
        in.reference(&tv);
        if (!shareable_q(t, &tv)) fire_invalid(in.d, at);
        shared_series(v, t, &tv, has_head ? head : tv.w1);
        append(target, v, new_line);
        return;
    }
    if (any_block_q(t) || t == TYPE_MAP) {
        i64 n = in.count();
        if (n * 4 > room(in.d, in.p) || (t == TYPE_MAP && n % 2)) fire_invalid(in.d, at);
        make_cells(v, t, n);
        v->w1 = head;
        append(target, v, new_line);
        decode_into(in, v, n);
        if (t == TYPE_HASH || t == TYPE_MAP) index_cells(in.d, v, at);
        return;
    }
    u32 unit = (h >> UNIT_SHIFT) & 0xFF;
    if (any_text_q(t) || t == TYPE_BINARY) {
        if (unit != 1 && (t == TYPE_BINARY || (unit != 2 && unit != 4))) fire_invalid(in.d, at);
        i64 count = in.count();
        make_text(in.d, v, t, in.data(count * unit), count, unit, at);
    } else if (t == TYPE_VECTOR) {
        i64 count = in.count();
        u32 elem = in.word();
        make_vector(in.d, v, elem, unit, in.data(count * unit), count, at);
    } else if (t == TYPE_BITSET) {
        i64 n = in.count();
        make_bitset(in.d, v, in.data(n), n, h & COMPLEMENT, at);
    } else {   // image!
        u32 size = in.word();
        i64 w = size & 0xFFFF, hgt = size >> 16;
        make_image(in.d, v, w, hgt, in.data(w * hgt * 4), at);
    }
    v->w1 = head;
    append(target, v, new_line);
}

void decode_native(In& in, u32 t, Cell* target, bool new_line, const u8* at) {
    stack::KeepTop keep;
    u32 slot = in.word();
    if (in.d.boot) fire(ERR_INTERNAL, "not-done");   // specs kept in the root block: the boot step
    check_native_slot(in.d, t, slot, at);
    Cell* spec = push_unset();
    make_cells(spec, TYPE_BLOCK, 1);
    decode_into(in, spec, 1);
    Cell* v = push_unset();
    make_native(in.d, v, t, slot, block::cell_at(spec->w2, 0), at);
    append(target, v, new_line);
}

void decode_error(In& in, Cell* target, bool new_line, const u8* at) {
    stack::KeepTop keep;
    u32 code = in.word();
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

}  // namespace

namespace {

[[gnu::noinline]] const u8* decode_typed(In& in, u32 h, Cell* target, bool new_line, const u8* at) {
    Decoder& d = in.d;
    u32 t = h & ID_MASK;
    Cell v;
    switch (t) {
        case TYPE_DATATYPE:
            make_datatype(d, &v, in.word(), at);
            break;
        case TYPE_UNSET:
        case TYPE_NONE:
            cell::init(&v, t);
            break;
        case TYPE_LOGIC:
            cell::init(&v, t);
            v.w1 = in.word() != 0;
            break;
        case TYPE_CHAR:
            make_char(d, &v, in.word(), at);
            break;
        case TYPE_INTEGER:
            cell::init(&v, t);
            v.w2 = in.word();
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            cell::init(&v, t);
            v.w3 = in.word();
            v.w2 = in.word();
            break;
        case TYPE_PAIR:
            cell::init(&v, t);
            v.w2 = in.word();
            v.w3 = in.word();
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
        case TYPE_TYPESET:
            cell::init(&v, t);
            v.w1 = in.word();
            v.w2 = in.word();
            if (t != TYPE_POINT2D) v.w3 = in.word();
            break;
        case TYPE_TUPLE: {
            u32 n = (h >> UNIT_SHIFT) & 0xFF;
            if (n < 3 || n > 12) fire_invalid(d, at);
            cell::init(&v, t);
            v.w1 = in.word();
            v.w2 = in.word();
            v.w3 = in.word();
            u8* bytes = reinterpret_cast<u8*>(&v.w1);
            std::memset(bytes + n, 0, 12 - n);
            v.header |= n << 19;
            break;
        }
        case TYPE_MONEY: {
            u8 bytes[12];
            for (int i = 0; i < 3; i++) {
                u32 w = in.word();
                std::memcpy(bytes + 4 * i, &w, 4);
            }
            make_money(d, &v, bytes, h & MONEY_NEGATIVE, at);
            break;
        }
        case TYPE_DATE: {
            u32 date = in.word();
            u32 high = in.word(), low = in.word();
            make_date(d, &v, date, high, low, at);
            break;
        }
        case TYPE_ISSUE: {
            i32 sym = in.symbol();
            std::string spelling(symbol::spelling(sym));
            collector::RootCell out;
            issue::make_at(out.get(), spelling);
            append(target, out.get(), new_line);
            return in.p;
        }
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
            decode_word(in, h, target, new_line, at);
            return in.p;
        case TYPE_CONTEXT: {
            stack::KeepTop keep;
            Cell* obj = push_unset();
            cell::init(obj, TYPE_UNSET);
            decode_context_body(in, TYPE_CONTEXT, &h, [&](u32 ctx) {
                make_object(d, obj, ctx, -1);
                append(target, obj, new_line);
            });
            return in.p;
        }
        case TYPE_OBJECT:
        case TYPE_FUNCTION: {
            if (h & SHARED) {
                Cell tv;
                in.reference(&tv);
                v = shared_owner(d, &tv, t, at);
                break;
            }
            Place place;
            if (t == TYPE_OBJECT) decode_object(in, h, &place, target, new_line, Place{});
            else decode_function(in, &place, target, new_line, Place{});
            return in.p;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION:
            decode_native(in, t, target, new_line, at);
            return in.p;
        case TYPE_OP: {
            i32 before = cell_total(target->w2);
            in.p = decode_value_fixed(d, in.p, target);
            if (cell_total(target->w2) != before + 1) fire_invalid(d, at);
            Cell* c = block::cell_at(target->w2, before);
            if (TYPE_OF(c) != ((h >> OP_SHIFT) & 0xFF)) fire_invalid(d, at);
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
            decode_series(in, h, target, new_line, at);
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

const u8* decode_value_fixed(Decoder& d, const u8* p, Cell* target) {
    DecodeDepth depth(d, p);
    In in{d, p};
    u32 h;
    const u8* at;
    do {   // padding words stand for nothing: the next record takes their place
        at = in.p;
        h = in.word();
    } while ((h & ID_MASK) == ID_PADDING);
    u32 t = h & ID_MASK;
    bool new_line = h & NEW_LINE;
    if (t == ID_REFERENCE) {
        Cell v;
        in.p = at;
        in.reference(&v);
        append(target, &v, new_line);
        return in.p;
    }
    if (t > TYPE_EVENT) fire_invalid(d, at);
    // An op!'s wrapped datatype fills bits 16..23, over the shared bit.
    if ((h & SHARED) && !shared_type_q(t) && t != TYPE_OP) fire_invalid(d, at);
    if (any_block_q(t) || any_text_q(t) || t == TYPE_MAP || t == TYPE_BINARY || t == TYPE_VECTOR ||
        t == TYPE_BITSET || t == TYPE_IMAGE) {
        decode_series(in, h, target, new_line, at);
        return in.p;
    }
    return decode_typed(in, h, target, new_line, at);
}

}  // namespace zirbin
}  // namespace zir
