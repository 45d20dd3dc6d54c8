// tuple!: bytes in the cell, saturating byte-wise arithmetic, the specs make
// and to read, path access that tells the tuple's holder, reverse with its
// refinements, and comparison that treats missing bytes as 0.
#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

template <u32 S>
typename datatype::SlotSig<S>::type act() {
    return action_of<S>(TYPE_TUPLE);
}

// A tuple of the bytes given.
Cell* tup(std::initializer_list<i32> bytes) { return tuple::push_bytes(i32(bytes.size()), bytes.begin()); }
Cell* issue_(const char* text) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    return issue::make_at(c, text);
}

std::string show(const Cell* c) {
    if (TYPE_OF(c) != TYPE_TUPLE) return std::string("a ") + datatype::name_of(TYPE_OF(c));
    std::string s;
    for (i32 i = 0; i < tuple::length_of(c); i++) s += (i ? "." : "") + std::to_string(tuple::byte_at(c, i));
    for (i32 i = tuple::length_of(c); i < tuple::MAX_LENGTH; i++)
        if (tuple::byte_at(c, i) != 0) s += " (byte " + std::to_string(i) + " past the length)";
    return s;
}

struct Tuples : ValueTest {};

// --- Values -------------------------------------------------------------------------

TEST_F(Tuples, Constructors) {
    EXPECT_EQ(show(tup({1, 2})), "1.2.0");
    EXPECT_EQ(show(tup({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13})), "1.2.3.4.5.6.7.8.9.10.11.12");
    EXPECT_EQ(show(tup({256, -1, 513})), "0.255.1") << "the low bytes";
    Cell c;
    cell::init(&c, TYPE_NONE);
    c.header |= FLAG_NEW_LINE;
    tuple::make_rgba(&c, 1, 2, 3, -1);
    EXPECT_EQ(show(&c), "1.2.3");
    EXPECT_TRUE(c.header & FLAG_NEW_LINE);
    tuple::make_rgba(&c, 255, 0, 0, 128);
    EXPECT_EQ(show(&c), "255.0.0.128");
    EXPECT_EQ(c.w1, 0x800000FFu) << "R in the lowest byte of word 1, alpha in the highest";
    Cell* t = tuple::push(5, 0x04030201, 0xFFFF0005, 0xFFFFFFFF);
    EXPECT_EQ(show(t), "1.2.3.4.5") << "bytes past the length are cleared";
    EXPECT_TRUE(tuple::all_zero_q(tup({0, 0, 0, 0})));
    EXPECT_FALSE(tuple::all_zero_q(tup({0, 0, 1})));
}

