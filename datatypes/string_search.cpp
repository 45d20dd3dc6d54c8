// string!: comparison, find, select, path access and the tests the parse
// dialect makes at a string's head. file!, url!, tag!, email!, ref!, binary!
// and vector! inherit find and select.
//
// Text compares code point by code point, folded to upper case unless the
// operation is case-sensitive. A search scans element positions forwards
// from the head, or backwards under /last and /reverse, by the /skip step;
// the target is one code point, any member of a bitset, or a run of code
// points (a string's text, a word's spelling, a value's formed text).
#include "datatypes/string.hpp"

#include <array>
#include <string_view>
#include <vector>

#include "datatypes/bitset.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace string {

namespace {

using series::words;

inline i32 head_index(const Cell* c) { return i32(c->w1); }
inline Cell* none_cell() { return const_cast<Cell*>(&none::value); }
// ASCII folds without a call: only a..z change.
inline u32 fold(u32 cp) {
    if (cp < 0x80) return cp - 'a' < 26 ? cp - 32 : cp;
    return case_folding::to_upper_char(cp);
}
inline i32 sign(i64 d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

template <class T>
inline u32 load(const u8* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return u32(v);
}

// The first difference of n code points read at two units: positive when
// a's (folded) code point is greater; 0 when all n are equal.
template <class A, class B, bool FOLD>
i32 compare_run(const u8* a, const u8* b, i64 n) {
    for (i64 i = 0; i < n; i++) {
        u32 x = load<A>(a + i * i64(sizeof(A))), y = load<B>(b + i * i64(sizeof(B)));
        if (x == y) continue;
        if (FOLD) {
            x = fold(x);
            y = fold(y);
            if (x == y) continue;
        }
        return x < y ? -1 : 1;
    }
    return 0;
}

template <class A, bool FOLD>
i32 compare_run_b(const u8* a, const u8* b, u32 ub, i64 n) {
    switch (ub) {
        case 1: return compare_run<A, u8, FOLD>(a, b, n);
        case 2: return compare_run<A, u16, FOLD>(a, b, n);
        default: return compare_run<A, u32, FOLD>(a, b, n);
    }
}

template <bool FOLD>
i32 compare_units(const u8* a, u32 ua, const u8* b, u32 ub, i64 n) {
    if (!FOLD && ua == 1 && ub == 1) {
        int r = std::memcmp(a, b, size_t(n));
        return sign(r);
    }
    switch (ua) {
        case 1: return compare_run_b<u8, FOLD>(a, b, ub, n);
        case 2: return compare_run_b<u16, FOLD>(a, b, ub, n);
        default: return compare_run_b<u32, FOLD>(a, b, ub, n);
    }
}

}  // namespace

// --- Comparison -------------------------------------------------------------------

i32 compare_strings(const Cell* a, const Cell* b, i32 op, bool match) {
    if (op == COMP_SAME || op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND) {
        bool same = a->w2 == b->w2 && a->w1 == b->w1 && TYPE_OF(a) != TYPE_SYMBOL && TYPE_OF(b) != TYPE_SYMBOL;
        if (op == COMP_SAME) return same ? 0 : -1;
        if (same) return 0;
    }
    Text ta = text_of(a);
    collector::RootNode hold_a(ta.node);   // a symbol's text may be a fresh string
    Text tb = text_of(b);
    collector::RootNode hold_b(tb.node);
    SeriesBuffer* sa = node_buffer(ta.node);
    SeriesBuffer* sb = node_buffer(tb.node);
    i64 la = series::length_of(sa) - ta.head;
    i64 lb = series::length_of(sb) - tb.head;
    if (TYPE_OF(b) == TYPE_STRING_KEY && i32(b->w3) >= 0 && i32(b->w3) < lb) lb = i32(b->w3);
    i64 n;
    if (match) {
        if (lb == 0) return op == COMP_FIND ? 1 : 0;
        if (la < lb) return 1;
        n = lb;
    } else if (la != lb) {
        if (equality_op_q(op) || lb == 0) return 1;
        n = la < lb ? la : lb;
    } else {
        if (la == 0) return 0;
        n = la;
    }
    u32 ua = series::unit_of(sa), ub = series::unit_of(sb);
    const u8* pa = series::head(sa) + ta.head * i64(ua);
    const u8* pb = series::head(sb) + tb.head * i64(ub);
    bool folding = op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT;
    i32 r = folding ? compare_units<true>(pa, ua, pb, ub, n) : compare_units<false>(pa, ua, pb, ub, n);
    if (r != 0 || match) return r;
    return sign(la - lb);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    u32 a = TYPE_OF(value), b = TYPE_OF(other);
    if (a != b && b != TYPE_STRING_KEY) {
        if (!any_text_q(b)) return NOT_COMPARABLE;
        if (op != COMP_EQUAL && op != COMP_NOT_EQUAL) return NOT_COMPARABLE;
    }
    return compare_strings(value, other, op, false);
}

// --- Searching --------------------------------------------------------------------

namespace {

// What a search looks for.
struct Target {
    enum Kind { CHAR, BITSET, TEXT } kind = TEXT;
    std::vector<u32> text;   // CHAR: the one code point; TEXT: the run (folded when folding)
    Cell bitset{};
    Cell element{};          // a vector! or binary! element value (an integer! or float!)
    bool element_value = false;
    i64 length() const { return kind == TEXT ? i64(text.size()) : 1; }
};

// Where and how to scan: positions from `first`, by `step`, forwards while a
// match still ends by `end`, or backwards down to `low`.
struct Scan {
    i64 first = 0;
    i64 end = 0;
    i64 low = 0;
    i64 step = 1;
    bool backward = false;
    bool match = false;
};

void read_text(std::vector<u32>& out, const Cell* value) {
    Text t = text_of(value);
    SeriesBuffer* s = node_buffer(t.node);
    u32 unit = series::unit_of(s);
    i64 n = series::length_of(s) - t.head;
    const u8* p = series::head(s) + t.head * i64(unit);
    out.resize(size_t(n));
    for (i64 i = 0; i < n; i++) out[size_t(i)] = get_char(p + i * unit, unit);
}

// The target for a value searched in a series of type `st`.
void target_of(Target& t, const Cell* value, u32 st, bool folding) {
    u32 vt = TYPE_OF(value);
    bool bytes = st == TYPE_BINARY || st == TYPE_VECTOR;
    if (vt == TYPE_CHAR) {
        t.kind = Target::CHAR;
        t.text.assign(1, folding ? fold(value->w2) : value->w2);
        return;
    }
    if (vt == TYPE_BITSET) {
        t.kind = Target::BITSET;
        t.bitset = *value;
        return;
    }
    if (vt == TYPE_BINARY && st != TYPE_BINARY) fire(ERR_SCRIPT, "invalid-arg", value);
    // A percent is an element of a percent vector, not the text "50%".
    if (bytes && (vt == TYPE_INTEGER || vt == TYPE_FLOAT || (st == TYPE_VECTOR && vt == TYPE_PERCENT))) {
        t.kind = Target::CHAR;
        t.element = *value;
        t.element_value = true;
        t.text.assign(1, value->w2);
        return;
    }
    t.kind = Target::TEXT;
    if ((any_text_q(vt) && vt != TYPE_TAG) || vt == TYPE_BINARY) {
        read_text(t.text, value);
    } else if (vt == TYPE_WORD) {
        Cell spelling;
        cell::init(&spelling, TYPE_STRING);
        spelling.w2 = symbol::get_buffer(i32(value->w2));
        read_text(t.text, &spelling);
    } else {
        collector::RootCell formed;
        make_at(formed.get(), 16, 1);
        actions::form(value, formed.get(), nullptr, PART_UNLIMITED);
        read_text(t.text, formed.get());
    }
    if (folding)
        for (u32& c : t.text) c = fold(c);
}

// Runs `test` over the positions of the scan; answers the first that passes, or -1.
template <class Test>
i64 run(const Scan& g, i64 length, Test test) {
    if (g.backward) {
        for (i64 p = g.first; p >= g.low; p -= g.step) {
            if (test(p)) return p;
            if (g.match) break;
        }
        return -1;
    }
    for (i64 p = g.first; p + length <= g.end; p += g.step) {
        if (test(p)) return p;
        if (g.match) break;
    }
    return -1;
}

// The folded code points of unit-1 text, one lookup each: the case tables
// are made at start-up and never change.
const u32* fold_bytes() {
    static const std::array<u32, 256> table = [] {
        std::array<u32, 256> t{};
        for (u32 c = 0; c < 256; c++) t[c] = fold(c);
        return t;
    }();
    return table.data();
}

template <class H, bool FOLD>
i64 scan_text(const Scan& g, const u8* base, const std::vector<u32>& text) {
    const H* h = reinterpret_cast<const H*>(base);
    const u32* needle = text.data();
    i64 n = i64(text.size());
    u32 first = needle[0];
    const u32* folded = sizeof(H) == 1 && FOLD ? fold_bytes() : nullptr;
    auto at = [&](i64 i) {
        u32 c = load<H>(reinterpret_cast<const u8*>(h + i));
        if constexpr (sizeof(H) == 1 && FOLD) return folded[c];
        return FOLD ? fold(c) : c;
    };
    auto rest = [&](i64 p) {
        for (i64 k = 1; k < n; k++)
            if (at(p + k) != needle[k]) return false;
        return true;
    };
    if (!g.backward && !g.match && g.step == 1) {
        // The common case in a tight loop: the first code point, then the rest.
        for (i64 p = g.first, last = g.end - n; p <= last; p++)
            if (at(p) == first && rest(p)) return p;
        return -1;
    }
    return run(g, n, [&](i64 p) { return at(p) == first && rest(p); });
}

template <bool FOLD>
i64 scan_text_unit(const Scan& g, const u8* base, u32 unit, const std::vector<u32>& text) {
    switch (unit) {
        case 1: return scan_text<u8, FOLD>(g, base, text);
        case 2: return scan_text<u16, FOLD>(g, base, text);
        default: return scan_text<u32, FOLD>(g, base, text);
    }
}

// Unit-1 text searched forwards, case-sensitively, position by position: the
// C library's substring search.
i64 scan_bytes(const Scan& g, const u8* base, const std::vector<u32>& text) {
    std::string needle(text.size(), '\0');
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] > 0xFF) return -1;
        needle[i] = char(text[i]);
    }
    if (g.first + i64(needle.size()) > g.end) return -1;
    std::string_view hay(reinterpret_cast<const char*>(base) + g.first, size_t(g.end - g.first));
    size_t at = hay.find(needle);
    return at == std::string_view::npos ? -1 : g.first + i64(at);
}

