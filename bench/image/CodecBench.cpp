// The encoder against the exhaustive search it replaces, on the same pictures in one run, and
// the decoder on what the encoder made. Pictures are 1024 x 1024 palette indices:
// - "mixed": 120 colours, noise with flat rectangles over about half of it;
// - "flat": one colour.
// Run from a Release build: build/bin/bench_image.
#include "image/ImgFileU.h"

#include "ReferenceCompress.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int Side = 1024;

Bytes MixedPicture() {
    std::mt19937 rng(2024);
    Bytes image(static_cast<size_t>(Side) * Side);
    for (uint8_t& v : image) v = static_cast<uint8_t>(rng() % 120);
    // Flat rectangles of 16 to 240 pixels a side until about half the picture is flat.
    std::vector<bool> flat(image.size(), false);
    size_t covered = 0;
    while (covered < image.size() / 2) {
        int w = 16 + static_cast<int>(rng() % 225), h = 16 + static_cast<int>(rng() % 225);
        int x0 = static_cast<int>(rng() % (Side - w)), y0 = static_cast<int>(rng() % (Side - h));
        uint8_t colour = static_cast<uint8_t>(rng() % 120);
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                size_t i = static_cast<size_t>(y) * Side + x;
                image[i] = colour;
                if (!flat[i]) {
                    flat[i] = true;
                    ++covered;
                }
            }
    }
    return image;
}

Bytes FlatPicture() { return Bytes(static_cast<size_t>(Side) * Side, 17); }

const Bytes& Picture(int which) {
    static const Bytes mixed = MixedPicture();
    static const Bytes flat = FlatPicture();
    return which == 0 ? mixed : flat;
}

template <int32_t (*Encoder)(const uint8_t*, int32_t, uint8_t*)>
void Encode(benchmark::State& state) {
    const Bytes& source = Picture(static_cast<int>(state.range(0)));
    Bytes out(source.size() + 2);
    int32_t n = 0;
    for (auto _ : state) {
        n = Encoder(source.data(), static_cast<int32_t>(source.size()), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
    state.counters["stream_bytes"] = n;
    state.SetLabel(state.range(0) == 0 ? "mixed" : "flat");
}

void BM_Compress(benchmark::State& state) { Encode<pelfry::Compress>(state); }
void BM_CompressExhaustive(benchmark::State& state) { Encode<pelfry::reference::Compress>(state); }

void BM_Decompress(benchmark::State& state) {
    const Bytes& source = Picture(static_cast<int>(state.range(0)));
    Bytes stream(source.size() + 2);
    stream.resize(static_cast<size_t>(pelfry::Compress(source.data(), static_cast<int32_t>(source.size()), stream.data())));
    Bytes out(source.size() + 1);
    for (auto _ : state) {
        int32_t n = pelfry::Decompress(out.data(), static_cast<int32_t>(out.size()), stream.data(),
                                       static_cast<int32_t>(stream.size()));
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(out.data());
    }
    if (!std::equal(out.begin(), out.end() - 1, source.begin())) state.SkipWithError("decoded picture differs");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
    state.SetLabel(state.range(0) == 0 ? "mixed" : "flat");
}

} // namespace

BENCHMARK(BM_Compress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressExhaustive)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
