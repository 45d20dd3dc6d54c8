// The process runner: see process.hpp.
//
// Programs start with posix_spawn (services/spawn.hpp): the child's standard
// streams are set by dup2 actions. Every descriptor this module opens is
// closed on exec, so a child holds only its own three.
//
// The caller's ends of the pipes are non-blocking and served by one poll loop
// until the child has closed both outputs and taken all of its input (or
// refused it by closing its end). Any error on a stream ends that stream: a
// read end closed early makes the child's further writes fail rather than
// block, so the loop always ends. SIGPIPE is blocked on the calling thread
// while the loop runs (a child that exits without reading its input must not
// end the caller), and one raised meanwhile is taken back before it is
// unblocked.
#include "services/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "datatypes/binary.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"
#include "services/spawn.hpp"
#include "services/simple_io.hpp"

namespace zir {
namespace call {

bool shell_used = false;
bool shell_error = false;

namespace {

bool make_pipe(Fd& read_end, Fd& write_end) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    read_end.reset(above_std(p[0]));
    write_end.reset(above_std(p[1]));
    return read_end.open() && write_end.open();
}

int open_cloexec(const char* path, int flags) {
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return above_std(fd);
}

// --- Reaping the children not waited for ----------------------------------------------

// Stack of a reaper thread: it only waits.
constexpr size_t REAPER_STACK = 256 * 1024;

// Children whose reaper could not be started, reaped at the next run.
std::vector<pid_t> unreaped;

void* reap(void* arg) {
    pid_t pid = pid_t(reinterpret_cast<intptr_t>(arg));
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return nullptr;
}

void reap_later(pid_t pid) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, REAPER_STACK);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    // The reaper inherits this mask: it must take none of the signals meant
    // for the evaluator.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, reap, reinterpret_cast<void*>(intptr_t(pid)));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) unreaped.push_back(pid);
}

void reap_unreaped() {
    std::erase_if(unreaped, [](pid_t pid) {
        int status;
        return waitpid(pid, &status, WNOHANG) != 0;
    });
}

// --- Starting -------------------------------------------------------------------------

// Blocks SIGPIPE on this thread while alive; one raised meanwhile by a write
// to a closed pipe is taken back before the old mask returns.
struct SigpipeBlock {
    sigset_t old;
    bool was_pending;
    SigpipeBlock() {
        sigset_t s;
        sigemptyset(&s);
        sigaddset(&s, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &s, &old);
        sigset_t pending;
        sigpending(&pending);
        was_pending = sigismember(&pending, SIGPIPE);
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending && sigismember(&pending, SIGPIPE)) {
            sigset_t s;
            sigemptyset(&s);
            sigaddset(&s, SIGPIPE);
            timespec zero{0, 0};
            sigtimedwait(&s, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;
};

// --- The poll loop --------------------------------------------------------------------

constexpr size_t PIPE_CHUNK = 64 * 1024;

void set_nonblocking(const Fd& f) {
    if (f.open()) fcntl(f.fd, F_SETFL, fcntl(f.fd, F_GETFL) | O_NONBLOCK);
}

bool again_q() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// Feeds `input` to `in` and collects `out` and `err` until every stream has
// ended; each descriptor is closed when its stream ends.
void pump(Fd& in, const std::vector<u8>& input, Fd& out, Redirect& out_to, Fd& err, Redirect& err_to) {
    set_nonblocking(in);
    set_nonblocking(out);
    set_nonblocking(err);
    size_t sent = 0;
    if (in.open() && input.empty()) in.reset();
    std::vector<u8> chunk(PIPE_CHUNK);
    auto collect = [&](Fd& from, Redirect& to) {
        ssize_t n = ::read(from.fd, chunk.data(), chunk.size());
        if (n > 0) {
            if (i64(to.bytes.size()) + n > simple_io::MAX_BYTES) to.overflow = true;
            if (!to.overflow) to.bytes.insert(to.bytes.end(), chunk.data(), chunk.data() + n);
        } else if (n == 0 || !again_q()) {
            from.reset();
        }
    };
    while (in.open() || out.open() || err.open()) {
        pollfd fds[3];
        Fd* owners[3];
        nfds_t n = 0;
        if (in.open()) fds[n] = {in.fd, POLLOUT, 0}, owners[n++] = &in;
        if (out.open()) fds[n] = {out.fd, POLLIN, 0}, owners[n++] = &out;
        if (err.open()) fds[n] = {err.fd, POLLIN, 0}, owners[n++] = &err;
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;   // the descriptors close on the way out; the child sees its pipes end
        }
        for (nfds_t i = 0; i < n; i++) {
            if (fds[i].revents == 0) continue;
            Fd& f = *owners[i];
            if (fds[i].revents & POLLNVAL) {
                f.fd = -1;
            } else if (&f == &in) {
                size_t left = std::min(input.size() - sent, PIPE_CHUNK);
                ssize_t w = ::write(in.fd, input.data() + sent, left);
                if (w > 0) sent += size_t(w);
                else if (w < 0 && !again_q()) in.reset();   // EPIPE: the child took no more
                if (sent == input.size()) in.reset();
            } else {
                collect(f, &f == &out ? out_to : err_to);
            }
        }
    }
    in.reset();
    out.reset();
    err.reset();
}

i64 exit_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// A program's path as the spawn takes it: a bare name that is a file of the
// current folder is that file, not one found through PATH.
std::string program_path(const std::string& path) {
    if (path.find('/') != std::string::npos || access(path.c_str(), F_OK) != 0) return path;
    return "./" + path;
}

// The path as one word of a shell command line, quoted so that the shell
// takes none of its characters as syntax.
std::string shell_quoted(const std::string& path) {
    std::string quoted = "'";
    for (char c : program_path(path)) {
        if (c == '\'') quoted += "'\\''";
        else quoted.push_back(c);
    }
    quoted.push_back('\'');
    return quoted;
}

}  // namespace

