// The root block: the values of the boot image (the literal pool of the
// library) and the words made while booting, kept alive for the whole run.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace boot {

extern u32 root_block;    // node of the root block
extern i32 root_base;     // cell index of root 0: the first value of the boot image

void init_root_block();
// Root k, counted from the first boot value. Valid until the next allocation.
Cell* get_root(i32 k);
u32 get_root_node(i32 k);

}  // namespace boot
}  // namespace zir
