// function! and routine!: see function.hpp.
#include "datatypes/function.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace function {

bool library_bodies = false;

using collector::RootCell;
using collector::RootNode;

namespace {

// The words a spec and a body are read for.
struct Words {
    i32 local, extern_, return_, trace, no_trace, foreach, remove_each, repeat, spec, body, words;
};
Words words;

inline i32 resolved(const Cell* c) { return symbol::resolve(i32(c->w2)); }
inline bool is_q(const Cell* c, u32 type, i32 symbol) { return TYPE_OF(c) == type && resolved(c) == symbol; }
inline Cell* cell_of(u32 node, i32 i) { return block::cell_at(node, i); }
inline i32 count_of(u32 node) { return block::cell_count(node_buffer(node)); }
inline bool word_like_q(u32 t) { return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }

void init_words() {
    auto w = [](const char* s) { return symbol::resolve(symbol::make(s)); };
    words = Words{w("local"), w("extern"), w("return"), w("trace"), w("no-trace"), w("foreach"),
                  w("remove-each"), w("repeat"), w("spec"), w("body"), w("words")};
}

// Builds a function! (see `push`); `copy_body` false takes the body as it
// is, already copied by the caller.
u32 build(const Cell* spec_in, const Cell* body_in, u32 ctx_in, u32 code, u32 owner, u32 flags, bool copy_body) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    Cell* spec = stack::push(spec_in);
    Cell* body = stack::push(body_in ? body_in : &none::value);
    RootNode given(ctx_in);
    RootNode owner_ctx(owner);
    series::clamp_head(spec);
    if (spec->w1 > 0) {
        *spec = *block::clone(spec, false, false);
        stack::pop(1);
    }
    RootNode record(memory::alloc_unset_cells(RECORD_CELLS));
    node_buffer(record)->tail = node_buffer(record)->offset + RECORD_CELLS * 16;
    u32 ctx = given ? u32(given) : context::make(spec, true, false, context::KIND_FUNCTION);
    out->header = TYPE_FUNCTION | flags;
    out->w1 = ctx;
    out->w2 = spec->w2;
    out->w3 = record;
    *context::owner_of(ctx) = *out;
    if (body_in) {
        series::clamp_head(body);
        bool library = library_bodies && TYPE_OF(body) == TYPE_BLOCK;
        // A new context's body is bound, and flagged as library code, as it
        // is copied.
        bool bound = copy_body && !given;
        if (copy_body) {
            *body = bound ? *context::copy_bound(body, ctx, false, library) : *block::clone(body, true, true);
            stack::pop(1);
        }
        *record_cell(out, RECORD_BODY) = *body;
        if (!given && !bound) context::bind(record_cell(out, RECORD_BODY), ctx, false);
        if (library && !bound) block::mark_library(body->w2);
    } else {
        cell::init(record_cell(out, RECORD_BODY), TYPE_NONE);
    }
    if (code) {
        Cell* c = record_cell(out, RECORD_CODE);
        cell::init(c, TYPE_INTEGER);
        c->w2 = code;
    }
    // The owner is kept as its object!, so the collector keeps it as long as
    // the method lives.
    if (owner) *record_cell(out, RECORD_OWNER) = *context::owner_of(owner_ctx);
    stack::top = out + 1;
    return ctx;
}

[[noreturn]] void bad_def(const Cell* spec) { fire(ERR_SCRIPT, "bad-func-def", spec); }

// Checks a type block: datatypes, typesets, and words standing for either.
void check_type_block(const Cell* types) {
    for (i32 i = i32(types->w1); i < count_of(types->w2); i++) {
        const Cell* item = cell_of(types->w2, i);
        const Cell* value = item;
        if (TYPE_OF(item) == TYPE_WORD) {
            value = context::get(item);
            if (TYPE_OF(value) == TYPE_UNSET) fire(ERR_SCRIPT, "no-value", item);
        }
        if (TYPE_OF(value) != TYPE_DATATYPE && TYPE_OF(value) != TYPE_TYPESET) {
            const Cell bad = *item;
            fire(ERR_SCRIPT, "invalid-type-spec", &bad);
        }
    }
}

