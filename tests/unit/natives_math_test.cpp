// The math natives through the interpreter: exact results of the folded
// degree angles, the shifts, to-hex, the makers and max/min over composite
// values.
#include "eval_support.hpp"
#include <gtest/gtest.h>

#include "datatypes/money.hpp"

namespace zir {
namespace {

using namespace test;

const Cell* currencies = nullptr;
const Cell* currency_list() { return currencies; }

// A currency list is installed, as the system object will.
struct MathNatives : EvalTest {
    void SetUp() override {
        EvalTest::SetUp();
        currencies = test::block({word("EUR"), word("USD")});
        money::locale_currencies = currency_list;
    }
    void TearDown() override {
        money::locale_currencies = nullptr;
        EvalTest::TearDown();
    }
};

struct Case {
    const char* code;
    const char* molded;
};

void expect_molds(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.molded) << c.code;
}

void expect_errors(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(eval_error(c.code), c.molded) << c.code;
}

TEST_F(MathNatives, DegreeAnglesFoldToExactResults) {
    expect_molds({
        {"sine 180", "0.0"},
        {"sine 0", "0.0"},
        {"cosine 90", "0.0"},
        {"cosine -90", "0.0"},
        {"sine 90", "1.0"},
        {"sine -90", "-1.0"},
        {"cosine 180", "-1.0"},
        {"tangent 90", "1.#INF"},
        {"tangent -90", "-1.#INF"},
        {"tangent 270", "-1.#INF"},
        {"tangent 0", "0.0"},
        {"arctangent2 1 1", "45.0"},
        {"arctangent2 0 -1", "180.0"},
        {"arcsine 1", "90.0"},
        {"arccosine 1", "0.0"},
        {"arctangent 1", "45.0"},
        {"NaN? arcsine 2", "true"},
        {"NaN? 1.0", "false"},
        {"NaN? 1", "false"},
        {"sine/radians 0", "0.0"},
        {"log-2 8", "3.0"},
        {"log-10 1000", "3.0"},
        {"log-e 1", "0.0"},
        {"exp 0", "1.0"},
        {"square-root 16", "4.0"},
        {"square-root 25%", "0.5"},
        {"log-e 0", "-1.#INF"},
        {"NaN? square-root -1", "true"},
    });
}

TEST_F(MathNatives, FoldedAnglesAgree) {
    for (const char* same : {"(sine 150) = sine 30", "(sine 390) = sine 30", "(sine -330) = sine 30",
                             "(cosine 300) = cosine 60", "(tangent 225) = tangent 45",
                             "(arctangent2/radians 1 0) = (arcsine/radians 1)"})
        EXPECT_EQ(eval_mold(same), "true") << same;
}

TEST_F(MathNatives, Shifts) {
    expect_molds({
        {"shift 1 31", "0"},
        {"shift -8 1", "-4"},
        {"shift -8 40", "-1"},
        {"shift 8 40", "0"},
        {"shift/logical -8 1", "2147483644"},
        {"shift/logical -8 32", "0"},
        {"shift/left 1 32", "0"},
        {"shift/left 1 31", "-2147483648"},
        {"shift/left 3 2", "12"},
        {"shift/left/logical 1 4", "16"},
        {"shift 5 -3", "5"},
        {"shift/left 5 -3", "5"},
    });
}

TEST_F(MathNatives, ToHex) {
    expect_molds({
        {"to-hex 255", "#000000FF"},
        {"to-hex -1", "#FFFFFFFF"},
        {"to-hex/size 255 2", "#FF"},
        {"to-hex/size 255 1", "#F"},
        {"to-hex/size 255 10", "#000000FF"},
    });
    expect_errors({{"to-hex/size 255 0", "script invalid-arg"}, {"to-hex/size 255 -3", "script invalid-arg"}});
}

TEST_F(MathNatives, Makers) {
    expect_molds({
        {"as-pair 1.9 -1.9", "1x-1"},
        {"as-pair 3 4", "3x4"},
        {"as-pair 2147483647.9 -2147483648.5", "2147483647x-2147483648"},
        {"as-point2D 1 2.5", "(1, 2.5)"},
        {"as-point3D 1 2 3", "(1, 2, 3)"},
        {"as-money 'USD 12", "USD$12.00"},
        {"as-money 'EUR 1.5", "EUR$1.50"},
    });
    expect_errors({
        {"as-pair 1e10 0", "script invalid-arg"},
        {"as-pair 0 -2147483649.0", "script invalid-arg"},
        {"as-pair 1.#INF 0", "script invalid-arg"},
        {"as-pair 0 1.#NaN", "script invalid-arg"},
        {"as-money 'XYZ 1", "script bad-denom"},
    });
    // The offending float is the error's argument.
    EXPECT_NE(eval_report("as-pair 1e10 0").find("invalid argument: 10000000000.0"), std::string::npos);
}

TEST_F(MathNatives, ZeroQ) {
    expect_molds({
        {"zero? 0", "true"},     {"zero? 0.0", "true"},    {"zero? 0%", "true"},     {"zero? 0:00", "true"},
        {"zero? #\"^@\"", "true"}, {"zero? 0x0", "true"},  {"zero? 0.0.0", "true"},  {"zero? $0", "true"},
        {"zero? (0, 0)", "true"}, {"zero? (0, 0, 0)", "true"},
        {"zero? 1", "false"},    {"zero? 0x1", "false"},   {"zero? 0.0.1", "false"}, {"zero? (0, 0, 1)", "false"},
        {"zero? $0.01", "false"}, {"zero? #\"a\"", "false"},
    });
}

TEST_F(MathNatives, MaxMin) {
    expect_molds({
        {"max 1x5 3", "3x5"},
        {"max 3 1x5", "3x5"},
        {"min 1x5 3", "1x3"},
        {"min 1.2.3 2", "1.2.2"},
        {"max 1.2.3 300", "255.255.255"},
        {"min 1.2.3 -5", "0.0.0"},
        {"max 1.2.3 3.1.1", "3.2.3"},
        {"max 1 2.5", "2.5"},
        {"max 3 2.5", "3"},
        {"min 3 2.5", "2.5"},
        {"min 2 2.0", "2.0"},
        {"max 2 2.0", "2"},
        {"max 1x2 3x1", "3x2"},
        {"max 1x2 1e10", "(1e10, 1e10)"},
        {"max (1, 5) 3", "(3, 5)"},
        {"min (1, 5) 2x2", "(1, 2)"},
        {"max \"abc\" \"abd\"", "\"abd\""},
        {"min 1:00 0:30", "0:30:00"},
        {"max 1.#NaN 3", "1.#NaN"},
        {"min 3 1.#NaN", "1.#NaN"},
    });
    expect_errors({{"max 1 \"a\"", "script invalid-compare"}, {"max 1x2 1.#INF", ""}});
}

// A float that no 32-bit integer holds is refused when a pair takes it as an
// integer, not wrapped.
TEST_F(MathNatives, TupleWithHugeFloatIsRefused) {
    EXPECT_EQ(eval_error("max 1.2.3 1e20"), "script type-limit");
    EXPECT_EQ(eval_error("min 1.2.3 1.#NaN"), "script type-limit");
}

}  // namespace
}  // namespace zir
