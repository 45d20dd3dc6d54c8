// PNG through libpng: every colour type and bit depth read as 8-bit BGRA
// (palettes and transparency chunks expanded to alpha, 16-bit samples cut to
// their high byte, interlaced files read whole); written as 8-bit RGB, or
// RGBA when some pixel is not opaque.
//
// libpng reports errors by longjmp to the setjmp of the function that called
// it. So the functions here that call libpng hold only plain C data, and
// everything they must free after a jump lives in a heap-allocated state
// record whose address does not change after setjmp.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "datatypes/image_codec.hpp"

namespace zir {
namespace image_codec {

namespace {

struct PngRead {
    const u8* data;
    size_t size;
    size_t at;
    Bitmap* bitmap;
    png_bytep* rows;
    bool done;   // read to the end without a jump
};

void png_silent_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_silent_warning(png_structp, png_const_charp) {}

void png_read_bytes(png_structp png, png_bytep out, size_t n) {
    PngRead* r = static_cast<PngRead*>(png_get_io_ptr(png));
    if (n > r->size - r->at) png_error(png, "truncated");
    std::memcpy(out, r->data + r->at, n);
    r->at += n;
}

void png_write_bytes(png_structp png, png_bytep bytes, size_t n) {
    Output* out = static_cast<Output*>(png_get_io_ptr(png));
    if (!output_write(out, bytes, n)) png_error(png, "no memory");
}

void png_flush_nothing(png_structp) {}

// Reads the whole image into r->bitmap; longjmps on any error.
void read_png(png_structp png, png_infop info, PngRead* r) {
    png_set_read_fn(png, r, png_read_bytes);
    png_set_user_limits(png, u32(image_backend::MAX_SIDE), u32(image_backend::MAX_SIDE));
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    if (!decodable_size_q(width, height)) png_error(png, "too large");
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_strip_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);   // no effect when alpha is there
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) png_error(png, "unexpected layout");
    r->bitmap = image_backend::alloc_bitmap(width, height);
    r->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
    if (!r->bitmap || !r->rows) png_error(png, "no memory");
    for (png_uint_32 y = 0; y < height; y++)
        r->rows[y] = reinterpret_cast<png_bytep>(r->bitmap->pixels() + size_t(y) * width);
    png_read_image(png, r->rows);
}

struct PngWrite {
    png_bytep* rows;
    bool done;
};

void write_png(png_structp png, png_infop info, const Bitmap* b, Output* out, PngWrite* w) {
    png_set_write_fn(png, out, png_write_bytes, png_flush_nothing);
    bool alpha = !opaque_q(b);
    png_set_IHDR(png, info, u32(b->width), u32(b->height), 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);   // the rows carry a fourth byte to drop
    w->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * size_t(b->height)));
    if (!w->rows) png_error(png, "no memory");
    for (i32 y = 0; y < b->height; y++)
        w->rows[y] = const_cast<png_bytep>(reinterpret_cast<const u8*>(b->pixels() + i64(y) * b->width));
    png_write_image(png, w->rows);
    png_write_end(png, nullptr);
}

}  // namespace

Bitmap* decode_png(const u8* data, size_t size) {
    PngRead* r = static_cast<PngRead*>(std::calloc(1, sizeof(PngRead)));
    if (!r) return nullptr;
    r->data = data;
    r->size = size;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_silent_error, png_silent_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::free(r);
        return nullptr;
    }
    if (setjmp(png_jmpbuf(png)) == 0) {
        read_png(png, info, r);
        r->done = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    Bitmap* result = r->done ? r->bitmap : nullptr;
    if (!r->done) image_backend::free_bitmap(r->bitmap);
    std::free(r->rows);
    std::free(r);
    return result;
}

bool encode_png(const Bitmap* bitmap, Output* out) {
    PngWrite* w = static_cast<PngWrite*>(std::calloc(1, sizeof(PngWrite)));
    if (!w) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_silent_error, png_silent_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::free(w);
        return false;
    }
    if (setjmp(png_jmpbuf(png)) == 0) {
        write_png(png, info, bitmap, out, w);
        w->done = true;
    }
    png_destroy_write_struct(&png, &info);
    bool ok = w->done;
    std::free(w->rows);
    std::free(w);
    return ok;
}

}  // namespace image_codec
}  // namespace zir
