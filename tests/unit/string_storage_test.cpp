// string!: storage at three widths, the two writer families' widening, the
// concatenation core, loading, the small text routines, make and to.
#include <unistd.h>

#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct StringStorage : ValueTest {};

u32 unit_of(const Cell* s) { return series::unit_of(node_buffer(s->w2)); }

std::u32string code_points(const Cell* s) {
    std::u32string out;
    for (i32 i = i32(s->w1); i < string::zs_abs_length(s); i++) out += char32_t(string::get_char_at(s, i));
    return out;
}

// --- Widening -----------------------------------------------------------------------

TEST_F(StringStorage, TheTwoWriterFamiliesWidenAtTheirOwnThresholds) {
    struct Case {
        u32 cp;
        u32 mold_unit;      // after append_char on unit-1 text
        u32 element_unit;   // after poke_char, overwrite_char, insert_char on unit-1 text
    } cases[] = {
        {0x41, 1, 1},     {0x7F, 1, 1},     {0x80, 2, 1},     {0xE9, 2, 1},    {0xFF, 2, 1},
        {0x100, 2, 2},    {0xFFFF, 2, 2},   {0x10000, 4, 4},  {0x1F600, 4, 4}, {0x10FFFF, 4, 4},
    };
    for (const Case& c : cases) {
        Cell* a = text_series(U"ab", 1);
        string::append_char(a, c.cp);
        EXPECT_EQ(unit_of(a), c.mold_unit) << std::hex << c.cp;
        EXPECT_EQ(code_points(a), std::u32string(U"ab") + char32_t(c.cp));

        Cell* p = text_series(U"ab", 1);
        string::poke_char(p, 1, c.cp);
        EXPECT_EQ(unit_of(p), c.element_unit) << std::hex << c.cp;
        EXPECT_EQ(code_points(p), std::u32string(U"a") + char32_t(c.cp));

        Cell* o = text_series(U"ab", 1);
        string::overwrite_char(o, 2, c.cp);
        EXPECT_EQ(unit_of(o), c.element_unit);
        EXPECT_EQ(code_points(o), std::u32string(U"ab") + char32_t(c.cp));

        Cell* n = text_series(U"ab", 1);
        string::insert_char(n, 1, c.cp);
        EXPECT_EQ(unit_of(n), c.element_unit);
        EXPECT_EQ(code_points(n), std::u32string(U"a") + char32_t(c.cp) + U"b");
    }
    // Unit 2 keeps the whole plane and widens above it, whatever the family.
    for (u32 cp : {0xFFFFu, 0x10000u}) {
        Cell* a = text_series(U"a\u00E9\u4E2D", 2);
        string::append_char(a, cp);
        EXPECT_EQ(unit_of(a), cp > 0xFFFF ? 4u : 2u);
        EXPECT_EQ(code_points(a), std::u32string(U"a\u00E9\u4E2D") + char32_t(cp));
        Cell* p = text_series(U"a\u00E9\u4E2D", 2);
        string::poke_char(p, 0, cp);
        EXPECT_EQ(unit_of(p), cp > 0xFFFF ? 4u : 2u);
        EXPECT_EQ(code_points(p), char32_t(cp) + std::u32string(U"\u00E9\u4E2D"));
    }
}

TEST_F(StringStorage, WideningKeepsALongTextAndItsHead) {
    std::u32string text;
    for (u32 i = 0; i < 300; i++) text += char32_t(0x20 + i % 0xDF);
    for (u32 widest : {0x100u, 0x10000u}) {
        Cell* s = text_series(text, 1);
        s->w1 = 7;
        string::append_char(s, widest);
        EXPECT_EQ(s->w1, 7u);
        EXPECT_EQ(string::zs_length(s), 294);
        s->w1 = 0;
        EXPECT_EQ(code_points(s), text + char32_t(widest));
    }
}

