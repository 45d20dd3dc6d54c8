// series!: the position actions, element access and the modifying actions
// that every series type inherits, on blocks and on text of every width.
#include <algorithm>

#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct SeriesActions : ValueTest {};

// --- Shared routines -----------------------------------------------------------

TEST_F(SeriesActions, SharedRoutines) {
    Cell* b = ints({1, 2, 3});
    Cell* s = at_(b, 1);
    EXPECT_EQ(series::zs_abs_length_q(s), 3);
    EXPECT_FALSE(series::zs_tail_q(s));
    EXPECT_FALSE(series::zs_skip(s, 1));
    EXPECT_EQ(s->w1, 2u);
    EXPECT_TRUE(series::zs_skip(s, 1)) << "reaching the tail";
    EXPECT_EQ(s->w1, 3u);
    EXPECT_TRUE(series::zs_skip(s, 5)) << "past the tail: reported, not moved";
    EXPECT_EQ(s->w1, 3u);
    EXPECT_TRUE(series::zs_tail_q(s));
    EXPECT_EQ(series::get_length(at_(b, 1), false), 2);
    EXPECT_EQ(series::get_length(at_(b, 1), true), 3);
    Cell* past = at_(b, 7);
    EXPECT_TRUE(series::zs_tail_q(past));
    EXPECT_EQ(series::get_length(past, false), 0);
    EXPECT_EQ(past->w1, 3u) << "a head past the tail is set to the tail";
}

// --- Position actions ------------------------------------------------------------

