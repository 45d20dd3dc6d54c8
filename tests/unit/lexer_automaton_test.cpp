// The lexer's automaton on its own: the byte classes and their flags, and the
// token each rule of the grammar cuts, with the final state it reaches.
#include <random>
#include <string>
#include <vector>

#include "loader/lexer.hpp"
#include "support.hpp"

namespace zir {
namespace {

using namespace lexer;

struct ClassRow {
    std::vector<int> bytes;
    u32 cls;
    u32 flag;
};

std::vector<int> range(int from, int to) {
    std::vector<int> v;
    for (int b = from; b <= to; b++) v.push_back(b);
    return v;
}

std::vector<int> chars(const char* s) {
    std::vector<int> v;
    for (; *s; s++) v.push_back(u8(*s));
    return v;
}

TEST(LexerClasses, EveryByteHasItsClassAndFlag) {
    std::vector<ClassRow> rows = {
        {{'\t', '\r', ' '}, CLASS_BLANK, 0}, {{'\n'}, CLASS_LF, 0}, {range('1', '9'), CLASS_DIGIT, 0},
        {{'0'}, CLASS_ZERO, 0}, {{'['}, CLASS_LBRACKET, 0}, {{']'}, CLASS_RBRACKET, 0},
        {{'('}, CLASS_LPAREN, 0}, {{')'}, CLASS_RPAREN, 0}, {{'{'}, CLASS_LBRACE, 0},
        {{'}'}, CLASS_RBRACE, 0}, {{'"'}, CLASS_DQUOTE, 0}, {{'#'}, CLASS_HASH, FLAG_HASH},
        {{'\''}, CLASS_QUOTE, FLAG_QUOTE}, {{':'}, CLASS_COLON, FLAG_COLON}, {{'x', 'X'}, CLASS_X, 0},
        {{'T'}, CLASS_T, 0}, {{'h'}, CLASS_H, 0}, {{'e'}, CLASS_E_LOW, FLAG_EXPONENT},
        {{'E'}, CLASS_E_UP, FLAG_EXPONENT}, {chars("abcdf"), CLASS_HEX_LOW, 0}, {chars("ABCDF"), CLASS_HEX_UP, 0},
        {{'/'}, CLASS_SLASH, 0}, {{'\\'}, CLASS_BACKSLASH, 0}, {{'<'}, CLASS_LT, FLAG_LT},
        {{'>'}, CLASS_GT, FLAG_GT}, {{'='}, CLASS_EQUAL, 0}, {{'%'}, CLASS_PERCENT, FLAG_PERCENT},
        {{','}, CLASS_COMMA, FLAG_COMMA}, {{';'}, CLASS_SEMICOLON, 0}, {{'@'}, CLASS_AT, 0},
        {{'.'}, CLASS_DOT, FLAG_DOT}, {{'$'}, CLASS_DOLLAR, 0}, {{'+'}, CLASS_PLUS, FLAG_SIGN},
        {{'-'}, CLASS_MINUS, FLAG_SIGN}, {{'^'}, CLASS_CARET, FLAG_CARET},
        {{1, 2, 3, 4, 5, 6, 7, 8, 0x0B, 0x0C, 0x0E, 0x0F, 0x10, 0x1F}, CLASS_CONTROL, 0},
        {range(0x7F, 0xBF), CLASS_CONT, 0},
        {chars("!&*?GHIJKLMNOPQRSUVWYZ_`gijklmnopqrstuvwyz|~"), CLASS_WORDCH, 0},
        {range(0xC2, 0xEF), CLASS_WORDCH, FLAG_LEAD2}, {range(0xF0, 0xF7), CLASS_WORDCH, FLAG_LEAD4},
        {{0xC0, 0xC1, 0xF8, 0xFC, 0xFF}, CLASS_INVALID, 0}, {{0}, CLASS_END, FLAG_NUL},
    };
    int seen = 0;
    for (const ClassRow& r : rows) {
        for (int b : r.bytes) {
            if (b == 'H') continue;   // "H" is a word character; "h" has its own class
            EXPECT_EQ(classes[b] & 0xFF, r.cls) << "byte " << b;
            EXPECT_EQ(classes[b] & ~0xFFu, r.flag) << "byte " << b;
            seen++;
        }
    }
    EXPECT_GT(seen, 200);
}

TEST(LexerClasses, StatesReportTheirDatatypeForErrors) {
    // The datatype of every state, as an error met in it reports.
    const u8 expected[65] = {0,  0,  7,  7,  7,  7,  8,  8,  8,  8,  7,  7,  7,  15, 19, 15, 20, 41, 0,  10, 10, 0,
                             20, 11, 12, 12, 12, 12, 12, 39, 47, 43, 43, 37, 37, 51, 49, 49, 49, 0,  11, 15, 11, 44,
                             44, 44, 44, 15, 15, 15, 12, 15, 15, 16, 15, 9,  45, 50, 15, 25, 11, 15, 15, 20, 15};
    for (int s = 0; s < 65; s++) EXPECT_EQ(lexer::type_table[s], expected[s]) << "state " << s;
    EXPECT_EQ(skip_table[0], 1);
    for (int s = 1; s < 102; s++) EXPECT_EQ(skip_table[s], 0) << "state " << s;
}

// The automaton run the plain way, one class lookup and one transition per
// byte, counting the filler as it goes: what the lexer's folded byte table,
// its filler skip and its runs of a state looping on itself must reproduce.
Token reference_token(const u8* p, const u8* end, u32 state) {
    u32 prev = state, flags = 0;
    i64 skip = 0;
    i32 lines = 0, lead = 0;
    const u8* start = p;
    while (p < end) {
        u32 entry = classes[*p];
        flags |= entry;
        u32 c = entry & 0xFF;
        prev = state;
        state = transitions[state * CLASS_COUNT + c];
        skip += skip_table[state];
        if (state >= FIRST_FINAL) break;
        lines += line_table[c];
        lead += line_table[c] & skip_table[state];
        p++;
    }
    if (state < FIRST_FINAL) {
        prev = state;
        state = transitions[state * CLASS_COUNT + CLASS_END];
    }
    return Token{start + skip, p, state, prev, flags & ~0xFFu, lines, lead};
}

TEST(LexerAutomaton, TheByteWalkAgreesWithThePlainOne) {
    // Random texts over the bytes that matter to the grammar (and a few of
    // every other kind), from every state a token may start in.
    const std::string alphabet = std::string(" \t\r\n\x01\x00", 6) +
                                 "0123456789[](){}\"#':xXThHeEaAfF/\\<>=%,;@.$+-^_zZ!~\x7F\x80\xBF\xC3\xA9\xF0\xC0\xFF";
    std::mt19937 rng(11);
    int compared = 0;
    for (u32 start_state : {u32(S_START), u32(S_BRACE_BODY), u32(S_POINT_BODY), u32(S_PATH_COMPONENT)}) {
        for (int i = 0; i < 20000; i++) {
            std::string text;
            int n = int(rng() % 24);
            for (int k = 0; k < n; k++) text += alphabet[rng() % alphabet.size()];
            const u8* p = reinterpret_cast<const u8*>(text.data());
            const u8* end = p + text.size();
            // Every token of the text, each from where the one before ended.
            for (const u8* at = p; at <= end; compared++) {
                Token want = reference_token(at, end, start_state);
                Token got = scan_token(at, end, start_state);
                ASSERT_EQ(got.start, want.start) << text;
                ASSERT_EQ(got.end, want.end) << text;
                ASSERT_EQ(got.final_state, want.final_state) << text;
                ASSERT_EQ(got.exit_state, want.exit_state) << text;
                ASSERT_EQ(got.flags, want.flags) << text;
                ASSERT_EQ(got.lines, want.lines) << text;
                ASSERT_EQ(got.lead_lines, want.lead_lines) << text;
                if (want.end >= end) break;
                at = want.end + 1;
            }
        }
    }
    EXPECT_GT(compared, 100000);
}

// The folded table the byte walk reads is generated with the others: every
// state and byte, the class table composed with the transitions.
TEST(LexerAutomaton, TheFoldedTableIsTheClassesThroughTheTransitions) {
    for (u32 state = 0; state < STATE_COUNT; state++)
        for (u32 b = 0; b < 256; b++)
            ASSERT_EQ(byte_next[state][b], transitions[state * CLASS_COUNT + (classes[b] & 0xFF)])
                << "state " << state << " byte " << b;
    for (u32 b = 0; b < 256; b++) EXPECT_EQ(start_filler[b], byte_next[S_START][b] == S_START) << "byte " << b;
}

struct TokenCase {
    u32 state;
    std::string source;
    u32 final_state;
    std::string token;   // the bytes from the token's start to where it ended
};

void expect_tokens(const std::vector<TokenCase>& cases) {
    for (const TokenCase& c : cases) {
        const u8* p = reinterpret_cast<const u8*>(c.source.data());
        Token t = scan_token(p, p + c.source.size(), c.state);
        EXPECT_EQ(t.final_state, c.final_state) << "\"" << c.source << "\" from state " << c.state;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.start), size_t(t.end - t.start)), c.token)
            << "\"" << c.source << "\"";
    }
}

