// Terminal GUI backend: see terminal.hpp.
#include "view/terminal/terminal.hpp"

#include <cstdio>

namespace zir {
namespace terminal {

bool active = false;

void pre_print() {
    if (!active) return;
    std::fflush(nullptr);
}

void post_print() {
    if (!active) return;
}

}  // namespace terminal
}  // namespace zir
