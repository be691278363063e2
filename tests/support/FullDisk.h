// A folder where a write of more than `Room` bytes fails as on a full disk, with the system's
// error `Code`. On Windows the folder lies on the small disk that PELFRY_TEST_SMALL_DISK names
// (tools/build-windows.sh maps a drive letter to a 1 MiB tmpfs), which one test at a time uses;
// without it Ready() is false and the test skips. Elsewhere the folder is an ordinary temporary
// one, and the disk is full while a `Filled` object lives: this process, and the programs it
// starts meanwhile, may write no file beyond Room bytes (a file size limit).
#pragma once

#include "support/System.h"
#include "support/TempDir.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/FileSizeLimit.h"
#endif

namespace pelfry::test {

class FullDisk {
public:
    static constexpr size_t Room = 1 << 20;
    static constexpr int Code = OnWindows ? ENOSPC : EFBIG;
    static constexpr const char* Missing =
        "no small disk: PELFRY_TEST_SMALL_DISK names none (tools/build-windows.sh maps one when "
        "it can mount a tmpfs)";

    FullDisk() {
        if (!OnWindows) {
            folder_.emplace();
        } else if (const char* disk = std::getenv("PELFRY_TEST_SMALL_DISK"); disk && *disk) {
            // No test fills the disk while another needs a little room on it.
            turn_.emplace("pelfry-test-small-disk");
            folder_.emplace("pelfry-full-", IncludeTrailingSeparator(disk));
        }
    }

    bool Ready() const { return folder_.has_value(); }
    const std::string& Path() const { return folder_->Path(); }
    std::string operator/(const std::string& name) const { return *folder_ / name; }
    std::vector<std::string> Entries(const std::string& sub = "") const {
        return folder_->Entries(sub);
    }

    // The disk is full while one lives (the small disk always is).
    class Filled {
    public:
        Filled() {} // user-provided: a Filled held only for its effect draws no warning

    private:
#ifndef _WIN32
        FileSizeLimit limit_{Room};
#endif
    };

private:
    std::optional<SharedTurn> turn_; // made before the folder, ended after it
    std::optional<TempDir> folder_;
};

} // namespace pelfry::test
