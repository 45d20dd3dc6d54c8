// float! and percent!: text, arithmetic and the result types of mixed math,
// tolerant equality, rounding, conversions, power and random.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <algorithm>
#include <random>

#include "datatypes/block.hpp"
#include "datatypes/char.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/float.hpp"
#include "datatypes/money.hpp"
#include "datatypes/percent.hpp"
#include "number_test_support.hpp"
#include "services/random.hpp"

namespace zir {
namespace {

using namespace test;

struct Floats : ValueTest {};

// test::float_ under a name that the namespace float_ does not hide.
Cell* fl(double v) { return test::float_(v); }

constexpr double INF = std::numeric_limits<double>::infinity();
const double NOT_A_NUMBER = std::nan("");

// Restores pretty printing whatever a test does with it.
struct PrettyPrint {
    bool saved = float_::pretty_print_q;
    explicit PrettyPrint(bool on) { float_::pretty_print_q = on; }
    ~PrettyPrint() { float_::pretty_print_q = saved; }
};

// --- Text -------------------------------------------------------------------------

TEST_F(Floats, FormAndMold) {
    struct Case {
        double value;
        const char* form;
        const char* mold;
    } cases[] = {
        {0.1 + 0.2, "0.3", "0.30000000000000004"},
        {0.3, "0.3", "0.3"},
        {1.0, "1.0", "1.0"},
        {2.5, "2.5", "2.5"},
        {1e16, "1.0e16", "10000000000000000.0"},
        {1e17, "1.0e17", "1.0e17"},
        {1e20, "1.0e20", "1.0e20"},
        {1.5e-7, "1.5e-7", "0.00000015"},
        {1e-8, "1.0e-8", "1.0e-8"},
        {1e-5, "1.0e-5", "0.00001"},
        {1e-300, "0.0", "1.0e-300"},
        {-1.5e300, "-1.5e300", "-1.5e300"},
        {INF, "1.#INF", "1.#INF"},
        {-INF, "-1.#INF", "-1.#INF"},
        {NOT_A_NUMBER, "1.#NaN", "1.#NaN"},
        {-0.0, "0.0", "-0.0"},
        {123456789.0, "123456789.0", "123456789.0"},
        {1234567890123456.0, "1234567890123456.0", "1234567890123456.0"},
        {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333"},
        // Seventeen digits ending in 01 or 99 are printed at fourteen.
        {0.7999999999999999, "0.8", "0.7999999999999999"},
        {3.300000000000001, "3.3", "3.300000000000001"},
        {4.35 * 100, "435.0", "434.99999999999994"},
        {1.000000000000001e20, "1.0e20", "1.000000000000001e20"},
        {1.1 * 1.1, "1.21", "1.2100000000000002"},
    };
    for (const Case& c : cases) {
        EXPECT_FORM(fl(c.value), c.form) << c.mold;
        EXPECT_MOLD(fl(c.value), c.mold) << c.mold;
    }
}

TEST_F(Floats, WithoutPrettyPrintingNothingIsTidied) {
    PrettyPrint off(false);
    EXPECT_FORM(fl(1e-300), "1.0e-300");
    EXPECT_FORM(fl(0.7999999999999999), "0.7999999999999999");
    EXPECT_FORM(percent_(1e-20), "1e-18%");
    EXPECT_STREQ(float_::format(-0.0, float_::FORMAT_FLOAT), "-0.0");
}

TEST_F(Floats, FormatKinds) {
    struct Case {
        double value;
        i32 kind;
        const char* text;
    } cases[] = {
        {1.0, float_::FORMAT_FLOAT32, "1.0"},
        {0.1f, float_::FORMAT_FLOAT32, "0.1"},
        {3.14159274, float_::FORMAT_POINT, "3.141593"},
        {2.0, float_::FORMAT_POINT, "2"},
        {1e-20, float_::FORMAT_POINT, "0"},
        {1e-20, float_::FORMAT_PERCENT32, "0%"},
        {12.5, float_::FORMAT_PERCENT32, "12.5%"},
        {1e20, float_::FORMAT_PERCENT, "1e20%"},
        {100.0 / 3.0, float_::FORMAT_PERCENT, "33.33333333333%"},
        {15.5, float_::FORMAT_TIME, "15.5"},
        {5.0, float_::FORMAT_TIME, "5"},
        {59.9999999, float_::FORMAT_TIME, "60"},
        {1e-20, float_::FORMAT_TIME, "0.0"},
    };
    for (const Case& c : cases) EXPECT_STREQ(float_::format(c.value, c.kind), c.text) << c.value << " kind " << c.kind;
}

TEST_F(Floats, MoldAndFormAnswerThePartLeft) {
    Cell* buffer = str("");
    EXPECT_EQ(actions::mold(fl(0.1 + 0.2), buffer, false, false, false, nullptr, 100, 0), 100 - 19);
    EXPECT_EQ(actions::form(fl(0.1 + 0.2), buffer, nullptr, 100), 97);
    EXPECT_EQ(actions::form(percent_(0.125), buffer, nullptr, 10), 5);
    EXPECT_EQ(string::to_std(buffer), "0.300000000000000040.312.5%");
}

// The form model: C's printf at 16 digits, then the tidying and layout rules.
std::string modelled_form(double d) {
    char text[64];
    std::snprintf(text, sizeof text, "%.16g", d);
    std::string t = text;
    size_t e = t.find('e');
    size_t end = e == std::string::npos ? t.size() : e;
    size_t first = t[0] == '-' ? 1 : 0;
    bool long_text = e == std::string::npos ? t.size() > 16 && (t[first] != '0' || t.size() > 17) : e > 16;
    std::string last = end >= 2 ? t.substr(end - 2, 2) : "";
    if (long_text && (last == "01" || last == "99")) {
        std::snprintf(text, sizeof text, "%.14g", d);
        t = text;
        e = t.find('e');
    }
    if (e != std::string::npos) {
        std::string mantissa = t.substr(0, e), exponent = t.substr(e + 1);
        bool negative = exponent[0] == '-';
        exponent = exponent.substr(1);
        while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
        if (mantissa.find('.') == std::string::npos) mantissa += ".0";
        return mantissa + "e" + (negative ? "-" : "") + exponent;
    }
    if (t.find('.') == std::string::npos) t += ".0";
    return t;
}

TEST_F(Floats, RandomDoublesFormAsPrintfAndMoldAsShortestDigits) {
    std::mt19937_64 gen(20240611);
    Cell* top = stack::top;
    for (int i = 0; i < 20000; i++) {
        stack::top = top;
        // Random bit patterns cover every exponent; scaled integers give the
        // short decimals that programs print.
        double d;
        if (i % 2) {
            d = std::bit_cast<double>(gen());
            if (float_::not_finite_q(d) || std::fabs(d) < float_::EPSILON) continue;
        } else {
            d = double(i64(gen() % 2000000001) - 1000000000) / std::pow(10.0, double(gen() % 12));
            if (std::fabs(d) < float_::EPSILON) continue;
        }
        std::string form = test::form(fl(d));
        ASSERT_EQ(form, modelled_form(d)) << std::hexfloat << d;

        std::string mold = test::mold(fl(d));
        double back = std::strtod(mold.c_str(), nullptr);
        ASSERT_EQ(std::bit_cast<u64>(back), std::bit_cast<u64>(d)) << mold;
        // The same digits as the shortest text of std::to_chars.
        char shortest[64];
        auto r = std::to_chars(shortest, shortest + sizeof shortest, d, std::chars_format::scientific);
        std::string digits(shortest, r.ptr);
        digits = digits.substr(0, digits.find('e'));
        digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
        if (digits[0] == '-') digits.erase(0, 1);
        std::string ours;
        for (char c : mold.substr(0, mold.find('e')))
            if (c >= '0' && c <= '9') ours += c;
        ours.erase(0, ours.find_first_not_of('0'));
        while (!ours.empty() && ours.back() == '0') ours.pop_back();
        while (!digits.empty() && digits.back() == '0') digits.pop_back();
        ASSERT_EQ(ours, digits) << mold;
    }
}

// --- Arithmetic ---------------------------------------------------------------------

TEST_F(Floats, MathResultsAndTheirDatatypes) {
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        u32 type;
        double value;
    } cases[] = {
        {ACT_ADD, fl(0.1), fl(0.2), TYPE_FLOAT, 0.30000000000000004},
        {ACT_SUBTRACT, fl(1.5), int_(2), TYPE_FLOAT, -0.5},
        {ACT_MULTIPLY, fl(1.5), char_::push('a'), TYPE_FLOAT, 145.5},
        {ACT_DIVIDE, fl(1.0), fl(0.0), TYPE_FLOAT, INF},
        {ACT_DIVIDE, fl(-1.0), fl(0.0), TYPE_FLOAT, -INF},
        {ACT_DIVIDE, fl(0.0), fl(0.0), TYPE_FLOAT, NOT_A_NUMBER},
        {ACT_DIVIDE, fl(1.0), int_(0), TYPE_FLOAT, INF},
        {ACT_REMAINDER, fl(7.5), fl(2.0), TYPE_FLOAT, 1.5},
        {ACT_REMAINDER, fl(-7.5), fl(2.0), TYPE_FLOAT, -1.5},
        {ACT_REMAINDER, fl(5.0), fl(INF), TYPE_FLOAT, 5.0},
        {ACT_REMAINDER, fl(INF), fl(INF), TYPE_FLOAT, NOT_A_NUMBER},
        {ACT_REMAINDER, fl(5.0), fl(NOT_A_NUMBER), TYPE_FLOAT, NOT_A_NUMBER},
        {ACT_REMAINDER, fl(5.0), fl(0.0), TYPE_FLOAT, NOT_A_NUMBER},
        {ACT_MULTIPLY, int_(2), percent_(0.5), TYPE_FLOAT, 1.0},
        {ACT_MULTIPLY, percent_(0.5), int_(2), TYPE_PERCENT, 1.0},
        {ACT_ADD, percent_(0.5), percent_(0.5), TYPE_PERCENT, 1.0},
        {ACT_ADD, percent_(0.5), fl(1.0), TYPE_PERCENT, 1.5},
        {ACT_ADD, fl(1.5), time_(1.0), TYPE_TIME, 2.5},
        {ACT_ADD, percent_(0.5), time_(1.0), TYPE_TIME, 1.5},
        {ACT_ADD, int_(30), time_(3600), TYPE_TIME, 3630},
        {ACT_ADD, int_(1), fl(1.5), TYPE_FLOAT, 2.5},
        {ACT_SUBTRACT, int_(1), percent_(0.25), TYPE_FLOAT, 0.75},
        {ACT_DIVIDE, int_(7), fl(2.0), TYPE_FLOAT, 3.5},
        {ACT_REMAINDER, int_(-7), fl(2.0), TYPE_FLOAT, -1.0},
        {ACT_ADD, int_(INT32_MAX), fl(1.0), TYPE_FLOAT, 2147483648.0},
    };
    for (const Case& c : cases) {
        Cell* r = direct(c.slot, c.left, c.right);
        std::string what = mold(c.left) + " slot " + std::to_string(c.slot) + " " + mold(c.right);
        EXPECT_EQ(TYPE_OF(r), c.type) << what;
        EXPECT_TRUE(same_double(number_of(r), c.value)) << what << " gave " << number_of(r);
    }
}

TEST_F(Floats, MathErrors) {
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        const char* error;
    } cases[] = {
        {ACT_ADD, fl(1.0), none_(), "script invalid-type"},
        {ACT_ADD, fl(1.0), str("1"), "script invalid-type"},
        {ACT_ADD, percent_(1.0), char_::push('a'), "script invalid-type"},
        {ACT_ADD, time_(1.0), char_::push('a'), "script invalid-type"},
        {ACT_ADD, time_(1.0), pair_(1, 2), "script invalid-type"},
        {ACT_SUBTRACT, fl(1.0), pair_(1, 2), "script not-related"},
        {ACT_DIVIDE, percent_(1.0), pair_(1, 2), "script not-related"},
        {ACT_REMAINDER, fl(5.0), pair_(2, 3), "script not-related"},
        {ACT_SUBTRACT, fl(1.0), word("t", TYPE_WORD), "script invalid-type"},
        {ACT_AND_T, int_(1), fl(1.5), "script cannot-use"},
        {ACT_XOR_T, int_(1), percent_(0.5), "script cannot-use"},
        {ACT_ADD, fl(1.0), int_(1), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { direct(c.slot, c.left, c.right); }), c.error) << mold(c.left) << " " << mold(c.right);
    // float! has no bitwise actions of its own.
    EXPECT_EQ(actions::lookup(TYPE_FLOAT, ACT_AND_T), nullptr);
    EXPECT_EQ(actions::lookup(TYPE_PERCENT, ACT_COMPLEMENT), nullptr);
}

// A stand-in arithmetic core that records how it was called.
struct CoreCall {
    u32 left_type = 0, right_type = 0;
    double right_number = 0;
    i32 op = -1;
};
CoreCall last_call;
Cell* recording_core(i32 op) {
    Cell* a = stack::arguments;
    last_call = {TYPE_OF(a), TYPE_OF(a + 1), number_of(a + 1), op};
    return a;
}

struct StandInCore {
    u32 type;
    actions::MathCore saved;
    explicit StandInCore(u32 t) : type(t), saved(actions::math_core[t]) { actions::math_core[t] = recording_core; }
    ~StandInCore() { actions::math_core[type] = saved; }
};

TEST_F(Floats, RicherOperandsGoToTheirCoreWithTheOperandsSwapped) {
    StandInCore pair(TYPE_PAIR), point(TYPE_POINT3D), tuple(TYPE_TUPLE), money(TYPE_MONEY);
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        u32 core_left, core_right;
        double number;
        i32 op;
    } cases[] = {
        {ACT_ADD, fl(1.5), pair_(1, 2), TYPE_PAIR, TYPE_FLOAT, 1.5, MATH_ADD},
        {ACT_MULTIPLY, percent_(0.5), pair_(1, 2), TYPE_PAIR, TYPE_PERCENT, 0.5, MATH_MULTIPLY},
        {ACT_ADD, fl(2.0), pair_(1, 2), TYPE_PAIR, TYPE_FLOAT, 2.0, MATH_ADD},
        {ACT_MULTIPLY, fl(2.0), int_(0), TYPE_POINT3D, TYPE_FLOAT, 2.0, MATH_MULTIPLY},
        {ACT_MULTIPLY, time_(3.0), int_(0), TYPE_TUPLE, TYPE_TIME, 3.0, MATH_MULTIPLY},
        // money! converts either operand itself: no swap.
        {ACT_DIVIDE, fl(2.0), int_(0), TYPE_FLOAT, TYPE_MONEY, 0, MATH_DIVIDE},
    };
    for (Case c : cases) {
        Cell* right = stack::push(c.right);
        if (c.core_left == TYPE_POINT3D || c.core_left == TYPE_TUPLE) cell::set_type(right, c.core_left);
        if (c.core_right == TYPE_MONEY) cell::set_type(right, TYPE_MONEY);
        last_call = {};
        direct(c.slot, c.left, right);
        EXPECT_EQ(last_call.left_type, c.core_left) << mold(c.left);
        EXPECT_EQ(last_call.right_type, c.core_right) << mold(c.left);
        if (c.core_right != TYPE_MONEY) {
            EXPECT_EQ(last_call.right_number, c.number);
        }
        EXPECT_EQ(last_call.op, c.op);
    }
    // A tuple takes nothing from a float, nor is a float divided by one.
    Cell* t = stack::push(int_(0));
    cell::set_type(t, TYPE_TUPLE);
    EXPECT_EQ(error_of([&] { direct(ACT_SUBTRACT, fl(1.0), t); }), "script not-related");
    EXPECT_EQ(error_of([&] { direct(ACT_DIVIDE, fl(1.0), t); }), "script not-related");
    EXPECT_EQ(error_of([&] { direct(ACT_REMAINDER, fl(1.0), t); }), "script not-related");
}

