// TSprFile: one animated sprite (.SPR) of the game, its rendering into bitmaps, and its
// conversion to and from a bitmap strip (frames stacked top to bottom) with a .spd description.
#pragma once

#include "platform/Bitmap.h"
#include "platform/Picture.h"
#include "platform/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelfry {

// A group of frames whose pixel blocks are encoded together.
struct SpriteSlot {
    uint32_t Offset = 0;       // start of the packed block, from the start of the data area
    uint32_t PackedSize = 0;   // length of the packed block
    uint32_t UnpackedSize = 0; // length of the unpacked block
    std::vector<uint8_t> Unpacked;
    std::vector<uint8_t> Packed; // empty until packed (or read from a compressed file)
};

// One frame: a box of palette indices inside the sprite's area.
struct SpriteAnim {
    uint32_t Offset = 0; // start of the pixel block (in its slot, or in the data area when uncompressed)
    uint8_t Slot = 0;
    uint16_t Left = 0, Top = 0;      // inclusive
    uint16_t Right = 0, Bottom = 0;  // exclusive
    std::vector<uint8_t> Pixels;     // (Right - Left) x (Bottom - Top), row by row
};

// The numbers of a .spd description, with the values a missing key leaves.
struct SpdValues {
    uint16_t Frames = 0;    // 0: worked out from the bitmap's height
    uint16_t Height = 0;    // 0: worked out from the bitmap's height
    uint16_t Width = 0;     // 0: the bitmap's width
    uint16_t FrameRate = 25;
    uint16_t Flags = 1;
};

// Reads the text of a .spd description: lines end at CR LF, at a lone CR or at a lone LF (an
// empty line is a value that is no number), character 26 ends the text, each line is
// "key = value" with spaces and control characters trimmed, every value must be a 32-bit
// whole number (decimal, "$" or "0x" hexadecimal) and its low 16 bits are kept; the known keys
// are the lower-case "frames", "height", "width", "framerate" and "flags", the last of a
// repeated key wins. Raises ConvertError ("'%s' is not a valid integer value") for a value
// that is no number, whatever its key.
SpdValues ReadSpd(const std::vector<uint8_t>& text);

class TSprFile {
public:
    uint32_t FileSize = 0;
    uint16_t SlotCount = 0;
    uint16_t FrameCount = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint16_t ColourCount = 0;
    std::vector<uint8_t> Palette; // ColourCount x RGB; entry 0 is black
    std::vector<SpriteSlot> Slots;
    std::vector<SpriteAnim> Frames;
    uint16_t SlotFlags = 0;
    uint16_t FrameRate = 0;
    uint16_t Flags = 0; // bit 1: ping-pong play

    virtual ~TSprFile() = default;

    // LoadFromStream on the file; FileOpenError when it cannot be opened.
    int32_t LoadFromFile(const std::string& fileName);
    // FrameCount, or 0 when `stream` is null or the header is refused (then Palette stays as it
    // was: empty for a new object). Values inside a file that passed its header which the
    // layout cannot mean raise AssertionError saying what is wrong.
    int32_t LoadFromStream(Stream* stream);
    // Frame `index` rendered into a Width x Height bitmap. "Sprite has no frames" without frames.
    Bitmap MakeFrameBitmap(int index) const;
    // Writes the .SPR file (replacing an existing one only when every byte is written); returns
    // its length. Raises "Sprite has no frames" without frames, and an error before the file is
    // touched when the sprite cannot be stored (more than 256 slots, offsets of 2^24 or more,
    // pixel values of 128 or more when compressing).
    int32_t SaveToFile(const std::string& fileName, bool compress);
    // The bytes SaveToFile writes, with the same changes to the object.
    std::vector<uint8_t> SaveToBytes(bool compress);
    // Groups the frames into slots of fewer than `limit` unpacked bytes (a frame that alone
    // reaches it gets a slot of its own). Raises an error, leaving the sprite as it was, when
    // more than 256 slots would be needed.
    void BuildSlots(uint32_t limit);
    // Encodes every slot that has no packed block yet and lays the blocks out back to back.
    void PackSlots();

    // Writes the strip baseName + ".bmp" (".png" for PictureFormat::Png) and baseName + ".spd".
    // Returns true.
    bool ExportStrip(const std::string& baseName, PictureFormat format = PictureFormat::Bmp);
    // The strip ExportStrip writes, with its errors (`baseName` names the sprite in them):
    // "Sprite has no frames", and a strip too high for a bitmap or too large to convert.
    Bitmap MakeStrip(const std::string& baseName) const;
    // The lines of the .spd description ExportStrip writes.
    std::vector<std::string> SpdLines() const;
    // Fills this sprite, emptied first, from baseName + ".bmp" (a bitmap or any picture that
    // LoadPictureFile reads) and baseName + ".spd". Returns true.
    bool ImportStrip(const std::string& baseName);
    // The same from a strip picture already read (see Picture.h: index 0 is the background),
    // `stripName` naming it in error messages, and the description file `spdName`.
    bool ImportStrip(Bitmap strip, const std::string& stripName, const std::string& spdName);
};

} // namespace pelfry
