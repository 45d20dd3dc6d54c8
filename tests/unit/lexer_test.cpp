// The lexer: every literal form and what it loads to, the syntax errors with
// their exact text, nesting, check-only mode and the conversions that ask the
// lexer what a text is.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/date.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"
#include "lexer_support.hpp"

namespace zir {
namespace {

using namespace test;

struct Lexer : ValueTest {};

// The first value a source loads to, copied to the value stack (the block's
// buffer moves at the next allocation).
Cell* first(const char* source) { return stack::push(block::zs_head(load(source))); }

struct Case {
    const char* source;
    const char* molded;
};

void expect_all(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::string error = load_error(c.source);
        if (!error.empty()) {
            ADD_FAILURE() << c.source << " raised " << error;
            continue;
        }
        EXPECT_EQ(loaded(c.source), c.molded) << c.source;
    }
}

struct ErrorCase {
    const char* source;
    const char* message;
};

void expect_errors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) EXPECT_EQ(load_error(c.source), c.message) << c.source;
}

TEST_F(Lexer, BlocksParensAndFiller) {
    expect_all({
        {"", ""},
        {"  \t\r ", ""},
        {"[]", "[]"},
        {"[1 [2 (3)] ()]", "[1 [2 (3)] ()]"},
        {"a", "a"},
        {"; only a comment", ""},
        {"1 ; comment\n2", "1\n2"},
        {"1\x01\x02 2", "1 2"},
        {"1\0 2", "1"},
    });
}

TEST_F(Lexer, Strings) {
    expect_all({
        {R"x("abc")x", R"x("abc")x"},
        {R"x("")x", R"x("")x"},
        {R"x("a^"b")x", R"x({a"b})x"},
        {R"x("^(41)^(tab)^/^-^(1F600)")x", "\"A^-^/^-\xF0\x9F\x98\x80\""},
        {R"x("^(back)^(null)^(del)^(esc)^(page)^(line)")x", R"x("^H^@^~^[^L^/")x"},
        {R"x("^a^Z^@^~^^")x", R"x("^A^Z^@^~^^")x"},
        {"\"caf\xC3\xA9\"", "\"caf\xC3\xA9\""},
        {"{a{b}c}", R"x("a{b}c")x"},
        {"{a^}b}", R"x("a}b")x"},
        {"{line\nbreak}", R"x("line^/break")x"},
        {"%{a}b}%", R"x("a}b")x"},
        {"%%{x}%%", R"x("x")x"},
        {"%%{a}%b}%%", R"x("a}%b")x"},
        {"%{^(41)}%", R"x("^^(41)")x"},
    });
    EXPECT_EQ(string::zs_length(block::zs_head(load("{a{b}c}"))), 5);
    // A value starts on a new line when line feeds come before it, not when
    // it holds some.
    EXPECT_EQ(loaded("x {a\nb} y"), R"x(x "a^/b" y)x");
    EXPECT_EQ(loaded("x\n{a}\n#{00}"), "x\n\"a\"\n#{00}");
    EXPECT_EQ(loaded("x {a{\n}b}"), R"x(x "a{^/}b")x");
}

TEST_F(Lexer, StringErrors) {
    expect_errors({
        {"\"abc", "(line 1) invalid string! at \"abc"},
        {"\"a\nb\"", "(line 1) invalid string! at \"a"},
        {"{abc", "(line 1) invalid string! at {abc"},
        {"%{x}%%", "(line 1) invalid string! at %{x}%%"},
        {"\"^(1234567)\"", "(line 1) invalid string! at \"^(1234567)\""},
        {"\"^(110000)\"", "(line 1) invalid string! at \"^(110000)\""},
        {"\"a\x80\"", "(line 1) invalid string! at \"a\xC2\x80\""},
    });
}

