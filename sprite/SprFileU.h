// TSprFile: one animated sprite (.SPR) of the game, its rendering into bitmaps, and its
// conversion to and from a bitmap strip (frames stacked top to bottom) with a .spd description.
#pragma once

#include "base/ByteReader.h"
#include "base/Stream.h"
#include "picture/Bitmap.h"
#include "picture/Picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelfry {

// A group of frames whose pixel blocks are encoded together.
struct SpriteSlot {
    uint32_t Offset = 0; // start of the packed block, from the start of the data area
    std::vector<uint8_t> Unpacked;
    std::vector<uint8_t> Packed; // empty until packed (or read from a compressed file)

    // The lengths of the two blocks, as a file's slot table gives them.
    uint32_t PackedSize() const { return static_cast<uint32_t>(Packed.size()); }
    uint32_t UnpackedSize() const { return static_cast<uint32_t>(Unpacked.size()); }
};

// One frame: a box of palette indices inside the sprite's area.
struct SpriteAnim {
    // Start of the pixel block (in its slot, or in the data area when uncompressed).
    uint32_t Offset = 0;
    uint8_t Slot = 0;
    uint16_t Left = 0, Top = 0;     // inclusive
    uint16_t Right = 0, Bottom = 0; // exclusive
    std::vector<uint8_t> Pixels;    // (Right - Left) x (Bottom - Top), row by row
};

// The numbers of a .spd description, with the values a missing key leaves.
struct SpdValues {
    uint16_t Frames = 0; // 0: worked out from the bitmap's height
    uint16_t Height = 0; // 0: worked out from the bitmap's height
    uint16_t Width = 0;  // 0: the bitmap's width
    uint16_t FrameRate = 25;
    uint16_t Flags = 1;
};

// Reads the text of a .spd description: lines end at CR LF, at a lone CR or at a lone LF (an
// empty line is a value that is no number), character 26 ends the text, each line is
// "key = value" with spaces and control characters trimmed, every value must be a 32-bit
// whole number (decimal, "$" or "0x" hexadecimal) and its low 16 bits are kept; the known keys
// are the lower-case "frames", "height", "width", "framerate" and "flags", the last of a
// repeated key wins. Raises ConvertError ("'%s' is not a valid integer value") for a value
// that is no number, whatever its key, its Where() naming the line and the key ("walk.SPR.spd,
// line 4 (framerate)", `name` being the description's file name).
SpdValues ReadSpd(const std::vector<uint8_t>& text, const std::string& name = {});

// Copies `frame`'s box into `picture` with the sprite's row 0 at row `top` (0 for a picture of
// one frame): the box's pixels at (Left, top + Top) on. What of the box lies outside the picture,
// or beyond the pixels the frame holds, is left out; nothing else of the picture changes.
void DrawFrame(const SpriteAnim& frame, Bitmap& picture, int top = 0);

// --- The animation, as the editor's preview plays it -------------------------------------
// How long each frame shows at `frameRate` frames a second: 1000 div frameRate ms, 40 ms for a
// rate of 0; 0 ms above 1000, too fast for a timer: such a sprite stays on its first frame.
int FrameInterval(uint16_t frameRate);
// One step: the frame after `index` going `step` (+1 or -1) through `count` frames; at the
// last frame ping-pong play turns back (and at the first forwards again), other play starts
// over at frame 0.
void NextFrame(int& index, int& step, int count, bool pingPong);
// The frames shown from the start until the animation repeats: 0, 1, ..., count - 1 and, in
// ping-pong, back down to 1 (0, 1, 2, 1 for three frames). Empty without frames.
std::vector<int> PlayOrder(int count, bool pingPong);

// One animated sprite. A load or an import fills it whole or, when it fails, leaves it as it was.
class TSprFile {
public:
    uint32_t FileSize = 0; // the size field of the last file read; saving does not update it
    uint16_t Width = 0;
    uint16_t Height = 0;
    std::vector<uint8_t> Palette;   // ColourCount() x RGB; entry 0 is black
    std::vector<SpriteSlot> Slots;  // empty for an uncompressed sprite; at most 256
    std::vector<SpriteAnim> Frames; // in play order; at most 65535 (SaveToFile refuses more)
    uint16_t SlotFlags = 0;
    uint16_t FrameRate = 0;
    uint16_t Flags = 0; // bit 1: ping-pong play

