// The clipboard: see clipboard.hpp.
//
// The desktop tools run as child processes in a process group of their own
// (wl-copy and xclip stay behind to serve what they were given, and must not
// die with the console's Ctrl-C). A tool's input goes through one end of a
// socket pair, written with MSG_NOSIGNAL, so a tool that exits before taking
// it cannot raise SIGPIPE here; its output comes through a pipe. Both are
// served by one poll loop with a deadline, after which the tool is killed.
#include "services/clipboard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/file.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "services/spawn.hpp"

namespace zir {
namespace clipboard {

int tool_timeout_ms = 5000;
void (*encode_png)(const Cell* image, std::vector<u8>& out) = nullptr;
void (*decode_image)(const u8* bytes, i64 n, Cell* out) = nullptr;

namespace {

// The largest byte series the memory manager makes: a tool's output past it
// could not become a value.
constexpr i64 MAX_OUTPUT = MAX_LENGTH - 15;

std::optional<Layer> chosen;

// The process's own clipboard.
Content own;

// --- Running a desktop tool -------------------------------------------------------

i64 now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return i64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

struct ToolRun {
    int status = -1;        // the exit status; -1 when it ended by a signal
    std::vector<u8> output;
};

// Runs the program (found on PATH) with its arguments, feeding it `input`
// when given (else /dev/null) and capturing its standard output when asked;
// its error output is dropped. False when it cannot be started, does not end
// within the time-out (it is then killed) or writes more than a series holds.
bool run_tool(const std::vector<std::string>& args, const std::vector<u8>* input, bool capture, ToolRun& run) {
    Fd null_fd(above_std(::open("/dev/null", O_RDWR | O_CLOEXEC)));
    if (!null_fd.open()) return false;
    Fd feed, child_in, drain, child_out;
    if (input) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
        feed.reset(above_std(sv[0]));
        child_in.reset(above_std(sv[1]));
        if (!feed.open() || !child_in.open()) return false;
    }
    if (capture) {
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) return false;
        drain.reset(above_std(p[0]));
        child_out.reset(above_std(p[1]));
        if (!drain.open() || !child_out.open()) return false;
    }

    Spawn spawn(true);   // a process group of its own
    spawn.dup(input ? child_in.fd : null_fd.fd, 0);
    spawn.dup(capture ? child_out.fd : null_fd.fd, 1);
    spawn.dup(null_fd.fd, 2);
    pid_t pid = 0;
    if (spawn.start(&pid, args, true) != 0) return false;
    child_in.reset();
    child_out.reset();

