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
std::vector<bool> balanced_braces(const u8* p, i64 n, u32 unit) {
    std::vector<bool> balanced(size_t(n), false);
    std::vector<i64> open;
    for (i64 i = 0; i < n; i++) {
        u32 c = get_char(p + i * unit, unit);
        if (c == '{') {
            open.push_back(i);
        } else if (c == '}' && !open.empty()) {
            balanced[size_t(open.back())] = true;
            open.pop_back();
        }
    }
    return balanced;
}

// Whether a code point is written as it is: printable, not the caret, not a
// brace in brace mode nor a double quote in quote mode, and above 0x9F only
// without /all.
inline bool plain_q(u32 c, bool braces, bool all) {
    if (c < 0x7F) return c >= 0x20 && c != '^' && (braces ? c != '{' && c != '}' : c != '"');
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

    // The span is read from a copy: the output may be the string itself, and
    // writing moves buffers.
    SeriesBuffer* s = node_buffer(str.w2);
    u32 unit = series::unit_of(s);
    std::vector<u8> text(size_t(span * unit));
    if (span > 0) std::memcpy(text.data(), series::head(s) + i64(str.w1) * unit, text.size());
    const u8* p = text.data();

    i32 quotes = 0, line_feeds = 0, open_braces = 0;
    for (i64 i = 0; i < span; i++) {
        u32 c = get_char(p + i * unit, unit);
        quotes += c == '"';
        line_feeds += c == '\n';
        open_braces += c == '{';
    }
    bool braces = line_feeds >= BRACES_FROM_LINE_FEEDS || quotes > 0 || length >= BRACES_FROM_LENGTH;
    i32 before = zs_abs_length(buffer);
    append_char(buffer, braces ? '{' : '"');
    std::vector<bool> balanced;
    if (braces && open_braces) balanced = balanced_braces(p, span, unit);
    bool balancing = true;   // until the first brace with no partner
    i32 open = 0;
    for (i64 i = 0; i < span;) {
        // A run of code points written as they are goes in one piece.
        i64 run = i;
        while (run < span && plain_q(get_char(p + run * unit, unit), braces, all)) run++;
        if (run > i) {
            append_codepoints(buffer, p + i * unit, run - i, unit);
            i = run;
            continue;
        }
        u32 c = get_char(p + i * unit, unit);
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
    return part - written_since(buffer, before);
}

}  // namespace string
}  // namespace zir
