// The deflate decoder and the zlib and gzip decoders on streams written by
// hand: each fault of the input answers its code and never reads or writes
// outside the buffers; the edge cases the format allows decode. Interop with
// zlib's own output at every level is checked by tests/oracle/codec.py.
#include <zlib.h>

#include <string>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "services/checksum.hpp"
#include "services/compress.hpp"
#include "support.hpp"

namespace zir {
namespace {

using Bytes = std::vector<u8>;

// Writes a deflate stream: plain values least significant bit first, Huffman
// codes most significant bit first.
struct BitStream {
    Bytes bytes;
    u64 acc = 0;
    int n = 0;
    BitStream& put(u32 value, int count) {
        acc |= u64(value) << n;
        n += count;
        while (n >= 8) {
            bytes.push_back(u8(acc));
            acc >>= 8;
            n -= 8;
        }
        return *this;
    }
    BitStream& code(u32 c, int length) {
        for (int i = length - 1; i >= 0; i--) put((c >> i) & 1, 1);
        return *this;
    }
    // A symbol of the fixed literal/length code, and a fixed distance code.
    BitStream& fixed(u32 symbol) {
        if (symbol < 144) return code(0x30 + symbol, 8);
        if (symbol < 256) return code(0x190 + symbol - 144, 9);
        if (symbol < 280) return code(symbol - 256, 7);
        return code(0xC0 + symbol - 280, 8);
    }
    BitStream& fixed_distance(u32 symbol) { return code(symbol, 5); }
    Bytes done() {
        Bytes b = bytes;
        if (n) b.push_back(u8(acc));
        return b;
    }
};

// Canonical codes of a list of code lengths (RFC 1951, 3.2.2).
std::vector<u32> canonical(const std::vector<u8>& lengths) {
    u32 count[16] = {}, next[16] = {};
    for (u8 l : lengths) count[l]++;
    count[0] = 0;
    for (int bits = 1, c = 0; bits < 16; bits++) next[bits] = c = (c + count[bits - 1]) << 1;
    std::vector<u32> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); s++)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

// The code-length code used by the dynamic blocks below: 16 gets two bits,
// 17 and 18 three, the lengths 0..15 five (a complete code).
const std::vector<u8> CL_LENGTHS = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 2, 3, 3};
const int CL_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A dynamic block header whose code lengths are written as the given
// code-length symbols, each with its extra bits.
struct LengthSymbol {
    u32 symbol, extra = 0;
};

void dynamic_header(BitStream& b, bool final, int nlit, int ndist, const std::vector<LengthSymbol>& symbols,
                    const std::vector<u8>& cl_lengths = CL_LENGTHS) {
    b.put(final, 1).put(2, 2).put(u32(nlit - 257), 5).put(u32(ndist - 1), 5).put(19 - 4, 4);
    for (int i = 0; i < 19; i++) b.put(cl_lengths[size_t(CL_ORDER[i])], 3);
    std::vector<u32> cl = canonical(cl_lengths);
    for (const LengthSymbol& s : symbols) {
        b.code(cl[s.symbol], cl_lengths[s.symbol]);
        if (s.symbol == 16) b.put(s.extra, 2);
        if (s.symbol == 17) b.put(s.extra, 3);
        if (s.symbol == 18) b.put(s.extra, 7);
    }
}

std::vector<LengthSymbol> plain(const std::vector<u8>& lit, const std::vector<u8>& dist) {
    std::vector<LengthSymbol> s;
    for (u8 l : lit) s.push_back({l});
    for (u8 l : dist) s.push_back({l});
    return s;
}

struct Decoded {
    int result;
    Bytes out;
};

Decoded decode_with(int (*codec)(u8*, i64*, const u8*, i64), const Bytes& in, i64 capacity = 1 << 16) {
    // The input is copied into a buffer of its exact size, so that AddressSanitizer
    // catches a read past its end.
    std::vector<u8> input(in);
    Bytes out(static_cast<size_t>(capacity));
    i64 size = capacity;
    int r = codec(out.data(), &size, input.data(), i64(input.size()));
    out.resize(size_t(std::min(size, capacity)));
    return {r, out};
}

