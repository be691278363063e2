#include "Bitmap.h"

#include "base/Bytes.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "platform/FileUtil.h"

namespace pelfry {

namespace {

// The check of this unit and the number its message shows as "line N" (see CheckSite).
constexpr CheckSite TooLarge{"Bitmap.cpp", 11};

} // namespace

std::string TooManyPixelsReason(std::string_view what, uint64_t width, uint64_t height) {
    const uint64_t pixels = width * height;
    constexpr uint64_t Million = 1000000;
    const bool inMillions = pixels / Million != MaxPicturePixels / Million;
    const auto count = [&](uint64_t n) {
        return inMillions ? std::to_string(n / Million) + " million" : FormatThousands(n);
    };
    return Format("%.*s %llu x %llu = %s pixels; at most %s", static_cast<int>(what.size()),
                  what.data(), static_cast<unsigned long long>(width),
                  static_cast<unsigned long long>(height), count(pixels).c_str(),
                  count(MaxPicturePixels).c_str());
}

std::vector<uint8_t> EncodeBitmap(const Bitmap& bitmap) {
    // The same limit the reader keeps; it also keeps every size field within 32 bits.
    PELFRY_CHECK(bitmap.Width() <= 65535 && bitmap.Height() <= 65535, TooLarge,
                 "Bitmap too large for a .bmp file",
                 Format("%d x %d pixels", bitmap.Width(), bitmap.Height()));
    const uint32_t width = static_cast<uint32_t>(bitmap.Width());
    const uint32_t height = static_cast<uint32_t>(bitmap.Height());
    const uint32_t stride = (width + 3) & ~3u; // rows are padded to 4 bytes
    const uint32_t headerSize = 14 + 40 + 256 * 4;
    const uint32_t imageSize = stride * height;

    std::vector<uint8_t> out;
    out.reserve(headerSize + imageSize);
    // BITMAPFILEHEADER
    PutU8(out, 'B');
    PutU8(out, 'M');
    PutU32(out, headerSize + imageSize);
    PutU32(out, 0);
    PutU32(out, headerSize);
    // BITMAPINFOHEADER: bottom-up rows, 8 bits per pixel, no compression, 256 colours.
    PutU32(out, 40);
    PutU32(out, width);
    PutU32(out, height);
    PutU16(out, 1);
    PutU16(out, 8);
    PutU32(out, 0);
    PutU32(out, imageSize);
    PutU32(out, 2835); // 72 dpi
    PutU32(out, 2835);
    PutU32(out, 256);
    PutU32(out, 0);
    for (const RGB& c : bitmap.Palette()) {
        PutU8(out, c.b);
        PutU8(out, c.g);
        PutU8(out, c.r);
        PutU8(out, 0);
    }
    for (uint32_t row = height; row-- > 0;) {
        PutBytes(out, bitmap.Row(static_cast<int>(row)), width);
        PutZeros(out, stride - width);
    }
    return out;
}

void SaveBitmapFile(const Bitmap& bitmap, const std::string& path) {
    // A failed save leaves a bitmap of that name as it was, never half written.
    WriteFileReplacing(path, EncodeBitmap(bitmap));
}

} // namespace pelfry