TEST(LexerAutomaton, FillerAndTheEnd) {
    expect_tokens({
        {0, " \t\r\n\x01\x1F" "a", F_WORD, "a"},
        {0, "", F_EOF, ""},
        {0, "   ", F_EOF, ""},
        {0, std::string("\0a", 2), F_EOF, ""},
        {0, std::string("ab\0cd", 5), F_WORD, "ab"},
        {0, "}", F_ERROR, ""},
        {0, "\\", F_ERROR, ""},
        {0, "\x80", F_ERROR, ""},
        {0, "\xC0", F_ERROR, ""},
    });
    const char* text = "\n\n x";
    Token t = scan_token(reinterpret_cast<const u8*>(text), reinterpret_cast<const u8*>(text) + 4, 0);
    EXPECT_EQ(t.lines, 2) << "leading line feeds count as the token's lines";
}

TEST(LexerAutomaton, CommentsAndStrings) {
    expect_tokens({
        {0, ";abc\ndef", F_COMMENT, ";abc"},
        {0, ";abc", F_COMMENT, ";abc"},
        {0, "\"a^\"b\" x", F_STRING, "\"a^\"b"},
        {0, "\"a^\nb\"", F_STRING, "\"a^\nb"},
        {0, "\"a\nb\"", F_ERROR, "\"a"},
        {0, "\"abc", F_ERROR, "\"abc"},
        {0, "{", F_BRACE_OPEN, ""},
        {S_BRACE_BODY, "ab\ncd}", F_BRACE_CLOSE, "ab\ncd"},
        {S_BRACE_BODY, "a{b", F_BRACE_OPEN, "a"},
        {S_BRACE_BODY, "a^}b}", F_BRACE_CLOSE, "a^}b"},
        {S_BRACE_BODY, "abc", F_ERROR, "abc"},
    });
}