TEST_F(Tuples, MakeAndTo) {
    struct Case {
        const Cell* spec;
        const char* result;
    } cases[] = {
        {test::block({int_(1), int_(2)}), "1.2.0"},
        {test::block({}), "0.0.0"},
        {test::block({int_(255), char_('a'), float_(2.9), float_(255.5)}), "255.97.2.255"},
        {test::block({float_(-0.5), int_(0), int_(0)}), "0.0.0"},
        {test::block({int_(1), int_(2), int_(3)}, TYPE_PAREN), "1.2.3"},
        {hash_({int_(4), int_(5), int_(6)}), "4.5.6"},
        {issue_("FF000080"), "255.0.0.128"},
        {issue_("F80"), "255.136.0"},
        {issue_("00ff7f"), "0.255.127"},
        {binary_({1, 2}), "1.2.0"},
        {binary_({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), "1.2.3.4.5.6.7.8.9.10.11.12"},
        {binary_({1, 2, 3, 4}, 2), "3.4.0"},
        {tup({9, 8, 7}), "9.8.7"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(convert(TYPE_TUPLE, c.spec, ACT_MAKE)), c.result);
        EXPECT_EQ(show(convert(TYPE_TUPLE, c.spec)), c.result);
    }
}

TEST_F(Tuples, MakeErrors) {
    struct Case {
        const Cell* spec;
        const char* error;
    } cases[] = {
        {ints({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), "script bad-to-arg"},
        {test::block({int_(256)}), "script bad-to-arg"},
        {test::block({int_(-1)}), "script bad-to-arg"},
        {test::block({float_(256.0)}), "script bad-to-arg"},
        {test::block({float_(NAN)}), "script bad-to-arg"},
        {test::block({str("1")}), "script bad-to-arg"},
        {issue_("FF00"), "script invalid-data"},
        {issue_("GGGGGG"), "script invalid-data"},
        {issue_("FF00008"), "script invalid-data"},
        {int_(1), "script bad-to-arg"},
        {pair_(1, 2), "script bad-to-arg"},
        {none_(), "script bad-to-arg"},
        {str("1.2.3"), ""},                    // loaded by the lexer
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { convert(TYPE_TUPLE, c.spec, ACT_MAKE); }), c.error)
            << mold(c.spec);
}

TEST_F(Tuples, TextLoadsOneTuple) {
    auto to = [](const Cell* text) { return convert(TYPE_TUPLE, text); };
    EXPECT_EQ(show(to(str("1.2.3"))), "1.2.3");
    EXPECT_EQ(show(to(text_series(U"1.2.3", 1, TYPE_FILE))), "1.2.3") << "any text type";
    EXPECT_EQ(error_of([&] { to(str("1x2")); }), "script bad-to-arg");
    EXPECT_EQ(error_of([&] { to(str("")); }), "script bad-to-arg");
}

// --- Arithmetic -----------------------------------------------------------------------

TEST_F(Tuples, Arithmetic) {
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        const char* result;
    } cases[] = {
        {ACT_ADD, tup({200, 100, 50}), int_(100), "255.200.150"},
        {ACT_SUBTRACT, tup({1, 2, 3}), int_(5), "0.0.0"},
        {ACT_ADD, tup({1, 2, 3}), tup({1, 1, 1, 1}), "2.3.4.1"},     // the longer length
        {ACT_SUBTRACT, tup({5, 5, 5, 5}), tup({1, 1, 1}), "4.4.4.5"},
        {ACT_DIVIDE, tup({10, 20, 30}), int_(3), "3.6.10"},          // truncated
        {ACT_REMAINDER, tup({10, 20, 30}), int_(7), "3.6.2"},
        {ACT_MULTIPLY, tup({1, 2, 3}), float_(1.5), "1.3.4"},
        {ACT_MULTIPLY, tup({100, 2, 3}), percent_(0.5), "50.1.1"},
        {ACT_DIVIDE, tup({1, 0, 3}), float_(0.0), "255.0.255"},      // 0 / 0 is a NaN: 0
        {ACT_ADD, tup({255, 255, 255}), int_(1), "255.255.255"},
        {ACT_SUBTRACT, tup({0, 0, 0}), int_(1), "0.0.0"},
        {ACT_MULTIPLY, tup({200, 1, 0}), int_(2147483647), "255.255.0"},   // overflow into a float
        {ACT_SUBTRACT, tup({1, 1, 1}), int_(INT32_MIN), "255.255.255"},
        {ACT_ADD, tup({1, 2, 3}), int_(-2), "0.0.1"},
        {ACT_AND_T, tup({255, 15, 3}), int_(6), "6.6.2"},
        {ACT_OR_T, tup({1, 2, 3}), tup({8, 8, 8, 8}), "9.10.11.8"},
        {ACT_XOR_T, tup({255, 0, 1}), int_(-1), "0.0.0"},           // clamped
        {ACT_SUBTRACT, tup({10, 10, 10}), float_(2.5), "7.7.7"},
    };
    for (const Case& c : cases) {
        Cell* r = direct(c.slot, c.left, c.right);
        EXPECT_EQ(show(r), c.result) << show(c.left) << " slot " << c.slot << " " << mold(c.right);
    }
}

// The integer! and float! dispatchers may hand over a number in the result
// slot: the operation then runs with the tuple first, if it commutes.
Cell* core(i32 op, const Cell* left, const Cell* right) {
    Cell* saved = stack::arguments;
    Cell* args = stack::push(left);
    stack::push(right);
    stack::arguments = args;
    struct Back {
        Cell* s;
        ~Back() { stack::arguments = s; }
    } back{saved};
    return actions::math_core[TYPE_TUPLE](op);
}

