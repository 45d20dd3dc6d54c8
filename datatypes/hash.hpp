// hash!: a block that keeps a hash table over all of its cells, so that find,
// select and the set operations look values up without scanning.
//
// A hash value is a block value whose word 3 holds the node of a hash table
// of the hash! kind (runtime/hash_table.hpp), which indexes every cell, equal
// cells sharing a bucket. Everything else is block!'s: the block actions that
// write cells keep the table in step through series::index_hooks, sort and
// trim included. This module makes hash values, copies them with their table
// and molds them as "make hash! [...]".
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace hash {

// Makes the block in the cell a hash! by indexing its cells (all of them, from
// the buffer's first).
Cell* index_block(Cell* c);

Cell* make(Cell* proto, Cell* spec, u32 type);
Cell* to(Cell* proto, Cell* spec, u32 type);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);

void init();

}  // namespace hash
}  // namespace zir
