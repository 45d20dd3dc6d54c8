// JPEG through libjpeg-turbo: baseline and progressive, colour, grey and CMYK
// read as opaque BGRA; written from BGRA at quality 90 (alpha is dropped, as
// the format has none).
//
// libjpeg reports errors through its error manager, whose exit routine here
// longjmps back to the caller of the library. So the functions that call
// libjpeg hold only plain C data, and what they must free after a jump lives
// in a heap-allocated state record whose address does not change after
// setjmp.
#include <cstdio>   // jpeglib.h needs FILE and size_t first

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "datatypes/image_codec.hpp"

namespace zir {
namespace image_codec {

namespace {

// A progressive file may hold any number of scans, each a pass over the
// whole image; real encoders write a dozen. Far more means a file built to
// keep the decoder busy.
constexpr int MAX_SCANS = 1000;
// The quality of written files (libjpeg's scale, 1..100).
constexpr int WRITE_QUALITY = 90;

struct JpegState {
    jpeg_error_mgr errors;   // first: libjpeg hands back its address
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    bool truncated;
    bool done;   // the work reached its end without a jump
    Bitmap* bitmap;
    u8* row;
    unsigned char* encoded;
    unsigned long encoded_size;
};

void jpeg_exit(j_common_ptr info) {
    JpegState* st = reinterpret_cast<JpegState*>(info->err);
    std::longjmp(st->jump, 1);
}

// Warnings are not printed; a file cut short counts as a failure, although
// libjpeg would fill the missing rows with grey and go on.
void jpeg_message(j_common_ptr info, int level) {
    JpegState* st = reinterpret_cast<JpegState*>(info->err);
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) st->truncated = true;
}

void jpeg_no_output(j_common_ptr) {}

void jpeg_count_scans(j_common_ptr info) {
    if (!info->is_decompressor) return;
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->input_scan_number > MAX_SCANS) jpeg_exit(info);
}

void init_errors(JpegState* st) {
    jpeg_std_error(&st->errors);
    st->errors.error_exit = jpeg_exit;
    st->errors.emit_message = jpeg_message;
    st->errors.output_message = jpeg_no_output;
}

// Reads the image into st->bitmap; longjmps on any error.
void read_jpeg(j_decompress_ptr d, const u8* data, size_t size, JpegState* st) {
    jpeg_mem_src(d, data, static_cast<unsigned long>(size));
    jpeg_read_header(d, TRUE);
    if (!decodable_size_q(d->image_width, d->image_height)) jpeg_exit(reinterpret_cast<j_common_ptr>(d));
    // libjpeg's working memory (a progressive file keeps every coefficient)
    // is bounded by what such a file can need; it has no store beyond memory.
    d->mem->max_memory_to_use = long(d->image_width) * long(d->image_height) * 16 + (8L << 20);
    st->progress.progress_monitor = jpeg_count_scans;
    d->progress = &st->progress;
    int components = 4;
    switch (d->jpeg_color_space) {
        case JCS_GRAYSCALE: d->out_color_space = JCS_GRAYSCALE; components = 1; break;
        case JCS_CMYK:
        case JCS_YCCK: d->out_color_space = JCS_CMYK; break;
        default: d->out_color_space = JCS_EXT_BGRA; break;
    }
    jpeg_start_decompress(d);
    if (int(d->output_components) != components || d->output_width != d->image_width ||
        d->output_height != d->image_height)
        jpeg_exit(reinterpret_cast<j_common_ptr>(d));
    st->bitmap = image_backend::alloc_bitmap(d->output_width, d->output_height);
    st->row = static_cast<u8*>(std::malloc(size_t(d->output_width) * 4));
    if (!st->bitmap || !st->row) jpeg_exit(reinterpret_cast<j_common_ptr>(d));
    // CMYK from Adobe's encoders is stored inverted.
    bool inverted = d->saw_Adobe_marker;
    u32 w = d->output_width;
    while (d->output_scanline < d->output_height) {
        u32 y = d->output_scanline;
        u32* out = st->bitmap->pixels() + size_t(y) * w;
        JSAMPROW rows[1] = {components == 4 && d->out_color_space == JCS_EXT_BGRA ? reinterpret_cast<u8*>(out)
                                                                                 : st->row};
        if (jpeg_read_scanlines(d, rows, 1) != 1 || st->truncated) jpeg_exit(reinterpret_cast<j_common_ptr>(d));
        if (components == 1) {
            for (u32 x = 0; x < w; x++) out[x] = 0xFF000000u | u32(st->row[x]) * 0x010101u;
        } else if (d->out_color_space == JCS_CMYK) {
            for (u32 x = 0; x < w; x++) {
                u32 c = st->row[4 * x], m = st->row[4 * x + 1], yy = st->row[4 * x + 2], k = st->row[4 * x + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yy = 255 - yy;
                    k = 255 - k;
                }
                // (255 - C)(255 - K) / 255 and so on, with the values here
                // already inverted.
                u32 r = (c * k + 127) / 255, g = (m * k + 127) / 255, b = (yy * k + 127) / 255;
                out[x] = 0xFF000000u | r << 16 | g << 8 | b;
            }
        }
    }
    if (st->truncated) jpeg_exit(reinterpret_cast<j_common_ptr>(d));
}

void write_jpeg(j_compress_ptr c, const Bitmap* b, JpegState* st) {
    jpeg_mem_dest(c, &st->encoded, &st->encoded_size);
    c->image_width = u32(b->width);
    c->image_height = u32(b->height);
    c->input_components = 4;
    c->in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, WRITE_QUALITY, TRUE);
    jpeg_start_compress(c, TRUE);
    while (c->next_scanline < c->image_height) {
        JSAMPROW rows[1] = {
            const_cast<u8*>(reinterpret_cast<const u8*>(b->pixels() + size_t(c->next_scanline) * u32(b->width)))};
        jpeg_write_scanlines(c, rows, 1);
    }
    jpeg_finish_compress(c);
}

}  // namespace

Bitmap* decode_jpeg(const u8* data, size_t size) {
    JpegState* st = static_cast<JpegState*>(std::calloc(1, sizeof(JpegState)));
    jpeg_decompress_struct* d = static_cast<jpeg_decompress_struct*>(std::calloc(1, sizeof(jpeg_decompress_struct)));
    Bitmap* result = nullptr;
    if (st && d) {
        init_errors(st);
        d->err = &st->errors;
        if (setjmp(st->jump) == 0) {
            jpeg_create_decompress(d);
            read_jpeg(d, data, size, st);
            st->done = true;
        }
        jpeg_destroy_decompress(d);
        std::free(st->row);
        if (st->done) result = st->bitmap;
        else image_backend::free_bitmap(st->bitmap);
    }
    std::free(d);
    std::free(st);
    return result;
}

bool encode_jpeg(const Bitmap* bitmap, Output* out) {
    JpegState* st = static_cast<JpegState*>(std::calloc(1, sizeof(JpegState)));
    jpeg_compress_struct* c = static_cast<jpeg_compress_struct*>(std::calloc(1, sizeof(jpeg_compress_struct)));
    bool ok = false;
    if (st && c) {
        init_errors(st);
        c->err = &st->errors;
        if (setjmp(st->jump) == 0) {
            jpeg_create_compress(c);
            write_jpeg(c, bitmap, st);
            st->done = true;
        }
        jpeg_destroy_compress(c);
        ok = st->done && output_write(out, st->encoded, st->encoded_size);
        std::free(st->encoded);
    }
    std::free(c);
    std::free(st);
    return ok;
}

}  // namespace image_codec
}  // namespace zir
