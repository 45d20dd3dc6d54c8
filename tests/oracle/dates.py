#!/usr/bin/env python3
"""The calendar of date! against Python's datetime, years 1 to 9999.

    dates.py BUILD_DIR

For every year the first and last days, the days around the end of February
and a few days around each month's turn, and thousands of seeded random
days, zir-tool-dates prints the day number, weekday, day of the year, ISO
week, Sunday-based week, leap year flag and the following day; each is
checked against datetime:

- day number: days from 1 March of year 0, so toordinal() + 305 (1 January
  of year 1 has ordinal 1 and day number 306);
- weekday: isoweekday(); ISO week: isocalendar(); day of the year:
  timetuple().tm_yday;
- Sunday-based week (week 1 holds 1 January): the %U week (days before the
  first Sunday are week 0) plus one when 1 January is not a Sunday;
- leap year: calendar.isleap; following day: date + 1 day (9999-12-31 is
  followed by 10000-1-1, which datetime cannot hold).
"""
import calendar
import datetime
import os
import random
import subprocess
import sys


def sample_days():
    days = set()
    for year in range(1, 10000):
        for day in range(1, 8):
            days.add((year, 1, day))
        for day in range(25, 32):
            days.add((year, 12, day))
        for month, day in ((2, 28), (3, 1), (6, 30), (7, 1), (9, 30), (10, 1)):
            days.add((year, month, day))
        if calendar.isleap(year):
            days.add((year, 2, 29))
    rng = random.Random(20240229)
    first = datetime.date(1, 1, 1).toordinal()
    last = datetime.date(9999, 12, 31).toordinal()
    for _ in range(40000):
        d = datetime.date.fromordinal(rng.randint(first, last))
        days.add((d.year, d.month, d.day))
    return sorted(days)


def sunday_week(d):
    jan1 = datetime.date(d.year, 1, 1)
    first_sunday = jan1 + datetime.timedelta(days=(6 - jan1.weekday()) % 7)
    u = 0 if d < first_sunday else (d - first_sunday).days // 7 + 1
    return u + (0 if jan1.weekday() == 6 else 1)


def expected(year, month, day):
    d = datetime.date(year, month, day)
    if d == datetime.date.max:
        following = "10000-1-1"
    else:
        n = d + datetime.timedelta(days=1)
        following = f"{n.year}-{n.month}-{n.day}"
    return " ".join(str(x) for x in (
        d.toordinal() + 305, d.isoweekday(), d.timetuple().tm_yday, d.isocalendar()[1],
        sunday_week(d), 1 if calendar.isleap(year) else 0, following))


def main():
    tool = os.path.join(sys.argv[1], "zir-tool-dates")
    days = sample_days()
    text = "".join(f"{y} {m} {d}\n" for y, m, d in days)
    out = subprocess.run([tool], input=text, check=True, capture_output=True, text=True).stdout.splitlines()
    if len(out) != len(days):
        print(f"dates: {len(out)} answers for {len(days)} dates")
        sys.exit(1)
    failures = 0
    for (y, m, d), line in zip(days, out):
        want = expected(y, m, d)
        if line != want:
            failures += 1
            if failures <= 20:
                print(f"{y}-{m}-{d}: ours {line!r}, datetime {want!r}")
    if failures:
        print(f"dates: {failures} of {len(days)} dates differ")
        sys.exit(1)
    print(f"dates: {len(days)} dates match datetime")


if __name__ == "__main__":
    main()
