// The natives that make and run code and reach words and values: func,
// function, does, has; do, reduce, compose; get, set, bind, in; construct,
// value?, uppercase, lowercase, extend, unset, new-line, new-line?, context?
// and as. Code that changes what a native is working on (the block being
// walked, the /into target, the values set) is run here too; the stress
// build collects and moves every buffer at every allocation meanwhile.
#include <string>

#include "datatypes/block.hpp"
#include "datatypes/word.hpp"
#include "eval_support.hpp"
#include "evaluator/natives.hpp"

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

struct CodeNatives : EvalTest {
    void run(const Case* cases, size_t n) {
        for (size_t i = 0; i < n; i++) {
            stack::Checkpoint cp;
            try {
                EXPECT_EQ(eval_mold(cases[i].code), cases[i].result) << cases[i].code;
            } catch (const LanguageError& e) {
                cp.restore();
                Cell error = e.error;
                ADD_FAILURE() << cases[i].code << ": " << form(&error);
            }
        }
    }
    void fail(const ErrorCase* cases, size_t n) {
        for (size_t i = 0; i < n; i++) EXPECT_EQ(eval_error(cases[i].code), cases[i].error) << cases[i].code;
    }
    // The new-line markers of a global block's cells, "1" marked, "0" not.
    static std::string markers(const char* word) {
        Cell b = global(word);
        std::string s;
        SeriesBuffer* buf = node_buffer(b.w2);
        for (i32 i = 0; i < block::cell_count(buf); i++)
            s += (block::cell_at(b.w2, i)->header & FLAG_NEW_LINE) ? '1' : '0';
        return s;
    }
};

#define RUN(cases) run(cases, sizeof(cases) / sizeof(cases[0]))
#define FAIL_ALL(cases) fail(cases, sizeof(cases) / sizeof(cases[0]))

// --- func, function, does, has --------------------------------------------------------

TEST_F(CodeNatives, FunctionMakers) {
    const Case cases[] = {
        {"f: func [a b] [a + b] f 1 2", "3"},
        {"f: function [] [a: 1 b: 2] reflect :f 'spec", "[/local a b]"},
        {"f: function [/extern a] [a: 1 b: 2] reflect :f 'spec", "[/local b]"},
        {"f: function [x] [if true [y: 1 z: [w: 2]] (v: 3)] reflect :f 'spec", "[x /local y z w v]"},
        {"f: function [] [] reflect :f 'spec", "[]"},
        {"f: does [7] reflect :f 'spec", "[]"},
        {"f: does [7] f", "7"},
        {"f: has [a] [a: 1] reflect :f 'spec", "[/local a]"},
        {"f: has [a] [a: 5 a] f", "5"},
        // The caller's blocks are not changed: the makers work on copies.
        {"s: [a] f: has s [a: 1] s", "[a]"},
        {"s: [] f: function s [a: 1] s", "[]"},
        {"b: [1 + 1] f: does b append b 5 f", "2"},
        // A spec or body whose position lies past its shortened tail is empty.
        {"s: [a b] t: tail s clear s f: func t [1] f", "1"},
        {"s: [a b] b: [x] t: tail b clear b f: func s t f 1 2", "unset"},
    };
    RUN(cases);
}

TEST_F(CodeNatives, FunctionWithExternSetsTheGlobalWordOnly) {
    eval("zz-a: 0 zz-b: 0 f: function [/extern zz-a] [zz-a: 1 zz-b: 2] f");
    EXPECT_EQ(global_mold("zz-a"), "1");
    EXPECT_EQ(global_mold("zz-b"), "0");
}

TEST_F(CodeNatives, FunctionMakerErrors) {
    const ErrorCase cases[] = {
        {"func [1] []", "script bad-func-def"},
        {"function [/extern 1] [a: 1]", "script bad-func-extern"},
        {"has [1] []", "script bad-func-def"},
    };
    FAIL_ALL(cases);
}

// --- do ----------------------------------------------------------------------------------

