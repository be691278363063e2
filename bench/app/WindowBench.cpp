// The window's batch commands without a display, for bench/cli/bench_cli.py to time against
// pelfry-cli on the same archive:
//
//     bench_window export|extract ARCHIVE FOLDER
//
// opens ARCHIVE as File, Open does, then runs "Extract, convert, log" or "Extract from directory"
// into FOLDER with every line selected, as a user would. The window logic runs through a toolkit
// that answers the folder chooser and keeps what the window would show; long commands run on a
// worker thread, as in the editor. Exits 1 with the message when a command fails.
#include "app/Main.h"
#include "app/Toolkit.h"
#include "archive/DirFileU.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace pelfry;

namespace {

class HeadlessToolkit : public Toolkit {
public:
    explicit HeadlessToolkit(std::string folder) : folder_(std::move(folder)) {}
    std::string Status;

    std::string ApplicationHint() override { return {}; }
    void SetHintHandler(std::function<void()>) override {}
    NumberSeparators LocaleSeparators() override { return {}; }
    void SetCaption(const std::string&) override {}
    void CloseWindow() override {}
    void RunInBackground(bool, std::function<void()> work,
                         std::function<void(std::exception_ptr)> finished) override {
        std::exception_ptr error;
        std::thread worker([&] {
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
        });
        worker.join();
        finished(error);
    }
    // As the editor's window: the latest progress kept for the next time it draws.
    void ShowProgress(int, int, const std::string& text) override {
        const std::lock_guard lock(mutex_);
        progress_ = text;
    }
    void RepaintNow() override { ++done_; }
    void ListClear() override { lines_.clear(); }
    void ListSetLines(const std::vector<std::string>& lines) override { lines_ = lines; }
    int ListCount() override { return static_cast<int>(lines_.size()); }
    std::string ListLine(int index) override { return lines_.at(static_cast<size_t>(index)); }
    bool ListSelected(int) override { return true; }
    int ListSelCount() override { return ListCount(); }
    int ListFocused() override { return -1; }
    void SetStatusText(const std::string& text) override { Status = text; }
    bool IsChecked(CheckBoxId box) override {
        return box != CheckBoxId::RecreateAll && box != CheckBoxId::PngInsteadOfBmp;
    }
    bool ExecuteOpenDialog() override { return false; }
    std::string OpenDialogFileName() override { return {}; }
    int OpenDialogFilterIndex() override { return 1; }
    void SetOpenDialogFilterIndex(int) override {}
    void SetOpenDialogFolder(const std::string&) override {}
    void ClearOpenDialogName() override {}
    bool ExecuteSaveDialog() override { return false; }
    std::string SaveDialogFileName() override { return {}; }
    void SetSaveDialogFolder(const std::string&) override {}
    bool ExecuteAddDialog() override { return false; }
    std::vector<std::string> AddDialogFiles() override { return {}; }
    bool ChooseSaveFile(const std::string&, const std::string&, const std::string&,
                        std::string&) override {
        return false;
    }
    bool ChooseFolder(const std::string&, std::string& chosen) override {
        chosen = folder_;
        return true;
    }
    MsgResult MessageBox(const std::string&, const std::string& text, MsgSymbol,
                         MsgButtons) override {
        std::fprintf(stderr, "bench_window: %s\n", text.c_str());
        std::exit(1);
    }
    void PreviewSetEntry(const std::string&, TDirFile*) override {}
    bool PreviewShowSpriteStream(Stream*, bool) override { return false; }
    bool PreviewShowImage(Stream*) override { return false; }
    void PreviewClear() override {}

private:
    std::string folder_;
    std::vector<std::string> lines_;
    std::mutex mutex_;
    std::string progress_;
    std::atomic<int> done_{0};
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 ||
        (std::strcmp(argv[1], "export") != 0 && std::strcmp(argv[1], "extract") != 0)) {
        std::fprintf(stderr, "usage: bench_window export|extract ARCHIVE FOLDER\n");
        return 2;
    }
    HeadlessToolkit ui(argv[3]);
    TMainForm form(ui);
    form.FormCreate();
    try {
        form.OpenArchiveFile(argv[2]);
        if (std::strcmp(argv[1], "export") == 0)
            form.btnExtrConvLogClick();
        else
            form.btnExtractClick();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_window: %s\n", e.what());
        return 1;
    }
    std::printf("%s\n", ui.Status.c_str());
    return 0;
}
