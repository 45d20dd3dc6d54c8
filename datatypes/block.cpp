// block!: see block.hpp.
#include "datatypes/block.hpp"

#include <vector>

#include "datatypes/block_sort.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"

namespace zir {
namespace block {

void (*load_text)(const Cell*, Cell*) = nullptr;

bool load_text_q(const Cell* text, Cell* result) {
    if (!load_text) fire(ERR_INTERNAL, "not-done");   // text is loaded by the lexer
    stack::Checkpoint checkpoint;
    try {
        load_text(text, result);
    } catch (const LanguageError& e) {
        if (e.category != ERR_SYNTAX) throw;
        checkpoint.restore();
        return false;
    }
    return true;
}

bool load_one(const Cell* text, Cell* out) {
    collector::RootCell loaded;
    if (!load_text_q(text, loaded.get())) return false;
    if (series::rest_length(loaded.get()) != 1) return false;
    *out = series::head_cells(series::buffer_of(loaded.get()))[series::head_index(loaded.get())];
    return true;
}

namespace {

using series::any_block_q;
using series::any_series_q;
using series::buffer_of;
using series::index_drop;
using series::index_put;
using series::notify;
using series::words;

// The block that make-in answers when it has no parent to hold it: a root.
Cell root_cell = {TYPE_NONE, 0, 0, 0};
void mark_root_cell() { collector::mark_values(&root_cell, &root_cell + 1); }

inline Cell* none_cell() { return const_cast<Cell*>(&none::value); }
using series::head_index;
using series::rest_length;
using series::clamp_head;
inline i32 sign(i64 d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

// The cells to insert, copied out of their buffer before the allocation that
// makes room (which may move that buffer, or be it). The copies are roots
// while they live: an owner's change handler runs before they are stored and
// may drop every other reference to what they hold. A few cells are held in
// place; more go to malloc'd memory, which never moves either.
class Source {
public:
    Source(const Cell* value, bool spread, i64 count) : n(spread ? count : 1) {
        const Cell* from = spread ? cell_at(value->w2, head_index(value)) : value;
        if (n > FEW) {
            many.assign(from, from + n);
            first = many.data();
        } else {
            if (n > 0) std::memcpy(few, from, size_t(n) * 16);
            first = few;
        }
        collector::push_root_range(first, size_t(n));
    }
    ~Source() { collector::pop_root_range(first); }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    const Cell* data() const { return first; }
    i64 count() const { return n; }

private:
    static constexpr i64 FEW = 4;
    i64 n;
    const Cell* first;
    Cell few[FEW];
    std::vector<Cell> many;
};

// Writes `count` cells `times` over at absolute index `at`, moving the cells
// from there up. The buffer grows to the size needed, doubled when `roomy`.
// `block` may lie in a buffer that the growth moves: it is read first.
void insert_cells(const Cell* block, i32 at, const Cell* source, i64 count, i64 times, bool roomy) {
    const Cell self = *block;
    i64 total = count * times;
    SeriesBuffer* s = node_buffer(self.w2);
    i32 n = cell_count(s);
    index_drop(&self, at, n);
    if (i64(s->tail) + total * 16 > i64(s->size)) {
        i64 bytes = (i64(n) + total) * 16;
        if (roomy && bytes * 2 <= MAX_LENGTH - 15) bytes *= 2;
        s = memory::expand_series(s, bytes);
    }
    Cell* base = series::head_cells(s);
    if (at < n) std::memmove(base + at + total, base + at, size_t(n - at) * 16);
    if (count == 1) base[at] = *source;
    else if (count > 0) std::memcpy(base + at, source, size_t(count) * 16);
    if (times > 1) memory::fill_repeat(reinterpret_cast<u8*>(base + at), count * 16, times);
    s->tail += u32(total * 16);
    index_put(&self, at, i32(n + total));
}

// Drops the cells at [at, at + n), moving the rest down.
void remove_cells(Cell* block, i32 at, i32 n) {
    SeriesBuffer* s = buffer_of(block);
    i32 count = cell_count(s);
    index_drop(block, at, count);
    Cell* base = series::head_cells(s);
    std::memmove(base + at, base + at + n, size_t(count - at - n) * 16);
    s->tail -= u32(n) * 16;
    index_put(block, at, count - n);
}

[[noreturn]] void no_memory() { fire(ERR_INTERNAL, "no-memory"); }

bool type_selected(const Cell* types, u32 type) {
    if (TYPE_OF(types) == TYPE_DATATYPE) return types->w1 == type;
    return TYPE_OF(types) == TYPE_TYPESET && typeset::has_q(types, type);
}

// Replaces every series in the cells at [from, to) by its deep copy. The
// block's node must be held by the caller.
void deep_copy_cells(u32 node, i32 from, i32 to) {
    for (i32 i = from; i < to; i++) {
        if (!any_series_q(TYPE_OF(cell_at(node, i)))) continue;
        collector::RootCell item(*cell_at(node, i));
        collector::RootCell out;
        actions::copy(item.get(), out.get(), nullptr, true, nullptr);
        *cell_at(node, i) = out.value;
    }
}

bool ends_with_break(const Cell* buffer) {
    SeriesBuffer* s = buffer_of(buffer);
    if (s->tail == s->offset) return false;
    u32 unit = series::unit_of(s);
    u32 c = string::get_char(series::tail(s) - unit, unit);
    return c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

i32 new_line(Cell* buffer, i32 indent, i32 part) {
    string::append_char(buffer, '\n');
    return mold_indent(buffer, indent, part - 1);
}

i32 mold_indent(Cell* buffer, i32 n, i32 part) {
    for (i32 i = 0; i < n; i++) string::append_literal(buffer, "    ");
    return part - 4 * (n > 0 ? n : 0);
}

// --- Routines ----------------------------------------------------------------

i32 zs_length_q(const Cell* block) { return cell_count(buffer_of(block)) - head_index(block); }

Cell* zs_head(Cell* block) { return cell_at(block->w2, clamp_head(block)); }

Cell* zs_tail(const Cell* block) { return series::tail_cells(buffer_of(block)); }

bool zs_tail_q(const Cell* block) { return head_index(block) == cell_count(buffer_of(block)); }

Cell* zs_abs_at(const Cell* block, i32 index) { return cell_at(block->w2, index); }

Cell cell_or_none(const Cell* block, i32 i) {
    i64 at = i64(head_index(block)) + i;
    if (i < 0 || at >= cell_count(buffer_of(block))) return none::value;
    return *cell_at(block->w2, at);
}

bool zs_next(Cell* block) {
    i32 n = cell_count(buffer_of(block));
    if (head_index(block) + 1 <= n) block->w1++;
    return head_index(block) >= n;
}

void zs_clear(Cell* block) { zs_clear_from(block, head_index(block)); }

void zs_clear_from(Cell* block, i32 index) {
    SeriesBuffer* s = buffer_of(block);
    i32 n = cell_count(s);
    if (index < 0 || index >= n) return;
    index_drop(block, index, n);
    s->tail = s->offset + u32(index) * 16;
}

void remove_last(Cell* block) {
    SeriesBuffer* s = buffer_of(block);
    i32 n = cell_count(s);
    if (n == 0) return;
    index_drop(block, n - 1, n);
    s->tail -= 16;
    if (head_index(block) > n - 1) block->w1 = u32(n - 1);
}

Cell* zs_append(Cell* block, const Cell* value) {
    Cell copy = *value;
    u32 node = block->w2;
    i32 at = cell_count(node_buffer(node));
    insert_cells(block, at, &copy, 1, 1, true);
    return cell_at(node, at);
}

void zs_append_block(Cell* block, const Cell* other) {
    i32 n = rest_length(other);
    if (n == 0) return;
    Source src(other, true, n);
    insert_cells(block, cell_count(buffer_of(block)), src.data(), n, 1, true);
}

const Cell* zs_select(const Cell* block, const Cell* value) {
    i32 n = cell_count(buffer_of(block));
    for (i32 i = head_index(block); i < n - 1; i++)
        if (actions::compare(cell_at(block->w2, i), value, COMP_FIND)) return cell_at(block->w2, i + 1);
    return &none::value;
}

void zs_remove_value(Cell* block, const Cell* value, bool from_start) {
    i32 n = cell_count(buffer_of(block));
    for (i32 i = from_start ? 0 : head_index(block); i < n; i++) {
        if (actions::compare(cell_at(block->w2, i), value, COMP_FIND)) {
            remove_cells(block, i, 1);
            return;
        }
    }
}

const Cell* select_word(const Cell* block, const Cell* word, bool case_) {
    i32 n = cell_count(buffer_of(block));
    i32 sym = case_ ? i32(word->w2) : symbol::resolve(i32(word->w2));
    for (i32 i = head_index(block); i < n; i++) {
        const Cell* c = cell_at(block->w2, i);
        u32 t = TYPE_OF(c);
        if (t < TYPE_WORD || t > TYPE_GET_WORD) continue;
        if ((case_ ? i32(c->w2) : symbol::resolve(i32(c->w2))) != sym) continue;
        return i + 1 < n ? cell_at(block->w2, i + 1) : &none::value;
    }
    return &none::value;
}

Cell* clone(const Cell* block, bool deep, bool any_block) {
    Cell source = *block;
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    i32 n = rest_length(&source);
    u32 node = memory::alloc_cells(n > 0 ? n : 1);
    std::memcpy(cell_at(node, 0), cell_at(source.w2, head_index(&source)), size_t(n) * 16);
    node_buffer(node)->tail += u32(n) * 16;
    cell::init(out, TYPE_OF(&source));
    out->w2 = node;
    if (deep) {
        if (cycles::find_q(source.w2)) fire(ERR_INTERNAL, "no-cycle");
        cycles::Guard guard(source.w2);
        for (i32 i = 0; i < n; i++) {
            u32 t = TYPE_OF(cell_at(node, i));
            if (t != TYPE_BLOCK && !(any_block && any_block_q(t))) continue;
            Cell* copy = clone(cell_at(node, i), true, any_block);
            Cell* c = cell_at(node, i);
            point_at_copy(c, copy);
            stack::pop(1);
        }
    }
    if (series::indexed_q(out) && series::index_hooks.init) series::index_hooks.init(out);
    return out;
}

void copy_types(u32 node, i32 from, i32 to, i32 step, bool deep, const Cell* types) {
    collector::RootNode hold(node);
    Cell filter = *types;
    for (i32 i = from; i < to; i += step) {
        u32 t = TYPE_OF(cell_at(node, i));
        if (!type_selected(&filter, t)) continue;
        if (!any_series_q(t) && t != TYPE_BITSET && t != TYPE_OBJECT && t != TYPE_ERROR && t != TYPE_MAP) continue;
        collector::RootCell item(*cell_at(node, i));
        collector::RootCell out;
        actions::copy(item.get(), out.get(), nullptr, deep, nullptr);
        *cell_at(node, i) = out.value;
    }
}

void insert_value(Cell* block, const Cell* value, bool at_head, bool advance) {
    Cell copy = *value;
    i32 at = at_head ? clamp_head(block) : 0;
    if (advance) block->w1 = u32(at + 1);
    insert_cells(block, at, &copy, 1, 1, true);
}

void insert_block(Cell* block, const Cell* other) {
    i32 n = rest_length(other);
    if (n == 0) return;
    Source src(other, true, n);
    insert_cells(block, clamp_head(block), src.data(), n, 1, true);
}

void make_at(Cell* c, i32 n) {
    u32 node = memory::alloc_cells(n < 0 ? 1 : n);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_BLOCK;
    c->w1 = 0;
    c->w2 = node;
    c->w3 = 0;
}

void make_fixed_at(Cell* c, i32 n, bool fixed) {
    if (n < 1) n = 1;
    u32 node = fixed ? memory::alloc_fixed_series(n, 16, 0) : memory::alloc_unset_cells(n);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_BLOCK;
    c->w1 = 0;
    c->w2 = node;
    c->w3 = 0;
}

namespace {

Cell* make_in_with(Cell* parent, i32 n, bool fixed) {
    collector::RootCell hold;
    if (fixed) make_fixed_at(hold.get(), n, true);
    else make_at(hold.get(), n);
    if (!parent) {
        root_cell = hold.value;
        return &root_cell;
    }
    return zs_append(parent, hold.get());
}

}  // namespace

Cell* make_in(Cell* parent, i32 n) { return make_in_with(parent, n, false); }
Cell* make_fixed_in(Cell* parent, i32 n) { return make_in_with(parent, n, true); }

Cell* push(const Cell* block) { return stack::push(block); }

Cell* push_only_star(i32 n) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    make_at(c, n == 0 ? 1 : n);
    return c;
}

// --- make and to -------------------------------------------------------------

namespace {

// The block that make (or, with `to`, to) builds from a spec, pushed.
Cell* build(Cell* spec, u32 type, bool to) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    u32 st = TYPE_OF(spec);
    if (any_block_q(st)) {
        series::copy(spec, out, nullptr, false, nullptr);
    } else if ((st == TYPE_INTEGER || st == TYPE_FLOAT) && !to) {
        i32 n = float_::to_integer_checked(spec);
        make_at(out, n < 1 ? 1 : n);
    } else if (st == TYPE_OBJECT || st == TYPE_MAP) {
        *out = *spec;
        actions::get<action::Reflect>(out, ACT_REFLECT)(out, words.body);
    } else if (st == TYPE_VECTOR) {
        i32 n = rest_length(spec);
        make_at(out, n);
        for (i32 i = 0; i < n; i++) {
            Cell element;
            series::element_value(spec, head_index(spec) + i, &element);
            zs_append(out, &element);
        }
    } else if (st == TYPE_TYPESET && to) {
        typeset::to_block(spec, out);
    } else if (st == TYPE_STRING && to) {
        if (!load_text) fire(ERR_INTERNAL, "not-done");   // text is loaded by the lexer
        load_text(spec, out);
    } else {
        if (!to) {
            Cell target;
            datatype::make_at(&target, type);
            fire(ERR_SCRIPT, "bad-make-arg", &target, spec);
        }
        make_at(out, 1);
        zs_append(out, spec);
    }
    out->header = type;
    return out;
}

}  // namespace

Cell* make(Cell*, Cell* spec, u32 type) { return build(spec, type, false); }

Cell* to(Cell*, Cell* spec, u32 type) { return build(spec, type, true); }

// --- form and mold -----------------------------------------------------------

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    u32 node = value->w2;
    i32 h = head_index(value);
    if (cycles::find_q(node)) {
        string::append_literal(buffer, "...");
        return part - 3;
    }
    cycles::Guard guard(node);
    for (i32 i = h; i < cell_count(node_buffer(node)); i++) {
        if (arg && part < 1) break;
        if (i != h && !ends_with_break(buffer)) {
            string::append_char(buffer, ' ');
            part--;
        }
        Cell item = *cell_at(node, i);
        part = actions::form(&item, buffer, arg, part);
    }
    return part;
}

i32 mold_each(const Cell* block, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part,
              i32 indent) {
    u32 node = block->w2;
    i32 h = head_index(block);
    cycles::Guard guard(node);
    bool broken = false;
    for (i32 i = h; i < cell_count(node_buffer(node)); i++) {
        if (arg && part < 1) break;
        Cell item = *cell_at(node, i);
        bool first = i == h;
        if (!flat && (item.header & FLAG_NEW_LINE)) {
            if (first && !only) {
                indent++;
                broken = true;
            }
            if (!(first && only)) part = new_line(buffer, indent, part);
        } else if (!first) {
            string::append_char(buffer, ' ');
            part--;
        }
        part = actions::mold(&item, buffer, false, all, flat, arg, part, indent);
    }
    if (broken) part = new_line(buffer, indent - 1, part);
    return part;
}

i32 mold_enclosed(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part,
                  i32 indent, char open, char close) {
    if (cycles::find_q(value->w2)) {
        const char cycle[] = {open, '.', '.', '.', close, 0};
        string::append_literal(buffer, cycle);
        return part - 5;
    }
    Cell block = *value;
    if (!only) {
        string::append_char(buffer, u32(open));
        part--;
    }
    part = mold_each(&block, buffer, only, all, flat, arg, part, indent);
    if (!only) {
        string::append_char(buffer, u32(close));
        part--;
    }
    return part;
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    return mold_enclosed(value, buffer, only, all, flat, arg, part, indent, '[', ']');
}

// --- Path access -------------------------------------------------------------

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool case_, bool get,
                bool, bool) {
    bool set = !get && value;
    if (TYPE_OF(element) == TYPE_INTEGER) {
        if (set) return series::poke(parent, integer::get(element), value, element);
        return series::pick(parent, integer::get(element), element);
    }
    if (!set && TYPE_OF(element) == TYPE_WORD && TYPE_OF(parent) != TYPE_HASH)
        return const_cast<Cell*>(select_word(parent, element, case_));
    // find and select answer through the series cell: work on a copy.
    Cell* position = stack::push(parent);
    if (!set) {
        return actions::get<action::Select>(position, ACT_SELECT)(position, element, nullptr, false, case_, false,
                                                                     false, nullptr, nullptr, false, false);
    }
    Cell* found = actions::find(position, element, nullptr, false, case_, false, false, nullptr, nullptr, false,
                                false, false, false);
    if (TYPE_OF(found) == TYPE_NONE) fire(ERR_SCRIPT, "bad-path-set", path ? path : &none::value, element);
    series::poke(found, 2, value, nullptr);
    stack::pop(1);
    return value;
}

// --- Comparison --------------------------------------------------------------

namespace {

bool comparable_q(u32 a, u32 b) {
    if (a == b) return true;
    auto word = [](u32 t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; };
    auto number = [](u32 t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
    return (word(a) && word(b)) || (number(a) && number(b));
}

i32 compare_each(const Cell* value, const Cell* other, i32 op) {
    // The cells may lie in an enclosing block's buffer, which an element's
    // comparison may move.
    const Cell first = *value, second = *other;
    const Cell* a = &first;
    const Cell* b = &second;
    if (a->w2 == b->w2 && a->w1 == b->w1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(a->w2)) return cycles::find_q(b->w2) ? 0 : -1;
    i32 la = rest_length(a), lb = rest_length(b);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_PARSE_CASE ||
                    op == COMP_PARSE || op == COMP_FIND;
    if (la != lb && equality) return 1;
    if (la == 0 || lb == 0) return sign(i64(la) - lb);
    cycles::Guard guard_a(a->w2);
    cycles::Guard guard_b(b->w2);
    i32 n = la < lb ? la : lb;
    for (i32 i = 0; i < n; i++) {
        const Cell* x = cell_at(a->w2, head_index(a) + i);
        const Cell* y = cell_at(b->w2, head_index(b) + i);
        u32 tx = TYPE_OF(x), ty = TYPE_OF(y);
        if (!comparable_q(tx, ty)) return tx < ty ? -1 : 1;
        i32 r = actions::compare_typed(x, y, op);
        if (r != 0) return r;
    }
    return sign(i64(la) - lb);
}

}  // namespace

i32 compare(const Cell* value, const Cell* other, i32 op) {
    u32 a = TYPE_OF(value), b = TYPE_OF(other);
    if (a != b) {
        auto path = [](u32 t) { return t == TYPE_PATH || t == TYPE_LIT_PATH; };
        if (!((op == COMP_PARSE_CASE || op == COMP_PARSE) && path(a) && path(b))) return NOT_COMPARABLE;
    }
    return compare_each(value, other, op);
}

// --- find and select ---------------------------------------------------------

namespace {

struct Search {
    i64 at = -1;        // the match, or -1
    i64 length = 1;     // cells matched
    i64 step = 1;
    bool backward = false;
    bool sequence = false;
};

Search search(Cell* series, const Cell* value_in, Cell* part, bool only, bool case_, bool same, Cell* skip,
              bool last, bool reverse, bool match) {
    Search r;
    Cell value = *value_in;
    u32 node = series->w2;
    i64 count = cell_count(node_buffer(node));
    if (count == 0) return r;
    i64 h = head_index(series);
    if (h >= count && !reverse) return r;
    if (h > count) h = count;
    if (skip) {
        if (TYPE_OF(skip) != TYPE_INTEGER) series::fire_refine_arg(words.skip, skip);
        r.step = integer::get(skip);
        if (r.step < 1) fire(ERR_SCRIPT, "out-of-range", skip);
    }
    i64 end = count;   // past the last cell that a match may use
    if (part) {
        i64 n;
        if (TYPE_OF(part) == TYPE_INTEGER) n = integer::get(part);
        else if (series::same_series_q(series, part)) n = i64(head_index(part)) - h;
        else series::fire_refine_arg(words.part, part);
        if (n < 1) return r;
        if (h + n < end) end = h + n;
    }

    enum { SINGLE, TYPE, TYPESET, SEQUENCE } mode = SINGLE;
    u32 vt = TYPE_OF(&value);
    if (!only) {
        if (vt == TYPE_DATATYPE) mode = TYPE;
        else if (vt == TYPE_TYPESET) mode = TYPESET;
        else if (any_block_q(vt)) mode = SEQUENCE;
    }
    i32 op = same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_FIND;
    if (mode == SEQUENCE) {
        r.sequence = true;
        r.length = rest_length(&value);
    }

    // A hash! looks single values up in its table, within the /part limit.
    // Values hashed by identity but compared by content (blocks, objects)
    // are scanned for, unless /same asks for identity.
    if (TYPE_OF(series) == TYPE_HASH && series->w3 && mode == SINGLE && !match &&
        (same || !hash_table::node_keyed_type_q(vt))) {
        i32 table_op = same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
        const Cell* c =
            hash_table::find_within(series->w3, &value, i32(h), i32(end), i32(r.step), table_op, last, reverse);
        if (!c) return r;
        r.at = c - cell_at(node, 0);
        r.backward = last || reverse;
        return r;
    }
    i64 len = r.length;
    auto matches = [&](i64 at) {
        const Cell* c = cell_at(node, at);
        switch (mode) {
            case TYPE: return TYPE_OF(c) == value.w1;
            case TYPESET: return typeset::has_q(&value, TYPE_OF(c));
            case SEQUENCE:
                for (i64 k = 0; k < len; k++)
                    if (!actions::compare(cell_at(node, at + k), cell_at(value.w2, head_index(&value) + k), op))
                        return false;
                return true;
            default: return actions::compare(c, &value, op);
        }
    };

    if (reverse || last) {
        r.backward = true;
        i64 start, low;
        if (reverse) {
            start = h - len;
            low = 0;
        } else {
            // Records stay aligned on the head under /skip.
            start = end - len;
            low = h;
            if (start >= h) start = h + (start - h) / r.step * r.step;
        }
        for (i64 at = start; at >= low; at -= r.step) {
            if (matches(at)) {
                r.at = at;
                return r;
            }
            if (match) break;
        }
        return r;
    }
    for (i64 at = h; at + len <= end; at += r.step) {
        if (matches(at)) {
            r.at = at;
            return r;
        }
        if (match) break;
    }
    return r;
}

}  // namespace

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool, Cell*, Cell* skip,
           bool last, bool reverse, bool tail, bool match) {
    Search r = search(series, value, part, only, case_, same, skip, last, reverse, match);
    if (r.at < 0) return none_cell();
    i64 at = r.at;
    if (tail) at += r.sequence ? r.length : r.backward ? 1 : r.step;
    i64 count = cell_count(buffer_of(series));
    series->w1 = u32(at > count ? count : at);
    return series;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool, Cell*, Cell* skip,
             bool last, bool reverse) {
    Search r = search(series, value, part, only, case_, same, skip, last, reverse, false);
    if (r.at < 0) return none_cell();
    i64 at = r.at + r.length;
    if (at >= cell_count(buffer_of(series))) return none_cell();
    *series = *cell_at(series->w2, at);
    return series;
}

// --- Modification ------------------------------------------------------------

namespace {

// The index of the cell after the first key cell equal to `key` (which may
// be the tail), or -1 when the key is not there.
i32 value_index(const Cell* series, Cell* key, bool case_) {
    // A key is one cell: it is searched for as such, by the find every
    // block type shares.
    Cell* position = stack::push(series);
    Cell* found = find(position, key, nullptr, true, case_, false, false, nullptr, nullptr, false, false, false, false);
    i32 at = TYPE_OF(found) == TYPE_NONE ? -1 : head_index(found) + 1;
    stack::pop(1);
    return at;
}

}  // namespace

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    i32 at = value_index(series, key, case_);
    i32 count = cell_count(buffer_of(series));
    if (at >= 0 && at < count && actions::compare(cell_at(series->w2, at), value, COMP_FIND)) return value;
    bool owned = at < 0 ? notify(series, words.put, value, count, 2) : notify(series, words.put, value, at, 1);
    // The handler may have moved the key, or taken it away.
    if (owned) at = value_index(series, key, case_);
    count = cell_count(buffer_of(series));
    if (at < 0) {
        Cell pair[2] = {*key, *value};
        insert_cells(series, count, pair, 2, 1, true);
        if (owned) notify(series, words.put_ed, value, count, 2);
    } else {
        if (at < count) {
            series::element_store(series, at, value);
        } else {
            Cell copy = *value;
            insert_cells(series, at, &copy, 1, 1, true);
        }
        if (owned) notify(series, words.put_ed, value, at, 1);
    }
    return value;
}

Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append) {
    bool spread = !only && any_block_q(TYPE_OF(value));
    i64 count = spread ? rest_length(value) : 1;
    if (part) {
        i64 n = integer::get(part);
        if (n >= 0 && n < count) count = n;
    }
    i64 times = dup ? integer::get(dup) : 1;
    if (times < 1) count = 0;
    i64 total = count * times;
    if (total > MAX_LENGTH) no_memory();
    i32 h = clamp_head(series);
    if (total == 0) {
        if (append) series->w1 = 0;
        return series;
    }
    if (total == 1 && !spread && insert_one_q(series, value, append, h < 0 ? 0 : h)) return series;
    Source source(value, spread, count);
    i32 at = append ? cell_count(buffer_of(series)) : h;
    bool owned = notify(series, append ? words.append : words.insert, value, at, i32(total));
    at = append ? cell_count(buffer_of(series)) : series::fit(series, h, 0).at;
    insert_cells(series, at, source.data(), count, times, times < 5);
    if (owned) notify(series, append ? words.appended : words.inserted, value, at, i32(total));
    series->w1 = append ? 0 : u32(at + total);
    return series;
}

Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    bool spread = !only && any_block_q(TYPE_OF(value));
    i64 count = spread ? rest_length(value) : 1;
    i64 times = dup ? integer::get(dup) : 1;
    if (times < 1) return series;
    i64 total = count * times;
    if (total > MAX_LENGTH) no_memory();
    i32 h = clamp_head(series);
    // Cells replaced: /part's count, else as many as arrive.
    i64 wanted = part ? integer::get(part) : total;
    Source source(value, spread, count);
    bool owned = notify(series, words.change, value, h, i32(total));
    series::Span span = series::fit(series, h, wanted);
    h = span.at;
    i64 replaced = span.n;
    i32 n = cell_count(buffer_of(series));
    index_drop(series, h, n);
    i64 after = n - replaced + total;
    u32 node = series->w2;
    SeriesBuffer* s = node_buffer(node);
    if (i64(s->offset) + after * 16 > i64(s->size)) {
        i64 bytes = after * 16;
        if (times < 5 && bytes * 2 <= MAX_LENGTH - 15) bytes *= 2;
        s = memory::expand_series(s, bytes);
    }
    Cell* base = series::head_cells(s);
    std::memmove(base + h + total, base + h + replaced, size_t(n - h - replaced) * 16);
    if (count > 0) std::memcpy(base + h, source.data(), size_t(count) * 16);
    if (times > 1) memory::fill_repeat(reinterpret_cast<u8*>(base + h), count * 16, times);
    s->tail = s->offset + u32(after * 16);
    index_put(series, h, i32(after));
    if (owned) notify(series, words.changed, value, h, i32(total));
    series->w1 = u32(h + total);
    return series;
}

