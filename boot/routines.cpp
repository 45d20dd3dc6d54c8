// The library's routines: see routines.hpp.
#include "boot/routines.hpp"

#include <unistd.h>

#include <cstdio>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/natives.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "console/console_io.hpp"
#include "runtime/fire.hpp"
#include "runtime/platform.hpp"
#include "services/clipboard.hpp"
#include "services/environment.hpp"
#include "services/simple_io.hpp"

namespace zir {
namespace boot {

namespace {

// quit-return status: ends the process with the status, the output written
// out first and the terminal in its own mode.
interpreter::RoutineValue quit_return(const interpreter::RoutineValue* args, i32) {
    if (runtime::before_fault_report) runtime::before_fault_report();
    console::flush();
    std::fflush(nullptr);
    _exit(args[0].i);
}

using interpreter::RoutineValue;

RoutineValue cell_answer(Cell* c) {
    RoutineValue v;
    v.cell = c;
    return v;
}
RoutineValue int_answer(i32 i) {
    RoutineValue v;
    v.i = i;
    return v;
}

// A routine that takes its arguments by their cells answers a cell too,
// whatever result type it declares.

// Routines that take every argument by its cell check the types themselves,
// with the interpreter's error: the caller, the datatype given, the argument.
// The error names the expected datatype when one is given, else the value's own.
void expect(const Cell* value, bool ok, const char* argument, u32 expected = 0) {
    if (ok) return;
    Cell caller, datatype;
    stack::caller_name(&caller);
    datatype::make_at(&datatype, expected ? expected : TYPE_OF(value));
    Cell word = *word::load(argument);
    fire(ERR_SCRIPT, "expect-arg", &caller, &datatype, &word);
}

Cell* new_cell() {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    return c;
}

// set-quiet word value: stores without running the owner's change handler.
RoutineValue set_quiet(const RoutineValue* args, i32) {
    Cell* word = args[0].cell;
    u32 t = TYPE_OF(word);
    expect(word, t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD, "word");
    Cell w = *word;
    context::set_in(&w, args[1].cell, w.w1, false);
    return cell_answer(args[1].cell);
}

// set-slot-quiet series value: writes the cell at the head, telling no owner.
RoutineValue set_slot_quiet(const RoutineValue* args, i32) {
    Cell* series = args[0].cell;
    u32 t = TYPE_OF(series);
    expect(series,
           t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_PATH || t == TYPE_LIT_PATH || t == TYPE_SET_PATH ||
               t == TYPE_GET_PATH,
           "series", TYPE_BLOCK);
    if (series::rest_length(series) > 0) *block::cell_at(series->w2, series->w1) = *args[1].cell;
    return cell_answer(series);
}

// The shift native's rules: a negative count is 0, a count above 31 shifts
// everything out.
i32 clamp_bits(i32 bits) { return bits < 0 ? 0 : bits; }
RoutineValue shift_right(const RoutineValue* args, i32) {
    i32 data = args[0].i, bits = clamp_bits(args[1].i);
    if (bits > 31) return int_answer(data < 0 ? -1 : 0);
    return int_answer(data >> bits);
}
RoutineValue shift_left(const RoutineValue* args, i32) {
    i32 bits = clamp_bits(args[1].i);
    if (bits > 31) return int_answer(0);
    return int_answer(i32(u32(args[0].i) << bits));
}
RoutineValue shift_logical(const RoutineValue* args, i32) {
    i32 bits = clamp_bits(args[1].i);
    if (bits > 31) return int_answer(0);
    return int_answer(i32(u32(args[0].i) >> bits));
}

RoutineValue last_lf_q(const RoutineValue*, i32) { return int_answer(natives::last_lf_q ? 1 : 0); }

RoutineValue get_current_dir(const RoutineValue*, i32) { return cell_answer(file::get_current_dir()); }

RoutineValue set_current_dir(const RoutineValue* args, i32) {
    Cell* path = args[0].cell;
    expect(path, TYPE_OF(path) == TYPE_FILE, "path");
    if (!platform::set_current_dir(file::to_os_path(path))) fire(ERR_ACCESS, "cannot-open", path);
    return cell_answer(path);
}

RoutineValue create_dir(const RoutineValue* args, i32) {
    Cell* path = args[0].cell;
    expect(path, TYPE_OF(path) == TYPE_FILE, "path");
    if (!simple_io::make_dir(file::to_os_path(path))) fire(ERR_ACCESS, "no-create", path);
    return cell_answer(path);
}

RoutineValue exists_q(const RoutineValue* args, i32) {
    Cell* path = args[0].cell;
    expect(path, TYPE_OF(path) == TYPE_FILE, "path");
    return cell_answer(logic::push(simple_io::file_exists_q(file::to_os_path(path))));
}

RoutineValue os_info(const RoutineValue*, i32) { return cell_answer(platform::get_os_info(new_cell())); }

// The first negative component names the fault.
void check_components(const RoutineValue* args, i32 count) {
    for (i32 i = 0; i < count; i++) {
        Cell* c = args[i].cell;
        if (TYPE_OF(c) != TYPE_INTEGER) expect(c, false, "r");
    }
    for (i32 i = 0; i < count; i++)
        if (integer::get(args[i].cell) < 0) fire(ERR_SCRIPT, "invalid-arg", args[i].cell);
}

RoutineValue as_color(const RoutineValue* args, i32) {
    check_components(args, 3);
    Cell* out = new_cell();
    tuple::make_at(out, 3, 0, 0, 0);
    for (i32 i = 0; i < 3; i++) tuple::set_byte(out, i, u8(integer::get(args[i].cell) % 256));
    return cell_answer(out);
}

// The four components as one 32-bit word, the first in the low byte: a
// component above 255 spills into the next ones.
RoutineValue as_ipv4(const RoutineValue* args, i32) {
    check_components(args, 4);
    u32 word = 0;
    for (i32 i = 3; i >= 0; i--) word = (word << 8) | u32(integer::get(args[i].cell));
    Cell* out = new_cell();
    tuple::make_at(out, 4, 0, 0, 0);
    for (i32 i = 0; i < 4; i++) tuple::set_byte(out, i, u8(word >> (8 * i)));
    return cell_answer(out);
}

// count-chars start pos: UTF-8 characters from start's head to pos's index,
// both in start's buffer; the end is held to start's tail, and a character is
// measured by its lead byte alone, so no byte past the end is read.
RoutineValue count_chars(const RoutineValue* args, i32) {
    const Cell* start = args[0].cell;
    const Cell* pos = args[1].cell;
    SeriesBuffer* s = series::buffer_of(start);
    i64 tail = series::abs_length(s);
    i64 from = series::head_index(start), to = series::head_index(pos);
    if (to > tail) to = tail;
    i32 count = 0;
    const u8* bytes = series::head(s);
    for (i64 p = from; p < to; count++) {
        u8 b = bytes[p];
        p += b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    }
    return int_answer(count);
}

RoutineValue stack_size_q(const RoutineValue*, i32) { return int_answer(i32(stack::top - stack::bottom)); }

// pick-stack idx: the cell at that position from the bottom; the call's own
// argument (the top cell) is left out.
RoutineValue pick_stack(const RoutineValue* args, i32) {
    Cell* idx = args[0].cell;
    expect(idx, TYPE_OF(idx) == TYPE_INTEGER, "idx");
    i64 i = integer::get(idx);
    i64 size = stack::top - stack::bottom;
    Cell* out = new_cell();
    if (i > 0 && i < size) *out = stack::bottom[i - 1];
    else *out = none::value;
    return cell_answer(out);
}

RoutineValue frame_index_q(const RoutineValue*, i32) { return int_answer(i32(stack::arguments - stack::bottom)); }

RoutineValue collect_calls(const RoutineValue* args, i32) {
    Cell* blk = args[0].cell;
    expect(blk, TYPE_OF(blk) == TYPE_BLOCK, "blk");
    // The innermost named frame is this call's own: it is left out.
    Cell* calls = new_cell();
    block::make_at(calls, 16);
    stack::collect_calls(calls);
    i32 n = block::cell_count(node_buffer(calls->w2));
    for (i32 i = 2; i < n; i++) {
        const Cell c = *block::cell_at(calls->w2, i);
        block::zs_append(blk, &c);
    }
    return cell_answer(blk);
}

RoutineValue tracing_q(const RoutineValue*, i32) { return int_answer(interpreter::tracing ? 1 : 0); }

RoutineValue read_clipboard(const RoutineValue*, i32) { return cell_answer(clipboard::read(new_cell())); }

RoutineValue write_clipboard(const RoutineValue* args, i32) {
    return cell_answer(logic::push(clipboard::write(args[0].cell)));
}

RoutineValue write_stdout(const RoutineValue* args, i32) {
    Cell* none_file = new_cell();
    *none_file = none::value;
    simple_io::write(none_file, args[0].cell, nullptr, nullptr, false, false, false);
    return cell_answer(args[0].cell);
}

struct RoutineDef {
    const char* word;
    const char* spec;
    interpreter::Routine entry;
    i32 returns;
    bool pointer_args;
};

constexpr i32 NONE = routine::RETURNS_NONE;
constexpr i32 LOGIC = routine::RETURNS_LOGIC;
constexpr i32 INTEGER = routine::RETURNS_INTEGER;

// In the order of their words in the global context.
const RoutineDef routine_defs[] = {
    {"quit-return", R"~("Stops evaluation and exits the program with a given status" status [integer!])~", quit_return,
     NONE, false},
    {"set-quiet", R"~("Set an object's field to a value without triggering eventual object's events" word [any-type!] value [any-type!])~",
     set_quiet, NONE, true},
    {"set-slot-quiet", R"~("Set a value in series without triggering eventual owner's events" series [any-type!] value [any-type!])~",
     set_slot_quiet, NONE, true},
    {"shift-right", R"~("Shift bits to the right" data [integer!] bits [integer!] return: [integer!])~", shift_right,
     INTEGER, false},
    {"shift-left", R"~("Shift bits to the left" data [integer!] bits [integer!] return: [integer!])~", shift_left, INTEGER,
     false},
    {"shift-logical", R"~("Shift bits to the right (unsigned)" data [integer!] bits [integer!] return: [integer!])~",
     shift_logical, INTEGER, false},
    {"last-lf?", R"~("Internal Use Only" return: [logic!])~", last_lf_q, LOGIC, false},
    {"get-current-dir", R"~("Returns the platform's current directory for the process")~", get_current_dir, NONE, true},
    {"set-current-dir", R"~("Sets the platform's current process directory" path [file!])~", set_current_dir, NONE,
     true},
    {"create-dir", R"~("Create the given directory" path [file!])~", create_dir, NONE, true},
    {"exists?", R"~("Returns TRUE if the file exists" path [file!] return: [logic!])~", exists_q, LOGIC, true},
    {"os-info", R"~("Returns detailed operating system version information")~", os_info, NONE, true},
    {"as-color", R"~("Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!])~", as_color, NONE,
     true},
    {"as-ipv4", R"~("Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!])~",
     as_ipv4, NONE, true},
    {"as-rgba", R"~("Combine R, G, B and A color components into a tuple" r [integer!] g [integer!] b [integer!] a [integer!])~",
     as_ipv4, NONE, true},
    {"count-chars", R"~("Count UTF-8 encoded characters between two positions in a binary series" start [binary!] pos [binary!] return: [integer!])~",
     count_chars, INTEGER, false},
    {"stack-size?", R"~(return: [integer!])~", stack_size_q, INTEGER, false},
    {"pick-stack", R"~(idx [integer!])~", pick_stack, NONE, true},
    {"frame-index?", R"~(return: [integer!])~", frame_index_q, INTEGER, false},
    {"collect-calls", R"~(blk [block!])~", collect_calls, NONE, true},
    {"tracing?", R"~(return: [logic!])~", tracing_q, LOGIC, false},
    {"read-clipboard", R"~("Return the contents of the system clipboard" return: [logic! none! string! block! image!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!")~",
     read_clipboard, NONE, true},
    {"write-clipboard", R"~("Write content to the system clipboard" data [any-type!] "string!, block! of files!, an image! or none!" return: [logic!] "indicates success")~",
     write_clipboard, LOGIC, true},
    {"write-stdout", R"~("Write data to STDOUT" data [any-type!])~", write_stdout, NONE, true},
};

}  // namespace

void define_routine(const char* name, const char* spec_text, interpreter::Routine entry, i32 returns,
                    bool pointer_args) {
    stack::KeepTop restore;
    Cell* spec = stack::push_slot();
    cell::init(spec, TYPE_UNSET);
    block::make_at(spec, 4);
    const char* p = spec_text;
    actions::read_spec(spec, p, false);
    i32 index = interpreter::add_routine(entry);
    Cell* value = routine::push(spec, nullptr, index, returns, pointer_args);
    Cell word = *word::load(name);
    context::set(&word, value);
}

void define_routines() {
    for (const RoutineDef& d : routine_defs) define_routine(d.word, d.spec, d.entry, d.returns, d.pointer_args);
    console_io::define_routines();
}

}  // namespace boot
}  // namespace zir
