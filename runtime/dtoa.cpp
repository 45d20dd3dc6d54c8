// Float text conversion: see dtoa.hpp.
//
// A finite positive double is c x 2^q with c an integer below 2^53. Every
// rounding question below is a comparison of such a value, or of the midpoint
// between two neighbouring doubles, with a decimal number. Two ways answer it:
//
// - Scaled arithmetic: the binary value is multiplied by a 128-bit image of a
//   power of ten, giving a 64.64 fixed-point number together with a bound on
//   its error (none when the power of ten is exact). A comparison with an
//   integer or half-integer threshold is decided when the threshold lies
//   outside the error interval; otherwise the answer is "unsure".
// - Big integers: both sides are made exact integers (multiplying by powers of
//   2 and 5) and compared. This decides every case and is the fallback of the
//   scaled arithmetic; the unsure cases are rare (values that sit exactly on a
//   rounding boundary, or within about 2^-60 of one).
//
// The powers of ten 10^-350 .. 10^350 are computed once, exactly, with the
// big integers, the first time a conversion needs them.
#include "runtime/dtoa.hpp"

#include "runtime/fault.hpp"

namespace zir {
namespace dtoa {

bool big_integers_only = false;

namespace {

using u128 = unsigned __int128;

constexpr u64 SIGN_BIT = u64(1) << 63;
constexpr u64 EXPONENT_MASK = u64(0x7FF) << 52;
constexpr u64 FRACTION_MASK = (u64(1) << 52) - 1;
constexpr u64 HIDDEN_BIT = u64(1) << 52;
constexpr u64 INFINITY_BITS = EXPONENT_MASK;
constexpr u64 QUIET_NAN_BITS = u64(0x7FF80000) << 32;

constexpr u64 POW10_U64[20] = {
    1ull,           10ull,           100ull,           1000ull,           10000ull,
    100000ull,      1000000ull,      10000000ull,      100000000ull,      1000000000ull,
    10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull, 100000000000000ull,
    1000000000000000ull,    10000000000000000ull,    100000000000000000ull,
    1000000000000000000ull, 10000000000000000000ull,
};

// Powers of ten that doubles hold exactly: one multiplication or division by
// them is correctly rounded.
constexpr double EXACT_POW10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// floor(q x log10(2)), exact for |q| <= 1200 (checked over that range).
int floor_log10_pow2(int q) { return (q * 315653) >> 20; }

int bit_length(u64 x) { return x ? 64 - __builtin_clzll(x) : 0; }

u64 shift_right(u64 x, int s) { return s >= 64 ? 0 : x >> s; }

// The number of decimal digits of n > 0: bit_length x log10(2) rounded
// down is that number or one less.
int decimal_length(u64 n) {
    int guess = (bit_length(n) * 1233) >> 12;
    return guess + (n >= POW10_U64[guess]);
}

constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// =================================================================== Big integers
//
// Non-negative integers of up to BIG_WORDS 32-bit words, least significant
// first, kept on the stack: a conversion never allocates. The largest ones
// come from reading, where an 800-digit decimal (2,658 bits) meets a midpoint
// times 5^1123 (about 2,710 bits); 4,096 bits leave room. Passing the
// capacity is an internal fault.

constexpr int BIG_WORDS = 128;

struct Big {
    int len;  // words in use, the top one nonzero; 0 for zero
    u32 w[BIG_WORDS];
};

[[noreturn]] void big_overflow() { ZIR_FAULT(runtime::FAULT_NO_CASE); }

void big_set(Big& b, u64 v) {
    b.w[0] = u32(v);
    b.w[1] = u32(v >> 32);
    b.len = v >> 32 ? 2 : v ? 1 : 0;
}

void big_copy(Big& to, const Big& from) {
    to.len = from.len;
    std::memcpy(to.w, from.w, sizeof(u32) * size_t(from.len));
}

bool big_is_zero(const Big& b) { return b.len == 0; }

int big_bit_length(const Big& b) { return b.len ? (b.len - 1) * 32 + bit_length(b.w[b.len - 1]) : 0; }

// b = b x m + add
void big_mul_small(Big& b, u32 m, u32 add = 0) {
    u64 carry = add;
    for (int i = 0; i < b.len; i++) {
        u64 t = u64(b.w[i]) * m + carry;
        b.w[i] = u32(t);
        carry = t >> 32;
    }
    if (carry) {
        if (b.len == BIG_WORDS) big_overflow();
        b.w[b.len++] = u32(carry);
    }
}

// b = floor(b / d); answers the remainder
u32 big_div_small(Big& b, u32 d) {
    u64 rem = 0;
    for (int i = b.len - 1; i >= 0; i--) {
        u64 t = (rem << 32) | b.w[i];
        b.w[i] = u32(t / d);
        rem = t % d;
    }
    while (b.len && b.w[b.len - 1] == 0) b.len--;
    return u32(rem);
}

void big_shift_left(Big& b, int bits) {
    if (b.len == 0 || bits == 0) return;
    int words = bits / 32, s = bits % 32;
    int top = b.len + words + (s ? 1 : 0);
    if (top > BIG_WORDS) big_overflow();
    if (s == 0) {
        for (int i = b.len - 1; i >= 0; i--) b.w[i + words] = b.w[i];
    } else {
        b.w[b.len + words] = b.w[b.len - 1] >> (32 - s);
        for (int i = b.len - 1; i > 0; i--) b.w[i + words] = (b.w[i] << s) | (b.w[i - 1] >> (32 - s));
        b.w[words] = b.w[0] << s;
    }
    for (int i = 0; i < words; i++) b.w[i] = 0;
    b.len = top;
    while (b.len && b.w[b.len - 1] == 0) b.len--;
}

// 5^13 is the largest power of five in 32 bits.
void big_mul_pow5(Big& b, int e) {
    for (; e >= 13; e -= 13) big_mul_small(b, 1220703125u);
    if (e > 0) big_mul_small(b, u32(POW10_U64[e] >> e));
}

void big_mul_pow10(Big& b, int e) {
    big_mul_pow5(b, e);
    big_shift_left(b, e);
}

// out = a x m
void big_mul_u64(Big& out, const Big& a, u64 m) {
    u32 lo = u32(m), hi = u32(m >> 32);
    if (a.len + 2 > BIG_WORDS) big_overflow();
    u64 carry = 0;
    for (int i = 0; i < a.len; i++) {
        u64 t = u64(a.w[i]) * lo + carry;
        out.w[i] = u32(t);
        carry = t >> 32;
    }
    out.w[a.len] = u32(carry);
    out.w[a.len + 1] = 0;
    if (hi) {
        carry = 0;
        for (int i = 0; i < a.len; i++) {
            u64 t = u64(a.w[i]) * hi + out.w[i + 1] + carry;
            out.w[i + 1] = u32(t);
            carry = t >> 32;
        }
        out.w[a.len + 1] = u32(carry);
    }
    out.len = a.len + 2;
    while (out.len && out.w[out.len - 1] == 0) out.len--;
}

int big_compare(const Big& a, const Big& b) {
    if (a.len != b.len) return a.len < b.len ? -1 : 1;
    for (int i = a.len - 1; i >= 0; i--)
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    return 0;
}

// a + b compared with c
int big_compare_sum(const Big& a, const Big& b, const Big& c) {
    int n = a.len > b.len ? a.len : b.len;
    if (n + 1 < c.len) return -1;
    if (n > c.len) return 1;
    Big sum;
    u64 carry = 0;
    for (int i = 0; i < n; i++) {
        u64 t = carry + (i < a.len ? a.w[i] : 0) + (i < b.len ? b.w[i] : 0);
        sum.w[i] = u32(t);
        carry = t >> 32;
    }
    sum.len = n;
    if (carry) sum.w[sum.len++] = u32(carry);
    return big_compare(sum, c);
}

// a = a - m x b, where the result is not negative
void big_sub_mul(Big& a, const Big& b, u32 m) {
    u64 carry = 0;
    i64 borrow = 0;
    for (int i = 0; i < a.len; i++) {
        u64 p = (i < b.len ? u64(b.w[i]) * m : 0) + carry;
        carry = p >> 32;
        i64 t = i64(a.w[i]) - i64(u32(p)) + borrow;
        a.w[i] = u32(t);
        borrow = t < 0 ? -1 : 0;
    }
    while (a.len && a.w[a.len - 1] == 0) a.len--;
}

// With r < 10 x s: answers floor(r / s) and leaves the remainder in r.
u32 big_quotient(Big& r, const Big& s) {
    if (big_compare(r, s) < 0) return 0;
    // The top word of s against the top two words of r at the same place
    // underestimates the quotient; a few subtractions finish it.
    int n = s.len;
    u64 top = (r.len > n ? u64(r.w[n]) << 32 : 0) | r.w[n - 1];
    u32 q = u32(top / (u64(s.w[n - 1]) + 1));
    if (q > 9) q = 9;
    if (q) big_sub_mul(r, s, q);
    while (big_compare(r, s) >= 0) {
        big_sub_mul(r, s, 1);
        q++;
    }
    return q;
}

// =================================================================== Powers of ten
//
// 10^e is kept as m x 2^e2 with m a 128-bit integer whose top bit is set: the
// power rounded down to 128 significant bits, `exact` when nothing was lost.

constexpr int POWER_MIN = -350;
constexpr int POWER_MAX = 350;

struct Power {
    u128 m;
    int e2;
    bool exact;
};

struct PowerTable {
    Power p[POWER_MAX - POWER_MIN + 1];

