#!/usr/bin/env python3
"""The Windows-1251 loader against Python's cp1251 codec.

    cp1251.py BUILD_DIR

Every byte value must load as the codec decodes it. One deliberate
difference: 0x98 is unassigned in Windows-1251 (the codec refuses it); the
loader lets it stand for the code point 0x98, so that no byte is lost.
"""
import os
import subprocess
import sys


def main():
    tool = os.path.join(sys.argv[1], "zir-tool-cp1251")
    proc = subprocess.run([tool], stdout=subprocess.PIPE, timeout=60)
    if proc.returncode != 0:
        print("zir-tool-cp1251 failed with status", proc.returncode)
        return 1
    lines = proc.stdout.decode().splitlines()
    failures = 0
    unassigned = []
    for b in range(256):
        try:
            want = ord(bytes([b]).decode("cp1251"))
        except UnicodeDecodeError:
            unassigned.append(b)
            want = b
        if lines[b] != "%02X %04X" % (b, want):
            failures += 1
            print("byte %02X: expected %04X, got %r" % (b, want, lines[b]))
    if unassigned != [0x98]:
        failures += 1
        print("the codec leaves other bytes unassigned than 0x98:", unassigned)
    if lines[256] != "unit 2":
        failures += 1
        print("expected the loader to widen to unit 2, got", lines[256])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
