// The loaders of the numeric and temporal literals (integers decimal and
// hexadecimal, floats, percents, the special floats, tuples, pairs, points,
// times, dates and money) and the text-to-number conversions of string
// contents that `make` and `to` use.
//
// The loaders follow the scanners' convention (lexer.hpp): they check the
// token and, when loading, push the value; a rejected token raises `syntax
// invalid` with the datatype the literal was meant to be.
#include <cstring>
#include <limits>

#include "datatypes/date.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/string.hpp"
#include "loader/lexer.hpp"
#include "loader/number.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace lexer {

namespace {

// A tuple! of `count` bytes: the bytes fill payload words 1 to 3, the first
// in the lowest byte of word 1.
void make_tuple(Cell* c, i32 count, const u8* bytes) {
    u32 w[3];
    std::memcpy(w, bytes, 12);
    tuple::make_at(c, count, w[0], w[1], w[2]);
}

bool check_number(const u8* text, i64 length) {
    return length <= MAX_FLOAT_TEXT && lexer::check_number(reinterpret_cast<const char*>(text), i32(length));
}

// The double of float text (quotes dropped, "," read as "."), times
// 10^extra; false when the converter does not take all of it.
bool text_to_double(const u8* p, const u8* end, int extra, double* out) {
    i64 n = end - p;
    if (n <= 0 || n > MAX_FLOAT_TEXT) return false;
    char copy[MAX_FLOAT_TEXT + 1];
    i64 k = 0;
    for (i64 i = 0; i < n; i++) {
        u8 c = p[i];
        if (c == '\'') continue;
        copy[k++] = c == ',' ? '.' : char(c);
    }
    i64 unconsumed = 0;
    *out = dtoa::string_to_float(copy, copy + k, extra, &unconsumed);
    return unconsumed == 0;
}

// Plain decimal text, [+-]digits.digits with 15 digits at most: the digits
// read as an integer and the power of ten they are divided by are both exact
// doubles, so one division gives the correctly rounded value, which is what
// the general reader answers. False for any other text.
bool plain_decimal(const u8* p, const u8* end, double* out) {
    static constexpr double powers[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) p++;
    const u8* digits_start = p;
    u64 m = 0;
    while (p < end && u8(*p - '0') < 10) m = m * 10 + u8(*p++ - '0');
    const u8* dot = p;
    if (dot == digits_start || p >= end || *p != '.') return false;
    for (p++; p < end && u8(*p - '0') < 10; p++) m = m * 10 + u8(*p - '0');
    i64 fraction = p - dot - 1;
    if (p != end || fraction == 0 || (dot - digits_start) + fraction > 15) return false;
    double d = double(m) / powers[fraction];
    *out = negative ? -d : d;
    return true;
}

void push_float(State* st, u32 type, double d) {
    Cell* c = push_value(st);
    c->header = (c->header & FLAG_NEW_LINE) | type;
    c->w1 = 0;
    cell::set_float(c, d);
}

// --- Decimal integers ---------------------------------------------------------------------

enum DecimalStatus { DECIMAL_OK, DECIMAL_NO_DIGIT, DECIMAL_QUOTES, DECIMAL_TOO_LARGE, DECIMAL_NOT_DIGIT };

// Reads [p, end) as an optional sign and decimal digits with quote separators.
// A pair's token may hold an exponent letter after its "x" ("1x2e5"): any
// byte that is no digit makes the text no integer.
DecimalStatus read_decimal(const u8* p, const u8* end, i32* value) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    u64 v = 0;
    i32 digits = 0;
    bool quote = false;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (quote) return DECIMAL_QUOTES;
            quote = true;
            continue;
        }
        quote = false;
        if (*p < '0' || *p > '9') return DECIMAL_NOT_DIGIT;
        v = v * 10 + u32(*p - '0');
        if (++digits > 10) return DECIMAL_TOO_LARGE;
    }
    if (digits == 0) return DECIMAL_NO_DIGIT;
    if (v > (negative ? 2147483648ull : 2147483647ull)) return DECIMAL_TOO_LARGE;
    *value = negative ? i32(u32(0) - u32(v)) : i32(v);
    return DECIMAL_OK;
}

