// url!: the datatype; see url.hpp.
#include "datatypes/url.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "services/http.hpp"

namespace zir {
namespace url {

void (*parse_url)(const Cell* url, Cell* result) = nullptr;

namespace {

// The method words of HTTP requests.
i32 word_get = 0;
i32 word_post = 0;

[[noreturn]] void not_done() { fire(ERR_INTERNAL, "not-done"); }

Cell* fresh_result() {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    return out;
}

// Element i of a block, copied out of its buffer.
Cell element_of(const Cell* block, i32 i) { return series::head_cells(series::buffer_of(block))[i]; }

inline i32 block_length(const Cell* block) { return series::abs_length(series::buffer_of(block)); }

// A url from a block of parts: scheme "://" host [":" port] and, when more
// parts follow, "/" and the parts joined by "/" (by "#" before an issue!).
// Nothing is added after a host or port that ends the block.
Cell* from_block(const Cell* spec, u32 type) {
    collector::RootCell parts(*spec);
    i32 i = series::head_index(parts.get());
    if (i >= block_length(parts.get())) {
        Cell target;
        datatype::make_at(&target, type);
        fire(ERR_SCRIPT, "bad-to-arg", &target, spec);
    }
    Cell* out = fresh_result();
    string::make_at(out, 16, 1);
    auto type_at = [&](i32 k) { return TYPE_OF(&series::head_cells(series::buffer_of(parts.get()))[k]); };
    auto form_at = [&](i32 k) {
        const Cell part = element_of(parts.get(), k);
        actions::form(&part, out, nullptr, PART_UNLIMITED);
    };
    form_at(i++);
    string::append_literal(out, "://");
    // The block's length is read afresh at each step: nothing here holds on
    // to its buffer, which forming may move.
    if (i < block_length(parts.get())) {
        form_at(i++);
        if (i < block_length(parts.get()) && type_at(i) == TYPE_INTEGER) {
            string::append_char(out, ':');
            form_at(i++);
        }
        if (i < block_length(parts.get())) string::append_char(out, '/');
        for (; i < block_length(parts.get()); i++) {
            form_at(i);
            if (i + 1 < block_length(parts.get())) string::append_char(out, type_at(i + 1) == TYPE_ISSUE ? '#' : '/');
        }
    }
    cell::set_type(out, type);
    return out;
}

// Whether the text from the head begins with "http", compared exactly.
bool http_q(const Cell* url) {
    static const char prefix[] = "http";
    if (string::zs_length(url) < 4) return false;
    for (i32 i = 0; i < 4; i++)
        if (string::get_char_at(url, i32(url->w1) + i) != u32(u8(prefix[i]))) return false;
    return true;
}

// A port action, or `internal not-done` while port! lacks it.
template <typename F>
F port_action(u32 slot) {
    action::Generic f = actions::lookup(TYPE_PORT, slot);
    if (!f) not_done();
    return reinterpret_cast<F>(f);
}

// A request that gets no answer raises `access no-connect` with the url, the
// client's reason and, when it has one, its longer account.
Cell* answer_http(Cell* url, const Cell* method, const Cell* headers, const Cell* data, bool binary, bool lines,
                  bool info) {
    std::string reason, detail;
    const Cell* answer = simple_io::request_http(method, url, headers, data, binary, lines, info, reason, detail);
    if (!answer || TYPE_OF(answer) == TYPE_NONE) {
        if (reason.empty()) reason = "no answer";
        auto text = [](const std::string& s) {
            return string::load_push(reinterpret_cast<const u8*>(s.data()), i64(s.size()), string::ENCODING_UTF8);
        };
        Cell* why = text(reason);
        fire(ERR_ACCESS, "no-connect", url, why, detail.empty() ? nullptr : text(detail));
    }
    *url = *answer;
    return url;
}

}  // namespace

Cell* push(const Cell* value) { return stack::push(value); }

Cell* to_port(Cell* url, bool open, bool new_, bool read, bool write, bool seek, Cell* allow) {
    if (!parse_url) not_done();
    collector::RootCell spec;
    parse_url(url, spec.get());
    if (TYPE_OF(spec.get()) != TYPE_OBJECT) fire(ERR_SCRIPT, "invalid-arg", url);
    auto make_port = port_action<action::Make>(ACT_MAKE);
    Cell* saved = stack::top;
    Cell proto;
    datatype::make_at(&proto, TYPE_PORT);
    *url = *make_port(&proto, spec.get(), TYPE_PORT);
    stack::top = saved;
    if (open) port_action<action::Open>(ACT_OPEN)(url, new_, read, write, seek, allow);
    return url;
}

// --- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type) {
    u32 st = TYPE_OF(spec);
    if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) return from_block(spec, type);
    return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, u32 type) {
    u32 st = TYPE_OF(spec);
    if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) return from_block(spec, type);
    return string::to(proto, spec, type);
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    i64 limit = arg ? (part > 0 ? part : 0) : -1;
    return part - i32(encode(value, buffer, ENCODE_WIDE, limit));
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool, bool get, bool,
                bool) {
    if (!get && value) fire(ERR_SCRIPT, "bad-path-set", element, path ? path : &none::value);
    const Cell url = *parent;
    i32 length = string::zs_length(&url);
    Cell* out = fresh_result();
    // A get-word stands for its value; the value stays on the stack, above
    // the result, while it is formed.
    const Cell segment = TYPE_OF(element) == TYPE_GET_WORD ? *get_word::push_value(element) : *element;
    string::make_at(out, i64(length) + 16, 1);
    actions::form(&segment, out, nullptr, PART_UNLIMITED);
    bool url_slash = length > 0 && string::get_char_at(&url, string::zs_abs_length(&url) - 1) == '/';
    bool element_slash = string::zs_length(out) > 0 && string::get_char_at(out, 0) == '/';
    if (url_slash && element_slash) string::remove_char(out, 0);
    else if (!url_slash && !element_slash) string::insert_char(out, 0, '/');
    string::concatenate(out, &url, -1, 0, true, string::CONCAT_INSERT);
    cell::set_type(out, TYPE_OF(&url));
    stack::top = out + 1;
    return out;
}

