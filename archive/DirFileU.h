// TDirFile: one .DIR archive in memory. A .DIR file holds named entries (blocks of bytes)
// followed by a directory block: a 1024-bucket hash table of name chains and one record
// per entry. See ARCHITECTURE.md and README.md for the layout.
#pragma once

#include "archive/SetMemoryStreamU.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "platform/FileStream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pelfry {

class Folder;

// One entry of the archive.
struct FileInfo {
    std::string Name;    // 8-bit bytes as stored, compared exactly
    ByteArray Data;      // the bytes when in memory; null before they are loaded
    uint32_t Size = 0;   // length of the data, known before it is loaded
    uint32_t Offset = 0; // absolute position of the data in the archive file
    // Record position: absolute after loading, relative to the directory after saving.
    int32_t RecordPos = 0;
    int32_t Next = 0;       // chain link as read; recomputed when saving
    int32_t RecordSize = 0; // record length; 0 until computed by a save
    // Where the data lies in the archive file it was read from (Offset as read): a save
    // changes Offset, and entries not in memory are still read from the old file.
    uint32_t SourceOffset = 0;
};

using FileArray = std::vector<FileInfo>;

// What tells two states of an archive's entries apart, as undo keeps them: a new order of the
// entries, then the number of entries and, at each index where the states differ, the entry
// standing there. The blocks are shared, so a change costs memory for the entries it touched and
// the runs of its order, not for their bytes.
struct EntriesChange {
    // The entries in their new order, as runs (first index, count) of the indexes they had;
    // empty when the order stays.
    std::vector<std::pair<uint32_t, uint32_t>> Order;
    uint32_t Count = 0;
    std::vector<std::pair<uint32_t, FileInfo>> Entries; // by index, ascending
};
// What turns the entries `from` into `to` (TDirFile::ApplyChange). Entries are the same when
// they have the same name, block, size and place in the archive file.
EntriesChange DiffEntries(const FileArray& from, const FileArray& to);

// Bucket number 0..1023 of a name: for each byte, rotate left by one within 10 bits, then add the
// byte.
uint32_t NameHash(std::string_view name);

// Longest entry name the format can carry.
constexpr size_t MaxEntryNameLength = 30;

// True for the empty name, which names no file; for a name that would lead a file made from it
// outside its folder: an absolute name
// ("\" or "/" first), a drive prefix ("c:"), or a ".." component between separators; and for a
// name this system's files cannot hold (FileSystemRefusesName: device names and the like on
// Windows).
bool IsUnsafeEntryName(std::string_view name);

// True when `start`, the first bytes of a file, begin with the archive's magic "DIR" 0x1A.
bool HasDirMagic(std::span<const uint8_t> start);

// "Invalid directory file %s": a file that is damaged or is no archive at all. Reason() says
// what gave it away, for tools that can show more than the message: a file without the magic
// is "not an archive: it does not start with DIR 0x1A and ..." whatever check refused it.
class InvalidDirFileError : public Error {
public:
    InvalidDirFileError(const std::string& fileName, std::string reason)
        : Error("Invalid directory file " + fileName, std::move(reason)) {}
};

class TDirFile {
public:
    // An empty archive that belongs to no file.
    TDirFile() = default;
    virtual ~TDirFile() = default;

    // Reads the archive `fileName`: every record at once, and every entry's data too when
    // `loadAll`. Without `loadAll` the file stays open in the object and entries are read
    // later through that one descriptor, so a save by another program meanwhile cannot mix
    // two versions of the archive. Raises FileOpenError when the file cannot be opened and
    // InvalidDirFileError for a damaged file or one that is no archive (see CreateFromStream).
    // Never allocates data blocks that add up to more than the file's length.
    static std::unique_ptr<TDirFile> Create(const std::string& fileName, bool loadAll);

