// The library's routines: words of the global context whose values are
// routine! values over C++ functions of the routine table.
#pragma once

namespace zir {
namespace boot {

// Makes the routines and binds their words; start-up calls it after the
// library is loaded and before its statements run.
void define_routines();

}  // namespace boot
}  // namespace zir
