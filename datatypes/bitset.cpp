// bitset!: see bitset.hpp.
#include "datatypes/bitset.hpp"

#include <algorithm>
#include <cmath>

#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace bitset {

namespace {

// The words of the charset description dialect, by symbol id.
struct Words {
    i32 minus, not_;
} words;

inline u8 fill_byte(bool complemented) { return complemented ? 0xFF : 0x00; }
inline i64 stored_bits(const Cell* bitset) { return byte_length(bitset) * 8; }

// Sets or clears the bits low..high, all within the stored bytes.
void write_bits(u8* bytes, i64 low, i64 high, bool set) {
    i64 first = low >> 3, last = high >> 3;
    u8 head = u8(0xFFu >> (low & 7));          // low..end of its byte
    u8 tail = u8(0xFF00u >> ((high & 7) + 1));  // start of its byte..high
    if (first == last) head &= tail;
    auto apply = [&](i64 i, u8 mask) { bytes[i] = set ? u8(bytes[i] | mask) : u8(bytes[i] & ~mask); };
    apply(first, head);
    if (first == last) return;
    if (last > first + 1) std::memset(bytes + first + 1, set ? 0xFF : 0x00, size_t(last - first - 1));
    apply(last, tail);
}

// Whether every bit of low..high, all within the stored bytes, is set.
bool all_set(const u8* bytes, i64 low, i64 high) {
    i64 first = low >> 3, last = high >> 3;
    u8 head = u8(0xFFu >> (low & 7));
    u8 tail = u8(0xFF00u >> ((high & 7) + 1));
    if (first == last) return (bytes[first] & (head & tail)) == (head & tail);
    if ((bytes[first] & head) != head || (bytes[last] & tail) != tail) return false;
    for (i64 i = first + 1; i < last; i++)
        if (bytes[i] != 0xFF) return false;
    return true;
}

// Whether an op on bits beyond the stored bytes must first grow them: only
// setting on a plain bitset and clearing on a complemented one change those
// bits; the other two already hold what they ask for.
inline bool grows_q(const Cell* bitset, i32 op) {
    bool complemented = complemented_q(bitset);
    return (op == OP_SET && !complemented) || (op == OP_CLEAR && complemented);
}

[[noreturn]] void bad_item(const Cell* item, i32 mode) {
    if (mode == MODE_OTHER) fire(ERR_SCRIPT, "invalid-arg", item);
    Cell type;
    datatype::make_at(&type, TYPE_BITSET);
    fire(ERR_SCRIPT, mode == MODE_MAKE ? "bad-make-arg" : "bad-to-arg", &type, item);
}

// The bit number of a char!, integer! or float! item, a float truncated
// toward zero: -1 for a NaN or anything negative, MAX_BIT + 1 for anything a
// bitset cannot hold.
i64 bit_of(const Cell* item) {
    switch (TYPE_OF(item)) {
        case TYPE_CHAR: return i64(item->w2);
        case TYPE_INTEGER: return i64(i32(item->w2));
        default: {
            double d = cell::get_float(item);
            if (!(d > -1.0)) return -1;
            if (d >= double(MAX_BIT) + 1.0) return MAX_BIT + 1;
            return i64(d);
        }
    }
}

// The walk of a spec: the operation, the error mode, and the highest bit met
// (what the sizing pass is for).
struct Walk {
    Cell* bitset;
    i32 op;
    i32 mode;
    i64 highest = -1;
};

i32 apply_bit(Walk& w, i64 n, const Cell* item) {
    if (w.op == OP_TEST) return has_q(w.bitset, n) ? 1 : 0;
    if (n < 0 || n > MAX_BIT) fire(ERR_SCRIPT, "out-of-range", item);
    w.highest = std::max(w.highest, n);
    if (w.op == OP_SIZE) return 0;
    return range_op(w.bitset, n, n, w.op);
}

i32 apply_item(Walk& w, const Cell* item);

// The items of a block from its head, with `A - B` ranges. Items are read by
// index and copied: applying one may grow the bitset, moving the block.
i32 apply_block(Walk& w, const Cell* block) {
    u32 node = block->w2;
    if (cycles::find_q(node)) return 1;   // a block met again adds nothing new
    cycles::Guard guard(node);
    auto item_at = [&](i64 i, Cell* out) {
        SeriesBuffer* s = node_buffer(node);
        if (i >= series::length_of(s)) return false;
        *out = series::head_cells(s)[i];
        return true;
    };
    Cell a, dash, b;
    for (i64 i = block->w1; item_at(i, &a); i++) {
        u32 t = TYPE_OF(&a);
        bool range = (t == TYPE_CHAR || t == TYPE_INTEGER) && item_at(i + 1, &dash) &&
                     TYPE_OF(&dash) == TYPE_WORD && symbol::resolve(i32(dash.w2)) == symbol::resolve(words.minus);
        if (!range) {
            if (!apply_item(w, &a) && w.op == OP_TEST) return 0;
            continue;
        }
        if (!item_at(i + 2, &b)) fire(ERR_SCRIPT, "past-end");
        if (TYPE_OF(&b) != t) fire(ERR_SCRIPT, "invalid-arg", &b);
        i64 low = bit_of(&a), high = bit_of(&b);
        if (high < low) fire(ERR_SCRIPT, "past-end");
        i += 2;
        if (w.op == OP_TEST) {
            if (low < 0 || !range_op(w.bitset, low, high, OP_TEST)) return 0;
            continue;
        }
        if (low < 0) fire(ERR_SCRIPT, "out-of-range", &a);
        if (high > MAX_BIT) fire(ERR_SCRIPT, "out-of-range", &b);
        w.highest = std::max(w.highest, high);
        if (w.op != OP_SIZE) range_op(w.bitset, low, high, w.op);
    }
    return 1;
}

i32 apply_item(Walk& w, const Cell* item) {
    u32 t = TYPE_OF(item);
    switch (t) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            return apply_bit(w, bit_of(item), item);
        case TYPE_BINARY:
            fire(ERR_INTERNAL, "not-done");
        case TYPE_BLOCK:
            return apply_block(w, item);
        default:
            break;
    }
    if (!any_text_q(t)) bad_item(item, w.mode);
    if (w.op == OP_TEST) return apply_string(item, w.bitset, OP_TEST) ? 1 : 0;
    w.highest = std::max(w.highest, apply_string(item, w.bitset, w.op));
    return 0;
}

