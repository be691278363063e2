// The window's conversions and batch commands: extract, extract and convert, delete, add or
// replace, convert and add, and the whole-archive round trip through a conversion log.
//
// Every command walks its files in order, shows "Processing file %d of %d: %s" before each and
// repaints after it, so the status line follows the work while the command runs. An error ends
// the command at the file being processed; what was done for earlier files stays done.
#include "app/Main.h"

#include "app/Convert.h"
#include "app/LogRoundTrip.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "platform/FileUtil.h"

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

// From a long command's worker.
void ShowProgress(Toolkit& ui, int number, int total, const std::string& file) {
    ui.ShowProgress(number, total,
                    Format("Processing file %d of %d: %s", number, total, file.c_str()));
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

void TMainForm::ConvertImgFile(const std::string& fileName) {
    pelfry::ConvertImgFile(fileName);
}

void TMainForm::ConvertSprFile(const std::string& fileName) {
    pelfry::ConvertSprFile(fileName);
}

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
        if (toolkit_.ListSelected(i) && static_cast<uint32_t>(i) < CurrentArchive->Count())
            entries.push_back(i);
    return entries;
}

void TMainForm::ExtractSelected(const char* summary, std::optional<PictureFormat> converted,
                                std::function<void(const std::string& folder, int index)> work) {
    if (!ChooseExtractFolder()) return;
    if (toolkit_.ListSelCount() == 0) return ShowUseError(toolkit_, "No files selected!");
    const std::vector<int> entries = SelectedEntries();
    CheckDistinctFiles(*CurrentArchive, std::vector<int32_t>(entries.begin(), entries.end()),
                       ExtractFolder, converted);
    auto walk = std::make_shared<Walk>();
    walk->Total = toolkit_.ListSelCount();
    TDirFile* archive = CurrentArchive.get();
    RunLong(
        true,
        [this, walk, archive, work = std::move(work), entries, folder = ExtractFolder] {
            for (int i : entries) {
                if (StopBefore(*walk)) return;
                ShowProgress(toolkit_, walk->Done + 1, walk->Total,
                             archive->Files[static_cast<size_t>(i)].Name);
                work(folder, i);
                ++walk->Done;
            }
        },
        [this, walk, summary] {
            // Files written before a Cancel stay.
            toolkit_.SetStatusText(walk->Stopped ? CancelledText(*walk)
                                                 : Format(summary, walk->Done));
        });
}

void TMainForm::btnExtractClick() {
    ExtractSelected("Extracted %d file(s)", std::nullopt, [this](const std::string& folder, int i) {
        ExtractEntryOrFail(*CurrentArchive, folder, i);
        toolkit_.RepaintNow();
    });
}

void TMainForm::btnExtrConvertClick() {
    ExtractSelected("Extracted and converted %d file(s)", PictureFormat::Bmp,
                    [this](const std::string& folder, int i) {
                        const std::string extracted =
                            ExtractEntryOrFail(*CurrentArchive, folder, i);
                        std::string result;
                        ConvertFile(extracted, result);
                        toolkit_.RepaintNow();
                        // Only the editable files stay: the game file goes once it has been
                        // converted.
                        if (result != extracted) DeleteFile(extracted);
                    });
}

void TMainForm::btnDeleteClick() {
    const int selected = toolkit_.ListSelCount();
    if (selected == 0) return ShowUseError(toolkit_, "No files selected!");
    std::vector<std::string> names;
    for (int i = 0; i < toolkit_.ListCount(); ++i)
        if (toolkit_.ListSelected(i)) names.push_back(toolkit_.ListLine(i));
    auto walk = std::make_shared<Walk>();
    walk->Total = selected;
    TDirFile* archive = CurrentArchive.get();
    RunLong(
        true,
        [this, walk, archive, names = std::move(names)] {
            // Each entry is found by its line's text: deleting moves the last entry into the
            // gap, so indexes change as the loop goes. A line that names no entry is skipped.
            for (const std::string& name : names) {
                if (StopBefore(*walk)) return;
                const int32_t k = archive->FindEntry(name, 0);
                if (k >= 0) archive->DeleteEntry(k);
                ++walk->Done;
            }
        },
        [this, walk] {
            ClearPreviewIfGone();
            toolkit_.SetStatusText(walk->Stopped ? CancelledText(*walk)
                                                 : Format("Deleted %d file(s)", walk->Total));
            RefreshList();
        });
}

// ---- Commands on files chosen from disk --------------------------------------------------------

void TMainForm::AddFiles(const std::vector<std::string>& files, bool convertBack,
                         const std::function<std::string(int added)>& summary) {
    auto walk = std::make_shared<Walk>();
    walk->Total = static_cast<int>(files.size());
    TDirFile* archive = CurrentArchive.get();
    RunLong(
        true,
        [this, walk, archive, files, convertBack] {
            for (const std::string& p : files) {
                if (StopBefore(*walk)) return;
                ShowProgress(toolkit_, walk->Done + 1, walk->Total, p);
                std::string result = p;
                if (convertBack) {
                    bool converted = false;
                    ConvertBack(p, toolkit_.IsChecked(CheckBoxId::RecreateAll), converted, result);
                }
                int32_t index = 0;
                archive->AddFile(ExtractFilePath(result), ExtractFileName(result), index);
                ++walk->Done;
                toolkit_.RepaintNow();
                // The game file was only a step on the way into the archive; the edited files
                // stay.
                if (result != p) DeleteFile(result);
            }
        },
        [this, walk, summary] {
            // A replaced entry that the preview shows is gone from the archive. Entries added
            // before a Cancel stay, unsaved.
            ClearPreviewIfGone();
            RefreshList();
            toolkit_.SetStatusText(walk->Stopped ? CancelledText(*walk) : summary(walk->Done));
        },
        [this] { ClearPreviewIfGone(); });
}

