#!/usr/bin/env python3
"""Our UTF-8 decoders against Python's UTF-8 codec (strict).

    utf8.py BUILD_DIR

Builds a stress set (every encoding length at its boundary code points,
overlong forms, truncated sequences, stray continuation bytes, 5- and 6-byte
forms, surrogates, U+FFFE and U+FFFF, exhaustive one- and two-byte strings,
structured three- and four-byte strings) and a few thousand seeded random byte
strings, runs zir-tool-utf8 over them and compares three decoders with what
`bytes.decode('utf-8')` answers:

- the fast decoder (`fast_decode_utf8_char`): the same code points, and a
  failure at the same byte position, for every input. Its interface differs
  from the codec but not its judgement: its input ends with a NUL byte, and a
  rejected sequence answers -1 instead of raising; a cut character is rejected
  like any other ill-formed one.
- the strict decoder (`decode_utf8_char`) and the loader (`load_utf8_new`),
  which differ from the codec on purpose in exactly these ways:
    1. surrogates: the three-byte forms of D800..DBFF and DD00..DFFF load, since
       the runtime writes unpaired surrogates that way and must read back what
       it wrote; DC00..DCFF is rejected, as the codec rejects all surrogates.
       A text cut inside such a form is a cut character.
    2. U+FFFE (EF BF BE) is rejected.
    3. a character cut by the end of the text is not an error: the strict
       decoder answers -1 ("cut") and the loader stops before it and reports
       the bytes left; the codec reports "unexpected end of data" there.
  An error carries the (up to 4) bytes at the failing position; the loader
  skips a leading byte-order mark.
Every other answer must be the codec's. The script checks that each input on
which we differ from the codec is explained by one of the rules above, and that
each rule was met at least once.
"""
import os
import random
import subprocess
import sys

BOM = b"\xef\xbb\xbf"


# --- The stress set -----------------------------------------------------------

def raw_encode(cp, n):
    """cp in an n-byte UTF-8 shape (1..6 bytes), overlong or out of range alike."""
    if n == 1:
        return bytes([cp])
    lead_bits = {2: 0xC0, 3: 0xE0, 4: 0xF0, 5: 0xF8, 6: 0xFC}[n]
    out = []
    for _ in range(n - 1):
        out.append(0x80 | (cp & 0x3F))
        cp >>= 6
    out.append(lead_bits | cp)
    return bytes(reversed(out))


BOUNDARY_CPS = [0x00, 0x01, 0x41, 0x7F, 0x80, 0xFF, 0x100, 0x7FF, 0x800, 0xFFF, 0x1000,
                0xCFFF, 0xD000, 0xD7FF, 0xE000, 0xFEFF, 0xFFFD, 0xFFFE, 0xFFFF, 0x10000,
                0x1F600, 0x3FFFF, 0x40000, 0xFFFFF, 0x100000, 0x10FFFF]
SURROGATE_CPS = [0xD800, 0xDB7F, 0xDB80, 0xDBFF, 0xDC00, 0xDC80, 0xDCFF, 0xDD00, 0xDFFF]
CONT_SET = [0x00, 0x41, 0x7F, 0x80, 0x81, 0x8F, 0x90, 0x9F, 0xA0, 0xAF, 0xB0, 0xB3, 0xB4,
            0xBE, 0xBF, 0xC0, 0xC2, 0xE0, 0xF0, 0xFF]
CONT_SET_SMALL = [0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xAF, 0xB0, 0xBF, 0xC0,
                  0xF0, 0xFF]


def utf8(cp):
    return chr(cp).encode("utf-8", "surrogatepass")


