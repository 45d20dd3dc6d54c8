// Value stack and call stack: see stack.hpp.
#include "evaluator/stack.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace stack {

Cell* bottom = nullptr;
Cell* top = nullptr;
Cell* arguments = nullptr;
Cell* limit = nullptr;
Frame* call_bottom = nullptr;
Frame* call_top = nullptr;
Frame* call_limit = nullptr;
Frame* saved_call_top = nullptr;
i32 body_symbol = 0;
i32 anon_symbol = 0;

u32 pending = 0;
Frame* pending_target = nullptr;
Cell pending_value = {TYPE_UNSET, 0, 0, 0};
Cell pending_name = {TYPE_UNSET, 0, 0, 0};

namespace {

u32 value_node = 0;
u32 call_node = 0;
i32 not_found_symbol = 0;

// An overflow leaves a little room for the error's own work.
constexpr i32 OVERFLOW_RELIEF = 5;

void mark_stacks() { mark_roots(); }

inline void restore_values(const Frame* f) {
    if ((f->flags & FRAME_KIND_MASK) == FRAME_FUNCTION && f->callee_context)
        context::cell_of(f->callee_context)->w2 = f->saved_values;
}

inline void write_frame(const Frame& f) {
    if (ZIR_UNLIKELY(call_top >= call_limit)) overflow();
    *call_top++ = f;
    arguments = top;
}

}  // namespace

void init() {
    if (!value_node) collector::register_(mark_stacks);
    value_node = memory::alloc_fixed_series(VALUE_CELLS, 16, 0);
    call_node = memory::alloc_fixed_series(i64(CALL_FRAMES) * sizeof(Frame) / 16, 16, 0);
    bottom = top = arguments = reinterpret_cast<Cell*>(series::data(node_buffer(value_node)));
    limit = bottom + VALUE_CELLS;
    call_bottom = call_top = reinterpret_cast<Frame*>(series::data(node_buffer(call_node)));
    call_limit = call_bottom + CALL_FRAMES;
    saved_call_top = nullptr;
    pending = 0;
    pending_target = nullptr;
    cell::init(&pending_value, TYPE_UNSET);
    cell::init(&pending_name, TYPE_UNSET);
    body_symbol = symbol::make("<body>");
    anon_symbol = symbol::make("<anon>");
    not_found_symbol = symbol::make("<not-found>");
}

void overflow() {
    top = (top - bottom) > OVERFLOW_RELIEF ? top - OVERFLOW_RELIEF : bottom;
    cycles::reset();
    fire(ERR_INTERNAL, "stack-overflow");
}

void keep_error() {
    if (top > arguments && TYPE_OF(top - 1) == TYPE_ERROR) *arguments = top[-1];
    top = arguments + 1;
}

// --- Opening frames ------------------------------------------------------------

void mark_named(const Cell* name, u32 flags) {
    if (any_word_q(TYPE_OF(name))) mark(name->w2, name->w1, flags);
    else mark(u32(anon_symbol), 0, flags);
}

void mark_eval_block(u32 symbol, u32 code) {
    write_frame(Frame{FLAGS_EVAL_BLOCK, symbol, arguments, 0, 0, {0}, code});
}

void mark_func(u32 symbol, u32 word_context, u32 context) {
    u32 saved = context ? context::cell_of(context)->w2 : 0;
    write_frame(Frame{FRAME_FUNCTION, symbol, arguments, word_context, context, {saved}, 0});
}

void mark_func_ctx(u32 symbol, u32 word_context, u32 context) {
    Cell* ctx = context::cell_of(context);
    u32 saved = ctx->w2;
    // The frame is a function frame for the unwinders (they give the values
    // back), a native one with a return boundary for everything else.
    write_frame(Frame{FRAME_FUNCTION | FRAME_RETURN_BOUNDARY, symbol, arguments, word_context, context, {saved}, 0});
    context::set_stack_values(context::cell_of(context), call_top[-1].arguments);
}

// --- Frame flags -----------------------------------------------------------------

void set_flag(bool on) {
    if (Frame* f = top_frame()) {
        if (on) f->flags |= FRAME_RETURN_BOUNDARY;
        else f->flags &= ~FRAME_RETURN_BOUNDARY;
    }
}

void set_break_flag() {
    if (Frame* f = top_frame()) f->flags |= FRAME_INTERPRETED;
}

bool set_flag_below() {
    if (call_top - call_bottom < 2) return false;
    Frame* f = call_top - 2;
    if (f->flags & FRAME_RETURN_BOUNDARY) return false;
    f->flags |= FRAME_RETURN_BOUNDARY;
    return true;
}

