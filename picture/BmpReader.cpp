// Reading .bmp files as picture editors write them, into the 8-bit indexed Bitmap.
//
// Accepted: 1-, 2-, 4- and 8-bit indexed pictures, uncompressed, RLE8 (8-bit) or RLE4 (4-bit);
// 16-, 24- and 32-bit true-colour pictures, uncompressed or with bit-field masks (an alpha mask
// makes an alpha channel; without one, the fourth byte of a 32-bit pixel is padding); with the
// 12-byte core header (3-byte colour table entries) or an information header of 16 to 124
// bytes (40, the V4 108 and the V5 124 are the usual ones; 4-byte entries), rows bottom-up or
// top-down (negative height). True-colour pixels are numbered as Picture.h describes.
//
// Everything is read through a ByteReader, so every read is checked against the file's length;
// a file it refuses is an "Invalid bitmap file %s" with the reason in Error::Reason. Nothing is
// allocated before the file has shown that it holds the data the allocation is for:
// - uncompressed pixels: the rows must be present in the file before the bitmap is sized;
// - RLE: runs describe at most 255 pixels per 2 bytes, but "delta" and "end of bitmap"
//   escapes may leave any number of pixels implicit (they stay 0). A picture larger than its
//   runs could describe is therefore accepted only up to kMaxImplicitPixels, so that a few
//   bytes cannot demand gigabytes.
#include "Bitmap.h"

#include "Picture.h"
#include "base/ByteReader.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <bit>

