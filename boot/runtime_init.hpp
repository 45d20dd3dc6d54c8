// Runtime initialisation: brings up every module of the runtime in its fixed
// order, before any value is made.
#pragma once

namespace zir {
namespace runtime {

void init();
// The runtime's own tables, made in a fresh memory (also after a memory reset).
void init_tables();
// Every datatype's registration, in their fixed order.
void register_datatypes();

}  // namespace runtime
}  // namespace zir