TEST(LexerAutomaton, Delimiters) {
    expect_tokens({
        {0, "[", F_BLOCK_OPEN, ""}, {0, "]", F_BLOCK_CLOSE, ""}, {0, "(", F_PAREN_OPEN, ""},
        {0, ")", F_PAREN_CLOSE, ""}, {0, ",", F_COMMA, ""}, {0, "a[", F_WORD, "a"}, {0, "1]", F_INTEGER, "1"},
    });
}

TEST(LexerAutomaton, PercentForms) {
    expect_tokens({
        {0, "% ", F_WORD, "%"},
        {0, "%", F_WORD, "%"},
        {0, "%%% ", F_WORD, "%%%"},
        {0, "%%\"", F_WORD, "%%"},
        {0, "%: ", F_WORD, "%:"},
        {0, "%{a}b}% ", F_RAW_STRING, "%{a}b}%"},
        {0, "%%{a}%%", F_RAW_STRING, "%%{a}%%"},
        {0, "%{a", F_ERROR, "%{a"},
        {0, "%\"a b\"", F_FILE, "%\"a b"},
        {0, "%\"a\nb\"", F_ERROR, "%\"a"},
        {0, "%a/b.c ", F_FILE, "%a/b.c"},
        {0, "%a:b", F_FILE, "%a"},
        {0, "%a%20b ", F_FILE, "%a%20b"},
        {0, "%%22a ", F_FILE, "%%22a"},
        {0, "%a\"", F_ERROR, "%a"},
    });
}

