// float!: see float.hpp.
#include "datatypes/float.hpp"

#include <cmath>

#include "runtime/fire.hpp"

namespace zir {
namespace float_ {

i32 to_integer_checked(const Cell* value) {
    if (TYPE_OF(value) != TYPE_FLOAT) return i32(value->w2);
    double d = cell::get_float(value);
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) fire(ERR_SCRIPT, "out-of-range", value);
    return i32(std::trunc(d));
}

}  // namespace float_
}  // namespace zir
