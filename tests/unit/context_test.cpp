// Contexts: making them, finding and adding words, binding, getting and
// setting values (change events included), cloning, and the global context
// whose letter-case twins share one slot.
#include <string>

#include "boot/roots.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;
using collector::RootNode;

i32 sym(const char* s) { return symbol::make(s); }

// An object! on the value stack over a fresh object context holding the
// fields (all unset), which the context's owner cell holds too.
Cell* object_(std::initializer_list<const char*> fields, bool handlers = false) {
    Cell* obj = stack::push_slot();
    cell::init(obj, TYPE_UNSET);
    u32 ctx = context::create(i32(fields.size()), false, true, 0, context::KIND_OBJECT);
    cell::init(obj, TYPE_OBJECT);
    obj->w1 = ctx;
    if (handlers) obj->w3 = object::make_handlers(0, 0, object::NO_HANDLER, 0, object::NO_HANDLER, 0);
    for (const char* f : fields) context::add_word(ctx, sym(f));
    *context::owner_of(ctx) = *obj;
    return obj;
}

// A word of the spelling bound to the context (slot found, or -1).
Cell* bound(const char* spelling, u32 ctx) {
    Cell* w = test::word(spelling);
    context::bind_word(ctx, w);
    if (w->w1 == 0) w->w1 = ctx;
    return w;
}

struct Contexts : ValueTest {
    void TearDown() override {
        test::restore_hooks();
        ValueTest::TearDown();
    }
};

TEST_F(Contexts, CreateMakesRoomForAtLeastOneWord) {
    RootNode ctx(context::create(0, false, false, 0, context::KIND_OBJECT));
    const Cell* c = context::cell_of(ctx);
    EXPECT_EQ(TYPE_OF(c), TYPE_CONTEXT);
    EXPECT_EQ(context::kind_of(c), context::KIND_OBJECT);
    EXPECT_EQ(context::word_count(c), 0);
    EXPECT_GE(node_buffer(c->w2)->size, 16u) << "values block with room for one";
    EXPECT_EQ(TYPE_OF(context::owner_of(ctx)), TYPE_UNSET);
    EXPECT_EQ(context::add_word(ctx, sym("only")), 0);
    EXPECT_EQ(series::length_of(node_buffer(context::cell_of(ctx)->w2)), 1);

    RootNode fn(context::create(3, true, false, 0, context::KIND_FUNCTION));
    const Cell* f = context::cell_of(fn);
    EXPECT_TRUE(f->header & context::ON_STACK);
    EXPECT_EQ(f->w2, 0u) << "a function that is not running has no values";
    EXPECT_EQ(context::kind_of(f), context::KIND_FUNCTION);
}

TEST_F(Contexts, MakeTakesTheArgumentWordsOfASpec) {
    // a /b c: d -> a b d; a twin of a word there (A) and a repeat are not added.
    Cell* spec = test::block({test::word("a"), test::word("b", TYPE_REFINEMENT), test::word("c", TYPE_SET_WORD), test::word("d"), str("doc"),
                        test::word("A"), test::word("a", TYPE_LIT_WORD), test::word("e", TYPE_GET_WORD), int_(1)});
    RootNode ctx(context::make(spec, false, false, context::KIND_OBJECT));
    const Cell* c = context::cell_of(ctx);
    ASSERT_EQ(context::word_count(c), 4);
    const char* expected[] = {"a", "b", "d", "e"};
    for (i32 i = 0; i < 4; i++) {
        EXPECT_EQ(symbol::spelling(i32(context::word_at(c, i)->w2)), expected[i]);
        EXPECT_EQ(context::word_at(c, i)->w1, ctx.node) << "word cells are bound to their context";
        EXPECT_EQ(i32(context::word_at(c, i)->w3), i);
    }
    EXPECT_EQ(series::length_of(node_buffer(c->w2)), 4) << "one value per word";
    EXPECT_EQ(TYPE_OF(context::value_at(c, 3)), TYPE_UNSET);
}

