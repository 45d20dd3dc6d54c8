// Garbage collector: see collector.hpp.
#include "runtime/collector.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/handle_table.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"

namespace zir {
namespace collector {

bool active = false;
Stats stats = {};
Growth growth = {0, GROWTH_FLOOR, 0};
u32 growth_percent = GROWTH_PERCENT;
u64 growth_floor = GROWTH_FLOOR;
u32 stress_period = 0;
void (*mark_image_hook)(const Cell* image) = nullptr;
void (*moved_hook)() = nullptr;

namespace {

std::atomic<bool> busy{false};

std::vector<MarkCallback> callbacks;
std::vector<Cell*> root_cells;
std::vector<u32*> root_nodes;
std::vector<std::pair<const Cell*, size_t>> root_ranges;

// Cell series whose cells are still to be marked: a stack whose push is a
// compare and a store, so that marking a word's context costs no call.
struct Worklist {
    std::vector<u32> items;
    size_t count = 0;

    [[gnu::noinline]] void grow() { items.resize(items.empty() ? 1024 : items.size() * 2); }
    void push(u32 node) {
        if (ZIR_UNLIKELY(count == items.size())) grow();
        items[count++] = node;
    }
    bool empty() const { return count == 0; }
    u32 pop() { return items[--count]; }
    void clear() { count = 0; }
};
Worklist worklist;
// Nodes of dead buffers, given back after the sweep.
std::vector<u32> release_queue;

u32 stress_count = 0;

// Stress mode: freed node ids wait this many collections (slots poisoned)
// before they can be handed out again, and the series and big frames left
// behind by an evacuation stay mapped but poisoned as long.
constexpr int QUARANTINE_CYCLES = 3;
std::vector<u32> held_nodes[QUARANTINE_CYCLES];
std::vector<void*> held_blocks[QUARANTINE_CYCLES];   // OS blocks

// Header bits read while marking.
constexpr u32 CONTEXT_ON_STACK = 1u << 22;   // values live on the value stack
constexpr u32 EVENT_HAS_BLOCK = 0x10000;

// The marking kind of every header type byte, copied out of the type table
// into one dense array: the collector's inner loop reads it for every cell.
u8 mark_kind[256];

void init_mark_kinds() {
    for (u32 t = 0; t < TYPE_TOTAL; t++) mark_kind[t] = type_table[t].mark;
}

// Marks the buffer of a node; true the first time.
[[gnu::always_inline]] inline bool keep_node(u32 node) {
    if (!node) return false;
    SeriesBuffer* s = node_buffer(node);
    if (s->flags & SERIES_MARK) return false;
    s->flags |= SERIES_MARK;
    return true;
}

// Marks a block's buffer and, the first time, queues its cells.
[[gnu::always_inline]] inline void block_node(u32 node) {
    if (keep_node(node)) worklist.push(node);
}

// Marks what one cell refers to. Inlined into the loops over cells: most
// cells of a large block are scalars, strings, blocks or words. Runs of
// words mostly share one context: `context` is the last one marked by the
// loop, which need not be looked at again.
[[gnu::always_inline]] inline void mark_cell(const Cell* c, u32& context) {
    using namespace type_traits;
    switch (mark_kind[TYPE_OF(c)]) {
        case MARK_NOTHING:
            break;
        case MARK_CELLS:
            block_node(c->w2);
            break;
        case MARK_TEXT:
            keep_node(c->w2);
            keep_node(c->w3);
            break;
        case MARK_SYMBOL:
            keep_node(c->w3);
            keep_node(c->w2);
            break;
        case MARK_CONTEXT:
            hash_table::mark(c->w1);
            if (!(c->header & CONTEXT_ON_STACK)) block_node(c->w2);
            break;
        case MARK_WORD:
            if (c->w1 != context) {
                block_node(c->w1);
                context = c->w1;
            }
            break;
        case MARK_NATIVE:
            block_node(c->w2);
            block_node(c->w3);
            break;
        case MARK_OP: {
            block_node(c->w2);
            block_node(c->w3);
            u32 from = (c->header >> 16) & 0xFF;
            if (from == TYPE_FUNCTION || from == TYPE_ROUTINE) block_node(c->w1);
            break;
        }
        case MARK_FUNCTION:
            block_node(c->w1);
            block_node(c->w2);
            block_node(c->w3);
            break;
        case MARK_BYTES:
            keep_node(c->w2);
            break;
        case MARK_OBJECT:
            block_node(c->w1);
            // A change-handlers record names the specs whose locals it
            // counted: they live as long as it does, so a spec node it holds
            // is never given to another spec.
            if (keep_node(c->w3)) {
                const Cell* h = reinterpret_cast<const Cell*>(series::head(node_buffer(c->w3)));
                for (int i = 0; i < 2; i++)
                    if (h[i].w3) block_node(h[i].w3);
            }
            break;
        case MARK_INDEXED:
            block_node(c->w2);
            hash_table::mark(c->w3);
            break;
        case MARK_HANDLE:
            if (i32(c->w3) >= 0) handle_table::mark_held(i32(c->w3), c->w1 >> handle_table::GENERATION_SHIFT);
            break;
        case MARK_IMAGE:
            if (c->w2) {
                keep_node(c->w2);
                if (mark_image_hook) mark_image_hook(c);
            }
            break;
        case MARK_EVENT:
            if ((c->w3 & EVENT_HAS_BLOCK) && c->w2) block_node(c->w2);
            break;
    }
}

// The cells of the blocks kept so far.
void drain() {
    u32 context = 0;
    while (!worklist.empty()) {
        u32 node = worklist.pop();
        SeriesBuffer* s = node_buffer(node);
        const Cell* c = reinterpret_cast<const Cell*>(series::head(s));
        const Cell* last = reinterpret_cast<const Cell*>(series::tail(s));
        for (; c < last; c++) mark_cell(c, context);
    }
}

void mark_cell(const Cell* c) {
    u32 context = 0;
    mark_cell(c, context);
}

void mark_roots() {
    for (Cell* c : root_cells) mark_cell(c);
    for (const auto& [first, count] : root_ranges) mark_values(first, first + count);
    mark_errors_in_flight();
    for (u32* n : root_nodes) {
        if (!*n) continue;
        u32 flags = node_buffer(*n)->flags;
        if (flags & SERIES_TABLE) hash_table::mark(*n);
        else if ((flags & SERIES_UNIT_MASK) == 16) mark_block(*n);
        else keep(*n);
    }
    drain();
    for (MarkCallback cb : callbacks) {
        if (cb) {
            cb();
            drain();
        }
    }
    ownership::mark_entries();
}

inline bool buffer_live(const SeriesBuffer* b) { return (b->flags & (SERIES_IN_USE | SERIES_MARK)) == (SERIES_IN_USE | SERIES_MARK); }
inline u64 buffer_total(const SeriesBuffer* b) { return u64(b->size) + BUFFER_OVERHEAD; }

// Queues the node of a dead buffer; abandoned buffers (node 0) have none.
inline void queue_dead(SeriesBuffer* b) {
    if ((b->flags & SERIES_IN_USE) && b->node) release_queue.push_back(b->node);
}

// After a run of buffers moved to `to`, their node slots follow them.
void repoint(u8* to, u64 length) {
    for (u8* p = to; p < to + length;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        b->flags &= ~SERIES_MARK;
        memory::node_slots[b->node] = reinterpret_cast<uintptr_t>(b);
        p += buffer_total(b);
    }
}

// The free end of a frame holds nothing until allocated again: sanitizer
// builds poison it, so a pointer left there by a moved or dead buffer faults.
inline void poison_free_end(SeriesFrame* f) { ZIR_POISON(f->free, size_t(f->end - f->free)); }

// Slides the live buffers of every frame together, moving runs into the
// previous frame's free room when it is large enough.
void compact() {
    SeriesFrame* active_frame = memory::record.series_active;
    SeriesFrame* prev = nullptr;
    for (SeriesFrame* f = memory::record.series_head; f;) {
        SeriesFrame* next = f->next;
        u8* p = f->data();
        u8* end = f->free;
        u8* dst = f->data();
        bool to_prev = prev && u64(prev->end - prev->free) > FRAME_REUSE_MIN_ROOM;
        while (p < end) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            if (!buffer_live(b)) {
                queue_dead(b);
                p += buffer_total(b);
                continue;
            }
            // The run's marks are cleared as it is measured; its node slots
            // change only when it moves.
            u8* run = p;
            do {
                b->flags &= ~SERIES_MARK;
                p += buffer_total(b);
                b = reinterpret_cast<SeriesBuffer*>(p);
            } while (p < end && buffer_live(b));
            u64 length = u64(p - run);
            if (to_prev && prev->free + length < prev->end) {
                ZIR_UNPOISON(prev->free, length);
                std::memmove(prev->free, run, length);
                repoint(prev->free, length);
                prev->free += length;
            } else {
                to_prev = false;
                if (dst != run) {
                    std::memmove(dst, run, length);
                    repoint(dst, length);
                }
                dst += length;
            }
        }
        f->free = dst;
        if (dst == f->data() && next != nullptr) {
            if (f == active_frame) active_frame = nullptr;
            memory::release_series_frame(f);
        } else {
            if (prev) poison_free_end(prev);
            prev = f;
        }
        f = next;
    }
    if (prev) poison_free_end(prev);
    memory::record.series_active = active_frame ? active_frame : memory::record.series_head;
}

// Stress mode: blocks left behind by an evacuation wait poisoned in the
// quarantine, the oldest generation being given back at each collection.
void hold(void* block) { held_blocks[0].push_back(block); }

[[maybe_unused]] void age_quarantine() {
    for (void* block : held_blocks[QUARANTINE_CYCLES - 1]) memory::os_free(block);
    held_blocks[QUARANTINE_CYCLES - 1].clear();
    for (int i = QUARANTINE_CYCLES - 1; i > 0; i--) held_blocks[i].swap(held_blocks[i - 1]);
}

// Takes `count` OS blocks of the sizes `size_of(i)` answers, all or none: a
// collection must not be left half done by an out-of-memory raise.
template <class SizeOf>
bool take_blocks(std::vector<void*>& blocks, size_t count, SizeOf size_of) {
    blocks.reserve(count);
    try {
        while (blocks.size() < count) blocks.push_back(memory::os_alloc(size_of(blocks.size())));
    } catch (const LanguageError&) {
        for (void* block : blocks) memory::os_free(block);
        blocks.clear();
        return false;
    }
    return true;
}

// Stress mode: every live buffer moves to fresh frames; the old frames stay
// mapped but poisoned for a few collections, so a stale address faults. The
// fresh frames are all taken before anything moves; when the system refuses
// them, nothing has moved and the collection compacts instead (false).
bool evacuate() {
    const u32 size = memory::record.max_frame_size;
    // Where the live buffers will go, packed in order as the copy below does.
    size_t needed = 0;
    u64 room = 0;
    for (SeriesFrame* f = memory::record.series_head; f; f = f->next) {
        for (u8* p = f->data(); p < f->free;) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            u64 total = buffer_total(b);
            if (buffer_live(b)) {
                if (needed == 0 || total >= room) {
                    needed++;
                    room = size;
                }
                room -= total;
            }
            p += total;
        }
    }
    std::vector<void*> fresh;
    if (!take_blocks(fresh, needed, [&](size_t) { return u64(size) + sizeof(SeriesFrame); })) return false;

