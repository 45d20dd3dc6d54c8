// The interpreter: blocks, expressions and calls. See interpreter.hpp; paths
// are in interpreter_path.cpp, trace events in interpreter_trace.cpp.
#include "evaluator/interpreter.hpp"

#include <pthread.h>

#include <cstring>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/error.hpp"
#include "datatypes/float.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/native.hpp"
#include "datatypes/none.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/object.hpp"
#include "datatypes/block_sort.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "runtime/print_hooks.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/fast_op.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fault.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace interpreter {

Routine routines[ROUTINES_SIZE] = {};

namespace {

i32 routine_count = 0;
// A routine's arity has five bits.
constexpr i32 MAX_ROUTINE_ARGS = 32;

// Words the interpreter reads code for.
struct Words {
    i32 system, system_global, set_path, local, return_, any_type;
};
Words words;

// The name of calls made without a word.
Cell anon_word = {TYPE_UNSET, 0, 0, 0};

// --- The machine stack ----------------------------------------------------------------

// The lowest address the interpreter's recursion may reach on the thread that
// runs it: the end of the thread's stack plus a margin for the error's own
// work (building it, a tracer, a sanitizer's report).
const char* stack_floor = nullptr;
// What check_machine_stack compares the machine stack with: the floor, or,
// while a step budget is set, the top of the address space, so that every
// check takes the slow path, which counts the step (one comparison on the
// hot path either way).
const char* machine_limit = nullptr;
// Room left on the machine stack by a shortcut that stands for a few levels
// of the interpreter's recursion.
constexpr i32 TYPE_TEST_MACHINE_MARGIN = 64 * 1024;
constexpr size_t MACHINE_MARGIN_MIN = 256 * 1024;

}  // namespace

i64 steps_left = -1;
bool (*more_steps)() = nullptr;

namespace {

// The budget at zero: more from the host, or none.
bool refilled() {
    if (more_steps && more_steps() && steps_left > 0) return true;
    steps_left = 0;
    return false;
}

// check_machine_stack's slow path: the machine stack below its floor, or a
// step spent (the last one raising limit-hit).
[[gnu::noinline]] void machine_stack_slow() {
    if (static_cast<const char*>(__builtin_frame_address(0)) < stack_floor) {
        cycles::reset();
        fire(ERR_INTERNAL, "stack-overflow");
    }
    if (steps_left < 0) return;
    if (steps_left == 0 && !refilled()) {
        Cell what = *word::load("steps");
        fire(ERR_INTERNAL, "limit-hit", &what);
    }
    steps_left--;
}

void arm_machine_limit() {
    machine_limit = steps_left >= 0 ? reinterpret_cast<const char*>(UINTPTR_MAX) : stack_floor;
}

}  // namespace

void set_step_budget(i64 steps) {
    steps_left = steps;
    arm_machine_limit();
}

bool spend_step() {
    if (steps_left < 0) return true;
    if (steps_left == 0 && !refilled()) return false;
    steps_left--;
    return true;
}

namespace {

inline void check_machine_stack() {
    if (ZIR_UNLIKELY(static_cast<const char*>(__builtin_frame_address(0)) < machine_limit)) machine_stack_slow();
}

// --- Reading code ----------------------------------------------------------------------

inline const Cell* cell_at(const Code& code, i32 p) { return block::cell_at(code.node, p); }
// The cells of a buffer of cells (the width is known: no shift to work out).
inline i32 cells_in(const SeriesBuffer* s) { return i32((s->tail - s->offset) >> 4); }

inline void put_result(const Cell* value, bool push) {
    if (push) stack::push(value);
    else stack::set_last_top(value);
}

inline i32 resolved(const Cell* c) { return symbol::resolve(i32(c->w2)); }

// Global words skip the context's own cell: its values block keeps its node
// (context::global_values).
using context::global_values;

// The context of the innermost function body being run and the first of
// its values on the stack: its words are read without looking the context
// up. Set by run_body when it points the context at the frame's cells, and
// given back to the caller's on every way out (the caller's context and
// values are put back at the same time), so it is always what the context
// says. The value stack never moves.
u32 hot_context = 0;
Cell* hot_values = nullptr;

// Words are read on every step: inlined here (word_value_q for the rest).
[[gnu::always_inline]] inline Cell* word_slot(const Cell* word) {
    u32 ctx = word->w1;
    i32 slot = i32(word->w3);
    // (The global context is never 0; a slot below 0 fails the unsigned test.)
    if (ctx == context::global) {
        const context::GlobalSlots& g = context::global_slots_now();
        return u32(slot) < g.count ? g.cells + slot : nullptr;
    }
    if (ctx == hot_context && slot >= 0) return hot_values + slot;
    if (ZIR_UNLIKELY(!ctx || slot < 0)) return nullptr;
    Cell* c = context::cell_of(ctx);
    if (c->header & context::ON_STACK) {
        Cell* first = context::stack_values(c);
        return first ? first + slot : nullptr;
    }
    if (!c->w2) return nullptr;
    SeriesBuffer* values = node_buffer(c->w2);
    return slot < cells_in(values) ? series::head_cells(values) + slot : nullptr;
}

// The global values as they are now: for a run of reads with nothing that
// may allocate between them, which then look the buffer up once.
struct GlobalValues {
    Cell* cells;
    u32 count;
    u32 context;
};
inline GlobalValues global_values_now() {
    const context::GlobalSlots& g = context::global_slots_now();
    return GlobalValues{g.cells, g.count, context::global};
}
[[gnu::always_inline]] inline Cell* word_slot(const GlobalValues& g, const Cell* word) {
    if (word->w1 == g.context) return word->w3 < g.count ? g.cells + word->w3 : nullptr;
    return word_slot(word);
}

// Stores a set-word's value: straight into its cell unless the word belongs
// to an object (whose fields track changes and may have handlers) or must
// be looked up first; an unset value is refused as context::set refuses it.
inline void set_word_value(const Cell* word, const Cell* value) {
    Cell* cell = word_slot(word);
    if (ZIR_LIKELY(cell && TYPE_OF(value) != TYPE_UNSET) &&
        (word->w1 == context::global || context::kind_of(context::cell_of(word->w1)) != context::KIND_OBJECT)) {
        *cell = *value;
        return;
    }
    word::set_from_stack();
}

// Saves the tracing state of a block's evaluation and puts it back on every
// way out: library code sends no events, but the user code it evaluates
// does. (Where errors are near is kept by the walk's frame.)
struct BlockScope {
    bool library;
    bool saved_tracing = tracing;
    bool saved_held;
    explicit BlockScope(bool lib);
    ~BlockScope();
};

// Tracing is on but held off by library code being evaluated.
bool held = false;

BlockScope::BlockScope(bool lib) : library(lib), saved_held(held) {
    if (library) {
        if (tracing) {
            tracing = false;
            held = true;
        }
    } else if (held) {
        tracing = true;
        held = false;
    }
}

BlockScope::~BlockScope() {
    tracing = saved_tracing;
    held = saved_held;
}

}  // namespace

Cell* word_value_q(const Cell* word) { return word_slot(word); }

void near_position(Cell* out) {
    for (const stack::Frame* f = stack::call_top; f > stack::call_bottom;) {
        if ((--f)->flags & stack::FRAME_USER_CODE) {
            cell::init(out, TYPE_BLOCK);
            out->w1 = f->position;
            out->w2 = f->code;
            return;
        }
    }
    cell::init(out, TYPE_NONE);
}

// --- Code ----------------------------------------------------------------------------------

Code code_of(const Cell* block) {
    i32 n = block::cell_count(node_buffer(block->w2));
    i32 head = i32(block->w1) < n ? i32(block->w1) : n;
    return Code{block->w2, TYPE_OF(block), head, n};
}

i32 end_of(const Code& code) {
    i32 n = cells_in(node_buffer(code.node));
    return code.tail < n ? code.tail : n;
}

void code_value(const Code& code, Cell* out) {
    cell::init(out, code.type);
    out->w1 = u32(code.head);
    out->w2 = code.node;
}

// --- Blocks ----------------------------------------------------------------------------------

namespace {
[[gnu::always_inline]] inline i32 expression_at(const Code& code, i32 p, bool prefix_only, bool push, bool fv);
}  // namespace

namespace {

// Whether a block value's series is library code.
inline bool library_q(const Cell* block) { return (node_buffer(block->w2)->flags & SERIES_LIBRARY) != 0; }

// The code of a block value (code_of, inlined for the interpreter's loops).
[[gnu::always_inline]] inline Code block_code(const Cell* block) {
    i32 n = cells_in(node_buffer(block->w2));
    i32 head = i32(block->w1) < n ? i32(block->w1) : n;
    return Code{block->w2, TYPE_OF(block), head, n};
}

// The expressions of a block walked in the frame just opened for it (the
// frame's series is the code's), the last result left in the frame's result
// cell. `library`: the series is flagged SERIES_LIBRARY (the caller knows it).
// A walk of user code keeps in its frame the position of the expression it
// evaluates: errors are near the innermost such frame's (library code moves
// no `near`).
[[gnu::always_inline]] inline void walk_code(const Code& code, bool library) {
    stack::Frame* frame = stack::call_top - 1;
    frame->code = code.node;
    BlockScope scope(library);
    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_ENTER, &code, code.head, nullptr, nullptr);
    i32 p = code.head;
    if (p >= end_of(code)) {
        cell::init(stack::arguments, TYPE_UNSET);
        stack::keep();
    } else {
        if (!library) frame->flags |= stack::FRAME_USER_CODE;
        for (;;) {
            if (!library) frame->position = u32(p);
            p = expression_at(code, p, false, false, false);
            if (ZIR_UNLIKELY(stack::pending != 0)) break;
            if (p >= end_of(code)) break;
            stack::reset();
        }
    }
    if (ZIR_UNLIKELY(tracing) && stack::pending == 0)
        trace_event(EVENT_EXIT, &code, code.tail, nullptr, stack::arguments);
}

// eval_block once the machine stack is checked: the block's own frame, its
// expressions, the result left above the caller's arguments (and with
// `chain` in its result cell).
[[gnu::always_inline]] inline void walk_block(const Code& code, bool chain, bool library) {
    // The frame keeps the series alive while it is walked, whatever the code
    // does to the cell it came from.
    stack::mark(u32(stack::body_symbol), 0, stack::FLAGS_EVAL_BLOCK);
    walk_code(code, library);
    if (chain) stack::unwind_set_last();
    else stack::unwind_last();
}

}  // namespace

bool body_plans = true;

namespace {
bool run_body_plan(const Cell* body, BodyWalk* walk, bool fresh);
void planned_round(const Cell* body, BodyWalk* walk);
void walk_body_round(const Cell* body, BodyWalk* walk);
}  // namespace

void eval_block(const Cell* block, bool chain) {
    check_machine_stack();
    walk_block(block_code(block), chain, library_q(block));
}

namespace {

// The end of every round: the result in the caller's result cell (the
// frame's `arguments`, eval_block's chain), the frame closed by an exit.
[[gnu::always_inline]] inline void finish_round(BodyWalk* walk) {
    *stack::call_top[-1].arguments = *stack::arguments;
    if (ZIR_UNLIKELY(stack::pending != 0)) close_body_walks(walk);
}

// A round of walk_body_again past its first check: the frame opened or
// reset, the round run from the body's plan or walked.
[[gnu::noinline]] void walk_body_round(const Cell* body, BodyWalk* walk) {
    const bool fresh = !walk->open;
    if (walk->open) {
        stack::reset();
    } else {
        stack::keep();
        stack::mark(u32(stack::body_symbol), 0, stack::FLAGS_EVAL_BLOCK);
        walk->open = true;
    }
    if (walk->unplanned || !body_plans || tracing || held ||
        static_cast<const char*>(__builtin_frame_address(0)) < stack_floor || !run_body_plan(body, walk, fresh))
        walk_code(block_code(body), library_q(body));
    finish_round(walk);
}

// A round of a body with no plan, its frame open.
[[gnu::noinline]] void walked_round(const Cell* body, BodyWalk* walk) {
    stack::reset();
    walk_code(block_code(body), library_q(body));
    finish_round(walk);
}

}  // namespace

void walk_body_again(const Cell* body, BodyWalk* walk) {
    check_machine_stack();
    // Each way ends the round itself, so that the call is the last thing done.
    if (walk->open && walk->unplanned) return walked_round(body, walk);
    // The commonest planned round: the frame open, the body's plan trusted.
    if (walk->open && walk->plan && !tracing && !held &&
        static_cast<const char*>(__builtin_frame_address(0)) >= stack_floor)
        return planned_round(body, walk);
    walk_body_round(body, walk);
}

void close_body_walks(BodyWalk* walk) {
    if (!walk->open) return;
    walk->open = false;
    stack::unwind_set_last();
}

i32 eval_next(const Cell* block, i32 position, i32 tail, bool push) {
    // A step of the budget even where the expression is a plain value: the
    // natives that walk a block by this (reduce) may do much work per value.
    check_machine_stack();
    Code code = code_of(block);
    if (tail < code.tail) code.tail = tail;
    stack::mark_body(u32(stack::body_symbol), 0);
    stack::call_top[-1].code = code.node;
    i32 p = position;
    if (p >= end_of(code)) {
        cell::init(stack::arguments, TYPE_UNSET);
        stack::keep();
    } else {
        p = eval_expression(code, p, false, false, false);
    }
    if (push) stack::unwind_last();
    else stack::unwind_set_last();
    return p;
}

i32 eval_do_next(const Cell* block) {
    Code code = code_of(block);
    if (code.head >= end_of(code)) {
        cell::init(stack::arguments, TYPE_UNSET);
        stack::keep();
        return code.head;
    }
    return eval_next(block, code.head, code.tail, false);
}

// --- Expressions -------------------------------------------------------------------------------

