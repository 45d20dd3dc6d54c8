// The LZ77 packer: round trips, the limits of blocks and of the compressor's
// input, and a decompressor that refuses every fault of its input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "loader/lz77.hpp"

namespace zir {
namespace {

std::vector<u8> pack(const std::vector<u8>& in) {
    std::vector<u8> out(in.size());
    i64 n = lz77::compress(in.data(), i64(in.size()), out.data());
    if (n < 0) return {};
    out.resize(size_t(n));
    return out;
}

bool unpack(const std::vector<u8>& in, std::vector<u8>* out) {
    lz77::Unpacked u;
    if (!lz77::decompress(in.data(), i64(in.size()), &u)) return false;
    out->assign(u.data.get(), u.data.get() + u.size);
    return true;
}

std::vector<u8> text_corpus(size_t n, u32 seed) {
    static const char* words[] = {"block",  "value", "[",      "]",   "function", "context", "print",
                                  "either", "make",  "object", "42",  "\"text\"", "\n    ",  "append",
                                  "series", "word:", ":get",   "/ref", "1.5",     "#{00FF}"};
    std::mt19937 rng(seed);
    std::vector<u8> out;
    while (out.size() < n) {
        const char* w = words[rng() % (sizeof words / sizeof *words)];
        out.insert(out.end(), w, w + std::strlen(w));
        out.push_back(' ');
    }
    out.resize(n);
    return out;
}

// An LSB-first bit writer to build streams by hand.
struct Bits {
    std::vector<u8> bytes;
    u32 count = 0;
    void put(u32 v, u32 n) {
        for (u32 i = 0; i < n; i++, count++) {
            if (count % 8 == 0) bytes.push_back(0);
            if ((v >> i) & 1) bytes.back() |= u8(1 << (count % 8));
        }
    }
};

std::vector<u8> stream(u32 unpacked, const std::vector<std::pair<u32, std::vector<u8>>>& blocks) {
    std::vector<u8> body;
    for (auto& [length, bits] : blocks) {
        for (int i = 0; i < 4; i++) body.push_back(u8(length >> (8 * i)));
        body.insert(body.end(), bits.begin(), bits.end());
    }
    std::vector<u8> out;
    u32 packed = u32(body.size());
    for (int i = 0; i < 4; i++) out.push_back(u8(packed >> (8 * i)));
    for (int i = 0; i < 4; i++) out.push_back(u8(unpacked >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

TEST(Lz77, RoundTripsTextOfEverySize) {
    for (size_t n : {size_t(128), size_t(129), size_t(1000), size_t(65536), size_t(300000)}) {
        std::vector<u8> in = text_corpus(n, u32(n));
        std::vector<u8> packed = pack(in);
        ASSERT_FALSE(packed.empty()) << n;
        EXPECT_LT(packed.size(), in.size()) << n;
        std::vector<u8> out;
        ASSERT_TRUE(unpack(packed, &out)) << n;
        EXPECT_EQ(out, in) << n;
    }
}

TEST(Lz77, FarMatchesAndLongRuns) {
    // A run longer than the longest match, and a repeat from 200,000 bytes back.
    std::vector<u8> in(1000, 'x');
    std::vector<u8> noise(200000);
    std::mt19937 rng(7);
    for (u8& b : noise) b = u8(rng() % 4 + 'a');
    in.insert(in.end(), noise.begin(), noise.end());
    in.insert(in.end(), noise.begin(), noise.begin() + 5000);
    std::vector<u8> packed = pack(in);
    ASSERT_FALSE(packed.empty());
    std::vector<u8> out;
    ASSERT_TRUE(unpack(packed, &out));
    EXPECT_EQ(out, in);
}

TEST(Lz77, BlocksOfExactlyOneMebibyteAndOneMore) {
    for (size_t n : {size_t(lz77::BLOCK_SIZE), size_t(lz77::BLOCK_SIZE) + 1}) {
        std::vector<u8> in = text_corpus(n, 3);
        std::vector<u8> packed = pack(in);
        ASSERT_FALSE(packed.empty());
        // The first block says 1,048,576 bytes; a second one holds the rest.
        u32 first;
        std::memcpy(&first, packed.data() + 8, 4);
        EXPECT_EQ(first, lz77::BLOCK_SIZE);
        std::vector<u8> out;
        ASSERT_TRUE(unpack(packed, &out));
        EXPECT_EQ(out, in);
    }
}

TEST(Lz77, BlockLengthsBeyondTheLimitAreRefused) {
    // One literal, then matches at distance 1 of 566 bytes up to the length.
    for (u32 length : {u32(lz77::BLOCK_SIZE), u32(lz77::BLOCK_SIZE) + 1}) {
        Bits bits;
        bits.put(0, 1), bits.put('z', 8);
        u32 left = length - 1;
        while (left > 0) {
            u32 len = left >= 566 ? 566 : left >= 3 ? left : 0;
            if (len == 0) {
                bits.put(0, 1), bits.put('z', 8);
                left--;
                continue;
            }
            // Length: n = len - 3 in the widest class, distance 1 (k = 0, v = 0).
            u32 n = len - 3;
            bits.put(1, 1);
            if (n >= 52) bits.put(0, 5), bits.put(n - 52, 9);
            else if (n >= 20) bits.put(16, 5), bits.put(n - 20, 5);
            else if (n >= 12) bits.put(8, 4), bits.put(n - 12, 3);
            else if (n >= 8) bits.put(4, 3), bits.put(n - 8, 2);
            else if (n >= 4) bits.put(2, 2), bits.put(n - 4, 2);
            else bits.put(1, 1), bits.put(n, 2);
            bits.put(0, 4), bits.put(0, 3);
            left -= len;
        }
        std::vector<u8> out;
        bool ok = unpack(stream(length, {{length, bits.bytes}}), &out);
        EXPECT_EQ(ok, length == lz77::BLOCK_SIZE) << length;
        if (ok) {
            EXPECT_EQ(out, std::vector<u8>(length, 'z'));
        }
    }
}

TEST(Lz77, AMatchAtDistanceOneRepeatsThePreviousByte) {
    for (u32 n : {0u, 5u, 60u, 563u}) {
        Bits bits;
        bits.put(0, 1), bits.put('q', 8);
        bits.put(1, 1);
        if (n >= 52) bits.put(0, 5), bits.put(n - 52, 9);
        else if (n >= 20) bits.put(16, 5), bits.put(n - 20, 5);
        else if (n >= 4) bits.put(2, 2), bits.put(n - 4, 2);
        else bits.put(1, 1), bits.put(n, 2);
        bits.put(0, 4), bits.put(0, 3);
        std::vector<u8> out;
        ASSERT_TRUE(unpack(stream(n + 4, {{n + 4, bits.bytes}}), &out)) << n;
        EXPECT_EQ(out, std::vector<u8>(n + 4, 'q')) << n;
    }
}

TEST(Lz77, ShortAndIncompressibleInputsAreNotPacked) {
    std::vector<u8> zeros(127, 0);
    std::vector<u8> out(127);
    EXPECT_EQ(lz77::compress(zeros.data(), 127, out.data()), -1);
    std::vector<u8> noise(5000);
    std::mt19937 rng(11);
    for (u8& b : noise) b = u8(rng());
    out.resize(noise.size());
    EXPECT_EQ(lz77::compress(noise.data(), i64(noise.size()), out.data()), -1);
    std::vector<u8> ok(128, 'a');
    out.resize(128);
    EXPECT_GT(lz77::compress(ok.data(), 128, out.data()), 0);
}

TEST(Lz77, EveryTruncationAndEveryHeaderLieIsRefused) {
    std::vector<u8> in = text_corpus(3000, 5);
    std::vector<u8> packed = pack(in);
    std::vector<u8> out;
    for (size_t n = 0; n < packed.size(); n++) {
        std::vector<u8> cut(packed.begin(), packed.begin() + long(n));
        EXPECT_FALSE(unpack(cut, &out)) << n;
    }
    auto with_header = [&](u32 p, u32 u) {
        std::vector<u8> v = packed;
        std::memcpy(v.data(), &p, 4);
        std::memcpy(v.data() + 4, &u, 4);
        return v;
    };
    u32 p = u32(packed.size() - 8);
    struct Case {
        u32 packed, unpacked;
        const char* why;
    } cases[] = {
        {p + 1, 3000, "packed size past the input"},
        {p, 2999, "blocks add up to more"},
        {p, 3001, "blocks add up to less"},
        {p, 0x7FFFFFFF, "past the longest series"},
        {p, u32(lz77::max_unpacked(p) + 1), "more than the packed bytes can hold"},
        {p - 1, 3000, "a bit stream running past the packed size"},
    };
    for (const Case& c : cases) EXPECT_FALSE(unpack(with_header(c.packed, c.unpacked), &out)) << c.why;
    EXPECT_TRUE(unpack(packed, &out));
}

TEST(Lz77, MatchesOutsideTheirBlockAreRefused) {
    // A match before any byte, and a match longer than the block.
    Bits before;
    before.put(1, 1), before.put(1, 1), before.put(0, 2), before.put(0, 4), before.put(0, 3);
    std::vector<u8> out;
    EXPECT_FALSE(unpack(stream(3, {{3, before.bytes}}), &out));
    Bits longer;
    longer.put(0, 1), longer.put('a', 8);
    longer.put(1, 1), longer.put(1, 1), longer.put(3, 2), longer.put(0, 4), longer.put(0, 3);   // 6 bytes
    EXPECT_FALSE(unpack(stream(4, {{4, longer.bytes}}), &out));
    // References never reach into the previous block.
    Bits first, second;
    first.put(0, 1), first.put('a', 8);
    second.put(1, 1), second.put(1, 1), second.put(0, 2), second.put(0, 4), second.put(0, 3);
    EXPECT_FALSE(unpack(stream(4, {{1, first.bytes}, {3, second.bytes}}), &out));
}

TEST(Lz77, AStreamEndingExactlyAtItsPackedSizeStops) {
    std::vector<u8> in = text_corpus(2000, 9);
    std::vector<u8> packed = pack(in);
    // Bytes after the packed size are not read as another block.
    std::vector<u8> longer = packed;
    longer.insert(longer.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x12});
    std::vector<u8> out;
    ASSERT_TRUE(unpack(longer, &out));
    EXPECT_EQ(out, in);
}

}  // namespace
}  // namespace zir
