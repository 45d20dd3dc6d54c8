// image!: making images, positions, pixels as tuples, path access, the data
// kinds, copy and change of rectangles, mold, comparison, the codecs seen
// from the language, owners' reports, and the collector's hold on bitmaps.
// The codecs' pixels are checked against Pillow by tests/oracle/image_codecs.py.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/image.hpp"
#include "datatypes/image_backend.hpp"
#include "datatypes/image_codec.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/collector.hpp"
#include "runtime/handle_table.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

// --- Builders ------------------------------------------------------------------------

// A tuple r.g.b, or r.g.b.a when a is given (a transparency, 0 opaque).
Cell* rgb(u8 r, u8 g, u8 b, int a = -1) { return tuple::make_rgba(stack::push(none_()), r, g, b, a); }

// An image over pixel words 0xAARRGGBB, pushed.
Cell* image_of(i32 w, i32 h, const std::vector<u32>& px) {
    u32 record = 0;
    EXPECT_EQ(image_backend::from_memory(w, h, 0, i64(px.size()) * 4, reinterpret_cast<const u8*>(px.data()),
                                         &record),
              0);
    return image::make_at(stack::push_slot(), record);
}

// A 2x2 image of four distinct opaque pixels.
Cell* quad() { return image_of(2, 2, {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004}); }

std::string head_of(const Cell* c) { return std::to_string(c->w1); }
Cell* made(const Cell* spec) { return convert(TYPE_IMAGE, spec, ACT_MAKE); }
std::string size_of(const Cell* img) {
    return std::to_string(image::width_of(img)) + "x" + std::to_string(image::height_of(img));
}
// An unset cell on the stack: a slot left as it was may hold a dead value
// that the collector would mark.
Cell* slot() { return stack::push(none_()); }
Cell* copied(const Cell* img, const Cell* part = nullptr) {
    Cell* value = stack::push(img);
    Cell* limit = part ? stack::push(part) : nullptr;
    return image::copy(value, slot(), limit, false, nullptr);
}

struct Images : ValueTest {};

// --- Making images ----------------------------------------------------------------------

TEST_F(Images, MakeFromSizeColourRgbAndAlpha) {
    Cell* white = made(pair_(2, 2));
    EXPECT_EQ(size_of(white), "2x2");
    EXPECT_EQ(pixels_of(white), (std::vector<u32>(4, 0xFFFFFFFF))) << "four opaque white pixels";
    Cell* blue = made(test::block({pair_(2, 1), rgb(0, 0, 255)}));
    EXPECT_EQ(pixels_of(blue), (std::vector<u32>{0xFF0000FF, 0xFF0000FF}));
    Cell* mixed = made(test::block({pair_(2, 1), bin("0000FF"), bin("80")}));
    EXPECT_EQ(pixels_of(mixed), (std::vector<u32>{0x7F0000FF, 0xFFFFFFFF}))
        << "transparency 128 on the first pixel; white and opaque once the bytes run out";
    Cell* translucent = made(test::block({pair_(1, 1), rgb(1, 2, 3, 200)}));
    EXPECT_EQ(pixels_of(translucent), (std::vector<u32>{0x37010203}));
    Cell* part_triple = made(test::block({pair_(2, 1), bin("0102030405")}));
    EXPECT_EQ(pixels_of(part_triple), (std::vector<u32>{0xFF010203, 0xFFFFFFFF})) << "only whole triples count";
    Cell* at_head = made(test::block({pair_(1, 1), at_(bin("AABBCC010203"), 3)}));
    EXPECT_EQ(pixels_of(at_head), (std::vector<u32>{0xFF010203})) << "the rgb bytes from the binary's head";
}

TEST_F(Images, MakeWithoutPixels) {
    for (Cell* spec : {pair_(0, 0), pair_(-3, 4), pair_(5, 0), test::block({pair_(0, 7), rgb(1, 2, 3)})}) {
        Cell* img = made(spec);
        EXPECT_EQ(img->w2, 0u) << mold(spec);
        EXPECT_EQ(image::length_q(img), 0) << mold(spec);
    }
    EXPECT_EQ(size_of(made(pair_(-3, 4))), "0x4") << "a negative side counts as 0, the other is kept";
    Cell* proto = quad();
    EXPECT_EQ(error_of([&] { made(test::block({})); }), "script invalid-arg") << "an empty spec needs an image prototype";
    Cell* copy = image::make(stack::push(proto), stack::push(test::block({})), TYPE_IMAGE);
    EXPECT_NE(copy->w2, proto->w2) << "make from an image is a copy";
    EXPECT_EQ(pixels_of(copy), pixels_of(proto));
}

TEST_F(Images, MakeRefusesBadSpecs) {
    struct Case {
        const char* what;
        Cell* spec;
        const char* error;
    } cases[] = {
        {"a size that is not a pair", test::block({int_(2), rgb(1, 2, 3)}), "script invalid-arg"},
        {"a colour that is a word", test::block({pair_(2, 2), word("red")}), "script invalid-arg"},
        {"alpha that is a tuple", test::block({pair_(2, 2), bin("000000"), rgb(1, 2, 3)}), "script invalid-arg"},
        {"an integer", int_(3), "script bad-to-arg"},
        // A side past 16 bits used to be cut into the size word while the
        // bitmap kept the whole side.
        {"a width above 65535", pair_(65536, 1), "script invalid-arg"},
        {"a height above 65535, in a block", test::block({pair_(1, 70000)}), "script invalid-arg"},
        {"a side above 65535 beside a zero one", pair_(70000, 0), "script invalid-arg"},
        {"pixels past the 32-bit size limit", pair_(32768, 16384), "script invalid-arg"},
        {"the largest sides", pair_(65535, 65535), "script invalid-arg"},
    };
    collector::do_cycle();   // what earlier tests left
    i32 handles = handle_table::used_count();
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { made(c.spec); }), c.error) << c.what;
    EXPECT_EQ(handle_table::used_count(), handles) << "nothing was allocated for a refused size";
    EXPECT_EQ(size_of(made(pair_(65535, 1))), "65535x1") << "the longest side that fits";
}

