// symbol!: see symbol.hpp.
#include "datatypes/symbol.hpp"

#include <string>

#include "datatypes/datatype.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace symbol {

u32 table = 0;
u32 block = 0;

namespace {

void mark_symbols() { hash_table::mark(table); }

}  // namespace

void init_table() {
    if (!table) collector::register_(mark_symbols);
    table = 0;
    block = 0;
    collector::RootNode cells(memory::alloc_cells(TABLE_SIZE));
    table = hash_table::init(TABLE_SIZE, cells, hash_table::WORDS, 1);
    block = cells;
}

i32 make(std::string_view text) {
    return hash_table::intern_symbol(table, reinterpret_cast<const u8*>(text.data()), i32(text.size()), false);
}

i32 make_case_insensitive(std::string_view text) {
    return hash_table::intern_symbol(table, reinterpret_cast<const u8*>(text.data()), i32(text.size()), true);
}

i32 make_from_string(Cell* string, i32* limit) {
    u8* text = unicode::to_utf8(string, limit);
    // The export lies in the string's cache, which interning may move: make
    // copies the text before it allocates.
    return make(std::string_view(reinterpret_cast<const char*>(text), size_t(*limit)));
}

u32 get_buffer(i32 id) {
    if (u32 node = get(id)->w2) return node;
    std::string text(spelling(id));
    u32 node = unicode::load_utf8_new(reinterpret_cast<const u8*>(text.data()), i64(text.size()));
    const_cast<Cell*>(get(id))->w2 = node;
    return node;
}

std::string_view spelling(i32 id) {
    SeriesBuffer* s = node_buffer(get(id)->w3);
    return std::string_view(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s));
}

i32 length_of(i32 id) {
    std::string_view t = spelling(id);
    const u8* p = reinterpret_cast<const u8*>(t.data());
    return i32(unicode::count_utf8_chars(p, p + t.size()));
}

i32 count() { return series::length_of(node_buffer(block)); }

namespace {

// Two UTF-8 spellings (byte series ending in a NUL outside the tail) compared
// as texts.
i32 compare_texts(u32 first, u32 second, i32 op) {
    if (op == COMP_SAME || (first == second && equality_op_q(op))) return first == second ? 0 : -1;
    SeriesBuffer* sa = node_buffer(first);
    SeriesBuffer* sb = node_buffer(second);
    const u8* pa = series::head(sa);
    const u8* pb = series::head(sb);
    const u8* ea = series::tail(sa);
    const u8* eb = series::tail(sb);
    i64 la = unicode::count_utf8_chars(pa, ea), lb = unicode::count_utf8_chars(pb, eb);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if ((la != lb && equality) || lb == 0) return la == 0 && lb == 0 ? 0 : 1;
    bool fold = op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT;
    // The NUL after each spelling stops the decoder at a cut sequence.
    while (pa < ea && pb < eb) {
        i32 ca, cb;
        pa = unicode::fast_decode_utf8_char(pa, &ca);
        pb = unicode::fast_decode_utf8_char(pb, &cb);
        if (fold) {
            ca = i32(case_folding::to_upper_char(u32(ca)));
            cb = i32(case_folding::to_upper_char(u32(cb)));
        }
        if (ca != cb) return ca > cb ? 1 : -1;
    }
    return la > lb ? 1 : la < lb ? -1 : 0;
}

}  // namespace

i32 compare_spellings(i32 a, i32 b, i32 op) { return compare_texts(get(a)->w3, get(b)->w3, op); }

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_SYMBOL) return NOT_COMPARABLE;
    return compare_texts(value->w3, other->w3, op);
}

void init() {
    datatype::Registration r(TYPE_SYMBOL, 0, "symbol!");
    r.only_own().on<ACT_COMPARE>(compare);
    datatype::register_(r);
}

}  // namespace symbol

namespace debug {

void print_symbol(const Cell* word) {
    std::string text(symbol::spelling(i32(word->w2)));
    console::write_c_string(text.c_str());
}

}  // namespace debug
}  // namespace zir
