// The line editor: see terminal.hpp.
#include "console/terminal.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "boot/routines.hpp"
#include "console/console_io.hpp"
#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/char_width.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"

namespace zir {
namespace terminal {

// ================================ Key decoder ================================

namespace {

constexpr u32 REPLACEMENT = 0xFFFD;

// The final byte of "ESC [ n ~" sequences, by n.
i32 tilde_key(int n) {
    switch (n) {
        case 1: case 7: return KEY_HOME;
        case 2: return KEY_INSERT;
        case 3: return KEY_DELETE;
        case 4: case 8: return KEY_END;
        case 5: return KEY_PAGE_UP;
        case 6: return KEY_PAGE_DOWN;
        default: return KEY_UNKNOWN;
    }
}

i32 letter_key(u8 c) {
    switch (c) {
        case 'A': return KEY_UP;
        case 'B': return KEY_DOWN;
        case 'C': return KEY_RIGHT;
        case 'D': return KEY_LEFT;
        case 'H': return KEY_HOME;
        case 'F': return KEY_END;
        default: return KEY_UNKNOWN;
    }
}

Decoded decode_escape(const u8* b, size_t n, bool final) {
    if (n == 1) return final ? Decoded{27, 1} : Decoded{0, 0};
    if (b[1] == 'O') {   // SS3: the arrows and Home/End in application mode
        if (n == 2) return final ? Decoded{27, 1} : Decoded{0, 0};
        return Decoded{letter_key(b[2]), 3};
    }
    if (b[1] != '[') return Decoded{27, 1};   // Esc, then the byte as a key of its own
    // CSI: parameter bytes 0x30-0x3F, intermediates 0x20-0x2F, one final byte.
    size_t i = 2;
    int first = 0;          // the first parameter; modifiers after ";" are ignored
    bool in_first = true;
    while (i < n && b[i] >= 0x30 && b[i] <= 0x3F) {
        if (b[i] >= '0' && b[i] <= '9') {
            if (in_first && first < 10000) first = first * 10 + (b[i] - '0');
        } else {
            in_first = false;
        }
        i++;
    }
    while (i < n && b[i] >= 0x20 && b[i] <= 0x2F) i++;
    if (i >= n) {
        if (!final) return Decoded{0, 0};
        return Decoded{KEY_UNKNOWN, n};   // truncated sequence: dropped whole
    }
    u8 last = b[i];
    if (last < 0x40 || last > 0x7E) return Decoded{KEY_UNKNOWN, i};   // malformed: up to the stray byte
    if (last == '~') return Decoded{tilde_key(first), i + 1};
    return Decoded{letter_key(last), i + 1};   // modifiers ("1;5C") are ignored
}

}  // namespace

Decoded decode_key(const u8* b, size_t n, bool final) {
    if (n == 0) return Decoded{0, 0};
    u8 c = b[0];
    if (c == 27) return decode_escape(b, n, final);
    if (c < 0x80) return Decoded{c, 1};
    size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0) return Decoded{i32(REPLACEMENT), 1};
    u32 cp = len == 2 ? c & 0x1Fu : len == 3 ? c & 0x0Fu : c & 0x07u;
    for (size_t k = 1; k < len; k++) {
        if (k >= n) return final ? Decoded{i32(REPLACEMENT), n} : Decoded{0, 0};
        if ((b[k] & 0xC0) != 0x80) return Decoded{i32(REPLACEMENT), k};
        cp = (cp << 6) | (b[k] & 0x3Fu);
    }
    static const u32 least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return Decoded{i32(REPLACEMENT), len};
    return Decoded{i32(cp), len};
}

// ================================== Layout ===================================

int char_columns(u32 cp) {
    if (cp == '\t') return 4;
    if (cp < 0x20 || cp == 0x7F) return 2;
    if (cp >= 0x80 && cp < 0xA0) return 1;   // shown as U+FFFD, one cell
    if (cp >= 0x1F300 && cp <= 0x1F5FF) return 2;
    return unicode::char_width(cp);
}

namespace {

void put_utf8(std::string* out, u32 cp) {
    if (cp < 0x80) {
        *out += char(cp);
    } else if (cp < 0x800) {
        *out += char(0xC0 | (cp >> 6));
        *out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += char(0xE0 | (cp >> 12));
        *out += char(0x80 | ((cp >> 6) & 0x3F));
        *out += char(0x80 | (cp & 0x3F));
    } else {
        *out += char(0xF0 | (cp >> 18));
        *out += char(0x80 | ((cp >> 12) & 0x3F));
        *out += char(0x80 | ((cp >> 6) & 0x3F));
        *out += char(0x80 | (cp & 0x3F));
    }
}

}  // namespace

i64 fill_output(const std::u32string& text, size_t from, size_t to, i64 pos, int columns, bool prompt,
                bool hidden, std::string* out) {
    if (columns < 1) columns = 1;
    if (to > text.size()) to = text.size();
    for (size_t i = from; i < to; i++) {
        u32 cp = text[i];
        if (hidden) {
            if (out) *out += '*';
            pos++;
            continue;
        }
        if (prompt && cp == 27) {
            // A colour or charset sequence of the prompt takes no cell.
            if (out) *out += char(27);
            if (i + 1 < to && (text[i + 1] == '[' || text[i + 1] == '(')) {
                size_t j = i + 2;
                while (j < to && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';')) j++;
                size_t end = j < to ? j + 1 : to;
                if (out)
                    for (size_t k = i + 1; k < end; k++) put_utf8(out, text[k]);
                i = end - 1;
            }
            continue;
        }
        int w = char_columns(cp);
        if (w == 2 && columns > 1 && pos % columns == columns - 1) pos++;   // the terminal wraps it whole
        if (out) {
            if (cp == '\t') *out += "    ";
            else if (cp < 0x20 || cp == 0x7F) {
                // Control characters never reach the terminal as they are.
                *out += '^';
                *out += char(cp == 0x7F ? '?' : cp + 0x40);
            } else if (cp >= 0x80 && cp < 0xA0) put_utf8(out, REPLACEMENT);
            else put_utf8(out, cp);
        }
        pos += w;
    }
    return pos;
}

