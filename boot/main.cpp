// Program entry.
//
// `main` only starts the evaluator thread and waits for it: evaluation runs on
// a thread with a large stack, so deep recursion in the language is stopped by
// the evaluator's own depth check rather than by the system. Fatal signals are
// caught on an alternate stack of that thread and reported as numbered runtime
// errors.
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "boot/runtime_init.hpp"
#include "runtime/base.hpp"
#include "runtime/fault.hpp"

namespace {

constexpr size_t EVALUATOR_STACK_SIZE = size_t(512) << 20;   // reserved, touched on demand
constexpr size_t SIGNAL_STACK_SIZE = 64 * 1024;

struct Arguments {
    int argc;
    char** argv;
    int status;
};

int fault_code(int sig, const siginfo_t* info) {
    switch (sig) {
        case SIGSEGV: return 1;
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

void on_fatal_signal(int sig, siginfo_t* info, void* context) {
    const void* address = info->si_addr;
#if defined(__x86_64__)
    if (context) address = reinterpret_cast<const void*>(
                     static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
    char report[160];
    int code = fault_code(sig, info);
    int n = zir::runtime::format_report(report, code, address);
    ssize_t ignored = write(1, report, size_t(n));
    (void)ignored;
    _exit(code);
}

void install_fault_handlers() {
    stack_t ss{};
    ss.ss_sp = std::malloc(SIGNAL_STACK_SIZE);
    ss.ss_size = SIGNAL_STACK_SIZE;
    if (ss.ss_sp) sigaltstack(&ss, nullptr);
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

void* evaluator_main(void* p) {
    auto* args = static_cast<Arguments*>(p);
    install_fault_handlers();
    zir::runtime::init();
    args->status = 0;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);   // a closed output pipe is a failed write, not a death
    Arguments args{argc, argv, 0};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, EVALUATOR_STACK_SIZE);
    pthread_t thread;
    if (pthread_create(&thread, &attr, evaluator_main, &args) != 0) {
        evaluator_main(&args);   // no thread to be had: run on the main stack
    } else {
        pthread_join(thread, nullptr);
    }
    zir::runtime::error_exit(args.status, nullptr);
}
