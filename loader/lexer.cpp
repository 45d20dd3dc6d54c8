// The transcode driver: the automaton run token after token, the output
// stack and its nesting markers, the trace events and the syntax errors. See
// lexer.hpp for the layers and the rules on memory.
#include "loader/lexer.hpp"

#include <cstdlib>
#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/money.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "loader/number.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace lexer {

void (*call_callback)(const Cell* callback, Cell* args) = nullptr;
Cell exit_states = {TYPE_NONE, 0, 0, 0};
Pair pairs[FINAL_COUNT];
Cell* out_cells = nullptr;
i32 out_capacity = 0;

namespace {

// The output stack starts with room for this many cells and doubles.
constexpr i32 OUTPUT_START = 1000;
// The conversion area holds the UTF-8 copies of string inputs; a text that
// does not fit gets a buffer of its own for the length of its scan.
constexpr i64 CONVERSION_SIZE = 100000;
// The error context: characters that begin within this many bytes.
constexpr i32 CONTEXT_BYTES = 30;

State* active_head = nullptr;   // the outermost active state
State* active_tail = nullptr;   // the innermost
u8* conversion = nullptr;
i64 conversion_used = 0;
u8* blank_bits = nullptr;       // Unicode blanks, bit 0x80 >> (cp % 8) of byte cp / 8
bool registered = false;

constexpr u32 BLANK_CODE_POINTS[] = {0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
                                     0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A,
                                     0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B};
constexpr u32 BLANK_BITS_SIZE = 8290;   // covers U+3000

bool marker_q(const Cell* c) { return TYPE_OF(c) == MARKER_TYPE; }

// --- The automaton ----------------------------------------------------------------


// Runs the automaton for one token from `position` in `start_state` and
// stores what it found into the state. Only the start state loops on itself
// (on blanks, line feeds and control bytes): that filler is skipped first,
// and the token's walk then needs no skip count.
inline void next_token(State* st) {
    const u8* p = st->position;
    const u8* end = st->input_end;
    u32 state = u32(st->start_state);
    i32 lead = 0;
    if (state == S_START)
        for (; p < end && start_filler[*p]; p++) lead += *p == '\n';
    const u8* start = p;
    u32 prev = state;
    u32 flags = 0;
    i32 lines = lead;
    for (;;) {
        if (p >= end) {
            prev = state;
            state = transitions[state * CLASS_COUNT + CLASS_END];
            break;
        }
        u8 b = *p;
        u32 next = byte_next[state][b];
        flags |= classes[b];
        if (next >= FIRST_FINAL) {
            prev = state;
            state = next;
            break;
        }
        lines += b == '\n';
        p++;
        if (next != state) {
            state = next;
            continue;
        }
        // A state that loops on itself (the body of a string, word or
        // number): run on while it does, each step against the same row, so
        // that no step waits for the lookup of the one before.
        const u8* row = byte_next[state];
        for (; p < end && row[*p] == state; p++) {
            flags |= classes[*p];
            lines += *p == '\n';
        }
    }
    st->token_start = start;
    st->token_end = p;
    st->position = p;
    st->token_flags = flags & ~0xFFu;
    st->line += lines;
    st->token_lines = lines;
    st->lead_lines = lead;
    st->exit_state = i32(prev);
    st->final_state = i32(state);
    st->type_hint = -1;
    st->token_type = type_table[state];
}

// --- Byte and character positions ---------------------------------------------------

bool string_input_q(const State* st) { return any_text_q(TYPE_OF(&st->input_series)); }

// The index in the input series of a byte position.
i32 series_index(State* st, const u8* at) {
    if (!string_input_q(st) || st->ascii_text) return i32(st->input_head + (at - st->input_start));
    // Counted from the nearest known place: the input's start or the last
    // position asked, forwards or backwards. The events of one token ask for
    // its start after its end, which must not mean a count from the start of
    // the input each time.
    i32 chars;
    const u8* cached = st->cached_byte;
    if (cached && cached <= at) {
        chars = st->cached_char + i32(unicode::count_utf8_chars(cached, at));
    } else if (cached && cached - at < at - st->input_start) {
        chars = st->cached_char - i32(unicode::count_utf8_chars(at, cached));
    } else {
        chars = i32(unicode::count_utf8_chars(st->input_start, at));
    }
    st->cached_byte = at;
    st->cached_char = chars;
    return i32(st->input_head) + chars;
}

// The byte position of an index in the input series, clamped to the input.
const u8* byte_position(State* st, i64 index) {
    i64 rel = index - i64(st->input_head);
    if (rel <= 0) return st->input_start;
    if (!string_input_q(st) || st->ascii_text)
        return rel >= st->input_end - st->input_start ? st->input_end : st->input_start + rel;
    return unicode::skip_utf8_chars(st->input_start, st->input_end, rel);
}

// --- Trace filter ---------------------------------------------------------------------

u32 event_bit(i32 symbol) {
    static const char* const names[] = {"prescan", "scan", "load", "open", "close", "error"};
    for (u32 i = 0; i < 6; i++)
        if (symbol::resolve(symbol) == symbol::resolve(symbol::make(names[i]))) return 1u << i;
    return 0;
}

// The events named by a block of words; 0 when it names none.
u32 events_of(const Cell* block) {
    u32 events = 0;
    SeriesBuffer* s = series::buffer_of(block);
    i32 n = block::cell_count(s) - series::head_index(block);
    for (i32 i = 0; i < n; i++) {
        const Cell* c = block::cell_at(block->w2, series::head_index(block) + i);
        if (any_word_q(TYPE_OF(c))) events |= event_bit(i32(c->w2));
    }
    return events;
}

// A block at the head of the callback's spec, or else of its body, selects
// the events; without one every event is delivered. Also counts the locals:
// `/local` and the words after it in the spec.
void read_callback(State* st) {
    const Cell* fn = &st->tracer;
    st->tracer_events = EVENT_ALL;
    st->tracer_locals = 0;
    if (TYPE_OF(fn) != TYPE_FUNCTION && TYPE_OF(fn) != TYPE_ROUTINE) return;
    u32 spec = fn->w2;   // the spec block, from its head 0
    i32 n = block::cell_count(node_buffer(spec));
    i32 local = symbol::resolve(symbol::make("local"));
    bool in_locals = false;
    for (i32 i = 0; i < n; i++) {
        const Cell* c = block::cell_at(spec, i);
        if (TYPE_OF(c) == TYPE_REFINEMENT && symbol::resolve(i32(c->w2)) == local) in_locals = true;
        if (in_locals && (TYPE_OF(c) == TYPE_REFINEMENT || TYPE_OF(c) == TYPE_WORD)) st->tracer_locals++;
    }
    u32 events = 0;
    if (n > 0 && TYPE_OF(block::cell_at(spec, 0)) == TYPE_BLOCK) events = events_of(block::cell_at(spec, 0));
    if (!events && fn->w3) {
        const Cell* body = function::record_cell(fn, function::RECORD_BODY);
        if (TYPE_OF(body) == TYPE_BLOCK && block::zs_length_q(body) > 0 && TYPE_OF(block::zs_head(const_cast<Cell*>(body))) == TYPE_BLOCK)
            events = events_of(block::zs_head(const_cast<Cell*>(body)));
    }
    if (events) st->tracer_events = events;
}

// --- Linking states ---------------------------------------------------------------------

void link(State* st) {
    if (!active_head) {
        active_head = active_tail = st;
        st->outer_state = nullptr;
        st->out_base = 0;
    } else {
        st->outer_state = active_tail;
        active_tail->next_state = st;
        st->out_base = active_tail->out_tail;
        active_tail = st;
    }
    st->next_state = nullptr;
}

void unlink(State* st) {
    if (st->outer_state) {
        st->outer_state->next_state = nullptr;
        active_tail = st->outer_state;
    } else {
        active_head = active_tail = nullptr;
    }
}

// --- Errors ------------------------------------------------------------------------------

// The opening position of the innermost open level, or the input's start.
const u8* level_start(State* st) {
    Cell* m = open_marker(st);
    return m ? st->input_start + m->w3 : st->input_start;
}

void close_all(State* st);

// The text of an error's context: whole characters that begin within the
// first CONTEXT_BYTES bytes from `start`, before any line feed.
void context_text(State* st, const u8* start, Cell* out) {
    string::make_at(out, CONTEXT_BYTES + 1, 1);
    const u8* p = start;
    const u8* limit = start + CONTEXT_BYTES;
    while (p < st->input_end && p < limit && *p != '\n' && *p != 0) {
        i32 used = 1;
        i32 cp = *p;
        if (*p >= 0x80) {
            cp = decode_char(p, st->input_end, &used);
            if (cp < 0) {
                cp = *p;   // a malformed byte shows as itself
                used = 1;
            }
        }
        string::append_char(out, u32(cp));
        p += used;
    }
}

}  // namespace

