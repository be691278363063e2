// Small true-colour copies of 8-bit pictures, as file managers show them: scaled down by
// averaging, with index 0 transparent.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <vector>

namespace pelfry {

// A picture of 8-bit red, green, blue and alpha (not premultiplied), rows from the top.
struct RgbaPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels; // Width x Height x 4
};

// The size `picture` is shown at when its longer side may take at most `size` pixels: the same
// shape (each side at least 1), never enlarged.
void ThumbnailSize(int width, int height, int size, int& scaledWidth, int& scaledHeight);

// `bitmap` at ThumbnailSize(size). Each pixel is the average of the area of the picture it
// covers, partly covered pixels counted by their share: alpha is the share of that area that is
// not the background (index 0), and the colour the average of those pixels alone, so that the
// transparent background neither darkens the edges nor shows a colour of its own. Pixels that
// keep their size keep their colours exactly.
RgbaPicture ScaleDown(const Bitmap& bitmap, int size);

// A PNG of `picture`, 8-bit RGBA, not interlaced. Raises an assertion error for a picture
// without pixels or wider or taller than 65,535 pixels.
std::vector<uint8_t> EncodeRgbaPng(const RgbaPicture& picture);

} // namespace pelfry
