// typeset!: see typeset.hpp.
#include "datatypes/typeset.hpp"

#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/error.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace typeset {

namespace {

inline void init_cell(Cell* c, u32 w1, u32 w2, u32 w3) {
    cell::init(c, TYPE_TYPESET);
    c->w1 = w1;
    c->w2 = w2;
    c->w3 = w3;
}

// Datatypes written, counted and listed: the ids of the registry.
inline bool listed(u32 type) { return datatype::names[type].name != nullptr; }

// The value a bound word stands for; an unbound or unset word has none.
const Cell* word_value(const Cell* word) {
    const Cell* value = context::get(word);
    if (TYPE_OF(value) == TYPE_UNSET) fire(ERR_SCRIPT, "no-value", word);
    return value;
}

inline void merge(Cell* ts, const Cell* other) {
    ts->w1 |= other->w1;
    ts->w2 |= other->w2;
    ts->w3 |= other->w3;
}

}  // namespace

void expect_arg(u32 type, i32 argument) {
    Cell caller, dt, word;
    stack::caller_name(&caller);
    datatype::make_at(&dt, type);
    error::call_argument_of(&caller, argument, &word);
    fire(ERR_SCRIPT, "expect-arg", &caller, &dt, &word);
}

Cell* make_in(Cell* block, u32 w1, u32 w2, u32 w3) {
    Cell* c = memory::alloc_tail(block);
    init_cell(c, w1, w2, w3);
    return c;
}

Cell* make_default_in(Cell* block) {
    Cell* c = make_in(block, ~0u, ~0u, ~0u);
    word_of(c, TYPE_UNSET) &= ~bit_of(TYPE_UNSET);
    return c;
}

Cell* make_from_spec_in(Cell* block, const Cell* spec) {
    // Built aside first: a bad element leaves the block unchanged.
    Cell ts;
    init_cell(&ts, 0, 0, 0);
    SeriesBuffer* s = node_buffer(spec->w2);
    i32 n = series::length_of(s);
    for (i32 i = i32(spec->w1); i < n; i++) {
        const Cell* element = series::head_cells(node_buffer(spec->w2)) + i;
        const Cell* value = TYPE_OF(element) == TYPE_WORD ? word_value(element) : element;
        switch (TYPE_OF(value)) {
            case TYPE_DATATYPE: set_type_bit(&ts, value->w1); break;
            case TYPE_TYPESET: merge(&ts, value); break;
            case TYPE_WORD: set_type_bit(&ts, TYPE_OBJECT); break;
            case TYPE_BLOCK: break;
            default: fire(ERR_SCRIPT, "invalid-type-spec", element);
        }
    }
    Cell* c = memory::alloc_tail(block);
    *c = ts;
    return c;
}

void add(Cell* ts, const Cell* value) {
    if (TYPE_OF(value) == TYPE_WORD) value = word_value(value);
    switch (TYPE_OF(value)) {
        case TYPE_TYPESET: merge(ts, value); break;
        case TYPE_DATATYPE: set_type_bit(ts, value->w1); break;
        default: fire(ERR_SCRIPT, "invalid-arg", value);
    }
}

void do_bitwise(i32 op) {
    Cell* a = stack::arguments;
    if (op == 8) return;   // unique: a typeset has no duplicates
    Cell b = a[1];
    if (TYPE_OF(&b) == TYPE_DATATYPE) {
        u32 type = b.w1;
        init_cell(&b, 0, 0, 0);
        set_type_bit(&b, type);
    } else if (TYPE_OF(&b) != TYPE_TYPESET) {
        fire(ERR_SCRIPT, "invalid-arg", &a[1]);
    }
    u32* aw[3] = {&a->w1, &a->w2, &a->w3};
    const u32 bw[3] = {b.w1, b.w2, b.w3};
    for (int i = 0; i < 3; i++) {
        switch (op) {
            case 5: case 9: *aw[i] |= bw[i]; break;
            case 6: case 10: *aw[i] &= bw[i]; break;
            case 7: case 12: *aw[i] ^= bw[i]; break;
            case 11: *aw[i] &= ~bw[i]; break;
            default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
        }
    }
}

Cell* to_block(const Cell* ts, Cell* block) {
    Cell t = *ts;
    collector::RootNode node(memory::alloc_cells(4));
    cell::init(block, TYPE_BLOCK);
    block->w2 = node;
    for (u32 type = 1; type <= datatype::highest && type < BITS; type++)
        if (listed(type) && has_q(&t, type)) datatype::make_in(block, type);
    return block;
}

