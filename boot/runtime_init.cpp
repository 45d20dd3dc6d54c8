// Runtime initialisation: see runtime_init.hpp.
#include "boot/runtime_init.hpp"

#include "runtime/case_folding.hpp"
#include "runtime/console.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform.hpp"
#include "runtime/print_hooks.hpp"

namespace zir {
namespace runtime {

void init() {
    print_hooks::init();
    platform::init();
    console::init_attributes();
    case_folding::init();
    memory::init();
}

}  // namespace runtime
}  // namespace zir
