// integer!: its math against a 64-bit model at the 32-bit edges, the hand-over
// of richer operands to their cores, rounding, conversions and comparison.
#include <limits>
#include <optional>

#include "datatypes/char.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/date.hpp"
#include "datatypes/symbol.hpp"
#include "loader/number.hpp"
#include "number_test_support.hpp"

namespace zir {
namespace {

using namespace test;

struct Integers : ValueTest {};

constexpr i32 MIN = INT32_MIN;
constexpr i32 MAX = INT32_MAX;

Cell* fl(double v) { return test::float_(v); }

// --- Math against a 64-bit model -------------------------------------------------

// What the action must give: an integer when the exact result fits 32 bits,
// else the float of the operation on doubles; or an error.
struct Expected {
    std::string error;
    bool is_float = false;
    double value = 0;
};

Expected model(i64 a, i64 b, i32 op) {
    auto fits = [](i64 v) { return v >= MIN && v <= MAX; };
    auto integer = [](i64 v) { return Expected{"", false, double(v)}; };
    auto floating = [](double v) { return Expected{"", true, v}; };
    switch (op) {
        case MATH_ADD: return fits(a + b) ? integer(a + b) : floating(double(a) + double(b));
        case MATH_SUBTRACT: return fits(a - b) ? integer(a - b) : floating(double(a) - double(b));
        case MATH_MULTIPLY: return fits(a * b) ? integer(a * b) : floating(double(a) * double(b));
        case MATH_DIVIDE:
            if (b == 0) return {"math zero-divide"};
            if (a == MIN && b == -1) return {"math overflow"};
            return a % b == 0 ? integer(a / b) : floating(double(a) / double(b));
        case MATH_REMAINDER:
            if (b == 0) return {"math zero-divide"};
            if (a == MIN && b == -1) return {"math overflow"};
            return integer(a % b);
        case MATH_OR: return integer(i32(a) | i32(b));
        case MATH_AND: return integer(i32(a) & i32(b));
        default: return integer(i32(a) ^ i32(b));
    }
}

TEST_F(Integers, MathAgreesWithA64BitModelAtTheEdges) {
    const i32 edges[] = {MIN, MIN + 1, -65536, -46341, -3, -2, -1, 0, 1, 2, 3, 7, 46340, 46341, 65536, MAX - 1, MAX};
    const u32 slots[] = {ACT_ADD, ACT_SUBTRACT, ACT_MULTIPLY, ACT_DIVIDE, ACT_REMAINDER, ACT_OR_T, ACT_AND_T, ACT_XOR_T};
    const i32 ops[] = {MATH_ADD, MATH_SUBTRACT, MATH_MULTIPLY, MATH_DIVIDE, MATH_REMAINDER, MATH_OR, MATH_AND, MATH_XOR};
    Cell* top = stack::top;
    for (i32 a : edges) {
        for (i32 b : edges) {
            for (size_t k = 0; k < 8; k++) {
                stack::top = top;
                Expected e = model(a, b, ops[k]);
                Cell* r = nullptr;
                std::string error = error_of([&] { r = direct(slots[k], int_(a), int_(b)); });
                ASSERT_EQ(error, e.error) << a << " op" << ops[k] << " " << b;
                if (!e.error.empty()) continue;
                ASSERT_EQ(TYPE_OF(r), e.is_float ? u32(TYPE_FLOAT) : u32(TYPE_INTEGER)) << a << " op" << ops[k] << " " << b;
                ASSERT_EQ(number_of(r), e.value) << a << " op" << ops[k] << " " << b;
            }
        }
    }
}

TEST_F(Integers, TheTableOfTheLanguage) {
    struct Case {
        u32 slot;
        i32 a, b;
        u32 type;
        double value;
    } cases[] = {
        {ACT_ADD, MAX, 1, TYPE_FLOAT, 2147483648.0},
        {ACT_SUBTRACT, MIN, 1, TYPE_FLOAT, -2147483649.0},
        {ACT_MULTIPLY, 65536, 65536, TYPE_FLOAT, 4294967296.0},
        {ACT_DIVIDE, 7, 2, TYPE_FLOAT, 3.5},
        {ACT_DIVIDE, 6, 3, TYPE_INTEGER, 2},
        {ACT_DIVIDE, -7, 2, TYPE_FLOAT, -3.5},
        {ACT_REMAINDER, -7, 2, TYPE_INTEGER, -1},
        {ACT_POWER, 2, 31, TYPE_FLOAT, 2147483648.0},
        {ACT_POWER, 2, 30, TYPE_INTEGER, 1073741824},
    };
    for (const Case& c : cases) {
        Cell* r = direct(c.slot, int_(c.a), int_(c.b));
        EXPECT_EQ(TYPE_OF(r), c.type) << c.a << " slot" << c.slot << " " << c.b;
        EXPECT_EQ(number_of(r), c.value) << c.a << " slot" << c.slot << " " << c.b;
    }
    EXPECT_EQ(error_of([] { direct(ACT_DIVIDE, int_(MIN), int_(-1)); }), "math overflow");
    EXPECT_EQ(error_of([] { direct(ACT_REMAINDER, int_(1), int_(0)); }), "math zero-divide");
}

TEST_F(Integers, ComplementAndMakeFromLogic) {
    EXPECT_EQ(integer::get(unary_(ACT_COMPLEMENT, int_(5))), -6);
    EXPECT_EQ(integer::get(unary_(ACT_COMPLEMENT, int_(MIN))), MAX);
    EXPECT_EQ(integer::get(convert(ACT_MAKE, TYPE_INTEGER, logic_(true))), 1);
    EXPECT_EQ(integer::get(convert(ACT_MAKE, TYPE_INTEGER, logic_(false))), 0);
    EXPECT_EQ(error_of([] { to_(TYPE_INTEGER, logic_(true)); }), "script bad-to-arg") << "only make takes a logic!";
}

// --- Richer operands ----------------------------------------------------------------

struct CoreCall {
    u32 left_type = 0, right_type = 0;
    i32 left_first = 0, right_value = 0;
    i32 op = -1;
};
CoreCall last_call;
Cell* recording_core(i32 op) {
    Cell* a = stack::arguments;
    last_call = {TYPE_OF(a), TYPE_OF(a + 1), i32(a->w2), i32(a[1].w2), op};
    return a;
}
Cell* negate_first_word(Cell* value) {
    value->w2 = u32(0) - value->w2;
    value->w3 = u32(0) - value->w3;
    return value;
}

struct StandIns {
    actions::MathCore cores[TYPE_TOTAL];
    action::Generic negate = datatype::table[TYPE_PAIR][ACT_NEGATE - 1];
    StandIns() {
        std::copy(std::begin(actions::math_core), std::end(actions::math_core), cores);
        for (u32 t : {TYPE_PAIR, TYPE_POINT2D, TYPE_POINT3D, TYPE_TUPLE, TYPE_DATE, TYPE_MONEY})
            actions::math_core[t] = recording_core;
        datatype::table[TYPE_PAIR][ACT_NEGATE - 1] = reinterpret_cast<action::Generic>(negate_first_word);
    }
    ~StandIns() {
        std::copy(std::begin(cores), std::end(cores), actions::math_core);
        datatype::table[TYPE_PAIR][ACT_NEGATE - 1] = negate;
    }
};

Cell* of_type(u32 type, i32 w2) {
    Cell* c = int_(w2);
    cell::set_type(c, type);
    return c;
}

TEST_F(Integers, RicherOperandsGoToTheirCore) {
    StandIns stand_ins;
    struct Case {
        u32 slot;
        const Cell* right;
        u32 core_left, core_right;
        i32 left_first, right_value;
        i32 op;
    } cases[] = {
        // The richer value comes first, the integer after it.
        {ACT_ADD, pair_(1, 2), TYPE_PAIR, TYPE_INTEGER, 1, 10, MATH_ADD},
        {ACT_MULTIPLY, of_type(TYPE_POINT2D, 3), TYPE_POINT2D, TYPE_INTEGER, 3, 10, MATH_MULTIPLY},
        {ACT_ADD, of_type(TYPE_POINT3D, 3), TYPE_POINT3D, TYPE_INTEGER, 3, 10, MATH_ADD},
        {ACT_ADD, of_type(TYPE_TUPLE, 4), TYPE_TUPLE, TYPE_INTEGER, 4, 10, MATH_ADD},
        {ACT_AND_T, of_type(TYPE_TUPLE, 4), TYPE_TUPLE, TYPE_INTEGER, 4, 10, MATH_AND},
        {ACT_ADD, of_type(TYPE_DATE, 5), TYPE_DATE, TYPE_INTEGER, 5, 10, MATH_ADD},
        // 10 - 1x2 is -1x-2 + 10.
        {ACT_SUBTRACT, pair_(1, 2), TYPE_PAIR, TYPE_INTEGER, -1, 10, MATH_ADD},
        // money! converts the integer itself: the operands stay.
        {ACT_SUBTRACT, of_type(TYPE_MONEY, 6), TYPE_INTEGER, TYPE_MONEY, 10, 6, MATH_SUBTRACT},
    };
    for (const Case& c : cases) {
        last_call = {};
        direct(c.slot, int_(10), c.right);
        EXPECT_EQ(last_call.left_type, c.core_left) << mold(c.right);
        EXPECT_EQ(last_call.right_type, c.core_right) << mold(c.right);
        EXPECT_EQ(last_call.left_first, c.left_first) << mold(c.right);
        EXPECT_EQ(last_call.right_value, c.right_value) << mold(c.right);
        EXPECT_EQ(last_call.op, c.op) << mold(c.right);
    }
}

TEST_F(Integers, RicherOperandsThatDoNotRelate) {
    StandIns stand_ins;
    struct Case {
        u32 slot;
        const Cell* right;
        const char* word;
    } cases[] = {
        {ACT_DIVIDE, pair_(2, 2), "divide"},
        {ACT_REMAINDER, pair_(2, 2), "remainder"},
        {ACT_REMAINDER, of_type(TYPE_POINT3D, 1), "remainder"},
        {ACT_REMAINDER, of_type(TYPE_TUPLE, 1), "remainder"},
        {ACT_DIVIDE, of_type(TYPE_POINT2D, 1), "divide"},
        {ACT_SUBTRACT, of_type(TYPE_TUPLE, 1), "subtract"},
        {ACT_DIVIDE, of_type(TYPE_TUPLE, 1), "divide"},
        {ACT_SUBTRACT, of_type(TYPE_DATE, 1), "subtract"},
        {ACT_MULTIPLY, of_type(TYPE_DATE, 1), "multiply"},
        {ACT_OR_T, of_type(TYPE_DATE, 1), "or~"},
    };
    for (const Case& c : cases) {
        try {
            direct(c.slot, int_(10), c.right);
            ADD_FAILURE() << "no error for " << c.word;
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "not-related");
            ASSERT_EQ(e.argc, 2);
            EXPECT_EQ(symbol::spelling(i32(e.args[0].w2)), c.word);
            EXPECT_EQ(e.args[1].w1, u32(TYPE_INTEGER));
        }
    }
}

TEST_F(Integers, CoresNotThereYetAreNotDone) {
    actions::MathCore saved[TYPE_TOTAL];
    std::copy(std::begin(actions::math_core), std::end(actions::math_core), saved);
    std::fill(std::begin(actions::math_core), std::end(actions::math_core), nullptr);
    for (u32 t : {TYPE_PAIR, TYPE_POINT2D, TYPE_TUPLE, TYPE_DATE, TYPE_MONEY}) {
        Cell* right = of_type(t, 1);
        EXPECT_EQ(error_of([&] { direct(ACT_ADD, int_(1), right); }), "internal not-done") << t;
        EXPECT_EQ(TYPE_OF(right), t);
    }
    // The subtraction checks for the core before it negates anything.
    Cell* args = stack::push(int_(10));
    Cell* pair = stack::push(pair_(1, 2));
    stack::arguments = args;
    EXPECT_EQ(error_of([] { integer::do_math(MATH_SUBTRACT); }), "internal not-done");
    EXPECT_EQ(integer::get(args), 10);
    EXPECT_EQ(pair->w2, 1u);
    std::copy(std::begin(saved), std::end(saved), actions::math_core);
}

// --- Rounding ---------------------------------------------------------------------------

TEST_F(Integers, Round) {
    struct Case {
        i32 value;
        std::optional<i32> scale;
        const char* how;
        i64 result;   // above 32 bits: math overflow
    } cases[] = {
        {17, 5, "", 15},
        {18, 5, "", 20},
        {-15, 10, "", -20},
        {25, 10, "even", 20},
        {35, 10, "even", 40},
        {-25, 10, "even", -20},
        {-15, 10, "half-ceiling", -10},
        {15, 10, "half-ceiling", 20},
        {15, 10, "half-down", 10},
        {-11, 10, "floor", -20},
        {11, 10, "floor", 10},
        {-19, 10, "ceiling", -10},
        {11, 10, "ceiling", 20},
        {-19, 10, "down", -10},
        {19, -10, "", 20},
        {7, 0, "", 7},
        {7, std::nullopt, "", 7},
        {MIN, std::nullopt, "", MIN},
        {MIN, 1, "", MIN},
        // Computed in 64 bits: a multiple beyond 32 bits on one side does not
        // stop a result within them on the other.
        {MAX, 2, "floor", MAX - 1},
        {MAX, 2, "down", MAX - 1},
        {MAX, 2, "half-down", MAX - 1},
        {MAX, 2, "", i64(MAX) + 1},
        {MAX, 2, "ceiling", i64(MAX) + 1},
        {MIN, 10, "down", -2147483640},
        {MIN, 10, "", -2147483650},
        {MIN, 10, "ceiling", -2147483640},
        {MIN, 3, "floor", -2147483649},
        {MIN, MIN, "", MIN},
        {5, MIN, "", 0},
        {1073741824, MIN, "half-down", 0},
        {1073741824, MIN, "", 2147483648},
        {-1073741824, MIN, "", MIN},
    };
    for (const Case& c : cases) {
        Cell* scale = c.scale ? int_(*c.scale) : nullptr;
        std::string what = std::to_string(c.value) + " /" + c.how + " to " + (c.scale ? std::to_string(*c.scale) : "-");
        if (c.result < MIN || c.result > MAX) {
            EXPECT_EQ(error_of([&] { round_(int_(c.value), scale, c.how); }), "math overflow") << what;
            continue;
        }
        Cell* r = round_(int_(c.value), scale, c.how);
        EXPECT_EQ(TYPE_OF(r), u32(TYPE_INTEGER)) << what;
        EXPECT_EQ(integer::get(r), c.result) << what;
    }
}

TEST_F(Integers, RoundToANonIntegerScaleIsAFloatRound) {
    Cell* r = round_(int_(17), fl(2.5));
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_FLOAT));
    EXPECT_EQ(float_::get(r), 17.5);
    r = round_(int_(17), percent_(0.5));
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_PERCENT));
    EXPECT_EQ(float_::get(r), 17.0);
    r = round_(int_(100), time_(60));
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_TIME));
    EXPECT_EQ(float_::get(r), 120.0);
    Cell* money = of_type(TYPE_MONEY, 1);
    EXPECT_EQ(error_of([&] { round_(int_(17), money); }), "script not-related");
}

