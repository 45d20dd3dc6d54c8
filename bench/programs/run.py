#!/usr/bin/env python3
"""Runs each whole program of this directory in Zir, python3 and lua5.4.

    run.py ZIR-PROGRAM [NAME ...]

Every program exists as NAME.zir, NAME.py and NAME.lua doing the same work
and printing the same checksum; the three outputs are compared before a time
is reported, so a figure never comes from a program that went wrong. The
three interpreters take turns (zir, python3, lua5.4, zir, ...) five times
over, so that a change of the machine's load falls on all three alike; the
table gives each one's median wall time, start-up included, and the ratios
Zir time / Lua time and Zir time / Python time (above 1: Zir is slower).

The programs that read input (parse_text, parse_lines, parse_count,
load_values) get the path of a
file as their one argument; the files are written once, from a fixed seed,
into a temporary folder. Two start-up rows close the table: from exec to the
first output of a one-expression script (`print 1`, `print(1)`), and from
exec to exit with no work (a one-line script, `lua5.4 -e ''`,
`python3 -c pass`). Python is Debian's, by its system path.
"""
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUNS = 5
STARTUP_RUNS = 51
PEERS = ("zir", "python3", "lua5.4")
DATA_FILE = {"zir": "data.zir", "python3": "data.json", "lua5.4": "data.lua"}
# The programs that read the 10 MB text.
TEXT_PROGRAMS = ("parse_text", "parse_lines", "parse_count")
TEXT_BYTES = 10 * 1000 * 1000
DATA_BYTES = 10 * 1000 * 1000


def write_text(path):
    """Lines of 0 to 15 lowercase words, one space between words."""
    rng = random.Random(1)
    letters = "abcdefghijklmnopqrstuvwxyz"
    out = []
    size = 0
    while size < TEXT_BYTES:
        words = ["".join(rng.choice(letters) for _ in range(rng.randint(1, 10)))
                 for _ in range(rng.randint(0, 15))]
        line = " ".join(words) + "\n"
        out.append(line)
        size += len(line)
    with open(path, "w") as f:
        f.write("".join(out))


def source(v, open_="[", sep=" ", close="]"):
    """A value as literal source: Zir's blocks by default, Lua's tables
    with "{", ",", "}"."""
    if isinstance(v, list):
        return open_ + sep.join(source(x, open_, sep, close) for x in v) + close
    if isinstance(v, str):
        return '"' + v + '"'
    return repr(v)


def zir(v):
    return source(v)


def data_values():
    """Records like [integer float string [integer float string ...]],
    about DATA_BYTES of them in Zir source."""
    rng = random.Random(2)
    letters = "abcdefghijklmnopqrstuvwxyz"

    def leaf():
        kind = rng.randint(0, 2)
        if kind == 0:
            return rng.randint(0, 999)
        if kind == 1:
            return rng.randint(0, 99) + rng.randint(0, 3) / 4
        return "".join(rng.choice(letters) for _ in range(rng.randint(0, 8)))

    def record(depth):
        items = [leaf() for _ in range(rng.randint(1, 5))]
        if depth < 3 and rng.random() < 0.5:
            items.insert(rng.randint(0, len(items)), record(depth + 1))
        return items

    values = []
    size = 0
    while size < DATA_BYTES:
        r = record(0)
        values.append(r)
        size += len(zir(r)) + 1
    return values


def write_data(folder):
    """The same values as Zir source, a Lua table constructor and JSON."""
    values = data_values()

    def lua(v):
        return source(v, "{", ",", "}")

    with open(os.path.join(folder, "data.zir"), "w") as f:
        f.write("\n".join(zir(r) for r in values) + "\n")
    with open(os.path.join(folder, "data.lua"), "w") as f:
        f.write("return {\n" + ",\n".join(lua(r) for r in values) + "\n}\n")
    with open(os.path.join(folder, "data.json"), "w") as f:
        f.write(json.dumps(values))