bool split_command(const std::string& command, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0, n = command.size();
    for (;;) {
        while (i < n && (command[i] == ' ' || command[i] == '\t')) i++;
        if (i == n) return true;
        std::string word;
        while (i < n && command[i] != ' ' && command[i] != '\t') {
            char c = command[i++];
            if (c == '\'') {
                size_t close = command.find('\'', i);
                if (close == std::string::npos) return false;
                word.append(command, i, close - i);
                i = close + 1;
            } else if (c == '"') {
                for (;;) {
                    if (i == n) return false;
                    c = command[i++];
                    if (c == '"') break;
                    if (c == '\\' && i < n && (command[i] == '"' || command[i] == '\\')) c = command[i++];
                    word.push_back(c);
                }
            } else {
                word.push_back(c);
            }
        }
        words.push_back(std::move(word));
    }
}

i64 run(const std::string& command, const Options& options, Redirect& in, Redirect& out, Redirect& err) {
    reap_unreaped();
    shell_used = options.shell;
    shell_error = false;
    bool redirected = in.kind != Redirect::NONE || out.kind != Redirect::NONE || err.kind != Redirect::NONE;
    bool waiting = options.wait || options.console || redirected;

    // child_fd[k] becomes the child's descriptor k; -1 leaves it the caller's.
    Fd null_fd(open_cloexec("/dev/null", O_RDWR));
    Fd child_end[3];       // descriptors opened for the child, closed here once it runs
    Fd feed, drain[2];     // our ends of the pipes
    int child_fd[3] = {-1, -1, -1};
    switch (in.kind) {
        case Redirect::FILE: {
            child_end[0].reset(open_cloexec(in.path.c_str(), O_RDONLY));
            if (!child_end[0].open()) return -1;
            // A folder opens to read here, but holds nothing to read.
            struct stat st;
            if (fstat(child_end[0].fd, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
            break;
        }
        case Redirect::BYTES:
            if (!make_pipe(child_end[0], feed)) return -1;
            break;
        default:
            break;
    }
    child_fd[0] = child_end[0].open() || (options.console && !redirected) ? child_end[0].fd : null_fd.fd;
    Redirect* targets[2] = {&out, &err};
    for (int k = 0; k < 2; k++) {
        Redirect& t = *targets[k];
        Fd& end = child_end[k + 1];
        if (t.kind == Redirect::CAPTURE) {
            t.bytes.clear();
            t.overflow = false;
            if (!make_pipe(drain[k], end)) return -1;
        } else if (t.kind == Redirect::FILE) {
            end.reset(open_cloexec(t.path.c_str(), O_WRONLY | O_CREAT | O_APPEND));
        }
        child_fd[k + 1] = end.open() || (t.kind == Redirect::NONE && options.console) ? end.fd : null_fd.fd;
    }

    Spawn spawn;
    for (int k = 0; k < 3; k++)
        if (child_fd[k] >= 0) spawn.dup(child_fd[k], k);

    pid_t pid = 0;
    int rc = ENOENT;
    std::vector<std::string> words;
    if (!options.shell) {
        if (options.program) rc = spawn.start(&pid, {program_path(command)}, true);
        else if (split_command(command, words) && !words.empty()) rc = spawn.start(&pid, words, true);
    }
    if (rc == ENOENT) {
        shell_used = true;
        rc = spawn.start(&pid, {"/bin/sh", "-c", options.program ? shell_quoted(command) : command}, false);
    }
    if (rc != 0) return -1;
    for (Fd& f : child_end) f.reset();   // kept open here, no stream would ever end

    {
        SigpipeBlock quiet;
        pump(feed, in.bytes, drain[0], out, drain[1], err);
    }
    shell_error = shell_used && err.kind == Redirect::CAPTURE && !err.bytes.empty();
    if (!waiting) {
        reap_later(pid);
        return pid;
    }
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return exit_status(status);
}

// --- The language's entry ---------------------------------------------------------------

namespace {

std::string os_text(const Cell* value) {
    std::string text;
    if (!file::to_os_text(value, text)) fire(ERR_SCRIPT, "invalid-arg", value);
    return text;
}

// The redirection a value asks for: a file! names a file either way; as input
// a string! gives its UTF-8 and a binary! its bytes, as output both capture.
void redirect_of(const Cell* value, Redirect& r, bool input) {
    if (!value) return;
    switch (TYPE_OF(value)) {
        case TYPE_FILE:
            r.kind = Redirect::FILE;
            r.path = file::to_os_path(value);
            break;
        case TYPE_STRING:
        case TYPE_BINARY:
            r.kind = input ? Redirect::BYTES : Redirect::CAPTURE;
            if (input && TYPE_OF(value) == TYPE_BINARY) {
                r.bytes = binary::bytes_of(value);
            } else if (input) {
                collector::RootCell text(*value);
                i32 len = -1;
                u8* p = unicode::to_utf8(text.get(), &len);
                r.bytes.assign(p, p + len);
            }
            break;
        default:
            fire(ERR_SCRIPT, "invalid-arg", value);
    }
}

// Inserts bytes at the binary's head, before what it holds.
void insert_at_head(Cell* bin, const std::vector<u8>& bytes) {
    i64 n = i64(bytes.size());
    if (i64(series::used_bytes(node_buffer(bin->w2))) + n > simple_io::MAX_BYTES) fire(ERR_SCRIPT, "size-limit", bin);
    binary::zs_insert(bin, 0, bytes.data(), n);
}

}  // namespace

void call(Cell* result, const Cell* command, const Options& options, const Cell* in, const Cell* out,
          const Cell* err) {
    std::string text = os_text(command);
    if (text.empty()) {
        integer::make_at(result, 0);
        return;
    }
    Redirect rin, rout, rerr;
    redirect_of(in, rin, true);
    redirect_of(out, rout, false);
    redirect_of(err, rerr, false);
    i64 code = run(text, options, rin, rout, rerr);

    // Every capture is decoded before any target changes, so that an error
    // leaves both as they were.
    const Cell* targets[2] = {out, err};
    Redirect* captures[2] = {&rout, &rerr};
    collector::RootCell decoded[2];
    for (int k = 0; k < 2; k++) {
        if (captures[k]->kind != Redirect::CAPTURE) continue;
        if (captures[k]->overflow) fire(ERR_SCRIPT, "size-limit", targets[k]);
        if (TYPE_OF(targets[k]) == TYPE_STRING && !captures[k]->bytes.empty())
            simple_io::bytes_to_string(decoded[k].get(), captures[k]->bytes.data(), i64(captures[k]->bytes.size()),
                                       targets[k]);
    }
    for (int k = 0; k < 2; k++) {
        if (captures[k]->kind != Redirect::CAPTURE || captures[k]->bytes.empty()) continue;
        collector::RootCell target(*targets[k]);
        if (TYPE_OF(target.get()) == TYPE_BINARY)
            insert_at_head(target.get(), captures[k]->bytes);
        else
            string::concatenate(target.get(), decoded[k].get(), -1, 0, true, string::CONCAT_APPEND);
    }
    integer::make_at(result, i32(code));
}

int start_detached(const std::vector<std::string>& words) {
    reap_unreaped();
    Fd null(open_cloexec("/dev/null", O_RDWR));
    Spawn spawn;
    if (null.open())
        for (int target = 0; target <= 2; target++) spawn.dup(null.fd, target);
    pid_t pid;
    int rc = spawn.start(&pid, words, true);
    if (rc == 0) reap_later(pid);
    return rc;
}

}  // namespace call
}  // namespace zir
