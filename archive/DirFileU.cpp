#include "archive/DirFileU.h"

#include "archive/DirFormat.h"

#include "base/ByteReader.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "base/Text.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

namespace pelfry {

namespace {

using namespace dirformat;

// What a file without the archive's magic is refused as, whichever check refuses it: nothing
// says it was ever an archive, so the user is told that first.
constexpr const char* NotAnArchive = "not an archive: it does not start with DIR 0x1A and ";

// Reads the records area through a window of the stream, so that a walk over thousands of
// small records does not make a system call per field, and a huge damaged file is not read
// whole. Each record is read through a ByteReader over the window.
class RecordReader {
public:
    RecordReader(Stream& stream, uint64_t end) : stream_(stream), end_(end) {}

    // A reader over the file from `pos` (below the end) on: `want` bytes, or as many as the
    // file has from there; its errors name the bytes of the file.
    ByteReader At(uint64_t pos, size_t want) {
        const uint64_t have = std::min<uint64_t>(want, end_ - pos);
        if (pos < start_ || pos + have > start_ + buffer_.size()) Fill(pos);
        return ByteReader(std::span<const uint8_t>(buffer_).subspan(pos - start_), pos);
    }

private:
    void Fill(uint64_t pos) {
        constexpr uint64_t Chunk = 64 * 1024;
        buffer_.resize(static_cast<size_t>(std::min(Chunk, end_ - pos)));
        stream_.Seek(static_cast<int64_t>(pos), SeekOrigin::Begin);
        buffer_.resize(static_cast<size_t>(std::max<int64_t>(
            0, stream_.Read(buffer_.data(), static_cast<int64_t>(buffer_.size())))));
        start_ = pos;
    }