TEST(LexerAutomaton, SlashForms) {
    expect_tokens({
        {0, "/ ", F_WORD, "/"},
        {0, "/", F_WORD, "/"},
        {0, "/a ", F_REFINEMENT, "/a"},
        {0, "/a/b", F_REFINEMENT, "/a"},
        {0, "/a#1 ", F_REFINEMENT, "/a#1"},
        {0, "/a:", F_ERROR, "/a"},
        {0, "/a,", F_ERROR, "/a"},
        {0, "// ", F_WORD, "//"},
        {0, "///", F_WORD, "///"},
        {0, "//a ", F_WORD, "//a"},
    });
}

TEST(LexerAutomaton, HashForms) {
    expect_tokens({
        {0, "#{0A}", F_BINARY, "#{0A"},
        {0, "#{0A ;c}\n0B}", F_BINARY, "#{0A ;c}\n0B"},
        {0, "#{0A", F_ERROR, "#{0A"},
        {0, "#\"a\"", F_CHAR, "#\"a"},
        {0, "#\"^\"\"", F_CHAR, "#\"^\""},
        {0, "#(none)", F_CONSTRUCT, "#(none"},
        {0, "#[", F_MAP_OPEN, "#"},
        {0, "#abc ", F_ISSUE, "#abc"},
        {0, "#a<b> ", F_ISSUE, "#a<b>"},
        {0, "#", F_ISSUE, "#"},
        {0, "#;", F_ISSUE, "#"},
        {0, "# ", F_ERROR, "#"},
        {0, "#]", F_ERROR, "#"},
        {0, "#a:", F_ERROR, "#a"},
        {0, "#a/", F_ERROR, "#a"},
    });
}

TEST(LexerAutomaton, Numbers) {
    expect_tokens({
        {0, "123 ", F_INTEGER, "123"},
        {0, "1'000", F_INTEGER, "1'000"},
        {0, "-12", F_INTEGER, "-12"},
        {0, "12%", F_PERCENT, "12"},
        {0, "1.5 ", F_FLOAT, "1.5"},
        {0, "1. ", F_FLOAT, "1."},
        {0, "1.5/", F_FLOAT, "1.5"},
        {0, "1.2.3 ", F_TUPLE, "1.2.3"},
        {0, "1..2", F_TUPLE, "1..2"},
        {0, "1x2 ", F_PAIR, "1x2"},
        {0, "1X-2 ", F_PAIR, "1X-2"},
        {0, "1.5x2", F_PAIR, "1.5x2"},
        {0, "1x", F_ERROR, "1x"},
        {0, "1.#INF ", F_FLOAT_SPECIAL, "1.#INF"},
        {0, "1.#1", F_FLOAT, "1.#"},
        {0, "1.#0", F_FLOAT_SPECIAL, "1.#"},
        {0, "1e5 ", F_FLOAT, "1e5"},
        {0, "1e-5 ", F_FLOAT, "1e-5"},
        {0, "1e5;", F_FLOAT, "1e5"},
        {0, "1E5 ", F_FLOAT, "1E5"},
        {0, "1E5;", F_ERROR, "1E5"},
        {0, ".5 ", F_FLOAT, ".5"},
        {0, ".5,", F_ERROR, ".5"},
        {0, ".5;", F_ERROR, ".5"},
        {0, "0.5,", F_FLOAT, "0.5"},
        {0, "1-Jan-2000 ", F_DATE, "1-Jan-2000"},
        {0, "2023-W05-3", F_DATE, "2023-W05-3"},
        {0, "20230115T103000Z", F_DATE, "20230115T103000Z"},
        {0, "1/2/2000/10:00", F_DATE, "1/2/2000/10:00"},
        {0, "10:30 ", F_TIME, "10:30"},
        {0, "1:30.5", F_TIME, "1:30.5"},
        {0, "1:", F_ERROR, "1:"},
        {0, "FFh ", F_HEX, "FFh"},
        {0, "0FFh", F_HEX, "0FFh"},
        {0, "12h<", F_HEX, "12h"},
        {0, "12a", F_ERROR, "12"},
        {0, "2#{01}", F_BINARY, "2#{01"},
        {0, "64#{QQ==}", F_BINARY, "64#{QQ=="},
        {0, "2#a", F_ERROR, "2#"},
        {0, "1@b.c ", F_EMAIL, "1@b.c"},
    });
}

