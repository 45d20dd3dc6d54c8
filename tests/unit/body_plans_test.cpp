// Loop bodies run from their plans must leave what the walk leaves. Every
// case runs twice, plans on and off, from the same globals, and wants the
// same result (or error report) and the same log: the cases change the
// words, the operators, the natives and the very blocks being run between
// and inside rounds.
#include "eval_support.hpp"

#include "evaluator/interpreter.hpp"

namespace zir {
namespace {

using namespace test;

struct BodyPlans : EvalTest {
    struct Run {
        std::string result, log;
    };
    Run run(const char* code, bool plans, bool error) {
        interpreter::body_plans = plans;
        eval("zz-log: copy [] s: 0 n: 0 a: 0 b: 0 x: 0.5 o: make object! [v: 2 n: 0]");
        Run r;
        r.result = error ? eval_report(code) : eval_mold(code);
        r.log = global_mold("zz-log") + " s=" + global_mold("s") + " n=" + global_mold("n") +
                " a=" + global_mold("a") + " b=" + global_mold("b") + " x=" + global_mold("x");
        interpreter::body_plans = true;
        return r;
    }
    // Both ways; answers the planned run's result and log.
    std::string same(const char* code, bool error = false) {
        Run walked = run(code, false, error);
        Run planned = run(code, true, error);
        EXPECT_EQ(planned.result, walked.result) << code;
        EXPECT_EQ(planned.log, walked.log) << code;
        return planned.result + " " + planned.log;
    }
    void TearDown() override {
        interpreter::body_plans = true;
        EvalTest::TearDown();
    }
};

TEST_F(BodyPlans, PlannedRoundsLeaveWhatTheWalkLeaves) {
    struct {
        const char* code;
        const char* want;   // the planned run's result and log, when worth pinning
    } cases[] = {
        {"repeat i 100 [s: s + i if s > 50 [s: s - 50]]", "1300 [] s=1300 n=0 a=0 b=0 x=0.5"},
        {"repeat i 3 [s: i]", "3 [] s=3 n=0 a=0 b=0 x=0.5"},
        {"repeat i 3 [if i > 5 [1]]", "none [] s=0 n=0 a=0 b=0 x=0.5"},
        {"repeat i 3 [unless i > 1 [s: s + 10]]", nullptr},
        {"repeat i 6 [either i > 3 [a: a + 1] [b: b + i]]", "3 [] s=0 n=0 a=3 b=6 x=0.5"},
        {"repeat i 4 [x: x * 2.0 + i]", nullptr},
        {"repeat i 3 [s: s + o/v * i]", nullptr},
        {"repeat i 5 [s: i and 6 or 1 xor 3]", nullptr},
        {"s: 7 repeat i 3 [s]", "7 [] s=7 n=0 a=0 b=0 x=0.5"},
        {"loop 3 [n: n + 2]", nullptr},
        {"until [n: n + 1 n > 4]", nullptr},
        {"s: [1 2 3] foreach v s [n: n + v]", nullptr},
        {"forever [n: n + 1 if n > 6 [break]]", "unset [] s=0 n=7 a=0 b=0 x=0.5"},
        // Past 32 bits an integer sum becomes a float!, as the walk makes it.
        {"s: 2147483000 repeat i 3 [s: s + 300]", nullptr},
        {"s: -2147483000 repeat i 3 [s: s - 300 * 2]", nullptr},
        // A division that is not whole, and one the action refuses.
        {"s: 7 repeat i 2 [s: s / 2]", nullptr},
        // Leaving: break, continue, return, from a chosen block.
        {"repeat i 10 [if i > 3 [break] s: s + i]", "unset [] s=6 n=0 a=0 b=0 x=0.5"},
        {"repeat i 10 [if i > 5 [continue] s: s + i]", nullptr},
        {"repeat i 10 [if i > 3 [break/return i * 100] s: s + i]", nullptr},
        {"f: make function! [[] [repeat i 10 [if i = 4 [return i * 100] n: n + 1] 0]] f", "400 [] s=0 n=3 a=0 b=0 x=0.5"},
        {"f: make function! [[] [repeat i 10 [if i = 4 [exit] n: n + 1] 0]] f", nullptr},
        // A running function's words, and an object's fields (which track
        // changes: the walk takes them).
        {"f: make function! [[k /local t] [t: 0 repeat i k [t: t + i if t > 20 [t: t - 20]] t]] f 12", nullptr},
        {"p: make object! [n: 0 g: make function! [[] [repeat i 3 [n: n + i] n]]] p/g", nullptr},
        {"repeat i 3 [o/n: o/n + i] o/n", nullptr},
        // The same body run again from inside itself.
        {"f: make function! [[d] [repeat i 2 [if d > 0 [f d - 1] n: n + 1]]] f 3 n", nullptr},
        {"body: [n: n + 1 if n < 4 [repeat j 1 body]] repeat i 1 body n", nullptr},
        // Loops inside loops, each with a plan.
        {"repeat i 30 [repeat j 4 [if j > 2 [break] n: n + 1] s: s + i]", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        std::string got = same(c.code);
        if (c.want) {
            EXPECT_EQ(got, c.want);
        }
    }
}

// A step budget counts every round and every chosen block as the walk
// does, and runs out at the same place.
TEST_F(BodyPlans, StepBudgetCountsThePlannedRounds) {
    const char* codes[] = {
        "repeat i 1000 [n: n + 1 if n > 100000 [n: 0]]",
        "repeat i 1000 [n: n + 1 if n > 0 [s: s + 1]]",
        "repeat i 1000 [n: n + 1 either odd? n [s: s + 1] [s: s - 1]]",
        "repeat i 1000 [n: n + 1 if n > 300 [break]]",
        "loop 1000 [n: n + 1 unless n < 0 [s: s + n]]",
    };
    for (const char* code : codes) {
        SCOPED_TRACE(code);
        auto limited = [&](bool plans) {
            interpreter::body_plans = plans;
            eval("n: 0 s: 0");
            interpreter::set_step_budget(500);
            std::string r = eval_report(code);
            interpreter::set_step_budget(-1);
            interpreter::body_plans = true;
            return r + " " + global_mold("n") + " " + global_mold("s");
        };
        limited(false);   // (the first evaluation of the text makes its words)
        std::string walked = limited(false);
        std::string planned = limited(true);
        EXPECT_EQ(planned, walked);
    }
}

}  // namespace
}  // namespace zir