    Stream& stream_;
    uint64_t end_;
    uint64_t start_ = 0;
    std::vector<uint8_t> buffer_;
};

// One record read at `pos`; returns the position of the next record. The name is read from
// a window of at most 30 bytes and ends at the first NUL in it.
uint64_t ReadRecord(RecordReader& records, uint64_t pos, FileInfo* info) {
    ByteReader r = records.At(pos, FixedRecordFields + MaxEntryNameLength);
    if (r.Available() < FixedRecordFields)
        r.Refuse("a record is cut off by the end of the file", 0);
    if (info) {
        info->RecordPos = static_cast<int32_t>(pos);
        info->Next = static_cast<int32_t>(r.U32());
        info->Offset = r.U32();
        info->SourceOffset = info->Offset;
        info->Size = r.U32();
    } else {
        r.Skip(FixedRecordFields);
    }
    const std::span<const uint8_t> window = r.BytesUpTo(MaxEntryNameLength);
    const size_t length =
        static_cast<size_t>(std::find(window.begin(), window.end(), 0) - window.begin());
    if (info) info->Name.assign(reinterpret_cast<const char*>(window.data()), length);
    return pos + FixedRecordFields + NameFieldLength(length);
}

// Reads an entry's block: Size bytes from SourceOffset, zeros where the stream ends first.
ByteArray ReadBlock(Stream& stream, const FileInfo& info) {
    auto block = std::make_shared<std::vector<uint8_t>>(info.Size);
    stream.Seek(info.SourceOffset, SeekOrigin::Begin);
    stream.Read(block->data(), static_cast<int64_t>(block->size()));
    return block;
}

// The same from an archive file that other threads may read at once.
ByteArray ReadSourceBlock(const FileStream& file, const FileInfo& info) {
    auto block = std::make_shared<std::vector<uint8_t>>(info.Size);
    file.ReadAt(info.SourceOffset, block->data(), static_cast<int64_t>(block->size()));
    return block;
}

// The position of the first record, from the header `header` of a file of `length` bytes.
// Raises DataError when the header cannot be that of an archive of this length.
uint64_t ReadHeader(ByteReader header, uint64_t length, bool magic) {
    // An empty file is an archive with no entries; one too short to hold DirOffset is not.
    if (length < HeaderSize) throw DataError("the file is too short for an archive header", length);
    header.Skip(sizeof Magic);
    const uint32_t fileSize = header.U32();
    // The magic and the size field are not needed to read an archive, but together they tell
    // a file that was cut short, which would otherwise list fewer entries and lose the rest
    // at the next save.
    if (magic && fileSize > length)
        header.Refuse(Format("cut short: the file holds %s bytes, its header says %s",
                             FormatThousands(length).c_str(), FormatThousands(fileSize).c_str()),
                      4);
    const uint64_t first = uint64_t{header.U32()} + DirBlockSize;
    if (first > MaxPosition || first > length)
        header.Refuse("the directory block lies beyond the end of the file", 8);
    return first;
}

// Reads the records from `first` to the end of a file of `length` bytes into `files`. Raises
// DataError for records that cannot be an archive's.
void ReadRecords(RecordReader& records, uint64_t first, uint64_t length, bool magic,
                 FileArray& files) {
    // Count the records first, so the entry array is allocated once at its size.
    size_t count = 0;
    uint64_t end = first;
    for (; end < length; ++count)
        end = ReadRecord(records, end, nullptr);
    // Without the magic, records that run exactly to the end are all that says "archive"; a
    // text file or a picture would otherwise pass as a few odd entries.
    if (!magic && end != length) throw DataError("its records do not run to its end", length);
    files.resize(count);
    size_t index = 0;
    uint64_t total = 0;
    for (uint64_t p = first; p < length; ++index) {
        PELFRY_CHECK(index < count, RecordsBeyondCount, "", "");
        FileInfo& info = files[index];
        p = ReadRecord(records, p, &info);
        // No file can be made of an empty name, and an archive never holds one: this is what
        // zeros appended to an archive, or a file of zeros, read as.
        const uint64_t at = static_cast<uint64_t>(static_cast<uint32_t>(info.RecordPos));
        if (info.Name.empty())
            throw DataError(Format("entry %zu has no name, %s", index + 1,
                                   AtByte(at + FixedRecordFields).c_str()),
                            at + FixedRecordFields);
        // Blocks are allocated at their recorded size; a file claiming more data than it
        // holds is damaged, and must not make us allocate what it claims.
        total += info.Size;
        if (info.Size > length || total > length)
            throw DataError(Format("the entries up to entry %zu claim %s bytes of data, more than "
                                   "the file's %s, %s",
                                   index + 1, FormatThousands(total).c_str(),
                                   FormatThousands(length).c_str(), AtByte(at + 8).c_str()),
                            at + 8);
    }
    PELFRY_CHECK(index == count, RecordsBelowCount, "", "");
}

} // namespace

bool IsUnsafeEntryName(std::string_view name) {
    if (name.empty()) return true; // names no file, only the folder itself
    if (IsPathSeparator(name[0])) return true;
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
        return true;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsPathSeparator(name[end]))
            ++end;
        if (name.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    // Names this system cannot hold as files (device names on Windows): writing one would
    // lose the entry's bytes while reporting success.
    return FileSystemRefusesName(name);
}

bool HasDirMagic(std::span<const uint8_t> start) {
    return start.size() >= sizeof Magic &&
           std::equal(std::begin(Magic), std::end(Magic), start.begin());
}

uint32_t NameHash(std::string_view name) {
    uint32_t h = 0;
    for (unsigned char b : name) {
        h = ((h << 1) & (BucketCount - 1)) | (h >> 9);
        h = (h + b) & (BucketCount - 1);
    }
    return h;
}

std::unique_ptr<TDirFile> TDirFile::Create(const std::string& fileName, bool loadAll) {
    auto file = std::make_shared<FileStream>(fileName, FileStream::Mode::OpenRead);
    auto dir = CreateFromStream(*file, fileName, loadAll);
    if (!loadAll) dir->source_ = std::move(file);
    return dir;
}

std::unique_ptr<TDirFile> TDirFile::CreateOnFile(FileStream& file, const std::string& fileName) {
    auto dir = CreateFromStream(file, fileName, false);
    // Not owned: the caller keeps the file open for as long as the object lives.
    dir->source_ = std::shared_ptr<FileStream>(std::shared_ptr<FileStream>(), &file);
    return dir;
}

std::unique_ptr<TDirFile> TDirFile::CreateFromStream(Stream& stream, const std::string& fileName,
                                                     bool loadAll) {
    auto dir = std::make_unique<TDirFile>();
    dir->FileName = fileName;
    const int64_t size = stream.Size();
    const uint64_t length = size > 0 ? static_cast<uint64_t>(size) : 0;
    if (length == 0) return dir;
    std::vector<uint8_t> header(static_cast<size_t>(std::min(length, HeaderSize)));
    stream.Seek(0, SeekOrigin::Begin);
    header.resize(static_cast<size_t>(
        std::max<int64_t>(0, stream.Read(header.data(), static_cast<int64_t>(header.size())))));
    const bool magic = HasDirMagic(header);
    try {
        // The records run from D + 4100 to the end of the file.
        const uint64_t first = ReadHeader(ByteReader(header), length, magic);
        RecordReader records(stream, length);
        ReadRecords(records, first, length, magic, dir->files_);
    } catch (const DataError& e) {
        throw InvalidDirFileError(fileName, magic ? e.Reason() : NotAnArchive + e.Reason());
    }

    if (loadAll) {
        for (FileInfo& info : dir->files_)
            if (info.Size > 0) info.Data = ReadBlock(stream, info);
    }
    dir->Reindex();
    return dir;
}

void TDirFile::ListEntries(std::vector<std::string>& strings) const {
    strings.clear();
    strings.reserve(files_.size());
    for (const FileInfo& info : files_)
        strings.push_back(info.Name);
}

int32_t TDirFile::FindEntry(std::string_view name, int32_t startIndex) const {
    const size_t start = static_cast<size_t>(std::max(startIndex, 0));
    const auto it = index_.find(name);
    if (it == index_.end()) return -1;
    if (static_cast<size_t>(it->second.lowest) >= start) return it->second.lowest;
    // Past the name's first entry: only a name held twice has more, and they are rare.
    if (it->second.count == 1) return -1;
    for (size_t i = start; i < files_.size(); ++i)
        if (files_[i].Name == name) return static_cast<int32_t>(i);
    return -1;
}

void TDirFile::Reindex() {
    index_.clear();
    index_.reserve(files_.size());
    for (size_t i = 0; i < files_.size(); ++i)
        ++index_.try_emplace(files_[i].Name, NameSlot{static_cast<int32_t>(i), 0})
              .first->second.count;
}

void TDirFile::UnindexDeleted(const std::string& name, int32_t at, const std::string* moved,
                              int32_t from) {
    const auto gone = index_.find(name);
    if (--gone->second.count == 0) {
        index_.erase(gone);
    } else if (gone->second.lowest == at) {
        // The name's first entry went; its next one is found by a scan, needed only for names
        // held more than once.
        gone->second.lowest = -1;
        for (size_t i = 0; i < files_.size() && gone->second.lowest < 0; ++i)
            if (files_[i].Name == name) gone->second.lowest = static_cast<int32_t>(i);
    }
    if (moved) {
        NameSlot& slot = index_.find(*moved)->second;
        // `from` was the highest index, so it was the name's first entry only when alone.
        slot.lowest = slot.lowest == from ? at : std::min(slot.lowest, at);
    }
}

void TDirFile::LoadEntry(int32_t index) {
    PELFRY_CHECK(index >= 0 && static_cast<size_t>(index) < files_.size(), LoadIndex,
                 "Entry index out of range", "");
    FileInfo& info = files_[static_cast<size_t>(index)];
    if (info.Data || info.Size == 0) return;
    if (source_) {
        info.Data = ReadSourceBlock(*source_, info);
        return;
    }
    FileStream file(FileName, FileStream::Mode::OpenRead);
    info.Data = ReadBlock(file, info);
}

ByteArray TDirFile::ReadEntry(int32_t index) const {
    PELFRY_CHECK(index >= 0 && static_cast<size_t>(index) < files_.size(), LoadIndex,
                 "Entry index out of range", "");
    const FileInfo& info = files_[static_cast<size_t>(index)];
    if (info.Data || info.Size == 0) return info.Data;
    if (source_) return ReadSourceBlock(*source_, info);
    FileStream file(FileName, FileStream::Mode::OpenRead);
    return ReadBlock(file, info);
}

std::unique_ptr<TSetMemoryStream> TDirFile::EntryStream(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= files_.size()) return nullptr;
    LoadEntry(index);
    return std::make_unique<TSetMemoryStream>(files_[static_cast<size_t>(index)].Data);
}

