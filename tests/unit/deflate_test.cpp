// The deflate encoder and the zlib and gzip encoders: the exact bytes the
// encoder's rules give, the capacity contract of the buffer codecs, and the
// series routines (worst-case sizing, buffers moved by the collector). That
// zlib inflates everything we produce, and that our bytes equal an independent
// model of the rules over larger inputs, is checked by tests/oracle/codec.py.
#include <zlib.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "services/checksum.hpp"
#include "services/compress.hpp"
#include "support.hpp"

namespace zir {
namespace {

using Bytes = std::vector<u8>;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes hex(const std::string& h) {
    Bytes b;
    for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(u8(std::stoul(h.substr(i, 2), nullptr, 16)));
    return b;
}

Bytes random_bytes(size_t n, u32 seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = u8(rng());
    return b;
}

// Runs a buffer codec with the given capacity; answers the code, and the
// output in `out` (its size is what the codec reported).
int run(int (*codec)(u8*, i64*, const u8*, i64), const Bytes& in, i64 capacity, Bytes* out) {
    out->assign(size_t(capacity) + 64, 0xEE);
    i64 size = capacity;
    int r = codec(out->data(), &size, in.data(), i64(in.size()));
    out->resize(size_t(size));
    return r;
}

Bytes deflated(const Bytes& in) {
    Bytes out;
    EXPECT_EQ(run(compress::deflate, in, compress::max_encoded_size(compress::DEFLATE, i64(in.size())), &out), 0);
    return out;
}

Bytes zlib_inflate_raw(const Bytes& in, size_t expected) {
    Bytes out(expected + 1);
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<u8*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int r = ::inflate(&z, Z_FINISH);
    EXPECT_EQ(r, Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

TEST(Deflate, KnownEncodings) {
    // Bytes the encoder's rules give, worked out by hand and by a model.
    struct Case {
        const char* input;
        const char* encoded;
    } cases[] = {
        {"", "0300"},                       // header bits 1 01, the end code
        {"a", "4b0400"},                    // one 8-bit literal
        {"aaaaaaaaaa", "4b4c4c840200"},     // three literals, then length 7 at distance 1
        // Position 0 is stored in its bucket as 0, which marks an empty entry,
        // so the second "abc" finds nothing; "bcabc" matches at distance 3.
        {"abcabcabc", "4b4c4a4e042300"},
        {"hello hello hello hello", "cb48cdc9c957c8402701"},
    };
    for (const Case& c : cases) EXPECT_EQ(deflated(bytes_of(c.input)), hex(c.encoded)) << c.input;
}

TEST(Deflate, FirstThreeAndLastTwoBytesAreLiterals) {
    // No match starts before position 3 nor with fewer than three bytes left:
    // up to five equal bytes are all literals.
    for (size_t n = 1; n <= 5; n++) {
        Bytes in(n, 'a');
        Bytes out = deflated(in);
        // Header 3 bits + n literals of 8 bits + 7 end bits.
        EXPECT_EQ(out.size(), (3 + 8 * n + 7 + 7) / 8) << n;
        EXPECT_EQ(zlib_inflate_raw(out, n), in);
    }
    // Six bytes: a match of three at position 3.
    Bytes six(6, 'a');
    EXPECT_LT(deflated(six).size(), (3 + 8 * 6 + 7 + 7) / 8);
}

TEST(Deflate, NineBitLiteralsAndLongMatches) {
    // Bytes 144..255 take 9 bits; a run longer than 258 is cut in matches of
    // at most 258 (length symbol 285), and distances up to 32,767 are used.
    Bytes high(2000);
    for (size_t i = 0; i < high.size(); i++) high[i] = u8(144 + i % 112);
    Bytes run(100000, 0xF0);
    Bytes far = random_bytes(32000, 3);
    Bytes again = far;
    far.insert(far.end(), again.begin(), again.begin() + 500);
    for (const Bytes* in : {&high, &run, &far}) {
        Bytes out = deflated(*in);
        EXPECT_EQ(zlib_inflate_raw(out, in->size()), *in);
    }
    EXPECT_LT(deflated(run).size(), 1000u);
    EXPECT_LT(deflated(far).size(), 32000 * 9 / 8 + 200);
}

TEST(Deflate, TooSmallAnOutputAnswersTheSizeNeeded) {
    Bytes in = bytes_of(std::string(300, 'x') + "some text that is not repeated");
    Bytes full = deflated(in);
    for (i64 capacity : {i64(0), i64(1), i64(5), i64(full.size()) - 1}) {
        Bytes out;
        EXPECT_EQ(run(compress::deflate, in, capacity, &out), compress::OUTPUT_TOO_SMALL) << capacity;
        ASSERT_EQ(out.size(), full.size());
        // What fitted is the start of the encoding, and nothing past the
        // capacity was written.
        EXPECT_TRUE(std::equal(full.begin(), full.begin() + capacity, out.begin()));
    }
    Bytes out(full.size() + 8, 0xEE);
    i64 size = i64(full.size());
    EXPECT_EQ(compress::deflate(out.data(), &size, in.data(), i64(in.size())), compress::OK);
    EXPECT_EQ(out[full.size()], 0xEE);
}

TEST(Deflate, WorstCaseBoundHolds) {
    // Bytes of the 9-bit half with no three in a row met twice (so no match)
    // are the worst case.
    for (size_t n : {0, 1, 2, 7, 8, 9, 1000}) {
        Bytes in(n);
        std::mt19937 rng{u32(n)};
        std::set<u32> seen;
        for (size_t i = 0; i < n; i++) {
            do in[i] = u8(144 + rng() % 112);
            while (i >= 2 && seen.count(u32(in[i - 2]) << 16 | u32(in[i - 1]) << 8 | in[i]));
            if (i >= 2) seen.insert(u32(in[i - 2]) << 16 | u32(in[i - 1]) << 8 | in[i]);
        }
        Bytes out;
        EXPECT_EQ(run(compress::deflate, in, compress::max_encoded_size(compress::DEFLATE, i64(n)), &out), 0);
        EXPECT_EQ(i64(out.size()), compress::max_encoded_size(compress::DEFLATE, i64(n))) << n;
    }
}

TEST(Framing, ZlibHeaderAndTrailer) {
    Bytes in = bytes_of("hello hello hello hello");
    Bytes out;
    ASSERT_EQ(run(compress::zlib_encode, in, 100, &out), 0);
    Bytes expected = hex("7801");
    Bytes body = deflated(in);
    expected.insert(expected.end(), body.begin(), body.end());
    u32 adler = checksum::adler32(in.data(), i64(in.size()));
    for (int i = 3; i >= 0; i--) expected.push_back(u8(adler >> (8 * i)));
    EXPECT_EQ(out, expected);
    uLongf n = 100;
    Bytes back(n);
    EXPECT_EQ(uncompress(back.data(), &n, out.data(), uLong(out.size())), Z_OK);
    back.resize(n);
    EXPECT_EQ(back, in);
}

TEST(Framing, GzipHeaderAndTrailer) {
    Bytes in = bytes_of("hello hello hello hello");
    Bytes out;
    ASSERT_EQ(run(compress::gzip, in, 100, &out), 0);
    Bytes expected = hex("1f8b0800000000000404");
    Bytes body = deflated(in);
    expected.insert(expected.end(), body.begin(), body.end());
    u32 crc = checksum::crc32(in.data(), i64(in.size()));
    for (int i = 0; i < 4; i++) expected.push_back(u8(crc >> (8 * i)));
    for (int i = 0; i < 4; i++) expected.push_back(u8(in.size() >> (8 * i)));
    EXPECT_EQ(out, expected);
}

TEST(Framing, EncodersRefuseCapacitiesBelowTheFrame) {
    Bytes in = bytes_of("abc");
    Bytes out;
    EXPECT_EQ(run(compress::zlib_encode, in, 5, &out), compress::BAD_DATA);
    EXPECT_EQ(i64(out.size()), compress::max_encoded_size(compress::ZLIB, 3));
    EXPECT_EQ(run(compress::gzip, in, 17, &out), compress::BAD_DATA);
    EXPECT_EQ(i64(out.size()), compress::max_encoded_size(compress::GZIP, 3));
}

TEST(Framing, TooSmallAnOutputAnswersTheWholeFrameSize) {
    // The first try of `compress` is the input's length + 32 bytes: random
    // data does not fit, and the size answered must fit on the second try
    // (the trailer included, not only the deflate data).
    Bytes in = random_bytes(1000, 9);
    for (auto codec : {compress::zlib_encode, compress::gzip}) {
        Bytes out;
        ASSERT_EQ(run(codec, in, i64(in.size()) + 32, &out), compress::OUTPUT_TOO_SMALL);
        i64 needed = i64(out.size());
        EXPECT_EQ(run(codec, in, needed, &out), compress::OK);
        EXPECT_EQ(i64(out.size()), needed);
        // The deflate data fits but its trailer does not.
        EXPECT_EQ(run(codec, in, needed - 1, &out), compress::OUTPUT_TOO_SMALL);
        EXPECT_EQ(i64(out.size()), needed);
    }
}

TEST(Framing, GzipInputIsCompressedLikeAnyOther) {
    // Data that starts like a gzip stream is not copied as it stands, so
    // gunzip gives the data back.
    Bytes in = hex("1f8b08");
    Bytes rest = random_bytes(200, 4);
    in.insert(in.end(), rest.begin(), rest.end());
    Bytes packed;
    ASSERT_EQ(run(compress::gzip, in, 400, &packed), 0);
    EXPECT_NE(packed, in);
    Bytes back;
    ASSERT_EQ(run(compress::gunzip, packed, 400, &back), 0);
    EXPECT_EQ(back, in);
}

// --- Series routines ------------------------------------------------------------------

u32 series_of(const Bytes& b, i64 lead = 0) {
    u32 node = memory::alloc_bytes(i64(b.size()) + lead);
    SeriesBuffer* s = node_buffer(node);
    std::memset(series::head(s), 0xAB, size_t(lead));
    if (!b.empty()) std::memcpy(series::head(s) + lead, b.data(), b.size());
    s->tail = s->offset + u32(b.size() + size_t(lead));
    return node;
}

Bytes content(u32 node) {
    SeriesBuffer* s = node_buffer(node);
    return Bytes(series::head(s), series::tail(s));
}

struct CompressSeries : test::Collecting {};

TEST_F(CompressSeries, EncodeAndDecodeEveryMethod) {
    // Under stress builds every allocation collects and moves every buffer:
    // the codecs must read their input and write their output through nodes.
    Bytes text;
    for (int i = 0; i < 3000; i++) {
        std::string line = "line " + std::to_string(i * 7 % 101) + " of the text\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    for (compress::Method m : {compress::ZLIB, compress::DEFLATE, compress::GZIP}) {
        collector::RootNode source(series_of(text, 5));   // the data starts 5 bytes after the head
        collector::RootNode packed(compress::encode(m, source, 5, i64(text.size())));
        collector::RootNode back(compress::decode(m, packed, 0, i64(content(packed).size()), 0));
        EXPECT_EQ(content(back), text) << m;
        // A hint far too small: the output grows as the data decodes.
        collector::RootNode again(compress::decode(m, packed, 0, i64(content(packed).size()), 10));
        EXPECT_EQ(content(again), text) << m;
    }
}

TEST_F(CompressSeries, WorstCaseInputEncodesInOneAllocation) {
    Bytes noise = random_bytes(70000, 5);
    collector::RootNode source(series_of(noise));
    collector::RootNode packed(compress::encode(compress::GZIP, source, 0, i64(noise.size())));
    Bytes p = content(packed);
    EXPECT_LE(i64(p.size()), compress::max_encoded_size(compress::GZIP, i64(noise.size())));
    collector::RootNode back(compress::decode(compress::GZIP, packed, 0, i64(p.size()), 0));
    EXPECT_EQ(content(back), noise);
}

TEST_F(CompressSeries, HighRatioDataGrowsItsOutput) {
    // 8 MiB of zeros in about 8 KiB: the first guess (4 times the input) is
    // far too small, and the output doubles as the data decodes.
    Bytes zeros(8 << 20, 0);
    uLongf n = compressBound(uLong(zeros.size()));
    Bytes z(n);
    ASSERT_EQ(compress2(z.data(), &n, zeros.data(), uLong(zeros.size()), 9), Z_OK);
    z.resize(n);
    collector::RootNode packed(series_of(z));
    collector::RootNode back(compress::decode(compress::ZLIB, packed, 0, i64(z.size()), 0));
    EXPECT_EQ(content(back), zeros);
}

TEST_F(CompressSeries, DecodingErrorsNameTheMethod) {
    Bytes junk = bytes_of("this is not compressed data");
    collector::RootNode source(series_of(junk));
    for (compress::Method m : {compress::ZLIB, compress::DEFLATE, compress::GZIP}) {
        try {
            compress::decode(m, source, 0, i64(junk.size()), 0);
            ADD_FAILURE() << "decoded junk with method " << m;
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "invalid-data");
            ASSERT_EQ(e.argc, 1);
            EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_WORD));
            i32 names[] = {compress::sym_zlib, compress::sym_deflate, compress::sym_gzip};
            EXPECT_EQ(i32(e.args[0].w2), names[m]);
        }
    }
}

TEST(CompressWords, MethodWordsInAnyLetterCase) {
    EXPECT_EQ(compress::method_of(symbol::make("zlib")), compress::ZLIB);
    EXPECT_EQ(compress::method_of(symbol::make("Deflate")), compress::DEFLATE);
    EXPECT_EQ(compress::method_of(symbol::make("GZIP")), compress::GZIP);
    EXPECT_EQ(compress::method_of(symbol::make("lz77")), compress::NO_METHOD);
}

}  // namespace
}  // namespace zir
