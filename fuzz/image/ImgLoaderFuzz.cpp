// The .IMG reader on any bytes, then the bitmap it makes when the file loaded, and the file
// saved again both ways and read back. Errors the reader raises on purpose are fine; crashes,
// overreads, absurd allocations, and a saved image that reads back different are not.
#include "base/Errors.h"
#include "base/Stream.h"
#include "image/ImgFileU.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The first width x height pixels, the ones a saved file carries.
std::vector<uint8_t> Shown(const pelfry::TImgFile& image) {
    const size_t count = static_cast<size_t>(image.Width) * image.Height;
    std::vector<uint8_t> pixels(image.Pixels.begin(),
                                image.Pixels.begin() + std::min(count, image.Pixels.size()));
    pixels.resize(count, 0);
    return pixels;
}

// Saving encodes every pixel; larger images are loaded and drawn but not saved, so that each
// input takes a moment and the campaign explores instead of encoding megapixels of zeros.
constexpr uint64_t SaveBudget = 1u << 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pelfry;
    MemoryStream stream(std::vector<uint8_t>(data, data + size));
    TImgFile image;
    try {
        // The header alone accepts what the whole load accepts, with the same size.
        TImgFile header;
        const bool headerAccepted = header.LoadHeader(&stream).Accepted;
        const LoadResult loaded = image.LoadFromStream(&stream);
        if (headerAccepted != loaded.Accepted) std::abort();
        if (loaded.Accepted && (header.Width != image.Width || header.Height != image.Height))
            std::abort();
        const int32_t result = loaded.Count;
        if (result < 0) std::abort();
        if (result == 0) return 0;
        Bitmap bitmap = image.MakeBitmap();
        if (bitmap.Width() != image.Width || bitmap.Height() != image.Height) std::abort();
    } catch (const Error&) {
        return 0;
    }
    if (static_cast<uint64_t>(image.Width) * image.Height > SaveBudget) return 0;
    for (bool compress : {false, true}) {
        TImgFile copy = image;
        copy.DropPacked(); // encode the pixels themselves, not what the file held
        std::vector<uint8_t> bytes;
        try {
            bytes = copy.SaveToBytes(compress);
        } catch (const Error& e) {
            // Only a pixel the codec cannot carry may stop a compressed save.
            if (!compress ||
                std::string(e.what()).rfind("Decompressed bytes must not have msb set!", 0) != 0)
                std::abort();
            continue;
        }
        MemoryStream saved(bytes);
        TImgFile back;
        try {
            back.LoadFromStream(&saved);
        } catch (const Error&) {
            std::abort();
        }
        if (back.Width != image.Width || back.Height != image.Height ||
            back.Palette != image.Palette || Shown(back) != Shown(image))
            std::abort();
    }
    return 0;
}