// --- Dates -------------------------------------------------------------------------------

constexpr const char* MONTHS[12] = {"January", "February", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};

i32 month_days(i32 y, i32 m) {
    static const i32 days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && !date::leap_year_q(y)) return 28;
    return days[m - 1];
}

bool digit_q(const u8* p, const u8* end) { return p < end && *p >= '0' && *p <= '9'; }

// Up to `max` digits (at least one); false when none.
bool read_digits(const u8*& p, const u8* end, i32 max, i32* value, i32* count = nullptr) {
    i32 v = 0, n = 0;
    while (n < max && digit_q(p, end)) {
        v = v * 10 + (*p++ - '0');
        n++;
    }
    if (count) *count = n;
    *value = v;
    return n > 0;
}

// Exactly n digits.
bool read_exact(const u8*& p, const u8* end, i32 n, i32* value) {
    i32 count;
    return read_digits(p, end, n, value, &count) && count == n;
}

// Seconds as digits and "." (a decimal number).
bool read_seconds(const u8*& p, const u8* end, double* seconds) {
    const u8* from = p;
    while (p < end && ((*p >= '0' && *p <= '9') || *p == '.')) p++;
    if (p == from) return false;
    return check_number(from, p - from) && text_to_double(from, p, 0, seconds);
}

struct DateFields {
    i32 year = 0, month = 0, day = 0;
    bool has_time = false;
    double time = 0;
    i32 zone_hours = 0, zone_minutes = 0;
    // An ISO week date or an ordinal date: the day is found from 1 January.
    i32 week = 0, weekday = 0, yearday = 0;
};

// The time and zone after "/" or "T": hours, ":", minutes, [":" seconds],
// then "Z" or a signed zone. False at anything else.
bool read_time_part(const u8*& p, const u8* end, DateFields* f) {
    i32 h, m;
    if (!read_digits(p, end, 2, &h)) return false;
    if (p >= end || *p != ':') return false;
    p++;
    if (!read_digits(p, end, 2, &m)) return false;
    double s = 0;
    if (p < end && *p == ':') {
        p++;
        if (!read_seconds(p, end, &s)) return false;
    }
    if (h > 23 || m > 59 || s >= 60) return false;
    f->has_time = true;
    f->time = h * 3600.0 + m * 60.0 + s;
    if (p < end && *p == 'Z') {
        p++;
    } else if (p < end && (*p == '+' || *p == '-')) {
        bool west = *p++ == '-';
        i32 zh, zm = 0;
        if (!read_digits(p, end, 2, &zh)) return false;
        if (p < end && *p == ':') p++;
        if (digit_q(p, end) && !read_digits(p, end, 2, &zm)) return false;
        if (zh > 15 || zm > 59) return false;
        f->zone_hours = west ? -zh : zh;
        f->zone_minutes = west ? -zm : zm;
    }
    return true;
}

