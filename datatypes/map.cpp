// map!: see map.hpp.
#include "datatypes/map.hpp"

#include <optional>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/none.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"

namespace zir {
namespace map {

namespace {

using block::cell_at;
using collector::RootCell;

struct Words {
    i32 words, values, key;
};
Words words;

inline Cell* none_cell() { return const_cast<Cell*>(&none::value); }
inline i32 cells_of(const Cell* m) { return block::cell_count(node_buffer(m->w2)); }
// A pair is dead once its value cell's header is 0.
inline bool live_q(u32 node, i32 key_at) { return cell_at(node, key_at + 1)->header != 0; }
inline i32 sign(i64 d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }
inline i32 lookup_op(bool case_, bool same) {
    return same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
}

// The index of the key cell equal to `key` under `op`, live or dead, or -1;
// then `*miss` holds where the search ended and the key's hash.
i32 key_index(const Cell* map, const Cell* key, i32 op, hash_table::Walk* miss = nullptr) {
    const Cell k = *key;
    const Cell m = *map;
    hash_table::Walk walk;
    const Cell* c = hash_table::find_next(m.w3, &k, op, &walk);
    if (!c && miss) *miss = walk;
    return c ? i32(c - cell_at(m.w2, 0)) : -1;
}

// A stored key as the language hands it out: set-words as words.
inline Cell key_as_word(const Cell* stored) {
    Cell k = *stored;
    if (TYPE_OF(&k) == TYPE_SET_WORD) cell::set_type(&k, TYPE_WORD);
    return k;
}

// Appends a pair (key normalised already) and indexes its key into the
// bucket where its search ended. The map, key and value are held by the
// caller.
void append_pair(Cell* map, const Cell* key, const Cell* value, const hash_table::Walk& miss) {
    i32 at = cells_of(map);
    Cell k = *key, v = *value;
    *memory::alloc_tail(map) = k;
    Cell* vc = memory::alloc_tail(map);
    *vc = v;
    i32 status;
    Cell* stored = hash_table::put_absent(map->w3, cell_at(map->w2, at), miss, &status);
    if (status != hash_table::PUT_FOUND) return;
    // An equal key was there after all: it takes the value, the pair goes.
    i32 earlier = i32(stored - cell_at(map->w2, 0));
    if (!live_q(map->w2, earlier)) hash_table::record(map->w3)->count++;
    *cell_at(map->w2, earlier + 1) = v;
    node_buffer(map->w2)->tail -= 32;
}

// Sets a key: an absent one is added (a copy of the key, normalised), a dead
// pair comes back to life. Answers the value.
Cell* set_key(Cell* map, const Cell* key, Cell* value, const Cell* path, bool case_) {
    RootCell m(*map);
    hash_table::Walk miss;
    i32 at = key_index(m.get(), key, lookup_op(case_, false), &miss);
    if (at < 0) {
        RootCell k(*key);
        RootCell v(*value);
        // The copy normalize_key makes hashes as the key did: put_absent
        // takes the search's hash.
        normalize_key(k.get(), path);
        append_pair(m.get(), k.get(), v.get(), miss);
        return value;
    }
    Cell* slot = cell_at(m->w2, at + 1);
    if (slot->header == 0) hash_table::record(m->w3)->count++;
    *slot = *value;
    return value;
}

}  // namespace

// --- Keys ------------------------------------------------------------------

bool valid_key_type_q(u32 type) {
    switch (type) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT:
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        case TYPE_ISSUE: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_BINARY: case TYPE_TIME:
        case TYPE_TAG: case TYPE_EMAIL: case TYPE_DATE: case TYPE_MONEY: case TYPE_REF: case TYPE_POINT2D:
        case TYPE_POINT3D:
            return true;
        default:
            return false;
    }
}

void normalize_key(Cell* key, const Cell* path) {
    u32 t = TYPE_OF(key);
    if (!valid_key_type_q(t)) {
        Cell type;
        datatype::make_at(&type, t);
        fire(ERR_SCRIPT, "invalid-path", path ? path : &none::value, &type);
    }
    if (any_text_q(t) || t == TYPE_BINARY) {
        // A copy: changing the text given as a key must not change the map.
        Cell copy;
        series::copy(key, &copy, nullptr, false, nullptr);
        *key = copy;
    } else if (any_word_q(t)) {
        cell::set_type(key, TYPE_SET_WORD);
    }
    cell::clear_new_line(key);
}

// --- Routines --------------------------------------------------------------

Cell* make_at(Cell* c, u32 block, i32 size) {
    collector::RootNode cells(block ? block : memory::alloc_cells(i64(size < 1 ? 1 : size) * 2));
    u32 table = hash_table::init(size, cells, hash_table::MAP, 0);
    c->header = (c->header & FLAG_NEW_LINE) | TYPE_MAP;
    c->w1 = 0;
    c->w2 = cells;
    c->w3 = table;
    return c;
}

Cell* push(const Cell* map) { return stack::push(map); }

i32 key_count(const Cell* map) { return i32(hash_table::record(map->w3)->count); }

Cell* extend(Cell* map, const Cell* block, bool case_) {
    RootCell source(*block);
    i32 n = series::rest_length(source.get());
    if (n % 2 != 0) fire(ERR_SCRIPT, "invalid-arg", source.get());
    if (n == 0) return map;
    RootCell m(*map);
    // Room for every new pair at once.
    SeriesBuffer* s = node_buffer(m->w2);
    i64 need = i64(s->tail) + i64(n) * 16;
    if (need > i64(s->size)) memory::expand_series(s, need);
    i32 h = series::head_index(source.get());
    for (i32 i = 0; i < n && h + i + 1 < block::cell_count(node_buffer(source->w2)); i += 2) {
        RootCell key(*cell_at(source->w2, h + i));
        RootCell value(*cell_at(source->w2, h + i + 1));
        set_key(m.get(), key.get(), value.get(), nullptr, case_);
    }
    return map;
}

bool set_loop_words(const Cell* words_block, Cell* map, i32 count) {
    RootCell loop(*words_block);
    for (i32 i = 0; i < count; i++) {
        const Cell* w = cell_at(loop->w2, series::head_index(loop.get()) + i);
        u32 t = TYPE_OF(w);
        if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD)
            fire(ERR_SCRIPT, "invalid-arg", w);
    }
    bool any = false;
    // The cell the next word takes. When a word follows for its value, the
    // map's head moves past the whole pair before the key is set: a change
    // handler of the key's word that leaves by an exit (continue) must not
    // leave the walk between a key and its value, which would then pair a
    // value with the next key.
    i32 at = series::head_index(map);
    for (i32 i = 0; i < count; i++) {
        i32 n = cells_of(map);
        i32 h = at;
        // Dead pairs are passed over whole, from a key cell on.
        while (h % 2 == 0 && h + 1 < n && !live_q(map->w2, h)) h += 2;
        Cell word = word::loop_word(loop.get(), i);
        if (h >= n) {
            at = n;
            map->w1 = u32(n);
            context::set(&word, &none::value);
            continue;
        }
        // The change handler of the key's word may have removed the pair:
        // its value cell is dead (a header of 0, no value at all), and the
        // value's word takes none.
        Cell value = h % 2 == 0                           ? key_as_word(cell_at(map->w2, h))
                     : cell_at(map->w2, h)->header != 0 ? *cell_at(map->w2, h)
                                                        : none::value;
        cell::clear_new_line(&value);
        at = h + 1;
        map->w1 = u32(h % 2 == 0 && h + 1 < n && i + 1 < count ? h + 2 : h + 1);
        context::set(&word, &value);
        any = true;
    }
    return any;
}

