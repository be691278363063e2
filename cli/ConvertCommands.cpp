// The conversion commands: convert, convert-back; and what `info` says about .IMG and .SPR files.
#include "cli/Cli.h"

#include "app/Convert.h"
#include "app/EntryDetails.h"
#include "image/ImgFileU.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/Stream.h"
#include "platform/Text.h"
#include "sprite/SprFileU.h"

namespace pelfry::cli {

Args ParseConvertOptions(const Args& args, ConvertOptions& options, bool& recreate) {
    Args rest;
    for (const std::string& arg : args) {
        if (arg == "--no-compress-img") options.CompressImg = false;
        else if (arg == "--no-compress-spr") options.CompressSpr = false;
        else if (arg == "--no-opaque") options.OpaqueImg = false;
        else if (arg == "--recreate-all") recreate = true;
        else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) throw UsageError("unknown option " + arg);
        else rest.push_back(arg);
    }
    options.Warn = [](const std::string& text) { WriteLine(stderr, "Warning: " + text); };
    return rest;
}

Args ParsePictureFormat(const Args& args, PictureFormat& format) {
    Args rest;
    format = PictureFormat::Bmp;
    for (const std::string& arg : args) {
        if (arg == "--png") format = PictureFormat::Png;
        else rest.push_back(arg);
    }
    return rest;
}

namespace {

void Convert(const Args& args) {
    PictureFormat format;
    const Args files = ParsePictureFormat(args, format);
    if (files.empty()) throw UsageError("convert needs at least one FILE");
    for (const std::string& file : files) {
        // A file of no convertible kind is left alone, but one that is not there is an error,
        // not "left alone".
        if (!FileExists(file)) throw FileOpenError(file);
        const std::string result = ConvertFile(file, format);
        if (result == file) {
            WriteLine(stdout, file + ": not an image or sprite, left alone");
        } else if (FileKind(file) == ".SPR") {
            WriteLine(stdout, file + " -> " + result + ", " + file + ".spd");
        } else {
            WriteLine(stdout, file + " -> " + result);
        }
    }
}

void ConvertBackFiles(const Args& args) {
    ConvertOptions options;
    bool recreate = false;
    const Args files = ParseConvertOptions(args, options, recreate);
    if (files.empty()) throw UsageError("convert-back needs at least one FILE");
    for (const std::string& file : files) {
        // The dispatch only compares ages, which a missing file has too (-1); here a file
        // that is not there is an error rather than "unchanged".
        if (!FileExists(file)) throw FileOpenError(file);
        std::string result;
        const bool converted = ConvertBack(file, recreate, options, result);
        if (result == file) WriteLine(stdout, file + ": not a .bmp, .png or .spd of an image or sprite, left alone");
        else if (converted) WriteLine(stdout, file + " -> " + result);
        else WriteLine(stdout, result + ": unchanged (" + file + " not edited)");
    }
}

void DescribeImg(const std::string& path, std::FILE* out) {
    TImgFile image;
    const int32_t pixels = image.LoadFromFile(path);
    if (pixels == 0 && image.Palette.empty()) throw Error(path + " is not a valid image file");
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    WriteLine(out, "Image: " + path);
    FileStream file(path, FileStream::Mode::OpenRead);
    WriteLine(out, "Details: " + DescribeEntry(path, file));
    std::fprintf(out, "File size: %zu bytes\n", bytes.size());
    std::fprintf(out, "Size: %u x %u\n", image.Width, image.Height);
    std::fprintf(out, "Colours: %u (background included)\n", image.ColourCount);
    std::fprintf(out, "Pixels: %s (%zu bytes of pixel data)\n",
                 image.Packed.empty() ? "uncompressed" : "compressed",
                 image.Packed.empty() ? image.Pixels.size() : image.Packed.size());
}

void DescribeSpr(const std::string& path, std::FILE* out) {
    TSprFile sprite;
    const int32_t frames = sprite.LoadFromFile(path);
    if (frames == 0 && sprite.Palette.empty()) throw Error(path + " is not a valid sprite file");
    WriteLine(out, "Sprite: " + path);
    FileStream file(path, FileStream::Mode::OpenRead);
    WriteLine(out, "Details: " + DescribeEntry(path, file));
    std::fprintf(out, "File size: %u bytes\n", sprite.FileSize);
    std::fprintf(out, "Size: %u x %u\n", sprite.Width, sprite.Height);
    std::fprintf(out, "Frames: %u\n", sprite.FrameCount);
    std::fprintf(out, "Frame rate: %u per second\n", sprite.FrameRate);
    std::fprintf(out, "Flags: 0x%04X%s\n", sprite.Flags, (sprite.Flags & 2) ? " (ping-pong)" : "");
    std::fprintf(out, "Colours: %u (background included)\n", sprite.ColourCount);
    if (sprite.SlotCount == 0) {
        std::fprintf(out, "Slots: none (uncompressed)\n");
    } else {
        std::fprintf(out, "Slots: %u (compressed)\n", sprite.SlotCount);
        for (size_t i = 0; i < sprite.Slots.size(); ++i)
            std::fprintf(out, "  slot %zu: %u bytes packed, %u unpacked\n", i,
                         sprite.Slots[i].PackedSize, sprite.Slots[i].UnpackedSize);
    }
}

} // namespace

void RegisterConvertCommands(CliRegistry& registry) {
    registry.AddCommand({"convert", "[--png] FILE...",
                         "X.IMG -> X.IMG.bmp; X.SPR -> X.SPR.bmp + X.SPR.spd, stamped\n"
                         "with the game file's time; other files are left alone;\n"
                         "--png writes X.IMG.png and X.SPR.png instead of .bmp",
                         60, 1, SIZE_MAX, Convert});
    registry.AddCommand({"convert-back", "[OPTIONS] FILE...",
                         "X.IMG.bmp or .png -> X.IMG; X.SPR.spd, .bmp or .png -> X.SPR,\n"
                         "when an edited file's age differs from the game file's\n"
                         "(always with --recreate-all), stamping the result; a .spd\n"
                         "takes the later of X.SPR.bmp and X.SPR.png\n"
                         "OPTIONS: --no-compress-img --no-opaque --no-compress-spr\n"
                         "--recreate-all (the editor's check boxes; by default images\n"
                         "and sprites are compressed and images opaque)",
                         70, 1, SIZE_MAX, ConvertBackFiles});
    registry.AddInfo(".IMG", DescribeImg);
    registry.AddInfo(".SPR", DescribeSpr);
}

} // namespace pelfry::cli
