// The window's conversions and batch commands: extract, extract and convert, delete, add or
// replace, convert and add, and the whole-archive round trip through a conversion log.
//
// Every command walks its files in order, shows "Processing file %d of %d: %s" before each and
// repaints after it, so the status line follows the work while the command runs. An error ends
// the command at the file being processed; what was done for earlier files stays done.
#include "app/Main.h"

#include "app/Convert.h"
#include "app/LogRoundTrip.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/Text.h"

#include <chrono>

namespace pelfry {

namespace {

ConvertOptions CheckBoxOptions(Toolkit& ui) {
    ConvertOptions options;
    options.CompressSpr = ui.IsChecked(CheckBoxId::CompSpr);
    options.CompressImg = ui.IsChecked(CheckBoxId::CompImg);
    options.OpaqueImg = ui.IsChecked(CheckBoxId::OpaqueImg);
    return options;
}

void ShowUseError(Toolkit& ui, const char* text) {
    ui.MessageBox("Error", text, MsgSymbol::Error, mbCancel);
}

void ShowProgress(Toolkit& ui, int number, int total, const std::string& file) {
    ui.SetStatusText(Format("Processing file %d of %d: %s", number, total, file.c_str()));
}

} // namespace

// ---- Conversions, with the check boxes read at the moment of each call -------------------------

void TMainForm::ConvertFile(const std::string& fileName, std::string& resultName) {
    resultName = pelfry::ConvertFile(fileName);
}

void TMainForm::ConvertBack(const std::string& fileName, bool recreate, bool& converted,
                            std::string& resultName) {
    converted = pelfry::ConvertBack(fileName, recreate, CheckBoxOptions(toolkit_), resultName);
}

void TMainForm::ConvertImgFile(const std::string& fileName) { pelfry::ConvertImgFile(fileName); }

void TMainForm::ConvertSprFile(const std::string& fileName) { pelfry::ConvertSprFile(fileName); }

void TMainForm::ConvertSpdFile(const std::string& baseName) {
    pelfry::ConvertSpdFile(baseName, CheckBoxOptions(toolkit_));
}

void TMainForm::ConvertBmpFile(const std::string& baseName) {
    pelfry::ConvertBmpFile(baseName, CheckBoxOptions(toolkit_));
}

// ---- Commands on the selected lines ------------------------------------------------------------

void TMainForm::RefreshList() {
    std::vector<std::string> names;
    CurrentArchive->ListEntries(names);
    toolkit_.ListSetLines(names);
}

std::vector<int> TMainForm::SelectedEntries() {
    // A selected line beyond the archive's last entry (the list shows a log that does not
    // match the archive) is no entry and is passed over.
    std::vector<int> entries;
    const int lines = toolkit_.ListCount();
    for (int i = 0; i < lines; ++i)
        if (toolkit_.ListSelected(i) && static_cast<uint32_t>(i) < CurrentArchive->Count()) entries.push_back(i);
    return entries;
}

void TMainForm::ExtractSelected(const char* summary, std::optional<PictureFormat> converted,
                                const std::function<void(int index)>& work) {
    if (!ChooseExtractFolder()) return;
    if (toolkit_.ListSelCount() == 0) return ShowUseError(toolkit_, "No files selected!");
    const int total = toolkit_.ListSelCount();
    const std::vector<int> entries = SelectedEntries();
    CheckDistinctFiles(*CurrentArchive, std::vector<int32_t>(entries.begin(), entries.end()),
                       ExtractFolder, converted);
    int n = 0;
    for (int i : entries) {
        ++n;
        ShowProgress(toolkit_, n, total, CurrentArchive->Files[static_cast<size_t>(i)].Name);
        work(i);
    }
    toolkit_.SetStatusText(Format(summary, n));
}

void TMainForm::btnExtractClick() {
    ExtractSelected("Extracted %d file(s)", std::nullopt, [this](int i) {
        ExtractEntryOrFail(*CurrentArchive, ExtractFolder, i);
        toolkit_.RepaintNow();
    });
}

void TMainForm::btnExtrConvertClick() {
    ExtractSelected("Extracted and converted %d file(s)", PictureFormat::Bmp, [this](int i) {
        const std::string extracted = ExtractEntryOrFail(*CurrentArchive, ExtractFolder, i);
        std::string result;
        ConvertFile(extracted, result);
        toolkit_.RepaintNow();
        // Only the editable files stay: the game file goes once it has been converted.
        if (result != extracted) DeleteFile(extracted);
    });
}

void TMainForm::btnDeleteClick() {
    const int selected = toolkit_.ListSelCount();
    if (selected == 0) return ShowUseError(toolkit_, "No files selected!");
    std::vector<std::string> names;
    for (int i = 0; i < toolkit_.ListCount(); ++i)
        if (toolkit_.ListSelected(i)) names.push_back(toolkit_.ListLine(i));
    // Each entry is found by its line's text: deleting moves the last entry into the gap, so
    // indexes change as the loop goes. A line that names no entry is skipped.
    for (const std::string& name : names) {
        const int32_t k = CurrentArchive->FindEntry(name, 0);
        if (k >= 0) CurrentArchive->DeleteEntry(k);
    }
    ClearPreviewIfGone();
    toolkit_.SetStatusText(Format("Deleted %d file(s)", selected));
    RefreshList();
}

// ---- Commands on files chosen from disk --------------------------------------------------------

int TMainForm::AddFiles(const std::vector<std::string>& files, bool convertBack) {
    int n = 0;
    for (const std::string& p : files) {
        ++n;
        ShowProgress(toolkit_, n, static_cast<int>(files.size()), p);
        std::string result = p;
        if (convertBack) {
            bool converted = false;
            ConvertBack(p, toolkit_.IsChecked(CheckBoxId::RecreateAll), converted, result);
        }
        int32_t index = 0;
        CurrentArchive->AddFile(ExtractFilePath(result), ExtractFileName(result), index);
        // A replaced entry that the preview shows is gone from the archive.
        ClearPreviewIfGone();
        toolkit_.RepaintNow();
        // The game file was only a step on the way into the archive; the edited files stay.
        if (result != p) DeleteFile(result);
    }
    RefreshList();
    return n;
}

void TMainForm::btnAddClick() {
    int n = 0;
    if (toolkit_.ExecuteAddDialog()) n = AddFiles(toolkit_.AddDialogFiles(), false);
    toolkit_.SetStatusText(Format("Added %d file(s)", n));
}

void TMainForm::btnConvAddClick() {
    // Measured on a steady clock, so a command that runs past midnight still reports the time
    // it took; shown as a fraction of a day.
    const auto start = std::chrono::steady_clock::now();
    int n = 0;
    if (toolkit_.ExecuteAddDialog()) n = AddFiles(toolkit_.AddDialogFiles(), true);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    // Written with the decimal separator of the user's locale.
    toolkit_.SetStatusText(
        Format("Converted and added %d file(s) in time %s", n,
               FormatG(elapsed.count() / 86400.0, toolkit_.LocaleSeparators().Decimal).c_str()));
}

// ---- The conversion log round trip ----------------------------------------------------------

void TMainForm::btnExtrConvLogClick() {
    if (!ChooseExtractFolder()) return;
    const int lines = toolkit_.ListCount();
    if (lines == 0) return ShowUseError(toolkit_, "No files to extract!");
    // A name the log cannot hold would rebuild into another archive: refused before anything
    // is written.
    CheckLogNames(toolkit_.ListLines());
    std::vector<int32_t> entries;
    for (int i = 0; i < lines && static_cast<uint32_t>(i) < CurrentArchive->Count(); ++i)
        entries.push_back(i);
    const std::string log = LogFileName(ExtractFolder, CurrentFileName);
    CheckDistinctFiles(*CurrentArchive, entries, ExtractFolder, PictureFormat::Bmp,
                       ExtractFileName(log));
    for (int i = 0; i < lines; ++i) {
        // Every line, selected or not; a line beyond the archive's entries has nothing to export.
        if (static_cast<uint32_t>(i) >= CurrentArchive->Count()) continue;
        const std::string name = CurrentArchive->Files[static_cast<size_t>(i)].Name;
        ShowProgress(toolkit_, i + 1, lines, name);
        ExportEntry(*CurrentArchive, ExtractFolder, i);
        toolkit_.RepaintNow();
    }
    toolkit_.ListSaveToFile(log);
    toolkit_.SetStatusText(
        Format("Extracted and converted %d file(s); wrote log to %s", lines, log.c_str()));
}

void TMainForm::btnConvAddLogClick() {
    // The rebuild replaces the archive: an edited one is not dropped unasked.
    if (!QuerySaveChanges()) return;
    toolkit_.SetOpenDialogFilterIndex(5);
    int converted = 0;
    if (toolkit_.ExecuteOpenDialog()) {
        const std::string logName = toolkit_.OpenDialogFileName();
        ResetArchive();
        ClearPreview();
        try {
            toolkit_.ListLoadFromFile(logName);
            // The edited files and the entries are looked for beside the log.
            const std::string folder = ExtractFilePath(logName);
            const int lines = toolkit_.ListCount();
            for (int k = 0; k < lines; ++k) {
                const std::string line = toolkit_.ListLine(k);
                toolkit_.SetStatusText(Format("Processing file %d of %d: %s%s", k + 1, lines,
                                              folder.c_str(), line.c_str()));
                // The check boxes are read for each line, as for every conversion.
                if (RebuildEntry(*CurrentArchive, folder, line,
                                 toolkit_.IsChecked(CheckBoxId::RecreateAll),
                                 CheckBoxOptions(toolkit_)))
                    ++converted;
                toolkit_.RepaintNow();
            }
        } catch (...) {
            // What was rebuilt so far is not the archive that was open: it must never be
            // saved over that file by a later Save or Close, only under a new name.
            ForgetFile();
            throw;
        }
    }
    toolkit_.SetStatusText(Format("Read log from %s; converted %d of %d file(s) added",
                                  toolkit_.OpenDialogFileName().c_str(), converted,
                                  toolkit_.ListCount()));
}

} // namespace pelfry
