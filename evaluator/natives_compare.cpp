// The comparison and predicate natives: equal? and the other comparisons,
// same?, not, type?, complement?, negative?, positive? and sign?.
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

void fill_compare(action::Generic*) {}

}  // namespace natives
}  // namespace zir
