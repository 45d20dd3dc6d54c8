// integer!: see integer.hpp.
#include "datatypes/integer.hpp"

#include <cmath>

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "services/random.hpp"

namespace zir {
namespace integer {

namespace {
char text[12];
}  // namespace

VectorScalarMath vector_scalar_math = nullptr;

i32 get_arg() { return get(stack::arguments); }
i32 get_any() { return TYPE_OF(stack::arguments) == TYPE_INTEGER ? get(stack::arguments) : 0; }

i32 abs(i32 value) {
    if (ZIR_UNLIKELY(value == INT32_MIN)) fire(ERR_MATH, "overflow");
    return value < 0 ? -value : value;
}

bool float_overflow_q(const Cell* c) {
    double d = cell::get_float(c);
    return !(d <= 2147483647.0 && d >= -2147483648.0);
}

const char* form_signed(i32 value) {
    if (value == 0) return "0";
    if (value == INT32_MIN) return "-2147483648";
    char* p = text + sizeof text - 1;
    *p = 0;
    u32 n = value < 0 ? u32(-value) : u32(value);
    do *--p = char('0' + n % 10);
    while ((n /= 10) != 0);
    if (value < 0) *--p = '-';
    return p;
}

void make_at(Cell* c, i32 value) {
    cell::set_type(c, TYPE_INTEGER);
    c->w2 = u32(value);
}

Cell* make_in(Cell* block, i32 value) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

Cell* push(i32 value) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

Cell* box(i32 value) {
    Cell* c = stack::arguments;
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

// --- The arithmetic core ---------------------------------------------------

namespace {

// An add, subtract or multiply left the 32-bit range: the cell takes the
// exact operation in doubles, or, without a cell, the caller takes the
// wrapped result.
i32 overflowed(Cell* cell, double result, i32 wrapped) {
    if (!cell) return wrapped;
    cell->header = TYPE_FLOAT;
    cell::set_float(cell, result);
    return 0;
}

void check_divisor(i32 a, i32 b) {
    if (ZIR_UNLIKELY(b == 0)) fire(ERR_MATH, "zero-divide");
    if (ZIR_UNLIKELY(b == -1 && a == INT32_MIN)) fire(ERR_MATH, "overflow");
}

}  // namespace

i32 do_math_op(i32 a, i32 b, i32 op, Cell* cell) {
    i32 r;
    switch (op) {
        case MATH_ADD:
            if (ZIR_UNLIKELY(__builtin_add_overflow(a, b, &r))) return overflowed(cell, double(a) + double(b), r);
            break;
        case MATH_SUBTRACT:
            if (ZIR_UNLIKELY(__builtin_sub_overflow(a, b, &r))) return overflowed(cell, double(a) - double(b), r);
            break;
        case MATH_MULTIPLY:
            if (ZIR_UNLIKELY(__builtin_mul_overflow(a, b, &r))) return overflowed(cell, double(a) * double(b), r);
            break;
        case MATH_DIVIDE:
            check_divisor(a, b);
            if (cell && a % b != 0) {
                cell->header = TYPE_FLOAT;
                cell::set_float(cell, double(a) / double(b));
                return 0;
            }
            r = a / b;
            break;
        case MATH_REMAINDER:
            check_divisor(a, b);
            r = a % b;
            break;
        case MATH_OR: r = a | b; break;
        case MATH_AND: r = a & b; break;
        case MATH_XOR: r = a ^ b; break;
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
    if (cell) cell->w2 = u32(r);
    return r;
}

void invalid_operand(const Cell* operand) {
    Cell type;
    datatype::make_at(&type, TYPE_OF(operand));
    fire(ERR_SCRIPT, "invalid-type", &type);
}

void hand_to_vector(i32 op, Cell* vector, const Cell* scalar, Cell* result) {
    if (!vector_scalar_math) fire(ERR_INTERNAL, "not-done");
    *result = *vector_scalar_math(op, vector, scalar);
}

Cell* do_math(i32 op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    switch (TYPE_OF(right)) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            do_math_op(get(left), get(right), op, left);
            return left;
        case TYPE_VECTOR:
            hand_to_vector(op, right, left, left);
            return left;
        // The operands of a richer type hand the operation to that type's
        // math, which decides the result type; each row comes with its core.
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
        case TYPE_MONEY:
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
        case TYPE_TUPLE:
        case TYPE_DATE:
            fire(ERR_INTERNAL, "not-done");
        default:
            invalid_operand(right);
    }
}

// --- Actions ---------------------------------------------------------------

namespace {

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    const char* text = form_signed(get(value));
    i64 n = i64(std::strlen(text));
    string::append_bytes(buffer, reinterpret_cast<const u8*>(text), n);
    return part - i32(n);
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    u32 t = TYPE_OF(other);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_INTEGER) return 1;
    if (t != TYPE_INTEGER && t != TYPE_CHAR) return NOT_COMPARABLE;
    i32 a = get(value), b = i32(other->w2);
    return a < b ? -1 : a > b ? 1 : 0;
}

// The result keeps its datatype: absolute and random of a char! give a char!.
Cell* random_(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(get(value));
        cell::init(value, TYPE_UNSET);
        return value;
    }
    value->w2 = u32(random::int_(secure, get(value)));
    return value;
}

void absolute() { stack::arguments->w2 = u32(abs(get_arg())); }

void add() { do_math(MATH_ADD); }
void divide() { do_math(MATH_DIVIDE); }
void multiply() { do_math(MATH_MULTIPLY); }

Cell* negate(Cell* value) {
    i32 v = get(value);
    if (ZIR_UNLIKELY(v == INT32_MIN)) fire(ERR_MATH, "overflow");
    value->w2 = u32(-v);
    return value;
}

void remainder() { do_math(MATH_REMAINDER); }
void subtract() { do_math(MATH_SUBTRACT); }
bool even_q(const Cell* value) { return (value->w2 & 1) == 0; }
bool odd_q(const Cell* value) { return (value->w2 & 1) != 0; }
void and_() { do_math(MATH_AND); }
void or_() { do_math(MATH_OR); }
void xor_() { do_math(MATH_XOR); }

}  // namespace

void init() {
    datatype::Registration r(TYPE_INTEGER, 0, "integer!");
    r.only_own().on<ACT_RANDOM>(random_).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    r.on<ACT_ABSOLUTE>(absolute).on<ACT_ADD>(add).on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply);
    r.on<ACT_NEGATE>(negate).on<ACT_REMAINDER>(remainder).on<ACT_SUBTRACT>(subtract);
    r.on<ACT_EVEN_Q>(even_q).on<ACT_ODD_Q>(odd_q).on<ACT_AND_T>(and_).on<ACT_OR_T>(or_).on<ACT_XOR_T>(xor_);
    datatype::register_(r);
}

}  // namespace integer
}  // namespace zir
