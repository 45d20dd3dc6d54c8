// Garbage collector: see collector.hpp.
#include "runtime/collector.hpp"

namespace zir {
namespace collector {

bool active = false;
Stats stats = {};

void run_if_active() {
    // Collections start once marking exists; until then `active` stays clear
    // and allocation takes fresh frames.
}

}  // namespace collector
}  // namespace zir
