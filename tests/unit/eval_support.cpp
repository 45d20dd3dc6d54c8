// Evaluating code in the interpreter's tests: see eval_support.hpp.
#include "eval_support.hpp"
#include "lexer_support.hpp"

#include <pthread.h>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/native.hpp"
#include "datatypes/none.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/natives.hpp"
#include "runtime/collector.hpp"

namespace zir::test {

std::vector<i32> last_refs;

namespace {

// --- The test native -------------------------------------------------------------

// t-refs a /x /y b /z c d: answers its arguments and records its
// refinement integers.
i32 refs(i32, const i32* r) {
    last_refs.assign(r, r + 3);
    i32 n = i32(stack::top - stack::arguments);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    block::make_at(out, n);
    for (i32 i = 0; i < n; i++) block::zs_append(out, stack::arguments + i);
    stack::set_last(out);
    return 0;
}

struct NativeDef {
    i32 slot;
    const char* word;
    const char* spec;
    natives::Entry entry;
};

const NativeDef natives_defs[] = {
    {108, "t-refs", "a /x /y b /z c d", refs},
};

const struct {
    const char* op;
    const char* source;
} operators[] = {
    {"+", "add"},     {"-", "subtract"}, {"*", "multiply"},  {"/", "divide"},       {"%", "remainder"},
    {"**", "power"},  {"and", "and~"},   {"or", "or~"},      {"xor", "xor~"},       {"=", "equal?"},
    {"<>", "not-equal?"}, {"==", "strict-equal?"}, {"<", "lesser?"}, {">", "greater?"}, {"<=", "lesser-or-equal?"},
    {">=", "greater-or-equal?"},
};

// What the fixture changed, to put back.
struct Saved {
    std::vector<std::pair<i32, action::Generic>> entries;
    collector::RootCell* words = nullptr;   // a block of [word value] pairs
};
Saved saved;

void remember(const char* spelling) {
    Cell* w = word::load(spelling);
    Cell word = *w;
    Cell value = *context::get(&word);
    block::zs_append(saved.words->get(), &word);
    block::zs_append(saved.words->get(), &value);
}

}  // namespace

void set_global(const char* spelling, const Cell* value) {
    collector::RootCell v(*value);
    Cell word = *word::load(spelling);
    context::set(&word, v.get());
}

Cell global(const char* spelling) {
    Cell word = *word::load(spelling);
    return *context::get(&word);
}

std::string global_mold(const char* spelling) {
    Cell v = global(spelling);
    return mold(&v);
}

Cell* def(const char* spelling, const char* spec_text, const char* body_text) {
    // The texts are written with their brackets: each reads as one block.
    Cell* spec = stack::push(block::cell_at(read_block(spec_text)->w2, 0));
    Cell* body = stack::push(block::cell_at(read_block(body_text)->w2, 0));
    u32 flags = function::validate(spec);
    function::push(spec, body, 0, 0, 0, flags);
    Cell* fn = stack::top - 1;
    set_global(spelling, fn);
    return fn;
}

void EvalTest::SetUp() {
    ValueTest::SetUp();
    saved.entries.clear();
    saved.words = new collector::RootCell;
    block::make_at(saved.words->get(), 64);
    for (const NativeDef& d : natives_defs) {
        saved.entries.push_back({d.slot, natives::table[d.slot - 1]});
        natives::table[d.slot - 1] = reinterpret_cast<action::Generic>(d.entry);
        remember(d.word);
        Cell* made = block({read_block(d.spec), int_(d.slot)});
        Cell* value = native::make(nullptr, made, TYPE_NATIVE);
        set_global(d.word, value);
    }
    for (const auto& o : operators) {
        remember(o.op);
        Cell source = global(o.source);
        Cell op;
        op::make(&op, &source, TYPE_OP);
        set_global(o.op, &op);
    }
    for (const char* w : {"none", "true", "false"}) remember(w);
    set_global("none", &none::value);
    set_global("true", &logic::true_value);
    set_global("false", &logic::false_value);
    stack::top = saved_top;
    last_refs.clear();
}

void EvalTest::TearDown() {
    interpreter::tracing = interpreter::trace_allowed = false;
    cell::init(&interpreter::tracer, TYPE_NONE);
    for (auto& [slot, entry] : saved.entries) natives::table[slot - 1] = entry;
    Cell* words = saved.words->get();
    for (i32 i = 0; i + 1 < block::zs_length_q(words); i += 2) {
        Cell word = *block::cell_at(words->w2, i);
        Cell value = *block::cell_at(words->w2, i + 1);
        context::set(&word, &value);
    }
    delete saved.words;
    saved.words = nullptr;
    ValueTest::TearDown();
}

namespace {

// Code from text: the lexer reads it; text it refuses (values the language
// cannot write, such as a path that starts with a number) is read by the
// tests' own reader instead.
Cell* code_of(const char* text) {
    Cell* saved = stack::top;
    try {
        return load(text);
    } catch (const LanguageError& e) {
        if (e.category != ERR_SYNTAX) throw;
        stack::top = saved;
        return read_block(text);
    }
}

}  // namespace

Cell* eval(const char* text) {
    Cell* code = code_of(text);
    StackState before = StackState::now();
    Cell* result = stack::top;
    interpreter::eval_block(code, false);
    EXPECT_EQ(stack::pending, 0u) << text;
    EXPECT_EQ(stack::top, result + 1) << "one cell is left: " << text;
    EXPECT_EQ(stack::arguments, before.arguments) << text;
    EXPECT_EQ(stack::call_top, before.call_top) << text;
    return result;
}

std::string eval_mold(const char* text) { return mold(eval(text)); }

namespace {

// Runs the text as a try would; answers the error (unset! when none).
Cell raise_of(const char* text) {
    Cell* code = code_of(text);
    stack::Checkpoint checkpoint;
    Cell error = unset::value;
    try {
        interpreter::eval_block(code, false);
    } catch (const LanguageError& e) {
        checkpoint.restore();
        error = e.error;
        if (TYPE_OF(&error) != TYPE_ERROR) {
            ADD_FAILURE() << "an error without a value: " << category_name(e.category) << " " << e.id;
        }
    }
    if (TYPE_OF(&error) == TYPE_UNSET) stack::top = checkpoint.top;
    EXPECT_EQ(stack::pending, 0u) << text;
    EXPECT_EQ(StackState::now(), (StackState{checkpoint.arguments, checkpoint.top, checkpoint.call_top})) << text;
    return error;
}

}  // namespace

Cell eval_error_value(const char* text) { return raise_of(text); }

std::string eval_error(const char* text) {
    Cell e = raise_of(text);
    if (TYPE_OF(&e) != TYPE_ERROR) return "";
    Cell* err = stack::push(&e);
    Cell type = *error::field(err, error::FIELD_TYPE);
    Cell id = *error::field(err, error::FIELD_ID);
    std::string r = mold(&type) + " " + mold(&id);
    stack::pop(1);
    return r;
}

std::string eval_report(const char* text) {
    Cell e = raise_of(text);
    if (TYPE_OF(&e) != TYPE_ERROR) return "";
    return form(&e);
}

namespace {

struct ThreadCall {
    void (*f)(void*);
    void* arg;
};

void* run_thread(void* p) {
    auto* call = static_cast<ThreadCall*>(p);
    const char* limit = interpreter::set_machine_stack();
    call->f(call->arg);
    interpreter::restore_machine_stack(limit);
    return nullptr;
}

}  // namespace

void on_big_stack(void (*f)(void*), void* arg) {
    ThreadCall call{f, arg};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(512) << 20);
    pthread_t thread;
    if (pthread_create(&thread, &attr, run_thread, &call) != 0) {
        ADD_FAILURE() << "no thread";
        return;
    }
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

}  // namespace zir::test
