// char!: math kept within the code points, conversion from each datatype,
// the escapes of its molded form, and comparison that never folds case.
#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/char.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Chars : ValueTest {};

constexpr u32 TOP = char_::MAX_CODE_POINT;

Cell* ch(u32 cp) { return char_::push(cp); }

// --- Math ----------------------------------------------------------------------

TEST_F(Chars, MathStaysWithinTheCodePoints) {
    struct Case {
        u32 slot;
        u32 left;
        const Cell* right;
        u32 result;
    } cases[] = {
        {ACT_ADD, 'a', int_(1), 'b'},
        {ACT_ADD, 'a', ch(1), 'b'},
        {ACT_ADD, TOP - 1, int_(1), TOP},
        {ACT_ADD, 0, int_(0), 0},
        {ACT_SUBTRACT, 'a', int_(97), 0},
        {ACT_SUBTRACT, 'a', ch('a'), 0},
        {ACT_SUBTRACT, TOP, int_(-0), TOP},
        {ACT_SUBTRACT, 'a', int_(-1), 'b'},
        {ACT_MULTIPLY, 'a', int_(2), 194},
        {ACT_MULTIPLY, 0, int_(INT32_MAX), 0},
        {ACT_MULTIPLY, TOP, ch(1), TOP},
        {ACT_DIVIDE, 'a', int_(2), '0'},                      // truncated: a char! has no fraction
        {ACT_DIVIDE, 'a', ch('b'), 0},
        {ACT_REMAINDER, 'a', int_(10), 7},
        {ACT_REMAINDER, 'a', ch(10), 7},
        {ACT_REMAINDER, 'a', int_(-10), 7},
        {ACT_OR_T, 'A', int_(0x20), 'a'},
        {ACT_OR_T, 'A', ch(0x20), 'a'},
        {ACT_AND_T, 'a', int_(0xDF), 'A'},
        {ACT_AND_T, 'a', int_(-1), 'a'},
        {ACT_XOR_T, 'a', ch(0x20), 'A'},
        {ACT_XOR_T, TOP, int_(TOP), 0},
        {ACT_ADD, 'a', float_(1.9), 'b'},                     // a float operand is truncated
        {ACT_SUBTRACT, 'a', float_(-1.9), 'b'},
        {ACT_MULTIPLY, 'a', float_(2.5), 194},
    };
    for (const Case& c : cases) {
        Cell* left = ch(c.left);
        left->header |= FLAG_NEW_LINE;
        Cell* r = direct(c.slot, left, c.right);
        EXPECT_EQ(r->header, TYPE_CHAR | FLAG_NEW_LINE) << "the result stays a char!, flags kept";
        EXPECT_EQ(char_::get(r), c.result) << mold(left) << " slot " << c.slot << " " << mold(c.right);
    }
}

TEST_F(Chars, MathErrors) {
    struct Case {
        u32 slot;
        u32 left;
        const Cell* right;
        const char* error;
    } cases[] = {
        {ACT_SUBTRACT, 'a', int_(98), "math overflow"},
        {ACT_SUBTRACT, 0, ch(1), "math overflow"},
        {ACT_ADD, TOP, int_(1), "math overflow"},
        {ACT_ADD, TOP, ch(1), "math overflow"},
        {ACT_ADD, 'a', int_(INT32_MAX), "math overflow"},      // 32-bit overflow shows
        {ACT_SUBTRACT, 'a', int_(INT32_MIN), "math overflow"},
        {ACT_ADD, 'a', int_(INT32_MIN), "math overflow"},
        {ACT_MULTIPLY, TOP, ch(TOP), "math overflow"},
        {ACT_MULTIPLY, 'a', int_(-1), "math overflow"},
        {ACT_DIVIDE, 'a', int_(-1), "math overflow"},
        {ACT_XOR_T, 'a', int_(-1), "math overflow"},
        {ACT_OR_T, 'a', int_(0x110000), "math overflow"},
        {ACT_DIVIDE, 'a', int_(0), "math zero-divide"},
        {ACT_DIVIDE, 'a', ch(0), "math zero-divide"},
        {ACT_REMAINDER, 'a', int_(0), "math zero-divide"},
        {ACT_REMAINDER, 0, ch(0), "math zero-divide"},
        {ACT_ADD, 'a', float_(1e10), "math overflow"},
        {ACT_MULTIPLY, 0, float_(-1e10), "math overflow"},
        {ACT_ADD, 'a', float_(NAN), "math overflow"},
        {ACT_ADD, 'a', none_(), "script invalid-type"},
        {ACT_ADD, 'a', str("b"), "script invalid-type"},
        {ACT_MULTIPLY, 'a', percent_(0.5), "script invalid-type"},
        {ACT_AND_T, 'a', logic_(true), "script invalid-type"},
    };
    for (const Case& c : cases) {
        Cell* left = ch(c.left);
        Cell* args = nullptr;
        EXPECT_EQ(error_of([&] {
                      args = stack::top;
                      direct(c.slot, left, c.right);
                  }),
                  c.error)
            << mold(left) << " slot " << c.slot << " " << mold(c.right);
        EXPECT_EQ(args->header, u32(TYPE_CHAR)) << "a refused result leaves the argument a char!";
        EXPECT_EQ(args->w2, c.left);
    }
}

