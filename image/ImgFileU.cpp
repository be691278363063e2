#include "image/ImgFileU.h"
#include "image/Encoder.h"

#include "base/Bytes.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "picture/Picture.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace pelfry {

namespace {

// The checks of this unit and the numbers their messages show as "line N" (see CheckSite).
constexpr CheckSite PaletteNotMade{"ImgFileU.cpp", 71};
constexpr CheckSite MsbSet{"ImgFileU.cpp", 150};
constexpr CheckSite BitmapTooLarge{"ImgFileU.cpp", 171};
constexpr CheckSite ImageTooLarge{"ImgFileU.cpp", 222};
constexpr CheckSite PaletteTooLarge{"ImgFileU.cpp", 223};
constexpr CheckSite FileTooLarge{"ImgFileU.cpp", 256};
constexpr CheckSite TooManyColours{"ImgFileU.cpp", 354};

} // namespace

// ---- Codec ----------------------------------------------------------------------------------

int32_t MatchLength(const uint8_t* first, const uint8_t* second, int32_t limit) {
    return codec::FastMatch(first, second, limit);
}

int32_t Compress(const uint8_t* source, int32_t length, uint8_t* destination) {
    const int32_t written = codec::Encode(source, length, destination);
    if (written < 0)
        Fail(MsbSet, "Decompressed bytes must not have msb set!",
             "a pixel value of 128 or more cannot be compressed");
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
            for (; i + 8 <= count; i += 8)
                std::memcpy(to + i, from + i, 8);
            for (; i < count; ++i)
                to[i] = from[i];
        } else {
            for (int32_t i = 0; i < count; ++i)
                to[i] = from[i];
        }
        out += count;
    }
    return out;
}

// ---- Palettes --------------------------------------------------------------------------------

Palette256 MakePalette(const std::vector<uint8_t>& colours, uint32_t count) {
    PELFRY_CHECK(
        colours.size() / 3 >= count, PaletteNotMade, "",
        Format("a palette of %u colours asked of %zu colour bytes", count, colours.size()));
    Palette256 palette{};
    const uint32_t n = std::min<uint32_t>(count, 256);
    for (uint32_t i = 0; i < n; ++i)
        palette[i] = RGB{colours[3 * i], colours[3 * i + 1], colours[3 * i + 2]};
    return palette;
}

RenumberedColours RenumberColours(Bitmap& picture, uint32_t limit) {
    // newOf[v]: the number index v gets, 0 until it is met (and for 0 itself); oldOf the reverse.
    // One pass numbers and rewrites; the count goes on past the limit, for the reason.
    std::array<uint8_t, 256> newOf{};
    std::array<uint8_t, 256> oldOf{};
    uint32_t used = 0;
    for (uint8_t& v : picture.Pixels()) {
        if (v != 0 && newOf[v] == 0) {
            newOf[v] = static_cast<uint8_t>(++used);
            oldOf[used] = v;
        }
        v = newOf[v];
    }
    RenumberedColours result;
    result.Used = used;
    if (used > limit) return result;
    result.Palette.assign((static_cast<size_t>(used) + 1) * 3, 0);
    for (uint32_t i = 1; i <= used; ++i) {
        const RGB& c = picture.Palette()[oldOf[i]];
        result.Palette[3 * i] = c.r;
        result.Palette[3 * i + 1] = c.g;
        result.Palette[3 * i + 2] = c.b;
    }
    result.Renumbered = true;
    return result;
}

std::string TooManyColoursReason(const char* what, uint32_t used, const char* limits) {
    return Format("%s has %u colours besides the background; %s", what, used, limits);
}

// ---- Images ----------------------------------------------------------------------------------

namespace {

constexpr uint8_t ImgMagic[4] = {'I', 'M', 'G', 0x1A};
constexpr uint8_t CompressedFlag = 0x40;
// Pixel counts beyond this would not fit the signed 32-bit results and buffer lengths.
constexpr uint64_t MaxPixels = static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) - 16;

// Fill bytes after N stored palette entries, bringing the pixel data to a multiple of 4.
inline uint32_t FillCount(uint32_t storedColours) {
    return (4 - (3 * storedColours) % 4) % 4;
}

// The header of an .IMG file, read with the reader left at the pixel data.
struct ImgHeader {
    bool compressed;
    std::vector<uint8_t> palette; // N + 1 entries, entry 0 black
    uint16_t width;
    uint16_t height;
};

// The game reads a short file as if zeros followed it, and so does this (`r` reads zeros).
ImgHeader ReadImgHeader(ByteReader& r) {
    // FileSize and Depth are not needed; some files carry one more header byte, flagged by
    // the value 8 where the flags usually are.
    r.Seek(9);
    uint8_t flags = r.U8();
    if (flags == 8) flags = r.U8();
    ImgHeader header;
    header.compressed = (flags & CompressedFlag) != 0;
    const uint32_t stored = r.U16();
    header.palette.assign((static_cast<size_t>(stored) + 1) * 3, 0);
    const std::span<const uint8_t> colours = r.BytesUpTo(static_cast<size_t>(stored) * 3);
    std::copy(colours.begin(), colours.end(), header.palette.begin() + 3);
    header.width = r.U16();
    header.height = r.U16();
    r.Skip(FillCount(stored));
    return header;
}

