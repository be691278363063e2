// The temporaries' names and the folders already cleaned, the same on every system; making,
// marking and removing them is in TempFiles_posix.cpp and TempFiles_win.cpp.
#include "TempFiles.h"

#include "FileUtil.h"
#include "ReplacingFile.h"

#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <utility>

namespace pelfry {

namespace {

constexpr size_t RandomLetters = 8;
constexpr std::string_view Letters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::atomic<bool> namedOnly{false};
std::atomic<void (*)()> beforeRename{nullptr};

} // namespace

void UseNamedTempFiles(bool named) {
    namedOnly = named;
}

void SetBeforeRenameHook(void (*hook)()) {
    beforeRename = hook;
}

namespace temps {

void BeforeRename() {
    if (void (*hook)() = beforeRename.load()) hook();
}

bool NamedOnly() {
    return namedOnly;
}

std::string NewName(std::string_view prefix) {
    static thread_local std::mt19937 random(std::random_device{}());
    std::string name(prefix);
    for (size_t i = 0; i < RandomLetters; ++i)
        name += Letters[random() % Letters.size()];
    return name;
}

bool IsTemporaryName(std::string_view name, std::string_view prefix) {
    // The folder probe's name may end in an "e acute" (FolderNameCase).
    if (name.size() == prefix.size() + RandomLetters + 2 &&
        name.substr(name.size() - 2) == "\xC3\xA9")
        name.remove_suffix(2);
    if (name.size() != prefix.size() + RandomLetters || name.substr(0, prefix.size()) != prefix)
        return false;
    for (char c : name.substr(prefix.size()))
        if (Letters.find(c) == std::string_view::npos) return false;
    return true;
}

std::string OtherCase(std::string name) {
    for (char& c : name)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c ^= 0x20;
    return name;
}

bool FirstVisit(uint64_t volume, uint64_t index) {
    static std::mutex guard;
    static std::set<std::pair<uint64_t, uint64_t>> visited;
    std::lock_guard<std::mutex> hold(guard);
    return visited.emplace(volume, index).second;
}

} // namespace temps
} // namespace pelfry