TEST_F(Tuples, NumberOnTheLeft) {
    EXPECT_EQ(show(core(MATH_ADD, int_(10), tup({1, 2, 3}))), "11.12.13");
    EXPECT_EQ(show(core(MATH_MULTIPLY, float_(1.5), tup({1, 2, 3}))), "1.3.4");
    EXPECT_EQ(show(core(MATH_MULTIPLY, percent_(2.0), tup({1, 2, 3}))), "2.4.6");
    for (i32 op : {MATH_SUBTRACT, MATH_DIVIDE, MATH_REMAINDER}) {
        try {
            core(op, int_(10), tup({1, 2, 3}));
            FAIL();
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "not-related");
            ASSERT_EQ(e.argc, 2);
            EXPECT_EQ(symbol::spelling(i32(e.args[0].w2)),
                      op == MATH_SUBTRACT ? "subtract" : op == MATH_DIVIDE ? "divide" : "remainder");
            EXPECT_EQ(e.args[1].w1, u32(TYPE_INTEGER)) << "the number's datatype";
        }
    }
    EXPECT_EQ(error_of([&] { core(MATH_DIVIDE, float_(1.0), tup({1, 2, 3})); }), "script not-related");
    // Through the numbers' own actions.
    EXPECT_EQ(show(direct(ACT_ADD, int_(10), tup({1, 2, 3}))), "11.12.13");
    EXPECT_EQ(show(direct(ACT_MULTIPLY, float_(1.5), tup({1, 2, 3}))), "1.3.4");
    EXPECT_EQ(error_of([&] { direct(ACT_SUBTRACT, int_(10), tup({1, 2, 3})); }), "script not-related");
}

TEST_F(Tuples, ArithmeticErrors) {
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        const char* error;
    } cases[] = {
        {ACT_DIVIDE, tup({1, 2, 3}), int_(0), "math zero-divide"},
        {ACT_REMAINDER, tup({1, 2, 3}), int_(0), "math zero-divide"},
        {ACT_DIVIDE, tup({1, 2, 3, 4}), tup({1, 1, 1}), "math zero-divide"},   // missing bytes are 0
        {ACT_AND_T, tup({1, 2, 3}), float_(1.0), "script cannot-use"},
        {ACT_XOR_T, tup({1, 2, 3}), percent_(0.5), "script cannot-use"},
        {ACT_ADD, tup({1, 2, 3}), pair_(1, 2), "script invalid-type"},
        {ACT_ADD, tup({1, 2, 3}), str("1"), "script invalid-type"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { direct(c.slot, c.left, c.right); }), c.error)
            << show(c.left) << " slot " << c.slot << " " << show(c.right);
}

TEST_F(Tuples, ComplementAndLength) {
    EXPECT_EQ(show(act<ACT_COMPLEMENT>()(tup({0, 255, 16}))), "255.0.239");
    EXPECT_EQ(show(act<ACT_COMPLEMENT>()(tup({0, 0, 0, 0, 1}))), "255.255.255.255.254") << "the length stays";
    EXPECT_EQ(act<ACT_LENGTH_Q>()(tup({1, 2, 3, 4})), 4);
    EXPECT_EQ(act<ACT_LENGTH_Q>()(tup({1})), 3);
}

TEST_F(Tuples, Random) {
    auto random = act<ACT_RANDOM>();
    for (int i = 0; i < 50; i++) {
        Cell* r = random(tup({0, 1, 200, 255}), false, i % 2, false);
        EXPECT_EQ(tuple::byte_at(r, 0), 0);
        EXPECT_LE(tuple::byte_at(r, 1), 1);
        EXPECT_LE(tuple::byte_at(r, 2), 200);
        EXPECT_EQ(tuple::length_of(r), 4);
    }
    EXPECT_EQ(TYPE_OF(random(tup({1, 2, 3}), true, false, false)), u32(TYPE_UNSET));
    std::string first = show(random(tup({255, 255, 255}), false, false, false));
    random(tup({1, 2, 3}), true, false, false);
    EXPECT_EQ(show(random(tup({255, 255, 255}), false, false, false)), first);
}

