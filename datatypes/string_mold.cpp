// string!: form and mold, and the caret escapes shared by char! and the molds
// of the string family.
//
// form copies the text. mold writes source text that the lexer reads back:
// between double quotes, or between braces when the text is long, holds a
// double quote or several line feeds; line feeds, tabs and the other control
// characters are caret escapes in both forms, so a molded string never holds
// a raw line break.
#include "datatypes/string.hpp"

#include <vector>

#include "datatypes/integer.hpp"
#include "runtime/fault.hpp"

namespace zir {
namespace string {

namespace {

// The letter written after a caret for the code points 0x00..0x5E (0: none).
// 0x1E has none: it is written in the hexadecimal form.
constexpr char ESCAPE_LETTERS[0x5F] = {
    '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '-', '/', 'K', 'L', 'M', 'N', 'O',
    'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', '\\', ']', 0, '_',
    0, 0, '"', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '^',
};

// Strings of this many code points or more mold in braces, whatever they hold.
constexpr i32 BRACES_FROM_LENGTH = 50;
// Strings with this many line feeds or more mold in braces.
constexpr i32 BRACES_FROM_LINE_FEEDS = 3;

inline i32 written_since(const Cell* buffer, i32 before) { return zs_abs_length(buffer) - before; }

// For each `{` of the span: whether a `}` closes it before the span ends.
// One pass with a stack of the open braces finds for each its partner, which
// is the `}` where a count from that brace first returns to zero.
template <class T>
std::vector<bool> balanced_braces(const T* p, i64 n) {
    std::vector<bool> balanced(size_t(n), false);
    std::vector<i64> open;
    for (i64 i = 0; i < n; i++) {
        if (p[i] == '{') {
            open.push_back(i);
        } else if (p[i] == '}' && !open.empty()) {
            balanced[size_t(open.back())] = true;
            open.pop_back();
        }
    }
    return balanced;
}

// Whether a code point is written as it is: printable, not the caret, not a
// brace in brace mode nor a double quote in quote mode, and above 0x9F only
// without /all. ASCII through a table per mode.
constexpr auto PLAIN_ASCII = [] {
    struct Table {
        bool in_quotes[128], in_braces[128];
    } t{};
    for (u32 c = 0x20; c < 0x7F; c++) {
        t.in_quotes[c] = c != '^' && c != '"';
        t.in_braces[c] = c != '^' && c != '{' && c != '}';
    }
    return t;
}();

inline bool plain_q(u32 c, bool braces, bool all) {
    if (c < 0x80) return braces ? PLAIN_ASCII.in_braces[c] : PLAIN_ASCII.in_quotes[c];
    return c > 0x9F && !all;
}

}  // namespace

void append_escaped_char(Cell* buffer, u32 cp, bool all) {
    if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 0x7F)) {
        append_literal(buffer, "^(");
        append_literal(buffer, to_hex(i32(cp), true));
        append_char(buffer, ')');
    } else if (cp < 0x5F && ESCAPE_LETTERS[cp]) {
        append_char(buffer, '^');
        append_char(buffer, u32(u8(ESCAPE_LETTERS[cp])));
    } else if (cp == 0x7F) {
        append_literal(buffer, "^~");
    } else {
        append_char(buffer, cp);
    }
}

namespace {

// The molded text of `span` code points from `head` of a string `length`
// long. They are read from a copy: the output may be the string itself, and
// writing moves buffers.
template <class T>
void mold_span(const u8* head, i64 span, i64 length, Cell* buffer, bool all) {
    std::vector<T> text(static_cast<size_t>(span));
    if (span > 0) std::memcpy(text.data(), head, size_t(span) * sizeof(T));
    const T* p = text.data();
    i32 quotes = 0, line_feeds = 0, open_braces = 0;
    for (i64 i = 0; i < span; i++) {
        quotes += p[i] == '"';
        line_feeds += p[i] == '\n';
        open_braces += p[i] == '{';
    }
    bool braces = line_feeds >= BRACES_FROM_LINE_FEEDS || quotes > 0 || length >= BRACES_FROM_LENGTH;
    append_char(buffer, braces ? '{' : '"');
    std::vector<bool> balanced;
    if (braces && open_braces) balanced = balanced_braces(p, span);
    bool balancing = true;   // until the first brace with no partner
    i32 open = 0;
    for (i64 i = 0; i < span;) {
        // A run of code points written as they are goes in one piece.
        i64 run = i;
        while (run < span && plain_q(p[run], braces, all)) run++;
        if (run > i) {
            append_codepoints(buffer, reinterpret_cast<const u8*>(p + i), run - i, sizeof(T));
            i = run;
            continue;
        }
        u32 c = p[i];
        if (!braces) {
            append_escaped_char(buffer, c, all);
        } else if (c == '{') {
            if (balancing && !balanced[size_t(i)]) balancing = false;
            if (balancing) {
                open++;
                append_char(buffer, '{');
            } else {
                append_literal(buffer, "^{");
            }
        } else if (c == '}') {
            if (open > 0) {
                open--;
                append_char(buffer, '}');
            } else {
                append_literal(buffer, "^}");
            }
        } else if (c == '"') {
            append_char(buffer, '"');
        } else {
            append_escaped_char(buffer, c, all);   // the caret too: "^^"
        }
        i++;
    }
    append_char(buffer, braces ? '}' : '"');
}

}  // namespace

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    i32 limit = arg ? integer::get(arg) : -1;
    // The value may lie in a buffer that the writing moves (a block being
    // formed): its length is taken first.
    i32 length = zs_length(value);
    const Cell source = *value;
    concatenate(buffer, &source, limit, 0, true, CONCAT_APPEND);
    return part - length;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool all, bool, const Cell* arg, i32 part, i32) {
    const Cell str = *value;
    i64 length = zs_length(&str);
    i64 span = length;
    if (arg && integer::get(arg) != 0) span = part < 0 ? 0 : part < length ? part : length;

    SeriesBuffer* s = node_buffer(str.w2);
    u32 unit = series::unit_of(s);
    const u8* head = series::head(s) + i64(str.w1) * unit;
    i32 before = zs_abs_length(buffer);
    switch (unit) {
        case 1: mold_span<u8>(head, span, length, buffer, all); break;
        case 2: mold_span<u16>(head, span, length, buffer, all); break;
        case 4: mold_span<u32>(head, span, length, buffer, all); break;
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
    return part - written_since(buffer, before);
}

}  // namespace string
}  // namespace zir