// The bytes a highest bit needs: at least one.
inline i64 bytes_for(i64 highest) { return std::max<i64>(1, (highest + 8) >> 3); }

// A new bitset over `bytes` bytes, all `fill`, in a cell.
void make_filled_at(Cell* c, i64 bytes, u8 fill, bool complemented) {
    u32 node = memory::alloc_bytes_filled(bytes, fill);
    SeriesBuffer* s = node_buffer(node);
    s->tail = s->offset + u32(bytes);
    if (complemented) s->flags |= SERIES_COMPLEMENT;
    cell::init(c, TYPE_BITSET);
    c->w2 = node;
}

// A copy of a bitset's stored bytes (its complement flag kept, its owner not),
// inverted with `invert`, into a cell.
void copy_into(const Cell* bitset, Cell* out, bool invert) {
    i64 n = byte_length(bitset);
    u32 node = n > 0 ? memory::copy_series_part(buffer_of(bitset), 0, n) : memory::alloc_bytes(0);
    SeriesBuffer* s = node_buffer(node);
    s->flags = (s->flags & ~(SERIES_COMPLEMENT | SERIES_OWNED)) | (buffer_of(bitset)->flags & SERIES_COMPLEMENT);
    if (invert) {
        u8* p = series::head(s);
        for (i64 i = 0; i < n; i++) p[i] = u8(~p[i]);
    }
    cell::init(out, TYPE_BITSET);
    out->w2 = node;
}

}  // namespace

