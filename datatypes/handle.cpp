// handle!: see handle.hpp.
#include "datatypes/handle.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"
#include "runtime/handle_table.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace handle {

namespace {

const char* const class_names[CLASS_COUNT] = {"null", "fd", "monitor", "window", "font", "rich-text"};

inline bool fits_cell_q(uintptr_t value) { return i64(value) == i64(i32(u32(value))); }

Cell* write(Cell* c, u32 class_, uintptr_t value, u32 slot, u32 generation) {
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_HANDLE;
    c->w1 = (class_ & CLASS_MASK) | (generation << handle_table::GENERATION_SHIFT);
    c->w2 = u32(value);
    c->w3 = slot;
    return c;
}

Cell* in_slot(Cell* c, uintptr_t object, u32 class_, u32 type_index) {
    i32 slot = handle_table::alloc(object, type_index);
    return write(c, class_, object, u32(slot), handle_table::slot(slot)->generation);
}

// The value as far as it can be read without refusing: a released slot
// leaves the low 32 bits the cell shows.
i64 raw_value(const Cell* h) {
    if (h->w3 != NO_SLOT && live_q(h)) return i64(handle_table::slot(i32(h->w3))->object);
    return i64(i32(h->w2));
}

}  // namespace

Cell* make_at(Cell* c, uintptr_t value, u32 class_) {
    if (fits_cell_q(value)) return write(c, class_, value, NO_SLOT, 0);
    return in_slot(c, value, class_, 0);
}

Cell* make_owned_at(Cell* c, uintptr_t object, u32 class_, u32 type_index) {
    return in_slot(c, object, class_, type_index);
}

Cell* box(uintptr_t value, u32 class_) { return make_at(stack::arguments, value, class_); }

Cell* push(uintptr_t value, u32 class_) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    return make_at(c, value, class_);
}

Cell* push_null() { return push(0, CLASS_NULL); }

Cell* make_in(Cell* block, uintptr_t value, u32 class_) {
    Cell h;
    cell::init(&h, TYPE_UNSET);
    make_at(&h, value, class_);
    Cell* c = memory::alloc_tail(block);
    *c = h;
    return c;
}

bool live_q(const Cell* h) {
    return h->w3 == NO_SLOT || handle_table::live_q(i32(h->w3), h->w1 >> handle_table::GENERATION_SHIFT);
}

uintptr_t value_of(const Cell* h) {
    if (h->w3 == NO_SLOT) return uintptr_t(intptr_t(i32(h->w2)));
    if (!live_q(h)) fire(ERR_SCRIPT, "invalid-arg", h);
    return handle_table::slot(i32(h->w3))->object;
}

void release(const Cell* h) {
    if (h->w3 == NO_SLOT || !live_q(h)) return;
    handle_table::free(i32(h->w3), true);
}

// --- Actions ---------------------------------------------------------------

namespace {

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    string::append_literal(buffer, string::to_hex(i32(value->w2), false));
    string::append_char(buffer, 'h');
    return part - 9;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool all, bool, const Cell* arg, i32 part, i32) {
    if (!all) {
        string::append_literal(buffer, "handle!");
        return part - 7;
    }
    string::append_literal(buffer, "#[handle! ");
    part = form(value, buffer, arg, part - 10);
    u32 k = class_of(value);
    if (k > 0) {
        const char* name = k < CLASS_COUNT ? class_names[k] : "?";
        string::append_char(buffer, ' ');
        string::append_literal(buffer, name);
        part -= 1 + i32(std::strlen(name));
    }
    string::append_char(buffer, ']');
    return part - 1;
}

// Unequal to every other datatype, never "not comparable": ordering a handle
// against an integer answers rather than raising. The class takes no part.
i32 compare(const Cell* value, const Cell* other, i32) {
    if (TYPE_OF(other) != TYPE_HANDLE) return 1;
    i64 a = raw_value(value), b = raw_value(other);
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_HANDLE, TYPE_INTEGER, "handle!");
    r.only_own().on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    datatype::register_(r);
}

}  // namespace handle
}  // namespace zir
