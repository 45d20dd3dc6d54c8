// The lexer: source text (UTF-8) into values.
//
// Three layers. The automaton (lexer_tables.cpp, generated) cuts the bytes
// into tokens: one table lookup per byte gives the byte's class and flags, one
// more the next state; a final state names the kind of token, which selects
// one of 36 scanner/loader pairs. The driver (lexer.cpp) runs the automaton
// token after token, keeps the nesting of blocks, parens, maps, paths and
// points as marker cells on a shared output stack, calls the scanners and
// loaders, delivers trace events and raises the syntax errors. The scanners
// and loaders (scanners.cpp, numbers.cpp) check a token and build its value on
// the output stack.
//
// The output stack is one process-wide array of cells that grows by doubling.
// Every active transcode call has a State record on the machine stack, linked
// into a list; each call's output starts where the enclosing call's ends, and
// all its positions are indexes into the array, so a reallocation moves
// nothing a state holds. The collector marks each state's cells, its input
// series and its callback (`mark_roots`).
//
// The input is a byte array that must not move while it is scanned: a string
// value is copied first (`string_to_block` copies into a process-wide
// conversion area taken last-in-first-out, so a transcode started from a trace
// callback does not overwrite the text its caller is reading), and so is a
// binary when a callback may run. A load without a callback holds collections
// back (it makes no garbage), so a binary's bytes are scanned where they lie.
// No scanner reads past the input's end.
#pragma once

#include "loader/lexer_tables.hpp"
#include "runtime/cell.hpp"

