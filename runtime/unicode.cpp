// Unicode conversions: see unicode.hpp.
#include "runtime/unicode.hpp"

#include <unistd.h>

#include <array>
#include <cstdio>

#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace unicode {

namespace {

// ===== Helpers ==============================================================

[[noreturn]] void invalid_char(u32 cp) {
    Cell c;
    cell::init(&c, TYPE_INTEGER);
    c.w2 = cp;
    fire(ERR_SCRIPT, "invalid-char", &c);
}

// The bytes are copied out before allocating: `p` may lie in a series buffer.
[[noreturn]] void invalid_utf8(const u8* p, i32 avail) {
    u8 bytes[4];
    u32 n = avail < 4 ? u32(avail) : 4u;
    std::memcpy(bytes, p, n);
    u32 node = memory::alloc_bytes(n);
    SeriesBuffer* s = node_buffer(node);
    std::memcpy(series::head(s), bytes, n);
    s->tail = s->offset + n;
    Cell bin;
    cell::init(&bin, TYPE_BINARY);
    bin.w2 = node;
    fire(ERR_ACCESS, "invalid-utf8", &bin);
}

[[noreturn]] void invalid_utf16() {
    console::write_c_string("*** Input Error: invalid UTF-16LE codepoint\n");
    console::flush();
    std::fflush(nullptr);
    _exit(EXIT_INVALID_UTF16);
}

inline void check_unit(u32 unit) {
    if (unit != 1 && unit != 2 && unit != 4) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
}

// Elements are stored little-endian at their unit; memcpy keeps unaligned
// heads (a unit taken over by a buffer with an odd offset) well defined.
template <class T>
inline u32 load_elem(const u8* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return u32(v);
}

template <class T>
inline void store_elem(u8* p, u32 v) {
    T t = T(v);
    std::memcpy(p, &t, sizeof(T));
}

inline u32 element(const u8* p, u32 unit) {
    switch (unit) {
        case 1: return *p;
        case 2: return load_elem<u16>(p);
        case 4: return load_elem<u32>(p);
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
}

inline u32 utf16_unit(const u8* p, i64 i) { return u32(p[2 * i]) | (u32(p[2 * i + 1]) << 8); }

// What an export reads of a string value: its buffer, unit, head and the
// number of elements taken (the length from the head, cut to `limit` when
// `limit` is not negative).
struct Span {
    u32 node;
    u32 unit;
    i64 head;   // element index from the buffer's offset
    i64 n;
};

Span span_of(const Cell* str, i64 limit) {
    Span sp;
    sp.node = str->w2;
    const SeriesBuffer* s = node_buffer(sp.node);
    sp.unit = series::unit_of(s);
    check_unit(sp.unit);
    sp.head = str->w1;
    i64 len = i64(series::length_of(s)) - sp.head;
    if (len < 0) len = 0;
    sp.n = limit >= 0 && limit < len ? limit : len;
    return sp;
}

inline const u8* span_start(const Span& sp) {
    return series::head(node_buffer(sp.node)) + sp.head * sp.unit;
}

// The string's conversion cache with room for `bytes`, made or expanded when
// needed; answers the start of its data. May allocate.
u8* cache_room(Cell* str, i64 bytes) {
    u32 node = str->w3;
    if (node) {
        SeriesBuffer* s = node_buffer(node);
        if (i64(s->size) - s->offset < bytes) {
            s = memory::expand_series_raw(s, bytes);
            s->tail = s->offset;
        }
        return series::head(s);
    }
    node = memory::alloc_bytes(bytes);
    str->w3 = node;
    return series::head(node_buffer(node));
}

// Marks the cache's bytes as used, so that a move of the buffer keeps them.
void cache_used(const Cell* str, i64 bytes) {
    SeriesBuffer* s = node_buffer(str->w3);
    s->tail = s->offset + u32(bytes);
}

// ===== The UTF-8 automaton ==================================================

// 256 byte classes, then the transitions: the next state is
// table[256 + state + class]. States are multiples of 12 (one row of 12
// classes each): 0 accepts, 12 rejects, the others wait for continuation bytes
// within the ranges that rule out overlong forms, surrogates and code points
// past U+10FFFF.
constexpr int UTF8_ACCEPT = 0;
constexpr int UTF8_REJECT = 12;

constexpr std::array<u8, 364> make_utf8_table() {
    std::array<u8, 364> t{};
    struct Range {
        int lo, hi;
        u8 cls;
    };
    constexpr Range classes[] = {
        {0x00, 0x7F, 0}, {0x80, 0x8F, 1}, {0x90, 0x9F, 9},  {0xA0, 0xBF, 7},
        {0xC0, 0xC1, 8}, {0xC2, 0xDF, 2}, {0xE0, 0xE0, 10}, {0xE1, 0xEC, 3},
        {0xED, 0xED, 4}, {0xEE, 0xEF, 3}, {0xF0, 0xF0, 11}, {0xF1, 0xF3, 6},
        {0xF4, 0xF4, 5}, {0xF5, 0xFF, 8},
    };
    for (const Range& r : classes)
        for (int b = r.lo; b <= r.hi; b++) t[size_t(b)] = r.cls;
    constexpr u8 transitions[108] = {
        0,  12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,   // 0: start
        12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,   // 12: rejected
        12, 0,  12, 12, 12, 12, 12, 0,  12, 0,  12, 12,   // 24: one byte left
        12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,   // 36: two left
        12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,   // 48: after E0 (A0..BF)
        12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,   // 60: after ED (80..9F)
        12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,   // 72: after F0 (90..BF)
        12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,   // 84: after F1..F3
        12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,   // 96: after F4 (80..8F)
    };
    for (int i = 0; i < 108; i++) t[size_t(256 + i)] = transitions[i];
    return t;
}

constexpr std::array<u8, 364> UTF8_TABLE = make_utf8_table();

// ===== Loading ==============================================================

// Code points are appended to a text buffer through this record, which widens
// the buffer when a code point does not fit its unit and grows it when full.
// The buffer is reached through its node after every expansion.
struct Loader {
    u32 node;
    u32 unit;
    u32 max_cp;       // largest code point the unit holds
    i64 count;        // elements stored
    i64 capacity;     // elements that fit after the offset
    u8* out;          // the buffer's head
    i64 grow_bytes;   // growth of a full unit-2 buffer; unit 4 grows by four times it
};

void loader_refresh(Loader& l, SeriesBuffer* s) {
    l.unit = series::unit_of(s);
    l.max_cp = l.unit == 1 ? 0xFF : l.unit == 2 ? 0xFFFF : 0xFFFFFFFF;
    l.capacity = (i64(s->size) - s->offset) / l.unit;
    l.out = series::head(s);
}

inline void loader_sync(Loader& l, SeriesBuffer* s) { s->tail = s->offset + u32(l.count * l.unit); }

// Starts loading `len` source bytes into `target` (content replaced, grown to
// hold `len` elements) or into a new unit-1 buffer of that many elements: a
// source byte never yields more than one element, so only widening can make
// the buffer too small. The caller roots the node while loading.
Loader loader_start(u32 target, i64 len) {
    Loader l{};
    SeriesBuffer* s;
    if (target) {
        l.node = target;
        s = node_buffer(target);
        u32 unit = series::unit_of(s);
        check_unit(unit);
        if (i64(s->size) - s->offset < len * unit) s = memory::expand_series_raw(s, len * unit);
    } else {
        l.node = memory::alloc_series(len > 0 ? len : 1, 1, 0);
        s = node_buffer(l.node);
    }
    s->tail = s->offset;
    loader_refresh(l, s);
    // Text stored at unit 2 takes at most 2 x len bytes, at unit 4 at most
    // 4 x len: growing by a quarter of len (unit 2) or by len (unit 4) keeps
    // the expansions of one load to about a dozen, however the text mixes widths.
    l.grow_bytes = len / 4 > 16 ? len / 4 : 16;
    return l;
}

[[gnu::noinline]] void loader_widen(Loader& l, u32 cp) {
    SeriesBuffer* s = node_buffer(l.node);
    loader_sync(l, s);
    if (l.unit == 1) s = cp <= 0xFFFF ? widen_1_to_2(s) : widen_1_to_4(s);
    else s = widen_2_to_4(s);
    loader_refresh(l, s);
}

[[gnu::noinline]] void loader_grow(Loader& l) {
    SeriesBuffer* s = node_buffer(l.node);
    loader_sync(l, s);
    i64 more = l.unit == 4 ? l.grow_bytes * 4 : l.grow_bytes;
    s = memory::expand_series(s, i64(s->size) + more);
    loader_refresh(l, s);
}

inline void loader_put(Loader& l, u32 cp) {
    if (ZIR_UNLIKELY(cp > l.max_cp)) loader_widen(l, cp);
    if (ZIR_UNLIKELY(l.count == l.capacity)) loader_grow(l);
    u8* at = l.out + l.count * l.unit;
    if (l.unit == 1) *at = u8(cp);
    else if (l.unit == 2) store_elem<u16>(at, cp);
    else store_elem<u32>(at, cp);
    l.count++;
}

// Copies the run of ASCII bytes at `p` (stopping before a CR when `crlf`) into
// a unit-1 buffer, eight bytes at a time, and answers where the run ends; the
// byte-wise loop takes the rest. At unit 1 there is always room: the buffer
// holds as many elements as the source has bytes.
const u8* copy_ascii_run(Loader& l, const u8* p, const u8* end, bool crlf) {
    constexpr u64 ONES = 0x0101010101010101, HIGH = 0x8080808080808080, CRS = 0x0D0D0D0D0D0D0D0D;
    u8* out = l.out + l.count;
    const u8* q = p;
    while (end - q >= 8) {
        u64 w;
        std::memcpy(&w, q, 8);
        if (w & HIGH) break;
        u64 x = w ^ CRS;   // a zero byte where w holds a CR
        if (crlf && ((x - ONES) & ~x & HIGH)) break;
        std::memcpy(out, &w, 8);
        out += 8;
        q += 8;
    }
    l.count += q - p;
    return q;
}

u32 loader_finish(Loader& l) {
    loader_sync(l, node_buffer(l.node));
    return l.node;
}

// ===== Widening =============================================================

template <class From, class To>
SeriesBuffer* widen(SeriesBuffer* s) {
    constexpr i64 from = sizeof(From), to = sizeof(To);
    if (series::unit_of(s) != from) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    i64 n = i64(series::used_bytes(s)) / from;
    i64 need = n * to + to;
    if (i64(s->size) - s->offset < need) {
        i64 doubled = i64(s->size) * 2;
        s = memory::expand_series(s, doubled > need ? doubled : need);
    }
    u8* h = series::head(s);
    // Last to first: element i moves up to i * to, over elements already done.
    for (i64 i = n - 1; i >= 0; i--) store_elem<To>(h + i * to, load_elem<From>(h + i * from));
    s->flags = (s->flags & ~SERIES_UNIT_MASK) | u32(to);
    s->tail = s->offset + u32(n * to);
    return s;
}

// ===== Windows-1251 =========================================================

// Code points of the bytes 0x80..0xFF; 0x98 is unassigned and stands for itself.
constexpr u16 WINDOWS_1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,   // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,   // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,   // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,   // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,   // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,   // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,   // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,   // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,   // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,   // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,   // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,   // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,   // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,   // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,   // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,   // F8
};

// ===== Exports ==============================================================

template <class T>
i64 encode_utf8(const u8* in, i64 n, u8* out, bool crlf) {
    u8* o = out;
    for (i64 i = 0; i < n; i++) {
        u32 cp = load_elem<T>(in + i * i64(sizeof(T)));
        if (cp < 0x80) {
            if (cp == 10 && crlf) *o++ = 13;
            *o++ = u8(cp);
        } else {
            o += cp_to_utf8(cp, o);
        }
    }
    return o - out;
}

i64 encode_utf8_unit(const u8* in, i64 n, u32 unit, u8* out, bool crlf) {
    switch (unit) {
        case 1: return encode_utf8<u8>(in, n, out, crlf);
        case 2: return encode_utf8<u16>(in, n, out, crlf);
        case 4: return encode_utf8<u32>(in, n, out, crlf);
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
}

// Answers the units written, or -1 for a code point past U+10FFFF.
template <class T>
i64 encode_utf16(const u8* in, i64 n, u16* out, bool crlf) {
    u16* o = out;
    for (i64 i = 0; i < n; i++) {
        u32 cp = load_elem<T>(in + i * i64(sizeof(T)));
        if (cp == 10 && crlf) *o++ = 13;
        if (sizeof(T) == 4 && cp > 0xFFFF) {
            int k = cp_to_utf16(cp, o);
            if (k == 0) return -1;
            o += k;
        } else {
            *o++ = u16(cp);
        }
    }
    return o - out;
}

}  // namespace

// ===== UTF-8 decoding =======================================================

const u8* fast_decode_utf8_char(const u8* p, i32* cp) {
    u32 b = *p++;
    u32 cls = UTF8_TABLE[b];
    u32 c = (0xFFu >> cls) & b;
    u32 state = UTF8_TABLE[256 + cls];
    while (state > u32(UTF8_REJECT)) {
        b = *p++;
        c = (c << 6) | (b & 0x3F);
        state = UTF8_TABLE[256 + state + UTF8_TABLE[b]];
    }
    *cp = state == UTF8_ACCEPT ? i32(c) : -1;
    return p;
}

i64 count_utf8_chars(const u8* start, const u8* end) {
    i64 n = 0;
    for (const u8* p = start; p < end; p++) n += (*p & 0xC0) != 0x80;
    return n;
}

const u8* skip_utf8_chars(const u8* p, const u8* end, i64 n) {
    while (n > 0 && p < end) {
        p++;
        while (p < end && (*p & 0xC0) == 0x80) p++;
        n--;
    }
    return p;
}

int utf8_lead_size(u8 lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

i32 check_utf8_char(const u8* p, i32* avail) {
    i32 have = *avail;
    if (have <= 0) {
        *avail = 1;
        return -1;
    }
    u32 b = p[0];
    if (b < 0x80) {
        *avail = 1;
        return i32(b);
    }
    // The second byte's range is where overlong forms (E0, F0), code points
    // past U+10FFFF (F4) and the rejected surrogates DC00..DCFF (ED B0..B3) show.
    i32 n;
    u32 cp, lo = 0x80, hi = 0xBF;
    if (b < 0xC2) return -2;   // stray continuation byte, or C0/C1 (overlong)
    if (b < 0xE0) {
        n = 2;
        cp = b & 0x1F;
    } else if (b < 0xF0) {
        n = 3;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;
    } else if (b < 0xF5) {
        n = 4;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return -2;   // F5..FF: past U+10FFFF, or no UTF-8 lead at all
    }
    i32 present = have < n ? have : n;
    if (present > 1) {
        u32 c = p[1];
        if (c < lo || c > hi || (b == 0xED && c >= 0xB0 && c <= 0xB3)) return -2;
        for (i32 i = 2; i < present; i++)
            if ((p[i] & 0xC0) != 0x80) return -2;
    }
    if (have < n) {
        *avail = n;
        return -1;
    }
    for (i32 i = 1; i < n; i++) cp = (cp << 6) | (p[i] & 0x3F);
    if (cp == 0xFFFE) return -2;
    *avail = n;
    return i32(cp);
}

i32 decode_utf8_char(const u8* p, i32* avail) {
    i32 have = *avail;
    i32 cp = check_utf8_char(p, avail);
    if (cp == -2) invalid_utf8(p, have);
    return cp;
}

bool utf8_valid_q(const u8* p, i64 n) {
    const u8* end = p + n;
    while (p < end) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        i32 used = end - p < 4 ? i32(end - p) : 4;
        if (check_utf8_char(p, &used) < 0) return false;
        p += used;
    }
    return true;
}

// ===== UTF-8 encoding =======================================================

int cp_utf8_size(u32 cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp <= 0x10FFFF) return 4;
    invalid_char(cp);
}

