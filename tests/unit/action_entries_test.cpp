// The action entry points: the table, the words and specs, the stack
// entries' conversions as the interpreter reaches them, dispatch (the port
// route, the path action's errors) and the fast operators.
#include "eval_support.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/native.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/fast_op.hpp"
#include "evaluator/natives.hpp"
#include "runtime/collector.hpp"
#include "runtime/ownership.hpp"

namespace zir {
namespace {

using namespace test;

struct ActionEntries : EvalTest {};

TEST_F(ActionEntries, EverySlotHasAnEntryAndAWord) {
    for (u32 slot = 1; slot <= ACTION_SLOTS; slot++) {
        if (slot == ACT_RESERVED) {
            EXPECT_EQ(actions::table[slot - 1], nullptr);
            continue;
        }
        EXPECT_NE(actions::table[slot - 1], nullptr) << slot;
    }
    // The words name action! values of their slots, over their specs.
    struct Case {
        const char* word;
        u32 slot;
        const char* spec_start;
    } cases[] = {
        {"make", ACT_MAKE, "[\"Makes"},
        {"append", ACT_APPEND, "[{Inserts a value at a series' tail"},
        {"write", ACT_WRITE, "[\"Writes"},
        {"and~", ACT_AND_T, "[\"Answers"},
        {"length?", ACT_LENGTH_Q, "[{Answers the number"},
    };
    for (const Case& c : cases) {
        Cell v = global(c.word);
        ASSERT_EQ(TYPE_OF(&v), TYPE_ACTION) << c.word;
        EXPECT_EQ(v.w1, c.slot) << c.word;
        Cell spec;
        cell::init(&spec, TYPE_BLOCK);
        spec.w2 = v.w2;
        EXPECT_EQ(mold(&spec).substr(0, std::string(c.spec_start).size()), c.spec_start) << c.word;
    }
    EXPECT_EQ(actions::refinement_count(ACT_FIND), 11);
    EXPECT_EQ(actions::refinement_count(ACT_WRITE), 8);
    EXPECT_EQ(actions::refinement_count(ACT_ADD), 0);
    Cell series_word = global("series!"), integer_word = global("integer!");
    EXPECT_EQ(TYPE_OF(&series_word), TYPE_TYPESET) << "the typesets the specs name";
    EXPECT_EQ(TYPE_OF(&integer_word), TYPE_DATATYPE);
}

TEST_F(ActionEntries, TheStackEntriesConvertTheirArguments) {
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"b: [] append/part b [1 2 3] 2 b", "[1 2]"},
        {"b: [x] append/part b [1 2 3] 0 b", "[x]"},
        {"b: [x] append/dup b 0 0 b", "[x]"},
        {"b: [x] append/dup b 0 3 b", "[x 0 0 0]"},
        {"b: [x] append/only b [1 2] b", "[x [1 2]]"},
        {"append [a] 'b", "[a b]"},
        {"b: [x y] insert b 1", "[x y]"},
        {"b: [x y] insert b 1 b", "[1 x y]"},
        {"b: [x y] insert/part b [1 2 3] 2 b", "[1 2 x y]"},
        {"b: [a b c] change/part b [1] 2 b", "[1 c]"},
        {"b: [a b c] change b 9", "[b c]"},
        {"length? [a b c]", "3"},
        {"length? none", "none"},
        {"pick [a b c] true", "a"},
        {"pick [a b c] false", "b"},
        {"pick [a b c] 3", "c"},
        {"b: [a b c] poke b 2 'x", "x"},
        {"b: [a b c] poke b 2 'x b", "[a x c]"},
        {"mold/part [a b c] 3", "\"[a \""},
        {"mold/part [a b c] 0", "\"\""},
        {"mold/only [1 2]", "\"1 2\""},
        {"form [1 [2]]", "\"1 2\""},
        {"form/part \"abcdef\" 2", "\"ab\""},
        {"find [a b c b] 'b", "[b c b]"},
        {"find/last [a b c b] 'b", "[b]"},
        {"find/tail [a b c] 'b", "[c]"},
        {"find/skip [a b b a] 'a 2", "[a b b a]"},
        {"select [a 1 b 2] 'b", "2"},
        {"b: [1 2 3 4] take/last b", "4"},
        {"b: [1 2 3 4] take/part b 2", "[1 2]"},
        {"b: [3 1 2] sort b", "[1 2 3]"},
        {"sort/reverse [3 1 2]", "[3 2 1]"},
        {"b: [1 2 3] remove/part b 2 b", "[3]"},
        {"reverse [1 2 3]", "[3 2 1]"},
        {"b: [1 2] c: [3 4] swap b c b", "[3 2]"},
        {"head? next [1 2]", "false"},
        {"tail? tail [1 2]", "true"},
        {"index? skip [1 2 3] 2", "3"},
        {"back tail [1 2]", "[2]"},
        {"at [1 2 3] 2", "[2 3]"},
        {"head next [1 2]", "[1 2]"},
        {"clear next [1 2 3]", "[]"},
        {"copy/part [1 2 3] 2", "[1 2]"},
        {"copy/deep [[1]]", "[[1]]"},
        {"even? 4", "true"},
        {"odd? 4", "false"},
        {"negate 5", "-5"},
        {"absolute -3", "3"},
        {"power 2 10", "1024"},
        {"remainder 7 3", "1"},
        {"divide 7 2", "3.5"},
        {"round/to 7 5", "5"},
        {"round/floor 2.5", "2.0"},
        {"complement 0", "-1"},
        {"to integer! \"12\"", "12"},
        {"make integer! 3.7", "3"},
        {"b: [a 1] put b 'a 2 b", "[a 2]"},
        {"trim/head \"  x \"", "\"x \""},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
    EXPECT_EQ(eval_error("copy/types [1] 5"), "script expect-arg");
    EXPECT_EQ(eval_error("append/part 1 [2] 1"), "script expect-arg") << "the spec checks the series";
    EXPECT_EQ(eval_error("add [1] 2"), "script expect-arg");
    EXPECT_EQ(eval_error("reflect [a] 5"), "script expect-arg");
}

TEST_F(ActionEntries, DispatchOnTheDatatypeAMakeOrToNames) {
    // make and to on a datatype! dispatch on the datatype it denotes.
    Cell* type = datatype_(TYPE_INTEGER);
    Cell* spec = str("42");
    Cell* r = actions::to(type, spec);
    EXPECT_EQ(mold(r), "42");
    Cell* example = int_(0);
    Cell* spec2 = test::float_(2.5);
    EXPECT_EQ(mold(actions::make(example, spec2)), "2") << "an example value dispatches on its own datatype";
}

// One value appended to a block without refinements is stored by the entry
// itself: it must leave what the datatype's action (reached here by a /dup
// of 1) leaves, whatever the block and the value.
TEST_F(ActionEntries, AppendingOneValueEqualsTheAction) {
    const char* setups[] = {
        "zz-b: copy []",
        "zz-b: make block! 0",
        "zz-b: next [1 2]",
        "zz-b: at zz-c: copy [1 2 3] 3 clear zz-c",
        "zz-b: copy/part [1 2 3 4] 4",
        "zz-b: make hash! [1 2]",
        "zz-b: to paren! [1]",
    };
    const char* values[] = {"5", "\"s\"", "[6 7]", "pick [(8)] 1", "'a/b", "none", "zz-b"};
    for (const char* setup : setups) {
        for (const char* value : values) {
            std::string both[2];
            for (i32 general = 0; general < 2; general++) {
                eval(setup);
                std::string code = std::string(general ? "reduce [append/dup zz-b " : "reduce [append zz-b ") +
                                   value + (general ? " 1 zz-b]" : " zz-b]");
                both[general] = eval_mold(code.c_str());
            }
            EXPECT_EQ(both[0], both[1]) << setup << " / " << value;
        }
    }
    // A block an object owns reports the change, room or no room.
    std::vector<std::string> seen;
    static std::vector<std::string>* reports;
    reports = &seen;
    ownership::on_deep_change = [](const Cell*, const Cell*, const Cell*, i32 word, const Cell*, i32 index,
                                   i32 part) {
        reports->push_back(std::string(symbol::spelling(word)) + " " + std::to_string(index) + " " +
                           std::to_string(part));
    };
    Cell* b = eval("make block! 8");
    collector::RootCell owner;
    own(b, owner.get());
    set_global("zz-b", b);
    EXPECT_EQ(eval_mold("append zz-b 1 append zz-b 2"), "[1 2]");
    EXPECT_EQ(seen, (std::vector<std::string>{"append 0 1", "appended 0 1", "append 1 1", "appended 1 1"}));
    restore_hooks();
    ownership::unbind(*b);
}

TEST_F(ActionEntries, MissingActionsNameTheCall) {
    std::string r = eval_report("add \"a\" 1");
    EXPECT_EQ(r.substr(0, r.find('\n')), "*** Script Error: add does not allow string! for its value1 argument");
    // The datatype's row lacks it: the dispatch itself refuses.
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    zir::block::make_at(b, 1);
    EXPECT_EQ(error_of([&] { actions::get_action_of(b, ACT_ADD); }), "script expect-arg");
}

action::Generic fake_entry(const Cell* port, u32 slot) {
    if (TYPE_OF(port) != TYPE_PORT) return nullptr;
    return slot == ACT_APPEND ? reinterpret_cast<action::Generic>(&fake_entry) : nullptr;
}

TEST_F(ActionEntries, PortsWithAHandleActorTakeTheirOwnEntries) {
    auto saved = actions::port_actor_entry;
    actions::port_actor_entry = fake_entry;
    Cell port;
    cell::init(&port, TYPE_PORT);
    EXPECT_EQ(actions::get_action(TYPE_PORT, &port, ACT_APPEND), reinterpret_cast<action::Generic>(&fake_entry));
    // Slots below append always use the datatype's own row.
    EXPECT_EQ(error_of([&] { actions::get_action(TYPE_PORT, &port, ACT_ADD); }), "script expect-arg");
    actions::port_actor_entry = saved;
}

TEST_F(ActionEntries, ThePathActionsErrors) {
    Cell* path = read_block("a/b/c");
    Cell p = *zir::block::cell_at(path->w2, 0);
    Cell* none = none_();
    Cell* sel = test::word("c");
    LanguageError e = raised([&] { actions::get_action_checked(none, ACT_EVAL_PATH, &p, sel, 1); });
    EXPECT_EQ(std::string(e.id), "bad-path-type");
    EXPECT_EQ(mold(&e.args[2]), "a/b") << "the path that produced the value";
    LanguageError f = raised([&] { actions::get_action_checked(none, ACT_EVAL_PATH, nullptr, sel, 0); });
    EXPECT_EQ(std::string(f.id), "bad-path-type2");
}

TEST_F(ActionEntries, ComparisonsOfFunctionValues) {
    EXPECT_EQ(eval_mold(":add = :add"), "true");
    EXPECT_EQ(eval_mold(":add = :subtract"), "false");
    EXPECT_EQ(eval_mold(":loop = :loop"), "true");
    EXPECT_EQ(eval_mold(":loop = :if"), "false");
    EXPECT_EQ(eval_error(":add < :subtract"), "script invalid-compare");
    def("zz-f", "[]", "[]");
    EXPECT_EQ(eval_mold(":zz-f = :zz-f"), "true");
}

// --- Fast operators ------------------------------------------------------------------

TEST_F(ActionEntries, FastOperatorsEqualTheActions) {
    Cell* name = stack::push(word::load("+"));
    struct Case {
        i32 op;
        Cell a, b;
    };
    auto I = [](i32 v) { Cell c; integer::make_at(&c, v); return c; };
    auto F = [](double v) { Cell c; cell::init(&c, TYPE_FLOAT); cell::set_float(&c, v); return c; };
    std::vector<Case> cases = {
        {MATH_ADD, I(2147483647), I(1)},      {MATH_SUBTRACT, I(-2147483647 - 1), I(1)},
        {MATH_MULTIPLY, I(65536), I(65536)},  {MATH_MULTIPLY, I(-2147483647 - 1), I(-1)},
        {MATH_ADD, I(-5), I(3)},              {MATH_AND, I(12), I(10)},
        {MATH_OR, I(12), I(3)},               {MATH_XOR, I(-1), I(5)},
        {MATH_ADD, F(0.1), F(0.2)},           {MATH_MULTIPLY, F(1e308), F(10)},
        {MATH_ADD, I(1), F(0.5)},             {MATH_SUBTRACT, F(0.5), I(1)},
    };
    const u32 slots[8] = {ACT_ADD, ACT_SUBTRACT, ACT_MULTIPLY, 0, 0, ACT_OR_T, ACT_AND_T, ACT_XOR_T};
    for (const Case& c : cases) {
        Cell* fast = stack::top;
        fast_op::math(c.op, name, &c.a, &c.b);
        EXPECT_EQ(stack::top, fast + 1);
        // The action through its stack entry.
        Cell* args = stack::push(&c.a);
        stack::push(&c.b);
        Cell* saved = stack::arguments;
        stack::arguments = args;
        actions::call_star(slots[c.op]);
        stack::arguments = saved;
        EXPECT_EQ(mold(fast), mold(args)) << mold(&c.a) << " op " << c.op << " " << mold(&c.b);
        EXPECT_EQ(TYPE_OF(fast), TYPE_OF(args));
        stack::top = fast;
    }
    Cell* base = stack::top;
    Cell three = I(3);
    fast_op::math_int(MATH_ADD, name, &three, 4);
    EXPECT_EQ(mold(base), "7");
    fast_op::math_top_int(MATH_MULTIPLY, name, 2147483647);
    EXPECT_EQ(mold(base), "15032385529.0");
    EXPECT_EQ(stack::top, base + 1);
    stack::top = base;
    Cell s = *str("a");
    stack::Checkpoint cp;
    EXPECT_EQ(error_of([&] { fast_op::math_int(MATH_ADD, name, &s, 1); }), "script expect-arg");
    cp.restore();   // the slow path's frame is left for the catcher
}

TEST_F(ActionEntries, FastComparisons) {
    Cell* name = stack::push(word::load("<"));
    Cell* base = stack::top;
    Cell a, b;
    integer::make_at(&a, -2147483647 - 1);
    integer::make_at(&b, 2147483647);
    fast_op::compare(COMP_LESSER, name, &a, &b);
    EXPECT_EQ(mold(base), "true");
    fast_op::compare_int(COMP_GREATER_EQUAL, name, &a, -2147483647 - 1);
    EXPECT_EQ(mold(base + 1), "true");
    EXPECT_FALSE(fast_op::compare_test(COMP_EQUAL, name, &a, &a, true));
    EXPECT_TRUE(fast_op::compare_int_test(COMP_NOT_EQUAL, name, &a, 5, false));
    EXPECT_EQ(stack::top, base + 2) << "the tests leave nothing";
    Cell f;
    cell::init(&f, TYPE_FLOAT);
    cell::set_float(&f, 1.5);
    fast_op::compare(COMP_LESSER, name, &a, &f);
    EXPECT_EQ(mold(base + 2), "true") << "through the comparison";
    Cell* saved = stack::arguments;
    stack::arguments = stack::top;
    int_(0);
    EXPECT_TRUE(fast_op::compare_int_flag(COMP_LESSER_EQUAL, name, &b, 2147483647));
    EXPECT_EQ(mold(stack::arguments), "true");
    stack::arguments = saved;
}

TEST(FastOp, IntegerComparisonsForEveryOperationAndOrder) {
    const i32 values[] = {-2147483647 - 1, -1, 0, 1, 2147483647};
    for (i32 a : values) {
        for (i32 b : values) {
            const bool expected[7] = {a == b, a != b, a == b, a < b, a <= b, a > b, a >= b};
            for (i32 op = 0; op < 7; op++)
                EXPECT_EQ(fast_op::compare_integers(a, b, op), expected[op]) << a << " op " << op << " " << b;
            EXPECT_EQ(fast_op::compare_integers(a, b, COMP_SAME), a == b) << "others test equality";
        }
    }
}

TEST_F(ActionEntries, FastSelectionAndNavigation) {
    Cell* name = stack::push(word::load("blk"));
    Cell* b = read_block("a b c");
    Cell* base = stack::top;
    for (i32 n : {-1, 0, 1, 3, 4}) {
        fast_op::path_int(b, n, name);
        std::string expected = n >= 1 && n <= 3 ? std::string(1, char('a' + n - 1)) : "none";
        EXPECT_EQ(mold(stack::top - 1), expected) << n;
    }
    stack::top = base;
    Cell* at_tail = stack::push(b);
    at_tail->w1 = 3;
    struct Case {
        const Cell* series;
        i32 op;
        const char* result;
    } cases[] = {
        {b, fast_op::SERIES_LENGTH_Q, "3"},       {at_tail, fast_op::SERIES_LENGTH_Q, "0"},
        {b, fast_op::SERIES_INDEX_Q, "1"},        {at_tail, fast_op::SERIES_TAIL_Q, "true"},
        {b, fast_op::SERIES_HEAD_Q, "true"},      {at_tail, fast_op::SERIES_NEXT, "[]"},
        {b, fast_op::SERIES_BACK, "[a b c]"},     {at_tail, fast_op::SERIES_BACK, "[c]"},
        {at_tail, fast_op::SERIES_HEAD, "[a b c]"}, {b, fast_op::SERIES_TAIL, "[]"},
    };
    for (const Case& c : cases) {
        Cell* out = stack::top;
        fast_op::series_op(c.series, c.op, name);
        EXPECT_EQ(mold(out), c.result) << c.op;
        // The same through the action.
        stack::top = out;
        const u32 slots[] = {0, ACT_LENGTH_Q, ACT_INDEX_Q, ACT_HEAD_Q, ACT_TAIL_Q, ACT_NEXT, ACT_BACK, ACT_HEAD, ACT_TAIL};
        Cell* args = stack::push(c.series);
        Cell* saved = stack::arguments;
        stack::arguments = args;
        actions::call_star(slots[c.op]);
        stack::arguments = saved;
        EXPECT_EQ(mold(args), c.result) << "action " << c.op;
        stack::top = out;
    }
    Cell* s = str("abc");
    fast_op::path_int(s, 2, name);
    EXPECT_EQ(mold(stack::top - 1), "#\"b\"") << "other datatypes through their path action";
    fast_op::series_op(s, fast_op::SERIES_LENGTH_Q, name);
    EXPECT_EQ(mold(stack::top - 1), "3");
}

}  // namespace
}  // namespace zir