TEST_F(Contexts, MakeCountsFromTheFirstCellWithoutOverrunningItsValues) {
    // The block's head is past most of its words: every word of the series
    // still counts, and each gets a value cell of its own.
    Cell* spec = at_(test::block({test::word("p"), test::word("q"), test::word("r"), test::word("s"), test::word("t")}), 4);
    RootNode ctx(context::make(spec, false, false, context::KIND_OBJECT));
    const Cell* c = context::cell_of(ctx);
    EXPECT_EQ(context::word_count(c), 5);
    EXPECT_EQ(series::length_of(node_buffer(c->w2)), 5);
    for (i32 i = 0; i < 5; i++) EXPECT_EQ(TYPE_OF(context::value_at(c, i)), TYPE_UNSET);
}

TEST_F(Contexts, FindAddPutAndAddWith) {
    Cell* obj = object_({"alpha", "beta"});
    u32 ctx = obj->w1;
    EXPECT_EQ(context::find_word(ctx, sym("beta"), false), 1);
    EXPECT_EQ(context::find_word(ctx, sym("BETA"), false), -1) << "without alias the spelling must match";
    EXPECT_EQ(context::find_word(ctx, sym("BETA"), true), 1);
    EXPECT_EQ(context::find_word(ctx, sym("gamma"), true), -1);

    EXPECT_EQ(context::add_word(ctx, sym("gamma")), 2);
    EXPECT_EQ(context::add_word(ctx, sym("Gamma")), 2);
    EXPECT_EQ(series::length_of(node_buffer(context::cell_of(ctx)->w2)), 3) << "add_word keeps values in step";

    // find_or_put only adds the word: the values are the caller's business
    // (a function context has none anyway).
    RootNode fn(context::make(test::block({test::word("alpha")}), true, false, context::KIND_FUNCTION));
    i32 index = 99;
    EXPECT_EQ(context::find_or_put(fn, sym("Alpha"), true, &index), 0);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(context::find_or_put(fn, sym("Alpha"), false, &index), -1) << "added: the spelling differs";
    EXPECT_EQ(index, 1);
    EXPECT_EQ(context::word_count(context::cell_of(fn)), 2);

    context::add_with(ctx, sym("epsilon"), int_(5));
    context::add_with(ctx, sym("EPSILON"), int_(6));
    EXPECT_MOLD(stack::push(context::get_by_symbol(sym("epsilon"), ctx)), "5") << "add_with leaves a present word alone";
    context::put(ctx, sym("epsilon"), int_(7));
    context::put(ctx, sym("zeta"), int_(8));
    EXPECT_MOLD(stack::push(context::get_by_symbol(sym("epsilon"), ctx)), "7");
    EXPECT_MOLD(stack::push(context::get_by_symbol(sym("zeta"), ctx)), "8");
    EXPECT_EQ(error_of([&] { context::get_by_symbol(sym("nowhere"), ctx); }), "script no-value");
}

TEST_F(Contexts, CollectSetWords) {
    Cell* obj = object_({"a"});
    u32 ctx = obj->w1;
    Cell* body = test::block({test::word("a", TYPE_SET_WORD), int_(1), test::word("b", TYPE_SET_WORD), test::word("c", TYPE_SET_WORD),
                        int_(2), test::word("A", TYPE_SET_WORD), test::word("d", TYPE_LIT_WORD), test::word("e")});
    EXPECT_TRUE(context::collect_set_words(ctx, body));
    const Cell* c = context::cell_of(ctx);
    ASSERT_EQ(context::word_count(c), 3) << "a (there already), b and c; not d nor e";
    EXPECT_EQ(symbol::spelling(i32(context::word_at(c, 2)->w2)), "c");
    EXPECT_EQ(series::length_of(node_buffer(c->w2)), 3);
    EXPECT_FALSE(context::collect_set_words(ctx, body)) << "nothing new the second time";

    Cell* past = at_(test::block({test::word("f", TYPE_SET_WORD)}), 7);
    EXPECT_FALSE(context::collect_set_words(ctx, past));
    EXPECT_EQ(past->w1, 1u) << "a head past the tail is clamped to it";
    Cell* from_head = at_(test::block({test::word("g", TYPE_SET_WORD), test::word("h", TYPE_SET_WORD)}), 1);
    EXPECT_TRUE(context::collect_set_words(ctx, from_head));
    EXPECT_EQ(context::find_word(ctx, sym("g"), true), -1) << "only from the head";
    EXPECT_EQ(context::find_word(ctx, sym("h"), true), 3);
}

