// The parse dialect: every keyword over string, binary and block input, the
// engine's errors, re-entrancy, and rules and inputs changed by parens.
#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "eval_support.hpp"
#include "evaluator/parse.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

using namespace test;

struct Parse : EvalTest {};

struct Case {
    const char* code;
    const char* expected;   // the mold of the result
};

void check_table(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::string error = eval_error(c.code);
        if (!error.empty()) {
            ADD_FAILURE() << c.code << " raised " << error;
            continue;
        }
        EXPECT_EQ(eval_mold(c.code), c.expected) << c.code;
    }
}

TEST_F(Parse, Basics) {
    check_table({
        {"parse [] []", "true"},
        {"parse [a] []", "false"},
        {"parse \"abc\" [\"ab\"]", "false"},
        {"parse \"abc\" [\"abc\"]", "true"},
        {"parse \"ABC\" [\"abc\"]", "true"},
        {"parse/case \"ABC\" [\"abc\"]", "false"},
        {"parse \"aaa\" [some \"a\"]", "true"},
        {"parse \"\" [some \"a\"]", "false"},
        {"parse \"\" [any \"a\"]", "true"},
        {"parse \"ab\" [[\"a\" \"c\"] | \"ab\"]", "true"},
        {"parse \"\" [\"\"]", "true"},
        {"parse \"a\" [\"a\" \"\"]", "true"},
        {"parse \"abc\" [skip skip skip]", "true"},
        {"parse \"ab\" [skip skip skip]", "false"},
        {"c: pick \"A\" 1 parse \"a\" [c]", "true"},
        {"c: pick \"A\" 1 parse/case \"a\" [c]", "false"},
        {"c: pick \"a\" 1 parse/case \"a\" [c]", "true"},
        {"t: to tag! \"b\" parse \"<b>x\" [t \"x\"]", "true"},
        {"t: to tag! \"b\" parse \"<b>x\" [thru t \"x\"]", "true"},
        {"t: to tag! \"b\" parse \"b>x\" [t \"x\"]", "false"},
        {"parse [a b] ['a 'b]", "true"},
        {"parse [a b] [word! word!]", "true"},
        {"parse [1 \"x\"] [integer! string!]", "true"},
        {"parse [1 \"x\"] [integer! integer!]", "false"},
        {"parse [1 2] [2 integer!]", "true"},
        {"parse [1 x] [integer! any-word!]", "true"},
        {"parse \"abc\" [\"a\" none \"bc\"]", "true"},
    });
}

TEST_F(Parse, Repetitions) {
    check_table({
        {"parse \"aab\" [some \"a\" \"b\"]", "true"},
        {"parse \"b\" [some \"a\" \"b\"]", "false"},
        {"parse \"b\" [any \"a\" \"b\"]", "true"},
        {"parse \"ab\" [opt \"x\" \"ab\"]", "true"},
        {"parse \"aaa\" [2 \"a\"]", "false"},
        {"parse \"aaa\" [2 3 \"a\"]", "true"},
        {"parse \"aaaa\" [2 3 \"a\"]", "false"},
        {"parse \"a\" [0 \"b\" \"a\"]", "true"},
        {"parse \"a\" [0 0 \"b\" \"a\"]", "true"},
        {"parse \"abab\" [2 [\"a\" \"b\"]]", "true"},
        {"parse \"ababab\" [1 2 [\"a\" \"b\"] \"ab\"]", "true"},
        {"parse \"aaa\" [some [\"a\"]]", "true"},
        {"parse \"aaa\" [any [\"a\" | \"b\"]]", "true"},
        {"parse \"x\" [any [\"\"] \"x\"]", "true"},
        {"parse \"aaa\" [any [\"a\" break]]", "false"},
        {"parse \"a\" [any [\"a\" break]]", "true"},
        {"parse \"aab\" [any [\"a\" | reject] \"b\"]", "true"},
        {"parse \"aaa\" [while [\"a\"]]", "true"},
        {"parse \"aaa\" [some skip]", "true"},
        {"parse \"a1b2\" [some [skip skip]]", "true"},
        {"a: pick \"a\" 1 b: pick \"b\" 1 parse \"aaab\" [some a b]", "true"},
        {"a: pick \"A\" 1 parse \"aaab\" [some a \"b\"]", "true"},
        {"a: pick \"A\" 1 parse/case \"aaab\" [some a \"b\"]", "false"},
        {"n: 2 parse \"aa\" [1 n \"a\"]", "true"},
        {"r: [\"a\"] parse \"aaa\" [some r]", "true"},
        {"r: \"a\" parse \"aaa\" [some r]", "true"},
        {"d: make bitset! \"0123456789\" parse \"123\" [some d]", "true"},
        {"d: make bitset! \"0123456789\" parse \"12a\" [some d]", "false"},
        {"parse [1 2 3] [some integer!]", "true"},
        {"parse [a a a] [some 'a]", "true"},
        {"parse [a a b] [some 'a 'b]", "true"},
        // A repetition that falls short of its minimum consumes nothing.
        {"parse \"aab\" [opt 3 \"a\" \"aab\"]", "true"},
        {"parse \"aab\" [opt 3 [\"a\"] \"aab\"]", "true"},
        {"parse \"abcde\" [some 3 [skip]]", "false"},
        {"parse \"abcdef\" [some 3 [skip]]", "true"},
    });
}

TEST_F(Parse, Keywords) {
    check_table({
        {"parse \"abc\" [to \"c\" \"c\"]", "true"},
        {"parse \"abc\" [thru \"b\" \"c\"]", "true"},
        {"parse \"abc\" [to \"x\"]", "false"},
        {"parse \"abc\" [to end]", "true"},
        {"parse \"abc\" [thru end]", "true"},
        {"c: pick \"C\" 1 parse \"abc\" [to c skip]", "true"},
        {"c: pick \"C\" 1 parse/case \"abc\" [to c skip]", "false"},
        {"parse \"aBc\" [thru \"b\" \"c\"]", "true"},
        {"parse/case \"aBc\" [thru \"b\" \"c\"]", "false"},
        {"parse \"abcd\" [to [\"c\" | \"d\"] \"cd\"]", "true"},
        {"parse \"abcd\" [thru [\"c\" | \"d\"] \"d\"]", "true"},
        {"parse \"abc\" [to [\"x\"]]", "false"},
        {"parse \"ab\" [to [end]]", "true"},
        {"parse [1 a 2] [to 'a 'a integer!]", "true"},
        {"parse [1 a 2] [thru word! integer!]", "true"},
        {"parse \"a\" [ahead \"a\" \"a\"]", "true"},
        {"parse \"a\" [not \"b\" \"a\"]", "true"},
        {"parse \"a\" [not \"a\" \"a\"]", "false"},
        {"parse \"a\" [opt not \"a\" \"a\"]", "true"},
        {"parse \"a\" [fail \"a\"]", "false"},
        {"parse \"a\" [fail | \"a\"]", "true"},
        {"parse \"A\" [case false \"a\"]", "true"},
        {"parse \"A\" [case true \"a\"]", "false"},
        {"parse/case \"A\" [case false \"a\"]", "true"},
        {"parse \"Aa\" [case true \"A\" \"A\"]", "true"},
        {"parse \"a\" [quote \"a\"]", "true"},
        {"parse [x] [quote x]", "true"},
        {"parse [1] [quote 1]", "true"},
        {"parse [[a]] [quote [a]]", "true"},
        {"parse \"ab\" [\"a\" end]", "false"},
        {"parse \"ab\" [\"ab\" end]", "true"},
        {"parse \"a\" [if (true) \"a\"]", "true"},
        {"parse \"a\" [if (false) \"a\" | skip]", "true"},
        {"parse \"a\" [if (none) \"a\"]", "false"},
        {"parse [1 [2]] [integer! into [integer!]]", "true"},
        {"parse [1 [2 3]] [integer! into [integer!]]", "false"},
        {"parse [[\"ab\"]] [into [into [\"a\" \"b\"]]]", "true"},
        {"parse [x] [into [skip]]", "false"},
        {"r: [integer!] parse [[1]] [into r]", "true"},
    });
}

TEST_F(Parse, CopySetAndWordPositions) {
    EXPECT_EQ(eval_mold("parse \"abc\" [copy x to \"c\" skip] x"), "\"ab\"");
    EXPECT_EQ(eval_mold("parse \"abc\" [set x skip to end] x = pick \"a\" 1"), "true");
    EXPECT_EQ(eval_mold("parse to binary! \"ab\" [set x skip skip] x"), "97");
    EXPECT_EQ(eval_mold("parse [1 2] [set x integer! skip] x"), "1");
    EXPECT_EQ(eval_mold("parse [1 2] [set x opt string! to end] x"), "none");
    EXPECT_EQ(eval_mold("parse [1 2 3] [skip copy x 2 skip] x"), "[2 3]");
    EXPECT_EQ(eval_mold("parse to binary! \"abc\" [skip copy x to end] x = to binary! \"bc\""), "true");
    EXPECT_EQ(eval_mold("parse \"abc\" [skip p: to end] p"), "\"bc\"");
    EXPECT_EQ(eval_mold("parse \"abc\" [skip p: skip :p \"bc\"]"), "true");
    EXPECT_EQ(eval_mold("s: \"abc\" parse s [to end :s \"abc\"]"), "true");
    EXPECT_EQ(eval_mold("parse \"ab\" [copy x [\"a\" | \"b\"] copy y skip] append x y"), "\"ab\"");
    EXPECT_EQ(eval_error("o: \"xyz\" parse \"abc\" [:o]"), "script parse-invalid-ref");
}

