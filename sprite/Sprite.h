// TSprite: the editor's preview control. It shows a still image (.IMG) or plays a sprite
// (.SPR) at the sprite's frame rate, drawing the 8-bit picture with its palette; pixel value 0
// is drawn black (the preview shows no transparency). The control takes the size of what it
// shows, scaled to the room the window leaves it (PreviewScale); its top-left corner stays
// where the window placed it. Like a picture painted on the window, it takes no mouse input:
// clicks go to whatever lies beneath.
#pragma once

#include "picture/Bitmap.h"
#include "sprite/SprFileU.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>

namespace pelfry {

class Stream;
class TDirFile;

// The picture as a QImage of Format_Indexed8 with its palette; index 0 is always black.
QImage BitmapToImage(const Bitmap& bitmap);

// The largest zoom of a small picture, for pixel work.
inline constexpr int MaxPreviewZoom = 8;

// The scale at which a picture of `picture` size is drawn in `room` so that it is seen whole:
// one larger than the room is scaled down to fit, keeping its proportions; a smaller one is
// enlarged `zoom` times (1 to MaxPreviewZoom), as far as whole steps fit. An invalid room
// sets no limit.
double PreviewScale(QSize picture, QSize room, int zoom);

class TSprite : public QWidget {
    Q_OBJECT

public:
    // Idle: no picture, timer stopped, frame 0 playing forwards.
    explicit TSprite(QWidget* owner = nullptr);
    ~TSprite() override;

    // The entry on show and the archive it came from: set by the window before each
    // preview; the control itself never uses them (the archive is never dereferenced here).
    std::string FileName;
    TDirFile* Archive = nullptr;

    // Shows and plays `sprite`, which the control takes over. Ping-pong play when
    // `pingPong` or when bit 1 of the sprite's Flags is set, unless it has a single frame. A
    // sprite whose area is beyond MaxPicturePixels (Bitmap.h) is shown as the words "too large
    // to show" (TooLarge), and no picture is made of it.
    void ShowSprite(std::unique_ptr<TSprFile> sprite, bool pingPong);
    // Reads a sprite from `stream` and shows it; a stream without a readable sprite hides the
    // control (0 x 0) and stops it. The stream stays the caller's. Returns whether it was read.
    bool ShowSpriteStream(Stream* stream, bool pingPong);
    // Reads an image from `stream` and shows it still; a stream without a readable image
    // leaves the picture as it was, stopped. An image beyond MaxPicturePixels is shown as "too
    // large to show", told from its header before its pixels are read. The stream stays the
    // caller's. Returns whether it was read.
    bool ShowImage(Stream* stream);
    // Back to idle, shown as nothing: the timer stops, picture and sprite are released, the
    // control shrinks to 0 x 0, and FileName and Archive are cleared.
    void Clear();

    // The room the control may take (an invalid size for no limit; none at first) and the
    // zoom asked for small pictures (1 to MaxPreviewZoom; 1 at first). Until the first show
    // the control keeps the size it was given.
    void SetRoom(QSize room);
    void SetZoom(int zoom);
    int Zoom() const { return zoom_; }
    // The size of what is on show, unscaled (empty when nothing is), and the scale it is
    // drawn at.
    QSize PictureSize() const { return natural_; }
    double Scale() const { return PreviewScale(natural_, room_, zoom_); }
    // One animation step: the next frame, turning or starting over at the ends, drawn at once.
    void TimerTick();

    // State, for the window and for tests.
    int FrameIndex() const { return frameIndex_; }
    int Step() const { return step_; }
    bool PingPong() const { return pingPong_; }
    // The animation timer's interval in ms and whether it runs. A zero interval never runs.
    int Interval() const { return timer_.interval(); }
    bool TimerActive() const { return timer_.isActive(); }
    const Bitmap* Picture() const { return picture_.get(); }
    const TSprFile* Sprite() const { return sprite_.get(); }
    // Whether the words "too large to show" stand in for what was asked for.
    bool TooLarge() const { return tooLarge_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void StopTimer();
    // Takes the size of what is on show at its scale.
    void Place();
    // Shows the words "too large to show" in place of a picture, with nothing held.
    void ShowTooLarge();
    // Draws the picture over the whole control at its scale; nothing without one.
    void PaintPicture();

    std::unique_ptr<Bitmap> picture_;
    std::unique_ptr<TSprFile> sprite_;
    QTimer timer_;
    int frameIndex_ = 0;
    int step_ = 1;
    bool pingPong_ = false;
    QSize natural_;
    QSize room_;
    int zoom_ = 1;
    bool shown_ = false;
    bool tooLarge_ = false;
};

} // namespace pelfry
