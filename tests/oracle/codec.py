#!/usr/bin/env python3
"""Compression, checksums and digests against Python's zlib, gzip, hashlib and
hmac, and the internet checksum against a model of RFC 1071.

    codec.py BUILD_DIR

Compression both ways: what we encode must inflate with zlib, and what zlib
(every level, several strategies and window sizes) or the gzip module encodes
must decode with ours to the same bytes. Damaged data must be refused.
"""
import gzip
import hashlib
import hmac
import io
import os
import random
import subprocess
import sys
import zlib


class Tool:
    """Batches requests to zir-tool-codec: one process for every request."""

    def __init__(self, build):
        self.path = os.path.join(build, "zir-tool-codec")
        self.requests = []

    def ask(self, op, data, *args):
        self.requests.append((" ".join([op, *map(str, args)]), bytes(data)))
        return len(self.requests) - 1

    def run(self):
        stream = io.BytesIO()
        for line, data in self.requests:
            stream.write(line.encode() + b"\n" + str(len(data)).encode() + b"\n" + data)
        out = subprocess.run([self.path], input=stream.getvalue(), capture_output=True, check=True).stdout
        answers = []
        pos = 0
        while pos < len(out):
            end = out.index(b"\n", pos)
            word, value = out[pos:end].decode().split(" ", 1)
            pos = end + 1
            if word == "ok":
                n = int(value)
                answers.append(out[pos:pos + n])
                pos += n
            else:
                answers.append(("error", value))
        if len(answers) != len(self.requests):
            raise SystemExit(f"codec tool answered {len(answers)} of {len(self.requests)} requests")
        self.requests = []
        return answers


failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def samples():
    rng = random.Random(1071)
    words = [b"deflate", b"zlib", b"gzip", b"block", b"value", b"series", b"the", b"of", b"\n", b"  "]
    text = b" ".join(rng.choice(words) for _ in range(40000))
    return {
        "empty": b"",
        "one byte": b"x",
        "two bytes": b"xy",
        "three equal": b"aaa",
        "64 KiB + 1 of text": (text * 2)[:65537],
        "incompressible 100 KiB": rng.randbytes(100 * 1024),
        "incompressible 1000": rng.randbytes(1000),
        "repetitive 1 MiB": b"a" * (1 << 20),
        "repetitive pattern": b"abcabcabd" * 30000,
        "starts like gzip": b"\x1f\x8b\x08" + rng.randbytes(500),
        "mixed text": text,
        "all bytes": bytes(range(256)) * 300,
        "long distances": rng.randbytes(40000) + rng.randbytes(1000) * 3,
    }


LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115,
               131, 163, 195, 227, 258]
LENGTH_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537,
             2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577]
DIST_EXTRA = [0, 0, 0, 0] + [k for k in range(1, 14) for _ in (0, 1)]


