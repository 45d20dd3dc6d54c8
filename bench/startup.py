#!/usr/bin/env python3
"""Start-up time: from exec to the first evaluated expression and exit.

    startup.py ZIR-PROGRAM [RUNS]

Runs `zir first.zir` (a script of one expression), `lua5.4 -e ''` and
`/usr/bin/python3 -c pass` RUNS times each (default 50), interleaved so the
machine's state is shared, and prints the median wall time of each and our
ratio to each peer (below 1: we start faster).
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        sys.exit(2)
    zir = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    with tempfile.TemporaryDirectory() as d:
        script = os.path.join(d, "first.zir")
        with open(script, "w") as f:
            f.write("Zir []\nx: 1\n")
        peers = {
            "zir": [zir, script],
            "lua5.4": ["lua5.4", "-e", ""],
            "python3": ["/usr/bin/python3", "-c", "pass"],
        }
        times = {name: [] for name in peers}
        for _ in range(runs):
            for name, argv in peers.items():
                start = time.perf_counter()
                done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                times[name].append(time.perf_counter() - start)
                if done.returncode != 0:
                    sys.exit("%s exited with %d" % (name, done.returncode))
    median = {name: statistics.median(t) * 1000 for name, t in times.items()}
    for name, ms in median.items():
        print("%-8s %8.2f ms" % (name, ms))
    for peer in ("lua5.4", "python3"):
        print("zir / %-8s %6.2f" % (peer, median["zir"] / median[peer]))


if __name__ == "__main__":
    main()