    // As Create, but reads the archive's bytes from `stream` (positioned anywhere; Size() is
    // the file's length). `fileName` is stored as FileName: it names the archive in messages
    // and is the file that LoadEntry opens later when `loadAll` is false.
    //
    // Refused with InvalidDirFileError: a file of 1 to 11 bytes; a directory block that does
    // not fit in the file (D + 4100 beyond its end); a file that starts with "DIR" 0x1A but is
    // shorter than the size its header records (cut short); a file without that magic whose
    // records do not run exactly to its end (not an archive); records cut off by the end of
    // the file; sizes adding up to more than the file holds; an entry without a name (the
    // reason says which: "entry 3 has no name, at byte 0x1030"), as zeros appended to an
    // archive or a file of zeros read. The reason names the byte where the fault lies. A 0-byte
    // file is an empty archive; a wrong magic or size field does not matter when the records
    // are in order.
    static std::unique_ptr<TDirFile> CreateFromStream(Stream& stream, const std::string& fileName,
                                                      bool loadAll);
    // As Create without `loadAll`, over an archive file the caller holds open (locked, say):
    // entries are read from `file` when needed, and a save copies the ones not in memory
    // from it. `file` must stay open as long as the archive object lives.
    static std::unique_ptr<TDirFile> CreateOnFile(FileStream& file, const std::string& fileName);

    uint32_t Count() const { return static_cast<uint32_t>(files_.size()); }
    // The entries in index order, to read; they change only through the operations below.
    const FileArray& Files() const { return files_; }

    // Empties `strings`, then appends every entry's name in index order.
    void ListEntries(std::vector<std::string>& strings) const;
    // Lowest index >= startIndex whose name equals `name` exactly; -1 when none. Takes constant
    // time, through an index of names that every change of the entries keeps in step, except
    // for a name held by several entries asked for past its first one.
    int32_t FindEntry(std::string_view name, int32_t startIndex = 0) const;
    // Brings entry `index`'s data into memory: read through the descriptor Create kept open
    // (never moving its position, so that a snapshot may read it from another thread), else
    // from the file FileName (FileOpenError when it has gone), at its SourceOffset. A block that
    // runs past the end of the file is zero-filled.
    void LoadEntry(int32_t index);
    // Entry `index`'s data without keeping it in the archive: the block held in memory, else
    // read afresh as LoadEntry reads it (and null for an entry of size 0). Several threads may
    // call it at once. How a whole archive is read one entry at a time, in the memory of one.
    ByteArray ReadEntry(int32_t index) const;
    // A new read-only stream over entry `index`'s data; null for an index below 0 or past the end.
    std::unique_ptr<TSetMemoryStream> EntryStream(int32_t index);

    // Writes the whole archive to `fileName`; the old file is replaced only when every write
    // succeeded, so a failed save leaves it as it was. Saving over the archive's own file
    // works; a `fileName` that is a link replaces the file it points to. Entries not in memory
    // are copied from the archive file in bounded blocks (by the system where it can), so a
    // save needs no more memory than the entries already held; that file stays open in the
    // object afterwards, and those entries are read from it later. Raises FileOpenError
    // when the archive file cannot be opened for them, FileCreateError
    // ("Cannot create file %s") when the target cannot be created (a folder, a read-only file,
    // a missing folder), FileWriteError ("Cannot write file %s") when writing fails, and the
    // errors of SaveToBytes; in every case the entries in memory stay intact. Returns true.
    // The file's permissions, owner and attributes are kept where this process may set them;
    // `warn`, when given, is told what could not be kept and that the other names of a file
    // with several (hard links) keep the old contents (ReplacingFile::Warnings).
    bool SaveToFile(const std::string& fileName,
                    const std::function<void(const std::string&)>& warn = {});

    // The whole archive as SaveToFile writes it. Loads every entry first and recomputes every
    // entry's Offset, RecordPos, Next and RecordSize. Raises Error for a name longer than 30
    // bytes ("Entry name too long (more than 30 bytes): %s"), an empty name ("Unsafe entry
    // name: "), or an archive that 32-bit
    // positions cannot describe, before anything changes.
    std::vector<uint8_t> SaveToBytes();