namespace zir {
namespace lexer {

// --- Trace events ------------------------------------------------------------

enum Event : u32 {
    EVENT_PRESCAN = 1,
    EVENT_SCAN = 2,
    EVENT_LOAD = 4,
    EVENT_OPEN = 8,
    EVENT_CLOSE = 16,
    EVENT_ERROR = 32,
    EVENT_ALL = 63,
};

// Runs a trace callback (a function! or routine! value) on the arguments
// pushed on the value stack from `args` on (event, input, type, line, token,
// then the callback's locals) and leaves its result in args[0]; what the
// callback did to its `input` argument stays in args[1]. The interpreter sets
// it; a callback given while it is unset raises `internal not-done`.
extern void (*call_callback)(const Cell* callback, Cell* args);

// What the type argument of an event names for tokens without a datatype
// (-(k+1) for pair k): the k-th value of this block, when it is one
// (`system/lexer/exit-states`, set at start-up).
extern Cell exit_states;

// --- Lexer state -----------------------------------------------------------------

// Byte flag of brace_flags: a line feed came before one of the string's
// opening braces (the string starts on a new line).
constexpr u32 FLAG_NEW_LINE_BEFORE = 0x00020000;

struct State {
    State* next_state;       // a transcode started while this one runs
    State* outer_state;      // the enclosing one, null for the outermost
    i32 out_base;            // output stack indexes: this call's first cell,
    i32 level_head;          // the first cell of the innermost open level,
    i32 out_tail;            // and the next free cell
    const u8* input_start;
    const u8* input_end;
    const u8* position;
    const u8* token_start;   // the last token (its leading filler skipped)
    const u8* token_end;
    i32 line;                // current line, from 1
    i32 token_lines;         // line feeds the last token took (leading ones included)
    i32 lead_lines;          // those of them before its start: a value on a new line
    i32 type_hint;           // datatype a scanner forces on its loader, -1 when none
    i32 token_type;          // datatype of the last token, 0 for structural ones
    i32 start_state;         // where the next token starts: 0, 4, 35 or 59
    i32 exit_state;          // the last state before the final one
    i32 final_state;
    u32 token_flags;
    i32 missing_kind;        // kind of the level whose closer is reported missing
    i32 previous_type;
    const u8* brace_start;   // the pending multi-line string's opening brace
    i32 brace_depth;
    u32 brace_flags;
    i32 saved_lines;         // lead_lines kept while a point is scanned
    Cell tracer;             // the trace callback, unset when none
    i32 tracer_locals;
    u32 tracer_events;
    Cell input_series;       // the input value (string or binary), none when none
    u32 input_head;          // its head index when scanning began
    bool loading;            // values are built (else only checked)
    const u8* cached_byte;   // the last byte position turned into a character index
    i32 cached_char;
    bool ascii_text;         // a string input of ASCII only: character index = byte offset
};

// --- Entry points ----------------------------------------------------------------

// Flags of transcode and string_to_block.
struct Options {
    bool one = false;     // stop after the first complete top-level value
    bool scan = true;     // scan every token (false: follow only structural ones)
    bool load = true;     // build values (only together with scan)
    bool wrap = false;    // with one, still answer a block
};

// Allocates the output stack and the conversion area, builds the Unicode
// blank set and registers the collector's mark callback. Safe to call again.
void init();

// Scans `size` bytes at `src` (which must not move meanwhile). The result goes
// to `dst` (a block of every value, or with `one` the first value), or, when
// `output` is given, the values are appended to that block. `consumed`, when
// given, receives the length consumed: in characters when `input` is a
// string!, else in bytes. `callback` (a function! or routine!) or null;
// `input` the series the bytes came from (positions reported to the callback
// are in it) or null. Answers the datatype of the last token (error! when a
// check found a fault).
i32 transcode(Cell* dst, const u8* src, i64 size, Options o, i32* consumed, const Cell* callback,
              const Cell* input, Cell* output);

// The same over a string's text from its head (at most `length` characters, -1:
// all) or a binary's bytes (copied first when a callback is given).
i32 string_to_block(Cell* dst, const Cell* text, i32 length, Options o, i32* consumed, const Cell* callback,
                    Cell* output);

// The text loaded as values: the first value, none when the scan stopped
// before the end of the text, unset for an empty text.
void load_one_into(const Cell* text, Cell* target);
Cell* load_one(const Cell* text);

// The collector's roots: the output cells, input series and callbacks of
// every active state.
void mark_roots();

// One run of the automaton from `state` over [p, end): the token it finds.
struct Token {
    const u8* start;    // after the leading filler
    const u8* end;      // where the final state was met (the byte there is not part of it)
    u32 final_state;
    u32 exit_state;     // the last state before the final one
    u32 flags;          // the byte flags of every byte met, the deciding one included
    i32 lines;          // line feeds consumed
    i32 lead_lines;     // those of them in the filler before the token
};
Token scan_token(const u8* p, const u8* end, u32 state);

// --- For the scanners and loaders ----------------------------------------------------

// Syntax error kinds besides datatype ids.
enum ErrorKind : i32 {
    KIND_BAD_CHAR = -1,
    KIND_MALCONSTRUCT = -2,
    KIND_MISSING = -3,       // a closing delimiter without its opening one
    KIND_MISSING_END = -4,   // a level still open at the end
};

// Thrown to end a scan quietly (check-only mode, or a callback that answered
// false to an error).
struct Stop {};

using Scanner = void (*)(State* st, const u8* start, const u8* end, u32 flags, bool load);
struct Pair {
    Scanner scanner;
    Scanner loader;
};
extern Pair pairs[FINAL_COUNT];

// The output stack.
extern Cell* out_cells;
extern i32 out_capacity;
inline Cell* out_at(i32 i) { return out_cells + i; }
// Makes room for `need` cells.
void grow_output(i32 need);
// A new cell at the output's tail (unset, with the new-line flag when the
// token began on a new line); good until the next push.
inline Cell* push_value(State* st) {
    if (ZIR_UNLIKELY(st->out_tail >= out_capacity)) grow_output(st->out_tail + 1);
    Cell* c = out_at(st->out_tail++);
    cell::init(c, TYPE_UNSET);
    if (st->lead_lines > 0) c->header |= FLAG_NEW_LINE;
    return c;
}
void drop_last(State* st);

[[noreturn]] void throw_error(State* st, const u8* start, const u8* end, i32 kind);
// Fires an event at the callback when it asked for it; answers its truth.
bool call_tracer(State* st, u32 event, i32 type, const Cell* value, const u8* start, const u8* end);
inline bool tracing_q(const State* st) { return TYPE_OF(&st->tracer) != TYPE_UNSET; }
// Fires `load` with the value just pushed; a false answer drops it.
void report_load(State* st, i32 type, const u8* start, const u8* end);

// Nesting (lexer.cpp).
void open_block(State* st, i32 type, const u8* start, const u8* end);
// Closes the innermost level; false when a callback refused the close (the
// level stays open).
bool close_block(State* st, const u8* start, const u8* end, i32 expected, bool quiet);
constexpr u32 MARKER_TYPE = TYPE_TRIPLE;
// The marker of the innermost open level, or null.
inline Cell* open_marker(State* st) {
    if (st->level_head <= st->out_base) return nullptr;
    Cell* m = out_at(st->level_head - 1);
    return TYPE_OF(m) == MARKER_TYPE ? m : nullptr;
}
inline i32 marker_kind(const Cell* m) { return i32(m->w2 & 0xFFFF); }

// Unicode blanks (U+00A0 and the others): whether a code point is one.
bool unicode_blank_q(u32 cp);
// A UTF-8 character at p, not past end: the code point, and its length in
// *used; -1 when it is malformed or cut.
i32 decode_char(const u8* p, const u8* end, i32* used);

// Scanners and loaders (scanners.cpp, numbers.cpp).
void register_pairs();
void load_string(State* st, const u8* start, const u8* end, u32 flags, bool load);
void scan_string(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_word(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_integer(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_hex(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_float(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_percent(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_float_special(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_tuple(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_pair(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_point(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_time(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_date(State* st, const u8* start, const u8* end, u32 flags, bool load);
void load_money(State* st, const u8* start, const u8* end, u32 flags, bool load);

// Whether the text after a "(" is a point literal: after the characters a
// number may hold, a ",".
bool point_ahead_q(const u8* p, const u8* end);
// The path terminator test of path_end.
bool path_terminator_q(u8 byte);

}  // namespace lexer
}  // namespace zir