// Elements of a vector! compared as values.
i64 scan_values(const Scan& g, const Cell* series, const Target& t, i32 op) {
    return run(g, t.length(), [&](i64 p) {
        for (i64 k = 0; k < t.length(); k++) {
            Cell element, wanted;
            series::element_value(series, i32(p + k), &element);
            if (t.element_value) {
                wanted = t.element;
            } else {
                cell::init(&wanted, TYPE_CHAR);
                wanted.w2 = t.text[size_t(k)];
            }
            if (!actions::compare(&element, &wanted, op)) return false;
        }
        return true;
    });
}

struct Found {
    i64 at = -1;
    i64 length = 1;
};

Found search(Cell* series, const Cell* value_in, Cell* part, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse, bool match) {
    Found r;
    const Cell value = *value_in;
    u32 st = TYPE_OF(series);
    SeriesBuffer* s = series::buffer_of(series);
    i64 abs = series::length_of(s);
    i64 h = head_index(series);
    if (abs == 0 || (h >= abs && !reverse)) return r;
    if (h > abs) h = abs;
    if (any || with) fire(ERR_INTERNAL, "not-done");
    Scan g;
    if (skip) {
        if (TYPE_OF(skip) != TYPE_INTEGER) series::fire_refine_arg(words.skip, skip);
        g.step = integer::get(skip);
        if (g.step < 1) fire(ERR_SCRIPT, "out-of-range", skip);
    }
    // The stretch searched: from the head to the tail (before the head, under
    // /reverse), cut to the /part count.
    i64 room = reverse && !last ? h : abs - h;
    i64 count = room;
    if (part) {
        if (TYPE_OF(part) == TYPE_INTEGER) count = integer::get(part);
        else if (series::same_series_q(series, part)) count = i64(head_index(part)) - h;
        else series::fire_refine_arg(words.part, part);
        if (count < 1) return r;
        if (count > room) count = room;
    }
    if (reverse && !last && (match || h == 0)) return r;

    bool folding = any_text_q(st) && !case_ && !same;
    Target t;
    target_of(t, &value, st, folding);
    i64 length = t.length();
    if (length == 0) return r;   // an empty text matches nowhere
    r.length = length;
    g.match = match;
    if (last) {
        g.backward = true;
        g.low = h;
        g.first = h + count - length;
        if (g.first < h) return r;
        // Records stay aligned on the head under /skip.
        g.first = h + (g.first - h) / g.step * g.step;
    } else if (reverse) {
        g.backward = true;
        g.low = h - count;
        g.first = h - length;
    } else {
        g.first = h;
        g.end = h + count;
    }

    // Buffers do not move from here on: nothing below allocates but the
    // comparison of vector! elements, which reads through the node.
    s = series::buffer_of(series);
    u32 unit = series::unit_of(s);
    const u8* base = series::head(s);
    if (st == TYPE_VECTOR || t.element_value) {
        i32 op = same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_FIND;
        r.at = scan_values(g, series, t, op);
        return r;
    }
    if (t.kind == Target::BITSET) {
        r.at = run(g, 1, [&](i64 p) { return bitset::has_q(&t.bitset, get_char(base + p * unit, unit)); });
        return r;
    }
    if (unit == 1 && !folding && !g.backward && !g.match && g.step == 1) {
        r.at = scan_bytes(g, base, t.text);
        return r;
    }
    r.at = folding ? scan_text_unit<true>(g, base, unit, t.text) : scan_text_unit<false>(g, base, unit, t.text);
    return r;
}

}  // namespace

