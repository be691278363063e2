// Helpers of the sprite tests: a temporary folder that cleans up after itself, sprites made in
// code, and .SPR files assembled field by field.
#pragma once

#include "base/Bytes.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "platform/FileUtil.h"
#include "sprite/SprFileU.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace sprtest {

using namespace pelfry;

using test::TempDir;

// A frame whose box is filled with `fill(x, y)` (box-relative coordinates).
template <typename Fill>
SpriteAnim MakeFrame(uint16_t left, uint16_t top, uint16_t right, uint16_t bottom, Fill fill) {
    SpriteAnim a;
    a.Left = left;
    a.Top = top;
    a.Right = right;
    a.Bottom = bottom;
    for (int y = 0; y < bottom - top; ++y)
        for (int x = 0; x < right - left; ++x)
            a.Pixels.push_back(static_cast<uint8_t>(fill(x, y)));
    return a;
}

inline SpriteAnim SolidFrame(uint16_t left, uint16_t top, uint16_t right, uint16_t bottom,
                             uint8_t value) {
    return MakeFrame(left, top, right, bottom, [value](int, int) { return value; });
}

// A sprite of `colours` palette entries (entry i = i*10, i*20+1, 255-i) and no frames yet.
inline TSprFile MakeSprite(uint16_t width, uint16_t height, uint16_t colours) {
    TSprFile s;
    s.Width = width;
    s.Height = height;
    s.Palette.assign(static_cast<size_t>(colours) * 3, 0);
    for (size_t i = 1; i < colours; ++i) {
        s.Palette[3 * i] = static_cast<uint8_t>(i * 10);
        s.Palette[3 * i + 1] = static_cast<uint8_t>(i * 20 + 1);
        s.Palette[3 * i + 2] = static_cast<uint8_t>(255 - i);
    }
    s.FrameRate = 12;
    s.Flags = 2;
    return s;
}

inline void AddFrame(TSprFile& s, SpriteAnim a) {
    s.Frames.push_back(std::move(a));
}

// Loads `bytes` through a memory stream; the load's result.
inline int32_t LoadBytes(TSprFile& s, const std::vector<uint8_t>& bytes) {
    MemoryStream stream(bytes);
    return s.LoadFromStream(&stream);
}

// Builds a .SPR file from its parts. Palette entries 1..k are (i, i, i).
struct SprBuilder {
    uint8_t flags = 0x80;
    uint8_t k = 0;
    uint16_t slotCount = 0;
    struct Slot {
        uint32_t offset, reserved, unpacked;
    };
    std::vector<Slot> slots;
    uint16_t slotFlags = 0;
    uint16_t frameRate = 10, spriteFlags = 0, width = 4, height = 4;
    struct Frame {
        uint32_t offset;
        uint8_t slot;
        uint16_t left, top, right, bottom;
    };
    std::vector<Frame> frames;
    // Zero bytes an older writer put before an uncompressed frame table.
    size_t fillBeforeFrames = 0;
    std::vector<uint8_t> data;

    std::vector<uint8_t> Bytes(int64_t sizeField = -1) const {
        std::vector<uint8_t> out = {'S', 'P', 'R', 0x1A};
        PutU32(out, 0);
        PutU8(out, 8);
        PutU8(out, flags);
        PutU8(out, k);
        PutU8(out, 0);
        for (int i = 1; i <= k; ++i)
            out.insert(out.end(), 3, static_cast<uint8_t>(i));
        PutU16(out, slotCount);
        if (slotCount > 0) {
            PutZeros(out, (4 - out.size() % 4) % 4);
            for (const Slot& s : slots) {
                PutU32(out, s.offset);
                PutU32(out, s.reserved);
                PutU32(out, s.unpacked);
            }
            PutU16(out, slotFlags);
        }
        PutU16(out, frameRate);
        PutU16(out, spriteFlags);
        PutU16(out, width);
        PutU16(out, height);
        PutU16(out, static_cast<uint16_t>(frames.size()));
        PutZeros(out, fillBeforeFrames);
        for (const Frame& f : frames) {
            PutU8(out, static_cast<uint8_t>(f.offset));
            PutU8(out, static_cast<uint8_t>(f.offset >> 8));
            PutU8(out, static_cast<uint8_t>(f.offset >> 16));
            PutU8(out, f.slot);
            PutU16(out, f.left);
            PutU16(out, f.top);
            PutU16(out, f.right);
            PutU16(out, f.bottom);
        }
        out.insert(out.end(), data.begin(), data.end());
        SetU32(out, 4,
               sizeField < 0 ? static_cast<uint32_t>(out.size())
                             : static_cast<uint32_t>(sizeField));
        return out;
    }
};

// The message of the pelfry::Error that `f` raises; "" when it raises none.
template <typename F> std::string ErrorOf(F f) {
    try {
        f();
    } catch (const pelfry::Error& e) {
        return e.what();
    }
    return "";
}

} // namespace sprtest
