// Thumbnails of the game's files, as file managers ask a thumbnailer for them. No toolkit here.
#pragma once

#include "picture/Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelfry {

// The longer side of a thumbnail unless asked otherwise.
inline constexpr int DefaultThumbnailSize = 256;

// What a thumbnail of the file `path` shows, the file told by its first bytes ("IMG", "SPR"
// or "DIR" and 0x1A), else by its name's kind: an image whole, a sprite's first frame, or the
// first entry of an archive, in entry order, named as an image or sprite that holds a picture
// (entries that cannot be read as their kind are passed over). Of an archive only the
// directory and that entry are read. Raises FileOpenError for a file that cannot be read, the
// readers' errors ("%s is not a valid image file", "Invalid directory file %s", ...), "%s has
// no picture to show" for a picture without pixels or an archive without one, and "Cannot
// make a thumbnail of %s: not a .DIR, .IMG or .SPR file" for any other file.
Bitmap ThumbnailPicture(const std::string& path);

// The PNG thumbnail of `path`: ThumbnailPicture scaled down by ScaleDown (the longer side
// `size`, never enlarged), with a transparent background.
std::vector<uint8_t> MakeThumbnail(const std::string& path, int size);

} // namespace pelfry
