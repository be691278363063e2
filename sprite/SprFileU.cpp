#include "sprite/SprFileU.h"

#include "image/ImgFileU.h"
#include "platform/Bytes.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/Picture.h"
#include "platform/Text.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace pelfry {

namespace {

constexpr uint32_t MaxSlots = 256;             // a frame names its slot in one byte
constexpr uint64_t OffsetLimit = 1ull << 24;   // a frame's offset is stored in three bytes
constexpr uint32_t SlotLimit = 16384;          // unpacked bytes a slot stays below when it can
constexpr uint64_t MaxExpansion = 91;          // most bytes the codec makes of one input byte (273 of 3)
constexpr uint64_t MaxLongReference = 273;     // most bytes one codec token produces
constexpr uint64_t ZeroFillAllowance = 1u << 24; // pixels past the end of their data we still accept
constexpr int MaxStripRows = 65535;            // the tallest bitmap the strip import reads back
// The largest picture made of a sprite (a frame, or the whole strip). A header of a few bytes
// can claim 65535 x 65535 pixels; no sprite of the game comes near this.
constexpr uint64_t MaxPicturePixels = 1ull << 28;
constexpr uint8_t HeaderDepth = 8;
constexpr uint8_t HeaderCompressed = 0xC0;
constexpr uint8_t HeaderRaw = 0x80;

uint64_t BoxArea(const SpriteAnim& a) {
    if (a.Right < a.Left || a.Bottom < a.Top) return 0;
    return static_cast<uint64_t>(a.Right - a.Left) * static_cast<uint64_t>(a.Bottom - a.Top);
}

// Reads little-endian fields from a file held in memory; bytes past its end read as 0, as a
// stream that cannot deliver them does.
class FieldReader {
public:
    explicit FieldReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    uint64_t Position() const { return pos_; }
    void SetPosition(uint64_t pos) { pos_ = pos; }
    void Skip(uint64_t n) { pos_ += n; }

    uint8_t U8() {
        uint8_t v = pos_ < bytes_.size() ? bytes_[static_cast<size_t>(pos_)] : 0;
        ++pos_;
        return v;
    }
    uint16_t U16() {
        uint16_t lo = U8();
        return static_cast<uint16_t>(lo | (U8() << 8));
    }
    uint32_t U24() {
        uint32_t v = U8();
        v |= static_cast<uint32_t>(U8()) << 8;
        return v | (static_cast<uint32_t>(U8()) << 16);
    }
    uint32_t U32() {
        uint32_t lo = U16();
        return lo | (static_cast<uint32_t>(U16()) << 16);
    }

private:
    const std::vector<uint8_t>& bytes_;
    uint64_t pos_ = 0;
};

std::vector<SpriteAnim> ReadFrameTable(FieldReader& r, uint16_t count) {
    std::vector<SpriteAnim> frames(count);
    for (SpriteAnim& a : frames) {
        a.Offset = r.U24();
        a.Slot = r.U8();
        a.Left = r.U16();
        a.Top = r.U16();
        a.Right = r.U16();
        a.Bottom = r.U16();
    }
    return frames;
}

// Whether a frame table read with the data area starting at `dataStart` fits an uncompressed
// file of `length` bytes: the last frame's block ends exactly at the end, as every writer
// lays the blocks out back to back.
bool EndsAtEnd(const std::vector<SpriteAnim>& frames, uint64_t dataStart, uint64_t length) {
    if (frames.empty() || dataStart > length) return false;
    const SpriteAnim& last = frames.back();
    if (last.Right < last.Left || last.Bottom < last.Top) return false;
    return last.Offset + BoxArea(last) == length - dataStart;
}

bool AllZero(const std::vector<uint8_t>& bytes, uint64_t from, uint64_t count) {
    if (from + count > bytes.size()) return false;
    for (uint64_t i = 0; i < count; ++i)
        if (bytes[static_cast<size_t>(from + i)] != 0) return false;
    return true;
}

std::string SpdLineValue(std::string_view line, std::string& key) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        key.clear();
        return Trim(line);
    }
    key = Trim(line.substr(0, eq));
    return Trim(line.substr(eq + 1));
}

} // namespace

// ---- .spd descriptions -------------------------------------------------------------------

