#include "app/Convert.h"

#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Stream.h"
#include "base/Text.h"
#include "image/ImgFileU.h"
#include "picture/Gif.h"
#include "platform/FileStream.h"
#include "platform/FileTime.h"
#include "platform/FileUtil.h"
#include "platform/ReplacingFile.h"
#include "sprite/SprFileU.h"

namespace pelfry {

// An uncompressed sprite file this large or larger is always stored compressed.
static constexpr size_t UncompressedSpriteLimit = 131072;

TImgFile ReadImageFile(const std::string& fileName, Stream& contents, int32_t* read) {
    TImgFile image;
    // The picture's size is known from the header, before anything is decoded.
    LoadResult loaded = image.LoadHeader(&contents);
    if (loaded.Accepted && TooManyPixels(image.Width, image.Height))
        throw Error(fileName + " is too large to convert",
                    TooManyPixelsReason("the image is", image.Width, image.Height));
    if (loaded.Accepted) loaded = image.LoadFromStream(&contents);
    if (!loaded.Accepted) throw Error(fileName + " is not a valid image file", loaded.Reason);
    if (read) *read = loaded.Count;
    return image;
}

TSprFile ReadSpriteFile(const std::string& fileName, Stream& contents) {
    TSprFile sprite;
    const LoadResult loaded = sprite.LoadFromStream(&contents);
    if (!loaded.Accepted) throw Error(fileName + " is not a valid sprite file", loaded.Reason);
    return sprite;
}

namespace {

std::vector<MadeFile> ImageFiles(const std::string& fileName, Stream& contents,
                                 PictureFormat format) {
    int32_t read = 0;
    const TImgFile image = ReadImageFile(fileName, contents, &read);
    const std::string picture = fileName + PictureSuffix(format);
    // Pixels missing from a cut-short file are background, as the game reads them; said all the
    // same, or a damaged image would pass for a good one.
    return {
        {picture, EncodePicture(image.MakeBitmap(), picture, format), image.CutShortNote(read)}};
}

std::vector<MadeFile> SpriteFiles(const std::string& fileName, Stream& contents,
                                  PictureFormat format) {
    const TSprFile sprite = ReadSpriteFile(fileName, contents);
    const std::string picture = fileName + PictureSuffix(format);
    std::vector<uint8_t> strip = EncodePicture(sprite.MakeStrip(fileName), picture, format);
    return {{picture, std::move(strip), {}},
            {fileName + ".spd", TextLinesBytes(sprite.SpdLines()), {}}};
}

void WriteMadeFiles(const std::vector<MadeFile>& files) {
    for (const MadeFile& file : files)
        WriteFileReplacing(file.Path, file.Bytes);
}

} // namespace

std::vector<uint8_t> RebuildGameFile(const std::string& baseName, const std::string& pictureName,
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

// Writes the game file; returns the folder it went into.
static std::unique_ptr<Folder> WriteGameFile(const std::string& baseName,
                                             const std::optional<std::string>& userFolder,
                                             const std::vector<uint8_t>& bytes,
                                             int64_t modifiedNs = -1) {
    const auto [root, relative] = GameFilePlace(baseName, userFolder);
    return WriteFileBelow(root, relative, bytes, modifiedNs);
}

// The last part of a path: the name of a file in the folder it was written into.
static std::string NameInFolder(const std::string& path) {
    const std::string native = NativePath(path);
    return native.substr(native.find_last_of('/') + 1);
}

void ConvertPictureFile(const std::string& baseName, const std::string& pictureName, bool sprite,
                        const ConvertOptions& options) {
    std::string warning;
    WriteGameFile(baseName, std::nullopt,
                  RebuildGameFile(baseName, pictureName, sprite, options, warning));
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

std::vector<uint8_t> MakeGif(const std::string& fileName, Stream& contents) {
    const std::string kind = FileKind(fileName);
    if (kind == ".SPR") return ReadSpriteFile(fileName, contents).MakeGif(fileName);
    if (kind != ".IMG") return {};
    const TImgFile image = ReadImageFile(fileName, contents);
    if (image.Width == 0 || image.Height == 0) NoGifPixels(fileName);
    return EncodeGif(image.MakeBitmap());
}

std::vector<MadeFile> MakeGifFiles(const std::string& fileName) {
    const std::string kind = FileKind(fileName);
    if (kind != ".IMG" && kind != ".SPR") return {};
    FileStream file(fileName, FileStream::Mode::OpenRead);
    return {{fileName + ".gif", MakeGif(fileName, file), {}}};
}

std::string WriteConvertedFiles(const std::string& fileName, const std::vector<MadeFile>& files) {
    if (files.empty()) return fileName;
    int64_t time = -1;
    {
        FileStream game(fileName, FileStream::Mode::OpenRead);
        time = FileModifiedNanoseconds(game);
    }
    const std::string path = NativePath(fileName);
    const Folder folder(path.substr(0, path.find_last_of('/') + 1), fileName);
    return WriteConvertedFiles(folder, files, time);
}

std::string WriteConvertedFiles(const Folder& folder, const std::vector<MadeFile>& files,
                                int64_t time) {
    // Each file gets the time as it is written, never found by its path again.
    for (const MadeFile& file : files)
        WriteFileIn(folder, NameInFolder(file.Path), file.Path, file.Bytes, time);
    return files.empty() ? std::string() : files.front().Path;
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

    // Without reading the times, everything is rebuilt.
    if (!recreate) {
        const int64_t game = FileModifiedNanoseconds(base);
        back.Rebuilt = TimesDiffer(FileModifiedNanoseconds(back.Picture), game) ||
                       (back.Sprite && TimesDiffer(FileModifiedNanoseconds(base + ".spd"), game));
    }
    back.ResultName = base;
    if (!recreate && !back.Rebuilt) return back;
    back.Rebuilt = true;
    back.GameFile = RebuildGameFile(base, back.Picture, back.Sprite, options, back.Warning);
    {
        FileStream source(back.Picture, FileStream::Mode::OpenRead);
        back.Time = GameFileStamp(FileModifiedNanoseconds(source));
    }
    // The game file takes the picture's time as it is written; the edited files are only read.
    const auto [root, relative] = GameFilePlace(base, userFolder);
    back.Written = PrepareFileBelow(root, relative, back.GameFile, back.Time);
    if (back.Written) back.GameFile = {};
    return back;
}

bool FinishConvertBack(const BackConversion& back, const ConvertOptions& options,
                       std::string& resultName, const std::optional<std::string>& userFolder) {
    resultName = back.ResultName;
    if (!back.Rebuilt) return false;
    std::unique_ptr<Folder> written;
    if (back.Written)
        back.Written->Commit();
    else
        written = WriteGameFile(back.ResultName, userFolder, back.GameFile, back.Time);
    if (!back.Warning.empty() && options.Warn) options.Warn(back.Warning);
    // The description's time is set in the folder the game file went into, without opening it
    // or following a link.
    const Folder* place = back.Written ? back.Written->Place() : written.get();
    if (back.Sprite && place)
        place->SetModifiedTime(NameInFolder(back.ResultName) + ".spd", back.Time);
    return true;
}

bool ConvertBack(const std::string& fileName, bool recreate, const ConvertOptions& options,
                 std::string& resultName, const std::optional<std::string>& userFolder) {
    return FinishConvertBack(PrepareConvertBack(fileName, recreate, options, userFolder), options,
                             resultName, userFolder);
}

} // namespace pelfry
