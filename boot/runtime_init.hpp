// Runtime initialisation: brings up every module of the runtime in its fixed
// order, before any value is made.
#pragma once

namespace zir {
namespace runtime {

// With `words_from_image`, the action and native words are left to the boot
// image (no spec text is read): start-up from the program's own image.
void init(bool words_from_image = false);
// The runtime's own tables, made in a fresh memory (also after a memory reset).
void init_tables(bool words_from_image = false);
// Every datatype's registration, in their fixed order.
void register_datatypes();

}  // namespace runtime
}  // namespace zir
