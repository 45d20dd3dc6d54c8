// Values written by mold/all load back as themselves: generated values of
// every datatype the lexer reads, alone and nested in blocks, parens and
// paths. And the conversions that load text: to block!, to path!, load-one.
#include <cstring>
#include <random>
#include <string>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "datatypes/series.hpp"
#include "lexer_support.hpp"
#include "loader/number.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

using namespace test;

struct LexerRoundTrip : ValueTest {};

// Random values of the datatypes the lexer reads, pushed on the value stack.
struct Generator {
    std::mt19937 rng{2026};

    u32 pick(u32 n) { return rng() % n; }

    char32_t text_char() {
        static const char32_t pool[] = {U'a', U'Z', U'0', U' ', U'"', U'{', U'}', U'^', U'\n', U'\t', U'\\', U';',
                                        U'[', U')', U'%', U'/', U':', U'@', 0x01, 0x1E, 0x7F, 0x80, 0x9F, 0xA0,
                                        0xE9, 0xFF, 0x100, 0x4E2D, 0xFFFD, 0x1F600, 0x10FFFF};
        return pool[pick(sizeof pool / sizeof pool[0])];
    }

    std::u32string text(size_t most) {
        std::u32string s;
        size_t n = pick(u32(most + 1));
        for (size_t i = 0; i < n; i++) s += text_char();
        return s;
    }

    std::string spelling() {
        static const char* const starts[] = {"a", "zz", "Foo", "x-y", "q?", "*", "eh!", "_u", "~t", "|p", "\xC3\xA9t\xC3\xA9"};
        std::string s = starts[pick(sizeof starts / sizeof starts[0])];
        s += std::to_string(pick(1000));
        return s;
    }

    Cell* scalar() {
        switch (pick(19)) {
            case 16: return pair_(i32(rng()), i32(rng()));
            case 17: {
                Cell* t = stack::push_slot();
                cell::init(t, TYPE_UNSET);
                tuple::make_at(t, i32(3 + pick(10)), rng(), rng(), rng());
                return t;
            }
            case 18: {
                Cell* p = stack::push_slot();
                cell::init(p, TYPE_UNSET);
                // Coordinates with short decimal forms: a point molds at seven
                // significant digits, too few for every single.
                float x = float(i32(rng() % 20000)) / 8.0f, y = -float(i32(rng() % 1000)) / 4.0f;
                if (pick(2)) point2D::make_at(p, x, y);
                else point3D::make_at(p, x, y, float(pick(100)));
                return p;
            }
            case 15: {
                std::string bytes;
                for (u32 i = pick(40); i > 0; i--) bytes += char(rng());
                return binary::load(reinterpret_cast<const u8*>(bytes.data()), i64(bytes.size()));
            }
            case 14: {
                // Money without a currency: up to 17 integral and 5 fractional digits.
                std::string digits = std::to_string(rng()) + std::to_string(rng() % 100000000) + "." +
                                     std::to_string(rng() % 100000);
                const u8* text = reinterpret_cast<const u8*>(digits.data());
                Cell* m = stack::push_slot();
                cell::init(m, TYPE_UNSET);
                money::make_at(m, pick(2), nullptr, text, text + digits.find('.'), text + digits.size());
                return m;
            }
            case 0: return int_(i32(rng()));
            case 1: return float_(std::bit_cast<double>(u64(rng()) << 32 | rng()) == 0 ? 0.5 : double(i32(rng())) / 7.0);
            case 2: return float_(std::ldexp(double(rng()), i32(pick(600)) - 300));
            case 3: return percent_(double(i32(rng() % 100000)) / 1000.0);
            case 4: return time_(double(i32(rng() % 360000)) + double(pick(1000)) / 1000.0);
            case 5: return text_series(text(12), 4, TYPE_STRING);
            case 6: return text_series(text(8), 4, TYPE_FILE);
            case 7: return char_(u32(text_char()));
            case 8: return test::word(spelling().c_str(), TYPE_WORD + pick(4));
            case 9: return test::word(spelling().c_str(), pick(2) ? TYPE_REFINEMENT : TYPE_ISSUE);
            case 10: return str(("http://example.com/" + spelling() + "?q=" + std::to_string(pick(99))).c_str(), TYPE_URL);
            case 11: return str((spelling() + "@example.com").c_str(), TYPE_EMAIL);
            case 12: return str(("tag " + spelling()).c_str(), TYPE_TAG);
            default: return pick(3) == 0 ? none_() : logic_(pick(2));
        }
    }

