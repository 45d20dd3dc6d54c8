// function! and routine!: spec validation, the words `function` makes local,
// local counts, construction and its record, reflection, text, comparison,
// and operators made from functions.
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/function.hpp"
#include "datatypes/native.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "runtime/collector.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Functions : ValueTest {
    void SetUp() override {
        ValueTest::SetUp();
        // Type words stand for their datatypes, as start-up will make them.
        for (u32 t : {TYPE_INTEGER, TYPE_STRING, TYPE_BLOCK, TYPE_NONE})
            context::set(stack::push(word::load(datatype::name_of(t))), datatype_(t));
        context::set(stack::push(word::load("zz-numbers")), typeset_({TYPE_INTEGER, TYPE_FLOAT}));
        context::set(stack::push(word::load("zz-not-a-type")), int_(1));
    }
    // A function from a spec and a body read from text; pushed.
    static Cell* func(const char* spec, const char* body) {
        Cell* s = read_block(spec);
        Cell* b = body ? read_block(body) : nullptr;
        function::push(s, b, 0, 0, 0, function::validate(s));
        return stack::top - 1;
    }
    static Cell* reflect(const Cell* value, const char* field) {
        Cell* v = stack::push(value);
        return actions::get<action::Reflect>(v, ACT_REFLECT)(v, symbol::make(field));
    }
    // A copy of a record cell, on the stack.
    static Cell* record(const Cell* fn, i32 i) { return stack::push(function::record_cell(fn, i)); }
};

// --- Validation -----------------------------------------------------------------

TEST_F(Functions, SpecValidation) {
    struct Case {
        const char* spec;
        const char* error;   // "" when accepted
        u32 flags;
    } cases[] = {
        {"a b", "", 0},
        {"\"doc\" a [integer!] \"arg doc\" b [string! block!]", "", 0},
        {"a [integer!] \"doc after the type block\"", "", 0},
        {"a [zz-numbers]", "", 0},
        {"'a :b /ref c /local d e", "", 0},
        {"a return: [integer!]", "", 0},
        {"a return: [integer!] \"doc\"", "", 0},
        {"a return: [integer!] /local b", "", 0},
        {"[trace] a", "", function::TRACE},
        {"[no-trace catch] a", "", function::NO_TRACE},
        {"[\"doc\"] a", "script bad-func-def", 0},
        {"a \"doc\" [integer!]", "script bad-func-def", 0},
        {"a /local b /ref", "script bad-func-def", 0},
        {"a /local 'b", "script bad-func-def", 0},
        {"a /local :b", "script bad-func-def", 0},
        {"a return: [integer!] b", "script bad-func-def", 0},
        {"a return: [integer!] /ref", "script bad-func-def", 0},
        {"a return: [integer!] return: [integer!]", "script bad-func-def", 0},
        {"a /local b return: [integer!]", "script bad-func-def", 0},
        {"a return: b", "script bad-func-def", 0},
        {"a return: [integer!] [block!]", "script bad-func-def", 0},
        {"a result: [integer!]", "script bad-func-def", 0},
        {"/ref [integer!]", "script bad-func-def", 0},
        {"a 1", "script bad-func-def", 0},
        {"a [1]", "script invalid-type-spec", 0},
        {"a [zz-not-a-type]", "script invalid-type-spec", 0},
        {"a [zz-unset-word]", "script no-value", 0},
        {"a b a", "script dup-vars", 0},
        {"a 'A", "script dup-vars", 0},
        {"a /a", "script dup-vars", 0},
        {"a /local b b", "script dup-vars", 0},
    };
    for (const Case& c : cases) {
        Cell* spec = read_block(c.spec);
        u32 flags = 0;
        EXPECT_EQ(error_of([&] { flags = function::validate(spec); }), c.error) << c.spec;
        if (!*c.error) {
            EXPECT_EQ(flags, c.flags) << c.spec;
        }
    }
}

