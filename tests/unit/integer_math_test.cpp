// integer!: the arithmetic core shared by every integer-based math, and the
// integer actions built on it.
#include <cmath>
#include <set>

#include "datatypes/char.hpp"
#include "datatypes/integer.hpp"
#include "evaluator/actions.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct IntegerMath : ValueTest {};

constexpr i32 MIN = INT32_MIN;
constexpr i32 MAX = INT32_MAX;

// What the core left in a result cell: an integer, or the float it overflowed into.
struct Outcome {
    bool is_float;
    double value;
};

Outcome run_core(i32 a, i32 b, i32 op) {
    Cell c;
    cell::init(&c, TYPE_INTEGER);
    i32 r = integer::do_math_op(a, b, op, &c);
    if (TYPE_OF(&c) == TYPE_FLOAT) {
        EXPECT_EQ(r, 0) << "an overflowed result answers 0";
        return {true, cell::get_float(&c)};
    }
    EXPECT_EQ(integer::get(&c), r) << "the cell and the answer agree";
    return {false, double(r)};
}

TEST_F(IntegerMath, CoreResultsAtThe32BitEdges) {
    struct Case {
        i32 a, b, op;
        bool is_float;
        double value;
    } cases[] = {
        {1, 2, MATH_ADD, false, 3},
        {MAX, 1, MATH_ADD, true, 2147483648.0},
        {MIN, -1, MATH_ADD, true, -2147483649.0},
        {MIN, MAX, MATH_ADD, false, -1},
        {MAX, MAX, MATH_ADD, true, 4294967294.0},
        {MIN, MIN, MATH_ADD, true, -4294967296.0},
        {MIN, 1, MATH_SUBTRACT, true, -2147483649.0},
        {MAX, -1, MATH_SUBTRACT, true, 2147483648.0},
        {0, MIN, MATH_SUBTRACT, true, 2147483648.0},
        {-1, MIN, MATH_SUBTRACT, false, MAX},
        {-1, MAX, MATH_SUBTRACT, false, MIN},
        {65536, 65536, MATH_MULTIPLY, true, 4294967296.0},
        {46340, 46340, MATH_MULTIPLY, false, 2147395600},
        {46341, 46341, MATH_MULTIPLY, true, 2147488281.0},
        {MIN, 1, MATH_MULTIPLY, false, MIN},
        {MIN, -1, MATH_MULTIPLY, true, 2147483648.0},
        {-1, MIN, MATH_MULTIPLY, true, 2147483648.0},
        {MIN, MIN, MATH_MULTIPLY, true, 4611686018427387904.0},
        {7, 2, MATH_DIVIDE, true, 3.5},
        {-7, 2, MATH_DIVIDE, true, -3.5},
        {6, 3, MATH_DIVIDE, false, 2},
        {-6, 3, MATH_DIVIDE, false, -2},
        {MIN, 1, MATH_DIVIDE, false, MIN},
        {MIN, -2, MATH_DIVIDE, false, 1073741824},
        {MAX, -1, MATH_DIVIDE, false, -MAX},
        {1, 3, MATH_DIVIDE, true, 1.0 / 3.0},
        {0, -5, MATH_DIVIDE, false, 0},
        {-7, 2, MATH_REMAINDER, false, -1},
        {7, -2, MATH_REMAINDER, false, 1},
        {MIN, 3, MATH_REMAINDER, false, -2},
        {MIN, MAX, MATH_REMAINDER, false, -1},
        {MAX, MIN, MATH_REMAINDER, false, MAX},
        {MAX, 1, MATH_REMAINDER, false, 0},
        {12, 10, MATH_OR, false, 14},
        {12, 10, MATH_AND, false, 8},
        {12, 10, MATH_XOR, false, 6},
        {MIN, MAX, MATH_OR, false, -1},
        {-1, MIN, MATH_AND, false, MIN},
        {-1, MAX, MATH_XOR, false, MIN},
    };
    for (const Case& c : cases) {
        Outcome o = run_core(c.a, c.b, c.op);
        EXPECT_EQ(o.is_float, c.is_float) << c.a << " op" << c.op << " " << c.b;
        EXPECT_EQ(o.value, c.value) << c.a << " op" << c.op << " " << c.b;
    }
}

TEST_F(IntegerMath, CoreWithoutCellTruncatesAndWraps) {
    struct Case {
        i32 a, b, op, expected;
    } cases[] = {
        {7, 2, MATH_DIVIDE, 3},
        {-7, 2, MATH_DIVIDE, -3},
        {7, -2, MATH_DIVIDE, -3},
        {MAX, 1, MATH_ADD, MIN},
        {MIN, 1, MATH_SUBTRACT, MAX},
        {65536, 65536, MATH_MULTIPLY, 0},
        {MIN, -1, MATH_MULTIPLY, MIN},
        {0x10001, 0x10001, MATH_MULTIPLY, 0x20001},
    };
    for (const Case& c : cases)
        EXPECT_EQ(integer::do_math_op(c.a, c.b, c.op, nullptr), c.expected) << c.a << " op" << c.op << " " << c.b;
}

