// The HTTP client: see http.hpp.
//
// libcurl calls back into this module while a transfer runs. The callbacks
// only append bytes to C++ containers and never let an exception through
// (a failed append ends the transfer and is reported after the library call
// has returned); nothing in `perform` touches a language value.
//
// The program does not link libcurl: it is opened with dlopen on the first
// request, so that a run that reads no url does not map it and the two dozen
// libraries it brings. Its functions are called through one table of
// pointers whose types come from the library's header.
#include "services/http.hpp"

#include <curl/curl.h>
#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/map.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"
#include "services/simple_io.hpp"

namespace zir {
namespace simple_io {

HttpLimits http_limits;

namespace {

// The largest response body a binary! can hold.
constexpr i64 MAX_BODY_BYTES = MAX_LENGTH - 15;

// --- Texts of values ---------------------------------------------------------------

// The UTF-8 text of a value: a string!'s own text, else its form (or mold).
std::string text_of(const Cell* value, bool mold) {
    stack::KeepTop keep;
    Cell* copy = stack::push(value);
    if (TYPE_OF(copy) == TYPE_STRING) return string::to_std(copy);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    string::make_at(out, 16, 1);
    if (mold) actions::mold(copy, out, false, false, false, nullptr, PART_UNLIMITED, 0);
    else actions::form(copy, out, nullptr, PART_UNLIMITED);
    return string::to_std(out);
}

// A header name as sent: a word's spelling, anything else its form.
std::string name_text(const Cell* name) {
    if (any_word_q(TYPE_OF(name))) return std::string(symbol::spelling(i32(name->w2)));
    return text_of(name, false);
}

// --- The request's parts ------------------------------------------------------------

// ASCII letter case, whatever the C locale says.
char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

// Header names compare without regard to case.
bool same_name_q(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    return true;
}

// The characters of an HTTP token (method and header names).
bool token_char_q(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c && std::strchr("!#$%&'*+-.^_`|~", c));
}

bool token_q(std::string_view s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!token_char_q(c)) return false;
    return true;
}

// The method's text: its spelling in upper case. A spelling that is no HTTP
// token could not be sent as a method: `script invalid-arg`.
std::string method_text(const Cell* method) {
    std::string text(symbol::spelling(i32(method->w2)));
    for (char& c : text) c = ascii_upper(c);
    if (!token_q(text)) fire(ERR_SCRIPT, "invalid-arg", method);
    return text;
}

// The url's UTF-8 text with every byte a url cannot hold as it is (controls,
// space, the bytes past ASCII and the delimiters no url uses) written as %XX,
// as a system request object escapes a url it is given. A "%" stays: the
// url's text may hold escapes already.
std::string url_text(const Cell* url) {
    std::string text = string::to_std(url);
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c)) {
            out += '%';
            out += "0123456789ABCDEF"[c >> 4];
            out += "0123456789ABCDEF"[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

// The "Name: value" lines of a header block of alternating names and
// values. A name that is no HTTP token, a value holding a line break or a
// NUL (which would end the header early and start another), or a name
// without a value is refused with `script invalid-arg`.
std::vector<std::string> header_lines(const Cell* headers) {
    collector::RootCell block(*headers);
    std::vector<std::string> lines;
    for (i32 i = series::head_index(block.get());; i += 2) {
        i32 n = series::abs_length(series::buffer_of(block.get()));
        if (i >= n) break;
        Cell name = *block::cell_at(block->w2, i);
        if (i + 1 >= n) fire(ERR_SCRIPT, "invalid-arg", &name);
        Cell value = *block::cell_at(block->w2, i + 1);
        collector::RootCell hold_value(value);
        std::string name_s = name_text(&name);
        if (!token_q(name_s)) fire(ERR_SCRIPT, "invalid-arg", &name);
        std::string value_s = text_of(hold_value.get(), false);
        if (value_s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            fire(ERR_SCRIPT, "invalid-arg", hold_value.get());
        // libcurl sends "Name;" as a header with an empty value ("Name:"
        // alone would remove the header).
        lines.push_back(value_s.empty() ? name_s + ";" : name_s + ": " + value_s);
    }
    return lines;
}

// --- The library, loaded on first use ------------------------------------------------

// The library's functions this module calls.
struct CurlApi {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_perform) easy_perform;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_strerror) easy_strerror;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
};

// One attempt to load the library from a list of names, made once (the
// first request of any thread makes it, the others wait for it). The handle
// is never closed: the library stays for the rest of the run.
struct Loader {
    explicit Loader(std::vector<std::string> n) : names(std::move(n)) {}

    std::vector<std::string> names;
    std::once_flag once;
    CurlApi api{};
    bool loaded = false;
    std::string failure;   // why it could not be loaded

    void load() {
        void* handle = platform::open_library(names, &failure);
        if (!handle) return;
        auto get = [&](auto& slot, const char* symbol) {
            if (!platform::find_entry(handle, slot, symbol) && failure.empty())
                failure = std::string(symbol) + " is missing from the library";
        };
        get(api.global_init, "curl_global_init");
        get(api.easy_init, "curl_easy_init");
        get(api.easy_cleanup, "curl_easy_cleanup");
        get(api.easy_setopt, "curl_easy_setopt");
        get(api.easy_perform, "curl_easy_perform");
        get(api.easy_getinfo, "curl_easy_getinfo");
        get(api.easy_strerror, "curl_easy_strerror");
        get(api.slist_append, "curl_slist_append");
        get(api.slist_free_all, "curl_slist_free_all");
        if (!failure.empty()) {
            dlclose(handle);
            return;
        }
        if (api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            failure = "the library could not be initialised";
            return;
        }
        loaded = true;
    }
};

const std::vector<std::string> DEFAULT_LIBRARY_NAMES = {"libcurl.so.4", "libcurl.so"};

std::unique_ptr<Loader>& loader() {
    static std::unique_ptr<Loader> current = std::make_unique<Loader>(DEFAULT_LIBRARY_NAMES);
    return current;
}

// The table, loading the library on the first call; null, with `failure`
// set, when it cannot be loaded.
const CurlApi* library(std::string& failure) {
    Loader& l = *loader();
    std::call_once(l.once, [&l] { l.load(); });
    if (!l.loaded) failure = l.failure;
    return l.loaded ? &l.api : nullptr;
}

// --- The exchange ----------------------------------------------------------------------

struct CurlDeleter {
    const CurlApi* api;
    void operator()(CURL* c) const { api->easy_cleanup(c); }
};
struct SlistDeleter {
    const CurlApi* api;
    void operator()(curl_slist* l) const { api->slist_free_all(l); }
};

// What the callbacks collect; `overflow` says the body outgrew a series.
struct Collected {
    HttpExchange* exchange;
    bool overflow = false;
    bool out_of_memory = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* c = static_cast<Collected*>(user);
    size_t n = size * count;
    std::vector<u8>& body = c->exchange->response_body;
    if (i64(body.size()) + i64(n) > MAX_BODY_BYTES) {
        c->overflow = true;
        return 0;
    }
    try {
        body.insert(body.end(), data, data + n);
    } catch (...) {
        c->out_of_memory = true;
        return 0;
    }
    return n;
}

// Header lines arrive one by one, for every response of the exchange (the
// redirects, and interim 1xx answers); a status line starts a response, so
// only the final one's lines remain.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* c = static_cast<Collected*>(user);
    size_t n = size * count;
    std::string_view line(data, n);
    try {
        if (line.starts_with("HTTP/")) c->exchange->response_headers.clear();
        else if (line != "\r\n" && line != "\n") c->exchange->response_headers.append(line);
    } catch (...) {
        c->out_of_memory = true;
        return 0;
    }
    return n;
}

}  // namespace

