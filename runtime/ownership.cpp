// Ownership: see ownership.hpp.
#include "runtime/ownership.hpp"

#include <vector>

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace ownership {

u32 table = 0;
DeepChange on_deep_change = nullptr;

namespace {

constexpr i32 TABLE_SIZE = 1000;
constexpr i32 VALUE_CELLS = 3;   // owned value, owner, field word

i32 set_path_word = 0;   // the action word of scalar path assignments

void mark_table() { hash_table::mark(table); }

// Series owned by themselves, without looking inside.
bool is_plain_series(u32 type) { return (any_series_q(type) && !any_block_q(type)) || type == TYPE_BITSET; }

// Takes ownership of one series; false when it already has an owner.
bool own(u32 node, const Cell& value, const Cell& owner, const Cell& word) {
    if (!node || (node_buffer(node)->flags & SERIES_OWNED)) return false;
    node_buffer(node)->flags |= SERIES_OWNED;
    Cell* v = hash_table::put_node(table, node);
    v[0] = value;
    v[1] = owner;
    v[2] = word;
    return true;
}

// Visits the cells of a block-like series from `from` on, unless the walk is
// inside it already. Cells are read by index: the visit allocates, and the
// block may move.
template <typename Visit>
void walk_cells(u32 node, i32 from, Visit visit) {
    if (cycles::find_q(node)) return;
    cycles::Guard guard(node);
    for (i32 i = from;; i++) {
        SeriesBuffer* s = node_buffer(node);
        if (i >= series::length_of(s)) break;
        visit(series::head_cells(s)[i]);
    }
}

// Visits (field value, field word) of an object's context, unless the object
// owns its own series or the walk is inside it already.
template <typename Visit>
void walk_fields(u32 ctx, Visit visit) {
    if ((context::cell_of(ctx)->header & context::OWNS_SERIES) || cycles::find_q(ctx)) return;
    cycles::Guard guard(ctx);
    for (i32 i = 0;; i++) {
        const Cell* c = context::cell_of(ctx);
        if (i >= context::word_count(c)) break;
        visit(*context::value_at(c, i), *context::word_at(c, i));
    }
}

}  // namespace

void init() {
    if (!table) collector::register_(mark_table);
    table = 0;
    table = hash_table::init(TABLE_SIZE, 0, hash_table::OWNERSHIP, VALUE_CELLS);
    set_path_word = symbol::make("set-path");
}

void set_owner(Cell value, Cell owner, Cell word) {
    // The owner comes from the language (`modify ... 'owned [owner word]`).
    if (TYPE_OF(&owner) != TYPE_OBJECT) fire(ERR_SCRIPT, "invalid-arg", &owner);
    bind_deep(value, owner, word);
    context::cell_of(owner.w1)->header |= context::OWNS_SERIES;
}

void bind_deep(Cell value, Cell owner, Cell word) {
    u32 type = TYPE_OF(&value);
    if (any_block_q(type)) {
        u32 node = value.w2;
        own(node, value, owner, word);
        walk_cells(node, i32(value.w1), [&](const Cell& c) { bind_deep(c, owner, word); });
    } else if (is_plain_series(type)) {
        own(value.w2, value, owner, word);
    } else if (type == TYPE_OBJECT) {
        walk_fields(value.w1, [&](const Cell& field, const Cell& field_word) {
            if (TYPE_OF(&field) == TYPE_OBJECT && field.w1 == owner.w1) return;
            bind_deep(field, owner, field_word);
        });
    }
}

void unbind(Cell value) {
    u32 type = TYPE_OF(&value);
    if (any_block_q(type) || is_plain_series(type)) {
        u32 node = value.w2;
        if (!node) return;
        node_buffer(node)->flags &= ~SERIES_OWNED;
        if (Cell* v = hash_table::delete_node(table, node)) {
            for (int i = 0; i < VALUE_CELLS; i++) cell::init(&v[i], TYPE_UNSET);
        }
        if (any_block_q(type)) walk_cells(node, i32(value.w1), [](const Cell& c) { unbind(c); });
    } else if (type == TYPE_OBJECT) {
        walk_fields(value.w1, [](const Cell& field, const Cell&) { unbind(field); });
    }
}

void unbind_range(u32 block, i32 index, i32 n) {
    for (i32 i = index; i < index + n; i++) {
        SeriesBuffer* s = node_buffer(block);
        if (i >= series::length_of(s)) break;
        unbind(series::head_cells(s)[i]);
    }
}

Cell* find(u32 node) { return hash_table::get_node(table, node); }

bool check(const Cell* value, i32 action_symbol, const Cell* new_value, i32 index, i32 part) {
    u32 node = TYPE_OF(value) == TYPE_OBJECT ? value->w1 : value->w2;
    Cell* v = find(node);
    if (!v || v[1].w3 == 0 || !on_deep_change) return false;
    // The handler is user code: it may drop the entry that keeps these alive.
    collector::RootCell owner(v[1]);
    collector::RootCell word(v[2]);
    on_deep_change(owner.get(), word.get(), value, action_symbol, new_value, index, part);
    return true;
}

void notify_set_path(const Cell* parent, const Cell* parent_word, const Cell* old_value, const Cell* new_value,
                     const Cell* assigned, i32 field) {
    if (!parent) return;
    if (TYPE_OF(parent) == TYPE_OBJECT) {
        if (parent->w3 == 0 || !parent_word) return;   // no change handlers
        if (!context::on_set) fire(ERR_INTERNAL, "not-done");
        // The handler is user code: it gets stack copies, which stay put
        // whatever it does to the object.
        Cell* owner = stack::push(parent);
        Cell* word = stack::push(parent_word);
        context::on_set(owner, word, old_value, new_value);
        return;
    }
    if (!any_series_q(TYPE_OF(parent))) return;
    // The same for a series holder, which may itself lie in a buffer that
    // the handler moves.
    Cell* holder = stack::push(parent);
    check(holder, set_path_word, assigned, field, 1);
}

// --- Collection ----------------------------------------------------------------

void mark_entries() {
    if (!table) return;
    struct Entry {
        u32 key;
        Cell* values;
    };
    std::vector<Entry> pending;
    hash_table::for_each_node(
        table, [](u32 key, Cell* values, void* p) { static_cast<std::vector<Entry>*>(p)->push_back({key, values}); },
        &pending);
    // An entry whose key is reachable keeps its owner and word; marking them
    // may make further keys reachable, so go round until nothing changes.
    bool progress = true;
    while (progress) {
        progress = false;
        for (Entry& e : pending) {
            if (!e.values || !collector::marked_q(e.key)) continue;
            collector::mark_values(e.values, e.values + VALUE_CELLS);
            collector::drain_marks();
            e.values = nullptr;
            progress = true;
        }
    }
}

void sweep() {
    if (!table) return;
    std::vector<u32> dead;
    hash_table::for_each_node(
        table,
        [](u32 key, Cell*, void* p) {
            if (!collector::marked_q(key)) static_cast<std::vector<u32>*>(p)->push_back(key);
        },
        &dead);
    for (u32 key : dead) {
        Cell* v = hash_table::delete_node(table, key);
        for (int i = 0; i < VALUE_CELLS; i++) cell::init(&v[i], TYPE_UNSET);
    }
}

}  // namespace ownership
}  // namespace zir
