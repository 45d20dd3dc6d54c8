// The value stack and the call stack: frames, their closing, unrolling and
// the walkers that name and list the calls.
#include "eval_support.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

using namespace test;

// Runs a test body with the stacks put back afterwards, whatever it did.
struct Stacks : EvalTest {
    StackState saved;
    void SetUp() override {
        EvalTest::SetUp();
        saved = StackState::now();
    }
    void TearDown() override {
        stack::call_top = saved.call_top;
        stack::arguments = saved.arguments;
        stack::top = saved.top;
        stack::saved_call_top = nullptr;
        EvalTest::TearDown();
    }
    static u32 sym(const char* s) { return u32(symbol::make(s)); }
    // A frame named by a global word.
    static void frame(const char* name, u32 flags = stack::FRAME_NATIVE) {
        Cell w = *word::load(name);
        stack::mark(w.w2, w.w1, flags);
    }
};

TEST_F(Stacks, PushPopAndKeep) {
    Cell* base = stack::top;
    int_(1);
    int_(2);
    stack::pop(1);
    EXPECT_EQ(stack::top, base + 1);
    Cell* args = stack::arguments;
    stack::arguments = base;
    int_(5);
    stack::pop_into();
    EXPECT_EQ(stack::top, base + 1);
    EXPECT_EQ(mold(base), "5");
    error::make_at(stack::push_slot(), ERR_MATH, 0, nullptr, 0);
    stack::keep_error();
    EXPECT_EQ(TYPE_OF(base), TYPE_ERROR) << "an error on top becomes the result";
    EXPECT_EQ(stack::top, base + 1);
    int_(3);
    stack::keep_error();
    EXPECT_EQ(TYPE_OF(base), TYPE_ERROR) << "anything else leaves the result";
    stack::arguments = args;
    Cell* t = stack::top;
    stack::pop(1 << 20);
    EXPECT_EQ(stack::top, stack::bottom) << "popping too much stops at the bottom";
    stack::top = t;
}

TEST_F(Stacks, ClosingFrames) {
    Cell* base = stack::top;
    int_(0);
    Cell* caller = stack::arguments;
    frame("f");
    EXPECT_EQ(stack::arguments, base + 1);
    int_(7);
    int_(8);
    stack::unwind_last();
    EXPECT_EQ(stack::arguments, caller);
    EXPECT_EQ(stack::top, base + 2) << "the result cell stays";
    frame("f");
    int_(7);
    int_(8);
    stack::unwind_drop();
    EXPECT_EQ(stack::top, base + 3) << "one less than the old top";
    stack::top = base + 1;
    frame("f");
    int_(9);
    stack::unwind_no_result();
    EXPECT_EQ(stack::top, caller) << "nothing kept";
    stack::arguments = base;
    stack::top = base + 1;
    frame("f");
    int_(42);
    stack::unwind_set_last();
    EXPECT_EQ(mold(base), "42") << "the result is also the caller's";
}

TEST_F(Stacks, UnwindingTheLastFrameEmptiesTheStack) {
    if (saved.call_top != stack::call_bottom) GTEST_SKIP() << "frames below the test";
    int_(1);
    frame("f");
    int_(2);
    stack::unwind();
    EXPECT_EQ(stack::call_top, stack::call_bottom);
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::top, stack::bottom);
    stack::unwind();
    EXPECT_EQ(stack::top, stack::bottom) << "no frame: nothing moves below the bottom";
}