TEST_F(IntegerMath, CoreKeepsTheCellHeaderForIntegersOnly) {
    // A char! result cell with the new-line flag: an integer result leaves the
    // header alone; an overflow makes the cell exactly a float!.
    Cell c;
    cell::init(&c, TYPE_CHAR);
    c.header |= FLAG_NEW_LINE;
    EXPECT_EQ(integer::do_math_op(97, 1, MATH_ADD, &c), 98);
    EXPECT_EQ(c.header, TYPE_CHAR | FLAG_NEW_LINE);
    EXPECT_EQ(c.w2, 98u);
    integer::do_math_op(MAX, 1, MATH_ADD, &c);
    EXPECT_EQ(c.header, u32(TYPE_FLOAT));
    cell::init(&c, TYPE_INTEGER);
    c.header |= FLAG_NEW_LINE;
    integer::do_math_op(7, 2, MATH_DIVIDE, &c);
    EXPECT_EQ(c.header, u32(TYPE_FLOAT)) << "an inexact quotient";
}

TEST_F(IntegerMath, CoreErrors) {
    struct Case {
        i32 a, b, op;
        const char* error;
    } cases[] = {
        {1, 0, MATH_DIVIDE, "math zero-divide"},
        {0, 0, MATH_DIVIDE, "math zero-divide"},
        {1, 0, MATH_REMAINDER, "math zero-divide"},
        {MIN, 0, MATH_REMAINDER, "math zero-divide"},
        {MIN, -1, MATH_DIVIDE, "math overflow"},
        {MIN, -1, MATH_REMAINDER, "math overflow"},
    };
    for (const Case& c : cases) {
        Cell cell;
        cell::init(&cell, TYPE_INTEGER);
        cell.w2 = 42;
        EXPECT_EQ(error_of([&] { integer::do_math_op(c.a, c.b, c.op, &cell); }), c.error) << c.a << " op" << c.op;
        EXPECT_EQ(error_of([&] { integer::do_math_op(c.a, c.b, c.op, nullptr); }), c.error) << c.a << " op" << c.op;
        EXPECT_EQ(TYPE_OF(&cell), u32(TYPE_INTEGER));
        EXPECT_EQ(cell.w2, 42u) << "a raised error leaves the cell alone";
    }
    // Neighbours of the overflowing pair are ordinary.
    EXPECT_EQ(integer::do_math_op(MIN + 1, -1, MATH_DIVIDE, nullptr), MAX);
    EXPECT_EQ(integer::do_math_op(MIN + 1, -1, MATH_REMAINDER, nullptr), 0);
    EXPECT_EQ(integer::do_math_op(MIN, 1, MATH_REMAINDER, nullptr), 0);
}

TEST(IntegerMathDeath, UnknownOperationIsAFault) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(integer::do_math_op(1, 2, 8, nullptr), ::testing::ExitedWithCode(101), "");
}

TEST_F(IntegerMath, HelpersAtTheEdges) {
    EXPECT_EQ(integer::abs(-5), 5);
    EXPECT_EQ(integer::abs(MAX), MAX);
    EXPECT_EQ(integer::abs(MIN + 1), MAX);
    EXPECT_EQ(error_of([] { integer::abs(MIN); }), "math overflow");
    EXPECT_EQ(integer::sign(MIN), -1);
    EXPECT_EQ(integer::sign(0), 0);
    EXPECT_EQ(integer::sign(7), 1);

    struct Case {
        double d;
        bool overflow;
    } cases[] = {
        {2147483647.0, false}, {2147483647.5, true},  {2147483648.0, true},   {-2147483648.0, false},
        {-2147483648.5, true}, {-2147483649.0, true}, {NAN, true},            {INFINITY, true},
        {-INFINITY, true},     {0.0, false},          {-0.999, false},
    };
    for (const Case& c : cases) EXPECT_EQ(integer::float_overflow_q(float_(c.d)), c.overflow) << c.d;
}

// --- The integer actions -------------------------------------------------------