Cell* swap(Cell* series, Cell* other) {
    if (!any_block_q(TYPE_OF(other))) fire(ERR_SCRIPT, "invalid-arg", other);
    if (rest_length(series) < 1 || rest_length(other) < 1) return series;
    i32 a = head_index(series), b = head_index(other);
    bool shared = series->w2 == other->w2;
    bool owned_a = notify(series, words.swap, other, a, 1);
    bool owned_b = !shared && notify(other, words.swap, series, b, 1);
    if (rest_length(series) < 1 || rest_length(other) < 1) {
        // A handler cut one of them short of the cell.
        if (owned_a) notify(series, words.swaped, other, a, 0);
        if (owned_b) notify(other, words.swaped, series, b, 0);
        return series;
    }
    i32 lo = a < b ? a : b, hi = (a < b ? b : a) + 1;
    if (shared) {
        index_drop(series, lo, hi);
    } else {
        index_drop(series, a, a + 1);
        index_drop(other, b, b + 1);
    }
    Cell* x = cell_at(series->w2, a);
    Cell* y = cell_at(other->w2, b);
    Cell t = *x;
    *x = *y;
    *y = t;
    if (shared) {
        index_put(series, lo, hi);
    } else {
        index_put(series, a, a + 1);
        index_put(other, b, b + 1);
    }
    if (owned_a) notify(series, words.swaped, other, a, 1);
    if (owned_b) notify(other, words.swaped, series, b, 1);
    return series;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* taken = series::take(series, part, deep, last);
    if (taken != series) return taken;
    if (!part) {
        // One cell is answered as itself, not in a block.
        Cell element = *series::head_cells(buffer_of(series));
        *series = element;
        if (deep && any_series_q(TYPE_OF(series))) actions::copy(series, series, nullptr, true, nullptr);
        return series;
    }
    if (deep) deep_copy_cells(series->w2, 0, cell_count(buffer_of(series)));
    return series;
}

