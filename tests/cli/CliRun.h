// Runs the built pelfry-cli with raw byte arguments (no shell) and collects its exit status
// and both output streams.
#pragma once

#include "archive/TestFolder.h"
#include "support/System.h"

#include <string>
#include <vector>

namespace pelfry::test {

struct CliResult {
    int status = -1; // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// What pelfry-cli says when it waits for another writer of the file that follows.
inline const std::string WaitingFor = "pelfry-cli: waiting for another program to finish with ";

inline std::string CliPath() {
    return std::string(PELFRY_BIN_DIR) + "/pelfry-cli";
}

// A pelfry-cli started and not yet waited for.
class CliProcess {
public:
    explicit CliProcess(const std::vector<std::string>& args)
        : child_(Command(args), capture_ / "stdout", capture_ / "stderr") {}
    // Whether the program ends within `milliseconds`.
    bool EndsWithin(int milliseconds) { return child_.WaitFor(milliseconds); }
    // Waits until the program's error output holds `text`; false when it ends without.
    bool Says(const std::string& text) {
        for (bool ended = false;; ended = EndsWithin(10)) {
            const std::vector<uint8_t> err = ReadFile(capture_ / "stderr");
            if (std::string(err.begin(), err.end()).find(text) != std::string::npos) return true;
            if (ended) return false;
        }
    }
    // Ends the program at once and unwarned (SIGKILL, TerminateProcess).
    void Kill() { child_.Kill(); }
    // Waits for the program to end and collects what it wrote.
    CliResult Finish() {
        CliResult result;
        result.status = child_.Wait();
        auto text = [](const std::string& path) {
            std::vector<uint8_t> bytes = ReadFile(path);
            return std::string(bytes.begin(), bytes.end());
        };
        result.out = text(capture_ / "stdout");
        result.err = text(capture_ / "stderr");
        return result;
    }

private:
    static std::vector<std::string> Command(const std::vector<std::string>& args) {
        std::vector<std::string> all = {CliPath()};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    TestFolder capture_;
    ChildProcess child_;
};

inline CliResult RunCli(const std::vector<std::string>& args) {
    return CliProcess(args).Finish();
}

} // namespace pelfry::test