SpdValues ReadSpd(const std::vector<uint8_t>& text) {
    constexpr uint8_t EndOfText = 26;
    SpdValues values;
    std::string key;
    // Line ends as every editor writes them: CR LF, CR or LF alone.
    for (const std::string& line : SplitTextLines(text, EndOfText)) {
        // The value is converted before the key is looked at: every line must carry a number.
        std::string value = SpdLineValue(line, key);
        uint16_t number = static_cast<uint16_t>(static_cast<uint32_t>(StrToInt(value)));
        if (key == "frames") values.Frames = number;
        else if (key == "height") values.Height = number;
        else if (key == "width") values.Width = number;
        else if (key == "framerate") values.FrameRate = number;
        else if (key == "flags") values.Flags = number;
    }
    return values;
}

// ---- Loading ---------------------------------------------------------------------------------

int32_t TSprFile::LoadFromFile(const std::string& fileName) {
    FileStream stream(fileName, FileStream::Mode::OpenRead);
    return LoadFromStream(&stream);
}

int32_t TSprFile::LoadFromStream(Stream* stream) {
    if (stream == nullptr) return 0;
    const int64_t streamLength = stream->Size();
    stream->SetPosition(0);
    uint8_t head[8] = {};
    stream->Read(head, 8);
    FileSize = GetU32(head + 4);
    // The size field must match, which also refuses anything shorter than the header, and
    // bounds everything read below by the length of the file.
    if (streamLength < 0 || FileSize != static_cast<uint64_t>(streamLength)) return 0;

    std::vector<uint8_t> bytes(static_cast<size_t>(streamLength));
    stream->SetPosition(0);
    stream->Read(bytes.data(), streamLength);
    const uint64_t length = bytes.size();

    FieldReader r(bytes);
    r.SetPosition(8);
    if (r.U8() != HeaderDepth) return 0;
    if (r.U8() < 0x80) return 0; // bit 6 (compressed) is not consulted: the slot count decides
    const uint8_t k = r.U8();
    r.U8(); // reserved

    Slots.clear();
    Frames.clear();
    SlotCount = 0;
    FrameCount = 0;
    SlotFlags = 0;
    ColourCount = static_cast<uint16_t>(k + 1);
    Palette.assign(static_cast<size_t>(ColourCount) * 3, 0);
    for (size_t i = 3; i < Palette.size(); ++i) Palette[i] = r.U8();

    const uint16_t slotCount = r.U16();
    std::vector<SpriteSlot> slots;
    if (slotCount > 0) {
        PELFRY_ASSERT(slotCount <= MaxSlots,
                      Format("Sprite file has %u slots; at most 256 are possible", slotCount));
        slots.resize(slotCount);
        r.Skip((4 - r.Position() % 4) % 4);
        for (uint16_t i = 0; i < slotCount; ++i) {
            SpriteSlot& s = slots[i];
            s.Offset = r.U32();
            PELFRY_ASSERT(r.U32() == 0, ""); // reserved word
            s.UnpackedSize = r.U32();
            if (i > 0) {
                PELFRY_ASSERT(s.Offset >= slots[i - 1].Offset,
                              Format("Slot %u starts before slot %u in the sprite file", i, i - 1));
                slots[i - 1].PackedSize = s.Offset - slots[i - 1].Offset;
            }
        }
        SlotFlags = r.U16();
        PELFRY_ASSERT(SlotFlags == 0 || SlotFlags == 0x8000, "");
    }

    FrameRate = r.U16();
    Flags = r.U16();
    Width = r.U16();
    Height = r.U16();
    const uint16_t frameCount = r.U16();

    const uint64_t tableStart = r.Position();
    std::vector<SpriteAnim> frames = ReadFrameTable(r, frameCount);
    uint64_t dataStart = r.Position();
    if (slotCount == 0 && frameCount > 0) {
        // Older tools put zero fill bytes before the frame table of an uncompressed file, up to
        // a multiple of 4. Such a file is read with the fill skipped when only that reading
        // makes its last frame end at the end of the file.
        const uint64_t fill = (4 - tableStart % 4) % 4;
        const uint64_t filledDataStart = dataStart + fill;
        if (fill > 0 && !EndsAtEnd(frames, dataStart, length) && AllZero(bytes, tableStart, fill)) {
            r.SetPosition(tableStart + fill);
            std::vector<SpriteAnim> filled = ReadFrameTable(r, frameCount);
            if (EndsAtEnd(filled, filledDataStart, length)) {
                frames = std::move(filled);
                dataStart = filledDataStart;
            }
        }
    }
    const uint64_t dataLength = dataStart < length ? length - dataStart : 0;

    // Every value is checked before anything is decoded or allocated for the pixels.
    uint64_t sourceBytes = 0; // the pixel bytes the file holds (unpacked)
    if (slotCount > 0) {
        for (uint16_t i = 0; i < slotCount; ++i) {
            SpriteSlot& s = slots[i];
            PELFRY_ASSERT(s.Offset <= dataLength,
                          Format("Slot %u starts past the end of the sprite file", i));
            if (i + 1 == slotCount) s.PackedSize = static_cast<uint32_t>(dataLength - s.Offset);
            PELFRY_ASSERT(s.UnpackedSize <= MaxExpansion * s.PackedSize,
                          Format("Slot %u claims %u unpacked bytes, more than its %u packed bytes can hold",
                                 i, s.UnpackedSize, s.PackedSize));
            PELFRY_ASSERT(s.PackedSize <= INT32_MAX && s.UnpackedSize <= INT32_MAX - MaxLongReference - 1,
                          Format("Slot %u is too large", i));
            sourceBytes += s.UnpackedSize;
        }
    } else {
        sourceBytes = dataLength;
    }
    uint64_t totalPixels = 0;
    for (uint16_t f = 0; f < frameCount; ++f) {
        const SpriteAnim& a = frames[f];
        PELFRY_ASSERT(a.Left <= a.Right && a.Right <= Width && a.Top <= a.Bottom && a.Bottom <= Height,
                      Format("Frame %u has the box (%u, %u)-(%u, %u), which does not lie inside the %u x %u sprite",
                             f, a.Left, a.Top, a.Right, a.Bottom, Width, Height));
        if (slotCount > 0)
            PELFRY_ASSERT(a.Slot < slotCount,
                          Format("Frame %u is in slot %u, but the sprite file has %u slots", f, a.Slot, slotCount));
        totalPixels += BoxArea(a);
    }
    // A frame whose block runs past the end of its data keeps zeros there, but a file cannot
    // make us hold far more pixels than it carries: beyond its data, at most one sprite area,
    // or 2048 x 2048 pixels (as an image may leave unbacked) when that is more.
    const uint64_t allowance = std::max<uint64_t>(
        std::min<uint64_t>(static_cast<uint64_t>(Width) * Height, ZeroFillAllowance), TImgFile::UnbackedPixelLimit);
    PELFRY_ASSERT(totalPixels <= sourceBytes + allowance,
                  Format("The frames of the sprite hold %llu pixels, more than a sprite file of %llu bytes can carry",
                         static_cast<unsigned long long>(totalPixels), static_cast<unsigned long long>(length)));

    if (slotCount > 0) {
        for (uint16_t i = 0; i < slotCount; ++i) {
            SpriteSlot& s = slots[i];
            const uint8_t* block = bytes.data() + std::min<uint64_t>(dataStart + s.Offset, length);
            s.Packed.assign(block, block + s.PackedSize);
            // Room for one token beyond the expected size, so that data decoding to more than
            // UnpackedSize is told apart from data that ends exactly there.
            std::vector<uint8_t> unpacked(static_cast<size_t>(s.UnpackedSize + MaxLongReference + 1));
            int32_t produced = Decompress(unpacked.data(), static_cast<int32_t>(unpacked.size()),
                                          s.Packed.data(), static_cast<int32_t>(s.Packed.size()));
            PELFRY_ASSERT(static_cast<int64_t>(produced) <= static_cast<int64_t>(s.UnpackedSize),
                          Format("Slot %u decodes to more than its %u bytes", i, s.UnpackedSize));
            PELFRY_ASSERT(static_cast<uint32_t>(produced) == s.UnpackedSize,
                          Format("Slot %u decodes to %d bytes instead of %u", i, produced, s.UnpackedSize));
            unpacked.resize(s.UnpackedSize);
            s.Unpacked = std::move(unpacked);
        }
    }
    for (SpriteAnim& a : frames) {
        a.Pixels.assign(static_cast<size_t>(BoxArea(a)), 0);
        const uint8_t* source;
        uint64_t available;
        if (slotCount > 0) {
            const std::vector<uint8_t>& block = slots[a.Slot].Unpacked;
            source = block.data();
            available = block.size();
        } else {
            source = bytes.data() + std::min<uint64_t>(dataStart, length);
            available = dataLength;
        }
        if (a.Offset < available) {
            uint64_t n = std::min<uint64_t>(a.Pixels.size(), available - a.Offset);
            if (n > 0) std::memcpy(a.Pixels.data(), source + a.Offset, static_cast<size_t>(n));
        }
    }

    SlotCount = slotCount;
    Slots = std::move(slots);
    FrameCount = frameCount;
    Frames = std::move(frames);
    return FrameCount;
}

