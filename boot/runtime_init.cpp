// Runtime initialisation: see runtime_init.hpp.
#include "boot/runtime_init.hpp"

#include "runtime/console.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform.hpp"
#include "runtime/print_hooks.hpp"
#include "services/random.hpp"

namespace zir {
namespace runtime {

void init() {
    print_hooks::init();
    platform::init();
    console::init_attributes();
    random::init();   // sets the hash seed: before the first hash table
    memory::init();
}

}  // namespace runtime
}  // namespace zir
