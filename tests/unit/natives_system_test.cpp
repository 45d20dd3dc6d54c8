// The system-facing natives through the interpreter: transcode and its
// refinements (and tracers that change what it works on), checksums against
// sha256sum, compression round trips, now, call, wait, the environment,
// files, browse and recycle.
#include "eval_support.hpp"
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>

#include "datatypes/date.hpp"
#include "datatypes/integer.hpp"
#include "evaluator/natives.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace {

using namespace test;

struct SystemNatives : EvalTest {};

struct Case {
    const char* code;
    const char* expected;
};

// A temporary folder, removed with what it holds.
struct TempDir {
    std::string path;
    TempDir() {
        char templ[] = "/tmp/zir-natives-XXXXXX";
        path = mkdtemp(templ);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string write(const std::string& name, const std::string& content) const {
        std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
};

std::string shell_output(const std::string& command) {
    std::string out;
    FILE* f = popen(command.c_str(), "r");
    char buf[256];
    while (f && std::fgets(buf, sizeof buf, f)) out += buf;
    if (f) pclose(f);
    return out;
}

// A mold without its line breaks and indentation (long binaries break).
std::string flat(std::string molded) {
    std::erase_if(molded, [](char c) { return c == '\n' || c == ' '; });
    return molded;
}

// --- transcode ------------------------------------------------------------------

TEST_F(SystemNatives, TranscodeRefinements) {
    for (const Case& c : std::vector<Case>{
             {"transcode \"a 1 [b]\"", "[a 1 [b]]"},
             {"transcode \"\"", "[]"},
             {"transcode/one \"1 2\"", "1"},
             {"transcode/next \"1 2\"", "[1 \" 2\"]"},
             {"transcode/next next \"x[a] b\"", "[[a] \" b\"]"},
             {"transcode/scan \"12 a\"", "integer!"},
             {"transcode/scan \"\"", "none"},
             {"transcode/scan \"  \"", "none"},
             {"transcode/prescan \"[a b\"", "error!"},
             {"transcode/scan \"1.2.3\"", "tuple!"},
             {"transcode/part \"1 2 3\" 3", "[1 2]"},
             {"transcode/part \"1 2 3\" -4", "[]"},
             {"s: #{312032203320} transcode/part s skip s 3", "[1 2]"},
             {"b: [x] transcode/into \"1 2\" b b", "[x 1 2]"},
             {"b: [x] transcode/into/one \"1 2\" b", "[x 1]"},
             {"transcode #{31203220}", "[1 2]"},
             {"transcode #{EFBBBF31203220}", "[1 2]"},
             {"transcode/next #{EFBBBF31203220}", "[1 #{203220}]"},
             {"transcode skip \"1 2\" 10", "[]"},
         })
        EXPECT_EQ(eval_mold(c.code), c.expected) << c.code;
    EXPECT_EQ(eval_error("transcode/part \"1 2\" #{00}"), "script not-same-type");
    EXPECT_EQ(eval_error("transcode \"[a\""), "syntax missing");
}

// A tracer may clear the source text being loaded and the block loaded
// into: the lexer reads its own copy of the text, and appends to the block
// as it is once the scan is done.
TEST_F(SystemNatives, TranscodeTracersChangingTheirData) {
    def("zz-clear-src", "[event input type line token]", "[clear zz-src clear zz-into append zz-into 'x true]");
    eval_mold("zz-src: \"1 [2 3] 4\" zz-into: [a b]");
    EXPECT_EQ(eval_mold("transcode/into/trace zz-src zz-into :zz-clear-src"), "[x 1 [2 3] 4]");
    EXPECT_EQ(eval_mold("zz-src"), "\"\"");
    def("zz-clear-input", "[event input type line token]", "[clear head input true]");
    eval_mold("zz-src: #{31205B32205D}");
    EXPECT_EQ(eval_mold("transcode/trace zz-src :zz-clear-input"), "[1 [2]]");
    EXPECT_EQ(eval_mold("zz-src"), "#{}");
    // /next answers the rest of the source as it now is.
    eval_mold("zz-src: \"1 2 3\" zz-into: []");
    EXPECT_EQ(eval_mold("transcode/next/trace zz-src :zz-clear-src"), "[1 \"\"]");
}

// --- checksum ---------------------------------------------------------------------

TEST_F(SystemNatives, Checksums) {
    for (const Case& c : std::vector<Case>{
             {"checksum \"abc\" 'crc32", "891568578"},
             {"checksum #{616263} 'CRC32", "891568578"},
             {"checksum \"abc\" 'adler32", "38600999"},
             {"checksum \"abc\" 'tcp", "15261"},
             {"checksum \"abc\" 'md5", "#{900150983CD24FB0D6963F7D28E17F72}"},
             {"checksum \"abc\" 'sha1", "#{A9993E364706816ABA3E25717850C26C9CD0D89D}"},
             {"checksum \"abc\" 'sha256", "#{BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD}"},
             {"checksum next \"xabc\" 'sha256",
              "#{BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD}"},
             {"checksum \"é\" 'md5", "#{66DDCD97CFDEABB2F6FB8A999B4BC76F}"},
             {"checksum/with \"what do ya want for nothing?\" 'md5 \"Jefe\"",
              "#{750C783E6AB0B503EAA86E310A5DB738}"},
         })
        EXPECT_EQ(flat(eval_mold(c.code)), c.expected) << c.code;
    for (const Case& c : std::vector<Case>{
             {"checksum/with \"abc\" 'crc32 \"k\"", "script invalid-refine-arg"},
             {"checksum/with \"abc\" 'tcp 4", "script invalid-refine-arg"},
             {"checksum \"abc\" 'hash", "script invalid-refine-arg"},
             {"checksum/with \"abc\" 'hash \"k\"", "script invalid-refine-arg"},
             {"checksum \"abc\" 'sha3", "script invalid-arg"},
             {"checksum %/nonexistent/zz 'md5", "access cannot-open"},
             // a folder's path reads as its listing, which is no data
             {"checksum %/tmp/ 'md5", "script invalid-arg"},
         })
        EXPECT_EQ(eval_error(c.code), c.expected) << c.code;
    // The hash table stand-in answers 0.
    EXPECT_EQ(eval_mold("checksum/with \"abc\" 'hash 10"), "0");
    EXPECT_NE(eval_report("checksum/with \"abc\" 'crc32 \"k\"").find("with"), std::string::npos);
}

TEST_F(SystemNatives, ChecksumOfAFileAgreesWithSha256sum) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 5000; i++) content += char(i * 7 + i / 13);
    std::string path = dir.write("data.bin", content);
    std::string want = shell_output("sha256sum '" + path + "'").substr(0, 64);
    for (char& ch : want) ch = char(toupper(ch));
    ASSERT_EQ(want.size(), 64u);
    std::string code = "checksum %" + path + " 'sha256";
    EXPECT_EQ(flat(eval_mold(code.c_str())), "#{" + want + "}");
}

