// The set-operation natives and the text-encoding natives through the
// interpreter: the type agreement of the sets, the operations of each
// datatype, the skip sizes, the percent and base codings, and set operations
// on series that a change handler empties meanwhile.
#include "eval_support.hpp"
#include <gtest/gtest.h>


namespace zir {
namespace {

using namespace test;

struct SetNatives : EvalTest {};

struct Case {
    const char* code;
    const char* expected;
};

TEST_F(SetNatives, OperationsOfEachDatatype) {
    for (const Case& c : std::vector<Case>{
             {"union [a b c] [b d a e]", "[a b c d e]"},
             {"intersect [a b c] [c b x]", "[b c]"},
             {"unique [a b a c b]", "[a b c]"},
             {"difference [a b c] [b d]", "[a c d]"},
             {"exclude [a b c] [b d]", "[a c]"},
             {"union [a b] make hash! [b c]", "make hash! [a b c]"},
             {"union make hash! [a] [a b]", "make hash! [a b]"},
             {"unique make hash! [a a]", "make hash! [a]"},
             {"union \"abc\" \"bCd\"", "\"abcd\""},
             {"union/case \"abc\" \"bCd\"", "\"abcCd\""},
             {"unique \"aAbB\"", "\"ab\""},
             {"unique/case \"aAbB\"", "\"aAbB\""},
             {"exclude \"abc\" \"b\"", "\"ac\""},
             {"union/skip [a 1 b 2] [a 3 c 4] 2", "[a 1 b 2 c 4]"},
             {"unique/skip [a 1 a 1 b 2] 2", "[a 1 b 2]"},
             {"union make bitset! \"ab\" make bitset! \"bc\"", "make bitset! #{00000000000000000000000070}"},
             {"exclude make bitset! \"ab\" make bitset! \"b\"", "make bitset! #{00000000000000000000000040}"},
             {"exclude make typeset! [integer! float! string!] make typeset! [float!]",
              "make typeset! [string! integer!]"},
             {"intersect make typeset! [integer! float!] make typeset! [float! block!]", "make typeset! [float!]"},
             {"difference make typeset! [integer! float!] make typeset! [float! block!]",
              "make typeset! [block! integer!]"},
             {"difference 2-Jan-2020 1-Jan-2020", "24:00:00"},
             {"difference 1-Jan-2020/6:00 2-Jan-2020/1:30", "-19:30:00"},
         })
        EXPECT_EQ(eval_mold(c.code), c.expected) << c.code;
}

TEST_F(SetNatives, ArgumentErrors) {
    for (const Case& c : std::vector<Case>{
             {"union \"ab\" [a]", "script expect-val"},
             {"union [a] \"ab\"", "script expect-val"},
             {"intersect make bitset! \"a\" \"a\"", "script expect-val"},
             {"union 1-Jan-2020 2-Jan-2020", "script expect-arg"},
             {"unique make bitset! \"a\"", "script expect-arg"},
             {"union/skip [a b] [c d] 0", "script invalid-refine-arg"},
             {"unique/skip [a b] -1", "script invalid-refine-arg"},
             {"exclude/skip \"ab\" \"a\" 0", "script invalid-refine-arg"},
         })
        EXPECT_EQ(eval_error(c.code), c.expected) << c.code;
    EXPECT_NE(eval_report("union \"ab\" [a]").find("expected string! not block!"), std::string::npos)
        << eval_report("union \"ab\" [a]");
    EXPECT_NE(eval_report("union/skip [a] [b] 0").find("invalid skip argument: 0"), std::string::npos);
}

// The sets are read before anything of the result is built, and the result is
// a new series: the arguments are left as they were.
TEST_F(SetNatives, ArgumentsAreNotChanged) {
    EXPECT_EQ(eval_mold("a: [x y x] b: [y z] c: union a b"), "[x y z]");
    EXPECT_EQ(global_mold("a"), "[x y x]");
    EXPECT_EQ(global_mold("b"), "[y z]");
}

TEST_F(SetNatives, PercentCoding) {
    for (const Case& c : std::vector<Case>{
             {"enhex \"a b/c\"", "\"a%20b%2Fc\""},
             {"enhex %\"a b/c\"", "\"a%20b/c\""},
             {"enhex \"é\"", "\"%C3%A9\""},
             {"enhex \"-._~AZaz09\"", "\"-._~AZaz09\""},
             {"enhex http://x.org/a?b=c&d", "\"http://x.org/a?b=c&d\""},
             {"dehex \"%C3%A9\"", "\"é\""},
             {"dehex \"100%\"", "\"100%\""},
             {"dehex \"%zz\"", "\"%zz\""},
             {"dehex \"a%20b%2fc\"", "\"a b/c\""},
             {"dehex next \"x%41\"", "\"A\""},
             {"enhex next \"a b\"", "\"%20b\""},
         })
        EXPECT_EQ(eval_mold(c.code), c.expected) << c.code;
}

TEST_F(SetNatives, BaseCoding) {
    for (const Case& c : std::vector<Case>{
             {"enbase #{010203}", "\"AQID\""},
             {"enbase/base #{0F} 16", "\"0F\""},
             {"enbase/base #{0F} 2", "\"00001111\""},
             {"enbase/base #{000102} 58", "\"15T\""},
             {"enbase \"é\"", "\"w6k=\""},
             {"enbase/base \"é\" 16", "\"C3A9\""},
             {"debase \"AQID\"", "#{010203}"},
             {"debase/base \"0f\" 16", "#{0F}"},
             {"debase/base \"00001111\" 2", "#{0F}"},
             {"debase/base \"15T\" 58", "#{000102}"},
             {"debase \"A*ID\"", "none"},
             {"debase/base \"0G\" 16", "none"},
             {"debase/base \"012\" 2", "none"},
             {"debase/base \"0l\" 58", "none"},
             {"debase next \"xAQID\"", "#{010203}"},
         })
        EXPECT_EQ(eval_mold(c.code), c.expected) << c.code;
    for (const char* code : {"debase/base \"0102\" 10", "enbase/base #{01} 8", "enbase/base #{01} 0"})
        EXPECT_EQ(eval_error(code), "script invalid-arg") << code;
}

// enhex writes up to 12 characters per character of its input (a 4-byte
// character escaped byte by byte): a long text must not outgrow the string
// made for the result.
TEST_F(SetNatives, EnhexOfLongWideText) {
    std::string text = "enhex \"";
    for (int i = 0; i < 3000; i++) text += "\xF0\x9F\x98\x80" "é";
    text += "\"";
    std::string out = eval_mold(text.c_str());
    ASSERT_EQ(out.size(), size_t(3000 * 18 + 2));
    EXPECT_EQ(out.substr(1, 18), "%F0%9F%98%80%C3%A9");
    std::string back = "(dehex " + text.substr(0, text.size()) + ") = " + text.substr(6);
    EXPECT_EQ(eval_mold(back.c_str()), "true");
}

// A change handler that empties the hash! given as a set, run while the
// arguments are gathered: the operation works on what the series holds when
// it runs, and the emptied hash's index answers for the empty hash.
TEST_F(SetNatives, SetsChangedByHandlers) {
    def("zz-clear-h", "[word old new]", "[clear h]");
    eval_mold("h: make hash! [a b c] o: make object! [s: 0 on-change*: :zz-clear-h]");
    EXPECT_EQ(eval_mold("union h (o/s: 1 [d a])"), "make hash! [d a]");
    EXPECT_EQ(eval_mold("length? h"), "0");
    eval_mold("h: make hash! [a b c]");
    EXPECT_EQ(eval_mold("intersect [c a] (o/s: 2 h)"), "make hash! []");
    eval_mold("h: make hash! [a b c]");
    EXPECT_EQ(eval_mold("exclude h (o/s: 3 append h [x b y] [b])"), "make hash! [x y]");
    eval_mold("h: make hash! [a b c]");
    EXPECT_EQ(eval_mold("difference (o/s: 4 append h [b x] h) [b]"), "make hash! [x]");
}

}  // namespace
}  // namespace zir
