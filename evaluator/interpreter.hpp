// The interpreter: evaluates blocks of values expression by expression.
//
// Code is a series of cells (a block!, a paren!, or a path's elements for
// its refinements) walked by position. Positions are cell indexes into the
// series' buffer, never addresses: any allocation may move the buffer, and
// the code being run may be changed by the code itself (a function that
// clears its own body). Every read goes through the node and stops at the
// series' current tail. The series walked is kept alive by the frame that
// walks it (stack::Frame::code).
//
// Results travel on the value stack (evaluator/stack.hpp). Each routine takes
// a `push` flag: with it, the result is pushed as a new cell (arguments being
// gathered); without it, it is written into the first cell at
// `stack::arguments` and the top is set just above (a statement's result).
//
// Infix operators bind left to right without precedence: the right operand of
// an operator is one value or prefix call, the arguments of a prefix call are
// whole expressions. `1 + 2 * 3` is 9; `add 1 2 * 3` is 7.
//
// break, continue, return, exit and throw are pending exits (stack.hpp): the
// loops here test `stack::pending` after every step and leave at once.
// Errors are C++ exceptions (runtime/fire.hpp).
//
// Tracing: while `tracing` is set, each step reports an event to the tracer,
// a function! of the language (interpreter_trace.cpp). Code of the library
// (series flagged SERIES_LIBRARY) runs untraced and does not move the `near`
// position errors report; the user code it evaluates is traced.
#pragma once

#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace interpreter {

// --- State -------------------------------------------------------------------------

// The user code expression being evaluated, where errors are `near`: a
// block! whose head is the expression's start, or none! when no user code
// runs (library code moves no position).
void near_position(Cell* out);

// Tracing (see interpreter_trace.cpp).
extern bool tracing;          // events are sent
extern bool trace_allowed;    // a tracer is installed: functions flagged TRACE turn tracing on
extern Cell tracer;           // the tracer function!, or none!
extern u32 trace_mask;        // the events the tracer asked for
extern i32 tracer_locals;     // the cells of its /local refinement and locals

// The integer of `system/state/callbacks/bits`, which says for which
// callbacks tracing stays on; null (no system object yet): none.
extern i32 (*callback_bits)();

// --- Code ------------------------------------------------------------------------

// A series being walked: its node, datatype, head and the tail the walk stops
// at (it stops earlier when the series has become shorter).
struct Code {
    u32 node;
    u32 type;
    i32 head;
    i32 tail;
};

// The code of a block value, its head clamped to the tail.
Code code_of(const Cell* block);
// Where a walk must stop now: the tail, or the series' current end.
i32 end_of(const Code& code);
// The code as a series value (head at the code's head).
void code_value(const Code& code, Cell* out);

// The value cell of a word, without raising: null when the word is unbound,
// not looked up yet, or its function is not running (context::get then says
// why). Good until the next allocation.
Cell* word_value_q(const Cell* word);
// The value a path of a word and one element reaches, read without the walk
// of eval_path: an element within a block, the field of an object the
// element word is bound to already. Null for any other path, or when the
// value is unset! or (unless `get`) a function. Good until the next
// allocation.
const Cell* short_path_value(const Cell* path, bool get);

// --- Blocks and expressions ---------------------------------------------------------

// Evaluates every expression of a block in a frame of its own; the last result
// stays as one cell where the frame was opened (unset! for an empty block).
// With `chain` it is also copied into the caller's result cell.
void eval_block(const Cell* block, bool chain);
// A loop body evaluated again and again, as eval_block with `chain` would,
// but in one frame that stays open from one evaluation to the next while
// nothing runs between them: the loop saves the frame's opening and closing
// on every round. `open` is the loop's own state, the frame closed at first; an exit
// left pending closes the frame (the next evaluation opens it again), and
// close_body_walks closes it once the loop is done. Code that may run
// language code between two evaluations (a change handler, a condition)
// closes the frame first: the frames it sees must be the usual ones.
struct BodyWalk {
    bool open = false;
    bool unplanned = false;   // no plan for the body in this loop
    void* plan = nullptr;     // the body's plan as last found
};
void walk_body_again(const Cell* body, BodyWalk* open);
// Whether loop bodies run from their plans (see the interpreter); off, every
// round is walked. For tests that compare the two.
extern bool body_plans;
void close_body_walks(BodyWalk* open);
// Evaluates one expression from `position` (an index into the block's
// series) up to `tail`, in a frame of its own; answers the position after it.
i32 eval_next(const Cell* block, i32 position, i32 tail, bool push);
// `do/next`: the expression at the block's head into the result cell;
// answers the index after it, or the head unchanged at the tail (unset!).
i32 eval_do_next(const Cell* block);
// Evaluates the expression at `p` with the infix operators that follow it
// (unless `prefix_only`); a function value met in the code is taken as a
// value with `functions_as_values`. Answers the position after it.
i32 eval_expression(const Code& code, i32 p, bool prefix_only, bool push, bool functions_as_values);

