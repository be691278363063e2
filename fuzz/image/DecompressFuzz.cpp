// The decoder on any bytes: it must stay inside its buffers and never report more than the
// destination holds. The first byte picks the destination's size, the rest is the stream.
#include "image/ImgFileU.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t capacity = static_cast<size_t>(data[0]) * 16 + (size & 15);
    std::vector<uint8_t> stream(data + 1, data + size); // exactly sized, so overreads are caught
    std::vector<uint8_t> out(capacity);
    int32_t n = pelfry::Decompress(out.data(), static_cast<int32_t>(out.size()), stream.data(),
                                   static_cast<int32_t>(stream.size()));
    if (n < 0 || static_cast<size_t>(n) > capacity) std::abort();
    return 0;
}
