// object!: construction (make, construct, copies), class ids, fields and
// reflection, text, comparison, path access, select, put, modify, set, and
// the change handlers on-change* and on-deep-change*.
#include <functional>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/none.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

// Handler calls as the interpreter would receive them: the name, the flags
// and the molded cells of the frame (arguments, then locals).
std::vector<std::string> calls;
// Run inside each handler call, when set: what a hostile handler does.
std::function<void()> during_call;

void record_call(const Cell* fn, u32 ctx, const Cell* name, i32 flags) {
    std::string text = std::string(symbol::spelling(i32(name->w2))) + " " + std::to_string(flags);
    for (Cell* c = stack::arguments; c < stack::top; c++) text += " " + (TYPE_OF(c) == TYPE_OBJECT ? "<object>" : mold(c));
    if (ctx != fn->w1) text += " (wrong context)";
    calls.push_back(text);
    if (during_call) during_call();
    cell::init(stack::arguments, TYPE_NONE);
}

struct Objects : ValueTest {
    void (*saved_eval)(const Cell*, Cell*) = nullptr;
    void (*saved_call)(const Cell*, u32, const Cell*, i32) = nullptr;
    void SetUp() override {
        ValueTest::SetUp();
        saved_eval = object::eval_block;
        saved_call = object::call_function;
        object::eval_block = evaluate_sets;
        object::call_function = record_call;
        calls.clear();
        during_call = nullptr;
    }
    void TearDown() override {
        object::eval_block = saved_eval;
        object::call_function = saved_call;
        during_call = nullptr;
        ValueTest::TearDown();
    }
    // make object! [spec], or make proto [spec].
    static Cell* make(const char* spec, const Cell* proto = nullptr) {
        Cell* p = proto ? stack::push(proto) : datatype_(TYPE_OBJECT);
        return object::make(p, read_block(spec), TYPE_OBJECT);
    }
    // A function from texts, kept as the value of a global word so that an
    // object's spec can name it.
    static Cell* global_func(const char* name, const char* spec, const char* body) {
        Cell* s = read_block(spec);
        function::push(s, read_block(body), 0, 0, 0, 0);
        Cell* fn = stack::top - 1;
        context::set(stack::push(word::load(name)), fn);
        return fn;
    }
    static Cell* reflect(const Cell* value, const char* field) {
        Cell* v = stack::push(value);
        return object::reflect(v, symbol::make(field));
    }
    static Cell* field(const Cell* obj, const char* name) {
        return const_cast<Cell*>(object::select_value(obj, test::word(name)));
    }
    static Cell* path(const Cell* obj, const char* name, const Cell* value = nullptr, bool get = false,
                      bool last = true) {
        Cell* o = stack::push(obj);
        return object::eval_path(o, test::word(name), const_cast<Cell*>(value), nullptr, nullptr, nullptr, 0, false, get,
                                 last, false);
    }
};

// --- Making ----------------------------------------------------------------------

TEST_F(Objects, MakeEvaluatesItsSpecInTheNewContext) {
    Cell* o = make("a:\n1 b: c: \"x\" d: 'w");
    EXPECT_EQ(TYPE_OF(o), TYPE_OBJECT);
    EXPECT_EQ(object::get_size(o), 4);
    EXPECT_MOLD(o, "make object! [\n    a: 1\n    b: \"x\"\n    c: \"x\"\n    d: 'w\n]");
    EXPECT_GT(o->w2, object::FIRST_CLASS_ID);
    EXPECT_EQ(o->w3, 0u) << "no handlers";
    EXPECT_EQ(context::owner_of(o->w1)->w1, o->w1) << "the context's owner cell holds the object";
    EXPECT_TRUE(context::cell_of(o->w1)->header & context::HAS_SELF);
    EXPECT_MOLD(reflect(o, "changed"), "[]") << "changed flags cleared after making";
    for (i32 i = 0; i < 4; i++) EXPECT_FALSE(context::value_at(context::cell_of(o->w1), i)->header & FLAG_NEW_LINE);

    EXPECT_EQ(error_of([&] { object::make(datatype_(TYPE_OBJECT), int_(1), TYPE_OBJECT); }), "syntax malconstruct");
    object::eval_block = nullptr;
    EXPECT_EQ(error_of([&] { make("a: 1"); }), "internal not-done") << "no interpreter";
}

