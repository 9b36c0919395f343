// The driver's front door: the exported functions, the hook table, and the
// making and unmaking of device records.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/diag.h"
#include "base/error.h"
#include "base/resources.h"
#include "base/spool_types.h"
#include "base/text.h"
#include "platform/store/spooler.h"
#include "render/driver.h"
#include "render/halftone.h"
#include "render/job_header.h"
#include "render/output.h"
#include "render/spool_stream.h"

namespace pclrend {

namespace {

// The spooler as the job's sink.
class PrinterSink : public Sink {
public:
    explicit PrinterSink(HANDLE printer) : printer_(printer) {}
    uint32_t Write(const uint8_t* bytes, uint32_t size) override {
        DWORD written = 0;
        if (!WritePrinter(printer_, const_cast<uint8_t*>(bytes), size, &written)) return 0;
        return written;
    }

private:
    HANDLE printer_;
};

// The shared glyph set of the 256 single-byte codes.
FD_GLYPHSET* g_glyphSet = nullptr;

extern "C" {
DHPDEV DrvEnablePDEV(DEVMODEW*, LPWSTR, ULONG, HSURF*, ULONG, ULONG*, ULONG, DEVINFO*, HDEV, LPWSTR, HANDLE);
void DrvCompletePDEV(DHPDEV, HDEV);
void DrvDisablePDEV(DHPDEV);
BOOL DrvResetPDEV(DHPDEV, DHPDEV);
HSURF DrvEnableSurface(DHPDEV);
void DrvDisableSurface(DHPDEV);
BOOL DrvBitBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*, POINTL*, BRUSHOBJ*, POINTL*, ROP4);
BOOL DrvStretchBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, RECTL*, RECTL*, POINTL*, ULONG);
BOOL DrvStretchBltROP(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, RECTL*, RECTL*, POINTL*,
                      ULONG, BRUSHOBJ*, DWORD);
BOOL DrvCopyBits(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*);
BOOL DrvTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX);
IFIMETRICS* DrvQueryFont(DHPDEV, ULONG_PTR, ULONG, ULONG_PTR*);
PVOID DrvQueryFontTree(DHPDEV, ULONG_PTR, ULONG, ULONG, ULONG_PTR*);
LONG DrvQueryFontData(DHPDEV, FONTOBJ*, ULONG, HGLYPH, GLYPHDATA*, PVOID, ULONG);
BOOL DrvSendPage(SURFOBJ*);
BOOL DrvStrokePath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, POINTL*, LINEATTRS*, MIX);
BOOL DrvFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX, FLONG);
BOOL DrvStrokeAndFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, LINEATTRS*, BRUSHOBJ*, POINTL*, MIX, FLONG);
BOOL DrvRealizeBrush(BRUSHOBJ*, SURFOBJ*, SURFOBJ*, SURFOBJ*, XLATEOBJ*, ULONG);
BOOL DrvStartPage(SURFOBJ*);
BOOL DrvStartDoc(SURFOBJ*, LPWSTR, DWORD);
ULONG DrvEscape(SURFOBJ*, ULONG, ULONG, PVOID, ULONG, PVOID);
BOOL DrvEndDoc(SURFOBJ*, FLONG);
ULONG DrvGetGlyphMode(DHPDEV, FONTOBJ*);
BOOL DrvQueryAdvanceWidths(DHPDEV, FONTOBJ*, ULONG, HGLYPH*, PVOID, ULONG);
void DrvFree(PVOID, ULONG_PTR);
ULONG DrvDitherColor(DHPDEV, ULONG, ULONG, ULONG*);
BOOL DrvStartBanding(SURFOBJ*, POINTL*);
BOOL DrvNextBand(SURFOBJ*, POINTL*);
BOOL DrvQuerySpoolType(DHPDEV, LPWSTR);
}

template <class F>
PFN Fn(F f) {
    return reinterpret_cast<PFN>(f);
}

