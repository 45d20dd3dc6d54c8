// Path evaluation: `a/b/c`, `:a/b`, `a/b: value`, `obj/method/refinement`.
//
// The head word gives a value; each following element selects into the value
// reached so far through that value's path action (action slot 7). A
// function reached is called at once (plain form only), the rest of the path
// naming its refinements. The walk keeps its cells (the path, the value
// reached, the selector, the container, the previous element) on the value
// stack above the top it found, so that they survive every allocation, and
// gives that top back at the end with the result on it (or in the result
// cell).
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace interpreter {

namespace {

inline bool function_q(u32 t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// Containers whose owner hears of a path assignment into them.
inline bool notify_container_q(const Cell* container, const Cell* prev) {
    u32 t = TYPE_OF(container);
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH)) return true;
    return t == TYPE_OBJECT && container->w3 != 0 && TYPE_OF(prev) == TYPE_WORD;
}

// The work cells of a walk, above the top it found.
struct Walk {
    Cell* base;        // the top before the walk; the result goes there
    Cell* path;        // the path, kept alive
    Cell* value;       // the value reached
    Cell* selector;
    Cell* container;   // where the value reached came from
    Cell* prev;        // the previous element
    Cell* work_top;
};

// Where the value reached lies in its container, for the locator.
void locate(Locator* loc, const Walk& w, i32 count) {
    loc->count = count;
    loc->value.value = *w.value;
    loc->container.value = *w.container;
    loc->index = 0;
    u32 t = TYPE_OF(w.container);
    if (t == TYPE_UNSET || t == TYPE_NONE) {
        loc->kind = count == 1 ? 0 : 4;
    } else if (any_series_q(t) || t == TYPE_MAP) {
        loc->kind = 2;
        loc->index = TYPE_OF(w.prev) == TYPE_INTEGER ? i32(w.container->w1) + integer::get(w.prev) - 1 : -1;
        if (loc->index < 0) loc->kind = 4;
    } else if (t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT) {
        loc->kind = 3;
        loc->index = any_word_q(TYPE_OF(w.prev)) ? object::find_index(w.container, w.prev) : -1;
        if (loc->index < 0) loc->kind = 4;
    } else {
        loc->kind = 4;
    }
}

// The value a locator recorded, for a walk that resumes.
void resume_value(const Locator* loc, const Cell* head, Cell* out) {
    switch (loc->kind) {
        case 0:
            *out = *context::get(head);
            return;
        case 2: {
            const Cell* c = &loc->container.value;
            if (loc->index >= 0 && loc->index < series::abs_length(series::buffer_of(c)) && any_block_q(TYPE_OF(c))) {
                *out = *block::cell_at(c->w2, loc->index);
                return;
            }
            *out = loc->value.value;
            return;
        }
        case 3: {
            const Cell* ctx = context::cell_of(loc->container.value.w1);
            if (loc->index >= 0 && loc->index < context::word_count(ctx)) {
                *out = *context::value_at(ctx, loc->index);
                return;
            }
            *out = loc->value.value;
            return;
        }
        default:
            *out = loc->value.value;
    }
}

// Where the value reached lives, so that a set-path into a scalar (a time's
// hour, a pair's x) changes the scalar there and not the walk's copy of it:
// the head word's value, a cell of a series (a block's element, a map's
// value) or a field of an object. Kept as positions, never addresses: a
// paren later in the path may move any buffer.
struct Home {
    enum Kind : u8 { NONE, WORD, SERIES, FIELD } kind = NONE;
    u32 node = 0;    // the series, or the object's context
    i32 index = 0;
    u32 table = 0;   // a hash!'s index over its cells, which a change must follow
};

// Scalars whose path action changes the value reached in place.
inline bool scalar_path_q(u32 t) {
    return t == TYPE_TIME || t == TYPE_DATE || t == TYPE_PAIR || t == TYPE_TUPLE || t == TYPE_POINT2D ||
           t == TYPE_POINT3D;
}

// The home of what the path action of `container` answered for `selector`.
Home home_of(const Cell* container, const Cell* selector, const Cell* answer) {
    Home h;
    u32 t = TYPE_OF(container);
    if (any_block_q(t) || t == TYPE_MAP) {
        SeriesBuffer* s = node_buffer(container->w2);
        const Cell* first = series::head_cells(s);
        i64 n = block::cell_count(s);
        if (answer >= first && answer < first + n) {
            h.kind = Home::SERIES;
            h.node = container->w2;
            h.index = i32(answer - first);
            if (t == TYPE_HASH) h.table = container->w3;
        }
    } else if (t == TYPE_OBJECT && any_word_q(TYPE_OF(selector))) {
        i32 slot = object::find_index(container, selector);
        if (slot >= 0) {
            h.kind = Home::FIELD;
            h.node = container->w1;
            h.index = slot;
        }
    }
    return h;
}

// The cell a home names now, when it still holds a scalar of that type.
Cell* home_cell(const Home& h, const Cell* head, u32 type) {
    Cell* c = nullptr;
    switch (h.kind) {
        case Home::WORD:
            c = word_value_q(head);
            break;
        case Home::SERIES:
            if (h.index < block::cell_count(node_buffer(h.node))) c = block::cell_at(h.node, h.index);
            break;
        case Home::FIELD: {
            Cell* ctx = context::cell_of(h.node);
            if (h.index < context::word_count(ctx)) c = context::value_at(ctx, h.index);
            break;
        }
        default:
            break;
    }
    return c && TYPE_OF(c) == type ? c : nullptr;
}

// A hash! cell changed in place is indexed again under its new value.
void reindex(const Home& h) {
    if (!h.table || h.index >= block::cell_count(node_buffer(h.node))) return;
    Cell hash;
    cell::init(&hash, TYPE_HASH);
    hash.w2 = h.node;
    hash.w3 = h.table;
    series::index_drop(&hash, h.index, h.index + 1);
    series::index_put(&hash, h.index, h.index + 1);
}

// Ends a walk: the work cells are dropped and the result placed.
void finish(const Walk& w, const Cell* result_in, bool push) {
    const Cell result = *result_in;
    stack::top = w.base;
    if (push) stack::push(&result);
    else stack::set_last_top(&result);
}

// A function reached by the walk is called with the rest of the path as its
// refinements; its result ends the walk.
i32 call_reached(const Walk& w, const Code& code, i32 position, bool push, i32 next_index, const Cell* name,
                 const Cell* owner) {
    stack::top = w.work_top;
    Cell* slot = stack::push(w.value);
    const Cell own = *owner;
    i32 p = eval_code(slot, code, position, true, w.path, next_index, name, &own, 0, 0);
    if (ZIR_UNLIKELY(stack::pending != 0)) return p;
    finish(w, slot, push);
    return p;
}

}  // namespace

