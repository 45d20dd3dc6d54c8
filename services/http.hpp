// The HTTP client: one synchronous request for the `read` and `write` actions
// of "http" and "https" urls, over libcurl, which is loaded on the first
// request rather than linked (a run that reads no url never maps it).
//
// A request is made in three steps, so that no language value is held while
// the library works and no language error crosses it:
//   1. the method word, url, headers and body are turned into plain texts and
//      bytes (a bad header raises `script invalid-arg` here, before anything
//      is sent);
//   2. libcurl performs the exchange on the caller's thread (`perform`),
//      following redirects, with finite time-outs, and collects the status,
//      the final response's header lines and the body;
//   3. the answer is built as a value: the body as string!, binary! or a block
//      of lines, or with /info the block [status headers body].
// The status is not checked: an error status answers its body like any other.
// When libcurl cannot be loaded, every request fails that way too, with the
// reason "the HTTP library (libcurl) could not be loaded" and the loader's
// own account as the longer one.
// A request that gets no answer at all answers null with the library's own
// reason, which the url actions report in `access no-connect`: the short text
// of libcurl's error code as the reason shown, its longer account (host,
// port, certificate problem) as the error's third argument.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/cell.hpp"

namespace zir {
namespace simple_io {

// Defaults of every request: the headers sent when the caller gives no header
// block, in this order.
inline constexpr const char* DEFAULT_HEADERS[][2] = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
};

// Time-outs, as a system request object applies them by default: a
// connection (name lookup included) must be made within a minute, and a
// transfer that moves no byte for half a minute is given up. Redirects are
// followed, at most ten in a row. (Variables for the tests' sake.)
struct HttpLimits {
    long connect_seconds = 60;
    long stall_seconds = 30;
    long max_redirects = 10;
};
extern HttpLimits http_limits;

// One exchange in plain C++ terms: what `perform` sends and what it answers.
struct HttpExchange {
    std::string method;                 // an HTTP token, upper case
    std::string url;                    // percent-encoded where a url may not hold a byte
    std::vector<std::string> headers;   // "Name: value" lines
    bool has_body = false;
    std::string body;

    long status = 0;
    std::string response_headers;       // the final response's header lines, each ending in CR LF
    std::vector<u8> response_body;
    std::string reason;                 // why no answer came, when `perform` fails: libcurl's
                                        // short text of its error code
    std::string detail;                 // and its longer account, when it has one
};

// The names the library is looked for under, in order, for the next request
// (empty: the defaults, "libcurl.so.4" then "libcurl.so"). The library is
// loaded again on the next request. For the tests: not to be called while a
// request runs.
void set_http_library_names(std::vector<std::string> names);

// Performs the exchange; false, with `reason` set, when no response came (or
// the body passed what a series holds).
bool perform(HttpExchange& exchange);

// The request: the method word, the url, the header block (or null), the body
// (a binary! or any value, whose text is sent; or null) and the answer's form.
// Answers the response value pushed on the value stack, or null with `reason`
// (and, when there is one, `detail`) set when no response came.
const Cell* request_http(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary,
                         bool lines, bool info, std::string& reason, std::string& detail);

// The map! of response header lines ("Name: value", each ending in CR LF or
// LF), pushed: header-name words to string! values, a name met more than once
// to a block! of its values in order. Names match without regard to case.
Cell* parse_headers(std::string_view text);

}  // namespace simple_io
}  // namespace zir