TEST_F(CodeNatives, DoOfEachKindOfValue) {
    const Case cases[] = {
        {"do []", "unset"},
        {"do [1 2]", "2"},
        {"do \"1 + 2\"", "3"},
        {"do \"\"", "unset"},
        {"do 5", "5"},
        {"x: 7 do 'x", "7"},
        {"do pick [(1 + 1)] 1", "2"},
        {"b: [10 20] do 'b/2", "20"},
        {"f: does [9] do :f", "9"},
        {"b: [1 2 3] do next b", "3"},
        {"b: tail [1 2] clear head b do b", "unset"},
        {"f: func [] [do [return 5] 6] f", "5"},
        {"n: 0 loop 3 [n: n + 1 do [break]] n", "1"},
    };
    RUN(cases);
}

TEST_F(CodeNatives, DoErrors) {
    const ErrorCase cases[] = {
        {"do make error! \"boom\"", "user message"},
        {"do \"1 + [\"", "syntax missing"},
        // (Another test may have defined the library's do-file.)
        {"do-file: none do to file! \"script.zir\"", "internal not-done"},
        {"do/expand [1]", "internal not-done"},
        {"do [zz-undefined-word]", "script no-value"},
    };
    FAIL_ALL(cases);
}

TEST_F(CodeNatives, DoOfAFileCallsTheLibrarysDoFile) {
    eval("do-file: func [file a args c] [reduce [file a args c]]");
    EXPECT_EQ(eval_mold("do/args to file! \"s.zir\" 5"), "[%s.zir none 5 none]");
    EXPECT_EQ(eval_mold("do to url! \"http://example.com/x\""), "[http://example.com/x none none none]");
}

TEST_F(CodeNatives, DoNext) {
    const Case cases[] = {
        {"b: [1 + 2 3 * 4] do/next b 'pos", "3"},
        {"b: [1 + 2 3 * 4] do/next b 'pos pos", "[3 * 4]"},
        {"b: [1 + 2 3 * 4] do/next b 'pos do/next pos 'pos reduce [index? pos tail? pos]", "[7 true]"},
        {"b: [1 2] do/next tail b 'pos", "unset"},
        {"b: [1 2] do/next tail b 'pos index? pos", "3"},
        {"b: [1 2] do/next skip b 1 'pos index? pos", "3"},
        // The code empties its own block: the position stays within it.
        {"b: [clear b 5] do/next b 'pos reduce [index? pos length? b]", "[1 0]"},
        {"b: [append b [7] 5] do/next b 'pos reduce [index? pos pos]", "[4 [5 7]]"},
        {"pos: 0 b: \"1 2\" do/next b 'pos pos", "[2]"},
    };
    RUN(cases);
}

struct DoTrace : CodeNatives {
    void SetUp() override {
        CodeNatives::SetUp();
        set_global("zz-events", read_block(""));
        def("zz-tracer", "[event code offset value ref frame]", "[append zz-events event]");
        stack::top = saved_top;
    }
};

TEST_F(DoTrace, CallsTheTracerAndRemovesIt) {
    EXPECT_EQ(eval_mold("do/trace [1] :zz-tracer"), "1");
    EXPECT_EQ(global_mold("zz-events"), "[init enter fetch push expr exit end]");
    EXPECT_FALSE(interpreter::tracing);
    EXPECT_FALSE(interpreter::trace_allowed);
    EXPECT_EQ(TYPE_OF(&interpreter::tracer), u32(TYPE_NONE));
    // Not traced any more.
    eval("zz-events: copy [] 1 + 2");
    EXPECT_EQ(global_mold("zz-events"), "[]");
}

TEST_F(DoTrace, AnErrorPassesThroughAndTheTracerIsRemoved) {
    EXPECT_EQ(eval_error("do/trace [zz-undefined] :zz-tracer"), "script no-value");
    EXPECT_FALSE(interpreter::tracing);
    EXPECT_FALSE(interpreter::trace_allowed);
    Cell events = global("zz-events");
    EXPECT_EQ(mold(block::cell_at(events.w2, 0)), "init");
    EXPECT_EQ(mold(block::cell_at(events.w2, block::cell_count(node_buffer(events.w2)) - 1)), "end");
}