TEST_F(Lexer, Characters) {
    expect_all({
        {R"x(#"a")x", R"x(#"a")x"},
        {R"x(#"^(tab)")x", R"x(#"^-")x"},
        {R"x(#"^(1F600)")x", "#\"\xF0\x9F\x98\x80\""},
        {R"x(#"^"")x", R"x(#"^"")x"},
        {"#\"\xC3\xA9\"", "#\"\xC3\xA9\""},
    });
    expect_errors({
        {R"x(#"ab")x", R"x((line 1) invalid char! at #"ab")x"},
        {R"x(#"")x", R"x((line 1) invalid char! at #"")x"},
        {R"x(#"^")x", R"x((line 1) invalid char! at #"^")x"},
        {R"x(#"^(110000)")x", R"x((line 1) invalid char! at #"^(110000)")x"},
    });
}

TEST_F(Lexer, Words) {
    expect_all({
        {"abc", "abc"},
        {"a: 'b :c /d", "a: 'b :c /d"},
        {"+ - * / // < > <= >= <> = == ^", "+ - * / // < > <= >= <> = == ^"},
        {"%", "%"},
        {"%%", "%%"},
        {"a.b a+b -a +a .a", "a.b a+b -a +a .a"},
        {"<<", "<<"},
        {"Ahead ABC", "Ahead ABC"},
        {"\xC2\xA0word", "word"},
        {"\xC2\xA0", ""},
        {"\xC2\xA0" "12", "12"},
        {"#abc #a.b", "#abc #a.b"},
    });
    expect_errors({
        {":a:", "(line 1) invalid word! at :a:"},
        {"'a:", "(line 1) invalid lit-word! at 'a:"},
        {"a%", "(line 1) invalid word! at a%"},
        {"#", "(line 1) invalid issue! at #"},
        {"'1", "(line 1) invalid word! at '1"},
        {"a\x80", "(line 1) invalid word! at a\xC2\x80"},
        {"#a\xE4", "(line 1) invalid issue! at #a\xC3\xA4"},
        {"u\xC2\xA0\xE4\xB8" "a", "(line 1) invalid word! at \xC3\xA4\xC2\xB8" "a"},
    });
}

TEST_F(Lexer, Paths) {
    expect_all({
        {"a/b", "a/b"},
        {"a/b/c:", "a/b/c:"},
        {"'a/b", "'a/b"},
        {":a/b", ":a/b"},
        {"a/1/\"s\"/(x)", "a/1/\"s\"/(x)"},
        {"[a/b c]", "[a/b c]"},
    });
    expect_errors({
        {"a/b:/c", "(line 1) invalid word! at b:/c"},
        {"a/b/", "(line 1) invalid path! at a/b/"},
        {"a/^b", "(line 1) invalid path! at a/^b"},
        {"[x a/b/^c]", "(line 1) invalid path! at a/b/^c]"},
        {"a/", "(line 1) invalid character at a/"},
    });
}

TEST_F(Lexer, FilesUrlsEmailsTagsRefs) {
    expect_all({
        {"%a/b.txt", "%a/b.txt"},
        {"%a%20b", R"x(%"a b")x"},
        {R"x(%"a b")x", R"x(%"a b")x"},
        {"http://example.com/a?b=c", "http://example.com/a?b=c"},
        {"a@b.c", "a@b.c"},
        {"<a href=\"x\">", "<a href=\"x\">"},
        {"<a>", "<a>"},
        {"@ref", "@ref"},
    });
}

TEST_F(Lexer, Numbers) {
    expect_all({
        {"0 1 -1 +1 2147483647 -2147483648", "0 1 -1 1 2147483647 -2147483648"},
        {"1'000'000", "1000000"},
        {"FFh 0FFh 7FFFFFFFh FFFFFFFFh", "255 255 2147483647 -1"},
    });
    struct Float {
        const char* source;
        double value;
    };
    for (const Float& f : std::vector<Float>{{"2147483648", 2147483648.0}, {"-2147483649", -2147483649.0},
                                             {"1.5", 1.5}, {".5", 0.5}, {"-0.25", -0.25}, {"1e3", 1000.0},
                                             {"1E3", 1000.0}, {"1.5e-3", 0.0015}, {"1'000.5", 1000.5},
                                             {"1.#INF", HUGE_VAL}, {"-1.#inf", -HUGE_VAL}}) {
        Cell* v = first(f.source);
        EXPECT_EQ(TYPE_OF(v), TYPE_FLOAT) << f.source;
        EXPECT_EQ(cell::get_float(v), f.value) << f.source;
    }
    Cell* nan = first("1.#NaN");
    EXPECT_EQ(std::bit_cast<u64>(cell::get_float(nan)), 0x7FF8000000000000ull);
    expect_errors({
        {"12a", "(line 1) invalid integer! at 12a"},
        {"1''0", "(line 1) invalid integer! at 1''0"},
        {"123456789h", "(line 1) invalid integer! at 123456789h"},
        {"1h", "(line 1) invalid integer! at 1h"},
        {"Ah", "(line 1) invalid word! at Ah"},
        {"1E5;", "(line 1) invalid integer! at 1E5;"},
        {".5,", "(line 1) invalid word! at .5,"},
        {"1.#FOO", "(line 1) invalid float! at 1.#FOO"},
    });
    EXPECT_EQ(cell::get_float(block::zs_head(load("1e5;"))), 100000.0) << "a float, then a comment";
    EXPECT_EQ(load_error("0.5,"), "(line 1) invalid point2D! at ,") << "a float, then a comma outside a paren";
}

// Integers of nine digits or fewer without sign or separator are read a
// short way; with a sign or a separator the same digits go the long way:
// both must give the same value, at the edges of the short way and on
// random digits of every length up to past 32 bits.
TEST_F(Lexer, ShortIntegersReadAsTheLongWay) {
    auto expect_same = [&](const std::string& digits) {
        std::string want = loaded("+" + digits);
        EXPECT_EQ(loaded(digits), want) << digits;
        if (digits.size() > 1) {
            EXPECT_EQ(loaded(digits.substr(0, 1) + "'" + digits.substr(1)), want) << digits;
        }
    };
    for (const char* digits : {"0", "9", "10", "000000000", "000000007", "999999999", "1000000000", "0000000001",
                               "2147483647", "2147483648", "4294967295", "4294967296", "9999999999", "00000000001"})
        expect_same(digits);
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; i++) {
        std::string digits;
        int n = 1 + int(rng() % 12);
        for (int k = 0; k < n; k++) digits += char('0' + rng() % 10);
        expect_same(digits);
    }
    expect_all({{"123456789 -123456789 [7] a/5", "123456789 -123456789 [7] a/5"}});
}