    SeriesFrame* old = memory::record.series_head;
    memory::record.series_head = memory::record.series_tail = memory::record.series_active = nullptr;
    size_t taken = 0;
    SeriesFrame* to = nullptr;
    for (SeriesFrame* f = old; f;) {
        SeriesFrame* next = f->next;
        for (u8* p = f->data(); p < f->free;) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            u64 total = buffer_total(b);
            if (buffer_live(b)) {
                if (!to || to->free + total >= to->end) {
                    to = memory::init_series_frame(fresh[taken++], size);
                    memory::link_series_frame(to);
                }
                std::memcpy(to->free, b, total);
                repoint(to->free, total);
                to->free += total;
            } else {
                queue_dead(b);
            }
            p += total;
        }
        ZIR_POISON(f->data(), size_t(f->end - f->data()));
        hold(f);
        f = next;
    }
    for (SeriesFrame* f = memory::record.series_head; f; f = f->next) poison_free_end(f);
    memory::record.series_active = to;
    return true;
}

void sweep_big_frames() {
    BigFrame* prev = nullptr;
    for (BigFrame* b = memory::record.big_head; b;) {
        BigFrame* next = b->next;
        SeriesBuffer* s = b->buffer();
        if (buffer_live(s)) {
            s->flags &= ~SERIES_MARK;
            prev = b;
        } else {
            queue_dead(s);
            if (prev) prev->next = next;
            else memory::record.big_head = next;
            if (memory::record.big_tail == b) memory::record.big_tail = prev;
            memory::os_free(b);
        }
        b = next;
    }
}

