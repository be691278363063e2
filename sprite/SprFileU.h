// TSprFile: one animated sprite (.SPR) of the game, its rendering into bitmaps, and its
// conversion to and from a bitmap strip (frames stacked top to bottom) with a .spd description.
#pragma once

#include "platform/Bitmap.h"
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
    std::vector<uint8_t> Packed;
};

// One frame: a box of palette indices inside the sprite's area.
struct SpriteAnim {
    uint32_t Offset = 0; // start of the pixel block (in its slot, or in the data area when uncompressed)
    uint8_t Slot = 0;
    uint16_t Left = 0, Top = 0;      // inclusive
    uint16_t Right = 0, Bottom = 0;  // exclusive
    std::vector<uint8_t> Pixels;     // (Right - Left) x (Bottom - Top), row by row
};

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

    int32_t LoadFromFile(const std::string& fileName);
    // FrameCount, or 0 when `stream` is null or the header is refused.
    int32_t LoadFromStream(Stream* stream);
    // Frame `index` rendered into a Width x Height bitmap.
    Bitmap MakeFrameBitmap(int index) const;
    // Writes the .SPR file; returns its length.
    int32_t SaveToFile(const std::string& fileName, bool compress);
    void BuildSlots(uint32_t limit);
    void PackSlots();

    // Writes baseName + ".bmp" and baseName + ".spd". Returns true.
    bool ExportStrip(const std::string& baseName);
    // Fills this (new, empty) sprite from baseName + ".bmp" and baseName + ".spd". Returns true.
    bool ImportStrip(const std::string& baseName);
};

} // namespace pelfry