TEST_F(Objects, PushGivesEveryWordAValue) {
    collector::RootNode ctx(context::create(2, false, true, 0, context::KIND_OBJECT));
    i32 slot;
    context::find_or_put(ctx, symbol::make("zz-p"), true, &slot);
    context::find_or_put(ctx, symbol::make("zz-q"), true, &slot);
    Cell* o = object::push(ctx, 77);
    EXPECT_EQ(o->w2, 77u);
    EXPECT_EQ(o->w3, 0u);
    EXPECT_EQ(context::owner_of(ctx)->w1, u32(ctx));
    EXPECT_MOLD(o, "make object! [\n    zz-p: unset\n    zz-q: unset\n]");
    u32 record = object::make_handlers(0, 0, object::NO_HANDLER, 0, 3, 2);
    const Cell* h = series::head_cells(node_buffer(record));
    EXPECT_EQ(TYPE_OF(&h[object::ON_CHANGE]), TYPE_PAIR);
    EXPECT_EQ(h[object::ON_CHANGE].w2 >> 16, 0xFFFFu) << "no handler";
    EXPECT_EQ(h[object::ON_DEEP_CHANGE].w2, (3u << 16) | 2u);
}

TEST_F(Objects, ClassIds) {
    Cell* proto = make("a: 1 b: 2");
    u32 base = proto->w2;
    EXPECT_GT(base, object::FIRST_CLASS_ID);
    EXPECT_EQ(make("a: 10", proto)->w2, base) << "setting fields only keeps the class";
    Cell* more = make("c: 3", proto);
    EXPECT_GT(more->w2, base) << "a new field makes a new class";
    EXPECT_MOLD(stack::push(field(more, "a")), "1");
    EXPECT_NE(make("a: 1 b: 2")->w2, base) << "every make object! is a new class";

    // From an object spec.
    Cell* setter = make("b: 20");
    Cell* same = object::make(stack::push(proto), setter, TYPE_OBJECT);
    EXPECT_EQ(same->w2, base);
    EXPECT_MOLD(stack::push(field(same, "b")), "20");
    Cell* adder = make("z: 0");
    EXPECT_GT(object::make(stack::push(proto), adder, TYPE_OBJECT)->w2, base);

    // construct: a copy of its prototype keeps the class even when adding.
    Cell* built = object::construct(read_block("c: 3"), proto, false);
    EXPECT_EQ(built->w2, base);
    EXPECT_EQ(object::get_size(built), 3);
    Cell* fresh = object::construct(read_block("c: 3"), nullptr, false);
    EXPECT_GT(fresh->w2, more->w2);
}

TEST_F(Objects, MakeFromAPrototypeCopiesItsSeriesAndRebindsItsFunctions) {
    global_func("zz-get-a", "", "a");
    Cell* proto = make("a: [1 2] s: \"t\" f: zz-get-a");
    // The function's body refers to the global `a` until it is rebuilt.
    Cell* child = make("a: [3]", proto);
    Cell* pa = stack::push(field(proto, "a"));
    EXPECT_MOLD(pa, "[1 2]");
    Cell* ps = stack::push(field(proto, "s"));
    EXPECT_NE(field(child, "s")->w2, ps->w2) << "series values are copied";
    Cell* body = function::record_cell(field(child, "f"), function::RECORD_BODY);
    EXPECT_EQ(block::cell_at(body->w2, 0)->w1, child->w1) << "a function's body is bound to the new object";
    Cell* pbody = function::record_cell(field(proto, "f"), function::RECORD_BODY);
    EXPECT_EQ(block::cell_at(pbody->w2, 0)->w1, context::global) << "the prototype's is left alone";
    EXPECT_NE(field(child, "f")->w3, field(proto, "f")->w3) << "a function of its own";

    // From an object spec: its fields are put, copied and rebuilt too.
    Cell* spec = make("a: [9] g: zz-get-a");
    Cell* merged = object::make(stack::push(proto), spec, TYPE_OBJECT);
    EXPECT_MOLD(stack::push(field(merged, "a")), "[9]");
    EXPECT_NE(field(merged, "a")->w2, field(spec, "a")->w2);
    Cell* gbody = function::record_cell(field(merged, "g"), function::RECORD_BODY);
    EXPECT_EQ(block::cell_at(gbody->w2, 0)->w1, merged->w1);
}

