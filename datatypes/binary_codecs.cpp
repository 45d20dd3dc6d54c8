// binary!: the text encodings of bytes in bases 2, 16, 58 and 64, for the
// enbase and debase natives and for issue! spellings read as bytes.
//
// Encoders write ASCII into room the caller has sized and never break lines.
// Decoders read code points of any width and are lenient where the encodings
// usually are: blanks are skipped (in base 58 and 64 also the apostrophe), a
// ";" starts a comment that runs to the next line feed, and base 64 needs no
// padding. A code point above 127 makes base-2, base-16 and base-64 text
// invalid (no table is indexed with it) and ends base-58 text.
//
// A decoder reads the whole text before it allocates the result (the text may
// lie in a series buffer that the allocation moves): it decodes into scratch
// memory and copies the bytes into the new binary.
#include <memory>

#include "datatypes/binary.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace binary {

namespace {

constexpr char ALPHABET_64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char ALPHABET_58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

// Decode-table entries that are not digits.
constexpr u8 SKIP = 0x40;      // a blank: skipped
constexpr u8 INVALID = 0x80;   // makes the text invalid
constexpr u8 PAD = 0x81;       // base 64's "=": ends the text (no digit, so the fast path stops there)

struct Table {
    u8 v[128];
};

constexpr Table digits_table(const char* alphabet, int n, bool blanks) {
    Table t{};
    for (u8& e : t.v) e = INVALID;
    for (int i = 0; i < n; i++) t.v[u8(alphabet[i])] = u8(i);
    if (blanks)
        for (u8 c : {8, 9, 10, 12, 13, 32, 39}) t.v[c] = SKIP;
    return t;
}

constexpr Table TABLE_64 = [] {
    Table t = digits_table(ALPHABET_64, 64, true);
    t.v[u8('=')] = PAD;
    return t;
}();
constexpr Table TABLE_58 = digits_table(ALPHABET_58, 58, true);
constexpr Table TABLE_16 = [] {
    Table t{};
    for (u8& e : t.v) e = 0xFF;
    for (int i = 0; i < 10; i++) t.v['0' + i] = u8(i);
    for (int i = 0; i < 6; i++) t.v['A' + i] = t.v['a' + i] = u8(10 + i);
    return t;
}();

// A code point of text stored at sizeof(U) bytes.
template <class U>
inline u32 at(const u8* text, i64 i) {
    U v;
    std::memcpy(&v, text + i * i64(sizeof(U)), sizeof(U));
    return u32(v);
}

// At a ";": the index of the line feed that ends the comment (consumed with
// it by the caller's step), or `count` when the comment ends the text.
template <class U>
i64 skip_comment(const u8* text, i64 i, i64 count) {
    while (++i < count)
        if (at<U>(text, i) == '\n') return i;
    return count;
}

// Bytes decoded into scratch memory; `n` of them, or -1 when the text is not
// valid.
struct Scratch {
    std::unique_ptr<u8[]> bytes;
    i64 n = 0;
    explicit Scratch(i64 room) : bytes(new u8[size_t(room > 0 ? room : 1)]) {}
};

u32 to_node(const Scratch& out) {
    if (out.n < 0) return 0;
    u32 node = memory::alloc_bytes(out.n);
    SeriesBuffer* s = node_buffer(node);
    std::memcpy(series::head(s), out.bytes.get(), size_t(out.n));
    s->tail = s->offset + u32(out.n);
    return node;
}

// The decoders' loops, by the width of a code point.
template <template <class> class Run>
i64 run_unit(u32 unit, const u8* text, i64 count, u8* out) {
    switch (unit) {
        case 1: return Run<u8>::go(text, count, out);
        case 2: return Run<u16>::go(text, count, out);
        default: return Run<u32>::go(text, count, out);
    }
}

template <template <class> class Run>
u32 decode(const u8* text, i64 count, u32 unit, i64 room) {
    if (count < 0) count = 0;
    Scratch out(room);
    out.n = run_unit<Run>(unit, text, count, out.bytes.get());
    return to_node(out);
}

template <class U>
struct Base2 {
    static i64 go(const u8* text, i64 count, u8* out) {
        u32 byte = 0;
        int bits = 0;
        u8* o = out;
        for (i64 i = 0; i < count; i++) {
            u32 c = at<U>(text, i);
            if (c <= 32) continue;
            if (c == ';') {
                i = skip_comment<U>(text, i, count);
                continue;
            }
            if (c != '0' && c != '1') return -1;
            byte = byte << 1 | (c - '0');
            if (++bits == 8) {
                *o++ = u8(byte);
                byte = 0;
                bits = 0;
            }
        }
        return bits == 0 ? o - out : -1;
    }
};

template <class U>
struct Base16 {
    static i64 go(const u8* text, i64 count, u8* out) {
        u32 high = 0;
        bool half = false;
        u8* o = out;
        for (i64 i = 0; i < count; i++) {
            // Pairs of digits in one step.
            if (!half) {
                while (i + 2 <= count) {
                    u32 c0 = at<U>(text, i), c1 = at<U>(text, i + 1);
                    if ((c0 | c1) > 127) break;
                    u32 d0 = TABLE_16.v[c0], d1 = TABLE_16.v[c1];
                    if ((d0 | d1) > 15) break;
                    *o++ = u8(d0 << 4 | d1);
                    i += 2;
                }
                if (i >= count) break;
            }
            u32 c = at<U>(text, i);
            if (c > 127) return -1;
            if (c <= 32) continue;
            if (c == ';') {
                i = skip_comment<U>(text, i, count);
                continue;
            }
            u32 d = TABLE_16.v[c];
            if (d > 15) return -1;
            if (half) *o++ = u8(high << 4 | d);
            else high = d;
            half = !half;
        }
        return o - out;   // an unpaired last digit is dropped
    }
};

template <class U>
struct Base64 {
    static i64 go(const u8* text, i64 count, u8* out) {
        u32 acc = 0;
        int digits = 0;
        u8* o = out;
        for (i64 i = 0; i < count; i++) {
            // Whole groups of four digits in one step.
            if (digits == 0) {
                while (i + 4 <= count) {
                    u32 c0 = at<U>(text, i), c1 = at<U>(text, i + 1), c2 = at<U>(text, i + 2),
                        c3 = at<U>(text, i + 3);
                    if ((c0 | c1 | c2 | c3) > 127) break;
                    u32 d0 = TABLE_64.v[c0], d1 = TABLE_64.v[c1], d2 = TABLE_64.v[c2], d3 = TABLE_64.v[c3];
                    if ((d0 | d1 | d2 | d3) & 0xC0) break;
                    u32 v = d0 << 18 | d1 << 12 | d2 << 6 | d3;
                    o[0] = u8(v >> 16);
                    o[1] = u8(v >> 8);
                    o[2] = u8(v);
                    o += 3;
                    i += 4;
                }
                if (i >= count) break;
            }
            u32 c = at<U>(text, i);
            if (c > 127) return -1;
            if (c == ';') {
                i = skip_comment<U>(text, i, count);
                continue;
            }
            u32 d = TABLE_64.v[c];
            if (d == SKIP) continue;
            if (d == PAD) {
                // The first "=" ends the text: it completes a group of two or
                // three digits.
                if (digits == 3) {
                    o[0] = u8(acc >> 10);
                    o[1] = u8(acc >> 2);
                    return o + 2 - out;
                }
                if (digits == 2) {
                    o[0] = u8(acc >> 4);
                    return o + 1 - out;
                }
                return -1;
            }
            if (d & INVALID) return -1;
            acc = acc << 6 | d;
            if (++digits == 4) {
                o[0] = u8(acc >> 16);
                o[1] = u8(acc >> 8);
                o[2] = u8(acc);
                o += 3;
                acc = 0;
                digits = 0;
            }
        }
        return o - out;   // an unpadded last group is dropped
    }
};

template <class U>
struct Base58 {
    static i64 go(const u8* text, i64 count, u8* out) {
        std::unique_ptr<u8[]> digits(new u8[size_t(count > 0 ? count : 1)]);
        i64 n = 0;
        for (i64 i = 0; i < count; i++) {
            u32 c = at<U>(text, i);
            if (c > 127) break;
            if (c == ';') {
                i = skip_comment<U>(text, i, count);
                continue;
            }
            u8 d = TABLE_58.v[c];
            if (d == SKIP) continue;
            if (d & INVALID) return -1;
            digits[size_t(n++)] = d;
        }
        // Each leading zero digit stands for one zero byte.
        i64 zeros = 0;
        while (zeros < n && digits[size_t(zeros)] == 0) zeros++;
        // The rest as a big-endian base-256 number, built digit by digit in
        // the bytes' room (log 58 / log 256 < 0.733 bytes a digit).
        i64 room = (n - zeros) * 733 / 1000 + 1;
        std::unique_ptr<u8[]> number(new u8[size_t(room)]());
        i64 used = 0;   // significant bytes, at the end of `number`
        for (i64 i = zeros; i < n; i++) {
            u32 carry = digits[size_t(i)];
            i64 j = room - 1;
            for (; j >= room - used || carry; j--) {
                carry += 58 * u32(number[size_t(j)]);
                number[size_t(j)] = u8(carry);
                carry >>= 8;
            }
            used = room - 1 - j;
        }
        std::memset(out, 0, size_t(zeros));
        std::memcpy(out + zeros, number.get() + (room - used), size_t(used));
        return zeros + used;
    }
};

}  // namespace

