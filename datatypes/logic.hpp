// logic!: true and false (payload word 1: 1 or 0), and the truth rule of the
// whole language: only none and false are false.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace logic {

extern const Cell true_value;
extern const Cell false_value;

inline u32 get(const Cell* c) { return c->w1; }
inline void make_at(Cell* c, bool v) {
    // Written whole (see cell::store): results made here are copied next.
    cell::store(c, (c->header & ~TYPE_MASK) | TYPE_LOGIC, v ? 1 : 0, c->w2, c->w3);
}
Cell* box(bool v);
Cell* push(bool v);
Cell* make_in(Cell* block, bool v);

// False only for none and false. With `check_unset`, an unset value raises
// `script no-value` naming `word`.
inline bool falsy_q(const Cell* c) {
    u32 t = TYPE_OF(c);
    return t == TYPE_NONE || (t == TYPE_LOGIC && c->w1 == 0);
}
[[noreturn]] void fire_no_value(const Cell* word);
inline bool truthy_q(const Cell* c, bool check_unset, const Cell* word) {
    if (check_unset && ZIR_UNLIKELY(TYPE_OF(c) == TYPE_UNSET)) fire_no_value(word);
    return !falsy_q(c);
}
// The result slot's truth; unset raises `script no-return`.
bool true_q();
bool false_q();
bool top_true_q();

void init();

}  // namespace logic
}  // namespace zir