TEST_F(Objects, Construct) {
    Cell* o = object::construct(read_block("a: b: 1 c: true d: yes e: on f: off g: no h: FALSE i: none j: \"s\" k:"),
                                nullptr, false);
    EXPECT_MOLD(o,
                "make object! [\n    a: 1\n    b: 1\n    c: true\n    d: true\n    e: true\n    f: false\n"
                "    g: false\n    h: false\n    i: none\n    j: \"s\"\n    k: none\n]");
    EXPECT_EQ(TYPE_OF(field(o, "c")), TYPE_LOGIC);
    EXPECT_EQ(TYPE_OF(field(o, "i")), TYPE_NONE);
    Cell* only = object::construct(read_block("c: true i: none w: other"), nullptr, true);
    EXPECT_MOLD(only, "make object! [\n    c: 'true\n    i: 'none\n    w: 'other\n]");
    // Nothing is evaluated.
    object::eval_block = nullptr;
    Cell* quoted = object::construct(read_block("p: (1 + 2) q: [x: 1]"), nullptr, false);
    EXPECT_MOLD(stack::push(field(quoted, "p")), "(1 + 2)");
    EXPECT_EQ(object::get_size(quoted), 2);
    // Over a prototype: its fields stay, new ones join.
    Cell* with = object::construct(read_block("b: 2 z: 3"), o, false);
    EXPECT_MOLD(stack::push(field(with, "a")), "1");
    EXPECT_MOLD(stack::push(field(with, "b")), "2");
    EXPECT_MOLD(stack::push(field(o, "b")), "1") << "the prototype is left alone";
    EXPECT_MOLD(stack::push(field(with, "z")), "3");
}

// --- Copies -----------------------------------------------------------------------

TEST_F(Objects, CopiesShallowAndDeep) {
    Cell* o = make("a: [1 [2]] s: \"t\" n: 5");
    Cell* shallow = stack::push(&none::value);
    object::copy(o, shallow, nullptr, false, nullptr);
    EXPECT_EQ(TYPE_OF(shallow), TYPE_OBJECT);
    EXPECT_EQ(shallow->w2, o->w2) << "same class";
    EXPECT_NE(shallow->w1, o->w1) << "a context of its own";
    EXPECT_EQ(field(shallow, "a")->w2, field(o, "a")->w2) << "series shared";
    EXPECT_EQ(context::word_at(context::cell_of(shallow->w1), 0)->w1, shallow->w1) << "words rebound";

    Cell* deep = stack::push(&none::value);
    object::copy(o, deep, nullptr, true, nullptr);
    EXPECT_NE(field(deep, "a")->w2, field(o, "a")->w2);
    EXPECT_NE(block::cell_at(field(deep, "a")->w2, 1)->w2, block::cell_at(field(o, "a")->w2, 1)->w2);
    EXPECT_NE(field(deep, "s")->w2, field(o, "s")->w2);
    EXPECT_MOLD(deep, mold(o));

    // Only the filtered types.
    Cell* typed = stack::push(&none::value);
    object::copy(o, typed, nullptr, true, datatype_(TYPE_STRING));
    EXPECT_NE(field(typed, "s")->w2, field(o, "s")->w2);
    EXPECT_EQ(field(typed, "a")->w2, field(o, "a")->w2);

    EXPECT_EQ(error_of([&] { object::copy(o, stack::push(o), int_(1), false, nullptr); }),
              "script invalid-refine-arg");
}

TEST_F(Objects, DeepCopiesOfCyclicObjects) {
    Cell* o = make("a: [1] me: none");
    *field(o, "me") = *o;
    block::zs_append(stack::push(field(o, "a")), o);
    // Series are copied, objects met inside them are not: no cycle is met.
    Cell* deep = stack::push(&none::value);
    object::copy(o, deep, nullptr, true, nullptr);
    EXPECT_EQ(field(deep, "me")->w1, o->w1);
    // Copying the objects too comes back to the first one.
    Cell* typed = stack::push(&none::value);
    EXPECT_EQ(error_of([&] { object::copy(o, typed, nullptr, true, typeset_({TYPE_OBJECT})); }), "internal no-cycle");
    EXPECT_EQ(cycles::depth(), 0) << "the cycle guard is left clean";
}

// --- Text ---------------------------------------------------------------------------