namespace {

// An exit raised from C++ code the expression called (a comparator's break,
// a change handler's return, a tracer's throw) leaves that code as an
// exception; from here it is pending again, with the stacks cut back to
// where the expression began, and every level carries it on as usual.
[[gnu::cold]] void exit_left_cpp(const stack::Checkpoint& entry) {
    entry.restore();
    // A frame opened inside the expression and gone now cannot receive it:
    // the code that opened it (a native) had to take it itself.
    if (stack::pending == 0 || stack::pending_target >= entry.call_top) ZIR_FAULT(runtime::FAULT_NO_CATCH);
}

// The MathOp of each action from ACT_ADD to ACT_XOR_T (-1: none), looked up:
// a chain of different operators (`r * x + y - 0.25`) mispredicted the
// indirect jump a switch compiles to.
static_assert(ACT_DIVIDE == ACT_ADD + 1 && ACT_MULTIPLY == ACT_ADD + 2 && ACT_REMAINDER == ACT_ADD + 5 &&
              ACT_SUBTRACT == ACT_ADD + 7 && ACT_AND_T == ACT_ADD + 10 && ACT_OR_T == ACT_ADD + 12 &&
              ACT_XOR_T == ACT_ADD + 13);
constexpr i8 math_of_action[14] = {MATH_ADD, MATH_DIVIDE, MATH_MULTIPLY, -1, -1, MATH_REMAINDER, -1,
                                   MATH_SUBTRACT, -1, -1, MATH_AND, -1, MATH_OR, MATH_XOR};

// The infix operators the interpreter computes itself while tracing is off,
// with the results and errors of the actions and natives they stand for:
// integer and float arithmetic, integer comparison.
[[gnu::always_inline]] inline i32 fast_math_op(const Cell* op) {
    if (((op->header >> op::SOURCE_SHIFT) & 0xFF) != TYPE_ACTION) return -1;
    u32 k = op->w1 - ACT_ADD;
    return k < 14 ? math_of_action[k] : -1;
}

// The natives numbered 25 to 31 compare: equal?, not-equal?, strict-equal?,
// lesser?, greater?, lesser-or-equal?, greater-or-equal?.
constexpr i32 FIRST_COMPARISON_NATIVE = 25;
constexpr i32 comparison_natives[7] = {COMP_EQUAL,   COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_LESSER,
                                      COMP_GREATER, COMP_LESSER_EQUAL, COMP_GREATER_EQUAL};

[[gnu::always_inline]] inline i32 fast_compare_op(const Cell* op) {
    if (((op->header >> op::SOURCE_SHIFT) & 0xFF) != TYPE_NATIVE) return -1;
    i32 n = i32(op->w1) - FIRST_COMPARISON_NATIVE;
    if (n < 0 || n >= 7 || !natives::table[op->w1 - 1]) return -1;
    return comparison_natives[n];
}

// The infix call of an operator whose left operand is at `left`: the
// operator's function takes the left cell and the left operand moves up.
i32 call_infix(Cell* left, const Cell* op, const Code& code, i32 p, bool push, const Cell* name, i32 before) {
    Cell fn = *op;
    fn.header = (op->header & ~(TYPE_MASK | (0xFFu << op::SOURCE_SHIFT))) | ((op->header >> op::SOURCE_SHIFT) & 0xFF);
    for (i32 i = before; i > 0; i--) left[i] = left[i - 1];
    *left = fn;
    stack::top = left + 1 + before;
    // The operands are in place: an exit raised from C++ code the call
    // reaches becomes pending from here.
    stack::Checkpoint entry;
    try {
        return eval_code(left, code, p, push, nullptr, 0, name, left, 0, before);
    } catch (const stack::PendingExit&) {
        exit_left_cpp(entry);
        return p;
    }
}

// The cells of a code's series up to the code's end, and the global values,
// read once: for a run of reads with nothing that may allocate between them.
struct Span {
    const Cell* cells;
    i32 end;
    GlobalValues g;
};

[[gnu::always_inline]] inline Span span_of(const Code& code) {
    SeriesBuffer* s = node_buffer(code.node);
    i32 n = cells_in(s);
    return Span{series::head_cells(s), code.tail < n ? code.tail : n, global_values_now()};
}

// The operator a word at `p` holds, when the code goes on with one there;
// null otherwise. Good until the next allocation.
[[gnu::always_inline]] inline const Cell* op_in(const Span& s, i32 p) {
    if (p >= s.end) return nullptr;
    const Cell* c = s.cells + p;
    if (TYPE_OF(c) != TYPE_WORD) return nullptr;
    const Cell* v = word_slot(s.g, c);
    return v && TYPE_OF(v) == TYPE_OP ? v : nullptr;
}

[[gnu::always_inline]] inline const Cell* op_at(const Code& code, i32 p) {
    SeriesBuffer* s = node_buffer(code.node);
    if (p >= code.tail || p >= cells_in(s)) return nullptr;
    const Cell* c = series::head_cells(s) + p;
    if (TYPE_OF(c) != TYPE_WORD) return nullptr;
    const Cell* v = word_slot(c);
    return v && TYPE_OF(v) == TYPE_OP ? v : nullptr;
}

// The operators after the value at `left` that cannot fail nor call
// anything: integer and float arithmetic and integer comparison (see
// fast_math_op, fast_compare_op) whose right operand is a number written,
// held by a word or read by a short path (short_path_value). Answers the
// position of whatever ends the operators, or of the first operator that
// needs more (a call, a right operand to evaluate) as its complement ~p,
// below 0 (a result in a register, where a flag written through a pointer
// went through memory).
// Nothing here allocates, so the caller's one read of the buffer serves the
// whole run. Only while tracing is off: no events are sent.
// `op` is the operator at `p` when the caller has looked it up (null
// otherwise).
[[gnu::noinline]] i32 plain_infix_in(Cell* left, const Span& s, i32 p, const Cell* op) {
    const Cell* cells = s.cells;
    const i32 end = s.end;
    const GlobalValues g = s.g;
    bool op_left = false;
    for (; p < end; p += 2, op = nullptr) {
        const Cell* c = cells + p;
        if (!op) {
            if (TYPE_OF(c) != TYPE_WORD) break;
            op = word_slot(g, c);
            if (!op || TYPE_OF(op) != TYPE_OP) break;
        }
        op_left = true;
        if (p + 1 >= end) break;
        const Cell* r = c + 1;
        if (TYPE_OF(r) == TYPE_WORD) {
            r = word_slot(g, r);
            if (!r) break;
        } else if (TYPE_OF(r) == TYPE_PATH) {
            r = short_path_value(r, false);
            if (!r) break;
        }
        u32 lt = TYPE_OF(left), rt = TYPE_OF(r);
        if (rt != TYPE_INTEGER && rt != TYPE_FLOAT) break;
        i32 math = fast_math_op(op);
        if (math >= 0) {
            if (!fast_op::math_in_place(left, r, math)) break;
        } else {
            i32 cmp = fast_compare_op(op);
            if (cmp < 0 || lt != TYPE_INTEGER || rt != TYPE_INTEGER) break;
            bool answer = fast_op::compare_integers(integer::get(left), integer::get(r), cmp);
            cell::store(left, TYPE_LOGIC, answer, 0, 0);
        }
        op_left = false;
    }
    return op_left ? ~p : p;
}

// plain_infix_in with its commonest cases first, inlined: one operator
// comparing two integers or doing integer arithmetic other than division,
// the right operand written or held by a word, no operator after it; and a
// right operand missing or not a number (a call, a paren), which ends the
// run at once. Anything else (an overflow included) goes the general way
// from the same operator, nothing changed before that.
[[gnu::always_inline]] inline i32 plain_infix_first(Cell* left, const Span& s, i32 p, const Cell* op) {
    if (p + 1 >= s.end) return ~p;
    const Cell* r = s.cells + p + 1;
    if (TYPE_OF(r) == TYPE_WORD) {
        r = word_slot(s.g, r);
        if (!r) return ~p;
    }
    if (ZIR_LIKELY(TYPE_OF(r) == TYPE_INTEGER && TYPE_OF(left) == TYPE_INTEGER) && !op_in(s, p + 2)) {
        const i32 a = integer::get(left), b = integer::get(r);
        const u32 source = (op->header >> op::SOURCE_SHIFT) & 0xFF;
        if (source == TYPE_NATIVE) {
            i32 cmp = fast_compare_op(op);
            if (cmp >= 0) {
                cell::store(left, TYPE_LOGIC, fast_op::compare_integers(a, b, cmp), 0, 0);
                return p + 2;
            }
        } else if (source == TYPE_ACTION) {
            i32 out;
            bool done;
            switch (fast_math_op(op)) {
                case MATH_ADD: done = !__builtin_add_overflow(a, b, &out); break;
                case MATH_SUBTRACT: done = !__builtin_sub_overflow(a, b, &out); break;
                case MATH_MULTIPLY: done = !__builtin_mul_overflow(a, b, &out); break;
                case MATH_AND: out = a & b, done = true; break;
                case MATH_OR: out = a | b, done = true; break;
                case MATH_XOR: out = a ^ b, done = true; break;
                default: done = false;
            }
            if (done) {
                cell::store(left, left->header, left->w1, u32(out), left->w3);
                return p + 2;
            }
        }
    } else if (TYPE_OF(r) != TYPE_INTEGER && TYPE_OF(r) != TYPE_FLOAT && TYPE_OF(r) != TYPE_PATH) {
        // Where the general way would stop at once: a right operand that is
        // not a number (a call, a paren), which the caller evaluates.
        return ~p;
    }
    return plain_infix_in(left, s, p, op);
}

// The operators that follow an expression whose result is at `left`.
i32 infix_calls(Cell* left, const Code& code, i32 p) {
    for (;;) {
        const Cell* v = op_at(code, p);
        if (!v) return p;
        const Cell name = *cell_at(code, p);
        const Cell op = *v;
        if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_FETCH, &code, p, &name, &name);
        stack::top = left + 1;
        if (ZIR_LIKELY(!tracing)) {
            i32 math = fast_math_op(&op);
            i32 cmp = math < 0 ? fast_compare_op(&op) : -1;
            u32 lt = TYPE_OF(left);
            bool number = lt == TYPE_INTEGER || (lt == TYPE_FLOAT && math >= 0 && math <= MATH_MULTIPLY);
            if ((math >= 0 || cmp >= 0) && number && p + 1 < end_of(code)) {
                // The right operand: a number written or held by a word is
                // taken at once (nothing can fail); anything else is
                // evaluated, in a frame named by the operator as the call
                // would fetch it (an error there names the operator).
                const Cell* r = cell_at(code, p + 1);
                const Cell* rv = TYPE_OF(r) == TYPE_WORD   ? word_slot(r)
                                 : TYPE_OF(r) == TYPE_PATH ? short_path_value(r, false)
                                                           : r;
                if (rv && (TYPE_OF(rv) == TYPE_INTEGER || TYPE_OF(rv) == TYPE_FLOAT)) {
                    left[1] = *rv;
                    stack::top = left + 2;
                    p += 2;
                } else {
                    stack::mark_body(name.w2, name.w1);
                    p = eval_expression(code, p + 1, true, true, false);
                    stack::arguments = (--stack::call_top)->arguments;
                    if (ZIR_UNLIKELY(stack::pending != 0)) return p;
                }
                u32 rt = TYPE_OF(left + 1);
                if (math >= 0 && fast_op::math_in_place(left, left + 1, math)) {
                    stack::top = left + 1;
                } else if (cmp >= 0 && lt == TYPE_INTEGER && rt == TYPE_INTEGER) {
                    bool r = fast_op::compare_integers(integer::get(left), integer::get(left + 1), cmp);
                    cell::store(left, TYPE_LOGIC, r, 0, 0);
                    stack::top = left + 1;
                } else {
                    // Both operands are in place: the ordinary call checks and runs them.
                    i32 after = p;
                    call_infix(left, &op, code, after, true, &name, 2);
                    if (ZIR_UNLIKELY(stack::pending != 0)) return p;
                }
                // The operators that need nothing more, at once (unless the
                // call turned tracing on).
                if (ZIR_LIKELY(!tracing)) {
                    const Cell* next = op_at(code, p);
                    if (!next) return p;
                    const Span s = span_of(code);
                    p = plain_infix_first(left, s, p, next);
                    if (p >= 0) return p;
                    p = ~p;
                }
                continue;
            }
        }
        p = call_infix(left, &op, code, p + 1, true, &name, 1);
        if (ZIR_UNLIKELY(stack::pending != 0)) return p;
    }
}

// The same, the operators that need nothing more taken in one run first;
// the loop of calls only when an operator is left.
[[gnu::always_inline]] inline i32 infix(Cell* left, const Code& code, i32 p) {
    const Cell* op = op_at(code, p);
    if (!op) return p;
    if (ZIR_LIKELY(!tracing)) {
        const Span s = span_of(code);
        p = plain_infix_first(left, s, p, op);
        if (p >= 0) return p;
        p = ~p;
    }
    return infix_calls(left, code, p);
}

// What follows an expression's first operand: the operators after it (unless
// the caller takes a prefix operand only), then, for a statement whose result
// is not pushed, the statement's single result cell and its trace event.
[[gnu::always_inline]] inline i32 operand_tail(Cell* left, const Code& code, i32 p, bool prefix_only, bool push) {
    if (ZIR_UNLIKELY(stack::pending != 0)) return p;
    if (!prefix_only) p = infix(left, code, p);
    if (!push) {
        // Whatever the operators left above the result is not the statement's.
        stack::top = stack::arguments + 1;
        if (ZIR_UNLIKELY(tracing) && stack::pending == 0) trace_event(EVENT_EXPR, &code, p, nullptr, stack::arguments);
    }
    return p;
}

}  // namespace

namespace {

i32 expression(const Code& code, i32 p, bool prefix_only, bool push, bool fv);

}  // namespace

namespace {

// Sets of datatypes, one bit per type.
constexpr u64 type_bit(u32 t) { return t < 64 ? u64(1) << t : 0; }
static_assert(TYPE_TOTAL <= 64);
constexpr u64 CALLABLE_TYPES =
    type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) | type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE);
// The values written in code that stand for themselves.
constexpr u64 LITERAL_TYPES = type_bit(TYPE_INTEGER) | type_bit(TYPE_FLOAT) | type_bit(TYPE_STRING) |
                              type_bit(TYPE_BLOCK) | type_bit(TYPE_CHAR) | type_bit(TYPE_LOGIC) |
                              type_bit(TYPE_NONE) | type_bit(TYPE_PERCENT) | type_bit(TYPE_TIME) |
                              type_bit(TYPE_PAIR) | type_bit(TYPE_TUPLE);

// Whether a value read from a word is its result as it is (no call, no error).
inline bool plain_q(u32 t) { return ((CALLABLE_TYPES | type_bit(TYPE_UNSET) | type_bit(TYPE_OP)) & type_bit(t)) == 0; }

// The value of a plain operand: a value written in the code that stands for
// itself, a word holding such a value, or a short path read without its walk
// (short_path_value). Null for anything else. Good until the next
// allocation.
// (The two cases of a cell that is not a word, and of a word's value.)
[[gnu::always_inline]] inline const Cell* plain_written(const Cell* c) {
    u32 t = TYPE_OF(c);
    if (LITERAL_TYPES & type_bit(t)) return c;
    if (t == TYPE_PATH) return short_path_value(c, false);
    return nullptr;
}
[[gnu::always_inline]] inline const Cell* plain_held(const Cell* v) { return v && plain_q(TYPE_OF(v)) ? v : nullptr; }

[[gnu::always_inline]] inline const Cell* plain_operand(const Cell* c) {
    return TYPE_OF(c) == TYPE_WORD ? plain_held(word_slot(c)) : plain_written(c);
}
// The same, the global values read already.
[[gnu::always_inline]] inline const Cell* plain_operand(const GlobalValues& g, const Cell* c) {
    return TYPE_OF(c) == TYPE_WORD ? plain_held(word_slot(g, c)) : plain_written(c);
}

// The value of a block that holds one expression that cannot fail nor call
// anything: a plain operand and the operators after it that need nothing
// more (plain_infix_first), taking the whole block, copied to `out`. Its
// walk would send no event while tracing is off and not held, and would
// change nothing anyone sees, so it can be skipped: the caller checks both,
// and that check_machine_stack would pass (it counts the steps of a budget).
// False, `out` aside having changed nothing, for any other block.
[[gnu::always_inline]] inline bool plain_block_value(const Cell* block, Cell* out) {
    SeriesBuffer* b = node_buffer(block->w2);
    const i32 n = cells_in(b);
    const i32 head = i32(block->w1);
    // Operands and operators alternate: an odd count of cells.
    if (head >= n || !((n - head) & 1)) return false;
    const Cell* v = plain_operand(series::head_cells(b) + head);
    if (!v) return false;
    *out = *v;
    if (head + 1 == n) return true;
    const Span s = span_of(block_code(block));
    const Cell* op = op_in(s, head + 1);
    return op && plain_infix_first(out, s, head + 1, op) == s.end;
}

// Whether a block has the shape plain_block_value takes: operands that may
// be plain (a value written, a word, a path) and the words of operators,
// alternating. Read once for a function's plan: the words' values are
// looked at by plain_block_value.
bool plain_body_shape_q(const Cell* body) {
    if (TYPE_OF(body) != TYPE_BLOCK) return false;
    SeriesBuffer* b = node_buffer(body->w2);
    const i32 n = cells_in(b), head = i32(body->w1);
    if (head >= n || !((n - head) & 1)) return false;
    const Cell* c = series::head_cells(b);
    for (i32 k = head; k < n; k++) {
        u32 t = TYPE_OF(c + k);
        bool operand = ((k - head) & 1) == 0;
        if (t != TYPE_WORD && !(operand && (t == TYPE_PATH || (LITERAL_TYPES & type_bit(t))))) return false;
    }
    return true;
}

// Whether check_machine_stack would do nothing here.
[[gnu::always_inline]] inline bool machine_stack_fine() {
    return static_cast<const char*>(__builtin_frame_address(0)) >= machine_limit;
}

}  // namespace

namespace {

// --- Call plans ---------------------------------------------------------------------------

constexpr i32 MAX_REFINEMENTS = 64;

// What direct_call needs of an argument cache, worked out once and kept in
// the unused fourth word of the cache's cell in the function's record (a
// new cache comes with that word 0, so it is worked out again): the number
// of entries before the first refinement, the trailing count (a function's
// locals, a native's refinements), and whether the call can be direct at
// all (no literal or get argument among the first entries) and whether a
// function must walk the entries after them (it has refinements).
//
// A native's or action's plan goes further: its argument types are copied
// into a table of the interpreter's, one 64-bit set per argument, and the
// record's word holds the row. A record is made once per native value and
// its cache never changes, so the row stays right for as long as the
// record lives; the call then reads no cell of the cache at all.
constexpr u32 PLAN_KNOWN = 1u << 31;
constexpr u32 PLAN_GENERAL = 1u << 30;
constexpr u32 PLAN_REFINEMENTS = 1u << 29;
constexpr u32 PLAN_ROW = 1u << 28;
// A function's: its body is library code; its record names a built-in entry.
constexpr u32 PLAN_LIBRARY = 1u << 27;
constexpr u32 PLAN_ENTRY = 1u << 26;
// Every leading entry is an evaluated argument taking any value but unset!
// (no type block after its word): its check needs no entry of the cache.
constexpr u32 PLAN_PLAIN_ARGS = 1u << 25;
// A function's: its body had the shape of a type test when the plan was made
// (see type_test; the body is checked again at every call).
constexpr u32 PLAN_TYPE_TEST = 1u << 24;
// A function's: its body had the shape of one plain expression when the plan
// was made (see plain_body_shape_q; plain_block_value checks it at each call).
constexpr u32 PLAN_PLAIN_BODY = 1u << 23;
constexpr u32 PLAN_MAX_LEAD = 0xFF;
constexpr u32 PLAN_MAX_EXTRA = 0x7FFF;
constexpr u32 PLAN_ROW_MASK = 0xFFFF;

struct NativePlan {
    u32 lead;
    u32 extra;
    u32 skip;      // bit k: entry k takes no argument (a return: word)
    u32 literal;   // bit k: argument k is taken as written (its mode in modes)
    u8 modes[8];
    u8 conditional;   // a Conditional: the entry is run by the interpreter itself
    u64 types[8];
};
constexpr i32 NATIVE_PLAN_ARGS = 8;
// Natives made by the program beyond this many use the cache itself.
constexpr i32 NATIVE_PLAN_ROWS = 2048;
NativePlan native_plans[NATIVE_PLAN_ROWS];
i32 native_plan_count = 0;

// The refinements of a native called without any: every one unused.
i32 no_refinements[MAX_REFINEMENTS];

// The natives whose work is only to choose a block and evaluate it: the
// interpreter does that itself (`conditional_call`) when the native's spec
// is the plain shape (a condition, then blocks only, nothing taken as
// written).
enum Conditional : u8 { NOT_CONDITIONAL, COND_IF, COND_UNLESS, COND_EITHER };
// The slots of if, unless and either (0: not built), from the manifest.
i32 conditional_slots[4] = {};

// The plan of the last native or action of each slot whose plan was a row,
// found by its record without reading it: the record node and the plan.
// The native's value is kept here too, as a root: its record cannot be
// freed and its node given to another native while the entry names it.
struct NativeSlot {
    u32 record;
    u32 plan;
};
constexpr i32 NATIVE_SLOTS = natives::NATIVES_SIZE + ACTION_SLOTS;
NativeSlot native_slots[NATIVE_SLOTS];
Cell native_slot_values[NATIVE_SLOTS];

// The entry of native_slots for a native or action value; -1 when its
// number is out of range.
inline i32 native_slot_of(const Cell* fn) {
    u32 n = fn->w1 - 1;
    if (TYPE_OF(fn) == TYPE_ACTION) return n < u32(ACTION_SLOTS) ? i32(n) + natives::NATIVES_SIZE : -1;
    return n < u32(natives::NATIVES_SIZE) ? i32(n) : -1;
}

}  // namespace

