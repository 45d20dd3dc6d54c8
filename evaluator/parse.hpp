// The parse dialect's engine: matches a series (binary!, any block type or
// any string type) against a block of rules.
//
// One loop over a state number; nested rule blocks, repetitions and commands
// are frames on two process-wide blocks (the input stack and the rule
// stack), never C++ recursion, so the depth of rules is bounded by those
// blocks' limit and not by the machine stack. Every position the engine
// keeps (in the input, in a rule block) is an index re-read through the
// series' node: parens run user code, which may allocate, move buffers or
// change the very rules and input being parsed.
//
// A parse started while another runs (from a paren, the trace callback or a
// function they call) sets the outer one's frames aside with a record on the
// rule stack and gives them back when it ends, however it ends.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace parse {

// The stacks (block nodes kept in the root block) and the index of the
// first cell that belongs to the running parse in each.
extern u32 input_stack;
extern u32 rule_stack;
extern i32 input_head;
extern i32 rule_head;

// When above 0, the number of rounds (a repetition going round again, a
// to/thru search moving on) one parse may take; the parse then stops as if
// a trace callback had answered false. Rules may loop for ever by design
// (`while` over a rule that consumes nothing, a round that inserts what the
// next one consumes); the fuzz target sets this so that they end. 0: none.
extern i64 round_budget;

// Either stack holding this many cells stops the parse with `parse-stack`.
constexpr i32 STACK_LIMIT = 10001;

// Makes the two stacks and the keyword symbols; start-up runs it once,
// after the natives are registered.
void init();

// Runs the rules over the input (both stack cells or cells that do not
// move). `op` is the comparison: 0 (any case) or 2 (strict); `limit` an
// absolute index of the input past which nothing is matched (0: none);
// `callback` a function! or null. Answers the result: a logic! cell, or the
// block a top-level collect made, pushed on the value stack. A break,
// continue, return or exit left by a paren or the callback leaves as a
// stack::PendingExit; errors as language errors; both with the stacks given
// back.
Cell* run(const Cell* input, const Cell* rules, i32 op, i32 limit, const Cell* callback);

}  // namespace parse
}  // namespace zir
