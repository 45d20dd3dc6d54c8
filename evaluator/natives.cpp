// Natives: see natives.hpp.
#include "evaluator/natives.hpp"

#include "runtime/fault.hpp"

namespace zir {
namespace natives {

action::Generic table[NATIVES_SIZE] = {};
i32 count = 0;

void table_append(i32 n, const action::Generic* entries) {
    for (i32 i = 0; i < n; i++) {
        if (count >= NATIVES_SIZE) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
        table[count++] = entries[i];
    }
}

}  // namespace natives
}  // namespace zir
