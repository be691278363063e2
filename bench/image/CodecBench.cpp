// The encoder against the exhaustive search it replaces, on 1 MiB of each kind of input in one
// run, and the decoder on what the encoder made. After the usual listing the program prints a
// table: for each input the fastest repetition of both encoders in CPU time and their ratio
// (exhaustive time over encoder time; above 1 means the encoder is faster).
//
//   build/bin/bench_image [--benchmark_repetitions=N] [--benchmark_filter=REGEX]
//   build/bin/bench_image --periods=FIRST-LAST   every period in the range, one line each
//   build/bin/bench_image --search=FIRST-LAST    the slowest of mixed-segment inputs made from
//                                                 seeds FIRST to LAST, against the mixed picture
//
// The inputs are the kinds of picture data the encoder meets, a few more, and inputs found hard
// for the encoder.
// Run from a Release build.
#include "image/ImgFileU.h"

#include "CodecInputs.h"
#include "ReferenceCompress.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Encoder = int32_t (*)(const uint8_t*, int32_t, uint8_t*);

constexpr size_t Size = size_t{1} << 20;

Bytes EncodeWith(Encoder encoder, const Bytes& source) {
    Bytes out(source.size() + 2);
    out.resize(static_cast<size_t>(
        encoder(source.data(), static_cast<int32_t>(source.size()), out.data())));
    return out;
}

void Encode(benchmark::State& state, Encoder encoder, const Bytes* source) {
    Bytes out(source->size() + 2);
    int32_t n = 0;
    for (auto _ : state) {
        n = encoder(source->data(), static_cast<int32_t>(source->size()), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    out.resize(static_cast<size_t>(n));
    // Timing an encoder that gives other bytes would be meaningless.
    if (encoder != pelfry::Compress && out != EncodeWith(pelfry::Compress, *source))
        state.SkipWithError("the encoder's stream differs from the exhaustive search's");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(source->size()));
    state.counters["stream_bytes"] = n;
}

void Decode(benchmark::State& state, const Bytes* source) {
    Bytes stream = EncodeWith(pelfry::Compress, *source);
    Bytes out(source->size() + 1);
    for (auto _ : state) {
        int32_t n = pelfry::Decompress(out.data(), static_cast<int32_t>(out.size()), stream.data(),
                                       static_cast<int32_t>(stream.size()));
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(out.data());
    }
    if (!std::equal(out.begin(), out.end() - 1, source->begin()))
        state.SkipWithError("decoded input differs");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(source->size()));
}

// The console listing, plus the fastest repetition of each benchmark for the table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    TableReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            // CPU time: the machine may be busy with other work while this runs.
            const double ms = run.cpu_accumulated_time * 1e3 / static_cast<double>(run.iterations);
            auto [it, fresh] = best_.try_emplace(run.run_name.function_name, ms);
            if (!fresh) it->second = std::min(it->second, ms);
        }
    }

    void PrintTable(const std::vector<std::string>& names) const {
        std::printf(
            "\n| input (1 MiB) | fast ms | exhaustive ms | ratio |\n| --- | --- | --- | --- |\n");
        for (const std::string& name : names) {
            auto fast = best_.find("Compress/" + name), slow = best_.find("Exhaustive/" + name);
            if (fast == best_.end()) continue;
            if (slow == best_.end())
                std::printf("| %s | %.3f | - | - |\n", name.c_str(), fast->second);
            else
                std::printf("| %s | %.3f | %.3f | %.2f |\n", name.c_str(), fast->second,
                            slow->second, slow->second / fast->second);
        }
    }

private:
    std::map<std::string, double> best_;
};

