// GIF through giflib: the first frame read onto a canvas of the logical
// screen's size (the frame's own extent when the screen has none), pixels
// outside the frame transparent, the transparent index of the frame's
// graphic control block with alpha 0 over its palette colour, interlaced rows
// put back in order. Written as one frame: a palette of at most 256 colours
// (reduce_colours), with a transparent entry when some pixel is below half
// opacity.
//
// giflib reports errors through return codes, so nothing here jumps.
#include <gif_lib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "datatypes/image_codec.hpp"

namespace zir {
namespace image_codec {

namespace {

struct GifInput {
    const u8* data;
    size_t size;
    size_t at;
};

int gif_read(GifFileType* gif, GifByteType* out, int n) {
    GifInput* in = static_cast<GifInput*>(gif->UserData);
    size_t k = std::min(size_t(n < 0 ? 0 : n), in->size - in->at);
    std::memcpy(out, in->data + in->at, k);
    in->at += k;
    return int(k);
}

int gif_write(GifFileType* gif, const GifByteType* bytes, int n) {
    Output* out = static_cast<Output*>(gif->UserData);
    return output_write(out, bytes, size_t(n)) ? n : 0;
}

// Skips the rest of an extension's sub-blocks.
bool skip_extension(GifFileType* gif, GifByteType* block) {
    while (block)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    return true;
}

// Reads up to the first image and draws it; null on any error.
Bitmap* read_first_frame(GifFileType* gif, GifPixelType** line) {
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return nullptr;
        if (type == TERMINATE_RECORD_TYPE) return nullptr;   // no image at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return nullptr;
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
                transparent = (block[1] & 1) ? int(block[4]) : -1;
            if (!skip_extension(gif, block)) return nullptr;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) return nullptr;
        if (DGifGetImageDesc(gif) == GIF_ERROR) return nullptr;
        break;
    }
    const GifImageDesc& frame = gif->Image;
    i64 fx = frame.Left, fy = frame.Top, fw = frame.Width, fh = frame.Height;
    if (fw < 1 || fh < 1 || fw > image_backend::MAX_SIDE || fh > image_backend::MAX_SIDE) return nullptr;
    i64 cw = gif->SWidth, ch = gif->SHeight;
    if (cw < 1 || ch < 1) {
        cw = fx + fw;
        ch = fy + fh;
    }
    if (!decodable_size_q(cw, ch)) return nullptr;
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!map || map->ColorCount < 1) return nullptr;
    u32 palette[256];
    for (int i = 0; i < 256; i++) {
        // Indexes past the palette read as black.
        palette[i] = 0xFF000000u;
        if (i < map->ColorCount) {
            const GifColorType& c = map->Colors[i];
            palette[i] |= u32(c.Red) << 16 | u32(c.Green) << 8 | c.Blue;
        }
    }
    if (transparent >= 0) palette[transparent] &= 0x00FFFFFF;
    Bitmap* b = image_backend::alloc_bitmap(cw, ch);
    *line = static_cast<GifPixelType*>(std::malloc(size_t(fw)));
    if (!b || !*line) {
        image_backend::free_bitmap(b);
        return nullptr;
    }
    std::memset(b->pixels(), 0, size_t(b->count()) * 4);
    // Interlaced rows come in four passes: every 8th from 0, every 8th from
    // 4, every 4th from 2, every 2nd from 1.
    static const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; pass++) {
        int step = frame.Interlace ? steps[pass] : 1;
        for (i64 row = frame.Interlace ? starts[pass] : 0; row < fh; row += step) {
            if (DGifGetLine(gif, *line, int(fw)) == GIF_ERROR) {
                image_backend::free_bitmap(b);
                return nullptr;
            }
            i64 y = fy + row;
            if (y >= ch) continue;
            u32* dst = b->pixels() + y * cw;
            for (i64 x = 0; x < fw && fx + x < cw; x++) dst[fx + x] = palette[(*line)[x]];
        }
    }
    return b;
}

}  // namespace

Bitmap* decode_gif(const u8* data, size_t size) {
    GifInput in{data, size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&in, gif_read, &error);
    if (!gif) return nullptr;
    GifPixelType* line = nullptr;
    Bitmap* b = read_first_frame(gif, &line);
    std::free(line);
    DGifCloseFile(gif, &error);
    return b;
}

bool encode_gif(const Bitmap* bitmap, Output* out) {
    Palette palette;
    u8* indexes = static_cast<u8*>(std::malloc(size_t(bitmap->count())));
    if (!indexes) return false;
    if (!reduce_colours(bitmap, &palette, indexes)) {
        std::free(indexes);
        return false;
    }
    // The colour table holds a power of two of entries, at least 2.
    int bits = 1;
    while ((1 << bits) < palette.count) bits++;
    GifColorType colours[256] = {};
    for (int i = 0; i < palette.count; i++)
        colours[i] = GifColorType{GifByteType(palette.colours[i] >> 16), GifByteType(palette.colours[i] >> 8),
                                  GifByteType(palette.colours[i])};
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours);
    int error = 0;
    GifFileType* gif = map ? EGifOpen(out, gif_write, &error) : nullptr;
    bool ok = gif != nullptr;
    if (ok) {
        EGifSetGifVersion(gif, true);
        ok = EGifPutScreenDesc(gif, bitmap->width, bitmap->height, bits, 0, map) != GIF_ERROR;
    }
    if (ok && palette.transparent >= 0) {
        // A graphic control block: transparency flag, no delay, the index.
        GifByteType control[4] = {1, 0, 0, GifByteType(palette.transparent)};
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_ERROR;
    }
    if (ok) ok = EGifPutImageDesc(gif, 0, 0, bitmap->width, bitmap->height, false, nullptr) != GIF_ERROR;
    for (i64 y = 0; ok && y < bitmap->height; y++)
        ok = EGifPutLine(gif, indexes + y * bitmap->width, bitmap->width) != GIF_ERROR;
    if (gif && EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
    GifFreeMapObject(map);
    std::free(indexes);
    return ok;
}

}  // namespace image_codec
}  // namespace zir