namespace {

// An expression through the whole machinery, with the try point that takes
// exits raised from C++ code it calls.
[[gnu::noinline]] i32 expression_caught(const Code& code, i32 p, bool prefix_only, bool push, bool fv) {
    stack::Checkpoint entry;
    try {
        return expression(code, p, prefix_only, push, fv);
    } catch (const stack::PendingExit&) {
        exit_left_cpp(entry);
        return p;
    }
}

// `word: value ...` while tracing is off, the value beginning with a plain
// operand and the word outside any object (whose fields track changes).
// Answers -1, having done nothing, for anything else. The cells are laid out
// as the full path lays them out: the set-word at the top, the value above
// it. The operators that cannot fail nor call anything are run first; the
// set-word's frame is opened over those cells only when an operator needs a
// call, before anything could see the frame or miss it, and the rest goes
// as in the full path.
[[gnu::always_inline]] inline i32 set_word_expression(const Code& code, i32 p, bool push) {
    const Span s = span_of(code);
    if (p + 1 >= s.end) return -1;
    const Cell* word_cell = s.cells + p;
    const Cell* v = plain_operand(s.g, word_cell + 1);
    if (!v) return -1;
    Cell* target = word_slot(s.g, word_cell);
    if (!target) return -1;
    if (word_cell->w1 != context::global &&
        context::kind_of(context::cell_of(word_cell->w1)) == context::KIND_OBJECT)
        return -1;
    Cell* t = stack::top;
    if (ZIR_UNLIKELY(t + 2 + stack::OVERFLOW_MARGIN >= stack::limit)) return -1;
    t[1] = *v;
    // Nothing allocates until an operator is called: `target` holds.
    i32 after = p + 2;
    if (const Cell* op = op_in(s, after)) after = plain_infix_first(t + 1, s, after, op);
    if (ZIR_LIKELY(after >= 0)) {
        *target = t[1];
        if (push) {
            *t = t[1];
            stack::top = t + 1;
        } else {
            stack::set_last_top(t + 1);
        }
        return after;
    }
    after = ~after;
    const Cell word = *cell_at(code, p);
    stack::top = t;
    stack::mark_body(word.w2, word.w1);
    *t = word;
    stack::top = t + 2;
    after = infix_calls(t + 1, code, after);
    if (ZIR_LIKELY(stack::pending == 0)) {
        set_word_value(stack::arguments, stack::arguments + 1);
        *stack::arguments = stack::arguments[1];
    }
    if (push) stack::unwind_last();
    else stack::unwind_set_last();
    return after;
}

inline bool callable_q(u32 t) { return (CALLABLE_TYPES & type_bit(t)) != 0; }

void close_call(Cell* slot, const Code& code, i32 p, bool push, const Cell* name);

[[gnu::always_inline]] inline i32 direct_call(Cell* slot, const Code& code, i32 p, bool push, const Cell* word);

// A call of the function, native, action or routine `fn` that the word at
// `p` holds, and the operators after it, while tracing is off: the word's
// case of `expression` without the others, with the same try point.
[[gnu::noinline]] i32 word_call(const Code& code, i32 p, bool prefix_only, bool push, const Cell* fn) {
    stack::Checkpoint entry;
    try {
        check_machine_stack();
        Cell* left = push ? stack::top : stack::arguments;
        // A function value written in the code itself is called unnamed.
        const Cell* at = cell_at(code, p);
        const Cell word = TYPE_OF(at) == TYPE_WORD ? *at : anon_word;
        Cell* slot = stack::push(fn);
        i32 after = TYPE_OF(slot) == TYPE_ROUTINE ? -1 : direct_call(slot, code, p + 1, push, &word);
        if (after < 0) after = eval_code(slot, code, p + 1, push, nullptr, 0, &word, slot, 0, 0);
        return operand_tail(left, code, after, prefix_only, push);
    } catch (const stack::PendingExit&) {
        exit_left_cpp(entry);
        return p;
    }
}

// A paren! and the operators after it, while tracing is off: the paren's
// case of `expression` without the others, with the same try point.
[[gnu::noinline]] i32 paren_expression(const Code& code, i32 p, bool prefix_only, bool push) {
    stack::Checkpoint entry;
    try {
        check_machine_stack();
        Cell* left = push ? stack::top : stack::arguments;
        const Cell paren = *cell_at(code, p);
        // The block's own frame is the only one: closed as a push, its
        // result cell is the one pushed; chained, the result lands in the
        // statement's cell.
        walk_block(block_code(&paren), !push, library_q(&paren));
        p++;
        return operand_tail(left, code, p, prefix_only, push);
    } catch (const stack::PendingExit&) {
        exit_left_cpp(entry);
        return p;
    }
}

// The row of if, unless or either when `fn` is one of them and its plan is
// known by its record; null otherwise.
[[gnu::always_inline]] inline const NativePlan* conditional_row(const Cell* fn) {
    if (TYPE_OF(fn) != TYPE_NATIVE) return nullptr;
    i32 n = native_slot_of(fn);
    if (n < 0 || native_slots[n].record != fn->w3 || native_slots[n].plan == 0) return nullptr;
    const NativePlan* row = &native_plans[native_slots[n].plan & PLAN_ROW_MASK];
    return row->conditional ? row : nullptr;
}

// The slots of break, continue and return in the natives table.
constexpr u32 BREAK_SLOT = 77;
constexpr u32 CONTINUE_SLOT = 78;
constexpr u32 RETURN_SLOT = 80;

// A chosen block that only leaves: `break` or `continue`, or `return` of one
// plain expression (see plain_block_value), the words holding the runtime's
// natives (their plans known by their records), with a frame to receive the
// exit. Nothing in it can fail, call anything or be seen, so the exit is
// set as the native sets it, without the frames of the block and the call,
// which the exit would close at once. The caller checks, as for
// plain_block_value, that tracing is off and not held and that
// check_machine_stack would pass. False, having done nothing, otherwise.
[[gnu::noinline]] bool exit_block(const Cell* block) {
    SeriesBuffer* b = node_buffer(block->w2);
    const i32 n = cells_in(b), head = i32(block->w1);
    if (head >= n) return false;
    const Cell* c = series::head_cells(b) + head;
    if (TYPE_OF(c) != TYPE_WORD) return false;
    const Cell* v = word_slot(c);
    if (!v || TYPE_OF(v) != TYPE_NATIVE) return false;
    const i32 k = native_slot_of(v);
    if (k < 0 || native_slots[k].record != v->w3 || native_slots[k].plan == 0) return false;
    const NativePlan& row = native_plans[native_slots[k].plan & PLAN_ROW_MASK];
    if (v->w1 == BREAK_SLOT || v->w1 == CONTINUE_SLOT) {
        if (head + 1 != n || row.lead != 0) return false;
        stack::Frame* target = stack::loop_target();
        if (!target) return false;
        stack::set_exit(v->w1 == BREAK_SLOT ? stack::THROW_BREAK : stack::THROW_CONTINUE, target, nullptr);
        return true;
    }
    if (v->w1 != RETURN_SLOT || row.lead != 1 || row.skip || row.literal || head + 1 >= n) return false;
    const Span s = span_of(block_code(block));
    const Cell* x = plain_operand(s.g, s.cells + head + 1);
    if (!x) return false;
    Cell value = *x;
    if (head + 2 < s.end) {
        const Cell* op = op_in(s, head + 2);
        if (!op || plain_infix_first(&value, s, head + 2, op) != s.end) return false;
    }
    const u32 t = TYPE_OF(&value);
    if (t >= 64 || !((row.types[0] >> t) & 1)) return false;
    stack::Frame* target = stack::return_target();
    if (!target) return false;
    stack::set_exit(stack::THROW_RETURN, target, &value);
    return true;
}

// The chosen block of a conditional_expression: the call's frame and cells
// as the full call leaves them, the block evaluated in the frame, the
// operators after the call; with the try point of a call by a word.
// The native's value is in the cell at the top already; `shape` holds
// prefix_only (bit 0), push (bit 1), the argument chosen (bits 2-3) and the
// count of arguments (from bit 4): every argument in a register (a value
// passed on the machine stack was read back whole right after being
// written in parts, which stalls).
[[gnu::noinline]] i32 conditional_block(const Code& code, i32 p, i32 after, u32 shape) {
    const bool prefix_only = shape & 1, push = shape & 2;
    const i32 chosen = i32((shape >> 2) & 3), lead = i32(shape >> 4);
    // A block of one plain expression: its value where the call leaves it
    // (no operator follows: conditional_expression looked).
    if (!held && machine_stack_fine()) {
        const Cell* block = stack::top + 1 + chosen;
        Cell value;
        if (plain_block_value(block, &value)) {
            put_result(&value, push);
            return after;
        }
        // (The exit pending, every caller leaves at once.)
        SeriesBuffer* b = node_buffer(block->w2);
        if (i32(block->w1) < cells_in(b) && TYPE_OF(series::head_cells(b) + block->w1) == TYPE_WORD &&
            exit_block(block))
            return after;
    }
    stack::Checkpoint entry;
    try {
        Cell* left = push ? stack::top : stack::arguments;
        Cell* slot = stack::top;
        stack::top = slot + 1;
        Cell name = *cell_at(code, p);
        name.header &= ~FLAG_NEW_LINE;
        stack::mark_body(name.w2, name.w1);
        stack::top = slot + 1 + lead;
        const Cell block = slot[1 + chosen];
        check_machine_stack();
        walk_block(block_code(&block), true, library_q(&block));
        close_call(slot, code, after, push, &name);
        return operand_tail(left, code, after, prefix_only, push);
    } catch (const stack::PendingExit&) {
        exit_left_cpp(entry);
        return p;
    }
}

// if, unless or either at `p` (`fn` its value, `row` its row) while tracing
// is off, when the condition is a plain operand with the operators that
// need nothing more, and every other argument a block written in the code
// with no operator after it: nothing in that can fail or be seen, so the
// condition is taken with no frame, and the result is none at once when no
// block is chosen. A chosen block is evaluated in the frame and cells the
// full call makes (conditional_block). Answers -1, having done nothing that
// can be seen, for anything else (the full call then takes it from the
// start).
[[gnu::noinline]] i32 conditional_expression(const Code& code, i32 p, bool prefix_only, bool push,
                                             const Cell* fn, const NativePlan& row) {
    const i32 lead = i32(row.lead);
    // The cells go where the full call puts them: the native at the top,
    // its arguments above it. Near a stack's limit, the full call raises.
    Cell* slot = stack::top;
    if (ZIR_UNLIKELY(slot + 1 + lead + stack::OVERFLOW_MARGIN >= stack::limit)) return -1;
    if (ZIR_UNLIKELY(stack::call_top + 1 >= stack::call_limit)) return -1;
    // Nothing allocates until a block is evaluated: the buffer holds.
    const Span s = span_of(code);
    i32 q = p + 1;
    if (q >= s.end) return -1;
    const Cell* v = plain_operand(s.g, s.cells + q);
    if (!v) return -1;
    Cell* cond = slot + 1;
    *cond = *v;
    q++;
    if (const Cell* op = op_in(s, q)) {
        q = plain_infix_first(cond, s, q, op);
        if (q < 0) return -1;
    }
    u32 t = TYPE_OF(cond);
    if (t >= 64 || !((row.types[0] >> t) & 1)) return -1;
    for (i32 k = 1; k < lead; k++, q++) {
        if (q >= s.end) return -1;
        const Cell* b = s.cells + q;
        if (TYPE_OF(b) != TYPE_BLOCK || op_in(s, q + 1)) return -1;
        cond[k] = *b;
    }
    i32 chosen;
    if (row.conditional == COND_EITHER) {
        // (An unset condition is the native's error.)
        if (t == TYPE_UNSET) return -1;
        chosen = logic::falsy_q(cond) ? 2 : 1;
    } else {
        chosen = logic::falsy_q(cond) == (row.conditional == COND_IF) ? 0 : 1;
    }
    if (chosen) {
        *slot = *fn;
        return conditional_block(code, p, q, u32(prefix_only) | u32(push) << 1 | u32(chosen) << 2 | u32(lead) << 4);
    }
    Cell none;
    cell::init(&none, TYPE_NONE);
    put_result(&none, push);
    // No operator follows (looked at above), nothing is pending, tracing is
    // off: operand_tail would leave it all as it is.
    return q;
}

// `word: value` that set_word_expression leaves, while tracing is off: the
// set-word's case of `expression` without the others, with the same try
// point. (The code it runs may turn tracing on: the events are tested.)
[[gnu::noinline]] i32 set_word_call(const Code& code, i32 p, bool prefix_only, bool push) {
    stack::Checkpoint entry;
    try {
        check_machine_stack();
        Cell* left = push ? stack::top : stack::arguments;
        const Cell word = *cell_at(code, p);
        // (The set-word's own frame is open when a value is missing: the
        // error names the word as where it happened.)
        stack::mark_body(word.w2, word.w1);
        stack::push(&word);
        if (p + 1 >= end_of(code)) fire(ERR_SCRIPT, "need-value", &word);
        i32 after = expression_at(code, p + 1, false, true, false);
        if (ZIR_LIKELY(stack::pending == 0)) {
            if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_SET, &code, after, &word, stack::arguments + 1);
            set_word_value(stack::arguments, stack::arguments + 1);
            *stack::arguments = stack::arguments[1];
        }
        if (push) stack::unwind_last();
        else stack::unwind_set_last();
        return operand_tail(left, code, after, prefix_only, push);
    } catch (const stack::PendingExit&) {
        exit_left_cpp(entry);
        return p;
    }
}

// The commonest expressions at once: a plain operand with the operators
// after it, a set-word, a call by a word; everything else through the
// machinery.
[[gnu::always_inline]] inline i32 expression_at(const Code& code, i32 p, bool prefix_only, bool push, bool fv) {
    if (ZIR_LIKELY(!tracing)) {
        // A plain operand, and the operators that may follow it: nothing in
        // that can leave the expression but an operator's call, which takes
        // exits raised from C++ code itself (call_infix).
        const Cell* c = cell_at(code, p);
        const Cell* v;
        if (TYPE_OF(c) == TYPE_WORD) {
            v = word_slot(c);
            if (!v) return expression_caught(code, p, prefix_only, push, fv);
            if (callable_q(TYPE_OF(v))) {
                if (const NativePlan* row = conditional_row(v)) {
                    i32 after = conditional_expression(code, p, prefix_only, push, v, *row);
                    if (after >= 0) return after;
                }
                return word_call(code, p, prefix_only, push, v);
            }
            if (!plain_q(TYPE_OF(v))) return expression_caught(code, p, prefix_only, push, fv);
        } else if (TYPE_OF(c) == TYPE_GET_WORD) {
            // Whatever the word holds, unset! and functions included.
            v = word_slot(c);
            if (!v) return expression_caught(code, p, prefix_only, push, fv);
        } else if (callable_q(TYPE_OF(c)) && !fv) {
            // A function value put into the code (as the library's
            // templates do): called unnamed, as the full path calls it.
            return word_call(code, p, prefix_only, push, c);
        } else {
            v = plain_operand(c);
        }
        if (v) {
            Cell* left = push ? stack::top : stack::arguments;
            put_result(v, push);
            if (prefix_only) return p + 1;
            p = infix(left, code, p + 1);
            if (!push) stack::top = stack::arguments + 1;
            return p;
        }
        if (TYPE_OF(c) == TYPE_SET_WORD) {
            i32 after = set_word_expression(code, p, push);
            if (after >= 0) return after;
            return set_word_call(code, p, prefix_only, push);
        }
        if (TYPE_OF(c) == TYPE_PAREN) return paren_expression(code, p, prefix_only, push);
    }
    return expression_caught(code, p, prefix_only, push, fv);
}

// --- Body plans ----------------------------------------------------------------------------
//
// A loop body walked round after round is read once into a plan: the
// statements from its head that the walk takes by its shortcuts (a set-word
// or a plain operand with the operators after it that need nothing more; an
// if, unless or either on such a condition whose chosen block is one such
// statement or only leaves), each decoded into what it reads (a value
// written, a global word's slot, another word, a short path) and which
// operator and native it expects, with a copy of the cells they came from.
// A round runs those statements from the plan, each checking what it reads
// now (the words' values, the operators and natives they hold, the types,
// the room on the stacks) where the shortcut would have decided otherwise,
// and hands the rest of the round to the walk from the first statement it
// cannot take. Nothing in a planned statement can fail, call anything,
// allocate or be seen, so a statement given up is walked from its start as
// though the plan had never looked at it, and a round run wholly by the plan
// leaves what the walk would leave.
//
// The cells are compared with the copy when the body's frame is opened (a
// loop begins, or goes on after code ran between its rounds) and after any
// round in which the walk ran: only code run by the walk can change a block.
// The rounds in between run from the plan alone.

enum PlanStepKind : u8 { STEP_SET, STEP_VALUE, STEP_CONDITIONAL };
// How a plan reads a cell of the code: the value written there; a global
// word's slot; any other word (word_slot); a short path; nothing (a cell
// that is no word, where only a word could turn into an operator).
enum PlanRead : u8 { READ_WRITTEN, READ_GLOBAL, READ_WORD, READ_PATH, READ_NOTHING };
// A chosen block with no step of its own: one that only leaves (exit_block
// decides at each round), or one the walk must take.
constexpr i32 CHOSEN_EXIT = -2;
constexpr i32 CHOSEN_WALK = -1;
// The largest body and chosen block planned, in cells.
constexpr i32 PLAN_BODY_CELLS = 64;
constexpr i32 PLAN_CHOSEN_CELLS = 16;
constexpr i32 PLAN_CACHE_SIZE = 64;

struct PlanRef {
    i32 at = 0;
    u32 slot = 0;   // a global word's
    u8 read = READ_NOTHING;
};

// An operator of an expression: its word, the value that word held (the
// plan runs it only while it holds the same), its math or comparison, and
// its right operand.
struct PlanOp {
    PlanRef word;
    u32 header, w1;
    i32 math, compare;
    PlanRef right;
};

struct PlanStep {
    u8 kind;
    u8 conditional;   // a Conditional, with its argument count
    u8 lead;
    u8 slice;         // the block whose cells the step reads
    PlanRef target;   // the set-word, or the conditional's word
    PlanRef first;    // the expression's first operand
    i32 ops, op_count;
    PlanRef after[3]; // the cells after the expression and after each block
    u32 header, w1, w3;   // the conditional's native
    u64 types;            // the types its condition takes
    i32 end;
    i32 at;
    i32 chosen[2];    // the step of each block, or CHOSEN_EXIT / CHOSEN_WALK
    i32 blocks;       // where its blocks are
};

// A block whose cells a plan copied: the body, then each chosen block.
struct PlanSlice {
    u32 node;
    i32 head;
    i32 tail;
    i32 copy;   // where its cells start in the plan's copy
};

// An operation of a plan's code (see MicroCode).
struct MicroOp {
    u8 code;
    u8 a;
    u16 b;
    u32 x;
};
static_assert(sizeof(MicroOp) == 8);

struct BodyPlan {
    u32 node = 0;
    u32 type = 0;
    i32 head = 0;
    bool library = false;
    bool trusted = false;
    i32 running = 0;
    i32 statements = 0;   // the body's own steps, first in `steps`
    i32 resume = 0;       // where the walk takes the round over
    // Plans made again for the same cells: a statement the plan stopped at
    // may be taken after a walk (a path's field word is bound by its first
    // walk), so a plan that stopped is made again, twice at most.
    i32 tries = 0;
    std::vector<Cell> cells;
    std::vector<PlanSlice> slices;
    std::vector<PlanStep> steps;
    std::vector<PlanOp> ops;
    std::vector<MicroOp> code;   // the steps lowered (lower_plan)
    std::vector<u32> starts;     // where each statement's operations start
    u32 global_limit = 0;        // above the highest global slot the code reads
    u32 last_at = 0;             // where the last statement starts
};

BodyPlan* plan_cache[PLAN_CACHE_SIZE];

inline u32 plan_index(u32 node) { return (node * 0x9E3779B1u) >> 26; }
static_assert(PLAN_CACHE_SIZE == 64);

// The cells of a slice as the walk's shortcuts read them: the copy, indexed
// as the block's series is.
inline Span plan_span(const BodyPlan& plan, const PlanSlice& slice, const GlobalValues& g) {
    return Span{plan.cells.data() + slice.copy - slice.head, slice.tail, g};
}

// The cells of a block, appended to the plan's copy as a slice; -1 when
// the block is empty or larger than `limit`.
i32 copy_slice(BodyPlan& plan, u32 node, i32 head, i32 limit) {
    SeriesBuffer* b = node_buffer(node);
    const i32 n = cells_in(b);
    if (head >= n || n - head > limit) return -1;
    const Cell* c = series::head_cells(b);
    const i32 copy = i32(plan.cells.size());
    plan.cells.insert(plan.cells.end(), c + head, c + n);
    plan.slices.push_back(PlanSlice{node, head, n, copy});
    return i32(plan.slices.size()) - 1;
}

// Whether every slice still holds the cells copied. The body's own slice
// first: while it matches, the chosen blocks it names are alive.
bool plan_matches(const BodyPlan& plan) {
    for (const PlanSlice& slice : plan.slices) {
        SeriesBuffer* b = node_buffer(slice.node);
        if (cells_in(b) != slice.tail) return false;
        if (std::memcmp(series::head_cells(b) + slice.head, plan.cells.data() + slice.copy,
                        size_t(slice.tail - slice.head) * sizeof(Cell)) != 0)
            return false;
    }
    return true;
}

// How to read the cell at `p` as an operand (READ_NOTHING: not one the
// shortcuts read without a call).
PlanRef operand_ref(const Span& s, i32 p) {
    const Cell* c = s.cells + p;
    const u32 t = TYPE_OF(c);
    if (t == TYPE_WORD || t == TYPE_SET_WORD)
        return c->w1 == s.g.context ? PlanRef{p, c->w3, READ_GLOBAL} : PlanRef{p, 0, READ_WORD};
    if (t == TYPE_PATH) return PlanRef{p, 0, READ_PATH};
    if (LITERAL_TYPES & type_bit(t)) return PlanRef{p, 0, READ_WRITTEN};
    return PlanRef{p, 0, READ_NOTHING};
}

// The cell at `p` where an expression ended: a word there is looked at
// again at each round, since it may come to hold an operator.
PlanRef after_ref(const Span& s, i32 p) {
    if (p >= s.end || TYPE_OF(s.cells + p) != TYPE_WORD) return PlanRef{p, 0, READ_NOTHING};
    return operand_ref(s, p);
}

// Decodes the expression at `p` into the step if the shortcuts take it as
// the cells and words stand now (a plain operand and the operators after it
// that need nothing more); answers where it ends, -1 otherwise. Finding the
// end computes the value, which changes nothing.
i32 plan_expression(BodyPlan& plan, const Span& s, i32 p, PlanStep* step) {
    if (p >= s.end) return -1;
    const Cell* v = plain_operand(s.g, s.cells + p);
    if (!v) return -1;
    Cell value = *v;
    i32 e = p + 1;
    if (const Cell* op = op_in(s, e)) e = plain_infix_first(&value, s, e, op);
    if (e < 0) return -1;
    step->first = operand_ref(s, p);
    step->ops = i32(plan.ops.size());
    step->op_count = (e - p - 1) / 2;
    for (i32 q = p + 1; q < e; q += 2) {
        const Cell* op = op_in(s, q);
        PlanOp o{operand_ref(s, q), op->header, op->w1, fast_math_op(op), -1, operand_ref(s, q + 1)};
        if (o.math < 0) o.compare = fast_compare_op(op);
        if (o.math < 0 && o.compare < 0) return -1;
        if (o.right.read == READ_NOTHING) return -1;
        plan.ops.push_back(o);
    }
    step->after[0] = after_ref(s, e);
    return e;
}

