// binary!: the raw-buffer helpers, conversion, mold, comparison and the
// bitwise actions; see binary.hpp.
#include "datatypes/binary.hpp"

#include <algorithm>
#include <string>

#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace binary {

Cell* (*image_to_binary)(const Cell* image, Cell* result) = nullptr;

namespace {

inline i64 head_index(const Cell* c) { return i64(c->w1); }
[[noreturn]] void no_memory() { fire(ERR_INTERNAL, "no-memory"); }

// A buffer large enough for `need` bytes from its offset: grown to `grow`
// bytes (at least `need`). Any source inside a series buffer must have been
// copied out before: this may move every buffer.
SeriesBuffer* reserve(SeriesBuffer* s, i64 need, i64 grow) {
    if (i64(s->offset) + need <= i64(s->size)) return s;
    if (need > MAX_LENGTH - 15) no_memory();
    i64 size = std::clamp<i64>(grow, need, MAX_LENGTH - 15);
    return memory::expand_series(s, size);
}

Cell* fresh_result() {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    return out;
}

}  // namespace

// --- Raw-buffer helpers ----------------------------------------------------------

bool zs_skip(Cell* bin, i32 n) { return series::zs_skip(bin, n); }

void zs_cut_at_head(Cell* bin) {
    SeriesBuffer* s = node_buffer(bin->w2);
    i64 h = series::clamp_head(bin, series::length_of(s));
    s->tail = s->offset + u32(h);
}

u8* zs_append(Cell* bin, const u8* bytes, i64 n) {
    if (n <= 0) return zs_tail(bin);
    series::zs_append_bytes(bin->w2, bytes, n);
    return zs_tail(bin) - n;
}

u8* zs_insert(Cell* bin, i32 offset, const u8* bytes, i64 n) {
    SeriesBuffer* s = node_buffer(bin->w2);
    i64 len = series::length_of(s);
    i64 at = std::clamp<i64>(series::clamp_head(bin, i32(len)) + i64(offset), 0, len);
    if (n <= 0) return series::head(s) + at;
    std::string copy;
    if (i64(s->tail) + n > i64(s->size)) {
        copy.assign(reinterpret_cast<const char*>(bytes), size_t(n));
        bytes = reinterpret_cast<const u8*>(copy.data());
        s = reserve(s, len + n, len + n + 2 * i64(s->size));
    }
    u8* p = series::head(s) + at;
    std::memmove(p + n, p, size_t(len - at));
    std::memmove(p, bytes, size_t(n));
    s->tail += u32(n);
    return p;
}

void zs_write_at(Cell* bin, i32 offset, const u8* bytes, i64 n) {
    if (n <= 0) return;
    SeriesBuffer* s = node_buffer(bin->w2);
    i64 len = series::length_of(s);
    i64 at = std::max<i64>(0, series::clamp_head(bin, i32(len)) + i64(offset));
    i64 end = at + n;
    std::string copy;
    if (i64(s->offset) + end > i64(s->size)) {
        copy.assign(reinterpret_cast<const char*>(bytes), size_t(n));
        bytes = reinterpret_cast<const u8*>(copy.data());
        s = reserve(s, end, 2 * i64(s->size));
    }
    u8* base = series::head(s);
    // Bytes between the tail and a write that starts beyond it read as 0.
    if (at > len) std::memset(base + len, 0, size_t(at - len));
    std::memmove(base + at, bytes, size_t(n));
    if (end > len) s->tail = s->offset + u32(end);
}

void zs_append_int32(Cell* bin, i32 n) {
    u8 bytes[4] = {u8(u32(n) >> 24), u8(u32(n) >> 16), u8(u32(n) >> 8), u8(n)};
    zs_append(bin, bytes, 4);
}

// --- Values ----------------------------------------------------------------------

Cell* make_at(Cell* c, i64 capacity) {
    if (capacity < 0 || capacity > MAX_LENGTH - 15) no_memory();
    u32 node = memory::alloc_bytes(capacity);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_BINARY;
    c->w1 = 0;
    c->w2 = node;
    c->w3 = 0;
    return c;
}

Cell* make_in(Cell* block, i64 capacity) {
    collector::RootCell made;
    make_at(made.get(), capacity);
    return block::zs_append(block, made.get());
}

Cell* load_in(const u8* bytes, i64 n, Cell* block) {
    if (n < 0 || n > MAX_LENGTH - 15) no_memory();
    // The bytes may lie in a buffer that the allocation moves.
    std::string copy(reinterpret_cast<const char*>(bytes), size_t(n));
    collector::RootCell made;
    make_at(made.get(), n);
    SeriesBuffer* s = node_buffer(made.value.w2);
    std::memcpy(series::head(s), copy.data(), size_t(n));
    s->tail = s->offset + u32(n);
    if (block) return block::zs_append(block, made.get());
    return stack::push(made.get());
}

Cell* load(const u8* bytes, i64 n) { return load_in(bytes, n, nullptr); }

Cell* push(const Cell* bin) { return stack::push(bin); }