TEST_F(Floats, OperandsWhoseCoreIsNotThereYetAreNotDone) {
    actions::MathCore saved = actions::math_core[TYPE_PAIR];
    actions::math_core[TYPE_PAIR] = nullptr;
    EXPECT_EQ(error_of([&] { direct(ACT_ADD, fl(1.0), pair_(1, 2)); }), "internal not-done");
    actions::math_core[TYPE_PAIR] = saved;
}

TEST_F(Floats, NegateAbsoluteEvenOdd) {
    EXPECT_EQ(std::bit_cast<u64>(float_::get(unary_(ACT_NEGATE, fl(0.0)))), 0u) << "0.0 - 0.0 is +0.0";
    EXPECT_EQ(std::bit_cast<u64>(float_::get(unary_(ACT_NEGATE, fl(-0.0)))), 0u);
    EXPECT_EQ(float_::get(unary_(ACT_NEGATE, fl(2.5))), -2.5);
    Cell* n = unary_(ACT_NEGATE, percent_(0.5));
    EXPECT_EQ(TYPE_OF(n), u32(TYPE_PERCENT));
    EXPECT_EQ(float_::get(direct(ACT_ABSOLUTE, fl(-2.5))), 2.5);
    EXPECT_EQ(std::bit_cast<u64>(float_::get(direct(ACT_ABSOLUTE, fl(-0.0)))), 0u);
    struct Case {
        double value;
        bool even;
    } cases[] = {{2.0, true}, {3.0, false}, {2.9, true}, {-3.9, false}, {-2.5, true},
                 {4294967297.0, false}, {9007199254740993.0, true}, {1e300, true},
                 {INF, true}, {NOT_A_NUMBER, true}};
    for (const Case& c : cases) {
        EXPECT_EQ(predicate_(ACT_EVEN_Q, fl(c.value)), c.even) << c.value;
        EXPECT_EQ(predicate_(ACT_ODD_Q, fl(c.value)), !c.even) << c.value;
    }
}