// ================================ Terminal state ===============================

namespace {

// Raw mode: the mode found before the edit, set back after it.
termios saved_mode;
volatile sig_atomic_t raw_on = 0;

// SIGWINCH writes a byte here; the key reader polls it with the input.
int winch_pipe[2] = {-1, -1};
bool handlers_installed = false;
struct sigaction previous_int, previous_term, previous_hup;

int columns = 80;
int rows = 24;

// Bytes read from the terminal and not yet decoded.
std::string pending;

// After a hang-up or a read error: the edit that met it answered "q",
// every later one answers the end of input.
bool hung_up = false;

// The edit in progress; it outlives a `_read-input` that returns for
// completion.
struct Edit {
    bool open = false;                 // between a Tab's return and its resumption
    bool completed = false;            // `_set-completion` gave the answer
    std::u32string prompt;
    std::u32string line;
    size_t cursor = 0;
    bool hidden = false;
    bool entered = false;              // ended by Enter
    i32 history_index = -1;
    i64 start = 0;                      // column where the prompt begins
    i64 term_pos = 0;                   // the terminal cursor, cells from the prompt row's column 0
    std::vector<std::u32string> answers;  // the completion's strings
    size_t answer_cursor = 0;             // cursor of the first
    bool redraw_below = false;            // resumed after another edit: drawn anew where that one left the cursor
};
Edit edit;

// Edits waiting for their completion while the completion itself asks for
// a line: each goes on once the edit it started ends.
std::vector<Edit> paused;

// Text and cursor for the next edit after a completion listed candidates.
std::u32string saved_line;
size_t saved_cursor = 0;

void on_end_signal(int sig) {
    restore_mode();
    const struct sigaction* prev = sig == SIGINT ? &previous_int : sig == SIGTERM ? &previous_term : &previous_hup;
    if (!(prev->sa_flags & SA_SIGINFO) && prev->sa_handler != SIG_DFL && prev->sa_handler != SIG_IGN &&
        prev->sa_handler != nullptr)
        prev->sa_handler(sig);
    signal(sig, SIG_DFL);
    raise(sig);
}

void on_winch(int) {
    int saved = errno;
    char b = 1;
    ssize_t ignored = ::write(winch_pipe[1], &b, 1);
    (void)ignored;
    errno = saved;
}

void install_handlers() {
    if (handlers_installed) return;
    handlers_installed = true;
    runtime::before_fault_report = restore_mode;
    struct sigaction sa{};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_end_signal;
    sigaction(SIGINT, nullptr, &previous_int);
    sigaction(SIGTERM, nullptr, &previous_term);
    sigaction(SIGHUP, nullptr, &previous_hup);
    // A signal the process ignores stays ignored.
    if (previous_int.sa_handler != SIG_IGN) sigaction(SIGINT, &sa, nullptr);
    if (previous_term.sa_handler != SIG_IGN) sigaction(SIGTERM, &sa, nullptr);
    if (previous_hup.sa_handler != SIG_IGN) sigaction(SIGHUP, &sa, nullptr);
    if (pipe(winch_pipe) == 0) {
        for (int fd : winch_pipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        struct sigaction wa{};
        sigemptyset(&wa.sa_mask);
        wa.sa_handler = on_winch;
        wa.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &wa, nullptr);
    }
}

bool enter_raw_mode() {
    install_handlers();
    // Back from a completion the saved mode is still the one found before
    // the edit: the terminal is in the quiet mode now.
    if (!raw_on && tcgetattr(0, &saved_mode) != 0) return false;
    termios raw = saved_mode;
    raw.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
    raw.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN | ISIG);
    raw.c_cflag |= CS8;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw_on = 1;
    // TCSADRAIN, not TCSAFLUSH: keys typed ahead belong to this edit.
    if (tcsetattr(0, TCSADRAIN, &raw) != 0) {
        raw_on = 0;
        return false;
    }
    return true;
}

