#include "render/device_record.h"

#include <algorithm>
#include <cstring>

#include "render/page_setup.h"

namespace pclrend {

namespace {

// dmTTOption values: TrueType as bitmaps, downloaded, downloaded as outlines.
constexpr int16_t kTtBitmap = 1, kTtDownload = 2, kTtOutline = 4;

uint8_t PagesPerSheetOf(uint8_t choice) {
    switch (choice) {
    case 1: return 2;
    case 2: return 3;
    case 3: return 4;
    case 4: return 6;
    case 5: return 9;
    case 6: return 12;
    case 7: return 16;
    default: return 1;
    }
}

// A PCL XL printer of the line prints nearer the sheet's edge when the
// record asks for it: the alternative margins and printable area of a
// geometry (the page as asked for and as used) stand for its own. The
// sheet's size stays; a geometry without an alternative area, or with one
// off the sheet, keeps its own.
void UseAlternativeArea(zq::PaperFormat& g) {
    auto swap = [](WORD& left, WORD& top, WORD& width, WORD& length, WORD sLeft, WORD sTop, WORD sWidth, WORD sLength,
                   WORD sheetWidth, WORD sheetLength) {
        if (!sWidth || !sLength || sLeft + sWidth > sheetWidth || sTop + sLength > sheetLength) return;
        left = sLeft;
        top = sTop;
        width = sWidth;
        length = sLength;
    };
    swap(g.leftMargin, g.topMargin, g.printableWidth, g.printableLength, g.secondLeftMargin, g.secondTopMargin,
         g.secondPrintableWidth, g.secondPrintableLength, g.width, g.length);
    swap(g.usedLeftMargin, g.usedTopMargin, g.usedPrintableWidth, g.usedPrintableLength, g.usedSecondLeftMargin,
         g.usedSecondTopMargin, g.usedSecondPrintableWidth, g.usedSecondPrintableLength, g.usedWidth, g.usedLength);
}

}  // namespace

bool RecordFromDevmode(DeviceRecord& r, zq::PrivateDevmode& caller) {
    if (caller.privateVersion != zq::kPrivateDevmodeVersion) return false;
    const zq::PrivateDevmode& dm = caller;
    // Geometry the arithmetic below divides by: a record without it cannot
    // make a page.
    const zq::PaperFormat& g = dm.paperFormats[0];
    if (dm.dm.dmPrintQuality <= 0 || g.printableWidth == 0 || g.printableLength == 0 || g.width == 0 || g.length == 0)
        return false;

    r.geometry = g;
    r.stamp = dm.dm.dmOrientation == DMORIENT_LANDSCAPE ? kStampLandscape : kStampPortrait;
    r.resolution = static_cast<uint16_t>(dm.dm.dmPrintQuality);
    r.copies = dm.dm.dmCopies;
    r.paperSource = static_cast<uint16_t>(dm.dm.dmDefaultSource);
    r.paperSizeCode = static_cast<uint16_t>(dm.dm.dmPaperSize);
    r.ditherCode = dm.dm.dmDitherType == 2 ? 2 : dm.dm.dmDitherType == 3 ? 0 : 1;
    r.darknessLevel = dm.darknessLevel <= 8 ? dm.darknessLevel : 4;
    r.screenIndex = static_cast<uint8_t>(std::min<int>(dm.model.halftoneScreen, 39));
    r.jobFlags = dm.jobHeaderFlags;
    r.featureWords[0] = dm.model.flags392;
    r.featureWords[1] = dm.model.flags394;
    r.featureWords[2] = dm.model.flags396;
    r.featureWords[3] = dm.model.flags398;
    r.modelFlags = dm.model.flags400;
    r.printerClass = dm.resolutionFeature;
    r.classValue = r.printerClass == 1 ? 5 : r.printerClass == 4 ? 7 : 0;  // this build is not the QJH line
    r.duplexFlags = dm.duplexOptions;
    r.printerCopies = dm.printerCopies;
    r.nupRowFirst = dm.option602 == 0;
    r.nupFrame = dm.switch603;
    r.bandParityOption = dm.option238;
    r.option2061 = dm.switch1236;

    // Colour.
    r.colour = dm.dm.dmColor == DMCOLOR_COLOR;
    if (r.printerClass && !(r.modelFlags & 0x08)) r.colour = 1;
    if ((r.modelFlags & 0x4000) && dm.printerLanguage != 2 && !r.colour) {
        r.colour = 1;
        r.forcedColour = 1;
    }

    // Language: 6 asks for the model's default.
    uint8_t lang = dm.printerLanguage;
    if (lang == 6) {
        lang = dm.graphicsModeResolved <= 254 && dm.graphicsModeResolved != 6 ? dm.graphicsModeResolved
                                                                               : static_cast<uint8_t>(dm.languageValue430);
        caller.printerLanguage = lang;
    }
    if (r.colour && (r.modelFlags & 0x8000)) lang = 5;
    r.language = static_cast<Language>(lang);

    // Duplex: by the printer's duplex unit where it offers the binding asked
    // for; else, on models where the host turns the sheets (feature byte 573
    // bit value 8 or 16), by the host, which the interface library learns
    // from the manual-duplex flags of the record's image.
    const int16_t dmDuplex = dm.dm.dmDuplex;
    const uint8_t b573 = r.FeatureByte(573);
    bool singleCopy = false;
    if (((r.duplexFlags & 2) && dmDuplex == 2) || ((r.duplexFlags & 1) && dmDuplex == 3)) {
        r.duplex = static_cast<uint8_t>(dmDuplex);
    } else if ((b573 & 0x18) && (dmDuplex == 2 || dmDuplex == 3)) {
        r.duplex = static_cast<uint8_t>(dmDuplex);
        r.manualDuplexFlags = (r.manualDuplexFlags & ~0x11u) | (dm.switch1233 & 1u) | 8u;
        // With instructions the user turns the stack once: the printer
        // must not repeat or collate the pages.
        singleCopy = dm.manualDuplex == 0x80;
    } else {
        r.duplex = 1;
    }
    uint8_t nupChoice = dm.manualDuplex == 0x80 ? 0 : dm.pagesPerSheet;
    // A booklet on a printer that can turn the sheet: one page per sheet,
    // bound at the short edge.
    r.bookletMode = dm.option1081;
    if (r.language != Language::SpoolStream && dm.option1081 == 1 && ((r.duplexFlags & 1) || (b573 & 8))) {
        nupChoice = 0;
        r.duplex = 3;
    }
    r.pagesPerSheet = PagesPerSheetOf(nupChoice);
    if (r.pagesPerSheet == 1) r.nupRowFirst = 1;

    // N-up layout and fit to page.
    zq::PaperFormat other = dm.paperFormats[1];
    if (r.language == Language::PclXl && dm.switch604) {
        UseAlternativeArea(r.geometry);
        UseAlternativeArea(other);
    }
    if (NupLayout(r, other) == 'Z') {
        const zq::PaperFormat& o = other;
        std::memcpy(&r.geometry.paperCodeUsed, &o.paperCodeUsed, sizeof(uint16_t) * 14);
        r.geometry.flags = o.flags;  // the sheet's tag (duplex, finishing) of that orientation
    }
    if (!r.nupCells) return false;
    const uint32_t pw = r.PageWidth(), ph = r.PageHeight();
    const uint32_t tw = r.geometry.usedPrintableWidth, th = r.geometry.usedPrintableLength;
    uint32_t s = 5000;
    if (tw && th) s = std::min(5000u * th / ph, 5000u * tw / pw);
    if (s != 5000 && s != 0) {
        r.scaledFrom = static_cast<uint16_t>(dm.secondPaper);
        r.printableSize[0] = pw * s / 5000;
        r.printableSize[1] = ph * s / 5000;
    } else {
        r.printableSize[0] = pw;
        r.printableSize[1] = ph;
    }
    if (r.pagesPerSheet == 1) {
        r.drawnWidth = static_cast<uint16_t>(r.printableSize[0]);
        r.drawnHeight = static_cast<uint16_t>(r.printableSize[1]);
        r.nupCells[0] = {0, 0, r.printableSize[0], r.printableSize[1]};
    }

    // Scaled or n-up pages cannot go through the plain raster path. The
    // colour raster keeps n-up pages that the host finishes, with TrueType
    // text as bitmaps.
    if (PageIsMapped(r)) {
        if (r.language == Language::MonoRaster) r.language = Language::Pcl5Gl2;
        if (r.language == Language::ColourRaster) {
            if (r.pagesPerSheet > 1 && (dm.metaSpool == 2 || (dm.metaSpool == 1 && dm.manualDuplex != 2)))
                caller.dm.dmTTOption = kTtBitmap;
            else
                r.language = Language::Pcl5Gl2;
        }
    }
    if (r.language == Language::ColourRaster) {
        if (dm.option1081 == 1) caller.dm.dmTTOption = kTtBitmap;
        // Overlays that run at page start would lie under the page's raster.
        const bool customAtStart = (dm.userPaperWord804 && dm.userPaperSettings[0] == 1) ||
                                   (dm.userPaperWord806 && dm.userPaperSettings[1] == 1);
        const bool overlayAtStart = (dm.macroIds[0] || dm.macroIds[1] || dm.macroIds[2]) && dm.overlayAtPageStart == 1;
        if (customAtStart || overlayAtStart) r.language = Language::Pcl5Gl2;
        else if (caller.dm.dmTTOption == kTtOutline) caller.dm.dmTTOption = kTtDownload;
    }
    // On a monochrome model the raster language draws into a one-bit band, so
    // a colour forced above (a resolution-bound feature, say) cannot reach the
    // page; left set, it would make the drawing hooks skip the halftoning of
    // images and report a 24-bit device for a one-bit band. A colour model
    // printing in colour draws 24-bit bands instead.
    if (r.language == Language::MonoRaster && !(r.modelFlags & 0x08)) r.colour = r.forcedColour = 0;

    std::strncpy(r.printerName, dm.printerName, sizeof r.printerName - 1);
    r.devmode = std::make_unique<zq::PrivateDevmode>(caller);
    r.devmode->printerLanguage = static_cast<uint8_t>(r.language);
    if (singleCopy) {
        r.copies = 1;
        r.devmode->dm.dmCopies = 1;
        r.devmode->dm.dmCollate = 0;  // collation off
    }
    return true;
}

void DecideOutputMode(DeviceRecord& r, zq::PrivateDevmode& caller) {
    const zq::PrivateDevmode& dm = caller;
    const uint8_t M = dm.manualDuplex, Jd = dm.metaSpoolResolved;
    uint8_t J = dm.metaSpool;
    const bool raster = r.language == Language::MonoRaster || r.language == Language::ColourRaster;
    const uint8_t b573 = r.FeatureByte(573);
    // Jobs that only the host's finishing can make (booklets, manual
    // duplex, scaling, reversed order, duplex without a unit).
    const bool needsHost = dm.option1081 == 1 || (r.manualDuplexFlags & 1) || r.scaledFrom || dm.reversePageOrder ||
                           ((b573 & 0x18) && r.duplex != 1);
    auto resolvedJournal = [&] { return Jd <= 254 && Jd != 2 ? Jd : static_cast<uint8_t>(raster ? 1 : 0); };
    r.outputMode = M;
    r.manualDuplexPrompt = 0;
    if (M == 64) {
        if (J == 2) {
            J = resolvedJournal();
            caller.metaSpool = J;
        }
        r.journal = J;
    } else if (M == 0x80) {
        r.journal = 0;
        r.outputMode = 1;
        r.manualDuplexPrompt = 1;
    } else if (r.language == Language::SpoolStream) {
        r.outputMode = 4;
        r.journal = 0;
    } else if (J == 1) {
        r.outputMode = 4;
        r.journal = M == 2;
    } else if (J == 0) {
        if (M != 4) r.outputMode = 1;
        r.journal = 0;
    } else if (r.language == Language::ColourRaster) {
        // Watermarks, frames, account tracking and n-up need host finishing.
        const bool host = needsHost || dm.watermarkId1 || dm.watermarkId2 || dm.userPaperSettings[2] ||
                          dm.userPaperSettings[3] || dm.accountTracking || r.pagesPerSheet > 1;
        r.outputMode = host ? 4 : 1;
        r.journal = host ? 0 : resolvedJournal();
    } else {
        r.journal = 0;
        r.outputMode = r.language == Language::MonoRaster || needsHost ? 4 : 1;
    }
}

bool ColourAsked(const DeviceRecord& r) {
    return r.colour && r.devmode && r.devmode->dm.dmColor == DMCOLOR_COLOR;
}

const char* UnbuiltRoute(const DeviceRecord& r) {
    if (r.outputMode == 4) return nullptr;  // the stream records every drawing, in every language
    return nullptr;
}

}  // namespace pclrend
