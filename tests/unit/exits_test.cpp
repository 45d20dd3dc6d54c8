// Non-local exits: break, continue, return, exit and throw as pending exits,
// errors as exceptions, barriers, and the stacks after each of them.
#include "eval_support.hpp"

#include <pthread.h>

#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"

namespace zir {
namespace {

using namespace test;

struct Exits : EvalTest {};

TEST_F(Exits, BreakAndContinue) {
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"x: 0 loop 10 [x: x + 1 if x = 3 [break]] x", "3"},
        {"x: 0 loop 10 [x: x + 1 if x = 3 [break/return x * 10]]", "30"},
        {"x: 0 s: 0 loop 5 [x: x + 1 if x = 2 [continue] s: s + x] s", "13"},
        {"x: 0 loop 3 [x: x + 1 (if x = 2 [(break/return 7)])]", "7"},   // from inside parens
        // The nearest loop receives it.
        {"n: 0 loop 3 [loop 10 [n: n + 1 break] n: n + 100] n", "303"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
    // A break in a function called from a loop body leaves the function and
    // ends the loop.
    def("zz-breaks", "[]", "[break/return 5 99]");
    EXPECT_EQ(eval_mold("loop 3 [zz-breaks]"), "5");
    EXPECT_EQ(TYPE_OF(eval("loop 2 [break]")), TYPE_UNSET) << "a plain break leaves unset";
}

TEST_F(Exits, ReturnAndExit) {
    def("zz-r", "[x]", "[if x > 1 [return x * 2] x + 100]");
    def("zz-e", "[]", "[exit 99]");
    def("zz-deep-r", "[]", "[loop 5 [if true [(return 42)]] 0]");
    def("zz-outer", "[]", "[zz-r 5 7]");
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"zz-r 5", "10"},
        {"zz-r 1", "101"},
        {"zz-deep-r", "42"},    // through a loop, an if and a paren
        {"zz-outer", "7"},      // a return ends its own function only
        {"zz-r 3 + 1", "8"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
    EXPECT_EQ(TYPE_OF(eval("zz-e")), TYPE_UNSET) << "exit leaves unset";
}

TEST_F(Exits, ThrowAndCatch) {
    def("zz-thrower", "[v]", "[throw v 1]");
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"catch [throw 1 2]", "1"},
        {"catch [loop 3 [zz-thrower 5]]", "5"},
        {"catch/name [throw/name 1 'a] 'a", "1"},
        {"catch [catch/name [throw/name 1 'a 2] 'b]", "1"},   // passed on to the outer catch
        {"catch [3]", "3"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
}

TEST_F(Exits, ExitsWithNowhereToGoAreErrors) {
    struct Case {
        const char* code;
        const char* error;
        const char* message;
    } cases[] = {
        {"break", "throw break", "*** Throw Error: no loop to break"},
        {"continue", "throw continue", "*** Throw Error: no loop to continue"},
        {"return 1", "throw return", "*** Throw Error: return or exit not in function"},
        {"exit", "throw return", "*** Throw Error: return or exit not in function"},
        {"throw 42", "throw throw", "*** Throw Error: no catch for throw: 42"},
        {"catch/name [throw/name 1 'a] 'b", "throw throw", "*** Throw Error: no catch for throw: 1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eval_error(c.code), c.error) << c.code;
        std::string r = eval_report(c.code);
        EXPECT_EQ(r.substr(0, r.find('\n')), c.message) << c.code;
    }
}

TEST_F(Exits, BarriersStopEveryExit) {
    // try/all opens a barrier: an exit that would cross it is an error there,
    // which the try receives; the loop outside goes on.
    EXPECT_EQ(eval_mold("n: 0 loop 3 [n: n + 1 try/all [break]] n"), "3");
    Cell e = *eval("loop 3 [try/all [break]]");
    Cell* err = stack::push(&e);
    EXPECT_EQ(TYPE_OF(err), TYPE_ERROR);
    EXPECT_EQ(mold(error::field(err, error::FIELD_ID)), "break");
    def("zz-rb", "[]", "[try/all [return 1] 2]");
    EXPECT_EQ(eval_mold("zz-rb"), "2");
    EXPECT_EQ(eval_mold("catch [try/all [throw 1] 2]"), "2");
    EXPECT_EQ(eval_mold("catch [try [throw 1] 2]"), "1") << "a plain try is no barrier for a throw";
    EXPECT_EQ(eval_mold("n: 0 loop 3 [n: n + 1 try [break]] n"), "1") << "nor for a break";
}

TEST_F(Exits, ErrorsAreCaughtWithTheStacksCutBack) {
    def("zz-fails", "[x]", "[x + zz-no-such]");
    def("zz-nest", "[x]", "[loop 2 [catch [zz-fails x]]]");
    Cell* r = eval("try [zz-nest 1]");
    EXPECT_EQ(TYPE_OF(r), TYPE_ERROR);
    EXPECT_EQ(eval_mold("x: try [1 / 0] 5"), "5");
    EXPECT_EQ(eval_error("zz-nest 1"), "script no-value");
    // An error raised while a function runs gives its values back: a word
    // of it then reads as not running.
    Cell fn = global("zz-fails");
    EXPECT_EQ(context::cell_of(fn.w1)->w2, 0u);
}

TEST_F(Exits, OneResultCellAfterEveryKindOfExit) {
    // eval checks that exactly the result cell is left and the frames and
    // arguments are given back; these reach every exit through nested frames.
    def("zz-mix", "[k]", "[r: loop 3 [catch [if k = 1 [break/return 1] if k = 2 [throw 2] if k = 3 [return 3]]] r]");
    EXPECT_EQ(eval_mold("zz-mix 1"), "1");
    EXPECT_EQ(eval_mold("zz-mix 2"), "2");
    EXPECT_EQ(eval_mold("zz-mix 3"), "3");
    EXPECT_EQ(eval_mold("zz-mix 4"), "none");
    EXPECT_EQ(eval_mold("[a b] zz-mix 1 + 1 [c]"), "[c]");
    EXPECT_EQ(eval_mold("(zz-mix 3) + (zz-mix 1)"), "4");
    Cell e = *eval("try [loop 2 [zz-mix 3 1 / 0]]");
    EXPECT_EQ(mold(error::field(stack::push(&e), error::FIELD_ID)), "zero-divide");
}

// --- Stack overflow ---------------------------------------------------------------

struct Overflow {
    std::string calls, cells, after;
};

void deep_recursion(void* p) {
    auto* o = static_cast<Overflow*>(p);
    // No arguments: frames fill first. Ten arguments: cells fill first.
    def("zz-down", "[]", "[zz-down]");
    def("zz-wide", "[a b c d e f g h i j]", "[zz-wide a b c d e f g h i j]");
    o->calls = eval_report("zz-down");
    o->cells = eval_report("zz-wide 1 2 3 4 5 6 7 8 9 10");
    o->after = eval_mold("loop 3 [1 + 2]");
}

TEST_F(Exits, RecursionThatFillsEitherStackIsAnError) {
    Overflow o;
    StackState before = StackState::now();
    on_big_stack(deep_recursion, &o);
    stack::top = before.top;   // the code read on the thread stays pushed
    EXPECT_EQ(o.calls.substr(0, o.calls.find('\n')), "*** Internal Error: stack overflow");
    EXPECT_EQ(o.cells.substr(0, o.cells.find('\n')), "*** Internal Error: stack overflow");
    EXPECT_EQ(o.after, "3") << "both stacks are usable afterwards";
    EXPECT_EQ(StackState::now(), before);
}

void small_thread(void* p) {
    auto* o = static_cast<Overflow*>(p);
    def("zz-down", "[]", "[zz-down]");
    o->calls = eval_report("zz-down");
    o->after = eval_mold("1 + 2");
}

TEST_F(Exits, DeepRecursionOnASmallMachineStackIsAnErrorToo) {
    // The interpreter checks the machine stack of the thread that runs it:
    // a thread with little stack stops the recursion before it crashes.
    Overflow o;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(2) << 20);
    struct Call {
        Overflow* o;
    } call{&o};
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      const char* limit = interpreter::set_machine_stack();
                      small_thread(static_cast<Call*>(p)->o);
                      interpreter::restore_machine_stack(limit);
                      return nullptr;
                  },
                  &call),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(o.calls.substr(0, o.calls.find('\n')), "*** Internal Error: stack overflow");
    EXPECT_EQ(o.after, "3");
}

