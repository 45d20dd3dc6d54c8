// pair!: integer coordinates whose arithmetic moves to point2D! when a result
// leaves the integers, path access that tells the pair's holder, ordering by
// x then y, and the errors of each action.
#include <cmath>
#include <functional>
#include <map>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

template <u32 S>
typename datatype::SlotSig<S>::type act() {
    return action_of<S>(TYPE_PAIR);
}

Cell* pt(float x, float y) { return point2D::push(x, y); }

// A value as "x y" for a pair and "(x, y)" for a point, exactly.
std::string show(const Cell* c) {
    if (TYPE_OF(c) == TYPE_PAIR) return std::to_string(pair::x_of(c)) + "x" + std::to_string(pair::y_of(c));
    if (TYPE_OF(c) == TYPE_POINT2D) {
        char text[64];
        std::snprintf(text, sizeof text, "(%.9g, %.9g)", double(point2D::x_of(c)), double(point2D::y_of(c)));
        return text;
    }
    return std::string("a ") + datatype::name_of(TYPE_OF(c));
}

struct Pairs : ValueTest {};

// --- Arithmetic -------------------------------------------------------------------

TEST_F(Pairs, Arithmetic) {
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        const char* result;
    } cases[] = {
        {ACT_MULTIPLY, pair_(10, 20), float_(1.5), "(15, 30)"},        // a float scales into a point
        {ACT_MULTIPLY, pair_(10, 20), int_(2), "20x40"},
        {ACT_DIVIDE, pair_(3, 3), int_(2), "(1.5, 1.5)"},               // not exact: a point
        {ACT_DIVIDE, pair_(4, 6), int_(2), "2x3"},
        {ACT_DIVIDE, pair_(4, 7), pair_(2, 2), "(2, 3.5)"},
        {ACT_ADD, pair_(2147483647, 0), pair_(1, 0), "(2.14748365e+09, 0)"},   // never a wrapped pair
        {ACT_MULTIPLY, pair_(65536, 1), int_(65536), "(4.2949673e+09, 65536)"},
        {ACT_ADD, pair_(1, 2), int_(1), "2x3"},
        {ACT_SUBTRACT, pair_(1, 2), pair_(3, -4), "-2x6"},
        {ACT_REMAINDER, pair_(7, -7), int_(3), "1x-1"},
        {ACT_ADD, pair_(1, 2), float_(2.9), "3x4"},                      // other ops truncate the float
        {ACT_SUBTRACT, pair_(1, 2), float_(-1.5), "2x3"},
        {ACT_REMAINDER, pair_(7, 9), percent_(4.2), "3x1"},
        {ACT_ADD, pair_(1, 1), float_(3e9), "(3e+09, 3e+09)"},          // no pair holds the operand
        {ACT_MULTIPLY, pair_(1, 2), percent_(0.5), "(0.5, 1)"},
        {ACT_DIVIDE, pair_(1, -2), float_(0.0), "(inf, -inf)"},
        {ACT_DIVIDE, pair_(1, -2), float_(INFINITY), "(0, -0)"},
        {ACT_ADD, pair_(1, 2), pt(0.5f, 1.5f), "(1.5, 3.5)"},
        {ACT_MULTIPLY, pair_(2, 3), pt(0.5f, 2), "(1, 6)"},
        {ACT_AND_T, pair_(12, 10), int_(6), "4x2"},
        {ACT_OR_T, pair_(12, 10), pair_(1, 1), "13x11"},
        {ACT_XOR_T, pair_(12, 10), float_(6.9), "10x12"},
    };
    for (const Case& c : cases) {
        Cell* r = direct(c.slot, c.left, c.right);
        EXPECT_EQ(show(r), c.result) << show(c.left) << " slot " << c.slot << " " << show(c.right);
    }
}

