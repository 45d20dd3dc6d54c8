// unset!: see unset.hpp.
#include "datatypes/unset.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace unset {

const Cell value = {TYPE_UNSET, 0, 0, 0};

Cell* box() {
    cell::init(stack::arguments, TYPE_UNSET);
    return stack::arguments;
}

Cell* push() {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    return c;
}

Cell* make_in(Cell* block) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_UNSET);
    return c;
}

namespace {

Cell* make(Cell*, Cell*, u32) { return push(); }

i32 form(const Cell*, Cell*, const Cell*, i32 part) { return part; }

i32 mold(const Cell*, Cell* buffer, bool, bool all, bool, const Cell*, i32 part, i32) {
    string::append_literal(buffer, all ? "#(unset)" : "unset");
    return part - (all ? 8 : 5);
}

i32 compare(const Cell*, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_UNSET) return NOT_COMPARABLE;
    return equality_op_q(op) || sort_op_q(op) ? 0 : NOT_COMPARABLE;
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_UNSET, 0, "unset!");
    r.on<ACT_MAKE>(make).on<ACT_TO>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    datatype::register_(r);
}

}  // namespace unset
}  // namespace zir