TEST_F(Contexts, BindWithSelf) {
    Cell* obj = object_({"x"});
    u32 ctx = obj->w1;
    *context::value_at(context::cell_of(ctx), 0) = *int_(42);
    Cell* outside = bound_word("y", int_(7));   // bound elsewhere
    Cell* body = test::block({test::word("self"), test::word("x"), outside, test::block({test::word("X", TYPE_GET_WORD)}),
                        test::block({test::word("x", TYPE_SET_WORD), test::word("self")}, TYPE_PAREN),
                        test::block({test::word("self"), test::word("x")}, TYPE_PATH), test::word("x", TYPE_ISSUE)});
    context::bind(body, ctx, true);
    auto at = [&](i32 i) { return block::zs_abs_at(body, i); };
    EXPECT_EQ(at(0)->w1, ctx);
    EXPECT_EQ(i32(at(0)->w3), -1) << "self stands for the owner";
    const Cell* self_value = context::get(at(0));
    EXPECT_EQ(TYPE_OF(self_value), TYPE_OBJECT);
    EXPECT_EQ(self_value->w1, ctx);
    EXPECT_MOLD(stack::push(context::get(at(1))), "42");
    EXPECT_MOLD(stack::push(context::get(at(2))), "7") << "a word the context lacks keeps its binding";
    EXPECT_MOLD(stack::push(context::get(block::zs_abs_at(at(3), 0))), "42") << "nested blocks, letter case ignored";
    EXPECT_EQ(block::zs_abs_at(at(4), 0)->w1, ctx) << "parens";
    EXPECT_EQ(TYPE_OF(context::get(block::zs_abs_at(at(4), 1))), TYPE_OBJECT);
    EXPECT_EQ(block::zs_abs_at(at(5), 1)->w1, ctx) << "paths";
    EXPECT_EQ(at(6)->w1, 0u) << "issues are left alone";

    // Without the flag, self is a word like any other (absent here).
    Cell* plain = test::block({test::word("self"), test::word("x")});
    context::bind(plain, ctx, false);
    EXPECT_EQ(block::zs_abs_at(plain, 0)->w1, 0u);
    EXPECT_EQ(block::zs_abs_at(plain, 1)->w1, ctx);
    EXPECT_EQ(error_of([&] { context::get(block::zs_abs_at(plain, 0)); }), "script no-value");
}

