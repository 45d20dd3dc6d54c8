// file!: a string holding a file path, child of url!.
//
// Paths are native POSIX paths: forward slashes, "/" the root. A file keeps
// its text as a string! does and takes its behaviour from url! (making from a
// block, path access joining segments with one slash); it adds its mold (a
// "%" before the path), the local form of its path, the process's current
// folder, and read, write, query, delete and rename, which hand the file to
// the simple file layer (services/simple_io.hpp).
#pragma once

#include <string>

#include "runtime/cell.hpp"

namespace zir {
namespace file {

Cell* push(const Cell* value);
// Text in an encoding of string::load, pushed as a file!.
Cell* load_push(const u8* text, i64 length, i32 encoding);

// Appends the path in local form to the string `out`: the file's own text,
// after the current folder when `full` is set and the path is relative.
void to_local_path(const Cell* file, Cell* out, bool full);
// The path as the system takes it: the file's UTF-8 text from its head, each
// code point DC80..DCFF written as the byte it stands for (see
// `load_os_text`). A path holding a NUL names no file (the system would read
// it cut short there): `access cannot-open` with the file.
std::string to_os_path(const Cell* file);
// The same text of any string-family value into `out`; false, with `out`
// unfinished, when the text holds a NUL.
bool to_os_text(const Cell* text, std::string& out);
// Text that the system gives (a file name, an environment entry) as a value
// of the string family `type`, written into `out`. System texts are bytes,
// mostly UTF-8 but not always: each byte that is not part of a character the
// loader reads (malformed UTF-8, and the encoded forms of DC00..DCFF and
// U+FFFE) becomes the code point DC00 + the byte, which `to_os_path` turns
// back into that byte, so every name found can be opened again.
Cell* load_os_text(Cell* out, const u8* bytes, i64 n, u32 type);
// Whether a code point stands for a byte of system text that is no UTF-8.
inline bool os_byte_escape_q(u32 cp) { return cp >= 0xDC80 && cp <= 0xDCFF; }
// Pushes a string! holding the process's current folder, ending in "/". A
// current folder that cannot be found (removed while in use) raises
// `access cannot-open`.
Cell* get_current_dir();
// Replaces every backslash from the head to the tail with a slash, in place.
void backslashes_to_slashes(Cell* value);

// Actions. The file actions answer in the cell of their first argument.
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
Cell* delete_(Cell* file);
Cell* query(Cell* file);
Cell* read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* rename(Cell* from, Cell* to);
Cell* write(Cell* file, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as);

void init();

}  // namespace file
}  // namespace zir
