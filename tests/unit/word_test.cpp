// Words and issue!: mold and form, comparison, index?, conversions (through a
// stand-in loader where the lexer would be asked), the value routines the
// interpreter uses, the names of call frames and the words of datatypes.
#include <sstream>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

i32 sym(const char* s) { return symbol::make(s); }
Cell* w(const char* s, u32 type = TYPE_WORD) { return test::word(s, type); }

struct Words : ValueTest {
    // make or to through the registry, into a fresh result cell.
    static Cell* convert(u32 slot, u32 type, Cell* spec) {
        Cell* result = datatype_(type);
        return reinterpret_cast<action::Make>(actions::lookup(type, slot))(result, spec, type);
    }
    static Cell* to(u32 type, Cell* spec) { return convert(ACT_TO, type, spec); }
    static Cell* make(u32 type, Cell* spec) { return convert(ACT_MAKE, type, spec); }
    static std::string spelling(const Cell* c) { return std::string(symbol::spelling(i32(c->w2))); }
};

TEST_F(Words, MoldAndForm) {
    struct Case {
        u32 type;
        const char* mold;
        i32 length;   // code points
    } cases[] = {
        {TYPE_WORD, "Héllo", 5},      {TYPE_SET_WORD, "Héllo:", 6},   {TYPE_LIT_WORD, "'Héllo", 6},
        {TYPE_GET_WORD, ":Héllo", 6}, {TYPE_REFINEMENT, "/Héllo", 6}, {TYPE_ISSUE, "#Héllo", 6},
    };
    for (const Case& c : cases) {
        Cell* v = w("Héllo", c.type);
        EXPECT_MOLD(v, c.mold);
        EXPECT_FORM(v, "Héllo") << "every variant forms as its bare spelling";
        // The part left: one less per code point written.
        Cell* buffer = str("");
        EXPECT_EQ(actions::mold(v, buffer, false, false, false, nullptr, 100, 0), 100 - c.length);
        EXPECT_EQ(actions::form(v, str(""), nullptr, 100), 95);
    }
    // The spelling as written, not the canonical twin's.
    sym("zz-canon");
    EXPECT_MOLD(w("ZZ-Canon"), "ZZ-Canon");
    EXPECT_MOLD(test::block({w("a", TYPE_SET_WORD), w("b"), w("c", TYPE_LIT_WORD), w("d", TYPE_GET_WORD),
                             w("e", TYPE_REFINEMENT), w("f", TYPE_ISSUE)}),
                "[a: b 'c :d /e #f]");
    MoldOptions part;
    part.part = 2;
    EXPECT_EQ(mold(w("abc", TYPE_SET_WORD), part), "ab");
}

