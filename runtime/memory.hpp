// Memory manager: nodes, series buffers and the frames they are carved from.
//
// Values never hold the address of a buffer. They hold a node: a 32-bit id
// naming one slot of the node table, and the slot holds the buffer's current
// address. A buffer may therefore move (when it grows, or when the collector
// compacts a frame) and every value that refers to it follows. The buffer
// points back to its node, so the collector can fix the slot after a move.
//
// The node table is one virtual range reserved at start-up, large enough for
// every id a 32-bit payload word can carry that we will ever hand out; the slot
// of id n is base + 8n, so nodes never move. The range is cut into node frames
// of NODE_FRAME_SLOTS slots, committed when first used and given back to the
// system (madvise) when the collector finds one empty. A free slot holds the
// next free id shifted left by one with the low bit set; a used slot holds a
// buffer address, which is 8-byte aligned, so the two cannot be confused.
//
// Series buffers are bump-allocated from series frames (1 MiB first, 2 MiB
// afterwards). A buffer is a 24-byte header followed by its data:
//   flags, node, size (bytes of data, a multiple of 16), offset and tail (byte
//   offsets of the first used byte and past the last used byte, relative to the
//   data), and a pad word that keeps the data 8-byte aligned (cells hold doubles).
// Keeping offset and tail relative lets the collector move a buffer with one
// memmove and a slot update. A buffer whose total reaches MAX_FRAME_SIZE gets a
// big frame of its own; fixed series are malloc'd and never move.
#pragma once

#include "runtime/cell.hpp"

namespace zir {

struct SeriesBuffer {
    u32 flags;
    u32 node;
    u32 size;
    u32 offset;
    u32 tail;
    u32 pad;
};
static_assert(sizeof(SeriesBuffer) == 24);

// Bits of SeriesBuffer::flags.
constexpr u32 SERIES_UNIT_MASK = 0x1F;       // element width: 1, 2 or 4 (text, bytes), 16 (cells)
constexpr u32 SERIES_TABLE = 0x100;          // the record of a hash table
constexpr u32 SERIES_OWNED = 0x20000;        // owned by an object
constexpr u32 SERIES_LIBRARY = 0x40000;      // code of the library: untraced, never a `near` (copies lose it)
constexpr u32 SERIES_COMPLEMENT = 0x80000;   // complemented bitset
constexpr u32 SERIES_FIXED = 0x100000;       // malloc'd outside the frames, never moved nor reclaimed
constexpr u32 SERIES_BIG = 0x1000000;        // lives in a big frame
constexpr u32 SERIES_MARK = 0x8000000;       // collector mark
constexpr u32 SERIES_CENTRED = 0x10000000;   // allocated with its offset in the middle of the data
constexpr u32 SERIES_ALLOCATED = 0x20000000; // set on every buffer at allocation
constexpr u32 SERIES_IN_USE = 0x80000000;    // cleared on the buffer abandoned by an expansion

// Layout constants of the frames.
constexpr u32 NODE_FRAME_SLOTS = 10000;
constexpr u32 NODE_ID_LIMIT = 1u << 28;            // reserved slots of the node table
constexpr u32 OS_GRANULE = 4096;
// What booting the library and the console fill (1.2 MiB) and more: the
// first frame is populated at once (see new_series_frame), and sized so that
// its block is one 2 MiB huge page where the system gives them.
constexpr u32 FIRST_FRAME_SIZE = 0x200000 - 48 - 16;
constexpr u32 MAX_FRAME_SIZE = 0x200000;           // 2 MiB: buffers this large get a big frame
constexpr u32 FRAME_REUSE_MIN_ROOM = 0xCCCC;       // 52,428: below this, a frame found after a
                                                    // collection is too full to be worth reusing
constexpr u32 BUFFER_OVERHEAD = sizeof(SeriesBuffer);

// An OS block carries its aligned size in a 16-byte prefix (data stays 16-aligned).
constexpr u32 OS_BLOCK_PREFIX = 16;

struct SeriesFrame {
    SeriesFrame* next;
    SeriesFrame* prev;
    u64 total;      // bytes of the block handed to the frame
    u8* free;       // next unallocated byte
    u8* end;        // past the data area
    u64 pad;
    u8* data() { return reinterpret_cast<u8*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) % 8 == 0);
static_assert(FIRST_FRAME_SIZE + sizeof(SeriesFrame) + OS_BLOCK_PREFIX == 0x200000);

struct BigFrame {
    BigFrame* next;
    u64 link2;      // always 0
    u64 total;      // the buffer's total size (header + data)
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigFrame) % 8 == 0);

// Node frame bookkeeping. Frame k covers the ids k * NODE_FRAME_SLOTS + 1 ..
// (k + 1) * NODE_FRAME_SLOTS; id 0 is never handed out.
struct NodeFrame {
    i32 next;           // frame index, -1 ends the list
    i32 prev;
    u32 capacity;
    u32 free_head;      // first free id, 0 when none
    u32 used;
    u32 stamp;          // collection count when the frame was made
    u32 prev_count;     // used count seen at the previous collection
    u32 history;        // one bit per collection: count unchanged
    u32 release;        // 1 while the collector empties the frame
    bool present;       // committed and on the list
};

struct MemoryRecord {
    i64 os_total;               // aligned bytes of all OS blocks currently held
    i32 node_head, node_tail, node_active;   // node-frame list (frame indexes)
    i32 node_scan;              // frames before it in the list have no free slot (-1: the head)
    SeriesFrame* series_head;
    SeriesFrame* series_active;
    SeriesFrame* series_tail;
    u32 frame_start_size;
    u32 next_frame_size;
    u32 max_frame_size;
    BigFrame* big_head;
    BigFrame* big_tail;
};

