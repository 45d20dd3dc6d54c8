// The parse dialect's engine: see parse.hpp.
//
// Frames on the rule stack are three cells:
//   block frame (a rule block entered): none!, the position record, the
//     enclosing rule block (put back when this one ends);
//   rule frame (a repetition or command waiting for its sub-rule): the
//     bounds record (a triple! minimum, maximum, count) or, for copy and
//     set, the target word; the position record; the command record, a
//     pair! (word 1: the input's head index when the command began, word 2:
//     the command, word 3: its extra value).
// The position record is a triple!: the rule index the frame belongs to,
// the input's head index and its length from there, at entry.
//
// Positions restored from a frame are clamped to their series' tail: a
// paren may have shortened any rule block or input since the frame was
// pushed. A rule that fails leaves the input where it began: a repetition
// that falls short of its minimum puts it back, so an enclosing rule never
// goes on from input that a failed rule consumed.
#include "evaluator/parse.hpp"

#include <cstring>
#include <vector>

#include "boot/roots.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/triple.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace parse {

u32 input_stack = 0;
u32 rule_stack = 0;
i32 input_head = 0;
i32 rule_head = 0;
i64 round_budget = 0;

namespace {

// --- Keywords and events -------------------------------------------------------

struct Symbols {
    i32 bar, skip, any, some, copy, to, thru, remove, break_, opt, keep, fail, ahead, while_, into, insert, change,
        end, if_, not_, quote, collect, case_, reject, set, none, pick, only, after;
    i32 push, pop, fetch, match, iterate, paren, end_event, callback;
};
Symbols sym;

// Whether a canonical symbol is one of the keywords the rules dispatch on
// (not the modifiers such as pick or only, which only follow a keyword).
std::vector<u8> keywords;
inline bool keyword_q(i32 s) { return u32(s) < keywords.size() && keywords[size_t(s)] != 0; }

enum Event { EV_PUSH, EV_POP, EV_FETCH, EV_MATCH, EV_ITERATE, EV_PAREN, EV_END };

// Command codes of a rule frame.
enum Command : i32 {
    CMD_NONE = 0,
    CMD_REPEAT = -1,
    CMD_TO = -2,
    CMD_THRU = -3,
    CMD_COPY = -4,
    CMD_SET = -5,
    CMD_NOT = -6,
    CMD_INTO = -7,
    CMD_REMOVE = -9,
    CMD_WHILE = -11,
    CMD_COLLECT = -12,
    CMD_KEEP = -13,
    CMD_AHEAD = -16,
    CMD_CHANGE = -17,
    CMD_CHANGE_ONLY = -18,
    CMD_CASE = -19,
};

// The states of the engine's loop.
enum State {
    ENTER_BLOCK,
    LEAVE_BLOCK,
    PUSH_RULE,
    END_RULE,
    CHECK_PENDING,
    DISPATCH_RULE,   // fetch the rule at the position, then DISPATCH_VALUE
    NEXT_INPUT,
    NEXT_RULE,
    MATCH_VALUE,
    MATCH_SUBRULE,   // fetch the sub-rule at the position, then SUBRULE_VALUE
    FIND_ALTERNATIVE,
    KEYWORD,
    FINISH,
    DISPATCH_VALUE,
    SUBRULE_VALUE,
    STOP,
};

constexpr i32 CELL = i32(sizeof(Cell));

// --- The stacks ------------------------------------------------------------------------

inline SeriesBuffer* buf(u32 node) { return node_buffer(node); }
// Both stacks and every rule block hold cells of 16 bytes: no unit to look up.
inline i32 cells(u32 node) {
    const SeriesBuffer* s = buf(node);
    return i32((s->tail - s->offset) >> 4);
}
inline Cell* cell_at(u32 node, i32 i) { return block::cell_at(node, i); }

// The cells on the rule stack, kept as the stack changes (only this file
// changes it: cut, append_to and new_frame), so that the engine's steps need
// not read its buffer for it.
i32 rule_cells = 0;

i32 input_cells = 0;   // the same for the input stack

inline i32 stack_cells(u32 node) {
    i32 n = node == rule_stack ? rule_cells : input_cells;
#ifdef ZIR_STRESS
    if (n != cells(node)) fire(ERR_INTERNAL, "not-done");
#endif
    return n;
}

inline void cut(u32 node, i32 n) {
    buf(node)->tail = u32(n * CELL);
    (node == rule_stack ? rule_cells : input_cells) = n;
}

inline i32 frame_cells() { return stack_cells(rule_stack) - rule_head; }
// The top frame's first cell (valid until the next allocation).
inline Cell* top_frame() { return cell_at(rule_stack, stack_cells(rule_stack) - 3); }
inline bool rule_frame_q(const Cell* f) { return TYPE_OF(f + 2) == TYPE_PAIR; }
inline bool top_rule_frame_q() { return frame_cells() >= 3 && rule_frame_q(top_frame()); }
// Whether the rule being dispatched is the sub-rule of the command on top,
// fetched again for another round: repetitions and to/thru searches go back
// to their command and take the sub-rule afresh, as a sub-rule still.
inline bool rerun_sub_rule_q() {
    if (!top_rule_frame_q()) return false;
    i32 cmd = i32(top_frame()[2].w2);
    return cmd == CMD_REPEAT || cmd == CMD_WHILE || cmd == CMD_TO || cmd == CMD_THRU;
}

Cell* append_to(u32 node) {
    SeriesBuffer* s = buf(node);
    (node == rule_stack ? rule_cells : input_cells)++;
    return memory::alloc_tail_buffer(s);
}

void reset_stacks(bool saved) {
    cut(rule_stack, rule_head);
    cut(input_stack, input_head);
    if (saved && rule_head > 0) {
        const Cell* record = cell_at(rule_stack, rule_head - 1);
        i32 r = i32(record->w1), in = i32(record->w2);
        cut(rule_stack, rule_head - 1);
        rule_head = r;
        input_head = in;
    }
}

// A parse already running: its frames are set aside behind a record.
bool save_stacks() {
    if (frame_cells() <= 0 && stack_cells(input_stack) - input_head <= 0) return false;
    Cell* record = append_to(rule_stack);
    triple::make_at(record, rule_head, input_head, 0);
    rule_head = stack_cells(rule_stack);
    input_head = stack_cells(input_stack);
    return true;
}

// --- Text helpers ------------------------------------------------------------------

inline u32 fold(u32 cp) {
    if (cp < 0x80) return cp - 'a' < 26 ? cp - 32 : cp;
    return case_folding::to_upper_char(cp);
}

inline bool bit_q(const u8* bits, i64 nbits, bool complemented, u32 cp) {
    if (i64(cp) >= nbits) return complemented;
    return (bits[cp >> 3] & u8(0x80u >> (cp & 7))) != 0;
}

inline bool text_rule_q(u32 t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF;
}

// --- The engine ------------------------------------------------------------------------

struct Engine {
    // Working cells on the value stack (they never move).
    Cell* in;          // the input, its head index the current position
    Cell* rules;       // the current rule block
    Cell* val;         // the rule value being dispatched
    Cell* tmp;         // scratch for values held across allocations
    Cell* callback;    // function! or none!
    Cell* copied;      // the word of the copy that ended last
    Cell* result;      // the result cell (a top-level collect's block goes above it)
    i32 rpos = -1;
    i32 op = 0;
    i32 limit = 0;
    bool match = true;
    bool end = false;
    i32 cmd = CMD_NONE, min = -1, max = -1, extra = 0;
    i32 rec_at = 0;    // rule index a command's frame records (its sub-rule follows)
    bool pop = false, brk = false, completed = false, collected = false, sub_rule = false;
    i32 brk_at = -1;   // with brk: the rule stack index of the repetition it stops
    i32 collect_depth = 0;
    i32 ended_cmd = CMD_NONE;   // the command whose frame was dropped last,
    i32 ended_at = -1;          // and the frame cells left on the rule stack then
    i32 callback_locals = 0;
    // Frame cells of the commands run in place around the rule being matched
    // (see simple_command): counted by the stack check and the record of the
    // last command ended as if they were on the rule stack.
    i32 held = 0;
    bool saved = false;
    i64 rounds_left = 0;        // see round_budget; 0 when there is none