// The codec stream of the first `count` pixels, those the object lacks taken as 0.
std::vector<uint8_t> EncodePixels(const std::vector<uint8_t>& pixels, size_t count) {
    std::vector<uint8_t> source(
        pixels.begin(), pixels.begin() + static_cast<ptrdiff_t>(std::min(pixels.size(), count)));
    source.resize(count, 0);
    std::vector<uint8_t> packed(count + 2);
    packed.resize(
        static_cast<size_t>(Compress(source.data(), static_cast<int32_t>(count), packed.data())));
    return packed;
}

} // namespace

LoadResult TImgFile::LoadFromFile(const std::string& path) {
    FileStream file(path, FileStream::Mode::OpenRead);
    return LoadFromStream(&file);
}

namespace {

// Reads the header of the image `file` (bytes from its start, the whole file when `length` is
// their count) with `r`, left at the pixel data. Refused, with the reason, for what no image can
// be: a wrong magic, and dimensions that the pixel data could not possibly fill: more than the
// bytes that follow the header (uncompressed) or than 91 times as many (compressed: the codec's
// greatest expansion), when that is also beyond UnbackedPixelLimit.
LoadResult ReadCheckedHeader(std::span<const uint8_t> file, uint64_t length, ByteReader& r,
                             ImgHeader& header) {
    if (file.size() < 4 || !std::equal(std::begin(ImgMagic), std::end(ImgMagic), file.begin()))
        return LoadResult::Refused("not an image: it does not start with IMG 0x1A");
    header = ReadImgHeader(r);
    const uint64_t pixels = static_cast<uint64_t>(header.width) * header.height;
    // Never allocate for pixels that the data behind the header could not possibly fill.
    const uint64_t remaining = length > r.Position() ? length - r.Position() : 0;
    const uint64_t backed = header.compressed ? remaining * MaxExpansion : remaining;
    if (pixels > std::max(backed, TImgFile::UnbackedPixelLimit) || pixels > MaxPixels)
        return LoadResult::Refused(
            Format("its header says %u x %u pixels, more than the %s bytes of pixel data after "
                   "it can hold",
                   header.width, header.height, FormatThousands(remaining).c_str()));
    return LoadResult::Read(0);
}

} // namespace

LoadResult TImgFile::LoadHeader(Stream* stream) {
    if (stream == nullptr) return LoadResult::Refused();
    // The longest header: one more flags byte, 65,535 colours, the size and 3 fill bytes.
    constexpr uint64_t LongestHeader = 10 + 1 + 2 + 3 * 65535 + 4 + 3;
    // The header is read, not trusted to the size the stream reports: files of /proc and of
    // some network and FUSE file systems say 0 bytes and hold more (ReadRest). Where the stream
    // gave more than it said, the rest is counted too, so the header is judged as a full load
    // judges it.
    stream->SetPosition(0);
    const std::vector<uint8_t> head = ReadRest(*stream, LongestHeader - 1);
    uint64_t length = static_cast<uint64_t>(std::max<int64_t>(stream->Size(), 0));
    if (head.size() > length) {
        length = head.size();
        uint8_t rest[65536];
        for (int64_t got; (got = stream->Read(rest, sizeof rest)) > 0;)
            length += static_cast<uint64_t>(got);
    }
    ByteReader r(head, 0, ByteReader::PastEnd::ReadsZeros);
    ImgHeader header;
    LoadResult result = ReadCheckedHeader(head, length, r, header);
    if (!result.Accepted) return result;
    Width = header.width;
    Height = header.height;
    Palette = std::move(header.palette);
    Pixels.clear();
    packed_.clear();
    compressed_ = header.compressed;
    return result;
}

LoadResult TImgFile::LoadFromStream(Stream* stream) {
    if (stream == nullptr) return LoadResult::Refused();
    stream->SetPosition(0);
    std::vector<uint8_t> file = ReadRest(*stream);
    ByteReader r(file, 0, ByteReader::PastEnd::ReadsZeros);
    ImgHeader header;
    LoadResult checked = ReadCheckedHeader(file, file.size(), r, header);
    if (!checked.Accepted) return checked;
    const uint64_t pixels = static_cast<uint64_t>(header.width) * header.height;

    // Compressed pixel data is kept whole and decoded into one byte more than the image holds.
    std::vector<uint8_t> decoded;
    std::vector<uint8_t> packed;
    int32_t count;
    if (header.compressed) {
        const std::span<const uint8_t> stream = r.Rest();
        packed.assign(stream.begin(), stream.end());
        decoded.assign(static_cast<size_t>(pixels) + 1, 0);
        const int32_t streamLength = static_cast<int32_t>(std::min<size_t>(
            packed.size(), static_cast<size_t>(std::numeric_limits<int32_t>::max())));
        count = Decompress(decoded.data(), static_cast<int32_t>(decoded.size()), packed.data(),
                           streamLength);
    } else {
        // The pixels are the file's tail: moved to its front rather than copied, with zeros
        // where the file ends early.
        const size_t start = r.Position();
        count = static_cast<int32_t>(r.BytesUpTo(static_cast<size_t>(pixels)).size());
        file.erase(file.begin(), file.begin() + static_cast<ptrdiff_t>(start));
        file.resize(static_cast<size_t>(pixels), 0);
        decoded = std::move(file);
    }
    Width = header.width;
    Height = header.height;
    Palette = std::move(header.palette);
    Pixels = std::move(decoded);
    // Uncompressed data leaves Packed empty: a former one no longer matches the pixels.
    packed_ = std::move(packed);
    compressed_ = header.compressed;
    return LoadResult::Read(count);
}

