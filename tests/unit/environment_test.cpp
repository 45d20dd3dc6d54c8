// The process's surroundings: command lines joined from arguments, the
// environment as name and value pairs, and the system's description taken
// apart from uname's texts. tests/oracle/environment.py checks the same
// against a child run with an environment of its own and against uname(1).
#include <algorithm>
#include <cstdlib>
#include <map>

#include "datatypes/map.hpp"
#include "datatypes/string.hpp"
#include "datatypes/unset.hpp"
#include "runtime/platform.hpp"
#include "services/environment.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Environment : ValueTest {};

TEST_F(Environment, CommandLinesQuoteWhatHoldsBlanks) {
    struct Case {
        std::vector<std::string> args;
        const char* line;
    } cases[] = {
        {{}, ""},
        {{"zir"}, "zir"},
        {{"zir", "a b", "c"}, "zir \"a b\" c"},
        {{"zir", "", "tab\there"}, "zir \"\" \"tab\there\""},
        {{"/usr/bin/zir", "--catch", "s.zir"}, "/usr/bin/zir --catch s.zir"},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::join_command_line(c.args), c.line);
}

TEST_F(Environment, TheCommandLineStartsWithTheProgram) {
    Cell* line = platform::get_command_line();
    ASSERT_EQ(TYPE_OF(line), TYPE_STRING);
    std::string text = string::to_std(line);
    EXPECT_NE(text.find("zir_tests"), std::string::npos) << text;
}

TEST_F(Environment, PairsSplitAtTheFirstEqualsSignAfterTheName) {
    std::map<std::string, std::string> set = {
        {"ZIR_TEST_EQ", "a=b=c"},
        {"ZIR_TEST_EMPTY", ""},
        {"ZIR_TEST_TEXT", "caf\xC3\xA9 \xF0\x9D\x84\x9E"},
        {"ZIR_TEST_CASE", "upper"},
        {"zir_test_case", "lower"},   // letter case keeps names apart
    };
    for (const auto& [name, value] : set) ASSERT_EQ(setenv(name.c_str(), value.c_str(), 1), 0);
    Cell* out = stack::push(&unset::value);
    platform::list_env(out);
    for (const auto& [name, value] : set) unsetenv(name.c_str());
    ASSERT_EQ(TYPE_OF(out), TYPE_MAP);
    std::map<std::string, std::string> found;
    SeriesBuffer* s = node_buffer(out->w2);
    Cell* cells = series::head_cells(s);
    for (i32 i = 0; i + 1 < series::length_of(s); i += 2) {
        ASSERT_EQ(TYPE_OF(&cells[i]), TYPE_STRING);
        ASSERT_EQ(TYPE_OF(&cells[i + 1]), TYPE_STRING);
        found[string::to_std(&cells[i])] = string::to_std(&cells[i + 1]);
    }
    for (const auto& [name, value] : set) {
        ASSERT_EQ(found.count(name), 1u) << name;
        EXPECT_EQ(found[name], value) << name;
    }
    size_t count = 0;
    for (char** e = environ; *e; e++) count++;
    EXPECT_EQ(size_t(map::key_count(out)), count + set.size());
    EXPECT_EQ(found.size(), count + set.size());
}

TEST_F(Environment, ANameGivenTwiceListsTheValueGetEnvFinds) {
    // A process can be started with one name in two entries; getenv answers
    // the first, and so must the listing.
    char first[] = "ZIR_TWICE=first";
    char second[] = "ZIR_TWICE=second";
    char other[] = "zir_twice=lower";
    char* entries[] = {first, other, second, nullptr};
    char** kept = environ;
    environ = entries;
    std::string found = platform::get_env("ZIR_TWICE").value_or("(none)");
    Cell* out = stack::push(&unset::value);
    platform::list_env(out);
    environ = kept;
    EXPECT_EQ(found, "first");
    ASSERT_EQ(TYPE_OF(out), TYPE_MAP);
    EXPECT_EQ(map::key_count(out), 2);
    SeriesBuffer* s = node_buffer(out->w2);
    Cell* cells = series::head_cells(s);
    std::map<std::string, std::string> listed;
    for (i32 i = 0; i + 1 < series::length_of(s); i += 2) listed[string::to_std(&cells[i])] = string::to_std(&cells[i + 1]);
    EXPECT_EQ(listed, (std::map<std::string, std::string>{{"ZIR_TWICE", "first"}, {"zir_twice", "lower"}}));
}

TEST_F(Environment, ArchitectureWords) {
    struct Case {
        const char* machine;
        const char* word;
    } cases[] = {
        {"x86_64", "x86-64"}, {"aarch64", "ARM64"}, {"arm64", "ARM64"}, {"i686", "x86-32"},
        {"i386", "x86-32"},   {"armv7l", "ARM"},    {"ia64", "IA-64"},  {"riscv64", "Unknown"},
        {"", "Unknown"},
    };
    for (const Case& c : cases) EXPECT_STREQ(platform::arch_word(c.machine), c.word) << c.machine;
}

TEST_F(Environment, ReleaseNumbersAndBuild) {
    struct Case {
        const char* release;
        i32 a, b, c;
    } releases[] = {
        {"6.1.0-18-amd64", 6, 1, 0},  {"5.15.0-91-generic", 5, 15, 0}, {"4.19.112+", 4, 19, 112},
        {"6.6", 6, 6, 0},             {"6.8.9-arch1-1", 6, 8, 9},     {"", 0, 0, 0},
        {"x.1", 0, 0, 0},             {"3.99999999999.1", 3, 2147483647, 1},
    };
    for (const Case& c : releases) {
        i32 v[3];
        platform::parse_release(c.release, v);
        EXPECT_EQ(v[0], c.a) << c.release;
        EXPECT_EQ(v[1], c.b) << c.release;
        EXPECT_EQ(v[2], c.c) << c.release;
    }
    EXPECT_EQ(platform::parse_build("#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"), 1);
    EXPECT_EQ(platform::parse_build("#101-Ubuntu SMP Tue Nov 14 13:30:08 UTC 2023"), 101);
    EXPECT_EQ(platform::parse_build("SMP"), 0);
    EXPECT_EQ(platform::parse_build("#x"), 0);
}

TEST_F(Environment, TheSystemAsAnObject) {
    platform::OsInfo info = platform::os_info();
    Cell* o = stack::push(&unset::value);
    platform::get_os_info(o);
    ASSERT_EQ(TYPE_OF(o), TYPE_OBJECT);
    std::string expected = "make object! [\n    name: \"" + info.name + "\"\n    arch: '" + info.arch +
                           "\n    version: " + std::to_string(std::min(info.version[0], 255)) + "." +
                           std::to_string(std::min(info.version[1], 255)) + "." +
                           std::to_string(std::min(info.version[2], 255)) + "\n    build: " +
                           std::to_string(info.build) + "\n]";
    EXPECT_MOLD(o, expected);
}

}  // namespace
}  // namespace zir
