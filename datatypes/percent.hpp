// percent!: a float! shown as a percentage. The payload is the fraction as a
// double (12.5% is 0.125); every action but the two text forms is float!'s,
// whose conversion, math and rounding know the datatype.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace percent {

inline double get(const Cell* c) { return cell::get_float(c); }

Cell* box(double d);
// The cell becomes exactly a percent! holding d (or the two payload words).
Cell* make_at(Cell* c, double d);
Cell* make_at_words(Cell* c, u32 high, u32 low);
Cell* make_in(Cell* block, u32 high, u32 low);
Cell* push(u32 high, u32 low);
Cell* push_value(double d);

// Registers percent! (after float!, whose actions it takes).
void init();

}  // namespace percent
}  // namespace zir
