// unset!: see unset.hpp.
#include "datatypes/unset.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace unset {

const Cell value = {TYPE_UNSET, 0, 0, 0};

Cell* box() { return stack::box_scalar(TYPE_UNSET); }
Cell* push() { return stack::push_scalar(TYPE_UNSET); }
Cell* make_in(Cell* block) { return memory::make_scalar_in(block, TYPE_UNSET); }

namespace {

Cell* make(Cell*, Cell*, u32) { return push(); }

i32 form(const Cell*, Cell*, const Cell*, i32 part) { return part; }

i32 mold(const Cell*, Cell* buffer, bool, bool all, bool, const Cell*, i32 part, i32) {
    string::append_literal(buffer, all ? "#(unset)" : "unset");
    return part - (all ? 8 : 5);
}

i32 compare(const Cell*, const Cell* other, i32 op) { return compare_alike(TYPE_UNSET, other, op); }

}  // namespace

void init() {
    datatype::Registration r(TYPE_UNSET, 0, "unset!");
    r.on<ACT_MAKE>(make).on<ACT_TO>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    datatype::register_(r);
}

}  // namespace unset
}  // namespace zir