// A set-word's word that takes a plain write: a global's or a function's,
// not an object's field (fields track changes and may have handlers).
[[gnu::always_inline]] inline bool plain_target(const Cell* word) {
    return word->w1 == context::global || word->w1 == hot_context ||
           context::kind_of(context::cell_of(word->w1)) != context::KIND_OBJECT;
}

i32 plan_chosen(BodyPlan& plan, const Cell* block);

// Reads the statement at `p` of slice `slice` into a step; answers where it
// ends, or -1 when the walk must take it. A chosen block's statement
// (`nested`) is a set-word or a value only.
i32 plan_statement(BodyPlan& plan, u8 slice, i32 p, bool nested, PlanStep* step) {
    const GlobalValues g = global_values_now();
    const Span s = plan_span(plan, plan.slices[slice], g);
    if (p >= s.end) return -1;
    const Cell* c = s.cells + p;
    *step = PlanStep{};
    step->kind = STEP_VALUE;
    step->slice = slice;
    step->at = p;
    step->chosen[0] = step->chosen[1] = CHOSEN_WALK;
    if (TYPE_OF(c) == TYPE_SET_WORD) {
        if (!word_slot(g, c) || !plain_target(c)) return -1;
        step->kind = STEP_SET;
        step->target = operand_ref(s, p);
        return step->end = plan_expression(plan, s, p + 1, step);
    }
    if (TYPE_OF(c) == TYPE_WORD) {
        const Cell* v = word_slot(g, c);
        if (!v) return -1;
        if (callable_q(TYPE_OF(v))) {
            const NativePlan* row = conditional_row(v);
            if (nested || !row || row->lead < 2 || row->lead > 3) return -1;
            const u32 header = v->header, w1 = v->w1, w3 = v->w3;
            const i32 e = plan_expression(plan, s, p + 1, step);
            if (e < 0) return -1;
            const i32 lead = i32(row->lead);
            for (i32 k = 0; k + 1 < lead; k++) {
                if (e + k >= s.end || TYPE_OF(s.cells + e + k) != TYPE_BLOCK || op_in(s, e + k + 1)) return -1;
                step->after[k + 1] = after_ref(s, e + k + 1);
            }
            step->kind = STEP_CONDITIONAL;
            step->target = operand_ref(s, p);
            step->conditional = row->conditional;
            step->lead = u8(lead);
            step->header = header, step->w1 = w1, step->w3 = w3;
            step->types = row->types[0];
            step->blocks = e;
            step->end = e + lead - 1;
            // (plan_chosen appends to the plan: `step` and `s` may move.)
            const i32 end = step->end;
            const Cell blocks[2] = {s.cells[e], s.cells[e + lead - 2]};
            const i32 index = i32(step - plan.steps.data());
            i32 chosen[2] = {CHOSEN_WALK, CHOSEN_WALK};
            for (i32 k = 0; k + 1 < lead; k++) chosen[k] = plan_chosen(plan, &blocks[k]);
            plan.steps[size_t(index)].chosen[0] = chosen[0];
            plan.steps[size_t(index)].chosen[1] = chosen[1];
            return end;
        }
    } else if (TYPE_OF(c) == TYPE_GET_WORD || callable_q(TYPE_OF(c))) {
        return -1;
    }
    return step->end = plan_expression(plan, s, p, step);
}

// The step of a chosen block: its one statement, or CHOSEN_EXIT for a block
// that starts with a word of the leaving natives (exit_block decides at
// each round), or CHOSEN_WALK.
i32 plan_chosen(BodyPlan& plan, const Cell* block) {
    const i32 slice = copy_slice(plan, block->w2, i32(block->w1), PLAN_CHOSEN_CELLS);
    if (slice < 0) return CHOSEN_WALK;
    const Cell* first = plan.cells.data() + plan.slices[size_t(slice)].copy;
    if (TYPE_OF(first) == TYPE_WORD) {
        const Cell* v = word_slot(first);
        if (v && TYPE_OF(v) == TYPE_NATIVE && (v->w1 == BREAK_SLOT || v->w1 == CONTINUE_SLOT || v->w1 == RETURN_SLOT))
            return CHOSEN_EXIT;
    }
    plan.steps.emplace_back();
    const i32 index = i32(plan.steps.size()) - 1;
    const PlanSlice sl = plan.slices[size_t(slice)];
    if (plan_statement(plan, u8(slice), sl.head, true, &plan.steps[size_t(index)]) != sl.tail) {
        plan.steps.pop_back();
        return CHOSEN_WALK;
    }
    return index;
}

// Reads a body into a plan: the body's statements are steps 0 to
// `statements`, the chosen blocks' after them.
void lower_plan(BodyPlan& plan);

void make_plan(BodyPlan& plan, const Cell* body) {
    plan.node = body->w2;
    plan.type = TYPE_OF(body);
    plan.head = i32(body->w1);
    plan.library = library_q(body);
    plan.trusted = true;
    plan.cells.clear();
    plan.slices.clear();
    plan.steps.clear();
    plan.ops.clear();
    plan.code.clear();
    plan.statements = 0;
    plan.resume = plan.head;
    if (copy_slice(plan, plan.node, plan.head, PLAN_BODY_CELLS) != 0) return;
    // The chosen blocks' steps are appended as they are met: the body's are
    // gathered apart, then put in front and the others renumbered.
    std::vector<PlanStep> body_steps;
    std::vector<bool> moved;
    i32 p = plan.head;
    const i32 tail = plan.slices[0].tail;
    while (p < tail) {
        plan.steps.emplace_back();
        const i32 index = i32(plan.steps.size()) - 1;
        const i32 end = plan_statement(plan, 0, p, false, &plan.steps[size_t(index)]);
        if (end < 0) {
            plan.steps.pop_back();
            break;
        }
        body_steps.push_back(plan.steps[size_t(index)]);
        moved.resize(plan.steps.size());
        moved[size_t(index)] = true;
        p = end;
    }
    moved.resize(plan.steps.size());
    plan.resume = p;
    const i32 shift = i32(body_steps.size());
    std::vector<PlanStep> others;
    std::vector<i32> renumber(plan.steps.size(), CHOSEN_WALK);
    for (size_t i = 0; i < plan.steps.size(); i++) {
        if (moved[i]) continue;
        renumber[i] = shift + i32(others.size());
        others.push_back(plan.steps[i]);
    }
    for (PlanStep& st : body_steps) {
        for (i32& k : st.chosen) {
            if (k >= 0) k = renumber[size_t(k)];
        }
    }
    plan.steps = std::move(body_steps);
    plan.steps.insert(plan.steps.end(), others.begin(), others.end());
    plan.statements = shift;
    lower_plan(plan);
}

// --- A plan's code: the steps lowered to a list of small operations ------------------------
//
// A round runs the plan's operations one after the other: each reads what
// it needs (a word's value, a cell of the copy), checks what the step
// expected of it, and computes into one working cell. Any check that fails
// hands the rest of the round to the walk from the current statement (or,
// inside a chosen block, from the block in the conditional's frames).

enum MicroCode : u8 {
    M_LOAD,        // a: how to read, x: what; the expression's first operand
    M_OPERATOR,    // a: how to read the operator (low 4 bits) and the right operand; b: math, or 16 + comparison;
                   // x: the operator; then the value it must hold (header and word 1), then the operand
    M_END,         // a, x: a cell after an expression that must not hold an operator
    M_STORE,       // a, x: the set-word's word (x: the cell for a word read otherwise than globally); the
                   // working cell is the statement's result
    M_RESULT,      // the working cell is the statement's result
    M_NATIVE,      // a, x: the conditional's word, b: its argument count; then the native's header and word 1,
                   // then its word 3
    M_CHOOSE,      // a: the Conditional; then the types its condition takes; then where each block's
                   // operations start; then where the next statement starts
    M_EXIT,        // x: the chosen block (a cell of the copy), which only leaves
    M_WALK,        // the chosen block is walked
    M_JUMP,        // x: where to go on
    M_REST,        // the walk takes over from the position after the planned statements
    M_DONE,
    // The same with every word a global one (whose slot is `x`, or the
    // operand's data).
    M_LOAD_GLOBAL,
    M_OPERATOR_GLOBAL,          // the right operand read globally too
    M_OPERATOR_GLOBAL_WRITTEN,  // the right operand written in the code
    M_END_GLOBAL,
    M_STORE_GLOBAL,             // a: 1 when an end is checked first (the next slot: its slot)
    M_NATIVE_GLOBAL,
    // A first operand and one operator, all global: b the operator's math,
    // a 1 when the right operand is written in the code; then the value the
    // operator must hold, then its slot and the right operand's.
    M_EXPRESSION_GLOBAL,
    // `word: first op right`, all global: as M_EXPRESSION_GLOBAL, then the
    // set-word's slot with that of the word after the expression (all ones:
    // none) to check first.
    M_SET_GLOBAL,
    // if, unless or either on `first op right`, all global: a the
    // Conditional with 16 when the right operand is written; then the
    // native's header and word 1, its slot with its word 3, the operator's
    // value, its slot with the right operand's, the condition's types,
    // where each block's operations start, where the next statement starts.
    M_CONDITION_GLOBAL,
};


// An operation's following slots read as data.
inline u64 op_data(const MicroOp* m) {
    u64 v;
    std::memcpy(&v, m, sizeof v);
    return v;
}
inline void put_data(std::vector<MicroOp>& code, u64 v) {
    MicroOp m;
    std::memcpy(&m, &v, sizeof m);
    code.push_back(m);
}
inline void put_data_at(std::vector<MicroOp>& code, size_t i, u64 v) { std::memcpy(&code[i], &v, sizeof v); }
inline u64 header_word1(const Cell* c) {
    u64 v;
    std::memcpy(&v, c, sizeof v);
    return v;
}

// What an operation reads: a global word's slot, else the index of the
// cell in the plan's copy.
inline u32 ref_of(const PlanSlice& slice, const PlanRef& r) {
    return r.read == READ_GLOBAL ? r.slot : u32(slice.copy + r.at - slice.head);
}

// An operation reading `r`: its global form when `r` is a global word's.
MicroOp read_op(BodyPlan& plan, const PlanSlice& slice, u8 code, u8 global_code, const PlanRef& r) {
    if (r.read != READ_GLOBAL) return MicroOp{code, r.read, 0, ref_of(slice, r)};
    if (r.slot >= plan.global_limit) plan.global_limit = r.slot + 1;
    return MicroOp{global_code, r.read, 0, r.slot};
}

// Lowers a step's expression; answers whether it ends with an end check
// (the last operation, one slot).
bool lower_expression(BodyPlan& plan, const PlanSlice& slice, const PlanStep& st) {
    std::vector<MicroOp>& code = plan.code;
    if (st.op_count == 1 && st.first.read == READ_GLOBAL) {
        const PlanOp& o = plan.ops[size_t(st.ops)];
        if (o.word.read == READ_GLOBAL && (o.right.read == READ_GLOBAL || o.right.read == READ_WRITTEN)) {
            const MicroOp first = read_op(plan, slice, 0, 0, st.first);
            const MicroOp word = read_op(plan, slice, 0, 0, o.word);
            const MicroOp right = read_op(plan, slice, 0, 0, o.right);
            code.push_back(MicroOp{M_EXPRESSION_GLOBAL, u8(o.right.read == READ_WRITTEN),
                                   u16(o.math >= 0 ? o.math : 16 + o.compare), first.x});
            put_data(code, u64(o.header) | u64(o.w1) << 32);
            put_data(code, u64(word.x) | u64(right.x) << 32);
            if (st.after[0].read == READ_NOTHING) return false;
            code.push_back(read_op(plan, slice, M_END, M_END_GLOBAL, st.after[0]));
            return true;
        }
    }
    code.push_back(read_op(plan, slice, M_LOAD, M_LOAD_GLOBAL, st.first));
    for (i32 k = 0; k < st.op_count; k++) {
        const PlanOp& o = plan.ops[size_t(st.ops + k)];
        MicroOp op = read_op(plan, slice, M_OPERATOR, M_OPERATOR_GLOBAL, o.word);
        op.a = u8(o.word.read | o.right.read << 4);
        op.b = u16(o.math >= 0 ? o.math : 16 + o.compare);
        if (op.code == M_OPERATOR_GLOBAL && o.right.read == READ_WRITTEN) op.code = M_OPERATOR_GLOBAL_WRITTEN;
        else if (op.code == M_OPERATOR_GLOBAL && o.right.read != READ_GLOBAL) op.code = M_OPERATOR;
        code.push_back(op);
        put_data(code, u64(o.header) | u64(o.w1) << 32);
        put_data(code, read_op(plan, slice, 0, 0, o.right).x);
    }
    if (st.after[0].read == READ_NOTHING) return false;
    code.push_back(read_op(plan, slice, M_END, M_END_GLOBAL, st.after[0]));
    return true;
}

// A set-word or value step, its result left as the statement's.
void lower_plain(BodyPlan& plan, const PlanStep& st) {
    const PlanSlice slice = plan.slices[st.slice];
    const size_t begin = plan.code.size();
    const bool ended = lower_expression(plan, slice, st);
    std::vector<MicroOp>& code = plan.code;
    if (st.kind == STEP_SET && st.target.read == READ_GLOBAL && code[begin].code == M_EXPRESSION_GLOBAL &&
        (code.size() == begin + 3 || (code.size() == begin + 4 && code[begin + 3].code == M_END_GLOBAL))) {
        // One operation for the whole statement.
        const u32 end = code.size() == begin + 4 ? code[begin + 3].x : UINT32_MAX;
        code.resize(begin + 3);
        code[begin].code = M_SET_GLOBAL;
        const MicroOp target = read_op(plan, slice, 0, 0, st.target);
        put_data(code, u64(target.x) | u64(end) << 32);
        return;
    }
    if (st.kind == STEP_SET) {
        MicroOp store = read_op(plan, slice, M_STORE, M_STORE_GLOBAL, st.target);
        if (store.code == M_STORE) store.x = u32(slice.copy + st.at - slice.head);
        if (store.code == M_STORE_GLOBAL) store.a = 0;
        // (Only an operation's first slot holds its code: the others hold
        // data, whose low byte may look like any code.)
        if (store.code == M_STORE_GLOBAL && ended && plan.code.back().code == M_END_GLOBAL) {
            // The end checked by the store itself, before it stores.
            const u32 end = plan.code.back().x;
            plan.code.back() = MicroOp{M_STORE_GLOBAL, 1, 0, store.x};
            put_data(plan.code, end);
            return;
        }
        plan.code.push_back(store);
    } else {
        plan.code.push_back(MicroOp{M_RESULT, 0, 0, 0});
    }
}

// Lowers the body's steps into the plan's code.
void lower_plan(BodyPlan& plan) {
    std::vector<MicroOp>& code = plan.code;
    code.clear();
    plan.starts.clear();
    plan.global_limit = 0;
    const PlanSlice body = plan.slices.empty() ? PlanSlice{} : plan.slices[0];
    for (i32 i = 0; i < plan.statements; i++) {
        const PlanStep& st = plan.steps[size_t(i)];
        plan.starts.push_back(u32(code.size()));
        if (st.kind != STEP_CONDITIONAL) {
            lower_plain(plan, st);
            continue;
        }
        MicroOp native = read_op(plan, body, M_NATIVE, M_NATIVE_GLOBAL, st.target);
        native.b = st.lead;
        code.push_back(native);
        put_data(code, u64(st.header) | u64(st.w1) << 32);
        put_data(code, st.w3);
        lower_expression(plan, body, st);
        for (i32 k = 1; k < i32(st.lead); k++) {
            if (st.after[k].read != READ_NOTHING)
                code.push_back(read_op(plan, body, M_END, M_END_GLOBAL, st.after[k]));
        }
        size_t places = code.size() + 2;   // where the starts and the next go
        const size_t native_at = plan.starts.back();
        if (code.size() == native_at + 6 && code[native_at].code == M_NATIVE_GLOBAL &&
            code[native_at + 3].code == M_EXPRESSION_GLOBAL) {
            // One operation for the native, the condition and the choice.
            const MicroOp native = code[native_at], expression = code[native_at + 3];
            const u64 header = op_data(&code[native_at + 1]), w3 = op_data(&code[native_at + 2]);
            const u64 op = op_data(&code[native_at + 4]), refs = op_data(&code[native_at + 5]);
            code.resize(native_at);
            code.push_back(MicroOp{M_CONDITION_GLOBAL, u8(st.conditional | (expression.a ? 16 : 0)), expression.b,
                                   expression.x});
            put_data(code, header);
            put_data(code, u64(native.x) | w3 << 32);
            put_data(code, op);
            put_data(code, refs);
            put_data(code, st.types);
            places = code.size();
            put_data(code, 0);   // where each block's operations start
            put_data(code, 0);   // where the next statement starts
        } else {
            code.push_back(MicroOp{M_CHOOSE, st.conditional, st.lead, 0});
            put_data(code, st.types);
            put_data(code, 0);   // where each block's operations start
            put_data(code, 0);   // where the next statement starts
        }
        u32 starts[2] = {0, 0};
        std::vector<size_t> jumps;
        for (i32 k = 0; k + 1 < i32(st.lead); k++) {
            starts[k] = u32(code.size());
            const i32 chosen = st.chosen[k];
            if (chosen >= 0) {
                lower_plain(plan, plan.steps[size_t(chosen)]);
                jumps.push_back(code.size());
                code.push_back(MicroOp{M_JUMP, 0, 0, 0});
            } else if (chosen == CHOSEN_EXIT) {
                code.push_back(MicroOp{M_EXIT, 0, 0, u32(body.copy + st.blocks + k - body.head)});
            } else {
                code.push_back(MicroOp{M_WALK, 0, 0, 0});
            }
        }
        const u32 next = u32(code.size());
        for (size_t j : jumps) code[j].x = next;
        put_data_at(code, places, u64(starts[0]) | u64(starts[1]) << 32);
        put_data_at(code, places + 1, next);
    }
    code.push_back(MicroOp{plan.resume < body.tail ? u8(M_REST) : u8(M_DONE), 0, 0, 0});
    if (plan.statements > 0) plan.last_at = u32(plan.steps[size_t(plan.statements - 1)].at);
}

// Marks a plan as running while the walk takes a round over, and as needing
// its cells compared once the walk is done, however it ends.
struct PlanWalk {
    BodyPlan* plan;
    explicit PlanWalk(BodyPlan* p) : plan(p) {
        plan->running++;
        plan->trusted = false;
    }
    ~PlanWalk() {
        plan->running--;
        plan->trusted = false;
    }
};

// The rest of a round from the step at `st` that the plan did not finish:
// the walk from that statement's start (`at`); or, for a conditional whose
// chosen block is to be walked (`chosen`, the condition in `cond`), the
// cells the full call lays out and its own frames for the block, the walk
// going on after it.
[[gnu::noinline]] void walk_rest(BodyPlan* plan, const PlanStep* st, i32 at, i32 chosen, const Cell* cond) {
    PlanWalk walking(plan);
    const i32 tail = plan->slices[0].tail;
    i32 p = at;
    if (chosen) {
        const Span s = plan_span(*plan, plan->slices[0], global_values_now());
        stack::Frame* frame = stack::call_top - 1;
        if (!plan->library) frame->position = u32(st->at);
        Cell* slot = stack::top;
        slot[1] = *cond;
        for (i32 k = 1; k < i32(st->lead); k++) slot[1 + k] = s.cells[st->blocks + k - 1];
        // (The native's word held it a moment ago: the read cannot fail.)
        *slot = *word_slot(s.cells + st->target.at);
        const Code code{plan->node, plan->type, plan->head, tail};
        p = conditional_block(code, st->at, st->end, u32(chosen) << 2 | u32(st->lead) << 4);
        if (ZIR_UNLIKELY(stack::pending != 0) || p >= end_of(code)) return;
        stack::reset();
    }
    walk_code(Code{plan->node, plan->type, p, tail}, plan->library);
}

