// BMP, by hand. Read: the OS/2 core header and the Windows headers of 40 to
// 124 bytes; 1, 2, 4 and 8 bits through a palette (RLE4 and RLE8 included),
// 16 and 32 bits through bit masks (5-5-5 and B, G, R, unused by default), 24
// bits; rows bottom-up, or top-down for a negative height. A 32-bit file has
// alpha only when its masks name an alpha channel: the fourth byte of a plain
// 32-bit file is padding to most writers. Written: 24 bits when every pixel
// is opaque, else 32 bits with a version-4 header whose masks name the alpha
// byte; rows bottom-up.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "datatypes/image_codec.hpp"

namespace zir {
namespace image_codec {

namespace {

enum Compression : u32 { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

constexpr size_t FILE_HEADER = 14;
constexpr u32 CORE_HEADER = 12;
constexpr u32 INFO_HEADER = 40;
constexpr u32 V4_HEADER = 108;
// LCS_sRGB, the colour space a version-4 header names.
constexpr u32 SRGB_SPACE = 0x73524742;

inline u32 le16(const u8* p) { return u32(p[0]) | u32(p[1]) << 8; }
inline u32 le32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }

// A channel read through a mask: shifted down and scaled to 0..255.
struct Channel {
    u32 mask = 0;
    u32 shift = 0;
    u32 max = 0;   // the mask shifted down
    void set(u32 m) {
        mask = m;
        shift = m ? u32(__builtin_ctz(m)) : 0;
        max = m >> shift;
    }
    u32 read(u32 v) const { return max ? u32((u64((v & mask) >> shift) * 255 + max / 2) / max) : 0; }
};

struct Header {
    i64 width, height;
    bool top_down;
    u32 bits, compression, colours_used;
    u32 header_size;
    Channel r, g, b, a;
    bool masks;
};

// Reads the info header (after the 14-byte file header); false when it is not
// one this reader knows or does not fit in the data.
bool read_header(const u8* data, size_t size, Header* h, size_t* after) {
    if (size < FILE_HEADER + 4) return false;
    const u8* p = data + FILE_HEADER;
    h->header_size = le32(p);
    if (h->header_size != CORE_HEADER && (h->header_size < INFO_HEADER || h->header_size > 124)) return false;
    if (size - FILE_HEADER < h->header_size) return false;
    i64 height;
    if (h->header_size == CORE_HEADER) {
        h->width = le16(p + 4);
        height = le16(p + 6);
        if (le16(p + 8) != 1) return false;   // planes
        h->bits = le16(p + 10);
        h->compression = BI_RGB;
        h->colours_used = 0;
    } else {
        h->width = i32(le32(p + 4));
        height = i32(le32(p + 8));
        if (le16(p + 12) != 1) return false;
        h->bits = le16(p + 14);
        h->compression = le32(p + 16);
        h->colours_used = le32(p + 32);
    }
    h->top_down = height < 0;
    h->height = height < 0 ? -height : height;
    *after = FILE_HEADER + h->header_size;
    h->masks = false;
    if (h->compression == BI_BITFIELDS || h->compression == BI_ALPHABITFIELDS) {
        if (h->bits != 16 && h->bits != 32) return false;
        // Masks in the header from 52 bytes on (56 with alpha); after a
        // 40-byte header they follow it. A larger header must hold every
        // mask the compression names.
        const u8* m = p + INFO_HEADER;
        size_t count = h->compression == BI_ALPHABITFIELDS ? 4 : 3;
        if (h->header_size == INFO_HEADER) {
            if (size < *after + 4 * count) return false;
            *after += 4 * count;
        } else if (h->header_size < INFO_HEADER + 4 * count) {
            return false;
        }
        h->r.set(le32(m));
        h->g.set(le32(m + 4));
        h->b.set(le32(m + 8));
        if (count == 4 || h->header_size >= INFO_HEADER + 16) h->a.set(le32(m + 12));
        h->masks = true;
    } else if (h->bits == 16) {
        h->r.set(0x7C00);
        h->g.set(0x03E0);
        h->b.set(0x001F);
    } else if (h->bits == 32) {
        h->r.set(0x00FF0000);
        h->g.set(0x0000FF00);
        h->b.set(0x000000FF);
    }
    return true;
}

bool supported_q(const Header& h) {
    switch (h.compression) {
        case BI_RGB: return h.bits == 1 || h.bits == 2 || h.bits == 4 || h.bits == 8 || h.bits == 16 || h.bits == 24 ||
                            h.bits == 32;
        case BI_RLE8: return h.bits == 8 && !h.top_down;
        case BI_RLE4: return h.bits == 4 && !h.top_down;
        case BI_BITFIELDS:
        case BI_ALPHABITFIELDS: return true;
        default: return false;
    }
}

// Expands run-length data into one palette index per pixel, rows bottom-up
// as stored; pixels a file skips keep index 0. False when the data runs out
// before the end-of-bitmap code.
bool expand_rle(const u8* p, const u8* end, u32 bits, i64 width, i64 height, u8* out) {
    i64 x = 0, y = 0;
    auto put = [&](u32 index) {
        if (x < width && y < height) out[y * width + x] = u8(index);
        x++;
    };
    while (p + 2 <= end) {
        u32 n = p[0], v = p[1];
        p += 2;
        if (n > 0) {   // a run of n pixels
            for (u32 i = 0; i < n; i++) put(bits == 8 ? v : (i % 2 == 0 ? v >> 4 : v & 15));
            continue;
        }
        if (v == 0) {   // end of line
            x = 0;
            y++;
        } else if (v == 1) {   // end of bitmap
            return true;
        } else if (v == 2) {   // delta
            if (p + 2 > end) return false;
            x += p[0];
            y += p[1];
            p += 2;
        } else {   // v literal pixels, padded to a 16-bit boundary
            size_t bytes = bits == 8 ? v : (v + 1) / 2;
            size_t padded = (bytes + 1) & ~size_t(1);
            if (size_t(end - p) < padded) return false;
            for (u32 i = 0; i < v; i++) put(bits == 8 ? p[i] : (i % 2 == 0 ? p[i / 2] >> 4 : p[i / 2] & 15));
            p += padded;
        }
        if (y > height) return true;   // the rest would be drawn outside
    }
    return false;
}

Bitmap* decode(const u8* data, size_t size) {
    Header h;
    size_t at = 0;
    if (!read_header(data, size, &h, &at) || !supported_q(h)) return nullptr;
    if (!decodable_size_q(h.width, h.height)) return nullptr;
    // The palette follows the header (and the masks of a 40-byte header).
    u32 palette[256];
    u32 entries = 0;
    if (h.bits <= 8) {
        u32 entry_size = h.header_size == CORE_HEADER ? 3 : 4;
        entries = h.colours_used && h.colours_used < (1u << h.bits) ? h.colours_used : 1u << h.bits;
        if (size < at || (size - at) / entry_size < entries) return nullptr;
        for (u32 i = 0; i < entries; i++) {
            const u8* e = data + at + i * entry_size;
            palette[i] = 0xFF000000u | u32(e[2]) << 16 | u32(e[1]) << 8 | e[0];
        }
        // Indexes past the palette read as black.
        for (u32 i = entries; i < 256; i++) palette[i] = 0xFF000000u;
    }
    u32 offset = le32(data + 10);
    if (offset >= size) return nullptr;
    const u8* pixels = data + offset;
    const u8* end = data + size;
    i64 w = h.width, rows = h.height;
    i64 stride = ((w * h.bits + 31) / 32) * 4;
    bool rle = h.compression == BI_RLE8 || h.compression == BI_RLE4;
    if (!rle && (end - pixels) / stride < rows) return nullptr;   // truncated
    Bitmap* b = image_backend::alloc_bitmap(w, rows);
    if (!b) return nullptr;
    u32* out = b->pixels();
    if (rle) {
        u8* indexes = static_cast<u8*>(std::calloc(size_t(w * rows), 1));
        if (!indexes || !expand_rle(pixels, end, h.bits, w, rows, indexes)) {
            std::free(indexes);
            image_backend::free_bitmap(b);
            return nullptr;
        }
        for (i64 y = 0; y < rows; y++)
            for (i64 x = 0; x < w; x++) out[(rows - 1 - y) * w + x] = palette[indexes[y * w + x]];
        std::free(indexes);
        return b;
    }
    bool alpha = h.a.mask != 0;
    for (i64 y = 0; y < rows; y++) {
        const u8* src = pixels + y * stride;
        u32* dst = out + (h.top_down ? y : rows - 1 - y) * w;
        switch (h.bits) {
            case 1:
            case 2:
            case 4:
            case 8: {
                u32 per_byte = 8 / h.bits, mask = (1u << h.bits) - 1;
                for (i64 x = 0; x < w; x++) {
                    u32 shift = 8 - h.bits * (u32(x % per_byte) + 1);
                    dst[x] = palette[(src[x / per_byte] >> shift) & mask];
                }
                break;
            }
            case 24:
                for (i64 x = 0; x < w; x++)
                    dst[x] = 0xFF000000u | u32(src[3 * x + 2]) << 16 | u32(src[3 * x + 1]) << 8 | src[3 * x];
                break;
            default: {   // 16 and 32 bits through the masks
                for (i64 x = 0; x < w; x++) {
                    u32 v = h.bits == 16 ? le16(src + 2 * x) : le32(src + 4 * x);
                    u32 a = alpha ? h.a.read(v) : 255;
                    dst[x] = a << 24 | h.r.read(v) << 16 | h.g.read(v) << 8 | h.b.read(v);
                }
                break;
            }
        }
    }
    return b;
}

void put16(u8* p, u32 v) {
    p[0] = u8(v);
    p[1] = u8(v >> 8);
}
void put32(u8* p, u32 v) {
    for (int i = 0; i < 4; i++) p[i] = u8(v >> (8 * i));
}

}  // namespace

Bitmap* decode_bmp(const u8* data, size_t size) { return decode(data, size); }

bool encode_bmp(const Bitmap* bitmap, Output* out) {
    bool alpha = !opaque_q(bitmap);
    u32 header = alpha ? V4_HEADER : INFO_HEADER;
    i64 w = bitmap->width, h = bitmap->height;
    i64 stride = alpha ? w * 4 : (w * 3 + 3) / 4 * 4;
    i64 offset = i64(FILE_HEADER) + header;
    i64 total = offset + stride * h;
    if (total > MAX_LENGTH) return false;
    u8 head[FILE_HEADER + V4_HEADER] = {};
    head[0] = 'B';
    head[1] = 'M';
    put32(head + 2, u32(total));
    put32(head + 10, u32(offset));
    u8* info = head + FILE_HEADER;
    put32(info, header);
    put32(info + 4, u32(w));
    put32(info + 8, u32(h));   // positive: rows bottom-up
    put16(info + 12, 1);
    put16(info + 14, alpha ? 32 : 24);
    put32(info + 16, alpha ? BI_BITFIELDS : BI_RGB);
    put32(info + 20, u32(stride * h));
    put32(info + 24, 2835);   // 72 dots an inch, as pixels a metre
    put32(info + 28, 2835);
    if (alpha) {
        put32(info + 40, 0x00FF0000);
        put32(info + 44, 0x0000FF00);
        put32(info + 48, 0x000000FF);
        put32(info + 52, 0xFF000000);
        put32(info + 56, SRGB_SPACE);
    }
    if (!output_write(out, head, size_t(offset))) return false;
    u8* row = static_cast<u8*>(std::calloc(size_t(stride), 1));
    if (!row) return false;
    bool ok = true;
    for (i64 y = h - 1; y >= 0 && ok; y--) {
        const u32* src = bitmap->pixels() + y * w;
        if (alpha) {
            std::memcpy(row, src, size_t(w) * 4);
        } else {
            for (i64 x = 0; x < w; x++) {
                row[3 * x] = u8(src[x]);
                row[3 * x + 1] = u8(src[x] >> 8);
                row[3 * x + 2] = u8(src[x] >> 16);
            }
        }
        ok = output_write(out, row, size_t(stride));
    }
    std::free(row);
    return ok;
}

}  // namespace image_codec
}  // namespace zir
