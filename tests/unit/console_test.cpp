// Console writer, escape interpreter and print hooks.
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "runtime/console.hpp"
#include "runtime/print_hooks.hpp"
#include "support.hpp"

namespace zir {
namespace {

// --- An in-memory screen for the escape interpreter ------------------------

struct Screen {
    int width = 20, height = 10;
    int x = 0, y = 0;
    u16 attribute = 0x07;
    std::vector<u32> chars;
    std::vector<u16> attrs;
    int attribute_sets = 0;
};
Screen screen;

void screen_info(console::ScreenInfo* i) {
    *i = console::ScreenInfo{screen.width, screen.height, screen.x, screen.y, screen.attribute,
                             0, 0, screen.width - 1, screen.height - 1, screen.width, screen.height};
}
void screen_cursor(int x, int y) {
    screen.x = x;
    screen.y = y;
}
void screen_fill(int x, int y, int count, u32 ch, u16 attribute) {
    for (int i = y * screen.width + x; count > 0; i++, count--) {
        screen.chars.at(size_t(i)) = ch;
        screen.attrs.at(size_t(i)) = attribute;
    }
}
void screen_attribute(u16 a) {
    screen.attribute = a;
    screen.attribute_sets++;
}
const console::ScreenDevice screen_device = {screen_info, screen_cursor, screen_fill, screen_attribute};

struct Emulated : ::testing::Test {
    test::CapturedOutput out;
    void SetUp() override {
        screen = Screen{};
        screen.chars.assign(size_t(screen.width * screen.height), 'x');
        screen.attrs.assign(size_t(screen.width * screen.height), 0x99);
        console::set_device(&screen_device);
        console::init_attributes();   // start-up attribute 0x07
        console::set_emulate(true);
    }
    void TearDown() override {
        console::set_emulate(false);
        console::set_device(nullptr);
    }
    void put(const std::string& text, bool new_line = false) {
        console::write(reinterpret_cast<const u8*>(text.data()), u32(text.size()), 1, new_line);
    }
    int erased() const {
        int n = 0;
        for (u32 c : screen.chars) n += c == ' ';
        return n;
    }
};

TEST_F(Emulated, EscapesAreCarriedOutAndNeverShown) {
    put("a\x1b[31mb\x1b[0mc");
    EXPECT_EQ(out.text(), "abc");
    EXPECT_EQ(screen.attribute, 0x07) << "SGR 0 restores the start-up attribute";
}

TEST_F(Emulated, EscWithoutBracketIsAnOrdinaryCharacter) {
    put("a\x1b" "b");
    EXPECT_EQ(out.text(), "a\x1b" "b");
}

TEST_F(Emulated, SgrCodes) {
    struct Case {
        u16 before;
        const char* seq;
        u16 after;
    } cases[] = {
        {0x07, "\x1b[1m", 0x8F},
        {0x07, "\x1b[4m", 0x8007},
        {0x1E, "\x1b[7m", 0xE1},
        {0x8F07, "\x1b[7m", 0x70},       // the higher bits are cleared
        {0x0F, "\x1b[31m", 0x0C},        // red keeps the intensity bit
        {0x07, "\x1b[34m", 0x01},
        {0x07, "\x1b[39m", 0x0F},
        {0x07, "\x1b[42m", 0x27},
        {0xF7, "\x1b[47m", 0xF7},
        {0x07, "\x1b[49m", 0x87},
        {0x07, "\x1b[1;31m", 0x8C},      // both intensity bits and red in one sequence
        {0x07, "\x1b[1;31;42m", 0xAC},   // 1 and 31 at the second ';', 42 at the 'm'
        {0x1E, "\x1b[0m", 0x07},
    };
    for (const Case& c : cases) {
        screen.attribute = c.before;
        put(c.seq);
        EXPECT_EQ(screen.attribute, c.after) << std::hex << c.before << " " << (c.seq + 1);
    }
    EXPECT_EQ(out.text(), "");
}

TEST_F(Emulated, EmptySgrChangesNothing) {
    screen.attribute = 0x1E;
    put("\x1b[m");
    EXPECT_EQ(screen.attribute, 0x1E);
    EXPECT_EQ(screen.attribute_sets, 0);
}

TEST_F(Emulated, CursorMoves) {
    struct Case {
        int x, y;
        const char* seq;
        int nx, ny;
    } cases[] = {
        {3, 3, "\x1b[5;10H", 5, 10},  // column first, then row
        {3, 3, "\x1b[2;4f", 2, 4},
        {3, 3, "\x1b[H", 0, 0},
        {3, 3, "\x1b[2A", 3, 1},
        {3, 3, "\x1b[9A", 3, 0},      // not above the top
        {3, 3, "\x1b[4B", 3, 7},
        {3, 3, "\x1b[40B", 3, 9},     // not below the buffer
        {3, 3, "\x1b[5C", 8, 3},
        {3, 3, "\x1b[50C", 19, 3},
        {3, 3, "\x1b[2D", 1, 3},
        {3, 3, "\x1b[8D", 0, 3},
    };
    for (const Case& c : cases) {
        screen.x = c.x;
        screen.y = c.y;
        put(c.seq);
        EXPECT_EQ(screen.x, c.nx) << (c.seq + 1);
        EXPECT_EQ(screen.y, c.ny) << (c.seq + 1);
    }
}

TEST_F(Emulated, SaveAndRestoreCursor) {
    screen.x = 4;
    screen.y = 2;
    put("\x1b[s");
    screen.x = 9;
    screen.y = 9;
    put("\x1b[u");
    EXPECT_EQ(screen.x, 4);
    EXPECT_EQ(screen.y, 2);
}

TEST_F(Emulated, Erasing) {
    const int W = 20, H = 10;
    struct Case {
        const char* seq;
        int count;      // cells erased
        int first;      // first erased cell, row-major
        int nx, ny;     // cursor afterwards
    } cases[] = {
        {"\x1b[J", (H - 4) * W, 4 * W, 6, 4},
        {"\x1b[1J", 4 * W, 0, 6, 4},
        {"\x1b[2J", W * H, 0, 0, 0},
        {"\x1b[0J", 0, -1, 6, 4},
        {"\x1b[K", W - 6, 4 * W + 6, 6, 4},
        {"\x1b[1K", 6, 4 * W, 0, 4},
        {"\x1b[2K", W, 4 * W, 0, 4},
        {"\x1b[0K", 0, -1, 6, 4},
    };
    for (const Case& c : cases) {
        SetUp();
        screen.x = 6;
        screen.y = 4;
        put(c.seq);
        EXPECT_EQ(erased(), c.count) << (c.seq + 1);
        if (c.first >= 0) {
            EXPECT_EQ(screen.chars[size_t(c.first)], u32(' ')) << (c.seq + 1);
            EXPECT_EQ(screen.attrs[size_t(c.first)], 0x07) << "erasing uses the start-up attribute";
            if (c.first > 0) {
                EXPECT_EQ(screen.chars[size_t(c.first - 1)], u32('x')) << (c.seq + 1);
            }
        }
        EXPECT_EQ(screen.x, c.nx) << (c.seq + 1);
        EXPECT_EQ(screen.y, c.ny) << (c.seq + 1);
    }
}

TEST_F(Emulated, ScreenReport) {
    screen.x = 2;
    screen.y = 3;
    screen.attribute = 0x1E;
    put("\x1b[?");
    EXPECT_EQ(out.text(),
              "Screen buffer info:\n"
              "   size______ 20x10\n"
              "   cursor____ 2x3\n"
              "   attribute_ 0000001E 00000007\n"
              "   left______ 0 top: 0\n"
              "   right_____ 19 bottom: 9\n"
              "   max_______ 20x10\n");
}

TEST_F(Emulated, ConsumedLengthsForEveryUnit) {
    struct Case {
        std::u32string text;
        u32 consumed;   // in units
    } cases[] = {
        {U"\x1b[31mX", 5}, {U"\x1b[1;2mX", 6}, {U"\x1bX", 0}, {U"\x1b[sX", 3},
        {U"\x1b[?abc", 3},   // the characters after '?' are not consumed
        {U"\x1b[12", 4},     // cut off by the end: consumed, no effect
    };
    for (u32 unit : {1u, 2u, 4u}) {
        for (const Case& c : cases) {
            u32 node = test::make_text_series(c.text, unit);
            SeriesBuffer* s = node_buffer(node);
            u32 k = console::parse_csi(series::head(s), series::tail(s), unit);
            EXPECT_EQ(k, c.consumed * unit) << "unit " << unit;
        }
    }
}

TEST_F(Emulated, WideCharactersAreNeverTakenForTheirLowByte) {
    // U+015B has the low byte of '[' and U+0131 that of '1': neither is one.
    for (u32 unit : {2u, 4u}) {
        test::CapturedOutput o;
        u32 node = test::make_text_series(U"\x1b\u015B\x1b[\u0131m", unit);
        SeriesBuffer* s = node_buffer(node);
        EXPECT_EQ(console::parse_csi(series::head(s), series::tail(s), unit), 0u);
        console::write(series::head(s), series::used_bytes(s), unit, false);
        // ESC ś prints as it is; ESC [ ı ends the sequence at the ı, unapplied, and "m" is plain text.
        EXPECT_EQ(o.text(), "\x1b\xC5\x9B" "m");
        EXPECT_EQ(screen.attribute_sets, 0);
    }
}

TEST_F(Emulated, WideUnitsAreInterpretedToo) {
    for (u32 unit : {2u, 4u}) {
        screen.attribute = 0x07;
        test::CapturedOutput o;
        u32 node = test::make_text_series(U"\u20AC\x1b[42m!", unit);
        SeriesBuffer* s = node_buffer(node);
        console::write(series::head(s), series::used_bytes(s), unit, false);
        EXPECT_EQ(o.text(), "\xE2\x82\xAC!");
        EXPECT_EQ(screen.attribute, 0x27);
    }
}

// --- Plain output (pipe, file or capable terminal) ---------------------------

TEST(ConsoleOutput, EscapesPassThroughWhenNotEmulated) {
    test::CapturedOutput out;
    std::string text = "\x1b[31mred\x1b[0m";
    console::write(reinterpret_cast<const u8*>(text.data()), u32(text.size()), 1, true);
    EXPECT_EQ(out.text(), text + "\n");
}

TEST(ConsoleOutput, EveryUnitIsWrittenAsUtf8WithLf) {
    struct Case {
        std::u32string text;
        u32 unit;
        std::string bytes;
    } cases[] = {
        {U"caf\u00E9", 1, "caf\xC3\xA9\n"},
        {U"\u20AC1", 2, "\xE2\x82\xAC" "1\n"},
        {U"\U0001F600", 4, "\xF0\x9F\x98\x80\n"},
        {U"", 1, "\n"},
        {U"", 4, "\n"},
    };
    for (const Case& c : cases) {
        test::CapturedOutput out;
        u32 node = test::make_text_series(c.text, c.unit);
        SeriesBuffer* s = node_buffer(node);
        console::write(series::head(s), series::used_bytes(s), c.unit, true);
        EXPECT_EQ(out.text(), c.bytes);
    }
}

TEST(ConsoleOutput, WrittenInBlocksOfAtMost1024Bytes) {
    test::CapturedOutput out;
    std::string text(3000, 'a');
    console::write(reinterpret_cast<const u8*>(text.data()), u32(text.size()), 1, false);
    EXPECT_EQ(out.text(), text);
    std::vector<size_t> blocks = out.blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0], 1021u) << "written as soon as more than 1,020 bytes wait";
    EXPECT_EQ(blocks[1], 1021u);
    EXPECT_EQ(blocks[2], 958u);