    // Input geometry.
    i32 pos() const { return i32(in->w1); }
    void set_pos(i32 p) { in->w1 = u32(p); }
    i32 in_tail() const { return series::abs_length(series::buffer_of(in)); }
    bool outermost_input() const { return stack_cells(input_stack) - input_head <= 1; }
    // Where matching must stop: the tail, or the limit when it comes first
    // (the limit belongs to the outermost input only).
    i32 stop_at() const { return stop_for(in_tail()); }
    // stop_at with the input's tail known.
    i32 stop_for(i32 t) const { return limit > 0 && limit < t && outermost_input() ? limit : t; }
    void recompute_end() { end = pos() >= stop_at(); }
    i32 rest() const {
        i32 n = in_tail() - pos();
        return n > 0 ? n : 0;
    }
    i32 rtail() const { return cells(rules->w2); }
    const Cell* rule_q(i32 i) const { return i >= 0 && i < rtail() ? cell_at(rules->w2, i) : nullptr; }
};

[[noreturn]] void fail_with(Engine&, const char* id, const Cell* arg = nullptr) { fire(ERR_SCRIPT, id, arg); }

void keyword_word(i32 symbol, Cell* out) { series::make_word(out, symbol); }

[[noreturn]] void parse_end(Engine& e, i32 symbol) {
    Cell w;
    keyword_word(symbol, &w);
    fail_with(e, "parse-end", &w);
}

// (`dropped`: cells of frames about to be dropped before the new one.)
[[noreturn, gnu::cold, gnu::noinline]] void stack_limit() { fire(ERR_SCRIPT, "parse-stack"); }
inline void check_stacks(i32 dropped = 0) {
    if (stack_cells(rule_stack) - dropped + 3 > STACK_LIMIT - 1 || stack_cells(input_stack) >= STACK_LIMIT)
        stack_limit();
}

// Room for a frame's three cells at the rule stack's tail. The cells are
// written in place afterwards: a frame's payload built in a local cell and
// copied over would be read back as wider words than it was written in.
Cell* new_frame() {
    check_stacks();
    SeriesBuffer* s = buf(rule_stack);
    rule_cells += 3;
    if (s->tail + u32(3 * CELL) <= s->size) {
        // Room at the tail, the usual case: what alloc_tail_bytes does then.
        u8* p = series::tail(s);
        s->tail += u32(3 * CELL);
        return reinterpret_cast<Cell*>(p);
    }
    return reinterpret_cast<Cell*>(memory::alloc_tail_bytes(s, 3 * CELL));
}

inline void set_cell(Cell* c, u32 type, i32 a, i32 b, i32 d) {
    cell::init(c, type);
    c->w1 = u32(a);
    c->w2 = u32(b);
    c->w3 = u32(d);
}

void drop_frame() { cut(rule_stack, stack_cells(rule_stack) - 3); }

// What dropping a command's frame leaves, for a command matched without one
// (which still makes the stack check first, as opening the frame would).
// `stop` is the engine's stop_at, unchanged since the match (no user code ran).
void end_frameless(Engine& e, i32 stop) {
    e.ended_cmd = e.cmd;
    e.ended_at = frame_cells() + e.held;
    e.end = e.pos() >= stop;
}

// --- Calling back into the language ---------------------------------------------------

// Evaluates a paren (held in a stack cell); answers its result in `out`.
void eval_paren(const Cell* paren, Cell* out) {
    i32 saved = input_head;
    input_head = stack_cells(input_stack);
    Cell* mark = stack::top;
    struct Back {
        i32 saved;
        ~Back() { input_head = saved; }
    } back{saved};
    interpreter::eval_block(paren, false);
    stack::raise_pending();
    *out = *mark;
    stack::top = mark;
}

// Calls the trace callback; false when it asks the parse to stop.
bool call_callback(Engine& e, Event event) {
    static const i32* names[] = {&sym.push, &sym.pop, &sym.fetch, &sym.match, &sym.iterate, &sym.paren, &sym.end_event};
    Cell* saved_top = stack::top;
    // The rule block at the current rule, and a copy of the frames.
    Cell* rule = stack::push(e.rules);
    i32 t = e.rtail();
    rule->w1 = u32(e.rpos < 0 ? 0 : e.rpos > t ? t : e.rpos);
    Cell* frames = stack::push_slot();
    cell::init(frames, TYPE_UNSET);
    i32 n = frame_cells() > 0 ? frame_cells() : 0;
    block::make_at(frames, n);
    for (i32 i = 0; i < n; i++) *memory::alloc_tail(frames) = *cell_at(rule_stack, rule_head + i);
    Cell input = *e.in;
    Cell rule_copy = *rule, frames_copy = *frames;
    stack::top = saved_top;

    i32 saved_head = input_head;
    input_head = stack_cells(input_stack);
    struct Back {
        i32 saved;
        ~Back() { input_head = saved; }
    } back{saved_head};
    Cell* fn = stack::push(e.callback);
    stack::mark_func(u32(sym.callback), 0, fn->w1);
    Cell* w = stack::push_slot();
    series::make_word(w, *names[event]);
    logic::make_at(stack::push_slot(), e.match);
    stack::push(&rule_copy);
    stack::push(&input);
    stack::push(&frames_copy);
    interpreter::fill_frame(fn, 5);
    Cell name;
    series::make_word(&name, sym.callback);
    interpreter::call_function(fn, 0, &name, 0);
    Cell answer = *stack::arguments;
    stack::unwind_func_last();
    stack::top = saved_top;
    stack::raise_pending();
    return logic::truthy_q(&answer, false, nullptr);
}

// --- Matching at the input position ------------------------------------------------

// Compares a value of block input with a rule value.
bool compare_value(const Engine& e, const Cell* value, const Cell* rule) {
    u32 t = TYPE_OF(rule);
    i32 op = e.op;
    if (t == TYPE_LIT_WORD || t == TYPE_LIT_PATH) op = e.op == COMP_STRICT_EQUAL ? COMP_PARSE_CASE : COMP_PARSE;
    return actions::compare(value, rule, op);
}

// Whether the rule value matches the input at absolute index p, without
// passing `stop`; `adv` gets the elements matched.
bool match_at(const Engine& e, i32 p, i32 stop, const Cell* rule, i32* adv) {
    u32 it = TYPE_OF(e.in), rt = TYPE_OF(rule);
    if (any_block_q(it)) {
        if (p >= stop) return false;
        if (!compare_value(e, cell_at(e.in->w2, p), rule)) return false;
        *adv = 1;
        return true;
    }
    SeriesBuffer* s = series::buffer_of(e.in);
    if (it == TYPE_BINARY) {
        if (p >= stop) return false;
        const u8* b = series::head(s);
        if (rt == TYPE_CHAR) {
            if (b[p] != rule->w2) return false;
            *adv = 1;
            return true;
        }
        if (rt == TYPE_BITSET) {
            if (!bitset::has_q(rule, b[p])) return false;
            *adv = 1;
            return true;
        }
        if (rt != TYPE_BINARY && !any_text_q(rt)) return false;
        i32 len = series::rest_length(rule);
        if (i64(p) + len > stop) return false;
        Cell at = *e.in;
        at.w1 = u32(p);
        if (!binary::match_value_q(&at, rule, e.op)) return false;
        *adv = len;
        return true;
    }
    // Text input.
    u32 unit = series::unit_of(s);
    const u8* text = series::head(s);
    bool strict = e.op == COMP_STRICT_EQUAL;
    if (rt == TYPE_CHAR) {
        if (p >= stop) return false;
        u32 c = string::get_char(text + i64(p) * unit, unit), v = rule->w2;
        if (!(c == v || (!strict && fold(c) == fold(v)))) return false;
        *adv = 1;
        return true;
    }
    if (rt == TYPE_BITSET) {
        if (p >= stop) return false;
        if (!bitset::has_q(rule, string::get_char(text + i64(p) * unit, unit))) return false;
        *adv = 1;
        return true;
    }
    bool tag = rt == TYPE_TAG;
    if (!tag && !text_rule_q(rt)) return false;
    SeriesBuffer* r = series::buffer_of(rule);
    i32 len = series::rest_length(rule);
    i64 need = i64(len) + (tag ? 2 : 0);
    if (i64(p) + need > stop) return false;
    i32 q = p;
    if (tag) {
        if (string::get_char(text + i64(q) * unit, unit) != '<') return false;
        if (string::get_char(text + (i64(q) + len + 1) * unit, unit) != '>') return false;
        q++;
    }
    u32 ru = series::unit_of(r);
    const u8* rp = series::head(r) + i64(series::head_index(rule)) * ru;
    const u8* ip = text + i64(q) * unit;
    if (ru == 1 && unit == 1 && strict) {
        if (std::memcmp(ip, rp, size_t(len)) != 0) return false;
    } else if (ru == 1 && unit == 1) {
        for (i32 i = 0; i < len; i++) {
            u32 a = ip[i], b = rp[i];
            if (a != b && fold(a) != fold(b)) return false;
        }
    } else {
        for (i32 i = 0; i < len; i++) {
            u32 a = string::get_char(ip + i64(i) * unit, unit), b = string::get_char(rp + i64(i) * ru, ru);
            if (a != b && (strict || fold(a) != fold(b))) return false;
        }
    }
    *adv = i32(need);
    return true;
}

// The literal match of state MATCH_VALUE (`stop` the engine's stop_at).
bool match_value(Engine& e, i32 stop) {
    if (e.end) {
        u32 rt = TYPE_OF(e.val);
        return any_text_q(TYPE_OF(e.in)) && (rt == TYPE_STRING || rt == TYPE_FILE || rt == TYPE_URL) &&
               series::rest_length(e.val) == 0;
    }
    i32 adv = 0;
    if (!match_at(e, e.pos(), stop, e.val, &adv)) return false;
    e.set_pos(e.pos() + adv);
    return true;
}

// A datatype! or typeset! rule on binary input: the datatype of the value the
// lexer would load from the position; on a match the input moves past it.
bool match_type(Engine& e) {
    i32 p = e.pos(), stop = e.stop_at();
    if (p >= stop) return false;
    SeriesBuffer* s = series::buffer_of(e.in);
    std::vector<u8> bytes(series::head(s) + p, series::head(s) + stop);
    stack::KeepTop keep;
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    i32 consumed = 0;
    lexer::Options o;
    o.one = true;
    try {
        lexer::transcode(out, bytes.data(), i64(bytes.size()), o, &consumed, nullptr, nullptr, nullptr);
    } catch (const LanguageError& err) {
        if (err.category == ERR_SYNTAX) return false;
        throw;
    }
    u32 t = TYPE_OF(out);
    if (t == TYPE_UNSET || consumed <= 0) return false;
    bool ok = TYPE_OF(e.val) == TYPE_DATATYPE ? e.val->w1 == t : typeset::has_q(e.val, t);
    if (ok) e.set_pos(p + consumed);
    return ok;
}

// `to`/`thru` over a literal: the first place from the position where it
// matches. Answers false (position unchanged) when there is none.
// The first byte c (ASCII) in text[p, stop), or either case of it when it is
// a letter and `strict` is off; null when there is none.
inline const u8* scan_byte(const u8* text, i32 p, i32 stop, i32 c, bool strict) {
    if (p >= stop) return nullptr;
    u32 lower = u32(c) | 0x20;
    if (strict || lower - 'a' >= 26) return static_cast<const u8*>(std::memchr(text + p, c, size_t(stop - p)));
    const u8* q = text + p;
    const u8* end = text + stop;
    while (q < end && (*q | 0x20) != lower) q++;
    return q == end ? nullptr : q;
}

// The one ASCII character a char! or a one-character text of one-byte
// units stands for as a rule; -1 for anything else.
inline i32 ascii_rule_char(const Cell* v, u32 rt) {
    if (rt == TYPE_CHAR) return v->w2 < 0x80 ? i32(v->w2) : -1;
    if (!text_rule_q(rt)) return -1;
    SeriesBuffer* r = series::buffer_of(v);
    i32 h = series::head_index(v);
    if (series::unit_of(r) != 1 || series::abs_length(r) - h != 1) return -1;
    u8 c = series::head(r)[h];
    return c < 0x80 ? i32(c) : -1;
}

// The common delimiter, one ASCII character in a one-byte string: a byte
// scan, for either case of a letter unless /case is on. What find_value
// answers (0 or 1), or -1 (nothing done) for every other rule or input.
// find_byte's scan once the byte c is known to apply.
inline bool scan_to(Engine& e, bool thru, i32 stop, i32 c) {
    const u8* text = series::head(series::buffer_of(e.in));
    const u8* q = scan_byte(text, e.pos(), stop, c, e.op == COMP_STRICT_EQUAL);
    if (!q) return false;
    i32 p = i32(q - text);
    e.set_pos(thru ? p + 1 : p);
    return true;
}
// The byte find_byte scans for with a rule value over the input, or -1.
inline i32 search_byte(const Engine& e, const Cell* v) {
    if (TYPE_OF(e.in) != TYPE_STRING || series::unit_of(series::buffer_of(e.in)) != 1) return -1;
    return ascii_rule_char(v, TYPE_OF(v));
}
inline i32 find_byte(Engine& e, bool thru, i32 stop) {
    i32 c = search_byte(e, e.val);
    if (c < 0) return -1;
    return scan_to(e, thru, stop, c) ? 1 : 0;
}

[[gnu::noinline]] bool find_general(Engine& e, bool thru, i32 stop);
inline bool find_value(Engine& e, bool thru, i32 stop) {
    i32 found = find_byte(e, thru, stop);
    return found >= 0 ? found != 0 : find_general(e, thru, stop);
}

// find_value for everything but find_byte's case.
bool find_general(Engine& e, bool thru, i32 stop) {
    u32 rt = TYPE_OF(e.val), it = TYPE_OF(e.in);
    bool ok = false;
    if (any_block_q(it)) ok = true;
    else if (rt == TYPE_CHAR || rt == TYPE_BITSET || rt == TYPE_TAG || text_rule_q(rt)) ok = true;
    else if (rt == TYPE_BINARY) ok = true;
    if (!ok) fail_with(e, "parse-rule", e.val);
    i32 p = e.pos();
    i32 adv = 0;
    if (it != TYPE_BINARY && any_text_q(it)) {
        SeriesBuffer* s = series::buffer_of(e.in);
        u32 unit = series::unit_of(s);
        const u8* text = series::head(s);
        bool strict = e.op == COMP_STRICT_EQUAL;
        if (unit == 1) {
            // The same byte scan for the other one-byte text types.
            i32 c = ascii_rule_char(e.val, rt);
            if (c >= 0) {
                const u8* q = scan_byte(text, p, stop, c, strict);
                if (!q) return false;
                p = i32(q - text);
                adv = 1;
                goto found;
            }
        }
        if (rt == TYPE_CHAR || (text_rule_q(rt) && series::rest_length(e.val) > 0)) {
            // Candidates are found by the first code point.
            u32 first = rt == TYPE_CHAR ? e.val->w2 : string::get_char_at(e.val, series::head_index(e.val));
            u32 folded = fold(first);
            bool exact = strict || (fold(first) == first && case_folding::change_char(first, 0) == first);
            u32 lower = first | 0x20;
            bool ascii_letter = lower >= 'a' && lower <= 'z';
            // One code point: a candidate found is the match.
            bool single = rt == TYPE_CHAR || series::rest_length(e.val) == 1;
            for (; p < stop; p++) {
                if (unit == 1 && !exact && ascii_letter) {
                    // In one-byte text only the letter's two cases fold to it.
                    const u8* q = text + p;
                    const u8* end = text + stop;
                    while (q < end && (*q | 0x20) != lower) q++;
                    if (q == end) break;
                    p = i32(q - text);
                } else if (unit == 1 && exact && first < 0x100) {
                    const void* hit = std::memchr(text + p, int(first), size_t(stop - p));
                    if (!hit) break;
                    p = i32(static_cast<const u8*>(hit) - text);
                } else {
                    u32 c = string::get_char(text + i64(p) * unit, unit);
                    if (!(c == first || (!strict && fold(c) == folded))) continue;
                }
                if (single) {
                    adv = 1;
                    goto found;
                }
                if (match_at(e, p, stop, e.val, &adv)) goto found;
            }
            return false;
        }
    }
    for (; p <= stop; p++) {
        if (p == stop) {
            // Only an empty text matches at the end.
            if (any_text_q(it) && text_rule_q(rt) && series::rest_length(e.val) == 0) {
                adv = 0;
                goto found;
            }
            break;
        }
        if (match_at(e, p, stop, e.val, &adv)) goto found;
    }
    return false;
found:
    e.set_pos(thru ? p + adv : p);
    return true;
}

// A repetition of one literal: as many matches as there are before `stop`
// (the engine's stop_at), up to `max` (-1: no maximum); answers the count.
i32 repeat_value(Engine& e, i32 max, i32 stop) {
    i32 p = e.pos(), count = 0;
    u32 it = TYPE_OF(e.in), rt = TYPE_OF(e.val);
    auto more = [&]() { return max < 0 || count < max; };
    if (it != TYPE_BINARY && any_text_q(it) && (rt == TYPE_CHAR || rt == TYPE_BITSET)) {
        SeriesBuffer* s = series::buffer_of(e.in);
        u32 unit = series::unit_of(s);
        const u8* text = series::head(s);
        if (rt == TYPE_CHAR) {
            bool strict = e.op == COMP_STRICT_EQUAL;
            u32 v = e.val->w2, fv = fold(v);
            while (p < stop && more()) {
                u32 c = string::get_char(text + i64(p) * unit, unit);
                if (!(c == v || (!strict && fold(c) == fv))) break;
                p++;
                count++;
            }
        } else {
            const SeriesBuffer* b = series::buffer_of(e.val);
            const u8* bits = series::data(b) + b->offset;
            i64 nbits = i64(series::used_bytes(b)) * 8;
            bool complemented = (b->flags & SERIES_COMPLEMENT) != 0;
            if (unit == 1) {
                // Bytes: the run's end, bounded by the maximum when there is one.
                i32 last = max < 0 || stop - p <= max ? stop : p + max;
                i32 from = p;
                if (nbits >= 256) {
                    while (p < last && (bits[text[p] >> 3] & u8(0x80u >> (text[p] & 7))) != 0) p++;
                } else {
                    while (p < last && bit_q(bits, nbits, complemented, text[p])) p++;
                }
                count = p - from;
            } else {
                while (p < stop && more() && bit_q(bits, nbits, complemented, string::get_char(text + i64(p) * unit, unit))) {
                    p++;
                    count++;
                }
            }
        }
    } else {
        i32 adv = 0;
        while (more() && match_at(e, p, stop, e.val, &adv)) {
            count++;
            if (adv == 0) break;   // an empty text: one match is all there is
            p += adv;
        }
    }
    e.set_pos(p);
    return count;
}

// Whether a sub-rule value of this type is matched by a command in one call
// (repeat_value, find_value) rather than dispatched as a rule of its own.
inline bool plain_literal_q(u32 t) {
    switch (t) {
        case TYPE_BLOCK:
        case TYPE_INTEGER:
        case TYPE_PAREN:
        case TYPE_TYPESET:
        case TYPE_DATATYPE:
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_GET_WORD:
        case TYPE_PATH:
            return false;
        default:
            return true;
    }
}

// The literal a command's sub-rule `v` stands for, when the command matches
// it in one call: such a value, or a word of the rules (no keyword) whose
// value is one. Null for everything else, a word without a value included:
// those take the frame path, which reports them. The cell is valid until the
// next allocation.
const Cell* literal_subrule(const Cell* v) {
    u32 t = TYPE_OF(v);
    if (t == TYPE_WORD) {
        if (keyword_q(symbol::resolve(i32(v->w2)))) return nullptr;
        v = interpreter::word_value_q(v);
        if (!v) return nullptr;
        t = TYPE_OF(v);
        if (t == TYPE_UNSET) return nullptr;
    }
    return plain_literal_q(t) ? v : nullptr;
}

// --- Values the commands use ----------------------------------------------------------------

// The value of a word, `no-value` when it has none.
void word_value(const Cell* word, Cell* out) {
    const Cell* v = interpreter::word_value_q(word);
    if (!v) v = context::get(word);
    if (TYPE_OF(v) == TYPE_UNSET) fire(ERR_SCRIPT, "no-value", word);
    *out = *v;
}

// The value of a word or get-word when it is the input series itself (the
// same datatype and buffer): its head index; else -1.
i32 input_position_of(const Engine& e, const Cell* word) {
    u32 t = TYPE_OF(word);
    if (t != TYPE_WORD && t != TYPE_GET_WORD) return -1;
    const Cell* v = interpreter::word_value_q(word);
    if (!v || !series::same_series_q(v, e.in)) return -1;
    i32 h = series::head_index(v), tail = e.in_tail();
    return h > tail ? tail : h;
}

// The value of an insert or change: a paren's result, a word's value, or
// the value as it stands; into `out`.
void command_value(Engine& e, const Cell* v, Cell* out) {
    u32 t = TYPE_OF(v);
    if (t == TYPE_PATH) fail_with(e, "parse-rule", v);
    if (t == TYPE_PAREN) {
        *e.tmp = *v;
        eval_paren(e.tmp, out);
        if (TYPE_OF(e.callback) != TYPE_NONE && !call_callback(e, EV_PAREN)) return;
    } else if (t == TYPE_WORD) {
        word_value(v, out);
    } else {
        *out = *v;
    }
}

// The element of the input at an absolute index as a value.
void element_of(const Engine& e, i32 index, Cell* out) {
    const Cell* v = series::element_value(e.in, index, out);
    if (v != out) *out = *v;
}

// A copy of the input from `from` (absolute) for n elements, into `out` (a stack cell).
[[gnu::always_inline]] inline void copy_part(const Engine& e, i32 from, i32 n, Cell* out) {
    if (TYPE_OF(e.in) == TYPE_STRING || TYPE_OF(e.in) == TYPE_BINARY) {
        // What the series copy action does for a part of n from `from`.
        SeriesBuffer* s = series::buffer_of(e.in);
        i64 abs = series::abs_length(s), start = from, count = n;
        if (start > abs) start = abs;
        if (start + count > abs) count = abs - start;
        u32 header = TYPE_OF(e.in) | (e.in->header & FLAG_NEW_LINE);
        u32 node = memory::copy_series_part(s, start, count);
        out->header = header;
        out->w1 = 0;
        out->w2 = node;
        out->w3 = 0;
        return;
    }
    Cell* src = stack::push(e.in);
    src->w1 = u32(from);
    Cell* part = stack::push_slot();
    integer::make_at(part, n);
    Cell* res = stack::push_slot();
    cell::init(res, TYPE_NONE);
    actions::copy(src, res, part, false, nullptr);
    *out = *res;
    stack::top = src;
}

// --- Collecting ----------------------------------------------------------------------------

// Stores a kept value in the current collection: the value-stack top is a
// block (a plain collection) or a target marker (get-word! for into,
// refinement! for after) above the target series.
void keep_value(const Cell* value, bool only) {
    Cell* top = stack::top - 1;
    u32 t = TYPE_OF(top);
    Cell* v = stack::push(value);
    if (t == TYPE_GET_WORD || t == TYPE_REFINEMENT) {
        Cell* target = top - 1;
        Cell* at = stack::push(target);
        if (t == TYPE_REFINEMENT) at->w1 = u32(series::abs_length(series::buffer_of(target)));
        actions::insert(at, v, nullptr, only, nullptr);
        // Into a position: it moves past what went in, which the insert
        // answers (the target's owner may have changed the target meanwhile).
        if (t == TYPE_GET_WORD) target->w1 = at->w1;
    } else {
        SeriesBuffer* b = series::buffer_of(top);
        if (TYPE_OF(top) == TYPE_BLOCK && !(b->flags & SERIES_OWNED) && (only || !any_block_q(TYPE_OF(v)))) {
            // One cell at the tail of a plain collection: what the insert
            // comes to (no owner to tell, nothing spread).
            Cell* c = memory::alloc_tail(top);
            *c = *v;
        } else {
            Cell* at = stack::push(top);
            at->w1 = u32(series::abs_length(b));
            actions::insert(at, v, nullptr, only, nullptr);
        }
    }
    stack::top = v;
}

// Whether a collect into/after target fits the input.
bool target_fits(const Cell* target, const Cell* input) {
    u32 t = TYPE_OF(target), it = TYPE_OF(input);
    if (!any_series_q(t) || t == TYPE_VECTOR || t == TYPE_IMAGE) return false;
    if (t == it || any_block_q(t)) return true;
    if (any_text_q(t)) return any_text_q(it) || it == TYPE_BINARY;
    if (t == TYPE_BINARY) return it == TYPE_BINARY;
    return false;
}

// --- Commands ---------------------------------------------------------------------------

// Opens the frame of the command in e.cmd (with e.min, e.max, e.extra and
// e.rec_at) and moves the rule position onto its sub-rule. A keep forgets
// the command that ended last: only a copy that is its own sub-rule hands it
// the copied value (not one that ended at the same depth before it, in a
// block of its own).
void push_rule(Engine& e) {
    if (e.cmd == CMD_KEEP) e.ended_cmd = CMD_NONE;
    Cell* f = new_frame();
    i32 p = e.pos();
    if (e.cmd == CMD_COPY || e.cmd == CMD_SET) {
        f[0] = *cell_at(e.rules->w2, e.rec_at);
    } else {
        i32 low = e.cmd == CMD_TO || e.cmd == CMD_THRU ? p : e.cmd == CMD_CASE ? e.extra : e.min;
        set_cell(f, TYPE_TRIPLE, low, e.max, 1);
    }
    set_cell(f + 1, TYPE_TRIPLE, e.rec_at, p, e.rest());
    set_cell(f + 2, TYPE_PAIR, p, e.cmd, e.cmd == CMD_CASE ? 0 : e.extra);
    e.rpos = e.rec_at + 1;
}

// After a word was set the long way (a change handler, user code, may have
// shortened the input): the position within the input's tail, as after a
// paren, and the end worked out again. Else a repetition that began its
// round at the tail (clamped there) sees the position past it as progress,
// and goes round for ever.
void clamp_input(Engine& e) {
    i32 tail = e.in_tail();
    if (e.pos() > tail) e.set_pos(tail);
    e.recompute_end();
}

// The end of a copy or set (`word` its word, read before anything
// allocates; `start` where it began, within the input): on a match the word
// gets the part matched.
// False when the word was set the long way (an object's field, whose
// change handlers run user code).
[[gnu::always_inline]] inline bool end_copy(Engine& e, const Cell* word, i32 cmd, i32 start) {
    if (!e.match) return true;
    *e.copied = *word;
    i32 n = e.pos() - start;
    if (cmd == CMD_COPY) {
        copy_part(e, start, n > 0 ? n : 0, e.tmp);
    } else if (n > 0) {
        element_of(e, start, e.tmp);
    } else {
        cell::init(e.tmp, TYPE_NONE);
    }
    bool plain = true;
    if (Cell* c = context::plain_value_cell(e.copied)) {
        *c = *e.tmp;   // all that set does for such a word
    } else {
        Cell* w = stack::push(e.copied);
        context::set(w, e.tmp);
        stack::top = w;
        plain = false;
        clamp_input(e);
    }
    if (cmd == CMD_SET) cell::init(e.copied, TYPE_NONE);
    return plain;
}

// The end of a keep whose frame is on top, or is held in place for `held`
// cells (`start` where it began, `extra` its pick flag): what the sub-rule
// matched is kept. False when it went into a series other than a collection
// of the engine's (whose owner may run user code on the change).
bool end_keep(Engine& e, i32 start, i32 extra, i32 held) {
    if (!e.match) return true;
    i32 n = e.pos() - start;
    if (e.ended_cmd == CMD_COPY && e.ended_at == frame_cells() + held && TYPE_OF(e.copied) != TYPE_NONE) {
        word_value(e.copied, e.tmp);
        keep_value(e.tmp, true);
    } else if (n > 1 && extra) {
        for (i32 i = 0; i < n; i++) {
            element_of(e, start + i, e.tmp);
            keep_value(e.tmp, true);
        }
    } else if (n > 1) {
        copy_part(e, start, n, e.tmp);
        keep_value(e.tmp, true);
    } else if (n == 1) {
        element_of(e, start, e.tmp);
        keep_value(e.tmp, true);
    }
    const Cell* top = stack::top - 1;
    return TYPE_OF(top) == TYPE_BLOCK && !(series::buffer_of(top)->flags & SERIES_OWNED);
}

// --- The loop ----------------------------------------------------------------------------

// The state CHECK_PENDING moves to: a command waiting for the rule that just
// ended, the next alternative after a failure, else the next rule.
inline State after_rule(const Engine& e) {
    return top_rule_frame_q() ? END_RULE : !e.match ? FIND_ALTERNATIVE : NEXT_RULE;
}

// Enters the rule block in e.val: its frame, and the rule position before
// its first rule.
void enter_block(Engine& e) {
    Cell* f = new_frame();
    i32 p = e.pos(), tail = e.in_tail();
    cell::init(f, TYPE_NONE);
    set_cell(f + 1, TYPE_TRIPLE, e.rpos, p, tail > p ? tail - p : 0);
    f[2] = *e.rules;
    // (The block's words read from the cell it is copied from.)
    u32 node = e.val->w2;
    i32 h = i32(e.val->w1);
    *e.rules = *e.val;
    i32 t = cells(node);
    e.rpos = (h < t ? h : t) - 1;
    e.match = true;
    e.end = p >= e.stop_for(tail);
}

// Leaves the block whose frame is on top (not the outermost one): the
// enclosing rule block back, at the rule that entered it.
void leave_block(Engine& e) {
    Cell* f = top_frame();
    u32 node = f[2].w2;
    *e.rules = f[2];
    i32 at = i32(f[1].w1);
    drop_frame();
    i32 t = cells(node);
    e.rpos = at < t ? at : t;
}

// The rule stack index of a frame's first cell.
inline i32 frame_index(const Cell* f) { return i32(f - cell_at(rule_stack, 0)); }

// The frame of the repetition nearest the top of the rule stack (the one a
// break or reject stops), as its index; -1 when no repetition is open.
i32 enclosing_repeat() {
    for (i32 i = stack_cells(rule_stack) - 3; i >= rule_head; i -= 3) {
        const Cell* f = cell_at(rule_stack, i);
        if (!rule_frame_q(f)) continue;
        i32 cmd = i32(f[2].w2);
        if (cmd == CMD_REPEAT || cmd == CMD_WHILE) return i;
    }
    return -1;
}

// Whether the repetition whose frame is `f` goes round again after a round
// that ended as e.match tells (`tail`, `p` and `rest`: the input's tail,
// position, and elements from there): not past its maximum, not after a
// round of a repetition other than while that consumed nothing, not after a
// break that stops it.
bool repeat_goes_on(const Engine& e, const Cell* f, i32 tail, i32 p, i32 rest) {
    i32 start = i32(f[1].w2), start_len = i32(f[1].w3);
    if (start > tail) start = tail;
    i32 mx = i32(f[0].w2), count = i32(f[0].w3);
    bool cont = e.match;
    if (mx != -1) cont = cont && count < mx;
    if (i32(f[2].w2) != CMD_WHILE && p == start && start_len <= rest) cont = false;
    return cont && !(e.brk && frame_index(f) == e.brk_at);
}

// A round of the repetition whose frame `f` is on top has ended (e.match
// telling how): true when another round begins (the rule position on the
// command, so that the next rule is its sub-rule again); else the
// repetition's answer is in e.match and the input where it leaves it.
bool end_repeat(Engine& e, Cell* f) {
    i32 at = i32(f[1].w1), start = i32(f[1].w2);
    i32 tail = e.in_tail(), p = e.pos();
    i32 rest = tail > p ? tail - p : 0;
    if (start > tail) start = tail;
    i32 mn = i32(f[0].w1), count = i32(f[0].w3);
    bool cont = repeat_goes_on(e, f, tail, p, rest);
    if (frame_index(f) == e.brk_at) {
        e.brk = false;
        e.brk_at = -1;
    }
    if (cont) {
        f[1].w2 = u32(p);
        f[1].w3 = u32(rest);
        f[0].w3 = u32(count + 1);
        i32 t = e.rtail();
        e.rpos = at < t ? at : t;
        e.pop = false;
        return true;
    }
    if (!e.match) {
        e.set_pos(start);   // the failed round consumes nothing
        e.match = count - 1 >= mn || mn == 0;
    } else if (count < mn) {
        e.match = false;
    }
    if (!e.match) {
        i32 origin = i32(f[2].w1);
        e.set_pos(origin < tail ? origin : tail);
    }
    return false;
}

// next_round_in_place once its frames are found to fit (`b` the block's
// frame, the repetition's below it). `tail` is the input's tail and `stop`
// where matching stops, `rtail` the rule block's tail; `checked` tells that
// the stack check is known to pass.
[[gnu::always_inline]] inline bool next_round(Engine& e, Cell* b, i32 tail, i32 stop, i32 rtail, bool checked) {
    Cell* f = b - 3;
    i32 p = e.pos();
    i32 rest = tail > p ? tail - p : 0;
    if (!repeat_goes_on(e, f, tail, p, rest)) return false;
    if (!checked) check_stacks(3);
    e.completed = e.rpos >= rtail;
    // The round ends (end_repeat)...
    f[1].w2 = u32(p);
    f[1].w3 = u32(rest);
    f[0].w3 = f[0].w3 + 1;
    e.pop = false;
    // ... and the block is entered again (enter_block).
    b[1].w2 = u32(p);
    b[1].w3 = u32(rest);
    *e.val = *e.rules;
    i32 h = i32(e.rules->w1);
    e.rpos = (h < rtail ? h : rtail) - 1;
    e.match = true;
    e.end = p >= stop;
    return true;
}

// At the end of a block that is the sub-rule of a repetition going round
// again (untraced, no round budget): the next round begins in the block,
// its frame kept and brought up to date, which is what leaving the block,
// ending the round and entering the same block again come to. False, with
// nothing done, in every other case (the block no longer where the round
// found it included).
bool next_round_in_place(Engine& e) {
    if (frame_cells() < 6 || e.rounds_left > 0) return false;
    Cell* b = top_frame();
    Cell* f = b - 3;
    if (!rule_frame_q(f)) return false;
    i32 cmd = i32(f[2].w2);
    if (cmd != CMD_REPEAT && cmd != CMD_WHILE) return false;
    i32 at = i32(f[1].w1);
    if (i32(b[1].w1) != at + 1) return false;
    u32 outer = b[2].w2;
    if (at + 1 >= cells(outer)) return false;
    const Cell* c = cell_at(outer, at + 1);
    const Cell* r = e.rules;
    if (c->header != r->header || c->w1 != r->w1 || c->w2 != r->w2 || c->w3 != r->w3) return false;
    i32 tail = e.in_tail();
    return next_round(e, b, tail, e.stop_for(tail), e.rtail(), false);
}

// The command `cmd` whose frame is on top is done: its frame dropped.
// What end_command leaves for a command run without a frame, `held` the
// frame cells still counted in place around it.
// (`recompute`: false when nothing has moved the input or its end since
// e.end was last worked out.)
void end_in_place(Engine& e, i32 cmd, i32 held, bool recompute = true) {
    if (cmd != CMD_COPY) cell::init(e.copied, TYPE_NONE);
    e.ended_cmd = cmd;
    e.ended_at = frame_cells() + held;
    if (recompute) e.recompute_end();
}
void end_command(Engine& e, i32 cmd) {
    drop_frame();
    end_in_place(e, cmd, 0);
}

// The command fields of a repetition (any, some, opt, while) at the rule
// position, and of a to/thru search.
void set_repeat(Engine& e, i32 s) {
    e.cmd = s == sym.while_ ? CMD_WHILE : CMD_REPEAT;
    e.min = s == sym.some ? 1 : 0;
    e.max = s == sym.opt ? 1 : -1;
    e.rec_at = e.rpos;
}
void set_search(Engine& e, i32 s) {
    e.cmd = s == sym.to ? CMD_TO : CMD_THRU;
    e.min = e.max = -1;
    e.rec_at = e.rpos;
}

// A repetition or search over one literal, untraced (the command's fields
// set, the stack check made, `stop` the engine's stop_at): matched here,
// without the frame the general path opens and drops around it; the rule
// position moves onto the literal.
void repeat_frameless(Engine& e, const Cell* lit, i32 stop) {
    *e.val = *lit;
    e.rpos++;
    i32 origin = e.pos();
    i32 count = repeat_value(e, e.max, stop);
    e.match = count >= e.min || e.min == 0;
    if (!e.match) e.set_pos(origin);
    end_frameless(e, stop);
}
// (`byte`: search_byte for the literal when known, else -1.)
[[gnu::always_inline]] inline void search_frameless(Engine& e, const Cell* lit, i32 stop, i32 byte = -1) {
    *e.val = *lit;
    e.rpos++;
    bool thru = e.cmd == CMD_THRU;
    e.match = byte >= 0 ? scan_to(e, thru, stop, byte) : find_value(e, thru, stop);
    end_frameless(e, stop);
}

// --- Rule blocks decoded for the untraced loop ---------------------------------------

// What a rule is to run_simple.
enum RuleKind : u8 {
    RK_OTHER,     // anything the states take
    RK_LITERAL,   // a value matched as it is
    RK_WORD,      // a word that is no keyword (its value is the rule)
    RK_BAR,
    RK_BLOCK,
    RK_PAREN,
    RK_ANY,
    RK_SOME,
    RK_OPT,
    RK_WHILE,
    RK_TO,
    RK_THRU,
    RK_KEEP,
    RK_COPY,
    RK_SKIP,
};

// A rule block as run_simple reads it: a copy of its cells and the kind of
// each, and where the next `|` is from each position. It stands for the
// block while the block holds the very same cells: found equal again by
// comparing them whenever user code may have run since (the epoch moved on).
//
// What can be told of a rule from the block alone is worked out when it is
// decoded: the cell a rule matched without a frame reads its literal from
// (`lit`), and for keep and copy the forms simple_command runs (`sub`, the
// index of their sub-rule, and `word`, the index of the copy's word).
constexpr i32 DECODED_CELLS = 64;
constexpr u8 NO_INDEX = 0xFF;
constexpr u8 LIT_WORD = 0x80;   // in `lit`: the cell is a word, its value the literal
struct Decoded {
    u32 node = 0;   // 0: unused
    u64 epoch = 0;
    i32 count = 0;
    Cell cells[DECODED_CELLS];
    u8 kind[DECODED_CELLS];
    u8 next_bar[DECODED_CELLS + 1];
    u8 lit[DECODED_CELLS];    // NO_INDEX, or the literal's index (| LIT_WORD)
    u8 sub[DECODED_CELLS];    // keep, copy: NO_INDEX when not a form run in place
    u8 word[DECODED_CELLS];   // keep, copy: NO_INDEX when there is no copy
    u64 copies;               // the indexes whose `word` is not NO_INDEX
};
Decoded decoded[8];

// Moves on whenever user code may have changed a rule block: a paren ran,
// or the states ran (anything may have happened there).
u64 epoch = 1;   // (64 bits: never wraps round onto an old one)

RuleKind rule_kind(const Cell* c) {
    u32 t = TYPE_OF(c);
    if (t == TYPE_WORD) {
        i32 s = symbol::resolve(i32(c->w2));
        if (!keyword_q(s)) return RK_WORD;
        return s == sym.bar     ? RK_BAR
               : s == sym.any   ? RK_ANY
               : s == sym.some  ? RK_SOME
               : s == sym.opt   ? RK_OPT
               : s == sym.while_ ? RK_WHILE
               : s == sym.to    ? RK_TO
               : s == sym.thru  ? RK_THRU
               : s == sym.keep  ? RK_KEEP
               : s == sym.copy  ? RK_COPY
               : s == sym.skip  ? RK_SKIP
                                : RK_OTHER;
    }
    if (t == TYPE_BLOCK) return RK_BLOCK;
    if (t == TYPE_PAREN) return RK_PAREN;
    return plain_literal_q(t) ? RK_LITERAL : RK_OTHER;
}

// The index of the literal a value at index i stands for as a sub-rule:
// itself, a word of the rules (looked up when used), or none.
u8 literal_index(const Decoded& d, i32 i) {
    if (i >= d.count) return NO_INDEX;
    if (d.kind[i] == RK_LITERAL) return u8(i);
    if (d.kind[i] == RK_WORD) return u8(i | LIT_WORD);
    return NO_INDEX;
}

// The plan of the rule at index i of a block whose kinds are decoded.
void plan_rule(Decoded& d, i32 i) {
    d.lit[i] = d.sub[i] = d.word[i] = NO_INDEX;
    switch (d.kind[i]) {
        case RK_LITERAL:
        case RK_SKIP: d.lit[i] = u8(i); break;
        case RK_WORD: d.lit[i] = u8(i | LIT_WORD); break;
        case RK_ANY:
        case RK_SOME:
        case RK_OPT:
        case RK_WHILE:
        case RK_TO:
        case RK_THRU: d.lit[i] = literal_index(d, i + 1); break;
        case RK_KEEP:
        case RK_COPY: {
            // keep RULE, keep copy WORD RULE, copy WORD RULE; not keep pick
            // nor a copy lacking its word or sub-rule (the states report those).
            i32 sub = i + 1, w = -1;
            bool keep = d.kind[i] == RK_KEEP;
            if (keep) {
                if (sub >= d.count) return;
                if (d.kind[sub] == RK_WORD && symbol::resolve(i32(d.cells[sub].w2)) == sym.pick) return;
                if (d.kind[sub] == RK_COPY) w = sub++;
            } else {
                w = i;
            }
            if (w >= 0) {
                if (sub + 1 >= d.count || !any_word_q(TYPE_OF(&d.cells[sub]))) return;
                d.word[i] = u8(sub);
                sub++;
            }
            d.sub[i] = u8(sub);
            break;
        }
        default: break;
    }
}

// decoded_rules for a block not checked in this epoch: found the same as
// when decoded, or decoded again.
[[gnu::noinline]] Decoded* decode_rules(u32 node) {
    Decoded& d = decoded[node & 7];
    const SeriesBuffer* b = buf(node);
    i32 n = i32((b->tail - b->offset) >> 4);
    if (n > DECODED_CELLS) return nullptr;
    const Cell* c = reinterpret_cast<const Cell*>(series::data(b) + b->offset);
    if (d.node == node && d.count == n && std::memcmp(d.cells, c, size_t(n) * sizeof(Cell)) == 0) {
        d.epoch = epoch;
        return &d;
    }
    d.node = node;
    d.epoch = epoch;
    d.count = n;
    std::memcpy(d.cells, c, size_t(n) * sizeof(Cell));
    d.next_bar[n] = u8(n);
    for (i32 i = n - 1; i >= 0; i--) {
        d.kind[i] = rule_kind(&d.cells[i]);
        d.next_bar[i] = d.kind[i] == RK_BAR ? u8(i) : d.next_bar[i + 1];
    }
    d.copies = 0;
    for (i32 i = 0; i < n; i++) {
        plan_rule(d, i);
        if (d.word[i] != NO_INDEX) d.copies |= u64(1) << i;
    }
    return &d;
}

// The current rule block decoded; null when it is too long for it.
inline Decoded* decoded_rules(const Engine& e) {
    u32 node = e.rules->w2;
    Decoded& d = decoded[node & 7];
    if (d.node == node && d.epoch == epoch) return &d;
    return decode_rules(node);
}

// Whether the rule at index i of a decoded block is one that
// match_frameless matches without a frame of its own (a literal, a word of
// one, skip, or a repetition or search of one): the literal it matches (the
// rule itself for skip), valid until the next allocation; else null.
inline const Cell* frameless_literal(const Decoded& d, i32 i) {
    u8 l = d.lit[i];
    if (l == NO_INDEX) return nullptr;
    const Cell* c = &d.cells[l & ~LIT_WORD];
    if (!(l & LIT_WORD)) return c;
    const Cell* v = interpreter::word_value_q(c);
    if (!v || TYPE_OF(v) == TYPE_UNSET || !plain_literal_q(TYPE_OF(v))) return nullptr;
    return v;
}

// Matches the rule at index r of a decoded block, `lit` what
// frameless_literal answered for it (nothing allocated since). `stop` is the
// engine's stop_at; `checked` tells that the stack check a repetition or
// search makes is known to pass; `byte` is search_byte for the literal when
// known (-1: not known, or none).
[[gnu::always_inline]] inline void match_frameless(Engine& e, const Decoded& d, i32 r, const Cell* lit, i32 stop, bool checked, i32 byte = -1) {
    RuleKind k = RuleKind(d.kind[r]);
    switch (k) {
        case RK_SKIP:
            *e.val = *lit;   // the word, as the states dispatch it
            e.extra = 0;
            if (e.end) {
                e.match = false;
            } else {
                e.match = true;
                e.set_pos(e.pos() + 1);
                e.end = e.pos() >= stop;
            }
            return;
        case RK_LITERAL:
        case RK_WORD:
            if (k == RK_WORD) e.extra = 0;
            *e.val = *lit;
            e.match = match_value(e, stop);
            e.end = e.pos() >= stop;
            return;
        default: {
            // The fields set_repeat and set_search give the command.
            e.extra = 0;
            e.rec_at = e.rpos;
            bool search = k == RK_TO || k == RK_THRU;
            e.cmd = k == RK_TO ? CMD_TO : k == RK_THRU ? CMD_THRU : k == RK_WHILE ? CMD_WHILE : CMD_REPEAT;
            e.min = k == RK_SOME ? 1 : search ? -1 : 0;
            e.max = k == RK_OPT ? 1 : -1;
            if (!checked) check_stacks(-e.held);
            if (search) search_frameless(e, lit, stop, byte);
            else repeat_frameless(e, lit, stop);
            return;
        }
    }
}

// After a rule failed in a block: the input back where the block began, and
// the rule position on the next `|`; false when there is none (the rule
// position is then at the block's tail).
bool find_alternative(Engine& e, const Decoded* d = nullptr) {
    Cell* f = top_frame();
    i32 start = i32(f[1].w2), tail = e.in_tail();
    i32 p0 = start < tail ? start : tail;
    e.set_pos(p0);
    e.end = p0 >= e.stop_for(tail);
    i32 t = e.rtail();
    i32 p = e.rpos < 0 ? 0 : e.rpos;
    if (d && p <= d->count) {
        p = d->next_bar[p];
        if (p < t) {
            e.rpos = p;
            e.match = true;
            return true;
        }
        e.rpos = t;
        return false;
    }
    for (; p < t; p++) {
        const Cell* c = cell_at(e.rules->w2, p);
        if (TYPE_OF(c) == TYPE_WORD && symbol::resolve(i32(c->w2)) == sym.bar) {
            e.rpos = p;
            e.match = true;
            return true;
        }
    }
    e.rpos = t;
    return false;
}

// After a paren: the rule position and the input clamped to what it left.
void after_paren(Engine& e) {
    i32 t = e.rtail();
    if (e.rpos > t - 1) e.rpos = t - 1;
    clamp_input(e);
}

// The end of the keep or copy whose frame is on top, as END_RULE has it;
// false when user code may have run.
bool end_simple_command(Engine& e, i32 cmd) {
    Cell* f = top_frame();
    e.pop = true;
    i32 extra = i32(f[2].w3), start = i32(f[1].w2), tail = e.in_tail();
    if (start > tail) start = tail;
    bool plain = cmd == CMD_KEEP ? end_keep(e, start, extra, 0) : end_copy(e, f, cmd, start);
    end_command(e, cmd);
    return plain;
}

// What simple_command finds out about the keep or copy at index r of a
// decoded block before it runs it.
// (No initial values: run_rounds keeps one for every rule of a block and
// sets them only for the rules it plans.)
struct CommandForm {
    i32 sub, w;   // the sub-rule's index, the copy keyword's (r when there is none)
    bool keep, copy;
    bool in_place;   // its frames held (see simple_command)
};

// The form of the keep or copy at index r; false for every form
// simple_command leaves to the states (but for the sub-rule, which the
// caller looks at). Nothing is allocated.
bool command_form(const Engine& e, const Decoded& d, i32 r, CommandForm& f) {
    i32 sub = d.sub[r];
    if (sub == NO_INDEX) return false;
    f.keep = d.kind[r] == RK_KEEP;
    if (f.keep && e.collect_depth == 0) return false;
    f.sub = sub;
    f.copy = d.word[r] != NO_INDEX;
    f.w = f.copy ? d.word[r] - 1 : r;
    f.in_place = true;
    if (f.copy && !context::plain_value_cell(&d.cells[f.w + 1])) f.in_place = false;
    if (f.keep) {
        const Cell* top = stack::top - 1;
        if (TYPE_OF(top) != TYPE_BLOCK || (series::buffer_of(top)->flags & SERIES_OWNED)) f.in_place = false;
    }
    return true;
}

// run_command for a form whose frames are held in place (f.in_place).
[[gnu::always_inline]] inline void run_command_held(Engine& e, const Decoded& d, i32 r, const CommandForm& f,
                                                    const Cell* lit, i32 stop, bool checked, i32 byte) {
    const bool keep = f.keep, copy = f.copy;
    const i32 sub = f.sub, w = f.w;
    e.extra = 0;
    e.min = e.max = -1;
    i32 held = (keep ? 3 : 0) + (copy ? 3 : 0);
    if (!checked) check_stacks(3 - held);   // as opening the last frame would
    if (keep) e.ended_cmd = CMD_NONE;   // as push_rule does
    e.cmd = copy ? CMD_COPY : CMD_KEEP;
    e.rec_at = copy ? w + 1 : r;
    e.rpos = sub;
    i32 start = e.pos();
    e.held = held;
    match_frameless(e, d, sub, lit, stop, checked, byte);
    e.held = 0;
    bool plain = true;
    if (copy) {
        e.pop = true;
        plain = end_copy(e, &d.cells[w + 1], CMD_COPY, start);
        if (keep) {
            // What end_in_place records; the keep's end works out e.end.
            e.ended_cmd = CMD_COPY;
            e.ended_at = frame_cells() + 3;
        } else {
            end_in_place(e, CMD_COPY, 0, !plain);
        }
    }
    if (keep) {
        e.pop = true;
        if (copy && plain && e.match) {
            // The copy just ended, its word set to e.tmp as it is: the
            // value end_keep would read back from the word, going where
            // keep_value puts it (the collection on top, checked above).
            Cell* c = memory::alloc_tail(stack::top - 1);
            *c = *e.tmp;
        } else {
            plain = end_keep(e, start, 0, 3) && plain;
        }
        end_in_place(e, CMD_KEEP, 0, !plain);
    }
    if (!plain) epoch++;
}

// Runs the keep or copy at index r (the rule position), of the form `f`,
// its sub-rule matching `lit`. `lit_kept` tells that `lit` is a cell of the
// caller's that nothing moves; else it is read again after the frames are
// opened. `stop`, `checked` and `byte` as for match_frameless, the checks of
// the frames held included.
void run_command(Engine& e, const Decoded& d, i32 r, const CommandForm& f, const Cell* lit, bool lit_kept, i32 stop,
                 bool checked, i32 byte = -1) {
    if (f.in_place) {
        run_command_held(e, d, r, f, lit, stop, checked, byte);
        return;
    }
    const bool keep = f.keep, copy = f.copy;
    const i32 sub = f.sub, w = f.w;
    e.extra = 0;
    e.min = e.max = -1;
    if (keep) {
        e.cmd = CMD_KEEP;
        e.rec_at = r;
        push_rule(e);
    }
    if (copy) {
        e.cmd = CMD_COPY;
        e.rec_at = w + 1;
        push_rule(e);
    }
    // (The literal read again: the frames may have allocated.)
    match_frameless(e, d, sub, lit_kept ? lit : frameless_literal(d, sub), stop, checked, lit_kept ? byte : -1);
    bool plain = true;
    if (copy) plain = end_simple_command(e, CMD_COPY);
    if (keep) plain = end_simple_command(e, CMD_KEEP) && plain;
    if (!plain) epoch++;
}

// `keep` or `copy word` (or `keep copy word`) at the rule position of a
// decoded block whose sub-rule is one frameless_literal accepts, run without
// going through the states. When nothing in the command's end may run user
// code (a word set as it is, a value kept in a collection of the engine's),
// its frames are held in place (e.held) instead of opened and dropped,
// every engine field left as the states leave it; else they are opened and
// ended around the sub-rule as the states do. False, with nothing done, for
// every other form (keep outside a collect, keep pick, keep of a paren, copy
// lacking its word or sub-rule, a sub-rule that needs the states).
// `stop` and `checked` as for match_frameless.
bool simple_command(Engine& e, const Decoded& d, i32 stop, bool checked) {
    CommandForm f;
    if (!command_form(e, d, e.rpos, f)) return false;
    const Cell* lit = frameless_literal(d, f.sub);
    if (!lit) return false;
    run_command(e, d, e.rpos, f, lit, false, stop, checked);
    return true;
}

// The rule at the rule position of a decoded block run in place by
// run_simple; false when it needs the states (nothing done then).
bool simple_rule(Engine& e, const Decoded& d, i32 stop, bool checked) {
    i32 r = e.rpos;
    switch (d.kind[r]) {
        case RK_KEEP:
        case RK_COPY:
            return simple_command(e, d, stop, checked);
        case RK_PAREN:
            *e.val = d.cells[r];
            eval_paren(e.val, e.tmp);
            epoch++;
            after_paren(e);
            return true;
        default: {
            const Cell* lit = frameless_literal(d, r);
            if (!lit) return false;
            match_frameless(e, d, r, lit, stop, checked);
            return true;
        }
    }
}

// A rule of a decoded block as run_rounds runs it, found out once for all
// its rounds: what simple_rule would find out every time (the literal, the
// command's form, the byte a search of the literal scans for). While no user code runs, those stay as they are: the
// literal of a word of the rules, kept as a copy of its value, too, unless
// a copy of the block sets that very word.
struct Step {
    Cell lit;
    CommandForm form;
    i32 byte;   // search_byte for the literal
};

// Whether a word's value cell (`v`) is the one a copy of the block sets;
// true too when a copy's word has no value cell.
bool copied_word_q(const Decoded& d, const Cell* v) {
    for (u64 m = d.copies; m; m &= m - 1) {
        const Cell* c = interpreter::word_value_q(&d.cells[d.word[__builtin_ctzll(m)]]);
        if (!c || c == v) return true;
    }
    return false;
}

// The step of the rule at index r (one of the kinds simple_rule runs but a
// paren); false when simple_rule must find it out each time.
bool plan_step(const Engine& e, const Decoded& d, i32 r, Step& s) {
    i32 at = r;   // where the literal matched is
    if (d.kind[r] == RK_KEEP || d.kind[r] == RK_COPY) {
        if (!command_form(e, d, r, s.form)) return false;
        at = s.form.sub;
    }
    const Cell* lit = frameless_literal(d, at);
    if (!lit) return false;
    if ((d.lit[at] & LIT_WORD) && d.lit[at] != NO_INDEX && copied_word_q(d, lit)) return false;
    s.lit = *lit;
    s.byte = search_byte(e, lit);
    return true;
}

// The rounds of a repetition of a decoded block run back to back, from the
// start of a round that next_round_in_place began (the block's frame on
// top, the repetition's below it): the rules that run_simple runs in place
// are run here the same way, without finding out again for every rule what
// cannot change while no user code runs and no frame is opened. That is
// the frames around the block and the block itself (user code alone could
// change them: the epoch tells), where matching stops, and the stack
// check, made once for the deepest frame a rule here may count (a held
// keep and copy and a search or repetition: nine cells; if that could fail
// the rounds are left to run_simple, whose checks then fail where they
// would). A paren runs here too: then the block is decoded again as it now
// stands, the plans and where matching stops found out afresh, and the
// next round begins only after next_round_in_place has looked at the frames
// and the rules around the block again. A rule that fails goes on at the
// next alternative. Answers the state run_simple goes on with, everything
// as it would have left it: NEXT_RULE before a rule it must run itself (the
// rule position on the one before), LEAVE_BLOCK when no alternative is left
// or at the end of a round that does not go round again, and after a rule
// or paren that leaves it otherwise, what follows that rule.
State run_rounds(Engine& e, const Decoded& d) {
    if (stack_cells(rule_stack) + 9 > STACK_LIMIT - 1 || stack_cells(input_stack) >= STACK_LIMIT) return NEXT_RULE;
    i32 tail = e.in_tail(), stop = e.stop_for(tail);
    u64 at_start = epoch;
    bool clean = true;   // no user code has run since the round began in place
    i32 n = d.count;
    // The rules planned so far (see plan_step), by index.
    Step steps[DECODED_CELLS];
    u64 known = 0, planned = 0;
    for (;;) {
        i32 r = e.rpos + 1;
        RuleKind k = r < n ? RuleKind(d.kind[r]) : RK_BAR;
        if (k == RK_BAR) {
            // The block's end, or an alternative matched: another round
            // begins in place, or the states that follow LEAVE_BLOCK take
            // over. After user code the frames and the rules around the
            // block are looked at again.
            if (r < n) e.match = true;
            e.rpos = n;
            if (clean ? !next_round(e, top_frame(), tail, stop, n, true) : !next_round_in_place(e)) return LEAVE_BLOCK;
            clean = true;
            continue;
        }
        e.rpos = r;
        u64 bit = u64(1) << r;
        if (planned & bit) {
            const Step& step = steps[r];
            if (k != RK_KEEP && k != RK_COPY) match_frameless(e, d, r, &step.lit, stop, true, step.byte);
            else if (step.form.in_place) run_command_held(e, d, r, step.form, &step.lit, stop, true, step.byte);
            else run_command(e, d, r, step.form, &step.lit, true, stop, true, step.byte);
        } else if (k == RK_PAREN) {
            // As simple_rule runs it; then the block is decoded again as it
            // now stands, into the same place (else run_simple goes on).
            *e.val = d.cells[r];
            eval_paren(e.val, e.tmp);
            epoch++;
            after_paren(e);
            if (decoded_rules(e) != &d) return after_rule(e);
            n = d.count;
            if (stack_cells(rule_stack) + 9 > STACK_LIMIT - 1 || stack_cells(input_stack) >= STACK_LIMIT)
                return after_rule(e);
            tail = e.in_tail();
            stop = e.stop_for(tail);
            at_start = epoch;
            clean = false;
            known = planned = 0;
            continue;   // (a paren leaves e.match as it was: true)
        } else if (k == RK_OTHER || k == RK_BLOCK) {
            e.rpos = r - 1;
            return NEXT_RULE;
        } else if (!(known & bit)) {
            known |= bit;
            e.rpos = r - 1;   // (planned: the same rule again)
            if (plan_step(e, d, r, steps[r])) planned |= bit;
            continue;
        } else if (!simple_rule(e, d, stop, true)) {
            e.rpos = r - 1;
            return NEXT_RULE;
        }
        if (epoch != at_start) return after_rule(e);
        if (!e.match && !find_alternative(e, &d)) return LEAVE_BLOCK;
    }
}

// Untraced, the engine's loop for the rules that need no more than literals,
// words of literals, repetitions and searches of one literal (frameless),
// parens, bars, blocks and rounds of repetitions: the states NEXT_RULE,
// CHECK_PENDING, FIND_ALTERNATIVE, ENTER_BLOCK, LEAVE_BLOCK and END_RULE (for
// a repetition) without their trace events, which are all this loop leaves
// out. Answers the state to go on with for anything else; for a rule, the
// one NEXT_RULE would choose, with the rule fetched.
State run_simple(Engine& e) {
    State at = NEXT_RULE;
    epoch++;   // the states ran before
    for (;;) {
        switch (at) {
            case NEXT_RULE: {
                const Decoded* d = decoded_rules(e);
                i32 t = d ? d->count : e.rtail();
                if (e.rpos < t) e.rpos++;
                if (e.rpos >= t) {
                    e.rpos = t;
                    at = top_rule_frame_q() ? END_RULE : LEAVE_BLOCK;
                    break;
                }
                RuleKind k = d ? RuleKind(d->kind[e.rpos]) : RK_OTHER;
                if (k == RK_BAR) {
                    // The alternative matched: the block is done.
                    e.rpos = t;
                    e.match = true;
                    at = top_rule_frame_q() ? END_RULE : LEAVE_BLOCK;
                } else if (k == RK_BLOCK) {
                    *e.val = d->cells[e.rpos];
                    enter_block(e);
                } else if (k != RK_OTHER && simple_rule(e, *d, e.stop_at(), false)) {
                    at = after_rule(e);
                } else {
                    // What NEXT_RULE leaves for the states.
                    *e.val = *cell_at(e.rules->w2, e.rpos);
                    e.sub_rule = false;
                    u32 vt = TYPE_OF(e.val);
                    return vt == TYPE_WORD ? KEYWORD : vt == TYPE_BLOCK ? ENTER_BLOCK : DISPATCH_VALUE;
                }
                break;
            }
            case FIND_ALTERNATIVE:
                at = find_alternative(e, decoded_rules(e)) ? NEXT_RULE : LEAVE_BLOCK;
                break;
            case LEAVE_BLOCK:
                if (frame_cells() <= 3) return LEAVE_BLOCK;   // the outermost block: the states finish
                if (next_round_in_place(e)) {
                    const Decoded* d = decoded_rules(e);
                    at = d ? run_rounds(e, *d) : NEXT_RULE;
                    break;
                }
                e.completed = e.rpos >= e.rtail();
                leave_block(e);
                at = after_rule(e);
                break;
            case END_RULE: {
                // A repetition's round ends here; the states take every other
                // command, and rounds under a budget.
                Cell* f = top_frame();
                i32 cmd = i32(f[2].w2);
                if ((cmd != CMD_REPEAT && cmd != CMD_WHILE) || e.rounds_left > 0) return END_RULE;
                e.pop = true;
                if (end_repeat(e, f)) {
                    at = NEXT_RULE;
                    break;
                }
                end_command(e, cmd);
                at = after_rule(e);
                break;
            }
            default:
                return at;
        }
    }
}

#define EVENT(ev)                                                                     \
    do {                                                                              \
        if (TYPE_OF(e.callback) != TYPE_NONE && !call_callback(e, ev)) goto stopped; \
    } while (0)

// A repetition or a to/thru search going round again; stops the parse as a
// callback answering false would once the round budget (or the
// interpreter's step budget, while there is a round budget) is spent.
#define ITERATE()                                                                                        \
    do {                                                                                                 \
        if (e.rounds_left > 0 && (--e.rounds_left == 0 || !interpreter::spend_step())) goto stopped; \
        EVENT(EV_ITERATE);                                                                               \
    } while (0)

void run_engine(Engine& e) {
    State state = ENTER_BLOCK;
    *e.val = *e.rules;
    for (;;) {
        switch (state) {
            case ENTER_BLOCK: {
                enter_block(e);
                EVENT(EV_PUSH);
                state = NEXT_RULE;
                break;
            }
            case LEAVE_BLOCK: {
                if (frame_cells() <= 3) {
                    EVENT(EV_POP);
                    state = FINISH;
                    break;
                }
                e.completed = e.rpos >= e.rtail();
                EVENT(EV_POP);
                leave_block(e);
                state = after_rule(e);
                break;
            }
            case PUSH_RULE: {
                push_rule(e);
                EVENT(EV_PUSH);
                state = MATCH_SUBRULE;
                break;
            }
            case END_RULE: {
                Cell* f = top_frame();
                if (!rule_frame_q(f)) {
                    if (e.pop) {
                        e.pop = false;
                        state = LEAVE_BLOCK;
                    } else {
                        state = NEXT_RULE;
                    }
                    break;
                }
                e.pop = true;
                i32 cmd = i32(f[2].w2), extra = i32(f[2].w3);
                i32 at = i32(f[1].w1), start = i32(f[1].w2);
                i32 tail = e.in_tail();
                if (start > tail) start = tail;
                switch (cmd) {
                    case CMD_REPEAT:
                    case CMD_WHILE:
                        if (end_repeat(e, f)) {
                            ITERATE();
                            state = NEXT_RULE;
                            continue;
                        }
                        break;
                    case CMD_TO:
                    case CMD_THRU: {
                        if (e.match) {
                            if (cmd == CMD_TO) e.set_pos(start);
                            break;
                        }
                        if (start < e.stop_at()) {
                            f[1].w2 = u32(start + 1);
                            e.set_pos(start + 1);
                            e.recompute_end();
                            i32 t = e.rtail();
                            e.rpos = at < t ? at : t;
                            e.match = true;
                            e.pop = false;
                            ITERATE();
                            state = NEXT_RULE;
                            continue;
                        }
                        i32 origin = i32(f[0].w1);
                        e.set_pos(origin < tail ? origin : tail);
                        break;
                    }
                    case CMD_COPY:
                    case CMD_SET:
                        end_copy(e, f, cmd, start);
                        break;
                    case CMD_NOT:
                        e.match = !e.match;
                        e.set_pos(start);   // a not never consumes
                        break;
                    case CMD_AHEAD:
                        e.set_pos(start);
                        break;
                    case CMD_INTO: {
                        bool at_end = e.pos() >= e.in_tail() ||
                                      (e.limit > 0 && stack_cells(input_stack) - input_head <= 1 && e.pos() >= e.limit);
                        if (!at_end) e.match = false;
                        cut(input_stack, stack_cells(input_stack) - 1);
                        *e.in = *cell_at(input_stack, stack_cells(input_stack) - 1);
                        i32 t = e.in_tail();
                        if (e.pos() > t) e.set_pos(t);
                        if (!e.completed) e.match = false;
                        if (e.match) e.set_pos(e.pos() + 1 <= t ? e.pos() + 1 : t);
                        break;
                    }
                    case CMD_REMOVE: {
                        if (!e.match) break;
                        i32 n = e.pos() - start;
                        Cell* at = stack::push(e.in);
                        at->w1 = u32(start);
                        Cell* part = stack::push_slot();
                        integer::make_at(part, n > 0 ? n : 0);
                        actions::remove(at, part, nullptr);
                        stack::top = at;
                        // The input's owner may have cut the input short of the start.
                        e.set_pos(start);
                        clamp_input(e);
                        break;
                    }
                    case CMD_CHANGE:
                    case CMD_CHANGE_ONLY: {
                        // The value follows the sub-rule, which may span several
                        // cells (`2 skip`, `2 4 "a"`): the rule position is on its
                        // last one now.
                        const Cell* v = e.rule_q(e.rpos + 1);
                        if (!v) parse_end(e, sym.change);
                        *e.val = *v;
                        e.rpos++;
                        command_value(e, e.val, e.tmp);
                        if (!e.match) break;
                        i32 n = e.pos() - start;
                        Cell* series_at = stack::push(e.in);
                        series_at->w1 = u32(start);
                        Cell* value = stack::push(e.tmp);
                        Cell* part = stack::push_slot();
                        integer::make_at(part, n > 0 ? n : 0);
                        i32 before = e.in_tail();
                        actions::change(series_at, value, part, cmd == CMD_CHANGE_ONLY, nullptr);
                        i32 after = e.in_tail();
                        stack::top = series_at;
                        i32 p = start + (n > 0 ? n : 0) + (after - before);
                        e.set_pos(p < start ? start : p > after ? after : p);
                        clamp_input(e);   // the owner may have cut the input short of the start
                        break;
                    }
                    case CMD_COLLECT: {
                        e.collect_depth--;
                        Cell* top = stack::top - 1;
                        u32 t = TYPE_OF(top);
                        if (t == TYPE_GET_WORD || t == TYPE_REFINEMENT) {
                            stack::top -= 2;
                        } else if (top - 1 == e.result) {
                            e.collected = true;
                        } else {
                            Cell* below = top - 1;
                            if (TYPE_OF(below) == TYPE_SET_WORD) {
                                Cell* w = stack::push(below);
                                cell::set_type(w, TYPE_WORD);
                                context::set(w, top);
                                stack::top = below;
                                clamp_input(e);
                            } else {
                                // Stored as one value in the enclosing collection or target.
                                Cell nested = *top;
                                stack::top = top;
                                keep_value(&nested, true);
                            }
                        }
                        break;
                    }
                    case CMD_KEEP:
                        end_keep(e, start, extra, 0);
                        break;
                    case CMD_CASE:
                        e.op = i32(f[0].w1);
                        break;
                    default:
                        fire(ERR_INTERNAL, "not-done");
                }
                // The common tail.
                EVENT(EV_POP);
                end_command(e, cmd);
                state = CHECK_PENDING;
                break;
            }
            case CHECK_PENDING:
                state = after_rule(e);
                break;
            case DISPATCH_RULE:
                *e.val = *cell_at(e.rules->w2, e.rpos);
                e.sub_rule = false;
                state = DISPATCH_VALUE;
                break;
            case DISPATCH_VALUE: {
                switch (TYPE_OF(e.val)) {
                    case TYPE_WORD:
                        state = KEYWORD;
                        break;
                    case TYPE_BLOCK:
                        state = ENTER_BLOCK;
                        break;
                    case TYPE_DATATYPE:
                    case TYPE_TYPESET: {
                        u32 it = TYPE_OF(e.in);
                        if (any_text_q(it)) fail_with(e, "parse-unsupported");
                        bool m = false;
                        if (!e.end) {
                            if (it == TYPE_BINARY) {
                                m = match_type(e);
                            } else {
                                u32 t = TYPE_OF(cell_at(e.in->w2, e.pos()));
                                m = TYPE_OF(e.val) == TYPE_DATATYPE ? e.val->w1 == t : typeset::has_q(e.val, t);
                                if (m) e.set_pos(e.pos() + 1);
                            }
                        }
                        e.match = m;
                        e.recompute_end();
                        EVENT(EV_MATCH);
                        state = CHECK_PENDING;
                        break;
                    }
                    case TYPE_SET_WORD: {
                        context::set(e.val, e.in);
                        clamp_input(e);
                        state = NEXT_RULE;
                        break;
                    }
                    case TYPE_GET_WORD: {
                        const Cell* v = context::get(e.val);
                        if (!series::same_series_q(v, e.in)) fail_with(e, "parse-invalid-ref", e.val);
                        i32 h = series::head_index(v), t = e.in_tail();
                        e.set_pos(h < t ? h : t);
                        e.match = true;
                        e.recompute_end();
                        state = CHECK_PENDING;
                        break;
                    }
                    case TYPE_INTEGER: {
                        i32 n = integer::get(e.val), m = n;
                        const Cell* next = e.rule_q(e.rpos + 1);
                        i32 last = e.rpos;
                        if (next && TYPE_OF(next) == TYPE_INTEGER) {
                            m = integer::get(next);
                            last = e.rpos + 1;
                        } else if (next && TYPE_OF(next) == TYPE_WORD && interpreter::word_value_q(next) &&
                                   TYPE_OF(interpreter::word_value_q(next)) == TYPE_INTEGER) {
                            m = integer::get(interpreter::word_value_q(next));
                            last = e.rpos + 1;
                        }
                        if (n < 0) fail_with(e, "out-of-range", e.val);
                        if (m < 0) {
                            Cell mc;
                            integer::make_at(&mc, m);
                            fail_with(e, "out-of-range", &mc);
                        }
                        if (!e.rule_q(last + 1) || n > m) fail_with(e, "parse-rule", e.val);
                        if (m == 0) {
                            e.rpos = last + 1;   // the rule is skipped untried
                            state = CHECK_PENDING;
                            break;
                        }
                        e.cmd = CMD_REPEAT;
                        e.min = n;
                        e.max = m;
                        e.extra = 0;
                        e.rec_at = last;
                        state = PUSH_RULE;
                        break;
                    }
                    case TYPE_PAREN: {
                        eval_paren(e.val, e.tmp);
                        EVENT(EV_PAREN);
                        after_paren(e);
                        state = CHECK_PENDING;
                        break;
                    }
                    case TYPE_PATH:
                        fail_with(e, "parse-rule", e.val);
                    default:
                        state = MATCH_VALUE;
                        break;
                }
                break;
            }
            case NEXT_INPUT:
                e.set_pos(e.pos() + 1);
                e.recompute_end();
                state = CHECK_PENDING;
                break;
            case NEXT_RULE: {
                if (TYPE_OF(e.callback) == TYPE_NONE) {
                    state = run_simple(e);
                    break;
                }
                i32 t = e.rtail();
                if (e.rpos < t) e.rpos++;
                if (e.rpos >= t) {
                    e.rpos = t;
                    state = top_rule_frame_q() ? END_RULE : LEAVE_BLOCK;
                    break;
                }
                EVENT(EV_FETCH);
                // DISPATCH_RULE, and the first step of DISPATCH_VALUE, in place.
                *e.val = *cell_at(e.rules->w2, e.rpos);
                e.sub_rule = false;
                u32 vt = TYPE_OF(e.val);
                state = vt == TYPE_WORD ? KEYWORD : vt == TYPE_BLOCK ? ENTER_BLOCK : DISPATCH_VALUE;
                break;
            }
            case MATCH_VALUE:
                e.match = match_value(e, e.stop_at());
                e.recompute_end();
                EVENT(EV_MATCH);
                state = CHECK_PENDING;
                break;
            case MATCH_SUBRULE: {
                const Cell* v = e.rule_q(e.rpos);
                if (!v) {
                    switch (e.cmd) {
                        case CMD_TO: parse_end(e, sym.to);
                        case CMD_THRU: parse_end(e, sym.thru);
                        case CMD_NOT: parse_end(e, sym.not_);
                        case CMD_REMOVE: parse_end(e, sym.remove);
                        case CMD_WHILE: parse_end(e, sym.while_);
                        case CMD_COLLECT: parse_end(e, sym.collect);
                        case CMD_KEEP: parse_end(e, sym.keep);
                        case CMD_AHEAD: parse_end(e, sym.ahead);
                        default: break;
                    }
                    e.rpos = e.rtail();
                    e.match = true;
                    state = CHECK_PENDING;
                    break;
                }
                *e.val = *v;
                e.sub_rule = e.cmd != CMD_COLLECT && e.cmd != CMD_KEEP;
                if (TYPE_OF(e.val) == TYPE_WORD) {
                    state = KEYWORD;
                    break;
                }
                state = SUBRULE_VALUE;
                break;
            }
            case SUBRULE_VALUE: {
                e.sub_rule = false;
                u32 vt = TYPE_OF(e.val);
                switch (vt == TYPE_BLOCK ? 0 : plain_literal_q(vt) ? 2 : 1) {
                    case 0:
                        state = ENTER_BLOCK;
                        break;
                    case 1:
                        state = DISPATCH_VALUE;
                        break;
                    default: {
                        Cell* f = top_frame();
                        i32 cmd = i32(f[2].w2);
                        i32 mn = TYPE_OF(f) == TYPE_TRIPLE ? i32(f[0].w1) : -1;
                        if ((cmd == CMD_TO || cmd == CMD_THRU)) {
                            e.match = find_value(e, cmd == CMD_THRU, e.stop_at());
                        } else if (cmd == CMD_REPEAT || cmd == CMD_WHILE) {
                            i32 mx = i32(f[0].w2), origin = e.pos();
                            i32 count = repeat_value(e, mx, e.stop_at());
                            e.match = count >= mn || mn == 0;
                            if (!e.match) e.set_pos(origin);
                        } else {
                            (void)mn;
                            state = DISPATCH_VALUE;
                            break;
                        }
                        EVENT(EV_MATCH);
                        EVENT(EV_POP);
                        drop_frame();
                        e.ended_cmd = cmd;
                        e.ended_at = frame_cells();
                        e.recompute_end();
                        state = CHECK_PENDING;
                        break;
                    }
                }
                break;
            }
            case FIND_ALTERNATIVE:
                state = find_alternative(e) ? NEXT_RULE : LEAVE_BLOCK;
                break;
            case KEYWORD: {
                bool sub_rule = e.sub_rule;
                e.sub_rule = false;
                i32 s = symbol::resolve(i32(e.val->w2));
                e.extra = 0;
                if (!keyword_q(s)) {
                    // A word of the rules: its value is the rule.
                    Cell v;
                    word_value(e.val, &v);
                    if (TYPE_OF(&v) == TYPE_WORD) {
                        if (!sub_rule && !rerun_sub_rule_q()) fail_with(e, "parse-rule", &v);
                        *e.val = v;
                        state = MATCH_VALUE;
                        break;
                    }
                    *e.val = v;
                    state = sub_rule ? SUBRULE_VALUE : DISPATCH_VALUE;
                } else if (s == sym.bar) {
                    // The alternative matched: the block is done (NEXT_RULE at the tail).
                    e.rpos = e.rtail();
                    e.match = true;
                    state = top_rule_frame_q() ? END_RULE : LEAVE_BLOCK;
                } else if (s == sym.skip) {
                    if (e.end) {
                        e.match = false;
                        state = CHECK_PENDING;
                    } else {
                        e.match = true;
                        state = NEXT_INPUT;
                    }
                } else if (s == sym.any || s == sym.some || s == sym.opt || s == sym.while_) {
                    const Cell* next = e.rule_q(e.rpos + 1);
                    if (!next) parse_end(e, s);
                    set_repeat(e, s);
                    const Cell* lit = TYPE_OF(e.callback) == TYPE_NONE ? literal_subrule(next) : nullptr;
                    if (lit) {
                        check_stacks(-e.held);
                        repeat_frameless(e, lit, e.stop_at());
                        state = CHECK_PENDING;
                        break;
                    }
                    state = PUSH_RULE;
                } else if (s == sym.copy || s == sym.set) {
                    const Cell* w = e.rule_q(e.rpos + 1);
                    if (!w || !any_word_q(TYPE_OF(w)) || !e.rule_q(e.rpos + 2)) parse_end(e, s);
                    e.cmd = s == sym.copy ? CMD_COPY : CMD_SET;
                    e.min = e.max = -1;
                    e.rec_at = e.rpos + 1;
                    state = PUSH_RULE;
                } else if (s == sym.to || s == sym.thru) {
                    const Cell* next = e.rule_q(e.rpos + 1);
                    if (next && TYPE_OF(next) == TYPE_WORD && symbol::resolve(i32(next->w2)) == sym.end) {
                        e.match = true;
                        e.set_pos(e.stop_at());
                        e.end = true;
                        e.rpos++;
                        state = CHECK_PENDING;
                        break;
                    }
                    set_search(e, s);
                    const Cell* lit = next && TYPE_OF(e.callback) == TYPE_NONE ? literal_subrule(next) : nullptr;
                    if (lit) {
                        check_stacks(-e.held);
                        search_frameless(e, lit, e.stop_at());
                        state = CHECK_PENDING;
                        break;
                    }
                    state = PUSH_RULE;
                } else if (s == sym.remove) {
                    const Cell* next = e.rule_q(e.rpos + 1);
                    if (next && TYPE_OF(next) == TYPE_PATH) fail_with(e, "parse-rule", next);
                    i32 at = next ? input_position_of(e, next) : -1;
                    if (at >= 0) {
                        i32 from = at < e.pos() ? at : e.pos(), to = at < e.pos() ? e.pos() : at;
                        Cell* series_at = stack::push(e.in);
                        series_at->w1 = u32(from);
                        Cell* part = stack::push_slot();
                        integer::make_at(part, to - from);
                        actions::remove(series_at, part, nullptr);
                        stack::top = series_at;
                        e.set_pos(from);
                        clamp_input(e);   // the owner may have cut the input short of the start
                        e.rpos++;
                        e.match = true;
                        state = CHECK_PENDING;
                        break;
                    }
                    e.cmd = CMD_REMOVE;
                    e.min = e.max = -1;
                    e.rec_at = e.rpos;
                    state = PUSH_RULE;
                } else if (s == sym.break_ || s == sym.reject) {
                    e.match = s == sym.break_;
                    // Only the repetition around the break stops: with none
                    // open, nothing is left to stop one that comes later.
                    e.brk_at = enclosing_repeat();
                    e.brk = e.brk_at >= 0;
                    e.pop = true;
                    state = END_RULE;
                } else if (s == sym.keep) {
                    if (e.collect_depth == 0) fail_with(e, "parse-keep");
                    i32 at = e.rpos;
                    const Cell* next = e.rule_q(at + 1);
                    if (next && TYPE_OF(next) == TYPE_WORD && symbol::resolve(i32(next->w2)) == sym.pick) {
                        e.extra = 1;
                        at++;
                        next = e.rule_q(at + 1);
                    }
                    if (!next) parse_end(e, sym.keep);
                    if (TYPE_OF(next) == TYPE_PAREN) {
                        *e.val = *next;
                        e.rpos = at + 1;
                        eval_paren(e.val, e.tmp);
                        EVENT(EV_PAREN);
                        keep_value(e.tmp, e.extra == 0);
                        e.match = true;
                        state = CHECK_PENDING;
                        break;
                    }
                    e.cmd = CMD_KEEP;
                    e.min = e.max = -1;
                    e.rec_at = at;
                    state = PUSH_RULE;
                } else if (s == sym.fail) {
                    e.match = false;
                    state = CHECK_PENDING;
                } else if (s == sym.ahead || s == sym.not_) {
                    e.cmd = s == sym.ahead ? CMD_AHEAD : CMD_NOT;
                    e.min = e.max = -1;
                    e.rec_at = e.rpos;
                    state = PUSH_RULE;
                } else if (s == sym.into) {
                    if (!any_block_q(TYPE_OF(e.in))) fail_with(e, "parse-block", e.in);
                    const Cell* next = e.rule_q(e.rpos + 1);
                    if (!next) parse_end(e, sym.into);
                    if (TYPE_OF(next) == TYPE_WORD) {
                        const Cell* v = interpreter::word_value_q(next);
                        if (!v || TYPE_OF(v) != TYPE_BLOCK) parse_end(e, sym.into);
                    } else if (TYPE_OF(next) != TYPE_BLOCK) {
                        parse_end(e, sym.into);
                    }
                    const Cell* item = e.end ? nullptr : cell_at(e.in->w2, e.pos());
                    u32 t = item ? TYPE_OF(item) : TYPE_NONE;
                    if (!item || !any_series_q(t) || t == TYPE_VECTOR || t == TYPE_IMAGE) {
                        e.match = false;
                        e.rpos++;
                        state = CHECK_PENDING;
                        break;
                    }
                    *e.tmp = *item;
                    *cell_at(input_stack, stack_cells(input_stack) - 1) = *e.in;
                    if (stack_cells(input_stack) >= STACK_LIMIT) fire(ERR_SCRIPT, "parse-stack");
                    *append_to(input_stack) = *e.tmp;
                    *e.in = *e.tmp;
                    i32 tail = e.in_tail();
                    if (e.pos() > tail) e.set_pos(tail);
                    e.cmd = CMD_INTO;
                    e.min = e.max = -1;
                    e.rec_at = e.rpos;
                    state = PUSH_RULE;
                } else if (s == sym.insert || s == sym.change) {
                    bool insert = s == sym.insert;
                    i32 at = e.rpos;
                    const Cell* next = e.rule_q(at + 1);
                    bool only = false;
                    if (next && TYPE_OF(next) == TYPE_WORD && symbol::resolve(i32(next->w2)) == sym.only) {
                        only = true;
                        at++;
                        next = e.rule_q(at + 1);
                    }
                    if (!next) parse_end(e, s);
                    i32 where = input_position_of(e, next);
                    if (!insert && where < 0) {
                        e.cmd = only ? CMD_CHANGE_ONLY : CMD_CHANGE;
                        e.min = e.max = -1;
                        e.rec_at = at;
                        state = PUSH_RULE;
                        break;
                    }
                    if (where >= 0) {
                        at++;
                        next = e.rule_q(at + 1);
                        if (!next) {
                            Cell w;
                            keyword_word(s, &w);
                            if (insert) fail_with(e, "parse-rule", &w);
                            parse_end(e, s);
                        }
                    }
                    *e.val = *next;
                    e.rpos = at + 1;
                    command_value(e, e.val, e.tmp);
                    i32 p = e.pos();
                    Cell* series_at = stack::push(e.in);
                    Cell* value = stack::push(e.tmp);
                    if (insert) {
                        i32 from = where >= 0 ? where : p;
                        series_at->w1 = u32(from);
                        actions::insert(series_at, value, nullptr, only, nullptr);
                        // The insert answers the position past what went in. The
                        // input's owner may have cut or grown the input in the
                        // meantime, so its growth says nothing of what went in.
                        i32 past = i32(series_at->w1);
                        if (where < 0) e.set_pos(past);
                        else if (where <= p) e.set_pos(p + past - from > 0 ? p + past - from : 0);
                    } else {
                        i32 from = where < p ? where : p, to = where < p ? p : where;
                        series_at->w1 = u32(from);
                        Cell* part = stack::push_slot();
                        integer::make_at(part, to - from);
                        actions::change(series_at, value, part, only, nullptr);
                        e.set_pos(from);
                    }
                    stack::top = series_at;
                    i32 tail = e.in_tail();
                    if (e.pos() > tail) e.set_pos(tail);
                    e.match = true;
                    e.recompute_end();
                    state = insert ? NEXT_RULE : CHECK_PENDING;
                } else if (s == sym.end) {
                    e.end = e.pos() >= e.stop_at();
                    e.match = e.end;
                    state = CHECK_PENDING;
                } else if (s == sym.if_) {
                    const Cell* next = e.rule_q(e.rpos + 1);
                    if (!next || TYPE_OF(next) != TYPE_PAREN) parse_end(e, sym.if_);
                    *e.val = *next;
                    e.rpos++;
                    eval_paren(e.val, e.tmp);
                    EVENT(EV_PAREN);
                    e.match = logic::truthy_q(e.tmp, false, nullptr);
                    e.recompute_end();
                    state = CHECK_PENDING;
                } else if (s == sym.quote) {
                    const Cell* next = e.rule_q(e.rpos + 1);
                    if (!next) parse_end(e, sym.quote);
                    *e.val = *next;
                    e.rpos++;
                    state = MATCH_VALUE;
                } else if (s == sym.collect) {
                    i32 at = e.rpos;
                    const Cell* next = e.rule_q(at + 1);
                    i32 mode = 0;   // 0 plain, 1 set, 2 into, 3 after
                    if (next && TYPE_OF(next) == TYPE_WORD) {
                        i32 m = symbol::resolve(i32(next->w2));
                        mode = m == sym.set ? 1 : m == sym.into ? 2 : m == sym.after ? 3 : 0;
                    }
                    e.extra = 0;
                    i32 mark = -1;
                    if (mode) {
                        const Cell* w = e.rule_q(at + 2);
                        if (!w || TYPE_OF(w) != TYPE_WORD) parse_end(e, sym.collect);
                        Cell* word = stack::push(w);
                        at += 2;
                        if (mode == 1) {
                            cell::set_type(word, TYPE_SET_WORD);
                        } else {
                            stack::top--;
                            Cell target;
                            word_value(word, &target);
                            if (!target_fits(&target, e.in)) fail_with(e, "parse-into-type");
                            if (series::same_series_q(&target, e.in)) fail_with(e, "parse-into-bad");
                            Cell* kept = stack::push(&target);
                            mark = series::head_index(kept);
                            Cell* marker = stack::push(w);
                            cell::set_type(marker, mode == 2 ? TYPE_GET_WORD : TYPE_REFINEMENT);
                        }
                    }
                    if (mode <= 1) {
                        Cell* b = stack::push_slot();
                        cell::init(b, TYPE_UNSET);
                        block::make_at(b, 4);
                    }
                    e.collect_depth++;
                    e.cmd = CMD_COLLECT;
                    e.min = -1;
                    e.max = mark;
                    e.rec_at = at;
                    state = PUSH_RULE;
                } else if (s == sym.case_) {
                    const Cell* w = e.rule_q(e.rpos + 1);
                    if (!w || TYPE_OF(w) != TYPE_WORD) parse_end(e, sym.case_);
                    Cell v;
                    word_value(w, &v);
                    e.extra = e.op;
                    e.op = logic::truthy_q(&v, false, nullptr) ? COMP_STRICT_EQUAL : COMP_EQUAL;
                    e.cmd = CMD_CASE;
                    e.min = e.max = -1;
                    e.rec_at = e.rpos + 1;
                    state = PUSH_RULE;
                } else if (s == sym.none) {
                    e.match = true;
                    state = CHECK_PENDING;
                }
                break;
            }
            case FINISH: {
                if (e.match) e.match = e.rpos >= e.rtail();
                i32 remaining = e.rest();
                if (e.limit > 0 && remaining > 0) remaining = e.limit - e.pos();
                if (remaining > 0 && stack_cells(input_stack) - input_head <= 1) e.match = false;
                EVENT(EV_END);
                return;
            }
            case STOP:
                return;
        }
    }
stopped:
    e.collected = false;
}

#undef ITERATE
#undef EVENT

void make_symbols() {
    sym.bar = symbol::make("|");
    sym.skip = symbol::make("skip");
    sym.any = symbol::make("any");
    sym.some = symbol::make("some");
    sym.copy = symbol::make("copy");
    sym.to = symbol::make("to");
    sym.thru = symbol::make("thru");
    sym.remove = symbol::make("remove");
    sym.break_ = symbol::make("break");
    sym.opt = symbol::make("opt");
    sym.keep = symbol::make("keep");
    sym.fail = symbol::make("fail");
    sym.ahead = symbol::make("ahead");
    sym.while_ = symbol::make("while");
    sym.into = symbol::make("into");
    sym.insert = symbol::make("insert");
    sym.change = symbol::make("change");
    sym.end = symbol::make("end");
    sym.if_ = symbol::make("if");
    sym.not_ = symbol::make("not");
    sym.quote = symbol::make("quote");
    sym.collect = symbol::make("collect");
    sym.case_ = symbol::make("case");
    sym.reject = symbol::make("reject");
    sym.set = symbol::make("set");
    sym.none = symbol::make("none");
    sym.pick = symbol::make("pick");
    sym.only = symbol::make("only");
    sym.after = symbol::make("after");
    sym.push = symbol::make("push");
    sym.pop = symbol::make("pop");
    sym.fetch = symbol::make("fetch");
    sym.match = symbol::make("match");
    sym.iterate = symbol::make("iterate");
    sym.paren = symbol::make("paren");
    sym.end_event = sym.end;
    sym.callback = symbol::make("<parse-callback>");
    for (i32 k : {sym.bar, sym.skip, sym.any, sym.some, sym.opt, sym.while_, sym.copy, sym.set, sym.to, sym.thru,
                  sym.remove, sym.break_, sym.reject, sym.keep, sym.fail, sym.ahead, sym.not_, sym.into, sym.insert,
                  sym.change, sym.end, sym.if_, sym.quote, sym.collect, sym.case_, sym.none}) {
        k = symbol::resolve(k);
        if (size_t(k) >= keywords.size()) keywords.resize(size_t(k) + 1, 0);
        keywords[size_t(k)] = 1;
    }
}

}  // namespace