// Stress mode, after the sweep: every big buffer left (all live) moves to a
// big frame of its own, the old frame held poisoned. When the system refuses
// the new frames they all stay where they are.
void move_big_frames() {
    std::vector<BigFrame*> old;
    for (BigFrame* b = memory::record.big_head; b; b = b->next) old.push_back(b);
    std::vector<void*> fresh;
    if (!take_blocks(fresh, old.size(), [&](size_t i) { return old[i]->total + sizeof(BigFrame); })) return;
    BigFrame* last = nullptr;
    for (size_t i = 0; i < old.size(); i++) {
        auto* n = static_cast<BigFrame*>(fresh[i]);
        n->next = nullptr;
        n->link2 = 0;
        n->total = old[i]->total;
        std::memcpy(n->buffer(), old[i]->buffer(), n->total);
        repoint(reinterpret_cast<u8*>(n->buffer()), n->total);
        if (last) last->next = n;
        else memory::record.big_head = n;
        last = n;
        ZIR_POISON(old[i], sizeof(BigFrame) + old[i]->total);
        hold(old[i]);
    }
    memory::record.big_tail = last;
}

void release_queued_nodes() {
    if constexpr (STRESS) {
        for (u32 id : held_nodes[QUARANTINE_CYCLES - 1]) {
            ZIR_UNPOISON(&memory::node_slots[id], sizeof(uintptr_t));
            memory::free_node(id);
        }
        for (int i = QUARANTINE_CYCLES - 1; i > 0; i--) held_nodes[i].swap(held_nodes[i - 1]);
        held_nodes[0].clear();
        for (u32 id : release_queue) {
            memory::node_slots[id] = 0;
            ZIR_POISON(&memory::node_slots[id], sizeof(uintptr_t));
            held_nodes[0].push_back(id);
        }
    } else {
        for (u32 id : release_queue) memory::free_node(id);
    }
    release_queue.clear();
}

