// error!: the catalogue, making errors from codes, blocks and text, the
// report the console prints, mold, fields, the errors `fire` raises, and the
// argument words that name what a call was given.
#include "boot/catalog.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/none.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/word.hpp"
#include "runtime/collector.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Errors : ValueTest {
    void (*saved_eval)(const Cell*, Cell*) = nullptr;
    void SetUp() override {
        ValueTest::SetUp();
        saved_eval = object::eval_block;
        object::eval_block = evaluate_sets;
    }
    void TearDown() override {
        object::eval_block = saved_eval;
        ValueTest::TearDown();
    }
    static Cell* make(const Cell* spec) { return error::make(datatype_(TYPE_ERROR), stack::push(spec), TYPE_ERROR); }
    static Cell* field(const Cell* e, i32 i) { return stack::push(error::field(e, i)); }
    // "category id code" of an error.
    static std::string identity(const Cell* e) {
        return mold(field(e, error::FIELD_TYPE)) + " " + mold(field(e, error::FIELD_ID)) + " " +
               mold(field(e, error::FIELD_CODE));
    }
    static Cell* create(const char* category, const char* id, const Cell* a1 = nullptr, const Cell* a2 = nullptr,
                        const Cell* a3 = nullptr) {
        return error::create(test::word(category), test::word(id), a1, a2, a3);
    }
};

// --- The catalogue ------------------------------------------------------------------

TEST_F(Errors, TheCatalogue) {
    i32 total = 0;
    for (const catalog::Category& c : catalog::categories) total += c.count;
    EXPECT_EQ(total, 140);
    EXPECT_EQ(catalog::categories[ERR_SCRIPT].count, 94);
    Cell* errors = stack::push(catalog::errors());
    EXPECT_MOLD(object::reflect(stack::push(errors), symbol::make("words")),
                "[throw note syntax script math access reserved1 reserved2 user internal]");
    for (i32 k = 0; k < catalog::CATEGORIES; k++) {
        Cell* cat = stack::push(catalog::category_object(k));
        EXPECT_EQ(object::get_size(cat), 2 + catalog::categories[k].count);
        EXPECT_MOLD(stack::push(object::select_value(cat, test::word("code"))), std::to_string(k * 100));
        EXPECT_EQ(form(stack::push(object::select_value(cat, test::word("type")))), catalog::categories[k].title);
    }
    struct Case {
        u32 category;
        const char* id;
        const char* message;
    } cases[] = {
        {ERR_SCRIPT, "no-value", "[:arg1 \"has no value\"]"},
        {ERR_NOTE, "no-load", "[\"cannot load: \" :arg1]"},
        {ERR_SCRIPT, "parse-infinite", "[\"PARSE - infinite recursion at rule: [\" :arg1 \"]\"]"},
        {ERR_MATH, "zero-divide", "\"attempt to divide by zero\""},
        {ERR_ACCESS, "invalid-port", "[\"invalid port object (invalid field values)\"]"},
        {ERR_USER, "message", "arg1"},
        {ERR_INTERNAL, "bad-path", "[\"bad path:\" arg1]"},
        {ERR_INTERNAL, "deprecated", "[arg1 \"is DEPRECATED, please use\" arg2 \"instead\"]"},
    };
    for (const Case& c : cases) {
        i32 id = catalog::find_id(c.category, c.id);
        ASSERT_GE(id, 0) << c.id;
        EXPECT_MOLD(stack::push(catalog::message(i32(c.category), id)), c.message) << c.id;
    }
    EXPECT_EQ(catalog::find_id(ERR_SCRIPT, "zz-nope"), -1);
    EXPECT_EQ(catalog::find_id(ERR_RESERVED1, "break"), -1);
}

TEST_F(Errors, EveryIdIsMadeFromItsCode) {
    for (i32 k = 0; k < catalog::CATEGORIES; k++) {
        for (i32 i = 0; i < catalog::categories[k].count; i++) {
            Cell* e = make(int_(k * 100 + i));
            std::string expected = std::string(catalog::categories[k].name) + " " + catalog::categories[k].ids[i].name +
                                   " " + std::to_string(k * 100 + i);
            ASSERT_EQ(identity(e), expected);
        }
    }
}

// --- Making errors ------------------------------------------------------------------

