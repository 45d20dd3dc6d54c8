// money!: the packed digits, text, the currency rules of arithmetic and
// comparison, rounding, conversions, make and to, path access and random.
// The arithmetic itself is checked against Python's decimal by the money
// oracle (tests/oracle/money.py).
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/money.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/hash_table.hpp"
#include "number_test_support.hpp"

namespace zir {
namespace {

using namespace test;

const Cell* currencies = nullptr;
const Cell* digits_option = nullptr;
const Cell* currency_list() { return currencies; }
const Cell* money_digits() { return digits_option; }

// A currency list and the money-digits option are installed for every test,
// as the system object will; the lexer's text scanner is taken away (a test
// that ran the lexer earlier installed it) and put back after.
struct Money : ValueTest {
    money::StringToMoney saved_scanner = nullptr;
    void SetUp() override {
        ValueTest::SetUp();
        saved_scanner = money::string_to_money;
        money::string_to_money = nullptr;
        currencies = test::block({word("AUD"), word("CHF"), word("EUR"), word("GBP"), word("JPY"), word("USD")});
        digits_option = int_(2);
        money::locale_currencies = currency_list;
        money::option_money_digits = money_digits;
    }
    void TearDown() override {
        money::locale_currencies = nullptr;
        money::option_money_digits = nullptr;
        money::string_to_money = saved_scanner;
        ValueTest::TearDown();
    }
};

// A money! from its text: "-USD12.50" or "3.25" (sign, optional code, amount).
Cell* m(const char* text) {
    std::string t = text;
    bool negative = t[0] == '-';
    if (negative) t.erase(0, 1);
    Cell* code = nullptr;
    if (!t.empty() && t[0] >= 'A' && t[0] <= 'Z') {
        code = word(t.substr(0, 3).c_str());
        t.erase(0, 3);
    }
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_NONE);
    const u8* begin = reinterpret_cast<const u8*>(t.data());
    const u8* point = nullptr;
    for (size_t i = 0; i < t.size(); i++)
        if (t[i] == '.') point = begin + i;
    EXPECT_TRUE(money::make_at(c, negative, code, begin, point, begin + t.size())) << text;
    return c;
}

Cell* fl_(double v) { return test::float_(v); }

std::string mold_all(const Cell* v) { return mold(v, MoldOptions{false, true, false, -1}); }

// --- The cell ----------------------------------------------------------------------

TEST_F(Money, DigitsArePackedTwoToAByteAfterTheCurrency) {
    Cell* v = m("-USD1234567.89012");
    EXPECT_EQ(v->header & 0xFF, TYPE_MONEY);
    EXPECT_TRUE(money::get_sign(v));
    EXPECT_EQ(v->header & money::SIGN_BIT, money::SIGN_BIT);
    EXPECT_EQ(money::get_currency(v), 6u);
    EXPECT_EQ(v->w1 & 0xFF, 6u);
    const u8 expected[11] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12};
    EXPECT_EQ(std::memcmp(money::digit_area(v), expected, 11), 0);
    EXPECT_EQ(money::get_digit(money::digit_area(v), 17), 7);
    EXPECT_EQ(money::get_digit(money::digit_area(v), 18), 8);
    EXPECT_EQ(money::digit_length(money::digit_area(v)), 12);
    EXPECT_EQ(money::digit_length(money::digit_area(m("0"))), 1);
    EXPECT_EQ(money::magnitude_of(v), money::Magnitude(123456789012ull));
    // The loaders' raw maker takes the same bytes.
    Cell* raw = money::push_raw(true, 6, expected);
    EXPECT_EQ(compare_(raw, v, COMP_SAME), 0);
    EXPECT_EQ(mold_all(raw), "-USD$1234567.89012");
    // A zero magnitude is zero whatever the sign bit; its hash drops the
    // sign, and every hash drops the currency.
    Cell* negative_zero = m("-0");
    EXPECT_EQ(money::sign_q(negative_zero), 0);
    EXPECT_TRUE(money::zero_q(negative_zero));
    EXPECT_EQ(hash_table::hash_value(negative_zero, false), hash_table::hash_value(m("0"), false));
    EXPECT_EQ(hash_table::hash_value(m("USD1"), false), hash_table::hash_value(m("1"), false));
    EXPECT_NE(hash_table::hash_value(m("-1"), false), hash_table::hash_value(m("1"), false));
}

