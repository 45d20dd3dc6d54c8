// binary!: the raw-buffer helpers, to binary!, mold, comparison and the parse
// tests, the bitwise actions, trim, the insertion core behind insert, append
// and change, and the series actions binary! takes from string!.
#include <algorithm>
#include <cmath>
#include <random>

#include "datatypes/binary.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Binary : ValueTest {};

Cell* tuple_(std::initializer_list<u8> bytes) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_TUPLE);
    c->header |= u32(bytes.size()) << 19;
    std::memcpy(&c->w1, bytes.begin(), bytes.size());
    return c;
}

// A bitset! over the given bytes (bit 7 of byte 0 is element 0).
Cell* bitset_(std::initializer_list<u8> bytes, bool complemented = false) {
    Cell* c = bin(std::vector<u8>(bytes));
    cell::set_type(c, TYPE_BITSET);
    if (complemented) node_buffer(c->w2)->flags |= SERIES_COMPLEMENT;
    return c;
}

Cell* issue_(const char* spelling) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    return issue::make_at(c, spelling);
}

// to binary! as string's `to` reaches it: through the registry.
Cell* to_binary(const Cell* spec) {
    auto to = reinterpret_cast<action::Make>(actions::lookup(TYPE_BINARY, ACT_TO));
    return to(nullptr, stack::push(spec), TYPE_BINARY);
}

// --- Raw-buffer helpers ----------------------------------------------------------------

TEST_F(Binary, RawHelpersAppendInsertAndWriteAtTheirPlaces) {
    Cell* b = bin("0102");
    binary::make_at(b, 0);
    EXPECT_EQ(node_buffer(b->w2)->size, 16u) << "capacity 0 gives room for 16 bytes";
    u8 some[] = {1, 2, 3};
    u8* where = binary::zs_append(b, some, 3);
    EXPECT_EQ(where, binary::zs_head(b));
    EXPECT_EQ(hex_of(b), "010203");
    binary::zs_append_int32(b, -2);
    EXPECT_EQ(hex_of(b), "010203FFFFFFFE") << "most significant byte first";
    Cell* at1 = at_(b, 1);
    u8 ab[] = {0xAA, 0xBB};
    binary::zs_insert(at1, 1, ab, 2);
    EXPECT_EQ(hex_of(b), "0102AABB03FFFFFFFE") << "inserted at head + offset";
    binary::zs_write_at(at1, 7, ab, 2);
    EXPECT_EQ(hex_of(b), "0102AABB03FFFFFFAABB") << "a write past the tail moves it";
    binary::zs_write_at(at1, 11, ab, 1);
    EXPECT_EQ(hex_of(b), "0102AABB03FFFFFFAABB0000AA") << "bytes skipped past the tail read as 0";
    binary::zs_write_at(at1, 0, ab, 1);
    EXPECT_EQ(hex_of(b), "01AAAABB03FFFFFFAABB0000AA") << "a write inside leaves the tail";
    binary::zs_cut_at_head(at_(b, 3));
    EXPECT_EQ(hex_of(b), "01AAAA");
    Cell* c = at_(b, 0);
    EXPECT_FALSE(binary::zs_skip(c, 2));
    EXPECT_EQ(c->w1, 2u);
    EXPECT_TRUE(binary::zs_skip(c, 5)) << "past the tail: answered, not moved";
    EXPECT_EQ(c->w1, 2u);
    EXPECT_TRUE(binary::zs_next(c));
    EXPECT_EQ(binary::zs_byte_at(c, 0), 0x01) << "counted from the first used byte, not the head";
}

TEST_F(Binary, RawHelpersTakeSourcesFromTheirOwnBuffer) {
    // Growing moves the buffer the source lies in: the bytes must come from
    // where they were, not from the space left behind.
    std::vector<u8> start(40);
    for (size_t i = 0; i < start.size(); i++) start[i] = u8(i);
    Cell* b = bin(start);
    for (int round = 0; round < 4; round++) {
        SeriesBuffer* s = node_buffer(b->w2);
        i64 n = series::used_bytes(s);
        binary::zs_append(b, series::head(s), n);
    }
    std::vector<u8> bytes = binary::bytes_of(b);
    ASSERT_EQ(bytes.size(), 40u * 16);
    for (size_t i = 0; i < bytes.size(); i++) ASSERT_EQ(bytes[i], u8(i % 40)) << i;
    Cell* c = bin("00010203");
    std::vector<u8> model = binary::bytes_of(c);
    for (int round = 0; round < 5; round++) {
        binary::zs_insert(c, 1, series::head(node_buffer(c->w2)), 4);
        std::vector<u8> first(model.begin(), model.begin() + 4);
        model.insert(model.begin() + 1, first.begin(), first.end());
    }
    EXPECT_EQ(binary::bytes_of(c), model);
    Cell* d = bin("0A0B");
    binary::zs_write_at(d, 100, series::head(node_buffer(d->w2)), 2);
    EXPECT_EQ(hex_of(d).substr(200), "0A0B");
}

