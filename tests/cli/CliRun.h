// Runs the built pelfry-cli with raw byte arguments (no shell) and collects its exit status
// and both output streams.
#pragma once

#include "archive/TestFolder.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace pelfry::test {

struct CliResult {
    int status = -1; // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

inline std::string CliPath() { return std::string(PELFRY_BIN_DIR) + "/pelfry-cli"; }

// A pelfry-cli started and not yet waited for.
class CliProcess {
public:
    explicit CliProcess(const std::vector<std::string>& args) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (capture_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (capture_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> all = {CliPath()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " + CliPath());
    }
    // Waits for the program to end and collects what it wrote.
    CliResult Finish() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        CliResult result;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        auto text = [](const std::string& path) {
            std::vector<uint8_t> bytes = ReadFile(path);
            return std::string(bytes.begin(), bytes.end());
        };
        result.out = text(capture_ / "stdout");
        result.err = text(capture_ / "stderr");
        return result;
    }

private:
    TestFolder capture_;
    pid_t pid_ = 0;
};

inline CliResult RunCli(const std::vector<std::string>& args) { return CliProcess(args).Finish(); }

} // namespace pelfry::test
