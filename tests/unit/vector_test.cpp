// vector!: make's spec dialect, element storage at every width, mold and
// form, comparison, element-wise and scalar arithmetic, insert, append and
// change, and the series actions inherited from string!.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>

#include "datatypes/block.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/vector.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Vector : ValueTest {};

Cell* percent_(double v) {
    Cell* c = float_(v);
    cell::set_type(c, TYPE_PERCENT);
    return c;
}

Cell* make_vector(Cell* spec) { return vector::make(nullptr, spec, TYPE_VECTOR); }
Cell* vec(std::initializer_list<const Cell*> spec) { return make_vector(test::block(spec)); }
Cell* typed(const char* type, i32 bits, std::initializer_list<const Cell*> values) {
    return vec({word(type), int_(bits), test::block(values)});
}

Cell* math(u32 slot, const Cell* a, const Cell* b) { return direct(slot, a, b); }

TEST_F(Vector, MakeAndMold) {
    struct Case {
        std::function<Cell*()> make;
        const char* text;
    } cases[] = {
        {[] { return make_vector(int_(3)); }, "make vector! [0 0 0]"},
        {[] { return make_vector(float_(2.9)); }, "make vector! [0 0]"},
        {[] { return make_vector(int_(0)); }, "make vector! [integer! 32 []]"},
        {[] { return vec({}); }, "make vector! [integer! 32 []]"},
        {[] { return vec({int_(1), int_(2), int_(3)}); }, "make vector! [1 2 3]"},
        {[] { return typed("integer!", 8, {int_(127), int_(128), int_(-129)}); },
         "make vector! [integer! 8 [127 -128 127]]"},
        {[] { return typed("integer!", 16, {int_(1), int_(65535)}); }, "make vector! [integer! 16 [1 -1]]"},
        {[] { return vec({word("integer!"), int_(8), int_(3), test::block({int_(1)})}); },
         "make vector! [integer! 8 [1 0 0]]"},
        {[] { return vec({word("float!"), int_(32), int_(2)}); }, "make vector! [float! 32 [0.0 0.0]]"},
        {[] { return vec({word("float!"), int_(64), test::block({float_(1.5), float_(2)})}); },
         "make vector! [1.5 2.0]"},
        {[] { return typed("float!", 32, {float_(0.1), float_(1e20)}); }, "make vector! [float! 32 [0.1 1.0e20]]"},
        {[] { return vec({float_(1.5e20), float_(-0.25)}); }, "make vector! [1.5e20 -0.25]"},
        {[] { return vec({word("percent!"), test::block({percent_(0.5)})}); }, "make vector! [50%]"},
        {[] { return vec({word("percent!"), int_(32), test::block({percent_(0.125)})}); }, "make vector! [12.5%]"},
        {[] { return vec({char_('a'), char_('"'), char_(0x4E2D)}); }, "make vector! [#\"a\" #\"^\"\" #\"\u4E2D\"]"},
        {[] { return typed("char!", 8, {char_(0xE9), char_('\n')}); }, "make vector! [char! 8 [#\"\u00E9\" #\"^/\"]]"},
        {[] { return typed("char!", 16, {}); }, "make vector! [char! 16 []]"},
    };
    for (const Case& c : cases) EXPECT_MOLD(c.make(), c.text);
}

TEST_F(Vector, OnlyPartAndForm) {
    Cell* plain = vec({int_(1), int_(2), int_(3)});
    Cell* narrow = typed("integer!", 16, {int_(1), int_(2)});
    EXPECT_EQ(mold(plain, {true, false, false, -1}), "1 2 3");
    EXPECT_EQ(mold(narrow, {true, false, false, -1}), "integer! 16 [1 2]") << "the brackets balance";
    EXPECT_EQ(mold(plain, {false, false, false, 16}), "make vector! [1 ");
    EXPECT_FORM(plain, "1 2 3");
    EXPECT_FORM(at_(plain, 1), "2 3");
    EXPECT_FORM(vec({char_('a'), char_(1)}), "a ^A");
    EXPECT_FORM(vec({word("percent!"), test::block({percent_(0.5), percent_(1)})}), "50% 100%");
    EXPECT_EQ(form(plain, 3), "1 2");
}

