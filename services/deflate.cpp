// The deflate encoder: one final block with the fixed Huffman codes and greedy
// matching. See compress.hpp.
//
// Its output is part of the system's behaviour (the same input always gives the
// same bytes), so every choice below is fixed: the hash of three bytes, the
// four-entry buckets searched in order with the first candidate taken, the slot
// a position is stored in, and which positions are stored (only where a
// literal or a match starts). Bytes past the input's end read as 0 wherever
// the rules look ahead of the data; they are never read.
#include <array>
#include <cstring>

#include "services/compress.hpp"
#include "services/deflate_format.hpp"

namespace zir {
namespace compress {

namespace {

constexpr int BUCKETS = 1024;
constexpr int BUCKET_SLOTS = 4;
constexpr i64 WINDOW = 32768;
constexpr i64 MAX_MATCH = 258;
constexpr i64 MIN_MATCH = 3;

inline u32 bucket_of(u32 b0, u32 b1, u32 b2) {
    u32 x = b0 << 16 | b1 << 8 | b2;
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x & (BUCKETS - 1);
}

// A code ready for the bit writer: its bits in writing order and their number.
struct Code {
    u32 bits;
    u32 n;
};

// The fixed literal/length code of a symbol, bit-reversed for writing least
// significant bit first.
constexpr Code fixed_code(u32 symbol) {
    if (symbol < 144) return {reverse_bits(0x30 + symbol, 8), 8};
    if (symbol < 256) return {reverse_bits(0x190 + symbol - 144, 9), 9};
    if (symbol < 280) return {reverse_bits(symbol - 256, 7), 7};
    return {reverse_bits(0xC0 + symbol - 280, 8), 8};
}


struct Tables {
    std::array<Code, 256> literal;
    // Length 3..258: its symbol's code followed by the extra bits.
    std::array<Code, MAX_MATCH + 1> length;
    // Distance symbol 0..29: its 5-bit code.
    std::array<u32, 30> distance;
};

constexpr Tables make_tables() {
    Tables t{};
    for (u32 b = 0; b < 256; b++) t.literal[b] = fixed_code(b);
    for (u32 s = 0; s < 29; s++) {
        // 258 has a symbol of its own, so the last range ends at 257.
        u32 last = s == 28 ? 258 : u32(LENGTH_BASE[s + 1]) - 1;
        for (u32 len = LENGTH_BASE[s]; len <= last; len++) {
            Code c = fixed_code(257 + s);
            t.length[len] = {c.bits | (len - LENGTH_BASE[s]) << c.n, c.n + LENGTH_EXTRA[s]};
        }
    }
    for (u32 s = 0; s < 30; s++) t.distance[s] = reverse_bits(s, 5);
    return t;
}

constexpr Tables tables = make_tables();

// A distance's 5-bit code followed by its extra bits. Distance d > 4 has
// symbol 2m + (the bit below the top one of d - 1), m being the position of
// the top bit, and m - 1 extra bits.
inline Code distance_code(u32 d) {
    u32 x = d - 1;
    if (x < 4) return {tables.distance[x], 5};
    u32 m = 31 - u32(__builtin_clz(x));
    u32 symbol = 2 * m + ((x >> (m - 1)) & 1);
    u32 extra = m - 1;
    return {tables.distance[symbol] | (x & ((1u << extra) - 1)) << 5, 5 + extra};
}

// Bits are gathered least significant first in a 64-bit word and written four
// bytes at a time. Bytes past the capacity are counted, not stored, so the
// size needed is known at the end.
struct BitWriter {
    u8* out;
    i64 capacity;
    i64 pos = 0;
    u64 buffer = 0;
    u32 count = 0;

    void put(u32 bits, u32 n) {   // n <= 32, and count < 32 on entry
        buffer |= u64(bits) << count;
        count += n;
        if (count >= 32) {
            store(u32(buffer), 4);
            buffer >>= 32;
            count -= 32;
        }
    }

    void store(u32 word, int n) {
        if (ZIR_LIKELY(pos + 4 <= capacity)) {
            std::memcpy(out + pos, &word, 4);   // n <= 4: the extra bytes are rewritten or past the end
        } else {
            for (int i = 0; i < n; i++)
                if (pos + i < capacity) out[pos + i] = u8(word >> (8 * i));
        }
        pos += n;
    }

    void finish() {   // pads the last byte with zero bits
        while (count >= 8) {
            store(u32(buffer), 1);
            buffer >>= 8;
            count -= 8;
        }
        if (count) store(u32(buffer), 1);
        buffer = 0;
        count = 0;
    }
};

inline u64 load64(const u8* p) {
    u64 v;
    std::memcpy(&v, p, 8);
    return v;
}

// The number of bytes equal at p and q, from `len` on, at most `limit`;
// p + limit lies within the input.
inline i64 extend_match(const u8* p, const u8* q, i64 len, i64 limit) {
    while (len + 8 <= limit) {
        u64 x = load64(p + len) ^ load64(q + len);
        if (x) return len + (__builtin_ctzll(x) >> 3);
        len += 8;
    }
    while (len < limit && p[len] == q[len]) len++;
    return len;
}

}  // namespace

i64 max_encoded_size(Method method, i64 length) {
    // Three header bits, at most nine bits per input byte (a literal; every
    // match costs less per byte), seven for the end of the block.
    i64 raw = (9 * length + 10 + 7) / 8;
    switch (method) {
        case ZLIB: return raw + 6;
        case GZIP: return raw + 18;
        default: return raw;
    }
}

int deflate(u8* out, i64* size, const u8* in, i64 length) {
    u32 table[BUCKETS][BUCKET_SLOTS];
    std::memset(table, 0, sizeof table);
    BitWriter w{out, *size};
    w.put(0b011, 3);   // final block, fixed codes

    auto byte_at = [&](i64 i) -> u32 { return i < length ? in[i] : 0; };
    i64 p = 0;
    while (p < length) {
        u32 b0 = in[p], b1 = byte_at(p + 1), b2 = byte_at(p + 2);
        u32* bucket = table[bucket_of(b0, b1, b2)];
        i64 start = p;
        i64 matched = 0;
        i64 distance = 0;
        if (p >= MIN_MATCH && length - p >= MIN_MATCH) {
            for (int k = 0; k < BUCKET_SLOTS; k++) {
                i64 q = bucket[k];
                if (q != 0 && q < p && p < q + WINDOW && in[q] == b0 && in[q + 1] == b1 &&
                    in[q + 2] == b2) {
                    i64 limit = length - p < MAX_MATCH ? length - p : MAX_MATCH;
                    matched = extend_match(in + p, in + q, MIN_MATCH, limit);
                    distance = p - q;
                    break;
                }
            }
        }
        if (matched) {
            Code len = tables.length[matched];
            Code dist = distance_code(u32(distance));
            w.put(len.bits | dist.bits << len.n, len.n + dist.n);   // at most 13 + 18 bits
            p += matched;
        } else {
            Code lit = tables.literal[b0];
            w.put(lit.bits, lit.n);
            p++;
        }
        bucket[((byte_at(p + 1) >> 6) - byte_at(p + 2)) & 3] = u32(start);
    }
    w.put(0, 7);   // end of block
    w.finish();
    *size = w.pos;
    return w.pos > w.capacity ? OUTPUT_TOO_SMALL : OK;
}

}  // namespace compress
}  // namespace zir