// Decimal floats, read by a short way when they are plain (up to 15 digits)
// and the long way otherwise: bit for bit what std::from_chars reads, at the
// edges of the short way and on random texts of every length.
TEST_F(Lexer, DecimalFloatsReadExactly) {
    auto expect_read = [&](const std::string& text) {
        std::string plain = text;
        if (!plain.empty() && plain[0] == '+') plain.erase(0, 1);
        std::erase(plain, '\'');
        double want = 0;
        std::from_chars(plain.data(), plain.data() + plain.size(), want);
        Cell* v = first(text.c_str());
        ASSERT_EQ(TYPE_OF(v), TYPE_FLOAT) << text;
        EXPECT_EQ(std::bit_cast<u64>(cell::get_float(v)), std::bit_cast<u64>(want)) << text;
    };
    for (const char* text : {"0.0", "-0.0", "+0.0", "0.1", "-0.3", "00.5", "1.000000000000000",
                             "123456789012345.6", "12345678901234.5", "999999999999999.0", "99999999999999.9",
                             "0.000000000000001", "0.0000000000000001", "9007199254740993.0", "0.1234567890123456",
                             "4.35", "2.675", "1.0000000000000002", "123.456e2", "1'000.25"}) {
        expect_read(text);
    }
    std::mt19937_64 rng(7);
    for (int i = 0; i < 3000; i++) {
        int whole = int(rng() % 12), fraction = 1 + int(rng() % 12);
        std::string text = rng() % 3 == 0 ? "-" : "";
        text += char('0' + rng() % 10);
        for (int k = 0; k < whole; k++) text += char('0' + rng() % 10);
        text += '.';
        for (int k = 0; k < fraction; k++) text += char('0' + rng() % 10);
        expect_read(text);
    }
}

