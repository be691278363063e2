// pelfry [ARCHIVE]: the directory editor. Sets the program's title, builds the main window,
// opens ARCHIVE when one is given (as File, Open would, with its errors in the same box) and
// runs the event loop until the window closes. `pelfry --help` and `pelfry --version` answer
// before the GUI toolkit starts, so they need no display.
#include "app/qt/MainWindow.h"
#include "platform/Process.h"
#include "platform/ReplacingFile.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

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

pelfry::StartArguments Arguments(int argc, char** argv) {
    return pelfry::ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc));
}

} // namespace

int main(int argc, char** argv) {
    // Started from a console, --help and errors are printed there (on Windows, too), as the
    // same bytes as everywhere.
    pelfry::UseParentConsole();
    pelfry::UseBinaryStandardStreams();
    // Names and paths in UTF-8, whatever the system's code page.
    pelfry::ProgramArguments arguments(argc, argv);
    argc = arguments.Count();
    argv = arguments.Values();
    // Read before Qt takes its own options out: these two are answered whatever else is given.
    const pelfry::StartArguments asked = Arguments(argc, argv);
    if (asked.Help || asked.Version) {
        std::fputs(asked.Help ? pelfry::StartUsage : "pelfry " PELFRY_VERSION "\n", stdout);
        return 0;
    }
    // A Ctrl-C or kill during a save must not leave a temporary file beside the archive.
    pelfry::InstallTempFileCleanup();
    PelfryApplication application(argc, argv);
    QApplication::setApplicationName("Pelfry");
    // Qt has taken its own options out of argv; the rest are the program's.
    const pelfry::StartArguments start = Arguments(argc, argv);
    if (!start.Error.empty()) {
        std::fprintf(stderr, "pelfry: %s\n%s", start.Error.c_str(), pelfry::StartUsage);
        return 2;
    }
    pelfry::MainWindow window;
    application.Window = &window;
    window.show();
    if (!start.Archive.empty()) {
        // Once the window is on screen, so that an error box stands over it.
        QMetaObject::invokeMethod(
            &window, [&window, &start] { window.OpenAtStart(start.Archive); },
            Qt::QueuedConnection);
    }
    const int result = QApplication::exec();
    application.Window = nullptr;
    return result;
}
