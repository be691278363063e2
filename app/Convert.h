// Conversion of game files to files that picture editors handle, and back, decided by file
// name. Forward: X.IMG -> X.IMG.bmp; X.SPR -> X.SPR.bmp + X.SPR.spd (or X.IMG.png and
// X.SPR.png on request). Back: from those files to X.IMG / X.SPR, only when the edited files'
// times differ from the game file's (TimesDiffer), or always when recreating. After either step
// all files of one group carry the same time stamp until one of them is edited. Shared by the
// window and pelfry-cli; no toolkit here.
#pragma once

#include "base/Stream.h"
#include "image/ImgFileU.h"
#include "picture/Picture.h"
#include "sprite/SprFileU.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelfry {

class Folder;
class PreparedFile;

// The window's check boxes, read by the caller at the moment of each call.
struct ConvertOptions {
    bool CompressSpr = true; // "Compress .SPR files"
    bool CompressImg = true; // "Compress .IMG files"
    bool OpaqueImg = true;   // "Opaque .IMGs"
    // Told, one sentence each, what a back conversion noticed but did not stop for (pixels of
    // palette index 0 that the picture gives a colour); nothing is told when it is empty.
    std::function<void(const std::string&)> Warn;
};

// .IMG -> .IMG.bmp (.IMG.png). Raises "%s is not a valid image file" for a file that is no
// image, and "%s is too large to convert" for one beyond MaxPicturePixels (Bitmap.h), before
// its pixels are read; both with the reason.
void ConvertImgFile(const std::string& fileName, PictureFormat format = PictureFormat::Bmp);
// .SPR -> .SPR.bmp (.SPR.png) + .SPR.spd. Raises "%s is not a valid sprite file" for a file
// that is no sprite, with the reason, and the errors of TSprFile::MakeStrip (a strip beyond
// MaxPicturePixels).
void ConvertSprFile(const std::string& fileName, PictureFormat format = PictureFormat::Bmp);
// The edited strip or picture of the group of `baseName`: baseName + ".bmp" or + ".png",
// whichever was modified last when both exist (the .bmp when their times are equal), the one
// that exists, or the .bmp when neither does.
std::string EditedPicture(const std::string& baseName);
// EditedPicture(baseName) + baseName.spd -> baseName (a sprite). An uncompressed result of
// 128 KiB or more is written again compressed.
void ConvertSpdFile(const std::string& baseName, const ConvertOptions& options);
// baseName.bmp -> baseName (an image); a name ending in ".SPR" is a sprite strip instead.
void ConvertBmpFile(const std::string& baseName, const ConvertOptions& options);
// The picture file `picture` (a .bmp or a PNG) -> baseName: a sprite (with baseName.spd) when
// `sprite`, else an image.
void ConvertPictureFile(const std::string& baseName, const std::string& picture, bool sprite,
                        const ConvertOptions& options);

// The game file `baseName` rebuilt in memory from the picture file `picture`, as ConvertBack
// rebuilds it whatever the files' ages: a sprite (with baseName + ".spd") when `sprite`, else an
// image. Raises what ConvertBack raises for the picture and description; writes nothing.
// `warning` receives what the user should be told about it (see ConvertOptions::Warn), if
// anything.
std::vector<uint8_t> RebuildGameFile(const std::string& baseName, const std::string& picture,
                                     bool sprite, const ConvertOptions& options,
                                     std::string& warning);

// Forward conversion by extension; returns the picture made, or `fileName` itself for a file
// of no convertible kind. The new files get the game file's time stamp.
std::string ConvertFile(const std::string& fileName, PictureFormat format = PictureFormat::Bmp);

// A file a conversion makes, held in memory until it is written.
struct MadeFile {
    std::string Path;
    std::vector<uint8_t> Bytes;
    // What making it noticed but did not stop for, one sentence for the user (an image cut
    // short: "cut short: 1,000 of 4,096 pixels read; the rest is background"); empty for none.
    std::string Warning;
};

// The image `fileName` read from `contents`: "%s is not a valid image file" with the reason for
// one that is no image, and "%s is too large to convert" for one beyond MaxPicturePixels
// (Bitmap.h), before its pixels are decoded. An image with no pixels is still an image. `read`
// receives how many pixels the file held (see TImgFile::CutShortNote).
TImgFile ReadImageFile(const std::string& fileName, Stream& contents, int32_t* read = nullptr);
// The sprite `fileName` read from `contents`: "%s is not a valid sprite file" with the reason.
// What is drawn of it is bounded by its own makers (MakeStrip, MakeFrameBitmap, MakeGif).
TSprFile ReadSpriteFile(const std::string& fileName, Stream& contents);

