// string!: form and mold. Mold writes what the lexer reads back: quotes or
// braces by what the text holds, caret escapes, braces escaped when they do
// not balance.
#include <random>

#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "runtime/unicode.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct StringMold : ValueTest {};

TEST_F(StringMold, DelimitersFollowLengthQuotesAndLineFeeds) {
    struct Case {
        std::u32string text;
        const char* expected;
    } cases[] = {
        {U"", "\"\""},
        {std::u32string(49, U'x'), nullptr},   // quotes
        {std::u32string(50, U'x'), nullptr},   // braces
        {U"a\"b", "{a\"b}"},
        {U"a\nb\nc", "\"a^/b^/c\""},
        {U"a\nb\nc\nd", "{a^/b^/c^/d}"},
        {U"tab\there", "\"tab^-here\""},
        {U"caret^", "\"caret^^\""},
        {U"\"^\t", "{\"^^^-}"},
    };
    for (const Case& c : cases) {
        std::string expected = c.expected ? c.expected
                               : c.text.size() < 50 ? "\"" + utf8(c.text) + "\""
                                                    : "{" + utf8(c.text) + "}";
        for (u32 unit : {1u, 2u, 4u}) EXPECT_MOLD(text_series(c.text, unit), expected) << unit;
    }
    // The head counts: what lies before it is not molded.
    EXPECT_MOLD(at_(text_series(U"a\"bc", 1), 2), "\"bc\"");
}

TEST_F(StringMold, Escapes) {
    struct Case {
        char32_t cp;
        const char* plain;
        const char* all;
    } cases[] = {
        {0x00, "^@", "^@"},      {0x01, "^A", "^A"},       {0x09, "^-", "^-"},      {0x0A, "^/", "^/"},
        {0x0D, "^M", "^M"},      {0x1B, "^[", "^["},       {0x1C, "^\\", "^\\"},    {0x1D, "^]", "^]"},
        {0x1E, "^(1E)", "^(1E)"}, {0x1F, "^_", "^_"},      {0x22, "{\"}", "{\"}"}, {0x5E, "^^", "^^"},
        {0x7E, "~", "~"},        {0x7F, "^~", "^~"},       {0x80, "^(80)", "^(80)"}, {0x85, "^(85)", "^(85)"},
        {0x9F, "^(9F)", "^(9F)"}, {0xA0, "\u00A0", "^(A0)"}, {0xE9, "é", "^(E9)"},  {0x4E2D, "中", "^(4E2D)"},
        {0x1F600, "😀", "^(1F600)"},
    };
    for (const Case& c : cases) {
        for (u32 unit : {1u, 2u, 4u}) {
            if (string::unit_for(u32(c.cp)) > unit) continue;
            Cell* s = text_series(std::u32string(1, c.cp), unit);
            bool braces = c.cp == 0x22;
            std::string open = braces ? "" : "\"", close = braces ? "" : "\"";
            EXPECT_MOLD(s, open + c.plain + close) << std::hex << u32(c.cp);
            EXPECT_EQ(test::mold(s, {.all = true}), open + c.all + close) << std::hex << u32(c.cp);
        }
    }
}

TEST_F(StringMold, BraceBalancing) {
    // A double quote puts each text in brace mode.
    struct Case {
        std::u32string text;
        const char* expected;
    } cases[] = {
        {U"\"{a}", "{\"{a}}"},
        {U"\"{a", "{\"^{a}"},
        {U"\"a}", "{\"a^}}"},
        {U"\"}{", "{\"^}^{}"},
        {U"\"{{a}}", "{\"{{a}}}"},
        {U"\"{a}}", "{\"{a}^}}"},
        {U"\"{ {a}", "{\"^{ ^{a^}}"},           // once one brace has no partner, every later one is escaped
        {U"\"{a}{", "{\"{a}^{}"},
        {U"\"{a}{b}{", "{\"{a}{b}^{}"},
        {U"\"{^}", "{\"{^^}}"},
    };
    for (const Case& c : cases)
        for (u32 unit : {1u, 2u, 4u}) EXPECT_MOLD(text_series(c.text, unit), c.expected) << utf8(c.text);
    // In quotes braces are written as they are.
    EXPECT_MOLD(text_series(U"{a", 1), "\"{a\"");
}