std::unique_ptr<TDirFile> TDirFile::Snapshot() const {
    return std::unique_ptr<TDirFile>(new TDirFile(*this));
}

int64_t TDirFile::AddFile(const std::string& folder, const std::string& name, int32_t& index) {
    return AddFileAs(folder + name, name, index);
}

int64_t TDirFile::AddFileAs(const std::string& path, const std::string& name, int32_t& index) {
    if (name.size() > MaxEntryNameLength)
        throw Error("Entry name too long (more than 30 bytes): " + name);
    if (name.empty()) throw Error("Unsafe entry name: ");
    ByteArray block;
    int64_t read = 0;
    {
        std::unique_ptr<FileStream> file;
        try {
            file = std::make_unique<FileStream>(NativePath(path), FileStream::Mode::OpenRead);
        } catch (const NotRegularFileError&) {
            throw NotRegularFileError(path);
        } catch (const FileOpenError& e) {
            throw FileOpenError(path, e.Code());
        }
        const auto tooLarge = [&] {
            throw Error("File too large for an archive entry (4 GiB or more): " + path);
        };
        if (static_cast<uint64_t>(file->Size()) > MaxPosition) tooLarge();
        // Read to its end, not to the size the system reports: files of /proc and some network
        // and FUSE file systems say 0 bytes and hold more.
        auto bytes = std::make_shared<std::vector<uint8_t>>(ReadRest(*file, MaxPosition));
        if (bytes->size() > MaxPosition) tooLarge();
        read = static_cast<int64_t>(bytes->size());
        if (!bytes->empty()) block = std::move(bytes);
    }

    index = FindEntry(name, 0);
    if (index < 0) {
        index = AppendEntry(name, std::move(block));
        return read;
    }
    FileInfo& info = files_[static_cast<size_t>(index)];
    info.Data = std::move(block);
    info.Size = info.Data ? static_cast<uint32_t>(info.Data->size()) : 0;
    modified_ = true;
    return read;
}

