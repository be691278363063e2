// Reading .bmp files as picture editors write them, into the 8-bit indexed Bitmap.
//
// Accepted: 1-, 2-, 4- and 8-bit indexed pictures, uncompressed, RLE8 (8-bit) or RLE4 (4-bit);
// 16-, 24- and 32-bit true-colour pictures, uncompressed or with bit-field masks (an alpha mask
// makes an alpha channel; without one, the fourth byte of a 32-bit pixel is padding); with the
// 12-byte core header (3-byte colour table entries) or an information header of 16 to 124
// bytes (40, the V4 108 and the V5 124 are the usual ones; 4-byte entries), rows bottom-up or
// top-down (negative height). True-colour pixels are numbered as Picture.h describes.
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
#include "Picture.h"

#include <algorithm>
#include <bit>

namespace pelfry {

namespace {

constexpr uint32_t kMaxDimension = 65535;
// Largest RLE picture accepted whatever its data size (64 Mi pixels, 64 MiB of pixels).
constexpr uint64_t kMaxImplicitPixels = uint64_t{1} << 26;

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitFields = 3;
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitFields = 6;

[[noreturn]] void Invalid(const std::string& fileName) {
    throw Error(Format("Invalid bitmap file %s", fileName.c_str()));
}

[[noreturn]] void Embedded(const std::string& fileName) {
    throw Error(Format(
        "%s holds a JPEG or PNG picture inside a bitmap file: save it as a plain bitmap or as PNG",
        fileName.c_str()));
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

// Where each channel sits in a 16- or 32-bit pixel; an alpha mask of 0 means no alpha channel.
struct Masks {
    uint32_t r, g, b, a;
};

bool Contiguous(uint32_t mask) {
    if (mask == 0) return true;
    const uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

// The channel under `mask`, scaled to 8 bits: wider channels keep their high bits, narrower
// ones are stretched so that their largest value is 255.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0) return 0;
    const int bits = std::popcount(mask);
    const uint32_t value = (pixel & mask) >> std::countr_zero(mask);
    if (bits >= 8) return static_cast<uint8_t>(value >> (bits - 8));
    const uint32_t max = (1u << bits) - 1;
    return static_cast<uint8_t>((value * 255 + max / 2) / max);
}

// 16-, 24- and 32-bit rows; colours numbered in picture order, the top row first.
void DecodeTrueColour(const uint8_t* data, uint32_t bpp, const Masks& masks, uint32_t width,
                      uint32_t height, uint64_t stride, Bitmap& bitmap, bool topDown) {
    ColourNumbering numbering(masks.a != 0);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = data + stride * (topDown ? y : height - 1 - y);
        uint8_t* dst = bitmap.Row(static_cast<int>(y));
        for (uint32_t x = 0; x < width; ++x) {
            if (bpp == 24) {
                const uint8_t* p = src + 3 * x;
                dst[x] = numbering.Index(p[2], p[1], p[0], 255);
                continue;
            }
            const uint32_t pixel = bpp == 16 ? GetU16(src + 2 * x) : GetU32(src + 4 * x);
            dst[x] = numbering.Index(Channel(pixel, masks.r), Channel(pixel, masks.g),
                                     Channel(pixel, masks.b),
                                     masks.a != 0 ? Channel(pixel, masks.a) : 255);
        }
    }
    bitmap.SetPalette(numbering.Palette());
}

} // namespace

Bitmap DecodeBitmap(const uint8_t* data, size_t size, const std::string& fileName) {
    return DecodeBmp(data, size, fileName).Image;
}

Picture DecodeBmp(const uint8_t* data, size_t size, const std::string& fileName) {
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

    if (bpp == 0 && (compression == kBiJpeg || compression == kBiPng)) Embedded(fileName);
    // Pictures that carry their colours directly, not through a palette.
    const bool trueColour = bpp == 16 || bpp == 24 || bpp == 32;
    const bool bitFields = compression == kBiBitFields || compression == kBiAlphaBitFields;
    if (trueColour) {
        if (!(compression == kBiRgb || (bitFields && bpp != 24))) Invalid(fileName);
    } else {
        if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8) Invalid(fileName);
        if (!(compression == kBiRgb || (compression == kBiRle8 && bpp == 8) ||
              (compression == kBiRle4 && bpp == 4)))
            Invalid(fileName);
    }

    if (static_cast<int32_t>(width) < 0) Invalid(fileName);
    const bool topDown = signedHeight < 0;
    const uint64_t absHeight = static_cast<uint64_t>(topDown ? -signedHeight : signedHeight);
    if (width > kMaxDimension || absHeight > kMaxDimension) PictureTooLarge(fileName);
    const uint32_t height = static_cast<uint32_t>(absHeight);
    const size_t tableStart = kFileHeader + headerSize;
    if (trueColour) {
        // Without bit fields: 5-5-5 for 16 bits, 8-8-8 for 32 (the fourth byte is padding).
        Masks masks =
            bpp == 16 ? Masks{0x7C00, 0x03E0, 0x001F, 0} : Masks{0xFF0000, 0x00FF00, 0x0000FF, 0};
        size_t maskBytes = 0;
        if (bitFields) {
            // The masks close the longer headers; after the 40-byte one they follow it.
            const uint8_t* at = h + 40;
            if (headerSize < 52) {
                maskBytes = compression == kBiAlphaBitFields ? 16 : 12;
                if (tableStart + maskBytes > size) Invalid(fileName);
                at = data + tableStart;
            }
            masks.r = GetU32(at);
            masks.g = GetU32(at + 4);
            masks.b = GetU32(at + 8);
            masks.a = maskBytes == 16 || headerSize >= 56 ? GetU32(at + 12) : 0;
            if (!Contiguous(masks.r) || !Contiguous(masks.g) || !Contiguous(masks.b) ||
                !Contiguous(masks.a))
                Invalid(fileName);
        }
        const size_t pixelStart = offBits != 0 ? offBits : tableStart + maskBytes;
        if (pixelStart < tableStart || pixelStart > size) Invalid(fileName);
        const uint64_t stride = (uint64_t{width} * bpp + 31) / 32 * 4;
        const uint64_t lastRow = (uint64_t{width} * bpp + 7) / 8;
        if (height > 0 && stride * (height - 1) + lastRow > size - pixelStart) Invalid(fileName);
        Picture picture{Bitmap(static_cast<int>(width), static_cast<int>(height)), false};
        DecodeTrueColour(data + pixelStart, bpp, masks, width, height, stride, picture.Image,
                         topDown);
        return picture;
    }

    // Colour table: right after the header, as many entries as the header says (all 2^bpp
    // when it says 0), but never reaching into the pixel data.
    const size_t entrySize = core ? 3 : 4;
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
    Picture picture;
    Bitmap& bitmap = picture.Image;
    if (width == 0 || height == 0) { // nothing to decode; the palette still counts
        bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
        bitmap.SetPalette(palette);
        return picture;
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
    return picture;
}

Bitmap LoadBitmapFile(const std::string& path) {
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    return DecodeBitmap(bytes.data(), bytes.size(), path);
}

} // namespace pelfry
