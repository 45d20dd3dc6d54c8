// Platform layer: the few operating-system services the runtime itself needs
// (memory frames, current directory, environment, sleeping, clock and date).
// Everything else that touches the system lives in services/.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "runtime/base.hpp"

namespace zir {
namespace platform {

void init();

// Page-aligned memory from the system; nullptr when refused. `populate`
// asks for every page at once, for memory that will be filled straight away
// (one call instead of a page fault per page).
void* os_alloc(u64 size, bool executable, bool populate = false);
void os_free(void* address, u64 size);
// Address space for a table that fills over the program's life, never given
// back, starting on a 2 MiB boundary: no memory is taken until a page is
// written. nullptr when refused.
void* reserve(u64 size);
// Asks that a range be backed by 2 MiB pages where the system gives them:
// one fault each instead of 512, each zeroed whole when first touched.
void prefer_huge_pages(void* address, u64 size);
// The block from os_alloc grown (or shrunk) to `new_size`, its contents kept
// and its pages moved rather than copied; it may move. nullptr when refused,
// the block then untouched.
void* os_resize(void* address, u64 old_size, u64 new_size);
// Asks for the pages of a mapped range at once, ahead of writing them all;
// nothing happens where the system cannot (the pages then fault in as
// they are written).
void populate(void* address, u64 size);
// Bytes the C library's allocator has handed out and not taken back (the
// stacks, tables and other fixed series live there).
i64 heap_in_use();

// Shared libraries the program opens on first use instead of linking: the
// first of `names` the system opens (every symbol resolved now, none made
// global); null when none opens, the system's reasons put in `failure`.
void* open_library(const std::vector<std::string>& names, std::string* failure);
// The entry of an opened library named `symbol` into `slot`, a function
// pointer; false (the slot null) when the library has no such entry.
void* library_symbol(void* handle, const char* symbol);
template <class F>
bool find_entry(void* handle, F& slot, const char* symbol) {
    void* f = library_symbol(handle, symbol);
    slot = reinterpret_cast<F>(f);
    return f != nullptr;
}

// The current directory as UTF-8 (no trailing slash added here).
std::string get_current_dir();
bool set_current_dir(const std::string& path);

std::optional<std::string> get_env(const std::string& name);
bool set_env(const std::string& name, const std::string& value);

// Milliseconds actually slept for a request of `seconds`: at least 1, truncated.
i64 wait_milliseconds(double seconds);
void wait(double seconds);

// Seconds since midnight UTC; with `precise`, the fraction of the second too.
double get_time(bool precise);

// Today as a packed date word: year << 17 | month << 12 | day << 7 | zone,
// zone = bit 6 for a negative offset, bits 2..5 whole hours, bits 0..1 quarters.
u32 get_date(bool utc);

// The date and the time of one instant. Read together from one look at the
// clock: read apart, midnight may pass between the two, and the date of one
// day would carry the time of the next.
struct ClockReading {
    u32 utc_date;     // the UTC date, zone 0
    u32 local_date;   // the local date with the local zone
    double seconds;   // since midnight UTC; the fraction only when precise
};
ClockReading read_clock(bool precise);
// The reading of a given instant (seconds and nanoseconds since 1970 UTC).
ClockReading reading_at(i64 seconds, i64 nanoseconds, bool precise);
// The zone bits of an offset from UTC in minutes.
u32 zone_bits(int offset_minutes);
// The same packing for given fields (used by the clock and by tests).
u32 pack_date(int year, int month, int day, int offset_minutes);

// Milliseconds of a monotonic clock.
i64 monotonic_ms();

}  // namespace platform
}  // namespace zir