// --- compress and decompress ----------------------------------------------------------

TEST_F(SystemNatives, CompressionRoundTrips) {
    for (const char* method : {"zlib", "deflate", "gzip"}) {
        std::string code = std::string("decompress compress \"hello hello hello é\" '") + method + " '" + method;
        EXPECT_EQ(eval_mold(code.c_str()), "#{68656C6C6F2068656C6C6F2068656C6C6F20C3A9}") << code;
        code = std::string("decompress/size compress #{} '") + method + " '" + method + " 100";
        EXPECT_EQ(eval_mold(code.c_str()), "#{}") << code;
    }
    // From the head of the binary.
    EXPECT_EQ(eval_mold("decompress insert compress \"abc\" 'deflate #{FF} 'deflate"), "#{616263}");
    EXPECT_EQ(eval_error("decompress next compress \"abc\" 'deflate 'deflate"), "script invalid-data");
    EXPECT_EQ(eval_error("compress \"abc\" 'lzma"), "script invalid-arg");
    EXPECT_EQ(eval_error("decompress #{00} 'lzma"), "script invalid-arg");
    EXPECT_EQ(eval_error("decompress #{0000} 'zlib"), "script invalid-data");
    EXPECT_EQ(eval_error("decompress head remove back tail compress \"abcabc\" 'gzip 'gzip"), "script invalid-data");
}

