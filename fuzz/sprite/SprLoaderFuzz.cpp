// Fuzz target of the .SPR reader: any bytes either load, are refused at the header, or raise
// pelfry::Error. What loads renders every frame, and saved again (both forms) reads back with
// the same frames.
#include "base/Errors.h"
#include "base/Stream.h"
#include "sprite/SprFileU.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Rendering allocates the whole sprite area for each frame, and a header of a few bytes may
// claim 65,535 frames of 2048 x 2048 pixels (empty boxes need no data). The program renders one
// frame at a time, as it is shown; the fuzzer renders frames until it has drawn this many
// pixels, so that every input is done in a moment and the campaign goes on exploring.
constexpr uint64_t RenderBudget = 1u << 24;
// Saving encodes every frame's pixels; sprites holding more are loaded and drawn but not saved.
constexpr uint64_t SaveBudget = 1u << 16;

void CheckSameFrames(const pelfry::TSprFile& a, const pelfry::TSprFile& b) {
    if (a.Frames.size() != b.Frames.size() || a.Width != b.Width || a.Height != b.Height)
        std::abort();
    for (size_t f = 0; f < a.Frames.size(); ++f) {
        const pelfry::SpriteAnim& x = a.Frames[f];
        const pelfry::SpriteAnim& y = b.Frames[f];
        if (x.Pixels != y.Pixels || x.Left != y.Left || x.Top != y.Top || x.Right != y.Right ||
            x.Bottom != y.Bottom)
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
        const uint64_t area = static_cast<uint64_t>(sprite.Width) * sprite.Height;
        uint64_t drawn = 0;
        for (int32_t f = 0; f < frames && drawn + area <= RenderBudget; ++f, drawn += area)
            sprite.MakeFrameBitmap(f);
    } catch (const Error&) {
        return 0;
    }
    uint64_t pixels = 0;
    for (const SpriteAnim& frame : sprite.Frames)
        pixels += frame.Pixels.size();
    if (pixels > SaveBudget) return 0;
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
        if (back.LoadFromStream(&stream) != static_cast<int32_t>(sprite.Frames.size()))
            std::abort();
        CheckSameFrames(sprite, back);
    }
    return 0;
}