// A binary's bytes are scanned where they lie, a string's text from a copy:
// both load the same values and raise the same errors, whole and cut at
// every length (the bytes after the cut are there in the binary's buffer
// and must not be read).
// What a string or binary value loads to (its first `length` characters or
// bytes, -1: all), molded, or its error's text.
std::string outcome(const Cell* input, i32 length) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    try {
        lexer::string_to_block(out, input, length, {}, nullptr, nullptr, nullptr);
    } catch (const LanguageError& e) {
        return "error: " + error_text(e);
    }
    return mold(out);
}

TEST_F(Lexer, BinariesLoadAsTheirText) {
    for (const char* source : {"1 [2 \"ab\" 3.5] x/y: #{0102} 12:30 <t> %f.txt", "a: [b \"c\"\n(d)] ;e",
                               "{x{y}z} 1.5% $2 1x2 1.2.3 #\"a\" 'q :r /s #t @u v@w.x http://y",
                               "12345 123.456e7 [[[]]] #[a 1]", "\"unclosed [1", "1x"}) {
        std::string text = source;
        for (i32 cut = 0; cut <= i32(text.size()); cut++) {
            Cell* string_input = str(source);
            Cell* binary_input = binary::load(reinterpret_cast<const u8*>(text.data()), i64(text.size()));
            EXPECT_EQ(outcome(binary_input, cut), outcome(string_input, cut)) << source << " cut at " << cut;
        }
    }
    // Text beyond ASCII, whole; a stray continuation byte is refused.
    auto binary_of = [](const char* bytes) {
        return binary::load(reinterpret_cast<const u8*>(bytes), i64(std::strlen(bytes)));   // pushed
    };
    const char* wide = "\"caf\xC3\xA9\" w\xC3\xB6rd \"\xF0\x9D\x84\x9E\"";
    EXPECT_EQ(outcome(binary_of(wide), -1), outcome(str(wide), -1));
    EXPECT_EQ(outcome(binary_of("\"a\x80\""), -1), "error: (line 1) invalid string! at \"a\xC2\x80\"");
}

// A string of one byte a character is turned into UTF-8 eight bytes at a
// time while they are ASCII: it loads as the binary of its UTF-8 text does,
// with characters above 7F at every place of the eight.
TEST_F(Lexer, LatinTextLoadsAsItsUtf8) {
    std::mt19937 rng(3);
    const u8 picks[] = {'a', 'a', 'b', '1', ' ', ' ', ' ', '"', '[', ']', 0xE9, 0xFF, 0x80, 0xA0, 0xC0};
    int loaded = 0;
    for (int i = 0; i < 3000; i++) {
        std::vector<u8> latin;
        std::string utf8;
        int n = int(rng() % 40);
        for (int k = 0; k < n; k++) {
            u8 c = picks[rng() % std::size(picks)];
            latin.push_back(c);
            if (c < 0x80) {
                utf8 += char(c);
            } else {
                utf8 += char(0xC0 | (c >> 6));
                utf8 += char(0x80 | (c & 0x3F));
            }
        }
        Cell* saved = stack::top;
        Cell* text = stack::push_slot();
        cell::init(text, TYPE_UNSET);
        string::make_at(text, n + 1, 1);
        SeriesBuffer* s = series::buffer_of(text);
        if (n > 0) std::memcpy(series::head(s), latin.data(), latin.size());
        s->tail = s->offset + u32(n);
        ASSERT_EQ(series::unit_of(s), 1u);
        Cell* bytes = binary::load(reinterpret_cast<const u8*>(utf8.data()), i64(utf8.size()));
        std::string want = outcome(bytes, -1);
        ASSERT_EQ(outcome(text, -1), want) << utf8;
        if (want.rfind("error", 0) != 0) loaded++;
        stack::top = saved;
    }
    EXPECT_GT(loaded, 500) << "most texts load";
    // A text too long for the conversion area gets a buffer of its own, of
    // the size worked out (the sanitizer build checks it is enough).
    std::string word = "w\xE9\xE9rd ";
    i32 words = 30000;
    Cell* text = stack::push_slot();
    cell::init(text, TYPE_UNSET);
    string::make_at(text, i64(word.size()) * words, 1);
    SeriesBuffer* s = series::buffer_of(text);
    for (i32 k = 0; k < words; k++) std::memcpy(series::head(s) + size_t(k) * word.size(), word.data(), word.size());
    s->tail = s->offset + u32(word.size()) * u32(words);
    ASSERT_EQ(series::unit_of(s), 1u);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    lexer::string_to_block(out, text, -1, {}, nullptr, nullptr, nullptr);
    ASSERT_EQ(block::zs_length_q(out), words);
    EXPECT_EQ(mold(block::zs_head(out) + words - 1), "w\xC3\xA9\xC3\xA9rd");
}

