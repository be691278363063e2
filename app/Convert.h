// Conversion of game files to files that picture editors handle, and back, decided by file
// name. Forward: X.IMG -> X.IMG.bmp; X.SPR -> X.SPR.bmp + X.SPR.spd. Back: from those files to
// X.IMG / X.SPR, only when the edited files' ages differ from the game file's (or always when
// recreating). After either step all files of one group carry the same time stamp until one
// of them is edited. Shared by the window and pelfry-cli; no toolkit here.
#pragma once

#include <string>

namespace pelfry {

// The window's check boxes, read by the caller at the moment of each call.
struct ConvertOptions {
    bool CompressSpr = true; // "Compress .SPR files"
    bool CompressImg = true; // "Compress .IMG files"
    bool OpaqueImg = true;   // "Opaque .IMGs"
};

// .IMG -> .IMG.bmp. Raises "%s is not a valid image file" for a file that is no image.
void ConvertImgFile(const std::string& fileName);
// .SPR -> .SPR.bmp + .SPR.spd. Raises "%s is not a valid sprite file" for a file that is no sprite.
void ConvertSprFile(const std::string& fileName);
// baseName.bmp + baseName.spd -> baseName (a sprite). An uncompressed result of 128 KiB or
// more is written again compressed.
void ConvertSpdFile(const std::string& baseName, const ConvertOptions& options);
// baseName.bmp -> baseName (an image); a name ending in ".SPR" is a sprite strip instead.
void ConvertBmpFile(const std::string& baseName, const ConvertOptions& options);

// Forward conversion by extension; returns the bitmap made, or `fileName` itself for a file
// of no convertible kind. The new files get the game file's time stamp.
std::string ConvertFile(const std::string& fileName);

// Back conversion of an edited .bmp or .spd. Returns whether the game file was written (and
// stamped); `resultName` receives the game file's name (the input less its last four
// characters) for .bmp and .spd inputs, else the input itself.
bool ConvertBack(const std::string& fileName, bool recreate, const ConvertOptions& options,
                 std::string& resultName);

} // namespace pelfry