// --- Bits ------------------------------------------------------------------------

bool has_q(const Cell* bitset, i64 n) {
    if (n < 0) return false;
    if (n >= stored_bits(bitset)) return complemented_q(bitset);
    return (zs_head(bitset)[n >> 3] & bit_mask(n)) != 0;
}

bool out_of_range_q(const Cell* bitset, i64 bit) { return bit < 0 || bit >= stored_bits(bitset); }

u8* grow(Cell* bitset, i64 bit) {
    i64 need = (bit >> 3) + 1;
    SeriesBuffer* s = buffer_of(bitset);
    i64 have = series::used_bytes(s);
    if (need <= have) return series::head(s);
    if (i64(s->offset) + need > i64(s->size)) {
        // Room for twice the bytes, so that bits added one by one upwards do
        // not copy the whole set each time; the stored length stays exact.
        i64 room = std::min<i64>(std::max(need, i64(s->size) * 2), MAX_BIT / 8 + 1);
        s = memory::expand_series(s, std::max(room, need));
    }
    std::memset(series::head(s) + have, fill_byte((s->flags & SERIES_COMPLEMENT) != 0), size_t(need - have));
    s->tail = s->offset + u32(need);
    return series::head(s);
}

i32 range_op(Cell* bitset, i64 low, i64 high, i32 op) {
    // Every bit within the stored bytes is applied or tested; only the bits
    // beyond them follow the complement flag.
    i64 stored = stored_bits(bitset);
    if (op == OP_TEST) {
        if (low < stored && !all_set(zs_head(bitset), low, std::min(high, stored - 1))) return 0;
        return high < stored || complemented_q(bitset) ? 1 : 0;
    }
    if (grows_q(bitset, op)) {
        write_bits(grow(bitset, high), low, high, op == OP_SET);
    } else if (low < stored) {
        write_bits(zs_head(bitset), low, std::min(high, stored - 1), op == OP_SET);
    }
    return 0;
}

i64 apply_string(const Cell* text, Cell* bitset, i32 op) {
    i64 head = text->w1;
    auto length = [&] { return std::max<i64>(0, series::length_of(node_buffer(text->w2)) - head); };
    auto code_at = [&](i64 i) {
        SeriesBuffer* s = node_buffer(text->w2);
        u32 unit = series::unit_of(s);
        return i64(string::get_char(series::head(s) + (head + i) * unit, unit));
    };
    i64 n = length();
    if (op == OP_TEST) {
        if (n == 0) return 0;
        for (i64 i = 0; i < n; i++)
            if (!has_q(bitset, code_at(i))) return 0;
        return 1;
    }
    i64 highest = -1;
    for (i64 i = 0; i < n; i++) highest = std::max(highest, code_at(i));
    if (highest > MAX_BIT) fire(ERR_SCRIPT, "out-of-range", text);
    if (op == OP_SIZE || highest < 0) return highest;
    if (grows_q(bitset, op)) grow(bitset, highest);
    // No allocation from here on: the buffers stay where they are.
    i64 stored = stored_bits(bitset);
    u8* bytes = zs_head(bitset);
    for (i64 i = 0; i < n; i++) {
        i64 cp = code_at(i);
        if (cp >= stored) continue;   // beyond the stored bytes it already is what op asks
        if (op == OP_SET) bytes[cp >> 3] |= bit_mask(cp);
        else bytes[cp >> 3] &= u8(~bit_mask(cp));
    }
    return highest;
}

i64 process_spec(const Cell* spec, Cell* bitset, i32 op, bool nested, i32 mode) {
    Walk w{bitset, op, mode};
    i32 r = apply_item(w, spec);
    if (op == OP_TEST) return r;
    if (nested || op == OP_CLEAR) return 0;
    i64 bytes = bytes_for(w.highest);
    if (op == OP_SET && byte_length(bitset) < bytes) grow(bitset, bytes * 8 - 1);
    return bytes;
}