// ---- Rendering -------------------------------------------------------------------------------

namespace {

Palette256 SpritePalette(const TSprFile& s) {
    uint32_t n = std::min<uint32_t>(s.ColourCount, static_cast<uint32_t>(s.Palette.size() / 3));
    return MakePalette(s.Palette.data(), n);
}

// A frame made in code rather than read must still fit the sprite and carry its box's pixels.
void CheckFrame(const TSprFile& s, size_t index) {
    const SpriteAnim& a = s.Frames[index];
    PELFRY_ASSERT(a.Left <= a.Right && a.Right <= s.Width && a.Top <= a.Bottom && a.Bottom <= s.Height,
                  Format("Frame %zu has the box (%u, %u)-(%u, %u), which does not lie inside the %u x %u sprite",
                         index, a.Left, a.Top, a.Right, a.Bottom, s.Width, s.Height));
    PELFRY_ASSERT(a.Pixels.size() == BoxArea(a),
                  Format("Frame %zu holds %zu pixels instead of %llu", index, a.Pixels.size(),
                         static_cast<unsigned long long>(BoxArea(a))));
}

void CheckFrames(const TSprFile& s) {
    if (s.Frames.empty() && s.FrameCount == 0) throw Error("Sprite has no frames");
    PELFRY_ASSERT(s.Frames.size() == s.FrameCount,
                  Format("Sprite holds %zu frames but counts %u", s.Frames.size(), s.FrameCount));
    for (size_t i = 0; i < s.Frames.size(); ++i) CheckFrame(s, i);
}

// Copies the frame's box into a picture whose row `y` of the sprite is `rowOf(y)`.
template <typename RowOf>
void DrawFrame(const SpriteAnim& a, uint16_t height, RowOf rowOf) {
    const size_t boxWidth = static_cast<size_t>(a.Right - a.Left);
    for (uint16_t y = a.Top; y < a.Bottom && y < height; ++y)
        if (boxWidth > 0)
            std::memcpy(rowOf(y) + a.Left, a.Pixels.data() + static_cast<size_t>(y - a.Top) * boxWidth, boxWidth);
}

} // namespace