// Parses a date token; false when it is no date.
bool parse_date(const u8* p, const u8* end, DateFields* f) {
    bool negative_first = false;
    if (p < end && *p == '-') {
        negative_first = true;
        p++;
    }
    i32 first, first_digits;
    if (!read_digits(p, end, 4, &first, &first_digits)) return false;
    if (negative_first) first = -first;

    if (digit_q(p, end)) {
        // Basic ISO 8601: YYYYMMDDThhmm[ss][Z|+hhmm].
        if (first_digits != 4 || negative_first) return false;
        f->year = first;
        if (!read_exact(p, end, 2, &f->month) || !read_exact(p, end, 2, &f->day)) return false;
        if (p >= end || *p != 'T') return false;
        p++;
        i32 h, m;
        if (!read_exact(p, end, 2, &h) || !read_exact(p, end, 2, &m)) return false;
        double s = 0;
        if (p < end && *p != 'Z' && *p != '+' && *p != '-') {
            if (!read_seconds(p, end, &s)) return false;
        }
        if (p < end && *p == 'Z') {
            p++;
        } else if (p < end && (*p == '+' || *p == '-')) {
            bool west = *p++ == '-';
            i32 zh, zm;
            if (!read_exact(p, end, 2, &zh) || !read_exact(p, end, 2, &zm)) return false;
            f->zone_hours = west ? -zh : zh;
            f->zone_minutes = west ? -zm : zm;
        }
        if (h > 23 || m > 59 || s >= 60) return false;
        f->has_time = true;
        f->time = h * 3600.0 + m * 60.0 + s;
        return p == end;
    }

    if (p < end && *p == '-' && first_digits == 4 && !negative_first && p + 1 < end && p[1] == 'W') {
        // ISO week date: YYYY-Www[-d].
        p += 2;
        f->year = first;
        if (!read_exact(p, end, 2, &f->week)) return false;
        f->weekday = 1;
        if (p < end && *p == '-') p++;
        if (digit_q(p, end)) {
            f->weekday = *p++ - '0';
            if (f->weekday < 1 || f->weekday > 7) return false;
        }
        if (p < end && *p == 'T') {
            p++;
            if (!read_time_part(p, end, f)) return false;
        }
        return p == end;
    }

    if (p < end && *p == '-' && !negative_first) {
        const u8* q = p + 1;
        i32 n = 0;
        while (digit_q(q + n, end)) n++;
        if (n == 3 && (q + 3 == end || !digit_q(q + 3, end))) {
            // Ordinal date: YYYY-ddd.
            f->year = first;
            i32 d;
            read_exact(q, end, 3, &d);
            if (d == 0) return false;
            f->yearday = d;
            p = q;
            if (p < end && (*p == '/' || *p == 'T')) {
                p++;
                if (!read_time_part(p, end, f)) return false;
            }
            return p == end;
        }
    }

    if (p >= end || (*p != '-' && *p != '/')) return false;
    u8 separator = *p++;
    i32 month;
    if (digit_q(p, end)) {
        read_digits(p, end, 2, &month);
    } else {
        const u8* from = p;
        while (p < end && *p != separator) p++;
        i64 n = p - from;
        if (n < 3 || n > 9) return false;
        month = 0;
        for (i32 m = 0; m < 12 && !month; m++) {
            const char* name = MONTHS[m];
            if (i64(std::strlen(name)) < n) continue;
            bool same = true;
            for (i64 i = 0; i < n && same; i++) {
                u8 c = from[i], d = u8(name[i]);
                if (c >= 'A' && c <= 'Z') c = u8(c + 32);
                if (d >= 'A' && d <= 'Z') d = u8(d + 32);
                same = c == d;
            }
            if (same) month = m + 1;
        }
        if (!month) return false;
    }
    if (p >= end || *p != separator) return false;
    p++;
    bool negative_third = false;
    if (p < end && *p == '-') {
        negative_third = true;
        p++;
    }
    i32 third, third_digits;
    if (!read_digits(p, end, 4, &third, &third_digits)) return false;
    if (negative_third) third = -third;
    i32 year, day, year_digits;
    if (negative_third || third > 31 || first <= 99) {
        day = first;
        year = third;
        year_digits = third_digits;
        if (negative_first) return false;
    } else {
        year = first;
        day = third;
        year_digits = first_digits;
    }
    if (year >= 0 && year <= 99 && year_digits <= 2) year += year > 49 ? 1900 : 2000;
    f->year = year;
    f->month = month;
    f->day = day;
    if (p < end && (*p == '/' || *p == 'T')) {
        p++;
        if (!read_time_part(p, end, f)) return false;
    }
    return p == end;
}

// Whether the fields make a date: a week date or an ordinal date is moved
// there from 1 January by the date! datatype, so only its year is checked here.
bool valid_date(const DateFields& f) {
    if (f.year < -9999 || f.year > 9999) return false;
    if (f.week || f.yearday) return true;
    if (f.day < 1 || f.month < 1 || f.month > 12) return false;
    return f.day <= month_days(f.year, f.month);
}