const DRVFN kHooks[30] = {
    {INDEX_DrvEnablePDEV, Fn(DrvEnablePDEV)},
    {INDEX_DrvResetPDEV, Fn(DrvResetPDEV)},
    {INDEX_DrvCompletePDEV, Fn(DrvCompletePDEV)},
    {INDEX_DrvDisablePDEV, Fn(DrvDisablePDEV)},
    {INDEX_DrvEnableSurface, Fn(DrvEnableSurface)},
    {INDEX_DrvDisableSurface, Fn(DrvDisableSurface)},
    {INDEX_DrvBitBlt, Fn(DrvBitBlt)},
    {INDEX_DrvStretchBlt, Fn(DrvStretchBlt)},
    {INDEX_DrvStretchBltROP, Fn(DrvStretchBltROP)},
    {INDEX_DrvCopyBits, Fn(DrvCopyBits)},
    {INDEX_DrvTextOut, Fn(DrvTextOut)},
    {INDEX_DrvQueryFont, Fn(DrvQueryFont)},
    {INDEX_DrvQueryFontTree, Fn(DrvQueryFontTree)},
    {INDEX_DrvQueryFontData, Fn(DrvQueryFontData)},
    {INDEX_DrvSendPage, Fn(DrvSendPage)},
    {INDEX_DrvStrokePath, Fn(DrvStrokePath)},
    {INDEX_DrvFillPath, Fn(DrvFillPath)},
    {INDEX_DrvStrokeAndFillPath, Fn(DrvStrokeAndFillPath)},
    {INDEX_DrvRealizeBrush, Fn(DrvRealizeBrush)},
    {INDEX_DrvStartPage, Fn(DrvStartPage)},
    {INDEX_DrvStartDoc, Fn(DrvStartDoc)},
    {INDEX_DrvEscape, Fn(DrvEscape)},
    {INDEX_DrvEndDoc, Fn(DrvEndDoc)},
    {INDEX_DrvGetGlyphMode, Fn(DrvGetGlyphMode)},
    {INDEX_DrvQueryAdvanceWidths, Fn(DrvQueryAdvanceWidths)},
    {INDEX_DrvFree, Fn(DrvFree)},
    {INDEX_DrvDitherColor, Fn(DrvDitherColor)},
    {INDEX_DrvStartBanding, Fn(DrvStartBanding)},
    {INDEX_DrvNextBand, Fn(DrvNextBand)},
    {INDEX_DrvQuerySpoolType, Fn(DrvQuerySpoolType)},
};