TEST_F(Vector, MakeErrors) {
    struct Case {
        std::function<void()> run;
        const char* error;
    } cases[] = {
        {[] { vec({word("char!")}); }, "script bad-make-arg"},
        {[] { vec({word("integer!"), int_(12), test::block({int_(1)})}); }, "script bad-make-arg"},
        {[] { vec({word("float!"), int_(16)}); }, "script bad-make-arg"},
        {[] { vec({word("string!"), int_(8)}); }, "script bad-make-arg"},
        {[] { vec({word("integer!"), test::block({int_(1)})}); }, "script invalid-spec-field"},
        {[] { vec({word("integer!"), int_(8), str("x")}); }, "script invalid-spec-field"},
        {[] { vec({word("integer!"), int_(8), int_(2), str("x")}); }, "script invalid-spec-field"},
        {[] { vec({str("a")}); }, "script invalid-type"},
        {[] { vec({int_(1), str("a")}); }, "script invalid-arg"},
        {[] { vec({int_(1), float_(1.5)}); }, "script invalid-arg"},
        {[] { make_vector(str("x")); }, "internal not-done"},
        {[] { make_vector(float_(1e12)); }, "script out-of-range"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.run), c.error);
}

// --- Elements through the series actions -----------------------------------------------

TEST_F(Vector, ElementsReadAndWrittenThroughTheSeriesActions) {
    Cell* v = typed("integer!", 8, {int_(1), int_(2), int_(3)});
    EXPECT_MOLD(series::pick(v, 2, nullptr), "2");
    series::poke(v, 1, int_(200), nullptr);
    EXPECT_MOLD(series::pick(v, 1, nullptr), "-56") << "the low 8 bits, sign-extended";
    EXPECT_EQ(error_of([&] { series::poke(v, 1, char_('a'), nullptr); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { series::poke(v, 9, int_(1), nullptr); }), "script out-of-range");
    Cell* taken = actions::get<action::Take>(v, ACT_TAKE)(stack::push(v), nullptr, false, true);
    EXPECT_MOLD(taken, "3");
    EXPECT_MOLD(v, "make vector! [integer! 8 [-56 2]]");
    Cell* part = actions::get<action::Take>(v, ACT_TAKE)(stack::push(v), int_(2), false, false);
    EXPECT_MOLD(part, "make vector! [integer! 8 [-56 2]]") << "a vector keeps its element type";
    Cell* f = vec({float_(1.5), float_(-2)});
    EXPECT_MOLD(series::pick(f, 2, nullptr), "-2.0");
    Cell* copy = actions::copy(stack::push(f), stack::push(f), nullptr, false, nullptr);
    series::poke(copy, 1, float_(9), nullptr);
    EXPECT_MOLD(f, "make vector! [1.5 -2.0]");
    EXPECT_MOLD(copy, "make vector! [9.0 -2.0]");
    EXPECT_MOLD(block::to(nullptr, typed("integer!", 16, {int_(5), int_(-6)}), TYPE_BLOCK), "[5 -6]");
    for (u32 slot : {ACT_TO, ACT_PUT, ACT_SWAP, ACT_TRIM, ACT_NEGATE, ACT_ABSOLUTE, ACT_OPEN})
        EXPECT_EQ(actions::lookup(TYPE_VECTOR, slot), nullptr) << "slot " << slot;
}

TEST_F(Vector, FindSelectAndSort) {
    Cell* v = vec({int_(5), int_(7), int_(5), int_(9)});
    auto find = [&](Cell* in, Cell* value, bool last = false) {
        Cell* r = actions::find(stack::push(in), value, nullptr, false, false, false, false, nullptr, nullptr, last,
                                false, false, false);
        return TYPE_OF(r) == TYPE_NONE ? -1 : i32(r->w1);
    };
    EXPECT_EQ(find(v, int_(7)), 1);
    EXPECT_EQ(find(v, int_(5), true), 2);
    EXPECT_EQ(find(v, int_(6)), -1);
    Cell* selected = actions::get<action::Select>(v, ACT_SELECT)(stack::push(v), int_(7), nullptr, false, false,
                                                                 false, false, nullptr, nullptr, false, false);
    EXPECT_MOLD(selected, "5");
    Cell* chars = vec({char_('x'), char_('Y'), char_('y')});
    EXPECT_EQ(find(chars, char_('y')), 2) << "vectors never fold case";
    actions::get<action::Sort>(v, ACT_SORT)(stack::push(v), false, nullptr, nullptr, nullptr, false, true, false);
    EXPECT_MOLD(v, "make vector! [9 7 5 5]");
    // Floats and percents are elements too, compared exactly.
    Cell* f = typed("float!", 32, {float_(0.5), float_(2.25), float_(0.1)});
    EXPECT_EQ(find(f, float_(2.25)), 1);
    EXPECT_EQ(find(f, float_(0.1)), -1) << "0.1 is not the single nearest to it";
    EXPECT_EQ(find(f, int_(2)), -1);
    Cell* p = vec({word("percent!"), test::block({percent_(0.1), percent_(0.5)})});
    EXPECT_EQ(find(p, percent_(0.5)), 1) << "a percent is looked for as an element, not as its text";
    Cell* after = actions::get<action::Select>(p, ACT_SELECT)(stack::push(p), percent_(0.1), nullptr, false, false,
                                                              false, false, nullptr, nullptr, false, false);
    EXPECT_MOLD(after, "50%");
}

// --- Comparison -----------------------------------------------------------------------

TEST_F(Vector, Comparison) {
    Cell* a = vec({int_(1), int_(2), int_(3)});
    Cell* b = typed("integer!", 8, {int_(1), int_(2), int_(3)});
    Cell* shorter = vec({int_(1), int_(2)});
    Cell* bigger = vec({int_(1), int_(5)});
    EXPECT_TRUE(actions::compare(a, b, COMP_EQUAL)) << "widths do not matter, values do";
    EXPECT_TRUE(actions::compare(a, b, COMP_STRICT_EQUAL));
    EXPECT_FALSE(actions::compare(a, shorter, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(shorter, a, COMP_LESSER)) << "the shorter is the lesser";
    EXPECT_TRUE(actions::compare(bigger, a, COMP_GREATER));
    EXPECT_TRUE(actions::compare(a, a, COMP_SAME));
    EXPECT_FALSE(actions::compare(a, b, COMP_SAME));
    EXPECT_TRUE(actions::compare(at_(a, 1), at_(b, 1), COMP_EQUAL));
    EXPECT_EQ(error_of([&] { actions::compare(a, vec({char_('a')}), COMP_EQUAL); }), "script not-same-type");
    EXPECT_FALSE(actions::compare(a, ints({1, 2, 3}), COMP_EQUAL));
    Cell* f = vec({float_(0.5)});
    EXPECT_TRUE(actions::compare(f, typed("float!", 32, {float_(0.5)}), COMP_EQUAL));
    EXPECT_TRUE(actions::compare(f, vec({float_(0.75)}), COMP_LESSER));
}

// --- Arithmetic ---------------------------------------------------------------------

TEST_F(Vector, SinglesRoundToNearestAtTheTopOfTheirRange) {
    // 3.4028235e38 is how the largest single is usually written; it lies a
    // little above it, but well below the midpoint where rounding goes up.
    struct Case {
        double given;
        float stored;
    } cases[] = {
        {3.4028235e38, FLT_MAX},
        {-3.4028235e38, -FLT_MAX},
        {0x1.fffffefffffffp127, FLT_MAX},
        {0x1.ffffffp127, INFINITY},
        {-0x1.ffffffp127, -INFINITY},
        {1e39, INFINITY},
        {0x1.fffffep127, FLT_MAX},
        {1.5, 1.5f},
    };
    for (const Case& c : cases) {
        Cell* v = typed("float!", 32, {float_(c.given)});
        float stored;
        std::memcpy(&stored, series::head(series::buffer_of(v)), 4);
        EXPECT_EQ(stored, c.stored) << c.given;
        Cell* w = typed("float!", 32, {float_(0)});
        math(ACT_ADD, w, float_(c.given));
        std::memcpy(&stored, series::head(series::buffer_of(w)), 4);
        EXPECT_EQ(stored, c.stored) << "through arithmetic: " << c.given;
    }
}

TEST_F(Vector, ElementWiseArithmetic) {
    Cell* r = math(ACT_ADD, vec({int_(1), int_(2), int_(3)}), vec({int_(10), int_(20)}));
    EXPECT_MOLD(r, "make vector! [11 22]") << "as long as the shorter";
    r = math(ACT_MULTIPLY, typed("integer!", 8, {int_(100), int_(3)}), typed("integer!", 16, {int_(2), int_(3)}));
    EXPECT_MOLD(r, "make vector! [integer! 16 [200 9]]") << "the larger width";
    r = math(ACT_SUBTRACT, at_(vec({int_(9), int_(8), int_(7)}), 1), vec({int_(1), int_(1)}));
    EXPECT_MOLD(r, "make vector! [7 6]");
    EXPECT_EQ(r->w1, 0u);
    r = math(ACT_DIVIDE, vec({float_(1), float_(3)}), vec({float_(4), float_(0)}));
    EXPECT_MOLD(r, "make vector! [0.25 1.#INF]");
    r = math(ACT_ADD, vec({int_(0x7FFFFFFF)}), vec({int_(1)}));
    EXPECT_MOLD(r, "make vector! [-2147483648]") << "elements wrap";
    EXPECT_EQ(error_of([&] { math(ACT_ADD, vec({int_(1)}), vec({float_(1)})); }), "script not-same-type");
    EXPECT_EQ(error_of([&] { math(ACT_DIVIDE, vec({int_(1)}), vec({int_(0)})); }), "math zero-divide");
    EXPECT_EQ(error_of([&] { math(ACT_OR_T, vec({float_(1)}), vec({float_(1)})); }), "script cannot-use");
    r = math(ACT_XOR_T, vec({int_(6)}), vec({int_(3)}));
    EXPECT_MOLD(r, "make vector! [5]");
}

TEST_F(Vector, ScalarArithmeticChangesTheVector) {
    Cell* v = vec({int_(1), int_(2), int_(3)});
    math(ACT_ADD, v, int_(1));
    EXPECT_MOLD(v, "make vector! [2 3 4]") << "v + 1 changes v itself";
    Cell* w = typed("integer!", 16, {int_(32767)});
    math(ACT_ADD, w, int_(1));
    EXPECT_MOLD(w, "make vector! [integer! 16 [-32768]]");
    math(ACT_MULTIPLY, at_(v, 1), float_(2.9));
    EXPECT_MOLD(v, "make vector! [2 6 8]") << "from the head, the scalar truncated";
    Cell* f = vec({float_(1), float_(2)});
    math(ACT_MULTIPLY, f, int_(3));
    EXPECT_MOLD(f, "make vector! [3.0 6.0]");
    math(ACT_REMAINDER, f, float_(4));
    EXPECT_MOLD(f, "make vector! [3.0 2.0]");
    Cell* p = vec({word("percent!"), test::block({percent_(0.5)})});
    math(ACT_ADD, p, percent_(0.25));
    EXPECT_MOLD(p, "make vector! [75%]");
    EXPECT_EQ(error_of([&] { math(ACT_ADD, v, str("x")); }), "internal not-done");
    EXPECT_EQ(error_of([&] { math(ACT_ADD, v, char_('a')); }), "internal not-done");
    EXPECT_EQ(error_of([&] { math(ACT_DIVIDE, v, int_(0)); }), "math zero-divide");
    EXPECT_EQ(error_of([&] { math(ACT_ADD, v, float_(1e10)); }), "math overflow");
    math(ACT_DIVIDE, v, int_(1));
    EXPECT_MOLD(v, "make vector! [2 6 8]");
}

TEST_F(Vector, CharElementsStayCharacters) {
    // At 8 and 16 bits the low bits kept are always a character; at 32 bits
    // a result past the last code point or below 0 would be no char! at all,
    // so it is refused as char! arithmetic refuses it, and the vector keeps
    // every element it had.
    Cell* v = typed("char!", 32, {char_('a'), char_(0x10FFFE)});
    EXPECT_EQ(error_of([&] { math(ACT_ADD, v, int_(1)); }), "");
    EXPECT_MOLD(v, "make vector! [#\"b\" #\"\U0010FFFF\"]");
    struct Case {
        const char* what;
        std::function<void()> run;
    } refused[] = {
        {"past the last code point", [&] { math(ACT_ADD, v, int_(1)); }},
        {"wrapped to 32 bits", [&] { math(ACT_MULTIPLY, v, int_(100000000)); }},
        {"below 0", [&] { math(ACT_SUBTRACT, v, int_(200)); }},
        {"scalar on the left", [&] { math(ACT_SUBTRACT, int_(0), v); }},
        {"two vectors", [&] { math(ACT_SUBTRACT, v, typed("char!", 32, {char_('c'), char_('c')})); }},
        {"two vectors, the wider one 32 bits",
         [&] { math(ACT_SUBTRACT, typed("char!", 8, {char_('a')}), typed("char!", 32, {char_('b')})); }},
    };
    for (const Case& c : refused) {
        EXPECT_EQ(error_of(c.run), "math overflow") << c.what;
        EXPECT_MOLD(v, "make vector! [#\"b\" #\"\U0010FFFF\"]") << c.what;
    }
    Cell* narrow = typed("char!", 8, {char_('a')});
    math(ACT_ADD, narrow, int_(200));
    EXPECT_MOLD(narrow, "make vector! [char! 8 [#\")\"]]") << "8 bits wrap";
    Cell* wide = typed("char!", 16, {char_('a')});
    math(ACT_SUBTRACT, wide, int_(98));
    EXPECT_MOLD(wide, "make vector! [char! 16 [#\"\uFFFF\"]]") << "16 bits wrap";
}

TEST_F(Vector, AScalarOnTheLeftIsTheLeftOperand) {
    // integer! and char! hand the operation over with the vector on the right.
    Cell* v = vec({int_(1), int_(4)});
    Cell* r = math(ACT_SUBTRACT, int_(10), v);
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_VECTOR));
    EXPECT_MOLD(v, "make vector! [9 6]") << "10 - v is 10 minus each element";
    math(ACT_DIVIDE, int_(36), v);
    EXPECT_MOLD(v, "make vector! [4 6]");
    math(ACT_SUBTRACT, int_(0), v);
    EXPECT_MOLD(v, "make vector! [-4 -6]") << "0 - v negates";
    math(ACT_ADD, char_(1), v);
    EXPECT_MOLD(v, "make vector! [-3 -5]");
    // float! and percent! hand over the same way.
    Cell* f = vec({float_(1), float_(4)});
    math(ACT_DIVIDE, float_(2), f);
    EXPECT_MOLD(f, "make vector! [2.0 0.5]");
    math(ACT_SUBTRACT, float_(1), f);
    EXPECT_MOLD(f, "make vector! [-1.0 0.5]");
    math(ACT_MULTIPLY, float_(2.5), v);
    EXPECT_MOLD(v, "make vector! [-6 -10]") << "the scalar truncated for integer elements";
}