TEST_F(Objects, MoldOfNestedAndSelfContainingObjects) {
    Cell* o = make("a: 1 inner: none w: 'word p: none");
    *field(o, "inner") = *make("b: [x y] deeper: none");
    *field(field(o, "inner"), "deeper") = *make("c: \"z\"");
    *field(o, "p") = *o;
    EXPECT_MOLD(o,
                "make object! [\n"
                "    a: 1\n"
                "    inner: make object! [\n"
                "        b: [x y]\n"
                "        deeper: make object! [\n"
                "            c: \"z\"\n"
                "        ]\n"
                "    ]\n"
                "    w: 'word\n"
                "    p: make object! [...]\n"
                "]");
    MoldOptions flat;
    flat.flat = true;
    EXPECT_EQ(mold(o, flat),
              "make object! [a: 1 inner: make object! [b: [x y] deeper: make object! [c: \"z\"]] w: 'word "
              "p: make object! [...]]");
    EXPECT_FORM(stack::push(field(o, "inner")), "b: [x y]\ndeeper: make object! [\n    c: \"z\"\n]");
    EXPECT_MOLD(make(""), "make object! []");
    Cell* holder = make("e: none");
    *field(holder, "e") = *make("");
    EXPECT_MOLD(holder, "make object! [\n    e: make object! []\n]");
    MoldOptions only;
    only.only = true;
    EXPECT_EQ(mold(make("a: 1 b: 2"), only), "    a: 1\n    b: 2\n");
    MoldOptions part;
    part.part = 20;
    EXPECT_EQ(mold(o, part), "make object! [\n    a");
}

TEST_F(Objects, HandlerFieldsAreMoldedOnlyWithAll) {
    global_func("zz-on-change", "word old new", "");
    Cell* o = make("a: 1 on-change*: zz-on-change");
    EXPECT_MOLD(o, "make object! [\n    a: 1\n]");
    MoldOptions flat;
    flat.flat = true;
    EXPECT_EQ(mold(o, flat), "make object! [a: 1]") << "no separator after the last field written";
    MoldOptions all;
    all.all = true;
    EXPECT_EQ(mold(o, all), "make object! [\n    a: 1\n    on-change*: func [word old new][]\n]");
}

// --- Reflection -----------------------------------------------------------------------

TEST_F(Objects, Reflect) {
    Cell* o = make("a: 1 b: 'w c: none");
    *field(o, "c") = *test::block({test::word("x"), test::word("y")}, TYPE_PATH);
    EXPECT_MOLD(reflect(o, "words"), "[a b c]");
    Cell* words = reflect(o, "words");
    EXPECT_EQ(block::cell_at(words->w2, 1)->w1, o->w1) << "bound to the object";
    EXPECT_MOLD(reflect(o, "values"), "[1 w x/y]");
    EXPECT_MOLD(reflect(o, "body"), "[\n    a: 1\n    b: 'w\n    c: 'x/y\n]");
    Cell* body = reflect(o, "body");
    EXPECT_EQ(block::cell_at(body->w2, 2)->w1, o->w1);
    EXPECT_MOLD(reflect(o, "class"), std::to_string(o->w2));
    EXPECT_MOLD(reflect(o, "owner"), "false");
    EXPECT_MOLD(reflect(o, "events?"), "false");
    EXPECT_EQ(error_of([&] { reflect(o, "spec"); }), "internal not-done");

    EXPECT_MOLD(reflect(o, "changed"), "[]");
    path(o, "b", int_(2));
    context::set(stack::push(block::cell_at(reflect(o, "words")->w2, 2)), int_(3));
    EXPECT_MOLD(reflect(o, "changed"), "[b c]") << "exactly the fields set since the flags were cleared";
    object::modify(o, symbol::make("changed"), none_(), false);
    EXPECT_MOLD(reflect(o, "changed"), "[]");
    EXPECT_EQ(error_of([&] { object::modify(o, symbol::make("changed"), int_(1), false); }), "script invalid-arg");
}

// --- Comparison ----------------------------------------------------------------------