void leave_raw_mode() {
    if (!raw_on) return;
    tcsetattr(0, TCSADRAIN, &saved_mode);
    raw_on = 0;
}

// While a completion runs in the language the terminal takes back its own
// output handling and signals, but keys typed meanwhile are neither echoed
// (they may be a hidden answer) nor held for a line: they wait, unseen, for
// the edit that resumes. The mode found before the edit stays saved.
void enter_quiet_mode() {
    if (!raw_on) return;
    termios quiet = saved_mode;
    quiet.c_lflag &= ~tcflag_t(ECHO | ICANON);
    quiet.c_cc[VMIN] = 1;
    quiet.c_cc[VTIME] = 0;
    if (tcsetattr(0, TCSADRAIN, &quiet) != 0) leave_raw_mode();
}

void read_window_size() {
    winsize ws{};
    if (ioctl(0, TIOCGWINSZ, &ws) != 0 && ioctl(1, TIOCGWINSZ, &ws) != 0) return;
    columns = ws.ws_col > 0 ? ws.ws_col : 80;
    if (ws.ws_row > 0) rows = ws.ws_row;
}

void send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(1, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;   // a terminal gone: the next read reports it
        done += size_t(n);
    }
}

// --- Reading keys ---------------------------------------------------------------

constexpr i32 KEY_HANG_UP = -100;   // internal: the terminal is gone
constexpr i32 KEY_RESIZE = -101;    // internal: the window changed size

// Waits for input up to `timeout_ms` (-1: no limit). 1: bytes were added to
// `pending`; 0: time-out; 2: the window changed; -1: hang-up or read error.
int wait_input(int timeout_ms) {
    for (;;) {
        pollfd fds[2] = {{0, POLLIN, 0}, {winch_pipe[0], POLLIN, 0}};
        int r = poll(fds, winch_pipe[0] >= 0 ? 2 : 1, timeout_ms);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) return 0;
        if (winch_pipe[0] >= 0 && (fds[1].revents & POLLIN)) {
            char drain[64];
            while (::read(winch_pipe[0], drain, sizeof drain) > 0) {
            }
            read_window_size();
            return 2;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            char buf[256];
            ssize_t n = ::read(0, buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return -1;
            pending.append(buf, size_t(n));
            return 1;
        }
    }
}