    // Multi-byte characters never split across blocks and never pass 1,024.
    test::CapturedOutput wide;
    std::u32string smileys(700, U'\U0001F600');
    u32 node = test::make_text_series(smileys, 4);
    SeriesBuffer* s = node_buffer(node);
    console::write(series::head(s), series::used_bytes(s), 4, true);
    size_t total = 0;
    for (size_t b : wide.blocks()) {
        EXPECT_LE(b, 1024u);
        total += b;
    }
    EXPECT_EQ(total, 700u * 4 + 1);
    EXPECT_EQ(wide.blocks()[0], 1024u);
}

TEST(ConsoleOutput, ReachesARealPipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        console::set_sink(nullptr);
        u32 node = test::make_text_series(U"d\u00E9j\u00E0 vu \u20AC", 2);
        Cell str;
        cell::init(&str, TYPE_STRING);
        str.w2 = node;
        print_hooks::call_string_hooks(&str, true);
        str.w1 = 3;   // from the head index on
        print_hooks::call_string_hooks(&str, false);
        console::write_c_string("!");
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, size_t(n));
    close(fds[0]);
    int status;
    waitpid(pid, &status, 0);
    EXPECT_EQ(got, "d\xC3\xA9j\xC3\xA0 vu \xE2\x82\xAC\n\xC3\xA0 vu \xE2\x82\xAC!");
}