    Cell* value(int depth) {
        if (depth > 0 && pick(4) == 0) {
            u32 kinds[] = {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_GET_PATH, TYPE_SET_PATH};
            u32 kind = kinds[pick(6)];
            Cell* b = test::block({});
            bool path = kind >= TYPE_PATH && kind <= TYPE_GET_PATH;
            size_t n = path ? 2 + pick(3) : pick(5);
            for (size_t i = 0; i < n; i++) {
                // A path holds words after a word head; blocks hold anything.
                Cell* item = path ? test::word(spelling().c_str()) : value(depth - 1);
                block::zs_append(b, item);
            }
            cell::set_type(b, kind);
            return b;
        }
        if (depth > 0 && pick(8) == 0) {
            // A map of distinct word and integer keys.
            Cell* pairs = test::block({});
            for (u32 i = pick(4); i > 0; i--) {
                std::string key = spelling() + "k" + std::to_string(i);
                block::zs_append(pairs, pick(2) ? test::word(key.c_str()) : int_(i32(i)));
                block::zs_append(pairs, value(depth - 1));
            }
            Cell* m = stack::push_slot();
            cell::init(m, TYPE_UNSET);
            map::make_at(m, 0, 4);
            return map::extend(m, pairs, false);
        }
        return scalar();
    }
};

std::string mold_all(const Cell* v) { return mold(v, {.all = true}); }

TEST_F(LexerRoundTrip, MoldAllLoadsBackEqual) {
    Generator g;
    // Under stress every allocation collects: fewer values, every kind still met many times.
    const int count = collector::STRESS ? 300 : 1500;
    for (int n = 0; n < count; n++) {
        Cell* saved = stack::top;
        Cell* original = g.value(3);
        std::string text = mold_all(original);
        std::string error = load_error(text);
        ASSERT_EQ(error, "") << text;
        Cell* back = load(text);
        ASSERT_EQ(block::zs_length_q(back), 1) << text;
        Cell* again = stack::push(block::zs_head(back));   // the block's buffer moves as mold allocates
        EXPECT_EQ(mold_all(again), text);
        EXPECT_EQ(TYPE_OF(again), TYPE_OF(original)) << text;
        EXPECT_EQ(actions::compare_typed(again, original, COMP_STRICT_EQUAL), 0) << text;
        stack::top = saved;
    }
}

TEST_F(LexerRoundTrip, ToBlockAndToPathLoadText) {
    EXPECT_MOLD(convert(TYPE_BLOCK, str("1 [a b] \"c\"")), "[1 [a b] \"c\"]");
    EXPECT_MOLD(convert(TYPE_BLOCK, str("")), "[]");
    EXPECT_MOLD(convert(TYPE_PATH, str("a b c")), "a/b/c");
    Cell* wide = text_series(U"x \u4E2D \U0001F600", 4);
    EXPECT_MOLD(convert(TYPE_BLOCK, wide), "[x \u4E2D \U0001F600]");
    EXPECT_MOLD(convert(TYPE_BLOCK, at_(str("1 2 3"), 2)), "[2 3]") << "from the head";
    EXPECT_EQ(error_of([] { convert(TYPE_BLOCK, str("[1")); }), "syntax missing");
}

