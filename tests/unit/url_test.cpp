// url!: percent coding (the lenient decoding cases; tests/oracle/percent.py
// checks valid input against Python), mold, urls built from blocks, path
// access, and how read, write and open reach the HTTP client or a port.
#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/url.hpp"
#include "evaluator/actions.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Url : ValueTest {};

std::string decoded(const char* utf8) {
    Cell* out = str("");
    url::decode(str(utf8), out);
    return string::to_std(out);
}

std::string encoded(const char* utf8, i32 mode) {
    Cell* out = str("");
    url::encode(str(utf8), out, mode);
    return string::to_std(out);
}

// --- Percent coding -------------------------------------------------------------------

TEST_F(Url, DecodingIsLenient) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"a%20b", "a b"},
        {"%C3%A9", "\u00E9"},
        {"%c3%a9", "\u00E9"},
        {"%41", "A"},
        {"%80", "\u0080"},                 // a continuation byte alone: its code point
        {"%E9", "%E9"},                    // a lead byte without its continuation escapes
        {"%E9x", "%E9x"},
        {"a%2", "a%2"},
        {"%", "%"},
        {"%%41", "%A"},
        {"%G1", "%G1"},
        {"%C3%41", "%C3A"},                // escapes that are no character: the "%" stays
        {"%E2%82", "%E2\u0082"},           // cut short: the lead's "%" stays, the rest decodes
        {"%F0%9F%98%80!", "\U0001F600!"},
        {"%C0%80", "%C0\u0080"},           // an overlong form is no character
        {"%ED%B0%80", "%ED\u00B0\u0080"},  // nor is a surrogate the runtime never writes
        {"%EF%BF%BE", "%EF\u00BF\u00BE"},  // nor U+FFFE
        {"\u00E9%20\u4E2D", "\u00E9 \u4E2D"},
        {"100%", "100%"},
    };
    for (const Case& c : cases) EXPECT_EQ(decoded(c.text), c.expected) << c.text;
}

TEST_F(Url, DecodingUndoesEncoding) {
    // Whatever a string holds, unpaired surrogates included.
    std::u32string text = U"a b/%\u00E9\u4E2D\U0001F600~";
    text += char32_t(0xD800);
    text += char32_t(0xDFFF);
    text += U'\0';
    for (i32 mode : {url::ENCODE_STRICT, url::ENCODE_WIDE}) {
        Cell* coded = str("");
        url::encode(text_series(text, 4), coded, mode);
        Cell* back = str("");
        url::decode(coded, back);
        EXPECT_EQ(code_points(back), text) << mode;
    }
}

TEST_F(Url, DecodingIntoTheSourceItself) {
    Cell* s = str("x%41%C3%A9");
    url::decode(s, s);
    EXPECT_EQ(string::to_std(s), "x%41%C3%A9xA\u00E9");
    // Only the text from the head is decoded.
    Cell* out = str("");
    url::decode(at_(str("%41%42"), 3), out);
    EXPECT_EQ(string::to_std(out), "B");
}

TEST_F(Url, EncodingModes) {
    struct Case {
        const char* text;
        const char* strict;
        const char* wide;
    } cases[] = {
        {"\u00E9", "%C3%A9", "%C3%A9"},
        {"/", "%2F", "/"},
        {"a b", "a%20b", "a%20b"},
        {"%", "%25", "%25"},
        {"-._~", "-._~", "-._~"},
        {"!#$&'()*+,:=?@", "%21%23%24%26%27%28%29%2A%2B%2C%3A%3D%3F%40", "!#$&'()*+,:=?@"},
        {"[]{}<>\"^`|\\;", "%5B%5D%7B%7D%3C%3E%22%5E%60%7C%5C%3B", "%5B%5D%7B%7D%3C%3E%22%5E%60%7C%5C%3B"},
        {"\x7F", "%7F", "%7F"},
        {"\U0001F600", "%F0%9F%98%80", "%F0%9F%98%80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encoded(c.text, url::ENCODE_STRICT), c.strict) << c.text;
        EXPECT_EQ(encoded(c.text, url::ENCODE_WIDE), c.wide) << c.text;
    }
    i32 count;
    u8 slash = '/';
    const u8* out = url::encode_byte(url::ENCODE_STRICT, &slash, &count);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), size_t(count)), "%2F");
    out = url::encode_byte(url::ENCODE_WIDE, &slash, &count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(out, &slash);
}

