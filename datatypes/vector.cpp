// vector!: see vector.hpp.
#include "datatypes/vector.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "datatypes/char.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace vector {

namespace {

using series::buffer_of;
using series::head_index;
using series::words;

// The element types' words, for make's spec.
struct TypeWords {
    i32 integer, char_, float_, percent;
};
TypeWords type_words;

inline u32 width_of(const Cell* v) { return series::unit_of(buffer_of(v)); }
inline u32 element_type(const Cell* v) { return v->w3; }
inline bool real_q(u32 type) { return type == TYPE_FLOAT || type == TYPE_PERCENT; }
inline i32 length_of(const Cell* v) { return series::abs_length(buffer_of(v)); }

[[noreturn]] void no_memory() { fire(ERR_INTERNAL, "no-memory"); }

[[noreturn]] void fire_with_type(const char* id, u32 type) {
    Cell t;
    datatype::make_at(&t, type);
    fire(ERR_SCRIPT, id, &t);
}

// The bytes of one element for each value, checked against the element type
// before anything is written.
std::vector<u8> encode(const Cell* values, i64 count, u32 type, u32 width) {
    std::vector<u8> bytes(size_t(count) * width);
    for (i64 i = 0; i < count; i++) {
        if (TYPE_OF(&values[i]) != type) fire(ERR_SCRIPT, "invalid-arg", &values[i]);
        set_value(bytes.data() + i * width, &values[i], width);
    }
    return bytes;
}

// Makes room for `total` elements at `at`, moving the rest up, and writes
// `count` encoded elements there `times` over; `replaced` elements at `at`
// go. Answers nothing: the caller re-reads the buffer.
void splice(Cell* vector, i32 at, i32 replaced, const std::vector<u8>& bytes, i64 count, i64 times) {
    SeriesBuffer* s = buffer_of(vector);
    u32 width = series::unit_of(s);
    i64 len = series::abs_length(s);
    i64 total = count * times;
    i64 after = len - replaced + total;
    if (after > MAX_LENGTH || after * width > MAX_LENGTH - 15) no_memory();
    if (i64(s->offset) + after * width > i64(s->size)) {
        i64 size = std::max(after * width, 2 * i64(s->size));
        if (size > MAX_LENGTH - 15) size = after * width;
        s = memory::expand_series(s, size);
    }
    u8* base = series::head(s);
    std::memmove(base + (at + total) * width, base + i64(at + replaced) * width, size_t(len - at - replaced) * width);
    if (count > 0) {
        std::memcpy(base + i64(at) * width, bytes.data(), bytes.size());
        if (times > 1) memory::fill_repeat(base + i64(at) * width, count * width, times);
    }
    s->tail = s->offset + u32(after * width);
}

// The values a block-like argument holds, copied out of its buffer.
std::vector<Cell> values_of(const Cell* value, bool spread, i64 limit) {
    if (!spread) return std::vector<Cell>(1, *value);
    i64 n = series::rest_length(value);
    if (limit >= 0 && limit < n) n = limit;
    const Cell* from = series::head_cells(buffer_of(value)) + head_index(value);
    return std::vector<Cell>(from, from + n);
}

// --- Element arithmetic ---------------------------------------------------------

// The float operations on elements are float!'s: IEEE rules, the remainder
// keeping the sign of the dividend, no bitwise operations.
inline double real_op(double a, double b, i32 op) { return float_::do_math_op(a, b, op); }

// Integer elements: the integer core without a result cell, which truncates
// divisions and wraps overflowing sums, differences and products to 32 bits.
inline i32 integer_op(i32 a, i32 b, i32 op) { return integer::do_math_op(a, b, op, nullptr); }

inline i32 read_integer(const u8* p, u32 type, u32 width) {
    if (type == TYPE_CHAR) {
        u32 v = 0;
        std::memcpy(&v, p, width);
        return i32(v);
    }
    return get_integer(p, width);
}

inline void store_integer(u8* p, u32 width, i32 v) {
    u32 bits = u32(v);
    std::memcpy(p, &bits, width);
}

// An element that arithmetic computed, as it will be stored. The low 8 or 16
// bits kept of a char! are always a code point; 32 bits outside 0..0x10FFFF
// would be no character, so they are refused as char! arithmetic refuses them.
inline i32 element_result(u32 type, u32 width, i32 v) {
    if (type == TYPE_CHAR && width == 4 && u32(v) > char_::MAX_CODE_POINT) fire(ERR_MATH, "overflow");
    return v;
}

inline void store_real(u8* p, u32 width, double d) {
    if (width == 8) {
        std::memcpy(p, &d, 8);
        return;
    }
    // Rounded to the nearest single as IEEE 754 rounds, but never by an
    // out-of-range conversion: past the largest single a magnitude still
    // rounds down to it until the midpoint between it and 2^128 (an even
    // tie goes up), where it becomes an infinity.
    constexpr double SINGLE_MIDPOINT = 0x1.ffffffp127;
    float f;
    if (!std::isfinite(d) || std::fabs(d) <= FLT_MAX) f = float(d);
    else if (std::fabs(d) < SINGLE_MIDPOINT) f = d < 0 ? -FLT_MAX : FLT_MAX;
    else f = d < 0 ? -INFINITY : INFINITY;
    std::memcpy(p, &f, 4);
}

// --- Element text -------------------------------------------------------------------

// A float element's text: 16 significant digits for a double, 7 for a
// single; a percent's value times 100, with 13 or 7 and a "%".
const char* real_text(double d, u32 width, bool percent) {
    if (percent) return float_::format(d * 100.0, width == 8 ? float_::FORMAT_PERCENT : float_::FORMAT_PERCENT32);
    return float_::format(d, width == 8 ? float_::FORMAT_FLOAT : float_::FORMAT_FLOAT32);
}

// The elements from the head, one space apart; stops early when a /part
// limit is in force and used up. Chars are molded as char literals.
i32 form_elements(const Cell* value, Cell* buffer, const Cell* arg, i32 part, bool mold) {
    const Cell v = *value;
    u32 type = element_type(&v);
    for (i32 i = head_index(&v); i < length_of(&v); i++) {
        if (arg && part < 1) break;
        i32 before = string::zs_length(buffer);
        if (i != head_index(&v)) string::append_char(buffer, ' ');
        SeriesBuffer* s = buffer_of(&v);
        u32 width = series::unit_of(s);
        const u8* p = series::element_at(s, i);
        switch (type) {
            case TYPE_INTEGER:
                string::append_literal(buffer, integer::form_signed(get_integer(p, width)));
                break;
            case TYPE_CHAR: {
                u32 cp = u32(read_integer(p, type, width));
                if (mold) string::append_literal(buffer, "#\"");
                string::append_escaped_char(buffer, cp, false);
                if (mold) string::append_char(buffer, '"');
                break;
            }
            default:
                string::append_literal(buffer, real_text(get_float(p, width), width, type == TYPE_PERCENT));
                break;
        }
        part -= string::zs_length(buffer) - before;
    }
    return part;
}

const char* type_name(u32 type) {
    switch (type) {
        case TYPE_CHAR: return "char!";
        case TYPE_INTEGER: return "integer!";
        case TYPE_FLOAT: return "float!";
        default: return "percent!";
    }
}

}  // namespace

