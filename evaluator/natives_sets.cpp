// The set-operation natives (union, intersect, unique, difference, exclude)
// and the text-encoding natives (dehex, enhex, debase, enbase).
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

void fill_sets(action::Generic*) {}

}  // namespace natives
}  // namespace zir
