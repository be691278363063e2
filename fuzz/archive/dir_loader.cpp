// The .DIR loader on arbitrary bytes taken as a whole archive file. It must refuse what it
// cannot read with an Error, never allocate more data than the input holds, and whatever it
// accepts must save and load back as the same entries, byte for byte: in memory, and through
// a real file written by the replacing writer and read back entry by entry.
#include "archive/DirFileU.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/Stream.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace pelfry;

static void Check(bool condition) {
    if (!condition) std::abort();
}

// One folder for the whole run, so each input costs a save and a load, not a folder; removed
// when the run ends.
static const std::string& ScratchFile() {
    struct Scratch {
        std::string folder;
        std::string file;
        Scratch() {
            std::random_device random;
            for (int attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
                const std::string name = TempFolder() + "pelfry-fuzz-" + std::to_string(random());
                std::error_code ec;
                if (std::filesystem::create_directory(name, ec)) folder = name;
            }
            if (folder.empty()) std::abort();
            file = folder + "/fuzz.DIR";
        }
        ~Scratch() {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        }
    };
    static const Scratch scratch;
    return scratch.file;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes;
    if (size > 0) bytes.assign(data, data + size);
    MemoryStream stream(bytes);
    std::unique_ptr<TDirFile> dir;
    try {
        dir = TDirFile::CreateFromStream(stream, "fuzz.DIR", true);
    } catch (const Error&) {
        return 0;
    }

    uint64_t total = 0;
    for (uint32_t i = 0; i < dir->Count(); ++i) {
        const FileInfo& info = dir->Files[i];
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
    Check(back->Count() == dir->Count());
    for (uint32_t i = 0; i < dir->Count(); ++i) {
        const FileInfo& a = dir->Files[i];
        const FileInfo& b = back->Files[i];
        Check(a.Name == b.Name && a.Size == b.Size);
        Check(a.Size == 0 || *a.Data == *b.Data);
    }
    Check(back->SaveToBytes() == saved);

    dir->SaveToFile(ScratchFile());
    auto lazy = TDirFile::Create(ScratchFile(), false);
    Check(lazy->Count() == dir->Count());
    for (uint32_t i = lazy->Count(); i-- > 0;) { // from the end: each read seeks on its own
        auto view = lazy->EntryStream(static_cast<int32_t>(i));
        Check(view && ReadRest(*view) == ReadRest(*dir->EntryStream(static_cast<int32_t>(i))));
    }
    return 0;
}