// A word whose value is a word, as the sub-rule of a command, is matched
// literally, also on every later round of a repetition or a to/thru search
// (they run the sub-rule again from the command); at the top level, and after
// keep, it stays an invalid rule.
TEST_F(Parse, WordValuedSubRulesOnEveryRound) {
    check_table({
        {"w: 'x parse [x] [opt w]", "true"},
        {"w: 'x parse [x] [some w]", "true"},
        {"w: 'x parse [x x x] [some w]", "true"},
        {"w: 'x parse [x x y] [some w 'y]", "true"},
        {"w: 'x parse [x x] [2 w]", "true"},
        {"w: 'x parse [x x x] [1 3 w]", "true"},
        {"w: 'x parse [x y] [any w 'y]", "true"},
        {"w: 'x parse [x x] [while w]", "true"},
        {"w: 'x parse [y] [some w]", "false"},
        {"w: 'x parse [y y x z] [to w 2 skip]", "true"},
        {"w: 'x parse [y y x z] [thru w 'z]", "true"},
        {"w: 'x parse [y y] [to w]", "false"},
        {"w: 'x cb: func [e m r i s] [true] parse/trace [x x] [some w] :cb", "true"},
        {"w: 'x cb: func [e m r i s] [true] parse/trace [y x] [thru w] :cb", "true"},
    });
    EXPECT_EQ(eval_error("w: 'x parse [x] [w]"), "script parse-rule");
    EXPECT_EQ(eval_error("w: 'x parse [x x] [some [w]]"), "script parse-rule");
    EXPECT_EQ(eval_error("w: 'x parse [x] [collect [keep w]]"), "script parse-rule");
    EXPECT_EQ(eval_error("w: 'x parse [x x] [collect [some [keep w]]]"), "script parse-rule");
}

TEST_F(Parse, Collect) {
    check_table({
        {"parse [1 2] [collect [keep integer! keep integer!]]", "[1 2]"},
        {"parse \"ab\" [collect [keep to end]]", "[\"ab\"]"},
        {"b: parse \"abc\" [collect [keep skip keep pick 2 skip]] append append append copy \"\" b/1 b/2 b/3", "\"abc\""},
        {"length? parse \"abc\" [collect [keep skip keep pick 2 skip]]", "3"},
        {"parse [1 2 3] [collect [keep 3 integer!]]", "[[1 2 3]]"},
        {"parse [1 2 3] [collect [keep pick 3 integer!]]", "[1 2 3]"},
        {"parse [1] [collect [keep (1 + 1) skip]]", "[2]"},
        {"parse [1] [collect [keep pick ([a b]) skip]]", "[a b]"},
        {"parse [1] [collect [keep ([a b]) skip]]", "[[a b]]"},
        {"parse [1 2] [collect [keep integer! collect [keep integer!]]]", "[1 [2]]"},
        {"parse \"ab\" [collect [keep copy x skip skip]]", "[\"a\"]"},
        {"parse [1 2] [collect [some [keep integer!]]]", "[1 2]"},
        {"parse [1 2] [collect set x [keep integer! keep integer!]]", "true"},
        {"parse [1 2] [collect set x [keep integer! keep integer!]] x", "[1 2]"},
        {"b: copy [z] parse [1 2] [collect into b [keep integer! keep integer!]] b", "[1 2 z]"},
        {"b: copy [z] parse [1 2] [collect after b [keep integer! keep integer!]] b", "[z 1 2]"},
        {"s: copy \"\" parse \"abc\" [collect into s [keep skip keep 2 skip]] s", "\"abc\""},
        {"parse [1 2] [collect [keep integer!] skip]", "[1]"},
    });
    EXPECT_EQ(eval_error("parse [1] [keep skip]"), "script parse-keep");
    EXPECT_EQ(eval_error("b: [1] parse b [collect into b [keep skip]]"), "script parse-into-bad");
    EXPECT_EQ(eval_error("b: 5 parse [1] [collect into b [keep skip]]"), "script parse-into-type");
    EXPECT_EQ(eval_error("b: to binary! \"a\" parse \"a\" [collect into b [keep skip]]"), "script parse-into-type");
}

TEST_F(Parse, Modifying) {
    check_table({
        {"parse s: \"aXb\" [skip remove \"X\" skip]", "true"},
        {"parse s: \"aXb\" [skip remove \"X\" skip] s", "\"ab\""},
        {"parse s: \"ab\" [skip insert \"X\" skip] s", "\"aXb\""},
        {"parse s: \"ab\" [skip insert \"X\" skip]", "true"},
        {"parse s: [1 2] [skip insert [a b] skip] s", "[1 a b 2]"},
        {"parse s: [1 2] [skip insert only [a b] skip] s", "[1 [a b] 2]"},
        {"parse s: \"ab\" [p: skip insert p \"X\" skip] s", "\"Xab\""},
        {"parse s: \"abc\" [change \"b\" \"XY\" | skip change \"b\" \"XY\" \"c\"] s", "\"aXYc\""},
        {"parse s: \"abc\" [skip change skip \"XY\" \"c\"]", "true"},
        {"parse s: \"abc\" [skip p: skip change p \"Z\" \"c\"] s", "\"aZc\""},
        {"parse s: [1 2 3] [skip change integer! (10 * 10) skip] s", "[1 100 3]"},
        {"parse s: [1 2 3] [skip change only integer! [a] skip] s", "[1 [a] 3]"},
        {"comma: pick \",\" 1 parse s: \"a,b,c\" [any [remove comma | skip]] s", "\"abc\""},
        {"parse s: \"abc\" [p: to end remove p] s", "\"\""},
        {"x: \"Q\" parse s: \"ab\" [skip insert x skip] s", "\"aQb\""},
        {"parse s: \"ab\" [skip insert (\"Q\") skip] s", "\"aQb\""},
    });
    EXPECT_EQ(eval_error("parse s: \"ab\" [skip insert s]"), "script parse-rule");
    EXPECT_EQ(eval_error("parse \"ab\" [change]"), "script parse-end");
    EXPECT_EQ(eval_error("parse \"ab\" [change skip]"), "script parse-end");
    EXPECT_EQ(eval_error("parse \"ab\" [remove a/b]"), "script parse-rule");
}


// A break or reject stops the repetition around it and no other: outside
// any repetition it only ends its block, and a repetition further on runs
// all its rounds.
TEST_F(Parse, BreakStopsOnlyTheRepetitionAroundIt) {
    check_table({
        {"parse \"abbbc\" [[\"a\" break] some [\"b\"] \"c\"]", "true"},
        {"parse \"abbbc\" [skip [[break]] some [\"b\"] \"c\"]", "true"},
        {"parse \"abbbc\" [to [\"b\" break] some [\"b\"] \"c\"]", "true"},
        {"parse \"abbbc\" [thru [\"a\" break] some [\"b\"] \"c\"]", "true"},
        {"parse \"abbbc\" [copy x [\"a\" break] some [\"b\"] \"c\"]", "true"},
        {"parse \"abbbc\" [ahead [\"a\" break] skip some [\"b\"] \"c\"]", "true"},
        {"parse \"abbbc\" [skip remove [break] some [\"b\"] \"c\"]", "true"},
        {"parse \"abbbc\" [skip case true [break] some [\"b\"] \"c\"]", "true"},
        {"parse \"abbbc\" [skip [reject] | skip some [\"b\"] \"c\"]", "true"},
        // The repetition around the break stops, not one opened after it.
        {"parse \"abbx\" [some [[\"a\" break] some [\"b\"]] \"x\"]", "true"},
        {"parse \"abbxabb\" [some [[\"a\" break] some [\"b\"]] \"x\" \"abb\"]", "true"},
        {"parse \"aaa\" [some [opt [\"a\" break]]]", "true"},
        {"parse \"aaa\" [any [\"a\" break] \"aa\"]", "true"},
        {"parse \"aaa\" [some [\"a\" reject]]", "false"},
        {"parse \"aabab\" [while [\"a\" | \"b\" break] \"ab\"]", "true"},
    });
}

