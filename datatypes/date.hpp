// date!: a day of the proleptic Gregorian calendar, with an optional time of
// day and time zone.
//
// Payload word 1 is the packed date word:
//
//   bits 17..31  year, signed (-16384 .. 16383)
//   bit  16      a time of day is present
//   bits 12..15  month 1..12
//   bits  7..11  day 1..31
//   bit   6      the zone is west of UTC (negative)
//   bits  2..5   zone hours 0..15
//   bits  0..1   zone quarter hours (0, 15, 30, 45 minutes)
//
// Words 2 and 3 hold the time of day as a double, in seconds, in UTC: the
// local clock reads that time plus the zone offset. The date fields are the
// local date, and after every operation the local time lies in [0, 86400), so
// the stored UTC time may be negative or pass a day by up to the offset. A
// date without a time stores 0.
//
// Calendar arithmetic goes through day numbers counted from 1 March of year
// 0 (day 0, a Wednesday); divisions are floored, so years before 0 follow the
// same calendar. Two dates are ordered and compared as instants: day number x
// 86400 + the stored UTC time.
//
// Nothing the word cannot hold is ever stored: every path that would make a
// year outside 15 bits or a zone beyond +/-15:45 refuses with its own error
// (`script invalid-arg` for path setters, `script bad-to-arg` for make and
// to, `math overflow` for arithmetic); the makers for the lexer and the file
// services answer null.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace date {

constexpr u32 TIME_FLAG = 1u << 16;
constexpr u32 ZONE_MASK = 0x7F;
constexpr u32 ZONE_NEGATIVE = 0x40;
constexpr i32 YEAR_MIN = -16384;
constexpr i32 YEAR_MAX = 16383;
constexpr i32 ZONE_HOURS_MAX = 15;
constexpr double SECONDS_PER_DAY = 86400.0;

// Day number of 1 January 1970, the epoch of `to integer!` and `to date!`.
constexpr i32 EPOCH_DAY = 719468;

// Accessor indexes of path access, pick and `get_field`.
enum Field : i32 {
    FIELD_DATE = 1, FIELD_YEAR, FIELD_MONTH, FIELD_DAY, FIELD_ZONE, FIELD_TIME, FIELD_HOUR, FIELD_MINUTE,
    FIELD_SECOND, FIELD_WEEKDAY, FIELD_YEARDAY, FIELD_TIMEZONE, FIELD_WEEK, FIELD_ISOWEEK,
    FIELD_COUNT = FIELD_ISOWEEK,
};

// --- The packed word ---------------------------------------------------------

inline i32 year_of(u32 d) { return i32(d) >> 17; }
inline i32 month_of(u32 d) { return i32((d >> 12) & 0xF); }
inline i32 day_of(u32 d) { return i32((d >> 7) & 0x1F); }
inline bool has_time_q(u32 d) { return (d & TIME_FLAG) != 0; }
inline u32 zone_of(u32 d) { return d & ZONE_MASK; }
inline double time_of(const Cell* date) { return cell::get_float(date); }

// The word for fields already known to fit.
inline u32 pack(i32 year, i32 month, i32 day, u32 zone, bool time) {
    return (u32(year) << 17) | (time ? TIME_FLAG : 0) | (u32(month) << 12) | (u32(day) << 7) | (zone & ZONE_MASK);
}

// The zone offset in seconds (negative west of UTC).
i32 zone_seconds(u32 zone);
// Whether a zone of `hours` and `minutes` fits the word: |hours| <= 15 and
// |minutes| < 60. The zone is negative when hours < 0, or hours = 0 and
// minutes < 0 (so that -0:30 can be given).
bool zone_fits_q(i32 hours, i32 minutes);
// The zone bits of a zone that fits; minutes become quarters by / 15.
u32 zone_bits(i32 hours, i32 minutes);

// --- Calendar ------------------------------------------------------------------

