// How many lock requests wait on a file: the kernel lists them in /proc/locks with "->".
// Tests wait for this instead of sleeping when they need a writer to be blocked.
#pragma once

#include <fstream>
#include <string>
#include <sys/stat.h>

namespace pelfry::test {

inline int LockWaiters(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    std::ifstream locks("/proc/locks");
    const std::string inode = ":" + std::to_string(st.st_ino) + " ";
    int waiters = 0;
    for (std::string line; std::getline(locks, line);)
        if (line.find("->") != std::string::npos && line.find(inode) != std::string::npos)
            ++waiters;
    return waiters;
}

} // namespace pelfry::test