TEST_F(LexerRoundTrip, LoadOne) {
    struct Case {
        const char* text;
        const char* result;   // molded; "unset" for an empty text
    } cases[] = {
        {"12", "12"}, {"  a  ", "a"}, {"[1 2] ", "[1 2]"}, {"1 2", "none"}, {"", "unset"}, {"  ", "unset"},
        {"a/b", "a/b"},
    };
    for (const Case& c : cases) {
        Cell* r = lexer::load_one(str(c.text));
        if (std::string(c.result) == "unset") {
            EXPECT_EQ(TYPE_OF(r), TYPE_UNSET) << c.text;
        } else {
            EXPECT_MOLD(r, c.result) << c.text;
        }
    }
    EXPECT_EQ(error_of([] { lexer::load_one(str("12a")); }), "syntax invalid");
}

TEST_F(LexerRoundTrip, TextToTuple) {
    struct Case {
        const char32_t* text;
        i32 error;
        u32 count;
        u32 w1;
    } cases[] = {
        {U"1.2.3", 0, 3, 0x030201},
        {U"255.0.128.7", 0, 4, 0x0780'00FF},
        {U"1.a.3", -1, 0, 0},   // only digits make a part
        {U"1.2.300", -1, 0, 0},
        {U"1..3", -1, 0, 0},
        {U"1.2.3.4.5.6.7.8.9.10.11.12.13", -1, 0, 0},
        {U"1.\u0661.3", -1, 0, 0},   // an Arabic-Indic digit is no digit here
    };
    for (const Case& c : cases) {
        for (u32 unit : {1u, 2u, 4u}) {
            std::u32string t = c.text;
            if (unit == 1 && t.find(U'\u0661') != std::u32string::npos) continue;
            Cell* s = text_series(t, unit);
            SeriesBuffer* b = series::buffer_of(s);
            Cell result;
            cell::init(&result, TYPE_UNSET);
            i32 error = 1;
            lexer::string_to_tuple(series::head(b), i32(t.size()), unit, &error, &result);
            EXPECT_EQ(error, c.error) << utf8(t) << " unit " << unit;
            if (c.error == 0) {
                EXPECT_EQ(TYPE_OF(&result), TYPE_TUPLE);
                EXPECT_EQ((result.header >> 19) & 0xF, c.count);
                EXPECT_EQ(result.w1, c.w1);
            }
        }
    }
}

// Money from a string's contents (to money!): an optional sign and
// three-letter code, "$" (optional without a code), and an amount of digits,
// quote separators and one "." ("," is no decimal point here).
const Cell* money_currencies = nullptr;

TEST_F(LexerRoundTrip, TextToMoney) {
    // The currency list the system object's locale gives.
    money_currencies = test::block({word("EUR"), word("USD")});
    money::locale_currencies = [] { return money_currencies; };
    struct Case {
        const char32_t* text;
        const char* result;   // mold/all, or "error"
    } cases[] = {
        {U"$1.50", "$1.50000"},
        {U"-USD$2", "-USD$2.00000"},
        {U"12.5", "$12.50000"},
        {U"-12", "-$12.00000"},
        {U"+1'000.25", "$1000.25000"},
        {U"usd$1", "USD$1.00000"},
        {U"US$1", "error"},
        {U"$", "error"},
        {U"$1.", "error"},
        {U"1,5", "error"},
        {U"$1,50", "error"},
        {U".5", "error"},
        {U"'1", "error"},
        {U"1'", "error"},
        {U"1''0", "error"},
        {U"1.'5", "error"},
        {U"12$5", "error"},
        {U"", "error"},
        {U"-", "error"},
        {U"XYZ$1", "error"},
        {U"\u0661", "error"},
    };
    for (const Case& c : cases) {
        for (u32 unit : {1u, 2u, 4u}) {
            std::u32string t = c.text;
            if (unit == 1 && t.find(U'\u0661') != std::u32string::npos) continue;
            Cell* s = text_series(t, unit);
            Cell result;
            cell::init(&result, TYPE_NONE);
            i32 error = 0;
            lexer::string_to_money(series::head(series::buffer_of(s)), i32(t.size()), unit, &error, &result);
            EXPECT_EQ(error == 0 ? mold(&result, MoldOptions{false, true, false, -1}) : "error", c.result)
                << utf8(t) << " unit " << unit;
        }
    }
    money::locale_currencies = nullptr;
}

}  // namespace
}  // namespace zir