// Whether a word of the seen list stands for the symbol.
bool seen_q(const Cell* seen, i32 symbol) {
    for (i32 i = 0; i < count_of(seen->w2); i++) {
        const Cell* c = cell_of(seen->w2, i);
        if (TYPE_OF(c) == TYPE_WORD && resolved(c) == symbol) return true;
    }
    return false;
}

// Collects a word (as a word!) into the result and the seen list, once.
void collect(Cell* result, Cell* seen, const Cell* word) {
    Cell w = *word;
    if (seen_q(seen, resolved(&w))) return;
    cell::set_type(&w, TYPE_WORD);
    w.header &= ~FLAG_NEW_LINE;
    block::zs_append(result, &w);
    block::zs_append(seen, &w);
}

// Walks a body for the words it sets. Cells are read by index: collecting
// allocates.
void collect_body(u32 node, i32 head, Cell* result, Cell* seen) {
    if (cycles::find_q(node)) return;
    cycles::Guard guard(node);
    for (i32 i = head < 0 ? 0 : head; i < count_of(node); i++) {
        const Cell c = *cell_of(node, i);
        u32 t = TYPE_OF(&c);
        if (t == TYPE_SET_WORD) {
            collect(result, seen, &c);
        } else if (t == TYPE_WORD && i + 1 < count_of(node)) {
            i32 s = resolved(&c);
            const Cell next = *cell_of(node, i + 1);
            u32 nt = TYPE_OF(&next);
            bool loop_word = s == words.foreach || s == words.remove_each;
            if ((loop_word || s == words.repeat) && (nt == TYPE_WORD || nt == TYPE_SET_WORD)) {
                collect(result, seen, &next);
            } else if (loop_word && nt == TYPE_BLOCK) {
                for (i32 j = i32(next.w1); j < count_of(next.w2); j++) {
                    const Cell item = *cell_of(next.w2, j);
                    if (word_like_q(TYPE_OF(&item))) collect(result, seen, &item);
                }
            }
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            collect_body(c.w2, i32(c.w1), result, seen);
        }
    }
}

// The position of the first refinement of a symbol from a head, or -1.
i32 find_refinement(u32 node, i32 head, i32 symbol) {
    for (i32 i = head; i < count_of(node); i++)
        if (is_q(cell_of(node, i), TYPE_REFINEMENT, symbol)) return i;
    return -1;
}

}  // namespace

// --- Making functions -----------------------------------------------------------

u32 push(const Cell* spec, const Cell* body, u32 ctx, u32 code, u32 owner, u32 flags) {
    return build(spec, body, ctx, code, owner, flags, true);
}

i32 spec_attributes(const Cell* block) {
    i32 flags = 0;
    for (i32 i = i32(block->w1); i < count_of(block->w2); i++) {
        const Cell* c = cell_of(block->w2, i);
        if (TYPE_OF(c) != TYPE_WORD) return -1;
        if (resolved(c) == words.trace) flags |= i32(TRACE);
        if (resolved(c) == words.no_trace) flags |= i32(NO_TRACE);
    }
    return flags;
}