Bitmap TSprFile::MakeFrameBitmap(int index) const {
    if (Frames.empty()) throw Error("Sprite has no frames");
    PELFRY_ASSERT(index >= 0 && static_cast<size_t>(index) < Frames.size(),
                  Format("Frame %d does not exist; the sprite has %zu frames", index, Frames.size()));
    CheckFrame(*this, static_cast<size_t>(index));
    if (static_cast<uint64_t>(Width) * Height > MaxPicturePixels)
        throw Error(Format("Sprite too large to show (%u x %u pixels)", Width, Height));
    Bitmap bitmap(Width, Height);
    bitmap.SetPalette(SpritePalette(*this));
    DrawFrame(Frames[static_cast<size_t>(index)], Height, [&](int y) { return bitmap.Row(y); });
    return bitmap;
}

// ---- Saving ----------------------------------------------------------------------------------

void TSprFile::BuildSlots(uint32_t limit) {
    if (Frames.empty()) throw Error("Sprite has no frames");
    // Plan first, so that a sprite needing too many slots is left as it was.
    std::vector<uint64_t> sizes;
    std::vector<uint32_t> slotOf(Frames.size()), offsetOf(Frames.size());
    uint64_t fill = 0;
    for (size_t f = 0; f < Frames.size(); ++f) {
        const uint64_t length = Frames[f].Pixels.size();
        if (fill > 0 && fill + length >= limit) {
            sizes.push_back(fill);
            fill = 0;
        }
        slotOf[f] = static_cast<uint32_t>(sizes.size());
        offsetOf[f] = static_cast<uint32_t>(fill); // below limit, or 0
        fill += length;
    }
    sizes.push_back(fill);
    if (sizes.size() > MaxSlots)
        throw Error(Format("The sprite needs %zu slots when compressed; a sprite file holds at most 256", sizes.size()));
    for (size_t i = 0; i < sizes.size(); ++i)
        PELFRY_ASSERT(sizes[i] <= UINT32_MAX, Format("Slot %zu would hold too many bytes", i));

    Slots.assign(sizes.size(), SpriteSlot{});
    SlotCount = static_cast<uint16_t>(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        Slots[i].UnpackedSize = static_cast<uint32_t>(sizes[i]);
        Slots[i].Unpacked.resize(static_cast<size_t>(sizes[i]));
    }
    for (size_t f = 0; f < Frames.size(); ++f) {
        SpriteAnim& a = Frames[f];
        a.Slot = static_cast<uint8_t>(slotOf[f]);
        a.Offset = offsetOf[f];
        std::copy(a.Pixels.begin(), a.Pixels.end(), Slots[slotOf[f]].Unpacked.begin() + offsetOf[f]);
    }
}

