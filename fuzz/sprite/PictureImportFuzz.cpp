// The importers on any picture: the input's first byte gives the length of a .spd description
// that follows it, the rest is a picture file (bitmap or PNG). The picture is imported as an
// image (opaque and not) and as a sprite strip with that description; whatever imports must
// save both ways and read back the same. Refusals with an Error are fine.
#include "base/Errors.h"
#include "base/Stream.h"
#include "image/ImgFileU.h"
#include "picture/Picture.h"
#include "platform/FileUtil.h"
#include "sprite/SprFileU.h"
#include "tests/support/TempDir.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace pelfry;

// Pictures larger than this are read but not imported: an import touches every pixel a few
// times, and the campaign should explore rather than spend its time on one input.
constexpr uint64_t ImportBudget = 1u << 20;

// A folder for the description file, made once, removed at the end of the run.
const std::string& SpdFile() {
    static const test::TempDir folder("pelfry-fuzz-");
    static const std::string file = folder / "fuzz.SPR.spd";
    return file;
}

bool AllowedSaveError(const Error& e) {
    return std::string(e.what()).rfind("Decompressed bytes must not have msb set!", 0) == 0;
}

void CheckImage(const Bitmap& picture, bool opaque) {
    TImgFile image;
    try {
        image.ImportBitmap(picture, opaque);
    } catch (const Error&) {
        return;
    }
    if (image.Pixels.size() != static_cast<size_t>(image.Width) * image.Height) std::abort();
    for (uint8_t v : image.Pixels)
        if (v >= image.ColourCount() || v >= 128) std::abort();
    for (bool compress : {false, true}) {
        TImgFile copy = image;
        MemoryStream saved(copy.SaveToBytes(compress));
        TImgFile back;
        // The load counts pixel bytes: 0 for an image without pixels, which still loads.
        if (back.LoadFromStream(&saved) != static_cast<int32_t>(image.Pixels.size())) std::abort();
        back.Pixels.resize(image.Pixels.size());
        if (back.Width != image.Width || back.Height != image.Height ||
            back.Pixels != image.Pixels || back.Palette != image.Palette)
            std::abort();
    }
}

void CheckStrip(const Bitmap& picture) {
    TSprFile sprite;
    try {
        sprite.ImportStrip(picture, "fuzz.SPR.bmp", SpdFile());
    } catch (const Error&) {
        return;
    }
    for (bool compress : {false, true}) {
        TSprFile copy = sprite;
        std::vector<uint8_t> bytes;
        try {
            bytes = copy.SaveToBytes(compress);
        } catch (const Error& e) {
            if (!AllowedSaveError(e)) std::abort();
            continue;
        }
        MemoryStream saved(bytes);
        TSprFile back;
        if (back.LoadFromStream(&saved) != static_cast<int32_t>(sprite.Frames.size())) std::abort();
        for (size_t f = 0; f < sprite.Frames.size(); ++f)
            if (back.Frames[f].Pixels != sprite.Frames[f].Pixels) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t spdLength = std::min<size_t>(data[0], size - 1);
    const std::vector<uint8_t> spd(data + 1, data + 1 + spdLength);
    // Exactly sized, so that the sanitizers catch reads past the end.
    const std::vector<uint8_t> file(data + 1 + spdLength, data + size);
    Picture picture;
    try {
        picture = DecodePicture(file.data(), file.size(), "fuzz.SPR.bmp");
    } catch (const Error&) {
        return 0;
    }
    const Bitmap& image = picture.Image;
    if (static_cast<uint64_t>(image.Width()) * image.Height() > ImportBudget) return 0;
    CheckImage(image, false);
    CheckImage(image, true);
    WriteFileReplacing(SpdFile(), spd);
    CheckStrip(image);
    return 0;
}
