// Start-up after the runtime's own initialisation: the library's top-level
// statements (from the boot image, or from the source files when asked), and
// the script named on the command line until the console takes over.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zir {
namespace boot {

// The code a pending exit carries when `quit` asks to end the program: one
// that reaches the top level ends it silently with status 0.
constexpr u32 THROWN_QUIT = 0x0BADCAFE;

// The process as the system started it: its arguments, UTF-8 as the system
// gives them, the program's path first.
struct Process {
    std::vector<std::string> args;
};
extern Process process;

// Everything before the first statement of user code: the runtime, the
// collector switched on, the library's top-level statements (from the
// image, or from the folder ZIR_LIBRARY names). In stress
// builds the collector then collects every few allocations, the period drawn
// from a seed taken from ZIR_STRESS_SEED (or the clock), written to standard
// error so that a failing run can be repeated.
void start(const u8* image, i64 length);
// The script named on the command line (the first argument after the
// program that is not an option), null when none.
const std::string* script_path();

// Starts the console: `cli-console-ctx/launch`, which runs the script named
// on the command line (and returns) or the read-eval-print loop (which ends
// the program itself).
void launch_console();

// Loads `size` bytes of source text and evaluates the values; the result
// is left on the value stack (one cell). A script header (`Zir [...]`
// first) is skipped.
Cell* eval_source(const u8* text, i64 size, bool library = false);
// The same over a file's contents; a file that cannot be read raises
// `access cannot-open` with its name.
Cell* do_file(const std::string& path);

}  // namespace boot
}  // namespace zir