TEST(LexerAutomaton, Money) {
    expect_tokens({
        {0, "$1.50 ", F_MONEY, "$1.50"},
        {0, "$1'000", F_MONEY, "$1'000"},
        {0, "-$1 ", F_MONEY, "-$1"},
        {0, "EUR$12 ", F_MONEY, "EUR$12"},
        {0, "abc$1", F_MONEY, "abc$1"},
        {0, "$.5", F_ERROR, "$"},
        {0, "$", F_ERROR, "$"},
        {0, "$1#", F_MONEY, "$1"},
    });
}

TEST(LexerAutomaton, WordsAndPrefixes) {
    expect_tokens({
        {0, "abc ", F_WORD, "abc"},
        {0, "a-b.c+d ", F_WORD, "a-b.c+d"},
        {0, "a:", F_WORD, "a:"},
        {0, "a: ", F_WORD, "a:"},
        {0, "a/b", F_PATH_HEAD, "a"},
        {0, "a%", F_ERROR, "a"},
        {0, "a,", F_ERROR, "a"},
        {0, "Ahead ", F_WORD, "Ahead"},
        {0, "Ah ", F_HEX, "Ah"},
        {0, "<", F_WORD, "<"},
        {0, "<> ", F_WORD, "<>"},
        {0, "<= ", F_WORD, "<="},
        {0, "<< ", F_WORD, "<<"},
        {0, ">> ", F_WORD, ">>"},
        {0, "'a ", F_WORD, "'a"},
        {0, ":a ", F_WORD, ":a"},
        {0, "'a/b", F_PATH_HEAD, "'a"},
        {0, "'1", F_ERROR, "'"},
        {0, ":1", F_ERROR, ":"},
        {0, "+ ", F_WORD, "+"},
        {0, "+a", F_WORD, "+a"},
        {0, "-1", F_INTEGER, "-1"},
        {0, ". ", F_WORD, "."},
        {0, ".a", F_WORD, ".a"},
        {0, "\xC2\xA0" "a", F_WORD, "\xC2\xA0" "a"},
    });
}

TEST(LexerAutomaton, UrlsEmailsRefsTags) {
    expect_tokens({
        {0, "http://a.b/c?d=e&f ", F_URL, "http://a.b/c?d=e&f"},
        {0, "http://a.b/c?d=e ", F_URL, "http://a.b/c?d=e"},
        {0, "a:b>", F_ERROR, "a:b"},
        {0, "a:b^", F_ERROR, "a:b"},
        {0, "a:b<", F_URL, "a:b"},
        {0, "a@b.c/", F_EMAIL, "a@b.c"},
        {0, "a@b:", F_ERROR, "a@b"},
        {0, "@a/b:c ", F_REF, "@a/b:c"},
        {0, "@", F_REF, "@"},
        {0, "<a>", F_TAG, "<a"},
        {0, "<a \">\">", F_TAG, "<a \">\""},
        {0, "<'x>'>", F_TAG, "<'x>'"},
        {0, "<a\nb>", F_TAG, "<a\nb"},
        {0, "<a", F_ERROR, "<a"},
    });
}

TEST(LexerAutomaton, PointBodies) {
    expect_tokens({
        {S_POINT_BODY, "1, 2)", F_POINT, "1, 2"},
        {S_POINT_BODY, "1.#INF, -0.5e3)", F_POINT, "1.#INF, -0.5e3"},
        {S_POINT_BODY, "1, 2, 3)", F_POINT, "1, 2, 3"},
        {S_POINT_BODY, "1\n, 2)", F_ERROR, "1"},
        {S_POINT_BODY, "1, 2", F_ERROR, "1, 2"},
    });
}

