// The user's picture editor: the desktop's application for PNG pictures unless the user names a
// program with "Picture editor…" in the Edit menu. The choice is kept with QSettings, for every
// later run.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QRadioButton;

namespace pelfry {

// The program chosen, as a command line (the program, then any options of its own); empty for
// the desktop's application.
QString PictureEditorProgram();
void SetPictureEditorProgram(const QString& program);

// Opens `file` in the picture editor: the chosen program is started on it, apart from this one;
// without one, the desktop opens it as it opens any PNG file (xdg-open on Linux, the shell's
// association on Windows). False when nothing could be started.
bool OpenInPictureEditor(const QString& file);

// "Picture editor…": the desktop's application, or a program typed or browsed for.
class PictureEditorDialog : public QDialog {
public:
    explicit PictureEditorDialog(QWidget* parent);
    // Keeps the choice.
    void accept() override;

private:
    QRadioButton* desktop_ = nullptr;
    QRadioButton* program_ = nullptr;
    QLineEdit* command_ = nullptr;
};

} // namespace pelfry