Cell* trim(Cell* series, bool, bool, bool, bool, bool, Cell*) {
    i32 h = clamp_head(series);
    i32 n = cell_count(buffer_of(series));
    if (h >= n) return series;
    bool owned = notify(series, words.trim, nullptr, h, n - h);
    h = series::fit(series, h, 0).at;
    n = cell_count(buffer_of(series));
    index_drop(series, h, n);
    SeriesBuffer* s = buffer_of(series);
    Cell* base = series::head_cells(s);
    i32 kept = h;
    for (i32 i = h; i < n; i++)
        if (TYPE_OF(base + i) != TYPE_NONE) base[kept++] = base[i];
    s->tail = s->offset + u32(kept) * 16;
    index_put(series, h, kept);
    if (owned) notify(series, words.trimmed, nullptr, h, kept - h);
    return series;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (!deep && !types) return series::copy(value, result, part, false, nullptr);
    u32 source = value->w2;
    if (cycles::find_q(source)) fire(ERR_INTERNAL, "no-cycle");
    cycles::Guard guard(source);
    Cell filter = types ? *types : none::value;
    series::copy(value, result, part, false, nullptr);
    u32 node = result->w2;
    i32 n = cell_count(node_buffer(node));
    if (types) copy_types(node, 0, n, 1, deep, &filter);
    else deep_copy_cells(node, 0, n);
    return result;
}