int cp_to_utf8(u32 cp, u8* out) {
    if (cp < 0x80) {
        out[0] = u8(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = u8(0xC0 | (cp >> 6));
        out[1] = u8(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = u8(0xE0 | (cp >> 12));
        out[1] = u8(0x80 | ((cp >> 6) & 0x3F));
        out[2] = u8(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= 0x10FFFF) {
        out[0] = u8(0xF0 | (cp >> 18));
        out[1] = u8(0x80 | ((cp >> 12) & 0x3F));
        out[2] = u8(0x80 | ((cp >> 6) & 0x3F));
        out[3] = u8(0x80 | (cp & 0x3F));
        return 4;
    }
    invalid_char(cp);
}

int cp_to_utf8_room(u32 cp, u8* out, int room) {
    u8 bytes[4];
    int n = cp_to_utf8(cp, bytes);
    if (room < n) n = room > 0 ? room : 0;
    std::memcpy(out, bytes, size_t(n));
    return n;
}

i64 utf8_size_of(const u8* start, const u8* end, u32 unit) {
    check_unit(unit);
    i64 total = 0;
    for (const u8* p = start; p < end; p += unit) {
        u32 cp = element(p, unit);
        total += cp < 0x80 ? 1 : cp_utf8_size(cp);
    }
    return total;
}

// ===== Loading ==============================================================

u32 load_utf8(const u8* src, i64 len, u32 target, i32* remainder, bool crlf) {
    Loader l = loader_start(target, len);
    collector::RootNode keep(l.node);   // widening and growth allocate
    const u8* p = src;
    const u8* end = src + len;
    if (len > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    i64 cut = 0;
    while (p < end) {
        if (l.unit == 1) {
            p = copy_ascii_run(l, p, end, crlf);
            if (p == end) break;
        }
        u32 cp = *p;
        if (cp < 0x80) {
            p++;
            if (cp == 13 && crlf) {
                if (p < end && *p == 10) continue;
                cp = 10;
            }
        } else {
            i32 used = end - p < 4 ? i32(end - p) : 4;
            i32 c = decode_utf8_char(p, &used);
            if (c < 0) {
                cut = end - p;
                break;
            }
            p += used;
            cp = u32(c);
        }
        loader_put(l, cp);
    }
    if (remainder) *remainder = i32(cut);
    return loader_finish(l);
}

u32 load_utf8_into(const u8* src, i64 len, Cell* str, i32* remainder) {
    return load_utf8(src, len, str->w2, remainder, false);
}

u32 load_utf8_new(const u8* src, i64 len) { return load_utf8(src, len, 0, nullptr, false); }

u32 load_windows_1251(const u8* src, i64 len, u32 target, bool crlf) {
    Loader l = loader_start(target, len);
    collector::RootNode keep(l.node);   // widening and growth allocate
    for (i64 i = 0; i < len; i++) {
        u32 cp = src[i];
        if (cp >= 0x80) {
            cp = WINDOWS_1251[cp - 0x80];
        } else if (cp == 13 && crlf) {
            if (i + 1 < len && src[i + 1] == 10) continue;
            cp = 10;
        }
        loader_put(l, cp);
    }
    return loader_finish(l);
}

SeriesBuffer* widen_1_to_2(SeriesBuffer* s) { return widen<u8, u16>(s); }
SeriesBuffer* widen_1_to_4(SeriesBuffer* s) { return widen<u8, u32>(s); }
SeriesBuffer* widen_2_to_4(SeriesBuffer* s) { return widen<u16, u32>(s); }

// ===== UTF-16 ===============================================================

u32 utf16_unit_of(const void* src, i64 n) {
    const u8* p = static_cast<const u8*>(src);
    u32 unit = 1;
    for (i64 i = 0; i < n; i++) {
        u8 high = p[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) unit = 2;
    }
    return unit;
}

i64 utf16_extra_size(const u8* start, const u8* end, u32 unit) {
    check_unit(unit);
    i64 extra = 0;
    for (const u8* p = start; p < end; p += unit) {
        u32 cp = element(p, unit);
        if (cp == 10 || cp > 0xFFFF) extra += 2;
    }
    return extra;
}

u32 load_utf16(const void* src, i64 n, Cell* target, bool drop_cr) {
    u32 cache = 0;
    if (!src && n > 0) {
        if (!target || !target->w3) ZIR_FAULT(runtime::FAULT_NO_CASE);
        cache = target->w3;
        src = series::head(node_buffer(cache));
    }
    u32 unit = utf16_unit_of(src, n);
    u32 node;
    SeriesBuffer* s;
    if (target) {
        node = target->w2;
        s = node_buffer(node);
        if (i64(s->size) - s->offset < n * unit) s = memory::expand_series_raw(s, n * unit);
        s->flags = (s->flags & ~SERIES_UNIT_MASK) | unit;
    } else {
        if (n == 0) unit = 2;
        node = memory::alloc_series(n > 0 ? n : 1, unit, 0);
        s = node_buffer(node);
    }
    s->flags |= SERIES_FROM_UTF16;
    // The allocation above may have moved the cache.
    const u8* in = cache ? series::head(node_buffer(cache)) : static_cast<const u8*>(src);
    u8* out = series::head(s);
    i64 k = 0;
    if (unit == 1) {
        for (i64 i = 0; i < n; i++) {
            u8 b = in[2 * i];
            if (b == 13 && drop_cr && in[2 * i + 1] == 0) continue;
            out[k++] = b;
        }
    } else if (unit == 2 && !drop_cr) {
        if (n > 0) std::memcpy(out, in, size_t(n * 2));   // an empty text may come with no source
        k = n;
    } else if (unit == 2) {
        for (i64 i = 0; i < n; i++) {
            u32 v = utf16_unit(in, i);
            if (v != 13) store_elem<u16>(out + 2 * k++, v);
        }
    } else {
        for (i64 i = 0; i < n; i++) {
            u32 v = utf16_unit(in, i);
            if (v >= 0xD800 && v <= 0xDBFF) {
                u32 low = i + 1 < n ? utf16_unit(in, i + 1) : 0;
                if (low < 0xDC00 || low > 0xDFFF) invalid_utf16();
                v = 0x10000 + ((v & 0x3FF) << 10) + (low & 0x3FF);
                i++;
            } else if (v == 13 && drop_cr) {
                continue;
            }
            store_elem<u32>(out + 4 * k++, v);
        }
    }
    s->tail = s->offset + u32(k * unit);
    return node;
}

int cp_to_utf16(u32 cp, u16* out) {
    if (cp <= 0xFFFF) {
        out[0] = u16(cp);
        return 1;
    }
    if (cp > 0x10FFFF) return 0;
    cp -= 0x10000;
    out[0] = u16(0xD800 | (cp >> 10));
    out[1] = u16(0xDC00 | (cp & 0x3FF));
    return 2;
}

i64 ascii_to_utf16(const char* src, u16* out) {
    i64 n = 0;
    for (; src[n]; n++) out[n] = u8(src[n]);
    out[n] = 0;
    return n;
}

// ===== Exports ==============================================================

u8* to_utf8_part(Cell* str, i32* len, bool crlf) {
    Span sp = span_of(str, *len);
    // Worst cases per element: Latin-1 and CR LF take 2 bytes, UCS-2 3, UCS-4 4.
    i64 per = sp.unit == 4 ? 4 : sp.unit + 1;
    u8* out = cache_room(str, per * (sp.n + 1));
    i64 bytes = encode_utf8_unit(span_start(sp), sp.n, sp.unit, out, crlf);
    out[bytes] = 0;
    cache_used(str, bytes + 1);
    *len = i32(bytes);
    return out;
}

u8* to_utf8(Cell* str, i32* len) { return to_utf8_part(str, len, false); }

i32 to_utf8_buffer(const Cell* str, u8* target, i32 n, bool nul) {
    Span sp = span_of(str, n < 0 ? -1 : n);
    i64 bytes = encode_utf8_unit(span_start(sp), sp.n, sp.unit, target, false);
    if (nul) target[bytes] = 0;
    return i32(bytes);
}

i32 to_utf8_limit(const Cell* str, u8* target, i32 room, i32 n, bool nul) {
    Span sp = span_of(str, n <= 0 ? -1 : n);
    const u8* in = span_start(sp);
    i64 limit = i64(room) - (nul ? 1 : 0);
    i64 bytes = 0;
    for (i64 i = 0; i < sp.n; i++) {
        u32 cp = element(in + i * sp.unit, sp.unit);
        int size = cp_utf8_size(cp);
        if (bytes + size > limit) break;
        bytes += cp_to_utf8(cp, target + bytes);
    }
    if (nul && room > 0) target[bytes] = 0;
    return i32(bytes);
}

u16* to_utf16_part(Cell* str, i32* len, bool crlf) {
    Span sp = span_of(str, *len);
    const u8* in = span_start(sp);
    i64 size = 2 * sp.n + 2 + utf16_extra_size(in, in + sp.n * sp.unit, sp.unit);
    u16* out = reinterpret_cast<u16*>(cache_room(str, size));
    in = span_start(sp);   // the cache's allocation may have moved the string
    i64 units;
    if (sp.unit == 1) units = encode_utf16<u8>(in, sp.n, out, crlf);
    else if (sp.unit == 2 && !crlf) {
        std::memcpy(out, in, size_t(sp.n * 2));
        units = sp.n;
    } else if (sp.unit == 2) units = encode_utf16<u16>(in, sp.n, out, crlf);
    else units = encode_utf16<u32>(in, sp.n, out, crlf);
    if (units < 0) return nullptr;
    out[units] = 0;
    cache_used(str, 2 * units + 2);
    *len = i32(units);
    return out;
}

u16* to_utf16(Cell* str) {
    i32 len = -1;
    return to_utf16_part(str, &len, false);
}

}  // namespace unicode
}  // namespace zir
