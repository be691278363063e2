#include "image/ImgFileU.h"
#include "image/Encoder.h"

#include "platform/Bytes.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/Picture.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace pelfry {

// ---- Codec ----------------------------------------------------------------------------------

int32_t MatchLength(const uint8_t* first, const uint8_t* second, int32_t limit) {
    return codec::FastMatch(first, second, limit);
}

int32_t Compress(const uint8_t* source, int32_t length, uint8_t* destination) {
    const int32_t written = codec::Encode(source, length, destination);
    if (written < 0) PELFRY_FAIL("Decompressed bytes must not have msb set!");
    return written;
}

int32_t Decompress(uint8_t* destination, int32_t destinationLength, const uint8_t* source,
                   int32_t sourceLength) {
    int32_t in = 0;
    int32_t out = 0;
    while (in < sourceLength) {
        uint8_t b0 = source[in++];
        if (b0 < 0x80) {
            if (out >= destinationLength) break;
            destination[out++] = b0;
            continue;
        }
        if (in >= sourceLength) break;
        uint8_t b1 = source[in++];
        int32_t field = (b0 % 8) * 256 + b1;
        int32_t lengthCode = (b0 / 8) % 16;
        int32_t count, distance;
        if (lengthCode != 0) {
            count = lengthCode + 2;
            distance = field + 1;
        } else if (field == 0) {
            break; // terminator
        } else {
            if (in >= sourceLength) break;
            count = source[in++] + 18;
            distance = field;
        }
        if (distance > out) break; // refers before the start of the output
        if (count > destinationLength - out) break;
        // Byte-by-byte semantics: each byte copies the one `distance` before it, so a short
        // distance repeats the last `distance` bytes.
        uint8_t* to = destination + out;
        const uint8_t* from = to - distance;
        if (distance == 1) {
            std::memset(to, *from, static_cast<size_t>(count));
        } else if (distance >= count) {
            std::memcpy(to, from, static_cast<size_t>(count));
        } else if (distance >= 8) {
            int32_t i = 0;
            for (; i + 8 <= count; i += 8) std::memcpy(to + i, from + i, 8);
            for (; i < count; ++i) to[i] = from[i];
        } else {
            for (int32_t i = 0; i < count; ++i) to[i] = from[i];
        }
        out += count;
    }
    return out;
}

// ---- Palettes --------------------------------------------------------------------------------

Palette256 MakePalette(const uint8_t* colours, uint32_t count) {
    Palette256 palette{};
    uint32_t n = std::min<uint32_t>(count, 256);
    for (uint32_t i = 0; i < n; ++i) palette[i] = RGB{colours[3 * i], colours[3 * i + 1], colours[3 * i + 2]};
    return palette;
}

// ---- Images ----------------------------------------------------------------------------------

namespace {

constexpr uint8_t ImgMagic[4] = {'I', 'M', 'G', 0x1A};
constexpr uint8_t CompressedFlag = 0x40;
// The longest reference produces 273 bytes from 3 stream bytes, the most any token gives.
constexpr uint64_t MaxExpansion = 91;
// Pixel counts beyond this would not fit the signed 32-bit results and buffer lengths.
constexpr uint64_t MaxPixels = static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) - 16;

// Fill bytes after N stored palette entries, bringing the pixel data to a multiple of 4.
inline uint32_t FillCount(uint32_t storedColours) { return (4 - (3 * storedColours) % 4) % 4; }

} // namespace

int32_t TImgFile::LoadFromFile(const std::string& path) {
    FileStream file(path, FileStream::Mode::OpenRead);
    return LoadFromStream(&file);
}

int32_t TImgFile::LoadFromStream(Stream* stream) {
    if (stream == nullptr) return 0;
    uint8_t magic[4] = {};
    if (stream->Read(magic, 4) != 4 || std::memcmp(magic, ImgMagic, 4) != 0) return 0;

    // FileSize and Depth are not needed; some files carry one more header byte, flagged by
    // the value 8 where the flags usually are.
    stream->Seek(9, SeekOrigin::Begin);
    uint8_t flags = ReadU8(*stream);
    if (flags == 8) flags = ReadU8(*stream);

    const uint32_t stored = ReadU16(*stream);
    std::vector<uint8_t> palette((static_cast<size_t>(stored) + 1) * 3, 0);
    stream->Read(palette.data() + 3, static_cast<int64_t>(stored) * 3);
    const uint16_t width = ReadU16(*stream);
    const uint16_t height = ReadU16(*stream);
    uint8_t fill[3];
    stream->Read(fill, FillCount(stored));

    const bool compressed = (flags & CompressedFlag) != 0;
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    const int64_t position = stream->Position();
    const int64_t size = stream->Size();
    const uint64_t remaining = position >= 0 && size > position ? static_cast<uint64_t>(size - position) : 0;
    // Never allocate for pixels that the data behind the header could not possibly fill.
    const uint64_t backed = compressed ? remaining * MaxExpansion : remaining;
    if (pixels > std::max(backed, UnbackedPixelLimit) || pixels > MaxPixels) return 0;

    Width = width;
    Height = height;
    ColourCount = stored + 1;
    Palette = std::move(palette);
    if (compressed) {
        Packed = ReadRest(*stream);
        Pixels.assign(static_cast<size_t>(pixels) + 1, 0);
        const int32_t streamLength = static_cast<int32_t>(
            std::min<size_t>(Packed.size(), static_cast<size_t>(std::numeric_limits<int32_t>::max())));
        return Decompress(Pixels.data(), static_cast<int32_t>(Pixels.size()), Packed.data(), streamLength);
    }
    // Packed belongs to compressed pixel data only; a former one no longer matches.
    Packed.clear();
    Pixels.assign(static_cast<size_t>(pixels), 0);
    return static_cast<int32_t>(stream->Read(Pixels.data(), static_cast<int64_t>(pixels)));
}

