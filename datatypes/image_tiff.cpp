// TIFF through libtiff, on memory: the first directory read. 8-bit grey,
// grey with alpha, RGB, RGBA and palette images in stripped contiguous
// layout, the usual kinds, are read row by row as stored, so unassociated
// alpha keeps its exact colours; every other kind (tiles, other depths,
// separate planes, YCbCr, CMYK, other orientations) goes through libtiff's
// RGBA reader, which premultiplies the colours of RGB with alpha: they are
// divided again. Written as 8-bit RGB, or RGB with unassociated alpha when
// some pixel is not opaque, LZW-compressed, in strips.
//
// libtiff reports errors through handlers and return codes; the handlers
// here only silence its messages.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "datatypes/image_codec.hpp"

namespace zir {
namespace image_codec {

namespace {

// --- Memory as a file ---------------------------------------------------------------

struct TiffFile {
    const u8* data;   // reading
    Output* out;      // writing
    u64 size;
    u64 at;
};

tmsize_t tiff_read(thandle_t h, void* buf, tmsize_t n) {
    TiffFile* f = static_cast<TiffFile*>(h);
    if (n <= 0 || !f->data || f->at >= f->size) return 0;
    u64 k = std::min<u64>(u64(n), f->size - f->at);
    std::memcpy(buf, f->data + f->at, size_t(k));
    f->at += k;
    return tmsize_t(k);
}

tmsize_t tiff_write(thandle_t h, void* buf, tmsize_t n) {
    TiffFile* f = static_cast<TiffFile*>(h);
    if (n <= 0 || !f->out) return 0;
    Output* out = f->out;
    u64 end = f->at + u64(n);
    if (end > u64(MAX_LENGTH)) return 0;
    if (f->at == out->size) {   // the usual case: appending
        if (!output_write(out, buf, size_t(n))) return 0;
        f->at = end;
        return n;
    }
    // After a seek past the end (the gap reads as zeros) or over earlier
    // bytes: room first, then the bytes.
    if (end > out->size) {
        size_t grow = size_t(end - out->size);
        u8* zeros = static_cast<u8*>(std::calloc(grow, 1));
        bool ok = zeros && output_write(out, zeros, grow);
        std::free(zeros);
        if (!ok) return 0;
    }
    std::memcpy(out->data + f->at, buf, size_t(n));
    f->at = end;
    return n;
}

toff_t tiff_seek(thandle_t h, toff_t off, int whence) {
    TiffFile* f = static_cast<TiffFile*>(h);
    u64 base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? (f->out ? f->out->size : f->size) : 0;
    u64 to = base + off;
    if (to > u64(MAX_LENGTH) * 2) return toff_t(-1);
    f->at = to;
    return to;
}

int tiff_close(thandle_t) { return 0; }

toff_t tiff_size(thandle_t h) {
    TiffFile* f = static_cast<TiffFile*>(h);
    return f->out ? f->out->size : f->size;
}

int tiff_map(thandle_t h, void** base, toff_t* size) {
    TiffFile* f = static_cast<TiffFile*>(h);
    if (!f->data) return 0;
    *base = const_cast<u8*>(f->data);
    *size = f->size;
    return 1;
}

void tiff_unmap(thandle_t, void*, toff_t) {}

int tiff_silent(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* open_tiff(TiffFile* f, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_silent, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_silent, nullptr);
    // No single block of libtiff's may outgrow what the largest decodable
    // image needs, with room for its tables.
    i64 limit = std::min<i64>(image_backend::decode_pixel_limit, MAX_LENGTH / 4) * 8 + (16 << 20);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(limit));
    TIFF* t = TIFFClientOpenExt("memory", mode, f, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size, tiff_map,
                                tiff_unmap, options);
    TIFFOpenOptionsFree(options);
    return t;
}

// --- Reading ---------------------------------------------------------------------------

inline u32 unpremultiply(u32 c, u32 a) { return a == 0 ? 0 : std::min<u32>(255, (c * 255 + a / 2) / a); }

struct Layout {
    u32 width, height;
    u16 bits, samples, photometric, planar, orientation;
    u16 extra_count;
    u16* extra;
    bool alpha, associated;
};

// The usual kinds, read row by row.
bool plain_q(TIFF* t, const Layout& l) {
    if (l.bits != 8 || l.planar != PLANARCONFIG_CONTIG || TIFFIsTiled(t) || l.orientation != ORIENTATION_TOPLEFT)
        return false;
    u16 colour;
    switch (l.photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_PALETTE: colour = 1; break;
        case PHOTOMETRIC_RGB: colour = 3; break;
        default: return false;
    }
    if (l.samples < colour || l.samples > colour + 1) return false;
    if (l.photometric == PHOTOMETRIC_PALETTE && l.samples != 1) return false;
    return TIFFScanlineSize64(t) == u64(l.width) * l.samples;
}

bool read_rows(TIFF* t, const Layout& l, Bitmap* b) {
    u16 *map_r = nullptr, *map_g = nullptr, *map_b = nullptr;
    if (l.photometric == PHOTOMETRIC_PALETTE && !TIFFGetField(t, TIFFTAG_COLORMAP, &map_r, &map_g, &map_b))
        return false;
    u8* row = static_cast<u8*>(std::malloc(size_t(l.width) * l.samples));
    if (!row) return false;
    bool alpha = l.samples == (l.photometric == PHOTOMETRIC_RGB ? 4 : 2) && l.alpha;
    bool ok = true;
    for (u32 y = 0; ok && y < l.height; y++) {
        if (TIFFReadScanline(t, row, y, 0) < 0) {
            ok = false;
            break;
        }
        u32* dst = b->pixels() + size_t(y) * l.width;
        for (u32 x = 0; x < l.width; x++) {
            const u8* s = row + size_t(x) * l.samples;
            u32 r, g, bl, a = 255;
            switch (l.photometric) {
                case PHOTOMETRIC_RGB:
                    r = s[0];
                    g = s[1];
                    bl = s[2];
                    if (alpha) a = s[3];
                    break;
                case PHOTOMETRIC_PALETTE:
                    // 16-bit colour map entries, taken by their high byte.
                    r = map_r[s[0]] >> 8;
                    g = map_g[s[0]] >> 8;
                    bl = map_b[s[0]] >> 8;
                    break;
                default:
                    r = g = bl = l.photometric == PHOTOMETRIC_MINISWHITE ? 255u - s[0] : s[0];
                    if (alpha) a = s[1];
                    break;
            }
            if (alpha && l.associated) {
                r = unpremultiply(r, a);
                g = unpremultiply(g, a);
                bl = unpremultiply(bl, a);
            }
            dst[x] = a << 24 | r << 16 | g << 8 | bl;
        }
    }
    std::free(row);
    return ok;
}

bool read_rgba(TIFF* t, const Layout& l, Bitmap* b) {
    // The reader's words hold R in the low byte: R, G, B, A in memory. It
    // stops at the first strip or tile it cannot read: a file cut short is
    // refused, not answered with rows left blank.
    u32* px = b->pixels();
    if (!TIFFReadRGBAImageOriented(t, l.width, l.height, px, ORIENTATION_TOPLEFT, 1)) return false;
    bool premultiplied = l.alpha && l.photometric != PHOTOMETRIC_MINISBLACK && l.photometric != PHOTOMETRIC_MINISWHITE;
    for (size_t i = 0, n = size_t(b->count()); i < n; i++) {
        u32 v = px[i];
        u32 r = TIFFGetR(v), g = TIFFGetG(v), bl = TIFFGetB(v), a = TIFFGetA(v);
        if (premultiplied) {
            r = unpremultiply(r, a);
            g = unpremultiply(g, a);
            bl = unpremultiply(bl, a);
        }
        px[i] = a << 24 | r << 16 | g << 8 | bl;
    }
    return true;
}

Bitmap* read_tiff(TIFF* t) {
    Layout l{};
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &l.width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &l.height))
        return nullptr;
    if (!decodable_size_q(l.width, l.height)) return nullptr;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &l.orientation);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &l.photometric)) l.photometric = 0xFFFF;
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &l.extra_count, &l.extra);
    if (l.extra_count > 0 && l.extra) {
        l.alpha = l.extra[0] == EXTRASAMPLE_ASSOCALPHA || l.extra[0] == EXTRASAMPLE_UNASSALPHA;
        l.associated = l.extra[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    Bitmap* b = image_backend::alloc_bitmap(l.width, l.height);
    if (!b) return nullptr;
    bool ok = plain_q(t, l) ? read_rows(t, l, b) : read_rgba(t, l, b);
    if (!ok) {
        image_backend::free_bitmap(b);
        return nullptr;
    }
    return b;
}

// --- Writing ---------------------------------------------------------------------------

bool write_tiff(TIFF* t, const Bitmap* b) {
    bool alpha = !opaque_q(b);
    u16 samples = alpha ? 4 : 3;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, u32(b->width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, u32(b->height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (alpha) {
        u16 extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    u8* row = static_cast<u8*>(std::malloc(size_t(b->width) * samples));
    if (!row) return false;
    bool ok = true;
    for (i32 y = 0; ok && y < b->height; y++) {
        const u32* src = b->pixels() + i64(y) * b->width;
        for (i32 x = 0; x < b->width; x++) {
            u8* d = row + size_t(x) * samples;
            d[0] = u8(src[x] >> 16);
            d[1] = u8(src[x] >> 8);
            d[2] = u8(src[x]);
            if (alpha) d[3] = u8(src[x] >> 24);
        }
        ok = TIFFWriteScanline(t, row, u32(y), 0) >= 0;
    }
    std::free(row);
    return ok;
}

}  // namespace

Bitmap* decode_tiff(const u8* data, size_t size) {
    TiffFile f{data, nullptr, size, 0};
    TIFF* t = open_tiff(&f, "r");
    if (!t) return nullptr;
    Bitmap* b = read_tiff(t);
    TIFFClose(t);
    return b;
}

bool encode_tiff(const Bitmap* bitmap, Output* out) {
    TiffFile f{nullptr, out, 0, 0};
    TIFF* t = open_tiff(&f, "w");
    if (!t) return false;
    // Flushing writes the directory.
    bool ok = write_tiff(t, bitmap) && TIFFFlush(t);
    TIFFClose(t);
    return ok && !out->failed;
}

}  // namespace image_codec
}  // namespace zir
