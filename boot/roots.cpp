// The root block: see roots.hpp.
#include "boot/roots.hpp"

#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace boot {

u32 root_block = 0;
i32 root_base = 0;
bool recording = false;

namespace {
// Room for the boot image's values and the words made while booting.
constexpr i64 ROOT_BLOCK_CELLS = 5000;

void mark_root_block() { collector::mark_block(root_block); }

}  // namespace

void init_root_block() {
    if (!root_block) collector::register_(mark_root_block);
    root_block = 0;
    root_block = memory::alloc_cells(ROOT_BLOCK_CELLS);
    root_base = 0;
}

Cell* get_root(i32 k) {
    return reinterpret_cast<Cell*>(series::data(node_buffer(root_block))) + root_base + k;
}

u32 get_root_node(i32 k) { return get_root(k)->w2; }

Cell* append_root(const Cell* value) {
    // The value may lie in a buffer that growing the root block moves.
    collector::RootCell copy(*value);
    SeriesBuffer* s = node_buffer(root_block);
    Cell* c = memory::alloc_tail_buffer(s);
    *c = copy.value;
    return c;
}

}  // namespace boot
}  // namespace zir
