// Token scanners and the loaders of the text-like literals: the structural
// tokens (blocks, parens, maps, paths, multi-line strings, construction forms,
// comments, commas) and strings, raw strings, characters, words and their
// kinds, issues, refinements, files, urls, emails, refs, tags and binaries.
// The numeric and temporal loaders live in numbers.cpp.
//
// Every scanner and loader takes (state, token start, token end, flags,
// load?): it moves `position` itself (to the token end, or past a closing
// delimiter the automaton left for it) and, with load?, pushes its value on
// the output stack; without, it only checks.
#include <cstring>
#include <string_view>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/map.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/url.hpp"
#include "datatypes/word.hpp"
#include "loader/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace lexer {

namespace {

// --- Caret escapes ------------------------------------------------------------------------

i32 hex_value(u8 c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool same_name(const u8* p, const u8* end, const char* name) {
    size_t n = std::strlen(name);
    if (size_t(end - p) < n + 1) return false;
    for (size_t i = 0; i < n; i++) {
        u8 c = p[i];
        if (c >= 'A' && c <= 'Z') c = u8(c + 32);
        if (c != u8(name[i])) return false;
    }
    return p[n] == ')';
}

// The code point of the escape after a "^" at p; answers the byte after it,
// or null when it is malformed (a code point past U+10FFFF included: a text
// cannot hold it).
const u8* decode_escape(const u8* p, const u8* end, u32* cp) {
    if (p >= end) return nullptr;
    if (*p == '(') {
        p++;
        struct Name {
            const char* name;
            u32 cp;
        };
        static const Name names[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10},
                                     {"page", 12}, {"esc", 27}, {"del", 127}};
        if (p + 1 < end && hex_value(p[0]) >= 0 && p[1] == ')') {
            *cp = u32(hex_value(p[0]));
            return p + 2;
        }
        if (p + 2 < end && hex_value(p[0]) >= 0 && hex_value(p[1]) >= 0 && p[2] == ')') {
            *cp = u32(hex_value(p[0]) * 16 + hex_value(p[1]));
            return p + 3;
        }
        for (const Name& n : names)
            if (same_name(p, end, n.name)) {
                *cp = n.cp;
                return p + std::strlen(n.name) + 1;
            }
        u32 v = 0;
        i32 digits = 0;
        while (p < end && hex_value(*p) >= 0) {
            if (++digits > 6) return nullptr;
            v = v * 16 + u32(hex_value(*p++));
        }
        if (digits == 0 || p >= end || *p != ')' || v > 0x10FFFF) return nullptr;
        *cp = v;
        return p + 1;
    }
    u8 c = *p;
    switch (c) {
        case '"': *cp = '"'; return p + 1;
        case '-': *cp = 9; return p + 1;
        case '/': *cp = 10; return p + 1;
        case '@': *cp = 0; return p + 1;
        case '^': *cp = '^'; return p + 1;
        case '{': *cp = '{'; return p + 1;
        case '}': *cp = '}'; return p + 1;
        case '~': *cp = 127; return p + 1;
        default: break;
    }
    if (c >= 'a' && c <= 'z') {
        *cp = u32(c - 'a' + 1);
        return p + 1;
    }
    if ((c >= 'A' && c <= 'Z') || c == '[' || c == '\\' || c == ']' || c == '_') {
        *cp = u32(c - 64);
        return p + 1;
    }
    if (c < 0x80) {
        *cp = c;
        return p + 1;
    }
    i32 used;
    i32 v = decode_char(p, end, &used);
    if (v < 0) return nullptr;
    *cp = u32(v);
    return p + used;
}

// One character of text at p: a caret escape when `escapes`, else UTF-8.
// Answers the byte after it, or null when it is malformed.
inline const u8* next_char(const u8* p, const u8* end, bool escapes, u32* cp) {
    u8 c = *p;
    if (c < 0x80) {
        if (c == '^' && escapes) return decode_escape(p + 1, end, cp);
        *cp = c;
        return p + 1;
    }
    i32 used;
    i32 v = decode_char(p, end, &used);
    if (v < 0) return nullptr;
    *cp = u32(v);
    return p + used;
}

u32 unit_of_flags(u32 flags) {
    u32 u = 1u << (flags >> 30);
    return u > 4 ? 4 : u;
}

// Whether the text decodes (escapes too when `escapes`); the widest unit its
// code points need goes to *unit.
bool check_text(const u8* p, const u8* end, bool escapes, u32* unit) {
    u32 wide = 1;
    while (p < end) {
        u32 cp;
        p = next_char(p, end, escapes, &cp);
        if (!p) return false;
        if (cp > 0xFF && wide < 2) wide = 2;
        if (cp > 0xFFFF) wide = 4;
    }
    *unit = wide;
    return true;
}

// Loads text of [p, end) into `cell` as a value of `type`, decoding UTF-8 and,
// with `escapes`, caret escapes. Answers false when the text does not decode.
// `cell` lies in the output stack, which no allocation moves.
bool load_text(Cell* cell, const u8* p, const u8* end, u32 flags, bool escapes, u32 type) {
    i64 n = end - p;
    u32 unit = unit_of_flags(flags);
    if (!escapes && unit == 1) {
        // ASCII only, as the token's flags tell: a lone continuation byte is
        // no character.
        u8 any = 0;
        for (i64 i = 0; i < n; i++) any |= p[i];
        if (any & 0x80) return false;
        string::make_at(cell, n > 0 ? n : 1, 1);
        SeriesBuffer* s = series::buffer_of(cell);
        std::memcpy(series::head(s), p, size_t(n));
        s->tail = s->offset + u32(n);
    } else {
        if (!check_text(p, end, escapes, &unit)) return false;
        string::make_at(cell, n > 0 ? n : 1, unit);
        SeriesBuffer* s = series::buffer_of(cell);
        u8* out = series::head(s);
        i64 count = 0;
        while (p < end) {
            u32 cp = 0;
            p = next_char(p, end, escapes, &cp);
            string::put_char(out + count * unit, unit, cp);
            count++;
        }
        s->tail = s->offset + u32(count * unit);
    }
    cell::set_type(cell, type);
    return true;
}

// --- Structural scanners ------------------------------------------------------------------

void scan_eof(State* st, const u8*, const u8*, u32, bool) { st->position = st->input_end; }

void scan_error(State* st, const u8* start, const u8* end, u32, bool) {
    i32 type = type_table[st->exit_state];
    i32 kind = type == 0 ? KIND_BAD_CHAR : type;
    const u8* from = start;
    if (type == TYPE_PATH || type == TYPE_BLOCK || type == TYPE_PAREN) from = nullptr;
    if ((type == TYPE_POINT2D || type == TYPE_POINT3D) && from > st->input_start) from--;   // at its "("
    if (st->start_state == S_BRACE_BODY && st->brace_start) from = st->brace_start;
    throw_error(st, from, end, kind);
}

void scan_block(State* st, const u8*, const u8* end, u32, bool) {
    if (*end == '(' && point_ahead_q(end + 1, st->input_end)) {
        st->saved_lines = st->lead_lines;
        st->token_type = 0;
        st->position = end + 1;
        st->start_state = S_POINT_BODY;
        return;
    }
    open_block(st, *end == '[' ? TYPE_BLOCK : TYPE_PAREN, end, end + 1);
    st->position = end + 1;
}

void scan_block_end(State* st, const u8* start, const u8* end, u32, bool) {
    Cell* m = open_marker(st);
    bool map = m && marker_kind(m) == TYPE_MAP;
    bool closed = close_block(st, start, end + 1, TYPE_BLOCK, false);
    st->position = end + 1;
    if (!closed || !map || !st->loading) return;
    Cell* made = out_at(st->out_tail - 1);
    i32 n = block::zs_length_q(made);
    if (n % 2) throw_error(st, start, end + 1, TYPE_MAP);
    for (i32 i = 0; i < n; i += 2)
        if (!map::valid_key_type_q(TYPE_OF(block::cell_at(made->w2, i)))) throw_error(st, start, end + 1, TYPE_MAP);
    // The pairs go into a new map as `extend` puts them: keys normalised, a
    // key given twice keeping its last value.
    collector::RootCell pairs(*made);
    collector::RootCell made_map;
    map::make_at(made_map.get(), 0, n / 2);
    map::extend(made_map.get(), pairs.get(), false);
    Cell* cell = out_at(st->out_tail - 1);
    u32 nl = cell->header & FLAG_NEW_LINE;
    *cell = made_map.value;
    cell->header |= nl;
}

void scan_paren_end(State* st, const u8* start, const u8* end, u32, bool) {
    close_block(st, start, end + 1, TYPE_PAREN, false);
    st->position = end + 1;
}

void scan_map(State* st, const u8* start, const u8* end, u32, bool) {
    if (*start != '#') throw_error(st, start, end + 1, TYPE_MAP);
    open_block(st, TYPE_MAP, start, end + 1);
    st->position = end + 1;
}

void scan_brace_string(State* st, const u8* start, const u8* end, u32 flags, bool) {
    if (st->brace_depth == 0) {
        if (tracing_q(st)) call_tracer(st, EVENT_OPEN, TYPE_STRING, nullptr, end, end + 1);
        st->brace_start = end;
    }
    (void)start;
    st->brace_depth++;
    st->brace_flags |= flags;
    if (st->lead_lines > 0 && st->brace_depth == 1) st->brace_flags |= FLAG_NEW_LINE_BEFORE;
    st->start_state = S_BRACE_BODY;
    st->position = end + 1;
}

void scan_string_alt(State* st, const u8*, const u8* end, u32 flags, bool) {
    st->brace_depth--;
    if (tracing_q(st) && st->brace_depth == 0)
        call_tracer(st, EVENT_CLOSE, TYPE_STRING, nullptr, st->brace_start, end + 1);
    if (st->brace_depth > 0) {
        st->brace_flags |= flags;
        if (end + 1 >= st->input_end) throw_error(st, st->brace_start, st->input_end, TYPE_STRING);
        st->position = end + 1;
        return;
    }
    const u8* from = st->brace_start;
    u32 all = st->brace_flags | flags;
    st->token_type = TYPE_STRING;
    st->type_hint = -1;
    if (st->loading) {
        bool go = !tracing_q(st) || call_tracer(st, EVENT_SCAN, TYPE_STRING, nullptr, from, end);
        if (go) {
            load_string(st, from, end, all, true);
            report_load(st, TYPE_STRING, from, end);
        }
    } else {
        scan_string(st, from, end, all, false);
        if (tracing_q(st)) call_tracer(st, EVENT_SCAN, TYPE_STRING, nullptr, from, end);
    }
    st->brace_start = nullptr;
    st->brace_flags = 0;
    st->start_state = 0;
    st->position = end + 1;
}

void scan_path(State* st, const u8* start, const u8* end, u32 flags, bool) {
    i32 kind = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
    open_block(st, kind, start, end);
    st->type_hint = TYPE_WORD;
    if (st->loading) {
        const u8* head = kind == TYPE_PATH ? start : start + 1;
        bool go = !tracing_q(st) || call_tracer(st, EVENT_SCAN, TYPE_WORD, nullptr, head, end);
        if (go) {
            load_word(st, head, end, flags, true);
            report_load(st, TYPE_WORD, head, end);
        }
    }
    st->start_state = S_PATH_COMPONENT;
    st->position = end + 1;
}

void scan_construct(State* st, const u8* start, const u8* end, u32, bool load) {
    const u8* text = start + 2;
    size_t n = size_t(end - text);
    auto same = [&](const char* name, bool whole) {
        size_t len = std::strlen(name);
        if (n == 0 || n > len || (whole && n != len)) return false;
        for (size_t i = 0; i < n; i++) {
            u8 c = text[i];
            if (c >= 'A' && c <= 'Z') c = u8(c + 32);
            u8 d = u8(name[i]);
            if (d >= 'A' && d <= 'Z') d = u8(d + 32);
            if (c != d) return false;
        }
        return true;
    };
    Cell value = {TYPE_UNSET, 0, 0, 0};
    if (same("true", true) || same("false", true)) {
        logic::make_at(&value, text[0] == 't' || text[0] == 'T');
    } else if (same("none", true)) {
        cell::init(&value, TYPE_NONE);
    } else if (same("unset", true)) {
        cell::init(&value, TYPE_UNSET);
    } else {
        u32 found = 0;
        for (u32 t = 1; t < TYPE_TOTAL && !found; t++) {
            const char* name = datatype::name_of(t);
            if (std::strcmp(name, "value!") != 0 && same(name, false)) found = t;
        }
        if (!found) throw_error(st, start, end + 1, KIND_MALCONSTRUCT);
        datatype::make_at(&value, found);
    }
    st->token_type = i32(TYPE_OF(&value) == TYPE_DATATYPE ? value.w1 : TYPE_OF(&value));
    if (TYPE_OF(&value) == TYPE_DATATYPE) st->token_type = TYPE_DATATYPE;
    if (load) {
        Cell* c = push_value(st);
        u32 nl = c->header & FLAG_NEW_LINE;
        *c = value;
        c->header |= nl;
    }
    st->position = end + 1;
}

void scan_comment(State* st, const u8* start, const u8* end, u32, bool) {
    if (tracing_q(st)) call_tracer(st, EVENT_SCAN, -12, nullptr, start, end);
    st->position = end;
}

void scan_comma(State* st, const u8*, const u8* end, u32, bool) {
    Cell* m = open_marker(st);
    if (!m || (marker_kind(m) != TYPE_PAREN && marker_kind(m) != TYPE_POINT2D)) throw_error(st, end, end + 1, TYPE_POINT2D);
    m->w2 = u32(TYPE_POINT2D) | (((m->w2 >> 16) + 1) << 16);
    st->position = end + 1;
}

// --- Words ----------------------------------------------------------------------------------

// The end of a word at its first Unicode blank.
const u8* word_end(const u8* start, const u8* end) {
    for (const u8* p = start; p < end; p++) {
        if (*p < 0xC2) continue;
        i32 used;
        i32 cp = decode_char(p, end, &used);
        if (cp >= 0 && unicode_blank_q(u32(cp))) return p;
    }
    return end;
}

// The kind of a word token by its ":" and quote; raises for the forms no word has.
i32 word_kind(State* st, const u8* start, const u8* end, u32 flags) {
    i32 kind = TYPE_WORD;
    if (flags & FLAG_COLON) {
        bool leading = *start == ':';
        bool trailing = end[-1] == ':' && end - start > 1;
        if (leading && !trailing) {
            kind = TYPE_GET_WORD;
        } else if (trailing && !leading) {
            kind = TYPE_SET_WORD;
        } else if (!leading && !trailing && st->start_state == S_PATH_COMPONENT && end < st->input_end &&
                   *end == ':' && (end + 1 >= st->input_end || path_terminator_q(end[1]))) {
            kind = TYPE_WORD;
        } else if (!leading && !trailing && std::memchr(start, ':', size_t(end - start)) == nullptr &&
                   st->start_state != S_PATH_COMPONENT) {
            kind = TYPE_WORD;   // the ":" was a byte after the token
        } else {
            throw_error(st, start, end, TYPE_WORD);
        }
    }
    if (*start == '\'') {
        if (kind == TYPE_SET_WORD) throw_error(st, start, end, TYPE_LIT_WORD);
        kind = TYPE_LIT_WORD;
    }
    return kind;
}

void scan_word(State* st, const u8* start, const u8* end, u32 flags, bool) {
    if (flags & (FLAG_LEAD2 | FLAG_LEAD4)) {
        const u8* e = word_end(start, end);
        if (e != end) st->token_end = end = e;
    }
    st->token_type = word_kind(st, start, end, flags);
    st->position = end;
}

void scan_issue(State* st, const u8* start, const u8* end, u32, bool) {
    if (*start != '#' || end - start < 2) throw_error(st, start, end, TYPE_ISSUE);
    st->type_hint = TYPE_ISSUE;
    st->token_type = TYPE_ISSUE;
    st->position = end;
}

void load_refinement(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    i64 n = end - start;
    i32 kind;
    if (n == 1) {
        kind = TYPE_WORD;
    } else if (n == 2 && *start == '\'') {
        kind = TYPE_LIT_WORD;
    } else if (n == 2 && *start == ':') {
        kind = TYPE_GET_WORD;
    } else if (n == 2 && end[-1] == ':') {
        kind = TYPE_SET_WORD;
    } else {
        if (*start != '/') throw_error(st, start, end, TYPE_REFINEMENT);
        kind = TYPE_REFINEMENT;
    }
    st->type_hint = kind;
    st->token_type = kind;
    load_word(st, start, end, flags, load);
}

// --- Characters, files, urls, emails, refs, tags --------------------------------------------

void load_char(State* st, const u8* start, const u8* end, u32, bool load) {
    const u8* p = start + 2;
    if (end - start < 3 || start[0] != '#' || start[1] != '"' || end >= st->input_end || *end != '"')
        throw_error(st, start, end + 1, TYPE_CHAR);
    u32 cp;
    const u8* after = next_char(p, end, true, &cp);
    if (!after || after != end || cp > 0x10FFFF) throw_error(st, start, end + 1, TYPE_CHAR);
    st->position = end + 1;
    if (!load) return;
    Cell* c = push_value(st);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_CHAR;
    c->w2 = cp;
}

// Percent-decodes a loaded url! or file! in place.
void percent_decode(Cell* value) {
    collector::RootCell source(*value);
    u32 type = TYPE_OF(value);
    u32 nl = value->header & FLAG_NEW_LINE;
    collector::RootCell decoded;
    string::make_at(decoded.get(), string::zs_length(source.get()) + 1, 1);
    url::decode(source.get(), decoded.get());
    *value = decoded.value;
    value->header = nl | type;
}

void load_file(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    st->type_hint = TYPE_FILE;
    if (end - start >= 2 && start[1] == '"') {
        if (end >= st->input_end || *end != '"') throw_error(st, start, end, TYPE_FILE);
        st->position = end + 1;
        if (!load) {
            u32 unit;
            if (!check_text(start + 2, end, true, &unit)) throw_error(st, start, end + 1, TYPE_FILE);
            return;
        }
        Cell* c = push_value(st);
        if (!load_text(c, start + 2, end, flags, true, TYPE_FILE)) {
            drop_last(st);
            throw_error(st, start, end + 1, TYPE_FILE);
        }
        return;
    }
    st->position = end;
    if (!load) {
        u32 unit;
        if (!check_text(start + 1, end, false, &unit)) throw_error(st, start, end, TYPE_FILE);
        return;
    }
    Cell* c = push_value(st);
    if (!load_text(c, start + 1, end, flags, false, TYPE_FILE)) {
        drop_last(st);
        throw_error(st, start, end, TYPE_FILE);
    }
    if (std::memchr(start + 1, '%', size_t(end - start - 1))) percent_decode(out_at(st->out_tail - 1));
}

// A token whose whole text (from `skip` bytes on) is the value, without escapes.
void load_plain(State* st, const u8* start, const u8* end, u32 flags, bool load, i64 skip, u32 type) {
    st->position = end;
    if (!load) {
        u32 unit;
        if (!check_text(start + skip, end, false, &unit)) throw_error(st, start, end, i32(type));
        return;
    }
    Cell* c = push_value(st);
    if (!load_text(c, start + skip, end, flags, false, type)) {
        drop_last(st);
        throw_error(st, start, end, i32(type));
    }
}

void load_url(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    if (*start == ':') throw_error(st, start, end, TYPE_GET_WORD);
    if (*start == '\'') throw_error(st, start, end, TYPE_LIT_WORD);
    load_plain(st, start, end, flags, load, 0, TYPE_URL);
    if (load && std::memchr(start, '%', size_t(end - start))) percent_decode(out_at(st->out_tail - 1));
}

void load_email(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    load_plain(st, start, end, flags, load, 0, TYPE_EMAIL);
}

void load_ref(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    load_plain(st, start, end, flags, load, 1, TYPE_REF);
}

void load_tag(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    if (*start != '<') throw_error(st, start, end, TYPE_TAG);
    load_plain(st, start, end, flags, load, 1, TYPE_TAG);
    st->position = end + 1;
}

void load_raw_string(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    i64 n = 0;
    while (start[n] == '%') n++;
    i64 m = 0;
    while (m < end - start && end[-1 - m] == '%') m++;
    const u8* close = end - m - 1;   // the "}"
    const u8* after = end;
    if (m > n) throw_error(st, start, end, TYPE_STRING);
    if (m < n) {
        // The token ended at a shorter run: look on for "}" and n signs.
        const u8* p = end;
        for (;;) {
            p = static_cast<const u8*>(std::memchr(p, '}', size_t(st->input_end - p)));
            if (!p) throw_error(st, start, st->input_end, TYPE_STRING);
            i64 k = 0;
            while (p + 1 + k < st->input_end && p[1 + k] == '%' && k < n) k++;
            if (k == n) break;
            p++;
        }
        close = p;
        after = p + 1 + n;
    }
    const u8* text = start + n + 1;
    st->position = after;
    u32 unit;
    if (!check_text(text, close, false, &unit)) throw_error(st, start, after, TYPE_STRING);
    if (load) {
        Cell* c = push_value(st);
        load_text(c, text, close, flags | (unit == 4 ? u32(FLAG_LEAD4) : unit == 2 ? u32(FLAG_LEAD2) : 0u), false, TYPE_STRING);
    } else if (tracing_q(st)) {
        call_tracer(st, EVENT_OPEN, TYPE_STRING, nullptr, start, after);
        call_tracer(st, EVENT_CLOSE, TYPE_STRING, nullptr, start, after);
    }
}

// --- Binaries --------------------------------------------------------------------------------

void skip_comment(const u8*& p, const u8* end) {
    while (p < end && *p != '\n') p++;
}

// Each decoder writes its bytes to `out` (null: only checks) and answers the
// count, or -1 at a fault (its place in *fault).
//
// Base 2 and base 16: digits of 1 or 4 bits each, most significant first,
// fill bytes; tab, line feed, carriage return and space are skipped, ";"
// skips to the end of the line, and a byte left unfinished is a fault.
i64 decode_bits(const u8* p, const u8* end, u8* out, const u8** fault, i32 bits) {
    i64 n = 0;
    u32 acc = 0;
    i32 have = 0;
    for (; p < end; p++) {
        u8 c = *p;
        if (c == '\t' || c == '\n' || c == '\r' || c == ' ') continue;
        if (c == ';') {
            skip_comment(p, end);
            if (p >= end) break;
            continue;
        }
        i32 v = bits == 4 ? hex_value(c) : (c == '0' || c == '1') ? c - '0' : -1;
        if (v < 0) {
            *fault = p;
            return -1;
        }
        acc = (acc << bits) | u32(v);
        have += bits;
        if (have == 8) {
            if (out) out[n] = u8(acc);
            n++;
            acc = 0;
            have = 0;
        }
    }
    if (have) {
        *fault = end;
        return -1;
    }
    return n;
}

i64 decode_base16(const u8* p, const u8* end, u8* out, const u8** fault) { return decode_bits(p, end, out, fault, 4); }
i64 decode_base2(const u8* p, const u8* end, u8* out, const u8** fault) { return decode_bits(p, end, out, fault, 1); }

i32 base64_value(u8 c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

i64 decode_base64(const u8* p, const u8* end, u8* out, const u8** fault) {
    i64 n = 0;
    u32 acc = 0;
    i32 digits = 0;
    for (; p < end; p++) {
        u8 c = *p;
        if (c == 8 || c == '\t' || c == '\n' || c == 12 || c == '\r' || c == ' ') continue;
        if (c == ';') {
            skip_comment(p, end);
            if (p >= end) break;
            continue;
        }
        if (c == '=') {
            if (digits == 2) {
                if (out) out[n] = u8(acc >> 4);
                return n + 1;   // the next character is the second "=" or anything: ignored
            }
            if (digits == 3) {
                if (out) {
                    out[n] = u8(acc >> 10);
                    out[n + 1] = u8(acc >> 2);
                }
                return n + 2;
            }
            *fault = p;
            return -1;
        }
        i32 v = base64_value(c);
        if (v < 0) {
            *fault = p;
            return -1;
        }
        acc = (acc << 6) | u32(v);
        if (++digits == 4) {
            if (out) {
                out[n] = u8(acc >> 16);
                out[n + 1] = u8(acc >> 8);
                out[n + 2] = u8(acc);
            }
            n += 3;
            acc = 0;
            digits = 0;
        }
    }
    if (digits) {
        *fault = end;
        return -1;
    }
    return n;
}

void load_binary(State* st, const u8* start, const u8* end, u32, bool load) {
    i32 base = 16;
    const u8* p = start;
    if (*p != '#') {
        base = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            base = base * 10 + (*p - '0');
            if (base > 100) break;
            p++;
        }
    }
    if (base != 2 && base != 16 && base != 64) throw_error(st, start, end + 1, TYPE_BINARY);
    while (p < end && *p != '{') p++;
    const u8* text = p + 1;
    using Decoder = i64 (*)(const u8*, const u8*, u8*, const u8**);
    Decoder decode = base == 16 ? decode_base16 : base == 2 ? decode_base2 : decode_base64;
    const u8* fault = nullptr;
    i64 n = decode(text, end, nullptr, &fault);
    if (n < 0) throw_error(st, fault ? fault : start, end + 1, TYPE_BINARY);
    st->position = end + 1;
    if (!load) return;
    Cell* c = push_value(st);
    binary::make_at(c, n);
    SeriesBuffer* s = series::buffer_of(c);
    decode(text, end, series::head(s), &fault);
    s->tail = s->offset + u32(n);
}

}  // namespace

