// What pelfry-cli says besides its results: errors and warnings led by the file they concern,
// and progress through many files. Standard output carries results only, so that they can be
// piped; everything here goes to standard error.
//
// Messages read "pelfry-cli: TEXT" for errors and "pelfry-cli: warning: TEXT" for warnings,
// where TEXT is the library's own message, led by "FILE: " when it does not name its file.
#pragma once

#include "app/Batch.h"
#include "base/Errors.h"
#include "platform/FileLock.h"

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace pelfry::cli {

// Writes "pelfry-cli: warning: TEXT" to standard error.
void PrintWarning(const std::string& text);

// How a writer of `archive` waits for another: as long as it takes, saying once after a second
// "pelfry-cli: waiting for another program to finish with ARCHIVE" (nothing with `quiet`).
LockWait TellWhenWaiting(const std::string& archive, bool quiet);

// Whether `message` names `name`: holds it with no letter or digit right before or after it,
// so that a short name such as "a" is not found inside a word of the message; "\" and "/"
// count as the same.
bool NamesFile(std::string_view message, std::string_view name);

// An error whose message already leads with or names its file; outer ForFile calls pass it on.
class FileError : public Error {
public:
    using Error::Error;
};

// Runs `job`, the work on `file`. An error it raises comes out as FileError, with "FILE: "
// before the message when it has no place and names neither `file` nor `alsoNamed` (the entry name
// that stands for the file, say): "MANY.IMG.bmp: Too many colours in image! (ImgFileU.cpp,
// line 354) [the picture has 130 colours ...]". Out of memory becomes "FILE: Out of memory".
// UsageError passes through.
void ForFile(const std::string& file, const std::function<void()>& job,
             const std::string& alsoNamed = {});

// Progress of one command through `total` files, its result lines and its warnings. On a
// terminal, progress is one line ("Processing file 12 of 300: HERO.SPR") rewritten in place,
// cut to the terminal's width and taken away before anything else is written and at the end.
// Elsewhere it is one line per file, or none for commands whose result lines already tell
// each file. With `quiet` only errors are written (by the caller): no progress, results or
// warnings.
class Progress {
public:
    enum class Plain { LinePerFile, Silent };
    Progress(size_t total, bool quiet, Plain plain);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // File `number` (from 1) is `file`; the warnings after it are about that file.
    void Show(size_t number, const std::string& file);
    // A line of results on standard output.
    void Result(std::string_view line);
    // "pelfry-cli: warning: TEXT", TEXT led by the file shown last when it does not name it.
    void Warn(const std::string& text);

private:
    void Clear();

    size_t total_;
    bool quiet_;
    Plain plain_;
    bool terminal_;
    int columns_;
    bool drawn_ = false; // a progress line stands on the terminal
    std::string file_;
};

// How a command follows the batch engine: its progress on `progress`, each file's work run
// through ForFile with the file and the entry name that `named` gives for the file's index
// (from 0), its warnings as Progress::Warn, and `settings` for its back conversions.
class CommandFollower : public BatchFollower {
public:
    using Named = std::function<std::pair<std::string, std::string>(size_t index)>;
    CommandFollower(Progress& progress, Named named, BackSettings settings = {})
        : progress_(progress), named_(std::move(named)), settings_(std::move(settings)) {}

    void Begin(int number, int total, const std::string& shown) override;
    void Work(const std::function<void()>& work) override;
    void Warn(const std::string& text) override { progress_.Warn(text); }
    BackSettings Settings() override { return settings_; }

private:
    Progress& progress_;
    Named named_;
    BackSettings settings_;
    size_t at_ = 0; // the file begun last
};

} // namespace pelfry::cli
