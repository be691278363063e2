// Makes the inputs of bench_cli.py, the same on every run: archives, the folders their entries
// come from (for tar to extract the same files), exported folders with their logs.
//
//   bench_cli_inputs extract FOLDER       FOLDER/extract.DIR: 2,000 entries of 1 to 60 KB;
//                                         FOLDER/extract/ the same files
//   bench_cli_inputs mixed FOLDER         FOLDER/mixed.DIR: 1,000 images, 1,000 sprites and
//                                         3,000 other entries (about 9 MB); FOLDER/mixed/ the same
//   bench_cli_inputs log FOLDER COUNT     FOLDER/L.DIR.txt naming COUNT small files beside it
//   bench_cli_inputs large FOLDER MIB     FOLDER/large.DIR: MIB entries of 1 MiB; FOLDER/new.bin
//   bench_cli_inputs thumbnail FOLDER MIB FOLDER/thumbnail.DIR: MIB entries of 1 MiB, then the
//                                         first picture, an image of 640 x 480
//   bench_cli_inputs huge FOLDER MIB      FOLDER/huge.DIR: MIB MiB of entries of 64 KiB to 2 MiB,
//                                         one in eight an image and one a sprite
//   bench_cli_inputs pictures FOLDER N    an exported folder: N images of 640 x 480 and N / 10
//                                         sprites, each with its .bmp (and .spd), and P.DIR.txt
#include "CodecInputs.h"

#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "image/ImgFileU.h"
#include "picture/Bitmap.h"
#include "platform/FileUtil.h"
#include "sprite/SprFileU.h"

#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace pelfry;
using Bytes = std::vector<uint8_t>;

struct Entry {
    std::string name;
    Bytes data;
};

// Inputs are written plainly, without the replacing writer's flush per file: tens of
// thousands of them would otherwise take minutes to make.
void Save(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0)
        throw std::runtime_error("cannot write " + path);
}

// A picture of MixedPicture's pixels (up to 120 colours) with a palette of as many colours.
Bitmap MakePicture(int width, int height, uint32_t seed) {
    Bitmap bitmap(width, height);
    bitmap.Pixels() = inputs::MixedPicture(bitmap.Pixels().size(), width, seed);
    for (int i = 1; i < 256; ++i)
        bitmap.Palette()[i] = RGB{static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i * 91),
                                  static_cast<uint8_t>(i * 13)};
    return bitmap;
}

Bytes ImageFile(int width, int height, uint32_t seed) {
    TImgFile image;
    image.ImportBitmap(MakePicture(width, height, seed), false);
    return image.SaveToBytes(true);
}

// A sprite of `frames` frames of size x size; `spd` is a scratch file for its description.
Bytes SpriteFile(int size, int frames, uint32_t seed, const std::string& spd, Bitmap* strip) {
    Save(spd, TextLinesBytes({Format("frames = %d", frames), Format("height = %d", size),
                              Format("width = %d", size), "framerate = 25", "flags = 1"}));
    Bitmap picture = MakePicture(size, size * frames, seed);
    if (strip) *strip = picture;
    TSprFile sprite;
    sprite.ImportStrip(std::move(picture), spd + ".bmp", spd);
    return sprite.SaveToBytes(true);
}

Bytes Random(size_t size, std::mt19937& random) {
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

// The archive `dir`/`name`.DIR and, unless `loose` is false, its entries as files in `dir`/`name`/.
void WriteArchive(const std::string& dir, const std::string& name, std::vector<Entry>& entries,
                  bool loose = true) {
    TDirFile archive;
    for (Entry& entry : entries) {
        if (loose) Save(dir + name + "/" + entry.name, entry.data);
        archive.AppendEntry(entry.name, entry.data.empty()
                                            ? nullptr
                                            : std::make_shared<const Bytes>(std::move(entry.data)));
    }
    archive.SaveToFile(dir + name + ".DIR");
}

void Extract(const std::string& dir) {
    std::mt19937 random(1);
    std::vector<Entry> entries;
    for (int i = 0; i < 2000; ++i)
        entries.push_back({Format("E%04d.BIN", i), Random(1024 + random() % (59 * 1024), random)});
    ForceDirectories(dir + "extract");
    WriteArchive(dir, "extract", entries);
}

void Mixed(const std::string& dir) {
    std::mt19937 random(2);
    std::vector<Entry> entries;
    for (int i = 0; i < 5000; ++i) {
        if (i % 5 == 0)
            entries.push_back({Format("I%04d.IMG", i), ImageFile(48 + i % 48, 40 + i % 32, i)});
        else if (i % 5 == 1)
            entries.push_back({Format("S%04d.SPR", i),
                               SpriteFile(24 + i % 16, 4, i, dir + "scratch.spd", nullptr)});
        else
            entries.push_back({Format("D%04d.DAT", i), Random(256 + random() % 2048, random)});
    }
    ForceDirectories(dir + "mixed");
    WriteArchive(dir, "mixed", entries);
    DeleteFile(dir + "scratch.spd");
}

void Log(const std::string& dir, int count) {
    std::mt19937 random(3);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(Format("F%05d.DAT", i));
        Save(dir + names.back(), Random(16 + random() % 200, random));
    }
    Save(dir + "L.DIR.txt", TextLinesBytes(names));
}