void set_http_library_names(std::vector<std::string> names) {
    loader() = std::make_unique<Loader>(names.empty() ? DEFAULT_LIBRARY_NAMES : std::move(names));
}

bool perform(HttpExchange& x) {
    x.status = 0;
    x.response_headers.clear();
    x.response_body.clear();
    x.reason.clear();
    x.detail.clear();
    std::string failure;
    const CurlApi* api = library(failure);
    if (!api) {
        x.reason = "the HTTP library (libcurl) could not be loaded";
        x.detail = failure;
        return false;
    }
    auto setopt = api->easy_setopt;
    std::unique_ptr<CURL, CurlDeleter> curl(api->easy_init(), CurlDeleter{api});
    if (!curl) {
        x.reason = "the HTTP library could not start a request";
        return false;
    }
    CURL* c = curl.get();
    char error[CURL_ERROR_SIZE] = {};
    Collected collected{&x};

    setopt(c, CURLOPT_ERRORBUFFER, error);
    setopt(c, CURLOPT_URL, x.url.c_str());
    setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    setopt(c, CURLOPT_MAXREDIRS, http_limits.max_redirects);
    setopt(c, CURLOPT_CONNECTTIMEOUT, http_limits.connect_seconds);
    setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    setopt(c, CURLOPT_LOW_SPEED_TIME, http_limits.stall_seconds);
    // No signal for name-lookup time-outs: the runtime has its own threads
    // and signal handlers.
    setopt(c, CURLOPT_NOSIGNAL, 1L);
    setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    setopt(c, CURLOPT_WRITEDATA, &collected);
    setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    setopt(c, CURLOPT_HEADERDATA, &collected);

    bool get = x.method == "GET", head = x.method == "HEAD";
    bool body = x.has_body && !get && !head;
    if (head) {
        setopt(c, CURLOPT_NOBODY, 1L);
    } else if (get) {
        setopt(c, CURLOPT_HTTPGET, 1L);
    } else {
        if (x.method == "POST" || body) {
            // A POST without a body sends an empty one (Content-Length: 0).
            setopt(c, CURLOPT_POST, 1L);
            setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body ? x.body.size() : 0));
            setopt(c, CURLOPT_POSTFIELDS, body ? x.body.data() : "");
        }
        if (x.method != "POST") setopt(c, CURLOPT_CUSTOMREQUEST, x.method.c_str());
    }

    // Only the headers asked for: libcurl's own form type for POST and its
    // "Expect: 100-continue" for large bodies are taken out unless given.
    std::unique_ptr<curl_slist, SlistDeleter> list(nullptr, SlistDeleter{api});
    auto add = [&](const std::string& line) {
        curl_slist* head = api->slist_append(list.get(), line.c_str());
        if (head && !list) list.reset(head);
        return head != nullptr;
    };
    bool added = true;
    for (const std::string& line : x.headers) added = added && add(line);
    for (const char* own : {"Content-Type", "Expect"}) {
        bool given = false;
        for (const std::string& line : x.headers)
            given = given || same_name_q(std::string_view(line).substr(0, line.find_first_of(":;")), own);
        if (!given) added = added && add(std::string(own) + ":");
    }
    if (!added) {
        x.reason = "out of memory";
        return false;
    }
    setopt(c, CURLOPT_HTTPHEADER, list.get());

    CURLcode rc = api->easy_perform(c);
    if (collected.overflow) {
        x.reason = "response body larger than a series can hold";
        return false;
    }
    if (collected.out_of_memory) {
        x.reason = "out of memory";
        return false;
    }
    if (rc != CURLE_OK) {
        x.reason = api->easy_strerror(rc);
        if (error[0] && x.reason != error) x.detail = error;
        return false;
    }
    api->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &x.status);
    return true;
}