def stress_set():
    cases = [b"", BOM, BOM + b"A", BOM + BOM, b"A" + BOM, BOM[:2], BOM[:1]]
    # Every length at its boundary code points, alone, in context, cut short.
    for cp in BOUNDARY_CPS + SURROGATE_CPS:
        enc = utf8(cp)
        cases += [enc, b"a" + enc + b"z", enc + enc]
        for k in range(1, len(enc)):
            cases += [enc[:k], b"a" + enc[:k], enc[:k] + b"A", enc[:k] + enc]
    cases.append(b"".join(utf8(cp) for cp in BOUNDARY_CPS if cp not in (0xFFFE,)))
    # Overlong forms of small code points, and 5- and 6-byte forms.
    for cp in [0x00, 0x2F, 0x41, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF,
               0x110000, 0x1FFFFF, 0x200000, 0x3FFFFFF, 0x4000000, 0x7FFFFFFF]:
        for n in range(1, 7):
            if cp < (1 << (7 if n == 1 else 5 * n + 1)):
                enc = raw_encode(cp, n)
                cases += [enc, enc + b"A", b"A" + enc[:-1]]
    # Stray continuation bytes and bytes that never start a character.
    for b in list(range(0x80, 0xC0)) + [0xC0, 0xC1, 0xF5, 0xF8, 0xFC, 0xFE, 0xFF]:
        cases += [bytes([b]), bytes([b, b]), b"A" + bytes([b]) + b"B", bytes([b]) + "é".encode()]
    # All one- and two-byte strings.
    cases += [bytes([a]) for a in range(256)]
    cases += [bytes([a, b]) for a in range(256) for b in range(256)]
    # Three-byte strings from every E lead, four-byte from every F lead.
    cases += [bytes([a, b, c]) for a in range(0xE0, 0xF0) for b in CONT_SET for c in CONT_SET]
    cases += [bytes([a, b, c, d]) for a in range(0xF0, 0x100) for b in CONT_SET_SMALL
              for c in CONT_SET_SMALL for d in CONT_SET_SMALL]
    # Every surrogate, alone and as a pair written as two three-byte forms.
    cases += [utf8(cp) for cp in range(0xD800, 0xE000)]
    cases += [utf8(0xD83D) + utf8(0xDE00), utf8(0xDBFF) + utf8(0xDFFF), utf8(0xDE00) + utf8(0xD83D)]
    # Noncharacters other than U+FFFE are ordinary code points.
    cases += [utf8(cp) for cp in (0xFDD0, 0xFFFE, 0xFFFF, 0x1FFFE, 0x10FFFE)]
    cases += [b"x" + utf8(0xFFFE) + b"y", utf8(0xFFFE)[:2]]
    return cases


def random_set(count, seed=20240501):
    rnd = random.Random(seed)
    pools = [
        lambda: utf8(rnd.randrange(0x80)),
        lambda: utf8(rnd.randrange(0x80, 0x100)),
        lambda: utf8(rnd.randrange(0x100, 0x800)),
        lambda: utf8(rnd.choice([rnd.randrange(0x800, 0xD800), rnd.randrange(0xE000, 0x10000)])),
        lambda: utf8(rnd.randrange(0x10000, 0x110000)),
        lambda: utf8(rnd.randrange(0xD800, 0xE000)),
        lambda: bytes([rnd.randrange(256)]),
        lambda: bytes([rnd.randrange(0x80, 0xC0)]),
    ]
    cases = []
    for i in range(count):
        if i % 4 == 0:   # plain random bytes
            cases.append(bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 13))))
            continue
        # Mostly well-formed text with a sprinkle of damage; weights favour the
        # widths, so that loading widens at every point of a text.
        # The third kind is long ASCII runs, which the loader copies by words.
        weights, most = {1: ([6, 2, 2, 2, 2, 0.3, 0.3, 0.3], 16),
                         2: ([40, 1, 1, 1, 1, 0.2, 0.2, 0.2], 60),
                         3: ([6, 2, 2, 2, 2, 0, 0, 0], 16)}[i % 4]
        parts = [rnd.choices(pools, weights)[0]() for _ in range(rnd.randrange(1, most))]
        data = b"".join(parts)
        if i % 7 == 0 and len(data) > 1:
            data = data[:rnd.randrange(1, len(data))]   # cut anywhere
        cases.append(data)
    return cases


# --- What we should answer ----------------------------------------------------

def codec(data):
    """Python's strict codec: (code points, None) or (code points before, (pos, reason))."""
    try:
        return [ord(c) for c in data.decode("utf-8")], None
    except UnicodeDecodeError as e:
        return [ord(c) for c in data[:e.start].decode("utf-8")], (e.start, e.reason)


