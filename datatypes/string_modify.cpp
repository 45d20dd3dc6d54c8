// string!: the actions that change a string in place (append, insert,
// change, swap, take, trim, sort) and the string side of the set operations.
// file!, url!, tag!, email! and ref! inherit them.
//
// What a value puts into a string: a text value its code points from its
// head, a char! one code point, a tag! its text between angle brackets, a
// block each of its elements formed, anything else its formed text.
//
// Every change follows the change-handler rule (datatypes/series.hpp): the
// owner's handler runs at the report before the change and may change the
// string itself, so what is put in is settled before that report (copied
// when the string is owned), and where it goes is worked out after it.
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "datatypes/block_sort.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/sorting.hpp"

namespace zir {
namespace string {

namespace {

using series::head_index;
using series::words;

inline bool owned_q(const Cell* series) { return (series::buffer_of(series)->flags & SERIES_OWNED) != 0; }
[[noreturn]] void no_memory() { fire(ERR_INTERNAL, "no-memory"); }

// The unit a char! needs in a string: the mold writer's thresholds.
inline u32 char_unit(u32 cp) { return cp <= 0x7F ? 1 : cp <= 0xFFFF ? 2 : 4; }

// --- What goes in ---------------------------------------------------------------

// Values put in by their formed text (a tag's with its brackets).
inline bool formed_q(u32 type) { return !(any_text_q(type) && type != TYPE_TAG) && type != TYPE_CHAR; }

// Values whose formed text cannot read a series (so not the one written to).
inline bool scalar_q(u32 type) {
    return !any_series_q(type) && type != TYPE_CHAR && type != TYPE_OBJECT && type != TYPE_MAP &&
           type != TYPE_ERROR && type != TYPE_PORT && type != TYPE_BITSET && type != TYPE_SYMBOL &&
           type != TYPE_IMAGE;
}

// Writes a value's formed text onto the target's tail, at most `limit` code
// points (all when negative); answers how many it wrote. A block's elements
// are formed one after the other, each within what the limit leaves.
i64 form_onto(Cell* target, const Cell* value, i64 limit) {
    const Cell v = *value;
    i64 start = zs_abs_length(target);
    auto left = [&] { return limit < 0 ? i64(MAX_LENGTH) : limit - (zs_abs_length(target) - start); };
    auto cut = [&] {
        if (limit >= 0 && zs_abs_length(target) - start > limit) truncate_from(target, start + limit);
    };
    auto form_one = [&](const Cell* item) {
        Cell arg;
        cell::init(&arg, TYPE_INTEGER);
        arg.w2 = u32(i32(std::min<i64>(left(), MAX_LENGTH)));
        actions::form(item, target, limit < 0 ? nullptr : &arg, i32(arg.w2));
        cut();
    };
    u32 t = TYPE_OF(&v);
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        collector::RootCell block(v);
        for (i32 i = head_index(block.get()); i < series::abs_length(series::buffer_of(block.get())); i++) {
            if (left() <= 0) break;
            const Cell item = series::head_cells(series::buffer_of(block.get()))[i];
            form_one(&item);
        }
    } else if (t == TYPE_TAG) {
        if (left() > 0) append_char(target, '<');
        if (left() > 0) {
            Cell text = v;
            cell::set_type(&text, TYPE_STRING);
            concatenate(target, &text, i32(std::min<i64>(left(), MAX_LENGTH)), 0, true, CONCAT_APPEND);
        }
        if (left() > 0) append_char(target, '>');
    } else {
        form_one(&v);
    }
    return zs_abs_length(target) - start;
}

// What an insertion puts in: one code point, or the text of a string value
// from its head (`count` code points of it).
struct Source {
    bool single = false;
    u32 cp = 0;
    collector::RootCell text;
    i64 count = 0;
    u32 unit() const { return single ? char_unit(cp) : series::unit_of(series::buffer_of(&text.value)); }
};

// Settles what `value` puts into `series`, at most `limit` code points (all
// when negative). Formed values are formed into a string of their own; so is
// the text when the string is owned (the owner's handler runs before the
// change and could change it) or when it is the very string changed.
void settle(Source& src, Cell* series, const Cell* value, i64 limit) {
    u32 t = TYPE_OF(value);
    if (t == TYPE_CHAR) {
        src.single = true;
        src.cp = value->w2;
        src.count = limit == 0 ? 0 : 1;
        return;
    }
    if (formed_q(t)) {
        make_at(src.text.get(), 16, 1);
        src.count = form_onto(src.text.get(), value, limit);
        return;
    }
    i64 n = series::rest_length(value);
    if (limit >= 0 && limit < n) n = limit;
    src.count = n;
    src.text.value = *value;
    cell::set_type(src.text.get(), TYPE_STRING);
    if (owned_q(series) || value->w2 == series->w2) {
        Cell copy;
        cell::init(&copy, TYPE_UNSET);
        make_at(&copy, n > 0 ? n : 1, src.unit());
        src.text.value = copy;
        concatenate(src.text.get(), value, i32(n), 0, true, CONCAT_APPEND);
    }
}

// Replaces the `replaced` code points at `at` by `times` copies of the
// source, widening and growing the string as needed.
void splice(Cell* series, i64 at, i64 replaced, const Source& src, i64 times) {
    u32 node = series->w2;
    SeriesBuffer* s = node_buffer(node);
    u32 unit = series::unit_of(s);
    i64 len = series::length_of(s);
    i64 total = src.count * times;
    i64 after = len - replaced + total;
    if (after > MAX_LENGTH) no_memory();
    u32 wanted = std::max(unit, src.unit());
    if (wanted > unit) {
        s = widen_to(s, unit, wanted);
        unit = wanted;
    }
    i64 bytes = after * unit;
    if (i64(s->offset) + bytes > i64(s->size)) {
        // The exact size when that at least doubles the buffer, else a doubling.
        i64 size = bytes >= 2 * i64(s->size) ? bytes : 2 * i64(s->size);
        if (size > MAX_LENGTH - 15) size = bytes;
        if (bytes > MAX_LENGTH - 15) no_memory();
        s = memory::expand_series(s, size);
    }
    u8* base = series::head(s);
    std::memmove(base + (at + total) * unit, base + (at + replaced) * unit, size_t(len - at - replaced) * unit);
    u8* out = base + at * unit;
    if (src.single) {
        put_char(out, unit, src.cp);
    } else if (src.count > 0) {
        const Cell* text = &src.text.value;
        SeriesBuffer* t = series::buffer_of(text);
        u32 tu = series::unit_of(t);
        const u8* in = series::head(t) + i64(head_index(text)) * tu;
        if (tu == unit) std::memcpy(out, in, size_t(src.count) * unit);
        else for (i64 i = 0; i < src.count; i++) put_char(out + i * unit, unit, get_char(in + i * tu, tu));
    }
    if (times > 1 && src.count > 0) memory::fill_repeat(out, src.count * unit, times);
    s->tail = s->offset + u32(bytes);
}

i64 counted_times(const Cell* dup) { return dup ? integer::get(dup) : 1; }

// Appends a text value's code points from its head (at most `limit` when
// not negative) when the string is as wide and has room for them: nothing
// allocates, so nothing moves. False when it would need to (concatenate
// then does the whole work).
bool append_text_in_place(Cell* series, const Cell* value, i64 limit) {
    SeriesBuffer* t = series::buffer_of(series);
    SeriesBuffer* s = series::buffer_of(value);
    u32 tu = series::unit_of(t), su = series::unit_of(s);
    if (su > tu) return false;
    i64 n = series::length_of(s);
    i64 h = std::min<i64>(head_index(value), n);
    i64 count = n - h;
    if (limit >= 0 && limit < count) count = limit;
    if (count <= 0) return true;
    i64 len = series::length_of(t);
    if (i64(t->offset) + (len + count) * tu > i64(t->size)) return false;
    const u8* in = series::head(s) + h * su;
    u8* out = series::head(t) + len * tu;
    if (su == tu) std::memcpy(out, in, size_t(count) * tu);
    else for (i64 i = 0; i < count; i++) put_char(out + i * tu, tu, get_char(in + i * su, su));
    t->tail = t->offset + u32((len + count) * tu);
    return true;
}

// integer!'s form written onto the tail: ASCII digits, so the string never
// widens for them.
void append_integer(Cell* series, i32 value) {
    // The digits written backwards into a local buffer: the count is known
    // without a scan, and one-byte strings take them in one copy.
    char text[12];
    char* end = text + sizeof text;
    char* digits = end;
    u32 m = value < 0 ? 0u - u32(value) : u32(value);
    do *--digits = char('0' + m % 10);
    while ((m /= 10) != 0);
    if (value < 0) *--digits = '-';
    i64 n = end - digits;
    SeriesBuffer* s = series::buffer_of(series);
    u32 unit = series::unit_of(s);
    if (i64(s->tail) + n * unit > i64(s->size)) return append_bytes(series, reinterpret_cast<const u8*>(digits), n);
    u8* out = series::tail(s);
    if (unit == 1) std::memcpy(out, digits, size_t(n));
    else for (i64 i = 0; i < n; i++) put_char(out + i * unit, unit, u8(digits[i]));
    s->tail += u32(n * unit);
}

// A plain append (no /part, no /dup) of a char!, a text or an integer! to a
// string no owner watches, in one step; false for every other case.
bool plain_append(Cell* series, const Cell* value) {
    if (owned_q(series)) return false;
    u32 vt = TYPE_OF(value);
    if (vt == TYPE_CHAR) {
        append_char(series, value->w2);
    } else if (any_text_q(vt) && vt != TYPE_TAG && value->w2 != series->w2) {
        if (!append_text_in_place(series, value, -1)) concatenate(series, value, -1, 0, true, CONCAT_APPEND);
    } else if (vt == TYPE_INTEGER) {
        append_integer(series, integer::get(value));
    } else {
        return false;
    }
    // The whole cell in one store (see block::insert_one_q).
    cell::store(series, series->header, 0, series->w2, series->w3);
    return true;
}

}  // namespace

// --- append and insert --------------------------------------------------------------

Cell* insert(Cell* series, Cell* value, Cell* part, bool, Cell* dup, bool append) {
    if (append && !part && !dup && plain_append(series, value)) return series;
    i64 limit = part ? integer::get(part) : -1;
    i64 times = counted_times(dup);
    i32 h = series::clamp_head(series);
    bool at_tail = append || h >= zs_abs_length(series);
    if (times < 1) {
        if (append) series->w1 = 0;
        return series;
    }
    u32 vt = TYPE_OF(value);
    if (at_tail && times == 1 && !owned_q(series) && limit != 0) {
        // The common appends in one step: no owner to tell first.
        if (vt == TYPE_CHAR) {
            append_char(series, value->w2);
            series->w1 = append ? 0 : u32(zs_abs_length(series));
            return series;
        }
        if (any_text_q(vt) && vt != TYPE_TAG && value->w2 != series->w2) {
            if (!append_text_in_place(series, value, limit))
                concatenate(series, value, i32(limit < MAX_LENGTH ? limit : -1), 0, true, CONCAT_APPEND);
            series->w1 = append ? 0 : u32(zs_abs_length(series));
            return series;
        }
        if (vt == TYPE_INTEGER && limit < 0) {
            append_integer(series, integer::get(value));
            series->w1 = append ? 0 : u32(zs_abs_length(series));
            return series;
        }
    }
    if (at_tail && scalar_q(vt) && !owned_q(series)) {
        // Formed straight onto the tail: no owner to tell first, and the
        // value holds no text that the writing could change.
        i64 start = zs_abs_length(series);
        i64 count = form_onto(series, value, limit);
        if (times > 1 && count > 0) {
            if (count * times > MAX_LENGTH) no_memory();
            Source copies;
            copies.text.value = *series;
            copies.text.value.w1 = u32(start);
            copies.count = count;
            splice(series, start + count, 0, copies, times - 1);
        }
        series->w1 = append ? 0 : u32(zs_abs_length(series));
        return series;
    }
    Source src;
    settle(src, series, value, limit);
    i64 total = src.count * times;
    if (total > MAX_LENGTH) no_memory();
    if (total == 0) {
        series->w1 = append ? 0 : u32(h);
        return series;
    }
    i32 at = at_tail ? zs_abs_length(series) : h;
    bool owned = series::notify(series, append ? words.append : words.insert, value, at, i32(total));
    at = at_tail ? zs_abs_length(series) : series::fit(series, h, 0).at;
    splice(series, at, 0, src, times);
    if (owned) series::notify(series, append ? words.appended : words.inserted, value, at, i32(total));
    series->w1 = append ? 0 : u32(at + total);
    return series;
}

// --- change ---------------------------------------------------------------------------

Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    i32 h = series::clamp_head(series);
    if (h >= zs_abs_length(series)) {
        insert(series, value, nullptr, only, dup, true);
        series->w1 = u32(zs_abs_length(series));
        return series;
    }
    i64 times = counted_times(dup);
    if (times < 1) return series;
    Source src;
    settle(src, series, value, -1);
    i64 total = src.count * times;
    if (total > MAX_LENGTH) no_memory();
    // Code points replaced: /part's count, else as many as arrive.
    i64 wanted = part ? integer::get(part) : total;
    bool owned = series::notify(series, words.change, value, h, i32(total));
    series::Span span = series::fit(series, h, wanted);
    splice(series, span.at, span.n, src, times);
    if (owned) series::notify(series, words.changed, value, span.at, i32(total));
    i64 after = span.at + total;
    i32 len = zs_abs_length(series);
    series->w1 = u32(after < len ? after : len);
    return series;
}