// --- now ------------------------------------------------------------------------------

TEST_F(SystemNatives, Now) {
    std::time_t t = std::time(nullptr);
    std::tm utc;
    gmtime_r(&t, &utc);
    Cell year = *eval("now/utc/year");
    ASSERT_EQ(TYPE_OF(&year), TYPE_INTEGER);
    EXPECT_NEAR(integer::get(&year), utc.tm_year + 1900, 1);
    Cell d = *eval("now/date");
    ASSERT_EQ(TYPE_OF(&d), TYPE_DATE);
    EXPECT_FALSE(date::has_time_q(d.w1));
    Cell full = *eval("now");
    ASSERT_EQ(TYPE_OF(&full), TYPE_DATE);
    EXPECT_TRUE(date::has_time_q(full.w1));
    // The time of day read back from the date is the clock's, in its zone.
    Cell u = *eval("now/utc");
    ASSERT_EQ(TYPE_OF(&u), TYPE_DATE);
    EXPECT_EQ(date::zone_of(u.w1), 0u);
    double seconds = utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec;
    double got = date::time_of(&u);
    EXPECT_TRUE(std::fabs(got - seconds) < 5 || std::fabs(got - seconds) > 86395) << got << " " << seconds;
    EXPECT_EQ(date::day_of(u.w1), utc.tm_mday);
    for (const Case& c : std::vector<Case>{
             {"now/time", ""}, {"now/zone", ""}, {"now/precise", ""}, {"now/utc", ""},
             {"now/precise/utc", ""}, {"now/utc/weekday", ""},
             {"now/year/month", "script bad-refines"}, {"now/date/time", "script bad-refines"},
             {"now/precise/year", "script bad-refines"},
         })
        EXPECT_EQ(eval_error(c.code), c.expected) << c.code;
    EXPECT_EQ(TYPE_OF(eval("now/time")), TYPE_TIME);
    EXPECT_EQ(TYPE_OF(eval("now/zone")), TYPE_TIME);
    i32 weekday = integer::get(eval("now/utc/weekday"));
    EXPECT_EQ(weekday, utc.tm_wday == 0 ? 7 : utc.tm_wday);
    EXPECT_EQ(integer::get(eval("now/utc/yearday")), utc.tm_yday + 1);
}

// --- processes, waiting, the environment ---------------------------------------------------

TEST_F(SystemNatives, CallAndWait) {
    EXPECT_EQ(eval_mold("call \"\""), "0");
    EXPECT_EQ(eval_mold("call/wait \"false\""), "1");
    EXPECT_EQ(eval_mold("zz-out: \"\" call/output \"echo hi\" zz-out"), "0");
    EXPECT_EQ(global_mold("zz-out"), "\"hi^/\"");
    EXPECT_EQ(eval_mold("wait 0"), "none");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(eval_mold("wait 0.05"), "none");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(eval_mold("wait 0:00:00.01"), "none");
    EXPECT_EQ(eval_error("wait []"), "script invalid-arg");
    EXPECT_EQ(eval_error("wait none"), "script invalid-arg");
}

TEST_F(SystemNatives, EnvironmentVariables) {
    EXPECT_EQ(eval_mold("set-env \"ZZ_NATIVES_VAR\" \"a b\""), "\"a b\"");
    EXPECT_EQ(eval_mold("get-env 'ZZ_NATIVES_VAR"), "\"a b\"");
    EXPECT_STREQ(std::getenv("ZZ_NATIVES_VAR"), "a b");
    EXPECT_NE(eval_mold("list-env").find("\"ZZ_NATIVES_VAR\" \"a b\""), std::string::npos);
    EXPECT_EQ(TYPE_OF(eval("list-env")), TYPE_MAP);
    EXPECT_EQ(eval_mold("set-env 'ZZ_NATIVES_VAR none"), "none");
    EXPECT_EQ(eval_mold("get-env \"ZZ_NATIVES_VAR\""), "none");
    EXPECT_EQ(std::getenv("ZZ_NATIVES_VAR"), nullptr);
    // Names the system cannot keep are refused, not reported as set.
    EXPECT_EQ(eval_error("set-env \"A=B\" \"x\""), "script invalid-arg");
    EXPECT_EQ(eval_error("set-env \"\" \"x\""), "script invalid-arg");
    EXPECT_EQ(eval_error("set-env \"ZZ^@X\" \"x\""), "script invalid-arg");
    EXPECT_EQ(eval_error("set-env \"ZZ_NATIVES_VAR\" \"x^@y\""), "script invalid-arg");
    EXPECT_EQ(std::getenv("ZZ_NATIVES_VAR"), nullptr);
}

