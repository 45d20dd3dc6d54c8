// The line editor: reads one line for `ask` when standard input is a
// terminal, editing it in place with its own redraw.
//
// Each edit puts the terminal in raw mode (termios) and restores it before it
// returns; a signal that ends the process (SIGTERM, SIGHUP, SIGINT, a fatal
// report) restores it too. Keys arrive as bytes and are decoded here:
// UTF-8 characters, control characters, and the escape sequences terminals
// send for the arrows, Home/End, Insert, Delete and the Page keys; a lone Esc
// is an Esc once no byte follows it within ESC_TIMEOUT_MS. Window-size
// changes (SIGWINCH) reach the loop through a self-pipe.
//
// The editor redraws relative to where the prompt began: it keeps the
// linear cell position of the terminal's cursor counted from column 0 of
// the prompt's first row, and moves up, down and across from there. The
// layout counts each character by its display width; a wide character met
// in the last column takes that column too, as terminals wrap it whole.
//
// Tab completion runs in the language: the edit hands the line back to
// `ask` with the cursor, `ask` calls `complete-input` and gives the answer
// to the next `_read-input`, which resumes the same edit.
#pragma once

#include <string>

#include "runtime/cell.hpp"

namespace zir {
namespace terminal {

// Key codes of keys without a character; characters are their code points.
constexpr i32 KEY_UNKNOWN = 0;
constexpr i32 KEY_UP = -20;
constexpr i32 KEY_DOWN = -21;
constexpr i32 KEY_RIGHT = -22;
constexpr i32 KEY_LEFT = -23;
constexpr i32 KEY_END = -24;
constexpr i32 KEY_HOME = -25;
constexpr i32 KEY_INSERT = -26;
constexpr i32 KEY_DELETE = -27;
constexpr i32 KEY_PAGE_UP = -28;
constexpr i32 KEY_PAGE_DOWN = -29;

// How long a lone Esc waits for the rest of a sequence. Terminals send a
// sequence in one write; a human cannot type Esc and "[" this close.
constexpr int ESC_TIMEOUT_MS = 50;

struct Decoded {
    i32 key;        // as above; meaningless when `used` is 0
    size_t used;    // bytes consumed; 0: the bytes are the start of a longer key
};

// Decodes the first key of `bytes`. With `final` set no more bytes are
// coming soon (the time-out passed): an incomplete sequence is then taken as
// it stands (a lone Esc, a truncated character as U+FFFD). Bytes that are not
// UTF-8 give U+FFFD, one each; an escape sequence not in the table is
// consumed whole and gives KEY_UNKNOWN.
Decoded decode_key(const u8* bytes, size_t n, bool final);

// Columns of one character of the edited line: a tab 4, a control
// character 2 (shown as ^X), otherwise its display width.
int char_columns(u32 cp);

// Lays out text[from, to) from linear cell `pos` on rows of `columns`
// cells, appending what the terminal must be sent to `out` (none when
// null), and answers the position after it. With `prompt`, an escape
// sequence (ESC "[" or "(" then digits and ";" and one final character)
// passes through and takes no cell. With `hidden`, each character is one "*".
i64 fill_output(const std::u32string& text, size_t from, size_t to, i64 pos, int columns, bool prompt,
                bool hidden, std::string* out);

// Outcomes of `edit_line`; one >= 0 is the cursor of a Tab that asks for
// completion (the line so far is in the caller's string).
constexpr i32 EDIT_HANG_UP = -1;        // the terminal is gone: the line is "q", as Ctrl-D gives
constexpr i32 EDIT_DONE = -2;           // the line is in the caller's string
constexpr i32 EDIT_END = -3;            // gone before this edit: the end of input
constexpr i32 EDIT_NOT_TERMINAL = -4;   // raw mode refused: read the line as redirected input

// Runs or resumes the edit of one line on the terminal into `line` (the
// caller's string, rooted), adding it to `history` when Enter ends it.
i32 edit_line(const Cell* prompt, bool hidden, Cell* line, Cell* history);

// Restores the terminal's mode when an edit left it raw; async-signal-safe.
void restore_mode();

// Makes the editor's routines and binds their words.
void define_routines();

}  // namespace terminal
}  // namespace zir