// The commonest paths, a word and one element (`blk/2`, `obj/field`), read
// without the walk's machinery when the answer is plain: an element within a
// block, a field of an object the element word is bound to already (by an
// earlier walk). Null for anything else.
namespace {

// The cells of a buffer of cells (the width is known: no shift to work out).
inline i32 cells_of(const SeriesBuffer* s) { return i32((s->tail - s->offset) >> 4); }

}  // namespace

const Cell* short_path_value(const Cell* path, bool get) {
    SeriesBuffer* s = node_buffer(path->w2);
    i32 head = i32(path->w1);
    if (cells_of(s) - head != 2) return nullptr;
    const Cell* cells = series::head_cells(s) + head;
    if (TYPE_OF(&cells[0]) != TYPE_WORD) return nullptr;
    // A global word (the commonest head) read here; any other the long way.
    const Cell* v;
    if (cells[0].w1 == context::global) {
        const context::GlobalSlots& g = context::global_slots_now();
        v = cells[0].w3 < g.count ? g.cells + cells[0].w3 : nullptr;
    } else {
        v = word_value_q(&cells[0]);
    }
    if (!v) return nullptr;
    const Cell* e = &cells[1];
    const Cell* r = nullptr;
    if (TYPE_OF(v) == TYPE_BLOCK && TYPE_OF(e) == TYPE_INTEGER) {
        SeriesBuffer* b = node_buffer(v->w2);
        i64 k = i64(v->w1) + integer::get(e) - 1;
        if (integer::get(e) >= 1 && k < cells_of(b)) r = series::head_cells(b) + k;
    } else if (TYPE_OF(v) == TYPE_OBJECT && TYPE_OF(e) == TYPE_WORD && e->w1 == v->w1 && i32(e->w3) >= 0) {
        r = context::value_cell_q(e, false);
    }
    if (!r || TYPE_OF(r) == TYPE_UNSET) return nullptr;
    if (!get && function_q(TYPE_OF(r))) return nullptr;
    return r;
}