// --- Calls -----------------------------------------------------------------------------

// Block modes of `apply` (eval_code's `mode`): the arguments come from a block.
constexpr u32 APPLY_POSITIONAL = 1;   // refinements as logic! values in spec order
constexpr u32 APPLY_NAMED = 2;        // refinement! values each with its activation
constexpr u32 APPLY_SAFER = 4;        // one cell per argument

// Calls the function value in `slot` (a stack cell; the cells above it are
// the call's): its arguments are read from `code` at `position`; `path`
// (null: none) gives refinements from its element `path_index` on; `name`
// names the call (null: the cell before `position`); `owner` is the value
// that held the function in a path. `before` arguments are already on the
// stack above the slot (1 for an infix call: its left operand). The result
// replaces the slot (push), or goes to the result cell. Answers the position
// after the arguments.
i32 eval_code(Cell* slot, const Code& code, i32 position, bool push, const Cell* path, i32 path_index,
              const Cell* name, const Cell* owner, u32 mode, i32 before);
// The argument cache of a function value (a block node), built on its first
// call: one typeset per argument (its mode in typeset::ARG_MODE bits: 0
// evaluated, 1 get-word, 2 lit-word, 3 `return:`), a refinement! per
// refinement (for natives and actions its ordinal in word 3), and a final
// integer!: the /local cells of a function, the refinements of a native.
u32 arg_cache(const Cell* fn);
// Builds the cache from the spec; a set-word other than `return:` raises
// `script bad-func-def`, and so does a spec changed since the function was
// made so that it no longer names the words of its context.
u32 make_arg_cache(const Cell* fn);
// Runs a function! whose frame is open and whose arguments and locals are
// the cells from `stack::arguments` on; the result goes to the first one.
// `callback_bit` (0: none) says which callback it is, for tracing.
void call_function(const Cell* fn, u32 owner_ctx, const Cell* name, i32 callback_bit);
// Runs an interpreted body: the function's values are the frame's cells, the
// frame is the return boundary.
void eval_function(const Cell* fn, const Cell* body, const Cell* name);
// Calls a routine! whose arguments are in place (see `routines`).
void exec_routine(const Cell* routine);
// Whether the cell on top of the value stack is a function! or routine!.
inline bool top_callable_q() {
    u32 t = stack::top_type();
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}
// Pushes the cells a function's frame needs after the `given` arguments
// already pushed: false for refinements, none! for their arguments and the
// locals (callbacks called from C++ give only the arguments). Given cells
// past the function's own arguments are dropped first.
void fill_frame(const Cell* fn, i32 given);

// --- Routines ----------------------------------------------------------------------------
// A routine! is a C++ function in this table, named by its index from 1 (the
// integer in its record). Its arguments arrive converted: logic! as 0 or 1,
// integer! as 32 bits, float! as a double, anything else as the address of
// its cell; a routine with POINTER_ARGS receives every argument as a cell
// address. A routine that declares no result type answers the address of
// its result cell (null for unset); one that declares logic!, integer! or
// float! answers a machine value that is converted. A function! whose
// record holds a non-zero entry runs the routine of that index in place of
// its body, its arguments as cell addresses.
union RoutineValue {
    i32 i;
    double f;
    Cell* cell;
};
using Routine = RoutineValue (*)(const RoutineValue* args, i32 count);
constexpr i32 ROUTINES_SIZE = 256;
extern Routine routines[ROUTINES_SIZE];
// Adds a routine and answers its index (from 1).
i32 add_routine(Routine entry);

