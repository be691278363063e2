// Sprite strips: a sprite's frames stacked top to bottom in one picture, with the .spd
// description of the numbers a picture cannot carry. Part of the unit SprFileU.
#include "sprite/SprFileU.h"
#include "sprite/SprFormat.h"

#include "base/Errors.h"
#include "base/Text.h"
#include "image/ImgFileU.h"
#include "picture/Picture.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <cstring>

namespace pelfry {

using sprformat::TooManyColours;

namespace {

constexpr int MaxStripRows = 65535; // the tallest bitmap the strip import reads back

std::string SpdLineValue(std::string_view line, std::string& key) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        key.clear();
        return Trim(line);
    }
    key = Trim(line.substr(0, eq));
    return Trim(line.substr(eq + 1));
}

// How the frames lie in a strip: `frames` cells of `width` x `height` pixels from the top.
struct StripGrid {
    uint16_t frames;
    uint16_t width;
    uint16_t height;
};

// The grid that the description gives, its missing numbers worked out from the strip.
StripGrid WorkOutGrid(const SpdValues& spd, const Bitmap& strip, const std::string& stripName,
                      const std::string& spdName) {
    StripGrid grid{spd.Frames, spd.Width, spd.Height};
    const int stripWidth = strip.Width();
    const int stripHeight = strip.Height();
    if (grid.frames == 0 && grid.height == 0) throw Error(spdName + " must give frames or height");
    if (grid.frames == 0) {
        grid.frames = static_cast<uint16_t>(stripHeight / grid.height);
        if (grid.frames == 0)
            throw Error(
                Format("%s gives no frames: frames of %u rows do not fit into the %d rows of %s",
                       spdName.c_str(), grid.height, stripHeight, stripName.c_str()));
    } else if (grid.height == 0) {
        grid.height = static_cast<uint16_t>(stripHeight / grid.frames);
        if (grid.height == 0)
            throw Error(Format("%s gives %u frames, more than the %d rows of %s hold",
                               spdName.c_str(), grid.frames, stripHeight, stripName.c_str()));
    }
    if (grid.width == 0) grid.width = static_cast<uint16_t>(stripWidth);
    if (grid.width == 0) throw Error(Format("%s is 0 pixels wide", stripName.c_str()));
    if (grid.width > stripWidth || static_cast<int64_t>(grid.frames) * grid.height > stripHeight)
        throw Error(Format(
            "%s describes %u frames of %u x %u pixels, which do not fit into the %d x %d bitmap %s",
            spdName.c_str(), grid.frames, grid.width, grid.height, stripWidth, stripHeight,
            stripName.c_str()));
    return grid;
}

