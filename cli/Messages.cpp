#include "cli/Messages.h"

#include "cli/Cli.h"
#include "platform/Console.h"
#include "platform/FileUtil.h"

#include <cstdio>
#include <new>

namespace pelfry::cli {

namespace {

bool IsWordByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

void PrintWarning(const std::string& text) {
    WriteLine(stderr, "pelfry-cli: warning: " + text);
}

LockWait TellWhenWaiting(const std::string& archive, bool quiet) {
    LockWait wait;
    if (!quiet)
        wait.Slow = [archive] {
            WriteLine(stderr, "pelfry-cli: waiting for another program to finish with " + archive);
            std::fflush(stderr);
        };
    return wait;
}

bool NamesFile(std::string_view messageText, std::string_view nameText) {
    if (nameText.empty()) return false;
    // Paths in messages may spell a separator either way ("work/UI\ICON.IMG" is written as
    // "work/UI/ICON.IMG").
    const std::string message = NativePath(messageText);
    const std::string name = NativePath(nameText);
    for (size_t at = message.find(name); at != std::string::npos; at = message.find(name, at + 1)) {
        const size_t end = at + name.size();
        if ((at == 0 || !IsWordByte(message[at - 1])) &&
            (end == message.size() || !IsWordByte(message[end])))
            return true;
    }
    return false;
}

void ForFile(const std::string& file, const std::function<void()>& job,
             const std::string& alsoNamed) {
    try {
        job();
    } catch (const FileError&) {
        throw;
    } catch (const UsageError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw FileError(file + ": Out of memory");
    } catch (const std::exception& e) {
        const std::string text = ErrorText(e);
        // An error that says where it lies names its file there.
        const auto* placed = dynamic_cast<const Error*>(&e);
        if ((placed && !placed->Where().empty()) || NamesFile(text, file) ||
            NamesFile(text, alsoNamed))
            throw FileError(text);
        throw FileError(file + ": " + text);
    }
}

Progress::Progress(size_t total, bool quiet, Plain plain)
    : total_(total), quiet_(quiet), plain_(plain), terminal_(!quiet && StandardErrorIsTerminal()),
      columns_(terminal_ ? StandardErrorColumns() : 0) {}

Progress::~Progress() {
    Clear();
}

void Progress::Show(size_t number, const std::string& file) {
    file_ = file;
    if (quiet_) return;
    std::string line =
        "Processing file " + std::to_string(number) + " of " + std::to_string(total_) + ": ";
    if (terminal_) {
        // Control bytes in an entry name would move the cursor and break the line in place.
        for (char c : file)
            line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
        // A line longer than the terminal wraps, and "\r" would then rewrite only its end.
        if (columns_ > 1 && line.size() >= static_cast<size_t>(columns_))
            line.resize(static_cast<size_t>(columns_) - 1);
        std::fputs("\r\033[K", stderr);
        std::fwrite(line.data(), 1, line.size(), stderr);
        drawn_ = true;
    } else if (plain_ == Plain::LinePerFile) {
        line += file;
        WriteLine(stderr, line);
    }
    std::fflush(stderr);
}

void Progress::Result(std::string_view line) {
    if (quiet_) return;
    Clear();
    WriteLine(stdout, line);
    // Standard output may be the same terminal: the result goes out before the next progress line.
    if (terminal_) std::fflush(stdout);
}

void Progress::Warn(const std::string& text) {
    if (quiet_) return;
    Clear();
    const bool named = file_.empty() || NamesFile(text, file_);
    PrintWarning(named ? text : file_ + ": " + text);
}

void CommandFollower::Begin(int number, int, const std::string& shown) {
    at_ = static_cast<size_t>(number - 1);
    progress_.Show(static_cast<size_t>(number), shown);
}

void CommandFollower::Work(const std::function<void()>& work) {
    const auto [file, alsoNamed] = named_(at_);
    ForFile(file, work, alsoNamed);
}

void Progress::Clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

} // namespace pelfry::cli