TEST_F(Lexer, FloatsPercentsAndTimes) {
    expect_all({
        {"2147483648 -2147483649", "2147483648.0 -2147483649.0"},
        {"1.5 .5 -0.25 1e3 1E3 1.5e-3 1'000.5", "1.5 0.5 -0.25 1000.0 1000.0 0.0015 1000.5"},
        {"1.5% 50% -2%", "1.5% 50% -2%"},
        {"10:30 1:30.5 -0:30 10:30:15", "10:30:00 0:01:30.5 -0:30:00 10:30:15"},
        {"1.#INF -1.#inf 1.#NaN", "1.#INF -1.#INF 1.#NaN"},
    });
    EXPECT_EQ(cell::get_float(block::zs_head(load("1.5%"))), 0.015);
    EXPECT_EQ(cell::get_float(block::zs_head(load("10:30"))), 37800.0);
    EXPECT_EQ(cell::get_float(block::zs_head(load("1:30.5"))), 90.5);
    EXPECT_EQ(cell::get_float(block::zs_head(load("-0:30"))), -1800.0);
    expect_errors({
        {"10:", "(line 1) invalid time! at 10:"},
        {"1.#FOO", "(line 1) invalid float! at 1.#FOO"},
        {"1.e5", "(line 1) invalid float! at 1.e5"},
        {"1.5x2", "(line 1) invalid pair! at 1.5x2"},
    });
}

TEST_F(Lexer, Nesting) {
    expect_errors({
        {"[1 2", "(line 1) missing ] at [1 2"},
        {"1 2]", "(line 1) missing [ at 1 2]"},
        {"(1 2]", "(line 1) missing ) at (1 2]"},
        {"[1\n(2", "(line 2) missing ) at (2"},
        {"}", "(line 1) invalid character at }"},
        {"\\", "(line 1) invalid character at \\"},
        {"#(foo)", "(line 1) invalid construction spec at #(foo)"},
    });
}

TEST_F(Lexer, ConstructionForms) {
    expect_all({
        {"#(none) #(TRUE) #(false)", "none true false"},
        {"#(integer!)", "integer!"},
    });
    expect_errors({{"#(tru)", "(line 1) invalid construction spec at #(tru)"}});
}

TEST_F(Lexer, Prescan) {
    // Only the structure is followed, up to the first complete value; the
    // closers that tokens leave behind are stepped over.
    struct Case {
        const char* source;
        i32 answer;
    } cases[] = {
        {"[1 2] 3", TYPE_BLOCK}, {"[#\"[\" <a]> 50% #{5D} %\"]\"]", TYPE_BLOCK}, {"(a", TYPE_ERROR},
        {"a/b/c", TYPE_PATH}, {"%%{]}%% [", TYPE_STRING}, {"{a [}", TYPE_STRING},
    };
    for (const Case& c : cases) {
        lexer::Options o;
        o.scan = false;
        Cell* saved = stack::top;
        EXPECT_EQ(
            [&] {
                std::vector<u8> bytes(c.source, c.source + std::strlen(c.source));
                Cell out;
                return lexer::transcode(&out, bytes.data(), i64(bytes.size()), o, nullptr, nullptr, nullptr, nullptr);
            }(),
            c.answer)
            << c.source;
        stack::top = saved;
    }
}

TEST_F(Lexer, CheckOnly) {
    EXPECT_EQ(check("[1 2]"), TYPE_BLOCK);
    EXPECT_EQ(check("12a"), TYPE_ERROR);
    EXPECT_EQ(check("[1 2"), TYPE_ERROR);
    EXPECT_EQ(check("\"abc"), TYPE_ERROR);
    EXPECT_EQ(check("a b"), TYPE_WORD);
}

}  // namespace
}  // namespace zir