// --- swap and take ----------------------------------------------------------------------

namespace {

// A binary! takes bytes only: a code point above 0xFF is refused as poke
// refuses it, never cut to its low eight bits.
inline void check_element(const Cell* series, u32 cp) {
    if (TYPE_OF(series) != TYPE_BINARY || cp <= 0xFF) return;
    Cell c;
    cell::init(&c, TYPE_CHAR);
    c.w2 = cp;
    fire(ERR_SCRIPT, "invalid-arg", &c);
}

inline void store_element(Cell* series, i32 index, u32 cp) {
    if (TYPE_OF(series) == TYPE_BINARY) *series::element_at(series::buffer_of(series), index) = u8(cp);
    else poke_char(series, index, cp);
}

}  // namespace

Cell* swap(Cell* series, Cell* other) {
    switch (TYPE_OF(other)) {
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_BINARY:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
            break;
        default:
            fire(ERR_SCRIPT, "invalid-arg", other);
    }
    if (series::rest_length(series) < 1 || series::rest_length(other) < 1) return series;
    i32 a = head_index(series), b = head_index(other);
    check_element(series, get_char_at(other, b));
    check_element(other, get_char_at(series, a));
    bool shared = series->w2 == other->w2;
    bool owned_a = series::notify(series, words.swap, other, a, 1);
    bool owned_b = !shared && series::notify(other, words.swap, series, b, 1);
    bool done = series::rest_length(series) > 0 && series::rest_length(other) > 0;
    if (done) {
        u32 x = get_char_at(series, a), y = get_char_at(other, b);
        // A handler may have put a wider code point there.
        check_element(series, y);
        check_element(other, x);
        store_element(series, a, y);
        store_element(other, b, x);
    }
    if (owned_a) series::notify(series, words.swaped, other, a, done ? 1 : 0);
    if (owned_b) series::notify(other, words.swaped, series, b, done ? 1 : 0);
    return series;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* taken = series::take(series, part, deep, last);
    if (taken != series || part) return taken;
    // One element without /part is answered as itself.
    Cell element;
    series::element_value(series, 0, &element);
    *series = element;
    return series;
}

