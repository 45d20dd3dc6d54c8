// Value stack and call stack.
//
// Every call passes its arguments and its result as cells on one value stack:
// `arguments` is the current call's first argument cell, which is also its
// result cell; `top` is the next free cell. Every call records itself on the
// call stack as a frame: its kind, the symbol of the word that names it, the
// caller's `arguments`, the context of the naming word, and for function
// frames the callee's context and that context's saved values position.
//
// Both stacks are fixed series allocated once: they never move, so cell
// pointers into them stay valid for the life of the process.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace stack {

constexpr i32 VALUE_CELLS = 20000;
constexpr i32 CALL_FRAMES = 12000;
// A push that would leave fewer free cells than this is an overflow.
constexpr i32 OVERFLOW_MARGIN = 1;

// Frame kinds (bits 0..3 of the frame flags) and flag bits.
enum FrameKind : u32 {
    FRAME_FUNCTION = 1,
    FRAME_NATIVE = 2,
    FRAME_TRY = 4,
    FRAME_BARRIER = 5,
    FRAME_CATCH = 6,
    FRAME_EVAL_BLOCK = 7,
    FRAME_LOOP = 8,
    FRAME_KIND_9 = 9,
};
constexpr u32 FRAME_KIND_MASK = 0xF;
constexpr u32 FRAME_RETURN_BOUNDARY = 0x10;   // compiled function: target of return
constexpr u32 FRAME_INTERPRETED = 0x80;       // opened by the interpreter

struct Frame {
    u32 flags;          // kind and flag bits
    u32 symbol;         // symbol id of the word naming the call
    Cell* arguments;    // the caller's `arguments`
    u32 word_context;   // context of the naming word, 0 when unbound
    u32 callee_context; // function frames: the callee's context, else 0
    u32 saved_values;   // function frames: the context's saved values word
    u32 pad;
};

extern Cell* bottom;
extern Cell* top;
extern Cell* arguments;
extern Cell* limit;
extern Frame* call_bottom;
extern Frame* call_top;
extern Frame* call_limit;
extern Frame* saved_call_top;   // shared by throw and the caller-name walker; null when unused

void init();

[[noreturn]] void overflow();

inline Cell* push_slot() {
    if (ZIR_UNLIKELY(top + OVERFLOW_MARGIN >= limit)) overflow();
    return top++;
}
inline Cell* push(const Cell* value) {
    Cell* c = push_slot();
    *c = *value;
    return c;
}
// A cell of `type` whose only payload is word 1 (unset!, none!, logic!,
// datatype!), pushed or written as the result of the current call.
inline Cell* push_scalar(u32 type, u32 w1 = 0) {
    Cell* c = push_slot();
    cell::init(c, type);
    c->w1 = w1;
    return c;
}
inline Cell* box_scalar(u32 type, u32 w1 = 0) {
    cell::init(arguments, type);
    arguments->w1 = w1;
    return arguments;
}
inline void pop(i32 n) { top = (top - bottom) > n ? top - n : bottom; }
inline Cell* reset() { return top = arguments; }
inline Cell* keep() { return top = arguments + 1; }
inline void set_last(const Cell* value) { *arguments = *value; }
inline void set_last_top(const Cell* value) {
    *arguments = *value;
    top = arguments + 1;
}
// The last pushed cell (the bottom cell when the stack is empty).
inline Cell* top_cell() { return top > bottom ? top - 1 : bottom; }
inline u32 top_type() { return TYPE_OF(top - 1); }

// Gives `top` back on every way out of a scope (errors included): for code
// that pushes working cells.
struct KeepTop {
    Cell* saved = top;
    ~KeepTop() { top = saved; }
};

// --- Frames ---------------------------------------------------------------

void mark(u32 symbol, u32 word_context, u32 flags);
inline void mark_native(u32 symbol) { mark(symbol, 0, FRAME_NATIVE); }
void mark_func(u32 symbol, u32 word_context, u32 context);
void mark_try(u32 symbol);
void mark_loop(u32 symbol);

void unwind();
void unwind_last();
void unwind_func_last();
void unwind_set_last();

// The word of the nearest frame not named <body> or <anon>, or <not-found>:
// the word of that spelling in the frame's word context, or else the global
// word (added when absent), is copied into `out`.
void caller_name(Cell* out);

// The collector's root: the cells in use and the contexts the frames name.
void mark_roots();

}  // namespace stack
}  // namespace zir