TEST_F(StringStorage, OverwritePastTheTailGrowsAndZeroesTheGap) {
    Cell* s = text_series(U"ab", 1);
    string::overwrite_char(s, 1000, 'z');
    ASSERT_EQ(string::zs_abs_length(s), 1001);
    EXPECT_EQ(string::get_char_at(s, 1), u32('b'));
    for (i32 i = 2; i < 1000; i++) ASSERT_EQ(string::get_char_at(s, i), 0u) << i;
    EXPECT_EQ(string::get_char_at(s, 1000), u32('z'));
    string::overwrite_char(s, 0, 'A');
    EXPECT_EQ(string::zs_abs_length(s), 1001) << "inside the text the tail stays";
}

// --- Reading and small edits ----------------------------------------------------------------

TEST_F(StringStorage, AHeadPastTheTailReadsAsEmptyAndIsClampedByZsHead) {
    Cell* s = text_series(U"abc", 2);
    s->w1 = 9;
    EXPECT_EQ(string::zs_length(s), 0);
    EXPECT_TRUE(string::zs_tail_q(s));
    EXPECT_EQ(string::zs_abs_length(s), 3);
    EXPECT_EQ(string::zs_head(s), string::zs_tail(s));
    EXPECT_EQ(s->w1, 3u);
    EXPECT_EQ(string::to_std(s), "");
}

TEST_F(StringStorage, FindCharRemoveAndReset) {
    for (u32 unit : {1u, 2u, 4u}) {
        Cell* s = text_series(U"abcabc", unit);
        s->w1 = 1;
        EXPECT_EQ(string::zs_find_char(s, 'a'), 2) << "counted from the head";
        EXPECT_EQ(string::zs_find_char(s, 'z'), -1);
        EXPECT_EQ(string::zs_find_char(s, 0x161), -1) << "a code point no unit-1 element can hold";
        string::remove_part(s, 1, 2);
        EXPECT_EQ(code_points(at_(s, 0)), U"aabc");
        string::remove_char(s, 3);
        EXPECT_EQ(code_points(at_(s, 0)), U"aab");
        string::remove_part(s, 3, 1);
        string::remove_part(s, 1, 99);
        EXPECT_EQ(code_points(at_(s, 0)), U"a") << "cut to what is there";
        string::zs_reset(s);
        EXPECT_EQ(unit_of(s), 1u);
        EXPECT_EQ(string::zs_abs_length(s), 0);
        EXPECT_EQ(s->w1, 0u);
    }
}

// --- The concatenation core ------------------------------------------------------------------