// The value of a change comes after its whole sub-rule, which may take more
// than one cell: a count with its rule, a keyword with its own, a word.
TEST_F(Parse, ChangeValueFollowsTheWholeSubRule) {
    check_table({
        {"parse s: \"abcdef\" [change 2 skip \"X\" to end] s", "\"Xcdef\""},
        {"parse s: \"abcdef\" [change 2 3 skip \"X\" to end] s", "\"Xdef\""},
        {"parse s: \"aaab\" [change 2 4 \"a\" \"X\" \"b\"] s", "\"Xb\""},
        {"parse s: \"aaab\" [change some \"a\" \"X\" \"b\"] s", "\"Xb\""},
        {"parse s: \"aaab\" [change any [\"a\"] \"X\" \"b\"] s", "\"Xb\""},
        {"parse s: \"aaab\" [change to \"b\" \"X\" \"b\"] s", "\"Xb\""},
        {"parse s: \"aaab\" [change copy x 3 skip \"X\" \"b\"] reduce [s x]", "[\"Xb\" \"aaa\"]"},
        {"parse s: \"aaab\" [change only 2 skip \"X\" to end] s", "\"Xab\""},
        {"r: [2 skip] parse s: \"aaab\" [change r \"X\" to end] s", "\"Xab\""},
        {"parse s: \"aaab\" [change 2 \"x\" \"X\" | to end] s", "\"aaab\""},
        {"parse s: [1 2 3] [change 2 integer! [a] integer!] s", "[a 3]"},
        {"parse s: [1 2 3] [change only 2 integer! [a] integer!] s", "[[a] 3]"},
        {"parse s: [1 2 3 4 5 6] [3 skip change 2 skip ([X]) to end] s", "[1 2 3 X 6]"},
        // The value's paren cuts the input short of what the sub-rule matched.
        {"parse s: [1 2 3 4 5 6] [3 skip change 2 skip (clear skip s 4 [X]) to end] s", "[1 2 3 X]"},
        {"parse s: \"abcdef\" [3 skip change 2 skip (clear skip s 4 \"X\") to end] s", "\"abcX\""},
    });
    EXPECT_EQ(eval_error("parse \"ab\" [change 2 skip]"), "script parse-end");
}
TEST_F(Parse, Errors) {
    struct E {
        const char* code;
        const char* id;
        const char* report;
    };
    const E cases[] = {
        {"parse \"a\" [a/b]", "script parse-rule", "PARSE - invalid rule or usage of rule: a/b"},
        {"w: 'x parse \"a\" [w]", "script parse-rule", "PARSE - invalid rule or usage of rule: x"},
        {"parse \"a\" [3 2 \"a\"]", "script parse-rule", "PARSE - invalid rule or usage of rule: 3"},
        {"parse \"a\" [2]", "script parse-rule", "PARSE - invalid rule or usage of rule: 2"},
        {"parse \"a\" [-1 \"a\"]", "script out-of-range", "value out of range: -1"},
        {"parse \"a\" [1 -2 \"a\"]", "script out-of-range", "value out of range: -2"},
        {"parse \"a\" [to]", "script parse-end", "PARSE - unexpected end of rule after: to"},
        {"parse \"a\" [thru]", "script parse-end", "PARSE - unexpected end of rule after: thru"},
        {"parse \"a\" [some]", "script parse-end", "PARSE - unexpected end of rule after: some"},
        {"parse \"a\" [copy x]", "script parse-end", "PARSE - unexpected end of rule after: copy"},
        {"parse \"a\" [set]", "script parse-end", "PARSE - unexpected end of rule after: set"},
        {"parse \"a\" [not]", "script parse-end", "PARSE - unexpected end of rule after: not"},
        {"parse \"a\" [ahead]", "script parse-end", "PARSE - unexpected end of rule after: ahead"},
        {"parse \"a\" [while]", "script parse-end", "PARSE - unexpected end of rule after: while"},
        {"parse \"a\" [if]", "script parse-end", "PARSE - unexpected end of rule after: if"},
        {"parse \"a\" [if \"a\"]", "script parse-end", "PARSE - unexpected end of rule after: if"},
        {"parse \"a\" [quote]", "script parse-end", "PARSE - unexpected end of rule after: quote"},
        {"parse \"a\" [insert]", "script parse-end", "PARSE - unexpected end of rule after: insert"},
        {"parse \"a\" [case]", "script parse-end", "PARSE - unexpected end of rule after: case"},
        {"parse \"a\" [collect set]", "script parse-end", "PARSE - unexpected end of rule after: collect"},
        {"parse \"a\" [collect []]", "", ""},
        {"parse [a] [into]", "script parse-end", "PARSE - unexpected end of rule after: into"},
        {"parse [a] [into \"x\"]", "script parse-end", "PARSE - unexpected end of rule after: into"},
        {"parse \"a\" [into [skip]]", "script parse-block", "PARSE - input must be of any-block! type: \"a\""},
        {"parse \"a\" [string!]", "script parse-unsupported",
         "PARSE - matching by datatype not supported for any-string! input"},
        {"parse \"a\" [keep skip]", "script parse-keep", "PARSE - KEEP is used without a wrapping COLLECT"},
        {"parse \"a\" [nothing-here]", "script no-value", "nothing-here has no value"},
        {"parse \"a\" [to 1.5]", "script parse-rule", "PARSE - invalid rule or usage of rule: 1.5"},
        {"parse/part \"abc\" [to end] \"abc\"", "script invalid-refine-arg", "invalid part argument: \"abc\""},
    };
    for (const E& c : cases) {
        EXPECT_EQ(eval_error(c.code), c.id) << c.code;
        std::string report = eval_report(c.code);
        report = report.substr(0, report.find('\n'));
        if (report.rfind("*** ", 0) == 0) report = report.substr(report.find(": ") + 2);
        EXPECT_EQ(report, c.report) << c.code;
    }
    // The stacks are clean after every error: a parse works afterwards.
    EXPECT_EQ(eval_mold("parse \"ab\" [some skip]"), "true");
    EXPECT_EQ(parse::rule_head, 0);
    EXPECT_EQ(parse::input_head, 0);
}

TEST_F(Parse, Part) {
    check_table({
        {"parse/part \"abc\" [\"ab\"] 2", "true"},
        {"parse/part \"abc\" [\"abc\"] 2", "false"},
        {"parse/part \"abc\" [to end] 2", "true"},
        {"parse/part \"abc\" [some skip] 2", "true"},
        {"parse/part \"abc\" [copy x to end] 2 x", "\"ab\""},
        {"parse/part \"abc\" [\"ab\" end] 2", "true"},
        {"parse/part \"abc\" [] 0", "false"},
        {"parse/part \"\" [\"x\"] 0", "true"},
        {"parse/part \"abc\" [] -1", "false"},
        {"s: \"abc\" parse/part s [\"ab\"] next next s", "true"},
        {"s: next next \"abcd\" parse/part s [] 0", "true"},
        {"s: next next \"abcd\" parse/part s [skip] 0", "false"},
        {"parse/part \"abc\" [thru \"c\"] 2", "false"},
        {"parse/part [[1 2] 3] [into [integer! integer!]] 1", "true"},
    });
}

TEST_F(Parse, BinaryInput) {
    check_table({
        {"parse to binary! \"ab\" [(to binary! \"a\") \"b\"]", "false"},
        {"a: to binary! \"a\" parse to binary! \"ab\" [a \"b\"]", "true"},
        {"parse to binary! \"ab\" [\"ab\"]", "true"},
        {"a: pick \"a\" 1 b: pick \"b\" 1 parse to binary! \"ab\" [a b]", "true"},
        {"b: pick \"b\" 1 parse to binary! \"abc\" [thru b skip]", "true"},
        {"abc: make bitset! \"abc\" parse to binary! \"abc\" [some abc]", "true"},
        {"parse to binary! \"12 abc\" [integer! skip word!]", "true"},
        {"parse to binary! \"12 abc\" [word!]", "false"},
        {"parse to binary! \"[1 2] x\" [block! \" \" word!]", "true"},
        {"parse to binary! \"12\" [number!]", "true"},
        {"parse to binary! \"12\" [any-word!]", "false"},
        {"parse to binary! \"12 ]\" [integer! skip]", "false"},
        {"parse to binary! \"\" [integer!]", "false"},
        {"b: to binary! \"\" loop 200 [append b to binary! \"1 \"] parse b [some [integer! skip]]", "true"},
    });
}

TEST_F(Parse, WhileAfterRewriting) {
    // A while loop keeps going after a rule rewrote the input under it.
    EXPECT_EQ(eval_mold("dash: pick \"-\" 1 s: \"a-b-c\" parse s [while [change dash \"+\" | skip]] s"), "\"a+b+c\"");
    EXPECT_EQ(eval_mold("s: \"aaa\" parse s [while [remove \"a\"]] s"), "\"\"");
    // some [end | ...] ends at the end of the input.
    EXPECT_EQ(eval_mold("parse \"ab\" [some [end | skip]]"), "true");
    EXPECT_EQ(eval_mold("parse \"\" [some [end | skip]]"), "true");
    // A while over a rule that consumes nothing needs a break.
    EXPECT_EQ(eval_mold("n: 0 parse \"\" [while [(n: n + 1) if (n > 5) break | none]] n"), "6");
}

