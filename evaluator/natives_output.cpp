// The output natives print and prin, and stats; and error::print_error, the
// runtime's own way of showing an error without raising it.
//
// print and prin share one routine. A block argument is reduced into the
// print block (natives::print_block), which every call reuses, so printing
// in a loop allocates nothing but the formed text: each call appends its
// values after the ones already there and cuts the block back to where it
// began when done, on every way out. A print evaluated while an outer
// print's block is being reduced (a function that prints, called from the
// block) therefore works above the outer call's values and leaves them as
// they were.
#include <vector>

#include "boot/catalog.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/float.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform.hpp"
#include "runtime/print_hooks.hpp"

namespace zir {
namespace natives {

bool last_lf_q = true;

namespace {

inline Cell* arg(i32 i) { return stack::arguments + i; }

enum : i32 { SLOT_PRINT = 23, SLOT_PRIN = 24, SLOT_STATS = 37 };

Cell print_block_value(i32 head) {
    Cell b;
    cell::init(&b, TYPE_BLOCK);
    b.w1 = u32(head);
    b.w2 = print_block;
    return b;
}

// Cuts the print block back to the length it had when a call began, however
// the call ends (a value printed, an error in the block, an exit).
struct PrintBlockMark {
    i32 start = -1;
    ~PrintBlockMark() {
        if (start < 0) return;
        Cell b = print_block_value(0);
        block::zs_clear_from(&b, start);
    }
};

// Evaluates the expressions of the block in the first argument cell one by
// one, appending each result to the print block. The block stays in its
// argument cell, which keeps it alive; the walk stops at the block's tail as
// it is when each expression begins (code may shorten it). False when an
// exit became pending: the reduction stops there.
bool reduce_into_print_block() {
    const Cell* value = arg(0);
    interpreter::Code code = interpreter::code_of(value);
    i32 p = code.head;
    Cell* base = stack::top;
    while (p < interpreter::end_of(code)) {
        p = interpreter::eval_next(value, p, code.tail, true);
        if (ZIR_UNLIKELY(stack::pending != 0)) {
            stack::top = base;
            return false;
        }
        Cell b = print_block_value(0);
        block::zs_append(&b, stack::top - 1);
        stack::top = base;
    }
    return true;
}

// The shared routine of print and prin on the first argument cell: the
// value's text (a block reduced first, a string as it is) goes to every
// string print hook, with a line end when `new_line` is set.
void print_value(bool new_line) {
    stack::keep();
    PrintBlockMark mark;
    if (TYPE_OF(arg(0)) == TYPE_BLOCK) {
        mark.start = block::cell_count(node_buffer(print_block));
        if (!reduce_into_print_block()) return;
        *arg(0) = print_block_value(mark.start);
    }
    Cell* text = arg(0);
    if (TYPE_OF(text) == TYPE_STRING) {
        series::clamp_head(text);
    } else {
        text = stack::push_slot();
        cell::init(text, TYPE_UNSET);
        string::make_at(text, 16, 1);
        actions::form(arg(0), text, nullptr, PART_UNLIMITED);
    }
    print_hooks::call_string_hooks(text, new_line);
    last_lf_q = new_line;
    cell::init(arg(0), TYPE_UNSET);
    stack::keep();
}

i32 print_star(i32, const i32*) {
    // Its argument takes any value: there is nothing to check.
    print_value(true);
    return 0;
}

i32 prin_star(i32 check, const i32* r) {
    if (check) check_args(SLOT_PRIN, r);
    print_value(false);
    return 0;
}

// --- stats ----------------------------------------------------------------------

// An integer!, or a float! past the 32-bit range.
void number_at(Cell* out, i64 n) {
    cell::init(out, TYPE_UNSET);
    if (n > 2147483647 || n < -2147483647 - 1) float_::make_at(out, double(n));
    else integer::make_at(out, i32(n));
}

// [nodes series big os heap] into the cell (a stack cell): one block per
// memory frame of each kind, each on its own line: [free used total] for
// node frames (in slots) and series frames (in bytes), [total] for big
// frames; then the bytes taken from the system in blocks of our own, and
// those the C library's allocator holds for us.
void frame_listing(Cell* out) {
    struct Row {
        int kind;
        memory::FrameStat s;
    };
    // Taken before anything is built: building allocates, and may add frames.
    std::vector<Row> rows;
    memory::frame_stats([](int kind, const memory::FrameStat& s, void* p) {
        static_cast<std::vector<Row>*>(p)->push_back({kind, s});
    }, &rows);
    stack::KeepTop restore;
    Cell* kinds = stack::top;
    for (int k = 0; k < 3; k++) {
        Cell* c = stack::push_slot();
        cell::init(c, TYPE_UNSET);
        block::make_at(c, 4);
    }
    for (const Row& row : rows) {
        Cell* frame = stack::push_slot();
        cell::init(frame, TYPE_UNSET);
        block::make_at(frame, 3);
        const i64 figures[3] = {row.s.free, row.s.used, row.s.total};
        for (i32 i = row.kind == 2 ? 2 : 0; i < 3; i++) {
            Cell n;
            number_at(&n, figures[i]);
            block::zs_append(frame, &n);
        }
        frame->header |= FLAG_NEW_LINE;
        block::zs_append(kinds + row.kind, frame);
        stack::pop(1);
    }
    Cell* all = stack::push_slot();
    cell::init(all, TYPE_UNSET);
    block::make_at(all, 5);
    for (int k = 0; k < 3; k++) block::zs_append(all, kinds + k);
    Cell n;
    number_at(&n, memory::record.os_total);
    block::zs_append(all, &n);
    number_at(&n, platform::heap_in_use());
    block::zs_append(all, &n);
    *out = *all;
}

// Calls the library's `show-memory-stats` with the listing, in a function
// frame of that name.
void show_memory_stats(const Cell* listing) {
    Cell name = *word::load("show-memory-stats");
    collector::RootCell fn(*context::get(&name));
    if (TYPE_OF(fn.get()) != TYPE_FUNCTION) fire(ERR_INTERNAL, "not-done");
    stack::mark_func(name.w2, name.w1, fn->w1);
    stack::push(listing);
    interpreter::fill_frame(fn.get(), 1);
    const Cell* owner = function::record_cell(fn.get(), function::RECORD_OWNER);
    u32 owner_ctx = TYPE_OF(owner) == TYPE_OBJECT ? owner->w1 : context::global;
    interpreter::call_function(fn.get(), owner_ctx, &name, 0);
    stack::unwind_func_last();
}

i32 stats_star(i32 check, const i32* r) {
    if (check) check_args(SLOT_STATS, r);
    bool show = r[0] >= 0, info = r[1] >= 0;
    stack::keep();
    if (show || info) {
        frame_listing(arg(0));
        if (show) {
            show_memory_stats(arg(0));
            cell::init(arg(0), TYPE_UNSET);
        }
    } else {
        number_at(arg(0), memory::frame_total());
    }
    stack::keep();
    return 0;
}

template <typename F>
action::Generic entry(F f) {
    Entry e = f;
    return reinterpret_cast<action::Generic>(e);
}

}  // namespace

void fill_output(action::Generic* slots) {
    slots[SLOT_PRINT - 1] = entry(print_star);
    slots[SLOT_PRIN - 1] = entry(prin_star);
    slots[SLOT_STATS - 1] = entry(stats_star);
}

}  // namespace natives

namespace error {

void print_error(ErrorCategory category, const char* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    stack::KeepTop restore;
    stack::mark_native(u32(stack::body_symbol));
    Cell* value = stack::push_slot();
    cell::init(value, TYPE_UNSET);
    // The arguments live on the stack while the error is built: one may be
    // the only reference to a value made for the report.
    Cell* args = stack::top;
    i32 argc = 0;
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        stack::push(a);
        argc++;
    }
    i32 position = catalog::find_id(category, id);
    if (position < 0) {
        // An id the catalogue lacks is shown as what it is, not dropped.
        stack::top = args;
        Cell w = *word::load(id);
        stack::push(&w);
        argc = 1;
        category = ERR_INTERNAL;
        position = catalog::find_id(ERR_INTERNAL, "invalid-error");
    }
    error::make_at(value, category, position, args, argc);
    natives::print_value(true);
    stack::unwind();
}

}  // namespace error
}  // namespace zir
