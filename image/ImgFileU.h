// The game's byte codec and its still images (.IMG), with their conversion to and from
// 8-bit bitmaps.
#pragma once

#include "base/ByteReader.h"
#include "base/Stream.h"
#include "picture/Bitmap.h"
#include "picture/Picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelfry {

// --- Byte codec -----------------------------------------------------------------------------
// A stream of byte-aligned tokens: literals 0x00-0x7F; short references (2 bytes, length 3-17,
// distance 1-2048); long references (3 bytes, length 18-273, distance 1-2047); the terminator
// 0x80 0x00.

// Encodes `length` bytes of `source` (each below 0x80) into `destination`, which must hold at
// least length + 2 bytes. Returns the bytes written, terminator included. The output is the
// greedy parse with the longest match at each step, the farthest back among equally long ones.
// A source byte of 0x80 or more raises the AssertionError "Decompressed bytes must not have msb
// set!" (ImgFileU.cpp, line 150) on reaching it (the destination then holds the tokens before it).
// The output is byte for byte that of an exhaustive search of the window; the search itself makes
// up to three indexes of at most 256 KB each, only as the data needs them.
int32_t Compress(const uint8_t* source, int32_t length, uint8_t* destination);

// Decodes `source` (`sourceLength` bytes) into `destination` (`destinationLength` bytes).
// Returns the bytes produced before the terminator. Safe on any input: a stream that ends
// without a terminator (or inside a token), refers before the start of the output, or holds a
// token that does not fit in the destination stops before that token, returning the count
// produced so far. Nothing outside the two buffers is read or written.
int32_t Decompress(uint8_t* destination, int32_t destinationLength, const uint8_t* source,
                   int32_t sourceLength);

// The most bytes one token produces (a long reference, from 3 bytes), and so the most bytes the
// decoder can make of each byte of its input: what a header may claim of a stream of a given
// length.
inline constexpr uint64_t LongestToken = 273;
inline constexpr uint64_t MaxExpansion = LongestToken / 3;

// Number of equal leading bytes of `first` and `second`, at most `limit`.
int32_t MatchLength(const uint8_t* first, const uint8_t* second, int32_t limit);

// --- Palettes -------------------------------------------------------------------------------

// A 256-entry palette from the first `count` RGB triples of `colours` (entries from `count` on
// black; at most 256 are taken). Raises the AssertionError "Assertion failure" (ImgFileU.cpp,
// line 71) when `colours` holds fewer than `count` triples: no palette can be made of them.
Palette256 MakePalette(const std::vector<uint8_t>& colours, uint32_t count);

// The colours of an 8-bit picture numbered anew by their first appearance, rows from the top,
// each from the left: the first index other than 0 becomes 1, the next new one 2, and so on;
// index 0, the background, stays 0. Images and sprite strips are made so, which keeps every
// pixel below 128 as the codec needs.
struct RenumberedColours {
    // The indices other than 0 that the picture uses, all of them counted.
    uint32_t Used = 0;
    // Whether they were renumbered: Used was within the limit asked for.
    bool Renumbered = false;
    // 1 + Used RGB triples when renumbered: entry 0 black, entry i the picture's colour of the
    // index that became i.
    std::vector<uint8_t> Palette;
};

// Renumbers `picture` in place and returns the colours, or only their count when the picture
// uses more than `limit` indices besides 0 (its pixels are then renumbered all the same, to
// numbers its palette no longer fits: the caller drops it).
RenumberedColours RenumberColours(Bitmap& picture, uint32_t limit);

// "the picture has 130 colours besides the background; at most 127 fit": why a picture was
// refused, `what` naming it and `limits` saying what fits.
std::string TooManyColoursReason(const char* what, uint32_t used, const char* limits);

// --- Images ---------------------------------------------------------------------------------

// One still image. A load or an import fills it whole or, when it fails, leaves it as it was.
class TImgFile {
public:
    uint16_t Width = 0;
    uint16_t Height = 0;
    std::vector<uint8_t> Palette; // ColourCount() x RGB; entry 0 is black
    std::vector<uint8_t> Pixels;  // Width x Height indices, top row first