TEST_F(Binary, LoadCopiesIntoABlockOrOntoTheStack) {
    Cell* blk = block({});
    const u8 bytes[] = {0xDE, 0xAD};
    Cell* in = binary::load_in(bytes, 2, blk);
    EXPECT_EQ(TYPE_OF(in), u32(TYPE_BINARY));
    EXPECT_MOLD(blk, "[#{DEAD}]");
    Cell* pushed = binary::load(bytes, 0);
    EXPECT_EQ(pushed, stack::top - 1);
    EXPECT_MOLD(pushed, "#{}");
    binary::make_in(blk, 4);
    EXPECT_MOLD(blk, "[#{DEAD} #{}]");
}

// --- to binary! ---------------------------------------------------------------------------

TEST_F(Binary, ToBinaryBySourceType) {
    Cell* pct = float_(0.5);
    cell::set_type(pct, TYPE_PERCENT);
    Cell* file = str("a b");
    cell::set_type(file, TYPE_FILE);
    struct Case {
        const char* what;
        Cell* spec;
        const char* bytes;
    } cases[] = {
        {"-1", int_(-1), "FFFFFFFF"},
        {"1", int_(1), "00000001"},
        {"1.0", float_(1.0), "3FF0000000000000"},
        {"50%", pct, "3FE0000000000000"},
        {"char U+E9", test::char_(0xE9), "C3A9"},
        {"char U+1F600", test::char_(0x1F600), "F09F9880"},
        {"[1 \"A\" #{02}]", block({int_(1), str("A"), bin("02")}), "014102"},
        {"[[1 2] #\"a\"]", block({block({int_(1), int_(2)}), test::char_('a')}), "010261"},
        {"text from its head", at_(str("x\u00e9t\u00e9"), 1), "C3A974C3A9"},
        {"file!", file, "612062"},
        {"wide text", text_series(U"\u4E2D\U0001F600", 4), "E4B8ADF09F9880"},
        {"tuple 1.2.3", tuple_({1, 2, 3}), "010203"},
        {"tuple of 12", tuple_({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 255}), "0102030405060708090A0BFF"},
        {"issue", issue_("0a0B"), "0A0B"},
        {"bitset", bitset_({0x80, 0x01}), "8001"},
        {"binary from its head", at_(bin("010203"), 1), "0203"},
        {"empty block", block({}), ""},
    };
    for (const Case& c : cases) {
        Cell* r = to_binary(c.spec);
        ASSERT_EQ(TYPE_OF(r), u32(TYPE_BINARY)) << c.what;
        EXPECT_EQ(hex_of(r), c.bytes) << c.what;
        EXPECT_EQ(r->w1, 0u) << c.what;
    }
    Cell* original = bin("0102");
    Cell* copy = to_binary(original);
    series::head(node_buffer(copy->w2))[0] = 9;
    EXPECT_EQ(hex_of(original), "0102") << "a binary converts to a copy";
}

TEST_F(Binary, ToBinaryRefusals) {
    struct Case {
        const char* what;
        Cell* spec;
        const char* error;
    } cases[] = {
        {"none", none_(), "script bad-to-arg"},
        {"word", word("abc"), "script bad-to-arg"},
        {"pair", pair_(1, 2), "script bad-to-arg"},
        {"issue that is not hexadecimal", issue_("12G4"), "script invalid-data"},
        {"issue with a letter beyond ASCII", issue_("0\u0141"), "script invalid-data"},
        {"char beyond the code points", test::char_(0x110000), "script invalid-char"},
        {"a block holding a word", block({int_(1), word("w")}), "script bad-to-arg"},
        {"a block holding 256", block({int_(256)}), "script invalid-arg"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { to_binary(c.spec); }), c.error) << c.what;
    try {
        to_binary(issue_("XY"));
        ADD_FAILURE();
    } catch (const LanguageError& e) {
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_ISSUE)) << "the error names the issue";
    }
}