// --- trim -------------------------------------------------------------------------------

namespace {

inline bool unicode_space_q(u32 c) {
    return c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// Whitespace at the ends of a text, and between words for trim/lines.
inline bool space_q(u32 c) { return (c >= 0x01 && c <= 0x20) || unicode_space_q(c); }
// Whitespace inside a line: no line breaks.
inline bool line_space_q(u32 c) { return c == ' ' || c == '\t' || unicode_space_q(c); }

// The code points trim/all or trim/with removes, sorted.
std::vector<u32> removal_set(const Cell* with) {
    std::vector<u32> set;
    if (!with) {
        set = {'\t', '\n', '\r', ' '};
    } else {
        u32 t = TYPE_OF(with);
        if (t == TYPE_CHAR || t == TYPE_INTEGER) {
            set.push_back(with->w2);
        } else if (any_text_q(t) || t == TYPE_BINARY) {
            SeriesBuffer* s = series::buffer_of(with);
            u32 unit = series::unit_of(s);
            for (i32 i = head_index(with); i < series::length_of(s); i++)
                set.push_back(get_char(series::head(s) + i64(i) * unit, unit));
        } else {
            fire(ERR_SCRIPT, "invalid-arg", with);
        }
    }
    std::sort(set.begin(), set.end());
    return set;
}

// The text that trim leaves of `in`, by refinement.
std::vector<u32> trimmed(const std::vector<u32>& in, bool head, bool tail, bool lines, bool all,
                         const std::vector<u32>& removed) {
    std::vector<u32> out;
    out.reserve(in.size());
    if (all) {
        for (u32 c : in)
            if (!std::binary_search(removed.begin(), removed.end(), c)) out.push_back(c);
        return out;
    }
    if (lines) {
        bool gap = false;
        for (u32 c : in) {
            if (space_q(c)) {
                gap = !out.empty();
                continue;
            }
            if (gap) out.push_back(' ');
            gap = false;
            out.push_back(c);
        }
        return out;
    }
    size_t from = 0, to = in.size();
    if (!(tail && !head))
        while (from < to && space_q(in[from])) from++;
    bool line_feed = false;
    if (!(head && !tail)) {
        while (to > from && space_q(in[to - 1])) {
            line_feed |= in[to - 1] == '\n';
            to--;
        }
    }
    if (head || tail) return std::vector<u32>(in.begin() + i64(from), in.begin() + i64(to));
    // Line by line: no blanks at a line's start, none before its end.
    bool line_start = false;
    for (size_t i = from; i < to; i++) {
        u32 c = in[i];
        if (c == '\n') {
            while (!out.empty() && line_space_q(out.back())) out.pop_back();
            out.push_back(c);
            line_start = true;
        } else if (!(line_start && line_space_q(c))) {
            out.push_back(c);
            line_start = false;
        }
    }
    if (line_feed) out.push_back('\n');
    return out;
}

}  // namespace

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    bool removing = all || with;
    std::vector<u32> removed;
    if (removing) removed = removal_set(with);
    else if (auto_) fire(ERR_INTERNAL, "not-done");
    i32 h = series::clamp_head(series);
    i32 n = zs_abs_length(series);
    if (h >= n) return series;
    bool owned = series::notify(series, words.trim, nullptr, h, n - h);
    series::Span span = series::fit(series, h, series::TO_TAIL);
    SeriesBuffer* s = series::buffer_of(series);
    u32 unit = series::unit_of(s);
    std::vector<u32> text(size_t(span.n));
    for (i32 i = 0; i < span.n; i++) text[size_t(i)] = get_char(series::element_at(s, span.at + i), unit);
    std::vector<u32> kept = trimmed(text, head, tail, lines, removing, removed);
    // Only fewer code points, and spaces: the unit never has to grow.
    u8* out = series::element_at(s, span.at);
    for (size_t i = 0; i < kept.size(); i++) put_char(out + i * unit, unit, kept[i]);
    s->tail = s->offset + u32((i64(span.at) + i64(kept.size())) * unit);
    if (owned) series::notify(series, words.trimmed, nullptr, span.at, i32(kept.size()));
    return series;
}

