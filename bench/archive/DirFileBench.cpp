// Loading and saving a large archive: 10,000 entries holding 100 MiB in all, generated once
// into a temporary folder that is removed when the program ends.
#include "archive/DirFileU.h"
#include "platform/FileUtil.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

using pelfry::TDirFile;

constexpr int EntryCount = 10000;
constexpr size_t TotalBytes = 100u << 20;

class LargeArchive {
public:
    LargeArchive() {
        std::string pattern = pelfry::TempFolder() + "pelfry-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        folder_ = pattern + "/";
        TDirFile dir;
        uint32_t seed = 1;
        for (int i = 0; i < EntryCount; ++i) {
            // Sizes vary around the mean; the last entry takes up the remainder.
            const size_t size = i + 1 < EntryCount ? TotalBytes / EntryCount / 2 +
                                                         (i * 7919u) % (TotalBytes / EntryCount)
                                                   : TotalBytes - total_;
            auto block = std::make_shared<std::vector<uint8_t>>(size);
            for (uint8_t& b : *block)
                b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
            char name[32];
            std::snprintf(name, sizeof name, "GFX\\E%05d.%s", i, i % 3 ? "IMG" : "SPR");
            dir.AppendEntry(name, std::move(block));
            total_ += size;
            lastName_ = name;
        }
        dir.SaveToFile(Path());
    }
    ~LargeArchive() {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    std::string Path() const { return folder_ + "LARGE.DIR"; }
    std::string Target() const { return folder_ + "SAVED.DIR"; }
    size_t Total() const { return total_; }
    const std::string& LastName() const { return lastName_; }

private:
    std::string folder_;
    size_t total_ = 0;
    std::string lastName_;
};

LargeArchive& Archive() {
    static LargeArchive archive;
    return archive;
}

void BM_LoadAll(benchmark::State& state) {
    const std::string path = Archive().Path();
    for (auto _ : state) {
        auto dir = TDirFile::Create(path, true);
        benchmark::DoNotOptimize(dir->Files().back().Data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Archive().Total()));
}
BENCHMARK(BM_LoadAll)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadRecordsOnly(benchmark::State& state) {
    const std::string path = Archive().Path();
    for (auto _ : state) {
        auto dir = TDirFile::Create(path, false);
        benchmark::DoNotOptimize(dir->Count());
    }
}
BENCHMARK(BM_LoadRecordsOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveToFile(benchmark::State& state) {
    auto dir = TDirFile::Create(Archive().Path(), true);
    for (auto _ : state)
        dir->SaveToFile(Archive().Target());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Archive().Total()));
}
BENCHMARK(BM_SaveToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveToBytes(benchmark::State& state) {
    auto dir = TDirFile::Create(Archive().Path(), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(dir->SaveToBytes());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Archive().Total()));
}
BENCHMARK(BM_SaveToBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FindLastEntry(benchmark::State& state) {
    auto dir = TDirFile::Create(Archive().Path(), false);
    const std::string name = Archive().LastName();
    for (auto _ : state)
        benchmark::DoNotOptimize(dir->FindEntry(name, 0));
}
BENCHMARK(BM_FindLastEntry)->Unit(benchmark::kMicrosecond);

} // namespace
