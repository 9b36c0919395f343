// Surfaces, banding and hook dispatch: every hook checks its record and drops
// drawing on suppressed pages before it reaches its body; the document and
// page bodies frame the PJL job.
#include <algorithm>
#include <cstring>
#include <string>

#include "base/diag.h"
#include "base/error.h"
#include "render/driver.h"
#include "render/colour_raster.h"
#include "render/escapes.h"
#include "render/job_header.h"
#include "render/output.h"
#include "render/page_setup.h"
#include "render/raster.h"
#include "render/spool_stream.h"
#include "render/tt_download.h"
#include "render/text_queue.h"
#include "render/xl_page.h"

namespace pclrend {

namespace {

constexpr FLONG kSurfaceHooks = 0x24EB;
constexpr uint32_t kMinimumBandBudget = 1000000;
constexpr uint8_t kBandInked = 0x04;  // pageFlags: the engine drew into the band

LONG Stride1(LONG width) { return ((width + 31) / 32) * 4; }
// Colour pages and the colour raster language are drawn in 24 bits a pixel,
// monochrome ones in one; the colour raster lays its rows out for its blocks.
bool RgbBand(const DeviceRecord& r) { return r.colour || r.language == Language::ColourRaster; }
ULONG BandFormat(const DeviceRecord& r) { return RgbBand(r) ? BMF_24BPP : BMF_1BPP; }
LONG BandStride(const DeviceRecord& r) {
    if (r.language == Language::ColourRaster) return static_cast<LONG>(ColourLayout(r).stride);
    return Stride1(r.PageWidth() * (RgbBand(r) ? 24 : 1));
}

// One band bitmap of `rows` rows, locked, with the device surface over it.
bool MakeBand(DeviceRecord& r, LONG rows) {
    const LONG width = r.PageWidth();
    HBITMAP bitmap = EngCreateBitmap(SIZEL{width, rows}, BandStride(r), BandFormat(r), BMF_TOPDOWN, nullptr);
    if (!bitmap) return false;
    HSURF hsurf = static_cast<HSURF>(bitmap);
    SURFOBJ* so = EngLockSurface(hsurf);
    if (!so) {
        EngDeleteSurface(hsurf);
        return false;
    }
    HSURF device = EngCreateDeviceSurface(reinterpret_cast<DHSURF>(&r), SIZEL{width, rows}, BandFormat(r));
    if (!device) {
        EngUnlockSurface(so);
        EngDeleteSurface(hsurf);
        return false;
    }
    r.bandBitmap = hsurf;
    r.bandSurface = so;
    r.deviceSurface = device;
    r.bandHeight = static_cast<uint16_t>(rows);
    r.band = MonoBand{static_cast<uint8_t*>(so->pvScan0), so->lDelta, width, rows};
    std::memset(so->pvScan0, 0xFF, static_cast<size_t>(so->lDelta) * rows);
    return true;
}

bool MakeBandBitmap(DeviceRecord& r) {
    const LONG height = r.PageHeight();
    // The colour raster's own minimum: one grid row of bands.
    uint64_t budget = r.language == Language::ColourRaster ? uint64_t{r.bandBudget}
                                                            : std::max<uint64_t>(r.bandBudget, kMinimumBandBudget);
    if (r.wasReset && !r.bandingMarked) budget = UINT64_MAX;
    const auto choices = r.language == Language::ColourRaster
                             ? ColourBandChoices(r, budget)
                             : BandChoices(height, static_cast<uint32_t>(BandStride(r)), budget);
    for (const BandChoice& choice : choices) {
        if (MakeBand(r, choice.rows)) {
            r.bandCount = static_cast<uint16_t>(choice.count);
            return true;
        }
    }
    return false;
}

}  // namespace

void FreeBand(DeviceRecord& r) {
    if (r.bandSurface) EngUnlockSurface(BandSurface(r));
    if (r.bandBitmap) EngDeleteSurface(static_cast<HSURF>(r.bandBitmap));
    if (r.deviceSurface) EngDeleteSurface(static_cast<HSURF>(r.deviceSurface));
    r.bandSurface = r.bandBitmap = r.deviceSurface = nullptr;
    r.band = MonoBand{};
}

HSURF EnableSurface(DeviceRecord& r) {
    FreeBand(r);
    if (RasterLanguage(r) && r.outputMode != 4) {
        if (!MakeBandBitmap(r)) {
            r.glState = 0xFFFF;
            r.language = Language::Pcl5Gl2;
            r.bandCount = 1;
        }
    }
    if (!r.deviceSurface) {
        r.deviceSurface = EngCreateDeviceSurface(reinterpret_cast<DHSURF>(&r), SIZEL{r.PageWidth(), r.PageHeight()}, BMF_24BPP);
        if (!r.deviceSurface) return nullptr;
    }
    HSURF hsurf = static_cast<HSURF>(r.deviceSurface);
    if ((RasterLanguage(r) && r.bandingMarked) || (r.bandCount >= 2 && r.outputMode != 4)) {
        EngMarkBandingSurface(hsurf);
        r.bandingMarked = 1;
    }
    if (!EngAssociateSurface(hsurf, static_cast<HDEV>(r.engineDevice), kSurfaceHooks)) {
        FreeBand(r);
        return nullptr;
    }
    return hsurf;
}

void DisableSurface(DeviceRecord& r) { FreeBand(r); }

void ResetBody(DeviceRecord& from, DeviceRecord& to) {
    if (from.glState && to.glState) to.glState = from.glState;
    to.jobState = from.jobState;
    to.documentLost = from.documentLost;
    to.pageCount = from.pageCount;
    to.sheetPages = from.sheetPages;
    to.sheetPageCount = from.sheetPageCount;
    to.pageFlags = from.pageFlags;
    to.bandingMarked = from.bandingMarked;
    to.pageSuppressed = from.pageSuppressed;
    to.bandBudget = from.bandBudget;
    // What the interface library reads at the end of the document, and the
    // printer state the old record last sent.
    to.manualDuplexFlags = from.manualDuplexFlags;
    to.option2061 = from.option2061;
    to.patternState = from.patternState;
    to.wasReset = 1;
    uint16_t flags = from.changeFlags & 0x2FF;
    if (from.copies != to.copies) flags |= 8;
    if (from.paperSource != to.paperSource) flags |= 0x80 | 2;
    if (from.geometry.paperCodeUsed != to.geometry.paperCodeUsed) flags |= 0x40 | 2;
    if (from.stamp != to.stamp) flags |= 0x20 | 2;
    if (to.duplexFlags && from.duplex != to.duplex) flags |= 0x100 | 2;
    if (from.pagesPerSheet != to.pagesPerSheet && from.pagesPerSheet >= 2) flags |= 0x200;
    to.changeFlags = flags;
    to.documentName = from.documentName;
    // The printer keeps its PCL XL state across the reset: so do the caches.
    to.xl = std::move(from.xl);
    to.gl = std::move(from.gl);
    to.downloads = std::move(from.downloads);
    to.textQueue = std::move(from.textQueue);
    // The job's output continues in the new record's buffers.
    if (from.mainFill && to.mainBuffer) {
        std::memcpy(to.mainBuffer.get(), from.mainBuffer.get(), from.mainFill);
        to.mainFill = from.mainFill;
        from.mainFill = 0;
    }
}

extern "C" {

HSURF DrvEnableSurface(DHPDEV dhpdev) {
    DeviceRecord* r = CheckedRecord(dhpdev);
    if (!r) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return EnableSurface(*r);
}

void DrvDisableSurface(DHPDEV dhpdev) {
    DeviceRecord* r = CheckedRecord(dhpdev);
    if (!r) return SetLastError(ERROR_INVALID_PARAMETER);
    DisableSurface(*r);
}

BOOL DrvResetPDEV(DHPDEV dhpdevOld, DHPDEV dhpdevNew) {
    DeviceRecord* from = CheckedRecord(dhpdevOld);
    DeviceRecord* to = CheckedRecord(dhpdevNew);
    if (!from || !to) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (to->outputMode == 4) StreamReset(*from, *to);
    else ResetBody(*from, *to);
    return TRUE;
}

BOOL DrvStartDoc(SURFOBJ* pso, LPWSTR pwszDocName, DWORD) {
    DeviceRecord* r = RecordOfSurface(pso);
    if (!r) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (r->jobState >= kJobOpen) {
        SetLastError(ERROR_NO_SPOOL_SPACE);  // 62: a document is already open
        return FALSE;
    }
    // Pages this build cannot draw are refused before any byte is written,
    // never printed blank.
    if (const char* why = UnbuiltRoute(*r)) {
        zq::DiagLine("pclrend", std::string("StartDoc refused: ") + why);
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (r->outputMode == 4) return StreamStartDoc(*r, pwszDocName);
    // The fonts the printer keeps take their memory first; too little left
    // for a job refuses it before any byte is written.
    if (!ReserveFontMemory(*r)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    r->currentSymbolSet = 0xFFFF;
    r->symbolSetResource = 0;
    r->sheetPageCount = r->pageCount = r->sheetPages = 0;
    r->changeFlags = 0;
    r->documentLost = false;
    r->documentName = Narrow(pwszDocName, 255);
    r->mainFill = r->deferredFill = 0;
    r->jobState = kJobOpen;
    StartDownloadedFonts(*r);
    return TRUE;
}

BOOL DrvStartPage(SURFOBJ* pso) {
    DeviceRecord* r = RecordOfSurface(pso);
    if (!r) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (r->pageSuppressed) {
        ++r->pageCount;
        return TRUE;
    }
    if (r->outputMode == 4) return StreamStartPage(*r);
    // Every band flush that sends drawing leaves the band white, and a new
    // band starts white: only drawing a page left unsent needs clearing.
    if (r->bandSurface && (r->pageFlags & kBandInked))
        std::memset(r->band.bits, 0xFF, static_cast<size_t>(r->band.stride) * r->band.height);
    if (r->jobState < kJobOpen) return FALSE;
    if (r->jobState & kJobPageOpen) return TRUE;
    ++r->pageCount;
    ++r->sheetPages;
    PageFontReset(*r);
    FreeQueuedText(*r);  // what a page that was not sent left
    if (JobHeader(*r) < 0) return FALSE;
    r->jobState |= kJobPageOpen;
    return r->documentLost ? FALSE : TRUE;
}

BOOL DrvStartBanding(SURFOBJ* pso, POINTL* pptl) {
    DeviceRecord* r = RecordOfSurface(pso);
    if (!r || !pptl) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (r->jobState < kJobOpen) return FALSE;
    *pptl = {0, 0};
    r->bandIndex = 1;
    r->bandTop = 0;
    r->bandActive = 1;
    return TRUE;
}

BOOL DrvNextBand(SURFOBJ* pso, POINTL* pptl) {
    DeviceRecord* r = RecordOfSurface(pso);
    if (!r || !pptl) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (r->jobState < kJobOpen) return FALSE;
    if (!r->pageSuppressed) {
        CarryQueuedText(*r);
        BandFlush(*r);
    }
    // The page's parity, which the colour raster turns its planes by. It
    // never ends the walk early: every band of the page is drawn and sent.
    r->pageParity = r->bandParityOption ? static_cast<uint8_t>((r->pageCount ^ r->bandParityOption) & 1) : 0;
    if (r->bandIndex < static_cast<int16_t>(r->bandCount)) {
        ++r->bandIndex;
        r->bandActive = 1;
        r->bandTop = static_cast<int16_t>(r->language == Language::ColourRaster
                                              ? ColourBandTop(*r, r->bandIndex, r->bandHeight)
                                              : r->bandHeight * (r->bandIndex - 1));
        *pptl = {0, r->bandTop};
        return TRUE;
    }
    *pptl = {-1, -1};
    if (!r->pageSuppressed) {
        EmitQueuedText(*r);  // over the raster of every band
        PageEndOutput(*r);
    }
    r->jobState &= static_cast<uint16_t>(~kJobPageOpen);
    return r->documentLost ? FALSE : TRUE;
}

BOOL DrvSendPage(SURFOBJ* pso) {
    DeviceRecord* r = RecordOfSurface(pso);
    if (!r) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (r->pageSuppressed) return TRUE;
    if (r->outputMode == 4) return StreamSendPage(*r);
    // A write the spooler refused leaves its own error; a short write, or a
    // page after the document was lost, fails with the document lost.
    if (r->jobState < kJobOpen && r->documentLost) SetLastError(ERROR_PRINT_CANCELLED);
    if (r->jobState < kJobOpen) return FALSE;
    SetLastError(ERROR_SUCCESS);
    if (!(r->jobState & kJobPageOpen)) {
        ++r->pageCount;
        ++r->sheetPages;
    }
    r->bandTop = 0;
    r->bandIndex = 1;
    BandFlush(*r);
    EmitQueuedText(*r);
    PageEndOutput(*r);
    if (r->documentLost && GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_PRINT_CANCELLED);
    if (r->documentLost) return FALSE;
    if (r->pageFailed) {  // a band went unsent: the page is not printed
        r->pageFailed = false;
        SpoolFlush(*r);
        r->jobState &= static_cast<uint16_t>(~kJobPageOpen);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    SpoolFlush(*r);
    r->jobState &= static_cast<uint16_t>(~kJobPageOpen);
    if (r->documentLost && GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_PRINT_CANCELLED);
    return r->documentLost ? FALSE : TRUE;
}

BOOL DrvEndDoc(SURFOBJ* pso, FLONG) {
    DeviceRecord* r = RecordOfSurface(pso);
    if (!r) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (r->pageSuppressed) return TRUE;
    if (r->outputMode == 4) return StreamEndDoc(*r);
    const bool xl = r->language == Language::PclXl;
    if (!xl && r->pagesPerSheet >= 2 && r->sheetPages != r->pagesPerSheet && r->jobState >= kJobOpen && r->pageCount)
        SpoolWrite(*r, "\f");
    SpoolFlush(*r);
    const uint32_t sheets = (r->sheetPageCount + r->pagesPerSheet - 1) / std::max<uint32_t>(1, r->pagesPerSheet);
    if (!xl && r->duplexFlags && r->duplex != 1 && (r->geometry.flags & 1) && sheets % 2 && r->jobState >= kJobOpen) {
        // Duplex jobs end on a full sheet.
        PagePart(*r);
        r->sheetPageCount = r->pageCount;
        ++r->pageCount;
        SpoolWrite(*r, "\f");
        SpoolFlush(*r);
    }
    if (xl && r->jobState >= kJobOpen) XlSessionEnd(*r);
    if (r->jobState >= kJobOpen) JobEnd(*r);
    FreeDownloadedFonts(*r);
    const bool lost = r->documentLost;
    r->jobState = kJobIdle;
    r->documentLost = false;
    if (lost) {
        // The spooler must not take a job with a hole in it for a good one.
        SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
    }
    return TRUE;
}

ULONG DrvEscape(SURFOBJ* pso, ULONG code, ULONG cjIn, PVOID pvIn, ULONG cjOut, PVOID pvOut) {
    DeviceRecord* r = RecordOfSurface(pso);
    if (!r) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Escape(*r, code, cjIn, pvIn, cjOut, pvOut);
}

ULONG DrvGetGlyphMode(DHPDEV, FONTOBJ*) { return 1; }  // glyph bitmaps

}  // extern "C"

}  // namespace pclrend