namespace zir {
namespace {

using namespace test;

struct LexerEntry : ValueTest {};

Cell* binary_of(const char* bytes) {
    size_t n = std::strlen(bytes);
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_BINARY);
    b->w2 = memory::alloc_bytes(i64(n) + 1);
    SeriesBuffer* s = node_buffer(b->w2);
    std::memcpy(series::head(s), bytes, n);
    s->tail = s->offset + u32(n);
    return b;
}

TEST_F(LexerEntry, OneNextPartAndInto) {
    Cell* text = str("\u00E9t\u00E9 [1 2] rest");
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    lexer::Options one;
    one.one = true;
    i32 consumed = -1;
    EXPECT_EQ(lexer::string_to_block(out, text, -1, one, &consumed, nullptr, nullptr), TYPE_WORD);
    EXPECT_MOLD(out, "\u00E9t\u00E9");
    EXPECT_EQ(consumed, 3) << "in characters for a string";

    Cell* next = at_(text, consumed);
    EXPECT_EQ(lexer::string_to_block(out, next, -1, one, &consumed, nullptr, nullptr), TYPE_BLOCK);
    EXPECT_MOLD(out, "[1 2]");
    EXPECT_EQ(consumed, 6) << "from the head";

    lexer::Options wrapped = one;
    wrapped.wrap = true;
    lexer::string_to_block(out, text, -1, wrapped, nullptr, nullptr, nullptr);
    EXPECT_MOLD(out, "[\u00E9t\u00E9]");

    lexer::string_to_block(out, text, 9, {}, &consumed, nullptr, nullptr);
    EXPECT_MOLD(out, "[\u00E9t\u00E9 [1 2]]") << "a part of the text";
    EXPECT_EQ(consumed, 9);

    Cell* into = test::block({int_(0)});
    lexer::string_to_block(out, str("a b"), -1, {}, nullptr, nullptr, into);
    EXPECT_MOLD(into, "[0 a b]") << "appended to the given block";

    Cell* bytes = binary_of("x \xC3\xA9 1");
    lexer::string_to_block(out, bytes, -1, {}, &consumed, nullptr, nullptr);
    EXPECT_MOLD(out, "[x \u00E9 1]");
    EXPECT_EQ(consumed, 6) << "in bytes for a binary";
}

TEST_F(LexerEntry, CheckOnlyAnswersTheLastTypeAndNone) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    lexer::Options check;
    check.load = false;
    i32 consumed = 0;
    EXPECT_EQ(lexer::string_to_block(out, str("1 \"a\""), -1, check, &consumed, nullptr, nullptr), TYPE_STRING);
    EXPECT_EQ(TYPE_OF(out), TYPE_NONE);
    EXPECT_EQ(consumed, 5);
    EXPECT_EQ(lexer::string_to_block(out, str("1 2a 3"), -1, check, &consumed, nullptr, nullptr), TYPE_ERROR);
    EXPECT_EQ(consumed, 3) << "stopped at the fault";
}

TEST_F(LexerEntry, TheOutputStackGrowsUnderNesting) {
    std::string deep;
    for (int i = 0; i < 3000; i++) deep += "[" + std::to_string(i) + " ";
    for (int i = 0; i < 3000; i++) deep += "]";
    Cell* b = load(deep);
    i32 depth = 0;
    Cell cursor = *b;
    while (TYPE_OF(&cursor) == TYPE_BLOCK && block::zs_length_q(&cursor) > 0) {
        depth++;
        Cell* last = block::zs_head(&cursor) + block::zs_length_q(&cursor) - 1;
        cursor = *last;
    }
    EXPECT_EQ(depth, 3001) << "the block of what was loaded, and the 3,000 in it";
    std::string many;
    for (int i = 0; i < 50000; i++) many += "x ";
    EXPECT_EQ(block::zs_length_q(load(many)), 50000);
}

}  // namespace
}  // namespace zir
