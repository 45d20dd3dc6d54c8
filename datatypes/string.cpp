// string!: storage, conversion and registration; see string.hpp.
#include "datatypes/string.hpp"

#include <optional>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace string {

namespace {

inline i32 head_index(const Cell* c) { return i32(c->w1); }

// Widens so that `cp` fits, following the writers' thresholds: a unit-1
// buffer keeps 0..`keep1`, a unit-2 buffer 0..0xFFFF.
SeriesBuffer* widen_for(SeriesBuffer* s, u32 cp, u32 keep1) {
    u32 unit = series::unit_of(s);
    if (unit == 1 && cp > keep1) return cp <= 0xFFFF ? unicode::widen_1_to_2(s) : unicode::widen_1_to_4(s);
    if (unit == 2 && cp > 0xFFFF) return unicode::widen_2_to_4(s);
    return s;
}

inline void check_unit(u32 unit) {
    if (unit != 1 && unit != 2 && unit != 4) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
}

// The buffer a value's text lives in: its own, or a symbol's spelling string.
inline u32 text_node(const Cell* value) {
    return TYPE_OF(value) == TYPE_SYMBOL ? text_of(value).node : value->w2;
}

}  // namespace

// --- Elements ------------------------------------------------------------------

Text text_of(const Cell* value) {
    if (TYPE_OF(value) == TYPE_SYMBOL) {
        if (value->w2) return {value->w2, 0};
        // A symbol cell that is not the table's own (a copy): its spelling is
        // the UTF-8 series in word 3.
        SeriesBuffer* s = node_buffer(value->w3);
        std::string spelling(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s));
        return {unicode::load_utf8_new(reinterpret_cast<const u8*>(spelling.data()), i64(spelling.size())), 0};
    }
    i32 n = series::length_of(node_buffer(value->w2));
    i32 h = head_index(value);
    return {value->w2, h < n ? h : n};
}

// --- Reading -------------------------------------------------------------------

u8* zs_head(Cell* str) {
    SeriesBuffer* s = node_buffer(str->w2);
    i32 n = series::length_of(s);
    if (head_index(str) > n) str->w1 = u32(n);
    return series::head(s) + (i64(head_index(str)) << series::unit_shift(series::unit_of(s)));
}

u8* zs_tail(const Cell* str) { return series::tail(node_buffer(str->w2)); }

bool zs_tail_q(const Cell* str) { return zs_length(str) == 0; }

i32 zs_length(const Cell* str) {
    SeriesBuffer* s = node_buffer(str->w2);
    i32 len = series::length_of(s) - head_index(str);
    return len > 0 ? len : 0;
}

i32 zs_abs_length(const Cell* str) { return series::length_of(node_buffer(str->w2)); }

u32 get_char_at(const Cell* str, i32 index) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    return get_char(series::head(s) + i64(index) * unit, unit);
}

i32 zs_find_char(const Cell* str, u32 cp) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    i32 n = zs_length(str);
    const u8* p = series::head(s) + i64(head_index(str)) * unit;
    if (unit == 1) {
        if (cp > 0xFF) return -1;
        const void* hit = n > 0 ? std::memchr(p, int(cp), size_t(n)) : nullptr;
        return hit ? i32(static_cast<const u8*>(hit) - p) : -1;
    }
    for (i32 i = 0; i < n; i++)
        if (get_char(p + i64(i) * unit, unit) == cp) return i;
    return -1;
}

std::string to_std(const Cell* str) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    std::string out;
    i32 n = series::length_of(s);
    for (i32 i = i32(str->w1); i < n; i++) {
        u8 buf[4];
        u32 cp = get_char(series::head(s) + i64(i) * unit, unit);
        out.append(reinterpret_cast<char*>(buf), size_t(unicode::cp_to_utf8(cp, buf)));
    }
    return out;
}

// --- Making --------------------------------------------------------------------

void make_at(Cell* c, i64 size, u32 unit) {
    u32 node = memory::alloc_codepoints(size, unit);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_UNSET;
    c->w1 = 0;
    c->w2 = node;
    c->w3 = 0;
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_STRING;
}

void zs_make_at(Cell* c, i64 n) { make_at(c, n == 0 ? 1 : n, 1); }

Cell* push(const Cell* value) { return stack::push(value); }

Cell* zs_reset(Cell* str) {
    SeriesBuffer* s = node_buffer(str->w2);
    s->flags = (s->flags & ~SERIES_UNIT_MASK) | 1;
    s->tail = s->offset;
    str->w1 = 0;
    return str;
}

