// Byte streams: the abstract stream the format readers take, a file-backed form and an
// owning memory form. Positions and counts are 64-bit; a short read is never an error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelfry {

enum class SeekOrigin { Begin, Current, End };

class Stream {
public:
    virtual ~Stream() = default;

    // Copies up to `count` bytes at the position into `buffer` and advances by as many.
    // Returns the number delivered: fewer at the end, 0 for a negative count. Never fails.
    virtual int64_t Read(void* buffer, int64_t count) = 0;

    // Writes `count` bytes and returns how many were written. Streams that cannot be
    // written raise AbstractError.
    virtual int64_t Write(const void* buffer, int64_t count);

    // Moves the position and returns it. The position may be set outside 0..Size();
    // reads there deliver nothing.
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

    virtual int64_t Size() = 0;

    int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, SeekOrigin::Begin); }
};

// A file opened for one operation; closed when the object goes.
class FileStream : public Stream {
public:
    enum class Mode {
        OpenRead,      // existing file, read only; FileOpenError otherwise
        OpenReadWrite, // existing file, read and write; FileOpenError otherwise
        Create         // create or truncate, read and write; FileCreateError otherwise
    };

    FileStream(const std::string& fileName, Mode mode);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override;

    // Writes all of `buffer` or raises FileWriteError naming this file.
    void WriteAll(const void* buffer, int64_t count);
    void WriteAll(const std::vector<uint8_t>& bytes) {
        WriteAll(bytes.data(), static_cast<int64_t>(bytes.size()));
    }

    // Closes the file now; raises FileWriteError when the close reports a lost write.
    void Close();

    int Handle() const { return fd_; }
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    int fd_ = -1;
    // Kept here rather than in the descriptor, so that it may lie before the start of the
    // file like a memory stream's.
    int64_t position_ = 0;
};

// A growable stream over bytes it owns; readable and writable.
class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
};

// Reads everything from the position to the end of the stream.
std::vector<uint8_t> ReadRest(Stream& stream);

} // namespace pelfry
