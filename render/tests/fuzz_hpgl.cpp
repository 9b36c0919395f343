// Feeds arbitrary bytes to the test-side reader as HP-GL/2 inside a PCL 5
// job, after the set-up our renderer writes, on a small page: at 64 x 64
// dots every command and clip edge is still reached, and a larger page only
// costs painting time per input.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "pclread/pclread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr std::string_view kLead =
        "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n\x1b" "E\x1b%1BINSP1IP0,0,1016,1016SC0,300,0,-300IR0,100PU0,0TR0PP1PW0";
    std::vector<uint8_t> job(kLead.begin(), kLead.end());
    job.insert(job.end(), data, data + size);
    pclread::Options options;
    options.pageWidth = 64;
    options.pageHeight = 64;
    options.maxPages = 2;
    auto parsed = pclread::Read(job, options);
    (void)parsed;
    return 0;
}
