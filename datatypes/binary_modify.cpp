// binary!: the bytes a value puts into a binary, and the actions that change a
// binary in place (insert, append, change, trim).
//
// Every change follows the change-handler rule (datatypes/series.hpp): the
// bytes that go in are settled into a buffer of their own before the owner's
// report, which may change the binary and the value alike, and where they go
// is worked out after it.
#include <algorithm>

#include "datatypes/binary.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace binary {

namespace {

using series::head_index;
using series::words;

[[noreturn]] void no_memory() { fire(ERR_INTERNAL, "no-memory"); }

inline bool owned_q(const Cell* series) { return (series::buffer_of(series)->flags & SERIES_OWNED) != 0; }

// The bytes a value of n bytes gives under a part: part bytes when
// 1 <= part < n, else all of them.
inline i64 cut(i64 part, i64 n) { return part >= 1 && part < n ? part : n; }

inline i64 put(std::vector<u8>* out, const u8* p, i64 n) {
    if (out && n > 0) out->insert(out->end(), p, p + n);
    return n;
}

// The UTF-8 of a text from its head, at most `part` bytes (no limit when
// below 1): with `whole`, only characters that fit entirely.
i64 put_text(std::vector<u8>* out, const Cell* text, i64 part, bool whole) {
    SeriesBuffer* s = node_buffer(text->w2);
    u32 unit = series::unit_of(s);
    i64 len = series::length_of(s);
    i64 h = std::min<i64>(head_index(text), len);
    const u8* p = series::head(s) + h * unit;
    i64 limit = part >= 1 ? part : MAX_LENGTH;
    i64 written = 0;
    for (i64 i = h; i < len && written < limit; i++, p += unit) {
        u32 cp = string::get_char(p, unit);
        u8 bytes[4];
        i64 k = unicode::cp_to_utf8(cp, bytes);
        if (written + k > limit) {
            if (whole) break;
            k = limit - written;
        }
        written += put(out, bytes, k);
    }
    return written;
}

[[noreturn]] void bad_to_arg(const Cell* value) {
    Cell type;
    datatype::make_at(&type, TYPE_BINARY);
    fire(ERR_SCRIPT, "bad-to-arg", &type, value);
}

}  // namespace

i64 insert_value(std::vector<u8>* out, const Cell* value_in, i64 part, bool only, i32 mode) {
    const Cell value = *value_in;
    u32 t = TYPE_OF(&value);
    switch (t) {
        case TYPE_CHAR: {
            u8 bytes[4];
            return put(out, bytes, cut(part, unicode::cp_to_utf8(value.w2, bytes)));
        }
        case TYPE_INTEGER: {
            u8 byte = out ? byte_of(&value) : u8(value.w2);
            return put(out, &byte, 1);
        }
        case TYPE_BINARY: {
            SeriesBuffer* s = node_buffer(value.w2);
            i64 len = series::length_of(s);
            i64 h = std::min<i64>(head_index(&value), len);
            return put(out, series::head(s) + h, cut(part, len - h));
        }
        case TYPE_TUPLE: {
            // Its bytes lie in payload words 1..3, the first in word 1's low byte.
            i64 n = (value.header >> 19) & 0xF;
            return put(out, reinterpret_cast<const u8*>(&value.w1), cut(part, n));
        }
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: {
            // Forming a value (change) allocates: the block is held and its
            // cells are read again each time. A block inside itself has no
            // end of bytes.
            if (cycles::find_q(value.w2)) fire(ERR_INTERNAL, "no-cycle");
            cycles::Guard guard(value.w2);
            collector::RootCell block(value);
            i64 total = 0, left = part, values = 0;
            for (i32 i = head_index(block.get()); i < series::abs_length(series::buffer_of(block.get())); i++) {
                if (only ? part >= 1 && left < 1 : part >= 1 && values >= part) break;
                const Cell item = series::head_cells(series::buffer_of(block.get()))[i];
                i64 n = insert_value(out, &item, only ? left : -1, only, mode);
                total += n;
                left -= n;
                values++;
            }
            return total;
        }
        default:
            if (any_text_q(t)) return put_text(out, &value, part, true);
            if (mode != MODE_CHANGE) bad_to_arg(&value);
            collector::RootCell text;
            string::make_at(text.get(), 16, 1);
            actions::form(&value, text.get(), nullptr, PART_UNLIMITED);
            return put_text(out, text.get(), part, false);
    }
}