i32 read_key() {
    for (;;) {
        if (!pending.empty()) {
            const u8* b = reinterpret_cast<const u8*>(pending.data());
            Decoded d = decode_key(b, pending.size(), false);
            if (d.used == 0) {
                int r = wait_input(ESC_TIMEOUT_MS);
                if (r == 2) return KEY_RESIZE;
                if (r == 1) continue;
                d = decode_key(reinterpret_cast<const u8*>(pending.data()), pending.size(), true);
                if (r < 0) hung_up = true;   // what was read still counts; the next read ends the edit
            }
            pending.erase(0, d.used);
            return d.key;
        }
        if (hung_up) return KEY_HANG_UP;
        int r = wait_input(-1);
        if (r == 2) return KEY_RESIZE;
        if (r < 0) return KEY_HANG_UP;
    }
}

// The column the cursor is in, asked of the terminal (ESC [ 6 n); 0 when
// it does not answer in time. Keys typed meanwhile stay in `pending`.
i64 cursor_column() {
    send("\x1b[6n");
    for (;;) {
        size_t at = pending.find("\x1b[");
        while (at != std::string::npos) {
            size_t i = at + 2;
            int row = 0, col = 0;
            bool semi = false;
            while (i < pending.size() && ((pending[i] >= '0' && pending[i] <= '9') || pending[i] == ';')) {
                if (pending[i] == ';') semi = true;
                else if (semi) col = col * 10 + (pending[i] - '0');
                else row = row * 10 + (pending[i] - '0');
                if (col > 100000 || row > 100000) break;
                i++;
            }
            if (i < pending.size() && pending[i] == 'R' && semi) {
                pending.erase(at, i + 1 - at);
                return col > 0 ? col - 1 : 0;
            }
            at = pending.find("\x1b[", at + 1);
        }
        int r = wait_input(500);
        if (r == 0 || r < 0) return 0;
    }
}

// --- Redraw ----------------------------------------------------------------------

// Moves the terminal cursor from `edit.term_pos` to `to` (both real cells).
void move_to(std::string* out, i64 to) {
    i64 from_row = edit.term_pos / columns;
    i64 to_row = to / columns;
    if (to_row < from_row) *out += "\x1b[" + std::to_string(from_row - to_row) + "A";
    if (to_row > from_row) *out += "\x1b[" + std::to_string(to_row - from_row) + "B";
    *out += '\r';
    if (to % columns) *out += "\x1b[" + std::to_string(to % columns) + "C";
    edit.term_pos = to;
}

// After writing text that ends at `end`: a terminal at the end of a full row
// keeps its cursor in the last column until the next character, so the
// cursor is put on the next row for the positions to hold.
void wrote_to(std::string* out, i64 end) {
    if (end > 0 && end % columns == 0) *out += "\r\n";
    edit.term_pos = end;
}

struct Positions {
    i64 text;     // where the line begins (after the prompt)
    i64 cursor;   // where the cursor is drawn
    i64 end;      // after the line
};

Positions measure() {
    Positions p;
    p.text = fill_output(edit.prompt, 0, edit.prompt.size(), edit.start, columns, true, false, nullptr);
    i64 at = fill_output(edit.line, 0, edit.cursor, p.text, columns, false, edit.hidden, nullptr);
    p.end = fill_output(edit.line, edit.cursor, edit.line.size(), at, columns, false, edit.hidden, nullptr);
    // A wide character at the cursor that wraps is drawn on the next row.
    if (edit.cursor < edit.line.size() && !edit.hidden && char_columns(edit.line[edit.cursor]) == 2 &&
        columns > 1 && at % columns == columns - 1)
        at++;
    p.cursor = at;
    return p;
}

