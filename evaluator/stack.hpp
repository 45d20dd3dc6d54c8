// Value stack and call stack, and the non-local exits that travel over them.
//
// Every call passes its arguments and its result as cells on one value stack:
// `arguments` is the current call's first argument cell, which is also its
// result cell; `top` is the next free cell. Every call records itself on the
// call stack as a frame: its kind, the symbol of the word that names it, the
// caller's `arguments`, the context of the naming word, for function frames
// the callee's context and that context's saved values position, and for the
// frames the interpreter opens around a block the node of the series it walks.
//
// Both stacks are fixed series allocated once: they never move, so cell and
// frame pointers into them stay valid for the life of the process.
//
// Non-local exits. Language errors travel as C++ exceptions (runtime/fire.hpp):
// they are rare. break, continue, return, exit and throw are frequent (they sit
// in loops and function bodies), so they travel as a pending exit instead: the
// thrower finds the frame that will receive the exit (a loop frame, a frame
// marked as a return boundary, a catch frame), raises the language error when
// a barrier or the bottom comes first, records the code, the target frame and
// the value, and returns normally. Every evaluation loop tests `pending` after
// each step and returns at once, each level closing its own frames as it
// would on a normal return; the level that opened the target frame takes the
// exit (`take_pending`). The search comes first, so an exit that nothing
// would receive is an error raised where it happens, with the stacks intact.
//
// C++ code that calls language code back (a sort comparator, a change handler,
// a port actor) cannot stop half-way on its own: after such a call it raises
// the pending exit as a `PendingExit` exception (`raise_pending`), which
// leaves the C++ levels like an error; the innermost expression being
// evaluated catches it, cuts the stacks back to where it began (`Checkpoint`)
// and carries the exit on as pending. A native that opens a frame receiving
// exits (a loop, a catch) and itself calls C++ code that may call language
// code back must catch PendingExit there: once its frame is gone, nothing
// can receive the exit (runtime error 95).
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
constexpr u32 FRAME_RETURN_BOUNDARY = 0x10;   // the target of return and exit
constexpr u32 FRAME_USER_CODE = 0x20;         // walks user code: its position is where errors are near
constexpr u32 FRAME_INTERPRETED = 0x80;       // opened by the interpreter

// The flags each opener writes.
constexpr u32 FLAGS_BODY = FRAME_NATIVE | FRAME_INTERPRETED;
constexpr u32 FLAGS_CALL = FRAME_FUNCTION | FRAME_INTERPRETED;
constexpr u32 FLAGS_FUNC_CTX = FRAME_NATIVE | FRAME_RETURN_BOUNDARY;
constexpr u32 FLAGS_EVAL_BLOCK = FRAME_EVAL_BLOCK | FRAME_INTERPRETED;

struct Frame {
    u32 flags;          // kind and flag bits
    u32 symbol;         // symbol id of the word naming the call
    Cell* arguments;    // the caller's `arguments`
    u32 word_context;   // context of the naming word, 0 when unbound
    u32 callee_context; // function frames: the callee's context, else 0
    union {
        u32 saved_values;   // function frames: the context's saved values word
        u32 position;       // frames with FRAME_USER_CODE: the expression being evaluated
    };
    u32 code;           // the series the interpreter walks in this frame, or 0
};

inline u32 kind_of(const Frame* f) { return f->flags & FRAME_KIND_MASK; }

extern Cell* bottom;
extern Cell* top;
extern Cell* arguments;
extern Cell* limit;
extern Frame* call_bottom;
extern Frame* call_top;
extern Frame* call_limit;
extern Frame* saved_call_top;   // shared by throw and the caller-name walker; null when unused

// Symbols of the anonymous frame names, taken at `init`.
extern i32 body_symbol;
extern i32 anon_symbol;

void init();

[[noreturn]] void overflow();

// --- The value stack ---------------------------------------------------------

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
// Drops the top cell into the cell below it.
inline void pop_into() {
    top--;
    top[-1] = *top;
}
// An error! on top becomes the result; only the result cell is kept.
void keep_error();
// The last pushed cell (the bottom cell when the stack is empty).
inline Cell* top_cell() { return top > bottom ? top - 1 : bottom; }
inline u32 top_type() { return TYPE_OF(top - 1); }

