// string!: comparison, find, select, path access and the parse tests. find's
// refinements are checked at units 1, 2 and 4 against a plain scanning model
// over random texts.
#include <optional>
#include <random>

#include "datatypes/bitset.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/unicode.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct StringSearch : ValueTest {};

// A bitset! storing the bits of the code points given (bit n in byte n >> 3
// under 0x80 >> (n & 7)) and, when complemented, counting every code point
// past them as a member; made by the bitset! spec dialect from those bytes
// (inverted after `not`).
Cell* bitset_(std::initializer_list<u32> members, bool complemented = false) {
    u32 top = 0;
    for (u32 m : members) top = m > top ? m : top;
    std::u32string bytes(top / 8 + 1, U'\0');
    for (u32 m : members) bytes[m >> 3] = char32_t(u32(bytes[m >> 3]) | (0x80u >> (m & 7)));
    if (complemented)
        for (char32_t& b : bytes) b = char32_t(~u32(b) & 0xFF);
    Cell* spec = text_series(bytes, 1, TYPE_BINARY);
    if (complemented) spec = block({word("not"), spec});
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    bitset::make_from_spec(b, spec, bitset::MODE_MAKE);
    return b;
}

// --- Comparison ------------------------------------------------------------------------

TEST_F(StringSearch, ComparisonOps) {
    struct Case {
        std::u32string a, b;
        i32 op;
        i32 expected;   // sign of the answer, or NOT_COMPARABLE
    } cases[] = {
        {U"abc", U"ABC", COMP_EQUAL, 0},          {U"abc", U"ABC", COMP_STRICT_EQUAL, 1},
        {U"abc", U"ABC", COMP_SORT, 0},           {U"abc", U"ABC", COMP_CASE_SORT, 1},
        {U"ABC", U"abc", COMP_CASE_SORT, -1},     {U"abc", U"ABC", COMP_FIND, 0},
        {U"abc", U"abd", COMP_NOT_EQUAL, -1},      {U"abc", U"abc", COMP_NOT_EQUAL, 0},
        {U"ab", U"abc", COMP_LESSER, -1},         {U"abd", U"abc", COMP_LESSER, 1},
        {U"abc", U"ab", COMP_SORT, 1},            {U"ab", U"abc", COMP_EQUAL, 1},
        {U"", U"", COMP_EQUAL, 0},                {U"", U"a", COMP_LESSER, -1},
        {U"a", U"", COMP_LESSER, 1},              {U"b", U"A", COMP_SORT, 1},
        {U"b", U"A", COMP_CASE_SORT, 1},          {U"a", U"B", COMP_CASE_SORT, 1},
        // Beyond ASCII: simple mappings, one code point at a time.
        {U"\u00C9cole", U"\u00E9COLE", COMP_EQUAL, 0},
        {U"\u00FF", U"\u0178", COMP_EQUAL, 0},
        {U"\u03A3\u03AF\u03C3\u03C5\u03C6\u03BF\u03C2", U"\u03A3\u038A\u03A3\u03A5\u03A6\u039F\u03A3", COMP_EQUAL, 0},
        {U"\u0434\u043E\u043C", U"\u0414\u041E\u041C", COMP_EQUAL, 0},
        {U"\U00010428", U"\U00010400", COMP_EQUAL, 0},
        {U"\U00010428", U"\U00010400", COMP_STRICT_EQUAL, 1},
        {U"stra\u00DFe", U"STRASSE", COMP_EQUAL, 1},
        {U"\u4E2D", U"\u4E2D", COMP_EQUAL, 0},
        {U"\u00E9", U"f", COMP_SORT, 1},
    };
    auto fits = [](const std::u32string& t, u32 u) {
        for (char32_t c : t) if (string::unit_for(u32(c)) > u) return false;
        return true;
    };
    for (const Case& c : cases) {
        for (u32 ua : {1u, 2u, 4u}) {
            for (u32 ub : {1u, 2u, 4u}) {
                if (!fits(c.a, ua) || !fits(c.b, ub)) continue;
                i32 r = actions::compare_typed(text_series(c.a, ua), text_series(c.b, ub), c.op);
                i32 s = r == NOT_COMPARABLE ? r : r < 0 ? -1 : r > 0 ? 1 : 0;
                EXPECT_EQ(s, c.expected) << utf8(c.a) << " " << utf8(c.b) << " op " << c.op << " " << ua << ub;
            }
        }
    }
}

