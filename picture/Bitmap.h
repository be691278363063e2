// The 8-bit indexed bitmap that images and sprites convert to and from, and its .bmp files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelfry {

struct RGB {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const RGB&, const RGB&) = default;
};

// Always 256 entries; entries a picture does not use are black.
using Palette256 = std::array<RGB, 256>;

// One byte per pixel, a palette index; row 0 is the top row of the picture.
class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height) { SetSize(width, height); }

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Resizes to `width` x `height`, every pixel 0. Negative sizes count as 0.
    void SetSize(int width, int height) {
        width_ = width > 0 ? width : 0;
        height_ = height > 0 ? height : 0;
        pixels_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0);
    }

    Palette256& Palette() { return palette_; }
    const Palette256& Palette() const { return palette_; }
    void SetPalette(const Palette256& palette) { palette_ = palette; }

    // Row y (0 = top) as Width() bytes.
    uint8_t* Row(int y) {
        return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
    }
    const uint8_t* Row(int y) const {
        return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
    }

    std::vector<uint8_t>& Pixels() { return pixels_; }
    const std::vector<uint8_t>& Pixels() const { return pixels_; }

private:
    int width_ = 0;
    int height_ = 0;
    Palette256 palette_{};
    std::vector<uint8_t> pixels_;
};

// The most pixels of a picture made from a game file (a converted image or sprite strip, the
// preview's picture): 64 Mi, 8192 x 8192. The sizes in an image's or a sprite's header are not
// bounded by the data behind them (a few bytes may claim 4096 x 65535 pixels), and no picture of
// the game comes near this.
inline constexpr uint64_t MaxPicturePixels = uint64_t{1} << 26;

inline bool TooManyPixels(uint64_t width, uint64_t height) {
    return width * height > MaxPicturePixels;
}

// Why a picture of `width` x `height` pixels is not made, `what` saying which ("the sprite's
// strip would be"): "the sprite's strip would be 4096 x 65535 = 268 million pixels; at most 67
// million" (exact counts where millions would not tell them apart).
std::string TooManyPixelsReason(std::string_view what, uint64_t width, uint64_t height);

// Writes `bitmap` as a standard uncompressed 8-bit Windows bitmap with a 256-entry colour
// table, replacing the file only when the whole of it was written (WriteFileReplacing).
// FileCreateError / FileWriteError on failure. Bitmaps wider or taller than 65,535 pixels
// are refused with an assertion error.
void SaveBitmapFile(const Bitmap& bitmap, const std::string& path);

// Encodes `bitmap` as the bytes of such a .bmp file.
std::vector<uint8_t> EncodeBitmap(const Bitmap& bitmap);

// Reads a .bmp file as picture editors write it: 1-, 2-, 4- or 8-bit indexed, uncompressed or
// RLE4/RLE8, or 16-, 24- or 32-bit true colour (uncompressed or with bit-field masks), with a
// 12-byte core header, the 40-byte header or the V4/V5 headers, bottom-up or top-down. RLE
// pictures larger than their runs can describe (pixels left implicit by "delta" and "end of
// bitmap") are accepted up to 64 Mi pixels. Colour table entries the file does not give are
// black, so a pixel index beyond the colour table keeps its index and shows black. True-colour
// pictures are numbered as Picture.h describes (DecodeBmp there also tells which kind it was).
// Raises FileOpenError when the file cannot be opened and Error with a message naming the
// file for pictures it refuses: JPEG or PNG inside a bitmap file, wider or taller than 65,535
// pixels, or truncated/malformed ("Invalid bitmap file %s").
Bitmap LoadBitmapFile(const std::string& path);

// The same for bytes already in memory; `fileName` is used in error messages.
Bitmap DecodeBitmap(const uint8_t* data, size_t size, const std::string& fileName);

} // namespace pelfry