TEST_F(Pairs, ArithmeticErrors) {
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        const char* error;
    } cases[] = {
        {ACT_DIVIDE, pair_(1, 2), int_(0), "math zero-divide"},
        {ACT_DIVIDE, pair_(1, 2), pair_(1, 0), "math zero-divide"},
        {ACT_REMAINDER, pair_(1, 2), pair_(0, 1), "math zero-divide"},
        {ACT_REMAINDER, pair_(1, 2), float_(0.5), "math zero-divide"},     // truncated to 0
        {ACT_DIVIDE, pair_(INT32_MIN, 0), int_(-1), "math overflow"},
        {ACT_MULTIPLY, pair_(1, 2), float_(NAN), "script invalid-arg"},
        {ACT_MULTIPLY, pair_(1, 2), float_(INFINITY), "script invalid-arg"},
        {ACT_DIVIDE, pair_(1, 2), float_(NAN), "script invalid-arg"},
        {ACT_ADD, pair_(1, 2), float_(-INFINITY), "script invalid-arg"},
        {ACT_REMAINDER, pair_(1, 2), float_(NAN), "script invalid-arg"},
        {ACT_ADD, pair_(1, 2), str("1"), "script invalid-type"},
        {ACT_ADD, pair_(1, 2), none_(), "script invalid-type"},
        {ACT_ADD, pair_(1, 2), point3D::push(1, 2, 3), "script invalid-type"},
        {ACT_AND_T, pair_(1, 2), pt(1, 2), "script cannot-use"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { direct(c.slot, c.left, c.right); }), c.error)
            << show(c.left) << " slot " << c.slot << " " << show(c.right);
}

// The integer! and float! dispatchers reach the core through the table, with
// the pair in the result slot.
TEST_F(Pairs, MathCoreIsInTheTable) {
    ASSERT_EQ(actions::math_core[TYPE_PAIR], pair::do_math_op);
    Cell* saved = stack::arguments;
    Cell* args = stack::push(pair_(10, 20));
    stack::push(int_(5));
    stack::arguments = args;
    Cell* r = actions::math_core[TYPE_PAIR](MATH_ADD);
    stack::arguments = saved;
    EXPECT_EQ(show(r), "15x25");
}

// A number on the left: its dispatcher swaps the operands and hands the pair
// to this core.
TEST_F(Pairs, NumberOnTheLeft) {
    EXPECT_EQ(show(direct(ACT_SUBTRACT, int_(10), pair_(1, 2))), "9x8");
    EXPECT_EQ(show(direct(ACT_MULTIPLY, int_(3), pair_(1, 2))), "3x6");
    EXPECT_EQ(show(direct(ACT_MULTIPLY, float_(1.5), pair_(10, 20))), "(15, 30)");
    EXPECT_EQ(show(direct(ACT_ADD, float_(0.5), pair_(1, 2))), "1x2");
    EXPECT_EQ(error_of([&] { direct(ACT_DIVIDE, int_(10), pair_(1, 2)); }), "script not-related");
    EXPECT_EQ(error_of([&] { direct(ACT_SUBTRACT, int_(1), pair_(INT32_MIN, 0)); }), "math overflow");
}

TEST_F(Pairs, AbsoluteNegateAndReverse) {
    EXPECT_EQ(show(direct(ACT_ABSOLUTE, pair_(-3, 4))), "3x4");
    EXPECT_EQ(show(act<ACT_NEGATE>()(pair_(1, -2))), "-1x2");
    EXPECT_EQ(show(act<ACT_NEGATE>()(pair_(0, INT32_MAX))), "0x-2147483647");
    EXPECT_EQ(show(act<ACT_REVERSE>()(pair_(1, 2), nullptr, nullptr)), "2x1");
    // -2147483648 has no positive: both raise, and neither wraps.
    for (const Cell* p : {pair_(INT32_MIN, 0), pair_(0, INT32_MIN)}) {
        EXPECT_EQ(error_of([&] { direct(ACT_ABSOLUTE, p); }), "math overflow") << show(p);
        Cell* copy = stack::push(p);
        EXPECT_EQ(error_of([&] { act<ACT_NEGATE>()(copy); }), "math overflow") << show(p);
        EXPECT_EQ(show(copy), show(p)) << "left as it was";
    }
}

