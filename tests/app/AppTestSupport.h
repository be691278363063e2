// Shared by the window tests: a temporary folder, and small images, sprites and archives made
// in code.
#pragma once

#include "archive/DirFileU.h"
#include "image/ImgFileU.h"
#include "platform/FileUtil.h"
#include "sprite/SprFileU.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace pelfry::test {

// An image of width x height whose pixel (x, y) is (x + y) % colours; palette entry i is
// (i * 10, 255 - i * 10, i * 3).
inline TImgFile MakeImage(uint16_t width, uint16_t height, uint32_t colours = 4) {
    TImgFile image;
    image.Width = width;
    image.Height = height;
    for (uint32_t i = 0; i < colours; ++i) {
        image.Palette.push_back(static_cast<uint8_t>(i == 0 ? 0 : i * 10));
        image.Palette.push_back(static_cast<uint8_t>(i == 0 ? 0 : 255 - i * 10));
        image.Palette.push_back(static_cast<uint8_t>(i * 3));
    }
    for (uint16_t y = 0; y < height; ++y)
        for (uint16_t x = 0; x < width; ++x)
            image.Pixels.push_back(static_cast<uint8_t>((x + y) % colours));
    return image;
}

inline std::vector<uint8_t> ImageBytes(uint16_t width, uint16_t height) {
    return MakeImage(width, height).SaveToBytes(false);
}

// A sprite of `frames` frames on a width x height area; frame f is a box of colour f + 1
// placed at (f, f) with size 2 x 2 (so the frames tell apart by their pixels).
inline TSprFile MakeSprite(uint16_t frames, uint16_t frameRate, uint16_t flags, uint16_t width = 8,
                           uint16_t height = 6) {
    TSprFile sprite;
    sprite.Width = width;
    sprite.Height = height;
    sprite.FrameRate = frameRate;
    sprite.Flags = flags;
    sprite.Palette.assign(3, 0);
    for (uint16_t i = 1; i <= frames; ++i) {
        sprite.Palette.push_back(static_cast<uint8_t>(40 * i));
        sprite.Palette.push_back(static_cast<uint8_t>(200 - 20 * i));
        sprite.Palette.push_back(static_cast<uint8_t>(17 * i));
    }
    for (uint16_t f = 0; f < frames; ++f) {
        SpriteAnim a;
        a.Left = static_cast<uint16_t>(f % (width - 1));
        a.Top = static_cast<uint16_t>(f % (height - 1));
        a.Right = static_cast<uint16_t>(a.Left + 2);
        a.Bottom = static_cast<uint16_t>(a.Top + 2);
        a.Pixels.assign(4, static_cast<uint8_t>(f + 1));
        sprite.Frames.push_back(a);
    }
    return sprite;
}

inline std::vector<uint8_t> SpriteBytes(uint16_t frames, uint16_t frameRate, uint16_t flags,
                                        uint16_t width = 8, uint16_t height = 6) {
    return MakeSprite(frames, frameRate, flags, width, height).SaveToBytes(false);
}

// Writes an archive file holding `entries` (name, bytes) in this order.
inline void WriteArchive(const TempDir& dir, const std::string& archiveName,
                         const std::vector<std::pair<std::string, std::vector<uint8_t>>>& entries) {
    const std::string staging = dir / "staging/";
    ForceDirectories(staging);
    TDirFile archive;
    for (const auto& [name, bytes] : entries) {
        WriteWholeFile(staging + name, bytes);
        int32_t index = -1;
        archive.AddFile(staging, name, index);
        DeleteFile(staging + name);
    }
    archive.SaveToFile(dir / archiveName);
}

} // namespace pelfry::test
