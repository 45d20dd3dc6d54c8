#!/usr/bin/env python3
"""Our lexer's literals against Python's own readings.

    lexer.py BUILD_DIR

- Dates: every form the lexer reads (day-month-year with numbers and month
  names, year-month-day, "/" separators, the basic ISO form, ISO week dates
  and ordinal dates) for seeded random days of years 1..9999 and every
  29 February around the leap-year rules, against `datetime.date`,
  `date.fromisocalendar` and day-of-year arithmetic; impossible days (31
  April, 29 February of a common year, week 54, day 367) must be invalid;
  two-digit years follow the pivot (above 49: 19xx, else 20xx).
- Binaries: 2#{...}, 16#{...} and 64#{...} of random bytes (with blanks,
  line feeds and comments mixed in) against `binascii` and `base64`; bad
  digits, odd hex digits, partial bit groups and misplaced padding must be
  invalid.
- Integers and floats: the 32-bit limits and beyond against Python's `int`
  (a decimal integer beyond 32 bits loads as the float of its text) and
  random decimal texts against `float` (bit for bit).
"""
import base64
import binascii
import calendar
import datetime
import random
import struct
import subprocess
import sys

MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
          "October", "November", "December"]


def date_cases(rng):
    cases = []   # (text, expected (y, m, d) or None)
    days = [datetime.date(2000, 2, 29), datetime.date(1900, 2, 28), datetime.date(2004, 12, 31),
            datetime.date(1, 1, 1), datetime.date(9999, 12, 31), datetime.date(2023, 1, 15)]
    for _ in range(400):
        y = rng.randint(1, 9999)
        m = rng.randint(1, 12)
        d = rng.randint(1, calendar.monthrange(y, m)[1])
        days.append(datetime.date(y, m, d))
    for day in days:
        y, m, d = day.year, day.month, day.day
        exp = (y, m, d)
        name = MONTHS[m - 1]
        y4 = "%04d" % y
        if y > 99:
            cases += [("%d-%s-%d" % (d, name[:3], y), exp), ("%d/%d/%d" % (d, m, y), exp),
                      ("%d-%s-%d" % (d, name, y), exp), ("%d-%s-%d" % (d, name[:rng.randint(3, len(name))].upper(), y), exp)]
        if y >= 1000:
            cases += [("%s-%02d-%02d" % (y4, m, d), exp), ("%s/%d/%d" % (y4, m, d), exp),
                      ("%s%02d%02dT1030" % (y4, m, d), exp), ("%s%02d%02dT103000Z" % (y4, m, d), exp)]
            iy, iw, iwd = day.isocalendar()
            if iy >= 1000:
                cases += [("%04d-W%02d-%d" % (iy, iw, iwd), exp), ("%04d-W%02d%d" % (iy, iw, iwd), exp)]
            yd = day.timetuple().tm_yday
            cases.append(("%s-%03d" % (y4, yd), exp))
    # Leap years: 29 February exists only in them.
    for y in list(range(1896, 1906)) + list(range(1996, 2006)) + [1600, 1700, 2100, 2400]:
        exp = (y, 2, 29) if calendar.isleap(y) else None
        cases.append(("29-Feb-%d" % y, exp))
        cases.append(("%d-02-29" % y, exp))
        # Day 366 of a common year counts on into the next, as weeks do.
        cases.append(("%d-%03d" % (y, 366), (y, 12, 31) if calendar.isleap(y) else (y + 1, 1, 1)))
    # Two-digit years pivot at 50.
    for yy in range(0, 100):
        full = 1900 + yy if yy > 49 else 2000 + yy
        cases.append(("1-Jan-%02d" % yy, (full, 1, 1)))
        cases.append(("1-Jan-%d" % yy, (full, 1, 1)))
    # Impossible days.
    cases += [("31-Apr-2023", None), ("29-Feb-2023", None), ("0-Jan-2023", None), ("32-Jan-2023", None),
              ("1-Foo-2023", None), ("1-Ja-2023", None), ("2023-13-01", None),
              ("2023-W05-8", None), ("2023-000", None), ("2023-366", (2024, 1, 1)), ("2024-367", (2025, 1, 1)),
              ("1-Jan-2023/25:00", None), ("1-Jan-2023/10:60", None)]
    # ISO weeks at the edges of their years. A week past the year's last one
    # (week 53 of a year of 52, week 54) counts on from week 1, as the date
    # is moved there from 1 January: Python refuses it, so the expected day is
    # counted from week 1's Monday, which is checked against Python where
    # Python has the week.
    for y in range(1995, 2031):
        monday = datetime.date.fromisocalendar(y, 1, 1)
        for w in (1, 52, 53, 54):
            for wd in (1, 7):
                exp = monday + datetime.timedelta(days=(w - 1) * 7 + wd - 1)
                try:
                    assert datetime.date.fromisocalendar(y, w, wd) == exp
                except ValueError:
                    pass
                cases.append(("%d-W%02d-%d" % (y, w, wd), (exp.year, exp.month, exp.day)))
    return cases


