// The natives of control: conditionals (if, unless, either, any, all,
// switch, case) and the natives that start or catch non-local exits (try,
// break, continue, exit, return, throw, catch, apply). The loops and their
// iteration steps are in natives_loop.cpp.
#include "evaluator/natives_control.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/native.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace natives {

namespace {

using interpreter::eval_block;

inline Cell* arg(i32 i) { return stack::arguments + i; }

using logic::falsy_q;

// Evaluates the block held by a stack cell; its value goes to the result cell.
inline void run(const Cell* block) {
    const Cell b = *block;
    eval_block(&b, true);
}

// The end of the code a native walks, as interpreter::end_of gives it: the
// tail it began with or the block's current tail, whichever comes first.
inline i32 end_in(const interpreter::Code& code) {
    i32 n = block::cell_count(node_buffer(code.node));
    return code.tail < n ? code.tail : n;
}

// One expression of the code from `p` (before its end), as eval_next
// evaluates it (in a <body> frame of its own, the value landing in the result
// cell), without looking the block up again: the code's own end stops it at
// the block's current tail whatever the expression does to the block.
inline i32 next_expression(const interpreter::Code& code, i32 p) {
    stack::mark_body(u32(stack::body_symbol), 0);
    stack::call_top[-1].code = code.node;
    p = interpreter::eval_expression(code, p, false, false, false);
    stack::unwind_set_last();
    return p;
}

// The truth of the result cell (logic::true_q inline): unset raises.
inline bool result_true_q() {
    if (ZIR_UNLIKELY(TYPE_OF(stack::arguments) == TYPE_UNSET)) return logic::true_q();
    return !falsy_q(stack::arguments);
}

// --- Conditionals ---------------------------------------------------------------

i32 if_star(i32 check, const i32* r) {
    if (check) check_args(1, r);
    if (falsy_q(arg(0))) stack::box_scalar(TYPE_NONE);
    else run(arg(1));
    return 0;
}

i32 unless_star(i32 check, const i32* r) {
    if (check) check_args(2, r);
    if (falsy_q(arg(0))) run(arg(1));
    else stack::box_scalar(TYPE_NONE);
    return 0;
}

i32 either_star(i32 check, const i32* r) {
    if (check) check_args(3, r);
    run(arg(logic::true_q() ? 1 : 2));
    return 0;
}

// any and all: the expressions one at a time, each value tested as it comes.
// The block is walked from a copy above the arguments, since each value
// lands in the result cell where the block argument was.
template <bool Any>
i32 any_all(const i32*) {
    Cell* conds = stack::push(arg(0));
    interpreter::Code code = interpreter::code_of(conds);
    i32 p = code.head;
    while (p < end_in(code)) {
        stack::top = conds + 1;
        p = next_expression(code, p);
        if (ZIR_UNLIKELY(stack::pending != 0)) return 0;
        if (falsy_q(arg(0)) != Any) {
            // any: a true value is the result; all: a false one gives none.
            if (!Any) stack::box_scalar(TYPE_NONE);
            stack::keep();
            return 0;
        }
    }
    // any: nothing was true; all: the last value stands, none when empty.
    if (Any || p == code.head) stack::box_scalar(TYPE_NONE);
    stack::keep();
    return 0;
}

i32 any_star(i32 check, const i32* r) {
    if (check) check_args(4, r);
    return any_all<true>(r);
}

i32 all_star(i32 check, const i32* r) {
    if (check) check_args(5, r);
    return any_all<false>(r);
}

}  // namespace

i32 switch_select(const Cell* value, const Cell* cases) {
    u32 type = TYPE_OF(value);
    if (type == TYPE_BLOCK) return -1;
    u32 node = cases->w2;
    i32 i = series::head_index(cases);
    // The comparison may allocate: every cell is read again through the node,
    // up to the block's current tail.
    for (; i < block::cell_count(node_buffer(node)); i++) {
        const Cell* c = block::cell_at(node, i);
        if (TYPE_OF(c) != type) continue;
        Cell candidate = *c;
        if (actions::compare(value, &candidate, COMP_EQUAL)) break;
    }
    for (i++; i < block::cell_count(node_buffer(node)); i++) {
        if (TYPE_OF(block::cell_at(node, i)) == TYPE_BLOCK) return i;
    }
    return -1;
}

