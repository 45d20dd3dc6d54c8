// point2D! and point3D!: single-precision components computed in doubles,
// the text of a coordinate, tolerant and exact equality, path access that
// tells the point's holder, and the errors of each action.
#include <cfloat>
#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

template <u32 S>
typename datatype::SlotSig<S>::type act(u32 type) {
    return action_of<S>(type);
}

Cell* p2(float x, float y) { return point2D::push(x, y); }
Cell* p3(float x, float y, float z) { return point3D::push(x, y, z); }
float next_up(float f, int n) {
    while (n-- > 0) f = std::nextafter(f, INFINITY);
    return f;
}

// Exact components, for checking arithmetic.
std::string show(const Cell* c) {
    char text[96];
    switch (TYPE_OF(c)) {
        case TYPE_POINT2D:
            std::snprintf(text, sizeof text, "(%.9g, %.9g)", double(point2D::x_of(c)), double(point2D::y_of(c)));
            return text;
        case TYPE_POINT3D:
            std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", double(point3D::x_of(c)),
                          double(point3D::y_of(c)), double(point3D::z_of(c)));
            return text;
        case TYPE_FLOAT:
            std::snprintf(text, sizeof text, "%.9g", cell::get_float(c));
            return text;
        default:
            return std::string("a ") + datatype::name_of(TYPE_OF(c));
    }
}

struct Points : ValueTest {};

// --- Coordinates as text ----------------------------------------------------------

// A component is written as float! writes a point's coordinate.
TEST_F(Points, CoordinateText) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {double(0.1f), "0.1"},          // at most 7 digits: not 0.100000001
        {double(0.2f), "0.2"},
        {1.0, "1"},
        {-2.5, "-2.5"},
        {1234567.0, "1234567"},
        {12345678.0, "1.234568e7"},
        {1e20, "1e20"},
        {1.5e-7, "1.5e-7"},
        {0.0001, "0.0001"},
        {2.3e-16, "2.3e-16"},
        {1e-17, "0"},                   // below the double epsilon
        {-0.0, "0"},
        {double(FLT_MAX), "3.402823e38"},
        {INFINITY, "1.#INF"},
        {-INFINITY, "-1.#INF"},
        {NAN, "1.#NaN"},
    };
    for (const Case& c : cases) EXPECT_STREQ(float_::format(c.value, float_::FORMAT_POINT), c.text) << c.value;
}

TEST_F(Points, MoldAndForm) {
    EXPECT_MOLD(p2(0.1f, 0.2f), "(0.1, 0.2)");
    EXPECT_FORM(p2(1, -2.5f), "(1, -2.5)");
    EXPECT_MOLD(p3(1, 2, 3), "(1, 2, 3)");
    EXPECT_MOLD(p2(INFINITY, NAN), "(1.#INF, 1.#NaN)");
    EXPECT_EQ(mold(p2(10, 20), {.part = 4}), "(10,");
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    EXPECT_EQ(actions::mold(p3(1, 2, 3), buffer, false, false, false, nullptr, 100, 0), 91);
}

TEST_F(Points, SinglesFromDoubles) {
    EXPECT_EQ(point::to_single(double(FLT_MAX)), FLT_MAX);
    EXPECT_EQ(point::to_single(double(FLT_MAX) * (1 + 1e-9)), FLT_MAX) << "within half a unit: rounds down";
    EXPECT_EQ(point::to_single(1e39), INFINITY);
    EXPECT_EQ(point::to_single(-1e300), -INFINITY);
    EXPECT_TRUE(std::isnan(point::to_single(NAN)));
    EXPECT_EQ(point::to_single(0.1), 0.1f);
}

// --- make and to ----------------------------------------------------------------------

