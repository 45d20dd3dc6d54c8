// Runtime initialisation: brings up every module of the runtime in its fixed
// order, before any value is made.
#pragma once

namespace zir {
namespace runtime {

void init();
// The runtime's own tables, made in a fresh memory (also after a memory reset).
void init_tables();

}  // namespace runtime
}  // namespace zir
