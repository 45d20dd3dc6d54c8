// block! sorting and set operations: see block_sort.hpp.
#include "datatypes/block_sort.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/sorting.hpp"

namespace zir {
namespace block {

void (*call_comparator)(const Cell*) = nullptr;

namespace {

using series::any_block_q;
using series::buffer_of;
using series::words;

using block::cell_at;
using block::cell_count;
using series::head_index;
using series::clamp_head;

// --- Records handed to a comparator function ------------------------------------

// Under /all a comparator function receives the two records in two blocks,
// made on first use and refilled for every comparison. A collector root.
u32 record_blocks[2] = {0, 0};
// After a sort with records of 2 MiB or more the blocks are dropped rather
// than keep that much room for the next sort.
constexpr i64 RECORD_KEEP_LIMIT = 0x200000;
// Sorts in progress: a comparator may sort too, and the blocks are emptied
// only when the outermost sort ends.
i32 sort_depth = 0;
// A sort run from a comparator gets blocks of its own: the comparator that
// called it still holds its two records in the outer pair, kept here (and
// marked) until the inner sort ends.
std::vector<std::array<u32, 2>> outer_record_blocks;
// Comparator frames are named like any call of an unnamed function.
i32 anon_symbol = 0;

void mark_record_blocks() {
    for (u32 n : record_blocks) collector::mark_block(n);
    for (const auto& pair : outer_record_blocks)
        for (u32 n : pair) collector::mark_block(n);
}

// Gives both blocks room for a record of `cells` cells. A nested sort may
// have dropped them or made them smaller, so every comparison asks again.
void prepare_record_blocks(i64 cells) {
    for (u32& n : record_blocks) {
        if (n) {
            const SeriesBuffer* s = node_buffer(n);
            if (i64(s->size) - s->offset >= cells * 16) continue;
        }
        n = 0;
        u32 fresh = memory::alloc_cells(cells);
        n = fresh;
    }
}

void load_record(int which, const Cell* record, i64 cells, Cell* out) {
    SeriesBuffer* s = node_buffer(record_blocks[which]);
    std::memcpy(series::head_cells(s), record, size_t(cells) * 16);
    s->tail = s->offset + u32(cells * 16);
    cell::init(out, TYPE_BLOCK);
    out->w2 = record_blocks[which];
}

// Counts the sorts in progress; an inner one sets the outer pair of record
// blocks aside and gives it back when it ends. When the outermost one ends
// (errors included), it empties the record blocks or drops large ones.
class SortRun {
public:
    explicit SortRun(i64 record_cells) : cells(record_cells) {
        if (sort_depth > 0) {
            outer_record_blocks.push_back({record_blocks[0], record_blocks[1]});
            record_blocks[0] = record_blocks[1] = 0;
        }
        sort_depth++;
    }
    ~SortRun() {
        if (--sort_depth > 0) {
            record_blocks[0] = outer_record_blocks.back()[0];
            record_blocks[1] = outer_record_blocks.back()[1];
            outer_record_blocks.pop_back();
            return;
        }
        for (u32& n : record_blocks) {
            if (!n) continue;
            if (cells * 16 >= RECORD_KEEP_LIMIT) {
                n = 0;
                continue;
            }
            SeriesBuffer* s = node_buffer(n);
            s->tail = s->offset;   // hold no stale values for the collector to keep
        }
    }
    SortRun(const SortRun&) = delete;
    SortRun& operator=(const SortRun&) = delete;

private:
    i64 cells;
};

inline int compare_cells(const Cell* a, const Cell* b, i32 op) {
    // Two integers order by value whatever the op: integer!'s comparison
    // without its dispatch.
    if (TYPE_OF(a) == TYPE_INTEGER && TYPE_OF(b) == TYPE_INTEGER) {
        i32 x = integer::get(a), y = integer::get(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    i32 r = actions::compare_typed(a, b, op);
    if (r == NOT_COMPARABLE) return i32(TYPE_OF(a)) - i32(TYPE_OF(b));
    return r;
}

int map_comparator_result(const Cell* r) {
    switch (TYPE_OF(r)) {
        case TYPE_LOGIC: return r->w1 ? 1 : -1;
        case TYPE_NONE: return -1;
        case TYPE_INTEGER: return integer::get(r);
        case TYPE_FLOAT: {
            double d = cell::get_float(r);
            return d > 0 ? 1 : d < 0 ? -1 : 0;
        }
        default: return 1;
    }
}

// The cell of a record by which the records are ordered, when it holds an
// integer in every record (integer!'s order then decides alone), else -1.
i64 integer_key(const std::vector<Cell>& cells, i64 size, std::intptr_t flags) {
    i64 k = flags >> SORT_SHIFT;
    if (flags & SORT_ALL) {
        if (k != 1) return -1;
        k = 0;
    }
    for (size_t i = size_t(k); i < cells.size(); i += size_t(size))
        if (TYPE_OF(&cells[i]) != TYPE_INTEGER) return -1;
    return k;
}

// Sorts the records of `size` cells in `span` of the block with the
// collector on all the while: the sort works on a copy of the cells that
// never moves and is a collector root, as is the merge sort's work buffer,
// so the comparator may allocate, collect, and change the block being sorted.
// The order is then written back into the block as it is by then, its range
// fitted again. A comparator's error leaves the block as it was.
void sort_range(Cell* series, series::Span span, i64 size, bool user, std::intptr_t arg, std::intptr_t flags,
                bool stable) {
    i64 records = span.n / size;
    std::vector<Cell> cells, work;
    try {
        const Cell* from = cell_at(series->w2, span.at);
        cells.assign(from, from + span.n);
        Cell unset;
        cell::init(&unset, TYPE_UNSET);
        if (stable) {
            if (u64(records / 2) * u64(size) * 16 > 0xFFFFFFFFull) fire(ERR_SCRIPT, "too-long");
            work.assign(size_t(records / 2 * size), unset);
        }
    } catch (const std::bad_alloc&) {
        fire(ERR_INTERNAL, "no-memory");
    }
    collector::RootCells root(cells.data(), cells.size());
    collector::RootCells root_work(work.data(), work.size());
    sort::Compare compare = user ? sort_compare_with : sort_compare;
    size_t width = size_t(size) * 16;
    i64 key = user ? -1 : integer_key(cells, size, flags);
    if (key >= 0) {
        // The same sorts with the comparison inlined: the cells stay integers,
        // since no user code runs.
        size_t at = size_t(key) * 16 + offsetof(Cell, w2);
        bool descending = (flags & SORT_REVERSE) != 0;
        if (stable) sort::merge_sort_i32_through(cells.data(), records, width, at, descending, work.data());
        else sort::quicksort_i32(cells.data(), records, width, at, descending);
    } else if (stable) {
        sort::merge_sort_through(cells.data(), records, width, arg, flags, compare, work.data());
    } else {
        sort::quicksort(cells.data(), records, width, arg, flags, compare);
    }

    series::Span now = series::fit(series, span.at, span.n);
    now.n -= i32(now.n % size);
    series::index_drop(series, now.at, now.at + now.n);
    std::memcpy(cell_at(series->w2, now.at), cells.data(), size_t(now.n) * 16);
    series::index_put(series, now.at, now.at + now.n);
}

}  // namespace

// --- Sorting ---------------------------------------------------------------------

int sort_compare(const void* cell, const void* other, std::intptr_t op, std::intptr_t flags) {
    const Cell* a = static_cast<const Cell*>(cell);
    const Cell* b = static_cast<const Cell*>(other);
    if (flags & SORT_REVERSE) std::swap(a, b);
    std::intptr_t n = flags >> SORT_SHIFT;
    if (!(flags & SORT_ALL)) return compare_cells(a + n, b + n, i32(op));
    for (std::intptr_t i = 0; i < n; i++) {
        int r = compare_cells(a + i, b + i, i32(op));
        if (r != 0) return r;
    }
    return 0;
}

int sort_compare_with(const void* cell, const void* other, std::intptr_t function, std::intptr_t flags) {
    if (!call_comparator) fire(ERR_INTERNAL, "not-done");
    const Cell* f = reinterpret_cast<const Cell*>(function);
    const Cell* x = static_cast<const Cell*>(cell);
    const Cell* y = static_cast<const Cell*>(other);
    i64 n = flags >> SORT_SHIFT;
    Cell first, second;
    if (flags & SORT_ALL) {
        prepare_record_blocks(n);
        load_record(0, x, n, &first);
        load_record(1, y, n, &second);
    } else {
        first = x[n];
        second = y[n];
    }
    Cell result = run_comparator(f, &first, &second, (flags & SORT_REVERSE) != 0);
    return map_comparator_result(&result);
}

Cell run_comparator(const Cell* function, const Cell* first, const Cell* second, bool reverse) {
    if (!call_comparator) fire(ERR_INTERNAL, "not-done");
    Cell* saved_top = stack::top;
    stack::mark_func(u32(anon_symbol), 0, function->w1);
    // Pushed second first: a function answering true when its first argument
    // goes first then sorts ascending.
    stack::push(reverse ? first : second);
    stack::push(reverse ? second : first);
    call_comparator(function);
    Cell result = *stack::arguments;
    stack::unwind_func_last();
    stack::top = saved_top;
    return result;
}

SortPlan plan_sort(Cell* series, Cell* skip, Cell* comparator, Cell* part, bool all) {
    SortPlan plan;
    cell::init(&plan.function, TYPE_UNSET);
    i32 abs = series::abs_length(buffer_of(series));
    i64 h = clamp_head(series);
    i64 count = abs - h;
    // Elements sorted: /part's count, else as far as the tail.
    i64 wanted = series::TO_TAIL;
    if (part) {
        i64 n;
        if (TYPE_OF(part) == TYPE_INTEGER) n = integer::get(part);
        else if (series::same_series_q(series, part)) n = i64(std::min(head_index(part), abs)) - h;
        else series::fire_refine_arg(words.part, part);
        if (n < 0) {
            count = std::min(-n, h);
            h -= count;
            wanted = count;
        } else {
            wanted = n;
            if (n < count) count = n;
        }
    }
    plan.at = h;
    plan.count = count;
    plan.wanted = wanted;
    if (count == 0) return plan;   // nothing to sort: nothing is checked

    if (skip) {
        if (TYPE_OF(skip) != TYPE_INTEGER) series::fire_refine_arg(words.skip, skip);
        plan.size = integer::get(skip);
        if (plan.size < 1 || plan.size > count || count % plan.size != 0) series::fire_refine_arg(words.skip, skip);
    } else if (all) {
        fire(ERR_SCRIPT, "bad-refines");
    }
    if (comparator) {
        switch (TYPE_OF(comparator)) {
            case TYPE_FUNCTION:
                plan.function = *comparator;
                break;
            case TYPE_INTEGER: {
                if (!skip || all) fire(ERR_SCRIPT, "bad-refines");
                i64 k = integer::get(comparator);
                if (k < 1 || k > plan.size) fire(ERR_SCRIPT, "out-of-range", comparator);
                plan.offset = k - 1;
                break;
            }
            default:
                series::fire_refine_arg(words.compare, comparator);
        }
    }
    return plan;
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    SortPlan plan = plan_sort(series, skip, comparator, part, all);
    if (plan.count == 0) return series;
    i64 h = plan.at, count = plan.count, wanted = plan.wanted, size = plan.size;
    std::intptr_t flags = reverse ? SORT_REVERSE : 0;
    if (all) flags |= SORT_ALL | (std::intptr_t(size) << SORT_SHIFT);
    else flags |= std::intptr_t(plan.offset) << SORT_SHIFT;
    collector::RootCell function(plan.function);
    bool user = TYPE_OF(function.get()) == TYPE_FUNCTION;

    bool owned = series::notify(series, words.sort, nullptr, i32(h), i32(count));
    series::Span span = series::fit(series, h, wanted);
    span.n -= i32(span.n % size);
    if (span.n > 0) {
        SortRun run(size);
        if (user && all) prepare_record_blocks(size);
        std::intptr_t arg = user ? reinterpret_cast<std::intptr_t>(function.get())
                                 : std::intptr_t(case_ ? COMP_CASE_SORT : COMP_SORT);
        sort_range(series, span, size, user, arg, flags, stable);
    }
    if (owned) series::notify(series, words.sorted, nullptr, span.at, span.n);
    return series;
}

// --- Set operations --------------------------------------------------------------

namespace {

// True when `key` lies at a record start (the head plus a multiple of
// `skip`) of the series, looked up through `table`, a hash! index over the
// series' buffer. Blocks hash by identity, so a block-like key is searched
// for cell by cell instead, as find/only does.
bool holds(const Cell* series, u32 table, const Cell* key, i64 skip, bool case_) {
    if (any_block_q(TYPE_OF(key))) {
        // Searched as a plain block: a hash!'s own index would compare identities too.
        Cell position = *series;
        cell::set_type(&position, TYPE_BLOCK);
        position.w3 = 0;
        Cell step, value = *key;
        cell::init(&step, TYPE_INTEGER);
        step.w2 = u32(skip);
        Cell* found = find(&position, &value, nullptr, true, case_, false, false, nullptr, &step, false, false,
                           false, false);
        return TYPE_OF(found) != TYPE_NONE;
    }
    i32 op = case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
    return hash_table::find(table, key, head_index(series), i32(skip), op, false, false) != nullptr;
}

// The series whose values a pass tests for membership: looked up through its
// own index when it is a hash!, else through a temporary one, made on first
// use and left to the collector afterwards.
class Members {
public:
    explicit Members(const Cell* s) : series(s) {}
    bool holds(const Cell* key, i64 skip, bool case_) {
        if (!table.node && !any_block_q(TYPE_OF(key))) {
            if (TYPE_OF(series) == TYPE_HASH && series->w3) {
                table.node = series->w3;
            } else {
                u32 t = hash_table::init(cell_count(buffer_of(series)), series->w2, hash_table::HASH, 0);
                table.node = t;
            }
        }
        return block::holds(series, table.node, key, skip, case_);
    }

private:
    const Cell* series;   // a value-stack cell
    collector::RootNode table;
};

// The result being built and its index. With `index_all` every cell is
// indexed (the result becomes a hash!), else only the first of each record,
// which is all that the duplicate test looks at.
struct Result {
    u32 node;
    u32 table;
    i64 skip;
    bool case_;
    bool index_all;
};

void append_record(Result& r, u32 source, i64 at, i64 n) {
    SeriesBuffer* s = node_buffer(r.node);
    i64 start = cell_count(s);
    if (i64(s->tail) + n * 16 > i64(s->size)) {
        i64 bytes = (start + n) * 16;
        if (bytes * 2 <= MAX_LENGTH - 15) bytes *= 2;
        s = memory::expand_series(s, bytes);
    }
    // Read after the expansion, which may have moved the source.
    std::memcpy(series::tail(s), cell_at(source, at), size_t(n) * 16);
    s->tail += u32(n * 16);
    i64 end = r.index_all ? start + n : start + 1;
    for (i64 i = start; i < end; i++) {
        i32 status;
        hash_table::put_value(r.table, cell_at(r.node, i), &status);
        if (status == hash_table::PUT_REBUILT) break;   // the whole block is indexed
    }
}

// Adds the records of `source` that are new to the result and, with a
// member set, whose first value's presence there is `wanted`.
void pass(Result& r, const Cell* source, Members* members, bool wanted) {
    u32 node = source->w2;
    i64 abs = cell_count(node_buffer(node));
    Cell result;
    cell::init(&result, TYPE_BLOCK);
    result.w2 = r.node;
    for (i64 at = head_index(source); at < abs; at += r.skip) {
        Cell key = *cell_at(node, at);
        if (members && members->holds(&key, r.skip, r.case_) != wanted) continue;
        if (holds(&result, r.table, &key, r.skip, r.case_)) continue;
        append_record(r, node, at, std::min(r.skip, abs - at));
    }
}

}  // namespace

void do_set_op(bool case_, const Cell* skip, int op) {
    if (op < SET_UNIQUE || op > SET_DIFFERENCE) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    Cell* first = stack::arguments;
    Cell* second = first + 1;
    bool two = op != SET_UNIQUE;
    i64 size = 1;
    if (skip) {
        if (TYPE_OF(skip) != TYPE_INTEGER || integer::get(skip) < 1) series::fire_refine_arg(words.skip, skip);
        size = integer::get(skip);
    }
    // The natives check the types; cells are only ever read from cell buffers.
    if (two && !any_block_q(TYPE_OF(second))) {
        Cell a, b;
        datatype::make_at(&a, TYPE_OF(first));
        datatype::make_at(&b, TYPE_OF(second));
        fire(ERR_SCRIPT, "expect-val", &a, &b);
    }
    i64 room = cell_count(buffer_of(first)) - clamp_head(first);
    if (two) {
        i64 rest = cell_count(buffer_of(second)) - clamp_head(second);
        if (op == SET_UNION) room += rest;
    }
    if (room < 1) room = 1;
    if (room > MAX_LENGTH / 16) fire(ERR_INTERNAL, "no-memory");
    bool hash = TYPE_OF(first) == TYPE_HASH || (two && TYPE_OF(second) == TYPE_HASH);

    collector::RootNode node(memory::alloc_cells(room));
    collector::RootNode table(hash_table::init(i32(room), node, hash_table::HASH, 0));
    Result r{node, table, size, case_, hash};
    switch (op) {
        case SET_UNIQUE:
            pass(r, first, nullptr, false);
            break;
        case SET_UNION:
            pass(r, first, nullptr, false);
            pass(r, second, nullptr, false);
            break;
        case SET_INTERSECT:
        case SET_EXCLUDE: {
            Members in_second(second);
            pass(r, first, &in_second, op == SET_INTERSECT);
            break;
        }
        default: {
            Members in_second(second), in_first(first);
            pass(r, first, &in_second, false);
            pass(r, second, &in_first, false);
            break;
        }
    }
    first->header = (first->header & FLAG_NEW_LINE) | (hash ? TYPE_HASH : TYPE_OF(first));
    first->w1 = 0;
    first->w2 = node;
    first->w3 = hash ? u32(table) : 0;
}

void init_sort_state() {
    record_blocks[0] = record_blocks[1] = 0;
    sort_depth = 0;
    outer_record_blocks.clear();
    anon_symbol = symbol::make("<anon>");
    static bool registered = false;
    if (!registered) {
        collector::register_(mark_record_blocks);
        registered = true;
    }
}

}  // namespace block
}  // namespace zir