TEST_F(Functions, ValidationErrorsNameWhatIsWrong) {
    Cell* spec = read_block("a b /c A");
    try {
        function::validate(spec);
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(TYPE_OF(&e.args[0]), TYPE_WORD);
        EXPECT_EQ(symbol::spelling(i32(e.args[0].w2)), "A") << "the later of the two";
    }
    Cell* bad = read_block("a \"doc\" [integer!]");
    try {
        function::validate(bad);
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(e.args[0].w2, bad->w2) << "refused: its spec block";
    }
}

TEST_F(Functions, SpecAttributes) {
    EXPECT_EQ(function::spec_attributes(read_block("trace")), i32(function::TRACE));
    EXPECT_EQ(function::spec_attributes(read_block("no-trace TRACE")), i32(function::TRACE | function::NO_TRACE));
    EXPECT_EQ(function::spec_attributes(read_block("catch")), 0);
    EXPECT_EQ(function::spec_attributes(read_block("trace 1")), -1);
    EXPECT_EQ(function::spec_attributes(read_block("'trace")), -1);
}

TEST_F(Functions, CountLocals) {
    struct Case {
        const char* spec;
        i32 start, loose, strict;
    } cases[] = {
        {"a b", 0, 0, -1},
        {"a /local", 0, 1, 1},
        {"a /local b c", 0, 3, 3},
        {"a /LOCAL b", 0, 2, 2},
        {"a /local b /ref c", 0, 3, 3},   // later refinements do not stop the count
        {"/local x a", 2, 0, -1},          // counted from the start index
    };
    for (const Case& c : cases) {
        Cell* spec = read_block(c.spec);
        EXPECT_EQ(function::count_locals(spec->w2, c.start, false), c.loose) << c.spec;
        EXPECT_EQ(function::count_locals(spec->w2, c.start, true), c.strict) << c.spec;
    }
}

TEST_F(Functions, UnusedRefinementCells) {
    Cell* base = stack::top;
    function::push_unused_refinement(3);
    ASSERT_EQ(stack::top - base, 3);
    EXPECT_MOLD(base, "false");
    EXPECT_MOLD(base + 1, "none");
    EXPECT_MOLD(base + 2, "none");
    function::push_unused_refinement(0);
    EXPECT_EQ(stack::top - base, 3);
}

// --- The words `function` makes local ------------------------------------------------

TEST_F(Functions, CollectWords) {
    struct Case {
        const char* spec;
        const char* body;
        const char* collected;
        const char* spec_after;
    } cases[] = {
        {"a", "x: 1 foreach [y z] data [print y]", "[x y z]", "[a /local x y z]"},
        {"a", "foreach w data [remove-each v w [v: 1]]", "[w v]", "[a /local w v]"},
        {"a", "repeat i 10 [j: i] repeat 'k 2", "[i j]", "[a /local i j]"},
        {"a", "foreach :g data [] foreach [h 'i :j 1] x", "[h i j]", "[a /local h i j]"},
        {"a /local b", "c: (d: 1) [[e: 2]]", "[c d e]", "[a /local b c d e]"},
        {"a b return: [integer!]", "a: 1 B: 2 return: 3", "[]", "[a b return: [integer!]]"},
        {"a /ref r", "r: 1 ref: 2 x: x: 3", "[x]", "[a /ref r /local x]"},
        {"a /extern x", "x: 1 y: 2", "[y]", "[a /local y]"},
        {"a /extern x y /local z", "z: 1 q: 2", "[z q]", "[a /local z q]"},
        {"a", "local: 1 b: 2", "[b]", "[a /local b]"},
    };
    for (const Case& c : cases) {
        Cell* spec = read_block(c.spec);
        Cell* result = function::collect_words(spec, read_block(c.body));
        EXPECT_MOLD(result, c.collected) << c.body;
        EXPECT_MOLD(spec, c.spec_after) << c.body;
        for (i32 i = 0; i < block::zs_length_q(result); i++) EXPECT_EQ(TYPE_OF(block::cell_at(result->w2, i)), TYPE_WORD);
    }
}

