// file!: mold (read back through the lexer: every molded path must load as
// the same path), local paths, the current
// folder, and the file actions' way to the file services.
#include <optional>
#include <random>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/file.hpp"
#include "datatypes/string.hpp"
#include "datatypes/url.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/fire.hpp"
#include "runtime/platform.hpp"
#include "runtime/unicode.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct File : ValueTest {};

Cell* file_(const std::u32string& text, u32 unit = 4) { return text_series(text, unit, TYPE_FILE); }

std::u32string molded(const Cell* value) {
    Cell* buffer = str("");
    actions::mold(value, buffer, false, false, false, nullptr, PART_UNLIMITED, 0);
    return code_points(buffer);
}

// The path the lexer reads from a molded file, or nothing when it does not
// read the whole text as one file.
std::optional<std::u32string> read_back(const std::u32string& m) {
    Cell* text = text_series(m, 4);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    try {
        lexer::string_to_block(out, text, -1, {}, nullptr, nullptr, nullptr);
    } catch (const LanguageError&) {
        return std::nullopt;
    }
    if (block::zs_length_q(out) != 1 || TYPE_OF(block::zs_head(out)) != TYPE_FILE) return std::nullopt;
    return code_points(block::zs_head(out));
}

// --- Mold ------------------------------------------------------------------------------

TEST_F(File, MoldForms) {
    struct Case {
        std::u32string text;
        const char* expected;
    } cases[] = {
        {U"", "%\"\""},
        {U"a/b.txt", "%a/b.txt"},
        {U"/usr/lib/x-1,2~3", "%/usr/lib/x-1,2~3"},
        {U"!#$&'*+=?_", "%!#$&'*+=?_"},
        {U"\u00E9t\u00E9", "%\u00E9t\u00E9"},
        {U"\x7F", "%\x7F"},
        // Quoted: a character outside the URL characters.
        {U"a b", "%\"a b\""},
        {U"a;b", "%\"a;b\""},
        {U"a[b]", "%\"a[b]\""},
        {U"a{b}", "%\"a{b}\""},
        {U"a\\b", "%\"a\\b\""},
        {U"<x>", "%\"<x>\""},
        {U"100%", "%\"100%\""},
        {U"a\tb", "%\"a\tb\""},
        // Quoted too: URL characters that end a bare file.
        {U"f(1).txt", "%\"f(1).txt\""},
        {U"c:/x", "%\"c:/x\""},
        {U"me@host", "%\"me@host\""},
        // A quoted file decodes caret escapes: the caret is doubled.
        {U"a^b", "%\"a^^b\""},
        {U"a ^^", "%\"a ^^^^\""},
        // No quoted form holds a double quote, a line feed or a NUL: bare,
        // escaped, "%" included.
        {U"a\"b", "%a%22b"},
        {U"a\nb", "%a%0Ab"},
        {U"a\"b c%d:e", "%a%22b%20c%25d%3Ae"},
        {std::u32string(U"x\0y", 3), "%x%00y"},
        {U"\"^<\u00E9>", "%%22^<\u00E9>"},
        {U"\n(1);@[2]{3}\t", "%%0A%281%29%3B%40%5B2%5D%7B3%7D%09"},
    };
    for (const Case& c : cases) {
        u32 widest = 1;
        for (char32_t ch : c.text) widest = std::max(widest, string::unit_for(u32(ch)));
        for (u32 unit : {1u, 2u, 4u}) {
            if (unit < widest) continue;
            EXPECT_MOLD(file_(c.text, unit), c.expected) << utf8(c.text) << " at unit " << unit;
        }
        EXPECT_FORM(file_(c.text), utf8(c.text));
    }
}

