// Pictures as picture editors save them, PNG or Windows bitmap, read into the 8-bit indexed
// Bitmap that images and sprites are made from; and 8-bit palette PNG files written from it.
//
// Palette pictures (palette PNG at 1, 2, 4 or 8 bits; 1- to 8-bit bitmaps) keep their stored
// indices and palette: index 0 is the background whatever colour the file gives it.
// True-colour pictures (grey, grey with alpha, RGB, RGBA at 8 or 16 bits a channel; 16-, 24-
// and 32-bit bitmaps) are numbered as they are read, rows from the top, each from the left:
// - a pixel whose alpha is 0 is the background, index 0;
// - in a picture without an alpha channel, pure black (0, 0, 0) is the background;
// - every other colour takes the next index in order of first appearance, its alpha otherwise
//   ignored. 16-bit channels count by their high byte.
// A picture has no alpha channel unless it stores one: an alpha channel, a PNG transparency
// chunk for grey or RGB (its colour is then the one of alpha 0), or a bitmap alpha mask.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace pelfry {

struct Picture {
    Bitmap Image;
    // True for palette pictures, whose indices are the file's own; false for true-colour
    // pictures, whose indices were handed out by the rule above (palette entry 0 black).
    bool Indexed = true;
};

// Reads a picture file of either kind, told by its first bytes (the PNG signature or "BM"), so
// that a PNG saved under a .bmp name is read too. FileOpenError when the file cannot be opened;
// the errors of DecodePng and DecodeBmp otherwise. A file that is neither is an
// "Invalid picture file %s" when its name ends in ".png" (any case), else an
// "Invalid bitmap file %s".
Picture LoadPictureFile(const std::string& path);
// The same for bytes in memory; `fileName` names the file in error messages.
Picture DecodePicture(const uint8_t* data, size_t size, const std::string& fileName);

// A PNG file of any colour type and bit depth, interlaced or not. Damaged or truncated files
// (a bad chunk CRC in image data included) raise "Invalid picture file %s"; pictures wider or
// taller than 65,535 pixels "%s is wider or taller than 65,535 pixels". Palette indices beyond
// the palette keep their index and show black. Ancillary chunks are ignored (no gamma or colour
// space correction: the stored values count).
Picture DecodePng(const uint8_t* data, size_t size, const std::string& fileName);

// A .bmp file as DecodeBitmap reads it, telling palette pictures from true-colour ones.
Picture DecodeBmp(const uint8_t* data, size_t size, const std::string& fileName);

// Encodes `bitmap` as an 8-bit palette PNG: exactly its indices and all 256 palette entries,
// no transparency, not interlaced. A bitmap wider or taller than 65,535 pixels, or without
// pixels (PNG has no empty pictures), raises an assertion error.
std::vector<uint8_t> EncodePng(const Bitmap& bitmap);

// The file formats the conversions write.
enum class PictureFormat { Bmp, Png };

// ".bmp" or ".png": what a conversion appends to the game file's name.
const char* PictureSuffix(PictureFormat format);

// Writes `bitmap` to `path` as a .bmp (SaveBitmapFile) or a PNG (EncodePng), through the
// replacing writer: an existing file is replaced only once the new one is complete. A bitmap
// without pixels cannot be a PNG: "%s cannot be written: a PNG picture needs at least one pixel".
void SavePictureFile(const Bitmap& bitmap, const std::string& path, PictureFormat format);
// The bytes SavePictureFile writes to `path` (named in its error), made in memory.
std::vector<uint8_t> EncodePicture(const Bitmap& bitmap, const std::string& path,
                                   PictureFormat format);

// The pixels of a palette picture that use index 0 although the palette gives index 0 a colour
// other than black: the conversions take them as background all the same, which the user may
// not expect. 0 for true-colour pictures, whose index 0 is black by the rule.
uint64_t ColouredBackgroundPixels(const Picture& picture);

// Hands out the indices of a true-colour picture by the rule above, fed its pixels in picture
// order. After 255 colours every further new colour gets index 255: such a picture has more
// colours than any conversion accepts, and the conversion still sees more than 127.
class ColourNumbering {
public:
    explicit ColourNumbering(bool alphaChannel) : alpha_(alphaChannel) {}

    uint8_t Index(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        if (alpha_ ? a == 0 : (r | g | b) == 0) return 0;
        const uint32_t key = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
        if (key == lastKey_) return lastIndex_; // runs of one colour are the common case
        lastKey_ = key;
        return lastIndex_ = Lookup(key, RGB{r, g, b});
    }
    // Entry i is the colour that got index i; entry 0 and unused entries are black.
    const Palette256& Palette() const { return palette_; }

private:
    uint8_t Lookup(uint32_t key, RGB colour);

    bool alpha_;
    Palette256 palette_{};
    std::unordered_map<uint32_t, uint8_t> indices_;
    uint32_t next_ = 1;
    uint32_t lastKey_ = 0xFFFFFFFF; // no colour has this key
    uint8_t lastIndex_ = 0;
};

// Raises "%s is wider or taller than 65,535 pixels" for `fileName`.
[[noreturn]] void PictureTooLarge(const std::string& fileName);

} // namespace pelfry
