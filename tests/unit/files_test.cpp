// Files and folders through the file! actions: reading and writing text and
// bytes, /part, /seek, /append and /lines, folder listings, query, delete and
// rename, and the errors of paths that name nothing. Every test works in a
// fresh folder of its own under the system's temporary folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>

#include "datatypes/binary.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/string.hpp"
#include "runtime/console.hpp"
#include "services/simple_io.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Files : ValueTest {
    TempFolder tmp;
    const std::string& dir = tmp.path;

    std::string path(const std::string& name) const { return tmp / name; }
    Cell* f(const std::string& name) const { return str(path(name).c_str(), TYPE_FILE); }
    void put(const std::string& name, const std::string& bytes) const { tmp.write(name, bytes); }
    std::string get(const std::string& name) const { return tmp.read(name); }

    // The actions as the interpreter calls them: the answer is the file's cell.
    Cell* read(const std::string& name, Cell* part = nullptr, Cell* seek = nullptr, bool binary = false,
               bool lines = false) const {
        return file::read(f(name), part, seek, binary, lines, false, nullptr);
    }
    Cell* write(const std::string& name, Cell* data, bool binary = false, bool lines = false, bool append = false,
                Cell* part = nullptr, Cell* seek = nullptr) const {
        return file::write(f(name), data, binary, lines, false, append, part, seek, nullptr, nullptr);
    }
};

Cell* push(const Cell* value) { return stack::push(value); }

