// series!: see series.hpp.
#include "datatypes/series.hpp"

#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/image.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/ownership.hpp"
#include "services/random.hpp"

namespace zir {
namespace series {

Words words;

namespace {

// hash! keeps a hash table of kind 0 over every cell in payload word 3.
void hash_drop(const Cell* series, i32 from, i32 to) {
    if (series->w3) hash_table::delete_range(series->w3, from, to - from);
}

void hash_put(const Cell* series, i32 from, i32 to) {
    u32 table = series->w3, node = series->w2;
    if (!table) return;
    for (i32 i = from; i < to; i++) {
        i32 status;
        hash_table::put_value(table, head_cells(node_buffer(node)) + i, &status);
        if (status == hash_table::PUT_REBUILT) return;   // the whole block is indexed
    }
}

void hash_init(Cell* series) {
    series->w3 = hash_table::init(abs_length(buffer_of(series)), series->w2, hash_table::HASH, 0);
}

}  // namespace

IndexHooks index_hooks = {hash_drop, hash_put, hash_init};
void (*vector_read)(const Cell*, const u8*, Cell*) = nullptr;
void (*vector_write)(const Cell*, u8*, const Cell*) = nullptr;

namespace {

// One element taken without /part is answered in this buffer, reused by every
// such take: 16 bytes hold one element of any width. A collector root.
u32 take_buffer = 0;

void mark_take_buffer() {
    if (!take_buffer) return;
    if (unit_of(node_buffer(take_buffer)) == 16) collector::mark_block(take_buffer);
    else collector::keep(take_buffer);
}

inline Cell* none_cell() { return const_cast<Cell*>(&none::value); }

// A pick or poke index (1-based, negatives back from the head) as an absolute
// element index; -1 for 0.
inline i64 target_index(const Cell* series, i32 n) {
    if (n == 0) return -1;
    return n > 0 ? i64(head_index(series)) + n - 1 : i64(head_index(series)) + n;
}

inline void move_elements(SeriesBuffer* s, i64 to, i64 from, i64 n) {
    if (n > 0) std::memmove(element_at(s, to), element_at(s, from), size_t(n << shift_of(s)));
}

// Makes room for n more elements at the tail, growing the buffer to `grow`
// elements' worth of bytes (at least what is needed). Answers the buffer.
SeriesBuffer* ensure_room(u32 node, i64 n, i64 grow) {
    SeriesBuffer* s = node_buffer(node);
    i64 need = i64(s->tail) + (n << shift_of(s));
    if (need <= i64(s->size)) return s;
    i64 used = i64(used_bytes(s)) + (n << shift_of(s));
    i64 bytes = grow << shift_of(s);
    if (bytes < used) bytes = used;
    if (bytes > MAX_LENGTH - 15) bytes = used;
    return memory::expand_series(s, bytes);
}

[[noreturn]] void fire_expect_arg(u32 type, i32 argument_word) {
    Cell caller, datatype, argument;
    stack::caller_name(&caller);
    datatype::make_at(&datatype, type);
    make_word(&argument, argument_word);
    fire(ERR_SCRIPT, "expect-arg", &caller, &datatype, &argument);
}

// A /part argument that counts elements: an integer!, or a position in the
// same series (its head minus the series' head).
i64 part_count(const Cell* series, const Cell* part) {
    if (TYPE_OF(part) == TYPE_INTEGER) return integer::get(part);
    if (!same_series_q(series, part)) fire_refine_arg(words.part, part);
    return i64(head_index(part)) - head_index(series);
}

}  // namespace

// --- Shared routines ---------------------------------------------------------

bool zs_tail_q(const Cell* series) {
    SeriesBuffer* s = buffer_of(series);
    return i64(s->offset) + (i64(head_index(series)) << shift_of(s)) >= i64(s->tail);
}

i32 zs_abs_length_q(const Cell* series) { return abs_length(buffer_of(series)); }

bool zs_skip(Cell* series, i32 n) {
    i32 abs = abs_length(buffer_of(series));
    i64 to = i64(head_index(series)) + n;
    if (to >= 0 && to <= abs) series->w1 = u32(to);
    return to >= abs;
}

i32 get_length(Cell* series, bool from_start) {
    i32 abs = abs_length(buffer_of(series));
    if (head_index(series) > abs) {
        series->w1 = u32(abs);
        return 0;
    }
    return from_start ? abs : abs - head_index(series);
}

// --- Services to the datatypes -------------------------------------------------

bool notify(const Cell* series, i32 word, const Cell* value, i32 index, i32 part) {
    if (!(buffer_of(series)->flags & SERIES_OWNED)) return false;
    return ownership::check(series, word, value ? value : &none::value, index, part);
}

Span fit(const Cell* series, i64 at, i64 n) {
    i64 abs = abs_length(buffer_of(series));
    if (at < 0) at = 0;
    if (at > abs) at = abs;
    if (n > abs - at) n = abs - at;
    if (n < 0) n = 0;
    return {i32(at), i32(n)};
}

void make_word(Cell* out, i32 symbol, u32 type) {
    cell::init(out, type);
    out->w2 = u32(symbol);
    out->w3 = u32(-1);
}

void fire_refine_arg(i32 word, const Cell* arg, bool as_refinement) {
    Cell name;
    make_word(&name, word, as_refinement ? TYPE_REFINEMENT : TYPE_WORD);
    fire(ERR_SCRIPT, "invalid-refine-arg", &name, arg);
}

const Cell* element_value(const Cell* series, i32 index, Cell* out) {
    u32 t = TYPE_OF(series);
    SeriesBuffer* s = buffer_of(series);
    const u8* p = element_at(s, index);
    if (any_block_q(t) || t == TYPE_MAP) return reinterpret_cast<const Cell*>(p);
    if (t == TYPE_VECTOR) {
        if (!vector_read) ZIR_FAULT(runtime::FAULT_NO_CASE);
        vector_read(series, p, out);
        return out;
    }
    if (t == TYPE_BINARY) {
        cell::init(out, TYPE_INTEGER);
        out->w2 = *p;
        return out;
    }
    cell::init(out, TYPE_CHAR);
    out->w2 = string::get_char(p, unit_of(s));
    return out;
}

void element_store(Cell* series, i32 index, const Cell* value) {
    u32 t = TYPE_OF(series);
    if (any_block_q(t)) {
        Cell copy = *value;
        index_drop(series, index, index + 1);
        *reinterpret_cast<Cell*>(element_at(buffer_of(series), index)) = copy;
        index_put(series, index, index + 1);
        return;
    }
    if (t == TYPE_VECTOR) {
        if (!vector_write) ZIR_FAULT(runtime::FAULT_NO_CASE);
        vector_write(series, element_at(buffer_of(series), index), value);
        return;
    }
    if (t == TYPE_BINARY) {
        binary::set_byte(element_at(buffer_of(series), index), value);
        return;
    }
    u32 vt = TYPE_OF(value);
    if (vt != TYPE_CHAR) fire(ERR_SCRIPT, "invalid-arg", value);
    string::poke_char(series, index, value->w2);
}

bool insert_counts(Cell* value, Cell* part, Cell* dup) {
    if (part) {
        u32 t = TYPE_OF(value);
        if (!any_series_q(t) && t != TYPE_MAP) fire(ERR_SCRIPT, "invalid-part", part);
        // An image's pixels live in its backend record, not in a series
        // buffer (an empty image has no record at all).
        const i32 abs = t == TYPE_IMAGE ? i32(image::count_of(value)) : abs_length(buffer_of(value));
        clamp_head(value, abs);
        i64 n;
        if (TYPE_OF(part) == TYPE_INTEGER) {
            n = integer::get(part);
        } else {
            if (!same_series_q(value, part) || t == TYPE_PORT) fire_refine_arg(words.part, part, true);
            n = i64(head_index(part) > abs ? abs : head_index(part)) - head_index(value);
        }
        if (n == 0 || (n < 1 && head_index(value) == 0)) return false;
        if (n < 0) {
            i64 back = -n < head_index(value) ? -n : head_index(value);
            value->w1 = u32(head_index(value) - back);
            n = back;
        }
        cell::init(part, TYPE_INTEGER);
        part->w2 = u32(n);
    }
    return !dup || integer::get(dup) >= 1;
}

bool change_counts(Cell* series, Cell* part, Cell* dup) {
    if (part) {
        u32 t = TYPE_OF(series);
        bool whole = t == TYPE_PORT || t == TYPE_IMAGE;   // counted by their own actions, never clamped
        i32 abs = whole ? 0 : abs_length(buffer_of(series));
        if (!whole) clamp_head(series, abs);
        // A count beyond the tail is left to the action, which replaces what
        // is there and adds the rest: at the tail that is an append. A
        // position past the tail ends the range at the tail.
        i64 n;
        if (TYPE_OF(part) == TYPE_INTEGER) {
            n = integer::get(part);
        } else {
            if (whole || !same_series_q(series, part)) fire_refine_arg(words.part, part, true);
            n = i64(head_index(part) > abs ? abs : head_index(part)) - head_index(series);
        }
        if (n == 0) return false;
        if (n < 0) {
            i64 back = -n < head_index(series) ? -n : head_index(series);
            series->w1 = u32(head_index(series) - back);
            n = back;
            if (n == 0) return false;
        }
        cell::init(part, TYPE_INTEGER);
        part->w2 = u32(n);
    }
    return !dup || integer::get(dup) >= 1;
}

void init_state() {
    take_buffer = 0;
    static bool registered = false;
    if (!registered) {
        collector::register_(mark_take_buffer);
        registered = true;
    }
    auto w = [](const char* s) { return symbol::make(s); };
    words = Words{w("append"), w("appended"), w("insert"), w("inserted"), w("change"), w("changed"),
                  w("clear"), w("cleared"), w("poke"), w("poked"), w("put"), w("put-ed"), w("remove"),
                  w("removed"), w("reverse"), w("reversed"), w("random"), w("randomized"), w("sort"),
                  w("sorted"), w("swap"), w("swaped"), w("take"), w("taken"), w("trim"), w("trimmed"),
                  w("move"), w("moved"), w("part"), w("skip"), w("owned"), w("body"),
                  w("target"), w("compare")};
}

// --- Actions -----------------------------------------------------------------

Cell* random(Cell* series, bool seed, bool secure, bool only) {
    SeriesBuffer* s = buffer_of(series);
    i32 abs = abs_length(s);
    i32 h = head_index(series) < abs ? head_index(series) : abs;
    if (seed) {
        u32 hash = hash_table::murmur3(element_at(s, h), size_t(i64(abs - h) << shift_of(s)));
        zir::random::seed(i32(hash));
        cell::init(series, TYPE_UNSET);
        return series;
    }
    i32 len = abs - h;
    if (only) {
        if (len < 1) {
            cell::init(series, TYPE_NONE);
            return series;
        }
        i32 at = h + zir::random::int_(secure, len) - 1;
        Cell scalar;
        *series = *element_value(series, at, &scalar);
        return series;
    }
    if (len < 1) return series;
    bool owned = notify(series, words.random, nullptr, h, len);
    Span span = fit(series, h, TO_TAIL);
    index_drop(series, span.at, span.at + span.n);
    u32 width = unit_of(buffer_of(series));
    u8 temp[16];
    for (i32 p = span.at, left = span.n; left > 0; p++, left--) {
        i32 other = p + zir::random::int_(secure, left) - 1;
        if (other == p) continue;
        s = buffer_of(series);
        std::memcpy(temp, element_at(s, p), width);
        std::memcpy(element_at(s, p), element_at(s, other), width);
        std::memcpy(element_at(s, other), temp, width);
    }
    index_put(series, span.at, span.at + span.n);
    if (owned) notify(series, words.randomized, nullptr, span.at, span.n);
    return series;
}

Cell* reflect(Cell* series, i32 field) {
    if (symbol::resolve(field) != symbol::resolve(words.owned)) fire(ERR_INTERNAL, "not-done");
    Cell* entry = ownership::find(series->w2);
    if (!entry) {
        cell::init(series, TYPE_NONE);
        return series;
    }
    // The answer pairs the owner with its field, the form `modify` takes back.
    Cell owner = entry[1], word = entry[2];
    u32 node = memory::alloc_cells(2);
    Cell* c = series::head_cells(node_buffer(node));
    c[0] = owner;
    c[1] = word;
    node_buffer(node)->tail += 32;
    cell::init(series, TYPE_BLOCK);
    series->w2 = node;
    return series;
}

Cell* clear(Cell* series) {
    i32 n = get_length(series, false);
    if (n < 1) return series;
    i32 h = head_index(series);
    bool owned = notify(series, words.clear, nullptr, h, n);
    Span span = fit(series, h, TO_TAIL);
    if (span.n > 0) {
        index_drop(series, span.at, span.at + span.n);
        SeriesBuffer* s = buffer_of(series);
        s->tail = s->offset + u32(i64(span.at) << shift_of(s));
    }
    if (owned) notify(series, words.cleared, nullptr, span.at, span.n);
    return series;
}

Cell* copy(Cell* series, Cell* result, Cell* part, bool, Cell*) {
    SeriesBuffer* s = buffer_of(series);
    i64 abs = abs_length(s);
    i64 h = head_index(series);
    i64 start = h;
    i64 count = abs - h > 0 ? abs - h : 0;
    if (part) {
        if (TYPE_OF(part) == TYPE_PAIR) {
            i64 x = i32(part->w2), y = i32(part->w3);
            start = x < 0 ? h + x : h + x - 1;
            if (start < 0) start = 0;
            count = y < x ? 0 : y - x;
        } else {
            count = part_count(series, part);
        }
    }
    if (count < 0) {
        start += count;
        count = -count;
        if (start < 0) {
            start = 0;
            count = h;
        }
    }
    if (start > abs) {
        count = 0;
        start = abs;
    }
    if (start + count > abs) count = abs - start;
    u32 type = TYPE_OF(series);
    u32 new_line = series->header & FLAG_NEW_LINE;
    u32 extra = type == TYPE_VECTOR ? series->w3 : 0;
    u32 node = memory::copy_series_part(s, start, count);
    result->header = type | new_line;
    result->w1 = 0;
    result->w2 = node;
    result->w3 = extra;
    return result;
}

i32 length_q(const Cell* series) {
    // A head left past the tail is moved to the tail, as every reader of the
    // length does.
    return get_length(const_cast<Cell*>(series), false);
}

Cell* pick(Cell* series, i32 index, Cell*) {
    i64 t = target_index(series, index);
    if (t < 0 || t >= abs_length(buffer_of(series))) return none_cell();
    u32 type = TYPE_OF(series);
    if (any_block_q(type) || type == TYPE_MAP) return const_cast<Cell*>(element_value(series, i32(t), nullptr));
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    element_value(series, i32(t), out);
    return out;
}

Cell* poke(Cell* series, i32 index, Cell* value, Cell*) {
    i64 t = target_index(series, index);
    if (t < 0 || t >= abs_length(buffer_of(series))) {
        Cell n;
        cell::init(&n, TYPE_INTEGER);
        n.w2 = u32(index);
        fire(ERR_SCRIPT, "out-of-range", &n);
    }
    // A value that cannot be a byte is refused before the owner hears of a change.
    if (TYPE_OF(series) == TYPE_BINARY) binary::byte_of(value);
    bool owned = notify(series, words.poke, value, i32(t), 1);
    if (fit(series, t, 1).n < 1) {
        // The handler cut the series short of the element.
        Cell n;
        cell::init(&n, TYPE_INTEGER);
        n.w2 = u32(index);
        fire(ERR_SCRIPT, "out-of-range", &n);
    }
    element_store(series, i32(t), value);
    if (owned) notify(series, words.poked, value, i32(t), 1);
    return value;
}

Cell* remove(Cell* series, Cell* part, Cell* key) {
    i64 n = part ? part_count(series, part) : 1;
    if (n < 1) return series;
    if (key) {
        Cell* found = actions::find(series, key, nullptr, false, false, false, false, nullptr, nullptr, false,
                                    false, false, false);
        if (TYPE_OF(found) == TYPE_NONE) {
            cell::init(series, TYPE_NONE);
            return series;
        }
        if (found != series) *series = *found;
        n++;
    }
    Span span = fit(series, head_index(series), n);
    if (span.n < 1) return series;
    bool owned = notify(series, words.remove, nullptr, span.at, span.n);
    span = fit(series, head_index(series), n);
    if (span.n > 0) {
        i32 abs = abs_length(buffer_of(series));
        index_drop(series, span.at, abs);
        SeriesBuffer* s = buffer_of(series);
        move_elements(s, span.at, span.at + span.n, abs - span.at - span.n);
        s->tail -= u32(i64(span.n) << shift_of(s));
        index_put(series, span.at, abs - span.n);
    }
    if (owned) notify(series, words.removed, nullptr, span.at, span.n);
    return series;
}

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    if (zs_tail_q(series)) return series;
    i64 len = rest_length(series);
    i64 wanted = part ? part_count(series, part) : TO_TAIL;
    i64 c = wanted;
    if (c < 1) return series;
    if (c > len) c = len;
    i64 k = 1;
    if (skip) {
        if (TYPE_OF(skip) != TYPE_INTEGER) fire_refine_arg(words.skip, skip);
        k = integer::get(skip);
        if (k == c) return series;
        if (k < 1) fire(ERR_SCRIPT, "out-of-range", skip);
        if (k > c || c % k != 0) fire_refine_arg(words.skip, skip);
    }
    i32 h = head_index(series);
    bool owned = notify(series, words.reverse, nullptr, h, i32(c));
    // Whole records only.
    Span span = fit(series, h, wanted);
    span.n -= i32(span.n % k);
    index_drop(series, span.at, span.at + span.n);
    SeriesBuffer* s = buffer_of(series);
    u32 shift = shift_of(s);
    size_t record = size_t(k << shift);
    std::vector<u8> temp(record);
    for (i64 a = span.at, b = i64(span.at) + span.n - k; a < b; a += k, b -= k) {
        u8* pa = element_at(s, a);
        u8* pb = element_at(s, b);
        std::memcpy(temp.data(), pa, record);
        std::memcpy(pa, pb, record);
        std::memcpy(pb, temp.data(), record);
    }
    index_put(series, span.at, span.at + span.n);
    if (owned) notify(series, words.reversed, nullptr, span.at, span.n);
    return series;
}

namespace {

// The elements a take of `n` takes: from the head, before it when n is
// negative (nothing then under /last), or with `last` from the tail.
Span take_span(const Cell* series, i64 n, bool last) {
    i32 abs = abs_length(buffer_of(series));
    i32 h = head_index(series) < abs ? head_index(series) : abs;
    if (n == 0 || (n < 0 && last)) return {h, 0};
    if (n < 0) {
        i32 c = -n < h ? i32(-n) : h;
        return {h - c, c};
    }
    i32 c = n < abs - h ? i32(n) : abs - h;
    return {last ? abs - c : h, c};
}

}  // namespace

Cell* take(Cell* series, Cell* part, bool, bool last) {
    i32 len = get_length(series, false);
    if (len < 1) return none_cell();
    i32 h = head_index(series);
    i32 abs = abs_length(buffer_of(series));
    i64 n = 1;
    if (part) {
        if (TYPE_OF(part) == TYPE_INTEGER) {
            n = integer::get(part);
        } else {
            if (!same_series_q(series, part)) fire_refine_arg(words.part, part);
            i64 p = head_index(part) > abs ? abs : head_index(part);
            n = p < h ? 0 : last ? abs - p : p - h;
        }
    }
    u32 type = TYPE_OF(series);
    u32 extra = type == TYPE_VECTOR ? series->w3 : 0;
    Span span = take_span(series, n, last);
    bool owned = span.n > 0 && notify(series, words.take, nullptr, span.at, span.n);
    span = take_span(series, n, last);
    if (!part && span.n == 0) {
        // The handler left nothing to take.
        if (owned) notify(series, words.taken, nullptr, span.at, 0);
        return none_cell();
    }
    u32 unit = unit_of(buffer_of(series));
    // Held until the series cell takes it: re-indexing a hash! and the owner's
    // report after the cut may both allocate. A take reported to an owner gets
    // a buffer of its own: the handler may take too, and reuse the shared one.
    collector::RootNode node;
    if (part || owned) {
        node.node = memory::alloc_series(part ? span.n : 1, unit, 0);
    } else {
        if (!take_buffer) take_buffer = memory::alloc_series(16, 1, 0);
        node.node = take_buffer;
        SeriesBuffer* t = node_buffer(node);
        t->flags = (t->flags & ~SERIES_UNIT_MASK) | unit;
        t->offset = t->tail = 0;
    }
    SeriesBuffer* s = buffer_of(series);
    SeriesBuffer* out = node_buffer(node);
    u32 shift = shift_of(s);
    std::memcpy(series::head(out), element_at(s, span.at), size_t(i64(span.n) << shift));
    out->tail = out->offset + u32(i64(span.n) << shift);
    if (span.n > 0) {
        abs = abs_length(s);
        index_drop(series, span.at, abs);
        s = buffer_of(series);
        move_elements(s, span.at, span.at + span.n, abs - span.at - span.n);
        s->tail -= u32(i64(span.n) << shift);
        index_put(series, span.at, abs - span.n);
    }
    if (owned) notify(series, words.taken, nullptr, span.at, span.n);
    bool hash = indexed_q(series);
    cell::init(series, type);
    series->w2 = node;
    series->w3 = extra;
    if (hash && part) index_hooks.init(series);
    return series;
}

namespace {

[[noreturn]] void fire_move_bad(u32 origin_type, u32 target_type) {
    Cell a, b;
    datatype::make_at(&a, origin_type);
    datatype::make_at(&b, target_type);
    fire(ERR_SCRIPT, "move-bad", &a, &b);
}

// Whether a vector's stored elements keep their meaning in `other`: another
// vector of the same element type, a text for characters, a binary! for
// integers (at one width, which the caller checks). Any other pair would
// read the bytes as other numbers, or as code points no character has.
bool vector_kin_q(const Cell* vector, const Cell* other) {
    u32 element = vector->w3, t = TYPE_OF(other);
    if (t == TYPE_VECTOR) return other->w3 == element;
    if (any_text_q(t)) return element == TYPE_CHAR;
    return t == TYPE_BINARY && element == TYPE_INTEGER;
}

// Elements can go from one buffer to the other: as they are at one width,
// else as code points between texts.
void check_move_units(const Cell* origin, const Cell* target) {
    u32 ot = TYPE_OF(origin), tt = TYPE_OF(target);
    if (unit_of(buffer_of(origin)) != unit_of(buffer_of(target)) && !(any_text_q(ot) && any_text_q(tt)))
        fire_move_bad(ot, tt);
    if ((ot == TYPE_VECTOR && !vector_kin_q(origin, target)) || (tt == TYPE_VECTOR && !vector_kin_q(target, origin)))
        fire_move_bad(ot, tt);
}

// A move within one buffer: the stretch [from, from + n) ends up starting at
// `dest`. `what` is MOVE when it moves, else which series to answer.
struct InPlaceMove {
    enum { MOVE, ANSWER_TARGET, ANSWER_ORIGIN } what;
    i32 from, n, dest;
};

InPlaceMove plan_in_place(const Cell* origin, const Cell* target, i64 wanted) {
    Span span = fit(origin, head_index(origin), wanted);
    i32 from = span.at, n = span.n;
    i32 abs = abs_length(buffer_of(origin));
    i32 to = head_index(target) > abs ? abs : head_index(target);
    if (n < 1 || to == from) return {InPlaceMove::ANSWER_TARGET, from, 0, from};
    // The stretch ends up starting at the target's index (at the end when the
    // target is the tail); one that cannot fit there is left alone.
    if (to > from && to < abs && abs - to < n) return {InPlaceMove::ANSWER_ORIGIN, from, 0, from};
    i32 dest = to == abs ? abs - n : to;
    if (dest == from) return {InPlaceMove::ANSWER_TARGET, from, 0, from};
    return {InPlaceMove::MOVE, from, n, dest};
}

}  // namespace

Cell* move(Cell* origin, Cell* target, Cell* part) {
    u32 tt = TYPE_OF(target), ot = TYPE_OF(origin);
    if (!any_series_q(tt)) fire_expect_arg(tt, words.target);
    if (zs_tail_q(origin)) return target;
    i64 wanted = 1;
    if (part) {
        if (TYPE_OF(part) != TYPE_INTEGER) fire_refine_arg(words.part, part);
        wanted = integer::get(part);
        if (wanted < 1) return target;
    }
    // An image's pixels are no elements of a series buffer: nothing moves
    // into them (and an image has no move of its own to be the origin).
    if (tt == TYPE_IMAGE) fire_move_bad(ot, tt);

    if (origin->w2 != target->w2) {
        if (any_block_q(ot) != any_block_q(tt)) fire_move_bad(ot, tt);
        check_move_units(origin, target);
        Span span = fit(origin, head_index(origin), wanted);
        i32 tabs = abs_length(buffer_of(target));
        i32 to = head_index(target) > tabs ? tabs : head_index(target);
        bool owned_origin = notify(origin, words.move, nullptr, span.at, span.n);
        bool owned_target = notify(target, words.move, nullptr, to, span.n);
        // Derived again after the reports: a text may even have widened.
        span = fit(origin, head_index(origin), wanted);
        i32 from = span.at, n = span.n;
        tabs = abs_length(buffer_of(target));
        to = head_index(target) > tabs ? tabs : head_index(target);
        check_move_units(origin, target);
        if (n > 0) {
            index_drop(target, to, tabs);
            u32 ounit = unit_of(buffer_of(origin));
            if (ounit == unit_of(buffer_of(target))) {
                SeriesBuffer* t = ensure_room(target->w2, n, 2 * (i64(tabs) + n));
                SeriesBuffer* o = buffer_of(origin);
                move_elements(t, to + n, to, tabs - to);
                std::memcpy(element_at(t, to), element_at(o, from), size_t(i64(n) << shift_of(o)));
                t->tail += u32(i64(n) << shift_of(t));
            } else {
                std::vector<u32> cps(static_cast<size_t>(n));
                SeriesBuffer* o = buffer_of(origin);
                for (i32 i = 0; i < n; i++) cps[size_t(i)] = string::get_char(element_at(o, from + i), ounit);
                string::insert_codepoints(target, to, cps.data(), n);
            }
            index_put(target, to, tabs + n);
            i32 oabs = abs_length(buffer_of(origin));
            index_drop(origin, from, oabs);
            SeriesBuffer* o = buffer_of(origin);
            move_elements(o, from, from + n, oabs - from - n);
            o->tail -= u32(i64(n) << shift_of(o));
            index_put(origin, from, oabs - n);
        }
        if (owned_origin) notify(origin, words.moved, nullptr, from, n);
        if (owned_target) notify(target, words.moved, nullptr, to, n);
        return target;
    }

    InPlaceMove plan = plan_in_place(origin, target, wanted);
    if (plan.what != InPlaceMove::MOVE) return plan.what == InPlaceMove::ANSWER_ORIGIN ? origin : target;
    bool owned = notify(origin, words.move, nullptr, plan.from, plan.n);
    plan = plan_in_place(origin, target, wanted);
    if (plan.what == InPlaceMove::MOVE) {
        i32 from = plan.from, n = plan.n, dest = plan.dest;
        i32 lo = dest < from ? dest : from;
        i32 hi = (dest > from ? dest : from) + n;
        index_drop(origin, lo, hi);
        SeriesBuffer* s = buffer_of(origin);
        u32 shift = shift_of(s);
        std::vector<u8> stretch(size_t(i64(n) << shift));
        std::memcpy(stretch.data(), element_at(s, from), stretch.size());
        if (dest > from) move_elements(s, from, from + n, dest - from);
        else move_elements(s, dest + n, dest, from - dest);
        std::memcpy(element_at(s, dest), stretch.data(), stretch.size());
        index_put(origin, lo, hi);
    }
    if (owned) notify(origin, words.moved, nullptr, plan.dest, plan.n);
    return plan.what == InPlaceMove::ANSWER_ORIGIN ? origin : target;
}

Cell* modify(Cell* series, i32 field, Cell* value, bool) {
    if (symbol::resolve(field) == symbol::resolve(words.owned)) {
        if (TYPE_OF(value) == TYPE_NONE) {
            ownership::unbind(*series);
        } else if (TYPE_OF(value) == TYPE_BLOCK && rest_length(value) >= 2) {
            const Cell* pair = series::head_cells(buffer_of(value)) + head_index(value);
            ownership::set_owner(*series, pair[0], pair[1]);
        }
    }
    *series = *value;
    return series;
}

namespace {

// --- Position actions: they read the series and its argument from the value
// stack and leave the result in the first cell.

void to_head() { stack::arguments->w1 = 0; }
void to_tail() { stack::arguments->w1 = u32(abs_length(buffer_of(stack::arguments))); }

void head_q() { logic::box(head_index(stack::arguments) == 0); }
void tail_q() { logic::box(zs_tail_q(stack::arguments)); }
void index_q() { integer::box(head_index(stack::arguments) + 1); }

void next() {
    Cell* s = stack::arguments;
    if (i64(head_index(s)) + 1 <= abs_length(buffer_of(s))) s->w1++;
}

void back() {
    Cell* s = stack::arguments;
    if (head_index(s) > 0) s->w1--;
}

void move_head(bool at) {
    Cell* s = stack::arguments;
    const Cell* arg = s + 1;
    if (TYPE_OF(arg) != TYPE_INTEGER) fire(ERR_SCRIPT, "invalid-arg", arg);
    i64 n = integer::get(arg);
    i64 h = i64(head_index(s)) + (at && n >= 1 ? n - 1 : n);
    i64 abs = abs_length(buffer_of(s));
    s->w1 = u32(h < 0 ? 0 : h > abs ? abs : h);
}
void at() { move_head(true); }
void skip() { move_head(false); }

}  // namespace

void init() {
    datatype::Registration r(TYPE_SERIES, 0, "series!");
    r.only_own();
    r.on<ACT_RANDOM>(random).on<ACT_REFLECT>(reflect).on<ACT_AT>(at).on<ACT_BACK>(back).on<ACT_CLEAR>(clear);
    r.on<ACT_COPY>(copy).on<ACT_HEAD>(to_head).on<ACT_HEAD_Q>(head_q).on<ACT_INDEX_Q>(index_q);
    r.on<ACT_LENGTH_Q>(length_q).on<ACT_MOVE>(move).on<ACT_NEXT>(next).on<ACT_PICK>(pick).on<ACT_POKE>(poke);
    r.on<ACT_REMOVE>(remove).on<ACT_REVERSE>(reverse).on<ACT_SKIP>(skip).on<ACT_TAIL>(to_tail);
    r.on<ACT_TAIL_Q>(tail_q).on<ACT_TAKE>(take).on<ACT_MODIFY>(modify);
    datatype::register_(r);
}

}  // namespace series
}  // namespace zir