// Rewrites the prompt and the line from where the prompt began (full), or
// only places the cursor.
void refresh(bool full) {
    std::string out;
    Positions p = measure();
    if (full) {
        move_to(&out, edit.start);
        out += "\x1b[J";
        fill_output(edit.prompt, 0, edit.prompt.size(), edit.start, columns, true, false, &out);
        fill_output(edit.line, 0, edit.line.size(), p.text, columns, false, edit.hidden, &out);
        wrote_to(&out, p.end);
    }
    move_to(&out, p.cursor);
    send(out);
}

// Typing at the end of the line writes just the new character. The cursor
// is then at the line's end, and so is the terminal's (every redraw and
// every append leaves it where the cursor is drawn): the character is laid
// out from there, never the whole line again, so a long paste costs time in
// proportion to its length.
void append_char(u32 cp) {
    i64 line_end = edit.term_pos;
    edit.line.push_back(cp);
    edit.cursor = edit.line.size();
    std::string out;
    i64 end = fill_output(edit.line, edit.line.size() - 1, edit.line.size(), line_end, columns, false,
                          edit.hidden, &out);
    wrote_to(&out, end);
    send(out);
}

// --- Lines and history ---------------------------------------------------------

std::u32string text_of(const Cell* str, size_t* cursor) {
    std::u32string text;
    i32 n = string::zs_abs_length(str);
    for (i32 i = 0; i < n; i++) text.push_back(string::get_char_at(str, i));
    if (cursor) *cursor = str->w1 < u32(n) ? str->w1 : u32(n);
    return text;
}

i32 history_count(const Cell* history) {
    return TYPE_OF(history) == TYPE_BLOCK ? block::cell_count(node_buffer(history->w2)) : 0;
}

void show_entry(const Cell* history, i32 index) {
    edit.line.clear();
    if (index >= 0 && index < history_count(history)) {
        const Cell* entry = block::zs_abs_at(history, index);
        if (TYPE_OF(entry) == TYPE_STRING) edit.line = text_of(entry, nullptr);
    }
    edit.cursor = edit.line.size();
}

// Writes the finished line into the caller's string and, for a line typed
// with Enter, to the head of the history (not a hidden one, not an empty
// one, not the newest entry again).
void deliver(Cell* line, Cell* history, bool enter) {
    string::zs_reset(line);
    for (u32 cp : edit.line) string::append_char(line, cp);
    if (!enter || edit.hidden || edit.line.empty() || TYPE_OF(history) != TYPE_BLOCK) return;
    if (history_count(history) > 0) {
        const Cell* newest = block::zs_abs_at(history, 0);
        if (TYPE_OF(newest) == TYPE_STRING && text_of(newest, nullptr) == edit.line) return;
    }
    collector::RootCell held;
    string::make_at(&held.value, i64(edit.line.size()), string::unit_for(0));
    for (u32 cp : edit.line) string::append_char(&held.value, cp);
    collector::RootCell history_root(*history);
    history_root.value.w1 = 0;
    block::insert_value(&history_root.value, &held.value, true, false);
}

// Ends the edit: the cursor goes below the text, the mode is restored.
void finish() {
    std::string out;
    Positions p = measure();
    move_to(&out, p.end);
    if (!(p.end > 0 && p.end % columns == 0)) out += "\r\n";
    send(out);
    leave_raw_mode();
    edit.open = false;
}

// After an edit that a completion asked for, the edit waiting for that
// completion is the current one again.
void resume_paused() {
    if (paused.empty()) return;
    edit = std::move(paused.back());
    paused.pop_back();
    edit.redraw_below = true;
}

constexpr i32 DONE = EDIT_DONE;
constexpr i32 HANG_UP = EDIT_HANG_UP;

void insert_char(u32 cp) {
    if (edit.cursor == edit.line.size()) {
        append_char(cp);
        return;
    }
    edit.line.insert(edit.cursor, 1, cp);
    edit.cursor++;
    refresh(true);
}

