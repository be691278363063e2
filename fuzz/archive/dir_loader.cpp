// The .DIR loader on arbitrary bytes taken as a whole archive file. It must refuse what it
// cannot read with an Error, never allocate more data than the input holds, and whatever it
// accepts must save and load back as the same entries, byte for byte.
#include "archive/DirFileU.h"
#include "platform/Errors.h"
#include "platform/Stream.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace pelfry;

static void Check(bool condition) {
    if (!condition) std::abort();
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
    return 0;
}