    uint16_t SlotCount() const { return static_cast<uint16_t>(Slots.size()); }
    uint16_t FrameCount() const { return static_cast<uint16_t>(Frames.size()); }
    // Palette entries, entry 0 included (1 to 256 in a sprite read or made).
    uint16_t ColourCount() const { return static_cast<uint16_t>(Palette.size() / 3); }

    TSprFile() = default;
    TSprFile(const TSprFile&) = default;
    TSprFile(TSprFile&&) = default;
    TSprFile& operator=(const TSprFile&) = default;
    TSprFile& operator=(TSprFile&&) = default;
    virtual ~TSprFile() = default;

    // LoadFromStream on the file; FileOpenError when it cannot be opened.
    LoadResult LoadFromFile(const std::string& fileName);
    // Reads the sprite that `stream` holds from its start. Refused (Accepted false, Count 0,
    // the object left as it was) when `stream` is null, when the size field differs from the
    // stream's length, the depth is not 8 or the flags are below 0x80. Otherwise Count is
    // FrameCount() (0 for a file without frames). A file that passed its header but ends
    // before its tables do, or holds values its layout cannot mean, raises an AssertionError
    // of the unit SprFileU whose reason says what is wrong and where; the object is then left
    // as it was too.
    LoadResult LoadFromStream(Stream* stream);
    // Frame `index` rendered into a Width x Height bitmap. "Sprite has no frames" without frames;
    // "Sprite too large to show" beyond MaxPicturePixels (Bitmap.h), with the reason.
    Bitmap MakeFrameBitmap(int index) const;
    // Draws frame `index` over the whole of `picture` (of Width x Height pixels, from
    // MakeFrameBitmap): 0 outside the frame's box (DrawFrame). An index outside the frames
    // leaves the picture all 0.
    void RenderFrame(int index, Bitmap& picture) const;
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
    // "Sprite has no frames", a strip too high for a bitmap, and "The strip of %s is too large to
    // convert" beyond MaxPicturePixels (Bitmap.h), with the reason and the limit.
    Bitmap MakeStrip(const std::string& baseName) const;
    // The lines of the .spd description ExportStrip writes.
    std::vector<std::string> SpdLines() const;
    // Replaces this sprite by the one made from baseName + ".bmp" (a bitmap or any picture that
    // LoadPictureFile reads) and baseName + ".spd", uncompressed. Returns true. Raises the
    // errors of reading the files, "Too many colours in image!" (SprFileU.cpp, line 584)
    // beyond 127 colours, and an Error when the description's frames do not fit the strip;
    // the sprite is then left as it was.
    bool ImportStrip(const std::string& baseName);
    // The same from a strip picture already read (see Picture.h: index 0 is the background),
    // `stripName` naming it in error messages, and the description file `spdName`.
    bool ImportStrip(Bitmap strip, const std::string& stripName, const std::string& spdName);

    // Whether the sprite plays ping-pong: when asked or when bit 1 of its Flags is set, and it
    // has more than one frame (a single frame has nothing to turn back to).
    bool PlaysPingPong(bool asked = false) const;
    // The animation as a GIF that plays as the preview does: the frames of PlayOrder, each for
    // the sprite's FrameInterval rounded to hundredths of a second and at least MinGifDelay
    // (so above 50 frames a second the GIF plays at 50), looping for ever; a sprite whose
    // interval is 0 stays on frame 0, a still GIF. Index 0 is transparent, the colours exact.
    // Raises "Sprite has no frames" without frames, and an Error naming `name` for an animation
    // too large to make.
    std::vector<uint8_t> MakeGif(const std::string& name) const;

private:
    // Raises an error for what a file cannot hold: no frames, more than 65535, a frame whose
    // box leaves the sprite or whose pixels do not fill its box.
    void CheckFrames() const;
    void CheckFrame(size_t index) const;
    // The fields of the file up to the frame table, and the table.
    void WriteHeader(std::vector<uint8_t>& out, bool compress) const;
    void WriteFrameTable(std::vector<uint8_t>& out) const;
};

} // namespace pelfry
