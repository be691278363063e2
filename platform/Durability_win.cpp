// The flush of a DurabilityScope on Windows: nothing is left to flush, since the replacing
// writer flushes every file before it names it (a whole volume can be flushed only by an
// administrator).
#include "Durability.h"

namespace pelfry {

uint64_t DurabilityScope::FileSystemFlushes() {
    return 0;
}

void DurabilityScope::FailNextFlush(int) {}

void DurabilityScope::Enrol(int, const std::string&) {}

void DurabilityScope::Flush() {}

} // namespace pelfry
