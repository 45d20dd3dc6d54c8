#!/usr/bin/python3
# The string benchmarks' work done by Python, for the ratios in
# docs/architecture.md: find in 64 Ki characters of narrow and wide text, with
# and without case folding, appending short pieces, and the literal form of
# long text. Prints one line per case, in the units of bench/string_bench.cpp.
import random
import time

LENGTH = 1 << 16


def haystack(wide):
    r = random.Random(1)
    chars = []
    for i in range(LENGTH):
        c = chr(ord('a') + r.randrange(26))
        if wide and i % 97 == 0:
            c = '\U0001F600'
        chars.append(c)
    return ''.join(chars) + 'needle'


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


for wide in (False, True):
    hay = haystack(wide)
    t = per_call(lambda: hay.upper().find('NEEDLE'))
    print('find, %s text, folding (upper().find): %.2f G chars/s' % ('4-byte' if wide else '1-byte', LENGTH / t / 1e9))
    t = per_call(lambda: hay.find('needle'))
    print('find, %s text, exact (find): %.2f G chars/s' % ('4-byte' if wide else '1-byte', LENGTH / t / 1e9))

piece = '0123456789'
t = per_call(lambda: ''.join([piece] * 100000)) / 100000
print('append a 10-character string (join): %.1f ns' % (t * 1e9))


def grow():
    s = ''
    for _ in range(100000):
        s += 'x'
    return s


t = per_call(grow) / 100000
print('append one character (+=): %.1f ns' % (t * 1e9))

source = ''
while len(source) < LENGTH:
    source += 'a few words of text, {braced} and plain\tthen\n'
source = source[:len(source) // 2] + '"' + source[len(source) // 2 + 1:]
t = per_call(lambda: repr(source))
print('literal form of long text (repr): %.0f MB/s' % (len(source) / t / 1e6))
