// The window's batch commands without a display, for bench/cli/bench_cli.py to time against
// pelfry-cli on the same archive:
//
//     bench_window export|extract ARCHIVE FOLDER
//
// opens ARCHIVE as File, Open does, then runs "Extract, convert, log" or "Extract from directory"
// into FOLDER with every line selected, as a user would. The window logic runs through a toolkit
// that answers the folder chooser and keeps what the window would show; long commands run on a
// worker thread, as in the editor. Exits 1 with the message when a command fails.
#include "HeadlessToolkit.h"

#include "app/Main.h"

#include <cstdio>
#include <cstring>
#include <exception>

using namespace pelfry;
using pelfry::bench::HeadlessToolkit;

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
