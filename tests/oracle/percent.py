#!/usr/bin/env python3
"""Our percent coding against Python's urllib.parse.

    percent.py BUILD_DIR

Encoding: `quote(text, safe=...)` with the wide mode's punctuation as the safe
set for wide mode and nothing for strict mode (quote always keeps letters,
digits and "-._~", which is our strict table). Both code the text's UTF-8
bytes and write upper-case escapes.

Decoding: `unquote_to_bytes(text)` decoded as UTF-8, on valid input: texts
whose escapes stand for whole characters (a multi-byte character is escaped
byte by byte or written as it is), "%" signs without two hexadecimal digits
after them, and escapes in either case. On such text the two must agree
exactly. Where the bytes are no valid UTF-8, our decoder keeps the text of
the escapes by design (see url.hpp); the unit tests cover that.

The texts: every ASCII character alone, a few fixed texts, and seeded random
texts drawn from ASCII, Latin-1, the BMP beyond it and the astral planes.
"""
import random
import subprocess
import sys
from urllib.parse import quote, unquote_to_bytes

WIDE_SAFE = "!#$&'()*+,/:=?@"

FIXED = ["", "a b", "é", "/", "%", "%%", "a%2", "%41", "%e2%82%AC", "100%", "%G1", "~-._",
         "http://example.com/a b?x=1&y=é#frag", "\u4e2d\u6587", "\U0001F600", "\x00\x7f", "[]{}<>\"'^`|\\"]

POOLS = [
    [chr(c) for c in range(0x20, 0x7F)] + ["\t", "\n", "\x00", "\x7f"],
    [chr(c) for c in range(0x80, 0x100)],
    ["\u0100", "\u07ff", "\u0800", "\u20ac", "\u4e2d", "\ufffd", "\uffff", "\ufeff"],
    ["\U00010000", "\U0001F600", "\U0010FFFF"],
]


def random_text(rng):
    out = []
    for _ in range(rng.randint(0, 12)):
        pool = POOLS[rng.choice([0, 0, 0, 1, 2, 3])]
        out.append(rng.choice(pool))
    return "".join(out)


def escaped(text, rng):
    """The text with some of its characters escaped byte by byte (either case)
    and some stray "%" signs, as a sender of valid URLs writes it."""
    out = []
    for ch in text:
        r = rng.random()
        if r < 0.4:
            form = "%%%02X" if rng.random() < 0.5 else "%%%02x"
            out.append("".join(form % b for b in ch.encode("utf-8")))
        elif r < 0.45:
            out.append(rng.choice(["%", "%4", "%G0", "%%"]) + ch)
        else:
            out.append(ch)
    return "".join(out)


def main():
    build = sys.argv[1]
    rng = random.Random(20240611)
    texts = FIXED + [chr(c) for c in range(128)] + [random_text(rng) for _ in range(3000)]
    requests, expected = [], []
    for t in texts:
        h = t.encode("utf-8").hex()
        requests.append("S " + h)
        expected.append(quote(t, safe="").encode("ascii"))
        requests.append("W " + h)
        expected.append(quote(t, safe=WIDE_SAFE).encode("ascii"))
    decoded = FIXED + [escaped(t, rng) for t in texts]
    for t in decoded:
        try:
            want = unquote_to_bytes(t).decode("utf-8").encode("utf-8")
        except UnicodeDecodeError:
            continue
        requests.append("D " + t.encode("utf-8").hex())
        expected.append(want)
    proc = subprocess.run([build + "/zir-tool-percent"], input="\n".join(requests).encode() + b"\n",
                          stdout=subprocess.PIPE, timeout=600)
    if proc.returncode != 0:
        print("zir-tool-percent failed with status", proc.returncode)
        return 1
    answers = proc.stdout.decode().splitlines()
    if len(answers) != len(requests):
        print("expected %d answers, got %d" % (len(requests), len(answers)))
        return 1
    failures = 0
    for req, want, got in zip(requests, expected, answers):
        if bytes.fromhex(got) != want:
            failures += 1
            if failures <= 20:
                print("%s %r: expected %r, got %r" % (req[0], bytes.fromhex(req[2:]).decode("utf-8"), want,
                                                      bytes.fromhex(got)))
    decodes = sum(1 for r in requests if r[0] == "D")
    print("%d requests (%d decodings), %d mismatches" % (len(requests), decodes, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