TEST_F(Money, TheMakerRefusesWhatTheCellCannotHold) {
    auto make = [](const char* digits, const Cell* code = nullptr) {
        Cell c;
        cell::init(&c, TYPE_NONE);
        const u8* b = reinterpret_cast<const u8*>(digits);
        const u8* e = b + std::strlen(digits);
        const u8* p = nullptr;
        for (const u8* q = b; q < e; q++)
            if (*q == '.') p = q;
        return money::make_at(&c, false, code, b, p, e) ? mold_all(&c) : "null";
    };
    EXPECT_EQ(make("12345678901234567"), "$12345678901234567.00000");
    EXPECT_EQ(make("00012345678901234567.5"), "$12345678901234567.50000") << "leading zeros are no digits";
    EXPECT_EQ(make("123456789012345678"), "null") << "no longer cut to its last 17 digits";
    EXPECT_EQ(make("1'234'567.123'456"), "$1234567.12345") << "marks skipped, sixth decimal cut";
    EXPECT_EQ(make("12a"), "null");
    EXPECT_EQ(make("1.2.3"), "null");
    EXPECT_EQ(make(""), "$0.00000");
    EXPECT_EQ(make("5", word("XYZ")), "null");
    EXPECT_EQ(make("5", word("eur")), "EUR$5.00000") << "codes are found whatever their case";
    EXPECT_EQ(make("5", none_()), "$5.00000");
    EXPECT_EQ(money::currency_index(word("usd")), 6);
    EXPECT_EQ(money::currency_index(word("XXX")), -1);
    money::locale_currencies = nullptr;
    EXPECT_EQ(money::currency_index(word("USD")), -1);
}

// --- Text ---------------------------------------------------------------------------

TEST_F(Money, FormGroupsAndShowsTheMoneyDigits) {
    struct Case {
        const char* value;
        const char* form;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {"USD1234567.5", "USD$1'234'567.50", "USD$1234567.50", "USD$1234567.50000"},
        {"-0.5", "-$0.50", "-$0.50", "-$0.50000"},
        {"-0", "$0.00", "$0.00", "$0.00000"},
        {"0.00999", "$0.00", "$0.00", "$0.00999"},
        {"123", "$123.00", "$123.00", "$123.00000"},
        {"1234", "$1'234.00", "$1234.00", "$1234.00000"},
        {"99999999999999999.99999", "$99'999'999'999'999'999.99", "$99999999999999999.99",
         "$99999999999999999.99999"},
        {"-EUR12345678901234567", "-EUR$12'345'678'901'234'567.00", "-EUR$12345678901234567.00",
         "-EUR$12345678901234567.00000"},
    };
    for (const Case& c : cases) {
        EXPECT_FORM(m(c.value), c.form);
        EXPECT_MOLD(m(c.value), c.mold);
        EXPECT_EQ(mold_all(m(c.value)), c.mold_all);
    }
    struct Digits {
        const Cell* option;
        const char* form;
    } digits[] = {
        {int_(0), "$1'234"}, {int_(2), "$1'234.56"}, {int_(9), "$1'234.56789"}, {int_(5), "$1'234.56789"},
        {int_(1), "$1'234.5"}, {int_(-3), "$1'234"}, {fl_(3.0), "$1'234.56"}, {none_(), "$1'234.56"},
    };
    Cell* v = m("1234.56789");
    for (const Digits& d : digits) {
        digits_option = d.option;
        EXPECT_FORM(v, d.form) << mold(d.option);
    }
    digits_option = int_(0);
    EXPECT_FORM(m("12"), "$12");
    EXPECT_EQ(mold_all(v), "$1234.56789") << "mold/all shows every digit";
    money::option_money_digits = nullptr;
    EXPECT_FORM(v, "$1'234.56");
    // The part left counts every character, the code's three letters too.
    Cell* buffer = str("");
    EXPECT_EQ(actions::form(m("-USD1234.5"), buffer, nullptr, 100), 100 - 13);
}

// --- Arithmetic -------------------------------------------------------------------------

