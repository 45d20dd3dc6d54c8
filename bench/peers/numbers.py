#!/usr/bin/python3
# The number benchmarks' text work done by Python, for the ratios in
# docs/architecture.md: the text of integers (str) and floats (repr, str),
# and reading them back (int, float), over the same kinds of values as
# bench/number_bench.cpp. Prints one line per case in millions per second.
import random
import struct
import time

VALUES = 4096


def per_call(f, min_time=0.5):
    n = 1
    while True:
        start = time.perf_counter()
        f(n)
        elapsed = time.perf_counter() - start
        if elapsed >= min_time:
            return elapsed / n
        n *= 2


def integers():
    r = random.Random(3)
    out = []
    for _ in range(VALUES):
        v = r.getrandbits(32) >> r.randrange(32)
        out.append(v - 2**32 if v >= 2**31 else v)
    return out


def floats():
    r = random.Random(3)
    out = []
    for i in range(VALUES):
        if i % 2:
            out.append((r.randrange(2000000) - 1000000) / 1000.0)
        else:
            bits = (r.getrandbits(64) & 0x3FFFFFFFFFFFFFFF) | 0x3000000000000000
            out.append(struct.unpack('<d', struct.pack('<Q', bits))[0])
    return out


def rate(values, convert):
    def run(n):
        k = len(values)
        for i in range(n):
            convert(values[i % k])
    return 1 / per_call(run) / 1e6


ints, flts = integers(), floats()
print('form integer (str): %.1f M/s' % rate(ints, str))
print('form float (str): %.1f M/s' % rate(flts, str))
print('mold float (repr): %.1f M/s' % rate(flts, repr))
print('to integer! (int): %.1f M/s' % rate([str(v) for v in ints], int))
print('to float! (float): %.1f M/s' % rate([repr(v) for v in flts], float))
