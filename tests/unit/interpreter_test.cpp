// The interpreter: blocks, expressions, operators, words, and the errors of
// evaluation.
#include "eval_support.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/word.hpp"

namespace zir {
namespace {

using namespace test;

struct Interpreter : EvalTest {};

TEST_F(Interpreter, EvaluationOrder) {
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"1 + 2 * 3", "9"},              // left to right, no precedence
        {"(1 + 2) * 3", "9"},
        {"1 + (2 * 3)", "7"},
        {"add 1 2 * 3", "7"},            // a prefix call's arguments are whole expressions
        {"negate 1 + 2", "-3"},
        {"subtract 10 add 1 2", "7"},
        {"10 - 2 - 3", "5"},
        {"2 * 3 + 4 * 5", "50"},
        {"1.5 + 2.25", "3.75"},
        {"1 + 2.5", "3.5"},
        {"1 < 2", "true"},
        {"3 = 3", "true"},
        {"1 + 1 = 2", "true"},           // = takes 1 + 1 as its left operand
        {"[1 + 2]", "[1 + 2]"},          // a block is a value
        {"7 8 9", "9"},                  // the last expression's value
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
}

TEST_F(Interpreter, BlocksAndValues) {
    EXPECT_EQ(TYPE_OF(eval("")), TYPE_UNSET) << "an empty block is unset";
    EXPECT_EQ(eval_mold("'x"), "x");
    EXPECT_EQ(TYPE_OF(eval("'x")), TYPE_WORD);
    EXPECT_EQ(eval_mold("a: b: 1 a + b"), "2") << "a chain of set-words";
    EXPECT_EQ(eval_mold("\"text\""), "\"text\"");
    def("f", "[x]", "[x * 2]");
    EXPECT_EQ(TYPE_OF(eval(":f")), TYPE_FUNCTION) << "a get-word does not call";
    EXPECT_EQ(eval_mold("f 21"), "42");
    Cell lit = *word::load("zz-lit");
    cell::set_type(&lit, TYPE_LIT_WORD);
    set_global("zz-lw", &lit);
    EXPECT_EQ(TYPE_OF(eval("zz-lw")), TYPE_LIT_WORD) << "a word holding a lit-word gives the lit-word";
    EXPECT_EQ(eval_mold("'a/b"), "a/b");
    EXPECT_EQ(TYPE_OF(eval("'a/b")), TYPE_PATH);
    EXPECT_EQ(eval_mold("#issue"), "#issue");
    EXPECT_EQ(TYPE_OF(eval(":zz-unset-get")), TYPE_UNSET) << "a get-word takes an unset value as it is";
}

TEST_F(Interpreter, EvaluationErrors) {
    struct Case {
        const char* code;
        const char* error;
    } cases[] = {
        {"zz-nothing", "script no-value"},
        {"a:", "script need-value"},
        {"1 a:", "script need-value"},
        {"+ 1 2", "script no-op-arg"},
        {"a/b:", "script need-value"},
        {"#system [x]", "internal zir-system"},
        {"#system-global [x]", "internal zir-system"},
        {"add 1", "script no-arg"},
        {"1 +", "script no-arg"},
        {"add \"a\" 1", "script expect-arg"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_error(c.code), c.error) << c.code;
    Cell op = global("+");
    Cell* code = test::block({&op, int_(1)});
    EXPECT_EQ(error_of([&] {
                  stack::Checkpoint cp;
                  try {
                      interpreter::eval_block(code, false);
                  } catch (...) {
                      cp.restore();
                      throw;
                  }
              }),
              "internal not-done")
        << "an op! value met in the code";
    EXPECT_EQ(eval_mold("#system 1"), "1") << "#system not followed by a block is a value";
}

// A host's step budget stops every shape of endless code with `internal
// limit-hit`, a try inside catching it included (the exponential recursion),
// and leaves the stacks as they were; without a budget the same code runs on.
TEST_F(Interpreter, TheStepBudgetStopsEndlessCode) {
    struct Reset {
        ~Reset() {
            interpreter::set_step_budget(-1);
            interpreter::more_steps = nullptr;
        }
    } reset;
    def("zz-wide", "[]", "[repeat i 3 [try [zz-wide]]]");
    for (const char* c : {"forever []", "while [true] []", "forever [try [forever [1 + 1]]]", "zz-wide none",
                          "forever [parse [a] [(1) skip]]",
                          // a native walking plain values spends a step on each
                          "reduce append/dup copy [] 1 10000"}) {
        interpreter::set_step_budget(5000);
        EXPECT_EQ(eval_error(c), "internal limit-hit") << c;
        EXPECT_EQ(interpreter::steps_left, 0) << c;
    }
    interpreter::set_step_budget(100);
    EXPECT_EQ(eval_mold("repeat i 10 [i]"), "10");
    // A host's hook gives more: twice 100 steps here, then no more.
    static int asked;
    asked = 0;
    interpreter::more_steps = [] {
        if (++asked > 2) return false;
        interpreter::steps_left = 100;
        return true;
    };
    interpreter::set_step_budget(100);
    EXPECT_EQ(eval_error("n: 0 forever [n: n + 1]"), "internal limit-hit");
    interpreter::more_steps = nullptr;
    EXPECT_EQ(asked, 3);
    Cell n = global("n");
    EXPECT_GT(integer::get(&n), 100);
    EXPECT_LT(integer::get(&n), 300);
    interpreter::set_step_budget(-1);
    EXPECT_EQ(eval_mold("n: 0 loop 20000 [n: n + 1] n"), "20000");
}

TEST_F(Interpreter, ErrorTexts) {
    def("zz-two", "[first second]", "[first]");
    struct Case {
        const char* code;
        const char* report;
    } cases[] = {
        {"zz-two 1", "*** Script Error: zz-two is missing its second argument"},
        {"zz-nothing", "*** Script Error: zz-nothing has no value"},
        {"zz-x:", "*** Script Error: zz-x: needs a value"},
        {"add \"a\" 1", "*** Script Error: add does not allow string! for its value1 argument"},
        {"add 1 \"a\"", "*** Script Error: add does not allow string! for its value2 argument"},
        {"+ 1 2", "*** Script Error: + operator is missing an argument"},
    };
    for (const Case& c : cases) {
        std::string r = eval_report(c.code);
        EXPECT_EQ(r.substr(0, r.find('\n')), c.report) << c.code;
    }
}

TEST_F(Interpreter, ErrorsRecordWhereTheyHappened) {
    def("zz-deep", "[x]", "[y: x + 1\nzz-missing + y]");
    Cell e = eval_error_value("1 + 1\nzz-deep 5");
    Cell* err = stack::push(&e);
    EXPECT_EQ(mold(error::field(err, error::FIELD_WHERE)), "zz-deep") << "the call it was raised in";
    EXPECT_EQ(mold(error::field(err, error::FIELD_NEAR), {.flat = true}), "[zz-missing + y]")
        << "the expression being evaluated, from its start";
    EXPECT_EQ(TYPE_OF(error::field(err, error::FIELD_STACK)), TYPE_INTEGER) << "the call-stack position";
    EXPECT_EQ(eval_report("zz-deep 5"), "*** Script Error: zz-missing has no value\n*** Where: zz-deep\n"
                                        "*** Near : zz-missing + y");
    // Raised while an operator fetches its right operand, the error names the
    // operator, whether the interpreter computes it itself or not.
    def("zz-op-arg", "[x]", "[x + zz-missing]");
    Cell f = eval_error_value("zz-op-arg 1");
    EXPECT_EQ(mold(error::field(stack::push(&f), error::FIELD_WHERE)), "+");
    Cell near;
    interpreter::near_position(&near);
    EXPECT_EQ(TYPE_OF(&near), TYPE_NONE) << "the position is given back";
}

TEST_F(Interpreter, SetWordsThroughTheirBinding) {
    Cell* obj = stack::push_slot();
    cell::init(obj, TYPE_UNSET);
    Cell* w = bound_word("zz-field", int_(0));
    Cell* set = stack::push(w);
    cell::set_type(set, TYPE_SET_WORD);
    Cell* code = test::block({set, int_(5)});
    Cell* result = stack::top;
    interpreter::eval_block(code, false);
    EXPECT_EQ(mold(result), "5");
    EXPECT_EQ(mold(context::get(w)), "5");
    (void)obj;
}

TEST_F(Interpreter, EvaluationOfNextAndDoNext) {
    Cell* code = read_block("1 + 2 3 * 4");
    Cell* result = stack::push_slot();
    cell::init(result, TYPE_UNSET);
    Cell* saved = stack::arguments;
    stack::arguments = result;
    i32 p = interpreter::eval_do_next(code);
    EXPECT_EQ(p, 3);
    EXPECT_EQ(mold(result), "3");
    stack::top = result + 1;
    Cell* rest = stack::push(code);
    rest->w1 = u32(p);
    stack::arguments = rest;
    p = interpreter::eval_do_next(rest);
    EXPECT_EQ(p, 6);
    EXPECT_EQ(mold(rest), "12");
    *rest = *code;
    rest->w1 = 6;
    EXPECT_EQ(interpreter::eval_do_next(rest), 6) << "at the tail the head stays";
    EXPECT_EQ(TYPE_OF(rest), TYPE_UNSET);
    stack::arguments = saved;
    stack::top = result;
    Cell* before = stack::top;
    p = interpreter::eval_next(code, 3, 6, true);
    EXPECT_EQ(p, 6);
    EXPECT_EQ(stack::top, before + 1);
    EXPECT_EQ(mold(before), "12");
}

// --- Operators ----------------------------------------------------------------------

TEST_F(Interpreter, FastOperatorsEqualTheActionsAtTheEdges) {
    // The interpreter computes integer and float operators itself while
    // tracing is off; `add` and friends called by name always go through the
    // action. Both must give the same values.
    struct Case {
        const char* infix;
        const char* prefix;
        const char* result;
    } cases[] = {
        {"2147483647 + 1", "add 2147483647 1", "2147483648.0"},
        {"-2147483648 - 1", "subtract -2147483648 1", "-2147483649.0"},
        {"65536 * 65536", "multiply 65536 65536", "4294967296.0"},
        {"-2147483648 * -1", "multiply -2147483648 -1", "2147483648.0"},
        {"2147483647 + 0", "add 2147483647 0", "2147483647"},
        {"-2147483647 - 1", "subtract -2147483647 1", "-2147483648"},
        {"46341 * 46341", "multiply 46341 46341", "2147488281.0"},
        {"46340 * 46340", "multiply 46340 46340", "2147395600"},
        {"0.1 + 0.2", "add 0.1 0.2", "0.30000000000000004"},
        {"1.5 * 2.0", "multiply 1.5 2.0", "3.0"},
        {"12 and 10", "and~ 12 10", "8"},
        {"12 or 3", "or~ 12 3", "15"},
        {"12 xor 10", "xor~ 12 10", "6"},
        {"1 + 2.5", "add 1 2.5", "3.5"},
        {"2.5 - 1", "subtract 2.5 1", "1.5"},
        {"-2147483648 < 2147483647", "lesser? -2147483648 2147483647", "true"},
        {"5 >= 5", "greater-or-equal? 5 5", "true"},
        {"5 <> 5", "not-equal? 5 5", "false"},
        {"5 == 5", "strict-equal? 5 5", "true"},
        {"1 < 1.5", "lesser? 1 1.5", "true"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eval_mold(c.infix), c.result) << c.infix;
        EXPECT_EQ(eval_mold(c.prefix), c.result) << c.prefix;
        // The same operator where a set-word, a condition and an argument
        // take it, and with both operands held by words.
        std::string in = c.infix;
        size_t a = in.find(' '), b = in.rfind(' ');
        std::string left = in.substr(0, a), op = in.substr(a + 1, b - a - 1), right = in.substr(b + 1);
        EXPECT_EQ(eval_mold(("zz-v: " + in + " zz-v").c_str()), c.result) << in;
        EXPECT_EQ(eval_mold(("zz-l: " + left + " zz-r: " + right + " zz-l " + op + " zz-r").c_str()), c.result) << in;
        EXPECT_EQ(eval_mold(("either " + in + " [1] [2]").c_str()), std::string(c.result) == "false" ? "2" : "1") << in;
        EXPECT_EQ(eval_mold(("pick reduce [" + in + "] 1").c_str()), c.result) << in;
    }
    EXPECT_EQ(eval_error("1 + \"a\""), eval_error("add 1 \"a\""));
    EXPECT_EQ(eval_report("1 + \"a\"").substr(0, 60), "*** Script Error: + does not allow string! for its value2 ar");
    EXPECT_EQ(eval_error("1 < \"a\""), "script invalid-compare");
    EXPECT_EQ(eval_mold("1 = \"a\""), "false");
    EXPECT_EQ(eval_mold("1 <> \"a\""), "true");
}

TEST_F(Interpreter, OperatorsMadeFromFunctions) {
    Cell* fn = def("zz-avg", "[a b]", "[a + b / 2]");
    Cell op;
    op::make(&op, fn, TYPE_OP);
    set_global("zz-avg-op", &op);
    EXPECT_EQ(eval_mold("4 zz-avg-op 8"), "6");
    EXPECT_EQ(eval_mold("4 zz-avg-op 8 + 1"), "7") << "operators chain left to right";
    EXPECT_EQ(eval_mold("1 + 1 zz-avg-op 4"), "3");
}

// --- Hostile code ------------------------------------------------------------------

TEST_F(Interpreter, CodeThatClearsItsOwnBlock) {
    // The block being evaluated is cut short by its own code: evaluation stops
    // at its new tail, and the paren being evaluated stays alive.
    Cell* code = read_block("(clear zz-code recycle-me 1 + 2) 4 5");
    set_global("zz-code", code);
    set_global("recycle-me", int_(0));
    Cell* result = stack::top;
    interpreter::eval_block(code, false);
    EXPECT_EQ(mold(result), "3");
    EXPECT_EQ(stack::top, result + 1);
    EXPECT_EQ(block::zs_length_q(code), 0);
}

TEST_F(Interpreter, CodeThatGrowsItsOwnBlock) {
    // Values appended to the running block are not evaluated: the walk stops
    // at the tail it found.
    Cell* code = read_block("append zz-code 99 1");
    set_global("zz-code", code);
    Cell* result = stack::top;
    interpreter::eval_block(code, false);
    EXPECT_EQ(mold(result), "1") << "the appended value is not reached";
    EXPECT_EQ(mold(code), "[append zz-code 99 1 99]");
}

TEST_F(Interpreter, AFunctionThatChangesItsOwnBody) {
    // The body is changed while it runs: the change is seen from the next
    // call on; the running call stops at the body's new tail.
    def("zz-self", "[]", "[clear body-of-self 10 20]");
    Cell fn = global("zz-self");
    Cell body = *function::record_cell(&fn, function::RECORD_BODY);
    set_global("body-of-self", &body);
    EXPECT_EQ(eval_mold("zz-self"), "[]") << "cleared: nothing after the clear runs";
    EXPECT_EQ(TYPE_OF(eval("zz-self")), TYPE_UNSET) << "an empty body gives unset";
    def("zz-grow", "[]", "[append body-of-grow [+ 1] 10]");
    Cell g = global("zz-grow");
    Cell gbody = *function::record_cell(&g, function::RECORD_BODY);
    set_global("body-of-grow", &gbody);
    EXPECT_EQ(eval_mold("zz-grow"), "10");
    EXPECT_EQ(eval_mold("zz-grow"), "11") << "the second call runs the grown body";
}

// A body or a chosen block of one expression that can neither fail nor call
// anything gives its value without a walk; its words and cells are read
// again at every call, and anything else takes the walk with its errors.
TEST_F(Interpreter, OneExpressionBodiesFollowTheirWordsAndCells) {
    def("zz-plus-k", "[x]", "[x + zz-k]");
    struct Case {
        const char* source;
        const char* result;
    } cases[] = {
        {"zz-k: 1 zz-plus-k 1", "2"},
        {"zz-k: func [] [10] zz-plus-k 1", "11"},
        {"zz-k: 2147483647 zz-plus-k 1", "2147483648.0"},
        {"zz-k: 1.5 zz-plus-k 1", "2.5"},
        {"zz-k: 1 either true [zz-k] [0]", "1"},
        {"zz-k: 1 either false [0] [zz-k * 3]", "3"},
        {"zz-k: func [] [7] either true [zz-k] [0]", "7"},
        {"either true [[a b]] [0]", "[a b]"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.source), c.result) << c.source;
    EXPECT_EQ(eval_report("zz-k: \"a\" zz-plus-k 1"),
              "*** Script Error: + does not allow string! for its value2 argument\n*** Where: +\n"
              "*** Near : x + zz-k");
    EXPECT_EQ(eval_report("either true [zz-none-such] [0]"),
              "*** Script Error: zz-none-such has no value\n*** Where: either\n*** Near : zz-none-such");
    // The body changes after calls: grown out of shape, cleared, and back.
    def("zz-one", "[x]", "[x]");
    Cell fn = global("zz-one");
    Cell body = *function::record_cell(&fn, function::RECORD_BODY);
    set_global("body-of-one", &body);
    EXPECT_EQ(eval_mold("zz-one 5"), "5");
    EXPECT_EQ(eval_mold("append body-of-one [+ 100] zz-one 5"), "105");
    EXPECT_EQ(eval_mold("append body-of-one [zz-k: 3] zz-k: 0 zz-one 5 zz-k"), "3");
    EXPECT_EQ(TYPE_OF(eval("clear body-of-one zz-one 5")), TYPE_UNSET);
    EXPECT_EQ(eval_mold("append body-of-one [zz-k - 1] zz-k: 6 zz-one 5"), "5");
}

// `return`, `break` and `continue` alone in a chosen block set their exit
// without opening the block's frames: the same frame receives it, and where
// none can (or the words hold something else) the call is made and raises
// its own error.
TEST_F(Interpreter, ExitsFromAChosenBlockReachTheirFrames) {
    def("zz-early", "[x]", "[if x > 5 [return x * 2] x]");
    def("zz-either-return", "[x]", "[either x [return none] [return 1 + 1]]");
    def("zz-in-loop", "[]", "[repeat i 5 [if i = 2 [return i * 100]] 0]");
    def("zz-in-while", "[x]", "[while [true] [if x > 0 [return x - 1]]]");
    def("zz-breaks", "[]", "[if true [break]]");
    struct Case {
        const char* source;
        const char* result;
    } cases[] = {
        {"reduce [zz-early 3 zz-early 6 zz-early 2147483647]", "[3 12 4294967294.0]"},
        {"reduce [zz-either-return true zz-either-return false]", "[none 2]"},
        {"zz-in-loop", "200"},
        {"zz-in-while 5", "4"},
        {"n: 0 repeat i 10 [if i > 3 [break] n: n + 1] n", "3"},
        {"n: 0 repeat i 10 [if odd? i [continue] n: n + i] n", "30"},
        // break goes through the function to the caller's loop, as the call does
        {"n: 0 repeat i 3 [n: n + 1 zz-breaks] n", "1"},
        {"zz-r: :return zz-f: func [] [if true [zz-r 7] 8] zz-f", "7"},
        {"zz-ret: func [x] [x + 1000] zz-f: func [] [if true [zz-ret 1] 2] zz-f", "2"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.source), c.result) << c.source;
    EXPECT_EQ(eval_mold("zz-e: none repeat i 1 [zz-e: try/all [if true [break]]] zz-e/id"), "break")
        << "a barrier stops it: the error is caught inside the loop";
    EXPECT_EQ(eval_report("if true [return 5]"),
              "*** Throw Error: return or exit not in function\n*** Where: return\n*** Near : return 5");
    EXPECT_EQ(eval_report("if true [break]"), "*** Throw Error: no loop to break\n*** Where: break\n*** Near : break");
    def("zz-bare-return", "[]", "[if true [return]]");
    EXPECT_EQ(eval_report("zz-bare-return"),
              "*** Script Error: return is missing its value argument\n*** Where: return\n*** Near : return");
    def("zz-bad-return", "[x]", "[if true [return x + \"a\"]]");
    EXPECT_EQ(eval_report("zz-bad-return 1"),
              "*** Script Error: + does not allow string! for its value2 argument\n*** Where: +\n"
              "*** Near : return x + \"a\"");
}

// A function of plain arguments and a one-expression body is called without
// its frame: the same values, and the frame's errors where anything fails.
TEST_F(Interpreter, CallsOfPlainFunctionsKeepTheirValuesAndErrors) {
    def("zz-double", "[x]", "[x * 2]");
    def("zz-sum", "[a b]", "[a + b]");
    def("zz-outer", "[a]", "[zz-b: zz-double a zz-sum a zz-b]");
    def("zz-nest", "[a]", "[zz-in: func [x] [x + a] zz-in 1]");
    struct Case {
        const char* source;
        const char* result;
    } cases[] = {
        {"zz-double 3", "6"},
        {"zz-double 2 + 3", "10"},
        {"zz-double 3 + 1", "8"},
        {"(zz-double 3) + 1", "7"},
        {"zz-v: 4 zz-double zz-v", "8"},
        {"zz-double 1.5", "3.0"},
        {"zz-double 2147483647", "4294967294.0"},
        {"zz-double zz-double 3", "12"},
        {"zz-sum 1 2", "3"},
        {"zz-sum zz-sum 1 2 zz-double 5", "13"},
        {"zz-outer 5", "15"},
        {"zz-nest 41", "42"},
        {"reduce [zz-double 1 zz-double 2]", "[2 4]"},
        {"zz-double: func [x] [x - 1] zz-double 3", "2"},
        // locals laid out as the frame lays them out
        {"zz-loc: func [x /local y z] [y] zz-loc 1", "none"},
        {"zz-loc: func [x /local y z] [z] zz-loc 1", "none"},
        {"zz-loc: func [x /local y] [x + 1] zz-loc 3", "4"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.source), c.result) << c.source;
    def("zz-double", "[x]", "[x * 2]");
    EXPECT_EQ(eval_report("zz-double \"a\""),
              "*** Script Error: * does not allow string! for its value1 argument\n*** Where: *\n*** Near : x * 2");
    EXPECT_EQ(eval_report("zz-double zz-none-such"),
              "*** Script Error: zz-none-such has no value\n*** Where: zz-double\n*** Near : zz-double zz-none-such");
    EXPECT_EQ(eval_report("zz-double"),
              "*** Script Error: zz-double is missing its x argument\n*** Where: zz-double\n*** Near : zz-double");
}

TEST_F(Interpreter, ExpressionStartsMoveNear) {
    Cell e = eval_error_value("1 2\n3 zz-none-here 4");
    Cell* err = stack::push(&e);
    EXPECT_EQ(mold(error::field(err, error::FIELD_NEAR)), "[zz-none-here 4]");
}

// Where an error is near once inner walks are over: a loop body's frame
// stays open from one round to the next, a caught error's walks are cut
// back, a paren and a function body are left.
TEST_F(Interpreter, NearIsTheInnermostUserExpressionStillRunning) {
    def("zz-near-fn", "[x]", "[x + 1]");
    struct Case {
        const char* source;
        const char* near;
    };
    const Case cases[] = {
        {"repeat i 3 [if i = 2 [zz-nothing-1 i]]", "[zz-nothing-1 i]"},
        {"repeat i 3 [i] zz-nothing-2 5", "[zz-nothing-2 5]"},
        {"loop 2 [try [zz-caught]] zz-nothing-3", "[zz-nothing-3]"},
        {"(1 + 1) zz-nothing-4 (2)", "[zz-nothing-4 (2)]"},
        {"zz-near-fn 1 zz-nothing-5", "[zz-nothing-5]"},
        {"zz-near-fn zz-nothing-6", "[zz-near-fn zz-nothing-6]"},
        {"while [zz-nothing-7] [1]", "[zz-nothing-7]"},
    };
    for (const Case& c : cases) {
        Cell e = eval_error_value(c.source);
        Cell* err = stack::push(&e);
        EXPECT_EQ(mold(error::field(err, error::FIELD_NEAR), {.flat = true}), c.near) << c.source;
        Cell near;
        interpreter::near_position(&near);
        EXPECT_EQ(TYPE_OF(&near), TYPE_NONE) << c.source << ": nothing runs any more";
    }
}

}  // namespace
}  // namespace zir

