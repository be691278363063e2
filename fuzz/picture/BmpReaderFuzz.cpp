// The .bmp reader on arbitrary bytes: it must refuse with an Error or return a bitmap whose
// pixel buffer matches its size, never crash, read out of bounds or allocate wildly.
#include "base/Errors.h"
#include "picture/Bitmap.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        pelfry::Bitmap b = pelfry::DecodeBitmap(data, size, "fuzz.bmp");
        if (b.Pixels().size() != static_cast<size_t>(b.Width()) * static_cast<size_t>(b.Height()))
            std::abort();
        unsigned sum = 0;
        for (uint8_t p : b.Pixels())
            sum += p; // touch every pixel
        (void)sum;
    } catch (const pelfry::Error&) {
    }
    return 0;
}
