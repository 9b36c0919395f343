// Feeds arbitrary bytes, after the PJL switch to PCL XL, to the test-side
// reader's PCL XL part.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "pclread/pclread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr std::string_view kEnter = "@PJL ENTER LANGUAGE=PCLXL\n";
    std::vector<uint8_t> job(kEnter.begin(), kEnter.end());
    job.insert(job.end(), data, data + size);
    pclread::Options options;
    options.maxPages = 2;
    options.keepCommands = false;
    auto read = pclread::Read(job, options);
    (void)read;
    return 0;
}