TEST_F(Points, MakeAndTo) {
    struct Case {
        u32 type;
        const Cell* spec;
        const char* result;
    } cases[] = {
        {TYPE_POINT2D, int_(3), "(3, 3)"},
        {TYPE_POINT2D, pair_(2, 5), "(2, 5)"},
        {TYPE_POINT2D, test::block({int_(1), test::float_(2.5)}), "(1, 2.5)"},
        {TYPE_POINT2D, test::block({int_(1), int_(2), str("more")}), "(1, 2)"},
        {TYPE_POINT2D, test::float_(0.1), "(0.100000001, 0.100000001)"},
        {TYPE_POINT2D, test::float_(1e300), "(inf, inf)"},
        {TYPE_POINT2D, p2(4, 5), "(4, 5)"},
        {TYPE_POINT3D, int_(-1), "(-1, -1, -1)"},
        {TYPE_POINT3D, test::block({int_(1), int_(2), test::float_(3.5)}), "(1, 2, 3.5)"},
        {TYPE_POINT3D, pair_(2, 5), "(2, 5, 0)"},
        {TYPE_POINT3D, p2(4, 5), "(4, 5, 0)"},
        {TYPE_POINT3D, p3(4, 5, 6), "(4, 5, 6)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(convert(c.type, c.spec, ACT_MAKE)), c.result);
        EXPECT_EQ(show(convert(c.type, c.spec)), c.result);
    }
}

TEST_F(Points, MakeErrors) {
    struct Case {
        u32 type;
        const Cell* spec;
        const char* error;
    } cases[] = {
        {TYPE_POINT2D, test::block({int_(1)}), "syntax malconstruct"},
        {TYPE_POINT2D, test::block({int_(1), none_()}), "syntax malconstruct"},
        {TYPE_POINT3D, test::block({int_(1), int_(2)}), "syntax malconstruct"},
        {TYPE_POINT2D, none_(), "script bad-to-arg"},
        {TYPE_POINT2D, p3(1, 2, 3), "script bad-to-arg"},
        {TYPE_POINT3D, logic_(true), "script bad-to-arg"},
        {TYPE_POINT2D, str("(1, 2)"), ""},                    // loaded by the lexer
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { convert(c.type, c.spec, ACT_MAKE); }), c.error)
            << datatype::name_of(c.type) << " " << show(c.spec);
}

TEST_F(Points, TextLoadsOnePoint) {
    auto make = [](u32 type, const char* text) { return convert(type, str(text)); };
    EXPECT_EQ(show(make(TYPE_POINT2D, "(1, 2)")), "(1, 2)");
    EXPECT_EQ(show(make(TYPE_POINT3D, "(1, 2, 3)")), "(1, 2, 3)");
    EXPECT_EQ(error_of([&] { make(TYPE_POINT2D, "(1, 2, 3)"); }), "script bad-to-arg");
    EXPECT_EQ(error_of([&] { make(TYPE_POINT3D, "(1, 2)"); }), "script bad-to-arg");
}

// --- Arithmetic -----------------------------------------------------------------------

TEST_F(Points, Arithmetic) {
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        const char* result;
    } cases[] = {
        {ACT_ADD, p2(1, 2), pair_(1, 1), "(2, 3)"},
        {ACT_MULTIPLY, p2(1, 2), percent_(0.5), "(0.5, 1)"},
        {ACT_ADD, p2(1, 2), int_(3), "(4, 5)"},
        {ACT_SUBTRACT, p2(1, 2), p2(0.5f, 4), "(0.5, -2)"},
        {ACT_MULTIPLY, p2(3, 4), p2(2, 0.5f), "(6, 2)"},
        {ACT_DIVIDE, p2(1, -1), int_(0), "(inf, -inf)"},
        {ACT_DIVIDE, p2(2, 3), test::float_(0.0), "(inf, inf)"},
        {ACT_REMAINDER, p2(7.5f, -7.5f), int_(2), "(1.5, -1.5)"},
        {ACT_REMAINDER, p2(7, 7), test::float_(INFINITY), "(7, 7)"},
        {ACT_ADD, p2(1, 1), test::float_(0.1), "(1.10000002, 1.10000002)"},
        // A float scalar multiplies and divides in single precision.
        {ACT_MULTIPLY, p2(3, 1), test::float_(0.1), "(0.300000012, 0.100000001)"},
        {ACT_DIVIDE, p2(1, 3), test::float_(3.0), "(0.333333343, 1)"},
        {ACT_MULTIPLY, p2(FLT_MAX, 1), int_(2), "(inf, 2)"},
        {ACT_ADD, p3(1, 2, 3), p3(1, 1, 1), "(2, 3, 4)"},
        {ACT_MULTIPLY, p3(1, 2, 3), percent_(2.0), "(2, 4, 6)"},
        {ACT_SUBTRACT, p3(1, 2, 3), int_(1), "(0, 1, 2)"},
    };
    for (const Case& c : cases) {
        Cell* r = direct(c.slot, c.left, c.right);
        EXPECT_EQ(show(r), c.result) << show(c.left) << " slot " << c.slot << " " << show(c.right);
    }
    Cell* r = direct(ACT_DIVIDE, p2(0, 1), int_(0));
    EXPECT_TRUE(std::isnan(point2D::x_of(r))) << "0 / 0: no error, a NaN";
}