Token scan_token(const u8* p, const u8* end, u32 state) {
    State st;
    std::memset(static_cast<void*>(&st), 0, sizeof st);
    st.position = p;
    st.input_end = end;
    st.start_state = i32(state);
    next_token(&st);
    return Token{st.token_start, st.token_end, u32(st.final_state), u32(st.exit_state), st.token_flags,
                 st.token_lines, st.lead_lines};
}

// --- Output ----------------------------------------------------------------------------

void grow_output(i32 need) {
    i64 cap = out_capacity;
    while (cap < need) cap *= 2;
    if (cap > (i64(1) << 27)) fire(ERR_INTERNAL, "no-memory");
    void* p = std::realloc(out_cells, size_t(cap) * sizeof(Cell));
    if (!p) fire(ERR_INTERNAL, "no-memory");
    out_cells = static_cast<Cell*>(p);
    out_capacity = i32(cap);
}

void drop_last(State* st) {
    if (st->out_tail > st->level_head) st->out_tail--;
}

bool unicode_blank_q(u32 cp) { return cp < BLANK_BITS_SIZE * 8 && (blank_bits[cp >> 3] & (0x80 >> (cp & 7))); }

i32 decode_char(const u8* p, const u8* end, i32* used) {
    i32 avail = i32(end - p < 4 ? end - p : 4);
    i32 cp = unicode::check_utf8_char(p, &avail);
    *used = avail;
    return cp < 0 ? -1 : cp;
}

