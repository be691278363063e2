// What the window does as a desktop program: its command line, files dropped on it, the
// details of an entry shown when the mouse rests on its line, and the list's context menu.
#include "app/Main.h"

#include "app/Convert.h"
#include "app/EntryDetails.h"
#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"
#include "platform/ReplacingFile.h"

#include <array>
#include <cstring>

namespace pelfry {

namespace {

// The first four bytes of a file; zeros when it has fewer or cannot be read (adding or opening
// it then reports why).
std::array<uint8_t, 4> StartOf(const std::string& path) {
    std::array<uint8_t, 4> start = {};
    try {
        FileStream file(path, FileStream::Mode::OpenRead);
        if (file.Read(start.data(), 4) != 4) start = {};
    } catch (const Error&) {
    }
    return start;
}

// An archive file starts with the archive's magic; a file of any other name can be one.
bool IsArchiveFile(const std::string& path) {
    return HasDirMagic(StartOf(path));
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

void TMainForm::OpenStartFile(const std::string& fileName) {
    const std::array<uint8_t, 4> start = StartOf(fileName);
    const bool picture = start[3] == 0x1A && (std::memcmp(start.data(), "IMG", 3) == 0 ||
                                              std::memcmp(start.data(), "SPR", 3) == 0);
    if (picture)
        DropFiles({fileName});
    else
        OpenArchiveFile(fileName);
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
    if (archives == 1)
        return QueryCloseEdits(
            [this, path = paths[0]] { QuerySaveChanges([this, path] { OpenArchiveFile(path); }); });
    AddFiles(
        paths, true, [](int n) { return Format("Added %d file(s)", n); }, "drop");
}

int32_t TMainForm::EntryOnLine(int line) {
    // While a long command holds the archive, the snapshot taken before tells the same.
    const TDirFile& archive = Readable();
    if (line < 0 || line >= toolkit_.ListCount() || static_cast<uint32_t>(line) >= archive.Count())
        return -1;
    // The list can show a conversion log that does not match the archive: a line that does not
    // name its entry tells nothing about it.
    return toolkit_.ListLine(line) == archive.Files()[static_cast<size_t>(line)].Name ? line : -1;
}

std::string TMainForm::EntryDetails(int line) {
    const int32_t index = EntryOnLine(line);
    if (index < 0) return {};
    TDirFile& archive = Readable();
    std::unique_ptr<TSetMemoryStream> stream = archive.EntryStream(index);
    return DescribeEntry(archive.Files()[static_cast<size_t>(index)].Name, *stream,
                         toolkit_.LocaleSeparators().Group);
}

std::vector<TMainForm::EntryCommand> TMainForm::EntryMenu(int line) {
    const int32_t index = EntryOnLine(line);
    std::vector<EntryCommand> commands;
    if (index >= 0 && FileKind(Readable().Files()[static_cast<size_t>(index)].Name) == ".SPR")
        commands.push_back(
            {"Save animation as GIF\xE2\x80\xA6", [this, line] { SaveAnimationAsGif(line); }});
    return commands;
}

void TMainForm::SaveAnimationAsGif(int line) {
    if (!Idle()) return;
    const int32_t index = EntryOnLine(line);
    if (index < 0) return;
    const std::string name = CurrentArchive->Files()[static_cast<size_t>(index)].Name;
    std::string chosen;
    if (!toolkit_.ChooseSaveFile(
            "Save animation as GIF", "GIF animation (*.gif)",
            IncludeTrailingSeparator(ExtractFolder) + ExtractFileName(name) + ".gif", chosen))
        return;
    // A large sprite takes a while: the window goes on answering meanwhile.
    RunLong(
        false,
        [index, name, chosen](TDirFile& archive) {
            std::unique_ptr<TSetMemoryStream> stream = archive.EntryStream(index);
            // The user chose the file: a link there is written through, as a saved archive is.
            WriteFileReplacing(chosen, MakeGif(name, *stream), LinkPolicy::Follow);
        },
        [this, name, chosen] {
            toolkit_.SetStatusText("Saved the animation of " + name + " as " + chosen);
        });
}

} // namespace pelfry
