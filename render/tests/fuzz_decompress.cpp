// The row decoders on arbitrary data; and every decoded row coded again by
// the renderer's coders must decode to the same row.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pclread/pclread.h"
#include "render/raster.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t kind = data[0] % 4;
    std::span<const uint8_t> body(data + 1, size - 1);
    std::vector<uint8_t> seed(64, 0x5A);
    std::vector<uint8_t> row = seed;
    bool ok = false;
    switch (kind) {
    case 0: ok = pclread::DecodePackBits(body, row); break;
    case 1: ok = pclread::DecodePackBits16(body, row); break;
    case 2: ok = pclread::DecodeDelta(body, row); break;
    case 3: ok = pclread::DecodeRunLength(body, row); break;
    }
    if (!ok || row.size() > 100000) return 0;
    std::vector<uint8_t> coded(static_cast<size_t>(pclrend::WorstCaseRow(static_cast<int32_t>(row.size()))) + 8);
    const int32_t n = pclrend::PackBits(row, coded);
    if (n < 0) std::abort();
    std::vector<uint8_t> back;
    if (!pclread::DecodePackBits({coded.data(), static_cast<size_t>(n)}, back) || back != row) std::abort();
    std::vector<uint8_t> seedOfSize(row.size(), 0);
    std::vector<uint8_t> delta(row.size() * 2 + 8);
    const int32_t d = pclrend::DeltaRow(row, seedOfSize, delta);
    if (d < 0) std::abort();
    if (!pclread::DecodeDelta({delta.data(), static_cast<size_t>(d)}, seedOfSize) || seedOfSize != row) std::abort();
    return 0;
}