TEST_F(SeriesActions, AtAndSkipClampToTheBuffer) {
    Cell* b = ints({1, 2, 3, 4});
    struct Case {
        u32 slot;
        i32 head, n, expected;
    } cases[] = {
        {ACT_AT, 0, 0, 0},  {ACT_AT, 0, 1, 0},  {ACT_AT, 0, 2, 1},   {ACT_AT, 2, -1, 1}, {ACT_AT, 0, -1, 0},
        {ACT_AT, 2, 10, 4}, {ACT_AT, 3, 0, 3},  {ACT_AT, 3, 1, 3},   {ACT_SKIP, 0, 2, 2}, {ACT_SKIP, 2, -1, 1},
        {ACT_SKIP, 1, 99, 4}, {ACT_SKIP, 1, -99, 0}, {ACT_SKIP, 0, 0, 0},
        {ACT_AT, 0, -2147483647 - 1, 0}, {ACT_SKIP, 4, 2147483647, 4},
    };
    for (const Case& c : cases) {
        Cell* r = direct(c.slot, at_(b, c.head), int_(c.n));
        EXPECT_EQ(i32(r->w1), c.expected) << (c.slot == ACT_AT ? "at " : "skip ") << c.head << " " << c.n;
    }
    EXPECT_EQ(error_of([&] { direct(ACT_AT, b, none_()); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { direct(ACT_SKIP, b, logic_(true)); }), "script invalid-arg");
}

TEST_F(SeriesActions, NavigationAndQueries) {
    Cell* b = ints({1, 2, 3});
    EXPECT_EQ(direct(ACT_NEXT, at_(b, 2))->w1, 3u);
    EXPECT_EQ(direct(ACT_NEXT, at_(b, 3))->w1, 3u) << "next stops at the tail";
    EXPECT_EQ(direct(ACT_BACK, at_(b, 1))->w1, 0u);
    EXPECT_EQ(direct(ACT_BACK, b)->w1, 0u) << "back stops at the head";
    EXPECT_EQ(direct(ACT_HEAD, at_(b, 2))->w1, 0u);
    EXPECT_EQ(direct(ACT_TAIL, b)->w1, 3u);
    EXPECT_EQ(direct(ACT_HEAD_Q, b)->w1, 1u);
    EXPECT_EQ(direct(ACT_HEAD_Q, at_(b, 1))->w1, 0u);
    EXPECT_EQ(direct(ACT_TAIL_Q, at_(b, 3))->w1, 1u);
    EXPECT_EQ(direct(ACT_TAIL_Q, at_(b, 5))->w1, 1u) << "a head past the tail is at the tail";
    EXPECT_EQ(TYPE_OF(direct(ACT_TAIL_Q, b)), u32(TYPE_LOGIC));
    EXPECT_EQ(direct(ACT_INDEX_Q, at_(b, 2))->w2, 3u);
    EXPECT_EQ(TYPE_OF(direct(ACT_INDEX_Q, b)), u32(TYPE_INTEGER));

    auto length = [](Cell* s) { return actions::get<action::Length>(s, ACT_LENGTH_Q)(s); };
    EXPECT_EQ(length(at_(b, 1)), 2);
    // Cut through another reference, the value's head is left past the tail.
    Cell* late = at_(b, 2);
    series::clear(b);
    EXPECT_EQ(length(late), 0);
    EXPECT_EQ(late->w1, 0u) << "its head is moved to the tail";
}

// --- pick and poke -------------------------------------------------------------------

TEST_F(SeriesActions, PickIndexes) {
    Cell* b = ints({10, 20, 30});
    struct Case {
        i32 head, n, expected;   // -1: none
    } cases[] = {
        {0, 1, 10}, {0, 3, 30}, {0, 4, -1}, {0, 0, -1}, {1, -1, 10}, {1, 1, 20},
        {0, -1, -1}, {2, -2, 10}, {2, -3, -1}, {1, 2147483647, -1}, {1, -2147483647 - 1, -1},
    };
    for (const Case& c : cases) {
        Cell* r = series::pick(at_(b, c.head), c.n, nullptr);
        if (c.expected < 0) EXPECT_EQ(TYPE_OF(r), u32(TYPE_NONE)) << c.head << " " << c.n;
        else EXPECT_EQ(i32(r->w2), c.expected) << c.head << " " << c.n;
    }
    // Text answers characters at the buffer's width, bytes answer integers.
    Cell* wide = text_series(U"a\U0001F600c", 4);
    Cell* ch = series::pick(wide, 2, nullptr);
    EXPECT_EQ(TYPE_OF(ch), u32(TYPE_CHAR));
    EXPECT_EQ(ch->w2, 0x1F600u);
    Cell* bytes = text_series(U"\x01\xFF", 1, TYPE_BINARY);
    Cell* byte = series::pick(bytes, 2, nullptr);
    EXPECT_EQ(TYPE_OF(byte), u32(TYPE_INTEGER));
    EXPECT_EQ(byte->w2, 255u);
}

TEST_F(SeriesActions, PokeStoresOrRaises) {
    Cell* b = ints({1, 2, 3});
    Cell* nine = int_(9);
    EXPECT_EQ(series::poke(at_(b, 1), -1, nine, nullptr), nine);
    EXPECT_MOLD(b, "[9 2 3]");
    series::poke(b, 3, nl(none_()), nullptr);
    EXPECT_MOLD(b, "[9 2\nnone]") << "the stored copy keeps its new-line flag";
    for (i32 n : {0, 4, -1}) {
        try {
            series::poke(b, n, nine, nullptr);
            ADD_FAILURE() << "poke " << n;
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "out-of-range");
            EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_INTEGER));
            EXPECT_EQ(i32(e.args[0].w2), n) << "the index as an integer!";
        }
    }

    // Text takes characters only, widening its buffer when needed.
    Cell* s = str("abc");
    Cell ch;
    cell::init(&ch, TYPE_CHAR);
    ch.w2 = 0xE9;
    series::poke(s, 1, &ch, nullptr);
    EXPECT_EQ(series::unit_of(node_buffer(s->w2)), 1u) << "0xE9 fits a unit-1 buffer";
    ch.w2 = 0x3B1;
    series::poke(s, 2, &ch, nullptr);
    EXPECT_EQ(series::unit_of(node_buffer(s->w2)), 2u);
    EXPECT_EQ(string::to_std(s), "\u00e9\u03b1c");
    EXPECT_EQ(error_of([&] { series::poke(s, 1, int_(65), nullptr); }), "script invalid-arg");

    Cell* bytes = text_series(U"\x01\x02", 1, TYPE_BINARY);
    series::poke(bytes, 1, int_(-1), nullptr);
    EXPECT_EQ(*series::head(node_buffer(bytes->w2)), 0xFF) << "-1 is the byte FF";
    EXPECT_EQ(error_of([&] { series::poke(bytes, 1, int_(300), nullptr); }), "script invalid-arg")
        << "a value wider than a byte is refused, not cut to its low 8 bits";
    EXPECT_EQ(error_of([&] { series::poke(bytes, 1, none_(), nullptr); }), "script invalid-arg");
}