// Integer arithmetic that overflows, division.
[[gnu::noinline]] bool slow_math(Cell* out, const Cell* r, i32 math) { return fast_op::math_in_place(out, r, math); }

// Arithmetic past the integers' quick cases: floats (inline), overflow,
// division.
[[gnu::noinline]] bool plan_math(Cell* out, const Cell* r, i32 math) {
    if (math <= MATH_MULTIPLY && (TYPE_OF(r) == TYPE_FLOAT || TYPE_OF(out) == TYPE_FLOAT))
        return fast_op::math_in_place(out, r, math);
    return slow_math(out, r, math);
}

// A word read otherwise than from the global values or the running
// function's (word_slot), or a short path.
[[gnu::noinline]] const Cell* micro_read_other(const Cell* c, u32 read) {
    if (read == READ_WORD) return word_slot(c);
    if (read == READ_PATH) return short_path_value(c, false);
    return nullptr;
}

// One round of a plan's code.
[[gnu::always_inline]] inline void run_plan_steps(BodyPlan* plan) {
    const MicroOp* m = plan->code.data();
    const Cell* const cells = plan->cells.data();
    const context::GlobalSlots& globals = context::global_slots_now();
    Cell* const gcells = globals.cells;
    const u32 gcount = globals.count;
    const auto read = [&](u32 how, u32 x) -> const Cell* {
        if (how == READ_GLOBAL) return gcells + x;
        const Cell* c = cells + x;
        if (how == READ_WRITTEN) return c;
        if (how == READ_WORD && c->w1 == hot_context && i32(c->w3) >= 0) return hot_values + c->w3;
        return micro_read_other(c, how);
    };
    Cell acc, cond;
    u32 kind = 0;                     // the conditional being decided
    const MicroOp* places = nullptr;  // where its blocks' starts are
    // An operator applied to the working cell and the right operand `r`:
    // math (below 16) or 16 + a comparison, as the shortcuts compute them.
    const auto apply = [&acc](i32 op, const Cell* r) __attribute__((always_inline)) -> bool {
        const u32 rt = TYPE_OF(r);
        if (rt != TYPE_INTEGER && rt != TYPE_FLOAT) return false;
        if (op < 16) {
            if (ZIR_LIKELY(rt == TYPE_INTEGER && TYPE_OF(&acc) == TYPE_INTEGER)) {
                const i32 x = integer::get(&acc), y = integer::get(r);
                i32 n;
                bool done;
                switch (op) {
                    case MATH_ADD: done = !__builtin_add_overflow(x, y, &n); break;
                    case MATH_SUBTRACT: done = !__builtin_sub_overflow(x, y, &n); break;
                    case MATH_MULTIPLY: done = !__builtin_mul_overflow(x, y, &n); break;
                    default: done = false;
                }
                if (done) {
                    acc.w2 = u32(n);
                    return true;
                }
            }
            // Floats inline as the shortcuts compute them; the rest the
            // long way.
            return plan_math(&acc, r, op);
        }
        if (TYPE_OF(&acc) != TYPE_INTEGER || rt != TYPE_INTEGER) return false;
        cell::store(&acc, TYPE_LOGIC, fast_op::compare_integers(integer::get(&acc), integer::get(r), op - 16), 0, 0);
        return true;
    };
    // `first op right` of global words into the working cell: `first` the
    // first operand's slot, `written` when the right operand is written in
    // the code; at `data` the operator's value, then its slot with the
    // right operand's.
    const auto global_expression = [&](u32 first, u32 written, i32 op, const MicroOp* data)
                                       __attribute__((always_inline)) -> bool {
        const Cell* v = gcells + first;
        if (!plain_q(TYPE_OF(v))) return false;
        acc = *v;
        const u64 refs = op_data(data + 1);
        const Cell* right = written ? cells + u32(refs >> 32) : gcells + u32(refs >> 32);
        return header_word1(gcells + u32(refs)) == op_data(data) && apply(op, right);
    };
    i32 chosen = 0;
    // The room on the stacks that the shortcuts check before they take a
    // statement (the cells of a call, the frames of a chosen block): checked
    // once, as nothing here pushes anything. Short of it, the walk decides.
    if (ZIR_UNLIKELY(stack::top + 8 + stack::OVERFLOW_MARGIN >= stack::limit ||
                     stack::call_top + 4 >= stack::call_limit || plan->global_limit > gcount)) {
        walk_rest(plan, nullptr, plan->head, 0, nullptr);
        return;
    }
    for (;;) {
        switch (m->code) {
            case M_LOAD: {
                const Cell* v = read(m->a, m->x);
                if (!v || ((m->a == READ_GLOBAL || m->a == READ_WORD) && !plain_q(TYPE_OF(v)))) goto give_up;
                acc = *v;
                m++;
                break;
            }
            case M_OPERATOR: {
                const Cell* o = read(m->a & 15, m->x);
                if (!o || header_word1(o) != op_data(m + 1)) goto give_up;
                const Cell* r = read(m->a >> 4, u32(op_data(m + 2)));
                if (!r || !apply(m->b, r)) goto give_up;
                m += 3;
                break;
            }
            case M_OPERATOR_GLOBAL:
                if (header_word1(gcells + m->x) != op_data(m + 1) || !apply(m->b, gcells + u32(op_data(m + 2))))
                    goto give_up;
                m += 3;
                break;
            case M_OPERATOR_GLOBAL_WRITTEN:
                if (header_word1(gcells + m->x) != op_data(m + 1) || !apply(m->b, cells + u32(op_data(m + 2))))
                    goto give_up;
                m += 3;
                break;
            case M_LOAD_GLOBAL: {
                const Cell* v = gcells + m->x;
                if (!plain_q(TYPE_OF(v))) goto give_up;
                acc = *v;
                m++;
                break;
            }
            case M_END_GLOBAL:
                if (TYPE_OF(gcells + m->x) == TYPE_OP) goto give_up;
                m++;
                break;
            case M_STORE_GLOBAL:
                if (m->a && TYPE_OF(gcells + u32(op_data(m + 1))) == TYPE_OP) goto give_up;
                gcells[m->x] = acc;
                *stack::arguments = acc;
                m += 1 + m->a;
                break;
            case M_SET_GLOBAL: {
                if (!global_expression(m->x, m->a, m->b, m + 1)) goto give_up;
                const u64 where = op_data(m + 3);
                const u32 end = u32(where >> 32);
                if (end != UINT32_MAX && TYPE_OF(gcells + end) == TYPE_OP) goto give_up;
                gcells[u32(where)] = acc;
                *stack::arguments = acc;
                m += 4;
                break;
            }
            case M_EXPRESSION_GLOBAL:
                if (!global_expression(m->x, m->a, m->b, m + 1)) goto give_up;
                m += 3;
                break;
            case M_NATIVE_GLOBAL: {
                const Cell* fn = gcells + m->x;
                if (header_word1(fn) != op_data(m + 1) || fn->w3 != u32(op_data(m + 2))) goto give_up;
                m += 3;
                break;
            }
            case M_END: {
                const Cell* v = read(m->a, m->x);
                if (v && TYPE_OF(v) == TYPE_OP) goto give_up;
                m++;
                break;
            }
            case M_STORE: {
                Cell* target = const_cast<Cell*>(read(m->a, m->x));
                if (!target || (m->a != READ_GLOBAL && !plain_target(cells + m->x))) goto give_up;
                *target = acc;
                *stack::arguments = acc;
                m++;
                break;
            }
            case M_RESULT:
                *stack::arguments = acc;
                m++;
                break;
            case M_NATIVE: {
                const Cell* fn = read(m->a, m->x);
                if (!fn || header_word1(fn) != op_data(m + 1) || fn->w3 != u32(op_data(m + 2))) goto give_up;
                // (The same native record: its row is the one read into the plan.)
                m += 3;
                break;
            }
            case M_CHOOSE:
                kind = m->a;
                places = m + 2;
                if (TYPE_OF(&acc) >= 64 || !((op_data(m + 1) >> TYPE_OF(&acc)) & 1)) goto give_up;
                goto choose;
            case M_CONDITION_GLOBAL: {
                const u64 native = op_data(m + 2);
                const Cell* fn = gcells + u32(native);
                if (header_word1(fn) != op_data(m + 1) || fn->w3 != u32(native >> 32)) goto give_up;
                // (The same native record: its row is the one read into the plan.)
                if (!global_expression(m->x, m->a & 16, m->b, m + 3)) goto give_up;
                if (TYPE_OF(&acc) >= 64 || !((op_data(m + 5) >> TYPE_OF(&acc)) & 1)) goto give_up;
                kind = m->a & 15;
                places = m + 6;
                goto choose;
            }
            choose:
                if (kind == COND_EITHER) {
                    if (TYPE_OF(&acc) == TYPE_UNSET) goto give_up;
                    chosen = logic::falsy_q(&acc) ? 2 : 1;
                } else {
                    chosen = logic::falsy_q(&acc) == (kind == COND_IF) ? 0 : 1;
                }
                if (!chosen) {
                    cell::init(stack::arguments, TYPE_NONE);
                    m = plan->code.data() + u32(op_data(places + 1));
                    break;
                }
                cond = acc;
                // Under a step budget the walk counts a chosen block's
                // step (and raises where it runs out): it takes the block.
                if (ZIR_UNLIKELY(steps_left >= 0)) goto give_up;
                m = plan->code.data() + u32(chosen == 1 ? op_data(places) : op_data(places) >> 32);
                break;
            case M_EXIT:
                if (!exit_block(cells + m->x)) goto give_up;
                return;
            case M_WALK:
                goto give_up;
            case M_JUMP:
                chosen = 0;
                m = plan->code.data() + m->x;
                break;
            case M_REST:
                walk_rest(plan, nullptr, plan->resume, 0, nullptr);
                return;
            default:
                // Where the walk would have left the frame: an error raised
                // before the next round is near the last statement.
                if (!plan->library) (stack::call_top - 1)->position = plan->last_at;
                stack::top = stack::arguments + 1;
                return;
        }
    }
give_up:
    {
        // The statement whose operations were running.
        const u32 at = u32(m - plan->code.data());
        size_t statement = 0;
        while (statement + 1 < plan->starts.size() && plan->starts[statement + 1] <= at) statement++;
        const PlanStep* st = plan->steps.data() + statement;
        walk_rest(plan, st, st->at, chosen, &cond);
    }
}

// Whether a plan that stopped short of its body's end is to be made again.
inline bool retry_q(const BodyPlan& plan) {
    return !plan.slices.empty() && plan.resume < plan.slices[0].tail && plan.tries < 2;
}

// The plan of a body, found (in the loop's state, else the cache) or made,
// and checked against the cells unless trusted; null when it cannot be had
// now (its entry is running another body).
[[gnu::noinline]] BodyPlan* body_plan(const Cell* body, BodyWalk* walk, bool fresh) {
    BodyPlan* plan = static_cast<BodyPlan*>(walk->plan);
    if (ZIR_LIKELY(plan && plan->node == body->w2 && plan->head == i32(body->w1) && plan->type == TYPE_OF(body))) {
        if (ZIR_LIKELY(!fresh && plan->trusted)) return plan;
    } else {
        BodyPlan*& entry = plan_cache[plan_index(body->w2)];
        plan = entry;
        if (!plan || plan->node != body->w2 || plan->head != i32(body->w1) || plan->type != TYPE_OF(body)) {
            if (plan && plan->running) return nullptr;
            // Plans are never freed: a loop's state may point at one.
            if (!plan) plan = entry = new BodyPlan;
            make_plan(*plan, body);
            plan->tries = 0;
            walk->plan = plan;
            return plan;
        }
        walk->plan = plan;
    }
    const bool same = plan_matches(*plan);
    if (!same || retry_q(*plan)) {
        if (plan->running) return nullptr;
        const i32 tries = same ? plan->tries + 1 : 0;
        make_plan(*plan, body);
        plan->tries = tries;
    }
    plan->trusted = true;
    return plan;
}

// A round of a body from its plan. False when the body has no plan to run
// (the caller walks it). `fresh`: the body's frame was just opened. Tracing
// is off and not held, and the machine stack fine.
[[gnu::noinline]] bool run_body_plan(const Cell* body, BodyWalk* walk, bool fresh) {
    BodyPlan* plan = body_plan(body, walk, fresh);
    if (!plan) return false;
    if (plan->statements == 0) {
        // Walked this round; looked at again at the next unless it is done
        // trying.
        if (retry_q(*plan)) plan->trusted = false;
        else walk->unplanned = true;
        return false;
    }
    // The frame stays open from round to round: set once.
    stack::Frame* frame = stack::call_top - 1;
    frame->code = plan->node;
    if (!plan->library) frame->flags |= stack::FRAME_USER_CODE;
    run_plan_steps(plan);
    return true;
}

// A round of a body whose frame is open and whose plan, kept by the loop,
// is trusted: the frame reset and the plan run; any other round the general
// way. Tracing is off and not held, and the machine stack fine.
[[gnu::noinline]] void planned_round(const Cell* body, BodyWalk* walk) {
    BodyPlan* plan = static_cast<BodyPlan*>(walk->plan);
    if (!body_plans || !plan->trusted || plan->node != body->w2 || plan->head != i32(body->w1) ||
        plan->type != TYPE_OF(body) || plan->statements == 0)
        return walk_body_round(body, walk);
    stack::reset();
    run_plan_steps(plan);
    finish_round(walk);
}

}  // namespace

i32 eval_expression(const Code& code, i32 p, bool prefix_only, bool push, bool fv) {
    return expression_at(code, p, prefix_only, push, fv);
}

namespace {

i32 expression(const Code& code, i32 p, bool prefix_only, bool push, bool fv) {
    check_machine_stack();
    // The result lies at `left` in either mode.
    Cell* left = push ? stack::top : stack::arguments;
    const Cell value = *cell_at(code, p);
    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_FETCH, &code, p, &value, &value);
    switch (TYPE_OF(&value)) {
        case TYPE_WORD: {
            const Cell* v = word_slot(&value);
            if (ZIR_UNLIKELY(!v)) v = context::get(&value);
            switch (TYPE_OF(v)) {
                case TYPE_UNSET:
                    fire(ERR_SCRIPT, "no-value", &value);
                case TYPE_NATIVE:
                case TYPE_ACTION:
                case TYPE_FUNCTION:
                case TYPE_ROUTINE: {
                    Cell* slot = stack::push(v);
                    p = eval_code(slot, code, p + 1, push, nullptr, 0, &value, slot, 0, 0);
                    break;
                }
                case TYPE_OP:
                    fire(ERR_SCRIPT, "no-op-arg", &value);
                default:
                    put_result(v, push);
                    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p, &value, left);
                    p++;
            }
            break;
        }
        case TYPE_SET_WORD: {
            // Here while tracing, or for a value that is not a plain operand
            // (set_word_expression takes the rest).
            stack::mark_body(value.w2, value.w1);
            stack::push(&value);
            if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p, &value, &value);
            if (p + 1 >= end_of(code)) fire(ERR_SCRIPT, "need-value", &value);
            p = eval_expression(code, p + 1, false, true, false);
            if (ZIR_LIKELY(stack::pending == 0)) {
                if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_SET, &code, p, &value, stack::arguments + 1);
                set_word_value(stack::arguments, stack::arguments + 1);
                *stack::arguments = stack::arguments[1];
            }
            if (push) stack::unwind_last();
            else stack::unwind_set_last();
            break;
        }
        case TYPE_GET_WORD: {
            put_result(context::get(&value), push);
            if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p, &value, left);
            p++;
            break;
        }
        case TYPE_LIT_WORD: {
            Cell w = value;
            cell::set_type(&w, TYPE_WORD);
            put_result(&w, push);
            if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p, &value, left);
            p++;
            break;
        }
        case TYPE_PAREN: {
            // As paren_expression: the block's frame only.
            eval_block(&value, !push);
            p++;
            break;
        }
        case TYPE_PATH:
            p = eval_path(&value, code, p + 1, false, false, push, false, nullptr);
            break;
        case TYPE_GET_PATH:
            p = eval_path(&value, code, p + 1, false, true, push, false, nullptr);
            break;
        case TYPE_SET_PATH: {
            if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p, &value, &value);
            if (p + 1 >= end_of(code)) fire(ERR_SCRIPT, "need-value", &value);
            stack::mark_body(u32(words.set_path), 0);
            i32 after = eval_expression(code, p + 1, false, true, false);
            if (ZIR_LIKELY(stack::pending == 0)) {
                if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_SET, &code, after, &value, stack::arguments);
                eval_path(&value, code, p + 1, true, false, false, false, nullptr);
            }
            p = after;
            if (push) stack::unwind_last();
            else stack::unwind_set_last();
            break;
        }
        case TYPE_LIT_PATH: {
            Cell path = value;
            cell::set_type(&path, TYPE_PATH);
            path.w3 = 0;
            put_result(&path, push);
            if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p, &value, left);
            p++;
            break;
        }
        case TYPE_OP:
            fire(ERR_INTERNAL, "not-done");
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            if (fv) {
                put_result(&value, push);
                if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p, &value, left);
                p++;
            } else {
                Cell* slot = stack::push(&value);
                p = eval_code(slot, code, p + 1, push, nullptr, 0, nullptr, slot, 0, 0);
            }
            break;
        case TYPE_ISSUE:
            if (p + 1 < end_of(code) && TYPE_OF(cell_at(code, p + 1)) == TYPE_BLOCK &&
                (resolved(&value) == words.system || resolved(&value) == words.system_global))
                fire(ERR_INTERNAL, "zir-system");
            [[fallthrough]];
        default:
            put_result(&value, push);
            if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p, &value, left);
            p++;
    }
    return operand_tail(left, code, p, prefix_only, push);
}

}  // namespace

// --- Calls ---------------------------------------------------------------------------------------

namespace {


// call_function for a function value that stays where it is meanwhile (a
// stack cell).
void run_function(const Cell* fn, u32 owner_ctx, const Cell* name_in, i32 callback_bit);

// The state of one call while its arguments are gathered.
struct Call {
    Cell* fn;          // the function value, a stack cell
    u32 type;
    bool native;       // native! or action!: refinements as positions
    u32 cache;
    i32 count;         // cells of the cache
    Code code;         // where the arguments come from
    i32 start;         // where the arguments begin
    i32 p;             // the next argument's position
    Cell name;         // the call's name, a word
    bool infix;        // the right operand of an operator: no look-ahead
    u32 mode;          // block mode bits (apply)
    i32 nrefs = 0;
    i32 locals = 0;
    i32 refs[MAX_REFINEMENTS];
};

inline const Cell* cache_cell(const Call& c, i32 k) { return block::cell_at(c.cache, k); }
inline u32 arg_mode(const Cell* ts) { return (ts->header & typeset::ARG_MODE_MASK) >> typeset::ARG_MODE_SHIFT; }

// The n-th argument or refinement word of a function's spec.
void argument_word(const Cell* fn, i32 n, Cell* out) {
    cell::init(out, TYPE_NONE);
    u32 spec = fn->w2;
    for (i32 i = 0; i < block::cell_count(node_buffer(spec)); i++) {
        const Cell* item = block::cell_at(spec, i);
        u32 t = TYPE_OF(item);
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT) continue;
        if (n-- == 0) {
            *out = *item;
            out->header &= ~FLAG_NEW_LINE;
            return;
        }
    }
}

