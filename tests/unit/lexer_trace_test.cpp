// The lexer's trace callbacks, through a C++ stand-in for the interpreter's
// function call: the events and their arguments, the event filter, answers
// that drop values or stop the scan, a callback that moves its input, and a
// transcode started from inside a callback.
#include <functional>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "lexer_support.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

using namespace test;

// What the stand-in does with each call: it records the call and answers
// what `answer` says (true when unset).
struct Call {
    std::string event;
    std::string type;
    i32 line;
    std::string token;
    i32 index;   // of the input argument
};
std::vector<Call> calls;
std::function<bool(const Call&, Cell* args)> answer;

void stand_in(const Cell*, Cell* args) {
    Call c;
    c.event = symbol::spelling(i32(args[0].w2));
    c.type = TYPE_OF(&args[2]) == TYPE_NONE ? "none" : mold(&args[2]);
    c.line = i32(args[3].w2);
    c.token = TYPE_OF(&args[4]) == TYPE_PAIR ? std::to_string(i32(args[4].w2)) + "x" + std::to_string(i32(args[4].w3))
                                             : mold(&args[4]);
    c.index = i32(args[1].w1);
    calls.push_back(c);
    bool yes = answer ? answer(c, args) : true;
    cell::init(&args[0], TYPE_LOGIC);
    args[0].w1 = yes;
}

struct LexerTrace : ValueTest {
    void (*saved_callback)(const Cell*, Cell*) = nullptr;
    void SetUp() override {
        ValueTest::SetUp();
        calls.clear();
        answer = nullptr;
        saved_callback = lexer::call_callback;
        lexer::call_callback = stand_in;
    }
    void TearDown() override {
        lexer::call_callback = saved_callback;
        answer = nullptr;
        ValueTest::TearDown();
    }
};

// A function! as the lexer reads one: its spec block and a record whose
// first cell is the body.
Cell* callback(std::initializer_list<const Cell*> spec, std::initializer_list<const Cell*> body = {}) {
    Cell* s = test::block(spec);
    Cell* b = test::block(body);
    Cell* record = test::block({b});
    Cell* fn = stack::push_slot();
    cell::init(fn, TYPE_FUNCTION);
    fn->w2 = s->w2;
    fn->w3 = record->w2;
    return fn;
}

Cell* run(const char* source, const Cell* fn, lexer::Options o = {}) {
    Cell* text = str(source);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    lexer::string_to_block(out, text, -1, o, nullptr, fn, nullptr);
    return out;
}

std::string events() {
    std::string s;
    for (const Call& c : calls) {
        if (!s.empty()) s += " | ";
        s += c.event + " " + c.type + " " + c.token;
    }
    return s;
}

TEST_F(LexerTrace, EventsOfABlock) {
    Cell* fn = callback({word("event"), word("input"), word("type"), word("line"), word("token")});
    EXPECT_MOLD(run("1 [a]", fn), "[1 [a]]");
    EXPECT_EQ(events(),
              "prescan integer! 1x2 | scan integer! 1x2 | load integer! 1 | prescan none 3x3 | open block! 3x4 | "
              "prescan word! 4x5 | scan word! 4x5 | load word! a | prescan none 5x5 | close block! 3x6");
}

TEST_F(LexerTrace, APointIsOneTokenFromItsParen) {
    Cell* fn = callback({word("event")}, {test::block({word("prescan"), word("scan")})});
    run("(1, 2)", fn);
    EXPECT_EQ(events(), "prescan point2D! 1x6 | scan point2D! 1x6") << "the paren is no token of its own";
}

TEST_F(LexerTrace, ABlockAtTheHeadOfTheBodySelectsTheEvents) {
    Cell* fn = callback({word("event")}, {test::block({word("load"), word("error")})});
    EXPECT_MOLD(run("1 a", fn), "[1 a]");
    EXPECT_EQ(events(), "load integer! 1 | load word! a");
    calls.clear();
    Cell* in_spec = callback({test::block({word("open")}), word("event")});
    run("[x]", in_spec);
    EXPECT_EQ(events(), "open block! 1x2");
}

TEST_F(LexerTrace, LocalsOfTheCallbackArePushed) {
    Cell* fn = callback({word("event"), word("input"), word("type"), word("line"), word("token"),
                         word("local", TYPE_REFINEMENT), word("x"), word("y")});
    std::vector<u32> seen;
    answer = [&](const Call&, Cell* args) {
        seen = {TYPE_OF(&args[5]), TYPE_OF(&args[6]), TYPE_OF(&args[7])};
        return true;
    };
    run("1", fn);
    EXPECT_EQ(seen, (std::vector<u32>{TYPE_LOGIC, TYPE_NONE, TYPE_NONE}));
}

TEST_F(LexerTrace, AFalsePrescanAnswerSkipsTheToken) {
    Cell* fn = callback({word("event")});
    answer = [](const Call& c, Cell*) { return c.event != "prescan"; };
    EXPECT_MOLD(run("[1 \"a\" #\"c\" <t> 5% #{00} %\"f\" %{r}% a/b #(none) (1, 2)] x", fn), "[]")
        << "every token is stepped over, its closing byte too";
    answer = [](const Call& c, Cell*) { return !(c.event == "prescan" && c.type == "string!"); };
    EXPECT_MOLD(run("a \"b\" c", fn), "[a c]");
}