// --- Text and comparison -------------------------------------------------------------------

TEST_F(Tuples, MoldAndForm) {
    EXPECT_MOLD(tup({1, 2, 3}), "1.2.3");
    EXPECT_FORM(tup({255, 0, 0, 128}), "255.0.0.128");
    EXPECT_EQ(mold(tup({100, 200, 3}), {.part = 5}), "100.2");
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    EXPECT_EQ(actions::mold(tup({10, 2, 3}), buffer, false, false, false, nullptr, 20, 0), 14);
}

TEST_F(Tuples, Comparison) {
    auto cmp = act<ACT_COMPARE>();
    EXPECT_EQ(cmp(tup({1, 2, 3}), tup({1, 2, 3, 0}), COMP_STRICT_EQUAL), 0) << "missing bytes count as 0";
    EXPECT_EQ(cmp(tup({1, 2, 3}), tup({1, 2, 3}), COMP_EQUAL), 0);
    EXPECT_LT(cmp(tup({1, 2, 3}), tup({1, 2, 3, 1}), COMP_LESSER), 0);
    EXPECT_LT(cmp(tup({1, 2, 3}), tup({1, 3, 0}), COMP_LESSER), 0);
    EXPECT_GT(cmp(tup({2, 0, 0}), tup({1, 255, 255, 255}), COMP_GREATER), 0);
    EXPECT_EQ(cmp(tup({1, 2, 3}), int_(1), COMP_EQUAL), NOT_COMPARABLE);
    // Equal tuples find each other in a hash!, whatever their lengths.
    Cell* h = hash_({tup({1, 2, 3}), tup({4, 5, 6, 7})});
    const Cell* found = hash_table::find(h->w3, tup({4, 5, 6, 7, 0, 0}), 0, 1, COMP_EQUAL, false, false);
    EXPECT_EQ(found, block::zs_abs_at(h, 1));
    found = hash_table::find(h->w3, tup({1, 2, 3, 0}), 0, 1, COMP_EQUAL, false, false);
    EXPECT_EQ(found, block::zs_abs_at(h, 0));
}

// --- Pick, poke and path access ------------------------------------------------------------

