// LZ77 packer: see lz77.hpp.
//
// The compressor keeps about 8 MiB of tables per call: heads of 3-byte and
// 4-byte rolling hashes, a chain linking each window position to the previous
// position of the same 4-byte hash, and a copy of the block padded so that
// hashing and matching near its end read zeros, never bytes past it.
#include "loader/lz77.hpp"

#include <cstring>
#include <vector>

namespace zir {
namespace lz77 {

namespace {

constexpr u32 HASH3_BITS = 19;
constexpr u32 HASH4_BITS = 20;
constexpr u32 HASH3_MASK = (1u << HASH3_BITS) - 1;
constexpr u32 HASH4_MASK = (1u << HASH4_BITS) - 1;
constexpr u32 LINK_MASK = u32(WINDOW) - 1;
// Candidates examined per position along the 4-byte chain.
constexpr i32 CHAIN_LIMIT = 256;
// A 3-byte match costs about as much as three literals once its distance
// field grows past 16 bits: farther ones are not taken.
constexpr i32 FAR_SHORT_MATCH = 65536;

inline u32 get_u32(const u8* p) {
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void put_u32(u8* p, u32 v) { std::memcpy(p, &v, 4); }

// --- Writing bits ------------------------------------------------------------

struct BitWriter {
    u8* out;        // the output area after the header
    i64 capacity;
    i64 used = 0;
    u32 bits = 0;   // pending bits, the oldest lowest
    u32 count = 0;
    bool failed = false;

    u8* reserve(i64 n) {
        if (used + n > capacity) {
            failed = true;
            return nullptr;
        }
        u8* p = out + used;
        used += n;
        return p;
    }
    void put(u32 value, u32 n) {
        bits |= value << count;
        count += n;
        while (count >= 8) {
            if (u8* p = reserve(1)) *p = u8(bits);
            bits >>= 8;
            count -= 8;
        }
    }
    void align() {
        put(0, 7);
        bits = 0;
        count = 0;
    }
};

void put_length(BitWriter& w, u32 n) {
    if (n < 4) {
        w.put(1, 1), w.put(n, 2);
    } else if (n < 8) {
        w.put(2, 2), w.put(n - 4, 2);          // bits 0, 1
    } else if (n < 12) {
        w.put(4, 3), w.put(n - 8, 2);          // bits 0, 0, 1
    } else if (n < 20) {
        w.put(8, 4), w.put(n - 12, 3);
    } else if (n < 52) {
        w.put(16, 5), w.put(n - 20, 5);
    } else {
        w.put(0, 5), w.put(n - 52, 9);
    }
}

void put_distance(BitWriter& w, u32 d) {   // d = distance - 1
    u32 j = 2;
    while (d >= (1u << (j + 1))) j++;
    w.put(j - 2, 4);
    if (j == 2) w.put(d, 3);
    else w.put(d - (1u << j), j);
}

// How much longer a match at `distance` must be to beat one at `best`: one
// byte per factor of eight that its distance field is wider.
inline i32 distance_class(i32 distance, i32 best) {
    i32 d = distance / 16;
    i32 k = 0;
    while (d > best) {
        d >>= 3;
        k++;
    }
    return k;
}

// The length of the match of the bytes at c and p, at most `max_len`; eight
// bytes at a time (the block's copy is padded, so the reads stay inside it).
inline i32 match_length(const u8* b, i32 c, i32 p, i32 max_len) {
    i32 m = 0;
    while (m < max_len) {
        u64 x, y;
        std::memcpy(&x, b + c + m, 8);
        std::memcpy(&y, b + p + m, 8);
        if (u64 diff = x ^ y) {
            m += i32(__builtin_ctzll(diff) >> 3);
            break;
        }
        m += 8;
    }
    return m < max_len ? m : max_len;
}

struct Tables {
    std::vector<i32> head3 = std::vector<i32>(size_t(1) << HASH3_BITS);
    std::vector<i32> head4 = std::vector<i32>(size_t(1) << HASH4_BITS);
    std::vector<i32> links = std::vector<i32>(size_t(WINDOW));
    std::vector<u8> block = std::vector<u8>(size_t(BLOCK_SIZE + MAX_MATCH + 16));
};

void compress_block(Tables& t, i32 n, BitWriter& w) {
    const u8* b = t.block.data();
    std::fill(t.head3.begin(), t.head3.end(), -1);
    std::fill(t.head4.begin(), t.head4.end(), -1);
    // The block's copy is followed by zeros: the hashes near the end read them.
    u32 h3 = ((u32(b[0]) << 14) + (u32(b[1]) << 7) + b[2]) & HASH3_MASK;
    u32 h4 = ((u32(b[0]) << 15) + (u32(b[1]) << 10) + (u32(b[2]) << 5) + b[3]) & HASH4_MASK;
    i32 p = 0;
    while (p < n) {
        i32 max_len = n - p < MAX_MATCH ? n - p : MAX_MATCH;
        i32 window_start = p > WINDOW ? p - i32(WINDOW) : 0;
        i32 best_len = 2, best_dist = i32(WINDOW);
        i32 c = t.head3[h3];
        if (c >= window_start && b[c] == b[p]) {
            i32 m = match_length(b, c, p, max_len);
            if (m > best_len) best_len = m, best_dist = p - c;
        }
        if (best_len < max_len) {
            c = t.head4[h4];
            for (i32 k = 0; k < CHAIN_LIMIT && c >= window_start; k++, c = t.links[u32(c) & LINK_MASK]) {
                if (b[c] != b[p] || b[c + best_len] != b[p + best_len]) continue;
                i32 m = match_length(b, c, p, max_len);
                i32 dist = p - c;
                if (m > best_len + distance_class(dist, best_dist)) {
                    best_len = m, best_dist = dist;
                    if (m >= max_len) break;
                }
            }
        }
        if (best_len == 3 && best_dist > FAR_SHORT_MATCH) best_len = 2;
        i32 step;
        if (best_len < MIN_MATCH) {
            w.put(u32(b[p]) << 1, 9);
            step = 1;
        } else {
            w.put(1, 1);
            put_length(w, u32(best_len - MIN_MATCH));
            put_distance(w, u32(best_dist - 1));
            step = best_len;
        }
        for (i32 q = p; q < p + step; q++) {
            t.head3[h3] = q;
            t.links[u32(q) & LINK_MASK] = t.head4[h4];
            t.head4[h4] = q;
            h3 = ((h3 << 7) + b[q + 3]) & HASH3_MASK;
            h4 = ((h4 << 5) + b[q + 4]) & HASH4_MASK;
        }
        p += step;
    }
    w.align();
}

// --- Reading bits --------------------------------------------------------------

struct BitReader {
    const u8* pos;
    const u8* limit;
    u64 bits = 0;
    u32 count = 0;

    bool need(u32 n) {
        while (count < n) {
            if (pos >= limit) return false;
            bits |= u64(*pos++) << count;
            count += 8;
        }
        return true;
    }
    // Fills the accumulator as far as the input allows; never fails.
    void refill() {
        while (count <= 56 && pos < limit) {
            bits |= u64(*pos++) << count;
            count += 8;
        }
    }
    u32 take(u32 n) {
        u32 v = u32(bits & ((u64(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    // Gives back the whole bytes still held, so the next block's length is
    // read where this block's bit stream ended.
    void end_block() {
        pos -= count / 8;
        bits = 0;
        count = 0;
    }
};

// Decodes one block of `length` bytes into `out`. False on any fault.
bool decode_block(BitReader& r, u8* out, i64 length) {
    i64 produced = 0;
    while (produced < length) {
        r.refill();
        if (!r.need(1)) return false;
        if (r.take(1) == 0) {
            if (!r.need(8)) return false;
            out[produced++] = u8(r.take(8));
            continue;
        }
        // Length field: up to five prefix bits, then 2, 3, 5 or 9 value bits.
        u32 n;
        u32 prefix = 0;
        for (;;) {
            if (!r.need(1)) return false;
            if (r.take(1)) break;
            if (++prefix == 5) break;
        }
        static constexpr u32 value_bits[6] = {2, 2, 2, 3, 5, 9};
        static constexpr u32 base[6] = {0, 4, 8, 12, 20, 52};
        if (!r.need(value_bits[prefix])) return false;
        n = base[prefix] + r.take(value_bits[prefix]);
        if (!r.need(4)) return false;
        u32 k = r.take(4);
        u32 j = k == 0 ? 3 : k + 2;
        if (!r.need(j)) return false;
        u32 v = r.take(j);
        i64 distance = k == 0 ? i64(v) + 1 : (i64(1) << j) + v + 1;
        i64 len = i64(n) + MIN_MATCH;
        if (distance > produced || len > length - produced) return false;
        u8* dst = out + produced;
        const u8* src = dst - distance;
        if (distance >= 8) {
            // Eight bytes at a time may write up to seven bytes past the match;
            // the buffer has that slack and the next tokens overwrite them.
            for (i64 i = 0; i < len; i += 8) std::memcpy(dst + i, src + i, 8);
        } else {
            for (i64 i = 0; i < len; i++) dst[i] = src[i];
        }
        produced += len;
    }
    r.end_block();
    return true;
}

}  // namespace

i64 compress(const u8* in, i64 length, u8* out) {
    if (length < MIN_INPUT) return -1;
    Tables t;
    BitWriter w{out + HEADER_SIZE, length - HEADER_SIZE};
    for (i64 start = 0; start < length && !w.failed; start += BLOCK_SIZE) {
        i32 n = i32(length - start < BLOCK_SIZE ? length - start : BLOCK_SIZE);
        std::memcpy(t.block.data(), in + start, size_t(n));
        std::memset(t.block.data() + n, 0, size_t(MAX_MATCH + 16));
        u8* len = w.reserve(4);
        if (!len) break;
        put_u32(len, u32(n));
        compress_block(t, n, w);
    }
    if (w.failed) return -1;
    put_u32(out, u32(w.used));
    put_u32(out + 4, u32(length));
    return w.used + HEADER_SIZE;
}

bool decompress(const u8* in, i64 length, Unpacked* result) {
    result->data.reset();
    result->size = 0;
    if (length >= 0 && length < HEADER_SIZE) return false;
    i64 packed = get_u32(in);
    i64 size = get_u32(in + 4);
    if (length >= 0 && packed > length - HEADER_SIZE) return false;
    if (size > MAX_UNPACKED || size > max_unpacked(packed)) return false;
    // Eight bytes of slack for the matches copied eight bytes at a time.
    std::unique_ptr<u8[]> out(new (std::nothrow) u8[size_t(size + 8)]);
    if (!out) return false;
    const u8* end = in + HEADER_SIZE + packed;
    BitReader r{in + HEADER_SIZE, end};
    i64 produced = 0;
    while (r.pos < end) {
        if (end - r.pos < 4) return false;
        i64 block = get_u32(r.pos);
        r.pos += 4;
        if (block < 1 || block > BLOCK_SIZE || block > size - produced) return false;
        if (!decode_block(r, out.get() + produced, block)) return false;
        produced += block;
    }
    if (produced != size) return false;
    result->data = std::move(out);
    result->size = size;
    return true;
}

}  // namespace lz77
}  // namespace zir
