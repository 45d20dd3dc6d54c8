// The parse native: matches a series against the rules of the parse dialect.
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

void fill_parse(action::Generic*) {}

}  // namespace natives
}  // namespace zir
