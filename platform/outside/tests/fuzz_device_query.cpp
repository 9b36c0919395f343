// Arbitrary fixture text, and arbitrary bytes as a record handed back by the
// device-query library: the media reader stays within the record.
#include <cstdint>
#include <string_view>
#include <vector>

#include "outside/device_query_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto record = zq::DeviceQueryFromFixture(text)) {
        const auto media = zq::DeviceQueryInputMedia(record->data(), record->size());
        if (media.size() > 64) __builtin_trap();
    }
    const std::vector<uint8_t> bytes(data, data + size);
    (void)zq::DeviceQueryInputMedia(bytes.data(), bytes.size());
    return 0;
}