void rename_top(const Cell* word) {
    if (TYPE_OF(word) != TYPE_WORD) return;
    Frame* from = saved_call_top ? saved_call_top : call_top;
    if (from <= call_bottom) return;
    from[-1].symbol = word->w2;
    from[-1].word_context = word->w1;
}

// --- Closing frames ------------------------------------------------------------

void unwind() {
    if (call_top == call_bottom) {
        arguments = top = bottom;
        return;
    }
    Frame* f = --call_top;
    restore_values(f);
    top = arguments;
    arguments = f->arguments;
    if (call_top == call_bottom) arguments = top = bottom;
}

void unwind_drop() {
    Cell* old_top = top;
    unwind();
    top = old_top - 1 > bottom ? old_top - 1 : bottom;
}

void unwind_func_last() {
    Frame* f = --call_top;
    restore_values(f);
    top = arguments + 1;
    arguments = f->arguments;
}

void unwind_func() {
    Frame* f = --call_top;
    restore_values(f);
    arguments = f->arguments;
    top = arguments;
}

void unwind_no_result() {
    Frame* f = --call_top;
    arguments = f->arguments;
    top = arguments;
}

void unwind_func_set_last() {
    Cell* result = arguments;
    unwind_func_last();
    *arguments = *result;
}

namespace {

// Pops frames until one of the kind, a barrier or the bottom frame is the
// newest; answers that frame's own arguments (the current ones when nothing
// was popped).
Cell* pop_until(u32 kind) {
    Cell* own = arguments;
    while (call_top - 1 > call_bottom) {
        Frame* f = call_top - 1;
        u32 k = kind_of(f);
        if (k == kind || k == FRAME_BARRIER) break;
        restore_values(f);
        own = f->arguments;
        call_top--;
    }
    return own;
}

}  // namespace

void unroll(u32 kind, bool keep) {
    Cell* old = arguments;
    if (call_top == call_bottom) {
        arguments = top = bottom;
        return;
    }
    Cell* own = pop_until(kind);
    arguments = keep ? own : call_top[-1].arguments;
    top = old + 1;
}

void unroll_last(u32 kind) {
    Cell result = *arguments;
    arguments = call_top == call_bottom ? bottom : pop_until(kind);
    *arguments = result;
    top = arguments + 1;
}

void unroll_to(Frame* target) {
    while (call_top > target) restore_values(--call_top);
}

void Checkpoint::restore() const {
    unroll_to(call_top);
    stack::arguments = arguments;
    stack::top = top;
}

// --- Walkers ---------------------------------------------------------------------

void frame_word(const Frame* f, Cell* out) {
    // The frame's word as it is bound in the context it was found in.
    u32 sym = f->symbol, ctx = f->word_context;
    *out = *word::find_or_global(ctx, i32(sym));
    out->header &= ~FLAG_NEW_LINE;
}

void caller_name(Cell* out) {
    Frame* f = saved_call_top ? saved_call_top : call_top;
    saved_call_top = nullptr;
    while (f > call_bottom) {
        --f;
        if (!anonymous_q(f)) {
            frame_word(f, out);
            return;
        }
    }
    *out = *word::find_or_global(0, not_found_symbol);
}

void collect_calls(Cell* block) {
    // Frames never move; the words found may allocate, so each is copied out
    // before it is appended.
    for (Frame* f = call_top - 1; f > call_bottom; f--) {
        if (anonymous_q(f)) continue;
        Cell w;
        frame_word(f, &w);
        block::zs_append(block, &w);
        Cell n;
        cell::init(&n, TYPE_INTEGER);
        n.w2 = u32(f->arguments - bottom);
        block::zs_append(block, &n);
    }
}

namespace {

// Whether a frame counts for the call traces: a named frame whose word has a
// function! value, or any value above level 1.
bool traced_q(const Frame* f, i32 level, Cell* word) {
    if (anonymous_q(f)) return false;
    frame_word(f, word);
    if (level > 1) return true;
    u32 ctx = word->w1;
    i32 slot = i32(word->w3);
    if (!ctx || slot < 0) return false;
    const Cell* c = context::cell_of(ctx);
    const Cell* value;
    if (c->header & context::ON_STACK) {
        const Cell* first = context::stack_values(c);
        if (!first) return false;
        value = first + slot;
    } else {
        SeriesBuffer* values = node_buffer(c->w2);
        if (slot >= series::length_of(values)) return false;
        value = series::head_cells(values) + slot;
    }
    return TYPE_OF(value) == TYPE_FUNCTION;
}

}  // namespace

void trace_calls(i32 level, Cell* block, const Frame* end) {
    if (!end || end > call_top) end = call_top;
    for (const Frame* f = call_bottom; f < end; f++) {
        Cell w;
        if (traced_q(f, level, &w)) block::zs_append(block, &w);
    }
}

