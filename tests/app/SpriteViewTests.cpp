// The preview control: what it shows, its size, its timer interval and the order of the
// frames it plays. The animation is driven by calling TimerTick; no test waits for the timer.
#include "AppTestSupport.h"

#include "archive/SetMemoryStreamU.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "sprite/Sprite.h"

#include <QImage>

#include <gtest/gtest.h>

namespace pelfry::test {
namespace {

std::unique_ptr<TSprFile> Sprite(uint16_t frames, uint16_t rate, uint16_t flags, uint16_t width = 8,
                                 uint16_t height = 6) {
    return std::make_unique<TSprFile>(MakeSprite(frames, rate, flags, width, height));
}

// The frame indices shown after each of `ticks` timer events.
std::vector<int> Play(TSprite& view, int ticks) {
    std::vector<int> shown;
    for (int i = 0; i < ticks; ++i) {
        view.TimerTick();
        shown.push_back(view.FrameIndex());
    }
    return shown;
}

MemoryStream StreamOf(const std::vector<uint8_t>& bytes) {
    return MemoryStream(bytes);
}

TEST(SpriteView, IntervalIsAThousandDivFrameRate) {
    EXPECT_EQ(FrameInterval(0), 40);
    EXPECT_EQ(FrameInterval(1), 1000);
    EXPECT_EQ(FrameInterval(7), 142);
    EXPECT_EQ(FrameInterval(25), 40);
    EXPECT_EQ(FrameInterval(30), 33);
    EXPECT_EQ(FrameInterval(1000), 1);
    EXPECT_EQ(FrameInterval(1001), 0);
    EXPECT_EQ(FrameInterval(65535), 0);

    TSprite view;
    view.ShowSprite(Sprite(3, 30, 0), false);
    EXPECT_EQ(view.Interval(), 33);
    EXPECT_TRUE(view.TimerActive());
    view.ShowSprite(Sprite(3, 0, 0), false);
    EXPECT_EQ(view.Interval(), 40);
    EXPECT_TRUE(view.TimerActive());
    // Too fast for the timer: it never runs and the sprite stays on its first frame.
    view.ShowSprite(Sprite(3, 1001, 0), false);
    EXPECT_EQ(view.Interval(), 0);
    EXPECT_FALSE(view.TimerActive());
    EXPECT_EQ(view.FrameIndex(), 0);
}

TEST(SpriteView, StartsIdle) {
    TSprite view;
    EXPECT_EQ(view.FrameIndex(), 0);
    EXPECT_EQ(view.Step(), 1);
    EXPECT_EQ(view.Picture(), nullptr);
    EXPECT_FALSE(view.TimerActive());
    view.TimerTick(); // nothing to play
    EXPECT_EQ(view.FrameIndex(), 0);
}

TEST(SpriteView, ClearGoesBackToIdleShowingNothing) {
    TSprite view;
    EXPECT_TRUE(view.testAttribute(Qt::WA_TransparentForMouseEvents));
    view.FileName = "walk.spr";
    view.ShowSprite(Sprite(3, 25, 2), false);
    view.TimerTick();
    view.Clear();
    EXPECT_EQ(view.Picture(), nullptr);
    EXPECT_EQ(view.Sprite(), nullptr);
    EXPECT_FALSE(view.TimerActive());
    EXPECT_EQ(view.size(), QSize(0, 0));
    EXPECT_EQ(view.FileName, "");
    // It plays again from the start.
    view.ShowSprite(Sprite(3, 25, 0), false);
    EXPECT_EQ(Play(view, 2), (std::vector<int>{1, 2}));
}

TEST(SpriteView, PlaysForwardsAndStartsOver) {
    TSprite view;
    view.ShowSprite(Sprite(3, 25, 0), false);
    EXPECT_FALSE(view.PingPong());
    EXPECT_EQ(view.size(), QSize(8, 6));
    EXPECT_EQ(view.FrameIndex(), 0);
    EXPECT_EQ(Play(view, 7), (std::vector<int>{1, 2, 0, 1, 2, 0, 1}));
}

TEST(SpriteView, PingPongFromTheArgumentOrTheSpritesFlags) {
    TSprite view;
    view.ShowSprite(Sprite(3, 25, 0), true);
    EXPECT_TRUE(view.PingPong());
    EXPECT_EQ(Play(view, 8), (std::vector<int>{1, 2, 1, 0, 1, 2, 1, 0}));

    // Bit 1 of Flags asks for ping-pong although the window passes false.
    view.ShowSprite(Sprite(3, 25, 2), false);
    EXPECT_TRUE(view.PingPong());
    EXPECT_EQ(Play(view, 4), (std::vector<int>{1, 2, 1, 0}));

    // Bit 0 alone does not.
    view.ShowSprite(Sprite(3, 25, 1), false);
    EXPECT_FALSE(view.PingPong());
    EXPECT_EQ(Play(view, 3), (std::vector<int>{1, 2, 0}));
}

TEST(SpriteView, TwoFramesAlternateEitherWay) {
    TSprite view;
    view.ShowSprite(Sprite(2, 25, 0), false);
    EXPECT_EQ(Play(view, 4), (std::vector<int>{1, 0, 1, 0}));
    view.ShowSprite(Sprite(2, 25, 2), false);
    EXPECT_EQ(Play(view, 4), (std::vector<int>{1, 0, 1, 0}));
}

TEST(SpriteView, OneFrameStaysOnFrameZero) {
    TSprite view;
    auto single = Sprite(1, 25, 2);
    const Bitmap expected = single->MakeFrameBitmap(0);
    view.ShowSprite(std::move(single), true);
    EXPECT_FALSE(view.PingPong());
    EXPECT_EQ(Play(view, 4), (std::vector<int>{0, 0, 0, 0}));
    ASSERT_NE(view.Picture(), nullptr);
    EXPECT_EQ(view.Picture()->Pixels(), expected.Pixels());
}

TEST(SpriteView, EachTickDrawsItsFrame) {
    TSprite view;
    auto sprite = Sprite(4, 25, 0, 9, 7);
    std::vector<Bitmap> frames;
    for (int i = 0; i < 4; ++i)
        frames.push_back(sprite->MakeFrameBitmap(i));
    view.ShowSprite(std::move(sprite), true);
    ASSERT_NE(view.Picture(), nullptr);
    EXPECT_EQ(view.Picture()->Pixels(), frames[0].Pixels());
    EXPECT_EQ(view.Picture()->Palette(), frames[0].Palette());
    for (int i = 0; i < 9; ++i) {
        view.TimerTick();
        EXPECT_EQ(view.Picture()->Pixels(), frames[static_cast<size_t>(view.FrameIndex())].Pixels())
            << "after tick " << i;
    }
}

TEST(SpriteView, ANewSpriteStartsAtFrameZeroGoingForwards) {
    TSprite view;
    view.ShowSprite(Sprite(3, 25, 2), false);
    Play(view, 3); // 1, 2, 1: now playing backwards
    ASSERT_EQ(view.Step(), -1);
    view.ShowSprite(Sprite(3, 25, 0), false);
    EXPECT_EQ(view.FrameIndex(), 0);
    EXPECT_EQ(view.Step(), 1);
    EXPECT_EQ(Play(view, 2), (std::vector<int>{1, 2}));
}

TEST(SpriteView, AnImageStopsTheAnimation) {
    TSprite view;
    view.ShowSprite(Sprite(3, 25, 0), false);
    Play(view, 1);
    const TImgFile image = MakeImage(5, 4);
    MemoryStream stream = StreamOf(MakeImage(5, 4).SaveToBytes(true));
    view.ShowImage(&stream);
    EXPECT_FALSE(view.TimerActive());
    EXPECT_EQ(view.size(), QSize(5, 4));
    EXPECT_EQ(view.FrameIndex(), 0);
    ASSERT_NE(view.Picture(), nullptr);
    EXPECT_EQ(view.Picture()->Pixels(), image.MakeBitmap().Pixels());
    EXPECT_EQ(view.Picture()->Palette(), image.MakeBitmap().Palette());
    // The stream stays usable by its owner.
    EXPECT_EQ(stream.Seek(0, SeekOrigin::End), stream.Size());
}

TEST(SpriteView, ASpriteThatDoesNotLoadHidesTheControl) {
    TSprite view;
    const std::vector<uint8_t> good = SpriteBytes(3, 25, 0);
    TSetMemoryStream first(std::make_shared<const std::vector<uint8_t>>(good));
    view.ShowSpriteStream(&first, false);
    EXPECT_EQ(view.size(), QSize(8, 6));
    EXPECT_TRUE(view.TimerActive());
    ASSERT_NE(view.Sprite(), nullptr);
    EXPECT_EQ(view.Sprite()->FrameCount(), 3);

    std::vector<uint8_t> refused = good;
    refused[4] ^= 1; // the size field no longer matches
    MemoryStream bad = StreamOf(refused);
    view.ShowSpriteStream(&bad, false);
    EXPECT_EQ(view.size(), QSize(0, 0));
    EXPECT_FALSE(view.TimerActive());
    // What was on show stays held, unseen.
    EXPECT_NE(view.Picture(), nullptr);
    EXPECT_NE(view.Sprite(), nullptr);

    view.ShowSpriteStream(nullptr, false);
    EXPECT_EQ(view.size(), QSize(0, 0));

    // A following good image or sprite shows again at its own size.
    MemoryStream image = StreamOf(ImageBytes(3, 2));
    view.ShowImage(&image);
    EXPECT_EQ(view.size(), QSize(3, 2));
    MemoryStream sprite = StreamOf(SpriteBytes(2, 10, 0, 12, 10));
    view.ShowSpriteStream(&sprite, false);
    EXPECT_EQ(view.size(), QSize(12, 10));
    EXPECT_EQ(view.Interval(), 100);
    EXPECT_TRUE(view.TimerActive());
}

TEST(SpriteView, AnImageThatDoesNotLoadKeepsThePictureStill) {
    TSprite view;
    view.ShowSprite(Sprite(3, 25, 0), false);
    Play(view, 2);
    const std::vector<uint8_t> before = view.Picture()->Pixels();
    MemoryStream bad = StreamOf({'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    view.ShowImage(&bad);
    EXPECT_FALSE(view.TimerActive());
    EXPECT_EQ(view.size(), QSize(8, 6));
    EXPECT_EQ(view.Picture()->Pixels(), before);
    view.ShowImage(nullptr);
    EXPECT_EQ(view.size(), QSize(8, 6));
}

TEST(SpriteView, ReadingErrorsPassThroughWithTheTimerStopped) {
    TSprite view;
    view.ShowSprite(Sprite(3, 25, 0), false);
    ASSERT_TRUE(view.TimerActive());
    // A sprite whose header passes but whose first frame lies outside the sprite's area.
    std::vector<uint8_t> bytes = SpriteBytes(3, 25, 0);
    const size_t table = 12 + 3 * 3 + 2 + 10; // header, 3 colours, no slots, rate..count
    bytes[table + 8] = 200;                   // Right of frame 0
    MemoryStream stream = StreamOf(bytes);
    EXPECT_THROW(view.ShowSpriteStream(&stream, false), Error);
    EXPECT_FALSE(view.TimerActive());
}

TEST(SpriteView, PicturesTooLargeAreShownAsWordsAndNeverMade) {
    TSprite view;
    view.ShowSprite(Sprite(2, 25, 0), false);
    // Tiny frames on a huge area: the file is small, the picture would be 4 GiB.
    MemoryStream sprite = StreamOf(SpriteBytes(2, 25, 0, 65535, 65535));
    EXPECT_TRUE(view.ShowSpriteStream(&sprite, false));
    EXPECT_TRUE(view.TooLarge());
    EXPECT_EQ(view.Picture(), nullptr);
    EXPECT_FALSE(view.TimerActive());
    EXPECT_FALSE(view.size().isEmpty());
    // An image of 8193 x 8192 pixels that its compressed data could fill: told by its header,
    // its pixels never decoded.
    std::vector<uint8_t> image = {'I', 'M', 'G', 0x1A, 0, 0, 0, 0, 8, 0xC0, 0, 0, 1, 0x20, 0, 0x20};
    image.resize(image.size() + 740000, 0);
    MemoryStream huge = StreamOf(image);
    view.ShowSprite(Sprite(2, 25, 0), false);
    EXPECT_TRUE(view.ShowImage(&huge));
    EXPECT_TRUE(view.TooLarge());
    EXPECT_EQ(view.Picture(), nullptr);
    // The largest area allowed still shows.
    view.ShowSprite(Sprite(2, 25, 0, 8192, 8192), false);
    EXPECT_FALSE(view.TooLarge());
    EXPECT_EQ(view.size(), QSize(8192, 8192));
}

TEST(SpriteView, DrawsThePaletteColoursWithIndexZeroBlack) {
    TSprite view;
    view.resize(1, 1);
    auto sprite = Sprite(2, 25, 0, 6, 5);
    sprite->Palette[0] = 90; // whatever the file says, the background is black
    const QRgb colour1 = qRgb(sprite->Palette[3], sprite->Palette[4], sprite->Palette[5]);
    const QRgb colour2 = qRgb(sprite->Palette[6], sprite->Palette[7], sprite->Palette[8]);
    view.ShowSprite(std::move(sprite), false);
    QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(6, 5));
    EXPECT_EQ(shown.pixel(0, 0), colour1); // frame 0: 2 x 2 at (0, 0)
    EXPECT_EQ(shown.pixel(1, 1), colour1);
    EXPECT_EQ(shown.pixel(3, 3), qRgb(0, 0, 0));
    view.TimerTick(); // frame 1: 2 x 2 at (1, 1)
    shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(2, 2), colour2);
}

TEST(SpriteView, BitmapToImageKeepsIndicesAndPalette) {
    Bitmap bitmap(3, 2);
    Palette256 palette{};
    palette[0] = {10, 20, 30};
    palette[5] = {200, 100, 50};
    bitmap.SetPalette(palette);
    bitmap.Row(1)[2] = 5;
    const QImage image = BitmapToImage(bitmap);
    ASSERT_EQ(image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(image.pixelIndex(2, 1), 5);
    EXPECT_EQ(image.pixelIndex(0, 0), 0);
    EXPECT_EQ(image.pixel(2, 1), qRgb(200, 100, 50));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_TRUE(BitmapToImage(Bitmap()).isNull());
}

} // namespace
} // namespace pelfry::test
