// Float text conversion: digits against std::to_chars and printf, reading
// against std::from_chars (strtod where from_chars reports a range error), and
// the language's float layout.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/dtoa.hpp"
#include "support.hpp"

namespace zir {
namespace {

#ifdef ZIR_ASAN
constexpr int SCALE = 10;  // the sanitizer build runs a tenth of the random cases
#else
constexpr int SCALE = 1;
#endif

double from_bits(u64 b) { return std::bit_cast<double>(b); }
u64 to_bits(double v) { return std::bit_cast<u64>(v); }

std::string hex(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%a (%016llx)", v, (unsigned long long)to_bits(v));
    return buf;
}

// Digits and decimal exponent k with value = 0.DIGITS x 10^k.
struct Digits {
    std::string digits;
    int k;
    bool operator==(const Digits&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Digits& d) { return os << "0." << d.digits << "e" << d.k; }

// "[-]d[.ddd]e[+-]xx" from to_chars or printf.
Digits split_scientific(const std::string& s) {
    size_t e = s.find('e');
    std::string m;
    for (size_t i = 0; i < e; i++)
        if (s[i] >= '0' && s[i] <= '9') m += s[i];
    while (m.size() > 1 && m.back() == '0') m.pop_back();
    return Digits{m, std::atoi(s.c_str() + e + 1) + 1};
}

Digits reference_shortest(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    return split_scientific(std::string(buf, r.ptr));
}

Digits reference_fixed(double v, int precision) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, v);
    return split_scientific(buf);
}

Digits our_digits(double v, int precision) {
    int k, n;
    bool sign;
    const char* d = dtoa::digits(v, precision, &k, &sign, &n, true);
    return Digits{std::string(d, size_t(n)), k};
}

double parse(const std::string& s, int extra = 0, i64* rest = nullptr) {
    i64 unconsumed;
    double v = dtoa::string_to_float(s.data(), s.data() + s.size(), extra, &unconsumed);
    if (rest) *rest = unconsumed;
    return v;
}

// The correctly rounded double of a decimal text: from_chars, or strtod for
// the overflows and underflows that from_chars refuses.
double reference_parse(std::string s) {
    if (!s.empty() && s[0] == '+') s.erase(0, 1);  // from_chars takes no plus sign
    double v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    EXPECT_EQ(r.ptr, s.data() + s.size()) << s;
    if (r.ec == std::errc()) return v;
    EXPECT_EQ(r.ec, std::errc::result_out_of_range) << s;
    v = std::strtod(s.c_str(), nullptr);
    EXPECT_TRUE(v == 0 || std::isinf(v)) << s;
    return v;
}

// Stops a comparison loop from flooding the output.
struct FailureBudget {
    int left = 10;
    bool spend() { return --left > 0; }
};

u64 random_finite_bits(std::mt19937_64& rng) {
    for (;;) {
        u64 b = rng() & ~(u64(1) << 63);
        if ((b >> 52) != 0x7FF && b != 0) return b;
    }
}

// Values whose digits are worth checking besides random bit patterns.
std::vector<double> special_values() {
    std::vector<double> v;
    for (int e = -1074; e <= 1023; e++) v.push_back(std::ldexp(1.0, e));
    for (int e = -323; e <= 308; e++) {
        double p = reference_parse("1e" + std::to_string(e));
        v.push_back(p);
        v.push_back(std::nextafter(p, 0.0));
        v.push_back(std::nextafter(p, INFINITY));
    }
    for (int i = 1; i <= 20000; i++) v.push_back(double(i));
    for (int i = 1; i <= 20000; i++) v.push_back(i / 1000.0);
    double limits[] = {
        std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
        std::nextafter(std::numeric_limits<double>::min(), 0.0), std::numeric_limits<double>::max(),
        9007199254740992.0, 9007199254740993.0, 0.1, 0.2, 0.3, 1.0 / 3, 2.0 / 3, 5e-324, 1e23, 5e-310,
        1.7976931348623157e308, 2.2250738585072011e-308, 2.2250738585072014e-308,
    };
    for (double d : limits) v.push_back(d);
    // Every binary exponent with its extreme and some random fractions.
    std::mt19937_64 rng(77);
    for (u64 be = 0; be < 0x7FF; be++) {
        u64 fracs[] = {0, 1, (u64(1) << 52) - 1, rng() & ((u64(1) << 52) - 1), rng() & ((u64(1) << 52) - 1)};
        for (u64 f : fracs)
            if (be || f) v.push_back(from_bits(be << 52 | f));
    }
    return v;
}

// The oracle comparisons run twice: as conversions run, and with every case
// decided by the big integers that back up the scaled arithmetic (on a
// quarter of the random cases: they are slower).
class DtoaOracle : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { dtoa::big_integers_only = GetParam(); }
    void TearDown() override { dtoa::big_integers_only = false; }
    int count(int n) const { return (GetParam() ? n / 4 : n) / SCALE; }
};

