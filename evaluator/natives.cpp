// Natives: see natives.hpp.
#include "evaluator/natives.hpp"

#include "boot/roots.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/native.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/fault.hpp"

namespace zir {
namespace natives {

action::Generic table[NATIVES_SIZE] = {};
i32 count = 0;
u32 print_block = 0;

namespace {

// The native! values by slot (cell slot - 1), kept in the root block.
u32 values_block = 0;

}  // namespace

void table_append(i32 n, const action::Generic* entries) {
    for (i32 i = 0; i < n; i++) {
        if (count >= NATIVES_SIZE) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
        table[count++] = entries[i];
    }
}

void register_all() {
    Cell made;
    cell::init(&made, TYPE_UNSET);
    collector::RootCell print(made);
    block::make_at(print.get(), 32);
    print_block = boot::append_root(print.get())->w2;

    action::Generic slots[NATIVES_USED] = {};
    fill_control(slots);
    fill_code(slots);
    fill_compare(slots);
    fill_output(slots);
    fill_parse(slots);
    fill_sets(slots);
    fill_math(slots);
    fill_system(slots);
    count = 0;
    table_append(NATIVES_USED, slots);
}

void define_words() {
    stack::KeepTop restore;
    {
        collector::RootCell values;
        block::make_at(values.get(), NATIVES_USED);
        values_block = boot::append_root(values.get())->w2;
    }
    for (const Manifest& m : manifest) {
        Cell* slot_value = stack::push_slot();
        cell::init(slot_value, TYPE_NONE);
        if (table[m.slot - 1]) {
            // [spec-block slot], the spec native! make takes.
            Cell* made = stack::push_slot();
            cell::init(made, TYPE_UNSET);
            block::make_at(made, 2);
            Cell* spec = stack::push_slot();
            cell::init(spec, TYPE_UNSET);
            block::make_at(spec, 8);
            const char* p = m.spec;
            actions::read_spec(spec, p, false);
            block::zs_append(made, spec);
            Cell slot;
            cell::init(&slot, TYPE_INTEGER);
            slot.w2 = u32(m.slot);
            block::zs_append(made, &slot);
            Cell* value = native::make(nullptr, made, TYPE_NATIVE);
            *slot_value = *value;
            Cell word = *word::load(m.word);
            context::set(&word, slot_value);
        }
        Cell values;
        cell::init(&values, TYPE_BLOCK);
        values.w2 = values_block;
        block::zs_append(&values, slot_value);
        stack::top = slot_value;
    }
}

const Cell* value_of(i32 slot) {
    if (!values_block || slot < 1 || slot > block::cell_count(node_buffer(values_block))) return &none::value;
    return block::cell_at(values_block, slot - 1);
}

namespace {

bool cell_series_q(u32 type) {
    return type == TYPE_MAP || type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH || type == TYPE_PATH ||
           type == TYPE_LIT_PATH || type == TYPE_SET_PATH || type == TYPE_GET_PATH;
}

// Element i (from 1) of a cell series, copied (none past the tail).
Cell element(const Cell* series, i32 i) {
    Cell s = *series;
    return *series::pick(&s, i, nullptr);
}

}  // namespace

void set_loop_words(const Cell* words, const Cell* value, i32 n, bool any, bool only, bool some) {
    bool each = cell_series_q(TYPE_OF(value)) && !only;
    // Every word is checked before any is set, whatever the value.
    for (i32 i = 1; i <= n; i++) {
        Cell w = word::loop_word(words, i - 1);
        if (!each) continue;
        Cell v = element(value, i);
        if (!any && TYPE_OF(&v) == TYPE_UNSET) fire(ERR_SCRIPT, "need-value", &w);
    }
    for (i32 i = 1; i <= n; i++) {
        Cell v = each ? element(value, i) : *value;
        if (some && TYPE_OF(&v) == TYPE_NONE) continue;
        Cell w = word::loop_word(words, i - 1);
        if (Cell* cell = context::plain_value_cell(&w)) {
            *cell = v;   // nothing to hear of the change, nothing allocated
            continue;
        }
        collector::RootCell held(v);
        context::set(&w, held.get());
    }
}

void check_args(i32 slot, const i32* refinements) {
    Cell fn = *value_of(slot);
    if (TYPE_OF(&fn) != TYPE_NATIVE) return;
    u32 cache = interpreter::arg_cache(&fn);
    i32 n = block::cell_count(node_buffer(cache));
    i32 position = 0;        // of the next argument
    i32 refinement = -1;     // ordinal of the refinement being walked
    bool active = true;
    for (i32 k = 0; k < n; k++) {
        const Cell* e = block::cell_at(cache, k);
        if (TYPE_OF(e) == TYPE_REFINEMENT) {
            refinement++;
            position = refinements[refinement];
            active = position >= 0;
            continue;
        }
        if (TYPE_OF(e) != TYPE_TYPESET) continue;
        if (((e->header & typeset::ARG_MODE_MASK) >> typeset::ARG_MODE_SHIFT) == 3) continue;
        if (active) {
            Cell ts = *e;
            typeset::check_stack_arg(&ts, position);
        }
        position++;
    }
}

}  // namespace natives
}  // namespace zir