// Size query first (it must fail with 122), then the real call into a block.
template <class Call>
std::vector<uint8_t> QueryBlock(Call call) {
    DWORD needed = 0;
    SetLastError(0);
    if (call(nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return {};
    std::vector<uint8_t> block(needed);
    if (!call(block.data(), needed, &needed)) return {};
    return block;
}

void FillGdiInfo(const DeviceRecord& r, ULONG cjCaps, ULONG* caps) {
    if (!caps) return;
    GDIINFO gi{};
    const auto& g = r.geometry;
    const ULONG res = r.resolution;
    gi.ulVersion = 1147;
    gi.ulTechnology = DT_RASPRINTER;
    gi.ulHorzSize = g.printableWidth * 254 / res / 10;
    gi.ulVertSize = g.printableLength * 254 / res / 10;
    gi.ulHorzRes = g.printableWidth;
    gi.ulVertRes = g.printableLength;
    gi.cBitsPixel = r.colour ? 24 : 1;
    gi.cPlanes = 1;
    gi.ulNumColors = (r.language == Language::MonoRaster || r.language == Language::ColourRaster) ? 2 : 8;
    gi.ulLogPixelsX = gi.ulLogPixelsY = res;
    gi.flTextCaps = (r.language == Language::PclXl || r.language == Language::SpoolStream) ? 0x19F7 : 0x1809;
    gi.ulAspectX = gi.ulAspectY = res;
    gi.ulAspectXY = res * 1414 / 1000;
    gi.xStyleStep = gi.yStyleStep = 1;
    gi.denStyleStep = static_cast<LONG>(res / 25);
    gi.ptlPhysOffset = {g.leftMargin, g.topMargin};
    gi.szlPhysSize = {g.width, g.length};
    // Colour information of a plain sRGB-like device (x, y, Y in 1/10000).
    gi.ciDevice.Red = {6400, 3300, 0};
    gi.ciDevice.Green = {3000, 6000, 0};
    gi.ciDevice.Blue = {1500, 600, 0};
    gi.ciDevice.Cyan = {2250, 3300, 0};
    gi.ciDevice.Magenta = {3200, 1500, 0};
    gi.ciDevice.Yellow = {4300, 5000, 0};
    gi.ciDevice.AlignmentWhite = {3127, 3290, 0};
    gi.ciDevice.RedGamma = gi.ciDevice.GreenGamma = gi.ciDevice.BlueGamma = 20000;
    gi.ulDevicePelsDPI = res;
    gi.ulHTPatternSize = res >= 2400 ? 15 : res >= 1800 ? 13 : res >= 1200 ? 11 : res >= 900 ? 9 : res >= 400 ? 7 : res >= 180 ? 5 : 3;
    gi.ulPrimaryOrder = 0;
    gi.ulHTOutputFormat = (r.language == Language::MonoRaster && !r.colour) ? 0 : 2;
    gi.flHTFlags = 2;
    std::memcpy(caps, &gi, std::min<size_t>(std::min<size_t>(cjCaps, sizeof gi), 304));
}

void SetFace(LOGFONTW& lf, const char* face, LONG height, BYTE pitchFamily) {
    lf = {};
    lf.lfHeight = height;
    lf.lfWeight = 400;
    lf.lfPitchAndFamily = pitchFamily;
    for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = static_cast<WCHAR>(face[i]);
}

bool FillDevInfo(DeviceRecord& r, ULONG cjDevInfo, DEVINFO* pdi) {
    DEVINFO di{};
    di.flGraphicsCaps = 0x2005FF | (r.journal ? 0 : GCAPS_DONTJOURNAL);
    const LONG height = -static_cast<LONG>((10 * r.resolution + 36) / 72);
    const bool stream = r.language == Language::SpoolStream;
    SetFace(di.lfDefaultFont, stream ? "Courier New" : "Courier (W1)", height, 0x31);
    SetFace(di.lfAnsiVarFont, stream ? "Courier New" : "Arial (W1)", height, 0x22);
    SetFace(di.lfAnsiFixFont, stream ? "Courier New" : "Courier (W1)", height, 0x31);
    di.cFonts = stream ? 0 : static_cast<ULONG>(-1);
    if (r.palette) EngDeletePalette(static_cast<HPALETTE>(r.palette));
    r.palette = nullptr;
    if (r.language == Language::MonoRaster && !r.colour && r.outputMode != 4) {
        ULONG colours[2] = {0x000000, 0xFFFFFF};
        r.palette = EngCreatePalette(PAL_INDEXED, 2, colours, 0, 0, 0);
        r.paletteColours = 2;
        di.iDitherFormat = BMF_1BPP;
        di.cxDither = di.cyDither = 32;
    } else {
        r.palette = EngCreatePalette(PAL_RGB, 0, nullptr, 0, 0, 0);
        r.paletteColours = 16777216;
        di.iDitherFormat = BMF_24BPP;
    }
    if (!r.palette) return false;
    di.hpalDefault = static_cast<HPALETTE>(r.palette);
    if (pdi) std::memcpy(pdi, &di, std::min<size_t>(cjDevInfo, sizeof di));
    return true;
}

// Printer data "Compress": its low byte, 1 when it cannot be read.
uint8_t ReadCompress(HANDLE printer) {
    DWORD type = 0, value = 0, needed = 0;
    const DWORD rc = GetPrinterDataW(printer, const_cast<LPWSTR>(u"Compress"), &type, reinterpret_cast<LPBYTE>(&value),
                                     sizeof value, &needed);
    return rc == ERROR_SUCCESS && needed >= 1 ? static_cast<uint8_t>(value) : 1;
}

}  // namespace

FD_GLYPHSET* SharedGlyphSet() { return g_glyphSet; }

DeviceRecord* CheckedRecord(DHPDEV dhpdev) {
    auto* r = reinterpret_cast<DeviceRecord*>(dhpdev);
    if (!r || (r->stamp != kStampPortrait && r->stamp != kStampLandscape)) return nullptr;
    return r;
}

DeviceRecord* RecordOfSurface(SURFOBJ* pso) { return pso ? CheckedRecord(pso->dhpdev) : nullptr; }

void DisableWorker(DeviceRecord* r) {
    if (!r) return;
    FreeBand(*r);
    if (r->palette) EngDeletePalette(static_cast<HPALETTE>(r->palette));
    if (r->resourceModule) EngFreeModule(r->resourceModule);
    r->stamp = 0;  // a stale pointer no longer passes the check
    delete r;
}

extern "C" {

BOOL DrvEnableDriver(ULONG iEngineVersion, ULONG cj, DRVENABLEDATA* pded) {
    if (iEngineVersion < 0x20000 || cj < sizeof(DRVENABLEDATA) || !pded) {
        SetLastError(ERROR_INVALID_CATEGORY);
        return FALSE;
    }
    pded->iDriverVersion = 0x20000;
    pded->c = 30;
    pded->pdrvfn = const_cast<DRVFN*>(kHooks);
    if (!g_glyphSet) g_glyphSet = EngComputeGlyphSet(0, 0, 256);
    return g_glyphSet != nullptr;
}

BOOL DrvQueryDriverInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) {
    if (!buffer || size < 4) {
        if (needed) *needed = 4;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (mode != 1) {
        SetLastError(ERROR_INVALID_CATEGORY);
        return FALSE;
    }
    *static_cast<DWORD*>(buffer) = 1;
    return TRUE;
}

void DrvDisableDriver() {
    if (g_glyphSet) EngFreeMem(g_glyphSet);
    g_glyphSet = nullptr;
}

BOOL DllEntryPoint(HANDLE, DWORD, LPVOID) { return TRUE; }

BOOL DrvQuerySpoolType(DHPDEV, LPWSTR) { return FALSE; }

DHPDEV DrvEnablePDEV(DEVMODEW* pdm, LPWSTR pwszLogAddress, ULONG cPat, HSURF* phsurfPatterns, ULONG cjCaps,
                     ULONG* pdevcaps, ULONG cjDevInfo, DEVINFO* pdi, HDEV hdev, LPWSTR, HANDLE hDriver) {
    (void)hdev;
    auto* r = new (std::nothrow) DeviceRecord;
    if (!r) return nullptr;
    r->printer = hDriver;

    // The driver file as this record's own resource module.
    std::string driverDirectory;
    auto driverInfo = QueryBlock([&](LPBYTE b, DWORD s, LPDWORD n) { return GetPrinterDriverW(hDriver, nullptr, 2, b, s, n); });
    if (!driverInfo.empty()) {
        auto* info = reinterpret_cast<DRIVER_INFO_2W*>(driverInfo.data());
        if (info->pDriverPath) r->resourceModule = EngLoadModule(info->pDriverPath);
        if (info->pDriverPath) {
            driverDirectory = Narrow(info->pDriverPath, 259);
            driverDirectory.resize(driverDirectory.find_last_of('\\') == std::string::npos ? 0 : driverDirectory.find_last_of('\\') + 1);
        }
    }
    if (!pdm || pdm->dmSize + pdm->dmDriverExtra < zq::kPrivateDevmodeSize ||
        reinterpret_cast<zq::PrivateDevmode*>(pdm)->privateVersion != zq::kPrivateDevmodeVersion) {
        DisableWorker(r);
        return nullptr;
    }
    auto& caller = *reinterpret_cast<zq::PrivateDevmode*>(pdm);
    if (!r->resourceModule || !RecordFromDevmode(*r, caller)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        DisableWorker(r);
        return nullptr;
    }
    r->ttOption = static_cast<uint16_t>(caller.dm.dmTTOption);
    r->bandBudget = caller.availableMemory;
    r->glState = r->language == Language::Pcl5Gl2 ? 0xFFFF : 0;

    // Names: the port and the printer (cut to 31 bytes), in the process's
    // code page, which the job header re-codes for the printer.
    r->ansiCodePage = GetACP();
    auto printerInfo = QueryBlock([&](LPBYTE b, DWORD s, LPDWORD n) { return GetPrinterW(hDriver, 2, b, s, n); });
    if (!printerInfo.empty()) {
        auto* info = reinterpret_cast<PRINTER_INFO_2W*>(printerInfo.data());
        const std::string name = Narrow(info->pPrinterName, 31);
        std::memset(r->printerName, 0, sizeof r->printerName);
        std::memcpy(r->printerName, name.data(), name.size());
        r->printerInfoReadable = true;
    }
    (void)pwszLogAddress;

    DecideOutputMode(*r, caller);
    if (r->language != Language::MonoRaster && r->language != Language::Pcl5Gl2 && r->language != Language::PclXl &&
        r->language != Language::SpoolStream && r->language != Language::ColourRaster) {
        SetLastError(ERROR_NOT_SUPPORTED);
        DisableWorker(r);
        return nullptr;
    }

    // The job's device fonts: without a summary there is no job.
    if (!LoadDeviceFonts(*r, hDriver, caller, driverDirectory)) {
        DisableWorker(r);
        return nullptr;
    }

    // Every record keeps the escapes' state; mode 4 also writes the stream.
    if (!AllocateBuffers(*r, RasterLanguage(*r) && r->outputMode != 4) ||
        !StreamEnable(*r, r->outputMode == 4 ? ReadCompress(hDriver) : 1)) {
        DisableWorker(r);
        return nullptr;
    }
    r->ownSink = std::make_unique<PrinterSink>(hDriver);
    r->sink = r->ownSink.get();

    FillGdiInfo(*r, cjCaps, pdevcaps);
    if (!FillDevInfo(*r, cjDevInfo, pdi)) {
        DisableWorker(r);
        return nullptr;
    }
    for (ULONG i = 0; phsurfPatterns && i < cPat; ++i) phsurfPatterns[i] = nullptr;
    return reinterpret_cast<DHPDEV>(r);
}

void DrvCompletePDEV(DHPDEV dhpdev, HDEV hdev) {
    DeviceRecord* r = CheckedRecord(dhpdev);
    if (!r) return SetLastError(ERROR_INVALID_PARAMETER);
    r->engineDevice = hdev;
}

void DrvDisablePDEV(DHPDEV dhpdev) {
    DeviceRecord* r = CheckedRecord(dhpdev);
    if (!r) return SetLastError(ERROR_INVALID_PARAMETER);
    DisableWorker(r);
}

}  // extern "C"

std::string Narrow(const WCHAR* s, size_t limit) {
    return s ? AnsiText(std::u16string_view(s), GetACP(), limit) : std::string();
}

}  // namespace pclrend