// --- files ----------------------------------------------------------------------------

TEST_F(SystemNatives, FilesAndFolders) {
    TempDir dir;
    std::string path = dir.write("five", "12345");
    std::string code = "size? %" + path;
    EXPECT_EQ(eval_mold(code.c_str()), "5");
    code = "size? %" + dir.path + "/";
    EXPECT_EQ(eval_mold(code.c_str()), "none");
    code = "size? %" + dir.path + "/missing";
    EXPECT_EQ(eval_mold(code.c_str()), "none");
    EXPECT_EQ(eval_mold("to-local-file %/a/b%20c"), "\"/a/b c\"");
    EXPECT_EQ(eval_mold("to-local-file \"/x/y\""), "\"/x/y\"");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(eval_mold("to-local-file/full %rel"), "\"" + std::string(cwd) + "/rel\"");
}

// browse hands its text to xdg-open as one argument, never to a shell: a
// stand-in xdg-open on PATH records what it got.
TEST_F(SystemNatives, BrowseRunsXdgOpenWithoutAShell) {
    TempDir dir;
    std::string log = dir.path + "/log";
    dir.write("xdg-open", "#!/bin/sh\nprintf '%s|' \"$@\" > '" + log + ".tmp'\nmv '" + log + ".tmp' '" + log + "'\n");
    chmod((dir.path + "/xdg-open").c_str(), 0755);
    std::string saved_path = std::getenv("PATH");
    setenv("PATH", (dir.path + ":" + saved_path).c_str(), 1);
    auto read_log = [&] {
        for (int i = 0; i < 200; i++) {
            std::ifstream in(log);
            if (in) return std::string(std::istreambuf_iterator<char>(in), {});
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::string("<nothing>");
    };
    EXPECT_EQ(eval_mold("browse to url! {http://example.org/?a=1;touch x&b=$(id)}"), "unset");
    EXPECT_EQ(read_log(), "http://example.org/?a=1;touch x&b=$(id)|");
    std::remove(log.c_str());
    std::string code = "browse %" + dir.path + "/a%20b";
    eval_mold(code.c_str());
    EXPECT_EQ(read_log(), dir.path + "/a b|");
    setenv("PATH", saved_path.c_str(), 1);
    EXPECT_EQ(eval_mold("browse %zz-no-such-thing"), "unset");
}

// --- the collector --------------------------------------------------------------------

TEST_F(SystemNatives, Recycle) {
    Cell used = *eval("recycle");
    ASSERT_EQ(TYPE_OF(&used), TYPE_INTEGER);
    EXPECT_GT(integer::get(&used), 0);
    EXPECT_EQ(TYPE_OF(eval("recycle/off")), TYPE_UNSET);
    EXPECT_FALSE(collector::active);
    EXPECT_EQ(TYPE_OF(eval("recycle/on")), TYPE_UNSET);
    EXPECT_TRUE(collector::active);
}

// --- the type check of compiled callers --------------------------------------------------

TEST_F(SystemNatives, CheckedCallsRefuseWrongTypesFirst) {
    Cell* args = stack::push(read_block("\"abc\" sha256"));
    Cell* saved = stack::arguments;
    stack::arguments = args;
    i32 refinements[1] = {-1};
    std::string id;
    try {
        reinterpret_cast<natives::Entry>(natives::table[87 - 1])(1, refinements);
    } catch (const LanguageError& e) {
        id = e.id;
    }
    stack::arguments = saved;
    stack::top = args;
    EXPECT_EQ(id, "expect-arg");
}

}  // namespace
}  // namespace zir