// --- Print hooks ------------------------------------------------------------

std::vector<std::string> hook_log;
void hook_a(const Cell*, bool nl) { hook_log.push_back(nl ? "a+" : "a"); }
void hook_b(const Cell*, bool) { hook_log.push_back("b"); }
void byte_hook(const u8* text, u32 length, bool) { hook_log.push_back(std::string(reinterpret_cast<const char*>(text), length)); }

TEST(PrintHooks, CalledInOrderAndRemovedOnce) {
    test::CapturedOutput out;
    hook_log.clear();
    print_hooks::add(hook_a, byte_hook);
    for (int i = 0; i < 6; i++) print_hooks::add(hook_b, nullptr);   // grows past 5
    u32 node = test::make_text_series(U"hi", 1);
    Cell str;
    cell::init(&str, TYPE_STRING);
    str.w2 = node;
    print_hooks::call_string_hooks(&str, true);
    EXPECT_EQ(out.text(), "hi\n") << "the console printer stays first";
    EXPECT_EQ(hook_log, (std::vector<std::string>{"a+", "b", "b", "b", "b", "b", "b"}));

    hook_log.clear();
    print_hooks::remove(hook_b, nullptr);   // the first occurrence only
    print_hooks::remove(hook_a, nullptr);
    print_hooks::call_string_hooks(&str, false);
    EXPECT_EQ(hook_log.size(), 5u);

    hook_log.clear();
    console::write_c_string("raw");
    EXPECT_EQ(hook_log, (std::vector<std::string>{"raw"}));
    print_hooks::remove(nullptr, byte_hook);
    for (int i = 0; i < 5; i++) print_hooks::remove(hook_b, nullptr);
    hook_log.clear();
    print_hooks::call_string_hooks(&str, false);
    EXPECT_TRUE(hook_log.empty());
}

}  // namespace
}  // namespace zir