TEST_F(Money, ArithmeticExamples) {
    struct Case {
        u32 slot;
        const Cell* a;
        const Cell* b;
        const char* result;
    } cases[] = {
        {ACT_ADD, m("0.10"), m("0.20"), "$0.30000"},
        {ACT_DIVIDE, m("1"), m("3"), "0.33333"},
        {ACT_DIVIDE, m("1"), int_(3), "$0.33333"},
        {ACT_REMAINDER, m("5"), m("3"), "$2.00000"},
        {ACT_REMAINDER, m("-5"), m("3"), "-$2.00000"},
        {ACT_REMAINDER, m("5"), m("-3"), "$2.00000"},
        {ACT_ADD, m("USD1"), m("1"), "USD$2.00000"},
        {ACT_ADD, m("1"), m("USD1"), "USD$2.00000"},
        {ACT_SUBTRACT, m("EUR1"), m("EUR3"), "-EUR$2.00000"},
        {ACT_ADD, m("1"), fl_(1.123456), "$2.12345"},
        {ACT_ADD, m("1"), fl_(2.675), "$3.67500"},
        {ACT_MULTIPLY, m("USD10"), percent_(0.5), "USD$5.00000"},
        {ACT_MULTIPLY, m("-2.5"), int_(-3), "$7.50000"},
        {ACT_MULTIPLY, m("0"), fl_(1e-3), "$0.00000"},
        {ACT_SUBTRACT, int_(5), m("USD1"), "USD$4.00000"},
        {ACT_MULTIPLY, int_(2), m("3.5"), "$7.00000"},
        {ACT_ADD, fl_(1.5), m("1"), "$2.50000"},
        {ACT_SUBTRACT, fl_(0.1), m("0.3"), "-$0.20000"},
        {ACT_DIVIDE, m("EUR10"), m("EUR4"), "2.5"},
        {ACT_DIVIDE, m("-7"), m("2"), "-3.5"},
        {ACT_ADD, m("1"), m("-1"), "$0.00000"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold_all(direct(c.slot, c.a, c.b)), c.result) << mold(c.a) << " " << mold(c.b);
    EXPECT_FORM(direct(ACT_DIVIDE, m("1"), int_(3)), "$0.33");
    struct Refusal {
        u32 slot;
        const Cell* a;
        const Cell* b;
        const char* error;
    } refusals[] = {
        {ACT_MULTIPLY, m("0.001"), fl_(0.001), "script type-limit"},
        {ACT_DIVIDE, m("0.00001"), int_(2), "script type-limit"},
        {ACT_MULTIPLY, m("99999999999"), m("2"), "script invalid-type"},
        {ACT_DIVIDE, int_(10), m("2"), "script invalid-type"},
        {ACT_REMAINDER, fl_(10.0), m("2"), "script invalid-type"},
        {ACT_ADD, m("USD1"), m("EUR1"), "script wrong-denom"},
        {ACT_DIVIDE, m("USD1"), m("EUR1"), "script wrong-denom"},
        {ACT_ADD, m("1"), str("1"), "script invalid-type"},
        {ACT_ADD, time_(60), m("1"), "script invalid-type"},
        {ACT_ADD, m("1"), fl_(1e-6), "script bad-make-arg"},
        {ACT_ADD, m("1"), fl_(1e17), "script bad-make-arg"},
        {ACT_ADD, m("1"), fl_(std::nan("")), "script bad-make-arg"},
        {ACT_DIVIDE, m("1"), m("0"), "math zero-divide"},
        {ACT_REMAINDER, m("1"), int_(0), "math zero-divide"},
        {ACT_ADD, m("99999999999999999.99999"), m("0.00001"), "script type-limit"},
        {ACT_SUBTRACT, m("-99999999999999999.99999"), m("0.00001"), "script type-limit"},
        // A product past 17 integral digits is refused, not cut to its low digits.
        {ACT_MULTIPLY, m("999999999999.99999"), fl_(999999.99999), "script type-limit"},
        {ACT_MULTIPLY, m("50000000000000000"), int_(2), "script type-limit"},
        {ACT_DIVIDE, m("10000000000000000"), fl_(0.1), "script type-limit"},
    };
    for (const Refusal& c : refusals)
        EXPECT_EQ(error_of([&] { direct(c.slot, c.a, c.b); }), c.error) << mold(c.a) << " " << mold(c.b);
    // Just below the limit.
    EXPECT_EQ(mold_all(direct(ACT_MULTIPLY, m("99999999999999999"), fl_(0.99999))), "$99998999999999999.00001");
}

TEST_F(Money, UnaryActions) {
    EXPECT_EQ(mold_all(unary_(ACT_NEGATE, m("USD1.5"))), "-USD$1.50000");
    EXPECT_EQ(mold_all(unary_(ACT_NEGATE, m("-1.5"))), "$1.50000");
    EXPECT_TRUE(money::zero_q(unary_(ACT_NEGATE, m("0"))));
    EXPECT_EQ(mold_all(direct(ACT_ABSOLUTE, m("-EUR3"))), "EUR$3.00000");
    EXPECT_TRUE(predicate_(ACT_ODD_Q, m("3.99")));
    EXPECT_TRUE(predicate_(ACT_EVEN_Q, m("-12.5")));
    EXPECT_TRUE(predicate_(ACT_EVEN_Q, m("0")));
    EXPECT_EQ(money::sign_q(m("-0.00001")), -1);
    EXPECT_TRUE(money::positive_q(m("0.00001")));
}

// --- Comparison ------------------------------------------------------------------------------

TEST_F(Money, CurrenciesInComparison) {
    struct Case {
        const Cell* a;
        const Cell* b;
        i32 op;
        i32 result;
    } cases[] = {
        {m("USD1"), m("1"), COMP_EQUAL, 0},
        {m("USD1"), m("1"), COMP_STRICT_EQUAL, 1},
        {m("USD1"), m("USD1"), COMP_STRICT_EQUAL, 0},
        {m("1"), m("USD1"), COMP_FIND, 1},
        {m("USD1"), m("1"), COMP_FIND, 0},
        {m("USD1"), m("EUR1"), COMP_EQUAL, 1},
        {m("USD1"), m("USD1"), COMP_SAME, 0},
        {m("1"), m("USD1"), COMP_SAME, 1},
        {m("-1"), m("1"), COMP_LESSER, -1},
        {m("1"), m("-1"), COMP_GREATER, 1},
        {m("-2"), m("-1"), COMP_LESSER, -1},
        {m("-0"), m("0"), COMP_EQUAL, 0},
        {m("-0"), m("0.00001"), COMP_LESSER, -1},
        {m("1"), int_(1), COMP_EQUAL, 0},
        {m("1"), int_(1), COMP_STRICT_EQUAL, 1},
        {m("2147483648"), int_(2147483647), COMP_GREATER, 1},
        {m("1.5"), fl_(1.5), COMP_EQUAL, 0},
        {m("-1.5"), fl_(-1.50001), COMP_GREATER, 1},
        {m("1"), fl_(1e-6), COMP_EQUAL, 1},
        {m("1"), fl_(1e-6), COMP_GREATER, 1},
        {m("-1"), fl_(1e-6), COMP_LESSER, -1},
        {m("0"), fl_(-1e-6), COMP_GREATER, 1},
        {m("0"), fl_(1e-6), COMP_LESSER, -1},
        {m("99999999999999999"), fl_(1e17), COMP_LESSER, -1},
        {m("-99999999999999999"), fl_(-1e18), COMP_GREATER, 1},
        {m("1"), str("1"), COMP_EQUAL, NOT_COMPARABLE},
        {m("1"), time_(1), COMP_EQUAL, NOT_COMPARABLE},
    };
    for (const Case& c : cases) EXPECT_EQ(compare_(c.a, c.b, c.op), c.result) << mold(c.a) << " op" << c.op << " " << mold(c.b);
    // Signs that differ answer -1 or 1, never -2 ("not comparable").
    EXPECT_TRUE(actions::compare(m("-1"), m("1"), COMP_LESSER));
    EXPECT_TRUE(actions::compare(m("-1"), int_(1), COMP_LESSER));
    EXPECT_FALSE(actions::compare(m("1"), fl_(std::nan("")), COMP_LESSER));
    EXPECT_FALSE(actions::compare(m("1"), fl_(std::nan("")), COMP_GREATER_EQUAL));
    EXPECT_EQ(error_of([&] { compare_(m("USD1"), m("EUR2"), COMP_LESSER); }), "script wrong-denom");
    EXPECT_EQ(error_of([&] { compare_(m("1"), fl_(1.123456), COMP_EQUAL); }), "script bad-make-arg");
    // Sorting: amounts without a currency first, then by currency code.
    struct Sorted {
        const Cell* a;
        const Cell* b;
        i32 result;
    } sorted[] = {
        {m("5"), m("AUD1"), -1}, {m("USD1"), m("9"), 1}, {m("USD1"), m("EUR5"), 1},
        {m("EUR1"), m("EUR5"), -1}, {m("-EUR1"), m("-EUR5"), 1}, {m("GBP2"), m("GBP2"), 0},
    };
    for (const Sorted& c : sorted) EXPECT_EQ(compare_(c.a, c.b, COMP_SORT), c.result) << mold(c.a) << " " << mold(c.b);
    // Numbers compare with money through the money comparison.
    EXPECT_EQ(compare_(int_(1), m("USD1"), COMP_EQUAL), 0);
    EXPECT_EQ(compare_(fl_(0.5), m("0.5"), COMP_EQUAL), 0);
    EXPECT_EQ(compare_(fl_(2.0), m("-3"), COMP_GREATER), 1);
}

// --- Rounding ----------------------------------------------------------------------------------

TEST_F(Money, Round) {
    struct Case {
        const char* how;
        const Cell* value;
        const Cell* scale;
        const char* result;
    } cases[] = {
        {"", m("2.5"), nullptr, "$3.00000"},
        {"even", m("2.5"), nullptr, "$2.00000"},
        {"even", m("3.5"), nullptr, "$4.00000"},
        {"down", m("-2.7"), nullptr, "-$2.00000"},
        {"floor", m("-2.1"), nullptr, "-$3.00000"},
        {"ceiling", m("-2.9"), nullptr, "-$2.00000"},
        {"half-ceiling", m("-2.5"), nullptr, "-$2.00000"},
        {"half-ceiling", m("2.5"), nullptr, "$3.00000"},
        {"half-down", m("2.5"), nullptr, "$2.00000"},
        {"", m("-2.5"), nullptr, "-$3.00000"},
        {"", m("USD17"), m("5"), "USD$15.00000"},
        {"", m("1.23456"), fl_(0.01), "$1.23000"},
        {"", m("1234"), int_(100), "$1200.00000"},
        {"", m("1250"), int_(-100), "$1300.00000"},
        // A tie is half the scale, not a fraction of .5: ...
        {"half-down", m("1.125"), m("0.01"), "$1.12000"},
        {"", m("1.125"), m("0.01"), "$1.13000"},
        {"even", m("1.125"), m("0.01"), "$1.12000"},
        {"even", m("1.135"), m("0.01"), "$1.14000"},
        {"half-down", m("1.5"), m("0.01"), "$1.50000"},
        {"half-down", m("17.5"), m("5"), "$15.00000"},
        // ... and evenness is the quotient's, as for integers.
        {"even", m("25"), m("10"), "$20.00000"},
        {"even", m("35"), m("10"), "$40.00000"},
        {"even", m("7.5"), m("5"), "$10.00000"},
        // A multiple of the scale stays, whatever the mode.
        {"ceiling", m("15"), m("5"), "$15.00000"},
        {"floor", m("-15"), m("5"), "-$15.00000"},
        {"ceiling", m("2"), nullptr, "$2.00000"},
        {"", m("0"), m("5"), "$0.00000"},
        {"", m("7"), m("0"), "$7.00000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mold_all(round_(c.value, c.scale, c.how)), c.result)
            << c.how << " " << mold(c.value) << " " << (c.scale ? mold(c.scale) : "");
    EXPECT_EQ(error_of([&] { round_(m("99999999999999999.5"), nullptr, ""); }), "script type-limit");
    EXPECT_EQ(error_of([&] { round_(m("1"), fl_(0.123456), ""); }), "script bad-make-arg");
    EXPECT_EQ(error_of([&] { round_(m("1"), time_(1), ""); }), "script not-related");
    EXPECT_EQ(error_of([&] { round_(int_(1), m("1"), ""); }), "script not-related");
    EXPECT_EQ(error_of([&] { round_(fl_(1.0), m("1"), ""); }), "script not-related");
}

// --- Conversions ---------------------------------------------------------------------------------

TEST_F(Money, ToIntegerAndFloat) {
    struct Case {
        const char* value;
        const char* result;
    } cases[] = {
        {"2147483647.99", "2147483647"}, {"-2147483648", "-2147483648"}, {"-2147483648.99999", "-2147483648"},
        {"2147483648", ""},              {"-2147483649", ""},            {"-0.99", "0"},
        {"99999999999999999", ""},       {"0", "0"},
    };
    for (const Case& c : cases) {
        if (*c.result) EXPECT_MOLD(to_(TYPE_INTEGER, m(c.value)), c.result) << c.value;
        else EXPECT_EQ(error_of([&] { to_(TYPE_INTEGER, m(c.value)); }), "script type-limit") << c.value;
    }
    EXPECT_EQ(float_::get(to_(TYPE_FLOAT, m("-1234.56789"))), -1234.56789);
    EXPECT_EQ(float_::get(to_(TYPE_FLOAT, m("0.1"))), 0.1);
    EXPECT_EQ(float_::get(to_(TYPE_FLOAT, m("99999999999999999.99999"))), 1e17);
    EXPECT_EQ(money::to_float(m("-0")), 0.0);
}

TEST_F(Money, MakeAndTo) {
    struct Case {
        u32 slot;
        const Cell* spec;
        const char* result;   // mold/all, or the error
    } cases[] = {
        {ACT_TO, int_(-5), "-$5.00000"},
        {ACT_TO, int_(-2147483647 - 1), "-$2147483648.00000"},
        {ACT_TO, int_(0), "$0.00000"},
        {ACT_TO, fl_(0.1), "$0.10000"},
        {ACT_TO, fl_(1.5), "$1.50000"},
        {ACT_TO, fl_(-0.0), "$0.00000"},
        {ACT_TO, fl_(12345.67891), "$12345.67891"},
        {ACT_TO, fl_(99999999999999984.0), "$99999999999999980.00000"},   // its shortest text
        {ACT_TO, fl_(0.00001), "$0.00001"},
        {ACT_TO, fl_(0.000001), "script bad-make-arg"},
        {ACT_TO, fl_(1e17), "script bad-make-arg"},
        {ACT_TO, fl_(1.123456), "script bad-make-arg"},
        {ACT_TO, fl_(std::numeric_limits<double>::infinity()), "script bad-make-arg"},
        {ACT_TO, percent_(0.5), "script bad-to-arg"},
        {ACT_TO, none_(), "script bad-to-arg"},
        {ACT_TO, test::block({int_(1)}), "script bad-to-arg"},
        {ACT_TO, str("$1.5"), "internal not-done"},
        {ACT_MAKE, word("EUR"), "EUR$0.00000"},
        {ACT_MAKE, word("xyz"), "script bad-make-arg"},
        {ACT_MAKE, test::block({word("USD"), int_(1), int_(50)}), "USD$1.00050"},
        {ACT_MAKE, test::block({word("USD"), int_(12), int_(99999)}), "USD$12.99999"},
        {ACT_MAKE, test::block({int_(-1), int_(50)}), "-$1.00050"},
        {ACT_MAKE, test::block({int_(0), int_(7)}), "$0.00007"},
        {ACT_MAKE, test::block({word("GBP"), fl_(2.5)}), "GBP$2.50000"},
        {ACT_MAKE, test::block({int_(3)}), "$3.00000"},
        {ACT_MAKE, test::block({fl_(1.5), int_(1)}), "script bad-make-arg"},
        {ACT_MAKE, test::block({word("USD")}), "script bad-make-arg"},
        {ACT_MAKE, test::block({}), "script bad-make-arg"},
        {ACT_MAKE, test::block({word("XYZ"), int_(1)}), "script bad-make-arg"},
        {ACT_MAKE, test::block({int_(1), int_(100000)}), "script bad-make-arg"},
        {ACT_MAKE, test::block({int_(1), int_(-1)}), "script bad-make-arg"},
        {ACT_MAKE, test::block({int_(1), int_(2), int_(3)}), "script bad-make-arg"},
        {ACT_MAKE, test::block({str("1")}), "script bad-make-arg"},
        {ACT_MAKE, test::block({fl_(1.123456)}), "script bad-make-arg"},
        {ACT_MAKE, int_(7), "$7.00000"},
        {ACT_MAKE, m("-USD1"), "-USD$1.00000"},
    };
    for (const Case& c : cases) {
        std::string got;
        std::string error = error_of([&] { got = mold_all(convert(c.slot, TYPE_MONEY, c.spec)); });
        EXPECT_EQ(error.empty() ? got : error, c.result) << (c.slot == ACT_MAKE ? "make " : "to ") << mold(c.spec);
    }
}

// A stand-in for the lexer's scanner: "$" and digits, or an error.
void fake_scanner(const u8* text, i32 length, u32 unit, bool* error, Cell* result) {
    std::string t;
    for (i32 i = 0; i < length; i++) t += char(text[i * i32(unit)]);
    if (t.size() < 2 || t[0] != '$') {
        *error = true;
        return;
    }
    const u8* b = reinterpret_cast<const u8*>(t.data()) + 1;
    const u8* point = nullptr;
    for (size_t i = 1; i < t.size(); i++)
        if (t[i] == '.') point = b + (i - 1);
    if (!money::make_at(result, false, nullptr, b, point, b + t.size() - 1)) *error = true;
}

TEST_F(Money, TextGoesThroughTheLexersScanner) {
    money::string_to_money = fake_scanner;
    EXPECT_EQ(mold_all(to_(TYPE_MONEY, str("$12.5"))), "$12.50000");
    EXPECT_EQ(mold_all(to_(TYPE_MONEY, text_series(U"$3", 4, TYPE_FILE))), "$3.00000");
    EXPECT_EQ(error_of([&] { to_(TYPE_MONEY, str("12")); }), "script bad-to-arg");
    // Eighteen integral digits: the maker answers null, the scanner fails.
    EXPECT_EQ(error_of([&] { to_(TYPE_MONEY, str("$123456789012345678")); }), "script bad-to-arg");
}

// --- Path access and pick ---------------------------------------------------------------------

TEST_F(Money, CodeAndAmount) {
    Cell* v = m("-EUR12.5");
    auto get = [&](Cell* element) {
        return actions::eval_path(stack::push(v), element, nullptr, nullptr, nullptr, nullptr, 0, false, true, true,
                                  false);
    };
    auto pick = [&](i32 index, Cell* boxed) { return actions::get<action::Pick>(v, ACT_PICK)(v, index, boxed); };
    EXPECT_MOLD(get(word("code")), "EUR");
    EXPECT_EQ(mold_all(get(word("amount"))), "-$12.50000");
    EXPECT_MOLD(get(int_(1)), "EUR");
    EXPECT_EQ(TYPE_OF(actions::eval_path(m("5"), word("code"), nullptr, nullptr, nullptr, nullptr, 0, false, true,
                                         true, false)),
              TYPE_NONE);
    EXPECT_EQ(mold_all(pick(2, int_(2))), "-$12.50000");
    EXPECT_MOLD(pick(0, word("code")), "EUR");
    EXPECT_EQ(error_of([&] { get(word("value")); }), "script invalid-path");
    EXPECT_EQ(error_of([&] { get(int_(3)); }), "script invalid-path");
    EXPECT_EQ(error_of([&] { pick(3, int_(3)); }), "script out-of-range");
    EXPECT_EQ(error_of([&] {
                  actions::eval_path(v, word("code"), word("USD"), nullptr, nullptr, nullptr, 0, false, false, true,
                                     false);
              }),
              "script bad-path-set");
    EXPECT_EQ(mold_all(v), "-EUR$12.50000");
}

// --- Random ------------------------------------------------------------------------------------------

TEST_F(Money, RandomAmountsStayWithinTheValue) {
    auto draw = [&](const Cell* v, bool seed) {
        Cell* c = stack::push(v);
        return actions::get<action::Random>(c, ACT_RANDOM)(c, seed, false, false);
    };
    Cell* v = m("-USD1234.56789");
    i32 below_half = 0;
    for (int i = 0; i < 2000; i++) {
        Cell* r = draw(v, false);
        ASSERT_EQ(money::get_currency(r), 6u);
        ASSERT_TRUE(money::get_sign(r));
        ASSERT_LE(money::magnitude_of(r), money::magnitude_of(v));
        if (money::magnitude_of(r) < money::magnitude_of(v) / 2) below_half++;
        stack::pop(1);
    }
    // The leading digit is kept at its bound only one time in a thousand:
    // otherwise it is 0 and the rest is drawn uniformly below 1000, which lies
    // below half the value 617 times in 1000.
    EXPECT_GT(below_half, 1100);
    EXPECT_LT(below_half, 1370);
    EXPECT_TRUE(money::zero_q(draw(m("0"), false)));
    EXPECT_EQ(TYPE_OF(draw(v, true)), TYPE_UNSET);
    Cell* first = draw(v, false);
    draw(v, true);
    Cell* again = draw(v, false);
    EXPECT_EQ(compare_(first, again, COMP_SAME), 0);
}

}  // namespace
}  // namespace zir
