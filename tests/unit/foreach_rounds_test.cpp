// foreach of one word over a block takes a short way: the word is written
// in place, with no guard around the step. Every case here runs the
// same code over a block (the short way) and over a paren of the same values
// (the general step) and wants the same from both: results, what the body
// saw, errors with their reports, trace events, the stacks given back.
#include "eval_support.hpp"

#include "datatypes/block.hpp"
#include "evaluator/interpreter.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

using namespace test;

struct ForeachRounds : EvalTest {
    // Evaluates `setup` with `s` made a block, then a paren, of `values`,
    // then `code`; answers both molds (or error ids) and the log's.
    struct Run {
        std::string result, log;
    };
    Run run(const char* values, const char* code, bool paren, bool error) {
        std::string make = std::string("zz-log: copy [] s: ") + (paren ? "to paren! " : "") + "copy " + values;
        eval(make.c_str());
        Run r;
        r.result = error ? eval_report(code) : eval_mold(code);
        r.log = global_mold("zz-log");
        return r;
    }
    void same(const char* values, const char* code, const char* want_log, bool error = false) {
        Run block = run(values, code, false, error);
        Run paren = run(values, code, true, error);
        EXPECT_EQ(block.result, paren.result) << code;
        EXPECT_EQ(block.log, paren.log) << code;
        if (want_log) {
            EXPECT_EQ(block.log, want_log) << code;
        }
    }
};

TEST_F(ForeachRounds, TheShortWayAnswersAsTheGeneralStep) {
    struct {
        const char* values;
        const char* code;
        const char* log;
    } cases[] = {
        {"[1 2 3]", "foreach x s [append zz-log x x * 2]", "[1 2 3]"},
        {"[]", "foreach x s [append zz-log x]", "[]"},
        {"[1 2]", "foreach x s []", "[]"},
        {"[1 2 3]", "foreach x next s [append zz-log x]", "[2 3]"},
        {"[1 2 3 4]", "foreach x s [if x = 2 [continue] append zz-log x]", "[1 3 4]"},
        {"[1 2 3 4]", "foreach x s [append zz-log x if x = 2 [break]]", "[1 2]"},
        {"[1 2 3 4]", "foreach x s [if x = 3 [break/return x * 10] append zz-log x]", "[1 2]"},
        {"[1 2 3]", "foreach x s [append zz-log x continue]", "[1 2 3]"},
        // The body changes the series or the word.
        {"[1 2 3 4]", "foreach x s [append zz-log x clear s x]", "[1]"},
        {"[1 2 3 4]", "foreach x s [append zz-log x remove back tail s x]", "[1 2]"},
        {"[1 2]", "foreach x s [append zz-log x append s 9 if 5 < length? s [break]]", "[1 2 9 9]"},
        {"[1 2 3]", "foreach x s [x: [a] append zz-log x]", "[a a a]"},
        {"[1 2 3]", "foreach x s [append zz-log x unset 'x]", "[1 2 3]"},
        {"[1 2 3]", "foreach x s [s: [7 8 9] append zz-log x]", "[1 2 3]"},
        // The body block clears itself, or grows: each round takes it as it is.
        {"[1 2 3]", "n: 0 body: [n: n + 1 clear body] foreach x s body n", nullptr},
        {"[1 2 3]", "body: copy [append zz-log x] foreach x s body", "[1 2 3]"},
        {"[1 2 3]", "body: copy [append zz-log x append body [append zz-log 0]] foreach x s body",
         "[1 2 0 3 0 0]"},
        // Loops inside loops, and a walk that calls itself from the body.
        {"[1 [2 [3]] 4]",
         "zz-walk: make function! [[b] [foreach v b [either block! = type? v [zz-walk v] [append zz-log v]]]] "
         "zz-walk s", "[1 2 3 4]"},
        {"[1 2]", "foreach x s [foreach y [a b] [append zz-log y] append zz-log x]", "[a b 1 a b 2]"},
        {"[1 2]", "foreach x s [loop 2 [append zz-log x break]]", "[1 2]"},
        // The word is a running function's own.
        {"[1 2 3]", "f: make function! [[b /local x] [foreach x b [append zz-log x] x]] f s", "[1 2 3]"},
        {"[1 2 3]", "f: make function! [[b /local x] [foreach x b [if x = 2 [return x * 7] append zz-log x] 0]] f s",
         "[1]"},
        {"[1 2 3]", "catch [foreach x s [if x = 2 [throw 'out] append zz-log x]]", "[1]"},
        {"[1 2 3]", "try [foreach x s [append zz-log x if x = 2 [1 / 0]]]", "[1 2]"},
        // An object's word takes the long way each round.
        {"[1 2 3]", "o: make object! [x: 0 f: make function! [[b] [foreach x b [append zz-log x]]]] o/f s", "[1 2 3]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        same(c.values, c.code, c.log);
    }
}

TEST_F(ForeachRounds, ErrorsInTheBodyReportTheSame) {
    const char* codes[] = {
        "foreach x s [append zz-log x if x = 2 [x / 0]]",
        "f: make function! [[b] [foreach x b [append zz-log x if x = 3 [g]]]] g: make function! [[] [zz-nothing]] f s",
        "foreach x s [append zz-log x foreach y [a] [if x = 2 [do make error! \"stop\"]]]",
    };
    for (const char* code : codes) same("[1 2 3]", code, nullptr, true);
    Run r = run("[1 2 3]", codes[0], false, true);
    EXPECT_NE(r.result.find("x / 0"), std::string::npos) << r.result;
}

// Traced, the short way sends the events the general step sends, with the same
// frames.
TEST_F(ForeachRounds, TracedAsTheGeneralStep) {
    def("zz-tracer", "[event code offset value ref frame]",
        "[append zz-events event append zz-events offset append zz-events frame]");
    Cell* start = stack::top;
    auto traced = [&](bool paren) {
        stack::top = start;
        eval(paren ? "s: to paren! [1 2 3]" : "s: [1 2 3]");
        set_global("zz-events", read_block(""));
        Cell* code = read_block("foreach x s [if x = 2 [continue] x + 1]");
        Cell fn = global("zz-tracer");
        Cell* result = stack::top;
        interpreter::start_tracing(&fn);
        interpreter::eval_block(code, false);
        interpreter::stop_tracing();
        std::string answer = mold(result);
        stack::top = start;
        return answer + " " + global_mold("zz-events");
    };
    std::string block = traced(false);
    EXPECT_EQ(block, traced(true));
    EXPECT_NE(block.find("enter"), std::string::npos) << block;
}

}  // namespace
}  // namespace zir