TEST_F(Url, LoadDecodedPushesOneString) {
    Cell* before = stack::top;
    const char text[] = "a%20%C3%A9";
    Cell* s = url::load_decoded(reinterpret_cast<const u8*>(text), 10, string::ENCODING_UTF8);
    EXPECT_EQ(stack::top, before + 1);
    EXPECT_EQ(s, before);
    EXPECT_EQ(TYPE_OF(s), TYPE_STRING);
    EXPECT_EQ(string::to_std(s), "a \u00E9");
}

// --- Mold and form ------------------------------------------------------------------------

TEST_F(Url, MoldEscapesWhatTheWideTableLacks) {
    EXPECT_MOLD(str("http://a b/c", TYPE_URL), "http://a%20b/c");
    EXPECT_MOLD(str("http://x/\u00E9?q=1&r=%", TYPE_URL), "http://x/%C3%A9?q=1&r=%25");
    EXPECT_FORM(str("http://a b/\u00E9", TYPE_URL), "http://a b/\u00E9");
    // The head counts; /part cuts the escaped text.
    EXPECT_MOLD(at_(str("ab cd", TYPE_URL), 2), "%20cd");
    EXPECT_EQ(test::mold(str("a b", TYPE_URL), {.part = 2}), "a%");
    EXPECT_EQ(test::mold(str("a b", TYPE_URL), {.part = 0}), "");
}

TEST_F(Url, MoldAnswersThePartLeft) {
    Cell* buffer = str("");
    Cell* u = str("a b", TYPE_URL);
    EXPECT_EQ(url::mold(u, buffer, false, false, false, nullptr, 100, 0), 95);
    Cell* limit = int_(2);
    EXPECT_EQ(url::mold(u, buffer, false, false, false, limit, 2, 0), -2);   // "a%20": the escape passes the limit
}

// --- Making ------------------------------------------------------------------------------

TEST_F(Url, ToUrlFromBlockOfParts) {
    struct Case {
        Cell* parts;
        const char* expected;
    } cases[] = {
        {block({str("s"), str("h"), int_(8080), str("a"), str("b")}), "s://h:8080/a/b"},
        {block({str("s"), str("h"), int_(8080)}), "s://h:8080"},
        {block({str("s"), str("h")}), "s://h"},
        {block({str("s")}), "s://"},
        {block({str("s"), str("h"), str("a"), int_(3)}), "s://h/a/3"},
        {block({str("ftp"), str("h"), str("p a")}), "ftp://h/p a"},
    };
    for (const Case& c : cases) {
        for (u32 slot : {ACT_TO, ACT_MAKE}) {
            Cell* u = convert(TYPE_URL, c.parts, slot);
            EXPECT_EQ(TYPE_OF(u), TYPE_URL);
            EXPECT_EQ(string::to_std(u), c.expected);
        }
        Cell* p = stack::push(c.parts);
        cell::set_type(p, TYPE_PAREN);
        EXPECT_EQ(string::to_std(convert(TYPE_URL, p)), c.expected);
    }
    // The block's head counts.
    EXPECT_EQ(string::to_std(convert(TYPE_URL, at_(block({str("x"), str("s"), str("h")}), 1))), "s://h");
    EXPECT_EQ(error_of([] { convert(TYPE_URL, block({})); }), "script bad-to-arg");
    EXPECT_EQ(error_of([] { convert(TYPE_URL, at_(block({str("s")}), 1)); }), "script bad-to-arg");
}

TEST_F(Url, ToFileFromBlockIsAFile) {
    Cell* f = convert(TYPE_FILE, block({str("a"), str("b"), str("c")}));
    EXPECT_EQ(TYPE_OF(f), TYPE_FILE);
    EXPECT_EQ(string::to_std(f), "a://b/c");
}

