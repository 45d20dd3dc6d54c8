// image!: positions, pixels as tuples, the series actions, mold, comparison
// and the way to the codecs; see image.hpp. The pixels themselves live in the
// image backend (image_backend.cpp), whose bitmaps never move: a pointer to
// pixels stays good across allocations, but the image! cell that leads to
// them is copied or rooted like any other value.
#include "datatypes/image.hpp"

#include "services/clipboard.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace image {

Cell* (*face_to_image)(const Cell* face, Cell* result) = nullptr;

namespace {

using image_backend::Bitmap;

// The words of path access, made at start-up.
struct Words {
    i32 size, argb, rgb, alpha;
};
Words words;

// Pixels a mold writes on one line.
constexpr i64 PIXELS_A_LINE = 10;
// From this many bytes of pixels on, a mold starts them on a line of their own.
constexpr i64 BYTES_ON_OWN_LINE = 31;

Cell* fresh_result() {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    return out;
}

Cell* none_cell() { return const_cast<Cell*>(&none::value); }

[[noreturn]] void bad_media() { fire(ERR_ACCESS, "bad-media"); }

// The bitmap of an image, or `access bad-media` for one without pixels or
// whose bitmap was released.
Bitmap* bitmap_of(const Cell* img) {
    Bitmap* b = img->w2 ? image_backend::bitmap_of(img->w2) : nullptr;
    if (!b) bad_media();
    return b;
}

// An image without pixels has no record that an owner could hold.
bool notify(const Cell* img, i32 word, const Cell* value, i32 index, i32 part) {
    return img->w2 && series::notify(img, word, value, index, part);
}

inline u32 with_alpha(u32 pixel, u32 transparency) { return (pixel & 0x00FFFFFF) | (255 - (transparency & 255)) << 24; }

}  // namespace

// --- Pixels and tuples -----------------------------------------------------------

u32 pixel_of_tuple(const Cell* t) {
    u32 rgb = u32(tuple::byte_at(t, 0)) << 16 | u32(tuple::byte_at(t, 1)) << 8 | tuple::byte_at(t, 2);
    return with_alpha(rgb, tuple::length_of(t) >= 4 ? tuple::byte_at(t, 3) : 0);
}

Cell* tuple_of_pixel(Cell* out, u32 pixel) {
    return tuple::make_rgba(out, i32(pixel >> 16 & 255), i32(pixel >> 8 & 255), i32(pixel & 255),
                            i32(255 - (pixel >> 24)));
}

// --- Values ----------------------------------------------------------------------

Cell* make_at(Cell* c, u32 record) {
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_IMAGE;
    c->w1 = 0;
    c->w2 = record;
    c->w3 = record ? image_backend::size_word(record) : 0;
    return c;
}

Cell* push(const Cell* img) { return stack::push(img); }

Cell* get_pixel(const Cell* img, i64 position) {
    if (position < 0 || position >= count_of(img)) return none_cell();
    u32 pixel = bitmap_of(img)->pixels()[position];
    return tuple_of_pixel(fresh_result(), pixel);
}

i64 get_position(const Cell* img, const Cell* index, i32 base, bool* out_of_range) {
    i64 w = width_of(img), h = height_of(img);
    i64 i;
    bool outside = false;
    if (TYPE_OF(index) == TYPE_PAIR) {
        i64 x = pair::x_of(index), y = pair::y_of(index);
        if (base == 1) outside = x < 1 || x > w || y < 1 || y > h;
        else outside = !(x >= 0 && x < w && y >= 0 && y < h);
        if (base == 1 && y > 0) y--;
        i = y * w + x;
    } else {
        i = integer::get(index);
    }
    if (base == 1 && i < 1) base = 0;
    i64 count = count_of(img);
    i64 position = i64(head_of(img)) + i - base;
    if (position < 0) {
        position = 0;
        i = 0;
    } else if (position >= count) {
        position = count;
        i = 0;
    }
    if (out_of_range) *out_of_range = outside || i == 0;
    return position;
}

