// date!: see date.hpp.
#include "datatypes/date.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/time.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"
#include "services/random.hpp"

namespace zir {
namespace date {

MonthNames locale_months = nullptr;

// --- Calendar ------------------------------------------------------------------

namespace {

// Floored division and remainder: the calendar counts days before year 0
// the same way as after it.
constexpr i64 floor_div(i64 a, i64 b) {
    i64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
constexpr i64 floor_mod(i64 a, i64 b) { return a - floor_div(a, b) * b; }

// Days from 1 March of year 0 to 1 March of year y.
constexpr i64 year_days(i64 y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

constexpr i64 day_number_of(i64 year, i32 month, i64 day) {
    i32 m = (month + 9) % 12;   // March is 0
    i64 y = year - m / 10;
    return year_days(y) + (m * 306 + 5) / 10 + (day - 1);
}

constexpr i64 DAY_MIN = day_number_of(YEAR_MIN, 1, 1);
constexpr i64 DAY_MAX = day_number_of(YEAR_MAX, 12, 31);
static_assert(day_number_of(0, 3, 1) == 0);
static_assert(day_number_of(1970, 1, 1) == EPOCH_DAY);

// Beyond this many days any time is out of range; it keeps the conversion of
// a carried day count to an integer defined.
constexpr double CARRY_LIMIT = 1e8;

struct Civil {
    i64 year;
    i32 month, day;
};

Civil civil_of(i64 g) {
    i64 y = floor_div(10000 * g + 14780, 3652425);
    i64 r = g - year_days(y);
    if (r < 0) {
        y--;
        r = g - year_days(y);
    }
    i64 mi = (100 * r + 52) / 3060;
    return {y + (mi + 2) / 12, i32((mi + 2) % 12 + 1), i32(r - (mi * 306 + 5) / 10 + 1)};
}

// Day number of the Monday of ISO week 1 of a year; the weekday of its
// 1 January goes to `weekday`.
i64 iso_week1_of(i64 year, i32* weekday) {
    i64 jan1 = day_number_of(year, 1, 1);
    i32 w = weekday_of(jan1);
    if (weekday) *weekday = w;
    // Week 1 holds the year's first Thursday.
    return w <= 4 ? jan1 - (w - 1) : jan1 + (8 - w);
}

i32 iso_week(u32 d) {
    i32 w1;
    i64 year = year_of(d);
    i64 start = iso_week1_of(year, &w1);
    i64 day = to_day_number(d);
    if (day < start) {
        if (w1 == 5 || (w1 == 6 && leap_year_q(i32(year - 1)))) return 53;
        return 52;
    }
    if (day >= iso_week1_of(year + 1, nullptr)) return 1;
    return i32((day - start) / 7 + 1);
}

// 0 when 1 January is a Sunday, 1 for a Monday ...
i32 jan1_sunday_offset(u32 d) { return i32(floor_mod(i64(jan1_day_number(d)) + 3, 7)); }

// Weeks begin on Sunday; week 1 holds 1 January.
i32 sunday_week(u32 d) {
    i32 e = jan1_sunday_offset(d);
    i32 yd = get_yearday(d);
    return yd <= 7 - e ? 1 : (yd + e - 1) / 7 + 1;
}

// Writes the date of a day number (kept zone, time flag and time) into the
// cell; false, cell unchanged, when the day is out of range.
bool move_to_day(Cell* date, i64 day) {
    if (!day_in_range_q(day)) return false;
    u32 d = date->w1;
    date->w1 = from_day_number(day, zone_of(d), has_time_q(d));
    return true;
}

}  // namespace

bool leap_year_q(i32 year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

i64 day_number(i64 year, i32 month, i64 day) { return day_number_of(year, month, day); }

i32 to_day_number(u32 date) { return i32(day_number_of(year_of(date), month_of(date), day_of(date))); }

bool day_in_range_q(i64 day) { return day >= DAY_MIN && day <= DAY_MAX; }

u32 from_day_number(i64 day, u32 zone, bool time) {
    Civil c = civil_of(day);
    return pack(i32(c.year), c.month, c.day, zone, time);
}

i32 jan1_day_number(u32 date) { return i32(day_number_of(year_of(date), 1, 1)); }

i32 iso_week1_start(u32 date, i32* weekday) { return i32(iso_week1_of(year_of(date), weekday)); }

i32 get_yearday(u32 date) { return to_day_number(date) - jan1_day_number(date) + 1; }

i32 weekday_of(i64 day) { return i32(floor_mod(day + 2, 7)) + 1; }

// --- Zones ------------------------------------------------------------------------

i32 zone_seconds(u32 zone) {
    i32 s = i32((zone >> 2) & 0xF) * 3600 + i32(zone & 3) * 900;
    return (zone & ZONE_NEGATIVE) ? -s : s;
}

bool zone_fits_q(i32 hours, i32 minutes) {
    return hours >= -ZONE_HOURS_MAX && hours <= ZONE_HOURS_MAX && minutes > -60 && minutes < 60;
}

u32 zone_bits(i32 hours, i32 minutes) {
    bool negative = hours < 0 || (hours == 0 && minutes < 0);
    u32 h = u32(hours < 0 ? -hours : hours);
    u32 q = u32(minutes < 0 ? -minutes : minutes) / 15;
    u32 z = (h << 2) | q;
    return z != 0 && negative ? z | ZONE_NEGATIVE : z;
}

namespace {

// The zone bits a time! stands for: its hours and its minutes in quarters,
// negative with the time. False when it does not fit (16 hours and more, or
// no number at all).
bool zone_of_time(double t, u32* zone) {
    double a = std::fabs(t);
    if (!(a < 16 * time::SECONDS_PER_HOUR)) return false;
    u32 h = u32(a / time::SECONDS_PER_HOUR);
    u32 q = u32(time::get_minutes(a)) / 15;
    u32 z = (h << 2) | q;
    *zone = z != 0 && t < 0 ? z | ZONE_NEGATIVE : z;
    return true;
}

}  // namespace

// --- Normalisation ------------------------------------------------------------------

bool normalize_time(i64* day, double* time, u32 zone) {
    double offset = zone_seconds(zone);
    double t = *time;
    double local = t + offset;
    if (!std::isfinite(local)) return false;
    double k = std::floor(local / SECONDS_PER_DAY);
    if (std::fabs(k) > CARRY_LIMIT) return false;
    i64 d = *day + i64(k);
    t -= k * SECONDS_PER_DAY;
    // The division may round a time a hair from midnight to the wrong side.
    local = t + offset;
    if (local < 0) {
        t += SECONDS_PER_DAY;
        d--;
    } else if (local >= SECONDS_PER_DAY) {
        t -= SECONDS_PER_DAY;
        d++;
    }
    if (!day_in_range_q(d)) return false;
    *day = d;
    *time = t;
    return true;
}

bool normalize(Cell* date, double time, bool local) {
    u32 d = date->w1;
    if (local) time = to_utc(time, zone_of(d));
    i64 day = to_day_number(d);
    if (!normalize_time(&day, &time, zone_of(d))) return false;
    date->w1 = from_day_number(day, zone_of(d), has_time_q(d));
    cell::set_float(date, time);
    return true;
}

// --- Moving a date ---------------------------------------------------------------------

bool set_month(Cell* date, i64 month) {
    u32 d = date->w1;
    i64 year = i64(year_of(d)) + floor_div(month - 1, 12);
    i32 m = i32(floor_mod(month - 1, 12)) + 1;
    if (year < YEAR_MIN || year > YEAR_MAX) return false;
    return move_to_day(date, day_number_of(year, m, day_of(d)));
}

bool set_isoweek(Cell* date, i64 week) {
    return move_to_day(date, (week - 1) * 7 + iso_week1_start(date->w1, nullptr));
}

bool set_weekday(Cell* date, i64 weekday) {
    i64 day = to_day_number(date->w1);
    return move_to_day(date, day + (weekday - 1) - floor_mod(day + 2, 7));
}

bool set_yearday(Cell* date, i64 yearday) { return move_to_day(date, jan1_day_number(date->w1) + yearday - 1); }

// --- Values -------------------------------------------------------------------------------

namespace {

Cell* write(Cell* c, u32 date, double time) {
    cell::set_type(c, TYPE_DATE);
    c->w1 = date;
    cell::set_float(c, time);
    return c;
}

[[noreturn]] void bad_to_arg(const Cell* spec) {
    Cell type;
    datatype::make_at(&type, TYPE_DATE);
    fire(ERR_SCRIPT, "bad-to-arg", &type, spec);
}

[[noreturn]] void invalid_arg(const Cell* value) { fire(ERR_SCRIPT, "invalid-arg", value); }

}  // namespace

Cell* push(u32 date, double time) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_DATE);
    return write(c, date, time);
}

Cell* make_in(Cell* block, u32 date, u32 time_high, u32 time_low) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_DATE);
    c->w1 = date;
    c->w2 = time_low;
    c->w3 = time_high;
    return c;
}

Cell* make_at(Cell* c, i32 year, i32 month, i32 day, double time, i32 zone_hours, i32 zone_minutes, bool time_q) {
    if (year < YEAR_MIN || year > YEAR_MAX || month < 1 || month > 12 || day < 1 || day > 31) return nullptr;
    if (!zone_fits_q(zone_hours, zone_minutes)) return nullptr;
    if (time_q && !std::isfinite(time)) return nullptr;
    u32 zone = zone_bits(zone_hours, zone_minutes);
    return write(c, pack(year, month, day, zone, time_q), time_q ? to_utc(time, zone) : 0.0);
}

Cell* make_from_fields(Cell* c, i32 year, i32 month, i32 day, i32 hour, i32 minute, i32 second, i32 nanoseconds) {
    if (year < YEAR_MIN || year > YEAR_MAX || month < 1 || month > 12 || day < 1 || day > 31) return nullptr;
    double t = double(hour) * 3600.0 + double(minute) * 60.0 + double(second) + double(nanoseconds) * 1e-9;
    return write(c, pack(year, month, day, 0, true), t);
}

// --- Fields ---------------------------------------------------------------------------------

namespace {

struct FieldName {
    const char* spelling;
    i32 field;
};
constexpr FieldName field_names[] = {
    {"date", FIELD_DATE},       {"year", FIELD_YEAR},         {"month", FIELD_MONTH},
    {"day", FIELD_DAY},         {"zone", FIELD_ZONE},         {"time", FIELD_TIME},
    {"hour", FIELD_HOUR},       {"minute", FIELD_MINUTE},     {"second", FIELD_SECOND},
    {"weekday", FIELD_WEEKDAY}, {"yearday", FIELD_YEARDAY},   {"julian", FIELD_YEARDAY},
    {"timezone", FIELD_TIMEZONE}, {"week", FIELD_WEEK},       {"isoweek", FIELD_ISOWEEK},
};

bool same_spelling(std::string_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; i++) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

// The accessor a word names, or 0.
i32 field_of_word(const Cell* word) {
    std::string_view s = symbol::spelling(symbol::resolve(i32(word->w2)));
    for (const FieldName& f : field_names)
        if (same_spelling(s, f.spelling)) return f.field;
    return 0;
}

// The accessor an element of a path or an index of pick names, or 0.
i32 field_of(const Cell* element) {
    if (TYPE_OF(element) == TYPE_INTEGER) {
        i32 n = integer::get(element);
        return n >= 1 && n <= FIELD_COUNT ? n : 0;
    }
    if (any_word_q(TYPE_OF(element))) return field_of_word(element);
    return 0;
}

i64 need_integer(const Cell* v) {
    if (TYPE_OF(v) != TYPE_INTEGER) invalid_arg(v);
    return integer::get(v);
}

// Sets one field of `u` (a copy of the date) to `v`; raises the field's error
// and leaves `u` unchanged when `v` cannot be taken.
void set_field(Cell* u, i32 field, const Cell* v) {
    u32 d = u->w1;
    double t = time_of(u);
    u32 zone = zone_of(d);
    bool moved = true;
    switch (field) {
        case FIELD_DATE: {
            if (TYPE_OF(v) != TYPE_DATE) invalid_arg(v);
            Cell w = *u;
            w.w1 = (v->w1 & ~ZONE_MASK) | zone;
            // A date without a time holds none.
            if (!has_time_q(w.w1)) cell::set_float(&w, 0.0);
            else if (!normalize(&w, t, false)) invalid_arg(v);
            *u = w;
            return;
        }
        case FIELD_YEAR: {
            i64 y = need_integer(v);
            if (y < YEAR_MIN || y > YEAR_MAX) invalid_arg(v);
            moved = move_to_day(u, day_number_of(y, month_of(d), day_of(d)));
            break;
        }
        case FIELD_MONTH: moved = set_month(u, need_integer(v)); break;
        case FIELD_DAY:
            moved = move_to_day(u, day_number_of(year_of(d), month_of(d), 0) + need_integer(v));
            break;
        case FIELD_ZONE: set_zone(u, v, false); return;
        case FIELD_TIMEZONE: set_zone(u, v, true); return;
        case FIELD_TIME: {
            if (TYPE_OF(v) == TYPE_NONE) {
                u->w1 = d & ~TIME_FLAG;
                cell::set_float(u, 0.0);
                return;
            }
            if (TYPE_OF(v) != TYPE_TIME) invalid_arg(v);
            Cell w = *u;
            w.w1 = d | TIME_FLAG;
            if (!normalize(&w, time::get(v), true)) invalid_arg(v);
            *u = w;
            return;
        }
        case FIELD_HOUR:
        case FIELD_MINUTE:
        case FIELD_SECOND: {
            // The fields of the local clock: in zones of quarter hours the UTC
            // time has other minutes.
            double local = time::with_field(to_local(t, zone), field - FIELD_HOUR + time::FIELD_HOUR, v);
            Cell w = *u;
            w.w1 = d | TIME_FLAG;
            if (!normalize(&w, local, true)) invalid_arg(v);
            *u = w;
            return;
        }
        case FIELD_WEEKDAY: moved = set_weekday(u, need_integer(v)); break;
        case FIELD_YEARDAY: moved = set_yearday(u, need_integer(v)); break;
        case FIELD_WEEK: {
            i64 w = need_integer(v);
            i64 jan1 = jan1_day_number(d);
            moved = move_to_day(u, w > 1 ? jan1 + 7 * w - jan1_sunday_offset(d) - 7 : jan1);
            break;
        }
        case FIELD_ISOWEEK: moved = set_isoweek(u, need_integer(v)); break;
        default: invalid_arg(v);
    }
    if (!moved) invalid_arg(v);
}

}  // namespace

Cell* get_field(const Cell* date, i32 field) {
    u32 d = date->w1;
    double local = to_local(time_of(date), zone_of(d));
    switch (field) {
        case FIELD_DATE: return push(d & ~(ZONE_MASK | TIME_FLAG), 0.0);
        case FIELD_YEAR: return integer::push(year_of(d));
        case FIELD_MONTH: return integer::push(month_of(d));
        case FIELD_DAY: return integer::push(day_of(d));
        case FIELD_ZONE:
        case FIELD_TIMEZONE:
            if (!has_time_q(d)) return stack::push_scalar(TYPE_NONE);
            return time::push(zone_seconds(zone_of(d)));
        case FIELD_TIME:
            if (!has_time_q(d)) return stack::push_scalar(TYPE_NONE);
            return time::push(local);
        case FIELD_HOUR: {
            double h = time::get_hours(local);
            return integer::push(h >= -48 && h <= 48 ? i32(h) : 0);
        }
        case FIELD_MINUTE: return integer::push(time::get_minutes(local));
        case FIELD_SECOND: return float_::push_value(time::get_seconds(local));
        case FIELD_WEEKDAY: return integer::push(weekday_of(to_day_number(d)));
        case FIELD_YEARDAY: return integer::push(get_yearday(d));
        case FIELD_WEEK: return integer::push(sunday_week(d));
        case FIELD_ISOWEEK: return integer::push(iso_week(d));
        default: {
            Cell index;
            integer::make_at(&index, field);
            fire(ERR_SCRIPT, "out-of-range", &index);
        }
    }
}

void set_zone(Cell* date, const Cell* v, bool keep_instant) {
    u32 zone;
    if (TYPE_OF(v) == TYPE_INTEGER) {
        i32 h = integer::get(v);
        if (!zone_fits_q(h, 0)) invalid_arg(v);
        zone = zone_bits(h, 0);
    } else if (TYPE_OF(v) == TYPE_TIME) {
        if (!zone_of_time(time::get(v), &zone)) invalid_arg(v);
    } else {
        invalid_arg(v);
    }
    u32 d = date->w1;
    double t = time_of(date);
    Cell w = *date;
    w.w1 = (d & ~ZONE_MASK) | zone | TIME_FLAG;
    bool ok = keep_instant ? normalize(&w, t, false) : normalize(&w, to_local(t, zone_of(d)), true);
    if (!ok) invalid_arg(v);
    *date = w;
}

// --- Conversions ---------------------------------------------------------------------------------

i32 to_epoch(const Cell* date) {
    // Rounded half up to the second; a time stored below zero (a zone east of
    // UTC, early in the day) rounds the same way.
    double s = double(to_day_number(date->w1) - EPOCH_DAY) * SECONDS_PER_DAY + std::floor(time_of(date) + 0.5);
    if (!(s >= -2147483648.0 && s <= 2147483647.0)) {
        Cell type;
        datatype::make_at(&type, TYPE_INTEGER);
        fire(ERR_SCRIPT, "type-limit", &type);
    }
    return i32(s);
}

double difference(const Cell* a, const Cell* b) {
    double days = double(to_day_number(a->w1) - to_day_number(b->w1));
    return days * SECONDS_PER_DAY + (time_of(a) - time_of(b));
}

// --- Arithmetic -------------------------------------------------------------------------------------

Cell* do_math_op(i32 op) {
    Cell* a = stack::arguments;
    const Cell* b = a + 1;
    if (op != MATH_ADD && op != MATH_SUBTRACT) integer::not_related(op, TYPE_DATE);
    i64 days = 0;
    double delta = 0.0;
    bool gives_time = false;
    switch (TYPE_OF(b)) {
        case TYPE_INTEGER: days = integer::get(b); break;
        case TYPE_TIME:
            delta = time::get(b);
            gives_time = true;
            break;
        case TYPE_DATE:
            if (op == MATH_ADD) integer::not_related(MATH_ADD, TYPE_DATE);
            days = to_day_number(b->w1);
            delta = time_of(b);
            break;
        default: integer::invalid_operand(b);
    }
    u32 d = a->w1;
    i64 day = to_day_number(d);
    double t = time_of(a);
    if (op == MATH_ADD) {
        day += days;
        t += delta;
    } else {
        day -= days;
        t -= delta;
    }
    if (TYPE_OF(b) == TYPE_DATE) {
        // Whole days from one instant to the other, rounded down, whatever
        // the zones of the two dates.
        double k = std::floor(t / SECONDS_PER_DAY);
        integer::make_at(a, i32(day + i64(k)));
        a->w1 = a->w3 = 0;
        return a;
    }
    bool timed = has_time_q(d) || gives_time;
    // A date without a time keeps its day: there is no clock to carry.
    if (timed ? !normalize_time(&day, &t, zone_of(d)) : !day_in_range_q(day)) fire(ERR_MATH, "overflow");
    write(a, from_day_number(day, zone_of(d), timed), timed ? t : 0.0);
    return a;
}

// --- Actions ------------------------------------------------------------------------------------------

namespace {

// --- make and to

// The state table of a spec block: each state names, for an integer!, a
// time! and a float!, the slot that takes it and the next state (-1: none).
enum Slot : i32 { S_NONE, S_FIRST, S_MONTH, S_THIRD, S_HOUR, S_TIME, S_ZONE_HOURS, S_ZONE, S_ZONE_MINUTES,
                  S_MINUTE, S_SECOND };
struct Transition {
    Slot slot;
    i32 next;
};
struct State {
    Transition integer, time, float_;
};
constexpr Transition NO = {S_NONE, -1};
constexpr State states[14] = {
    {{S_FIRST, 1}, NO, NO},                         // 0
    {{S_MONTH, 2}, NO, NO},                         // 1
    {{S_THIRD, 3}, NO, NO},                         // 2
    {{S_HOUR, 8}, {S_TIME, 4}, NO},                 // 3
    {{S_ZONE_HOURS, 6}, {S_ZONE, 5}, NO},           // 4
    {NO, NO, NO},                                   // 5
    {{S_ZONE_MINUTES, 7}, NO, NO},                  // 6
    {NO, NO, NO},                                   // 7
    {{S_MINUTE, 9}, NO, NO},                        // 8
    {{S_SECOND, 10}, NO, {S_SECOND, 10}},           // 9
    {{S_ZONE_HOURS, 12}, {S_ZONE, 11}, NO},         // 10
    {NO, NO, NO},                                   // 11
    {{S_ZONE_MINUTES, 13}, NO, NO},                 // 12
    {NO, NO, NO},                                   // 13
};

struct Spec {
    i64 first = 0, month = 0, third = 0, hour = 0, minute = 0;
    i64 zone_hours = 0, zone_minutes = 0;
    double second = 0, time = 0, zone_time = 0;
    bool clock = false, time_given = false, numbers = false, zone_is_time = false;
};

Spec read_spec(const Cell* spec) {
    i32 n = block::zs_length_q(spec);
    if (n < 3) bad_to_arg(spec);
    Spec s;
    i32 state = 0;
    for (i32 i = 0; i < n; i++) {
        const Cell* item = block::cell_at(spec->w2, i64(spec->w1) + i);
        const State& st = states[state];
        Transition tr;
        switch (TYPE_OF(item)) {
            case TYPE_INTEGER: tr = st.integer; break;
            case TYPE_TIME: tr = st.time; break;
            case TYPE_FLOAT: tr = st.float_; break;
            default: bad_to_arg(spec);
        }
        if (tr.next < 0) bad_to_arg(spec);
        i64 v = TYPE_OF(item) == TYPE_INTEGER ? integer::get(item) : 0;
        switch (tr.slot) {
            case S_FIRST: s.first = v; break;
            case S_MONTH: s.month = v; break;
            case S_THIRD: s.third = v; break;
            case S_HOUR: s.hour = v; s.numbers = true; break;
            case S_MINUTE: s.minute = v; break;
            case S_SECOND: s.second = TYPE_OF(item) == TYPE_FLOAT ? float_::get(item) : double(v); break;
            case S_TIME: s.time = time::get(item); s.time_given = true; break;
            case S_ZONE_HOURS: s.zone_hours = v; break;
            case S_ZONE_MINUTES: s.zone_minutes = v; break;
            case S_ZONE: s.zone_time = time::get(item); s.zone_is_time = true; break;
            case S_NONE: break;
        }
        state = tr.next;
    }
    s.clock = n > 3;
    if (s.numbers) {
        s.time = double(s.hour) * 3600.0 + double(s.minute) * 60.0 + s.second;
        s.time_given = true;
    }
    return s;
}

// make validates (`check`): the fields must come out as given; to keeps the
// normalised date (31-Apr becomes 1-May).
Cell* from_spec(Cell* spec, bool check) {
    Spec s = read_spec(spec);
    i64 day = s.first, year = s.third;
    if (s.first > 99 && s.first > s.third) {
        year = s.first;
        day = s.third;
    }
    u32 zone;
    if (s.zone_is_time) {
        if (!zone_of_time(s.zone_time, &zone)) bad_to_arg(spec);
    } else {
        if (!(s.zone_hours >= -ZONE_HOURS_MAX && s.zone_hours <= ZONE_HOURS_MAX && s.zone_minutes > -60 &&
              s.zone_minutes < 60))
            bad_to_arg(spec);
        zone = zone_bits(i32(s.zone_hours), i32(s.zone_minutes));
    }
    if (year < YEAR_MIN || year > YEAR_MAX) bad_to_arg(spec);
    Cell w;
    cell::init(&w, TYPE_DATE);
    w.w1 = pack(i32(year), 1, 1, zone, s.clock);
    if (!set_month(&w, s.month)) bad_to_arg(spec);
    if (!move_to_day(&w, day_number_of(year_of(w.w1), month_of(w.w1), 0) + day)) bad_to_arg(spec);
    if (s.clock && (!std::isfinite(s.time) || !normalize(&w, s.time, true))) bad_to_arg(spec);
    if (check) {
        u32 r = w.w1;
        bool same = year_of(r) == year && month_of(r) == s.month && day_of(r) == day;
        if (same && s.time_given) {
            // The clock must read what was given: hours 0..23, and minutes
            // that no overflow of the seconds moved.
            same = s.time >= 0 && s.time < SECONDS_PER_DAY;
            if (same && s.numbers) same = time::get_hours(s.time) == double(s.hour) && time::get_minutes(s.time) == s.minute;
        }
        if (!same) bad_to_arg(spec);
    }
    u32 keep = spec->header & ~TYPE_MASK;
    *spec = w;
    spec->header = TYPE_DATE | (keep & FLAG_NEW_LINE);
    return spec;
}

// Seconds since 1-Jan-1970 UTC.
Cell* from_epoch(Cell* spec) {
    i64 s = integer::get(spec);
    i64 day = EPOCH_DAY + s / 86400;
    double t = double(s % 86400);
    normalize_time(&day, &t, 0);   // an i32 of seconds stays within range
    cell::init(spec, TYPE_DATE);
    return write(spec, from_day_number(day, 0, true), t);
}

Cell* convert(Cell* spec, bool check) {
    switch (TYPE_OF(spec)) {
        case TYPE_DATE: return spec;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: return from_spec(spec, check);
        case TYPE_INTEGER:
            if (!check) return from_epoch(spec);
            bad_to_arg(spec);
        default: bad_to_arg(spec);
    }
}

Cell* make(Cell*, Cell* spec, u32) { return convert(spec, true); }
Cell* to(Cell*, Cell* spec, u32) { return convert(spec, false); }

// --- random

Cell* random_(Cell* value, bool seed, bool secure, bool) {
    u32 d = value->w1;
    if (seed) {
        double t = std::trunc(time_of(value));
        i64 whole = std::fabs(t) < 1e15 ? i64(t) : 0;
        random::seed(i32(d + u32(u64(whole))));
        cell::init(value, TYPE_UNSET);
        return value;
    }
    i64 day = i64(random::int_(secure, to_day_number(d))) - 1;
    if (day < DAY_MIN) day = DAY_MIN;
    if (!has_time_q(d)) return write(value, from_day_number(day, zone_of(d), false), 0.0);
    u32 zone = u32(secure ? random::secure_bytes() : random::genrand()) & ZONE_MASK;
    double local = float_::random_in(SECONDS_PER_DAY, secure);
    if (!(local < SECONDS_PER_DAY)) local = 0.0;
    // A local time within the day: the date is normalised as drawn.
    return write(value, from_day_number(day, zone, true), to_utc(local, zone));
}

// --- form and mold

// The first three characters of the month's name in `system/locale/months`.
i32 month_abbreviation(i32 month, u32 out[3]) {
    const Cell* months = locale_months ? locale_months() : nullptr;
    if (!months || !any_block_q(TYPE_OF(months)) || month < 1 || month > block::zs_length_q(months))
        fire(ERR_SCRIPT, "invalid-months");
    const Cell* name = block::cell_at(months->w2, i64(months->w1) + month - 1);
    if (TYPE_OF(name) != TYPE_STRING) fire(ERR_SCRIPT, "invalid-months");
    i32 n = string::zs_length(name);
    if (n > 3) n = 3;
    for (i32 i = 0; i < n; i++) out[i] = string::get_char_at(name, i32(name->w1) + i);
    return n;
}

i32 put(Cell* buffer, const char* text) {
    i32 n = i32(std::strlen(text));
    string::append_bytes(buffer, reinterpret_cast<const u8*>(text), n);
    return n;
}

i32 form_value(const Cell* value, Cell* buffer, i32 part) {
    u32 d = value->w1;
    double local = has_time_q(d) ? to_local(time_of(value), zone_of(d)) : 0.0;
    // A time a hair before midnight is written at six digits as a whole day:
    // the text is then that of the next day's midnight, which reads back.
    if (has_time_q(d) && time::written_as_day_q(local) && day_in_range_q(i64(to_day_number(d)) + 1)) {
        d = from_day_number(i64(to_day_number(d)) + 1, zone_of(d), true);
        local = 0.0;
    }
    i32 year = year_of(d);
    // Read before writing anything: appending may move the names.
    u32 name[3];
    i32 name_length = month_abbreviation(month_of(d), name);
    const char* separator = year < 0 ? "/" : "-";
    char text[32];
    std::snprintf(text, sizeof text, "%d%s", day_of(d), separator);
    i32 n = put(buffer, text);
    for (i32 i = 0; i < name_length; i++) string::append_char(buffer, name[i]);
    n += name_length;
    i32 a = year < 0 ? -year : year;
    std::snprintf(text, sizeof text, a <= 99 ? "%s%s%04d" : "%s%s%d", separator, year < 0 ? "-" : "", a);
    n += put(buffer, text);
    part -= n;
    if (!has_time_q(d)) return part;
    part -= put(buffer, "/");
    part = time::form_value(local, buffer, part);
    u32 zone = zone_of(d);
    if (zone != 0) {
        std::snprintf(text, sizeof text, "%c%02u:%02u", (zone & ZONE_NEGATIVE) ? '-' : '+', (zone >> 2) & 0xF,
                      (zone & 3) * 15);
        part -= put(buffer, text);
    }
    return part;
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) { return form_value(value, buffer, part); }

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell*, i32 part, i32) {
    return form_value(value, buffer, part);
}

// --- path access

[[noreturn]] void invalid_path(const Cell* path, const Cell* element) {
    Cell none;
    cell::init(&none, TYPE_NONE);
    fire(ERR_SCRIPT, "invalid-path", path ? path : &none, element);
}

Cell* eval_path(Cell* date, Cell* element, Cell* value, Cell* path, Cell* parent, Cell* parent_word, i32, bool,
                bool get_only, bool, bool notify_q) {
    i32 field = field_of(element);
    if (field == 0) invalid_path(path, element);
    if (get_only || !value) return get_field(date, field);
    Cell updated = *date;
    set_field(&updated, field, value);
    if (!notify_q) {
        date->w1 = updated.w1;
        date->w2 = updated.w2;
        date->w3 = updated.w3;
        return value;
    }
    // The handlers get stack copies: the date's own cell may move.
    Cell* old_date = stack::push(date);
    date->w1 = updated.w1;
    date->w2 = updated.w2;
    date->w3 = updated.w3;
    Cell* new_date = stack::push(date);
    ownership::notify_set_path(parent, parent_word, old_date, new_date, value, field);
    return value;
}

// --- comparison

i32 compare(const Cell* a, const Cell* b, i32 op) {
    if (TYPE_OF(b) != TYPE_DATE) return NOT_COMPARABLE;
    i64 days = i64(to_day_number(a->w1)) - i64(to_day_number(b->w1));
    double ta = time_of(a), tb = time_of(b);
    if (op == COMP_SAME) return days == 0 && std::bit_cast<u64>(ta) == std::bit_cast<u64>(tb) ? 0 : 1;
    // The instants, measured from b's day: for dates of one day this is
    // their times as they are.
    double x = days == 0 ? ta : ta + double(days) * SECONDS_PER_DAY;
    if (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND)
        return float_::almost_equal_q(x, tb) ? 0 : 1;
    return x < tb ? -1 : x > tb ? 1 : 0;
}

// --- math

void add() { do_math_op(MATH_ADD); }
void subtract() { do_math_op(MATH_SUBTRACT); }

// --- pick

Cell* pick(Cell* date, i32 index, Cell* boxed) {
    i32 field = boxed ? field_of(boxed) : (index >= 1 && index <= FIELD_COUNT ? index : 0);
    if (field == 0) {
        Cell given;
        if (boxed) given = *boxed;
        else integer::make_at(&given, index);
        fire(ERR_SCRIPT, "out-of-range", &given);
    }
    return get_field(date, field);
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_DATE, 0, "date!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_RANDOM>(random_).on<ACT_TO>(to).on<ACT_FORM>(form);
    r.on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path).on<ACT_COMPARE>(compare).on<ACT_ADD>(add);
    r.on<ACT_SUBTRACT>(subtract).on<ACT_PICK>(pick);
    datatype::register_(r);
    actions::math_core[TYPE_DATE] = do_math_op;
    float_::bridges.date_to_epoch = to_epoch;
}

}  // namespace date
}  // namespace zir
