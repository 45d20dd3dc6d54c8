// issue!: see issue.hpp.
#include "datatypes/issue.hpp"

#include "boot/roots.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace issue {

namespace {

void init_cell(Cell* c, i32 symbol, u32 type) {
    c->header = (c->header & FLAG_NEW_LINE) | type;
    c->w1 = context::global;
    c->w2 = u32(symbol);
    c->w3 = u32(-1);
}

}  // namespace

Cell* load(std::string_view text) {
    Cell c;
    cell::init(&c, TYPE_UNSET);
    init_cell(&c, symbol::make(text), TYPE_ISSUE);
    return boot::recording ? boot::append_root(&c) : stack::push(&c);
}

Cell* make_at(Cell* cell, std::string_view text) {
    init_cell(cell, symbol::make(text), TYPE_ISSUE);
    return cell;
}

Cell* make(Cell* proto, Cell* spec, u32 type) {
    u32 t = TYPE_OF(spec);
    i32 symbol;
    if (t >= TYPE_WORD && t <= TYPE_ISSUE) {
        Cell result = *spec;
        cell::set_type(&result, type);
        *proto = result;
        return proto;
    }
    if (t == TYPE_STRING) {
        // Any text will do: an issue's characters are not checked.
        i32 length = -1;
        symbol = symbol::make_from_string(spec, &length);
    } else if (t == TYPE_CHAR) {
        u8 utf8[4];
        int n = unicode::cp_to_utf8(spec->w2, utf8);
        symbol = symbol::make(std::string_view(reinterpret_cast<const char*>(utf8), size_t(n)));
    } else {
        return word::make(proto, spec, type);
    }
    init_cell(proto, symbol, type);
    return proto;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    string::append_char(buffer, '#');
    return word::form(value, buffer, arg, part - 1);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_ISSUE) return NOT_COMPARABLE;
    return word::compare(value, other, op);
}

void init() {
    datatype::Registration r(TYPE_ISSUE, TYPE_WORD, "issue!");
    r.on<ACT_MAKE>(make).on<ACT_TO>(make).on<ACT_MOLD>(mold).on<ACT_COMPARE>(compare);
    r.unsupported(ACT_INDEX_Q);
    datatype::register_(r);
}

}  // namespace issue
}  // namespace zir