TEST_F(Pairs, Round) {
    auto round = act<ACT_ROUND>();
    struct Case {
        const Cell* value;
        const Cell* scale;
        bool floor, ceiling, even;
        const char* result;
    } cases[] = {
        {pair_(17, 23), pair_(5, 10), false, false, false, "15x20"},
        {pair_(17, 25), int_(10), false, false, false, "20x30"},       // halves away from zero
        {pair_(-17, -25), int_(10), false, false, false, "-20x-30"},
        {pair_(15, 25), int_(10), false, false, true, "20x20"},        // /even
        {pair_(17, -17), int_(10), true, false, false, "10x-20"},      // /floor
        {pair_(11, -11), int_(10), false, true, false, "20x-10"},      // /ceiling
        {pair_(17, 23), pair_(0, 10), false, false, false, "17x20"},   // a zero unit leaves it
        {pair_(7, 8), float_(2.5), false, false, false, "7x7"},        // 7.5 truncated; 7.5 again
        {pair_(7, 8), nullptr, false, false, false, "7x8"},
    };
    for (const Case& c : cases) {
        Cell* v = stack::push(c.value);
        Cell* s = c.scale ? stack::push(c.scale) : nullptr;
        EXPECT_EQ(show(round(v, s, c.even, false, false, c.floor, c.ceiling, false)), c.result)
            << show(c.value) << " " << (c.scale ? show(c.scale) : "no scale");
    }
    EXPECT_EQ(error_of([&] { round(pair_(INT32_MAX, 0), int_(10), false, false, false, false, false, false); }),
              "math overflow");
    Cell money;
    cell::init(&money, TYPE_MONEY);
    EXPECT_EQ(error_of([&] { round(pair_(1, 2), &money, false, false, false, false, false, false); }),
              "script not-related");
}

TEST_F(Pairs, Random) {
    auto random = act<ACT_RANDOM>();
    for (int i = 0; i < 50; i++) {
        Cell* r = random(pair_(10, -3), false, false, false);
        EXPECT_TRUE(pair::x_of(r) >= 1 && pair::x_of(r) <= 10) << show(r);
        EXPECT_TRUE(pair::y_of(r) <= -1 && pair::y_of(r) >= -3) << show(r);
        EXPECT_EQ(show(random(pair_(0, 0), false, i % 2, false)), "0x0");
    }
    Cell* seeded = random(pair_(5, 6), true, false, false);
    EXPECT_EQ(TYPE_OF(seeded), u32(TYPE_UNSET));
    std::string first = show(random(pair_(1000, 1000), false, false, false));
    random(pair_(5, 6), true, false, false);
    EXPECT_EQ(show(random(pair_(1000, 1000), false, false, false)), first) << "the same seed, the same draws";
}

// --- make and to --------------------------------------------------------------------

TEST_F(Pairs, MakeAndTo) {
    struct Case {
        const Cell* spec;
        const char* result;
    } cases[] = {
        {int_(7), "7x7"},
        {float_(-2.9), "-2x-2"},
        {test::block({int_(1), int_(2), int_(3)}), "1x2"},
        {test::block({float_(1.9), int_(-2)}), "1x-2"},
        {pt(2.7f, -3.9f), "2x-3"},
        {pair_(4, 5), "4x5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(convert(TYPE_PAIR, c.spec, ACT_MAKE)), c.result);
        EXPECT_EQ(show(convert(TYPE_PAIR, c.spec)), c.result);
    }
}

TEST_F(Pairs, MakeErrors) {
    struct Case {
        const Cell* spec;
        const char* error;
    } cases[] = {
        {test::block({int_(1)}), "syntax malconstruct"},
        {test::block({int_(1), str("2")}), "syntax malconstruct"},
        {test::block({}), "syntax malconstruct"},
        {pt(INFINITY, 1), "script invalid-arg"},
        {pt(1, NAN), "script invalid-arg"},
        {pt(3e9f, 1), "script invalid-arg"},                // no 32-bit integer part
        {float_(1e10), "script out-of-range"},
        {float_(NAN), "script out-of-range"},
        {test::block({float_(-3e9), int_(1)}), "script out-of-range"},
        {none_(), "script bad-to-arg"},
        {logic_(true), "script bad-to-arg"},
        {str("1x2"), ""},                                    // loaded by the lexer
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { convert(TYPE_PAIR, c.spec, ACT_MAKE); }),
                  c.error)
            << show(c.spec);
}

