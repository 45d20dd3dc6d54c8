// image!: a rectangle of 32-bit pixels seen as a series of pixels in row
// order, with a current position like every series.
//
// Cell: word 1 the head (the current pixel, 0-based, 0 .. width x height),
// word 2 the node of the image's record in the image backend
// (datatypes/image_backend.hpp), 0 for an image without pixels, word 3 the
// size: height in the high 16 bits, width in the low 16 bits.
//
// Pixels are 0xAARRGGBB words, A the opacity; rows top first. At the
// language level every alpha is a transparency, 255 - A: a pixel as a tuple!
// is r.g.b.a with a = 255 - A (0 opaque, 255 invisible), and a 3-byte tuple
// written into an image is opaque. The mold's alpha block, the `alpha` path
// and the make spec count the same way.
//
// Copies of a value share its record; `copy` makes a new record and bitmap.
#pragma once

#include "datatypes/image_backend.hpp"
#include "runtime/cell.hpp"

namespace zir {
namespace image {

inline i32 width_of(const Cell* img) { return i32(img->w3 & 0xFFFF); }
inline i32 height_of(const Cell* img) { return i32(img->w3 >> 16); }
// The pixel count: width x height, whatever the head.
inline i64 count_of(const Cell* img) { return img->w2 ? i64(width_of(img)) * height_of(img) : 0; }
inline i32 head_of(const Cell* img) { return i32(img->w1); }

// Pixels and tuples. A tuple of 3 bytes is opaque, a longer one has A = 255 -
// its fourth byte.
u32 pixel_of_tuple(const Cell* tuple);
// The tuple r.g.b.a of a pixel (4 bytes, a = 255 - A) into a cell.
Cell* tuple_of_pixel(Cell* out, u32 pixel);

// --- Values ----------------------------------------------------------------------

// An image! at head 0 over a record (0: the empty image of size 0x0) into a
// cell, keeping its new-line flag.
Cell* make_at(Cell* c, u32 record);
Cell* push(const Cell* img);
// The pixel at a position as a tuple pushed on the value stack, or the none
// cell outside 0 .. count - 1.
Cell* get_pixel(const Cell* img, i64 position);
// The position an index (integer! or pair!) stands for, counted from the
// head; `base` 1 counts as pick and at do, 0 as skip. With `out_of_range`,
// whether the index lies outside the image.
i64 get_position(const Cell* img, const Cell* index, i32 base, bool* out_of_range);

// What extract_data and set_data work on.
enum DataKind : i32 { KIND_ALPHA = 0, KIND_RGB = 1, KIND_ARGB = 2 };
// A new binary! pushed: of the whole image from its first pixel, one byte a
// pixel (255 - A), three (R, G, B) or the pixel memory itself (B, G, R, A).
Cell* extract_data(const Cell* img, i32 kind);
// Writes a binary! of that layout, or one colour (tuple! or integer!) into
// every pixel, from the first; answers the value.
Cell* set_data(Cell* img, Cell* value, i32 kind);

bool known_format_q(const Cell* binary);
// Decodes a binary! into an image in a new stack cell: none for a binary in
// no known format; undecodable data raises `access bad-media`.
Cell* load_binary(const Cell* binary);
// Decodes a file into `cell` (set to unset first): a file that cannot be
// read raises `access cannot-open` with the file, data that cannot be
// decoded `access bad-media`.
Cell* load_file(Cell* cell, const Cell* file);
// A binary! goes to load_binary (a format it does not know raises `access
// bad-media`), anything else is read as a file.
Cell* decode(const Cell* source);
// The image encoded in a container (image_backend::Format) into a new binary!
// in `destination` (a new stack cell when null); the none cell for a format
// there is no encoder for. An image of size 0 or whose encoder fails raises
// `access bad-media`.
Cell* encode(const Cell* img, Cell* destination, i32 format);
// A new image of width x height pushed, scaled by nearest neighbour.
Cell* scale(const Cell* img, i32 width, i32 height);

// --- Drawing ---------------------------------------------------------------------

// Locks the pixels for writing; answers their address, valid until unlocked
// (the bitmap never moves, so the code may allocate meanwhile).
u32* lock_pixels(const Cell* img, image_backend::Lock* lock);
// Releases the lock; with `changed`, tells the image's owner that its pixels
// changed (word `poked`, index and part -1).
void unlock_pixels(const Cell* img, image_backend::Lock* lock, bool changed);

// Sets the n words of a block to n pixels (tuples) from the image's head, none
// past the tail: `foreach` with several words.
void set_loop_words(const Cell* words, const Cell* img, i32 n);

// The collector's hook for image! cells, and an early release of the bitmap.
void mark(const Cell* img);
void release(const Cell* img);

// `to image!` of an object! asks the terminal backend, which sets this hook:
// it answers the image of a face in `result`, or null for an object that is
// not one. While it is not set, an object is refused like any other value.
extern Cell* (*face_to_image)(const Cell* face, Cell* result);

// --- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type);
Cell* to(Cell* proto, Cell* spec, u32 type);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify);
i32 compare(const Cell* value, const Cell* other, i32 op);
Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
i32 length_q(const Cell* series);
// `boxed` is the index value (integer! or pair!); null for a plain integer
// index, counted from the head as pick counts.
Cell* pick(Cell* series, i32 index, Cell* boxed);
Cell* poke(Cell* series, i32 index, Cell* value, Cell* boxed);

// Registers the datatype and sets the hooks of the collector and of to
// binary!.
void init();
// Start-up and memory resets: the path words.
void init_state();

}  // namespace image
}  // namespace zir
