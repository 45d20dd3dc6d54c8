// Image backend: bitmaps, their records, and the way to the codecs; see
// image_backend.hpp.
#include "datatypes/image_backend.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "datatypes/binary.hpp"
#include "datatypes/image_codec.hpp"
#include "runtime/console.hpp"
#include "runtime/fire.hpp"
#include "runtime/handle_table.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace image_backend {

i64 decode_pixel_limit = MAX_LENGTH / 4;

namespace {

// The handle type of the external class "image"; 0 before `init`.
int image_class = 0;

// A record: the bitmap's handle-table slot and the size word.
struct Record {
    i32 slot;
    u32 size;
};

Record* record_of(u32 node) { return reinterpret_cast<Record*>(series::head(node_buffer(node))); }

[[noreturn]] void bad_media() { fire(ERR_ACCESS, "bad-media"); }

Bitmap* existing_bitmap(u32 node) {
    Bitmap* b = node ? bitmap_of(node) : nullptr;
    if (!b) bad_media();
    return b;
}

// A new bitmap for a size the caller already checked; the heap refusing is
// the language's out-of-memory error.
Bitmap* new_bitmap(i64 width, i64 height) {
    Bitmap* b = alloc_bitmap(width, height);
    if (!b) fire(ERR_INTERNAL, "no-memory");
    return b;
}

inline u32 opaque(u32 r, u32 g, u32 b) { return 0xFF000000u | r << 16 | g << 8 | b; }

}  // namespace

// --- Bitmaps ---------------------------------------------------------------------

bool size_fits_q(i64 width, i64 height) {
    return width >= 1 && height >= 1 && width <= MAX_SIDE && height <= MAX_SIDE && width * height * 4 <= MAX_LENGTH;
}

Bitmap* alloc_bitmap(i64 width, i64 height) {
    if (!size_fits_q(width, height)) return nullptr;
    void* block = std::malloc(sizeof(Bitmap) + size_t(width * height) * 4);
    if (!block) return nullptr;
    Bitmap* b = static_cast<Bitmap*>(block);
    b->width = i32(width);
    b->height = i32(height);
    b->pad = 0;
    return b;
}

void free_bitmap(Bitmap* bitmap) { std::free(bitmap); }

// --- Records ---------------------------------------------------------------------

void release_bitmap(uintptr_t object) { free_bitmap(reinterpret_cast<Bitmap*>(object)); }

u32 make_handle(Bitmap* bitmap) {
    // The record first: its allocation may collect, and the bitmap is not in
    // the handle table yet, so no sweep can free it meanwhile.
    u32 node = memory::alloc_bytes(sizeof(Record));
    SeriesBuffer* s = node_buffer(node);
    s->tail = s->offset + sizeof(Record);
    i32 slot = handle_table::alloc(reinterpret_cast<uintptr_t>(bitmap), u32(image_class));
    Record* r = record_of(node);
    r->slot = slot;
    r->size = u32(bitmap->height) << 16 | u32(bitmap->width);
    return node;
}

u32 size_word(u32 node) { return record_of(node)->size; }
i32 width_q(u32 node) { return i32(size_word(node) & 0xFFFF); }
i32 height_q(u32 node) { return i32(size_word(node) >> 16); }

Bitmap* bitmap_of(u32 node) {
    return reinterpret_cast<Bitmap*>(handle_table::slot(record_of(node)->slot)->object);
}

void mark(u32 node) { handle_table::mark(record_of(node)->slot, 0); }

void release(u32 node) {
    // The slot stays the record's until the record dies: another handle given
    // that slot would otherwise be marked and read through this record.
    handle_table::Slot* slot = handle_table::slot(record_of(node)->slot);
    uintptr_t object = slot->object;
    slot->object = 0;
    release_bitmap(object);
}

// --- Access to pixels ------------------------------------------------------------

Lock lock_bitmap(u32 node, bool write) {
    Bitmap* b = existing_bitmap(node);
    return Lock{node, b->pixels(), b->width * 4, write};
}

u32* get_data(const Lock& lock, i32* stride) {
    if (stride) *stride = lock.stride;
    return lock.pixels;
}

void unlock_bitmap(Lock& lock) { lock.pixels = nullptr; }

u32 get_pixel(u32 node, i64 position) { return existing_bitmap(node)->pixels()[position]; }

void set_pixel(u32 node, i64 position, u32 pixel) { existing_bitmap(node)->pixels()[position] = pixel; }

// --- Making bitmaps --------------------------------------------------------------

