#!/usr/bin/python3
"""The coding natives against Python's own modules.

    natives_codec.py BUILD_DIR

zir-tool-natives_codec calls each native through the natives table. The
references:
- enhex: `urllib.parse.quote(text, safe='')` for a string!, and with the
  wider kept set of url! and file! (! # $ & ' ( ) * + , / : = ? @) for a
  file!; dehex of what enhex gave answers the text back.
- enbase/debase: `base64` (bases 64 and 16), `binascii`, Debian's
  python3-base58 and base 2 written by hand; a string! encodes its UTF-8;
  text with a character outside the base's alphabet decodes to none (the
  texts are string! values, of wide characters too).
- checksum: `hashlib` digests and HMACs, `zlib.crc32` and `zlib.adler32`.
- compress/decompress: what the natives compress, `zlib` decompresses (zlib,
  raw deflate and gzip framings), and what `zlib` compresses at every level,
  the natives decompress.
"""
import base64
import binascii
import hashlib
import hmac
import random
import subprocess
import sys
import zlib
from urllib.parse import quote

import base58

WIDE_SAFE = "!#$&'()*+,/:=?@"

POOLS = [
    [chr(c) for c in range(0x20, 0x7F)] + ["\t", "\n", "\x7f"],
    [chr(c) for c in range(0x80, 0x100)],
    ["\u0100", "\u07ff", "\u0800", "\u20ac", "\u4e2d", "\ufffd", "\uffff", "\ufeff"],
    ["\U00010000", "\U0001F600", "\U0010FFFF"],
]


def random_text(rng, longest=24):
    out = []
    for _ in range(rng.randint(0, longest)):
        out.append(rng.choice(POOLS[rng.choice([0, 0, 1, 2, 3])]))
    return "".join(out)


def random_bytes(rng, longest=200):
    n = rng.randint(0, longest)
    if rng.random() < 0.3:
        return bytes([0] * rng.randint(0, 3)) + bytes(rng.randrange(256) for _ in range(n))
    return bytes(rng.randrange(256) for _ in range(n))


def hx(b):
    return b.hex().upper()


def base2(data):
    return "".join(format(b, "08b") for b in data)


ENCODERS = {
    2: base2,
    16: lambda d: binascii.hexlify(d).decode().upper(),
    58: lambda d: base58.b58encode(d).decode(),
    64: lambda d: base64.b64encode(d).decode(),
}
ALPHABETS = {
    2: "01",
    16: "0123456789ABCDEFabcdef",
    58: "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz",
    64: "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=",
}
# Characters no base takes and none skips.
FOREIGN = ["*", "!", "-", "_", "\u00e9", "\u4e2d", "~", "."]


def main():
    build = sys.argv[1]
    rng = random.Random(20251210)
    requests, expected = [], []

    def ask(request, answer):
        requests.append(request)
        expected.append(answer)

    texts = ["", "a b/c", "\u00e9", "100%", "%zz", "~-._"] + [random_text(rng) for _ in range(1500)]
    texts.append("".join(random_text(rng, 400) for _ in range(10)))
    for t in texts:
        h = hx(t.encode("utf-8"))
        ask("E " + h, hx(quote(t, safe="").encode("ascii")))
        ask("F " + h, hx(quote(t, safe=WIDE_SAFE).encode("ascii")))
        ask("D " + hx(quote(t, safe="").encode("ascii")), h)
        ask("D " + hx(quote(t, safe=WIDE_SAFE).encode("ascii")), h)

    for _ in range(600):
        data = random_bytes(rng)
        for base, encode in ENCODERS.items():
            text = encode(data)
            ask("B %d %s" % (base, hx(data)), hx(text.encode("ascii")))
            ask("T %d %s" % (base, hx(text.encode("ascii"))), hx(data))
            if text:
                # In the first half, before any padding; base 58 ends its
                # text at a character beyond ASCII, so it only meets ASCII ones.
                foreign = [c for c in FOREIGN if base != 58 or c < "\x80"]
                at = rng.randrange(len(text) // 2 + 1)
                bad = text[:at] + rng.choice(foreign) + text[at:]
                ask("T %d %s" % (base, hx(bad.encode("utf-8"))), "NONE")
    for t in texts[:300]:
        raw = t.encode("utf-8")
        for base, encode in ENCODERS.items():
            ask("S %d %s" % (base, hx(t.encode("utf-8"))), hx(encode(raw).encode("ascii")))

    digests = {"md5": hashlib.md5, "sha1": hashlib.sha1, "sha256": hashlib.sha256,
               "sha384": hashlib.sha384, "sha512": hashlib.sha512}
    for _ in range(300):
        data = random_bytes(rng, 500)
        for name, fn in digests.items():
            ask("C %s %s" % (name, hx(data)), hx(fn(data).digest()))
            key = random_bytes(rng, 200)
            ask("K %s %s %s" % (name, hx(key) or "-", hx(data)), hx(hmac.new(key, data, fn).digest()))
        crc = zlib.crc32(data)
        ask("C crc32 " + hx(data), "I%d" % (crc - (1 << 32) if crc >= 1 << 31 else crc))
        adler = zlib.adler32(data)
        ask("C adler32 " + hx(data), "I%d" % (adler - (1 << 32) if adler >= 1 << 31 else adler))

    samples = [b"", b"a", b"abc" * 1000] + [random_bytes(rng, 3000) for _ in range(100)]
    samples += [bytes(rng.choice(b"ab \n") for _ in range(rng.randint(0, 5000))) for _ in range(50)]
    compress_requests = []
    for data in samples:
        for method in ("zlib", "deflate", "gzip"):
            compress_requests.append((method, data))
            level = rng.randint(0, 9)
            if method == "zlib":
                packed = zlib.compress(data, level)
            else:
                c = zlib.compressobj(level, zlib.DEFLATED, -15 if method == "deflate" else 31)
                packed = c.compress(data) + c.flush()
            ask("U %s %s" % (method, hx(packed)), hx(data))
    ask("U zlib 00", "ERR script invalid-data")
    ask("U gzip 1F8B", "ERR script invalid-data")
    ask("Z lzma 00", "ERR script invalid-arg")

    lines = requests + ["Z %s %s" % (m, hx(d)) for m, d in compress_requests]
    tool = build + "/zir-tool-natives_codec"
    run = subprocess.run([tool], input=("\n".join(lines) + "\n").encode("ascii"), capture_output=True, check=True)
    answers = run.stdout.decode("ascii").split("\n")
    failures = 0
    for request, want, got in zip(requests, expected, answers):
        if want != got:
            failures += 1
            if failures <= 10:
                print("request %s\n  expected %s\n  got      %s" % (request[:200], want[:200], got[:200]))
    for (method, data), got in zip(compress_requests, answers[len(requests):]):
        if got.startswith("ERR"):
            failures += 1
            print("compress %s of %d bytes: %s" % (method, len(data), got))
            continue
        packed = bytes.fromhex(got)
        wbits = {"zlib": 15, "deflate": -15, "gzip": 31}[method]
        if zlib.decompress(packed, wbits) != data:
            failures += 1
            print("compress %s of %d bytes does not decompress back" % (method, len(data)))
    if len(answers) < len(lines):
        print("the tool answered %d of %d requests" % (len(answers), len(lines)))
        failures += 1
    print("%d requests, %d failures" % (len(lines), failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