INSTANTIATE_TEST_SUITE_P(Paths, DtoaOracle, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "BigIntegers" : "Scaled";
                         });

// =================================================================== Digits

TEST_P(DtoaOracle, ShortestEqualsToCharsOnSpecialValues) {
    FailureBudget budget;
    for (double v : special_values()) {
        Digits want = reference_shortest(v), got = our_digits(v, 0);
        if (got != want) {
            ADD_FAILURE() << hex(v) << ": " << got << " instead of " << want;
            if (!budget.spend()) return;
        }
    }
}

TEST_P(DtoaOracle, ShortestEqualsToCharsOnRandomBitPatterns) {
    std::mt19937_64 rng(20240531);
    FailureBudget budget;
    for (int i = 0; i < count(400000); i++) {
        double v = from_bits(random_finite_bits(rng));
        Digits want = reference_shortest(v), got = our_digits(v, 0);
        if (got != want) {
            ADD_FAILURE() << hex(v) << ": " << got << " instead of " << want;
            if (!budget.spend()) return;
        }
    }
}

TEST_P(DtoaOracle, ShortestOfShortDecimalsAndIntegers) {
    // Values read from short decimal texts: their shortest digits are the text's.
    std::mt19937_64 rng(99);
    FailureBudget budget;
    for (int i = 0; i < count(100000); i++) {
        int nd = 1 + int(rng() % 15);
        u64 m = rng() % 1000000000000000ull + 1;
        m %= u64(std::pow(10.0, nd));
        if (m == 0) m = 7;
        int e = int(rng() % 600) - 320;
        double v = reference_parse(std::to_string(m) + "e" + std::to_string(e));
        if (v == 0) continue;
        Digits want = reference_shortest(v), got = our_digits(v, 0);
        if (got != want) {
            ADD_FAILURE() << hex(v) << ": " << got << " instead of " << want;
            if (!budget.spend()) return;
        }
        double integer = double(rng() >> (rng() % 64));
        if (integer != 0 && our_digits(integer, 0) != reference_shortest(integer)) {
            ADD_FAILURE() << hex(integer) << ": " << our_digits(integer, 0);
            if (!budget.spend()) return;
        }
    }
}

TEST_P(DtoaOracle, FixedPrecisionEqualsPrintf) {
    std::mt19937_64 rng(4242);
    FailureBudget budget;
    std::vector<double> values = special_values();
    for (int i = 0; i < count(100000); i++) values.push_back(from_bits(random_finite_bits(rng)));
    for (size_t i = 0; i < values.size(); i++) {
        double v = values[i];
        // Every precision up to 17 takes the scaled path; above it the big integers.
        int precision = 1 + int(i % 17);
        if (i % 50 == 0) precision = 18 + int(rng() % (dtoa::MAX_PRECISION - 17));
        Digits want = reference_fixed(v, precision), got = our_digits(v, precision);
        if (got != want) {
            ADD_FAILURE() << hex(v) << " precision " << precision << ": " << got << " instead of " << want;
            if (!budget.spend()) return;
        }
    }
}

