// Feeds an escape of the table arbitrary input bytes and an output size, on
// a stream record and a PCL record, before StartDoc and on an open page.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/escapes.h"
#include "render/output.h"
#include "render/spool_stream.h"

namespace {

class NullSink : public pclrend::Sink {
public:
    uint32_t Write(const uint8_t*, uint32_t size) override { return size; }
};

const ULONG kCodes[] = {8,     17,    19,    20,    5000,  5001,  5002,       5003,       5004,      5005,
                        5006,  5007,  5008,  5009,  5010,  5011,  5012,       5013,       5014,      5015,
                        5016,  5017,  5018,  5019,  5020,  5021,  16376,      16377,      16378,     16379,
                        16380, 16381, 16382, 16383, 0x7FFFFFF8, 0x7FFFFFF7, 0x7FFFFFF6};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const ULONG code = kCodes[data[0] % std::size(kCodes)];
    const uint8_t mode = data[1];
    uint16_t outSize;
    std::memcpy(&outSize, data + 2, 2);
    outSize %= 4096;
    data += 4;
    size -= 4;

    zq::PrivateDevmode dm{};
    dm.privateVersion = zq::kPrivateDevmodeVersion;
    dm.dm.dmPrintQuality = 300;
    dm.dm.dmCopies = 1;
    dm.dm.dmDuplex = (mode & 8) ? 2 : 1;
    dm.printerLanguage = (mode & 1) ? 4 : 0;
    dm.metaSpool = (mode & 2) ? 1 : 0;
    auto& g = dm.paperFormats[0];
    g.width = 850, g.length = 1100, g.printableWidth = 800, g.printableLength = 1050;
    dm.paperFormats[1] = g;
    pclrend::DeviceRecord r;
    if (!pclrend::RecordFromDevmode(r, dm)) return 0;
    pclrend::DecideOutputMode(r, dm);
    if (!pclrend::AllocateBuffers(r, false) || !pclrend::StreamEnable(r, 1)) return 0;
    NullSink sink;
    r.sink = &sink;
    r.featureWords[2] = (mode & 16) ? 0x1800 : 0;
    if (mode & 4) {
        if (r.outputMode == 4) {
            pclrend::StreamStartDoc(r, u"fuzz");
            pclrend::StreamStartPage(r);
        } else {
            r.jobState = pclrend::kJobOpen | pclrend::kJobPageOpen;
            r.pageCount = 1;
        }
    }
    std::vector<uint8_t> in(data, data + size);
    std::vector<uint8_t> out(outSize);
    pclrend::Escape(r, code, static_cast<ULONG>(in.size()), in.empty() ? nullptr : in.data(), outSize,
                    outSize ? out.data() : nullptr);
    if (r.outputMode == 4 && r.jobState >= pclrend::kJobOpen) {
        r.pageSuppressed = 0;
        pclrend::StreamSendPage(r);
        pclrend::StreamEndDoc(r);
    }
    return 0;
}
