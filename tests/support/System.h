// What the tests ask of the operating system beyond the program's own platform layer: child
// processes, file times set to the nanosecond, links, the environment. One implementation per
// system (System_posix.cpp, System_win.cpp), so that test files need no system headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelfry::test {

#ifdef _WIN32
inline constexpr bool OnWindows = true;
#else
inline constexpr bool OnWindows = false;
#endif

// A program started with raw byte (UTF-8) arguments and no shell, its standard output and
// error going to the files named; waited for when the object goes.
class ChildProcess {
public:
    // argv[0] is the program; on Windows ".exe" is added when it has no extension.
    ChildProcess(const std::vector<std::string>& argv, const std::string& outFile,
                 const std::string& errFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits for the end; the exit status, -1 when a signal ended it.
    int Wait();
    // Ends the program at once and unwarned (SIGKILL, TerminateProcess).
    void Kill();

private:
    intptr_t id_ = 0; // the process id, or on Windows its handle
    bool waited_ = false;
    int status_ = -1;
};

// The test program itself, to run one of its own tests as a child process.
std::string ThisProgram();

// A signal from a child process to the test that started it, by name: the child raises it,
// the test waits for it (no sleeping, no polling).
class ChildSignal {
public:
    explicit ChildSignal(const std::string& name);
    ~ChildSignal();
    ChildSignal(const ChildSignal&) = delete;
    ChildSignal& operator=(const ChildSignal&) = delete;
    void Wait();
    static void Raise(const std::string& name);

private:
    intptr_t handle_ = -1;
    std::string path_; // where the system names signals by path
};

// Sets the modification (and access) time of a file to `seconds` since 1970 and
// `nanoseconds` (as precise as the system keeps: 100 ns on Windows). False on failure.
bool SetModifiedTime(const std::string& path, int64_t seconds, long nanoseconds);
// A file's modification time in whole seconds since 1970; -1 when it cannot be read.
int64_t ModifiedSeconds(const std::string& path);

// Makes a symbolic link `link` to `target` (a folder link when `folder`). False when the
// system refuses (Windows without the right to make links): tests of links then skip.
bool MakeLink(const std::string& target, const std::string& link, bool folder);
// Whether `path` is itself a symbolic link (or another reparse point on Windows).
bool IsLink(const std::string& path);

// Keeps the file `path` open as a live writer keeps its temporary file, with the writers' mark
// (an exclusive flock on POSIX systems; on Windows the open handle is the mark), until the
// object goes.
class HeldFile {
public:
    explicit HeldFile(const std::string& path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    intptr_t handle_ = -1;
};

// Sets (or with `value` null removes) an environment variable of this process, and reloads
// the time zone when it is TZ.
void SetEnvironment(const std::string& name, const char* value);

} // namespace pelfry::test
