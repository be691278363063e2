// The PNG reader on arbitrary bytes: it must refuse with an Error or return a picture whose
// pixel buffer matches its size, never crash, read out of bounds or allocate wildly. Inputs
// that do not start with the PNG signature are given one, so that every run reaches libpng.
#include "base/Errors.h"
#include "picture/Picture.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool signed_ = size >= 8 && std::memcmp(data, signature, 8) == 0;
    // Exactly sized, so that the sanitizers catch reads past the end.
    std::vector<uint8_t> bytes;
    bytes.reserve(size + (signed_ ? 0 : 8));
    if (!signed_) bytes.insert(bytes.end(), signature, signature + 8);
    if (size > 0) bytes.insert(bytes.end(), data, data + size);
    try {
        pelfry::Picture p = pelfry::DecodePicture(bytes.data(), bytes.size(), "fuzz.png");
        const pelfry::Bitmap& b = p.Image;
        if (b.Pixels().size() != static_cast<size_t>(b.Width()) * static_cast<size_t>(b.Height()))
            std::abort();
        if (b.Width() > 65535 || b.Height() > 65535) std::abort();
        unsigned sum = 0;
        for (uint8_t v : b.Pixels())
            sum += v; // touch every pixel
        (void)sum;
        // Every picture read back must write as PNG and read again to the same indices.
        if (b.Width() > 0 && b.Height() > 0) {
            const std::vector<uint8_t> png = pelfry::EncodePng(b);
            const pelfry::Picture again = pelfry::DecodePng(png.data(), png.size(), "again.png");
            if (again.Image.Pixels() != b.Pixels() || again.Image.Palette() != b.Palette())
                std::abort();
        }
    } catch (const pelfry::Error&) {
    }
    return 0;
}