namespace {

// Replaces the `replaced` bytes at `at` by `times` copies of `bytes`.
void splice(Cell* series, i64 at, i64 replaced, const std::vector<u8>& bytes, i64 times) {
    SeriesBuffer* s = series::buffer_of(series);
    i64 len = series::length_of(s);
    i64 n = i64(bytes.size());
    i64 total = n * times;
    i64 after = len - replaced + total;
    if (after > MAX_LENGTH - 15) no_memory();
    if (i64(s->offset) + after > i64(s->size)) {
        // The exact size when that at least doubles the buffer, else a doubling.
        i64 size = std::min<i64>(std::max<i64>(after, 2 * i64(s->size)), MAX_LENGTH - 15);
        s = memory::expand_series(s, size);
    }
    u8* base = series::head(s);
    std::memmove(base + at + total, base + at + replaced, size_t(len - at - replaced));
    if (n > 0) {
        std::memcpy(base + at, bytes.data(), size_t(n));
        if (times > 1) memory::fill_repeat(base + at, n, times);
    }
    s->tail = s->offset + u32(after);
}

// The bytes of a value times a count, refused past the 32-bit limit.
i64 total_of(const std::vector<u8>& bytes, i64 times) {
    i64 total = i64(bytes.size()) * times;
    if (times > MAX_LENGTH || total > MAX_LENGTH) no_memory();
    return total;
}

}  // namespace

// --- insert and append ------------------------------------------------------------------

Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append) {
    i64 limit = part ? integer::get(part) : -1;
    i64 times = dup ? integer::get(dup) : 1;
    i32 h = series::clamp_head(series);
    i32 len = series::abs_length(series::buffer_of(series));
    bool at_tail = append || h >= len;
    if (times < 1) {
        if (append) series->w1 = 0;
        return series;
    }
    u32 vt = TYPE_OF(value);
    if (at_tail && times == 1 && limit < 0 && !owned_q(series) && (vt == TYPE_BINARY || vt == TYPE_INTEGER)) {
        // The common appends in one step: no owner to tell first.
        if (vt == TYPE_INTEGER) {
            u8 byte = byte_of(value);
            zs_append(series, &byte, 1);
        } else {
            SeriesBuffer* s = series::buffer_of(value);
            i64 vlen = series::length_of(s);
            i64 vh = std::min<i64>(head_index(value), vlen);
            zs_append(series, series::head(s) + vh, vlen - vh);
        }
        series->w1 = append ? 0 : u32(series::abs_length(series::buffer_of(series)));
        return series;
    }
    std::vector<u8> bytes;
    insert_value(&bytes, value, limit, only, MODE_WRITE);
    i64 total = total_of(bytes, times);
    if (total == 0) {
        series->w1 = append ? 0 : u32(h);
        return series;
    }
    bool owned = series::notify(series, append ? words.append : words.insert, value, at_tail ? len : h, i32(total));
    i32 at = at_tail ? series::abs_length(series::buffer_of(series)) : series::fit(series, h, 0).at;
    splice(series, at, 0, bytes, times);
    if (owned) series::notify(series, append ? words.appended : words.inserted, value, at, i32(total));
    series->w1 = append ? 0 : u32(at + total);
    return series;
}

// --- change -------------------------------------------------------------------------------

Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    i64 times = dup ? integer::get(dup) : 1;
    if (times < 1) return series;
    i32 h = series::clamp_head(series);
    std::vector<u8> bytes;
    insert_value(&bytes, value, -1, only, MODE_CHANGE);
    i64 total = total_of(bytes, times);
    // Bytes replaced: /part's count, else as many as arrive.
    i64 wanted = part ? integer::get(part) : total;
    bool owned = series::notify(series, words.change, value, h, i32(total));
    series::Span span = series::fit(series, h, wanted);
    splice(series, span.at, span.n, bytes, times);
    if (owned) series::notify(series, words.changed, value, span.at, i32(total));
    i64 after = span.at + total;
    i32 len = series::abs_length(series::buffer_of(series));
    series->w1 = u32(after < len ? after : len);
    return series;
}

// --- trim -----------------------------------------------------------------------------------

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    if (all || with) {
        // String's removal of every listed element; /all alone removes zeros.
        Cell zero;
        cell::init(&zero, TYPE_INTEGER);
        return string::trim(series, false, false, false, false, true, with ? with : &zero);
    }
    if (auto_ || lines) fire(ERR_INTERNAL, "not-done");
    i32 h = series::clamp_head(series);
    i32 n = series::abs_length(series::buffer_of(series));
    if (h >= n) return series;
    bool owned = series::notify(series, words.trim, nullptr, h, n - h);
    series::Span span = series::fit(series, h, series::TO_TAIL);
    SeriesBuffer* s = series::buffer_of(series);
    u8* p = series::element_at(s, span.at);
    i64 from = 0, to = span.n;
    // Zeros go from the head end unless only /tail was asked, from the tail
    // end unless only /head was.
    if (!(tail && !head))
        while (from < to && p[from] == 0) from++;
    if (!(head && !tail))
        while (to > from && p[to - 1] == 0) to--;
    std::memmove(p, p + from, size_t(to - from));
    s->tail = s->offset + u32(span.at + (to - from));
    if (owned) series::notify(series, words.trimmed, nullptr, span.at, i32(to - from));
    return series;
}

}  // namespace binary
}  // namespace zir
