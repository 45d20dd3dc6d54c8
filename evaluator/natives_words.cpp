// get, set, bind and in: reading and writing the values of words, paths and
// objects, and moving words between contexts.
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/native.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives_code.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace natives {
namespace code {

namespace {

constexpr i32 SLOT_GET = 21;
constexpr i32 SLOT_SET = 22;
constexpr i32 SLOT_BIND = 38;
constexpr i32 SLOT_IN = 39;

inline Cell* arg(i32 i) { return stack::arguments + i; }

inline bool path_q(u32 t) {
    return t == TYPE_PATH || t == TYPE_LIT_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH;
}

// Evaluates the path in the stack cell `path`: for its value, or, with
// `set`, storing the value in the result cell.
void walk_path(const Cell* path, bool set, bool case_) {
    Cell p = *path;
    cell::set_type(&p, TYPE_PATH);
    interpreter::Code pc = interpreter::code_of(&p);
    interpreter::eval_path(&p, pc, interpreter::end_of(pc), set, !set, false, case_, nullptr);
}

// The context node of a value `bind` binds to or `in` looks into, or 0 when
// it has none.
u32 context_of(const Cell* c) {
    switch (TYPE_OF(c)) {
        case TYPE_OBJECT:
        case TYPE_ERROR:
        case TYPE_PORT:
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            return c->w1;
        default:
            return any_word_q(TYPE_OF(c)) ? c->w1 : 0;
    }
}

}  // namespace

// get word /any /case
i32 get(i32 check, const i32* r) {
    if (check) check_args(SLOT_GET, r);
    bool any = r[0] >= 0, case_ = r[1] >= 0;
    Cell* target = arg(0);
    u32 t = TYPE_OF(target);
    if (path_q(t)) {
        Cell* path = stack::push(target);
        walk_path(path, false, case_);
    } else if (t == TYPE_OBJECT) {
        object::reflect(target, symbol::make("values"));
    } else {
        const Cell word = *target;
        const Cell* value = context::get(&word);
        if (TYPE_OF(value) == TYPE_UNSET && !any) fire(ERR_SCRIPT, "no-value", &word);
        *target = *value;
    }
    stack::keep();
    return 0;
}

// set word value /any /case /only /some
i32 set(i32 check, const i32* r) {
    if (check) check_args(SLOT_SET, r);
    bool any = r[0] >= 0, case_ = r[1] >= 0, only = r[2] >= 0, some = r[3] >= 0;
    Cell* target = arg(0);
    Cell* value = arg(1);
    if (!any && TYPE_OF(value) == TYPE_UNSET) fire(ERR_SCRIPT, "need-value", target);
    u32 t = TYPE_OF(target);
    stack::top = arg(2);
    if (path_q(t)) {
        Cell* path = stack::push(target);
        *target = *value;
        walk_path(path, true, case_);
    } else if (t == TYPE_OBJECT) {
        object::set_many(target, value, any, only, some);
    } else if (t == TYPE_BLOCK) {
        Cell* words = stack::push(target);
        series::clamp_head(words);
        stack::mark_native(u32(stack::anon_symbol));
        set_loop_words(words, value, series::rest_length(words), any, only, some);
        stack::unwind();
    } else {
        Cell word = *target;
        context::set(&word, value);
    }
    stack::set_last(value);
    stack::keep();
    return 0;
}

// bind word context /copy
i32 bind(i32 check, const i32* r) {
    if (check) check_args(SLOT_BIND, r);
    Cell* target = arg(0);
    const Cell* where = arg(1);
    u32 ctx = context_of(where);
    if (!ctx) fire(ERR_SCRIPT, "not-in-context", where);
    if (TYPE_OF(target) == TYPE_BLOCK) {
        bool self = TYPE_OF(where) == TYPE_OBJECT;
        if (r[0] >= 0) *target = *block::clone(target, true, true);
        context::bind(target, ctx, self);
    } else {
        context::bind_word(ctx, target);
    }
    stack::keep();
    return 0;
}

// in object word
i32 in(i32 check, const i32* r) {
    if (check) check_args(SLOT_IN, r);
    const Cell* where = arg(0);
    Cell word = *arg(1);
    if (TYPE_OF(&word) == TYPE_REFINEMENT) cell::set_type(&word, TYPE_WORD);
    bool found;
    if (u32 ctx = context_of(where)) {
        found = context::bind_word(ctx, &word) >= 0;
    } else {
        // native!, action! and op!: their words are those of their spec. No
        // context of theirs lives outside a call, so the word stays as it is.
        Cell spec;
        cell::init(&spec, TYPE_BLOCK);
        spec.w2 = where->w2;
        found = false;
        for (i32 i = 0; i < block::cell_count(node_buffer(spec.w2)); i++) {
            const Cell* c = block::cell_at(spec.w2, i);
            if ((any_word_q(TYPE_OF(c)) || TYPE_OF(c) == TYPE_REFINEMENT) && symbol::resolve(i32(c->w2)) == symbol::resolve(i32(word.w2))) {
                found = true;
                break;
            }
        }
    }
    if (found) stack::set_last(&word);
    else cell::init(arg(0), TYPE_NONE);
    stack::keep();
    return 0;
}

}  // namespace code
}  // namespace natives
}  // namespace zir
