// Shared by the benchmarks: the runtime is brought up once per program.
#pragma once

#include "boot/runtime_init.hpp"

namespace zir::bench {

inline void setup_runtime() {
    static bool done = false;
    if (!done) {
        runtime::init();
        done = true;
    }
}

}  // namespace zir::bench