// The frame in the cell whose top row is `cellTop`, cut down to the smallest box around its
// pixels other than 0. An empty cell keeps one background pixel at its top-left corner.
SpriteAnim CutFrame(const Bitmap& strip, int cellTop, const StripGrid& grid) {
    int top = grid.height, bottom = -1, left = grid.width, right = -1;
    for (int y = 0; y < grid.height; ++y) {
        const uint8_t* row = strip.Row(cellTop + y);
        for (int x = 0; x < grid.width; ++x) {
            if (row[x] == 0) continue;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    SpriteAnim a;
    if (bottom < 0) {
        a.Right = 1;
        a.Bottom = 1;
    } else {
        a.Left = static_cast<uint16_t>(left);
        a.Top = static_cast<uint16_t>(top);
        a.Right = static_cast<uint16_t>(right + 1);
        a.Bottom = static_cast<uint16_t>(bottom + 1);
    }
    const size_t boxWidth = static_cast<size_t>(a.Right - a.Left);
    a.Pixels.resize(boxWidth * static_cast<size_t>(a.Bottom - a.Top));
    for (int y = a.Top; y < a.Bottom; ++y)
        std::memcpy(a.Pixels.data() + static_cast<size_t>(y - a.Top) * boxWidth,
                    strip.Row(cellTop + y) + a.Left, boxWidth);
    return a;
}

} // namespace

// ---- .spd descriptions -------------------------------------------------------------------

SpdValues ReadSpd(const std::vector<uint8_t>& text, const std::string& name) {
    constexpr uint8_t EndOfText = 26;
    SpdValues values;
    std::string key;
    // Line ends as every editor writes them: CR LF, CR or LF alone.
    const std::vector<std::string> lines = SplitTextLines(text, EndOfText);
    for (size_t i = 0; i < lines.size(); ++i) {
        // The value is converted before the key is looked at: every line must carry a number.
        std::string value = SpdLineValue(lines[i], key);
        uint16_t number;
        try {
            number = static_cast<uint16_t>(static_cast<uint32_t>(StrToInt(value)));
        } catch (ConvertError& e) {
            e.SetWhere((name.empty() ? "" : name + ", ") + Format("line %zu", i + 1) +
                       (key.empty() ? "" : " (" + key + ")"));
            throw;
        }
        if (key == "frames")
            values.Frames = number;
        else if (key == "height")
            values.Height = number;
        else if (key == "width")
            values.Width = number;
        else if (key == "framerate")
            values.FrameRate = number;
        else if (key == "flags")
            values.Flags = number;
    }
    return values;
}

// ---- Strips ----------------------------------------------------------------------------------

bool TSprFile::ExportStrip(const std::string& baseName, PictureFormat format) {
    const Bitmap strip = MakeStrip(baseName);
    SavePictureFile(strip, baseName + PictureSuffix(format), format);
    WriteTextLines(baseName + ".spd", SpdLines());
    return true;
}

Bitmap TSprFile::MakeStrip(const std::string& baseName) const {
    CheckFrames();
    const uint64_t rows = static_cast<uint64_t>(Height) * FrameCount();
    if (rows > static_cast<uint64_t>(MaxStripRows))
        throw Error(Format(
            "The strip of %s would be %llu pixels high; a strip bitmap holds at most 65535 rows",
            baseName.c_str(), static_cast<unsigned long long>(rows)));
    if (TooManyPixels(Width, rows))
        throw Error(Format("The strip of %s is too large to convert", baseName.c_str()),
                    TooManyPixelsReason("the sprite's strip would be", Width, rows));

    Bitmap strip(Width, static_cast<int>(rows));
    strip.SetPalette(MakePalette(Palette, ColourCount()));
    for (size_t f = 0; f < Frames.size(); ++f)
        DrawFrame(Frames[f], strip, static_cast<int>(f * Height));
    return strip;
}

std::vector<std::string> TSprFile::SpdLines() const {
    return {Format("frames = %u", FrameCount()), Format("height = %u", Height),
            Format("width = %u", Width), Format("framerate = %u", FrameRate),
            Format("flags = %u", Flags)};
}

bool TSprFile::ImportStrip(const std::string& baseName) {
    return ImportStrip(LoadPictureFile(baseName + ".bmp").Image, baseName + ".bmp",
                       baseName + ".spd");
}

bool TSprFile::ImportStrip(Bitmap strip, const std::string& stripName, const std::string& spdName) {
    const SpdValues spd = ReadSpd(ReadWholeFile(spdName), spdName);
    const StripGrid grid = WorkOutGrid(spd, strip, stripName, spdName);
    // Colours are numbered by first appearance over the whole bitmap, background 0 kept; a
    // colour beyond 127 would need a pixel value the codec cannot carry.
    RenumberedColours colours = RenumberColours(strip, 127);
    PELFRY_CHECK(colours.Renumbered, TooManyColours, "Too many colours in image!",
                 TooManyColoursReason("the strip", colours.Used, "at most 127 fit"));

    TSprFile sprite;
    sprite.Width = grid.width;
    sprite.Height = grid.height;
    sprite.FrameRate = spd.FrameRate;
    sprite.Flags = spd.Flags;
    sprite.Palette = std::move(colours.Palette);
    sprite.Frames.reserve(grid.frames);
    for (uint16_t f = 0; f < grid.frames; ++f)
        sprite.Frames.push_back(CutFrame(strip, static_cast<int>(f) * grid.height, grid));
    *this = std::move(sprite);
    return true;
}

} // namespace pelfry