// Gives `top` back on every way out of a scope (errors included): for code
// that pushes working cells.
struct KeepTop {
    Cell* saved = top;
    ~KeepTop() { top = saved; }
};

// --- Opening frames ------------------------------------------------------------

// Writes a frame of the given flags named by a symbol and the context of the
// naming word; the callee's cells then start at the current top.
inline void mark(u32 symbol, u32 word_context, u32 flags) {
    if (ZIR_UNLIKELY(call_top >= call_limit)) overflow();
    *call_top++ = Frame{flags, symbol, arguments, word_context, 0, {0}, 0};
    arguments = top;
}
// The same named by a word cell (any word type); any other value names the
// frame <anon>.
void mark_named(const Cell* name, u32 flags);
inline void mark_native(u32 symbol) { mark(symbol, 0, FRAME_NATIVE); }
inline void mark_body(u32 symbol, u32 word_context) { mark(symbol, word_context, FLAGS_BODY); }
inline void mark_call(u32 symbol, u32 word_context) { mark(symbol, word_context, FLAGS_CALL); }
inline void mark_barrier(u32 symbol) { mark(symbol, 0, FRAME_BARRIER); }
inline void mark_catch(u32 symbol) { mark(symbol, 0, FRAME_CATCH); }
inline void mark_try(u32 symbol) { mark(symbol, 0, FRAME_TRY); }
inline void mark_loop(u32 symbol) { mark(symbol, 0, FRAME_LOOP); }
// A frame around the evaluation of a block: the frame keeps the block's
// series alive (and so everything the walk reads from it) while it runs.
void mark_eval_block(u32 symbol, u32 code);
// A function frame: the callee's context and its current values position
// are saved in the frame and put back when it is closed.
void mark_func(u32 symbol, u32 word_context, u32 context);
// A function whose arguments and locals are the cells from `arguments` on:
// the context's values are pointed there (the old position saved in the
// frame); the frame is a return boundary.
void mark_func_ctx(u32 symbol, u32 word_context, u32 context);

// --- Frame flags -----------------------------------------------------------------

// The newest frame (null when there is none).
inline Frame* top_frame() { return call_top > call_bottom ? call_top - 1 : nullptr; }
// Sets or clears the return boundary of the newest frame.
void set_flag(bool on);
// Marks the newest frame as opened by the interpreter.
void set_break_flag();
inline void clear_flag(Frame* f) { f->flags &= ~FRAME_RETURN_BOUNDARY; }
// Sets the return boundary of the frame under the newest one; answers false
// when it was set already (or there is no such frame).
bool set_flag_below();
// Names the newest frame (the one under the saved call top when that is set)
// by a word!; any other value changes nothing.
void rename_top(const Cell* word);
inline void set_call_top(Frame* f) { call_top = f; }

// --- Closing frames ------------------------------------------------------------

void unwind();                // nothing kept; arguments and top go back
void unwind_drop();           // as unwind, then top := old top - 1
void unwind_func_last();      // as unwind_last, restoring a function's values
void unwind_func();           // restoring the values, nothing kept
void unwind_no_result();      // nothing kept
void unwind_func_set_last();  // as unwind_func_last, the result also in the caller's result cell

// The result cell stays above the caller's arguments.
inline void unwind_last() {
    Frame* f = --call_top;
    top = arguments + 1;
    arguments = f->arguments;
}
// As unwind_last, the result also in the caller's result cell.
inline void unwind_set_last() {
    Cell* result = arguments;
    unwind_last();
    *arguments = *result;
}

// Pops frames (restoring the values of function frames) until one of the
// kind, a barrier, or the bottom frame is the newest; that frame stays. With
// `keep` the arguments become that frame's own (the callee's), otherwise its
// caller's. The top is the old arguments + 1 (the bottom when no frame is
// left).
void unroll(u32 kind, bool keep);
// unroll without keep, then the old result cell is copied into the found
// frame's own result cell, which becomes the arguments and the only cell.
void unroll_last(u32 kind);
inline void unroll_loop(bool keep) { unroll(FRAME_LOOP, keep); }
// Pops frames down to `target` (which becomes the call top), restoring the
// values of function frames: what a catcher does.
void unroll_to(Frame* target);

