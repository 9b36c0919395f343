// Packed device-independent bitmaps from outside (spool files, brushes):
// every header must be refused or drawn without reading past the bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gdi/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The same bytes as run-length rows of a small image (its size and
    // depth from the first two bytes): nothing written outside it.
    if (size >= 2) {
        std::vector<BYTE> rows;
        const LONG width = 1 + data[1] % 64, height = 1 + data[0] % 32;
        zq::gdi::DecodeRle(std::span<const BYTE>(data + 2, size - 2), data[0] & 0x80 ? 4 : 8, width, height, rows);
    }
    auto dib = zq::gdi::LoadPackedDib(std::span<const BYTE>(data, size));
    if (!dib) return 0;
    // Draw it once, scaled, onto both kinds of band bitmap.
    using namespace zq::gdi;
    for (ULONG format : {BMF_1BPP, BMF_24BPP}) {
        Bitmap target(16, 16, format);
        Surface* src = dib->bitmap->Get();
        EngineXlate xlo(dib->palette ? *dib->palette : src->Pal(), target.Get()->Pal());
        RECTL d{0, 0, 16, 16};
        RECTL s{0, 0, src->sizlBitmap.cx, src->sizlBitmap.cy};
        EngStretchBlt(target.Object(), src, nullptr, nullptr, &xlo, nullptr, nullptr, &d, &s, nullptr, HALFTONE);
    }
    return 0;
}
