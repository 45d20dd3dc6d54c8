// native!, action! and op!: see native.hpp.
#include "datatypes/native.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace native {

namespace {

// A new native! or action! numbered from a spec [spec-block number]; numbers
// run from 1 to `limit`.
Cell* build(Cell* spec, u32 type, i32 limit) {
    auto bad = [&]() {
        Cell target;
        datatype::make_at(&target, type);
        fire(ERR_SCRIPT, "bad-make-arg", &target, spec);
    };
    if (TYPE_OF(spec) != TYPE_BLOCK || block::zs_length_q(spec) != 2) bad();
    const Cell* items = block::zs_head(spec);
    collector::RootCell words(items[0]);
    const Cell index = items[1];
    if (TYPE_OF(words.get()) != TYPE_BLOCK || TYPE_OF(&index) != TYPE_INTEGER) bad();
    if (i32(index.w2) < 1 || i32(index.w2) > limit) bad();
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    collector::RootNode ctx(context::make(words.get(), true, false, context::KIND_FUNCTION));
    u32 record = memory::alloc_cells(2);
    SeriesBuffer* r = node_buffer(record);
    Cell* cells = series::head_cells(r);
    cells[RECORD_CONTEXT] = *context::cell_of(ctx);
    cell::init(&cells[RECORD_ARGUMENTS], TYPE_NONE);
    r->tail = r->offset + 32;
    cell::init(out, type);
    out->w1 = index.w2;
    out->w2 = words->w2;
    out->w3 = record;
    return out;
}

// The operand of an op! is the function! or routine! it was made from.
inline u32 source_of(const Cell* value) {
    return TYPE_OF(value) == TYPE_OP ? (value->header >> 16) & 0xFF : TYPE_OF(value);
}

// Texts written by form, and by mold before the spec.
template <u32 Type>
i32 form(const Cell*, Cell* buffer, const Cell*, i32 part) {
    const char* text = Type == TYPE_NATIVE ? "?native?" : Type == TYPE_ACTION ? "?action?" : "?op?";
    string::append_literal(buffer, text);
    return part - i32(std::strlen(text));
}

template <u32 Type>
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    const char* opening = Type == TYPE_NATIVE ? "make native! [" : "make action! [";
    u32 spec = value->w2;
    string::append_literal(buffer, opening);
    part = mold_spec(spec, buffer, only, all, flat, arg, part - i32(std::strlen(opening)), indent);
    string::append_char(buffer, ']');
    return part - 1;
}

// Natives, actions and operators are equal when they name the same entry;
// they have no order but the entries' for sorting.
template <u32 Type>
i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != Type) return NOT_COMPARABLE;
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_STRICT_EQUAL:
        case COMP_SORT:
        case COMP_CASE_SORT:
        case COMP_SAME:
        case COMP_FIND: {
            i32 a = i32(value->w1), b = i32(other->w1);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        default:
            return NOT_COMPARABLE;
    }
}

}  // namespace

Cell* make(Cell*, Cell* spec, u32 type) { return build(spec, type, natives::NATIVES_SIZE); }

Cell* reflect(Cell* value, i32 field_symbol) {
    i32 field = symbol::resolve(field_symbol);
    if (field == symbol::resolve(symbol::make("spec"))) {
        u32 spec = value->w2;
        cell::init(value, TYPE_BLOCK);
        value->w2 = spec;
        return value;
    }
    if (field != symbol::resolve(symbol::make("body"))) fire(ERR_INTERNAL, "not-done");
    u32 source = source_of(value);
    if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) {
        *value = *series::head_cells(node_buffer(value->w3));
        return value;
    }
    u32 entry = value->w1;
    cell::init(value, TYPE_INTEGER);
    value->w2 = entry;
    return value;
}

i32 mold_spec(u32 spec, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    collector::RootCell block;
    cell::init(block.get(), TYPE_BLOCK);
    block->w2 = spec;
    return actions::mold(block.get(), buffer, only, all, flat, arg, part, indent);
}