// ConvertFile in two steps, so that the work on many files can be spread over threads while
// they are written in order. MakeConvertedFiles reads the game file `fileName` (or takes its
// bytes from `contents`) and makes the picture and, for a sprite, the description, raising
// what ConvertFile raises before it writes; nothing for a file of no convertible kind; the
// picture's Warning tells an image cut short. It writes nothing and may run on any thread.
// WriteConvertedFiles writes them in that order, stamped with the time of `fileName` (which
// must exist then) as precisely as the file system keeps it, into the folder of `fileName`
// opened once, and returns what ConvertFile returns.
std::vector<MadeFile> MakeConvertedFiles(const std::string& fileName, PictureFormat format);
std::vector<MadeFile> MakeConvertedFiles(const std::string& fileName, Stream& contents,
                                         PictureFormat format);
std::string WriteConvertedFiles(const std::string& fileName, const std::vector<MadeFile>& files);
// The same into `folder`, open already (the one the game file was written into, walked without
// links), each file under the last part of its path and stamped with `time` (nanoseconds since
// 1970; -1: the time of the write); returns the first file's path ("" when there is none).
std::string WriteConvertedFiles(const Folder& folder, const std::vector<MadeFile>& files,
                                int64_t time);

// The GIF of a game file, named by appending ".gif" to it: X.IMG.gif, a still picture, or
// X.SPR.gif, the animation as the preview plays it (TSprFile::MakeGif); index 0 transparent.
// MakeGif reads it from `contents` and raises what ConvertFile raises for a file that is no
// image or sprite, and "%s has no pixels to show in a GIF" for one without pixels; it returns
// nothing for a file of no convertible kind. MakeGifFiles works as MakeConvertedFiles does, to
// be written by WriteConvertedFiles.
std::vector<uint8_t> MakeGif(const std::string& fileName, Stream& contents);
std::vector<MadeFile> MakeGifFiles(const std::string& fileName);

// Back conversion of an edited X.bmp, X.IMG.png, X.SPR.png or X.spd. The picture read is the
// one given, or for a .spd the group's EditedPicture; its time (and for sprites the .spd's)
// is compared with the game file's, and the rebuilt game file gets the picture's time stamp.
// Returns whether the game file was written (and stamped); `resultName` receives the game
// file's name (the input less its last four characters) for those inputs, else the input
// itself (a .png beside no .IMG or .SPR name included). The game file is written beside the
// picture, replacing a link that stands there; with `userFolder` (the folder the user named,
// of which `fileName` is a path: a log's folder) the folders below it are walked without
// following links, and a link among them refuses the file ("Cannot create file %s"). The
// edited files are only read; the description's time is set without following a link.
bool ConvertBack(const std::string& fileName, bool recreate, const ConvertOptions& options,
                 std::string& resultName,
                 const std::optional<std::string>& userFolder = std::nullopt);

// ConvertBack worked out before anything is written.
struct BackConversion {
    std::string ResultName;        // ConvertBack's `resultName`
    bool Rebuilt = false;          // the group was edited, or everything is recreated
    std::string Picture;           // the picture rebuilt from, whose time the files get
    bool Sprite = false;           // a sprite, whose .spd is stamped too
    std::vector<uint8_t> GameFile; // the rebuilt game file, unless Written holds it
    int64_t Time = -1;             // the picture's time as the files get it (GameFileStamp)
    // The game file written ahead under no name, waiting to be named in its turn; null where
    // it could not be (FinishConvertBack then writes GameFile).
    std::shared_ptr<PreparedFile> Written;
    std::string Warning; // for ConvertOptions::Warn once it is written; empty for none
};

// ConvertBack in two steps, as MakeConvertedFiles and WriteConvertedFiles: PrepareConvertBack
// compares the times, rebuilds the game file and writes it ahead, complete but under no name
// (below `userFolder` as ConvertBack; a file it replaces is flushed there, so that this costly
// part runs on the preparing thread too), raising what ConvertBack raises before it names the
// file (it never calls options.Warn). FinishConvertBack names and stamps it, tells the
// warning, and returns what ConvertBack returns; given the same `userFolder`.
BackConversion PrepareConvertBack(const std::string& fileName, bool recreate,
                                  const ConvertOptions& options,
                                  const std::optional<std::string>& userFolder = std::nullopt);
bool FinishConvertBack(const BackConversion& conversion, const ConvertOptions& options,
                       std::string& resultName,
                       const std::optional<std::string>& userFolder = std::nullopt);

// The game file that ConvertBack of `fileName` rebuilds when it was edited (the input less its
// last four characters); empty for a file of no convertible kind.
std::string BackConversionTarget(const std::string& fileName);
// For back conversions run ahead of each other: whether the one rebuilding gameFiles[i] (none
// when empty) reads a file that one before it writes (a game file, or its .spd's time), and so
// must wait until those are done.
std::vector<bool> BackConversionsThatWait(const std::vector<std::string>& gameFiles);

} // namespace pelfry
