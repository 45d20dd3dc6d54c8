// The HTTP client through the url! actions, against a server on 127.0.0.1
// that the suite starts (tests/data/http_server.py): methods, default and
// given request headers, bodies, the /info block, redirects, error statuses,
// the refused connection's reason, and the response-header map.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/map.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/url.hpp"
#include "services/http.hpp"
#include "values.hpp"

extern char** environ;

namespace zir {
namespace {

using namespace test;

std::string data_dir() {
    const char* d = std::getenv("ZIR_TEST_DATA");
    return d && *d ? d : ZIR_TEST_DATA_DIR;
}

// Starts a program with its output through a pipe (its error output
// dropped); answers its first line.
std::string start(const std::vector<std::string>& args, pid_t& pid) {
    int out[2];
    if (pipe(out) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (rc == 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    if (rc != 0) pid = 0;
    return line;
}

void stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = 0;
}

// The server process, started once for the suite.
pid_t server_pid = 0;
int server_port = 0;

struct Http : ValueTest {
    static void SetUpTestSuite() {
        // A proxy of the environment must not stand between us and 127.0.0.1.
        setenv("NO_PROXY", "*", 1);
        server_port = std::atoi(start({"/usr/bin/python3", data_dir() + "/http_server.py"}, server_pid).c_str());
        ASSERT_GT(server_port, 0) << "the test server did not start";
    }
    static void TearDownTestSuite() { stop(server_pid); }
};

std::string base() { return "http://127.0.0.1:" + std::to_string(server_port); }

Cell* url_(const std::string& path) { return str((base() + path).c_str(), TYPE_URL); }

struct Refinements {
    bool binary = false, lines = false, info = false;
};

Cell* read_(const std::string& path, Refinements r = {}) {
    return url::read(url_(path), nullptr, nullptr, r.binary, r.lines, r.info, nullptr);
}

// A read of any url.
Cell* read_url(const std::string& u) {
    return url::read(str(u.c_str(), TYPE_URL), nullptr, nullptr, false, false, false, nullptr);
}

Cell* write_(const std::string& path, Cell* data, Refinements r = {}) {
    return url::write(url_(path), data, r.binary, r.lines, r.info, false, nullptr, nullptr, nullptr, nullptr);
}

std::string text(const Cell* value) {
    EXPECT_EQ(TYPE_OF(value), TYPE_STRING);
    return string::to_std(value);
}

// Element i of a block.
Cell* item(const Cell* block, i32 i) {
    EXPECT_LT(series::head_index(block) + i, series::abs_length(series::buffer_of(block)));
    return stack::push(block::cell_at(block->w2, series::head_index(block) + i));
}

// The value of a header in the response-header map, selected by a word as
// a script would (letter case aside), or null.
Cell* header(const Cell* map, const char* name) {
    EXPECT_EQ(TYPE_OF(map), TYPE_MAP);
    Cell* m = stack::push(map);
    Cell* v = map::select(m, word(name), nullptr, false, false, false, false, nullptr, nullptr, false, false);
    return TYPE_OF(v) == TYPE_NONE ? nullptr : v;
}

bool has(const std::string& haystack, const std::string& needle) { return haystack.find(needle) != std::string::npos; }

// --- Methods and bodies ---------------------------------------------------------------

TEST_F(Http, ReadGetsWithTheDefaultHeaders) {
    std::string echo = text(read_("/echo"));
    EXPECT_TRUE(echo.starts_with("GET /echo\n")) << echo;
    EXPECT_TRUE(has(echo, "content-type: application/x-www-form-urlencoded\n")) << echo;
    EXPECT_TRUE(has(echo, "accept-charset: UTF-8\n")) << echo;
    EXPECT_TRUE(has(echo, "user-agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)\n")) << echo;
}

TEST_F(Http, WriteSendsMethodsAndBodies) {
    struct Case {
        const char* name;
        Cell* data;
        const char* request_line;
        const char* body;   // what the server received
    } cases[] = {
        {"a string alone is posted", str("name=value&x=\u00e9"), "POST /echo", "name=value&x=\u00e9"},
        {"post with a body", test::block({word("post"), test::block({}), str("b")}), "POST /echo", "b"},
        {"post without a body", test::block({word("post")}), "POST /echo", ""},
        {"another method in upper case", test::block({word("delete")}), "DELETE /echo", ""},
        {"put with a body", test::block({word("put"), test::block({}), str("new")}), "PUT /echo", "new"},
        {"patch in mixed case", test::block({word("Patch"), test::block({}), str("p")}), "PATCH /echo", "p"},
        {"a get sends no body", test::block({word("get"), test::block({}), str("ignored")}), "GET /echo", ""},
        {"a block body is sent molded", test::block({word("post"), test::block({}), test::block({word("a"), int_(1)})}),
         "POST /echo", "[a 1]"},
    };
    for (const Case& c : cases) {
        std::string echo = text(write_("/echo", c.data));
        EXPECT_TRUE(echo.starts_with(std::string(c.request_line) + "\n")) << c.name << ": " << echo;
        size_t blank = echo.find("\n\n");
        ASSERT_NE(blank, std::string::npos) << c.name;
        EXPECT_EQ(echo.substr(blank + 2), c.body) << c.name;
        if (!*c.body && std::string(c.request_line).starts_with("GET")) {
            EXPECT_FALSE(has(echo, "content-length")) << c.name;
        }
    }
}

TEST_F(Http, BinaryBodiesGoAsTheirBytes) {
    Cell* data = test::block({word("post"), test::block({}), bin("00FF0D0A41")});
    Cell* answer = write_("/echo", data, {.binary = true});
    ASSERT_EQ(TYPE_OF(answer), TYPE_BINARY);
    std::string all = hex_of(answer);
    EXPECT_TRUE(all.ends_with("0A0A00FF0D0A41")) << all;
}

TEST_F(Http, HeadAnswersStatusHeadersAndNoBody) {
    Cell* answer = write_("/echo", test::block({word("head")}), {.info = true});
    ASSERT_EQ(TYPE_OF(answer), TYPE_BLOCK);
    EXPECT_EQ(item(answer, 0)->w2, 200u);
    Cell* length = header(item(answer, 1), "Content-Length");
    ASSERT_TRUE(length);
    EXPECT_NE(text(length), "0");
    EXPECT_EQ(text(item(answer, 2)), "");
}

// --- Request headers ------------------------------------------------------------------

TEST_F(Http, GivenHeadersReplaceTheDefaults) {
    Cell* headers = test::block({word("X-Token"), str("abc"), str("X-Num"), int_(42),
                                 word("Accept-Charset", TYPE_SET_WORD), str("latin1"), word("X-Blank"), str("")});
    std::string echo = text(write_("/echo", test::block({word("get"), headers})));
    for (const char* line : {"x-token: abc\n", "x-num: 42\n", "accept-charset: latin1\n"})
        EXPECT_TRUE(has(echo, line)) << line << echo;
    EXPECT_TRUE(has(echo, "x-blank:")) << echo;
    EXPECT_FALSE(has(echo, "user-agent: Mozilla")) << echo;
    EXPECT_FALSE(has(echo, "content-type")) << echo;

    // An empty header block sends none of the defaults either, not even a
    // form type for a post.
    echo = text(write_("/echo", test::block({word("post"), test::block({}), str("x")})));
    EXPECT_FALSE(has(echo, "content-type")) << echo;
    EXPECT_FALSE(has(echo, "accept-charset")) << echo;
    EXPECT_FALSE(has(echo, "user-agent: Mozilla")) << echo;
    // Headers libcurl would set on its own are sent as given.
    echo = text(write_("/echo", test::block({word("post"),
                                             test::block({str("Content-Type"), str("text/plain"), str("Expect"),
                                                          str("nothing")}),
                                             str("x")})));
    EXPECT_TRUE(has(echo, "content-type: text/plain\n")) << echo;
    EXPECT_TRUE(has(echo, "expect: nothing\n")) << echo;
}

TEST_F(Http, HeadersThatCouldNotBeSentAreRefused) {
    struct Case {
        const char* name;
        Cell* headers;
    } cases[] = {
        {"a value with a line break would start another header", test::block({str("X-A"), str("v\r\nX-Evil: 1")})},
        {"a value with a line feed", test::block({str("X-A"), str("v\nw")})},
        {"a name with a blank", test::block({str("X A"), str("v")})},
        {"an empty name", test::block({str(""), str("v")})},
        {"a name without its value", test::block({str("X-A"), str("v"), str("X-B")})},
    };
    for (const Case& c : cases) {
        auto send = [&] { write_("/echo", test::block({word("get"), c.headers})); };
        EXPECT_EQ(error_of(send), "script invalid-arg") << c.name;
    }
    // So is a method word whose spelling is no HTTP token.
    EXPECT_EQ(error_of([] { write_("/echo", test::block({word("get?")})); }), "script invalid-arg");
}

TEST_F(Http, UrlTextIsEscapedWhereAUrlCannotHoldIt) {
    std::string echo = text(read_("/echo?q=a b\u00e9&r=%41"));
    EXPECT_TRUE(echo.starts_with("GET /echo?q=a%20b%C3%A9&r=%41\n")) << echo;
}

// --- Responses ---------------------------------------------------------------------------

TEST_F(Http, InfoGivesStatusHeadersAndBody) {
    Cell* answer = read_("/repeat", {.info = true});
    ASSERT_EQ(TYPE_OF(answer), TYPE_BLOCK);
    EXPECT_EQ(series::rest_length(answer), 3);
    EXPECT_EQ(TYPE_OF(item(answer, 0)), TYPE_INTEGER);
    EXPECT_EQ(item(answer, 0)->w2, 200u);
    Cell* map = item(answer, 1);
    // A header met twice (in either case) maps to a block of its values in order.
    Cell* multi = header(map, "X-Multi");
    ASSERT_TRUE(multi);
    ASSERT_EQ(TYPE_OF(multi), TYPE_BLOCK);
    ASSERT_EQ(series::rest_length(multi), 2);
    EXPECT_EQ(text(item(multi, 0)), "one");
    EXPECT_EQ(text(item(multi, 1)), "two");
    Cell* single = header(map, "x-single");
    ASSERT_TRUE(single);
    EXPECT_EQ(text(single), "alone");
    EXPECT_EQ(text(item(answer, 2)), "ok");

    Cell* empty = header(item(read_("/empty-value", {.info = true}), 1), "X-Empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(text(empty), "");
}

TEST_F(Http, RedirectsAreFollowed) {
    EXPECT_TRUE(text(read_("/redirect")).starts_with("GET /echo?from=redirect\n"));
    Cell* answer = read_("/redirect", {.info = true});
    EXPECT_EQ(item(answer, 0)->w2, 200u);
    // The headers are the final response's, not the redirect's.
    EXPECT_FALSE(header(item(answer, 1), "Location"));
    EXPECT_TRUE(text(item(answer, 2)).starts_with("GET /echo?from=redirect\n"));
}

TEST_F(Http, AnErrorStatusStillAnswersItsBody) {
    EXPECT_EQ(text(read_("/missing")), "no such page");
    Cell* answer = read_("/missing", {.info = true});
    EXPECT_EQ(item(answer, 0)->w2, 404u);
    EXPECT_EQ(text(item(answer, 2)), "no such page");
}

TEST_F(Http, TextIsUtf8WithLinefeedLineEnds) {
    // Whatever charset the response names.
    EXPECT_EQ(text(read_("/text")), "a\nb\u00e9\n");
    Cell* lines = read_("/text", {.lines = true});
    ASSERT_EQ(TYPE_OF(lines), TYPE_BLOCK);
    ASSERT_EQ(series::rest_length(lines), 2);
    EXPECT_EQ(text(item(lines, 0)), "a");
    EXPECT_EQ(text(item(lines, 1)), "b\u00e9");
    Cell* bytes = read_("/bytes", {.binary = true});
    ASSERT_EQ(TYPE_OF(bytes), TYPE_BINARY);
    std::vector<u8> got = binary::bytes_of(bytes);
    ASSERT_EQ(got.size(), 256u);
    for (int i = 0; i < 256; i++) EXPECT_EQ(got[size_t(i)], i);
    // Bytes that are no UTF-8 are refused as text, not garbled.
    EXPECT_EQ(error_of([] { read_("/bytes"); }), "access invalid-utf8");
}

// --- Failures -----------------------------------------------------------------------------

// A port on which nothing listens: bound, then closed.
int closed_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

TEST_F(Http, NoConnectionGivesTheReason) {
    int closed_port_used = closed_port();
    std::string u = "http://127.0.0.1:" + std::to_string(closed_port_used) + "/x";
    LanguageError e = raised([&] { read_url(u); });
    EXPECT_EQ(std::string(e.id), "no-connect");
    ASSERT_EQ(TYPE_OF(&e.args[0]), TYPE_URL);
    EXPECT_EQ(string::to_std(&e.args[0]), u);
    ASSERT_EQ(TYPE_OF(&e.args[1]), TYPE_STRING);
    EXPECT_EQ(string::to_std(&e.args[1]), "Couldn't connect to server");
    // The library's longer account names the port.
    ASSERT_EQ(TYPE_OF(&e.args[2]), TYPE_STRING);
    EXPECT_TRUE(has(string::to_std(&e.args[2]), std::to_string(closed_port_used))) << string::to_std(&e.args[2]);
    std::string report = form(&e.error);
    EXPECT_TRUE(has(report, "cannot connect: " + u + " reason: \"Couldn't connect to server\"\n")) << report;
}

TEST_F(Http, OtherFailuresGiveTheirOwnReasons) {
    struct Case {
        std::string url;
        const char* reason;
    } cases[] = {
        {base() + "/loop", "redirects"},
        {"http://", "URL"},
        {"httpx://127.0.0.1/", "protocol"},   // only http and https are spoken
    };
    for (const Case& c : cases) {
        LanguageError e = raised([&] { read_url(c.url); });
        EXPECT_EQ(std::string(e.id), "no-connect") << c.url;
        std::string reason = string::to_std(&e.args[1]);
        EXPECT_TRUE(has(reason, c.reason)) << c.url << ": " << reason;
    }
}

// libcurl is loaded on the first request. When it cannot be (not found, or a
// library of that name that lacks its functions), a read raises
// `access no-connect` saying so, and the loader's account names the cause;
// once the library can be found again, requests work.
TEST_F(Http, AnUnloadableLibraryGivesTheReason) {
    struct Restore {
        ~Restore() { simple_io::set_http_library_names({}); }
    } restore;
    struct Case {
        std::vector<std::string> names;
        std::vector<const char*> detail;   // each in the longer account
    } cases[] = {
        {{"libzir-no-such-curl.so.4"}, {"libzir-no-such-curl.so.4"}},
        {{"libzir-no-such-curl.so.4", "libzir-no-such-curl.so"}, {"libzir-no-such-curl.so.4", "libzir-no-such-curl.so"}},
        {{"libc.so.6"}, {"curl_global_init is missing"}},
    };
    for (const Case& c : cases) {
        simple_io::set_http_library_names(c.names);
        std::string u = base() + "/echo";
        LanguageError e = raised([&] { read_url(u); });
        EXPECT_EQ(e.category, ERR_ACCESS) << c.names[0];
        EXPECT_EQ(std::string(e.id), "no-connect") << c.names[0];
        ASSERT_EQ(TYPE_OF(&e.args[1]), TYPE_STRING);
        EXPECT_EQ(string::to_std(&e.args[1]), "the HTTP library (libcurl) could not be loaded");
        ASSERT_EQ(TYPE_OF(&e.args[2]), TYPE_STRING);
        for (const char* d : c.detail)
            EXPECT_TRUE(has(string::to_std(&e.args[2]), d)) << string::to_std(&e.args[2]);
        // A second request fails the same way: the failed load is not retried.
        LanguageError again = raised([&] { read_url(u); });
        EXPECT_EQ(string::to_std(&again.args[1]), "the HTTP library (libcurl) could not be loaded");
    }
    simple_io::set_http_library_names({});
    EXPECT_TRUE(text(read_("/echo")).starts_with("GET /echo\n"));
}

TEST_F(Http, AStalledTransferIsGivenUp) {
    simple_io::HttpLimits saved = simple_io::http_limits;
    simple_io::http_limits.stall_seconds = 1;
    auto start = std::chrono::steady_clock::now();
    LanguageError e = raised([] { read_("/stall"); });
    simple_io::http_limits = saved;
    EXPECT_EQ(std::string(e.id), "no-connect");
    EXPECT_EQ(string::to_std(&e.args[1]), "Timeout was reached");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500));
}

TEST_F(Http, HttpsChecksTheServersCertificate) {
    // A server whose certificate no authority signed: the request is refused
    // after the TLS handshake, never sent.
    if (access("/usr/bin/openssl", X_OK) != 0) GTEST_SKIP() << "no openssl to make a certificate";
    char dir[] = "/tmp/zir-tls-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string cert = std::string(dir) + "/cert.pem", key = std::string(dir) + "/key.pem";
    pid_t maker = 0;
    start({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
           "/CN=127.0.0.1", "-keyout", key, "-out", cert},
          maker);
    int status = 0;
    waitpid(maker, &status, 0);
    ASSERT_EQ(status, 0);
    pid_t tls_pid = 0;
    std::string first = start({"/usr/bin/python3", data_dir() + "/http_server.py", "--tls", cert, key}, tls_pid);
    int port = std::atoi(first.c_str());
    unlink(cert.c_str());
    unlink(key.c_str());
    rmdir(dir);
    ASSERT_GT(port, 0);
    std::string u = "https://127.0.0.1:" + std::to_string(port) + "/echo";
    LanguageError e = raised([&] { read_url(u); });
    stop(tls_pid);
    EXPECT_EQ(std::string(e.id), "no-connect");
    EXPECT_TRUE(has(string::to_std(&e.args[1]), "certificate")) << string::to_std(&e.args[1]);
}

// --- The response-header map ----------------------------------------------------------

TEST_F(Http, HeaderTextBecomesAMap) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::pair<const char*, std::vector<const char*>>> expected;   // one value: a string!
    } cases[] = {
        {"plain lines", "A: 1\r\nB: two words\r\n", {{"A", {"1"}}, {"B", {"two words"}}}},
        {"no blank after the colon, blanks around the value", "A:1\r\nB:   x  \r\n", {{"A", {"1"}}, {"B", {"x"}}}},
        {"an empty value", "A:\r\nB: \r\n", {{"A", {""}}, {"B", {""}}}},
        {"no line end at the end", "A: 1\r\nB: 2", {{"A", {"1"}}, {"B", {"2"}}}},
        {"bare line feeds", "A: 1\nB: 2\n", {{"A", {"1"}}, {"B", {"2"}}}},
        {"repeated in any case, in order", "Set-Cookie: a\r\nX: y\r\nset-cookie: b\r\nSET-COOKIE: c\r\n",
         {{"Set-Cookie", {"a", "b", "c"}}, {"X", {"y"}}}},
        {"a continued value", "A: one\r\n  two\r\nB: 3\r\n", {{"A", {"one two"}}, {"B", {"3"}}}},
        {"lines without a name are skipped", "junk\r\n: v\r\nA: 1\r\n", {{"A", {"1"}}}},
        {"a colon inside the value", "Date: 12:30:00\r\n", {{"Date", {"12:30:00"}}}},
        {"nothing", "", {}},
    };
    for (const Case& c : cases) {
        Cell* map = simple_io::parse_headers(c.text);
        ASSERT_EQ(TYPE_OF(map), TYPE_MAP) << c.name;
        EXPECT_EQ(map::key_count(map), i32(c.expected.size())) << c.name;
        for (const auto& [name, values] : c.expected) {
            Cell* v = header(map, name);
            ASSERT_TRUE(v) << c.name << ": " << name;
            if (values.size() == 1) {
                EXPECT_EQ(text(v), values[0]) << c.name;
                continue;
            }
            ASSERT_EQ(TYPE_OF(v), TYPE_BLOCK) << c.name;
            ASSERT_EQ(series::rest_length(v), i32(values.size())) << c.name;
            for (size_t i = 0; i < values.size(); i++) EXPECT_EQ(text(item(v, i32(i))), values[i]) << c.name;
        }
    }
}