def model_deflate(data):
    """The encoder as the system defines it, written from its rules: one
    final block of fixed codes; greedy matches found through 1,024 buckets of
    four positions, the first fitting candidate taken; a position stored at
    the slot chosen by the two bytes after the next position."""
    n = len(data)
    at = lambda i: data[i] if i < n else 0
    table = [[0] * 4 for _ in range(1024)]
    out = bytearray()
    acc = [0, 0]  # bits, count

    def put(value, count):  # least significant bit first
        acc[0] |= value << acc[1]
        acc[1] += count
        while acc[1] >= 8:
            out.append(acc[0] & 0xFF)
            acc[0] >>= 8
            acc[1] -= 8

    def put_huffman(code, length):  # most significant bit first
        for i in range(length - 1, -1, -1):
            put((code >> i) & 1, 1)

    def put_symbol(sym):
        if sym < 144:
            put_huffman(0x30 + sym, 8)
        elif sym < 256:
            put_huffman(0x190 + sym - 144, 9)
        elif sym < 280:
            put_huffman(sym - 256, 7)
        else:
            put_huffman(0xC0 + sym - 280, 8)

    put(1, 1)  # final
    put(1, 2)  # fixed codes
    p = 0
    while p < n:
        x = at(p) << 16 | at(p + 1) << 8 | at(p + 2)
        x ^= x >> 16
        x = (x * 0x7FEB352D) & 0xFFFFFFFF
        x ^= x >> 15
        x = (x * 0x846CA68B) & 0xFFFFFFFF
        x ^= x >> 16
        bucket = table[x & 0x3FF]
        start, length = p, 0
        if p >= 3 and n - p >= 3:
            for q in bucket:
                if q != 0 and q < p and p < q + 32768 and data[q:q + 3] == data[p:p + 3]:
                    length = 3
                    while length < 258 and p + length < n and data[q + length] == data[p + length]:
                        length += 1
                    distance = p - q
                    break
        if length:
            i = max(k for k in range(29) if LENGTH_BASE[k] <= length)
            put_symbol(257 + i)
            put(length - LENGTH_BASE[i], LENGTH_EXTRA[i])
            j = max(k for k in range(30) if DIST_BASE[k] <= distance)
            put_huffman(j, 5)
            put(distance - DIST_BASE[j], DIST_EXTRA[j])
            p += length
        else:
            put_symbol(data[p])
            p += 1
        bucket[((at(p + 1) >> 6) - at(p + 2)) & 3] = start
    put_symbol(256)
    if acc[1]:
        put(0, 8 - acc[1])
    return bytes(out)


def raw_deflate(data, level, strategy=zlib.Z_DEFAULT_STRATEGY, wbits=15, memlevel=8):
    c = zlib.compressobj(level, zlib.DEFLATED, -wbits, memlevel, strategy)
    return c.compress(data) + c.flush()


def zlib_stream(data, level, strategy=zlib.Z_DEFAULT_STRATEGY, wbits=15, memlevel=8):
    c = zlib.compressobj(level, zlib.DEFLATED, wbits, memlevel, strategy)
    return c.compress(data) + c.flush()


def skewed():
    """Symbol frequencies in a Fibonacci progression: Huffman codes longer than
    15 bits would be optimal, so zlib's 15-bit limit is reached."""
    out = bytearray()
    a, b = 1, 1
    for sym in range(26):
        out += bytes([65 + sym]) * a
        a, b = b, a + b
    random.Random(7).shuffle(out)
    return bytes(out[:400000])