// The fastest of `tries` runs, in milliseconds of processor time (other work on the machine
// then matters less).
double FastestMs(Encoder encoder, const Bytes& source, int tries) {
    Bytes out(source.size() + 2);
    double best = 1e300;
    for (int t = 0; t < tries; ++t) {
        const std::clock_t start = std::clock();
        encoder(source.data(), static_cast<int32_t>(source.size()), out.data());
        benchmark::DoNotOptimize(out.data());
        best = std::min(best, 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    return best;
}

// Both encoders on 120-colour patterns of every period in [first, last]; ends with the lowest
// ratio. Periods past the window make the exhaustive search as slow as on noise.
int SweepPeriods(int first, int last) {
    double worst = 1e300;
    int worstPeriod = 0;
    for (int period = first; period <= last; ++period) {
        const Bytes source = pelfry::inputs::Periodic(Size, static_cast<size_t>(period), 120, 7);
        if (EncodeWith(pelfry::Compress, source) !=
            EncodeWith(pelfry::reference::Compress, source)) {
            std::printf("period %d: streams differ\n", period);
            return 1;
        }
        const double fast = FastestMs(pelfry::Compress, source, 5);
        const double slow = FastestMs(pelfry::reference::Compress, source, 3);
        std::printf("period %d: fast %.3f ms, exhaustive %.3f ms, ratio %.2f\n", period, fast, slow,
                    slow / fast);
        if (slow / fast < worst) {
            worst = slow / fast;
            worstPeriod = period;
        }
    }
    std::printf("lowest ratio %.2f at period %d\n", worst, worstPeriod);
    return 0;
}

// A random search for slow inputs: the encoder on 1 MiB of Segments for each seed; prints the
// slowest ten, in milliseconds and in multiples of the mixed picture's time.
int SearchSlowest(int first, int last) {
    const double mixed =
        FastestMs(pelfry::Compress, pelfry::inputs::MixedPicture(Size, 1024, 2024), 5);
    std::vector<std::pair<double, int>> slowest;
    for (int seed = first; seed <= last; ++seed) {
        const Bytes source = pelfry::inputs::Segments(Size, static_cast<uint32_t>(seed));
        slowest.push_back({FastestMs(pelfry::Compress, source, 2), seed});
        std::sort(slowest.rbegin(), slowest.rend());
        if (slowest.size() > 10) slowest.pop_back();
    }
    std::printf("mixed picture %.3f ms\n", mixed);
    for (const auto& [ms, seed] : slowest)
        std::printf("seed %d: %.3f ms, %.2f times the mixed picture\n", seed, ms, ms / mixed);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        int first = 0, last = 0;
        if (std::sscanf(argv[i], "--periods=%d-%d", &first, &last) == 2 && first >= 1 &&
            last >= first)
            return SweepPeriods(first, last);
        if (std::sscanf(argv[i], "--search=%d-%d", &first, &last) == 2 && last >= first)
            return SearchSlowest(first, last);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    static std::vector<Bytes> sources; // outlive the registered benchmarks
    std::vector<std::string> names;
    std::vector<pelfry::inputs::Kind> kinds = pelfry::inputs::AllKinds();
    for (pelfry::inputs::Kind& hard : pelfry::inputs::HardKinds())
        kinds.push_back(std::move(hard));
    sources.reserve(kinds.size());
    for (const pelfry::inputs::Kind& kind : kinds) {
        sources.push_back(kind.make(Size));
        names.push_back(kind.name);
        const Bytes* source = &sources.back();
        benchmark::RegisterBenchmark(("Compress/" + kind.name).c_str(), Encode, pelfry::Compress,
                                     source)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Exhaustive/" + kind.name).c_str(), Encode,
                                     pelfry::reference::Compress, source)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2);
    }
    static const Bytes flat = pelfry::inputs::Flat(Size);
    static const Bytes mixed = pelfry::inputs::MixedPicture(Size, 1024, 2024);
    benchmark::RegisterBenchmark("Decompress/mixed", Decode, &mixed)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Decompress/flat", Decode, &flat)->Unit(benchmark::kMillisecond);

    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTable(names);
    benchmark::Shutdown();
    return 0;
}