TEST_F(File, MoldSpanAndPartLeft) {
    // The span runs from the head; /part takes that many code points of it.
    EXPECT_MOLD(at_(file_(U"a b/c"), 2), "%b/c");
    Cell* limit = int_(3);
    struct Case {
        std::u32string text;
        i32 part;
        const char* written;
        i32 left;
    } cases[] = {
        {U"abcdef", 3, "%abc", -1},
        {U"ab cdef", 3, "%\"ab \"", -3},
        {U"a\"bcdef", 3, "%a%22b", -3},
        {U"ab", 3, "%ab", 0},
        {U"abc", 0, "%\"\"", -3},
        {U"abc", -1, "%\"\"", -4},
    };
    for (const Case& c : cases) {
        Cell* buffer = str("");
        i32 left = file::mold(file_(c.text), buffer, false, false, false, limit, c.part, 0);
        EXPECT_EQ(string::to_std(buffer), c.written) << utf8(c.text);
        EXPECT_EQ(left, c.left) << utf8(c.text);
    }
    Cell* buffer = str("");
    EXPECT_EQ(file::mold(file_(U"a b"), buffer, false, false, false, nullptr, 100, 0), 94);
}

TEST_F(File, EveryMoldedFileReadsBackAsItself) {
    std::u32string alphabet;
    for (char32_t c = 0; c < 0x80; c++) alphabet += c;
    alphabet += U"\u00E9\u00A0\u4E2D\U0001F600";
    for (char32_t c : alphabet) {
        for (std::u32string text : {std::u32string(1, c), U"a" + std::u32string(1, c) + U"b",
                                    std::u32string(1, c) + U"\"", std::u32string(2, c)}) {
            std::u32string m = molded(file_(text));
            EXPECT_EQ(read_back(m), text) << utf8(text) << " molds as " << utf8(m);
        }
    }
    std::mt19937 rng(7);
    for (int n = 0; n < 3000; n++) {
        std::u32string text;
        size_t length = 1 + rng() % 8;
        for (size_t i = 0; i < length; i++) text += alphabet[rng() % alphabet.size()];
        std::u32string m = molded(file_(text));
        EXPECT_EQ(read_back(m), text) << utf8(text) << " molds as " << utf8(m);
    }
}

// --- Local paths ---------------------------------------------------------------------------

TEST_F(File, LocalPathIsTheTextAfterTheCurrentFolder) {
    std::string cwd = platform::get_current_dir();
    ASSERT_FALSE(cwd.empty());
    if (cwd.back() != '/') cwd += '/';
    Cell* dir = file::get_current_dir();
    EXPECT_EQ(TYPE_OF(dir), TYPE_STRING);
    EXPECT_EQ(string::to_std(dir), cwd);

    struct Case {
        const char* path;
        bool full;
        std::string expected;
    } cases[] = {
        {"a/b", false, "a/b"},
        {"a/b", true, cwd + "a/b"},
        {"/usr/x", false, "/usr/x"},
        {"/usr/x", true, "/usr/x"},
        {"", true, cwd},
        {"\u00E9 b", true, cwd + "\u00E9 b"},
    };
    for (const Case& c : cases) {
        Cell* f = str(c.path, TYPE_FILE);
        Cell* out = str("");
        file::to_local_path(f, out, c.full);
        EXPECT_EQ(string::to_std(out), c.expected) << c.path;
    }
    // From the head only; into the file's own buffer.
    Cell* f = at_(file_(U"x/y"), 2);
    file::to_local_path(f, f, false);
    EXPECT_EQ(string::to_std(f), "yy");
}

TEST_F(File, OsPathRefusesANul) {
    EXPECT_EQ(file::to_os_path(file_(U"d/\u00E9")), "d/\u00E9");
    EXPECT_EQ(file::to_os_path(at_(file_(U"d/x"), 2)), "x");
    EXPECT_EQ(error_of([] { file::to_os_path(file_(std::u32string(U"a\0b", 3))); }), "access cannot-open");
}

TEST_F(File, BackslashesBecomeSlashesFromTheHead) {
    for (u32 unit : {1u, 2u, 4u}) {
        Cell* f = text_series(U"\\a\\b\\\u00E9", unit, TYPE_FILE);
        file::backslashes_to_slashes(at_(f, 1));
        EXPECT_EQ(string::to_std(f), "\\a/b/\u00E9");
    }
}

// --- Actions and registration ----------------------------------------------------------------

