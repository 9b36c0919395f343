// Arbitrary bytes through the metafile reader and player: every input, one
// page or several one after another, either parses or gives an error without
// reading outside the input, and every page that parses plays onto a small
// memory DC without fault.
#include <cstddef>
#include <cstdint>
#include <span>

#include "gdi/dc_draw.h"
#include "gdi/emf_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto result = zq::emf::ParseEmfPages(std::span<const uint8_t>(data, size));
    if (result.pages.empty()) return 0;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateBitmap(48, 64, 1, 24, nullptr);
    SelectObject(dc, bmp);
    for (const auto& page : result.pages) zq::emf::Play(dc, page, {0, 0, 48, 64});
    DeleteDC(dc);
    DeleteObject(bmp);
    return 0;
}
