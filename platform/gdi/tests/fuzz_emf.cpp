// Arbitrary bytes through the metafile reader: every input either parses or
// gives an error, without reading outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "gdi/emf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto result = zq::emf::ParseEmf(std::span<const uint8_t>(data, size));
    if (result.document) {
        // Touch every bitmap pixel accessor at its corners, as a player would.
        for (auto& rec : result.document->records) {
            if (auto* s = std::get_if<zq::emf::StretchDib>(&rec)) {
                int32_t h = s->dib.height < 0 ? -s->dib.height : s->dib.height;
                (void)s->dib.Pixel(s->dib.width - 1, h - 1);
                (void)s->dib.Pixel(0, 0);
            }
        }
    }
    return 0;
}
