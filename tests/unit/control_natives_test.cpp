// The control natives: conditionals, switch and case, the loops and their
// iteration steps, try, catch, the exits and apply; each through the
// interpreter (the fixture checks that one result cell is left and the
// frames and arguments are given back), and the entries called directly with
// their own type check.
#include <cmath>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "eval_support.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_control.hpp"

namespace zir {
namespace {

using namespace test;

struct Case {
    const char* code;
    const char* result;
};

struct ErrorCase {
    const char* code;
    const char* error;
};

struct ControlNatives : EvalTest {
    void SetUp() override {
        EvalTest::SetUp();
        def("zz-unset", "[]", "[]");
    }
    void expect(const std::vector<Case>& cases) {
        for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
    }
    void expect_errors(const std::vector<ErrorCase>& cases) {
        for (const ErrorCase& c : cases) EXPECT_EQ(eval_error(c.code), c.error) << c.code;
    }
    // The call-stack position an error raised by the code records.
    i32 error_depth(const char* code) {
        Cell e = eval_error_value(code);
        Cell* err = stack::push(&e);
        i32 d = integer::get(error::field(err, error::FIELD_STACK));
        stack::pop(1);
        return d;
    }
    // The first line of an error's report.
    std::string report_line(const char* code) {
        std::string r = eval_report(code);
        return r.substr(0, r.find('\n'));
    }
};

// --- Conditionals -------------------------------------------------------------------

TEST_F(ControlNatives, IfUnlessEither) {
    expect({
        {"if none [1]", "none"},
        {"if false [1]", "none"},
        {"if 0 [1]", "1"},
        {"if zz-unset [1]", "1"},   // unset is true for if
        {"if true []", "unset"},
        {"unless none [1]", "1"},
        {"unless 1 [1]", "none"},
        {"unless zz-unset [1]", "none"},
        {"either true [1] [2]", "1"},
        {"either none [1] [2]", "2"},
        {"either 0 [1] [2]", "1"},
        {"x: 0 if true [x: 5 x + 1]", "6"},
    });
    EXPECT_EQ(eval_error("either zz-unset [1] [2]"), "script no-return");
}

TEST_F(ControlNatives, AnyAndAll) {
    expect({
        {"any [none false 0]", "0"},
        {"any []", "none"},
        {"any [none false]", "none"},
        {"any [1 + 1 x: 5]", "2"},
        {"all []", "none"},
        {"all [1 2 3]", "3"},
        {"all [1 none 3]", "none"},
        {"all [1 zz-unset]", "unset"},   // unset counts as true
        {"any [zz-unset 1]", "unset"},
    });
    // Evaluation stops at the deciding value.
    eval("x: 0 all [1 none x: 3]");
    EXPECT_EQ(global_mold("x"), "0");
    eval("x: 0 any [1 x: 3]");
    EXPECT_EQ(global_mold("x"), "0");
    // A block that empties itself while it is walked.
    set_global("zz-b", read_block("clear zz-b 1 2 3"));
    EXPECT_EQ(eval_mold("all zz-b"), "[]") << "the walk ends with the block";
}

TEST_F(ControlNatives, Switch) {
    expect({
        {"switch 1 [1.0 [a]]", "none"},   // another datatype: no match
        {"switch 2 [1 [10] 2 [20] 3 [30]]", "20"},
        {"switch 2 [1 2 [20] 3 [30]]", "20"},   // the next block after the match
        {"switch \"a\" [\"A\" [1]]", "1"},
        {"switch 'b [a [1] b [2]]", "2"},
        {"switch [x] [[x] [3]]", "none"},   // a block never matches
        {"switch/default 5 [1 [10]] [20]", "20"},
        {"switch/default 1 [1 [10]] [20]", "10"},
        {"switch 1 [1 []]", "unset"},
        // A match that no block follows: no match at all.
        {"switch 3 [1 [10] 3]", "none"},
        {"switch/default 3 [1 [10] 3] [99]", "99"},
        {"switch/default 3 [3 4] [99]", "99"},
    });
    // The chosen block clears the cases block while it runs.
    set_global("zz-cases", read_block("1 [clear zz-cases 7]"));
    EXPECT_EQ(eval_mold("switch 1 zz-cases"), "7");
}

TEST_F(ControlNatives, SwitchSelect) {
    Cell* cases = read_block("1 a 2 \"x\" [b] 3");
    Cell value = *int_(2);
    EXPECT_EQ(natives::switch_select(&value, cases), 4);
    value = *int_(3);
    EXPECT_EQ(natives::switch_select(&value, cases), -1);
    value = *int_(9);
    EXPECT_EQ(natives::switch_select(&value, cases), -1);
}

TEST_F(ControlNatives, Case) {
    expect({
        {"case [false [1] true [2]]", "2"},
        {"case [none [1]]", "none"},
        {"case []", "none"},
        {"case [true 'a]", "a"},
        {"case [false 1 true 2 + 3]", "5"},   // false skips one value, true evaluates one expression
        {"case [1 = 2 [1] 2 = 2 []]", "unset"},
        {"case/all [true [1] true [2]]", "2"},
        {"case/all [true [1] false [2]]", "none"},
        {"case/all [false [1] true [2]]", "2"},
    });
    eval("x: 0 y: 0 case/all [true [x: 1] true [y: 2]]");
    EXPECT_EQ(global_mold("x") + global_mold("y"), "12");
    eval("x: 0 case [true [x: 1] true [x: 2]]");
    EXPECT_EQ(global_mold("x"), "1");
    EXPECT_EQ(eval_error("case [true]"), "script need-value");
    EXPECT_EQ(report_line("case [true]"), "*** Script Error: case needs a value");
    EXPECT_EQ(eval_error("case [false [1] 2 = 2]"), "script need-value");
    EXPECT_EQ(eval_error("case [zz-unset [1]]"), "script no-return");
    // Exits from inside case leave its frame behind.
    expect({
        {"loop 2 [case [true [break/return 4]] 5]", "4"},
        {"x: 0 loop 3 [x: x + 1 case [x < 3 [continue]] break/return x]", "3"},
    });
    // Conditions that change the cases block while it is walked: the walk
    // stops at its current tail (never past the tail it began with).
    expect({
        {"zz-c: [(clear skip zz-c 2 true) [1] true [2]] case/all zz-c", "1"},
        {"zz-c: [false [1] (append zz-c [true [3]] false) [2]] case zz-c", "none"},
        {"zz-c: [true (clear zz-c 5)] case zz-c", "5"},
        {"zz-a: [(clear zz-a none) 2] any zz-a", "none"},
        {"zz-a: [(append zz-a 9 none) none] any zz-a", "none"},
    });
    for (const char* c : {"zz-c: [(clear zz-c false) [1] true [2]] case zz-c",
                          "zz-c: [(clear next zz-c true) [1]] case zz-c",
                          "zz-c: [(remove/part zz-c 3 true) [1] true [2] true [3]] case/all zz-c"})
        EXPECT_EQ(eval_error(c), "script need-value") << c;
    // An error in a condition is raised in the frames the condition is
    // evaluated in: one for the expression, as do/next evaluates it, and
    // case's own.
    eval("zz-fail: does [1 / 0]");
    EXPECT_EQ(error_depth("any [zz-fail]"), error_depth("do/next [zz-fail] 'zz-p"));
    EXPECT_EQ(error_depth("all [zz-fail]"), error_depth("do/next [zz-fail] 'zz-p"));
    EXPECT_EQ(error_depth("case [zz-fail [1]]"), error_depth("any [zz-fail]") + 1);
    EXPECT_EQ(error_depth("case [false [1] zz-fail [1]]"), error_depth("any [zz-fail]") + 1);
    EXPECT_EQ(error_depth("case [true zz-fail]"), error_depth("all [zz-fail]") + 1);
}

// --- Loops ------------------------------------------------------------------------------

TEST_F(ControlNatives, CountedLoops) {
    expect({
        {"n: 0 loop 2.9 [n: n + 1] n", "2"},
        {"loop -3 [1]", "none"},
        {"loop 0 [1]", "none"},
        {"loop 3 [4]", "4"},
        {"n: 0 loop 3 [n: n + 1]", "3"},
        {"loop 2 []", "unset"},
        {"loop 2 [1 continue]", "unset"},
        {"b: copy [] repeat i 2.5 [append b i] b", "[1 2]"},
        {"repeat i 2.5 [i]", "2"},
        {"repeat i 0 [1]", "none"},
        {"repeat i -1 [1]", "none"},
        {"repeat i 3 [i: 10] i", "10"},   // the body's setting does not change the counting
        {"n: 0 repeat i 3 [i: 10 n: n + 1] n", "3"},
        {"b: copy [] repeat i 4 [if i = 2 [continue] if i = 4 [break] append b i] b", "[1 3]"},
        {"repeat i 5 [if i = 3 [break/return i * 10]]", "30"},
    });
    // A float count that no 32-bit integer holds.
    EXPECT_EQ(eval_error("loop 100000000000000000000.0 [1]"), "script out-of-range");
    EXPECT_EQ(eval_error("loop -100000000000000000000.0 [1]"), "script out-of-range");
    EXPECT_EQ(eval_error("repeat i 100000000000000000000.0 [1]"), "script out-of-range");
    Cell nan;
    cell::init(&nan, TYPE_FLOAT);
    cell::set_float(&nan, std::nan(""));
    set_global("zz-nan", &nan);
    EXPECT_EQ(eval_error("loop zz-nan [1]"), "script out-of-range");
    EXPECT_EQ(eval_error("repeat i zz-nan [1]"), "script out-of-range");
    EXPECT_EQ(report_line("loop 100000000000000000000.0 [1]"), "*** Script Error: value out of range: 1.0e20");
    // Limits that fit still count.
    EXPECT_EQ(eval_mold("loop 2147483647.5 [break/return 1]"), "1");
    EXPECT_EQ(eval_mold("loop -2147483648.0 [1]"), "none");
}

// loop, repeat, forever and foreach (one word over a block) walk their body
// in a frame that stays open from one round to the next: every round sees
// the frames and the code a fresh walk would, and the loop's value lands
// where a call's would.
TEST_F(ControlNatives, LoopBodiesRoundAfterRound) {
    expect({
        {"loop 3 [1 2 3]", "3"},
        {"1 + loop 2 [3]", "4"},
        {"reduce [loop 2 [3] repeat i 2 [i] 4]", "[3 2 4]"},
        {"forever [break/return 7]", "7"},
        {"n: 0 forever [n: n + 1 if n < 3 [continue] break/return n]", "3"},
        // The body changed by its own rounds: each round walks it as it is.
        {"n: 0 b: [n: n + 1 if n = 2 [clear b] n] reduce [loop 4 b n]", "[unset 2]"},
        {"n: 0 b: [n: n + 1] loop 3 [append b [n: n + 10]] loop 2 b n", "62"},
        {"b: copy [] repeat i 3 [append b i if i = 2 [body: [1]]] b", "[1 2 3]"},
        {"reduce [foreach w [1 2 3] [w * 2] 5]", "[6 5]"},
        // The series grows and shrinks under the walk.
        {"b: [1 2] n: 0 foreach w b [n: n + w if w < 3 [append b w + 2]] n", "10"},
        {"b: [1 2 3 4] foreach w b [clear b w]", "1"},
        // Rounds of one word, then of two, over the same body.
        {"n: 0 foreach [x y] [1 2 3 4] [n: n + (x * y)] n", "14"},
    });
    // A round that leaves by an error, after rounds that did not.
    EXPECT_EQ(eval_error("n: 0 loop 5 [n: n + 1 if n = 3 [1 / 0]]"), "math zero-divide");
    EXPECT_EQ(eval_mold("n"), "3");
    eval("zz-fail: does [1 / 0]");
    // (while walks its body afresh each round.)
    const i32 fresh = error_depth("while [true] [zz-fail]");
    EXPECT_EQ(error_depth("loop 1 [zz-fail]"), fresh);
    EXPECT_EQ(error_depth("repeat i 3 [if i < 3 [continue] zz-fail]"), fresh);
    const i32 third = error_depth("n: 0 while [true] [n: n + 1 if n = 3 [zz-fail]]");
    EXPECT_EQ(error_depth("n: 0 loop 3 [n: n + 1 if n = 3 [zz-fail]]"), third);
    EXPECT_EQ(error_depth("n: 0 forever [n: n + 1 if n = 3 [zz-fail]]"), third);
    EXPECT_EQ(error_depth("repeat i 3 [if i = 3 [zz-fail]]"), third);
    EXPECT_EQ(error_depth("foreach w [1 2 3] [if w = 3 [zz-fail]]"), third);
    EXPECT_EQ(error_depth("foreach w [1 2 3] [if w < 3 [continue] zz-fail]"), fresh);
    EXPECT_EQ(error_depth("n: 0 until [n: n + 1 if n = 3 [zz-fail] false]"), third);
    EXPECT_EQ(error_depth("until [zz-fail]"), fresh);
    // until's test of an unset value raises with the body closed, as while's
    // test of its condition does.
    EXPECT_EQ(error_depth("n: 0 until [n: n + 1 either n < 3 [false] [()]]"), error_depth("while [()] [1]"));
    EXPECT_EQ(eval_error("n: 0 until [n: n + 1 either n < 3 [false] [()]]"), "script no-return");
}

TEST_F(ControlNatives, LoopCountSteps) {
    Cell c = *test::float_(-2.9);
    natives::to_loop_count(&c);
    EXPECT_EQ(TYPE_OF(&c), TYPE_INTEGER);
    EXPECT_EQ(integer::get(&c), -2) << "truncated toward zero";
    c = *int_(7);
    natives::to_loop_count(&c);
    EXPECT_EQ(integer::get(&c), 7);
}

TEST_F(ControlNatives, WhileUntilForever) {
    expect({
        {"while [true] [break]", "unset"},
        {"x: 0 while [x < 3] [x: x + 1]", "unset"},
        {"x: 0 while [x < 3] [x: x + 1] x", "3"},
        {"while [true] [break/return 5]", "unset"},   // while answers unset always
        {"x: 0 while [x < 5] [x: x + 1 if x < 5 [continue] x: 100] x", "100"},
        {"until [1]", "1"},
        {"x: 0 until [x: x + 1 x = 3]", "true"},
        {"x: 0 until [x: x + 1 if x < 3 [continue] true] x", "3"},
        // The body cleared by its own round: the walk ends with what it did.
        {"x: 0 b: [x: x + 1 if x = 2 [clear b] x = 5] until b", "[]"},
        {"x: 0 reduce [until [x: x + 1 x = 2] x]", "[true 2]"},
        {"until [break/return 8]", "8"},
        {"forever [break/return 5]", "5"},
        {"x: 0 forever [x: x + 1 if x = 4 [break]] x", "4"},
    });
    expect_errors({
        {"while [break] [1]", "throw while-cond"},
        {"while [continue] [1]", "throw while-cond"},
        {"while [zz-unset] [1]", "script no-return"},
        {"until [zz-unset]", "script no-return"},
    });
    EXPECT_EQ(report_line("while [break] [1]"),
              "*** Throw Error: BREAK/CONTINUE cannot be used in WHILE condition block");
    // A break in the condition of an inner while aimed at an outer loop is
    // the condition's own error too; one in a loop inside the condition is not.
    EXPECT_EQ(eval_error("loop 2 [while [break] [1]]"), "throw while-cond");
    EXPECT_EQ(eval_mold("x: 0 while [loop 2 [break] x < 2] [x: x + 1] x"), "2");
    // A return from the condition leaves the function.
    def("zz-w", "[]", "[while [return 6] [1] 7]");
    EXPECT_EQ(eval_mold("zz-w"), "6");
}

TEST_F(ControlNatives, ForeachOverSeries) {
    set_global("zz-bin", bin("0102"));
    set_global("zz-ch", char_('b'));
    expect({
        {"b: copy [] foreach [a b2] [1 2 3] [append b a append b b2] b", "[1 2 3 none]"},
        {"foreach [a b] [1 2 3] [b]", "none"},
        {"foreach [a b] [1 2 3] [a]", "3"},
        {"b: copy [] foreach x [1 [2] c] [append/only b x] b", "[1 [2] c]"},
        {"foreach x [] [1]", "unset"},
        {"b: copy [] foreach x \"ab\" [append b x] b", "[#\"a\" #\"b\"]"},
        {"b: copy [] foreach [x y] \"abc\" [append b y] b", "[#\"b\" none]"},
        {"b: copy [] foreach x zz-bin [append b x] b", "[1 2]"},
        {"b: copy [] foreach [x y] zz-bin [append b y] b", "[2]"},
        {"n: 0 foreach x \"abcb\" [if x = zz-ch [n: n + 1]] n", "2"},
        {"b: copy [] foreach x next [1 2 3] [append b x] b", "[2 3]"},
        {"b: copy [] foreach x [1 2 3] [if x = 2 [continue] append b x] b", "[1 3]"},
        {"foreach x [1 2 3] [if x = 2 [break/return x * 5]]", "10"},
        {"b: copy [] foreach x make vector! [1 2 3] [append b x] b", "[1 2 3]"},
        {"b: copy [] foreach x 'a/b [append b x] b", "[a b]"},
    });
    expect_errors({
        {"foreach [] [1 2] [1]", "script invalid-arg"},
        {"foreach [a 1] [1 2] [1]", "script invalid-arg"},
    });
}

TEST_F(ControlNatives, ForeachOverMapsAndImages) {
    expect({
        {"m: make map! [a 1 b 2] b: copy [] foreach [k v] m [append b k append b v] b", "[a 1 b 2]"},
        {"foreach [k v] make map! [] [1]", "unset"},
    });
    expect_errors({
        {"foreach x make map! [a 1] [1]", "script invalid-arg"},
        {"foreach [k] make map! [a 1] [1]", "script invalid-arg"},
        {"foreach [k v w] make map! [a 1] [1]", "script invalid-arg"},
        {"foreach [k v w] make map! [] [1]", "script invalid-arg"},
    });
    set_global("zz-img", convert(TYPE_IMAGE, pair_(3, 2), ACT_MAKE));
    set_global("zz-img1", convert(TYPE_IMAGE, pair_(3, 1), ACT_MAKE));
    EXPECT_EQ(eval_mold("n: 0 foreach p zz-img [n: n + 1] n"), "6");
    EXPECT_EQ(eval_mold("b: copy [] foreach p zz-img1 [append b p] b"), "[255.255.255.0 255.255.255.0 255.255.255.0]");
    EXPECT_EQ(eval_mold("n: 0 foreach [p q] zz-img1 [n: n + 1] n"), "2");
    EXPECT_EQ(eval_mold("foreach [p q] zz-img1 [q]"), "none");
    EXPECT_EQ(eval_mold("n: 0 foreach p next zz-img [n: n + 1] n"), "5");
}

// The body changes what the loop walks, or the loop word.
TEST_F(ControlNatives, ForeachUnderAHostileBody) {
    eval("zz-m: make map! [a 1 b 2] zz-s: [1 2]");
    expect({
        {"s: [1 2 3 4] b: copy [] foreach x s [append b x clear s] b", "[1]"},
        {"s: [1 2 3 4] b: copy [] foreach x s [append b x remove back tail s] b", "[1 2]"},
        {"s: [1 2 3 4] b: copy [] foreach [x y] s [append b x clear s] b", "[1]"},
        {"s: \"abcd\" b: copy [] foreach x s [append b x clear s] b", "[#\"a\"]"},
        {"s: [1 2] b: copy [] foreach x s [append b x append s 9 if 6 < length? s [break]] b", "[1 2 9 9 9]"},
        {"b: copy [] foreach x [1 2 3] [x: 10 append b x] b", "[10 10 10]"},
        {"b: copy [] foreach x [1 2 3] [append b x x: none] b", "[1 2 3]"},
        // The body block clears itself: the next passes run an empty body.
        {"n: 0 body: [n: n + 1 clear body] foreach x [1 2 3] body n", "1"},
        {"n: 0 body: [n: n + 1 clear body] loop 3 body", "unset"},
    });
    // The body empties the very block of loop words.
    expect_errors({
        {"code: [foreach [a b] [1 2 3 4] [clear pick code 2]] do code", "script invalid-arg"},
        {"code: [foreach [k v] zz-m [clear pick code 2]] do code", "script invalid-arg"},
        {"code: [remove-each [a b] [1 2 3 4] [clear pick code 2]] do code", "script invalid-arg"},
    });
    // Errors deep inside loops and conditionals give the stacks back whole.
    expect_errors({
        {"loop 2 [foreach x [1] [case [true [1 / 0]]]]", "math zero-divide"},
        {"catch [forall zz-s [while [true] [repeat i 2 [1 / 0]]]]", "math zero-divide"},
        {"remove-each x [1 2] [switch x [1 [any [all [1 / 0]]]]]", "math zero-divide"},
        {"forever [until [try/all [break] 1 / 0]]", "math zero-divide"},
    });
}

// The first loop word's change handler empties the block of loop words (and
// allocates, so buffers move): the words after it are gone, and the step
// stops with an error before it sets any, whatever the series walked.
TEST_F(ControlNatives, LoopWordsEmptiedByTheFirstWordsChangeHandler) {
    eval("zz-lw: make object! [a: b: none on-change*: make function! [[w old new] [if w = 'a [clear zz-ws "
         "loop 20 [copy \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\"]]]]]");
    const char* series[] = {"[1 2 3 4]",  "make hash! [1 2 3 4]", "\"abcd\"",       "<abcd>",
                            "#{01020304}", "make vector! [integer! 8 4]", "make image! 2x2", "make map! [x 1 y 2]"};
    for (const char* loop : {"foreach", "remove-each"}) {
        for (const char* s : series) {
            if (std::string(loop) == "remove-each" && std::string(s).find("map!") != std::string::npos) continue;
            std::string code = std::string("zz-ws: bind copy [a b] zz-lw zz-lw/b: 'kept do reduce ['") + loop +
                               " zz-ws " + s + " [true]]";
            EXPECT_EQ(eval_error(code.c_str()), "script invalid-arg") << code;
            EXPECT_EQ(eval_mold("zz-lw/b"), "kept") << code;
        }
    }
}

// A change handler that runs as the loop sets its word, and leaves by an
// exit: the loop receives it though it comes out of C++ code.
TEST_F(ControlNatives, ExitsFromChangeHandlersOfLoopWords) {
    set_global("zz-log", read_block(""));
    def("zz-stop", "[word old new]", "[if new = 2 [break/return 99] append zz-log new]");
    // The loops run in a function of the object, its x the object's.
    EXPECT_EQ(eval_mold("o: make object! [on-change*: :zz-stop x: 0 f: make function! [[] [foreach x [1 2 3] [x]]]] o/f"),
              "99");
    EXPECT_EQ(global_mold("zz-log"), "[1]");
    def("zz-skip", "[word old new]", "[if new = 2 [continue]]");
    struct {
        const char* loop;
        const char* n;
    } cases[] = {
        {"foreach x [1 2 3] [n: n + x]", "4"},
        {"foreach [y x] [1 2 3 4] [n: n + 1]", "1"},   // the record whose x is 2 is passed
        {"repeat x 3 [n: n + x]", "4"},
        {"remove-each x [1 2 3] [n: n + x true]", "4"},
    };
    for (const auto& c : cases) {
        std::string code = std::string("o: make object! [on-change*: :zz-skip x: 0 n: 0 f: make function! [[] [") +
                           c.loop + "]]] o/f o/n";
        EXPECT_EQ(eval_mold(code.c_str()), c.n) << c.loop;
    }
    EXPECT_EQ(eval_mold("o: make object! [on-change*: :zz-skip x: 0 f: make function! [[] [remove-each x [1 2 3] [true]]]] o/f"),
              "[2]") << "a record passed by continue stays";
    def("zz-ret", "[word old new]", "[if new = 2 [return 5]]");
    EXPECT_EQ(eval_mold("o: make object! [on-change*: :zz-ret x: 0 f: make function! [[] [repeat x 3 [x] 7]]] o/f"),
              "7") << "the handler's return ends the handler only";
    // On a series the object owns, remove-each's removal is heard first.
    def("zz-deep-break", "[owner word target action new index part]", "[break/return action]");
    eval("r: make object! [data: [1 2 3] on-deep-change*: :zz-deep-break]");
    EXPECT_EQ(eval_mold("remove-each x r/data [x = 2]"), "[1 2 3]");
    EXPECT_EQ(eval_mold("r/data"), "[1 2 3]");
}

// Loop words of every kind of binding: a global word or a running function's
// is written straight into its value cell, any other goes the long way (an
// object field is marked changed, a fresh word is added, a word of a function
// not running is refused). Each loop gives the same for all of them.
TEST_F(ControlNatives, LoopWordsOfEveryBinding) {
    eval("zz-o: make object! [k: 0] zz-f: make function! [[k] [k]] zz-idle: pick reflect :zz-f 'body 1");
    eval("zz-fresh: to word! \"zz-fresh-loop-word\"");
    const char* words[] = {"'k", "in zz-o 'k", "zz-fresh"};
    const char* loops[] = {"repeat (w) 3 [append b get w]", "foreach (w) [a b c] [append b get w]",
                           "foreach [(w) x] [1 2 3 4] [append b get w]"};
    const char* results[] = {"[1 2 3]", "[a b c]", "[1 3]"};
    for (const char* w : words) {
        for (size_t i = 0; i < 3; i++) {
            std::string code = std::string("w: ") + w + " b: copy [] do compose/deep [" + loops[i] + "] b";
            EXPECT_EQ(eval_mold(code.c_str()), results[i]) << code;
        }
    }
    EXPECT_EQ(eval_mold("zz-o/k"), "3");
    // A function's own loop word, the function re-entered from the body.
    EXPECT_EQ(eval_mold("b: copy [] g: make function! [[n /local k] [repeat k 2 [if n > 0 [g n - 1] append b k]]] g 1 b"),
              "[1 2 1 1 2 2]");
    EXPECT_EQ(eval_mold("g: make function! [[/local k] [foreach k [a b] [] k]] g"), "b");
    expect_errors({
        {"do compose [repeat (zz-idle) 2 [1]]", "script not-defined"},
        {"do compose [foreach (zz-idle) [1 2] [1]]", "script not-defined"},
        {"do compose/deep [foreach [(zz-idle) x] [1 2] [1]]", "script not-defined"},
    });
    // New global words made as the loop runs: the global values block grows
    // (and moves) under the loop word.
    EXPECT_EQ(eval_mold("n: 0 repeat i 40 [set to word! append copy \"zz-grow\" i i n: n + i] reduce [n i zz-grow40]"),
              "[820 40 40]");
    EXPECT_EQ(eval_mold("n: 0 foreach i [1 2 3] [set to word! append copy \"zz-more\" i i n: n + i] reduce [n i]"),
              "[6 3]");
}

TEST_F(ControlNatives, Forall) {
    expect({
        {"s: [1 2 3] b: copy [] forall s [append b pick s 1] b", "[1 2 3]"},
        {"s: [1 2 3] forall s [pick s 1]", "3"},
        {"s: [1 2 3] forall s [1] s", "[1 2 3]"},             // back at its start
        {"s: next [1 2 3] forall s [1] s", "[2 3]"},
        {"s: [1 2 3] forall s [if 2 = pick s 1 [break]] s", "[2 3]"},   // stays where it stopped
        {"s: tail [1 2] forall s [1]", "unset"},
        {"s: \"ab\" b: copy [] forall s [append b s] b", "[\"ab\" \"b\"]"},
        {"s: [1 2 3] n: 0 forall s [n: n + 1 s: next s] n", "2"},   // the body may move the word
        {"s: [1 2 3 4] n: 0 forall s [n: n + 1 clear s] n", "1"},
        {"s: [1 2 3] forall s [if 1 = pick s 1 [continue] 5]", "5"},
        // The same series seen as another datatype of its class is still
        // the loop's: the walk goes on, and ends back at the starting value.
        {"s: [1 2 3] b: copy [] forall s [append b type? s s: as paren! s] reduce [b s]",
         "[[block! paren! paren!] [1 2 3]]"},
        {"s: \"ab\" forall s [s: as file! s] s", "\"ab\""},
    });
    expect_errors({
        {"s: [1 2] forall s [s: [3 4]]", "script bad-loop-series"},
        {"s: [1 2] forall s [s: 5]", "script bad-loop-series"},
        {"s: [1 2] forall s [s: as string! \"x\"]", "script bad-loop-series"},
        {"unset 'zz-nothing forall zz-nothing [1]", "script no-value"},
        {"s: 5 forall s [1]", "script expect-arg"},
    });
    EXPECT_EQ(report_line("s: 5 forall s [1]"), "*** Script Error: forall does not allow integer! for its word argument");
    // A return through forall leaves the word where it was.
    def("zz-fa", "[]", "[zz-s: [1 2 3] forall zz-s [if 2 = pick zz-s 1 [return 0]] 1]");
    EXPECT_EQ(eval_mold("zz-fa zz-s"), "[2 3]");
}

TEST_F(ControlNatives, RemoveEach) {
    set_global("zz-bin", bin("010203"));
    set_global("zz-ch", char_('b'));
    expect({
        {"remove-each x [1 2 3 4] [even? x]", "[1 3]"},
        {"remove-each [a b] [1 2 3 4] [a = 3]", "[1 2]"},
        {"remove-each [a b] [1 2 3] [a = 3]", "[1 2]"},
        {"remove-each x \"abcb\" [x = zz-ch]", "\"ac\""},
        {"remove-each x zz-bin [x = 2]", "#{0103}"},
        {"remove-each x [1 2 3] [if x = 2 [continue] true]", "[2]"},
        {"remove-each x [1 2 3] [if x = 2 [break] true]", "[2 3]"},
        {"remove-each x [1 2 3] [none]", "[1 2 3]"},
        {"s: next [1 2 3] remove-each x s [true] head s", "[1]"},
        {"s: [1 2 3 4] remove-each x s [clear s true] s", "[]"},
        // The body removes the head each time: 2 and 4 go that way, 3 by its value.
        {"s: [1 2 3 4] remove-each x s [remove s x = 3] s", "[3]"},
        {"s: [1 2 3 4] remove-each [x y] s [clear s true] s", "[]"},
    });
    expect_errors({
        {"remove-each [] [1 2] [true]", "script invalid-arg"},
        {"remove-each [a 1] [1 2] [true]", "script invalid-arg"},
    });
}

// --- Exits -----------------------------------------------------------------------------

TEST_F(ControlNatives, Try) {
    Cell e = *eval("try [1 / 0]");
    ASSERT_EQ(TYPE_OF(&e), TYPE_ERROR);
    Cell* err = stack::push(&e);
    EXPECT_EQ(mold(error::field(err, error::FIELD_ID)), "zero-divide");
    stack::pop(1);
    expect({
        {"try [1 + 1]", "2"},
        {"try []", "unset"},
        // try/all is a barrier: the break stops there, as an error.
        {"x: 0 loop 3 [x: x + 1 try/all [break]] x", "3"},
        {"loop 3 [try [break/return 7]]", "7"},   // plain try lets exits through
        {"catch [try [throw 4] 5]", "4"},
        {"x: 0 loop 3 [x: x + 1 try [continue] x: 100] x", "3"},
    });
    Cell b = *eval("try/all [break]");
    ASSERT_EQ(TYPE_OF(&b), TYPE_ERROR);
    err = stack::push(&b);
    EXPECT_EQ(mold(error::field(err, error::FIELD_TYPE)) + " " + mold(error::field(err, error::FIELD_ID)),
              "throw break");
    stack::pop(1);
    def("zz-tr", "[]", "[try [return 3] 4]");
    EXPECT_EQ(eval_mold("zz-tr"), "3");
    def("zz-tra", "[]", "[try/all [return 3] 4]");
    EXPECT_EQ(eval_mold("zz-tra"), "4");
    // try/keep: the error keeps the calls it was raised in.
    def("zz-fail", "[]", "[1 / 0]");
    Cell k = *eval("try/keep [zz-fail]");
    ASSERT_EQ(TYPE_OF(&k), TYPE_ERROR);
    err = stack::push(&k);
    EXPECT_EQ(mold(error::field(err, error::FIELD_STACK)), "[zz-fail]");
    stack::pop(1);
}

TEST_F(ControlNatives, CatchAndThrow) {
    expect({
        {"catch [throw 1]", "1"},
        {"catch [2]", "2"},
        {"catch/name [throw/name 1 'a] 'a", "1"},
        {"catch/name [throw/name 1 'a] [b a]", "1"},
        {"catch/name [throw/name 1 'A] [b a]", "1"},   // words compare without case
        {"catch [catch/name [throw/name 1 'a 2] 'b]", "1"},
        {"catch [catch/name [throw/name 1 'a 2] [b c]]", "1"},
        {"catch [catch/name [throw 1 2] 'b]", "1"},     // an unnamed throw passes a named catch
        {"catch/name [catch [throw/name 3 'a] 4] 'a", "4"},   // a catch without a name takes every throw
        {"loop 2 [catch [break/return 6]]", "6"},
    });
    expect_errors({
        {"catch/name [throw/name 1 'a] [b 1]", "script invalid-refine-arg"},
        {"throw 1", "throw throw"},
        {"catch/name [throw/name 1 'a] 'b", "throw throw"},
    });
    EXPECT_EQ(report_line("catch/name [throw/name 1 'a] [b 1]"), "*** Script Error: invalid name argument: [b 1]");
}

TEST_F(ControlNatives, ExitsOutsideWhatReceivesThem) {
    expect_errors({
        {"break", "throw break"},
        {"continue", "throw continue"},
        {"return 1", "throw return"},
        {"exit", "throw return"},
    });
    def("zz-ex", "[]", "[loop 3 [exit] 1]");
    EXPECT_EQ(eval_mold("zz-ex"), "unset");
    def("zz-rt", "[]", "[foreach x [1 2 3] [if x = 2 [return x]] 0]");
    EXPECT_EQ(eval_mold("zz-rt"), "2");
}

TEST_F(ControlNatives, Apply) {
    def("zz-args", "[a b /r c /s]", "[reduce-5 a b r c s]");
    def("reduce-5", "[a b c d e]", "[append append append append append copy [] a b c d e]");
    expect({
        {"apply :add [1 2]", "3"},
        {"apply 'add [1 2]", "3"},
        {"apply 'append [[] 1]", "[1]"},
        {"apply :+ [1 2]", "3"},
        {"apply 'zz-args [1 2 true 3 false]", "[1 2 true 3 false]"},
        {"apply/all 'zz-args [1 2 /s true]", "[1 2 false none true]"},
        {"apply/safer :add [1 2]", "3"},
    });
    expect_errors({
        {"zz-n: 5 apply 'zz-n [1]", "script invalid-arg"},
        {"apply 'add [1]", "script expect-arg"},
    });
    // The function value given directly names the call <applied>.
    Cell a = eval_error_value("apply :add [1 none]");
    Cell* err = stack::push(&a);
    EXPECT_EQ(mold(error::field(err, error::FIELD_ARG1)), "<applied>");
    stack::pop(1);
    // An exit from the applied function.
    def("zz-brk", "[x]", "[break/return x]");
    EXPECT_EQ(eval_mold("loop 2 [apply 'zz-brk [4] 5]"), "4");
}

// --- Entries called directly, with their own type check ------------------------------------------

// A compiled caller is answered the exit try lets through (a throw goes on
// to its catch by itself).
TEST_F(ControlNatives, TryAnswersTheExitItLetsThrough) {
    struct {
        const char* code;
        u32 receiver;
        i32 answer;
    } cases[] = {
        {"break", stack::FRAME_LOOP, i32(stack::THROW_BREAK)},
        {"continue", stack::FRAME_LOOP, i32(stack::THROW_CONTINUE)},
        {"throw 1", stack::FRAME_CATCH, 0},
        {"1 + 1", stack::FRAME_LOOP, 0},
    };
    for (const auto& c : cases) {
        Cell* code = read_block(c.code);
        stack::Checkpoint checkpoint;
        stack::mark(u32(stack::body_symbol), 0, c.receiver);
        stack::Frame* receiver = stack::call_top - 1;
        stack::mark_body(u32(symbol::make("try")), 0);
        stack::push(code);
        const i32 refs[2] = {-1, -1};
        i32 answer = reinterpret_cast<natives::Entry>(natives::table[70 - 1])(1, refs);
        EXPECT_EQ(answer, c.answer) << c.code;
        EXPECT_EQ(stack::pending != 0, stack::target_q(receiver)) << c.code;
        EXPECT_EQ(stack::call_top, receiver + 2) << "the try frame is closed: " << c.code;
        stack::take_pending();
        checkpoint.restore();
    }
}

struct DirectCall {
    std::string result;   // the result's mold, or the error's "category id"
    bool effect;
};

TEST_F(ControlNatives, CheckedEntriesRefuseBadArgumentsBeforeAnyEffect) {
    auto call = [&](i32 slot, const char* name, std::vector<Cell> args, std::vector<i32> refs) {
        stack::Checkpoint checkpoint;
        Cell before = global("zz-x");
        stack::mark_body(u32(symbol::make(name)), 0);
        for (const Cell& a : args) stack::push(&a);
        std::string out;
        try {
            reinterpret_cast<natives::Entry>(natives::table[slot - 1])(1, refs.data());
            out = mold(stack::arguments);
        } catch (const LanguageError& e) {
            Cell err = e.error;
            checkpoint.restore();
            Cell* ep = stack::push(&err);
            out = mold(error::field(ep, error::FIELD_TYPE)) + " " + mold(error::field(ep, error::FIELD_ID));
            stack::pop(1);
        }
        checkpoint.restore();
        Cell after = global("zz-x");
        return DirectCall{out, mold(&before) != mold(&after)};
    };
    eval("zz-x: 0");
    Cell cases = *read_block("1 [zz-x: 1 10]");
    Cell dflt = *read_block("zz-x: 2 20");
    // switch/default: the default block at position 2.
    DirectCall ok = call(18, "switch", {*int_(5), cases, dflt}, {2});
    EXPECT_EQ(ok.result, "20");
    EXPECT_TRUE(ok.effect);
    eval("zz-x: 0");
    ok = call(18, "switch", {*int_(1), cases, dflt}, {2});
    EXPECT_EQ(ok.result, "10");
    eval("zz-x: 0");
    DirectCall bad = call(18, "switch", {*int_(5), cases, *int_(3)}, {2});
    EXPECT_EQ(bad.result, "script expect-arg");
    EXPECT_FALSE(bad.effect);
    bad = call(18, "switch", {*int_(5), *int_(3), dflt}, {-1});
    EXPECT_EQ(bad.result, "script expect-arg");
    // Without check the default block is not looked at when absent.
    bad = call(8, "loop", {*read_block("a"), cases}, {});
    EXPECT_EQ(bad.result, "script expect-arg");
    bad = call(1, "if", {*int_(1), *int_(2)}, {});
    EXPECT_EQ(bad.result, "script expect-arg");
    bad = call(82, "catch", {cases, *int_(2)}, {1});
    EXPECT_EQ(bad.result, "script expect-arg");
    bad = call(70, "try", {*int_(1)}, {-1, -1});
    EXPECT_EQ(bad.result, "script expect-arg");
    EXPECT_FALSE(bad.effect);
    ok = call(70, "try", {*read_block("zz-x: 3 1 / 0")}, {-1, -1});
    EXPECT_EQ(ok.result.substr(0, 8), "make err");
    EXPECT_TRUE(ok.effect);
}

}  // namespace
}  // namespace zir
