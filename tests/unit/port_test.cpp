// port!: make from a spec object (the system values supplied here), its
// errors, the forwarders that hand each action to the actor's function with
// the action's arguments, read and write as sequences of actor calls, and the
// mold.
#include <functional>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/object.hpp"
#include "datatypes/port.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

// An object! (or another object type) with the named fields, pushed.
Cell* object_of(std::initializer_list<std::pair<const char*, const Cell*>> fields, u32 type = TYPE_OBJECT) {
    std::vector<Cell> values;
    for (auto& f : fields) values.push_back(*f.second);
    collector::RootCells hold(values.data(), values.size());
    collector::RootNode ctx(context::create(i32(fields.size()), false, false, 0, context::KIND_OBJECT));
    size_t k = 0;
    for (auto& f : fields) {
        i32 slot = context::add_word(ctx, symbol::make(f.first));
        *context::value_at(context::cell_of(ctx), slot) = values[k++];
    }
    Cell* obj = stack::push_slot();
    cell::init(obj, type);
    obj->w1 = ctx;
    *context::owner_of(ctx) = *obj;
    return obj;
}

// A function! of the given spec (its body is never run here).
Cell* function_(std::initializer_list<const Cell*> spec = {}) {
    function::push(test::block(spec), test::block({}), 0, 0, 0, 0);
    return stack::top - 1;
}

// The system values of the tests, in roots of their own.
struct System {
    collector::RootCell port, url_parts, schemes;
};
System* current = nullptr;

const Cell* system_value(port::SystemValue which) {
    switch (which) {
        case port::STANDARD_PORT: return current->port.get();
        case port::URL_PARTS: return current->url_parts.get();
        default: return current->schemes.get();
    }
}

// What the actor's functions were called with: the frame's name and the
// molded cells after the port (arguments, then the unused /local and
// locals), one call per line. The result goes to the frame's first cell.
std::string calls;
void record_call(const Cell*, u32, const Cell* name, i32) {
    i32 action = i32(name->w2);
    Cell* result = stack::arguments;
    std::string line = std::string(symbol::spelling(action));
    Cell* end = stack::top;
    for (Cell* c = stack::arguments + 1; c < end; c++) line += " " + mold(c);
    calls += line + "\n";
    if (action == symbol::make("copy")) *result = *str("data");
    else if (action == symbol::make("length?")) integer::make_at(result, 42);
    else series::make_word(result, action);
}

struct Port : ValueTest {
    System system;
    void SetUp() override {
        ValueTest::SetUp();
        current = &system;
        system.port.value = *object_of({{"spec", none_()}, {"scheme", none_()}, {"actor", none_()},
                                        {"awake", none_()}, {"state", none_()}, {"data", none_()},
                                        {"extra", none_()}});
        system.url_parts.value = *object_of({{"scheme", none_()}, {"host", none_()}, {"path", none_()}});
        Cell* actor = object_of({{"open", function_()}, {"copy", function_()}, {"close", function_()},
                                 {"insert", function_()}, {"append", function_()}, {"swap", function_()},
                                 {"length?", function_()}, {"find", function_()}, {"at", function_()},
                                 {"sort", function_()}, {"take", function_()}, {"pick", function_()},
                                 {"clear", function_({word("a"), word("local", TYPE_REFINEMENT), word("x"),
                                                      word("y")})},
                                 {"update", function_({word("p"), word("x"), word("y")})}});
        Cell* test_scheme = object_of({{"name", word("test")}, {"title", str("test scheme")}, {"info", none_()},
                                       {"actor", actor}, {"awake", none_()}});
        Cell* broken = object_of({{"name", word("broken")}, {"title", none_()}, {"info", none_()},
                                  {"actor", int_(1)}, {"awake", none_()}});
        system.schemes.value = *test::block({word("test"), test_scheme, word("broken"), broken});
        port::system_value = system_value;
        saved_call = object::call_function;
        object::call_function = record_call;
        calls.clear();
    }
    void (*saved_call)(const Cell*, u32, const Cell*, i32) = nullptr;
    void TearDown() override {
        port::system_value = nullptr;
        object::call_function = saved_call;
        current = nullptr;
        ValueTest::TearDown();
    }
    Cell* spec_for(const char* scheme) {
        return object_of({{"scheme", word(scheme)}, {"host", str("example")}, {"path", none_()}});
    }
    Cell* make_port(const char* scheme) { return port::make(nullptr, spec_for(scheme), TYPE_PORT); }
};

