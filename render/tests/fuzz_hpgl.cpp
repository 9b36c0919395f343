// Feeds arbitrary bytes to the test-side reader as HP-GL/2 inside a PCL 5
// job, after the set-up our renderer writes, on a small page.
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
    options.pageWidth = 200;
    options.pageHeight = 200;
    options.maxPages = 4;
    auto parsed = pclread::Read(job, options);
    (void)parsed;
    return 0;
}
