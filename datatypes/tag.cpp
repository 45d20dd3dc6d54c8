// tag!: see tag.hpp.
#include "datatypes/tag.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"

namespace zir {
namespace tag {

Cell* push(const Cell* value) { return stack::push(value); }

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    // The value may lie in a buffer the writing moves, and the text may be the
    // buffer's own: the count is taken before the "<" goes in.
    const Cell text = *value;
    i32 length = string::zs_length(&text);
    i32 count = arg ? integer::get(arg) : -1;
    string::append_char(buffer, '<');
    string::concatenate(buffer, &text, count < 0 || count > length ? length : count, 0, true, string::CONCAT_APPEND);
    string::append_char(buffer, '>');
    return part - length - 2;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

void init() {
    datatype::Registration r(TYPE_TAG, TYPE_STRING, "tag!");
    r.on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.unsupported(ACT_RANDOM).unsupported(ACT_SORT).unsupported(ACT_TRIM);
    datatype::register_(r);
}

}  // namespace tag
}  // namespace zir