u32 make_bitmap(i32 width, i32 height, const Cell* rgb, const Cell* alpha, const u32* colour) {
    if (width <= 0 || height <= 0) return 0;
    if (!size_fits_q(width, height)) fire(ERR_SCRIPT, "invalid-arg");
    // The binaries are read before the record is made: that allocation may
    // move their buffers.
    Bitmap* b = new_bitmap(width, height);
    u32* px = b->pixels();
    i64 n = b->count();
    if (colour) {
        std::fill(px, px + n, *colour);
    } else {
        const u8* rgb_bytes = rgb ? binary::zs_head(const_cast<Cell*>(rgb)) : nullptr;
        i64 triples = rgb ? binary::zs_length_q(rgb) / 3 : 0;
        const u8* alpha_bytes = alpha ? binary::zs_head(const_cast<Cell*>(alpha)) : nullptr;
        i64 alphas = alpha ? binary::zs_length_q(alpha) : 0;
        for (i64 i = 0; i < n; i++) {
            u32 p = i < triples ? opaque(rgb_bytes[3 * i], rgb_bytes[3 * i + 1], rgb_bytes[3 * i + 2])
                                : 0xFFFFFFFFu;
            if (i < alphas) p = (p & 0x00FFFFFF) | u32(255 - alpha_bytes[i]) << 24;
            px[i] = p;
        }
    }
    return make_handle(b);
}

i32 from_memory(i32 width, i32 height, i32 stride, i64 size, const u8* pixels, u32* record) {
    *record = 0;
    if (!size_fits_q(width, height)) return -1;
    i64 row = i64(width) * 4;
    i64 step = stride ? i64(stride) : row;
    if (step < row || size < step * (height - 1) + row) return -1;
    Bitmap* b = alloc_bitmap(width, height);
    if (!b) return -1;
    for (i32 y = 0; y < height; y++) std::memcpy(b->pixels() + i64(y) * width, pixels + step * y, size_t(row));
    *record = make_handle(b);
    return 0;
}

u32 copy(u32 node) {
    Bitmap* from = existing_bitmap(node);
    Bitmap* b = new_bitmap(from->width, from->height);
    std::memcpy(b->pixels(), from->pixels(), size_t(from->count()) * 4);
    return make_handle(b);
}

u32 copy_rect(u32 node, i64 x, i64 y, i64 width, i64 height) {
    Bitmap* from = existing_bitmap(node);
    i64 x0 = std::max<i64>(x, 0), y0 = std::max<i64>(y, 0);
    i64 x1 = std::min<i64>(x + width, from->width), y1 = std::min<i64>(y + height, from->height);
    if (x1 <= x0 || y1 <= y0) return 0;
    Bitmap* b = new_bitmap(x1 - x0, y1 - y0);
    for (i64 row = y0; row < y1; row++)
        std::memcpy(b->pixels() + (row - y0) * b->width, from->pixels() + row * from->width + x0,
                    size_t(b->width) * 4);
    return make_handle(b);
}

u32 scale(u32 node, i32 width, i32 height) {
    Bitmap* from = existing_bitmap(node);
    if (width < 1 || height < 1) return 0;
    if (!size_fits_q(width, height)) fire(ERR_SCRIPT, "invalid-arg");
    Bitmap* b = new_bitmap(width, height);
    // The source pixel whose area holds the centre of each target pixel.
    for (i64 y = 0; y < height; y++) {
        i64 sy = (2 * y + 1) * from->height / (2 * i64(height));
        const u32* src = from->pixels() + sy * from->width;
        u32* dst = b->pixels() + y * width;
        for (i64 x = 0; x < width; x++) dst[x] = src[(2 * x + 1) * from->width / (2 * i64(width))];
    }
    return make_handle(b);
}

u32 flip_vertical(u32 node) {
    Bitmap* from = existing_bitmap(node);
    Bitmap* b = new_bitmap(from->width, from->height);
    for (i64 y = 0; y < from->height; y++)
        std::memcpy(b->pixels() + y * from->width, from->pixels() + (from->height - 1 - y) * from->width,
                    size_t(from->width) * 4);
    return make_handle(b);
}

// --- Files and data --------------------------------------------------------------

i32 detect_format(const u8* p, i64 n) {
    auto starts = [&](const char* magic, i64 k) { return n >= k && std::memcmp(p, magic, size_t(k)) == 0; };
    if (starts("\x89PNG", 4)) return FORMAT_PNG;
    if (starts("\xFF\xD8\xFF", 3)) return FORMAT_JPEG;
    if (starts("BM", 2)) return FORMAT_BMP;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return FORMAT_GIF;
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return FORMAT_TIFF;
    return -1;
}