TEST_F(DoTrace, ANestedTraceRunsUnderTheFirstTracer) {
    def("zz-other", "[event code offset value ref frame]", "[append zz-events 'other]");
    eval("do/trace [do/trace [2] :zz-other] :zz-tracer");
    Cell events = global("zz-events");
    std::string all = mold(&events);
    EXPECT_EQ(all.find("other"), std::string::npos) << all;
    EXPECT_EQ(all.rfind("end"), all.size() - 4) << all;   // sent once, by the outer call
    EXPECT_EQ(all.find("end"), all.rfind("end")) << all;
    EXPECT_FALSE(interpreter::trace_allowed);
}

TEST_F(DoTrace, AReturnLeavesThroughIt) {
    EXPECT_EQ(eval_mold("f: func [] [do/trace [return 4] :zz-tracer 5] f"), "4");
    EXPECT_FALSE(interpreter::trace_allowed);
    Cell events = global("zz-events");
    EXPECT_EQ(mold(block::cell_at(events.w2, block::cell_count(node_buffer(events.w2)) - 1)), "end");
}

// --- reduce ------------------------------------------------------------------------------

TEST_F(CodeNatives, Reduce) {
    const Case cases[] = {
        {"reduce [1 + 2 3 * 4]", "[3 12]"},
        {"reduce []", "[]"},
        {"reduce next [1 2 3]", "[2 3]"},
        {"x: 4 reduce 'x", "4"},
        {"reduce 5", "5"},
        {"equal? reduce :add :add", "true"},
        {"f: does [1] equal? reduce :f :f", "true"},
        {"reduce [\n1\n2\n]", "[1 2]"},   // the results lose their new-line markers
        {"f: func [] [reduce [1 return 7 3]] f", "7"},
        // The block is cleared by its own code: the walk ends there.
        {"b: [1 clear b 2 3] reduce b", "[1 []]"},
        {"b: [1 (append b 9 2) 3] reduce b", "[1 2 3]"},
    };
    RUN(cases);
}

TEST_F(CodeNatives, ReduceInto) {
    const Case cases[] = {
        // At the tail: appended, the result at the unchanged position.
        {"out: [a b] reduce/into [1 + 1 3] tail out", "[2 3]"},
        {"out: [a b] reduce/into [1 + 1 3] tail out out", "[a b 2 3]"},
        {"out: [a b] index? reduce/into [1 2] skip out 2", "3"},
        // Inside: inserted at the position, the result after them.
        {"out: [a b] r: reduce/into [1 2] next out reduce [out index? r]", "[[a 1 2 b] 4]"},
        {"out: [a b] r: reduce/into [1 2] out reduce [out index? r]", "[[1 2 a b] 3]"},
        {"out: [a] x: 5 reduce/into 'x tail out out", "[a 5]"},
        {"out: [a] reduce/into 7 out out", "[7 a]"},
        {"out: make hash! [a 1] reduce/into [2 + 2] tail out select out 1", "4"},
        // The code changes the target meanwhile.
        {"out: [] reduce/into [1 (append out 9 0) 2] out out", "[1 9 0 2]"},
        {"out: [a b c] reduce/into [1 (clear out 2) 3] next out out", "[2 3]"},
        {"out: [a] reduce/into [1 (clear out 2)] tail out out", "[2]"},
        // Inserted into the source itself: the walk is not shifted by what
        // goes in.
        {"b: [1 + 1 3] reduce/into b b b", "[2 3 1 + 1 3]"},
        {"b: [1 + 1 3] r: reduce/into b next b reduce [b index? r]", "[[1 2 3 + 1 3] 4]"},
        {"b: [(1 + 1) [x]] reduce/into b b b", "[2 [x] (1 + 1) [x]]"},
    };
    RUN(cases);
}

// Errors and exits from inside the walks leave the stacks as they were (the
// fixture checks the arguments, the top and the frames after every case).
TEST_F(CodeNatives, ErrorsInsideTheWalks) {
    const ErrorCase cases[] = {
        {"reduce [1 zz-undefined 3]", "script no-value"},
        {"out: [] reduce/into [1 zz-undefined] next out", "script no-value"},
        {"compose [1 (zz-undefined)]", "script no-value"},
        {"compose/deep [[[(1 + [])]]]", "script expect-arg"},
        {"compose/into [(zz-undefined)] []", "script no-value"},
        {"do/next [zz-undefined] 'pos", "script no-value"},
        {"f: func [] [compose [(do \"1 +\")]] f", "script no-arg"},
    };
    FAIL_ALL(cases);
    const Case exits[] = {
        {"n: 0 loop 3 [n: n + 1 compose [(if n = 2 [break]) x]] n", "2"},
        {"n: 0 loop 3 [n: n + 1 reduce [if n = 2 [continue] 1]] n", "3"},
        {"pos: 0 loop 1 [do/next [break 5] 'pos] pos", "0"},
        {"catch [reduce [1 throw 2 3]]", "2"},
        {"f: func [] [reduce/into [1 return 9] []] f", "9"},
    };
    RUN(exits);
}

