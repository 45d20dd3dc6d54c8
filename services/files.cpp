// Files and folders: the file side of the simple layer (see simple_io.hpp).
//
// Everything goes through POSIX descriptors opened with O_CLOEXEC (a process
// started by `call` inherits none of them) and closed by a guard on every way
// out, errors included. Bytes are read into C++ memory first and become a
// value afterwards, so no raw pointer into a series buffer is held while
// anything allocates.
#include "services/simple_io.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"
#include "services/spawn.hpp"

namespace zir {
namespace simple_io {

namespace {

// Chunk of the reads of files that tell no size.
constexpr i64 READ_CHUNK = 64 * 1024;

}  // namespace

// --- Wrappers --------------------------------------------------------------------------

int open_file(const std::string& path, u32 mode) {
    int flags = O_CLOEXEC;
    if (mode == MODE_READ) {
        flags |= O_RDONLY;
    } else {
        flags |= O_WRONLY | O_CREAT;
        if (mode & MODE_APPEND) flags |= O_APPEND;
        else if (!(mode & MODE_SEEK)) flags |= O_TRUNC;
    }
    int fd;
    do fd = ::open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

i64 file_size_q(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? i64(st.st_size) : 0;
}

bool seek_file(int fd, i64 offset) { return lseek(fd, off_t(offset), SEEK_SET) == off_t(offset); }

i64 read_data(int fd, u8* buffer, i64 count) {
    for (;;) {
        ssize_t n = ::read(fd, buffer, size_t(count));
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

i64 write_bytes(int fd, const u8* buffer, i64 count) {
    i64 done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, buffer + done, size_t(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;   // 0 bytes taken would loop forever
        done += n;
    }
    return count;
}

bool close_file(int fd) { return ::close(fd) == 0; }

i64 size_q(const std::string& path) {
    // Not blocking: a named pipe would otherwise be waited on until some
    // process opens it to write.
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    Fd file(fd);
    if (file.fd < 0) return -1;
    struct stat st;
    if (fstat(file.fd, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return S_ISREG(st.st_mode) ? i64(st.st_size) : 0;
}

bool file_exists_q(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool make_dir(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool rename_path(const std::string& from, const std::string& to) {
    // POSIX rename replaces an existing target, which would lose it silently.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: look first (another process could still
    // create the target in between; nothing better is offered there).
    if (file_exists_q(to)) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// --- Bytes of a file ---------------------------------------------------------------------

namespace {

// Reads until `count` bytes are in or the end is met: the bytes read, or -1.
i64 read_full(int fd, u8* buffer, i64 count) {
    i64 done = 0;
    while (done < count) {
        i64 n = read_data(fd, buffer + done, count - done);
        if (n < 0) return -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

// Files that tell no size are read once to their end, or to seek + part.
ReadStatus read_unsized(int fd, i64 part, i64 seek, std::vector<u8>& out) {
    i64 skip = seek > 0 ? seek : 0;
    i64 limit = part > 0 ? skip + part : skip + MAX_BYTES + 1;
    for (;;) {
        i64 have = i64(out.size());
        if (have >= limit) break;
        i64 chunk = std::min(READ_CHUNK, limit - have);
        out.resize(size_t(have + chunk));
        i64 got = read_full(fd, out.data() + have, chunk);
        if (got < 0) {
            out.clear();
            return READ_FAILED;
        }
        out.resize(size_t(have + got));
        if (got < chunk) break;
    }
    if (i64(out.size()) <= skip) {
        out.clear();
        return READ_OK;
    }
    out.erase(out.begin(), out.begin() + skip);
    if (part < 0 && i64(out.size()) > MAX_BYTES) {
        out.clear();
        return READ_TOO_LARGE;
    }
    if (part > 0 && i64(out.size()) > part) out.resize(size_t(part));
    return READ_OK;
}

// Opens a file for a read of `part` bytes (negative: to its end) from `seek`
// (negative: from its start) and answers how many bytes that read takes in
// *count, -1 when the file tells no size (read_unsized reads it). READ_OK
// with a count of 0 means there is nothing to read.
ReadStatus open_read(const std::string& path, i64 part, i64 seek, int* fd_out, i64* count) {
    *fd_out = -1;
    *count = 0;
    int fd = open_file(path, MODE_READ);
    if (fd < 0) return READ_CANNOT_OPEN;
    *fd_out = fd;
    i64 size = file_size_q(fd);
    if (size < 0) return READ_CANNOT_OPEN;
    if (part == 0) return READ_OK;
    if (size == 0) {
        *count = -1;
        return READ_OK;
    }
    if (seek >= 0) {
        if (seek >= size) return READ_OK;
        if (!seek_file(fd, seek)) return READ_FAILED;
        size -= seek;
    }
    if (part > 0 && part < size) size = part;
    if (size > MAX_BYTES) return READ_TOO_LARGE;
    *count = size;
    return READ_OK;
}

}  // namespace

ReadStatus read_bytes(const std::string& path, i64 part, i64 seek, std::vector<u8>& out) {
    out.clear();
    int fd;
    i64 size;
    ReadStatus status = open_read(path, part, seek, &fd, &size);
    Fd guard(fd);
    if (status != READ_OK || size == 0) return status;
    if (size < 0) return read_unsized(fd, part, seek, out);
    out.resize(size_t(size));
    i64 got = read_full(fd, out.data(), size);
    if (got < 0) {
        out.clear();
        return READ_FAILED;
    }
    out.resize(size_t(got));   // a file cut short meanwhile gives what was there
    return READ_OK;
}

namespace {

// Whether UTF-8 text of n bytes fits a string: at most one code point per
// byte that is not a continuation byte, stored at the width its widest lead
// byte asks for.
bool text_fits_q(const u8* bytes, i64 n) {
    // n bytes hold at most n characters, of at most 4 bytes each.
    if (n <= MAX_BYTES / 4) return true;
    i64 count = 0;
    u32 unit = 1;
    for (i64 i = 0; i < n; i++) {
        u8 b = bytes[i];
        if ((b & 0xC0) == 0x80) continue;
        count++;
        if (b >= 0xF0) unit = 4;
        else if (b >= 0xC4 && unit < 2) unit = 2;
    }
    return count * unit <= MAX_BYTES;
}

// A new binary! in the cell holding a copy of the bytes.
void make_binary_at(Cell* out, const u8* bytes, i64 n) {
    if (n > MAX_BYTES) fire(ERR_SCRIPT, "size-limit");
    *out = *binary::load(bytes, n);
    stack::pop(1);
}

// Bytes of a character cut by the end of the text: the loader stops before
// them, and losing them silently would lose data.
[[noreturn]] void fire_cut_char(const u8* bytes, i64 n) {
    collector::RootCell bin;
    make_binary_at(bin.get(), bytes, n);
    fire(ERR_ACCESS, "invalid-utf8", bin.get());
}

// Loads UTF-8 into a new string in `out`.
void load_text(Cell* out, const u8* bytes, i64 n, bool crlf, const Cell* what) {
    if (!text_fits_q(bytes, n)) fire(ERR_SCRIPT, "size-limit", what);
    i32 cut = 0;
    u32 node = unicode::load_utf8(bytes, n, 0, &cut, crlf);
    if (cut > 0) fire_cut_char(bytes + n - cut, cut);
    cell::init(out, TYPE_STRING);
    out->w2 = node;
}

}  // namespace

Cell* bytes_to_string(Cell* out, const u8* bytes, i64 n, const Cell* what) {
    load_text(out, bytes, n, true, what);
    return out;
}

Cell* split_lines(Cell* out, const u8* bytes, i64 n, const Cell* what) {
    if (!text_fits_q(bytes, n)) fire(ERR_SCRIPT, "size-limit", what);
    collector::RootCell lines;
    block::make_at(lines.get(), 1);
    collector::RootCell line;
    i64 start = 0;
    while (start < n) {
        const u8* lf = static_cast<const u8*>(std::memchr(bytes + start, '\n', size_t(n - start)));
        i64 end = lf ? lf - bytes : n;
        i64 stop = lf && end > start && bytes[end - 1] == '\r' ? end - 1 : end;
        load_text(line.get(), bytes + start, stop - start, false, what);
        // The loader skips a byte-order mark at the start of what it loads:
        // only the file's own, before its first line, is one.
        if (start > 0 && stop - start >= 3 && bytes[start] == 0xEF && bytes[start + 1] == 0xBB &&
            bytes[start + 2] == 0xBF)
            string::insert_char(line.get(), 0, 0xFEFF);
        block::zs_append(lines.get(), line.get());
        start = end + 1;
    }
    *out = *lines.get();
    return out;
}

ReadStatus read_file(Cell* out, const std::string& path, i64 part, i64 seek, bool binary, bool lines,
                     const Cell* what) {
    if (binary) {
        // The bytes go straight into the new binary when the file tells its
        // size: no buffer of the whole file to fill and copy first.
        int fd;
        i64 size;
        ReadStatus status = open_read(path, part, seek, &fd, &size);
        Fd guard(fd);
        if (status != READ_OK) return status;
        if (size <= 0) {
            std::vector<u8> bytes;
            if (size < 0 && (status = read_unsized(fd, part, seek, bytes)) != READ_OK) return status;
            make_binary_at(out, bytes.data(), i64(bytes.size()));
            return READ_OK;
        }
        collector::RootCell made;
        binary::make_at(made.get(), size);
        SeriesBuffer* s = series::buffer_of(made.get());
        i64 got = read_full(fd, series::head(s), size);   // nothing allocates meanwhile
        if (got < 0) return READ_FAILED;
        s->tail = s->offset + u32(got);   // a file cut short meanwhile gives what was there
        *out = made.value;
        return READ_OK;
    }
    std::vector<u8> bytes;
    ReadStatus status = read_bytes(path, part, seek, bytes);
    if (status != READ_OK) return status;
    // Nothing read is an empty text, in lines mode too.
    if (bytes.empty() && !binary) {
        cell::init(out, TYPE_UNSET);
        string::make_at(out, 1, 1);
    } else if (binary) {
        make_binary_at(out, bytes.data(), i64(bytes.size()));
    } else if (lines) {
        split_lines(out, bytes.data(), i64(bytes.size()), what);
    } else {
        bytes_to_string(out, bytes.data(), i64(bytes.size()), what);
    }
    return READ_OK;
}

// --- Folders ----------------------------------------------------------------------------

bool dir_q(const Cell* path) {
    SeriesBuffer* s = node_buffer(path->w2);
    u32 unit = series::unit_of(s);
    i32 head = i32(path->w1);
    i32 n = series::length_of(s) - head;
    if (n <= 0) return false;
    auto at = [&](i32 from_end) { return string::get_char(series::head(s) + i64(head + n - from_end) * unit, unit); };
    if (at(1) == '/') return true;
    if (at(1) != '.') return false;
    if (n == 1 || at(2) == '/') return true;                    // "." or ".../."
    return at(2) == '.' && (n == 2 || at(3) == '/');           // ".." or ".../.."
}

namespace {

struct Entry {
    std::string name;
    bool folder;
};

bool entry_folder_q(DIR* dir, const dirent* e) {
    if (e->d_type == DT_DIR) return true;
    if (e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) return false;
    // A link to a folder lists as a folder, since it reads as one.
    struct stat st;
    return fstatat(dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

Cell* read_dir(Cell* out, const Cell* path) {
    std::string native = file::to_os_path(path);
    DIR* dir = opendir(native.empty() ? "." : native.c_str());
    if (!dir) fire(ERR_ACCESS, "cannot-open", path);
    std::vector<Entry> entries;
    bool failed = false;
    for (;;) {
        errno = 0;   // the end and a failure both answer null: errno tells them apart
        const dirent* e = readdir(dir);
        if (!e) {
            failed = errno != 0;
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        entries.push_back({e->d_name, entry_folder_q(dir, e)});
    }
    closedir(dir);
    if (failed) fire(ERR_ACCESS, "cannot-open", path);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });

    collector::RootCell list;
    block::make_at(list.get(), i32(entries.size() > 0 ? entries.size() : 1));
    collector::RootCell name;
    for (Entry& e : entries) {
        if (e.folder) e.name.push_back('/');
        file::load_os_text(name.get(), reinterpret_cast<const u8*>(e.name.data()), i64(e.name.size()), TYPE_FILE);
        block::zs_append(list.get(), name.get());
    }
    *out = *list.get();
    return out;
}

// --- Writing -------------------------------------------------------------------------------

void value_to_bytes(const Cell* value, i64 part, std::vector<u8>& out) {
    out.clear();
    collector::RootCell text;
    if (TYPE_OF(value) == TYPE_BINARY) {
        out = binary::bytes_of(value);
        if (part >= 0 && part < i64(out.size())) out.resize(size_t(part));
        return;
    }
    if (TYPE_OF(value) == TYPE_STRING) {
        *text.get() = *value;
    } else {
        string::make_at(text.get(), 16, 1);
        actions::mold(value, text.get(), false, false, false, nullptr, PART_UNLIMITED, 0);
    }
    i32 len = part >= 0 && part < MAX_LENGTH ? i32(part) : -1;
    u8* bytes = unicode::to_utf8_part(text.get(), &len, false);
    out.assign(bytes, bytes + len);
}

namespace {

// The writes of `write_file` once the file is open: answers the bytes of the
// last write, or -1 at the first that fails.
i64 write_all(int fd, const std::vector<u8>& bytes, const Cell* block, bool newline) {
    static const u8 lf = '\n';
    if (!block) {
        i64 written = write_bytes(fd, bytes.data(), i64(bytes.size()));
        if (written < 0 || !newline) return written;
        return write_bytes(fd, &lf, 1);
    }
    // Each value is converted while the file is open, one at a time; the
    // block is read through its node each time, since molding allocates.
    i64 last = 1;
    std::vector<u8> item;
    collector::RootCell list(*block);
    for (i32 i = i32(list->w1);; i++) {
        SeriesBuffer* s = node_buffer(list->w2);
        if (i >= series::length_of(s)) break;
        collector::RootCell value(series::head_cells(s)[i]);
        value_to_bytes(value.get(), -1, item);
        if (write_bytes(fd, item.data(), i64(item.size())) < 0) return -1;
        last = write_bytes(fd, &lf, 1);
        if (last < 0) return -1;
    }
    return last;
}

}  // namespace

i64 write_file(const std::string* path, const std::vector<u8>& bytes, const Cell* block, i64 seek, bool append,
               bool newline) {
    if (!path) {
        console::flush();   // what was printed before goes out first
        return write_all(STDOUT_FILENO, bytes, block, newline);
    }
    Fd file(open_file(*path, MODE_WRITE | (append ? MODE_APPEND : 0) | (seek >= 0 ? MODE_SEEK : 0)));
    if (file.fd < 0) return -1;
    if (seek > 0 && !append && !seek_file(file.fd, seek)) return -1;
    i64 last = write_all(file.fd, bytes, block, newline);
    // Some file systems report a failed write only when the file is closed.
    if (!close_file(file.release())) return -1;
    return last;
}

// --- Value-level entries --------------------------------------------------------------

namespace {

// The integer of a /part or /seek argument: -1 when absent.
i64 refinement_integer(const Cell* arg, const char* word) {
    if (!arg) return -1;
    if (TYPE_OF(arg) != TYPE_INTEGER) series::fire_refine_arg(symbol::make(word), arg);
    return integer::get(arg);
}

}  // namespace

Cell* read(Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines) {
    i64 p = refinement_integer(part, "part");
    i64 s = refinement_integer(seek, "seek");
    collector::RootCell path(*file);
    if (dir_q(path.get())) return read_dir(file, path.get());
    std::string native = file::to_os_path(path.get());
    switch (read_file(file, native, p, s, binary, lines, path.get())) {
        case READ_OK: return file;
        case READ_TOO_LARGE: fire(ERR_SCRIPT, "size-limit", path.get());
        default: fire(ERR_ACCESS, "cannot-open", path.get());
    }
}

Cell* write(Cell* file, const Cell* value, const Cell* part, const Cell* seek, bool binary, bool append,
            bool lines) {
    (void)binary;   // text is written with the platform's line ends: nothing to convert
    i64 p = refinement_integer(part, "part");
    i64 s = refinement_integer(seek, "seek");
    collector::RootCell target(*file);
    collector::RootCell data(*value);
    if (p < 0 && part) {
        integer::make_at(file, -1);
        return file;
    }
    bool to_stdout = TYPE_OF(target.get()) == TYPE_NONE;
    std::string native = to_stdout ? std::string() : file::to_os_path(target.get());
    bool block_mode = lines && TYPE_OF(data.get()) == TYPE_BLOCK;
    std::vector<u8> bytes;
    if (!block_mode) value_to_bytes(data.get(), p, bytes);
    i64 written = write_file(to_stdout ? nullptr : &native, bytes, block_mode ? data.get() : nullptr, s, append,
                             lines && !block_mode);
    if (written < 0) fire(ERR_ACCESS, "cannot-open", target.get());
    integer::make_at(file, i32(std::min<i64>(written, MAX_LENGTH)));
    return file;
}

namespace {

// A date! of a file time, in UTC and without a zone; false when its year
// lies beyond what a date holds.
bool make_file_date(Cell* out, const timespec& t) {
    time_t seconds = t.tv_sec;
    struct tm tm;
    if (!gmtime_r(&seconds, &tm)) return false;
    i64 year = i64(tm.tm_year) + 1900;
    if (year < date::YEAR_MIN || year > date::YEAR_MAX) return false;
    return date::make_from_fields(out, i32(year), tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                                  i32(t.tv_nsec)) != nullptr;
}

}  // namespace

Cell* query(Cell* file) {
    std::string native = file::to_os_path(file);
    struct stat st;
    // A path ending in "/" that names a file fails here (ENOTDIR).
    if (stat(native.c_str(), &st) != 0 || !make_file_date(file, st.st_mtim)) cell::init(file, TYPE_NONE);
    return file;
}

bool delete_(const Cell* file) {
    std::string native = file::to_os_path(file);
    if (!dir_q(file)) return unlink(native.c_str()) == 0;
    // A folder's path ending in "/." names that folder, which rmdir refuses
    // to remove under that name.
    if (native.size() > 2 && native.ends_with("/.")) native.pop_back();
    return rmdir(native.c_str()) == 0;
}

bool rename(const Cell* from, const Cell* to) {
    std::string a = file::to_os_path(from);
    std::string b = file::to_os_path(to);
    return rename_path(a, b);
}

}  // namespace simple_io
}  // namespace zir
