#include "app/Convert.h"

#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Stream.h"
#include "base/Text.h"
#include "image/ImgFileU.h"
#include "platform/FileStream.h"
#include "platform/FileTime.h"
#include "platform/FileUtil.h"
#include "platform/ReplacingFile.h"
#include "sprite/SprFileU.h"

namespace pelfry {

// An uncompressed sprite file this large or larger is always stored compressed.
static constexpr size_t UncompressedSpriteLimit = 131072;

namespace {

std::vector<MadeFile> ImageFiles(const std::string& fileName, Stream& contents,
                                 PictureFormat format) {
    TImgFile image;
    // The picture's size is known from the header, before anything is decoded.
    LoadResult loaded = image.LoadHeader(&contents);
    if (loaded.Accepted && TooManyPixels(image.Width, image.Height))
        throw Error(fileName + " is too large to convert",
                    TooManyPixelsReason("the image is", image.Width, image.Height));
    // An image with no pixels is still an image, and converts to an empty bitmap.
    if (loaded.Accepted) loaded = image.LoadFromStream(&contents);
    if (!loaded.Accepted) throw Error(fileName + " is not a valid image file", loaded.Reason);
    const std::string picture = fileName + PictureSuffix(format);
    // Pixels missing from a cut-short file are background, as the game reads them; said all the
    // same, or a damaged image would pass for a good one.
    return {{picture, EncodePicture(image.MakeBitmap(), picture, format),
             image.CutShortNote(loaded.Count)}};
}

std::vector<MadeFile> SpriteFiles(const std::string& fileName, Stream& contents,
                                  PictureFormat format) {
    TSprFile sprite;
    // A well-formed sprite without frames is refused by the export ("Sprite has no frames").
    const LoadResult loaded = sprite.LoadFromStream(&contents);
    if (!loaded.Accepted) throw Error(fileName + " is not a valid sprite file", loaded.Reason);
    const std::string picture = fileName + PictureSuffix(format);
    std::vector<uint8_t> strip = EncodePicture(sprite.MakeStrip(fileName), picture, format);
    return {{picture, std::move(strip), {}},
            {fileName + ".spd", TextLinesBytes(sprite.SpdLines()), {}}};
}

void WriteMadeFiles(const std::vector<MadeFile>& files) {
    for (const MadeFile& file : files)
        WriteFileReplacing(file.Path, file.Bytes);
}

// Copies the age of `source`, read through an open handle, to each of `targets`.
void StampWithAgeOf(const std::string& source, const std::vector<std::string>& targets) {
    int32_t age;
    {
        FileStream file(source, FileStream::Mode::OpenRead);
        age = FileGetDate(file);
    }
    for (const std::string& target : targets)
        SetFileAge(target, age);
}

// The game file rebuilt from `pictureName` in memory; `warning` receives what the user is told
// about it.
std::vector<uint8_t> MakeGameFile(const std::string& baseName, const std::string& pictureName,
                                  bool sprite, const ConvertOptions& options,
                                  std::string& warning) {
    Picture picture = LoadPictureFile(pictureName);
    const uint64_t coloured = ColouredBackgroundPixels(picture);
    const RGB background = picture.Image.Palette()[0];
    std::vector<uint8_t> bytes;
    if (sprite) {
        TSprFile strip;
        strip.ImportStrip(std::move(picture.Image), pictureName, baseName + ".spd");
        bytes = strip.SaveToBytes(options.CompressSpr);
        if (bytes.size() >= UncompressedSpriteLimit && !options.CompressSpr)
            bytes = strip.SaveToBytes(true);
    } else {
        TImgFile image;
        image.ImportBitmap(std::move(picture.Image), options.OpaqueImg);
        bytes = image.SaveToBytes(options.CompressImg);
    }
    // Index 0 is the background whatever colour the picture gives it; an editor that put a
    // colour of the drawing there has lost it, which only a word to the user can tell.
    if (coloured > 0)
        warning = Format(
            "%s: %llu pixel(s) of palette index 0 have the colour (%u, %u, %u) but were taken as "
            "background, as index 0 always is; give that colour another palette index to keep it",
            pictureName.c_str(), static_cast<unsigned long long>(coloured), background.r,
            background.g, background.b);
    return bytes;
}

} // namespace

void ConvertImgFile(const std::string& fileName, PictureFormat format) {
    FileStream file(fileName, FileStream::Mode::OpenRead);
    WriteMadeFiles(ImageFiles(fileName, file, format));
}

void ConvertSprFile(const std::string& fileName, PictureFormat format) {
    FileStream file(fileName, FileStream::Mode::OpenRead);
    WriteMadeFiles(SpriteFiles(fileName, file, format));
}

std::string EditedPicture(const std::string& baseName) {
    const std::string bmp = baseName + ".bmp";
    const std::string png = baseName + ".png";
    // A user may export a .bmp and save the edit as a .png beside it: the later one is the edit.
    const int64_t bmpTime = FileModifiedNanoseconds(bmp);
    const int64_t pngTime = FileModifiedNanoseconds(png);
    return pngTime > bmpTime ? png : bmp;
}

// The folder a rebuilt game file is written below, and its path there: below `userFolder`
// (the folder the user named, of which `baseName` is a path) no link is followed; without
// one, the folder of `baseName` is the user's.
static std::pair<std::string, std::string>
GameFilePlace(const std::string& baseName, const std::optional<std::string>& userFolder) {
    const std::string path = NativePath(baseName);
    std::string root =
        userFolder ? NativePath(*userFolder) : path.substr(0, path.find_last_of('/') + 1);
    return {root, path.substr(root.size())};
}

static void WriteGameFile(const std::string& baseName, const std::optional<std::string>& userFolder,
                          const std::vector<uint8_t>& bytes, int64_t modifiedSeconds = -1) {
    const auto [root, relative] = GameFilePlace(baseName, userFolder);
    WriteFileBelow(root, relative, bytes, modifiedSeconds);
}

void ConvertPictureFile(const std::string& baseName, const std::string& pictureName, bool sprite,
                        const ConvertOptions& options) {
    std::string warning;
    WriteGameFile(baseName, std::nullopt,
                  MakeGameFile(baseName, pictureName, sprite, options, warning));
    if (!warning.empty() && options.Warn) options.Warn(warning);
}

void ConvertSpdFile(const std::string& baseName, const ConvertOptions& options) {
    ConvertPictureFile(baseName, EditedPicture(baseName), true, options);
}

void ConvertBmpFile(const std::string& baseName, const ConvertOptions& options) {
    // X.SPR.bmp is a sprite strip: never write an image into a sprite's file.
    ConvertPictureFile(baseName, baseName + ".bmp", FileKind(baseName) == ".SPR", options);
}

std::vector<MadeFile> MakeConvertedFiles(const std::string& fileName, Stream& contents,
                                         PictureFormat format) {
    const std::string kind = FileKind(fileName);
    if (kind == ".IMG") return ImageFiles(fileName, contents, format);
    if (kind == ".SPR") return SpriteFiles(fileName, contents, format);
    return {};
}

std::vector<MadeFile> MakeConvertedFiles(const std::string& fileName, PictureFormat format) {
    const std::string kind = FileKind(fileName);
    if (kind != ".IMG" && kind != ".SPR") return {};
    FileStream file(fileName, FileStream::Mode::OpenRead);
    return MakeConvertedFiles(fileName, file, format);
}

std::string WriteConvertedFiles(const std::string& fileName, const std::vector<MadeFile>& files) {
    if (files.empty()) return fileName;
    WriteMadeFiles(files);
    std::vector<std::string> written;
    for (const MadeFile& file : files)
        written.push_back(file.Path);
    StampWithAgeOf(fileName, written);
    return files.front().Path;
}

std::string ConvertFile(const std::string& fileName, PictureFormat format) {
    return WriteConvertedFiles(fileName, MakeConvertedFiles(fileName, format));
}

std::string BackConversionTarget(const std::string& fileName) {
    const std::string kind = FileKind(fileName);
    const std::string base =
        fileName.size() >= 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    const std::string baseKind = FileKind(base);
    const bool gameFile = baseKind == ".IMG" || baseKind == ".SPR";
    return kind == ".BMP" || kind == ".SPD" || (kind == ".PNG" && gameFile) ? base : std::string();
}

std::vector<bool> BackConversionsThatWait(const std::vector<std::string>& gameFiles) {
    using Paths = std::vector<std::string>;
    return ReadsEarlierWrites(
        gameFiles.size(),
        [&](size_t i) {
            const std::string& x = gameFiles[i];
            return x.empty() ? Paths{} : Paths{x, x + ".bmp", x + ".png", x + ".spd"};
        },
        [&](size_t i) {
            const std::string& x = gameFiles[i];
            return x.empty() ? Paths{} : Paths{x, x + ".spd"};
        });
}

BackConversion PrepareConvertBack(const std::string& fileName, bool recreate,
                                  const ConvertOptions& options,
                                  const std::optional<std::string>& userFolder) {
    BackConversion back;
    const std::string kind = FileKind(fileName);
    const std::string base = BackConversionTarget(fileName);
    if (base.empty()) {
        back.ResultName = fileName;
        return back;
    }
    // The picture that stands for the group, and whether the group is a sprite's (whose
    // description counts too). The suffixes are looked up in lower case, as they are written.
    back.Sprite = kind == ".SPD" || FileKind(base) == ".SPR";
    back.Picture = kind == ".SPD" ? EditedPicture(base) : base + (kind == ".BMP" ? ".bmp" : ".png");

    // Two ages that differ: without reading them, everything is rebuilt.
    int32_t sourceAge = 1;
    int32_t targetAge = 0;
    if (!recreate) {
        targetAge = FileAge(base);
        sourceAge = FileAge(back.Picture);
        if (back.Sprite && sourceAge == targetAge) sourceAge = FileAge(base + ".spd");
    }
    back.ResultName = base;
    if (sourceAge == targetAge) return back;
    back.Rebuilt = true;
    back.GameFile = MakeGameFile(base, back.Picture, back.Sprite, options, back.Warning);
    {
        FileStream source(back.Picture, FileStream::Mode::OpenRead);
        back.Age = FileGetDate(source);
    }
    // The game file takes the picture's time as it is written; the edited files are only read.
    const auto [root, relative] = GameFilePlace(base, userFolder);
    back.Written = PrepareFileBelow(root, relative, back.GameFile, FileDateToUnix(back.Age));
    if (back.Written) back.GameFile = {};
    return back;
}

bool FinishConvertBack(const BackConversion& back, const ConvertOptions& options,
                       std::string& resultName, const std::optional<std::string>& userFolder) {
    resultName = back.ResultName;
    if (!back.Rebuilt) return false;
    if (back.Written)
        back.Written->Commit();
    else
        WriteGameFile(back.ResultName, userFolder, back.GameFile, FileDateToUnix(back.Age));
    if (!back.Warning.empty() && options.Warn) options.Warn(back.Warning);
    // The description's time is set without opening it or following a link.
    if (back.Sprite) SetFileAge(back.ResultName + ".spd", back.Age);
    return true;
}

bool ConvertBack(const std::string& fileName, bool recreate, const ConvertOptions& options,
                 std::string& resultName, const std::optional<std::string>& userFolder) {
    return FinishConvertBack(PrepareConvertBack(fileName, recreate, options, userFolder), options,
                             resultName, userFolder);
}

} // namespace pelfry