u32 load_memory(const u8* bytes, i64 length) {
    if (length <= 0) return 0;
    size_t n = size_t(length);
    image_codec::Bitmap* b = nullptr;
    switch (detect_format(bytes, length)) {
        case FORMAT_PNG: b = image_codec::decode_png(bytes, n); break;
        case FORMAT_JPEG: b = image_codec::decode_jpeg(bytes, n); break;
        case FORMAT_BMP: b = image_codec::decode_bmp(bytes, n); break;
        case FORMAT_GIF: b = image_codec::decode_gif(bytes, n); break;
        case FORMAT_TIFF: b = image_codec::decode_tiff(bytes, n); break;
        default: return 0;
    }
    return b ? make_handle(b) : 0;
}

namespace {

// Files larger than this hold no image within the limits: the largest
// uncompressed one (a BMP of 2 GiB of pixels) is far smaller.
constexpr i64 MAX_FILE_BYTES = 2 * MAX_LENGTH + 4096;

// The whole file in a heap block (its length in `n`); null when it cannot be
// read. `too_large` tells a file that was read but cannot hold an image.
u8* read_whole_file(const char* path, i64* n, bool* too_large) {
    *too_large = false;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    u8* data = nullptr;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (st.st_size > MAX_FILE_BYTES) {
            *too_large = true;
        } else {
            i64 size = i64(st.st_size);
            data = static_cast<u8*>(std::malloc(size_t(size > 0 ? size : 1)));
            i64 got = 0;
            while (data && got < size) {
                ssize_t k = ::read(fd, data + got, size_t(size - got));
                if (k < 0 && errno == EINTR) continue;
                if (k <= 0) break;
                got += k;
            }
            if (data && got < size) {   // the file shrank, or a read failed
                std::free(data);
                data = nullptr;
            }
            *n = got;
        }
    }
    ::close(fd);
    return data;
}

}  // namespace

u32 load_file(const char* path, bool* readable) {
    i64 n = 0;
    bool too_large = false;
    u8* data = read_whole_file(path, &n, &too_large);
    *readable = data != nullptr || too_large;
    if (!data) return 0;
    // Decoded before the record is made, so the heap block is freed on every
    // way out (a record's allocation never raises).
    image_codec::Bitmap* b = nullptr;
    switch (detect_format(data, n)) {
        case FORMAT_PNG: b = image_codec::decode_png(data, size_t(n)); break;
        case FORMAT_JPEG: b = image_codec::decode_jpeg(data, size_t(n)); break;
        case FORMAT_BMP: b = image_codec::decode_bmp(data, size_t(n)); break;
        case FORMAT_GIF: b = image_codec::decode_gif(data, size_t(n)); break;
        case FORMAT_TIFF: b = image_codec::decode_tiff(data, size_t(n)); break;
        default: break;
    }
    std::free(data);
    return b ? make_handle(b) : 0;
}

bool encoder_exists_q(i32 format) { return format >= FORMAT_BMP && format <= FORMAT_TIFF; }

bool encode(u32 node, Cell* destination, i32 format) {
    if (!encoder_exists_q(format)) {
        const char* message = "Cannot find image encoder";
        console::write(reinterpret_cast<const u8*>(message), u32(std::strlen(message)), 1, true);
        return false;
    }
    if (!node) {
        binary::make_at(destination, 0);
        return true;
    }
    const Bitmap* b = existing_bitmap(node);
    // The encoded bytes, freed on every way out.
    struct Encoded {
        image_codec::Output out;
        Encoded() { image_codec::output_init(&out); }
        ~Encoded() { image_codec::output_free(&out); }
    } e;
    image_codec::Output* out = &e.out;
    bool ok = false;
    switch (format) {
        case FORMAT_BMP: ok = image_codec::encode_bmp(b, out); break;
        case FORMAT_PNG: ok = image_codec::encode_png(b, out); break;
        case FORMAT_GIF: ok = image_codec::encode_gif(b, out); break;
        case FORMAT_JPEG: ok = image_codec::encode_jpeg(b, out); break;
        default: ok = image_codec::encode_tiff(b, out); break;
    }
    if (!ok || out->failed || out->size == 0) return false;
    // The binary's allocation may collect: the output is a heap block, and
    // the destination a cell the caller roots.
    binary::make_at(destination, i64(out->size));
    SeriesBuffer* s = node_buffer(destination->w2);
    std::memcpy(series::head(s), out->data, out->size);
    s->tail = s->offset + u32(out->size);
    return true;
}

void init() { image_class = handle_table::register_type(0, release_bitmap); }

}  // namespace image_backend
}  // namespace zir
