// handle!: an operating-system value (a descriptor, a window, a pointer)
// carried through the language unchanged, tagged with a class that says what
// kind of object it is. The language can only print and compare handles; the
// code that wraps system objects makes them and reads them back.
//
// Payload: word 1 the class in bits 0..7 (and, for a value held in the handle
// table, the slot's generation from bit 8 on); word 2 the value's low 32
// bits; word 3 the handle-table slot, or -1. A value that fits in a signed
// 32-bit word (descriptors, small ids, null) lives in word 2 alone. A wider
// one (a pointer) lives in a handle-table slot: the cell then shows its low
// 32 bits in word 2, and reading it back checks that the slot still holds the
// object the value was made for (`value_of`), so a handle that outlived an
// explicit release is refused rather than followed.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace handle {

enum Class : u32 { CLASS_NULL = 0, CLASS_FD = 1, CLASS_MONITOR = 2, CLASS_WINDOW = 3, CLASS_FONT = 4,
                   CLASS_RICH_TEXT = 5, CLASS_COUNT = 6 };
constexpr u32 CLASS_MASK = 0xFF;
constexpr u32 NO_SLOT = 0xFFFFFFFF;

inline u32 class_of(const Cell* h) { return h->w1 & CLASS_MASK; }

// Writes a handle into the cell (keeping its new-line flag) and answers it: a
// 32-bit value in the cell, a wider one in an untyped slot (nothing released).
Cell* make_at(Cell* c, uintptr_t value, u32 class_);
// A handle whose object lives in a slot of handle-table type `type_index`,
// whose release function the collector calls once no value refers to it.
Cell* make_owned_at(Cell* c, uintptr_t object, u32 class_, u32 type_index);
// The same into the result cell of the current call, onto the value stack, or
// into a new cell at a block's tail.
Cell* box(uintptr_t value, u32 class_);
Cell* push(uintptr_t value, u32 class_);
Cell* push_null();
Cell* make_in(Cell* block, uintptr_t value, u32 class_);

// Whether the handle's object is still there (always, for a value in the cell).
bool live_q(const Cell* h);
// The OS value; a handle whose slot was released raises `script invalid-arg`
// with the handle.
uintptr_t value_of(const Cell* h);
// Releases the slot of a handle through its type (nothing for a value held
// in the cell); every copy of the handle is refused from then on.
void release(const Cell* h);

void init();

}  // namespace handle
}  // namespace zir