namespace pelfry {

namespace {

constexpr uint32_t kMaxDimension = 65535;
// Largest RLE picture accepted whatever its data size (64 Mi pixels, 64 MiB of pixels).
constexpr uint64_t kMaxImplicitPixels = uint64_t{1} << 26;

constexpr size_t kFileHeader = 14;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitFields = 3;
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitFields = 6;

[[noreturn]] void Embedded(const std::string& fileName) {
    throw Error(Format(
        "%s holds a JPEG or PNG picture inside a bitmap file: save it as a plain bitmap or as PNG",
        fileName.c_str()));
}

// What the file and information headers say.
struct BmpHeader {
    uint32_t offBits = 0;    // where the pixels start; 0 for "after the colour table"
    uint32_t headerSize = 0; // of the information header
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bpp = 0;
    uint32_t compression = kBiRgb;
    uint32_t colorsUsed = 0;
    size_t tableStart = 0; // right after the information header
    std::span<const uint8_t> info;
};

// The field of the information header at `at`, or 0 when the header is too short to hold it
// (the short OS/2 variants leave the later fields out).
uint32_t OptionalU32(ByteReader& info, size_t at) {
    if (at + 4 > info.Size()) return 0;
    info.Seek(at);
    return info.U32();
}

// Refuses what this reader does not decode: Embedded for JPEG or PNG inside, PictureTooLarge.
// `width` is signed in the 40-byte and longer headers: a negative one is refused.
void CheckKind(const ByteReader& r, const BmpHeader& h, int64_t width,
               const std::string& fileName) {
    if (h.bpp == 0 && (h.compression == kBiJpeg || h.compression == kBiPng)) Embedded(fileName);
    const bool trueColour = h.bpp == 16 || h.bpp == 24 || h.bpp == 32;
    const bool bitFields = h.compression == kBiBitFields || h.compression == kBiAlphaBitFields;
    // Where the fields stand: in the 12-byte core header, and in all the longer ones.
    const size_t bppAt = kFileHeader + (h.headerSize == 12 ? 10 : 14);
    if (!trueColour && h.bpp != 1 && h.bpp != 2 && h.bpp != 4 && h.bpp != 8)
        r.Refuse(Format("%u bits per pixel is none of a bitmap's", h.bpp), bppAt);
    const bool known = trueColour
                           ? h.compression == kBiRgb || (bitFields && h.bpp != 24)
                           : h.compression == kBiRgb || (h.compression == kBiRle8 && h.bpp == 8) ||
                                 (h.compression == kBiRle4 && h.bpp == 4);
    if (!known)
        r.Refuse(Format("compression %u does not go with %u bits per pixel", h.compression, h.bpp),
                 h.headerSize == 12 ? bppAt : kFileHeader + 16);
    if (width < 0) r.Refuse("the width is negative", kFileHeader + 4);
    if (width > kMaxDimension || h.height > kMaxDimension) PictureTooLarge(fileName);
}

BmpHeader ReadBmpHeader(ByteReader& r, const std::string& fileName) {
    const std::span<const uint8_t> magic = r.BytesUpTo(2);
    if (magic.size() < 2 || magic[0] != 'B' || magic[1] != 'M')
        r.Refuse("not a bitmap: it does not start with BM", 0);
    BmpHeader h;
    r.Seek(10);
    h.offBits = r.U32();
    h.headerSize = r.U32();
    if (h.headerSize != 12 && (h.headerSize < 16 || h.headerSize > 124))
        r.Refuse(Format("an information header of %u bytes is none of a bitmap's", h.headerSize),
                 kFileHeader);
    r.Seek(kFileHeader);
    h.info = r.Bytes(h.headerSize);
    h.tableStart = r.Position();
    ByteReader info(h.info, kFileHeader);
    info.Seek(4);
    int64_t width, signedHeight;
    if (h.headerSize == 12) {
        width = info.U16();
        signedHeight = info.U16();
        info.Skip(2);
        h.bpp = info.U16();
    } else {
        width = static_cast<int32_t>(info.U32());
        signedHeight = static_cast<int32_t>(info.U32());
        info.Skip(2);
        h.bpp = info.U16();
        h.compression = OptionalU32(info, 16);
        h.colorsUsed = OptionalU32(info, 32);
    }
    h.topDown = signedHeight < 0;
    const uint64_t height = static_cast<uint64_t>(h.topDown ? -signedHeight : signedHeight);
    h.height = static_cast<uint32_t>(std::min<uint64_t>(height, kMaxDimension + 1));
    CheckKind(r, h, width, fileName);
    h.width = static_cast<uint32_t>(width);
    return h;
}

// Where the pixels start: at the header's offset, or at `after` when it gives none.
size_t PixelStart(const ByteReader& r, const BmpHeader& h, size_t after) {
    const size_t start = h.offBits != 0 ? h.offBits : after;
    if (start < h.tableStart || start > r.Size())
        r.Refuse(Format("the pixel offset 0x%zX points %s", start,
                        start > r.Size() ? "past the end of the file" : "into the headers"),
                 10);
    return start;
}

// The pixel rows from `start` on, `stride` bytes apart; the last row's padding may be missing,
// every pixel must be there.
ByteReader PixelRows(ByteReader& r, const BmpHeader& h, size_t start) {
    const uint64_t stride = (uint64_t{h.width} * h.bpp + 31) / 32 * 4;
    const uint64_t lastRow = (uint64_t{h.width} * h.bpp + 7) / 8;
    const uint64_t needed = h.height > 0 ? stride * (h.height - 1) + lastRow : 0;
    r.Seek(start);
    if (needed > r.Available())
        r.Refuse(Format("%u rows of %u pixels need %s bytes, the file holds %s of them", h.height,
                        h.width, FormatThousands(needed).c_str(),
                        FormatThousands(r.Available()).c_str()),
                 start);
    return ByteReader(r.Bytes(static_cast<size_t>(needed)), r.OffsetOf(start));
}

size_t Stride(const BmpHeader& h) {
    return (size_t{h.width} * h.bpp + 31) / 32 * 4;
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

void DecodeUncompressed(ByteReader rows, const BmpHeader& h, RowSink sink) {
    const uint32_t perByte = 8 / h.bpp;
    const uint32_t mask = (1u << h.bpp) - 1;
    const size_t rowBytes = (size_t{h.width} * h.bpp + 7) / 8;
    for (uint32_t r = 0; r < h.height; ++r) {
        rows.Seek(Stride(h) * r);
        const std::span<const uint8_t> src = rows.Bytes(rowBytes);
        uint8_t* dst = sink.Row(r);
        if (h.bpp == 8) {
            std::copy(src.begin(), src.end(), dst);
            continue;
        }
        for (uint32_t x = 0; x < h.width; ++x) {
            uint32_t shift = 8 - h.bpp * (x % perByte + 1);
            dst[x] = static_cast<uint8_t>((src[x / perByte] >> shift) & mask);
        }
    }
}

// RLE8 and RLE4. Runs that pass the right edge are cut there; a delta or end of line moves
// the position as the format says. Pixels never reached stay 0. Data that ends inside a
// command, or before the end of the bitmap while rows remain (a truncated file), is refused.
void DecodeRle(ByteReader data, bool rle4, uint32_t width, uint32_t height, RowSink sink) {
    uint64_t x = 0; // may pass the right edge; pixels there are dropped
    uint32_t r = 0;
    auto put = [&](uint8_t value) {
        if (x < width && r < height) sink.Row(r)[x] = value;
        ++x;
    };
    auto nibble = [rle4](uint8_t b, uint32_t i) {
        return rle4 ? static_cast<uint8_t>((i & 1) ? b & 0x0F : b >> 4) : b;
    };
    while (r < height) {
        const uint8_t count = data.U8(), value = data.U8();
        if (count > 0) {
            // Encoded run: `count` pixels of `value` (RLE4: its two nibbles alternating).
            for (uint32_t i = 0; i < count; ++i)
                put(nibble(value, i));
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++r;
        } else if (value == 1) { // end of bitmap
            return;
        } else if (value == 2) { // delta: move right and down (towards later rows)
            x += data.U8();
            r += data.U8();
        } else { // absolute run of `value` pixels, padded to a 16-bit boundary
            const std::span<const uint8_t> run = data.Bytes(rle4 ? (value + 1u) / 2 : value);
            for (uint32_t i = 0; i < value; ++i)
                put(nibble(run[rle4 ? i / 2 : i], i));
            data.Skip(std::min<size_t>(run.size() & 1, data.Available()));
        }
    }
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

// The channel masks of a true-colour picture, and how many bytes of them follow the header.
Masks ReadMasks(ByteReader& r, const BmpHeader& h, size_t& maskBytes) {
    // Without bit fields: 5-5-5 for 16 bits, 8-8-8 for 32 (the fourth byte is padding).
    Masks masks =
        h.bpp == 16 ? Masks{0x7C00, 0x03E0, 0x001F, 0} : Masks{0xFF0000, 0x00FF00, 0x0000FF, 0};
    maskBytes = 0;
    if (h.compression != kBiBitFields && h.compression != kBiAlphaBitFields) return masks;
    // The masks close the longer headers; after the 40-byte one they follow it.
    ByteReader at(h.info, kFileHeader);
    if (h.headerSize >= 52) {
        at.Seek(40);
    } else {
        maskBytes = h.compression == kBiAlphaBitFields ? 16 : 12;
        r.Seek(h.tableStart);
        at = ByteReader(r.Bytes(maskBytes), r.OffsetOf(h.tableStart));
    }
    const size_t first = at.Position();
    masks.r = at.U32();
    masks.g = at.U32();
    masks.b = at.U32();
    masks.a = maskBytes == 16 || h.headerSize >= 56 ? at.U32() : 0;
    if (!Contiguous(masks.r) || !Contiguous(masks.g) || !Contiguous(masks.b) ||
        !Contiguous(masks.a))
        at.Refuse("a colour mask is not one run of bits", first);
    return masks;
}

// 16-, 24- and 32-bit rows; colours numbered in picture order, the top row first.
Picture DecodeTrueColour(ByteReader& r, const BmpHeader& h) {
    size_t maskBytes = 0;
    const Masks masks = ReadMasks(r, h, maskBytes);
    ByteReader rows = PixelRows(r, h, PixelStart(r, h, h.tableStart + maskBytes));
    Picture picture{Bitmap(static_cast<int>(h.width), static_cast<int>(h.height)), false};
    ColourNumbering numbering(masks.a != 0);
    for (uint32_t y = 0; y < h.height; ++y) {
        rows.Seek(Stride(h) * (h.topDown ? y : h.height - 1 - y));
        ByteReader src(rows.Bytes((size_t{h.width} * h.bpp + 7) / 8));
        uint8_t* dst = picture.Image.Row(static_cast<int>(y));
        for (uint32_t x = 0; x < h.width; ++x) {
            if (h.bpp == 24) {
                const std::span<const uint8_t> p = src.Bytes(3);
                dst[x] = numbering.Index(p[2], p[1], p[0], 255);
                continue;
            }
            const uint32_t pixel = h.bpp == 16 ? src.U16() : src.U32();
            dst[x] = numbering.Index(Channel(pixel, masks.r), Channel(pixel, masks.g),
                                     Channel(pixel, masks.b),
                                     masks.a != 0 ? Channel(pixel, masks.a) : 255);
        }
    }
    picture.Image.SetPalette(numbering.Palette());
    return picture;
}

// Palette pictures: the colour table right after the header, as many entries as the header
// says (all 2^bpp when it says 0), but never reaching into the pixel data.
Picture DecodeIndexed(ByteReader& r, const BmpHeader& h) {
    const size_t entrySize = h.headerSize == 12 ? 3 : 4;
    const size_t declared =
        std::min<size_t>(h.colorsUsed != 0 ? h.colorsUsed : (size_t{1} << h.bpp), 256);
    // A writer that leaves the pixel offset 0 means "right after the colour table".
    const size_t pixelStart = PixelStart(r, h, h.tableStart + declared * entrySize);
    const size_t entries = std::min(declared, (pixelStart - h.tableStart) / entrySize);
    Palette256 palette{};
    r.Seek(h.tableStart);
    for (size_t i = 0; i < entries; ++i) {
        const std::span<const uint8_t> e = r.Bytes(entrySize);
        palette[i] = RGB{e[2], e[1], e[0]};
    }

    Picture picture;
    Bitmap& bitmap = picture.Image;
    bitmap.SetPalette(palette);
    if (h.width == 0 || h.height == 0) { // nothing to decode; the palette still counts
        bitmap.SetSize(static_cast<int>(h.width), static_cast<int>(h.height));
        return picture;
    }
    if (h.compression == kBiRgb) {
        ByteReader rows = PixelRows(r, h, pixelStart);
        bitmap.SetSize(static_cast<int>(h.width), static_cast<int>(h.height));
        DecodeUncompressed(rows, h, RowSink{bitmap, h.topDown});
        return picture;
    }
    r.Seek(pixelStart);
    const uint64_t pixelCount = uint64_t{h.width} * h.height;
    const uint64_t describable = uint64_t{r.Available()} / 2 * 255;
    if (pixelCount > std::max(describable, kMaxImplicitPixels))
        r.Refuse(Format("%s pixels are more than %s bytes of RLE data can describe",
                        FormatThousands(pixelCount).c_str(),
                        FormatThousands(r.Available()).c_str()),
                 pixelStart);
    bitmap.SetSize(static_cast<int>(h.width), static_cast<int>(h.height));
    DecodeRle(ByteReader(r.Rest(), r.OffsetOf(pixelStart)), h.compression == kBiRle4, h.width,
              h.height, RowSink{bitmap, h.topDown});
    return picture;
}

} // namespace

Bitmap DecodeBitmap(const uint8_t* data, size_t size, const std::string& fileName) {
    return DecodeBmp(data, size, fileName).Image;
}

Picture DecodeBmp(const uint8_t* data, size_t size, const std::string& fileName) {
    try {
        ByteReader r(std::span<const uint8_t>(data, data != nullptr ? size : 0));
        const BmpHeader header = ReadBmpHeader(r, fileName);
        const bool trueColour = header.bpp == 16 || header.bpp == 24 || header.bpp == 32;
        return trueColour ? DecodeTrueColour(r, header) : DecodeIndexed(r, header);
    } catch (const DataError& e) {
        throw Error(Format("Invalid bitmap file %s", fileName.c_str()), e.Reason());
    }
}

Bitmap LoadBitmapFile(const std::string& path) {
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    return DecodeBitmap(bytes.data(), bytes.size(), path);
}

} // namespace pelfry