// --- Encoders ----------------------------------------------------------------------------

u8* encode_2(u8* out, const u8* in, i64 n) {
    for (i64 i = 0; i < n; i++)
        for (int b = 7; b >= 0; b--) *out++ = u8('0' + ((in[i] >> b) & 1));
    return out;
}

u8* encode_16(u8* out, const u8* in, i64 n) {
    for (i64 i = 0; i < n; i++) {
        *out++ = u8(string::HEX_DIGITS[in[i] >> 4]);
        *out++ = u8(string::HEX_DIGITS[in[i] & 15]);
    }
    return out;
}

u8* encode_58(u8* out, const u8* in, i64 n) {
    if (n <= 0) return out;
    i64 zeros = 0;
    while (zeros < n && in[zeros] == 0) zeros++;
    // The digits are written backwards from the end of the 2n bytes of room,
    // each pass dividing the number left (a scratch copy) by 58.
    std::unique_ptr<u8[]> number(new u8[size_t(n)]);
    std::memcpy(number.get(), in, size_t(n));
    u8* end = out + 2 * n;
    u8* d = end;
    for (i64 first = zeros; first < n;) {
        u32 rest = 0;
        for (i64 i = first; i < n; i++) {
            u32 v = rest << 8 | number[size_t(i)];
            number[size_t(i)] = u8(v / 58);
            rest = v % 58;
        }
        *--d = u8(ALPHABET_58[rest]);
        while (first < n && number[size_t(first)] == 0) first++;
    }
    std::memset(out, '1', size_t(zeros));
    std::memmove(out + zeros, d, size_t(end - d));
    return out + zeros + (end - d);
}

