#!/usr/bin/python3
"""Our base-2, base-16, base-58 and base-64 codecs against Python's.

    basecodec.py BUILD_DIR

References: the standard `base64` module (RFC 4648 base 64 and base 16) and
Debian's python3-base58 (the Bitcoin alphabet). Base 2 is eight "0"/"1" a
byte, most significant bit first, written here by hand.

For seeded random byte strings of every length up to 300 (zero runs
included, which base 58 writes as leading "1"s), zir-tool-basecodec must
- encode exactly as the reference encodes;
- decode the reference's text back to the bytes, and so the text with
  blanks, apostrophes and line feeds put in (base 64 as `encodebytes` breaks
  it into lines, and with random blanks; base 16 in lower case too);
- decode random texts of alphabet characters as the reference does (base 58:
  any such text is valid).
Text that the reference refuses for a character outside its alphabet (a
character beyond ASCII, a base-64url digit, punctuation) must answer none.
"""
import base64
import os
import random
import subprocess
import sys

import base58

B58_ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
B64_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"


def base2(data):
    return "".join(format(b, "08b") for b in data)


def encoders():
    return {
        2: base2,
        16: lambda d: base64.b16encode(d).decode(),
        58: lambda d: base58.b58encode(d).decode(),
        64: lambda d: base64.b64encode(d).decode(),
    }


def sprinkle(r, text, blanks):
    """The text with characters from `blanks` put in at random places."""
    out = []
    for c in text:
        if r.random() < 0.15:
            out.append(r.choice(blanks))
        out.append(c)
    return "".join(out)


def main():
    tool = os.path.join(sys.argv[1], "zir-tool-basecodec")
    r = random.Random(4648)
    requests, expected, why = [], [], []

    def ask(mode, base, payload, answer, what):
        requests.append("%s %d %s" % (mode, base, payload.hex().upper()))
        expected.append(answer)
        why.append(what)

    datas = []
    for n in range(301):
        for kind in range(2):
            if kind == 0:
                data = bytes(r.randrange(256) for _ in range(n))
            else:
                data = bytes(r.choice((0, 0, 0, 1, 255)) for _ in range(n))
            datas.append(data)

    for data in datas:
        for base, enc in encoders().items():
            if base == 58 and len(data) > 120:
                continue  # quadratic on both sides; shorter inputs cover it
            text = enc(data)
            ask("enc", base, data, text, "encode %d: %s" % (base, data.hex()))
            ask("dec", base, text.encode(), data.hex().upper(), "decode %d: %s" % (base, text))
        lined = base64.encodebytes(data).decode()
        ask("dec", 64, lined.encode(), data.hex().upper(), "base 64 in lines: %r" % lined)
        spaced = sprinkle(r, base64.b64encode(data).decode(), " \t\r\n'")
        ask("dec", 64, spaced.encode(), data.hex().upper(), "base 64 with blanks: %r" % spaced)
        lower = sprinkle(r, base64.b16encode(data).decode().lower(), " \n\t")
        ask("dec", 16, lower.encode(), base64.b16decode(lower.replace(" ", "").replace("\n", "").replace("\t", ""),
                                                       casefold=True).hex().upper(), "base 16: %r" % lower)

    for _ in range(1500):
        text = "".join(r.choice(B58_ALPHABET) for _ in range(r.randrange(0, 60)))
        if r.random() < 0.3:
            text = "1" * r.randrange(1, 5) + text
        ask("dec", 58, text.encode(), base58.b58decode(text).hex().upper(), "base 58 text %r" % text)

    # Characters the references refuse in the middle of valid text.
    for bad in ("-", "_", "!", "*", ".", "\u00e9", "\u0141", "\u00c1", "\U0001F600"):
        for data in datas[10:40]:
            text = base64.b64encode(data).decode()
            at = r.randrange(len(text) // 2 + 1)
            broken = text[:at] + bad + text[at:]
            try:
                base64.b64decode(broken, validate=True)
                continue  # no reference refusal to compare with
            except ValueError:
                pass
            ask("dec", 64, broken.encode(), "none", "base 64 with %r: %r" % (bad, broken))
            hexa = base64.b16encode(data).decode()
            broken16 = hexa[:at] + bad + hexa[at:]
            try:
                base64.b16decode(broken16)
                continue
            except ValueError:
                pass
            ask("dec", 16, broken16.encode(), "none", "base 16 with %r: %r" % (bad, broken16))

    proc = subprocess.run([tool], input="\n".join(requests).encode() + b"\n", stdout=subprocess.PIPE, timeout=600)
    if proc.returncode != 0:
        print("zir-tool-basecodec failed with status", proc.returncode)
        return 1
    answers = proc.stdout.decode().split("\n")
    failures = 0
    for i, want in enumerate(expected):
        got = answers[i] if i < len(answers) else "<missing>"
        if got != want:
            failures += 1
            if failures <= 20:
                print("MISMATCH %s\n  ours:   %s\n  theirs: %s" % (why[i], got, want))
    print("%d passed, %d failed" % (len(expected) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
