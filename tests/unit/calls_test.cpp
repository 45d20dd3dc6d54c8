// Function calls from the interpreter: argument modes, refinements, the
// argument cache, apply's block modes, routines, and the entries the
// datatypes call language code through (comparators, change handlers, spec
// blocks).
#include "eval_support.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "datatypes/port.hpp"
#include "evaluator/natives.hpp"
#include "loader/lexer.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

using namespace test;

struct Calls : EvalTest {};

TEST_F(Calls, ArgumentModes) {
    def("zz-lit", "['x]", "[x]");
    def("zz-get", "[:x]", "[x]");
    set_global("zz-v", int_(5));
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"zz-lit (1 + 2)", "3"},       // a paren is evaluated
        {"zz-lit :zz-v", "5"},         // a get-word gives its value
        {"zz-lit zz-v", "zz-v"},       // anything else is taken as written
        {"zz-lit [a b]", "[a b]"},
        {"zz-get (1 + 2)", "(1 + 2)"},  // taken as written, always
        {"zz-get zz-v", "zz-v"},
        {"zz-get :zz-v", ":zz-v"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
}

TEST_F(Calls, ArgumentErrors) {
    def("zz-typed", "[a [integer!] b [string! block!]]", "[a]");
    struct Case {
        const char* code;
        const char* report;
    } cases[] = {
        {"zz-typed 1", "*** Script Error: zz-typed is missing its b argument"},
        {"zz-typed \"x\" \"y\"", "*** Script Error: zz-typed does not allow string! for its a argument"},
        {"zz-typed 1 2", "*** Script Error: zz-typed does not allow integer! for its b argument"},
        {"(zz-typed 1)", "*** Script Error: zz-typed is missing its b argument"},   // the paren's end
        {"zz-typed 1 zz-nothing", "*** Script Error: zz-nothing has no value"},
    };
    for (const Case& c : cases) {
        std::string r = eval_report(c.code);
        EXPECT_EQ(r.substr(0, r.find('\n')), c.report) << c.code;
    }
    EXPECT_EQ(eval_mold("zz-typed 1 \"s\""), "1");
    EXPECT_EQ(eval_mold("zz-typed 1 [s]"), "1");
}

// Natives and actions called by a word check their arguments against the
// interpreter's table of their types, with the errors and results of the
// general call.
TEST_F(Calls, NativeArgumentChecksByWord) {
    struct Case {
        const char* by_word;
        const char* report;
    } cases[] = {
        {"reflect [a] [5]", "*** Script Error: reflect does not allow block! for its field argument"},
        {"append 1 2", "*** Script Error: append does not allow integer! for its series argument"},
        {"(append [])", "*** Script Error: append is missing its value argument"},
        {"either 1 [2]", "*** Script Error: either is missing its false-blk argument"},
        {"either true 1 [2]", "*** Script Error: either does not allow integer! for its true-blk argument"},
    };
    for (const Case& c : cases) {
        std::string r = eval_report(c.by_word);
        EXPECT_EQ(r.substr(0, r.find('\n')), c.report) << c.by_word;
    }
    EXPECT_EQ(eval_mold("append [1] 2"), "[1 2]");
    EXPECT_EQ(eval_mold("reduce [either 1 > 2 [3] [4] if 1 < 2 [5] unless true [6]]"), "[4 5 none]");
    // A row is made once per native record: many natives called in turn keep theirs.
    EXPECT_EQ(eval_mold("x: 0 repeat i 50 [x: x + length? append copy [] i x: add x 1] x"), "100");
}

