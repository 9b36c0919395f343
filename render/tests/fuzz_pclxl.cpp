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
    // Sheets of at most 126,000 pixels (a letter or A4 sheet at the seeds' 36
    // units an inch), with the sanitizer's header, stay within its pooled
    // sizes (128 KB): a larger one is mapped and unmapped for every input,
    // and the page faults set the pace. The checks are the same.
    session.maxPixels = 126000;
    // Streams that run streams replay at most sixteen times the input (64 KB
    // for a real job of a few hundred bytes): the same bound, and the same
    // nesting, at a pace that lets the fuzzer try many more streams.
    session.minStreamReplay = 4096;
    // Likewise the points paths paint: 64 a byte of the input, 64K at least.
    session.paintPointsPerByte = 64;
    session.minPaintPoints = 65536;
    pclread::ReadXl(std::span<const uint8_t>(data, size), 0, 2, session, errors);
    return 0;
}