def compression(tool):
    data = samples()
    # Ours to zlib.
    asked = {}
    for name, d in data.items():
        for method in ("zlib", "deflate", "gzip"):
            asked[name, method] = tool.ask("encode", d, method)
    answers = tool.run()
    models = {}
    for (name, method), i in asked.items():
        ours = answers[i]
        if isinstance(ours, tuple):
            check(False, f"encode {method} of {name}: {ours}")
            continue
        try:
            if method == "zlib":
                back = zlib.decompress(ours)
                check(ours[:2] == b"\x78\x01", f"zlib header of {name}")
            elif method == "deflate":
                d = zlib.decompressobj(-15)
                back = d.decompress(ours) + d.flush()
                check(d.eof and not d.unused_data, f"deflate of {name} ends exactly with its final block")
            else:
                back = gzip.decompress(ours)
                check(ours[:10] == b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x04\x04", f"gzip header of {name}")
        except Exception as e:
            check(False, f"zlib refuses our {method} of {name}: {e}")
            continue
        check(back == data[name], f"zlib inflates our {method} of {name} to other bytes")
        # The very bytes the encoder's rules give.
        if name not in models:
            models[name] = model_deflate(data[name])
        model = models[name]
        if method == "zlib":
            model = b"\x78\x01" + model + zlib.adler32(data[name]).to_bytes(4, "big")
        elif method == "gzip":
            model = (b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x04\x04" + model +
                     zlib.crc32(data[name]).to_bytes(4, "little") + len(data[name]).to_bytes(4, "little"))
        check(ours == model, f"our {method} of {name} differs from the encoder's rules")
        # The encoder's bound: nine bits per byte and the frame.
        frame = {"zlib": 6, "deflate": 0, "gzip": 18}[method]
        check(len(ours) <= (9 * len(data[name]) + 17) // 8 + frame, f"{method} of {name} exceeds its bound")

    # zlib to ours: every level, the strategies, small windows and memory.
    asked = {}
    for name, d in data.items():
        for level in range(10):
            asked[name, "zlib", level] = (tool.ask("decode", zlib_stream(d, level), "zlib"), d)
            asked[name, "deflate", level] = (tool.ask("decode", raw_deflate(d, level), "deflate"), d)
        for strategy in (zlib.Z_FILTERED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE, zlib.Z_FIXED):
            asked[name, "strategy", strategy] = (tool.ask("decode", raw_deflate(d, 6, strategy), "deflate"), d)
        asked[name, "small window"] = (tool.ask("decode", zlib_stream(d, 9, wbits=9, memlevel=1), "zlib"), d)
        asked[name, "gzip"] = (tool.ask("decode", gzip.compress(d, 6, mtime=0), "gzip"), d)
    sk = skewed()
    asked["skewed", "huffman only"] = (tool.ask("decode", raw_deflate(sk, 9, zlib.Z_HUFFMAN_ONLY), "deflate"), sk)
    asked["skewed", "zlib 9"] = (tool.ask("decode", zlib_stream(sk, 9), "zlib"), sk)
    # gzip with a file name, a comment-free header and a modification time.
    buf = io.BytesIO()
    with gzip.GzipFile(filename="named.txt", mode="wb", fileobj=buf, mtime=1234567890) as f:
        f.write(data["mixed text"])
    asked["gzip with name"] = (tool.ask("decode", buf.getvalue(), "gzip"), data["mixed text"])
    # Two streams of the same data flushed in pieces: several blocks, stored
    # ones among them (level 0 and full flushes).
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    pieces = c.compress(data["mixed text"][:30000]) + c.flush(zlib.Z_FULL_FLUSH)
    c2 = c.copy()
    pieces += c.compress(data["incompressible 1000"]) + c.flush(zlib.Z_SYNC_FLUSH)
    pieces += c.compress(data["mixed text"][30000:60000]) + c.flush()
    del c2
    asked["flushed pieces"] = (tool.ask("decode", pieces, "deflate"),
                               data["mixed text"][:30000] + data["incompressible 1000"] + data["mixed text"][30000:60000])
    # The buffer decoder with exactly the room needed, and with too little:
    # answer 1 and the whole size.
    d = data["64 KiB + 1 of text"]
    z = zlib_stream(d, 6)
    exact = tool.ask("unpack", z, "zlib", len(d))
    short = tool.ask("unpack", z, "zlib", 1000)
    g = gzip.compress(d, mtime=0)
    gshort = tool.ask("unpack", g, "gzip", 1000)

    answers = tool.run()
    for key, (i, expected) in asked.items():
        check(answers[i] == expected, f"zlib output {key} decodes to other bytes: {str(answers[i])[:80]}")
    check(answers[exact] == f"0 {len(d)}\n".encode() + d, "zlib_decode with the exact room")
    check(answers[short] == f"1 {len(d)}\n".encode(), f"zlib_decode with little room: {answers[short][:20]}")
    check(answers[gshort] == f"1 {len(d)}\n".encode(), f"gunzip with little room: {answers[gshort][:20]}")

    # Damaged data is refused: every truncation of a zlib, raw and gzip stream,
    # and every single-bit flip of a small zlib stream (Adler-32 catches what
    # the decoder cannot).
    d = data["mixed text"][:3000]
    asked = []
    for method, stream in (("zlib", zlib_stream(d, 6)), ("deflate", raw_deflate(d, 6)),
                           ("gzip", gzip.compress(d, mtime=0))):
        for cut in range(len(stream)):
            asked.append((tool.ask("decode", stream[:cut], method), f"{method} cut to {cut} bytes"))
        asked.append((tool.ask("decode", stream + b"\0", method), f"{method} with a byte after it"))
    flips = []
    stream = zlib_stream(d[:300], 6)
    for bit in range(len(stream) * 8):
        flipped = bytearray(stream)
        flipped[bit // 8] ^= 1 << (bit % 8)
        flips.append((tool.ask("decode", flipped, "zlib"), f"zlib with bit {bit} flipped"))
    answers = tool.run()
    for i, what in asked:
        check(answers[i] == ("error", "invalid-data"), f"{what}: {str(answers[i])[:60]}")
    # A flipped padding bit after the final block changes nothing; any other
    # flip must be refused, never answered with other bytes.
    refused = 0
    for i, what in flips:
        refused += answers[i] == ("error", "invalid-data")
        check(answers[i] in (("error", "invalid-data"), d[:300]), f"{what}: {str(answers[i])[:60]}")
    check(refused >= len(flips) - 7, f"only {refused} of {len(flips)} bit flips refused")


def rfc1071(data):
    """The internet checksum as RFC 1071 defines it, with exact sums."""
    if len(data) % 2:
        data = data + b"\0"
    total = sum((data[i] << 8) | data[i + 1] for i in range(0, len(data), 2))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def checksums(tool):
    rng = random.Random(2104)
    inputs = [b"", b"a", b"abc", b"\x01\x02\x03", b"\xff" * 300000, rng.randbytes(1),
              rng.randbytes(15), rng.randbytes(16), rng.randbytes(17), rng.randbytes(5551),
              rng.randbytes(5552), rng.randbytes(5553), rng.randbytes(100000), b"\xff" * 1000003,
              "Zir \u00e9t\u00e9 \u4e2d".encode()]
    algorithms = {2: "md5", 3: "sha1", 4: "sha256", 5: "sha384", 6: "sha512"}
    keys = [b"", b"k", rng.randbytes(64), rng.randbytes(65), rng.randbytes(128), rng.randbytes(129),
            rng.randbytes(200)]
    asked = []
    for d in inputs:
        asked.append((tool.ask("crc32", d), f"{zlib.crc32(d):08x}".encode(), f"crc32 of {len(d)} bytes"))
        asked.append((tool.ask("adler32", d), f"{zlib.adler32(d):08x}".encode(), f"adler32 of {len(d)} bytes"))
        asked.append((tool.ask("tcp", d), f"{rfc1071(d):08x}".encode(), f"tcp of {len(d)} bytes"))
        for code, name in algorithms.items():
            asked.append((tool.ask("hash", d, code), hashlib.new(name, d).hexdigest().encode(),
                          f"{name} of {len(d)} bytes"))
    for d in inputs[:6] + [rng.randbytes(1000)]:
        for key in keys:
            for code, name in algorithms.items():
                asked.append((tool.ask("hmac", d, code, key.hex()),
                              hmac.new(key, d, name).hexdigest().encode(),
                              f"hmac-{name} of {len(d)} bytes, key of {len(key)}"))
    asked.append((tool.ask("hash", b"abc", 1), ("error", "invalid-arg"), "digest of code 1 (crc32)"))
    asked.append((tool.ask("hmac", b"abc", 0, "00"), ("error", "invalid-arg"), "hmac of code 0 (tcp)"))
    answers = tool.run()
    for i, expected, what in asked:
        check(answers[i] == expected, f"{what}: ours {answers[i]!r}, reference {expected!r}")


def main():
    tool = Tool(sys.argv[1])
    compression(tool)
    checksums(tool)
    for f in failures[:40]:
        print(f)
    if failures:
        print(f"{len(failures)} failures")
        sys.exit(1)
    print("codec: compression, checksums and digests agree with zlib, gzip, hashlib and hmac")


if __name__ == "__main__":
    main()