// --- Conversions ------------------------------------------------------------------------

TEST_F(Integers, To) {
    struct Case {
        const Cell* spec;
        i32 value;
    } cases[] = {
        {char_::push('a'), 97},
        {fl(-2.9), -2},
        {fl(2147483647.0), MAX},
        {fl(-2147483648.0), MIN},
        {percent_(0.5), 0},
        {percent_(150.0), 150},
        {time_(2.5), 3},
        {time_(-2.5), -3},
        {time_(-1.2), -1},
        {time_(-1.7), -2},
        {time_(5415.5), 5416},
        {time_(2147483647.4), MAX},
        {time_(-2147483648.4), MIN},
        {binary_({0x01, 0x02}), 258},
        {binary_({0xFF, 0xFF, 0xFF, 0xFF}), -1},
        {binary_({1, 2, 3, 4, 5}), 0x01020304},
        {binary_({}), 0},
        {binary_({9, 0x80, 0, 0, 0}, 1), MIN},
        {binary_({1, 2}, 5), 0},
        {word("FFFFFFFF", TYPE_ISSUE), -1},
        {word("ff", TYPE_ISSUE), 255},
        {word("0A1b", TYPE_ISSUE), 0xA1B},
        {str("-2147483648"), MIN},
        {str("2147483647"), MAX},
        {str("+5"), 5},
        {str("1'000"), 1000},
        {str("'1'0'"), 10},
        {str("007"), 7},
        {at_(str("x12"), 1), 12},
        {text_series(U"-45", 2, TYPE_FILE), -45},
        {text_series(U"99", 4, TYPE_EMAIL), 99},
    };
    for (const Case& c : cases) {
        Cell* r = to_(TYPE_INTEGER, c.spec);
        EXPECT_EQ(r->header, u32(TYPE_INTEGER)) << mold(c.spec);
        EXPECT_EQ(integer::get(r), c.value) << mold(c.spec);
    }
    Cell* spec = int_(5);
    EXPECT_EQ(to_(TYPE_INTEGER, spec)->w2, 5u);

    struct Refusal {
        const Cell* spec;
        const char* error;
    } refusals[] = {
        {fl(2147483648.0), "script type-limit"},
        // The float itself must lie in the range, not only its integer part.
        {fl(2147483647.5), "script type-limit"},
        {fl(-2147483648.5), "script type-limit"},
        {fl(-2147483649.0), "script type-limit"},
        {fl(std::nan("")), "script type-limit"},
        {percent_(1e10), "script type-limit"},
        {time_(2147483647.5), "script type-limit"},
        {time_(-3e9), "script type-limit"},
        {time_(std::nan("")), "script type-limit"},
        {word("123456789", TYPE_ISSUE), "script invalid-data"},
        {word("xyz", TYPE_ISSUE), "script invalid-data"},
        {str("2147483648"), "script bad-to-arg"},
        {str("-2147483649"), "script bad-to-arg"},
        {str("99999999999999999999"), "script bad-to-arg"},
        {str("12a"), "script bad-to-arg"},
        {str("1.5"), "script bad-to-arg"},
        {str(" 1"), "script bad-to-arg"},
        {str(""), "script bad-to-arg"},
        {str("-"), "script bad-to-arg"},
        {str("'"), "script bad-to-arg"},
        {none_(), "script bad-to-arg"},
        {test::block({int_(1)}), "script bad-to-arg"},
        {pair_(1, 2), "script bad-to-arg"},
    };
    for (const Refusal& c : refusals) EXPECT_EQ(error_of([&] { to_(TYPE_INTEGER, c.spec); }), c.error) << mold(c.spec);
    // Money and dates convert through their own datatypes: the integral part,
    // the seconds since 1970.
    EXPECT_EQ(integer::get(to_(TYPE_INTEGER, of_type(TYPE_MONEY, 1))), 1000000000);
    EXPECT_EQ(integer::get(to_(TYPE_INTEGER, date::push(date::pack(1970, 1, 2, 0, false), 0))), 86400);
    try {
        to_(TYPE_INTEGER, str("12a"));
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 2);
        EXPECT_EQ(e.args[0].w1, u32(TYPE_INTEGER));
        EXPECT_EQ(TYPE_OF(&e.args[1]), u32(TYPE_STRING));
    }
}