void Large(const std::string& dir, int mib) {
    std::mt19937 random(4);
    std::vector<Entry> entries;
    for (int i = 0; i < mib; ++i)
        entries.push_back({Format("BLOCK%04d.BIN", i), Random(1 << 20, random)});
    WriteArchive(dir, "large", entries, false);
    Save(dir + "new.bin", Random(1 << 20, random));
}

void Thumbnail(const std::string& dir, int mib) {
    std::mt19937 random(5);
    std::vector<Entry> entries;
    for (int i = 0; i < mib; ++i)
        entries.push_back({Format("BLOCK%04d.BIN", i), Random(1 << 20, random)});
    entries.push_back({"LAST.IMG", ImageFile(640, 480, 5)});
    WriteArchive(dir, "thumbnail", entries, false);
}

void Huge(const std::string& dir, int mib) {
    std::mt19937 random(5);
    std::vector<Entry> entries;
    uint64_t total = 0;
    for (int i = 0; total < static_cast<uint64_t>(mib) << 20; ++i) {
        if (i % 8 == 0)
            entries.push_back({Format("I%04d.IMG", i), ImageFile(640, 480, i)});
        else if (i % 8 == 1)
            entries.push_back(
                {Format("S%04d.SPR", i), SpriteFile(64, 8, i, dir + "scratch.spd", nullptr)});
        else
            entries.push_back(
                {Format("B%04d.BIN", i), Random((64 << 10) + random() % (2 << 20), random)});
        total += entries.back().data.size();
    }
    WriteArchive(dir, "huge", entries, false);
    DeleteFile(dir + "scratch.spd");
}

void Pictures(const std::string& dir, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        const std::string name = Format("P%04d.IMG", i);
        TImgFile image;
        image.ImportBitmap(MakePicture(640, 480, 100 + i), false);
        Save(dir + name, image.SaveToBytes(true));
        Save(dir + name + ".bmp", EncodeBitmap(image.MakeBitmap()));
        names.push_back(name);
        if (i % 10 != 9) continue;
        const std::string sprite = Format("Q%04d.SPR", i);
        Bitmap strip;
        Save(dir + sprite, SpriteFile(64, 8, 100 + i, dir + sprite + ".spd", &strip));
        Save(dir + sprite + ".bmp", EncodeBitmap(strip));
        names.push_back(sprite);
    }
    Save(dir + "P.DIR.txt", TextLinesBytes(names));
}

} // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 2 ? argv[1] : "";
    const std::string dir = argc > 2 ? IncludeTrailingSeparator(argv[2]) : "";
    const int number = argc > 3 ? std::stoi(argv[3]) : 0;
    if (!dir.empty()) ForceDirectories(dir);
    try {
        if (what == "extract")
            Extract(dir);
        else if (what == "mixed")
            Mixed(dir);
        else if (what == "log" && number > 0)
            Log(dir, number);
        else if (what == "large" && number > 0)
            Large(dir, number);
        else if (what == "thumbnail" && number > 0)
            Thumbnail(dir, number);
        else if (what == "huge" && number > 0)
            Huge(dir, number);
        else if (what == "pictures" && number > 0)
            Pictures(dir, number);
        else {
            std::fprintf(stderr, "usage: bench_cli_inputs extract|mixed FOLDER, or "
                                 "log|large|thumbnail|huge|pictures FOLDER NUMBER\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_cli_inputs: %s\n", e.what());
        return 1;
    }
    return 0;
}
