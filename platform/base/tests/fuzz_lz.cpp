// Fuzzes the LZ expansion: any bytes either expand to exactly the length
// their header gives or are refused.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/lz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    if (zq::ExpandSzdd({data, size}, out)) {
        uint32_t expected = data[10] | (data[11] << 8) | (data[12] << 16) | (static_cast<uint32_t>(data[13]) << 24);
        if (out.size() != expected) std::abort();
    }
    return 0;
}