TEST_F(Tuples, PickAndPoke) {
    auto pick = act<ACT_PICK>();
    Cell* t = tup({1, 2, 3, 4});
    EXPECT_EQ(integer::get(pick(t, 4, nullptr)), 4);
    for (i32 i : {0, 5, -1}) EXPECT_EQ(error_of([&] { pick(t, i, nullptr); }), "script out-of-range") << i;
    tuple::poke(t, 2, int_(300), int_(2));
    EXPECT_EQ(show(t), "1.255.3.4") << "clamped";
    tuple::poke(t, 2, int_(-3), int_(2));
    EXPECT_EQ(show(t), "1.0.3.4");
    tuple::poke(t, 4, none_(), int_(4));
    EXPECT_EQ(show(t), "1.0.3") << "none cuts";
    Cell* u = tup({1, 2, 3});
    tuple::poke(u, 2, none_(), int_(2));
    EXPECT_EQ(show(u), "1.0.0") << "never below 3 bytes";
    Cell* w = tup({1, 2, 3, 4, 5, 6});
    tuple::poke(w, 4, none_(), int_(4));
    EXPECT_EQ(show(w), "1.2.3");
    EXPECT_EQ(error_of([&] { tuple::poke(w, 4, int_(1), int_(4)); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { tuple::poke(w, 0, int_(1), int_(0)); }), "script out-of-range");
}

TEST_F(Tuples, PathAccess) {
    auto path = act<ACT_EVAL_PATH>();
    Cell* t = tup({1, 2, 3});
    EXPECT_EQ(integer::get(path(t, int_(3), nullptr, nullptr, nullptr, nullptr, 1, false, true, true, false)), 3);
    Cell* v = path(t, int_(1), int_(9), nullptr, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(integer::get(v), 9);
    EXPECT_EQ(show(t), "9.2.3");
    EXPECT_EQ(error_of([&] { path(t, word("x"), nullptr, nullptr, nullptr, nullptr, 1, false, true, true, false); }),
              "script invalid-type");
    EXPECT_EQ(error_of([&] { path(t, int_(4), nullptr, nullptr, nullptr, nullptr, 1, false, true, true, false); }),
              "script out-of-range");
    EXPECT_EQ(error_of([&] { path(t, int_(1), str("1"), nullptr, nullptr, nullptr, 1, false, false, true, false); }),
              "script invalid-type");
    EXPECT_EQ(error_of([&] { path(t, int_(1), float_(1), nullptr, nullptr, nullptr, 1, false, false, true, false); }),
              "script invalid-type");
    EXPECT_EQ(show(t), "9.2.3");
}

TEST_F(Tuples, AssignmentsTellTheHolder) {
    collector::RootCell owner;
    HolderReports reports;
    Cell* b = test::block({tup({1, 2, 3, 4})});
    own(b, owner.get());
    act<ACT_EVAL_PATH>()(block::zs_abs_at(b, 0), int_(4), none_(), nullptr, b, int_(1), 2, false, false, true, true);
    Cell* field = stack::push(tup({1, 2, 3}));
    act<ACT_EVAL_PATH>()(field, int_(2), int_(7), nullptr, owner.get(), word("color"), 2, false, false, true, true);
    EXPECT_EQ(reports.told, (std::vector<std::string>{"set-path [1.2.3] none 4 1", "color 1.2.3 -> 1.7.3"}));
}

// --- Reverse ------------------------------------------------------------------------------------

TEST_F(Tuples, Reverse) {
    auto reverse = act<ACT_REVERSE>();
    struct Case {
        std::initializer_list<i32> bytes;
        const Cell* part;
        const Cell* skip;
        const char* result;
    } cases[] = {
        {{1, 2, 3, 4}, nullptr, nullptr, "4.3.2.1"},
        {{1, 2, 3, 4}, int_(2), nullptr, "2.1.3.4"},
        {{1, 2, 3, 4}, int_(10), nullptr, "4.3.2.1"},
        {{1, 2, 3, 4}, int_(0), nullptr, "1.2.3.4"},
        {{1, 2, 3, 4}, nullptr, int_(2), "3.4.1.2"},
        {{1, 2, 3, 4, 5, 6}, nullptr, int_(3), "4.5.6.1.2.3"},
        {{1, 2, 3, 4, 5, 6}, int_(4), int_(2), "3.4.1.2.5.6"},
        {{1, 2, 3, 4}, nullptr, int_(4), "1.2.3.4"},
    };
    for (const Case& c : cases) {
        Cell* t = tuple::push_bytes(i32(c.bytes.size()), c.bytes.begin());
        EXPECT_EQ(show(reverse(t, c.part ? stack::push(c.part) : nullptr, c.skip ? stack::push(c.skip) : nullptr)),
                  c.result);
    }
    struct Error {
        const Cell* part;
        const Cell* skip;
        const char* error;
    } errors[] = {
        {str("2"), nullptr, "script invalid-refine-arg"},
        {int_(-1), nullptr, "script out-of-range"},
        {nullptr, float_(2), "script invalid-refine-arg"},
        {nullptr, int_(0), "script out-of-range"},
        {nullptr, int_(-2), "script out-of-range"},
        {nullptr, int_(3), "script invalid-refine-arg"},    // 4 bytes are not groups of 3
        {int_(2), int_(3), "script invalid-refine-arg"},    // a group longer than the part
    };
    for (const Error& e : errors) {
        Cell* t = tup({1, 2, 3, 4});
        Cell* part = e.part ? stack::push(e.part) : nullptr;
        Cell* skip = e.skip ? stack::push(e.skip) : nullptr;
        EXPECT_EQ(error_of([&] { reverse(t, part, skip); }), e.error);
        EXPECT_EQ(show(t), "1.2.3.4");
    }
}

}  // namespace
}  // namespace zir