[[noreturn, gnu::cold]] void no_arg(const Cell* fn, const Cell* name, i32 k) {
    Cell word;
    argument_word(fn, k, &word);
    fire(ERR_SCRIPT, "no-arg", name, &word);
}
[[noreturn]] void no_arg(const Call& c, i32 k) { no_arg(c.fn, &c.name, k); }

[[noreturn, gnu::cold]] void expect_arg(const Cell* fn, const Cell* name, i32 k, u32 type) {
    Cell datatype, word;
    datatype::make_at(&datatype, type);
    argument_word(fn, k, &word);
    fire(ERR_SCRIPT, "expect-arg", name, &datatype, &word);
}
[[noreturn]] void expect_arg(const Call& c, i32 k, u32 type) { expect_arg(c.fn, &c.name, k, type); }

inline void check(const Call& c, i32 k, const Cell* value) {
    if (ZIR_UNLIKELY(!typeset::has_q(cache_cell(c, k), TYPE_OF(value)))) expect_arg(c, k, TYPE_OF(value));
}

// Pushes one argument taken as written (get-word! and lit-word! arguments).
// Pushes a literal (mode 2) or get (mode 1) argument from the code at `p`;
// answers the position after it.
i32 fetch_literal_at(const Code& code, i32 p, u32 mode) {
    const Cell v = *cell_at(code, p);
    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_FETCH, &code, p, &v, &v);
    p++;
    if (mode == 2) {
        switch (TYPE_OF(&v)) {
            case TYPE_PAREN:
                stack::mark_body(u32(stack::anon_symbol), 0);
                eval_block(&v, true);
                stack::unwind_last();
                return p;
            case TYPE_GET_WORD:
                stack::push(context::get(&v));
                return p;
            case TYPE_GET_PATH:
                return eval_path(&v, code, p, false, true, true, false, nullptr);
            default:
                break;
        }
    }
    stack::push(&v);
    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &code, p - 1, &v, &v);
    return p;
}

void fetch_literal(Call& c, u32 mode, const Code& code) { c.p = fetch_literal_at(code, c.p, mode); }

// Pushes the argument of cache cell k from the code.
[[gnu::always_inline]] inline void fetch(Call& c, i32 k, u32 mode) {
    if (c.p >= end_of(c.code)) no_arg(c, k);
    if (mode == 0) c.p = expression_at(c.code, c.p, c.infix, true, false);
    else fetch_literal(c, mode, c.code);
}

// An argument from the block of `apply`: one cell's worth with `safer`; a
// missing one is none! (unset! for an optional literal argument).
void fetch_applied(Call& c, i32 k, u32 mode) {
    if (c.p >= end_of(c.code)) {
        bool optional = mode == 2 && typeset::has_q(cache_cell(c, k), TYPE_UNSET);
        stack::push(optional ? &unset::value : &none::value);
        return;
    }
    Code code = c.code;
    if (c.mode & APPLY_SAFER) code.tail = c.p + 1;
    if (mode == 0) c.p = eval_expression(code, c.p, false, true, false);
    else fetch_literal(c, mode, code);
}

// Skips one argument of an inactive refinement in the block of `apply`.
void skip_applied(Call& c, i32 k, u32 mode) {
    if (c.mode & APPLY_SAFER) {
        if (c.p < end_of(c.code)) c.p++;
        return;
    }
    Cell* keep = stack::top;
    fetch_applied(c, k, mode);
    stack::top = keep;
}

// The cache index of a refinement named by a path element or an applied
// refinement!, or `script no-refine`.
i32 find_refinement(const Call& c, const Cell* element) {
    i32 slot = i32(element->w3);
    if (!c.native && element->w1 == c.fn->w1 && slot >= 0 && slot < c.count &&
        TYPE_OF(cache_cell(c, slot)) == TYPE_REFINEMENT)
        return slot;
    i32 sym = resolved(element);
    for (i32 k = 0; k < c.count; k++) {
        const Cell* e = cache_cell(c, k);
        if (TYPE_OF(e) == TYPE_REFINEMENT && resolved(e) == sym) return k;
    }
    const Cell el = *element;
    fire(ERR_SCRIPT, "no-refine", &c.name, &el);
}

// Whether cache cell j is an argument of the refinement before it.
inline bool refinement_arg_q(const Call& c, i32 j) {
    if (j >= c.count) return false;
    const Cell* e = cache_cell(c, j);
    return TYPE_OF(e) == TYPE_TYPESET && arg_mode(e) < 3;
}

// Turns on the refinement at cache index k (unless `active` is false) and
// takes its arguments with `take` (which pushes one); an inactive
// refinement's arguments are dropped (`skip` when given).
template <typename Take, typename Skip>
void activate(Call& c, i32 k, bool active, const Cell* path, Take take, Skip skip) {
    if (!c.native) {
        Cell* flag = stack::arguments + k;
        if (TYPE_OF(flag) == TYPE_LOGIC && flag->w1) fire(ERR_SCRIPT, "dup-refine", path);
        if (active) logic::make_at(flag, true);
        for (i32 j = k + 1; refinement_arg_q(c, j); j++) {
            if (!active) {
                skip(j);
                if (ZIR_UNLIKELY(stack::pending != 0)) return;
                continue;
            }
            take(j);
            if (ZIR_UNLIKELY(stack::pending != 0)) return;
            check(c, j, stack::top - 1);
            stack::arguments[j] = stack::top[-1];
            stack::pop(1);
        }
        return;
    }
    i32 ordinal = i32(cache_cell(c, k)->w3);
    if (ordinal < 1 || ordinal > c.nrefs) fire(ERR_SCRIPT, "bad-func-def", path);
    if (c.refs[ordinal - 1] >= 0) fire(ERR_SCRIPT, "dup-refine", path);
    if (active) c.refs[ordinal - 1] = i32(stack::top - stack::arguments);
    for (i32 j = k + 1; refinement_arg_q(c, j); j++) {
        if (!active) {
            skip(j);
        } else {
            take(j);
            if (ZIR_UNLIKELY(stack::pending == 0)) check(c, j, stack::top - 1);
        }
        if (ZIR_UNLIKELY(stack::pending != 0)) return;
    }
}

// The arguments in spec order, up to the first refinement; the cells of the
// refinements (false, none!) and the count of locals or refinements.
void fetch_spec_order(Call& c, i32 before) {
    bool collecting = true;
    i32 given = 0;
    for (i32 k = 0; k < c.count; k++) {
        const Cell* e = cache_cell(c, k);
        switch (TYPE_OF(e)) {
            case TYPE_TYPESET: {
                u32 mode = arg_mode(e);
                if (mode == 3) break;
                if (!collecting) {
                    if (!c.native) stack::push(&none::value);
                    break;
                }
                if (given < before) {
                    check(c, k, stack::arguments + given);
                    given++;
                    break;
                }
                // The typeset is read now: fetching may move the cache.
                const Cell types = *e;
                if (c.mode) fetch_applied(c, k, mode);
                else fetch(c, k, mode);
                if (ZIR_UNLIKELY(stack::pending != 0)) return;
                if (ZIR_UNLIKELY(!typeset::has_q(&types, stack::top_type()))) expect_arg(c, k, stack::top_type());
                break;
            }
            case TYPE_REFINEMENT:
                if (!c.native) stack::push(&logic::false_value);
                collecting = false;
                break;
            case TYPE_INTEGER:
                if (c.native) c.nrefs = integer::get(e);
                else c.locals = integer::get(e);
                break;
            default:
                break;
        }
    }
    if (c.nrefs > MAX_REFINEMENTS) fire(ERR_SCRIPT, "bad-func-def", c.fn);
    // A native's entry reads the refinements of its slot, which a native
    // made with a shorter spec block does not have: those read as unused too.
    for (i32 i = 0, n = c.native ? MAX_REFINEMENTS : c.nrefs; i < n; i++) c.refs[i] = -1;
}

// Refinements named by the path's elements from `index` on. Under `apply`
// they come after the block's own, their arguments taken from what the
// block holds next (none when it holds no more).
void path_refinements(Call& c, const Cell* path, i32 index) {
    Code pc = code_of(path);
    for (i32 i = pc.head + index; i < end_of(pc); i++) {
        const Cell e = *block::cell_at(pc.node, i);
        u32 t = TYPE_OF(&e);
        if (t != TYPE_WORD && t != TYPE_GET_WORD) fire(ERR_SCRIPT, "bad-refine", &e);
        bool active = true;
        if (t == TYPE_GET_WORD) active = logic::truthy_q(context::get(&e), false, &e);
        i32 k = find_refinement(c, &e);
        if (c.mode) {
            activate(
                c, k, active, path, [&](i32 j) { fetch_applied(c, j, arg_mode(cache_cell(c, j))); },
                [&](i32 j) { skip_applied(c, j, arg_mode(cache_cell(c, j))); });
            if (ZIR_UNLIKELY(stack::pending != 0)) return;
            continue;
        }
        activate(
            c, k, active, path, [&](i32 j) { fetch(c, j, arg_mode(cache_cell(c, j))); },
            [&](i32 j) {
                Cell* keep = stack::top;
                fetch(c, j, arg_mode(cache_cell(c, j)));
                if (stack::pending == 0) stack::top = keep;
            });
        if (ZIR_UNLIKELY(stack::pending != 0)) return;
    }
}

// The block modes of `apply`.
void fetch_applied_refinements(Call& c) {
    auto take = [&](i32 j) { fetch_applied(c, j, arg_mode(cache_cell(c, j))); };
    auto skip = [&](i32 j) { skip_applied(c, j, arg_mode(cache_cell(c, j))); };
    if (c.mode & APPLY_NAMED) {
        bool seen = false;
        while (c.p < end_of(c.code)) {
            const Cell item = *cell_at(c.code, c.p);
            if (TYPE_OF(&item) != TYPE_REFINEMENT) {
                if (!seen) break;
                fire(ERR_SCRIPT, "bad-refine", &item);
            }
            seen = true;
            c.p++;
            i32 k = find_refinement(c, &item);
            Cell* keep = stack::top;
            fetch_applied(c, k, 0);
            if (ZIR_UNLIKELY(stack::pending != 0)) return;
            bool active = logic::truthy_q(stack::top - 1, false, &item);
            stack::top = keep;
            activate(c, k, active, &item, take, skip);
            if (ZIR_UNLIKELY(stack::pending != 0)) return;
        }
        return;
    }
    // Positional: each refinement takes a logic! value, then its arguments.
    for (i32 k = 0; k < c.count; k++) {
        const Cell* e = cache_cell(c, k);
        if (TYPE_OF(e) != TYPE_REFINEMENT) continue;
        bool active = false;
        if (c.p < end_of(c.code)) {
            Cell* keep = stack::top;
            fetch_applied(c, k, 0);
            if (ZIR_UNLIKELY(stack::pending != 0)) return;
            if (TYPE_OF(stack::top - 1) != TYPE_LOGIC) expect_arg(c, k, TYPE_OF(stack::top - 1));
            active = stack::top[-1].w1 != 0;
            stack::top = keep;
        }
        const Cell refinement = *cache_cell(c, k);
        activate(c, k, active, &refinement, take, skip);
        if (ZIR_UNLIKELY(stack::pending != 0)) return;
    }
}

// Calls a native's or action's entry with its refinement positions.
void call_entry(const Cell* fn, const i32* refs) {
    u32 n = fn->w1;
    if (TYPE_OF(fn) == TYPE_ACTION) {
        action::Generic entry = n >= 1 && n <= ACTION_SLOTS ? actions::table[n - 1] : nullptr;
        if (!entry) fire(ERR_INTERNAL, "not-done");
        reinterpret_cast<action::StackEntry>(entry)(refs);
    } else {
        action::Generic entry = n >= 1 && n <= u32(natives::NATIVES_SIZE) ? natives::table[n - 1] : nullptr;
        if (!entry) fire(ERR_INTERNAL, "not-done");
        reinterpret_cast<natives::Entry>(entry)(0, refs);
    }
}

// Gathers the arguments of a call and, for a native or action, runs it.
i32 fetch_args(Call& c, const Cell* path, i32 path_index, i32 before) {
    c.cache = arg_cache(c.fn);
    c.count = block::cell_count(node_buffer(c.cache));
    fetch_spec_order(c, before);
    if (ZIR_UNLIKELY(stack::pending != 0)) return c.p;
    if (c.mode) fetch_applied_refinements(c);
    if (path && stack::pending == 0) path_refinements(c, path, path_index);
    if (ZIR_UNLIKELY(stack::pending != 0)) return c.p;
    // The cache was checked against the function's context when it was
    // built: these are one cell per word of the context.
    if (!c.native) function::push_unused_refinement(c.locals);
    if (ZIR_UNLIKELY(tracing)) {
        Cell fn = *c.fn;
        // An operator is reported as the operator its word holds, not as
        // the function it was made from.
        if (c.infix) {
            const Cell* op = TYPE_OF(&c.name) == TYPE_WORD ? word_value_q(&c.name) : nullptr;
            if (op && TYPE_OF(op) == TYPE_OP) fn = *op;
        }
        trace_event(EVENT_CALL, &c.code, c.mode ? -1 : c.start, &c.name, &fn);
    }
    if (c.native) call_entry(c.fn, c.refs);
    return c.p;
}

}  // namespace

i32 eval_code(Cell* slot, const Code& code, i32 position, bool push, const Cell* path, i32 path_index,
              const Cell* name, const Cell* owner, u32 mode, i32 before) {
    check_machine_stack();
    // (The owner, an object holding the function, named the context of
    // built-in entries; they take none now.)
    (void)owner;
    Call c;
    c.fn = slot;
    c.type = TYPE_OF(slot);
    c.native = c.type == TYPE_NATIVE || c.type == TYPE_ACTION;
    c.code = code;
    c.start = c.p = position;
    c.infix = before == 1;
    c.mode = mode;
    if (name) c.name = *name;
    else if (position > code.head && position - 1 < end_of(code)) c.name = *cell_at(code, position - 1);
    else cell::init(&c.name, TYPE_NONE);
    if (!any_word_q(TYPE_OF(&c.name))) c.name = anon_word;
    c.name.header = (c.name.header & ~FLAG_NEW_LINE);
    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_OPEN, &code, position, &c.name, &c.name);
    stack::top = slot + 1;
    switch (c.type) {
        case TYPE_FUNCTION: {
            const Cell* body = function::record_cell(slot, function::RECORD_BODY);
            bool library = TYPE_OF(body) == TYPE_BLOCK && (node_buffer(body->w2)->flags & SERIES_LIBRARY);
            // Library functions leave the frames compiled code left.
            stack::mark(c.name.w2, c.name.w1, library ? stack::FRAME_FUNCTION : stack::FLAGS_CALL);
            stack::top = slot + 1 + before;
            fetch_args(c, path, path_index, before);
            if (ZIR_LIKELY(stack::pending == 0)) {
                // run_function without a callback: tracing stays as it is
                // (eval_function gives it back), a built-in entry aside.
                const Cell* entry = function::record_cell(slot, function::RECORD_CODE);
                if (TYPE_OF(entry) == TYPE_INTEGER && integer::get(entry) != 0) {
                    run_function(slot, 0, &c.name, 0);
                } else {
                    const Cell body_now = *function::record_cell(slot, function::RECORD_BODY);
                    eval_function(slot, &body_now, &c.name);
                }
            }
            break;
        }
        case TYPE_ROUTINE:
            stack::mark_body(c.name.w2, c.name.w1);
            stack::top = slot + 1 + before;
            fetch_args(c, path, path_index, before);
            if (ZIR_LIKELY(stack::pending == 0)) exec_routine(slot);
            break;
        case TYPE_NATIVE:
        case TYPE_ACTION:
            stack::mark_body(c.name.w2, c.name.w1);
            stack::top = slot + 1 + before;
            fetch_args(c, path, path_index, before);
            break;
        default:
            ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
    if (push) stack::unwind_last();
    else stack::unwind_set_last();
    if (ZIR_UNLIKELY(tracing) && stack::pending == 0) trace_event(EVENT_RETURN, &code, c.p, &c.name, slot + 1);
    if (push) {
        *slot = slot[1];
        stack::top = slot + 1;
    } else {
        stack::top = stack::arguments + 1;
    }
    return c.p;
}

// --- The argument cache ------------------------------------------------------------------------

u32 arg_cache(const Cell* fn) {
    const Cell* cached = series::head_cells(node_buffer(fn->w3)) + 1;
    if (ZIR_LIKELY(TYPE_OF(cached) == TYPE_BLOCK)) return cached->w2;
    return make_arg_cache(fn);
}

u32 make_arg_cache(const Cell* fn_in) {
    stack::KeepTop restore;
    Cell* fn = stack::push(fn_in);
    bool native = TYPE_OF(fn) == TYPE_NATIVE || TYPE_OF(fn) == TYPE_ACTION;
    Cell* cache = stack::push_slot();
    cell::init(cache, TYPE_UNSET);
    block::make_at(cache, 8);
    Cell spec;
    cell::init(&spec, TYPE_BLOCK);
    spec.w2 = fn->w2;
    i32 n = block::cell_count(node_buffer(spec.w2));
    i32 ordinal = 0, locals = -1, named = 0;
    // The context the function was made with names the same words in the
    // same order; a spec changed since would put values in the wrong cells.
    Cell ctx;
    ctx = TYPE_OF(fn) == TYPE_FUNCTION || TYPE_OF(fn) == TYPE_ROUTINE ? *context::cell_of(fn->w1)
                                                                      : *series::head_cells(node_buffer(fn->w3));
    auto matches = [&](const Cell* word) {
        if (named >= context::word_count(&ctx)) return false;
        return symbol::resolve(i32(context::word_at(&ctx, named)->w2)) == resolved(word);
    };
    for (i32 i = 0; i < n; i++) {
        const Cell item = *block::cell_at(spec.w2, i);
        u32 t = TYPE_OF(&item);
        if (locals >= 0) {
            if (t == TYPE_SET_WORD) break;
            if (t == TYPE_WORD) locals++;
            continue;
        }
        switch (t) {
            case TYPE_WORD:
            case TYPE_GET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_SET_WORD: {
                u32 mode = t == TYPE_WORD ? 0 : t == TYPE_GET_WORD ? 1 : t == TYPE_LIT_WORD ? 2 : 3;
                if (mode == 3 && resolved(&item) != words.return_) fire(ERR_SCRIPT, "bad-func-def", &item);
                if (mode != 3) {
                    if (!matches(&item)) fire(ERR_SCRIPT, "bad-func-def", &spec);
                    named++;
                }
                Cell* ts;
                if (i + 1 < n && TYPE_OF(block::cell_at(spec.w2, i + 1)) == TYPE_BLOCK &&
                    block::zs_length_q(block::cell_at(spec.w2, i + 1)) > 0) {
                    const Cell types = *block::cell_at(spec.w2, i + 1);
                    ts = typeset::make_from_spec_in(cache, &types);
                } else {
                    ts = typeset::make_default_in(cache);
                }
                ts->header = (ts->header & ~typeset::ARG_MODE_MASK) | (mode << typeset::ARG_MODE_SHIFT);
                break;
            }
            case TYPE_REFINEMENT: {
                if (resolved(&item) == words.local) {
                    locals = 1;
                    if (!matches(&item)) fire(ERR_SCRIPT, "bad-func-def", &spec);
                    break;
                }
                if (!matches(&item)) fire(ERR_SCRIPT, "bad-func-def", &spec);
                named++;
                Cell r = item;
                r.header = TYPE_REFINEMENT;
                if (native) r.w3 = u32(++ordinal);
                block::zs_append(cache, &r);
                break;
            }
            default:
                break;
        }
    }
    // Every word of the context is named, locals included.
    if (named + (locals > 0 ? locals : 0) != context::word_count(&ctx)) fire(ERR_SCRIPT, "bad-func-def", &spec);
    if (locals >= 0 || ordinal > 0) {
        Cell count;
        integer::make_at(&count, native ? ordinal : locals);
        block::zs_append(cache, &count);
    }
    Cell* slot = series::head_cells(node_buffer(fn->w3)) + 1;
    *slot = *cache;
    return cache->w2;
}

