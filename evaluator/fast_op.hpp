// Fast operators: infix arithmetic, comparison, integer selection in a block
// and the simple series navigators, done inline for integer! (and, for
// arithmetic, float!) operands without a frame or a dispatch, and through
// the ordinary action (or comparison) in a native frame named by the
// operator's word for every other datatype, so the answer is always the one
// the action gives.
//
// Compiled code was their first caller; here the interpreter uses the same
// inline cores for its infix operators and block paths while tracing is off.
#pragma once

#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "evaluator/actions.hpp"

namespace zir {
namespace fast_op {

// Series operation codes.
enum SeriesOp : i32 {
    SERIES_LENGTH_Q = 1, SERIES_INDEX_Q, SERIES_HEAD_Q, SERIES_TAIL_Q, SERIES_NEXT, SERIES_BACK, SERIES_HEAD,
    SERIES_TAIL,
};

// The inline arithmetic (MathOp add, subtract, multiply, divide, remainder,
// or, and, xor) of `left` and `right` into `left`, as the actions compute it:
// integers (an add, subtract or multiply that leaves 32 bits gives the
// float! of the exact operands; a quotient that is not whole gives a float!; a zero divisor, or
// -1 under the smallest integer, is left to the action's error), and add,
// subtract and multiply of two floats or of a float and an integer. False,
// with `left` untouched, for any other operands.
inline bool math_in_place(Cell* left, const Cell* right, i32 op) {
    u32 lt = TYPE_OF(left), rt = TYPE_OF(right);
    if (lt == TYPE_INTEGER && rt == TYPE_INTEGER) {
        i32 a = integer::get(left), b = integer::get(right), r;
        bool overflow;
        switch (op) {
            case MATH_ADD: overflow = __builtin_add_overflow(a, b, &r); break;
            case MATH_SUBTRACT: overflow = __builtin_sub_overflow(a, b, &r); break;
            case MATH_MULTIPLY: overflow = __builtin_mul_overflow(a, b, &r); break;
            case MATH_DIVIDE:
            case MATH_REMAINDER:
                // The divisors the core refuses are left to the action's error.
                if (b == 0 || (b == -1 && a == INT32_MIN)) return false;
                overflow = true;   // the core: an inexact quotient is a float!
                break;
            // The bit operations, as the core computes them (only the
            // payload word changes).
            case MATH_AND: r = a & b; overflow = false; break;
            case MATH_OR: r = a | b; overflow = false; break;
            case MATH_XOR: r = a ^ b; overflow = false; break;
            default: overflow = true;
        }
        // The core turns an overflow into the float! of the exact operands.
        if (ZIR_UNLIKELY(overflow)) integer::do_math_op(a, b, op, left);
        else cell::store(left, left->header, left->w1, u32(r), left->w3);
        return true;
    }
    // A float with a float or an integer, either way round: the integer is
    // taken as the double it equals, and the result is a float! keeping the
    // left cell's flags.
    if (op <= MATH_MULTIPLY && (lt == TYPE_FLOAT || lt == TYPE_INTEGER) && (rt == TYPE_FLOAT || rt == TYPE_INTEGER)) {
        double a = lt == TYPE_FLOAT ? float_::get(left) : double(integer::get(left));
        double b = rt == TYPE_FLOAT ? float_::get(right) : double(integer::get(right));
        // float_::do_math_op's three cases, without the call.
        double r = op == MATH_ADD ? a + b : op == MATH_SUBTRACT ? a - b : a * b;
        // The cell whole in one store (as cell::store writes it), built from
        // its two halves: the header with word 1 (0), and the double.
        u64 head = u64((left->header & ~TYPE_MASK) | TYPE_FLOAT);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(left),
                         _mm_set_epi64x(i64(std::bit_cast<u64>(r)), i64(head)));
        return true;
    }
    return false;
}

// An integer comparison (CompareOp 0 to 6).
// Without a branch: bit k of an operation's mask is its answer when `a` is
// below (k = 0), equal to (1) or above (2) `b`; any other operation tests
// equality.
inline bool compare_integers(i32 a, i32 b, i32 op) {
    static_assert(COMP_EQUAL == 0 && COMP_NOT_EQUAL == 1 && COMP_STRICT_EQUAL == 2 && COMP_LESSER == 3 &&
                  COMP_LESSER_EQUAL == 4 && COMP_GREATER == 5 && COMP_GREATER_EQUAL == 6);
    static constexpr u8 masks[7] = {2, 5, 2, 1, 3, 4, 6};
    const u32 mask = u32(op) < 7 ? masks[op] : 2;
    const u32 k = u32((a > b) - (a < b) + 1);
    return (mask >> k) & 1;
}

// Arithmetic: the result is pushed, or replaces the top cell (the left
// operand) in the `top` forms. `name` names the frame of the slow path.
void math(i32 op, const Cell* name, const Cell* left, const Cell* right);
void math_int(i32 op, const Cell* name, const Cell* left, i32 right);
void math_top(i32 op, const Cell* name, const Cell* right);
void math_top_int(i32 op, const Cell* name, i32 right);

// Comparison: a logic! pushed, or replacing the top cell.
void compare(i32 op, const Cell* name, const Cell* left, const Cell* right);
void compare_int(i32 op, const Cell* name, const Cell* left, i32 right);
void compare_top(i32 op, const Cell* name, const Cell* right);
void compare_top_int(i32 op, const Cell* name, i32 right);
// Whether the comparison differs from `expected`; nothing stays on the stack.
bool compare_test(i32 op, const Cell* name, const Cell* left, const Cell* right, bool expected);
bool compare_int_test(i32 op, const Cell* name, const Cell* left, i32 right, bool expected);
// The comparison, also written as a logic! into the first cell at
// `stack::arguments`.
bool compare_flag(i32 op, const Cell* name, const Cell* left, const Cell* right);
bool compare_int_flag(i32 op, const Cell* name, const Cell* left, i32 right);

// The n-th value of a block from its head (none! outside it), pushed; any
// other datatype through its path action.
void path_int(const Cell* value, i32 index, const Cell* name);
// A series operation on a block inline, any other datatype through its
// action; the result is pushed.
void series_op(const Cell* series, i32 op, const Cell* name);

}  // namespace fast_op
}  // namespace zir