// The text's own description of brace mode: each `{` scans forward for its
// partner. A model, quadratic, to check the one-pass balancing against.
std::u32string model_braces(const std::u32string& span) {
    std::u32string out;
    bool balancing = true;
    int open = 0;
    for (size_t i = 0; i < span.size(); i++) {
        char32_t c = span[i];
        if (c == U'{') {
            if (balancing) {
                int depth = 0;
                bool closed = false;
                for (size_t j = i; j < span.size() && !closed; j++) {
                    if (span[j] == U'{') depth++;
                    else if (span[j] == U'}' && --depth == 0) closed = true;
                }
                if (!closed) balancing = false;
            }
            if (balancing) {
                open++;
                out += U"{";
            } else {
                out += U"^{";
            }
        } else if (c == U'}') {
            out += open > 0 ? U"}" : U"^}";
            if (open > 0) open--;
        } else {
            out += c;
        }
    }
    return out;
}

TEST_F(StringMold, BalancingAgreesWithAForwardScanOnRandomTexts) {
    std::mt19937 random(7);
    const char32_t alphabet[] = {U'{', U'}', U'a', U'{', U'}'};
    for (int round = 0; round < 400; round++) {
        std::u32string text = U"\"";
        int n = int(random() % 40);
        for (int i = 0; i < n; i++) text += alphabet[random() % 5];
        std::string expected = "{" + utf8(model_braces(text)) + "}";
        EXPECT_MOLD(text_series(text, 1 << (round % 3)), expected) << utf8(text);
    }
}

TEST_F(StringMold, PartLimitsTheSpan) {
    Cell* s = text_series(U"abcdefgh\"", 1);
    EXPECT_EQ(test::mold(s, {.part = 5}), "\"abcd") << "the quote past the span does not choose braces";
    EXPECT_EQ(test::mold(s, {.part = 20}), "{abcdefgh\"}");
    EXPECT_EQ(test::mold(text_series(std::u32string(60, U'x'), 1), {.part = 4}), "{xxx")
        << "the whole length chooses braces";
    EXPECT_EQ(test::mold(s, {.part = 0}), "");
    // A part used up before the string (inside a block) leaves an empty span.
    Cell* out = str("");
    Cell arg;
    cell::init(&arg, TYPE_INTEGER);
    arg.w2 = 3;
    EXPECT_EQ(string::mold(s, out, false, false, false, &arg, -2, 0), -4);
    EXPECT_EQ(string::to_std(out), "\"\"");
}

TEST_F(StringMold, AnswersThePartLeftAfterWhatItWrote) {
    Cell* out = str("");
    EXPECT_EQ(string::mold(text_series(U"a\nb", 1), out, false, false, false, nullptr, 100, 0), 100 - 6);
    EXPECT_EQ(string::to_std(out), "\"a^/b\"");
    EXPECT_EQ(string::mold(text_series(U"\u00E9", 1), out, false, true, false, nullptr, 100, 0), 100 - 7);
    EXPECT_EQ(series::unit_of(node_buffer(out->w2)), 1u) << "all-ASCII output";
    string::mold(text_series(U"\u00E9", 1), out, false, false, false, nullptr, 100, 0);
    EXPECT_EQ(series::unit_of(node_buffer(out->w2)), 2u) << "the mold writer widens at 0x80";
}

TEST_F(StringMold, FormCopiesTheTextAndAnswersPartLessTheWholeLength) {
    for (u32 unit : {1u, 2u, 4u}) {
        Cell* s = text_series(U"ab\"c\nd\u00E9f", unit);
        EXPECT_FORM(s, "ab\"c\ndéf");
        Cell* out = str("");
        Cell arg;
        cell::init(&arg, TYPE_INTEGER);
        arg.w2 = 3;
        EXPECT_EQ(string::form(s, out, &arg, 10), 10 - 8);
        EXPECT_EQ(string::to_std(out), "ab\"");
        EXPECT_EQ(string::form(at_(s, 5), out, nullptr, 10), 10 - 3);
        EXPECT_EQ(string::to_std(out), "ab\"déf");
    }
    EXPECT_EQ(test::form(str("abcdef"), 4), "abcd");
}

TEST_F(StringMold, NestedInABlock) {
    Cell* b = test::block({str("a b"), str("x\"y"), test::block({str("")})});
    EXPECT_MOLD(b, "[\"a b\" {x\"y} [\"\"]]");
    EXPECT_FORM(b, "a b x\"y ");
}

}  // namespace
}  // namespace zir