namespace zir {
namespace {

using namespace test;

struct LexerLiterals : ValueTest {};


TEST_F(LexerLiterals, Binaries) {
    struct Case {
        const char* source;
        std::vector<u8> bytes;
    } cases[] = {
        {"#{}", {}},
        {"#{0a0B ff}", {0x0A, 0x0B, 0xFF}},
        {"16#{01 ; a comment\n 02}", {1, 2}},
        {"2#{0000000111111111}", {0x01, 0xFF}},
        {"64#{QUJD}", {'A', 'B', 'C'}},
        {"64#{QUI=}", {'A', 'B'}},
        {"64#{QQ==}", {'A'}},
    };
    expect_all({{"#{0A0b} 2#{00000001} 64#{QUJD}", "#{0A0B} #{01} #{414243}"}});
    for (const Case& c : cases) {
        Cell* v = first(c.source);
        ASSERT_EQ(TYPE_OF(v), TYPE_BINARY) << c.source;
        SeriesBuffer* s = series::buffer_of(v);
        EXPECT_EQ(std::vector<u8>(series::head(s), series::head(s) + series::used_bytes(s)), c.bytes) << c.source;
    }
    expect_errors({
        {"16#{ABC}", "(line 1) invalid binary! at }"},
        {"#{0G}", "(line 1) invalid binary! at G}"},
        {"2#{0101}", "(line 1) invalid binary! at }"},
        {"8#{12}", "(line 1) invalid binary! at 8#{12}"},
        {"64#{Q===}", "(line 1) invalid binary! at ===}"},
    });
}

TEST_F(LexerLiterals, PairsTuplesAndPoints) {
    expect_all({
        {"1x2 -3x40 1X-2", "1x2 -3x40 1x-2"},
        {"1.2.3 255.0.0.128 1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3 255.0.0.128 1.2.3.4.5.6.7.8.9.10.11.12"},
        {"(1, 2) (1.5, -2, 3e2) ( 1 , 2 )", "(1, 2) (1.5, -2, 300) (1, 2)"},
    });
    Cell* p = first("-3x40");
    EXPECT_EQ(TYPE_OF(p), TYPE_PAIR);
    EXPECT_EQ(i32(p->w2), -3);
    EXPECT_EQ(i32(p->w3), 40);
    Cell* t = first("1.2.3.4");
    EXPECT_EQ(TYPE_OF(t), TYPE_TUPLE);
    EXPECT_EQ((t->header >> 19) & 0xF, 4u);
    EXPECT_EQ(t->w1, 0x04030201u) << "the first byte lowest in word 1";
    Cell* long_tuple = first("1.2.3.4.5.6.7.8.9.10.11.12");
    EXPECT_EQ(long_tuple->w3, 0x0C0B0A09u);
    Cell* p2 = first("(1, 2.5)");
    EXPECT_EQ(TYPE_OF(p2), TYPE_POINT2D);
    EXPECT_EQ(std::bit_cast<float>(p2->w1), 1.0f);
    EXPECT_EQ(std::bit_cast<float>(p2->w2), 2.5f);
    Cell* p3 = first("( 1 , -2 , 3e2 )");
    EXPECT_EQ(TYPE_OF(p3), TYPE_POINT3D);
    EXPECT_EQ(std::bit_cast<float>(p3->w3), 300.0f);
    Cell* inf = first("(1.#INF, 0)");
    EXPECT_EQ(std::bit_cast<float>(inf->w1), HUGE_VALF);
    Cell* big = first("(1e300, 0)");
    EXPECT_EQ(std::bit_cast<float>(big->w1), HUGE_VALF) << "beyond the single range: infinity";
    expect_errors({
        {"1.2.256", "(line 1) invalid tuple! at 1.2.256"},
        {"1..2", "(line 1) invalid tuple! at 1..2"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "(line 1) invalid tuple! at 1.2.3.4.5.6.7.8.9.10.11.12.13"},
        {"1x", "(line 1) invalid pair! at 1x"},
        {"1x-", "(line 1) invalid pair! at 1x-"},
        // An exponent letter may follow the "x" in the token; a pair holds integers.
        {"1x2e5", "(line 1) invalid pair! at 1x2e5"},
        {"1X2E", "(line 1) invalid pair! at 1X2E"},
        {"-3x-2e1", "(line 1) invalid pair! at -3x-2e1"},
        {"(1, )", "(line 1) invalid point2D! at (1, )"},
        {"(1, 2, 3, 4)", "(line 1) invalid point3D! at (1, 2, 3, 4)"},
        {"(1, 2", "(line 1) invalid point2D! at (1, 2"},
        {"[1, 2]", "(line 1) invalid point2D! at , 2]"},
        {"(a, b)", "(line 1) invalid float! at (a, b)"},
    });
}

TEST_F(LexerLiterals, Dates) {
    struct Case {
        const char* source;
        i32 year, month, day;
        double utc_time;   // -1: no time
        i32 zone_seconds;
    } cases[] = {
        {"15-Jan-2023", 2023, 1, 15, -1, 0},
        {"15/1/2023", 2023, 1, 15, -1, 0},
        {"2023-01-15", 2023, 1, 15, -1, 0},
        {"2023/1/15", 2023, 1, 15, -1, 0},
        {"15-january-2023", 2023, 1, 15, -1, 0},
        {"1-Jan-49", 2049, 1, 1, -1, 0},
        {"1-Jan-50", 1950, 1, 1, -1, 0},
        {"2023-W05-3", 2023, 2, 1, -1, 0},
        {"2023-032", 2023, 2, 1, -1, 0},
        {"29-Feb-2024", 2024, 2, 29, -1, 0},
        {"20230115T103000Z", 2023, 1, 15, 37800, 0},
        {"1-Jan-2000/10:30:15.5+5:30", 2000, 1, 1, 37815.5 - 19800, 19800},
        {"1-Jan-2000T10:00-2:00", 2000, 1, 1, 36000 + 7200, -7200},
    };
    for (const Case& c : cases) {
        Cell* d = first(c.source);
        ASSERT_EQ(TYPE_OF(d), TYPE_DATE) << c.source;
        EXPECT_EQ(date::year_of(d->w1), c.year) << c.source;
        EXPECT_EQ(date::month_of(d->w1), c.month) << c.source;
        EXPECT_EQ(date::day_of(d->w1), c.day) << c.source;
        EXPECT_EQ(date::has_time_q(d->w1), c.utc_time >= 0) << c.source;
        if (c.utc_time >= 0) {
            EXPECT_EQ(date::time_of(d), c.utc_time) << c.source;
        }
        EXPECT_EQ(date::zone_seconds(date::zone_of(d->w1)), c.zone_seconds) << c.source;
    }
    for (const char* bad : {"29-Feb-2023", "31-Apr-2023", "1-Foo-2023", "2023-000", "1-Jan-2000/24:00", "1/2"})
        EXPECT_EQ(check(bad), TYPE_ERROR) << bad;
    expect_errors({
        {"29-Feb-2023", "(line 1) invalid date! at 29-Feb-2023"},
        {"31-Apr-2023", "(line 1) invalid date! at 31-Apr-2023"},
        {"1-Jan-2000/10", "(line 1) invalid date! at 1-Jan-2000/10"},
    });
}

TEST_F(LexerLiterals, Money) {
    expect_all({
        {"$1.23 -$0.5 $0 $1'000.5", "$1.23 -$0.50 $0.00 $1000.50"},
        {"+$2", "$2.00"},
    });
    for (const char* bad : {"$1.", "$1.123456", "$1''0", "US$1", "$123456789012345678", "$.5"})
        EXPECT_EQ(check(bad), TYPE_ERROR) << bad;
    expect_errors({
        {"$1.", "(line 1) invalid money! at $1."},
        {"$.5", "(line 1) invalid money! at $.5"},
        {"$1''0", "(line 1) invalid money! at $1''0"},
        {"XYZ$1", "(line 1) invalid money! at XYZ$1"},
    });
}

TEST_F(LexerLiterals, Maps) {
    expect_all({
        {"#[a 1 b [2]]", "#[\n    a: 1\n    b: [2]\n]"},
        {"#[]", "#[]"},
        {"#[\"k\" 1 K 2 k 3]", "#[\n    \"k\" 1\n    K: 3\n]"},
    });
    expect_errors({
        {"#[a 1 b]", "(line 1) invalid map! at ]"},
        {"#[[x] 1]", "(line 1) invalid map! at ]"},
        {"#[a 1", "(line 1) missing ] at #[a 1"},
    });
    EXPECT_EQ(check("#[a 1 b 2]"), TYPE_MAP);
}

TEST_F(LexerLiterals, EveryKindOfError) {
    expect_errors({
        {"/a:", "(line 1) invalid refinement! at /a:"},
        {"#a:", "(line 1) invalid issue! at #a:"},
        {"a:b>", "(line 1) invalid url! at a:b>"},
        {":a:b", "(line 1) invalid get-word! at :a:b"},
        {"'a:b", "(line 1) invalid lit-word! at 'a:b"},
        {"a@b:", "(line 1) invalid email! at a@b:"},
        {"@a,", "(line 1) invalid ref! at @a,"},
        {"<a", "(line 1) invalid tag! at <a"},
        {"%a\"", "(line 1) invalid file! at %a\""},
        {"a:<", "(line 1) invalid set-word! at a:<"},
        {"\"x\" \xC0", "(line 1) invalid character at \xC3\x80"},
        {"1\n2\n3]", "(line 3) missing [ at 1"},
        {"[\n(\n]", "(line 3) missing ) at ("},
        {"a/b: c 'a/b:", "(line 1) invalid character at 'a/b:"},
        {"1 ;ok\n \"12345678901234567890123456789012345", "(line 2) invalid string! at \"12345678901234567890123456789"},
    });
}

// `to word!` of a string takes a short cut for plain spellings: it must make
// the very word (binding included) that loading the text makes, and refuse
// what loading refuses, for texts near the edge of the short cut and for
// random ones over the characters that change what a text loads as.
TEST_F(Lexer, ToWordOfAStringIsTheLoadedWord) {
    auto expect_same = [](const std::string& text) {
        Cell made;
        std::string made_error = error_of([&] {
            Cell proto;
            cell::init(&proto, TYPE_WORD);
            word::make(&proto, str(text.c_str()), TYPE_WORD);
            made = proto;
        });
        Cell first;
        std::string load_error = error_of([&] {
            u32 t = word::load_first(str(text.c_str()), &first);
            if (t < TYPE_WORD || t > TYPE_ISSUE) fire(ERR_SCRIPT, "invalid-chars");   // any word or an issue
            cell::set_type(&first, TYPE_WORD);
        });
        ASSERT_EQ(made_error, load_error) << text;
        if (!made_error.empty()) return;
        EXPECT_EQ(made.header, first.header) << text;
        EXPECT_EQ(made.w1, first.w1) << text;
        EXPECT_EQ(made.w2, first.w2) << text;
        EXPECT_EQ(made.w3, first.w3) << text;
    };
    for (const char* text : {"a", "Z", "integer?", "to-string", "a-1", "a?", "a!", "a_b", "x1y2", "e1", "E-5",
                             "a:", "a:b", "a/b", "a.b", "a@b", "a b", " a", "a ", "a;b", "a[", "a\"", "a#", "a$",
                             "a%", "a'", "a<", "a>", "a,b", "-a", "+a", "1a", "_a", "?a", "!a", "\xc3\xa9",
                             "a\xc3\xa9", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                             "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})
        expect_same(text);
    const std::string alphabet = "aZ09-?!_:/.@#$%'+<>;[]()\" \t\n^~*&=|,";
    std::mt19937 rng(12345);
    for (int i = 0; i < 3000; i++) {
        std::string text;
        for (int n = 1 + int(rng() % 6); n > 0; n--) text += alphabet[rng() % alphabet.size()];
        expect_same(text);
    }
    // From a string's index: the text before it is not the word's.
    Cell* at = str("1:a-b");
    at->w1 = 2;
    Cell proto;
    cell::init(&proto, TYPE_WORD);
    word::make(&proto, at, TYPE_WORD);
    EXPECT_EQ(symbol::spelling(i32(proto.w2)), "a-b");
}

}  // namespace
}  // namespace zir