// --- Paths -----------------------------------------------------------------------------

// Where a path's target lives (the locator form of eval_path). Its cells are
// collector roots while it lives: keep it as a local of the code that walks.
struct Locator {
    i32 count = 0;                // index + 1 of the element where the walk stopped, 0 when none
    i32 kind = 4;                 // 0 the head word's value, 1 a cell of the value stack, 2 an element
                                  // of a series or map!, 3 a field of an object, error or port, 4 none
    collector::RootCell value;    // the value reached
    collector::RootCell container;   // where it came from
    i32 index = 0;                // its index in the series or context
};

// Evaluates a path (plain, `get` or `set` form); in set form the value to
// store is the first cell at `stack::arguments`. A function reached is called
// with its arguments from `code` at `position`. Answers the position after
// the path expression. With a locator the walk stops at the first paren!
// element (count 0) or resumes after the recorded element (count > 0).
i32 eval_path(const Cell* path, const Code& code, i32 position, bool set, bool get, bool push, bool pass,
              Locator* locator);
// Runs eval_path in locator form on a path, with the locator's four cells
// after `stack::arguments`; answers whether a count was recorded.
bool eval_path_locator(const Cell* path, bool get, bool set, Locator* locator);

// --- Trace events ------------------------------------------------------------------------

enum Event : u32 {
    EVENT_INIT = 1,
    EVENT_END = 2,
    EVENT_PROLOG = 4,
    EVENT_EPILOG = 8,
    EVENT_ENTER = 16,
    EVENT_EXIT = 32,
    EVENT_OPEN = 64,
    EVENT_RETURN = 128,
    EVENT_FETCH = 256,
    EVENT_PUSH = 512,
    EVENT_SET = 1024,
    EVENT_CALL = 2048,
    EVENT_ERROR = 4096,
    EVENT_THROW = 8192,
    EVENT_CATCH = 16384,
    EVENT_EXPR = 32768,
};
constexpr u32 ALL_EVENTS = 0x1FFFF;

// The events a tracer asks for: the words of the block that starts its body,
// or every event.
u32 trace_mask_of(const Cell* tracer_fn);
// Sends an event to the tracer when the mask holds it (callers test
// `tracing` first). `code` may be null; `position` is an index into its
// series; `reference` and `value` may be null (none!).
void trace_event(u32 event, const Code* code, i32 position, const Cell* reference, const Cell* value);
// Installs a tracer (what `do/trace` does) and sends `init`; `stop_tracing`
// sends `end` and removes it.
void start_tracing(const Cell* tracer_fn);
void stop_tracing();
// The single events of the natives and callbacks; each does nothing while
// `tracing` is clear.
void trace_init();
void trace_end();
void trace_throw();
void trace_catch();
void trace_call(const Cell* reference, const Cell* value);
void trace_return(const Cell* reference);
// Start-up: the words of the events.
void init_trace();

// --- Start-up and the top level -------------------------------------------------------------

// Start-up and memory resets: the state, the hooks the datatypes call the
// interpreter through, the machine stack limit of the calling thread.
void init();
// Deep recursion of the interpreter stops with `internal stack-overflow`
// this far above the end of the machine stack of the thread that runs it.
// Answers the previous limit, which `restore_machine_stack` puts back (for
// code that runs the interpreter on a thread of its own).
const char* set_machine_stack();
void restore_machine_stack(const char* limit);
// A bound on the work of code a host does not trust (the fuzz target's
// programs): while not negative, every expression and block evaluated counts
// it down, and at zero each raises `internal limit-hit` until the host sets
// it again. Negative (the default): no bound. At zero, `more_steps` (when
// set) is asked first: answering true, it has set a new count in
// `steps_left` and the evaluation goes on (a host's bound in time). A
// budget is set, or taken away with -1, by set_step_budget only.
extern i64 steps_left;
extern bool (*more_steps)();
void set_step_budget(i64 steps);
// Spends one step of the budget for work that is not an expression (a
// parse's rounds); false, spending nothing, when none is left.
bool spend_step();
// Prints an error that nothing caught, as the console would, and answers the
// process's exit status for it (-2).
int report_uncaught(const LanguageError& e);

}  // namespace interpreter
}  // namespace zir