TEST_F(Objects, Comparison) {
    Cell* two = make("a: 1 b: 2");
    Cell* three = make("a: 1 b: 2 c: 3");
    EXPECT_TRUE(actions::compare(three, two, COMP_LESSER)) << "more words is the lesser";
    EXPECT_TRUE(actions::compare(two, three, COMP_GREATER));
    EXPECT_TRUE(actions::compare(two, make("a: 1 b: 2"), COMP_EQUAL));
    EXPECT_TRUE(actions::compare(two, make("A: 1 B: 2"), COMP_EQUAL)) << "words compare without case";
    EXPECT_FALSE(actions::compare(two, make("a: 1 b: 2"), COMP_SAME));
    EXPECT_TRUE(actions::compare(two, stack::push(two), COMP_SAME));
    EXPECT_FALSE(actions::compare(two, make("a: 1 b: 3"), COMP_EQUAL));
    EXPECT_TRUE(actions::compare(two, make("a: 1 b: 3"), COMP_LESSER));
    EXPECT_TRUE(actions::compare(make("a: 1 b: 2.0"), two, COMP_EQUAL)) << "numbers compare across types";
    EXPECT_TRUE(actions::compare(make("a: 1 b: \"x\""), two, COMP_LESSER)) << "then by type id: string! first";
    EXPECT_EQ(actions::compare_typed(two, int_(1), COMP_EQUAL), NOT_COMPARABLE);

    // Objects that hold themselves compare without end.
    Cell* x = make("me: none");
    *field(x, "me") = *x;
    Cell* y = make("me: none");
    *field(y, "me") = *y;
    EXPECT_TRUE(actions::compare(x, y, COMP_EQUAL));
    EXPECT_EQ(cycles::depth(), 0);
}

// --- Path access, select, put ------------------------------------------------------------