def spaced(digits, rng):
    """The digits with blanks, line feeds and a comment mixed in."""
    out = []
    for i, ch in enumerate(digits):
        out.append(ch)
        r = rng.random()
        if r < 0.05:
            out.append(" ")
        elif r < 0.07:
            out.append("\n")
        elif r < 0.08:
            out.append(" ;note\n")
    return "".join(out)


def binary_cases(rng):
    cases = [("#{}", b""), ("2#{}", b""), ("64#{}", b""), ("2#{0000000111111111}", b"\x01\xff"),
             ("64#{QUJD}", b"ABC"), ("16#{ABC}", None), ("#{0G}", None), ("2#{0101}", None),
             ("64#{Q===}", None), ("64#{QUJ}", None), ("8#{12}", None), ("64#{QQ==}", b"A"),
             ("64#{QUI=}", b"AB")]
    for _ in range(300):
        data = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 40)))
        hexed = binascii.hexlify(data).decode()
        if rng.random() < 0.5:
            hexed = hexed.upper()
        cases.append(("#{%s}" % spaced(hexed, rng), data))
        cases.append(("16#{%s}" % spaced(hexed, rng), data))
        bits = "".join("{:08b}".format(b) for b in data)
        cases.append(("2#{%s}" % spaced(bits, rng), data))
        b64 = base64.b64encode(data).decode()
        cases.append(("64#{%s}" % spaced(b64, rng), data))
    return cases


def number_cases(rng):
    cases = []
    for n in [0, 1, -1, 2147483647, -2147483648, 2147483648, -2147483649, 9999999999, 10000000000,
              -10000000000, 4294967296, 123456789012345678901234567890]:
        cases.append(str(n))
    for _ in range(300):
        digits = rng.randint(1, 25)
        n = rng.randrange(10 ** digits)
        cases.append(("-" if rng.random() < 0.5 else "") + str(n))
    for _ in range(500):
        mant = str(rng.randrange(10 ** rng.randint(1, 20)))
        point = rng.randrange(len(mant) + 1)
        text = mant[:point] + "." + mant[point:]
        if text.startswith("."):
            text = "0" + text
        if rng.random() < 0.5:
            if text.endswith("."):
                text += "0"   # "1.e5" is no float of ours: a digit must follow the point
            text += "e%d" % rng.randint(-330, 310)
        cases.append(text)
    return cases


def main():
    build = sys.argv[1]
    rng = random.Random(20261209)
    dates = date_cases(rng)
    binaries = binary_cases(rng)
    numbers = number_cases(rng)
    lines = [t for t, _ in dates] + [t for t, _ in binaries] + numbers
    out = subprocess.run([build + "/zir-tool-lexer"], input="\n".join(t.encode().hex() for t in lines) + "\n", capture_output=True,
                         text=True, check=True).stdout.splitlines()
    assert len(out) == len(lines), (len(out), len(lines))
    failures = []
    i = 0
    for text, exp in dates:
        want = "invalid" if exp is None else "date %d %d %d" % exp
        if out[i] != want:
            failures.append("%r: ours %s, Python %s" % (text, out[i], want))
        i += 1
    for text, exp in binaries:
        want = "invalid" if exp is None else ("binary " + exp.hex()).strip()
        if out[i] != want:
            failures.append("%r: ours %s, Python %s" % (text, out[i], want))
        i += 1
    for text in numbers:
        if "." in text or "e" in text:
            want = "float %016x" % struct.unpack("<Q", struct.pack("<d", float(text)))[0]
        else:
            n = int(text)
            if -2 ** 31 <= n < 2 ** 31:
                want = "integer %d" % n
            else:
                want = "float %016x" % struct.unpack("<Q", struct.pack("<d", float(text)))[0]
        if out[i] != want:
            failures.append("%r: ours %s, Python %s" % (text, out[i], want))
        i += 1
    for f in failures[:200]:
        print(f)
    print("%d passed, %d failed" % (len(lines) - len(failures), len(failures)))
    sys.exit(1 if failures else 0)


main()
