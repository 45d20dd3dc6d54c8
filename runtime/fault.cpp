// Runtime faults: see fault.hpp.
#include "runtime/fault.hpp"

#include <unistd.h>

#include <cstdio>

#include "runtime/console.hpp"

extern "C" char __executable_start;  // provided by the linker

namespace zir {
namespace runtime {

const char* fault_message(int code) {
    static const char* const low[] = {
        "",
        "access violation",
        "invalid alignment",
        "breakpoint",
        "single step",
        "bounds exceeded",
        "float denormal operan",
        "float divide by zero",
        "float inexact result",
        "float invalid operation",
        "float overflow",
        "float stack check",
        "float underflow",
        "integer divide by zero",
        "integer overflow",
        "privileged instruction",
        "invalid virtual address",
        "illegal instruction",
        "non-continuable exception",
        "stack error or overflow",
        "invalid disposition",
        "guard page",
        "invalid handle",
        "illegal operand",
        "illegal addressing mode",
        "illegal trap",
        "coprocessor error",
        "non-existent physical address",
        "object specific hardware error",
        "hardware memory error consumed AR",
        "hardware memory error consumed AO",
        "privileged register",
        "segmentation fault",
        "FPU error",
        "Bus error",
    };
    if (code >= 1 && code <= 34) return low[code];
    switch (code) {
        case 94: return "out of memory";
        case 95: return "no CATCH for THROW";
        case 98: return "assertion failed";
        case 99: return "unknown error";
        case 100: return "no value matched in CASE";
        case 101: return "no value matched in SWITCH";
        default: return "unknown error code!";
    }
}

namespace {

int put_text(char* out, int at, const char* s) {
    while (*s) out[at++] = *s++;
    return at;
}

}  // namespace

int format_report(char* out, int code, const void* address) {
    int n = put_text(out, 0, "\n*** Runtime Error ");
    char digits[12];
    int d = 0;
    unsigned v = unsigned(code < 0 ? -code : code);
    do digits[d++] = char('0' + v % 10);
    while ((v /= 10) != 0);
    if (code < 0) out[n++] = '-';
    while (d) out[n++] = digits[--d];
    n = put_text(out, n, ": ");
    n = put_text(out, n, fault_message(code));
    n = put_text(out, n, "\n*** at: ");
    // Code addresses are shown relative to the program's image, which fits
    // the report's eight digits and is what a symbol lookup needs.
    uintptr_t a = reinterpret_cast<uintptr_t>(address);
    uintptr_t base = reinterpret_cast<uintptr_t>(&__executable_start);
    u32 shown = u32(a >= base ? a - base : a);
    static const char hex[] = "0123456789ABCDEF";
    for (int i = 7; i >= 0; i--) out[n++] = hex[(shown >> (i * 4)) & 0xF];
    n = put_text(out, n, "h\n");
    return n;
}

void error_exit(int code, const void* address) {
    if (code != 0) {
        char report[160];
        int n = format_report(report, code, address);
        report[n] = 0;
        console::write_c_string(report);
    }
    console::flush();
    std::fflush(nullptr);
    _exit(code);
}

}  // namespace runtime
}  // namespace zir