// --- clear, remove, reverse ---------------------------------------------------------

TEST_F(SeriesActions, ClearCutsAtTheHead) {
    Cell* b = ints({1, 2, 3});
    series::clear(at_(b, 1));
    EXPECT_MOLD(b, "[1]");
    series::clear(at_(b, 1));
    EXPECT_MOLD(b, "[1]");
    Cell* s = str("hello");
    series::clear(at_(s, 2));
    EXPECT_EQ(string::to_std(s), "he");
}

TEST_F(SeriesActions, Remove) {
    struct Case {
        i32 head;
        i32 part;   // -100: no /part
        const char* expected;
    } cases[] = {
        {0, -100, "[2 3 4 5]"}, {1, -100, "[1 3 4 5]"}, {0, 2, "[3 4 5]"}, {3, 9, "[1 2 3]"},
        {1, 0, "[1 2 3 4 5]"},  {2, -1, "[1 2 3 4 5]"}, {5, -100, "[1 2 3 4 5]"},
    };
    for (const Case& c : cases) {
        Cell* b = ints({1, 2, 3, 4, 5});
        series::remove(at_(b, c.head), c.part == -100 ? nullptr : int_(c.part), nullptr);
        EXPECT_MOLD(b, c.expected) << c.head << " " << c.part;
    }
    Cell* b = ints({1, 2, 3, 4, 5});
    series::remove(at_(b, 1), at_(b, 3), nullptr);
    EXPECT_MOLD(b, "[1 4 5]") << "a position of the same series counts up to it";
    EXPECT_EQ(error_of([&] { series::remove(b, ints({1}), nullptr); }), "script invalid-refine-arg");

    // /key removes the key and the value after it, leaving the series there.
    Cell* m = ints({1, 10, 2, 20, 3, 30});
    Cell* r = series::remove(stack::push(m), nullptr, int_(2));
    EXPECT_MOLD(r, "[3 30]");
    EXPECT_MOLD(m, "[1 10 3 30]");
    EXPECT_EQ(TYPE_OF(series::remove(m, nullptr, int_(7))), u32(TYPE_NONE));

    Cell* s = text_series(U"ab\U0001F600cd", 4);
    series::remove(at_(s, 1), int_(2), nullptr);
    EXPECT_EQ(string::to_std(s), "acd");
}

TEST_F(SeriesActions, Reverse) {
    struct Case {
        i32 head, part, skip;   // -1: absent
        const char* expected;
    } cases[] = {
        {0, -1, -1, "[6 5 4 3 2 1]"}, {0, 2, -1, "[2 1 3 4 5 6]"},  {4, -1, -1, "[1 2 3 4 6 5]"},
        {0, -1, 2, "[5 6 3 4 1 2]"},  {0, -1, 3, "[4 5 6 1 2 3]"},  {0, -1, 6, "[1 2 3 4 5 6]"},
        {0, 4, 2, "[3 4 1 2 5 6]"},   {6, -1, -1, "[1 2 3 4 5 6]"}, {0, 0, -1, "[1 2 3 4 5 6]"},
        {2, 99, -1, "[1 2 6 5 4 3]"},
    };
    for (const Case& c : cases) {
        Cell* b = ints({1, 2, 3, 4, 5, 6});
        series::reverse(at_(b, c.head), c.part < 0 ? nullptr : int_(c.part), c.skip < 0 ? nullptr : int_(c.skip));
        EXPECT_MOLD(b, c.expected) << c.head << " " << c.part << " " << c.skip;
    }
    Cell* b = ints({1, 2, 3, 4, 5, 6});
    series::reverse(at_(b, 1), at_(b, 4), nullptr);
    EXPECT_MOLD(b, "[1 4 3 2 5 6]");
    auto refine_name = [&](Cell* part, Cell* skip) {
        try {
            series::reverse(b, part, skip);
        } catch (const LanguageError& e) {
            return std::string(e.id) + " " + std::string(symbol::spelling(i32(e.args[0].w2)));
        }
        return std::string();
    };
    EXPECT_EQ(refine_name(nullptr, int_(4)), "invalid-refine-arg skip") << "6 is not a multiple of 4";
    EXPECT_EQ(refine_name(nullptr, int_(7)), "invalid-refine-arg skip");
    EXPECT_EQ(refine_name(ints({1}), nullptr), "invalid-refine-arg part");
    EXPECT_EQ(error_of([&] { series::reverse(b, nullptr, int_(0)); }), "script out-of-range");

    Cell* s = text_series(U"ab\u03b1", 2);
    series::reverse(s, nullptr, nullptr);
    EXPECT_EQ(string::to_std(s), "\u03b1ba");
}

