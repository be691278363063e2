// The window's toolkit without a display, for the benchmarks that drive TMainForm: it answers
// the folder chooser with one folder, keeps what the window would show, and runs long commands
// on a worker thread, as the editor does. A message box ends the program with its text.
#pragma once

#include "app/Toolkit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelfry::bench {

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
    void ListClear() override { ListSetLines({}); }
    void ListSetLines(const std::vector<std::string>& lines) override {
        lines_ = lines;
        selected_.clear();
    }
    int ListCount() override { return static_cast<int>(lines_.size()); }
    std::string ListLine(int index) override { return lines_.at(static_cast<size_t>(index)); }
    // Every line is selected unless a command chose others.
    bool ListSelected(int index) override {
        return selected_.empty() || selected_.at(static_cast<size_t>(index));
    }
    int ListSelCount() override {
        int count = 0;
        for (int i = 0; i < ListCount(); ++i)
            count += ListSelected(i) ? 1 : 0;
        return count;
    }
    int ListFocused() override { return -1; }
    void ListSelect(const std::vector<int>& lines) override {
        selected_.assign(lines_.size(), false);
        for (int line : lines)
            selected_.at(static_cast<size_t>(line)) = true;
    }
    void ListEditLine(int) override {}
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
    // The add dialog chooses these files; it is cancelled when there are none.
    std::vector<std::string> AddFiles;
    bool ExecuteAddDialog() override { return !AddFiles.empty(); }
    std::vector<std::string> AddDialogFiles() override { return AddFiles; }
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
        std::fprintf(stderr, "%s\n", text.c_str());
        std::exit(1);
    }
    void ShowNotice(const std::string&) override {}
    bool OpenInPictureEditor(const std::string&) override { return false; }
    void WatchFile(const std::string&) override {}
    void UnwatchFile(const std::string&) override {}
    void PreviewSetEntry(const std::string&, TDirFile*) override {}
    bool PreviewShowSpriteStream(Stream*, bool) override { return false; }
    bool PreviewShowImage(Stream*) override { return false; }
    void PreviewClear() override {}

private:
    std::string folder_;
    std::vector<std::string> lines_;
    std::vector<bool> selected_;
    std::mutex mutex_;
    std::string progress_;
    std::atomic<int> done_{0};
};

} // namespace pelfry::bench
