// Image codecs: what the five containers share (the output buffer, the size
// checks) and the colour reduction of GIF; see image_codec.hpp.
#include "datatypes/image_codec.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace zir {
namespace image_codec {

// --- Output ----------------------------------------------------------------------

size_t output_limit = size_t(MAX_LENGTH - 15);

void output_init(Output* out) { *out = Output{nullptr, 0, 0, false}; }

bool output_write(Output* out, const void* bytes, size_t n) {
    if (out->failed) return false;
    // Past the limit the bytes could never become a binary.
    if (n > output_limit || out->size > output_limit - n) {
        out->failed = true;
        return false;
    }
    if (n > out->capacity - out->size) {
        size_t want = std::max({out->size + n, out->capacity * 2, size_t(4096)});
        void* grown = std::realloc(out->data, want);
        if (!grown) {
            out->failed = true;
            return false;
        }
        out->data = static_cast<u8*>(grown);
        out->capacity = want;
    }
    if (n) std::memcpy(out->data + out->size, bytes, n);
    out->size += n;
    return true;
}

void output_free(Output* out) {
    std::free(out->data);
    output_init(out);
}

// --- Sizes -----------------------------------------------------------------------

bool decodable_size_q(i64 width, i64 height) {
    return image_backend::size_fits_q(width, height) && width * height <= image_backend::decode_pixel_limit;
}

bool opaque_q(const Bitmap* bitmap) {
    const u32* p = bitmap->pixels();
    for (i64 i = 0, n = bitmap->count(); i < n; i++)
        if ((p[i] >> 24) != 0xFF) return false;
    return true;
}

// --- Colour reduction ------------------------------------------------------------

namespace {

// Opacity below this is transparent in a GIF, which has no partial alpha.
constexpr u32 GIF_OPAQUE_FROM = 128;

inline bool transparent_q(u32 pixel) { return (pixel >> 24) < GIF_OPAQUE_FROM; }
inline u32 channel(u32 rgb, int c) { return (rgb >> (16 - 8 * c)) & 0xFF; }

struct Entry {
    u32 rgb;
    u32 count;
};

// A box of the colour cube: entries [begin, end) of the entry array.
struct Box {
    size_t begin, end;
    u32 lo[3], hi[3];
    u64 pixels;
};

void measure(Box& box, const std::vector<Entry>& entries) {
    for (int c = 0; c < 3; c++) {
        box.lo[c] = 255;
        box.hi[c] = 0;
    }
    box.pixels = 0;
    for (size_t i = box.begin; i < box.end; i++) {
        for (int c = 0; c < 3; c++) {
            u32 v = channel(entries[i].rgb, c);
            box.lo[c] = std::min(box.lo[c], v);
            box.hi[c] = std::max(box.hi[c], v);
        }
        box.pixels += entries[i].count;
    }
}

int longest_side(const Box& box) {
    int best = 0;
    for (int c = 1; c < 3; c++)
        if (box.hi[c] - box.lo[c] > box.hi[best] - box.lo[best]) best = c;
    return best;
}

// Median cut of the distinct colours (sorted by colour, with their pixel
// counts) into at most `wanted` boxes; each entry's box is written into
// `box_of` (parallel to the entries as sorted on return) and each box's mean
// colour into `colours`. Answers the number of boxes.
i32 median_cut(std::vector<Entry>& entries, i32 wanted, std::vector<u16>& box_of, u32* colours) {
    std::vector<Box> boxes;
    Box all{0, entries.size(), {}, {}, 0};
    measure(all, entries);
    boxes.push_back(all);
    while (i32(boxes.size()) < wanted) {
        // The box with the widest side splits next; a box of one colour
        // cannot split.
        i32 pick = -1;
        u32 widest = 0;
        for (size_t b = 0; b < boxes.size(); b++) {
            const Box& box = boxes[b];
            if (box.end - box.begin < 2) continue;
            int c = longest_side(box);
            u32 w = box.hi[c] - box.lo[c];
            if (pick < 0 || w > widest) {
                pick = i32(b);
                widest = w;
            }
        }
        if (pick < 0) break;
        Box box = boxes[size_t(pick)];
        int c = longest_side(box);
        std::sort(entries.begin() + ptrdiff_t(box.begin), entries.begin() + ptrdiff_t(box.end),
                  [c](const Entry& a, const Entry& b) { return channel(a.rgb, c) < channel(b.rgb, c); });
        // Split where half the box's pixels lie below, leaving each side at
        // least one colour.
        u64 below = 0;
        size_t cut = box.begin + 1;
        for (size_t i = box.begin; i + 1 < box.end; i++) {
            below += entries[i].count;
            cut = i + 1;
            if (2 * below >= box.pixels) break;
        }
        Box left{box.begin, cut, {}, {}, 0}, right{cut, box.end, {}, {}, 0};
        measure(left, entries);
        measure(right, entries);
        boxes[size_t(pick)] = left;
        boxes.push_back(right);
    }
    for (size_t b = 0; b < boxes.size(); b++) {
        u64 sum[3] = {0, 0, 0};
        for (size_t i = boxes[b].begin; i < boxes[b].end; i++) {
            for (int c = 0; c < 3; c++) sum[c] += u64(channel(entries[i].rgb, c)) * entries[i].count;
            box_of[i] = u16(b);
        }
        u64 n = boxes[b].pixels;
        u32 mean[3];
        for (int c = 0; c < 3; c++) mean[c] = u32((sum[c] + n / 2) / n);
        colours[b] = mean[0] << 16 | mean[1] << 8 | mean[2];
    }
    return i32(boxes.size());
}

bool reduce(const Bitmap* bitmap, Palette* palette, u8* indexes) {
    const u32* px = bitmap->pixels();
    i64 n = bitmap->count();
    std::vector<u32> colours;
    colours.reserve(size_t(n));
    bool any_transparent = false;
    for (i64 i = 0; i < n; i++) {
        if (transparent_q(px[i])) any_transparent = true;
        else colours.push_back(px[i] & 0xFFFFFF);
    }
    std::sort(colours.begin(), colours.end());
    std::vector<Entry> entries;
    for (size_t i = 0; i < colours.size();) {
        size_t j = i;
        while (j < colours.size() && colours[j] == colours[i]) j++;
        entries.push_back(Entry{colours[i], u32(j - i)});
        i = j;
    }
    colours = std::vector<u32>();
    i32 room = any_transparent ? 255 : 256;
    // The entries sorted by colour, each with its palette index, for the
    // lookup of every pixel.
    std::vector<Entry> lookup;
    i32 used;
    if (i32(entries.size()) <= room) {
        used = i32(entries.size());
        for (i32 i = 0; i < used; i++) {
            palette->colours[i] = entries[size_t(i)].rgb;
            lookup.push_back(Entry{entries[size_t(i)].rgb, u32(i)});
        }
    } else {
        std::vector<u16> box_of(entries.size());
        used = median_cut(entries, room, box_of, palette->colours);
        for (size_t i = 0; i < entries.size(); i++) lookup.push_back(Entry{entries[i].rgb, box_of[i]});
        std::sort(lookup.begin(), lookup.end(), [](const Entry& a, const Entry& b) { return a.rgb < b.rgb; });
    }
    palette->transparent = -1;
    if (any_transparent) {
        palette->transparent = used;
        palette->colours[used++] = 0;
    }
    if (used == 0) palette->colours[used++] = 0;   // no pixel at all is still one entry
    palette->count = used;
    for (i64 i = 0; i < n; i++) {
        if (transparent_q(px[i])) {
            indexes[i] = u8(palette->transparent);
            continue;
        }
        u32 rgb = px[i] & 0xFFFFFF;
        auto at = std::lower_bound(lookup.begin(), lookup.end(), rgb,
                                   [](const Entry& e, u32 v) { return e.rgb < v; });
        indexes[i] = u8(at->count);
    }
    return true;
}

}  // namespace

bool reduce_colours(const Bitmap* bitmap, Palette* palette, u8* indexes) {
    try {
        return reduce(bitmap, palette, indexes);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace image_codec
}  // namespace zir
