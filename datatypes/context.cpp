// Contexts: see context.hpp.
#include "datatypes/context.hpp"

#include <cstdio>
#include <cstdlib>

#include "boot/roots.hpp"
#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"

namespace zir {
namespace context {

u32 global = 0;
u32 global_values = 0;
GlobalSlots global_slots = {nullptr, 0};

void refresh_global_slots() {
    if (!global_values) {
        global_slots = {nullptr, 0};
        return;
    }
    SeriesBuffer* v = node_buffer(global_values);
    global_slots = {series::head_cells(v), u32(series::length_of(v))};
}

#ifndef NDEBUG
const GlobalSlots& global_slots_now() {
    if (global_values) {
        SeriesBuffer* v = node_buffer(global_values);
        if (global_slots.cells != series::head_cells(v) || global_slots.count != u32(series::length_of(v))) {
            std::fprintf(stderr, "*** context: the global values moved or grew without their slots being refreshed\n");
            std::abort();
        }
    }
    return global_slots;
}
#endif

i32 self_symbol = 0;
OnSet on_set = nullptr;

using collector::RootCell;
using collector::RootNode;

// --- Reading a context --------------------------------------------------------

u32 words_node(const Cell* ctx) { return hash_table::record(ctx->w1)->block; }

SeriesBuffer* words_buffer(const Cell* ctx) { return node_buffer(words_node(ctx)); }

Cell* word_at(const Cell* ctx, i32 i) { return series::head_cells(words_buffer(ctx)) + i; }

i32 word_count(const Cell* ctx) { return series::length_of(words_buffer(ctx)); }

Cell* value_at(const Cell* ctx, i32 i) { return series::head_cells(node_buffer(ctx->w2)) + i; }

namespace {

void mark_global() { collector::mark_context(global); }

inline u32 table_of(u32 ctx) { return cell_of(ctx)->w1; }
inline bool values_in_block(const Cell* ctx) { return !(ctx->header & ON_STACK); }

// The slot of the word cell at a position of the word list: its position,
// but for a global word added for a letter-case twin, which names the twin's.
inline i32 slot_at(u32 ctx, i32 position) {
    return position < 0 ? -1 : i32(word_at(cell_of(ctx), position)->w3);
}

// Appends a value for a new word (`value` must not lie in a series buffer).
void append_value(u32 ctx, const Cell* value) {
    SeriesBuffer* s = node_buffer(cell_of(ctx)->w2);
    *memory::alloc_tail_buffer(s) = *value;
    if (ctx == global) refresh_global_slots();
}

// An unbound word! of a symbol, for an error report.
Cell named(i32 symbol) {
    Cell w;
    series::make_word(&w, symbol);
    return w;
}

// The value cell of a slot; `word` names the slot in errors (`missing`: the
// values of a function that is not running, or a slot forged past them).
inline Cell* slot_cell(u32 ctx, i32 slot, const Cell* word, const char* missing) {
    Cell* c = cell_of(ctx);
    if (c->header & ON_STACK) {
        Cell* first = stack_values(c);
        if (ZIR_UNLIKELY(!first)) fire(ERR_SCRIPT, missing, word);
        return first + slot;
    }
    SeriesBuffer* v = node_buffer(c->w2);
    // Contexts never lose words, so only a forged slot lies outside the values.
    if (ZIR_UNLIKELY(u32(slot) >= u32(series::length_of(v)))) fire(ERR_SCRIPT, missing, word);
    return series::head_cells(v) + slot;
}

}  // namespace

// --- Making contexts ----------------------------------------------------------

namespace {

// A spec of at most this many words is read into the word list in one go.
constexpr i32 LISTED_WORDS = 32;

// A new context (see `create`) whose word list holds from the start the n
// words of `symbols` (distinct even by letter case), each with an unset!
// value when the values are in a block. The word table then indexes them as
// adding them one by one would: each in the first empty bucket of its probe
// sequence, in order.
u32 create_listed(i32 slots, bool on_stack, bool self, u32 source, u32 kind, const i32* symbols, i32 n) {
    if (slots < 1) slots = 1;
    RootNode from(source);
    RootNode node(memory::alloc_unset_cells(2));
    SeriesBuffer* s = node_buffer(node);
    s->tail = s->offset + 32;
    // A context! cell from the start, so that the collector keeps what is
    // stored in it while the rest is made.
    cell::init(cell_of(node), TYPE_CONTEXT);
    if (!on_stack) {
        u32 values = memory::alloc_unset_cells(slots);
        node_buffer(values)->tail += u32(n) * 16;
        cell_of(node)->w2 = values;
    }
    u32 table;
    if (source) {
        RootNode words(memory::copy_series(words_buffer(cell_of(source))));
        table = hash_table::copy_words(table_of(source), words);
    } else {
        RootNode words(memory::alloc_cells(slots));
        SeriesBuffer* w = node_buffer(words);
        Cell* cells = series::head_cells(w);
        for (i32 i = 0; i < n; i++) {
            cells[i].header = TYPE_WORD;
            cells[i].w1 = node;
            cells[i].w2 = u32(symbols[i]);
            cells[i].w3 = u32(i);
        }
        w->tail += u32(n) * 16;
        table = hash_table::init(slots, words, hash_table::WORDS, 0);
    }
    Cell* c = cell_of(node);
    c->w1 = table;
    c->header = TYPE_CONTEXT | (kind << KIND_SHIFT) | (on_stack ? ON_STACK : 0) | (self ? HAS_SELF : 0);
    return node;
}

// The symbols of the words `make` would add from the block, letter-case
// twins of earlier ones left out, into `symbols`: their count, or -1 when
// they are more than LISTED_WORDS or than `slots` (the word list would grow
// as they are added, and they are added one by one).
i32 list_words(SeriesBuffer* b, i32 slots, i32* symbols) {
    i32 resolved[LISTED_WORDS];
    i32 n = 0;
    const Cell* cells = series::head_cells(b);
    for (i32 i = 0; i < series::length_of(b); i++) {
        u32 t = TYPE_OF(&cells[i]);
        if (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD && t != TYPE_REFINEMENT) continue;
        i32 r = symbol::resolve(i32(cells[i].w2));
        bool twin = false;
        for (i32 j = 0; j < n && !twin; j++) twin = resolved[j] == r;
        if (twin) continue;
        if (n == LISTED_WORDS || n == slots) return -1;
        resolved[n] = r;
        symbols[n++] = i32(cells[i].w2);
    }
    return n;
}

}  // namespace

u32 create(i32 slots, bool on_stack, bool self, u32 source, u32 kind) {
    return create_listed(slots, on_stack, self, source, kind, nullptr, 0);
}

u32 make(const Cell* spec, bool on_stack, bool self, u32 kind) {
    RootCell block(*spec);
    SeriesBuffer* b = node_buffer(block->w2);
    i32 from_head = series::length_of(b) - i32(block->w1);
    i32 symbols[LISTED_WORDS];
    i32 n = list_words(b, from_head < 1 ? 1 : from_head, symbols);
    if (n >= 0) return create_listed(from_head, on_stack, self, 0, kind, symbols, n);
    RootNode ctx(create(from_head, on_stack, self, 0, kind));
    // Every word of the block's series counts, from its first cell; the
    // values block gets one value per word added, so that value i always
    // belongs to word i.
    for (i32 i = 0; i < series::length_of(node_buffer(block->w2)); i++) {
        const Cell* c = series::head_cells(node_buffer(block->w2)) + i;
        u32 t = TYPE_OF(c);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT)
            add_word(ctx, i32(c->w2));
    }
    return ctx;
}

u32 clone(Cell* object, u32 kind) {
    u32 old = object->w1;
    const Cell* oc = cell_of(old);
    u32 node = create(word_count(oc), (oc->header & ON_STACK) != 0, (oc->header & HAS_SELF) != 0, old, kind);
    const Cell* c = cell_of(node);
    i32 n = word_count(c);
    for (i32 i = 0; i < n; i++) word_at(c, i)->w1 = node;
    object->w1 = node;
    return node;
}

// --- Words ----------------------------------------------------------------------

i32 find_word(u32 ctx, i32 symbol, bool by_alias) {
    return slot_at(ctx, hash_table::find_symbol(table_of(ctx), symbol, by_alias, 0, nullptr));
}

Cell* find_word_cell(u32 ctx, i32 symbol, bool by_alias) {
    i32 position = hash_table::find_symbol(table_of(ctx), symbol, by_alias, 0, nullptr);
    return position < 0 ? nullptr : word_at(cell_of(ctx), position);
}

i32 find_or_put(u32 ctx, i32 symbol, bool by_alias, i32* index_out) {
    i32 position = -1;
    i32 found = hash_table::find_symbol(table_of(ctx), symbol, by_alias, ctx, &position);
    if (found >= 0) {
        i32 slot = slot_at(ctx, found);
        if (index_out) *index_out = slot;
        return slot;
    }
    if (index_out) *index_out = position;   // a new word's slot is its position
    return -1;
}

i32 add_word(u32 ctx, i32 symbol) {
    i32 slot;
    if (find_or_put(ctx, symbol, true, &slot) >= 0) return slot;
    if (values_in_block(cell_of(ctx))) {
        Cell unset;
        cell::init(&unset, TYPE_UNSET);
        append_value(ctx, &unset);
    }
    return slot;
}

void add_with(u32 ctx, i32 symbol, const Cell* value) {
    RootCell copy(*value);
    i32 slot;
    if (find_or_put(ctx, symbol, true, &slot) >= 0) return;
    if (values_in_block(cell_of(ctx))) append_value(ctx, copy.get());
}

void put(u32 ctx, i32 symbol, const Cell* value) {
    i32 slot = find_word(ctx, symbol, true);
    if (slot < 0) return add_with(ctx, symbol, value);
    Cell w = named(symbol);
    *slot_cell(ctx, slot, &w, "not-in-context") = *value;
}

bool collect_set_words(u32 ctx, Cell* block) {
    series::clamp_head(block);
    RootCell b(*block);
    i32 before = word_count(cell_of(ctx));
    for (i32 i = i32(b->w1); i < series::length_of(node_buffer(b->w2)); i++) {
        const Cell* c = series::head_cells(node_buffer(b->w2)) + i;
        if (TYPE_OF(c) == TYPE_SET_WORD) add_word(ctx, i32(c->w2));
    }
    return word_count(cell_of(ctx)) > before;
}

// --- Binding ------------------------------------------------------------------

i32 bind_word(u32 ctx, Cell* word) {
    i32 slot = find_word(ctx, i32(word->w2), true);
    if (slot >= 0) {
        word->w1 = ctx;
        word->w3 = u32(slot);
    }
    return slot;
}

namespace {

// The lookups of one bind, prepared once for the whole walk: a filter of 256
// bits (bit `resolved symbol & 255` set for every word of the context), so
// that a word the context cannot hold (most words of a body bound to its
// function's few arguments) costs one test, and for a small context its words'
// resolved symbols and slots, searched in place of the word table. The table
// answers the first word of a resolved symbol along its probe sequence, which
// for letter-case twins of different slots need not be the first in the list:
// a small context holding twins asks its table. Nothing is kept that a
// collection could move, so the finder outlives the allocations of a copy.
constexpr i32 FEW_WORDS = 16;
// Past this many words (the global context) the filter would be all ones.
constexpr i32 FILTERED_WORDS = 256;

struct Finder {
    u32 ctx;
    i32 count;   // words in `symbols`, or -1: ask the word table
    u64 filter[4];
    i32 symbols[FEW_WORDS];
    i32 slots[FEW_WORDS];
};

void prepare(Finder* f, u32 ctx) {
    f->ctx = ctx;
    f->count = -1;
    const Cell* c = cell_of(ctx);
    i32 n = word_count(c);
    if (n > FILTERED_WORDS) {
        for (u64& bits : f->filter) bits = ~u64(0);
        return;
    }
    for (u64& bits : f->filter) bits = 0;
    const Cell* words = word_at(c, 0);
    bool few = n <= FEW_WORDS;
    for (i32 i = 0; i < n; i++) {
        i32 r = symbol::resolve(i32(words[i].w2));
        u32 b = u32(r) & 255;
        f->filter[b >> 6] |= u64(1) << (b & 63);
        if (!few) continue;
        for (i32 j = 0; j < i; j++)
            if (f->symbols[j] == r) few = false;
        f->symbols[i] = r;
        f->slots[i] = i32(words[i].w3);
    }
    if (few) f->count = n;
}

// The slot of a symbol (letter-case twins match), or -1: find_word's answer.
inline i32 find(const Finder& f, i32 symbol) {
    i32 r = symbol::resolve(symbol);
    u32 b = u32(r) & 255;
    if (!((f.filter[b >> 6] >> (b & 63)) & 1)) return -1;
    if (f.count < 0) return find_word(f.ctx, symbol, true);
    for (i32 i = 0; i < f.count; i++)
        if (f.symbols[i] == r) return f.slots[i];
    return -1;
}

// Binds one word cell as `bind` does; answers false for a cell that is no word.
inline bool bind_cell(Cell* c, const Finder& f, bool self) {
    switch (TYPE_OF(c)) {
        case TYPE_WORD:
            if (self && i32(c->w2) == self_symbol) {
                c->w1 = f.ctx;
                c->w3 = u32(-1);
                return true;
            }
            [[fallthrough]];
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT: {
            i32 slot = find(f, i32(c->w2));
            if (slot >= 0) {
                c->w1 = f.ctx;
                c->w3 = u32(slot);
            }
            return true;
        }
        default:
            return false;
    }
}

// Binding looks words up without adding any, so nothing here allocates and
// the cells can be walked in place.
void bind_series(u32 node, i32 head, const Finder& f, bool self) {
    if (cycles::find_q(node)) return;
    cycles::Guard guard(node);
    SeriesBuffer* s = node_buffer(node);
    Cell* cells = series::head_cells(s);
    i32 n = series::length_of(s);
    for (i32 i = head < 0 ? 0 : head; i < n; i++) {
        Cell* c = cells + i;
        if (bind_cell(c, f, self)) continue;
        if (any_block_q(TYPE_OF(c))) bind_series(c->w2, i32(c->w1), f, self);
    }
}

// block::clone's deep copy of every any-block value, each cell bound as it
// is copied (and, with `library`, each copy flagged as block::mark_library
// flags it). The copies are new, so no cycle can be met among them; the
// source is guarded as the copy guards it.
Cell* clone_bound(const Cell* block, const Finder& f, bool self, bool library) {
    Cell source = *block;
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    i32 n = series::rest_length(&source);
    u32 node = memory::alloc_cells(n > 0 ? n : 1);
    std::memcpy(series::head_cells(node_buffer(node)),
                series::head_cells(node_buffer(source.w2)) + series::head_index(&source), size_t(n) * 16);
    node_buffer(node)->tail += u32(n) * 16;
    if (library) node_buffer(node)->flags |= SERIES_LIBRARY;
    cell::init(out, TYPE_OF(&source));
    out->w2 = node;
    if (cycles::find_q(source.w2)) fire(ERR_INTERNAL, "no-cycle");
    cycles::Guard guard(source.w2);
    // Only a nested copy allocates: the cells are looked up again after one.
    Cell* cells = series::head_cells(node_buffer(node));
    for (i32 i = 0; i < n; i++) {
        Cell* c = cells + i;
        if (bind_cell(c, f, self) || !any_block_q(TYPE_OF(c))) continue;
        Cell* copy = clone_bound(c, f, self, library);
        cells = series::head_cells(node_buffer(node));
        c = cells + i;
        zir::block::point_at_copy(c, copy);
        stack::pop(1);
    }
    if (series::indexed_q(out) && series::index_hooks.init) series::index_hooks.init(out);
    return out;
}

}  // namespace

Cell* bind(Cell* block, u32 ctx, bool self) {
    Finder f;
    prepare(&f, ctx);
    bind_series(block->w2, i32(block->w1), f, self);
    return block;
}

Cell* copy_bound(const Cell* block, u32 ctx, bool self, bool library) {
    RootNode keep(ctx);
    Finder f;
    prepare(&f, ctx);
    return clone_bound(block, f, self, library);
}

// --- Values -------------------------------------------------------------------

Cell* find_value(const Cell* word, u32 ctx) {
    i32 slot = i32(word->w3);
    if (ZIR_UNLIKELY(slot < 0 || ctx == 0)) {
        if (slot < 0 && word->w1 && i32(word->w2) == self_symbol) return owner_of(word->w1);
        fire(ERR_SCRIPT, "no-value", word);
    }
    return slot_cell(ctx, slot, word, "not-in-context");
}

namespace {

// The slot of a word not looked up yet, the word added to the context when
// absent. The slot is found or known before anything allocates, so it can be
// written into the word cell wherever that lies.
i32 settle_slot(Cell* word, u32 ctx) {
    i32 symbol = i32(word->w2);
    i32 slot = find_word(ctx, symbol, false);
    if (slot < 0) slot = find_word(ctx, symbol, true);
    bool add = slot < 0;
    if (add) slot = word_count(cell_of(ctx));
    // A word looked up in a context other than its own keeps its binding.
    if (word->w1 == ctx) word->w3 = u32(slot);
    if (add) add_word(ctx, symbol);
    return slot;
}

// Stores the value for a word whose slot is known.
Cell* store(const Cell* word, const Cell* value, u32 ctx, bool events) {
    i32 slot = i32(word->w3);
    Cell* cell = slot_cell(ctx, slot, word, "not-defined");
    const Cell* c = cell_of(ctx);
    if (kind_of(c) != KIND_OBJECT) {
        *cell = *value;
        return cell;
    }
    word_at(c, slot)->header |= WORD_CHANGED;
    const Cell* owner = owner_of(ctx);
    if (!events || owner->w3 == 0) {
        *cell = *value;
        return cell;
    }
    if (!on_set) fire(ERR_INTERNAL, "not-done");
    // The handler is user code: it gets stack copies, which stay put and stay
    // alive whatever it does to the object.
    stack::KeepTop keep;
    Cell* args = stack::push(owner);
    stack::push(word);
    stack::push(cell);
    stack::push(value);
    *cell = *value;
    on_set(args, args + 1, args + 2, args + 3);
    return slot_cell(ctx, slot, args + 1, "not-defined");
}

}  // namespace

Cell* set_in(Cell* word, const Cell* value, u32 ctx, bool events) {
    if (ZIR_LIKELY(ctx == word->w1)) {
        if (Cell* cell = plain_value_cell(word)) {
            *cell = *value;
            return cell;
        }
    }
    if (ZIR_UNLIKELY(ctx == 0)) fire(ERR_SCRIPT, "not-defined", word);
    if (ZIR_UNLIKELY(i32(word->w3) < 0)) {
        // Adding the word may move the buffers that hold the word and the value.
        RootCell v(*value);
        RootCell w(*word);
        w->w3 = u32(settle_slot(word, ctx));
        return store(w.get(), v.get(), ctx, events);
    }
    return store(word, value, ctx, events);
}

Cell* get_by_symbol(i32 symbol, u32 ctx) {
    if (cell_of(ctx)->header & ON_STACK) ctx = global;
    i32 slot = find_word(ctx, symbol, true);
    Cell w = named(symbol);
    if (slot < 0) fire(ERR_SCRIPT, "no-value", &w);
    return slot_cell(ctx, slot, &w, "no-value");
}

// --- The global context ---------------------------------------------------------

Cell* add_global(i32 symbol, bool by_alias, bool exact_copy) {
    i32 found = hash_table::find_symbol(table_of(global), symbol, by_alias, 0, nullptr);
    if (found >= 0) {
        Cell* w = word_at(cell_of(global), found);
        if (by_alias && exact_copy && i32(w->w2) != symbol) {
            Cell copy = *w;
            copy.w2 = u32(symbol);
            return boot::append_root(&copy);
        }
        return w;
    }
    // A letter-case twin already there lends its slot, whichever was made first.
    i32 twin = by_alias ? -1 : find_word(global, symbol, true);
    i32 position;
    find_or_put(global, symbol, by_alias, &position);
    Cell unset;
    cell::init(&unset, TYPE_UNSET);
    append_value(global, &unset);
    Cell* w = word_at(cell_of(global), position);
    if (twin >= 0) w->w3 = u32(twin);
    return w;
}

// --- Start-up -----------------------------------------------------------------

void init() {
    datatype::Registration r(TYPE_CONTEXT, 0, "context!");
    r.only_own();
    datatype::register_(r);
}

void init_global() {
    static bool registered = false;
    if (!registered) {
        collector::register_(mark_global);
        registered = true;
    }
    global = 0;
    global_values = 0;
    global_slots = {nullptr, 0};
    global = create(GLOBAL_SLOTS, false, false, 0, KIND_GLOBAL);
    global_values = cell_of(global)->w2;
    refresh_global_slots();
    collector::moved_hook = refresh_global_slots;
    self_symbol = symbol::make("self");
}

}  // namespace context
}  // namespace zir