i32 form_calls(i32 level, const Frame* end, Cell* string, i32 part) {
    if (!end || end > call_top) end = call_top;
    for (const Frame* f = call_bottom; f < end; f++) {
        Cell w;
        if (!traced_q(f, level, &w)) continue;
        part = actions::form(&w, string, nullptr, part);
        string::append_char(string, ' ');
        part--;
    }
    return part;
}

void record_position(Cell* error) {
    Cell* field = error::field(error, error::FIELD_STACK);
    if (TYPE_OF(field) == TYPE_BLOCK) return;
    cell::init(field, TYPE_INTEGER);
    field->w2 = u32(call_top - call_bottom);
}

bool eval_q(const Frame* from, bool first_only) {
    const Frame* f = from ? from : call_top;
    while (f > call_bottom) {
        --f;
        if (f->flags & FRAME_INTERPRETED) return true;
        if (first_only) return false;
    }
    return false;
}

void mark_roots() {
    if (!bottom) return;
    collector::mark_values(bottom, top);
    collector::mark_values(&pending_value, &pending_value + 1);
    collector::mark_values(&pending_name, &pending_name + 1);
    for (Frame* f = call_bottom; f < call_top; f++) {
        collector::mark_context(f->word_context);
        if (f->code) collector::mark_block(f->code);
        if (f->callee_context) {
            collector::mark_context(f->callee_context);
            // Unwinding restores the saved values block: it lives while the frame
            // does. A context whose values are on the value stack saves a
            // position there instead, which the stack's own cells cover.
            if (f->saved_values && !(context::cell_of(f->callee_context)->header & context::ON_STACK))
                collector::mark_block(f->saved_values);
        }
    }
}

// --- Non-local exits ---------------------------------------------------------------

namespace {

// The newest frame the search starts from: the caller's own frame is skipped.
Frame* search_start(bool skip_own) {
    Frame* f = call_top;
    if (skip_own && f > call_bottom) f--;
    return f;
}

// The nearest frame below `from` for which `receives` holds; a barrier met
// first, or none found, answers null.
template <typename Receives>
Frame* find_receiver(Frame* from, Receives receives) {
    for (Frame* f = from; f > call_bottom;) {
        --f;
        if (receives(f)) return f;
        if (kind_of(f) == FRAME_BARRIER) return nullptr;
    }
    return nullptr;
}

void set_pending(u32 code, Frame* target, const Cell* value, const Cell* name) {
    pending_value = value ? *value : unset::value;
    pending_name = name ? *name : unset::value;
    pending_value.header &= ~FLAG_NEW_LINE;
    pending_target = target;
    pending = code;
}

Frame* find_catch(const Frame* from, const Cell* value) {
    Frame* f = find_receiver(const_cast<Frame*>(from), [](const Frame* g) { return kind_of(g) == FRAME_CATCH; });
    if (!f) {
        const Cell v = *value;
        fire(ERR_THROW, "throw", &v);
    }
    return f;
}

}  // namespace

Frame* loop_target() {
    return find_receiver(search_start(false), [](const Frame* g) { return kind_of(g) == FRAME_LOOP; });
}

Frame* return_target() {
    return find_receiver(search_start(false),
                         [](const Frame* g) { return (g->flags & FRAME_RETURN_BOUNDARY) != 0; });
}

void set_exit(u32 code, Frame* target, const Cell* value) { set_pending(code, target, value, nullptr); }

void throw_break(bool with_value, bool continue_) {
    Frame* f = find_receiver(search_start(true), [](const Frame* g) { return kind_of(g) == FRAME_LOOP; });
    if (!f) fire(ERR_THROW, continue_ ? "continue" : "break");
    set_pending(continue_ ? THROW_CONTINUE : THROW_BREAK, f, with_value && !continue_ ? arguments : nullptr,
                nullptr);
}

void throw_return(bool with_value, bool no_own_frame) {
    Frame* f = find_receiver(search_start(!no_own_frame),
                             [](const Frame* g) { return (g->flags & FRAME_RETURN_BOUNDARY) != 0; });
    if (!f) fire(ERR_THROW, "return");
    set_pending(with_value ? THROW_RETURN : THROW_EXIT, f, with_value ? arguments : nullptr, nullptr);
}

void throw_(u32 code) {
    Frame* f = find_catch(search_start(true), arguments);
    set_pending(code, f, arguments, arguments + 1);
}

void throw_on(const Frame* from) {
    u32 code = pending;
    Cell value = pending_value, name = pending_name;
    take_pending();
    Frame* f = find_catch(from, &value);
    set_pending(code, f, &value, &name);
}

}  // namespace stack
}  // namespace zir
