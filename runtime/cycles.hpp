// Cycle guard: the series (or contexts) being visited by a recursive walk
// (mold, form, comparison, deep copy, ownership), so that a walk meeting one of
// them again stops instead of looping.
//
// Walks enter a series with a `cycles::Guard`, which pops the entry on every
// exit path, errors included: an entry left behind would make later walks see
// a cycle where there is none.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace cycles {

constexpr int CAPACITY = 1000;

void init();
// Pushes a node; the push that fills the stack empties it and raises
// `internal too-deep`.
void push(u32 node);
void pop();
void pop_n(int n);
void reset();
bool find_q(u32 node);
int depth();
void truncate(int depth);

// Enters a node for the lifetime of the guard.
class Guard {
public:
    explicit Guard(u32 node) : saved(depth()) { push(node); }
    ~Guard() { truncate(saved); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    int saved;
};

}  // namespace cycles
}  // namespace zir