int32_t TDirFile::AppendEntry(std::string name, ByteArray data) {
    const auto at = static_cast<int32_t>(files_.size());
    ++index_.try_emplace(name, NameSlot{at, 0}).first->second.count;
    FileInfo& info = files_.emplace_back();
    info.Name = std::move(name);
    info.Size = data ? static_cast<uint32_t>(data->size()) : 0;
    info.Data = std::move(data);
    modified_ = true;
    return at;
}

void TDirFile::ReplaceEntryData(int32_t index, ByteArray data) {
    PELFRY_CHECK(index >= 0 && static_cast<size_t>(index) < files_.size(), ReplaceIndex,
                 "Entry index out of range", "");
    FileInfo& info = files_[static_cast<size_t>(index)];
    info.Size = data ? static_cast<uint32_t>(data->size()) : 0;
    info.Data = std::move(data);
    modified_ = true;
}

uint32_t TDirFile::DeleteEntry(int32_t index) {
    PELFRY_CHECK(index >= 0 && static_cast<size_t>(index) < files_.size(), DeleteIndex,
                 "Entry index out of range", "");
    const size_t i = static_cast<size_t>(index);
    const int32_t last = static_cast<int32_t>(files_.size() - 1);
    const std::string name = std::move(files_[i].Name);
    if (index < last) files_[i] = std::move(files_.back());
    files_.pop_back();
    UnindexDeleted(name, index, index < last ? &files_[i].Name : nullptr, last);
    modified_ = true;
    return Count();
}

void TDirFile::RenameEntry(int32_t index, const std::string& name) {
    PELFRY_CHECK(index >= 0 && static_cast<size_t>(index) < files_.size(), RenameIndex,
                 "Entry index out of range", "");
    FileInfo& info = files_[static_cast<size_t>(index)];
    if (name == info.Name) return;
    if (name.empty()) throw Error("Cannot rename " + info.Name + ": the new name is empty");
    if (name.size() > MaxEntryNameLength)
        throw Error("Entry name too long (more than 30 bytes): " + name);
    if (IsUnsafeEntryName(name)) throw Error("Unsafe entry name: " + name);
    if (FindEntry(name, 0) >= 0)
        throw Error("Cannot rename " + info.Name + " to " + name + ": another entry has that name");
    const std::string old = std::exchange(info.Name, name);
    UnindexDeleted(old, index, nullptr, 0);
    index_.emplace(name, NameSlot{index, 1});
    modified_ = true;
}

