// The math natives: max, min, shift, to-hex, trigonometry, logarithms, exp,
// square-root, NaN?, zero?, and the makers as-pair, as-point2D, as-point3D
// and as-money.
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

void fill_math(action::Generic*) {}

}  // namespace natives
}  // namespace zir