TEST_F(StringSearch, OtherTextTypesCompareOnlyForEquality) {
    Cell* file = text_series(U"abc", 1, TYPE_FILE);
    Cell* text = str("ABC");
    EXPECT_EQ(actions::compare_typed(text, file, COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare_typed(text, file, COMP_NOT_EQUAL), 0);
    EXPECT_EQ(actions::compare_typed(text, file, COMP_STRICT_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_typed(text, file, COMP_LESSER), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_typed(text, int_(1), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(error_of([&] { actions::compare(text, int_(1), COMP_LESSER); }), "script invalid-compare");
    EXPECT_FALSE(actions::compare(text, int_(1), COMP_EQUAL));
}

TEST_F(StringSearch, IdentityAndKeys) {
    Cell* a = str("abc");
    Cell* same = at_(a, 0);
    EXPECT_EQ(actions::compare_typed(a, same, COMP_SAME), 0);
    EXPECT_EQ(actions::compare_typed(a, str("abc"), COMP_SAME), -1);
    EXPECT_EQ(actions::compare_typed(a, at_(a, 1), COMP_SAME), -1);
    // A key takes part with as many code points as its word 3 says.
    Cell* key = str("ABCDEF");
    cell::set_type(key, string::TYPE_STRING_KEY);
    key->w3 = 3;
    EXPECT_EQ(string::compare(a, key, COMP_EQUAL), 0);
    key->w3 = u32(-1);
    EXPECT_NE(string::compare(a, key, COMP_EQUAL), 0);
}

TEST_F(StringSearch, MatchMode) {
    struct Case {
        std::u32string a, b;
        i32 op, expected;
    } cases[] = {
        {U"abc", U"ab", COMP_EQUAL, 0}, {U"abc", U"AB", COMP_EQUAL, 0}, {U"abc", U"AB", COMP_STRICT_EQUAL, 1},
        {U"ab", U"abc", COMP_EQUAL, 1}, {U"abc", U"", COMP_FIND, 1},    {U"abc", U"", COMP_EQUAL, 0},
        {U"abc", U"abc", COMP_EQUAL, 0}, {U"abc", U"b", COMP_EQUAL, 1},
    };
    for (const Case& c : cases) {
        i32 r = string::compare_strings(text_series(c.a, 4), text_series(c.b, 1), c.op, true);
        EXPECT_EQ(r == 0 ? 0 : 1, c.expected) << utf8(c.a) << " " << utf8(c.b);
    }
}

// --- find against a model -------------------------------------------------------------------

struct Query {
    std::u32string needle;   // one code point for a char! search
    bool as_char = false;
    std::optional<i32> part, skip;
    bool case_ = false, last = false, reverse = false, tail = false, match = false;
};

// The plain model: every candidate position in order, each compared code
// point by code point.
i64 model_find(const std::u32string& hay, i64 h, const Query& q) {
    i64 n = i64(hay.size());
    if (n == 0 || (h >= n && !q.reverse)) return -1;
    if (h > n) h = n;
    i64 step = q.skip.value_or(1);
    i64 room = q.reverse && !q.last ? h : n - h;
    i64 count = room;
    if (q.part) {
        count = *q.part;
        if (count < 1) return -1;
        if (count > room) count = room;
    }
    if (q.reverse && !q.last && (q.match || h == 0)) return -1;
    i64 len = i64(q.needle.size());
    if (len == 0) return -1;
    auto f = [&](char32_t c) { return q.case_ ? u32(c) : case_folding::to_upper_char(u32(c)); };
    auto at = [&](i64 p) {
        for (i64 k = 0; k < len; k++)
            if (f(hay[size_t(p + k)]) != f(q.needle[size_t(k)])) return false;
        return true;
    };
    i64 found = -1;
    if (q.last) {
        i64 first = h + count - len;
        if (first < h) return -1;
        first = h + (first - h) / step * step;
        for (i64 p = first; p >= h; p -= step) {
            if (at(p)) { found = p; break; }
            if (q.match) break;
        }
    } else if (q.reverse) {
        for (i64 p = h - len; p >= h - count; p -= step) {
            if (at(p)) { found = p; break; }
            if (q.match) break;
        }
    } else {
        for (i64 p = h; p + len <= h + count; p += step) {
            if (at(p)) { found = p; break; }
            if (q.match) break;
        }
    }
    if (found < 0) return -1;
    return q.tail ? found + len : found;
}

i64 run_find(Cell* series, const Query& q, u32 needle_unit) {
    Cell* value = q.as_char ? char_(u32(q.needle[0])) : text_series(q.needle, needle_unit);
    Cell* part = q.part ? int_(*q.part) : nullptr;
    Cell* skip = q.skip ? int_(*q.skip) : nullptr;
    Cell* r = string::find(stack::push(series), value, part, false, q.case_, false, false, nullptr, skip, q.last,
                           q.reverse, q.tail, q.match);
    return TYPE_OF(r) == TYPE_NONE ? -1 : i64(r->w1);
}

TEST_F(StringSearch, FindAgreesWithThePlainModel) {
    // Letters whose folding matters: ASCII pairs, Latin-1 pairs, y with
    // diaeresis (its capital is beyond Latin-1), Greek sigmas, Deseret.
    const std::u32string alphabets[] = {
        U"aAbB",
        U"aAb\u00E9\u00C9\u00FF",
        U"aA\u00FF\u0178\u03C3\u03C2\u03A3",
        U"aA\u00E9\u0178\U00010428\U00010400",
    };
    const u32 units[] = {1, 1, 2, 4};
    std::mt19937 random(12345);
    auto pick = [&](const std::u32string& alphabet, i64 n) {
        std::u32string s;
        for (i64 i = 0; i < n; i++) s += alphabet[random() % alphabet.size()];
        return s;
    };
    int checked = 0, found = 0;
    Cell* mark = stack::top;
    for (int round = 0; round < 6000; round++) {
        stack::top = mark;
        size_t which = size_t(round) % 4;
        const std::u32string& alphabet = alphabets[which];
        u32 unit = units[which];
        std::u32string hay = pick(alphabet, i64(random() % 24));
        i64 h = hay.empty() ? 0 : i64(random() % (hay.size() + 2));
        Query q;
        q.as_char = random() % 4 == 0;
        q.needle = pick(alphabet, q.as_char ? 1 : i64(random() % 4));
        if (random() % 3 == 0) q.part = i32(random() % 12) - 2;
        if (random() % 3 == 0) q.skip = i32(random() % 3) + 1;
        q.case_ = random() % 2;
        q.last = random() % 4 == 0;
        q.reverse = random() % 4 == 0;
        q.tail = random() % 3 == 0;
        q.match = random() % 5 == 0;
        u32 needle_unit = 1;
        for (char32_t c : q.needle) needle_unit = std::max(needle_unit, string::unit_for(u32(c)));
        for (u32 hay_unit : {unit, 4u}) {
            Cell* series = text_series(hay, hay_unit);
            series->w1 = u32(h);
            i64 expected = model_find(hay, h, q);
            i64 got = run_find(series, q, needle_unit);
            ASSERT_EQ(got, expected) << "text " << utf8(hay) << " head " << h << " needle " << utf8(q.needle)
                                     << " char " << q.as_char << " part " << q.part.value_or(-99) << " skip "
                                     << q.skip.value_or(-99) << " case " << q.case_ << " last " << q.last
                                     << " reverse " << q.reverse << " tail " << q.tail << " match " << q.match
                                     << " unit " << hay_unit;
            checked++;
            found += expected >= 0;
        }
    }
    EXPECT_GT(found, checked / 5) << "the random cases find something often enough to mean something";
}

TEST_F(StringSearch, FindLongTextsOnEachPath) {
    // The unit-1 case-sensitive scan goes through the C library; the others
    // through the element loops. A match near the end of a long text.
    std::u32string hay(5000, U'a');
    hay += U"aXbC";
    auto query = [](const char32_t* needle, bool as_char, bool case_) {
        Query q;
        q.needle = needle;
        q.as_char = as_char;
        q.case_ = case_;
        return q;
    };
    for (u32 unit : {1u, 2u, 4u}) {
        Cell* s = text_series(hay, unit);
        EXPECT_EQ(run_find(s, query(U"aXbC", false, true), 1), 5000);
        EXPECT_EQ(run_find(s, query(U"axBc", false, false), 1), 5000);
        EXPECT_EQ(run_find(s, query(U"axBc", false, true), 1), -1);
        EXPECT_EQ(run_find(s, query(U"X", true, true), 1), 5001);
        EXPECT_EQ(run_find(s, query(U"\u0161", false, true), 2), -1);
    }
}

TEST_F(StringSearch, FindEdgeCases) {
    Cell* abc = str("abc");
    auto found_at = [](Cell* r) { return TYPE_OF(r) == TYPE_NONE ? -1 : i32(r->w1); };
    auto find = [](Cell* s, Cell* v, bool last, bool reverse, bool tail, bool match) {
        return string::find(stack::push(s), v, nullptr, false, false, false, false, nullptr, nullptr, last, reverse,
                            tail, match);
    };
    EXPECT_EQ(found_at(find(abc, str("ab"), false, false, false, true)), 0);
    EXPECT_EQ(found_at(find(abc, str("ab"), false, false, true, true)), 2);
    EXPECT_EQ(found_at(find(abc, str("bc"), false, false, false, true)), -1);
    Cell* axa = str("aXa");
    EXPECT_EQ(found_at(find(axa, char_('a'), true, false, false, false)), 2);
    EXPECT_EQ(found_at(find(at_(axa, 3), char_('a'), false, true, false, false)), 2);
    EXPECT_EQ(found_at(find(axa, char_('a'), false, true, false, false)), -1) << "reverse at the head";
    EXPECT_EQ(found_at(find(at_(axa, 3), char_('a'), false, true, false, true)), -1) << "reverse with match";
    EXPECT_EQ(found_at(find(abc, str(""), false, false, false, false)), -1) << "an empty text matches nowhere";
    EXPECT_EQ(found_at(find(str(""), char_('a'), false, false, false, false)), -1);

    // A word searches for its spelling, a value that is not text for its formed text.
    EXPECT_EQ(found_at(find(str("say Hello"), word("hello"), false, false, false, false)), 4);
    EXPECT_EQ(found_at(find(str("a12b"), int_(12), false, false, false, false)), 1);
    EXPECT_EQ(found_at(find(str("x none"), none_(), false, false, false, false)), 2);

    // Bitsets: any member; beyond its bits, a member when complemented; never folded.
    Cell* vowels = bitset_({'a', 'e'});
    EXPECT_EQ(found_at(find(str("xyAe"), vowels, false, false, false, false)), 3);
    EXPECT_EQ(found_at(find(str("xy\u4E2D"), bitset_({'a', 'z'}, true), false, false, false, false)), 2)
        << "complemented: the stored bits hold the members, every code point beyond them is one";
}

TEST_F(StringSearch, FindRefinementErrors) {
    Cell* s = str("abcabc");
    auto find = [&](Cell* part, Cell* skip, Cell* with, bool any) {
        return string::find(stack::push(s), str("b"), part, false, false, false, any, with, skip, false, false,
                            false, false);
    };
    EXPECT_EQ(error_of([&] { find(nullptr, int_(0), nullptr, false); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { find(nullptr, str("x"), nullptr, false); }), "script invalid-refine-arg");
    EXPECT_EQ(error_of([&] { find(str("abcabc"), nullptr, nullptr, false); }), "script invalid-refine-arg")
        << "a part in another buffer";
    EXPECT_EQ(error_of([&] { find(nullptr, nullptr, nullptr, true); }), "internal not-done");
    EXPECT_EQ(error_of([&] { find(nullptr, nullptr, str("*"), false); }), "internal not-done");
    EXPECT_EQ(i32(find(at_(s, 2), nullptr, nullptr, false)->w1), 1) << "a part given as a position";
    EXPECT_EQ(TYPE_OF(find(at_(s, 1), nullptr, nullptr, false)), u32(TYPE_NONE));
    Cell* bin = text_series(U"b", 1, TYPE_BINARY);
    EXPECT_EQ(error_of([&] {
                  string::find(stack::push(s), bin, nullptr, false, false, false, false, nullptr, nullptr, false,
                               false, false, false);
              }),
              "script invalid-arg");
}

TEST_F(StringSearch, FindInBinaryNeverFolds) {
    Cell* bin = text_series(U"xaAb", 1, TYPE_BINARY);
    Cell* r = string::find(stack::push(bin), text_series(U"A", 1, TYPE_BINARY), nullptr, false, false, false, false,
                           nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(r->w1, 2u);
    r = string::find(stack::push(bin), int_('b'), nullptr, false, false, false, false, nullptr, nullptr, false, false,
                     false, false);
    EXPECT_EQ(r->w1, 3u) << "an integer is one byte";
}

// A stand-in for tag!'s form: its text between angle brackets.
i32 tag_form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    string::append_char(buffer, '<');
    Cell text = *value;
    cell::set_type(&text, TYPE_STRING);
    string::concatenate(buffer, &text, -1, 0, true, string::CONCAT_APPEND);
    string::append_char(buffer, '>');
    return part - string::zs_length(value) - 2;
}

TEST_F(StringSearch, ATagIsSearchedForWithItsBrackets) {
    action::Generic& slot = datatype::table[TYPE_TAG][ACT_FORM - 1];
    action::Generic saved = slot;
    slot = reinterpret_cast<action::Generic>(tag_form);
    Cell* tag = text_series(U"b", 1, TYPE_TAG);
    Cell* r = string::find(stack::push(str("b <b>")), tag, nullptr, false, false, false, false, nullptr, nullptr,
                           false, false, false, false);
    slot = saved;
    EXPECT_EQ(r->w1, 2u);
}

TEST_F(StringSearch, Select) {
    auto select = [](Cell* s, Cell* v) {
        return string::select(stack::push(s), v, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    };
    Cell* r = select(str("a=b"), str("="));
    ASSERT_EQ(TYPE_OF(r), u32(TYPE_CHAR));
    EXPECT_EQ(r->w2, u32('b'));
    EXPECT_EQ(TYPE_OF(select(str("ab="), str("="))), u32(TYPE_NONE));
    EXPECT_EQ(select(str("a12b"), int_(12))->w2, u32('b'));
    EXPECT_EQ(select(text_series(U"x\u00C9\U00010428", 4), char_(0xE9))->w2, 0x10428u);
    r = select(text_series(U"ab", 1, TYPE_BINARY), int_('a'));
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_INTEGER)) << "a byte";
    EXPECT_EQ(r->w2, u32('b'));
}

TEST_F(StringSearch, PathAccess) {
    Cell* s = str("a=b");
    auto path = [&](Cell* element, Cell* value) {
        return string::eval_path(s, element, value, nullptr, nullptr, nullptr, -1, false, value == nullptr, true,
                                 false);
    };
    EXPECT_EQ(path(int_(3), nullptr)->w2, u32('b'));
    EXPECT_EQ(path(str("="), nullptr)->w2, u32('b'));
    EXPECT_EQ(TYPE_OF(path(int_(9), nullptr)), u32(TYPE_NONE));
    path(int_(1), char_('X'));
    path(str("="), char_(0x4E2D));
    EXPECT_EQ(string::to_std(s), "X=中");
    EXPECT_EQ(error_of([&] { path(word("w"), nullptr); }), "script invalid-path");
    EXPECT_EQ(error_of([&] { path(str("?"), char_('c')); }), "script bad-path-set");
    EXPECT_EQ(error_of([&] { path(int_(7), char_('c')); }), "script out-of-range");
}

// --- Parse tests -----------------------------------------------------------------------------

TEST_F(StringSearch, ParseTests) {
    Cell* s = str("Abc");
    EXPECT_TRUE(string::match_bitset_q(s, bitset_({'A'})));
    EXPECT_FALSE(string::match_bitset_q(s, bitset_({'a'})));
    EXPECT_TRUE(string::match_bitset_q(text_series(U"\u4E2D", 2), bitset_({'a'}, true)));
    EXPECT_FALSE(string::match_bitset_q(at_(s, 3), bitset_({'a'}, true)));

    EXPECT_TRUE(string::match_q(s, str("ab"), COMP_EQUAL));
    EXPECT_FALSE(string::match_q(s, str("ab"), COMP_STRICT_EQUAL));
    EXPECT_TRUE(string::match_q(s, text_series(U"Ab", 1, TYPE_FILE), COMP_STRICT_EQUAL));
    EXPECT_TRUE(string::match_q(s, char_('a'), COMP_EQUAL));
    EXPECT_FALSE(string::match_q(s, char_('a'), COMP_STRICT_EQUAL));
    EXPECT_FALSE(string::match_q(s, int_(1), COMP_EQUAL));
    EXPECT_FALSE(string::match_q(at_(s, 3), char_('a'), COMP_EQUAL));

    Cell* html = str("<b>x");
    Cell* tag = text_series(U"B", 1, TYPE_TAG);
    EXPECT_TRUE(string::match_tag_brackets_q(html, tag));
    EXPECT_TRUE(string::match_q(html, tag, COMP_EQUAL));
    EXPECT_FALSE(string::match_q(html, tag, COMP_STRICT_EQUAL));
    EXPECT_FALSE(string::match_tag_brackets_q(str("<b"), tag)) << "the closing bracket would lie past the tail";

    Cell* pairs = str("aBcD");
    EXPECT_TRUE(string::contains_q(pairs, 'c', 2, false));
    EXPECT_FALSE(string::contains_q(pairs, 'b', 2, false)) << "only at record starts";
    EXPECT_TRUE(string::contains_q(pairs, 'b', 1, false));
    EXPECT_FALSE(string::contains_q(pairs, 'b', 1, true));
}

}  // namespace
}  // namespace zir