TEST_F(Chars, InvalidTypeNamesTheOperandsDatatype) {
    try {
        direct(ACT_ADD, ch('a'), str("b"));
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_DATATYPE));
        EXPECT_EQ(e.args[0].w1, u32(TYPE_STRING));
    }
}

// The vector's scalar arithmetic receives the operation whole; its answer is
// the result.
Cell* seen_vector = nullptr;
Cell seen_scalar;
i32 seen_op = -1;
Cell* fake_scalar_math(i32 op, Cell* vector, const Cell* scalar) {
    seen_op = op;
    seen_vector = vector;
    seen_scalar = *scalar;
    vector->w3 = 77;
    return vector;
}

TEST_F(Chars, VectorOperandGoesToTheVectorsScalarMath) {
    Cell vec;
    cell::init(&vec, TYPE_VECTOR);
    integer::VectorScalarMath saved = integer::vector_scalar_math;
    integer::vector_scalar_math = nullptr;
    EXPECT_EQ(error_of([&] { direct(ACT_ADD, ch('a'), &vec); }), "internal not-done")
        << "no vector arithmetic: said so, not guessed";
    integer::vector_scalar_math = fake_scalar_math;
    Cell* r = direct(ACT_MULTIPLY, ch('a'), &vec);
    integer::vector_scalar_math = saved;
    EXPECT_EQ(seen_op, i32(MATH_MULTIPLY));
    EXPECT_EQ(seen_vector, r + 1);
    EXPECT_EQ(TYPE_OF(&seen_scalar), u32(TYPE_CHAR));
    EXPECT_EQ(seen_scalar.w2, u32('a'));
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_VECTOR));
    EXPECT_EQ(r->w3, 77u);
}

// --- What char! shares with integer! and what it refuses --------------------------

TEST_F(Chars, SharedAndRefusedActions) {
    Cell* a = direct(ACT_ABSOLUTE, ch('a'));
    EXPECT_EQ(TYPE_OF(a), u32(TYPE_CHAR));
    EXPECT_EQ(char_::get(a), u32('a'));
    auto even = reinterpret_cast<action::Predicate>(actions::lookup(TYPE_CHAR, ACT_EVEN_Q));
    auto odd = reinterpret_cast<action::Predicate>(actions::lookup(TYPE_CHAR, ACT_ODD_Q));
    ASSERT_TRUE(even && odd);
    EXPECT_TRUE(even(ch('b')));
    EXPECT_TRUE(odd(ch('a')));
    auto random = reinterpret_cast<action::Random>(actions::lookup(TYPE_CHAR, ACT_RANDOM));
    ASSERT_TRUE(random);
    for (int i = 0; i < 50; i++) {
        Cell* r = random(ch('z'), false, false, false);
        EXPECT_EQ(TYPE_OF(r), u32(TYPE_CHAR));
        EXPECT_TRUE(r->w2 >= 1 && r->w2 <= u32('z')) << r->w2;
    }
    for (u32 slot : {ACT_REFLECT, ACT_NEGATE, ACT_POWER, ACT_ROUND, ACT_COMPLEMENT, ACT_EVAL_PATH, ACT_APPEND,
                     ACT_COPY, ACT_LENGTH_Q, ACT_OPEN, ACT_READ}) {
        EXPECT_EQ(actions::lookup(TYPE_CHAR, slot), nullptr) << "slot " << slot;
        EXPECT_EQ(error_of([&] { actions::get_action_of(ch('a'), slot); }), "script expect-arg");
    }
}

