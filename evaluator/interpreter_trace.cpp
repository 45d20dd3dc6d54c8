// Interpreter trace events: the interpreter reports what it does to a tracer,
// a function! of the language installed by `do/trace` (the library's
// debugger, tracer and profiler are built on it).
//
// Every event site tests `tracing` first, so tracing costs one test of a
// flag while it is off. The tracer receives six arguments: the event word,
// the code (or none!), the offset of the position in the code (-1 outside
// it), the value, a reference (for set, prolog, epilog, call and return) and
// the frame as a pair! of value-stack positions (the caller's arguments and
// the top). It runs in a frame of its own with tracing off, so its own
// evaluation sends nothing; an error it raises goes on from the traced code.
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace interpreter {

bool tracing = false;
bool trace_allowed = false;
Cell tracer = {TYPE_NONE, 0, 0, 0};
u32 trace_mask = ALL_EVENTS;
i32 tracer_locals = 0;
i32 (*callback_bits)() = nullptr;

namespace {

constexpr i32 EVENTS = 16;
const char* const event_names[EVENTS] = {"init", "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
                                         "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};
// The global words of the events, by bit position; the global context keeps
// what they refer to.
Cell event_words[EVENTS];
i32 event_symbols[EVENTS];
i32 callback_symbol = 0;

inline i32 bit_index(u32 event) { return __builtin_ctz(event); }

// The events whose reference the tracer receives.
constexpr u32 WITH_REFERENCE = EVENT_SET | EVENT_EPILOG | EVENT_PROLOG | EVENT_RETURN | EVENT_CALL;

// Puts tracing back on after the tracer ran.
struct TracingOff {
    bool saved = tracing;
    TracingOff() { tracing = false; }
    ~TracingOff() { tracing = saved; }
};

}  // namespace

void init_trace() {
    for (i32 i = 0; i < EVENTS; i++) {
        event_symbols[i] = symbol::make(event_names[i]);
        event_words[i] = *word::from_symbol(event_symbols[i]);
    }
    callback_symbol = symbol::make("<interp-callback>");
}

u32 trace_mask_of(const Cell* fn) {
    if (TYPE_OF(fn) != TYPE_FUNCTION) return ALL_EVENTS;
    const Cell body = *function::record_cell(fn, function::RECORD_BODY);
    if (TYPE_OF(&body) != TYPE_BLOCK || block::zs_length_q(&body) < 1) return ALL_EVENTS;
    const Cell first = *block::cell_at(body.w2, body.w1);
    if (TYPE_OF(&first) != TYPE_BLOCK) return ALL_EVENTS;
    u32 mask = 0;
    for (i32 i = i32(first.w1); i < block::cell_count(node_buffer(first.w2)); i++) {
        const Cell* item = block::cell_at(first.w2, i);
        if (TYPE_OF(item) != TYPE_WORD) continue;
        i32 sym = symbol::resolve(i32(item->w2));
        for (i32 e = 0; e < EVENTS; e++)
            if (symbol::resolve(event_symbols[e]) == sym) mask |= 1u << e;
    }
    return mask;
}

void trace_event(u32 event, const Code* code, i32 position, const Cell* reference, const Cell* value) {
    if (!(trace_mask & event) || TYPE_OF(&tracer) != TYPE_FUNCTION) return;
    // Copies first: the cells given may lie in buffers the calls below move.
    Cell ref = reference && (event & WITH_REFERENCE) ? *reference : none::value;
    Cell val = value ? *value : none::value;
    Cell code_cell = none::value;
    // A fresh cell: make_at keeps the flags of the header it is given.
    Cell offset;
    cell::init(&offset, TYPE_INTEGER);
    offset.w2 = u32(-1);
    if (code) {
        code_value(*code, &code_cell);
        if (position >= code->head && position <= code->tail) offset.w2 = u32(position - code->head);
    }
    Cell* saved_arguments = stack::arguments;
    Cell* saved_top = stack::top;
    stack::Frame* saved_call = stack::call_top;
    Cell frame;
    cell::init(&frame, TYPE_PAIR);
    frame.w2 = u32(saved_arguments - stack::bottom);
    frame.w3 = u32(saved_top - stack::bottom);
    // The cell at the top is kept when it is the value reported (a call's
    // result, not yet moved down); otherwise it is whatever was last there,
    // maybe referring to a series already given back, and is cleared before
    // the tracer's frame makes it a root.
    Cell* kept = stack::push_slot();
    if (kept != value) cell::init(kept, TYPE_UNSET);
    collector::RootCell fn(tracer);
    stack::mark_func(u32(callback_symbol), 0, fn->w1);
    stack::push(&event_words[bit_index(event)]);
    stack::push(&code_cell);
    stack::push(&offset);
    stack::push(&val);
    stack::push(&ref);
    stack::push(&frame);
    fill_frame(fn.get(), 6);
    // The tracer runs with no exit pending (an epilog's return, say); the
    // one set aside goes on afterwards.
    u32 exit_code = stack::pending;
    stack::Frame* exit_target = stack::pending_target;
    collector::RootCell exit_value(stack::pending_value);
    collector::RootCell exit_name(stack::pending_name);
    stack::pending = 0;
    {
        TracingOff off;
        const Cell* owner = function::record_cell(fn.get(), function::RECORD_OWNER);
        u32 owner_ctx = TYPE_OF(owner) == TYPE_OBJECT ? owner->w1 : context::global;
        Cell name = event_words[bit_index(event)];
        call_function(fn.get(), owner_ctx, &name, 0);
    }
    stack::unwind_func_last();
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    stack::call_top = saved_call;
    // An exit the tracer left (a break out of the traced code) goes on
    // instead of the one set aside.
    stack::raise_pending();
    stack::pending = exit_code;
    stack::pending_target = exit_target;
    stack::pending_value = exit_value.value;
    stack::pending_name = exit_name.value;
}

void start_tracing(const Cell* tracer_fn) {
    tracer = *tracer_fn;
    tracer_locals = function::count_locals(tracer.w2, 0, false);
    trace_mask = trace_mask_of(&tracer);
    tracing = trace_allowed = true;
    trace_init();
}

void stop_tracing() {
    trace_end();
    cell::init(&tracer, TYPE_NONE);
    tracing = trace_allowed = false;
}

void trace_init() {
    if (tracing) trace_event(EVENT_INIT, nullptr, 0, nullptr, nullptr);
}

void trace_end() {
    if (tracing) trace_event(EVENT_END, nullptr, 0, nullptr, nullptr);
}

void trace_throw() {
    if (tracing) trace_event(EVENT_THROW, nullptr, 0, nullptr, stack::arguments);
}

void trace_catch() {
    if (tracing) trace_event(EVENT_CATCH, nullptr, 0, nullptr, stack::arguments);
}

void trace_call(const Cell* reference, const Cell* value) {
    if (tracing) trace_event(EVENT_CALL, nullptr, 0, reference, value);
}

void trace_return(const Cell* reference) {
    if (tracing) trace_event(EVENT_RETURN, nullptr, 0, reference, stack::arguments);
}

}  // namespace interpreter
}  // namespace zir
