// date!: the calendar against std::chrono over every year the word holds,
// fields and their setters, make and to, comparison of instants, arithmetic,
// text, and the normalisation invariant as a property.
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/time.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/ownership.hpp"
#include "number_test_support.hpp"

namespace zir {
namespace {

using namespace test;
namespace chr = std::chrono;

const Cell* months_block = nullptr;
const Cell* english_months() { return months_block; }

// The month names are installed for every test, as the system object will.
struct Dates : ValueTest {
    void SetUp() override {
        ValueTest::SetUp();
        months_block = test::block({str("January"), str("February"), str("March"), str("April"), str("May"),
                                    str("June"), str("July"), str("August"), str("September"), str("October"),
                                    str("November"), str("December")});
        date::locale_months = english_months;
    }
    void TearDown() override {
        date::locale_months = nullptr;
        months_block = nullptr;
        ValueTest::TearDown();
    }
};

// A date without a time, and one with a local time and a zone.
Cell* date_(i32 y, i32 m, i32 d) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_NONE);
    EXPECT_TRUE(date::make_at(c, y, m, d, 0, 0, 0, false));
    return c;
}
Cell* at_time(i32 y, i32 m, i32 d, double local, i32 zone_hours = 0, i32 zone_minutes = 0) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_NONE);
    EXPECT_TRUE(date::make_at(c, y, m, d, local, zone_hours, zone_minutes, true));
    return c;
}
constexpr double H = 3600, M = 60;

// test::float_ under a name the namespace float_ does not hide.
Cell* fl_(double v) { return test::float_(v); }

// The local time of a date, which normalisation keeps within the day.
double local_of(const Cell* d) { return date::to_local(date::time_of(d), date::zone_of(d->w1)); }

bool normalized(const Cell* d) {
    double l = local_of(d);
    return l >= 0 && l < date::SECONDS_PER_DAY;
}

Cell* path_get(const Cell* d, const Cell* element) {
    Cell* c = stack::push(d);
    return actions::eval_path(c, const_cast<Cell*>(element), nullptr, nullptr, nullptr, nullptr, 0, false, true, true,
                              false);
}
// Sets a field of a copy through path access and answers the copy.
Cell* path_set(const Cell* d, const Cell* element, const Cell* value) {
    Cell* c = stack::push(d);
    actions::eval_path(c, const_cast<Cell*>(element), const_cast<Cell*>(value), nullptr, nullptr, nullptr, 0, false,
                       false, true, false);
    return c;
}

// --- The calendar ------------------------------------------------------------------

i64 chrono_day_number(i32 y, u32 m, u32 d) {
    chr::sys_days s{chr::year{y} / chr::month{m} / chr::day{d}};
    return i64(s.time_since_epoch().count()) + date::EPOCH_DAY;
}

void check_day(i64 n) {
    chr::year_month_day ymd{chr::sys_days{chr::days{n - date::EPOCH_DAY}}};
    i32 y = i32(ymd.year());
    u32 m = unsigned(ymd.month()), d = unsigned(ymd.day());
    u32 word = date::from_day_number(n, 0, false);
    ASSERT_EQ(date::year_of(word), y) << n;
    ASSERT_EQ(u32(date::month_of(word)), m) << n;
    ASSERT_EQ(u32(date::day_of(word)), d) << n;
    ASSERT_EQ(date::to_day_number(word), n) << y << "-" << m << "-" << d;
    ASSERT_EQ(date::day_number(y, i32(m), d), n);
    ASSERT_EQ(u32(date::weekday_of(n)), chr::weekday{chr::sys_days{chr::days{n - date::EPOCH_DAY}}}.iso_encoding());
}

TEST_F(Dates, DayNumbersMatchChronoOverEveryYearTheWordHolds) {
    // Whole centuries at both ends and around year 0, then random days.
    i64 first = chrono_day_number(date::YEAR_MIN, 1, 1), last = chrono_day_number(date::YEAR_MAX, 12, 31);
    for (i64 n = first; n < first + 146097; n++) check_day(n);
    for (i64 n = chrono_day_number(-401, 1, 1); n < chrono_day_number(401, 1, 1); n++) check_day(n);
    for (i64 n = last - 146097; n <= last; n++) check_day(n);
    std::mt19937_64 gen(145);
    for (int i = 0; i < 200000; i++) check_day(first + i64(gen() % u64(last - first + 1)));
    for (i32 y = date::YEAR_MIN; y <= date::YEAR_MAX; y++)
        ASSERT_EQ(date::leap_year_q(y), chr::year{y}.is_leap()) << y;
    EXPECT_TRUE(date::day_in_range_q(first));
    EXPECT_FALSE(date::day_in_range_q(first - 1));
    EXPECT_FALSE(date::day_in_range_q(last + 1));
}

TEST_F(Dates, DayZeroIsAWednesdayInMarchOfYearZero) {
    Cell* d = date_(0, 3, 1);
    EXPECT_EQ(date::to_day_number(d->w1), 0);
    EXPECT_EQ(integer::get(date::get_field(d, date::FIELD_WEEKDAY)), 3);
    EXPECT_EQ(integer::get(date::get_field(date_(-1, 3, 1), date::FIELD_DAY)), 1);
    EXPECT_EQ(date::to_day_number(date_(-1, 3, 1)->w1), -366) << "year 0 is a leap year";
}

