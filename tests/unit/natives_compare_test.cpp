// The comparison and predicate natives: the seven comparisons across
// datatypes (and agreeing with the infix operators' fast path), same?, not,
// type?, complement?, negative?, positive? and sign?, called from code and
// from C++ with the type check asked for.
#include "datatypes/logic.hpp"
#include "eval_support.hpp"
#include "evaluator/natives.hpp"

namespace zir {
namespace {

using namespace test;

struct CompareNatives : EvalTest {};

struct Case {
    const char* code;
    const char* expected;   // the mold of the result
};

void check_table(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; i++) {
        std::string error = eval_error(cases[i].code);
        if (!error.empty()) {
            ADD_FAILURE() << cases[i].code << ": " << error;
            continue;
        }
        EXPECT_EQ(eval_mold(cases[i].code), cases[i].expected) << cases[i].code;
    }
}

TEST_F(CompareNatives, ComparisonsAcrossDatatypes) {
    const Case cases[] = {
        {"equal? 1 1", "true"},
        {"equal? 1 1.0", "true"},
        {"strict-equal? 1 1.0", "false"},
        {"equal? \"abc\" \"ABC\"", "true"},
        {"strict-equal? \"abc\" \"ABC\"", "false"},
        {"not-equal? \"abc\" \"abd\"", "true"},
        {"equal? [1 [2]] [1 [2]]", "true"},
        {"equal? 'a 'A", "true"},
        {"strict-equal? 'a 'A", "false"},
        {"equal? none none", "true"},
        {"equal? 1 \"1\"", "false"},
        {"not-equal? 1 \"1\"", "true"},
        {"equal? 1x2 1x2", "true"},
        {"equal? 1.2.3 1.2.3", "true"},
        {"lesser? 1 2", "true"},
        {"lesser? 2 1", "false"},
        {"greater? 2.5 2", "true"},
        {"lesser-or-equal? 2 2.0", "true"},
        {"greater-or-equal? 1 2", "false"},
        {"lesser? \"abc\" \"abd\"", "true"},
        {"greater? #\"b\" #\"a\"", "true"},
        {"lesser? 1:00 2:00", "true"},
        {"lesser? $1 $2", "true"},
        {"greater? 1.2.4 1.2.3", "true"},
        {"lesser-or-equal? 10% 10%", "true"},
        // Integers and datatypes are answered before the dispatch: the same
        // answers at the edges.
        {"lesser? -2147483648 2147483647", "true"},
        {"greater-or-equal? -1 -1", "true"},
        {"strict-equal? 7 7", "true"},
        {"not-equal? 7 8", "true"},
        {"equal? integer! integer!", "true"},
        {"equal? integer! float!", "false"},
        {"not-equal? integer! float!", "true"},
        {"strict-equal? block! block!", "true"},
        {"equal? integer! 1", "false"},
        {"not-equal? integer! \"integer!\"", "true"},
        {"same? integer! integer!", "true"},
    };
    check_table(cases, std::size(cases));
}

// Ordering values that have no order between them is an error; asking
// whether they are equal is not.
TEST_F(CompareNatives, OrderingUnlikeValuesRaisesInvalidCompare) {
    for (const char* code : {"lesser? 1 \"a\"", "lesser-or-equal? none none",
                             "greater-or-equal? 1x1 1", "lesser? 'a 2", "lesser? integer! float!"}) {
        EXPECT_EQ(eval_error(code), "script invalid-compare") << code;
    }
    EXPECT_EQ(eval_report("lesser? 1 \"a\""),
              "*** Script Error: cannot compare 1 with \"a\"\n*** Where: lesser?\n*** Near : lesser? 1 \"a\"");
    EXPECT_EQ(eval_mold("equal? [1] 1"), "false");
}

// The interpreter does `<` and friends inline for integers and calls the
// native otherwise: both ways must agree with the prefix native.
TEST_F(CompareNatives, OperatorsAndNativesAgree) {
    const char* pairs[][2] = {{"1", "2"}, {"2", "1"}, {"3", "3"}, {"1", "1.0"}, {"1.5", "1"}, {"-1", "0"}};
    const char* ops[][2] = {{"=", "equal?"},   {"<>", "not-equal?"}, {"==", "strict-equal?"},
                            {"<", "lesser?"},  {">", "greater?"},    {"<=", "lesser-or-equal?"},
                            {">=", "greater-or-equal?"}};
    for (auto& p : pairs) {
        for (auto& o : ops) {
            std::string infix = std::string(p[0]) + " " + o[0] + " " + p[1];
            std::string prefix = std::string(o[1]) + " " + p[0] + " " + p[1];
            EXPECT_EQ(eval_mold(infix.c_str()), eval_mold(prefix.c_str())) << infix;
        }
    }
    EXPECT_EQ(eval_error("1 < \"a\""), "script invalid-compare");
}

TEST_F(CompareNatives, SameIsIdentity) {
    const Case cases[] = {
        {"same? \"a\" \"a\"", "false"},
        {"s: \"a\" same? s s", "true"},
        {"s: \"abc\" same? next s next s", "true"},
        {"s: \"abc\" same? s next s", "false"},
        {"b: [1 2] same? b b", "true"},
        {"same? [1 2] [1 2]", "false"},
        {"b: [1 2] same? b copy b", "false"},
        {"same? 1.0 1.0", "true"},
        {"same? 0.0 -0.0", "false"},
        {"same? 1 1", "true"},
        {"same? 1 1.0", "false"},
        {"same? #\"a\" #\"a\"", "true"},
        {"same? #\"a\" #\"A\"", "false"},
        {"same? none none", "true"},
        {"same? () ()", "true"},
        {"same? true true", "true"},
        {"same? true false", "false"},
        {"same? 1x2 1x2", "true"},
        {"same? 1:00 1:00", "true"},
        {"same? 1.2.3 1.2.3", "true"},
        {"same? 1.2.3 1.2.3.0", "false"},
        {"same? $1 $1", "true"},
        {"same? $1 $2", "false"},
        {"same? 10% 10%", "true"},
        {"same? integer! integer!", "true"},
        {"same? integer! float!", "false"},
        {"same? 'a 'a", "true"},
        {"same? 'a 'b", "false"},
        {"same? :add :add", "true"},
        {"same? :add :subtract", "false"},
        {"b: make bitset! \"a\" same? b b", "true"},
        {"same? make bitset! \"a\" make bitset! \"a\"", "false"},
    };
    check_table(cases, std::size(cases));
}

TEST_F(CompareNatives, NotTypeAndComplement) {
    const Case cases[] = {
        {"not none", "true"},
        {"not false", "true"},
        {"not true", "false"},
        {"not 0", "false"},
        {"not ()", "false"},
        {"not \"\"", "false"},
        {"type? 1", "integer!"},
        {"type? \"a\"", "string!"},
        {"type? none", "none!"},
        {"type? ()", "unset!"},
        {"type? integer!", "datatype!"},
        {"type?/word 1", "integer!"},
        {"type? type?/word 1", "word!"},
        {"type?/word [1]", "block!"},
        {"complement? make bitset! \"a\"", "false"},
        {"complement? complement make bitset! \"a\"", "true"},
    };
    check_table(cases, std::size(cases));
    EXPECT_EQ(eval_mold("w: type?/word 1 w = 'integer!"), "true");
}

TEST_F(CompareNatives, Signs) {
    const Case cases[] = {
        {"sign? -2", "-1"},
        {"sign? 0", "0"},
        {"sign? 7", "1"},
        {"sign? -0.5", "-1"},
        {"sign? 0.0", "0"},
        {"sign? -0.0", "0"},
        {"sign? 0:00", "0"},
        {"sign? -1:00", "-1"},
        {"sign? 1:30", "1"},
        {"sign? -$2", "-1"},
        {"sign? $0", "0"},
        {"sign? $3.5", "1"},
        {"sign? -5%", "-1"},
        {"negative? -0.0", "false"},
        {"positive? -0.0", "false"},
        {"negative? -1", "true"},
        {"negative? 0", "false"},
        {"positive? 0", "false"},
        {"positive? 1", "true"},
        {"negative? -$1", "true"},
        {"positive? $0", "false"},
        {"negative? -0:01", "true"},
        {"positive? 0:00:01", "true"},
        {"negative? -2147483648", "true"},
        {"sign? -2147483648", "-1"},
    };
    check_table(cases, std::size(cases));
    for (const char* code : {"sign? \"1\"", "negative? none", "positive? 1x1"}) {
        EXPECT_EQ(eval_error(code), "script expect-arg") << code;
    }
}

// A C++ caller (check 0) with a value the spec refuses still gets the error,
// naming the argument; with check 1 the error comes from the check.
TEST_F(CompareNatives, RefusedValuesFromCxxCallers) {
    using natives::Entry;
    auto call = [](i32 slot, i32 check, std::initializer_list<Cell> args, const i32* refinements) {
        stack::Checkpoint checkpoint;
        stack::mark_native(u32(stack::body_symbol));
        for (const Cell& a : args) stack::push(&a);
        std::string error;
        try {
            reinterpret_cast<Entry>(natives::table[slot - 1])(check, refinements);
        } catch (const LanguageError& e) {
            error = std::string(category_name(e.category)) + " " + e.id;
        }
        Cell result = *stack::arguments;
        checkpoint.restore();
        return std::make_pair(error, result);
    };
    Cell text = *test::str("x");
    const i32 none_[1] = {-1};
    for (i32 slot : {46, 49, 50, 97}) {
        for (i32 check : {0, 1}) {
            EXPECT_EQ(call(slot, check, {text}, none_).first, "script expect-arg") << slot << " " << check;
        }
    }
    Cell one;
    cell::init(&one, TYPE_INTEGER);
    one.w2 = u32(-3);
    auto [error, result] = call(97, 1, {one}, none_);
    EXPECT_EQ(error, "");
    EXPECT_EQ(mold(&result), "-1");
    const i32 word_[1] = {1};
    auto [error2, result2] = call(34, 1, {one}, word_);
    EXPECT_EQ(error2, "");
    EXPECT_EQ(mold(&result2), "integer!");
    EXPECT_EQ(TYPE_OF(&result2), TYPE_WORD);
}

}  // namespace
}  // namespace zir