namespace {

Cell* extract_into(const Cell* img, i32 kind, Cell* out) {
    i64 n = count_of(img);
    i64 unit = kind == KIND_ALPHA ? 1 : kind == KIND_RGB ? 3 : 4;
    // The bitmap never moves: found before the binary's allocation, it is
    // still good after it.
    const Bitmap* b = n ? bitmap_of(img) : nullptr;
    binary::make_at(out, n * unit);
    if (!n) return out;
    SeriesBuffer* s = node_buffer(out->w2);
    u8* p = series::head(s);
    const u32* px = b->pixels();
    switch (kind) {
        case KIND_ALPHA:
            for (i64 i = 0; i < n; i++) p[i] = u8(255 - (px[i] >> 24));
            break;
        case KIND_RGB:
            for (i64 i = 0; i < n; i++) {
                p[3 * i] = u8(px[i] >> 16);
                p[3 * i + 1] = u8(px[i] >> 8);
                p[3 * i + 2] = u8(px[i]);
            }
            break;
        default: std::memcpy(p, px, size_t(n) * 4); break;
    }
    s->tail = s->offset + u32(n * unit);
    return out;
}

Cell* to_binary(const Cell* img, Cell* result) { return extract_into(img, KIND_ARGB, result); }

}  // namespace

Cell* extract_data(const Cell* img, i32 kind) { return extract_into(img, kind, fresh_result()); }

Cell* set_data(Cell* img, Cell* value, i32 kind) {
    u32 t = TYPE_OF(value);
    if (t != TYPE_BINARY && t != TYPE_TUPLE && t != TYPE_INTEGER) fire(ERR_SCRIPT, "invalid-arg", value);
    bool owned = notify(img, series::words.poke, value, head_of(img), 0);
    // After the report: the value and the image as they are now.
    i64 n = count_of(img);
    if (n == 0) return value;
    u32* px = bitmap_of(img)->pixels();
    if (TYPE_OF(value) == TYPE_BINARY) {
        const u8* bytes = binary::zs_head(value);
        i64 length = binary::zs_length_q(value);
        switch (kind) {
            case KIND_ARGB: std::memcpy(px, bytes, size_t(std::min(length, n * 4))); break;
            case KIND_ALPHA:
                for (i64 i = 0, k = std::min(length, n); i < k; i++) px[i] = with_alpha(px[i], bytes[i]);
                break;
            default:
                for (i64 i = 0, k = std::min(length / 3, n); i < k; i++)
                    px[i] = (px[i] & 0xFF000000) | u32(bytes[3 * i]) << 16 | u32(bytes[3 * i + 1]) << 8 |
                            bytes[3 * i + 2];
                break;
        }
    } else if (TYPE_OF(value) == TYPE_TUPLE || TYPE_OF(value) == TYPE_INTEGER) {
        // A colour read as a little-endian word: R, G, B, then a transparency
        // (0 for a tuple of three bytes, whose fourth byte is 0).
        u32 c = TYPE_OF(value) == TYPE_TUPLE ? value->w1 : u32(integer::get(value));
        u32 rgb = (c & 255) << 16 | (c & 0xFF00) | (c >> 16 & 255);
        for (i64 i = 0; i < n; i++) {
            switch (kind) {
                case KIND_ARGB: px[i] = with_alpha(rgb, c >> 24); break;
                case KIND_RGB: px[i] = (px[i] & 0xFF000000) | rgb; break;
                default: px[i] = with_alpha(px[i], c); break;
            }
        }
    } else {
        fire(ERR_SCRIPT, "invalid-arg", value);   // the handler put another value there
    }
    if (owned) notify(img, series::words.poked, value, head_of(img), 0);
    return value;
}

// --- Files and data --------------------------------------------------------------

