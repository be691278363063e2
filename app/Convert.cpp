#include "app/Convert.h"

#include "image/ImgFileU.h"
#include "platform/Errors.h"
#include "platform/FileTime.h"
#include "platform/FileUtil.h"
#include "platform/Stream.h"
#include "platform/Text.h"
#include "sprite/SprFileU.h"

namespace pelfry {

// An uncompressed sprite file this large or larger is always stored compressed.
static constexpr size_t UncompressedSpriteLimit = 131072;

void ConvertImgFile(const std::string& fileName, PictureFormat format) {
    TImgFile image;
    // An image with no pixels is still an image, and converts to an empty bitmap.
    if (!image.LoadFromFile(fileName).Accepted)
        throw Error(fileName + " is not a valid image file");
    image.ExportBitmap(fileName, format);
}

void ConvertSprFile(const std::string& fileName, PictureFormat format) {
    TSprFile sprite;
    // A well-formed sprite without frames is refused by the export ("Sprite has no frames").
    if (!sprite.LoadFromFile(fileName).Accepted)
        throw Error(fileName + " is not a valid sprite file");
    sprite.ExportStrip(fileName, format);
}

std::string EditedPicture(const std::string& baseName) {
    const std::string bmp = baseName + ".bmp";
    const std::string png = baseName + ".png";
    // A user may export a .bmp and save the edit as a .png beside it: the later one is the edit.
    const int64_t bmpTime = FileModifiedNanoseconds(bmp);
    const int64_t pngTime = FileModifiedNanoseconds(png);
    return pngTime > bmpTime ? png : bmp;
}

// The bytes of the game file `baseName` rebuilt from the picture `pictureName`: a sprite (with
// baseName.spd) when `sprite`, else an image.
static std::vector<uint8_t> RebuiltGameFile(const std::string& baseName,
                                            const std::string& pictureName, bool sprite,
                                            const ConvertOptions& options) {
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
    if (coloured > 0 && options.Warn)
        options.Warn(Format(
            "%s: %llu pixel(s) of palette index 0 have the colour (%u, %u, %u) but were taken as "
            "background, as index 0 always is; give that colour another palette index to keep it",
            pictureName.c_str(), static_cast<unsigned long long>(coloured), background.r,
            background.g, background.b));
    return bytes;
}

// Writes a rebuilt game file: below `userFolder` (the folder the user named, of which
// `baseName` is a path) no link is followed; without one, the folder of `baseName` is the
// user's.
static void WriteGameFile(const std::string& baseName, const std::optional<std::string>& userFolder,
                          const std::vector<uint8_t>& bytes, int64_t modifiedSeconds = -1) {
    const std::string path = NativePath(baseName);
    const std::string root =
        userFolder ? NativePath(*userFolder) : path.substr(0, path.find_last_of('/') + 1);
    WriteFileBelow(root, std::string_view(path).substr(root.size()), bytes, modifiedSeconds);
}

void ConvertPictureFile(const std::string& baseName, const std::string& pictureName, bool sprite,
                        const ConvertOptions& options) {
    WriteGameFile(baseName, std::nullopt, RebuiltGameFile(baseName, pictureName, sprite, options));
}

void ConvertSpdFile(const std::string& baseName, const ConvertOptions& options) {
    ConvertPictureFile(baseName, EditedPicture(baseName), true, options);
}

void ConvertBmpFile(const std::string& baseName, const ConvertOptions& options) {
    // X.SPR.bmp is a sprite strip: never write an image into a sprite's file.
    ConvertPictureFile(baseName, baseName + ".bmp", FileKind(baseName) == ".SPR", options);
}

std::string ConvertFile(const std::string& fileName, PictureFormat format) {
    const std::string kind = FileKind(fileName);
    std::string result = fileName;
    if (kind == ".IMG") {
        ConvertImgFile(fileName, format);
        result = fileName + PictureSuffix(format);
    } else if (kind == ".SPR") {
        ConvertSprFile(fileName, format);
        result = fileName + PictureSuffix(format);
    }
    if (result != fileName) {
        int32_t age;
        {
            FileStream source(fileName, FileStream::Mode::OpenRead);
            age = FileGetDate(source);
        }
        SetFileAge(result, age);
        if (kind == ".SPR") SetFileAge(fileName + ".spd", age);
    }
    return result;
}

bool ConvertBack(const std::string& fileName, bool recreate, const ConvertOptions& options,
                 std::string& resultName, const std::optional<std::string>& userFolder) {
    const std::string kind = FileKind(fileName);
    const std::string base =
        fileName.size() >= 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    const std::string baseKind = FileKind(base);
    // The picture that stands for the group, and whether the group is a sprite's (whose
    // description counts too). The suffixes are looked up in lower case, as they are written.
    std::string picture;
    bool sprite = false;
    if (kind == ".BMP") {
        picture = base + ".bmp";
        sprite = baseKind == ".SPR";
    } else if (kind == ".PNG" && (baseKind == ".IMG" || baseKind == ".SPR")) {
        picture = base + ".png";
        sprite = baseKind == ".SPR";
    } else if (kind == ".SPD") {
        picture = EditedPicture(base);
        sprite = true;
    } else {
        resultName = fileName;
        return false;
    }

    // Two ages that differ: without reading them, everything is rebuilt.
    int32_t sourceAge = 1;
    int32_t targetAge = 0;
    if (!recreate) {
        targetAge = FileAge(base);
        sourceAge = FileAge(picture);
        if (sprite && sourceAge == targetAge) sourceAge = FileAge(base + ".spd");
    }
    resultName = base;
    if (sourceAge == targetAge) return false;

    int32_t age;
    {
        FileStream source(picture, FileStream::Mode::OpenRead);
        age = FileGetDate(source);
    }
    // The game file takes the picture's time as it is written; the edited files are only read
    // (the description's time is set without opening it or following a link).
    WriteGameFile(base, userFolder, RebuiltGameFile(base, picture, sprite, options),
                  FileDateToUnix(age));
    if (sprite) SetFileAge(base + ".spd", age);
    return true;
}

} // namespace pelfry