// A collection left by a raise (a mark callback, the image hook or a handle's
// release function raising; nothing the collector itself calls raises once
// buffers move) has marked buffers and queued work: all of it is dropped, so
// that the next collection traces everything again and keeps nothing for a
// mark this one left behind.
void abandon_marks() {
    worklist.clear();
    release_queue.clear();
    for (SeriesFrame* f = memory::record.series_head; f; f = f->next)
        for (u8* p = f->data(); p < f->free; p += buffer_total(reinterpret_cast<SeriesBuffer*>(p)))
            reinterpret_cast<SeriesBuffer*>(p)->flags &= ~SERIES_MARK;
    for (BigFrame* b = memory::record.big_head; b; b = b->next) b->buffer()->flags &= ~SERIES_MARK;
    memory::clear_fixed_marks();
}

// Holds `busy` for the length of a collection and drops it on every way out.
class CycleGuard {
public:
    CycleGuard() : raised_before(std::uncaught_exceptions()) { busy.store(true, std::memory_order_seq_cst); }
    ~CycleGuard() {
        if (std::uncaught_exceptions() > raised_before) abandon_marks();
        busy.store(false, std::memory_order_seq_cst);
    }
    CycleGuard(const CycleGuard&) = delete;
    CycleGuard& operator=(const CycleGuard&) = delete;

private:
    int raised_before;
};