TEST_F(Http, TheHeaderMapIsAMapLikeAnyOther) {
    // Keys keep the spelling they were first met with.
    EXPECT_MOLD(simple_io::parse_headers("Content-Type: text/html\r\nVary: a\r\nvary: b\r\n"),
                "#[\n    Content-Type: \"text/html\"\n    Vary: [\"a\" \"b\"]\n]");
}

TEST_F(Http, HeaderBytesThatAreNoUtf8ReadAsLatin1) {
    Cell* map = simple_io::parse_headers("A: caf\xE9\r\nB: caf\xC3\xA9\r\n");
    EXPECT_EQ(text(header(map, "A")), "caf\u00e9");
    EXPECT_EQ(text(header(map, "B")), "caf\u00e9");
    // A name so spelled becomes a word that molds like any other: its key
    // was once a word holding bytes no text can, and the map could not be
    // formed or molded at all.
    map = simple_io::parse_headers("X-Caf\xE9: 1\r\n\xFF\xFE: 2\r\nX-Ok\xC3\xA9: 3\r\n");
    EXPECT_EQ(text(header(map, "X-Caf\u00e9")), "1");
    EXPECT_EQ(text(header(map, "X-Ok\u00e9")), "3");
    EXPECT_MOLD(map, "#[\n    X-Caf\u00e9: \"1\"\n    \u00ff\u00fe: \"2\"\n    X-Ok\u00e9: \"3\"\n]");
}

}  // namespace
}  // namespace zir