// --- The stacks themselves -------------------------------------------------------------

TEST_F(Exits, TheThrowersSearchBeforeAnythingMoves) {
    StackState before = StackState::now();
    stack::mark_loop(u32(stack::body_symbol));
    stack::Frame* loop = stack::call_top - 1;
    stack::mark_body(u32(symbol::make("f")), 0);
    stack::mark_body(u32(symbol::make("break")), 0);
    Cell* v = int_(7);
    (void)v;
    StackState at = StackState::now();
    stack::throw_break(true, false);
    EXPECT_EQ(StackState::now(), at) << "nothing is cut back: each level closes its own frames";
    EXPECT_EQ(stack::pending, u32(stack::THROW_BREAK));
    EXPECT_EQ(stack::pending_target, loop);
    EXPECT_EQ(mold(&stack::pending_value), "7");
    stack::take_pending();
    stack::mark_barrier(u32(symbol::make("try")));
    stack::mark_body(u32(symbol::make("break")), 0);
    EXPECT_EQ(error_of([] { stack::throw_break(false, false); }), "throw break") << "a barrier first";
    EXPECT_EQ(stack::pending, 0u);
    stack::call_top = before.call_top;
    stack::arguments = before.arguments;
    stack::top = before.top;
}

}  // namespace
}  // namespace zir

namespace zir {
namespace {

using namespace test;

struct TopLevel : EvalTest {};

TEST_F(TopLevel, AnUncaughtErrorIsPrintedAndGivesStatusMinusTwo) {
    LanguageError e = raised([] { fire(ERR_MATH, "zero-divide"); });
    CapturedOutput out;
    EXPECT_EQ(interpreter::report_uncaught(e), -2);
    EXPECT_EQ(out.text().substr(0, 40), "*** Math Error: attempt to divide by zer");
    EXPECT_EQ(-2 & 0xFF, 254) << "the status the system reports";
}

}  // namespace
}  // namespace zir