    // Reads the file folder + name (with "\" taken as "/") to its end, whatever size the system
    // reports, into the entry `name`, stored byte for byte: replaces the data of the first
    // entry of that name, else appends. Returns the byte count read; `index` receives the
    // entry's index. Raises, before anything changes,
    // Error ("Entry name too long (more than 30 bytes): %s") for a name the format cannot
    // carry, "Unsafe entry name: " for the empty name, FileOpenError for a file that cannot be
    // opened (with folder + name; NotRegularFileError for a folder, device, FIFO or socket,
    // never waiting on one), and Error for a file of 4 GiB or more.
    int64_t AddFile(const std::string& folder, const std::string& name, int32_t& index);
    // As AddFile, but the data comes from the file `path` (with "\" taken as "/"), whatever
    // its own name: for entries named other than their file, such as "UI\ICON.IMG" made
    // from icon.img. FileOpenError names `path`.
    int64_t AddFileAs(const std::string& path, const std::string& name, int32_t& index);
    // Appends an entry `name` holding `data` (null for none), whatever its name and whether or
    // not one of that name exists: how archives are built from bytes in memory. A name the
    // format cannot carry is refused by the save. Returns the new entry's index.
    int32_t AppendEntry(std::string name, ByteArray data);
    // Gives entry `index` the bytes `data` (null for none), keeping its name and its place.
    void ReplaceEntryData(int32_t index, ByteArray data);
    // Removes entry `index`; the last entry moves into its place. Returns the new count.
    uint32_t DeleteEntry(int32_t index);
    // Gives entry `index` the name `name`, keeping its place and its bytes; nothing changes when
    // it has that name already. Raises Error, before anything changes, for a name another entry
    // holds ("Cannot rename %s to %s: another entry has that name"), an empty one ("Cannot
    // rename %s: the new name is empty"), one that no file could be made of ("Unsafe entry
    // name: %s", as IsUnsafeEntryName tells), and one the format cannot carry.
    void RenameEntry(int32_t index, const std::string& name);
    // Puts the entries in a new order: entry i becomes the one that stood at order[i]. `order`
    // holds every index once.
    void Reorder(const std::vector<uint32_t>& order);
    // Makes the entries what `change` says (undo and redo), and Modified() say `modified`.
    void ApplyChange(const EntriesChange& change, bool modified);
    // Writes entry `index` to folder + its name through the replacing writer, making missing
    // folders (the data read by ReadEntry, not kept); "\" and "/" in the name both make
    // subfolders. `folder` itself is taken as the
    // user named it (links followed, made when missing); below it nothing is written through a
    // link: a link standing where the file goes is replaced, and a link (or file) where a
    // subfolder of the name goes refuses the entry. Raises Error "Unsafe entry name: %s" for a
    // name that is empty, absolute, starts with a drive prefix ("c:") or has a ".." component,
    // "Unable to create directory" for a target without a folder part, FileCreateError for a
    // file that cannot be made there and FileWriteError for one that could not be written
    // whole (either names folder + name). Nothing is left under the name after a failure.
    // Returns the folder the file went into, still open, for files to be written beside it.
    std::unique_ptr<Folder> WriteEntry(const std::string& folder, int32_t index);
    // WriteEntry, with a file that cannot be created or written reported through the result:
    // 0 on success, else the system's error number (EIO when none is known).
    int ExtractEntry(const std::string& folder, int32_t index);

    // True when entries were added, replaced or deleted since the archive was read, made or
    // last saved.
    bool Modified() const { return modified_; }

    // A copy of the archive as it stands, to be read on another thread while this one goes on
    // changing: the entries' blocks are shared (a block is replaced, never changed), and an
    // entry not in memory is read from the same open file without moving its position.
    std::unique_ptr<TDirFile> Snapshot() const;

    std::string FileName; // the file it was read from; empty for a new archive

private:
    TDirFile(const TDirFile&) = default;
    TDirFile& operator=(const TDirFile&) = delete;

    // Builds the index of names afresh, after a load.
    void Reindex();
    // Where a name first stands, and how many entries hold it.
    struct NameSlot {
        int32_t lowest = 0;
        int32_t count = 0;
    };
    struct NameHasher {
        using is_transparent = void;
        size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };
    // Updates the index for a deletion: the entry `name` left index `at`, then the last entry
    // (named `moved`) moved from index `from` into its place unless it was the one deleted.
    void UnindexDeleted(const std::string& name, int32_t at, const std::string* moved,
                        int32_t from);

    FileArray files_;
    bool modified_ = false;
    std::unordered_map<std::string, NameSlot, NameHasher, std::equal_to<>> index_;
    // The archive file, kept open by Create without `loadAll` (or by a save that copied from
    // it) for the entries still to read.
    std::shared_ptr<FileStream> source_;
};

} // namespace pelfry