// --- Positions ----------------------------------------------------------------------------

TEST_F(Images, PickAndPokeWithIntegersAndPairs) {
    Cell* img = made(test::block({pair_(2, 1), bin("0000FF"), bin("80")}));
    EXPECT_EQ(mold(image::pick(img, 1, nullptr)), "0.0.255.128");
    EXPECT_EQ(mold(image::pick(img, 2, nullptr)), "255.255.255.0") << "an opaque pixel has transparency 0";
    EXPECT_EQ(mold(image::pick(img, 0, nullptr)), "none");
    EXPECT_EQ(mold(image::pick(img, 3, nullptr)), "none");
    EXPECT_EQ(mold(image::pick(img, -1, nullptr)), "none");
    EXPECT_EQ(mold(image::pick(at_(img, 1), -1, nullptr)), "0.0.255.128") << "back from the head";
    EXPECT_EQ(error_of([&] { image::poke(img, 3, rgb(0, 0, 0), nullptr); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { image::poke(img, 1, int_(5), nullptr); }), "script invalid-arg");
    image::poke(img, 2, rgb(1, 2, 3), nullptr);
    image::poke(img, 1, rgb(4, 5, 6, 255), nullptr);
    EXPECT_EQ(pixels_of(img), (std::vector<u32>{0x00040506, 0xFF010203})) << "a 3-byte tuple is opaque";

    Cell* q = quad();
    struct Case {
        i32 x, y;
        const char* pixel;
    } cases[] = {{1, 1, "0.0.1.0"}, {2, 1, "0.0.2.0"}, {1, 2, "0.0.3.0"}, {2, 2, "0.0.4.0"},
                 {0, 1, "none"},    {3, 1, "none"},    {1, 3, "none"},    {1, 0, "none"}};
    for (const Case& c : cases)
        EXPECT_EQ(mold(image::pick(q, 0, pair_(c.x, c.y))), c.pixel) << c.x << "x" << c.y;
    image::poke(q, 0, rgb(9, 9, 9), pair_(2, 2));
    EXPECT_EQ(pixels_of(q)[3], 0xFF090909u);
    EXPECT_EQ(error_of([&] { image::poke(q, 0, rgb(9, 9, 9), pair_(3, 1)); }), "script out-of-range");
}

TEST_F(Images, AtSkipNextAndTail) {
    Cell* q = quad();
    struct Case {
        u32 slot;
        i32 head;
        Cell* arg;
        i32 expected;
    } cases[] = {
        {ACT_AT, 0, pair_(2, 1), 1},   {ACT_AT, 0, pair_(1, 2), 2},  {ACT_AT, 0, int_(3), 2},
        {ACT_AT, 2, int_(0), 2},       {ACT_AT, 1, int_(-5), 0},     {ACT_AT, 0, int_(100), 4},
        {ACT_SKIP, 0, pair_(1, 1), 3}, {ACT_SKIP, 0, int_(2), 2},    {ACT_SKIP, 3, int_(-1), 2},
        {ACT_SKIP, 1, int_(9), 4},     {ACT_SKIP, 0, pair_(0, 0), 0}, {ACT_SKIP, 2, int_(-9), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(head_of(direct(c.slot, at_(q, c.head), c.arg)), std::to_string(c.expected))
            << (c.slot == ACT_AT ? "at " : "skip ") << mold(c.arg) << " from " << c.head;
    EXPECT_EQ(error_of([&] { direct(ACT_AT, q, str("x")); }), "script invalid-arg");
    EXPECT_EQ(head_of(direct(ACT_NEXT, at_(q, 3))), "4");
    EXPECT_EQ(head_of(direct(ACT_NEXT, at_(q, 4))), "4") << "next stops at the tail";
    EXPECT_EQ(head_of(direct(ACT_TAIL, q)), "4");
    EXPECT_EQ(mold(direct(ACT_TAIL_Q, at_(q, 3))), "false");
    EXPECT_EQ(mold(direct(ACT_TAIL_Q, at_(q, 4))), "true");
    EXPECT_EQ(head_of(direct(ACT_BACK, at_(q, 2))), "1") << "inherited from series!";
    EXPECT_EQ(head_of(direct(ACT_HEAD, at_(q, 2))), "0");
    EXPECT_EQ(mold(direct(ACT_INDEX_Q, at_(q, 2))), "3");
    for (i32 h = 0; h <= 4; h++) EXPECT_EQ(image::length_q(at_(q, h)), 4) << "the whole count at head " << h;
}

TEST_F(Images, PositionsOfIndexes) {
    Cell* img = made(pair_(3, 2));
    struct Case {
        i32 head;
        Cell* index;
        i32 base;
        i64 position;
        bool outside;
    } cases[] = {
        {0, int_(1), 1, 0, false},     {0, int_(0), 1, 0, true},     {2, int_(0), 1, 2, true},
        {2, int_(-2), 1, 0, false},    {2, int_(-3), 1, 0, true},    {0, int_(6), 1, 5, false},
        {0, int_(7), 1, 6, true},      {0, pair_(3, 2), 1, 5, false}, {0, pair_(4, 1), 1, 3, true},
        {0, pair_(2, 1), 0, 5, false}, {0, pair_(3, 0), 0, 3, true},  {0, pair_(-1, 1), 0, 2, true},
    };
    for (const Case& c : cases) {
        bool outside = false;
        EXPECT_EQ(image::get_position(at_(img, c.head), c.index, c.base, &outside), c.position)
            << mold(c.index) << " base " << c.base << " head " << c.head;
        EXPECT_EQ(outside, c.outside) << mold(c.index) << " base " << c.base << " head " << c.head;
    }
}

// --- Path access and the data kinds -------------------------------------------------------

Cell* path_get(Cell* img, Cell* element) {
    return image::eval_path(img, element, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false);
}
Cell* path_set(Cell* img, Cell* element, Cell* value) {
    return image::eval_path(img, element, value, nullptr, nullptr, nullptr, 0, false, false, true, false);
}

TEST_F(Images, PathWordsAndIndexes) {
    Cell* white = made(pair_(1, 1));
    EXPECT_EQ(hex_of(path_get(white, word("rgb"))), "FFFFFF");
    EXPECT_EQ(hex_of(path_get(white, word("alpha"))), "00");
    EXPECT_EQ(hex_of(path_get(white, word("argb"))), "FFFFFFFF");
    EXPECT_EQ(hex_of(path_get(white, word("ARGB"))), "FFFFFFFF") << "words in any letter case";
    EXPECT_EQ(mold(path_get(made(pair_(3, 2)), word("size"))), "3x2");
    Cell* q = quad();
    EXPECT_EQ(mold(path_get(q, int_(4))), "0.0.4.0");
    EXPECT_EQ(mold(path_get(q, pair_(1, 2))), "0.0.3.0");
    path_set(q, pair_(2, 1), rgb(7, 7, 7, 7));
    path_set(q, int_(1), rgb(8, 8, 8));
    EXPECT_EQ(pixels_of(q), (std::vector<u32>{0xFF080808, 0xF8070707, 0xFF000003, 0xFF000004}));
    path_set(q, word("alpha"), bin("FF00"));
    EXPECT_EQ(pixels_of(q)[0], 0x00080808u);
    EXPECT_EQ(error_of([&] { path_set(q, word("size"), pair_(1, 1)); }), "script invalid-path");
    EXPECT_EQ(error_of([&] { path_get(q, word("width")); }), "script invalid-path");
    EXPECT_EQ(error_of([&] { path_get(q, str("rgb")); }), "script invalid-path");
}

TEST_F(Images, ExtractData) {
    Cell* img = image_of(2, 1, {0x80102030, 0xFF405060});
    EXPECT_EQ(hex_of(image::extract_data(at_(img, 1), image::KIND_RGB)), "102030405060") << "from the first pixel";
    EXPECT_EQ(hex_of(image::extract_data(img, image::KIND_ALPHA)), "7F00");
    EXPECT_EQ(hex_of(image::extract_data(img, image::KIND_ARGB)), "30201080605040FF")
        << "the pixel memory: B, G, R, A";
    Cell* empty = made(pair_(0, 3));
    for (i32 kind : {0, 1, 2}) EXPECT_EQ(hex_of(image::extract_data(empty, kind)), "");
    Cell* as_binary = binary::to(nullptr, stack::push(img), TYPE_BINARY);
    EXPECT_EQ(hex_of(as_binary), "30201080605040FF") << "to binary! gives the pixel memory";
}

TEST_F(Images, SetData) {
    struct Case {
        const char* what;
        Cell* value;
        i32 kind;
        std::vector<u32> expected;
    } cases[] = {
        {"argb bytes, fewer than the pixels", bin("0102038004"), image::KIND_ARGB, {0x80030201, 0x44444404}},
        {"argb bytes, more than the pixels", bin("01020304050607080909"), image::KIND_ARGB, {0x04030201, 0x08070605}},
        {"alpha bytes", bin("00FF11"), image::KIND_ALPHA, {0xFF111111, 0x00444444}},
        {"rgb bytes, a partial triple ignored", bin("010203AABB"), image::KIND_RGB, {0x11010203, 0x44444444}},
        {"a colour for every channel", rgb(1, 2, 3, 16), image::KIND_ARGB, {0xEF010203, 0xEF010203}},
        {"a 3-byte colour is opaque", rgb(1, 2, 3), image::KIND_ARGB, {0xFF010203, 0xFF010203}},
        {"a colour for rgb keeps alpha", rgb(1, 2, 3, 16), image::KIND_RGB, {0x11010203, 0x44010203}},
        {"a colour for alpha: its first byte", rgb(16, 2, 3), image::KIND_ALPHA, {0xEF111111, 0xEF444444}},
        {"an integer colour", int_(0x10030201), image::KIND_ARGB, {0xEF010203, 0xEF010203}},
    };
    for (const Case& c : cases) {
        Cell* img = image_of(2, 1, {0x11111111, 0x44444444});
        EXPECT_EQ(image::set_data(img, c.value, c.kind), c.value) << c.what;
        EXPECT_EQ(pixels_of(img), c.expected) << c.what;
    }
    Cell* img = quad();
    EXPECT_EQ(error_of([&] { image::set_data(img, str("x"), image::KIND_RGB); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { image::set_data(made(pair_(0, 0)), bin("01"), image::KIND_RGB); }), "")
        << "an image without pixels takes nothing";
}

// --- copy ------------------------------------------------------------------------------------

TEST_F(Images, CopyRectangles) {
    // A 3x3 image whose pixel i holds i + 1.
    std::vector<u32> nine;
    for (u32 i = 1; i <= 9; i++) nine.push_back(0xFF000000 | i);
    Cell* img = image_of(3, 3, nine);
    struct Case {
        const char* what;
        i32 head;
        Cell* part;
        const char* size;
        std::vector<u32> low;   // the low bytes of the pixels
    } cases[] = {
        {"whole", 0, nullptr, "3x3", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"from the head's column and row", 4, nullptr, "2x2", {5, 6, 8, 9}},
        {"at the tail", 9, nullptr, "0x0", {}},
        {"a pair from the head", 4, pair_(1, 2), "1x2", {5, 8}},
        {"a pair clipped to the edges", 5, pair_(9, 9), "1x2", {6, 9}},
        {"a pair at the tail", 9, pair_(1, 1), "0x0", {}},
        {"a negative pair ends at the head", 4, pair_(-1, -1), "1x1", {4}},
        {"a negative pair clipped", 4, pair_(-9, -9), "1x2", {1, 4}},
        {"a negative pair at the first column ends the row above", 6, pair_(-2, -1), "2x1", {5, 6}},
        {"a negative pair at the tail ends at the last pixel", 9, pair_(-1, -1), "1x1", {9}},
        {"a negative pair at the head of the image", 0, pair_(-1, -1), "0x0", {}},
        {"mixed signs", 4, pair_(1, -1), "0x0", {}},
        {"zero", 4, pair_(0, 0), "0x0", {}},
        {"a position of the same image", 1, at_(img, 8), "1x2", {2, 5}},
        {"a position before the head", 8, at_(img, 1), "1x2", {2, 5}},
    };
    for (const Case& c : cases) {
        Cell* copy = copied(at_(img, c.head), c.part);
        EXPECT_EQ(size_of(copy), c.size) << c.what;
        std::vector<u32> low;
        if (copy->w2)
            for (u32 p : pixels_of(copy)) low.push_back(p & 0xFF);
        EXPECT_EQ(low, c.low) << c.what;
        EXPECT_EQ(copy->w1, 0u) << c.what;
    }
    EXPECT_EQ(error_of([&] { copied(img, quad()); }), "script invalid-refine-arg") << "another image";
    EXPECT_EQ(error_of([&] { copied(img, str("x")); }), "script invalid-refine-arg");
    EXPECT_EQ(error_of([&] { copied(img, int_(2)); }), "internal not-done");
    Cell* empty = made(pair_(0, 2));
    EXPECT_EQ(size_of(copied(empty)), "0x0");
    Cell* copy = copied(img);
    image::poke(copy, 1, rgb(0, 0, 0), nullptr);
    EXPECT_EQ(pixels_of(img)[0], 0xFF000001u) << "a copy has its own pixels";
}

// --- change ----------------------------------------------------------------------------------

TEST_F(Images, ChangeWithTuplesAndImages) {
    Cell* q = quad();
    Cell* s = stack::push(at_(q, 1));
    image::change(s, rgb(9, 9, 9), nullptr, false, nullptr);
    EXPECT_EQ(s->w1, 2u) << "the head moves one pixel on";
    EXPECT_EQ(pixels_of(q)[1], 0xFF090909u);
    Cell* at_tail = stack::push(at_(q, 4));
    image::change(at_tail, rgb(1, 1, 1), nullptr, false, nullptr);
    EXPECT_EQ(at_tail->w1, 4u) << "nothing to change at the tail";

    std::vector<u32> nine(9, 0xFF000000);
    Cell* big = image_of(3, 3, nine);
    Cell* patch = image_of(2, 2, {0xFF000011, 0xFF000012, 0xFF000013, 0xFF000014});
    Cell* at4 = stack::push(at_(big, 4));
    image::change(at4, patch, nullptr, false, nullptr);
    EXPECT_EQ(pixels_of(big), (std::vector<u32>{0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000011, 0xFF000012,
                                             0xFF000000, 0xFF000013, 0xFF000014}));
    EXPECT_EQ(at4->w1, 9u) << "after the last written pixel of the last written row";
    Cell* at2 = stack::push(at_(big, 2));
    image::change(at2, patch, nullptr, false, nullptr);
    EXPECT_EQ(pixels_of(big)[2], 0xFF000011u);
    EXPECT_EQ(pixels_of(big)[5], 0xFF000013u) << "clipped at the right edge";
    EXPECT_EQ(at2->w1, 6u);

    // The image into itself, one pixel down and right: read from a copy.
    Cell* self = image_of(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    image::change(stack::push(at_(self, 4)), self, nullptr, false, nullptr);
    EXPECT_EQ(pixels_of(self), (std::vector<u32>{1, 2, 3, 4, 1, 2, 7, 4, 5}));

    EXPECT_EQ(error_of([&] { image::change(q, rgb(1, 1, 1), int_(1), false, nullptr); }), "internal not-done");
    EXPECT_EQ(error_of([&] { image::change(q, rgb(1, 1, 1), nullptr, false, int_(2)); }), "internal not-done");
    EXPECT_EQ(error_of([&] { image::change(q, int_(1), nullptr, false, nullptr); }), "script invalid-type");
    image::change(q, rgb(5, 5, 5), nullptr, false, int_(1));
    EXPECT_EQ(pixels_of(q)[0], 0xFF050505u) << "/dup 1 is a plain change";
}

// --- mold and form ---------------------------------------------------------------------------

TEST_F(Images, MoldAndForm) {
    EXPECT_MOLD(made(test::block({pair_(1, 1), rgb(0, 0, 255)})), "make image! [1x1 #{0000FF}]");
    EXPECT_MOLD(made(test::block({pair_(1, 1), bin("0000FF"), bin("80")})),
                "make image! [1x1 #{0000FF} #{\n    80\n}]");
    EXPECT_EQ(mold(made(test::block({pair_(1, 1), bin("0000FF"), bin("80")})), {.flat = true}),
              "make image! [1x1 #{0000FF} #{80}]");
    EXPECT_EQ(mold(made(pair_(2, 1)), {.only = true}), "2x1 #{FFFFFFFFFFFF}");
    EXPECT_MOLD(made(pair_(0, 0)), "make image! [0x0 #{}]");
    EXPECT_MOLD(made(pair_(0, 3)), "make image! [0x3 #{}]");
    // /only leaves the brackets out, of an image without pixels too.
    EXPECT_EQ(mold(made(pair_(0, 0)), {.only = true}), "0x0 #{}");
    EXPECT_MOLD(at_(quad(), 3), "make image! [2x2 #{000004}]") << "the pixels from the head";
    EXPECT_FORM(made(pair_(1, 1)), "make image! [1x1 #{FFFFFF}]");

    // From 31 bytes of pixels on they start on a line of their own, ten a line.
    std::string eleven = "make image! [11x1 #{\n    ";
    for (int i = 0; i < 10; i++) eleven += "FFFFFF";
    eleven += "\n    FFFFFF\n}]";
    EXPECT_MOLD(made(pair_(11, 1)), eleven);
    std::string ten = "make image! [10x1 #{";
    for (int i = 0; i < 10; i++) ten += "FFFFFF";
    ten += "\n    }]";
    EXPECT_MOLD(made(pair_(10, 1)), ten);
    EXPECT_EQ(mold(made(pair_(11, 1)), {.flat = true}).find('\n'), std::string::npos);
    // /part: the text cut where the part runs out.
    Cell* translucent = made(test::block({pair_(12, 1), bin("0000FF"), bin("80")}));
    std::string whole = mold(translucent);
    for (i32 part = 0; part <= i32(whole.size()); part++)
        EXPECT_EQ(mold(translucent, {.part = part}), whole.substr(0, size_t(part))) << part;
}

TEST_F(Images, MoldOfAMovingValue) {
    // The image inside a block being molded: the block may move while the
    // text grows.
    Cell* b = test::block({made(pair_(30, 2)), made(pair_(20, 3))});
    std::string text = mold(b);
    EXPECT_EQ(text.substr(0, 21), "[make image! [30x2 #{");
    EXPECT_NE(text.find("make image! [20x3 #{"), std::string::npos);
}

// --- Comparison -------------------------------------------------------------------------------

TEST_F(Images, Comparison) {
    Cell* a = quad();
    Cell* b = copied(a);
    Cell* tall = image_of(2, 3, {1, 2, 3, 4, 5, 6});
    Cell* wide = image_of(3, 2, {1, 2, 3, 4, 5, 6});
    struct Case {
        const char* what;
        const Cell* x;
        const Cell* y;
        i32 op;
        i32 expected;
    } cases[] = {
        {"same? of copies of one value", a, stack::push(a), COMP_SAME, 0},
        {"same? of another head", a, at_(a, 1), COMP_SAME, -1},
        {"same? of equal pixels", a, b, COMP_SAME, -1},
        {"equal pixels", a, b, COMP_EQUAL, 0},
        {"equal whatever the heads", at_(a, 2), b, COMP_STRICT_EQUAL, 0},
        {"the sides are not compared", tall, wide, COMP_EQUAL, 0},
        {"fewer pixels first", a, tall, COMP_EQUAL, -1},
        {"then the bytes", image_of(1, 1, {1}), image_of(1, 1, {2}), COMP_SORT, -1},
        {"two images without pixels", made(pair_(0, 0)), made(pair_(0, 5)), COMP_EQUAL, 0},
        {"ordering", a, b, COMP_LESSER, NOT_COMPARABLE},
        {"another type", a, int_(1), COMP_EQUAL, NOT_COMPARABLE},
    };
    for (const Case& c : cases) EXPECT_EQ(image::compare(c.x, c.y, c.op), c.expected) << c.what;
    EXPECT_EQ(error_of([&] { actions::compare(a, b, COMP_LESSER); }), "script invalid-compare");
}

// --- to ---------------------------------------------------------------------------------------

Cell* face_hook(const Cell* face, Cell* result) {
    if (face->w2 != 7) return nullptr;   // the stand-in's test for a face
    return image::make_at(result, image_backend::make_bitmap(1, 1, nullptr, nullptr, nullptr));
}

TEST_F(Images, ToImage) {
    Cell* q = quad();
    Cell* copy = convert(TYPE_IMAGE, at_(q, 1));
    EXPECT_NE(copy->w2, q->w2);
    EXPECT_EQ(size_of(copy), "1x2") << "a copy from the head";
    collector::RootCell object(make_object(*int_(1)));
    EXPECT_EQ(error_of([&] { convert(TYPE_IMAGE, object.get()); }), "script bad-to-arg") << "no face hook yet";
    image::face_to_image = face_hook;
    Cell* face = stack::push(object.get());
    face->w2 = 7;
    EXPECT_EQ(size_of(convert(TYPE_IMAGE, face)), "1x1");
    face->w2 = 8;
    EXPECT_EQ(error_of([&] { convert(TYPE_IMAGE, face); }), "script bad-to-arg") << "an object that is not a face";
    image::face_to_image = nullptr;
    EXPECT_EQ(error_of([&] { convert(TYPE_IMAGE, int_(1)); }), "script bad-to-arg");
}

TEST_F(Images, TheEmptyImageThroughEveryAction) {
    for (Cell* spec : {pair_(0, 0), pair_(0, 5)}) {
        std::string what = mold(spec);
        Cell* e = made(spec);
        EXPECT_EQ(image::length_q(e), 0) << what;
        EXPECT_EQ(mold(image::pick(e, 1, nullptr)), "none") << what;
        EXPECT_EQ(mold(image::pick(e, 0, pair_(1, 1))), "none") << what;
        EXPECT_EQ(error_of([&] { image::poke(e, 1, rgb(1, 1, 1), nullptr); }), "script out-of-range") << what;
        for (u32 slot : {ACT_AT, ACT_SKIP}) EXPECT_EQ(head_of(direct(slot, e, int_(3))), "0") << what;
        for (u32 slot : {ACT_NEXT, ACT_BACK, ACT_HEAD, ACT_TAIL}) EXPECT_EQ(head_of(direct(slot, e)), "0") << what;
        EXPECT_EQ(mold(direct(ACT_TAIL_Q, e)), "true") << what;
        EXPECT_EQ(mold(direct(ACT_HEAD_Q, e)), "true") << what;
        EXPECT_EQ(mold(direct(ACT_INDEX_Q, e)), "1") << what;
        EXPECT_EQ(size_of(copied(e)), "0x0") << what;
        EXPECT_EQ(size_of(copied(e, pair_(1, 1))), "0x0") << what;
        EXPECT_EQ(size_of(copied(e, pair_(-1, -1))), "0x0") << what;
        EXPECT_EQ(size_of(convert(TYPE_IMAGE, e)), "0x0") << what;
        EXPECT_EQ(image::change(stack::push(e), rgb(1, 1, 1), nullptr, false, nullptr)->w1, 0u) << what;
        EXPECT_EQ(image::change(stack::push(e), quad(), nullptr, false, nullptr)->w1, 0u) << what;
        EXPECT_EQ(image::change(stack::push(quad()), e, nullptr, false, nullptr)->w1, 0u)
            << what << " as the new pixels";
        EXPECT_EQ(image::compare(e, made(pair_(0, 0)), COMP_EQUAL), 0) << what;
        EXPECT_EQ(image::compare(e, quad(), COMP_EQUAL), -1) << what;
        EXPECT_EQ(hex_of(path_get(e, word("rgb"))), "") << what;
        EXPECT_EQ(mold(path_get(e, word("size"))), what);
        EXPECT_EQ(error_of([&] { path_set(e, word("argb"), bin("00")); }), "") << what;
        EXPECT_EQ(size_of(image::scale(e, 2, 2)), "0x0") << what;
        EXPECT_EQ(error_of([&] { image::lock_pixels(e, nullptr); }), "access bad-media") << what;
        Cell* a = bound_word("a", int_(1));
        image::set_loop_words(test::block({a}), e, 1);
        EXPECT_EQ(mold(context::get(a)), "none") << what;
        image::mark(e);
        image::release(e);
        // Owning an image without pixels owns nothing; its changes report nothing.
        collector::RootCell owner;
        own(e, owner.get());
        Cell* as_binary = binary::to(nullptr, stack::push(e), TYPE_BINARY);
        EXPECT_EQ(hex_of(as_binary), "") << what;
    }
}

// --- Owners -----------------------------------------------------------------------------------

std::vector<std::string> reports;
bool hostile = false;

// Records each report; a hostile handler then allocates and collects, which
// in stress builds moves every buffer.
void record(const Cell*, const Cell*, const Cell*, i32 word, const Cell*, i32 index, i32 part) {
    reports.push_back(std::string(symbol::spelling(word)) + " " + std::to_string(index) + " " + std::to_string(part));
    if (hostile) {
        memory::alloc_cells(64);
        collector::do_cycle();
    }
}

TEST_F(Images, OwnersHearEveryChange) {
    ownership::on_deep_change = record;
    for (bool h : {false, true}) {
        hostile = h;
        reports.clear();
        Cell* img = quad();
        collector::RootCell owner;
        own(img, owner.get());
        image::poke(img, 2, rgb(1, 1, 1), nullptr);
        image::change(stack::push(at_(img, 3)), rgb(2, 2, 2), nullptr, false, nullptr);
        image::change(stack::push(img), image_of(1, 2, {5, 6}), nullptr, false, nullptr);
        image::set_data(img, bin("00"), image::KIND_ALPHA);
        image_backend::Lock lock;
        u32* p = image::lock_pixels(img, &lock);
        p[0] = 0xFF123456;
        image::unlock_pixels(img, &lock, true);
        image::unlock_pixels(img, &lock, false);
        EXPECT_EQ(reports, (std::vector<std::string>{"poke 1 1", "poked 1 1", "change 3 1", "changed 3 1",
                                                     "change 0 2", "changed 0 2", "poke 0 0", "poked 0 0",
                                                     "poked -1 -1"}))
            << (h ? "hostile" : "quiet");
        EXPECT_EQ(pixels_of(img), (std::vector<u32>{0xFF123456, 0xFF010101, 6, 0xFF020202}));
        ownership::unbind(*img);
    }
    hostile = false;
}

// --- Codecs -------------------------------------------------------------------------------------

TEST_F(Images, KnownFormats) {
    struct Case {
        const char* hex;
        bool known;
    } cases[] = {
        {"89504E470D0A", true}, {"FFD8FFE0", true},       {"424D00", true},   {"474946383761", true},
        {"474946383961", true}, {"49492A00", true},       {"4D4D002A", true}, {"474946383861", false},
        {"FFD8FE", false},      {"49492B00", false},      {"42", false},      {"", false},
        {"89504E", false},      {"00424D", false},
    };
    for (const Case& c : cases) EXPECT_EQ(image::known_format_q(bin(c.hex)), c.known) << c.hex;
    EXPECT_EQ(TYPE_OF(image::load_binary(bin("0102030405"))), u32(TYPE_NONE)) << "an unknown format is none";
    EXPECT_EQ(error_of([&] { image::decode(bin("0102030405")); }), "access bad-media")
        << "the codecs' decode refuses it";
}

// The image encoded and read back through the language's entries.
Cell* round_trip(const Cell* img, i32 format) {
    Cell* encoded = image::encode(img, nullptr, format);
    EXPECT_EQ(TYPE_OF(encoded), u32(TYPE_BINARY));
    return image::load_binary(encoded);
}

TEST_F(Images, EncodedImagesReadBack) {
    std::vector<u32> px;
    for (u32 i = 0; i < 35; i++) px.push_back((i % 3 == 0 ? 0xFF000000 : i % 3 == 1 ? 0x80000000 : 0) | i * 0x070503);
    Cell* translucent = image_of(7, 5, px);
    for (i32 format : {image_backend::FORMAT_BMP, image_backend::FORMAT_PNG, image_backend::FORMAT_TIFF})
        EXPECT_EQ(pixels_of(round_trip(translucent, format)), px) << "format " << format;
    Cell* opaque = made(test::block({pair_(5, 3), rgb(10, 200, 30)}));
    for (i32 format : {image_backend::FORMAT_BMP, image_backend::FORMAT_PNG, image_backend::FORMAT_TIFF,
                       image_backend::FORMAT_GIF})
        EXPECT_EQ(pixels_of(round_trip(opaque, format)), pixels_of(opaque)) << "format " << format;
    for (u32 p : pixels_of(round_trip(opaque, image_backend::FORMAT_JPEG))) {
        i32 r = i32(p >> 16 & 255), g = i32(p >> 8 & 255), b = i32(p & 255);
        EXPECT_TRUE(std::abs(r - 10) <= 4 && std::abs(g - 200) <= 4 && std::abs(b - 30) <= 4) << std::hex << p;
    }
    // GIF keeps on/off transparency: below half opacity is transparent.
    Cell* gif = round_trip(image_of(3, 1, {0xFF102030, 0x7F405060, 0x80708090}), image_backend::FORMAT_GIF);
    std::vector<u32> back = pixels_of(gif);
    EXPECT_EQ(back[0], 0xFF102030u);
    EXPECT_EQ(back[1] >> 24, 0u);
    EXPECT_EQ(back[2], 0xFF708090u);
}

TEST_F(Images, EncodingRefusals) {
    EXPECT_EQ(error_of([&] { image::encode(made(pair_(0, 0)), nullptr, image_backend::FORMAT_PNG); }),
              "access bad-media")
        << "an image of size 0";
    Cell* side = image::encode(made(pair_(0, 4)), nullptr, image_backend::FORMAT_PNG);
    EXPECT_EQ(hex_of(side), "") << "a zero side gives an empty binary";
    {
        CapturedOutput out;
        EXPECT_EQ(TYPE_OF(image::encode(quad(), nullptr, 5)), u32(TYPE_NONE));
        EXPECT_EQ(out.text(), "Cannot find image encoder\n");
    }
    // An encoder that fails (here its output refused past a few bytes) used
    // to answer the bytes written so far as if they were the file.
    Cell* img = made(pair_(40, 40));
    image_codec::output_limit = 64;
    for (i32 format = 0; format <= 4; format++)
        EXPECT_EQ(error_of([&] { image::encode(img, nullptr, format); }), "access bad-media") << "format " << format;
    image_codec::output_limit = size_t(MAX_LENGTH - 15);
    Cell* released = quad();
    image::release(released);
    EXPECT_EQ(error_of([&] { image::encode(released, nullptr, image_backend::FORMAT_BMP); }), "access bad-media");
}

// A BMP header of the given size, with no pixels after it.
std::vector<u8> bmp_header(i32 w, i32 h) {
    std::vector<u8> b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    auto put32 = [&](size_t at, u32 v) {
        for (int i = 0; i < 4; i++) b[at + size_t(i)] = u8(v >> (8 * i));
    };
    put32(10, 54);
    put32(14, 40);
    put32(18, u32(w));
    put32(22, u32(h));
    b[26] = 1;
    b[28] = 24;
    return b;
}

TEST_F(Images, DecodingRefusals) {
    std::vector<u8> rle = bmp_header(2, 2);
    struct Case {
        const char* what;
        std::vector<u8> bytes;
    } cases[] = {
        {"a BMP wider than 16 bits", bmp_header(70000, 1)},
        {"a BMP past the 32-bit size limit", bmp_header(40000, 20000)},
        {"a BMP whose pixels are missing", bmp_header(4, 4)},
        {"a BMP of zero width", bmp_header(0, 4)},
        {"a BMP of the most negative height", bmp_header(4, INT32_MIN)},
        {"a PNG signature alone", {0x89, 'P', 'N', 'G', 13, 10, 26, 10}},
        {"a JPEG start alone", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16}},
        {"a GIF header alone", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}},
        {"a TIFF header alone", {'I', 'I', 42, 0, 8, 0, 0, 0}},
    };
    collector::do_cycle();   // what earlier tests left
    i32 handles = handle_table::used_count();
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { image::load_binary(bin(c.bytes)); }), "access bad-media") << c.what;
    EXPECT_EQ(handle_table::used_count(), handles) << "a refused file leaves no bitmap behind";
}

// Bit masks come from the header only as far as the header holds them: a
// header of 52 to 55 bytes carries the red, green and blue masks but not the
// alpha one that BI_ALPHABITFIELDS asks for. Read from past the header, that
// mask would be the pixel's own bytes, or, in a file whose pixels sit inside
// the header, bytes past the end of the file.
TEST_F(Images, BmpMasksStayInsideTheHeader) {
    auto put32 = [](std::vector<u8>& b, size_t at, u32 v) {
        for (int i = 0; i < 4; i++) b[at + size_t(i)] = u8(v >> (8 * i));
    };
    for (u32 header : {52u, 53u, 55u})
        for (bool pixel_inside : {false, true}) {
            size_t size = 14 + header + (pixel_inside ? 0 : 4);
            std::vector<u8> b(size + 4, 0);
            b[0] = 'B';
            b[1] = 'M';
            put32(b, 10, u32(size - 4));   // one 32-bit pixel, the file's last 4 bytes
            put32(b, 14, header);
            put32(b, 18, 1);
            put32(b, 22, 1);
            b[26] = 1;
            b[28] = 32;
            put32(b, 30, 6);   // BI_ALPHABITFIELDS
            put32(b, 54, 0x00FF0000);
            put32(b, 58, 0x0000FF00);
            put32(b, 62, 0x000000FF);
            put32(b, size, 0xFF000000);   // past the end of the file
            image_backend::Bitmap* decoded = image_codec::decode_bmp(b.data(), size);
            EXPECT_EQ(decoded, nullptr) << "a " << header << "-byte header has no room for the alpha mask"
                                        << (pixel_inside ? " (pixel inside the header)" : "");
            image_backend::free_bitmap(decoded);
        }
}

TEST_F(Images, Files) {
    std::string path = ::testing::TempDir() + "zir-image-test.png";
    Cell* encoded = image::encode(quad(), nullptr, image_backend::FORMAT_PNG);
    std::vector<u8> bytes = binary::bytes_of(encoded);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), i64(bytes.size()));
    Cell* file = str(path.c_str(), TYPE_FILE);
    EXPECT_EQ(pixels_of(image::decode(file)), pixels_of(quad()));
    Cell* cell = stack::push(int_(1));
    image::load_file(cell, file);
    EXPECT_EQ(TYPE_OF(cell), u32(TYPE_IMAGE));
    std::ofstream(path, std::ios::binary) << "not an image";
    EXPECT_EQ(error_of([&] { image::decode(file); }), "access bad-media") << "read, but not decodable";
    std::remove(path.c_str());
    LanguageError e = raised([&] { image::decode(file); });
    EXPECT_EQ(std::string(e.id), "cannot-open");
    EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_FILE)) << "the error names the file";
    EXPECT_EQ(error_of([&] { image::decode(str(::testing::TempDir().c_str(), TYPE_FILE)); }), "access cannot-open")
        << "a folder";
}

