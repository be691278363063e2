// What the window does as a desktop program: its command line, files dropped on it, and the
// details of an entry shown when the mouse rests on its line.
#include "app/Main.h"

#include "app/EntryDetails.h"
#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"

namespace pelfry {

namespace {

// An archive file starts with the archive's magic; a file of any other name can be one.
bool IsArchiveFile(const std::string& path) {
    try {
        FileStream file(path, FileStream::Mode::OpenRead);
        uint8_t start[4] = {};
        return file.Read(start, 4) == 4 && HasDirMagic(start);
    } catch (const Error&) {
        // Unreadable: not an archive. Adding it reports why it cannot be read.
        return false;
    }
}

} // namespace

StartArguments ParseStartArguments(const std::vector<std::string>& args) {
    StartArguments result;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "--help" || arg == "-h")) {
            result.Help = true;
        } else if (options && arg == "--version") {
            result.Version = true;
        } else if (!result.Error.empty()) {
            // After the first error only --help and --version are looked for: they are
            // answered whatever else the line holds.
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            result.Error = "unknown option " + arg;
        } else if (!result.Archive.empty()) {
            result.Error = "only one ARCHIVE can be opened";
        } else if (arg.empty()) {
            result.Error = "ARCHIVE must not be empty";
        } else {
            result.Archive = arg;
        }
    }
    return result;
}

void TMainForm::DropFiles(const std::vector<std::string>& paths) {
    if (paths.empty() || !Idle()) return;
    size_t archives = 0;
    bool folders = false;
    for (const std::string& path : paths) {
        if (DirectoryExists(path))
            folders = true;
        else if (IsArchiveFile(path))
            ++archives;
    }
    if (folders || (archives > 0 && paths.size() > 1)) {
        toolkit_.MessageBox("Error", DropRefusedText, MsgSymbol::Error, mbCancel);
        return;
    }
    if (archives == 1) return QuerySaveChanges([this, path = paths[0]] { OpenArchiveFile(path); });
    AddFiles(
        paths, true, [](int n) { return Format("Added %d file(s)", n); }, "drop");
}

std::string TMainForm::EntryDetails(int line) {
    // While a long command holds the archive, the snapshot taken before tells the same.
    TDirFile& archive = Readable();
    if (line < 0 || line >= toolkit_.ListCount() || static_cast<uint32_t>(line) >= archive.Count())
        return {};
    const FileInfo& entry = archive.Files()[static_cast<size_t>(line)];
    // The list can show a conversion log that does not match the archive: a line that does not
    // name its entry tells nothing about it.
    if (toolkit_.ListLine(line) != entry.Name) return {};
    std::unique_ptr<TSetMemoryStream> stream = archive.EntryStream(line);
    return DescribeEntry(entry.Name, *stream, toolkit_.LocaleSeparators().Group);
}

} // namespace pelfry
