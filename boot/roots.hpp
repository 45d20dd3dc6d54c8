// The root block: the values of the boot image (the literal pool of the
// library) and the words made while booting, kept alive for the whole run.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace boot {

extern u32 root_block;    // node of the root block
extern i32 root_base;     // cell index of root 0: the first value of the boot image
// While set (booting), the words that start-up makes are also recorded in the
// root block, so that the code made from the boot image finds them by index.
extern bool recording;

void init_root_block();
// Root k, counted from the first boot value. Valid until the next allocation.
Cell* get_root(i32 k);
u32 get_root_node(i32 k);
// A copy of the value in a new cell at the root block's tail; answers that
// cell (valid until the next allocation).
Cell* append_root(const Cell* value);

}  // namespace boot
}  // namespace zir
