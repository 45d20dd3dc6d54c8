// Checksums: see checksum.hpp. The digests themselves are in crypto.cpp.
#include "services/checksum.hpp"

#include <cpuid.h>
#include <immintrin.h>

#include <array>
#include <cstring>

#include "datatypes/symbol.hpp"
#include "runtime/console.hpp"

namespace zir {
namespace checksum {

i32 sym_tcp, sym_md5, sym_sha1, sym_crc32, sym_adler32, sym_sha256, sym_sha384, sym_sha512, sym_hash;

void init() {
    sym_tcp = symbol::make("tcp");
    sym_md5 = symbol::make("md5");
    sym_sha1 = symbol::make("sha1");
    sym_crc32 = symbol::make("crc32");
    sym_adler32 = symbol::make("adler32");
    sym_sha256 = symbol::make("sha256");
    sym_sha384 = symbol::make("sha384");
    sym_sha512 = symbol::make("sha512");
    sym_hash = symbol::make("hash");
}

bool method_q(i32 symbol) {
    i32 s = symbol::resolve(symbol);
    return s == sym_adler32 || s == sym_hash || method_code(s) >= 0;
}

i32 method_code(i32 symbol) {
    i32 s = symbol::resolve(symbol);
    if (s == sym_tcp) return CODE_TCP;
    if (s == sym_crc32) return CODE_CRC32;
    if (s == sym_md5) return CODE_MD5;
    if (s == sym_sha1) return CODE_SHA1;
    if (s == sym_sha256) return CODE_SHA256;
    if (s == sym_sha384) return CODE_SHA384;
    if (s == sym_sha512) return CODE_SHA512;
    return -1;
}

i32 digest_size(i32 code) {
    switch (code) {
        case CODE_MD5: return 16;
        case CODE_SHA1: return 20;
        case CODE_SHA256: return 32;
        case CODE_SHA384: return 48;
        case CODE_SHA512: return 64;
        default: return 0;
    }
}

i32 code_symbol(i32 code) {
    switch (code) {
        case CODE_TCP: return sym_tcp;
        case CODE_CRC32: return sym_crc32;
        case CODE_MD5: return sym_md5;
        case CODE_SHA1: return sym_sha1;
        case CODE_SHA256: return sym_sha256;
        case CODE_SHA384: return sym_sha384;
        case CODE_SHA512: return sym_sha512;
        default: return 0;
    }
}

// --- CRC-32 -------------------------------------------------------------------
//
// Table k maps a byte to its CRC advanced by k further zero bytes, so sixteen
// bytes are folded in per step with sixteen independent lookups instead of a
// chain of sixteen dependent ones. Table 0 is the classic one-byte table.
// The tables are built by the compiler (16 KiB of read-only data).

namespace {

constexpr u32 CRC_POLY = 0xEDB88320;

constexpr std::array<std::array<u32, 256>, 16> make_crc_tables() {
    std::array<std::array<u32, 256>, 16> t{};
    for (u32 n = 0; n < 256; n++) {
        u32 c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ CRC_POLY : c >> 1;
        t[0][n] = c;
    }
    for (u32 n = 0; n < 256; n++)
        for (int k = 1; k < 16; k++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

constexpr auto crc_tables = make_crc_tables();

inline u32 load32(const u8* p) {
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}

// The CRC register after the bytes, without the complements of the
// algorithm's start and end.
u32 crc_bytes(u32 c, const u8* p, i64 length) {
    const auto& t = crc_tables;
    while (length >= 16) {
        u32 a = load32(p) ^ c, b = load32(p + 4), d = load32(p + 8), e = load32(p + 12);
        c = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
            t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
            t[7][d & 0xFF] ^ t[6][(d >> 8) & 0xFF] ^ t[5][(d >> 16) & 0xFF] ^ t[4][d >> 24] ^
            t[3][e & 0xFF] ^ t[2][(e >> 8) & 0xFF] ^ t[1][(e >> 16) & 0xFF] ^ t[0][e >> 24];
        p += 16;
        length -= 16;
    }
    while (length-- > 0) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return c;
}

// --- CRC-32 by carry-less multiplication ----------------------------------------
//
// Where the processor multiplies polynomials over GF(2) (PCLMULQDQ), 64 bytes
// are folded per step into four 128-bit remainders. The message is a
// polynomial whose first bit has the highest degree; a 16-byte block read
// little-endian holds in bit i the coefficient of x^(127 - i), and each 64-bit
// half the coefficient of x^(63 - i) in bit i. Moving a block B = H x^64 + L
// forward by n bits is B x^n = H x^(n+64) + L x^n, and modulo P each term is a
// product with a constant of 32 bits. The carry-less product of two such
// halves holds in bit k the coefficient of x^(126 - k): one degree short, so
// the constants are x^(n+63) mod P and x^(n-1) mod P. The last remainder, a
// 16-byte block whose CRC is what remains to compute, goes through the table
// code with the bytes after it.

constexpr u64 CRC_P = 0x104C11DB7;   // the polynomial, x^32 included

constexpr u64 x_pow_mod(unsigned n) {
    u64 r = 1;
    for (unsigned i = 0; i < n; i++) {
        r <<= 1;
        if (r >> 32) r ^= CRC_P;
    }
    return r;
}

// A remainder of degree below 32 as a 64-bit half: coefficient d in bit 63 - d.
constexpr u64 as_half(u64 r) {
    u64 v = 0;
    for (int d = 0; d < 32; d++)
        if ((r >> d) & 1) v |= u64(1) << (63 - d);
    return v;
}

// Constants moving a block forward by n bits: for its first half, then its second.
struct FoldBy {
    u64 first, second;
};
constexpr FoldBy fold_by(unsigned n) { return {as_half(x_pow_mod(n + 63)), as_half(x_pow_mod(n - 1))}; }
constexpr FoldBy FOLD_512 = fold_by(512);
constexpr FoldBy FOLD_128 = fold_by(128);

__attribute__((target("pclmul"))) inline __m128i fold(__m128i block, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(block, k, 0x00), _mm_clmulepi64_si128(block, k, 0x11));
}

// For length >= 64.
__attribute__((target("pclmul"))) u32 crc_folding(u32 c, const u8* p, i64 length) {
    auto load = [](const u8* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    __m128i r0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(i32(c)));
    __m128i r1 = load(p + 16), r2 = load(p + 32), r3 = load(p + 48);
    p += 64;
    length -= 64;
    const __m128i k512 = _mm_set_epi64x(i64(FOLD_512.second), i64(FOLD_512.first));
    while (length >= 64) {
        r0 = _mm_xor_si128(fold(r0, k512), load(p));
        r1 = _mm_xor_si128(fold(r1, k512), load(p + 16));
        r2 = _mm_xor_si128(fold(r2, k512), load(p + 32));
        r3 = _mm_xor_si128(fold(r3, k512), load(p + 48));
        p += 64;
        length -= 64;
    }
    const __m128i k128 = _mm_set_epi64x(i64(FOLD_128.second), i64(FOLD_128.first));
    __m128i r = _mm_xor_si128(fold(r0, k128), r1);
    r = _mm_xor_si128(fold(r, k128), r2);
    r = _mm_xor_si128(fold(r, k128), r3);
    while (length >= 16) {
        r = _mm_xor_si128(fold(r, k128), load(p));
        p += 16;
        length -= 16;
    }
    u8 last[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(last), r);
    return crc_bytes(crc_bytes(0, last, 16), p, length);
}

}  // namespace

// Whether the processor has carry-less multiplication: asked on the first
// long CRC, not at start-up (the question traps on some virtual machines).
namespace {
bool processor_folds() {
    static const bool has = [] {
        unsigned a, b, c, d;
        return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) != 0;
    }();
    return has;
}
bool folding_off = false;
}  // namespace

bool crc_folding_on() { return !folding_off && processor_folds(); }

void set_crc_folding(bool on) { folding_off = !on; }

u32 crc32_update(u32 crc, const u8* data, i64 length) {
    u32 c = ~crc;
    if (length >= 64 && crc_folding_on()) return ~crc_folding(c, data, length);
    return ~crc_bytes(c, data, length);
}

u32 crc32(const u8* data, i64 length) { return crc32_update(0, data, length); }

// --- Adler-32 -----------------------------------------------------------------
//
// Over a run of n bytes starting with sums (a, b), byte j adds p[j] to a and
// (n - j) * p[j] to b, and b also gains n * a. The run is read in chunks of 16
// bytes kept in per-lane sums, which the compiler turns into vector code:
//   lane[i]  = sum over chunks c of p[16c + i]
//   prefix[i] = sum over chunks of lane[i] after that chunk
//             = sum over chunks c of (k - c) * p[16c + i]     (k chunks)
// so the weight 16(k - c) - i of byte 16c + i gives
//   b += n * a + 16 * sum(prefix) - sum(i * lane[i]).
// Runs are short enough for the 32-bit lanes not to overflow; the sums are
// reduced modulo 65521 after each run.

namespace {

constexpr u32 ADLER_MOD = 65521;
// 347 chunks of 16: prefix lanes stay below 255 * 347 * 348 / 2 < 2^24.
constexpr i64 ADLER_RUN = 347 * 16;

}  // namespace

u32 adler32_update(u32 adler, const u8* data, i64 length) {
    u64 a = adler & 0xFFFF, b = adler >> 16;
    const u8* p = data;
    while (length >= 16) {
        i64 n = length < ADLER_RUN ? length & ~i64(15) : ADLER_RUN;
        u32 lane[16] = {}, prefix[16] = {};
        for (i64 c = 0; c < n; c += 16) {
            for (int i = 0; i < 16; i++) {
                lane[i] += p[c + i];
                prefix[i] += lane[i];
            }
        }
        u64 sum = 0, weighted = 0, pre = 0;
        for (int i = 0; i < 16; i++) {
            sum += lane[i];
            weighted += u64(i) * lane[i];
            pre += prefix[i];
        }
        b = (b + u64(n) * a + 16 * pre - weighted) % ADLER_MOD;
        a = (a + sum) % ADLER_MOD;
        p += n;
        length -= n;
    }
    while (length-- > 0) {
        a += *p++;
        b += a;
    }
    return u32((b % ADLER_MOD) << 16 | (a % ADLER_MOD));
}

u32 adler32(const u8* data, i64 length) { return adler32_update(1, data, length); }

// --- Internet checksum ----------------------------------------------------------
//
// The ones'-complement sum does not depend on byte order (RFC 1071, 2.B):
// summing the data as little-endian words and swapping the bytes of the folded
// result gives the sum of the big-endian words. A 64-bit accumulator of 32-bit
// words cannot overflow below 2^32 words, and every carry is folded back in at
// the end, so long data keeps the carries a 32-bit sum of 16-bit words loses.

u32 tcp(const u8* data, i64 length) {
    u64 sum = 0;
    const u8* p = data;
    while (length >= 4) {
        sum += load32(p);
        p += 4;
        length -= 4;
    }
    if (length >= 2) {
        sum += u32(p[0]) | u32(p[1]) << 8;
        p += 2;
        length -= 2;
    }
    if (length) sum += p[0];   // the high byte of a big-endian word
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    u32 s = u32(sum);
    s = ((s & 0xFF) << 8) | (s >> 8);
    return ~s & 0xFFFF;
}

// --- HMAC -----------------------------------------------------------------------

i32 hmac(const u8* data, i64 length, const u8* key, i64 key_length, i32 code, u8* out) {
    crypto::Digest inner(code);   // raises for a code without a digest
    i32 block = (code == CODE_SHA384 || code == CODE_SHA512) ? 128 : 64;
    u8 hashed_key[MAX_DIGEST];
    if (key_length > block) {
        key_length = crypto::hash(key, key_length, code, hashed_key);
        key = hashed_key;
    }
    u8 pad[128];
    std::memset(pad, 0, sizeof pad);
    if (key_length) std::memcpy(pad, key, size_t(key_length));
    for (i32 i = 0; i < block; i++) pad[i] ^= 0x36;
    inner.add(pad, block);
    inner.add(data, length);
    u8 inner_digest[MAX_DIGEST];
    i32 size = inner.finish(inner_digest);

    for (i32 i = 0; i < block; i++) pad[i] ^= 0x36 ^ 0x5C;
    crypto::Digest outer(code);
    outer.add(pad, block);
    outer.add(inner_digest, size);
    return outer.finish(out);
}

i32 hash_stub(const u8*, i64, i32) {
    static const char text[] = "** /hash support not yet implemented; algorithm TBD.";
    console::write(reinterpret_cast<const u8*>(text), u32(sizeof text - 1), 1, true);
    return 0;
}

}  // namespace checksum
}  // namespace zir