TEST_F(Url, IssueBeforeAFragment) {
    if (!actions::lookup(TYPE_ISSUE, ACT_FORM)) GTEST_SKIP() << "issue! is not registered in this build";
    Cell* frag = word("frag", TYPE_ISSUE);
    Cell* u = convert(TYPE_URL, block({str("s"), str("h"), str("a"), frag}));
    EXPECT_EQ(string::to_std(u), "s://h/a#frag");
}

TEST_F(Url, MakeAndToFromOtherValuesAreStringOnes) {
    Cell* u = convert(TYPE_URL, str("http://x", TYPE_FILE));
    EXPECT_EQ(TYPE_OF(u), TYPE_URL);
    EXPECT_EQ(string::to_std(u), "http://x");
    Cell* empty = convert(TYPE_URL, int_(10), ACT_MAKE);
    EXPECT_EQ(TYPE_OF(empty), TYPE_URL);
    EXPECT_EQ(string::zs_length(empty), 0);
    EXPECT_EQ(string::to_std(convert(TYPE_URL, int_(42))), "42");
    EXPECT_EQ(error_of([] { convert(TYPE_URL, none_()); }), "script bad-to-arg");
}

// --- Path access ---------------------------------------------------------------------------

Cell* path_get(Cell* parent, const Cell* element) {
    Cell* e = stack::push(element);
    return actions::eval_path(parent, e, nullptr, nullptr, nullptr, nullptr, 0, false, false, true, false);
}

TEST_F(Url, PathJoinsWithOneSlash) {
    struct Case {
        const char* base;
        const char* element;
        const char* expected;
    } cases[] = {
        {"http://h/", "x", "http://h/x"},
        {"http://h", "x", "http://h/x"},
        {"http://h/", "/x", "http://h/x"},
        {"http://h", "/x", "http://h/x"},
        {"", "x", "/x"},
        {"http://h/a", "b/c", "http://h/a/b/c"},
    };
    for (const Case& c : cases) {
        for (u32 type : {TYPE_URL, TYPE_FILE}) {
            Cell* base = str(c.base, type);
            Cell* r = path_get(base, str(c.element));
            EXPECT_EQ(TYPE_OF(r), type);
            EXPECT_EQ(string::to_std(r), c.expected) << c.base << " + " << c.element;
            EXPECT_EQ(string::to_std(base), c.base);   // the url itself is not changed
        }
    }
    EXPECT_EQ(string::to_std(path_get(str("http://h", TYPE_URL), int_(3))), "http://h/3");
    // From the head; wide text on either side.
    EXPECT_EQ(string::to_std(path_get(at_(str("x/\u00E9", TYPE_FILE), 2), str("\u4E2D"))), "\u00E9/\u4E2D");
}

TEST_F(Url, PathWithAWord) {
    if (!actions::lookup(TYPE_WORD, ACT_FORM)) GTEST_SKIP() << "word! is not registered in this build";
    EXPECT_EQ(string::to_std(path_get(str("http://h/", TYPE_URL), word("x"))), "http://h/x");
    EXPECT_EQ(string::to_std(path_get(str("dir", TYPE_FILE), word("x"))), "dir/x");
    // A get-word stands for its value.
    Cell* at = bound_word("name", str("b c"));
    cell::set_type(at, TYPE_GET_WORD);
    Cell* dir = str("dir/", TYPE_FILE);
    Cell* before = stack::top;
    Cell* r = path_get(dir, at);
    EXPECT_EQ(string::to_std(r), "dir/b c");
    EXPECT_EQ(stack::top, before + 2);   // the element's copy and the result
}

TEST_F(Url, PathCannotSet) {
    Cell* u = str("http://h", TYPE_URL);
    EXPECT_EQ(error_of([&] {
                  actions::eval_path(u, str("x"), int_(1), nullptr, nullptr, nullptr, 0, false, false, true, false);
              }),
              "script bad-path-set");
}

// --- Reaching the services --------------------------------------------------------------------

struct UrlServices : Url {
    void TearDown() override {
        url::parse_url = nullptr;
        Url::TearDown();
    }
};