i32 eval_path(const Cell* path_in, const Code& code, i32 position, bool set, bool get, bool push, bool pass,
              Locator* locator) {
    if (ZIR_LIKELY(!tracing) && !set && !locator) {
        if (const Cell* r = short_path_value(path_in, get)) {
            if (push) stack::push(r);
            else stack::set_last_top(r);
            return position;
        }
    }
    Walk w;
    w.base = stack::top;
    w.path = stack::push(path_in);
    for (Cell** c : {&w.value, &w.selector, &w.container, &w.prev}) {
        *c = stack::push_slot();
        cell::init(*c, TYPE_UNSET);
    }
    w.work_top = stack::top;
    Code pc = code_of(w.path);
    i32 n = end_of(pc) - pc.head;
    if (n < 1) fire(ERR_SCRIPT, "empty-path", w.path);
    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_ENTER, &pc, pc.head, nullptr, nullptr);
    const Cell head = *block::cell_at(pc.node, pc.head);
    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_FETCH, &pc, pc.head, &head, &head);
    if (TYPE_OF(&head) != TYPE_WORD) fire(ERR_SCRIPT, "word-first", w.path);

    i32 first = 1;
    Home home;
    bool resuming = locator && locator->count > 0;
    if (resuming) {
        resume_value(locator, &head, w.value);
        *w.container = locator->container.value;
        first = locator->count;
        if (locator->kind == 0) {
            home.kind = Home::WORD;
        } else if (locator->kind == 2 && any_block_q(TYPE_OF(w.container))) {
            home = {Home::SERIES, w.container->w2, locator->index,
                    TYPE_OF(w.container) == TYPE_HASH ? w.container->w3 : 0};
        } else if (locator->kind == 3) {
            home = {Home::FIELD, w.container->w1, locator->index, 0};
        }
        locator->count = 0;
    } else {
        const Cell* v = word_value_q(&head);
        if (v) home.kind = Home::WORD;
        *w.value = v ? *v : *context::get(&head);
        if (TYPE_OF(w.value) == TYPE_UNSET) fire(ERR_SCRIPT, "unset-path", w.path, &head);
        if (function_q(TYPE_OF(w.value))) {
            if (set) fire(ERR_SCRIPT, "invalid-path-set", w.path);
            if (get) fire(ERR_SCRIPT, "invalid-path-get", w.path);
            i32 p = call_reached(w, code, position, push, 1, &head, w.value);
            if (ZIR_UNLIKELY(tracing) && stack::pending == 0) trace_event(EVENT_EXIT, &pc, -1, nullptr, nullptr);
            return p;
        }
        if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &pc, pc.head, &head, w.value);
        // A word of a function's context: the function is the container.
        if (head.w1 && head.w1 != context::global) {
            const Cell* owner = context::owner_of(head.w1);
            if (TYPE_OF(owner) != TYPE_OBJECT) *w.container = *owner;
        }
    }
    *w.prev = head;

    for (i32 i = first; i < n; i++) {
        stack::top = w.work_top;
        i32 at = pc.head + i;
        if (at >= end_of(pc)) {
            // The path was cut short meanwhile by an element's action: a
            // set-path whose last element is gone can set nothing.
            if (set) fire(ERR_SCRIPT, "invalid-path", w.path, w.prev);
            break;
        }
        const Cell element = *block::cell_at(pc.node, at);
        if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_FETCH, &pc, at, &element, &element);
        switch (TYPE_OF(&element)) {
            case TYPE_GET_WORD:
                *w.selector = *context::get(&element);
                break;
            case TYPE_PAREN:
                if (locator && !resuming) {
                    locate(locator, w, i);
                    stack::top = w.base;
                    return position;
                }
                if (resuming && i == first) {
                    // Evaluated once already: its value is on the stack.
                    *w.selector = w.base[-1];
                    break;
                }
                eval_block(&element, false);
                if (ZIR_UNLIKELY(stack::pending != 0)) return position;
                *w.selector = stack::top[-1];
                stack::top = w.work_top;
                break;
            default:
                *w.selector = element;
        }
        if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_PUSH, &pc, at, &element, w.selector);
        if (TYPE_OF(w.selector) == TYPE_UNSET) fire(ERR_SCRIPT, "invalid-path", w.path, &element);
        // A paren may have cut the path short: the element it gave is then
        // the last one (a path that grew is walked as it was at the start).
        bool last = i == n - 1 || at + 1 >= end_of(pc);
        Cell* set_value = set && last ? stack::arguments : nullptr;
        bool notify = set && last && i >= 2 && notify_container_q(w.container, w.prev);

        // A block and an index within it: the element itself, as the path
        // action of block! answers it (a function there is called by the
        // walk below).
        if (ZIR_LIKELY(!set_value) && !tracing && TYPE_OF(w.value) == TYPE_BLOCK &&
            TYPE_OF(w.selector) == TYPE_INTEGER) {
            SeriesBuffer* s = node_buffer(w.value->w2);
            i64 k = i64(w.value->w1) + integer::get(w.selector) - 1;
            if (integer::get(w.selector) >= 1 && k < block::cell_count(s) &&
                (get || !function_q(TYPE_OF(series::head_cells(s) + k)))) {
                home = {Home::SERIES, w.value->w2, i32(k), 0};
                *w.container = *w.value;
                *w.value = series::head_cells(s)[k];
                *w.prev = element;
                continue;
            }
        }
        // A field of an object, by the binding an earlier walk left in the
        // element: the value the object's path action answers for it.
        if (ZIR_LIKELY(!set_value) && TYPE_OF(w.value) == TYPE_OBJECT && TYPE_OF(w.selector) == TYPE_WORD &&
            w.selector->w1 == w.value->w1 && i32(w.selector->w3) >= 0 && !tracing) {
            const Cell* ctx = context::cell_of(w.value->w1);
            i32 slot = i32(w.selector->w3);
            // A function there is a method, which the walk below calls.
            const Cell* field = slot < context::word_count(ctx) ? context::value_at(ctx, slot) : nullptr;
            if (field && TYPE_OF(field) != TYPE_UNSET && (get || !function_q(TYPE_OF(field)))) {
                home = {Home::FIELD, w.value->w1, slot, 0};
                *w.container = *w.value;
                *w.value = *context::value_at(context::cell_of(w.container->w1), slot);
                *w.prev = element;
                continue;
            }
        }
        auto action = reinterpret_cast<action::EvalPath>(
            actions::get_action_checked(w.value, ACT_EVAL_PATH, w.path, w.selector, i - 1));
        // A set-path into a scalar changes it where it lives.
        Cell* target = w.value;
        if (set_value && scalar_path_q(TYPE_OF(w.value))) {
            if (Cell* c = home_cell(home, &head, TYPE_OF(w.value))) target = c;
        }
        Cell* answer;
        if (target != w.value && home.table) {
            try {
                answer = action(target, w.selector, set_value, w.path, w.container, w.prev, i - 1, pass, get, last,
                                notify);
            } catch (...) {
                reindex(home);
                throw;
            }
            reindex(home);
        } else {
            answer = action(target, w.selector, set_value, w.path, w.container, w.prev, i - 1, pass, get, last,
                            notify);
        }
        if (set && !last) home = home_of(w.value, w.selector, answer);
        const Cell reached = *answer;
        stack::top = w.work_top;
        // The action may have bound the element word to the object it found
        // it in: the path keeps that binding for the next walk.
        if (TYPE_OF(&element) == TYPE_WORD && TYPE_OF(w.selector) == TYPE_WORD &&
            (w.selector->w1 != element.w1 || w.selector->w3 != element.w3) && at < end_of(pc)) {
            Cell* cell = block::cell_at(pc.node, at);
            if (TYPE_OF(cell) == TYPE_WORD && cell->w2 == element.w2) {
                cell->w1 = w.selector->w1;
                cell->w3 = w.selector->w3;
            }
        }
        if (!set && !get && function_q(TYPE_OF(&reached))) {
            // A method: called with the value that held it as its owner.
            const Cell owner = *w.value;
            *w.container = *w.value;
            *w.value = reached;
            i32 p = call_reached(w, code, position, push, i + 1, &element, &owner);
            if (ZIR_UNLIKELY(tracing) && stack::pending == 0) trace_event(EVENT_EXIT, &pc, -1, nullptr, nullptr);
            return p;
        }
        *w.container = *w.value;
        *w.value = reached;
        *w.prev = element;
        if (last) break;
    }
    if (ZIR_UNLIKELY(tracing)) trace_event(EVENT_EXIT, &pc, -1, nullptr, w.value);
    finish(w, w.value, push);
    return position;
}

bool eval_path_locator(const Cell* path, bool get, bool set, Locator* locator) {
    locator->count = 0;
    locator->kind = 4;
    locator->index = 0;
    cell::init(locator->value.get(), TYPE_UNSET);
    cell::init(locator->container.get(), TYPE_UNSET);
    Code pc = code_of(path);
    if (!tracing && end_of(pc) - pc.head >= 2) {
        const Cell head = *block::cell_at(pc.node, pc.head);
        const Cell second = *block::cell_at(pc.node, pc.head + 1);
        if (TYPE_OF(&head) == TYPE_WORD && TYPE_OF(&second) == TYPE_PAREN && head.w1) {
            const Cell* v = context::get(&head);
            if (TYPE_OF(v) != TYPE_UNSET && !function_q(TYPE_OF(v))) {
                locator->count = 1;
                locator->kind = 0;
                locator->value.value = *v;
                return true;
            }
        }
    }
    stack::KeepTop restore;
    eval_path(path, pc, 0, set, get, true, false, locator);
    return locator->count > 0;
}

}  // namespace interpreter
}  // namespace zir
