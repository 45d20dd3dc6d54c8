// The base-2, base-16, base-58 and base-64 codecs: the RFC 4648 vectors, the
// lenient reading of text (blanks, comments, no padding), the texts that are
// not valid, text of every width, and encoding followed by decoding.
#include <functional>
#include <random>

#include "datatypes/binary.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct BinaryCodecs : ValueTest {};

using Decoder = u32 (*)(const u8*, i64, u32);
using Encoder = u8* (*)(u8*, const u8*, i64);

std::string encode(i32 base, const std::string& bytes) {
    Encoder e = base == 2 ? binary::encode_2 : base == 16 ? binary::encode_16 : base == 58 ? binary::encode_58
                                                                                         : binary::encode_64;
    std::string out(size_t(binary::encoded_room(base, i64(bytes.size()))), '\0');
    u8* end = e(reinterpret_cast<u8*>(out.data()), reinterpret_cast<const u8*>(bytes.data()), i64(bytes.size()));
    out.resize(size_t(end - reinterpret_cast<u8*>(out.data())));
    return out;
}

Decoder decoder(i32 base) {
    return base == 2 ? binary::decode_2 : base == 16 ? binary::decode_16 : base == 58 ? binary::decode_58
                                                                                   : binary::decode_64;
}

// The decoded bytes as a string, or "<none>"; the text read at `unit` bytes a
// code point.
std::string decode(i32 base, const std::u32string& text, u32 unit = 1) {
    std::vector<u8> stored(text.size() * unit);
    for (size_t i = 0; i < text.size(); i++) string::put_char(stored.data() + i * unit, unit, u32(text[i]));
    u32 node = decoder(base)(stored.data(), i64(text.size()), unit);
    if (!node) return "<none>";
    SeriesBuffer* s = node_buffer(node);
    return std::string(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s));
}

std::u32string wide(const std::string& ascii) { return std::u32string(ascii.begin(), ascii.end()); }

// The widths a text can be stored at.
std::vector<u32> units_for(const std::u32string& text) {
    u32 least = 1;
    for (char32_t c : text) least = std::max(least, string::unit_for(u32(c)));
    std::vector<u32> units;
    for (u32 unit : {1u, 2u, 4u})
        if (unit >= least) units.push_back(unit);
    return units;
}

TEST_F(BinaryCodecs, Rfc4648Vectors) {
    struct Case {
        const char* bytes;
        const char* b64;
        const char* b16;
    } cases[] = {
        {"", "", ""},
        {"f", "Zg==", "66"},
        {"fo", "Zm8=", "666F"},
        {"foo", "Zm9v", "666F6F"},
        {"foob", "Zm9vYg==", "666F6F62"},
        {"fooba", "Zm9vYmE=", "666F6F6261"},
        {"foobar", "Zm9vYmFy", "666F6F626172"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encode(64, c.bytes), c.b64);
        EXPECT_EQ(encode(16, c.bytes), c.b16);
        for (u32 unit : {1u, 2u, 4u}) {
            EXPECT_EQ(decode(64, wide(c.b64), unit), c.bytes) << c.b64 << " unit " << unit;
            EXPECT_EQ(decode(16, wide(c.b16), unit), c.bytes) << c.b16 << " unit " << unit;
        }
    }
    EXPECT_EQ(encode(64, "\xFB\xFF\xBF"), "+/+/") << "the last two digits of the alphabet";
    EXPECT_EQ(decode(64, U"+/+/"), "\xFB\xFF\xBF");
}

TEST_F(BinaryCodecs, Base2AndBase58) {
    struct Case {
        std::string bytes;
        const char* b2;
        const char* b58;
    } cases[] = {
        {"", "", ""},
        {std::string("\0", 1), "00000000", "1"},
        {std::string("\0\0\1", 3), "000000000000000000000001", "112"},
        {"\xFF", "11111111", "5Q"},
        {std::string("\x01\x00", 2), "0000000100000000", "5R"},
        {"Hello World!", nullptr, "2NEpo7TZRRrLZSi2U"},
        {"The quick brown fox jumps over the lazy dog.", nullptr,
         "USm3fpXnKG5EUBx2ndxBDMPVciP5hGey2Jh4NDv6gmeo1LkMeiKrLJUUBk6Z"},
        {std::string("\0\0\0\x28\x7f\xb4\xcd", 7), nullptr, "111233QC4"},
    };
    for (const Case& c : cases) {
        if (c.b2) {
            EXPECT_EQ(encode(2, c.bytes), c.b2);
            EXPECT_EQ(decode(2, wide(c.b2)), c.bytes) << c.b2;
        }
        EXPECT_EQ(encode(58, c.bytes), c.b58);
        for (u32 unit : {1u, 2u, 4u}) EXPECT_EQ(decode(58, wide(c.b58), unit), c.bytes) << c.b58;
    }
}

