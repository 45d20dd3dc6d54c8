// object!: see object.hpp.
#include "datatypes/object.hpp"

#include <optional>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/function.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/ownership.hpp"

namespace zir {
namespace object {

void (*eval_block)(const Cell*, Cell*) = nullptr;
void (*call_function)(const Cell*, u32, const Cell*, i32) = nullptr;
void (*fill_frame)(const Cell*, i32) = nullptr;

using collector::RootCell;
using collector::RootNode;

namespace {

// The words objects are read for.
struct Words {
    i32 on_change, on_deep_change, changed, class_, words, values, body, owner, owned, events_q, part, true_, yes,
        on, false_, no, off, none;
};
Words words;

// Run-time class ids; never reused.
u32 class_counter = FIRST_CLASS_ID;

inline i32 resolved(const Cell* c) { return symbol::resolve(i32(c->w2)); }
inline i32 size_of(u32 ctx) { return context::word_count(context::cell_of(ctx)); }
inline Cell* value_of(u32 ctx, i32 i) { return context::value_at(context::cell_of(ctx), i); }
inline Cell* word_of(u32 ctx, i32 i) { return context::word_at(context::cell_of(ctx), i); }
inline u32 values_node(u32 ctx) { return context::cell_of(ctx)->w2; }
inline bool handler_word_q(i32 symbol) {
    i32 s = symbol::resolve(symbol);
    return s == words.on_change || s == words.on_deep_change;
}

// --- The change-handlers record ---

inline Cell* handler_cell(u32 record, i32 which) { return series::head_cells(node_buffer(record)) + which; }
inline i32 handler_index(const Cell* h) { return i32(i16(u16(h->w2 >> 16))); }
void set_handler(Cell* h, i32 index, i32 count, u32 spec) {
    cell::init(h, TYPE_PAIR);
    h->w2 = (u32(index) << 16) | (u32(count) & 0xFFFF);
    h->w3 = spec;
}

// Calls a handler whose arguments are the `argc` cells on top of the stack.
// The handler is user code: it may take fewer arguments, or refinements
// before its locals, so the rest of its frame follows its own spec.
void run_handler(const Cell* fn, i32 symbol, i32 flags, i32 argc) {
    if (!call_function || !fill_frame) fire(ERR_INTERNAL, "not-done");
    Cell* args = stack::top - argc;
    Cell name;
    series::make_word(&name, symbol);
    stack::top = args;
    stack::mark_func(u32(symbol), 0, fn->w1);
    // The arguments are already where the frame's cells begin.
    stack::top = args + argc;
    fill_frame(fn, argc);
    call_function(fn, fn->w1, &name, flags);
    stack::unwind_func_last();
}

// --- Values ---

// Gives every word a value cell.
void fit_values(u32 ctx) {
    RootNode hold(ctx);
    for (;;) {
        SeriesBuffer* v = node_buffer(values_node(ctx));
        if (series::length_of(v) >= size_of(ctx)) return;
        memory::alloc_tail_buffer(v);
    }
}

// Replaces every series value of a context by its deep copy; with `bind`,
// the copied blocks are bound to the context.
void copy_series_values(u32 ctx, bool bind) {
    RootNode hold(ctx);
    for (i32 i = 0; i < size_of(ctx); i++) {
        u32 t = TYPE_OF(value_of(ctx, i));
        if (!any_series_q(t)) continue;
        RootCell item(*value_of(ctx, i));
        RootCell out;
        actions::copy(item.get(), out.get(), nullptr, true, nullptr);
        if (bind && any_block_q(t)) context::bind(out.get(), ctx, true);
        *value_of(ctx, i) = out.value;
    }
}

// Rebuilds every function! of a context for its object.
void rebuild_functions(u32 ctx) {
    RootNode hold(ctx);
    for (i32 i = 0; i < size_of(ctx); i++) {
        if (TYPE_OF(value_of(ctx, i)) != TYPE_FUNCTION) continue;
        const Cell fn = *value_of(ctx, i);
        Cell* rebuilt = function::rebuild_for(&fn, ctx);
        *value_of(ctx, i) = *rebuilt;
        stack::pop(1);
    }
}

// Sets field i of an object (a stack cell): marked changed, and heard by the
// object's change handler unless it is one of the handlers.
void set_field(Cell* obj, i32 i, const Cell* value) {
    u32 ctx = obj->w1;
    word_of(ctx, i)->header |= context::WORD_CHANGED;
    if (!obj->w3 || handler_word_q(i32(word_of(ctx, i)->w2))) {
        *value_of(ctx, i) = *value;
        return;
    }
    stack::KeepTop keep;
    Cell* word = stack::push(word_of(ctx, i));
    Cell* old = stack::push(value_of(ctx, i));
    Cell* now = stack::push(value);
    *value_of(ctx, i) = *now;
    fire_on_set(obj, word, old, now);
}

}  // namespace

i32 compare_fields(const Cell* value, const Cell* other, i32 op) {
    u32 a = value->w1, b = other->w1;
    if (a == b) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(a)) return cycles::find_q(b) ? 0 : -1;
    i32 na = size_of(a), nb = size_of(b);
    if (na != nb) return na > nb ? -1 : 1;
    cycles::Guard guard_a(a);
    cycles::Guard guard_b(b);
    auto word_type = [](u32 t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; };
    auto number = [](u32 t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
    for (i32 i = 0; i < na && i < size_of(a) && i < size_of(b); i++) {
        i32 wa = resolved(word_of(a, i)), wb = resolved(word_of(b, i));
        if (wa != wb) return wa < wb ? -1 : 1;
        // A comparison may allocate and move the values blocks.
        const Cell x = *value_of(a, i), y = *value_of(b, i);
        u32 tx = TYPE_OF(&x), ty = TYPE_OF(&y);
        i32 r;
        if (tx == ty || (word_type(tx) && word_type(ty)) || (number(tx) && number(ty)))
            r = actions::compare_typed(&x, &y, op);
        else
            r = tx < ty ? -1 : 1;
        if (r != 0) return r;
    }
    return 0;
}

namespace {

// Whether a field after i is one that mold_fields writes.
bool written_after_q(u32 ctx, i32 i, bool all) {
    for (i32 k = i + 1; k < size_of(ctx); k++)
        if (all || !handler_word_q(i32(word_of(ctx, k)->w2))) return true;
    return false;
}

// A block of the object's words, bound to it, without the changed flag; with
// `changed_only`, of the words marked changed.
void word_list(u32 ctx, bool changed_only, Cell* out) {
    RootNode hold(ctx);
    block::make_at(out, size_of(ctx));
    for (i32 i = 0; i < size_of(ctx); i++) {
        Cell w = *word_of(ctx, i);
        if (changed_only && !(w.header & context::WORD_CHANGED)) continue;
        w.header &= ~context::WORD_CHANGED;
        w.w1 = ctx;
        w.w3 = u32(i);
        block::zs_append(out, &w);
    }
}

// The hooks of contexts and of the ownership table.
void on_set(const Cell* owner, const Cell* word, const Cell* old_value, const Cell* new_value) {
    fire_on_set(owner, word, old_value, new_value);
}

void on_deep_change(const Cell* owner, const Cell* word, const Cell* value, i32 action_symbol,
                    const Cell* new_value, i32 index, i32 part) {
    stack::KeepTop keep;
    Cell* o = stack::push(owner);
    Cell* w = stack::push(word);
    Cell* target = stack::push(value);
    Cell* now = stack::push(new_value ? new_value : &none::value);
    Cell* action = stack::push(&unset::value);
    word::make_at(action_symbol, action);
    fire_on_deep_set(o, w, target, action, now, index, part);
}

}  // namespace

// --- Making objects -------------------------------------------------------------

Cell* push(u32 ctx, u32 class_id) {
    Cell* out = stack::push(&unset::value);
    fit_values(ctx);
    cell::init(out, TYPE_OBJECT);
    out->w1 = ctx;
    out->w2 = class_id;
    *context::owner_of(ctx) = *out;
    return out;
}

Cell* make_at(Cell* cell, i32 slots) {
    u32 ctx = context::create(slots, false, true, 0, context::KIND_OBJECT);
    cell->header = (cell->header & FLAG_NEW_LINE) | TYPE_OBJECT;
    cell->w1 = ctx;
    cell->w2 = 0;
    cell->w3 = 0;
    *context::owner_of(ctx) = *cell;
    return cell;
}

u32 new_class_id() { return ++class_counter; }

u32 make_handlers(u32 spec1, u32 spec2, i32 index1, i32 count1, i32 index2, i32 count2) {
    u32 record = memory::alloc_cells(2);
    SeriesBuffer* s = node_buffer(record);
    s->tail = s->offset + 32;
    set_handler(handler_cell(record, ON_CHANGE), index1, count1, spec1);
    set_handler(handler_cell(record, ON_DEEP_CHANGE), index2, count2, spec2);
    return record;
}

void install_handlers(Cell* object) {
    u32 ctx = object->w1;
    i32 index[2] = {context::find_word(ctx, words.on_change, true), context::find_word(ctx, words.on_deep_change, true)};
    object->w3 = 0;
    if (index[0] < 0 && index[1] < 0) {
        *context::owner_of(ctx) = *object;
        return;
    }
    u32 spec[2] = {0, 0};
    i32 count[2] = {0, 0};
    for (int k = 0; k < 2; k++) {
        if (index[k] < 0) continue;
        const Cell* v = value_of(ctx, index[k]);
        if (TYPE_OF(v) != TYPE_FUNCTION && TYPE_OF(v) != TYPE_ROUTINE) {
            Cell word = *word_of(ctx, index[k]);
            word.header &= ~context::WORD_CHANGED;
            Cell type;
            datatype::make_at(&type, TYPE_OF(v));
            fire(ERR_SCRIPT, "bad-field-set", &word, &type);
        }
        spec[k] = v->w2;
        count[k] = function::count_locals(v->w2, 0, false);
    }
    object->w3 = make_handlers(spec[0], spec[1], index[0], count[0], index[1], count[1]);
    *context::owner_of(ctx) = *object;
    if (index[1] >= 0) ownership::set_owner(*object, *object, *word_of(ctx, index[1]));
}

Cell* duplicate(const Cell* proto_in, Cell* result, bool deep, const Cell* types_in, bool rebuild_handlers) {
    stack::KeepTop keep;
    Cell* proto = stack::push(proto_in);
    Cell* types = types_in ? stack::push(types_in) : nullptr;
    u32 old = proto->w1;
    std::optional<cycles::Guard> guard;
    if (deep) {
        if (cycles::find_q(old)) fire(ERR_INTERNAL, "no-cycle");
        guard.emplace(old);
    }
    *result = *proto;
    if (rebuild_handlers) result->w3 = 0;
    u32 ctx = context::clone(result, context::KIND_OBJECT);
    SeriesBuffer* to = node_buffer(values_node(ctx));
    SeriesBuffer* from = node_buffer(values_node(old));
    i32 n = size_of(ctx);
    i32 have = series::length_of(from);
    std::memcpy(series::head_cells(to), series::head_cells(from), size_t(have < n ? have : n) * 16);
    to->tail = to->offset + u32(n) * 16;
    *context::owner_of(ctx) = *result;
    if (deep && !types) copy_series_values(ctx, false);
    rebuild_functions(ctx);
    if (types) block::copy_types(values_node(ctx), 0, n, 1, deep, types);
    if (rebuild_handlers) install_handlers(result);
    return result;
}

Cell* construct(const Cell* spec_in, const Cell* proto, bool only) {
    Cell* out = stack::push(&unset::value);
    Cell* spec = stack::push(spec_in);
    if (proto && TYPE_OF(proto) == TYPE_OBJECT) {
        duplicate(proto, out, false, nullptr, false);
    } else {
        make_at(out, DEFAULT_SLOTS);
        out->w2 = new_class_id();
    }
    u32 ctx = out->w1;
    u32 node = spec->w2;
    for (i32 i = series::clamp_head(spec); i < block::cell_count(node_buffer(node)); i++) {
        const Cell* c = block::cell_at(node, i);
        if (TYPE_OF(c) != TYPE_SET_WORD) continue;
        i32 slot = context::add_word(ctx, i32(c->w2));
        i32 j = i + 1;
        i32 n = block::cell_count(node_buffer(node));
        while (j < n && TYPE_OF(block::cell_at(node, j)) == TYPE_SET_WORD) j++;
        Cell v = j < n ? *block::cell_at(node, j) : none::value;
        if (!only && TYPE_OF(&v) == TYPE_WORD) {
            i32 s = resolved(&v);
            if (s == words.true_ || s == words.yes || s == words.on) v = logic::true_value;
            else if (s == words.false_ || s == words.no || s == words.off) v = logic::false_value;
            else if (s == words.none) v = none::value;
        }
        v.header &= ~FLAG_NEW_LINE;
        *value_of(ctx, slot) = v;
    }
    *context::owner_of(ctx) = *out;
    stack::top = out + 1;
    return out;
}

void set_many(Cell* object, const Cell* value_in, bool any, bool only, bool some) {
    stack::KeepTop keep;
    Cell* obj = stack::push(object);
    Cell* value = stack::push(value_in);
    u32 ctx = obj->w1;
    u32 vt = TYPE_OF(value);
    if (only || (vt != TYPE_BLOCK && vt != TYPE_OBJECT)) {
        for (i32 i = 0; i < size_of(ctx); i++) set_field(obj, i, value);
        return;
    }
    // The value word i takes from the source; false when it takes none.
    auto source = [&](i32 i, Cell* out) {
        if (vt == TYPE_BLOCK) {
            i64 k = i64(value->w1) + i;
            *out = k < block::cell_count(node_buffer(value->w2)) ? *block::cell_at(value->w2, k) : none::value;
            return true;
        }
        i32 j = context::find_word(value->w1, i32(word_of(ctx, i)->w2), true);
        if (j < 0) return false;
        *out = *value_of(value->w1, j);
        return true;
    };
    Cell v;
    if (!some && !any) {
        for (i32 i = 0; i < size_of(ctx); i++) {
            if (!source(i, &v) || TYPE_OF(&v) != TYPE_UNSET) continue;
            Cell word = *word_of(ctx, i);
            word.header &= ~context::WORD_CHANGED;
            fire(ERR_SCRIPT, "need-value", &word);
        }
    }
    for (i32 i = 0; i < size_of(ctx); i++) {
        if (!source(i, &v)) continue;
        if (some && TYPE_OF(&v) == TYPE_NONE) continue;
        v.header &= ~FLAG_NEW_LINE;
        set_field(obj, i, &v);
    }
}

// --- Fields ---------------------------------------------------------------------

i32 find_index(const Cell* object, const Cell* word) { return context::find_word(object->w1, i32(word->w2), true); }

const Cell* select_value(const Cell* object, const Cell* word) {
    i32 i = find_index(object, word);
    return i < 0 ? &none::value : value_of(object->w1, i);
}

i32 get_size(const Cell* object) { return size_of(object->w1); }

void clear_new_lines(u32 node) {
    SeriesBuffer* s = node_buffer(node);
    for (Cell* c = series::head_cells(s); c < series::tail_cells(s); c++) cell::clear_new_line(c);
}

void clear_changed(u32 ctx) {
    for (i32 i = 0; i < size_of(ctx); i++) word_of(ctx, i)->header &= ~context::WORD_CHANGED;
}

// --- Change events -----------------------------------------------------------------

void fire_on_set(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value) {
    if (!object->w3) return;
    stack::KeepTop keep;
    // The handler is user code: it gets copies, which stay put and alive
    // whatever it does to the object.
    Cell* obj = stack::push(object);
    Cell* w = stack::push(word);
    Cell* old = stack::push(old_value);
    Cell* now = stack::push(new_value);
    u32 ctx = obj->w1;
    i32 index = handler_index(handler_cell(obj->w3, ON_CHANGE));
    if (index < 0 || index >= size_of(ctx)) return;
    Cell* fn = stack::push(value_of(ctx, index));
    if (TYPE_OF(fn) != TYPE_FUNCTION) fire(ERR_SCRIPT, "invalid-obj-evt", fn);
    if (w->w1 != ctx) context::bind_word(ctx, w);
    w->header &= ~context::WORD_CHANGED;
    stack::push(w);
    stack::push(old);
    stack::push(now);
    run_handler(fn, words.on_change, CALL_ON_CHANGE, 3);
}

void fire_on_deep_set(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                      const Cell* new_value, i32 index, i32 part) {
    if (!owner->w3) fire(ERR_SCRIPT, "invalid-obj-evt", owner);
    stack::KeepTop keep;
    Cell* args = stack::push(owner);
    stack::push(word);
    stack::push(target);
    stack::push(action);
    stack::push(new_value ? new_value : &none::value);
    u32 ctx = args->w1;
    i32 at = handler_index(handler_cell(args->w3, ON_DEEP_CHANGE));
    if (at < 0 || at >= size_of(ctx)) return;
    const Cell fn = *value_of(ctx, at);
    if (TYPE_OF(&fn) != TYPE_FUNCTION) return;
    Cell* f = stack::push(&fn);
    for (i32 k = 0; k < 5; k++) stack::push(args + k);
    Cell* n = stack::push_slot();
    cell::init(n, TYPE_INTEGER);
    n->w2 = u32(index);
    n = stack::push_slot();
    cell::init(n, TYPE_INTEGER);
    n->w2 = u32(part);
    run_handler(f, words.on_deep_change, CALL_ON_DEEP_CHANGE, 7);
}

// --- Writing ----------------------------------------------------------------------

i32 mold_fields(const Cell* object, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part,
                bool indent, i32 level, bool mold) {
    const Cell obj = *object;
    u32 ctx = obj.w1;
    if (size_of(ctx) == 0) return part;
    bool indenting = indent && !flat;
    u32 separator = flat ? ' ' : '\n';
    if (!flat && mold && !only) {
        string::append_char(buffer, '\n');
        part--;
    }
    cycles::Guard guard(ctx);
    for (i32 i = 0; i < size_of(ctx) && part > 0; i++) {
        if (!all && handler_word_q(i32(word_of(ctx, i)->w2))) continue;
        if (indenting) part = block::mold_indent(buffer, level, part);
        Cell word = *word_of(ctx, i);
        part = actions::mold(&word, buffer, false, all, flat, arg, part, level);
        string::append_literal(buffer, ": ");
        part -= 2;
        Cell v = *value_of(ctx, i);
        if (TYPE_OF(&v) == TYPE_VALUE) cell::init(&v, TYPE_UNSET);
        if (TYPE_OF(&v) == TYPE_WORD) {
            string::append_char(buffer, '\'');
            part--;
        }
        part = actions::mold(&v, buffer, false, all, flat, arg, part, level);
        // A separator after the last field written only when each ends a line.
        if (indenting || written_after_q(ctx, i, all)) {
            string::append_char(buffer, separator);
            part--;
        }
    }
    return part;
}

i32 mold_as(const char* opening, const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg,
            i32 part, i32 indent) {
    i32 length = i32(std::strlen(opening));
    if (cycles::find_q(value->w1)) {
        string::append_literal(buffer, opening);
        string::append_literal(buffer, "...]");
        return part - length - 4;
    }
    const Cell obj = *value;
    if (!only) {
        string::append_literal(buffer, opening);
        part -= length;
    }
    part = mold_fields(&obj, buffer, only, all, flat, arg, part, true, indent + 1, true);
    // The closing bracket of an object with fields goes on a line of its own.
    if (!flat && indent >= 1 && size_of(obj.w1) > 0) part = block::mold_indent(buffer, indent, part);
    if (!only) {
        string::append_char(buffer, ']');
        part--;
    }
    return part;
}

// --- Actions --------------------------------------------------------------------

Cell* make(Cell* proto_in, Cell* spec_in, u32) {
    Cell* result = stack::push(&unset::value);
    Cell* proto = stack::push(proto_in);
    Cell* spec = stack::push(spec_in);
    u32 st = TYPE_OF(spec);
    if (st != TYPE_OBJECT && st != TYPE_BLOCK) fire(ERR_SYNTAX, "malconstruct", spec);
    bool from_object = TYPE_OF(proto) == TYPE_OBJECT;
    if (from_object) duplicate(proto, result, false, nullptr, false);
    else make_at(result, DEFAULT_SLOTS);
    u32 ctx = result->w1;
    bool added;
    if (st == TYPE_OBJECT) {
        i32 before = size_of(ctx);
        u32 from = spec->w1;
        for (i32 i = 0; i < size_of(from); i++) {
            RootCell v(*value_of(from, i));
            context::put(ctx, i32(word_of(from, i)->w2), v.get());
        }
        added = size_of(ctx) > before;
        copy_series_values(ctx, false);
        rebuild_functions(ctx);
    } else {
        added = context::collect_set_words(ctx, spec);
        fit_values(ctx);
        context::bind(spec, ctx, true);
        if (from_object) copy_series_values(ctx, true);
        if (!eval_block) fire(ERR_INTERNAL, "not-done");
        Cell* last = stack::push(&unset::value);
        eval_block(spec, last);
        clear_changed(ctx);
        clear_new_lines(values_node(ctx));
    }
    if (added || !from_object) result->w2 = new_class_id();
    install_handlers(result);
    stack::top = result + 1;
    return result;
}

Cell* reflect(Cell* value, i32 field_symbol) {
    i32 field = symbol::resolve(field_symbol);
    u32 ctx = value->w1;
    RootNode hold(ctx);
    RootCell out;
    if (field == words.changed || field == words.words) {
        word_list(ctx, field == words.changed, out.get());
    } else if (field == words.class_) {
        cell::init(out.get(), TYPE_INTEGER);
        out->w2 = value->w2;
    } else if (field == words.values) {
        Cell values;
        cell::init(&values, TYPE_BLOCK);
        values.w2 = values_node(ctx);
        out.value = *block::clone(&values, false, false);
        stack::pop(1);
    } else if (field == words.body) {
        block::make_at(out.get(), size_of(ctx) * 2);
        for (i32 i = 0; i < size_of(ctx); i++) {
            Cell w = *word_of(ctx, i);
            w.header = TYPE_SET_WORD | FLAG_NEW_LINE;
            w.w1 = ctx;
            w.w3 = u32(i);
            block::zs_append(out.get(), &w);
            Cell v = *value_of(ctx, i);
            if (TYPE_OF(&v) == TYPE_WORD) cell::set_type(&v, TYPE_LIT_WORD);
            else if (TYPE_OF(&v) == TYPE_PATH) cell::set_type(&v, TYPE_LIT_PATH);
            block::zs_append(out.get(), &v);
        }
    } else if (field == words.owner) {
        cell::init(out.get(), TYPE_LOGIC);
        out->w1 = (context::cell_of(ctx)->header & context::OWNS_SERIES) != 0;
    } else if (field == words.events_q) {
        cell::init(out.get(), TYPE_LOGIC);
        out->w1 = value->w3 != 0;
    } else {
        fire(ERR_INTERNAL, "not-done");
    }
    *value = out.value;
    return value;
}

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    return mold_fields(value, buffer, false, false, false, arg, part, false, 0, false);
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    return mold_as("make object! [", value, buffer, only, all, flat, arg, part, indent);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool, bool get, bool last,
                bool) {
    const Cell* where = path ? path : &none::value;
    if (!any_word_q(TYPE_OF(element))) fire(ERR_SCRIPT, "invalid-path", where, element);
    u32 ctx = parent->w1;
    bool set = value && !get;
    if (set && i32(element->w3) < 0 && i32(element->w2) == context::self_symbol)
        fire(ERR_SCRIPT, "invalid-path", where, element);
    i32 slot = i32(element->w3);
    if (element->w1 != ctx || slot < 0) {
        slot = context::find_word(ctx, i32(element->w2), true);
        if (slot >= 0) {
            element->w1 = ctx;
            element->w3 = u32(slot);
        }
    }
    auto missing = [&]() -> Cell* {
        if (get && last) return stack::push(&unset::value);
        if (last) fire(ERR_SCRIPT, "invalid-path", where, element);
        fire(ERR_SCRIPT, "unset-path", where, element);
    };
    if (slot < 0) return missing();
    if (!set) {
        Cell* v = value_of(ctx, slot);
        return TYPE_OF(v) == TYPE_UNSET ? missing() : v;
    }
    stack::KeepTop keep;
    Cell* obj = stack::push(parent);
    Cell* word = stack::push(element);
    Cell* now = stack::push(value);
    Cell* old = obj->w3 ? stack::push(value_of(ctx, slot)) : nullptr;
    context::set_in(word, now, ctx, false);
    if (old) fire_on_set(obj, word, old, now);
    return value;
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_OBJECT) return NOT_COMPARABLE;
    return compare_fields(value, other, op);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (part) series::fire_refine_arg(words.part, part);
    return duplicate(value, result, deep, types, false);
}