bool known_format_q(const Cell* bin) {
    return image_backend::detect_format(binary::zs_head(const_cast<Cell*>(bin)), binary::zs_length_q(bin)) >= 0;
}

Cell* load_binary(const Cell* bin) {
    if (!known_format_q(bin)) return none_cell();
    // The bytes lie in the binary's buffer: decoding allocates no series, so
    // it stays put until the record is made.
    u32 node = image_backend::load_memory(binary::zs_head(const_cast<Cell*>(bin)), binary::zs_length_q(bin));
    if (!node) bad_media();
    return make_at(fresh_result(), node);
}

Cell* load_file(Cell* cell, const Cell* file) {
    cell::init(cell, TYPE_UNSET);
    if (!any_text_q(TYPE_OF(file))) fire(ERR_ACCESS, "cannot-open", file);
    std::string path = file::to_os_path(file);
    bool readable = false;
    u32 node = image_backend::load_file(path.c_str(), &readable);
    if (!node) {
        if (!readable) fire(ERR_ACCESS, "cannot-open", file);
        bad_media();
    }
    return make_at(cell, node);
}

Cell* decode(const Cell* source) {
    if (TYPE_OF(source) == TYPE_BINARY) {
        Cell* out = load_binary(source);
        if (TYPE_OF(out) == TYPE_NONE) bad_media();
        return out;
    }
    return load_file(fresh_result(), source);
}

Cell* encode(const Cell* img, Cell* destination, i32 format) {
    if (img->w3 == 0) bad_media();
    u32 node = img->w2;
    if (!destination) destination = fresh_result();
    if (!image_backend::encoder_exists_q(format)) {
        image_backend::encode(node, destination, format);   // says there is no such encoder
        return none_cell();
    }
    if (!image_backend::encode(node, destination, format)) bad_media();
    return destination;
}

Cell* scale(const Cell* img, i32 width, i32 height) {
    u32 node = img->w2 ? image_backend::scale(img->w2, width, height) : 0;
    return make_at(fresh_result(), node);
}

// --- Drawing ---------------------------------------------------------------------

u32* lock_pixels(const Cell* img, image_backend::Lock* lock) {
    if (!img->w2) bad_media();
    *lock = image_backend::lock_bitmap(img->w2, true);
    return lock->pixels;
}

void unlock_pixels(const Cell* img, image_backend::Lock* lock, bool changed) {
    image_backend::unlock_bitmap(*lock);
    // The drawing is done: only the report after it can be given.
    if (changed) notify(img, series::words.poked, &none::value, -1, -1);
}

void set_loop_words(const Cell* words, const Cell* img, i32 n) {
    stack::KeepTop keep;
    // Setting a word may run user code (an object's change handler) that
    // moves the words' block: each word and the image are read from copies.
    Cell* image = stack::push(img);
    Cell* list = stack::push(words);
    for (i32 i = 0; i < n; i++) {
        const Cell w = word::loop_word(list, i);
        Cell* word = stack::push(&w);
        Cell* value = get_pixel(image, i64(head_of(image)) + i);
        context::set(word, value);
        stack::top = word;
    }
}

void mark(const Cell* img) {
    if (img->w2) image_backend::mark(img->w2);
}

void release(const Cell* img) {
    if (img->w2) image_backend::release(img->w2);
}

// --- Actions ---------------------------------------------------------------------