u32 validate(const Cell* spec_in) {
    const Cell spec = *spec_in;
    u32 node = spec.w2;
    i32 head = i32(spec.w1);
    i32 n = count_of(node);
    u32 flags = 0;
    i32 i = head;
    if (i < n && TYPE_OF(cell_of(node, i)) == TYPE_BLOCK) {
        i32 f = spec_attributes(cell_of(node, i));
        if (f < 0) bad_def(&spec);
        flags = u32(f);
        i++;
    }
    bool local = false, returned = false;
    auto type_at = [&](i32 k) { return k < n ? TYPE_OF(cell_of(node, k)) : TYPE_VALUE; };
    while (i < n) {
        const Cell* c = cell_of(node, i);
        switch (TYPE_OF(c)) {
            case TYPE_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
                if (local && TYPE_OF(c) != TYPE_WORD) bad_def(&spec);
                if (returned && !local) bad_def(&spec);
                // The type block comes first, then the doc string.
                if (type_at(i + 1) == TYPE_STRING && type_at(i + 2) == TYPE_BLOCK) bad_def(&spec);
                if (type_at(i + 1) == TYPE_BLOCK) {
                    const Cell types = *cell_of(node, i + 1);
                    check_type_block(&types);
                    i += 2;
                } else {
                    i++;
                }
                break;
            case TYPE_STRING:
                i++;
                break;
            case TYPE_SET_WORD: {
                if (resolved(c) != words.return_ || returned || local) bad_def(&spec);
                if (type_at(i + 1) != TYPE_BLOCK) bad_def(&spec);
                u32 after = type_at(i + 2);
                if (after != TYPE_VALUE && after != TYPE_REFINEMENT && after != TYPE_STRING) bad_def(&spec);
                returned = true;
                i += 2;
                break;
            }
            case TYPE_REFINEMENT: {
                if (resolved(c) == words.local) local = true;
                else if (local || returned) bad_def(&spec);
                u32 next = type_at(i + 1);
                if (next != TYPE_VALUE && !word_like_q(next) && next != TYPE_REFINEMENT && next != TYPE_SET_WORD &&
                    next != TYPE_STRING)
                    bad_def(&spec);
                i++;
                break;
            }
            default:
                bad_def(&spec);
        }
    }
    for (i32 a = head; a < n; a++) {
        u32 ta = TYPE_OF(cell_of(node, a));
        if (!word_like_q(ta) && ta != TYPE_REFINEMENT) continue;
        for (i32 b = a + 1; b < n; b++) {
            const Cell* later = cell_of(node, b);
            u32 tb = TYPE_OF(later);
            if ((word_like_q(tb) || tb == TYPE_REFINEMENT) && resolved(later) == resolved(cell_of(node, a))) {
                const Cell dup = *later;
                fire(ERR_SCRIPT, "dup-vars", &dup);
            }
        }
    }
    return flags;
}

Cell* collect_words(Cell* spec_in, const Cell* body_in) {
    Cell* result = block::push_only_star(4);
    Cell* spec = stack::push(spec_in);
    Cell* body = stack::push(body_in);
    Cell* seen = block::clone(spec, false, false);
    u32 node = spec->w2;
    i32 head = series::clamp_head(spec);
    i32 ext = find_refinement(node, head, words.extern_);
    if (ext >= 0) {
        i32 i = ext + 1;
        while (i < count_of(node) && TYPE_OF(cell_of(node, i)) == TYPE_WORD) i++;
        if (i < count_of(node) && is_q(cell_of(node, i), TYPE_REFINEMENT, words.local)) {
            for (i32 j = i + 1; j < count_of(node); j++) {
                Cell item = *cell_of(node, j);
                if (TYPE_OF(&item) != TYPE_WORD) continue;
                item.header &= ~FLAG_NEW_LINE;
                block::zs_append(result, &item);
            }
        }
        block::zs_clear_from(spec, ext);
    }
    for (i32 i = 0; i < count_of(seen->w2); i++) {
        Cell* c = cell_of(seen->w2, i);
        switch (TYPE_OF(c)) {
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT:
                cell::set_type(c, TYPE_WORD);
                break;
            case TYPE_WORD:
            case TYPE_BLOCK:
            case TYPE_STRING:
                break;
            default:
                if (ext >= 0) {
                    const Cell bad = *c;
                    fire(ERR_SCRIPT, "bad-func-extern", &bad);
                }
        }
    }
    if (any_block_q(TYPE_OF(body))) collect_body(body->w2, i32(body->w1), result, seen);
    if (block::zs_length_q(result) > 0) {
        if (count_locals(spec->w2, i32(spec->w1), true) < 0) {
            Cell local;
            series::make_word(&local, words.local, TYPE_REFINEMENT);
            block::zs_append(spec, &local);
        }
        for (i32 i = 0; i < count_of(result->w2); i++) {
            if (resolved(cell_of(result->w2, i)) != words.local) continue;
            Cell at = *result;
            at.w1 = u32(i);
            series::remove(&at, nullptr, nullptr);
            break;
        }
        for (i32 i = 0; i < count_of(result->w2); i++) {
            const Cell w = *cell_of(result->w2, i);
            block::zs_append(spec, &w);
        }
    }
    stack::top = result + 1;
    return result;
}