// The stacks as they were at a point: `restore` cuts them back there. Code
// that catches an error or a pending exit takes one before the work.
struct Checkpoint {
    Cell* arguments = stack::arguments;
    Cell* top = stack::top;
    Frame* call_top = stack::call_top;
    void restore() const;
};

// --- Walkers ---------------------------------------------------------------------

// The word of the nearest frame not named <body> or <anon>, or <not-found>:
// the word of that spelling in the frame's word context, or else the global
// word (added when absent), is copied into `out`. Starts from the saved call
// top when set, and clears it.
void caller_name(Cell* out);
// The word naming a frame (as caller_name finds it).
void frame_word(const Frame* f, Cell* out);
inline bool anonymous_q(const Frame* f) {
    return f->symbol == u32(body_symbol) || f->symbol == u32(anon_symbol);
}
// Appends, from the newest frame down to (not including) the bottom one, the
// word of every named frame and an integer!: the cell position of its
// caller's arguments. `block` must not move (a stack cell or a root).
void collect_calls(Cell* block);
// Appends, from the bottom frame up to `end` (exclusive; null: the call top),
// the word of every named frame whose word has a function! value (any value
// when `level` > 1).
void trace_calls(i32 level, Cell* block, const Frame* end);
// Forms the words of the same frames into the string, one blank after each;
// answers the part left (one less per blank, and less what each word wrote).
i32 form_calls(i32 level, const Frame* end, Cell* string, i32 part);
// Stores the call top (a frame count) in the error's `stack` field unless
// that field holds a block! already.
void record_position(Cell* error);
// Whether the frames from below `from` (null: from the newest) down include
// one opened by the interpreter; with `first_only` only the first is asked.
bool eval_q(const Frame* from, bool first_only);

// The collector's root: the cells in use, the contexts the frames name, the
// series they walk and the value of a pending exit.
void mark_roots();

// --- Non-local exits ---------------------------------------------------------------

enum ThrowCode : u32 {
    THROW_ERROR = 0x7FFFFFFF,
    THROW_BREAK = 0x7FFFFFFE,
    THROW_CONTINUE = 0x7FFFFFFD,
    THROW_RETURN = 0x7FFFFFFC,
    THROW_EXIT = 0x7FFFFFFB,
    THROW_THROW = 0x7FFFFFFA,
};

// The exit in progress: its code (0: none), the frame that receives it, and
// what it carries (the value of break/return and throw, the name of throw).
// `pending` is what every evaluation loop tests.
extern u32 pending;
extern Frame* pending_target;
extern Cell pending_value;
extern Cell pending_name;

// Raised by C++ code that must leave its levels while an exit is pending.
struct PendingExit {};
inline void raise_pending() {
    if (ZIR_UNLIKELY(pending != 0)) throw PendingExit{};
}
// Whether the pending exit is received by this frame.
inline bool target_q(const Frame* f) { return pending != 0 && pending_target == f; }
// Clears the pending exit and answers its code.
inline u32 take_pending() {
    u32 code = pending;
    pending = 0;
    pending_target = nullptr;
    return code;
}

// break (with its /return value: arguments[0]) and continue. The caller's
// own frame is skipped. No loop frame, or a barrier first, raises `throw
// break` or `throw continue`.
void throw_break(bool with_value, bool continue_);
// return (the value is arguments[0]) and exit: the nearest return boundary
// receives it; unless `no_own_frame` the newest frame is skipped. None, or a
// barrier first, raises `throw return`.
void throw_return(bool with_value, bool no_own_frame);
// The frames break (continue) and return would reach from above the newest
// frame (the caller opened no frame of its own): null where they would raise
// their error instead.
Frame* loop_target();
Frame* return_target();
// The exit a break, continue or return sets once its target is found: the
// code, the receiving frame and the value (null: unset!).
void set_exit(u32 code, Frame* target, const Cell* value);
// throw: arguments[0] is the value, arguments[1] the name (unset! when
// none); the nearest catch frame receives it. None, or a barrier first,
// raises `throw throw` with the value.
void throw_(u32 code);
// A pending throw refused by the catch frame `from` goes on to the next catch
// frame below it (the same errors when there is none).
void throw_on(const Frame* from);

}  // namespace stack
}  // namespace zir