// Applies the completion's answer; true when the edit ends with it (the
// candidates are listed on the prompt's row and the next edit goes on with
// the line completed to their common prefix).
bool apply_completion() {
    std::vector<std::u32string> answers;
    answers.swap(edit.answers);
    if (answers.empty()) {
        insert_char('\t');
        return false;
    }
    if (answers.size() == 1 || edit.hidden) {
        // Hidden input completes in place only: listing candidates would end
        // the edit with an answer never typed and carry the secret over.
        edit.line = answers[0];
        edit.cursor = edit.answer_cursor <= edit.line.size() ? edit.answer_cursor : edit.line.size();
        refresh(true);
        return false;
    }
    saved_line = answers[0];
    saved_cursor = edit.answer_cursor <= saved_line.size() ? edit.answer_cursor : saved_line.size();
    edit.line.clear();
    for (size_t i = 1; i < answers.size(); i++) {
        edit.line += answers[i];
        edit.line += U' ';
    }
    edit.cursor = edit.line.size();
    refresh(true);
    edit.line.clear();
    edit.cursor = 0;
    return true;
}

i32 edit_loop(Cell* history) {
    i32 entries = history_count(history);
    for (;;) {
        i32 key = read_key();
        switch (key) {
            case KEY_HANG_UP:
                hung_up = true;
                edit.line = U"q";
                edit.cursor = 1;
                return HANG_UP;
            case KEY_RESIZE:
                refresh(true);
                break;
            case 9:
                return i32(edit.cursor);
            case 13:
            case 10:
                edit.entered = true;
                saved_line.clear();
                return DONE;
            case 8:
            case 127:
                if (edit.cursor > 0) {
                    edit.line.erase(--edit.cursor, 1);
                    refresh(true);
                }
                break;
            case KEY_LEFT:
            case 2:
                if (edit.cursor > 0) {
                    edit.cursor--;
                    refresh(false);
                }
                break;
            case KEY_RIGHT:
            case 6:
                if (edit.cursor < edit.line.size()) {
                    edit.cursor++;
                    refresh(false);
                }
                break;
            case KEY_UP:
            case 16:
                if (edit.history_index < entries - 1) show_entry(history, ++edit.history_index);
                else edit.line.clear(), edit.cursor = 0;
                refresh(true);
                break;
            case KEY_DOWN:
            case 14:
                if (edit.history_index < 0) edit.line.clear(), edit.cursor = 0;
                else show_entry(history, edit.history_index--);
                refresh(true);
                break;
            case KEY_HOME:
            case 1:
                edit.cursor = 0;
                refresh(false);
                break;
            case KEY_END:
            case 5:
                edit.cursor = edit.line.size();
                refresh(false);
                break;
            case KEY_DELETE:
                if (edit.cursor < edit.line.size()) {
                    edit.line.erase(edit.cursor, 1);
                    refresh(true);
                }
                break;
            case 11:
                if (edit.cursor < edit.line.size()) {
                    edit.line.erase(edit.cursor);
                    refresh(true);
                }
                break;
            case 4:
                if (edit.cursor < edit.line.size()) {
                    edit.line.erase(edit.cursor, 1);
                    refresh(true);
                } else if (edit.line.empty()) {
                    edit.line = U"q";
                    return DONE;
                }
                break;
            case 3:
                edit.line = U"q";
                edit.cursor = 1;
                return DONE;
            case 27:
                saved_line.clear();
                edit.line.push_back(27);
                edit.cursor = edit.line.size();
                return DONE;
            default:
                if (key > 31) insert_char(u32(key));
                break;
        }
    }
}

// --- Routines ------------------------------------------------------------------------

using interpreter::RoutineValue;