// --- sort -----------------------------------------------------------------------------------

namespace {

// How elements compare: text and bytes by code point (folded unless /case),
// vector! elements by their value.
enum SortKind : std::intptr_t { KIND_TEXT, KIND_BYTES, KIND_SIGNED, KIND_UNSIGNED, KIND_FLOAT };

// Flags of the default comparator: /reverse, /all, and folding; from
// SORT_SHIFT up the record size (with /all) or the compared offset.
constexpr std::intptr_t SORT_FOLD = 4;
constexpr int SORT_SHIFT = 3;

SortKind kind_of(const Cell* series) {
    if (TYPE_OF(series) == TYPE_BINARY) return KIND_BYTES;
    if (TYPE_OF(series) != TYPE_VECTOR) return KIND_TEXT;
    switch (series->w3) {
        case TYPE_FLOAT:
        case TYPE_PERCENT: return KIND_FLOAT;
        case TYPE_CHAR: return KIND_UNSIGNED;
        default: return KIND_SIGNED;
    }
}

// Elements are sorted as 64-bit keys: a code point, a sign-extended integer,
// or the bits of a double.
u64 read_key(const u8* p, u32 width, SortKind kind) {
    u64 raw = 0;
    std::memcpy(&raw, p, width);
    switch (kind) {
        case KIND_SIGNED: {
            u32 unused = 64 - 8 * width;
            return u64(i64(raw << unused) >> unused);
        }
        case KIND_FLOAT: {
            if (width == 8) return raw;
            float f;
            std::memcpy(&f, p, 4);
            return std::bit_cast<u64>(double(f));
        }
        default: return raw;
    }
}

void write_key(u8* p, u32 width, SortKind kind, u64 key) {
    if (kind == KIND_FLOAT && width == 4) {
        float f = float(std::bit_cast<double>(key));
        std::memcpy(p, &f, 4);
        return;
    }
    std::memcpy(p, &key, width);
}

// Text folds to lower case at every width, so that one text sorts alike
// whatever its storage; bytes fold A..Z only.
inline u64 folded(u64 c, SortKind kind, bool fold) {
    if (!fold) return c;
    if (kind == KIND_TEXT) return case_folding::change_char(u32(c), 0);
    return c - 'A' < 26 ? c + 32 : c;
}

int compare_keys(u64 a, u64 b, SortKind kind, bool fold) {
    switch (kind) {
        case KIND_SIGNED: return i64(a) < i64(b) ? -1 : i64(a) > i64(b) ? 1 : 0;
        case KIND_FLOAT: {
            double x = std::bit_cast<double>(a), y = std::bit_cast<double>(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default: {
            a = folded(a, kind, fold);
            b = folded(b, kind, fold);
            return a < b ? -1 : a > b ? 1 : 0;
        }
    }
}

int compare_elements(const void* x, const void* y, std::intptr_t kind, std::intptr_t flags) {
    const u64* a = static_cast<const u64*>(x);
    const u64* b = static_cast<const u64*>(y);
    if (flags & block::SORT_REVERSE) std::swap(a, b);
    bool fold = flags & SORT_FOLD;
    std::intptr_t n = flags >> SORT_SHIFT;
    std::intptr_t from = flags & block::SORT_ALL ? 0 : n, to = flags & block::SORT_ALL ? n : n + 1;
    for (std::intptr_t i = from; i < to; i++) {
        int r = compare_keys(a[i], b[i], SortKind(kind), fold);
        if (r != 0) return r;
    }
    return 0;
}

// A comparator function! receives two elements (char! values for text), or
// under /all two strings holding the records.
struct UserSort {
    const Cell* function;
    const Cell* series;
    SortKind kind;
    i64 size;
    bool all;
    Cell* records[2];   // rooted strings, refilled for each comparison
};

void element_of(const UserSort* u, u64 key, Cell* out) {
    if (u->kind == KIND_TEXT) {
        cell::init(out, TYPE_CHAR);
        out->w2 = u32(key);
        return;
    }
    // As the element would read in the series.
    u8 raw[8];
    u32 width = series::unit_of(series::buffer_of(u->series));
    write_key(raw, width, u->kind, key);
    if (TYPE_OF(u->series) == TYPE_VECTOR) {
        if (!series::vector_read) ZIR_FAULT(runtime::FAULT_NO_CASE);
        series::vector_read(u->series, raw, out);
        return;
    }
    cell::init(out, TYPE_INTEGER);
    out->w2 = raw[0];
}

int compare_with_function(const void* x, const void* y, std::intptr_t context, std::intptr_t flags) {
    const UserSort* u = reinterpret_cast<const UserSort*>(context);
    const u64* a = static_cast<const u64*>(x);
    const u64* b = static_cast<const u64*>(y);
    Cell first, second;
    if (u->all) {
        const u64* record[2] = {a, b};
        for (int k = 0; k < 2; k++) {
            zs_reset(u->records[k]);
            for (i64 i = 0; i < u->size; i++) append_char(u->records[k], u32(record[k][i]));
        }
        first = *u->records[0];
        second = *u->records[1];
    } else {
        std::intptr_t at = flags >> SORT_SHIFT;
        element_of(u, a[at], &first);
        element_of(u, b[at], &second);
    }
    // The function's first argument is `second` (`first` under /reverse):
    // true puts it before the other, false and none after; a number is a
    // comparison of it with the other, positive putting it after.
    Cell r = block::run_comparator(u->function, &first, &second, (flags & block::SORT_REVERSE) != 0);
    switch (TYPE_OF(&r)) {
        case TYPE_LOGIC: return r.w1 ? 1 : -1;
        case TYPE_NONE: return -1;
        case TYPE_INTEGER: return integer::get(&r) > 0 ? -1 : integer::get(&r) < 0 ? 1 : 0;
        case TYPE_FLOAT: {
            double d = cell::get_float(&r);
            return d > 0 ? -1 : d < 0 ? 1 : 0;
        }
        default: return 1;
    }
}

}  // namespace

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    block::SortPlan plan = block::plan_sort(series, skip, comparator, part, all);
    if (plan.count == 0) return series;
    i64 h = plan.at, count = plan.count, size = plan.size;
    SortKind kind = kind_of(series);
    std::intptr_t flags = reverse ? block::SORT_REVERSE : 0;
    if (!case_ && (kind == KIND_TEXT || kind == KIND_BYTES)) flags |= SORT_FOLD;
    if (all) flags |= block::SORT_ALL | (std::intptr_t(size) << SORT_SHIFT);
    else flags |= std::intptr_t(plan.offset) << SORT_SHIFT;
    collector::RootCell function(plan.function);
    bool user = TYPE_OF(function.get()) == TYPE_FUNCTION;
    if (user && !block::call_comparator) fire(ERR_INTERNAL, "not-done");
    // Records handed to a function are strings of code points: text only.
    if (user && all && kind != KIND_TEXT) fire(ERR_INTERNAL, "not-done");

    bool owned = series::notify(series, words.sort, nullptr, i32(h), i32(count));
    series::Span span = series::fit(series, h, plan.wanted);
    span.n -= i32(span.n % size);
    if (span.n > 0) {
        // The sorts hold raw pointers and a comparator function may change
        // the series (and move its buffer): they sort a copy of the elements,
        // written back into the range as it is afterwards.
        std::vector<u64> keys(size_t(span.n));
        SeriesBuffer* s = series::buffer_of(series);
        u32 width = series::unit_of(s);
        for (i32 i = 0; i < span.n; i++) keys[size_t(i)] = read_key(series::element_at(s, span.at + i), width, kind);
        size_t record = size_t(size) * sizeof(u64);
        i64 records = span.n / size;
        if (user) {
            collector::RootCell a, b;
            make_at(a.get(), all ? size : 1, 1);
            make_at(b.get(), all ? size : 1, 1);
            UserSort u{function.get(), series, kind, size, all, {a.get(), b.get()}};
            std::intptr_t context = reinterpret_cast<std::intptr_t>(&u);
            if (stable) sort::merge_sort(keys.data(), records, record, context, flags, compare_with_function);
            else sort::quicksort(keys.data(), records, record, context, flags, compare_with_function);
        } else if (stable) {
            sort::merge_sort(keys.data(), records, record, kind, flags, compare_elements);
        } else {
            sort::quicksort(keys.data(), records, record, kind, flags, compare_elements);
        }
        span = series::fit(series, span.at, span.n);
        for (i32 i = 0; i < span.n; i++) {
            if (kind == KIND_TEXT) {
                poke_char(series, span.at + i, u32(keys[size_t(i)]));
            } else {
                s = series::buffer_of(series);
                write_key(series::element_at(s, span.at + i), series::unit_of(s), kind, keys[size_t(i)]);
            }
        }
    }
    if (owned) series::notify(series, words.sorted, nullptr, span.at, span.n);
    return series;
}

// --- Set operations ---------------------------------------------------------------------

void do_set_op(bool case_, const Cell* skip, int op) {
    i64 size = 1;
    if (skip) {
        if (TYPE_OF(skip) != TYPE_INTEGER || integer::get(skip) < 1) series::fire_refine_arg(words.skip, skip);
        size = integer::get(skip);
    }
    Cell* first = stack::arguments;
    Cell* second = first + 1;
    // Bytes are no text: a binary's never fold (a folded Latin-1 letter would
    // make two different bytes one).
    bool fold = !case_ && TYPE_OF(first) != TYPE_BINARY;
    auto key = [&](u32 c) { return fold ? case_folding::to_upper_char(c) : c; };
    auto read = [](const Cell* s) {
        std::vector<u32> text;
        SeriesBuffer* b = series::buffer_of(s);
        u32 unit = series::unit_of(b);
        for (i32 i = std::min(head_index(s), series::length_of(b)); i < series::length_of(b); i++)
            text.push_back(get_char(series::head(b) + i64(i) * unit, unit));
        return text;
    };
    // The keys at record starts of a text.
    auto starts = [&](const std::vector<u32>& text) {
        std::unordered_set<u32> set;
        for (size_t i = 0; i < text.size(); i += size_t(size)) set.insert(key(text[i]));
        return set;
    };
    std::vector<u32> a = read(first), b = op == block::SET_UNIQUE ? std::vector<u32>() : read(second);
    std::vector<u32> result;
    std::unordered_set<u32> taken;
    auto pass = [&](const std::vector<u32>& text, const std::vector<u32>* other, bool keep_found) {
        std::unordered_set<u32> there;
        if (other) there = starts(*other);
        for (size_t i = 0; i < text.size(); i += size_t(size)) {
            u32 k = key(text[i]);
            if (other && (there.count(k) > 0) != keep_found) continue;
            if (!taken.insert(k).second) continue;
            size_t end = std::min(text.size(), i + size_t(size));
            result.insert(result.end(), text.begin() + i64(i), text.begin() + i64(end));
        }
    };
    switch (op) {
        case block::SET_UNIQUE: pass(a, nullptr, false); break;
        case block::SET_UNION:
            pass(a, nullptr, false);
            pass(b, nullptr, false);
            break;
        case block::SET_INTERSECT: pass(a, &b, true); break;
        case block::SET_EXCLUDE: pass(a, &b, false); break;
        case block::SET_DIFFERENCE:
            pass(a, &b, false);
            pass(b, &a, false);
            break;
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
    u32 unit = 1;
    for (u32 c : result) unit = std::max(unit, unit_for(c));
    u32 type = TYPE_OF(first);
    Cell out;
    cell::init(&out, TYPE_UNSET);
    make_at(&out, result.empty() ? 1 : i64(result.size()), unit);
    SeriesBuffer* s = series::buffer_of(&out);
    for (size_t i = 0; i < result.size(); i++) put_char(series::head(s) + i * unit, unit, result[i]);
    s->tail = s->offset + u32(result.size() * unit);
    cell::set_type(&out, type);
    *first = out;
}

}  // namespace string
}  // namespace zir