// --- Actions ---------------------------------------------------------------

namespace {

Cell* build(Cell* spec, bool to) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    u32 st = TYPE_OF(spec);
    if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) {
        if (series::rest_length(spec) % 2 != 0) fire(ERR_SCRIPT, "invalid-arg", spec);
        Cell plain = *spec;
        cell::set_type(&plain, TYPE_BLOCK);
        plain.w3 = 0;
        collector::RootNode cells(block::clone(&plain, false, false)->w2);
        stack::pop(1);
        i32 n = block::cell_count(node_buffer(cells));
        for (i32 i = 0; i < n; i++) {
            if (i % 2 == 0) {
                RootCell key(*cell_at(cells, i));
                normalize_key(key.get(), nullptr);
                *cell_at(cells, i) = key.value;
            } else {
                cell::clear_new_line(cell_at(cells, i));
            }
        }
        return make_at(out, cells, n);
    }
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        if (!to) {
            i32 n = float_::to_integer_checked(spec);
            if (n < 0) fire(ERR_SCRIPT, "out-of-range", spec);
            return make_at(out, 0, n);
        }
    } else if (st == TYPE_MAP) {
        return copy(spec, out, nullptr, false, nullptr);
    }
    Cell target;
    datatype::make_at(&target, TYPE_MAP);
    fire(ERR_SCRIPT, "bad-to-arg", &target, spec);
}

// Writes the spaces of an indentation level; answers the part left.
i32 indent_by(Cell* buffer, i32 level, i32 part) {
    for (i32 i = 0; i < level; i++) string::append_literal(buffer, "    ");
    return part - 4 * level;
}