TEST_F(Port, MakeFromASpecObject) {
    Cell* spec = spec_for("test");
    Cell* p = port::make(nullptr, spec, TYPE_PORT);
    ASSERT_EQ(TYPE_OF(p), u32(TYPE_PORT));
    EXPECT_EQ(p->w2, port::PORT_CLASS);
    EXPECT_EQ(p->w3, 0u);
    EXPECT_NE(p->w1, system.port->w1) << "a copy of the template";
    const Cell* spec_field = context::value_at(context::cell_of(p->w1), port::FIELD_SPEC);
    EXPECT_EQ(TYPE_OF(spec_field), u32(TYPE_OBJECT));
    EXPECT_NE(spec_field->w1, spec->w1) << "the spec object is copied";
    EXPECT_EQ(mold(stack::push(context::value_at(context::cell_of(p->w1), port::FIELD_SCHEME))), "test");
    EXPECT_EQ(TYPE_OF(context::value_at(context::cell_of(p->w1), port::FIELD_ACTOR)), u32(TYPE_OBJECT));
    EXPECT_EQ(TYPE_OF(context::value_at(context::cell_of(system.port->w1), port::FIELD_ACTOR)), u32(TYPE_NONE))
        << "the template is left alone";
}

TEST_F(Port, MakeErrors) {
    struct Case {
        std::function<void()> run;
        const char* error;
    } cases[] = {
        {[&] { port::make(nullptr, object_of({{"scheme", str("test")}}), TYPE_PORT); }, "access no-scheme"},
        {[&] { port::make(nullptr, object_of({{"scheme", none_()}, {"host", word("test")}}), TYPE_PORT); },
         "access no-scheme"},
        {[&] { make_port("nothing"); }, "access unknown-scheme"},
        {[&] { make_port("broken"); }, "access invalid-actor"},
        // A spec block is evaluated: its words have no value here.
        {[&] { port::make(nullptr, test::block({word("scheme"), word("test")}), TYPE_PORT); }, "script no-value"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.run), c.error);
    port::system_value = nullptr;
    EXPECT_EQ(error_of([&] { make_port("test"); }), "internal not-done") << "no system object yet";
}

TEST_F(Port, ActionsGoToTheActorWithTheirArguments) {
    Cell* p = make_port("test");
    actions::get<action::Insert>(p, ACT_APPEND)(stack::push(p), int_(5), nullptr, false, int_(2), true);
    actions::get<action::Insert>(p, ACT_INSERT)(stack::push(p), str("x"), int_(1), true, nullptr, false);
    actions::get<action::Swap>(p, ACT_SWAP)(stack::push(p), str("other"));
    actions::get<action::Open>(p, ACT_OPEN)(stack::push(p), true, false, true, false, word("all"));
    Cell* n = stack::push(p);
    EXPECT_EQ(actions::get<action::Length>(p, ACT_LENGTH_Q)(n), 42);
    actions::get<action::Find>(p, ACT_FIND)(stack::push(p), int_(1), nullptr, false, true, false, false, nullptr,
                                            int_(2), true, false, false, false);
    actions::get<action::Sort>(p, ACT_SORT)(stack::push(p), false, nullptr, nullptr, int_(3), false, true, false);
    actions::get<action::Take>(p, ACT_TAKE)(stack::push(p), nullptr, true, false);
    EXPECT_MOLD(actions::get<action::Pick>(p, ACT_PICK)(stack::push(p), 3, nullptr), "pick");
    direct(ACT_AT, p, int_(4));
    // A function with /local words gets false and a none for each.
    actions::get<action::Unary>(p, ACT_CLEAR)(stack::push(p));
    // A function taking more arguments than the action hands it gets none
    // for the rest, whatever lies above the top of the stack.
    Cell* q = stack::push(p);
    for (int i = 0; i < 4; i++) stack::push(int_(7));
    stack::top = q + 1;
    actions::get<action::Unary>(p, ACT_UPDATE)(q);
    EXPECT_EQ(calls,
              "append 5 false none false true 2\n"
              "insert \"x\" true 1 true false none\n"
              "swap \"other\"\n"
              "open true false true false all\n"
              "length?\n"
              "find 1 false none false true false false false none true 2 true false false false\n"
              "sort false false none false none true 3 false true false\n"
              "take false none true false\n"
              "pick 3\n"
              "at 4\n"
              "clear false none none\n"
              "update none none\n");
}

