// Raw series access: see series.hpp.
#include "runtime/series.hpp"

#include <string>

namespace zir {
namespace series {

u32 make_raw(i64 n, u32 unit) {
    u32 node = memory::alloc_bytes(n * unit);
    SeriesBuffer* s = node_buffer(node);
    s->flags = (s->flags & ~SERIES_UNIT_MASK) | unit;
    return node;
}

i32 zs_units(u32 node) { return length_of(node_buffer(node)); }

void zs_clear_all(u32 node) {
    SeriesBuffer* s = node_buffer(node);
    s->tail = s->offset;
}

void zs_cut_at(u32 node, i32 n) {
    SeriesBuffer* s = node_buffer(node);
    i64 keep = i64(n - 1) << unit_shift(unit_of(s));
    if (keep < 0) keep = 0;
    if (keep < i64(used_bytes(s))) s->tail = s->offset + u32(keep);
}

u32 zs_copy_node(u32 node) { return memory::copy_series(node_buffer(node)); }

u32 zs_flags(u32 node) { return node_buffer(node)->flags; }

void zs_append_byte(u32 node, u8 byte) {
    SeriesBuffer* s = node_buffer(node);
    *memory::alloc_tail_bytes(s, 1) = byte;
}

void zs_append_bytes(u32 node, const u8* source, i64 n) {
    if (n <= 0) return;
    SeriesBuffer* s = node_buffer(node);
    if (i64(s->tail) + n <= i64(s->size)) {
        std::memcpy(memory::alloc_tail_bytes(s, n), source, size_t(n));
        return;
    }
    // Growing may move the buffer the source lies in (this one, say).
    std::string copy(reinterpret_cast<const char*>(source), size_t(n));
    std::memcpy(memory::alloc_tail_bytes(s, n), copy.data(), size_t(n));
}

void zs_append_int(u32 node, u32 value) {
    SeriesBuffer* s = node_buffer(node);
    std::memcpy(memory::alloc_tail_bytes(s, 4), &value, 4);
}

u8 zs_pick_byte(u32 node, i32 i) { return head(node_buffer(node))[i - 1]; }

u32 zs_pick_int(u32 node, i32 i) {
    u32 v;
    std::memcpy(&v, head(node_buffer(node)) + 4 * i64(i - 1), 4);
    return v;
}

void zs_poke_int(u32 node, i32 i, u32 value) {
    std::memcpy(head(node_buffer(node)) + 4 * i64(i - 1), &value, 4);
}

i32 zs_find_ptr(u32 node, u32 value) {
    SeriesBuffer* s = node_buffer(node);
    const u8* h = head(s);
    u32 n = used_bytes(s);
    for (u32 at = 0; at + 4 <= n; at += 4) {
        u32 v;
        std::memcpy(&v, h + at, 4);
        if (v == value) return i32(at);
    }
    return -1;
}

void zs_remove_ptr(u32 node, u32 value) {
    i32 at = zs_find_ptr(node, value);
    if (at >= 0) zs_remove_at(node, at, 4);
}

void zs_insert_int(u32 node, i32 index, u32 value) {
    SeriesBuffer* s = node_buffer(node);
    memory::alloc_tail_bytes(s, 4);   // room for one more entry, the tail moves past it
    u8* at = head(s) + 4 * i64(index);
    std::memmove(at + 4, at, size_t(tail(s) - at - 4));
    std::memcpy(at, &value, 4);
}

void zs_remove_at(u32 node, i32 byte_offset, i32 n) {
    SeriesBuffer* s = node_buffer(node);
    u8* at = head(s) + byte_offset;
    std::memmove(at, at + n, size_t(tail(s) - at - n));
    s->tail -= u32(n);
}

}  // namespace series
}  // namespace zir