TEST_F(Objects, PathAccess) {
    Cell* o = make("a: 1 u: none");
    *field(o, "u") = unset::value;
    EXPECT_MOLD(stack::push(path(o, "a")), "1");
    EXPECT_MOLD(stack::push(path(o, "A")), "1");
    Cell* element = test::word("a");
    Cell* obj = stack::push(o);
    object::eval_path(obj, element, nullptr, nullptr, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(element->w1, o->w1) << "the element is rebound to the object";
    EXPECT_EQ(element->w3, 0u);

    struct Case {
        const char* name;
        bool get, last;
        const char* error;
    } cases[] = {
        {"zz", true, true, ""},  {"zz", false, true, "script invalid-path"},
        {"zz", false, false, "script unset-path"}, {"zz", true, false, "script unset-path"},
        {"u", true, true, ""},   {"u", false, true, "script invalid-path"},
        {"u", false, false, "script unset-path"},
    };
    for (const Case& c : cases) {
        Cell* r = nullptr;
        EXPECT_EQ(error_of([&] { r = path(o, c.name, nullptr, c.get, c.last); }), c.error) << c.name;
        if (!*c.error) {
            EXPECT_EQ(TYPE_OF(r), TYPE_UNSET);
        }
    }
    EXPECT_EQ(error_of([&] { object::eval_path(stack::push(o), int_(1), nullptr, nullptr, nullptr, nullptr, 0, false,
                                               false, true, false); }),
              "script invalid-path");

    // Setting.
    Cell* two = int_(2);
    EXPECT_EQ(path(o, "a", two), two);
    EXPECT_MOLD(stack::push(field(o, "a")), "2");
    EXPECT_EQ(error_of([&] { path(o, "zz", int_(3)); }), "script invalid-path");
    Cell* self = test::word("self");
    self->w1 = o->w1;
    EXPECT_EQ(error_of([&] { object::eval_path(stack::push(o), self, int_(3), nullptr, nullptr, nullptr, 0, false,
                                               false, true, false); }),
              "script invalid-path");
}

TEST_F(Objects, SelectPutModify) {
    Cell* o = make("a: 1 b: [2]");
    EXPECT_MOLD(object::select(stack::push(o), test::word("b"), nullptr, false, false, false, false, nullptr, nullptr,
                               false, false),
                "[2]");
    EXPECT_MOLD(object::select(stack::push(o), test::word("zz", TYPE_LIT_WORD), nullptr, false, false, false, false,
                               nullptr, nullptr, false, false),
                "none");
    EXPECT_EQ(error_of([&] { object::select(stack::push(o), int_(1), nullptr, false, false, false, false, nullptr,
                                            nullptr, false, false); }),
              "script invalid-type");
    object::put(stack::push(o), test::word("a"), int_(5), false);
    EXPECT_MOLD(stack::push(field(o, "a")), "5");
    EXPECT_EQ(error_of([&] { object::put(stack::push(o), test::word("a", TYPE_SET_WORD), int_(5), false); }),
              "script invalid-key-type");

    // Ownership: an owner's series report to it.
    EXPECT_MOLD(reflect(o, "owner"), "false");
    object::modify(o, symbol::make("owner"), none_(), false);
    EXPECT_MOLD(reflect(o, "owner"), "true");
    EXPECT_TRUE(node_buffer(field(o, "b")->w2)->flags & SERIES_OWNED);
    object::modify(o, symbol::make("owned"), none_(), false);
    EXPECT_MOLD(reflect(o, "owner"), "false");
    EXPECT_FALSE(node_buffer(field(o, "b")->w2)->flags & SERIES_OWNED);
    Cell* parent = make("kid: none");
    object::modify(o, symbol::make("owned"), test::block({parent, test::word("kid")}), false);
    Cell* entry = ownership::find(field(o, "b")->w2);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry[1].w1, parent->w1);
    EXPECT_EQ(error_of([&] { object::modify(o, symbol::make("owned"), int_(1), false); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { object::modify(o, symbol::make("zz"), int_(1), false); }), "internal not-done");
}

// --- set -----------------------------------------------------------------------------

TEST_F(Objects, SetMany) {
    struct Case {
        const char* value;   // read as a block; "~" stands for unset
        bool any, only, some;
        const char* result;
        const char* error;
    } cases[] = {
        {"[1 2 3]", false, false, false, "1 2 3", ""},
        {"[1]", false, false, false, "1 none none", ""},
        {"[1 none 3]", false, false, true, "1 old 3", ""},
        {"[1 ~ 3]", false, false, false, "", "script need-value"},
        {"[1 ~ 3]", true, false, false, "1 unset 3", ""},
        {"[1 ~ 3]", false, false, true, "1 unset 3", ""},
        {"[1 2]", false, true, false, "[1 2] [1 2] [1 2]", ""},
        {"7", false, false, false, "7 7 7", ""},
    };
    for (const Case& c : cases) {
        Cell* o = make("a: 'old b: 'old c: 'old");
        Cell* v = stack::push(block::zs_head(read_block(c.value)));
        if (TYPE_OF(v) == TYPE_BLOCK) {
            for (i32 i = 0; i < block::zs_length_q(v); i++) {
                Cell* item = block::cell_at(v->w2, i);
                if (TYPE_OF(item) != TYPE_WORD) continue;
                std::string_view name = symbol::spelling(i32(item->w2));
                if (name == "~") *item = unset::value;
                if (name == "none") *item = none::value;
            }
        }
        EXPECT_EQ(error_of([&] { object::set_many(o, v, c.any, c.only, c.some); }), c.error) << c.value;
        if (*c.error) {
            EXPECT_MOLD(reflect(o, "values"), "[old old old]") << "checked before anything is set";
            continue;
        }
        EXPECT_EQ(mold(reflect(o, "values"), MoldOptions{.only = true}), c.result) << c.value;
    }
    // From an object: the fields of the same words.
    Cell* o = make("a: 1 b: 2 c: 3");
    object::set_many(o, make("C: 30 zz: 0 a: 10"), false, false, false);
    EXPECT_MOLD(reflect(o, "values"), "[10 2 30]");
    EXPECT_MOLD(reflect(o, "changed"), "[a c]");
}

// --- Change handlers ---------------------------------------------------------------------

TEST_F(Objects, OnChangeHearsEverySetWithTheOldAndNewValue) {
    global_func("zz-on-change", "word old new /local tmp", "tmp: new");
    Cell* o = make("a: 1 b: 2 on-change*: zz-on-change");
    ASSERT_NE(o->w3, 0u);
    EXPECT_MOLD(reflect(o, "events?"), "true");
    EXPECT_TRUE(calls.empty()) << "making does not call it";

    path(o, "a", int_(10));
    Cell* b = stack::push(block::cell_at(reflect(o, "words")->w2, 1));
    context::set(b, int_(20));
    Cell* handler = stack::push(field(o, "on-change*"));
    object::set_many(o, test::block({int_(100), int_(200), handler}), false, false, false);
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "on-change* 8 a 1 10 false none",
                         "on-change* 8 b 2 20 false none",
                         "on-change* 8 a 10 100 false none",
                         "on-change* 8 b 20 200 false none",
                     }));
    EXPECT_MOLD(stack::push(field(o, "a")), "100");

    // A handler replaced by one with more locals is counted again; set does not
    // report the handler fields themselves.
    Cell* bigger = global_func("zz-bigger", "word old new /local x y z", "");
    object::set_many(o, test::block({int_(1), int_(2), bigger}), false, false, false);
    calls.clear();
    path(o, "a", int_(5));
    EXPECT_EQ(calls, (std::vector<std::string>{"on-change* 8 a 1 5 false none none none"}));

    // Set to a value that is not a function, the handler is refused.
    calls.clear();
    EXPECT_EQ(error_of([&] { path(o, "on-change*", int_(0)); }), "script invalid-obj-evt");
    EXPECT_EQ(error_of([&] { path(o, "a", int_(6)); }), "script invalid-obj-evt");
    EXPECT_TRUE(calls.empty());

    object::call_function = nullptr;
    Cell* quiet = make("a: 1 on-change*: zz-on-change");
    EXPECT_EQ(error_of([&] { path(quiet, "a", int_(2)); }), "internal not-done") << "no interpreter";
    EXPECT_MOLD(stack::push(field(quiet, "a")), "2") << "the value is set before the handler runs";
}