TEST_F(Port, MissingFunctionsAndActors) {
    Cell* p = make_port("test");
    EXPECT_EQ(error_of([&] { actions::get<action::Reverse>(p, ACT_REVERSE)(stack::push(p), nullptr, nullptr); }),
              "access no-port-action");
    *context::value_at(context::cell_of(p->w1), port::FIELD_ACTOR) = *int_(1);
    EXPECT_EQ(error_of([&] { actions::get<action::Unary>(p, ACT_CLEAR)(stack::push(p)); }), "access invalid-port");
    EXPECT_EQ(actions::lookup(TYPE_PORT, ACT_OPEN_Q), nullptr);
    EXPECT_EQ(actions::lookup(TYPE_PORT, ACT_RANDOM), nullptr);
    EXPECT_EQ(actions::lookup(TYPE_PORT, ACT_TO), nullptr);
    Cell* q = make_port("test");
    object::call_function = nullptr;
    EXPECT_EQ(error_of([&] { actions::get<action::Swap>(q, ACT_SWAP)(stack::push(q), str("o")); }),
              "internal not-done") << "no evaluator to call the function yet";
}

TEST_F(Port, ReadAndWriteAreSequencesOfActorCalls) {
    Cell* p = make_port("test");
    Cell* r = port::read(stack::push(p), int_(10), nullptr, false, false, false, nullptr);
    EXPECT_MOLD(r, "\"data\"");
    EXPECT_EQ(calls, "open false false false false none\ncopy true 10 false false none\nclose\n");
    calls.clear();
    port::read(stack::push(p), nullptr, int_(1), false, false, false, nullptr);
    EXPECT_EQ(calls, "open false false false true none\ncopy false none false false none\nclose\n");
    calls.clear();
    Cell* w = port::write(stack::push(p), str("payload"), false, false, false, false, nullptr, nullptr, nullptr,
                          nullptr);
    EXPECT_MOLD(w, "\"data\"");
    EXPECT_EQ(calls,
              "open false false true false none\n"
              "insert \"payload\" true -1 false true 1\n"
              "copy false none false false none\n"
              "close\n");
    // A port without open fails before anything is copied.
    Cell* actor = object_of({{"copy", function_()}});
    *context::value_at(context::cell_of(p->w1), port::FIELD_ACTOR) = *actor;
    calls.clear();
    EXPECT_EQ(error_of([&] { port::read(stack::push(p), nullptr, nullptr, false, false, false, nullptr); }),
              "access no-port-action");
    EXPECT_EQ(calls, "");
}

// The table of machine-level entries behind a handle! actor.
void native_append() {}

TEST_F(Port, HandleActorsNameATableOfEntries) {
    Cell* p = make_port("test");
    static action::Generic table[ACTION_SLOTS - ACT_APPEND + 1] = {};
    table[0] = native_append;
    Cell* h = handle::push(reinterpret_cast<uintptr_t>(table), handle::CLASS_NULL);
    *context::value_at(context::cell_of(p->w1), port::FIELD_ACTOR) = *h;
    EXPECT_EQ(port::native_entry(p, ACT_APPEND), native_append);
    EXPECT_EQ(error_of([&] { port::native_entry(p, ACT_WRITE); }), "access no-port-action");
    Cell* q = make_port("test");
    EXPECT_EQ(error_of([&] { port::native_entry(q, ACT_APPEND); }), "access invalid-port");
}

TEST_F(Port, Mold) {
    Cell* p = make_port("test");
    // Fields of scalar values only: object! molds itself elsewhere.
    for (i32 f : {port::FIELD_SPEC, port::FIELD_ACTOR}) *context::value_at(context::cell_of(p->w1), f) = *int_(f);
    EXPECT_MOLD(p, "make port! [\n    spec: 0\n    scheme: 'test\n    actor: 2\n    awake: none\n"
                   "    state: none\n    data: none\n    extra: none\n]");
    EXPECT_EQ(mold(p, {false, false, true, -1}),
              "make port! [spec: 0 scheme: 'test actor: 2 awake: none state: none data: none extra: none]");
    EXPECT_FORM(p, mold(p));
}

}  // namespace
}  // namespace zir