// --- Registration ------------------------------------------------------------

void init_state() {
    cell::init(&root_cell, TYPE_NONE);
    static bool registered = false;
    if (!registered) {
        collector::register_(mark_root_cell);
        registered = true;
    }
    init_sort_state();
}

void init() {
    datatype::Registration r(TYPE_BLOCK, TYPE_SERIES, "block!");
    r.on<ACT_MAKE>(make).on<ACT_TO>(to).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path);
    r.on<ACT_COMPARE>(compare).on<ACT_APPEND>(insert).on<ACT_CHANGE>(change).on<ACT_COPY>(copy);
    r.on<ACT_FIND>(find).on<ACT_INSERT>(insert).on<ACT_PUT>(put).on<ACT_SELECT>(select).on<ACT_SORT>(sort);
    r.on<ACT_SWAP>(swap);
    r.on<ACT_TAKE>(take).on<ACT_TRIM>(trim);
    datatype::register_(r);
}

namespace {
void mark_library_at(u32 node, i32 depth) {
    SeriesBuffer* s = node_buffer(node);
    if (s->flags & SERIES_LIBRARY || depth > 1000) return;
    s->flags |= SERIES_LIBRARY;
    i32 n = cell_count(s);
    for (i32 i = 0; i < n; i++) {
        const Cell* c = cell_at(node, i);
        if (any_block_q(TYPE_OF(c)) && c->w2) mark_library_at(c->w2, depth + 1);
    }
}
}  // namespace

void mark_library(u32 node) { mark_library_at(node, 0); }

}  // namespace block
}  // namespace zir
