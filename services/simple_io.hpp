// The simple file layer: what the actions of file! hand their work to (the
// HTTP requests of url! are services/http.hpp's).
//
// A file action checks its refinements and calls one of these entries with
// the file value; the entry reaches the file system (POSIX calls on the
// file's native path, file::to_os_path), and answers its
// result in the cell of its first argument, which is the calling action's
// result cell. Failures are raised here (`access cannot-open` and the rest),
// never reported as success.
//
// The file system is not part of the runtime yet: until it is, every entry
// raises `internal not-done`, so a script that reads a
// file fails clearly instead of receiving nothing.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace simple_io {

// The file's content: a binary! with `binary`, a block of lines with `lines`,
// else a string!; a folder (a path ending in "/") gives its listing. `part`
// and `seek` are null when absent.
Cell* read(Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines);

// Writes the value to the file (to standard output when the file cell holds
// none). `part` and `seek` are null when absent.
Cell* write(Cell* file, const Cell* value, const Cell* part, const Cell* seek, bool binary, bool append,
            bool lines);

// Information on the file, its modification time as a date!.
Cell* query(Cell* file);

// Removes the file, or the folder a path ending in "/" names; answers success.
bool delete_(const Cell* file);

// Renames a file; answers success.
bool rename(const Cell* from, const Cell* to);

}  // namespace simple_io
}  // namespace zir