TEST_F(Contexts, BindEndsOnBlocksThatHoldThemselves) {
    Cell* obj = object_({"x"});
    Cell* b = test::block({test::word("x")});
    Cell* inner = test::block({test::word("x"), b});
    block::zs_append(b, inner);
    block::zs_append(b, b);
    context::bind(b, obj->w1, false);
    EXPECT_EQ(block::zs_abs_at(b, 0)->w1, obj->w1);
    EXPECT_EQ(block::zs_abs_at(inner, 0)->w1, obj->w1);
    EXPECT_EQ(cycles::depth(), 0);

    // Too deep a nesting raises and leaves the cycle guard as it was.
    Cell* deep = test::block({test::word("x")});
    for (int i = 0; i < cycles::CAPACITY + 10; i++) deep = test::block({deep});
    EXPECT_EQ(error_of([&] { context::bind(deep, obj->w1, false); }), "internal too-deep");
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Contexts, FunctionContextsHaveValuesOnlyWhileRunning) {
    Cell* spec = test::block({test::word("a"), test::word("b")});
    RootNode fn(context::make(spec, true, false, context::KIND_FUNCTION));
    Cell* a = bound("a", fn);
    Cell* b = bound("b", fn);
    ASSERT_EQ(i32(b->w3), 1);
    EXPECT_EQ(error_of([&] { context::get(a); }), "script not-in-context");
    EXPECT_EQ(error_of([&] { context::set(a, int_(1)); }), "script not-defined");

    // Running: the values are stack cells.
    Cell* first = int_(10);
    int_(20);
    context::set_stack_values(context::cell_of(fn), first);
    EXPECT_MOLD(stack::push(context::get(b)), "20");
    EXPECT_EQ(context::set(a, int_(11)), first);
    EXPECT_MOLD(first, "11");
    // Values that start at the very bottom of the stack are told apart from
    // a function that is not running.
    context::set_stack_values(context::cell_of(fn), stack::bottom);
    EXPECT_EQ(context::get(b), stack::bottom + 1);
    context::set_stack_values(context::cell_of(fn), nullptr);
    EXPECT_EQ(error_of([&] { context::get(b); }), "script not-in-context");
    // A function context looks symbols up in the global context.
    context::set(stack::push(word::load("zz-fn-global")), int_(3));
    EXPECT_MOLD(stack::push(context::get_by_symbol(sym("zz-fn-global"), fn)), "3");
}

TEST_F(Contexts, WordsThatCannotHaveAValue) {
    Cell* unbound = test::word("zz-unbound");
    EXPECT_EQ(error_of([&] { context::get(unbound); }), "script no-value");
    EXPECT_EQ(error_of([&] { context::set(unbound, int_(1)); }), "script not-defined");
    Cell* obj = object_({"x"});
    Cell* forged = bound("x", obj->w1);
    forged->w3 = 5;   // a slot past the values
    EXPECT_EQ(error_of([&] { context::get(forged); }), "script not-in-context");
    EXPECT_EQ(error_of([&] { context::set(forged, int_(1)); }), "script not-defined");
}

// The inline short way to a value cell answers the cell the full lookup
// finds, or nothing where the lookup has more to do or raises; the plain
// way leaves an object's fields to `set`.
TEST_F(Contexts, TheShortWayToAValueAgreesWithTheLookup) {
    Cell* obj = object_({"x"});
    Cell* field = bound("x", obj->w1);
    context::set(field, int_(5));
    Cell* global_word = stack::push(word::load("zz-short-way"));
    context::set(global_word, int_(6));
    Cell* fresh = test::word("zz-short-fresh");
    fresh->w1 = context::global;
    fresh->w3 = u32(-1);
    Cell* global_forged = stack::push(global_word);
    global_forged->w3 = u32(series::length_of(node_buffer(context::global_values)));
    Cell* obj_forged = bound("x", obj->w1);
    obj_forged->w3 = 7;
    RootNode fn(context::make(test::block({test::word("a")}), true, false, context::KIND_FUNCTION));
    Cell* idle = bound("a", fn);

    EXPECT_EQ(context::value_cell_q(global_word, true), context::find_value(global_word, context::global));
    EXPECT_MOLD(stack::push(context::get(global_word)), "6");
    EXPECT_EQ(context::value_cell_q(field, false), context::find_value(field, obj->w1));
    EXPECT_EQ(context::plain_value_cell(field), nullptr) << "an object's field is set the long way";
    for (Cell* w : {fresh, global_forged, obj_forged, idle, test::word("zz-short-unbound")}) {
        EXPECT_EQ(context::value_cell_q(w, false), nullptr);
        EXPECT_EQ(context::plain_value_cell(w), nullptr);
    }
    EXPECT_EQ(error_of([&] { context::get(global_forged); }), "script not-in-context");
    EXPECT_EQ(error_of([&] { context::set(global_forged, int_(1)); }), "script not-defined");
    EXPECT_EQ(error_of([&] { context::get(fresh); }), "script no-value");

    // Running, the function's values are stack cells, written in place.
    Cell* first = int_(10);
    context::set_stack_values(context::cell_of(fn), first);
    EXPECT_EQ(context::plain_value_cell(idle), first);
    context::set_stack_values(context::cell_of(fn), nullptr);

    // The global values block grows in place: its node stays, the cells move.
    for (int i = 0; i < 200; i++) word::load(("zz-grow-" + std::to_string(i)).c_str());
    EXPECT_EQ(context::global_values, context::cell_of(context::global)->w2);
    EXPECT_EQ(context::value_cell_q(global_word, true), context::find_value(global_word, context::global));
    EXPECT_MOLD(stack::push(context::get(global_word)), "6");
}

