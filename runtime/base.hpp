// Common ground of every module: fixed-width integer names, the platform
// assumptions the value layout depends on, and small helpers shared by all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <bit>

static_assert(sizeof(void*) == 8, "the runtime is built for 64-bit targets");
static_assert(std::endian::native == std::endian::little, "cells assume a little-endian machine");

#if defined(__SANITIZE_ADDRESS__)
#define ZIR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZIR_ASAN 1
#endif
#endif

#ifdef ZIR_ASAN
#include <sanitizer/asan_interface.h>
#define ZIR_POISON(addr, size) ASAN_POISON_MEMORY_REGION((addr), (size))
#define ZIR_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION((addr), (size))
#else
#define ZIR_POISON(addr, size) ((void)(addr), (void)(size))
#define ZIR_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif

#define ZIR_LIKELY(x) __builtin_expect(!!(x), 1)
#define ZIR_UNLIKELY(x) __builtin_expect(!!(x), 0)

namespace zir {

using i8 = std::int8_t;
using u8 = std::uint8_t;
using i16 = std::int16_t;
using u16 = std::uint16_t;
using i32 = std::int32_t;
using u32 = std::uint32_t;
using i64 = std::int64_t;
using u64 = std::uint64_t;

// Language-level sizes and lengths are signed 32-bit.
constexpr i64 MAX_LENGTH = 0x7FFFFFFF;

}  // namespace zir
