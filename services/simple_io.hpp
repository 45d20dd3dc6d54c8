// The simple file layer: what the actions of file! hand their work to, and
// the file routines of the natives and of the library (the HTTP requests of
// url! are services/http.hpp's).
//
// The file system is reached through POSIX calls on native paths (the UTF-8
// text `file::to_os_path` makes of a file! value). Nothing stays open between
// calls: each operation opens, works and closes. The wrappers and byte-level
// routines report failure by value; the value-level entries (`read`, `write`,
// `query`, `delete_`, `rename`), which the file actions call with their own
// arguments, raise the language errors and answer in the cell of their first
// argument.
//
// Sizes are 64-bit all the way down; only what becomes a value is held to the
// language's 32-bit lengths, and a file part larger than a series can hold is
// refused with `script size-limit`, never cut short.
//
// Text is UTF-8 with the platform's line ends: reading turns CR LF and a lone
// CR into LF and skips a leading byte-order mark; writing puts LF as it stands.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zir {
namespace simple_io {

// --- Wrappers over the system's file calls -----------------------------------------

// Open modes, combined: read alone opens an existing file for reading; any
// other mode opens for writing, creating the file, and truncates it unless
// append or positioned write is asked.
constexpr u32 MODE_READ = 1;
constexpr u32 MODE_WRITE = 2;
constexpr u32 MODE_APPEND = 4;
constexpr u32 MODE_SEEK = 8;

// A descriptor (closed on exec), or -1.
int open_file(const std::string& path, u32 mode);
// The size in bytes of a regular file; 0 for what tells no size in advance
// (pipes, devices, the files of /proc), which are read to their end; -1 on
// failure.
i64 file_size_q(int fd);
bool seek_file(int fd, i64 offset);
// One read of at most `count` bytes (a terminal or a pipe gives what it has):
// answers the bytes read, 0 at the end, or -1 when the system reports an error.
i64 read_data(int fd, u8* buffer, i64 count);
// Writes all `count` bytes; answers `count`, or -1 when any write fails.
i64 write_bytes(int fd, const u8* buffer, i64 count);
bool close_file(int fd);
// The size in bytes of what the path names, as `file_size_q` tells it; -1
// for a folder or what cannot be opened.
i64 size_q(const std::string& path);
// Whether the path names anything, a dangling symbolic link included.
bool file_exists_q(const std::string& path);
// One level, with the permissions the process's umask leaves.
bool make_dir(const std::string& path);
// Renames without ever replacing: an existing target answers false and
// leaves both files as they were.
bool rename_path(const std::string& from, const std::string& to);

// --- Bytes of a file -----------------------------------------------------------------

// The largest byte series the memory manager makes.
constexpr i64 MAX_BYTES = MAX_LENGTH - 15;

enum ReadStatus : i32 {
    READ_OK = 0,
    READ_CANNOT_OPEN,
    READ_FAILED,      // the system reported an error while reading
    READ_TOO_LARGE,   // the part asked for is more than a series holds
};

// Reads the bytes that `part` and `seek` select (negative: absent): from byte
// `seek` on, at most `part` bytes (0: none). A seek at or past the end gives
// no bytes. Files that tell no size are read to their end (or to seek + part)
// once. The bytes are those actually read, however many that is.
ReadStatus read_bytes(const std::string& path, i64 part, i64 seek, std::vector<u8>& out);

// A new string! of UTF-8 bytes in the cell, CR LF and lone CR made LF and a
// leading byte-order mark skipped. Malformed UTF-8, a character cut by the end
// of the bytes included, raises `access invalid-utf8`; text too large for a
// string raises `script size-limit` with `what`.
Cell* bytes_to_string(Cell* out, const u8* bytes, i64 n, const Cell* what);
// A new block! in the cell of one string! per line: lines end at LF, which is
// dropped with a CR just before it; a final LF adds no empty line.
Cell* split_lines(Cell* out, const u8* bytes, i64 n, const Cell* what);

// The content of a file as a value in `out`: binary!, a block of lines, or
// string!; no bytes read give an empty binary! or string!, in lines mode too. Answers the status; `out` is set only with READ_OK.
ReadStatus read_file(Cell* out, const std::string& path, i64 part, i64 seek, bool binary, bool lines,
                     const Cell* what);

// Whether the path text names a folder: "/", ".", "..", or a text ending in
// "/", "/." or "/..".
bool dir_q(const Cell* path);

// The folder's entries in a new block! in `out`, sorted by name, each a file!
// and a sub-folder's ending in "/"; the entries "." and ".." are left out.
// Raises `access cannot-open` with the path when the folder cannot be read.
Cell* read_dir(Cell* out, const Cell* path);

// --- Writing -----------------------------------------------------------------------------

// The bytes a value writes: a string! its UTF-8 (at most `part` code points),
// a binary! its bytes from the head (at most `part`), anything else its mold
// (at most `part` code points). `part` < 0: no limit.
void value_to_bytes(const Cell* value, i64 part, std::vector<u8>& out);

// Writes to the file (standard output when `path` is null): the bytes, then
// LF with `newline`; in block mode (`block` not null) each value of the block
// from its head, each followed by LF. The file is created or truncated unless
// `append` (which writes at the end) or `seek` >= 0 (which writes from that
// offset without truncating). Answers the bytes of the last write (1 for an
// empty block), or -1 when the file cannot be opened or positioned or any
// write fails.
i64 write_file(const std::string* path, const std::vector<u8>& bytes, const Cell* block, i64 seek, bool append,
               bool newline);

// --- Value-level entries --------------------------------------------------------------

// The file's content: a binary! with `binary`, a block of lines with `lines`,
// else a string!; a folder gives its listing. `part` and `seek` are null when
// absent, else integer! (another type raises `script invalid-refine-arg`).
// A file that cannot be opened or read raises `access cannot-open`, a part
// too large for a series `script size-limit`, both with the file.
Cell* read(Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines);

// Writes the value to the file (to standard output when the file cell holds
// none) and answers the byte count of the last write as an integer!; a
// negative part writes nothing and answers -1. Every failed open, seek or
// write raises `access cannot-open` with the file.
Cell* write(Cell* file, const Cell* value, const Cell* part, const Cell* seek, bool binary, bool append,
            bool lines);

// The file's last modification as a date! in UTC, or none when the path names
// nothing (or, ending in "/", names something that is not a folder).
Cell* query(Cell* file);

// Removes the file, or the empty folder a path ending in "/" names; answers
// success.
bool delete_(const Cell* file);

// Renames a file or folder; answers success. An existing target is never
// replaced: the answer is then false.
bool rename(const Cell* from, const Cell* to);

}  // namespace simple_io
}  // namespace zir
