// A letter-size record at 300 dpi for the stream and escape tests: `language`
// as given, written as the spool stream of host finishing when `stream`.
#pragma once

#include <utility>

#include "settings/devmode.h"

namespace pclrend {

inline zq::PrivateDevmode StreamTestDevmode(uint8_t language, bool stream = true) {
    zq::PrivateDevmode dm{};
    dm.privateVersion = zq::kPrivateDevmodeVersion;
    dm.dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dm.dmPrintQuality = 300;
    dm.dm.dmCopies = 1;
    dm.dm.dmDuplex = DMDUP_SIMPLEX;
    dm.dm.dmColor = DMCOLOR_MONOCHROME;
    dm.dm.dmPaperSize = DMPAPER_LETTER;
    dm.printerLanguage = language;
    dm.metaSpool = stream ? 1 : 0;
    auto& g = dm.paperFormats[0];
    g.paperCodeAsked = g.paperCodeUsed = DMPAPER_LETTER;
    g.width = g.usedWidth = 2550;
    g.length = g.usedLength = 3300;
    g.leftMargin = g.topMargin = 50;
    g.printableWidth = g.usedPrintableWidth = 2450;
    g.printableLength = g.usedPrintableLength = 3200;
    dm.paperFormats[1] = g;
    std::swap(dm.paperFormats[1].width, dm.paperFormats[1].length);
    std::swap(dm.paperFormats[1].printableWidth, dm.paperFormats[1].printableLength);
    std::swap(dm.paperFormats[1].usedPrintableWidth, dm.paperFormats[1].usedPrintableLength);
    return dm;
}

}  // namespace pclrend
