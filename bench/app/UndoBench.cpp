// What the window's undo history costs: a 5,000-entry archive of 10 KiB entries (50 MB) is
// opened through TMainForm without a display, then a session of 100 changes is made through the
// window's commands (renames, moves with Alt+Up and Alt+Down and by dragging, deletes, adds),
// and the heap in use is measured before and after, by counting every allocation of the
// program. Then every step is undone, and the bytes Save would write must be the archive's.
//
//     bench_undo [ENTRIES] [STEPS]
//
// For comparison it measures what keeping the whole entry list once for each step would cost.
#include "HeadlessToolkit.h"

#include "app/Main.h"
#include "archive/DirFileU.h"
#include "platform/FileUtil.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace {

// The bytes the program holds on its heap: every new and delete passes through here.
std::atomic<long long> heapInUse{0};
constexpr size_t Header = alignof(std::max_align_t);

void* Allocate(size_t size) {
    void* block = std::malloc(size + Header);
    if (!block) throw std::bad_alloc();
    *static_cast<size_t*>(block) = size;
    heapInUse += static_cast<long long>(size);
    return static_cast<char*>(block) + Header;
}

void Release(void* pointer) noexcept {
    if (!pointer) return;
    void* block = static_cast<char*>(pointer) - Header;
    heapInUse -= static_cast<long long>(*static_cast<size_t*>(block));
    std::free(block);
}

} // namespace

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void operator delete(void* pointer) noexcept {
    Release(pointer);
}
void operator delete[](void* pointer) noexcept {
    Release(pointer);
}
void operator delete(void* pointer, size_t) noexcept {
    Release(pointer);
}
void operator delete[](void* pointer, size_t) noexcept {
    Release(pointer);
}

using namespace pelfry;
using pelfry::bench::HeadlessToolkit;

namespace {

double Megabytes(long long bytes) {
    return static_cast<double>(bytes) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int steps = argc > 2 ? std::atoi(argv[2]) : 100;
    constexpr size_t EntrySize = 10 * 1024;
    std::mt19937 random(29);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("pelfry-bench-undo-" + std::to_string(random()));
    std::filesystem::create_directories(folder);
    const std::string archivePath = (folder / "BIG.DIR").string();
    {
        TDirFile archive;
        for (int i = 0; i < entries; ++i) {
            auto block = std::make_shared<std::vector<uint8_t>>(EntrySize);
            for (uint8_t& b : *block)
                b = static_cast<uint8_t>(random());
            archive.AppendEntry(Format("GFX\\ENTRY%05d.IMG", i), std::move(block));
        }
        archive.SaveToFile(archivePath);
    }
    const std::string addFile = (folder / "NEW.PAL").string();
    WriteWholeFile(addFile, std::vector<uint8_t>(EntrySize, 7));

    HeadlessToolkit ui(folder.string());
    TMainForm form(ui);
    form.FormCreate();
    form.OpenArchiveFile(archivePath);
    const std::vector<uint8_t> opened = form.CurrentArchive->SaveToBytes();
    const long long before = heapInUse;

    int adds = 0;
    auto line = [&] { return static_cast<int>(random() % form.CurrentArchive->Count()); };
    for (int step = 0; step < steps; ++step) {
        const int first = line();
        switch (step % 5) {
        case 0:
            form.RenameLine(first, Format("RENAMED%04d.IMG", step));
            break;
        case 1:
            ui.ListSelect({first, first + 2 < entries - 1 ? first + 2 : first});
            (step / 5) % 2 ? form.EditMoveUp() : form.EditMoveDown();
            break;
        case 2: { // ten lines dragged a long way
            std::vector<int> dragged;
            for (int i = 0; i < 10; ++i)
                dragged.push_back(std::min(first + i, entries - 20));
            ui.ListSelect(dragged);
            form.MoveSelectedTo(line());
            break;
        }
        case 3:
            ui.ListSelect({first});
            form.btnDeleteClick();
            break;
        case 4: // appended, then replaced: the archive holds a new block each time
            ui.AddFiles = {addFile};
            form.btnAddClick();
            ++adds;
            break;
        }
    }
    const long long after = heapInUse;

    // The same number of steps if each kept the whole entry list.
    long long lists = 0;
    {
        const long long start = heapInUse;
        std::vector<FileArray> kept(static_cast<size_t>(steps), form.CurrentArchive->Files());
        lists = heapInUse - start;
    }

    int undone = 0;
    while (form.EditCommands().CanUndo) {
        form.EditUndo();
        ++undone;
    }
    const bool same = form.CurrentArchive->SaveToBytes() == opened;
    std::printf("archive: %d entries, %.1f MB of entry data\n", entries,
                Megabytes(static_cast<long long>(entries) * EntrySize));
    std::printf("heap after opening: %.2f MB\n", Megabytes(before));
    // The blocks the adds read are the archive's own growth, not the history's.
    const long long history = after - before - static_cast<long long>(adds) * EntrySize;
    std::printf("heap after %d changes: %.2f MB (+%.3f MB: %.3f MB the %d entries added, "
                "%.3f MB the history, %.2f KB a step)\n",
                steps, Megabytes(after), Megabytes(after - before),
                Megabytes(static_cast<long long>(adds) * EntrySize), adds, Megabytes(history),
                static_cast<double>(history) / steps / 1e3);
    std::printf("the whole entry list kept for each step instead: +%.2f MB\n", Megabytes(lists));
    std::printf("undone %d steps: Save writes the archive as opened: %s\n", undone,
                same ? "yes" : "NO");
    std::filesystem::remove_all(folder);
    return same ? 0 : 1;
}