TEST_F(Errors, MakeFromACode) {
    struct Case {
        i32 code;
        const char* identity;   // or the error raised
    } cases[] = {
        {300, "script no-value 300"},   {0, "throw break 0"},
        {400, "math zero-divide 400"},  {393, "script zb-invalid-record 393"},
        {800, "user message 800"},      {913, "internal deprecated 913"},
        {399, "script out-of-range"},   {-1, "script out-of-range"},
        {394, "script out-of-range"},   {101, "script out-of-range"},
        {600, "script out-of-range"},   {1000, "script out-of-range"},
    };
    for (const Case& c : cases) {
        Cell* e = nullptr;
        std::string raised = error_of([&] { e = make(int_(c.code)); });
        EXPECT_EQ(raised.empty() ? identity(e) : raised, c.identity) << c.code;
    }
    Cell* e = make(int_(300));
    EXPECT_EQ(TYPE_OF(e), TYPE_ERROR);
    EXPECT_EQ(e->w2, error::CLASS_ID);
    EXPECT_EQ(e->w3, 0u);
    EXPECT_MOLD(object::reflect(stack::push(e), symbol::make("words")),
                "[code type id arg1 arg2 arg3 near where stack files]");
    for (i32 i = error::FIELD_ARG1; i <= error::FIELD_FILES; i++) EXPECT_EQ(TYPE_OF(field(e, i)), TYPE_NONE) << i;
    EXPECT_EQ(context::owner_of(e->w1)->header & 0xFF, TYPE_ERROR) << "the context's owner is the error";
    EXPECT_EQ(field(e, error::FIELD_TYPE)->w1, catalog::errors()->w1) << "the category word of the catalogue";
}

TEST_F(Errors, MakeFromABlock) {
    struct Case {
        const char* spec;
        const char* identity;   // or the error raised
    } cases[] = {
        {"script no-value", "script no-value 300"},
        {"math zero-divide", "math zero-divide 400"},
        {"MATH Zero-Divide", "math zero-divide 400"},
        {"access invalid-cmd extra", "access invalid-cmd 514"},
        {"script zz-nope", "script invalid-spec-field"},
        {"zz-nope no-value", "script invalid-spec-field"},
        {"script", "script invalid-spec-field"},
        {"script 1", "script invalid-arg"},
        {"reserved1 break", "script invalid-spec-field"},
        {"1 2", "internal invalid-error"},
        {"", "internal invalid-error"},
        {"type: 'script id: 'no-value arg1: 'zz-word", "script no-value 300"},
        {"id: 'zero-divide type: 'math", "math zero-divide 400"},
        {"type: 'script id: 'zz-nope", "script invalid-spec-field"},
        {"type: 'script", "script invalid-spec-field"},
        {"type: 'script id: 3", "script invalid-arg"},
        {"type: 'zz-nope id: 'no-value", "script invalid-spec-field"},
    };
    for (const Case& c : cases) {
        Cell* e = nullptr;
        std::string raised = error_of([&] { e = make(read_block(c.spec)); });
        EXPECT_EQ(raised.empty() ? identity(e) : raised, c.identity) << c.spec;
    }
    // The fields a spec sets stay; the refused parts are named.
    Cell* e = make(read_block("type: 'script id: 'no-value arg1: 'zz-word"));
    EXPECT_MOLD(field(e, error::FIELD_ARG1), "zz-word");
    LanguageError bad = raised([&] { make(read_block("script zz-nope")); });
    ASSERT_EQ(bad.argc, 1);
    EXPECT_EQ(mold(&bad.args[0]), "id");
    bad = raised([&] { make(read_block("zz-nope no-value")); });
    EXPECT_EQ(mold(&bad.args[0]), "type");

    object::eval_block = nullptr;
    EXPECT_EQ(error_of([&] { make(read_block("type: 'script id: 'no-value")); }), "internal not-done");
}

TEST_F(Errors, MakeFromTextAndOtherValues) {
    Cell* e = make(str("boom"));
    EXPECT_EQ(identity(e), "user message 800");
    EXPECT_MOLD(field(e, error::FIELD_ARG1), "\"boom\"");
    EXPECT_EQ(error_of([&] { make(none_()); }), "script bad-make-arg");
    EXPECT_EQ(error_of([&] { error::fire_bad_make_arg(datatype_(TYPE_ERROR), int_(1)); }), "script bad-make-arg");
}

