// Faults below the language: an impossible internal state, an exhausted
// allocator, a fatal signal. They print the numbered "*** Runtime Error"
// report and end the process with the fault's number as its status.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace runtime {

// Fault numbers used by the runtime itself.
constexpr int FAULT_STACK_OVERFLOW = 19;
constexpr int FAULT_OUT_OF_MEMORY = 94;
constexpr int FAULT_NO_CATCH = 95;
constexpr int FAULT_BAD_BOOT_IMAGE = 96;   // the program's own library does not load
constexpr int FAULT_NO_CASE = 100;     // unreachable branch
constexpr int FAULT_NO_SWITCH = 101;   // unknown operation code or element width

const char* fault_message(int code);

// Called, when set, before a fault report is written and before any other
// end of the process (from a signal handler too, so it must be
// async-signal-safe): the line editor puts the terminal back in its own
// mode, which a completion running in the language may have left quiet.
extern void (*before_fault_report)();

// Code 0 exits silently with status 0; any other prints the report first.
[[noreturn]] void error_exit(int code, const void* address);

// Catches fatal signals on an alternate stack of the calling thread (the
// evaluator's) and ends the process with the numbered report. A fault just
// below that thread's stack is its overflow. Sanitizer builds leave SIGSEGV
// and SIGBUS to the sanitizer.
void install_fault_handlers();

// The report's text, without writing it: "\n*** Runtime Error N: msg\n*** at: XXXXXXXXh\n".
// Async-signal-safe: writes into `out` (at least 128 bytes) and answers the length.
int format_report(char* out, int code, const void* address);

}  // namespace runtime
}  // namespace zir

#define ZIR_FAULT(code) ::zir::runtime::error_exit((code), __builtin_return_address(0))
