// Program entry.
//
// `main` only starts the evaluator thread and waits for it: evaluation runs on
// a thread with a large stack, so deep recursion in the language is stopped by
// the evaluator's own depth check rather than by the system. Fatal signals are
// caught on an alternate stack of that thread and reported as numbered runtime
// errors.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "boot/runtime_init.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/base.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"

namespace {

constexpr size_t EVALUATOR_STACK_SIZE = size_t(512) << 20;   // reserved, touched on demand

struct Arguments {
    int argc;
    char** argv;
    int status;
};

// The top level: an error nothing caught is printed and ends the program
// with -2 (254); an exit nothing received is a runtime fault.
void* evaluator_main(void* p) {
    auto* args = static_cast<Arguments*>(p);
    zir::runtime::install_fault_handlers();
    zir::interpreter::set_machine_stack();
    try {
        zir::runtime::init();
        args->status = 0;
    } catch (const zir::LanguageError& e) {
        args->status = zir::interpreter::report_uncaught(e);
    } catch (const zir::stack::PendingExit&) {
        ZIR_FAULT(zir::runtime::FAULT_NO_CATCH);
    }
    if (zir::stack::pending != 0) ZIR_FAULT(zir::runtime::FAULT_NO_CATCH);
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
    if (args.status < 0) {
        // A language error's status: no runtime report, the status as it is.
        zir::console::flush();
        std::fflush(nullptr);
        _exit(args.status);
    }
    zir::runtime::error_exit(args.status, nullptr);
}