Cell* find(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match) {
    Found r = search(series, value, part, case_, same, any, with, skip, last, reverse, match);
    if (r.at < 0) return none_cell();
    series->w1 = u32(tail ? r.at + r.length : r.at);
    return series;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any, Cell* with, Cell* skip,
             bool last, bool reverse) {
    Found r = search(series, value, part, case_, same, any, with, skip, last, reverse, false);
    if (r.at < 0) return none_cell();
    i64 after = r.at + r.length;
    if (after >= series::length_of(series::buffer_of(series))) return none_cell();
    Cell element;
    series::element_value(series, i32(after), &element);
    *series = element;
    return series;
}

// --- Path access ------------------------------------------------------------------------

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool case_, bool get, bool,
                bool) {
    bool set = !get && value;
    const Cell* where = path ? path : &none::value;
    u32 et = TYPE_OF(element);
    if (et == TYPE_INTEGER) {
        if (set) return series::poke(parent, integer::get(element), value, element);
        return series::pick(parent, integer::get(element), element);
    }
    if (et == TYPE_WORD) fire(ERR_SCRIPT, "invalid-path", element, where);
    // find and select answer through the series cell: work on a copy.
    Cell* position = stack::push(parent);
    if (!set) return select(position, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false);
    Cell* found = find(position, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false,
                       false);
    if (TYPE_OF(found) == TYPE_NONE) fire(ERR_SCRIPT, "bad-path-set", element, where);
    series::poke(found, 2, value, nullptr);
    stack::pop(1);
    return value;
}