void TSprFile::PackSlots() {
    uint64_t running = 0;
    for (size_t i = 0; i < Slots.size(); ++i) {
        SpriteSlot& s = Slots[i];
        PELFRY_ASSERT(running <= UINT32_MAX, Format("Slot %zu starts beyond 4 GB", i));
        s.Offset = static_cast<uint32_t>(running);
        if (s.Packed.empty()) {
            PELFRY_ASSERT(s.Unpacked.size() == s.UnpackedSize,
                          Format("Slot %zu holds %zu bytes instead of %u", i, s.Unpacked.size(), s.UnpackedSize));
            PELFRY_ASSERT(s.UnpackedSize <= INT32_MAX - 2, Format("Slot %zu is too large to compress", i));
            std::vector<uint8_t> packed(static_cast<size_t>(s.UnpackedSize) + 2);
            int32_t n = Compress(s.Unpacked.data(), static_cast<int32_t>(s.UnpackedSize), packed.data());
            packed.resize(static_cast<size_t>(n));
            s.Packed = std::move(packed);
        }
        s.PackedSize = static_cast<uint32_t>(s.Packed.size());
        running += s.PackedSize;
    }
}

std::vector<uint8_t> TSprFile::SaveToBytes(bool compress) {
    CheckFrames(*this);
    PELFRY_ASSERT(ColourCount >= 1 && ColourCount <= 256 && Palette.size() >= static_cast<size_t>(ColourCount) * 3,
                  Format("Sprite has %u colours and %zu palette bytes; a sprite file holds 1 to 256 colours",
                         ColourCount, Palette.size()));
    PELFRY_ASSERT(!compress || SlotFlags == 0 || SlotFlags == 0x8000,
                  Format("Sprite has the slot flags %u; a sprite file holds 0 or 32768", SlotFlags));

    if (!compress) {
        // Lay the blocks out back to back before changing anything.
        std::vector<uint32_t> offsets(Frames.size());
        uint64_t running = 0;
        for (size_t f = 0; f < Frames.size(); ++f) {
            if (running >= OffsetLimit)
                throw Error(Format("Frame %zu of the sprite would start at byte %llu of its data; a sprite "
                                   "file holds offsets below 16777216",
                                   f, static_cast<unsigned long long>(running)));
            offsets[f] = static_cast<uint32_t>(running);
            running += Frames[f].Pixels.size();
        }
        Slots.clear();
        SlotCount = 0;
        for (size_t f = 0; f < Frames.size(); ++f) {
            Frames[f].Offset = offsets[f];
            Frames[f].Slot = 0;
        }
    } else {
        if (SlotCount == 0 || Slots.empty()) BuildSlots(SlotLimit);
        // Slots read from a file keep their packed blocks; the layout is made back to back.
        PackSlots();
        PELFRY_ASSERT(Slots.size() == SlotCount && SlotCount <= MaxSlots,
                      Format("Sprite has %zu slots but counts %u", Slots.size(), SlotCount));
        for (size_t f = 0; f < Frames.size(); ++f) {
            const SpriteAnim& a = Frames[f];
            PELFRY_ASSERT(a.Slot < SlotCount, Format("Frame %zu is in slot %u of %u", f, a.Slot, SlotCount));
            if (a.Offset >= OffsetLimit)
                throw Error(Format("Frame %zu of the sprite starts at byte %u of its slot; a sprite file "
                                   "holds offsets below 16777216",
                                   f, a.Offset));
        }
    }

    uint64_t total = 12 + 3ull * (ColourCount - 1) + 2;
    if (compress) total += (4 - total % 4) % 4 + 12ull * Slots.size() + 2;
    total += 10 + 12ull * Frames.size();
    if (compress) for (const SpriteSlot& s : Slots) total += s.Packed.size();
    else for (const SpriteAnim& a : Frames) total += a.Pixels.size();
    if (total > INT32_MAX)
        throw Error(Format("The sprite file would be %llu bytes long, more than 2147483647",
                           static_cast<unsigned long long>(total)));

    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(total));
    PutBytes(out, reinterpret_cast<const uint8_t*>("SPR\x1A"), 4);
    PutU32(out, 0); // the file's length, set last
    PutU8(out, HeaderDepth);
    PutU8(out, compress ? HeaderCompressed : HeaderRaw);
    PutU8(out, static_cast<uint8_t>(ColourCount - 1));
    PutU8(out, 0);
    PutBytes(out, Palette.data() + 3, static_cast<size_t>(ColourCount - 1) * 3);
    if (compress) {
        PutU16(out, SlotCount);
        PutZeros(out, (4 - out.size() % 4) % 4);
        for (const SpriteSlot& s : Slots) {
            PutU32(out, s.Offset);
            PutU32(out, 0);
            PutU32(out, s.UnpackedSize);
        }
        PutU16(out, SlotFlags);
    } else {
        PutU16(out, 0);
    }
    PutU16(out, FrameRate);
    PutU16(out, Flags);
    PutU16(out, Width);
    PutU16(out, Height);
    PutU16(out, FrameCount);
    // The frame table follows directly, in both forms: no fill bytes.
    for (const SpriteAnim& a : Frames) {
        PutU8(out, static_cast<uint8_t>(a.Offset));
        PutU8(out, static_cast<uint8_t>(a.Offset >> 8));
        PutU8(out, static_cast<uint8_t>(a.Offset >> 16));
        PutU8(out, a.Slot);
        PutU16(out, a.Left);
        PutU16(out, a.Top);
        PutU16(out, a.Right);
        PutU16(out, a.Bottom);
    }
    if (compress) {
        for (const SpriteSlot& s : Slots) PutBytes(out, s.Packed.data(), s.Packed.size());
    } else {
        for (const SpriteAnim& a : Frames) PutBytes(out, a.Pixels.data(), a.Pixels.size());
    }
    SetU32(out, 4, static_cast<uint32_t>(out.size()));
    return out;
}