TEST_F(Functions, CollectWordsRefusesBadExternSpecs) {
    Cell* spec = read_block("a 1 /extern x");
    EXPECT_EQ(error_of([&] { function::collect_words(spec, read_block("x: 1")); }), "script bad-func-extern");
    // Without /extern, such items are left to the validation.
    Cell* plain = read_block("a 1");
    EXPECT_EQ(error_of([&] { function::collect_words(plain, read_block("x: 1")); }), "");
}

TEST_F(Functions, CollectWordsOfABodyHoldingItself) {
    Cell* body = read_block("x: 1");
    block::zs_append(body, body);
    Cell* result = function::collect_words(read_block("a"), body);
    EXPECT_MOLD(result, "[x]");
}

// --- Construction ---------------------------------------------------------------------

TEST_F(Functions, PushBuildsTheContextTheRecordAndABoundBodyCopy) {
    Cell* body = read_block("b: a [a]");
    Cell* spec = read_block("a /local b");
    u32 ctx = function::push(spec, body, 0, 0, 0, 0);
    Cell* f = stack::top - 1;
    EXPECT_EQ(TYPE_OF(f), TYPE_FUNCTION);
    EXPECT_EQ(f->w1, ctx);
    EXPECT_EQ(f->w2, spec->w2) << "a spec at its head is shared";
    const Cell* c = context::cell_of(ctx);
    EXPECT_EQ(context::kind_of(c), context::KIND_FUNCTION);
    EXPECT_TRUE(c->header & context::ON_STACK);
    EXPECT_FALSE(c->header & context::HAS_SELF);
    EXPECT_EQ(context::word_count(c), 3) << "a, /local and b";
    EXPECT_EQ(context::owner_of(ctx)->w3, f->w3) << "the owner cell holds the function";

    ASSERT_EQ(series::length_of(node_buffer(f->w3)), function::RECORD_CELLS);
    Cell* copy = record(f, function::RECORD_BODY);
    EXPECT_NE(copy->w2, body->w2) << "the body is copied";
    EXPECT_MOLD(copy, "[b: a [a]]");
    Cell* inner = block::cell_at(copy->w2, 2);
    EXPECT_NE(inner->w2, block::cell_at(body->w2, 2)->w2) << "deeply";
    EXPECT_EQ(block::cell_at(copy->w2, 0)->w1, ctx) << "bound to the function";
    EXPECT_EQ(block::cell_at(inner->w2, 0)->w1, ctx);
    EXPECT_NE(block::cell_at(body->w2, 0)->w1, ctx) << "the original is left alone";
    for (i32 i : {function::RECORD_ARGUMENTS, function::RECORD_CODE, function::RECORD_OP, function::RECORD_OWNER})
        EXPECT_EQ(TYPE_OF(record(f, i)), TYPE_UNSET) << i;

    // A spec past its head is copied from there.
    Cell* later = at_(read_block("zz a"), 1);
    function::push(later, body, 0, 0, 0, 0);
    EXPECT_NE((stack::top - 1)->w2, later->w2);
    EXPECT_MOLD(reflect(stack::top - 1, "spec"), "[a]");
}

TEST_F(Functions, PushWithAGivenContextEntryAndOwner) {
    Cell* spec = read_block("a");
    collector::RootNode ctx(context::make(spec, true, false, context::KIND_FUNCTION));
    Cell* owner = none_();
    *owner = make_object(*int_(1));
    Cell* body = read_block("a");
    function::push(spec, body, ctx, 42, owner->w1, function::NO_TRACE);
    Cell* f = stack::top - 1;
    EXPECT_EQ(f->w1, u32(ctx));
    EXPECT_EQ(f->header, TYPE_FUNCTION | function::NO_TRACE);
    EXPECT_NE(block::cell_at(record(f, function::RECORD_BODY)->w2, 0)->w1, u32(ctx))
        << "a body given with its context is bound by the giver";
    EXPECT_MOLD(record(f, function::RECORD_CODE), "42");
    EXPECT_EQ(TYPE_OF(record(f, function::RECORD_OWNER)), TYPE_OBJECT);
    EXPECT_EQ(record(f, function::RECORD_OWNER)->w1, owner->w1);

    function::push(spec, nullptr, 0, 0, 0, 0);
    EXPECT_EQ(TYPE_OF(record(stack::top - 1, function::RECORD_BODY)), TYPE_NONE);
}