// The date! of the fields in `c`; false when the datatype cannot hold it.
bool build_date(Cell* c, const DateFields& f) {
    bool moved = f.week || f.yearday;
    u32 nl = c->header & FLAG_NEW_LINE;
    if (!date::make_at(c, f.year, moved ? 1 : f.month, moved ? 1 : f.day, f.time, f.zone_hours, f.zone_minutes,
                       f.has_time))
        return false;
    c->header |= nl;
    if (f.week) return date::set_isoweek(c, f.week) && date::set_weekday(c, f.weekday);
    if (f.yearday) return date::set_yearday(c, f.yearday);
    return true;
}

// --- Money -----------------------------------------------------------------------------------

struct MoneyText {
    bool negative = false;
    u8 currency[4] = {0, 0, 0, 0};
    const u8* integral = nullptr;
    i32 integral_length = 0;
    const u8* fraction = nullptr;
    i32 fraction_length = 0;
    u8 digits[40];   // the digits without quotes or leading zeros
};

bool ascii_letter_q(u8 c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Parses money text: [sign] [CUR] "$" amount. A literal's token always holds
// the "$" and may take "," for the decimal point; a string's contents
// (`text`, for to money!) need the "$" only after a currency code and take
// only ".". False when it is no money.
bool parse_money(const u8* p, const u8* end, MoneyText* m, bool text = false) {
    if (p < end && (*p == '-' || *p == '+')) m->negative = *p++ == '-';
    if (text) {
        if (p < end && ascii_letter_q(*p)) {
            // A code, "$" and a digit at least.
            if (end - p < 5 || !ascii_letter_q(p[1]) || !ascii_letter_q(p[2]) || p[3] != '$') return false;
            std::memcpy(m->currency, p, 3);
            p += 4;
        } else if (p < end && *p == '$') {
            p++;
        }
    } else {
        const u8* dollar = static_cast<const u8*>(std::memchr(p, '$', size_t(end - p)));
        if (!dollar) return false;
        i64 code = dollar - p;
        if (code != 0 && code != 3) return false;
        for (i64 i = 0; i < code; i++) {
            if (!ascii_letter_q(p[i])) return false;
            m->currency[i] = p[i];
        }
        p = dollar + 1;
    }
    auto point_q = [text](u8 c) { return c == '.' || (!text && c == ','); };
    if (p >= end || point_q(*p) || *p == '\'') return false;
    i32 n = 0;
    bool seen_digit = false;
    bool quote = false;
    // Leading zeros and quotes are skipped.
    while (p < end && (*p == '0' || *p == '\'')) {
        if (*p == '\'' && quote) return false;
        quote = *p == '\'';
        seen_digit |= *p == '0';
        p++;
    }
    while (p < end && !point_q(*p)) {
        if (*p == '\'') {
            if (quote) return false;
            quote = true;
            p++;
            continue;
        }
        if (*p < '0' || *p > '9') return false;
        quote = false;
        if (n >= 17) return false;
        m->digits[n++] = *p++;
        seen_digit = true;
    }
    if (quote) return false;   // a quote last, or right before the point
    if (!seen_digit) return false;
    if (n == 0) m->digits[n++] = '0';
    m->integral = m->digits;
    m->integral_length = n;
    if (p < end) {
        p++;   // the decimal point
        if (p >= end || *p == '\'') return false;
        i32 f = 0;
        for (; p < end; p++) {
            if (*p < '0' || *p > '9') return false;
            if (f >= 5) return false;
            m->digits[n + f++] = *p;
        }
        m->fraction = m->digits + n;
        m->fraction_length = f;
    }
    return true;
}

// The money! of the parsed text in `c`; false for an unknown currency.
bool build_money(Cell* c, const MoneyText& m) {
    Cell currency;
    cell::init(&currency, TYPE_NONE);
    if (m.currency[0]) series::make_word(&currency, symbol::make(std::string_view(reinterpret_cast<const char*>(m.currency), 3)));
    u32 nl = c->header & FLAG_NEW_LINE;
    // The digits as money::make_at reads them: integral digits, a point, fraction digits.
    u8 text[48];
    std::memcpy(text, m.integral, size_t(m.integral_length));
    i32 n = m.integral_length;
    const u8* point = nullptr;
    if (m.fraction) {
        text[n] = '.';
        point = text + n;
        std::memcpy(text + n + 1, m.fraction, size_t(m.fraction_length));
        n += 1 + m.fraction_length;
    }
    if (!money::make_at(c, m.negative, &currency, text, point, text + n)) return false;
    c->header |= nl;
    return true;
}

// Nine digits at most, without sign or separator: they cannot overflow, so
// they are read with no check between them. False for any other token.
bool short_decimal(const u8* p, const u8* end, u32 flags, i32* value) {
    i64 n = end - p;
    if ((flags & (FLAG_QUOTE | FLAG_SIGN)) || n < 1 || n > 9) return false;
    u32 v = 0;
    for (; p < end; p++) {
        u32 d = u32(*p) - '0';
        if (d > 9) return false;
        v = v * 10 + d;
    }
    *value = i32(v);
    return true;
}

}  // namespace

