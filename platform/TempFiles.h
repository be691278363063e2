// The replacing writer's temporary files, inside the platform layer only: their names, the mark
// that tells a live writer's file from one a killed writer left, and the removal of the latter.
//
// A temporary is ".pelfry-" and eight letters or digits, made beside its target (the folder
// probe of FolderNameCase may add an "e acute"; FileLock's lock on a name uses one too). While a
// writer lives, its temporary carries a mark that goes with the process however it ends: an
// exclusive flock on POSIX systems; on Windows the writer's open handle itself, since the
// cleaner's open, which shares nothing, fails while any other handle is open. Before it writes into
// a folder, a writer removes the temporaries there that nobody marks: those of writers killed
// before they could clean up. Nothing named otherwise is ever removed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <mutex>
#else
#include <csignal>
#endif

namespace pelfry::temps {

// ---- On every system ----------------------------------------------------------------------------

// The temporaries' prefix, and that of the folders a window keeps its files in (WindowFolder.h).
inline constexpr std::string_view TempPrefix = ".pelfry-";
inline constexpr std::string_view WindowFolderPrefix = "pelfry-window-";

// A new random name: `prefix` and eight letters or digits (a temporary's by default).
std::string NewName(std::string_view prefix = TempPrefix);
// Whether `name` is one NewName could make with `prefix`.
bool IsTemporaryName(std::string_view name, std::string_view prefix = TempPrefix);

// For FolderNameCase: `name` with the case of every ASCII letter turned.
std::string OtherCase(std::string name);

// Runs the hook of SetBeforeRenameHook, if any.
void BeforeRename();

// Whether UseNamedTempFiles asked for temporaries named from the start.
bool NamedOnly();

// Whether the folder `volume`/`index` (its identity on this system) is met for the first time
// in this process. Stale temporaries are looked for once per folder and process: a batch that
// writes thousands of files into one folder must not read the whole folder for each of them.
bool FirstVisit(uint64_t volume, uint64_t index);

#ifndef _WIN32
// ---- POSIX systems
// -------------------------------------------------------------------------------

// Whether `name` in the open folder `folder` is still the file (or folder) open as `fd`, the
// name's link not followed: that it was not removed or replaced since it was opened.
bool StandsUnder(int fd, int folder, const std::string& name);
// The names in the open folder `folder`, "." and ".." left out; none when it cannot be read.
std::vector<std::string> FolderNames(int folder);
// Makes a temporary file in the open folder `folder`, marked: nameless (O_TMPFILE) when
// `nameless` and the system can, else under a new name written to `name`; with the permissions
// `mode` less the process's umask. Returns the open descriptor, or -1 with errno set.
int MakeTemporary(int folder, bool nameless, std::string& name, unsigned mode = 0600);
// Whether `name` in the open folder `folder` is still the file open as `fd`.
bool StandsUnder(int fd, int folder, const std::string& name);
// Removes the unmarked temporaries of `folder` (once per folder and process, see FirstVisit).
void RemoveStaleTemporaries(int folder);
// Records a named temporary of `folder` for the fatal-signal handler of InstallTempFileCleanup
// to remove; returns the slot to give back to Forget (-1 when all slots are taken).
int Remember(int folder, const std::string& name);
void Forget(int slot);
// Holds back the fatal signals that InstallTempFileCleanup handles while it lives: for the few
// calls during which a temporary name exists that the handler does not know of.
class SignalHold {
public:
    SignalHold();
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t saved_;
};
#else
// ---- Windows
// -------------------------------------------------------------------------------------

// Removes the temporaries in the folder `folder` (its full name, ending in "\"; `volume` and
// `index` its identity) that no process holds open, once per folder and process.
void RemoveStaleTemporaries(const std::wstring& folder, uint64_t volume, uint64_t index);
// Records the named temporary `path` for the Ctrl-C handler of InstallTempFileCleanup to
// remove; returns the slot to give back to Forget (-1 when all slots are taken).
int Remember(const std::wstring& path);
void Forget(int& slot);
// Held while a name is in flux (the steps of a replacement): the Ctrl-C handler waits for it,
// as the POSIX writer holds back signals for those steps.
std::mutex& NameSteps();
#endif

} // namespace pelfry::temps
