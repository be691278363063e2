// .SPR sprites: reading and checking a file, and rendering its frames. Writing is in
// SprFileSave.cpp, strips and .spd descriptions in SprStrip.cpp.
#include "sprite/SprFileU.h"
#include "sprite/SprFormat.h"

#include "base/Errors.h"
#include "base/Text.h"
#include "image/ImgFileU.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace pelfry {

using namespace sprformat;

namespace {

// Pixels past the end of their data that a file may still ask for (they stay 0).
constexpr uint64_t ZeroFillAllowance = 1u << 24;

uint64_t BoxArea(const SpriteAnim& a) {
    if (a.Right < a.Left || a.Bottom < a.Top) return 0;
    return static_cast<uint64_t>(a.Right - a.Left) * static_cast<uint64_t>(a.Bottom - a.Top);
}

bool BoxInside(const SpriteAnim& a, uint16_t width, uint16_t height) {
    return a.Left <= a.Right && a.Right <= width && a.Top <= a.Bottom && a.Bottom <= height;
}

std::string BoxOutsideMessage(uint64_t index, const SpriteAnim& a, uint16_t width,
                              uint16_t height) {
    return Format("Frame %llu has the box (%u, %u)-(%u, %u), which does not lie inside the %u x %u "
                  "sprite",
                  static_cast<unsigned long long>(index), a.Left, a.Top, a.Right, a.Bottom, width,
                  height);
}

// "its table entry is at byte 0x2C": where a slot or frame that a check refuses was read.
std::string EntryAt(uint64_t offset) {
    return "its table entry is " + AtByte(offset);
}

// ---- Reading ---------------------------------------------------------------------------------

// A slot as the slot table gives it, before its block is read.
struct SlotEntry {
    uint32_t offset = 0;
    uint32_t unpackedSize = 0;
    uint64_t packedSize = 0;
    uint64_t at = 0; // the entry's byte in the file
};

// What a file holds before its data area.
struct SprTables {
    std::vector<SlotEntry> slots;
    std::vector<SpriteAnim> frames;
    size_t frameTable = 0; // where the frame table starts
    size_t dataStart = 0;  // and the data area
};

// The whole file when its header is one of a sprite; else why not. The size field must match,
// which also refuses anything shorter than the header and bounds everything read later by the
// length of the file, and the depth and flags bytes must hold.
std::string ReadSpriteFile(Stream& stream, std::vector<uint8_t>& file) {
    const int64_t length = stream.Size();
    stream.SetPosition(0);
    uint8_t head[8] = {};
    const int64_t got = stream.Read(head, 8);
    ByteReader sizeField(head);
    sizeField.Skip(4);
    const uint32_t claimed = sizeField.U32();
    if (length < 0 || got < 8)
        return Format("cut short: the file holds %lld bytes, too few for a sprite's header",
                      static_cast<long long>(std::max<int64_t>(length, 0)));
    if (claimed != static_cast<uint64_t>(length))
        return Format("%sthe file holds %s bytes, its header says %s",
                      claimed > static_cast<uint64_t>(length) ? "cut short: " : "",
                      FormatThousands(static_cast<uint64_t>(length)).c_str(),
                      FormatThousands(claimed).c_str());
    file.resize(static_cast<size_t>(length));
    stream.SetPosition(0);
    stream.Read(file.data(), length);
    // Bit 6 of the flags (compressed) is not consulted: the slot count decides.
    if (file.size() < 10) return "cut short: the file ends inside its header";
    if (file[8] != HeaderDepth)
        return Format("the depth is %u, not %u, %s", file[8], HeaderDepth, AtByte(8).c_str());
    if (file[9] < 0x80)
        return Format("the flags are 0x%02X, below 0x80, %s", file[9], AtByte(9).c_str());
    return {};
}

std::vector<SlotEntry> ReadSlotTable(ByteReader& r, uint16_t& slotFlags) {
    const uint64_t countAt = r.Offset();
    const uint16_t count = r.U16();
    std::vector<SlotEntry> slots(count);
    if (count == 0) return slots;
    PELFRY_CHECK(count <= MaxSlots, TooManySlots,
                 Format("Sprite file has %u slots; at most 256 are possible", count),
                 "the slot count is " + AtByte(countAt));
    r.Skip((4 - r.Position() % 4) % 4);
    for (uint16_t i = 0; i < count; ++i) {
        SlotEntry& s = slots[i];
        s.at = r.Offset();
        s.offset = r.U32();
        const uint32_t reserved = r.U32();
        PELFRY_CHECK(reserved == 0, ReservedWord, "",
                     Format("slot %u's reserved word is %u, not 0, ", i, reserved) +
                         AtByte(s.at + 4));
        s.unpackedSize = r.U32();
        if (i == 0) continue;
        PELFRY_CHECK(s.offset >= slots[i - 1].offset, SlotsDecrease,
                     Format("Slot %u starts before slot %u in the sprite file", i, i - 1),
                     EntryAt(s.at));
        slots[i - 1].packedSize = s.offset - slots[i - 1].offset;
    }
    const uint64_t flagsAt = r.Offset();
    slotFlags = r.U16();
    PELFRY_CHECK(slotFlags == 0 || slotFlags == 0x8000, BadSlotFlags, "",
                 Format("the slot flags are 0x%04X, neither 0 nor 0x8000, ", slotFlags) +
                     AtByte(flagsAt));
    return slots;
}

std::vector<SpriteAnim> ReadFrameTable(ByteReader& r, uint16_t count) {
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

// Older tools put zero fill bytes before the frame table of an uncompressed file, up to a
// multiple of 4. Such a file is read with the fill skipped when only that reading makes its
// last frame end at the end of the file.
void SkipOlderFill(ByteReader& r, SprTables& t) {
    const size_t fill = (4 - t.frameTable % 4) % 4;
    const size_t length = r.Size();
    const size_t filledDataStart = t.dataStart + fill;
    if (fill == 0 || filledDataStart > length || EndsAtEnd(t.frames, t.dataStart, length)) return;
    r.Seek(t.frameTable);
    for (const uint8_t b : r.Bytes(fill))
        if (b != 0) return;
    std::vector<SpriteAnim> filled = ReadFrameTable(r, static_cast<uint16_t>(t.frames.size()));
    if (!EndsAtEnd(filled, filledDataStart, length)) return;
    t.frames = std::move(filled);
    t.dataStart = filledDataStart;
}

// Reads everything up to the data area into `s` and `t`. A file that ends inside its tables
// reads as if zeros followed it (`r` reads zeros), as sprites always have been read: its
// frames come out with empty boxes or none of their pixels.
void ReadTables(ByteReader& r, TSprFile& s, SprTables& t) {
    r.Skip(4); // the magic, which is not examined
    s.FileSize = r.U32();
    r.Skip(2); // depth and flags, checked by ReadSpriteFile
    const uint8_t k = r.U8();
    r.Skip(1); // reserved
    s.Palette.assign((static_cast<size_t>(k) + 1) * 3, 0);
    const std::span<const uint8_t> colours = r.BytesUpTo(static_cast<size_t>(k) * 3);
    std::copy(colours.begin(), colours.end(), s.Palette.begin() + 3);
    t.slots = ReadSlotTable(r, s.SlotFlags);
    s.FrameRate = r.U16();
    s.Flags = r.U16();
    s.Width = r.U16();
    s.Height = r.U16();
    const uint16_t frameCount = r.U16();
    t.frameTable = r.Position();
    t.frames = ReadFrameTable(r, frameCount);
    t.dataStart = r.Position();
    if (t.slots.empty() && frameCount > 0) SkipOlderFill(r, t);
}

// Checks every slot and frame against the file before anything is decoded or allocated for
// the pixels.
void CheckTables(SprTables& t, const TSprFile& s, uint64_t length) {
    const uint64_t dataLength = length - t.dataStart;
    uint64_t sourceBytes = t.slots.empty() ? dataLength : 0; // the pixel bytes the file holds
    for (size_t i = 0; i < t.slots.size(); ++i) {
        SlotEntry& e = t.slots[i];
        PELFRY_CHECK(e.offset <= dataLength, SlotPastEnd,
                     Format("Slot %zu starts past the end of the sprite file", i), EntryAt(e.at));
        if (i + 1 == t.slots.size()) e.packedSize = dataLength - e.offset;
        PELFRY_CHECK(e.unpackedSize <= MaxExpansion * e.packedSize, SlotOverclaims,
                     Format("Slot %zu claims %u unpacked bytes, more than its %llu packed bytes "
                            "can hold",
                            i, e.unpackedSize, static_cast<unsigned long long>(e.packedSize)),
                     EntryAt(e.at));
        PELFRY_CHECK(e.packedSize <= INT32_MAX && e.unpackedSize <= INT32_MAX - LongestToken - 1,
                     SlotTooLarge, Format("Slot %zu is too large", i), EntryAt(e.at));
        sourceBytes += e.unpackedSize;
    }
    uint64_t totalPixels = 0;
    for (size_t f = 0; f < t.frames.size(); ++f) {
        const SpriteAnim& a = t.frames[f];
        const uint64_t at = t.frameTable + FrameEntrySize * f;
        PELFRY_CHECK(BoxInside(a, s.Width, s.Height), FrameOutside,
                     BoxOutsideMessage(f, a, s.Width, s.Height), EntryAt(at));
        PELFRY_CHECK(t.slots.empty() || a.Slot < t.slots.size(), FrameSlotMissing,
                     Format("Frame %zu is in slot %u, but the sprite file has %zu slots", f, a.Slot,
                            t.slots.size()),
                     EntryAt(at));
        totalPixels += BoxArea(a);
    }
    // A frame whose block runs past the end of its data keeps zeros there, but a file cannot
    // make us hold far more pixels than it carries: beyond its data, at most one sprite area,
    // or 2048 x 2048 pixels (as an image may leave unbacked) when that is more.
    const uint64_t allowance = std::max<uint64_t>(
        std::min<uint64_t>(static_cast<uint64_t>(s.Width) * s.Height, ZeroFillAllowance),
        TImgFile::UnbackedPixelLimit);
    PELFRY_CHECK(totalPixels <= sourceBytes + allowance, FramesOverclaim,
                 Format("The frames of the sprite hold %llu pixels, more than a sprite file of "
                        "%llu bytes can carry",
                        static_cast<unsigned long long>(totalPixels),
                        static_cast<unsigned long long>(length)),
                 "");
}

// Reads and decodes every slot's block; each must decode to exactly the size its entry gives.
std::vector<SpriteSlot> UnpackSlots(ByteReader& r, const SprTables& t) {
    std::vector<SpriteSlot> slots(t.slots.size());
    for (size_t i = 0; i < slots.size(); ++i) {
        const SlotEntry& e = t.slots[i];
        SpriteSlot& s = slots[i];
        s.Offset = e.offset;
        r.Seek(t.dataStart + e.offset);
        const uint64_t blockAt = r.Offset();
        const std::span<const uint8_t> packed = r.Bytes(static_cast<size_t>(e.packedSize));
        s.Packed.assign(packed.begin(), packed.end());
        // Room for one token beyond the expected size, so that data decoding to more than
        // the entry's size is told apart from data that ends exactly there.
        s.Unpacked.resize(static_cast<size_t>(e.unpackedSize + LongestToken + 1));
        const int32_t produced =
            Decompress(s.Unpacked.data(), static_cast<int32_t>(s.Unpacked.size()), s.Packed.data(),
                       static_cast<int32_t>(s.Packed.size()));
        PELFRY_CHECK(static_cast<int64_t>(produced) <= static_cast<int64_t>(e.unpackedSize),
                     SlotDecodesMore, "",
                     Format("slot %zu decodes to more than the %s bytes its entry says, ", i,
                            FormatThousands(e.unpackedSize).c_str()) +
                         AtByte(blockAt));
        PELFRY_CHECK(static_cast<uint32_t>(produced) == e.unpackedSize, SlotDecodesFewer, "",
                     Format("slot %zu decodes to %s bytes, its entry says %s, ", i,
                            FormatThousands(static_cast<uint64_t>(produced)).c_str(),
                            FormatThousands(e.unpackedSize).c_str()) +
                         AtByte(blockAt));
        s.Unpacked.resize(e.unpackedSize);
    }
    return slots;
}

// Each frame's pixels from its slot's unpacked block, or from the data area of an uncompressed
// file; where a block runs past the end of its data the rest stays 0.
void FillFramePixels(std::vector<SpriteAnim>& frames, const std::vector<SpriteSlot>& slots,
                     std::span<const uint8_t> data) {
    for (SpriteAnim& a : frames) {
        a.Pixels.assign(static_cast<size_t>(BoxArea(a)), 0);
        const std::span<const uint8_t> source = slots.empty() ? data : slots[a.Slot].Unpacked;
        if (a.Offset >= source.size()) continue;
        ByteReader block(source);
        block.Seek(a.Offset);
        const std::span<const uint8_t> have = block.BytesUpTo(a.Pixels.size());
        std::copy(have.begin(), have.end(), a.Pixels.begin());
    }
}

} // namespace

// ---- Loading ---------------------------------------------------------------------------------

LoadResult TSprFile::LoadFromFile(const std::string& fileName) {
    FileStream stream(fileName, FileStream::Mode::OpenRead);
    return LoadFromStream(&stream);
}

LoadResult TSprFile::LoadFromStream(Stream* stream) {
    if (stream == nullptr) return LoadResult::Refused();
    std::vector<uint8_t> file;
    if (std::string refused = ReadSpriteFile(*stream, file); !refused.empty())
        return LoadResult::Refused(std::move(refused));
    TSprFile sprite;
    ByteReader r(file, 0, ByteReader::PastEnd::ReadsZeros);
    SprTables tables;
    ReadTables(r, sprite, tables);
    CheckTables(tables, sprite, file.size());
    sprite.Slots = UnpackSlots(r, tables);
    sprite.Frames = std::move(tables.frames);
    FillFramePixels(sprite.Frames, sprite.Slots,
                    std::span<const uint8_t>(file).subspan(tables.dataStart));
    *this = std::move(sprite);
    return LoadResult::Read(FrameCount());
}

// ---- Rendering -------------------------------------------------------------------------------

void DrawFrame(const SpriteAnim& frame, Bitmap& picture, int top) {
    if (frame.Right <= frame.Left || frame.Bottom <= frame.Top) return;
    const size_t boxWidth = static_cast<size_t>(frame.Right - frame.Left);
    const int width = std::min(static_cast<int>(boxWidth), picture.Width() - frame.Left);
    if (width <= 0) return;
    for (int y = 0; y < frame.Bottom - frame.Top; ++y) {
        const int row = top + frame.Top + y;
        const size_t from = static_cast<size_t>(y) * boxWidth;
        if (row >= picture.Height() || from + static_cast<size_t>(width) > frame.Pixels.size())
            break;
        std::memcpy(picture.Row(row) + frame.Left, frame.Pixels.data() + from,
                    static_cast<size_t>(width));
    }
}

// A frame made in code rather than read must still fit the sprite and carry its box's pixels.
void TSprFile::CheckFrame(size_t index) const {
    const SpriteAnim& a = Frames[index];
    PELFRY_CHECK(BoxInside(a, Width, Height), MadeFrameOutside,
                 BoxOutsideMessage(index, a, Width, Height), "");
    PELFRY_CHECK(a.Pixels.size() == BoxArea(a), MadeFramePixels,
                 Format("Frame %zu holds %zu pixels instead of %llu", index, a.Pixels.size(),
                        static_cast<unsigned long long>(BoxArea(a))),
                 "");
}

void TSprFile::CheckFrames() const {
    if (Frames.empty()) throw Error("Sprite has no frames");
    if (Frames.size() > 0xFFFF)
        throw Error(
            Format("The sprite has %zu frames; a sprite file holds at most 65535", Frames.size()));
    for (size_t i = 0; i < Frames.size(); ++i)
        CheckFrame(i);
}

Bitmap TSprFile::MakeFrameBitmap(int index) const {
    if (Frames.empty()) throw Error("Sprite has no frames");
    PELFRY_CHECK(index >= 0 && static_cast<size_t>(index) < Frames.size(), NoSuchFrame,
                 Format("Frame %d does not exist; the sprite has %zu frames", index, Frames.size()),
                 "");
    CheckFrame(static_cast<size_t>(index));
    if (TooManyPixels(Width, Height))
        throw Error(Format("Sprite too large to show (%u x %u pixels)", Width, Height),
                    TooManyPixelsReason("the sprite is", Width, Height));
    Bitmap bitmap(Width, Height);
    bitmap.SetPalette(MakePalette(Palette, ColourCount()));
    DrawFrame(Frames[static_cast<size_t>(index)], bitmap);
    return bitmap;
}

void TSprFile::RenderFrame(int index, Bitmap& picture) const {
    std::fill(picture.Pixels().begin(), picture.Pixels().end(), uint8_t{0});
    if (index >= 0 && static_cast<size_t>(index) < Frames.size())
        DrawFrame(Frames[static_cast<size_t>(index)], picture);
}

} // namespace pelfry