// --- Nesting ----------------------------------------------------------------------------

void open_block(State* st, i32 type, const u8* start, const u8* end) {
    Cell* inner = open_marker(st);
    if (inner && marker_kind(inner) == TYPE_POINT2D) throw_error(st, start, end, TYPE_POINT2D);
    if (tracing_q(st) && !call_tracer(st, EVENT_OPEN, type, nullptr, start, end)) return;
    i32 before = st->out_tail - st->level_head;
    i32 saved = st->lead_lines;
    st->lead_lines = 0;
    Cell* m = push_value(st);
    st->lead_lines = saved;
    m->header = MARKER_TYPE | (saved > 0 ? FLAG_NEW_LINE : 0);
    m->w1 = u32(before);
    m->w2 = u32(type);
    m->w3 = u32(start - st->input_start);
    st->level_head = st->out_tail;
    st->start_state = 0;
}

namespace {

// The cells of the innermost level as a series of `kind` in the marker's cell.
void make_level(State* st, i32 kind) {
    i32 head = st->level_head;
    i32 n = st->out_tail - head;
    i32 marker = head - 1;
    u32 nl = out_at(marker)->header & FLAG_NEW_LINE;
    if (!st->loading) {
        cell::init(out_at(marker), TYPE_NONE);
        return;
    }
    Cell made;
    made.header = nl;
    block::make_at(&made, n < 1 ? 1 : n);   // allocates: cells re-read below
    SeriesBuffer* s = node_buffer(made.w2);
    std::memcpy(series::head_cells(s), out_at(head), size_t(n) * sizeof(Cell));
    s->tail = s->offset + u32(n) * sizeof(Cell);
    made.header = nl | u32(kind);
    *out_at(marker) = made;
}

}  // namespace

bool close_block(State* st, const u8* start, const u8* end, i32 expected, bool quiet) {
    Cell* m = open_marker(st);
    i32 open = m ? marker_kind(m) : -1;
    if (!quiet && tracing_q(st)) {
        i32 kind = (m && (expected < 0 || (open == TYPE_MAP && expected != TYPE_BLOCK))) ? open : expected;
        const u8* at = m ? st->input_start + m->w3 : start;
        if (!call_tracer(st, EVENT_CLOSE, kind, nullptr, at, end)) return false;
        m = open_marker(st);   // the callback may have run a transcode of its own
    }
    if (!m) {
        st->missing_kind = expected;
        throw_error(st, nullptr, end, KIND_MISSING);
    }
    i32 kind = open;
    if (expected >= 0 && expected != open) {
        bool agree = (open == TYPE_MAP && expected == TYPE_BLOCK) || (open == TYPE_PATH && expected == TYPE_SET_PATH);
        if (!agree) {
            st->missing_kind = open;
            throw_error(st, nullptr, end, KIND_MISSING);
        }
        if (open == TYPE_PATH) kind = TYPE_SET_PATH;
    }
    i32 marker = st->level_head - 1;
    i32 before = i32(out_at(marker)->w1);
    make_level(st, kind == TYPE_MAP ? i32(TYPE_BLOCK) : kind);   // the map! is made from the block
    st->out_tail = marker + 1;
    st->level_head = marker - before;
    st->token_type = kind;
    Cell* outer = open_marker(st);
    i32 outer_kind = outer ? marker_kind(outer) : i32(TYPE_BLOCK);
    st->start_state = (outer_kind == TYPE_BLOCK || outer_kind == TYPE_PAREN || outer_kind == TYPE_MAP ||
                       outer_kind == TYPE_POINT2D)
                          ? 0
                          : S_PATH_COMPONENT;
    return true;
}