TEST_F(Dates, WeeksOfTheYear) {
    struct Case {
        i32 y, m, d, isoweek, week, yearday, weekday;
    } cases[] = {
        {2021, 1, 1, 53, 1, 1, 5},   // a Friday: the last ISO week of 2020
        {2021, 1, 4, 1, 2, 4, 1},
        {2023, 1, 1, 52, 1, 1, 7},   // a Sunday
        {2023, 1, 8, 1, 2, 8, 7},
        {2022, 1, 1, 52, 1, 1, 6},   // a Saturday after a common year
        {2005, 1, 1, 53, 1, 1, 6},   // a Saturday after a leap year
        {2024, 12, 30, 1, 53, 365, 1},
        {2020, 12, 31, 53, 53, 366, 4},
    };
    for (const Case& c : cases) {
        Cell* d = date_(c.y, c.m, c.d);
        EXPECT_EQ(integer::get(date::get_field(d, date::FIELD_ISOWEEK)), c.isoweek) << mold(d);
        EXPECT_EQ(integer::get(date::get_field(d, date::FIELD_WEEK)), c.week) << mold(d);
        EXPECT_EQ(integer::get(date::get_field(d, date::FIELD_YEARDAY)), c.yearday) << mold(d);
        EXPECT_EQ(integer::get(date::get_field(d, date::FIELD_WEEKDAY)), c.weekday) << mold(d);
    }
}

// --- Text ------------------------------------------------------------------------------

TEST_F(Dates, MoldAndForm) {
    struct Case {
        const Cell* date;
        const char* text;
    } cases[] = {
        {date_(2024, 1, 1), "1-Jan-2024"},
        {date_(99, 3, 5), "5-Mar-0099"},
        {date_(0, 12, 31), "31-Dec-0000"},
        {date_(100, 7, 4), "4-Jul-100"},
        {date_(-5, 2, 9), "9/Feb/-0005"},
        {date_(-1200, 11, 30), "30/Nov/-1200"},
        {date_(16383, 12, 31), "31-Dec-16383"},
        {at_time(2024, 1, 1, 10 * H), "1-Jan-2024/10:00:00"},
        {at_time(2024, 1, 1, 10 * H, 2), "1-Jan-2024/10:00:00+02:00"},
        {at_time(2024, 1, 1, 10 * H, -5, 30), "1-Jan-2024/10:00:00-05:30"},
        {at_time(2024, 1, 1, 10 * H, 0, -30), "1-Jan-2024/10:00:00-00:30"},
        {at_time(2024, 1, 1, 10 * H + 30.25, 15, 45), "1-Jan-2024/10:00:30.25+15:45"},
        {at_time(2024, 6, 30, 0), "30-Jun-2024/0:00:00"},
        // The seconds are written at six digits: a time that would read
        // 24:00:00, which no date literal holds, is midnight of the next day.
        {at_time(2024, 12, 31, 24 * H - 1e-7), "1-Jan-2025/0:00:00"},
        {at_time(2024, 2, 28, 24 * H - 1e-5, 2), "29-Feb-2024/0:00:00+02:00"},
        {at_time(2024, 1, 1, 24 * H - 0.001, -3), "1-Jan-2024/23:59:59.999-03:00"},
    };
    for (const Case& c : cases) {
        EXPECT_MOLD(c.date, c.text);
        EXPECT_FORM(c.date, c.text);
    }
    Cell* buffer = str("");
    EXPECT_EQ(actions::mold(cases[8].date, buffer, false, false, false, nullptr, 100, 0), 75);
}

TEST_F(Dates, MoldNeedsTheMonthNames) {
    Cell* d = date_(2024, 1, 1);
    date::locale_months = nullptr;
    EXPECT_EQ(error_of([&] { mold(d); }), "script invalid-months");
    months_block = test::block({str("Jan"), int_(2)});
    date::locale_months = english_months;
    EXPECT_EQ(error_of([&] { mold(date_(2024, 2, 1)); }), "script invalid-months");
    EXPECT_EQ(error_of([&] { mold(date_(2024, 3, 1)); }), "script invalid-months");
    EXPECT_MOLD(d, "1-Jan-2024");
    // Names of any width: the first three characters, as they are.
    months_block = test::block({str("Jänner")});
    EXPECT_MOLD(d, "1-Jän-2024");
    months_block = test::block({str("J")});
    EXPECT_MOLD(d, "1-J-2024");
}

// --- Fields ------------------------------------------------------------------------------

