// Contexts: the binding environments of words.
//
// A context is named by the node of a two-cell series: a context! cell and the
// value that owns the context (an object! or function!; unset! until one is
// stored). The context! cell holds in word 1 the node of its word table (a
// hash table of the word-table kind, whose block is the word list: one word!
// cell per word, in the order added) and in word 2 the node of its values block
// (cell i is the value of word i), or, when header bit 22 is set, the index of
// its first value cell on the value stack while the function runs (0 when not).
#pragma once

#include "runtime/memory.hpp"

namespace zir {
namespace context {

constexpr u32 KIND_SHIFT = 11;
constexpr u32 KIND_MASK = 3u << KIND_SHIFT;
constexpr u32 KIND_GLOBAL = 0;
constexpr u32 KIND_FUNCTION = 1;
constexpr u32 KIND_OBJECT = 2;
constexpr u32 OWNS_SERIES = 0x10000;    // an object that owns the series of its fields
constexpr u32 ON_STACK = 0x400000;      // values live on the value stack
constexpr u32 HAS_SELF = 0x1000000;     // the context answers `self`

// The context! cell of a context node, and its owner cell.
inline Cell* cell_of(u32 node) { return series::head_cells(node_buffer(node)); }
inline Cell* owner_of(u32 node) { return series::head_cells(node_buffer(node)) + 1; }

u32 words_node(const Cell* ctx);
SeriesBuffer* words_buffer(const Cell* ctx);
// Word cell i of the context's word list (valid until the next allocation).
Cell* word_at(const Cell* ctx, i32 i);
i32 word_count(const Cell* ctx);
// Value cell i of a context whose values are in a block.
Cell* value_at(const Cell* ctx, i32 i);

}  // namespace context
}  // namespace zir