// --- compose ------------------------------------------------------------------------------

TEST_F(CodeNatives, Compose) {
    const Case cases[] = {
        {"compose [a (1 + 1) ()]", "[a 2]"},
        {"compose [([x y])]", "[x y]"},
        {"compose/only [([x y])]", "[[x y]]"},
        {"compose [([])]", "[]"},
        {"compose/only [([])]", "[[]]"},
        {"compose [(do [])]", "[]"},
        {"compose [a (if false [1]) b]", "[a none b]"},
        {"compose [[(1)]]", "[[(1)]]"},
        {"compose/deep [[(1)] ((2))]", "[[1] 2]"},
        {"compose/deep/only [[([a])]]", "[[[a]]]"},
        {"compose next [(1) (2)]", "[2]"},
        {"compose []", "[]"},
        {"b: [x] c: compose [(b)] append b 1 c", "[x]"},   // spliced values are copies of the cells
        {"b: [[x]] c: compose b append pick b 1 1 c", "[[x 1]]"},   // a nested block is shared without /deep
        {"b: [[x]] c: compose/deep b append pick b 1 1 c", "[[x]]"},
        {"f: func [] [compose [1 (return 8) 2]] f", "8"},
        // The block is cleared by its own paren: the walk ends there.
        {"b: [1 (clear b 2) 3] compose b", "[1 2]"},
        // What the parens append is not walked: the walk ends at the tail
        // the block had on entry.
        {"b: [1 (append b 9 2)] compose b", "[1 2]"},
        {"b: [1 (append b [(append b 7)] 2)] compose b", "[1 2]"},
    };
    RUN(cases);
}

TEST_F(CodeNatives, ComposeInto) {
    const Case cases[] = {
        {"out: [z] r: compose/into [a (1)] out reduce [out index? r]", "[[a 1 z] 3]"},
        {"out: [z] r: compose/into [a ([b c])] tail out reduce [out index? r]", "[[z a b c] 2]"},
        {"out: [z] compose/into/deep [[(1)]] tail out out", "[z [1]]"},
        {"out: [z] compose/into/only [([a])] out out", "[[a] z]"},
        {"out: make hash! [k 1] compose/into [(2 + 3) v] tail out select out 5", "v"},
        {"out: [] compose/into [1 (append out 9 0) 2] out out", "[1 9 0 2]"},
        {"out: [a b] compose/into [1 (clear out 2) 3] next out out", "[2 3]"},
        // The target is the source itself: appending to it must not feed
        // the walk (it never ended).
        {"b: [1 (2)] compose/into b tail b b", "[1 (2) 1 2]"},
        {"b: [[(1)] x] compose/into/deep b tail b b", "[[(1)] x [1] x]"},
        // Inserted into the source itself: the walk is not shifted by what
        // goes in, so the result is what a separate target would get.
        {"b: [x (1)] compose/into b b b", "[x 1 x (1)]"},
        {"b: [x (1) y] r: compose/into b next b reduce [b index? r]", "[[x x 1 y (1) y] 5]"},
        {"b: [[(1)] (2)] compose/into/deep b b b", "[[1] 2 [(1)] (2)]"},
        {"b: [(1) ([a b])] compose/into/only b b b", "[1 [a b] (1) ([a b])]"},
        // A paren answers the target itself: its cells as they were go in
        // (the walk over them met the cells it added, without end).
        {"out: [a b] compose/into [(out)] out out", "[a b a b]"},
        {"out: [a b] compose/into [(out) z] tail out out", "[a b a b z]"},
        {"out: [a z] compose/into [(append out 1) (next out)] next out out", "[a a z 1 a z 1 z 1 z 1]"},
        {"out: [a] compose/into/deep [[(out)] (out)] tail out out", "[a [a] a [a]]"},
    };
    RUN(cases);
}