namespace memory {

extern MemoryRecord record;
extern uintptr_t* node_slots;   // slot of id n is node_slots[n]
extern NodeFrame* node_frames;  // indexed by frame number
extern u32 node_frame_count;    // frames ever created (high-water mark of indexes)

void init();
void free_all_frames();

// OS blocks (mmap); the size stored in front of the block is its aligned size.
// `populate`: see platform::os_alloc.
void* os_alloc(u64 size, bool populate = false);
void os_free(void* block);
// Test hook: the next n OS blocks are refused, as when the system has no memory.
extern u32 refuse_os_blocks;
// Bounds for a host that runs code it does not trust: a ceiling on the
// bytes of OS blocks held at once (0: none), and the bytes of series buffers
// that may still be allocated (negative: no bound), each buffer counting its
// data. A block or buffer past them is refused the same way.
extern i64 os_ceiling;
extern i64 bytes_left;

u32 alloc_node();
void free_node(u32 id);

SeriesBuffer* alloc_series_buffer(i64 count, u32 unit, i32 offset_mode);
u32 alloc_series(i64 count, u32 unit, i32 offset_mode);
u32 alloc_cells(i64 n);
u32 alloc_unset_cells(i64 n);
u32 alloc_bytes(i64 n);
u32 alloc_codepoints(i64 n, u32 unit);
u32 alloc_bytes_filled(i64 n, u8 byte);
u32 alloc_fixed_series(i64 count, u32 unit, i32 offset);
void set_series_flag(u32 node, u32 bits);

SeriesBuffer* expand_series_raw(SeriesBuffer* s, i64 new_size);
SeriesBuffer* expand_series(SeriesBuffer* s, i64 new_size);
SeriesBuffer* expand_series_filled(SeriesBuffer* s, i64 new_size, u8 byte);
u32 copy_series(SeriesBuffer* s);
u32 copy_series_part(SeriesBuffer* s, i64 index, i64 n);

void fill(u8* begin, u8* end, u8 byte);
void clear_words(u32* first, u32* last);
// Repeats the n bytes at `start` until n * count bytes are filled; answers the
// address past them. The room must be there.
u8* fill_repeat(u8* start, i64 n, i64 count);

// Appending at the tail, expanding when full. The buffer answered may differ
// from the one given: callers use the answered one.
Cell* alloc_tail(Cell* block);
// A new cell at the tail of a block, of `type` with word 1 as its only payload.
inline Cell* make_scalar_in(Cell* block, u32 type, u32 w1 = 0) {
    Cell* c = alloc_tail(block);
    cell::init(c, type);
    c->w1 = w1;
    return c;
}
Cell* alloc_tail_buffer(SeriesBuffer*& s);
u8* alloc_tail_bytes(SeriesBuffer*& s, i64 n);

// Frame statistics: the total in bytes, or one [free used total] triple per
// frame (node frames in slots, series frames in bytes, big frames: [total]).
struct FrameStat { i64 free, used, total; };
i64 frame_total();
void frame_stats(void (*visit)(int kind, const FrameStat& s, void* ctx), void* ctx);

// Node frames as the collector sees them.
inline bool slot_is_free(uintptr_t slot) { return (slot & 1) != 0; }

// --- Frame maintenance, for the collector -----------------------------------

// A frame of the next frame size, linked into the list.
SeriesFrame* new_series_frame();
// Lays out an empty frame of `size` data bytes in an OS block of
// size + sizeof(SeriesFrame) bytes; the frame is not on the list yet.
SeriesFrame* init_series_frame(void* block, u32 size);
// Links a frame into the list, which stays in address order.
void link_series_frame(SeriesFrame* f);
// Unlinks a series frame and gives it back to the system.
void release_series_frame(SeriesFrame* f);
// Unlinks a series frame without giving it back (the caller owns the block).
void unlink_series_frame(SeriesFrame* f);
// Gives back every node frame with no used slot, updates the history words and
// picks an active frame that has a free slot.
void sweep_node_frames();
// Clears the collector's mark on every fixed series.
void clear_fixed_marks();

}  // namespace memory

// --- Buffer access -------------------------------------------------------

inline SeriesBuffer* node_buffer(u32 node) {
    return reinterpret_cast<SeriesBuffer*>(memory::node_slots[node]);
}

namespace series {

inline u32 unit_of(const SeriesBuffer* s) { return s->flags & SERIES_UNIT_MASK; }
inline u32 unit_shift(u32 unit) { return u32(__builtin_ctz(unit)); }
inline u8* data(SeriesBuffer* s) { return reinterpret_cast<u8*>(s + 1); }
inline const u8* data(const SeriesBuffer* s) { return reinterpret_cast<const u8*>(s + 1); }
inline u8* head(SeriesBuffer* s) { return data(s) + s->offset; }
inline u8* tail(SeriesBuffer* s) { return data(s) + s->tail; }
inline u8* end(SeriesBuffer* s) { return data(s) + s->size; }
inline Cell* head_cells(SeriesBuffer* s) { return reinterpret_cast<Cell*>(head(s)); }
inline Cell* tail_cells(SeriesBuffer* s) { return reinterpret_cast<Cell*>(tail(s)); }
inline u32 used_bytes(const SeriesBuffer* s) { return s->tail - s->offset; }
inline i32 length_of(const SeriesBuffer* s) {
    return i32(used_bytes(s) >> unit_shift(unit_of(s)));
}

}  // namespace series

}  // namespace zir
