// time!: a duration or a time of day, as a number of seconds.
//
// The payload is float!'s double (seconds; negative and fractional values are
// allowed, with no upper limit), and time! is float!'s child: it takes random,
// comparison, absolute, negate and remainder from it. Its own code converts
// specs to seconds, writes hours, minutes and seconds, gives path and pick
// access to those three fields and guards the arithmetic that makes no sense
// for times. date! reuses the fields, the text and the path access for the
// time part of a date.
//
// A time reads as a sign and the fields of its magnitude: -1:30:15 has hour
// -1, minute 30 and second -15.0. Setting a field keeps the others as they
// read, so setting a field to the value it reads changes nothing.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace time {

constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double SECONDS_PER_MINUTE = 60.0;

// Field numbers of path and pick access.
enum Field : i32 { FIELD_HOUR = 1, FIELD_MINUTE = 2, FIELD_SECOND = 3 };

inline double get(const Cell* c) { return cell::get_float(c); }

// Sets the cell's datatype to time! (keeping its header flags) and the seconds.
Cell* make_at(Cell* c, double seconds);
Cell* make_in(Cell* block, u32 high, u32 low);
Cell* push(double seconds);

// Whole hours, truncated toward zero (a whole double: no limit on times).
double get_hours(double seconds);
// Minutes of the magnitude, 0..59.
i32 get_minutes(double seconds);
// Seconds past the minute, with the sign of the time.
double get_seconds(double seconds);

// Writes the text of a time (-H:MM:SS.fraction) into a mold buffer and
// answers the part left.
i32 form_value(double seconds, Cell* buffer, i32 part);
// Whether a time of day (0 up to a day) is written as a whole day, 24:00:00:
// its seconds are written at six digits, so 23:59:59.9999996 reads so.
bool written_as_day_q(double seconds);

// 1, 2 or 3 for the words hour, minute and second. Another word raises
// `script cannot-use` (the word, the value) when `value` is a time!, and
// answers -1 otherwise (date! then tries its own fields).
i32 field_index(const Cell* word, const Cell* value);

// Start-up and memory resets: makes the field words, so that reading a field
// never makes a symbol (which may allocate while the time's cell is held).
void init_state();
// Pushes hours or minutes as an integer!, or the seconds as a float!, and
// answers the pushed cell; any other number pushes nothing (null).
Cell* push_field(const Cell* time, i32 field);
// The seconds of a time with one field set to `value`, which must be an
// integer! (a number for the seconds): else `script invalid-arg`.
double with_field(double seconds, i32 field, const Cell* value);

[[noreturn]] void bad_to_arg(const Cell* spec);

// Registers time! (after float!).
void init();

}  // namespace time
}  // namespace zir
