// The library's routines: words of the global context whose values are
// routine! values over C++ functions of the routine table.
#pragma once

#include "evaluator/interpreter.hpp"

namespace zir {
namespace boot {

// Makes the routines and binds their words; start-up calls it after the
// library is loaded and before its statements run.
void define_routines();
// Makes one routine from its spec text and binds the global word `name` to it.
// `returns` is one of routine::RETURNS_*; with `pointer_args` the entry gets
// every argument as a cell and answers the address of its result cell.
void define_routine(const char* name, const char* spec_text, interpreter::Routine entry, i32 returns,
                    bool pointer_args);

}  // namespace boot
}  // namespace zir