Cell* load(const u8* text, i64 length, Cell* target, i32 encoding) {
    if (encoding != ENCODING_UTF8 && encoding != ENCODING_UTF16LE) {
        // A caller's fault, never the user's: say so and stop with the fault
        // of an unknown operation code (a status that reads as failure).
        console::write_c_string("*** Loading Error: input encoding unsupported\n");
        console::flush();
        ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
    // The text may lie in a series buffer (a binary read from a file), and
    // the loaders allocate the string before they read: they read a copy.
    i64 bytes = length > 0 ? (encoding == ENCODING_UTF8 ? length : 2 * length) : 0;
    std::string copy(reinterpret_cast<const char*>(text), size_t(bytes));
    const u8* source = reinterpret_cast<const u8*>(copy.data());
    Cell* c = target ? target : stack::push_slot();
    cell::init(c, TYPE_UNSET);
    u32 node = encoding == ENCODING_UTF8 ? unicode::load_utf8_new(source, length)
                                         : unicode::load_utf16(source, length, nullptr, false);
    c->w2 = node;
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_STRING;
    return c;
}

Cell* load_in(const u8* text, i64 length, Cell* block, i32 encoding) {
    collector::RootCell hold;
    load(text, length, hold.get(), encoding);
    return block::zs_append(block, hold.get());
}

Cell* load_push(const u8* text, i64 length, i32 encoding) { return load(text, length, nullptr, encoding); }

// --- Writing -------------------------------------------------------------------

SeriesBuffer* widen_to(SeriesBuffer* s, u32 from, u32 to) {
    if (from == 1 && to == 2) return unicode::widen_1_to_2(s);
    if (from == 1 && to == 4) return unicode::widen_1_to_4(s);
    if (from == 2 && to == 4) return unicode::widen_2_to_4(s);
    ZIR_FAULT(runtime::FAULT_NO_SWITCH);
}

void append_char(Cell* str, u32 cp) {
    SeriesBuffer* s = widen_for(node_buffer(str->w2), cp, 0x7F);
    u32 unit = series::unit_of(s);
    if (s->tail + unit > s->size) s = memory::expand_series(s, i64(s->size) * 2 > 16 ? i64(s->size) * 2 : 16);
    put_char(series::tail(s), unit, cp);
    s->tail += unit;
}

void append_literal(Cell* str, const char* text) {
    append_bytes(str, reinterpret_cast<const u8*>(text), i64(std::strlen(text)));
}

namespace {

// True when n more elements, the widest being `widest`, need the buffer to be
// widened (by the writers' thresholds) or to grow: an allocation, which may
// move any series buffer.
bool room_needed(const SeriesBuffer* s, i64 n, u32 widest, u32 keep1) {
    u32 unit = series::unit_of(s);
    if ((unit == 1 && widest > keep1) || (unit == 2 && widest > 0xFFFF)) return true;
    return i64(s->tail) + n * unit > i64(s->size);
}

SeriesBuffer* make_room(SeriesBuffer* s, i64 n, u32 widest, u32 keep1) {
    s = widen_for(s, widest, keep1);
    i64 need = i64(s->tail) + n * series::unit_of(s);
    if (need > i64(s->size)) s = memory::expand_series(s, need * 2);
    return s;
}

u32 widest_byte(const u8* text, i64 n) {
    u8 any = 0;
    for (i64 i = 0; i < n; i++) any |= text[i];
    if (any < 0x80) return any;
    u8 widest = 0;
    for (i64 i = 0; i < n; i++) widest = text[i] > widest ? text[i] : widest;
    return widest;
}

// One code point of UTF-8 text. An invalid sequence raises the decoder's
// `access invalid-utf8`; a character cut short by the end reads as U+FFFD.
inline u32 next_utf8(const u8*& text, const u8* end) {
    if (*text < 0x80) return *text++;
    i32 used = i32(end - text);
    i32 d = unicode::decode_utf8_char(text, &used);
    text += used > 0 ? used : 1;
    return d < 0 ? 0xFFFD : u32(d);
}

void put_bytes(SeriesBuffer* s, const u8* text, i64 n) {
    u32 unit = series::unit_of(s);
    u8* out = series::tail(s);
    if (unit == 1) std::memcpy(out, text, size_t(n));
    else for (i64 i = 0; i < n; i++) put_char(out + i * unit, unit, text[i]);
    s->tail += u32(n * unit);
}

void put_utf8(SeriesBuffer* s, const u8* text, i64 n) {
    u32 unit = series::unit_of(s);
    u8* out = series::tail(s);
    const u8* end = text + n;
    while (text < end) {
        put_char(out, unit, next_utf8(text, end));
        out += unit;
    }
    s->tail = u32(out - series::data(s));
}

}  // namespace

// The appenders below take their source by address, and it may lie in a
// series buffer (a symbol's spelling, the string itself): whenever they must
// allocate, which may move that buffer, they copy the source out first.

void append_bytes(Cell* str, const u8* text, i64 n) {
    if (n <= 0) return;
    SeriesBuffer* s = node_buffer(str->w2);
    u32 widest = widest_byte(text, n);
    if (!room_needed(s, n, widest, 0x7F)) return put_bytes(s, text, n);
    std::string copy(reinterpret_cast<const char*>(text), size_t(n));
    put_bytes(make_room(s, n, widest, 0x7F), reinterpret_cast<const u8*>(copy.data()), n);
}

void append_utf8(Cell* str, const u8* text, i64 n) {
    if (n <= 0) return;
    const u8* end = text + n;
    i64 count = 0;
    u32 widest = 0;
    for (const u8* p = text; p < end; count++) {
        u32 cp = next_utf8(p, end);
        widest = cp > widest ? cp : widest;
    }
    SeriesBuffer* s = node_buffer(str->w2);
    if (!room_needed(s, count, widest, 0x7F)) return put_utf8(s, text, n);
    std::string copy(reinterpret_cast<const char*>(text), size_t(n));
    put_utf8(make_room(s, count, widest, 0x7F), reinterpret_cast<const u8*>(copy.data()), n);
}

void append_utf8_lenient(Cell* str, const u8* text, i64 n) {
    if (unicode::utf8_valid_q(text, n)) append_utf8(str, text, n);
    else append_bytes(str, text, n);
}

void append_codepoints(Cell* str, const u8* text, i64 n, u32 unit) {
    if (n <= 0) return;
    u32 widest = 0;
    for (i64 i = 0; i < n; i++) {
        u32 c = get_char(text + i * unit, unit);
        widest = c > widest ? c : widest;
    }
    SeriesBuffer* s = node_buffer(str->w2);
    std::string copy;
    if (room_needed(s, n, widest, 0x7F)) {
        copy.assign(reinterpret_cast<const char*>(text), size_t(n * unit));
        text = reinterpret_cast<const u8*>(copy.data());
        s = make_room(s, n, widest, 0x7F);
    }
    u32 to = series::unit_of(s);
    u8* out = series::tail(s);
    if (to == unit) std::memcpy(out, text, size_t(n * unit));
    else for (i64 i = 0; i < n; i++) put_char(out + i * to, to, get_char(text + i * unit, unit));
    s->tail += u32(n * to);
}

void poke_char(Cell* str, i32 index, u32 cp) {
    SeriesBuffer* s = widen_for(node_buffer(str->w2), cp, 0xFF);
    u32 unit = series::unit_of(s);
    put_char(series::head(s) + i64(index) * unit, unit, cp);
}

void overwrite_char(Cell* str, i32 index, u32 cp) {
    SeriesBuffer* s = widen_for(node_buffer(str->w2), cp, 0xFF);
    u32 unit = series::unit_of(s);
    i64 at = i64(s->offset) + i64(index) * unit;
    if (at + unit > i64(s->size)) {
        // Grown to fit whatever the index: doubling a fixed number of times
        // would leave a far index outside the buffer.
        i64 need = at + unit - s->offset;
        s = memory::expand_series(s, need > i64(s->size) * 2 ? need : i64(s->size) * 2);
        at = i64(s->offset) + i64(index) * unit;
    }
    if (at >= i64(s->tail)) {
        // Elements between the old tail and the index would hold whatever the
        // buffer held there: they read as 0.
        std::memset(series::data(s) + s->tail, 0, size_t(at - s->tail));
        s->tail = u32(at + unit);
    }
    put_char(series::data(s) + at, unit, cp);
}

void insert_char(Cell* str, i32 index, u32 cp) { insert_codepoints(str, index, &cp, 1); }

void insert_codepoints(Cell* str, i32 index, const u32* cps, i64 n) {
    if (n <= 0) return;
    u32 widest = 0;
    for (i64 i = 0; i < n; i++) widest = cps[i] > widest ? cps[i] : widest;
    SeriesBuffer* s = node_buffer(str->w2);
    std::vector<u32> copy;
    if (room_needed(s, n, widest, 0xFF)) {
        copy.assign(cps, cps + n);
        cps = copy.data();
        s = make_room(s, n, widest, 0xFF);
    }
    u32 unit = series::unit_of(s);
    u8* at = series::head(s) + i64(index) * unit;
    std::memmove(at + n * unit, at, size_t(series::tail(s) - at));
    for (i64 i = 0; i < n; i++) put_char(at + i * unit, unit, cps[i]);
    s->tail += u32(n * unit);
}

void remove_part(Cell* str, i32 index, i32 n) {
    SeriesBuffer* s = node_buffer(str->w2);
    i32 len = series::length_of(s);
    if (index < 0 || index >= len || n <= 0) return;
    if (n > len - index) n = len - index;
    u32 unit = series::unit_of(s);
    u8* at = series::head(s) + i64(index) * unit;
    std::memmove(at, at + i64(n) * unit, size_t(len - index - n) * unit);
    s->tail -= u32(n) * unit;
}

void remove_char(Cell* str, i32 index) { remove_part(str, index, 1); }

void truncate_from(Cell* str, i64 n) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    i64 cut = i64(s->offset) + n * unit;
    if (i64(s->size) >= n * unit && i64(s->tail) > cut) s->tail = u32(cut);
}

