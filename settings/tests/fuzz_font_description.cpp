// Arbitrary bytes as font data: one description of either form, a soft-font
// record's content, a cartridge block and `fontdb.dfm`, read by the
// summary builder. Whatever is refused, what is built must read back whole.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "settings/font_description.h"
#include "settings/font_summary.h"
#include "settings/pd_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    for (int orientation = 0; orientation < 3; ++orientation) {
        (void)zq::ReadFontDescription(bytes, orientation, 1, orientation == 2);
    }
    // The same bytes as a soft font's content, a cartridge file and the
    // double-byte font file.
    std::vector<uint8_t> softList, cartridgeList;
    {
        zq::PdList* list = zq::PdListOpenBytes({});
        const uint16_t id = 1;
        const uint16_t length = static_cast<uint16_t>(std::min<size_t>(size, 60000));
        const zq::PdField soft[] = {{1, 2, &id}, {2, 2, "a"}, {5, length, data}};
        const zq::PdField cart[] = {{1, 2, &id}, {2, 2, "b"}, {4, length, data}};
        zq::PdListAppend(list, 3, soft);
        softList = list->block;
        zq::PdListClear(list);
        zq::PdListAppend(list, 3, cart);
        cartridgeList = list->block;
        zq::PdListDiscard(list);
    }
    zq::PrivateDevmode devmode{};
    devmode.dm.dmPrintQuality = 600;
    devmode.model.flags392 = 0x8;
    zq::FontSummarySources sources;
    sources.codePage = (size & 2) ? 932 : 1252;
    sources.readListFile = [&](bool cartridges) -> std::optional<std::vector<uint8_t>> {
        return cartridges ? cartridgeList : softList;
    };
    sources.readFontDb = [&]() -> std::optional<std::vector<uint8_t>> { return bytes; };
    const auto summary = zq::BuildFontSummary(devmode, sources);
    if (!summary || !zq::IsValidFontSummary(*summary)) __builtin_trap();
    for (const zq::FontSummaryEntry& e : zq::SummaryEntries(*summary)) {
        (void)zq::SummaryString(*summary, e.strings[0]);
    }
    return 0;
}