Bitmap TImgFile::MakeBitmap() const {
    Bitmap bitmap(Width, Height);
    const uint32_t colours = std::min<uint64_t>(ColourCount, Palette.size() / 3);
    bitmap.SetPalette(MakePalette(Palette.data(), colours));
    const size_t count = std::min(bitmap.Pixels().size(), Pixels.size());
    if (count > 0) std::memcpy(bitmap.Pixels().data(), Pixels.data(), count);
    return bitmap;
}

bool TImgFile::ExportBitmap(const std::string& path, PictureFormat format) const {
    SavePictureFile(MakeBitmap(), path + PictureSuffix(format), format);
    return true;
}

void TImgFile::ImportBitmap(const std::string& path, bool opaque) {
    ImportBitmap(LoadPictureFile(path + ".bmp").Image, opaque);
}

void TImgFile::ImportBitmap(Bitmap bitmap, bool opaque) {
    PELFRY_ASSERT(bitmap.Width() <= 0xFFFF && bitmap.Height() <= 0xFFFF, "Bitmap too large for an image");
    const uint16_t width = static_cast<uint16_t>(bitmap.Width());
    const uint16_t height = static_cast<uint16_t>(bitmap.Height());

    // New indices in order of first appearance; index 0 (transparent) keeps its place. The
    // scan stops as soon as there are too many colours, whatever the opaque option.
    std::array<uint16_t, 256> oldToNew{};
    std::array<uint8_t, 256> newToOld{};
    uint32_t colourCount = 1;
    std::vector<uint8_t>& pixels = bitmap.Pixels();
    for (uint8_t& v : pixels) {
        if (v == 0) continue;
        if (oldToNew[v] == 0) {
            if (colourCount >= 128) {
                colourCount = 129;
                break;
            }
            oldToNew[v] = static_cast<uint16_t>(colourCount);
            newToOld[colourCount] = v;
            ++colourCount;
        }
        v = static_cast<uint8_t>(oldToNew[v]);
    }
    if (opaque) ++colourCount;
    if (colourCount > 128) PELFRY_FAIL("Too many colours in image!");

    std::vector<uint8_t> palette(static_cast<size_t>(colourCount) * 3, 0);
    if (opaque) {
        // Former index-0 pixels take the extra last entry, which stays black.
        const uint8_t extra = static_cast<uint8_t>(colourCount - 1);
        for (uint8_t& v : pixels)
            if (v == 0) v = extra;
    }
    const uint32_t used = opaque ? colourCount - 2 : colourCount - 1;
    for (uint32_t i = 1; i <= used; ++i) {
        const RGB& c = bitmap.Palette()[newToOld[i]];
        palette[3 * i] = c.r;
        palette[3 * i + 1] = c.g;
        palette[3 * i + 2] = c.b;
    }

    Width = width;
    Height = height;
    ColourCount = colourCount;
    Palette = std::move(palette);
    Pixels = std::move(pixels);
    Packed.clear();
}

std::vector<uint8_t> TImgFile::SaveToBytes(bool compress) {
    const uint64_t pixels = static_cast<uint64_t>(Width) * Height;
    PELFRY_ASSERT(pixels <= MaxPixels, "Image too large to save");
    PELFRY_ASSERT(ColourCount <= 0x10000, "Too many colours in image!");
    // An object that was never filled has no palette at all; it is written with none.
    const uint32_t stored = ColourCount > 0 ? ColourCount - 1 : 0;

    std::vector<uint8_t> file(std::begin(ImgMagic), std::end(ImgMagic));
    PutU32(file, 0); // FileSize, set below
    PutU8(file, 8);  // Depth
    PutU8(file, compress ? 0xC0 : 0x80);
    PutU16(file, static_cast<uint16_t>(stored));
    const size_t paletteBytes = static_cast<size_t>(stored) * 3;
    const size_t have = Palette.size() > 3 ? std::min(Palette.size() - 3, paletteBytes) : 0;
    if (have > 0) PutBytes(file, Palette.data() + 3, have);
    PutZeros(file, paletteBytes - have);
    PutU16(file, Width);
    PutU16(file, Height);
    PutZeros(file, FillCount(stored));

    const size_t pixelCount = static_cast<size_t>(pixels);
    if (compress) {
        if (Packed.empty()) {
            std::vector<uint8_t> source(Pixels.begin(), Pixels.begin() + static_cast<ptrdiff_t>(std::min(Pixels.size(), pixelCount)));
            source.resize(pixelCount, 0);
            std::vector<uint8_t> buffer(pixelCount + 2);
            const int32_t count = Compress(source.data(), static_cast<int32_t>(pixelCount), buffer.data());
            buffer.resize(static_cast<size_t>(count));
            Packed = std::move(buffer);
        }
        PutBytes(file, Packed.data(), Packed.size());
    } else {
        const size_t have = std::min(Pixels.size(), pixelCount);
        if (have > 0) PutBytes(file, Pixels.data(), have);
        PutZeros(file, pixelCount - have);
    }
    PELFRY_ASSERT(file.size() <= static_cast<size_t>(std::numeric_limits<int32_t>::max()), "Image too large to save");
    SetU32(file, 4, static_cast<uint32_t>(file.size()));
    return file;
}

int32_t TImgFile::SaveToFile(const std::string& path, bool compress) {
    const std::vector<uint8_t> file = SaveToBytes(compress);
    WriteFileReplacing(path, file);
    return static_cast<int32_t>(file.size());
}

} // namespace pelfry
