// string!: see string.hpp.
#include "datatypes/string.hpp"

#include "runtime/fault.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace string {

namespace {

inline void put_char(u8* p, u32 unit, u32 cp) {
    switch (unit) {
        case 1: *p = u8(cp); break;
        case 2: p[0] = u8(cp); p[1] = u8(cp >> 8); break;
        default: std::memcpy(p, &cp, 4); break;
    }
}

// Widens so that `cp` fits, following the writers' thresholds: a unit-1
// buffer keeps 0..`keep1`, a unit-2 buffer 0..0xFFFF.
SeriesBuffer* widen_for(SeriesBuffer* s, u32 cp, u32 keep1) {
    u32 unit = series::unit_of(s);
    if (unit == 1 && cp > keep1) return cp <= 0xFFFF ? unicode::widen_1_to_2(s) : unicode::widen_1_to_4(s);
    if (unit == 2 && cp > 0xFFFF) return unicode::widen_2_to_4(s);
    return s;
}

}  // namespace

void make_at(Cell* c, i64 size, u32 unit) {
    u32 node = memory::alloc_codepoints(size, unit);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_UNSET;
    c->w1 = 0;
    c->w2 = node;
    c->w3 = 0;
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_STRING;
}

void zs_make_at(Cell* c, i64 n) { make_at(c, n == 0 ? 1 : n, 1); }

void append_char(Cell* str, u32 cp) {
    SeriesBuffer* s = widen_for(node_buffer(str->w2), cp, 0x7F);
    u32 unit = series::unit_of(s);
    if (s->tail + unit > s->size) s = memory::expand_series(s, i64(s->size) * 2 > 16 ? i64(s->size) * 2 : 16);
    put_char(series::tail(s), unit, cp);
    s->tail += unit;
}

void append_literal(Cell* str, const char* text) {
    append_bytes(str, reinterpret_cast<const u8*>(text), i64(std::strlen(text)));
}

void append_bytes(Cell* str, const u8* text, i64 n) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    i64 need = i64(s->tail) + n * unit;
    if (need > i64(s->size)) s = memory::expand_series(s, need * 2);
    unit = series::unit_of(s);
    u8* out = series::tail(s);
    if (unit == 1) {
        bool ascii = true;
        for (i64 i = 0; i < n; i++) ascii &= text[i] < 0x80;
        if (ascii) {
            std::memcpy(out, text, size_t(n));
            s->tail += u32(n);
            return;
        }
        for (i64 i = 0; i < n; i++) append_char(str, text[i]);
        return;
    }
    for (i64 i = 0; i < n; i++) put_char(out + i * unit, unit, text[i]);
    s->tail += u32(n * unit);
}

void append_utf8(Cell* str, const u8* text, i64 n) {
    const u8* end = text + n;
    while (text < end) {
        u32 cp;
        i64 avail = end - text;
        if (*text < 0x80) {
            cp = *text++;
        } else {
            i32 used = i32(avail);
            i32 d = unicode::decode_utf8_char(text, &used);
            cp = d < 0 ? 0xFFFD : u32(d);
            text += used > 0 ? used : 1;
        }
        append_char(str, cp);
    }
}

void poke_char(Cell* str, i32 index, u32 cp) {
    SeriesBuffer* s = widen_for(node_buffer(str->w2), cp, 0xFF);
    u32 unit = series::unit_of(s);
    put_char(series::head(s) + i64(index) * unit, unit, cp);
}

void insert_codepoints(Cell* str, i32 index, const u32* cps, i64 n) {
    if (n <= 0) return;
    u32 widest = 0;
    for (i64 i = 0; i < n; i++) widest = cps[i] > widest ? cps[i] : widest;
    SeriesBuffer* s = widen_for(node_buffer(str->w2), widest, 0xFF);
    u32 unit = series::unit_of(s);
    i64 need = i64(s->tail) + n * unit;
    if (need > i64(s->size)) s = memory::expand_series(s, need * 2);
    u8* at = series::head(s) + i64(index) * unit;
    std::memmove(at + n * unit, at, size_t(series::tail(s) - at));
    for (i64 i = 0; i < n; i++) put_char(at + i * unit, unit, cps[i]);
    s->tail += u32(n * unit);
}

void truncate_from(Cell* str, i64 n) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    i64 cut = i64(s->offset) + n * unit;
    if (i64(s->size) >= n * unit && i64(s->tail) > cut) s->tail = u32(cut);
}

i32 zs_length(const Cell* str) {
    SeriesBuffer* s = node_buffer(str->w2);
    i32 len = series::length_of(s) - i32(str->w1);
    return len > 0 ? len : 0;
}

u32 get_char_at(const Cell* str, i32 index) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    return get_char(series::head(s) + i64(index) * unit, unit);
}

std::string to_std(const Cell* str) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    std::string out;
    i32 n = series::length_of(s);
    for (i32 i = i32(str->w1); i < n; i++) {
        u8 buf[4];
        u32 cp = get_char(series::head(s) + i64(i) * unit, unit);
        out.append(reinterpret_cast<char*>(buf), size_t(unicode::cp_to_utf8(cp, buf)));
    }
    return out;
}

}  // namespace string
}  // namespace zir
