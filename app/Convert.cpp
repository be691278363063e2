#include "app/Convert.h"

#include "image/ImgFileU.h"
#include "platform/Errors.h"
#include "platform/FileTime.h"
#include "platform/Stream.h"
#include "platform/Text.h"
#include "sprite/SprFileU.h"

namespace pelfry {

// An uncompressed sprite file this large or larger is always stored compressed.
static constexpr int32_t UncompressedSpriteLimit = 131072;

void ConvertImgFile(const std::string& fileName) {
    TImgFile image;
    if (image.LoadFromFile(fileName) == 0 && image.Palette.empty()) {
        // The object is untouched when the magic is wrong; an image with no pixels still
        // fills its palette and converts to an empty bitmap.
        throw Error(fileName + " is not a valid image file");
    }
    image.ExportBitmap(fileName);
}

void ConvertSprFile(const std::string& fileName) {
    TSprFile sprite;
    // A refused header stops the load before the palette is read; a well-formed sprite
    // without frames has its palette and is refused by the export ("Sprite has no frames").
    if (sprite.LoadFromFile(fileName) == 0 && sprite.Palette.empty())
        throw Error(fileName + " is not a valid sprite file");
    sprite.ExportStrip(fileName);
}

void ConvertSpdFile(const std::string& baseName, const ConvertOptions& options) {
    TSprFile sprite;
    sprite.ImportStrip(baseName);
    int32_t written = sprite.SaveToFile(baseName, options.CompressSpr);
    if (written >= UncompressedSpriteLimit && !options.CompressSpr) sprite.SaveToFile(baseName, true);
}

void ConvertBmpFile(const std::string& baseName, const ConvertOptions& options) {
    // X.SPR.bmp is a sprite strip: never write an image into a sprite's file.
    if (FileKind(baseName) == ".SPR") {
        ConvertSpdFile(baseName, options);
        return;
    }
    TImgFile image;
    image.ImportBitmap(baseName, options.OpaqueImg);
    image.SaveToFile(baseName, options.CompressImg);
}

std::string ConvertFile(const std::string& fileName) {
    const std::string kind = FileKind(fileName);
    std::string result = fileName;
    if (kind == ".IMG") {
        ConvertImgFile(fileName);
        result = fileName + ".bmp";
    } else if (kind == ".SPR") {
        ConvertSprFile(fileName);
        result = fileName + ".bmp";
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
                 std::string& resultName) {
    std::string kind = FileKind(fileName);
    const std::string base = fileName.size() >= 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    // A sprite's bitmap stands for its whole group, as its description does.
    if (kind == ".BMP" && FileKind(base) == ".SPR") kind = ".SPD";

    // Two ages that differ: without reading them, everything is rebuilt.
    int32_t sourceAge = 1;
    int32_t targetAge = 0;
    std::string result = fileName;
    if (kind == ".BMP") {
        if (!recreate) {
            targetAge = FileAge(base);
            sourceAge = FileAge(base + ".bmp");
        }
        if (sourceAge != targetAge) ConvertBmpFile(base, options);
        result = base;
    } else if (kind == ".SPD") {
        if (!recreate) {
            targetAge = FileAge(base);
            sourceAge = FileAge(base + ".bmp");
            if (sourceAge == targetAge) sourceAge = FileAge(base + ".spd");
        }
        if (sourceAge != targetAge) ConvertSpdFile(base, options);
        result = base;
    }

    bool converted = false;
    if (result != fileName && sourceAge != targetAge) {
        int32_t age;
        {
            FileStream bitmap(base + ".bmp", FileStream::Mode::OpenRead);
            age = FileGetDate(bitmap);
        }
        SetFileAge(base, age);
        if (kind == ".SPD") SetFileAge(base + ".spd", age);
        converted = true;
    }
    resultName = result;
    return converted;
}

} // namespace pelfry
