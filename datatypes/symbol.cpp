// symbol!: see symbol.hpp.
#include "datatypes/symbol.hpp"

#include <string>

#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace symbol {

u32 table = 0;

namespace {

void mark_symbols() { hash_table::mark(table); }

}  // namespace

void init() {
    if (!table) collector::register_(mark_symbols);
    table = 0;
    collector::RootNode block(memory::alloc_cells(TABLE_SIZE));
    table = hash_table::init(TABLE_SIZE, block, hash_table::WORDS, 1);
}

i32 make(std::string_view text) {
    return hash_table::intern_symbol(table, reinterpret_cast<const u8*>(text.data()), i32(text.size()), false);
}

i32 make_case_insensitive(std::string_view text) {
    return hash_table::intern_symbol(table, reinterpret_cast<const u8*>(text.data()), i32(text.size()), true);
}

const Cell* get(i32 id) {
    return series::head_cells(node_buffer(hash_table::record(table)->block)) + (id - 1);
}

i32 resolve(i32 id) {
    i32 alias = i32(get(id)->w1);
    return alias > 0 ? alias : id;
}

std::string_view spelling(i32 id) {
    SeriesBuffer* s = node_buffer(get(id)->w3);
    return std::string_view(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s));
}

i32 count() { return series::length_of(node_buffer(hash_table::record(table)->block)); }

}  // namespace symbol

namespace debug {

void print_symbol(const Cell* word) {
    std::string text(symbol::spelling(i32(word->w2)));
    console::write_c_string(text.c_str());
}

}  // namespace debug
}  // namespace zir