TEST_F(Points, NumberOnTheLeft) {
    EXPECT_EQ(show(direct(ACT_MULTIPLY, int_(2), p2(1, 2.5f))), "(2, 5)");
    EXPECT_EQ(show(direct(ACT_SUBTRACT, int_(10), p3(1, 2, 3))), "(9, 8, 7)");
    EXPECT_EQ(show(direct(ACT_ADD, test::float_(0.5), p2(1, 2))), "(1.5, 2.5)");
    EXPECT_EQ(error_of([&] { direct(ACT_DIVIDE, int_(1), p2(1, 2)); }), "script not-related");
}

TEST_F(Points, ArithmeticErrors) {
    struct Case {
        const Cell* left;
        i32 op;
        const Cell* right;
        const char* error;
    } cases[] = {
        {p2(1, 2), MATH_ADD, str("1"), "script invalid-type"},
        {p2(1, 2), MATH_ADD, p3(1, 2, 3), "script invalid-type"},
        {p3(1, 2, 3), MATH_ADD, pair_(1, 2), "script invalid-type"},
        {p3(1, 2, 3), MATH_ADD, p2(1, 2), "script invalid-type"},
        {p2(1, 2), MATH_AND, int_(1), "script cannot-use"},
        {p3(1, 2, 3), MATH_XOR, p3(1, 2, 3), "script cannot-use"},
    };
    for (const Case& c : cases) {
        u32 t = TYPE_OF(c.left);
        EXPECT_EQ(error_of([&] {
                      Cell* saved = stack::arguments;
                      Cell* args = stack::push(c.left);
                      stack::push(c.right);
                      stack::arguments = args;
                      struct Back {
                          Cell* s;
                          ~Back() { stack::arguments = s; }
                      } back{saved};
                      actions::math_core[t](c.op);
                  }),
                  c.error)
            << show(c.left) << " op " << c.op << " " << show(c.right);
    }
    for (u32 t : {TYPE_POINT2D, TYPE_POINT3D})
        for (u32 slot : {ACT_AND_T, ACT_OR_T, ACT_XOR_T, ACT_POWER, ACT_EVEN_Q, ACT_ODD_Q, ACT_APPEND, ACT_LENGTH_Q})
            EXPECT_EQ(actions::lookup(t, slot), nullptr) << datatype::name_of(t) << " slot " << slot;
}

TEST_F(Points, OtherActions) {
    EXPECT_EQ(show(direct(ACT_ABSOLUTE, p2(-1, 2))), "(1, 2)");
    EXPECT_EQ(show(direct(ACT_ABSOLUTE, p3(-1, -0.0f, 3))), "(1, 0, 3)");
    Cell* n = act<ACT_NEGATE>(TYPE_POINT2D)(p2(0, 2));
    EXPECT_EQ(show(n), "(0, -2)");
    EXPECT_FALSE(std::signbit(point2D::x_of(n))) << "0 stays +0";
    EXPECT_EQ(show(act<ACT_NEGATE>(TYPE_POINT3D)(p3(1, 0, -3))), "(-1, 0, 3)");
    EXPECT_EQ(show(act<ACT_REVERSE>(TYPE_POINT2D)(p2(1, 2), nullptr, nullptr)), "(2, 1)");
    EXPECT_EQ(show(act<ACT_REVERSE>(TYPE_POINT3D)(p3(1, 2, 3), nullptr, nullptr)), "(3, 2, 1)");
}

