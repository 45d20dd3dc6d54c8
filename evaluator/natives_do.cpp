// do, reduce and compose: the natives that hand code to the interpreter.
//
// Each reads its arguments from the stack cells at `stack::arguments`, which
// never move; a block being walked is held in a stack cell or a frame and
// read again through its node after every step, since the code it runs may
// change it (clear it, append to it) and any allocation may move its buffer.
// break, continue, return, exit and throw pass through as pending exits:
// after each step the walk stops when one is pending.
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/function.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives_code.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/ownership.hpp"

namespace zir {
namespace natives {
namespace code {

namespace {

constexpr i32 SLOT_DO = 20;
constexpr i32 SLOT_REDUCE = 35;
constexpr i32 SLOT_COMPOSE = 36;

inline Cell* arg(i32 i) { return stack::arguments + i; }

inline bool callable_q(u32 t) {
    return t == TYPE_FUNCTION || t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_ROUTINE;
}

// The exit code a native that ran code answers: the pending break, continue,
// return or exit (for a caller that acts on it), else 0.
inline i32 exit_code() {
    u32 p = stack::pending;
    return p >= stack::THROW_EXIT && p <= stack::THROW_BREAK ? i32(p) : 0;
}

// Calls the global function of that name (a part of the library written in
// the language) in a frame of its own with the given arguments (stack cells)
// and none! for the rest; its result is pushed. While the library has not
// defined it, `internal not-done`.
void call_library(const char* name, const Cell* args, i32 n) {
    Cell word = *word::load(name);
    const Cell* value = interpreter::word_value_q(&word);
    if (!value || TYPE_OF(value) != TYPE_FUNCTION) fire(ERR_INTERNAL, "not-done");
    collector::RootCell fn(*value);
    stack::mark_func(word.w2, word.w1, fn->w1);
    for (i32 i = 0; i < n; i++) stack::push(args + i);
    interpreter::fill_frame(fn.get(), n);
    interpreter::call_function(fn.get(), 0, &word, 0);
    stack::unwind_func_last();
}

// --- do -------------------------------------------------------------------------------

// A block, paren or hash! as code: the whole of it, or with `position` (a
// word) one expression, the word then set to the block after it.
void do_block(const Cell* block, bool expand, const Cell* position) {
    Cell* code = stack::push(block);
    series::clamp_head(code);
    if (expand) {
        Cell args[3] = {*code, none::value, logic::false_value};
        Cell* held = stack::push(&args[0]);
        stack::push(&args[1]);
        stack::push(&args[2]);
        call_library("expand", held, 3);
        stack::top = code + 1;
    }
    if (!position) {
        interpreter::eval_block(code, true);
        return;
    }
    i32 after = interpreter::eval_do_next(code);
    if (stack::pending != 0) return;
    // The expression may have shortened the block: the position stays within.
    i32 n = block::cell_count(node_buffer(code->w2));
    code->w1 = u32(after < n ? after : n);
    stack::top = code + 1;
    Cell word = *position;
    context::set(&word, code);
}

void do_value(const Cell* value_in, bool expand, const Cell* script_args, const Cell* position) {
    const Cell value = *value_in;
    switch (TYPE_OF(&value)) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            do_block(value_in, expand, position);
            break;
        case TYPE_PATH: {
            interpreter::Code pc = interpreter::code_of(&value);
            interpreter::eval_path(&value, pc, interpreter::end_of(pc), false, false, false, false, nullptr);
            break;
        }
        case TYPE_STRING: {
            Cell* loaded = stack::push_slot();
            cell::init(loaded, TYPE_UNSET);
            block::load_text(value_in, loaded);
            do_block(loaded, expand, position);
            break;
        }
        case TYPE_FILE:
        case TYPE_URL: {
            Cell* args = stack::push(&value);
            stack::push(&none::value);
            stack::push(script_args);
            call_library("do-file", args, 3);
            stack::set_last(stack::top - 1);
            break;
        }
        case TYPE_ERROR:
            fire_value(&value);
        default:
            eval_single(value_in);
    }
}

// The tracer's event keeps the cell just above the top (an infix call's left
// operand when the interpreter sends it): here it is made a valid cell,
// since what lies there may be a stale copy whose series are gone.
void clear_above_top() {
    stack::push_scalar(TYPE_UNSET);
    stack::top--;
}

// Puts back the tracer state `do/trace` changed, on every way out.
struct TracerRemoval {
    ~TracerRemoval() {
        cell::init(&interpreter::tracer, TYPE_NONE);
        interpreter::tracing = interpreter::trace_allowed = false;
    }
};

// --- reduce and compose ---------------------------------------------------------------

// How values go into a target block: a new block or a target at its tail
// (appended), or a target inside (inserted at its position, which moves past
// each value).
enum class Into { append, insert };

void add(Cell* target, const Cell* value, Into mode) {
    if (mode == Into::insert) {
        Cell v = *value;
        block::insert(target, &v, nullptr, true, nullptr, false);
        return;
    }
    i32 at = block::cell_count(node_buffer(target->w2));
    block::zs_append(target, value);
    series::index_put(target, at, at + 1);
}

// The mode of an /into target (a stack cell), its head clamped; `start`
// receives its length for the report of what was appended.
Into into_mode(Cell* target, i32* start) {
    i32 n = block::cell_count(node_buffer(target->w2));
    *start = n;
    return series::clamp_head(target, n) >= n ? Into::append : Into::insert;
}

// Tells the owner of an /into target what was appended to it since `start`.
void report_appended(const Cell* target, i32 start) {
    i32 n = block::cell_count(node_buffer(target->w2));
    if (n <= start) return;
    Cell t = *target;
    ownership::check(&t, symbol::make("insert"), &t, start, n - start);
}

// When an /into target is the very block being walked, the walk goes over a
// copy of the source (`source` is a stack cell, replaced), so that what goes
// into the target does not move the cells still to be walked: the result is
// what a separate target would get.
void walk_a_copy_if_same(Cell* source, const Cell* target) {
    if (!target || target->w2 != source->w2) return;
    Cell* copy = stack::push_slot();
    cell::init(copy, TYPE_UNSET);
    series::copy(source, copy, nullptr, false, nullptr);
    *source = *copy;
    stack::top = copy;
}

// Composes the block in `source` (a stack cell) into `target` (a stack cell).
// The walk ends at the source's tail as it was on entry, or sooner when code
// shortens it: what is appended meanwhile (the target may be the source
// itself) is not walked again.
void compose_block(Cell* source, Cell* target, bool deep, bool only, Into mode) {
    const i32 tail = block::cell_count(node_buffer(source->w2));
    for (i32 i = series::head_index(source);; i++) {
        SeriesBuffer* s = node_buffer(source->w2);
        if (i >= tail || i >= block::cell_count(s)) break;
        const Cell c = series::head_cells(s)[i];
        switch (TYPE_OF(&c)) {
            case TYPE_BLOCK:
                if (deep) {
                    Cell* inner = stack::push(&c);
                    Cell* made = stack::push_slot();
                    cell::init(made, TYPE_UNSET);
                    block::make_at(made, series::rest_length(inner));
                    compose_block(inner, made, true, only, Into::append);
                    if (stack::pending != 0) return;
                    add(target, made, mode);
                    stack::top = inner;
                } else {
                    add(target, &c, mode);
                }
                break;
            case TYPE_PAREN: {
                if (series::rest_length(&c) <= 0) break;
                Cell* result = stack::top;
                interpreter::eval_block(&c, false);
                if (stack::pending != 0) return;
                u32 t = TYPE_OF(result);
                if (t == TYPE_UNSET) {
                } else if (t != TYPE_BLOCK || only) {
                    add(target, result, mode);
                } else {
                    series::clamp_head(result);
                    // The target itself (an /into target the paren answers)
                    // is spliced from a copy: the walk over it would meet
                    // the cells it adds, and never end.
                    if (result->w2 == target->w2) {
                        Cell* copy = stack::push_slot();
                        cell::init(copy, TYPE_UNSET);
                        series::copy(result, copy, nullptr, false, nullptr);
                        *result = *copy;
                        stack::top = result + 1;
                    }
                    for (i32 k = series::head_index(result); k < block::cell_count(node_buffer(result->w2)); k++) {
                        const Cell e = *block::cell_at(result->w2, k);
                        add(target, &e, mode);
                    }
                }
                stack::top = result;
                break;
            }
            default:
                add(target, &c, mode);
        }
    }
}

}  // namespace

void eval_single(const Cell* value) {
    Cell* code = stack::push_slot();
    cell::init(code, TYPE_UNSET);
    block::make_at(code, 1);
    block::zs_append(code, value);
    interpreter::eval_block(code, true);
}

// do value /expand /args arg /next position /trace callback
i32 do_(i32 check, const i32* r) {
    if (check) check_args(SLOT_DO, r);
    bool expand = r[0] >= 0;
    const Cell* script_args = r[1] >= 0 ? arg(r[1]) : &none::value;
    const Cell* position = r[2] >= 0 ? arg(r[2]) : nullptr;
    Cell* value = arg(0);
    // Nested do/trace calls run under the tracer installed first.
    if (r[3] < 0 || interpreter::trace_allowed) {
        do_value(value, expand, script_args, position);
        return exit_code();
    }
    stack::Checkpoint entry;
    TracerRemoval removal;
    clear_above_top();
    interpreter::start_tracing(arg(r[3]));
    try {
        do_value(value, expand, script_args, position);
    } catch (...) {
        // The tracer hears the end with the stacks as they were here.
        entry.restore();
        clear_above_top();
        interpreter::trace_end();
        throw;
    }
    {
        stack::KeepTop keep;
        stack::top = stack::arguments + 1;
        clear_above_top();
        interpreter::trace_end();
    }
    return exit_code();
}

// reduce value /into out
i32 reduce(i32 check, const i32* r) {
    if (check) check_args(SLOT_REDUCE, r);
    Cell* out = r[0] >= 0 ? arg(r[0]) : nullptr;
    i32 start = 0;
    Into mode = out ? into_mode(out, &start) : Into::append;
    if (TYPE_OF(arg(0)) != TYPE_BLOCK) {
        if (!callable_q(TYPE_OF(arg(0)))) {
            const Cell value = *arg(0);
            Cell* held = stack::push(&value);
            eval_single(held);
            if (stack::pending != 0) return exit_code();
        }
        if (out) {
            add(out, arg(0), mode);
            if (mode == Into::append) report_appended(out, start);
            stack::set_last(out);
        }
        stack::keep();
        return 0;
    }
    Cell* source = stack::push(arg(0));
    series::clamp_head(source);
    walk_a_copy_if_same(source, out);
    const i32 tail = block::cell_count(node_buffer(source->w2));
    stack::mark_body(u32(stack::body_symbol), 0);
    Cell* target = stack::push_slot();
    if (out) {
        *target = *out;
    } else {
        cell::init(target, TYPE_UNSET);
        block::make_at(target, tail - series::head_index(source));
    }
    for (i32 p = series::head_index(source);;) {
        i32 now = block::cell_count(node_buffer(source->w2));
        if (p >= (tail < now ? tail : now)) break;
        p = interpreter::eval_next(source, p, tail, true);
        if (stack::pending != 0) break;
        Cell* value = stack::top - 1;
        value->header &= ~FLAG_NEW_LINE;
        add(target, value, mode);
        stack::top = value;
    }
    if (out && mode == Into::append && stack::pending == 0) report_appended(target, start);
    stack::unwind_set_last();
    return exit_code();
}

// compose value /deep /only /into out
i32 compose(i32 check, const i32* r) {
    if (check) check_args(SLOT_COMPOSE, r);
    if (TYPE_OF(arg(0)) != TYPE_BLOCK) {
        Cell expected, got;
        datatype::make_at(&expected, TYPE_BLOCK);
        datatype::make_at(&got, TYPE_OF(arg(0)));
        fire(ERR_SCRIPT, "expect-val", &expected, &got);
    }
    bool deep = r[0] >= 0, only = r[1] >= 0;
    Cell* out = r[2] >= 0 ? arg(r[2]) : nullptr;
    Cell* source = stack::push(arg(0));
    series::clamp_head(source);
    walk_a_copy_if_same(source, out);
    Cell* target = stack::push_slot();
    i32 start = 0;
    Into mode = Into::append;
    if (out) {
        *target = *out;
        mode = into_mode(target, &start);
    } else {
        cell::init(target, TYPE_UNSET);
        block::make_at(target, series::rest_length(source));
    }
    compose_block(source, target, deep, only, mode);
    if (stack::pending != 0) return exit_code();
    if (out && mode == Into::append) report_appended(target, start);
    stack::set_last(target);
    stack::keep();
    return 0;
}

}  // namespace code
}  // namespace natives
}  // namespace zir