int32_t TSprFile::SaveToFile(const std::string& fileName, bool compress) {
    std::vector<uint8_t> bytes = SaveToBytes(compress);
    WriteFileReplacing(fileName, bytes);
    return static_cast<int32_t>(bytes.size());
}

// ---- Sprite strips ---------------------------------------------------------------------------

bool TSprFile::ExportStrip(const std::string& baseName, PictureFormat format) {
    const Bitmap strip = MakeStrip(baseName);
    const std::string picture = baseName + PictureSuffix(format);
    SavePictureFile(strip, picture, format);
    WriteTextLines(baseName + ".spd", SpdLines());
    return true;
}

Bitmap TSprFile::MakeStrip(const std::string& baseName) const {
    CheckFrames(*this);
    const uint64_t rows = static_cast<uint64_t>(Height) * FrameCount;
    if (rows > static_cast<uint64_t>(MaxStripRows))
        throw Error(Format("The strip of %s would be %llu pixels high; a strip bitmap holds at most 65535 rows",
                           baseName.c_str(), static_cast<unsigned long long>(rows)));
    if (rows * Width > MaxPicturePixels)
        throw Error(Format("The strip of %s would be %u x %llu pixels, too large to convert",
                           baseName.c_str(), Width, static_cast<unsigned long long>(rows)));

    Bitmap strip(Width, static_cast<int>(rows));
    strip.SetPalette(SpritePalette(*this));
    for (size_t f = 0; f < Frames.size(); ++f) {
        const int cellTop = static_cast<int>(f * Height);
        DrawFrame(Frames[f], Height, [&](int y) { return strip.Row(cellTop + y); });
    }
    return strip;
}

std::vector<std::string> TSprFile::SpdLines() const {
    return {Format("frames = %u", FrameCount), Format("height = %u", Height),
            Format("width = %u", Width), Format("framerate = %u", FrameRate),
            Format("flags = %u", Flags)};
}