namespace {

void close_all(State* st) {
    while (Cell* m = open_marker(st)) {
        i32 kind = marker_kind(m);
        if (kind == TYPE_BLOCK || kind == TYPE_PAREN) {
            close_block(st, nullptr, nullptr, kind, true);
        } else {
            i32 marker = st->level_head - 1;
            st->out_tail = marker;
            st->level_head = marker - i32(m->w1);
        }
    }
}

bool path_kind_q(i32 kind) { return kind >= i32(TYPE_PATH) && kind <= i32(TYPE_GET_PATH); }

// The path a component just ended is closed or goes on after "/".
void path_end(State* st) {
    const u8* p = st->position;
    if (p >= st->input_end || *p != '/') {
        if (p < st->input_end && *p == ':') {
            if (p + 1 < st->input_end && p[1] == '/') throw_error(st, nullptr, p + 2, TYPE_PATH);
            st->position = p + 1;
            close_block(st, p, p + 1, TYPE_SET_PATH, false);
        } else {
            close_block(st, p, p, -1, false);
        }
        return;
    }
    if (p + 1 >= st->input_end || p[1] == ':') throw_error(st, nullptr, p + 1, TYPE_PATH);
    st->position = p + 1;
}

// Leading Unicode blanks of a word token: answers the first byte after them.
const u8* skip_blanks(State* st, const u8* p, const u8* end) {
    while (p < end && *p >= 0x80) {
        i32 used;
        i32 cp = decode_char(p, end, &used);
        if (cp < 0) throw_error(st, p, end, TYPE_WORD);
        if (!unicode_blank_q(u32(cp))) break;
        p += used;
    }
    return p;
}

// Moves the position past a token that is not scanned: past the closing
// byte a token leaves for its scanner, so that the next token starts after it.
void skip_token(State* st, u32 k, const u8* start, const u8* end, u32 flags) {
    switch (k + FIRST_FINAL) {
        case F_EOF:
            st->position = st->input_end;
            return;
        case F_COMMENT:
            return;
        case F_RAW_STRING:
            pairs[k].loader(st, start, end, flags, false);   // finds where it closes
            return;
        case F_FILE:
            if (end - start > 1 && start[1] == '"') break;
            return;
        case F_POINT:
            st->start_state = 0;   // the point's body ends with its ")"
            break;
        case F_ERROR: case F_BLOCK_OPEN: case F_BLOCK_CLOSE: case F_PAREN_OPEN: case F_PAREN_CLOSE:
        case F_BRACE_OPEN: case F_BRACE_CLOSE: case F_MAP_OPEN: case F_PATH_HEAD: case F_CONSTRUCT: case F_COMMA:
        case F_STRING: case F_CHAR: case F_BINARY: case F_PERCENT: case F_TAG:
            break;
        default:
            return;
    }
    st->position = end < st->input_end ? end + 1 : st->input_end;
}

// Whether this call's output is empty or holds one value (no open level).
bool one_value_q(State* st) {
    i32 n = st->out_tail - st->out_base;
    return n == 0 || (n == 1 && !marker_q(out_at(st->out_base)));
}

void scan_loop(State* st, bool one, bool prescan) {
    i32 pending_lines = 0;   // line feeds of a token of blanks, given to the next token
    for (;;) {
        next_token(st);
        st->token_lines += pending_lines;
        st->lead_lines += pending_lines;
        pending_lines = 0;
        u32 k = u32(st->final_state) - FIRST_FINAL;
        const u8* start = st->token_start;
        const u8* end = st->token_end;
        u32 flags = st->token_flags;
        bool tracing = tracing_q(st);

        if (k == F_WORD - FIRST_FINAL && *start >= 0x80 && (flags & (FLAG_LEAD2 | FLAG_LEAD4))) {
            const u8* after = skip_blanks(st, start, end);
            if (after != start) {
                // The blanks were the token's start: scan again from after
                // them, so what follows is read as what it is.
                pending_lines = st->token_lines;
                st->position = after;
                if (after >= st->input_end) {
                    st->token_type = 0;
                    break;
                }
                continue;
            }
        }

        if (prescan) {
            // Only the structure is followed: the structural tokens are
            // scanned (without building anything), every token offered to
            // the callback.
            if (tracing && st->start_state != S_BRACE_BODY)
                call_tracer(st, EVENT_PRESCAN, st->token_type ? st->token_type : -i32(k + 1), nullptr, start, end);
            if (k <= 13) {
                pairs[k].scanner(st, start, end, flags, false);
            } else {
                skip_token(st, k, start, end, flags);
            }
        } else {
            bool go = !tracing || st->start_state == S_BRACE_BODY ||
                      call_tracer(st, EVENT_PRESCAN, st->token_type ? st->token_type : -i32(k + 1), nullptr, start, end);
            if (!go) {
                skip_token(st, k, start, end, flags);
            } else {
                if (k <= 12) {
                    pairs[k].scanner(st, start, end, flags, st->loading);
                } else {
                    const Pair& pr = pairs[k];
                    bool scan_ok = true;
                    if (!st->loading || pr.scanner || (tracing && (st->tracer_events & EVENT_SCAN))) {
                        if (pr.scanner)
                            pr.scanner(st, start, end, flags, st->loading && !tracing);
                        else
                            pr.loader(st, start, end, flags, false);
                        end = st->token_end;   // a word ends at a Unicode blank inside it
                        if (tracing) scan_ok = call_tracer(st, EVENT_SCAN, st->token_type, nullptr, start, end);
                    }
                    if (st->loading && scan_ok) {
                        pr.loader(st, start, end, flags, true);
                        if (tracing) report_load(st, st->token_type, start, end);
                    }
                }
            }
        }

        if (st->start_state == S_PATH_COMPONENT && st->final_state != F_PATH_HEAD && st->final_state != F_ERROR)
            path_end(st);
        if ((one || prescan) && st->token_type > 0 && st->start_state != S_PATH_COMPONENT &&
            st->start_state != S_BRACE_BODY && st->final_state != F_PATH_HEAD && one_value_q(st))
            break;
        st->previous_type = st->token_type;
        if (st->position >= st->input_end) break;
    }
    if (st->start_state == S_BRACE_BODY && st->brace_start) throw_error(st, st->brace_start, st->input_end, TYPE_STRING);
}

bool callback_q(const Cell* callback) {
    return callback && TYPE_OF(callback) != TYPE_NONE && TYPE_OF(callback) != TYPE_UNSET;
}

// A load that runs no user code: values are built and no callback is given.
bool plain_load_q(const Options& o, const Cell* callback) { return o.scan && o.load && !callback_q(callback); }

// Holds collections back for the length of a load that runs no user code.
// Such a load makes no garbage of its own (every buffer it allocates ends in
// its output, which is a root), so a collection inside it could only free
// what was garbage before it began, at the price of tracing and sliding the
// growing output each time. Its allocations still count towards the next
// collection, which comes once the load is done.
struct CollectionPause {
    bool paused;
    explicit CollectionPause(bool pause) : paused(pause && collector::active) {
        if (paused) collector::active = false;
    }
    ~CollectionPause() {
        if (paused) collector::active = true;
    }
    CollectionPause(const CollectionPause&) = delete;
    CollectionPause& operator=(const CollectionPause&) = delete;
};

}  // namespace

