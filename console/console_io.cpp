// The console's input and terminal routines: see console_io.hpp.
#include "console/console_io.hpp"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "boot/routines.hpp"
#include "boot/startup.hpp"
#include "console/terminal.hpp"
#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/string.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace console_io {

namespace {

using interpreter::RoutineValue;

// What `_set-buffer-history` hands to the next `_read-input`: the answer
// string and the history block. Marked by the collector while set.
Cell kept_line;
Cell kept_history;
bool marking = false;

void mark_kept() {
    collector::mark_values(&kept_line, &kept_line + 1);
    collector::mark_values(&kept_history, &kept_history + 1);
}

// --- Standard input -----------------------------------------------------------

u8 in_buffer[4096];
size_t in_pos = 0;
size_t in_len = 0;

// Fills the buffer when it is empty; false at the end of input or on a
// failed read (either ends what is being read).
bool fill() {
    if (in_pos < in_len) return true;
    ssize_t n;
    do n = ::read(0, in_buffer, sizeof in_buffer);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    in_pos = 0;
    in_len = size_t(n);
    return true;
}

bool stdin_terminal() { return isatty(0) != 0; }

// --- Routines --------------------------------------------------------------------

// _set-buffer-history line hist
RoutineValue set_buffer_history(const RoutineValue* args, i32) {
    kept_line = *args[0].cell;
    kept_history = *args[1].cell;
    if (!marking) {
        collector::register_(mark_kept);
        marking = true;
    }
    return RoutineValue{.cell = nullptr};
}

// _read-input prompt hidden?: reads one line into the kept string. Answers
// false at the end of input (nothing read), so that `ask` can end the
// console, true when a line was read, and on a terminal the cursor (an
// integer) when a Tab asks for completion: the line so far is then in the
// kept string, and the next call, after `_set-completion`, goes on with the
// same edit.
RoutineValue read_input(const RoutineValue* args, i32) {
    // Written before the edit, which allocates: a collection marks the cell.
    Cell* result = stack::push_slot();
    cell::init(result, TYPE_UNSET);
    bool hidden = logic::truthy_q(args[1].cell, false, nullptr);
    if (stdin_terminal() && TYPE_OF(&kept_line) == TYPE_STRING) {
        i32 outcome = terminal::edit_line(args[0].cell, hidden, &kept_line, &kept_history);
        if (outcome >= 0) {
            integer::make_at(result, outcome);
            return RoutineValue{.cell = result};
        }
        if (outcome != terminal::EDIT_NOT_TERMINAL) {
            logic::make_at(result, outcome != terminal::EDIT_END);
            return RoutineValue{.cell = result};
        }
    }
    std::string line;
    bool got = read_line(&line);
    if (TYPE_OF(&kept_line) == TYPE_STRING)
        append_utf8_replacing(&kept_line, reinterpret_cast<const u8*>(line.data()), line.size());
    logic::make_at(result, got);
    return RoutineValue{.cell = result};
}

RoutineValue terminate_console(const RoutineValue*, i32) { return RoutineValue{.cell = nullptr}; }

// input-stdin: a new string of the next line, none at the end of input.
RoutineValue input_stdin(const RoutineValue*, i32) {
    std::string line;
    Cell* result = stack::push_slot();
    if (!read_line(&line)) {
        cell::init(result, TYPE_NONE);
        return RoutineValue{.cell = result};
    }
    cell::init(result, TYPE_UNSET);
    string::make_at(result, i64(line.size()) < 256 ? 256 : i64(line.size()), 1);
    append_utf8_replacing(result, reinterpret_cast<const u8*>(line.data()), line.size());
    return RoutineValue{.cell = result};
}

// read-stdin buffer buflen: appends at most `buflen` bytes of standard input
// at the binary's tail, never more than the room its buffer has there.
RoutineValue read_stdin(const RoutineValue* args, i32) {
    Cell* bin = args[0].cell;
    i32 wanted = args[1].i;
    if (wanted <= 0) return RoutineValue{.cell = nullptr};
    SeriesBuffer* s = node_buffer(bin->w2);
    size_t room = s->size > s->tail ? size_t(s->size - s->tail) : 0;
    size_t n = size_t(wanted) < room ? size_t(wanted) : room;
    if (n == 0) return RoutineValue{.cell = nullptr};
    size_t got = 0;
    if (in_pos < in_len) {   // what the line reader has buffered comes first
        got = in_len - in_pos < n ? in_len - in_pos : n;
        memcpy(series::tail(s), in_buffer + in_pos, got);
        in_pos += got;
    } else {
        ssize_t r;
        do r = ::read(0, series::tail(s), n);
        while (r < 0 && errno == EINTR);
        got = r > 0 ? size_t(r) : 0;
    }
    s->tail += u32(got);
    return RoutineValue{.cell = nullptr};
}

// _console-init title: the terminal's title (OSC 2, only when standard output
// is a terminal; a terminal that ignores it is no failure), and the window
// size as a pair, 0x0 when standard input is not a terminal or the size is
// unknown.
RoutineValue console_init(const RoutineValue* args, i32) {
    Cell* title = args[0].cell;
    if (isatty(1)) {
        std::string text = string::to_std(title);
        std::string osc = "\x1b]2;";
        for (char c : text)
            if (u8(c) >= 0x20 && c != 0x7F) osc += c;   // no control byte may end the sequence early
        osc += '\x07';
        console::flush();
        ssize_t ignored = ::write(1, osc.data(), osc.size());
        (void)ignored;
    }
    Cell* result = stack::push_slot();
    winsize ws{};
    if (stdin_terminal() && ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0)
        pair::make_at(result, ws.ws_col, ws.ws_row);
    else
        pair::make_at(result, 0, 0);
    return RoutineValue{.cell = result};
}

// _command-line: the raw text of the command line after the program's path
// (the arguments joined with blanks, each quoted when it holds a blank or a
// tab or is empty), and the block of the arguments, as [boot args text].
RoutineValue command_line(const RoutineValue*, i32) {
    const auto& args = boot::process.args;
    Cell* result = stack::push_slot();
    cell::init(result, TYPE_UNSET);
    block::make_at(result, 4);
    collector::RootCell held(*result);
    auto push_text = [](const std::string& text) {
        Cell* c = stack::push_slot();
        cell::init(c, TYPE_UNSET);
        string::make_at(c, i64(text.size()), 1);
        append_utf8_replacing(c, reinterpret_cast<const u8*>(text.data()), text.size());
        return c;
    };
    {
        stack::KeepTop restore;
        block::zs_append(&held.value, push_text(args.empty() ? std::string() : args[0]));
    }
    collector::RootCell list;
    block::make_at(&list.value, i32(args.size()) + 1);
    std::string raw;
    for (size_t i = 1; i < args.size(); i++) {
        stack::KeepTop restore;
        block::zs_append(&list.value, push_text(args[i]));
        if (i > 1) raw += ' ';
        bool quote = args[i].empty() || args[i].find_first_of(" \t") != std::string::npos;
        raw += quote ? "\"" + args[i] + "\"" : args[i];
    }
    block::zs_append(&held.value, &list.value);
    {
        stack::KeepTop restore;
        block::zs_append(&held.value, push_text(raw));
    }
    *result = held.value;
    return RoutineValue{.cell = result};
}

// _current-dir: the process's current directory as text ending in "/".
RoutineValue current_dir(const RoutineValue*, i32) {
    std::string path = "/";
    char buf[4096];
    if (getcwd(buf, sizeof buf)) {
        path = buf;
        if (path.empty() || path.back() != '/') path += '/';
    }
    Cell* result = stack::push_slot();
    cell::init(result, TYPE_UNSET);
    string::make_at(result, i64(path.size()), 1);
    append_utf8_replacing(result, reinterpret_cast<const u8*>(path.data()), path.size());
    return RoutineValue{.cell = result};
}

// _set-current-dir path: changes the process's current directory; false when
// the system refuses.
RoutineValue set_current_dir(const RoutineValue* args, i32) {
    std::string path = string::to_std(args[0].cell);
    if (path.find('\0') != std::string::npos) return RoutineValue{0};
    return RoutineValue{chdir(path.c_str()) == 0 ? 1 : 0};
}

// _make-private-dir path: makes the folder and its missing parents, each
// readable by its owner alone (0700); false when one cannot be made.
RoutineValue make_private_dir(const RoutineValue* args, i32) {
    Cell* result = stack::push_slot();
    std::string path = string::to_std(args[0].cell);
    bool ok = !path.empty() && path.find('\0') == std::string::npos;
    for (size_t at = 1; ok && at <= path.size(); at++) {
        if (at < path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        struct stat st{};
        if (stat(part.c_str(), &st) == 0) {
            ok = S_ISDIR(st.st_mode);
            continue;
        }
        ok = mkdir(part.c_str(), 0700) == 0 || errno == EEXIST;
    }
    logic::make_at(result, ok);
    return RoutineValue{.cell = result};
}

// _replace-file from to: renames `from` over `to` in one step; false when
// the system refuses (the new file is then removed).
RoutineValue replace_file(const RoutineValue* args, i32) {
    Cell* result = stack::push_slot();
    std::string from = string::to_std(args[0].cell);
    std::string to = string::to_std(args[1].cell);
    bool ok = from.find('\0') == std::string::npos && to.find('\0') == std::string::npos &&
              rename(from.c_str(), to.c_str()) == 0;
    if (!ok && from.find('\0') == std::string::npos) unlink(from.c_str());
    logic::make_at(result, ok);
    return RoutineValue{.cell = result};
}

}  // namespace

bool read_line(std::string* out) {
    out->clear();
    bool any = false;
    while (fill()) {
        any = true;
        const u8* start = in_buffer + in_pos;
        const u8* end = in_buffer + in_len;
        const u8* nl = static_cast<const u8*>(memchr(start, '\n', size_t(end - start)));
        if (nl) {
            out->append(reinterpret_cast<const char*>(start), size_t(nl - start));
            in_pos += size_t(nl - start) + 1;
            return true;
        }
        out->append(reinterpret_cast<const char*>(start), size_t(end - start));
        in_pos = in_len;
    }
    return any;
}

void append_utf8_replacing(Cell* str, const u8* p, size_t n) {
    constexpr u32 REPLACEMENT = 0xFFFD;
    size_t i = 0;
    while (i < n) {
        u8 b = p[i];
        if (b < 0x80) {
            string::append_char(str, b);
            i++;
            continue;
        }
        size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        u32 cp = len == 2 ? b & 0x1Fu : len == 3 ? b & 0x0Fu : b & 0x07u;
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; k++) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        static const u32 least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (ok) {
            string::append_char(str, cp);
            i += len;
        } else {
            string::append_char(str, REPLACEMENT);
            i++;
        }
    }
}