TEST_F(Binary, NumbersAndCharsComeBackFromTheirBytes) {
    // to binary! and back, each side through the registry.
    auto back = [](u32 type, const Cell* bytes) {
        auto to = reinterpret_cast<action::Make>(actions::lookup(type, ACT_TO));
        return to(nullptr, stack::push(bytes), type);
    };
    for (i32 v : {0, 1, -1, 258, INT32_MIN, INT32_MAX}) {
        Cell* r = back(TYPE_INTEGER, to_binary(int_(v)));
        EXPECT_EQ(TYPE_OF(r), u32(TYPE_INTEGER));
        EXPECT_EQ(integer::get(r), v);
    }
    for (double d : {1.0, -0.0, 5e-324, 1.7976931348623157e308, 0.1}) {
        Cell* r = back(TYPE_FLOAT, to_binary(float_(d)));
        EXPECT_EQ(std::bit_cast<u64>(cell::get_float(r)), std::bit_cast<u64>(d)) << d;
    }
    for (u32 cp : {0x41u, 0xE9u, 0x4E2Du, 0x1F600u}) {
        Cell* r = back(TYPE_CHAR, to_binary(test::char_(cp)));
        EXPECT_EQ(r->w2, cp);
    }
    EXPECT_EQ(integer::get(back(TYPE_INTEGER, at_(bin("FF01020304"), 1))), 0x01020304) << "from the head";
}

TEST_F(Binary, MakeBinaryTakesACapacityOrConverts) {
    Cell* made = actions::get<action::Make>(bin(""), ACT_MAKE)(nullptr, stack::push(int_(100)), TYPE_BINARY);
    EXPECT_MOLD(made, "#{}");
    EXPECT_GE(node_buffer(made->w2)->size, 100u);
    Cell* text = actions::get<action::Make>(bin(""), ACT_MAKE)(nullptr, stack::push(str("hi")), TYPE_BINARY);
    EXPECT_MOLD(text, "#{6869}");
}

TEST_F(Binary, ToStringAndCharReadUtf8) {
    Cell* s = actions::get<action::Make>(str(""), ACT_TO)(nullptr, stack::push(bin("C3A974")), TYPE_STRING);
    EXPECT_EQ(string::to_std(s), "\u00e9t");
    EXPECT_EQ(error_of([] {
                  actions::get<action::Make>(str(""), ACT_TO)(nullptr, stack::push(bin("FF")), TYPE_STRING);
              }),
              "access invalid-utf8");
    Cell* c = actions::get<action::Make>(test::char_('a'), ACT_TO)(nullptr, stack::push(at_(bin("41F09F9880"), 1)),
                                                               TYPE_CHAR);
    EXPECT_EQ(TYPE_OF(c), u32(TYPE_CHAR));
    EXPECT_EQ(c->w2, 0x1F600u);
}

// --- Mold and form ----------------------------------------------------------------------------

std::string hex_run(size_t from, size_t n) {
    std::string s;
    for (size_t i = from; i < from + n; i++) s += string::byte_to_hex(u8(i));
    return s;
}

Cell* counting(size_t n) {
    std::vector<u8> bytes(n);
    for (size_t i = 0; i < n; i++) bytes[i] = u8(i);
    return bin(bytes);
}

TEST_F(Binary, MoldBreaksLinesFrom31Bytes) {
    struct Case {
        size_t n;
        std::string text;
    } cases[] = {
        {0, "#{}"},
        {3, "#{000102}"},
        {30, "#{" + hex_run(0, 30) + "}"},
        {31, "#{\n    " + hex_run(0, 31) + "\n}"},
        {32, "#{\n    " + hex_run(0, 32) + "\n    }"},
        {33, "#{\n    " + hex_run(0, 32) + "\n    " + hex_run(32, 1) + "\n}"},
        {64, "#{\n    " + hex_run(0, 32) + "\n    " + hex_run(32, 32) + "\n    }"},
    };
    for (const Case& c : cases) {
        Cell* b = counting(c.n);
        EXPECT_MOLD(b, c.text) << c.n << " bytes";
        EXPECT_FORM(b, c.text) << c.n << " bytes: form writes the same text";
    }
    EXPECT_MOLD(at_(counting(33), 3), "#{" + hex_run(3, 30) + "}") << "counted from the head";
}

TEST_F(Binary, MoldInsideABlockIndentsOneLevelDeeper) {
    Cell* b31 = counting(31);
    Cell* b64 = counting(64);
    // A block whose first value starts a new line molds its values one level in.
    EXPECT_MOLD(block({nl(b31)}), "[\n    #{\n        " + hex_run(0, 31) + "\n    }\n]");
    EXPECT_MOLD(block({nl(b64)}),
                "[\n    #{\n        " + hex_run(0, 32) + "\n        " + hex_run(32, 32) + "\n        }\n]");
    EXPECT_MOLD(block({int_(1), counting(30)}), "[1 #{" + hex_run(0, 30) + "}]");
    EXPECT_MOLD(block({counting(32)}), "[#{\n    " + hex_run(0, 32) + "\n    }]");
}

