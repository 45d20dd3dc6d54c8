// Runtime faults: see fault.hpp.
#include "runtime/fault.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
        case 96: return "invalid boot image";
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

constexpr size_t SIGNAL_STACK_SIZE = 64 * 1024;
// Below the lowest address of the evaluator's stack: its guard, and a margin
// for a frame that steps over the guard.
constexpr uintptr_t OVERFLOW_MARGIN = 1 << 20;

// Faulting addresses in [overflow_low, overflow_high) are a stack overflow.
uintptr_t overflow_low = 0;
uintptr_t overflow_high = 0;

int fault_code(int sig, const siginfo_t* info) {
    switch (sig) {
        case SIGSEGV: {
            uintptr_t a = reinterpret_cast<uintptr_t>(info->si_addr);
            return a >= overflow_low && a < overflow_high ? FAULT_STACK_OVERFLOW : 1;
        }
        case SIGBUS: return info->si_code == BUS_ADRALN ? 2 : 16;
        case SIGILL: return 17;
        case SIGFPE:
            switch (info->si_code) {
                case FPE_INTDIV: return 13;
                case FPE_INTOVF: return 14;
                case FPE_FLTDIV: return 7;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                default: return 99;
            }
        default: return 99;
    }
}

// Async-signal-safe: formats into a local buffer and writes it with one call.
void on_fatal_signal(int sig, siginfo_t* info, void* context) {
    if (before_fault_report) before_fault_report();
    const void* address = info->si_addr;
#if defined(__x86_64__)
    if (context) address = reinterpret_cast<const void*>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
    char report[160];
    int code = fault_code(sig, info);
    int n = format_report(report, code, address);
    ssize_t ignored = write(1, report, size_t(n));
    (void)ignored;
    _exit(code);
}

}  // namespace

void install_fault_handlers() {
    stack_t ss{};
    // Mapped, not taken from the heap: a thread's end may unmap the
    // alternate stack it finds (the address sanitizer's runtime does).
    void* mem = mmap(nullptr, SIGNAL_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ss.ss_sp = mem == MAP_FAILED ? nullptr : mem;
    ss.ss_size = SIGNAL_STACK_SIZE;
    if (ss.ss_sp) sigaltstack(&ss, nullptr);
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* base;
        size_t size;
        size_t guard = 0;
        pthread_attr_getguardsize(&attr, &guard);
        if (pthread_attr_getstack(&attr, &base, &size) == 0) {
            uintptr_t low = reinterpret_cast<uintptr_t>(base);
            uintptr_t below = guard + OVERFLOW_MARGIN;
            overflow_low = low > below ? low - below : 0;
            overflow_high = low;
        }
        pthread_attr_destroy(&attr);
    }
    struct sigaction sa{};
    sa.sa_sigaction = on_fatal_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
#ifndef ZIR_ASAN
    sigaction(SIGSEGV, &sa, nullptr);
    sigaction(SIGBUS, &sa, nullptr);
#endif
    sigaction(SIGILL, &sa, nullptr);
    sigaction(SIGFPE, &sa, nullptr);
}

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

void (*before_fault_report)() = nullptr;

void error_exit(int code, const void* address) {
    if (before_fault_report) before_fault_report();
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