i32 count_locals(u32 spec, i32 start, bool strict) {
    i32 n = 0;
    bool local = false;
    for (i32 i = start < 0 ? 0 : start; i < count_of(spec); i++) {
        const Cell* c = cell_of(spec, i);
        if (!local) {
            if (is_q(c, TYPE_REFINEMENT, words.local)) {
                local = true;
                n = 1;
            }
        } else if (TYPE_OF(c) == TYPE_WORD) {
            n++;
        }
    }
    return local ? n : strict ? -1 : 0;
}

void push_unused_refinement(i32 n) {
    if (n <= 0) return;
    stack::push(&logic::false_value);
    for (i32 i = 1; i < n; i++) stack::push(&none::value);
}

Cell* rebuild_for(const Cell* fn_in, u32 object_ctx) {
    Cell* fn = stack::push(fn_in);
    RootNode ctx(object_ctx);
    Cell spec;
    cell::init(&spec, TYPE_BLOCK);
    spec.w2 = fn->w2;
    const Cell body = *record_cell(fn, RECORD_BODY);
    const Cell code = *record_cell(fn, RECORD_CODE);
    u32 entry = TYPE_OF(&code) == TYPE_INTEGER ? code.w2 : 0;
    u32 owner = TYPE_OF(record_cell(fn, RECORD_OWNER)) == TYPE_OBJECT ? object_ctx : 0;
    u32 flags = fn->header & (TRACE | NO_TRACE);
    if (TYPE_OF(&body) != TYPE_BLOCK) {
        build(&spec, nullptr, 0, entry, owner, flags, false);
    } else {
        // The copy is bound to the object first, so that the function's own
        // words, bound last, hide the fields of the same names.
        Cell* copy = context::copy_bound(&body, ctx, true, false);
        build(&spec, copy, 0, entry, owner, flags, false);
    }
    // The new function replaces the pushed copy of the old one.
    *fn = stack::top[-1];
    stack::top = fn + 1;
    return fn;
}

// --- Actions ------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, u32) {
    const Cell arg = *spec;
    if (TYPE_OF(&arg) != TYPE_BLOCK || block::zs_length_q(&arg) < 2) bad_def(&arg);
    const Cell* items = block::zs_head(spec);
    const Cell fn_spec = items[0], body = items[1];
    if (TYPE_OF(&fn_spec) != TYPE_BLOCK || TYPE_OF(&body) != TYPE_BLOCK) bad_def(&arg);
    u32 flags = validate(&fn_spec);
    push(&fn_spec, &body, 0, 0, 0, flags);
    return stack::top - 1;
}

Cell* reflect(Cell* value, i32 field_symbol) {
    i32 field = symbol::resolve(field_symbol);
    if (field == words.spec) {
        u32 spec = value->w2;
        cell::init(value, TYPE_BLOCK);
        value->w2 = spec;
        return value;
    }
    if (field == words.body) {
        *value = *record_cell(value, RECORD_BODY);
        // The library's code is given as a copy: changing it must not change
        // the running library.
        if (TYPE_OF(value) == TYPE_BLOCK && (node_buffer(value->w2)->flags & SERIES_LIBRARY)) {
            *value = *block::clone(value, true, true);
            stack::pop(1);
        }
        return value;
    }
    if (field != words.words) fire(ERR_INTERNAL, "not-done");
    u32 ctx = value->w1;
    Cell list;
    cell::init(&list, TYPE_BLOCK);
    list.w2 = context::words_node(context::cell_of(ctx));
    Cell* copy = block::clone(&list, false, false);
    for (i32 i = 0; i < count_of(copy->w2); i++) cell_of(copy->w2, i)->w1 = ctx;
    *value = *copy;
    stack::pop(1);
    return value;
}