// --- Scaling, memory, loops, locks -------------------------------------------------------------------

TEST_F(Images, ScaleByNearestNeighbour) {
    Cell* q = quad();
    EXPECT_EQ(pixels_of(image::scale(q, 4, 4)),
              (std::vector<u32>{0xFF000001, 0xFF000001, 0xFF000002, 0xFF000002, 0xFF000001, 0xFF000001, 0xFF000002,
                                0xFF000002, 0xFF000003, 0xFF000003, 0xFF000004, 0xFF000004, 0xFF000003, 0xFF000003,
                                0xFF000004, 0xFF000004}));
    Cell* row = image_of(4, 1, {1, 2, 3, 4});
    EXPECT_EQ(pixels_of(image::scale(row, 2, 1)), (std::vector<u32>{2, 4})) << "the pixel under each centre";
    EXPECT_EQ(image::scale(q, 0, 3)->w2, 0u);
    EXPECT_EQ(image::scale(made(pair_(0, 0)), 3, 3)->w2, 0u);
}

TEST_F(Images, FromMemoryAndFlip) {
    // Two rows of two pixels, 12 bytes apart (4 bytes of padding a row).
    u32 memory[] = {1, 2, 0xDEAD, 3, 4, 0xDEAD};
    u32 record = 0;
    EXPECT_EQ(image_backend::from_memory(2, 2, 12, sizeof memory, reinterpret_cast<const u8*>(memory), &record), 0);
    Cell* img = image::make_at(stack::push_slot(), record);
    EXPECT_EQ(pixels_of(img), (std::vector<u32>{1, 2, 3, 4}));
    EXPECT_EQ(image_backend::from_memory(2, 2, 12, 20, reinterpret_cast<const u8*>(memory), &record), 0)
        << "the last row needs no padding";
    image::make_at(stack::push_slot(), record);
    EXPECT_EQ(image_backend::from_memory(2, 2, 12, 19, reinterpret_cast<const u8*>(memory), &record), -1)
        << "a buffer too short";
    EXPECT_EQ(record, 0u);
    EXPECT_EQ(image_backend::from_memory(2, 2, 4, 100, reinterpret_cast<const u8*>(memory), &record), -1)
        << "a stride shorter than a row";
    u32 flipped_record = image_backend::flip_vertical(img->w2);
    Cell* flipped = image::make_at(stack::push_slot(), flipped_record);
    EXPECT_EQ(pixels_of(flipped), (std::vector<u32>{3, 4, 1, 2}));
}