u32 default_width(u32 type) { return real_q(type) ? 8 : 4; }

// --- Elements ------------------------------------------------------------------------

i32 get_integer(const u8* p, u32 width) {
    switch (width) {
        case 1: return i8(*p);
        case 2: {
            i16 v;
            std::memcpy(&v, p, 2);
            return v;
        }
        case 4: {
            i32 v;
            std::memcpy(&v, p, 4);
            return v;
        }
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
}

double get_float(const u8* p, u32 width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    if (width != 8) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void read_value(const u8* p, u32 type, u32 width, Cell* out) {
    cell::init(out, type);
    if (real_q(type)) cell::set_float(out, get_float(p, width));
    else out->w2 = u32(read_integer(p, type, width));
}

Cell* push_value(const u8* p, u32 type, u32 width) {
    Cell* c = stack::push_slot();
    read_value(p, type, width, c);
    return c;
}

void set_value(u8* p, const Cell* value, u32 width) {
    switch (TYPE_OF(value)) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            store_integer(p, width, i32(value->w2));
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            store_real(p, width, cell::get_float(value));
            break;
        default:
            fire_with_type("invalid-type", TYPE_OF(value));
    }
}

// --- Making and writing -----------------------------------------------------------

Cell* make_at(Cell* c, i64 count, u32 type, u32 width) {
    if (count < 1) count = 1;
    if (count > MAX_LENGTH || count * width > MAX_LENGTH - 15) no_memory();
    u32 node = memory::alloc_series(count, width, 0);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_VECTOR;
    c->w1 = 0;
    c->w2 = node;
    c->w3 = type;
    return c;
}

Cell* push(const Cell* vector) { return stack::push(vector); }

i32 zs_length_q(const Cell* vector) { return series::rest_length(vector); }

void zs_append_int32(Cell* vector, i32 value) {
    SeriesBuffer* s = buffer_of(vector);
    u8* p = memory::alloc_tail_bytes(s, 4);
    std::memcpy(p, &value, 4);
}

void append_value(Cell* vector, const Cell* value) { set_value_at(vector, series::rest_length(vector), value); }

void set_value_at(Cell* vector, i32 index, const Cell* value) {
    std::vector<u8> bytes = encode(value, 1, element_type(vector), width_of(vector));
    i32 at = series::clamp_head(vector) + index;
    if (at >= length_of(vector)) {
        splice(vector, length_of(vector), 0, bytes, 1, 1);
        return;
    }
    std::memcpy(series::element_at(buffer_of(vector), at), bytes.data(), bytes.size());
}

void insert_value_at(Cell* vector, i32 index, const Cell* value) {
    std::vector<u8> bytes = encode(value, 1, element_type(vector), width_of(vector));
    i32 at = series::clamp_head(vector) + index;
    if (at > length_of(vector)) at = length_of(vector);
    splice(vector, at, 0, bytes, 1, 1);
}

// --- Arithmetic ------------------------------------------------------------------

Cell* do_math_scalar(i32 op, Cell* vector, const Cell* scalar, bool scalar_first) {
    u32 type = element_type(vector);
    double real = 0;
    i32 whole = 0;
    switch (TYPE_OF(scalar)) {
        case TYPE_INTEGER:
            whole = integer::get(scalar);
            real = whole;
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            real = cell::get_float(scalar);
            if (!real_q(type)) {
                // Truncated toward zero; a value with no 32-bit integer part
                // has no integer to give.
                if (integer::float_overflow_q(scalar)) fire(ERR_MATH, "overflow");
                whole = i32(std::trunc(real));
            }
            break;
        default:
            fire(ERR_INTERNAL, "not-done");
    }
    // Adding or subtracting 0, multiplying or dividing by 1 changes nothing
    // (0 - v and 1 / v do).
    double operand = real_q(type) ? real : double(whole);
    bool identity = ((op == MATH_ADD || op == MATH_SUBTRACT) && operand == 0.0) ||
                    ((op == MATH_MULTIPLY || op == MATH_DIVIDE) && operand == 1.0);
    if (identity && (op == MATH_ADD || op == MATH_MULTIPLY || !scalar_first)) return vector;
    SeriesBuffer* s = buffer_of(vector);
    u32 width = series::unit_of(s);
    i32 from = series::clamp_head(vector), to = series::abs_length(s);
    if (real_q(type)) {
        for (i32 i = from; i < to; i++) {
            u8* p = series::element_at(s, i);
            double e = get_float(p, width);
            store_real(p, width, scalar_first ? real_op(real, e, op) : real_op(e, real, op));
        }
        return vector;
    }
    // Every element is worked out before any is stored: an error leaves the
    // vector as it was.
    std::vector<i32> results(size_t(std::max(0, to - from)));
    for (i32 i = from; i < to; i++) {
        i32 e = read_integer(series::element_at(s, i), type, width);
        results[size_t(i - from)] =
            element_result(type, width, scalar_first ? integer_op(whole, e, op) : integer_op(e, whole, op));
    }
    for (i32 i = from; i < to; i++) store_integer(series::element_at(s, i), width, results[size_t(i - from)]);
    return vector;
}

namespace {

// The scalar on the left of an integer!, char!, float! or percent! operation
// on a vector: the vector is changed in place and is the answer.
Cell* scalar_on_left(i32 op, Cell* vector, const Cell* scalar) {
    if (TYPE_OF(scalar) == TYPE_CHAR) {
        Cell as_integer = *scalar;
        cell::set_type(&as_integer, TYPE_INTEGER);
        return do_math_scalar(op, vector, &as_integer, true);
    }
    return do_math_scalar(op, vector, scalar, true);
}

}  // namespace

Cell* do_math_op(i32 op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (TYPE_OF(right) != TYPE_VECTOR) return do_math_scalar(op, left, right, false);
    u32 type = element_type(left);
    if (element_type(right) != type) {
        Cell a, b;
        datatype::make_at(&a, type);
        datatype::make_at(&b, element_type(right));
        fire(ERR_SCRIPT, "not-same-type", &a, &b);
    }
    i32 n = std::min(series::rest_length(left), series::rest_length(right));
    u32 width = std::max(width_of(left), width_of(right));
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    make_at(out, n, type, width);
    SeriesBuffer* r = buffer_of(out);
    SeriesBuffer* a = buffer_of(left);
    SeriesBuffer* b = buffer_of(right);
    u32 wa = series::unit_of(a), wb = series::unit_of(b);
    i32 ha = head_index(left), hb = head_index(right);
    u8* dst = series::head(r);
    for (i32 i = 0; i < n; i++, dst += width) {
        const u8* pa = series::element_at(a, ha + i);
        const u8* pb = series::element_at(b, hb + i);
        if (real_q(type)) store_real(dst, width, real_op(get_float(pa, wa), get_float(pb, wb), op));
        else
            store_integer(dst, width,
                          element_result(type, width,
                                         integer_op(read_integer(pa, type, wa), read_integer(pb, type, wb), op)));
    }
    r->tail = r->offset + u32(n) * width;
    *left = *out;
    stack::pop(1);
    return left;
}

// --- Actions ------------------------------------------------------------------

namespace {

// What make's spec says: the element type and width, the count, and where
// the values are (a block, from its head), if any.
struct Spec {
    u32 type = TYPE_INTEGER;
    u32 width = 4;
    i64 count = 0;
    const Cell* values = nullptr;
};

[[noreturn]] void bad_make_arg(const Cell* spec) {
    Cell t;
    datatype::make_at(&t, TYPE_VECTOR);
    fire(ERR_SCRIPT, "bad-make-arg", &t, spec);
}

u32 type_named(const Cell* word) {
    i32 s = symbol::resolve(i32(word->w2));
    if (s == symbol::resolve(type_words.integer)) return TYPE_INTEGER;
    if (s == symbol::resolve(type_words.char_)) return TYPE_CHAR;
    if (s == symbol::resolve(type_words.float_)) return TYPE_FLOAT;
    if (s == symbol::resolve(type_words.percent)) return TYPE_PERCENT;
    return 0;
}

Spec read_spec(const Cell* spec) {
    Spec r;
    u32 st = TYPE_OF(spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        r.count = float_::to_integer_checked(spec);
        return r;
    }
    if (st != TYPE_BLOCK) fire(ERR_INTERNAL, "not-done");
    i32 n = series::rest_length(spec);
    if (n == 0) return r;
    const Cell* items = series::head_cells(buffer_of(spec)) + head_index(spec);
    if (TYPE_OF(&items[0]) != TYPE_WORD) {
        r.type = TYPE_OF(&items[0]);
        if (r.type != TYPE_INTEGER && r.type != TYPE_CHAR && !real_q(r.type)) fire_with_type("invalid-type", r.type);
        r.width = default_width(r.type);
        r.values = spec;
        return r;
    }
    if (n < 2) bad_make_arg(spec);
    r.type = type_named(&items[0]);
    if (!r.type) bad_make_arg(spec);
    i32 i = 1;
    if (TYPE_OF(&items[1]) == TYPE_INTEGER) {
        i32 bits = integer::get(&items[1]);
        if (r.type == TYPE_PERCENT) bits = 64;
        bool ok = real_q(r.type) ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 32;
        if (!ok) bad_make_arg(spec);
        r.width = u32(bits / 8);
        i = 2;
    } else if (r.type == TYPE_PERCENT) {
        r.width = 8;
    } else {
        fire(ERR_SCRIPT, "invalid-spec-field", spec);
    }
    if (i < n && TYPE_OF(&items[i]) == TYPE_INTEGER) {
        r.count = integer::get(&items[i]);
        i++;
        if (i < n && TYPE_OF(&items[i]) == TYPE_BLOCK) r.values = &items[i];
        else if (i < n) fire(ERR_SCRIPT, "invalid-spec-field", spec);
    } else if (i < n) {
        if (TYPE_OF(&items[i]) != TYPE_BLOCK) fire(ERR_SCRIPT, "invalid-spec-field", spec);
        r.values = &items[i];
    }
    return r;
}

}  // namespace

Cell* make(Cell*, Cell* spec, u32) {
    collector::RootCell source(*spec);
    Spec r = read_spec(source.get());
    // The values are copied out of their block before the vector is made.
    std::vector<Cell> values;
    if (r.values) values = values_of(r.values, true, -1);
    collector::RootCells hold(values.data(), values.size());
    std::vector<u8> bytes = encode(values.data(), i64(values.size()), r.type, r.width);
    i64 count = std::max(r.count, i64(values.size()));
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    make_at(out, count, r.type, r.width);
    SeriesBuffer* s = buffer_of(out);
    if (!bytes.empty()) std::memcpy(series::head(s), bytes.data(), bytes.size());
    // Elements past the values given are zeros.
    if (count > i64(values.size())) std::memset(series::head(s) + bytes.size(), 0, size_t(count * r.width) - bytes.size());
    s->tail = s->offset + u32(count > 0 ? count * r.width : 0);
    return out;
}

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    return form_elements(value, buffer, arg, part, false);
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool, bool, const Cell* arg, i32 part, i32) {
    const Cell v = *value;
    u32 type = element_type(&v);
    u32 width = width_of(&v);
    if (!only) {
        string::append_literal(buffer, "make vector! [");
        part -= 14;
    }
    if (series::rest_length(&v) > 0 && width == default_width(type)) {
        part = form_elements(&v, buffer, arg, part, true);
        if (!only) {
            string::append_char(buffer, ']');
            part--;
        }
        return part;
    }
    i32 before = string::zs_length(buffer);
    string::append_literal(buffer, type_name(type));
    string::append_char(buffer, ' ');
    string::append_literal(buffer, integer::form_signed(i32(width * 8)));
    string::append_literal(buffer, " [");
    part -= string::zs_length(buffer) - before;
    part = form_elements(&v, buffer, arg, part, true);
    // The elements' own bracket closes under /only too, so the text loads back.
    string::append_literal(buffer, only ? "]" : "]]");
    return part - (only ? 1 : 2);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_VECTOR) return NOT_COMPARABLE;
    const Cell a = *value, b = *other;
    u32 type = element_type(&a);
    if (element_type(&b) != type) {
        Cell ta, tb;
        datatype::make_at(&ta, type);
        datatype::make_at(&tb, element_type(&b));
        fire(ERR_SCRIPT, "not-same-type", &ta, &tb);
    }
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (a.w2 == b.w2 && a.w1 == b.w1 && (equality || op == COMP_SAME)) return 0;
    if (op == COMP_SAME) return -1;
    i32 la = series::rest_length(&a), lb = series::rest_length(&b);
    if (la != lb && equality) return 1;
    SeriesBuffer* sa = buffer_of(&a);
    SeriesBuffer* sb = buffer_of(&b);
    u32 wa = series::unit_of(sa), wb = series::unit_of(sb);
    for (i32 i = 0, n = std::min(la, lb); i < n; i++) {
        const u8* pa = series::element_at(sa, head_index(&a) + i);
        const u8* pb = series::element_at(sb, head_index(&b) + i);
        if (real_q(type)) {
            double x = get_float(pa, wa), y = get_float(pb, wb);
            if (x != y) return x < y ? -1 : 1;
        } else {
            i32 x = read_integer(pa, type, wa), y = read_integer(pb, type, wb);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append) {
    u32 vt = TYPE_OF(value);
    if (vt == TYPE_NONE) return series;
    bool spread = !only && (vt == TYPE_BLOCK || vt == TYPE_PAREN || vt == TYPE_HASH);
    std::vector<Cell> values = values_of(value, spread, part ? integer::get(part) : -1);
    collector::RootCells hold(values.data(), values.size());
    i64 count = i64(values.size());
    i64 times = dup ? integer::get(dup) : 1;
    if (times < 1 || count == 0) return series;
    i64 total = count * times;
    u32 width = width_of(series);
    if (total > MAX_LENGTH || total * width > MAX_LENGTH - 15) no_memory();
    std::vector<u8> bytes = encode(values.data(), count, element_type(series), width);
    i32 h = series::clamp_head(series);
    bool at_tail = append || h >= length_of(series);
    i32 at = at_tail ? length_of(series) : h;
    bool owned = series::notify(series, append ? words.append : words.insert, value, at, i32(total));
    at = at_tail ? length_of(series) : series::fit(series, h, 0).at;
    splice(series, at, 0, bytes, count, times);
    if (owned) series::notify(series, append ? words.appended : words.inserted, value, at, i32(total));
    if (!append) series->w1 = u32(at + total);
    return series;
}

Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    u32 vt = TYPE_OF(value);
    u32 type = element_type(series);
    u32 width = width_of(series);
    std::vector<Cell> values;
    if (vt == TYPE_VECTOR) {
        // Another vector's elements, as values of its own type.
        SeriesBuffer* s = buffer_of(value);
        for (i32 i = head_index(value); i < series::abs_length(s); i++) {
            Cell element;
            read_value(series::element_at(s, i), element_type(value), series::unit_of(s), &element);
            values.push_back(element);
        }
    } else {
        bool spread = !only && (any_block_q(vt));
        values = values_of(value, spread, -1);
    }
    collector::RootCells hold(values.data(), values.size());
    i64 count = i64(values.size());
    i64 times = dup ? integer::get(dup) : 1;
    if (times < 1) return series;
    i64 total = count * times;
    if (total > MAX_LENGTH || total * width > MAX_LENGTH - 15) no_memory();
    std::vector<u8> bytes = encode(values.data(), count, type, width);
    i32 h = series::clamp_head(series);
    i64 wanted = part ? integer::get(part) : total;
    bool owned = series::notify(series, words.change, value, h, i32(total));
    series::Span span = series::fit(series, h, wanted);
    if (width_of(series) != width || element_type(series) != type) {
        // The handler replaced the buffer by one of another kind: nothing fits.
        span.n = 0;
        total = 0;
    } else {
        splice(series, span.at, span.n, bytes, count, times);
    }
    if (owned) series::notify(series, words.changed, value, span.at, i32(total));
    series->w1 = u32(span.at + total);
    return series;
}

