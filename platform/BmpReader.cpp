// Reading .bmp files as picture editors write them, into the 8-bit indexed Bitmap.
//
// Accepted: 1-, 2-, 4- and 8-bit indexed pictures, uncompressed, RLE8 (8-bit) or RLE4 (4-bit),
// with the 12-byte core header (3-byte colour table entries) or an information header of
// 16 to 124 bytes (40, the V4 108 and the V5 124 are the usual ones; 4-byte entries), rows
// bottom-up or top-down (negative height).
//
// Everything is read from a byte buffer with explicit bounds checks; nothing is allocated
// before the file has shown that it holds the data the allocation is for:
// - uncompressed pixels: the rows must be present in the file before the bitmap is sized;
// - RLE: runs describe at most 255 pixels per 2 bytes, but "delta" and "end of bitmap"
//   escapes may leave any number of pixels implicit (they stay 0). A picture larger than its
//   runs could describe is therefore accepted only up to kMaxImplicitPixels, so that a few
//   bytes cannot demand gigabytes.
#include "Bitmap.h"

#include "Bytes.h"
#include "Errors.h"
#include "FileUtil.h"

#include <algorithm>

namespace pelfry {

namespace {

constexpr uint32_t kMaxDimension = 65535;
// Largest RLE picture accepted whatever its data size (64 Mi pixels, 64 MiB of pixels).
constexpr uint64_t kMaxImplicitPixels = uint64_t{1} << 26;

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;

[[noreturn]] void Invalid(const std::string& fileName) {
    throw Error(Format("Invalid bitmap file %s", fileName.c_str()));
}

[[noreturn]] void NoPalette(const std::string& fileName) {
    throw Error(Format("%s has no colour palette: save the picture with a colour palette of at most 256 colours",
                       fileName.c_str()));
}

[[noreturn]] void TooLarge(const std::string& fileName) {
    throw Error(Format("%s is wider or taller than 65,535 pixels", fileName.c_str()));
}

// Field of the information header at `at`, or 0 when the header is too short to hold it
// (the short OS/2 variants leave the later fields out).
uint32_t HeaderU32(const uint8_t* header, uint32_t headerSize, uint32_t at) {
    return at + 4 <= headerSize ? GetU32(header + at) : 0;
}

// Writes decoded pixels into the bitmap: row r counts in file order (0 = first row stored).
struct RowSink {
    Bitmap& bitmap;
    bool topDown;
    uint8_t* Row(uint32_t r) {
        int y = topDown ? static_cast<int>(r) : bitmap.Height() - 1 - static_cast<int>(r);
        return bitmap.Row(y);
    }
};

void DecodeUncompressed(const uint8_t* data, uint32_t bpp, uint32_t width, uint32_t height, uint64_t stride,
                        RowSink sink) {
    const uint32_t perByte = 8 / bpp;
    const uint32_t mask = (1u << bpp) - 1;
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* src = data + stride * r;
        uint8_t* dst = sink.Row(r);
        if (bpp == 8) {
            std::copy(src, src + width, dst);
            continue;
        }
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t shift = 8 - bpp * (x % perByte + 1);
            dst[x] = static_cast<uint8_t>((src[x / perByte] >> shift) & mask);
        }
    }
}