TEST_F(Integers, TextReadersAtEveryWidth) {
    struct Case {
        std::u32string text;
        i32 error;
        i32 value;
    } cases[] = {
        {U"0", 0, 0},           {U"-0", 0, 0},         {U"+2147483647", 0, MAX}, {U"-2147483648", 0, MIN},
        {U"2147483648", -2, 0}, {U"-21474836480", -2, 0}, {U"1'2'3", 0, 123},   {U"12x", -1, 0},
        {U"+", -1, 0},          {U"''", -1, 0},        {U"\u0661", -1, 0},       {U"1\U0001F600", -1, 0},
    };
    for (const Case& c : cases) {
        for (u32 unit : {1u, 2u, 4u}) {
            if (unit == 1 && c.text.find_first_of(U"\u0661\U0001F600") != std::u32string::npos) continue;
            if (unit == 2 && c.text.find(U'\U0001F600') != std::u32string::npos) continue;
            Cell* s = text_series(c.text, unit);
            SeriesBuffer* b = series::buffer_of(s);
            i32 error = 7;
            i32 v = lexer::string_to_integer(series::head(b), string::zs_length(s), unit, &error);
            EXPECT_EQ(error, c.error) << unit;
            if (error == 0) {
                EXPECT_EQ(v, c.value);
            }
        }
    }
    struct FloatCase {
        const char* text;
        bool ok;
        double value;
    } floats[] = {
        {"1.5", true, 1.5},   {"-1,5", true, -1.5}, {"1'000", true, 1000}, {"1.2'5", true, 1.25},
        {"+.5e+2", true, 50}, {"1e-2", true, 0.01}, {"1''0", false, 0},    {"1.2.3", false, 0},
        {"e5", false, 0},     {"1e+", false, 0},    {"'1", false, 0},      {"1.'5", false, 0},
        {"--1", false, 0},    {"-", false, 0},      {"", false, 0},
    };
    for (const FloatCase& c : floats) {
        i32 error = 7;
        double d = lexer::string_to_float(reinterpret_cast<const u8*>(c.text), i32(std::strlen(c.text)), 1, &error);
        EXPECT_EQ(error == 0, c.ok) << c.text;
        if (c.ok) EXPECT_EQ(d, c.value) << c.text;
        else EXPECT_TRUE(d != d) << c.text << " answers a NaN";
    }
    std::string long_text(lexer::MAX_FLOAT_TEXT, '1');
    i32 error;
    lexer::string_to_float(reinterpret_cast<const u8*>(long_text.data()), i32(long_text.size()), 1, &error);
    EXPECT_EQ(error, 0);
    long_text += '1';
    lexer::string_to_float(reinterpret_cast<const u8*>(long_text.data()), i32(long_text.size()), 1, &error);
    EXPECT_EQ(error, -1);
}

// --- char! --------------------------------------------------------------------------------

TEST_F(Integers, CharTakesOnlyTheIntegerActionsThatFitIt) {
    for (u32 slot : {ACT_RANDOM, ACT_ABSOLUTE, ACT_EVEN_Q, ACT_ODD_Q})
        EXPECT_EQ(actions::lookup(TYPE_CHAR, slot), actions::lookup(TYPE_INTEGER, slot)) << slot;
    for (u32 slot : {ACT_NEGATE, ACT_POWER, ACT_ROUND, ACT_COMPLEMENT, ACT_REFLECT})
        EXPECT_EQ(actions::lookup(TYPE_CHAR, slot), nullptr) << slot;
    // A percent! made by to percent! converts through its stored fraction.
    Cell* p = to_(TYPE_PERCENT, int_(97));
    Cell* c = to_(TYPE_CHAR, p);
    EXPECT_EQ(TYPE_OF(c), u32(TYPE_CHAR));
    EXPECT_EQ(c->w2, u32('a'));
    EXPECT_EQ(error_of([] { to_(TYPE_CHAR, to_(TYPE_PERCENT, fl(-0.01 * 200))); }), "script out-of-range");
}

}  // namespace
}  // namespace zir