// --- make and to ---------------------------------------------------------------------

Cell* convert(u32 slot, const Cell* spec) {
    Cell* c = stack::push(spec);
    return reinterpret_cast<action::Make>(actions::lookup(TYPE_CHAR, slot))(nullptr, c, TYPE_CHAR);
}

TEST_F(Chars, MakeAndToFromEachAcceptedType) {
    struct Case {
        const Cell* spec;
        u32 cp;
    } cases[] = {
        {int_(97), 'a'},
        {int_(0), 0},
        {int_(TOP), TOP},
        {ch(0x1F600), 0x1F600},
        {float_(97.9), 'a'},
        {float_(-0.5), 0},
        {float_(1114111.9), TOP},
        {percent_(97.0), 'a'},
        {str("xyz"), 'x'},
        {at_(str("xyz"), 2), 'z'},
        {str("é!"), 0xE9},
        {text_series(U"\u4e2d!", 2), 0x4E2D},
        {text_series(U"\U0001F600", 4), 0x1F600},
        {text_series(U"/dir", 1, TYPE_FILE), '/'},
        {text_series(U"http://x", 2, TYPE_URL), 'h'},
        {text_series(U"tag", 1, TYPE_TAG), 't'},
        {text_series(U"me@x", 1, TYPE_EMAIL), 'm'},
        {text_series(U"ref", 4, TYPE_REF), 'r'},
        {binary_({'a', 'b'}), 'a'},
        {binary_({0xC3, 0xA9}), 0xE9},
        {binary_({0xF0, 0x9F, 0x98, 0x80, 0x00}), 0x1F600},
        {binary_({'a', 0xC3, 0xA9}, 1), 0xE9},
    };
    for (u32 slot : {ACT_MAKE, ACT_TO}) {
        for (const Case& c : cases) {
            Cell* r = convert(slot, c.spec);
            EXPECT_EQ(r->header, u32(TYPE_CHAR)) << mold(c.spec);
            EXPECT_EQ(char_::get(r), c.cp) << mold(c.spec);
        }
    }
}

TEST_F(Chars, MakeAndToRefusals) {
    struct Case {
        const Cell* spec;
        const char* error;
    } cases[] = {
        {int_(0x110000), "script out-of-range"},
        {int_(-1), "script out-of-range"},
        {int_(INT32_MIN), "script out-of-range"},
        {int_(INT32_MAX), "script out-of-range"},
        {float_(-1.0), "script out-of-range"},
        {float_(1114112.0), "script out-of-range"},
        {float_(1e300), "script out-of-range"},
        {float_(NAN), "script out-of-range"},
        {float_(-INFINITY), "script out-of-range"},
        {percent_(-2.0), "script out-of-range"},
        {str(""), "script bad-to-arg"},
        {at_(str("ab"), 2), "script bad-to-arg"},
        {at_(str("ab"), 5), "script bad-to-arg"},
        {text_series(U"", 4, TYPE_FILE), "script bad-to-arg"},
        {binary_({}), "script bad-to-arg"},
        {binary_({'a'}, 1), "script bad-to-arg"},
        {binary_({0xC3, 0x28}), "access invalid-utf8"},
        {binary_({0x80}), "access invalid-utf8"},
        {binary_({0xE2, 0x82}), "access invalid-utf8"},    // cut short
        {binary_({0xF4, 0x90, 0x80, 0x80}), "access invalid-utf8"},
        {none_(), "script bad-to-arg"},
        {logic_(true), "script bad-to-arg"},
        {test::block({ch('a')}), "script bad-to-arg"},
        {word("a"), "script bad-to-arg"},
        {word("a", TYPE_ISSUE), "script bad-to-arg"},
        {datatype_(TYPE_CHAR), "script bad-to-arg"},
        {pair_(1, 2), "script bad-to-arg"},
    };
    for (u32 slot : {ACT_MAKE, ACT_TO})
        for (const Case& c : cases) EXPECT_EQ(error_of([&] { convert(slot, c.spec); }), c.error) << mold(c.spec);
}

