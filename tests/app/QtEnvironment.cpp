// One QApplication for the whole GUI suite, made when the tests start (not when they are only
// listed), on the offscreen platform unless another one was asked for.
#include <QApplication>

#include <gtest/gtest.h>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef PELFRY_TEST_FONT_DIR
        // On Windows the offscreen platform has no system fonts, only a folder of font files.
        if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR"))
            qputenv("QT_QPA_FONTDIR", PELFRY_TEST_FONT_DIR);
#endif
        app_ = new QApplication(argc_, argv_);
        QApplication::setApplicationName("Pelfry");
        // Tests close windows; that must not end the event loops of later tests.
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "gui_tests";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};

const ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