TEST_F(Errors, Create) {
    Cell* e = create("script", "expect-arg", test::word("append"), nullptr, test::word("series"));
    EXPECT_EQ(identity(e), "script expect-arg 305");
    EXPECT_MOLD(field(e, error::FIELD_ARG1), "append");
    EXPECT_MOLD(field(e, error::FIELD_ARG2), "none") << "an argument not given is none";
    EXPECT_MOLD(field(e, error::FIELD_ARG3), "series");
    EXPECT_EQ(error_of([&] { create("script", "zz-nope"); }), "script invalid-spec-field");
}

// --- The report ------------------------------------------------------------------

TEST_F(Errors, ReportsOfEveryCategory) {
    std::string none_lines = "\n*** Where: ???\n*** Near : none";
    struct Case {
        const char* category;
        const char* id;
        std::vector<Cell*> args;
        std::string first_line;
    } cases[] = {
        {"throw", "break", {}, "*** Throw Error: no loop to break"},
        {"throw", "throw", {test::word("zz-x")}, "*** Throw Error: no catch for throw: zz-x"},
        {"note", "no-load", {str("a.zir")}, "*** note: cannot load:  \"a.zir\""},
        {"syntax", "invalid", {str("word"), str("foo bar"), str("[x")}, "*** Syntax Error: word invalid foo bar at [x"},
        {"syntax", "no-header", {str("a.zir")}, "*** Syntax Error: script is missing a Zir header: a.zir"},
        {"script", "no-value", {test::word("zz-x")}, "*** Script Error: zz-x has no value"},
        {"script", "invalid-arg", {str("s")}, "*** Script Error: invalid argument: \"s\""},
        {"script", "expect-arg", {test::word("append"), datatype_(TYPE_INTEGER), test::word("series")},
         "*** Script Error: append does not allow integer! for its series argument"},
        {"script", "unset-path", {read_block("zz-a zz-b"), test::word("zz-b")},
         "*** Script Error: zz-b is unset in path [zz-a zz-b]"},
        {"script", "bad-op-spec", {},
         "*** Script Error: making an op! requires a function with only 2 arguments and no lit/get-word on left "
         "argument"},
        {"math", "zero-divide", {}, "*** Math Error: attempt to divide by zero"},
        {"access", "cannot-open", {str("/nope")}, "*** Access Error: cannot open: \"/nope\""},
        {"access", "invalid-port", {}, "*** Access Error: invalid port object (invalid field values)"},
        {"user", "message", {str("boom")}, "*** User Error: boom"},
        {"internal", "not-done", {}, "*** Internal Error: reserved for future use (or not yet implemented)"},
        {"internal", "bad-path", {test::word("zz-x")}, "*** Internal Error: bad path: zz-x"},
        {"internal", "deprecated", {test::word("zz-old"), test::word("zz-new")},
         "*** Internal Error: zz-old is DEPRECATED, please use zz-new instead"},
    };
    for (const Case& c : cases) {
        const Cell* a[3] = {};
        for (size_t i = 0; i < c.args.size(); i++) a[i] = c.args[i];
        Cell* e = create(c.category, c.id, a[0], a[1], a[2]);
        EXPECT_EQ(form(e), c.first_line + none_lines) << c.id;
    }
}

TEST_F(Errors, TheWhereNearAndFilesLines) {
    Cell* e = create("script", "no-value", test::word("zz-x"));
    error::set_where(e, test::word("zz-caller"));
    error::set_where(e, test::word("zz-later"));
    EXPECT_MOLD(field(e, error::FIELD_WHERE), "zz-caller") << "set only while none";
    std::string near_text = "zz-aaa zz-bbb zz-ccc zz-ddd zz-eee zz-fff zz-ggg";
    *error::field(e, error::FIELD_NEAR) = *read_block(near_text.c_str());
    EXPECT_EQ(form(e), "*** Script Error: zz-x has no value\n*** Where: zz-caller\n*** Near : " +
                           near_text.substr(0, 40));
    *error::field(e, error::FIELD_WHERE) = *str("in a string");
    *error::field(e, error::FIELD_FILES) = *read_block("\"one.zir\" \"two.zir\"");
    EXPECT_EQ(form(e), "*** Script Error: zz-x has no value\n*** Where: in a string\n*** Near : " +
                           near_text.substr(0, 40) + "\n*** Files: \"one.zir\" \"two.zir\"");
    *error::field(e, error::FIELD_WHERE) = *int_(5);
    EXPECT_NE(form(e).find("*** Where: ???\n"), std::string::npos);
    EXPECT_EQ(form(e, 12), "*** Script E") << "the part limits the report";
}

