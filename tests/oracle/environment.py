#!/usr/bin/env python3
"""The environment services against what a child is given and against uname(1).

    environment.py BUILD_DIR

zir-tool-environment runs with arguments and an environment chosen here
(names and values with "=", empty values, UTF-8 and bytes that are no UTF-8);
the pairs it lists must be exactly that environment, its command line the
arguments joined, and its system description what `uname -s`, `-r`, `-m` and
`-v` print.
"""
import os
import re
import subprocess
import sys

ARCH = {"x86_64": "x86-64", "aarch64": "ARM64", "arm64": "ARM64",
        "i386": "x86-32", "i686": "x86-32", "ia64": "IA-64"}


def uname(flag):
    return subprocess.run(["uname", flag], stdout=subprocess.PIPE, check=True).stdout.decode().strip()


def main():
    tool = os.path.join(sys.argv[1], "zir-tool-environment")
    env = {
        b"PLAIN": b"1",
        b"EQUALS": b"x=y==z",
        b"EMPTY": b"",
        b"TEXT": "caf\u00e9 \u4e2d \U0001d11e".encode(),
        b"BYTES": b"\xff\xfe(\xed\xb2\x80)",
        b"LANG": b"C",
    }
    args = [tool, "a b", "", "plain", "tab\there"]
    proc = subprocess.run(args, env=env, stdout=subprocess.PIPE, timeout=60)
    if proc.returncode != 0:
        print("zir-tool-environment failed with status", proc.returncode)
        return 1
    got = {}
    pairs = {}
    for line in proc.stdout.decode().splitlines():
        key, _, rest = line.partition(" ")
        if key == "env":
            name, value = rest.split(" ")
            unhex = lambda h: b"" if h == "-" else bytes.fromhex(h)
            pairs[unhex(name)] = unhex(value)
        else:
            got[key] = rest
    failures = 0

    def check(what, have, want):
        nonlocal failures
        if have != want:
            failures += 1
            print("%s: expected %r, got %r" % (what, want, have))

    check("environment", pairs, env)
    want_line = " ".join('"%s"' % a if a == "" or " " in a or "\t" in a else a for a in args)
    check("command line", bytes.fromhex(got["cmdline"]).decode(), want_line)
    check("name", got["os"], uname("-s"))
    machine = uname("-m")
    check("arch", got["arch"], ARCH.get(machine, "ARM" if machine.startswith("arm") else "Unknown"))
    numbers = [int(n) for n in re.match(r"\d+(?:\.\d+){0,2}", uname("-r")).group(0).split(".")]
    check("version", got["version"], ".".join(str(n) for n in numbers + [0] * (3 - len(numbers))))
    build = re.search(r"#(\d+)", uname("-v"))
    check("build", got["build"], build.group(1) if build else "0")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