TEST_F(LexerTrace, AFalseCloseAnswerLeavesTheLevelOpen) {
    Cell* fn = callback({word("event")});
    answer = [](const Call& c, Cell*) { return c.event != "close"; };
    for (const char* source : {"[1] 2", "#[a 1]", "(1)"})
        EXPECT_EQ(error_of([&] { run(source, fn); }), "syntax missing") << source;
    EXPECT_EQ(error_of([&] { run("a/b c", fn); }), "syntax invalid") << "a path left open takes the blank as its component";
}

TEST_F(LexerTrace, AFalseLoadAnswerDropsTheValue) {
    Cell* fn = callback({word("event")});
    answer = [](const Call& c, Cell*) { return !(c.event == "load" && c.type == "integer!"); };
    EXPECT_MOLD(run("1 a 2 [3 b]", fn), "[a [b]]");
}

TEST_F(LexerTrace, ErrorsGoToTheCallbackFirst) {
    Cell* fn = callback({word("event")});
    answer = [](const Call& c, Cell*) { return c.event != "error"; };
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    Cell* text = str("1 12a 3");
    EXPECT_EQ(lexer::string_to_block(out, text, -1, {}, nullptr, fn, nullptr), TYPE_ERROR)
        << "a false answer ends the scan quietly";
    EXPECT_EQ(calls.back().event, "error");
    EXPECT_EQ(calls.back().type, "integer!");
    answer = nullptr;
    EXPECT_EQ(error_of([&] { run("1 12a 3", fn); }), "syntax invalid") << "a true one lets it be raised";
}

TEST_F(LexerTrace, ACallbackMovingItsInputMovesTheScan) {
    Cell* fn = callback({word("event"), word("input")});
    Cell* other = str("another series");
    struct Move {
        i32 to;
        const Cell* into;
        const char* loaded;
    } moves[] = {
        {4, nullptr, "[1 3]"},          // past "2": its index in the input
        {1000, nullptr, "[1]"},         // past the end: clamped to it
        {-5, nullptr, "[1 1 2 3]"},     // before the start: clamped to it (once)
        {4, other, "[1 2 3]"},          // into another series: ignored
    };
    for (const Move& m : moves) {
        bool done = false;
        answer = [&](const Call& c, Cell* args) {
            if (c.event == "load" && !done) {
                done = true;
                if (m.into) args[1] = *m.into;
                args[1].w1 = u32(m.to);
            }
            return true;
        };
        EXPECT_MOLD(run("1 2 3", fn), m.loaded) << m.to;
    }
}

TEST_F(LexerTrace, PositionsAreCharactersCountedFromTheLastOneAsked) {
    // Each event gives the token's start after its end, and a close event the
    // position of its level's opening bracket, far behind the scan in a deep
    // text: positions are counted from the last one asked, backwards as well
    // as forwards, in characters, not bytes.
    Cell* scan = callback({word("event")}, {test::block({word("scan")})});
    EXPECT_MOLD(run("\u00E9t\u00E9 a \u00E9 bb", scan), "[\u00E9t\u00E9 a \u00E9 bb]");
    EXPECT_EQ(events(), "scan word! 1x4 | scan word! 5x6 | scan word! 7x8 | scan word! 9x11");
    const i32 n = 5000;
    std::string words, deep(size_t(n), '['), wide_deep = "\u00E9 " + std::string(size_t(n), '(');
    for (i32 i = 0; i < n; i++) words += "\u00E9 ";
    deep.append(size_t(n), ']');
    wide_deep.append(size_t(n), ')');
    struct Case {
        const char* event;
        const std::string& text;
        std::string last;
    } cases[] = {
        {"scan", words, std::to_string(2 * n - 1) + "x" + std::to_string(2 * n)},
        {"close", deep, "1x" + std::to_string(2 * n + 1)},       // the outermost closes last
        {"close", wide_deep, "3x" + std::to_string(2 * n + 3)},  // after a 2-byte character
    };
    for (const Case& c : cases) {
        Cell* fn = callback({word("event")}, {test::block({word(c.event)})});
        i32 seen = 0;
        std::string last;
        answer = [&](const Call& call, Cell*) {
            seen++;
            last = call.token;
            return true;
        };
        calls.clear();
        calls.reserve(size_t(n));
        run(c.text.c_str(), fn);
        EXPECT_EQ(seen, n) << c.event;
        EXPECT_EQ(last, c.last) << c.event;
    }
}

TEST_F(LexerTrace, ANestedTranscodeLeavesTheOuterOutputAndInputAlone) {
    Cell* fn = callback({word("event")}, {test::block({word("load")})});
    std::string inner;
    answer = [&](const Call& c, Cell*) {
        if (c.token == "b") {
            // A transcode of its own from inside the callback: its text goes
            // to the conversion area above the outer text.
            lexer::call_callback = nullptr;
            Cell* text = str("x y [z] \"longer text that overwrites\"");
            Cell* out = stack::push_slot();
            cell::init(out, TYPE_UNSET);
            lexer::string_to_block(out, text, -1, {}, nullptr, nullptr, nullptr);
            inner = mold(out);
            lexer::call_callback = stand_in;
        }
        return true;
    };
    EXPECT_MOLD(run("a b c [d e] \"f\"", fn), R"x([a b c [d e] "f"])x");
    EXPECT_EQ(inner, R"x([x y [z] "longer text that overwrites"])x");
}

}  // namespace
}  // namespace zir