std::vector<u8> bytes_of(const Cell* bin) {
    SeriesBuffer* s = node_buffer(bin->w2);
    i64 len = series::length_of(s);
    i64 h = std::min(head_index(bin), len);
    return std::vector<u8>(series::head(s) + h, series::head(s) + len);
}

u8 byte_of(const Cell* value) {
    u32 t = TYPE_OF(value);
    i32 v = integer::get(value);
    // An integer is a byte written as signed or unsigned: -1 and 255 are one
    // byte. Anything wider would lose bits without a word.
    bool fits = t == TYPE_INTEGER ? v >= -128 && v <= 255 : t == TYPE_CHAR && value->w2 <= 0xFF;
    if (!fits) fire(ERR_SCRIPT, "invalid-arg", value);
    return u8(v);
}

void set_byte(u8* p, const Cell* value) { *p = byte_of(value); }

// --- Comparison and parse tests -----------------------------------------------------

namespace {

inline i32 sign(i64 d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

// The first difference of n bytes with n code points of text: -1, 0 or 1.
i32 compare_with_text(const u8* a, const u8* b, u32 unit, i64 n) {
    if (unit == 1) return sign(std::memcmp(a, b, size_t(n)));
    for (i64 i = 0; i < n; i++) {
        u32 x = a[i], y = string::get_char(b + i * unit, unit);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace

i32 compare_bytes(const Cell* bin, const Cell* other, i32 op, bool match) {
    u32 ot = TYPE_OF(other);
    if (ot != TYPE_BINARY && !any_text_q(ot)) return NOT_COMPARABLE;
    bool same = other->w2 == bin->w2 && other->w1 == bin->w1;
    if (op == COMP_SAME) return same ? 0 : -1;
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (same && equality) return 0;
    SeriesBuffer* sa = node_buffer(bin->w2);
    SeriesBuffer* sb = node_buffer(other->w2);
    i64 abs_a = series::length_of(sa), abs_b = series::length_of(sb);
    i64 ha = std::min(head_index(bin), abs_a), hb = std::min(head_index(other), abs_b);
    i64 la = abs_a - ha, lb = abs_b - hb;
    i64 n;
    if (match) {
        if (lb == 0) return op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND ? 0 : 1;
        // A text longer than what is left cannot begin it.
        if (la < lb) return 1;
        n = lb;
    } else {
        if (la != lb && equality) return 1;
        n = std::min(la, lb);
    }
    u32 unit = series::unit_of(sb);
    i32 r = compare_with_text(series::head(sa) + ha, series::head(sb) + hb * unit, unit, n);
    if (r != 0 || match) return r;
    return sign(la - lb);
}

bool match_bitset_q(const Cell* bin, const Cell* set) {
    if (series::rest_length(bin) == 0) return false;
    return bitset::has_q(set, zs_byte_at(bin, i32(head_index(bin))));
}

bool match_value_q(const Cell* bin, const Cell* other, i32 op) {
    u32 t = TYPE_OF(other);
    if (t == TYPE_BINARY || any_text_q(t)) return compare_bytes(bin, other, op, true) == 0;
    if (t == TYPE_CHAR) return series::rest_length(bin) > 0 && zs_byte_at(bin, i32(head_index(bin))) == other->w2;
    return false;
}

// --- to binary! -----------------------------------------------------------------------

namespace {

[[noreturn]] void bad_to_arg(const Cell* spec) {
    Cell type;
    datatype::make_at(&type, TYPE_BINARY);
    fire(ERR_SCRIPT, "bad-to-arg", &type, spec);
}

Cell* from_bytes(const std::vector<u8>& bytes) { return load(bytes.data(), i64(bytes.size())); }

// The bytes of a 64-bit pattern, most significant first.
Cell* from_u64(u64 bits, int n) {
    u8 bytes[8];
    for (int i = 0; i < n; i++) bytes[i] = u8(bits >> (8 * (n - 1 - i)));
    return load(bytes, n);
}

}  // namespace

Cell* from_issue(const Cell* issue, Cell* result) {
    // The spelling is UTF-8: a byte above 127 is no digit, as a code point
    // above 127 is none.
    std::string_view spelling = symbol::spelling(i32(issue->w2));
    u32 node = decode_16(reinterpret_cast<const u8*>(spelling.data()), i64(spelling.size()), 1);
    if (!node) fire(ERR_SCRIPT, "invalid-data", issue);
    cell::init(result, TYPE_BINARY);
    result->w2 = node;
    return result;
}

Cell* to(Cell*, Cell* spec, u32) {
    u32 st = TYPE_OF(spec);
    switch (st) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
        case TYPE_CHAR:
        case TYPE_TUPLE:
        case TYPE_BINARY:
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF: {
            std::vector<u8> bytes;
            insert_value(&bytes, spec, -1, false, MODE_WRITE);
            return from_bytes(bytes);
        }
        case TYPE_INTEGER: return from_u64(u32(integer::get(spec)), 4);
        case TYPE_FLOAT:
        case TYPE_PERCENT: return from_u64(std::bit_cast<u64>(cell::get_float(spec)), 8);
        case TYPE_ISSUE: return from_issue(spec, fresh_result());
        case TYPE_BITSET:
            return load(bitset::zs_head(spec), bitset::byte_length(spec));
        case TYPE_IMAGE:
            if (!image_to_binary) fire(ERR_INTERNAL, "not-done");
            return image_to_binary(spec, fresh_result());
        default: bad_to_arg(spec);
    }
}

// --- form and mold -------------------------------------------------------------------

i32 mold_bytes(const Cell* bin, Cell* buffer, bool only, bool flat, const Cell* arg, i32 part, i32 indent) {
    constexpr i64 LINE = 32;   // bytes a line
    // Measured before writing: the buffer written to may be this very series.
    u32 node = bin->w2;
    i64 abs = series::length_of(node_buffer(node));
    i64 h = std::min(head_index(bin), abs);
    i64 n = abs - h;
    if (!only) {
        string::append_literal(buffer, "#{");
        part -= 2;
    }
    i32 inner = indent + 1;
    bool lines = n > 30 && !flat;
    if (lines) part = block::new_line(buffer, inner, part);
    u8 hex[2 * LINE];
    for (i64 i = 0; i < n;) {
        i64 k = std::min(LINE, n - i);
        // A mold cut by /part stops after the byte that uses up the part.
        bool cut = false;
        if (arg) {
            i64 fit = std::max<i64>(1, (i64(part) + 1) / 2);
            if (fit < k) {
                k = fit;
                cut = true;
            }
        }
        encode_16(hex, series::head(node_buffer(node)) + h + i, k);
        string::append_bytes(buffer, hex, 2 * k);
        part -= i32(2 * k);
        i += k;
        if (cut) return part;
        if (i % LINE == 0 && !flat) part = block::new_line(buffer, inner, part);
        if (arg && part <= 0) return part;
    }
    if (lines && n % LINE != 0) part = block::new_line(buffer, indent, part);
    if (!only) {
        string::append_char(buffer, '}');
        part--;
    }
    return part;
}

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    return mold_bytes(value, buffer, false, false, arg, part, 0);
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool, bool flat, const Cell* arg, i32 part, i32 indent) {
    return mold_bytes(value, buffer, only, flat, arg, part, indent);
}

// --- Comparison ---------------------------------------------------------------------

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_BINARY) return NOT_COMPARABLE;
    return compare_bytes(value, other, op, false);
}