def our_rules(data):
    """The codec one character at a time, with our deliberate differences.

    Answers (code points, outcome, differences met), outcome ("ok", None),
    ("cut", pos) or ("bad", pos)."""
    cps, pos, met = [], 0, set()
    while pos < len(data):
        # Rule 1: ED A0..AF and ED B4..BF start the surrogate forms we load.
        if data[pos] == 0xED and pos + 1 < len(data) and (0xA0 <= data[pos + 1] <= 0xAF
                                                           or 0xB4 <= data[pos + 1] <= 0xBF):
            if pos + 2 == len(data):
                return cps, ("cut", pos), met | {"surrogate cut"}
            if 0x80 <= data[pos + 2] <= 0xBF:
                cps.append(0xD000 | (data[pos + 1] & 0x3F) << 6 | data[pos + 2] & 0x3F)
                met.add("surrogate loads")
                pos += 3
                continue
            return cps, ("bad", pos), met   # the codec agrees: a bad continuation byte
        chunk = data[pos:pos + 4]
        try:
            text = chunk.decode("utf-8")
        except UnicodeDecodeError as e:
            if e.start == 0:
                if e.reason == "unexpected end of data":
                    return cps, ("cut", pos), met | {"cut character"}
                return cps, ("bad", pos), met
            text = chunk[:e.start].decode("utf-8")
        cp = ord(text[0])
        if cp == 0xFFFE:   # rule 2
            return cps, ("bad", pos), met | {"U+FFFE rejected"}
        cps.append(cp)
        pos += len(text[0].encode("utf-8"))
    return cps, ("ok", None), met


def hexcps(cps):
    return "".join("%X " % cp for cp in cps)


def expected_fast(data):
    cps, err = codec(data)
    return hexcps(cps) + ("ok" if err is None else "bad@%d" % err[0])


def expected_strict(data, rules):
    cps, (kind, pos), _ = rules
    if kind == "ok":
        return hexcps(cps) + "ok"
    if kind == "cut":
        return hexcps(cps) + "cut@%d" % pos
    return hexcps(cps) + "bad@%d:%s" % (pos, data[pos:pos + 4].hex().upper())


def expected_load(data):
    body = data[3:] if data.startswith(BOM) else data
    cps, (kind, pos), met = our_rules(body)
    if kind == "bad":
        return "bad:" + body[pos:pos + 4].hex().upper(), met
    top = max(cps, default=0)
    unit = 1 if top <= 0xFF else 2 if top <= 0xFFFF else 4
    tail = "ok" if kind == "ok" else "rem=%d" % (len(body) - pos)
    return "u%d %s%s" % (unit, hexcps(cps), tail), met


def model_agrees_with_codec(data, rules):
    """Where no rule applies, the character-wise model must be the codec itself."""
    cps, (kind, pos), met = rules
    if met:
        return True
    ccps, err = codec(data)
    if err is None:
        return kind == "ok" and cps == ccps
    return kind == "bad" and pos == err[0] and cps == ccps


def main():
    build = sys.argv[1]
    tool = os.path.join(build, "zir-tool-utf8")
    cases = stress_set() + random_set(6000)
    feed = "".join(c.hex().upper() + "\n" for c in cases)
    proc = subprocess.run([tool], input=feed.encode(), stdout=subprocess.PIPE, timeout=600)
    if proc.returncode != 0:
        print("zir-tool-utf8 failed with status", proc.returncode)
        return 1
    lines = proc.stdout.decode().splitlines()
    if len(lines) != len(cases):
        print("expected %d answers, got %d" % (len(cases), len(lines)))
        return 1

    failures = 0
    met_total = {}
    for data, line in zip(cases, lines):
        got = [part.strip() for part in line.split(" | ")]
        rules = our_rules(data)
        if not model_agrees_with_codec(data, rules):
            failures += 1
            print("MODEL %s: %r but the codec says %r" % (data.hex(), rules, codec(data)))
            continue
        load, load_met = expected_load(data)
        want = [expected_fast(data).strip(), expected_strict(data, rules).strip(), load.strip()]
        for name, w, g in zip(("fast", "strict", "load"), want, got):
            if w != g:
                failures += 1
                if failures <= 40:
                    print("%s %s: expected %r, got %r" % (name, data.hex() or "(empty)", w, g))
        for rule in rules[2] | load_met:
            met_total[rule] = met_total.get(rule, 0) + 1

    print("%d inputs; inputs where we differ from the codec, by rule:" % len(cases))
    for rule in ("surrogate loads", "surrogate cut", "U+FFFE rejected", "cut character"):
        print("  %-16s %d" % (rule, met_total.get(rule, 0)))
        if not met_total.get(rule):
            failures += 1
            print("  (rule never met: the stress set lost its case)")
    if failures:
        print("%d mismatches" % failures)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
