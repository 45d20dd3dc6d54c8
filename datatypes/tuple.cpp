// tuple!: see tuple.hpp.
#include "datatypes/tuple.hpp"

#include <algorithm>
#include <cmath>

#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/point.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"
#include "runtime/ownership.hpp"
#include "services/random.hpp"

namespace zir {
namespace tuple {

namespace {

inline u32& word_of(Cell* t, i32 i) { return i < 4 ? t->w1 : i < 8 ? t->w2 : t->w3; }

inline void set_length(Cell* t, i32 n) { t->header = (t->header & ~LENGTH_MASK) | (u32(n) << LENGTH_SHIFT); }

inline u8 clamp_byte(i64 v) { return u8(v < 0 ? 0 : v > 255 ? 255 : v); }

// A double result as a byte: truncated toward zero, saturated, a NaN as 0.
inline u8 byte_of(double r) { return r >= 255.0 ? 255 : r > 0.0 ? u8(r) : 0; }

[[noreturn]] void bad_to_arg(const Cell* spec) { point::bad_to_arg(TYPE_TUPLE, spec); }

i32 hex_digit(u32 c) {
    if (c >= '0' && c <= '9') return i32(c - '0');
    if (c >= 'A' && c <= 'F') return i32(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return i32(c - 'a' + 10);
    return -1;
}

}  // namespace

void set_byte(Cell* t, i32 i, u8 b) {
    u32& w = word_of(t, i);
    u32 shift = u32(i & 3) * 8;
    w = (w & ~(0xFFu << shift)) | (u32(b) << shift);
}

Cell* make_at(Cell* c, i32 length, u32 w1, u32 w2, u32 w3) {
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_TUPLE;
    set_length(c, length);
    c->w1 = w1;
    c->w2 = w2;
    c->w3 = w3;
    // Bytes past the length stay 0: equality and hashing rely on it.
    for (i32 i = length; i < MAX_LENGTH; i++) set_byte(c, i, 0);
    return c;
}

Cell* push(i32 length, u32 w1, u32 w2, u32 w3) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_TUPLE);
    return make_at(c, length, w1, w2, w3);
}

Cell* push_bytes(i32 count, const i32* values) {
    count = std::min(count, MAX_LENGTH);
    Cell* c = push(std::max(count, MIN_LENGTH), 0, 0, 0);
    for (i32 i = 0; i < count; i++) set_byte(c, i, u8(values[i]));
    return c;
}

Cell* make_rgba(Cell* c, i32 r, i32 g, i32 b, i32 alpha) {
    u32 w1 = u32(u8(r)) | u32(u8(g)) << 8 | u32(u8(b)) << 16;
    if (alpha >= 0) w1 |= u32(u8(alpha)) << 24;
    return make_at(c, alpha >= 0 ? 4 : 3, w1, 0, 0);
}

Cell* from_binary(const Cell* binary, Cell* out) {
    i32 n = std::min(series::rest_length(binary), MAX_LENGTH);
    const u8* bytes = series::head(series::buffer_of(binary)) + series::head_index(binary);
    Cell t;
    cell::init(&t, TYPE_TUPLE);
    make_at(&t, std::max(n, MIN_LENGTH), 0, 0, 0);
    for (i32 i = 0; i < n; i++) set_byte(&t, i, bytes[i]);
    *out = t;
    return out;
}

Cell* from_issue(const Cell* issue, Cell* out) {
    std::string_view digits = symbol::spelling(i32(issue->w2));
    size_t n = digits.size();
    if (n != 3 && n != 6 && n != 8) fire(ERR_SCRIPT, "invalid-data", issue);
    u8 bytes[4] = {};
    for (size_t i = 0; i < n; i++) {
        i32 d = hex_digit(u8(digits[i]));
        if (d < 0) fire(ERR_SCRIPT, "invalid-data", issue);
        if (n == 3) bytes[i] = u8(d * 17);   // #F80 is 255.136.0
        else bytes[i / 2] = u8(bytes[i / 2] << 4 | d);
    }
    Cell t;
    cell::init(&t, TYPE_TUPLE);
    make_at(&t, n == 8 ? 4 : 3, u32(bytes[0]) | u32(bytes[1]) << 8 | u32(bytes[2]) << 16 | u32(bytes[3]) << 24, 0,
            0);
    *out = t;
    return out;
}

Cell* do_math_op(i32 op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (TYPE_OF(left) != TYPE_TUPLE) {
        // A number on the left: only the operations that commute make sense.
        if (op == MATH_SUBTRACT || op == MATH_DIVIDE || op == MATH_REMAINDER) {
            Cell word, type;
            series::make_word(&word, symbol::make(op == MATH_SUBTRACT ? "subtract"
                                                  : op == MATH_DIVIDE ? "divide"
                                                                      : "remainder"));
            datatype::make_at(&type, TYPE_OF(left));
            fire(ERR_SCRIPT, "not-related", &word, &type);
        }
        std::swap(*left, *right);
        if (TYPE_OF(left) != TYPE_TUPLE) integer::invalid_operand(left);
    }
    i32 length = length_of(left);
    Cell result = *left;
    switch (TYPE_OF(right)) {
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = cell::get_float(right);
            for (i32 i = 0; i < length; i++)
                set_byte(&result, i, byte_of(float_::do_math_op(double(byte_at(left, i)), d, op)));
            break;
        }
        case TYPE_INTEGER:
        case TYPE_TUPLE: {
            bool tuple = TYPE_OF(right) == TYPE_TUPLE;
            if (tuple) length = std::max(length, length_of(right));
            set_length(&result, length);
            for (i32 i = 0; i < length; i++) {
                i32 a = byte_at(left, i);   // 0 past the old length
                i32 b = tuple ? byte_at(right, i) : i32(right->w2);
                // Division truncates: no scratch cell, so no float answer.
                Cell scratch;
                cell::init(&scratch, TYPE_INTEGER);
                bool cut = op == MATH_DIVIDE || op == MATH_REMAINDER;
                i32 r = integer::do_math_op(a, b, op, cut ? nullptr : &scratch);
                if (TYPE_OF(&scratch) != TYPE_INTEGER) r = cell::get_float(&scratch) > 0 ? 255 : 0;
                set_byte(&result, i, clamp_byte(r));
            }
            break;
        }
        default:
            integer::invalid_operand(right);
    }
    *left = result;
    return left;
}

