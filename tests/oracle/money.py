#!/usr/bin/env python3
"""money! arithmetic against Python's decimal module.

    money.py BUILD_DIR

Seeded random amounts of every length (no integral digit up to 17, up to five
fractional digits), amounts at the limits, integers and floats are run through
zir-tool-money and compared with what decimal computes for the rules of the
datatype:

- add and subtract are exact; a result of 1e17 or more (18 integral digits)
  raises script type-limit;
- multiply and divide cut the exact result to five fractional digits (toward
  zero); a result of 1e17 or more, or a non-zero exact result that the cut
  leaves zero (below 0.00001), raises script type-limit; money times money,
  and a number divided by money, raise script invalid-type; money divided by
  money answers the float of the cut quotient; division by zero raises math
  zero-divide;
- remainder keeps the dividend's sign (decimal's % does);
- a float operand is the decimal of its shortest text (Python's repr), cut to
  five fractional digits; below 0.00001 or from 1e17 on it raises script
  bad-make-arg;
- round/to with each mode is decimal's quantize of amount / scale to an
  integer with the matching rounding, times the scale: none ROUND_HALF_UP,
  even ROUND_HALF_EVEN, down ROUND_DOWN, half-down ROUND_HALF_DOWN, floor
  ROUND_FLOOR, ceiling ROUND_CEILING, half-ceiling ROUND_HALF_UP above zero and
  ROUND_HALF_DOWN below; a float scale with more than five fractional digits
  raises script bad-make-arg;
- to integer! truncates toward zero and raises script type-limit outside 32
  bits; to float! is the correctly rounded double (0.0 for zero).
"""
import decimal
from decimal import Decimal
import os
import random
import subprocess
import sys

D = decimal.Context(prec=80)
decimal.setcontext(D)
UNIT = Decimal("0.00001")
LIMIT = Decimal(10) ** 17


class Error(Exception):
    pass


def cut(x):
    return x.quantize(UNIT, rounding=decimal.ROUND_DOWN)


def text_of(x):
    x = cut(x)
    sign = "-" if x < 0 else ""
    whole, fraction = f"{abs(x):.5f}".split(".")
    return f"{sign}${whole}.{fraction}"


def operand(o):
    """(kind, value) of an operand text."""
    if o.startswith("i:"):
        return "int", Decimal(int(o[2:]))
    if o.startswith("f:"):
        x = float(o[2:])
        return "float", x
    return "money", Decimal(o)


def float_money(x, strict):
    a = abs(x)
    if x != x or a == float("inf") or (0 < a < 1e-5) or a >= 1e17:
        raise Error("error script bad-make-arg")
    d = Decimal(repr(x))
    if strict and -d.as_tuple().exponent > 5:
        raise Error("error script bad-make-arg")
    return cut(d)


def as_money(kind, v):
    if kind == "money":
        return v
    if kind == "int":
        return v
    return float_money(v, False)


def check_limit(r):
    if abs(r) >= LIMIT:
        raise Error("error script type-limit")
    return r


def math(op, a, b):
    (ka, va), (kb, vb) = operand(a), operand(b)
    if op == "multiply" and ka == kb == "money":
        raise Error("error script invalid-type")
    if op in ("divide", "remainder") and ka != "money" and kb == "money":
        raise Error("error script invalid-type")
    x, y = as_money(ka, va), as_money(kb, vb)
    if op == "add":
        return text_of(check_limit(x + y))
    if op == "subtract":
        return text_of(check_limit(x - y))
    if op == "multiply":
        if x == 0 or y == 0:
            return text_of(Decimal(0))
        p = cut(x * y)
        if p == 0:
            raise Error("error script type-limit")
        return text_of(check_limit(p))
    if y == 0:
        raise Error("error math zero-divide")
    if op == "remainder":
        return text_of(x % y if x != 0 else x)
    q = Decimal(0) if x == 0 else cut(x / y)
    if x != 0 and q == 0:
        raise Error("error script type-limit")
    check_limit(q)
    if ka == kb == "money":
        return "float " + format(float(q) or 0.0, ".17g")
    return text_of(q)


MODES = {
    "none": decimal.ROUND_HALF_UP, "even": decimal.ROUND_HALF_EVEN, "down": decimal.ROUND_DOWN,
    "half-down": decimal.ROUND_HALF_DOWN, "floor": decimal.ROUND_FLOOR, "ceiling": decimal.ROUND_CEILING,
}


def round_to(mode, a, s):
    x = operand(a)[1]
    ks, vs = operand(s)
    if x == 0:
        return text_of(x)
    scale = abs(float_money(vs, True) if ks == "float" else vs)
    if scale == 0:
        return text_of(x)
    if mode == "half-ceiling":
        rounding = decimal.ROUND_HALF_UP if x > 0 else decimal.ROUND_HALF_DOWN
    else:
        rounding = MODES[mode]
    r = (x / scale).quantize(Decimal(1), rounding=rounding) * scale
    return text_of(check_limit(r))


def to_integer(a):
    x = int(operand(a)[1])   # toward zero
    if not -2 ** 31 <= x < 2 ** 31:
        raise Error("error script type-limit")
    return f"int {x}"


def expected(line):
    parts = line.split()
    try:
        if parts[0] == "round":
            return round_to(parts[1], parts[2], parts[3])
        if parts[0] == "int":
            return to_integer(parts[1])
        if parts[0] == "float":
            # Zero is 0.0, whatever its sign.
            return "float " + format(float(Decimal(parts[1])) or 0.0, ".17g")
        return math(parts[0], parts[1], parts[2])
    except Error as e:
        return str(e)


