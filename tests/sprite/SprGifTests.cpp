// The GIF of a sprite, read back with giflib's reader: the frames the preview shows in the
// order it shows them, each for the preview's interval, in the sprite's exact colours, with
// the background transparent and nothing of one frame left under the next.
#include "SpriteTestUtil.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace sprtest {
namespace {

struct Gif {
    int Width = 0, Height = 0;
    std::vector<RGB> Colours;
    bool Loops = false; // a NETSCAPE2.0 block repeating for ever
    std::vector<std::vector<uint8_t>> Frames;
    std::vector<GraphicsControlBlock> Controls;
};

struct Input {
    const std::vector<uint8_t>* Bytes;
    size_t At;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count) {
    auto* in = static_cast<Input*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(count), in->Bytes->size() - in->At);
    std::memcpy(out, in->Bytes->data() + in->At, n);
    in->At += n;
    return static_cast<int>(n);
}

Gif Decode(const std::vector<uint8_t>& bytes) {
    Input in{&bytes, 0};
    int error = 0;
    GifFileType* file = DGifOpen(&in, ReadFromMemory, &error);
    Gif gif;
    if (file == nullptr || DGifSlurp(file) != GIF_OK) {
        ADD_FAILURE() << "giflib cannot read the GIF";
        return gif;
    }
    gif.Width = file->SWidth;
    gif.Height = file->SHeight;
    for (int i = 0; i < file->SColorMap->ColorCount; ++i) {
        const GifColorType& c = file->SColorMap->Colors[i];
        gif.Colours.push_back(RGB{c.Red, c.Green, c.Blue});
    }
    for (int i = 0; i < file->ImageCount; ++i) {
        const SavedImage& image = file->SavedImages[i];
        EXPECT_EQ(image.ImageDesc.Width * image.ImageDesc.Height, gif.Width * gif.Height);
        gif.Frames.emplace_back(image.RasterBits,
                                image.RasterBits + image.ImageDesc.Width * image.ImageDesc.Height);
        GraphicsControlBlock control{};
        EXPECT_EQ(DGifSavedExtensionToGCB(file, i, &control), GIF_OK);
        gif.Controls.push_back(control);
        for (int e = 0; e + 1 < image.ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = image.ExtensionBlocks[e];
            const ExtensionBlock& next = image.ExtensionBlocks[e + 1];
            gif.Loops = gif.Loops ||
                        (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
                         std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0 && next.ByteCount == 3 &&
                         next.Bytes[0] == 1 && next.Bytes[1] == 0 && next.Bytes[2] == 0);
        }
    }
    DGifCloseFile(file, &error);
    return gif;
}

TEST(SpriteGif, PlaysAsThePreview) {
    struct Case {
        const char* what;
        uint16_t frames, rate, flags;
        std::vector<int> shown; // the frames the preview shows, one round
        int delay;              // hundredths of a second
    } cases[] = {
        {"forwards, 1000 div 12 = 83 ms", 3, 12, 0, {0, 1, 2}, 8},
        {"ping-pong by the flag, 33 ms", 4, 30, 2, {0, 1, 2, 3, 2, 1}, 3},
        {"rate 0: 40 ms", 3, 0, 0, {0, 1, 2}, 4},
        {"faster than GIFs play: 20 ms", 2, 200, 2, {0, 1}, 2},
        {"too fast for the preview's timer: frame 0 still", 3, 1001, 0, {0}, 0},
        {"one frame in ping-pong", 1, 10, 2, {0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TSprFile sprite = MakeSprite(9, 7, 5);
        sprite.FrameRate = c.rate;
        sprite.Flags = c.flags;
        // Each frame its own box and colours; frame 1 is empty.
        for (uint16_t f = 0; f < c.frames; ++f)
            AddFrame(sprite, f == 1 ? SolidFrame(3, 3, 3, 3, 0)
                                    : MakeFrame(f, 1, static_cast<uint16_t>(f + 5), 6,
                                                [f](int x, int y) { return (x + y + f) % 5; }));
        const Gif gif = Decode(sprite.MakeGif("X.SPR"));
        EXPECT_EQ(gif.Width, 9);
        EXPECT_EQ(gif.Height, 7);
        EXPECT_EQ(gif.Loops, c.shown.size() > 1);
        ASSERT_EQ(gif.Frames.size(), c.shown.size());
        for (size_t i = 0; i < c.shown.size(); ++i) {
            const Bitmap expected = sprite.MakeFrameBitmap(c.shown[i]);
            EXPECT_EQ(gif.Frames[i], expected.Pixels()) << "frame " << i;
            EXPECT_EQ(gif.Controls[i].DelayTime, c.delay);
            EXPECT_EQ(gif.Controls[i].TransparentColor, 0);
            EXPECT_EQ(gif.Controls[i].DisposalMode, DISPOSE_BACKGROUND);
            for (uint8_t p : expected.Pixels())
                ASSERT_EQ(gif.Colours.at(p), expected.Palette()[p]);
        }
    }
}

} // namespace
} // namespace sprtest