i32 compare(const Cell* value, const Cell* other, i32) {
    if (TYPE_OF(other) != TYPE_TUPLE) return NOT_COMPARABLE;
    // Bytes past a length are 0, so the longer length needs no care.
    for (i32 i = 0; i < MAX_LENGTH; i++) {
        u8 a = byte_at(value, i), b = byte_at(other, i);
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

bool all_zero_q(const Cell* t) { return t->w1 == 0 && t->w2 == 0 && t->w3 == 0; }

Cell* poke(Cell* t, i32 index, const Cell* value, const Cell* index_cell) {
    i32 n = length_of(t);
    if (index < 1 || index > n) fire(ERR_SCRIPT, "out-of-range", index_cell);
    if (TYPE_OF(value) == TYPE_NONE) {
        for (i32 i = index - 1; i < n; i++) set_byte(t, i, 0);
        set_length(t, std::max(index - 1, MIN_LENGTH));
    } else {
        set_byte(t, index - 1, clamp_byte(i32(value->w2)));
    }
    return t;
}

// --- Actions -------------------------------------------------------------------------

namespace {

// make and to.
Cell* to(Cell*, Cell* spec, u32) {
    u32 st = TYPE_OF(spec);
    if (st == TYPE_TUPLE) return spec;
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    switch (st) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: {
            i32 n = series::rest_length(spec);
            if (n > MAX_LENGTH) bad_to_arg(spec);
            Cell t;
            cell::init(&t, TYPE_TUPLE);
            make_at(&t, std::max(n, MIN_LENGTH), 0, 0, 0);
            const Cell* items = series::head_cells(series::buffer_of(spec)) + series::head_index(spec);
            for (i32 i = 0; i < n; i++) {
                const Cell* item = &items[i];
                double v;
                switch (TYPE_OF(item)) {
                    case TYPE_INTEGER: v = double(i32(item->w2)); break;
                    case TYPE_CHAR: v = double(item->w2); break;
                    case TYPE_FLOAT: v = std::trunc(cell::get_float(item)); break;
                    default: bad_to_arg(spec);
                }
                if (!(v >= 0.0 && v <= 255.0)) bad_to_arg(spec);
                set_byte(&t, i, u8(v));
            }
            *out = t;
            return out;
        }
        case TYPE_BINARY:
            return from_binary(spec, out);
        case TYPE_ISSUE:
            return from_issue(spec, out);
        default:
            if (!any_text_q(st)) bad_to_arg(spec);
            return point::load_one(spec, TYPE_TUPLE);
    }
}

Cell* make(Cell* proto, Cell* spec, u32 type) { return to(proto, spec, type); }

Cell* random_(Cell* t, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(i32(t->w1 ^ t->w2 ^ t->w3));
        cell::init(t, TYPE_UNSET);
        return t;
    }
    for (i32 i = 0; i < length_of(t); i++) set_byte(t, i, u8(random::int_(secure, byte_at(t, i) + 1) - 1));
    return t;
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    i32 before = string::zs_length(buffer);
    for (i32 i = 0; i < length_of(value); i++) {
        if (i > 0) string::append_char(buffer, '.');
        string::append_literal(buffer, integer::form_signed(byte_at(value, i)));
    }
    return part - (string::zs_length(buffer) - before);
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

Cell* pick(Cell* t, i32 index, Cell*) {
    if (index < 1 || index > length_of(t)) fire(ERR_SCRIPT, "out-of-range", integer::push(index));
    return integer::push(byte_at(t, index - 1));
}

// Reads a byte, or sets one (none cuts the tuple there) in place and tells
// the holder of the tuple.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell* grand_parent, Cell* prev_element, i32,
                bool, bool get, bool, bool notify) {
    if (TYPE_OF(element) != TYPE_INTEGER) integer::invalid_operand(element);
    i32 index = i32(element->w2);
    if (get || !value) return pick(parent, index, element);
    if (TYPE_OF(value) != TYPE_INTEGER && TYPE_OF(value) != TYPE_NONE) integer::invalid_operand(value);
    Cell* old = notify ? stack::push(parent) : nullptr;
    poke(parent, index, value, element);
    if (notify) ownership::notify_set_path(grand_parent, prev_element, old, stack::push(parent), value, index);
    return value;
}

void add() { do_math_op(MATH_ADD); }
void divide() { do_math_op(MATH_DIVIDE); }
void multiply() { do_math_op(MATH_MULTIPLY); }
void remainder() { do_math_op(MATH_REMAINDER); }
void subtract() { do_math_op(MATH_SUBTRACT); }
void and_() { do_math_op(MATH_AND); }

Cell* complement(Cell* t) {
    for (i32 i = 0; i < length_of(t); i++) set_byte(t, i, u8(~byte_at(t, i)));
    return t;
}

void or_() { do_math_op(MATH_OR); }
void xor_() { do_math_op(MATH_XOR); }
i32 length_q(const Cell* t) { return length_of(t); }

// /part n reverses the first n bytes; /skip s reverses them in groups of s.
Cell* reverse(Cell* t, Cell* part, Cell* skip) {
    i32 n = length_of(t);
    if (part) {
        if (TYPE_OF(part) != TYPE_INTEGER) series::fire_refine_arg(series::words.part, part);
        if (i32(part->w2) < 0) fire(ERR_SCRIPT, "out-of-range", part);
        n = std::min(n, i32(part->w2));
    }
    i32 s = 1;
    if (skip) {
        if (TYPE_OF(skip) != TYPE_INTEGER) series::fire_refine_arg(series::words.skip, skip);
        s = i32(skip->w2);
        if (s == n) return t;
        if (s <= 0) fire(ERR_SCRIPT, "out-of-range", skip);
        if (s > n || n % s != 0) series::fire_refine_arg(series::words.skip, skip);
    }
    u8 bytes[MAX_LENGTH];
    for (i32 i = 0; i < n; i++) bytes[i] = byte_at(t, i);
    for (i32 g = 0; g < n / s; g++)
        for (i32 k = 0; k < s; k++) set_byte(t, g * s + k, bytes[n - (g + 1) * s + k]);
    return t;
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_TUPLE, 0, "tuple!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_RANDOM>(random_).on<ACT_TO>(to).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_EVAL_PATH>(eval_path).on<ACT_COMPARE>(compare).on<ACT_ADD>(add).on<ACT_DIVIDE>(divide);
    r.on<ACT_MULTIPLY>(multiply).on<ACT_REMAINDER>(remainder).on<ACT_SUBTRACT>(subtract).on<ACT_AND_T>(and_);
    r.on<ACT_COMPLEMENT>(complement).on<ACT_OR_T>(or_).on<ACT_XOR_T>(xor_).on<ACT_LENGTH_Q>(length_q);
    r.on<ACT_PICK>(pick).on<ACT_REVERSE>(reverse);
    datatype::register_(r);
    actions::math_core[TYPE_TUPLE] = do_math_op;
}

}  // namespace tuple
}  // namespace zir
