// Program entry.
//
// `main` only starts the evaluator thread and waits for it: evaluation runs on
// a thread with a large stack, so deep recursion in the language is stopped by
// the evaluator's own depth check rather than by the system. Fatal signals are
// caught on an alternate stack of that thread and reported as numbered runtime
// errors; Ctrl-C ends the program silently with status 0.
//
// The evaluator thread is the top level: it brings the runtime up, runs the
// library's top-level statements, then the console (`cli-console-ctx/launch`),
// which runs the script named on the command line or the read-eval-print loop,
// and ends the program itself.
// An error nothing caught is printed and ends the program with -2 (254); an
// exit nothing received is runtime error 95, unless it is the quit exit,
// which ends the program silently with 0.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/boot_image.hpp"
#include "boot/startup.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/base.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"

namespace {

constexpr size_t EVALUATOR_STACK_SIZE = size_t(512) << 20;   // reserved, touched on demand

struct Arguments {
    int status;
};

[[noreturn]] void uncaught_exit() {
    if (zir::stack::pending == zir::boot::THROWN_QUIT) zir::runtime::error_exit(0, nullptr);
    ZIR_FAULT(zir::runtime::FAULT_NO_CATCH);
}

// Ends the program with the evaluator's status: the output flushed, no
// runtime report for a language error's status (below 0), which is the
// status as it is.
[[noreturn]] void finish(int status) {
    if (status < 0) {
        if (zir::runtime::before_fault_report) zir::runtime::before_fault_report();
        zir::console::flush();
        std::fflush(nullptr);
        _exit(status);
    }
    zir::runtime::error_exit(status, nullptr);
}

void* evaluator_main(void* p) {
    auto* args = static_cast<Arguments*>(p);
    zir::runtime::install_fault_handlers();
    zir::interpreter::set_machine_stack();
    try {
        zir::boot::start(zir::boot::EMBEDDED_IMAGE, zir::boot::EMBEDDED_IMAGE_SIZE);
        if (zir::stack::pending != 0) uncaught_exit();
        zir::boot::launch_console();
        args->status = 0;
    } catch (const zir::LanguageError& e) {
        args->status = zir::interpreter::report_uncaught(e);
    } catch (const zir::stack::PendingExit&) {
        uncaught_exit();
    }
    if (zir::stack::pending != 0) uncaught_exit();
    // The program ends from here: the main thread, waiting for this one to
    // end, would first have to be woken and this thread's stack given back.
    finish(args->status);
}

// The system's Ctrl-C: the program ends at once, silently.
void on_interrupt(int) { _exit(0); }

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);   // a closed output pipe is a failed write, not a death
    struct sigaction sa{};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    // Arguments reach the language as the system gives them: UTF-8 bytes.
    for (int i = 0; i < argc; i++) zir::boot::process.args.emplace_back(argv[i]);
    Arguments args{0};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, EVALUATOR_STACK_SIZE);
    pthread_t thread;
    if (pthread_create(&thread, &attr, evaluator_main, &args) != 0) {
        evaluator_main(&args);   // no thread to be had: run on the main stack
    } else {
        pthread_join(thread, nullptr);
    }
    finish(args.status);
}
