// fuzz_replay TARGET [FOLDER|FILE]...: replays every file of the folders (or files) through
// the fuzz target named, so the seed corpus runs under ctest without libFuzzer. Also feeds a
// few generated inputs (empty, every single byte, truncations of each seed) so even a small
// corpus reaches the readers' early exits.
#include "ReplayTargets.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

static const ReplayTarget* Target = nullptr;

static void Run(const std::vector<uint8_t>& bytes) {
    // Copy into an exactly sized heap block so the sanitizers catch reads past the end.
    std::vector<uint8_t> exact(bytes);
    Target->Run(exact.empty() ? nullptr : exact.data(), exact.size());
}

int main(int argc, char** argv) {
    for (const ReplayTarget& t : ReplayTargets)
        if (argc > 1 && std::strcmp(argv[1], t.Name) == 0) Target = &t;
    if (Target == nullptr) {
        std::fprintf(stderr, "usage: fuzz_replay TARGET [FOLDER|FILE]...\ntargets:");
        for (const ReplayTarget& t : ReplayTargets)
            std::fprintf(stderr, " %s", t.Name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 2; i < argc; ++i) {
        fs::path p(argv[i]);
        if (fs::is_directory(p)) {
            for (const auto& e : fs::recursive_directory_iterator(p))
                if (e.is_regular_file()) files.push_back(e.path());
        } else if (fs::is_regular_file(p)) {
            files.push_back(p);
        }
    }
    Run({});
    for (int b = 0; b < 256; ++b)
        Run({static_cast<uint8_t>(b)});
    size_t runs = 257;
    // A small hand-made corpus gets many truncations of each seed; a corpus grown by a campaign
    // already holds many short variants, and fewer per seed keep its replay quick.
    const size_t cuts = std::clamp<size_t>(4096 / (files.size() + 1), 4, 64);
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        Run(bytes);
        ++runs;
        // Truncations at a spread of lengths.
        size_t step = bytes.size() / cuts + 1;
        for (size_t n = 0; n < bytes.size(); n += step, ++runs)
            Run(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    }
    std::printf("replayed %zu inputs from %zu seed files\n", runs, files.size());
    return 0;
}