TEST_F(StringStorage, ConcatenationInEachModeAcrossUnits) {
    using string::CONCAT_APPEND, string::CONCAT_INSERT, string::CONCAT_OVERWRITE;
    const std::u32string targets[] = {U"abcd", U"ab\u00E9d", U"ab\u4E2Dd", U"ab\U0001F600d"};
    const std::u32string sources[] = {U"xy", U"x\u00FF", U"x\u0161", U"x\U0001F601"};
    struct Case {
        i32 mode, offset, part;
        const char* expected;   // in letters: T target, S source, as ordered code points
    };
    for (const std::u32string& target : targets) {
        for (const std::u32string& source : sources) {
            for (u32 tu : {1u, 2u, 4u}) {
                for (u32 su : {1u, 2u, 4u}) {
                    auto fits = [](const std::u32string& t, u32 u) {
                        for (char32_t c : t) if (string::unit_for(u32(c)) > u) return false;
                        return true;
                    };
                    if (!fits(target, tu) || !fits(source, su)) continue;
                    for (bool keep : {false, true}) {
                        for (i32 mode : {CONCAT_APPEND, CONCAT_INSERT, CONCAT_OVERWRITE}) {
                            for (i32 offset : {0, 1, 3}) {
                                Cell* t = text_series(target, tu);
                                Cell* s = text_series(source, su);
                                string::zs_concatenate(t, s, -1, offset, keep, mode);
                                std::u32string expected = target;
                                if (mode == CONCAT_APPEND) expected += source;
                                else if (mode == CONCAT_INSERT) expected.insert(size_t(offset), source);
                                else expected.replace(size_t(offset), source.size(), source);
                                EXPECT_EQ(code_points(t), expected) << tu << su << keep << mode << offset;
                                EXPECT_EQ(unit_of(t), tu > su ? tu : su);
                                EXPECT_EQ(code_points(s), source) << "the source keeps its text";
                                u32 source_unit = keep || su >= tu ? su : tu;
                                EXPECT_EQ(unit_of(s), source_unit) << "widened in place unless kept";
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST_F(StringStorage, ConcatenationPartAndOverwriteTail) {
    using string::CONCAT_APPEND, string::CONCAT_OVERWRITE;
    struct Case {
        i32 part, mode, offset;
        std::u32string expected;
    } cases[] = {
        {0, CONCAT_APPEND, 0, U"abcd"},        {-1, CONCAT_APPEND, 0, U"abcdxyz"},
        {2, CONCAT_APPEND, 0, U"abcdxy"},      {9, CONCAT_APPEND, 0, U"abcdxyz"},
        {2, CONCAT_OVERWRITE, 0, U"xycd"},     {2, CONCAT_OVERWRITE, 3, U"abcxy"},
        {-1, CONCAT_OVERWRITE, 1, U"axyz"},    {-1, CONCAT_OVERWRITE, 9, U"abcdxyz"},
    };
    for (const Case& c : cases) {
        Cell* t = text_series(U"abcd", 1);
        string::zs_concatenate(t, text_series(U"xyz", 1), c.part, c.offset, true, c.mode);
        EXPECT_EQ(code_points(t), c.expected) << c.part << " " << c.mode << " " << c.offset;
    }
    // The offset counts from the target's head.
    Cell* t = at_(text_series(U"abcd", 2), 1);
    string::zs_concatenate(t, text_series(U"XY", 1), -1, 1, false, string::CONCAT_INSERT);
    EXPECT_EQ(code_points(at_(t, 0)), U"abXYcd");
}

TEST_F(StringStorage, AStringConcatenatedIntoItself) {
    using string::CONCAT_APPEND, string::CONCAT_INSERT, string::CONCAT_OVERWRITE;
    // Source and target share a buffer; in stress builds every growth moves it.
    struct Case {
        i32 mode;
        i32 target_head, source_head, offset;
        std::u32string expected;
    } cases[] = {
        {CONCAT_APPEND, 0, 0, 0, U"abcdabcd"},
        {CONCAT_APPEND, 0, 2, 0, U"abcdcd"},
        {CONCAT_INSERT, 0, 0, 0, U"abcdabcd"},
        {CONCAT_INSERT, 0, 2, 0, U"cdabcd"},      // the source lies after the insertion point
        {CONCAT_INSERT, 1, 3, 0, U"adbcd"},
        {CONCAT_INSERT, 2, 1, 0, U"abbcdcd"},     // the insertion point splits the source
        {CONCAT_INSERT, 0, 0, 2, U"ababcdcd"},
        {CONCAT_OVERWRITE, 0, 1, 0, U"bcdd"},
        {CONCAT_OVERWRITE, 1, 0, 0, U"aabcd"},
        {CONCAT_OVERWRITE, 2, 0, 0, U"ababcd"},
    };
    for (u32 unit : {1u, 2u, 4u}) {
        for (const Case& c : cases) {
            Cell* t = text_series(U"abcd", unit);
            Cell* s = at_(t, c.source_head);
            t->w1 = u32(c.target_head);
            string::zs_concatenate(t, s, -1, c.offset, false, c.mode);
            EXPECT_EQ(code_points(at_(t, 0)), c.expected)
                << unit << " " << c.mode << " " << c.target_head << " " << c.source_head;
        }
    }
}

TEST_F(StringStorage, ASymbolIsReadAsItsSpelling) {
    i32 id = symbol::make("Grüße");
    Cell* t = str("[");
    // A copy of the symbol's cell made before its string exists is read from its UTF-8.
    string::zs_concatenate(t, stack::push(symbol::get(id)), -1, 0, true, string::CONCAT_APPEND);
    u32 cached = symbol::get_buffer(id);
    EXPECT_EQ(symbol::get(id)->w2, cached) << "the spelling's string is kept in the symbol";
    string::zs_concatenate(t, stack::push(symbol::get(id)), 3, 0, false, string::CONCAT_APPEND);
    string::append_char(t, ']');
    EXPECT_EQ(string::to_std(t), "[GrüßeGrü]");
}

// --- Loading ----------------------------------------------------------------------------------

TEST_F(StringStorage, LoadsUtf8AndUtf16) {
    const char* utf8 = "h\xC3\xA9llo \xE2\x82\xAC";
    Cell* a = string::load_push(reinterpret_cast<const u8*>(utf8), i64(std::strlen(utf8)), string::ENCODING_UTF8);
    EXPECT_EQ(TYPE_OF(a), u32(TYPE_STRING));
    EXPECT_EQ(string::to_std(a), utf8);
    const u16 utf16[] = {'a', 0x0D, 0x0A, 0xD83D, 0xDE00};
    Cell* b = string::load_push(reinterpret_cast<const u8*>(utf16), 5, string::ENCODING_UTF16LE);
    EXPECT_EQ(code_points(b), U"a\r\n\U0001F600") << "CRs are kept";
    EXPECT_EQ(b->w1, 0u);
    EXPECT_EQ(b->w3, 0u);
    Cell* blk = test::block({});
    string::load_in(reinterpret_cast<const u8*>("xy"), 2, blk, string::ENCODING_UTF8);
    ASSERT_EQ(block::zs_length_q(blk), 1);
    EXPECT_EQ(string::to_std(block::zs_abs_at(blk, 0)), "xy");
}

void write_to_stderr(const u8* bytes, size_t n) { (void)!::write(2, bytes, n); }

TEST(StringLoadDeathTest, AnUnknownEncodingIsAFaultWithAFailingStatus) {
    EXPECT_EXIT(
        {
            console::set_sink(write_to_stderr);
            string::load_push(reinterpret_cast<const u8*>("x"), 1, 5);
        },
        testing::ExitedWithCode(101), "\\*\\*\\* Loading Error: input encoding unsupported");
}

// --- Small text routines --------------------------------------------------------------------

TEST_F(StringStorage, HexadecimalDigits) {
    struct Case {
        i32 value;
        bool drop;
        const char* expected;
    } cases[] = {
        {0x1E, true, "1E"},     {0, true, "00"},         {-1, false, "FFFFFFFF"}, {0x1E, false, "0000001E"},
        {0x5, true, "5"},       {0x100, true, "100"},    {0x1F600, true, "1F600"}, {-2, true, "FFFFFFFE"},
        {0, false, "00000000"}, {0x7FFFFFFF, true, "7FFFFFFF"},
    };
    for (const Case& c : cases) EXPECT_STREQ(string::to_hex(c.value, c.drop), c.expected) << c.value;
    EXPECT_STREQ(string::byte_to_hex(0x0A), "0A");
    EXPECT_STREQ(string::byte_to_hex(0xFF), "FF");
}

TEST_F(StringStorage, FloatText) {
    for (u32 unit : {1u, 2u, 4u}) {
        Cell* s = text_series(U"-12.5e2", unit);
        EXPECT_EQ(string::to_float(string::zs_head(s), string::zs_length(s), unit), -1250.0);
    }
}

// --- make and to ----------------------------------------------------------------------------

Cell* make_string(const Cell* spec, u32 type = TYPE_STRING) {
    return string::make(nullptr, const_cast<Cell*>(spec), type);
}
Cell* to_string(const Cell* spec, u32 type = TYPE_STRING) {
    return string::to(nullptr, const_cast<Cell*>(spec), type);
}

TEST_F(StringStorage, MakeFromACapacity) {
    struct Case {
        const Cell* spec;
        u32 bytes;
    } cases[] = {{int_(0), 16}, {int_(100), 112}, {float_(40.9), 48}, {int_(1), 16}};
    for (const Case& c : cases) {
        Cell* s = make_string(c.spec, TYPE_FILE);
        EXPECT_EQ(TYPE_OF(s), u32(TYPE_FILE));
        EXPECT_EQ(string::zs_abs_length(s), 0);
        EXPECT_EQ(unit_of(s), 1u);
        EXPECT_EQ(node_buffer(s->w2)->size, c.bytes);
    }
    EXPECT_EQ(error_of([] { make_string(int_(-1)); }), "script out-of-range");
    EXPECT_EQ(error_of([] { make_string(float_(-0.5 - 1)); }), "script out-of-range");
    EXPECT_EQ(error_of([] { make_string(float_(3e9)); }), "script out-of-range");
    EXPECT_EQ(error_of([] { make_string(float_(std::nan(""))); }), "script out-of-range");
}

TEST_F(StringStorage, MakeBinaryRefusesMoneyAndHandsOtherSpecsToBinary) {
    Cell* money = int_(5);
    cell::set_type(money, TYPE_MONEY);
    EXPECT_EQ(error_of([&] { make_string(money, TYPE_BINARY); }), "script bad-make-arg");
    Cell* b = make_string(int_(8), TYPE_BINARY);
    EXPECT_EQ(TYPE_OF(b), u32(TYPE_BINARY));
    // binary! converts the rest itself, through its own `to`.
    EXPECT_MOLD(make_string(str("ab\u00e9"), TYPE_BINARY), "#{6162C3A9}");
}

TEST_F(StringStorage, ToFromEachKindOfSource) {
    EXPECT_EQ(error_of([] { to_string(none_()); }), "script bad-to-arg");
    Cell* copy = to_string(at_(text_series(U"a\u4E2Dc", 2), 1), TYPE_URL);
    EXPECT_EQ(TYPE_OF(copy), u32(TYPE_URL));
    EXPECT_EQ(code_points(copy), U"\u4E2Dc");
    Cell* formed = to_string(test::block({int_(1), str("b"), test::block({int_(2), int_(3)}), none_()}));
    EXPECT_EQ(string::to_std(formed), "1b2 3none") << "elements formed without separators";
    EXPECT_EQ(string::to_std(to_string(int_(-42))), "-42");
    EXPECT_EQ(string::to_std(to_string(char_(0xE9))), "é");
    Cell* refinement = word("only", TYPE_REFINEMENT);
    EXPECT_EQ(string::to_std(to_string(refinement)), "only") << "a string! takes the word";
    Cell* file = to_string(refinement, TYPE_FILE);
    EXPECT_EQ(TYPE_OF(file), u32(TYPE_FILE));
    EXPECT_EQ(string::to_std(file), "/only") << "the others the molded refinement";
    EXPECT_EQ(string::to_std(to_string(word("Abc"))), "Abc");
}

TEST_F(StringStorage, ToFromUtf8Bytes) {
    Cell* bin = text_series(U"\u00C3\u00A9t\u00C3\u00A9", 1, TYPE_BINARY);
    Cell* s = to_string(bin);
    EXPECT_EQ(code_points(s), U"\u00E9t\u00E9");
    EXPECT_EQ(code_points(to_string(at_(bin, 2))), U"t\u00E9") << "from the binary's head";
    EXPECT_EQ(error_of([] { to_string(text_series(U"\u00FF", 1, TYPE_BINARY)); }), "access invalid-utf8");
    try {
        to_string(text_series(U"ab\u00E2\u0082", 1, TYPE_BINARY));
        ADD_FAILURE() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "invalid-utf8");
        ASSERT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_BINARY));
        EXPECT_EQ(code_points(&e.args[0]), U"\u00E2\u0082") << "the undecoded rest";
    }
}

}  // namespace
}  // namespace zir
