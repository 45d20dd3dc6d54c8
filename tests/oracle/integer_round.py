#!/usr/bin/env python3
"""The integer! round action against Python's decimal module.

    integer_round.py BUILD_DIR

Rounding n to a multiple of |s| is quantizing n / |s| to a whole number and
multiplying back; each refinement is one of decimal's rounding modes
(half-ceiling is half-up for positive quotients and half-down for negative
ones). A result outside 32 bits must raise math overflow. Values and scales
are drawn at random, from the 32-bit edges and from small numbers where
halves are common.
"""
import decimal
import os
import random
import subprocess
import sys

MIN, MAX = -2**31, 2**31 - 1
MODES = {
    "default": decimal.ROUND_HALF_UP,
    "even": decimal.ROUND_HALF_EVEN,
    "down": decimal.ROUND_DOWN,
    "half-down": decimal.ROUND_HALF_DOWN,
    "floor": decimal.ROUND_FLOOR,
    "ceiling": decimal.ROUND_CEILING,
}


def expected(n, s, mode):
    s = abs(s)
    if s == 0:
        return n
    ctx = decimal.Context(prec=60)
    q = ctx.divide(decimal.Decimal(n), decimal.Decimal(s))
    if mode == "half-ceiling":
        rounding = decimal.ROUND_HALF_UP if q > 0 else decimal.ROUND_HALF_DOWN
    else:
        rounding = MODES[mode]
    r = int(q.quantize(decimal.Decimal(1), rounding=rounding, context=ctx)) * s
    return r if MIN <= r <= MAX else "overflow"


def cases(rng):
    edges = [MIN, MIN + 1, MIN + 2, -1, 0, 1, 2, MAX - 1, MAX, 2**30, -2**30, 10**9, -10**9]
    for _ in range(4000):
        kind = rng.randrange(4)
        if kind == 0:
            n, s = rng.randint(MIN, MAX), rng.randint(MIN, MAX)
        elif kind == 1:
            n, s = rng.choice(edges), rng.choice(edges + [rng.randint(1, 1000)])
        elif kind == 2:
            s = rng.randint(1, 100) * rng.choice([1, -1])
            n = (rng.randint(-1000, 1000) * 2 + 1) * abs(s) // 2   # near halves
        else:
            n, s = rng.randint(-10**6, 10**6), rng.randint(-1000, 1000)
        for mode in list(MODES) + ["half-ceiling"]:
            yield n, s, mode


def main():
    build = sys.argv[1]
    tool = os.path.join(build, "zir-tool-integer_round")
    todo = list(cases(random.Random(2024)))
    text = "".join(f"{n} {s} {mode}\n" for n, s, mode in todo)
    out = subprocess.run([tool], input=text, check=True, capture_output=True, text=True).stdout.split()
    if len(out) != len(todo):
        print(f"integer_round: {len(out)} answers for {len(todo)} cases")
        sys.exit(1)
    bad = 0
    for (n, s, mode), ours in zip(todo, out):
        want = expected(n, s, mode)
        if str(want) != ours:
            bad += 1
            if bad <= 20:
                print(f"round/{mode}/to {n} {s}: ours {ours}, decimal {want}")
    if bad:
        print(f"integer_round: {bad} of {len(todo)} differ")
        sys.exit(1)
    print(f"integer_round: {len(todo)} roundings match decimal's quantize")


main()