// --- get and set -----------------------------------------------------------------------------

TEST_F(CodeNatives, GetAndSet) {
    const Case cases[] = {
        {"set 'a 5", "5"},
        {"set 'a 5 a", "5"},
        {"set [a b] [1] reduce [a b]", "[1 none]"},
        {"set [a b] 5 reduce [a b]", "[5 5]"},
        {"set/only [a b] [1 2] reduce [a b]", "[[1 2] [1 2]]"},
        {"a: 1 set/some [a b] reduce [none 2] reduce [a b]", "[1 2]"},
        {"set [a b] next [1 2 3] reduce [a b]", "[2 3]"},
        {"set next [a b] [7] b", "7"},
        {"set/any 'a do [] value? 'a", "false"},
        {"set/any [a b] reduce [1 do []] value? 'b", "false"},
        {"b: [1 2 3] set 'b/2 20 b", "[1 20 3]"},
        {"o: make object! [x: 1 y: 2] set 'o/x 5 o/x", "5"},
        {"o: make object! [x: 1 y: 2] set o [10 20] reduce [o/x o/y]", "[10 20]"},
        {"o: make object! [x: 1 y: 2] set o 3 reduce [o/x o/y]", "[3 3]"},
        {"o: make object! [x: 1 y: 2] set o [10] reduce [o/x o/y]", "[10 none]"},
        {"a: 5 get 'a", "5"},
        {"a: 5 get pick [a:] 1", "5"},
        {"b: [1 [2 3]] get 'b/2/1", "2"},
        {"o: make object! [x: 1 y: 2] get 'o/y", "2"},
        {"o: make object! [x: 1 y: 2] get o", "[1 2]"},
        {"o: make object! [x: 1 y: [a]] append get o 9 o/x", "1"},   // the values block is a copy
        {"get/any 'zz-no-such-word", "unset"},
    };
    RUN(cases);
}

TEST_F(CodeNatives, GetAndSetErrors) {
    const ErrorCase cases[] = {
        {"get 'zz-no-such-word", "script no-value"},
        {"set 'a do []", "script need-value"},
        {"set [a b] reduce [1 do []]", "script need-value"},
        {"set [a 1] [2 3]", "script invalid-arg"},
        {"set [a 1] 5", "script invalid-arg"},
        {"o: make object! [x: 1] set 'o/zz 5", "script invalid-path"},
    };
    FAIL_ALL(cases);
}

TEST_F(CodeNatives, ABadWordsBlockSetsNothing) {
    eval("a: 1 b: 2");
    for (const char* code : {"set [a 1] [2 3]", "set [a b 1] 5", "set [a b] reduce [3 do []]"}) {
        EXPECT_NE(eval_error(code), "") << code;
        EXPECT_EQ(global_mold("a"), "1") << code;
        EXPECT_EQ(global_mold("b"), "2") << code;
    }
}

TEST_F(CodeNatives, SetUnderAChangeHandler) {
    // The handler empties the values block being set from: the words after
    // the first read it again and get none.
    eval("vals: [5 6] log: copy []"
         " o: make object! [x: 1 y: 2 on-change*: func [w old new] [append log w clear vals]]");
    EXPECT_EQ(eval_mold("set bind [x y] o vals reduce [o/x o/y log]"), "[5 none [x y]]");
    eval("log: copy []");
    EXPECT_EQ(eval_mold("set 'o/x 9 reduce [o/x log]"), "[9 [x]]");
    EXPECT_EQ(eval_mold("set in o 'y 3"), "3");
}

// --- bind and in --------------------------------------------------------------------------------