Cell* read_(Cell* u, Cell* part = nullptr, Cell* seek = nullptr, Cell* as = nullptr) {
    return url::read(u, part, seek, false, false, false, as);
}

Cell* write_(Cell* u, Cell* data, Cell* part = nullptr, Cell* seek = nullptr, Cell* as = nullptr) {
    return url::write(u, data, false, false, false, false, part, seek, nullptr, as);
}

TEST_F(UrlServices, HttpRefusesPartSeekAndAs) {
    for (int which = 0; which < 3; which++) {
        Cell* arg = int_(1);
        Cell* p = which == 0 ? arg : nullptr;
        Cell* s = which == 1 ? arg : nullptr;
        Cell* a = which == 2 ? arg : nullptr;
        EXPECT_EQ(error_of([&] { read_(str("http://h", TYPE_URL), p, s, a); }), "internal not-done");
        EXPECT_EQ(error_of([&] { write_(str("https://h", TYPE_URL), str("d"), p, s, a); }), "internal not-done");
    }
}

TEST_F(UrlServices, HttpWriteChecksItsRequestBeforeSendingIt) {
    // A malformed request is refused with its element before any request is
    // made; a well-formed one reaches the HTTP client, which finds nothing
    // listening on port 1 (tests/unit/http_test.cpp tries real exchanges).
    struct Case {
        Cell* data;
        const char* error;
    };
    Cell* bad_method = block({str("post")});
    Cell* bad_headers = block({word("post"), str("h")});
    Cell* bad_data = block({word("post"), block({}), int_(1)});
    Case cases[] = {
        {bad_method, "script invalid-arg"},
        {bad_headers, "script invalid-arg"},
        {bad_data, "script invalid-arg"},
        {int_(5), "script invalid-arg"},
        {block({}), "access no-connect"},
        {block({word("put")}), "access no-connect"},
        {block({word("put"), block({}), str("body")}), "access no-connect"},
        {str("body"), "access no-connect"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { write_(str("http://127.0.0.1:1/", TYPE_URL), c.data); }), c.error);
    try {
        write_(str("http://127.0.0.1:1/", TYPE_URL), bad_headers);
        ADD_FAILURE() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_EQ(TYPE_OF(&e.args[0]), TYPE_STRING);
    }
    EXPECT_EQ(error_of([] { read_(str("http://127.0.0.1:1/", TYPE_URL)); }), "access no-connect");
}

TEST_F(UrlServices, OtherSchemesGoThroughParseUrl) {
    // "HTTP" is not "http": the comparison is exact.
    for (const char* u : {"ftp://h/x", "HTTP://h", "htt"}) {
        EXPECT_EQ(error_of([&] { read_(str(u, TYPE_URL)); }), "internal not-done") << u;
        EXPECT_EQ(error_of([&] { write_(str(u, TYPE_URL), str("x")); }), "internal not-done") << u;
        EXPECT_EQ(error_of([&] { url::open(str(u, TYPE_URL), false, false, false, false, nullptr); }),
                  "internal not-done");
    }
    static int calls;
    calls = 0;
    url::parse_url = [](const Cell* u, Cell* result) {
        calls++;
        EXPECT_EQ(TYPE_OF(u), TYPE_URL);
        cell::init(result, TYPE_INTEGER);
    };
    Cell* u = str("ftp://h/x", TYPE_URL);
    try {
        read_(u);
        ADD_FAILURE() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_EQ(std::string(e.id), "invalid-arg");
        EXPECT_EQ(TYPE_OF(&e.args[0]), TYPE_URL);
    }
    EXPECT_EQ(calls, 1);
    // An object goes on to port!, which is not there yet.
    url::parse_url = [](const Cell*, Cell* result) {
        Cell field;
        cell::init(&field, TYPE_NONE);
        *result = make_object(field);
    };
    if (!actions::lookup(TYPE_PORT, ACT_MAKE)) {
        EXPECT_EQ(error_of([&] { read_(str("ftp://h/x", TYPE_URL)); }), "internal not-done");
    }
}

}  // namespace
}  // namespace zir