TEST_F(Binary, MoldFlatOnlyAndPart) {
    Cell* b = counting(40);
    EXPECT_EQ(mold(b, {.flat = true}), "#{" + hex_run(0, 40) + "}");
    EXPECT_EQ(mold(bin("0102"), {.only = true}), "0102");
    EXPECT_EQ(mold(b, {.only = true, .flat = true}), hex_run(0, 40));
    EXPECT_EQ(mold(bin("0102FF"), {.part = 5}), "#{010");
    EXPECT_EQ(mold(bin("0102FF"), {.part = 20}), "#{0102FF}");
    EXPECT_EQ(mold(b, {.part = 9}), "#{\n    00");
    // The part left is what the caller gave less every code point written.
    Cell* buffer = str("");
    Cell arg;
    cell::init(&arg, TYPE_INTEGER);
    arg.w2 = 7;
    EXPECT_EQ(actions::mold(bin("0102FF"), buffer, false, false, false, &arg, 7, 0), -1);
    EXPECT_EQ(string::to_std(buffer), "#{0102FF") << "stops after the byte that used the part up";
    EXPECT_EQ(actions::mold(bin("01"), str(""), false, false, false, nullptr, 100, 0), 100 - 5);
    EXPECT_EQ(actions::mold(counting(31), str(""), false, false, false, nullptr, 1000, 0), 1000 - 3 - 5 - 62 - 1);
}

TEST_F(Binary, MoldIntoItsOwnBuffer) {
    // The text written is the bytes as they were when the mold began.
    Cell* b = counting(40);
    Cell* same = stack::push(b);
    cell::set_type(same, TYPE_STRING);
    binary::mold_bytes(b, same, false, true, nullptr, PART_UNLIMITED, 0);
    std::vector<u8> bytes = binary::bytes_of(b);
    std::string text(bytes.begin() + 40, bytes.end());
    EXPECT_EQ(text, "#{" + hex_run(0, 40) + "}");
}

// --- Comparison and parse tests ---------------------------------------------------------------

