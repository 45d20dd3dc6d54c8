// file!: see file.hpp.
//
// The mold writes what the lexer's file token reads back as the same path.
// That token comes in two forms:
//   - bare, "%" and the path: it ends at a blank, a line feed, a bracket,
//     parenthesis or brace, ":", ";" or "@", may not hold a double quote, and
//     is percent-decoded when it holds a "%";
//   - quoted, "%" and the path between double quotes: it cannot hold a double
//     quote or a line feed, and decodes caret escapes.
// So a path is written bare as it is when every character below 0x7F is one
// of the URL characters (url::wide_safe_q) but ( ) : @; otherwise quoted,
// with a caret doubled; and a path holding a double quote, a line feed or a
// NUL (which ends the lexer's input), which no quoted form holds, bare with
// %XX escapes for every character a bare path cannot hold and for "%".
#include "datatypes/file.hpp"

#include <vector>

#include "datatypes/datatype.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/url.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/platform.hpp"
#include "runtime/unicode.hpp"
#include "services/simple_io.hpp"

namespace zir {
namespace file {

namespace {

[[noreturn]] void not_done() { fire(ERR_INTERNAL, "not-done"); }

enum MoldForm { BARE, QUOTED, ESCAPED };

// Whether a character stands as it is in a bare molded path.
inline bool bare_q(u32 c) {
    return c >= 0x7F || (url::wide_safe_q(c) && c != '(' && c != ')' && c != ':' && c != '@');
}

// Whether the escaped bare form writes a character as %XX: what ends a bare
// path or cannot stand in one (blanks and control characters, which cannot
// begin one either), and "%", which would be taken for an escape.
inline bool escaped_q(u32 c) {
    if (c <= 0x20) return true;
    switch (c) {
        case '"': case '%': case '(': case ')': case ':': case ';': case '@': case '[': case ']': case '{': case '}':
            return true;
        default:
            return false;
    }
}

MoldForm mold_form(const std::vector<u32>& text) {
    bool bare = true;
    for (u32 c : text) {
        if (c == '"' || c == '\n' || c == 0) return ESCAPED;
        bare = bare && bare_q(c);
    }
    return bare ? BARE : QUOTED;
}

void put_escape(std::vector<u32>& out, u32 c) {
    const char* hex = string::byte_to_hex(u8(c));
    out.push_back('%');
    out.push_back(u8(hex[0]));
    out.push_back(u8(hex[1]));
}

inline void append_all(Cell* buffer, const std::vector<u32>& text) {
    string::append_codepoints(buffer, reinterpret_cast<const u8*>(text.data()), i64(text.size()), 4);
}

}  // namespace

Cell* push(const Cell* value) { return stack::push(value); }

Cell* load_push(const u8* text, i64 length, i32 encoding) {
    Cell* c = string::load_push(text, length, encoding);
    cell::set_type(c, TYPE_FILE);
    return c;
}

// --- Local paths ----------------------------------------------------------------

void to_local_path(const Cell* file, Cell* out, bool full) {
    const Cell source = *file;
    bool absolute = string::zs_length(&source) > 0 && string::get_char_at(&source, i32(source.w1)) == '/';
    if (full && !absolute) {
        collector::RootCell hold(source);
        Cell* dir = get_current_dir();
        string::concatenate(out, dir, -1, 0, true, string::CONCAT_APPEND);
        stack::pop(1);
    }
    string::concatenate(out, &source, -1, 0, true, string::CONCAT_APPEND);
}

bool to_os_text(const Cell* text, std::string& out) {
    out.clear();
    SeriesBuffer* s = node_buffer(text->w2);
    u32 unit = series::unit_of(s);
    i32 n = series::length_of(s);
    for (i32 i = i32(text->w1); i < n; i++) {
        u32 cp = string::get_char(series::head(s) + i64(i) * unit, unit);
        if (cp == 0) return false;
        if (os_byte_escape_q(cp)) {
            out.push_back(char(cp - 0xDC00));
            continue;
        }
        u8 buf[4];
        out.append(reinterpret_cast<char*>(buf), size_t(unicode::cp_to_utf8(cp, buf)));
    }
    return true;
}

std::string to_os_path(const Cell* file) {
    std::string path;
    if (!to_os_text(file, path)) fire(ERR_ACCESS, "cannot-open", file);
    return path;
}

namespace {

// The code point of the UTF-8 character at p (n bytes readable), and its
// length in `used`; -1 when the bytes are no character the loader reads.
i32 os_char(const u8* p, i64 n, i32* used) {
    u32 lead = p[0];
    *used = 1;
    if (lead < 0x80) return i32(lead);
    i32 size = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (size == 0 || lead > 0xF4 || n < size) return -1;
    u32 cp = lead & (0x7F >> size);
    for (i32 i = 1; i < size; i++) {
        if ((p[i] & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static constexpr u32 least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[size] || cp > 0x10FFFF || (cp >= 0xDC00 && cp <= 0xDCFF) || cp == 0xFFFE) return -1;
    *used = size;
    return i32(cp);
}

}  // namespace

Cell* load_os_text(Cell* out, const u8* bytes, i64 n, u32 type) {
    std::vector<u32> cps;
    cps.reserve(size_t(n));
    for (i64 i = 0; i < n;) {
        i32 used;
        i32 cp = os_char(bytes + i, n - i, &used);
        cps.push_back(cp < 0 ? 0xDC00 + bytes[i] : u32(cp));
        i += used;
    }
    cell::init(out, TYPE_UNSET);
    string::make_at(out, i64(cps.size()), 1);
    string::append_codepoints(out, reinterpret_cast<const u8*>(cps.data()), i64(cps.size()), 4);
    cell::set_type(out, type);
    return out;
}

Cell* get_current_dir() {
    std::string dir = platform::get_current_dir();
    if (dir.empty()) {
        // The argument says which folder: the current one.
        Cell* here = string::load_push(reinterpret_cast<const u8*>("./"), 2, string::ENCODING_UTF8);
        cell::set_type(here, TYPE_FILE);
        fire(ERR_ACCESS, "cannot-open", here);
    }
    if (dir.back() != '/') dir += '/';
    return string::load_push(reinterpret_cast<const u8*>(dir.data()), i64(dir.size()), string::ENCODING_UTF8);
}

void backslashes_to_slashes(Cell* value) {
    SeriesBuffer* s = series::buffer_of(value);
    u32 unit = series::unit_of(s);
    i32 n = series::abs_length(s);
    for (i32 i = series::head_index(value); i < n; i++) {
        u8* p = series::head(s) + i64(i) * unit;
        if (string::get_char(p, unit) == '\\') string::put_char(p, unit, '/');
    }
}

// --- Actions -------------------------------------------------------------------------

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    const Cell source = *value;
    i64 span = string::zs_length(&source);
    if (arg) span = part < 0 ? 0 : part < span ? part : span;
    // The text is read from a copy: the buffer written may be the file's own.
    std::vector<u32> text(size_t(span > 0 ? span : 0));
    for (i64 i = 0; i < span; i++) text[size_t(i)] = string::get_char_at(&source, i32(source.w1 + i));

    std::vector<u32> out{'%'};
    if (text.empty()) {
        out.push_back('"');
        out.push_back('"');
    } else {
        switch (mold_form(text)) {
            case BARE:
                out.insert(out.end(), text.begin(), text.end());
                break;
            case QUOTED:
                out.push_back('"');
                for (u32 c : text) {
                    out.push_back(c);
                    if (c == '^') out.push_back('^');
                }
                out.push_back('"');
                break;
            case ESCAPED:
                for (u32 c : text) {
                    if (escaped_q(c)) put_escape(out, c);
                    else out.push_back(c);
                }
                break;
        }
    }
    append_all(buffer, out);
    return part - i32(out.size());
}

Cell* delete_(Cell* file) {
    bool done = simple_io::delete_(file);
    cell::init(file, TYPE_LOGIC);
    file->w1 = done;
    return file;
}

Cell* query(Cell* file) { return simple_io::query(file); }

Cell* read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, bool, Cell* as) {
    if (as) not_done();
    return simple_io::read(file, part, seek, binary, lines);
}

Cell* rename(Cell* from, Cell* to) {
    bool done = simple_io::rename(from, to);
    cell::init(from, TYPE_LOGIC);
    from->w1 = done;
    return from;
}

Cell* write(Cell* file, Cell* data, bool binary, bool lines, bool, bool append, Cell* part, Cell* seek, Cell* allow,
            Cell* as) {
    if (allow || as) not_done();
    return simple_io::write(file, data, part, seek, binary, append, lines);
}

// --- Registration ---------------------------------------------------------------------

void init() {
    datatype::Registration r(TYPE_FILE, TYPE_URL, "file!");
    r.only_own();
    for (u32 slot : {ACT_MAKE, ACT_TO, ACT_FORM, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_AT, ACT_BACK,
                     ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT,
                     ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SELECT,
                     ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY})
        r.from_parent(slot);
    r.on<ACT_MOLD>(mold).on<ACT_DELETE>(delete_).on<ACT_QUERY>(query).on<ACT_READ>(read);
    r.on<ACT_RENAME>(rename).on<ACT_WRITE>(write);
    datatype::register_(r);
}

}  // namespace file
}  // namespace zir
