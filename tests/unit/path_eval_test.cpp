// Path evaluation: selection into blocks and objects, assignment, function
// calls with refinements from the path, the locator form, and the errors.
#include "eval_support.hpp"

#include "datatypes/block.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"

namespace zir {
namespace {

using namespace test;

struct PathEval : EvalTest {
    void SetUp() override {
        EvalTest::SetUp();
        eval("blk: [10 20 [30 40] a 50]");
        eval("o: make object! [a: 1 b: [x y] c: none]");
        stack::top = saved_top;
    }
};

TEST_F(PathEval, Selection) {
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"blk/2", "20"},
        {"blk/(1 + 1)", "20"},
        {"i: 3 blk/:i/2", "40"},
        {"blk/3/1", "30"},
        {"blk/a", "50"},
        {"blk/0", "none"},
        {"blk/9", "none"},
        {"o/a", "1"},
        {"o/b/2", "y"},
        {"o/B/1", "x"},           // letter case does not matter
        {":o/a", "1"},
        {":blk/2", "20"},
        {"o/a + blk/2", "21"},
        {"add blk/1 o/a", "11"},
        {"next blk", "[20 [30 40] a 50]"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
}

TEST_F(PathEval, IntegerSelectionEqualsPickAtEveryIndex) {
    // blk/n is computed by the interpreter itself for indexes inside the
    // block, by block!'s path action otherwise; both answer as pick does.
    for (i32 n = -3; n <= 7; n++) {
        std::string path = "blk/" + std::to_string(n);
        std::string at = "(next next blk)/" + std::to_string(n);
        std::string pick = "pick blk " + std::to_string(n);
        EXPECT_EQ(eval_mold(path.c_str()), eval_mold(pick.c_str())) << n;
    }
    EXPECT_EQ(eval_mold("b2: next next blk b2/1"), "[30 40]") << "from the block's head";
    EXPECT_EQ(eval_mold("b2: next next blk b2/-1"), eval_mold("pick next next blk -1"));
}

TEST_F(PathEval, Assignment) {
    EXPECT_EQ(eval_mold("blk/2: 99"), "99");
    EXPECT_EQ(eval_mold("blk"), "[10 99 [30 40] a 50]");
    EXPECT_EQ(eval_mold("blk/3/1: 0 blk/3"), "[0 40]");
    EXPECT_EQ(eval_mold("i: 1 blk/:i: 7 blk/1"), "7");
    EXPECT_EQ(eval_mold("o/a: o/a + 5 o/a"), "6");
    EXPECT_EQ(eval_mold("o/b/1: 'z o/b"), "[z y]");
    EXPECT_EQ(eval_mold("x: o/c: 3 x"), "3") << "a set-path's value is the value set";
}

TEST_F(PathEval, FunctionsReachedByPaths) {
    def("zz-f", "[a /plus b /neg]", "[if plus [a: a + b] if neg [a: negate a] a]");
    eval("p: make object! [f: :zz-f data: 1]");
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"zz-f/plus 1 2", "3"},
        {"zz-f/plus/neg 1 2", "-3"},
        {"p/f 5", "5"},
        {"p/f/plus 5 1", "6"},
        {"p/f/neg/plus 5 1", "-6"},
        {"p/f/plus 5 1 + 1", "7"},
        {"append/only copy [a] [b]", "[a [b]]"},
        {"b: [] append/dup b 0 3 b", "[0 0 0]"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_mold(c.code), c.result) << c.code;
    EXPECT_EQ(eval_error("zz-f/plus/plus 1 2 3"), "script dup-refine");
    EXPECT_EQ(eval_error("p/f/nope 1"), "script no-refine");
}

TEST_F(PathEval, Errors) {
    def("zz-f", "[a]", "[a]");
    Cell* holder = test::block({test::word("a"), none_()});
    set_global("nb", holder);
    struct Case {
        const char* code;
        const char* report;
    } cases[] = {
        {"1/2", "*** Script Error: path must start with a word: 1/2"},
        {"zz-undef/2", "*** Script Error: zz-undef is unset in path zz-undef/2"},
        {"blk/:zz-undef", "*** Script Error: cannot access :zz-undef in path blk/:zz-undef"},
        {"zz-f/x: 1", "*** Script Error: unsupported type in zz-f/x: set-path"},
        {":zz-f/x", "*** Script Error: unsupported type in :zz-f/x get-path"},
        {"nb/a/b", "*** Script Error: nb/a returned a none! value, so b could not be accessed"},
        {"blk/(zz-undef-value)", "*** Script Error: zz-undef-value has no value"},
        {"o/zz-absent", "*** Script Error: cannot access zz-absent in path o/zz-absent"},
        {"o/zz-absent/1", "*** Script Error: zz-absent is unset in path o/zz-absent/1"},
    };
    for (const Case& c : cases) {
        std::string r = eval_report(c.code);
        EXPECT_EQ(r.substr(0, r.find('\n')), c.report) << c.code;
    }
    EXPECT_EQ(TYPE_OF(eval(":o/zz-absent")), TYPE_UNSET) << "a get-path reaches an absent field as unset";
    Cell* empty = stack::push_slot();
    cell::init(empty, TYPE_UNSET);
    block::make_at(empty, 1);
    cell::set_type(empty, TYPE_PATH);
    Cell* code = test::block({empty});
    stack::Checkpoint cp;
    std::string e = error_of([&] { interpreter::eval_block(code, false); });
    cp.restore();
    EXPECT_EQ(e, "script empty-path");
}

TEST_F(PathEval, ThePathEntryWithoutAPath) {
    Cell* saved = stack::arguments;
    stack::arguments = stack::top;
    none_();
    int_(1);
    const i32 get[1] = {0};
    EXPECT_EQ(error_of([&] { actions::eval_path_star(get); }), "script bad-path-type2");
    stack::arguments = stack::top;
    Cell b = global("blk");
    stack::push(&b);
    int_(2);
    actions::eval_path_star(get);
    EXPECT_EQ(mold(stack::arguments), "20");
    stack::arguments = stack::top;
    stack::push(&b);
    int_(1);
    int_(5);
    const i32 set[1] = {1};
    actions::eval_path_star(set);
    EXPECT_EQ(eval_mold("blk/1"), "5");
    stack::arguments = saved;
}

TEST_F(PathEval, TheLocatorFindsWhereATargetLives) {
    // A word and a paren: counted at once, the head word's value.
    interpreter::Locator loc;
    Cell* p1 = read_block("blk/(1 + 1)/1");
    Cell path = *zir::block::cell_at(p1->w2, 0);
    EXPECT_TRUE(interpreter::eval_path_locator(&path, false, false, &loc));
    EXPECT_EQ(loc.count, 1);
    EXPECT_EQ(loc.kind, 0);
    // A field, then a paren: the walk stops at the paren, the object's field
    // recorded by its index.
    Cell* p2 = read_block("o/b/(1 + 1)");
    Cell path2 = *zir::block::cell_at(p2->w2, 0);
    EXPECT_TRUE(interpreter::eval_path_locator(&path2, false, false, &loc));
    EXPECT_EQ(loc.count, 2);
    EXPECT_EQ(loc.kind, 3);
    Cell o = global("o");
    Cell* b = test::word("b");
    EXPECT_EQ(loc.index, object::find_index(&o, b));
    EXPECT_EQ(mold(loc.value.get()), "[x y]");
    // Resumed with the paren's value on top of the stack, it goes on from there.
    int_(2);
    interpreter::Code none_code = interpreter::code_of(p2);
    Cell* result = stack::top;
    interpreter::eval_path(&path2, none_code, 0, false, false, true, false, &loc);
    EXPECT_EQ(mold(result), "y");
    EXPECT_EQ(loc.count, 0);
    Cell* p3 = read_block("o/a");
    Cell path3 = *zir::block::cell_at(p3->w2, 0);
    EXPECT_FALSE(interpreter::eval_path_locator(&path3, false, false, &loc)) << "no paren: nothing recorded";
}

TEST_F(PathEval, HostilePaths) {
    // A paren in the path clears the very block the path walks into, or the
    // path itself: the walk reads what is there now.
    EXPECT_EQ(eval_mold("blk/(clear blk 1)"), "none");
    eval("blk: [10 20 30]");
    Cell* code = read_block("blk/(clear zz-path-code 2)");
    Cell path = *zir::block::cell_at(code->w2, 0);
    set_global("zz-path-code", &path);
    Cell* result = stack::top;
    interpreter::eval_block(code, false);
    EXPECT_EQ(mold(result), "20");
}

}  // namespace
}  // namespace zir
