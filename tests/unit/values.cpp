// Value builders of the tests: see values.hpp.
#include "values.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "runtime/memory.hpp"

namespace zir::test {

Cell* int_(i32 v) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(v);
    return c;
}

Cell* none_() {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_NONE);
    return c;
}

Cell* logic_(bool v) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_LOGIC);
    c->w1 = v;
    return c;
}

Cell* word(const char* spelling, u32 type) {
    i32 sym = symbol::make(spelling);
    Cell* c = stack::push_slot();
    cell::init(c, type);
    c->w2 = u32(sym);
    c->w3 = u32(-1);
    return c;
}

Cell* str(const char* utf8) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    string::make_at(c, 16, 1);
    string::append_utf8(c, reinterpret_cast<const u8*>(utf8), i64(std::strlen(utf8)));
    return c;
}

Cell* block(std::initializer_list<const Cell*> items, u32 type) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    u32 node = memory::alloc_cells(i64(items.size()));
    cell::init(c, type);
    c->w2 = node;
    for (const Cell* item : items) *memory::alloc_tail(c) = *item;
    return c;
}

Cell* nl(const Cell* c) {
    Cell* n = stack::push(c);
    n->header |= FLAG_NEW_LINE;
    return n;
}

Cell* datatype_(u32 type) { return datatype::push(type); }

std::string mold(const Cell* value, MoldOptions o) {
    Cell* saved = stack::top;
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    Cell part;
    cell::init(&part, TYPE_INTEGER);
    part.w2 = u32(o.part);
    i32 budget = o.part >= 0 ? o.part : PART_UNLIMITED;
    actions::mold(value, buffer, o.only, o.all, o.flat, o.part >= 0 ? &part : nullptr, budget, 0);
    if (o.part >= 0) string::truncate_from(buffer, o.part);
    std::string text = string::to_std(buffer);
    stack::top = saved;
    return text;
}

std::string form(const Cell* value, i32 part) {
    Cell* saved = stack::top;
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    Cell p;
    cell::init(&p, TYPE_INTEGER);
    p.w2 = u32(part);
    actions::form(value, buffer, part >= 0 ? &p : nullptr, part >= 0 ? part : PART_UNLIMITED);
    if (part >= 0) string::truncate_from(buffer, part);
    std::string text = string::to_std(buffer);
    stack::top = saved;
    return text;
}

void ValueTest::SetUp() {
    Collecting::SetUp();
    saved_top = stack::top;
}

void ValueTest::TearDown() {
    stack::top = saved_top;
    Collecting::TearDown();
}

}  // namespace zir::test