bool TSprFile::ImportStrip(const std::string& baseName) {
    return ImportStrip(LoadPictureFile(baseName + ".bmp").Image, baseName + ".bmp",
                       baseName + ".spd");
}

bool TSprFile::ImportStrip(Bitmap strip, const std::string& stripName, const std::string& spdName) {
    *this = TSprFile();
    const SpdValues spd = ReadSpd(ReadWholeFile(spdName));

    FrameCount = spd.Frames;
    Height = spd.Height;
    Width = spd.Width;
    FrameRate = spd.FrameRate;
    Flags = spd.Flags;
    const int stripWidth = strip.Width();
    const int stripHeight = strip.Height();
    if (FrameCount == 0 && Height == 0) throw Error(spdName + " must give frames or height");
    if (FrameCount == 0) {
        FrameCount = static_cast<uint16_t>(stripHeight / Height);
        if (FrameCount == 0)
            throw Error(
                Format("%s gives no frames: frames of %u rows do not fit into the %d rows of %s",
                       spdName.c_str(), Height, stripHeight, stripName.c_str()));
    } else if (Height == 0) {
        Height = static_cast<uint16_t>(stripHeight / FrameCount);
        if (Height == 0)
            throw Error(Format("%s gives %u frames, more than the %d rows of %s hold",
                               spdName.c_str(), FrameCount, stripHeight, stripName.c_str()));
    }
    if (Width == 0) Width = static_cast<uint16_t>(stripWidth);
    if (Width == 0) throw Error(Format("%s is 0 pixels wide", stripName.c_str()));
    if (Width > stripWidth || static_cast<int64_t>(FrameCount) * Height > stripHeight)
        throw Error(Format(
            "%s describes %u frames of %u x %u pixels, which do not fit into the %d x %d bitmap %s",
            spdName.c_str(), FrameCount, Width, Height, stripWidth, stripHeight,
            stripName.c_str()));

    // Colours are numbered by first appearance over the whole bitmap, background 0 kept.
    uint8_t newOf[256] = {};
    uint8_t oldOf[256] = {};
    uint32_t colours = 1;
    for (uint8_t& p : strip.Pixels()) {
        if (p == 0) continue;
        if (newOf[p] == 0) {
            // A new colour beyond 127 would need a pixel value the codec cannot carry.
            PELFRY_ASSERT(colours < 128, "Too many colours in image!");
            newOf[p] = static_cast<uint8_t>(colours);
            oldOf[colours] = p;
            ++colours;
        }
        p = newOf[p];
    }
    ColourCount = static_cast<uint16_t>(colours);
    Palette.assign(static_cast<size_t>(colours) * 3, 0);
    for (uint32_t c = 1; c < colours; ++c) {
        const RGB& rgb = strip.Palette()[oldOf[c]];
        Palette[3 * c] = rgb.r;
        Palette[3 * c + 1] = rgb.g;
        Palette[3 * c + 2] = rgb.b;
    }

    Frames.assign(FrameCount, SpriteAnim{});
    for (uint16_t f = 0; f < FrameCount; ++f) {
        const int cellTop = static_cast<int>(f) * Height;
        int top = Height, bottom = -1, left = Width, right = -1;
        for (int y = 0; y < Height; ++y) {
            const uint8_t* row = strip.Row(cellTop + y);
            for (int x = 0; x < Width; ++x) {
                if (row[x] == 0) continue;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        SpriteAnim& a = Frames[f];
        if (bottom < 0) {
            // An empty cell keeps one background pixel at its top-left corner.
            a.Left = 0, a.Top = 0, a.Right = 1, a.Bottom = 1;
        } else {
            a.Left = static_cast<uint16_t>(left);
            a.Top = static_cast<uint16_t>(top);
            a.Right = static_cast<uint16_t>(right + 1);
            a.Bottom = static_cast<uint16_t>(bottom + 1);
        }
        const size_t boxWidth = static_cast<size_t>(a.Right - a.Left);
        a.Pixels.resize(boxWidth * static_cast<size_t>(a.Bottom - a.Top));
        for (int y = a.Top; y < a.Bottom; ++y)
            std::memcpy(a.Pixels.data() + static_cast<size_t>(y - a.Top) * boxWidth, strip.Row(cellTop + y) + a.Left,
                        boxWidth);
    }
    SlotFlags = 0;
    return true;
}

} // namespace pelfry
