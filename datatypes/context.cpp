// Contexts: see context.hpp.
#include "datatypes/context.hpp"

#include "runtime/hash_table.hpp"

namespace zir {
namespace context {

u32 words_node(const Cell* ctx) { return hash_table::record(ctx->w1)->block; }

SeriesBuffer* words_buffer(const Cell* ctx) { return node_buffer(words_node(ctx)); }

Cell* word_at(const Cell* ctx, i32 i) { return series::head_cells(words_buffer(ctx)) + i; }

i32 word_count(const Cell* ctx) { return series::length_of(words_buffer(ctx)); }

Cell* value_at(const Cell* ctx, i32 i) { return series::head_cells(node_buffer(ctx->w2)) + i; }

}  // namespace context
}  // namespace zir