def arguments(name, peer, folder):
    if name in TEXT_PROGRAMS:
        return [os.path.join(folder, "text.txt")]
    if name == "load_values":
        return [os.path.join(folder, DATA_FILE[peer])]
    return []


def command(zir, peer, path, args):
    if peer == "zir":
        return [zir, path + ".zir"] + args
    if peer == "python3":
        return ["/usr/bin/python3", path + ".py"] + args
    return ["lua5.4", path + ".lua"] + args


def timed(argv):
    start = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(argv), done.returncode,
                                         done.stderr.decode(errors="replace")))
    return elapsed, done.stdout


def to_first_output(argv):
    """Seconds from exec to the first byte on standard output."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    proc.stdout.read(1)
    elapsed = time.perf_counter() - start
    proc.stdout.read()
    if proc.wait() != 0:
        sys.exit("%s failed" % " ".join(argv))
    return elapsed


def startup_rows(zir, folder):
    first = os.path.join(folder, "first.zir")
    with open(first, "w") as f:
        f.write("Zir []\nprint 1\n")
    empty = os.path.join(folder, "empty.zir")
    with open(empty, "w") as f:
        f.write("Zir []\nx: 1\n")
    to_output = {"zir": [zir, first], "python3": ["/usr/bin/python3", "-c", "print(1)"],
                 "lua5.4": ["lua5.4", "-e", "print(1)"]}
    to_exit = {"zir": [zir, empty], "python3": ["/usr/bin/python3", "-c", "pass"],
               "lua5.4": ["lua5.4", "-e", ""]}
    first_times = {p: [] for p in PEERS}
    exit_times = {p: [] for p in PEERS}
    for _ in range(STARTUP_RUNS):
        for p in PEERS:
            first_times[p].append(to_first_output(to_output[p]))
            exit_times[p].append(timed(to_exit[p])[0])
    return [("start: 1st output", {p: statistics.median(t) for p, t in first_times.items()}),
            ("start: to exit", {p: statistics.median(t) for p, t in exit_times.items()})]


def row(name, median, unit="s"):
    def shown(t):
        return "%.3f s" % t if unit == "s" else "%.1f ms" % (t * 1000)
    z = median["zir"]
    print("%-18s %10s %10s %10s %9.2f %9.2f" % (
        name, shown(z), shown(median["python3"]), shown(median["lua5.4"]),
        z / median["lua5.4"], z / median["python3"]))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    zir = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or sorted(f[:-4] for f in os.listdir(HERE) if f.endswith(".zir"))
    print("load average: %.2f %.2f %.2f on %d cores" % (os.getloadavg() + (os.cpu_count(),)))
    print("%-18s %10s %10s %10s %9s %9s" % ("program", "zir", "python3", "lua5.4", "zir/lua", "zir/py"))
    failed = False
    with tempfile.TemporaryDirectory() as folder:
        if any(n in TEXT_PROGRAMS for n in names):
            write_text(os.path.join(folder, "text.txt"))
        if "load_values" in names:
            write_data(folder)
        for name in names:
            path = os.path.join(HERE, name)
            times = {p: [] for p in PEERS}
            outputs = {p: None for p in PEERS}
            for _ in range(RUNS):
                for p in PEERS:
                    elapsed, out = timed(command(zir, p, path, arguments(name, p, folder)))
                    times[p].append(elapsed)
                    outputs[p] = out
            if not (outputs["zir"] == outputs["python3"] == outputs["lua5.4"]):
                print("%s: the outputs differ (zir %r..., python %r..., lua %r...)" % (
                    name, outputs["zir"][:60], outputs["python3"][:60], outputs["lua5.4"][:60]))
                failed = True
                continue
            row(name, {p: statistics.median(t) for p, t in times.items()})
        for name, median in startup_rows(zir, folder):
            row(name, median, "ms")
    print("load average: %.2f %.2f %.2f" % os.getloadavg())
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