// --- Running functions ---------------------------------------------------------------------------

namespace {

// What eval_function changes, put back on every way out.
struct FunctionScope {
    u32 ctx;
    u32 saved_values;
    bool saved_tracing;
    stack::Frame* frame;
    u32 saved_hot_context = hot_context;
    Cell* saved_hot_values = hot_values;
    ~FunctionScope() {
        context::cell_of(ctx)->w2 = saved_values;
        hot_context = saved_hot_context;
        hot_values = saved_hot_values;
        tracing = saved_tracing;
        frame->flags &= ~stack::FRAME_RETURN_BOUNDARY;
    }
};

}  // namespace

namespace {

// The prolog or epilog event of a call, the body as its code.
[[gnu::cold, gnu::noinline]] void frame_event(u32 event, const Cell* fn, const Cell* body, const Cell* name) {
    if (TYPE_OF(body) != TYPE_BLOCK) return trace_event(event, nullptr, -1, name, fn);
    Code b = code_of(body);
    trace_event(event, &b, -1, name, fn);
}

// eval_function, inlined into the direct call.
// `library`: the body is library code (the caller knows it). `checked`: the
// caller has checked the machine stack and opened no machine frame of any
// size since (the direct call, whose word_call checks it).
[[gnu::always_inline]] inline void run_body(const Cell* fn_in, const Cell* body_in, const Cell* name, bool library,
                                            bool checked = false, bool plain_shape = true) {
    const Cell fn = *fn_in;
    const Cell body = *body_in;
    stack::Frame* frame = stack::call_top - 1;
    Cell* ctx = context::cell_of(fn.w1);
    FunctionScope scope{fn.w1, ctx->w2, tracing, frame};
    context::set_stack_values(ctx, stack::arguments);
    hot_context = fn.w1;
    hot_values = stack::arguments;
    frame->flags |= stack::FRAME_RETURN_BOUNDARY;
    if (ZIR_UNLIKELY(fn.header & (function::TRACE | function::NO_TRACE)))
        tracing = (fn.header & function::TRACE) ? trace_allowed : false;
    // A library function's call shows no body: no prolog or epilog either.
    if (ZIR_UNLIKELY(tracing) && !library) frame_event(EVENT_PROLOG, &fn, &body, name);
    if (ZIR_LIKELY(TYPE_OF(&body) == TYPE_BLOCK)) {
        Cell value;
        if (plain_shape && !(tracing | held) && machine_stack_fine() && plain_block_value(&body, &value)) {
            // What the walk leaves: its result cell above the function's
            // values, and the result in the function's own.
            Cell* result = stack::top;
            *result = value;
            *stack::arguments = value;
            stack::top = result + 1;
        } else {
            if (!checked) check_machine_stack();
            walk_block(block_code(&body), true, library);
        }
    } else {
        cell::init(stack::arguments, TYPE_NONE);
        stack::keep();
    }
    if (ZIR_UNLIKELY(stack::target_q(frame))) {
        u32 code = stack::take_pending();
        if (code == stack::THROW_RETURN) *stack::arguments = stack::pending_value;
        else cell::init(stack::arguments, TYPE_UNSET);
        stack::keep();
    }
    // Sent even while an exit leaves the function (the tracer sees it with
    // the exit set aside).
    if (ZIR_UNLIKELY(tracing) && !library) frame_event(EVENT_EPILOG, &fn, &body, name);
}

}  // namespace

void eval_function(const Cell* fn, const Cell* body, const Cell* name) {
    run_body(fn, body, name, TYPE_OF(body) == TYPE_BLOCK && library_q(body));
}

void call_function(const Cell* fn_in, u32 owner_ctx, const Cell* name_in, i32 callback_bit) {
    collector::RootCell fn(*fn_in);
    run_function(fn.get(), owner_ctx, name_in, callback_bit);
}

namespace {

void run_function(const Cell* fn, u32 owner_ctx, const Cell* name_in, i32 callback_bit) {
    // The name is a cell of the caller's that stays put meanwhile.
    const Cell& name = name_in ? *name_in : none::value;
    bool saved = tracing;
    struct Restore {
        bool saved;
        ~Restore() { tracing = saved; }
    } restore{saved};
    bool callback_traced = false;
    if (tracing && callback_bit) {
        i32 bits = callback_bits ? callback_bits() : 0;
        if (bits & callback_bit) callback_traced = true;
        else tracing = false;
    }
    const Cell code = *function::record_cell(fn, function::RECORD_CODE);
    if (TYPE_OF(&code) == TYPE_INTEGER && integer::get(&code) != 0) {
        // A built-in entry: a routine given the frame's cells.
        i32 index = integer::get(&code);
        if (index < 1 || index > routine_count || !routines[index - 1]) fire(ERR_INTERNAL, "not-done");
        (void)owner_ctx;
        i32 count = context::word_count(context::cell_of(fn->w1));
        if (count > MAX_ROUTINE_ARGS) fire(ERR_INTERNAL, "not-done");
        RoutineValue args[MAX_ROUTINE_ARGS];
        for (i32 i = 0; i < count; i++) args[i].cell = stack::arguments + i;
        RoutineValue r = routines[index - 1](args, count);
        if (r.cell && r.cell != stack::arguments) *stack::arguments = *r.cell;
        stack::keep();
        return;
    }
    if (callback_traced) trace_call(&name, fn);
    const Cell body = *function::record_cell(fn, function::RECORD_BODY);
    eval_function(fn, &body, &name);
    if (callback_traced) trace_return(&name);
}

// The entry of a native or action whose arguments are in place, none of its
// `refinements` used.
[[gnu::noinline]] void native_entry(Cell* slot, const Code& code, i32 start, const Cell* name, i32 refinements) {
    if (ZIR_UNLIKELY(refinements > MAX_REFINEMENTS)) fire(ERR_SCRIPT, "bad-func-def", slot);
    i32 refs[MAX_REFINEMENTS];
    // (All of them: the entry reads every refinement of its slot, and the
    // native's own argument block may name fewer.)
    for (i32 i = 0; i < MAX_REFINEMENTS; i++) refs[i] = -1;
    if (ZIR_UNLIKELY(tracing)) {
        Cell fn = *slot;
        trace_event(EVENT_CALL, &code, start, name, &fn);
    }
    call_entry(slot, refs);
}


static_assert(TYPE_TOTAL <= 64, "an argument's types fit one 64-bit set");

// --- Type tests ---
//
// The library's type predicates (`integer?` and the like) are functions whose
// body is `equal? <word> type? :value` with the runtime's equal? and type?
// natives put in as values. Such a body cannot fail, call anything else nor
// allocate while the word holds a datatype!, so a call of one, tracing off,
// answers without walking it: the frames it would open are all closed again
// before anything could see them.

// The slots of the two natives in the natives table.
constexpr u32 EQUAL_SLOT = 25;
constexpr u32 TYPE_SLOT = 34;

// The cells of a type test's body, or null.
inline const Cell* type_test_cells(const Cell* body) {
    if (TYPE_OF(body) != TYPE_BLOCK) return nullptr;
    SeriesBuffer* s = node_buffer(body->w2);
    if (cells_in(s) - i32(body->w1) != 4) return nullptr;
    const Cell* c = series::head_cells(s) + body->w1;
    if (TYPE_OF(c) != TYPE_NATIVE || TYPE_OF(c + 1) != TYPE_WORD || TYPE_OF(c + 2) != TYPE_NATIVE ||
        TYPE_OF(c + 3) != TYPE_GET_WORD || c[0].w1 != EQUAL_SLOT || c[2].w1 != TYPE_SLOT)
        return nullptr;
    return c;
}

inline bool type_test_shape_q(const Cell* body) { return type_test_cells(body) != nullptr; }

// The row of a native whose call gathers `lead` arguments, each evaluated,
// and nothing more before its refinements; null for any other native, or one
// whose row is not made yet. What its entry does is its slot's, and what it
// takes is its row's (a record's row never changes).
inline const NativePlan* evaluating_row(const Cell* native, u32 lead) {
    const Cell* cached = series::head_cells(node_buffer(native->w3)) + 1;
    if (TYPE_OF(cached) != TYPE_BLOCK) return nullptr;
    u32 plan = cached->w3;
    if ((plan & (PLAN_KNOWN | PLAN_ROW)) != (PLAN_KNOWN | PLAN_ROW)) return nullptr;
    const NativePlan* row = &native_plans[plan & PLAN_ROW_MASK];
    return row->lead == lead && !row->skip && !row->literal && !row->conditional ? row : nullptr;
}

inline bool takes_q(const NativePlan* row, u32 k, u32 type) { return type < 64 && ((row->types[k] >> type) & 1); }

// The answer of a type test of the function `fn` whose body is `body`, the
// function's values being the `count` cells from `values`: 1 or 0, or -1,
// having done nothing, for any other body, a word not holding a datatype!,
// natives that would refuse or take their arguments otherwise, or stacks too
// near their limits for the walk to be sure of not overflowing (the full
// walk then raises what it raises).
[[gnu::noinline]] i32 type_test_answer(const Cell* fn, const Cell* body, const Cell* values, u32 count) {
    // (Tracing held off by library code is on again in the body's walk.)
    if (ZIR_UNLIKELY(tracing || held) || (fn->header & (function::TRACE | function::NO_TRACE))) return -1;
    const Cell* c = type_test_cells(body);
    if (!c) return -1;
    const NativePlan* equal = evaluating_row(c, 2);
    const NativePlan* type_of = evaluating_row(c + 2, 1);
    if (!equal || !type_of) return -1;
    // The value is one of the function's own; the datatype's word is not (the
    // context is not pointed at this call's values yet: it would read another
    // call's).
    u32 slot = c[3].w3;
    if (c[3].w1 != fn->w1 || slot >= count || c[1].w1 == fn->w1) return -1;
    const Cell* type = word_slot(c + 1);
    if (!type || TYPE_OF(type) != TYPE_DATATYPE) return -1;
    u32 t = TYPE_OF(values + slot);
    if (!takes_q(type_of, 0, t) || !takes_q(equal, 0, TYPE_DATATYPE) || !takes_q(equal, 1, TYPE_DATATYPE))
        return -1;
    // The call and the walk open four frames and push eight cells at most.
    if (stack::call_top + 5 >= stack::call_limit || stack::top + 10 + stack::OVERFLOW_MARGIN >= stack::limit ||
        (stack_floor &&
         static_cast<const char*>(__builtin_frame_address(0)) < stack_floor + TYPE_TEST_MACHINE_MARGIN))
        return -1;
    return type->w1 == t;
}

// The type test of a running function's body, answered in its frame's
// result cell; false, having done nothing, where type_test_answer says so.
[[gnu::noinline]] bool type_test(const Cell* fn, const Cell* body) {
    i32 r = type_test_answer(fn, body, stack::arguments, u32(stack::top - stack::arguments));
    if (r < 0) return false;
    cell::store(stack::arguments, TYPE_LOGIC, u32(r), 0, 0);
    stack::keep();
    return true;
}

// A call of a type test of one argument (no refinement, no local, no
// built-in entry in place of the body) given a
// plain operand that no operator follows: the argument cannot fail, nor can
// the body, so the call opens no frame at all. Answers the position after
// the operand, the result where the call leaves it (`slot`, pushed; else
// the statement's cell), or -1, having done nothing.
[[gnu::noinline]] i32 type_test_call(Cell* slot, const Code& code, i32 p, bool push, u32 plan, u32 cache,
                                     const Cell* body) {
    if ((plan & (PLAN_MAX_LEAD | (PLAN_MAX_EXTRA << 8) | PLAN_REFINEMENTS | PLAN_ENTRY)) != 1) return -1;
    if (p >= end_of(code)) return -1;
    const Cell* v = plain_operand(cell_at(code, p));
    if (!v || op_at(code, p + 1)) return -1;
    const Cell* e = block::cell_at(cache, 0);
    if (TYPE_OF(e) != TYPE_TYPESET || arg_mode(e) != 0 || !typeset::has_q(e, TYPE_OF(v))) return -1;
    i32 r = type_test_answer(slot, body, v, 1);
    if (r < 0) return -1;
    Cell* out = push ? slot : stack::arguments;
    cell::store(out, TYPE_LOGIC, u32(r), 0, 0);
    stack::top = out + 1;
    return p + 1;
}


[[gnu::noinline]] u32 make_plan(Cell* cached, bool native, const Cell* fn) {
    SeriesBuffer* s = node_buffer(cached->w2);
    i32 count = cells_in(s);
    const Cell* e = series::head_cells(s);
    i32 lead = 0, extra = 0;
    u32 plan = PLAN_KNOWN;
    bool literal = false;
    for (; lead < count; lead++) {
        u32 t = TYPE_OF(e + lead);
        if (t != TYPE_TYPESET) break;
        if (arg_mode(e + lead) == 1 || arg_mode(e + lead) == 2) literal = true;
    }
    for (i32 k = lead; k < count; k++) {
        if (TYPE_OF(e + k) == TYPE_REFINEMENT) plan |= PLAN_REFINEMENTS;
        if (TYPE_OF(e + k) == TYPE_INTEGER) extra = integer::get(e + k);
    }
    if (!native) {
        // The record never changes once made: its body and entry stay.
        const Cell* body = cached - 1 + function::RECORD_BODY;
        const Cell* entry = cached - 1 + function::RECORD_CODE;
        if (TYPE_OF(body) == TYPE_BLOCK && (node_buffer(body->w2)->flags & SERIES_LIBRARY)) plan |= PLAN_LIBRARY;
        if (TYPE_OF(entry) == TYPE_INTEGER && integer::get(entry) != 0) plan |= PLAN_ENTRY;
        bool plain = true;
        for (i32 k = 0; plain && k < lead; k++) {
            plain = arg_mode(e + k) == 0;
            for (u32 t = 0; plain && t < TYPE_TOTAL; t++) plain = typeset::has_q(e + k, t) == (t != TYPE_UNSET);
        }
        if (plain) plan |= PLAN_PLAIN_ARGS;
        if (type_test_shape_q(body)) plan |= PLAN_TYPE_TEST;
        if (plain_body_shape_q(body)) plan |= PLAN_PLAIN_BODY;
    }
    if (u32(lead) > PLAN_MAX_LEAD || extra < 0 || u32(extra) > PLAN_MAX_EXTRA) {
        plan |= PLAN_GENERAL;
    } else if (native && lead <= NATIVE_PLAN_ARGS && extra <= MAX_REFINEMENTS &&
               native_plan_count < NATIVE_PLAN_ROWS) {
        NativePlan& row = native_plans[native_plan_count];
        row.lead = u32(lead);
        row.extra = u32(extra);
        row.skip = row.literal = 0;
        for (i32 k = 0; k < lead; k++) {
            u32 mode = arg_mode(e + k);
            row.modes[k] = u8(mode);
            if (mode == 3) row.skip |= 1u << k;
            if (mode == 1 || mode == 2) row.literal |= 1u << k;
            u64 types = 0;
            for (u32 t = 0; t < TYPE_TOTAL; t++)
                if (typeset::has_q(e + k, t)) types |= u64(1) << t;
            row.types[k] = types;
        }
        row.conditional = NOT_CONDITIONAL;
        if (TYPE_OF(fn) == TYPE_NATIVE && row.skip == 0 && row.literal == 0) {
            for (u8 kind = COND_IF; kind <= COND_EITHER; kind++) {
                if (conditional_slots[kind] == 0 || fn->w1 != u32(conditional_slots[kind])) continue;
                bool shape = lead == (kind == COND_EITHER ? 3 : 2);
                for (i32 k = 1; shape && k < lead; k++) shape = row.types[k] == (u64(1) << TYPE_BLOCK);
                if (shape) row.conditional = kind;
            }
        }
        plan |= PLAN_ROW | u32(native_plan_count++);
        if (i32 n = native_slot_of(fn); n >= 0) {
            native_slots[n] = NativeSlot{fn->w3, plan};
            native_slot_values[n] = *fn;
        }
    } else if (literal) {
        plan |= PLAN_GENERAL;
    } else {
        plan |= u32(lead) | (u32(extra) << 8);
    }
    cached->w3 = plan;
    return plan;
}

// The arguments of a native or action by its row, pushed and checked against
// the row's types; answers the position after them (an exit may be pending).
// `evaluated`: the caller knows every argument is evaluated (no skipped or
// literal one), which leaves their tests out.
[[gnu::always_inline]] inline i32 row_arguments(Cell* slot, const Code& code, i32 p, const Cell* name,
                                                const NativePlan& row, bool evaluated) {
    const i32 lead = i32(row.lead);
    for (i32 k = 0; k < lead; k++) {
        if (!evaluated && (row.skip & (1u << k))) continue;
        if (ZIR_UNLIKELY(p >= end_of(code))) no_arg(slot, name, k);
        if (!evaluated && ZIR_UNLIKELY(row.literal & (1u << k))) p = fetch_literal_at(code, p, row.modes[k]);
        else p = expression_at(code, p, false, true, false);
        if (ZIR_UNLIKELY(stack::pending != 0)) return p;
        u32 t = stack::top_type();
        if (ZIR_UNLIKELY(t >= 64 || !((row.types[k] >> t) & 1))) expect_arg(slot, name, k, t);
    }
    return p;
}

// A native or action by its row: the arguments gathered against the row's
// types, then its entry called straight away.
[[gnu::always_inline]] inline i32 native_by_row(Cell* slot, const Code& code, i32 p, const Cell* name, u32 plan) {
    const NativePlan& row = native_plans[plan & PLAN_ROW_MASK];
    const i32 start = p;
    p = row_arguments(slot, code, p, name, row, false);
    if (ZIR_UNLIKELY(stack::pending != 0)) return p;
    if (ZIR_UNLIKELY(tracing)) {
        Cell fn = *slot;
        trace_event(EVENT_CALL, &code, start, name, &fn);
    }
    u32 n = slot->w1;
    if (TYPE_OF(slot) == TYPE_ACTION) {
        action::Generic entry = n >= 1 && n <= ACTION_SLOTS ? actions::table[n - 1] : nullptr;
        if (!entry) fire(ERR_INTERNAL, "not-done");
        reinterpret_cast<action::StackEntry>(entry)(no_refinements);
    } else {
        action::Generic entry = n >= 1 && n <= u32(natives::NATIVES_SIZE) ? natives::table[n - 1] : nullptr;
        if (!entry) fire(ERR_INTERNAL, "not-done");
        reinterpret_cast<natives::Entry>(entry)(0, no_refinements);
    }
    return p;
}

// if, unless and either called by a word, their frame open: the arguments
// gathered and checked as native_by_row does, then the block chosen is
// evaluated as the native's entry would evaluate it, in the native's frame.
[[gnu::always_inline]] inline i32 conditional_call(Cell* slot, const Code& code, i32 p, const Cell* name,
                                                   const NativePlan& row) {
    const i32 start = p;
    p = row_arguments(slot, code, p, name, row, true);
    if (ZIR_UNLIKELY(stack::pending != 0)) return p;
    if (ZIR_UNLIKELY(tracing)) {
        // An argument turned tracing on: the call event, then the entry.
        Cell fn = *slot;
        trace_event(EVENT_CALL, &code, start, name, &fn);
        call_entry(slot, no_refinements);
        return p;
    }
    const Cell* cond = stack::arguments;
    const Cell* chosen;
    if (row.conditional == COND_EITHER) {
        if (ZIR_UNLIKELY(TYPE_OF(cond) == TYPE_UNSET)) fire(ERR_SCRIPT, "no-return");
        chosen = logic::falsy_q(cond) ? cond + 2 : cond + 1;
    } else if (logic::falsy_q(cond) == (row.conditional == COND_IF)) {
        stack::box_scalar(TYPE_NONE);
        return p;
    } else {
        chosen = cond + 1;
    }
    const Cell block = *chosen;
    eval_block(&block, true);
    return p;
}

// The end of a direct call: the frame closed, the result where the call
// leaves it.
[[gnu::always_inline]] inline void close_call(Cell* slot, const Code& code, i32 p, bool push, const Cell* name) {
    if (push) stack::unwind_last();
    else stack::unwind_set_last();
    if (ZIR_UNLIKELY(tracing) && stack::pending == 0) trace_event(EVENT_RETURN, &code, p, name, slot + 1);
    if (push) {
        *slot = slot[1];
        stack::top = slot + 1;
    } else {
        stack::top = stack::arguments + 1;
    }
}

// The call of a function whose leading arguments are all evaluated taking
// any value but unset! and that has no refinement, given arguments that are
// plain expressions (a plain operand and the operators that need nothing
// more), whose body is one too (plain_block_value): nothing in the call can
// fail, call anything or be seen, so its frame is not opened. The arguments
// and locals are laid out where the frame would have them, the function's
// context points there while the body's value is taken, and the result goes
// where close_call leaves it. Answers the position after the arguments, or
// -1, having done nothing, for anything else.
[[gnu::noinline]] i32 plain_call(Cell* slot, const Code& code, i32 p, bool push, i32 lead, i32 extra,
                                 const Cell* body) {
    if ((tracing | held) || !machine_stack_fine() ||
        (slot->header & (function::TRACE | function::NO_TRACE)))
        return -1;
    Cell* values = slot + 1;
    if (values + lead + extra + 1 + stack::OVERFLOW_MARGIN >= stack::limit) return -1;
    // Nothing allocates here: the buffer holds.
    const Span s = span_of(code);
    i32 q = p;
    for (i32 k = 0; k < lead; k++) {
        if (q >= s.end) return -1;
        const Cell* v = plain_operand(s.g, s.cells + q);
        if (!v) return -1;
        values[k] = *v;
        if (const Cell* op = op_in(s, ++q)) {
            q = plain_infix_first(values + k, s, q, op);
            if (q < 0) return -1;
        }
    }
    // The locals, as push_unused_refinement lays them out.
    if (extra > 0) {
        values[lead] = logic::false_value;
        for (i32 k = 1; k < extra; k++) values[lead + k] = none::value;
    }
    Cell* ctx = context::cell_of(slot->w1);
    const u32 saved_values = ctx->w2, saved_context = hot_context;
    Cell* const saved_hot = hot_values;
    Cell* const saved_top = stack::top;
    stack::top = values + lead + extra;
    context::set_stack_values(ctx, values);
    hot_context = slot->w1;
    hot_values = values;
    Cell result;
    const bool done = plain_block_value(body, &result);
    ctx->w2 = saved_values;
    hot_context = saved_context;
    hot_values = saved_hot;
    stack::top = saved_top;
    if (!done) return -1;
    if (push) {
        *slot = result;
        stack::top = slot + 1;
    } else {
        stack::set_last_top(&result);
    }
    return q;
}

// A call by a word while tracing is off, of a function!, native! or action!
// whose arguments before its first refinement are all evaluated: the
// function case of eval_code with fetch_args and eval_function merged, and
// their general cases left out (paths and refinements, apply's blocks,
// literal arguments, an operator's left operand, open and call events), with
// the same frames, cells, errors and exits. Answers -1, having done nothing,
// when the argument cache is not built yet or asks for a literal argument.
// (Its plans: see "Call plans".)
[[gnu::always_inline]] inline i32 direct_call(Cell* slot, const Code& code, i32 p, bool push, const Cell* word) {
    u32 cache, plan;
    const bool native = TYPE_OF(slot) != TYPE_FUNCTION;
    Cell body;
    if (native) {
        // A native or action whose plan is known by its record: the record
        // is not read.
        i32 n = native_slot_of(slot);
        if (n >= 0 && native_slots[n].record == slot->w3 && native_slots[n].plan != 0) {
            plan = native_slots[n].plan;
            Cell name = *word;
            name.header &= ~FLAG_NEW_LINE;
            stack::mark_body(name.w2, name.w1);
            const NativePlan& row = native_plans[plan & PLAN_ROW_MASK];
            if (row.conditional) p = conditional_call(slot, code, p, &name, row);
            else p = native_by_row(slot, code, p, &name, plan);
            close_call(slot, code, p, push, &name);
            return p;
        }
    }
    {
        Cell* cached = series::head_cells(node_buffer(slot->w3)) + 1;
        if (TYPE_OF(cached) != TYPE_BLOCK) return -1;
        cache = cached->w2;
        plan = cached->w3;
        if (ZIR_UNLIKELY(!(plan & PLAN_KNOWN))) plan = make_plan(cached, native, slot);
        if (ZIR_UNLIKELY(plan & PLAN_GENERAL)) return -1;
        // (A native's record has no body: the cell is not read then.)
        body = cached[function::RECORD_BODY - 1];
    }
    Cell name = *word;
    name.header &= ~FLAG_NEW_LINE;
    if (plan & PLAN_ROW) {
        stack::mark_body(name.w2, name.w1);
        const NativePlan& row = native_plans[plan & PLAN_ROW_MASK];
        if (row.conditional) p = conditional_call(slot, code, p, &name, row);
        else p = native_by_row(slot, code, p, &name, plan);
        goto close;
    }
    if (ZIR_UNLIKELY(plan & PLAN_TYPE_TEST)) {
        i32 after = type_test_call(slot, code, p, push, plan, cache, &body);
        if (after >= 0) return after;
    }
    if ((plan & (PLAN_PLAIN_BODY | PLAN_PLAIN_ARGS | PLAN_REFINEMENTS | PLAN_ENTRY)) ==
        (PLAN_PLAIN_BODY | PLAN_PLAIN_ARGS)) {
        i32 after = plain_call(slot, code, p, push, i32(plan & PLAN_MAX_LEAD), i32((plan >> 8) & PLAN_MAX_EXTRA),
                               &body);
        if (after >= 0) return after;
    }
    {
        const i32 lead = i32(plan & PLAN_MAX_LEAD);
        i32 extra = i32((plan >> 8) & PLAN_MAX_EXTRA);
        if (native) {
            stack::mark_body(name.w2, name.w1);
        } else {
            // Library functions leave the frames compiled code left.
            stack::mark(name.w2, name.w1, (plan & PLAN_LIBRARY) ? stack::FRAME_FUNCTION : stack::FLAGS_CALL);
        }
        const i32 start = p;
        if (plan & PLAN_PLAIN_ARGS) {
            for (i32 k = 0; k < lead; k++) {
                if (ZIR_UNLIKELY(p >= end_of(code))) no_arg(slot, &name, k);
                p = expression_at(code, p, false, true, false);
                if (ZIR_UNLIKELY(stack::pending != 0)) goto close;
                if (ZIR_UNLIKELY(stack::top_type() == TYPE_UNSET)) expect_arg(slot, &name, k, TYPE_UNSET);
            }
        }
        for (i32 k = (plan & PLAN_PLAIN_ARGS) ? lead : 0; k < lead; k++) {
            // Read before the argument is evaluated: that may move the cache.
            const Cell e = *block::cell_at(cache, k);
            if (arg_mode(&e) == 3) continue;
            if (ZIR_UNLIKELY(p >= end_of(code))) no_arg(slot, &name, k);
            p = expression_at(code, p, false, true, false);
            if (ZIR_UNLIKELY(stack::pending != 0)) goto close;
            if (ZIR_UNLIKELY(!typeset::has_q(&e, stack::top_type()))) expect_arg(slot, &name, k, stack::top_type());
        }
        // A function's refinements are unused: false, their arguments none.
        if (!native && (plan & PLAN_REFINEMENTS)) {
            i32 count = block::cell_count(node_buffer(cache));
            for (i32 k = lead; k < count; k++) {
                const Cell* e = block::cell_at(cache, k);
                if (TYPE_OF(e) == TYPE_REFINEMENT) stack::push(&logic::false_value);
                else if (TYPE_OF(e) == TYPE_TYPESET && arg_mode(e) != 3) stack::push(&none::value);
            }
        }
        if (native) {
            native_entry(slot, code, start, &name, extra);
        } else {
            if (extra > 0) function::push_unused_refinement(extra);
            if (ZIR_UNLIKELY(tracing)) {
                Cell fn = *slot;
                trace_event(EVENT_CALL, &code, start, &name, &fn);
            }
            if (ZIR_UNLIKELY(plan & PLAN_ENTRY)) run_function(slot, 0, &name, 0);
            else if (!(plan & PLAN_TYPE_TEST) || !type_test(slot, &body))
                run_body(slot, &body, &name, (plan & PLAN_LIBRARY) != 0, true, (plan & PLAN_PLAIN_BODY) != 0);
        }
    }
close:
    close_call(slot, code, p, push, &name);
    return p;
}

}  // namespace