void define_routines() {
    using boot::define_routine;
    terminal::define_routines();
    define_routine("_set-buffer-history", R"("Internal Use Only" line [string!] hist [block!])",
                   set_buffer_history, routine::RETURNS_NONE, false);
    define_routine("_read-input", R"("Internal Use Only" prompt [string!] hidden? [logic!])", read_input,
                   routine::RETURNS_NONE, true);
    define_routine("_terminate-console", R"()", terminate_console, routine::RETURNS_NONE, false);
    define_routine("input-stdin", R"("Temporary function, internal use only")", input_stdin,
                   routine::RETURNS_NONE, true);
    define_routine("read-stdin", R"("Temporary function, internal use only" buffer [binary!] buflen [integer!])",
                   read_stdin, routine::RETURNS_NONE, false);
    define_routine("_console-init", R"("Sets the console's title; answers the window size" str [string!])",
                   console_init, routine::RETURNS_NONE, true);
    define_routine("_current-dir", R"("Internal Use Only")", current_dir, routine::RETURNS_NONE, true);
    define_routine("_set-current-dir", R"("Internal Use Only" path [file!])", set_current_dir,
                   routine::RETURNS_LOGIC, false);
    define_routine("_make-private-dir", R"("Internal Use Only" path [file!])", make_private_dir,
                   routine::RETURNS_NONE, true);
    define_routine("_replace-file", R"("Internal Use Only" from [file!] to [file!])", replace_file,
                   routine::RETURNS_NONE, true);
    define_routine("_command-line", R"("Internal Use Only")", command_line, routine::RETURNS_NONE, true);
}

}  // namespace console_io
}  // namespace zir
