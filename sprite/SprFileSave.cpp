// .SPR sprites: grouping frames into slots and writing the file. Part of the unit SprFileU.
#include "sprite/SprFileU.h"
#include "sprite/SprFormat.h"

#include "base/Bytes.h"
#include "base/Errors.h"
#include "image/ImgFileU.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <climits>

namespace pelfry {

using namespace sprformat;

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
        throw Error(
            Format("The sprite needs %zu slots when compressed; a sprite file holds at most 256",
                   sizes.size()));
    for (size_t i = 0; i < sizes.size(); ++i)
        PELFRY_CHECK(sizes[i] <= UINT32_MAX, SlotTooFull,
                     Format("Slot %zu would hold too many bytes", i), "");

    Slots.assign(sizes.size(), SpriteSlot{});
    for (size_t i = 0; i < sizes.size(); ++i)
        Slots[i].Unpacked.resize(static_cast<size_t>(sizes[i]));
    for (size_t f = 0; f < Frames.size(); ++f) {
        SpriteAnim& a = Frames[f];
        a.Slot = static_cast<uint8_t>(slotOf[f]);
        a.Offset = offsetOf[f];
        std::copy(a.Pixels.begin(), a.Pixels.end(),
                  Slots[slotOf[f]].Unpacked.begin() + offsetOf[f]);
    }
}

void TSprFile::PackSlots() {
    uint64_t running = 0;
    for (size_t i = 0; i < Slots.size(); ++i) {
        SpriteSlot& s = Slots[i];
        PELFRY_CHECK(running <= UINT32_MAX, SlotBeyond4GB, Format("Slot %zu starts beyond 4 GB", i),
                     "");
        s.Offset = static_cast<uint32_t>(running);
        if (s.Packed.empty()) {
            PELFRY_CHECK(s.Unpacked.size() <= INT32_MAX - 2, SlotTooLargeToPack,
                         Format("Slot %zu is too large to compress", i), "");
            std::vector<uint8_t> packed(s.Unpacked.size() + 2);
            packed.resize(static_cast<size_t>(Compress(
                s.Unpacked.data(), static_cast<int32_t>(s.Unpacked.size()), packed.data())));
            s.Packed = std::move(packed);
        }
        running += s.PackedSize();
    }
}

namespace {

// Where each frame's block starts when the blocks lie back to back in frame order, as an
// uncompressed file stores them. Raises an Error when one would start beyond what the
// format's three offset bytes hold.
std::vector<uint32_t> UncompressedOffsets(const std::vector<SpriteAnim>& frames) {
    std::vector<uint32_t> offsets(frames.size());
    uint64_t running = 0;
    for (size_t f = 0; f < frames.size(); ++f) {
        if (running >= OffsetLimit)
            throw Error(Format("Frame %zu of the sprite would start at byte %llu of its data; a "
                               "sprite file holds offsets below 16777216",
                               f, static_cast<unsigned long long>(running)));
        offsets[f] = static_cast<uint32_t>(running);
        running += frames[f].Pixels.size();
    }
    return offsets;
}

// The length of the file SaveToBytes writes; an Error when it passes what its callers count in.
size_t FileLength(const TSprFile& s, bool compress) {
    uint64_t total = 12 + 3ull * (s.ColourCount() - 1) + 2;
    if (compress) total += (4 - total % 4) % 4 + 12ull * s.Slots.size() + 2;
    total += 10 + FrameEntrySize * s.Frames.size();
    if (compress)
        for (const SpriteSlot& slot : s.Slots)
            total += slot.Packed.size();
    else
        for (const SpriteAnim& a : s.Frames)
            total += a.Pixels.size();
    if (total > INT32_MAX)
        throw Error(Format("The sprite file would be %llu bytes long, more than 2147483647",
                           static_cast<unsigned long long>(total)));
    return static_cast<size_t>(total);
}

} // namespace