void init() {
    make_symbols();
    Cell b;
    cell::init(&b, TYPE_UNSET);
    block::make_at(&b, 8);
    input_stack = boot::append_root(&b)->w2;
    block::make_at(&b, 100);
    rule_stack = boot::append_root(&b)->w2;
    input_head = rule_head = 0;
    rule_cells = input_cells = 0;
}

Cell* run(const Cell* input, const Cell* rules, i32 op, i32 limit, const Cell* callback) {
    Engine e;
    e.saved = save_stacks();
    struct Guard {
        bool saved;
        bool done = false;
        ~Guard() {
            if (!done) reset_stacks(saved);
        }
    } guard{e.saved};
    auto slot = [](const Cell* from) {
        Cell* c = stack::push_slot();
        if (from) *c = *from;
        else cell::init(c, TYPE_NONE);
        return c;
    };
    e.in = slot(input);
    i32 tail = e.in_tail();
    if (e.pos() > tail) e.set_pos(tail);
    e.rules = slot(rules);
    e.val = slot(nullptr);
    e.tmp = slot(nullptr);
    e.callback = slot(callback && TYPE_OF(callback) == TYPE_FUNCTION ? callback : nullptr);
    e.copied = slot(nullptr);
    e.result = slot(nullptr);
    cell::init(e.result, TYPE_UNSET);
    e.op = op;
    e.limit = limit;
    e.rounds_left = round_budget;
    *append_to(input_stack) = *e.in;
    run_engine(e);
    reset_stacks(e.saved);
    guard.done = true;
    if (e.collected) return e.result + 1;
    logic::make_at(e.result, e.match);
    stack::top = e.result + 1;
    return e.result;
}

}  // namespace parse
}  // namespace zir
