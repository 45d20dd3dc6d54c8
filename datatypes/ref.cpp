// ref!: see ref.hpp.
#include "datatypes/ref.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"

namespace zir {
namespace ref {

Cell* push(const Cell* value) { return stack::push(value); }

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    // As tag!'s: the count is taken before the "@" goes in.
    const Cell text = *value;
    i32 length = string::zs_length(&text);
    i32 count = arg ? integer::get(arg) : -1;
    string::append_char(buffer, '@');
    string::concatenate(buffer, &text, count < 0 || count > length ? length : count, 0, true, string::CONCAT_APPEND);
    return part - length - 1;
}

void init() {
    datatype::Registration r(TYPE_REF, TYPE_STRING, "ref!");
    r.on<ACT_MOLD>(mold);
    r.unsupported(ACT_RANDOM).unsupported(ACT_EVAL_PATH).unsupported(ACT_APPEND).unsupported(ACT_SORT);
    r.unsupported(ACT_TRIM);
    datatype::register_(r);
}

}  // namespace ref
}  // namespace zir