// --- take and copy --------------------------------------------------------------

TEST_F(SeriesActions, TakeFromText) {
    Cell* s = str("abc");
    Cell* t = series::take(stack::push(s), nullptr, false, false);
    EXPECT_EQ(TYPE_OF(t), u32(TYPE_STRING));
    EXPECT_EQ(string::to_std(t), "a");
    EXPECT_EQ(string::to_std(s), "bc");
    Cell* shared = stack::push(t);
    Cell* u = series::take(stack::push(s), nullptr, false, true);
    EXPECT_EQ(string::to_std(u), "c");
    EXPECT_EQ(u->w2, shared->w2) << "takes without /part reuse one buffer";
    Cell* wide = text_series(U"x\U0001F600yz", 4);
    Cell* v = series::take(stack::push(wide), int_(2), false, false);
    EXPECT_EQ(string::to_std(v), "x\U0001F600");
    EXPECT_EQ(series::unit_of(node_buffer(v->w2)), 4u) << "the new series keeps the unit";
    EXPECT_NE(v->w2, shared->w2);
    EXPECT_EQ(TYPE_OF(series::take(stack::push(str("")), nullptr, false, false)), u32(TYPE_NONE));
}

TEST_F(SeriesActions, CopyParts) {
    struct Case {
        i32 head;
        Cell* part;
        const char* expected;
    } cases[] = {
        {0, nullptr, "[1 2 3 4 5]"}, {2, nullptr, "[3 4 5]"},     {0, int_(2), "[1 2]"},
        {0, int_(9), "[1 2 3 4 5]"}, {3, int_(-2), "[2 3]"},      {1, int_(-5), "[1]"},
        {2, int_(0), "[]"},          {0, pair_(2, 4), "[2 3]"},   {1, pair_(2, 4), "[3 4]"},
        {0, pair_(3, 1), "[]"},      {2, pair_(-1, 1), "[2 3]"},  {0, pair_(4, 99), "[4 5]"},
        {5, nullptr, "[]"},
    };
    for (const Case& c : cases) {
        Cell* b = ints({1, 2, 3, 4, 5});
        Cell* r = stack::push(none_());
        series::copy(at_(b, c.head), r, c.part, false, nullptr);
        EXPECT_MOLD(r, c.expected) << c.head << " " << (c.part ? mold(c.part) : "");
        EXPECT_NE(r->w2, b->w2);
        EXPECT_EQ(r->w1, 0u);
    }
    Cell* b = ints({1, 2, 3, 4, 5});
    Cell* r = stack::push(none_());
    series::copy(at_(b, 1), r, at_(b, 3), false, nullptr);
    EXPECT_MOLD(r, "[2 3]");
    EXPECT_EQ(error_of([&] { series::copy(b, r, str("x"), false, nullptr); }), "script invalid-refine-arg");
    // A head left past the tail copies nothing.
    Cell* late = at_(b, 4);
    series::clear(at_(b, 2));
    series::copy(late, r, nullptr, false, nullptr);
    EXPECT_MOLD(r, "[]");
    Cell* flagged = nl(ints({7}));
    series::copy(flagged, r, nullptr, false, nullptr);
    EXPECT_TRUE(r->header & FLAG_NEW_LINE) << "the copy keeps the new-line flag";
    Cell* s = text_series(U"\u03b1\u03b2\u03b3", 2);
    series::copy(at_(s, 1), r, nullptr, false, nullptr);
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_STRING));
    EXPECT_EQ(string::to_std(r), "\u03b2\u03b3");
}

