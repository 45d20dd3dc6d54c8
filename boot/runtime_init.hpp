// Runtime initialisation: brings up every module of the runtime in its fixed
// order, before any value is made.
#pragma once

namespace zir {
namespace runtime {

void init();

}  // namespace runtime
}  // namespace zir
