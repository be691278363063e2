// pelfry: the directory editor. Sets the program's title, builds the main window and runs
// the event loop until the window closes.
#include "app/qt/MainWindow.h"

#include <QApplication>

namespace {

// Every command runs inside MainWindow::Guarded, which shows its errors. Should an error
// still reach the event loop, it is shown by the same handler and the program goes on.
class PelfryApplication : public QApplication {
public:
    using QApplication::QApplication;

    pelfry::MainWindow* Window = nullptr;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            if (Window) Window->ShowError(std::current_exception());
            return false;
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    PelfryApplication application(argc, argv);
    QApplication::setApplicationName("Pelfry");
    pelfry::MainWindow window;
    application.Window = &window;
    window.show();
    const int result = QApplication::exec();
    application.Window = nullptr;
    return result;
}