TEST_F(Objects, HandlersMustBeFunctions) {
    EXPECT_EQ(error_of([&] { make("a: 1 on-change*: 5"); }), "script bad-field-set");
    try {
        make("on-deep-change*: \"x\"");
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 2);
        EXPECT_EQ(mold(&e.args[0]), "on-deep-change*");
        EXPECT_EQ(mold(&e.args[1]), "string!");
    }
}

TEST_F(Objects, AHostileHandlerThatGrowsTheObjectAndCollects) {
    global_func("zz-on-change", "word old new", "");
    Cell* o = make("a: 1 b: 2 c: 3 on-change*: zz-on-change");
    i32 added = 0;
    Cell* values = read_block("[x] [y] [z]");
    block::zs_append(values, stack::push(field(o, "on-change*")));
    during_call = [&] {
        if (added == 3) return;
        context::add_word(o->w1, symbol::make("zz-grown-" + std::to_string(added++)));
        collector::do_cycle();
    };
    // /some: the fields the handler adds meanwhile take none, and are skipped.
    object::set_many(o, values, false, false, true);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_MOLD(stack::push(field(o, "c")), "[z]");
    EXPECT_EQ(object::get_size(o), 4 + 3);
    path(o, "b", read_block("q"));
    EXPECT_MOLD(stack::push(field(o, "b")), "[q]");
}

TEST_F(Objects, OnDeepChangeHearsChangesToOwnedSeries) {
    global_func("zz-on-deep", "owner word target action new index part", "");
    Cell* o = make("items: [1 2] on-deep-change*: zz-on-deep");
    EXPECT_MOLD(reflect(o, "owner"), "true") << "an object with on-deep-change* owns its series";
    Cell* items = stack::push(field(o, "items"));
    block::insert(items, int_(3), nullptr, false, nullptr, true);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "on-deep-change* 16 <object> items [1 2] append 3 2 1");
    EXPECT_EQ(calls[1], "on-deep-change* 16 <object> items [1 2 3] appended 3 2 1");

    // A handler that empties the series before the change and collects: the
    // change is made to the series as it then is.
    calls.clear();
    during_call = [&] {
        if (calls.size() == 1) block::zs_clear(stack::push(field(o, "items")));
        collector::do_cycle();
    };
    block::insert(items, int_(4), nullptr, false, nullptr, true);
    during_call = nullptr;
    EXPECT_MOLD(stack::push(field(o, "items")), "[4]");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], "on-deep-change* 16 <object> items [4] appended 4 0 1");

    // Without a record, a deep event is refused; a handler that is not a
    // function is passed over.
    Cell* plain = make("x: 1");
    EXPECT_EQ(error_of([&] { object::fire_on_deep_set(plain, test::word("x"), none_(), test::word("a"), nullptr, 0, 0); }),
              "script invalid-obj-evt");
    calls.clear();
    *field(o, "on-deep-change*") = *int_(1);
    object::fire_on_deep_set(o, test::word("items"), none_(), test::word("a"), nullptr, 0, 0);
    EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace zir
