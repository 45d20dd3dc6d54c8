// The output natives print and prin, and stats.
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

void fill_output(action::Generic*) {}

}  // namespace natives
}  // namespace zir
