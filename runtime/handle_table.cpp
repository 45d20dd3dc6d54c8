// Handle table and externals: see handle_table.hpp.
#include "runtime/handle_table.hpp"

#include <cstdlib>

#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/memory.hpp"

namespace zir {

namespace handle_table {

namespace {

struct Type {
    uintptr_t owner;
    ReleaseFunction release;
};

Type types[MAX_TYPES];
int type_count = 0;
Slot* slots = nullptr;
i32 slot_count = 0;
i32 free_head = -1;
i32 used_head = -1;

// Threads slots from..slot_count-1 on the free list, in order.
void thread_free(i32 from) {
    for (i32 i = from; i < slot_count; i++) slots[i] = Slot{FREE_SLOT, 0, 0, i + 1 < slot_count ? i + 1 : -1};
}

void unlink_used(i32 index) {
    if (used_head == index) {
        used_head = slots[index].next;
        return;
    }
    for (i32 i = used_head; i >= 0; i = slots[i].next) {
        if (slots[i].next == index) {
            slots[i].next = slots[index].next;
            return;
        }
    }
}

// Values made under the slot's old generation are refused from here on.
void push_free(i32 index) {
    slots[index] = Slot{FREE_SLOT, (slots[index].generation + 1) & GENERATION_MASK, 0, free_head};
    free_head = index;
}

}  // namespace

void init() {
    // Making the table again (a memory reset) first releases what it holds.
    if (slots)
        for (i32 i = used_head; i >= 0; i = slots[i].next) release_slot(i);
    std::free(slots);
    // The types stay: they are the program's, registered once, and a value
    // made after a reset still names its type's index.
    slot_count = INITIAL_SLOTS;
    slots = static_cast<Slot*>(std::malloc(sizeof(Slot) * size_t(slot_count)));
    if (!slots) runtime::error_exit(runtime::FAULT_OUT_OF_MEMORY, nullptr);
    thread_free(0);
    free_head = 0;
    used_head = -1;
}

int register_type(uintptr_t owner, ReleaseFunction release) {
    for (int i = 0; i < type_count; i++)
        if (types[i].owner == owner && types[i].release == release) return i + 1;
    if (type_count == MAX_TYPES) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    types[type_count] = Type{owner, release};
    return ++type_count;
}

i32 alloc(uintptr_t object, u32 type_word) {
    i32 index = free_head;
    if (slots[index].next < 0) {
        // Taking the last free slot: double the array first, the new half
        // threaded after it.
        i32 old = slot_count;
        Slot* grown = static_cast<Slot*>(std::realloc(slots, sizeof(Slot) * size_t(old) * 2));
        if (!grown) runtime::error_exit(runtime::FAULT_OUT_OF_MEMORY, nullptr);
        slots = grown;
        slot_count = old * 2;
        thread_free(old);
        slots[index].next = old;
    }
    free_head = slots[index].next;
    slots[index] = Slot{type_word & ~SLOT_MARK, slots[index].generation, object, used_head};
    used_head = index;
    return index;
}

void free(i32 index, bool release) {
    if (release) release_slot(index);
    unlink_used(index);
    push_free(index);
}

bool mark(i32 index, uintptr_t object) {
    Slot& s = slots[index];
    if (object) s.object = object;
    if (s.type & SLOT_MARK) return false;
    s.type |= SLOT_MARK;
    return true;
}

bool live_q(i32 index, u32 generation) {
    if (index < 0 || index >= slot_count) return false;
    const Slot& s = slots[index];
    return (s.type & ~SLOT_MARK) != FREE_SLOT && s.generation == (generation & GENERATION_MASK);
}

void mark_held(i32 index, u32 generation) {
    if (live_q(index, generation)) mark(index, 0);
}

void replace_object(i32 index, uintptr_t object) {
    Slot& s = slots[index];
    uintptr_t old = s.object;
    s.object = object;
    if (old != object) release_object(s.type, old);
}

void release_object(u32 type_word, uintptr_t object) {
    u32 t = type_word & TYPE_INDEX_MASK;
    if (t == 0 || t > u32(type_count) || !types[t - 1].release) return;
    types[t - 1].release(object);
}

void release_slot(i32 index) { release_object(slots[index].type, slots[index].object); }

void for_each(u32 type_index, void (*visit)(i32 index, Slot* slot)) {
    for (i32 i = used_head; i >= 0;) {
        i32 next = slots[i].next;   // the visitor may free the slot
        if ((slots[i].type & TYPE_INDEX_MASK) == type_index) visit(i, &slots[i]);
        i = next;
    }
}

void sweep() {
    i32 prev = -1;
    for (i32 i = used_head; i >= 0;) {
        i32 next = slots[i].next;
        if (slots[i].type & SLOT_MARK) {
            slots[i].type &= ~SLOT_MARK;
            prev = i;
        } else {
            release_slot(i);
            if (prev >= 0) slots[prev].next = next;
            else used_head = next;
            push_free(i);
        }
        i = next;
    }
}

Slot* slot(i32 index) { return &slots[index]; }
i32 capacity() { return slot_count; }

i32 used_count() {
    i32 n = 0;
    for (i32 i = used_head; i >= 0; i = slots[i].next) n++;
    return n;
}

}  // namespace handle_table

namespace externals {

namespace {

u32 block = 0;
i32 free_index = -1;

Cell* cells() { return series::head_cells(node_buffer(block)); }

// Cells from..capacity-1 become free cells chained in order.
void thread_free(i32 from) {
    SeriesBuffer* s = node_buffer(block);
    i32 cap = i32(s->size / 16);
    Cell* c = series::head_cells(s);
    for (i32 i = from; i < cap; i++) {
        cell::init(&c[i], TYPE_INTEGER);
        c[i].w2 = u32(i + 1 < cap ? i + 1 : -1);
    }
    free_index = from < cap ? from : -1;
    s->tail = s->offset + u32(cap) * 16;
}

void mark_externals() { collector::mark_block(block); }

}  // namespace

void init() {
    if (!block) collector::register_(mark_externals);
    block = memory::alloc_cells(INITIAL_CELLS);
    thread_free(0);
}

i32 add(const Cell* value) {
    if (free_index < 0) {
        Cell copy = *value;   // the value may live in the block that moves
        SeriesBuffer* s = node_buffer(block);
        i32 cap = i32(s->size / 16);
        memory::expand_series(s, i64(cap) * 2 * 16);
        thread_free(cap);
        i32 i = free_index;
        free_index = i32(cells()[i].w2);
        cells()[i] = copy;
        return i + 1;
    }
    i32 i = free_index;
    Cell* c = cells();
    free_index = i32(c[i].w2);
    c[i] = *value;
    return i + 1;
}

Cell* get(i32 index) { return &cells()[index - 1]; }

void remove(i32 index) {
    if (index == 0) return;
    Cell* c = &cells()[index - 1];
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(free_index);
    free_index = index - 1;
}

u32 block_node() { return block; }

}  // namespace externals

}  // namespace zir