TEST_F(Contexts, SettingAWordNotLookedUpAddsIt) {
    Cell* obj = object_({"x"});
    u32 ctx = obj->w1;
    Cell* w = test::word("fresh");
    w->w1 = ctx;
    Cell* value = test::block({int_(1), int_(2)});
    Cell* cell = context::set(w, value);
    EXPECT_EQ(i32(w->w3), 1) << "the slot found is kept in the word";
    EXPECT_MOLD(stack::push(cell), "[1 2]");
    EXPECT_MOLD(stack::push(context::get(w)), "[1 2]");
    EXPECT_EQ(context::word_count(context::cell_of(ctx)), 2);

    Cell* twin = test::word("X");
    twin->w1 = ctx;
    context::set(twin, int_(9));
    EXPECT_EQ(i32(twin->w3), 0) << "a letter-case twin finds the word there";
    EXPECT_EQ(context::word_count(context::cell_of(ctx)), 2);

    // Looked up in another context, a word keeps its own binding.
    Cell* other = object_({});
    Cell* stray = test::word("stray");
    stray->w1 = ctx;
    context::set_in(stray, int_(4), other->w1, false);
    EXPECT_EQ(i32(stray->w3), -1);
    EXPECT_MOLD(stack::push(context::get_by_symbol(sym("stray"), other->w1)), "4");
}

// --- Change events ------------------------------------------------------------

std::vector<std::string> events;

void record_event(const Cell* owner, const Cell* word, const Cell* old_value, const Cell* new_value) {
    events.push_back(std::string(symbol::spelling(i32(word->w2))) + " " + mold(old_value) + " -> " +
                     mold(new_value) + (TYPE_OF(owner) == TYPE_OBJECT ? "" : " (no owner)"));
}

TEST_F(Contexts, ObjectFieldsAreMarkedChangedAndOwnersHearOfChanges) {
    events.clear();
    Cell* obj = object_({"size", "name"}, true);
    u32 ctx = obj->w1;
    Cell* size = bound("size", ctx);
    Cell* name = bound("name", ctx);
    auto changed = [&](i32 i) { return (context::word_at(context::cell_of(ctx), i)->header & context::WORD_CHANGED) != 0; };

    Cell* one = int_(1);
    Cell* two = int_(2);
    Cell* three = int_(3);
    context::on_set = nullptr;
    EXPECT_EQ(error_of([&] { context::set(size, one); }), "internal not-done") << "no handler runner";
    EXPECT_EQ(TYPE_OF(context::get(size)), TYPE_UNSET);
    context::word_at(context::cell_of(ctx), 0)->header &= ~context::WORD_CHANGED;

    context::on_set = record_event;
    context::set_in(name, three, ctx, false);
    EXPECT_TRUE(events.empty()) << "events off";
    EXPECT_TRUE(changed(1)) << "but the word is marked";
    EXPECT_FALSE(changed(0));

    Cell* top = stack::top;
    context::set(size, one);
    context::set(size, two);
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(events, (std::vector<std::string>{"size unset -> 1", "size 1 -> 2"}));
    EXPECT_TRUE(changed(0));

    // Without handlers, nothing is called.
    Cell* quiet = object_({"v"});
    context::set(bound("v", quiet->w1), int_(5));
    EXPECT_EQ(events.size(), 2u);
    EXPECT_TRUE(context::word_at(context::cell_of(quiet->w1), 0)->header & context::WORD_CHANGED);

    // Function and global contexts have no changed flags.
    Cell* g = stack::push(word::load("zz-flagless"));
    context::set(g, int_(1));
    EXPECT_FALSE(context::word_at(context::cell_of(context::global), i32(g->w3))->header & context::WORD_CHANGED);
}

