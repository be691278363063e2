// The order and pace in which a sprite's frames play, shared by the preview and the GIF made of
// the sprite, so that the two play alike.
#include "sprite/SprFileU.h"

#include "base/Errors.h"
#include "picture/Gif.h"

#include <algorithm>

namespace pelfry {

int FrameInterval(uint16_t frameRate) {
    return frameRate == 0 ? 40 : 1000 / frameRate;
}

void NextFrame(int& index, int& step, int count, bool pingPong) {
    index += step;
    if (index >= count) {
        if (pingPong && count > 1) {
            step = -1;
            index = count - 2;
        } else {
            step = 1;
            index = 0;
        }
    } else if (index <= -1) {
        step = 1;
        index = count > 1 ? 1 : 0;
    }
}

std::vector<int> PlayOrder(int count, bool pingPong) {
    std::vector<int> order;
    if (count <= 0) return order;
    // From frame 0 the play comes back to frame 0 after one round, forwards or backwards,
    // and goes on from there as it did from the start.
    int index = 0, step = 1;
    do {
        order.push_back(index);
        NextFrame(index, step, count, pingPong);
    } while (index != 0);
    return order;
}

bool TSprFile::PlaysPingPong(bool asked) const {
    return (asked || (Flags & 2) != 0) && FrameCount() > 1;
}

std::vector<uint8_t> TSprFile::MakeGif(const std::string& name) const {
    if (Frames.empty()) throw Error("Sprite has no frames");
    if (Width == 0 || Height == 0) NoGifPixels(name);
    const int interval = FrameInterval(FrameRate);
    // Too fast for the preview's timer, the sprite stays on its first frame there.
    const std::vector<int> order =
        interval == 0 ? std::vector<int>{0} : PlayOrder(FrameCount(), PlaysPingPong());
    // Every frame shown is stored whole: a bound like that of the strip, which holds each
    // frame once.
    const uint64_t pixels = uint64_t{Width} * Height * order.size();
    if (pixels > 2 * MaxPicturePixels)
        throw Error(Format("%s is too large to animate (%u x %u pixels, %zu frames shown)",
                           name.c_str(), Width, Height, order.size()));
    Bitmap frame = MakeFrameBitmap(0);
    uint8_t highest = 0;
    for (const SpriteAnim& a : Frames)
        if (!a.Pixels.empty())
            highest = std::max(highest, *std::max_element(a.Pixels.begin(), a.Pixels.end()));
    // GIF counts in hundredths of a second.
    const int delay = std::max(MinGifDelay, (interval + 5) / 10);
    GifWriter gif(Width, Height, frame.Palette(), highest, order.size() > 1);
    for (int index : order) {
        RenderFrame(index, frame);
        gif.AddFrame(frame, delay);
    }
    return gif.Finish();
}

} // namespace pelfry