Decoded inflated(const Bytes& in, i64 capacity = 1 << 16) { return decode_with(compress::inflate, in, capacity); }

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes zlib_raw_inflate(const Bytes& in, int* status) {
    Bytes out(1 << 16);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<u8*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    *status = ::inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// --- Block types ----------------------------------------------------------------------

TEST(Inflate, StoredBlocks) {
    // Two stored blocks: "abc" (not final), then "de" (final).
    Bytes s = {0x00, 3, 0, 0xFC, 0xFF, 'a', 'b', 'c', 0x01, 2, 0, 0xFD, 0xFF, 'd', 'e'};
    Decoded d = inflated(s);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.out, bytes_of("abcde"));
    // An empty stored block.
    EXPECT_EQ(inflated({0x01, 0, 0, 0xFF, 0xFF}).out, Bytes{});
    EXPECT_EQ(inflated({0x01, 0, 0, 0xFF, 0xFF}).result, 0);
}

TEST(Inflate, StoredBlockWithAWrongNlenStillDecodes) {
    Bytes s = {0x01, 3, 0, 0x12, 0x34, 'x', 'y', 'z'};
    Decoded d = inflated(s);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.out, bytes_of("xyz"));
}

TEST(Inflate, StoredBlockAfterBitsOfAnotherBlock) {
    // A fixed block holding "a" ends inside a byte; the stored block that
    // follows starts at the next byte boundary.
    BitStream b;
    b.put(0, 1).put(1, 2).fixed('a').fixed(256);
    b.put(1, 1).put(0, 2);
    Bytes s = b.done();
    for (int x : {2, 0, 0xFD, 0xFF, int('b'), int('c')}) s.push_back(u8(x));
    Decoded d = inflated(s);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.out, bytes_of("abc"));
}

TEST(Inflate, FixedBlockWithMatches) {
    // "abc", then length 6 at distance 3 (overlapping), then length 258 at
    // distance 1: the longest match, copied over itself.
    BitStream b;
    b.put(1, 1).put(1, 2).fixed('a').fixed('b').fixed('c');
    b.fixed(260).fixed_distance(2);   // length 6, distance 3
    b.fixed(285).fixed_distance(0);   // length 258, distance 1
    b.fixed(256);
    Decoded d = inflated(b.done());
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.out, bytes_of("abcabcabc" + std::string(258, 'c')));
}

TEST(Inflate, DynamicBlockWithFifteenBitCodes) {
    // Literals 'a'..'m' get codes of 1..13 bits, which leaves room for four
    // codes of 15 bits: 'n', 'o', the length symbol 285 and the end of block.
    // One distance code of one bit: incomplete, as the format allows for a
    // lone code.
    std::vector<u8> lit(286, 0);
    for (int i = 0; i < 13; i++) lit[size_t('a' + i)] = u8(i + 1);
    lit['n'] = lit['o'] = lit[285] = lit[256] = 15;
    std::vector<u32> codes = canonical(lit);
    BitStream b;
    dynamic_header(b, true, 286, 1, plain(lit, {1}));
    std::string expected;
    for (int round = 0; round < 3; round++)
        for (char c = 'a'; c <= 'o'; c++) {
            b.code(codes[size_t(c)], lit[size_t(c)]);
            expected += c;
        }
    b.code(codes[285], 15).code(0, 1);   // 258 copies of the byte before
    expected += std::string(258, 'o');
    b.code(codes[256], 15);
    Bytes s = b.done();
    Decoded d = inflated(s);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.out, bytes_of(expected));
    int status;
    EXPECT_EQ(zlib_raw_inflate(s, &status), bytes_of(expected));
    EXPECT_EQ(status, Z_STREAM_END);
}

