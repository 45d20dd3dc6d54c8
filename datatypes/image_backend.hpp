// Image backend: where the pixels of every image! value live, and the codecs
// that turn them into files and back.
//
// The pixels of an image are a bitmap of 32-bit words 0xAARRGGBB (in memory
// B, G, R, A; A is the opacity), top row first, rows without gaps. A bitmap
// is one block of the C heap (`Bitmap`), so its pixels never move: drawing
// code may keep their address while it allocates.
//
// An image! value reaches its bitmap through a record: a small byte series
// (its node is the value's payload word 2) holding the bitmap's slot in the
// handle table, where the bitmap is registered under the external class
// "image", and the size word. The collector keeps the record alive through
// the value and marks the slot through `mark`; a slot no value marked is
// released by the handle table, which frees the bitmap.
//
// A record is only kept alive by image! cells: the slot is marked from the
// cell, never from a bare node. So code that holds a new record across an
// allocation holds it in an image! cell (`image::make_at` into a root or a
// stack cell) at once, never in a RootNode.
//
// Decoding reads PNG, JPEG, BMP, GIF and TIFF (first frame or directory) from
// memory or from a file; encoding writes the same five containers into a
// binary!. The codecs themselves live in image_codec.hpp.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace image_backend {

// --- Bitmaps ---------------------------------------------------------------------

// Sides are 16-bit in the value's size word.
constexpr i64 MAX_SIDE = 65535;

struct Bitmap {
    i32 width;
    i32 height;
    u64 pad;   // keeps the pixels 16-byte aligned
    u32* pixels() { return reinterpret_cast<u32*>(this + 1); }
    const u32* pixels() const { return reinterpret_cast<const u32*>(this + 1); }
    i64 count() const { return i64(width) * height; }
};

// Whether a bitmap of that size may exist: both sides 1..65535 and its pixel
// bytes within the language's 32-bit size limit.
bool size_fits_q(i64 width, i64 height);
// A bitmap of uninitialised pixels from the C heap; null when the size does
// not fit or the heap refuses. Safe to call from code that a C library may
// leave by longjmp (it holds nothing that needs unwinding).
Bitmap* alloc_bitmap(i64 width, i64 height);
void free_bitmap(Bitmap* bitmap);

// --- Records ---------------------------------------------------------------------

// Called by the handle table when a record's slot is released.
void release_bitmap(uintptr_t object);

// A new record owning the bitmap (registered in the handle table); answers its
// node. Put it into an image! cell before anything else allocates.
u32 make_handle(Bitmap* bitmap);
i32 width_q(u32 node);
i32 height_q(u32 node);
// The size word of the record: height << 16 | width.
u32 size_word(u32 node);
// The bitmap of a record, or null once released.
Bitmap* bitmap_of(u32 node);
// The collector's mark of a record (through image! cells).
void mark(u32 node);
// Frees the bitmap at once; the record stays, without pixels, until the
// collector drops it. Every later access to its pixels raises `access
// bad-media`.
void release(u32 node);

// --- Access to pixels ------------------------------------------------------------

struct Lock {
    u32 node;
    u32* pixels;
    i32 stride;   // bytes a row
    bool write;
};
// Locks a record's bitmap for reading or writing; a record without a bitmap
// raises `access bad-media`.
Lock lock_bitmap(u32 node, bool write);
u32* get_data(const Lock& lock, i32* stride);
void unlock_bitmap(Lock& lock);

// The pixel word at a position (0-based, row order) of a record's bitmap.
u32 get_pixel(u32 node, i64 position);
void set_pixel(u32 node, i64 position, u32 pixel);

// --- Making bitmaps --------------------------------------------------------------

// A bitmap of width x height for an image! (0 when a side is 0): every pixel
// the colour word when one is given; otherwise pixel i takes R, G, B from the
// i-th whole triple of the rgb binary from its head (white once they run out)
// and A = 255 - the i-th byte of the alpha binary from its head (opaque once
// they run out). Null pointers are absent values. A size beyond the limits raises `script invalid-arg`; a heap
// that refuses raises `internal no-memory`.
u32 make_bitmap(i32 width, i32 height, const Cell* rgb, const Cell* alpha, const u32* colour);
// A record over a copy of 32-bit BGRA pixels in memory, rows `stride` bytes
// apart (width x 4 when 0), the buffer `size` bytes long; answers 0 and the
// node in `record`, or -1 when the size or the buffer does not fit (the
// record is then 0).
i32 from_memory(i32 width, i32 height, i32 stride, i64 size, const u8* pixels, u32* record);
// A new record holding a copy of a record's whole bitmap, or of the part of
// the rectangle inside it (0 when that part is empty).
u32 copy(u32 node);
u32 copy_rect(u32 node, i64 x, i64 y, i64 width, i64 height);
// The bitmap scaled to width x height by nearest neighbour (0 when a side is
// below 1).
u32 scale(u32 node, i32 width, i32 height);
// The bitmap upside down.
u32 flip_vertical(u32 node);

// --- Files and data --------------------------------------------------------------

// Containers by format id, as image/encode numbers them.
enum Format : i32 { FORMAT_BMP = 0, FORMAT_PNG = 1, FORMAT_GIF = 2, FORMAT_JPEG = 3, FORMAT_TIFF = 4 };

// The container a file's first bytes announce, or -1.
i32 detect_format(const u8* bytes, i64 length);
// Decodes the first image of a file held in memory into a new record; 0 when
// the bytes are not a known format or cannot be decoded (corrupt, truncated,
// or a size beyond the limits). The bytes may lie in a series buffer: nothing
// allocates a series before they are decoded.
u32 load_memory(const u8* bytes, i64 length);
// Reads a file whole and decodes it; 0 when it cannot be decoded, and sets
// `readable` to false when it could not be read at all.
u32 load_file(const char* path, bool* readable);
// Encodes a record's bitmap into a new binary! written into `destination`:
// an empty binary for node 0. Answers false when the encoder failed (the
// destination is then untouched). An id outside the formats prints "Cannot
// find image encoder" and answers false too: see `encoder_exists_q`.
bool encode(u32 node, Cell* destination, i32 format);
bool encoder_exists_q(i32 format);

// Pixel limit of the decoders, in pixels: a file whose header asks for more
// is refused before anything is allocated. The language's own limit (32-bit
// sizes) by default; the fuzz targets lower it to keep their memory small.
extern i64 decode_pixel_limit;

// Registers the external class "image" with the handle table (at start-up
// and after every reset of the table).
void init();

}  // namespace image_backend
}  // namespace zir