    i64 deadline = now_ms() + tool_timeout_ms;
    size_t sent = 0;
    bool ok = true;
    if (feed.open()) fcntl(feed.fd, F_SETFL, fcntl(feed.fd, F_GETFL) | O_NONBLOCK);
    if (feed.open() && input->empty()) feed.reset();
    std::vector<u8> chunk(64 * 1024);
    run.output.clear();
    while (ok && (feed.open() || drain.open())) {
        i64 left = deadline - now_ms();
        if (left <= 0) {
            ok = false;
            break;
        }
        pollfd fds[2];
        nfds_t n = 0;
        if (feed.open()) fds[n++] = {feed.fd, POLLOUT, 0};
        if (drain.open()) fds[n++] = {drain.fd, POLLIN, 0};
        int ready = poll(fds, n, int(left));
        if (ready < 0 && errno != EINTR) ok = false;
        if (ready <= 0) continue;
        for (nfds_t i = 0; i < n; i++) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == feed.fd) {
                ssize_t w = ::send(feed.fd, input->data() + sent, input->size() - sent, MSG_NOSIGNAL);
                if (w > 0) sent += size_t(w);
                // A tool that stops reading has taken what it wanted.
                if ((w < 0 && errno != EAGAIN && errno != EINTR) || sent == input->size()) feed.reset();
            } else {
                ssize_t r = ::read(drain.fd, chunk.data(), chunk.size());
                if (r > 0) {
                    if (i64(run.output.size()) + r > MAX_OUTPUT) ok = false;
                    else run.output.insert(run.output.end(), chunk.data(), chunk.data() + r);
                } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                    drain.reset();
                }
            }
        }
    }
    feed.reset();
    drain.reset();
    // The tool has closed its streams (or is being given up): wait for its
    // end until the deadline.
    int status = 0;
    for (;;) {
        pid_t w = ok ? waitpid(pid, &status, WNOHANG) : 0;
        if (w == pid) break;
        if (w < 0 && errno != EINTR) return false;
        if (!ok || now_ms() >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        timespec pause{0, 2 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

bool on_path_q(const char* program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string_view rest(path);
    while (true) {
        size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/" + program;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

bool set_q(const char* variable) {
    const char* v = std::getenv(variable);
    return v && *v;
}

// --- The desktop's clipboard -----------------------------------------------------------

// The argument lists of the tools of a layer.
std::vector<std::string> list_command(Layer l) {
    if (l == Layer::WAYLAND) return {"wl-paste", "--list-types"};
    return {"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"};
}

std::vector<std::string> fetch_command(Layer l, const std::string& type) {
    if (l == Layer::WAYLAND) return {"wl-paste", "--no-newline", "--type", type};
    return {"xclip", "-selection", "clipboard", "-o", "-t", type};
}

std::vector<std::string> offer_command(Layer l, const std::string& type) {
    if (l == Layer::WAYLAND) return {"wl-copy", "--type", type};
    return {"xclip", "-selection", "clipboard", "-t", type, "-i"};
}

// The types the clipboard offers, one a line; an empty clipboard (the tool
// fails) offers none. False when the tool cannot run.
bool offered_types(Layer l, std::vector<std::string>& types) {
    ToolRun run;
    if (!run_tool(list_command(l), nullptr, true, run)) return false;
    types.clear();
    if (run.status != 0) return true;
    std::string_view text(reinterpret_cast<const char*>(run.output.data()), run.output.size());
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) types.emplace_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return true;
}

bool fetch(Layer l, const std::string& type, std::vector<u8>& bytes) {
    ToolRun run;
    if (!run_tool(fetch_command(l, type), nullptr, true, run) || run.status != 0) return false;
    bytes = std::move(run.output);
    return true;
}

bool offer(Layer l, const std::string& type, const std::vector<u8>& bytes) {
    ToolRun run;
    return run_tool(offer_command(l, type), &bytes, false, run) && run.status == 0;
}

// file: URIs of paths, and back. A path's bytes are kept when they are
// unreserved URI characters or "/", else written as %XX.
std::string file_uri(const std::string& path) {
    std::string uri = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-._~", c)) {
            uri += char(c);
        } else {
            uri += '%';
            uri += "0123456789ABCDEF"[c >> 4];
            uri += "0123456789ABCDEF"[c & 15];
        }
    }
    return uri;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The local path of a file: URI ("file:///p", "file://localhost/p" or
// "file:/p"); false for any other URI.
bool uri_path(std::string_view uri, std::string& path) {
    if (!uri.starts_with("file:")) return false;
    uri.remove_prefix(5);
    if (uri.starts_with("//")) {
        uri.remove_prefix(2);
        size_t slash = uri.find('/');
        if (slash == std::string_view::npos) return false;
        std::string_view host = uri.substr(0, slash);
        if (!host.empty() && host != "localhost") return false;
        uri.remove_prefix(slash);
    }
    if (!uri.starts_with("/")) return false;
    path.clear();
    for (size_t i = 0; i < uri.size(); i++) {
        int hi, lo;
        if (uri[i] == '%' && i + 2 < uri.size() && (hi = hex_digit(uri[i + 1])) >= 0 &&
            (lo = hex_digit(uri[i + 2])) >= 0) {
            path += char(hi * 16 + lo);
            i += 2;
        } else {
            path += uri[i];
        }
    }
    return true;
}

// The paths of a URI list, when every URI in it names a local file.
bool uri_list_paths(const std::vector<u8>& bytes, std::vector<std::string>& paths) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    paths.clear();
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line[0] != '#') {
            std::string path;
            if (!uri_path(line, path)) return false;
            paths.push_back(std::move(path));
        }
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return !paths.empty();
}

bool offered_q(const std::vector<std::string>& types, std::string_view type) {
    for (const std::string& t : types)
        if (t == type) return true;
    return false;
}

// Text types, best first: UTF-8 ones, then those of older programs (read as
// Latin-1 when they are not UTF-8).
constexpr const char* TEXT_TYPES[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"};
constexpr const char* IMAGE_TYPES[] = {"image/png", "image/jpeg", "image/gif"};

bool desktop_get(Layer l, Content& out) {
    out = Content{};
    std::vector<std::string> types;
    if (!offered_types(l, types)) return false;
    std::vector<u8> bytes;
    // A file list first: file managers offer the paths as text as well.
    if (offered_q(types, "text/uri-list")) {
        if (!fetch(l, "text/uri-list", bytes)) return false;
        if (uri_list_paths(bytes, out.files)) {
            out.kind = Content::FILES;
            return true;
        }
    }
    for (const char* type : TEXT_TYPES) {
        if (!offered_q(types, type)) continue;
        if (!fetch(l, type, bytes)) return false;
        // An empty text is what an emptied X11 clipboard holds.
        if (!bytes.empty()) {
            out.kind = Content::TEXT;
            out.text.assign(bytes.begin(), bytes.end());
        }
        return true;
    }
    for (const char* type : IMAGE_TYPES) {
        if (!offered_q(types, type)) continue;
        if (!fetch(l, type, out.image)) return false;
        out.kind = Content::IMAGE;
        out.image_type = type;
        return true;
    }
    return true;
}

bool desktop_put(Layer l, const Content& in) {
    switch (in.kind) {
        case Content::TEXT:
            return offer(l, l == Layer::WAYLAND ? "text/plain;charset=utf-8" : "UTF8_STRING",
                         std::vector<u8>(in.text.begin(), in.text.end()));
        case Content::FILES: {
            // Other programs need whole paths.
            std::string cwd;
            if (char* d = getcwd(nullptr, 0)) {
                cwd = d;
                std::free(d);
            }
            std::string list;
            for (const std::string& p : in.files) {
                list += file_uri(p.starts_with("/") ? p : cwd + (cwd.ends_with("/") ? "" : "/") + p);
                list += "\r\n";
            }
            return offer(l, "text/uri-list", std::vector<u8>(list.begin(), list.end()));
        }
        case Content::IMAGE:
            return offer(l, in.image_type, in.image);
        case Content::EMPTY:
            if (l == Layer::WAYLAND) {
                ToolRun run;
                return run_tool({"wl-copy", "--clear"}, nullptr, false, run) && run.status == 0;
            }
            // xclip cannot give the selection up: it holds an empty text.
            return offer(l, "UTF8_STRING", {});
    }
    return false;
}

// --- Values -------------------------------------------------------------------------------

// The text of a clipboard, its CR characters dropped, as a new string!.
void text_value(Cell* out, const std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text)
        if (c != '\r') kept += c;
    cell::init(out, TYPE_UNSET);
    string::make_at(out, i64(kept.size()), 1);
    string::append_utf8_lenient(out, reinterpret_cast<const u8*>(kept.data()), i64(kept.size()));
}

void files_value(Cell* out, const std::vector<std::string>& files) {
    cell::init(out, TYPE_UNSET);
    block::make_at(out, i32(files.size()));
    collector::RootCell item;
    for (const std::string& f : files) {
        cell::init(item.get(), TYPE_UNSET);
        string::make_at(item.get(), i64(f.size()), 1);
        string::append_utf8_lenient(item.get(), reinterpret_cast<const u8*>(f.data()), i64(f.size()));
        cell::set_type(item.get(), TYPE_FILE);
        block::zs_append(out, item.get());
    }
}

void image_value(Cell* out, const std::vector<u8>& bytes) {
    if (decode_image) {
        decode_image(bytes.data(), i64(bytes.size()), out);
        return;
    }
    *out = *binary::load(bytes.data(), i64(bytes.size()));
}

}  // namespace

// --- The layers ---------------------------------------------------------------------------

Layer detect_layer() {
    if (set_q("WAYLAND_DISPLAY") && on_path_q("wl-copy") && on_path_q("wl-paste")) return Layer::WAYLAND;
    if (set_q("DISPLAY") && on_path_q("xclip")) return Layer::X11;
    return Layer::PROCESS;
}

Layer layer() {
    if (!chosen) chosen = detect_layer();
    return *chosen;
}

void use_layer(Layer l) { chosen = l; }

bool get(Content& out) {
    Layer l = layer();
    if (l == Layer::PROCESS) {
        out = own;
        return true;
    }
    return desktop_get(l, out);
}

bool put(const Content& in) {
    Layer l = layer();
    if (l == Layer::PROCESS) {
        own = in;
        return true;
    }
    return desktop_put(l, in);
}

bool png_q(const u8* bytes, i64 n) {
    static const u8 signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return n >= 8 && std::memcmp(bytes, signature, 8) == 0;
}

Cell* read(Cell* out) {
    Content c;
    if (!get(c)) {
        logic::make_at(out, false);
        return out;
    }
    stack::KeepTop keep;
    Cell* value = stack::push(&none::value);
    switch (c.kind) {
        case Content::EMPTY:
            break;
        case Content::TEXT:
            text_value(value, c.text);
            break;
        case Content::FILES:
            files_value(value, c.files);
            break;
        case Content::IMAGE:
            image_value(value, c.image);
            break;
    }
    *out = *value;
    return out;
}

bool write(const Cell* value_in) {
    stack::KeepTop keep;
    Cell* value = stack::push(value_in);
    Content c;
    switch (TYPE_OF(value)) {
        case TYPE_NONE:
            break;
        case TYPE_STRING:
            c.kind = Content::TEXT;
            c.text = string::to_std(value);
            break;
        case TYPE_BLOCK: {
            c.kind = Content::FILES;
            Cell* path = stack::push(&none::value);
            for (i32 i = series::head_index(value); i < series::abs_length(series::buffer_of(value)); i++) {
                Cell* item = block::cell_at(value->w2, i);
                if (TYPE_OF(item) != TYPE_FILE) fire(ERR_SCRIPT, "invalid-arg", item);
                Cell file = *item;
                cell::init(path, TYPE_UNSET);
                string::make_at(path, 16, 1);
                file::to_local_path(&file, path, false);
                c.files.push_back(string::to_std(path));
            }
            break;
        }
        case TYPE_BINARY: {
            std::vector<u8> bytes = binary::bytes_of(value);
            if (!png_q(bytes.data(), i64(bytes.size()))) fire(ERR_SCRIPT, "invalid-arg", value);
            c.kind = Content::IMAGE;
            c.image = std::move(bytes);
            c.image_type = "image/png";
            break;
        }
        case TYPE_IMAGE:
            if (!encode_png) fire(ERR_INTERNAL, "not-done");
            encode_png(value, c.image);
            // An image of no pixel empties the clipboard.
            if (!c.image.empty()) {
                c.kind = Content::IMAGE;
                c.image_type = "image/png";
            }
            break;
        default:
            fire(ERR_SCRIPT, "invalid-arg", value);
    }
    return put(c);
}

}  // namespace clipboard
}  // namespace zir