TEST(Inflate, RepeatCodes) {
    // Literal/length lengths: 8 bits for 0..127, 2 bits for 200 and the end
    // of block (a complete code); four distance codes of 2 bits. Written with
    // every repeat code, and a 16 that repeats the last literal/length length
    // into the distance lengths, which the format allows.
    std::vector<u8> lit(257, 0);
    for (int i = 0; i < 128; i++) lit[size_t(i)] = 8;
    lit[200] = lit[256] = 2;
    std::vector<LengthSymbol> syms = {{8}, {16, 3}};   // seven 8s
    for (int i = 7; i < 128; i++) syms.push_back({8});
    syms.push_back({18, 72 - 11});   // 128..199
    syms.push_back({2});             // 200
    syms.push_back({17, 7});         // 201..210
    syms.push_back({18, 45 - 11});   // 211..255
    syms.push_back({2});             // 256
    syms.push_back({16, 0});         // distances 0..2
    syms.push_back({2});             // distance 3
    BitStream b;
    dynamic_header(b, true, 257, 4, syms);
    std::vector<u32> codes = canonical(lit);
    b.code(codes['A'], 8).code(codes[200], 2).code(codes['B'], 8).code(codes[256], 2);
    Bytes s = b.done();
    Decoded d = inflated(s);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.out, (Bytes{'A', 200, 'B'}));
    int status;
    EXPECT_EQ(zlib_raw_inflate(s, &status), (Bytes{'A', 200, 'B'}));
}

// --- Faults ----------------------------------------------------------------------------

TEST(Inflate, FaultsAnswerTheirCodes) {
    struct Case {
        const char* what;
        Bytes stream;
        int expected;
    };
    std::vector<Case> cases;
    cases.push_back({"empty input", {}, compress::BAD_DATA});
    cases.push_back({"block type 3", BitStream().put(1, 1).put(3, 2).done(), compress::BAD_BLOCK_TYPE});
    cases.push_back({"stored block longer than the input", {0x01, 10, 0, 0xF5, 0xFF, 'a', 'b'},
                     compress::STORED_TOO_LONG});
    cases.push_back({"stored header cut short", {0x01, 10, 0}, compress::BAD_DATA});
    cases.push_back({"distance before the output",
                     BitStream().put(1, 1).put(1, 2).fixed('a').fixed(257).fixed_distance(1).fixed(256).done(),
                     compress::DISTANCE_TOO_FAR});
    cases.push_back({"length/literal symbol 286",
                     BitStream().put(1, 1).put(1, 2).fixed('a').fixed(286).fixed_distance(0).fixed(256).done(),
                     compress::BAD_DATA});
    cases.push_back({"length/literal symbol 287",
                     BitStream().put(1, 1).put(1, 2).fixed('a').fixed(287).fixed_distance(0).fixed(256).done(),
                     compress::BAD_DATA});
    cases.push_back({"distance symbol 30",
                     BitStream().put(1, 1).put(1, 2).fixed('a').fixed(257).fixed_distance(30).fixed(256).done(),
                     compress::BAD_DATA});
    cases.push_back({"distance symbol 31",
                     BitStream().put(1, 1).put(1, 2).fixed('a').fixed(257).fixed_distance(31).fixed(256).done(),
                     compress::BAD_DATA});
    cases.push_back({"no final block", BitStream().put(0, 1).put(1, 2).fixed('a').fixed(256).done(),
                     compress::BAD_DATA});
    cases.push_back({"a byte after the final block",
                     [] {
                         Bytes b = BitStream().put(1, 1).put(1, 2).fixed('a').fixed(256).done();
                         b.push_back(0);
                         return b;
                     }(),
                     compress::BAD_DATA});
    for (const Case& c : cases) EXPECT_EQ(inflated(c.stream).result, c.expected) << c.what;
}