// --- random -------------------------------------------------------------------------

std::vector<u32> values_of(const Cell* b) {
    std::vector<u32> v;
    for (i32 i = 0; i < block::zs_length_q(at_(b, 0)); i++) v.push_back(block::zs_abs_at(b, i)->w2);
    return v;
}

TEST_F(SeriesActions, RandomShufflesFromTheHead) {
    std::vector<u32> ordered;
    Cell* a = ints({});
    Cell* b = ints({});
    for (i32 i = 1; i <= 30; i++) {
        block::zs_append(a, int_(i));
        block::zs_append(b, int_(i));
        ordered.push_back(u32(i));
    }
    Cell* seed = ints({4, 5, 6});
    Cell* r = series::random(stack::push(seed), true, false, false);
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_UNSET));
    series::random(at_(a, 10), false, false, false);
    series::random(stack::push(seed), true, false, false);
    series::random(at_(b, 10), false, false, false);
    EXPECT_EQ(values_of(a), values_of(b)) << "the same seed, the same shuffle";
    std::vector<u32> shuffled = values_of(a);
    EXPECT_TRUE(std::equal(ordered.begin(), ordered.begin() + 10, shuffled.begin())) << "before the head: untouched";
    EXPECT_NE(shuffled, ordered);
    std::sort(shuffled.begin(), shuffled.end());
    EXPECT_EQ(shuffled, ordered) << "the same values";

    // Seeding reads the bytes from the head: another head, another seed.
    series::random(at_(seed, 1), true, false, false);
    series::random(at_(a, 0), false, false, false);
    series::random(stack::push(seed), true, false, false);
    series::random(at_(b, 0), false, false, false);
    EXPECT_NE(values_of(a), values_of(b));

    Cell* s = text_series(U"αβγδ", 2);
    series::random(s, false, true, false);
    std::string text = string::to_std(s);
    EXPECT_EQ(text.size(), 8u) << "characters move whole";
    for (const char* c : {"α", "β", "γ", "δ"}) EXPECT_NE(text.find(c), std::string::npos);
}

TEST_F(SeriesActions, RandomOnlyPicksOneElement) {
    Cell* b = ints({7, 8, 9});
    for (int i = 0; i < 20; i++) {
        Cell* r = series::random(at_(b, 1), false, i % 2 == 1, true);
        ASSERT_EQ(TYPE_OF(r), u32(TYPE_INTEGER));
        EXPECT_TRUE(r->w2 == 8 || r->w2 == 9) << r->w2;
    }
    EXPECT_EQ(TYPE_OF(series::random(at_(b, 3), false, false, true)), u32(TYPE_NONE));
    Cell* r = series::random(str("zz"), false, false, true);
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_CHAR));
    EXPECT_EQ(r->w2, u32('z'));
    EXPECT_MOLD(b, "[7 8 9]");
}

// --- move -------------------------------------------------------------------------

TEST_F(SeriesActions, MoveWithinOneSeries) {
    struct Case {
        i32 from, to, part;   // part -1: absent
        const char* expected;
    } cases[] = {
        {0, 2, -1, "[2 3 1 4 5]"}, {0, 5, -1, "[2 3 4 5 1]"}, {3, 0, -1, "[4 1 2 3 5]"},
        {0, 1, -1, "[2 1 3 4 5]"}, {1, 1, -1, "[1 2 3 4 5]"}, {0, 3, 2, "[3 4 5 1 2]"},
        {3, 1, 2, "[1 4 5 2 3]"},  {0, 9, 2, "[3 4 5 1 2]"},  {0, 1, 2, "[3 1 2 4 5]"},
        {0, 4, 2, "[1 2 3 4 5]"},  // no room after the target: nothing moves
        {0, 2, 0, "[1 2 3 4 5]"},  {4, 0, 9, "[5 1 2 3 4]"},
    };
    for (const Case& c : cases) {
        Cell* b = ints({1, 2, 3, 4, 5});
        Cell* target = at_(b, c.to);
        Cell* r = series::move(at_(b, c.from), target, c.part < 0 ? nullptr : int_(c.part));
        EXPECT_MOLD(b, c.expected) << c.from << " -> " << c.to << " /part " << c.part;
        if (std::string(c.expected) != "[1 2 3 4 5]") {
            EXPECT_EQ(r, target);
        }
    }
}