TEST_F(Calls, FunctionRefinementsFromPaths) {
    def("zz-r", "[a /plus b /twice]", "[if twice [a: a * 2] either-plus a b plus]");
    def("either-plus", "[a b p]", "[if p [return a + b] a]");
    set_global("zz-count", int_(0));
    def("zz-tick", "[]", "[zz-count: zz-count + 1]");
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"zz-r 5", "5"},
        {"zz-r/plus 5 1", "6"},
        {"zz-r/twice 5", "10"},
        {"zz-r/twice/plus 5 1", "11"},
        {"zz-r/plus/twice 5 1", "11"},      // in any order
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
    // A get-word names the refinement and its value turns it on or off; off,
    // the refinement's arguments are evaluated and dropped.
    def("zz-r2", "[a /plus b]", "[either-plus a b plus]");
    EXPECT_EQ(eval_mold("plus: true zz-r2/:plus 5 1"), "6");
    EXPECT_EQ(eval_mold("plus: false zz-r2/:plus 5 (zz-tick 1)"), "5");
    EXPECT_EQ(global_mold("zz-count"), "1");
    EXPECT_EQ(eval_mold("plus: none zz-r2/:plus/:plus 5 1 2"), "5") << "twice off: no duplicate, both dropped";
    EXPECT_EQ(eval_error("plus: zz-undefined-thing zz-r2/:plus 5 1"), "script no-value");
}

TEST_F(Calls, RefinementErrors) {
    def("zz-r", "[a /plus b]", "[a]");
    struct Case {
        const char* code;
        const char* error;
        const char* report;
    } cases[] = {
        {"zz-r/plus/plus 1 2 3", "script dup-refine", "*** Script Error: duplicate refinement usage in: zz-r/plus/plus"},
        {"zz-r/nope 1", "script no-refine", "*** Script Error: zz-r has no refinement called nope"},
        {"zz-r/a 1", "script no-refine", "*** Script Error: zz-r has no refinement called a"},
        {"zz-r/1 1", "script bad-refine", "*** Script Error: invalid refinement value: 1"},
        {"append/only/only [] 1", "script dup-refine", "*** Script Error: duplicate refinement usage in: append/only/only"},
        {"append/nope [] 1", "script no-refine", "*** Script Error: append has no refinement called nope"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eval_error(c.code), c.error) << c.code;
        std::string r = eval_report(c.code);
        EXPECT_EQ(r.substr(0, r.find('\n')), c.report) << c.code;
    }
}

