// float!: IEEE doubles in payload words 2 and 3.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace float_ {

// The integer a size argument stands for: a float! is truncated when it lies
// within the 32-bit range (else `script out-of-range`); any other cell answers
// its word 2.
i32 to_integer_checked(const Cell* value);

}  // namespace float_
}  // namespace zir
