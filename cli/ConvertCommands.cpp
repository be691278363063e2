// The conversion commands: convert, convert-back; and what `info` says about .IMG and .SPR files.
#include "cli/Cli.h"
#include "cli/Messages.h"

#include "app/Batch.h"
#include "app/Convert.h"
#include "app/EntryDetails.h"
#include "app/Thumbnail.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "image/ImgFileU.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"
#include "platform/ReplacingFile.h"
#include "sprite/SprFileU.h"

namespace pelfry::cli {

namespace {

struct ConvertArgs {
    std::vector<std::string> files;
    PictureFormat format = PictureFormat::Bmp;
    bool gif = false;
    bool quiet = false;
    unsigned jobs = 1;
};

void Convert(const ConvertArgs& args) {
    Progress progress(args.files.size(), args.quiet, Progress::Plain::Silent);
    CommandFollower follower(progress,
                             [&](size_t i) { return std::pair(args.files[i], std::string()); });
    auto told = [&](size_t i, const std::string& result) {
        const std::string& file = args.files[i];
        if (result == file)
            progress.Result(file + ": not an image or sprite, left alone");
        else if (FileKind(file) == ".SPR" && !args.gif)
            progress.Result(file + " -> " + result + ", " + file + ".spd");
        else
            progress.Result(file + " -> " + result);
    };
    if (args.gif)
        ConvertFilesToGif(args.files, args.jobs, follower, told);
    else
        ConvertFiles(args.files, args.format, args.jobs, follower, told);
}

struct ThumbnailArgs {
    std::string file;
    std::string output;
    int size = DefaultThumbnailSize;
};

void Thumbnail(const ThumbnailArgs& args) {
    std::vector<uint8_t> png;
    ForFile(args.file, [&] { png = MakeThumbnail(args.file, args.size); });
    // The user named the output: a link there is written through, as a saved archive is.
    ForFile(args.output, [&] { WriteFileReplacing(args.output, png, LinkPolicy::Follow); });
}

struct ConvertBackArgs {
    std::vector<std::string> files;
    ConvertOptions options;
    bool recreate = false;
    bool quiet = false;
    unsigned jobs = 1;
};

void ConvertBackFiles(const ConvertBackArgs& args) {
    Progress progress(args.files.size(), args.quiet, Progress::Plain::Silent);
    CommandFollower follower(progress,
                             [&](size_t i) { return std::pair(args.files[i], std::string()); },
                             {args.recreate, args.options});
    pelfry::ConvertBackFiles(
        args.files, args.jobs, follower, [&](size_t i, const std::string& result, bool converted) {
            const std::string& file = args.files[i];
            if (result == file)
                progress.Result(file +
                                ": not a .bmp, .png or .spd of an image or sprite, left alone");
            else if (converted)
                progress.Result(file + " -> " + result);
            else
                progress.Result(result + ": unchanged (" + file + " not edited)");
        });
}

} // namespace

void DescribeImg(const std::string& path, std::FILE* out, bool quiet) {
    FileStream file(path, FileStream::Mode::OpenRead);
    TImgFile image;
    const LoadResult loaded = image.LoadFromStream(&file);
    if (!loaded.Accepted) throw Error(path + " is not a valid image file", loaded.Reason);
    if (const std::string note = image.CutShortNote(loaded.Count); !note.empty() && !quiet)
        PrintWarning(path + ": " + note);
    WriteLine(out, "Image: " + path);
    WriteLine(out, "Details: " + DescribeEntry(path, file));
    std::fprintf(out, "File size: %lld bytes\n", static_cast<long long>(file.Size()));
    std::fprintf(out, "Size: %u x %u\n", image.Width, image.Height);
    std::fprintf(out, "Colours: %u (background included)\n", image.ColourCount());
    std::fprintf(out, "Pixels: %s (%zu bytes of pixel data)\n",
                 image.Compressed() ? "compressed" : "uncompressed",
                 image.Compressed() ? image.Packed().size() : image.Pixels.size());
}

void DescribeSpr(const std::string& path, std::FILE* out, bool) {
    FileStream file(path, FileStream::Mode::OpenRead);
    TSprFile sprite;
    const LoadResult loaded = sprite.LoadFromStream(&file);
    if (!loaded.Accepted) throw Error(path + " is not a valid sprite file", loaded.Reason);
    WriteLine(out, "Sprite: " + path);
    WriteLine(out, "Details: " + DescribeEntry(path, file));
    std::fprintf(out, "File size: %u bytes\n", sprite.FileSize);
    std::fprintf(out, "Size: %u x %u\n", sprite.Width, sprite.Height);
    std::fprintf(out, "Frames: %u\n", sprite.FrameCount());
    std::fprintf(out, "Frame rate: %u per second\n", sprite.FrameRate);
    std::fprintf(out, "Flags: 0x%04X%s\n", sprite.Flags, (sprite.Flags & 2) ? " (ping-pong)" : "");
    std::fprintf(out, "Colours: %u (background included)\n", sprite.ColourCount());
    if (sprite.SlotCount() == 0) {
        std::fprintf(out, "Slots: none (uncompressed)\n");
    } else {
        std::fprintf(out, "Slots: %u (compressed)\n", sprite.SlotCount());
        for (size_t i = 0; i < sprite.Slots.size(); ++i)
            std::fprintf(out, "  slot %zu: %u bytes packed, %u unpacked\n", i,
                         sprite.Slots[i].PackedSize(), sprite.Slots[i].UnpackedSize());
    }
}

void AddConvertCommand(CommandLine& cli) {
    auto args = std::make_shared<ConvertArgs>();
    CLI::App& command = cli.AddCommand(
        "convert", "images and sprites to pictures: X.IMG -> X.IMG.bmp, and so on",
        "Converts each image X.IMG to X.IMG.bmp and each sprite X.SPR to the strip X.SPR.bmp "
        "with its description X.SPR.spd, stamped with the game file's time. Other files are left "
        "alone. Prints one line per file. A picture of more than 67,108,864 pixels (an image, or "
        "the strip of a sprite's frames) is refused; the pixels a cut-short image lacks are "
        "background, with a warning.\n"
        "With --gif, X.SPR.gif is the sprite's animation as the editor's preview plays it: the "
        "frames in order (forwards and back again for a ping-pong sprite), looping for ever, "
        "each shown for 1000/rate ms rounded to hundredths of a second, the background "
        "transparent. Browsers play delays below 20 ms slowly, so a GIF shows no frame for less: "
        "a sprite of more than 50 frames a second plays at 50, and one above 1000, which the "
        "preview shows still on its first frame, is a still GIF of that frame. X.IMG.gif is the "
        "image.",
        [args] { Convert(*args); });
    command.add_option("FILE", args->files, "images (.IMG) and sprites (.SPR)")->required();
    CLI::Option* png = AddPictureFormatOption(command, args->format);
    command
        .add_flag("--gif", args->gif,
                  "write a GIF instead (X.SPR.gif, the animation; X.IMG.gif), without .spd")
        ->excludes(png);
    AddJobsOption(command, args->jobs);
    AddQuietOption(command, args->quiet);
}

void AddConvertBackCommand(CommandLine& cli) {
    auto args = std::make_shared<ConvertBackArgs>();
    CLI::App& command = cli.AddCommand(
        "convert-back", "edited pictures back to images and sprites: X.IMG.bmp -> X.IMG",
        "Rebuilds X.IMG from X.IMG.bmp or X.IMG.png, and X.SPR from X.SPR.spd with X.SPR.bmp or "
        "X.SPR.png, when an edited file's age differs from the game file's (always with "
        "--recreate-all), stamping the result. A .spd takes the later of X.SPR.bmp and X.SPR.png. "
        "By default images and sprites are compressed and images opaque, as the editor's check "
        "boxes start. Prints one line per file. GIFs (convert --gif) are not read back: they "
        "are for showing; edit the .bmp or .png.",
        [args] { ConvertBackFiles(*args); });
    command.add_option("FILE", args->files, "edited pictures (.bmp, .png) and descriptions (.spd)")
        ->required();
    AddConvertOptions(command, args->options, args->recreate);
    AddJobsOption(command, args->jobs);
    AddQuietOption(command, args->quiet);
}

void AddThumbnailCommand(CommandLine& cli) {
    auto args = std::make_shared<ThumbnailArgs>();
    CLI::App& command = cli.AddCommand(
        "thumbnail", "a PNG thumbnail of an image, sprite or archive",
        "Writes OUTPUT, a PNG picture of FILE no larger than SIZE pixels either way, its shape "
        "kept and never enlarged, scaled down by averaging, the background transparent: an "
        "image whole, a sprite's first frame, or an archive's first image or sprite in entry "
        "order (reading only the directory and that entry). FILE is told by its first bytes, "
        "else by its name. Anything else is an error, and no OUTPUT is written. File managers "
        "run it as the installed thumbnailer.",
        [args] { Thumbnail(*args); });
    command.add_option("FILE", args->file, "an image (.IMG), sprite (.SPR) or archive (.DIR)")
        ->required();
    command.add_option("OUTPUT", args->output, "the PNG file to write")
        ->required()
        ->check(NotEmpty());
    command
        .add_option("-s,--size", args->size,
                    "the longer side at most SIZE pixels (default: " +
                        std::to_string(DefaultThumbnailSize) + ")")
        ->type_name("SIZE")
        ->check(CLI::Range(1, 65535).description(""));
}

} // namespace pelfry::cli