// The live pairs of a map, molded, laid out as mold wants them.
i32 mold_pairs(const Cell* map, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part,
               i32 indent, bool* wrote) {
    *wrote = false;
    if (key_count(map) == 0) return part;
    u32 node = map->w2;
    cycles::Guard guard(node);
    bool lines = !flat && !only;
    if (lines) {
        string::append_char(buffer, '\n');
        part--;
    }
    for (i32 i = 0; i + 1 < block::cell_count(node_buffer(node)); i += 2) {
        if (arg && part < 1) break;
        if (!live_q(node, i)) continue;
        if (lines) {
            part = indent_by(buffer, indent + 1, part);
        } else if (*wrote) {
            string::append_char(buffer, flat ? ' ' : '\n');
            part--;
        }
        Cell key = *cell_at(node, i);
        part = actions::mold(&key, buffer, false, all, flat, arg, part, indent + 1);
        string::append_char(buffer, ' ');
        part--;
        Cell value = *cell_at(node, i + 1);
        part = actions::mold(&value, buffer, false, all, flat, arg, part, indent + 1);
        if (lines) {
            string::append_char(buffer, '\n');
            part--;
        }
        *wrote = true;
    }
    return part;
}

}  // namespace

Cell* make(Cell*, Cell* spec, u32) { return build(spec, false); }

Cell* reflect(Cell* map, i32 field) {
    i32 f = symbol::resolve(field);
    enum { WORDS, VALUES, BODY } what;
    if (f == symbol::resolve(words.words)) what = WORDS;
    else if (f == symbol::resolve(words.values)) what = VALUES;
    else if (f == symbol::resolve(series::words.body)) what = BODY;
    else fire(ERR_INTERNAL, "not-done");
    RootCell m(*map);
    RootCell out;
    block::make_at(out.get(), key_count(m.get()) * (what == BODY ? 2 : 1));
    for (i32 i = 0; i + 1 < cells_of(m.get()); i += 2) {
        if (!live_q(m->w2, i)) continue;
        Cell key = *cell_at(m->w2, i), value = *cell_at(m->w2, i + 1);
        cell::clear_new_line(&value);
        switch (what) {
            case WORDS:
                key = key_as_word(&key);
                cell::clear_new_line(&key);
                *memory::alloc_tail(out.get()) = key;
                break;
            case VALUES:
                *memory::alloc_tail(out.get()) = value;
                break;
            case BODY:
                // One pair per line when the block is molded.
                key.header |= FLAG_NEW_LINE;
                *memory::alloc_tail(out.get()) = key;
                *memory::alloc_tail(out.get()) = value;
                break;
        }
    }
    *map = out.value;
    return map;
}

Cell* to(Cell*, Cell* spec, u32) { return build(spec, true); }

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    u32 node = value->w2;
    if (cycles::find_q(node)) {
        string::append_literal(buffer, "...");
        return part - 3;
    }
    cycles::Guard guard(node);
    bool first = true;
    for (i32 i = 0; i + 1 < block::cell_count(node_buffer(node)); i += 2) {
        if (arg && part < 1) break;
        if (!live_q(node, i)) continue;
        if (!first) {
            string::append_char(buffer, '\n');
            part--;
        }
        Cell key = *cell_at(node, i);
        part = actions::mold(&key, buffer, false, false, false, arg, part, 0);
        string::append_char(buffer, ' ');
        part--;
        Cell item = *cell_at(node, i + 1);
        part = actions::mold(&item, buffer, false, false, false, arg, part, 0);
        first = false;
    }
    return part;
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    const Cell map = *value;
    if (cycles::find_q(map.w2)) {
        string::append_literal(buffer, "#[...]");
        return part - 6;
    }
    if (!only) {
        string::append_literal(buffer, "#[");
        part -= 2;
    }
    bool wrote;
    part = mold_pairs(&map, buffer, only, all, flat, arg, part, indent, &wrote);
    if (!only) {
        if (wrote && indent >= 1 && !flat) part = indent_by(buffer, indent, part);
        string::append_char(buffer, ']');
        part--;
    }
    return part;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool case_, bool get,
                bool, bool) {
    if (!get && value) return set_key(parent, element, value, path, case_);
    i32 at = key_index(parent, element, lookup_op(case_, false));
    if (at < 0 || !live_q(parent->w2, at)) return none_cell();
    return cell_at(parent->w2, at + 1);
}

