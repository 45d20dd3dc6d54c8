// The datatype registry and datatype!: see datatype.hpp.
#include "datatypes/datatype.hpp"

#include <cstdio>

#include "datatypes/context.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace datatype {

TypeName names[TYPE_TOTAL];
action::Generic table[TYPE_TOTAL][ACTION_SLOTS];
u32 highest = 0;

Registration::Registration(u32 type_id, u32 parent_id, const char* type_name)
    : type(type_id), parent(parent_id), name(type_name), entries{}, inherit{} {
    for (bool& i : inherit) i = true;
}

Registration& Registration::only_own() {
    for (bool& i : inherit) i = false;
    return *this;
}

namespace {

void make_word(u32 type) {
    TypeName& n = names[type];
    n.word = *context::add_global(symbol::make(n.name), false, true);
}

}  // namespace

void register_(const Registration& r) {
    if (r.type > highest) highest = r.type;
    names[r.type] = TypeName{r.name, i32(std::strlen(r.name)) - 1, {}};
    for (u32 s = 0; s < ACTION_SLOTS; s++) {
        table[r.type][s] = (r.parent != 0 && r.inherit[s]) ? table[r.parent][s] : r.entries[s];
    }
    if (context::global) make_word(r.type);
}

void init_words() {
    for (u32 t = 1; t <= highest; t++)
        if (names[t].name) make_word(t);
}

const char* name_of(u32 type) { return type < TYPE_TOTAL && names[type].name ? names[type].name : "value!"; }

void make_at(Cell* c, u32 type) {
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_DATATYPE;
    c->w1 = type;
    c->w2 = c->w3 = 0;
}

Cell* push(u32 type) { return stack::push_scalar(TYPE_DATATYPE, type); }
Cell* make_in(Cell* block, u32 type) { return memory::make_scalar_in(block, TYPE_DATATYPE, type); }

// --- Actions ---------------------------------------------------------------

namespace {

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    const TypeName& n = names[value->w1];
    string::append_bytes(buffer, reinterpret_cast<const u8*>(n.name), n.length);
    return part - n.length;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool all, bool, const Cell*, i32 part, i32) {
    const TypeName& n = names[value->w1];
    if (all) string::append_literal(buffer, "#(");
    string::append_bytes(buffer, reinterpret_cast<const u8*>(n.name), n.length + 1);
    if (all) {
        string::append_literal(buffer, ")");
        part -= 3;
    }
    return part - (n.length + 1);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (!equality_op_q(op)) return NOT_COMPARABLE;
    return TYPE_OF(other) == TYPE_DATATYPE && other->w1 == value->w1 ? 0 : 1;
}

}  // namespace

void init() {
    // Every id has its name from the start, registered yet or not, so that
    // datatype! values of any id mold.
    for (u32 t = 1; t < TYPE_TOTAL; t++)
        if (const char* name = type_table[t].name) names[t] = TypeName{name, i32(std::strlen(name)) - 1, {}};
    Registration r(TYPE_DATATYPE, 0, "datatype!");
    r.only_own().on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    register_(r);
}

}  // namespace datatype
}  // namespace zir
