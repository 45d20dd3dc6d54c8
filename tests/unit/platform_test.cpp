// Platform layer and runtime fault reports.
#include <cmath>
#include <ctime>

#include "runtime/fault.hpp"
#include "runtime/platform.hpp"
#include "support.hpp"

namespace zir {
namespace {

TEST(Platform, WaitRoundsToWholeMillisecondsAtLeastOne) {
    struct Case {
        double seconds;
        i64 ms;
    } cases[] = {{0, 1}, {0.0005, 1}, {-3, 1}, {0.001, 1}, {0.0109, 10}, {1.9999, 1999}, {2.5, 2500}};
    for (const Case& c : cases) EXPECT_EQ(platform::wait_milliseconds(c.seconds), c.ms) << c.seconds;
    EXPECT_EQ(platform::wait_milliseconds(std::nan("")), 1);
    i64 before = platform::monotonic_ms();
    platform::wait(0.02);
    EXPECT_GE(platform::monotonic_ms() - before, 20);
}

TEST(Platform, ZoneBitsKeepTheirSign) {
    struct Case {
        int minutes;
        u32 bits;
    } cases[] = {
        {0, 0x00},
        {60, 0x04},
        {330, 0x16},    // +5:30
        {-330, 0x56},   // five and a half hours west: negative, 5 hours, 2 quarters
        {-30, 0x42},    // under an hour west stays negative
        {-45, 0x43},
        {-15, 0x41},
        {345, 0x17},    // +5:45
        {-600, 0x68},
        {840, 0x38},    // +14:00
    };
    for (const Case& c : cases) EXPECT_EQ(platform::zone_bits(c.minutes), c.bits) << c.minutes;
    EXPECT_EQ(platform::pack_date(2026, 12, 9, -330), (2026u << 17) | (12u << 12) | (9u << 7) | 0x56u);
}

TEST(Platform, DateAndTimeFollowTheSystemClock) {
    time_t now = std::time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    u32 d = platform::get_date(true);
    EXPECT_EQ(int(d >> 17), utc.tm_year + 1900);
    EXPECT_EQ(int((d >> 12) & 0xF), utc.tm_mon + 1);
    EXPECT_EQ(d & 0x7F, 0u) << "UTC has no zone";
    struct tm local;
    localtime_r(&now, &local);
    u32 l = platform::get_date(false);
    EXPECT_EQ(l & 0x7F, platform::zone_bits(int(local.tm_gmtoff / 60)));
    double t = platform::get_time(true);
    EXPECT_GE(t, 0.0);
    EXPECT_LT(t, 86400.0);
    double whole = platform::get_time(false);
    EXPECT_EQ(whole, double(i64(whole)));
}

// Date and time come from one instant: at a midnight, UTC's or the zone's,
// the date is that of the time beside it.
TEST(Platform, OneReadingGivesTheDateAndTimeOfOneInstant) {
    const char* kept = std::getenv("TZ");
    std::string old = kept ? kept : "";
    struct Case {
        const char* zone;   // POSIX rule: the offset west of UTC
        i64 seconds, nanoseconds;
        bool precise;
        u32 utc_date, local_date;
        double time;
    } cases[] = {
        {"ZZZ+3", 1704067199, 999999999, true, platform::pack_date(2023, 12, 31, 0),
         platform::pack_date(2023, 12, 31, -180), 86399.999999999},
        {"ZZZ+3", 1704067199, 999999999, false, platform::pack_date(2023, 12, 31, 0),
         platform::pack_date(2023, 12, 31, -180), 86399},
        {"ZZZ-5:45", 1704067200, 0, true, platform::pack_date(2024, 1, 1, 0), platform::pack_date(2024, 1, 1, 345),
         0},
        {"ZZZ-5:45", 1704065400, 250000000, true, platform::pack_date(2023, 12, 31, 0),
         platform::pack_date(2024, 1, 1, 345), 84600.25},
        {"UTC0", -1, 0, false, platform::pack_date(1969, 12, 31, 0), platform::pack_date(1969, 12, 31, 0), 86399},
    };
    for (const Case& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        platform::ClockReading r = platform::reading_at(c.seconds, c.nanoseconds, c.precise);
        EXPECT_EQ(r.utc_date, c.utc_date) << c.zone << " " << c.seconds;
        EXPECT_EQ(r.local_date, c.local_date) << c.zone << " " << c.seconds;
        EXPECT_DOUBLE_EQ(r.seconds, c.time) << c.zone << " " << c.seconds;
    }
    if (kept) setenv("TZ", old.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST(Platform, DirectoryAndEnvironment) {
    std::string here = platform::get_current_dir();
    ASSERT_FALSE(here.empty());
    ASSERT_TRUE(platform::set_current_dir("/"));
    EXPECT_EQ(platform::get_current_dir(), "/");
    EXPECT_FALSE(platform::set_current_dir("/no/such/folder/here"));
    ASSERT_TRUE(platform::set_current_dir(here));

    EXPECT_FALSE(platform::get_env("ZIR_TEST_UNSET_VARIABLE").has_value());
    EXPECT_TRUE(platform::set_env("ZIR_TEST_VARIABLE", "caf\xC3\xA9"));
    EXPECT_EQ(platform::get_env("ZIR_TEST_VARIABLE").value_or(""), "caf\xC3\xA9");
}

TEST(Platform, MemoryBlocksArePageAligned) {
    void* p = platform::os_alloc(10000, false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
    static_cast<char*>(p)[9999] = 1;
    platform::os_free(p, 10000);
}

// Blocks of 2 MiB and more are placed for huge pages; they must still be
// one mapping that grows in place or moves with its bytes, and is freed
// whole, whatever their size (a whole number of huge pages or not).
TEST(Platform, LargeBlocksGrowAndKeepTheirBytes) {
    for (u64 size : {u64(2) << 20, (u64(2) << 20) + 4096, u64(5) << 20}) {
        u8* p = static_cast<u8*>(platform::os_alloc(size, false, true));
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
        for (u64 i = 0; i < size; i += 4096) p[i] = u8(i >> 12);
        p[size - 1] = 0xA5;
        const u64 grown = size * 2 + 8192;
        u8* q = static_cast<u8*>(platform::os_resize(p, size, grown));
        ASSERT_NE(q, nullptr) << size;
        bool kept = q[size - 1] == 0xA5;
        for (u64 i = 0; i < size; i += 4096) kept = kept && q[i] == u8(i >> 12);
        EXPECT_TRUE(kept) << size;
        q[grown - 1] = 1;
        platform::os_free(q, grown);
    }
}

TEST(Fault, ReportText) {
    char out[160];
    struct Case {
        int code;
        const char* message;
    } cases[] = {{1, "access violation"}, {13, "integer divide by zero"}, {94, "out of memory"},
                 {95, "no CATCH for THROW"}, {97, "unknown error code!"}, {101, "no value matched in SWITCH"}};
    for (const Case& c : cases) {
        int n = runtime::format_report(out, c.code, nullptr);
        std::string text(out, size_t(n));
        std::string head = "\n*** Runtime Error " + std::to_string(c.code) + ": " + c.message + "\n*** at: ";
        ASSERT_EQ(text.substr(0, head.size()), head);
        std::string tail = text.substr(head.size());
        ASSERT_EQ(tail.size(), 10u) << "eight hex digits, 'h' and a line feed";
        EXPECT_EQ(tail.substr(8), "h\n");
        for (char ch : tail.substr(0, 8)) EXPECT_TRUE(isdigit(ch) || (ch >= 'A' && ch <= 'F')) << tail;
    }
}

TEST(Fault, ExitsWithItsNumber) {
    EXPECT_EXIT(runtime::error_exit(101, nullptr), ::testing::ExitedWithCode(101), "");
    EXPECT_EXIT(runtime::error_exit(0, nullptr), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zir
