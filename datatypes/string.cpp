// string!: see string.hpp.
#include "datatypes/string.hpp"

#include <vector>

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

namespace {

// True when n more elements, the widest being `widest`, need the buffer to be
// widened (by the writers' thresholds) or to grow: an allocation, which may
// move any series buffer.
bool room_needed(const SeriesBuffer* s, i64 n, u32 widest, u32 keep1) {
    u32 unit = series::unit_of(s);
    if ((unit == 1 && widest > keep1) || (unit == 2 && widest > 0xFFFF)) return true;
    return i64(s->tail) + n * unit > i64(s->size);
}

SeriesBuffer* make_room(SeriesBuffer* s, i64 n, u32 widest, u32 keep1) {
    s = widen_for(s, widest, keep1);
    i64 need = i64(s->tail) + n * series::unit_of(s);
    if (need > i64(s->size)) s = memory::expand_series(s, need * 2);
    return s;
}

u32 widest_byte(const u8* text, i64 n) {
    u8 any = 0;
    for (i64 i = 0; i < n; i++) any |= text[i];
    if (any < 0x80) return any;
    u8 widest = 0;
    for (i64 i = 0; i < n; i++) widest = text[i] > widest ? text[i] : widest;
    return widest;
}

// One code point of UTF-8 text; invalid sequences read as U+FFFD.
inline u32 next_utf8(const u8*& text, const u8* end) {
    if (*text < 0x80) return *text++;
    i32 used = i32(end - text);
    i32 d = unicode::decode_utf8_char(text, &used);
    text += used > 0 ? used : 1;
    return d < 0 ? 0xFFFD : u32(d);
}

void put_bytes(SeriesBuffer* s, const u8* text, i64 n) {
    u32 unit = series::unit_of(s);
    u8* out = series::tail(s);
    if (unit == 1) std::memcpy(out, text, size_t(n));
    else for (i64 i = 0; i < n; i++) put_char(out + i * unit, unit, text[i]);
    s->tail += u32(n * unit);
}

void put_utf8(SeriesBuffer* s, const u8* text, i64 n) {
    u32 unit = series::unit_of(s);
    u8* out = series::tail(s);
    const u8* end = text + n;
    while (text < end) {
        put_char(out, unit, next_utf8(text, end));
        out += unit;
    }
    s->tail = u32(out - series::data(s));
}

}  // namespace

// The appenders below take their source by address, and it may lie in a
// series buffer (a symbol's spelling, the string itself): whenever they must
// allocate, which may move that buffer, they copy the source out first.

void append_bytes(Cell* str, const u8* text, i64 n) {
    if (n <= 0) return;
    SeriesBuffer* s = node_buffer(str->w2);
    u32 widest = widest_byte(text, n);
    if (!room_needed(s, n, widest, 0x7F)) return put_bytes(s, text, n);
    std::string copy(reinterpret_cast<const char*>(text), size_t(n));
    put_bytes(make_room(s, n, widest, 0x7F), reinterpret_cast<const u8*>(copy.data()), n);
}

void append_utf8(Cell* str, const u8* text, i64 n) {
    if (n <= 0) return;
    const u8* end = text + n;
    i64 count = 0;
    u32 widest = 0;
    for (const u8* p = text; p < end; count++) {
        u32 cp = next_utf8(p, end);
        widest = cp > widest ? cp : widest;
    }
    SeriesBuffer* s = node_buffer(str->w2);
    if (!room_needed(s, count, widest, 0x7F)) return put_utf8(s, text, n);
    std::string copy(reinterpret_cast<const char*>(text), size_t(n));
    put_utf8(make_room(s, count, widest, 0x7F), reinterpret_cast<const u8*>(copy.data()), n);
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
    SeriesBuffer* s = node_buffer(str->w2);
    std::vector<u32> copy;
    if (room_needed(s, n, widest, 0xFF)) {
        copy.assign(cps, cps + n);
        cps = copy.data();
        s = make_room(s, n, widest, 0xFF);
    }
    u32 unit = series::unit_of(s);
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
