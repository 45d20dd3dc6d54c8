// The entries of the code natives, split over natives_code.cpp (function
// makers and value natives), natives_do.cpp (do, reduce, compose) and
// natives_words.cpp (get, set, bind, in); fill_code gathers them.
#pragma once

#include "evaluator/natives.hpp"

namespace zir {
namespace natives {
namespace code {

i32 do_(i32 check, const i32* refinements);
i32 reduce(i32 check, const i32* refinements);
i32 compose(i32 check, const i32* refinements);

i32 get(i32 check, const i32* refinements);
i32 set(i32 check, const i32* refinements);
i32 bind(i32 check, const i32* refinements);
i32 in(i32 check, const i32* refinements);

// A one-cell block holding the value, evaluated as one expression: a word
// gives its value, a function is called, a literal gives itself. The result
// goes to the result cell.
void eval_single(const Cell* value);

}  // namespace code
}  // namespace natives
}  // namespace zir
