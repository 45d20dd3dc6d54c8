// Ownership: an object can own the series held in its fields, so that a change
// made deep inside one of them reaches the object's `on-deep-change*` function.
//
// Ownership is recorded outside the series, in the ownership table: a
// node-keyed hash table from a series' node to a copy of the owned value, the
// owner object and the field word through which it is reached. Owned series
// have flag SERIES_OWNED set.
//
// The table is weak in its keys: an entry does not keep its series alive. The
// collector marks the owner and word of every entry whose key series is
// reachable by other means (repeating until nothing changes), and the sweep
// drops the entries whose key is dead before any node is given back, so a
// reused node never inherits a stale owner.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace ownership {

extern u32 table;

void init();
// Binds the value (deeply) to the owner and marks the owner's context as owning.
void set_owner(Cell value, Cell owner, Cell word);
void bind_deep(Cell value, Cell owner, Cell word);
void unbind(Cell value);
void unbind_range(u32 block, i32 index, i32 n);
// The value cells of a series' entry (owned value, owner, word), or nullptr.
Cell* find(u32 node);

// Reports a change made to a series (or object): when the series has an owner
// with change handlers, its on-deep-change* function is called. Answers true
// when an owner was notified.
bool check(const Cell* value, i32 action_symbol, const Cell* new_value, i32 index, i32 part);

// A path assignment changed a scalar (time!, date!, pair! ...) in place inside
// `parent`: an object parent with change handlers hears through its change
// handler (`context::on_set`) with the word naming the scalar, the old and the
// new value; a series parent through `check` with the word `set-path`, the
// value assigned and the field number. The handlers are user code: the
// values handed over must not lie in a buffer that can move.
void notify_set_path(const Cell* parent, const Cell* parent_word, const Cell* old_value, const Cell* new_value,
                     const Cell* assigned, i32 field);

// Called with (owner, word, value, action symbol, new value, index, part) when an
// owned series changes; set by the object! datatype.
using DeepChange = void (*)(const Cell* owner, const Cell* word, const Cell* value, i32 action_symbol,
                            const Cell* new_value, i32 index, i32 part);
extern DeepChange on_deep_change;

// The collector's steps: marking the entries of live keys, dropping the others.
void mark_entries();
void sweep();

}  // namespace ownership
}  // namespace zir