// --- Values --------------------------------------------------------------------------

void make_at(Cell* c, i64 bytes) { make_filled_at(c, bytes, 0, false); }

void make_from_spec(Cell* result, const Cell* spec, i32 mode) {
    Cell s = *spec;
    bool complemented = false;
    if (TYPE_OF(&s) == TYPE_BLOCK && series::rest_length(&s) > 0) {
        const Cell* first = series::head_cells(series::buffer_of(&s)) + series::head_index(&s);
        if (TYPE_OF(first) == TYPE_WORD && symbol::resolve(i32(first->w2)) == symbol::resolve(words.not_)) {
            complemented = true;
            s.w1++;
            if (series::rest_length(&s) > 0 && TYPE_OF(first + 1) == TYPE_BINARY) s = first[1];
        }
    }
    collector::RootCell out;
    switch (TYPE_OF(&s)) {
        case TYPE_BITSET:
            copy_into(&s, out.get(), false);
            break;
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            if (mode == MODE_TO) bad_item(&s, MODE_TO);
            i64 bits = float_::to_integer_checked(&s);
            if (bits < 0 || bits > MAX_BIT + 1) fire(ERR_SCRIPT, "out-of-range", &s);
            make_at(out.get(), (bits + 7) >> 3);
            break;
        }
        case TYPE_BINARY: {
            i64 n = series::rest_length(&s);
            make_filled_at(out.get(), n, 0, complemented);
            const u8* from = series::head(series::buffer_of(&s)) + series::head_index(&s);
            u8* to = zs_head(out.get());
            for (i64 i = 0; i < n; i++) to[i] = complemented ? u8(~from[i]) : from[i];
            break;
        }
        default: {
            i64 bytes = process_spec(&s, nullptr, OP_SIZE, false, mode);
            make_filled_at(out.get(), bytes, fill_byte(complemented), complemented);
            process_spec(&s, out.get(), complemented ? OP_CLEAR : OP_SET, false, mode);
            break;
        }
    }
    *result = *out.get();
}

// --- Combination ---------------------------------------------------------------------

void do_bitwise(i32 code) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    if (code == 8) return;   // unique: a set has no duplicates
    if (TYPE_OF(b) != TYPE_BITSET) {
        Cell type;
        datatype::make_at(&type, TYPE_OF(b));
        fire(ERR_SCRIPT, "invalid-type", &type);
    }
    auto combine = [code](u32 x, u32 y) -> u32 {
        switch (code) {
            case 5: case 9: return x | y;          // or, union
            case 6: case 10: return x & y;         // and, intersect
            case 11: return x & ~y;                // exclude
            default: return x ^ y;                 // xor, difference
        }
    };
    i64 l1 = byte_length(a), l2 = byte_length(b);
    bool c1 = complemented_q(a), c2 = complemented_q(b);
    // Bytes past an operand's end are its complement flag, so the result's
    // flag is the same combination of the two flags.
    bool complemented = combine(c1, c2) & 1;
    i64 n = std::max(l1, l2);
    // `and` keeps the shorter length when that loses nothing: past a plain
    // shorter operand every result bit is clear.
    if (code == 6 && ((l1 <= l2 && !c1) || (l2 <= l1 && !c2))) n = std::min(l1, l2);
    collector::RootCell out;
    make_filled_at(out.get(), n, 0, complemented);
    const u8* p1 = zs_head(a);
    const u8* p2 = zs_head(b);
    u8* r = zs_head(out.get());
    for (i64 i = 0; i < n; i++) {
        u32 x = i < l1 ? p1[i] : fill_byte(c1);
        u32 y = i < l2 ? p2[i] : fill_byte(c2);
        r[i] = u8(combine(x, y));
    }
    *a = *out.get();
}

// --- Text --------------------------------------------------------------------------------