TEST_F(Dates, FieldsReadTheLocalClock) {
    // 1-Jan-2024/1:00+02:00: the stored UTC time is an hour before midnight.
    Cell* d = at_time(2024, 1, 1, 1 * H + 2 * M + 3.5, 2);
    EXPECT_EQ(date::time_of(d), -3600 + 123.5);
    struct Case {
        const char* word;
        const char* value;
    } cases[] = {
        {"date", "1-Jan-2024"}, {"year", "2024"},      {"month", "1"},      {"day", "1"},
        {"zone", "2:00:00"},    {"time", "1:02:03.5"}, {"hour", "1"},       {"minute", "2"},
        {"second", "3.5"},      {"weekday", "1"},      {"yearday", "1"},    {"julian", "1"},
        {"timezone", "2:00:00"}, {"week", "1"},        {"isoweek", "1"},    {"YEAR", "2024"},
    };
    for (const Case& c : cases) EXPECT_MOLD(path_get(d, word(c.word)), c.value) << c.word;
    for (i32 i = 1; i <= date::FIELD_COUNT; i++)
        EXPECT_EQ(mold(path_get(d, int_(i))), mold(date::get_field(d, i))) << i;
    Cell* plain = date_(2024, 1, 1);
    EXPECT_EQ(TYPE_OF(path_get(plain, word("time"))), TYPE_NONE);
    EXPECT_EQ(TYPE_OF(path_get(plain, word("zone"))), TYPE_NONE);
    EXPECT_EQ(error_of([&] { path_get(d, word("month-name")); }), "script invalid-path");
    EXPECT_EQ(error_of([&] { path_get(d, int_(15)); }), "script invalid-path");
    EXPECT_EQ(error_of([&] { path_get(d, int_(0)); }), "script invalid-path");
    auto pick = [&](i32 i, Cell* boxed) {
        return actions::get<action::Pick>(d, ACT_PICK)(stack::push(d), i, boxed);
    };
    EXPECT_MOLD(pick(2, int_(2)), "2024");
    EXPECT_MOLD(pick(0, word("hour")), "1");
    EXPECT_EQ(error_of([&] { pick(15, int_(15)); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { pick(0, int_(0)); }), "script out-of-range");
}

TEST_F(Dates, SettingFields) {
    Cell* jan15 = date_(2024, 1, 15);
    Cell* timed = at_time(2024, 3, 10, 10 * H + 30 * M, 5, 30);   // UTC 5:00
    struct Case {
        const Cell* date;
        const char* field;
        const Cell* value;
        const char* result;
    } cases[] = {
        {jan15, "month", int_(13), "15-Jan-2025"},
        {jan15, "month", int_(0), "15-Dec-2023"},
        {jan15, "month", int_(-13), "15-Nov-2022"},
        {date_(2024, 1, 31), "month", int_(2), "2-Mar-2024"},
        {date_(2023, 1, 31), "month", int_(2), "3-Mar-2023"},
        {date_(2024, 3, 1), "day", int_(0), "29-Feb-2024"},
        {jan15, "day", int_(32), "1-Feb-2024"},
        {jan15, "day", int_(-30), "1-Dec-2023"},
        {date_(2024, 2, 29), "year", int_(2023), "1-Mar-2023"},
        {jan15, "year", int_(-44), "15/Jan/-0044"},
        {jan15, "weekday", int_(7), "21-Jan-2024"},   // 15-Jan-2024 is a Monday
        {jan15, "weekday", int_(1), "15-Jan-2024"},
        {jan15, "yearday", int_(60), "29-Feb-2024"},
        {jan15, "julian", int_(366), "31-Dec-2024"},
        {jan15, "week", int_(1), "1-Jan-2024"},
        {jan15, "week", int_(2), "7-Jan-2024"},      // 1-Jan-2024 is a Monday: week 2 starts on Sunday the 7th
        {jan15, "isoweek", int_(1), "1-Jan-2024"},
        {date_(2021, 6, 1), "isoweek", int_(1), "4-Jan-2021"},
        {jan15, "date", date_(2000, 2, 29), "29-Feb-2000"},
        {timed, "date", date_(2000, 2, 29), "29-Feb-2000"},
        {timed, "date", at_time(2000, 2, 29, 1 * H), "29-Feb-2000/10:30:00+05:30"},
        {jan15, "time", time_(8 * H), "15-Jan-2024/8:00:00"},
        {jan15, "time", time_(25 * H), "16-Jan-2024/1:00:00"},
        {jan15, "time", time_(-1 * H), "14-Jan-2024/23:00:00"},
        {timed, "time", none_(), "10-Mar-2024"},
        // The fields of the local clock, whatever the zone.
        {timed, "hour", int_(23), "10-Mar-2024/23:30:00+05:30"},
        {timed, "hour", int_(24), "11-Mar-2024/0:30:00+05:30"},
        {timed, "minute", int_(0), "10-Mar-2024/10:00:00+05:30"},
        {timed, "minute", int_(90), "10-Mar-2024/11:30:00+05:30"},
        {timed, "second", fl_(1.5), "10-Mar-2024/10:30:01.5+05:30"},
        {jan15, "hour", int_(5), "15-Jan-2024/5:00:00"},
        // zone keeps the local clock; timezone keeps the instant.
        {timed, "zone", int_(-3), "10-Mar-2024/10:30:00-03:00"},
        {timed, "zone", time_(-(1 * H + 15 * M)), "10-Mar-2024/10:30:00-01:15"},
        {timed, "zone", time_(-30 * M), "10-Mar-2024/10:30:00-00:30"},
        {timed, "zone", time_(9 * H + 40 * M), "10-Mar-2024/10:30:00+09:30"},
        {timed, "timezone", int_(0), "10-Mar-2024/5:00:00"},
        {timed, "timezone", int_(-8), "9-Mar-2024/21:00:00-08:00"},
        {timed, "timezone", int_(15), "10-Mar-2024/20:00:00+15:00"},
        {jan15, "zone", int_(2), "15-Jan-2024/0:00:00+02:00"},
    };
    for (const Case& c : cases) {
        Cell* r = path_set(c.date, word(c.field), c.value);
        EXPECT_MOLD(r, c.result) << mold(c.date) << " /" << c.field << ": " << mold(c.value);
        EXPECT_TRUE(normalized(r)) << c.result;
    }
}

TEST_F(Dates, SettersRefuseWhatTheWordCannotHold) {
    Cell* d = at_time(2024, 1, 1, 10 * H, 2);
    struct Case {
        const char* field;
        const Cell* value;
    } cases[] = {
        // Zones beyond +/-15:45 (no longer folded modulo 16 hours).
        {"zone", int_(16)}, {"zone", int_(-16)}, {"zone", int_(100)},
        {"zone", time_(16 * H)}, {"zone", time_(-16 * H - 1)}, {"timezone", int_(16)}, {"timezone", time_(20 * H)},
        {"zone", time_(std::numeric_limits<double>::infinity())},
        // Years outside 15 signed bits.
        {"year", int_(20000)}, {"year", int_(16384)}, {"year", int_(-16385)},
        {"month", int_(2147483647)}, {"month", int_(-2147483647 - 1)},
        {"day", int_(2147483647)}, {"yearday", int_(-2147483647 - 1)}, {"week", int_(2147483647)},
        {"isoweek", int_(-2147483647)}, {"weekday", int_(2147483647)},
        {"hour", int_(2147483647)}, {"time", time_(1e300)}, {"time", time_(std::nan(""))},
        // Values of the wrong datatype.
        {"year", fl_(2024.0)}, {"month", str("Jan")}, {"date", int_(1)}, {"time", int_(10)}, {"zone", fl_(2.0)},
        {"hour", fl_(1.5)},
    };
    for (const Case& c : cases) {
        Cell* copy = stack::push(d);
        EXPECT_EQ(error_of([&] {
                      actions::eval_path(copy, word(c.field), const_cast<Cell*>(c.value), nullptr, nullptr, nullptr, 0,
                                         false, false, true, false);
                  }),
                  "script invalid-arg")
            << c.field << ": " << mold(c.value);
        EXPECT_MOLD(copy, "1-Jan-2024/10:00:00+02:00") << "left as it was";
    }
    EXPECT_MOLD(path_set(d, word("zone"), int_(15)), "1-Jan-2024/10:00:00+15:00");
    EXPECT_MOLD(path_set(d, word("zone"), time_(-15 * H - 59 * M)), "1-Jan-2024/10:00:00-15:45");
    EXPECT_MOLD(path_set(date_(16383, 12, 1), word("day"), int_(31)), "31-Dec-16383");
}

TEST_F(Dates, SettingAFieldNotifiesTheHolder) {
    // In a block owned by an object: the ownership table hears "set-path".
    static std::vector<std::string> reports;
    reports.clear();
    ownership::on_deep_change = [](const Cell*, const Cell*, const Cell*, i32 word, const Cell* value, i32 index,
                                   i32 part) {
        reports.push_back(std::string(symbol::spelling(word)) + " " + mold(value) + " " + std::to_string(index) +
                          " " + std::to_string(part));
    };
    Cell* holder = test::block({date_(2024, 1, 1)});
    collector::RootCell owner;
    own(holder, owner.get());
    // The field and value are made before the cell is taken: making them may
    // move the block's buffer.
    Cell* month_word = word("month");
    Cell* month = int_(3);
    Cell* inside = block::cell_at(holder->w2, 0);
    actions::eval_path(inside, month_word, month, nullptr, holder, nullptr, 0, false, false, true, true);
    ownership::on_deep_change = nullptr;
    EXPECT_EQ(reports, (std::vector<std::string>{"set-path 3 3 1"}));
    EXPECT_MOLD(stack::push(block::cell_at(holder->w2, 0)), "1-Mar-2024");

    // In an object's field: its change handler gets the old and the new date.
    static std::vector<std::string> events;
    events.clear();
    context::on_set = [](const Cell*, const Cell* w, const Cell* old_value, const Cell* new_value) {
        events.push_back(std::string(symbol::spelling(i32(w->w2))) + " " + mold(old_value) + " -> " +
                         mold(new_value));
    };
    Cell object = make_object(*date_(2024, 1, 1));
    collector::RootCell obj(object);
    Cell* day_word = word("day");
    Cell* day = int_(9);
    Cell* data_word = word("data");
    Cell* field = context::value_at(context::cell_of(obj->w1), 0);
    actions::eval_path(field, day_word, day, nullptr, obj.get(), data_word, 0, false, false, true, true);
    context::on_set = nullptr;
    EXPECT_EQ(events, (std::vector<std::string>{"data 1-Jan-2024 -> 9-Jan-2024"}));
}

// --- make and to ---------------------------------------------------------------------------

TEST_F(Dates, MakeValidatesAndToNormalises) {
    struct Case {
        const Cell* spec;
        const char* made;   // "" when make refuses
        const char* converted;
    } cases[] = {
        {ints({15, 1, 2024}), "15-Jan-2024", "15-Jan-2024"},
        {ints({2024, 1, 15}), "15-Jan-2024", "15-Jan-2024"},
        {ints({31, 4, 2024}), "", "1-May-2024"},
        {ints({29, 2, 2023}), "", "1-Mar-2023"},
        {ints({29, 2, 2024}), "29-Feb-2024", "29-Feb-2024"},
        {ints({0, 1, 2024}), "", "31-Dec-2023"},
        {ints({1, 13, 2024}), "", "1-Jan-2025"},
        {ints({1, 0, 2024}), "", "1-Dec-2023"},
        {ints({5, 3, 99}), "5-Mar-0099", "5-Mar-0099"},
        {ints({99, 3, 5}), "", "7-Jun-0005"},
        {ints({100, 3, 5}), "5-Mar-100", "5-Mar-100"},
        {ints({1, 1, 2024, 10, 30}), "1-Jan-2024/10:30:00", "1-Jan-2024/10:30:00"},
        {ints({1, 1, 2024, 10, 30, 15}), "1-Jan-2024/10:30:15", "1-Jan-2024/10:30:15"},
        {ints({1, 1, 2024, 24, 0, 0}), "", "2-Jan-2024/0:00:00"},
        {ints({1, 1, 2024, 10, 60, 0}), "", "1-Jan-2024/11:00:00"},
        {ints({1, 1, 2024, 10, 59, 60}), "", "1-Jan-2024/11:00:00"},
        {ints({1, 1, 2024, 0, 0, -1}), "", "31-Dec-2023/23:59:59"},
        {ints({1, 1, 2024, 10, 0, 0, 2}), "1-Jan-2024/10:00:00+02:00", "1-Jan-2024/10:00:00+02:00"},
        {ints({1, 1, 2024, 10, 0, 0, -5, 30}), "1-Jan-2024/10:00:00-05:30", "1-Jan-2024/10:00:00-05:30"},
        {ints({1, 1, 2024, 10, 0, 0, 0, -30}), "1-Jan-2024/10:00:00-00:30", "1-Jan-2024/10:00:00-00:30"},
        {ints({1, 1, 2024, 1, 0, 0, 2}), "1-Jan-2024/1:00:00+02:00", "1-Jan-2024/1:00:00+02:00"},
        {test::block({int_(1), int_(1), int_(2024), time_(10 * H + 30 * M)}), "1-Jan-2024/10:30:00",
         "1-Jan-2024/10:30:00"},
        {test::block({int_(1), int_(1), int_(2024), time_(25 * H)}), "", "2-Jan-2024/1:00:00"},
        {test::block({int_(1), int_(1), int_(2024), time_(-1 * H)}), "", "31-Dec-2023/23:00:00"},
        {test::block({int_(1), int_(1), int_(2024), time_(9 * H), time_(-(3 * H + 30 * M))}),
         "1-Jan-2024/9:00:00-03:30", "1-Jan-2024/9:00:00-03:30"},
        {test::block({int_(1), int_(1), int_(2024), time_(9 * H), time_(-30 * M)}), "1-Jan-2024/9:00:00-00:30",
         "1-Jan-2024/9:00:00-00:30"},
        {test::block({int_(1), int_(1), int_(2024), time_(9 * H), int_(4), int_(45)}), "1-Jan-2024/9:00:00+04:45",
         "1-Jan-2024/9:00:00+04:45"},
        {test::block({int_(1), int_(1), int_(2024), int_(9), int_(0), fl_(1.25)}), "1-Jan-2024/9:00:01.25",
         "1-Jan-2024/9:00:01.25"},
        {test::block({int_(1), int_(1), int_(2024), int_(9), int_(0), fl_(1.25), time_(H)}),
         "1-Jan-2024/9:00:01.25+01:00", "1-Jan-2024/9:00:01.25+01:00"},
    };
    for (const Case& c : cases) {
        if (*c.made) EXPECT_MOLD(convert(ACT_MAKE, TYPE_DATE, c.spec), c.made) << mold(c.spec);
        else EXPECT_EQ(error_of([&] { convert(ACT_MAKE, TYPE_DATE, c.spec); }), "script bad-to-arg") << mold(c.spec);
        Cell* r = to_(TYPE_DATE, c.spec);
        EXPECT_MOLD(r, c.converted) << mold(c.spec);
        EXPECT_TRUE(normalized(r)) << mold(c.spec);
    }
}

TEST_F(Dates, SpecsNeitherMakeNorToAccepts) {
    const Cell* specs[] = {
        ints({1, 1}),
        ints({}),
        ints({1, 1, 2024, 10, 0, 0, 2, 0, 7}),
        test::block({int_(1), int_(1), fl_(2024.0)}),
        test::block({int_(1), str("Jan"), int_(2024)}),
        test::block({int_(1), int_(1), int_(2024), time_(H), time_(H), int_(5)}),
        test::block({int_(1), int_(1), int_(2024), int_(10), fl_(1.5)}),
        // Zones the word cannot hold, no longer carried into the sign bit.
        ints({1, 1, 2024, 10, 0, 0, 16}),
        ints({1, 1, 2024, 10, 0, 0, -16}),
        ints({1, 1, 2024, 10, 0, 0, 2, 60}),
        ints({1, 1, 2024, 10, 0, 0, 2, -75}),
        test::block({int_(1), int_(1), int_(2024), time_(H), time_(16 * H)}),
        // Years outside 15 signed bits.
        ints({1, 1, 20000}),
        ints({1, 1, -16385}),
        ints({1, 2147483647, 2024}),
        ints({2147483647, 1, 2024}),
        ints({31, 12, 16383, 24, 0, 0}),
        test::block({int_(1), int_(1), int_(2024), time_(1e300)}),
        test::block({int_(1), int_(1), int_(2024), int_(1), int_(0), fl_(std::nan(""))}),
        none_(),
        str("1-Jan-2024"),
        time_(H),
    };
    for (const Cell* spec : specs) {
        EXPECT_EQ(error_of([&] { convert(ACT_MAKE, TYPE_DATE, spec); }), "script bad-to-arg") << mold(spec);
        EXPECT_EQ(error_of([&] { to_(TYPE_DATE, spec); }), "script bad-to-arg") << mold(spec);
    }
    EXPECT_MOLD(to_(TYPE_DATE, ints({31, 12, 16383})), "31-Dec-16383");
    EXPECT_MOLD(to_(TYPE_DATE, ints({1, 1, -16384})), "1/Jan/-16384");
    Cell* d = at_time(2024, 1, 1, H, 2);
    EXPECT_EQ(convert(ACT_MAKE, TYPE_DATE, d)->w1, d->w1);
    EXPECT_EQ(error_of([&] { convert(ACT_MAKE, TYPE_DATE, int_(0)); }), "script bad-to-arg");
}

TEST_F(Dates, SecondsSinceTheEpoch) {
    struct Case {
        i32 seconds;
        const char* date;
    } cases[] = {
        {0, "1-Jan-1970/0:00:00"},
        {-1, "31-Dec-1969/23:59:59"},
        {86400, "2-Jan-1970/0:00:00"},
        {-86400, "31-Dec-1969/0:00:00"},
        {2147483647, "19-Jan-2038/3:14:07"},
        {-2147483647 - 1, "13-Dec-1901/20:45:52"},
    };
    for (const Case& c : cases) {
        Cell* d = to_(TYPE_DATE, int_(c.seconds));
        EXPECT_MOLD(d, c.date);
        EXPECT_EQ(integer::get(to_(TYPE_INTEGER, d)), c.seconds) << c.date;
    }
    // An instant, whatever its zone: a time stored below zero counts as it is.
    EXPECT_EQ(integer::get(to_(TYPE_INTEGER, at_time(1970, 1, 1, 1 * H, 2))), -3600);
    EXPECT_EQ(integer::get(to_(TYPE_INTEGER, at_time(1970, 1, 1, 0.4, 1))), -3600);
    EXPECT_EQ(integer::get(to_(TYPE_INTEGER, at_time(1970, 1, 1, 0.5, 1))), -3599);
    EXPECT_EQ(integer::get(to_(TYPE_INTEGER, at_time(1970, 1, 1, 2 * H + 0.7, -1))), 3 * 3600 + 1);
    EXPECT_EQ(integer::get(to_(TYPE_INTEGER, date_(2024, 1, 1))), 1704067200);
    // Past 19-Jan-2038 the count does not fit.
    EXPECT_EQ(error_of([&] { to_(TYPE_INTEGER, at_time(2038, 1, 19, 3 * H + 14 * M + 8)); }), "script type-limit");
    EXPECT_EQ(error_of([&] { to_(TYPE_INTEGER, date_(1901, 12, 13)); }), "script type-limit");
    EXPECT_EQ(error_of([&] { to_(TYPE_INTEGER, date_(16000, 1, 1)); }), "script type-limit");
}

// --- Comparison ------------------------------------------------------------------------------

TEST_F(Dates, DatesCompareAsInstants) {
    Cell* utc = at_time(2024, 1, 1, 23 * H);
    Cell* east = at_time(2024, 1, 2, 1 * H, 2);       // the same instant
    Cell* west = at_time(2024, 1, 1, 18 * H, -5);      // the same instant
    Cell* later = at_time(2024, 1, 1, 23 * H + 30 * M);
    Cell* earlier_east = at_time(2024, 1, 2, 0, 2);    // 22:00 UTC on the 1st
    struct Case {
        const Cell* a;
        const Cell* b;
        i32 op;
        i32 result;
    } cases[] = {
        {utc, east, COMP_EQUAL, 0},
        {utc, west, COMP_EQUAL, 0},
        {east, west, COMP_STRICT_EQUAL, 0},
        {east, west, COMP_FIND, 0},
        {east, later, COMP_LESSER, -1},
        {later, east, COMP_GREATER, 1},
        {earlier_east, utc, COMP_LESSER, -1},    // a later local date, an earlier instant
        {west, earlier_east, COMP_SORT, 1},
        {utc, later, COMP_NOT_EQUAL, 1},
        {date_(2024, 1, 1), at_time(2024, 1, 1, 0), COMP_EQUAL, 0},
        {date_(2024, 1, 1), at_time(2024, 1, 1, 0), COMP_SAME, 0},
        {utc, east, COMP_SAME, 1},
        {utc, at_time(2024, 1, 1, 23 * H), COMP_SAME, 0},
        {utc, at_time(2024, 1, 1, 23 * H + 1e-10), COMP_EQUAL, 0},
        {utc, at_time(2024, 1, 1, 23 * H + 1e-10), COMP_SAME, 1},
        {utc, at_time(2024, 1, 1, 23 * H + 1e-10), COMP_LESSER, -1},
        {date_(2023, 12, 31), date_(2024, 1, 1), COMP_LESSER, -1},
        {date_(-1, 12, 31), date_(0, 1, 1), COMP_LESSER, -1},
        {utc, int_(5), COMP_EQUAL, NOT_COMPARABLE},
        {utc, time_(23 * H), COMP_EQUAL, NOT_COMPARABLE},
    };
    for (const Case& c : cases) EXPECT_EQ(compare_(c.a, c.b, c.op), c.result) << mold(c.a) << " op" << c.op << " " << mold(c.b);
    // Equal instants hash alike, so a hash! or map! finds one by the other.
    EXPECT_EQ(hash_table::hash_value(utc, false), hash_table::hash_value(east, false));
    EXPECT_EQ(hash_table::hash_value(west, false), hash_table::hash_value(east, false));
    EXPECT_EQ(hash_table::hash_value(date_(2024, 1, 1), false), hash_table::hash_value(at_time(2024, 1, 1, 0), false));
    EXPECT_NE(hash_table::hash_value(utc, false), hash_table::hash_value(later, false));
}

// --- Arithmetic ----------------------------------------------------------------------------------

TEST_F(Dates, Arithmetic) {
    struct Case {
        u32 slot;
        const Cell* a;
        const Cell* b;
        const char* result;
    } cases[] = {
        {ACT_ADD, date_(2024, 2, 29), int_(365), "28-Feb-2025"},
        {ACT_SUBTRACT, date_(2024, 1, 1), date_(2023, 1, 1), "365"},
        {ACT_SUBTRACT, date_(2023, 1, 1), date_(2024, 1, 1), "-365"},
        {ACT_SUBTRACT, date_(2024, 3, 1), int_(1), "29-Feb-2024"},
        {ACT_ADD, date_(2024, 1, 31), time_(1 * H), "31-Jan-2024/1:00:00"},
        {ACT_ADD, at_time(2024, 1, 31, 23 * H), time_(2 * H), "1-Feb-2024/1:00:00"},
        {ACT_SUBTRACT, at_time(2024, 1, 1, 1 * H, -5), time_(2 * H), "31-Dec-2023/23:00:00-05:00"},
        {ACT_ADD, at_time(2024, 1, 1, 23 * H, 15, 45), time_(1 * H), "2-Jan-2024/0:00:00+15:45"},
        {ACT_ADD, at_time(2024, 1, 1, 10 * H, 2), int_(-1), "31-Dec-2023/10:00:00+02:00"},
        {ACT_ADD, int_(1), date_(2024, 12, 31), "1-Jan-2025"},
        {ACT_ADD, time_(25 * H), date_(2024, 12, 31), "1-Jan-2025/1:00:00"},
        // Whole days between two instants, rounded down, whatever the zones.
        {ACT_SUBTRACT, at_time(2024, 1, 2, 1 * H), at_time(2024, 1, 1, 23 * H), "0"},
        {ACT_SUBTRACT, at_time(2024, 1, 1, 23 * H), at_time(2024, 1, 2, 1 * H), "-1"},
        {ACT_SUBTRACT, at_time(2024, 1, 2, 1 * H, -5), at_time(2024, 1, 1, 23 * H, -5), "0"},
        {ACT_SUBTRACT, at_time(2024, 1, 2, 1 * H, 2), at_time(2024, 1, 1, 23 * H), "0"},
        {ACT_SUBTRACT, at_time(2024, 1, 1, 18 * H, -5), at_time(2024, 1, 1, 23 * H), "0"},
        {ACT_SUBTRACT, at_time(2024, 1, 3, 0, -5), at_time(2024, 1, 1, 0, 10), "2"},
    };
    for (const Case& c : cases) EXPECT_MOLD(direct(c.slot, c.a, c.b), c.result) << mold(c.a) << " " << mold(c.b);
    struct Refusal {
        u32 slot;
        const Cell* a;
        const Cell* b;
        const char* error;
    } refusals[] = {
        {ACT_ADD, date_(2024, 1, 1), date_(2024, 1, 1), "script not-related"},
        {ACT_ADD, date_(2024, 1, 1), fl_(1.5), "script invalid-type"},
        {ACT_ADD, date_(2024, 1, 1), str("1"), "script invalid-type"},
        {ACT_SUBTRACT, int_(1), date_(2024, 1, 1), "script not-related"},
        {ACT_SUBTRACT, time_(H), date_(2024, 1, 1), "script not-related"},
        // Past the years the word holds.
        {ACT_ADD, date_(16383, 12, 31), int_(1), "math overflow"},
        {ACT_SUBTRACT, date_(-16384, 1, 1), int_(1), "math overflow"},
        {ACT_ADD, date_(2024, 1, 1), int_(2147483647), "math overflow"},
        {ACT_ADD, at_time(16383, 12, 31, 23 * H), time_(H), "math overflow"},
        {ACT_ADD, date_(2024, 1, 1), time_(1e300), "math overflow"},
        {ACT_ADD, date_(2024, 1, 1), time_(std::numeric_limits<double>::infinity()), "math overflow"},
    };
    for (const Refusal& c : refusals)
        EXPECT_EQ(error_of([&] { direct(c.slot, c.a, c.b); }), c.error) << mold(c.a) << " " << mold(c.b);
    EXPECT_EQ(date::difference(at_time(2024, 1, 2, 1 * H, 2), at_time(2024, 1, 1, 12 * H)), 11 * H);
}

// --- The normalisation invariant ------------------------------------------------------------------

TEST_F(Dates, EveryOperationKeepsTheLocalTimeWithinTheDay) {
    std::mt19937_64 gen(3145);
    auto any = [&](i64 lo, i64 hi) { return lo + i64(gen() % u64(hi - lo + 1)); };
    Cell* top = stack::top;
    for (int i = 0; i < 20000; i++) {
        stack::top = top;
        i32 zone_hours = i32(any(-15, 15)), quarters = i32(any(0, 3));
        Cell* d = at_time(i32(any(-9000, 9000)), i32(any(1, 12)), i32(any(1, 28)), double(any(0, 86399)) + 0.25,
                          zone_hours, (zone_hours < 0 ? -1 : 1) * quarters * 15);
        ASSERT_TRUE(normalized(d)) << mold(d);
        double instant = date::to_day_number(d->w1) * 86400.0 + date::time_of(d);
        Cell* r;
        double delta = double(any(-400000, 400000)) + 0.5;
        switch (i % 6) {
            case 0: r = direct(ACT_ADD, d, time_(delta)); break;
            case 1: r = direct(ACT_SUBTRACT, d, int_(i32(any(-100000, 100000)))); break;
            case 2: r = path_set(d, word("timezone"), int_(i32(any(-15, 15)))); break;
            case 3: r = path_set(d, word("zone"), time_(double(any(-15, 15)) * H + double(any(0, 3)) * 15 * M)); break;
            case 4: r = path_set(d, word("time"), time_(double(any(-200000, 200000)))); break;
            default: r = path_set(d, word("hour"), int_(i32(any(-100, 100)))); break;
        }
        ASSERT_TRUE(normalized(r)) << mold(d) << " case " << i % 6 << " gave " << mold(r);
        ASSERT_EQ(date::day_of(r->w1), date::day_of(date::from_day_number(date::to_day_number(r->w1), 0, false)));
        if (i % 6 == 2) {
            // The instant stays.
            double after = date::to_day_number(r->w1) * 86400.0 + date::time_of(r);
            ASSERT_EQ(after, instant) << mold(d) << " gave " << mold(r);
            ASSERT_EQ(compare_(r, d, COMP_EQUAL), 0);
        }
        if (i % 6 == 3) {
            ASSERT_EQ(local_of(r), local_of(d)) << "the clock stays: " << mold(d) << " " << mold(r);
        }
        if (i % 6 == 0) {
            ASSERT_EQ(date::difference(r, d), delta) << mold(d) << " + " << delta << " gave " << mold(r);
        }
    }
}

TEST_F(Dates, RandomDatesLieUpToTheGivenOne) {
    Cell* d = date_(2024, 6, 15);
    Cell* timed = at_time(2024, 6, 15, 12 * H, 3);
    auto draw = [&](const Cell* v, bool seed) {
        Cell* c = stack::push(v);
        return actions::get<action::Random>(c, ACT_RANDOM)(c, seed, false, false);
    };
    for (int i = 0; i < 2000; i++) {
        Cell* r = draw(d, false);
        ASSERT_EQ(TYPE_OF(r), TYPE_DATE);
        ASSERT_LT(date::to_day_number(r->w1), date::to_day_number(d->w1));
        ASSERT_GE(date::to_day_number(r->w1), 0);
        ASSERT_FALSE(date::has_time_q(r->w1));
        Cell* t = draw(timed, false);
        ASSERT_TRUE(date::has_time_q(t->w1));
        ASSERT_TRUE(normalized(t)) << mold(t);
        stack::pop(2);
    }
    // Seeding with a date restarts the same sequence.
    EXPECT_EQ(TYPE_OF(draw(d, true)), TYPE_UNSET);
    Cell* first = draw(timed, false);
    draw(d, true);
    Cell* again = draw(timed, false);
    EXPECT_EQ(first->w1, again->w1);
    EXPECT_EQ(date::time_of(first), date::time_of(again));
    EXPECT_MOLD(draw(date_(0, 3, 1), false), "29-Feb-0000");
    Cell* earliest = date_(date::YEAR_MIN, 1, 1);
    for (int i = 0; i < 200; i++) ASSERT_TRUE(date::day_in_range_q(date::to_day_number(draw(earliest, false)->w1)));
}

// --- Makers for the lexer and the file services ------------------------------------------------------

TEST_F(Dates, MakersRefuseFieldsTheWordCannotHold) {
    Cell c;
    cell::init(&c, TYPE_NONE);
    EXPECT_EQ(date::make_at(&c, 2024, 1, 1, H, 16, 0, true), nullptr);
    EXPECT_EQ(date::make_at(&c, 2024, 1, 1, H, -16, 0, true), nullptr);
    EXPECT_EQ(date::make_at(&c, 2024, 1, 1, H, 5, 60, true), nullptr);
    EXPECT_EQ(date::make_at(&c, 2024, 1, 1, H, 5, 99, true), nullptr);
    EXPECT_EQ(date::make_at(&c, 16384, 1, 1, 0, 0, 0, false), nullptr);
    EXPECT_EQ(date::make_at(&c, 2024, 13, 1, 0, 0, 0, false), nullptr);
    EXPECT_EQ(date::make_at(&c, 2024, 1, 32, 0, 0, 0, false), nullptr);
    EXPECT_EQ(date::make_at(&c, 2024, 1, 1, std::nan(""), 0, 0, true), nullptr);
    EXPECT_EQ(date::make_from_fields(&c, 20000, 1, 1, 0, 0, 0, 0), nullptr);
    EXPECT_TRUE(date::zone_fits_q(-15, -59));
    EXPECT_FALSE(date::zone_fits_q(15, 60));
    ASSERT_TRUE(date::make_at(&c, 2024, 1, 1, H, 15, 59, true));
    EXPECT_MOLD(&c, "1-Jan-2024/1:00:00+15:45");
    ASSERT_TRUE(date::make_from_fields(&c, 2024, 2, 29, 13, 14, 15, 500000000));
    EXPECT_MOLD(&c, "29-Feb-2024/13:14:15.5");
    // The week-date movers of the lexer.
    ASSERT_TRUE(date::make_at(&c, 2023, 1, 1, 0, 0, 0, false));
    ASSERT_TRUE(date::set_isoweek(&c, 5));
    ASSERT_TRUE(date::set_weekday(&c, 3));
    EXPECT_MOLD(&c, "1-Feb-2023");
    ASSERT_TRUE(date::set_yearday(&c, 32));
    EXPECT_MOLD(&c, "1-Feb-2023");
    EXPECT_FALSE(date::set_yearday(&c, 9000000));
    EXPECT_MOLD(&c, "1-Feb-2023");
}

}  // namespace
}  // namespace zir
