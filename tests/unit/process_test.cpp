// The process runner: streams fed and captured together (no deadlock however
// much flows each way), exit statuses, the shell and its fallback, captures
// into strings and binaries, files as streams, and children not waited for.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "services/process.hpp"
#include "services/simple_io.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Process : ValueTest {
    TempFolder tmp;
    std::string path(const std::string& name) const { return tmp / name; }
    std::string get(const std::string& name) const { return tmp.read(name); }
};

call::Options shell_opts(bool wait = true) {
    call::Options o;
    o.shell = true;
    o.wait = wait;
    return o;
}

i64 run(const std::string& command, const call::Options& o, call::Redirect& out, call::Redirect& err) {
    call::Redirect in;
    return call::run(command, o, in, out, err);
}

std::string text(const std::vector<u8>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string bytes_of(const Cell* bin) {
    SeriesBuffer* s = node_buffer(bin->w2);
    return std::string(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s));
}

// The state letter of a process in /proc, or 0 when there is none.
char proc_state(i64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return 0;
    size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ? 0 : line[close + 2];
}

// --- Streams ----------------------------------------------------------------------------------

TEST_F(Process, TenMegabytesEachWayFlowWithoutDeadlock) {
    // The child copies its input to both outputs as it reads it: it blocks on
    // either full pipe unless both are read while the input is still fed.
    std::vector<u8> input(10 << 20);
    std::mt19937 gen(7);
    for (u8& b : input) b = u8('a' + gen() % 26);
    for (size_t i = 0; i < input.size(); i += 1 + gen() % 200) input[i] = '\n';
    call::Redirect in, out, err;
    in.kind = call::Redirect::BYTES;
    in.bytes = input;
    out.kind = err.kind = call::Redirect::CAPTURE;
    i64 code = call::run("tee /dev/stderr | tr a-z A-Z", shell_opts(), in, out, err);
    EXPECT_EQ(code, 0);
    std::vector<u8> upper = input;
    for (u8& b : upper) b = u8(std::toupper(b));
    ASSERT_EQ(out.bytes.size(), input.size());
    ASSERT_EQ(err.bytes.size(), input.size());
    EXPECT_TRUE(out.bytes == upper);
    EXPECT_TRUE(err.bytes == input);
}

TEST_F(Process, AChildThatReadsNoInputEndsTheRun) {
    // It exits without reading: the rest of the input meets a closed pipe,
    // which ends the feeding and must not end this process.
    call::Redirect in, out, err;
    in.kind = call::Redirect::BYTES;
    in.bytes.assign(4 << 20, 'x');
    out.kind = call::Redirect::CAPTURE;
    EXPECT_EQ(call::run("echo early; exit 5", shell_opts(), in, out, err), 5);
    EXPECT_EQ(text(out.bytes), "early\n");
}

TEST_F(Process, ExitStatusesAndSignals) {
    struct Case {
        const char* command;
        bool shell;
        i64 status;
    } cases[] = {
        {"exit 0", true, 0},
        {"exit 3", true, 3},
        {"kill -TERM $$", true, 128 + SIGTERM},
        {"kill -KILL $$", true, 128 + SIGKILL},
        {"true", false, 0},
        {"false", false, 1},
        {"sh -c 'exit 42'", false, 42},
    };
    for (const Case& c : cases) {
        call::Options o;
        o.shell = c.shell;
        o.wait = true;
        call::Redirect out, err;
        EXPECT_EQ(run(c.command, o, out, err), c.status) << c.command;
        EXPECT_EQ(call::shell_used, c.shell) << c.command;
    }
}

TEST_F(Process, AShellRunsPipelines) {
    Cell* result = int_(0);
    Cell* out = str("");
    call::call(result, str("printf 'a\\nb\\nc\\n' | grep -c .; echo $((6 * 7))"), shell_opts(), nullptr, out, nullptr);
    EXPECT_EQ(integer::get(result), 0);
    EXPECT_EQ(string::to_std(out), "3\n42\n");
}

TEST_F(Process, WordsRunDirectlyWithoutAShell) {
    call::Redirect out, err;
    out.kind = call::Redirect::CAPTURE;
    call::Options o;
    o.wait = true;
    // The shell's metacharacters are plain arguments here.
    EXPECT_EQ(run("printf \"%s|\" 'a b' \"c \\\"d\\\"\" $HOME '>' x", o, out, err), 0);
    EXPECT_EQ(text(out.bytes), "a b|c \"d\"|$HOME|>|x|");
    EXPECT_FALSE(call::shell_used);
}