// The next collection is due after allocating a share of what is live now.
void set_budget() {
    growth.live = u64(memory::frame_total());
    u64 share = growth.live * growth_percent / 100;
    growth.budget = share > growth_floor ? share : growth_floor;
    growth.allocated = 0;
}

[[noreturn]] void guard_out_of_order(const char* guard) {
    std::fprintf(stderr, "*** collector: a %s guard was released while a later one was still held\n", guard);
    std::abort();
}

}  // namespace

bool busy_q() { return busy.load(std::memory_order_seq_cst); }

bool run_if_active() {
    if (!active || busy_q()) return false;
    do_cycle();
    return true;
}

bool run_if_due() { return growth.allocated >= growth.budget && run_if_active(); }

void stress_tick() {
    if (stress_period && ++stress_count >= stress_period) {
        stress_count = 0;
        run_if_active();
    }
}

u32 do_cycle() {
    if (!mark_kind[TYPE_BLOCK]) init_mark_kinds();
    CycleGuard guard;
    mark_roots();
    handle_table::sweep();
    ownership::sweep();
    bool evacuated = evacuating_cycle(stats.cycles) && evacuate();
    if (!evacuated) compact();
    sweep_big_frames();
    if (evacuated) move_big_frames();
    if constexpr (STRESS) age_quarantine();
    release_queued_nodes();
    memory::sweep_node_frames();
    memory::clear_fixed_marks();
    if (moved_hook) moved_hook();
    stats.cycles++;
    if (evacuated) stats.evacuations++;
    set_budget();
    return stats.cycles;
}

void register_(MarkCallback callback) { callbacks.push_back(callback); }

void unregister(MarkCallback callback) {
    for (MarkCallback& cb : callbacks)
        if (cb == callback) cb = nullptr;
}

bool keep(u32 node) { return keep_node(node); }

void mark_block(u32 node) { block_node(node); }

void mark_block_value(const Cell* block) { mark_block(block->w2); }

void mark_context(u32 node) { block_node(node); }

void mark_values(const Cell* first, const Cell* last) {
    u32 context = 0;
    for (const Cell* c = first; c < last; c++) mark_cell(c, context);
}

void unmark(u32 node) {
    if (node) node_buffer(node)->flags &= ~SERIES_MARK;
}

bool marked_q(u32 node) { return node && (node_buffer(node)->flags & SERIES_MARK); }

void drain_marks() { drain(); }

void forget_heap() {
    for (auto& blocks : held_blocks) {
        for (void* block : blocks) memory::os_free(block);
        blocks.clear();
    }
    for (auto& ids : held_nodes) ids.clear();
    release_queue.clear();
    worklist.clear();
    growth = Growth{0, growth_floor, 0};
    moved_hook = nullptr;   // what it kept current is gone with the heap
}

// A guard leaving from under a later one would take the later one's root
// with it; the check costs a compare, so debug builds always make it.
#ifdef NDEBUG
constexpr bool CHECK_GUARD_ORDER = false;
#else
constexpr bool CHECK_GUARD_ORDER = true;
#endif

void push_root_cell(Cell* cell) { root_cells.push_back(cell); }

void pop_root_cell(Cell* cell) {
    if (CHECK_GUARD_ORDER && (root_cells.empty() || root_cells.back() != cell)) guard_out_of_order("RootCell");
    root_cells.pop_back();
}

void push_root_node(u32* node) { root_nodes.push_back(node); }

void pop_root_node(u32* node) {
    if (CHECK_GUARD_ORDER && (root_nodes.empty() || root_nodes.back() != node)) guard_out_of_order("RootNode");
    root_nodes.pop_back();
}

void push_root_range(const Cell* first, size_t count) { root_ranges.emplace_back(first, count); }

void pop_root_range(const Cell* first) {
    if (CHECK_GUARD_ORDER && (root_ranges.empty() || root_ranges.back().first != first))
        guard_out_of_order("RootCells");
    root_ranges.pop_back();
}

}  // namespace collector
}  // namespace zir