namespace {

i32 switch_star(i32 check, const i32* r) {
    if (check) check_args(18, r);
    i32 found = switch_select(arg(0), arg(1));
    if (found >= 0) {
        const Cell chosen = *block::cell_at(arg(1)->w2, found);
        // The cases block (argument 1) holds the chosen block while it runs.
        eval_block(&chosen, true);
    } else if (r[0] >= 0) {
        run(arg(r[0]));
    } else {
        stack::box_scalar(TYPE_NONE);
    }
    return 0;
}

[[noreturn]] void fire_case_needs_value() {
    Cell w = *word::load("case");
    fire(ERR_SCRIPT, "need-value", &w);
}

// case: conditions and the blocks they guard, in an <anon> frame whose
// result cell takes each value.
i32 case_star(i32 check, const i32* r) {
    if (check) check_args(19, r);
    bool all = r[0] >= 0;
    Cell* cases = stack::push(arg(0));
    interpreter::Code code = interpreter::code_of(cases);
    if (code.head >= interpreter::end_of(code)) {
        stack::box_scalar(TYPE_NONE);
        stack::keep();
        return 0;
    }
    stack::mark_native(u32(stack::anon_symbol));
    stack::box_scalar(TYPE_UNSET);
    stack::keep();
    bool matched = false;
    i32 p = code.head;
    while (p < end_in(code)) {
        if (all) matched = false;
        stack::keep();
        p = next_expression(code, p);
        if (ZIR_UNLIKELY(stack::pending != 0)) break;
        if (p >= end_in(code)) fire_case_needs_value();
        if (!result_true_q()) {
            p++;   // the value the condition guards, whatever it is
            continue;
        }
        const Cell* next = block::cell_at(code.node, p);
        if (TYPE_OF(next) == TYPE_BLOCK) {
            // The cases block, held by the cell below the frame, keeps it.
            const Cell chosen = *next;
            stack::keep();
            eval_block(&chosen, true);
            p++;
        } else {
            stack::keep();
            p = next_expression(code, p);
        }
        if (ZIR_UNLIKELY(stack::pending != 0)) break;
        matched = true;
        if (!all) break;
    }
    stack::unwind_set_last();
    if (!matched && stack::pending == 0) stack::box_scalar(TYPE_NONE);
    stack::keep();
    return 0;
}

// --- Exits ------------------------------------------------------------------------

// The call trace an error keeps (try/keep): the named frames from the bottom
// up to where it was raised. Built while those frames are still there.
void make_trace(Cell* out, const LanguageError& e) {
    const Cell* field = error::field(&e.error, error::FIELD_STACK);
    cell::init(out, TYPE_NONE);
    if (TYPE_OF(field) != TYPE_INTEGER) return;
    i32 depth = i32(field->w2);
    const stack::Frame* end = stack::call_bottom + depth;
    if (end > stack::call_top) end = stack::call_top;
    block::make_at(out, 8);
    i32 level = error::stack_trace_depth ? error::stack_trace_depth() : 0;
    stack::trace_calls(level > 0 ? level : 1, out, end);
}

i32 try_star(i32 check, const i32* r) {
    if (check) check_args(70, r);
    bool all = r[0] >= 0, keep = r[1] >= 0;
    const Cell body = *arg(0);
    u32 name = u32(symbol::make("try"));
    if (all) stack::mark_barrier(name);
    else stack::mark_try(name);
    stack::Checkpoint checkpoint;
    try {
        eval_block(&body, true);
    } catch (LanguageError& e) {
        collector::RootCell trace;
        if (keep) make_trace(trace.get(), e);
        checkpoint.restore();
        if (TYPE_OF(trace.get()) == TYPE_BLOCK) *error::field(&e.error, error::FIELD_STACK) = *trace.get();
        stack::set_last_top(&e.error);
    }
    stack::unwind_set_last();
    stack::keep();
    // A break, continue, return, exit or throw that goes further stays
    // pending; a barrier lets none through (the throwers stop there). A
    // compiled caller acts on the code of the first four.
    return stack::pending == stack::THROW_THROW ? 0 : i32(stack::pending);
}

i32 break_star(i32 check, const i32* r) {
    if (check) check_args(77, r);
    bool with_value = r[0] >= 0;
    if (!with_value) stack::box_scalar(TYPE_UNSET);
    stack::throw_break(with_value, false);
    return 0;
}

i32 continue_star(i32 check, const i32* r) {
    if (check) check_args(78, r);
    stack::box_scalar(TYPE_UNSET);
    stack::throw_break(false, true);
    return 0;
}

i32 exit_star(i32 check, const i32* r) {
    if (check) check_args(79, r);
    stack::box_scalar(TYPE_UNSET);
    stack::throw_return(false, false);
    return 0;
}

i32 return_star(i32 check, const i32* r) {
    if (check) check_args(80, r);
    stack::throw_return(true, false);
    return 0;
}

i32 throw_star(i32 check, const i32* r) {
    if (check) check_args(81, r);
    // The name goes just above the value: unset! when none is given.
    stack::top = stack::arguments + 1;
    if (r[0] < 0) stack::push_scalar(TYPE_UNSET);
    else stack::push(arg(r[0]));
    interpreter::trace_throw();
    stack::throw_(stack::THROW_THROW);
    return 0;
}

bool word_q(u32 type) { return type == TYPE_WORD; }

// Whether a thrown name is one catch/name waits for: the word, or a word of
// the block (every element of which must be a word).
bool name_matches(const Cell* wanted, const Cell* thrown) {
    if (TYPE_OF(wanted) == TYPE_BLOCK) {
        u32 node = wanted->w2;
        i32 head = series::head_index(wanted);
        i32 n = block::cell_count(node_buffer(node));
        for (i32 i = head; i < n; i++) {
            if (!word_q(TYPE_OF(block::cell_at(node, i)))) {
                // The throw ends here, as this error.
                stack::take_pending();
                Cell name;
                series::make_word(&name, symbol::make("name"));
                fire(ERR_SCRIPT, "invalid-refine-arg", &name, wanted);
            }
        }
        if (!word_q(TYPE_OF(thrown))) return false;
        i32 want = symbol::resolve(i32(thrown->w2));
        for (i32 i = head; i < n; i++) {
            if (symbol::resolve(i32(block::cell_at(node, i)->w2)) == want) return true;
        }
        return false;
    }
    return word_q(TYPE_OF(thrown)) && symbol::resolve(i32(thrown->w2)) == symbol::resolve(i32(wanted->w2));
}

i32 catch_star(i32 check, const i32* r) {
    if (check) check_args(82, r);
    const Cell body = *arg(0);
    stack::mark_catch(u32(stack::body_symbol));
    stack::Frame* frame = stack::call_top - 1;
    eval_block(&body, true);
    if (stack::target_q(frame)) {
        // The name refinement's argument lies below the frame, untouched.
        if (r[0] >= 0 && !name_matches(frame->arguments + r[0], &stack::pending_name)) {
            stack::throw_on(frame);
        } else {
            stack::take_pending();
            *stack::arguments = stack::pending_value;
            interpreter::trace_catch();
        }
    }
    stack::unwind_set_last();
    stack::keep();
    return 0;
}

bool function_q(u32 type) {
    return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP || type == TYPE_FUNCTION ||
           type == TYPE_ROUTINE;
}

// apply func args /all /safer
i32 apply_star(i32 check, const i32* r) {
    if (check) check_args(107, r);
    u32 mode = r[0] >= 0 ? interpreter::APPLY_NAMED : interpreter::APPLY_POSITIONAL;
    if (r[1] >= 0) mode |= interpreter::APPLY_SAFER;
    // Working cells above the two arguments: the name, then the function.
    stack::top = stack::arguments + 2;
    Cell* name = stack::push(arg(0));
    const Cell* path = nullptr;
    u32 type = TYPE_OF(name);
    if (type == TYPE_PATH || type == TYPE_GET_PATH || type == TYPE_LIT_PATH || type == TYPE_SET_PATH) {
        path = arg(0);
        const Cell* first = series::rest_length(path) > 0 ? block::cell_at(path->w2, series::head_index(path))
                                                          : nullptr;
        if (!first || !any_word_q(TYPE_OF(first))) fire(ERR_SCRIPT, "invalid-arg", arg(0));
        *name = *first;
        type = TYPE_OF(name);
    }
    Cell* slot;
    if (any_word_q(type)) {
        slot = stack::push(context::get(name));
    } else {
        slot = stack::push(name);
        *name = *word::load("<applied>");
    }
    if (!function_q(TYPE_OF(slot))) fire(ERR_SCRIPT, "invalid-arg", arg(0));
    if (TYPE_OF(slot) == TYPE_OP) cell::set_type(slot, (slot->header >> op::SOURCE_SHIFT) & 0xFF);
    stack::set_break_flag();
    interpreter::Code code = interpreter::code_of(arg(1));
    interpreter::eval_code(slot, code, code.head, true, path, 1, name, nullptr, mode, 0);
    stack::set_last(slot);
    stack::keep();
    return 0;
}

}  // namespace

void fill_control(action::Generic* slots) {
    struct {
        i32 slot;
        Entry entry;
    } const entries[] = {
        {1, if_star},       {2, unless_star},     {3, either_star},  {4, any_star},      {5, all_star},
        {6, while_star},    {7, until_star},      {8, loop_star},    {9, repeat_star},   {10, forever_star},
        {11, foreach_star}, {12, forall_star},    {13, remove_each_star}, {18, switch_star}, {19, case_star},
        {70, try_star},     {77, break_star},     {78, continue_star},    {79, exit_star},   {80, return_star},
        {81, throw_star},   {82, catch_star},     {107, apply_star},
    };
    for (const auto& e : entries) slots[e.slot - 1] = reinterpret_cast<action::Generic>(e.entry);
}

}  // namespace natives
}  // namespace zir
