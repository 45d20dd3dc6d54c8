// native!, action! and op!: the runtime's built-in routines as values, and
// the infix operators made from them or from functions.
//
// A native! names one entry of the natives table, an action! one entry of the
// action table (evaluator/natives.hpp, evaluator/actions.hpp):
// - word 1: the entry's number in its table, from 1;
// - word 2: node of the spec block (doc string, arguments with their type
//   blocks, refinements, `return:`);
// - word 3: node of the native record, two cells: a copy of the context! cell
//   of a function context made from the spec, and the argument cache (none!
//   until the evaluator stores the spec's typesets there on the first call).
// An op! is a copy of the value it was made from (native!, action!, function!
// or routine!) whose header holds op!'s id in its low byte and the source's id
// in bits 16..23; an operator made from a function! or routine! is also kept in
// the operator cell of the function's record, so that the evaluator can reach
// the function from it. Calling them is the evaluator's business.
#pragma once

#include "evaluator/actions.hpp"

namespace zir {
namespace native {

constexpr i32 RECORD_CONTEXT = 0;     // cells of the native record
constexpr i32 RECORD_ARGUMENTS = 1;

// make: the spec is a block of exactly two values, a spec block and the
// entry's number; the new value is pushed.
Cell* make(Cell* proto, Cell* spec, u32 type);
// reflect: `spec` gives a block! of the spec; `body` the entry's number (for an
// operator made from a function!, its body); other fields are not provided.
// The answer is written into `value`.
Cell* reflect(Cell* value, i32 field_symbol);
// The mold of a spec block (a block! of the node), for the writers of this
// family.
i32 mold_spec(u32 spec, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);

void init();

}  // namespace native

// action! values (the namespace also holds the action slot signatures of
// evaluator/actions.hpp).
namespace action {

// make: as native!'s, with the action table's numbers.
Cell* make(Cell* proto, Cell* spec, u32 type);
void init();

}  // namespace action

namespace op {

constexpr u32 SOURCE_SHIFT = 16;   // header bits 16..23: the source's datatype
// The cell of a function's record (function! and routine!) that holds the
// operator made from it.
constexpr i32 FUNCTION_RECORD_OP = 3;

// make: the spec is the native!, action!, function! or routine! to make
// infix; its spec must name exactly two operands. The result is written into
// `proto`.
Cell* make(Cell* proto, Cell* spec, u32 type);
void init();

}  // namespace op
}  // namespace zir