TEST_F(Errors, ArgumentsAreCutAtEightyCodePoints) {
    std::string long_text(200, 'x');
    Cell* e = create("script", "invalid-arg", str(long_text.c_str()));
    // Molded, long text is written in braces.
    EXPECT_EQ(form(e), "*** Script Error: invalid argument: {" + long_text.substr(0, 79) +
                           "\n*** Where: ???\n*** Near : none");
    Cell* s = create("syntax", "no-header", str(long_text.c_str()));
    EXPECT_EQ(form(s), "*** Syntax Error: script is missing a Zir header: " + long_text.substr(0, 80) +
                           "\n*** Where: ???\n*** Near : none");
}

TEST_F(Errors, UnknownCategoriesAndIdsReportThemselves) {
    Cell* e = create("script", "no-value", test::word("zz-x"));
    *error::field(e, error::FIELD_TYPE) = *test::word("zz-kind");
    EXPECT_EQ(form(e), "*** Internal Error: invalid error object field value: zz-kind\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(identity(e), "internal invalid-error 910") << "the error now says what it reported";
    Cell* f = create("math", "overflow");
    *error::field(f, error::FIELD_ID) = *str("zz-what");
    EXPECT_EQ(form(f), "*** Internal Error: invalid error object field value: \"zz-what\"\n*** Where: ???\n"
                       "*** Near : none");
}

TEST_F(Errors, FormMessage) {
    Cell* e = create("script", "no-value", str("one"), int_(2));
    Cell* buffer = str("");
    i32 left = error::form_message(read_block("\"a\" :arg1 arg2 :zz-none 7 \"b\""), buffer, e, 100);
    EXPECT_EQ(string::to_std(buffer), "a \"one\" 2   b");
    EXPECT_EQ(left, 100 - 13);
}

// --- Mold, comparison, fields ---------------------------------------------------------

TEST_F(Errors, MoldComparisonAndFields) {
    Cell* e = create("math", "zero-divide");
    EXPECT_MOLD(e,
                "make error! [\n    code: 400\n    type: 'math\n    id: 'zero-divide\n    arg1: none\n    arg2: none\n"
                "    arg3: none\n    near: none\n    where: none\n    stack: none\n    files: none\n]");
    MoldOptions flat;
    flat.flat = true;
    EXPECT_EQ(mold(e, flat).substr(0, 40), "make error! [code: 400 type: 'math id: '");

    Cell* same = create("math", "zero-divide");
    EXPECT_TRUE(actions::compare(e, same, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(e, same, COMP_SAME));
    EXPECT_FALSE(actions::compare(e, create("math", "overflow"), COMP_EQUAL));
    Cell* as_object = stack::push(e);
    cell::set_type(as_object, TYPE_OBJECT);
    EXPECT_EQ(actions::compare_typed(e, as_object, COMP_EQUAL), NOT_COMPARABLE);

    Cell* element = test::word("code");
    EXPECT_MOLD(stack::push(actions::eval_path(stack::push(e), element, nullptr, nullptr, nullptr, nullptr, 0, false,
                                               false, true, false)),
                "400");
    EXPECT_EQ(symbol::spelling(error::get_type(e)), "math");
    EXPECT_EQ(symbol::spelling(error::get_id(e)), "zero-divide");
    EXPECT_EQ(error::stack_field_index(), 8);
    EXPECT_EQ(error_of([&] { actions::get_action_of(e, ACT_PUT); }), "script expect-arg");

    Cell* copy = stack::push(&none::value);
    actions::copy(e, copy, nullptr, false, nullptr);
    EXPECT_EQ(TYPE_OF(copy), TYPE_ERROR) << "a copy stays an error";
    EXPECT_NE(copy->w1, e->w1);
}

// --- Errors raised from C++ --------------------------------------------------------------

TEST_F(Errors, FiredErrorsCarryTheirValue) {
    LanguageError e = raised([&] { fire(ERR_SCRIPT, "invalid-arg", str("only the error holds me")); });
    EXPECT_EQ(e.category, ERR_SCRIPT);
    EXPECT_STREQ(e.id, "invalid-arg");
    ASSERT_EQ(TYPE_OF(&e.error), TYPE_ERROR);
    collector::do_cycle();   // the value lives as long as the LanguageError does
    EXPECT_EQ(identity(&e.error), "script invalid-arg 309");
    EXPECT_MOLD(field(&e.error, error::FIELD_ARG1), "\"only the error holds me\"");
    EXPECT_EQ(form(&e.error), "*** Script Error: invalid argument: \"only the error holds me\"\n*** Where: ???\n"
                              "*** Near : none");

    LanguageError z = raised([&] { fire(ERR_MATH, "zero-divide"); });
    EXPECT_EQ(identity(&z.error), "math zero-divide 400");
    LanguageError three = raised([&] { fire(ERR_SCRIPT, "expect-arg", test::word("a"), datatype_(TYPE_NONE), test::word("b")); });
    EXPECT_EQ(mold(field(&three.error, error::FIELD_ARG2)), "none!");
    EXPECT_EQ(mold(field(&three.error, error::FIELD_ARG3)), "b");

    // An id the catalogue lacks is reported as such, not lost.
    LanguageError typo = raised([&] { fire(ERR_SCRIPT, "zz-no-such-id", int_(1)); });
    EXPECT_STREQ(typo.id, "zz-no-such-id");
    EXPECT_EQ(identity(&typo.error), "internal invalid-error 910");
    EXPECT_MOLD(field(&typo.error, error::FIELD_ARG1), "zz-no-such-id");

    // An error value raised as it is.
    Cell* made = create("access", "cannot-open", str("f"));
    LanguageError again = raised([&] { fire_value(made); });
    EXPECT_EQ(again.category, ERR_ACCESS);
    EXPECT_STREQ(again.id, "cannot-open");
    EXPECT_EQ(again.error.w1, made->w1);
    EXPECT_EQ(mold(&again.args[0]), "\"f\"");
}

// --- The words of a call's arguments -------------------------------------------------------

TEST_F(Errors, CallArgumentsNameWhatWasGiven) {
    Cell* spec = read_block("series [block!] value /part length /only");
    function::push(spec, read_block(""), 0, 0, 0, 0);
    Cell* fn = stack::top - 1;
    Cell* name = stack::push(word::load("zz-insert"));
    context::set(name, fn);
    struct Case {
        i32 n;
        const char* word;
    } cases[] = {{0, "series"}, {1, "value"}, {2, "/part"}, {3, "length"}, {4, "/only"}, {5, "none"}};
    for (const Case& c : cases) {
        Cell out;
        error::call_argument_of(name, c.n, &out);
        EXPECT_EQ(mold(stack::push(&out)), c.word) << c.n;
    }
    Cell out;
    error::call_argument_of(test::word("zz-unbound"), 0, &out);
    EXPECT_EQ(TYPE_OF(&out), TYPE_NONE);
    error::call_argument_of(stack::push(word::load("zz-not-a-function")), 0, &out);
    EXPECT_EQ(TYPE_OF(&out), TYPE_NONE);

    // Raised inside a call named by that word, expect-arg names the argument.
    Cell* saved_top = stack::top;
    Cell* saved_arguments = stack::arguments;
    stack::Frame* saved_call = stack::call_top;
    stack::mark(name->w2, context::global, stack::FRAME_NATIVE);
    Cell* value = int_(1);
    LanguageError e = raised([&] { typeset::check_arg(typeset_({TYPE_BLOCK}), 1, value); });
    Cell* first = stack::push(value);
    LanguageError d = raised([&] { actions::get_action_of(first, ACT_APPEND); });
    error::get_call_argument(3, &out);
    stack::call_top = saved_call;
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    EXPECT_EQ(mold(&e.args[0]), "zz-insert");
    EXPECT_EQ(mold(&e.args[2]), "value");
    EXPECT_EQ(form(&e.error), "*** Script Error: zz-insert does not allow integer! for its value argument\n"
                              "*** Where: ???\n*** Near : none");
    EXPECT_EQ(mold(&d.args[2]), "series");
    EXPECT_EQ(mold(stack::push(&out)), "length");
}

}  // namespace
}  // namespace zir
