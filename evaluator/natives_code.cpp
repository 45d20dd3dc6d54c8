// The natives that make or run code and reach words and values: func,
// function, does, has; do, reduce, compose; get, set, bind, in; construct,
// value?, uppercase, lowercase, extend, unset, new-line, new-line?, context?
// and as.
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

void fill_code(action::Generic*) {}

}  // namespace natives
}  // namespace zir