namespace {

i32 compare_pairs(const Cell* a, const Cell* b, i32 op) {
    for (i32 i = 0; i + 1 < cells_of(a); i += 2) {
        if (!live_q(a->w2, i)) continue;
        const Cell key = *cell_at(a->w2, i);
        if (op == COMP_STRICT_EQUAL) {
            i32 j = key_index(b, &key, COMP_STRICT_EQUAL);
            if (j < 0 || !live_q(b->w2, j)) return 1;
            const Cell x = *cell_at(a->w2, i + 1), y = *cell_at(b->w2, j + 1);
            i32 r = actions::compare_typed(&x, &y, COMP_STRICT_EQUAL);
            if (r != 0) return r == NOT_COMPARABLE ? 1 : r;
            continue;
        }
        // Keys equal without case may be several: one of them must hold an
        // equal value.
        bool matched = false;
        hash_table::Walk walk;
        while (!matched) {
            const Cell* found = hash_table::find_next(b->w3, &key, COMP_EQUAL, &walk);
            if (!found) break;
            i32 j = i32(found - cell_at(b->w2, 0));
            if (!live_q(b->w2, j)) continue;
            const Cell x = *cell_at(a->w2, i + 1), y = *cell_at(b->w2, j + 1);
            matched = actions::compare(&x, &y, COMP_EQUAL);
        }
        if (!matched) return 1;
    }
    return 0;
}

}  // namespace

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_MAP) return NOT_COMPARABLE;
    // The cells may lie in a buffer that comparing values moves.
    const Cell a = *value, b = *other;
    // An order that is stable but means nothing: the blocks' identities.
    if (sort_op_q(op)) return sign(i64(a.w2) - i64(b.w2));
    if (!equality_op_q(op)) return NOT_COMPARABLE;
    if (a.w2 == b.w2 && a.w1 == b.w1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(a.w2)) return cycles::find_q(b.w2) ? 0 : -1;
    if (key_count(&a) != key_count(&b)) return 1;
    if (key_count(&a) == 0) return 0;
    cycles::Guard guard_a(a.w2);
    cycles::Guard guard_b(b.w2);
    return compare_pairs(&a, &b, op);
}

Cell* clear(Cell* map) {
    hash_table::clear(map->w3);
    return map;
}

Cell* copy(Cell* map, Cell* result, Cell*, bool deep, Cell* types) {
    RootCell m(*map);
    RootCell filter(types ? *types : none::value);
    Cell whole = m.value;
    cell::set_type(&whole, TYPE_BLOCK);
    whole.w1 = 0;
    whole.w3 = 0;
    // Nested block values are copied with the pairs.
    collector::RootNode cells(block::clone(&whole, true, true)->w2);
    stack::pop(1);
    std::optional<cycles::Guard> guard;
    if (deep && types) {
        if (cycles::find_q(m->w2)) fire(ERR_INTERNAL, "no-cycle");
        guard.emplace(m->w2);
    }
    collector::RootNode table(hash_table::copy(m->w3, cells));
    if (types) block::copy_types(cells, 1, block::cell_count(node_buffer(cells)), 2, deep, filter.get());
    result->header = TYPE_MAP;
    result->w1 = 0;
    result->w2 = cells;
    result->w3 = table;
    return result;
}

Cell* find(Cell* map, Cell* key, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool, bool, bool) {
    i32 at = key_index(map, key, lookup_op(case_, same));
    if (at < 0 || !live_q(map->w2, at)) return none_cell();
    *map = key_as_word(cell_at(map->w2, at));
    return map;
}

i32 length_q(const Cell* map) { return key_count(map); }

Cell* put(Cell* map, Cell* key, Cell* value, bool case_) { return set_key(map, key, value, nullptr, case_); }

Cell* remove(Cell* map, Cell*, Cell* key) {
    if (!key) {
        Cell caller, name;
        stack::caller_name(&caller);
        series::make_word(&name, words.key);
        fire(ERR_SCRIPT, "missing-arg", &caller, &name);
    }
    i32 at = key_index(map, key, COMP_STRICT_EQUAL);
    if (at >= 0 && live_q(map->w2, at)) hash_table::delete_(map->w3, cell_at(map->w2, at));
    return map;
}

Cell* select(Cell* map, Cell* key, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool) {
    i32 at = key_index(map, key, lookup_op(case_, same));
    if (at < 0 || !live_q(map->w2, at)) return none_cell();
    *map = *cell_at(map->w2, at + 1);
    return map;
}

// --- Registration ------------------------------------------------------------

void init_state() { words = Words{symbol::make("words"), symbol::make("values"), symbol::make("key")}; }

void init() {
    datatype::Registration r(TYPE_MAP, 0, "map!");
    r.on<ACT_MAKE>(make).on<ACT_REFLECT>(reflect).on<ACT_TO>(to).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_EVAL_PATH>(eval_path).on<ACT_COMPARE>(compare).on<ACT_CLEAR>(clear).on<ACT_COPY>(copy);
    r.on<ACT_FIND>(find).on<ACT_LENGTH_Q>(length_q).on<ACT_PUT>(put).on<ACT_REMOVE>(remove);
    r.on<ACT_SELECT>(select);
    datatype::register_(r);
}

}  // namespace map
}  // namespace zir