TEST_F(Binary, OrderIsByUnsignedBytesThenLength) {
    struct Case {
        const char* a;
        const char* b;
        i32 op;
        bool expected;
    } cases[] = {
        {"01", "0100", COMP_EQUAL, false},     {"01", "0100", COMP_LESSER, true},
        {"FF", "00FF", COMP_GREATER, true},    {"80", "7F", COMP_GREATER, true},
        {"0102", "0102", COMP_EQUAL, true},    {"0102", "0102", COMP_STRICT_EQUAL, true},
        {"0102", "0103", COMP_NOT_EQUAL, true}, {"", "", COMP_EQUAL, true},
        {"", "00", COMP_LESSER, true},         {"0102", "01", COMP_GREATER_EQUAL, true},
        {"6162", "4142", COMP_EQUAL, false},   {"0102", "0102", COMP_SAME, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(actions::compare(bin(c.a), bin(c.b), c.op), c.expected) << c.a << " op " << c.op << " " << c.b;
    Cell* b = bin("0102");
    EXPECT_TRUE(actions::compare(b, at_(b, 0), COMP_SAME));
    EXPECT_FALSE(actions::compare(b, at_(b, 1), COMP_SAME));
    EXPECT_TRUE(actions::compare(at_(b, 1), bin("02"), COMP_EQUAL)) << "from the heads";
    EXPECT_EQ(binary::compare(b, str("\x01\x02"), COMP_EQUAL), NOT_COMPARABLE) << "only binaries compare";
    EXPECT_EQ(error_of([&] { actions::compare(b, int_(1), COMP_LESSER); }), "script invalid-compare");
}

TEST_F(Binary, ParseTestsMatchPrefixesBytesAndBitsets) {
    Cell* b = bin("616263");
    struct Case {
        const char* what;
        Cell* other;
        bool match;
    } cases[] = {
        {"binary prefix", bin("6162"), true},
        {"binary longer than the rest", bin("61626364"), false},
        {"text prefix", str("ab"), true},
        {"text of a different case", str("AB"), false},
        {"wide text", text_series(U"ab", 2), true},
        {"a code point no byte can hold", text_series(U"a\u0162", 2), false},
        {"empty text", str(""), true},
        {"char at the head", test::char_('a'), true},
        {"another char", test::char_('b'), false},
        {"integer", int_(0x61), false},
    };
    for (const Case& c : cases) EXPECT_EQ(binary::match_value_q(b, c.other, COMP_EQUAL), c.match) << c.what;
    EXPECT_FALSE(binary::match_value_q(at_(b, 3), test::char_('c'), COMP_EQUAL)) << "nothing at the tail";
    EXPECT_EQ(binary::compare_bytes(b, str(""), COMP_NOT_EQUAL, true), 1);
    Cell* bits = bitset_({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40});   // only 0x61
    EXPECT_TRUE(binary::match_bitset_q(b, bits));
    EXPECT_FALSE(binary::match_bitset_q(at_(b, 1), bits));
    EXPECT_TRUE(binary::match_bitset_q(bin("FF"), bitset_({0}, true))) << "beyond the bits: complemented";
    EXPECT_FALSE(binary::match_bitset_q(bin("FF"), bitset_({0})));
    EXPECT_FALSE(binary::match_bitset_q(bin(""), bitset_({0xFF}, true)));
}

// --- Bitwise actions ----------------------------------------------------------------------------

TEST_F(Binary, BitwiseActionsCombineFromTheHeads) {
    struct Case {
        u32 slot;
        const char* a;
        const char* b;
        const char* expected;
    } cases[] = {
        {ACT_AND_T, "FF00FF", "0F", "0F0000"}, {ACT_OR_T, "FF00FF", "0F", "FF00FF"},
        {ACT_XOR_T, "FF00FF", "0F", "F000FF"}, {ACT_AND_T, "0F", "FF00FF", "0F0000"},
        {ACT_OR_T, "0F", "F000FF", "FF00FF"},  {ACT_XOR_T, "", "0102", "0102"},
        {ACT_AND_T, "", "", ""},
    };
    for (const Case& c : cases) {
        Cell* a = bin(c.a);
        Cell* r = direct(c.slot, a, bin(c.b));
        EXPECT_EQ(hex_of(r), c.expected) << c.slot << " " << c.a << " " << c.b;
        EXPECT_NE(r->w2, a->w2) << "a new binary";
    }
    EXPECT_EQ(hex_of(direct(ACT_OR_T, at_(bin("FFFF0102"), 2), bin("F0"))), "F102");
    EXPECT_EQ(hex_of(direct(ACT_AND_T, at_(bin("01"), 5), bin("F0F0"))), "0000") << "a head past the tail";
    EXPECT_EQ(error_of([] { direct(ACT_XOR_T, bin("01"), int_(1)); }), "script invalid-arg");
    EXPECT_EQ(error_of([] { direct(ACT_AND_T, bin("01"), str("a")); }), "script invalid-arg");
}

TEST_F(Binary, ComplementInvertsInPlace) {
    Cell* b = bin("00FF0F");
    Cell* other = at_(b, 0);
    Cell* r = actions::get<action::Unary>(b, ACT_COMPLEMENT)(at_(b, 1));
    EXPECT_EQ(r->w1, 1u);
    EXPECT_EQ(hex_of(other), "0000F0") << "seen through another reference, from the head";
}

// --- trim ---------------------------------------------------------------------------------------

TEST_F(Binary, TrimRemovesZeros) {
    struct Case {
        const char* what;
        const char* bytes;
        i32 head_index;
        bool head, tail, all;
        Cell* with;
        const char* expected;
    } cases[] = {
        {"both ends", "0000010000", 0, false, false, false, nullptr, "01"},
        {"/head", "0000010000", 0, true, false, false, nullptr, "010000"},
        {"/tail", "0000010000", 0, false, true, false, nullptr, "000001"},
        {"/head/tail", "00010200", 0, true, true, false, nullptr, "0102"},
        {"inside zeros stay", "0001000100", 0, false, false, false, nullptr, "010001"},
        {"from the head", "00000100", 1, false, false, false, nullptr, "0001"},
        {"all zeros", "0000", 0, false, false, false, nullptr, ""},
        {"/all", "00010001", 0, false, false, true, nullptr, "0101"},
        {"/with an integer", "01020102", 0, false, false, false, int_(2), "0101"},
        {"/with a binary", "01020300", 0, false, false, false, bin("0300"), "0102"},
        {"/with a string", "61626162", 0, false, false, false, str("a"), "6262"},
        {"/all/with a char", "61626162", 0, false, false, true, test::char_('b'), "6161"},
    };
    for (const Case& c : cases) {
        Cell* b = bin(c.bytes);
        binary::trim(at_(b, c.head_index), c.head, c.tail, false, false, c.all, c.with);
        EXPECT_EQ(hex_of(b), c.expected) << c.what;
    }
    EXPECT_EQ(error_of([] { binary::trim(bin("00"), false, false, true, false, false, nullptr); }),
              "internal not-done");
    EXPECT_EQ(error_of([] { binary::trim(bin("00"), false, false, false, true, false, nullptr); }),
              "internal not-done");
}

// --- insert, append and change ------------------------------------------------------------------

TEST_F(Binary, AppendTakesEachKindOfValue) {
    struct Case {
        const char* what;
        Cell* value;
        i32 part;   // -1: none
        bool only;
        i32 dup;    // 0: none
        const char* expected;
    } cases[] = {
        {"255", int_(255), -1, false, 0, "FF"},
        {"-1", int_(-1), -1, false, 0, "FF"},
        {"-128", int_(-128), -1, false, 0, "80"},
        {"char U+E9", test::char_(0xE9), -1, false, 0, "C3A9"},
        {"char, /part 1", test::char_(0x20AC), 1, false, 0, "E2"},
        {"text", str("a\u00e9"), -1, false, 0, "61C3A9"},
        {"text, /part cuts whole characters", str("a\u00e9"), 2, false, 0, "61"},
        {"text from its head", at_(str("abc"), 2), -1, false, 0, "63"},
        {"binary", bin("0102"), -1, false, 0, "0102"},
        {"binary /part", bin("010203"), 2, false, 0, "0102"},
        {"tuple", tuple_({1, 2, 3, 4}), -1, false, 0, "01020304"},
        {"tuple /part", tuple_({1, 2, 3, 4}), 3, false, 0, "010203"},
        {"block", block({int_(1), str("A"), bin("02")}), -1, false, 0, "014102"},
        {"block /part counts values", block({bin("0102"), bin("0304"), int_(5)}), 2, false, 0, "01020304"},
        {"block /only /part counts bytes", block({bin("0102"), bin("0304")}), 3, true, 0, "010203"},
        {"nested blocks", block({block({int_(1), block({int_(2)})}), int_(3)}), -1, false, 0, "010203"},
        {"paren", block({int_(7)}, TYPE_PAREN), -1, false, 0, "07"},
        {"hash", hash_({int_(8), int_(9)}), -1, false, 0, "0809"},
        {"/dup", bin("0102"), -1, false, 3, "010201020102"},
        {"/dup of a char", test::char_(0xE9), -1, false, 2, "C3A9C3A9"},
        {"empty binary", bin(""), -1, false, 2, ""},
    };
    for (const Case& c : cases) {
        Cell* b = bin("");
        Cell* part = c.part >= 0 ? int_(c.part) : nullptr;
        Cell* dup = c.dup > 0 ? int_(c.dup) : nullptr;
        Cell* r = binary::insert(at_(b, 0), c.value, part, c.only, dup, true);
        EXPECT_EQ(hex_of(b), c.expected) << c.what;
        EXPECT_EQ(r->w1, 0u) << c.what << ": append answers the head";
    }
}

TEST_F(Binary, InsertAndAppendRefuse) {
    struct Case {
        const char* what;
        Cell* value;
        const char* error;
    } cases[] = {
        {"256", int_(256), "script invalid-arg"},
        {"-129", int_(-129), "script invalid-arg"},
        {"a block holding 300", block({int_(1), int_(300)}), "script invalid-arg"},
        {"none", none_(), "script bad-to-arg"},
        {"word", word("w"), "script bad-to-arg"},
        {"float", float_(1.5), "script bad-to-arg"},
        {"char beyond the code points", test::char_(0x110000), "script invalid-char"},
    };
    for (const Case& c : cases) {
        for (bool append : {true, false}) {
            Cell* b = bin("AB");
            EXPECT_EQ(error_of([&] { binary::insert(b, c.value, nullptr, false, nullptr, append); }), c.error)
                << c.what;
            EXPECT_EQ(hex_of(b), "AB") << c.what << ": nothing written";
        }
    }
    try {
        binary::insert(bin(""), int_(256), nullptr, false, nullptr, true);
    } catch (const LanguageError& e) {
        EXPECT_EQ(integer::get(&e.args[0]), 256) << "the error names the value";
    }
    EXPECT_EQ(error_of([] { binary::insert(bin(""), bin("0102"), nullptr, false, int_(0x40000000), true); }),
              "internal no-memory");
}

TEST_F(Binary, InsertAtTheHeadAnswersPastWhatWentIn) {
    Cell* b = bin("0102");
    Cell* r = binary::insert(at_(b, 1), bin("AABB"), nullptr, false, int_(2), false);
    EXPECT_EQ(hex_of(b), "01AABBAABB02");
    EXPECT_EQ(r->w1, 5u);
    r = binary::insert(at_(b, 9), int_(3), nullptr, false, nullptr, false);
    EXPECT_EQ(hex_of(b), "01AABBAABB0203") << "a head past the tail inserts at the tail";
    EXPECT_EQ(r->w1, 7u);
    // The binary's own bytes, growing its buffer on the way.
    Cell* c = counting(20);
    binary::insert(at_(c, 0), at_(c, 10), nullptr, false, int_(8), false);
    std::string own = hex_run(10, 10);
    std::string expected;
    for (int i = 0; i < 8; i++) expected += own;
    EXPECT_EQ(hex_of(c), expected + hex_run(0, 20));
    Cell* d = counting(20);
    binary::insert(d, d, nullptr, false, nullptr, true);
    EXPECT_EQ(hex_of(d), hex_run(0, 20) + hex_run(0, 20)) << "appended to itself";
}

TEST_F(Binary, ChangeReplacesAndFormsWhatElseArrives) {
    struct Case {
        const char* what;
        const char* bytes;
        i32 head;
        Cell* value;
        i32 part;   // -1: none
        i32 dup;    // 0: none
        const char* expected;
        u32 answer_head;
    } cases[] = {
        {"as many as arrive", "01020304", 1, bin("AABB"), -1, 0, "01AABB04", 3},
        {"/part fewer", "01020304", 1, bin("AABB"), 1, 0, "01AABB0304", 3},
        {"/part more", "01020304", 1, bin("AA"), 3, 0, "01AA", 2},
        {"past the tail", "0102", 1, bin("AABBCC"), -1, 0, "01AABBCC", 4},
        {"/dup", "01020304", 0, int_(255), -1, 3, "FFFFFF04", 3},
        {"at the tail appends", "01", 1, int_(2), -1, 0, "0102", 2},
        {"a word, formed", "0102", 0, word("ab"), -1, 0, "6162", 2},
        {"none, formed", "00000000", 0, none_(), -1, 0, "6E6F6E65", 4},
        {"a block, its values", "000000", 0, block({int_(1), str("b")}), -1, 0, "016200", 2},
    };
    for (const Case& c : cases) {
        Cell* b = bin(c.bytes);
        Cell* r = binary::change(at_(b, c.head), c.value, c.part >= 0 ? int_(c.part) : nullptr, false,
                                 c.dup > 0 ? int_(c.dup) : nullptr);
        EXPECT_EQ(hex_of(b), c.expected) << c.what;
        EXPECT_EQ(r->w1, c.answer_head) << c.what;
    }
    EXPECT_EQ(error_of([] { binary::change(bin("01"), int_(256), nullptr, false, nullptr); }), "script invalid-arg");
    Cell* own = counting(40);
    binary::change(at_(own, 1), at_(own, 20), int_(1), false, nullptr);
    EXPECT_EQ(hex_of(own), hex_run(0, 1) + hex_run(20, 20) + hex_run(2, 38)) << "its own bytes";
}

// --- poke and the series actions binary! takes from string! ---------------------------------------

TEST_F(Binary, PokeStoresBytesAndRefusesWiderValues) {
    Cell* b = bin("010203");
    series::poke(b, 1, int_(-1), nullptr);
    series::poke(b, 2, test::char_(0xE9), nullptr);
    series::poke(b, 3, int_(200), nullptr);
    EXPECT_EQ(hex_of(b), "FFE9C8");
    for (Cell* bad : {int_(256), int_(-129), test::char_(0x100), str("a"), none_()}) {
        EXPECT_EQ(error_of([&] { series::poke(b, 1, bad, nullptr); }), "script invalid-arg") << mold(bad);
        EXPECT_EQ(hex_of(b), "FFE9C8");
    }
}

TEST_F(Binary, StringActionsAnswerBytes) {
    Cell* b = bin("0061FF62C3A9");
    auto find = [&](Cell* value, bool tail = false, bool last = false) {
        Cell* r = string::find(stack::push(b), value, nullptr, false, false, false, false, nullptr, nullptr, last,
                               false, tail, false);
        return TYPE_OF(r) == TYPE_NONE ? -1 : i32(r->w1);
    };
    EXPECT_EQ(find(int_(255)), 2);
    EXPECT_EQ(find(int_(0x61)), 1);
    EXPECT_EQ(find(bin("FF62")), 2);
    EXPECT_EQ(find(bin("FF62"), true), 4);
    EXPECT_EQ(find(str("b")), 3);
    EXPECT_EQ(find(str("B")), -1) << "bytes never fold";
    EXPECT_EQ(find(test::char_('a')), 1);
    EXPECT_EQ(find(int_(7)), -1);
    Cell* sel = string::select(stack::push(b), int_(0x61), nullptr, false, false, false, false, nullptr, nullptr,
                               false, false);
    EXPECT_EQ(TYPE_OF(sel), u32(TYPE_INTEGER));
    EXPECT_EQ(integer::get(sel), 255);
    Cell* taken = string::take(stack::push(b), nullptr, false, true);
    EXPECT_EQ(TYPE_OF(taken), u32(TYPE_INTEGER));
    EXPECT_EQ(integer::get(taken), 0xA9);
    Cell* part = string::take(stack::push(b), int_(2), false, false);
    EXPECT_EQ(TYPE_OF(part), u32(TYPE_BINARY));
    EXPECT_EQ(hex_of(part), "0061");
    EXPECT_EQ(hex_of(b), "FF62C3");
    Cell* s = str("xy");
    string::swap(b, s);
    EXPECT_EQ(hex_of(b), "7862C3");
    EXPECT_EQ(string::to_std(s), "\u00ffy");
    EXPECT_EQ(error_of([&] { string::find(stack::push(str("abc")), bin("61"), nullptr, false, false, false, false,
                                          nullptr, nullptr, false, false, false, false); }),
              "script invalid-arg")
        << "a binary is not searched for in text";
}

}  // namespace
}  // namespace zir

