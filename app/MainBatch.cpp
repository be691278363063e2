// The window's conversions and batch commands: extract, extract and convert, delete, add or
// replace, convert and add, and the whole-archive round trip through a conversion log.
//
// Every command but Delete is the batch engine's (app/Batch.h), shared with pelfry-cli: it walks
// its files in order, shows "Processing file %d of %d: %s" before each and moves the progress
// bar after it. An error ends the command at the file being processed; what was done for earlier
// files stays done.
#include "app/Main.h"

#include "app/Batch.h"
#include "app/Convert.h"
#include "app/LogRoundTrip.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "platform/FileUtil.h"

#include <chrono>

namespace pelfry {

namespace {

void ShowUseError(Toolkit& ui, const char* text) {
    ui.MessageBox("Error", text, MsgSymbol::Error, mbCancel);
}

} // namespace

// On the worker: the progress bar and its text, Cancel, and the check boxes as they stand when
// each file's turn comes.
class TMainForm::Follower : public BatchFollower {
public:
    explicit Follower(TMainForm& form) : form_(form) {}
    bool Cancelled() override { return form_.cancel_; }
    void Begin(int number, int total, const std::string& shown) override {
        form_.toolkit_.ShowProgress(
            number, total, Format("Processing file %d of %d: %s", number, total, shown.c_str()));
    }
    void End(int) override { form_.toolkit_.RepaintNow(); }
    BackSettings Settings() override {
        return {form_.toolkit_.IsChecked(CheckBoxId::RecreateAll), form_.CheckBoxOptions()};
    }

private:
    TMainForm& form_;
};

// ---- Conversions, with the check boxes read at the moment of each call -------------------------

ConvertOptions TMainForm::CheckBoxOptions() {
    ConvertOptions options;
    options.CompressSpr = toolkit_.IsChecked(CheckBoxId::CompSpr);
    options.CompressImg = toolkit_.IsChecked(CheckBoxId::CompImg);
    options.OpaqueImg = toolkit_.IsChecked(CheckBoxId::OpaqueImg);
    return options;
}

PictureFormat TMainForm::ChosenFormat() {
    return toolkit_.IsChecked(CheckBoxId::PngInsteadOfBmp) ? PictureFormat::Png
                                                           : PictureFormat::Bmp;
}

void TMainForm::ConvertFile(const std::string& fileName, std::string& resultName) {
    resultName = pelfry::ConvertFile(fileName, ChosenFormat());
}

void TMainForm::ConvertBack(const std::string& fileName, bool recreate, bool& converted,
                            std::string& resultName) {
    converted = pelfry::ConvertBack(fileName, recreate, CheckBoxOptions(), resultName);
}

void TMainForm::ConvertImgFile(const std::string& fileName) {
    pelfry::ConvertImgFile(fileName, ChosenFormat());
}

void TMainForm::ConvertSprFile(const std::string& fileName) {
    pelfry::ConvertSprFile(fileName, ChosenFormat());
}

void TMainForm::ConvertSpdFile(const std::string& baseName) {
    pelfry::ConvertSpdFile(baseName, CheckBoxOptions());
}

void TMainForm::ConvertBmpFile(const std::string& baseName) {
    pelfry::ConvertBmpFile(baseName, CheckBoxOptions());
}

// ---- Commands on the selected lines ------------------------------------------------------------

void TMainForm::RefreshList() {
    std::vector<std::string> names;
    CurrentArchive->ListEntries(names);
    toolkit_.ListSetLines(names);
}

std::vector<int> TMainForm::SelectedEntries() {
    // A selected line beyond the archive's last entry (the list shows a log that names an entry
    // twice) is no entry and is passed over.
    std::vector<int> entries;
    const int lines = toolkit_.ListCount();
    for (int i = 0; i < lines; ++i)
        if (toolkit_.ListSelected(i) && static_cast<uint32_t>(i) < CurrentArchive->Count())
            entries.push_back(i);
    return entries;
}

void TMainForm::ExtractSelected(const char* summary, bool convert) {
    if (!ChooseExtractFolder()) return;
    if (toolkit_.ListSelCount() == 0) return ShowUseError(toolkit_, "No files selected!");
    ExtractJob job;
    const std::vector<int> entries = SelectedEntries();
    job.Entries.assign(entries.begin(), entries.end());
    job.Folder = ExtractFolder;
    if (convert) job.Convert = ChosenFormat();
    job.Jobs = DefaultJobs();
    auto walk = std::make_shared<BatchResult>();
    RunLong(
        true,
        [this, walk, job](TDirFile& archive) {
            Follower follower(*this);
            *walk = Extract(archive, job, follower);
        },
        [this, walk, summary] {
            // Files written before a Cancel stay.
            toolkit_.SetStatusText(walk->Stopped ? CancelledText(*walk)
                                                 : Format(summary, walk->Done));
        });
}

void TMainForm::btnExtractClick() {
    if (Idle()) ExtractSelected("Extracted %d file(s)", false);
}

void TMainForm::btnExtrConvertClick() {
    if (Idle()) ExtractSelected("Extracted and converted %d file(s)", true);
}

void TMainForm::btnDeleteClick() {
    if (!Idle()) return;
    const int selected = toolkit_.ListSelCount();
    if (selected == 0) return ShowUseError(toolkit_, "No files selected!");
    std::vector<std::string> names;
    for (int i = 0; i < toolkit_.ListCount(); ++i)
        if (toolkit_.ListSelected(i)) names.push_back(toolkit_.ListLine(i));
    auto walk = std::make_shared<BatchResult>();
    auto deleted = std::make_shared<std::vector<std::string>>();
    walk->Total = selected;
    RunLong(
        true,
        [this, walk, deleted, names = std::move(names)](TDirFile& archive) {
            // Each entry is found by its line's text: deleting moves the last entry into the
            // gap, so indexes change as the loop goes. A line that names no entry (any more) is
            // skipped, and not counted as deleted.
            for (const std::string& name : names) {
                walk->Stopped = cancel_;
                if (walk->Stopped) return;
                const int32_t k = archive.FindEntry(name, 0);
                if (k >= 0) {
                    archive.DeleteEntry(k);
                    deleted->push_back(name);
                }
                ++walk->Done;
            }
        },
        [this, walk, deleted] {
            ClearPreviewIfGone();
            toolkit_.SetStatusText(
                walk->Stopped ? CancelledText(*walk)
                              : Format("Deleted %d file(s)", static_cast<int>(deleted->size())));
            RefreshList();
        },
        {},
        [deleted] {
            return StepName("delete", deleted->size(), deleted->empty() ? "" : deleted->front());
        });
}

// ---- Commands on files chosen from disk --------------------------------------------------------

void TMainForm::AddFiles(const std::vector<std::string>& files, bool convertBack,
                         const std::function<std::string(int added)>& summary,
                         const std::string& action) {
    auto walk = std::make_shared<BatchResult>();
    AddJob job;
    job.Files = files;
    job.ConvertBack = convertBack;
    job.Jobs = DefaultJobs();
    RunLong(
        true,
        [this, walk, job](TDirFile& archive) {
            Follower follower(*this);
            *walk = pelfry::AddFiles(archive, job, follower);
        },
        [this, walk, summary] {
            // A replaced entry that the preview shows is gone from the archive. Entries added
            // before a Cancel stay, unsaved.
            ClearPreviewIfGone();
            RefreshList();
            toolkit_.SetStatusText(walk->Stopped ? CancelledText(*walk) : summary(walk->Done));
        },
        [this] {
            // Entries added before the failing file stay, and the list shows them.
            ClearPreviewIfGone();
            RefreshList();
        },
        [walk, files, convertBack, action] {
            // The files are added in order: one done is the first.
            const std::string first = files.empty() ? std::string() : files.front();
            return StepName(action, static_cast<size_t>(walk->Done),
                            ExtractFileName(convertBack ? BackConversionTarget(first) : first));
        });
}

void TMainForm::btnAddClick() {
    if (!Idle()) return;
    auto summary = [](int n) { return Format("Added %d file(s)", n); };
    if (!toolkit_.ExecuteAddDialog()) return toolkit_.SetStatusText(summary(0));
    AddFiles(toolkit_.AddDialogFiles(), false, summary, "add");
}

void TMainForm::btnConvAddClick() {
    if (!Idle()) return;
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
    AddFiles(toolkit_.AddDialogFiles(), true, summary, "convert and add");
}

// ---- The conversion log round trip ----------------------------------------------------------

void TMainForm::btnExtrConvLogClick() {
    if (!Idle() || !ChooseExtractFolder()) return;
    ExportJob job;
    job.LogLines = toolkit_.ListLines();
    if (job.LogLines.empty() || CurrentArchive->Count() == 0)
        return ShowUseError(toolkit_, "No files to extract!");
    job.Folder = ExtractFolder;
    job.Format = ChosenFormat();
    job.Log = LogFileName(ExtractFolder, CurrentFileName);
    job.Jobs = DefaultJobs();
    auto walk = std::make_shared<BatchResult>();
    RunLong(
        true,
        [this, walk, job](TDirFile& archive) {
            Follower follower(*this);
            *walk = Export(archive, job, follower);
        },
        [this, walk, log = job.Log] {
            // Only a finished export has a log: a rebuild from it would miss entries.
            if (walk->Stopped) return toolkit_.SetStatusText(CancelledText(*walk));
            logFolder_ = ExtractFilePath(log);
            toolkit_.SetStatusText(Format("Extracted and converted %d file(s); wrote log to %s",
                                          walk->Done, log.c_str()));
        });
}

void TMainForm::btnConvAddLogClick() {
    if (!Idle()) return;
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
    // A fresh archive is filled, unchanged until an entry is added; undo brings back the
    // entries it replaced.
    const auto before = std::make_shared<const FileArray>(CurrentArchive->Files());
    auto step = [this, before] { RecordStep("reconstruct from log", *before); };
    CurrentArchive->ApplyChange({}, false);
    ClearPreview();
    try {
        toolkit_.ListLoadFromFile(logName);
    } catch (...) {
        step();
        ForgetFile();
        throw;
    }
    auto walk = std::make_shared<BatchResult>();
    // What was rebuilt when the command failed or was cancelled is not the archive that was
    // open: it must never be saved over that file by a later Save or Close, only under a new
    // name; and the list shows what it holds, not the lines it never reached.
    auto unfinished = [this, step] {
        step();
        ForgetFile();
        RefreshList();
    };
    RunLong(
        true,
        [this, walk, lines = toolkit_.ListLines(), logName](TDirFile& archive) {
            Follower follower(*this);
            // The edited files and the entries are looked for beside the log.
            *walk = Rebuild(archive, logName, lines, DefaultJobs(), follower);
        },
        [this, walk, logName, step, unfinished] {
            if (walk->Stopped) {
                unfinished();
                return toolkit_.SetStatusText(CancelledText(*walk));
            }
            step();
            toolkit_.SetStatusText(Format("Read log from %s; converted %d of %d file(s) added",
                                          logName.c_str(), walk->Converted, walk->Total));
        },
        unfinished);
}

} // namespace pelfry