TEST_F(Stacks, FunctionFramesGiveTheirContextsValuesBack) {
    Cell* fn = def("zz-f", "[a]", "[a]");
    Cell* ctx = context::cell_of(fn->w1);
    EXPECT_EQ(ctx->w2, 0u) << "not running";
    stack::mark_func(sym("zz-f"), 0, fn->w1);
    int_(1);
    context::set_stack_values(context::cell_of(fn->w1), stack::arguments);
    stack::mark_func(sym("zz-f"), 0, fn->w1);
    int_(2);
    context::set_stack_values(context::cell_of(fn->w1), stack::arguments);
    Cell* a = int_(0);
    cell::init(a, TYPE_UNSET);
    Cell word = *zir::block::cell_at(function::record_cell(fn, function::RECORD_BODY)->w2, 0);
    EXPECT_EQ(mold(context::get(&word)), "2") << "the newest call's cell";
    stack::unwind_func();
    EXPECT_EQ(mold(context::get(&word)), "1") << "a recursive call's values are given back";
    stack::unwind_func_set_last();
    EXPECT_EQ(context::cell_of(fn->w1)->w2, 0u);
    // The compiled form: the values are pointed at the callee's arguments.
    stack::mark_func_ctx(sym("zz-f"), 0, fn->w1);
    EXPECT_TRUE(stack::top_frame()->flags & stack::FRAME_RETURN_BOUNDARY);
    EXPECT_EQ(context::stack_values(context::cell_of(fn->w1)), stack::top_frame()->arguments);
    stack::unwind_func_last();
    EXPECT_EQ(context::cell_of(fn->w1)->w2, 0u);
}

TEST_F(Stacks, Unrolling) {
    Cell* base = stack::top;
    stack::arguments = base;
    int_(0);
    frame("loop-frame", stack::FRAME_LOOP);
    Cell* own = stack::arguments;
    int_(1);
    frame("a");
    int_(2);
    frame("b");
    Cell* result = int_(77);
    (void)result;
    stack::Frame* loop = stack::call_top - 3;
    stack::unroll(stack::FRAME_LOOP, true);
    EXPECT_EQ(stack::call_top, loop + 1) << "the loop frame stays";
    EXPECT_EQ(stack::arguments, own) << "keep: the loop's own arguments";
    frame("a");
    frame("b");
    int_(55);
    stack::unroll_last(stack::FRAME_LOOP);
    EXPECT_EQ(stack::call_top, loop + 1);
    EXPECT_EQ(stack::arguments, own);
    EXPECT_EQ(mold(own), "55") << "the result moved into the loop's own result cell";
    EXPECT_EQ(stack::top, own + 1);
    // A barrier stops it.
    frame("barrier", stack::FRAME_BARRIER);
    stack::Frame* barrier = stack::call_top - 1;
    frame("a");
    stack::unroll(stack::FRAME_LOOP, false);
    EXPECT_EQ(stack::call_top, barrier + 1);
}

TEST_F(Stacks, TheCallerName) {
    Cell name;
    stack::mark(u32(stack::body_symbol), 0, stack::FRAME_NATIVE);
    stack::mark(u32(stack::anon_symbol), 0, stack::FRAME_NATIVE);
    if (saved.call_top == stack::call_bottom) {
        stack::caller_name(&name);
        EXPECT_EQ(mold(&name), "<not-found>") << "only anonymous frames";
    }
    frame("zz-caller");
    stack::mark(u32(stack::body_symbol), 0, stack::FRAME_NATIVE);
    stack::caller_name(&name);
    EXPECT_EQ(mold(&name), "zz-caller");
    // The walk starts from the saved call top when set, and clears it.
    stack::Frame* below = stack::call_top - 1;
    frame("zz-later");
    stack::saved_call_top = below;
    stack::caller_name(&name);
    EXPECT_EQ(mold(&name), "zz-caller");
    EXPECT_EQ(stack::saved_call_top, nullptr);
    stack::rename_top(word::load("zz-renamed"));
    stack::caller_name(&name);
    EXPECT_EQ(mold(&name), "zz-renamed");
    stack::rename_top(str("no word"));
    stack::caller_name(&name);
    EXPECT_EQ(mold(&name), "zz-renamed") << "only a word renames";
}

