// Case folding of single code points: see case_folding.hpp.
#include "runtime/case_folding.hpp"

#include <cstdlib>

#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/fault.hpp"

namespace zir {
namespace case_folding {

namespace {

constexpr u32 BMP_SIZE = 0x10000;

// One direction of mapping. The table holds the mapping of every code point of
// the Basic Multilingual Plane, 0 meaning none (no letter maps to NUL). The list
// holds (code point, mapping) pairs above it, sorted by code point.
struct CaseTable {
    u32* table = nullptr;
    u32* list = nullptr;
    u32 list_pairs = 0;
};

CaseTable to_lower;   // index 0: the flag of change_char selects the direction
CaseTable to_upper;

u32* allocate_words(size_t n) {
    void* p = std::calloc(n ? n : 1, sizeof(u32));
    if (p == nullptr) ZIR_FAULT(runtime::FAULT_OUT_OF_MEMORY);
    return static_cast<u32*>(p);
}

void build(CaseTable& t, const CaseRun* runs, u32 run_count) {
    u32 above = 0;
    for (u32 i = 0; i < run_count; i++) {
        if (runs[i].first >= BMP_SIZE) above += runs[i].count;
    }
    // A new table comes zeroed from calloc, which leaves the pages no letter
    // maps on untouched; only a table built again is cleared.
    if (t.table == nullptr) t.table = allocate_words(BMP_SIZE);
    else std::memset(t.table, 0, BMP_SIZE * sizeof(u32));
    std::free(t.list);
    t.list = allocate_words(size_t(above) * 2);

    u32 n = 0;
    for (u32 i = 0; i < run_count; i++) {
        const CaseRun& r = runs[i];
        for (u32 k = 0; k < r.count; k++) {
            u32 cp = r.first + k * r.stride;
            u32 mapped = cp + u32(r.delta);   // deltas are negative as often as not
            if (cp < BMP_SIZE) {
                t.table[cp] = mapped;
            } else {
                t.list[2 * n] = cp;
                t.list[2 * n + 1] = mapped;
                n++;
            }
        }
    }
    t.list_pairs = n;
}

u32 lookup_above_bmp(const CaseTable& t, u32 cp) {
    const u32* list = t.list;
    u32 n = t.list_pairs;
    if (n == 0 || cp < list[0] || cp > list[2 * (n - 1)]) return cp;
    u32 low = 0;
    u32 high = n;
    while (low < high) {
        u32 mid = low + (high - low) / 2;
        u32 key = list[2 * mid];
        if (key == cp) return list[2 * mid + 1];
        if (key < cp) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return cp;
}

}  // namespace

namespace {

// Whether the tables are built. Most programs map ASCII and Latin-1 letters
// only: the tables (half a megabyte of address space, some thirty pages
// touched) are built on the first code point above Latin-1.
bool tables_built = false;

// The mapping of one code point found in the runs themselves: the last run
// beginning at or below it, by halves.
u32 lookup_runs(const CaseRun* runs, u32 count, u32 cp) {
    u32 low = 0, high = count;
    while (low < high) {
        u32 mid = low + (high - low) / 2;
        if (runs[mid].first <= cp) low = mid + 1;
        else high = mid;
    }
    if (low == 0) return cp;
    const CaseRun& r = runs[low - 1];
    u32 offset = cp - r.first;
    u32 stride = r.stride ? r.stride : 1;
    if (offset % stride != 0 || offset / stride >= r.count) return cp;
    return cp + u32(r.delta);
}

[[gnu::noinline, gnu::cold]] void build_tables() {
    build(to_upper, to_upper_runs, to_upper_run_count);
    build(to_lower, to_lower_runs, to_lower_run_count);
    tables_built = true;
}

}  // namespace

void init() { tables_built = false; }

u32 change_char(u32 cp, int flag) {
    // ASCII's only cased letters are A-Z and a-z, mapped to each other.
    if (cp < 0x80) {
        if (flag) return cp - 'a' < 26 ? cp - ('a' - 'A') : cp;
        return cp - 'A' < 26 ? cp + ('a' - 'A') : cp;
    }
    if (ZIR_UNLIKELY(!tables_built)) {
        // Latin-1 (the byte tables of searches without case) from the runs.
        if (cp < 0x100) {
            return flag ? lookup_runs(to_upper_runs, to_upper_run_count, cp)
                        : lookup_runs(to_lower_runs, to_lower_run_count, cp);
        }
        build_tables();
    }
    const CaseTable& t = flag ? to_upper : to_lower;
    if (cp < BMP_SIZE) {
        u32 mapped = t.table[cp];
        return mapped ? mapped : cp;
    }
    return lookup_above_bmp(t, cp);
}

u32 to_upper_char(u32 cp) { return change_char(cp, 1); }

u32 swap_case_char(u32 cp) {
    u32 upper = change_char(cp, 1);
    return upper != cp ? upper : change_char(cp, 0);
}

// --- Strings --------------------------------------------------------------------

namespace {

i32 uppercase_word = 0;
i32 lowercase_word = 0;

}  // namespace

void init_state() {
    uppercase_word = symbol::make("uppercase");
    lowercase_word = symbol::make("lowercase");
}

Cell* change_string(Cell* value, const Cell* part, int flag) {
    if (TYPE_OF(value) == TYPE_CHAR) {
        value->w2 = change_char(value->w2, flag);
        return value;
    }
    i32 h = series::clamp_head(value);
    i64 n = series::rest_length(value);
    if (part) {
        i64 wanted;
        if (TYPE_OF(part) == TYPE_INTEGER) wanted = integer::get(part);
        else if (series::same_series_q(value, part)) wanted = i64(series::head_index(part)) - h;
        else series::fire_refine_arg(series::words.part, part);
        // Past the tail there is nothing to change.
        n = wanted < 0 ? 0 : wanted < n ? wanted : n;
    }
    for (i64 i = h; i < h + n; i++) {
        u32 cp = string::get_char_at(value, i32(i));
        u32 mapped = change_char(cp, flag);
        // A mapping may need a wider unit (y with diaeresis upper-cases
        // beyond Latin-1): the writer widens, and the next read goes
        // through the node at the new unit.
        if (mapped != cp) string::poke_char(value, i32(i), mapped);
    }
    series::notify(value, flag ? uppercase_word : lowercase_word, nullptr, h, i32(n));
    return value;
}

}  // namespace case_folding
}  // namespace zir
