// Building archives in memory and .DIR images by hand for the archive tests.
#pragma once

#include "archive/DirFileU.h"
#include "base/Bytes.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pelfry::test {

using Entry = std::pair<std::string, std::string>; // name, data

// An archive belonging to no file whose entries hold the given bytes, in order.
inline std::unique_ptr<TDirFile> MakeArchive(const std::vector<Entry>& entries) {
    auto dir = std::make_unique<TDirFile>();
    for (const auto& [name, data] : entries)
        dir->AppendEntry(name, data.empty() ? nullptr
                                            : std::make_shared<const std::vector<uint8_t>>(
                                                  data.begin(), data.end()));
    return dir;
}

inline std::string DataOf(const FileInfo& info) {
    return info.Data ? std::string(info.Data->begin(), info.Data->end()) : std::string();
}

inline std::vector<std::string> NamesOf(const TDirFile& dir) {
    std::vector<std::string> names;
    dir.ListEntries(names);
    return names;
}

// A .DIR image with the given DirOffset, raw data area and raw records area; FileSize holds
// the image's length, and the 4100 bytes of DirHeader and buckets are filled with `fill`
// (the reader must not care).
inline std::vector<uint8_t> RawDir(uint32_t dirOffset, const std::vector<uint8_t>& dataArea,
                                   const std::vector<uint8_t>& records, uint8_t fill = 0) {
    std::vector<uint8_t> out = {'D', 'I', 'R', 0x1A};
    PutU32(out, 0); // FileSize, set below
    PutU32(out, dirOffset);
    out.insert(out.end(), dataArea.begin(), dataArea.end());
    if (out.size() < dirOffset) out.resize(dirOffset, 0);
    out.resize(dirOffset + 4100, fill);
    out.insert(out.end(), records.begin(), records.end());
    SetU32(out, 4, static_cast<uint32_t>(out.size()));
    return out;
}

// One record with the name's bytes followed by `nuls` NUL bytes.
inline void PutRecord(std::vector<uint8_t>& out, uint32_t next, uint32_t offset, uint32_t size,
                      const std::string& name, size_t nuls) {
    PutU32(out, next);
    PutU32(out, offset);
    PutU32(out, size);
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), nuls, 0);
}

} // namespace pelfry::test
