// Writing a TDirFile: the layout is computed from the entries in memory, then written in one
// pass, either into a buffer or into a new file that replaces the target only once every byte
// has reached the disk.
#include "archive/DirFileU.h"

#include "archive/DirFormat.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"

#include <array>
#include <cstring>

namespace pelfry {

using namespace dirformat;

namespace {

struct Layout {
    uint32_t dirOffset = 0; // D: where the data area ends
    uint32_t length = 0;    // the whole file
    std::array<uint32_t, BucketCount> heads{};
};

// Receives the archive's bytes in file order.
class ArchiveSink {
public:
    virtual ~ArchiveSink() = default;
    virtual void Put(const void* bytes, size_t count) = 0;
    void Put32(uint32_t value) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                  static_cast<uint8_t>(value >> 16),
                                  static_cast<uint8_t>(value >> 24)};
        Put(bytes, 4);
    }
};

class BufferSink : public ArchiveSink {
public:
    explicit BufferSink(std::vector<uint8_t>& out) : out_(out) {}
    void Put(const void* bytes, size_t count) override {
        PELFRY_CHECK(at_ + count <= out_.size(), BufferOverrun, "", "");
        if (count > 0) std::memcpy(out_.data() + at_, bytes, count);
        at_ += count;
    }
    size_t Written() const { return at_; }

private:
    std::vector<uint8_t>& out_;
    size_t at_ = 0;
};

// The archive's bytes into a new file that replaces the target once all of them are written.
class FileSink : public ArchiveSink {
public:
    explicit FileSink(ReplacingFile& file) : file_(file) {}
    void Put(const void* bytes, size_t count) override { file_.Write(bytes, count); }

private:
    ReplacingFile& file_;
};

// Checks that the format can carry the archive, brings every entry's bytes into memory and
// computes the layout (each entry's Offset, RecordPos, Next and RecordSize). Raises before
// any entry changes when the archive cannot be saved.
Layout PrepareLayout(TDirFile& dir) {
    FileArray& files = dir.Files;
    uint64_t total = HeaderSize + DirBlockSize + (files.empty() ? 0 : files.size() - 1);
    for (const FileInfo& info : files) {
        if (info.Name.size() > MaxEntryNameLength)
            throw Error("Entry name too long (more than 30 bytes): " + info.Name);
        if (info.Name.empty()) throw Error("Unsafe entry name: "); // it would not load again
        total += info.Size + FixedRecordFields + NameFieldLength(info.Name.size());
    }
    if (total > MaxPosition) throw Error("Archive too large for the .DIR format (4 GiB or more)");

    // Every block must be in memory before the offsets change: they may still point into the
    // file that is about to be replaced.
    for (size_t i = 0; i < files.size(); ++i)
        dir.LoadEntry(static_cast<int32_t>(i));

    Layout layout;
    std::array<size_t, BucketCount> last{}; // the entry at the end of each chain so far
    uint32_t q = static_cast<uint32_t>(HeaderSize);
    uint32_t r = static_cast<uint32_t>(DirBlockSize);
    for (size_t i = 0; i < files.size(); ++i) {
        FileInfo& info = files[i];
        PELFRY_CHECK(info.Size == 0 || (info.Data && info.Data->size() == info.Size),
                     BlockNotLoaded, "", "");
        const uint32_t h = NameHash(info.Name);
        info.Offset = q;
        info.Next = 0;
        q += info.Size;
        info.RecordPos = static_cast<int32_t>(r);
        if (layout.heads[h] == 0)
            layout.heads[h] = r;
        else
            files[last[h]].Next = static_cast<int32_t>(r);
        last[h] = i;
        info.RecordSize =
            static_cast<int32_t>(FixedRecordFields + NameFieldLength(info.Name.size()));
        r += static_cast<uint32_t>(info.RecordSize);
        if (i + 1 < files.size()) ++q;
    }
    layout.dirOffset = q;
    layout.length = q + r;
    PELFRY_CHECK(layout.length == total, LengthDiffers, "", "");
    return layout;
}

void WriteArchive(const FileArray& files, const Layout& layout, ArchiveSink& out) {
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    out.Put(Magic, sizeof Magic);
    out.Put32(layout.length);
    out.Put32(layout.dirOffset);
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].Size > 0) out.Put(files[i].Data->data(), files[i].Size);
        if (i + 1 < files.size()) out.Put(&Separator, 1);
    }
    out.Put32(DirHeaderValue);
    for (uint32_t head : layout.heads)
        out.Put32(head);
    for (const FileInfo& info : files) {
        out.Put32(static_cast<uint32_t>(info.Next));
        out.Put32(info.Offset);
        out.Put32(info.Size);
        out.Put(info.Name.data(), info.Name.size());
        out.Put(zeros, static_cast<size_t>(info.RecordSize) - info.Name.size() - FixedRecordFields);
    }
}

} // namespace

std::vector<uint8_t> TDirFile::SaveToBytes() {
    const Layout layout = PrepareLayout(*this);
    std::vector<uint8_t> bytes(layout.length);
    BufferSink sink(bytes);
    WriteArchive(Files, layout, sink);
    PELFRY_CHECK(sink.Written() == bytes.size(), BufferUnfilled, "", "");
    return bytes;
}

bool TDirFile::SaveToFile(const std::string& fileName,
                          const std::function<void(const std::string&)>& warn) {
    const Layout layout = PrepareLayout(*this);

    // No file can be made under an empty name; without this the new file would be written
    // and only the final rename would fail.
    if (fileName.empty()) throw FileCreateError(fileName);
    // The user named this file: a link there keeps pointing to the archive it names.
    ReplacingFile file(fileName, LinkPolicy::Follow);
    FileSink sink(file);
    WriteArchive(Files, layout, sink);
    file.Commit();
    modified_ = false;
    if (warn)
        for (const std::string& warning : file.Warnings())
            warn(warning);
    return true;
}

} // namespace pelfry
