// The file-backed stream: a file opened for one operation, closed when the object goes. Its calls
// into the system are in FileStream_posix.cpp and FileStream_win.cpp.
#pragma once

#include "base/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelfry {

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
    // Reads up to `count` bytes from `offset` on, leaving the position alone: several threads
    // may read one open file this way at once. Returns the bytes delivered, fewer only at the
    // end of the file; FileReadError naming this file when the system fails a read.
    int64_t ReadAt(int64_t offset, void* buffer, int64_t count) const;

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

} // namespace pelfry
