// Shared by the fuzz targets: the runtime is brought up on the first input,
// with the collector active so that every input also exercises collection.
#pragma once

#include "boot/runtime_init.hpp"
#include "runtime/collector.hpp"

namespace zir::fuzz {

inline void setup_runtime() {
    static bool done = false;
    if (!done) {
        runtime::init();
        collector::active = true;
        done = true;
    }
}

}  // namespace zir::fuzz
