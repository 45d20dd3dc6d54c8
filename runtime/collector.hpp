// Garbage collector: reclaims every series buffer and node that no live value
// reaches. Allocation calls `run_if_active` when a frame is exhausted.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace collector {

struct Stats {
    u32 cycles;         // full collections
    u32 nodes_cycles;   // collections that released node frames
};

extern bool active;     // collections allowed
extern Stats stats;

void run_if_active();

}  // namespace collector
}  // namespace zir
