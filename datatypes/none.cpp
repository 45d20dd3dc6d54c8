// none!: see none.hpp.
#include "datatypes/none.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace none {

const Cell value = {TYPE_NONE, 0, 0, 0};

Cell* box() {
    cell::init(stack::arguments, TYPE_NONE);
    return stack::arguments;
}

Cell* push() {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_NONE);
    return c;
}

Cell* make_in(Cell* block) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_NONE);
    return c;
}

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

i32 compare(const Cell*, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_NONE) return NOT_COMPARABLE;
    return equality_op_q(op) || sort_op_q(op) ? 0 : NOT_COMPARABLE;
}

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
