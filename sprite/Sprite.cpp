#include "sprite/Sprite.h"

#include "base/Errors.h"
#include "base/Stream.h"
#include "image/ImgFileU.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pelfry {

QImage BitmapToImage(const Bitmap& bitmap) {
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_Indexed8);
    if (image.isNull()) return image;
    QList<QRgb> colours(256);
    const Palette256& palette = bitmap.Palette();
    for (int i = 0; i < 256; ++i)
        colours[i] = qRgb(palette[i].r, palette[i].g, palette[i].b);
    colours[0] = qRgb(0, 0, 0); // the background of the game's pictures
    image.setColorTable(colours);
    for (int y = 0; y < bitmap.Height(); ++y)
        std::memcpy(image.scanLine(y), bitmap.Row(y), static_cast<size_t>(bitmap.Width()));
    return image;
}

double PreviewScale(QSize picture, QSize room, int zoom) {
    zoom = std::clamp(zoom, 1, MaxPreviewZoom);
    if (picture.isEmpty() || !room.isValid()) return zoom;
    const double fit = std::min(static_cast<double>(room.width()) / picture.width(),
                                static_cast<double>(room.height()) / picture.height());
    if (fit < 1) return fit;
    return std::min(static_cast<double>(zoom), std::floor(fit));
}

TSprite::TSprite(QWidget* owner) : QWidget(owner) {
    frameIndex_ = 0;
    step_ = 1;
    connect(&timer_, &QTimer::timeout, this, [this] { TimerTick(); });
    // Only the picture is drawn; whatever lies beneath shows around it.
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

TSprite::~TSprite() {
    timer_.stop();
}

void TSprite::StopTimer() {
    timer_.stop();
}

void TSprite::SetRoom(QSize room) {
    room_ = room;
    Place();
}

void TSprite::SetZoom(int zoom) {
    zoom_ = std::clamp(zoom, 1, MaxPreviewZoom);
    Place();
}

// What the preview says of a picture it does not make.
static const char* const TooLargeText = "too large to show";

void TSprite::Place() {
    if (!shown_) return;
    if (natural_.isEmpty()) return resize(0, 0);
    if (tooLarge_) return resize(natural_); // words are not scaled
    // Scaled down, the picture fits its room; never smaller than a pixel.
    const double scale = Scale();
    resize(std::max(1, static_cast<int>(natural_.width() * scale)),
           std::max(1, static_cast<int>(natural_.height() * scale)));
}

void TSprite::ShowTooLarge() {
    StopTimer();
    picture_.reset();
    sprite_.reset();
    shown_ = true;
    tooLarge_ = true;
    natural_ = fontMetrics().size(0, TooLargeText) + QSize(8, 8);
    Place();
    update();
}

void TSprite::ShowSprite(std::unique_ptr<TSprFile> sprite, bool pingPong) {
    StopTimer();
    picture_.reset();
    shown_ = true;
    tooLarge_ = false;
    natural_ = QSize();
    if (!sprite) return Place();
    // A sprite's area is not bounded by its data: a few bytes can claim 65535 x 65535. The
    // picture is made at the full area, so none is made of what no game sprite comes near.
    if (TooManyPixels(sprite->Width, sprite->Height)) return ShowTooLarge();
    natural_ = QSize(sprite->Width, sprite->Height);
    Place();
    frameIndex_ = 0;
    step_ = 1;
    timer_.setInterval(FrameInterval(sprite->FrameRate));
    picture_ = std::make_unique<Bitmap>(sprite->MakeFrameBitmap(0));
    pingPong_ = sprite->PlaysPingPong(pingPong);
    sprite_ = std::move(sprite);
    // A zero interval would fire without pause; the sprite then stays on its first frame.
    if (timer_.interval() > 0) timer_.start();
    // Drawn when the window has placed it, at its scale in its room.
    update();
}

bool TSprite::ShowSpriteStream(Stream* stream, bool pingPong) {
    StopTimer();
    auto sprite = std::make_unique<TSprFile>();
    if (sprite->LoadFromStream(stream) > 0) {
        ShowSprite(std::move(sprite), pingPong);
        return true;
    }
    // Not a sprite: hide. What was on show stays held, unseen, until the next show.
    shown_ = true;
    tooLarge_ = false;
    natural_ = QSize();
    Place();
    return false;
}

bool TSprite::ShowImage(Stream* stream) {
    StopTimer();
    TImgFile image;
    // Its size first, from the header: the pixels of an image too large are never read.
    if (image.LoadHeader(stream).Accepted && TooManyPixels(image.Width, image.Height)) {
        ShowTooLarge();
        return true;
    }
    const bool read = image.LoadFromStream(stream) != 0;
    if (read) {
        frameIndex_ = 0;
        tooLarge_ = false;
        picture_.reset();
        picture_ = std::make_unique<Bitmap>(image.MakeBitmap());
        shown_ = true;
        natural_ = QSize(image.Width, image.Height);
        Place();
    }
    update();
    return read;
}

void TSprite::Clear() {
    StopTimer();
    picture_.reset();
    sprite_.reset();
    frameIndex_ = 0;
    step_ = 1;
    pingPong_ = false;
    tooLarge_ = false;
    FileName.clear();
    Archive = nullptr;
    shown_ = true;
    natural_ = QSize();
    Place();
}

void TSprite::TimerTick() {
    if (!sprite_ || !picture_) return;
    NextFrame(frameIndex_, step_, sprite_->FrameCount(), pingPong_);
    sprite_->RenderFrame(frameIndex_, *picture_);
    repaint();
}

void TSprite::paintEvent(QPaintEvent*) {
    PaintPicture();
}

void TSprite::PaintPicture() {
    if (tooLarge_) {
        QPainter painter(this);
        painter.drawText(rect(), Qt::AlignCenter, TooLargeText);
        return;
    }
    if (!picture_) return;
    QPainter painter(this);
    const QImage image = BitmapToImage(*picture_);
    if (size() == image.size()) return painter.drawImage(0, 0, image);
    // Enlarged, every pixel of the game's picture stays a sharp square; scaled down, the
    // picture is smoothed so that thin lines do not vanish.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, size().width() < image.width());
    painter.drawImage(rect(), image);
}

} // namespace pelfry