namespace {

// Appends ASCII text; answers the part left.
i32 put(Cell* buffer, const char* text, i32 part) {
    string::append_literal(buffer, text);
    return part - i32(std::strlen(text));
}

i32 line(Cell* buffer, i32 indent, i32 part) { return block::new_line(buffer, std::max(indent, 0), part); }

void hex_byte(u8* out, u32 byte) {
    static const char digits[] = "0123456789ABCDEF";
    out[0] = u8(digits[byte >> 4 & 15]);
    out[1] = u8(digits[byte & 15]);
}

// The text of mold and form: "make image! [WxH #{RRGGBB...}]", the pixels
// from the head, then an alpha block of the whole image when one of them is
// not opaque. `indent` is the level of the lines inside.
i32 write_image(const Cell* value, Cell* buffer, bool only, bool flat, const Cell* arg, i32 part, i32 indent) {
    const Cell img = *value;   // the value may lie in a buffer that the output's growth moves
    if (!only) part = put(buffer, "make image! [", part);
    part = put(buffer, integer::form_signed(width_of(&img)), part);
    part = put(buffer, "x", part);
    part = put(buffer, integer::form_signed(height_of(&img)), part);
    if (!img.w2) {
        part = put(buffer, " #{}", part);
        if (!only) part = put(buffer, "]", part);
        return part;
    }
    // The bitmap never moves: its address holds while the output grows.
    const u32* px = bitmap_of(&img)->pixels();
    i64 count = count_of(&img);
    i64 head = std::min<i64>(head_of(&img), count);
    i64 n = count - head;
    part = put(buffer, " #{", part);
    bool lines = !flat && n * 3 >= BYTES_ON_OWN_LINE;
    if (lines) part = line(buffer, indent, part);
    bool translucent = false;
    u8 hex[6];
    for (i64 i = 0; i < n; i++) {
        if (arg && part < 1) return part;
        u32 p = px[head + i];
        translucent |= (p >> 24) != 255;
        hex_byte(hex, p >> 16);
        hex_byte(hex + 2, p >> 8);
        hex_byte(hex + 4, p);
        string::append_bytes(buffer, hex, 6);
        part -= 6;
        if (!flat && (i + 1) % PIXELS_A_LINE == 0) part = line(buffer, indent, part);
    }
    if (lines && n % PIXELS_A_LINE != 0) part = line(buffer, indent - 1, part);
    part = put(buffer, "}", part);
    if (translucent) {
        part = put(buffer, " #{", part);
        if (!flat) part = line(buffer, indent, part);
        for (i64 i = 0; i < count; i++) {
            if (arg && part < 1) return part;
            hex_byte(hex, 255 - (px[i] >> 24));
            string::append_bytes(buffer, hex, 2);
            part -= 2;
            if (!flat && (i + 1) % PIXELS_A_LINE == 0) part = line(buffer, indent, part);
        }
        if (!flat) part = line(buffer, indent - 1, part);
        part = put(buffer, "}", part);
    }
    if (!only) part = put(buffer, "]", part);
    return part;
}

// A new image of a rectangle of the image into `result`: the empty image
// when nothing of it lies inside.
Cell* copy_rect_into(const Cell* img, Cell* result, i64 x, i64 y, i64 w, i64 h) {
    u32 node = w > 0 && h > 0 ? image_backend::copy_rect(img->w2, x, y, w, h) : 0;
    return make_at(result, node);
}

[[noreturn]] void invalid_path(const Cell* path, const Cell* element) {
    fire(ERR_SCRIPT, "invalid-path", path ? path : &none::value, element);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, u32 type) {
    u32 st = TYPE_OF(spec);
    Cell size, rgb, alpha;
    bool has_rgb = false, has_alpha = false, has_colour = false;
    u32 colour = 0;
    if (st == TYPE_BLOCK && series::rest_length(spec) == 0) {
        if (TYPE_OF(proto) != TYPE_IMAGE) fire(ERR_SCRIPT, "invalid-arg", spec);
        return copy(proto, fresh_result(), nullptr, false, nullptr);
    }
    if (st == TYPE_PAIR) {
        size = *spec;
    } else if (st == TYPE_BLOCK) {
        i32 n = series::rest_length(spec);
        const Cell* items = series::head_cells(series::buffer_of(spec)) + series::head_index(spec);
        size = items[0];
        if (TYPE_OF(&size) != TYPE_PAIR) fire(ERR_SCRIPT, "invalid-arg", &size);
        if (n >= 2) {
            if (TYPE_OF(&items[1]) == TYPE_BINARY) {
                rgb = items[1];
                has_rgb = true;
            } else if (TYPE_OF(&items[1]) == TYPE_TUPLE) {
                colour = pixel_of_tuple(&items[1]);
                has_colour = true;
            } else {
                fire(ERR_SCRIPT, "invalid-arg", &items[1]);
            }
        }
        if (n >= 3) {
            if (TYPE_OF(&items[2]) != TYPE_BINARY) fire(ERR_SCRIPT, "invalid-arg", &items[2]);
            alpha = items[2];
            has_alpha = true;
        }
    } else {
        return to(proto, spec, type);
    }
    i64 w = std::max<i64>(pair::x_of(&size), 0), h = std::max<i64>(pair::y_of(&size), 0);
    // Each side is 16 bits in the value, and the pixels may not pass the
    // language's 32-bit size limit.
    if (w > image_backend::MAX_SIDE || h > image_backend::MAX_SIDE || w * h * 4 > MAX_LENGTH)
        fire(ERR_SCRIPT, "invalid-arg", &size);
    u32 node = image_backend::make_bitmap(i32(w), i32(h), has_rgb ? &rgb : nullptr, has_alpha ? &alpha : nullptr,
                                          has_colour ? &colour : nullptr);
    Cell* out = make_at(fresh_result(), node);
    if (!node) out->w3 = u32(h) << 16 | u32(w);   // no pixels, but the sides asked for
    return out;
}

Cell* to(Cell*, Cell* spec, u32) {
    if (TYPE_OF(spec) == TYPE_IMAGE) return copy(spec, fresh_result(), nullptr, false, nullptr);
    if (TYPE_OF(spec) == TYPE_OBJECT && face_to_image) {
        if (Cell* made = face_to_image(spec, fresh_result())) return made;
    }
    Cell target;
    datatype::make_at(&target, TYPE_IMAGE);
    fire(ERR_SCRIPT, "bad-to-arg", &target, spec);
}

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    return write_image(value, buffer, false, false, arg, part, 0);
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool, bool flat, const Cell* arg, i32 part, i32 indent) {
    return write_image(value, buffer, only, flat, arg, part, indent + 1);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool, bool get, bool,
                bool) {
    u32 t = TYPE_OF(element);
    bool setting = value && !get;
    if (t == TYPE_INTEGER || t == TYPE_PAIR) {
        i32 index = t == TYPE_INTEGER ? integer::get(element) : 0;
        return setting ? poke(parent, index, value, element) : pick(parent, index, element);
    }
    if (!any_word_q(t)) invalid_path(path, element);
    i32 word = symbol::resolve(i32(element->w2));
    if (word == symbol::resolve(words.size)) {
        if (setting) invalid_path(path, element);
        return pair::push(width_of(parent), height_of(parent));
    }
    i32 kind = word == symbol::resolve(words.argb)    ? KIND_ARGB
               : word == symbol::resolve(words.rgb)   ? KIND_RGB
               : word == symbol::resolve(words.alpha) ? KIND_ALPHA
                                                      : -1;
    if (kind < 0) invalid_path(path, element);
    return setting ? set_data(parent, value, kind) : extract_data(parent, kind);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_IMAGE) return NOT_COMPARABLE;
    bool same = value->w2 == other->w2 && value->w1 == other->w1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (same && (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL)) return 0;
    if (!equality_op_q(op) && !sort_op_q(op)) return NOT_COMPARABLE;
    // The whole pixel memory from the first pixel; the sides themselves are
    // not compared.
    i64 a = count_of(value), b = count_of(other);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
    int d = std::memcmp(bitmap_of(value)->pixels(), bitmap_of(other)->pixels(), size_t(a) * 4);
    return d < 0 ? -1 : d > 0 ? 1 : 0;
}

