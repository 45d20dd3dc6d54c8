// Checksums and digests: the reference values, the checksums against zlib at
// every length and alignment around their unrolled steps, continuation, the
// method words, HMAC's key rules and the errors of the digests. Python's
// hashlib, hmac and zlib check the same over more inputs in
// tests/oracle/codec.py.
#include <cstring>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "services/checksum.hpp"
#include "support.hpp"

namespace zir {
namespace {

using Bytes = std::vector<u8>;

const u8* text(const char* s) { return reinterpret_cast<const u8*>(s); }

std::string hex(const u8* p, i32 n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (i32 i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

TEST(Checksum, ReferenceValues) {
    EXPECT_EQ(checksum::crc32(text("abc"), 3), 0x352441C2u);
    EXPECT_EQ(checksum::crc32(nullptr, 0), 0u);
    EXPECT_EQ(checksum::crc32(text("123456789"), 9), 0xCBF43926u);   // the usual check value
    EXPECT_EQ(checksum::adler32(text("abc"), 3), 0x024D0127u);
    EXPECT_EQ(checksum::adler32(nullptr, 0), 1u);
    EXPECT_EQ(checksum::adler32(text("Wikipedia"), 9), 0x11E60398u);
    const u8 three[] = {1, 2, 3};
    EXPECT_EQ(checksum::tcp(three, 3), 0xFBFDu);
    EXPECT_EQ(checksum::tcp(nullptr, 0), 0xFFFFu);
    // RFC 1071's example: 00 01 f2 03 f4 f5 f6 f7 sums to ddf2.
    const u8 rfc[] = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
    EXPECT_EQ(checksum::tcp(rfc, 8), u32(~0xDDF2u & 0xFFFF));
}

TEST(Checksum, AgreeWithZlibAtEveryLengthAndAlignment) {
    // The CRC folds 64 then 16 bytes per step, or looks up 16 bytes at a
    // time; Adler-32 reads 16-byte chunks in runs of 5,552 bytes: lengths
    // around those steps, from every alignment.
    std::mt19937 rng(42);
    Bytes data(20000);
    for (auto& b : data) b = u8(rng());
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 80; n++) lengths.push_back(n);
    for (size_t n : {127, 128, 129, 143, 5551, 5552, 5553, 5568, 11104, 11105, 19000}) lengths.push_back(n);
    // The CRC runs twice: folding long data by carry-less multiplication
    // (where the processor has it), and by its tables alone.
    bool folding = checksum::crc_folding_on();
    for (bool fold : {folding, false}) {
        checksum::set_crc_folding(fold);
        for (size_t start = 0; start < 16; start++)
            for (size_t n : lengths) {
                const u8* p = data.data() + start;
                ASSERT_EQ(checksum::crc32(p, i64(n)), u32(::crc32(0, p, uInt(n)))) << start << " " << n << fold;
                ASSERT_EQ(checksum::adler32(p, i64(n)), u32(::adler32(1, p, uInt(n)))) << start << " " << n;
            }
    }
    checksum::set_crc_folding(folding);
    // All 0xFF bytes push Adler-32's sums to their largest.
    Bytes ff(100000, 0xFF);
    EXPECT_EQ(checksum::adler32(ff.data(), i64(ff.size())), u32(::adler32(1, ff.data(), uInt(ff.size()))));
}

TEST(Checksum, UpdatesContinueAChecksum) {
    Bytes data(3000);
    for (size_t i = 0; i < data.size(); i++) data[i] = u8(i * 7 + i / 13);
    for (size_t cut : {0, 1, 15, 16, 17, 1000, 2999, 3000}) {
        u32 crc = checksum::crc32_update(checksum::crc32(data.data(), i64(cut)), data.data() + cut,
                                         i64(data.size() - cut));
        EXPECT_EQ(crc, checksum::crc32(data.data(), i64(data.size()))) << cut;
        u32 adler = checksum::adler32_update(checksum::adler32(data.data(), i64(cut)), data.data() + cut,
                                             i64(data.size() - cut));
        EXPECT_EQ(adler, checksum::adler32(data.data(), i64(data.size()))) << cut;
    }
}

TEST(Checksum, InternetChecksumKeepsEveryCarry) {
    // A 32-bit sum of 16-bit words overflows past 65,537 words of FFFF; the
    // ones'-complement sum of any number of FFFF words is FFFF, so the
    // checksum is 0.
    for (size_t n : {2, 131074, 131076, 300000, 1000000}) {
        Bytes ff(n, 0xFF);
        EXPECT_EQ(checksum::tcp(ff.data(), i64(n)), 0u) << n;
    }
    // An odd last byte is the high byte of its word, at every alignment of
    // the word loop.
    Bytes d = {0x12, 0x34, 0x56, 0x78, 0x9A};
    for (size_t n = 1; n <= d.size(); n++) {
        u32 sum = 0;
        for (size_t i = 0; i < n; i += 2) sum += u32(d[i]) << 8 | (i + 1 < n ? d[i + 1] : 0);
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        EXPECT_EQ(checksum::tcp(d.data(), i64(n)), ~sum & 0xFFFF) << n;
    }
}

TEST(Checksum, MethodWords) {
    struct Case {
        const char* word;
        bool method;
        i32 code;
        i32 size;
    } cases[] = {
        {"tcp", true, 0, 0},        {"CRC32", true, 1, 0},     {"md5", true, 2, 16},
        {"sha1", true, 3, 20},      {"SHA256", true, 4, 32},   {"sha384", true, 5, 48},
        {"Sha512", true, 6, 64},    {"adler32", true, -1, 0},  {"hash", true, -1, 0},
        {"sha224", false, -1, 0},   {"crc", false, -1, 0},
    };
    for (const Case& c : cases) {
        i32 s = symbol::make(c.word);
        EXPECT_EQ(checksum::method_q(s), c.method) << c.word;
        EXPECT_EQ(checksum::method_code(s), c.code) << c.word;
        EXPECT_EQ(checksum::digest_size(c.code), c.size) << c.word;
    }
}

TEST(Digest, KnownDigests) {
    u8 d[checksum::MAX_DIGEST];
    EXPECT_EQ(hex(d, crypto::hash(text("abc"), 3, checksum::CODE_MD5, d)), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(d, crypto::hash(text("abc"), 3, checksum::CODE_SHA1, d)),
              "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex(d, crypto::hash(nullptr, 0, checksum::CODE_SHA256, d)),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(crypto::hash(text("abc"), 3, checksum::CODE_SHA384, d), 48);
    EXPECT_EQ(hex(d, 8), "cb00753f45a35e8b");
    EXPECT_EQ(crypto::hash(text("abc"), 3, checksum::CODE_SHA512, d), 64);
    EXPECT_EQ(hex(d, 8), "ddaf35a193617aba");
}

TEST(Digest, HmacKeyRules) {
    u8 a[checksum::MAX_DIGEST], b[checksum::MAX_DIGEST], k[checksum::MAX_DIGEST];
    // RFC 4231, test case 2.
    EXPECT_EQ(hex(a, checksum::hmac(text("what do ya want for nothing?"), 28, text("Jefe"), 4, checksum::CODE_SHA256, a)),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    // A key of the block size is used as it is; one byte longer, its digest
    // is the key. SHA-256's block is 64 bytes, SHA-512's 128.
    struct Case {
        i32 code;
        i32 block;
    } cases[] = {{checksum::CODE_MD5, 64}, {checksum::CODE_SHA1, 64}, {checksum::CODE_SHA256, 64},
                 {checksum::CODE_SHA384, 128}, {checksum::CODE_SHA512, 128}};
    Bytes key(200);
    for (size_t i = 0; i < key.size(); i++) key[i] = u8(i * 31 + 7);
    for (const Case& c : cases) {
        i32 n = checksum::hmac(text("message"), 7, key.data(), c.block + 1, c.code, a);
        i32 m = crypto::hash(key.data(), c.block + 1, c.code, k);
        checksum::hmac(text("message"), 7, k, m, c.code, b);
        EXPECT_EQ(hex(a, n), hex(b, n)) << c.code;
        // Exactly a block: not hashed (its digest as the key differs).
        n = checksum::hmac(text("message"), 7, key.data(), c.block, c.code, a);
        m = crypto::hash(key.data(), c.block, c.code, k);
        checksum::hmac(text("message"), 7, k, m, c.code, b);
        EXPECT_NE(hex(a, n), hex(b, n)) << c.code;
        // A key padded with zeros to the block is the same key.
        Bytes padded(key.begin(), key.begin() + 10);
        padded.resize(size_t(c.block), 0);
        checksum::hmac(text("message"), 7, key.data(), 10, c.code, a);
        checksum::hmac(text("message"), 7, padded.data(), c.block, c.code, b);
        EXPECT_EQ(hex(a, n), hex(b, n)) << c.code;
    }
}

TEST(Digest, ACodeWithoutADigestIsAnInvalidArgument) {
    u8 d[checksum::MAX_DIGEST];
    for (i32 code : {-1, 0, 1, 7}) {
        try {
            crypto::hash(text("abc"), 3, code, d);
            ADD_FAILURE() << code;
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "invalid-arg");
            ASSERT_EQ(e.argc, 1);
            EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_INTEGER));
            EXPECT_EQ(i32(e.args[0].w2), code);
        }
        EXPECT_THROW(checksum::hmac(text("abc"), 3, text("k"), 1, code, d), LanguageError);
    }
}

TEST(Digest, FailuresOfTheLibraryAreRaised) {
    // Each libcrypto call refused in turn (initialisation, update, final)
    // raises `internal not-here` with the method word, in digests and HMAC,
    // instead of answering whatever the buffer held.
    u8 d[checksum::MAX_DIGEST];
    for (u32 skip = 0; skip < 3; skip++) {
        crypto::Digest digest(checksum::CODE_SHA256);
        if (skip >= 1) digest.add(text("abc"), 3);
        crypto::refuse_digests = 1;
        try {
            if (skip == 0) crypto::hash(text("abc"), 3, checksum::CODE_SHA256, d);
            else if (skip == 1) digest.add(text("def"), 3);
            else digest.finish(d);
            ADD_FAILURE() << skip;
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "not-here");
            ASSERT_EQ(e.argc, 1);
            EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_WORD));
            EXPECT_EQ(i32(e.args[0].w2), checksum::sym_sha256);
        }
        EXPECT_EQ(crypto::refuse_digests, 0u);
    }
    // HMAC makes eight calls with a short key, eleven with a long one (the
    // key's own digest first): whichever fails, the HMAC fails.
    Bytes long_key(100, 'k');
    for (u32 n = 1; n <= 11; n++) {
        crypto::refuse_digests = n;
        if (n <= 8) {
            EXPECT_THROW(checksum::hmac(text("abc"), 3, text("key"), 3, checksum::CODE_MD5, d), LanguageError) << n;
        }
        crypto::refuse_digests = n;
        EXPECT_THROW(checksum::hmac(text("abc"), 3, long_key.data(), 100, checksum::CODE_MD5, d), LanguageError) << n;
        EXPECT_EQ(crypto::refuse_digests, 0u) << n;
    }
    // And afterwards the digests work again.
    EXPECT_EQ(hex(d, crypto::hash(text("abc"), 3, checksum::CODE_MD5, d)), "900150983cd24fb0d6963f7d28e17f72");
}

// The library is opened on the first digest: when the system has none under
// the names looked for, the digest is an error (in a fresh process, where no
// digest has opened it yet).
TEST(Digest, AMissingLibraryIsRaised) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            crypto::library_names = {"libzir-no-such-library.so.0"};
            u8 d[checksum::MAX_DIGEST];
            int status = 3;
            try {
                crypto::hash(text("abc"), 3, checksum::CODE_SHA256, d);
                status = 2;
            } catch (const LanguageError& e) {
                status = std::strcmp(e.id, "not-here") == 0 && e.argc == 1 ? 0 : 1;
            }
            std::exit(status);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Digest, HashStubPrintsItsNotice) {
    test::CapturedOutput out;
    EXPECT_EQ(checksum::hash_stub(text("abc"), 3, 16), 0);
    EXPECT_EQ(out.text(), "** /hash support not yet implemented; algorithm TBD.\n");
}

}  // namespace
}  // namespace zir
