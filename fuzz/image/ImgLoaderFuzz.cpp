// The .IMG reader on any bytes, then the bitmap it makes when the file loaded. Errors the
// reader raises on purpose are fine; crashes, overreads and absurd allocations are not.
#include "image/ImgFileU.h"
#include "platform/Errors.h"
#include "platform/Stream.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelfry::MemoryStream stream(std::vector<uint8_t>(data, data + size));
    pelfry::TImgFile image;
    try {
        int32_t result = image.LoadFromStream(&stream);
        if (result != 0) {
            pelfry::Bitmap bitmap = image.MakeBitmap();
            if (bitmap.Width() != image.Width || bitmap.Height() != image.Height) std::abort();
        }
        if (result < 0) std::abort();
    } catch (const pelfry::Error&) {
    }
    return 0;
}
