// triple!: see triple.hpp.
#include "datatypes/triple.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"

namespace zir {
namespace triple {

void make_at(Cell* c, i32 a, i32 b, i32 d) {
    cell::set_type(c, TYPE_TRIPLE);
    c->w1 = u32(a);
    c->w2 = u32(b);
    c->w3 = u32(d);
}

Cell* push(i32 a, i32 b, i32 d) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_TRIPLE);
    make_at(c, a, b, d);
    return c;
}

// --- Actions ---------------------------------------------------------------

namespace {

// Form and mold write the same text.
i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    static const char opening[] = "make triple! [";
    string::append_literal(buffer, opening);
    i64 written = sizeof opening - 1;
    const u32 words[3] = {value->w1, value->w2, value->w3};
    for (int i = 0; i < 3; i++) {
        const char* text = integer::form_signed(i32(words[i]));
        i64 n = i64(std::strlen(text));
        string::append_bytes(buffer, reinterpret_cast<const u8*>(text), n);
        string::append_char(buffer, i < 2 ? ' ' : ']');
        written += n + 1;
    }
    return part - i32(written);
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_TRIPLE, 0, "triple!");
    r.only_own().on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    datatype::register_(r);
}

}  // namespace triple
}  // namespace zir