TEST_F(Calls, NativeRefinementPositions) {
    // t-refs a /x /y b /z c d: each integer is where the refinement's first
    // argument lies, -1 when absent; arguments are pushed in the order given.
    struct Case {
        const char* code;
        std::vector<i32> refs;
        const char* args;
    } cases[] = {
        {"t-refs 1", {-1, -1, -1}, "[1]"},
        {"t-refs/x 1", {1, -1, -1}, "[1]"},
        {"t-refs/y 1 2", {-1, 1, -1}, "[1 2]"},
        {"t-refs/z/y 1 10 20 30", {-1, 3, 1}, "[1 10 20 30]"},
        {"t-refs/y/z/x 1 2 3 4", {4, 1, 2}, "[1 2 3 4]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eval_mold(c.code), c.args) << c.code;
        EXPECT_EQ(last_refs, c.refs) << c.code;
    }
    EXPECT_EQ(eval_mold("y: false t-refs/:y/x 1 2"), "[1]") << "an inactive refinement's argument is dropped";
    EXPECT_EQ(last_refs, (std::vector<i32>{1, -1, -1}));
}

TEST_F(Calls, LocalsAndUnusedRefinements) {
    def("zz-l", "[a /r b /local c d]", "[reduce-4 a r b c]");
    def("reduce-4", "[a b c d]", "[append append append append copy [] a b c d]");
    EXPECT_EQ(eval_mold("zz-l 1"), "[1 false none none]");
    EXPECT_EQ(eval_mold("zz-l/r 1 2"), "[1 true 2 none]");
}

TEST_F(Calls, TheArgumentCacheIsBuiltOnce) {
    Cell* fn = def("zz-c", "[a [integer!] 'b /r c return: [integer!] /local d]", "[a]");
    EXPECT_NE(TYPE_OF(function::record_cell(fn, function::RECORD_ARGUMENTS)), TYPE_BLOCK);
    EXPECT_EQ(eval_mold("zz-c 1 x"), "1");
    Cell value = global("zz-c");
    fn = stack::push(&value);
    const Cell* cache = function::record_cell(fn, function::RECORD_ARGUMENTS);
    ASSERT_EQ(TYPE_OF(cache), TYPE_BLOCK);
    u32 node = cache->w2;
    // a, b, /r, c, return:, then the /local count: 1 + one local.
    ASSERT_EQ(block::zs_length_q(cache), 6);
    auto mode = [&](i32 i) { return (block::cell_at(node, i)->header >> 20) & 3; };
    EXPECT_EQ(mode(0), 0u);
    EXPECT_EQ(mode(1), 2u) << "a lit-word argument";
    EXPECT_EQ(TYPE_OF(block::cell_at(node, 2)), TYPE_REFINEMENT);
    EXPECT_EQ(mode(4), 3u) << "return:";
    EXPECT_EQ(mold(block::cell_at(node, 5)), "2");
    eval("zz-c 2 y");
    EXPECT_EQ(function::record_cell(fn, function::RECORD_ARGUMENTS)->w2, node) << "reused";
}

TEST_F(Calls, ASpecChangedAfterTheFunctionWasMadeIsRefused) {
    // The spec block is the caller's own: changed before the first call, it
    // no longer names the words of the function's context, whose cells the
    // body reads. The cache is not built from it.
    Cell* spec = read_block("a");
    Cell* body = read_block("a");
    function::push(spec, body, 0, 0, 0, 0);
    set_global("zz-changed", stack::top - 1);
    Cell* extra = stack::push(word::load("b"));
    block::zs_append(spec, extra);
    EXPECT_EQ(eval_error("zz-changed 1 2"), "script bad-func-def");
    Cell* spec2 = read_block("a b");
    function::push(spec2, body, 0, 0, 0, 0);
    set_global("zz-shrunk", stack::top - 1);
    block::zs_clear_from(spec2, 1);
    EXPECT_EQ(eval_error("zz-shrunk 1"), "script bad-func-def");
    Cell* spec3 = read_block("a");
    function::push(spec3, body, 0, 0, 0, 0);
    set_global("zz-set", stack::top - 1);
    block::zs_append(spec3, stack::push(block::cell_at(read_block("x:")->w2, 0)));
    EXPECT_EQ(eval_error("zz-set 1"), "script bad-func-def") << "a set-word other than return:";
}

TEST_F(Calls, ApplyBlockModes) {
    def("zz-a", "[a b /r c /s]", "[reduce-5 a b r c s]");
    def("reduce-5", "[a b c d e]", "[append append append append append copy [] a b c d e]");
    set_global("zz-one", int_(1));
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"apply :add [1 2]", "3"},
        {"apply 'add [1 2]", "3"},
        {"apply :add [1 + 1 2]", "4"},                       // whole expressions
        {"apply 'zz-a [1 2 true 3 false]", "[1 2 true 3 false]"},
        {"apply 'zz-a [1 2 false 3 true]", "[1 2 false none true]"},
        {"apply 'zz-a [1]", "[1 none false none false]"},    // missing: none, false
        {"apply/safer :add [zz-one zz-one]", "2"},
        {"apply/all 'zz-a [1 2 /s true]", "[1 2 false none true]"},
        {"apply/all 'zz-a [1 2 /r 1 > 0 9]", "[1 2 true 9 false]"},
        {"apply/all 'zz-a [1 2 /r false 9 /s 1]", "[1 2 false none true]"},
        {"apply 'append [[] 1]", "[1]"},
        {"apply :+ [1 2]", "3"},
        // A path's refinements apply after the block's; their arguments
        // come from what the block holds next.
        {"apply 'zz-a/s [1 2]", "[1 2 false none true]"},
        {"apply 'zz-a/r [1 2 false none false 9]", "[1 2 true 9 false]"},
        {"apply 'zz-a/r [1 2]", "[1 2 true none false]"},
        {"s: false apply 'zz-a/:s [1 2]", "[1 2 false none false]"},
        {"apply/all 'zz-a/s [1 2]", "[1 2 false none true]"},
        {"apply 'append/only [[a] [b]]", "[a [b]]"},
        {"apply 'copy/part [[a b c] false none false false none 2]", "[a b]"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
    EXPECT_EQ(eval_error("apply 'zz-a [1 2 3]"), "script expect-arg") << "a refinement takes a logic!";
    EXPECT_EQ(eval_error("apply/all 'zz-a [1 2 /s true 5]"), "script bad-refine");
    EXPECT_EQ(eval_error("apply/all 'zz-a [1 2 /nope true]"), "script no-refine");
    EXPECT_EQ(eval_error("apply 'zz-a/nope [1 2]"), "script no-refine");
    EXPECT_EQ(eval_error("apply 'zz-a/s [1 2 false none true]"), "script dup-refine");
    EXPECT_EQ(eval_error("apply 'append/only/only [[] 1]"), "script dup-refine");
    EXPECT_EQ(eval_error("apply 'zz-a/1 [1 2]"), "script bad-refine");
}

// --- Routines ----------------------------------------------------------------------

interpreter::RoutineValue add_ints(const interpreter::RoutineValue* args, i32) {
    interpreter::RoutineValue r;
    r.i = args[0].i + args[1].i;
    return r;
}

interpreter::RoutineValue first_cell(const interpreter::RoutineValue* args, i32) { return args[0]; }

interpreter::RoutineValue positive(const interpreter::RoutineValue* args, i32) {
    interpreter::RoutineValue r;
    r.i = args[0].f > 0;
    return r;
}

TEST_F(Calls, Routines) {
    i32 add = interpreter::add_routine(add_ints);
    i32 first = interpreter::add_routine(first_cell);
    i32 pos = interpreter::add_routine(positive);
    set_global("zz-add", routine::push(read_block("a [integer!] b [integer!]"), nullptr, add,
                                       routine::RETURNS_INTEGER, false));
    set_global("zz-first", routine::push(read_block("a b"), nullptr, first, routine::RETURNS_NONE, true));
    set_global("zz-pos?", routine::push(read_block("x [float!]"), nullptr, pos, routine::RETURNS_LOGIC, false));
    EXPECT_EQ(eval_mold("zz-add 2 3"), "5");
    EXPECT_EQ(eval_mold("zz-add 2 3 + 4"), "9");
    EXPECT_EQ(eval_mold("zz-first [x] 2"), "[x]") << "the cell its address answers";
    EXPECT_EQ(eval_mold("zz-pos? 1.5"), "true");
    EXPECT_EQ(eval_mold("zz-pos? -1.5"), "false");
    std::string r = eval_report("zz-add 2 \"x\"");
    EXPECT_EQ(r.substr(0, r.find('\n')), "*** Script Error: zz-add does not allow string! for its b argument");
}

// A routine that declares no result type answers the cell its entry gives,
// whatever the converted arguments; an entry that gives none answers unset.
interpreter::RoutineValue nth_pushed(const interpreter::RoutineValue* args, i32) {
    interpreter::RoutineValue r;
    r.cell = nullptr;
    if (args[0].i > 0) {
        Cell* out = stack::push(&unset::value);
        block::make_at(out, 4);
        for (i32 i = 0; i < args[0].i; i++) block::zs_append(out, args[1].cell);
        r.cell = out;
    }
    return r;
}

TEST_F(Calls, ARoutineWithoutAResultTypeAnswersWhatItsEntryGives) {
    i32 nth = interpreter::add_routine(nth_pushed);
    set_global("zz-rep", routine::push(read_block("n [integer!] v"), nullptr, nth, routine::RETURNS_NONE, false));
    EXPECT_EQ(eval_mold("zz-rep 3 'a"), "[a a a]");
    EXPECT_EQ(eval_mold("reduce [zz-rep 1 + 1 'b zz-rep 1 \"s\"]"), "[[b b] [\"s\"]]") << "one cell per call";
    EXPECT_EQ(TYPE_OF(eval("zz-rep 0 1")), u32(TYPE_UNSET));
    EXPECT_EQ(eval_error("zz-rep \"x\" 1"), "script expect-arg") << "its arguments are still checked";
}

TEST_F(Calls, AFunctionWithABuiltInEntryRunsItsRoutine) {
    i32 add = interpreter::add_routine([](const interpreter::RoutineValue* args, i32 n) {
        interpreter::RoutineValue r;
        Cell* a = args[0].cell;
        integer::make_at(a, integer::get(a) + integer::get(args[1].cell) + n);
        r.cell = a;
        return r;
    });
    function::push(read_block("a b"), nullptr, 0, u32(add), 0, 0);
    set_global("zz-builtin", stack::top - 1);
    EXPECT_EQ(eval_mold("zz-builtin 10 20"), "32") << "two cells in the frame";
}

// --- Language code called from C++ --------------------------------------------------

TEST_F(Calls, CallFunctionWithItsFrameOpen) {
    Cell* fn = def("zz-cb", "[a b /r /local c]", "[c: a * b if r [c: 0] c]");
    StackState before = StackState::now();
    Cell* result = stack::top;
    stack::mark_func(u32(symbol::make("zz-cb")), 0, fn->w1);
    int_(6);
    int_(7);
    interpreter::fill_frame(fn, 2);
    EXPECT_EQ(stack::top - stack::arguments, 5) << "a b r c plus local";
    interpreter::call_function(fn, 0, nullptr, 0);
    stack::unwind_func_last();
    EXPECT_EQ(mold(result), "42");
    EXPECT_EQ(stack::top, before.top + 1);
    EXPECT_EQ(stack::call_top, before.call_top);
}

TEST_F(Calls, SortComparators) {
    def("zz-lt", "[a b]", "[a < b]");
    def("zz-gt", "[a b /local t]", "[t: a > b t]");
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"sort/compare [3 1 2] :zz-lt", "[1 2 3]"},
        {"sort/compare [3 1 2] :zz-gt", "[3 2 1]"},
        {"sort/compare/reverse [3 1 2] :zz-lt", "[3 2 1]"},
        {"sort/compare \"cab\" :zz-lt", "\"abc\""},
        {"sort/compare/skip [3 a 1 b 2 c] :zz-lt 2", "[1 b 2 c 3 a]"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
    // An exit out of a comparator leaves the sort and the C++ code around it.
    def("zz-brk", "[a b]", "[break/return [broken]]");
    EXPECT_EQ(eval_mold("loop 3 [sort/compare [3 1 2] :zz-brk 99]"), "[broken]");
    def("zz-ret", "[a b]", "[return a < b]");
    EXPECT_EQ(eval_mold("sort/compare [3 1 2] :zz-ret"), "[1 2 3]") << "a comparator's return ends it only";
    EXPECT_EQ(eval_error("sort/compare [2 1] :zz-nothing-here"), "script expect-arg") << "unset is no comparator";
    def("zz-err", "[a b]", "[a / 0]");
    Cell* b = read_block("3 1 2");
    set_global("zz-b", b);
    EXPECT_EQ(eval_error("sort/compare zz-b :zz-err"), "math zero-divide");
    EXPECT_EQ(mold(b), "[3 1 2]") << "an error leaves the block as it was";
    // A comparator that changes the very block being sorted.
    def("zz-clears", "[a b]", "[clear zz-b a < b]");
    eval("sort/compare zz-b :zz-clears");
    EXPECT_EQ(block::zs_length_q(b), 0) << "the handler's change is kept";
}

TEST_F(Calls, ObjectSpecsAndErrorSpecsAreEvaluated) {
    EXPECT_EQ(eval_mold("o: make object! [a: 1 b: a + 1] o/b"), "2");
    EXPECT_EQ(eval_mold("o: make object! [a: 1 c: loop 2 [a: a + 1]] o/c"), "3");
    Cell e = *eval("make error! [type: 'script id: 'no-value arg1: 'zz-x]");
    Cell* err = stack::push(&e);
    std::string report = form(err);
    EXPECT_EQ(report.substr(0, report.find('\n')), "*** Script Error: zz-x has no value");
    // An exit inside a spec block leaves make.
    EXPECT_EQ(eval_mold("loop 2 [make object! [a: 1 break/return 7]]"), "7");
    def("zz-mk", "[]", "[make object! [return 8] 9]");
    EXPECT_EQ(eval_mold("zz-mk"), "8");
}

TEST_F(Calls, ChangeHandlersRunInTheInterpreter) {
    set_global("zz-log", read_block(""));
    def("zz-on-change", "[word old new]", "[append zz-log reduce-3 word old new]");
    def("reduce-3", "[a b c]", "[append append append copy [] a b c]");
    eval("o: make object! [x: 1 on-change*: :zz-on-change]");
    eval("o/x: 5");
    EXPECT_EQ(global_mold("zz-log"), "[x 1 5]");
    // A handler that breaks out of a loop around the change.
    def("zz-breaking", "[word old new]", "[break/return old]");
    eval("p: make object! [x: 1 on-change*: :zz-breaking]");
    EXPECT_EQ(eval_mold("loop 3 [p/x: 10 99]"), "1");
    EXPECT_EQ(eval_mold("p/x"), "10") << "the field was set before its handler ran";
    // on-deep-change*: the owner of the series in its fields hears of changes.
    set_global("zz-deep-log", read_block(""));
    def("zz-deep", "[owner word target action new index part]", "[append zz-deep-log action]");
    eval("q: make object! [data: [1 2] on-deep-change*: :zz-deep]");
    eval("append q/data 3");
    EXPECT_EQ(global_mold("zz-deep-log"), "[append appended]");
    def("zz-deep-break", "[owner word target action new index part]", "[break/return action]");
    eval("r: make object! [data: [1 2] on-deep-change*: :zz-deep-break]");
    EXPECT_EQ(eval_mold("loop 2 [append r/data 3 99]"), "append") << "left before the change";
    EXPECT_EQ(eval_mold("r/data"), "[1 2]");
}

}  // namespace
}  // namespace zir