// --- Bitwise actions ----------------------------------------------------------------

void do_bitwise(i32 op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (TYPE_OF(right) != TYPE_BINARY) fire(ERR_SCRIPT, "invalid-arg", right);
    // Heads past the tail read as the tail.
    series::clamp_head(left);
    series::clamp_head(right);
    i64 la = zs_length_q(left), lb = zs_length_q(right);
    i64 n = std::max(la, lb), common = std::min(la, lb);
    u32 node = memory::alloc_bytes(n);
    // Both operands are stack cells; their buffers are read after the allocation.
    const u8* a = series::head(node_buffer(left->w2)) + head_index(left);
    const u8* b = series::head(node_buffer(right->w2)) + head_index(right);
    SeriesBuffer* s = node_buffer(node);
    u8* out = series::head(s);
    switch (op) {
        case MATH_AND: for (i64 i = 0; i < common; i++) out[i] = a[i] & b[i]; break;
        case MATH_OR: for (i64 i = 0; i < common; i++) out[i] = a[i] | b[i]; break;
        default: for (i64 i = 0; i < common; i++) out[i] = a[i] ^ b[i]; break;
    }
    // The longer operand's rest: copied by or and xor (x | 0 and x ^ 0 are x),
    // zero for and.
    const u8* longer = la > lb ? a : b;
    if (op == MATH_AND) std::memset(out + common, 0, size_t(n - common));
    else std::memcpy(out + common, longer + common, size_t(n - common));
    s->tail = s->offset + u32(n);
    cell::init(left, TYPE_BINARY);
    left->w2 = node;
}

Cell* complement(Cell* bin) {
    u8* p = zs_head(bin);
    u8* end = zs_tail(bin);
    for (; p < end; p++) *p = u8(~*p);
    return bin;
}

namespace {

void and_() { do_bitwise(MATH_AND); }
void or_() { do_bitwise(MATH_OR); }
void xor_() { do_bitwise(MATH_XOR); }

}  // namespace

// --- Registration ----------------------------------------------------------------------

void init() {
    datatype::Registration r(TYPE_BINARY, TYPE_STRING, "binary!");
    r.on<ACT_TO>(to).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    r.on<ACT_AND_T>(and_).on<ACT_COMPLEMENT>(complement).on<ACT_OR_T>(or_).on<ACT_XOR_T>(xor_);
    r.on<ACT_APPEND>(insert).on<ACT_CHANGE>(change).on<ACT_INSERT>(insert).on<ACT_TRIM>(trim);
    datatype::register_(r);
}

}  // namespace binary
}  // namespace zir