TEST_F(Points, Round) {
    auto round2 = act<ACT_ROUND>(TYPE_POINT2D);
    auto round3 = act<ACT_ROUND>(TYPE_POINT3D);
    struct Case {
        const Cell* value;
        const Cell* scale;
        bool floor;
        const char* result;
    } cases[] = {
        {p2(1.4f, 2.5f), nullptr, false, "(1, 3)"},
        {p2(-1.5f, 2.6f), nullptr, true, "(-2, 2)"},
        {p2(17, 23), pair_(5, 10), false, "(15, 20)"},            // a unit per component
        {p2(1.3f, 1.3f), p2(0.5f, 0.25f), false, "(1.5, 1.25)"},
        {p2(1.3f, 7), test::float_(0.5), false, "(1.5, 7)"},      // one unit for both
        {p2(1e30f, 2), int_(1), false, "(1.00000002e+30, 2)"},    // no integer limit
        {p3(1.3f, 1.3f, 2.6f), p2(0.5f, 0.25f), false, "(1.5, 1.25, 3)"},   // z: no unit given
        {p3(17, 23, 1.4f), p3(5, 10, 0.5f), false, "(15, 20, 1.5)"},
    };
    for (const Case& c : cases) {
        Cell* v = stack::push(c.value);
        Cell* s = c.scale ? stack::push(c.scale) : nullptr;
        auto round = TYPE_OF(v) == TYPE_POINT2D ? round2 : round3;
        EXPECT_EQ(show(round(v, s, false, false, false, c.floor, false, false)), c.result) << show(c.value);
    }
    Cell money;
    cell::init(&money, TYPE_MONEY);
    EXPECT_EQ(error_of([&] { round2(p2(1, 2), &money, false, false, false, false, false, false); }),
              "script not-related");
}

TEST_F(Points, Random) {
    auto random = act<ACT_RANDOM>(TYPE_POINT3D);
    for (int i = 0; i < 50; i++) {
        Cell* r = random(p3(10, -2, 0), false, i % 2, false);
        EXPECT_TRUE(point3D::x_of(r) >= 0 && point3D::x_of(r) <= 10) << show(r);
        EXPECT_TRUE(point3D::y_of(r) <= 0 && point3D::y_of(r) >= -2) << show(r);
        EXPECT_EQ(point3D::z_of(r), 0.0f) << "a zero component stays 0";
    }
    auto random2 = act<ACT_RANDOM>(TYPE_POINT2D);
    EXPECT_EQ(TYPE_OF(random2(p2(1, 2), true, false, false)), u32(TYPE_UNSET));
    std::string first = show(random2(p2(100, 100), false, false, false));
    random2(p2(1, 2), true, false, false);
    EXPECT_EQ(show(random2(p2(100, 100), false, false, false)), first) << "the same seed, the same draws";
    random2(p2(1, 3), true, false, false);
    EXPECT_NE(show(random2(p2(100, 100), false, false, false)), first) << "the seed hashes the components";
}

// --- Comparison ---------------------------------------------------------------------------