// --- Errors --------------------------------------------------------------------------------

void throw_error(State* st, const u8* start, const u8* end, i32 kind) {
    if (!st->loading) {
        st->token_type = TYPE_ERROR;
        throw Stop{};
    }
    if (!start) start = level_start(st);
    if (start > st->input_end) start = st->input_end;
    if (tracing_q(st)) {
        Cell* m = open_marker(st);
        if (m && path_kind_q(marker_kind(m))) {
            i32 marker = st->level_head - 1;
            st->out_tail = marker;
            st->level_head = marker - i32(m->w1);
        }
        i32 type = kind > 0 ? kind : st->missing_kind > 0 ? st->missing_kind : st->token_type > 0 ? st->token_type
                                                                   : st->type_hint > 0 ? st->type_hint : i32(TYPE_ERROR);
        if (!call_tracer(st, EVENT_ERROR, type, nullptr, start, end ? end : start)) throw Stop{};
    }
    close_all(st);
    if ((kind == KIND_MISSING || kind == KIND_MISSING_END) && path_kind_q(st->missing_kind)) kind = KIND_BAD_CHAR;

    collector::RootCell line_text, context, arg2;
    string::make_at(line_text.get(), 16, 1);
    string::append_literal(line_text.get(), "(line ");
    string::append_literal(line_text.get(), integer::form_signed(st->line));
    string::append_literal(line_text.get(), ")");
    context_text(st, start, context.get());
    switch (kind) {
        case KIND_BAD_CHAR:
            fire(ERR_SYNTAX, "bad-char", line_text.get(), context.get());
        case KIND_MALCONSTRUCT:
            fire(ERR_SYNTAX, "malconstruct", line_text.get(), context.get());
        case KIND_MISSING:
        case KIND_MISSING_END: {
            u8 at = '_';
            if (kind == KIND_MISSING) {
                const u8* p = st->position < st->input_end ? st->position : st->input_end - 1;
                at = p >= st->input_start ? *p : '_';
            }
            bool paren = st->missing_kind == TYPE_PAREN || st->missing_kind == TYPE_POINT2D;
            u32 delimiter = paren ? (at == ')' ? '(' : ')') : (at == ']' ? '[' : ']');
            cell::init(arg2.get(), TYPE_CHAR);
            arg2->w2 = delimiter;
            fire(ERR_SYNTAX, "missing", line_text.get(), arg2.get(), context.get());
        }
        default:
            datatype::make_at(arg2.get(), u32(kind));
            fire(ERR_SYNTAX, "invalid", line_text.get(), arg2.get(), context.get());
    }
}