TEST_F(Floats, Power) {
    struct Case {
        const Cell* base;
        const Cell* exponent;
        u32 type;
        double value;
    } cases[] = {
        {fl(2.0), fl(0.5), TYPE_FLOAT, std::sqrt(2.0)},
        {fl(2.0), int_(10), TYPE_FLOAT, 1024.0},
        {fl(2.0), int_(-1), TYPE_FLOAT, 0.5},
        {fl(0.0), int_(-1), TYPE_FLOAT, INF},
        {fl(-8.0), fl(1.0 / 3.0), TYPE_FLOAT, NOT_A_NUMBER},
        {percent_(0.5), int_(2), TYPE_PERCENT, 0.25},
        {int_(2), int_(30), TYPE_INTEGER, 1073741824},
        {int_(2), int_(31), TYPE_FLOAT, 2147483648.0},
        {int_(-2), int_(31), TYPE_INTEGER, -2147483648.0},
        {int_(46341), int_(1), TYPE_INTEGER, 46341},
        {int_(46341), int_(2), TYPE_FLOAT, 2147488281.0},
        {int_(2), int_(0), TYPE_INTEGER, 1},
        {int_(0), int_(0), TYPE_INTEGER, 1},
        {int_(-1), int_(INT32_MAX), TYPE_INTEGER, -1},
        {int_(3), int_(-1), TYPE_FLOAT, 1.0 / 3.0},
        {int_(2), fl(1.5), TYPE_FLOAT, std::pow(2.0, 1.5)},
    };
    for (const Case& c : cases) {
        Cell* r = direct(ACT_POWER, c.base, c.exponent);
        EXPECT_EQ(TYPE_OF(r), c.type) << mold(c.base) << " ** " << mold(c.exponent);
        EXPECT_TRUE(same_double(number_of(r), c.value)) << mold(c.base) << " ** " << mold(c.exponent);
    }
    try {
        direct(ACT_POWER, fl(2.0), str("2"));
        ADD_FAILURE() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "expect-arg");
        ASSERT_EQ(e.argc, 3);
        EXPECT_EQ(e.args[1].w1, u32(TYPE_STRING));
        EXPECT_EQ(symbol::spelling(i32(e.args[2].w2)), "exponent");
    }
    EXPECT_EQ(error_of([&] { direct(ACT_POWER, int_(2), percent_(0.5)); }), "script expect-arg");
    EXPECT_EQ(actions::lookup(TYPE_TIME, ACT_POWER), nullptr);
}