TEST_F(Stacks, CollectAndTraceCalls) {
    def("zz-fn", "[]", "[1]");
    set_global("zz-not-fn", int_(1));
    bool empty = saved.call_top == stack::call_bottom;
    frame("zz-bottom");
    Cell* base = stack::top;
    frame("zz-fn");
    stack::mark(u32(stack::body_symbol), 0, stack::FRAME_NATIVE);
    frame("zz-not-fn");
    Cell* list = stack::push_slot();
    cell::init(list, TYPE_UNSET);
    zir::block::make_at(list, 8);
    stack::collect_calls(list);
    std::string calls = mold(list);
    EXPECT_NE(calls.find("zz-not-fn"), std::string::npos);
    EXPECT_LT(calls.find("zz-not-fn"), calls.find("zz-fn")) << "newest first";
    EXPECT_EQ(calls.find("<body>"), std::string::npos);
    if (empty) {
        EXPECT_EQ(calls.find("zz-bottom"), std::string::npos) << "never the bottom frame";
    }
    EXPECT_NE(calls.find(" " + std::to_string(base - stack::bottom)), std::string::npos)
        << "the position of each caller's arguments";
    Cell* traced = stack::push_slot();
    cell::init(traced, TYPE_UNSET);
    zir::block::make_at(traced, 8);
    stack::trace_calls(1, traced, nullptr);
    EXPECT_EQ(mold(traced), "[zz-fn]") << "level 1: function values only";
    zir::block::zs_clear(traced);
    stack::trace_calls(2, traced, nullptr);
    EXPECT_EQ(mold(traced), "[zz-bottom zz-fn zz-not-fn]");
    Cell* text = str("");
    i32 left = stack::form_calls(2, nullptr, text, 100);
    EXPECT_EQ(string::to_std(text), "zz-bottom zz-fn zz-not-fn ");
    EXPECT_EQ(left, 100 - 26);
}

TEST_F(Stacks, PositionsAndFlags) {
    Cell* err = stack::push(&unset::value);
    error::make_at(err, ERR_MATH, 0, nullptr, 0);
    stack::record_position(err);
    EXPECT_EQ(mold(error::field(err, error::FIELD_STACK)), std::to_string(stack::call_top - stack::call_bottom));
    *error::field(err, error::FIELD_STACK) = *read_block("a");
    stack::record_position(err);
    EXPECT_EQ(TYPE_OF(error::field(err, error::FIELD_STACK)), TYPE_BLOCK) << "a trace block stays";
    frame("a", stack::FLAGS_BODY);
    frame("b", stack::FRAME_NATIVE);
    EXPECT_TRUE(stack::eval_q(nullptr, false));
    EXPECT_FALSE(stack::eval_q(nullptr, true)) << "the newest frame alone";
    EXPECT_TRUE(stack::eval_q(stack::call_top - 1, true)) << "the frame below the newest";
    stack::set_break_flag();
    EXPECT_TRUE(stack::eval_q(nullptr, true));
    EXPECT_TRUE(stack::set_flag_below());
    EXPECT_FALSE(stack::set_flag_below()) << "set already";
    stack::clear_flag(stack::call_top - 2);
    EXPECT_TRUE(stack::set_flag_below());
    stack::set_flag(true);
    EXPECT_TRUE(stack::top_frame()->flags & stack::FRAME_RETURN_BOUNDARY);
    stack::set_flag(false);
    EXPECT_FALSE(stack::top_frame()->flags & stack::FRAME_RETURN_BOUNDARY);
}

TEST_F(Stacks, FramesKeepTheCodeTheyWalkAlive) {
    // A block reachable from nothing but the frame walking it survives
    // collections.
    Cell* b = read_block("1 2 3");
    u32 node = b->w2;
    stack::mark_eval_block(u32(stack::body_symbol), node);
    cell::init(b, TYPE_NONE);
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_EQ(zir::block::cell_count(node_buffer(node)), 3);
    EXPECT_EQ(mold(zir::block::cell_at(node, 2)), "3");
}

}  // namespace
}  // namespace zir
