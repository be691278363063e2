// Writing a TDirFile: the layout is computed from the entries, then written in one pass,
// either into a buffer or into a new file that replaces the target only once every byte has
// reached the disk. A file save copies the blocks not in memory from the archive file.
#include "archive/DirFileU.h"

#include "archive/DirFormat.h"
#include "base/Errors.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"

#include <algorithm>
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
    // The entry's data block.
    virtual void PutData(const FileInfo& info) { Put(info.Data->data(), info.Size); }
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
// Blocks not in memory are copied from the archive file `source`; blocks that lie one after
// the other there, with the same byte between them, are copied in one run, so that a large
// archive saved again costs the system a few copies instead of one per entry.
class FileSink : public ArchiveSink {
public:
    FileSink(ReplacingFile& file, const FileStream* source) : file_(file), source_(source) {}
    void Put(const void* bytes, size_t count) override {
        // One byte after a run may be the byte the source has there: it waits to be seen.
        if (count == 1 && runEnd_ > runStart_ && !heldCount_) {
            held_ = *static_cast<const uint8_t*>(bytes);
            heldCount_ = 1;
            return;
        }
        EndRun();
        file_.Write(bytes, count);
    }
    void PutData(const FileInfo& info) override {
        if (!info.Data && runEnd_ > runStart_ && info.SourceOffset == runEnd_ + heldCount_ &&
            SourceHolds(runEnd_, heldCount_)) {
            runEnd_ = info.SourceOffset + info.Size;
            heldCount_ = 0;
            return;
        }
        EndRun();
        if (info.Data) return ArchiveSink::PutData(info);
        runStart_ = info.SourceOffset;
        runEnd_ = info.SourceOffset + info.Size;
    }
    // Writes what waits; before the file is committed.
    void EndRun() {
        if (runEnd_ > runStart_) {
            const uint64_t copied = file_.AppendFrom(*source_, runStart_, runEnd_ - runStart_);
            // A block running past the end of the file reads as zeros, as LoadEntry gives it;
            // only a run's last block can (the bytes after the others were read).
            static const uint8_t zeros[4096] = {};
            for (uint64_t left = runEnd_ - runStart_ - copied; left > 0;) {
                const size_t count = static_cast<size_t>(std::min<uint64_t>(left, sizeof zeros));
                file_.Write(zeros, count);
                left -= count;
            }
        }
        runStart_ = runEnd_ = 0;
        if (heldCount_) file_.Write(&held_, heldCount_);
        heldCount_ = 0;
    }

private:
    // Whether the source has the held byte (if any) at `offset`.
    bool SourceHolds(uint64_t offset, size_t count) {
        if (count == 0) return true;
        uint8_t byte = 0;
        return source_->ReadAt(static_cast<int64_t>(offset), &byte, 1) == 1 && byte == held_;
    }

    ReplacingFile& file_;
    const FileStream* source_;
    uint64_t runStart_ = 0; // the source's bytes [runStart_, runEnd_) wait to be copied
    uint64_t runEnd_ = 0;
    uint8_t held_ = 0; // a byte put after the run, written after it
    size_t heldCount_ = 0;
};

} // namespace

uint64_t dirformat::CheckSaveable(const FileArray& files) {
    uint64_t total = HeaderSize + DirBlockSize + (files.empty() ? 0 : files.size() - 1);
    for (const FileInfo& info : files) {
        if (info.Name.size() > MaxEntryNameLength)
            throw Error("Entry name too long (more than 30 bytes): " + info.Name);
        if (info.Name.empty()) throw Error("Unsafe entry name: "); // it would not load again
        total += info.Size + FixedRecordFields + NameFieldLength(info.Name.size());
    }
    if (total > MaxPosition) throw Error("Archive too large for the .DIR format (4 GiB or more)");
    return total;
}

namespace {

// Computes the layout: each entry's Offset, RecordPos, Next and RecordSize. Blocks not in
// memory keep their SourceOffset, where they are still read from.
Layout ComputeLayout(FileArray& files, uint64_t total) {
    Layout layout;
    std::array<size_t, BucketCount> last{}; // the entry at the end of each chain so far
    uint32_t q = static_cast<uint32_t>(HeaderSize);
    uint32_t r = static_cast<uint32_t>(DirBlockSize);
    for (size_t i = 0; i < files.size(); ++i) {
        FileInfo& info = files[i];
        PELFRY_CHECK(!info.Data || info.Data->size() == info.Size, BlockNotLoaded, "", "");
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
        if (files[i].Size > 0) out.PutData(files[i]);
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
    const uint64_t total = CheckSaveable(files_);
    for (size_t i = 0; i < files_.size(); ++i)
        LoadEntry(static_cast<int32_t>(i));
    const Layout layout = ComputeLayout(files_, total);
    std::vector<uint8_t> bytes(layout.length);
    BufferSink sink(bytes);
    WriteArchive(files_, layout, sink);
    PELFRY_CHECK(sink.Written() == bytes.size(), BufferUnfilled, "", "");
    return bytes;
}

bool TDirFile::SaveToFile(const std::string& fileName,
                          const std::function<void(const std::string&)>& warn) {
    const uint64_t total = CheckSaveable(files_);
    // Blocks not in memory are copied from the archive file, opened before the target is
    // touched. It may be the file being replaced: the open file keeps the old contents.
    const bool copies = std::any_of(files_.begin(), files_.end(), [](const FileInfo& info) {
        return info.Size > 0 && !info.Data;
    });
    if (copies && !source_)
        source_ = std::make_shared<FileStream>(FileName, FileStream::Mode::OpenRead);
    const Layout layout = ComputeLayout(files_, total);

    // No file can be made under an empty name; without this the new file would be written
    // and only the final rename would fail.
    if (fileName.empty()) throw FileCreateError(fileName);
    // The user named this file: a link there keeps pointing to the archive it names.
    ReplacingFile file(fileName, LinkPolicy::Follow);
    FileSink sink(file, source_.get());
    WriteArchive(files_, layout, sink);
    sink.EndRun();
    file.Commit();
    modified_ = false;
    if (warn)
        for (const std::string& warning : file.Warnings())
            warn(warning);
    return true;
}

} // namespace pelfry