TEST_F(Functions, Make) {
    Cell* proto = datatype_(TYPE_FUNCTION);
    auto make = [&](Cell* spec) { return function::make(proto, spec, TYPE_FUNCTION); };
    Cell* f = make(read_block("[[trace] a] [a]"));
    EXPECT_EQ(TYPE_OF(f), TYPE_FUNCTION);
    EXPECT_EQ(f->header, TYPE_FUNCTION | function::TRACE);
    EXPECT_MOLD(f, "func [[trace] a][a]");
    const char* refused[] = {"", "[a]", "[a] x", "x [a]", "[a a] [a]", "[a 1] [a]"};
    for (const char* text : refused) {
        Cell* spec = read_block(text);
        std::string e = error_of([&] { make(spec); });
        EXPECT_TRUE(e == "script bad-func-def" || e == "script dup-vars") << text << ": " << e;
    }
    EXPECT_EQ(error_of([&] { make(int_(1)); }), "script bad-func-def");
    EXPECT_EQ(error_of([&] { make(read_block("[a b] [a]")); }), "");
    EXPECT_EQ(error_of([&] { make(at_(read_block("x [a b] [a]"), 1)); }), "") << "read from its head";
}

// --- Reflection, text and comparison -----------------------------------------------------

TEST_F(Functions, Reflect) {
    Cell* f = func("a /local b", "b: a");
    EXPECT_MOLD(reflect(f, "spec"), "[a /local b]");
    EXPECT_MOLD(reflect(f, "body"), "[b: a]");
    Cell* words = reflect(f, "words");
    EXPECT_MOLD(words, "[a local b]");
    for (i32 i = 0; i < 3; i++) EXPECT_EQ(block::cell_at(words->w2, i)->w1, f->w1);
    EXPECT_NE(words->w2, context::words_node(context::cell_of(f->w1))) << "a copy of the word list";
    EXPECT_EQ(error_of([&] { reflect(f, "class"); }), "internal not-done");
}

TEST_F(Functions, FormAndMold) {
    Cell* f = func("a \"doc\" /b", "print [a]");
    EXPECT_FORM(f, "?function?");
    EXPECT_MOLD(f, "func [a \"doc\" /b][print [a]]");
    function::push(read_block("x"), nullptr, 0, 0, 0, 0);
    EXPECT_MOLD(stack::top - 1, "func [x] none");
    // The part answered is what is left of it.
    Cell* buffer = str("");
    EXPECT_EQ(actions::form(f, buffer, nullptr, 100), 90);
    i32 molded = i32(std::string("func [a \"doc\" /b][print [a]]").size());
    EXPECT_EQ(actions::mold(f, buffer, false, false, false, nullptr, 100, 0), 100 - molded);
}

