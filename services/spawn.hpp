// Descriptors and child processes as the services hold them: a guard that
// closes a descriptor on every way out, errors included, the move of a
// descriptor above the standard three before a child gets it, and the
// posix_spawn set-up shared by the process runner and the clipboard's tools.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace zir {

// A descriptor closed when the guard goes, or earlier by `reset`.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void reset(int f = -1) {
        if (fd >= 0) ::close(fd);
        fd = f;
    }
    // Gives the descriptor up without closing it.
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
    bool open() const { return fd >= 0; }
};

// A descriptor above the standard three (closed on exec), so that a child's
// dup2 onto 0, 1 or 2 never meets one already in its place (which would keep
// its close-on-exec flag). Happens only when the process closed one of them.
inline int above_std(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// posix_spawn's file actions and attributes, destroyed with the guard. A
// child starts with an empty signal mask and SIGPIPE, SIGINT and SIGQUIT at
// their defaults (the program ignores SIGPIPE, and a child must not inherit
// that); with `own_group`, in a process group of its own.
struct Spawn {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    explicit Spawn(bool own_group = false) {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int sig : {SIGPIPE, SIGINT, SIGQUIT}) sigaddset(&defaults, sig);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (own_group) {
            posix_spawnattr_setpgroup(&attr, 0);
            flags |= POSIX_SPAWN_SETPGROUP;
        }
        posix_spawnattr_setflags(&attr, flags);
    }
    ~Spawn() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    Spawn(const Spawn&) = delete;
    Spawn& operator=(const Spawn&) = delete;

    // The child's descriptor `target` becomes a copy of `fd`.
    void dup(int fd, int target) { posix_spawn_file_actions_adddup2(&actions, fd, target); }

    // Starts the program words[0] (found on PATH with `search`) with the
    // words as its arguments; answers 0 or the error number.
    int start(pid_t* pid, const std::vector<std::string>& words, bool search) {
        std::vector<char*> argv;
        for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(nullptr);
        return search ? posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ)
                      : posix_spawn(pid, argv[0], &actions, &attr, argv.data(), environ);
    }
};

}  // namespace zir