// _set-completion answer: the answer of `complete-input` (a block of
// strings, or none when it failed) for the edit that returned on a Tab.
RoutineValue set_completion(const RoutineValue* args, i32) {
    const Cell* answer = args[0].cell;
    edit.answers.clear();
    edit.answer_cursor = 0;
    if (TYPE_OF(answer) == TYPE_BLOCK) {
        i32 n = block::cell_count(node_buffer(answer->w2));
        for (i32 i = i32(answer->w1); i < n; i++) {
            const Cell* s = block::zs_abs_at(answer, i);
            if (TYPE_OF(s) != TYPE_STRING) continue;
            size_t cursor = 0;
            edit.answers.push_back(text_of(s, &cursor));
            if (edit.answers.size() == 1) edit.answer_cursor = cursor;
        }
    }
    edit.completed = true;
    return RoutineValue{.cell = nullptr};
}

// _console-size: the window's size as a pair, none when standard input is
// not a terminal.
RoutineValue console_size(const RoutineValue*, i32) {
    Cell* result = stack::push_slot();
    if (!isatty(0)) {
        cell::init(result, TYPE_NONE);
    } else {
        read_window_size();
        pair::make_at(result, columns, rows);
    }
    return RoutineValue{.cell = result};
}

}  // namespace

void restore_mode() {
    if (raw_on) {
        tcsetattr(0, TCSANOW, &saved_mode);
        raw_on = 0;
    }
}

// Runs (or resumes) the edit of one line for `_read-input` on a terminal:
// answers DONE, HANG_UP (the line is "q"; every later edit answers the end
// of input at once) or the cursor of a Tab that asks for completion.
i32 edit_line(const Cell* prompt, bool hidden, Cell* line, Cell* history) {
    bool resumed = edit.open && edit.completed;
    if (hung_up && !resumed && pending.empty()) return EDIT_END;
    console::flush();
    if (!resumed) {
        // An edit still open is waiting for the completion that asks this line.
        if (edit.open) paused.push_back(std::move(edit));
        edit = Edit{};
        edit.prompt = text_of(prompt, nullptr);
        edit.hidden = hidden;
        if (!hidden && !saved_line.empty()) {
            edit.line = saved_line;
            edit.cursor = saved_cursor;
        }
    }
    if (!enter_raw_mode()) {
        // Not a terminal after all: the redirected reader serves.
        edit.open = false;
        resume_paused();
        return EDIT_NOT_TERMINAL;
    }
    read_window_size();
    if (resumed && edit.redraw_below) {
        edit.redraw_below = false;
        edit.start = isatty(1) ? cursor_column() % columns : 0;
        edit.term_pos = edit.start;
        refresh(true);
    }
    if (!resumed) {
        // A prompt over several rows: the rows before its last line feed are
        // written once; the edit and its redraws keep to the last row.
        size_t last_feed = edit.prompt.rfind(U'\n');
        if (last_feed != std::u32string::npos) {
            std::string out;
            size_t from = 0;
            for (size_t at = edit.prompt.find(U'\n'); at <= last_feed; at = edit.prompt.find(U'\n', from)) {
                fill_output(edit.prompt, from, at, 0, columns, true, false, &out);
                out += "\r\n";
                from = at + 1;
            }
            send(out);
            edit.prompt.erase(0, last_feed + 1);
        }
        edit.start = isatty(1) ? cursor_column() % columns : 0;
        edit.term_pos = edit.start;
        refresh(true);
    }
    edit.open = true;
    edit.completed = false;
    i32 outcome;
    if (resumed && apply_completion()) {
        outcome = DONE;
    } else {
        outcome = edit_loop(history);
    }
    if (outcome >= 0) {
        // Completion runs in the language, the terminal quiet meanwhile.
        enter_quiet_mode();
        string::zs_reset(line);
        for (u32 cp : edit.line) string::append_char(line, cp);
        return outcome;
    }
    finish();
    deliver(line, history, edit.entered);
    resume_paused();
    return outcome;
}

void define_routines() {
    using boot::define_routine;
    define_routine("_set-completion", R"("Internal Use Only" answer [block! none!])", set_completion,
                   routine::RETURNS_NONE, true);
    define_routine("_console-size", R"("Internal Use Only")", console_size, routine::RETURNS_NONE, true);
}

}  // namespace terminal
}  // namespace zir
