// Feeds arbitrary bytes to the test-side reader's PCL XL part, as the
// stream that follows the PJL switch to PCL XL.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pclread/pclxl_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> errors;
    pclread::XlSession session;
    session.maxPixels = 1 << 19;  // small sheets keep the runs fast; the checks are the same
    pclread::ReadXl(std::span<const uint8_t>(data, size), 0, 2, session, errors);
    return 0;
}
