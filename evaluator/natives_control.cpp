// The natives of control: conditionals (if, unless, either, any, all,
// switch, case), loops and their iteration steps (while, until, loop,
// repeat, forever, foreach, forall, remove-each), and the natives that start
// or catch non-local exits (try, break, continue, exit, return, throw,
// catch, apply).
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

void fill_control(action::Generic*) {}

}  // namespace natives
}  // namespace zir
