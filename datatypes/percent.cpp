// percent!: see percent.hpp.
#include "datatypes/percent.hpp"

#include <cstring>

#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace percent {

Cell* box(double d) { return make_at(stack::arguments, d); }

Cell* make_at(Cell* c, double d) {
    cell::init(c, TYPE_PERCENT);
    cell::set_float(c, d);
    return c;
}

Cell* make_at_words(Cell* c, u32 high, u32 low) {
    cell::init(c, TYPE_PERCENT);
    c->w2 = low;
    c->w3 = high;
    return c;
}

Cell* make_in(Cell* block, u32 high, u32 low) { return make_at_words(memory::alloc_tail(block), high, low); }
Cell* push(u32 high, u32 low) { return make_at_words(stack::push_slot(), high, low); }
Cell* push_value(double d) { return make_at(stack::push_slot(), d); }

namespace {

// Thirteen significant digits of the value times 100, and "%".
i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    const char* t = float_::format(get(value) * 100.0, float_::FORMAT_PERCENT);
    i32 n = i32(std::strlen(t));
    string::append_bytes(buffer, reinterpret_cast<const u8*>(t), n);
    return part - n;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_PERCENT, TYPE_FLOAT, "percent!");
    r.only_own().on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    for (u32 slot : {ACT_MAKE, ACT_RANDOM, ACT_TO, ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE, ACT_MULTIPLY,
                     ACT_NEGATE, ACT_POWER, ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q})
        r.from_parent(slot);
    datatype::register_(r);
}

}  // namespace percent
}  // namespace zir
