// Value stack and call stack: see stack.hpp.
#include "evaluator/stack.hpp"

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
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

namespace {

u32 value_node = 0;
u32 call_node = 0;
i32 body_symbol = 0;
i32 anon_symbol = 0;
i32 not_found_symbol = 0;

// An overflow leaves a little room for the error's own work.
constexpr i32 OVERFLOW_RELIEF = 5;

void mark_stacks() { mark_roots(); }

inline void restore_values(const Frame* f) {
    if ((f->flags & FRAME_KIND_MASK) == FRAME_FUNCTION && f->callee_context)
        context::cell_of(f->callee_context)->w2 = f->saved_values;
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
    body_symbol = symbol::make("<body>");
    anon_symbol = symbol::make("<anon>");
    not_found_symbol = symbol::make("<not-found>");
}

void overflow() {
    top = (top - bottom) > OVERFLOW_RELIEF ? top - OVERFLOW_RELIEF : bottom;
    cycles::reset();
    fire(ERR_INTERNAL, "stack-overflow");
}

void mark(u32 symbol, u32 word_context, u32 flags) {
    if (ZIR_UNLIKELY(call_top >= call_limit)) overflow();
    *call_top++ = Frame{flags, symbol, arguments, word_context, 0, 0, 0};
    arguments = top;
}

void mark_func(u32 symbol, u32 word_context, u32 context) {
    if (ZIR_UNLIKELY(call_top >= call_limit)) overflow();
    u32 saved = context ? context::cell_of(context)->w2 : 0;
    *call_top++ = Frame{FRAME_FUNCTION, symbol, arguments, word_context, context, saved, 0};
    arguments = top;
}

void mark_try(u32 symbol) { mark(symbol, 0, FRAME_TRY); }
void mark_loop(u32 symbol) { mark(symbol, 0, FRAME_LOOP); }

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

void unwind_last() {
    Frame* f = --call_top;
    top = arguments + 1;
    arguments = f->arguments;
}

void unwind_func_last() {
    Frame* f = --call_top;
    restore_values(f);
    top = arguments + 1;
    arguments = f->arguments;
}

void unwind_set_last() {
    Cell* result = arguments;
    unwind_last();
    *arguments = *result;
}

void caller_name(Cell* out) {
    Frame* f = saved_call_top ? saved_call_top : call_top;
    saved_call_top = nullptr;
    u32 sym = u32(not_found_symbol);
    u32 ctx = 0;
    while (f > call_bottom) {
        --f;
        if (f->symbol != u32(body_symbol) && f->symbol != u32(anon_symbol)) {
            sym = f->symbol;
            ctx = f->word_context;
            break;
        }
    }
    // The frame's word as it is bound in the context it was found in.
    *out = *word::find_or_global(ctx, i32(sym));
}

void mark_roots() {
    if (!bottom) return;
    collector::mark_values(bottom, top);
    for (Frame* f = call_bottom; f < call_top; f++) {
        collector::mark_context(f->word_context);
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

}  // namespace stack
}  // namespace zir