bool leap_year_q(i32 year);
// The day number of a year, month 1..12 and any day (0 is the last day of
// the previous month; days past the month's end run into the next months).
i64 day_number(i64 year, i32 month, i64 day);
i32 to_day_number(u32 date);
// Whether a day number lies within the years the word holds.
bool day_in_range_q(i64 day);
// The date word of a day number within range, with a zone and a time flag.
u32 from_day_number(i64 day, u32 zone, bool time);
i32 jan1_day_number(u32 date);
// Day number of the Monday that starts ISO week 1 of the date's year; the
// weekday of 1 January (1 Monday .. 7 Sunday) goes to `weekday`.
i32 iso_week1_start(u32 date, i32* weekday);
// 1 for 1 January.
i32 get_yearday(u32 date);
// 1 Monday .. 7 Sunday.
i32 weekday_of(i64 day);

inline double to_local(double time, u32 zone) { return time + zone_seconds(zone); }
inline double to_utc(double time, u32 zone) { return time - zone_seconds(zone); }

// Carries whole days between the UTC time and the day number so that the local
// time (time + offset) lies in [0, 86400). Answers false when the time is not
// finite or the day leaves the years the word holds; nothing is changed then.
bool normalize_time(i64* day, double* time, u32 zone);
// Renormalises a date cell to the given time (local time with `local`, else
// UTC), keeping its zone and time flag. False (cell unchanged) when the result
// cannot be held.
bool normalize(Cell* date, double time, bool local);

// The cell's date moved to month `month` of its year (months beyond 1..12 move
// the year), rebuilt through the day number so that 31 January with month 2
// becomes 2 or 3 March. False (cell unchanged) when the year leaves range.
bool set_month(Cell* date, i64 month);
// Moves the date, keeping zone, time and time flag: to the Monday of an ISO
// week of its year, to a weekday (1 Monday .. 7 Sunday) of its Monday-based
// week, to a day of its year. False (cell unchanged) when out of range.
bool set_isoweek(Cell* date, i64 week);
bool set_weekday(Cell* date, i64 weekday);
bool set_yearday(Cell* date, i64 yearday);

// --- Values ----------------------------------------------------------------------

Cell* push(u32 date, double time);
// Appends a date! to a block (the ZIRBIN decoders): the time as its two words.
Cell* make_in(Cell* block, u32 date, u32 time_high, u32 time_low);
// Writes a date! of the given fields. With `time_q` the time is local time,
// stored in UTC; without it the time is 0. The zone is `zone_bits(hours,
// minutes)`. The day is not renormalised. Answers null, writing nothing, when
// the year is outside 15 bits, the month outside 1..12, the day outside 1..31
// or the zone does not fit (the lexer raises its own error).
Cell* make_at(Cell* c, i32 year, i32 month, i32 day, double time, i32 zone_hours, i32 zone_minutes, bool time_q);
// A date! with a time of day in UTC (file times); null when the year does
// not fit.
Cell* make_from_fields(Cell* c, i32 year, i32 month, i32 day, i32 hour, i32 minute, i32 second, i32 nanoseconds);

// Pushes the value of an accessor (FIELD_DATE .. FIELD_ISOWEEK) and answers it.
Cell* get_field(const Cell* date, i32 field);
// Sets the zone: an integer! of hours or a time!. With `keep_instant` the
// instant stays and the local time moves by the difference of the offsets
// (`timezone`); without it the local clock time stays (`zone`). Raises
// `script invalid-arg` with the value for anything else or a zone that does
// not fit.
void set_zone(Cell* date, const Cell* zone, bool keep_instant);

// Seconds since 1-Jan-1970 UTC; `script type-limit` (integer!) when the count
// does not fit 32 bits.
i32 to_epoch(const Cell* date);
// The time! from `b` to `a`: days x 86400 + the difference of the times.
double difference(const Cell* a, const Cell* b);

// The arithmetic of the current call (add and subtract), the date first: see
// date.cpp. Answers the result cell.
Cell* do_math_op(i32 op);

// Where mold finds `system/locale/months`: the boot step points it at that
// field; null (the default) means no month names, and mold raises
// `script invalid-months`.
using MonthNames = const Cell* (*)();
extern MonthNames locale_months;

// Registers date!.
void init();

}  // namespace date
}  // namespace zir
