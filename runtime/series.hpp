// Raw access to series by node: element counts, clearing and cutting, and
// byte or 32-bit entries appended, picked, found and removed. The runtime's own
// tables (lists of ids, byte buffers of the backends) are kept in such series.
#pragma once

#include "runtime/memory.hpp"

namespace zir {
namespace series {

// A byte series with room for n elements of `unit` bytes, of that unit.
u32 make_raw(i64 n, u32 unit);

i32 zs_units(u32 node);
void zs_clear_all(u32 node);
// Keeps the first n - 1 elements (so 1 empties the series).
void zs_cut_at(u32 node, i32 n);
u32 zs_copy_node(u32 node);
u32 zs_flags(u32 node);

void zs_append_byte(u32 node, u8 byte);
// The source may lie in a series buffer, this one included: it is copied out
// before the series grows.
void zs_append_bytes(u32 node, const u8* source, i64 n);
void zs_append_int(u32 node, u32 value);

// 1-based picks.
u8 zs_pick_byte(u32 node, i32 i);
u32 zs_pick_int(u32 node, i32 i);
void zs_poke_int(u32 node, i32 i, u32 value);

// Byte offset of the first 32-bit entry equal to value, -1 when absent.
i32 zs_find_ptr(u32 node, u32 value);
// Removes the first 32-bit entry equal to value; nothing when absent.
void zs_remove_ptr(u32 node, u32 value);
// Inserts a 32-bit entry before element `index` (0-based).
void zs_insert_int(u32 node, i32 index, u32 value);
// Removes n bytes at a byte offset from the head.
void zs_remove_at(u32 node, i32 byte_offset, i32 n);

}  // namespace series
}  // namespace zir