namespace zir {
namespace {

using namespace test;

// --- Callbacks of the lexer and of ports, written in the language ------------------------

struct Callbacks : EvalTest {};

TEST_F(Callbacks, TheLexersTraceCallback) {
    set_global("zz-loaded", read_block(""));
    def("zz-lex", "[event input type line token]", "[[load] append/only zz-loaded token token <> 1]");
    Cell fn = global("zz-lex");
    Cell* text = str("1 [a] \"s\" 1");
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    lexer::string_to_block(out, text, -1, {}, nullptr, &fn, nullptr);
    EXPECT_EQ(global_mold("zz-loaded"), "[1 a \"s\" 1]") << "only the load events it asked for";
    EXPECT_EQ(mold(out), "[[a] \"s\"]") << "a false answer drops the value";
    // An error in the callback leaves the lexer.
    def("zz-lex-bad", "[event input type line token]", "[[load] zz-not-there]");
    Cell bad = global("zz-lex-bad");
    stack::Checkpoint cp;
    EXPECT_EQ(error_of([&] { lexer::string_to_block(out, text, -1, {}, nullptr, &bad, nullptr); }), "script no-value");
    cp.restore();
}

const Cell* zz_system[3] = {};
const Cell* system_values(port::SystemValue which) { return zz_system[which]; }

TEST_F(Callbacks, PortActorsWrittenInTheLanguage) {
    collector::RootCell templ(*eval(
        "make object! [spec: none scheme: none actor: none awake: none state: none data: none extra: none]"));
    collector::RootCell parts(*eval("make object! [scheme: none host: none path: none]"));
    set_global("zz-port-log", read_block(""));
    def("zz-actor-append", "[port value /part length /only /dup count]",
        "[append zz-port-log value if dup [append zz-port-log count] port]");
    def("zz-actor-length", "[port]", "[length? zz-port-log]");
    def("zz-actor-clear", "[port]", "[break/return 'left]");
    eval("zz-actor: make object! [append: :zz-actor-append length?: :zz-actor-length clear: :zz-actor-clear]");
    Cell* scheme = eval("make object! [name: 'zz title: \"zz\" info: none actor: zz-actor awake: none]");
    collector::RootCell schemes(*test::block({test::word("zz"), scheme}));
    zz_system[port::STANDARD_PORT] = templ.get();
    zz_system[port::URL_PARTS] = parts.get();
    zz_system[port::SCHEMES] = schemes.get();
    auto saved = port::system_value;
    port::system_value = system_values;
    Cell* port_value = port::make(nullptr, eval("make object! [scheme: 'zz host: none path: none]"), TYPE_PORT);
    set_global("zz-p", port_value);
    EXPECT_EQ(TYPE_OF(eval("append/dup zz-p 5 2")), TYPE_PORT);
    EXPECT_EQ(global_mold("zz-port-log"), "[5 2]");
    EXPECT_EQ(eval_mold("length? zz-p"), "2");
    EXPECT_EQ(eval_mold("loop 3 [clear zz-p 99]"), "left") << "an exit out of the actor";
    EXPECT_EQ(eval_error("reverse zz-p"), "access no-port-action");
    port::system_value = saved;
}

}  // namespace
}  // namespace zir
