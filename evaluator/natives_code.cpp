// The natives that make or run code and reach words and values: func,
// function, does, has; do, reduce, compose (natives_do.cpp); get, set, bind,
// in (natives_words.cpp); construct, value?, uppercase, lowercase, extend,
// unset, new-line, new-line?, context? and as.
#include "evaluator/natives_code.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/function.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/map.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace natives {

namespace {

inline Cell* arg(i32 i) { return stack::arguments + i; }

// --- Making functions -------------------------------------------------------------------

// A block whose head lies past its tail (it was shortened since) starts at
// the tail.
inline void clamp(Cell* block) { series::clamp_head(block); }

// func spec body
i32 func(i32 check, const i32* r) {
    if (check) check_args(14, r);
    Cell* spec = arg(0);
    Cell* body = arg(1);
    clamp(spec);
    clamp(body);
    u32 flags = function::validate(spec);
    stack::top = arg(2);
    function::push(spec, body, 0, 0, 0, flags);
    stack::set_last_top(stack::top - 1);
    return 0;
}

// function spec body /extern: the set-words of the body become locals,
// except the words the spec lists after /extern. Works on a copy of the spec.
i32 function_(i32 check, const i32* r) {
    if (check) check_args(15, r);
    clamp(arg(0));
    stack::top = arg(2);
    *arg(0) = *block::clone(arg(0), false, false);
    function::collect_words(arg(0), arg(1));
    stack::top = arg(2);
    return func(0, nullptr);
}

// does body
i32 does(i32 check, const i32* r) {
    if (check) check_args(16, r);
    stack::top = arg(1);
    stack::push(arg(0));
    block::make_at(arg(0), 1);
    return func(0, nullptr);
}

// has vars body: the vars become the locals of a function of no arguments.
i32 has(i32 check, const i32* r) {
    if (check) check_args(17, r);
    clamp(arg(0));
    stack::top = arg(2);
    *arg(0) = *block::clone(arg(0), false, false);
    stack::top = arg(2);
    Cell local;
    series::make_word(&local, symbol::make("local"), TYPE_REFINEMENT);
    block::insert_value(arg(0), &local, true, false);
    return func(0, nullptr);
}

// --- Values and contexts ------------------------------------------------------------------

// construct block /with object /only
i32 construct(i32 check, const i32* r) {
    if (check) check_args(68, r);
    const Cell* proto = r[0] >= 0 ? arg(r[0]) : &none::value;
    object::construct(arg(0), proto, r[1] >= 0);
    stack::set_last_top(stack::top - 1);
    return 0;
}

// value? value: whether a word has a value; anything else has one.
i32 value_q(i32 check, const i32* r) {
    if (check) check_args(69, r);
    Cell word = *arg(0);
    u32 t = TYPE_OF(&word);
    bool set = true;
    if (t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) {
        // A word not looked up yet (slot -1) is looked up here: a question
        // raises no error for a word that has no slot.
        bool self = symbol::resolve(i32(word.w2)) == symbol::resolve(context::self_symbol);
        if (word.w1 && i32(word.w3) < 0 && !self) word.w3 = u32(context::find_word(word.w1, i32(word.w2), true));
        set = word.w1 && (i32(word.w3) >= 0 || self);
        // A word of a function's context that is not running has no value
        // to reach: that answers false, not an error.
        if (set) {
            const Cell* ctx = context::cell_of(word.w1);
            if ((ctx->header & context::ON_STACK) && !context::stack_values(ctx)) set = false;
        }
        set = set && TYPE_OF(context::get(&word)) != TYPE_UNSET;
    }
    stack::box_scalar(TYPE_LOGIC, set);
    stack::keep();
    return 0;
}

// uppercase / lowercase string /part limit
i32 change_case(i32 slot, i32 check, const i32* r, int flag) {
    if (check) check_args(slot, r);
    const Cell* part = r[0] >= 0 ? arg(r[0]) : nullptr;
    Cell* answer = case_folding::change_string(arg(0), part, flag);
    if (answer != arg(0)) stack::set_last(answer);
    stack::keep();
    return 0;
}

i32 uppercase(i32 check, const i32* r) { return change_case(71, check, r, 1); }
i32 lowercase(i32 check, const i32* r) { return change_case(72, check, r, 0); }

// extend obj spec /case
i32 extend(i32 check, const i32* r) {
    if (check) check_args(83, r);
    switch (TYPE_OF(arg(0))) {
        case TYPE_MAP:
            map::extend(arg(0), arg(1), r[0] >= 0);
            break;
        case TYPE_OBJECT:
            fire(ERR_INTERNAL, "not-done");
        default:
            ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
    stack::keep();
    return 0;
}

// unset word: a word, or every word! of a block, loses its value.
i32 unset_(i32 check, const i32* r) {
    if (check) check_args(88, r);
    if (TYPE_OF(arg(0)) == TYPE_WORD) {
        Cell word = *arg(0);
        context::set(&word, &unset::value);
    } else {
        Cell* words = stack::push(arg(0));
        clamp(words);
        for (i32 i = series::head_index(words); i < block::cell_count(node_buffer(words->w2)); i++) {
            Cell word = *block::cell_at(words->w2, i);
            if (TYPE_OF(&word) == TYPE_WORD) context::set(&word, &unset::value);
        }
    }
    stack::box_scalar(TYPE_UNSET);
    stack::keep();
    return 0;
}

// new-line position value /all /skip size
i32 new_line(i32 check, const i32* r) {
    if (check) check_args(89, r);
    bool on = logic::truthy_q(arg(1), false, nullptr);
    bool all = r[0] >= 0, skip = r[1] >= 0;
    i32 step = 1;
    if (skip) {
        step = integer::get(arg(r[1]));
        if (step < 1) fire(ERR_SCRIPT, "out-of-range", arg(r[1]));
    }
    Cell* position = arg(0);
    SeriesBuffer* s = node_buffer(position->w2);
    i32 n = block::cell_count(s);
    i32 h = series::head_index(position);
    Cell* cells = series::head_cells(s);
    auto mark = [](Cell* c, bool set) {
        if (set) c->header |= FLAG_NEW_LINE;
        else c->header &= ~FLAG_NEW_LINE;
    };
    if (!all && !skip) {
        if (h < n) mark(cells + h, on);
    } else {
        for (i32 i = 0; h + i < n; i++) mark(cells + h + i, on == (step == 1 || i % step == 0));
    }
    stack::keep();
    return 0;
}

// new-line? position
i32 new_line_q(i32 check, const i32* r) {
    if (check) check_args(90, r);
    const Cell* position = arg(0);
    SeriesBuffer* s = node_buffer(position->w2);
    i32 h = series::head_index(position);
    bool marked = h < block::cell_count(s) && (series::head_cells(s)[h].header & FLAG_NEW_LINE);
    stack::box_scalar(TYPE_LOGIC, marked);
    stack::keep();
    return 0;
}

// context? word: the object or function whose context the word is bound
// to; none for a word bound to none (or to the global context).
i32 context_q(i32 check, const i32* r) {
    if (check) check_args(92, r);
    u32 ctx = arg(0)->w1;
    const Cell* owner = ctx ? context::owner_of(ctx) : nullptr;
    if (owner && (TYPE_OF(owner) == TYPE_OBJECT || TYPE_OF(owner) == TYPE_FUNCTION)) stack::set_last(owner);
    else cell::init(arg(0), TYPE_NONE);
    stack::keep();
    return 0;
}

// The coercion class of `as`: 1 the cell lists, 2 the texts, 0 none.
i32 as_class(u32 t) {
    switch (t) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH:
            return 1;
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
            return 2;
        default:
            return 0;
    }
}

// as type spec: the same series and head seen as another datatype of its
// class.
i32 as(i32 check, const i32* r) {
    if (check) check_args(98, r);
    u32 to = TYPE_OF(arg(0)) == TYPE_DATATYPE ? arg(0)->w1 : TYPE_OF(arg(0));
    u32 from = TYPE_OF(arg(1));
    i32 k = as_class(to);
    if (k == 0 || k != as_class(from)) {
        Cell a, b;
        datatype::make_at(&a, from);
        datatype::make_at(&b, to);
        fire(ERR_SCRIPT, "not-same-class", &a, &b);
    }
    Cell result = *arg(1);
    cell::set_type(&result, to);
    if (k == 1) result.w3 = 0;
    stack::set_last(&result);
    stack::keep();
    return 0;
}

}  // namespace

void fill_code(action::Generic* slots) {
    auto put = [&](i32 slot, Entry entry) { slots[slot - 1] = reinterpret_cast<action::Generic>(entry); };
    put(14, func);
    put(15, function_);
    put(16, does);
    put(17, has);
    put(20, code::do_);
    put(21, code::get);
    put(22, code::set);
    put(35, code::reduce);
    put(36, code::compose);
    put(38, code::bind);
    put(39, code::in);
    put(68, construct);
    put(69, value_q);
    put(71, uppercase);
    put(72, lowercase);
    put(83, extend);
    put(88, unset_);
    put(89, new_line);
    put(90, new_line_q);
    put(92, context_q);
    put(98, as);
}

}  // namespace natives
}  // namespace zir
