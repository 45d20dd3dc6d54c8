#!/usr/bin/python3
# The binary benchmarks' base-64 work done by Python's base64 module, for the
# ratios in docs/architecture.md: 1 MiB of random bytes encoded, its text
# decoded, and the same text in lines of 76 characters (encodebytes) decoded.
# Prints one line per case, in the units of bench/binary_bench.cpp.
import os
import sys

# This file is itself named base64.py: the standard module must not be
# shadowed by it (as `python3 -P` would also ensure).
sys.path = [p for p in sys.path if os.path.abspath(p or ".") != os.path.dirname(os.path.abspath(__file__))]

import base64  # noqa: E402
import random  # noqa: E402
import time  # noqa: E402

SIZE = 1 << 20
r = random.Random(1)
data = bytes(r.randrange(256) for _ in range(SIZE))
text = base64.b64encode(data)
lines = base64.encodebytes(data)


def per_call(f, min_time=0.5):
    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            f()
        elapsed = time.perf_counter() - start
        if elapsed >= min_time:
            return elapsed / n
        n *= 2


t = per_call(lambda: base64.b64encode(data))
print('base 64 encode (b64encode): %.0f MB/s' % (SIZE / t / 1e6))
t = per_call(lambda: base64.b64decode(text))
print('base 64 decode (b64decode): %.0f MB/s' % (SIZE / t / 1e6))
t = per_call(lambda: base64.decodebytes(lines))
print('base 64 decode in lines (decodebytes): %.0f MB/s' % (SIZE / t / 1e6))
t = per_call(lambda: base64.b16decode(base64.b16encode(data)))
print('base 16 encode + decode (b16encode, b16decode): %.0f MB/s' % (SIZE / t / 1e6))