TEST_F(Process, AMissingProgramIsRetriedThroughTheShell) {
    call::Redirect out, err;
    err.kind = call::Redirect::CAPTURE;
    call::Options o;
    o.wait = true;
    EXPECT_EQ(run("zir-no-such-program --flag", o, out, err), 127);
    EXPECT_TRUE(call::shell_used);
    EXPECT_TRUE(call::shell_error);
    EXPECT_NE(text(err.bytes).find("not found"), std::string::npos) << text(err.bytes);
    // A path that names nothing fares the same; a file that cannot run cannot start.
    EXPECT_EQ(run("/no/such/program", o, out, err), 127);
    std::ofstream(path("plain")) << "x";
    chmod(path("plain").c_str(), 0644);
    EXPECT_EQ(run(path("plain"), o, out, err), -1);   // no execute bit: not even root runs it
}

TEST_F(Process, SplittingACommandIntoWords) {
    struct Case {
        const char* command;
        bool ok;
        std::vector<std::string> words;
    } cases[] = {
        {"ls -l", true, {"ls", "-l"}},
        {"  a\t b  ", true, {"a", "b"}},
        {"", true, {}},
        {"\"a b\" 'c d'", true, {"a b", "c d"}},
        {"x\"y z\"w", true, {"xy zw"}},
        {"\"q\\\"uote\" \"back\\\\\" \"keep\\n\"", true, {"q\"uote", "back\\", "keep\\n"}},
        {"'it''s'", true, {"its"}},
        {"'a\\'", true, {"a\\"}},
        {"\"\"", true, {""}},
        {"\"open", false, {}},
        {"'open", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words;
        EXPECT_EQ(call::split_command(c.command, words), c.ok) << c.command;
        if (c.ok) {
            EXPECT_EQ(words, c.words) << c.command;
        }
    }
}

// --- The language's entry ----------------------------------------------------------------------

TEST_F(Process, TextGoesInAsUtf8AndComesBackDecoded) {
    Cell* result = int_(0);
    Cell* out = str("before:");
    Cell* in = str("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E\n");
    call::call(result, str("cat"), call::Options{}, in, out, nullptr);
    EXPECT_EQ(string::to_std(out), "before:caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E\n");
    // CR LF and a lone CR become LF in a string, and stay in a binary.
    Cell* lines = str("");
    Cell* raw = binary_({0xAA, 0xBB});
    call::call(result, str("printf 'a\\r\\nb\\rc'; printf 'x\\r\\n' >&2"), shell_opts(), nullptr, lines, raw);
    EXPECT_EQ(string::to_std(lines), "a\nb\nc");
    EXPECT_EQ(bytes_of(raw), "x\r\n\xAA\xBB");   // before what the binary held
}

TEST_F(Process, CapturesGoBeforeABinarysHeadAndAfterAStringsTail) {
    Cell* result = int_(0);
    Cell* bin = at_(binary_({1, 2, 3, 4}), 2);
    Cell* s = at_(str("keep"), 4);
    call::call(result, str("printf '\\001'; printf 'e' >&2"), shell_opts(), nullptr, bin, s);
    EXPECT_EQ(bytes_of(bin), std::string("\x01\x02\x01\x03\x04", 5));
    EXPECT_EQ(string::to_std(at_(s, 0)), "keepe");
    // A binary input from its head.
    Cell* out = binary_({});
    call::call(result, str("cat"), call::Options{}, at_(binary_({9, 8, 7}), 1), out, nullptr);
    EXPECT_EQ(bytes_of(out), "\x08\x07");
}

TEST_F(Process, FilesFeedAndReceiveStreams) {
    std::ofstream(path("in.txt")) << "from a file\n";
    std::ofstream(path("out.txt")) << "old\n";
    Cell* result = int_(0);
    call::call(result, str("cat; echo oops >&2"), shell_opts(), str(path("in.txt").c_str(), TYPE_FILE),
               str(path("out.txt").c_str(), TYPE_FILE), str(path("err.txt").c_str(), TYPE_FILE));
    EXPECT_EQ(integer::get(result), 0);
    EXPECT_EQ(get("out.txt"), "old\nfrom a file\n");   // appended
    EXPECT_EQ(get("err.txt"), "oops\n");               // made
    // An input file that cannot be opened stops the run; an output file that
    // cannot be opened leaves its stream going nowhere.
    call::call(result, str("cat"), shell_opts(), str(path("missing").c_str(), TYPE_FILE), nullptr, nullptr);
    EXPECT_EQ(integer::get(result), -1);
    // A folder is no file to read from, nor to write to.
    call::call(result, str("exit 3"), shell_opts(), str(tmp.path.c_str(), TYPE_FILE), nullptr, nullptr);
    EXPECT_EQ(integer::get(result), -1);
    call::call(result, str("echo lost; exit 5"), shell_opts(), nullptr, str(tmp.path.c_str(), TYPE_FILE), nullptr);
    EXPECT_EQ(integer::get(result), 5);
    call::call(result, str("echo lost; exit 4"), shell_opts(), nullptr, str(path("no/dir/out").c_str(), TYPE_FILE),
               nullptr);
    EXPECT_EQ(integer::get(result), 4);
}

TEST_F(Process, BadArgumentsAndTheEmptyCommand) {
    Cell* result = int_(7);
    call::call(result, str(""), call::Options{}, nullptr, nullptr, nullptr);
    EXPECT_EQ(integer::get(result), 0);
    EXPECT_EQ(error_of([&] { call::call(result, str("cat"), call::Options{}, int_(1), nullptr, nullptr); }),
              "script invalid-arg");
    EXPECT_EQ(error_of([&] { call::call(result, str("cat"), call::Options{}, nullptr, block({}), nullptr); }),
              "script invalid-arg");
    EXPECT_EQ(error_of([&] {
                  call::call(result, text_series(std::u32string(U"a\0b", 3), 1), call::Options{}, nullptr, nullptr,
                             nullptr);
              }),
              "script invalid-arg");
    // Output that is no UTF-8 cannot be a string: an error, and the target is left alone.
    Cell* out = str("kept");
    EXPECT_EQ(error_of([&] { call::call(result, str("printf '\\377'"), shell_opts(), nullptr, out, nullptr); }),
              "access invalid-utf8");
    EXPECT_EQ(string::to_std(out), "kept");
}

TEST_F(Process, TheResultMayBeTheCommandsOwnCell) {
    Cell* cell = str("exit 9");
    call::call(cell, cell, shell_opts(), nullptr, nullptr, nullptr);
    EXPECT_EQ(TYPE_OF(cell), TYPE_INTEGER);
    EXPECT_EQ(integer::get(cell), 9);
}

// --- Children not waited for ---------------------------------------------------------------------

TEST_F(Process, WithoutWaitingTheAnswerIsAProcessIdAndTheChildIsReaped) {
    if (proc_state(getpid()) == 0) GTEST_SKIP() << "no /proc";
    call::Options o;   // no wait, no redirection
    call::Redirect out, err;
    i64 pid = run("sleep 0.3", o, out, err);
    ASSERT_GT(pid, 0);
    EXPECT_NE(pid, getpid());
    EXPECT_NE(proc_state(pid), 0);   // running, ours
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    for (int i = 0; i < 4; i++) stat >> field;
    EXPECT_EQ(std::stoi(field), getpid());
    // Once it ends it is reaped: no zombie is left behind.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (proc_state(pid) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(proc_state(pid), 0) << "state " << proc_state(pid);
}

TEST_F(Process, StreamsNotRedirectedGoNowhereUnlessTheConsoleKeepsThem) {
    // Our standard output and error into a file for the length of the test.
    std::string file = path("ours");
    fflush(stdout);
    fflush(stderr);
    int saved1 = dup(1), saved2 = dup(2);
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
    call::Redirect out, err;
    EXPECT_EQ(run("echo hidden; echo hidden >&2", shell_opts(true), out, err), 0);
    i64 pid = run("echo detached", shell_opts(false), out, err);
    call::Options console = shell_opts(false);
    console.console = true;
    EXPECT_EQ(run("echo shown; echo shown too >&2", console, out, err), 0);
    // The detached child has ended once its /proc entry is gone.
    for (int i = 0; i < 500 && proc_state(pid) != 0; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    dup2(saved1, 1);
    dup2(saved2, 2);
    close(saved1);
    close(saved2);
    EXPECT_EQ(get("ours"), "shown\nshown too\n");
}

TEST_F(Process, ARedirectionOrTheConsoleMakesTheRunWait) {
    call::Redirect out, err;
    out.kind = call::Redirect::CAPTURE;
    EXPECT_EQ(run("exit 6", shell_opts(false), out, err), 6);
    call::Options o = shell_opts(false);
    o.console = true;
    call::Redirect none1, none2;
    EXPECT_EQ(run("exit 2", o, none1, none2), 2);
}

}  // namespace
}  // namespace zir
