// Reading the fields of a file held in memory, every read checked against the bytes there are,
// in one place. Images, sprites and .bmp files are read so whole; an archive's header and its
// records are read so through a window that moves along the file.
#pragma once

#include "Errors.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pelfry {

// A file that ends before a field it needs, or holds a field out of its range: Reason() says
// what is wrong and where ("... at byte 0x1C4"), Offset() is that byte of the file. The reader
// of a format turns it into the error its users know (an assertion of its unit, "Invalid bitmap
// file %s", "Invalid directory file %s"), keeping the reason.
class DataError : public Error {
public:
    DataError(std::string reason, uint64_t offset);
    uint64_t Offset() const { return offset_; }

private:
    uint64_t offset_;
};

// "at byte 0x1C4": where a reason points in a file.
std::string AtByte(uint64_t offset);

// The little-endian fields of `bytes`, which are the bytes of a file from its byte `base` on
// (0 when they are the whole file, the start of the window when a long file is read piece by
// piece): positions count within `bytes`, offsets in errors count from the start of the file.
//
// A field or a count of bytes that runs past the end raises DataError, unless the reader was
// made with PastEnd::ReadsZeros, for formats that read a short file as if zeros followed it:
// then such a field reads 0 for its missing bytes, and Skip and Seek stop at the end. Either
// way nothing outside `bytes` is read. The bytes must outlive the reader.
class ByteReader {
public:
    enum class PastEnd { Refuse, ReadsZeros };

    explicit ByteReader(std::span<const uint8_t> bytes, uint64_t base = 0,
                        PastEnd pastEnd = PastEnd::Refuse)
        : data_(bytes.data()), size_(bytes.size()), base_(base), pastEnd_(pastEnd) {}

    size_t Size() const { return size_; }
    size_t Position() const { return pos_; }
    // Bytes from the position to the end.
    size_t Available() const { return size_ - pos_; }
    // The byte of the file at the position, and at `position`.
    uint64_t Offset() const { return base_ + pos_; }
    uint64_t OffsetOf(size_t position) const { return base_ + position; }

    // Moves to `position` (at most Size()); moves `count` bytes on.
    void Seek(size_t position) {
        if (position > size_) position = BeyondTheEnd(position);
        pos_ = position;
    }
    void Skip(size_t count) {
        if (count > Available()) count = Short(count);
        pos_ += count;
    }

    uint8_t U8() { return static_cast<uint8_t>(Field(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Field(2)); }
    uint32_t U24() { return static_cast<uint32_t>(Field(3)); }
    uint32_t U32() { return static_cast<uint32_t>(Field(4)); }

    // The next `count` bytes, all of them (DataError otherwise, also with ReadsZeros).
    std::span<const uint8_t> Bytes(size_t count) {
        if (count > Available()) RunOut(count);
        return Take(count);
    }
    // The next `count` bytes as far as there are any: fewer, or none, at the end.
    std::span<const uint8_t> BytesUpTo(size_t count) {
        return Take(count < Available() ? count : Available());
    }
    // Everything from the position to the end.
    std::span<const uint8_t> Rest() { return Take(Available()); }

    // Raises DataError with `reason` for the field that starts at `position`, as a format does
    // for a field whose value it refuses: "... at byte 0x1C4" is added to the reason.
    [[noreturn]] void Refuse(const std::string& reason, size_t position) const;

private:
    std::span<const uint8_t> Take(size_t count) {
        const std::span<const uint8_t> taken(data_ + pos_, count);
        pos_ += count;
        return taken;
    }
    // A little-endian field of `width` bytes (1 to 4).
    uint64_t Field(size_t width) {
        if (width > Available()) return ShortField(width);
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i)
            value |= static_cast<uint64_t>(data_[pos_ + i]) << (8 * i);
        pos_ += width;
        return value;
    }
    // The rare paths, out of line. A field, a skip or a seek past the end: DataError, or with
    // ReadsZeros the field's value, the bytes there are, the end.
    uint64_t ShortField(size_t width);
    size_t Short(size_t count) const;
    size_t BeyondTheEnd(size_t position) const;
    [[noreturn]] void RunOut(size_t count) const;

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint64_t base_;
    PastEnd pastEnd_;
};

// What a load of one of the game's files found. Count is the number the format's load returns
// (the pixel bytes of an image, the frames of a sprite), which is 0 both when the header is
// refused and when the file holds no pixels or frames: Accepted tells the two apart. The result
// reads as Count where a number is expected. A refused header says why in Reason, for tools that
// show more than "not a valid image file" (see Error::Reason).
struct LoadResult {
    int32_t Count = 0;
    bool Accepted = false;
    std::string Reason;

    static LoadResult Refused(std::string reason = {}) { return {0, false, std::move(reason)}; }
    static LoadResult Read(int32_t count) { return {count, true, {}}; }
    operator int32_t() const { return Count; }
};

} // namespace pelfry
