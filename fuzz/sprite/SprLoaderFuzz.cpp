// Fuzz target of the .SPR reader: any bytes either load, are refused at the header, or raise
// pelfry::Error. What loads renders every frame, and saved again (both forms) reads back with
// the same frames.
#include "platform/Errors.h"
#include "platform/Stream.h"
#include "sprite/SprFileU.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Rendering allocates the whole sprite area, which the header alone may make 4 GB; the
// fuzzer renders only sprites of a size a test run can hold.
constexpr uint64_t RenderLimit = 1u << 22;

void CheckSameFrames(const pelfry::TSprFile& a, const pelfry::TSprFile& b) {
    if (a.Frames.size() != b.Frames.size() || a.Width != b.Width || a.Height != b.Height) std::abort();
    for (size_t f = 0; f < a.Frames.size(); ++f) {
        const pelfry::SpriteAnim& x = a.Frames[f];
        const pelfry::SpriteAnim& y = b.Frames[f];
        if (x.Pixels != y.Pixels || x.Left != y.Left || x.Top != y.Top || x.Right != y.Right || x.Bottom != y.Bottom)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pelfry;
    TSprFile sprite;
    try {
        MemoryStream stream(std::vector<uint8_t>(data, data + size));
        int32_t frames = sprite.LoadFromStream(&stream);
        if (frames <= 0) return 0;
        if (static_cast<uint64_t>(sprite.Width) * sprite.Height <= RenderLimit)
            for (int32_t f = 0; f < frames; ++f) sprite.MakeFrameBitmap(f);
    } catch (const Error&) {
        return 0;
    }
    for (bool compress : {true, false}) {
        TSprFile copy = sprite;
        std::vector<uint8_t> bytes;
        try {
            bytes = copy.SaveToBytes(compress);
        } catch (const Error& e) {
            // Only what the file form cannot hold may stop the save of a sprite that loaded:
            // pixel values of 128 or more (compressed), offsets of 2^24 or more.
            std::string message = e.what();
            if (message.rfind("Decompressed bytes must not have msb set!", 0) != 0 &&
                message.find("offsets below 16777216") == std::string::npos)
                std::abort();
            continue;
        }
        TSprFile back;
        MemoryStream stream(bytes);
        if (back.LoadFromStream(&stream) != static_cast<int32_t>(sprite.Frames.size())) std::abort();
        CheckSameFrames(sprite, back);
    }
    return 0;
}