# --- Inputs ---------------------------------------------------------------------

def amount(rng, integral=None, fraction=None):
    if integral is None:
        integral = rng.choice([0, 0, 1, 1, 2, 3, 4, 5, 6, 8, 10, 12, 15, 16, 17, 17])
    if fraction is None:
        fraction = rng.randint(0, 5)
    whole = str(rng.randint(10 ** (integral - 1), 10 ** integral - 1)) if integral else "0"
    text = whole
    if fraction:
        text += "." + "".join(rng.choice("0123456789") for _ in range(fraction))
    return ("-" if rng.random() < 0.4 else "") + text


def small_amount(rng):
    return amount(rng, rng.randint(0, 4), rng.randint(0, 5))


def a_float(rng):
    digits = rng.randint(1, 9)
    mantissa = rng.randint(1, 10 ** digits - 1)
    x = mantissa * 10.0 ** rng.randint(-12, 12)
    if rng.random() < 0.2:
        x = rng.uniform(-1e6, 1e6)
    return "f:" + repr(-x if rng.random() < 0.3 else x)


def an_integer(rng):
    return "i:" + str(rng.choice([0, 1, -1, 2, 3, 7, 10, 100, 2 ** 31 - 1, -2 ** 31, rng.randint(-10 ** 6, 10 ** 6)]))


EDGES = ["0", "-0", "0.00001", "-0.00001", "0.5", "99999999999999999.99999", "-99999999999999999.99999",
         "50000000000000000", "49999999999999999.99999", "2147483647.99999", "2147483648", "-2147483648",
         "-2147483648.99999", "-2147483649", "0.00003", "0.00002", "1"]


def lines(rng):
    out = []
    for op in ("add", "subtract"):
        for _ in range(3000):
            out.append(f"{op} {amount(rng)} {amount(rng)}")
        for a in EDGES:
            for b in EDGES:
                out.append(f"{op} {a} {b}")
        for _ in range(300):
            out.append(f"{op} {an_integer(rng)} {amount(rng)}")
            out.append(f"{op} {amount(rng)} {a_float(rng)}")
            out.append(f"{op} {a_float(rng)} {amount(rng)}")
    for _ in range(3000):
        out.append(f"multiply {amount(rng)} {an_integer(rng)}")
        out.append(f"multiply {small_amount(rng)} {a_float(rng)}")
        out.append(f"multiply {an_integer(rng)} {amount(rng)}")
        out.append(f"multiply {a_float(rng)} {amount(rng)}")
    for a in EDGES:
        out.append(f"multiply {a} {a}")
        out.append(f"multiply {a} f:0.001")
        out.append(f"multiply {a} i:10")
    for op in ("divide", "remainder"):
        for _ in range(3000):
            out.append(f"{op} {amount(rng)} {amount(rng)}")
            out.append(f"{op} {amount(rng)} {small_amount(rng)}")
            out.append(f"{op} {amount(rng)} {an_integer(rng)}")
            out.append(f"{op} {small_amount(rng)} {a_float(rng)}")
        for a in EDGES:
            for b in EDGES:
                out.append(f"{op} {a} {b}")
        out.append(f"{op} i:5 1")
        out.append(f"{op} f:5.0 1")
    for mode in ("none", "even", "down", "half-down", "floor", "ceiling", "half-ceiling"):
        for _ in range(1500):
            out.append(f"round {mode} {amount(rng)} {amount(rng, rng.randint(0, 3), rng.randint(0, 5))}")
            # Ties: an amount that is an odd number of half scales.
            scale = amount(rng, rng.randint(0, 2), rng.randint(0, 4)).lstrip("-")
            k = rng.randint(0, 10 ** 6) * 2 + 1
            tie = Decimal(scale) * k / 2
            if Decimal(scale) != 0 and tie == cut(tie) and tie < LIMIT:
                out.append(f"round {mode} {'-' if rng.random() < 0.5 else ''}{tie} {scale}")
            out.append(f"round {mode} {small_amount(rng)} {an_integer(rng)}")
            out.append(f"round {mode} {small_amount(rng)} {a_float(rng)}")
        for a in EDGES:
            out.append(f"round {mode} {a} 1")
            out.append(f"round {mode} {a} 0.01")
            out.append(f"round {mode} {a} 10")
    for _ in range(2000):
        out.append(f"int {amount(rng)}")
        out.append(f"float {amount(rng)}")
    for a in EDGES:
        out.append(f"int {a}")
        out.append(f"float {a}")
    return out


def main():
    tool = os.path.join(sys.argv[1], "zir-tool-money")
    todo = lines(random.Random(1999))
    out = subprocess.run([tool], input="".join(l + "\n" for l in todo), check=True, capture_output=True,
                         text=True).stdout.splitlines()
    if len(out) != len(todo):
        print(f"money: {len(out)} answers for {len(todo)} lines")
        sys.exit(1)
    failures = 0
    for line, ours in zip(todo, out):
        want = expected(line)
        if ours != want:
            failures += 1
            if failures <= 30:
                print(f"{line}: ours {ours!r}, decimal {want!r}")
    if failures:
        print(f"money: {failures} of {len(todo)} lines differ")
        sys.exit(1)
    print(f"money: {len(todo)} operations match decimal")


if __name__ == "__main__":
    main()
