// The encoder on any pixel data (bytes masked below 128, at most 8 KiB so that the exhaustive
// search stays quick): its output must be byte for byte the exhaustive search's, the longest
// match and among the longest the farthest back, and must decode back to the input.
#include "image/ImgFileU.h"

#include "../../tests/image/ReferenceCompress.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t length = std::min<size_t>(size, 8192);
    std::vector<uint8_t> source(length);
    for (size_t i = 0; i < length; ++i)
        source[i] = data[i] & 0x7F;
    const int32_t n = static_cast<int32_t>(length);

    std::vector<uint8_t> fast(length + 2), exhaustive(length + 2);
    const int32_t fastCount = pelfry::Compress(source.data(), n, fast.data());
    const int32_t exhaustiveCount =
        pelfry::reference::Compress(source.data(), n, exhaustive.data());
    if (fastCount != exhaustiveCount || fastCount < 2 || fastCount > n + 2) std::abort();
    if (!std::equal(fast.begin(), fast.begin() + fastCount, exhaustive.begin())) std::abort();

    std::vector<uint8_t> back(length + 1);
    fast.resize(static_cast<size_t>(fastCount));
    const int32_t produced =
        pelfry::Decompress(back.data(), static_cast<int32_t>(back.size()), fast.data(), fastCount);
    if (produced != n || !std::equal(source.begin(), source.end(), back.begin())) std::abort();
    return 0;
}
