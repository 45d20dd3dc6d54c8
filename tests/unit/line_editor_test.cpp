// The line editor's key decoder and layout.
#include <gtest/gtest.h>

#include <string>

#include "console/terminal.hpp"

namespace zir {
namespace {

using terminal::decode_key;

terminal::Decoded decode(const std::string& bytes, bool final = false) {
    return decode_key(reinterpret_cast<const u8*>(bytes.data()), bytes.size(), final);
}

TEST(KeyDecoder, SequencesInTheirSeveralForms) {
    struct Case {
        const char* bytes;
        i32 key;
        size_t used;
    } cases[] = {
        {"\x1b[A", terminal::KEY_UP, 3},        {"\x1bOB", terminal::KEY_DOWN, 3},
        {"\x1b[C", terminal::KEY_RIGHT, 3},     {"\x1b[1;5D", terminal::KEY_LEFT, 6},
        {"\x1b[H", terminal::KEY_HOME, 3},      {"\x1bOH", terminal::KEY_HOME, 3},
        {"\x1b[1~", terminal::KEY_HOME, 4},     {"\x1b[7~", terminal::KEY_HOME, 4},
        {"\x1b[F", terminal::KEY_END, 3},       {"\x1b[4~", terminal::KEY_END, 4},
        {"\x1b[8~", terminal::KEY_END, 4},      {"\x1b[2~", terminal::KEY_INSERT, 4},
        {"\x1b[3~", terminal::KEY_DELETE, 4},   {"\x1b[5~", terminal::KEY_PAGE_UP, 4},
        {"\x1b[6~", terminal::KEY_PAGE_DOWN, 4}, {"\x1b[15~", terminal::KEY_UNKNOWN, 5},
        {"\x1b[200~x", terminal::KEY_UNKNOWN, 6}, {"\x1b[3;2~", terminal::KEY_DELETE, 6},
        {"\x1bx", 27, 1},                        {"a\x1b[A", 'a', 1},
        {"\r", 13, 1},                           {"\x7f", 127, 1},
    };
    for (const Case& c : cases) {
        terminal::Decoded d = decode(c.bytes);
        EXPECT_EQ(d.key, c.key) << c.bytes + 1;
        EXPECT_EQ(d.used, c.used) << c.bytes + 1;
    }
}

TEST(KeyDecoder, ALoneEscWaitsThenIsEsc) {
    for (const char* partial : {"\x1b", "\x1b[", "\x1bO", "\x1b[1;"}) {
        EXPECT_EQ(decode(partial).used, 0u) << partial + 1;   // more may come
        terminal::Decoded d = decode(partial, true);
        EXPECT_GT(d.used, 0u) << partial + 1;                 // the time-out passed: taken as it is
    }
    EXPECT_EQ(decode("\x1b", true).key, 27);
}

TEST(KeyDecoder, Utf8AndBadBytes) {
    EXPECT_EQ(decode("\xe4\xb8\xad").key, 0x4E2D);
    EXPECT_EQ(decode("\xf0\x9f\x98\x80").key, 0x1F600);
    EXPECT_EQ(decode("\xe4\xb8").used, 0u);                   // the rest is on its way
    terminal::Decoded cut = decode("\xe4\xb8", true);
    EXPECT_EQ(cut.key, 0xFFFD);
    struct Case {
        const char* bytes;
        size_t used;
    } bad[] = {{"\x80z", 1}, {"\xff", 1}, {"\xc0\x80", 2}, {"\xed\xa0\x80", 3}, {"\xe4z", 1}, {"\xf4\x90\x80\x80", 4}};
    for (const Case& c : bad) {
        terminal::Decoded d = decode(c.bytes);
        EXPECT_EQ(d.key, 0xFFFD) << c.bytes;
        EXPECT_EQ(d.used, c.used) << c.bytes;
    }
}

i64 lay(const std::u32string& text, i64 pos, int columns, bool prompt, bool hidden, std::string* out) {
    return terminal::fill_output(text, 0, text.size(), pos, columns, prompt, hidden, out);
}

TEST(Layout, WidthsTabsAndControls) {
    std::string out;
    EXPECT_EQ(lay(U"a\u4e2d\tb", 0, 80, false, false, &out), 8);
    EXPECT_EQ(out, "a\xe4\xb8\xad    b");
    out.clear();
    EXPECT_EQ(lay(U"a\x01\x1b", 0, 80, false, false, &out), 5);   // control characters shown as ^X
    EXPECT_EQ(out, "a^A^[");
    out.clear();
    EXPECT_EQ(lay(U"\u4e2d\t", 0, 80, false, true, &out), 2);      // hidden: one "*" each
    EXPECT_EQ(out, "**");
    EXPECT_EQ(lay(U"\U0001F320", 0, 80, false, false, nullptr), 2);
}

TEST(Layout, PromptEscapesTakeNoCell) {
    std::string out;
    std::u32string prompt = U"\x1b[1;31m>> \x1b[0m";
    EXPECT_EQ(lay(prompt, 0, 80, true, false, &out), 3);
    EXPECT_EQ(out, "\x1b[1;31m>> \x1b[0m");
}

TEST(Layout, WideCharacterAtTheLastColumnWraps) {
    // On 10 columns: 9 narrow cells, then a wide character that cannot fit
    // in the last one: it starts the next row.
    EXPECT_EQ(lay(U"123456789\u4e2d", 0, 10, false, false, nullptr), 12);
    EXPECT_EQ(lay(U"12345678\u4e2d", 0, 10, false, false, nullptr), 10);
    EXPECT_EQ(lay(U"\u4e2d", 19, 10, false, false, nullptr), 22);
    EXPECT_EQ(lay(U"x", 5, 10, false, false, nullptr), 6);
}

}  // namespace
}  // namespace zir