TEST_F(Pairs, TextLoadsOnePair) {
    auto make = [](const char* text) { return convert(TYPE_PAIR, str(text)); };
    EXPECT_EQ(show(make("1x2")), "1x2");
    for (const char* text : {"1x2 3x4", "(1, 2)", ""})
        EXPECT_EQ(error_of([&] { make(text); }), "script bad-to-arg") << '"' << text << '"';
}

// --- Text ------------------------------------------------------------------------------

TEST_F(Pairs, MoldAndForm) {
    EXPECT_MOLD(pair_(10, 20), "10x20");
    EXPECT_MOLD(pair_(10, -20), "10x-20");
    EXPECT_FORM(pair_(INT32_MIN, INT32_MAX), "-2147483648x2147483647");
    EXPECT_EQ(mold(pair_(123, 456), {.part = 5}), "123x4");
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    EXPECT_EQ(actions::mold(pair_(-1, 22), buffer, false, false, false, nullptr, 10, 0), 5);
}

// --- Comparison -----------------------------------------------------------------------------

TEST_F(Pairs, Comparison) {
    auto cmp = act<ACT_COMPARE>();
    EXPECT_LT(cmp(pair_(1, 9), pair_(2, 0), COMP_LESSER), 0) << "x decides";
    EXPECT_LT(cmp(pair_(1, 1), pair_(1, 2), COMP_LESSER), 0) << "then y";
    EXPECT_GT(cmp(pair_(INT32_MAX, 0), pair_(-1, 0), COMP_GREATER), 0) << "signed";
    EXPECT_EQ(cmp(pair_(3, 4), pair_(3, 4), COMP_EQUAL), 0);
    EXPECT_EQ(cmp(pair_(3, 4), pair_(3, 4), COMP_STRICT_EQUAL), 0);
    EXPECT_NE(cmp(pair_(3, 4), pair_(4, 3), COMP_EQUAL), 0);
    EXPECT_EQ(cmp(pair_(3, 4), pt(3, 4), COMP_EQUAL), 0) << "a point compares the pair as a point";
    EXPECT_LT(cmp(pair_(3, 4), pt(3, 4.5f), COMP_LESSER), 0);
    EXPECT_EQ(cmp(pair_(3, 4), int_(3), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_TRUE(actions::compare(pair_(1, 2), pair_(1, 2), COMP_SAME));
    EXPECT_EQ(error_of([&] { actions::compare(pair_(1, 2), int_(1), COMP_LESSER); }), "script invalid-compare");
}

// --- Path access and pick -----------------------------------------------------------------

Cell* path_of(std::initializer_list<const Cell*> items) { return test::block(items, TYPE_PATH); }

TEST_F(Pairs, PathAccess) {
    auto path = act<ACT_EVAL_PATH>();
    Cell* p = pair_(3, 4);
    Cell* at = path_of({word("p"), word("x")});
    auto get = [&](const Cell* e) {
        return path(p, stack::push(e), nullptr, at, nullptr, nullptr, 1, false, true, true, false);
    };
    EXPECT_EQ(integer::get(get(word("x"))), 3);
    EXPECT_EQ(integer::get(get(word("Y"))), 4) << "words are case-insensitive";
    EXPECT_EQ(integer::get(get(int_(2))), 4);
    EXPECT_EQ(TYPE_OF(get(int_(1))), u32(TYPE_INTEGER));
    Cell* v = path(p, word("y"), int_(-7), at, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(integer::get(v), -7) << "the new value is answered";
    EXPECT_EQ(show(p), "3x-7") << "changed in place";
    path(p, int_(1), int_(9), at, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(show(p), "9x-7");

    for (const Cell* bad : {word("z"), int_(3), int_(0), str("x"), float_(1.0)})
        EXPECT_EQ(error_of([&] { get(bad); }), "script invalid-path") << show(bad);
    EXPECT_EQ(error_of([&] { path(p, word("x"), float_(3.5), at, nullptr, nullptr, 1, false, false, true, false); }),
              "script invalid-type");
    EXPECT_EQ(error_of([&] { path(p, word("x"), none_(), at, nullptr, nullptr, 1, false, false, true, false); }),
              "script invalid-type");
    EXPECT_EQ(show(p), "9x-7");
    try {
        get(word("z"));
        FAIL();
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 2);
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_PATH)) << "the path, then the element";
        EXPECT_EQ(TYPE_OF(&e.args[1]), u32(TYPE_WORD));
    }
}

TEST_F(Pairs, Pick) {
    auto pick = act<ACT_PICK>();
    Cell* p = pair_(3, 4);
    EXPECT_EQ(integer::get(pick(p, 1, nullptr)), 3);
    EXPECT_EQ(integer::get(pick(p, 2, int_(2))), 4);
    EXPECT_EQ(integer::get(pick(p, 0, word("y"))), 4);
    EXPECT_EQ(error_of([&] { pick(p, 3, int_(3)); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { pick(p, 0, nullptr); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { pick(p, 0, word("z")); }), "script cannot-use") << "a word the pair lacks";
}

// A path assignment into a pair held by a block tells the block's owner; one
// held by an object tells the object.
struct PairHolders : Pairs {
    collector::RootCell owner;
};

TEST_F(PairHolders, AssignmentsTellTheHolder) {
    HolderReports reports;
    reports.clear_holder = true;
    auto& told = reports.told;
    auto path = act<ACT_EVAL_PATH>();
    Cell* b = test::block({int_(0), pair_(1, 2)});
    own(b, owner.get());
    Cell* in_block = block::zs_abs_at(b, 1);
    Cell* answer = path(in_block, word("x"), int_(5), nullptr, b, int_(2), 2, false, false, true, true);
    EXPECT_EQ(integer::get(answer), 5);
    EXPECT_EQ(told, std::vector<std::string>{"set-path [0 5x2] 5 1 1"});
    EXPECT_MOLD(b, "[]") << "the handler emptied the block afterwards";

    told.clear();
    Cell* field = stack::push(pair_(7, 8));
    path(field, int_(2), int_(0), nullptr, owner.get(), word("size"), 2, false, false, true, true);
    EXPECT_EQ(told, std::vector<std::string>{"size 7x8 -> 7x0"});
    EXPECT_EQ(show(field), "7x0");

    told.clear();
    Cell* quiet = stack::push(pair_(7, 8));
    path(quiet, int_(2), int_(1), nullptr, owner.get(), word("size"), 2, false, false, true, false);
    Cell* unowned = test::block({pair_(1, 1)});
    path(block::zs_abs_at(unowned, 0), int_(1), int_(3), nullptr, unowned, int_(1), 2, false, false, true, true);
    EXPECT_TRUE(told.empty()) << "without the flag, or without an owner, nobody is told";
    EXPECT_MOLD(unowned, "[3x1]");

    // A holder inside another block: its cell lies in a buffer that the
    // collection in the handler moves.
    told.clear();
    reports.clear_holder = false;
    Cell* outer = test::block({int_(0), test::block({pair_(1, 2)})});
    own(outer, owner.get());
    Cell* inner = block::zs_abs_at(outer, 1);
    path(block::zs_abs_at(inner, 0), word("y"), int_(9), nullptr, inner, int_(1), 3, false, false, true, true);
    EXPECT_EQ(told, std::vector<std::string>{"set-path [1x9] 9 2 1"});
}

}  // namespace
}  // namespace zir
