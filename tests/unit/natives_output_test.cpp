// print, prin and stats: the text that reaches the print hooks, the print
// block that every print reuses (nested prints, errors and exits inside a
// printed block), the last-line-feed flag, error::print_error, and stats
// against the memory manager's own figures.
#include <chrono>

#include "datatypes/block.hpp"
#include "datatypes/unset.hpp"
#include "eval_support.hpp"
#include "evaluator/natives.hpp"
#include "runtime/memory.hpp"
#include "runtime/print_hooks.hpp"

namespace zir {
namespace {

using namespace test;

std::string captured;
i64 lines = 0;

void capture(const Cell* string, bool new_line) {
    captured += form(string);
    if (new_line) captured += "\n";
}

void count_lines(const Cell*, bool new_line) { lines += new_line; }

// Output goes to a capturing hook in place of the console.
struct OutputNatives : EvalTest {
    print_hooks::StringHook hook = capture;
    void SetUp() override {
        EvalTest::SetUp();
        captured.clear();
        lines = 0;
        print_hooks::remove(print_hooks::console_printer, nullptr);
        print_hooks::add(hook, nullptr);
    }
    void TearDown() override {
        print_hooks::remove(hook, nullptr);
        print_hooks::add(print_hooks::console_printer, nullptr);
        EvalTest::TearDown();
    }
    static i32 print_block_length() { return block::cell_count(node_buffer(natives::print_block)); }
    // What the code prints.
    static std::string output(const char* code) {
        captured.clear();
        std::string error = eval_error(code);
        EXPECT_EQ(error, "") << code;
        return captured;
    }
};

TEST_F(OutputNatives, TextOfValues) {
    const struct {
        const char* code;
        const char* text;
    } cases[] = {
        {"print [1 + 2 \"a\"]", "3 a\n"},
        {"print []", "\n"},
        {"print \"abc\"", "abc\n"},
        {"print next \"abc\"", "bc\n"},
        {"print tail \"abc\"", "\n"},
        {"print 1.5", "1.5\n"},
        {"print none", "none\n"},
        {"print #\"x\"", "x\n"},
        {"print $1.50", "$1.50\n"},
        {"print [1 [2 [3 \"x\"]] \"y\"]", "1 2 3 x y\n"},
        {"print [[] 1x2 'w]", " 1x2 w\n"},
        {"b: [1 2] print [b \"-\" b]", "1 2 - 1 2\n"},
        {"print [\"a\" next [1 2 3]]", "a 2 3\n"},
        {"prin \"a\" prin \"b\"", "ab"},
        {"prin [1 2] print [3]", "1 23\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(output(c.code), c.text) << c.code;
    EXPECT_EQ(eval_mold("type? print 1"), "unset!");
    EXPECT_EQ(eval_mold("type? prin 1"), "unset!");
    EXPECT_EQ(print_block_length(), 0);
}

TEST_F(OutputNatives, LastLineFeedFlag) {
    output("print 1");
    EXPECT_TRUE(natives::last_lf_q);
    output("prin \"a\" prin \"b\"");
    EXPECT_FALSE(natives::last_lf_q);
    output("prin \"a\" print \"b\"");
    EXPECT_TRUE(natives::last_lf_q);
    output("print [] prin []");
    EXPECT_FALSE(natives::last_lf_q);
}

// A function called while a printed block is reduced prints its own line
// first; the outer call's values before and after it are intact.
TEST_F(OutputNatives, PrintInsideAReducedPrint) {
    def("f", "[]", "[print [\"inner\" 1 + 1] 5]");
    EXPECT_EQ(output("print [\"a\" 1 + 2 f \"b\" f]"), "inner 2\ninner 2\na 3 5 b 5\n");
    EXPECT_EQ(print_block_length(), 0);
    // Recursion to depth: each level prints after the levels it called.
    def("g", "[n]", "[if n > 0 [print [n g n - 1 n]] n]");
    EXPECT_EQ(output("g 3"), "1 0 1\n2 1 2\n3 2 3\n");
    std::string expected;
    for (int i = 1; i <= 60; i++) expected += std::to_string(i) + " " + std::to_string(i - 1) + " " + std::to_string(i) + "\n";
    EXPECT_EQ(output("g 60"), expected);
    EXPECT_EQ(print_block_length(), 0);
}

// An error while the block is reduced: nothing is output and the print
// block is as it was, for the outer call and for the next print.
TEST_F(OutputNatives, ErrorInsideAPrintedBlock) {
    captured.clear();
    EXPECT_EQ(eval_error("print [1 2 1 + none]"), "script expect-arg");
    EXPECT_EQ(captured, "");
    EXPECT_EQ(print_block_length(), 0);
    EXPECT_EQ(output("print [1 2]"), "1 2\n");
    // The inner print fails and is caught inside the outer block.
    def("f", "[]", "[try [print [\"lost\" 1 + none]] 7]");
    EXPECT_EQ(output("print [\"a\" f \"b\"]"), "a 7 b\n");
    // The outer print fails after an inner one has printed.
    def("h", "[]", "[print \"inner\" 1]");
    captured.clear();
    EXPECT_EQ(eval_error("print [h undefined-word-here]"), "script no-value");
    EXPECT_EQ(captured, "inner\n");
    EXPECT_EQ(print_block_length(), 0);
}

// break and continue out of a printed block leave nothing printed and the
// block cut back; the loop goes on as usual.
TEST_F(OutputNatives, ExitsOutOfAPrintedBlock) {
    EXPECT_EQ(output("loop 3 [prin \"x\" print [1 break 2]]"), "x");
    EXPECT_EQ(output("loop 2 [print [1 continue 2] print \"never\"]"), "");
    EXPECT_EQ(print_block_length(), 0);
    def("r", "[]", "[print [\"a\" return 9 \"b\"] 0]");
    EXPECT_EQ(eval_mold("r"), "9");
    EXPECT_EQ(print_block_length(), 0);
}

// Code in the printed block that empties or grows the very block.
TEST_F(OutputNatives, BlockChangedWhilePrinted) {
    EXPECT_EQ(output("b: [1 clear b 2 3] print b"), "1 \n");
    EXPECT_EQ(output("b: [1 append b 9 2] print b"), "1 1 append b 9 2 9 2\n");
    EXPECT_EQ(output("b: [\"x\" (clear b) \"y\"] print b"), "x \n");
    EXPECT_EQ(print_block_length(), 0);
}

TEST_F(OutputNatives, ManyLinesReuseThePrintBlock) {
    print_hooks::remove(hook, nullptr);
    hook = count_lines;
    print_hooks::add(hook, nullptr);
    const i64 n = collector::STRESS ? 2000 : 100000;
    u32 size_before = node_buffer(natives::print_block)->size;
    auto start = std::chrono::steady_clock::now();
    std::string code = "loop " + std::to_string(n) + " [print [1 \"a\" 2.5]]";
    EXPECT_EQ(eval_error(code.c_str()), "");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(lines, n);
    EXPECT_EQ(print_block_length(), 0);
    EXPECT_EQ(node_buffer(natives::print_block)->size, size_before);
    if (!collector::STRESS) {
        EXPECT_LT(seconds, 5.0);
    }
}

TEST_F(OutputNatives, PrintErrorShowsWithoutRaising) {
    Cell word = *test::word("frobnicate");
    StackState before = StackState::now();
    error::print_error(ERR_SCRIPT, "no-value", &word);
    EXPECT_EQ(StackState::now(), before);
    EXPECT_EQ(captured.rfind("*** Script Error: frobnicate has no value\n", 0), 0u) << captured;
    EXPECT_TRUE(natives::last_lf_q);
    captured.clear();
    error::print_error(ERR_SCRIPT, "no-such-id-anywhere");
    EXPECT_EQ(StackState::now(), before);
    EXPECT_NE(captured.find("no-such-id-anywhere"), std::string::npos) << captured;
    EXPECT_EQ(print_block_length(), 0);
}

TEST_F(OutputNatives, StatsAnswersTheMemoryManagersFigures) {
    Cell* total = eval("stats");
    ASSERT_EQ(TYPE_OF(total), TYPE_INTEGER);
    i64 now = memory::frame_total();
    // Evaluating allocates a little; the figure is of the same heap.
    EXPECT_GT(i32(total->w2), 0);
    EXPECT_LE(i64(i32(total->w2)), now);
    EXPECT_GT(i64(i32(total->w2)), now - (i64(1) << 20));

    Cell* info = eval("stats/info");
    ASSERT_EQ(TYPE_OF(info), TYPE_BLOCK);
    ASSERT_EQ(block::zs_length_q(info), 5);
    i64 counted[3] = {0, 0, 0};
    i64 frames[3] = {0, 0, 0};
    memory::frame_stats([](int kind, const memory::FrameStat&, void* p) { static_cast<i64*>(p)[kind]++; }, frames);
    for (i32 k = 0; k < 3; k++) {
        Cell kind = *block::cell_at(info->w2, k);
        ASSERT_EQ(TYPE_OF(&kind), TYPE_BLOCK);
        i32 n = block::zs_length_q(&kind);
        // Building the listing may have added a frame since.
        EXPECT_LE(n, frames[k]) << k;
        EXPECT_GE(n, k == 2 ? 0 : 1) << k;
        for (i32 i = 0; i < n; i++) {
            Cell frame = *block::cell_at(kind.w2, i);
            ASSERT_EQ(TYPE_OF(&frame), TYPE_BLOCK);
            EXPECT_TRUE(frame.header & FLAG_NEW_LINE);
            i32 len = block::zs_length_q(&frame);
            ASSERT_EQ(len, k == 2 ? 1 : 3);
            const Cell* f = block::cell_at(frame.w2, 0);
            if (k == 2) {
                counted[k] += i32(f[0].w2);
                continue;
            }
            // free + used = total
            EXPECT_EQ(i64(i32(f[0].w2)) + i32(f[1].w2), i64(i32(f[2].w2)));
            counted[k] += i32(f[1].w2);
        }
    }
    EXPECT_GT(counted[0], 0);
    EXPECT_GT(counted[1], 0);
    // Node slots are 8 bytes: the listing adds up to the total of the heap.
    EXPECT_LE(counted[0] * 8 + counted[1] + counted[2], memory::frame_total());
    // Then what the system gave in blocks of our own (every frame is one)
    // and what the C allocator holds (the stacks at least; a sanitizer's
    // allocator reports nothing).
    const Cell* os = block::cell_at(info->w2, 3);
    const Cell* heap = block::cell_at(info->w2, 4);
    ASSERT_TRUE(TYPE_OF(os) == TYPE_INTEGER || TYPE_OF(os) == TYPE_FLOAT);
    ASSERT_TRUE(TYPE_OF(heap) == TYPE_INTEGER || TYPE_OF(heap) == TYPE_FLOAT);
    if (TYPE_OF(os) == TYPE_INTEGER) {
        EXPECT_EQ(i64(i32(os->w2)), memory::record.os_total);
        EXPECT_GE(i64(i32(os->w2)), counted[1] + counted[2]);
    }
    if (TYPE_OF(heap) == TYPE_INTEGER) {
        EXPECT_GE(i32(heap->w2), 0);
    }
}

TEST_F(OutputNatives, StatsShowCallsTheLibrary) {
    // Until the library defines it, there is nothing to show with.
    Cell none_ = global("none");
    set_global("show-memory-stats", &none_);
    EXPECT_EQ(eval_error("stats/show"), "internal not-done");
    def("show-memory-stats", "[figures]", "[seen: figures 42]");
    EXPECT_EQ(eval_mold("stats/show"), "unset");
    Cell seen = global("seen");
    ASSERT_EQ(TYPE_OF(&seen), TYPE_BLOCK);
    EXPECT_EQ(block::zs_length_q(&seen), 5);
    set_global("show-memory-stats", &unset::value);
    set_global("seen", &unset::value);
}

}  // namespace
}  // namespace zir
