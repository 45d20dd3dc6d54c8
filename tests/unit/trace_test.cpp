// Interpreter trace events: the sequence a small block sends, the tracer's
// event filter, library code, function flags and errors.
#include "eval_support.hpp"

#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/logic.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

using namespace test;

struct Trace : EvalTest {
    void SetUp() override {
        EvalTest::SetUp();
        set_global("zz-events", read_block(""));
        set_global("zz-offsets", read_block(""));
        def("zz-tracer", "[event code offset value ref frame]",
            "[append zz-events event append zz-offsets offset]");
        stack::top = saved_top;
    }
    // Evaluates the text under the tracer and answers the events, in order.
    std::string traced(const char* text, const char* tracer = "zz-tracer") {
        set_global("zz-events", read_block(""));
        set_global("zz-offsets", read_block(""));
        Cell* code = read_block(text);
        Cell fn = global(tracer);
        Cell* result = stack::top;
        stack::Checkpoint cp;
        interpreter::start_tracing(&fn);
        try {
            interpreter::eval_block(code, false);
        } catch (...) {
            cp.restore();
            interpreter::stop_tracing();
            throw;
        }
        interpreter::stop_tracing();
        stack::top = result;
        return global_mold("zz-events");
    }
};

TEST_F(Trace, TheEventsOfASmallBlock) {
    EXPECT_EQ(traced("1 + 2"), "[init enter fetch push fetch open fetch push call return expr exit end]");
    Cell offsets = global("zz-offsets");
    EXPECT_EQ(mold(&offsets, {.flat = true}), "[-1 0 0 0 1 2 2 2 2 3 3 3 -1]")
        << "positions in the block; -1 for the events of no code";
    EXPECT_EQ(traced("x: 5"), "[init enter fetch push fetch push set expr exit end]");
    EXPECT_EQ(traced("'a"), "[init enter fetch push expr exit end]");
}

TEST_F(Trace, TheEventsOfAFunctionCall) {
    def("zz-id", "[x]", "[x]");
    EXPECT_EQ(traced("zz-id 1"),
              "[init enter fetch open fetch push call prolog enter fetch push expr exit epilog return expr exit end]");
}

TEST_F(Trace, TheTracersFirstBlockFiltersTheEvents) {
    def("zz-some", "[event code offset value ref frame]", "[[fetch PUSH] append zz-events event]");
    EXPECT_EQ(traced("1 + 2", "zz-some"), "[fetch push fetch fetch push]");
    def("zz-none", "[event code offset value ref frame]", "[[nothing-known 12] append zz-events event]");
    EXPECT_EQ(traced("1 + 2", "zz-none"), "[]") << "unknown words ask for nothing";
    def("zz-all", "[event code offset value ref frame]", "[append zz-events event]");
    EXPECT_EQ(traced("1", "zz-all"), "[init enter fetch push expr exit end]") << "no block: every event";
    Cell some = global("zz-some");
    EXPECT_EQ(interpreter::trace_mask_of(&some), u32(interpreter::EVENT_FETCH | interpreter::EVENT_PUSH));
}

TEST_F(Trace, TheTracerIsNotTraced) {
    // The tracer's own evaluation sends nothing, and tracing is back on after.
    def("zz-busy", "[event code offset value ref frame]", "[loop 2 [1 + 1] append zz-events event]");
    EXPECT_EQ(traced("1", "zz-busy"), "[init enter fetch push expr exit end]");
    EXPECT_FALSE(interpreter::tracing);
}

TEST_F(Trace, LibraryCodeRunsUntracedButTheUserCodeItRuns) {
    Cell* fn = def("zz-lib", "[code]", "[1 + 1 do code]");
    const Cell* body = function::record_cell(fn, function::RECORD_BODY);
    node_buffer(body->w2)->flags |= SERIES_LIBRARY;
    EXPECT_EQ(traced("zz-lib [7]"),
              "[init enter fetch open fetch push call enter fetch push expr exit return expr exit end]")
        << "the call is seen, its body not, the user block it does is";
    Cell near;
    interpreter::near_position(&near);
    EXPECT_EQ(TYPE_OF(&near), TYPE_NONE) << "no user code runs any more";
    // Its body is given as a copy, which cannot change it.
    EXPECT_EQ(eval_mold("b: reflect :zz-lib 'body clear b zz-lib [5]"), "5");
    EXPECT_EQ(eval_mold("reflect :zz-lib 'body"), "[1 + 1 do code]");
    // Errors in library code are near the user code that called it.
    Cell* failing = def("zz-lib-fail", "[]", "[zz-undefined-in-lib]");
    node_buffer(function::record_cell(failing, function::RECORD_BODY)->w2)->flags |= SERIES_LIBRARY;
    EXPECT_EQ(eval_report("1 + 1\nzz-lib-fail"), "*** Script Error: zz-undefined-in-lib has no value\n"
                                                 "*** Where: zz-lib-fail\n*** Near : zz-lib-fail");
}

