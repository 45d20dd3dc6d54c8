// Random numbers: see random.hpp.
#include "services/random.hpp"

#include <sys/random.h>

#include <cerrno>

#include "runtime/fault.hpp"

namespace zir {
namespace random {

namespace {

constexpr int STATE_WORDS = 624;
constexpr int SHIFT_WORD = 397;          // the word each regenerated word mixes in
constexpr u32 TWIST = 0x9908B0DF;        // XORed in for odd words
constexpr u32 SEED_MULTIPLIER = 1812433253;
constexpr i32 INIT_SEED = 19650218;
// Any fixed value will do: no stored data depends on it.
constexpr u32 HASH_SEED = 0x2F6B8E31;

i32 state[STATE_WORDS];
int position = STATE_WORDS;

// Sign-propagating shifts of signed 32-bit words, as the generator is
// defined; C++20 makes >> on negative values exactly that.
inline i32 sar(i32 x, int n) { return x >> n; }
inline i32 shl_and(i32 x, int n, u32 mask) { return i32((u32(x) << n) & mask); }

void regenerate() {
    for (int k = 0; k < STATE_WORDS; k++) {
        i32 y = i32((u32(state[k]) & 0x80000000u) | (u32(state[(k + 1) % STATE_WORDS]) & 0x7FFFFFFFu));
        i32 w = state[(k + SHIFT_WORD) % STATE_WORDS] ^ sar(y, 1);
        if (y & 1) w ^= i32(TWIST);
        state[k] = w;
    }
}

// A draw below n x (2147483647 / n), reduced to 1..n: the largest multiple of
// n below 2^31 - 1 keeps every residue equally likely.
i32 draw_up_to(bool secure, i32 n) {
    i32 limit = (0x7FFFFFFF / n) * n;
    i32 d;
    do {
        d = secure ? secure_bytes() : genrand();
    } while (d >= limit);
    return d % n + 1;
}

}  // namespace

u32 hash_seed = HASH_SEED;

void init() {
    seed(INIT_SEED);
    hash_seed = HASH_SEED;
}

void seed(i32 s) {
    state[0] = s;
    for (int i = 1; i < STATE_WORDS; i++) {
        i32 prev = state[i - 1];
        state[i] = i32(SEED_MULTIPLIER * u32(prev ^ sar(prev, 30)) + u32(i));
    }
    position = 0;
}

i32 genrand() {
    if (position >= STATE_WORDS) {
        regenerate();
        position = 0;
    }
    i32 y = state[position++];
    y ^= sar(y, 11);
    y ^= shl_and(y, 7, 0x9D2C5680u);
    y ^= shl_and(y, 15, 0xEFC60000u);
    y ^= sar(y, 18);   // clears the sign bit: y and y >> 18 share it
    return y;
}

i32 secure_bytes() {
    u32 d;
    crypto::gen_random(&d, sizeof d);
    return i32(d & 0x7FFFFFFFu);
}

i32 int_(bool secure, i32 n) {
    if (n > 0) return draw_up_to(secure, n);
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - (secure ? secure_bytes() : genrand());
    return -draw_up_to(secure, -n);
}

}  // namespace random

namespace crypto {

void gen_random(void* buffer, size_t length) {
    u8* p = static_cast<u8*>(buffer);
    while (length) {
        ssize_t got = getrandom(p, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            // No secure source at all: answering predictable bytes in its
            // place would be worse than stopping.
            ZIR_FAULT(99);
        }
        p += got;
        length -= size_t(got);
    }
}

}  // namespace crypto
}  // namespace zir
