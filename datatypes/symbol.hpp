// symbol!: every distinct spelling of a word, stored once in the symbol table
// and named everywhere by its id (its 1-based position in the symbol block).
//
// A symbol cell holds in word 1 the id of its case-insensitive twin stored
// first (or -1 when it is its own canonical form), in word 2 the node of a
// cached string! copy of its spelling (0 until first asked for) and in word 3
// the node of its UTF-8 spelling (followed by a NUL byte outside the tail).
// Words compare without case by their canonical ids (`resolve`) and keep the
// spelling they were written with.
#pragma once

#include <string_view>

#include "runtime/memory.hpp"

namespace zir {
namespace symbol {

extern u32 table;   // the symbol table (a word-table kind hash table)
extern u32 block;   // its block of symbol! cells (the node never changes)

// Room for the library's symbols (about 1,450) without growing: a larger
// table is only spread over more pages, each a fault at start-up.
constexpr i32 TABLE_SIZE = 2000;

// Registers symbol! (only its comparison is implemented).
void init();
// Makes the symbol table (start-up and memory resets).
void init_table();

// The id of a spelling, made on first use; a spelling that differs from a
// stored one only in ASCII case becomes a new symbol naming it as its twin.
i32 make(std::string_view text);
// The id of the spelling compared without case: an existing twin's id, or new.
i32 make_case_insensitive(std::string_view text);
// The id of the text of a string value from its head: at most *limit code
// points (-1: all); *limit becomes the UTF-8 byte count.
i32 make_from_string(Cell* string, i32* limit);

// The symbol! cell (valid until the next allocation).
inline const Cell* get(i32 id) { return series::head_cells(node_buffer(block)) + (id - 1); }
// Word 1 as stored: the twin's id, or -1 for a canonical symbol.
inline i32 get_alias(i32 id) { return i32(get(id)->w1); }
// The canonical id: the twin stored first. Word lookup and binding resolve
// ids all the time, hence inline.
inline i32 resolve(i32 id) {
    i32 alias = get_alias(id);
    return alias > 0 ? alias : id;
}
// The node of the string! copy of the spelling, made on first use.
u32 get_buffer(i32 id);
// The UTF-8 spelling, viewed inside its series buffer: the view is good only
// until the next allocation (which may move the buffer). Copy it out first, or
// hand it to an appender, which copies it before growing. The byte after the
// view is a NUL, so `spelling(id).data()` is also the C text.
std::string_view spelling(i32 id);
// Code points of the spelling.
i32 length_of(i32 id);
i32 count();

// The spellings of two symbols compared as texts are by the comparison
// operations (upper-cased code points unless op is strict or case-sensitive
// sort; the common prefix, then the lengths, decide the order). Allocates
// nothing.
i32 compare_spellings(i32 a, i32 b, i32 op);

// Comparison of symbol! values (action slot 9).
i32 compare(const Cell* value, const Cell* other, i32 op);

}  // namespace symbol

namespace debug {
// Prints the spelling of a word's symbol on standard output (a debugging aid).
void print_symbol(const Cell* word);
}  // namespace debug

}  // namespace zir