TEST(Inflate, EveryTruncationIsRefused) {
    // Stored, fixed and dynamic blocks in one stream, cut at every byte: never
    // success with what was read so far.
    Bytes text = bytes_of("a stream of several blocks, a stream of several blocks, and then some");
    Bytes full;
    {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        Bytes out(4096);
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        z.next_in = text.data();
        z.avail_in = 20;
        deflate(&z, Z_FULL_FLUSH);   // a fixed block, then an empty stored one
        deflateParams(&z, 0, Z_DEFAULT_STRATEGY);
        z.avail_in = 20;
        deflate(&z, Z_FULL_FLUSH);   // stored
        deflateParams(&z, 9, Z_HUFFMAN_ONLY);
        z.avail_in = uInt(text.size() - 40);
        deflate(&z, Z_FINISH);
        out.resize(z.total_out);
        deflateEnd(&z);
        full = out;
    }
    Decoded whole = inflated(full);
    ASSERT_EQ(whole.result, 0);
    ASSERT_EQ(whole.out, text);
    for (size_t cut = 0; cut < full.size(); cut++) {
        Bytes part(full.begin(), full.begin() + long(cut));
        int r = inflated(part).result;
        EXPECT_NE(r, compress::OK) << "cut at " << cut;
        EXPECT_NE(r, compress::OUTPUT_TOO_SMALL) << "cut at " << cut;
    }
}

TEST(Inflate, BadDynamicCodesAreRefused) {
    std::vector<u8> lit(257, 0);
    for (int i = 0; i < 256; i++) lit[size_t(i)] = 9;   // 256 nine-bit codes: half the space
    lit[256] = 1;                                       // the other half
    std::vector<u8> dist = {1, 1};
    auto header = [](std::vector<u8> l, std::vector<u8> d) {
        BitStream b;
        dynamic_header(b, true, int(l.size()), int(d.size()), plain(l, d));
        return b;
    };
    // A well-formed block first: the literal 'x', then the end.
    {
        BitStream b = header(lit, dist);
        std::vector<u32> c = canonical(lit);
        b.code(c['x'], 9).code(c[256], 1);
        Decoded d = inflated(b.done());
        EXPECT_EQ(d.result, 0);
        EXPECT_EQ(d.out, bytes_of("x"));
    }
    struct Case {
        const char* what;
        Bytes stream;
    };
    std::vector<Case> cases;
    {
        std::vector<u8> over = lit;
        over[255] = 1;   // two one-bit codes and 255 nine-bit ones
        cases.push_back({"over-subscribed literal/length code", header(over, dist).code(0, 1).done()});
    }
    {
        std::vector<u8> incomplete = lit;
        incomplete[0] = 0;   // a nine-bit code left unused
        cases.push_back({"incomplete literal/length code", header(incomplete, dist).code(0, 1).done()});
    }
    {
        std::vector<u8> no_end(257, 8);   // every literal in 8 bits: complete
        no_end[256] = 0;
        cases.push_back({"no end-of-block code", header(no_end, dist).code(0, 8).done()});
    }
    cases.push_back({"incomplete distance code of two symbols", header(lit, {1, 2}).code(0, 1).done()});
    cases.push_back({"over-subscribed distance code", header(lit, {1, 1, 1}).code(0, 1).done()});
    {
        // The code-length code itself incomplete: 0..15 and 16 as before, 17
        // and 18 unused.
        std::vector<u8> cl = CL_LENGTHS;
        cl[17] = cl[18] = 0;
        BitStream b;
        dynamic_header(b, true, 257, 2, plain(lit, dist), cl);
        cases.push_back({"incomplete code-length code", b.code(0, 1).done()});
    }
    {
        // A repeat with nothing before it, for the first three lengths, in a
        // block that would decode were they read as 0.
        std::vector<u8> rest = lit;
        rest[0] = rest[1] = rest[2] = 0;
        rest[3] = rest[4] = rest[5] = 8;   // the space of 0..2 given to 3..5
        std::vector<u8> later(rest.begin() + 3, rest.end());
        std::vector<LengthSymbol> s = {{16, 0}};
        for (LengthSymbol x : plain(later, dist)) s.push_back(x);
        BitStream b;
        dynamic_header(b, true, 257, 2, s);
        cases.push_back({"repeat of no previous length", b.code(canonical(rest)[256], 1).done()});
    }
    {
        BitStream b;
        std::vector<LengthSymbol> s = plain(lit, {});
        s.push_back({18, 0});   // 11 zeros where one distance length is left
        dynamic_header(b, true, 257, 1, s);
        cases.push_back({"zeros past the last length", b.done()});
    }
    {
        BitStream b;
        std::vector<LengthSymbol> s = plain(lit, {});
        s.push_back({1});
        s.push_back({16, 3});   // six copies where one length is left
        dynamic_header(b, true, 257, 2, s);
        cases.push_back({"repeat past the last length", b.done()});
    }
    for (const Case& c : cases) EXPECT_EQ(inflated(c.stream).result, compress::BAD_DATA) << c.what;
}