// --- The concatenation core ---------------------------------------------------------

SeriesBuffer* zs_concatenate(Cell* target, const Cell* source, i32 part, i32 offset, bool keep_source, i32 mode) {
    // Both cells are read before anything allocates: they may lie in a
    // buffer that moves.
    u32 tnode = text_node(target);
    i64 target_head = TYPE_OF(target) == TYPE_SYMBOL ? 0 : head_index(target);
    bool symbol = TYPE_OF(source) == TYPE_SYMBOL;
    Text src = text_of(source);
    // A symbol's text may be a fresh string no cell holds.
    std::optional<collector::RootNode> hold_source;
    if (symbol) hold_source.emplace(src.node);
    SeriesBuffer* t = node_buffer(tnode);
    SeriesBuffer* s = node_buffer(src.node);
    u32 tu = series::unit_of(t), su = series::unit_of(s);
    check_unit(tu);
    check_unit(su);
    if (tu < su) {
        t = widen_to(t, tu, su);
        tu = su;
    } else if (su < tu && !keep_source) {
        widen_to(s, su, tu);
        su = tu;
    }
    t = node_buffer(tnode);
    s = node_buffer(src.node);
    i64 count = i64(series::length_of(s)) - src.head;
    if (part >= 0 && part < count) count = part;
    if (count <= 0) return t;

    i64 len = series::length_of(t);
    i64 at = len;
    if (mode != CONCAT_APPEND) {
        at = target_head + offset;
        if (at > len) at = len;
        if (at < 0) at = 0;
    }
    i64 end = mode == CONCAT_OVERWRITE ? (at + count > len ? at + count : len) : len + count;
    i64 need = i64(t->offset) + end * tu;
    if (need > i64(t->size)) {
        t = memory::expand_series(t, 2 * end * tu);
        s = node_buffer(src.node);
    }
    i64 from = src.head;
    u8* base = series::head(t);
    if (mode == CONCAT_INSERT) {
        std::memmove(base + (at + count) * tu, base + at * tu, size_t(len - at) * tu);
        // Text of the target's own buffer at or after the insertion point
        // has just moved up by the count.
        if (src.node == tnode && from >= at) from += count;
    }
    const u8* in = series::head(s) + from * su;
    u8* out = base + at * tu;
    if (su == tu) {
        std::memmove(out, in, size_t(count) * tu);
    } else {
        for (i64 i = 0; i < count; i++) put_char(out + i * tu, tu, get_char(in + i * su, su));
    }
    t->tail = t->offset + u32(end * tu);
    return t;
}