void init() {
    datatype::Registration r(TYPE_NATIVE, 0, "native!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_REFLECT>(reflect).on<ACT_FORM>(form<TYPE_NATIVE>);
    r.on<ACT_MOLD>(mold<TYPE_NATIVE>).on<ACT_COMPARE>(compare<TYPE_NATIVE>);
    datatype::register_(r);
}

}  // namespace native

namespace action {

Cell* make(Cell*, Cell* spec, u32 type) { return native::build(spec, type, ACTION_SLOTS); }

void init() {
    datatype::Registration r(TYPE_ACTION, TYPE_NATIVE, "action!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_REFLECT>(native::reflect).on<ACT_FORM>(native::form<TYPE_ACTION>);
    r.on<ACT_MOLD>(native::mold<TYPE_ACTION>).on<ACT_COMPARE>(native::compare<TYPE_ACTION>);
    datatype::register_(r);
}

}  // namespace action

namespace op {

namespace {

// Whether a spec block names exactly two operands: arguments are counted up to
// a set-word (`return:`) or the /local or /extern refinement; a lit-word or
// get-word argument before any word!, or any other refinement, spoils it.
bool two_operands(u32 spec) {
    i32 local = symbol::resolve(symbol::make("local"));
    i32 extern_ = symbol::resolve(symbol::make("extern"));
    i32 count = 0;
    bool opened = false;
    for (i32 i = 0; i < series::length_of(node_buffer(spec)); i++) {
        const Cell* c = series::head_cells(node_buffer(spec)) + i;
        switch (TYPE_OF(c)) {
            case TYPE_WORD:
                opened = true;
                count++;
                break;
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
                if (!opened) return false;
                count++;
                break;
            case TYPE_SET_WORD:
                return count == 2;
            case TYPE_REFINEMENT: {
                i32 r = symbol::resolve(i32(c->w2));
                if (r == local || r == extern_) return count == 2;
                return false;
            }
            default:
                break;
        }
    }
    return count == 2;
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    collector::RootCell op(*value);
    u32 source = (op->header >> SOURCE_SHIFT) & 0xFF;
    string::append_literal(buffer, "make op! ");
    part -= 9;
    if (source == TYPE_FUNCTION) {
        string::append_literal(buffer, "func ");
        part -= 5;
    } else {
        string::append_char(buffer, '[');
        part -= 1;
    }
    part = native::mold_spec(op->w2, buffer, only, all, flat, arg, part, indent);
    if (source != TYPE_FUNCTION) {
        string::append_char(buffer, ']');
        return part - 1;
    }
    Cell body = *series::head_cells(node_buffer(op->w3));
    if (TYPE_OF(&body) == TYPE_BLOCK) return actions::mold(&body, buffer, false, all, flat, arg, part, indent);
    // A function built without a body molds as one.
    string::append_literal(buffer, " none");
    return part - 5;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec_cell, u32) {
    const Cell spec_copy = *spec_cell;
    const Cell* spec = &spec_copy;
    u32 source = TYPE_OF(spec);
    if (source != TYPE_ACTION && source != TYPE_NATIVE && source != TYPE_FUNCTION && source != TYPE_ROUTINE) {
        Cell type;
        datatype::make_at(&type, source);
        fire(ERR_SCRIPT, "invalid-type", &type);
    }
    if (!two_operands(spec->w2)) fire(ERR_SCRIPT, "bad-op-spec");
    Cell result = *spec;
    if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) {
        SeriesBuffer* record = node_buffer(spec->w3);
        if (series::length_of(record) > FUNCTION_RECORD_OP) series::head_cells(record)[FUNCTION_RECORD_OP] = result;
    }
    // The source's own header bits stay (a routine's arity and argument
    // passing, a function's flags): the call of the operator reads them.
    result.header = (spec->header & ~(TYPE_MASK | (0xFFu << SOURCE_SHIFT))) | TYPE_OP | (source << SOURCE_SHIFT);
    *proto = result;
    return proto;
}

void init() {
    datatype::Registration r(TYPE_OP, TYPE_NATIVE, "op!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_REFLECT>(native::reflect).on<ACT_FORM>(native::form<TYPE_OP>);
    r.on<ACT_MOLD>(mold).on<ACT_COMPARE>(native::compare<TYPE_OP>);
    datatype::register_(r);
}

}  // namespace op
}  // namespace zir