namespace zir {
namespace {

using namespace test;

// --- Against a model ---------------------------------------------------------------------------

TEST_F(Binary, RandomEditsAgreeWithAByteVector) {
    // insert, append, change and trim at random heads, with random values
    // (the binary's own bytes among them), parts and counts, against
    // std::vector; the collector runs in between.
    std::mt19937 random(41);
    Cell* b = bin("");
    std::vector<u8> model;
    auto some_bytes = [&](size_t n) {
        std::vector<u8> v(n);
        for (u8& x : v) x = u8(random() % 4 == 0 ? 0 : random());
        return v;
    };
    for (int step = 0; step < 3000; step++) {
        Cell* mark = stack::top;
        i32 len = i32(model.size());
        i32 h = i32(random() % u32(len + 2));   // now and then past the tail
        Cell* position = at_(b, h);
        i32 clamped = std::min(h, len);
        // The value and the bytes it puts in.
        Cell* value;
        std::vector<u8> bytes;
        switch (random() % 4) {
            case 0: {
                bytes = some_bytes(random() % 6);
                value = bin(bytes);
                break;
            }
            case 1: {
                i32 v = i32(random() % 384) - 128;
                value = int_(v);
                bytes = {u8(v)};
                break;
            }
            case 2: {
                i32 k = i32(random() % u32(len + 1));
                value = at_(b, k);
                bytes.assign(model.begin() + k, model.end());
                break;
            }
            default: {
                value = block({int_(1), bin("0203")});
                bytes = {1, 2, 3};
                break;
            }
        }
        i64 dup = 1 + i64(random() % 3);
        std::vector<u8> all;
        for (i64 i = 0; i < dup; i++) all.insert(all.end(), bytes.begin(), bytes.end());
        u32 op = random() % 4;
        std::string what = "step " + std::to_string(step) + " op " + std::to_string(op);
        Cell* r;
        if (op <= 1) {
            bool append = op == 1;
            r = binary::insert(position, value, nullptr, false, int_(i32(dup)), append);
            i32 at = append || h >= len ? len : h;
            model.insert(model.begin() + at, all.begin(), all.end());
            ASSERT_EQ(r->w1, u32(append ? 0 : all.empty() ? clamped : at + i32(all.size()))) << what;
        } else if (op == 2) {
            bool part = random() % 2;
            i32 count = i32(random() % 4);
            if (part && count == 0) count = 1;
            r = binary::change(position, value, part ? int_(count) : nullptr, false, int_(i32(dup)));
            i64 replaced = std::min<i64>(part ? count : i64(all.size()), len - clamped);
            model.erase(model.begin() + clamped, model.begin() + clamped + replaced);
            model.insert(model.begin() + clamped, all.begin(), all.end());
            ASSERT_EQ(r->w1, u32(std::min<i64>(clamped + i64(all.size()), i64(model.size())))) << what;
        } else {
            binary::trim(position, false, false, false, false, false, nullptr);
            auto from = model.begin() + clamped;
            auto first = std::find_if(from, model.end(), [](u8 x) { return x != 0; });
            auto last = std::find_if(model.rbegin(), model.rend() - clamped, [](u8 x) { return x != 0; }).base();
            std::vector<u8> kept(first, std::max(first, last));
            model.erase(from, model.end());
            model.insert(model.end(), kept.begin(), kept.end());
        }
        ASSERT_EQ(binary::bytes_of(b), model) << what;
        if (model.size() > 200) {
            binary::zs_cut_at_head(at_(b, 50));
            model.resize(50);
        }
        stack::top = mark;
        if (step % 100 == 0) collector::do_cycle();
    }
}

}  // namespace
}  // namespace zir