i32 count(const Cell* ts) {
    i32 n = 0;
    for (u32 type = 1; type <= datatype::highest && type < BITS; type++) n += listed(type) && has_q(ts, type);
    return n;
}

void clear(Cell* c) { c->w1 = c->w2 = c->w3 = 0; }

Cell* push(const Cell* ts) { return stack::push(ts); }

// --- Argument checks -----------------------------------------------------------

const Cell* check_arg(const Cell* ts, i32 argument, const Cell* value) {
    if (!has_q(ts, TYPE_OF(value))) expect_arg(TYPE_OF(value), argument);
    return value;
}

void check_stack_arg(const Cell* ts, i32 i) {
    if (i >= 0) check_arg(ts, i, stack::arguments + i);
}

void check_refinement_arg(const Cell* refinement, const Cell* ts, i32 i) {
    if (TYPE_OF(refinement) == TYPE_LOGIC && logic::get(refinement)) check_stack_arg(ts, i);
}

const Cell* check_not_unset(i32 argument, const Cell* value) {
    if (TYPE_OF(value) == TYPE_UNSET) expect_arg(TYPE_UNSET, argument);
    return value;
}

// --- Actions ---------------------------------------------------------------

namespace {

Cell* make(Cell* proto, Cell* spec, u32) {
    if (TYPE_OF(spec) == TYPE_TYPESET) return spec;
    if (TYPE_OF(spec) != TYPE_BLOCK) {
        Cell type;
        datatype::make_at(&type, TYPE_TYPESET);
        fire(ERR_SCRIPT, "bad-to-arg", &type, spec);
    }
    Cell ts;
    init_cell(&ts, 0, 0, 0);
    i32 n = series::length_of(node_buffer(spec->w2));
    for (i32 i = i32(spec->w1); i < n; i++) add(&ts, series::head_cells(node_buffer(spec->w2)) + i);
    *proto = ts;
    return proto;
}

// Names of the members in id order, one space after each; stops once the
// part is used up. Answers the part left and whether a name was written.
i32 write_names(const Cell* value, Cell* buffer, i32 part, bool* any) {
    *any = false;
    for (u32 type = 1; type <= datatype::highest && type < BITS && part > 0; type++) {
        if (!listed(type) || !has_q(value, type)) continue;
        const datatype::TypeName& n = datatype::names[type];
        string::append_bytes(buffer, reinterpret_cast<const u8*>(n.name), n.length + 1);
        string::append_char(buffer, ' ');
        part -= n.length + 2;
        *any = true;
    }
    return part;
}

inline void drop_last_char(Cell* buffer) {
    string::truncate_from(buffer, series::length_of(node_buffer(buffer->w2)) - 1);
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    bool any;
    part = write_names(value, buffer, part, &any);
    if (!any) return part;
    drop_last_char(buffer);
    return part + 1;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell*, i32 part, i32) {
    string::append_literal(buffer, "make typeset! [");
    bool any;
    part = write_names(value, buffer, part - 15, &any);
    if (any) {
        drop_last_char(buffer);   // the space after the last name becomes the bracket
        string::append_char(buffer, ']');
        return part;
    }
    string::append_char(buffer, ']');
    return part - 1;
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_TYPESET) return NOT_COMPARABLE;
    if (equality_op_q(op)) return value->w1 == other->w1 && value->w2 == other->w2 && value->w3 == other->w3 ? 0 : 1;
    if (!sort_op_q(op)) return NOT_COMPARABLE;
    // Sorting orders typesets by how many datatypes they hold.
    i32 a = count(value), b = count(other);
    return a < b ? -1 : a > b ? 1 : 0;
}

void and_() { do_bitwise(6); }
void or_() { do_bitwise(5); }
void xor_() { do_bitwise(7); }

Cell* complement(Cell* value) {
    value->w1 = ~value->w1;
    value->w2 = ~value->w2;
    value->w3 = ~value->w3;
    return value;
}

Cell* find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    if (TYPE_OF(value) != TYPE_DATATYPE) fire(ERR_SCRIPT, "invalid-arg", value);
    bool found = has_q(series, value->w1);
    cell::init(series, TYPE_LOGIC);
    series->w1 = found;
    return series;
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_TYPESET, 0, "typeset!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_TO>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_COMPARE>(compare).on<ACT_AND_T>(and_).on<ACT_COMPLEMENT>(complement).on<ACT_OR_T>(or_);
    r.on<ACT_XOR_T>(xor_).on<ACT_FIND>(find);
    datatype::register_(r);
}

}  // namespace typeset
}  // namespace zir