TEST_F(Points, Comparison) {
    auto cmp2 = act<ACT_COMPARE>(TYPE_POINT2D);
    auto cmp3 = act<ACT_COMPARE>(TYPE_POINT3D);
    Cell* a = p2(1, 2);
    Cell* near = p2(next_up(1, 3), 2);
    EXPECT_EQ(cmp2(a, near, COMP_EQUAL), 0) << "= tolerates a few units in the last place";
    EXPECT_NE(cmp2(a, near, COMP_STRICT_EQUAL), 0) << "== does not";
    EXPECT_NE(cmp2(a, near, COMP_SAME), 0);
    EXPECT_EQ(cmp2(p2(0.0f, 1), p2(-0.0f, 1), COMP_STRICT_EQUAL), 0);
    EXPECT_NE(cmp2(p2(0.0f, 1), p2(-0.0f, 1), COMP_SAME), 0) << "same? is bit for bit";
    EXPECT_NE(cmp2(p2(NAN, 1), p2(NAN, 1), COMP_STRICT_EQUAL), 0);
    EXPECT_LT(cmp2(p2(1, 5), p2(2, 0), COMP_LESSER), 0) << "x decides";
    EXPECT_LT(cmp2(p2(1, 5), p2(1, 6), COMP_LESSER), 0);
    EXPECT_EQ(cmp2(p2(1, 5), p2(1, 5), COMP_SORT), 0);
    EXPECT_EQ(cmp2(p2(1, 2), pair_(1, 2), COMP_EQUAL), 0) << "a pair compares as a point";
    EXPECT_GT(cmp2(p2(1, 2.5f), pair_(1, 2), COMP_GREATER), 0);
    EXPECT_EQ(cmp2(a, int_(1), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(cmp2(a, p3(1, 2, 0), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(cmp3(p3(1, 2, 3), p3(1, 2, next_up(3, 2)), COMP_EQUAL), 0);
    EXPECT_LT(cmp3(p3(1, 2, 3), p3(1, 2, 4), COMP_LESSER), 0) << "z decides last";
    EXPECT_GT(cmp3(p3(1, 3, 0), p3(1, 2, 4), COMP_GREATER), 0);
    EXPECT_EQ(cmp3(p3(1, 2, 0), p2(1, 2), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(cmp3(p3(1, 2, 0), pair_(1, 2), COMP_EQUAL), NOT_COMPARABLE);
}

// --- Path access and pick ------------------------------------------------------------------

TEST_F(Points, PickAndPath) {
    auto pick = act<ACT_PICK>(TYPE_POINT3D);
    Cell* p = p3(1.5f, 2, 3);
    EXPECT_EQ(show(pick(p, 1, nullptr)), "1.5");
    EXPECT_EQ(show(pick(p, 0, word("z"))), "3");
    EXPECT_EQ(TYPE_OF(pick(p, 2, nullptr)), u32(TYPE_FLOAT));
    EXPECT_EQ(error_of([&] { pick(p, 4, int_(4)); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { pick(p, 0, word("w")); }), "script cannot-use");
    EXPECT_EQ(error_of([&] { act<ACT_PICK>(TYPE_POINT2D)(p2(1, 2), 3, nullptr); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { act<ACT_PICK>(TYPE_POINT2D)(p2(1, 2), 0, word("z")); }), "script cannot-use");

    auto path = act<ACT_EVAL_PATH>(TYPE_POINT2D);
    Cell* q = p2(1, 2);
    Cell* at = test::block({word("q"), word("y")}, TYPE_PATH);
    auto get = [&](const Cell* e) {
        return path(q, stack::push(e), nullptr, at, nullptr, nullptr, 1, false, true, true, false);
    };
    EXPECT_EQ(show(get(word("y"))), "2");
    EXPECT_EQ(show(get(int_(1))), "1");
    Cell* v = path(q, word("x"), test::float_(0.1), at, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(TYPE_OF(v), u32(TYPE_FLOAT)) << "the new value is answered";
    EXPECT_EQ(show(q), "(0.100000001, 2)") << "stored as a single, in place";
    path(q, int_(2), int_(-4), at, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(show(q), "(0.100000001, -4)");
    for (const Cell* bad : {word("z"), int_(3), int_(0), str("x")})
        EXPECT_EQ(error_of([&] { get(bad); }), "script invalid-path") << show(bad);
    EXPECT_EQ(error_of([&] { path(q, word("x"), str("1"), at, nullptr, nullptr, 1, false, false, true, false); }),
              "script invalid-type");
    Cell* r = p3(0, 0, 0);
    act<ACT_EVAL_PATH>(TYPE_POINT3D)(r, word("z"), int_(9), at, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(show(r), "(0, 0, 9)");
}

TEST_F(Points, AssignmentsTellTheHolder) {
    collector::RootCell owner;
    HolderReports reports;
    Cell* b = test::block({p3(1, 2, 3)});
    own(b, owner.get());
    act<ACT_EVAL_PATH>(TYPE_POINT3D)(block::zs_abs_at(b, 0), word("y"), int_(5), nullptr, b, int_(1), 2, false,
                                     false, true, true);
    Cell* field = stack::push(p2(1, 2));
    act<ACT_EVAL_PATH>(TYPE_POINT2D)(field, int_(1), test::float_(0.5), nullptr, owner.get(), word("offset"), 2, false,
                                     false, true, true);
    EXPECT_EQ(reports.told,
              (std::vector<std::string>{"set-path [(1, 5, 3)] 5 2 1", "offset (1, 2) -> (0.5, 2)"}));
}

}  // namespace
}  // namespace zir
