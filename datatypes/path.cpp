// The path family and paren!: see path.hpp.
#include "datatypes/path.hpp"

#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"

namespace zir {

namespace path {

namespace {

Cell* make(Cell* proto, Cell* spec, u32 type) {
    u32 st = TYPE_OF(spec);
    if (any_block_q(st)) return block::to(proto, spec, type);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT || st == TYPE_PERCENT) {
        Cell* out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        i32 n;
        if (st == TYPE_PERCENT) {
            // A percent! holds its number as a float! does.
            double d = cell::get_float(spec);
            if (!(d <= 2147483647.0 && d >= -2147483648.0)) fire(ERR_SCRIPT, "out-of-range", spec);
            n = i32(std::trunc(d));
        } else {
            n = float_::to_integer_checked(spec);
        }
        block::make_at(out, n < 1 ? 1 : n);
        out->header = type;
        return out;
    }
    Cell target;
    datatype::make_at(&target, type);
    fire(ERR_SCRIPT, "bad-make-arg", &target, spec);
}

Cell* to(Cell* proto, Cell* spec, u32 type) {
    u32 st = TYPE_OF(spec);
    if (st == TYPE_OBJECT || st == TYPE_TYPESET || st == TYPE_MAP) {
        Cell* out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        block::make_at(out, 1);
        block::zs_append(out, spec);
        out->header = type;
        return out;
    }
    return block::to(proto, spec, type);
}

// Writes the elements from the head with "/" between them through `render`;
// a path met again inside itself writes "...".
template <typename Render>
i32 write_elements(const Cell* value, Cell* buffer, const Cell* arg, i32 part, Render render) {
    u32 node = value->w2;
    if (cycles::find_q(node)) {
        string::append_literal(buffer, "...");
        return part - 3;
    }
    cycles::Guard guard(node);
    // Writing may move every buffer, the one holding `value` included: the
    // elements are read through the node after each write.
    i32 start = i32(value->w1);
    for (i32 i = start;; i++) {
        if (i >= series::length_of(node_buffer(node))) break;
        if (arg && part < 1) break;
        if (i != start) {
            string::append_char(buffer, '/');
            part--;
        }
        Cell item = series::head_cells(node_buffer(node))[i];
        part = render(&item, part);
    }
    return part;
}

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    return write_elements(value, buffer, arg, part,
                          [&](const Cell* item, i32 left) { return actions::form(item, buffer, arg, left); });
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32) {
    return write_elements(value, buffer, arg, part, [&](const Cell* item, i32 left) {
        return actions::mold(item, buffer, only, all, flat, arg, left, 0);
    });
}

i32 lit_mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    string::append_char(buffer, '\'');
    return mold(value, buffer, only, all, flat, arg, part - 1, indent);
}

i32 set_mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    part = mold(value, buffer, only, all, flat, arg, part, indent);
    string::append_char(buffer, ':');
    return part - 1;
}

i32 get_mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    string::append_char(buffer, ':');
    return mold(value, buffer, only, all, flat, arg, part - 1, indent);
}

// Slots no path supports: random, sort, trim, math and bitwise, and the port actions.
void unsupported_for_paths(datatype::Registration& r) {
    r.unsupported(ACT_RANDOM).unsupported(ACT_SORT).unsupported(ACT_TRIM);
    for (u32 s = ACT_ABSOLUTE; s <= ACT_XOR_T; s++) r.unsupported(s);
    for (u32 s = ACT_CREATE; s <= ACT_WRITE; s++)
        if (s != ACT_MODIFY) r.unsupported(s);
}

}  // namespace

Cell* push(Cell* value, u32 type) {
    cell::set_type(value, type);
    return stack::push(value);
}

void make_at(Cell* c, i32 n) {
    block::make_at(c, n);
    cell::set_type(c, TYPE_PATH);
}

void init() {
    datatype::Registration p(TYPE_PATH, TYPE_BLOCK, "path!");
    p.on<ACT_MAKE>(make).on<ACT_TO>(to).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_COPY>(block::copy);
    unsupported_for_paths(p);
    datatype::register_(p);

    datatype::Registration lit(TYPE_LIT_PATH, TYPE_PATH, "lit-path!");
    datatype::register_(lit.on<ACT_MOLD>(lit_mold));
    datatype::Registration set(TYPE_SET_PATH, TYPE_PATH, "set-path!");
    datatype::register_(set.on<ACT_MOLD>(set_mold));
    datatype::Registration get(TYPE_GET_PATH, TYPE_PATH, "get-path!");
    datatype::register_(get.on<ACT_MOLD>(get_mold));
}

}  // namespace path

namespace paren {

namespace {

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    return block::mold_enclosed(value, buffer, only, all, flat, arg, part, indent, '(', ')');
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_PAREN, TYPE_BLOCK, "paren!");
    r.on<ACT_MOLD>(mold).unsupported(ACT_TRIM);
    for (u32 s = ACT_ABSOLUTE; s <= ACT_XOR_T; s++) r.unsupported(s);
    for (u32 s = ACT_CREATE; s <= ACT_WRITE; s++)
        if (s != ACT_MODIFY) r.unsupported(s);
    datatype::register_(r);
}

}  // namespace paren
}  // namespace zir