TEST_F(File, FileActionsReachTheFileServices) {
    Cell* f = file_(U"/no/such/folder/x.txt");
    Cell* arg = int_(1);
    // /as and /allow are not there yet; everything else reaches the file
    // services (files_test.cpp tests them through these actions).
    EXPECT_EQ(error_of([&] { file::read(f, nullptr, nullptr, false, false, false, arg); }), "internal not-done");
    EXPECT_EQ(error_of([&] { file::write(f, str("x"), false, false, false, false, nullptr, nullptr, arg, nullptr); }),
              "internal not-done");
    EXPECT_EQ(error_of([&] { file::read(f, nullptr, nullptr, false, false, false, nullptr); }), "access cannot-open");
    EXPECT_EQ(TYPE_OF(file::query(file_(U"/no/such/folder/x.txt"))), TYPE_NONE);
    EXPECT_EQ(TYPE_OF(file::delete_(file_(U"/no/such/folder/x.txt"))), TYPE_LOGIC);
}

TEST_F(File, RowsOfTheTextTypes) {
    // What each text datatype does of its own, takes from its parent, or lacks.
    struct Case {
        u32 type;
        std::vector<u32> present, absent;
    } cases[] = {
        {TYPE_URL, {ACT_MAKE, ACT_TO, ACT_FORM, ACT_MOLD, ACT_EVAL_PATH, ACT_COMPARE, ACT_FIND, ACT_OPEN, ACT_READ,
                    ACT_WRITE, ACT_PICK, ACT_COPY},
         {ACT_RANDOM, ACT_REFLECT, ACT_ADD, ACT_PUT, ACT_SORT, ACT_TRIM, ACT_CREATE, ACT_CLOSE, ACT_DELETE,
          ACT_OPEN_Q, ACT_QUERY, ACT_RENAME, ACT_UPDATE}},
        {TYPE_FILE, {ACT_MAKE, ACT_TO, ACT_MOLD, ACT_EVAL_PATH, ACT_DELETE, ACT_QUERY, ACT_READ, ACT_RENAME,
                     ACT_WRITE, ACT_SELECT, ACT_TAKE},
         {ACT_RANDOM, ACT_REFLECT, ACT_ADD, ACT_PUT, ACT_SORT, ACT_TRIM, ACT_CREATE, ACT_CLOSE, ACT_OPEN, ACT_OPEN_Q,
          ACT_UPDATE}},
        {TYPE_TAG, {ACT_FORM, ACT_MOLD, ACT_FIND, ACT_EVAL_PATH}, {ACT_RANDOM, ACT_SORT, ACT_TRIM}},
        {TYPE_EMAIL, {ACT_MOLD, ACT_EVAL_PATH, ACT_FIND}, {ACT_RANDOM, ACT_SORT, ACT_TRIM}},
        {TYPE_REF, {ACT_MOLD, ACT_FIND}, {ACT_RANDOM, ACT_EVAL_PATH, ACT_APPEND, ACT_SORT, ACT_TRIM}},
    };
    for (const Case& c : cases) {
        for (u32 slot : c.present) EXPECT_NE(actions::lookup(c.type, slot), nullptr) << c.type << " " << slot;
        for (u32 slot : c.absent) EXPECT_EQ(actions::lookup(c.type, slot), nullptr) << c.type << " " << slot;
    }
    // file! takes make, to and path access from url!, not from string!.
    EXPECT_EQ(actions::lookup(TYPE_FILE, ACT_TO), actions::lookup(TYPE_URL, ACT_TO));
    EXPECT_NE(actions::lookup(TYPE_URL, ACT_TO), actions::lookup(TYPE_STRING, ACT_TO));
    EXPECT_EQ(actions::lookup(TYPE_FILE, ACT_EVAL_PATH), actions::lookup(TYPE_URL, ACT_EVAL_PATH));
    EXPECT_NE(actions::lookup(TYPE_FILE, ACT_MOLD), actions::lookup(TYPE_URL, ACT_MOLD));
    EXPECT_STREQ(datatype::name_of(TYPE_FILE), "file!");
    EXPECT_STREQ(datatype::name_of(TYPE_REF), "ref!");
}

}  // namespace
}  // namespace zir
