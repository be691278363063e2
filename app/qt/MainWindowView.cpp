// How the window uses its room: the client area growing with the window, the preview placed
// where its picture is seen whole and zoomed for pixel work, and the filter of the entry list.
#include "app/qt/MainWindow.h"

#include "base/Errors.h"
#include "sprite/Sprite.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QResizeEvent>
#include <QShortcut>
#include <QStatusBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace pelfry {

namespace {

// The preview's corner, and the margin it keeps from the client area's right edge.
constexpr int PreviewLeft = 232;
constexpr int PreviewTop = 200;
constexpr int RightMargin = 8;

} // namespace

void MainWindow::BuildFilter(QWidget* speedBar) {
    // Typing here shows only the entries whose names hold the text. It sits in the tool bar
    // above the list, reached by a click or Ctrl+F, and out of the Tab order of the controls.
    findEntry_ = new QLineEdit(speedBar);
    findEntry_->setObjectName("FindEntry");
    findEntry_->setPlaceholderText("Find entry");
    findEntry_->setToolTip("Find entry (Ctrl+F)");
    findEntry_->setClearButtonEnabled(true);
    findEntry_->setGeometry(120, 6, 97, 21);
    findEntry_->setFocusPolicy(Qt::ClickFocus);
    connect(findEntry_, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        findEntry_->setFocus(Qt::ShortcutFocusReason);
        findEntry_->selectAll();
    });
    commandControls_.push_back(findEntry_);
}

bool MainWindow::ClientEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) {
        LayOutClient();
        return false;
    }
    if (event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        if (!(wheel->modifiers() & Qt::ControlModifier) ||
            !previewRoom_.contains(wheel->position().toPoint()))
            return false;
        const int delta = wheel->angleDelta().y();
        if (delta != 0) ZoomPreview(delta > 0 ? 1 : -1);
        return true;
    }
    return false;
}

void MainWindow::LayOutClient() {
    const int width = client_->width();
    const int height = client_->height();
    // Buttons and check boxes keep their places from the top left; the list grows downwards,
    // the status line stays at the bottom.
    speedBar_->setGeometry(0, 0, width, 33);
    list_->setGeometry(8, 48, 209, 353 + height - ClientHeight);
    statusLine_->setGeometry(0, height - StatusHeight, width, StatusHeight);
    previewArea_->setGeometry(0, 0, width, height - StatusHeight);
    PlacePreview();
}

void MainWindow::PlacePreview() {
    // The room right of the list and below the Delete button, down to the list's bottom. The
    // check boxes reach into its top right corner: a picture wider than the room beside them
    // starts below them instead, wherever it is seen larger.
    const int right = client_->width() - RightMargin;
    const int bottom = list_->geometry().bottom() + 1;
    previewRoom_ = QRect(PreviewLeft, PreviewTop, right - PreviewLeft, bottom - PreviewTop);
    const QRect beside(PreviewLeft, PreviewTop, chkPngInsteadOfBmp_->x() - PreviewLeft,
                       previewRoom_.height());
    const int belowTop = chkPngInsteadOfBmp_->geometry().bottom() + 1;
    const QRect below(PreviewLeft, belowTop, previewRoom_.width(), bottom - belowTop);
    const QSize picture = preview_->PictureSize();
    const int zoom = preview_->Zoom();
    const QRect& room =
        PreviewScale(picture, below.size(), zoom) > PreviewScale(picture, beside.size(), zoom)
            ? below
            : beside;
    preview_->move(room.topLeft());
    preview_->SetRoom(room.size());
}

void MainWindow::ZoomPreview(int steps) {
    // From the zoom on show: a zoom asked beyond what fits would otherwise take as many steps
    // back before anything changed.
    const int shown = std::max(1, static_cast<int>(std::floor(preview_->Scale())));
    preview_->SetZoom(std::clamp(shown + steps, 1, MaxPreviewZoom));
    PlacePreview();
    const QSize size = preview_->PictureSize();
    if (!size.isEmpty() && !form_.Busy()) {
        SetStatusText(
            Format("%d x %d shown at %s", size.width(), size.height(), PreviewScaleText().c_str()));
        zoomText_ = status_->text();
    }
}

void MainWindow::SetPreviewEntry(const std::string& entry) {
    if (entry == previewEntry_) return;
    previewEntry_ = entry;
    // The zoom text tells of the picture it was shown for; a message written since stays.
    if (status_->text() == zoomText_) status_->clear();
    zoomText_.clear();
}

std::string MainWindow::PreviewScaleText() const {
    const double scale = preview_->Scale();
    return scale >= 1 ? Format("%dx", static_cast<int>(scale))
                      : Format("%d%%", static_cast<int>(scale * 100));
}

void MainWindow::ApplyFilter() {
    const QString text = findEntry_->text();
    list_->setUpdatesEnabled(false);
    for (int i = 0; i < list_->count(); ++i) {
        QListWidgetItem* item = list_->item(i);
        const bool hide = !text.isEmpty() && !item->text().contains(text, Qt::CaseInsensitive);
        if (hide) item->setSelected(false);
        item->setHidden(hide);
    }
    list_->setUpdatesEnabled(true);
}

} // namespace pelfry