TEST_F(Parse, ParenEffectsAreNotUndone) {
    EXPECT_EQ(eval_mold("n: 0 parse \"ab\" [[(n: n + 1) \"x\"] | [(n: n + 10) \"ab\"]] n"), "11");
    EXPECT_EQ(eval_mold("b: copy [] parse \"aab\" [any [\"a\" (append b 1)] [\"c\" | (append b 2) \"b\"]] b"),
              "[1 1 2]");
}

TEST_F(Parse, CallbackEvents) {
    def("tr", "[event match? rule input stack]", "[append evs event true]");
    EXPECT_EQ(eval_mold("evs: copy [] parse/trace \"a\" [\"a\"] :tr evs"), "[push fetch match pop end]");
    EXPECT_EQ(eval_mold("evs: copy [] parse/trace \"aa\" [some \"a\"] :tr evs"),
              "[push fetch push match pop pop end]");
    EXPECT_EQ(eval_mold("evs: copy [] parse/trace \"ab\" [some [skip]] :tr evs"),
              "[push fetch push push fetch pop iterate fetch push fetch pop iterate fetch push fetch pop pop pop end]");
    EXPECT_EQ(eval_mold("evs: copy [] parse/trace \"a\" [(1) skip] :tr evs"),
              "[push fetch paren fetch pop end]");
    // A callback answering false at the first push stops the parse with the
    // initial match?.
    def("no", "[event match? rule input stack]", "[false]");
    EXPECT_EQ(eval_mold("parse/trace \"zzz\" [\"a\"] :no"), "true");
    // The stack argument is a copy: emptying it changes nothing.
    def("wreck", "[event match? rule input stack]", "[clear stack clear input true]");
    EXPECT_EQ(eval_mold("parse/trace s: [1 2 3] [some integer!] :wreck"), "true");
}

TEST_F(Parse, ReEntrancy) {
    // From a paren.
    EXPECT_EQ(eval_mold("parse \"ab\" [\"a\" (r: parse [1 2] [some integer!]) \"b\"]"), "true");
    EXPECT_EQ(eval_mold("parse \"ab\" [\"a\" (r: parse [1 2] [some integer!]) \"b\"] r"), "true");
    EXPECT_EQ(eval_mold("parse [[1]] [into [(r: parse \"x\" [\"y\"]) integer!]]"), "true");
    // An inner parse that fails with an error inside the outer one.
    EXPECT_EQ(eval_mold("parse \"ab\" [\"a\" (try [parse \"a\" [to]]) \"b\"]"), "true");
    // From the callback.
    def("inner", "[event match? rule input stack]", "[parse \"q\" [\"q\"]]");
    EXPECT_EQ(eval_mold("parse/trace \"abc\" [some [skip] \"\"] :inner"), "true");
    EXPECT_EQ(parse::rule_head, 0);
}

TEST_F(Parse, ExitsFromParens) {
    def("f", "[]", "[parse \"abc\" [\"a\" (return 7) \"b\"] 8]");
    EXPECT_EQ(eval_mold("f"), "7");
    EXPECT_EQ(eval_mold("loop 3 [parse \"a\" [(break)]] 1"), "1");
    EXPECT_EQ(eval_mold("catch [parse \"a\" [(throw 5)]]"), "5");
    EXPECT_EQ(parse::rule_head, 0);
    EXPECT_EQ(eval_mold("parse \"ab\" [some skip]"), "true");
}

TEST_F(Parse, ParensShrinkingRulesAndInput) {
    // A paren that removes the rest of the input: the position moves back
    // onto the new tail.
    EXPECT_EQ(eval_mold("s: \"abcd\" parse s [skip skip (clear s) end]"), "true");
    // A paren that empties the rules and the input.
    EXPECT_EQ(eval_mold("r: [\"a\" (clear r clear s) \"b\"] s: \"ab\" parse s r"), "true");
    // Enclosing blocks and outer into inputs restored after a paren shrank them.
    EXPECT_EQ(eval_mold("r: [[skip (clear r)] skip skip] parse \"abc\" r"), "false");
    EXPECT_EQ(eval_mold("r: [some [skip (clear r)]] parse \"abc\" r"), "false");
    EXPECT_EQ(eval_mold("b: [[1 2] 3 4] parse b [into [skip (clear b) skip] to end]"), "true");
    EXPECT_EQ(eval_mold("b: [[1 2] 3 4] parse b [some [into [(clear b) to end]]]"), "true");
    EXPECT_EQ(eval_mold("s: \"abcdef\" parse s [any [\"ab\" (clear s) | skip]]"), "true");
    EXPECT_EQ(eval_mold("s: \"abcdef\" parse s [thru \"c\" [\"d\" (clear s) \"x\" | \"de\"] skip]"), "false");
}

// A word the rules set (copy, set, collect set, a position) belongs to an
// object whose change handler empties the input and the rules once: the
// repetition that was running stops as it does after such a paren (it went
// round for ever, the position left past the new tail).
TEST_F(Parse, ChangeHandlersShrinkingRulesAndInput) {
    eval("zz-once: false zz-yes: make function! [[e m r i st] [true]] "
         "zz-po: make object! [x: none on-change*: make function! [[w old new] [if zz-once [zz-once: false clear s "
         "clear r loop 20 [copy \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\"]]]]]");
    const Case cases[] = {
        {"[some [copy x skip]]", "true"},
        {"[any [set x skip]]", "true"},
        {"[some copy x skip]", "true"},
        {"[some [copy x [skip skip]]]", "true"},
        {"[some [collect set x [keep skip]]]", "true"},
        {"[some [x: skip]]", "false"},
    };
    for (const char* trace : {"", "/trace"}) {
        for (const Case& c : cases) {
            for (const char* input : {"\"abcd\"", "[1 2 3 4]", "#{01020304}"}) {
                std::string code = std::string("zz-once: true s: copy ") + input + " r: bind copy/deep " + c.code +
                                   " zz-po parse" + trace + " s r" + (*trace ? " :zz-yes" : "");
                EXPECT_EQ(eval_mold(code.c_str()), c.expected) << code;
                EXPECT_EQ(eval_mold("reduce [s r]"), "[" + std::string(input[0] == '"' ? "\"\"" : input[0] == '[' ? "[]" : "#{}") + " []]") << code;
            }
        }
    }
}

TEST_F(Parse, AllocatingParens) {
    EXPECT_EQ(eval_mold("b: copy [] parse \"abcabc\" [some [copy x 3 skip (append b x append b copy x) ]] length? b"), "4");
    EXPECT_EQ(eval_mold("out: copy \"\" parse \"a1b2c3\" [some [set c skip (append out c insert out \"-\")]] out"),
              "\"------a1b2c3\"");
    EXPECT_EQ(eval_mold("length? parse \"aaa\" [collect [some [keep skip (loop 3 [copy \"xxxxxxxxxxxxxxx\"])]]]"),
              "3");
}

// Runs each case untraced and traced ("@" stands for the refinement /trace
// or nothing, "$" for its callback argument, a function `yes` answering
// true): the answers, or the errors and where they arose, must agree.
template <size_t N>
void expect_traced_agree(const char* const (&cases)[N]) {
    for (const char* c : cases) {
        std::string plain = c, traced = c;
        for (size_t at; (at = plain.find('@')) != std::string::npos;) plain.erase(at, 1);
        for (size_t at; (at = plain.find('$')) != std::string::npos;) plain.erase(at, 1);
        for (size_t at; (at = traced.find('@')) != std::string::npos;) traced.replace(at, 1, "/trace");
        for (size_t at; (at = traced.find('$')) != std::string::npos;) traced.replace(at, 1, " :yes");
        SCOPED_TRACE(plain);
        std::string error = eval_error(plain.c_str());
        EXPECT_EQ(error, eval_error(traced.c_str())) << plain;
        if (error.empty()) {
            EXPECT_EQ(eval_mold(plain.c_str()), eval_mold(traced.c_str())) << plain;
        } else {
            // The message and where it arose (the code shown near it differs).
            std::string a = eval_report(plain.c_str()), b = eval_report(traced.c_str());
            EXPECT_EQ(a.substr(0, a.find("*** Near")), b.substr(0, b.find("*** Near"))) << plain;
        }
    }
}

