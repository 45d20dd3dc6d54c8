#!/usr/bin/python3
"""Our image decoders and encoders against Pillow (Debian's python3-pil).

    image_codecs.py BUILD_DIR

Decoding: files of many kinds, made by Pillow or written here byte by byte
where Pillow cannot write the variant (PNG at every bit depth, interlaced PNG,
top-down BMP, RLE8 BMP), are read by zir-tool-imagecodec; every pixel must
equal Pillow's RGBA reading of the same file (JPEG within a small tolerance).
Pillow reads 16-bit grey as 32-bit integers and clips them when it makes
RGBA; for those files the reference is the high byte of each sample, which
is what Pillow keeps of every other 16-bit PNG.

Encoding: images decoded by the tool are encoded in each container; Pillow
must open the result with the same pixels (JPEG within a tolerance, GIF after
colour reduction: exact for images of few colours with on/off alpha, close
for a gradient).

Damage: every file cut in half, and a few with bytes overwritten inside their
headers, must answer a language error, never a crash.
"""
import io
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

from PIL import Image


# --- Pictures ------------------------------------------------------------------


def gradient(w, h, alpha=False):
    im = Image.new("RGBA", (w, h))
    for y in range(h):
        for x in range(w):
            a = 255 if not alpha else (x * 255 // max(1, w - 1) + y * 7) % 256
            im.putpixel((x, y), (x * 255 // max(1, w - 1), y * 255 // max(1, h - 1), (x * y) % 256, a))
    return im


def noise(r, w, h, colours=None):
    im = Image.new("RGBA", (w, h))
    for y in range(h):
        for x in range(w):
            if colours:
                im.putpixel((x, y), r.choice(colours))
            else:
                im.putpixel((x, y), (r.randrange(256), r.randrange(256), r.randrange(256), r.randrange(256)))
    return im


# --- PNG written by hand: every colour type and bit depth ---------------------


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def pack_row(samples, depth):
    """Samples of one row as bytes at a bit depth (1, 2, 4, 8 or 16)."""
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    out, acc, bits = bytearray(), 0, 0
    for s in samples:
        acc = (acc << depth) | s
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def write_png(w, h, colour_type, depth, pixel, palette=None, trns=None, interlace=False):
    """pixel(x, y) gives the samples of one pixel as a tuple."""
    raw = bytearray()
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    for x0, y0, dx, dy in passes:
        xs = list(range(x0, w, dx))
        if not xs:
            continue
        for y in range(y0, h, dy):
            samples = [s for x in xs for s in pixel(x, y)]
            raw += b"\x00" + pack_row(samples, depth)
    out = b"\x89PNG\r\n\x1a\n"
    out += png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, colour_type, 0, 0, 1 if interlace else 0))
    if palette is not None:
        out += png_chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if trns is not None:
        out += png_chunk(b"tRNS", trns)
    out += png_chunk(b"IDAT", zlib.compress(bytes(raw)))
    out += png_chunk(b"IEND", b"")
    return out


def hand_pngs(r):
    files = {}
    w, h = 13, 9
    for depth in (1, 2, 4, 8, 16):
        top = (1 << depth) - 1
        files["png-grey-%d" % depth] = write_png(w, h, 0, depth, lambda x, y, t=top: ((x * 7 + y * 3) % (t + 1),))
        pal = [(r.randrange(256), r.randrange(256), r.randrange(256)) for _ in range(1 << min(depth, 8))]
        if depth <= 8:
            trns = bytes(r.randrange(256) for _ in range(len(pal) // 2 + 1))
            files["png-palette-%d-trns" % depth] = write_png(
                w, h, 3, depth, lambda x, y, t=top: ((x + 2 * y) % (t + 1),), palette=pal, trns=trns)
    for depth in (8, 16):
        top = (1 << depth) - 1
        files["png-rgb-%d" % depth] = write_png(
            w, h, 2, depth, lambda x, y, t=top: (x * t // w, y * t // h, (x * y * 977) % (t + 1)))
        files["png-rgba-%d" % depth] = write_png(
            w, h, 6, depth, lambda x, y, t=top: (x * t // w, y * t // h, (x * 31) % (t + 1), (y * 41 + x) % (t + 1)))
        files["png-grey-alpha-%d" % depth] = write_png(
            w, h, 4, depth, lambda x, y, t=top: ((x * 977) % (t + 1), (y * 1999 + x) % (t + 1)))
    files["png-rgb-trns"] = write_png(w, h, 2, 8, lambda x, y: (x % 3 * 100, y % 2 * 200, 7),
                                      trns=struct.pack(">HHH", 100, 200, 7))
    files["png-grey-trns"] = write_png(w, h, 0, 8, lambda x, y: ((x * 20) % 256,), trns=struct.pack(">H", 40))
    files["png-rgba-interlaced"] = write_png(
        w, h, 6, 8, lambda x, y: (x * 19 % 256, y * 27 % 256, (x ^ y) * 9 % 256, (x + y) * 13 % 256), interlace=True)
    files["png-palette-4-interlaced"] = write_png(
        w, h, 3, 4, lambda x, y: ((x * 3 + y) % 16,), palette=[(i * 16, 255 - i * 16, i * 5) for i in range(16)],
        interlace=True)
    files["png-grey-1-interlaced"] = write_png(w, h, 0, 1, lambda x, y: ((x + y) % 2,), interlace=True)
    return files


# --- BMP variants --------------------------------------------------------------


def top_down(bmp):
    """A bottom-up BMP made top-down: the height negated, the rows reversed."""
    offset = struct.unpack("<I", bmp[10:14])[0]
    w, h = struct.unpack("<ii", bmp[18:26])
    bits = struct.unpack("<H", bmp[28:30])[0]
    stride = (w * bits + 31) // 32 * 4
    rows = [bmp[offset + i * stride: offset + (i + 1) * stride] for i in range(h)]
    head = bytearray(bmp[:offset])
    head[22:26] = struct.pack("<i", -h)
    return bytes(head) + b"".join(reversed(rows))


def rle8_bmp(w, h, index):
    """An 8-bit RLE BMP: runs where neighbours repeat, literal runs elsewhere."""
    palette = b"".join(bytes((i * 3 % 256, i * 5 % 256, i * 7 % 256, 0)) for i in range(256))
    data = bytearray()
    for y in range(h - 1, -1, -1):  # stored bottom-up
        row = [index(x, y) for x in range(w)]
        x = 0
        while x < w:
            n = 1
            while x + n < w and row[x + n] == row[x] and n < 255:
                n += 1
            if n >= 2:
                data += bytes((n, row[x]))
                x += n
            else:
                lit = row[x:x + 3] if x + 3 <= w else row[x:x + 1]
                if len(lit) >= 3:
                    data += bytes((0, len(lit))) + bytes(lit) + (b"\x00" if len(lit) % 2 else b"")
                else:
                    data += bytes((1, lit[0]))
                x += len(lit)
        data += b"\x00\x00"
    data += b"\x00\x01"
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 1, len(data), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + palette + bytes(data)


# --- Building the files --------------------------------------------------------


def saved(im, fmt, **options):
    buf = io.BytesIO()
    im.save(buf, fmt, **options)
    return buf.getvalue()


def pillow_files(r):
    files = {}
    g = gradient(37, 23)
    ga = gradient(37, 23, alpha=True)
    few = noise(r, 21, 17, [(255, 0, 0, 255), (0, 128, 255, 255), (10, 20, 30, 255), (250, 250, 250, 255)])
    files["png-pillow-rgba"] = saved(ga, "PNG")
    files["png-pillow-rgb"] = saved(g.convert("RGB"), "PNG")
    files["png-pillow-la"] = saved(ga.convert("LA"), "PNG")
    files["png-pillow-p-transparency"] = saved(few.convert("RGB").convert("P"), "PNG", transparency=1)
    files["jpeg-baseline"] = saved(g.convert("RGB"), "JPEG", quality=90)
    files["jpeg-progressive"] = saved(g.convert("RGB"), "JPEG", quality=85, progressive=True)
    files["jpeg-grey"] = saved(g.convert("L"), "JPEG", quality=90)
    files["jpeg-444"] = saved(g.convert("RGB"), "JPEG", quality=95, subsampling=0)
    files["bmp-1"] = saved(g.convert("1"), "BMP")
    files["bmp-8"] = saved(g.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=200), "BMP")
    files["bmp-8-grey"] = saved(g.convert("L"), "BMP")
    files["bmp-24"] = saved(g.convert("RGB"), "BMP")
    files["bmp-32"] = saved(ga, "BMP")
    for name in ("bmp-1", "bmp-8", "bmp-24", "bmp-32"):
        files[name + "-top-down"] = top_down(files[name])
    files["bmp-rle8"] = rle8_bmp(29, 11, lambda x, y: (x // 4 + y * 3) % 256 if y % 3 else x % 7)
    p = few.convert("RGB").convert("P")
    files["gif-transparent"] = saved(p, "GIF", transparency=2, interlace=False)
    tall = noise(r, 19, 40, [(1, 2, 3, 255), (200, 10, 10, 255), (0, 255, 0, 255)]).convert("RGB").convert("P")
    files["gif-interlaced-transparent"] = saved(tall, "GIF", transparency=0, interlace=True)
    files["gif-plain"] = saved(g.convert("RGB").convert("P", palette=Image.ADAPTIVE), "GIF", interlace=False)
    files["tiff-rgb"] = saved(g.convert("RGB"), "TIFF")
    files["tiff-rgba"] = saved(ga, "TIFF")
    files["tiff-rgb-lzw"] = saved(g.convert("RGB"), "TIFF", compression="tiff_lzw")
    files["tiff-rgba-lzw"] = saved(ga, "TIFF", compression="tiff_lzw")
    files["tiff-grey"] = saved(g.convert("L"), "TIFF", compression="tiff_lzw")
    files["tiff-palette"] = saved(few.convert("RGB").convert("P"), "TIFF")
    files["tiff-rgb-deflate"] = saved(g.convert("RGB"), "TIFF", compression="tiff_adobe_deflate")
    files["tiff-rgb-packbits"] = saved(g.convert("RGB"), "TIFF", compression="packbits")
    return files


def reference(path):
    """Pillow's reading: (width, height, RGBA bytes)."""
    im = Image.open(path)
    im.load()
    if im.mode in ("I", "I;16", "I;16B"):
        grey = [v >> 8 for v in im.getdata()]
        data = b"".join(bytes((v, v, v, 255)) for v in grey)
        return im.size[0], im.size[1], data
    if im.mode == "P" and "transparency" in im.info:
        im = im.convert("RGBA")
    return im.size[0], im.size[1], im.convert("RGBA").tobytes()


def parse(answer):
    if not answer or answer.startswith("error") or " " not in answer:
        return None
    size, hexdata = answer.split(" ", 1)
    w, h = (int(v) for v in size.split("x"))
    return w, h, bytes.fromhex(hexdata)


def compare(ours, ref, tolerance, alpha_only_when_transparent=False):
    """None when the pixels agree, else a description of the first difference."""
    if ours is None:
        return "no image"
    if ours[:2] != ref[:2]:
        return "size %dx%d, expected %dx%d" % (ours[0], ours[1], ref[0], ref[1])
    a, b = ours[2], ref[2]
    for i in range(0, len(b), 4):
        if alpha_only_when_transparent and b[i + 3] == 0:
            if a[i + 3] != 0:
                return "pixel %d: alpha %d, expected 0" % (i // 4, a[i + 3])
            continue
        for k in range(4):
            if abs(a[i + k] - b[i + k]) > tolerance:
                return "pixel %d: %s, expected %s" % (i // 4, a[i:i + 4].hex(), b[i:i + 4].hex())
    return None


def mean_error(ours, ref):
    a, b = ours[2], ref[2]
    return sum(abs(a[i] - b[i]) for i in range(len(b)) if i % 4 != 3) / (len(b) * 3 / 4)


def gif_problem(src, picture, theirs, ours):
    """What is wrong with our GIF of a picture, as Pillow reads it, or None.

    GIF has one transparent colour and 256 colours in all: a pixel below
    half opacity must come back transparent and every other one opaque; a
    picture of few colours keeps them exactly; a picture of many is reduced
    about as well as Pillow's own median cut does it.
    """
    if theirs[:2] != ours[:2]:
        return "size"
    a, b = theirs[2], ours[2]
    for i in range(0, len(b), 4):
        if (b[i + 3] < 128) != (a[i + 3] == 0) or a[i + 3] not in (0, 255):
            return "pixel %d: alpha %d for %d" % (i // 4, a[i + 3], b[i + 3])
    if src == "alpha-few":
        return compare(theirs, ours, 0, alpha_only_when_transparent=True)
    shown = [i for i in range(0, len(b), 4) if b[i + 3] >= 128]
    err = sum(abs(a[i + k] - b[i + k]) for i in shown for k in range(3)) / max(1, 3 * len(shown))
    quantized = picture.convert("RGB").quantize(256, method=Image.Quantize.MEDIANCUT).convert("RGB").tobytes()
    limit = sum(abs(quantized[i // 4 * 3 + k] - b[i + k]) for i in shown for k in range(3)) / max(1, 3 * len(shown))
    if err > limit * 1.15 + 0.5:
        return "mean colour error %.2f, Pillow's median cut %.2f" % (err, limit)
    return None


def main():
    tool = os.path.join(sys.argv[1], "zir-tool-imagecodec")
    r = random.Random(151)
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        files = hand_pngs(r)
        files.update(pillow_files(r))
        paths = {}
        for name, data in files.items():
            paths[name] = os.path.join(tmp, name)
            with open(paths[name], "wb") as f:
                f.write(data)

        # Encoding sources: written as PNG, read back by the tool first.
        sources = {
            "alpha-few": noise(r, 23, 19, [(255, 0, 0, 255), (0, 0, 255, 0), (9, 99, 199, 255), (1, 1, 1, 0)]),
            "translucent": gradient(31, 17, alpha=True),
            "opaque": gradient(40, 30),
            "many-colours": noise(r, 64, 48),
        }
        for name, im in sources.items():
            paths["src-" + name] = os.path.join(tmp, "src-" + name + ".png")
            im.save(paths["src-" + name])

        damaged = {}
        for name, data in files.items():
            damaged[name + "-cut"] = data[: len(data) // 2]
        for name in ("bmp-24", "gif-plain", "tiff-rgb", "png-pillow-rgb", "jpeg-baseline"):
            data = bytearray(files[name])
            # Sizes in the headers made huge: the decoders must refuse them.
            if name.startswith("bmp"):
                data[18:26] = struct.pack("<ii", 70000, 70000)
            elif name.startswith("gif"):
                data[6:10] = struct.pack("<HH", 65535, 65535)
            elif name.startswith("png"):
                data[16:24] = struct.pack(">II", 70000, 3)
            elif name.startswith("jpeg"):
                sof = data.index(b"\xff\xc0")
                data[sof + 5:sof + 9] = struct.pack(">HH", 65535, 65535)
            else:
                ifd = struct.unpack("<I", data[4:8])[0]
                for k in range(struct.unpack("<H", data[ifd:ifd + 2])[0]):
                    entry = ifd + 2 + 12 * k
                    if struct.unpack("<H", data[entry:entry + 2])[0] == 256:  # the image width
                        data[entry + 2:entry + 12] = struct.pack("<HII", 4, 1, 70000)
            damaged[name + "-huge"] = bytes(data)
        for name, data in damaged.items():
            paths[name] = os.path.join(tmp, name)
            with open(paths[name], "wb") as f:
                f.write(data)

        requests, checks = [], []
        for name in files:
            requests.append("decode " + paths[name])
            checks.append(("decode", name))
        for name in damaged:
            requests.append("decode " + paths[name])
            checks.append(("damaged", name))
        for src in sources:
            for fmt in ("bmp", "png", "gif", "jpeg", "tiff"):
                out = os.path.join(tmp, "out-%s.%s" % (src, fmt))
                requests.append("encode %s %s %s" % (fmt, paths["src-" + src], out))
                checks.append(("encode", (src, fmt, out)))

        run = subprocess.run([tool], input="\n".join(requests) + "\n", capture_output=True, text=True, timeout=600)
        if run.returncode != 0:
            print("tool failed:", run.returncode, run.stderr[-2000:])
            sys.exit(1)
        answers = run.stdout.split("\n")
        decoded = 0
        for (kind, what), answer in zip(checks, answers):
            if kind == "decode":
                tolerance = 3 if what.startswith("jpeg") else 0
                problem = compare(parse(answer), reference(paths[what]), tolerance)
                if problem:
                    failures.append("decode %s: %s (%s)" % (what, problem, answer[:60]))
                decoded += 1
            elif kind == "damaged":
                if answer != "error access bad-media":
                    failures.append("damaged %s: answered %s" % (what, answer[:60]))
            else:
                src, fmt, out = what
                if answer != "ok":
                    failures.append("encode %s as %s: %s" % (src, fmt, answer))
                    continue
                ours = reference(paths["src-" + src])
                theirs = reference(out)
                if fmt == "jpeg":
                    # No alpha in the format: the colours of an opaque
                    # picture, as close to it as Pillow's own file of the
                    # same quality comes.
                    if src == "opaque":
                        own = os.path.join(tmp, "pillow-opaque.jpg")
                        sources[src].convert("RGB").save(own, quality=90)
                        err, limit = mean_error(theirs, ours), mean_error(reference(own), ours)
                        if theirs[:2] != ours[:2] or err > limit * 1.1 + 0.5:
                            failures.append("encode opaque as jpeg: mean error %.2f, Pillow's %.2f" % (err, limit))
                    continue
                if fmt == "gif":
                    problem = gif_problem(src, sources[src], theirs, ours)
                    if problem:
                        failures.append("encode %s as gif: %s" % (src, problem))
                    continue
                problem = compare(theirs, ours, 0)
                if problem:
                    failures.append("encode %s as %s: %s" % (src, fmt, problem))
    for f in failures:
        print(f)
    print("%d passed, %d failed" % (len(checks) - len(failures), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