TEST_F(CodeNatives, BindAndIn) {
    const Case cases[] = {
        {"x: 0 o: make object! [x: 1] b: [x] bind b o do b", "1"},
        {"x: 0 o: make object! [x: 1] b: [x] c: bind/copy b o reduce [do b do c]", "[0 1]"},
        {"x: 0 o: make object! [x: 1] b: [[x] (x)] c: bind/copy b o reduce [do pick b 1 do pick b 2]", "[0 0]"},
        {"x: 0 o: make object! [x: 1] b: [[x] (x)] bind b o reduce [do pick b 1 do pick b 2]", "[1 1]"},
        {"x: 0 o: make object! [x: 1] get bind 'x o", "1"},
        {"zz: 7 o: make object! [x: 1] get bind 'zz o", "7"},   // not held by the context: unchanged
        {"x: 0 o: make object! [x: 1] b: [x] bind b in o 'x do b", "1"},
        {"f: func [x] [do bind [x] 'x] f 3", "3"},
        {"x: 0 b: [x] f: func [x] [do b] bind b :f f 6", "6"},
        {"o: make object! [x: 1] in o 'zz", "none"},
        {"o: make object! [x: 1] w: in o /x reduce [w get w]", "[x 1]"},
        {"o: make object! [x: 1] w: in o pick [x:] 1 set w 5 o/x", "5"},
        {"in :append 'only", "only"},
        {"in :append 'zz", "none"},
        {"in :if 'cond", "cond"},
    };
    RUN(cases);
}

// --- construct, value?, unset, extend ------------------------------------------------------------

TEST_F(CodeNatives, ValueNatives) {
    const Case cases[] = {
        {"o: construct [a: 1 b: c: true d: none] reduce [o/a o/b o/c o/d]", "[1 true true none]"},
        {"o: construct [a: 1 + 2] o/a", "1"},
        {"o: construct/only [a: true] equal? o/a true", "false"},
        {"p: make object! [x: 1 y: 2] o: construct/with [y: 5] p reduce [o/x o/y p/y]", "[1 5 2]"},
        {"value? 'zz-undefined-word", "false"},
        {"value? 'value?", "true"},
        // The words of a function's context: reachable only while it runs.
        {"f: func [a] ['a] w: f 1 value? w", "false"},
        {"f: func [a /local b] [reduce ['a 'b]] w: f 1 reduce [value? w/1 value? w/2]", "[false false]"},
        {"f: func [a] [value? 'a] f 1", "true"},
        {"f: func [a] [g: func [w] [value? w] g 'a] f 1", "true"},
        {"o: make object! [f: func [a] [a + 1]] o/f 2", "3"},
        {"a: 1 b: 2 unset [a 1 b] reduce [value? 'a value? 'b]", "[false false]"},
        {"a: 1 unset 'a value? 'a", "false"},
        {"m: make map! [a 1] extend m [b 2 a 3] reduce [m/a m/b]", "[3 2]"},
        {"m: make map! [a 1] extend m make map! [c 4] m/c", "4"},
    };
    RUN(cases);
    EXPECT_EQ(eval_error("o: make object! [x: 1] extend o [y 2]"), "internal not-done");
    EXPECT_EQ(eval_error("unset 'a a"), "script no-value");
}

TEST_F(CodeNatives, CaseChangers) {
    const Case cases[] = {
        {"uppercase \"abc\"", "\"ABC\""},
        {"s: \"ab\" uppercase s s", "\"AB\""},
        {"uppercase/part \"abcd\" 2", "\"ABcd\""},
        {"s: \"abcd\" uppercase/part s skip s 3", "\"ABCd\""},
        {"lowercase \"ÀB\"", "\"àb\""},
        {"lowercase to char! 65", "#\"a\""},
        {"uppercase to file! \"file\"", "%FILE"},
        {"s: \"abc\" uppercase next s", "\"BC\""},
    };
    RUN(cases);
}

// --- new-line, new-line?, context?, as ----------------------------------------------------------

