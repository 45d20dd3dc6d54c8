#!/usr/bin/python3
# The parse benchmarks' work done by Python's re, for the ratios in
# docs/architecture.md: the same 10 MB of generated prose (the generator of
# bench/parse_bench.cpp, written again) split into lines and into words, and
# scanned for the occurrences of a word. Each figure is the median of five
# runs timed inside the interpreter in CPU time (the machine is shared);
# prints MB/s of input and the count each run found, which must be the same
# as ours.
import re
import time

WORDS = (
    "the of and to in is was that for it with as his on be at by had are but from or have an they which "
    "one you were her all she there would their we him been has when who will more no if out so said what "
    "up its about into than them can only other new some could time these two may then do first any my now "
    "such like our over man me even most made after also did many before must through back years where much "
    "your way well down should because each just those people how too little state good very make world still "
    "own see men work long get here between both life being under never day same another know while last might "
    "us great old year off come since against go came right used take three"
).split()

SIZE = 10_000_000


def generate():
    state = 20240601
    lines = []
    total = 0

    def rnd(n):
        nonlocal state
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        return (state >> 8) % n

    while total < SIZE:
        count = 4 + rnd(12)
        parts = []
        for i in range(count):
            w = WORDS[rnd(len(WORDS))]
            if i == 0:
                w = w[0].upper() + w[1:]
            if i + 1 < count and rnd(10) == 0:
                w += ","
            parts.append(w)
        line = " ".join(parts) + ".\n"
        lines.append(line)
        total += len(line)
    return "".join(lines)


def timed(work, text, runs=5):
    times = []
    result = None
    for _ in range(runs):
        start = time.process_time()
        result = work(text)
        times.append(time.process_time() - start)
    return sorted(times)[len(times) // 2], result


def main():
    text = generate()
    mb = len(text) / 1e6
    lf = re.compile("\n")
    letters = re.compile("[A-Za-z]+")
    the = re.compile("the")
    the_any_case = re.compile("the", re.IGNORECASE)
    cases = [
        ("lines, re.split", lambda t: len(lf.split(t)) - 1),
        ("lines, str.split", lambda t: len(t.split("\n")) - 1),
        ("words, re.findall", lambda t: len(letters.findall(t))),
        ("words, re.finditer + group", lambda t: len([m.group() for m in letters.finditer(t)])),
        ("count 'the', finditer", lambda t: sum(1 for _ in the.finditer(t))),
        ("count 'the' any case, finditer", lambda t: sum(1 for _ in the_any_case.finditer(t))),
    ]
    print("%d bytes" % len(text))
    for name, work in cases:
        seconds, count = timed(work, text)
        print("%-32s %8.1f MB/s %9d" % (name, mb / seconds, count))


main()