// --- The answer ---------------------------------------------------------------------

namespace {

void append_text(Cell* str, std::string_view bytes) {
    string::append_utf8_lenient(str, reinterpret_cast<const u8*>(bytes.data()), i64(bytes.size()));
}

// The response body in the asked form, pushed.
Cell* body_value(const std::vector<u8>& bytes, bool binary, bool lines) {
    if (binary) return binary::load(bytes.data(), i64(bytes.size()));
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    if (lines) return split_lines(out, bytes.data(), i64(bytes.size()), &none::value);
    return bytes_to_string(out, bytes.data(), i64(bytes.size()), &none::value);
}

// A header name as a word's UTF-8 spelling: bytes that are no UTF-8 read as
// Latin-1, as the values do (a word must hold text).
std::string utf8_name(std::string_view name) {
    if (unicode::utf8_valid_q(reinterpret_cast<const u8*>(name.data()), i64(name.size()))) return std::string(name);
    std::string out;
    u8 bytes[4];
    for (unsigned char c : name) {
        int n = unicode::cp_to_utf8(c, bytes);
        out.append(reinterpret_cast<const char*>(bytes), size_t(n));
    }
    return out;
}

}  // namespace

Cell* parse_headers(std::string_view text) {
    // Names and values first, in order, same names together: then the map is
    // made once, over keys that are all distinct.
    struct Header {
        std::string_view name;
        std::vector<std::string> values;
    };
    std::vector<Header> headers;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        // A line that starts with a blank continues the value before it.
        if ((line[0] == ' ' || line[0] == '\t') && !headers.empty()) {
            size_t from = line.find_first_not_of(" \t");
            if (from != std::string_view::npos) {
                std::string& last = headers.back().values.back();
                last += ' ';
                last += line.substr(from);
            }
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;
        std::string_view name = line.substr(0, colon);
        std::string_view value = line.substr(colon + 1);
        size_t from = value.find_first_not_of(" \t");
        value = from == std::string_view::npos ? std::string_view() : value.substr(from);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        Header* h = nullptr;
        for (Header& e : headers)
            if (same_name_q(e.name, name)) h = &e;
        if (!h) h = &headers.emplace_back(Header{name, {}});
        h->values.emplace_back(value);
    }

    Cell* map = stack::push_slot();
    cell::init(map, TYPE_UNSET);
    block::make_at(map, i32(headers.size() * 2));
    collector::RootCell key, value, item;
    for (const Header& h : headers) {
        series::make_word(key.get(), symbol::make(utf8_name(h.name)), TYPE_SET_WORD);
        if (h.values.size() == 1) {
            cell::init(value.get(), TYPE_UNSET);
            string::make_at(value.get(), i64(h.values[0].size()), 1);
            append_text(value.get(), h.values[0]);
        } else {
            cell::init(value.get(), TYPE_UNSET);
            block::make_at(value.get(), i32(h.values.size()));
            for (const std::string& v : h.values) {
                cell::init(item.get(), TYPE_UNSET);
                string::make_at(item.get(), i64(v.size()), 1);
                append_text(item.get(), v);
                block::zs_append(value.get(), item.get());
            }
        }
        block::zs_append(map, key.get());
        block::zs_append(map, value.get());
    }
    return map::make_at(map, map->w2, i32(headers.size()));
}

