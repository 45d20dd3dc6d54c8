#!/usr/bin/env python3
"""Runs each whole program of this directory in Zir, python3 and lua5.4.

    run.py ZIR-PROGRAM [NAME ...]

Every program exists as NAME.zir, NAME.py and NAME.lua doing the same work
and printing the same lines; the outputs are compared, so a figure is never
taken from a program that went wrong. Each is run five times with its output
read through a pipe; the table gives the median wall time, start-up
included, and our speed relative to each peer (above 1: we are faster).
Python is Debian's, by its system path.
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUNS = 5


def run(argv):
    times = []
    output = None
    for _ in range(RUNS):
        start = time.perf_counter()
        done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        times.append(time.perf_counter() - start)
        if done.returncode != 0:
            sys.exit("%s failed (%d): %s" % (" ".join(argv), done.returncode, done.stderr.decode(errors="replace")))
        output = done.stdout
    return statistics.median(times), output


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    zir = sys.argv[1]
    names = sys.argv[2:] or sorted(f[:-4] for f in os.listdir(HERE) if f.endswith(".zir"))
    print("%-14s %10s %10s %10s %8s %8s" % ("program", "zir", "python3", "lua5.4", "py/zir", "lua/zir"))
    failed = False
    for name in names:
        path = os.path.join(HERE, name)
        ours, out_z = run([zir, path + ".zir"])
        py, out_p = run(["/usr/bin/python3", path + ".py"])
        lua, out_l = run(["lua5.4", path + ".lua"])
        if not (out_z == out_p == out_l):
            print("%s: the outputs differ (zir %r..., python %r..., lua %r...)" % (name, out_z[:40], out_p[:40], out_l[:40]))
            failed = True
            continue
        print("%-14s %9.3fs %9.3fs %9.3fs %8.2f %8.2f" % (name, ours, py, lua, py / ours, lua / ours))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
