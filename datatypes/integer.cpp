// integer!: see integer.hpp.
#include "datatypes/integer.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace integer {

namespace {
char text[12];
}  // namespace

const char* form_signed(i32 value) {
    if (value == 0) return "0";
    if (value == INT32_MIN) return "-2147483648";
    char* p = text + sizeof text - 1;
    *p = 0;
    u32 n = value < 0 ? u32(-value) : u32(value);
    do *--p = char('0' + n % 10);
    while ((n /= 10) != 0);
    if (value < 0) *--p = '-';
    return p;
}

void make_at(Cell* c, i32 value) {
    cell::set_type(c, TYPE_INTEGER);
    c->w2 = u32(value);
}

Cell* make_in(Cell* block, i32 value) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

Cell* push(i32 value) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

Cell* box(i32 value) {
    Cell* c = stack::arguments;
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(value);
    return c;
}

// --- Actions ---------------------------------------------------------------

namespace {

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    const char* text = form_signed(get(value));
    i64 n = i64(std::strlen(text));
    string::append_bytes(buffer, reinterpret_cast<const u8*>(text), n);
    return part - i32(n);
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    u32 t = TYPE_OF(other);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_INTEGER) return 1;
    if (t != TYPE_INTEGER && t != TYPE_CHAR) return NOT_COMPARABLE;
    i32 a = get(value), b = i32(other->w2);
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_INTEGER, 0, "integer!");
    r.only_own().on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    datatype::register_(r);
}

}  // namespace integer
}  // namespace zir