TEST_F(Parse, DeepNestingStopsAtTheStackLimit) {
    std::string rule;
    for (int i = 0; i < 10000; i++) rule += '[';
    rule += "skip";
    for (int i = 0; i < 10000; i++) rule += ']';
    std::string code = "parse \"a\" " + rule;
    struct Arg {
        std::string code;
        std::string error, report;
    } arg{code, "", ""};
    on_big_stack(
        [](void* p) {
            auto* a = static_cast<Arg*>(p);
            a->error = eval_error(a->code.c_str());
            a->report = eval_report(a->code.c_str());
        },
        &arg);
    EXPECT_EQ(arg.error, "script parse-stack");
    EXPECT_EQ(arg.report.substr(0, arg.report.find('\n')), "*** Script Error: PARSE - stack limit reached");
    EXPECT_EQ(eval_mold("r: [\"a\" r | none] parse \"aaa\" r"), "true");
    EXPECT_EQ(eval_error("r: [r] parse \"a\" r"), "script parse-stack");
    EXPECT_EQ(parse::rule_head, 0);
}

// Rules that loop for ever by design end under a round budget, stopping as
// a callback answering false would (the answer is `match?` as it stood: true
// between two rounds that matched); the stacks are given back, and a budget
// that is not spent changes nothing.
TEST_F(Parse, RoundBudgetStopsEndlessRules) {
    struct Budget {
        Budget() { parse::round_budget = 1000; }
        ~Budget() { parse::round_budget = 0; }
    } budget;
    check_table({
        {"parse \"aaa\" [while [opt \"a\"]]", "true"},
        {"parse \"aaa\" [while [opt \"a\"] \"b\"]", "true"},
        {"parse s: \"ab\" [any [remove \"a\" | insert \"x\" skip | skip]]", "true"},
        {"s: \"ab\" parse s [any [insert \"x\" skip | skip]] (length? s) > 500", "true"},
        {"parse \"aaa\" [some \"a\"]", "true"},
        {"parse \"abab\" [some [\"a\" | \"b\"]]", "true"},
        {"parse \"aaab\" [thru \"b\"]", "true"},
        {"parse \"aaa\" [collect [any [keep skip]]]", "[#\"a\" #\"a\" #\"a\"]"},
    });
    EXPECT_EQ(parse::rule_head, 0);
    EXPECT_EQ(parse::input_head, 0);
}

// Under a round budget a parse's rounds also spend the interpreter's step
// budget: a parse stops when either runs out, and the code after it then
// raises `internal limit-hit`.
TEST_F(Parse, RoundsSpendTheStepBudget) {
    struct Budgets {
        Budgets() {
            parse::round_budget = 1000000;
            interpreter::set_step_budget(200);
        }
        ~Budgets() {
            parse::round_budget = 0;
            interpreter::set_step_budget(-1);
        }
    } budgets;
    EXPECT_EQ(eval_error("s: \"ab\" parse s [any [insert \"x\" skip | skip]] if true [1]"), "internal limit-hit");
    EXPECT_EQ(interpreter::steps_left, 0);
    EXPECT_EQ(parse::rule_head, 0);
    EXPECT_EQ(parse::input_head, 0);
    interpreter::set_step_budget(-1);
    EXPECT_EQ(eval_mold("(length? s) < 400"), "true");
    EXPECT_EQ(eval_mold("s: \"ab\" parse s [any [insert \"x\" skip | skip]] (length? s) > 500000"), "true");
}

// to/thru without /case find a literal by either case of its first letter,
// in one-byte text (Latin-1 letters included) and in wider text.
TEST_F(Parse, ToThruFoldingCase) {
    check_table({
        {"parse \"xxTHe end\" [thru \"the\" \" end\"]", "true"},
        {"parse \"xxtHE\" [to \"The\" 3 skip]", "true"},
        {"parse \"tat tHx tHe\" [thru \"THE\"]", "true"},
        {"parse \"ta tb\" [thru \"tc\"]", "false"},
        {"parse/case \"xxTHe\" [thru \"the\"]", "false"},
        {"parse \"\u00e9t\u00e9T\" [thru \"t\u00c9t\"]", "true"},
        {"parse \"@`@\" [thru \"`\" \"@\"]", "true"},
        {"parse \"Z[z\" [to \"z\" skip to \"z\" skip]", "true"},
        {"parse \"\u4e2dxK\" [thru #\"k\"]", "true"},
        {"parse \"ab\" [thru #\"B\"]", "true"},
    });
}

// A repetition or to/thru over one literal (given as it is or by a word of
// the rules) is matched without a frame when no trace callback runs. The
// traced run takes the frame path for every command: both must agree on the
// answer, the position reached, what was copied or kept, and the error.
// In each case "@" stands for the refinement /trace (or nothing) and "$"
// for its callback argument.
TEST_F(Parse, FramelessLiteralsAgreeWithTheFramePath) {
    def("yes", "[event match? rule input stack]", "[true]");
    const char* cases[] = {
        ("blank: make bitset! { } letter: complement make bitset! { ^/} w: 0 l: 0 "
         "reduce [parse@ \"ab cd  e^/^/f\" [any [some blank | some letter (w: w + 1) | #\"^/\" (l: l + 1)]]$ w l]"),
        "reduce [parse@ s: \"aaab\" [some #\"a\" m:]$ index? m]",
        "reduce [parse@ s: \"aaab\" [some #\"a\" m: \"c\"]$ index? m]",
        "reduce [parse@ s: \"AaAb\" [any #\"a\" m: skip]$ index? m]",
        "reduce [parse/case@ s: \"AaAb\" [any #\"a\" m: to end]$ index? m]",
        "reduce [parse@ s: \"bbb\" [some #\"a\" | m: 2 skip m2:]$ index? m index? m2]",
        "reduce [parse@ \"\" [some #\"a\"]$ parse@ \"\" [any #\"a\"]$ parse@ \"\" [opt #\"a\"]$]",
        "reduce [parse@ s: \"aa\" [opt #\"a\" m: skip]$ index? m]",
        "reduce [parse@ s: \"xyxyz\" [some \"xy\" m: #\"z\"]$ index? m]",
        "reduce [parse@ s: \"abc\" [some \"\" m: to end]$ index? m]",
        "reduce [parse@ s: \"abc\" [while \"\" m: to end]$ index? m]",
        "t: to tag! \"b\" reduce [parse@ s: \"<b><b>x\" [some t m: skip]$ index? m]",
        "d: make bitset! \"0123456789\" reduce [parse@ s: \"12a\" [some d m: skip]$ index? m]",
        "d: complement make bitset! \"abc\" reduce [parse@ s: \"\u00e9\u4e2dab\" [some d m: 2 skip]$ index? m]",
        "reduce [parse@ s: #{010102} [some #{01} m: skip]$ index? m]",
        "reduce [parse@ s: #{010102} [some #\"^A\" m: skip]$ index? m]",
        "reduce [parse@ [a a b] [some 'a m: skip]$ index? m]",
        "reduce [parse@ [1 1 2] [some 1 m: skip]$ index? m]",
        "x: 'a reduce [parse@ [a a b] [some x m: skip]$ index? m]",
        "reduce [parse/part@ s: \"aaaa\" [some #\"a\" m:] 2$ index? m]",
        "reduce [parse/part@ s: \"aaaa\" [thru #\"a\" thru #\"a\" m: thru #\"a\"] 2$ index? m]",
        "reduce [parse@ s: \"abcabc\" [thru \"ca\" m: to #\"c\" m2: to end]$ index? m index? m2]",
        "reduce [parse@ s: \"abc\" [to #\"x\" | m: to \"\" m2: to end]$ index? m index? m2]",
        "reduce [parse@ s: \"abc\" [thru \"\" m: to end]$ index? m]",
        "reduce [parse@ s: \"aXbxc\" [thru #\"x\" m: to end]$ index? m]",
        "reduce [parse/case@ s: \"aXbxc\" [thru #\"x\" m: to end]$ index? m]",
        "c: make bitset! \"xy\" reduce [parse@ s: \"abyx\" [to c m: thru c m2: to end]$ index? m index? m2]",
        "reduce [parse@ [1 a 2] [thru 'a m: skip]$ index? m]",
        "reduce [parse@ \"a,b,,c\" [collect [any [keep copy p to #\",\" skip] keep copy p to end]]$]",
        "letter: make bitset! \"abcd\" reduce [parse@ \"ab cd\" [collect [any [keep copy p some letter | skip]]]$]",
        "letter: make bitset! \"abcd\" reduce [parse@ \"ab cd\" [collect [any [keep some letter | skip]]]$]",
        "reduce [parse@ \"aab\" [copy x some #\"a\" set y thru #\"b\"]$ x y]",
        // Words of the rules read afresh at every round, values changed by parens.
        "v: #\"a\" reduce [parse@ \"aabb\" [some [some v (v: #\"b\")]]$ v]",
        "v: #\"a\" reduce [parse@ \"ab\" [thru v (v: #\"b\") thru v]$]",
        // Input and rules changed by a paren between two literal commands.
        "s: \"aab  x\" reduce [parse@ s [some #\"a\" (clear s) some #\" \"]$ s]",
        "s: \"aab  x\" reduce [parse@ s [some #\"a\" (clear s) any #\" \" m:]$ s index? m]",
        "r: [thru #\"b\" (clear r) to #\"x\"] reduce [parse@ \"abx\" r$ r]",
        "r: [some #\"a\" (remove r) some #\"b\"] reduce [parse@ \"aabb\" r$ r]",
        // Rule blocks changed in place by a paren, their length kept or not:
        // the rules after it are read as they now stand.
        "r: [some [#\"a\" (poke r/2 1 #\"b\") | skip]] reduce [parse@ \"aabb\" r$ r]",
        "r: [some [#\"a\" (poke r/2 3 'skip) #\"x\" | skip]] reduce [parse@ \"aab\" r$]",
        "r: [some [(poke r/2 2 make bitset! \"b\") some #\"a\" | skip]] reduce [parse@ s: \"aabb\" r$]",
        "r: [any [#\"a\" (append r/2 [| #\"b\" (n: n + 1)]) | #\"c\"]] n: 0 reduce [parse@ \"aabbc\" r$ n]",
        "r: [any [#\"a\" (clear next r/2) #\"b\" | skip]] reduce [parse@ \"aab\" r$ r]",
        "r: [any [some #\"a\" (r/2: [#\"b\"]) | #\"b\"]] reduce [parse@ \"aabb\" r$ r]",
        "r: [thru #\"a\" (r/3: #\"c\") thru #\"b\"] reduce [parse@ \"xaxbxc\" r$ r]",
        "r: [some [#\"a\" (reverse r/2) | #\"b\"]] reduce [parse@ \"abab\" r$ r]",
        // Repetitions of a block going round again, and parens that replace
        // or move the block being repeated.
        "n: 0 r: [any [#\"a\" (r/2: [#\"b\" (n: n + 1)])]] reduce [parse@ \"abbb\" r$ n]",
        "r: [any [#\"a\" (insert r 'opt)] #\"b\"] reduce [parse@ \"aab\" r$ r]",
        "r: [some [#\"a\" (change back tail r [[#\"c\"]])] to end] reduce [parse@ \"aac\" r$]",
        "reduce [parse@ \"aaaa\" [3 [#\"a\"] m: skip]$ index? m]",
        "reduce [parse@ \"aaaa\" [2 3 [#\"a\"] m: skip]$ index? m]",
        "reduce [parse@ \"aa\" [opt [#\"a\"] m: skip]$ index? m]",
        "reduce [parse@ \"aab\" [some [opt #\"a\"] m: skip]$ index? m]",
        "n: 0 reduce [parse@ \"aab\" [while [#\"a\" (n: n + 1) | #\"b\"] m:]$ index? m n]",
        "reduce [parse@ \"abab\" [some [any [#\"a\"] #\"b\"]]$]",
        "reduce [parse@ \"ab\" [some [#\"a\" | #\"b\" | #\"c\"] m:]$ index? m]",
        "reduce [parse@ \"abx\" [some [#\"a\" | #\"b\"] m: skip]$ index? m]",
        "r: reduce ['some next [x #\"a\"]] reduce [parse@ \"aa\" r$]",
        "s: \"aaab\" reduce [parse@ s [any [#\"a\" (remove s)] #\"b\"]$ s]",
        "s: \"ab\" reduce [parse@ s [any [#\"b\" (append s \"a\") | #\"a\" (if 5 < length? s [clear s])]]$ s]",
        // A parse inside a paren, over the same rules.
        "i: [some #\"a\"] r: [any [#\"b\" (m: parse \"aa\" i) | i]] reduce [parse@ \"aba\" r$ m]",
        // Errors from the rules after the command.
        "parse@ \"aa\" [some]$",
        "parse@ \"aa\" [to]$",
        "parse@ \"aa\" [some undefined-word-xyz]$",
        "parse@ \"aa\" [to 1.5]$",
        "parse@ [a b] [thru 1.5]$",
        "w: 'a parse@ \"aa\" [some w]$",
    };
    expect_traced_agree(cases);
    EXPECT_EQ(eval_mold("blank: make bitset! { } letter: complement make bitset! { ^/} w: 0 "
                        "reduce [parse \"ab cd  e^/^/f\" [any [some blank | some letter (w: w + 1) | #\"^/\"]] w]"),
              "[true 4]");
    EXPECT_EQ(parse::rule_head, 0);
}