void TSprFile::WriteHeader(std::vector<uint8_t>& out, bool compress) const {
    PutBytes(out, reinterpret_cast<const uint8_t*>("SPR\x1A"), 4);
    PutU32(out, 0); // the file's length, set last
    PutU8(out, HeaderDepth);
    PutU8(out, compress ? HeaderCompressed : HeaderRaw);
    PutU8(out, static_cast<uint8_t>(ColourCount() - 1));
    PutU8(out, 0);
    PutBytes(out, Palette.data() + 3, static_cast<size_t>(ColourCount() - 1) * 3);
    if (compress) {
        PutU16(out, SlotCount());
        PutZeros(out, (4 - out.size() % 4) % 4);
        for (const SpriteSlot& s : Slots) {
            PutU32(out, s.Offset);
            PutU32(out, 0);
            PutU32(out, s.UnpackedSize());
        }
        PutU16(out, SlotFlags);
    } else {
        PutU16(out, 0);
    }
    PutU16(out, FrameRate);
    PutU16(out, Flags);
    PutU16(out, Width);
    PutU16(out, Height);
    PutU16(out, FrameCount());
}

void TSprFile::WriteFrameTable(std::vector<uint8_t>& out) const {
    // The frame table follows the frame count directly, in both forms: no fill bytes.
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
}

std::vector<uint8_t> TSprFile::SaveToBytes(bool compress) {
    CheckFrames();
    PELFRY_CHECK(ColourCount() >= 1 && ColourCount() <= 256, BadPalette,
                 Format("Sprite has %u colours and %zu palette bytes; a sprite file holds 1 to 256 "
                        "colours",
                        ColourCount(), Palette.size()),
                 "");
    PELFRY_CHECK(!compress || SlotFlags == 0 || SlotFlags == 0x8000, SaveSlotFlags,
                 Format("Sprite has the slot flags %u; a sprite file holds 0 or 32768", SlotFlags),
                 "");
    if (!compress) {
        // Lay the blocks out back to back before changing anything.
        const std::vector<uint32_t> offsets = UncompressedOffsets(Frames);
        Slots.clear();
        for (size_t f = 0; f < Frames.size(); ++f) {
            Frames[f].Offset = offsets[f];
            Frames[f].Slot = 0;
        }
    } else {
        if (Slots.empty()) BuildSlots(SlotLimit);
        // Slots read from a file keep their packed blocks; the layout is made back to back.
        PackSlots();
        PELFRY_CHECK(Slots.size() <= MaxSlots, SaveTooManySlots,
                     Format("Sprite has %zu slots; a sprite file holds at most 256", Slots.size()),
                     "");
        for (size_t f = 0; f < Frames.size(); ++f) {
            const SpriteAnim& a = Frames[f];
            PELFRY_CHECK(a.Slot < Slots.size(), SaveFrameSlot,
                         Format("Frame %zu is in slot %u of %zu", f, a.Slot, Slots.size()), "");
            if (a.Offset >= OffsetLimit)
                throw Error(Format("Frame %zu of the sprite starts at byte %u of its slot; a "
                                   "sprite file holds offsets below 16777216",
                                   f, a.Offset));
        }
    }

    std::vector<uint8_t> out;
    out.reserve(FileLength(*this, compress));
    WriteHeader(out, compress);
    WriteFrameTable(out);
    if (compress)
        for (const SpriteSlot& s : Slots)
            PutBytes(out, s.Packed.data(), s.Packed.size());
    else
        for (const SpriteAnim& a : Frames)
            PutBytes(out, a.Pixels.data(), a.Pixels.size());
    SetU32(out, 4, static_cast<uint32_t>(out.size()));
    return out;
}

int32_t TSprFile::SaveToFile(const std::string& fileName, bool compress) {
    std::vector<uint8_t> bytes = SaveToBytes(compress);
    WriteFileReplacing(fileName, bytes);
    return static_cast<int32_t>(bytes.size());
}

} // namespace pelfry