// --- The loaders ----------------------------------------------------------------------------

void load_integer(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    i32 value = 0;
    DecimalStatus status = short_decimal(start, end, flags, &value) ? DECIMAL_OK : read_decimal(start, end, &value);
    if (status == DECIMAL_NO_DIGIT) throw_error(st, start, end, TYPE_PAIR);
    if (status == DECIMAL_QUOTES || status == DECIMAL_NOT_DIGIT) throw_error(st, start, end, TYPE_INTEGER);
    if (status == DECIMAL_TOO_LARGE) {
        st->token_type = TYPE_FLOAT;
        load_float(st, start, end, flags, load);
        return;
    }
    st->position = end;
    if (!load) return;
    Cell* c = push_value(st);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_INTEGER;
    c->w2 = u32(value);
}

void load_hex(State* st, const u8* start, const u8* end, u32, bool load) {
    const u8* last = end - 1;   // the "h"
    i64 n = last - start;
    bool decimal_start = *start >= '0' && *start <= '9';
    if (!decimal_start && n == 1) throw_error(st, start, end, TYPE_WORD);
    if (*start == '+' || *start == '-' || n < 2 || n > 8) throw_error(st, start, end, TYPE_INTEGER);
    u32 v = 0;
    for (const u8* p = start; p < last; p++) {
        u8 c = *p;
        u32 d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else throw_error(st, start, end, TYPE_INTEGER);
        v = (v << 4) | d;
    }
    st->position = end;
    if (!load) return;
    Cell* c = push_value(st);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_INTEGER;
    c->w2 = v;
}

void load_float(State* st, const u8* start, const u8* end, u32, bool load) {
    double d;
    if (!plain_decimal(start, end, &d)) {
        if (!check_number(start, end - start)) throw_error(st, start, end, TYPE_FLOAT);
        if (!text_to_double(start, end, 0, &d)) throw_error(st, start, end, TYPE_FLOAT);
    }
    st->position = end;
    if (load) push_float(st, TYPE_FLOAT, d);
}

void load_percent(State* st, const u8* start, const u8* end, u32, bool load) {
    if (!check_number(start, end - start)) throw_error(st, start, end + 1, TYPE_FLOAT);
    double d;
    if (!text_to_double(start, end, -2, &d)) throw_error(st, start, end + 1, TYPE_FLOAT);
    st->position = end + 1;
    if (load) push_float(st, TYPE_PERCENT, d);
}