TEST(LexerAutomaton, PathComponents) {
    expect_tokens({
        {S_PATH_COMPONENT, "b/", F_WORD, "b"},
        {S_PATH_COMPONENT, "b:", F_WORD, "b"},
        {S_PATH_COMPONENT, "1:", F_INTEGER, "1"},
        {S_PATH_COMPONENT, "1/", F_INTEGER, "1"},
        {S_PATH_COMPONENT, "1.5/", F_FLOAT, "1.5"},
        {S_PATH_COMPONENT, "1x2/", F_PAIR, "1x2"},
        {S_PATH_COMPONENT, "\"s\"", F_STRING, "\"s"},
        {S_PATH_COMPONENT, "(", F_PAREN_OPEN, ""},
        {S_PATH_COMPONENT, "#\"a\"", F_CHAR, "#\"a"},
        {S_PATH_COMPONENT, "#a ", F_ISSUE, "#a"},
        {S_PATH_COMPONENT, "'b ", F_WORD, "'b"},
        {S_PATH_COMPONENT, ":b/", F_WORD, ":b"},
        {S_PATH_COMPONENT, "+1/", F_INTEGER, "+1"},
        {S_PATH_COMPONENT, "-a/", F_WORD, "-a"},
        {S_PATH_COMPONENT, "<a>", F_TAG, "<a"},
        {S_PATH_COMPONENT, "@x ", F_REF, "@x"},
        {S_PATH_COMPONENT, "$1/", F_MONEY, "$1"},
        // What may not follow a path's "/": blanks, the delimiters, "%",
        // ",", ";", "^" (no word starts with it there) and control bytes.
        {S_PATH_COMPONENT, " ", F_ERROR, ""},
        {S_PATH_COMPONENT, "\t", F_ERROR, ""},
        {S_PATH_COMPONENT, "\n", F_ERROR, ""},
        {S_PATH_COMPONENT, "/", F_ERROR, ""},
        {S_PATH_COMPONENT, "[", F_ERROR, ""},
        {S_PATH_COMPONENT, "]", F_ERROR, ""},
        {S_PATH_COMPONENT, "{", F_ERROR, ""},
        {S_PATH_COMPONENT, "}", F_ERROR, ""},
        {S_PATH_COMPONENT, "\\", F_ERROR, ""},
        {S_PATH_COMPONENT, "%a", F_ERROR, ""},
        {S_PATH_COMPONENT, ",", F_ERROR, ""},
        {S_PATH_COMPONENT, ";", F_ERROR, ""},
        {S_PATH_COMPONENT, "^a", F_ERROR, ""},
        {S_PATH_COMPONENT, "\x01", F_ERROR, ""},
        {S_PATH_COMPONENT, "", F_ERROR, ""},
    });
}

TEST(LexerAutomaton, FlagsGatherEveryByteAndTheOneThatEnds) {
    const char* word = "a:";
    Token t = scan_token(reinterpret_cast<const u8*>(word), reinterpret_cast<const u8*>(word) + 2, 0);
    EXPECT_TRUE(t.flags & FLAG_COLON);
    const char* path_word = "b:";
    t = scan_token(reinterpret_cast<const u8*>(path_word), reinterpret_cast<const u8*>(path_word) + 2,
                   S_PATH_COMPONENT);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.start), size_t(t.end - t.start)), "b");
    EXPECT_TRUE(t.flags & FLAG_COLON) << "the byte that ended the word";
    const char* emoji = "\"\xF0\x9F\x98\x80\"";
    t = scan_token(reinterpret_cast<const u8*>(emoji), reinterpret_cast<const u8*>(emoji) + 6, 0);
    EXPECT_TRUE(t.flags & FLAG_LEAD4);
    EXPECT_FALSE(t.flags & FLAG_LEAD2);
}

}  // namespace
}  // namespace zir