// --- insert, append, change -------------------------------------------------------------

TEST_F(Vector, InsertAndAppend) {
    Cell* v = vec({int_(1), int_(2), int_(3)});
    Cell* at2 = at_(v, 2);
    Cell* r = vector::insert(at2, int_(4), nullptr, false, nullptr, true);
    EXPECT_EQ(r->w1, 2u) << "append answers the vector at its own index";
    EXPECT_MOLD(v, "make vector! [1 2 3 4]");
    r = vector::insert(at_(v, 1), test::block({int_(8), int_(9)}), nullptr, false, int_(2), false);
    EXPECT_EQ(r->w1, 5u) << "insert answers past what it inserted";
    EXPECT_MOLD(v, "make vector! [1 8 9 8 9 2 3 4]");
    vector::insert(v, test::block({int_(5), int_(6), int_(7)}), int_(1), false, nullptr, true);
    EXPECT_MOLD(v, "make vector! [1 8 9 8 9 2 3 4 5]") << "/part limits the values";
    vector::insert(v, none_(), nullptr, false, nullptr, true);
    EXPECT_EQ(series::rest_length(v), 9);
    EXPECT_EQ(error_of([&] { vector::insert(v, float_(1.5), nullptr, false, nullptr, true); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { vector::insert(v, test::block({int_(1), str("x")}), nullptr, false, nullptr, true); }),
              "script invalid-arg");
    EXPECT_EQ(series::rest_length(v), 9) << "a refused value writes nothing";
    Cell* narrow = typed("char!", 8, {});
    vector::insert(narrow, char_('a'), nullptr, false, int_(3), true);
    EXPECT_MOLD(narrow, "make vector! [char! 8 [#\"a\" #\"a\" #\"a\"]]");
    Cell* f = typed("float!", 32, {});
    vector::append_value(f, float_(0.5));
    vector::insert_value_at(f, 0, float_(2));
    vector::set_value_at(f, 2, float_(3));
    vector::zs_append_int32(typed("integer!", 32, {}), 7);
    EXPECT_MOLD(f, "make vector! [float! 32 [2.0 0.5 3.0]]");
    EXPECT_EQ(error_of([&] { vector::append_value(f, int_(1)); }), "script invalid-arg");
}

TEST_F(Vector, Change) {
    Cell* v = vec({int_(1), int_(2), int_(3), int_(4)});
    Cell* r = vector::change(at_(v, 1), int_(9), nullptr, false, nullptr);
    EXPECT_EQ(r->w1, 2u);
    EXPECT_MOLD(v, "make vector! [1 9 3 4]");
    vector::change(at_(v, 1), test::block({int_(7), int_(8)}), int_(3), false, nullptr);
    EXPECT_MOLD(v, "make vector! [1 7 8]") << "/part replaces three with two";
    vector::change(at_(v, 2), typed("integer!", 8, {int_(5), int_(6), int_(7)}), nullptr, false, nullptr);
    EXPECT_MOLD(v, "make vector! [1 7 5 6 7]") << "another vector's elements, past the tail";
    vector::change(stack::push(v), int_(0), nullptr, false, int_(2));
    EXPECT_MOLD(v, "make vector! [0 0 5 6 7]");
    EXPECT_EQ(error_of([&] { vector::change(v, vec({char_('a')}), nullptr, false, nullptr); }),
              "script invalid-arg");
    EXPECT_MOLD(v, "make vector! [0 0 5 6 7]");
}

}  // namespace
}  // namespace zir