bool point_ahead_q(const u8* p, const u8* end) {
    if (end - p < 4) return false;
    for (; p < end; p++) {
        u8 c = *p;
        if (c == '\t' || c == ' ' || c == '#' || c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9'))
            continue;
        if (std::strchr("AEFINaefin", c) && c) continue;
        return c == ',';
    }
    return true;
}


bool path_terminator_q(u8 byte) {
    u32 c = classes[byte] & 0xFF;
    switch (c) {
        case CLASS_BLANK: case CLASS_LF: case CLASS_LBRACKET: case CLASS_RBRACKET: case CLASS_LPAREN:
        case CLASS_RPAREN: case CLASS_LBRACE: case CLASS_DQUOTE: case CLASS_COLON: case CLASS_LT:
        case CLASS_SEMICOLON: case CLASS_WORDCH: case CLASS_INVALID: case CLASS_END:
            return true;
        default:
            return false;
    }
}

void scan_string(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    st->position = end + 1;
    if (load) return;   // the loader decodes, and raises the same error
    u32 unit;
    bool escapes = (flags & FLAG_CARET) != 0;
    if ((escapes || unit_of_flags(flags) > 1) && !check_text(start + 1, end, escapes, &unit))
        throw_error(st, start, end + 1, st->type_hint > 0 ? st->type_hint : i32(TYPE_STRING));
    if (!escapes && unit_of_flags(flags) == 1)
        for (const u8* p = start + 1; p < end; p++)
            if (*p >= 0x80) throw_error(st, start, end + 1, st->type_hint > 0 ? st->type_hint : i32(TYPE_STRING));
}

void load_string(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    i32 type = st->type_hint > 0 ? st->type_hint : i32(TYPE_STRING);
    st->position = end + 1;
    if (!load) {
        scan_string(st, start, end, flags, false);
        return;
    }
    Cell* c = push_value(st);
    if (flags & FLAG_NEW_LINE_BEFORE) c->header |= FLAG_NEW_LINE;
    if (!load_text(c, start + 1, end, flags, (flags & FLAG_CARET) != 0, u32(type))) {
        drop_last(st);
        throw_error(st, start, end + 1, type);
    }
}

void load_word(State* st, const u8* start, const u8* end, u32 flags, bool load) {
    i32 kind = st->type_hint > 0 ? st->type_hint : st->token_type;
    if (st->type_hint <= 0 && kind != TYPE_ISSUE) kind = word_kind(st, start, end, flags);
    st->position = end;
    const u8* from = start;
    const u8* to = end;
    switch (kind) {
        case TYPE_REFINEMENT:
        case TYPE_ISSUE:
            from++;
            if (from >= to) throw_error(st, start, end, kind);
            break;
        case TYPE_GET_WORD:
        case TYPE_LIT_WORD:
            from++;
            break;
        case TYPE_SET_WORD:
            to--;
            break;
        default:
            break;
    }
    if (from >= to) throw_error(st, start, end, kind);
    // The automaton takes any bytes above 7F in a word (a stray
    // continuation byte has no flag to tell): the spelling must be UTF-8.
    u8 high = 0;
    for (const u8* p = from; p < to; p++) high |= *p;
    u32 unit;
    if ((high & 0x80) && !check_text(from, to, false, &unit)) throw_error(st, start, end, kind);
    if (!load) return;
    std::string_view text(reinterpret_cast<const char*>(from), size_t(to - from));
    Cell* c = push_value(st);
    if (kind == TYPE_ISSUE) {
        issue::make_at(c, text);
    } else {
        word::make_at(symbol::make(text), c);
        cell::set_type(c, u32(kind));
    }
}

void register_pairs() {
    Pair table[FINAL_COUNT] = {
        {scan_eof, nullptr},           {scan_error, nullptr},      {scan_block, nullptr},
        {scan_block_end, nullptr},     {scan_block, nullptr},      {scan_paren_end, nullptr},
        {scan_brace_string, nullptr},  {scan_string_alt, nullptr}, {scan_map, nullptr},
        {scan_path, nullptr},          {scan_construct, nullptr},  {scan_comment, nullptr},
        {scan_comma, nullptr},         {scan_string, load_string}, {scan_word, load_word},
        {scan_issue, load_word},       {nullptr, load_integer},    {nullptr, load_refinement},
        {nullptr, load_char},          {nullptr, load_file},       {nullptr, load_binary},
        {nullptr, load_percent},       {nullptr, load_float},      {nullptr, load_float_special},
        {nullptr, load_tuple},         {nullptr, load_date},       {nullptr, load_pair},
        {nullptr, load_point},         {nullptr, load_time},       {nullptr, load_money},
        {nullptr, load_tag},           {nullptr, load_url},        {nullptr, load_email},
        {nullptr, load_hex},           {nullptr, load_raw_string}, {nullptr, load_ref},
    };
    std::memcpy(pairs, table, sizeof table);
}

}  // namespace lexer
}  // namespace zir