i32 form_hex(const Cell* bitset, Cell* buffer, bool limited, i32 part, bool inverted) {
    static const char digits[] = "0123456789ABCDEF";
    // In runs, each read afresh: appending may move the bitset's buffer.
    constexpr i64 RUN = 64;
    u8 text[RUN * 2];
    i64 n = byte_length(bitset);
    for (i64 at = 0; at < n;) {
        if (limited && part <= 0) break;
        i64 count = std::min(RUN, n - at);
        if (limited) count = std::min<i64>(count, (i64(part) + 1) / 2);
        const u8* bytes = zs_head(bitset) + at;
        for (i64 i = 0; i < count; i++) {
            u8 b = inverted ? u8(~bytes[i]) : bytes[i];
            text[2 * i] = u8(digits[b >> 4]);
            text[2 * i + 1] = u8(digits[b & 15]);
        }
        string::append_bytes(buffer, text, count * 2);
        part -= i32(count * 2);
        at += count;
    }
    return part;
}

namespace {

// --- Actions -------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, u32) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    make_from_spec(out, spec, MODE_MAKE);
    return out;
}

Cell* to(Cell*, Cell* spec, u32) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    make_from_spec(out, spec, MODE_TO);
    return out;
}

// Form and mold write the same text, which make reads back.
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    bool limited = arg != nullptr;
    bool complemented = complemented_q(value);
    auto piece = [&](const char* text) {
        string::append_literal(buffer, text);
        part -= i32(std::strlen(text));
        return !(limited && part <= 0);
    };
    if (!piece("make bitset! ")) return part;
    if (complemented && !piece("[not ")) return part;
    if (!piece("#{")) return part;
    part = form_hex(value, buffer, limited, part, complemented);
    if (limited && part <= 0) return part;
    if (!piece("}")) return part;
    if (complemented) piece("]");
    return part;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

// The index of pick, poke and path access as a spec.
const Cell* index_spec(i32 index, Cell* boxed, Cell* scratch) {
    if (boxed) return boxed;
    cell::init(scratch, TYPE_INTEGER);
    scratch->w2 = u32(index);
    return scratch;
}

Cell* pick(Cell* bitset, i32 index, Cell* boxed) {
    Cell scratch;
    bool member = process_spec(index_spec(index, boxed, &scratch), bitset, OP_TEST, true, MODE_OTHER) != 0;
    return const_cast<Cell*>(member ? &logic::true_value : &logic::false_value);
}

// Sets (or, for none, false, 0 and 0.0, clears) the bits of the index spec.
Cell* poke(Cell* bitset, i32 index, Cell* value, Cell* boxed) {
    Cell spec;
    spec = *index_spec(index, boxed, &spec);
    bool clear = false;
    switch (TYPE_OF(value)) {
        case TYPE_NONE: clear = true; break;
        case TYPE_LOGIC: clear = value->w1 == 0; break;
        case TYPE_INTEGER: clear = value->w2 == 0; break;
        case TYPE_FLOAT: clear = cell::get_float(value) == 0.0; break;
        default: break;
    }
    bool owned = series::notify(bitset, series::words.poke, value, 0, 0);
    process_spec(&spec, bitset, clear ? OP_CLEAR : OP_SET, true, MODE_OTHER);
    if (owned) series::notify(bitset, series::words.poked, value, 0, 0);
    return value;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, i32, bool, bool get, bool, bool) {
    u32 t = TYPE_OF(element);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) {
        Cell type;
        datatype::make_at(&type, t);
        fire(ERR_SCRIPT, "invalid-type", &type);
    }
    if (!get && value) return poke(parent, 0, value, element);
    return pick(parent, 0, element);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_BITSET) return NOT_COMPARABLE;
    if (op == COMP_SAME) return value->w2 == other->w2 ? 0 : 1;
    i64 l1 = byte_length(value), l2 = byte_length(other);
    if (l1 != l2) return l1 < l2 ? -1 : 1;
    // The flag before the bytes, even of two empty bitsets: an empty plain
    // bitset holds nothing, an empty complemented one everything.
    bool c1 = complemented_q(value), c2 = complemented_q(other);
    if (c1 != c2) return c1 ? 1 : -1;
    const u8* a = zs_head(value);
    const u8* b = zs_head(other);
    for (i64 i = l1 - 1; i >= 0; i--)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// Complement and negate: the other set.
