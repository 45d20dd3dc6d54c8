// integer!: 32-bit signed integers, the value in payload word 2.
//
// Integer arithmetic never wraps silently: an add, subtract or multiply that
// leaves the 32-bit range, or a division that is not exact, answers a float!;
// only the operations with no float answer (negate, absolute, division and
// remainder of -2147483648 by -1, a round whose result leaves 32 bits) raise
// `math overflow`. Operands of other number datatypes go to their math: float!,
// percent! and time! to float!'s dispatcher, the others to their datatype's
// core. The integer core
// `do_math_op` is shared by the math of char!, vector!, pair! and tuple!,
// which keep their own result types around it.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace integer {

// The value of an integer! or char! (its code point).
inline i32 get(const Cell* c) { return i32(c->w2); }
// The value in the result cell of the current call; `get_any` answers 0 unless
// that cell holds an integer!.
i32 get_arg();
i32 get_any();

inline i32 sign(i32 value) { return value > 0 ? 1 : value < 0 ? -1 : 0; }
// |value|; -2147483648 has none and raises `math overflow`.
i32 abs(i32 value);

// True when the double in words 2 and 3 of a cell has no 32-bit integer part:
// above 2147483647.0, below -2147483648.0, or a NaN.
bool float_overflow_q(const Cell* c);

// Decimal text of a value ("-" for negatives, no grouping) in a buffer that
// the next call overwrites.
const char* form_signed(i32 value);

void make_at(Cell* c, i32 value);
Cell* make_in(Cell* block, i32 value);
Cell* push(i32 value);
Cell* box(i32 value);

// The integer arithmetic core: `a op b` for a MathOp.
//
// With a result cell, an add, subtract or multiply that overflows makes the
// cell exactly a float! holding the result computed in doubles, and so does a
// division that is not exact; the core then answers 0. An integer result goes
// to the cell's word 2, its header untouched (a char! stays a char!), and is
// answered. Without a cell, a division truncates toward zero and an overflow
// answers the result wrapped to 32 bits (what element-wise vector arithmetic
// stores).
//
// Division and remainder by 0 raise `math zero-divide`; of -2147483648 by -1,
// `math overflow`. An unknown op is a runtime fault.
i32 do_math_op(i32 a, i32 b, i32 op, Cell* cell);

// The math action on the current call's two arguments, the left an integer!
// (the result cell) and the right the cell after it; answers the result cell.
Cell* do_math(i32 op);

// Scalar arithmetic of a vector!: every element of `vector` combined with
// `scalar` by `op`, answering the resulting vector. The vector module sets it;
// until then a vector operand raises `internal not-done`.
using VectorScalarMath = Cell* (*)(i32 op, Cell* vector, const Cell* scalar);
extern VectorScalarMath vector_scalar_math;
// Runs the vector's scalar arithmetic and writes its answer over `result`.
void hand_to_vector(i32 op, Cell* vector, const Cell* scalar, Cell* result);

// Raises `script invalid-type` with the datatype of an operand.
[[noreturn]] void invalid_operand(const Cell* operand);
// Raises `script not-related` with the word of a math op's action and a datatype.
[[noreturn]] void not_related(i32 op, u32 type);

// Hands the current call's math to the arithmetic core of a richer datatype
// (actions::math_core), as it stands or with the operands swapped first so
// that the richer value is on the left; answers the result cell. A datatype
// without its core yet raises `internal not-done`.
Cell* hand_to_core(u32 type, i32 op);
Cell* hand_swapped(u32 type, i32 op);

// The round of an integer: n to a multiple of |scale|, computed in 64 bits;
// `math overflow` when the result leaves 32 bits.
i64 round_value(i64 n, i64 scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                bool half_ceiling);

// Registers integer!.
void init();

}  // namespace integer
}  // namespace zir
