// Image codecs: the five containers read and written by the image backend.
//
// Each decoder reads the first image (frame, directory) of a file held in
// memory and answers a new bitmap of BGRA words (datatypes/image_backend.hpp),
// or null for anything it cannot decode: corrupt or truncated data, an
// unsupported variant, or a size beyond `image_backend::size_fits_q` or the
// decode pixel limit, which is checked from the header before any pixel is
// allocated. Each encoder writes a whole file into an output buffer and
// answers false when it failed.
//
// The codecs run below the language: they allocate only from the C heap,
// never a series, so they never start a collection, and raise no language
// error. PNG and JPEG report their errors by longjmp: every call into those
// libraries sits in a function that holds no C++ object needing a destructor,
// and their state lives in the C heap so that nothing is lost across the jump.
#pragma once

#include <cstddef>

#include "datatypes/image_backend.hpp"

namespace zir {
namespace image_codec {

using image_backend::Bitmap;

// A growing output in the C heap. `failed` is set when the heap refused; the
// writers then drop whatever follows.
struct Output {
    u8* data;
    size_t size;
    size_t capacity;
    bool failed;
};
void output_init(Output* out);
// The largest output, the language's limit on a binary! by default; tests
// lower it to see an encoder fail.
extern size_t output_limit;
bool output_write(Output* out, const void* bytes, size_t n);
void output_free(Output* out);

// Whether a bitmap of that size may be decoded: `size_fits_q` and the decode
// pixel limit.
bool decodable_size_q(i64 width, i64 height);
// Whether every pixel is opaque: the encoders then leave alpha out.
bool opaque_q(const Bitmap* bitmap);

Bitmap* decode_png(const u8* data, size_t size);
Bitmap* decode_jpeg(const u8* data, size_t size);
Bitmap* decode_bmp(const u8* data, size_t size);
Bitmap* decode_gif(const u8* data, size_t size);
Bitmap* decode_tiff(const u8* data, size_t size);

bool encode_png(const Bitmap* bitmap, Output* out);
bool encode_jpeg(const Bitmap* bitmap, Output* out);
bool encode_bmp(const Bitmap* bitmap, Output* out);
bool encode_gif(const Bitmap* bitmap, Output* out);
bool encode_tiff(const Bitmap* bitmap, Output* out);

// --- Colour reduction, for GIF ---------------------------------------------------

// The bitmap as indexes into a palette of at most 256 colours (0x00RRGGBB).
// Pixels whose opacity is below half become the transparent entry, which is
// the last one and exists only when such pixels do; when the other colours
// are few enough each keeps its own entry, otherwise they are reduced by
// median cut (boxes of the colour cube split along their longest side at the
// median pixel) to the mean colour of each box.
struct Palette {
    u32 colours[256];
    i32 count;         // entries used, at least 1
    i32 transparent;   // index of the transparent entry, -1 when none
};
// Writes one index per pixel into `indexes` (width x height bytes); false
// when the heap refused.
bool reduce_colours(const Bitmap* bitmap, Palette* palette, u8* indexes);

}  // namespace image_codec
}  // namespace zir