TEST(Inflate, LoneAndEmptyDistanceCodes) {
    std::vector<u8> lit(257, 0);
    for (int i = 0; i < 256; i++) lit[size_t(i)] = 9;
    lit[256] = 1;
    std::vector<u32> c = canonical(lit);
    // No distance code at all: a block of literals only.
    {
        BitStream b;
        dynamic_header(b, true, 257, 1, plain(lit, {0}));
        b.code(c['q'], 9).code(c[256], 1);
        Decoded d = inflated(b.done());
        EXPECT_EQ(d.result, 0);
        EXPECT_EQ(d.out, bytes_of("q"));
    }
    // A lone literal/length code: only the end of block, of one bit.
    {
        std::vector<u8> only_end(257, 0);
        only_end[256] = 1;
        BitStream b;
        dynamic_header(b, true, 257, 1, plain(only_end, {0}));
        b.code(0, 1);
        Decoded d = inflated(b.done());
        EXPECT_EQ(d.result, 0);
        EXPECT_TRUE(d.out.empty());
        // The other one-bit value has no symbol.
        BitStream bad;
        dynamic_header(bad, true, 257, 1, plain(only_end, {0}));
        bad.code(1, 1);
        EXPECT_EQ(inflated(bad.done()).result, compress::BAD_DATA);
    }
}

TEST(Inflate, SmallOutputCountsTheWholeSize) {
    Bytes text;
    for (int i = 0; i < 500; i++) text.push_back(u8('a' + i % 7));
    uLongf n = 2000;
    Bytes z(n);
    ASSERT_EQ(compress2(z.data(), &n, text.data(), uLong(text.size()), 6), Z_OK);
    Bytes raw(z.begin() + 2, z.begin() + long(n) - 4);
    for (i64 capacity : {0, 1, 100, 499}) {
        Decoded d = inflated(raw, capacity);
        EXPECT_EQ(d.result, compress::OUTPUT_TOO_SMALL) << capacity;
        // The bytes stored are the start of the output.
        EXPECT_TRUE(std::equal(d.out.begin(), d.out.end(), text.begin())) << capacity;
        i64 size = capacity;
        Bytes out(size_t(capacity) + 1);
        compress::inflate(out.data(), &size, raw.data(), i64(raw.size()));
        EXPECT_EQ(size, 500) << capacity;
    }
    EXPECT_EQ(inflated(raw, 500).result, 0);
    EXPECT_EQ(inflated(raw, 500).out, text);
}

// --- zlib and gzip framing -------------------------------------------------------------

Bytes zlib_of(const Bytes& data) {
    uLongf n = compressBound(uLong(data.size()));
    Bytes z(n);
    compress2(z.data(), &n, data.data(), uLong(data.size()), 6);
    z.resize(n);
    return z;
}