// --- Registration ----------------------------------------------------------------

namespace {

void add() { do_math_op(MATH_ADD); }
void divide() { do_math_op(MATH_DIVIDE); }
void multiply() { do_math_op(MATH_MULTIPLY); }
void remainder() { do_math_op(MATH_REMAINDER); }
void subtract() { do_math_op(MATH_SUBTRACT); }
void and_() { do_math_op(MATH_AND); }
void or_() { do_math_op(MATH_OR); }
void xor_() { do_math_op(MATH_XOR); }

void read_element(const Cell* vector, const u8* element, Cell* out) {
    read_value(element, element_type(vector), width_of(vector), out);
}

void write_element(const Cell* vector, u8* element, const Cell* value) {
    if (TYPE_OF(value) != element_type(vector)) fire(ERR_SCRIPT, "invalid-arg", value);
    set_value(element, value, width_of(vector));
}

}  // namespace

void init_state() {
    type_words = TypeWords{symbol::make("integer!"), symbol::make("char!"), symbol::make("float!"),
                           symbol::make("percent!")};
}

void init() {
    datatype::Registration r(TYPE_VECTOR, TYPE_STRING, "vector!");
    r.only_own();
    for (u32 slot : {ACT_RANDOM, ACT_REFLECT, ACT_EVAL_PATH, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY, ACT_FIND,
                     ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE,
                     ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SORT, ACT_SKIP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE,
                     ACT_MODIFY})
        r.from_parent(slot);
    r.on<ACT_MAKE>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    r.on<ACT_ADD>(add).on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply).on<ACT_REMAINDER>(remainder);
    r.on<ACT_SUBTRACT>(subtract).on<ACT_AND_T>(and_).on<ACT_OR_T>(or_).on<ACT_XOR_T>(xor_);
    r.on<ACT_APPEND>(insert).on<ACT_CHANGE>(change).on<ACT_INSERT>(insert);
    datatype::register_(r);
    series::vector_read = read_element;
    series::vector_write = write_element;
    integer::vector_scalar_math = scalar_on_left;
}

}  // namespace vector
}  // namespace zir
