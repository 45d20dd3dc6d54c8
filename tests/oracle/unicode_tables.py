#!/usr/bin/env python3
"""Compares the runtime's case mappings and display widths, for every code point,
with the Unicode 15.0 data files of Debian's unicode-data package, read here
directly and with the width rules derived again from them:

- a code point has an upper (lower) mapping exactly when field 12 (13) of
  UnicodeData.txt gives one, and it is that one;
- width: 0 for NUL; 1 for the other C0 controls, DEL and the C1 controls; 0 for
  nonspacing and enclosing marks (Mn, Me), U+1160..U+11FF and the prepended
  concatenation marks of PropList.txt; 2 for East Asian Wide and Fullwidth
  (unlisted code points taking the defaults that EastAsianWidth.txt states in
  its header); 1 otherwise;
- CJK width: 2 for East Asian Ambiguous code points that are not zero-width,
  else the width.

Usage: unicode_tables.py BUILD_DIR
"""

import os
import re
import subprocess
import sys

UCD = "/usr/share/unicode"
LAST = 0x10FFFF


def data_lines(name):
    path = os.path.join(UCD, name)
    if not os.path.exists(path):
        sys.exit(f"{path} is missing: install the unicode-data package (tools/install-deps)")
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


def code_range(text):
    first, _, last = text.strip().partition("..")
    return int(first, 16), int(last or first, 16)


def unicode_data():
    category = {}
    upper = {}
    lower = {}
    pending = None
    for line in data_lines("UnicodeData.txt"):
        f = line.split(";")
        cp = int(f[0], 16)
        if f[1].endswith("First>"):
            pending = cp
            continue
        start = pending if f[1].endswith("Last>") else cp
        pending = None
        for c in range(start, cp + 1):
            category[c] = f[2]
        if f[12]:
            upper[cp] = int(f[12], 16)
        if f[13]:
            lower[cp] = int(f[13], 16)
    return category, upper, lower


def east_asian_width():
    lines = data_lines("EastAsianWidth.txt")
    assert lines[0].startswith("# EastAsianWidth-15.0.0"), lines[0]
    eaw = ["N"] * (LAST + 1)
    # The header states which unlisted ranges default to W; take them from there.
    header = []
    for line in lines:
        if line and not line.startswith("#"):
            break
        header.append(line)
    header = "\n".join(header)
    default_w = header[header.index('default to "W"'):]
    ranges = re.findall(r"U\+([0-9A-F]+)\.\.U\+([0-9A-F]+)", default_w)
    assert len(ranges) == 5, ranges
    for a, b in ranges:
        eaw[int(a, 16):int(b, 16) + 1] = ["W"] * (int(b, 16) - int(a, 16) + 1)
    for line in lines:
        body = line.split("#")[0].strip()
        if not body:
            continue
        cps, value = body.split(";")
        a, b = code_range(cps)
        eaw[a:b + 1] = [value.strip()] * (b - a + 1)
    return eaw


def prepended_marks():
    marks = set()
    for line in data_lines("PropList.txt"):
        body = line.split("#")[0]
        if "Prepended_Concatenation_Mark" in body:
            a, b = code_range(body.split(";")[0])
            marks.update(range(a, b + 1))
    return marks


def expected_widths(category, eaw, prepended):
    widths = []
    for cp in range(LAST + 1):
        zero = (category.get(cp) in ("Mn", "Me") or 0x1160 <= cp <= 0x11FF or cp in prepended)
        if cp == 0:
            w = 0
        elif cp < 0x20 or 0x7F <= cp <= 0x9F:
            w = 1
        elif zero:
            w = 0
        elif eaw[cp] in ("W", "F"):
            w = 2
        else:
            w = 1
        cjk = 2 if eaw[cp] == "A" and not zero else w
        widths.append((w, cjk))
    return widths


def main():
    tool = os.path.join(sys.argv[1], "zir-tool-unicode_tables")
    out = subprocess.run([tool], check=True, capture_output=True, text=True).stdout

    got_upper, got_lower = {}, {}
    got_widths = [None] * (LAST + 1)
    for line in out.splitlines():
        kind, *fields = line.split()
        if kind == "M":
            cp, up, down = (int(x, 16) for x in fields)
            if up != cp:
                got_upper[cp] = up
            if down != cp:
                got_lower[cp] = down
        elif kind == "W":
            a, b = int(fields[0], 16), int(fields[1], 16)
            got_widths[a:b + 1] = [(int(fields[2]), int(fields[3]))] * (b - a + 1)
        else:
            sys.exit(f"unexpected line from the tool: {line!r}")

    category, upper, lower = unicode_data()
    widths = expected_widths(category, east_asian_width(), prepended_marks())

    failures = []
    for name, got, want in (("upper", got_upper, upper), ("lower", got_lower, lower)):
        for cp in sorted(set(got) | set(want)):
            if got.get(cp) != want.get(cp):
                failures.append(f"{name} U+{cp:04X}: ours {got.get(cp)}, data {want.get(cp)}")
    for cp in range(LAST + 1):
        if got_widths[cp] != widths[cp]:
            failures.append(f"width U+{cp:04X}: ours (width, cjk) {got_widths[cp]}, derived {widths[cp]}")

    for f in failures[:40]:
        print(f)
    if failures:
        print(f"{len(failures)} differences")
        return 1
    print(f"{len(upper)} upper and {len(lower)} lower mappings and {LAST + 1} widths agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
