// Garbage collector: a stop-the-world mark and compact collector.
//
// It marks every buffer reachable from the roots, then slides the live buffers
// of each series frame together (into the previous frame's free room when it is
// large enough), updates the node slot of every moved buffer, gives the nodes of
// dead buffers back, releases unmarked handles, dead big frames and empty
// frames. It runs when an allocation finds no room and the growth budget is
// used up (below), and on `recycle`, while `active` is set.
//
// Heap growth: after each collection the budget of the next one is set to
// `growth_percent` of the live bytes, and never below `growth_floor`. Every
// byte of series and big frames allocated since counts against it; until it is
// used up, an allocation that finds no room adds a frame instead of collecting.
// The cost of collecting is in proportion to the live data, so this keeps the
// cost per allocated byte constant as the heap grows, at the price of a heap
// up to twice the live data.
//
// Roots are precise. The fixed roots are the root block, the externals block
// and whatever registers a mark callback (the stacks, the symbol and ownership
// tables, the lexer ...). C++ code that holds a value or a node across anything
// that may allocate keeps it visible with a guard (`RootCell`, `RootNode`):
// there is no scan of the machine stack. A raw buffer address must never be
// held across an allocation; re-read it through the node.
//
// Stress mode (built with ZIR_STRESS) makes mistakes of that kind visible: it
// collects every `stress_period` allocations, and its collections take turns:
// the even-numbered ones move every live buffer, big ones included, to fresh
// frames and keep the old frames poisoned for a few collections; the odd ones
// compact as production does. It holds freed node ids back for a few
// collections with their slots poisoned. In sanitizer builds the free end of
// every frame is poisoned after each collection until it is allocated again.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace collector {

struct Stats {
    u32 cycles;         // full collections
    u32 nodes_cycles;   // collections that released node frames
    u32 evacuations;    // stress collections that moved every live buffer
};

extern bool active;     // collections allowed
extern Stats stats;

// Heap growth (see above). Bytes are those of buffer headers and data.
struct Growth {
    u64 live;        // what the frames held after the last collection
    u64 budget;      // bytes that may be allocated before the next one
    u64 allocated;   // bytes allocated since the last collection
};
extern Growth growth;

// A collection is due after allocating as much as is live: any less and a
// heap of large live data spends most of its time collecting.
constexpr u32 GROWTH_PERCENT = 100;
// Small heaps still wait for two full series frames' worth of allocation,
// so a program with little live data does not collect every frame.
constexpr u64 GROWTH_FLOOR = 4 << 20;
// Both are variables so that benchmarks and tests can compare rules; 0 and 0
// collect whenever no frame fits.
extern u32 growth_percent;
extern u64 growth_floor;

// Stress mode: collect every `stress_period` allocations (0: never).
extern u32 stress_period;
constexpr bool STRESS =
#ifdef ZIR_STRESS
    true;
#else
    false;
#endif

bool busy_q();
// Collects when `active` and not already collecting; true when it did.
bool run_if_active();
// The same, only once the growth budget is used up.
bool run_if_due();
u32 do_cycle();
// Whether the collection numbered `cycle` moves every live buffer.
inline bool evacuating_cycle(u32 cycle) { return STRESS && cycle % 2 == 0; }
// Called by the allocator before each series allocation.
void stress_tick();
inline void note_allocation() {
    if constexpr (STRESS) stress_tick();
}

// Mark callbacks run after the fixed roots, in registration order.
using MarkCallback = void (*)();
void register_(MarkCallback callback);
void unregister(MarkCallback callback);

// Marking entry points for mark callbacks and the modules' own mark routines.
bool keep(u32 node);              // marks the buffer; true the first time
void mark_block(u32 node);        // keep, and the first time mark its cells
void mark_block_value(const Cell* block);
void mark_context(u32 node);      // a context series: its cells carry the rest
void mark_values(const Cell* first, const Cell* last);
void unmark(u32 node);
bool marked_q(u32 node);

void drain_marks();                // marks the cells of every block kept so far

// The image backend marks what an image! value holds through this, when set.
extern void (*mark_image_hook)(const Cell* image);
// Called at the end of every collection, once buffers have moved (the
// global context keeps where its values lie).
extern void (*moved_hook)();

// Forgets what the collector knows of the heap (the frames and node ids stress
// mode holds back, the growth budget): for a memory reset.
void forget_heap();

// --- Guards: values and nodes held by C++ code --------------------------
//
// Guards leave in the reverse order of their coming; debug builds check it on
// every pop (the argument is what the guard pushed) and abort when a guard
// leaves from under another.

void push_root_cell(Cell* cell);
void pop_root_cell(Cell* cell);
void push_root_node(u32* node);
void pop_root_node(u32* node);
void push_root_range(const Cell* first, size_t count);
void pop_root_range(const Cell* first);

// A cell that C++ code keeps alive while it lives.
class RootCell {
public:
    RootCell() { cell::init(&value, TYPE_UNSET); push_root_cell(&value); }
    explicit RootCell(const Cell& c) : value(c) { push_root_cell(&value); }
    ~RootCell() { pop_root_cell(&value); }
    RootCell(const RootCell&) = delete;
    RootCell& operator=(const RootCell&) = delete;
    Cell* operator->() { return &value; }
    Cell* get() { return &value; }
    Cell value;
};

// Cells held in C++ memory (an array of copies) that stay alive while the
// guard lives; the array must not move meanwhile.
class RootCells {
public:
    RootCells(const Cell* first, size_t count) : first(first) { push_root_range(first, count); }
    ~RootCells() { pop_root_range(first); }
    RootCells(const RootCells&) = delete;
    RootCells& operator=(const RootCells&) = delete;

private:
    const Cell* first;
};

// A node id that C++ code keeps alive while it lives (0 marks nothing).
class RootNode {
public:
    explicit RootNode(u32 n = 0) : node(n) { push_root_node(&node); }
    ~RootNode() { pop_root_node(&node); }
    RootNode(const RootNode&) = delete;
    RootNode& operator=(const RootNode&) = delete;
    operator u32() const { return node; }
    u32 node;
};

}  // namespace collector
}  // namespace zir