// --- Trace events ------------------------------------------------------------------------

bool call_tracer(State* st, u32 event, i32 type, const Cell* value, const u8* start, const u8* end) {
    if (!(st->tracer_events & event)) return true;
    // The "(" of a point is no paren: its prescan is not reported.
    if (event == EVENT_PRESCAN && st->final_state == F_PAREN_OPEN && end < st->input_end &&
        point_ahead_q(end + 1, st->input_end))
        return true;
    if (!call_callback) fire(ERR_INTERNAL, "not-done");
    if (event == EVENT_SCAN && st->final_state == F_ERROR) {
        event = EVENT_ERROR;
        type = TYPE_ERROR;
        if (!(st->tracer_events & event)) return true;
    }
    if (type == TYPE_POINT2D || type == TYPE_POINT3D) start = start > st->input_start ? start - 1 : start;
    if (event == EVENT_PRESCAN && st->final_state == F_ERROR && st->start_state == S_BRACE_BODY && st->brace_start)
        start = st->brace_start;
    static const char* const names[] = {"prescan", "scan", "load", "open", "close", "error"};
    const char* name = names[__builtin_ctz(event)];
    bool structural = type <= 0 && event == EVENT_PRESCAN;

    Cell* saved_top = stack::top;
    struct Restore {
        Cell* top;
        ~Restore() { stack::top = top; }
    } restore{saved_top};
    Cell* args = stack::push_slot();
    cell::init(args, TYPE_UNSET);
    series::make_word(args, symbol::make(name));
    Cell* input = stack::push(&st->input_series);
    const u8* at = (structural || event == EVENT_OPEN) ? start : end;
    if (TYPE_OF(input) != TYPE_NONE) input->w1 = u32(series_index(st, at));
    Cell* t = stack::push_slot();
    if (type > 0) {
        datatype::make_at(t, u32(type));
    } else if (type < 0 && TYPE_OF(&exit_states) == TYPE_BLOCK &&
               block::zs_length_q(&exit_states) > -type - 1) {
        *t = *block::cell_at(exit_states.w2, series::head_index(&exit_states) + (-type - 1));
    } else {
        cell::init(t, TYPE_NONE);
    }
    Cell* line = stack::push_slot();
    integer::make_at(line, st->line);
    line->header = TYPE_INTEGER;
    Cell* token = stack::push_slot();
    if (value) {
        *token = *value;
    } else {
        // A pair! of the 1-based start and end positions.
        cell::init(token, TYPE_PAIR);
        token->w2 = u32(series_index(st, start) + 1);
        token->w3 = u32(series_index(st, end) + 1);
    }
    for (i32 i = 0; i < st->tracer_locals; i++) {
        Cell* l = stack::push_slot();
        if (i == 0) {
            logic::make_at(l, false);
        } else {
            cell::init(l, TYPE_NONE);
        }
    }
    Cell callback = st->tracer;
    collector::RootCell keep(callback);
    call_callback(&keep.value, args);
    // A callback that moved its input moves the position, within the input.
    // The text scanned is the input as it was: a move to the input's tail, or
    // past it once the callback cut it, ends the scan (a position taken in
    // the cut input would rewind it, and a callback that cuts and skips on
    // each call would never end).
    const Cell* moved = args + 1;
    if (TYPE_OF(&st->input_series) != TYPE_NONE && series::same_series_q(moved, &st->input_series) &&
        moved->w1 != u32(series_index(st, at))) {
        i32 index = i32(moved->w1);
        const u8* p = index >= series::abs_length(series::buffer_of(moved)) ? st->input_end
                                                                              : byte_position(st, index);
        if (p < st->input_start) p = st->input_start;
        if (p > st->input_end) p = st->input_end;
        st->position = p;
    }
    u32 rt = TYPE_OF(args);
    return !(rt == TYPE_NONE || (rt == TYPE_LOGIC && !logic::get(args)));
}

void report_load(State* st, i32 type, const u8* start, const u8* end) {
    if (!tracing_q(st) || st->out_tail <= st->level_head) return;
    collector::RootCell value(*out_at(st->out_tail - 1));
    if (!call_tracer(st, EVENT_LOAD, type, &value.value, start, end)) drop_last(st);
}

// --- Entry points ---------------------------------------------------------------------------