std::string bytes_of(const Cell* bin) {
    std::vector<u8> bytes = binary::bytes_of(bin);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> texts_of(const Cell* block) {
    std::vector<std::string> out;
    SeriesBuffer* s = node_buffer(block->w2);
    for (i32 i = 0; i < series::length_of(s); i++) out.push_back(string::to_std(&series::head_cells(s)[i]));
    return out;
}

// --- Text and bytes ------------------------------------------------------------------------------

TEST_F(Files, TextReadsWithLinefeedsAndWithoutTheByteOrderMark) {
    struct Case {
        const char* bytes;
        const char* text;
    } cases[] = {
        {"a\r\nb\rc", "a\nb\nc"},                  // CR LF and a lone CR become LF
        {"\xEF\xBB\xBFh\xC3\xA9llo", "h\xC3\xA9llo"},   // the mark is not text
        {"x\n\n", "x\n\n"},
        {"\r\r\n\r", "\n\n\n"},
        {"\xE2\x82\xAC \xF0\x9D\x84\x9E", "\xE2\x82\xAC \xF0\x9D\x84\x9E"},   // every width
        {"", ""},
    };
    for (const Case& c : cases) {
        put("t.txt", c.bytes);
        Cell* r = read("t.txt");
        ASSERT_EQ(TYPE_OF(r), TYPE_STRING) << c.bytes;
        EXPECT_EQ(string::to_std(r), c.text) << c.bytes;
    }
}

TEST_F(Files, TextIsWrittenWithLinefeedsAsTheyStand) {
    Cell* text = str("caf\xC3\xA9\nline\r\n\xF0\x9D\x84\x9E");
    Cell* n = write("w.txt", text);
    EXPECT_EQ(TYPE_OF(n), TYPE_INTEGER);
    EXPECT_EQ(get("w.txt"), "caf\xC3\xA9\nline\r\n\xF0\x9D\x84\x9E");
    EXPECT_EQ(string::to_std(read("w.txt")), "caf\xC3\xA9\nline\n\xF0\x9D\x84\x9E");
    // With /binary too: nothing is converted either way.
    write("w.txt", text, true);
    EXPECT_EQ(get("w.txt"), "caf\xC3\xA9\nline\r\n\xF0\x9D\x84\x9E");
}

TEST_F(Files, BytesRoundTripUnchanged) {
    std::string all;
    for (int b = 0; b < 256; b++) all.push_back(char(b));
    all += "\r\n\r\xEF\xBB\xBF";
    Cell* bin = binary::load(reinterpret_cast<const u8*>(all.data()), i64(all.size()));
    write("b.bin", bin, true);
    EXPECT_EQ(get("b.bin"), all);
    Cell* r = read("b.bin", nullptr, nullptr, true);
    ASSERT_EQ(TYPE_OF(r), TYPE_BINARY);
    EXPECT_EQ(bytes_of(r), all);
    // A binary is written from its head.
    write("b.bin", at_(bin, 250), true);
    EXPECT_EQ(get("b.bin"), all.substr(250));
}

TEST_F(Files, MalformedTextIsAnErrorNotLostBytes) {
    for (const char* bytes : {"ok\xFF", "ok\xC3", "ok\xF0\x9D\x84", "\x80"}) {
        put("bad.txt", bytes);
        EXPECT_EQ(error_of([&] { read("bad.txt"); }), "access invalid-utf8") << bytes;
        EXPECT_EQ(bytes_of(read("bad.txt", nullptr, nullptr, true)), bytes);
    }
}

TEST_F(Files, LinesSplitAtLinefeeds) {
    struct Case {
        const char* bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"a\r\nb\n", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a", {"a"}},
        {"\n", {""}},
        {"a\rb\n", {"a\rb"}},   // a lone CR stays inside its line
        {"\xEF\xBB\xBFone\n\xEF\xBB\xBFtwo", {"one", "\xEF\xBB\xBFtwo"}},   // only the file's mark goes
    };
    for (const Case& c : cases) {
        put("l.txt", c.bytes);
        Cell* r = read("l.txt", nullptr, nullptr, false, true);
        ASSERT_EQ(TYPE_OF(r), TYPE_BLOCK) << c.bytes;
        EXPECT_EQ(texts_of(r), c.lines) << c.bytes;
    }
    // An empty file is an empty text, in lines mode too.
    put("l.txt", "");
    Cell* r = read("l.txt", nullptr, nullptr, false, true);
    EXPECT_EQ(TYPE_OF(r), TYPE_STRING);
    EXPECT_EQ(string::to_std(r), "");
    EXPECT_EQ(TYPE_OF(read("l.txt", nullptr, nullptr, true, true)), TYPE_BINARY);
}

// --- /part and /seek --------------------------------------------------------------------------

TEST_F(Files, PartAndSeekSelectTheBytes) {
    put("d.txt", "0123456789");
    constexpr i32 ABSENT = INT32_MIN;
    struct Case {
        i32 part, seek;
        const char* expected;
    } cases[] = {
        {ABSENT, ABSENT, "0123456789"},
        {0, ABSENT, ""},
        {3, ABSENT, "012"},
        {100, ABSENT, "0123456789"},   // more than there is: all of it
        {-5, ABSENT, "0123456789"},    // a negative part is no limit
        {ABSENT, 0, "0123456789"},
        {ABSENT, 3, "3456789"},
        {ABSENT, 9, "9"},
        {ABSENT, 10, ""},              // at the end
        {ABSENT, 100, ""},             // past the end: empty, no negative size
        {ABSENT, -2, "0123456789"},    // a negative seek reads from the start
        {4, 8, "89"},
        {2, 2, "23"},
        {0, 100, ""},
    };
    for (const Case& c : cases) {
        Cell* part = c.part == ABSENT ? nullptr : int_(c.part);
        Cell* seek = c.seek == ABSENT ? nullptr : int_(c.seek);
        Cell* text = read("d.txt", part, seek);
        EXPECT_EQ(TYPE_OF(text), TYPE_STRING);
        EXPECT_EQ(string::to_std(text), c.expected) << c.part << " " << c.seek;
        Cell* bin = read("d.txt", part, seek, true);
        EXPECT_EQ(TYPE_OF(bin), TYPE_BINARY);
        EXPECT_EQ(bytes_of(bin), c.expected) << c.part << " " << c.seek;
    }
    EXPECT_EQ(error_of([&] { read("d.txt", str("3")); }), "script invalid-refine-arg");
    EXPECT_EQ(error_of([&] { read("d.txt", nullptr, float_(1.0)); }), "script invalid-refine-arg");
}

TEST_F(Files, FilesThatTellNoSizeAreReadToTheirEnd) {
    // /proc files report a size of 0 but hold text.
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    if (!in) GTEST_SKIP() << "no /proc";
    Cell* status = file::read(str("/proc/version", TYPE_FILE), nullptr, nullptr, false, false, false, nullptr);
    std::ifstream version("/proc/version", std::ios::binary);
    std::string expected(std::istreambuf_iterator<char>(version), {});
    ASSERT_GT(expected.size(), 8u);
    EXPECT_EQ(string::to_std(status), expected);
    Cell* part = file::read(str("/proc/version", TYPE_FILE), int_(5), int_(2), true, false, false, nullptr);
    EXPECT_EQ(bytes_of(part), expected.substr(2, 5));
    Cell* past = file::read(str("/proc/version", TYPE_FILE), nullptr, int_(100000), true, false, false, nullptr);
    EXPECT_EQ(bytes_of(past), "");

    // A pipe, written by another process while we read.
    std::string fifo = path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string content(200000, 'z');
    pid_t writer = fork();
    if (writer == 0) {
        int fd = open(fifo.c_str(), O_WRONLY);
        simple_io::write_bytes(fd, reinterpret_cast<const u8*>(content.data()), i64(content.size()));
        _exit(0);
    }
    Cell* piped = read("fifo", nullptr, nullptr, true);
    int status_code;
    waitpid(writer, &status_code, 0);
    EXPECT_EQ(bytes_of(piped), content);
}

TEST_F(Files, OneReadGivesWhatAPipeHolds) {
    // What standard input is read with: it must not wait for more than is there.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(::write(p[1], "abc", 3), 3);
    u8 buffer[100];
    EXPECT_EQ(simple_io::read_data(p[0], buffer, sizeof buffer), 3);
    close(p[1]);
    EXPECT_EQ(simple_io::read_data(p[0], buffer, sizeof buffer), 0);
    close(p[0]);
    EXPECT_EQ(simple_io::read_data(p[0], buffer, sizeof buffer), -1);
}

TEST_F(Files, SysfsFilesThatReportMoreThanTheyHoldGiveWhatTheyHold) {
    // sysfs reports a size of 4096 for files holding a few bytes: the value
    // is built from the bytes read, nothing beyond them.
    const char* name = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st;
    if (stat(name, &st) != 0 || st.st_size != 4096) GTEST_SKIP() << "no such sysfs file";
    std::ifstream in(name, std::ios::binary);
    std::string expected(std::istreambuf_iterator<char>(in), {});
    ASSERT_LT(expected.size(), 4096u);
    Cell* r = file::read(str(name, TYPE_FILE), nullptr, nullptr, true, false, false, nullptr);
    EXPECT_EQ(bytes_of(r), expected);
}

TEST_F(Files, AFileTooLargeForASeriesIsRefusedNeverCutShort) {
    // 4 GiB and 10 bytes, sparse: its size taken as 32 bits would be 10.
    std::string big = path("big");
    int fd = open(big.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const off_t four_gib = off_t(1) << 32;
    ASSERT_EQ(pwrite(fd, "0123456789", 10, four_gib), 10);
    close(fd);
    EXPECT_EQ(error_of([&] { read("big"); }), "script size-limit");
    EXPECT_EQ(error_of([&] { read("big", nullptr, nullptr, true); }), "script size-limit");
    EXPECT_EQ(error_of([&] { read("big", nullptr, int_(5), true, true); }), "script size-limit");
    // A part of it is fine, and its size is told in full.
    EXPECT_EQ(bytes_of(read("big", int_(4), int_(1000), true)), std::string(4, '\0'));
    EXPECT_EQ(simple_io::size_q(big), (i64(1) << 32) + 10);
}

// --- Writing ----------------------------------------------------------------------------------

TEST_F(Files, AppendAndSeekWrite) {
    write("a.txt", str("abcdef"));
    write("a.txt", str("XY"), false, false, true, nullptr, int_(1));   // append wins over seek
    EXPECT_EQ(get("a.txt"), "abcdefXY");
    write("a.txt", str("Z"), false, false, false, nullptr, int_(2));   // from the offset, nothing cut
    EXPECT_EQ(get("a.txt"), "abZdefXY");
    write("a.txt", str("0"), false, false, false, nullptr, int_(0));
    EXPECT_EQ(get("a.txt"), "0bZdefXY");
    write("a.txt", str("Q"), false, false, false, nullptr, int_(10));   // past the end: a hole of zeros
    EXPECT_EQ(get("a.txt"), std::string("0bZdefXY\0\0Q", 11));
    write("a.txt", str("new"));   // a plain write truncates
    EXPECT_EQ(get("a.txt"), "new");
    write("fresh.txt", str("made"), false, false, true);   // append makes a missing file
    EXPECT_EQ(get("fresh.txt"), "made");
}

TEST_F(Files, ValuesAreWrittenAsTheirBytesOrTheirMold) {
    write("v.txt", int_(42));
    EXPECT_EQ(get("v.txt"), "42");
    write("v.txt", block({int_(1), str("a")}));
    EXPECT_EQ(get("v.txt"), "[1 \"a\"]");
    // /lines: each value of a block on a line of its own.
    Cell* n = write("v.txt", block({str("t\xC3\xA9xt"), binary_({1, 2}), int_(3), block({})}), false, true);
    EXPECT_EQ(get("v.txt"), "t\xC3\xA9xt\n\x01\x02\n3\n[]\n");
    EXPECT_EQ(integer::get(n), 1);
    write("v.txt", block({}), false, true);
    EXPECT_EQ(get("v.txt"), "");
    write("v.txt", str("one"), false, true);
    EXPECT_EQ(get("v.txt"), "one\n");
    write("v.txt", str("two"), false, true, true);
    EXPECT_EQ(get("v.txt"), "one\ntwo\n");
}

TEST_F(Files, WritePartCountsCodePointsOrBytes) {
    write("p.txt", str("\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9Ez"), false, false, false, int_(2));
    EXPECT_EQ(get("p.txt"), "\xC3\xA9\xE2\x82\xAC");
    write("p.txt", binary_({1, 2, 3, 4}), true, false, false, int_(3));
    EXPECT_EQ(get("p.txt"), "\x01\x02\x03");
    write("p.txt", int_(12345), false, false, false, int_(3));
    EXPECT_EQ(get("p.txt"), "123");
    // A negative part writes nothing at all and answers -1.
    Cell* n = write("none.txt", str("x"), false, false, false, int_(-1));
    EXPECT_EQ(integer::get(n), -1);
    EXPECT_FALSE(std::filesystem::exists(path("none.txt")));
    EXPECT_EQ(error_of([&] { write("p.txt", str("x"), false, false, false, str("1")); }),
              "script invalid-refine-arg");
}

TEST_F(Files, EveryFailedWriteIsReported) {
    // /dev/full takes no byte: each write fails, the first of a block too.
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    Cell* full = str("/dev/full", TYPE_FILE);
    EXPECT_EQ(error_of([&] {
                  file::write(full, block({str("a"), str("b")}), false, true, false, false, nullptr, nullptr, nullptr,
                              nullptr);
              }),
              "access cannot-open");
    EXPECT_EQ(error_of([&] {
                  file::write(full, str("a"), false, true, false, false, nullptr, nullptr, nullptr, nullptr);
              }),
              "access cannot-open");
}

TEST_F(Files, WritingToStandardOutputKeepsPrintOrder) {
    // Standard output into a file for the length of the test.
    std::string out = path("stdout");
    fflush(stdout);
    int saved = dup(1);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 1);
    close(fd);
    console::write(reinterpret_cast<const u8*>("printed "), 8, 1, false);
    Cell* nothing = none_();
    file::write(nothing, str("written\n"), false, false, false, false, nullptr, nullptr, nullptr, nullptr);
    console::flush();
    dup2(saved, 1);
    close(saved);
    EXPECT_EQ(get("stdout"), "printed written\n");
}

// --- Paths that name nothing --------------------------------------------------------------------

TEST_F(Files, MissingFilesAndPathsUnderAFileAreClearErrors) {
    put("plain", "x");
    for (const char* name : {"missing", "plain/x", "plain/", "missing/", "no/such/dir/"})
        EXPECT_EQ(error_of([&] { read(name); }), "access cannot-open") << name;
    for (const char* name : {"no/such/f", "plain/f"})
        EXPECT_EQ(error_of([&] { write(name, str("x")); }), "access cannot-open") << name;
    // The error names the file.
    try {
        read("missing");
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(TYPE_OF(&e.args[0]), TYPE_FILE);
        EXPECT_EQ(string::to_std(&e.args[0]), path("missing"));
    }
    // A path holding a NUL names nothing the system could open.
    EXPECT_EQ(error_of([&] {
                  file::read(text_series(std::u32string(U"a\0b", 3), 1, TYPE_FILE), nullptr, nullptr, false, false,
                             false, nullptr);
              }),
              "access cannot-open");
}

// --- Folders --------------------------------------------------------------------------------------

TEST_F(Files, FolderPathsByTheirText) {
    struct Case {
        const char* path;
        bool folder;
    } cases[] = {
        {"/", true},   {".", true},     {"..", true},    {"a/", true},    {"a/.", true}, {"a/..", true},
        {"/..", true}, {"", false},     {"a", false},    {"a.", false},   {"a..", false}, {".x", false},
        {"a/.x", false}, {"...", false}, {"a\\", false},
    };
    for (const Case& c : cases) EXPECT_EQ(simple_io::dir_q(str(c.path, TYPE_FILE)), c.folder) << c.path;
    // From the head.
    EXPECT_TRUE(simple_io::dir_q(at_(str("x/..", TYPE_FILE), 2)));
    EXPECT_FALSE(simple_io::dir_q(at_(str("a/", TYPE_FILE), 2)));
}

TEST_F(Files, ListingsAreSortedWithSlashesOnFolders) {
    for (const char* name : {"b", "a", "C", ".hidden", "a b"}) put(name, "");
    std::filesystem::create_directory(path("sub"));
    std::filesystem::create_directory_symlink(path("sub"), path("link"));
    std::filesystem::create_symlink(path("nowhere"), path("dangling"));
    std::vector<std::string> expected = {".hidden", "C", "a", "a b", "b", "dangling", "link/", "sub/"};
    for (const char* p : {"", "/.", "/sub/.."}) {
        Cell* folder = str((dir + p + (std::string(p).empty() ? "/" : "")).c_str(), TYPE_FILE);
        std::string before = string::to_std(folder);
        Cell* list = file::read(push(folder), nullptr, nullptr, false, false, false, nullptr);
        ASSERT_EQ(TYPE_OF(list), TYPE_BLOCK) << p;
        SeriesBuffer* s = node_buffer(list->w2);
        for (i32 i = 0; i < series::length_of(s); i++) EXPECT_EQ(TYPE_OF(&series::head_cells(s)[i]), TYPE_FILE);
        EXPECT_EQ(texts_of(list), expected) << p;
        EXPECT_EQ(string::to_std(folder), before);   // the path asked for stays as it was
    }
    Cell* empty = file::read(f("sub/"), nullptr, nullptr, false, false, false, nullptr);
    EXPECT_EQ(texts_of(empty), std::vector<std::string>{});
}

TEST_F(Files, TheRootFolderIsListedAsAnyOther) {
    Cell* list = file::read(str("/", TYPE_FILE), nullptr, nullptr, false, false, false, nullptr);
    std::vector<std::string> names = texts_of(list);
    EXPECT_NE(std::find(names.begin(), names.end(), "tmp/"), names.end());
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

TEST_F(Files, NamesThatAreNotUtf8CanBeOpenedAgain) {
    const std::string odd = "odd\xFF\xC3(\xED\xB2\x80.txt";
    put(odd, "kept");
    Cell* list = file::read(f(""), nullptr, nullptr, false, false, false, nullptr);
    SeriesBuffer* s = node_buffer(list->w2);
    ASSERT_EQ(series::length_of(s), 1);
    Cell name = series::head_cells(s)[0];
    std::u32string cps = code_points(&name);
    std::u32string expected = U"odd";
    for (char32_t c : {0xDCFF, 0xDCC3, 0x28, 0xDCED, 0xDCB2, 0xDC80}) expected += c;
    EXPECT_EQ(cps, expected + U".txt");
    EXPECT_EQ(file::to_os_path(&name), odd);
    Cell* joined = str((dir + "/").c_str(), TYPE_FILE);
    string::concatenate(joined, &name, -1, 0, true, string::CONCAT_APPEND);
    EXPECT_EQ(string::to_std(file::read(joined, nullptr, nullptr, false, false, false, nullptr)), "kept");
}

TEST_F(Files, TheSizeOfAPipeWaitsForNoWriter) {
    // Opening a named pipe to read waits for a writer: size? must not.
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    auto size = std::async(std::launch::async, [&] { return simple_io::size_q(path("pipe")); });
    bool answered = size.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!answered) {
        int writer = open(path("pipe").c_str(), O_WRONLY);   // lets the stuck open go on
        size.wait();
        close(writer);
    }
    ASSERT_TRUE(answered);
    EXPECT_EQ(size.get(), 0);
}

TEST_F(Files, FoldersAreMadeAndDeleted) {
    EXPECT_TRUE(simple_io::make_dir(path("d")));
    EXPECT_FALSE(simple_io::make_dir(path("d")));          // already there
    EXPECT_FALSE(simple_io::make_dir(path("x/y")));        // one level only
    EXPECT_TRUE(simple_io::file_exists_q(path("d")));
    EXPECT_EQ(simple_io::size_q(path("d")), -1);
    put("d/f", "xyz");
    EXPECT_EQ(simple_io::size_q(path("d/f")), 3);
    EXPECT_EQ(simple_io::size_q(path("d/missing")), -1);
    EXPECT_FALSE(logic::get(file::delete_(f("d/"))));      // not empty
    EXPECT_TRUE(logic::get(file::delete_(f("d/f"))));
    EXPECT_FALSE(simple_io::file_exists_q(path("d/f")));
    EXPECT_FALSE(logic::get(file::delete_(f("d/f"))));     // gone already
    EXPECT_TRUE(logic::get(file::delete_(f("d/"))));
    EXPECT_FALSE(simple_io::file_exists_q(path("d")));
    // A folder's path may end in a dot: it names that folder.
    ASSERT_TRUE(simple_io::make_dir(path("e")));
    EXPECT_TRUE(logic::get(file::delete_(f("e/."))));
    EXPECT_FALSE(simple_io::file_exists_q(path("e")));
    std::filesystem::create_symlink(path("nowhere"), path("dangling"));
    EXPECT_TRUE(simple_io::file_exists_q(path("dangling")));
}

// --- Rename and query ----------------------------------------------------------------------------

TEST_F(Files, RenameNeverReplacesAnExistingTarget) {
    put("a", "first");
    put("b", "second");
    EXPECT_FALSE(logic::get(file::rename(f("a"), f("b"))));
    EXPECT_EQ(get("a"), "first");
    EXPECT_EQ(get("b"), "second");
    EXPECT_TRUE(logic::get(file::rename(f("a"), f("c"))));
    EXPECT_FALSE(std::filesystem::exists(path("a")));
    EXPECT_EQ(get("c"), "first");
    EXPECT_FALSE(logic::get(file::rename(f("missing"), f("d"))));
    std::filesystem::create_directory(path("dir"));
    EXPECT_FALSE(logic::get(file::rename(f("c"), f("dir"))));   // onto a folder neither
    EXPECT_TRUE(logic::get(file::rename(f("dir"), f("dir2"))));
    EXPECT_TRUE(std::filesystem::is_directory(path("dir2")));
}

// Year-month-day, the time in seconds and the zone bits of a date! with a time.
std::string date_fields(const Cell* d) {
    if (TYPE_OF(d) != TYPE_DATE || !date::has_time_q(d->w1)) return "not a date with a time";
    std::ostringstream out;
    out.precision(12);
    out << date::year_of(d->w1) << "-" << date::month_of(d->w1) << "-" << date::day_of(d->w1) << " "
        << date::time_of(d) << " zone " << date::zone_of(d->w1);
    return out.str();
}

TEST_F(Files, QueryAnswersTheModificationTimeInUtc) {
    put("q", "x");
    // 2021-03-04 05:06:07.25 UTC
    timespec times[2] = {{0, UTIME_OMIT}, {1614834367, 250000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, path("q").c_str(), times, 0), 0);
    Cell* d = file::query(f("q"));
    ASSERT_EQ(TYPE_OF(d), TYPE_DATE);
    EXPECT_EQ(date_fields(d), "2021-3-4 18367.25 zone 0");
    // Before 1970 and in the far future too (where the file system keeps
    // such times); past the years a date holds, none.
    auto set_time = [&](i64 seconds) {
        times[1] = {time_t(seconds), 0};
        struct stat st;
        return utimensat(AT_FDCWD, path("q").c_str(), times, 0) == 0 && stat(path("q").c_str(), &st) == 0 &&
               i64(st.st_mtim.tv_sec) == seconds;
    };
    if (set_time(-86400 * 365 * 100L)) {
        EXPECT_EQ(date_fields(file::query(f("q"))), "1870-1-25 0 zone 0");
    }
    if (set_time(i64(1) << 40)) {   // about the year 36812
        EXPECT_EQ(TYPE_OF(file::query(f("q"))), TYPE_NONE);
    }
    // A folder answers too; what names nothing, or a file named as a folder, none.
    EXPECT_EQ(TYPE_OF(file::query(f(""))), TYPE_DATE);
    EXPECT_EQ(TYPE_OF(file::query(f("q/"))), TYPE_NONE);
    EXPECT_EQ(TYPE_OF(file::query(f("missing"))), TYPE_NONE);
}

}  // namespace
}  // namespace zir