void TDirFile::Reorder(const std::vector<uint32_t>& order) {
    std::vector<bool> taken(files_.size(), false);
    PELFRY_CHECK(order.size() == files_.size(), ReorderNotPermutation, "", "");
    FileArray reordered;
    reordered.reserve(files_.size());
    for (uint32_t from : order) {
        PELFRY_CHECK(from < files_.size() && !taken[from], ReorderNotPermutation, "", "");
        taken[from] = true;
        reordered.push_back(std::move(files_[from]));
    }
    files_ = std::move(reordered);
    Reindex();
    modified_ = true;
}

EntriesChange DiffEntries(const FileArray& from, const FileArray& to) {
    auto same = [](const FileInfo& a, const FileInfo& b) {
        return a.Data == b.Data && a.Size == b.Size && a.SourceOffset == b.SourceOffset &&
               a.Name == b.Name;
    };
    EntriesChange change;
    change.Count = static_cast<uint32_t>(to.size());
    for (size_t i = 0; i < to.size(); ++i)
        if (i >= from.size() || !same(from[i], to[i]))
            change.Entries.emplace_back(static_cast<uint32_t>(i), to[i]);
    return change;
}

void TDirFile::ApplyChange(const EntriesChange& change, bool modified) {
    if (!change.Order.empty()) {
        std::vector<uint32_t> order;
        order.reserve(files_.size());
        for (const auto& [first, count] : change.Order)
            for (uint32_t i = 0; i < count; ++i)
                order.push_back(first + i);
        Reorder(order);
    }
    // Every index the entries grow by must be given.
    size_t given = 0;
    for (const auto& [index, info] : change.Entries) {
        PELFRY_CHECK(index < change.Count, ChangeOutOfRange, "", "");
        given += index >= files_.size() ? 1 : 0;
    }
    PELFRY_CHECK(files_.size() + given >= change.Count, ChangeOutOfRange, "", "");
    files_.resize(change.Count);
    for (const auto& [index, info] : change.Entries)
        files_[index] = info;
    Reindex();
    modified_ = modified;
}

std::unique_ptr<Folder> TDirFile::WriteEntry(const std::string& folder, int32_t index) {
    PELFRY_CHECK(index >= 0 && static_cast<size_t>(index) < files_.size(), WriteIndex,
                 "Entry index out of range", "");
    const FileInfo& info = files_[static_cast<size_t>(index)];
    if (IsUnsafeEntryName(info.Name)) throw Error("Unsafe entry name: " + info.Name);
    // Read for this write only: extracting a whole archive holds one entry at a time.
    const ByteArray data = ReadEntry(index);

    const std::string target = NativePath(folder + info.Name);
    if (target.find_last_of('/') == std::string::npos) throw Error("Unable to create directory");
    // The folder the caller named is taken as it stands, links and all; everything the entry's
    // name adds below it is walked without following links, so a link planted in a shared
    // folder (the system's temporary folder is the default) cannot take the file elsewhere.
    const std::string nativeFolder = NativePath(folder);
    const size_t base = nativeFolder.find_last_of('/');
    const std::string baseFolder =
        base == std::string::npos ? std::string() : nativeFolder.substr(0, base + 1);
    static const std::vector<uint8_t> none;
    return WriteFileBelow(baseFolder, std::string_view(target).substr(baseFolder.size()),
                          data ? *data : none);
}

int TDirFile::ExtractEntry(const std::string& folder, int32_t index) {
    try {
        WriteEntry(folder, index);
    } catch (const FileCreateError& e) {
        return e.Code() != 0 ? e.Code() : EIO;
    } catch (const FileWriteError& e) {
        return e.Code() != 0 ? e.Code() : EIO;
    }
    return 0;
}

} // namespace pelfry