Cell* open(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return to_port(url, true, new_, read, write, seek, allow);
}

Cell* read(Cell* url, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (http_q(url)) {
        if (part || seek || as) not_done();
        Cell method;
        series::make_word(&method, word_get);
        return answer_http(url, &method, nullptr, nullptr, binary, lines, info);
    }
    to_port(url, false, false, false, false, false, nullptr);
    return port_action<action::Read>(ACT_READ)(url, part, seek, binary, lines, info, as);
}

Cell* write(Cell* url, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as) {
    if (!http_q(url)) {
        to_port(url, false, false, false, false, false, nullptr);
        return port_action<action::Write>(ACT_WRITE)(url, data, binary, lines, info, append, part, seek, allow,
                                                     as);
    }
    if (part || seek || as) not_done();
    // The request's parts are copied out of the block: the request allocates.
    Cell method, headers, body;
    bool has_headers = false, has_body = false;
    if (TYPE_OF(data) == TYPE_BLOCK) {
        i32 h = series::head_index(data), n = block_length(data);
        series::make_word(&method, word_get);
        if (h < n) {
            Cell first = element_of(data, h);
            if (TYPE_OF(&first) != TYPE_WORD) fire(ERR_SCRIPT, "invalid-arg", &first);
            series::make_word(&method, i32(first.w2));
            if (h + 1 < n) {
                headers = element_of(data, h + 1);
                if (TYPE_OF(&headers) != TYPE_BLOCK) fire(ERR_SCRIPT, "invalid-arg", &headers);
                has_headers = true;
            }
            if (h + 2 < n) {
                body = element_of(data, h + 2);
                has_body = true;
            }
        }
    } else {
        series::make_word(&method, word_post);
        body = *data;
        has_body = true;
    }
    if (has_body) {
        u32 bt = TYPE_OF(&body);
        if (bt != TYPE_BLOCK && bt != TYPE_STRING && bt != TYPE_BINARY) fire(ERR_SCRIPT, "invalid-arg", &body);
    }
    return answer_http(url, &method, has_headers ? &headers : nullptr, has_body ? &body : nullptr, binary, lines,
                       info);
}

// --- Registration ---------------------------------------------------------------------

void init() {
    datatype::Registration r(TYPE_URL, TYPE_STRING, "url!");
    r.only_own();
    for (u32 slot : {ACT_FORM, ACT_COMPARE, ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND,
                     ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK,
                     ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q,
                     ACT_TAKE, ACT_MODIFY})
        r.from_parent(slot);
    r.on<ACT_MAKE>(make).on<ACT_TO>(to).on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path);
    r.on<ACT_OPEN>(open).on<ACT_READ>(read).on<ACT_WRITE>(write);
    datatype::register_(r);
}

void init_state() {
    word_get = symbol::make("get");
    word_post = symbol::make("post");
}

}  // namespace url
}  // namespace zir