// --- Comparison ------------------------------------------------------------------------

double ulps_away(double d, i64 n) {
    return std::bit_cast<double>(std::bit_cast<u64>(d) + u64(n));
}

TEST_F(Floats, EqualityIsTolerantButStrictEqualityFindAndSortingAreExact) {
    Cell* sum = direct(ACT_ADD, fl(0.1), fl(0.2));
    Cell* three = fl(0.3);
    EXPECT_TRUE(actions::compare(sum, three, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(sum, three, COMP_NOT_EQUAL));
    EXPECT_FALSE(actions::compare(sum, three, COMP_STRICT_EQUAL));
    EXPECT_NE(compare_(sum, three, COMP_FIND), 0);
    EXPECT_EQ(compare_(three, sum, COMP_SORT), -1);
    Cell* block = test::block({sum});
    Cell* found = actions::find(stack::push(block), three, nullptr, false, false, false, false, nullptr, nullptr,
                                false, false, false, false);
    EXPECT_EQ(TYPE_OF(found), u32(TYPE_NONE)) << "find compares exactly";

    double big = 1234.5678;
    EXPECT_TRUE(float_::almost_equal_q(big, ulps_away(big, 10)));
    EXPECT_FALSE(float_::almost_equal_q(big, ulps_away(big, 11)));
    EXPECT_TRUE(float_::almost_equal_q(-big, ulps_away(-big, 10)));
    EXPECT_FALSE(float_::almost_equal_q(-big, ulps_away(-big, -11)));
    // Near zero the absolute gap decides, across the sign too.
    EXPECT_TRUE(float_::almost_equal_q(1e-17, -1e-17));
    EXPECT_TRUE(float_::almost_equal_q(0.0, -0.0));
    EXPECT_FALSE(float_::almost_equal_q(1e-15, 2e-15 + 1e-16));
    // An infinity lies one unit above the largest double, yet equals only itself.
    EXPECT_FALSE(float_::almost_equal_q(INF, std::numeric_limits<double>::max()));
    EXPECT_FALSE(float_::almost_equal_q(-std::numeric_limits<double>::max(), -INF));
    EXPECT_TRUE(float_::almost_equal_q(INF, INF));
    EXPECT_FALSE(float_::almost_equal_q(INF, -INF));
    EXPECT_FALSE(float_::almost_equal_q(1.0, -1.0));
}

TEST_F(Floats, NotANumberIsNeitherEqualNorOrdered) {
    Cell* nan = fl(NOT_A_NUMBER);
    Cell* one = fl(1.0);
    EXPECT_FALSE(actions::compare(nan, nan, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(nan, nan, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(nan, nan, COMP_NOT_EQUAL));
    for (i32 op : {COMP_LESSER, COMP_LESSER_EQUAL, COMP_GREATER, COMP_GREATER_EQUAL}) {
        EXPECT_FALSE(actions::compare(nan, one, op)) << op;
        EXPECT_FALSE(actions::compare(one, nan, op)) << op;
    }
    EXPECT_EQ(compare_(nan, one, COMP_SORT), 0) << "sorting sees NaN as equal to anything";
    EXPECT_TRUE(actions::compare(nan, nan, COMP_SAME)) << "the same bits";
}

TEST_F(Floats, MixedComparisons) {
    struct Case {
        const Cell* a;
        const Cell* b;
        i32 op;
        i32 result;
    } cases[] = {
        {int_(1), fl(1.0), COMP_EQUAL, 0},
        {int_(1), fl(1.0), COMP_STRICT_EQUAL, 1},
        {fl(1.0), int_(1), COMP_STRICT_EQUAL, 1},
        {fl(1.0), int_(1), COMP_EQUAL, 0},
        {int_(1), fl(1.0), COMP_SAME, 1},
        {int_(1), fl(1.0), COMP_FIND, 1},
        {int_(2), fl(1.5), COMP_LESSER, 1},
        {percent_(0.125), fl(0.125), COMP_EQUAL, 0},
        {percent_(0.125), fl(0.125), COMP_STRICT_EQUAL, 1},
        {int_(3600), time_(3600), COMP_EQUAL, 0},
        {time_(60), int_(61), COMP_LESSER, -1},
        {fl(0.0), fl(-0.0), COMP_STRICT_EQUAL, 0},
        {fl(0.0), fl(-0.0), COMP_SAME, 1},
        {fl(1.0), char_::push(1), COMP_EQUAL, NOT_COMPARABLE},
        {fl(1.0), none_(), COMP_EQUAL, NOT_COMPARABLE},
        {int_(65), char_::push('A'), COMP_EQUAL, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(compare_(c.a, c.b, c.op), c.result) << mold(c.a) << " op" << c.op << " " << mold(c.b);
    // Money: beyond what money holds only the signs decide; within it the
    // number is converted and money compares.
    Cell* zero = int_(0);
    cell::set_type(zero, TYPE_MONEY);
    Cell* million = money::from_integer(1000000);
    Cell* minus_one = money::from_integer(-1);
    struct MoneyCase {
        const Cell* a;
        const Cell* b;
        i32 op;
        i32 result;
    } money_cases[] = {
        {fl(1e17), zero, COMP_EQUAL, 1},
        {fl(1e17), million, COMP_LESSER, 1},
        {fl(-1e18), million, COMP_LESSER, -1},
        {fl(-3e-6), zero, COMP_EQUAL, 1},
        {fl(-3e-6), zero, COMP_LESSER, -1},
        {fl(3e-6), zero, COMP_GREATER, 1},
        {fl(3e-6), minus_one, COMP_GREATER, 1},
        {fl(-3e-6), million, COMP_LESSER, -1},
        {fl(2.5), zero, COMP_EQUAL, 1},
        {fl(1e6), million, COMP_EQUAL, 0},
        {fl(999999.99999), million, COMP_LESSER, -1},
        {int_(2), zero, COMP_GREATER, 1},
        {int_(1000000), million, COMP_EQUAL, 0},
        {int_(-1), minus_one, COMP_STRICT_EQUAL, 1},
    };
    for (const MoneyCase& c : money_cases)
        EXPECT_EQ(compare_(c.a, c.b, c.op), c.result) << mold(c.a) << " op" << c.op << " " << mold(c.b);
    EXPECT_FALSE(actions::compare(fl(std::nan("")), million, COMP_LESSER));
    EXPECT_FALSE(actions::compare(fl(std::nan("")), million, COMP_GREATER_EQUAL));
    EXPECT_FALSE(actions::compare(fl(std::nan("")), million, COMP_EQUAL));
}

// --- Rounding -------------------------------------------------------------------------

TEST_F(Floats, Round) {
    Cell* money = int_(1);
    cell::set_type(money, TYPE_MONEY);
    struct Case {
        const Cell* value;
        const Cell* scale;
        const char* how;
        u32 type;
        double result;
    } cases[] = {
        {fl(2.5), nullptr, "", TYPE_FLOAT, 3.0},
        {fl(-2.5), nullptr, "", TYPE_FLOAT, -3.0},
        {fl(2.4999999999999996), nullptr, "", TYPE_FLOAT, 2.0},
        {fl(2.5), nullptr, "even", TYPE_FLOAT, 2.0},
        {fl(3.5), nullptr, "even", TYPE_FLOAT, 4.0},
        {fl(-2.5), nullptr, "even", TYPE_FLOAT, -2.0},
        {fl(2.5), nullptr, "half-down", TYPE_FLOAT, 2.0},
        {fl(-2.5), nullptr, "half-ceiling", TYPE_FLOAT, -2.0},
        {fl(2.5), nullptr, "half-ceiling", TYPE_FLOAT, 3.0},
        {fl(-2.1), nullptr, "floor", TYPE_FLOAT, -3.0},
        {fl(-2.1), nullptr, "ceiling", TYPE_FLOAT, -2.0},
        {fl(2.9), nullptr, "down", TYPE_FLOAT, 2.0},
        {fl(-2.9), nullptr, "down", TYPE_FLOAT, -2.0},
        {fl(1.2345), fl(0.01), "", TYPE_FLOAT, 1.23},
        {fl(17.4), int_(5), "", TYPE_INTEGER, 15},
        {fl(1.5), int_(1), "", TYPE_INTEGER, 2},
        {fl(-2147483648.4), int_(1), "", TYPE_INTEGER, -2147483648.0},
        {fl(1.25), fl(0.5), "", TYPE_FLOAT, 1.5},
        {fl(7.3), fl(2.0), "", TYPE_FLOAT, 8.0},
        {fl(7.3), fl(-2.0), "", TYPE_FLOAT, 8.0},
        {fl(0.5), percent_(0.1), "", TYPE_PERCENT, 0.5},
        {fl(100.0), time_(60), "", TYPE_TIME, 120},
        {percent_(0.125), nullptr, "", TYPE_PERCENT, 0.13},
        {percent_(0.12345), percent_(0.01), "", TYPE_PERCENT, 0.1235},
        {percent_(0.125), int_(1), "", TYPE_INTEGER, 0},
        // A unit below the value's precision leaves it; so does a unit of 0.
        {fl(1e300), int_(1), "", TYPE_FLOAT, 1e300},
        {fl(5.5), int_(0), "", TYPE_FLOAT, 5.5},
        {fl(0.0), fl(0.0), "", TYPE_FLOAT, 0.0},
        // A unit whose inverse overflows divides directly.
        {fl(1.5e-323), fl(1e-323), "", TYPE_FLOAT, 2e-323},
        {fl(NOT_A_NUMBER), nullptr, "", TYPE_FLOAT, NOT_A_NUMBER},
    };
    for (const Case& c : cases) {
        Cell* r = round_(c.value, c.scale, c.how);
        std::string what = mold(c.value) + " /" + c.how + " to " + (c.scale ? mold(c.scale) : "-");
        EXPECT_EQ(TYPE_OF(r), c.type) << what;
        EXPECT_TRUE(same_double(number_of(r), c.result) || number_of(r) == c.result) << what << " gave " << number_of(r);
    }
    struct Refusal {
        const Cell* value;
        const Cell* scale;
        const char* error;
    } refusals[] = {
        // An integer! result must fit in 32 bits.
        {fl(3e9), int_(1), "math overflow"},
        {fl(2147483647.6), int_(1), "math overflow"},
        {fl(NOT_A_NUMBER), int_(1), "math overflow"},
        {fl(1.7e308), fl(1e308), "math overflow"},
        {fl(1.5), money, "script not-related"},
        {fl(1.5), none_(), "script expect-arg"},
    };
    for (const Refusal& c : refusals) EXPECT_EQ(error_of([&] { round_(c.value, c.scale); }), c.error) << mold(c.value);
}

// --- make and to -------------------------------------------------------------------------

TEST_F(Floats, MakeAndTo) {
    struct Case {
        u32 type;
        const Cell* spec;
        double value;
    } cases[] = {
        {TYPE_FLOAT, int_(-7), -7.0},
        {TYPE_FLOAT, char_::push('a'), 97.0},
        {TYPE_PERCENT, int_(50), 50.0},
        {TYPE_FLOAT, percent_(0.5), 0.5},
        {TYPE_PERCENT, fl(0.25), 0.25},
        {TYPE_FLOAT, time_(90.5), 90.5},
        {TYPE_FLOAT, test::block({int_(2), int_(-1)}), 0.2},
        {TYPE_FLOAT, test::block({fl(1.5), int_(3)}), 1500.0},
        {TYPE_FLOAT, test::block({int_(1), fl(2.9)}), 100.0},
        {TYPE_PERCENT, test::block({int_(5), int_(-1)}, TYPE_PAREN), 0.5},
        {TYPE_FLOAT, binary_({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), 1.0},
        {TYPE_FLOAT, binary_({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF}), 1.0},
        {TYPE_FLOAT, binary_({1}), 5e-324},
        {TYPE_FLOAT, binary_({0xFF, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 1), 1.0},
        {TYPE_FLOAT, binary_({}), 0.0},
        {TYPE_FLOAT, str("1.5"), 1.5},
        {TYPE_FLOAT, str("-1,5"), -1.5},
        {TYPE_FLOAT, str("1'000.25"), 1000.25},
        {TYPE_FLOAT, str("2e-3"), 0.002},
        {TYPE_FLOAT, str(".5"), 0.5},
        {TYPE_FLOAT, str("5."), 5.0},
        {TYPE_FLOAT, str("1e400"), INF},
        {TYPE_FLOAT, at_(str("x0.1"), 1), 0.1},
        {TYPE_FLOAT, text_series(U"12.5", 2, TYPE_FILE), 12.5},
        {TYPE_FLOAT, text_series(U"-3e2", 4, TYPE_URL), -300.0},
    };
    for (u32 slot : {ACT_MAKE, ACT_TO}) {
        for (const Case& c : cases) {
            Cell* r = convert(slot, c.type, c.spec);
            EXPECT_EQ(r->header, c.type) << mold(c.spec);
            EXPECT_TRUE(same_double(float_::get(r), c.value) || float_::get(r) == c.value)
                << mold(c.spec) << " gave " << float_::get(r);
        }
    }
    EXPECT_EQ(float_::get(to_(TYPE_FLOAT, money::from_integer(-7))), -7.0);
    struct Refusal {
        u32 type;
        const Cell* spec;
        const char* error;
    } refusals[] = {
        {TYPE_FLOAT, str(""), "script bad-to-arg"},
        {TYPE_FLOAT, str("abc"), "script bad-to-arg"},
        {TYPE_FLOAT, str("1.5x"), "script bad-to-arg"},
        {TYPE_FLOAT, str(" 1.5"), "script bad-to-arg"},
        {TYPE_FLOAT, str("."), "script bad-to-arg"},
        {TYPE_FLOAT, str("--1"), "script bad-to-arg"},
        {TYPE_FLOAT, str("1e"), "script bad-to-arg"},
        {TYPE_FLOAT, str("1.#INF"), "script bad-to-arg"},
        {TYPE_FLOAT, str("１"), "script bad-to-arg"},
        {TYPE_FLOAT, test::block({int_(1), int_(2), int_(3)}), "script bad-to-arg"},
        {TYPE_FLOAT, test::block({int_(1)}), "script bad-to-arg"},
        {TYPE_FLOAT, test::block({str("1"), int_(2)}), "script bad-to-arg"},
        {TYPE_FLOAT, none_(), "script bad-to-arg"},
        {TYPE_FLOAT, pair_(1, 2), "script bad-to-arg"},
        {TYPE_PERCENT, logic_(true), "script bad-to-arg"},
        {TYPE_PERCENT, str("50%"), block::load_text ? "" : "internal not-done"},
    };
    for (const Refusal& c : refusals) EXPECT_EQ(error_of([&] { to_(c.type, c.spec); }), c.error) << mold(c.spec);

    // A bad item of a [mantissa exponent] block is named in the error.
    try {
        to_(TYPE_PERCENT, test::block({str("1"), int_(2)}));
        ADD_FAILURE() << "no error";
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 2);
        EXPECT_EQ(e.args[0].w1, u32(TYPE_FLOAT));
        EXPECT_EQ(TYPE_OF(&e.args[1]), u32(TYPE_STRING));
    }
    // float! and percent! specs change only their datatype, flags kept.
    Cell* spec = fl(0.5);
    spec->header |= FLAG_NEW_LINE;
    Cell* r = to_(TYPE_PERCENT, spec);
    EXPECT_EQ(r->header, u32(TYPE_PERCENT) | FLAG_NEW_LINE);
}

TEST_F(Floats, PercentFromTextLoadsOneNumber) {
    FakeLoader loader;
    struct Case {
        const char* text;
        double value;
    } cases[] = {{"12.5%", 0.125}, {"0.25", 0.25}, {"50", 50.0}};
    for (const Case& c : cases) {
        Cell* r = to_(TYPE_PERCENT, str(c.text));
        EXPECT_EQ(TYPE_OF(r), u32(TYPE_PERCENT));
        EXPECT_DOUBLE_EQ(float_::get(r), c.value) << c.text;
    }
    for (const char* bad : {"two", "abc", "1:30"})
        EXPECT_EQ(error_of([&] { to_(TYPE_PERCENT, str(bad)); }), "script bad-to-arg") << bad;
}

// --- Random ---------------------------------------------------------------------------

TEST_F(Floats, RandomStaysWithinItsRangeAndReplaysAfterSeeding) {
    auto random = reinterpret_cast<action::Random>(actions::lookup(TYPE_FLOAT, ACT_RANDOM));
    double lowest = 10, highest = 0;
    for (int i = 0; i < 2000; i++) {
        double d = float_::get(random(fl(10.0), false, i % 2 == 1, false));
        EXPECT_TRUE(d >= 0.0 && d <= 10.0) << d;
        lowest = std::min(lowest, d);
        highest = std::max(highest, d);
    }
    EXPECT_LT(lowest, 0.1);
    EXPECT_GT(highest, 9.9);
    EXPECT_LE(float_::get(random(fl(-3.0), false, false, false)), 0.0);
    Cell* p = random(percent_(0.5), false, false, false);
    EXPECT_EQ(TYPE_OF(p), u32(TYPE_PERCENT));

    EXPECT_EQ(TYPE_OF(random(fl(1.5), true, false, false)), u32(TYPE_UNSET));
    double first = float_::get(random(fl(1e6), false, false, false));
    random(fl(1.5), true, false, false);
    EXPECT_EQ(float_::get(random(fl(1e6), false, false, false)), first);
}

// Near the largest doubles the draw times the bound passes the double range
// before it is scaled down: the answer must still lie within the bound.
TEST_F(Floats, RandomOfTheLargestDoublesStaysFinite) {
    auto random = reinterpret_cast<action::Random>(actions::lookup(TYPE_FLOAT, ACT_RANDOM));
    const double top = std::numeric_limits<double>::max();
    for (double bound : {top, -top, 1e308, -1e300}) {
        for (bool secure : {false, true}) {
            for (int i = 0; i < 50; i++) {
                double d = float_::get(random(fl(bound), false, secure, false));
                ASSERT_TRUE(std::isfinite(d)) << bound << (secure ? " secure" : "");
                if (bound > 0) EXPECT_TRUE(d >= 0 && d <= bound) << d;
                else EXPECT_TRUE(d <= 0 && d >= bound) << d;
            }
        }
    }
    // An ordinary bound draws exactly as before: bound x draw / (2^31 - 1).
    random(fl(7.0), true, false, false);
    double d = float_::get(random(fl(1e6), false, false, false));
    random(fl(7.0), true, false, false);
    EXPECT_EQ(d, 1e6 * double(random::genrand()) / 2147483647.0);
}

// --- percent! ---------------------------------------------------------------------------

TEST_F(Floats, PercentText) {
    struct Case {
        double fraction;
        const char* text;
    } cases[] = {
        {0.125, "12.5%"}, {1.0, "100%"}, {0.5, "50%"}, {1.0 / 3.0, "33.33333333333%"}, {-0.015, "-1.5%"},
        {1e-20, "0%"},    {50.0, "5000%"}, {1e20, "1e22%"}, {INF, "1.#INF"}, {0.07, "7%"},
    };
    for (const Case& c : cases) {
        EXPECT_FORM(percent_(c.fraction), c.text);
        EXPECT_MOLD(percent_(c.fraction), c.text);
    }
}

TEST_F(Floats, PercentInheritsEveryActionButItsText) {
    for (u32 slot : {ACT_MAKE, ACT_RANDOM, ACT_TO, ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE, ACT_MULTIPLY,
                     ACT_NEGATE, ACT_POWER, ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q})
        EXPECT_EQ(actions::lookup(TYPE_PERCENT, slot), actions::lookup(TYPE_FLOAT, slot)) << slot;
    EXPECT_NE(actions::lookup(TYPE_PERCENT, ACT_FORM), actions::lookup(TYPE_FLOAT, ACT_FORM));
    for (u32 slot : {ACT_REFLECT, ACT_EVAL_PATH, ACT_AND_T, ACT_PICK, ACT_APPEND})
        EXPECT_EQ(actions::lookup(TYPE_PERCENT, slot), nullptr) << slot;
    EXPECT_TRUE(actions::compare(percent_(0.125), fl(0.125), COMP_EQUAL));
    Cell* r = direct(ACT_ADD, percent_(0.5), percent_(0.5));
    EXPECT_MOLD(r, "100%");
}

TEST_F(Floats, ValueBuilders) {
    Cell* block = test::block({});
    float_::make_in(block, 0x3FF00000, 0);
    percent::make_in(block, 0x3FE00000, 0);
    EXPECT_MOLD(block, "[1.0 50%]");
    EXPECT_MOLD(float_::push(0x40000000, 0), "2.0");
    EXPECT_MOLD(percent::push_value(0.25), "25%");
    EXPECT_MOLD(float_::push_value(-1.5), "-1.5");
    Cell c;
    cell::init(&c, TYPE_NONE);
    c.header |= FLAG_NEW_LINE;
    percent::make_at(&c, 0.5);
    EXPECT_EQ(c.header, u32(TYPE_PERCENT));
    float_::make_at(&c, 0.5);
    EXPECT_EQ(c.header, u32(TYPE_FLOAT));
    EXPECT_TRUE(float_::nan_q(NOT_A_NUMBER));
    EXPECT_FALSE(float_::nan_q(INF));
    EXPECT_TRUE(float_::not_finite_q(-INF));
    EXPECT_TRUE(float_::nan32_q(std::nanf("")));
    EXPECT_EQ(float_::fabs(-0.0), 0.0);
}

TEST_F(Floats, Equal32) {
    auto next = [](float f, i32 n) { return std::bit_cast<float>(u32(i64(std::bit_cast<u32>(f)) + n)); };
    EXPECT_TRUE(float_::equal32_q(1.5f, next(1.5f, 10)));
    EXPECT_FALSE(float_::equal32_q(1.5f, next(1.5f, 11)));
    EXPECT_TRUE(float_::equal32_q(0.0f, -0.0f));
    EXPECT_FALSE(float_::equal32_q(std::nanf(""), std::nanf("")));
    EXPECT_TRUE(float_::equal32_q(std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max()));
    EXPECT_FALSE(float_::equal32_q(std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::max()));
    EXPECT_TRUE(float_::equal32_q(-1e-45f, 1e-45f));
}

}  // namespace
}  // namespace zir
