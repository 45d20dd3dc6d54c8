#!/usr/bin/python3
# The lexer benchmark's peer rows loaded by Python's json.loads, for the
# ratios in docs/architecture.md: the same rows as bench/lexer_bench.cpp
# (an integer, a float, a string and a nested list of two integers each), as
# JSON. Prints MB/s.
import json
import time

TARGET = 10 << 20


def rows():
    parts = ["["]
    size = 1
    r = 0
    while size < TARGET:
        row = '[%d, %d.5, "text%d", [%d, %d]],\n' % (r, r, r, r, r + 1)
        parts.append(row)
        size += len(row)
        r += 1
    parts.append('[0]]')
    return ''.join(parts)


text = rows()
best = None
for _ in range(5):
    start = time.process_time()
    json.loads(text)
    elapsed = time.process_time() - start
    best = elapsed if best is None else min(best, elapsed)
print('json.loads of %.1f MB: %.1f MB/s' % (len(text) / 1e6, len(text) / best / 1e6))