Cell* change(Cell* series, Cell* value, Cell* part, bool, Cell* dup) {
    if (part) fire(ERR_INTERNAL, "not-done");
    if (dup) {
        i32 times = integer::get(dup);
        if (times > 1) fire(ERR_INTERNAL, "not-done");
        if (times < 1) return series;
    }
    if (TYPE_OF(value) == TYPE_TUPLE) {
        i64 head = head_of(series);
        if (head >= count_of(series)) return series;   // no pixel at the tail to change
        u32 pixel = pixel_of_tuple(value);
        bool owned = notify(series, series::words.change, value, i32(head), 1);
        bitmap_of(series)->pixels()[head] = pixel;
        series->w1 = u32(head + 1);
        if (owned) notify(series, series::words.changed, value, i32(head), 1);
        return series;
    }
    if (TYPE_OF(value) != TYPE_IMAGE) {
        Cell type;
        datatype::make_at(&type, TYPE_OF(value));
        fire(ERR_SCRIPT, "invalid-type", &type);
    }
    i64 count = count_of(series), head = head_of(series);
    if (head >= count || count_of(value) == 0) return series;
    i64 w = width_of(series), h = height_of(series);
    i64 col = head % w, row = head / w;
    i64 sw = width_of(value), sh = height_of(value);
    i64 cw = std::min(sw, w - col), ch = std::min(sh, h - row);
    bool owned = notify(series, series::words.change, value, i32(head), i32(cw * ch));
    // After the report the pixels are read as they are now. A source that is
    // this very bitmap is read from a copy, or rows written early would be
    // read again.
    u32* dst = bitmap_of(series)->pixels();
    const u32* src = bitmap_of(value)->pixels();
    std::vector<u32> own;
    if (src == dst) {
        own.assign(src, src + sw * sh);
        src = own.data();
    }
    for (i64 y = 0; y < ch; y++)
        std::memcpy(dst + (row + y) * w + col, src + y * sw, size_t(cw) * 4);
    series->w1 = u32((row + ch - 1) * w + col + cw);
    if (owned) notify(series, series::words.changed, value, i32(head), i32(cw * ch));
    return series;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    i64 w = width_of(value), h = height_of(value), count = count_of(value);
    if (!value->w2 || w == 0 || h == 0) return make_at(result, 0);
    i64 head = std::min<i64>(head_of(value), count);
    i64 col = head % w, row = head / w;
    if (!part) {
        if (head == 0) return make_at(result, image_backend::copy(value->w2));
        return copy_rect_into(value, result, col, row, w - col, h - row);
    }
    switch (TYPE_OF(part)) {
        case TYPE_PAIR: {
            i64 pw = pair::x_of(part), ph = pair::y_of(part);
            if (pw >= 1 && ph >= 1 && head < count) return copy_rect_into(value, result, col, row, pw, ph);
            if (pw < 0 && ph < 0 && head > 0) {
                // The rectangle ends at the head: just left of its column, down
                // to its row. A head in the first column ends the row above.
                if (col == 0) {
                    col = w;
                    row--;
                }
                i64 rw = std::min(-pw, col), rh = std::min(-ph, row + 1);
                return copy_rect_into(value, result, col - rw, row + 1 - rh, rw, rh);
            }
            return make_at(result, 0);
        }
        case TYPE_IMAGE: {
            if (part->w2 != value->w2) series::fire_refine_arg(series::words.part, part);
            i64 other = std::min<i64>(head_of(part), count);
            i64 first = std::min(head, other), last = std::max(head, other);
            i64 x = first % w, y = first / w;
            return copy_rect_into(value, result, x, y, last % w - x, last / w - y);
        }
        case TYPE_INTEGER: fire(ERR_INTERNAL, "not-done");
        default: series::fire_refine_arg(series::words.part, part);
    }
}