const Cell* request_http(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary,
                         bool lines, bool info, std::string& reason, std::string& detail) {
    HttpExchange x;
    x.method = method_text(method);
    x.url = url_text(url);
    if (headers) {
        x.headers = header_lines(headers);
    } else {
        for (const auto& h : DEFAULT_HEADERS) x.headers.push_back(std::string(h[0]) + ": " + h[1]);
    }
    if (data) {
        x.has_body = true;
        if (TYPE_OF(data) == TYPE_BINARY) {
            std::vector<u8> bytes = binary::bytes_of(data);
            x.body.assign(bytes.begin(), bytes.end());
        } else {
            x.body = text_of(data, true);
        }
    }
    if (!perform(x)) {
        reason = x.reason;
        detail = x.detail;
        return nullptr;
    }
    if (!info) return body_value(x.response_body, binary, lines);
    Cell* answer = stack::push_slot();
    cell::init(answer, TYPE_UNSET);
    block::make_at(answer, 3);
    Cell status;
    cell::init(&status, TYPE_INTEGER);
    status.w2 = u32(i32(x.status));
    block::zs_append(answer, &status);
    block::zs_append(answer, parse_headers(x.response_headers));
    block::zs_append(answer, body_value(x.response_body, binary, lines));
    return answer;
}

}  // namespace simple_io
}  // namespace zir
