// Long commands off the window's thread: the worker, its progress in the status line and the
// bar beside it, Cancel, and the controls that wait meanwhile.
//
// The worker never waits for the window: it posts its progress (the latest only, once until
// shown) and its end to the window's thread, which alone touches the widgets. The window
// touches the archive only after the end has arrived.
#include "app/qt/MainWindow.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

namespace pelfry {

void MainWindow::BuildProgress(QStatusBar* statusLine) {
    // Beside the status text while a long command runs: its progress, and the one control
    // that answers then (Escape presses it).
    progressBar_ = new QProgressBar(statusLine);
    progressBar_->setObjectName("Progress");
    progressBar_->setMaximumSize(120, 16);
    progressBar_->setTextVisible(false);
    progressBar_->hide();
    statusLine->addPermanentWidget(progressBar_);
    cancelButton_ = new QPushButton("Cancel", statusLine);
    cancelButton_->setObjectName("btnCancel");
    cancelButton_->setMaximumHeight(19);
    cancelButton_->setAutoDefault(false);
    cancelButton_->setShortcut(QKeySequence(Qt::Key_Escape));
    cancelButton_->setFocusPolicy(Qt::NoFocus);
    cancelButton_->hide();
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        form_.CancelCommand();
        cancelButton_->setEnabled(false);
    });
    statusLine->addPermanentWidget(cancelButton_);
}

MainWindow::~MainWindow() {
    if (worker_.joinable()) {
        // Between two files at most; its end, posted to a window that is going, is dropped.
        form_.CancelCommand();
        worker_.join();
    }
}

void MainWindow::RunInBackground(bool cancellable, std::function<void()> work,
                                 std::function<void(std::exception_ptr)> finished) {
    // One worker at a time: a command asked for while one runs waits for its end.
    if (worker_.joinable()) {
        waiting_.push_back({cancellable, std::move(work), std::move(finished)});
        return;
    }
    SetBusy(true, cancellable);
    worker_ = std::thread([this, work = std::move(work), finished = std::move(finished)]() mutable {
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        // What the work held (a writers' lock, a file) goes with it, before the end is told.
        work = nullptr;
        QMetaObject::invokeMethod(
            this,
            [this, error, finished = std::move(finished)] {
                worker_.join();
                SetBusy(false, false);
                Guarded([&] { finished(error); });
                if (!waiting_.empty() && !worker_.joinable()) {
                    LongCommand next = std::move(waiting_.front());
                    waiting_.pop_front();
                    RunInBackground(next.Cancellable, std::move(next.Work),
                                    std::move(next.Finished));
                }
            },
            Qt::QueuedConnection);
    });
}

void MainWindow::ShowProgress(int number, int total, const std::string& text) {
    const std::lock_guard lock(progressMutex_);
    progress_.Text = text;
    progress_.Total = total;
    progress_.Done = number - 1;
    PostProgress();
}

void MainWindow::RepaintNow() {
    const std::lock_guard lock(progressMutex_);
    ++progress_.Done;
    PostProgress();
}

void MainWindow::PostProgress() {
    if (progress_.Posted) return;
    progress_.Posted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            std::unique_lock lock(progressMutex_);
            progress_.Posted = false;
            const std::string text = progress_.Text;
            const int total = progress_.Total;
            const int done = progress_.Done;
            lock.unlock();
            // Progress that arrives after its command ended is no news.
            if (!form_.Busy()) return;
            status_->setText(DisplayText(text));
            progressBar_->setRange(0, total);
            progressBar_->setValue(std::clamp(done, 0, total));
        },
        Qt::QueuedConnection);
}

void MainWindow::SetBusy(bool busy, bool cancellable) {
    if (busy) {
        const std::lock_guard lock(progressMutex_);
        progress_.Text.clear();
        progress_.Total = progress_.Done = 0;
        focusBeforeBusy_ = focusWidget();
    }
    for (QWidget* control : commandControls_)
        control->setEnabled(!busy);
    for (QAction* item : menuItems_)
        item->setEnabled(!busy);
    // Until the first file is reported the bar only shows that work goes on.
    progressBar_->setRange(0, 0);
    progressBar_->setVisible(busy);
    cancelButton_->setEnabled(cancellable);
    cancelButton_->setVisible(busy);
    if (!busy && focusBeforeBusy_ && focusBeforeBusy_->isEnabled())
        focusBeforeBusy_->setFocus(Qt::OtherFocusReason);
}

} // namespace pelfry
