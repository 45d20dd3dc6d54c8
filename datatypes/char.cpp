// char!: see char.hpp.
#include "datatypes/char.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace char_ {

// --- Values ------------------------------------------------------------------

void make_at(Cell* c, u32 cp) {
    cell::set_type(c, TYPE_CHAR);
    c->w1 = c->w3 = 0;
    c->w2 = cp;
}

Cell* make_in(Cell* block, u32 cp) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_CHAR);
    c->w2 = cp;
    return c;
}

Cell* push(u32 cp) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_CHAR);
    c->w2 = cp;
    return c;
}

// --- Actions -------------------------------------------------------------------

namespace {

[[noreturn]] void bad_to_arg(const Cell* spec) {
    Cell type;
    datatype::make_at(&type, TYPE_CHAR);
    fire(ERR_SCRIPT, "bad-to-arg", &type, spec);
}

// The first character of the UTF-8 bytes at a binary's head.
u32 first_utf8_char(const Cell* spec) {
    SeriesBuffer* s = node_buffer(spec->w2);
    i64 avail = i64(series::used_bytes(s)) - i64(spec->w1);
    if (avail <= 0) bad_to_arg(spec);
    i32 used = avail > 4 ? 4 : i32(avail);
    i32 cp = unicode::decode_utf8_char(series::head(s) + spec->w1, &used);
    // The bytes there begin a character that the binary cuts short.
    if (cp < 0) fire(ERR_ACCESS, "invalid-utf8", spec);
    return u32(cp);
}

// make and to.
Cell* make(Cell*, Cell* spec, u32) {
    u32 t = TYPE_OF(spec);
    u32 cp;
    switch (t) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            cp = spec->w2;   // negatives read as above the range
            if (cp > MAX_CODE_POINT) fire(ERR_SCRIPT, "out-of-range", spec);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            // Truncation toward zero lands in the range exactly for these;
            // a NaN fails both tests.
            double d = cell::get_float(spec);
            if (!(d > -1.0 && d < double(MAX_CODE_POINT) + 1.0)) fire(ERR_SCRIPT, "out-of-range", spec);
            cp = u32(i32(d));
            break;
        }
        case TYPE_BINARY:
            cp = first_utf8_char(spec);
            break;
        default:
            if (!any_text_q(t) || string::zs_length(spec) == 0) bad_to_arg(spec);
            cp = string::get_char_at(spec, i32(spec->w1));
            break;
    }
    cell::init(spec, TYPE_CHAR);
    spec->w2 = cp;
    return spec;
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    string::append_char(buffer, get(value));
    return part - 1;
}

// Answers the part less every code point written, escapes included, so that a
// mold limited by /part stops where its text really reaches the limit.
i32 mold(const Cell* value, Cell* buffer, bool, bool all, bool, const Cell*, i32 part, i32) {
    i32 before = string::zs_length(buffer);
    string::append_literal(buffer, "#\"");
    string::append_escaped_char(buffer, get(value), all);
    string::append_char(buffer, '"');
    return part - (string::zs_length(buffer) - before);
}

// Never folds case: the char a and the char A differ under every op.
i32 compare(const Cell* value, const Cell* other, i32 op) {
    u32 t = TYPE_OF(other);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_CHAR) return 1;
    if (t != TYPE_CHAR && t != TYPE_INTEGER) return NOT_COMPARABLE;
    i32 a = integer::get(value), b = integer::get(other);
    return a < b ? -1 : a > b ? 1 : 0;
}

// The math actions: the char! in the result cell and the operand after it.
void do_math(i32 op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    i32 b;
    switch (TYPE_OF(right)) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            b = integer::get(right);
            break;
        case TYPE_FLOAT:
            // A float with no 32-bit integer part cannot give a code point.
            if (integer::float_overflow_q(right)) fire(ERR_MATH, "overflow");
            b = i32(cell::get_float(right));
            break;
        case TYPE_VECTOR:
            integer::hand_to_vector(op, right, left, left);
            return;
        default:
            integer::invalid_operand(right);
    }
    // A scratch cell shows an overflow, which the argument must not take on;
    // division goes without one and so truncates.
    Cell scratch;
    cell::init(&scratch, TYPE_INTEGER);
    i32 r = integer::do_math_op(integer::get(left), b, op, op == MATH_DIVIDE ? nullptr : &scratch);
    if (TYPE_OF(&scratch) != TYPE_INTEGER || u32(r) > MAX_CODE_POINT) fire(ERR_MATH, "overflow");
    left->w2 = u32(r);
}

void add() { do_math(MATH_ADD); }
void divide() { do_math(MATH_DIVIDE); }
void multiply() { do_math(MATH_MULTIPLY); }
void remainder() { do_math(MATH_REMAINDER); }
void subtract() { do_math(MATH_SUBTRACT); }
void and_() { do_math(MATH_AND); }
void or_() { do_math(MATH_OR); }
void xor_() { do_math(MATH_XOR); }

}  // namespace

void init() {
    datatype::Registration r(TYPE_CHAR, TYPE_INTEGER, "char!");
    r.only_own().from_parent(ACT_RANDOM).from_parent(ACT_ABSOLUTE).from_parent(ACT_EVEN_Q).from_parent(ACT_ODD_Q);
    r.on<ACT_MAKE>(make).on<ACT_TO>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    r.on<ACT_ADD>(add).on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply).on<ACT_REMAINDER>(remainder);
    r.on<ACT_SUBTRACT>(subtract).on<ACT_AND_T>(and_).on<ACT_OR_T>(or_).on<ACT_XOR_T>(xor_);
    datatype::register_(r);
}

}  // namespace char_
}  // namespace zir
