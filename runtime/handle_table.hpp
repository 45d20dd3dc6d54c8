// Handle table and externals: the two registries that connect values with
// things outside the collector's reach.
//
// The handle table holds operating-system objects in numbered slots; a value
// refers to its slot by index, and the collector releases the object of every
// slot no live value marked, through the release function of its handle type.
// The externals block holds values on behalf of code outside the language,
// addressed by a 1-based index, so that the collector keeps them alive.
#pragma once

#include "runtime/cell.hpp"

namespace zir {

namespace handle_table {

constexpr u32 FREE_SLOT = 0x40000000;
constexpr u32 SLOT_MARK = 0x80000000;
constexpr u32 TYPE_INDEX_MASK = 0xFF;
constexpr int MAX_TYPES = 20;
constexpr i32 INITIAL_SLOTS = 1000;

using ReleaseFunction = void (*)(uintptr_t object);

// A slot is reused once freed, and a value still naming it must not reach the
// new object. Each slot counts how often it was freed (its generation), and a
// handle! value carries the generation it was made under in bits 8..31 of
// payload word 1 (its slot in word 3): a value whose generation differs names
// a released object and is refused.
constexpr u32 GENERATION_SHIFT = 8;
constexpr u32 GENERATION_MASK = 0xFFFFFF;

struct Slot {
    u32 type;           // type index in bits 0..7, mark in bit 31; FREE_SLOT when free
    u32 generation;     // times the slot was freed, modulo 2^24
    uintptr_t object;   // 0 when free
    i32 next;           // next slot of the used or free list, -1 ends it
};

void init();
// Registers a handle type; answers its 1-based index (the same index again
// for a type already registered). A reset of the table keeps the types.
int register_type(uintptr_t owner, ReleaseFunction release);
// Stores an object in a free slot and answers the slot's 0-based index.
i32 alloc(uintptr_t object, u32 type_word);
void free(i32 index, bool release);
// Marks a slot (and replaces its object when one is given); true the first time.
bool mark(i32 index, uintptr_t object);
// Whether a slot holds an object allocated under that generation.
bool live_q(i32 index, u32 generation);
// The collector's mark of a handle! value's slot: a slot that is not live
// under the value's generation (the value outlived an explicit free) is left
// alone, whatever now occupies it.
void mark_held(i32 index, u32 generation);
void replace_object(i32 index, uintptr_t object);
void release_object(u32 type_word, uintptr_t object);
void release_slot(i32 index);
void for_each(u32 type_index, void (*visit)(i32 index, Slot* slot));
// The collector's step: releases every used slot that was not marked.
void sweep();

Slot* slot(i32 index);
i32 capacity();
i32 used_count();

}  // namespace handle_table

namespace externals {

constexpr i32 INITIAL_CELLS = 100;

void init();
// Keeps a copy of the value; answers its 1-based index.
i32 add(const Cell* value);
Cell* get(i32 index);
void remove(i32 index);
u32 block_node();

}  // namespace externals

}  // namespace zir
