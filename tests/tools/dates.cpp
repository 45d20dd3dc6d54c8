// Test program: the calendar of date! for an outside oracle.
//
// Reads one date per line of standard input, "YEAR MONTH DAY", makes the
// date! and prints, separated by spaces: its day number, weekday (1 Monday),
// day of the year, ISO week, Sunday-based week, 1 when the year is a leap
// year (else 0), and the date of the following day number as YEAR-MONTH-DAY.
// A date the maker refuses prints "refused".
#include <cstdio>
#include <iostream>
#include <string>

#include "boot/runtime_init.hpp"
#include "datatypes/date.hpp"
#include "datatypes/integer.hpp"
#include "evaluator/stack.hpp"

using namespace zir;

namespace {

i32 field(const Cell* d, i32 f) {
    Cell* c = date::get_field(d, f);
    i32 v = integer::get(c);
    stack::pop(1);
    return v;
}

}  // namespace

int main() {
    runtime::init();
    i32 year, month, day;
    while (std::cin >> year >> month >> day) {
        Cell d;
        cell::init(&d, TYPE_NONE);
        if (!date::make_at(&d, year, month, day, 0.0, 0, 0, false)) {
            std::printf("refused\n");
            continue;
        }
        i32 n = date::to_day_number(d.w1);
        u32 next = date::from_day_number(i64(n) + 1, 0, false);
        std::printf("%d %d %d %d %d %d %d-%d-%d\n", n, field(&d, date::FIELD_WEEKDAY), field(&d, date::FIELD_YEARDAY),
                    field(&d, date::FIELD_ISOWEEK), field(&d, date::FIELD_WEEK), date::leap_year_q(year) ? 1 : 0,
                    date::year_of(next), date::month_of(next), date::day_of(next));
    }
    return 0;
}