TEST_F(Chars, RefusalArguments) {
    try {
        convert(ACT_TO, str(""));
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 2);
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_DATATYPE));
        EXPECT_EQ(e.args[0].w1, u32(TYPE_CHAR));
        EXPECT_EQ(TYPE_OF(&e.args[1]), u32(TYPE_STRING));
    }
    try {
        convert(ACT_MAKE, int_(0x110000));
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_INTEGER));
        EXPECT_EQ(e.args[0].w2, 0x110000u);
    }
}

// --- mold and form -------------------------------------------------------------------

TEST_F(Chars, MoldAndFormText) {
    struct Case {
        u32 cp;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {'a', "#\"a\"", "#\"a\""},
        {' ', "#\" \"", "#\" \""},
        {0x00, "#\"^@\"", "#\"^@\""},
        {0x01, "#\"^A\"", "#\"^A\""},
        {0x08, "#\"^H\"", "#\"^H\""},
        {0x09, "#\"^-\"", "#\"^-\""},
        {0x0A, "#\"^/\"", "#\"^/\""},
        {0x0D, "#\"^M\"", "#\"^M\""},
        {0x1A, "#\"^Z\"", "#\"^Z\""},
        {0x1B, "#\"^[\"", "#\"^[\""},
        {0x1C, "#\"^\\\"", "#\"^\\\""},
        {0x1D, "#\"^]\"", "#\"^]\""},
        {0x1E, "#\"^(1E)\"", "#\"^(1E)\""},
        {0x1F, "#\"^_\"", "#\"^_\""},
        {0x22, "#\"^\"\"", "#\"^\"\""},
        {0x5E, "#\"^^\"", "#\"^^\""},
        {0x5F, "#\"_\"", "#\"_\""},
        {'{', "#\"{\"", "#\"{\""},
        {'\\', "#\"\\\"", "#\"\\\""},
        {0x7F, "#\"^~\"", "#\"^~\""},
        {0x80, "#\"^(80)\"", "#\"^(80)\""},
        {0x9F, "#\"^(9F)\"", "#\"^(9F)\""},
        {0xA0, "#\"\u00a0\"", "#\"^(A0)\""},
        {0xE9, "#\"é\"", "#\"^(E9)\""},
        {0x4E2D, "#\"中\"", "#\"^(4E2D)\""},
        {0x1F600, "#\"😀\"", "#\"^(1F600)\""},
        {TOP, "#\"\U0010FFFF\"", "#\"^(10FFFF)\""},
    };
    MoldOptions all;
    all.all = true;
    for (const Case& c : cases) {
        EXPECT_EQ(mold(ch(c.cp)), c.mold) << std::hex << c.cp;
        EXPECT_EQ(mold(ch(c.cp), all), c.mold_all) << std::hex << c.cp;
        Cell* one = str("");
        string::append_char(one, c.cp);
        EXPECT_EQ(form(ch(c.cp)), string::to_std(one)) << "form is the character itself";
    }
}

TEST_F(Chars, MoldAndFormAnswerThePartLeft) {
    struct Case {
        u32 cp;
        bool all;
        i32 written;
    } cases[] = {
        {'a', false, 4}, {0x09, false, 5}, {0xE9, false, 4}, {0xE9, true, 8}, {0x1F600, true, 11}, {0x1E, false, 8},
    };
    for (const Case& c : cases) {
        Cell* buffer = str("");
        i32 left = actions::mold(ch(c.cp), buffer, false, c.all, false, nullptr, 100, 0);
        EXPECT_EQ(left, 100 - c.written) << std::hex << c.cp;
        EXPECT_EQ(string::zs_length(buffer), c.written) << "the answer counts what was written";
        EXPECT_EQ(actions::form(ch(c.cp), str(""), nullptr, 100), 99);
    }
    MoldOptions part;
    part.part = 3;
    EXPECT_EQ(mold(ch(0x09), part), "#\"^");
}

