// url!: a string holding a URL, child of string! and parent of file!, and the
// percent coding that urls, files, `enhex`, `dehex` and the lexer share.
//
// A url keeps its text as a string! does (datatypes/string.hpp) and adds: a
// url built from a block of parts, a mold that percent-encodes (so that the
// lexer, which percent-decodes url tokens, reads back the same text), path
// access that joins segments with one slash, and open, read and write, which
// go to the HTTP client for urls starting with "http" and through a port
// (built from what the library's `parse-url` answers) for any other scheme.
//
// The module is split by concern: url.cpp (the datatype), url_percent.cpp
// (percent coding).
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace url {

// --- Percent coding (url_percent.cpp) ------------------------------------------
//
// Text is coded as the bytes of its UTF-8 form. A byte below 0x80 that is safe
// in the mode's table is written as it is; every other byte becomes "%" and
// two upper-case hexadecimal digits.
//   strict: A..Z a..z 0..9 - . _ ~ (the unreserved characters of URIs);
//   wide (every other mode): those and ! # $ & ' ( ) * + , / : = ? @.
constexpr i32 ENCODE_STRICT = 254;
constexpr i32 ENCODE_WIDE = 0;

// Whether a code point is written unescaped in wide mode (the url! mold's
// table; file! quotes what it lacks).
bool wide_safe_q(u32 cp);
// The bytes to write for one byte in a mode: the byte itself (count 1), or
// its escape (count 3) in a buffer the next call overwrites.
const u8* encode_byte(i32 mode, const u8* byte, i32* count);
// The byte of an escape: true when `at` holds "%" and two hexadecimal digits
// (either case) before `end`.
bool decode_hex_pair(const u32* at, const u32* end, u8* byte);

// Appends the coded text of `source` (from its head) to the string `target`;
// with a limit of 0 or more, coding stops once that many code points were
// written (the last escape may pass it). Answers the code points written.
i64 encode(const Cell* source, Cell* target, i32 mode, i64 limit = -1);
// Appends the decoded text of `source` (from its head) to `target`:
//   - an escape of an ASCII byte or of a UTF-8 continuation byte gives that
//     code point;
//   - an escape of a UTF-8 lead byte followed by the escapes of its
//     continuation bytes gives the character they encode; when one of them is
//     missing, or the bytes are no character as the runtime reads UTF-8
//     (which takes unpaired surrogates but DC00..DCFF, since it writes them),
//     the "%" stays a plain character and decoding goes on right after it;
//   - everything else, a "%" without two hexadecimal digits after it
//     included, is copied.
// `target` may be `source` itself.
void decode(const Cell* source, Cell* target);
// Loads encoded text (string::ENCODING_UTF8 or ENCODING_UTF16LE) and pushes
// a string! holding its decoded form; answers the pushed cell.
Cell* load_decoded(const u8* text, i64 length, i32 encoding);

// --- The datatype (url.cpp) --------------------------------------------------------

Cell* push(const Cell* value);

// Runs the library's `parse-url` on a url, writing what it answers into
// `result`. Set by the interpreter; while it is null, reaching a port raises
// `internal not-done`.
extern void (*parse_url)(const Cell* url, Cell* result);

// The port for a url: `parse-url`'s object made into a port! and, with
// `open`, opened with the refinements given. Replaces the url cell with the
// port and answers it. A result of `parse-url` that is not an object! raises
// `script invalid-arg` with the url.
Cell* to_port(Cell* url, bool open, bool new_, bool read, bool write, bool seek, Cell* allow);

// Actions. make and to answer a new value on the value stack; eval_path
// answers a new value of the url's type there; open, read and write answer in
// the url cell.
Cell* make(Cell* proto, Cell* spec, u32 type);
Cell* to(Cell* proto, Cell* spec, u32 type);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify);
Cell* open(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow);
Cell* read(Cell* url, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* write(Cell* url, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as);

void init();
// Start-up and memory resets: makes the method words of HTTP requests.
void init_state();

}  // namespace url
}  // namespace zir