TEST_F(Images, LoopWords) {
    Cell* img = image_of(3, 1, {0xFF010203, 0x00040506, 0xFF070809});
    Cell* a = bound_word("a", none_());
    Cell* b = bound_word("b", none_());
    Cell* words = test::block({a, b});
    image::set_loop_words(words, at_(img, 1), 2);
    EXPECT_EQ(mold(context::get(a)), "4.5.6.255");
    EXPECT_EQ(mold(context::get(b)), "7.8.9.0");
    image::set_loop_words(words, at_(img, 2), 2);
    EXPECT_EQ(mold(context::get(b)), "none") << "past the tail";
}

TEST_F(Images, LocksAndReleasedBitmaps) {
    Cell* img = quad();
    image_backend::Lock lock;
    u32* p = image::lock_pixels(img, &lock);
    memory::alloc_cells(100);   // the pixels never move
    collector::do_cycle();
    p[3] = 0xFF999999;
    image::unlock_pixels(img, &lock, true);
    EXPECT_EQ(pixels_of(img)[3], 0xFF999999u);
    EXPECT_EQ(error_of([&] { image::lock_pixels(made(pair_(0, 0)), &lock); }), "access bad-media");
    Cell* copy = stack::push(img);
    image::release(img);
    EXPECT_EQ(error_of([&] { image::pick(copy, 1, nullptr); }), "access bad-media") << "a released bitmap";
    EXPECT_EQ(error_of([&] { image::poke(copy, 1, rgb(1, 1, 1), nullptr); }), "access bad-media");
    EXPECT_EQ(error_of([&] { mold(copy); }), "access bad-media");
    EXPECT_EQ(image::length_q(copy), 4) << "its size stays";
}

TEST_F(Images, TheCollectorKeepsAndReleasesBitmaps) {
    collector::do_cycle();   // what earlier tests left
    i32 before = handle_table::used_count();
    Cell* kept = quad();
    Cell* holder = test::block({made(pair_(3, 3))});
    {
        stack::KeepTop scratch;
        for (int i = 0; i < 20; i++) made(pair_(8, 8));
    }
    collector::do_cycle();
    EXPECT_EQ(handle_table::used_count(), before + 2) << "the unreferenced bitmaps are released";
    EXPECT_EQ(pixels_of(kept)[2], 0xFF000003u);
    Cell* inner = stack::push(block::zs_abs_at(holder, 0));
    EXPECT_EQ(pixels_of(inner), std::vector<u32>(9, 0xFFFFFFFF)) << "an image inside a block";
    collector::do_cycle();
    EXPECT_EQ(handle_table::used_count(), before + 2);
}

}  // namespace
}  // namespace zir