void init() {
    if (!out_cells) {
        out_capacity = OUTPUT_START;
        out_cells = static_cast<Cell*>(std::malloc(size_t(out_capacity) * sizeof(Cell)));
        conversion = static_cast<u8*>(std::malloc(size_t(CONVERSION_SIZE)));
        blank_bits = static_cast<u8*>(std::calloc(BLANK_BITS_SIZE, 1));
        if (!out_cells || !conversion || !blank_bits) fire(ERR_INTERNAL, "no-memory");
        for (u32 cp : BLANK_CODE_POINTS) blank_bits[cp >> 3] |= u8(0x80 >> (cp & 7));
        register_pairs();
    }
    active_head = active_tail = nullptr;
    conversion_used = 0;
    cell::init(&exit_states, TYPE_NONE);
    if (!registered) {
        collector::register_(mark_roots);
        registered = true;
    }
    block::load_text = [](const Cell* text, Cell* result) {
        string_to_block(result, text, -1, Options{}, nullptr, nullptr, nullptr);
    };
    money::string_to_money = [](const u8* text, i32 length, u32 unit, bool* error, Cell* result) {
        i32 code = 0;
        lexer::string_to_money(text, length, unit, &code, result);
        *error = code != 0;
    };
}

void mark_roots() {
    collector::mark_values(&exit_states, &exit_states + 1);
    for (State* st = active_head; st; st = st->next_state) {
        collector::mark_values(out_at(st->out_base), out_at(st->out_tail));
        collector::mark_values(&st->tracer, &st->tracer + 1);
        collector::mark_values(&st->input_series, &st->input_series + 1);
    }
}

i32 transcode(Cell* dst, const u8* src, i64 size, Options o, i32* consumed, const Cell* callback,
              const Cell* input, Cell* output) {
    State st;
    std::memset(static_cast<void*>(&st), 0, sizeof st);
    link(&st);
    struct Unlink {
        State* st;
        ~Unlink() { unlink(st); }
    } unlink_guard{&st};
    st.level_head = st.out_tail = st.out_base;
    st.input_start = st.position = st.token_start = st.token_end = src;
    st.input_end = src + size;
    st.line = 1;
    st.type_hint = -1;
    st.loading = o.scan && o.load;
    cell::init(&st.tracer, TYPE_UNSET);
    cell::init(&st.input_series, TYPE_NONE);
    if (input) {
        st.input_series = *input;
        st.input_head = input->w1;
    }
    if (callback_q(callback)) {
        st.tracer = *callback;
        read_callback(&st);
        // The events give positions as character indexes: in a text of
        // ASCII only they are the byte offsets, with nothing to count.
        if (string_input_q(&st)) {
            u8 high = 0;
            for (const u8* p = src; p < src + size; p++) high |= *p;
            st.ascii_text = high < 0x80;
        }
    }
    auto store_consumed = [&] {
        if (consumed) *consumed = series_index(&st, st.position) - i32(st.input_head);
    };

    CollectionPause pause(plain_load_q(o, callback));
    bool stopped = false;
    try {
        scan_loop(&st, o.one, !o.scan);
    } catch (const Stop&) {
        stopped = true;
    }

    i32 count = st.out_tail - st.out_base;
    if (!stopped && count > 0) {
        Cell* inner = st.level_head > st.out_base ? out_at(st.level_head - 1) : out_at(st.out_base);
        if (!o.scan && st.start_state == S_PATH_COMPONENT && st.final_state != F_ERROR) {
            st.token_type = marker_kind(inner);
        } else if (marker_q(inner)) {
            st.missing_kind = marker_kind(inner);
            if (!st.loading) {
                cell::init(dst, TYPE_NONE);
                store_consumed();
                return TYPE_ERROR;
            }
            try {
                throw_error(&st, st.input_start + inner->w3, st.input_end, KIND_MISSING_END);
            } catch (const Stop&) {
                stopped = true;
            }
        }
    }
    if (st.loading && !stopped) {
        count = st.out_tail - st.out_base;
        if (output) {
            for (i32 i = 0; i < count; i++) {
                Cell c = *out_at(st.out_base + i);
                block::zs_append(output, &c);
                if (o.one && !o.wrap) break;
            }
        } else if (o.one && !o.wrap && count > 0) {
            *dst = *out_at(st.out_base);
        } else {
            Cell made;
            cell::init(&made, TYPE_UNSET);
            block::make_at(&made, count < 1 ? 1 : count);
            SeriesBuffer* s = node_buffer(made.w2);
            std::memcpy(series::head_cells(s), out_at(st.out_base), size_t(count) * sizeof(Cell));
            s->tail = s->offset + u32(count) * sizeof(Cell);
            *dst = made;
        }
    } else if (!st.loading) {
        cell::init(dst, TYPE_NONE);
    }
    store_consumed();
    return st.token_type;
}