u32 grown_context = 0;

// A handler that grows the object (its values block moves) and collects.
void grow_on_set(const Cell*, const Cell*, const Cell*, const Cell*) {
    for (int i = 0; i < 40; i++) context::add_word(grown_context, sym(("zz-grow-" + std::to_string(i)).c_str()));
    collector::do_cycle();
}

TEST_F(Contexts, TheCellAnsweredAfterAHandlerIsTheSlotAsItIsThen) {
    Cell* obj = object_({"a"}, true);
    grown_context = obj->w1;
    context::on_set = grow_on_set;
    Cell* a = bound("a", obj->w1);
    Cell* cell = context::set(a, test::block({int_(1)}));
    EXPECT_EQ(cell, context::value_at(context::cell_of(obj->w1), 0));
    EXPECT_MOLD(stack::push(cell), "[1]");
    EXPECT_EQ(context::word_count(context::cell_of(obj->w1)), 41);

    // A word not looked up yet: the slot is settled before the handler runs.
    Cell* late = test::word("late");
    late->w1 = obj->w1;
    cell = context::set(late, test::block({int_(2)}));
    EXPECT_EQ(cell, context::value_at(context::cell_of(obj->w1), i32(late->w3)));
    EXPECT_MOLD(stack::push(context::get(late)), "[2]");
}

// --- Cloning ------------------------------------------------------------------

TEST_F(Contexts, CloneCopiesTheWordsAndRebindsThem) {
    Cell* obj = object_({"a", "b"});
    u32 old = obj->w1;
    Cell* copy = stack::push(obj);
    u32 fresh = context::clone(copy, context::KIND_OBJECT);
    EXPECT_NE(fresh, old);
    EXPECT_EQ(copy->w1, fresh);
    const Cell* c = context::cell_of(fresh);
    ASSERT_EQ(context::word_count(c), 2);
    for (i32 i = 0; i < 2; i++) EXPECT_EQ(context::word_at(c, i)->w1, fresh);
    EXPECT_TRUE(c->header & context::HAS_SELF);
    EXPECT_EQ(series::length_of(node_buffer(c->w2)), 0) << "the values are the caller's to fill";
    EXPECT_EQ(context::find_word(fresh, sym("b"), true), 1);
    // The copy grows alone.
    context::add_word(fresh, sym("c"));
    EXPECT_EQ(context::find_word(old, sym("c"), true), -1);
    EXPECT_EQ(context::word_at(context::cell_of(old), 0)->w1, old);
}

// --- The global context ---------------------------------------------------------

TEST_F(Contexts, GlobalTwinsReadAndWriteOneSlot) {
    Cell* lower = stack::push(word::load("zz-twin"));
    Cell* upper = stack::push(word::load("ZZ-TWIN"));
    EXPECT_EQ(symbol::spelling(i32(upper->w2)), "ZZ-TWIN") << "the word keeps its spelling";
    EXPECT_EQ(lower->w3, upper->w3);
    Cell l = *lower, u = *upper;
    context::set(&u, int_(12));
    EXPECT_MOLD(stack::push(context::get(&l)), "12");
    context::set(&l, int_(13));
    EXPECT_MOLD(stack::push(context::get(&u)), "13");

    // Whichever spelling comes first: a twin added before its canonical
    // spelling still shares with it.
    i32 canonical = sym("ZZ-ORDER");
    i32 twin = sym("zz-order");
    ASSERT_EQ(symbol::resolve(twin), canonical);
    Cell t = *word::from_symbol(twin);
    Cell c = *word::from_symbol(canonical);
    EXPECT_EQ(t.w3, c.w3);
    EXPECT_NE(symbol::spelling(i32(t.w2)), symbol::spelling(i32(c.w2)));
    context::set(&c, int_(1));
    EXPECT_MOLD(stack::push(context::get(&t)), "1");
    // The same through a word set before it was looked up.
    Cell* fresh = test::word("Zz-Order");
    fresh->w1 = context::global;
    context::set(fresh, int_(2));
    EXPECT_EQ(fresh->w3, c.w3);
    EXPECT_MOLD(stack::push(context::get(&t)), "2");
    EXPECT_EQ(context::add_word(context::global, sym("zZ-oRDER")), i32(c.w3));

    // Word list and values stay in step.
    const Cell* g = context::cell_of(context::global);
    EXPECT_EQ(context::word_count(g), series::length_of(node_buffer(g->w2)));
}