// --- Parse tests --------------------------------------------------------------------------

bool match_bitset_q(const Cell* str, const Cell* bitset) {
    if (zs_length(str) == 0) return false;
    return bitset::has_q(bitset, get_char_at(str, head_index(str)));
}

bool match_tag_brackets_q(const Cell* str, const Cell* tag) {
    i64 close = i64(head_index(str)) + zs_length(tag) + 1;
    if (zs_length(str) == 0 || close >= zs_abs_length(str)) return false;
    return get_char_at(str, head_index(str)) == '<' && get_char_at(str, i32(close)) == '>';
}

bool match_q(const Cell* str, const Cell* value, i32 op) {
    switch (TYPE_OF(value)) {
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_EMAIL:
        case TYPE_REF:
            return compare_strings(str, value, op, true) == 0;
        case TYPE_CHAR: {
            if (zs_length(str) == 0) return false;
            u32 c = get_char_at(str, head_index(str)), v = value->w2;
            return op == COMP_STRICT_EQUAL ? c == v : fold(c) == fold(v);
        }
        case TYPE_TAG: {
            if (!match_tag_brackets_q(str, value)) return false;
            Cell inside = *str;
            inside.w1++;
            Cell text = *value;
            cell::set_type(&text, TYPE_STRING);
            return compare_strings(&inside, &text, op, true) == 0;
        }
        default:
            return false;
    }
}

bool contains_q(const Cell* str, u32 cp, i32 skip, bool case_) {
    SeriesBuffer* s = node_buffer(str->w2);
    u32 unit = series::unit_of(s);
    i64 n = series::length_of(s);
    if (skip < 1) skip = 1;
    if (!case_) cp = fold(cp);
    const u8* base = series::head(s);
    for (i64 i = head_index(str); i < n; i += skip) {
        u32 c = get_char(base + i * unit, unit);
        if ((case_ ? c : fold(c)) == cp) return true;
    }
    return false;
}

}  // namespace string
}  // namespace zir