u8* encode_64(u8* out, const u8* in, i64 n) {
    i64 i = 0;
    for (; i + 3 <= n; i += 3) {
        u32 v = u32(in[i]) << 16 | u32(in[i + 1]) << 8 | in[i + 2];
        out[0] = u8(ALPHABET_64[v >> 18]);
        out[1] = u8(ALPHABET_64[(v >> 12) & 63]);
        out[2] = u8(ALPHABET_64[(v >> 6) & 63]);
        out[3] = u8(ALPHABET_64[v & 63]);
        out += 4;
    }
    if (i < n) {
        u32 v = u32(in[i]) << 16 | (i + 1 < n ? u32(in[i + 1]) << 8 : 0);
        out[0] = u8(ALPHABET_64[v >> 18]);
        out[1] = u8(ALPHABET_64[(v >> 12) & 63]);
        out[2] = i + 1 < n ? u8(ALPHABET_64[(v >> 6) & 63]) : u8('=');
        out[3] = '=';
        out += 4;
    }
    return out;
}

i64 encoded_room(i32 base, i64 n) {
    switch (base) {
        case 2: return 8 * n;
        case 16:
        case 58: return 2 * n;
        case 64: return (n + 2) / 3 * 4;
        default: fire(ERR_INTERNAL, "not-done");
    }
}

// --- Decoders ------------------------------------------------------------------------------

u32 decode_2(const u8* text, i64 count, u32 unit) { return decode<Base2>(text, count, unit, count / 8); }
u32 decode_16(const u8* text, i64 count, u32 unit) { return decode<Base16>(text, count, unit, count / 2); }
u32 decode_58(const u8* text, i64 count, u32 unit) { return decode<Base58>(text, count, unit, count); }
u32 decode_64(const u8* text, i64 count, u32 unit) {
    return decode<Base64>(text, count, unit, (count + 3) / 4 * 3);
}

}  // namespace binary
}  // namespace zir