void load_float_special(State* st, const u8* start, const u8* end, u32, bool load) {
    const u8* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p < 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') throw_error(st, start, end, TYPE_FLOAT);
    char letters[4] = {0};
    for (int i = 0; i < 3; i++) {
        u8 c = p[3 + i];
        letters[i] = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    double d;
    if (std::strcmp(letters, "NAN") == 0) {
        d = std::bit_cast<double>(u64(0x7FF8000000000000ull));
    } else if (std::strcmp(letters, "INF") == 0) {
        d = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    } else {
        throw_error(st, start, end, TYPE_FLOAT);
    }
    st->position = end;
    if (load) push_float(st, TYPE_FLOAT, d);
}

void load_tuple(State* st, const u8* start, const u8* end, u32, bool load) {
    u8 bytes[12] = {0};
    i32 count = 0;
    const u8* p = start;
    for (;;) {
        i32 v = 0, digits = 0;
        while (p < end && *p != '.') {
            if (*p < '0' || *p > '9') throw_error(st, start, end, TYPE_TUPLE);
            v = v * 10 + (*p++ - '0');
            if (v > 255) throw_error(st, start, end, TYPE_TUPLE);
            digits++;
        }
        if (digits == 0 || count >= 12) throw_error(st, start, end, TYPE_TUPLE);
        bytes[count++] = u8(v);
        if (p >= end) break;
        p++;
    }
    st->position = end;
    if (!load) return;
    make_tuple(push_value(st), count, bytes);
}

void load_pair(State* st, const u8* start, const u8* end, u32, bool load) {
    if (std::memchr(start, '.', size_t(end - start))) throw_error(st, start, end, TYPE_PAIR);
    const u8* x = start;
    while (x < end && *x != 'x' && *x != 'X') x++;
    i32 a, b;
    if (read_decimal(start, x, &a) != DECIMAL_OK || x >= end || read_decimal(x + 1, end, &b) != DECIMAL_OK)
        throw_error(st, start, end, TYPE_PAIR);
    st->token_type = TYPE_PAIR;
    st->position = end;
    if (!load) return;
    pair::make_at(push_value(st), a, b);
}

namespace {

// A point component: its double, reading `p` on to the byte after it.
double point_component(State* st, const u8*& p, const u8* start, const u8* end, bool load, i32 type) {
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    if (p >= end || *p == ',' || *p == ')') throw_error(st, start - 1, end + 1, type);
    const u8* from = p;
    while (p < end && *p != ',' && *p != ')' && *p != ' ' && *p != '\t') p++;
    double d = 0;
    if (std::memchr(from, '#', size_t(p - from))) {
        const u8* q = from;
        bool negative = false;
        if (*q == '+' || *q == '-') negative = *q++ == '-';
        char letters[4] = {0};
        if (p - q < 6 || q[0] != '1' || q[1] != '.' || q[2] != '#') throw_error(st, start - 1, end + 1, TYPE_FLOAT);
        for (int i = 0; i < 3; i++) letters[i] = char(q[3 + i] >= 'a' && q[3 + i] <= 'z' ? q[3 + i] - 32 : q[3 + i]);
        if (std::strcmp(letters, "NAN") == 0) d = std::numeric_limits<double>::quiet_NaN();
        else if (std::strcmp(letters, "INF") == 0) d = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        else throw_error(st, start - 1, end + 1, TYPE_FLOAT);
    } else if (load) {
        if (p - from >= 313 || !text_to_double(from, p, 0, &d)) throw_error(st, start - 1, end + 1, TYPE_FLOAT);
    } else if (!check_number(from, p - from)) {
        throw_error(st, start - 1, end + 1, TYPE_FLOAT);
    }
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    return d;
}

}  // namespace

void load_point(State* st, const u8* start, const u8* end, u32, bool load) {
    const u8* p = start;
    double v[3];
    v[0] = point_component(st, p, start, end, load, TYPE_POINT2D);
    if (p >= end || *p != ',') throw_error(st, start - 1, end + 1, TYPE_POINT2D);
    p++;
    v[1] = point_component(st, p, start, end, load, TYPE_POINT2D);
    st->lead_lines = st->saved_lines;
    i32 n = 2;
    if (p < end && *p == ',') {
        p++;
        v[2] = point_component(st, p, start, end, load, TYPE_POINT3D);
        if (p != end) throw_error(st, start - 1, end + 1, TYPE_POINT3D);
        n = 3;
    } else if (p != end) {
        throw_error(st, start - 1, end + 1, TYPE_POINT2D);
    }
    st->token_type = n == 3 ? TYPE_POINT3D : TYPE_POINT2D;
    st->start_state = 0;
    st->position = end + 1;
    if (!load) return;
    Cell* c = push_value(st);
    if (n == 3)
        point3D::make_at(c, point::to_single(v[0]), point::to_single(v[1]), point::to_single(v[2]));
    else
        point2D::make_at(c, point::to_single(v[0]), point::to_single(v[1]));
}

void load_time(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    const u8* p = start;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    auto number = [&](i32* v) {
        const u8* from = p;
        while (p < end && (*p == '\'' || (*p >= '0' && *p <= '9'))) p++;
        if (read_decimal(from, p, v) != DECIMAL_OK) throw_error(st, start, end, TYPE_TIME);
    };
    i32 hours, minutes;
    number(&hours);
    if (p >= end || *p != ':') throw_error(st, start, end, TYPE_TIME);
    p++;
    number(&minutes);
    if (minutes < 0) throw_error(st, start, end, TYPE_TIME);
    double seconds = 0;
    if (p < end) {
        u8 sep = *p;
        if ((sep != '.' && sep != ',' && sep != ':') || (flags & FLAG_EXPONENT) || p + 1 >= end)
            throw_error(st, start, end, TYPE_TIME);
        const u8* from = p + 1;
        if (sep != ':') {
            // minutes:seconds.fraction
            minutes = hours;
            hours = 0;
            from = p - 0;
            const u8* q = p;
            while (q > start && q[-1] >= '0' && q[-1] <= '9') q--;
            from = q;
        }
        if (!check_number(from, end - from) || !text_to_double(from, end, 0, &seconds) || seconds < 0)
            throw_error(st, start, end, TYPE_TIME);
    } else if (end[-1] == ':') {
        throw_error(st, start, end, TYPE_TIME);
    }
    st->position = end;
    if (!load) return;
    if (hours < 0) {
        hours = -hours;
        negative = true;
    }
    double t = hours * 3600.0 + minutes * 60.0 + seconds;
    push_float(st, TYPE_TIME, negative ? -t : t);
}

void load_date(State* st, const u8* start, const u8* end, u32, bool load) {
    DateFields f;
    if (!parse_date(start, end, &f) || !valid_date(f)) throw_error(st, start, end, TYPE_DATE);
    st->position = end;
    if (!load) return;
    Cell* c = push_value(st);
    if (!build_date(c, f)) {
        drop_last(st);
        throw_error(st, start, end, TYPE_DATE);
    }
}

void load_money(State* st, const u8* start, const u8* end, u32, bool load) {
    MoneyText m;
    if (!parse_money(start, end, &m)) throw_error(st, start, end, TYPE_MONEY);
    st->position = end;
    if (!load) return;
    Cell* c = push_value(st);
    if (!build_money(c, m)) {
        drop_last(st);
        throw_error(st, start, end, TYPE_MONEY);
    }
}

// --- Text to numbers --------------------------------------------------------------------

void string_to_tuple(const u8* text, i32 length, u32 unit, i32* error, Cell* result) {
    *error = 0;
    u8 bytes[12] = {0};
    i32 count = 0;
    u32 part = 0;
    bool digits = false;
    for (i32 i = 0; i <= length; i++) {
        u32 c = i < length ? string::get_char(text + i64(i) * unit, unit) : '.';
        if (c == '.') {
            if (!digits || part > 255 || count >= 12) {
                *error = -1;
                return;
            }
            bytes[count++] = u8(part);
            part = 0;
            digits = false;
        } else if (c >= '0' && c <= '9') {
            part = part * 10 + (c - '0');
            if (part > 255) {
                *error = -1;
                return;
            }
            digits = true;
        } else {
            *error = -1;   // only digits and dots make a tuple
            return;
        }
    }
    make_tuple(result, count, bytes);
}

void string_to_money(const u8* text, i32 length, u32 unit, i32* error, Cell* result) {
    *error = -1;
    if (length <= 0 || length > 64) return;
    u8 narrow[64];
    for (i32 i = 0; i < length; i++) {
        u32 c = string::get_char(text + i64(i) * unit, unit);
        if (c > 0x7F) return;   // no money text holds anything beyond ASCII
        narrow[i] = u8(c);
    }
    MoneyText m;
    if (!parse_money(narrow, narrow + length, &m, true)) return;
    if (!build_money(result, m)) return;
    *error = 0;
}

}  // namespace lexer
}  // namespace zir