// RLE8 and RLE4. Runs that pass the right edge are cut there; a delta or end of line moves
// the position as the format says. Pixels never reached stay 0. Returns false when the data
// ends inside a command, or before the end of the bitmap when rows remain (a truncated file).
bool DecodeRle(const uint8_t* data, size_t size, bool rle4, uint32_t width, uint32_t height, RowSink sink) {
    size_t at = 0;
    uint64_t x = 0; // may pass the right edge; pixels there are dropped
    uint32_t r = 0;
    auto put = [&](uint8_t value) {
        if (x < width && r < height) sink.Row(r)[x] = value;
        ++x;
    };
    while (r < height) {
        if (at + 2 > size) return false;
        const uint8_t count = data[at], value = data[at + 1];
        at += 2;
        if (count > 0) {
            // Encoded run: `count` pixels of `value` (RLE4: its two nibbles alternating).
            for (uint32_t i = 0; i < count; ++i)
                put(rle4 ? static_cast<uint8_t>((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++r;
            break;
        case 1: // end of bitmap
            return true;
        case 2: // delta: move right and down (towards later rows)
            if (at + 2 > size) return false;
            x += data[at];
            r += data[at + 1];
            at += 2;
            break;
        default: { // absolute run of `value` pixels, padded to a 16-bit boundary
            const uint32_t n = value;
            const size_t bytes = rle4 ? (n + 1) / 2 : n;
            const size_t padded = bytes + (bytes & 1);
            if (at + bytes > size) return false;
            for (uint32_t i = 0; i < n; ++i) {
                uint8_t b = data[at + (rle4 ? i / 2 : i)];
                put(rle4 ? static_cast<uint8_t>((i & 1) ? b & 0x0F : b >> 4) : b);
            }
            at = std::min(size, at + padded);
            break;
        }
        }
    }
    return true;
}

} // namespace

Bitmap DecodeBitmap(const uint8_t* data, size_t size, const std::string& fileName) {
    constexpr size_t kFileHeader = 14;
    if (data == nullptr || size < kFileHeader + 12 || data[0] != 'B' || data[1] != 'M') Invalid(fileName);
    const uint32_t offBits = GetU32(data + 10);
    const uint32_t headerSize = GetU32(data + kFileHeader);
    if (headerSize != 12 && (headerSize < 16 || headerSize > 124)) Invalid(fileName);
    if (kFileHeader + headerSize > size) Invalid(fileName);
    const uint8_t* h = data + kFileHeader;

    const bool core = headerSize == 12;
    uint32_t width, bpp, compression = kBiRgb, colorsUsed = 0;
    int64_t signedHeight;
    if (core) {
        width = GetU16(h + 4);
        signedHeight = GetU16(h + 6);
        bpp = GetU16(h + 10);
    } else {
        width = GetU32(h + 4); // signed in the format; negative widths are refused below
        signedHeight = static_cast<int32_t>(GetU32(h + 8));
        bpp = GetU16(h + 14);
        compression = HeaderU32(h, headerSize, 16);
        colorsUsed = HeaderU32(h, headerSize, 32);
    }

    // Pictures that carry their colours directly, not through a palette.
    if (bpp == 16 || bpp == 24 || bpp == 32 || (bpp == 0 && (compression == kBiJpeg || compression == kBiPng)))
        NoPalette(fileName);
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8) Invalid(fileName);
    if (!(compression == kBiRgb || (compression == kBiRle8 && bpp == 8) || (compression == kBiRle4 && bpp == 4)))
        Invalid(fileName);

    if (static_cast<int32_t>(width) < 0) Invalid(fileName);
    const bool topDown = signedHeight < 0;
    const uint64_t absHeight = static_cast<uint64_t>(topDown ? -signedHeight : signedHeight);
    if (width > kMaxDimension || absHeight > kMaxDimension) TooLarge(fileName);
    const uint32_t height = static_cast<uint32_t>(absHeight);

    // Colour table: right after the header, as many entries as the header says (all 2^bpp
    // when it says 0), but never reaching into the pixel data.
    const size_t entrySize = core ? 3 : 4;
    const size_t tableStart = kFileHeader + headerSize;
    const size_t declared = std::min<size_t>(colorsUsed != 0 ? colorsUsed : (size_t{1} << bpp), 256);
    // A writer that leaves the pixel offset 0 means "right after the colour table".
    const size_t pixelStart = offBits != 0 ? offBits : tableStart + declared * entrySize;
    if (pixelStart < tableStart || pixelStart > size) Invalid(fileName);
    const size_t entries = std::min(declared, (pixelStart - tableStart) / entrySize);
    Palette256 palette{};
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* e = data + tableStart + i * entrySize;
        palette[i] = RGB{e[2], e[1], e[0]};
    }

    const uint8_t* pixels = data + pixelStart;
    const size_t available = size - pixelStart;
    Bitmap bitmap;
    if (width == 0 || height == 0) { // nothing to decode; the palette still counts
        bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
        bitmap.SetPalette(palette);
        return bitmap;
    }
    if (compression == kBiRgb) {
        const uint64_t stride = (uint64_t{width} * bpp + 31) / 32 * 4;
        const uint64_t lastRow = (uint64_t{width} * bpp + 7) / 8;
        // The last row's padding may be missing; every pixel must be there.
        if (height > 0 && stride * (height - 1) + lastRow > available) Invalid(fileName);
        bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
        bitmap.SetPalette(palette);
        DecodeUncompressed(pixels, bpp, width, height, stride, RowSink{bitmap, topDown});
    } else {
        const uint64_t pixelCount = uint64_t{width} * height;
        const uint64_t describable = uint64_t{available} / 2 * 255;
        if (pixelCount > std::max(describable, kMaxImplicitPixels)) Invalid(fileName);
        bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
        bitmap.SetPalette(palette);
        if (!DecodeRle(pixels, available, compression == kBiRle4, width, height, RowSink{bitmap, topDown}))
            Invalid(fileName);
    }
    return bitmap;
}

Bitmap LoadBitmapFile(const std::string& path) {
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    return DecodeBitmap(bytes.data(), bytes.size(), path);
}

} // namespace pelfry
