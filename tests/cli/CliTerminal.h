// Runs the built pelfry-cli with its standard error on a pseudo-terminal, as in a user's
// terminal window, and collects what it drew there byte for byte.
#pragma once

#include "CliRun.h"

#if __has_include(<pty.h>)
#define PELFRY_HAS_PTY 1
#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace pelfry::test {

// `err` holds the terminal's bytes (no line-end translation), `out` standard output (a file).
inline CliResult RunCliOnTerminal(const std::vector<std::string>& args, int columns) {
    TestFolder capture;
    int master = -1, slave = -1;
    struct winsize size {};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = 24;
    if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0)
        throw std::runtime_error("openpty failed");
    struct termios raw {};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (capture / "stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, slave);
    std::vector<std::string> all = {CliPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave); // the program holds the only other end: reads end once it has exited
    if (rc != 0) {
        ::close(master);
        throw std::runtime_error("cannot start " + CliPath());
    }

    CliResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            result.err.append(buffer, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // EIO: the terminal's last writer has gone
    }
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> out = ReadFile(capture / "stdout");
    result.out.assign(out.begin(), out.end());
    return result;
}

} // namespace pelfry::test

#else
#define PELFRY_HAS_PTY 0
#endif
