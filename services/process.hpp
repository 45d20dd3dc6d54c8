// The process runner behind `call`: starts an external program, feeds its
// standard input from bytes or a file, captures its standard output and error
// or sends them to files, waits for it and answers its exit status, or answers
// its process id when it does not wait.
//
// A command runs directly when its first word names a program (found through
// PATH, the rest of the words its arguments), and through "/bin/sh -c" when a
// shell is asked for or when no such program exists. A program's path (a
// file!) is one word whatever it holds: it runs with no arguments, from the
// current folder when it names a file there, and is quoted for the shell. Everything happens on
// the caller's thread: the child's input and both of its outputs go through
// pipes served together by one poll loop, so a child that writes much to
// either stream while its input is still being fed never blocks its caller.
// A child that is not waited for is reaped by a small thread of its own, so
// none lingers as a zombie.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zir {
namespace call {

// Where one of the child's standard streams comes from or goes to.
struct Redirect {
    enum Kind : u8 {
        NONE,      // the terminal's with `console`, else nothing (/dev/null)
        BYTES,     // input: the bytes
        FILE,      // input: read from the file; output: appended to it
        CAPTURE,   // output: collected into `bytes`
    };
    Kind kind = NONE;
    std::string path;
    std::vector<u8> bytes;
    bool overflow = false;   // the capture passed what a series holds
};

struct Options {
    bool wait = false;      // wait for the end (implied by any redirection and by console)
    bool show = false;      // a window of its own: a terminal program has none
    bool console = false;   // streams not redirected stay the caller's own
    bool shell = false;     // run through /bin/sh -c
    bool program = false;   // the command is the path of one program (a file!), not a command line
};

// Set by every run: whether the command went through the shell (asked for, or
// because no program had its name), and whether it then wrote to a captured
// error stream.
extern bool shell_used;
extern bool shell_error;

// Runs the command: answers its exit status (the program's status, or 128 +
// the signal that ended it) when it waits, else the new process's id; -1 when
// an input file cannot be opened, a pipe cannot be made or the program cannot
// be started. An output file that cannot be opened leaves that stream going
// nowhere; the run goes on.
i64 run(const std::string& command, const Options& options, Redirect& in, Redirect& out, Redirect& err);

// The words of a command: runs of characters between blanks or tabs, where
// double quotes group (a backslash inside them escapes a double quote or a
// backslash) and single quotes group literally. False for an unbalanced quote.
bool split_command(const std::string& command, std::vector<std::string>& words);

// The language's entry: the command is a string! (a file! already in its
// local form, with `program` set); `in` a string! (sent as UTF-8), binary! or file!; `out` and
// `err` a string! or binary! capture, or a file! appended to; each null when
// absent. A captured output is inserted at a binary!'s head, or decoded as
// UTF-8 (CR LF and a lone CR made LF) and appended to a string!. The integer!
// result goes into `result`, which may be the command's own cell. An empty
// command answers 0 and starts nothing. An argument of another type raises
// `script invalid-arg`; a capture larger than a series raises
// `script size-limit` with its target.
void call(Cell* result, const Cell* command, const Options& options, const Cell* in, const Cell* out,
          const Cell* err);

// Starts a program found through PATH with the words as its arguments, never
// through a shell, its standard streams on /dev/null, and does not wait for
// it (it is reaped when it ends). Answers 0 or the error number.
int start_detached(const std::vector<std::string>& words);

}  // namespace call
}  // namespace zir