namespace {

// A piece of the conversion area, taken last-in-first-out, or a buffer of its
// own when the area cannot hold the text.
struct Conversion {
    u8* bytes = nullptr;
    i64 taken = 0;
    bool own = false;
    explicit Conversion(i64 need) {
        if (conversion_used + need <= CONVERSION_SIZE) {
            bytes = conversion + conversion_used;
            taken = need;
            conversion_used += need;
        } else {
            bytes = static_cast<u8*>(std::malloc(size_t(need)));
            if (!bytes) fire(ERR_INTERNAL, "no-memory");
            own = true;
        }
    }
    ~Conversion() {
        if (own) {
            std::free(bytes);
        } else {
            conversion_used -= taken;
        }
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
};

// Text of one byte a character (code points up to FF) as UTF-8: the bytes
// below 80 stay as they are, the others take two bytes. Eight bytes are
// looked at a time while none of them is above 7F.
constexpr u64 HIGH_BITS = 0x8080808080808080ull;

i64 latin1_utf8_size(const u8* p, i64 n) {
    i64 size = n, i = 0;
    for (; i + 8 <= n; i += 8) {
        u64 w;
        std::memcpy(&w, p + i, 8);
        size += __builtin_popcountll(w & HIGH_BITS);
    }
    for (; i < n; i++) size += p[i] >> 7;
    return size;
}

u8* latin1_to_utf8(const u8* p, i64 n, u8* out) {
    i64 i = 0;
    while (i < n) {
        u64 w;
        if (i + 8 <= n && (std::memcpy(&w, p + i, 8), (w & HIGH_BITS) == 0)) {
            std::memcpy(out, &w, 8);
            out += 8;
            i += 8;
            continue;
        }
        u8 c = p[i++];
        if (c < 0x80) {
            *out++ = c;
        } else {
            *out++ = u8(0xC0 | (c >> 6));
            *out++ = u8(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

i32 string_to_block(Cell* dst, const Cell* text, i32 length, Options o, i32* consumed, const Cell* callback,
                    Cell* output) {
    Cell input = *text;
    collector::RootCell keep(input);
    SeriesBuffer* s = series::buffer_of(&input);
    u32 unit = series::unit_of(s);
    i32 n = series::rest_length(&input);
    if (length >= 0 && length < n) n = length;
    const u8* from = series::element_at(s, series::head_index(&input));
    if (TYPE_OF(&input) == TYPE_BINARY) {
        // A plain load holds collections back (CollectionPause), so nothing
        // moves the binary's buffer: its bytes are scanned where they lie.
        if (plain_load_q(o, callback)) return transcode(dst, from, n, o, consumed, callback, &keep.value, output);
        Conversion copy(i64(n) + 1);
        std::memcpy(copy.bytes, from, size_t(n));
        copy.bytes[n] = 0;
        return transcode(dst, copy.bytes, n, o, consumed, callback, &keep.value, output);
    }
    if (unit == 1) {
        Conversion copy(latin1_utf8_size(from, n) + 1);
        u8* out = latin1_to_utf8(from, n, copy.bytes);
        *out = 0;
        return transcode(dst, copy.bytes, out - copy.bytes, o, consumed, callback, &keep.value, output);
    }
    i64 need = unicode::utf8_size_of(from, from + i64(n) * unit, unit);
    Conversion copy(need + 1);
    u8* out = copy.bytes;
    for (i32 i = 0; i < n; i++) out += unicode::cp_to_utf8(string::get_char(from + i64(i) * unit, unit), out);
    *out = 0;
    return transcode(dst, copy.bytes, out - copy.bytes, o, consumed, callback, &keep.value, output);
}

void load_one_into(const Cell* text, Cell* target) {
    Cell* saved = stack::top;
    struct Restore {
        Cell* top;
        ~Restore() { stack::top = top; }
    } restore{saved};
    Cell* result = stack::push_slot();
    cell::init(result, TYPE_UNSET);
    Options o;
    o.one = true;
    o.wrap = true;
    i32 consumed = 0;
    string_to_block(result, text, -1, o, &consumed, nullptr, nullptr);
    i32 length = TYPE_OF(text) == TYPE_BINARY ? series::rest_length(text) : string::zs_length(text);
    // What is left after the value must be filler only.
    for (i32 i = consumed; i < length; i++) {
        u32 c = TYPE_OF(text) == TYPE_BINARY ? series::element_at(series::buffer_of(text), series::head_index(text) + i)[0]
                                             : string::get_char_at(text, series::head_index(text) + i);
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            cell::init(target, TYPE_NONE);
            return;
        }
    }
    if (block::zs_length_q(result) < 1) {
        cell::init(target, TYPE_UNSET);
        return;
    }
    *target = *block::zs_head(result);
}

Cell* load_one(const Cell* text) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    load_one_into(text, c);
    return c;
}

}  // namespace lexer
}  // namespace zir