TEST_F(Functions, EqualOnlyToThemselves) {
    Cell* spec = read_block("a");
    Cell* body = read_block("a");
    function::push(spec, body, 0, 0, 0, 0);
    Cell* f = stack::top - 1;
    function::push(spec, body, 0, 0, 0, 0);
    Cell* g = stack::top - 1;
    EXPECT_FALSE(actions::compare(f, g, COMP_EQUAL)) << "same spec and body, two functions";
    EXPECT_TRUE(actions::compare(f, g, COMP_NOT_EQUAL));
    EXPECT_TRUE(actions::compare(f, stack::push(f), COMP_EQUAL));
    EXPECT_TRUE(actions::compare(f, f, COMP_SAME));
    EXPECT_EQ(actions::compare_typed(f, g, COMP_SORT), f->w3 < g->w3 ? -1 : 1);
    EXPECT_EQ(actions::compare_typed(f, g, COMP_LESSER), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_typed(f, int_(1), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(error_of([&] { actions::compare(f, g, COMP_LESSER); }), "script invalid-compare");
}

// --- Operators from functions ---------------------------------------------------------------

TEST_F(Functions, OperatorsKeepTheirFunction) {
    Cell* f = func("a b", "a");
    Cell* proto = datatype_(TYPE_OP);
    Cell* op = op::make(proto, f, TYPE_OP);
    EXPECT_EQ(TYPE_OF(op), TYPE_OP);
    Cell* kept = record(f, function::RECORD_OP);
    EXPECT_EQ(TYPE_OF(kept), TYPE_FUNCTION);
    EXPECT_EQ(kept->w3, f->w3);
    EXPECT_MOLD(op, "make op! func [a b][a]");
    EXPECT_MOLD(reflect(op, "body"), "[a]");
    const char* refused[] = {"a", "a b c", "'a b", "a b /only"};
    for (const char* spec : refused) {
        Cell* g = func(spec, "a");
        EXPECT_EQ(error_of([&] { op::make(proto, g, TYPE_OP); }), "script bad-op-spec") << spec;
    }
    Cell* with_locals = func("a b return: [integer!] /local c", "a");
    EXPECT_EQ(error_of([&] { op::make(proto, with_locals, TYPE_OP); }), "");
}

// --- routine! ---------------------------------------------------------------------------

TEST_F(Functions, Routines) {
    Cell* spec = read_block("a [integer!] b /c d return: [logic!]");
    Cell* r = routine::push(spec, nullptr, 7, routine::RETURNS_LOGIC, true);
    EXPECT_EQ(TYPE_OF(r), TYPE_ROUTINE);
    EXPECT_EQ(routine::get_arity(r), 3) << "the words a, b and d";
    EXPECT_TRUE(r->header & routine::POINTER_ARGS);
    EXPECT_MOLD(record(r, function::RECORD_CODE), "7");
    EXPECT_MOLD(record(r, routine::RECORD_RETURN), "4");
    EXPECT_EQ(context::kind_of(context::cell_of(r->w1)), context::KIND_FUNCTION);
    EXPECT_FORM(r, "?routine?");
    EXPECT_MOLD(r, "routine [a [integer!] b /c d return: [logic!]] none");
    Cell* buffer = str("");
    EXPECT_EQ(actions::form(r, buffer, nullptr, 100), 91) << "nine code points written";

    Cell* with_body = routine::push(read_block("x"), read_block("x + 1"), 8, routine::RETURNS_NONE, false);
    EXPECT_MOLD(with_body, "routine [x][x + 1]");
    EXPECT_FALSE(with_body->header & routine::POINTER_ARGS);
    EXPECT_EQ(routine::get_arity(with_body), 1);
    EXPECT_MOLD(reflect(with_body, "spec"), "[x]");
    EXPECT_MOLD(reflect(with_body, "body"), "[x + 1]");

    EXPECT_TRUE(actions::compare(r, stack::push(r), COMP_EQUAL));
    EXPECT_FALSE(actions::compare(r, with_body, COMP_EQUAL));
    EXPECT_EQ(actions::compare_typed(r, func("x", "x"), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(error_of([&] { actions::get_action_of(r, ACT_MAKE); }), "script expect-arg");

    // The arity saturates at 31 words.
    std::string many;
    for (int i = 0; i < 40; i++) many += "w" + std::to_string(i) + " ";
    EXPECT_EQ(routine::get_arity(routine::push(read_block(many.c_str()), nullptr, 1, -1, false)), 31);
}

}  // namespace
}  // namespace zir
