// GIF pictures, written with giflib: a still picture, or an animation whose frames all cover
// the whole picture, index 0 of the palette transparent.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelfry {

// The shortest delay between two frames that browsers play as written, in hundredths of a
// second: they play shorter ones (0 and 1) much more slowly.
inline constexpr int MinGifDelay = 2;

// Writes a GIF in memory, frame by frame, so that an animation of many frames needs no more
// memory than one frame and the file made so far. Every frame is `width` x `height` pixels of
// the colours of `palette`, entries 0 to `highest` (the largest pixel value the frames hold):
// colours are kept exactly. Index 0 is transparent, and each frame replaces the one before
// whole (the picture is cleared to the background before the next), so nothing of an earlier
// frame shows through its transparent pixels. An animation (`animated`) loops for ever, each
// frame shown for its delay; a still picture carries neither. Raises an error for a picture
// without pixels or wider or taller than 65,535; std::bad_alloc when memory runs out.
class GifWriter {
public:
    GifWriter(int width, int height, const Palette256& palette, uint8_t highest, bool animated);
    ~GifWriter();
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;

    // Appends `frame` (of the writer's size), shown for `delay` hundredths of a second.
    void AddFrame(const Bitmap& frame, int delay = 0);
    // The whole file; the writer takes no more frames.
    std::vector<uint8_t> Finish();

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::vector<uint8_t> row_; // giflib masks the pixels of the row it is given
    int width_;
    int height_;
    bool animated_;
};

// A still GIF of `bitmap`, index 0 transparent.
std::vector<uint8_t> EncodeGif(const Bitmap& bitmap);

// Raises "%s has no pixels to show in a GIF" for the picture `name`.
[[noreturn]] void NoGifPixels(const std::string& name);

// The largest pixel value of `bitmap`, which its GIF's colour table must reach.
uint8_t HighestIndex(const Bitmap& bitmap);

} // namespace pelfry
