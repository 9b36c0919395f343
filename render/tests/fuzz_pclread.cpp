// Feeds arbitrary bytes to the test-side PCL reader.
#include <cstddef>
#include <cstdint>

#include "pclread/pclread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pclread::Options options;
    options.pageWidth = 300;
    options.pageHeight = 300;
    options.maxPages = 4;
    options.keepCommands = false;
    auto job = pclread::Read({data, size}, options);
    (void)job;
    return 0;
}