TEST_F(SeriesActions, MoveBetweenSeries) {
    Cell* a = ints({1, 2, 3});
    Cell* b = ints({8, 9});
    Cell* r = series::move(a, at_(b, 1), int_(2));
    EXPECT_MOLD(a, "[3]");
    EXPECT_MOLD(b, "[8 1 2 9]");
    EXPECT_EQ(r->w1, 1u) << "the target keeps its head";

    // Text of different widths moves as characters.
    Cell* narrow = str("abc");
    Cell* wide = text_series(U"\U0001F600!", 4);
    series::move(wide, narrow, nullptr);
    EXPECT_EQ(string::to_std(narrow), "\U0001F600abc");
    EXPECT_EQ(string::to_std(wide), "!");
    series::move(at_(narrow, 1), at_(wide, 1), int_(2));
    EXPECT_EQ(string::to_std(wide), "!ab");
    EXPECT_EQ(string::to_std(narrow), "\U0001F600c");

    Cell* tail = at_(ints({1}), 1);
    EXPECT_EQ(series::move(tail, b, nullptr), b) << "nothing to move";
    EXPECT_EQ(error_of([&] { series::move(a, str("x"), nullptr); }), "script move-bad");
    EXPECT_EQ(error_of([&] { series::move(str("x"), a, nullptr); }), "script move-bad");
    EXPECT_EQ(error_of([&] { series::move(str("x"), text_series(U"\x01", 2, TYPE_BINARY), nullptr); }),
              "script move-bad");
    EXPECT_EQ(error_of([&] { series::move(a, int_(1), nullptr); }), "script expect-arg");
}

// --- Conversions of the stack entries ------------------------------------------------

TEST_F(SeriesActions, InsertPartAndDupConversions) {
    Cell* v = ints({1, 2, 3, 4});
    Cell* part = int_(2);
    EXPECT_TRUE(series::insert_counts(v, part, nullptr));
    EXPECT_EQ(part->w2, 2u);
    EXPECT_FALSE(series::insert_counts(v, int_(0), nullptr));
    EXPECT_FALSE(series::insert_counts(v, int_(-1), nullptr)) << "nothing before the head";
    Cell* moved = at_(v, 3);
    part = int_(-2);
    EXPECT_TRUE(series::insert_counts(moved, part, nullptr));
    EXPECT_EQ(moved->w1, 1u);
    EXPECT_EQ(part->w2, 2u);
    moved = at_(v, 1);
    part = int_(-5);
    EXPECT_TRUE(series::insert_counts(moved, part, nullptr));
    EXPECT_EQ(moved->w1, 0u);
    EXPECT_EQ(part->w2, 1u) << "the distance moved";
    part = at_(v, 3);
    EXPECT_TRUE(series::insert_counts(at_(v, 1), part, nullptr));
    EXPECT_EQ(TYPE_OF(part), u32(TYPE_INTEGER));
    EXPECT_EQ(part->w2, 2u);
    EXPECT_FALSE(series::insert_counts(v, nullptr, int_(0)));
    EXPECT_TRUE(series::insert_counts(v, nullptr, int_(3)));
    EXPECT_EQ(error_of([&] { series::insert_counts(int_(1), int_(1), nullptr); }), "script invalid-part");
    try {
        series::insert_counts(v, ints({1}), nullptr);
        ADD_FAILURE();
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "invalid-refine-arg");
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_REFINEMENT)) << "named as /part";
    }

    Cell* s = ints({1, 2, 3, 4});
    part = int_(-1);
    Cell* at2 = at_(s, 2);
    EXPECT_TRUE(series::change_counts(at2, part, nullptr));
    EXPECT_EQ(at2->w1, 1u);
    EXPECT_EQ(part->w2, 1u);
    part = at_(s, 3);
    EXPECT_TRUE(series::change_counts(at_(s, 1), part, nullptr));
    EXPECT_EQ(part->w2, 2u);
    EXPECT_FALSE(series::change_counts(s, int_(0), nullptr));
    EXPECT_EQ(error_of([&] { series::change_counts(s, ints({2}), nullptr); }), "script invalid-refine-arg");
}

