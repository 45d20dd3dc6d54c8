// none!: see none.hpp.
#include "datatypes/none.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace none {

const Cell value = {TYPE_NONE, 0, 0, 0};

Cell* box() { return stack::box_scalar(TYPE_NONE); }
Cell* push() { return stack::push_scalar(TYPE_NONE); }
Cell* make_in(Cell* block) { return memory::make_scalar_in(block, TYPE_NONE); }

namespace {

Cell* make(Cell*, Cell*, u32) { return push(); }

i32 form(const Cell*, Cell* buffer, const Cell*, i32 part) {
    string::append_literal(buffer, "none");
    return part - 4;
}

i32 mold(const Cell*, Cell* buffer, bool, bool all, bool, const Cell*, i32 part, i32) {
    string::append_literal(buffer, all ? "#(none)" : "none");
    return part - (all ? 7 : 4);
}

i32 compare(const Cell*, const Cell* other, i32 op) { return compare_alike(TYPE_NONE, other, op); }

// clear, find, remove, select and take on none answer none, whatever their
// refinements; length? answers the no-length mark.
Cell* answer_none(Cell* series) {
    cell::init(series, TYPE_NONE);
    return series;
}
Cell* find(Cell* s, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) { return answer_none(s); }
Cell* select(Cell* s, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) { return answer_none(s); }
Cell* remove(Cell* s, Cell*, Cell*) { return answer_none(s); }
Cell* take(Cell* s, Cell*, bool, bool) { return answer_none(s); }
i32 length(const Cell*) { return -1; }

}  // namespace

void init() {
    datatype::Registration r(TYPE_NONE, 0, "none!");
    r.on<ACT_MAKE>(make).on<ACT_TO>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    r.on<ACT_CLEAR>(answer_none).on<ACT_FIND>(find).on<ACT_LENGTH_Q>(length).on<ACT_REMOVE>(remove);
    r.on<ACT_SELECT>(select).on<ACT_TAKE>(take);
    datatype::register_(r);
}

}  // namespace none
}  // namespace zir