// --- The fast paths against the full path -------------------------------------------

namespace zir {
namespace {

// While tracing, the interpreter takes none of its shortcuts (plain operands,
// operators it computes itself, set-words given a plain value, short paths):
// every case is run both ways and must come out the same.
struct FastPaths : EvalTest {
    // What came of evaluating the text: the result, or the error with where
    // it was raised and the depth of the call stack then; and the values of
    // the words zz-r and zz-s after. The block is zz-code while it runs.
    std::string outcome(const char* text, bool traced) {
        set_global("zz-minus", &minus);
        set_global("zz-r", int_(-1));
        set_global("zz-s", int_(-1));
        Cell* code = read_block(text);
        set_global("zz-code", code);
        Cell quiet = global("zz-quiet");
        stack::Checkpoint cp;
        std::string out;
        if (traced) interpreter::start_tracing(&quiet);
        try {
            interpreter::eval_block(code, false);
            out = mold(cp.top);
        } catch (const LanguageError& e) {
            cp.restore();
            Cell* err = stack::push(&e.error);
            out = "error " + mold(error::field(err, error::FIELD_ID)) + " where " +
                  mold(error::field(err, error::FIELD_WHERE)) + " stack " +
                  mold(error::field(err, error::FIELD_STACK));
        }
        if (traced) interpreter::stop_tracing();
        EXPECT_EQ(stack::pending, 0u) << text;
        EXPECT_EQ(stack::call_top, cp.call_top) << text;
        EXPECT_EQ(stack::arguments, cp.arguments) << text;
        stack::top = cp.top;
        return out + " r " + global_mold("zz-r") + " s " + global_mold("zz-s");
    }
    // zz-minus, an operator made from a function, which a case redefines
    // (none! in the tests that do not make it: the cell is stored as a
    // global's value, so it is never left uninitialised).
    Cell minus = none_cell();
    static Cell none_cell() {
        Cell c;
        cell::init(&c, TYPE_NONE);
        return c;
    }
};

// Unbounded recursion stops with stack-overflow wherever the cycle goes
// through (a call's argument, its body, a paren, a native's block), and
// leaves the stacks as they were.
TEST_F(FastPaths, RecursionStopsAtTheStacksLimits) {
    def("zz-arg", "[n]", "[zz-arg zz-arg n]");
    def("zz-body", "[n]", "[zz-body n + 1]");
    def("zz-paren", "[n]", "[1 + (zz-paren n)]");
    def("zz-if", "[n]", "[if true [zz-if n]]");
    for (const char* c : {"zz-arg 1", "zz-body 1", "zz-paren 1", "zz-if 1"}) {
        stack::Checkpoint cp;
        EXPECT_EQ(eval_error(c), "internal stack-overflow") << c;
        EXPECT_EQ(stack::call_top, cp.call_top) << c;
        EXPECT_EQ(stack::arguments, cp.arguments) << c;
        EXPECT_EQ(stack::pending, 0u) << c;
    }
    EXPECT_EQ(eval_mold("zz-fib: func [n] [either n < 2 [n] [(zz-fib n - 1) + (zz-fib n - 2)]] zz-fib 15"), "610");
}

TEST_F(FastPaths, GiveWhatTheFullPathGives) {
    def("zz-quiet", "[event code offset value ref frame]", "[none]");
    def("zz-id", "[x]", "[x]");
    def("zz-ret", "[x]", "[return x * 2 zz-s: 0]");
    def("zz-bad", "[x]", "[x + zz-missing]");
    def("zz-set-s", "[x]", "[zz-s: x]");
    def("zz-add", "[a b]", "[a + b]");
    def("zz-int", "[x [integer!]]", "[x]");
    op::make(&minus, def("zz-sub", "[a b]", "[a - b]"), TYPE_OP);
    def("zz-fib", "[n]", "[either n < 2 [n] [(zz-fib n - 1) + (zz-fib n - 2)]]");
    def("zz-down", "[n]", "[if n > 0 [zz-down n - 1] zz-fail]");
    def("zz-refs", "[a /twice b /local t]", "[t: a * 2 either twice [t + b] [t]]");
    def("zz-locals", "[a /local t u]", "[t: a + 1 u: t * 2 u + t]");
    def("zz-nest", "[x]", "[loop 3 [if x > 1 [while [true] [return x * 10]]] 0]");
    def("zz-exit", "[x]", "[zz-s: x if x > 1 [loop 2 [(exit)]] zz-s: 99]");
    def("zz-trace", "[x]", "[try/keep [zz-id zz-add x zz-missing]]");
    def("zz-lit", "['w :g]", "[reduce [w :g]]");
    def("zz-ret2", "[x]", "[return (return x + 1) 5]");
    const char* cases[] = {
        // Integer and float arithmetic, overflow to float!, mixed operands.
        "zz-s: 3 zz-r: zz-s + 4 * 2 - 1",
        "zz-r: 2147483647 + 1",
        "zz-r: -2147483648 - 1 * 2",
        "zz-r: 65536 * 65536 + 1",
        "zz-r: 46341 * 46341",
        "zz-r: 1.5 * 2 + 1",
        "zz-r: 2 * 1.5 - 0.5",
        "zz-r: 0.1 + 0.2 * 10.0",
        "zz-r: 2147483647 + 0.5 - 1",
        "zz-r: 3 - 0.5 * 2 + -2147483648",
        "zz-r: 1.0e308 * 10 - 1",
        "zz-s: 2 zz-r: 0.25 * zz-s + zz-s - 1.5",
        // Right operands read by short paths: elements, fields, and paths
        // that give no number (past the tail, a function, a block).
        "zz-s: [10 20.5] zz-r: 1 + zz-s/2 * zz-s/1",
        "zz-s: make object! [a: 3 f: does [4]] zz-r: 2 * zz-s/a - zz-s/a",
        "zz-s: [1 2] zz-r: 5 + zz-s/3",
        "zz-s: make object! [a: 3 f: does [4]] zz-r: 2 * zz-s/f",
        "zz-s: [1 [2]] zz-r: 5 + zz-s/2",
        "zz-s: [1 2] zz-r: 5 + zz-s/2 + (poke zz-s 2 7 0) + zz-s/2",
        // Get-words (any value, no call) and function values in the code
        // (called unnamed); natives taking a literal argument.
        "zz-s: 4 zz-r: :zz-s + 1",
        "zz-r: :zz-id",
        "zz-r: :zz-unset-word",
        "zz-r: 1 + :zz-unset-word",
        "zz-r: do reduce [:add 1 2 * 3]",
        "zz-r: do reduce [:add 1]",
        "zz-r: do reduce [:zz-add 1 \"a\"]",
        "zz-r: do reduce [:zz-bad 1]",
        "zz-r: reduce [integer? 5 block? 5 :zz-s]",
        "zz-r: 0 repeat zz-s 3 [zz-r: zz-r + zz-s]",
        "zz-r: 0 repeat (first [zz-s]) 2 [zz-r: zz-r + zz-s]",
        "zz-r: repeat 5 [1]",
        "zz-r: repeat",
        "zz-r: 12 and 10 or 1 xor 3",
        "zz-r: 7 / 2 + 1",
        "zz-r: 8 / 2 * 3 % 5",
        "zz-r: -7 % 3 - 1",
        "zz-r: 7 / 0",
        "zz-r: 7 % 0 + 1",
        "zz-r: -2147483648 / -1",
        "zz-r: -2147483648 % -1",
        "zz-r: 7.5 / 2 + 1",
        "zz-s: 0 zz-r: 1 + 6 / zz-s",
        // Comparisons, and what an operator does with the logic! they leave.
        "zz-r: 1 < 2",
        "zz-r: 1 < 2.5",
        "zz-r: 1.5 < 2",
        "zz-r: 3 = 3 + 1",
        "zz-r: 5 >= 5 = true",
        // Unset words, as the value, as a right operand, after a call.
        "zz-r: zz-unset-word + 1",
        "zz-r: 1 + zz-unset-word",
        "zz-s: 7 zz-s: 5 + zz-unset-word",
        "zz-r: zz-id 1 + zz-unset-word",
        // Words the code rebinds while it runs.
        "zz-r: 0 zz-r: zz-r + 1 + zz-r",
        "zz-r: 1 + (zz-r: 10) * 2",
        "zz-r: 1 + (zz-s: 10) * zz-s",
        "zz-r: 2 + zz-set-s 5 * zz-s",
        // An operator redefined in the middle of the expression.
        "zz-r: 10 zz-minus (zz-minus: :+ 1) zz-minus 5",
        "zz-s: :zz-minus zz-r: 10 zz-s 3 zz-s 2",
        // The block changed while it runs: reads stop at its new tail.
        "zz-r: 1 + (clear zz-code 2) + 3",
        "zz-r: 1 + 2 (clear next zz-code) zz-s: 5",
        "zz-r: 5 (clear zz-code) zz-s: 6",
        // Calls inside the expression: results, exits, errors and where.
        "zz-r: 1 + zz-ret 3",
        "zz-r: 2 + zz-id 3 * 2",
        "zz-r: zz-id 3 * 2 + 1",
        "zz-r: 1 + zz-bad 2",
        "zz-r: zz-bad 2",
        "zz-r: 1 + 2 + zz-bad 3 * 10",
        "zz-r: 0 loop 2 [zz-r: zz-r + 1 zz-s: 1 + (break) zz-r: 99]",
        "zz-r: catch [zz-s: 1 + (throw 5)]",
        "zz-r: 1 zz-r: 1 + add 2 3 * 4",
        // Calls by a word: arguments are whole expressions, checked, counted.
        "zz-r: zz-add 1 2 * 3",
        "zz-r: zz-add 2147483647 1",
        "zz-r: zz-add 1 \"a\"",
        "zz-r: zz-int 1.5",
        "zz-r: zz-int zz-add 1 2",
        "zz-r: zz-id",
        "zz-r: add 1",
        "zz-r: zz-add zz-add 1 2 zz-add 3 4 + 1",
        // Calls of functions: recursion, refinements unused and used,
        // locals, literal arguments, a function given too few arguments.
        "zz-r: zz-fib 12",
        "zz-r: zz-fib 3 + zz-fib 4",
        "zz-r: zz-refs 3",
        "zz-r: zz-refs/twice 3 4",
        "zz-r: zz-refs 3 zz-s: zz-refs/twice 3 zz-refs 1",
        "zz-r: zz-locals 4 zz-s: zz-locals zz-locals 1",
        "zz-r: zz-lit zz-word zz-r",
        "zz-r: zz-add 1",
        "zz-r: zz-add zz-add 1",
        "zz-r: zz-fib",
        "zz-r: zz-id ()",
        "zz-r: zz-add 1 if false [2]",
        "zz-s: func [x [any-type!]] [zz-s: 1] zz-r: zz-s ()",
        "zz-s: func [x [integer! none!]] [x] zz-r: zz-s none zz-r: zz-s 2.5",
        // Errors raised by a body at depth, by an argument, in a paren.
        "zz-r: zz-down 3",
        "zz-r: zz-add zz-down 2 1",
        "zz-r: zz-add 1 (zz-bad 2)",
        "zz-r: (zz-add 1 zz-int \"a\") + 1",
        "zz-r: zz-trace 1",
        // A function that redefines itself, or clears its own body, while
        // it runs.
        "zz-s: func [x] [zz-s: func [y] [y * 100] x + 1] zz-r: zz-s 1 zz-r: zz-r + zz-s 2",
        "zz-s: func [x] [clear reflect :zz-s 'body zz-r: x x + 1] zz-r: zz-s 5 + zz-r zz-s: zz-s 7",
        "zz-s: func [x] [zz-r: zz-s] zz-r: zz-s 1",
        // return and exit from nested blocks, loops and parens.
        "zz-r: zz-nest 2",
        "zz-r: zz-nest 1",
        "zz-r: zz-exit 2",
        "zz-r: zz-exit 1",
        "zz-r: zz-ret2 1",
        "zz-r: 1 + zz-ret 3 + zz-ret 4",
        "zz-r: loop 2 [zz-add 1 (break/return 3)]",
        // A function called from a change handler, and a handler's exit.
        "zz-s: make object! [x: 1 on-change*: func [w o n] [zz-r: zz-add o n]] zz-s/x: 5",
        "zz-s: make object! [x: 1 on-change*: func [w o n] [zz-r: zz-fib n return 3]] zz-s/x: 6 zz-s: zz-s/x",
        "zz-r: loop 2 [zz-s: make object! [x: 1 on-change*: func [w o n] [break/return n]] zz-s/x: 4 9]",
        // Short paths: within the block, beyond it, before it; object fields.
        "zz-s: [10 20 30] zz-r: zz-s/2 + 1",
        "zz-s: [10 20 30] zz-r: zz-s/3 * zz-s/1",
        "zz-s: [10 20 30] zz-r: zz-s/4",
        "zz-s: [10 20 30] zz-r: zz-s/0",
        "zz-s: [10 20 30] zz-r: zz-s/-1",
        "zz-s: [10 20 30] zz-r: next zz-s zz-r: zz-r/2",
        "zz-r: zz-code/1",
        // Short paths whose head word is a function's or an object's own.
        "zz-s: func [b o] [b/2 * o/a + 1] zz-r: zz-s [1 2] make object! [a: 3]",
        "zz-s: func [b] [b/3 + 1] zz-r: zz-s [1 2]",
        "zz-s: make object! [b: [5 6] f: does [b/2 + b/1]] zz-r: zz-s/f",
        // if, unless and either: each way, conditions of every kind, what
        // their arguments may be, errors in the condition, in the block and
        // of the native itself, exits through the block, a block that
        // clears itself, natives made on their slots with other specs.
        "zz-r: if 1 > 2 [3]",
        "zz-r: if 1 < 2 [zz-s: 4 5]",
        "zz-r: reduce [if none [1] if 0 [2] if \"\" [3] unless false [4] unless true [5]]",
        "zz-r: either 1 < 2 [3] [4] zz-s: either none [3] [4]",
        "zz-r: either () [1] [2]",
        "zz-r: if () [1]",
        "zz-r: if zz-unset-word [1]",
        "zz-r: if true zz-s",
        "zz-r: if true [1] + 1",
        "zz-r: either true [1] 2",
        "zz-r: if",
        "zz-r: either true [1]",
        "zz-r: unless zz-add 1 2 [3]",
        "zz-r: if true [zz-bad 1]",
        "zz-r: either 1 > 2 [0] [zz-down 2]",
        "zz-r: loop 3 [if true [break/return 7]]",
        "zz-r: loop 3 [either false [0] [zz-s: 1 + (break/return 8)]]",
        "zz-s: [clear zz-s zz-r: 5] zz-r: if true zz-s",
        "zz-r: if 1 < zz-id 2 [3]",
        "zz-r: either 1 > 2 [3] zz-s",
        "zz-r: 1 + if true [2] * 3",
        "zz-r: 1 + unless true [2]",
        "zz-r: if if true [false] [1]",
        "zz-r: zz-add if 1 = 1 [1] either 2 < 1 [0] [2]",
        "zz-r: if true [clear zz-code 5] zz-s: 6",
        "zz-r: either false [0] [clear next zz-code 5] zz-s: 6",
        "zz-s: :if zz-r: zz-s true [if: :either 5] zz-r: if false [6] [7] if: :zz-s",
        "zz-s: [zz-r: 1 + zz-s/1] zz-r: either false [0] zz-s",
        "zz-s: make native! [[c [logic!] b [block!]] 1] zz-r: zz-s true [5] zz-r: zz-s 1 [6]",
        "zz-s: make native! [[c b [block!] d [block!]] 3] zz-r: zz-s none [1] [2] zz-r: zz-s 1 [3] 4",
        // A native made on a slot replaces the one before it, whose record
        // may be freed meanwhile: the new one's spec block is the one checked.
        ("zz-s: make native! [[c [logic!] b [block!]] 1] zz-r: zz-s true [5] zz-s: none recycle "
         "zz-s: make native! [[c [integer!] b [block!]] 1] zz-r: zz-s 1 [6] zz-r: zz-s true [7]"),
        // A set-word at the end, or given an operator.
        "zz-r:",
        "zz-r: +",
        "zz-r: 1 +",
        "zz-r: 1 + +",
    };
    for (const char* c : cases) {
        std::string fast = outcome(c, false);
        EXPECT_EQ(fast, outcome(c, true)) << c;
    }
}

// return and exit through every kind of level between them and their
// function: catch and try, loops, parens, reduce and do, C++ code calling
// back (a comparator, a change handler), a function within a function, a
// return word the function rebinds, errors in the value given to return.
// Each case is run traced and untraced, and the result is the one given.
TEST_F(FastPaths, ReturnThroughEveryLevel) {
    cell::init(&minus, TYPE_NONE);
    def("zz-quiet", "[event code offset value ref frame]", "[none]");
    def("zz-add", "[a b]", "[a + b]");
    def("zz-gt", "[a b]", "[return a > b zz-s: 0]");
    def("zz-first", "[b]", "[foreach v b [if v > 2 [return v]] 0]");
    const std::pair<const char*, const char*> cases[] = {
        {"zz-s: func [x] [catch [return x * 3] 0] zz-r: zz-s 2",
         "6 r 6 s func [x][catch [return x * 3] 0]"},
        {"zz-s: func [x] [try [return x + 1] 0] zz-r: zz-s 4",
         "5 r 5 s func [x][try [return x + 1] 0]"},
        {"zz-s: func [x] [catch/name [throw/name 1 'a] 'b return x] zz-r: zz-s 4", nullptr},
        {"zz-s: func [x] [zz-add 1 (return x)] zz-r: zz-s 7", nullptr},
        {"zz-s: func [x] [1 + (2 * (return x + 1))] zz-r: zz-s 7",
         "8 r 8 s func [x][1 + (2 * (return x + 1))]"},
        {"zz-r: zz-first [1 2 3 4] zz-s: zz-first [1 2]", "0 r 3 s 0"},
        {"zz-s: func [x] [while [true] [repeat i 3 [if i = x [return i * 10]]]] zz-r: zz-s 2",
         "20 r 20 s func [x][while [true] [repeat i 3 [if i = x [return i * 10]]]]"},
        {"zz-s: func [x] [do [return x] 0] zz-r: zz-s 5", nullptr},
        {"zz-s: func [x] [reduce [1 (return x) 2]] zz-r: zz-s 5",
         "5 r 5 s func [x][reduce [1 (return x) 2]]"},
        {"zz-r: sort/compare [3 1 4 2] :zz-gt", "[4 3 2 1] r [4 3 2 1] s -1"},
        {"zz-s: func [a b] [exit] zz-r: sort/compare [3 1 2] :zz-s", nullptr},
        {"zz-s: make object! [x: 1 on-change*: func [w o n] [zz-r: n return 3]] zz-s/x: 6 zz-s: zz-s/x",
         "6 r 6 s 6"},
        {"zz-s: func [x /local g] [g: func [y] [return y * 2] (g x) + 1] zz-r: zz-s 3",
         "7 r 7 s func [x /local g][g: func [y] [return y * 2] (g x) + 1]"},
        {"zz-s: func [x /local return] [return: func [v] [v * 100] return x] zz-r: zz-s 3",
         "300 r 300 s func [x /local return][return: func [v] [v * 100] return x]"},
        {"zz-s: func [x] [clear reflect :zz-s 'body return x + 1] zz-r: zz-s 5", nullptr},
        {"zz-s: func [] [return ()] zz-r: type? zz-s", nullptr},
        {"zz-s: func [] [return] zz-r: zz-s",
         "error no-arg where return stack 5 r -1 s func [][return]"},
        {"zz-s: func [x] [return x + zz-missing] zz-r: zz-s 1",
         "error no-value where + stack 6 r -1 s func [x][return x + zz-missing]"},
        {"zz-s: func [x] [zz-add 1 return x] zz-r: zz-s 1", nullptr},
        {"zz-r: return 5",
         "error return where return stack 3 r -1 s -1"},
        {"zz-s: func [n] [if n < 2 [return n] (zz-s n - 1) + (zz-s n - 2)] zz-r: zz-s 15",
         "610 r 610 s func [n][if n < 2 [return n] (zz-s n - 1) + (zz-s n - 2)]"},
        {"zz-s: func [x] [loop 2 [return x] 0] zz-r: loop 3 [zz-s 9]",
         "9 r 9 s func [x][loop 2 [return x] 0]"},
    };
    for (const auto& [c, expected] : cases) {
        std::string fast = outcome(c, false);
        EXPECT_EQ(fast, outcome(c, true)) << c;
        if (expected) {
            EXPECT_EQ(fast, expected) << c;
        }
    }
}

// Functions whose body is a type test (`equal? <word> type? :value`, the
// natives put in as values, as the library makes its predicates) are
// answered without walking the body while tracing is off; whatever the word
// holds, whichever natives the body names, whatever the body becomes, the
// outcome must be the walk's.
TEST_F(FastPaths, TypeTestsGiveWhatTheWalkGives) {
    def("zz-quiet", "[event code offset value ref frame]", "[none]");
    eval("zz-type: integer! "
         "zz-int?: func [value [any-type!]] compose [(:equal?) zz-type (:type?) :value] "
         "zz-two?: func [a b] compose [(:equal?) zz-type (:type?) :b] "
         "zz-other?: func [value] compose [(:equal?) zz-type (:type?) :zz-s] "
         "zz-typed-eq: make native! [[a [integer!] b [any-type!]] 25] "
         "zz-strict?: func [value] compose [(:zz-typed-eq) zz-type (:type?) :value] "
         "zz-lit-type: make native! [[:value] 34] zz-quote-type: make native! [['value] 34] "
         "zz-lit?: func [value] compose [(:equal?) zz-type (:zz-lit-type) :value] "
         "zz-narrow?: func [value [integer!]] compose [(:equal?) zz-type (:type?) :value] "
         "zz-local?: func [value /local x] compose [(:equal?) zz-type (:type?) :value] "
         "zz-refine?: func [value /x] compose [(:equal?) zz-type (:type?) :value] "
         // First calls build the argument caches the shortcuts read.
         "zz-two? 1 2 zz-other? 1 zz-narrow? 1 zz-local? 1 zz-refine? 1 type? 1 equal? 1 1 "
         "try [zz-strict? 5] try [zz-lit? 5]");
    const char* cases[] = {
        // Every datatype of argument, the unset one included.
        "zz-r: reduce [zz-int? 5 zz-int? 5.0 zz-int? \"5\" zz-int? none zz-int? [5] zz-int? :zz-int?]",
        "zz-r: zz-int? () zz-s: zz-int? zz-unset-word",
        "zz-r: zz-int? zz-int? 1",
        "zz-r: zz-two? \"a\" 2 zz-s: zz-two? 1 \"b\"",
        // What the word holds: another datatype, not a datatype, nothing, a
        // function (called by the walk).
        "zz-type: string! zz-r: zz-int? \"x\" zz-s: zz-int? 1 zz-type: integer!",
        "zz-type: 5 zz-r: zz-int? 5 zz-type: integer!",
        "zz-type: [integer!] zz-r: zz-int? 5 zz-type: integer!",
        "unset 'zz-type zz-r: zz-int? 5",
        "zz-type: does [zz-s: 7 integer!] zz-r: zz-int? 5",
        "zz-type: does [zz-missing] zz-r: zz-int? 5",
        // The get-word names another word; natives that refuse or take the
        // value otherwise.
        "zz-s: 3 zz-r: zz-other? \"a\"",
        "zz-r: zz-strict? 5",
        "zz-r: zz-lit? 5",
        // The body changed: cleared, grown, its word or native replaced.
        "clear reflect :zz-int? 'body zz-r: zz-int? 5",
        "append reflect :zz-int? 'body [zz-s: 1] zz-r: zz-int? 5",
        "poke reflect :zz-int? 'body 2 'zz-s zz-s: integer! zz-r: zz-int? 5",
        "poke reflect :zz-int? 'body 3 :zz-lit-type zz-r: zz-int? 5",
        "poke reflect :zz-int? 'body 1 :zz-typed-eq zz-r: zz-int? 5",
        // A native made with a shorter spec block than its slot's entry reads:
        // the refinements it lacks are unused ones.
        "zz-s: 5 zz-r: equal? integer! zz-quote-type :zz-s",
        // Arguments that cannot fail (a value written, a word, a short path)
        // and those that can or go on with an operator; an argument the
        // function's spec block refuses; functions with a local or a refinement.
        "zz-s: [1 \"b\"] zz-r: reduce [zz-int? zz-s/1 zz-int? zz-s/2 zz-int? zz-s/3 zz-int? zz-s]",
        "zz-s: make object! [a: 1 f: does [2]] zz-r: reduce [zz-int? zz-s/a zz-int? zz-s/f]",
        "zz-s: 5 zz-r: reduce [zz-int? zz-s = 5 zz-int? 1 + 1 zz-int? zz-s + 0.5]",
        "zz-s: 5 zz-r: zz-int? zz-s zz-s: zz-int? zz-int? zz-s",
        "zz-r: zz-narrow? \"a\"",
        "zz-r: reduce [zz-narrow? 1 zz-local? 1 zz-local? \"a\" zz-refine? 1 zz-refine?/x 1]",
        "zz-r: reduce [zz-int? zz-missing-word]",
        "zz-r: zz-int?",
        // The datatype's word is the function's own argument, read while
        // the function runs an outer call (its body, changed meanwhile,
        // recurses).
        "zz-s: func [value] compose [(:equal?) value (:type?) :value] zz-s 1 zz-s 1 "
        "zz-b: reflect :zz-s 'body zz-c: copy zz-b clear zz-b append zz-b [zz-recur] "
        "zz-recur: does [clear zz-b append zz-b zz-c zz-r: zz-s integer!] zz-s datatype!",
        // Inside a case, as the library's callers use them.
        "zz-r: case [zz-int? \"a\" [1] zz-int? 2 [2]]",
    };
    // The predicates are made again for each case: some change them.
    const char* remake =
        "zz-type: integer! zz-int?: func [value [any-type!]] compose [(:equal?) zz-type (:type?) :value] zz-int? 0";
    for (const char* c : cases) {
        eval(remake);
        std::string fast = outcome(c, false);
        eval(remake);
        EXPECT_EQ(fast, outcome(c, true)) << c;
    }
}

// Library code holds tracing off, and the user code it calls is traced
// again: a type test called from library code sends the events of its
// body's walk, as the same test written with a get-word (always walked).
TEST_F(FastPaths, TypeTestsCalledFromLibraryCodeAreTraced) {
    eval("zz-type: integer! zz-s: 0 "
         "zz-count: func [event code offset value ref frame] [zz-s: zz-s + 1 none] "
         "zz-lib: func [x] [zz-p? x]");
    Cell lib = global("zz-lib");
    node_buffer(function::record_cell(&lib, function::RECORD_BODY)->w2)->flags |= SERIES_LIBRARY;
    i32 events[2];
    for (i32 walked = 0; walked < 2; walked++) {
        eval(walked ? "zz-p?: func [value] compose [(:equal?) :zz-type (:type?) :value] zz-lib 1 zz-lib 1"
                    : "zz-p?: func [value] compose [(:equal?) zz-type (:type?) :value] zz-lib 1 zz-lib 1");
        eval("zz-s: 0");
        Cell tracer = global("zz-count");
        interpreter::start_tracing(&tracer);
        EXPECT_EQ(eval_mold("zz-lib 5"), "true");
        interpreter::stop_tracing();
        events[walked] = integer::get(eval("zz-s"));
    }
    EXPECT_GT(events[0], 0);
    EXPECT_EQ(events[0], events[1]);
}

// Near the stacks' limits the type test is walked, so recursion through it
// stops where the walk stops: as it does through the same test written
// with a get-word (never taken without the walk). Run on a thread with the
// interpreter's own large machine stack, so that the frames and cells are
// what runs out, at the same place every run.
TEST_F(FastPaths, TypeTestsStopAtTheStacksLimitsAsTheWalk) {
    eval("zz-deep: func [n] [either zz-p? n [zz-deep n + 1] [0]] "
         "zz-arg: func [n] [zz-p? zz-arg n] "
         "zz-type: integer!");
    // Each level of the recursions opens several frames: started at
    // different depths, one of them overflows inside the test's own walk.
    struct Run {
        std::vector<std::string> codes;
        std::vector<std::string> seen[2];
    } run;
    for (std::string pad; pad.size() < 8 * 4; pad += "do [") {
        std::string close(pad.size() / 4, ']');
        run.codes.push_back(pad + "zz-deep 1" + close);
        run.codes.push_back(pad + "zz-arg 1" + close);
    }
    StackState before = StackState::now();
    on_big_stack(
        [](void* p) {
            auto* r = static_cast<Run*>(p);
            for (i32 walked = 0; walked < 2; walked++) {
                eval(walked ? "zz-p?: func [value] compose [(:equal?) :zz-type (:type?) :value]"
                            : "zz-p?: func [value] compose [(:equal?) zz-type (:type?) :value]");
                for (const std::string& code : r->codes) {
                    Cell e = eval_error_value(code.c_str());
                    Cell* err = stack::push(&e);
                    r->seen[walked].push_back(mold(error::field(err, error::FIELD_ID)) + " where " +
                                              mold(error::field(err, error::FIELD_WHERE)) + " stack " +
                                              mold(error::field(err, error::FIELD_STACK)));
                    stack::pop(1);
                }
            }
        },
        &run);
    stack::top = before.top;   // the code read on the thread stays pushed
    for (size_t i = 0; i < run.codes.size(); i++) {
        EXPECT_EQ(run.seen[0][i].rfind("stack-overflow", 0), 0u) << run.codes[i] << ": " << run.seen[0][i];
        EXPECT_EQ(run.seen[0][i], run.seen[1][i]) << run.codes[i];
    }
}

}  // namespace
}  // namespace zir
