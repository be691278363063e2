#include "app/qt/PictureEditor.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QUrl>
#include <QVBoxLayout>

namespace pelfry {

namespace {

constexpr const char* ProgramKey = "PictureEditor/Program";

QSettings Settings() {
    return QSettings("Pelfry", "Pelfry");
}

} // namespace

QString PictureEditorProgram() {
    return Settings().value(ProgramKey).toString().trimmed();
}

void SetPictureEditorProgram(const QString& program) {
    QSettings settings = Settings();
    if (program.trimmed().isEmpty())
        settings.remove(ProgramKey);
    else
        settings.setValue(ProgramKey, program.trimmed());
}

bool OpenInPictureEditor(const QString& file) {
    const QString command = PictureEditorProgram();
    if (command.isEmpty()) return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    // A program named with spaces in its path is quoted, as on a command line.
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty()) return false;
    const QString program = words.takeFirst();
    return QProcess::startDetached(program, words << file);
}

PictureEditorDialog::PictureEditorDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("PictureEditorDialog");
    setWindowTitle("Picture editor");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Edit in picture editor opens pictures in:", this));
    desktop_ = new QRadioButton("The desktop's application for PNG pictures", this);
    desktop_->setObjectName("DesktopEditor");
    program_ = new QRadioButton("This program:", this);
    program_->setObjectName("ChosenEditor");
    command_ = new QLineEdit(PictureEditorProgram(), this);
    command_->setObjectName("EditorProgram");
    command_->setPlaceholderText("gimp");
    command_->setMinimumWidth(260);
    auto* browse = new QPushButton("Browse\xE2\x80\xA6", this);
    auto* row = new QHBoxLayout;
    row->addWidget(program_);
    row->addWidget(command_, 1);
    row->addWidget(browse);
    layout->addWidget(desktop_);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    (command_->text().isEmpty() ? desktop_ : program_)->setChecked(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(command_, &QLineEdit::textEdited, this, [this] { program_->setChecked(true); });
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getOpenFileName(this, "Picture editor");
        if (chosen.isEmpty()) return;
        // Quoted, so that a path with spaces stays one word of the command.
        command_->setText(chosen.contains(' ') ? '"' + chosen + '"' : chosen);
        program_->setChecked(true);
    });
}

void PictureEditorDialog::accept() {
    SetPictureEditorProgram(program_->isChecked() ? command_->text() : QString());
    QDialog::accept();
}

} // namespace pelfry
