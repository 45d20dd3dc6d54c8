#!/usr/bin/python3
# The interpreter benchmarks' statements run by Python, for the ratios in
# docs/architecture.md: each statement in a loop inside a function (locals,
# Python's fastest variables), the cost of the empty loop taken off. Prints
# nanoseconds per statement.
import time


class Obj:
    def __init__(self):
        self.a = 7


def f(p, q):
    return p + q


def run(body, n):
    a, b, c, d = 3, 4, 5, 6
    x, y, z, w = 1.5, 2.25, 0.5, 4.0
    o = Obj()
    blk = [10, 20, 30]
    r = None
    code = compile(
        "def loop(n, a, b, c, d, x, y, z, w, o, blk, f):\n"
        "    for _ in range(n):\n"
        "        " + body + "\n", "<bench>", "exec")
    space = {}
    exec(code, space)
    loop = space["loop"]
    start = time.perf_counter()
    loop(n, a, b, c, d, x, y, z, w, o, blk, f)
    return time.perf_counter() - start


def per_statement(body, n=2_000_000, rounds=5):
    best = min(run(body, n) for _ in range(rounds))
    empty = min(run("pass", n) for _ in range(rounds))
    return (best - empty) / n * 1e9


CASES = [
    ("integer arithmetic", "r = a + b * c - d"),
    ("float arithmetic", "r = x * y + z - w"),
    ("function call", "r = f(a, b)"),
    ("word access", "r = a"),
    ("object field", "r = o.a"),
    ("block index", "r = blk[1]"),
]

for name, body in CASES:
    print(f"{name:20s} {per_statement(body):6.1f} ns")