Cell* complement(Cell* bitset) {
    collector::RootCell out;
    copy_into(bitset, out.get(), true);
    node_buffer(out.get()->w2)->flags ^= SERIES_COMPLEMENT;
    *bitset = *out.get();
    return bitset;
}

void and_() { do_bitwise(6); }
void or_() { do_bitwise(5); }
void xor_() { do_bitwise(7); }

// append and insert: /part, /only and /dup mean nothing to a set.
Cell* append(Cell* bitset, Cell* value, Cell*, bool, Cell*, bool) {
    bool owned = series::notify(bitset, series::words.insert, value, 0, 0);
    process_spec(value, bitset, OP_SET, false, MODE_OTHER);
    if (owned) series::notify(bitset, series::words.inserted, value, 0, 0);
    return bitset;
}

// Leaves the stored length as it is: the bitset then holds nothing.
Cell* clear(Cell* bitset) {
    bool owned = series::notify(bitset, series::words.clear, nullptr, 0, 0);
    SeriesBuffer* s = buffer_of(bitset);
    std::memset(series::head(s), 0, series::used_bytes(s));
    s->flags &= ~SERIES_COMPLEMENT;
    if (owned) series::notify(bitset, series::words.cleared, nullptr, 0, 0);
    return bitset;
}

Cell* copy(Cell* bitset, Cell* result, Cell*, bool, Cell*) {
    collector::RootCell out;
    copy_into(bitset, out.get(), false);
    *result = *out.get();
    return result;
}

Cell* find(Cell* bitset, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    if (!process_spec(value, bitset, OP_TEST, true, MODE_OTHER)) return const_cast<Cell*>(&none::value);
    logic::make_at(bitset, true);
    bitset->w2 = bitset->w3 = 0;
    return bitset;
}

i32 length_q(const Cell* bitset) { return i32(stored_bits(bitset)); }

// The key comes as the /part argument. Removing clears the key's bits,
// whatever the complement flag: the stored bytes hold the membership itself.
Cell* remove(Cell* bitset, Cell* part, Cell*) {
    if (!part) fire(ERR_SCRIPT, "missing-arg");
    bool owned = series::notify(bitset, series::words.remove, part, 0, 0);
    process_spec(part, bitset, OP_CLEAR, false, MODE_OTHER);
    if (owned) series::notify(bitset, series::words.removed, part, 0, 0);
    return bitset;
}

}  // namespace

void init_state() { words = Words{symbol::make("-"), symbol::make("not")}; }

void init() {
    datatype::Registration r(TYPE_BITSET, 0, "bitset!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_REFLECT>(series::reflect).on<ACT_TO>(to).on<ACT_FORM>(form);
    r.on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path).on<ACT_COMPARE>(compare).on<ACT_NEGATE>(complement);
    r.on<ACT_AND_T>(and_).on<ACT_COMPLEMENT>(complement).on<ACT_OR_T>(or_).on<ACT_XOR_T>(xor_);
    r.on<ACT_APPEND>(append).on<ACT_CLEAR>(clear).on<ACT_COPY>(copy).on<ACT_FIND>(find).on<ACT_INSERT>(append);
    r.on<ACT_LENGTH_Q>(length_q).on<ACT_PICK>(pick).on<ACT_POKE>(poke).on<ACT_REMOVE>(remove);
    r.on<ACT_MODIFY>(series::modify);
    datatype::register_(r);
}

}  // namespace bitset
}  // namespace zir