TEST_F(Contexts, LoadAnswersAnExactCopyForATwin) {
    Cell* first = stack::push(word::load("zz-copy"));
    i32 roots = series::length_of(node_buffer(boot::root_block));
    Cell* second = stack::push(word::load("ZZ-Copy"));
    EXPECT_EQ(series::length_of(node_buffer(boot::root_block)), roots + 1) << "the copy is kept in the root block";
    EXPECT_EQ(second->w3, first->w3);
    EXPECT_EQ(second->w1, context::global);
    EXPECT_EQ(word::load("zz-copy")->w2, first->w2) << "the spelling itself answers the global word";

    // While recording, every word made is kept in the root block too.
    bool was = boot::recording;
    boot::recording = true;
    Cell kept = *word::load("zz-recorded");
    boot::recording = was;
    SeriesBuffer* r = node_buffer(boot::root_block);
    ASSERT_EQ(series::length_of(r), roots + 2);
    const Cell* last = series::head_cells(r) + roots + 1;
    EXPECT_EQ(last->w2, u32(sym("zz-recorded")));
    EXPECT_EQ(last->w3, kept.w3);
}

// Its own fixture: the thousands of symbols it makes would change the sizes
// that later tests start from, so it leaves a fresh runtime behind.
struct ContextGrowth : Collecting {
    void TearDown() override {
        Collecting::TearDown();
        reset_memory();
    }
};

TEST_F(ContextGrowth, UnderCollections) {
    // Thousands of words added to an object (from one slot) and to the global
    // context one by one, through several growths of their tables; in stress
    // builds every buffer moves at every allocation. Each keeps its value.
    const int fields = collector::STRESS ? 1000 : 5000;
    const int globals = collector::STRESS ? 300 : 13000;   // past the global table's first size
    Cell* obj = object_({});
    u32 ctx = obj->w1;
    for (int i = 0; i < fields || i < globals; i++) {
        Cell* top = stack::top;
        if (i < fields) {
            Cell* w = test::word(("zz-grow-" + std::to_string(i)).c_str());
            w->w1 = ctx;
            context::set(w, int_(i));
        }
        if (i < globals) context::set(stack::push(word::load(("zz-global-" + std::to_string(i)).c_str())), int_(-i));
        stack::top = top;
    }
    const Cell* c = context::cell_of(ctx);
    ASSERT_EQ(context::word_count(c), fields);
    for (int i = 0; i < fields; i += 7) {
        std::string name = "zz-grow-" + std::to_string(i);
        EXPECT_EQ(i32(context::get_by_symbol(sym(name.c_str()), ctx)->w2), i) << name;
    }
    for (int i = 0; i < globals; i += 7) {
        Cell g = *word::load(("zz-global-" + std::to_string(i)).c_str());
        EXPECT_EQ(i32(context::get(&g)->w2), -i);
    }
    const Cell* g = context::cell_of(context::global);
    EXPECT_EQ(context::word_count(g), series::length_of(node_buffer(g->w2)));
}

}  // namespace
}  // namespace zir