std::string TImgFile::CutShortNote(int64_t read) const {
    const uint64_t pixels = static_cast<uint64_t>(Width) * Height;
    if (read < 0 || static_cast<uint64_t>(read) >= pixels) return {};
    return Format("cut short: %s of %s pixels read; the rest is background",
                  FormatThousands(static_cast<uint64_t>(read)).c_str(),
                  FormatThousands(pixels).c_str());
}

Bitmap TImgFile::MakeBitmap() const {
    Bitmap bitmap(Width, Height);
    bitmap.SetPalette(MakePalette(Palette, ColourCount()));
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
    PELFRY_CHECK(bitmap.Width() <= 0xFFFF && bitmap.Height() <= 0xFFFF, BitmapTooLarge,
                 "Bitmap too large for an image",
                 Format("the picture is %d x %d pixels; an image holds at most 65535 x 65535",
                        bitmap.Width(), bitmap.Height()));
    // One index fewer when opaque: the background pixels take the extra last entry.
    RenumberedColours colours = RenumberColours(bitmap, opaque ? 126 : 127);
    PELFRY_CHECK(
        colours.Renumbered, TooManyColours, "Too many colours in image!",
        TooManyColoursReason("the picture", colours.Used, "at most 127 fit, 126 when opaque"));
    std::vector<uint8_t>& pixels = bitmap.Pixels();
    if (opaque) {
        // Former index-0 pixels take the extra last entry, which stays black.
        const uint8_t extra = static_cast<uint8_t>(colours.Used + 1);
        for (uint8_t& v : pixels)
            if (v == 0) v = extra;
        colours.Palette.resize(colours.Palette.size() + 3, 0);
    }
    Width = static_cast<uint16_t>(bitmap.Width());
    Height = static_cast<uint16_t>(bitmap.Height());
    Palette = std::move(colours.Palette);
    Pixels = std::move(pixels);
    packed_.clear();
    compressed_ = false;
}

std::vector<uint8_t> TImgFile::SaveToBytes(bool compress) {
    const uint64_t pixels = static_cast<uint64_t>(Width) * Height;
    PELFRY_CHECK(pixels <= MaxPixels, ImageTooLarge, "Image too large to save",
                 Format("%u x %u pixels", Width, Height));
    PELFRY_CHECK(ColourCount() <= 0x10000, PaletteTooLarge, "Too many colours in image!",
                 Format("the image has %u colours; a file holds at most 65536", ColourCount()));
    // An object that was never filled has no palette at all; it is written with none.
    const uint32_t stored = ColourCount() > 0 ? ColourCount() - 1 : 0;

    std::vector<uint8_t> file(std::begin(ImgMagic), std::end(ImgMagic));
    PutU32(file, 0); // FileSize, set below
    PutU8(file, 8);  // Depth
    PutU8(file, compress ? 0xC0 : 0x80);
    PutU16(file, static_cast<uint16_t>(stored));
    if (stored > 0) PutBytes(file, Palette.data() + 3, static_cast<size_t>(stored) * 3);
    PutU16(file, Width);
    PutU16(file, Height);
    PutZeros(file, FillCount(stored));

    const size_t pixelCount = static_cast<size_t>(pixels);
    if (compress) {
        if (packed_.empty()) packed_ = EncodePixels(Pixels, pixelCount);
        PutBytes(file, packed_.data(), packed_.size());
    } else {
        // Pixels the object lacks are written as 0.
        const size_t have = std::min(Pixels.size(), pixelCount);
        PutBytes(file, Pixels.data(), have);
        PutZeros(file, pixelCount - have);
    }
    compressed_ = compress;
    PELFRY_CHECK(file.size() <= static_cast<size_t>(std::numeric_limits<int32_t>::max()),
                 FileTooLarge, "Image too large to save",
                 Format("the file would be %zu bytes long", file.size()));
    SetU32(file, 4, static_cast<uint32_t>(file.size()));
    return file;
}

int32_t TImgFile::SaveToFile(const std::string& path, bool compress) {
    const std::vector<uint8_t> file = SaveToBytes(compress);
    WriteFileReplacing(path, file);
    return static_cast<int32_t>(file.size());
}

} // namespace pelfry