TEST_F(CodeNatives, NewLineMarkers) {
    struct {
        const char* code;
        const char* markers;
    } cases[] = {
        {"b: [1 2 3 4 5] new-line/all b true", "11111"},
        {"b: [1 2 3 4 5] new-line/skip b true 2", "10101"},
        {"b: [1 2 3 4 5] new-line/skip b false 2", "01010"},
        {"b: [1 2 3 4 5] new-line/skip next b true 3", "01001"},
        {"b: [1 2 3 4 5] new-line next b true", "01000"},
        {"b: [1 2 3 4 5] new-line tail b true", "00000"},
        {"b: [\n1\n2] new-line b false", "01"},
        {"b: [\n1\n2] new-line/all b false", "00"},
    };
    for (const auto& c : cases) {
        eval(c.code);
        EXPECT_EQ(markers("b"), c.markers) << c.code;
    }
    const Case results[] = {
        {"b: [1 2] new-line next b true", "[\n    2\n]"},
        {"b: [1 2] new-line? tail b", "false"},
        {"b: [1 2] new-line next b true new-line? next b", "true"},
        {"b: [1 2] new-line next b true new-line? b", "false"},
    };
    RUN(results);
    EXPECT_EQ(eval_error("b: [1 2] new-line/skip b true 0"), "script out-of-range");
}

TEST_F(CodeNatives, ContextOfAWord) {
    const Case cases[] = {
        {"o: make object! [x: 1] equal? context? in o 'x o", "true"},
        {"f: func [a] [context? 'a] equal? f 1 :f", "true"},
        {"context? 'x", "none"},
    };
    RUN(cases);
    // A word bound to no context at all.
    Cell w = *word::load("zz-loose");
    w.w1 = 0;
    w.w3 = u32(-1);
    set_global("zz-unbound", &w);
    EXPECT_EQ(eval_mold("context? :zz-unbound"), "none");
    EXPECT_EQ(eval_mold("value? :zz-unbound"), "false");
}

TEST_F(CodeNatives, As) {
    const Case cases[] = {
        {"as block! pick [(a b)] 1", "[a b]"},
        {"as paren! [a b]", "(a b)"},
        {"as path! [a b]", "a/b"},
        {"as set-path! [a b]", "a/b:"},
        {"as block! 'a/b", "[a b]"},
        {"as string! to file! \"file\"", "\"file\""},
        {"as \"\" to file! \"file\"", "\"file\""},
        {"as [] pick [(1)] 1", "[1]"},
        {"as url! \"http://x\"", "http://x"},
        {"as tag! next \"abc\"", "<bc>"},
        // The same series: a change through one is seen through the other.
        {"b: [1 2] p: as paren! b append b 3 p", "(1 2 3)"},
    };
    RUN(cases);
    const ErrorCase errors[] = {
        {"as string! 'a/b", "script not-same-class"},
        {"as integer! [1]", "script not-same-class"},
        {"as block! \"a\"", "script not-same-class"},
        {"as hash! [1]", "script not-same-class"},
    };
    FAIL_ALL(errors);
    EXPECT_EQ(eval_report("as string! 'a/b").rfind("*** Script Error: cannot coerce path! to string!\n", 0), 0u);
}

// --- The natives called with their own type check ----------------------------------------------

TEST_F(CodeNatives, CheckedCallsRefuseWrongTypesBeforeAnyEffect) {
    Cell* fn = def("zz-checked", "[]", "[]");
    (void)fn;
    // do value /expand /args arg /next position /trace callback: a /next
    // position that is not a word is refused before anything runs.
    eval("b: [zz-side: 1]");
    stack::mark_body(u32(stack::body_symbol), 0);
    Cell* b = stack::push_slot();
    *b = global("b");
    stack::push(int_(3));
    const i32 refs[] = {-1, -1, 1, -1};
    std::string error;
    stack::Checkpoint cp;
    try {
        reinterpret_cast<natives::Entry>(natives::table[20 - 1])(1, refs);
    } catch (const LanguageError& e) {
        cp.restore();
        error = e.id;
    }
    stack::unwind();
    EXPECT_EQ(error, "expect-arg");
    EXPECT_EQ(eval_error("zz-side"), "script no-value");

    // Unchecked, compose refuses a value that is not a block itself.
    stack::mark_body(u32(stack::body_symbol), 0);
    stack::push(int_(3));
    const i32 none_given[] = {-1, -1, -1};
    stack::Checkpoint cp2;
    error.clear();
    try {
        reinterpret_cast<natives::Entry>(natives::table[36 - 1])(0, none_given);
    } catch (const LanguageError& e) {
        cp2.restore();
        error = e.id;
    }
    stack::unwind();
    EXPECT_EQ(error, "expect-val");
}

}  // namespace
}  // namespace zir
