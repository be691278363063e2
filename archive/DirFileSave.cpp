// Writing a TDirFile: the layout is computed from the entries in memory, then written in one
// pass, either into a buffer or into a new file that replaces the target only once every byte
// has reached the disk.
#include "archive/DirFileU.h"

#include "archive/DirFormat.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

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
                                  static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        Put(bytes, 4);
    }
};

class BufferSink : public ArchiveSink {
public:
    explicit BufferSink(std::vector<uint8_t>& out) : out_(out) {}
    void Put(const void* bytes, size_t count) override {
        PELFRY_ASSERT(at_ + count <= out_.size(), "");
        if (count > 0) std::memcpy(out_.data() + at_, bytes, count);
        at_ += count;
    }
    size_t Written() const { return at_; }

private:
    std::vector<uint8_t>& out_;
    size_t at_ = 0;
};

// A new file beside the target that takes the target's place on Commit. Until then the
// target is untouched; a sink dropped without Commit removes its file.
class ReplacingFile : public ArchiveSink {
public:
    // `target` is the file to replace; `shownName` names it in messages.
    ReplacingFile(const std::string& target, const std::string& shownName)
        : target_(target), shownName_(shownName) {
        const size_t slash = target.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        temp_ = folder + "." + name + ".XXXXXX";
        fd_ = ::mkstemp(temp_.data());
        if (fd_ < 0) throw FileCreateError(shownName_);
        buffer_.reserve(BufferSize);
    }
    ~ReplacingFile() override {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(temp_.c_str());
    }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    void Put(const void* bytes, size_t count) override {
        const auto* p = static_cast<const uint8_t*>(bytes);
        if (buffer_.size() + count > BufferSize) Flush();
        if (count >= BufferSize) WriteOut(p, count); // large blocks skip the buffer
        else buffer_.insert(buffer_.end(), p, p + count);
    }

    void Commit() {
        Flush();
        // Keep the permissions an existing target had; a new file gets the usual ones.
        struct stat st {};
        mode_t mode = 0;
        if (::stat(target_.c_str(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(fd_, mode);
        if (::fsync(fd_) != 0 && errno != EINVAL) failed_ = true;
        if (::close(fd_) != 0) failed_ = true;
        fd_ = -1;
        if (failed_ || std::rename(temp_.c_str(), target_.c_str()) != 0) throw FileWriteError(shownName_);
        committed_ = true;
    }

private:
    static constexpr size_t BufferSize = 1 << 20;

    void Flush() {
        WriteOut(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    void WriteOut(const uint8_t* p, size_t count) {
        // After the first failure nothing more is tried; Commit reports it.
        while (count > 0 && !failed_) {
            const ssize_t put = ::write(fd_, p, count);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                failed_ = true;
                break;
            }
            p += put;
            count -= static_cast<size_t>(put);
        }
    }

    std::string target_;
    std::string shownName_;
    std::string temp_;
    int fd_ = -1;
    bool failed_ = false;
    bool committed_ = false;
    std::vector<uint8_t> buffer_;
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
        total += info.Size + FixedRecordFields + NameFieldLength(info.Name.size());
    }
    if (total > MaxPosition) throw Error("Archive too large for the .DIR format (4 GiB or more)");

    // Every block must be in memory before the offsets change: they may still point into the
    // file that is about to be replaced.
    for (size_t i = 0; i < files.size(); ++i) dir.LoadEntry(static_cast<int32_t>(i));

    Layout layout;
    std::array<size_t, BucketCount> last{}; // the entry at the end of each chain so far
    uint32_t q = static_cast<uint32_t>(HeaderSize);
    uint32_t r = static_cast<uint32_t>(DirBlockSize);
    for (size_t i = 0; i < files.size(); ++i) {
        FileInfo& info = files[i];
        PELFRY_ASSERT(info.Size == 0 || (info.Data && info.Data->size() == info.Size), "");
        const uint32_t h = NameHash(info.Name);
        info.Offset = q;
        info.Next = 0;
        q += info.Size;
        info.RecordPos = static_cast<int32_t>(r);
        if (layout.heads[h] == 0) layout.heads[h] = r;
        else files[last[h]].Next = static_cast<int32_t>(r);
        last[h] = i;
        info.RecordSize = static_cast<int32_t>(FixedRecordFields + NameFieldLength(info.Name.size()));
        r += static_cast<uint32_t>(info.RecordSize);
        if (i + 1 < files.size()) ++q;
    }
    layout.dirOffset = q;
    layout.length = q + r;
    PELFRY_ASSERT(layout.length == total, "");
    return layout;
}

void WriteArchive(const FileArray& files, const Layout& layout, ArchiveSink& out) {
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    out.Put("DIR\x1A", 4);
    out.Put32(layout.length);
    out.Put32(layout.dirOffset);
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].Size > 0) out.Put(files[i].Data->data(), files[i].Size);
        if (i + 1 < files.size()) out.Put(&Separator, 1);
    }
    out.Put32(DirHeaderValue);
    for (uint32_t head : layout.heads) out.Put32(head);
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
    PELFRY_ASSERT(sink.Written() == bytes.size(), "");
    return bytes;
}

bool TDirFile::SaveToFile(const std::string& fileName) {
    const Layout layout = PrepareLayout(*this);

    // The new archive replaces the target by a rename. A target the user could not have
    // written (a folder, a read-only file) is refused, as writing over it would be.
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string target = fileName;
    if (fs::is_symlink(fileName, ec)) {
        // Replace the file a link points to, not the link.
        fs::path resolved = fs::weakly_canonical(fs::path(fileName), ec);
        if (!ec) target = resolved.string();
    }
    if (DirectoryExists(target) || (FileExists(target) && ::access(target.c_str(), W_OK) != 0))
        throw FileCreateError(fileName);

    ReplacingFile file(target, fileName);
    WriteArchive(Files, layout, file);
    file.Commit();
    modified_ = false;
    return true;
}

} // namespace pelfry
