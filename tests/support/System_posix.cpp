#include "support/System.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pelfry::test {

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& outFile,
                           const std::string& errFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> all(args);
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
    id_ = pid;
}

ChildProcess::~ChildProcess() {
    Wait();
}

int ChildProcess::Wait() {
    if (waited_) return status_;
    int status = 0;
    while (::waitpid(static_cast<pid_t>(id_), &status, 0) < 0 && errno == EINTR) {
    }
    waited_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
}

void ChildProcess::Kill() {
    ::kill(static_cast<pid_t>(id_), SIGKILL);
}

std::string ThisProgram() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// A named pipe: each side's open waits for the other's.
static std::string SignalPath(const std::string& name) {
    return "/tmp/" + name;
}

ChildSignal::ChildSignal(const std::string& name)
    : handle_(::mkfifo(SignalPath(name).c_str(), 0600)) {
    path_ = SignalPath(name);
}

ChildSignal::~ChildSignal() {
    ::unlink(path_.c_str());
}

void ChildSignal::Wait() {
    const int fd = ::open(path_.c_str(), O_RDONLY);
    char byte = 0;
    while (fd >= 0 && ::read(fd, &byte, 1) < 0 && errno == EINTR) {
    }
    if (fd >= 0) ::close(fd);
}

void ChildSignal::Raise(const std::string& name) {
    const int fd = ::open(SignalPath(name).c_str(), O_WRONLY);
    if (fd < 0) return;
    const char byte = 1;
    while (::write(fd, &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(fd);
}

bool SetModifiedTime(const std::string& path, int64_t seconds, long nanoseconds) {
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = nanoseconds;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int64_t ModifiedSeconds(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return st.st_mtime;
}

bool MakeLink(const std::string& target, const std::string& link, bool) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

HeldFile::HeldFile(const std::string& path) : handle_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (handle_ < 0 || ::flock(static_cast<int>(handle_), LOCK_EX) != 0)
        throw std::runtime_error("cannot hold " + path);
}

HeldFile::~HeldFile() {
    ::close(static_cast<int>(handle_));
}

void SetEnvironment(const std::string& name, const char* value) {
    if (value)
        ::setenv(name.c_str(), value, 1);
    else
        ::unsetenv(name.c_str());
    ::tzset();
}

} // namespace pelfry::test
