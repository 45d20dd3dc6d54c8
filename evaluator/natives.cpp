// Natives: see natives.hpp.
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

action::Generic table[NATIVES_SIZE] = {};
i32 count = 0;

}  // namespace natives
}  // namespace zir