i32 length_q(const Cell* series) { return i32(count_of(series)); }

Cell* pick(Cell* series, i32 index, Cell* boxed) {
    Cell at;
    if (boxed) at = *boxed;
    else integer::make_at(&at, index);
    bool outside = false;
    i64 position = get_position(series, &at, 1, &outside);
    if (outside) return none_cell();
    return get_pixel(series, position);
}

Cell* poke(Cell* series, i32 index, Cell* value, Cell* boxed) {
    Cell at;
    if (boxed) at = *boxed;
    else integer::make_at(&at, index);
    bool outside = false;
    i64 position = get_position(series, &at, 1, &outside);
    if (outside) fire(ERR_SCRIPT, "out-of-range", &at);
    if (TYPE_OF(value) != TYPE_TUPLE) fire(ERR_SCRIPT, "invalid-arg", value);
    u32 pixel = pixel_of_tuple(value);
    bool owned = notify(series, series::words.poke, value, i32(position), 1);
    bitmap_of(series)->pixels()[position] = pixel;
    if (owned) notify(series, series::words.poked, value, i32(position), 1);
    return value;
}

namespace {

// --- Position actions: the image and its argument on the value stack; the
// result in the first cell.

void move_head(i32 base) {
    Cell* img = stack::arguments;
    const Cell* arg = img + 1;
    if (TYPE_OF(arg) != TYPE_INTEGER && TYPE_OF(arg) != TYPE_PAIR) fire(ERR_SCRIPT, "invalid-arg", arg);
    img->w1 = u32(get_position(img, arg, base, nullptr));
}
void at() { move_head(1); }
void skip() { move_head(0); }

void next() {
    Cell* img = stack::arguments;
    if (i64(head_of(img)) + 1 <= count_of(img)) img->w1++;
}
void to_tail() { stack::arguments->w1 = u32(count_of(stack::arguments)); }
void tail_q() { logic::box(head_of(stack::arguments) >= count_of(stack::arguments)); }

}  // namespace

