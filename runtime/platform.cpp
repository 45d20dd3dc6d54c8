// Platform layer over POSIX: see platform.hpp.
#include "runtime/platform.hpp"

#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "runtime/console.hpp"

namespace zir {
namespace platform {

void init() { console::init(); }

namespace {

// Where a system maps huge pages only on request, a block holding one or
// more of them whole is placed on their boundary and asked to be backed by
// them: filling it then faults once per 2 MiB instead of once per 4 KiB
// page, which on a virtual machine costs several microseconds each. The
// block is trimmed back to its size, so freeing it frees exactly what was
// mapped.
constexpr u64 HUGE_PAGE = u64(2) << 20;

void* huge_page_block(u64 size, int prot) {
    void* p = mmap(nullptr, size + HUGE_PAGE, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(p);
    uintptr_t aligned = (start + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
    if (aligned > start) munmap(p, aligned - start);
    uintptr_t end = aligned + size, mapped_end = start + size + HUGE_PAGE;
    if (mapped_end > end) munmap(reinterpret_cast<void*>(end), mapped_end - end);
#ifdef MADV_HUGEPAGE
    // The whole block (one mapping, as os_resize needs), though only its
    // whole 2 MiB pieces can be huge pages.
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

}  // namespace

void* os_alloc(u64 size, bool executable, bool populate) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    if (size >= HUGE_PAGE && !executable) {
        if (void* p = huge_page_block(size, prot)) {
            if (populate) platform::populate(p, size);
            return p;
        }
    }
    void* p = mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0), -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void* reserve(u64 size) {
    void* p = mmap(nullptr, size + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
    if (p == MAP_FAILED) return nullptr;
    uintptr_t aligned = (reinterpret_cast<uintptr_t>(p) + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
    return reinterpret_cast<void*>(aligned);
}

void prefer_huge_pages(void* address, u64 size) {
#ifdef MADV_HUGEPAGE
    madvise(address, size, MADV_HUGEPAGE);
#else
    (void)address;
    (void)size;
#endif
}

void os_free(void* address, u64 size) { munmap(address, size); }

void* os_resize(void* address, u64 old_size, u64 new_size) {
    void* p = mremap(address, old_size, new_size, MREMAP_MAYMOVE);
    return p == MAP_FAILED ? nullptr : p;
}

void populate(void* address, u64 size) {
#ifdef MADV_POPULATE_WRITE
    if (size) madvise(address, size, MADV_POPULATE_WRITE);
#else
    (void)address;
    (void)size;
#endif
}

i64 heap_in_use() {
    struct mallinfo2 m = mallinfo2();
    return i64(m.uordblks) + i64(m.hblkhd);
}

void* open_library(const std::vector<std::string>& names, std::string* failure) {
    for (const std::string& name : names) {
        if (void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            if (failure) failure->clear();
            return handle;
        }
        if (failure) {
            const char* why = dlerror();
            if (!failure->empty()) *failure += "; ";
            *failure += why ? why : name + ": cannot be opened";
        }
    }
    return nullptr;
}

void* library_symbol(void* handle, const char* symbol) { return dlsym(handle, symbol); }

std::string get_current_dir() {
    std::string out;
    size_t size = 256;
    for (;;) {
        out.resize(size);
        if (getcwd(out.data(), size)) {
            out.resize(std::strlen(out.c_str()));
            return out;
        }
        if (errno != ERANGE) return std::string();
        size *= 2;
    }
}

bool set_current_dir(const std::string& path) { return chdir(path.c_str()) == 0; }

std::optional<std::string> get_env(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
}

bool set_env(const std::string& name, const std::string& value) {
    return setenv(name.c_str(), value.c_str(), 1) == 0;
}

i64 wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;   // also catches NaN
    if (ms > 9.2e18) return i64(9.2e18);
    return i64(ms);
}

void wait(double seconds) {
    i64 ms = wait_milliseconds(seconds);
    timespec t{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

double get_time(bool precise) { return read_clock(precise).seconds; }

u32 zone_bits(int offset_minutes) {
    // The sign is kept apart from the magnitude, so offsets between -1:00 and
    // 0:00 stay negative.
    u32 negative = offset_minutes < 0 ? 0x40 : 0;
    u32 a = u32(offset_minutes < 0 ? -offset_minutes : offset_minutes);
    u32 hours = (a / 60) & 0xF;
    u32 quarters = ((a % 60) / 15) & 3;
    return negative | (hours << 2) | quarters;
}

u32 pack_date(int year, int month, int day, int offset_minutes) {
    return (u32(year) << 17) | (u32(month) << 12) | (u32(day) << 7) | zone_bits(offset_minutes);
}

u32 get_date(bool utc) {
    ClockReading r = read_clock(false);
    return utc ? r.utc_date : r.local_date;
}

ClockReading reading_at(i64 seconds, i64 nanoseconds, bool precise) {
    time_t when = time_t(seconds);
    struct tm tm;
    ClockReading r{};
    gmtime_r(&when, &tm);
    r.utc_date = pack_date(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, 0);
    localtime_r(&when, &tm);
    r.local_date = pack_date(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, int(tm.tm_gmtoff / 60));
    i64 of_day = seconds % 86400;
    if (of_day < 0) of_day += 86400;
    r.seconds = double(of_day);
    if (precise) r.seconds += double(nanoseconds) / 1e9;
    return r;
}

ClockReading read_clock(bool precise) {
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return reading_at(i64(t.tv_sec), i64(t.tv_nsec), precise);
}

i64 monotonic_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return i64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

}  // namespace platform
}  // namespace zir
