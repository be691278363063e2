// Fuzz target of the .spd description reader: any text gives values or raises pelfry::Error.
#include "base/Errors.h"
#include "sprite/SprFileU.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        pelfry::ReadSpd(std::vector<uint8_t>(data, data + size));
    } catch (const pelfry::Error&) {
    }
    return 0;
}