TEST_F(Chars, MoldInsideABlockWidensTheBuffer) {
    Cell* b = test::block({ch('a'), ch(0xE9), ch(0x1F600), ch(0x0A), ch(0x4E2D)});
    EXPECT_MOLD(b, "[#\"a\" #\"é\" #\"😀\" #\"^/\" #\"中\"]");
    EXPECT_FORM(test::block({ch('a'), ch(0xE9), ch(0x1F600), ch(0x4E2D)}), "a é 😀 中");
}

TEST_F(Chars, MakeInAppendsToABlock) {
    Cell* b = test::block({});
    char_::make_in(b, 'x');
    char_::make_in(b, 0x10FFFF);
    EXPECT_MOLD(b, "[#\"x\" #\"\U0010FFFF\"]");
    Cell c;
    cell::init(&c, TYPE_INTEGER);
    c.header |= FLAG_NEW_LINE;
    c.w1 = 5;
    char_::make_at(&c, 'q');
    EXPECT_EQ(c.header, TYPE_CHAR | FLAG_NEW_LINE);
    EXPECT_EQ(c.w1, 0u);
    EXPECT_EQ(c.w2, u32('q'));
}

// --- Comparison ------------------------------------------------------------------------

TEST_F(Chars, ComparisonNeverFoldsCase) {
    struct Case {
        const Cell* a;
        const Cell* b;
        i32 op;
        i32 raw;
    } cases[] = {
        {ch('a'), ch('a'), COMP_EQUAL, 0},
        {ch('a'), ch('A'), COMP_EQUAL, 1},
        {ch('a'), ch('A'), COMP_FIND, 1},
        {ch('a'), ch('A'), COMP_SORT, 1},
        {ch('a'), ch('A'), COMP_CASE_SORT, 1},
        {ch('A'), ch('a'), COMP_LESSER, -1},
        {ch(0xE9), ch(0xC9), COMP_EQUAL, 1},
        {ch('a'), int_(97), COMP_EQUAL, 0},
        {ch('a'), int_(97), COMP_NOT_EQUAL, 0},
        {ch('a'), int_(97), COMP_STRICT_EQUAL, 1},
        {ch('a'), int_(97), COMP_FIND, 1},
        {ch('a'), int_(98), COMP_LESSER, -1},
        {ch(0), int_(-1), COMP_GREATER, 1},
        {ch(TOP), int_(INT32_MIN), COMP_SORT, 1},
        {ch('a'), ch('a'), COMP_STRICT_EQUAL, 0},
        {ch('a'), ch('a'), COMP_SAME, 0},
        {ch('a'), float_(97.0), COMP_EQUAL, NOT_COMPARABLE},
        {ch('a'), str("a"), COMP_EQUAL, NOT_COMPARABLE},
        {ch('a'), str("a"), COMP_STRICT_EQUAL, 1},
        {ch('a'), none_(), COMP_SORT, NOT_COMPARABLE},
        {int_(97), ch('a'), COMP_EQUAL, 0},
        {int_(97), ch('a'), COMP_STRICT_EQUAL, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(actions::compare_typed(c.a, c.b, c.op), c.raw) << mold(c.a) << " op" << c.op << " " << mold(c.b);
    EXPECT_TRUE(actions::compare(ch('a'), int_(97), COMP_EQUAL));
    EXPECT_FALSE(actions::compare(ch('a'), ch('A'), COMP_EQUAL));
    EXPECT_TRUE(actions::compare(ch('a'), ch('b'), COMP_LESSER));
    EXPECT_EQ(error_of([&] { actions::compare(ch('a'), str("a"), COMP_LESSER); }), "script invalid-compare");
}

}  // namespace
}  // namespace zir
