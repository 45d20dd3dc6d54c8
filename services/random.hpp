// Random numbers: the process-wide generator behind the `random` actions of
// the datatypes, the operating system's secure source behind their /secure
// refinement, and the seed of every hash the hash tables compute.
//
// The generator is of the Mersenne Twister family but not the reference
// MT19937: all of its right shifts propagate the sign of 32-bit words, so its
// sequence for a seed is its own, and every output lies in 0..2147483647.
// Seeding leaves the draw position at the start of the seeded words: the
// first 624 draws temper them before the state is ever regenerated.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace random {

// The seed of every MurmurHash3 computation of the hash tables, set once by
// `init` before the first table exists and fixed for the whole run.
extern u32 hash_seed;

// Seeds the generator with 19650218 and sets `hash_seed`.
void init();

// Restarts the generator from the 624 words derived from `s`.
void seed(i32 s);

// The next output, 0..2147483647.
i32 genrand();

// Four bytes of the operating system's secure source, top bit cleared:
// 0..2147483647. Leaves the generator untouched.
i32 secure_bytes();

// A uniform integer with the sign of n: 1..n for n > 0, -1..n for n < 0, 0 for
// 0, drawn from the secure source with `secure` and else from the generator.
i32 int_(bool secure, i32 n);

}  // namespace random

namespace crypto {

// Fills the buffer from the operating system's secure source (getrandom).
void gen_random(void* buffer, size_t length);

}  // namespace crypto
}  // namespace zir