TEST_F(Trace, FunctionFlagsTurnTracingOffOrOn) {
    Cell* quiet = def("zz-quiet", "[]", "[1 + 1]");
    quiet->header |= function::NO_TRACE;
    set_global("zz-quiet", quiet);
    EXPECT_EQ(traced("zz-quiet"), "[init enter fetch open call return expr exit end]");
    Cell* loud = def("zz-loud", "[]", "[2]");
    loud->header |= function::TRACE;
    set_global("zz-loud", loud);
    // Outside a traced run nothing is sent, even from a TRACE function.
    set_global("zz-events", read_block(""));
    EXPECT_EQ(eval_mold("zz-loud"), "2");
    EXPECT_EQ(global_mold("zz-events"), "[]");
}

TEST_F(Trace, ErrorsAreReportedAndTheTracersErrorsGoOn) {
    EXPECT_EQ(error_of([&] { traced("zz-undefined-word"); }), "script no-value");
    EXPECT_EQ(global_mold("zz-events"), "[init enter fetch error end]");
    def("zz-bad", "[event code offset value ref frame]", "[if event = 'push [zz-tracer-fails] 1]");
    EXPECT_EQ(error_of([&] { traced("1 + 2", "zz-bad"); }), "script no-value");
    EXPECT_FALSE(interpreter::tracing);
}

TEST_F(Trace, TheTracerReceivesTheEventsArguments) {
    set_global("zz-seen", read_block(""));
    def("zz-args", "[event code offset value ref frame]",
        "[if event = 'set [zz-seen: reduce-6 event offset value ref frame code]]");
    def("reduce-6", "[a b c d e f /local r]",
        "[r: copy [] append/only r a append/only r b append/only r c append/only r d append/only r e "
        "append/only r f r]");
    traced("x: 5", "zz-args");
    Cell seen = global("zz-seen");
    ASSERT_EQ(block::zs_length_q(&seen), 6);
    EXPECT_EQ(mold(block::cell_at(seen.w2, 0)), "set");
    EXPECT_EQ(mold(block::cell_at(seen.w2, 1)), "2") << "the position after the value";
    EXPECT_EQ(mold(block::cell_at(seen.w2, 2)), "5");
    EXPECT_EQ(mold(block::cell_at(seen.w2, 3)), "x:") << "a set's reference is its set-word";
    EXPECT_EQ(TYPE_OF(block::cell_at(seen.w2, 4)), TYPE_PAIR) << "the frame as a pair";
    EXPECT_EQ(mold(block::cell_at(seen.w2, 5)), "[x: 5]");
}

TEST_F(Trace, ATracerThatBreaksOutOfTheTracedLoop) {
    // The first expression done is inside the loop's body.
    def("zz-breaker", "[event code offset value ref frame]",
        "[if event = 'expr [if zz-armed [zz-armed: false break/return 'broke]] 1]");
    set_global("zz-armed", &logic::true_value);
    Cell* code = read_block("loop 3 [1 + 2]");
    Cell fn = global("zz-breaker");
    Cell* result = stack::top;
    StackState before = StackState::now();
    interpreter::start_tracing(&fn);
    interpreter::eval_block(code, false);
    interpreter::stop_tracing();
    EXPECT_EQ(mold(result), "broke");
    EXPECT_EQ(stack::pending, 0u);
    EXPECT_EQ(stack::call_top, before.call_top);
    EXPECT_EQ(stack::top, result + 1);
}

// The cell just above the top is whatever was last there: at an event it may
// still refer to a series nothing keeps. A tracer that collects and
// allocates must not meet it as a root.
TEST_F(Trace, ATracerThatCollectsMeetsNoStaleCellAboveTheTop) {
    def("zz-collecting", "[event code offset value ref frame]",
        "[recycle append zz-events event append copy [a] copy \"text\"]");
    def("zz-id", "[x]", "[x]");
    const char* codes[] = {"x: copy [1 2] append x 3", "zz-id copy \"abc\"", "1 + length? copy [a b]",
                           "y: reduce [copy [1] 2]"};
    for (const char* text : codes) {
        set_global("zz-events", read_block(""));
        Cell* code = read_block(text);
        Cell fn = global("zz-collecting");
        Cell* result = stack::top;
        // A block only the cell above the top refers to, freed by a collection.
        Cell* above = stack::push_slot();
        cell::init(above, TYPE_UNSET);
        block::make_at(above, 64);
        stack::top = above;
        collector::do_cycle();
        interpreter::start_tracing(&fn);
        interpreter::eval_block(code, false);
        interpreter::stop_tracing();
        stack::top = result;
        std::string events = global_mold("zz-events");
        EXPECT_EQ(events.substr(0, 12), "[init enter ") << text;
        EXPECT_EQ(events.substr(events.size() - 9), "exit end]") << text;
    }
}

}  // namespace
}  // namespace zir
