// Faults found in review of the scalar, text, container and object
// datatypes: each test shows one and stays as its regression test.
#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/url.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct ReviewDatatypes : ValueTest {};

// A number's remainder by a pair, a point or a tuple cannot be handed to the
// richer value's core with the operands swapped, as add and multiply are:
// 5 // 2x3 would answer 2x3 // 5, that is 2x3. Like a division, it is refused.
TEST_F(ReviewDatatypes, ANumberLeavesNoRemainderByACoordinateOrATuple) {
    struct Case {
        const char* what;
        const Cell* left;
        const Cell* right;
    } cases[] = {
        {"integer // pair", int_(5), pair::push(2, 3)},
        {"integer // point2D", int_(5), point2D::push(2.0f, 3.0f)},
        {"integer // point3D", int_(5), point3D::push(2.0f, 3.0f, 4.0f)},
        {"integer // tuple", int_(5), tuple::push(3, 2 | 3 << 8 | 4 << 16, 0, 0)},
        {"float // pair", float_(5.0), pair::push(2, 3)},
        {"percent // point2D", percent_(5.0), point2D::push(2.0f, 3.0f)},
        {"float // tuple", float_(5.0), tuple::push(3, 2 | 3 << 8 | 4 << 16, 0, 0)},
    };
    for (const Case& c : cases) {
        try {
            Cell* r = direct(ACT_REMAINDER, c.left, c.right);
            ADD_FAILURE() << c.what << " answered " << mold(r);
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "not-related") << c.what;
            ASSERT_EQ(e.argc, 2) << c.what;
            EXPECT_EQ(symbol::spelling(i32(e.args[0].w2)), "remainder") << c.what;
        }
    }
    // The operations that commute still swap.
    EXPECT_MOLD(direct(ACT_MULTIPLY, int_(5), pair::push(2, 3)), "10x15");
    EXPECT_MOLD(direct(ACT_ADD, int_(5), tuple::push(3, 1 | 2 << 8 | 3 << 16, 0, 0)), "6.7.8");
    // With the richer value on the left the remainder is its own.
    EXPECT_MOLD(direct(ACT_REMAINDER, pair::push(5, 7), int_(3)), "2x1");
}

// The text loaders take their source by address, as the byte loaders do, and
// the natural source is a binary! the services read (a file split into
// lines): making the string allocates, which may move that binary, so the
// text must be read from a copy taken before. Under the stress build every
// allocation moves every buffer and the sanitizers see a stale read.
TEST_F(ReviewDatatypes, TextIsLoadedFromBytesThatLieInASeriesBuffer) {
    const char* utf8 = "h\xC3\xA9llo w\xC3\xB6rld, long enough to span more than one word";
    Cell* bytes = bin(std::vector<u8>(utf8, utf8 + std::strlen(utf8)));
    i64 n = i64(std::strlen(utf8));
    auto head = [&] { return series::head(series::buffer_of(bytes)); };

    EXPECT_EQ(string::to_std(string::load_push(head(), n, string::ENCODING_UTF8)), utf8);
    Cell* file = file::load_push(head(), n, string::ENCODING_UTF8);
    EXPECT_EQ(TYPE_OF(file), u32(TYPE_FILE));
    EXPECT_EQ(string::to_std(file), utf8);
    Cell* lines = test::block({});
    string::load_in(head(), n, lines, string::ENCODING_UTF8);
    ASSERT_EQ(block::zs_length_q(lines), 1);
    Cell* line = stack::push(block::zs_head(lines));
    EXPECT_EQ(string::to_std(line), utf8);

    // UTF-16LE: "hé" and a character past the BMP, as units.
    const u8 utf16[] = {'h', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE};
    Cell* wide = bin(std::vector<u8>(std::begin(utf16), std::end(utf16)));
    Cell* loaded = string::load_push(series::head(series::buffer_of(wide)), 4, string::ENCODING_UTF16LE);
    EXPECT_EQ(string::to_std(loaded), "h\xC3\xA9\xF0\x9F\x98\x80");

    const char* escaped = "a%20b%C3%A9";
    Cell* url_bytes = bin(std::vector<u8>(escaped, escaped + std::strlen(escaped)));
    Cell* decoded = url::load_decoded(series::head(series::buffer_of(url_bytes)), i64(std::strlen(escaped)),
                                      string::ENCODING_UTF8);
    EXPECT_EQ(string::to_std(decoded), "a b\xC3\xA9");
}

}  // namespace
}  // namespace zir