SeriesBuffer* concatenate(Cell* target, const Cell* source, i32 part, i32 offset, bool keep_source, i32 mode) {
    return zs_concatenate(target, source, part, offset, keep_source, mode);
}

// --- Small text routines --------------------------------------------------------

const char HEX_DIGITS[17] = "0123456789ABCDEF";

namespace {

char byte_hex[3];
// "00" in front of the eight digits: the answer for zero when zeros are dropped.
char word_hex[11] = "00";

}  // namespace

const char* byte_to_hex(u8 byte) {
    byte_hex[0] = HEX_DIGITS[byte >> 4];
    byte_hex[1] = HEX_DIGITS[byte & 15];
    byte_hex[2] = 0;
    return byte_hex;
}

const char* to_hex(i32 value, bool drop_zeros) {
    char* digits = word_hex + 2;
    u32 v = u32(value);
    for (int i = 7; i >= 0; i--, v >>= 4) digits[i] = HEX_DIGITS[v & 15];
    digits[8] = 0;
    if (!drop_zeros) return digits;
    if (value == 0) return word_hex + 8;   // the last "00"
    while (*digits == '0') digits++;
    return digits;
}

double to_float(const u8* text, i32 length, u32 unit) {
    std::string ascii(size_t(length > 0 ? length : 0), '\0');
    for (i32 i = 0; i < length; i++) {
        u32 cp = get_char(text + i64(i) * unit, unit);
        // A code point outside ASCII is no part of a number: it stops the reading.
        ascii[size_t(i)] = cp < 0x80 ? char(cp) : '\x7F';
    }
    i64 unconsumed = 0;
    return dtoa::string_to_float(ascii.data(), ascii.data() + ascii.size(), 0, &unconsumed);
}

