#!/usr/bin/python3
# The map! and hash! benchmarks' work done by Python dicts and sets, for the
# ratios in docs/architecture.md: 100,000 integer or string keys put into a
# fresh dict, selected back, and found as members. Prints one line per case,
# in the units of bench/container_bench.cpp.
import time

KEYS = 100000


def per_call(f, min_time=0.5):
    n, elapsed = 1, 0.0
    while True:
        start = time.perf_counter()
        for _ in range(n):
            f()
        elapsed = time.perf_counter() - start
        if elapsed >= min_time:
            return elapsed / n
        n *= 2


for kind, keys in (('integer', [i * 7919 for i in range(KEYS)]), ('string', ['key%d' % i for i in range(KEYS)])):
    def put():
        d = {}
        for i, k in enumerate(keys):
            d[k] = i
        return d
    t = per_call(put)
    print('map put, %s keys: %.1f ms per 100,000 (%.1f ns each)' % (kind, t * 1e3, t / KEYS * 1e9))

    d = put()
    probe = [keys[(i * 7) % KEYS] for i in range(KEYS)]

    def select():
        get = d.get
        for k in probe:
            get(k)
    t = per_call(select) / KEYS
    print('map select, %s keys: %.1f ns' % (kind, t * 1e9))

    members = set(keys)

    def find():
        for k in probe:
            k in members
    t = per_call(find) / KEYS
    print('hash find, %s values: %.1f ns' % (kind, t * 1e9))