TEST_F(IntegerMath, ActionsWithIntegerAndCharOperands) {
    // The right operand may be a char!: the result stays an integer!, unless
    // it became a float!.
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        u32 type;
        double value;
    } cases[] = {
        {ACT_ADD, int_(1), char_::push('a'), TYPE_INTEGER, 98},
        {ACT_SUBTRACT, int_(200), char_::push('a'), TYPE_INTEGER, 103},
        {ACT_MULTIPLY, int_(2), char_::push('a'), TYPE_INTEGER, 194},
        {ACT_DIVIDE, int_(194), char_::push('a'), TYPE_INTEGER, 2},
        {ACT_DIVIDE, int_(97), int_(2), TYPE_FLOAT, 48.5},
        {ACT_REMAINDER, int_(200), char_::push('a'), TYPE_INTEGER, 6},
        {ACT_OR_T, int_(0x41), char_::push(0x20), TYPE_INTEGER, 97},
        {ACT_AND_T, int_(-1), char_::push('a'), TYPE_INTEGER, 97},
        {ACT_XOR_T, int_(0x61), char_::push(0x20), TYPE_INTEGER, 65},
        {ACT_ADD, int_(MAX), char_::push('a'), TYPE_FLOAT, 2147483744.0},
        {ACT_SUBTRACT, int_(MIN), char_::push(0x10FFFF), TYPE_FLOAT, -2148597759.0},
        {ACT_MULTIPLY, int_(MIN), int_(-1), TYPE_FLOAT, 2147483648.0},
    };
    for (const Case& c : cases) {
        Cell* r = direct(c.slot, c.left, c.right);
        EXPECT_EQ(TYPE_OF(r), c.type) << mold(c.left) << " slot " << c.slot << " " << mold(c.right);
        EXPECT_EQ(TYPE_OF(r) == TYPE_FLOAT ? cell::get_float(r) : double(integer::get(r)), c.value)
            << mold(c.left) << " slot " << c.slot << " " << mold(c.right);
    }
}

TEST_F(IntegerMath, ActionErrors) {
    EXPECT_EQ(error_of([&] { direct(ACT_DIVIDE, int_(5), char_::push(0)); }), "math zero-divide");
    EXPECT_EQ(error_of([&] { direct(ACT_REMAINDER, int_(MIN), int_(-1)); }), "math overflow");
    EXPECT_EQ(error_of([&] { direct(ACT_DIVIDE, int_(MIN), int_(-1)); }), "math overflow");
    EXPECT_EQ(error_of([&] { direct(ACT_ABSOLUTE, int_(MIN)); }), "math overflow");
    auto negate = reinterpret_cast<action::Unary>(actions::lookup(TYPE_INTEGER, ACT_NEGATE));
    EXPECT_EQ(error_of([&] { negate(int_(MIN)); }), "math overflow");
    EXPECT_EQ(integer::get(negate(int_(MAX))), MIN + 1);
    EXPECT_EQ(integer::get(negate(int_(0))), 0);
    EXPECT_EQ(integer::get(direct(ACT_ABSOLUTE, int_(-7))), 7);
    EXPECT_EQ(error_of([&] { direct(ACT_ADD, int_(1), none_()); }), "script invalid-type");
    EXPECT_EQ(error_of([&] { direct(ACT_AND_T, int_(1), str("1")); }), "script invalid-type");
}

TEST_F(IntegerMath, EvenOddAndRandom) {
    auto even = reinterpret_cast<action::Predicate>(actions::lookup(TYPE_INTEGER, ACT_EVEN_Q));
    auto odd = reinterpret_cast<action::Predicate>(actions::lookup(TYPE_INTEGER, ACT_ODD_Q));
    for (i32 v : {MIN, -3, -2, 0, 1, MAX}) {
        EXPECT_EQ(even(int_(v)), v % 2 == 0) << v;
        EXPECT_EQ(odd(int_(v)), v % 2 != 0) << v;
    }

    auto random = reinterpret_cast<action::Random>(actions::lookup(TYPE_INTEGER, ACT_RANDOM));
    EXPECT_EQ(integer::get(random(int_(0), false, false, false)), 0);
    std::set<i32> seen;
    for (int i = 0; i < 200; i++) {
        i32 v = integer::get(random(int_(-3), false, false, false));
        EXPECT_TRUE(v >= -3 && v <= -1) << v;
        seen.insert(v);
        v = integer::get(random(int_(MIN), false, i % 2 == 0, false));
        EXPECT_LT(v, 0);
    }
    EXPECT_EQ(seen.size(), 3u) << "every value of the range comes up";

    // Seeding answers unset and replays the same draws.
    EXPECT_EQ(TYPE_OF(random(int_(42), true, false, false)), u32(TYPE_UNSET));
    i32 first = integer::get(random(int_(1000000), false, false, false));
    random(int_(42), true, false, false);
    EXPECT_EQ(integer::get(random(int_(1000000), false, false, false)), first);
}

}  // namespace
}  // namespace zir