void fill_frame(const Cell* fn_in, i32 given) {
    collector::RootCell fn(*fn_in);
    u32 cache = arg_cache(fn.get());
    i32 count = block::cell_count(node_buffer(cache));
    // A function taking fewer arguments than it is handed: the cells past
    // its own arguments are dropped, so that none of them stands in for a
    // refinement or a local.
    i32 own = 0;
    for (i32 k = 0; k < count; k++) {
        const Cell* e = block::cell_at(cache, k);
        if (TYPE_OF(e) != TYPE_TYPESET) break;
        if (arg_mode(e) != 3) own++;
    }
    if (given > own) {
        stack::top -= given - own;
        given = own;
    }
    i32 k = 0, seen = 0;
    for (; k < count; k++) {
        const Cell* e = block::cell_at(cache, k);
        u32 t = TYPE_OF(e);
        if (t == TYPE_INTEGER) {
            function::push_unused_refinement(integer::get(e));
            break;
        }
        if (t == TYPE_TYPESET && arg_mode(e) == 3) continue;
        if (seen++ < given) continue;
        stack::push(t == TYPE_REFINEMENT ? &logic::false_value : &none::value);
    }
    i32 words = context::word_count(context::cell_of(fn->w1));
    while (stack::top - stack::arguments < words) stack::push(&none::value);
}

// --- Routines ------------------------------------------------------------------------------------

i32 add_routine(Routine entry) {
    if (routine_count >= ROUTINES_SIZE) ZIR_FAULT(runtime::FAULT_OUT_OF_MEMORY);
    routines[routine_count++] = entry;
    return routine_count;
}

void exec_routine(const Cell* routine_in) {
    const Cell r = *routine_in;
    i32 arity = routine::get_arity(&r);
    const Cell* code = function::record_cell(&r, function::RECORD_CODE);
    i32 index = TYPE_OF(code) == TYPE_INTEGER ? integer::get(code) : 0;
    if (index < 1 || index > routine_count || !routines[index - 1]) fire(ERR_INTERNAL, "not-done");
    Routine entry = routines[index - 1];
    RoutineValue args[MAX_ROUTINE_ARGS];
    if (r.header & routine::POINTER_ARGS) {
        for (i32 i = 0; i < arity; i++) args[i].cell = stack::arguments + i;
        stack::mark_native(u32(stack::body_symbol));
        RoutineValue answer = entry(args, arity);
        Cell result = answer.cell ? *answer.cell : unset::value;
        stack::unwind_last();
        stack::set_last_top(&result);
        return;
    }
    // The type blocks of the arguments, from the last argument back.
    u32 spec = r.w2;
    i32 n = block::cell_count(node_buffer(spec));
    i32 arg = arity;
    for (i32 i = n - 1; i >= 0; i--) {
        const Cell* item = block::cell_at(spec, i);
        if (TYPE_OF(item) != TYPE_WORD) continue;
        arg--;
        if (arg < 0) break;
        Cell* value = stack::arguments + arg;
        if (i + 1 < n && TYPE_OF(block::cell_at(spec, i + 1)) == TYPE_BLOCK) {
            const Cell types = *block::cell_at(spec, i + 1);
            if (block::zs_length_q(&types) < 1 || TYPE_OF(block::cell_at(types.w2, types.w1)) != TYPE_WORD)
                fire(ERR_SCRIPT, "invalid-type-spec");
            const Cell type_word = *block::cell_at(types.w2, types.w1);
            if (resolved(&type_word) != words.any_type) {
                const Cell* allowed = context::get(&type_word);
                bool ok = TYPE_OF(allowed) == TYPE_TYPESET ? typeset::has_q(allowed, TYPE_OF(value))
                          : TYPE_OF(allowed) == TYPE_DATATYPE ? allowed->w1 == TYPE_OF(value)
                                                               : false;
                if (!ok) {
                    Cell caller, datatype;
                    const Cell word = *item;
                    stack::caller_name(&caller);
                    datatype::make_at(&datatype, TYPE_OF(value));
                    fire(ERR_SCRIPT, "expect-arg", &caller, &datatype, &word);
                }
            }
        }
        switch (TYPE_OF(value)) {
            case TYPE_LOGIC: args[arg].i = value->w1 ? 1 : 0; break;
            case TYPE_INTEGER: args[arg].i = integer::get(value); break;
            case TYPE_FLOAT: args[arg].f = float_::get(value); break;
            default: args[arg].cell = value; break;
        }
    }
    RoutineValue answer = entry(args, arity);
    const Cell* returns = function::record_cell(&r, routine::RECORD_RETURN);
    i32 type = TYPE_OF(returns) == TYPE_INTEGER ? integer::get(returns) : routine::RETURNS_NONE;
    switch (type) {
        case routine::RETURNS_LOGIC: logic::make_at(stack::arguments, answer.i != 0); break;
        case routine::RETURNS_INTEGER: integer::make_at(stack::arguments, answer.i); break;
        case TYPE_FLOAT: float_::make_at(stack::arguments, answer.f); break;
        default: {
            // No result type: the entry answers the address of its result
            // cell, or null for unset, as a routine taking cells does.
            Cell result = answer.cell ? *answer.cell : unset::value;
            *stack::arguments = result;
            break;
        }
    }
    stack::keep();
}

// --- The datatypes' entries into the interpreter -----------------------------------------------

namespace {

// A comparator function! of sort, its two arguments pushed in its frame.
void comparator_hook(const Cell* function) {
    collector::RootCell fn(*function);
    fill_frame(fn.get(), 2);
    call_function(fn.get(), 0, &anon_word, 0);
    stack::raise_pending();
}

// A change handler or port actor, its frame complete.
void call_hook(const Cell* function, u32 ctx, const Cell* name, i32 flags) {
    call_function(function, ctx, name, flags);
    stack::raise_pending();
}

// The spec block of make object! and make error!.
void eval_hook(const Cell* block, Cell* result) {
    Cell* mark = stack::top;
    eval_block(block, false);
    stack::raise_pending();
    *result = *mark;
    stack::top = mark;
}

// A trace callback of the lexer: its arguments and locals are the cells
// from `args` to the top; the answer goes to args[0].
void lexer_hook(const Cell* callback, Cell* args) {
    Cell* end = stack::top;
    collector::RootCell fn(*callback);
    stack::top = args;
    if (TYPE_OF(fn.get()) == TYPE_ROUTINE) {
        stack::mark_body(u32(stack::anon_symbol), 0);
        stack::top = end;
        exec_routine(fn.get());
        stack::unwind_last();
    } else {
        if (TYPE_OF(fn.get()) != TYPE_FUNCTION) fire(ERR_SCRIPT, "invalid-arg", fn.get());
        stack::mark_func(u32(stack::anon_symbol), 0, fn->w1);
        stack::top = end;
        // One cell per word of its context, whatever the lexer pushed.
        i32 words = context::word_count(context::cell_of(fn->w1));
        while (stack::top - stack::arguments < words) stack::push(&none::value);
        stack::top = stack::arguments + words;
        call_function(fn.get(), 0, &anon_word, 0);
        stack::unwind_func_last();
    }
    stack::raise_pending();
}

// Where an error happened: `where`, the call-stack position, `near`; and the
// tracer's error event. An error raised while this runs (by the tracer) is
// thrown as it is, without coming back here.
bool reporting = false;

void raise_hook(LanguageError& e, bool fired) {
    if (reporting) return;
    struct Flag {
        Flag() { reporting = true; }
        ~Flag() { reporting = false; }
    } flag;
    Cell* err = &e.error;
    if (stack::call_top > stack::call_bottom) {
        Cell name;
        stack::caller_name(&name);
        error::set_where(err, &name);
    }
    stack::record_position(err);
    Cell* near = error::field(err, error::FIELD_NEAR);
    if (TYPE_OF(near) == TYPE_NONE) near_position(near);
    if (fired && tracing) trace_event(EVENT_ERROR, nullptr, 0, nullptr, err);
}

void mark_state() {
    collector::mark_values(&tracer, &tracer + 1);
    collector::mark_values(&anon_word, &anon_word + 1);
    collector::mark_values(native_slot_values, native_slot_values + NATIVE_SLOTS);
}

}  // namespace

// --- Start-up and the top level -------------------------------------------------------------

const char* set_machine_stack() {
    const char* old = stack_floor;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* base = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attr, &base, &size) == 0 && base) {
            size_t margin = size / 16 > MACHINE_MARGIN_MIN ? size / 16 : MACHINE_MARGIN_MIN;
            stack_floor = static_cast<const char*>(base) + margin;
        }
        pthread_attr_destroy(&attr);
    }
    arm_machine_limit();
    return old;
}

void restore_machine_stack(const char* limit) {
    stack_floor = limit;
    arm_machine_limit();
}

void init() {
    static bool registered = false;
    if (!registered) {
        collector::register_(mark_state);
        registered = true;
    }
    auto w = [](const char* spelling) { return symbol::resolve(symbol::make(spelling)); };
    words = Words{w("system"), w("system-global"), symbol::make("set-path"), w("local"), w("return"), w("any-type!")};
    word::make_at(stack::anon_symbol, &anon_word);
    cell::init(&tracer, TYPE_NONE);
    tracing = trace_allowed = held = false;
    hot_context = 0;
    hot_values = nullptr;
    trace_mask = ALL_EVENTS;
    tracer_locals = 0;
    init_trace();
    block::call_comparator = comparator_hook;
    object::eval_block = eval_hook;
    object::call_function = call_hook;
    object::fill_frame = fill_frame;
    lexer::call_callback = lexer_hook;
    zir::raise_hook = interpreter::raise_hook;
    if (!stack_floor) set_machine_stack();
    for (i32& r : no_refinements) r = -1;
    for (i32 n = 0; n < NATIVE_SLOTS; n++) {
        native_slots[n] = NativeSlot{0, 0};
        cell::init(&native_slot_values[n], TYPE_UNSET);
    }
    const char* conditional_words[4] = {nullptr, "if", "unless", "either"};
    for (i32 kind = COND_IF; kind <= COND_EITHER; kind++) {
        conditional_slots[kind] = 0;
        for (const natives::Manifest& m : natives::manifest)
            if (std::strcmp(m.word, conditional_words[kind]) == 0) conditional_slots[kind] = m.slot;
    }
}

int report_uncaught(const LanguageError& e) {
    stack::KeepTop restore;
    Cell* text = stack::push_slot();
    cell::init(text, TYPE_UNSET);
    string::make_at(text, 64, 1);
    if (TYPE_OF(&e.error) == TYPE_ERROR) {
        const Cell error = e.error;
        actions::form(&error, text, nullptr, PART_UNLIMITED);
    } else {
        string::append_literal(text, "*** ");
        string::append_literal(text, category_name(e.category));
        string::append_literal(text, " error: ");
        string::append_literal(text, e.id);
    }
    print_hooks::call_string_hooks(text, true);
    return -2;
}

}  // namespace interpreter
}  // namespace zir