TEST_F(Words, Comparison) {
    Cell* abc = w("zz-abc");
    Cell* ABC = w("ZZ-ABC");
    Cell* lit = w("zz-abc", TYPE_LIT_WORD);
    Cell* set = w("zz-abc", TYPE_SET_WORD);
    Cell* issue = w("zz-abc", TYPE_ISSUE);
    Cell* ISSUE = w("ZZ-ABC", TYPE_ISSUE);
    Cell* elsewhere = bound_word("zz-abc", int_(1));
    auto cmp = [](const Cell* a, const Cell* b, i32 op) { return actions::compare_typed(a, b, op); };
    struct Case {
        const Cell* a;
        const Cell* b;
        i32 op;
        i32 expected;
    } cases[] = {
        {abc, ABC, COMP_EQUAL, 0},          {abc, ABC, COMP_STRICT_EQUAL, 1}, {abc, ABC, COMP_SAME, 1},
        {abc, ABC, COMP_FIND, 0},           {abc, ABC, COMP_NOT_EQUAL, 0},
        {abc, lit, COMP_EQUAL, 0},          {abc, lit, COMP_STRICT_EQUAL, 1}, {abc, set, COMP_EQUAL, 0},
        {abc, abc, COMP_SAME, 0},           {abc, elsewhere, COMP_SAME, 1},   {abc, elsewhere, COMP_EQUAL, 0},
        {abc, elsewhere, COMP_STRICT_EQUAL, 0},
        {abc, issue, COMP_EQUAL, NOT_COMPARABLE}, {issue, abc, COMP_EQUAL, NOT_COMPARABLE},
        {issue, ISSUE, COMP_EQUAL, 0},      {issue, ISSUE, COMP_STRICT_EQUAL, 1},
        {abc, int_(1), COMP_EQUAL, NOT_COMPARABLE},
        // Ops 10 and 11: a word and a lit-word, by spelling or without case.
        {abc, lit, COMP_PARSE_CASE, 0},     {ABC, lit, COMP_PARSE_CASE, 1},   {ABC, lit, COMP_PARSE, 0},
        {abc, set, COMP_PARSE_CASE, 1},     {abc, set, COMP_PARSE, 1},        {abc, ABC, COMP_PARSE, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cmp(c.a, c.b, c.op), c.expected) << mold(c.a) << " " << mold(c.b) << " op " << c.op;

    // Ordering compares the spellings as texts.
    auto sign = [](i32 v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
    struct Order {
        const char* a;
        const char* b;
        i32 op;
        i32 expected;
    } orders[] = {
        {"abc", "abd", COMP_LESSER, -1}, {"abd", "abc", COMP_SORT, 1},  {"ab", "abc", COMP_SORT, -1},
        {"abc", "ab", COMP_SORT, 1},     {"B", "a", COMP_SORT, 1},     {"B", "a", COMP_CASE_SORT, -1},
        {"Abc", "aBC", COMP_SORT, 0},    {"Abc", "aBC", COMP_CASE_SORT, -1}, {"é", "É", COMP_SORT, 0},
        {"z", "é", COMP_SORT, -1},
    };
    for (const Order& o : orders)
        EXPECT_EQ(sign(cmp(w(o.a), w(o.b, TYPE_SET_WORD), o.op)), o.expected) << o.a << " " << o.b;
    EXPECT_TRUE(actions::compare(w("alpha"), w("beta"), COMP_LESSER));
    EXPECT_EQ(error_of([&] { actions::compare(abc, int_(1), COMP_LESSER); }), "script invalid-compare");
}

TEST_F(Words, IndexOf) {
    Cell* never = w("zz-never-looked-up");
    EXPECT_EQ(TYPE_OF(direct(ACT_INDEX_Q, never)), TYPE_NONE);
    Cell* known = bound_word("zz-known", int_(1));
    EXPECT_MOLD(direct(ACT_INDEX_Q, known), "1");
    Cell* global = stack::push(word::load("zz-index"));
    Cell* r = direct(ACT_INDEX_Q, global);
    EXPECT_EQ(i32(r->w2), i32(global->w3) + 1);
    EXPECT_EQ(error_of([&] { direct(ACT_INDEX_Q, w("x", TYPE_ISSUE)); }), "script expect-arg");
}

TEST_F(Words, ConversionsThatNeedNoLexer) {
    // Between word types: the binding is kept, the type changes.
    Cell* field = bound_word("zz-field", int_(3));
    Cell* s = to(TYPE_SET_WORD, field);
    EXPECT_EQ(TYPE_OF(s), TYPE_SET_WORD);
    EXPECT_EQ(s->w1, field->w1);
    EXPECT_EQ(s->w3, field->w3);
    EXPECT_MOLD(make(TYPE_LIT_WORD, field), "'zz-field");
    EXPECT_MOLD(to(TYPE_WORD, w("x", TYPE_GET_WORD)), "x");

    // Logic and datatype values name their global words.
    Cell* t = to(TYPE_WORD, logic_(true));
    EXPECT_EQ(spelling(t), "true");
    EXPECT_EQ(t->w1, context::global);
    EXPECT_EQ(i32(t->w3), context::find_word(context::global, sym("true"), true));
    EXPECT_EQ(spelling(to(TYPE_GET_WORD, logic_(false))), "false");
    Cell* integer = to(TYPE_WORD, datatype_(TYPE_INTEGER));
    EXPECT_MOLD(integer, "integer!");
    EXPECT_EQ(integer->w3, datatype::names[TYPE_INTEGER].word.w3);
    EXPECT_EQ(integer->w1, context::global);

    // Issues: any text will do, and the result is bound to nothing yet.
    Cell* blank = to(TYPE_ISSUE, str("a b"));
    EXPECT_MOLD(blank, "#a b");
    EXPECT_EQ(blank->w1, context::global);
    EXPECT_EQ(i32(blank->w3), -1);
    EXPECT_MOLD(to(TYPE_ISSUE, at_(str("xyz"), 1)), "#yz") << "from the head";
    Cell ch;
    cell::init(&ch, TYPE_CHAR);
    ch.w2 = 0x20AC;
    EXPECT_MOLD(to(TYPE_ISSUE, stack::push(&ch)), "#€");
    Cell* kept = to(TYPE_ISSUE, field);
    EXPECT_EQ(TYPE_OF(kept), TYPE_ISSUE);
    EXPECT_EQ(kept->w1, field->w1) << "a word keeps its binding";
    EXPECT_MOLD(to(TYPE_ISSUE, logic_(true)), "#true");

    struct Bad {
        u32 type;
        Cell* spec;
    } bad[] = {{TYPE_WORD, int_(12)}, {TYPE_ISSUE, int_(12)}, {TYPE_SET_WORD, none_()},
               {TYPE_WORD, test::block({})}, {TYPE_ISSUE, test::block({})}};
    for (const Bad& b : bad) EXPECT_EQ(error_of([&] { to(b.type, b.spec); }), "script bad-to-arg") << mold(b.spec);

    // Texts, and issues or refinements whose spelling must be loaded, go through the lexer.
    for (Cell* spec : {str("abc"), w("abc", TYPE_ISSUE), w("abc", TYPE_REFINEMENT)})
        EXPECT_MOLD(to(TYPE_WORD, spec), "abc") << mold(spec);
    Cell* text_char = stack::push(&ch);
    EXPECT_MOLD(to(TYPE_WORD, text_char), "€");
}

TEST_F(Words, ConversionsThroughTheLoader) {
    Cell* word = to(TYPE_WORD, str("zz-loaded"));
    EXPECT_EQ(TYPE_OF(word), TYPE_WORD);
    EXPECT_EQ(spelling(word), "zz-loaded");
    EXPECT_EQ(word->w1, context::global);
    Cell* from_refinement = to(TYPE_WORD, str("/zz-ref more"));
    EXPECT_EQ(TYPE_OF(from_refinement), TYPE_WORD) << "the first value, of any word type";
    EXPECT_EQ(spelling(from_refinement), "zz-ref");
    EXPECT_MOLD(to(TYPE_SET_WORD, str("'quoted")), "quoted:");
    for (const char* text : {"123", "", "   "})
        EXPECT_EQ(error_of([&] { to(TYPE_WORD, str(text)); }), "script invalid-chars") << text;
    Cell ch;
    cell::init(&ch, TYPE_CHAR);
    ch.w2 = 'q';
    EXPECT_MOLD(to(TYPE_WORD, stack::push(&ch)), "q");
    ch.w2 = '7';
    EXPECT_EQ(error_of([&] { to(TYPE_WORD, stack::push(&ch)); }), "script invalid-chars");

    // An issue or refinement becomes a word when its spelling loads as one.
    EXPECT_EQ(error_of([&] { to(TYPE_WORD, w("123", TYPE_ISSUE)); }), "script bad-to-arg");
    Cell* unbound = w("zz-abc-ref", TYPE_REFINEMENT);
    ASSERT_EQ(unbound->w1, 0u);
    Cell* bound = to(TYPE_WORD, unbound);
    EXPECT_EQ(TYPE_OF(bound), TYPE_WORD);
    EXPECT_EQ(bound->w1, context::global) << "bound to the global context";
    EXPECT_EQ(i32(bound->w3), context::find_word(context::global, sym("zz-abc-ref"), true));
    context::set(bound, int_(5));
    Cell* again = to(TYPE_GET_WORD, w("zz-abc-ref", TYPE_ISSUE));
    EXPECT_EQ(again->w3, bound->w3) << "a global word found is bound to its slot";
    EXPECT_MOLD(stack::push(context::get(again)), "5");
    EXPECT_MOLD(to(TYPE_REFINEMENT, w("zz-r", TYPE_ISSUE)), "/zz-r");
}

TEST_F(Words, GettingAndSettingForTheInterpreter) {
    Cell* g = stack::push(word::load("zz-interp"));
    EXPECT_EQ(error_of([&] { word::get_value(g); }), "script no-value");
    EXPECT_EQ(TYPE_OF(get_word::push_value(g)), TYPE_UNSET) << "get-words take unset values as they are";

    // set-word evaluation: the word and the value are the call's arguments.
    struct Call {
        Cell* saved = stack::arguments;
        ~Call() { stack::arguments = saved; }
    } call;
    Cell* args = stack::push(g);
    stack::push_slot()->header = TYPE_UNSET;
    stack::arguments = args;
    EXPECT_EQ(error_of([] { word::set_from_stack(); }), "script need-value");
    args[1] = *int_(8);
    word::set_from_stack();
    EXPECT_MOLD(stack::arguments, "8") << "the value is the result";
    stack::arguments = call.saved;
    EXPECT_MOLD(word::get_value(g), "8");
    EXPECT_MOLD(get_word::push_value(g), "8");
    EXPECT_MOLD(word::push(g), "zz-interp");

    Cell* made = word::push_global(sym("zz-pushed"));
    EXPECT_EQ(made->w1, context::global);
    EXPECT_EQ(i32(made->w3), context::find_word(context::global, sym("zz-pushed"), false));
    EXPECT_EQ(word::get_in(context::global, i32(g->w3))->w2, 8u);
    const Cell* s = word::symbol_cell(g);
    EXPECT_EQ(TYPE_OF(s), TYPE_SYMBOL);
    EXPECT_NE(s->w2, 0u) << "its spelling string is made";
    EXPECT_EQ(symbol::get_buffer(i32(g->w2)), s->w2) << "made once";
    Cell* spelling = stack::push_scalar(TYPE_STRING);
    spelling->w2 = s->w2;
    EXPECT_EQ(string::to_std(spelling), "zz-interp");
}

TEST_F(Words, CallerNameIsTheFramesWordBoundToItsContext) {
    struct Frames {
        stack::Frame* call_top = stack::call_top;
        Cell* arguments = stack::arguments;
        Cell* top = stack::top;
        ~Frames() {
            stack::call_top = call_top;
            stack::arguments = arguments;
            stack::top = top;
        }
    } restore;
    Cell* field = bound_word("zz-method", int_(1));
    Cell name;
    stack::mark(u32(sym("zz-method")), field->w1, stack::FRAME_NATIVE);
    stack::mark(u32(sym("<body>")), 0, stack::FRAME_NATIVE);
    stack::caller_name(&name);
    EXPECT_EQ(name.w1, field->w1) << "the frame's word in its context";
    EXPECT_EQ(name.w3, field->w3);
    EXPECT_EQ(spelling(&name), "zz-method");

    stack::mark(u32(sym("zz-free-call")), 0, stack::FRAME_NATIVE);
    stack::caller_name(&name);
    EXPECT_EQ(name.w1, context::global) << "otherwise the global word";
    EXPECT_EQ(i32(name.w3), context::find_word(context::global, sym("zz-free-call"), false));

    stack::mark(u32(sym("zz-Method")), field->w1, stack::FRAME_NATIVE);
    stack::caller_name(&name);
    EXPECT_EQ(name.w1, context::global) << "that very spelling: a twin in the context does not count";
    EXPECT_EQ(spelling(&name), "zz-Method");

    stack::call_top = restore.call_top;
    stack::caller_name(&name);
    EXPECT_EQ(spelling(&name), "<not-found>");
}

TEST_F(Words, DatatypesHaveTheirWords) {
    for (u32 t : {TYPE_BLOCK, TYPE_WORD, TYPE_ISSUE, TYPE_OP, TYPE_CONTEXT}) {
        const Cell& word = datatype::names[t].word;
        EXPECT_EQ(TYPE_OF(&word), TYPE_WORD);
        EXPECT_EQ(word.w1, context::global);
        EXPECT_EQ(spelling(&word), datatype::name_of(t));
    }
    // A datatype registered late gets its word at once.
    const u32 late = TYPE_TOTAL - 1;
    datatype::TypeName saved = datatype::names[late];
    u32 highest = datatype::highest;
    datatype::register_(datatype::Registration(late, 0, "zz-late!"));
    EXPECT_EQ(spelling(&datatype::names[late].word), "zz-late!");
    EXPECT_EQ(datatype::names[late].word.w1, context::global);
    datatype::names[late] = saved;
    datatype::highest = highest;
}

}  // namespace
}  // namespace zir