    // Positive powers by repeated multiplication; negative ones as
    // floor(2^L / 10^e) by repeated exact division of 2^L, since
    // floor(floor(x / 10) / 10) = floor(x / 100). L leaves more than 128 bits
    // in 2^L / 10^350.
    PowerTable() {
        Big b;
        big_set(b, 1);
        for (int e = 0; e <= POWER_MAX; e++) {
            p[e - POWER_MIN] = top_bits(b, 0, true);
            big_mul_small(b, 10);
        }
        constexpr int L = 1344;
        big_set(b, 1);
        big_shift_left(b, L);
        for (int e = 1; e <= -POWER_MIN; e++) {
            big_div_small(b, 10);
            p[-e - POWER_MIN] = top_bits(b, L, false);
        }
    }

    static Power top_bits(const Big& b, int scale, bool can_be_exact) {
        int n = big_bit_length(b);
        Power r{0, 0, can_be_exact};
        // The 128 bits below and at the top bit, with the bits under them checked for zero.
        for (int i = 0; i < 128; i++) {
            int bit = n - 1 - i;
            u128 v = 0;
            if (bit >= 0) v = (b.w[bit / 32] >> (bit % 32)) & 1;
            r.m = (r.m << 1) | v;
        }
        for (int bit = n - 129; bit >= 0 && r.exact; bit--)
            if ((b.w[bit / 32] >> (bit % 32)) & 1) r.exact = false;
        r.e2 = n - 128 - scale;
        return r;
    }
};

[[gnu::always_inline]] inline const Power& power_of_ten(int e) {
    static const PowerTable table;
    return table.p[e - POWER_MIN];
}

// =================================================================== Scaled arithmetic

// A 64 x 128-bit product.
struct U192 {
    u64 lo, mid, hi;
};

U192 mul_64x128(u64 a, u128 m) {
    u128 low = u128(a) * u64(m);
    u128 high = u128(a) * u64(m >> 64);
    u128 mid = (low >> 64) + u64(high);
    return U192{u64(low), u64(mid), u64(high >> 64) + u64(mid >> 64)};
}

U192 add_128(U192 x, u128 y) {
    u128 low = u128(x.lo) + u64(y);
    u128 mid = u128(x.mid) + u64(y >> 64) + u64(low >> 64);
    return U192{u64(low), u64(mid), x.hi + u64(mid >> 64)};
}

U192 sub_128(U192 x, u128 y) {
    u64 lo = x.lo - u64(y);
    u64 borrow = x.lo < u64(y);
    u128 sub = u128(u64(y >> 64)) + borrow;
    u64 mid = x.mid - u64(sub);
    borrow = u128(x.mid) < sub;
    return U192{lo, mid, x.hi - borrow};
}

// A non-negative real number known as a 64.64 fixed-point value `a`: exactly,
// with `sticky` telling whether bits below a's last one are set (err = 0), or
// approximately, the real value lying strictly between a and a + err/2^64.
// With `snap`, the real value is known to be either on a multiple of 1/2 or
// farther from it than the error.
struct Scaled {
    u128 a;
    u64 err;
    bool sticky;
    bool snap;
};

enum Order { BELOW, AT, ABOVE, UNSURE };

// The value P / 2^(s + 64) of a 192-bit product; the caller makes sure the
// integer part fits in 64 bits and 0 <= s < 128.
[[gnu::always_inline]] inline Scaled scale(U192 p, int s, u64 err) {
    u128 hi = (u128(p.hi) << 64) | p.mid;
    Scaled r;
    r.err = err;
    r.snap = false;
    if (s < 64) {
        r.a = (hi << (64 - s)) | (s ? p.lo >> s : p.lo);
        r.sticky = s && (p.lo << (64 - s)) != 0;
    } else {
        r.a = hi >> (s - 64);
        r.sticky = p.lo != 0 || (s > 64 && (p.mid << (128 - s)) != 0);
    }
    return r;
}

// How the scaled value stands against the fixed-point threshold t.
[[gnu::always_inline]] inline Order order(const Scaled& x, u128 t) {
    if (x.err == 0) {
        if (x.a != t) return x.a < t ? BELOW : ABOVE;
        return x.sticky ? ABOVE : AT;
    }
    if (x.a >= t) return ABOVE;
    if (x.a + x.err <= t) return BELOW;
    return x.snap ? AT : UNSURE;
}

constexpr int SNAP_MAX = 27;  // 5^27 is the largest power of five in 63 bits

constexpr auto POW5 = [] {
    struct {
        u64 p[SNAP_MAX + 1];
    } t{};
    t.p[0] = 1;
    for (int i = 1; i <= SNAP_MAX; i++) t.p[i] = t.p[i - 1] * 5;
    return t;
}();

// Whether X x 2^b / 10^j, for an integer X and 0 < j, known within `err`
// units of 2^-64, snaps (see Scaled). Such a value is a multiple of
// 1 / (2^t x 5^j) with t = max(j - b, 0), so its distance from a multiple of
// 1/2 is zero or at least 1 / (2^max(t, 1) x 5^j). Round decimal values such
// as 1e20 land exactly on integers this way, which the approximation alone
// cannot tell.
bool snaps(int j, int b, u64 err) {
    if (j <= 0 || j > SNAP_MAX) return false;
    int t = j - b < 1 ? 1 : j - b;
    if (t > 60) return false;
    return (u128(POW5.p[j]) << t) * err < (u128(1) << 64);
}

constexpr u128 HALF = u128(1) << 63;

u128 fixed(u64 n) { return u128(n) << 64; }

// The error bound, in units of 2^-64 of the scaled value, of a product X x m
// whose m was rounded down from the true power: the true product lies below
// X x m + X, and the cut-off bits add one unit.
u64 product_error(u64 x, int s) { return 2 + shift_right(x, s); }

// A decimal result n x 10^exp.
struct Decimal {
    u64 n;
    int exp;
};

// The shortest digits by scaled arithmetic. With k = floor(log10(2^q)) the
// rounding interval of c x 2^q, scaled by 10^-k, is narrower than 10: it
// holds at most one multiple of 10, which is then the shortest choice; if it
// holds none, the candidates are the integers next to the scaled value, of
// which the nearer one inside the interval wins (ties to even). The bounds
// belong to the interval when c is even, as a reader rounding to even maps
// them back to c.
bool shortest_scaled(u64 c, int q, bool asymmetric, Decimal* out) {
    int k = floor_log10_pow2(q);
    const Power& pw = power_of_ten(-k);
    int s = 2 - q - pw.e2 - 64;  // the interval's ends are (4c -+ 2) x 2^(q-2)
    if (s < 0 || s >= 128) return false;
    U192 pv = mul_64x128(4 * c, pw.m);
    U192 pr = add_128(add_128(pv, pw.m), pw.m);
    U192 pl = sub_128(pv, pw.m);
    if (!asymmetric) pl = sub_128(pl, pw.m);
    u64 err = pw.exact ? 0 : product_error(4 * c + 2, s);
    Scaled lo = scale(pl, s, err), mid = scale(pv, s, err), hi = scale(pr, s, err);
    lo.snap = mid.snap = hi.snap = !pw.exact && snaps(k, q - 2, err);
    bool inclusive = (c & 1) == 0;

    // 1 inside, 0 outside, -1 unsure
    auto low_ok = [&](u64 n) -> int {
        switch (order(lo, fixed(n))) {
            case BELOW: return 1;
            case AT: return inclusive;
            case ABOVE: return 0;
            default: return -1;
        }
    };
    auto high_ok = [&](u64 n) -> int {
        switch (order(hi, fixed(n))) {
            case ABOVE: return 1;
            case AT: return inclusive;
            case BELOW: return 0;
            default: return -1;
        }
    };

    u64 n = u64(mid.a >> 64);
    switch (order(mid, fixed(n + 1))) {
        case BELOW: break;
        case AT: n++; break;
        default: return false;
    }
    u64 s10 = n - n % 10, t10 = s10 + 10;
    int below = low_ok(s10), above = high_ok(t10);
    if (below < 0 || above < 0 || (below && above)) return false;
    if (below != above) {
        *out = Decimal{below ? s10 : t10, k};
        return true;
    }
    below = low_ok(n);
    above = high_ok(n + 1);
    if (below < 0 || above < 0) return false;
    if (below && above) {
        switch (order(mid, fixed(n) | HALF)) {
            case BELOW: break;
            case ABOVE: n++; break;
            case AT: n += n & 1; break;
            default: return false;
        }
    } else if (above) {
        n++;
    } else if (!below) {
        return false;
    }
    *out = Decimal{n, k};
    return true;
}

// `precision` (1..17) significant digits by scaled arithmetic: c x 2^q is
// scaled to have `precision` digits before the point, then rounded.
bool fixed_scaled(u64 c, int q, int precision, Decimal* out) {
    // The decimal exponent of the value is e or e + 1.
    int e = floor_log10_pow2(q + bit_length(c) - 1);
    for (int attempt = 0; attempt < 2; attempt++, e++) {
        int j = e - precision + 1;
        const Power& pw = power_of_ten(-j);
        int s = -q - pw.e2 - 64;
        if (s < 0 || s >= 128) return false;
        Scaled x = scale(mul_64x128(c, pw.m), s, pw.exact ? 0 : product_error(c, s));
        x.snap = !pw.exact && snaps(j, q, x.err);
        u64 limit = POW10_U64[precision];
        Order o = order(x, fixed(limit));
        if (o == UNSURE) return false;
        if (o != BELOW) continue;
        u64 n = u64(x.a >> 64);
        switch (order(x, fixed(n + 1))) {
            case BELOW: break;
            case AT: n++; break;
            default: return false;
        }
        switch (order(x, fixed(n) | HALF)) {
            case BELOW: break;
            case ABOVE: n++; break;
            case AT: n += n & 1; break;
            default: return false;
        }
        if (n == limit) {
            n /= 10;
            j++;
        }
        *out = Decimal{n, j};
        return true;
    }
    return false;
}

// =================================================================== Exact digits

// Adds one to the last digit, carrying through nines (which disappear: they
// would be trailing zeros). All nines become "1" one place higher.
void round_up(char* d, int* n, int* k) {
    while (*n > 0 && d[*n - 1] == '9') (*n)--;
    if (*n == 0) {
        d[0] = '1';
        *n = 1;
        (*k)++;
    } else {
        d[*n - 1]++;
    }
}

// The digits of c x 2^q by big integers: value = r / S x 10^k with r / S in
// [0.1, 1), and the half-gaps to the neighbouring doubles are mp / S above and
// mm / S below. Digits are produced one at a time; in shortest mode the
// production stops as soon as the digits so far, or those digits with the last
// one raised, fall inside the rounding interval (then the nearer of the two is
// kept); in fixed mode after `precision` digits, rounding the rest.
int exact_digits(u64 c, int q, bool asymmetric, int precision, char* d, int* k_out) {
    Big r, S, mp, mm;
    big_set(r, c);
    if (q >= 0) {
        big_shift_left(r, q + 2);
        big_set(S, 4);
        big_set(mp, 1);
        big_shift_left(mp, q + 1);
        big_set(mm, 1);
        big_shift_left(mm, asymmetric ? q : q + 1);
    } else {
        big_shift_left(r, 2);
        big_set(S, 1);
        big_shift_left(S, 2 - q);
        big_set(mp, 2);
        big_set(mm, asymmetric ? 1 : 2);
    }
    int k = floor_log10_pow2(q + bit_length(c) - 1) + 1;
    if (k >= 0) {
        big_mul_pow10(S, k);
    } else {
        big_mul_pow10(r, -k);
        big_mul_pow10(mp, -k);
        big_mul_pow10(mm, -k);
    }
    if (big_compare(r, S) >= 0) {
        big_mul_small(S, 10);
        k++;
    }

    int n = 0;
    if (precision <= 0) {
        bool even = (c & 1) == 0;
        for (;;) {
            big_mul_small(r, 10);
            big_mul_small(mp, 10);
            big_mul_small(mm, 10);
            u32 digit = big_quotient(r, S);
            int lo = big_compare(r, mm), hi = big_compare_sum(r, mp, S);
            bool low = even ? lo <= 0 : lo < 0;
            bool high = even ? hi >= 0 : hi > 0;
            d[n++] = char('0' + digit);
            if (!low && !high) {
                if (n == 17) ZIR_FAULT(runtime::FAULT_NO_CASE);  // a double never needs more
                continue;
            }
            bool up = high;
            if (low && high) {
                big_shift_left(r, 1);
                int half = big_compare(r, S);
                up = half > 0 || (half == 0 && (digit & 1));
            }
            if (up) round_up(d, &n, &k);
            break;
        }
    } else {
        while (n < precision && !big_is_zero(r)) {
            big_mul_small(r, 10);
            d[n++] = char('0' + big_quotient(r, S));
        }
        if (!big_is_zero(r)) {
            big_shift_left(r, 1);
            int half = big_compare(r, S);
            if (half > 0 || (half == 0 && ((d[n - 1] - '0') & 1))) round_up(d, &n, &k);
        }
    }
    while (n > 1 && d[n - 1] == '0') n--;
    *k_out = k;
    return n;
}

// =================================================================== Digit generation

// Writes the decimal digits of n (not zero) without trailing zeros; answers
// their count and adds the zeros removed to *exp.
int write_digits(u64 n, char* d, int* exp) {
    // Round values carry up to 16 zeros: remove them in large steps.
    if (n % 10 == 0) {
        while (n % 100000000 == 0) {
            n /= 100000000;
            *exp += 8;
        }
        for (int step = 4; step > 0; step /= 2) {
            if (n % POW10_U64[step] == 0) {
                n /= POW10_U64[step];
                *exp += step;
            }
        }
    }
    int len = decimal_length(n);
    char* p = d + len;
    // Eight digits at a time, in four independent pairs.
    while (n >= 100000000) {
        u64 q = n / 100000000;
        u32 v = u32(n - q * 100000000);
        u32 hi = v / 10000, lo = v % 10000;
        p -= 8;
        std::memcpy(p, DIGIT_PAIRS + 2 * (hi / 100), 2);
        std::memcpy(p + 2, DIGIT_PAIRS + 2 * (hi % 100), 2);
        std::memcpy(p + 4, DIGIT_PAIRS + 2 * (lo / 100), 2);
        std::memcpy(p + 6, DIGIT_PAIRS + 2 * (lo % 100), 2);
        n = q;
    }
    u32 v = u32(n);
    while (v >= 100) {
        p -= 2;
        std::memcpy(p, DIGIT_PAIRS + 2 * (v % 100), 2);
        v /= 100;
    }
    if (v >= 10)
        std::memcpy(p - 2, DIGIT_PAIRS + 2 * v, 2);
    else
        p[-1] = char('0' + v);
    return len;
}

// The digits of a finite positive double given by its bits; answers their
// count and the decimal exponent k (value = 0.DIGITS x 10^k).
int generate(u64 bits, int precision, char* d, int* k) {
    u64 f = bits & FRACTION_MASK;
    int be = int(bits >> 52);
    u64 c = be ? f | HIDDEN_BIT : f;
    int q = be ? be - 1075 : -1074;
    // The gap below a power of two is half the gap above it (not so for the
    // smallest normal, whose lower neighbour has the same spacing).
    bool asymmetric = f == 0 && be > 1;
    if (precision > MAX_PRECISION) precision = MAX_PRECISION;
    Decimal dec;
    bool ok = big_integers_only ? false
              : precision <= 0 ? shortest_scaled(c, q, asymmetric, &dec)
              : precision <= 17 ? fixed_scaled(c, q, precision, &dec)
                                : false;
    if (!ok) return exact_digits(c, q, asymmetric, precision, d, k);
    int exp = dec.exp;
    int n = write_digits(dec.n, d, &exp);
    *k = exp + n;
    return n;
}

// =================================================================== Texts

// Room for the longest layout: sign, "0.", six zeros, MAX_PRECISION digits, NUL.
char text_buffer[64];

const char* special_text(u64 bits, bool keep_dot) {
    if ((bits & EXPONENT_MASK) == EXPONENT_MASK) {
        if (bits & FRACTION_MASK) return "1.#NaN";
        return bits & SIGN_BIT ? "-1.#INF" : "1.#INF";
    }
    if (bits & SIGN_BIT) return keep_dot ? "-0.0" : "-0";
    return keep_dot ? "0.0" : "0";
}

bool is_special(u64 bits) { return (bits & ~SIGN_BIT) == 0 || (bits & EXPONENT_MASK) == EXPONENT_MASK; }

char* write_int(char* o, int v) {
    if (v < 0) {
        *o++ = '-';
        v = -v;
    }
    char tmp[12];
    int n = 0;
    do {
        tmp[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) *o++ = tmp[--n];
    return o;
}

char* copy_chars(char* o, const char* s, int n) {
    std::memcpy(o, s, size_t(n));
    return o + n;
}

char* fill_zeros(char* o, int n) {
    for (int i = 0; i < n; i++) *o++ = '0';
    return o;
}

// The plain layout of digits d (n of them) with decimal exponent k, without
// the handling of a trailing point: "0.000ddd" for k <= 0, "ddd00.ddd" else.
char* write_plain(char* o, const char* d, int n, int k) {
    if (k <= 0) {
        *o++ = '0';
        *o++ = '.';
        o = fill_zeros(o, -k);
        return copy_chars(o, d, n);
    }
    if (n <= k) {
        o = copy_chars(o, d, n);
        o = fill_zeros(o, k - n);
        *o++ = '.';
        return o;
    }
    o = copy_chars(o, d, k);
    *o++ = '.';
    return copy_chars(o, d + k, n - k);
}

// Answers the text written from text_buffer + 1, with the sign in front.
const char* finish(char* end, bool negative) {
    *end = 0;
    if (!negative) return text_buffer + 1;
    text_buffer[0] = '-';
    return text_buffer;
}

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// Eight ASCII digits at p, read as one word (the first digit in the low byte),
// answer their value; anything else answers false. A byte is a digit when its
// high nibble is 3 and stays 3 after adding 6. The value is built by merging
// neighbours: pairs of digits into 0..99, pairs of those into 0..9999, then
// the two halves; no lane overflows into the next.
[[gnu::always_inline]] inline bool eight_digits(const char* p, u32* value) {
    u64 x;
    std::memcpy(&x, p, 8);
    constexpr u64 HIGH = 0xF0F0F0F0F0F0F0F0, THREES = 0x3030303030303030, SIXES = 0x0606060606060606;
    if ((x & HIGH) != THREES || ((x + SIXES) & HIGH) != THREES) return false;
    x -= THREES;
    x = (x * 10 + (x >> 8)) & 0x00FF00FF00FF00FF;
    x = (x * 100 + (x >> 16)) & 0x0000FFFF0000FFFF;
    *value = u32((x * 10000 + (x >> 32)) & 0xFFFFFFFF);
    return true;
}

char lower(char ch) { return ch >= 'A' && ch <= 'Z' ? char(ch + 32) : ch; }

// =================================================================== Reading

// The decimal value of a text, as read in one pass: its first 19 significant
// digits as an integer, whether a digit other than zero follows them, and the
// decimal exponent `point` with value = 0.DIGITS x 10^point. The digits
// themselves stay in the text (split around the point) for the exact path.
struct DecimalText {
    u64 w;
    int w_digits;
    bool truncated;
    i64 point;
    const char* int_digits;
    int int_count;
    const char* frac_digits;
    int frac_count;

    char digit(int i) const { return i < int_count ? int_digits[i] : frac_digits[i - int_count]; }
};

// Reads the digits from q on into t, answering where they end. Significant
// digits start at the first one that is not zero; the point moves with those
// before the "." and with the zeros after it that come before any of them.
[[gnu::always_inline]] inline const char* scan_digits(const char* q, const char* end, bool integer_part,
                                                      DecimalText& t, i64& point) {
    if (t.w_digits == 0) {
        const char* zeros = q;
        while (q < end && *q == '0') q++;
        if (!integer_part) point -= q - zeros;
    }
    const char* from = q;
    u32 eight;
    while (end - q >= 8 && t.w_digits <= 19 - 8 && eight_digits(q, &eight)) {
        t.w = t.w * 100000000 + eight;
        t.w_digits += 8;
        q += 8;
    }
    for (; q < end && is_digit(*q); q++) {
        if (t.w_digits < 19) {
            t.w = t.w * 10 + u32(*q - '0');
            t.w_digits++;
        } else if (*q != '0') {
            t.truncated = true;
        }
    }
    if (integer_part) point += q - from;
    return q;
}

// The significant digits of a text as a range of its digit positions.
struct SignificantDigits {
    const DecimalText& t;
    int first = 0, count = 0;
    explicit SignificantDigits(const DecimalText& text) : t(text) {
        int total = t.int_count + t.frac_count;
        while (first < total && t.digit(first) == '0') first++;
        int last = total - 1;
        while (last > first && t.digit(last) == '0') last--;
        count = last - first + 1;
    }
    u32 at(int i) const { return u32(t.digit(first + i) - '0'); }
};

// Digits beyond this many only matter through whether any is not zero: a
// midpoint between doubles has at most 768 significant digits.
constexpr int MAX_EXACT_DIGITS = 800;

// D = N x 10^E, compared exactly with midpoints M x 2^F.
struct ExactDecimal {
    Big base;   // N x 5^E when E >= 0, else N
    Big five;   // 5^-E when E < 0, else 1
    int e;      // E
    bool sticky;  // digits were cut off after N: D is a little above N x 10^E
};

void make_exact(const DecimalText& t, ExactDecimal& x) {
    SignificantDigits sig(t);
    int n = sig.count < MAX_EXACT_DIGITS ? sig.count : MAX_EXACT_DIGITS;
    x.sticky = n < sig.count;
    big_set(x.base, 0);
    int i = 0;
    while (i < n) {
        int chunk = n - i < 9 ? n - i : 9;
        u32 v = 0;
        for (int j = 0; j < chunk; j++) v = v * 10 + sig.at(i + j);
        big_mul_small(x.base, u32(POW10_U64[chunk]), v);
        i += chunk;
    }
    x.e = int(t.point - n);
    big_set(x.five, 1);
    if (x.e >= 0)
        big_mul_pow5(x.base, x.e);
    else
        big_mul_pow5(x.five, -x.e);
}

// D compared with M x 2^F.
int compare_exact(const ExactDecimal& x, u64 m, int f) {
    Big left, right;
    big_copy(left, x.base);
    big_mul_u64(right, x.five, m);
    // D = base x 2^E / five; the comparison is base x 2^E with five x M x 2^F.
    if (x.e > f)
        big_shift_left(left, x.e - f);
    else
        big_shift_left(right, f - x.e);
    int c = big_compare(left, right);
    if (c == 0 && x.sticky) c = 1;
    return c;
}

// The midpoint between the double with these (positive, finite) bits and its
// upper neighbour, as M x 2^F.
void upper_midpoint(u64 bits, u64* m, int* f) {
    int be = int(bits >> 52);
    u64 c = be ? (bits & FRACTION_MASK) | HIDDEN_BIT : bits;
    *m = 2 * c + 1;
    *f = (be ? be - 1075 : -1074) - 1;
}

// The double nearest to D, found from an estimate by exact comparisons with
// the midpoints around it.
u64 correct_by_comparison(const DecimalText& t, u64 bits) {
    ExactDecimal x;
    make_exact(t, x);
    if (bits > INFINITY_BITS) bits = INFINITY_BITS;
    if (bits == INFINITY_BITS) bits--;
    for (;;) {
        u64 m;
        int f;
        upper_midpoint(bits, &m, &f);
        int c = compare_exact(x, m, f);
        if (c > 0) {
            bits++;
            if (bits == INFINITY_BITS) return bits;
            continue;
        }
        if (c == 0) return bits + (bits & 1);
        if (bits == 0) return 0;
        upper_midpoint(bits - 1, &m, &f);
        c = compare_exact(x, m, f);
        if (c > 0) return bits;
        if (c == 0) return bits - (bits & 1);
        bits--;
    }
}

// The nearest double to the decimal value, as bits.
u64 decimal_to_bits(const DecimalText& t) {
    // Beyond these the value is certainly above the largest double plus half
    // its gap (0.1 x 10^310) or below half the smallest one (10^-324).
    if (t.point > 309) return INFINITY_BITS;
    if (t.point < -323) return 0;

    u64 w = t.w;
    bool truncated = t.truncated;
    int e10 = int(t.point) - t.w_digits;

    // A small integer times an exact power of ten: one correctly rounded operation.
    if (!truncated && w <= (u64(1) << 53) && !big_integers_only) {
        if (e10 >= 0 && e10 <= 22) return std::bit_cast<u64>(double(w) * EXACT_POW10[e10]);
        if (e10 < 0 && e10 >= -22) return std::bit_cast<u64>(double(w) / EXACT_POW10[-e10]);
        if (e10 > 22 && e10 <= 22 + 15 && w < POW10_U64[37 - e10]) {
            u64 w2 = w * POW10_U64[e10 - 22];
            if (w2 <= (u64(1) << 53)) return std::bit_cast<u64>(double(w2) * 1e22);
        }
    }

    // Scaled: w x 10^e10 as a 192-bit product, cut at the last bit of the
    // double; the rest decides the rounding unless it is too near the half.
    const Power& pw = power_of_ten(e10);
    int lz = __builtin_clzll(w);
    U192 p = mul_64x128(w << lz, pw.m);
    int top = (p.hi >> 63) ? 191 : 190;
    int exponent = top + pw.e2 - lz;  // the product's top bit is worth 2^exponent
    if (exponent > 1023) return INFINITY_BITS;
    int kept = exponent < -1022 ? -1022 : exponent;  // subnormals keep fewer bits
    int s = (kept - 52) - (pw.e2 - lz) - 64;
    u64 estimate = 0;
    if (s >= 0 && s < 128) {
        u64 err = 0;
        if (truncated) {
            // The true value lies below (w + 1) x 10^e10.
            int spill = lz + 128 - s;
            err = spill < 60 ? 3 + (u64(1) << (spill > 0 ? spill : 0)) : ~u64(0) >> 4;
        } else if (!pw.exact) {
            err = product_error(w << lz, s);
        }
        Scaled x = scale(p, s, err);
        // In units of the double's last bit the value is w x 2^-(kept - 52) / 10^-e10.
        x.snap = !truncated && !pw.exact && snaps(-e10, 52 - kept, err);
        u64 keep = u64(x.a >> 64);
        estimate = (u64(kept + 1022) << 52) + keep;
        Order o = big_integers_only ? UNSURE : order(x, fixed(keep) | HALF);
        if (o == BELOW) return estimate;
        if (o == ABOVE) return estimate + 1;
        if (o == AT) return estimate + (keep & 1);
    }
    return correct_by_comparison(t, estimate);
}

}  // namespace

// =================================================================== Interface

const char* digits(double value, int precision, int* decimal_exponent, bool* sign, int* count, bool keep_dot) {
    u64 bits = std::bit_cast<u64>(value);
    *sign = (bits & SIGN_BIT) != 0;
    if (is_special(bits)) {
        const char* t = special_text(bits, keep_dot);
        *decimal_exponent = (bits & EXPONENT_MASK) == EXPONENT_MASK ? EXPONENT_NOT_FINITE : EXPONENT_ZERO;
        *count = int(std::strlen(t));
        return t;
    }
    char* d = text_buffer + 1;
    int n = generate(bits & ~SIGN_BIT, precision, d, decimal_exponent);
    d[n] = 0;
    *count = n;
    return d;
}

const char* form_float(double value, int precision, bool keep_dot) {
    u64 bits = std::bit_cast<u64>(value);
    if (is_special(bits)) return special_text(bits, keep_dot);
    char d[MAX_PRECISION + 1];
    int k;
    int n = generate(bits & ~SIGN_BIT, precision, d, &k);
    char* o = text_buffer + 1;
    if (k >= 18 || k < -6) {
        *o++ = d[0];
        if (n > 1 || keep_dot) {
            *o++ = '.';
            o = n > 1 ? copy_chars(o, d + 1, n - 1) : fill_zeros(o, 1);
        }
        *o++ = 'e';
        o = write_int(o, k - 1);
    } else {
        o = write_plain(o, d, n, k);
        if (o[-1] == '.') {
            if (keep_dot)
                *o++ = '0';
            else
                o--;
        }
    }
    return finish(o, (bits & SIGN_BIT) != 0);
}

const char* form_general(double value, int precision) {
    u64 bits = std::bit_cast<u64>(value);
    if (is_special(bits)) return special_text(bits, false);
    if (precision <= 0) precision = 1;
    char d[MAX_PRECISION + 1];
    int k;
    int n = generate(bits & ~SIGN_BIT, precision, d, &k);
    char* o = text_buffer + 1;
    int x = k - 1;
    if (x < -4 || x >= precision) {
        *o++ = d[0];
        if (n > 1) {
            *o++ = '.';
            o = copy_chars(o, d + 1, n - 1);
        }
        *o++ = 'e';
        *o++ = x < 0 ? '-' : '+';
        if (x < 0) x = -x;
        if (x < 10) *o++ = '0';
        o = write_int(o, x);
    } else {
        o = write_plain(o, d, n, k);
        if (o[-1] == '.') o--;
    }
    return finish(o, (bits & SIGN_BIT) != 0);
}

double string_to_float(const char* first, const char* end, int extra_exponent, i64* unconsumed) {
    const char* p = first;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        p++;
    }
    DecimalText t{};
    i64 point = 0;
    t.int_digits = p;
    p = scan_digits(p, end, true, t, point);
    t.int_count = int(p - t.int_digits);
    if (p < end && *p == '.') {
        // "1.#INF" and "1.#NaN": one digit, the point, "#" and three letters.
        if (t.int_count == 1 && end - p >= 5 && p[1] == '#') {
            char a = lower(p[2]), b = lower(p[3]), c = lower(p[4]);
            bool inf = a == 'i' && b == 'n' && c == 'f';
            bool nan = a == 'n' && b == 'a' && c == 'n';
            if (inf || nan) {
                *unconsumed = end - (p + 5);
                u64 bits = nan ? QUIET_NAN_BITS : INFINITY_BITS | (negative ? SIGN_BIT : 0);
                return std::bit_cast<double>(bits);
            }
        }
        t.frac_digits = ++p;
        p = scan_digits(p, end, false, t, point);
        t.frac_count = int(p - t.frac_digits);
    }
    if (t.int_count + t.frac_count == 0) {
        *unconsumed = end - first;
        return 0.0;
    }
    i64 exponent = 0;
    if (p + 1 < end && (*p == 'e' || *p == 'E')) {
        const char* e = p + 1;
        bool exp_negative = false;
        if (*e == '+' || *e == '-') {
            exp_negative = *e == '-';
            e++;
        }
        if (e < end && is_digit(*e)) {
            // Far beyond any double's range; larger exponents change nothing.
            constexpr i64 EXPONENT_LIMIT = 1000000000;
            for (; e < end && is_digit(*e); e++)
                if (exponent < EXPONENT_LIMIT) exponent = exponent * 10 + (*e - '0');
            if (exp_negative) exponent = -exponent;
            p = e;
        }
    }
    *unconsumed = end - p;

    u64 bits = 0;
    if (t.w_digits) {
        t.point = point + exponent + extra_exponent;
        bits = decimal_to_bits(t);
    }
    if (negative) bits |= SIGN_BIT;
    return std::bit_cast<double>(bits);
}

}  // namespace dtoa
}  // namespace zir