// Generated rules mixing keep, copy, skip, searches, repetitions, literals,
// words of literals, nested blocks, alternatives and parens, over text and
// block input: the untraced loop and the traced frame path must answer
// alike (collected values, copied words, errors).
TEST_F(Parse, GeneratedCollectRulesAgreeWithTheFramePath) {
    def("yes", "[event match? rule input stack]", "[true]");
    u32 seed = 12345;
    auto next = [&seed](u32 n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    const char* text_atoms[] = {"skip", "#\"a\"", "\"b\"", "#\",\"", "\" \"", "c", "to #\",\"", "thru \" \"",
                                "any #\"a\"", "some letter", "opt #\"x\"", "to c", "thru c", "end", "to end",
                                "(n: n + 1)", "2 skip", "letter"};
    const char* block_atoms[] = {"skip", "'a", "1", "word!", "to 'b", "thru 2", "any 'a", "some integer!",
                                 "opt 'x", "end", "to end", "(n: n + 1)", "v"};
    std::function<std::string(int, bool)> rule = [&](int depth, bool block) -> std::string {
        std::string out;
        int count = 1 + int(next(3));
        for (int i = 0; i < count; i++) {
            if (i) out += ' ';
            u32 pick = next(depth > 1 ? 8 : 11);
            if (pick < 4) {
                out += block ? block_atoms[next(std::size(block_atoms))] : text_atoms[next(std::size(text_atoms))];
                continue;
            }
            std::string sub = block ? block_atoms[next(std::size(block_atoms))]
                                    : text_atoms[next(std::size(text_atoms))];
            switch (pick) {
                case 4: out += "keep " + sub; break;
                case 5: out += "keep copy w " + sub; break;
                case 6: out += "copy v " + sub; break;
                case 7: out += "keep pick " + sub; break;
                case 8: out += "[" + rule(depth + 1, block) + " | " + rule(depth + 1, block) + "]"; break;
                case 9: out += "any [" + rule(depth + 1, block) + "]"; break;
                default: out += "keep copy w [" + rule(depth + 1, block) + "]"; break;
            }
        }
        return out;
    };
    const int count = collector::STRESS ? 60 : 300;
    for (int i = 0; i < count; i++) {
        bool block = i % 3 == 2;
        std::string body = rule(0, block);
        std::string input = block ? "[a a 1 2 b x 3]" : (i % 3 ? "\"ab, cd,e f,,\"" : "\"aXa ,b\"");
        std::string code = "n: 0 w: v: none c: #\",\" letter: make bitset! \"abcdef\" reduce [parse@ " + input +
                           " [collect [any [" + body + " | skip]]]$ w v n]";
        const char* cases[] = {code.c_str()};
        expect_traced_agree(cases);

    }
    EXPECT_EQ(parse::rule_head, 0);
}

// to/thru over one ASCII character in one-byte text scan bytes; the same
// input made wide (a wide character past the part parsed) and the rule made
// wide take the general search. Every place found must agree, with and
// without /case, at the ends of the input and past a shortened part.
TEST_F(Parse, OneCharacterSearchAgreesWithWideText) {
    const char* inputs[] = {"\"aXbxc\"", "\"xx\"", "\"\"", "\"abc\"", "\"a b,c \"", "\"Z[z@`{\"", "\"\u00e9x\u00c9X\""};
    const char* rules[] = {"#\"x\"", "#\"X\"", "\"x\"", "\"X\"", "#\" \"", "\",\"", "#\"[\"", "\"`\"", "#\"@\"", "\"z\""};
    const char* forms[] = {"parse%s s [any [to r m: (append ms index? m) skip]]%s",
                           "parse%s s [any [thru r m: (append ms index? m)]]%s",
                           "parse%s next s [to r m: (append ms index? m) to end]%s"};
    for (const char* in : inputs) {
        for (const char* rule : rules) {
            for (const char* form : forms) {
                for (const char* refinement : {"", "/case"}) {
                    std::string narrow_ref = refinement, wide_ref = std::string(refinement) + "/part";
                    char narrow[200], wide[200];
                    std::snprintf(narrow, sizeof narrow, form, narrow_ref.c_str(), "");
                    std::snprintf(wide, sizeof wide, form, wide_ref.c_str(), " n");
                    std::string setup = std::string("ms: copy [] s: ") + in + " n: length? s r: " + rule + " ";
                    std::string a = setup + narrow + " ms";
                    // The input widened past the part, and the rule a wide one-character string.
                    std::string b = setup + "append s \"\u20ac\" " + wide + " ms";
                    std::string c = setup + "if string! = type? r [r: back tail append copy \"\u20ac\" r] " + narrow + " ms";
                    SCOPED_TRACE(a);
                    std::string expected = eval_mold(a.c_str());
                    EXPECT_EQ(expected, eval_mold(b.c_str()));
                    EXPECT_EQ(expected, eval_mold(c.c_str()));
                }
            }
        }
    }
    check_table({
        {"ms: copy [] parse \"aXbxc\" [any [to #\"x\" m: (append ms index? m) skip]] ms", "[2 4]"},
        {"ms: copy [] parse/case \"aXbxc\" [any [to \"x\" m: (append ms index? m) skip]] ms", "[4]"},
        {"parse \"ab\" [to \"b\" \"b\"]", "true"},
    });
}

// keep and copy over a literal, a word of one, skip or a search or
// repetition of one are run by the untraced loop (their frames held in place
// when no user code can run at their end): they must agree with the frame
// path of the traced run on what is kept, copied and answered, on errors, and
// under parens, change handlers and targets that change the input, the rules
// or the collection.
TEST_F(Parse, KeepAndCopyAgreeWithTheFramePath) {
    def("yes", "[event match? rule input stack]", "[true]");
    const char* cases[] = {
        "reduce [parse@ \"a b  c \" [collect [any [keep copy w to \" \" \" \"] keep copy w to end]]$ w]",
        "reduce [parse@ \"ab\" [collect [keep skip keep skip keep skip]]$]",
        "reduce [parse@ \"abc\" [collect [keep to #\"c\" keep copy x skip]]$ x]",
        "reduce [parse@ \"aab\" [collect [keep some #\"a\" keep #\"b\"]]$]",
        "reduce [parse@ \"aab\" [collect [keep copy x any #\"a\" keep copy y opt #\"b\" keep copy z opt #\"b\"]]$ x y z]",
        "reduce [parse@ \"ab\" [copy x skip copy y #\"b\" copy z opt #\"c\"]$ x y z]",
        "x: 0 reduce [parse@ \"ab\" [collect [keep copy x #\"x\" | keep copy y thru #\"b\"]]$ x y]",
        "t: \"b\" reduce [parse@ \"abab\" [collect [some [keep copy x t | keep copy y skip]]]$ x y]",
        "reduce [parse/case@ \"aAbB\" [collect [keep copy x thru #\"A\" keep copy y to #\"B\"]]$ x y]",
        "reduce [parse/part@ \"abcd\" [collect [keep copy x to #\"d\"]] 2$ x]",
        // A keep of a literal after a copy that ended at the same depth
        // before it keeps what it matched itself.
        "reduce [parse@ \"ab\" [collect [[copy w #\"a\"] keep #\"b\"]]$]",
        "reduce [parse@ \"abc\" [collect [[copy w #\"a\"] keep [copy v #\"b\"] keep skip]]$]",
        "reduce [parse@ \"ab\" [collect [copy w #\"a\" keep #\"b\"]]$]",
        // Other inputs.
        "reduce [parse@ [a b c] [collect [keep copy b skip keep to end]]$ b]",
        "reduce [parse@ [a b c] [collect [keep copy b thru 'b keep skip]]$ b]",
        "reduce [parse@ #{010203} [collect [keep copy b thru #{02} keep skip]]$ b]",
        "reduce [parse@ %a/b/c [collect [any [keep copy p to #\"/\" skip] keep copy p to end]]$]",
        "reduce [parse@ next \"xa,b\" [collect [any [keep copy p to #\",\" skip] keep copy p to end]]$]",
        // The forms the states take.
        "reduce [parse@ \"abc\" [collect [keep pick to #\"c\" skip]]$]",
        "reduce [parse@ \"abc\" [collect [keep (1 + 2) skip keep copy x skip]]$ x]",
        "reduce [parse@ \"ab\" [collect [keep copy x [#\"a\"] keep copy y [skip]]]$ x y]",
        "b: copy [z] reduce [parse@ \"ab\" [collect into b [keep copy x skip keep skip]]$ b]",
        "b: copy [z] reduce [parse@ \"ab\" [collect after b [keep copy x skip keep skip]]$ b]",
        "reduce [parse@ \"ab\" [collect set c [keep copy x skip keep skip]]$ c]",
        "reduce [parse@ \"ab\" [collect [keep copy x skip collect [keep copy y skip]]]$]",
        "w: 'a reduce [parse@ [a b] [collect [keep w]]$]",
        "parse@ \"ab\" [keep skip]$",
        "parse@ \"ab\" [copy x]$",
        "parse@ \"ab\" [collect [keep]]$",
        "parse@ \"ab\" [collect [keep copy x]]$",
        "parse@ \"ab\" [copy 1 skip]$",
        "parse@ \"ab\" [collect [keep copy x to 1.5]]$",
        "parse@ \"ab\" [collect [keep copy x undefined-word-xyz]]$",
        // Parens that change the input, the rules or the collection.
        "s: \"a b c\" reduce [parse@ s [collect [any [keep copy w to \" \" (clear s) skip] keep copy w to end]]$ s w]",
        "s: \"a b c\" reduce [parse@ s [collect [any [keep copy w to \" \" (remove s) skip] keep copy w to end]]$ s]",
        "r: [collect [any [keep copy w to #\" \" (clear r/2/2) skip] keep to end]] reduce [parse@ \"a b c\" r$ r]",
        "r: [collect [any [keep copy w to #\" \" (poke r/2/2 3 'v) skip] keep to end]] reduce [parse@ \"a b c\" r$ r]",
        "b: copy [] reduce [parse@ \"a b c\" [collect into b [any [keep copy w to \" \" (clear b) skip]]]$ b]",
        "b: copy [] reduce [parse@ \"a b c\" [collect after b [any [keep copy w to \" \" (append b 'x) skip]]]$ b]",
        "reduce [parse@ \"a b c\" [collect [any [keep copy w to \" \" (w: 1 recycle) skip]]]$ w]",
        // Words of a running function (split's way), and of one that has returned.
        ("f: func [s /local w] [reduce [parse@ s [collect [any [keep copy w to \" \" (recycle) skip] "
         "keep copy w to end]]$ w]] f \"ab cd e\""),
        "f: func [/local w] [[collect [keep copy w skip]]] r: f parse@ \"ab\" r$",
        "f: func [/local w] [[copy w skip]] r: f parse@ \"ab\" r$",
        // Words of an object whose change handler clears the input or the rules.
        ("s: \"a b c\" o: make object! [w: none on-change*: func [word old new] [clear s]] "
         "r: bind [collect [any [keep copy w to \" \" skip] keep copy w to end]] o reduce [parse@ s r$ s o/w]"),
        ("s: \"a b c\" r: none o: make object! [w: none on-change*: func [word old new] [clear r]] "
         "r: bind [collect [any [keep copy w to \" \" skip] keep copy w to end]] o reduce [parse@ s r$ r o/w]"),
        ("s: \"a b c\" r: none o: make object! [w: none on-change*: func [word old new] [clear r/2/2]] "
         "r: bind [collect [any [keep copy w to \" \" skip] keep copy w to end]] o reduce [parse@ s r$ r o/w]"),
    };
    expect_traced_agree(cases);
    EXPECT_EQ(eval_mold("parse \"ab\" [collect [[copy w #\"a\"] keep #\"b\"]]"), "[#\"b\"]");
    EXPECT_EQ(eval_mold("parse \"a b  c \" [collect [any [keep copy w to \" \" \" \"] keep copy w to end]]"),
              "[\"a\" \"b\" \"\" \"c\" \"\"]");
    EXPECT_EQ(parse::rule_head, 0);
}

// A command matched without a frame still counts the frame it would have
// opened against the stack limit.
TEST_F(Parse, FramelessCommandsKeepTheStackLimit) {
    struct Arg {
        std::string plain, some, to;
        std::vector<std::string> held;
    } arg;
    on_big_stack(
        [](void* p) {
            auto* a = static_cast<Arg*>(p);
            auto nested = [](int depth, const char* rule) {
                std::string code = "parse \"a\" ";
                for (int i = 0; i < depth; i++) code += '[';
                code += rule;
                for (int i = 0; i < depth; i++) code += ']';
                return code;
            };
            // 3333 nested blocks fill the rule stack to one frame below its
            // limit: a literal fits, a command's frame does not.
            a->plain = eval_mold(nested(3333, "\"a\"").c_str()) + " " + eval_error(nested(3334, "\"a\"").c_str());
            a->some = eval_mold(nested(3332, "some \"a\"").c_str()) + " " + eval_error(nested(3333, "some \"a\"").c_str());
            a->to = eval_mold(nested(3332, "thru \"a\"").c_str()) + " " + eval_error(nested(3333, "thru \"a\"").c_str());
            // keep copy over skip holds its two frames in place: with the
            // collect's frame and its block's, 3329 blocks fit and 3330 do
            // not, as for keep copy over [skip] (which opens them, and a
            // block frame) 3328 and 3329.
            for (int d : {3329, 3330}) {
                std::string code = nested(d, "collect [keep copy x skip]"), error = eval_error(code.c_str());
                a->held.push_back(error.empty() ? eval_mold(code.c_str()) : error);
            }
        },
        &arg);
    EXPECT_EQ(arg.held, (std::vector<std::string>{"[\"a\"]", "script parse-stack"}));
    EXPECT_EQ(arg.plain, "true script parse-stack");
    EXPECT_EQ(arg.some, "true script parse-stack");
    EXPECT_EQ(arg.to, "true script parse-stack");
    EXPECT_EQ(parse::rule_head, 0);
}

// Rounds of a repetition of a block go on back to back, each rule of the
// block found out once for all of them (its literal, a word's value
// included, the form of a keep or copy, the byte a search scans for). They
// must agree with the traced frame path when a copy sets the very word a
// search of the block reads (by its name, a case twin, or an object's
// field), when a change handler changes that word, the input or the rules,
// or parses the same rules again, when a round fails or hands a rule to the
// states, and over other inputs and limits.
TEST_F(Parse, RoundsRunBackToBackAgreeWithTheFramePath) {
    def("yes", "[event match? rule input stack]", "[true]");
    const char* cases[] = {
        "reduce [parse@ \"a b  c d\" [collect [any [keep copy w to \" \" skip] keep copy w to end]]$ w]",
        "reduce [parse@ \"a,b,,c,\" [collect [any [keep copy w thru #\",\"]]]$ w]",
        "reduce [parse@ \"aXbxcX\" [collect [any [keep copy w to #\"x\" skip]]]$]",
        "reduce [parse/case@ \"aXbxcX\" [collect [any [keep copy w to #\"x\" skip]]]$]",
        "reduce [parse@ \"a\u20acb c d\" [collect [any [keep copy w to \" \" skip]]]$]",
        "reduce [parse@ %a/b/c/ [collect [any [keep copy w to #\"/\" skip]]]$]",
        "reduce [parse/part@ \"a b c d\" [collect [any [keep copy w to \" \" skip]]] 5$]",
        "reduce [parse@ [a b c b d b] [collect [any [keep copy w to 'b skip]]]$ w]",
        "reduce [parse@ \"ab ab a\" [collect [some [keep \"a\" keep copy w skip skip]]]$ w]",
        "reduce [parse@ \"aaa b\" [collect [any [keep any #\"a\" copy w opt #\" \"]]]$ w]",
        // A copy setting the word a search of the block reads.
        "d: \" \" reduce [parse@ \"ab ab ab ab\" [collect [any [keep copy d to d skip]]]$ d]",
        "d: \" \" reduce [parse@ \"ab ab ab ab\" [collect [any [keep copy D to d skip]]]$ d]",
        "d: \" \" reduce [parse@ \"ab ab\" [any [copy x to d skip copy d skip]]$ d x]",
        "o: make object! [d: \" \"] reduce [parse@ \"ab ab ab ab\" bind [collect [any [keep copy d to d skip]]] o$ o/d]",
        // Change handlers changing the delimiter, the input, the rules, or
        // parsing the same rules again.
        ("d: \" \" o: make object! [w: none on-change*: func [word old new] [d: \",\"]] "
         "reduce [parse@ \"a b,c d,e\" bind [collect [any [keep copy w to d skip] keep copy w to end]] o$ d]"),
        ("d: \" \" o: make object! [w: none on-change*: func [word old new] [d: either d = \" \" [\",\"] [\" \"]]] "
         "reduce [parse@ \"a b,c d,e f\" bind [collect [any [keep copy w to d skip] keep copy w to end]] o$ d]"),
        ("s: \"a b c d\" o: make object! [w: none on-change*: func [word old new] [if 3 < length? s [remove s]]] "
         "reduce [parse@ s bind [collect [any [keep copy w to \" \" skip]]] o$ s]"),
        ("r: none o: make object! [w: none on-change*: func [word old new] [if 2 < length? r/2/2 [take/last r/2/2]]] "
         "r: bind [collect [any [keep copy w to \" \" skip]]] o reduce [parse@ \"a b c d\" r$ r]"),
        ("busy: false r: none o: make object! [w: none on-change*: func [word old new] "
         "[unless busy [busy: true x: parse \"p q\" r busy: false]]] "
         "r: bind [collect [any [keep copy w to \" \" skip] keep copy w to end]] o reduce [parse@ \"a b c\" r$ x]"),
        // Rounds that fail, end at a bar, or hand a rule to the states.
        "reduce [parse@ \"a,b;c\" [collect [any [keep copy w to #\",\" skip | keep copy w to #\";\" skip]]]$ w]",
        "reduce [parse@ \"ab\" [any [| skip]]$]",
        "reduce [parse@ \"a,b\" [collect [any [keep copy w to #\",\" skip | skip]] m:]$ index? m]",
        "n: 0 reduce [parse@ \"a b c \" [collect [any [keep copy w to \" \" (n: n + 1) skip]]]$ n]",
        "reduce [parse@ \"a b c \" [collect [any [keep copy w to \" \" [skip]]]]$]",
        "reduce [parse@ \"a b c \" [collect [any [keep copy w to \" \" set x skip]]]$ x]",
        "r2: [skip] reduce [parse@ \"a b c \" [collect [any [keep copy w to \" \" r2]]]$]",
        "reduce [parse@ \"a b c \" [collect [while [keep copy w to \" \" skip]]]$]",
        "reduce [parse@ \"a b c \" [collect [3 [keep copy w to \" \" skip]]]$]",
        "reduce [parse@ \"a b c \" [collect [2 [keep copy w to \" \" skip]] to end]$]",
        "t: \"a b\" reduce [parse@ \"a b a b\" [collect [any [keep t skip]]]$]",
        // Parens run by the rounds: the block grown past what is decoded,
        // parsed again from inside, its word of a literal changed.
        "b: [#\"a\" (if 20 > length? b [append/dup b 'skip 30]) | skip] reduce [parse@ \"aabxa\" [any b]$ length? b]",
        ("busy: false n: 0 r: [any [#\"a\" (n: n + 1 if not busy [busy: true parse \"aa\" r busy: false]) | skip]] "
         "reduce [parse@ \"abab\" r$ n]"),
        "v: #\"a\" reduce [parse@ \"aabbb\" [any [some v (v: #\"b\") | skip]]$ v]",
        "n: 0 reduce [parse@ \"ab ab\" [any [some #\" \" | some #\"a\" (n: n + 1) | #\"b\"]]$ n]",
        // A paren of a later round replacing the block being repeated, or
        // making it longer.
        "n: 0 r: [any [#\"a\" (if n = 1 [r/2: [#\"b\"]] n: n + 1)] m:] reduce [parse@ \"aabbb\" r$ index? m n]",
        "n: 0 r: [any [#\"a\" (n: n + 1 if n = 2 [append r/2 #\"x\"])] m:] reduce [parse@ \"aaxaxb\" r$ index? m n]",
    };
    expect_traced_agree(cases);
    EXPECT_EQ(parse::rule_head, 0);
}

// The rounds run back to back count the frames their rules would open
// against the stack limit as the frame path does: around the depth where
// the limit is reached, each depth answers alike traced and untraced.
TEST_F(Parse, RoundsKeepTheStackLimit) {
    // Each collection marks the thousands of nested rule blocks: under the
    // stress build, one every 61 allocations rather than at each (which took
    // over a minute), still many collections inside every deep parse.
    if (collector::stress_period == 1) collector::stress_period = 61;
    struct Arg {
        std::vector<std::string> plain, traced;
    } arg;
    on_big_stack(
        [](void* p) {
            auto* a = static_cast<Arg*>(p);
            def("yes", "[event match? rule input stack]", "[true]");
            for (int depth = 3325; depth <= 3330; depth++) {
                std::string open(size_t(depth), '['), close(size_t(depth), ']');
                std::string rules = open + "collect [any [keep copy x to \" \" skip]]" + close;
                std::string plain = "parse \"a b \" " + rules, traced = "parse/trace \"a b \" " + rules + " :yes";
                for (auto [code, out] : {std::pair{&plain, &a->plain}, std::pair{&traced, &a->traced}}) {
                    std::string error = eval_error(code->c_str());
                    out->push_back(error.empty() ? eval_mold(code->c_str()) : error);
                }
            }
        },
        &arg);
    EXPECT_EQ(arg.plain, arg.traced);
    ASSERT_FALSE(arg.plain.empty());
    EXPECT_EQ(arg.plain.front(), "[\"a\" \"b\"]");
    EXPECT_EQ(arg.plain.back(), "script parse-stack");
    EXPECT_EQ(parse::rule_head, 0);
}

}  // namespace
}  // namespace zir
