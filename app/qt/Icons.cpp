#include "app/qt/Icons.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <initializer_list>

namespace pelfry {

// Fills and outlines the closed polygon through `points` with the painter's pen and `fill`.
static void DrawShape(QPainter& p, std::initializer_list<QPointF> points, const QColor& fill) {
    QPainterPath path;
    path.moveTo(*points.begin());
    for (auto it = points.begin() + 1; it != points.end(); ++it)
        path.lineTo(*it);
    path.closeSubpath();
    p.setBrush(fill);
    p.drawPath(path);
}

static void DrawFolder(QPainter& p) {
    const QColor outline(110, 80, 10);
    p.setPen(QPen(outline, 1));
    // The back of the folder with its tab.
    DrawShape(p, {{1.5, 4.5}, {7.5, 4.5}, {9.5, 6.5}, {16.5, 6.5}, {16.5, 16.5}, {1.5, 16.5}},
              QColor(214, 170, 40));
    // The front flap, opened towards the viewer.
    DrawShape(p, {{1.5, 16.5}, {4.5, 9.5}, {19.5, 9.5}, {16.5, 16.5}}, QColor(250, 214, 90));
}

static void DrawDisk(QPainter& p, qreal x, qreal y, qreal size) {
    const qreal s = size / 16.0;
    p.setPen(QPen(QColor(20, 30, 80), 1));
    p.setBrush(QColor(40, 70, 170));
    p.drawRect(QRectF(x + 0.5, y + 0.5, 15 * s, 15 * s));
    // Label and metal shutter.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(x + 3 * s, y + 1.5 * s, 10 * s, 6 * s));
    p.setBrush(QColor(180, 180, 190));
    p.drawRect(QRectF(x + 4 * s, y + 10 * s, 8 * s, 5 * s));
    p.setBrush(QColor(40, 70, 170));
    p.drawRect(QRectF(x + 5.5 * s, y + 11 * s, 2 * s, 3 * s));
    p.setPen(QPen(QColor(120, 120, 140), 1));
    p.drawLine(QPointF(x + 4.5 * s, y + 3.5 * s), QPointF(x + 11.5 * s, y + 3.5 * s));
    p.drawLine(QPointF(x + 4.5 * s, y + 5.5 * s), QPointF(x + 11.5 * s, y + 5.5 * s));
}

static void DrawPencil(QPainter& p) {
    p.save();
    p.translate(14.0, 14.0);
    p.rotate(45.0);
    p.setPen(QPen(QColor(60, 40, 0), 1));
    p.setBrush(QColor(240, 190, 40));
    p.drawRect(QRectF(-1.5, -9.0, 3.0, 10.0));
    DrawShape(p, {{-1.5, 1.0}, {1.5, 1.0}, {0.0, 4.5}}, QColor(235, 200, 150));
    p.restore();
}

static void DrawExit(QPainter& p) {
    // Door frame and the door standing open.
    p.setPen(QPen(QColor(70, 40, 10), 1));
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(QRectF(9.5, 1.5, 8, 17));
    DrawShape(p, {{9.5, 1.5}, {14.5, 3.5}, {14.5, 19.5}, {9.5, 18.5}}, QColor(170, 100, 40));
    // The arrow leaving through it.
    p.setPen(QPen(QColor(0, 110, 0), 1));
    DrawShape(
        p,
        {{0.5, 8.5}, {5.5, 8.5}, {5.5, 5.5}, {10.5, 10.5}, {5.5, 15.5}, {5.5, 12.5}, {0.5, 12.5}},
        QColor(40, 180, 40));
}

static QPixmap Greyed(const QPixmap& pixmap) {
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
        }
    }
    return QPixmap::fromImage(image);
}

QPixmap DrawToolPicture(ToolPicture picture, bool greyed) {
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing, false);
        switch (picture) {
        case ToolPicture::Open:
            DrawFolder(p);
            break;
        case ToolPicture::Save:
            DrawDisk(p, 2, 2, 16);
            break;
        case ToolPicture::SaveAs:
            DrawDisk(p, 0, 0, 14);
            DrawPencil(p);
            break;
        case ToolPicture::Exit:
            DrawExit(p);
            break;
        }
    }
    return greyed ? Greyed(pixmap) : pixmap;
}

QIcon ToolIcon(ToolPicture picture) {
    QIcon icon;
    icon.addPixmap(DrawToolPicture(picture, false), QIcon::Normal);
    icon.addPixmap(DrawToolPicture(picture, true), QIcon::Disabled);
    return icon;
}

QPixmap DrawAppPicture(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    // Three picture cards filed in a box: the archive of images and sprites.
    const QColor cards[] = {QColor(200, 60, 60), QColor(60, 160, 80), QColor(60, 100, 200)};
    for (int i = 0; i < 3; ++i) {
        const QRectF card(6 + i * 5, 4 + i * 6, 28, 22);
        p.setPen(QPen(QColor(30, 30, 30), 1.5));
        p.setBrush(QColor(250, 250, 240));
        p.drawRoundedRect(card, 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(cards[i]);
        p.drawEllipse(card.adjusted(8, 5, -8, -5));
    }
    p.setPen(QPen(QColor(60, 40, 10), 2));
    p.setBrush(QColor(190, 140, 60));
    p.drawRoundedRect(QRectF(3, 30, 42, 15), 3, 3);
    p.setBrush(QColor(90, 60, 20));
    p.drawRect(QRectF(18, 35, 12, 4));
    return pixmap;
}

} // namespace pelfry
