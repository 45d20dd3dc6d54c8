// Cycle guard: see cycles.hpp.
#include "runtime/cycles.hpp"

#include "runtime/fire.hpp"

namespace zir {
namespace cycles {

namespace {
u32 entries[CAPACITY];
int top = 0;
}  // namespace

void init() { top = 0; }

void push(u32 node) {
    entries[top++] = node;
    if (top == CAPACITY) {
        top = 0;
        fire(ERR_INTERNAL, "too-deep");
    }
}

void pop() {
    if (top > 0) top--;
}

void pop_n(int n) { top = n < top ? top - n : 0; }

void reset() { top = 0; }

bool find_q(u32 node) {
    for (int i = 0; i < top; i++)
        if (entries[i] == node) return true;
    return false;
}

int depth() { return top; }

void truncate(int d) {
    if (d < top) top = d;
}

}  // namespace cycles
}  // namespace zir
