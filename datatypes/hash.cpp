// hash!: see hash.hpp.
#include "datatypes/hash.hpp"

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"

namespace zir {
namespace hash {

Cell* index_block(Cell* c) {
    collector::RootNode cells(c->w2);
    i32 n = block::cell_count(node_buffer(cells));
    u32 table = hash_table::init(n < 1 ? 1 : n, cells, hash_table::HASH, 0);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_HASH;
    c->w3 = table;
    return c;
}

Cell* make(Cell* proto, Cell* spec, u32) {
    u32 st = TYPE_OF(spec);
    if (st == TYPE_HASH) {
        Cell* out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        return copy(spec, out, nullptr, false, nullptr);
    }
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        i32 n = float_::to_integer_checked(spec);
        Cell* out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        block::make_at(out, n < 1 ? 1 : n);
        return index_block(out);
    }
    if (st == TYPE_BLOCK) return index_block(block::make(proto, spec, TYPE_BLOCK));
    return to(proto, spec, TYPE_HASH);
}

Cell* to(Cell* proto, Cell* spec, u32) {
    if (TYPE_OF(spec) == TYPE_HASH) {
        Cell* out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        return copy(spec, out, nullptr, false, nullptr);
    }
    return index_block(block::to(proto, spec, TYPE_BLOCK));
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    if (!only) {
        string::append_literal(buffer, "make hash! ");
        part -= 11;
    }
    return block::mold(value, buffer, false, all, flat, arg, part, indent);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    const Cell source = *value;
    bool whole = series::head_index(&source) == 0 && !part && !deep && !types;
    block::copy(value, result, part, deep, types);
    if (whole && source.w3) {
        // The same cells at the same places: the source's table fits as it is.
        collector::RootNode cells(result->w2);
        result->w3 = 0;
        u32 table = hash_table::copy(source.w3, cells);
        result->w3 = table;
        return result;
    }
    return index_block(result);
}

void init() {
    datatype::Registration r(TYPE_HASH, TYPE_BLOCK, "hash!");
    r.on<ACT_MAKE>(make).on<ACT_TO>(to).on<ACT_MOLD>(mold).on<ACT_COPY>(copy);
    r.unsupported(ACT_RANDOM);
    datatype::register_(r);
}

}  // namespace hash
}  // namespace zir