// --- Registration ----------------------------------------------------------------

namespace {

// The clipboard exchanges images as encoded bytes: PNG out, any format we
// decode in.
void clipboard_png(const Cell* img, std::vector<u8>& out) {
    out.clear();
    if (count_of(img) == 0) return;
    Cell* saved = stack::top;
    out = binary::bytes_of(encode(img, nullptr, image_backend::FORMAT_PNG));
    stack::top = saved;
}

void clipboard_image(const u8* bytes, i64 n, Cell* out) {
    Cell* saved = stack::top;
    Cell* decoded = load_binary(binary::load(bytes, n));
    if (TYPE_OF(decoded) != TYPE_IMAGE) fire(ERR_ACCESS, "bad-media");
    *out = *decoded;
    stack::top = saved;
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_IMAGE, TYPE_SERIES, "image!");
    r.only_own();
    r.on<ACT_MAKE>(make).on<ACT_TO>(to).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path);
    r.on<ACT_COMPARE>(compare).on<ACT_AT>(at).on<ACT_CHANGE>(change).on<ACT_COPY>(copy);
    r.on<ACT_LENGTH_Q>(length_q).on<ACT_NEXT>(next).on<ACT_PICK>(pick).on<ACT_POKE>(poke).on<ACT_SKIP>(skip);
    r.on<ACT_TAIL>(to_tail).on<ACT_TAIL_Q>(tail_q);
    for (u32 slot : {ACT_BACK, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_MODIFY}) r.from_parent(slot);
    datatype::register_(r);
    collector::mark_image_hook = mark;
    binary::image_to_binary = to_binary;
    clipboard::encode_png = clipboard_png;
    clipboard::decode_image = clipboard_image;
}

void init_state() {
    words = Words{symbol::make("size"), symbol::make("argb"), symbol::make("rgb"), symbol::make("alpha")};
    image_backend::init();
}

}  // namespace image
}  // namespace zir