Cell* select(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    if (!any_word_q(TYPE_OF(value))) {
        Cell type;
        datatype::make_at(&type, TYPE_OF(value));
        fire(ERR_SCRIPT, "invalid-type", &type);
    }
    const Cell found = *select_value(series, value);
    *series = found;
    return series;
}

Cell* put(Cell* series, Cell* key, Cell* value, bool) {
    if (TYPE_OF(key) != TYPE_WORD) {
        Cell type;
        datatype::make_at(&type, TYPE_OF(key));
        fire(ERR_SCRIPT, "invalid-key-type", &type);
    }
    return eval_path(series, key, value, nullptr, nullptr, nullptr, 0, false, false, true, false);
}

Cell* modify(Cell* target, i32 field_symbol, Cell* value, bool) {
    i32 field = symbol::resolve(field_symbol);
    const Cell obj = *target;
    Cell field_word;
    series::make_word(&field_word, field_symbol);
    if (field == words.changed) {
        if (TYPE_OF(value) != TYPE_NONE) fire(ERR_SCRIPT, "invalid-arg", value);
        clear_changed(obj.w1);
    } else if (field == words.owner) {
        ownership::set_owner(obj, obj, field_word);
    } else if (field == words.owned) {
        if (TYPE_OF(value) == TYPE_NONE) {
            context::cell_of(obj.w1)->header &= ~context::OWNS_SERIES;
            ownership::unbind(obj);
        } else {
            if (TYPE_OF(value) != TYPE_BLOCK || block::zs_length_q(value) < 2) fire(ERR_SCRIPT, "invalid-arg", value);
            const Cell owner = block::zs_head(value)[0];
            const Cell word = block::zs_head(value)[1];
            if (TYPE_OF(&owner) != TYPE_OBJECT || !any_word_q(TYPE_OF(&word))) fire(ERR_SCRIPT, "invalid-arg", value);
            ownership::set_owner(obj, owner, word);
        }
    } else {
        fire(ERR_INTERNAL, "not-done");
    }
    return target;
}

// --- Registration ------------------------------------------------------------

void init() {
    datatype::Registration r(TYPE_OBJECT, 0, "object!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_REFLECT>(reflect).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_EVAL_PATH>(eval_path).on<ACT_COMPARE>(compare).on<ACT_COPY>(copy).on<ACT_PUT>(put);
    r.on<ACT_SELECT>(select).on<ACT_MODIFY>(modify);
    datatype::register_(r);
}

void init_state() {
    auto w = [](const char* s) { return symbol::resolve(symbol::make(s)); };
    words = Words{w("on-change*"), w("on-deep-change*"), w("changed"), w("class"), w("words"), w("values"),
                  w("body"),       w("owner"),           w("owned"),   w("events?"), w("part"),  w("true"),
                  w("yes"),        w("on"),              w("false"),   w("no"),      w("off"),   w("none")};
    context::on_set = on_set;
    ownership::on_deep_change = on_deep_change;
}

}  // namespace object
}  // namespace zir
