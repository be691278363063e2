// A stream as files of /proc or of some network and FUSE file systems are: its size says 0, its
// reads deliver more.
#pragma once

#include "base/Stream.h"

#include <cstdint>
#include <vector>

namespace pelfry::test {

class SizeSaysNothing : public Stream {
public:
    explicit SizeSaysNothing(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    int64_t Read(void* buffer, int64_t count) override { return bytes_.Read(buffer, count); }
    int64_t Seek(int64_t offset, SeekOrigin origin) override { return bytes_.Seek(offset, origin); }
    int64_t Size() override { return 0; }

private:
    MemoryStream bytes_;
};

} // namespace pelfry::test