TEST_P(DtoaOracle, FixedPrecisionTiesRoundToEven) {
    // Exact ties in binary: the digit before the tie decides.
    struct Case {
        double value;
        int precision;
        Digits want;
    } cases[] = {
        {0.25, 1, {"2", 0}},   {0.75, 1, {"8", 0}},   {2.5, 1, {"2", 1}},  {3.5, 1, {"4", 1}},
        {0.125, 2, {"12", 0}}, {0.375, 2, {"38", 0}}, {9.5, 1, {"1", 2}},  {99.5, 2, {"1", 3}},
        {1.0 / 3, 6, {"333333", 0}}, {2.0 / 3, 6, {"666667", 0}}, {0.1, 22, {"1000000000000000055511", 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(our_digits(c.value, c.precision), c.want) << c.value;
}

TEST(DtoaDigits, ValuesWithoutDigits) {
    struct Case {
        double value;
        bool keep_dot;
        const char* text;
        int exponent;
        bool sign;
    } cases[] = {
        {0.0, true, "0.0", 9998, false},
        {-0.0, true, "-0.0", 9998, true},
        {0.0, false, "0", 9998, false},
        {-0.0, false, "-0", 9998, true},
        {INFINITY, true, "1.#INF", 9999, false},
        {-INFINITY, false, "-1.#INF", 9999, true},
        {from_bits(0x7FF8000000000000), true, "1.#NaN", 9999, false},
        {from_bits(0xFFF0000000000001), true, "1.#NaN", 9999, true},
    };
    for (const Case& c : cases) {
        int k, n;
        bool sign;
        const char* t = dtoa::digits(c.value, 0, &k, &sign, &n, c.keep_dot);
        EXPECT_STREQ(t, c.text);
        EXPECT_EQ(k, c.exponent) << c.text;
        EXPECT_EQ(sign, c.sign) << c.text;
        EXPECT_EQ(n, int(std::strlen(c.text)));
    }
}

TEST(DtoaDigits, NegativeValuesGiveTheSignApart) {
    int k, n;
    bool sign;
    const char* d = dtoa::digits(-1234.5, 0, &k, &sign, &n, true);
    EXPECT_STREQ(d, "12345");
    EXPECT_EQ(k, 4);
    EXPECT_TRUE(sign);
    EXPECT_EQ(n, 5);
}

// =================================================================== Layouts

TEST(DtoaFormFloat, LanguageLayout) {
    struct Case {
        double value;
        int precision;
        bool keep_dot;
        const char* text;
    } cases[] = {
        {0.1, 0, true, "0.1"},
        {1.0, 0, true, "1.0"},
        {1.0, 0, false, "1"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e16, 0, false, "10000000000000000"},
        {1.2345678901234568e16, 0, true, "12345678901234568.0"},
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {1.5e17, 0, false, "1.5e17"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {1e-8, 0, false, "1e-8"},
        {1.5e-7, 0, true, "0.00000015"},
        {9.9e-8, 0, true, "9.9e-8"},
        {0.001, 0, true, "0.001"},
        {123.456, 0, true, "123.456"},
        {-1.5, 0, true, "-1.5"},
        {-100.0, 0, false, "-100"},
        {1e20, 0, true, "1.0e20"},
        {-2.5e-300, 0, true, "-2.5e-300"},
        {5e-324, 0, true, "5.0e-324"},
        {5e-324, 0, false, "5e-324"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        {0.0, 0, true, "0.0"},
        {-0.0, 0, true, "-0.0"},
        {-0.0, 0, false, "-0"},
        {INFINITY, 0, true, "1.#INF"},
        {-INFINITY, 0, true, "-1.#INF"},
        {NAN, 0, true, "1.#NaN"},
        // Fixed precision: the seconds of a time (6), money (22).
        {15.5, 6, false, "15.5"},
        {59.9999999, 6, false, "60"},
        {1.0 / 3, 6, false, "0.333333"},
        {0.25, 6, false, "0.25"},
        {12345678.0, 6, false, "12345700"},
        {0.1, 22, true, "0.1000000000000000055511"},
        {1.5, 22, true, "1.5"},
        {123456.789, 22, true, "123456.7890000000043074"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(dtoa::form_float(c.value, c.precision, c.keep_dot), c.text)
            << c.value << " precision " << c.precision << (c.keep_dot ? " keep-dot" : "");
}

TEST(DtoaFormFloat, ReadsBackToTheSameDouble) {
    std::mt19937_64 rng(5);
    FailureBudget budget;
    for (int i = 0; i < 100000 / SCALE; i++) {
        double v = from_bits(rng());
        if (std::isnan(v)) continue;
        std::string text = dtoa::form_float(v, 0, i & 1);
        double back = parse(text);
        if (to_bits(back) != to_bits(v)) {
            ADD_FAILURE() << hex(v) << " formed as " << text << " reads back as " << hex(back);
            if (!budget.spend()) return;
        }
    }
}

TEST(DtoaFormGeneral, EqualsPrintfG) {
    std::mt19937_64 rng(31337);
    FailureBudget budget;
    const int precisions[] = {0, 1, 2, 5, 6, 7, 13, 14, 16, 17, 22};
    std::vector<double> values = {0.0, -0.0, 1.0, 0.0001, 0.00001, 123456.0, 1234567.0, 1e20, 1.5e-7,
                                  0.7999999999999999, 3.300000000000001, 100.0, 1e15, 1e16, 9.9999995};
    for (int i = 0; i < 20000 / SCALE; i++) {
        double v = from_bits(random_finite_bits(rng));
        values.push_back(rng() & 1 ? v : -v);
        // Moderate magnitudes, where the plain layout is chosen.
        values.push_back(std::ldexp(double(rng() >> 11), int(rng() % 120) - 100));
    }
    for (size_t i = 0; i < values.size(); i++) {
        for (int p : precisions) {
            char want[128];
            std::snprintf(want, sizeof want, "%.*g", p, values[i]);
            const char* got = dtoa::form_general(values[i], p);
            if (std::strcmp(got, want) != 0) {
                ADD_FAILURE() << hex(values[i]) << " %." << p << "g: " << got << " instead of " << want;
                if (!budget.spend()) return;
            }
        }
    }
    EXPECT_STREQ(dtoa::form_general(INFINITY, 7), "1.#INF");
    EXPECT_STREQ(dtoa::form_general(-INFINITY, 7), "-1.#INF");
    EXPECT_STREQ(dtoa::form_general(NAN, 7), "1.#NaN");
}

// =================================================================== Reading

TEST_P(DtoaOracle, KnownHardCases) {
    const char* cases[] = {
        "2.2250738585072011e-308",  // hung some readers
        "2.2250738585072012e-308",  // hung others
        "2.2250738585072014e-308",  // smallest normal
        "2.225073858507201136057409796709131975934819546351645648e-308",
        "4.9406564584124654e-324",
        "5e-324",
        "2.4703282292062327e-324",  // just below half the smallest: zero
        "2.4703282292062328e-324",  // just above: the smallest
        "2.47032822920623272088284396434110686182529901307162382212792841250337753635104375932649918180817996"
        "189898282347722858865463328355177969898199387398005390939063150356595155702263922908583924491051844"
        "359318028499365361525003193704576782492193656236698636584807570015857692699037063119282795585513329"
        "278343384093519780155312465972635795746227664652728272200563740064854999770965994704540208281662262"
        "378573934507363390079677619305775067401763246736009689513405355374585166611342237666786041621596804"
        "619144672918403005300575308490487653917113865916462395249126236538818796362393732804238910186723484"
        "976682350898633885879256283027559956575244555072551893136908362547791869486679949683240497058210285"
        "131854513962138377228261454376934125320985913276672363281250e-324",  // exactly half the smallest: zero
        "1.7976931348623157e308",
        "1.7976931348623158e308",   // rounds to the largest
        "1.7976931348623159e308",   // overflows
        // The midpoint between the largest double and 2^1024, less 1e-70: the largest.
        "179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207"
        "096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764"
        "475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177"
        "904174497791.9999999999999999999999999999999999999999999999999999999999999999999999",
        "179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207"
        "096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764"
        "475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177"
        "904174497792",  // that midpoint exactly: even, so infinity
        "9007199254740993",                                  // halfway: even
        "9007199254740993.000000000000000000000000000001",    // just above halfway
        "9007199254740992.999999999999999999999999999999",    // just below halfway
        "9007199254740995",                                  // halfway: even is up
        "1e23", "8.98846567431158e307", "7.038531e-26", "9214843084008499", "30078505129381147446200",
        "1777820000000000000001", "0.3932922657273", "5708990770823838890407843763683279797179383808",
        "0.500000000000000166533453693773481063544750213623046875",
        "3.518437208883201171875e13", "62.5364939768271845828", "8.10109172351e-10",
        "1.50000000000000011102230246251565404236316680908203125",
        "9007199254740993.0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000001",
        "1e400", "-1e400", "1e-400", "-1e-400", "0e999999999", "1e-99999999999", "123456789e-330",
        "0.000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000001",
        "100000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000000000000e-300",
        "0", "-0", "0.0", "00000.000000", "+1.5", "-2.5e-3", "1.", ".5", "1E5", "1e+5",
    };
    for (const char* s : cases) {
        double want = reference_parse(s), got = parse(s);
        EXPECT_EQ(to_bits(got), to_bits(want)) << s << ": " << hex(got) << " instead of " << hex(want);
    }
}

TEST(DtoaRead, OutOfRangeGivesInfinityOrZero) {
    EXPECT_EQ(parse("1e400"), INFINITY);
    EXPECT_EQ(parse("-1e400"), -INFINITY);
    EXPECT_EQ(to_bits(parse("1e-400")), to_bits(0.0));
    EXPECT_EQ(to_bits(parse("-1e-400")), to_bits(-0.0));
    EXPECT_EQ(parse("1.7976931348623159e308"), INFINITY);
}

TEST_P(DtoaOracle, EqualsFromCharsOnRandomTexts) {
    std::mt19937_64 rng(1234567);
    FailureBudget budget;
    for (int i = 0; i < count(200000); i++) {
        int r = int(rng() % 100);
        int nd = r < 70 ? 1 + int(rng() % 19) : r < 92 ? 20 + int(rng() % 20) : 40 + int(rng() % 90);
        std::string digits;
        for (int j = 0; j < nd; j++) digits += char('0' + rng() % 10);
        if (rng() % 4 == 0) digits.insert(0, std::string(rng() % 5, '0'));
        if (rng() % 3 == 0) digits.append(std::string(rng() % 30, '0'));
        std::string text = rng() % 2 ? "-" : "";
        size_t point = rng() % (digits.size() + 1);
        if (rng() % 3) {
            text += digits.substr(0, point) + "." + digits.substr(point);
            if (point == 0 && digits.empty()) text += "0";
        } else {
            text += digits;
        }
        if (rng() % 4) {
            int e = int(rng() % 700) - 350 - int(point);
            text += (rng() % 2 ? "e" : "E") + std::to_string(e);
        }
        double want = reference_parse(text), got = parse(text);
        if (to_bits(got) != to_bits(want)) {
            ADD_FAILURE() << text << ": " << hex(got) << " instead of " << hex(want);
            if (!budget.spend()) return;
        }
    }
}

TEST_P(DtoaOracle, ShortestTextsReadBack) {
    std::mt19937_64 rng(8);
    FailureBudget budget;
    for (int i = 0; i < count(200000); i++) {
        double v = from_bits(random_finite_bits(rng));
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        std::string text(buf, r.ptr);
        double got = parse(text);
        if (to_bits(got) != to_bits(v)) {
            ADD_FAILURE() << text << ": " << hex(got) << " instead of " << hex(v);
            if (!budget.spend()) return;
        }
    }
}

// Decimal texts with a fixed number of fractional digits, for exact sums.
constexpr int FRACTION_DIGITS = 1100;

std::string exact_decimal(double v) {
    std::string s(FRACTION_DIGITS + 400, ' ');
    auto r = std::to_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed, FRACTION_DIGITS);
    s.resize(size_t(r.ptr - s.data()));
    s.erase(s.find('.'), 1);
    return s;  // digits, FRACTION_DIGITS of them after the point
}

std::string add_decimals(std::string a, std::string b) {
    if (a.size() < b.size()) std::swap(a, b);
    b.insert(0, a.size() - b.size(), '0');
    int carry = 0;
    for (size_t i = a.size(); i-- > 0;) {
        int d = (a[i] - '0') + (b[i] - '0') + carry;
        a[i] = char('0' + d % 10);
        carry = d / 10;
    }
    if (carry) a.insert(0, "1");
    return a;
}

std::string halve_decimal(const std::string& a) {
    std::string out(a.size(), '0');
    int rem = 0;
    for (size_t i = 0; i < a.size(); i++) {
        int d = rem * 10 + (a[i] - '0');
        out[i] = char('0' + d / 2);
        rem = d % 2;
    }
    EXPECT_EQ(rem, 0);
    return out;
}

// The digit string minus one in its last place.
std::string decrement(std::string a) {
    size_t i = a.size();
    while (a[--i] == '0') a[i] = '9';
    a[i]--;
    return a;
}

// The decimal text of a digit string with `fraction` digits after the point.
std::string with_point(const std::string& digits, size_t fraction) {
    std::string s = digits.substr(0, digits.size() - fraction) + "." + digits.substr(digits.size() - fraction);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    if (s[0] == '.') s.insert(0, "0");
    return s;
}

TEST_P(DtoaOracle, MidpointsBetweenDoubles) {
    // The exact midpoint between a double and its upper neighbour (hundreds of
    // digits), and texts a hair above and below it; the last one far beyond
    // the 768 digits that can matter, so that only its final "1" lifts it.
    std::mt19937_64 rng(2718);
    FailureBudget budget;
    std::vector<double> values = {5e-324, 1.0, 9007199254740992.0, std::numeric_limits<double>::min(),
                                  std::nextafter(std::numeric_limits<double>::min(), 0.0), 1e23, 0.1};
    for (int i = 0; i < count(3000); i++) {
        double v = from_bits(random_finite_bits(rng));
        if (v > 1e300) continue;
        values.push_back(v);
        values.push_back(std::ldexp(double(rng() >> 11), int(rng() % 200) - 100));  // nearer to 1
    }
    const std::string hair(21, '0'), far(900, '0');
    for (double v : values) {
        double next = std::nextafter(v, INFINITY);
        std::string mid = add_decimals(exact_decimal(v), halve_decimal(exact_decimal(next - v)));
        std::string texts[] = {
            with_point(mid, FRACTION_DIGITS),
            with_point(mid + hair + "1", FRACTION_DIGITS + hair.size() + 1),
            with_point(decrement(mid + hair), FRACTION_DIGITS + hair.size()),
            with_point(mid + far + "1", FRACTION_DIGITS + far.size() + 1),
        };
        for (const std::string& text : texts) {
            double want = reference_parse(text), got = parse(text);
            if (to_bits(got) != to_bits(want)) {
                ADD_FAILURE() << text.substr(0, 60) << "... (" << text.size() << " chars): " << hex(got)
                              << " instead of " << hex(want);
                if (!budget.spend()) return;
            }
        }
    }
}

TEST_P(DtoaOracle, PowersOfTenAndIntegers) {
    FailureBudget budget;
    std::vector<std::string> texts;
    for (int e = -345; e <= 330; e++) texts.push_back("1e" + std::to_string(e));
    std::mt19937_64 rng(3);
    for (int i = 0; i < count(20000); i++) texts.push_back(std::to_string(rng() >> (rng() % 64)));
    for (const std::string& text : texts) {
        double want = reference_parse(text), got = parse(text);
        if (to_bits(got) != to_bits(want)) {
            ADD_FAILURE() << text << ": " << hex(got) << " instead of " << hex(want);
            if (!budget.spend()) return;
        }
    }
}

TEST(DtoaRead, SyntaxAndUnconsumedCount) {
    struct Case {
        const char* text;
        double value;
        i64 unconsumed;
    } cases[] = {
        {"1.5", 1.5, 0},      {"+1.5", 1.5, 0},     {"-1.5", -1.5, 0},  {"1.", 1.0, 0},
        {".5", 0.5, 0},       {"1.5x", 1.5, 1},     {"1e", 1.0, 1},     {"1e+", 1.0, 2},
        {"1e-x", 1.0, 3},     {"12e3", 12000, 0},   {"12E-1", 1.2, 0},  {"1e5z", 1e5, 1},
        {".", 0.0, 1},        {"-", 0.0, 1},        {"", 0.0, 0},       {"x1", 0.0, 2},
        {"0.0001e4", 1.0, 0}, {"007", 7.0, 0},      {"1.2.3", 1.2, 2},  {"1.#X", 1.0, 2},
    };
    for (const Case& c : cases) {
        i64 rest = -1;
        double v = parse(c.text, 0, &rest);
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(rest, c.unconsumed) << c.text;
    }
}

TEST(DtoaRead, SpecialForms) {
    i64 rest;
    EXPECT_EQ(parse("1.#INF", 0, &rest), INFINITY);
    EXPECT_EQ(rest, 0);
    EXPECT_EQ(parse("-1.#INF"), -INFINITY);
    EXPECT_EQ(parse("1.#inf"), INFINITY);
    EXPECT_EQ(to_bits(parse("1.#NaN")), 0x7FF8000000000000u);
    EXPECT_EQ(to_bits(parse("-1.#nan")), 0x7FF8000000000000u);
    EXPECT_EQ(parse("1.#INFx", 0, &rest), INFINITY);
    EXPECT_EQ(rest, 1);
    // Not after a single digit: an ordinary number that stops at the "#".
    EXPECT_EQ(parse("12.#INF", 0, &rest), 12.0);
    EXPECT_EQ(rest, 4);
}

TEST(DtoaRead, ExtraExponentScales) {
    EXPECT_EQ(parse("50", -2), 0.5);
    EXPECT_EQ(parse("12.5", -2), 0.125);
    EXPECT_EQ(parse("1e-2", 2), 1.0);
    EXPECT_EQ(parse("1", 400), INFINITY);
    EXPECT_EQ(to_bits(parse("3", -2)), to_bits(0.03));
    EXPECT_EQ(to_bits(parse("0.07", -2)), to_bits(reference_parse("0.0007")));
}

}  // namespace
}  // namespace zir