i32 form(const Cell*, Cell* buffer, const Cell*, i32 part) {
    string::append_literal(buffer, "?function?");
    return part - 10;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    const Cell fn = *value;
    string::append_literal(buffer, "func ");
    part = native::mold_spec(fn.w2, buffer, false, all, flat, arg, part - 5, indent);
    const Cell body = *record_cell(&fn, RECORD_BODY);
    if (TYPE_OF(&body) == TYPE_NONE) {
        string::append_literal(buffer, " none");
        return part - 5;
    }
    return actions::mold(&body, buffer, false, all, flat, arg, part, indent);
}

namespace {

// Functions and routines are equal only to themselves: to a value with the
// same record. They order by record for sorting.
template <u32 Type>
i32 compare_records(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != Type) return NOT_COMPARABLE;
    if (!equality_op_q(op) && !sort_op_q(op)) return NOT_COMPARABLE;
    i32 a = i32(value->w3), b = i32(other->w3);
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

i32 compare(const Cell* value, const Cell* other, i32 op) { return compare_records<TYPE_FUNCTION>(value, other, op); }

void init() {
    datatype::Registration r(TYPE_FUNCTION, TYPE_CONTEXT, "function!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_REFLECT>(reflect).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_COMPARE>(compare);
    datatype::register_(r);
}

void init_state() { init_words(); }

}  // namespace function

// --- routine! -----------------------------------------------------------------

namespace routine {

namespace {

i32 form(const Cell*, Cell* buffer, const Cell*, i32 part) {
    string::append_literal(buffer, "?routine?");
    return part - 9;
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    const Cell r = *value;
    string::append_literal(buffer, "routine ");
    part = native::mold_spec(r.w2, buffer, only, all, flat, arg, part - 8, indent);
    const Cell body = *function::record_cell(&r, function::RECORD_BODY);
    if (TYPE_OF(&body) == TYPE_BLOCK) return block::mold(&body, buffer, only, all, flat, arg, part, indent);
    string::append_char(buffer, ' ');
    return actions::mold(&body, buffer, only, all, flat, arg, part - 1, indent);
}

}  // namespace

Cell* push(const Cell* spec_in, const Cell* body, i32 index, i32 return_type, bool pointer_args) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    Cell* spec = stack::push(spec_in);
    Cell* kept = stack::push(body ? body : &none::value);
    collector::RootNode ctx(context::make(spec, true, false, context::KIND_FUNCTION));
    u32 record = memory::alloc_unset_cells(function::RECORD_CELLS);
    SeriesBuffer* r = node_buffer(record);
    r->tail = r->offset + function::RECORD_CELLS * 16;
    Cell* cells = series::head_cells(r);
    cells[function::RECORD_BODY] = *kept;
    cell::init(&cells[function::RECORD_CODE], TYPE_INTEGER);
    cells[function::RECORD_CODE].w2 = u32(index);
    cell::init(&cells[RECORD_RETURN], TYPE_INTEGER);
    cells[RECORD_RETURN].w2 = u32(return_type);
    out->header = TYPE_ROUTINE | (pointer_args ? POINTER_ARGS : 0);
    out->w1 = ctx;
    out->w2 = spec->w2;
    out->w3 = record;
    set_arity(out);
    *context::owner_of(ctx) = *out;
    stack::top = out + 1;
    return out;
}

void set_arity(Cell* routine) {
    u32 spec = routine->w2;
    u32 n = 0;
    for (i32 i = 0; i < block::cell_count(node_buffer(spec)); i++)
        if (TYPE_OF(block::cell_at(spec, i)) == TYPE_WORD) n++;
    if (n > 31) n = 31;
    routine->header = (routine->header & ~ARITY_MASK) | (n << ARITY_SHIFT);
}

i32 get_arity(const Cell* routine) { return i32((routine->header & ARITY_MASK) >> ARITY_SHIFT); }

void init() {
    datatype::Registration r(TYPE_ROUTINE, TYPE_FUNCTION, "routine!");
    r.unsupported(ACT_MAKE).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_COMPARE>(function::compare_records<TYPE_ROUTINE>);
    datatype::register_(r);
}

}  // namespace routine
}  // namespace zir