    // Palette entries, entry 0 included: up to 65,536, as a file's stored count N may be 65,535.
    uint32_t ColourCount() const { return static_cast<uint32_t>(Palette.size() / 3); }
    // The codec stream of Pixels, kept from the compressed file read or the last compressed
    // save: a compressed save writes it back as it is. Empty before either.
    const std::vector<uint8_t>& Packed() const { return packed_; }
    // Forgets Packed, after Pixels were changed: the next compressed save encodes them afresh.
    void DropPacked() { packed_.clear(); }
    // Whether the pixel data read (or last saved) was compressed.
    bool Compressed() const { return compressed_; }

    // A header whose dimensions ask for more pixels than its data could ever give is refused,
    // unless the image is at most this many pixels (a merely truncated file then still loads,
    // with zeros where data is missing).
    static constexpr uint64_t UnbackedPixelLimit = uint64_t{1} << 22; // 2048 x 2048

    TImgFile() = default;
    TImgFile(const TImgFile&) = default;
    TImgFile(TImgFile&&) = default;
    TImgFile& operator=(const TImgFile&) = default;
    TImgFile& operator=(TImgFile&&) = default;
    virtual ~TImgFile() = default;

    // LoadFromStream on the file; FileOpenError when it cannot be opened.
    LoadResult LoadFromFile(const std::string& path);
    // Reads the image that `stream` holds from its start. Refused (Accepted false, Count 0, the
    // object left as it was, Reason saying why) when `stream` is null, for a wrong magic, and
    // for dimensions that the pixel data could not possibly fill: more than the bytes that
    // follow the header (uncompressed) or than 91 times as many (compressed: the codec's
    // greatest expansion), when that is also beyond UnbackedPixelLimit. Otherwise Count is the
    // pixel bytes obtained; a stream that ends early leaves zeros where data is missing. Bit 6
    // of the flags byte (position 9, or 10 when position 9 holds 8) tells compressed pixel
    // data, which is then kept whole in Packed and decoded into Width x Height + 1 bytes of
    // Pixels.
    LoadResult LoadFromStream(Stream* stream);
    // As LoadFromStream, refusing what it refuses, but reads the header alone: the size, the
    // palette and Compressed(), with Pixels and Packed left empty and Count 0. What a picture
    // of the image would take is known so before its pixels are decoded.
    LoadResult LoadHeader(Stream* stream);
    // "cut short: 1,000 of 4,096 pixels read; the rest is background" when a load obtained
    // `read` pixel bytes (its Count), fewer than Width x Height; empty otherwise.
    std::string CutShortNote(int64_t read) const;
    // The image as an 8-bit bitmap with its palette (the first 256 colours); pixels that the
    // object lacks are 0.
    Bitmap MakeBitmap() const;
    // Writes path + ".bmp", or path + ".png" for PictureFormat::Png (an existing file is
    // replaced only once the new one is complete). Returns true.
    bool ExportBitmap(const std::string& path, PictureFormat format = PictureFormat::Bmp) const;
    // Reads path + ".bmp" (a bitmap, or any picture LoadPictureFile reads) and imports it.
    void ImportBitmap(const std::string& path, bool opaque);
    // Takes a picture already read (see Picture.h: index 0 is the background), renumbering
    // colours by first appearance (RenumberColours); with `opaque`, index-0 pixels get one
    // extra black entry. Raises the AssertionError "Too many colours in image!" (ImgFileU.cpp,
    // line 354) beyond 127 colours (126 when opaque), leaving the object as it was. Forgets
    // Packed, which belonged to the former pixels.
    void ImportBitmap(Bitmap picture, bool opaque);
    // The bytes of the .IMG file, FileSize included. With `compress`, Packed is written when
    // it is held and made from Pixels first when it is empty; a pixel of 0x80 or more then
    // raises "Decompressed bytes must not have msb set!" (ImgFileU.cpp, line 150).
    std::vector<uint8_t> SaveToBytes(bool compress);
    // Writes SaveToBytes to `path`, replacing an existing file only when every byte is written;
    // returns the file's length (equal to its FileSize field).
    int32_t SaveToFile(const std::string& path, bool compress);

private:
    std::vector<uint8_t> packed_;
    bool compressed_ = false;
};

} // namespace pelfry