void TMainForm::btnAddClick() {
    auto summary = [](int n) { return Format("Added %d file(s)", n); };
    if (!toolkit_.ExecuteAddDialog()) return toolkit_.SetStatusText(summary(0));
    AddFiles(toolkit_.AddDialogFiles(), false, summary);
}

void TMainForm::btnConvAddClick() {
    // Measured on a steady clock, so a command that runs past midnight still reports the time
    // it took; shown as a fraction of a day, with the decimal separator of the user's locale.
    const auto start = std::chrono::steady_clock::now();
    auto summary = [this, start](int n) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        return Format(
            "Converted and added %d file(s) in time %s", n,
            FormatG(elapsed.count() / 86400.0, toolkit_.LocaleSeparators().Decimal).c_str());
    };
    if (!toolkit_.ExecuteAddDialog()) return toolkit_.SetStatusText(summary(0));
    AddFiles(toolkit_.AddDialogFiles(), true, summary);
}

// ---- The conversion log round trip ----------------------------------------------------------

void TMainForm::btnExtrConvLogClick() {
    if (!ChooseExtractFolder()) return;
    const std::vector<std::string> lines = toolkit_.ListLines();
    if (lines.empty()) return ShowUseError(toolkit_, "No files to extract!");
    // A name the log cannot hold would rebuild into another archive: refused before anything
    // is written.
    CheckLogNames(lines);
    const std::string log = LogFileName(ExtractFolder, CurrentFileName);
    std::vector<int32_t> entries;
    for (size_t i = 0; i < lines.size() && i < CurrentArchive->Count(); ++i)
        entries.push_back(static_cast<int32_t>(i));
    CheckDistinctFiles(*CurrentArchive, entries, ExtractFolder, PictureFormat::Bmp,
                       ExtractFileName(log));
    auto walk = std::make_shared<Walk>();
    walk->Total = static_cast<int>(lines.size());
    TDirFile* archive = CurrentArchive.get();
    RunLong(
        true,
        [this, walk, archive, folder = ExtractFolder] {
            for (int i = 0; i < walk->Total; ++i) {
                if (StopBefore(*walk)) return;
                // Every line, selected or not; a line beyond the archive's entries has nothing
                // to export.
                if (static_cast<uint32_t>(i) < archive->Count()) {
                    ShowProgress(toolkit_, i + 1, walk->Total,
                                 archive->Files[static_cast<size_t>(i)].Name);
                    ExportEntry(*archive, folder, i);
                    toolkit_.RepaintNow();
                }
                walk->Done = i + 1;
            }
        },
        [this, walk, log] {
            // Only a finished export has a log: a rebuild from it would miss entries.
            if (walk->Stopped) return toolkit_.SetStatusText(CancelledText(*walk));
            toolkit_.ListSaveToFile(log);
            logFolder_ = ExtractFilePath(log);
            toolkit_.SetStatusText(Format("Extracted and converted %d file(s); wrote log to %s",
                                          walk->Total, log.c_str()));
        });
}

void TMainForm::btnConvAddLogClick() {
    // The rebuild replaces the archive: an edited one is not dropped unasked.
    QuerySaveChanges([this] {
        toolkit_.SetOpenDialogFilterIndex(5);
        // The log is looked for where the last export wrote one, else where entries were last
        // extracted, and not under the name of a file opened before.
        toolkit_.SetOpenDialogFolder(logFolder_.empty() ? ExtractFolder : logFolder_);
        toolkit_.ClearOpenDialogName();
        if (!toolkit_.ExecuteOpenDialog()) {
            toolkit_.SetStatusText(Format("Read log from %s; converted 0 of %d file(s) added",
                                          toolkit_.OpenDialogFileName().c_str(),
                                          toolkit_.ListCount()));
            return;
        }
        RebuildFromLog(toolkit_.OpenDialogFileName());
    });
}

void TMainForm::RebuildFromLog(const std::string& logName) {
    ResetArchive();
    ClearPreview();
    try {
        toolkit_.ListLoadFromFile(logName);
    } catch (...) {
        ForgetFile();
        throw;
    }
    auto walk = std::make_shared<Walk>();
    auto converted = std::make_shared<int>(0);
    const std::vector<std::string> lines = toolkit_.ListLines();
    walk->Total = static_cast<int>(lines.size());
    TDirFile* archive = CurrentArchive.get();
    // What was rebuilt when the command failed or was cancelled is not the archive that was
    // open: it must never be saved over that file by a later Save or Close, only under a new
    // name.
    RunLong(
        true,
        [this, walk, converted, archive, lines, logName] {
            // The edited files and the entries are looked for beside the log.
            const std::string folder = ExtractFilePath(logName);
            for (const std::string& line : lines) {
                if (StopBefore(*walk)) return;
                ShowProgress(toolkit_, walk->Done + 1, walk->Total, folder + line);
                // The check boxes are read for each line, as for every conversion.
                if (RebuildEntry(*archive, folder, line,
                                 toolkit_.IsChecked(CheckBoxId::RecreateAll),
                                 CheckBoxOptions(toolkit_)))
                    ++*converted;
                ++walk->Done;
                toolkit_.RepaintNow();
            }
        },
        [this, walk, converted, logName] {
            if (walk->Stopped) {
                ForgetFile();
                return toolkit_.SetStatusText(CancelledText(*walk));
            }
            toolkit_.SetStatusText(Format("Read log from %s; converted %d of %d file(s) added",
                                          logName.c_str(), *converted, walk->Total));
        },
        [this] { ForgetFile(); });
}

} // namespace pelfry
