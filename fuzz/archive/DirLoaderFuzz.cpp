// The .DIR loader on arbitrary bytes taken as a whole archive file. It must refuse what it
// cannot read with InvalidDirFileError and its reason, never allocate more data than the input
// holds, and whatever it accepts must:
// - save and load back as the same entries, byte for byte, in memory and through a real file
//   written by the replacing writer and read back entry by entry on demand (as `list`, `info`
//   and extract-by-name read);
// - extract its first entries into a folder without anything landing outside it, whatever the
//   names say;
// - take an added entry and a deletion, and save and load again.
#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "platform/FileUtil.h"
#include "tests/support/TempDir.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace pelfry;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Folders for the whole run, removed when it ends: root/a/b/out receives the extracted entries,
// so that a name leading up to two levels out would be found in root. (tools/fuzz.sh puts the
// temporary folder on tmpfs, so that the writer's flushes cost nothing.)
struct Scratch {
    test::TempDir dir{"pelfry-fuzz-"};
    std::string root = dir.Path();
    std::string inner = root + "a/b/";
    std::string out = inner + "out/";
    std::string archive = inner + "fuzz.DIR";
    std::string added = inner + "added.bin";
    Scratch() {
        if (!ForceDirectories(inner)) std::abort();
    }
};

const Scratch& Folders() {
    static const Scratch scratch;
    return scratch;
}

void CheckSameEntries(TDirFile& a, TDirFile& b) {
    Check(a.Count() == b.Count());
    for (uint32_t i = 0; i < a.Count(); ++i) {
        const int32_t k = static_cast<int32_t>(i);
        Check(a.Files()[i].Name == b.Files()[i].Name && a.Files()[i].Size == b.Files()[i].Size);
        Check(ReadRest(*a.EntryStream(k)) == ReadRest(*b.EntryStream(k)));
    }
}

// Every file below the scratch root must be one of ours or lie in the extraction folder.
void CheckNothingOutside(const Scratch& s) {
    namespace fs = std::filesystem;
    for (const auto& e : fs::recursive_directory_iterator(s.root)) {
        const std::string path = e.path().generic_string() + (e.is_directory() ? "/" : "");
        if (path.rfind(s.out, 0) == 0 || s.out.rfind(path, 0) == 0)
            continue; // in out/, or on the way there
        Check(path == s.archive || path == s.added);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& s = Folders();
    std::vector<uint8_t> bytes;
    if (size > 0) bytes.assign(data, data + size);
    MemoryStream stream(bytes);
    std::unique_ptr<TDirFile> dir;
    try {
        dir = TDirFile::CreateFromStream(stream, "fuzz.DIR", true);
    } catch (const InvalidDirFileError& e) {
        Check(!e.Reason().empty()); // every refusal says why
        return 0;
    }

    uint64_t total = 0;
    for (uint32_t i = 0; i < dir->Count(); ++i) {
        const FileInfo& info = dir->Files()[i];
        total += info.Size;
        Check(info.Name.size() <= MaxEntryNameLength);
        Check(info.Size == 0 || (info.Data && info.Data->size() == info.Size));
        auto view = dir->EntryStream(static_cast<int32_t>(i));
        Check(view && ReadRest(*view).size() == info.Size);
    }
    Check(total <= size);

    const std::vector<uint8_t> saved = dir->SaveToBytes();
    MemoryStream again(saved);
    auto back = TDirFile::CreateFromStream(again, "again.DIR", true);
    CheckSameEntries(*dir, *back);
    Check(back->SaveToBytes() == saved);

    dir->SaveToFile(s.archive);
    auto lazy = TDirFile::Create(s.archive, false);
    CheckSameEntries(*dir, *lazy);

    for (uint32_t i = 0; i < dir->Count() && i < 8; ++i) {
        try {
            dir->WriteEntry(s.out, static_cast<int32_t>(i));
        } catch (const Error&) {
            // unsafe names, names that make no file (a folder's name, one ending in "/")
        }
    }
    CheckNothingOutside(s);
    std::error_code ec;
    std::filesystem::remove_all(s.out, ec);

    WriteFileReplacing(
        s.added, std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::min<size_t>(size, 64)));
    int32_t index = -1;
    dir->AddFile(s.inner, "added.bin", index);
    Check(index >= 0 && dir->Files()[static_cast<size_t>(index)].Name == "added.bin");
    dir->DeleteEntry(0);
    MemoryStream edited(dir->SaveToBytes());
    auto reread = TDirFile::CreateFromStream(edited, "edited.DIR", true);
    CheckSameEntries(*dir, *reread);
    return 0;
}