// --- make and to -------------------------------------------------------------------

namespace {

Cell* fresh_result() {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    return out;
}

// binary! builds from every spec but a number through its own `to`.
Cell* binary_to(Cell* proto, Cell* spec) {
    auto own = reinterpret_cast<action::Make>(actions::lookup(TYPE_BINARY, ACT_TO));
    if (!own || own == &to) fire(ERR_INTERNAL, "not-done");
    return own(proto, spec, TYPE_BINARY);
}

// The UTF-8 bytes of a binary! from its head; a character cut short by the
// end of the bytes raises `access invalid-utf8` with the rest as a binary!.
void decode_binary(const Cell* bin, Cell* out) {
    SeriesBuffer* b = node_buffer(bin->w2);
    i64 h = head_index(bin);
    i64 n = i64(series::used_bytes(b)) - h;
    if (n < 0) n = 0;
    // The loader allocates: the bytes are read from a copy.
    std::string bytes(reinterpret_cast<const char*>(series::head(b) + (n > 0 ? h : 0)), size_t(n));
    i32 rest = 0;
    u32 node = unicode::load_utf8(reinterpret_cast<const u8*>(bytes.data()), n, 0, &rest, false);
    out->w2 = node;
    cell::set_type(out, TYPE_STRING);
    if (rest > 0) {
        Cell tail;
        cell::init(&tail, TYPE_UNSET);
        tail.w2 = memory::alloc_bytes(rest);
        SeriesBuffer* t = node_buffer(tail.w2);
        std::memcpy(series::head(t), bytes.data() + (n - rest), size_t(rest));
        t->tail = t->offset + u32(rest);
        cell::set_type(&tail, TYPE_BINARY);
        fire(ERR_ACCESS, "invalid-utf8", &tail);
    }
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, u32 type) {
    u32 st = TYPE_OF(spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        i32 n = float_::to_integer_checked(spec);
        if (n < 0) fire(ERR_SCRIPT, "out-of-range", spec);
        Cell* out = fresh_result();
        make_at(out, n == 0 ? 16 : n, 1);
        cell::set_type(out, type);
        return out;
    }
    if (type == TYPE_BINARY) {
        if (st == TYPE_MONEY) {
            Cell target;
            datatype::make_at(&target, type);
            fire(ERR_SCRIPT, "bad-make-arg", &target, spec);
        }
        return binary_to(proto, spec);
    }
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, u32 type) {
    if (type == TYPE_BINARY) return binary_to(proto, spec);
    u32 st = TYPE_OF(spec);
    if (st == TYPE_NONE) {
        Cell target;
        datatype::make_at(&target, type);
        fire(ERR_SCRIPT, "bad-to-arg", &target, spec);
    }
    Cell* out = fresh_result();
    if (any_text_q(st)) {
        series::copy(spec, out, nullptr, false, nullptr);
    } else if (st == TYPE_BINARY) {
        decode_binary(spec, out);
    } else {
        make_at(out, 16, 1);
        if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) {
            insert(out, spec, nullptr, false, nullptr, true);
        } else if (st == TYPE_REFINEMENT && type != TYPE_STRING) {
            actions::mold(spec, out, false, false, false, nullptr, PART_UNLIMITED, 0);
        } else {
            actions::form(spec, out, nullptr, PART_UNLIMITED);
        }
    }
    out->w1 = 0;
    cell::set_type(out, type);
    return out;
}

// --- Registration ----------------------------------------------------------------

void init() {
    datatype::Registration r(TYPE_STRING, TYPE_SERIES, "string!");
    r.on<ACT_MAKE>(make).on<ACT_TO>(to).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path);
    r.on<ACT_COMPARE>(compare).on<ACT_APPEND>(insert).on<ACT_CHANGE>(change).on<ACT_FIND>(find);
    r.on<ACT_INSERT>(insert).on<ACT_SELECT>(select).on<ACT_SORT>(sort).on<ACT_SWAP>(swap).on<ACT_TAKE>(take);
    r.on<ACT_TRIM>(trim);
    datatype::register_(r);
}

}  // namespace string
}  // namespace zir