TEST(ZlibDecode, HeaderChecks) {
    Bytes data = bytes_of("framed data, framed data");
    Bytes good = zlib_of(data);
    Decoded d = decode_with(compress::zlib_decode, good);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.out, data);
    struct Case {
        const char* what;
        Bytes stream;
    };
    std::vector<Case> cases;
    for (size_t n = 0; n < 6; n++) cases.push_back({"shorter than 6 bytes", Bytes(good.begin(), good.begin() + long(n))});
    cases.push_back({"header not a multiple of 31", [&] { Bytes b = good; b[1] ^= 1; return b; }()});
    cases.push_back({"method 7", [&] { Bytes b = good; b[0] = 0x77; b[1] = 0x01; b[1] = u8(31 - (0x7700 % 31)); return b; }()});
    cases.push_back({"window over 32 KiB", [&] { Bytes b = good; b[0] = 0x88; b[1] = u8(31 - (0x8800 % 31)); return b; }()});
    cases.push_back({"preset dictionary", [&] { Bytes b = good; b[0] = 0x78; b[1] = 0x20; b[1] = u8(0x20 + (31 - (0x7820 % 31))); return b; }()});
    cases.push_back({"Adler-32 of other data", [&] { Bytes b = good; b.back() ^= 0x40; return b; }()});
    for (const Case& c : cases) EXPECT_EQ(decode_with(compress::zlib_decode, c.stream).result, compress::BAD_DATA) << c.what;
    // Tiny input must not be read past its end.
    EXPECT_EQ(decode_with(compress::zlib_decode, {0x78}).result, compress::BAD_DATA);
}

Bytes gzip_member(const Bytes& data, u8 flags, const Bytes& fields, u32 size_override = 0, bool override = false) {
    Bytes z = zlib_of(data);
    Bytes g = {0x1F, 0x8B, 8, flags, 0, 0, 0, 0, 0, 3};
    for (u8 x : fields) g.push_back(x);
    g.insert(g.end(), z.begin() + 2, z.end() - 4);
    u32 crc = checksum::crc32(data.data(), i64(data.size()));
    u32 size = override ? size_override : u32(data.size());
    for (int i = 0; i < 4; i++) g.push_back(u8(crc >> (8 * i)));
    for (int i = 0; i < 4; i++) g.push_back(u8(size >> (8 * i)));
    return g;
}

TEST(Gunzip, HeaderFields) {
    Bytes data = bytes_of("gzip member with header fields");
    Bytes extra = {4, 0, 'a', 'b', 'c', 'd'};
    Bytes name = bytes_of("file.txt");
    name.push_back(0);
    Bytes comment = bytes_of("a comment");
    comment.push_back(0);
    Bytes all = extra;
    all.insert(all.end(), name.begin(), name.end());
    all.insert(all.end(), comment.begin(), comment.end());
    for (auto [flags, fields] : std::vector<std::pair<u8, Bytes>>{
             {0, {}}, {1, {}}, {4, extra}, {8, name}, {16, comment}, {28, all}}) {
        Decoded d = decode_with(compress::gunzip, gzip_member(data, flags, fields));
        EXPECT_EQ(d.result, 0) << int(flags);
        EXPECT_EQ(d.out, data) << int(flags);
    }
    // The header CRC: the low half of the CRC-32 of the header before it.
    Bytes head = {0x1F, 0x8B, 8, 2 | 8, 0, 0, 0, 0, 0, 3};
    head.insert(head.end(), name.begin(), name.end());
    u32 crc = checksum::crc32(head.data(), i64(head.size()));
    Bytes with_crc = name;
    with_crc.push_back(u8(crc));
    with_crc.push_back(u8(crc >> 8));
    EXPECT_EQ(decode_with(compress::gunzip, gzip_member(data, 2 | 8, with_crc)).out, data);
    with_crc[with_crc.size() - 1] ^= 1;
    EXPECT_EQ(decode_with(compress::gunzip, gzip_member(data, 2 | 8, with_crc)).result, compress::BAD_DATA);
}

