// Memory manager: see memory.hpp for the layout of nodes, buffers and frames.
#include "runtime/memory.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/platform.hpp"

namespace zir {
namespace memory {

MemoryRecord record;
u32 refuse_os_blocks = 0;
i64 os_ceiling = 0;
i64 bytes_left = -1;
uintptr_t* node_slots = nullptr;
NodeFrame* node_frames = nullptr;
u32 node_frame_count = 0;

namespace {

// Fixed series live outside the frames; they are given back with the frames.
std::vector<SeriesBuffer*> fixed_blocks;

constexpr u32 MAX_NODE_FRAMES = NODE_ID_LIMIT / NODE_FRAME_SLOTS;
constexpr u64 NODE_FRAME_BYTES = u64(NODE_FRAME_SLOTS) * sizeof(uintptr_t);

// Free slots hold the next free id shifted left, with the low bit set; 1 ends the list.
inline uintptr_t free_link(u32 next_id) { return (uintptr_t(next_id) << 1) | 1; }

inline u64 granule_round(u64 n) { return (n + OS_GRANULE - 1) & ~u64(OS_GRANULE - 1); }

[[noreturn]] void no_memory() { fire(ERR_INTERNAL, "no-memory"); }

// The bytes of `count` elements of `unit` bytes; past the longest series is
// out of memory.
inline i64 series_bytes(i64 count, u32 unit) {
    if (count < 0 || count > MAX_LENGTH) no_memory();
    i64 bytes = count * i64(unit);
    if (bytes > MAX_LENGTH - 15) no_memory();
    return bytes;
}

// Counts buffer bytes against the host's budget; past it is out of memory.
inline void charge(i64 bytes) {
    if (ZIR_UNLIKELY(bytes_left >= 0)) {
        if (bytes > bytes_left) no_memory();
        bytes_left -= bytes;
    }
}

inline u32 rounded_size(i64 bytes) { return u32((bytes + 15) & ~i64(15)); }

// The data size an expansion asks for: 0 doubles, and never less than what
// the buffer holds.
inline i64 expansion_size(const SeriesBuffer* s, i64 new_size) {
    if (new_size == 0) new_size = i64(s->size) * 2;
    if (new_size < 1) no_memory();
    if (new_size < i64(series::used_bytes(s))) new_size = series::used_bytes(s);
    return new_size;
}

// `growth` more bytes of blocks from the system: refused when the test hook
// says so or past the host's ceiling.
inline void check_os_growth(i64 growth) {
    if (ZIR_UNLIKELY(refuse_os_blocks)) {
        refuse_os_blocks--;
        no_memory();
    }
    if (ZIR_UNLIKELY(os_ceiling) && record.os_total + growth > os_ceiling) no_memory();
}

// Pages wholly inside the slot range of frame k (frames are not page aligned).
void frame_pages(u32 k, u8** first, u64* length) {
    u8* lo = reinterpret_cast<u8*>(&node_slots[u64(k) * NODE_FRAME_SLOTS + 1]);
    u8* hi = lo + NODE_FRAME_BYTES;
    uintptr_t a = (reinterpret_cast<uintptr_t>(lo) + OS_GRANULE - 1) & ~uintptr_t(OS_GRANULE - 1);
    uintptr_t b = reinterpret_cast<uintptr_t>(hi) & ~uintptr_t(OS_GRANULE - 1);
    *first = reinterpret_cast<u8*>(a);
    *length = b > a ? b - a : 0;
}

i32 new_node_frame() {
    u32 k = 0;
    while (k < node_frame_count && node_frames[k].present) k++;
    if (k == node_frame_count) {
        if (node_frame_count == MAX_NODE_FRAMES) no_memory();
        node_frame_count++;
    }
    u32 first = k * NODE_FRAME_SLOTS + 1;
    uintptr_t* slots = &node_slots[first];
    ZIR_UNPOISON(slots, NODE_FRAME_BYTES);
    // Every slot is written below: the pages are asked for together.
    u8* pages;
    u64 length;
    frame_pages(k, &pages, &length);
    platform::populate(pages, length);
    // Each slot links to the next id: the links step by two.
    static_assert((NODE_FRAME_SLOTS - 1) % 3 == 0);
    uintptr_t link = free_link(first + 1);
    for (u32 i = 0; i < NODE_FRAME_SLOTS - 1; i += 3, link += 6) {
        slots[i] = link;
        slots[i + 1] = link + 2;
        slots[i + 2] = link + 4;
    }
    slots[NODE_FRAME_SLOTS - 1] = free_link(0);

    NodeFrame& f = node_frames[k];
    f = NodeFrame{};
    f.capacity = NODE_FRAME_SLOTS;
    f.free_head = first;
    f.stamp = collector::stats.cycles;
    f.present = true;
    f.next = -1;
    f.prev = record.node_tail;
    if (record.node_tail >= 0) node_frames[record.node_tail].next = i32(k);
    else record.node_head = i32(k);
    record.node_tail = i32(k);
    record.os_total += i64(granule_round(NODE_FRAME_BYTES + OS_BLOCK_PREFIX));
    return i32(k);
}

}  // namespace

SeriesFrame* init_series_frame(void* block, u32 size) {
    auto* f = static_cast<SeriesFrame*>(block);
    f->total = u64(size) + sizeof(SeriesFrame);
    f->free = f->data();
    f->end = f->data() + size;
    f->pad = 0;
    f->next = f->prev = nullptr;
    return f;
}

void link_series_frame(SeriesFrame* f) {
    SeriesFrame* before = nullptr;
    for (SeriesFrame* p = record.series_head; p && p < f; p = p->next) before = p;
    f->prev = before;
    f->next = before ? before->next : record.series_head;
    if (f->next) f->next->prev = f;
    else record.series_tail = f;
    if (before) before->next = f;
    else record.series_head = f;
}

SeriesFrame* new_series_frame() {
    u32 size = record.next_frame_size;
    if (size < record.max_frame_size) {
        u64 doubled = u64(size) * 2;
        record.next_frame_size = u32(doubled < record.max_frame_size ? doubled : record.max_frame_size);
    }
    // The first frame is filled at once (booting the library alone fills
    // more than it holds): its pages are asked for together, not faulted in
    // one by one.
    bool first = record.series_head == nullptr;
    SeriesFrame* f = init_series_frame(os_alloc(u64(size) + sizeof(SeriesFrame), first), size);
    link_series_frame(f);
    if (!record.series_active) record.series_active = f;
    return f;
}

namespace {

SeriesFrame* find_series_frame(u64 total) {
    for (SeriesFrame* f = record.series_head; f; f = f->next)
        if (f->free + total < f->end) return f;
    return nullptr;
}

// Copies the flags of `from` onto a buffer that really lives where `to` lives.
inline u32 moved_flags(u32 from, u32 to) {
    return (from & ~(SERIES_BIG | SERIES_FIXED | SERIES_MARK)) | (to & SERIES_BIG);
}

// Expansion: answers the new buffer and, through `old`, the abandoned one.
SeriesBuffer* expand(SeriesBuffer* s, i64 new_size, SeriesBuffer** old) {
    u32 unit = series::unit_of(s);
    u32 node = s->node;
    new_size = expansion_size(s, new_size);
    SeriesBuffer* n = alloc_series_buffer((new_size + unit - 1) / unit, unit, 0);
    s = node_buffer(node);  // the allocation may have moved it
    n->flags = moved_flags(s->flags, n->flags);
    n->node = node;
    node_slots[node] = reinterpret_cast<uintptr_t>(n);
    n->tail = n->offset + series::used_bytes(s);
    s->node = 0;
    s->flags &= ~SERIES_IN_USE;
    *old = s;
    return n;
}

// A buffer alone in a big frame, grown where it lies: the system moves the
// frame's pages to a larger mapping, so the bytes already written are neither
// copied nor faulted in again (doubling a block of a million values copied
// and faulted twice its final size). The data comes to offset 0, as in a new
// buffer. Answers nullptr, having done nothing but count the allocation for
// the stress mode, when the system refuses; the caller then copies as for
// any buffer.
SeriesBuffer* grow_big(SeriesBuffer* s, i64 new_size) {
    u32 node = s->node;
    u32 unit = series::unit_of(s);
    collector::note_allocation();
    s = node_buffer(node);   // a stress collection moves big buffers
    if (!(s->flags & SERIES_BIG)) return nullptr;
    new_size = expansion_size(s, new_size);
    const u32 used = series::used_bytes(s);
    const i64 count = (new_size + unit - 1) / unit;
    if (count * i64(unit) <= i64(s->size)) return nullptr;   // (sizes are multiples of 16)
    BigFrame* b = reinterpret_cast<BigFrame*>(s) - 1;
    BigFrame* prev = nullptr;
    BigFrame* f = record.big_head;
    for (; f && f != b; f = f->next) prev = f;
    if (!f) return nullptr;
    const i64 bytes = series_bytes(count, unit);
    const u32 size = rounded_size(bytes);
    u8* block = reinterpret_cast<u8*>(b) - OS_BLOCK_PREFIX;
    const u64 aligned = *reinterpret_cast<u64*>(block);
    const u64 old_total = b->total;
    const u64 total = u64(size) + BUFFER_OVERHEAD;
    const u64 new_aligned = granule_round(total + sizeof(BigFrame) + OS_BLOCK_PREFIX);
    check_os_growth(i64(new_aligned) - i64(aligned));
    charge(bytes);
    u8* moved = static_cast<u8*>(platform::os_resize(block, aligned, new_aligned));
    if (!moved) {
        if (bytes_left >= 0) bytes_left += bytes;   // the copy will count them
        return nullptr;
    }
    *reinterpret_cast<u64*>(moved) = new_aligned;
    record.os_total += i64(new_aligned) - i64(aligned);
    auto* nb = reinterpret_cast<BigFrame*>(moved + OS_BLOCK_PREFIX);
    nb->total = total;
    if (prev) prev->next = nb;
    else record.big_head = nb;
    if (record.big_tail == b) record.big_tail = nb;
    collector::growth.allocated += total - old_total;
    SeriesBuffer* n = nb->buffer();
    if (n->offset) std::memmove(series::data(n), series::data(n) + n->offset, used);
    n->offset = 0;
    n->tail = used;
    n->size = size;
    node_slots[node] = reinterpret_cast<uintptr_t>(n);
    return n;
}

}  // namespace

// --- Set-up and exit -------------------------------------------------------

void init() {
    if (!node_slots) {
        const u64 table_bytes = u64(NODE_ID_LIMIT) * sizeof(uintptr_t);
        void* p = platform::reserve(table_bytes);
        if (!p) runtime::error_exit(94, nullptr);
        // Past the frames that a start-up and most scripts fill (small pages,
        // populated as each frame is made), the table is better in huge pages:
        // a program making a million series fills a hundred frames.
        constexpr u64 SMALL_PART = u64(2) << 20;
        platform::prefer_huge_pages(static_cast<u8*>(p) + SMALL_PART, table_bytes - SMALL_PART);
        node_slots = static_cast<uintptr_t*>(p);
        node_frames = static_cast<NodeFrame*>(std::calloc(MAX_NODE_FRAMES, sizeof(NodeFrame)));
        if (!node_frames) runtime::error_exit(94, nullptr);
    }
    record = MemoryRecord{};
    record.node_head = record.node_tail = record.node_active = record.node_scan = -1;
    record.frame_start_size = FIRST_FRAME_SIZE;
    record.next_frame_size = FIRST_FRAME_SIZE;
    record.max_frame_size = MAX_FRAME_SIZE;
}

void free_all_frames() {
    collector::forget_heap();
    for (i32 k = record.node_head; k >= 0;) {
        i32 next = node_frames[k].next;
        u8* pages;
        u64 length;
        frame_pages(u32(k), &pages, &length);
        if (length) madvise(pages, length, MADV_DONTNEED);
        node_frames[k].present = false;
        record.os_total -= i64(granule_round(NODE_FRAME_BYTES + OS_BLOCK_PREFIX));
        k = next;
    }
    node_frame_count = 0;
    for (SeriesFrame* f = record.series_head; f;) {
        SeriesFrame* next = f->next;
        os_free(f);
        f = next;
    }
    for (BigFrame* b = record.big_head; b;) {
        BigFrame* next = b->next;
        os_free(b);
        b = next;
    }
    for (SeriesBuffer* s : fixed_blocks) std::free(s);
    fixed_blocks.clear();
    init();
}

// --- OS blocks -------------------------------------------------------------

void* os_alloc(u64 size, bool populate) {
    u64 aligned = granule_round(size + OS_BLOCK_PREFIX);
    check_os_growth(i64(aligned));
    void* p = platform::os_alloc(aligned, false, populate);
    if (!p) no_memory();
    record.os_total += i64(aligned);
    *static_cast<u64*>(p) = aligned;
    return static_cast<u8*>(p) + OS_BLOCK_PREFIX;
}

void os_free(void* block) {
    u8* p = static_cast<u8*>(block) - OS_BLOCK_PREFIX;
    u64 aligned = *reinterpret_cast<u64*>(p);
    ZIR_UNPOISON(p, aligned);
    record.os_total -= i64(aligned);
    platform::os_free(p, aligned);
}

// --- Nodes -----------------------------------------------------------------

namespace {

// The first free id of the frames in list order, a new frame when none has
// one. Frames fill in list order and only a collection or free_node gives
// ids back, so the search goes on from where the last one stopped.
[[gnu::noinline]] u32 take_node_slow() {
    i32 k = record.node_scan >= 0 ? record.node_scan : record.node_head;
    while (k >= 0 && (node_frames[k].free_head == 0 || node_frames[k].release)) k = node_frames[k].next;
    if (k < 0) k = new_node_frame();
    record.node_active = k;
    record.node_scan = k;
    NodeFrame& f = node_frames[k];
    u32 id = f.free_head;
    f.free_head = u32(node_slots[id] >> 1);
    f.used++;
    return id;
}

// A free id off the active frame's list; its slot still holds the link,
// which the caller overwrites.
inline u32 take_node() {
    i32 k = record.node_active;
    if (ZIR_LIKELY(k >= 0)) {
        NodeFrame& f = node_frames[k];
        u32 id = f.free_head;
        if (ZIR_LIKELY(id != 0)) {
            f.free_head = u32(node_slots[id] >> 1);
            f.used++;
            return id;
        }
    }
    return take_node_slow();
}

}  // namespace

u32 alloc_node() {
    u32 id = take_node();
    node_slots[id] = 0;
    return id;
}

void free_node(u32 id) {
    record.node_scan = -1;
    NodeFrame& f = node_frames[(id - 1) / NODE_FRAME_SLOTS];
    node_slots[id] = free_link(f.free_head);
    f.free_head = id;
    f.used--;
}

// --- Series buffers --------------------------------------------------------

namespace {

// A big frame of its own for a buffer of `total` bytes.
[[gnu::noinline]] SeriesBuffer* place_big(u64 total) {
    collector::run_if_due();
    auto* b = static_cast<BigFrame*>(os_alloc(total + sizeof(BigFrame)));
    b->next = nullptr;
    b->link2 = 0;
    b->total = total;
    if (record.big_tail) record.big_tail->next = b;
    else record.big_head = b;
    record.big_tail = b;
    return b->buffer();
}

// Room for `total` bytes when the active frame has too little: the first
// frame that fits; when none does, a collection if the growth budget is
// used up, else (or when the collection left too little room) a new frame.
[[gnu::noinline]] SeriesBuffer* place_in_frames(u64 total) {
    SeriesFrame* f = find_series_frame(total);
    if (!f) {
        if (collector::run_if_due()) f = find_series_frame(total);
        if (!f || u64(f->end - f->free) < FRAME_REUSE_MIN_ROOM) {
            if (total >= record.next_frame_size) record.next_frame_size = record.max_frame_size;
            f = new_series_frame();
        }
    }
    record.series_active = f;
    auto* s = reinterpret_cast<SeriesBuffer*>(f->free);
    f->free += total;
    return s;
}

// A buffer with its header set and no node. The common case, a small buffer
// that fits in the active frame, is a bump of the frame's free pointer.
inline SeriesBuffer* new_buffer(i64 count, u32 unit, i32 offset_mode) {
    collector::note_allocation();
    const i64 bytes = series_bytes(count, unit);
    charge(bytes);
    u32 size = rounded_size(bytes);
    u64 total = u64(size) + BUFFER_OVERHEAD;

    SeriesBuffer* s;
    u32 flags = unit | SERIES_IN_USE | SERIES_ALLOCATED;
    SeriesFrame* f = record.series_active;
    if (ZIR_LIKELY(total < record.max_frame_size && f && f->free + total < f->end)) {
        s = reinterpret_cast<SeriesBuffer*>(f->free);
        f->free += total;
    } else if (total >= record.max_frame_size) {
        s = place_big(total);
        flags |= SERIES_BIG;
    } else {
        s = place_in_frames(total);
    }
    // The free end of a frame is poisoned after a collection in sanitizer builds.
    ZIR_UNPOISON(s, total);
    collector::growth.allocated += total;
    u32 offset;
    if (offset_mode == -1) {
        offset = size >> 1;
        flags |= SERIES_CENTRED;
    } else {
        offset = u32(offset_mode) <= size ? u32(offset_mode) : size;
    }
    *s = SeriesBuffer{flags, 0, size, offset, offset, 0};
    return s;
}

// A buffer and its node.
inline u32 new_series(i64 count, u32 unit, i32 offset_mode) {
    SeriesBuffer* s = new_buffer(count, unit, offset_mode);
    u32 node = take_node();
    node_slots[node] = reinterpret_cast<uintptr_t>(s);
    s->node = node;
    return node;
}

}  // namespace

SeriesBuffer* alloc_series_buffer(i64 count, u32 unit, i32 offset_mode) {
    return new_buffer(count, unit, offset_mode);
}

u32 alloc_series(i64 count, u32 unit, i32 offset_mode) { return new_series(count, unit, offset_mode); }

u32 alloc_cells(i64 n) { return alloc_series(n, 16, 0); }

u32 alloc_unset_cells(i64 n) {
    u32 node = alloc_series(n, 16, 0);
    SeriesBuffer* s = node_buffer(node);
    Cell* c = reinterpret_cast<Cell*>(series::data(s));
    for (u32 i = 0; i < s->size / 16; i++) cell::init(&c[i], TYPE_UNSET);
    return node;
}

u32 alloc_bytes(i64 n) { return alloc_series(n == 0 ? 16 : n, 1, 0); }

u32 alloc_codepoints(i64 n, u32 unit) { return alloc_series(n == 0 ? 16 / unit : n, unit, 0); }

u32 alloc_bytes_filled(i64 n, u8 byte) {
    u32 node = alloc_bytes(n);
    SeriesBuffer* s = node_buffer(node);
    std::memset(series::data(s), byte, s->size);
    return node;
}

u32 alloc_fixed_series(i64 count, u32 unit, i32 offset) {
    if (count < 0 || count > MAX_LENGTH) no_memory();
    i64 bytes = count * i64(unit);
    if (bytes > MAX_LENGTH - 15) no_memory();
    u32 size = u32((bytes + 15) & ~i64(15));
    auto* s = static_cast<SeriesBuffer*>(std::malloc(size + BUFFER_OVERHEAD));
    if (!s) runtime::error_exit(94, nullptr);
    fixed_blocks.push_back(s);
    s->flags = unit | SERIES_IN_USE | SERIES_ALLOCATED | SERIES_FIXED;
    s->size = size;
    s->pad = 0;
    s->offset = s->tail = u32(offset) <= size ? u32(offset) : size;
    u32 node = alloc_node();
    node_slots[node] = reinterpret_cast<uintptr_t>(s);
    s->node = node;
    return node;
}

void set_series_flag(u32 node, u32 bits) { node_buffer(node)->flags |= bits; }

// --- Expansion and copies --------------------------------------------------

SeriesBuffer* expand_series_raw(SeriesBuffer* s, i64 new_size) {
    SeriesBuffer* old;
    return expand(s, new_size, &old);
}

SeriesBuffer* expand_series(SeriesBuffer* s, i64 new_size) {
    if (s->flags & SERIES_BIG)
        if (SeriesBuffer* grown = grow_big(s, new_size)) return grown;
    SeriesBuffer* old;
    SeriesBuffer* n = expand(s, new_size, &old);
    std::memcpy(series::head(n), series::head(old), series::used_bytes(old));
    return n;
}

SeriesBuffer* expand_series_filled(SeriesBuffer* s, i64 new_size, u8 byte) {
    if (s->flags & SERIES_BIG) {
        u32 old_size = s->size;
        if (SeriesBuffer* grown = grow_big(s, new_size)) {
            std::memset(series::data(grown) + old_size, byte, grown->size - old_size);
            return grown;
        }
    }
    SeriesBuffer* old;
    SeriesBuffer* n = expand(s, new_size, &old);
    std::memcpy(series::head(n), series::head(old), series::used_bytes(old));
    if (old->size < n->size) std::memset(series::data(n) + old->size, byte, n->size - old->size);
    return n;
}

u32 copy_series(SeriesBuffer* s) {
    u32 src = s->node;
    u32 node = alloc_series(s->size, 1, 0);
    s = node_buffer(src);
    SeriesBuffer* n = node_buffer(node);
    n->flags = moved_flags(s->flags, n->flags) & ~SERIES_LIBRARY;
    n->tail = n->offset + series::used_bytes(s);
    if (s->size) std::memcpy(series::head(n), series::head(s), series::used_bytes(s));
    return node;
}

namespace {

// Copies between two buffers; 4 to 16 bytes (a word, a short string) are two
// overlapping loads and stores instead of a call.
inline void copy_bytes(u8* to, const u8* from, u64 n) {
    if (n - 4 <= 12) {
        if (n >= 8) {
            u64 a, b;
            std::memcpy(&a, from, 8);
            std::memcpy(&b, from + n - 8, 8);
            std::memcpy(to, &a, 8);
            std::memcpy(to + n - 8, &b, 8);
        } else {
            u32 a, b;
            std::memcpy(&a, from, 4);
            std::memcpy(&b, from + n - 4, 4);
            std::memcpy(to, &a, 4);
            std::memcpy(to + n - 4, &b, 4);
        }
    } else {
        std::memcpy(to, from, n);
    }
}

}  // namespace

u32 copy_series_part(SeriesBuffer* s, i64 index, i64 n) {
    u32 src = s->node;
    u32 unit = series::unit_of(s);
    u32 node = alloc_series(n, unit, 0);
    s = node_buffer(src);
    SeriesBuffer* c = node_buffer(node);
    c->flags = moved_flags(s->flags, c->flags) & ~(SERIES_OWNED | SERIES_LIBRARY);
    u64 bytes = u64(n) * unit;
    copy_bytes(series::head(c), series::head(s) + u64(index) * unit, bytes);
    c->tail = c->offset + u32(bytes);
    return node;
}

void fill(u8* begin, u8* end, u8 byte) {
    if (end > begin) std::memset(begin, byte, size_t(end - begin));
}

void clear_words(u32* first, u32* last) {
    do *first++ = 0;
    while (first < last);
}

u8* fill_repeat(u8* start, i64 n, i64 count) {
    i64 total = n * count;
    i64 filled = n;
    if (filled <= 0) return start;   // nothing to repeat
    while (filled * 2 <= total) {
        std::memcpy(start + filled, start, size_t(filled));
        filled *= 2;
    }
    if (filled < total) std::memcpy(start + filled, start, size_t(total - filled));
    return start + total;
}

// --- Appending at the tail -------------------------------------------------

Cell* alloc_tail_buffer(SeriesBuffer*& s) {
    if (s->tail + 16 > s->size) s = expand_series(s, i64(s->size) * 2 > 0 ? i64(s->size) * 2 : 16);
    Cell* c = reinterpret_cast<Cell*>(series::tail(s));
    c->header = TYPE_UNSET;
    s->tail += 16;
    return c;
}

Cell* alloc_tail(Cell* block) {
    SeriesBuffer* s = node_buffer(block->w2);
    return alloc_tail_buffer(s);
}

u8* alloc_tail_bytes(SeriesBuffer*& s, i64 n) {
    if (i64(s->tail) + n > i64(s->size)) {
        i64 size = i64(s->size) < n ? n * 2 : i64(s->size) * 2;
        s = expand_series(s, size);
    }
    u8* p = series::tail(s);
    s->tail += u32(n);
    return p;
}

// --- Frame maintenance -----------------------------------------------------

void unlink_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else record.series_head = f->next;
    if (f->next) f->next->prev = f->prev;
    else record.series_tail = f->prev;
    if (record.series_active == f) record.series_active = record.series_head;
    f->next = f->prev = nullptr;
}

void release_series_frame(SeriesFrame* f) {
    unlink_series_frame(f);
    os_free(f);
}

void sweep_node_frames() {
    for (i32 k = record.node_head; k >= 0;) {
        NodeFrame& f = node_frames[k];
        i32 next = f.next;
        if (f.used == 0 || f.release) {
            if (f.prev >= 0) node_frames[f.prev].next = f.next;
            else record.node_head = f.next;
            if (f.next >= 0) node_frames[f.next].prev = f.prev;
            else record.node_tail = f.prev;
            u8* pages;
            u64 length;
            frame_pages(u32(k), &pages, &length);
            if (length) madvise(pages, length, MADV_DONTNEED);
            ZIR_POISON(&node_slots[u64(k) * NODE_FRAME_SLOTS + 1], NODE_FRAME_BYTES);
            f.present = false;
            record.os_total -= i64(granule_round(NODE_FRAME_BYTES + OS_BLOCK_PREFIX));
        } else {
            f.history = (f.history << 1) | (f.used == f.prev_count ? 1u : 0u);
            f.prev_count = f.used;
        }
        k = next;
    }
    record.node_active = record.node_scan = -1;
    for (i32 k = record.node_head; k >= 0; k = node_frames[k].next) {
        if (node_frames[k].free_head != 0) {
            record.node_active = k;
            break;
        }
    }
}

void clear_fixed_marks() {
    for (SeriesBuffer* s : fixed_blocks) s->flags &= ~SERIES_MARK;
}

// --- Statistics ------------------------------------------------------------

i64 frame_total() {
    i64 total = 0;
    for (i32 k = record.node_head; k >= 0; k = node_frames[k].next)
        total += i64(node_frames[k].used) * i64(sizeof(uintptr_t));
    for (SeriesFrame* f = record.series_head; f; f = f->next) total += f->free - f->data();
    for (BigFrame* b = record.big_head; b; b = b->next) total += i64(b->total);
    return total;
}

void frame_stats(void (*visit)(int kind, const FrameStat& s, void* ctx), void* ctx) {
    for (i32 k = record.node_head; k >= 0; k = node_frames[k].next) {
        const NodeFrame& f = node_frames[k];
        visit(0, FrameStat{i64(f.capacity - f.used), i64(f.used), i64(f.capacity)}, ctx);
    }
    for (SeriesFrame* f = record.series_head; f; f = f->next)
        visit(1, FrameStat{f->end - f->free, f->free - f->data(), f->end - f->data()}, ctx);
    for (BigFrame* b = record.big_head; b; b = b->next) visit(2, FrameStat{0, 0, i64(b->total)}, ctx);
}

}  // namespace memory
}  // namespace zir