// --- Owners ------------------------------------------------------------------------

std::vector<std::string> reports;
void record_report(const Cell*, const Cell*, const Cell*, i32 word, const Cell*, i32 index, i32 part) {
    reports.push_back(std::string(symbol::spelling(word)) + " " + std::to_string(index) + " " +
                      std::to_string(part));
}

struct Owned : SeriesActions {
    collector::RootCell owner;
    void SetUp() override {
        SeriesActions::SetUp();
        ownership::on_deep_change = record_report;
        reports.clear();
    }
    void TearDown() override {
        test::restore_hooks();
        SeriesActions::TearDown();
    }
    Cell* owned(std::initializer_list<i32> values) {
        Cell* b = ints(values);
        own(b, owner.get());
        return b;
    }
};

TEST_F(Owned, ModificationsReportBeforeAndAfter) {
    Cell* b = owned({1, 2, 3, 4, 5, 6});
    series::poke(b, 2, int_(9), nullptr);
    series::remove(at_(b, 1), int_(2), nullptr);
    series::reverse(b, nullptr, nullptr);
    series::take(stack::push(b), nullptr, false, true);
    series::move(b, at_(b, 2), nullptr);
    series::clear(at_(b, 1));
    EXPECT_MOLD(b, "[5]");
    series::random(b, false, false, false);
    EXPECT_EQ(reports, (std::vector<std::string>{"poke 1 1", "poked 1 1", "remove 1 2", "removed 1 2",
                                                 "reverse 0 4", "reversed 0 4", "take 3 1", "taken 3 1",
                                                 "move 0 1", "moved 2 1", "clear 1 2", "cleared 1 2",
                                                 "random 0 1", "randomized 0 1"}));
    reports.clear();
    series::clear(at_(b, 1));
    series::remove(at_(b, 1), nullptr, nullptr);
    EXPECT_TRUE(reports.empty()) << "nothing changed, nothing reported";
}

TEST_F(Owned, ReflectAndModifyTheOwner) {
    Cell* b = owned({1});
    Cell* r = series::reflect(stack::push(b), series::words.owned);
    ASSERT_EQ(TYPE_OF(r), u32(TYPE_BLOCK));
    EXPECT_EQ(TYPE_OF(block::zs_abs_at(r, 0)), u32(TYPE_OBJECT));
    EXPECT_EQ(block::zs_abs_at(r, 0)->w1, owner->w1);
    EXPECT_EQ(symbol::spelling(i32(block::zs_abs_at(r, 1)->w2)), "data");

    Cell* other = ints({2});
    series::modify(stack::push(other), series::words.owned, r, false);
    EXPECT_TRUE(node_buffer(other->w2)->flags & SERIES_OWNED) << "a [owner word] block binds";
    Cell* none = none_();
    Cell* answer = series::modify(stack::push(b), symbol::make("OWNED"), none, false);
    EXPECT_EQ(TYPE_OF(answer), u32(TYPE_NONE)) << "modify answers the value";
    EXPECT_FALSE(node_buffer(b->w2)->flags & SERIES_OWNED) << "none unbinds";
    EXPECT_EQ(TYPE_OF(series::reflect(stack::push(b), series::words.owned)), u32(TYPE_NONE));
    EXPECT_EQ(error_of([&] { series::reflect(stack::push(b), symbol::make("spec")); }), "internal not-done");
    series::modify(stack::push(other), series::words.owned, none, false);
}

}  // namespace
}  // namespace zir