TEST(Gunzip, FaultsOfTheFrame) {
    Bytes data = bytes_of("gzip member, gzip member, gzip member");
    Bytes good = gzip_member(data, 0, {});
    struct Case {
        const char* what;
        Bytes stream;
    };
    std::vector<Case> cases = {
        {"shorter than 18 bytes", Bytes(good.begin(), good.begin() + 17)},
        {"bad magic", [&] { Bytes b = good; b[1] = 0x8C; return b; }()},
        {"method 7", [&] { Bytes b = good; b[2] = 7; return b; }()},
        {"reserved flag", gzip_member(data, 32, {})},
        {"extra field past the end", gzip_member(data, 4, {0xFF, 0x7F})},
        {"extra length cut", [&] { Bytes b = {0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 3}; b.resize(18, 0xFF); return b; }()},
        {"name without its end", [&] { Bytes b = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 3}; b.resize(40, 'n'); return b; }()},
        {"CRC-32 of other data", [&] { Bytes b = good; b[b.size() - 8] ^= 1; return b; }()},
        {"stored size too small", gzip_member(data, 0, {}, u32(data.size() - 1), true)},
        {"stored size too large", gzip_member(data, 0, {}, u32(data.size() + 1), true)},
        {"stored size the data cannot reach", gzip_member(data, 0, {}, 0xFFFFFFF0u, true)},
    };
    for (const Case& c : cases) EXPECT_EQ(decode_with(compress::gunzip, c.stream).result, compress::BAD_DATA) << c.what;
}

TEST(Gunzip, StoredSizeAboveTheCapacityAnswersIt) {
    Bytes data(5000, 'z');
    Bytes g = gzip_member(data, 0, {});
    i64 size = 100;
    Bytes out(100);
    EXPECT_EQ(compress::gunzip(out.data(), &size, g.data(), i64(g.size())), compress::OUTPUT_TOO_SMALL);
    EXPECT_EQ(size, 5000);
}

// --- Series decoding bounds --------------------------------------------------------------

u32 series_of(const Bytes& b) {
    u32 node = memory::alloc_bytes(i64(b.size()));
    SeriesBuffer* s = node_buffer(node);
    std::memcpy(series::head(s), b.data(), b.size());
    s->tail = s->offset + u32(b.size());
    return node;
}

TEST(GunzipSeries, TheStoredSizeClaimsNoMoreThanTheDataCanFill) {
    // A gzip member of 10 MiB of zeros whose trailer says 1,000 bytes: the
    // output stops growing at 1,000 bytes instead of decoding all of it.
    Bytes zeros(10 << 20, 0);
    Bytes lying = gzip_member(zeros, 0, {}, 1000, true);
    collector::RootNode source(series_of(lying));
    i64 before = memory::frame_total();
    EXPECT_THROW(compress::decode(compress::GZIP, source, 0, i64(lying.size()), 0), LanguageError);
    EXPECT_LT(memory::frame_total() - before, i64(1) << 20);
    // A trailer claiming 2 GiB for a few bytes is refused before anything is
    // allocated for it.
    Bytes tiny = gzip_member(bytes_of("tiny"), 0, {}, 0x7FFFFFF0u, true);
    collector::RootNode small(series_of(tiny));
    before = memory::frame_total();
    EXPECT_THROW(compress::decode(compress::GZIP, small, 0, i64(tiny.size()), 0), LanguageError);
    EXPECT_LT(memory::frame_total() - before, i64(1) << 20);
}

TEST(InflateSeries, TruncatedDataRaisesInvalidData) {
    Bytes text(3000, 't');
    Bytes z = zlib_of(text);
    Bytes raw(z.begin() + 2, z.end() - 5);   // the last byte of the deflate data cut
    collector::RootNode source(series_of(raw));
    try {
        compress::decode(compress::DEFLATE, source, 0, i64(raw.size()), 0);
        ADD_FAILURE() << "truncated data decoded";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "invalid-data");
    }
}

}  // namespace
}  // namespace zir