TEST_F(BinaryCodecs, LenientReading) {
    struct Case {
        const char* what;
        i32 base;
        std::u32string text;
        std::string bytes;
    } cases[] = {
        {"line feeds, spaces, tabs", 64, U"Zm9v\nYmFy\r\n", "foobar"},
        {"spaces and apostrophes", 64, U" Z m'9 v ", "foo"},
        {"a comment line", 64, U"Zm9v\n; not base 64 at all: !!\nYmFy", "foobar"},
        {"a comment to the end", 64, U"Zm9vYmFy ; the end", "foobar"},
        {"5 digits: the fifth dropped", 64, U"Zm9vY", "foo"},
        {"no padding: a short group dropped", 64, U"Zm9vYmE", "foo"},
        {"the first = ends the text", 64, U"Zg==!!!", "f"},
        {"= after 3 digits", 64, U"Zm8=", "fo"},
        {"odd digits: the last dropped", 16, U"0A0", "\x0A"},
        {"lower case", 16, U"0a", "\x0A"},
        {"blanks and controls", 16, U"0\x01" "A \t0\nB", "\x0A\x0B"},
        {"a comment", 16, U"0A ; FF\n0B", "\x0A\x0B"},
        {"base 2 with blanks", 2, U"0000 0001\n11111111", "\x01\xFF"},
        {"base 2 with a comment", 2, U"00000001;x\n", "\x01"},
        {"base 58 with blanks", 58, U" 5 Q\n", "\xFF"},
        {"base 58 stops at non-ASCII", 58, U"5Q\u00e9zzz", "\xFF"},
        {"base 58 leading zero digits", 58, U"11", std::string("\0\0", 2)},
    };
    for (const Case& c : cases) {
        for (u32 unit : units_for(c.text))
            EXPECT_EQ(decode(c.base, c.text, unit), c.bytes) << c.what << ", unit " << unit;
    }
}

TEST_F(BinaryCodecs, InvalidTextAnswersNone) {
    struct Case {
        const char* what;
        i32 base;
        std::u32string text;
    } cases[] = {
        {"base 64, a letter beyond ASCII", 64, U"Zm9\u0141"},
        {"base 64, a letter whose low 7 bits are a digit", 64, U"Zm9\u00c1"},
        {"base 64, a code point above 0xFFFF", 64, U"Zm9v\U0001F600"},
        {"base 64, a character outside the alphabet", 64, U"Zm9v!"},
        {"base 64, = after one digit", 64, U"Z==="},
        {"base 64, = at a group's start", 64, U"Zm9v="},
        {"base 64, = alone", 64, U"="},
        {"base 64, base-64url digits", 64, U"Zm9v-_"},
        {"base 16, L with stroke (its low 7 bits read as A)", 16, U"\u0141\u0141"},
        {"base 16, a digit beyond ASCII", 16, U"0\u0660"},
        {"base 16, a letter past F", 16, U"0G"},
        {"base 2, 7 digits", 2, U"0000000"},
        {"base 2, a digit 2", 2, U"00000002"},
        {"base 2, a code point beyond ASCII", 2, U"0000000\u0131"},
        {"base 58, zero", 58, U"10"},
        {"base 58, O", 58, U"1O"},
        {"base 58, I", 58, U"I"},
        {"base 58, l", 58, U"l"},
    };
    for (const Case& c : cases)
        for (u32 unit : units_for(c.text))
            EXPECT_EQ(decode(c.base, c.text, unit), "<none>") << c.what << ", unit " << unit;
    EXPECT_EQ(decode(16, U"", 1), "") << "empty text is an empty binary";
}

TEST_F(BinaryCodecs, EveryLengthEncodesAndDecodesBack) {
    std::mt19937 random(7);
    for (i32 base : {2, 16, 58, 64}) {
        for (size_t n = 0; n < 80; n++) {
            std::string bytes(n, '\0');
            for (char& b : bytes) b = char(random() % (n % 3 == 0 ? 2 : 256));   // zero runs for base 58
            std::string text = encode(base, bytes);
            ASSERT_LE(i64(text.size()), binary::encoded_room(base, i64(n))) << base << " " << n;
            EXPECT_EQ(decode(base, wide(text)), bytes) << "base " << base << ", " << n << " bytes";
        }
    }
}

TEST_F(BinaryCodecs, DecodingReadsTextInsideAMovingBuffer) {
    // The text lies in the very series buffers a collection moves; the
    // decoder must have read it all before it allocates.
    Cell* text = str("Zm9vYmFy");
    u32 node = binary::decode_64(series::head(node_buffer(text->w2)), 8, 1);
    ASSERT_NE(node, 0u);
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_BINARY);
    b->w2 = node;
    EXPECT_EQ(hex_of(b), "666F6F626172");
}

}  // namespace
}  // namespace zir
