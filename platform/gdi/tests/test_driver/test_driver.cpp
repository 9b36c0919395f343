// A printer driver for tests only: every hook call is logged, drawing goes
// to the engine on a band bitmap, and each band is copied into a page image.
#include "test_driver.h"

#include "gdi/ddi_font.h"
#include "gdi/ddi_path.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "store/spooler.h"

namespace {

struct Pdev {
    TestDriverSettings s;
    HDEV hdev = nullptr;
    HSURF surface = nullptr;
    HSURF band = nullptr;
    SURFOBJ* bandObj = nullptr;
    HPALETTE palette = nullptr;
    HANDLE printer = nullptr;  // the spooler's printer, when the DC has one
    LONG pages = 0;
    LONG bandTop = 0;
    LONG bandRows = 0;
    std::vector<BYTE> page;
};

std::string g_log;
std::vector<std::vector<BYTE>> g_pages;
LONG g_pageStride = 0;

void Log(const std::string& line) { g_log += line + "\n"; }

std::string Rect(const RECTL* r) {
    if (!r) return "-";
    char b[64];
    std::snprintf(b, sizeof b, "%d,%d,%d,%d", r->left, r->top, r->right, r->bottom);
    return b;
}

Pdev* P(SURFOBJ* so) { return so ? reinterpret_cast<Pdev*>(so->dhpdev) : nullptr; }

bool Fails(const Pdev* p, ULONG index) {
    if (p && p->s.failAt == index) {
        SetLastError(kTestDriverError);
        return true;
    }
    return false;
}

LONG Stride(const Pdev* p) { return (p->s.width * (p->s.format == BMF_1BPP ? 1 : 24) + 31) / 32 * 4; }

void EraseBand(Pdev* p) {
    RECTL all{0, 0, p->bandObj->sizlBitmap.cx, p->bandObj->sizlBitmap.cy};
    EngEraseSurface(p->bandObj, &all, p->s.format == BMF_1BPP ? 1 : 0xFFFFFF);
}

// The band's rows go to the page image at the band's top.
void KeepBand(Pdev* p) {
    LONG stride = Stride(p);
    for (LONG y = 0; y < p->bandRows && p->bandTop + y < p->s.height; ++y)
        std::memcpy(p->page.data() + size_t(p->bandTop + y) * stride,
                    static_cast<BYTE*>(p->bandObj->pvScan0) + ptrdiff_t(y) * p->bandObj->lDelta, stride);
}

// What the driver sends to the printer: one line a document, page and end,
// through WritePrinter as a real driver sends its job.
void Send(Pdev* p, const std::string& line) {
    if (!p || !p->printer) return;
    std::string text = line + "\n";
    DWORD written = 0;
    WritePrinter(p->printer, text.data(), static_cast<DWORD>(text.size()), &written);
}

void NewPage(Pdev* p) { p->page.assign(size_t(Stride(p)) * p->s.height, 0); }

void FinishPage(Pdev* p) {
    Send(p, "PAGE " + std::to_string(++p->pages));
    g_pages.push_back(p->page);
    g_pageStride = Stride(p);
}

DHPDEV EnablePDEV(DEVMODEW* dm, LPWSTR, ULONG, HSURF*, ULONG cjCaps, ULONG* caps, ULONG cjDevInfo, DEVINFO* di,
                  HDEV, LPWSTR, HANDLE printer) {
    Log("EnablePDEV");
    auto* p = new Pdev();
    p->printer = printer;
    if (dm && dm->dmDriverExtra >= sizeof(TestDriverSettings)) {
        std::memcpy(&p->s, reinterpret_cast<BYTE*>(dm) + dm->dmSize, sizeof(TestDriverSettings));
        if (p->s.magic != TestDriverSettings::kMagic) p->s = TestDriverSettings{};
    }
    if (Fails(p, INDEX_DrvEnablePDEV) || cjCaps < sizeof(GDIINFO) || cjDevInfo < sizeof(DEVINFO)) {
        delete p;
        return nullptr;
    }
    auto* gi = reinterpret_cast<GDIINFO*>(caps);
    *gi = GDIINFO{};
    gi->ulVersion = 0x5000;
    gi->ulTechnology = DT_RASPRINTER;
    gi->ulHorzRes = static_cast<ULONG>(p->s.width);
    gi->ulVertRes = static_cast<ULONG>(p->s.height);
    gi->cBitsPixel = p->s.format == BMF_1BPP ? 1 : 24;
    gi->cPlanes = 1;
    gi->ulLogPixelsX = gi->ulLogPixelsY = 300;
    *di = DEVINFO{};
    if (p->s.format == BMF_1BPP) {
        ULONG mono[2] = {0x000000, 0xFFFFFF};
        p->palette = EngCreatePalette(PAL_INDEXED, 2, mono, 0, 0, 0);
    } else {
        p->palette = EngCreatePalette(PAL_BGR, 0, nullptr, 0, 0, 0);
    }
    di->hpalDefault = p->palette;
    if (p->s.dither) {
        di->iDitherFormat = BMF_1BPP;
        di->cxDither = 8;
        di->cyDither = 8;
    }
    return reinterpret_cast<DHPDEV>(p);
}

void CompletePDEV(DHPDEV d, HDEV hdev) {
    Log("CompletePDEV");
    reinterpret_cast<Pdev*>(d)->hdev = hdev;
}

void DisablePDEV(DHPDEV d) {
    Log("DisablePDEV");
    auto* p = reinterpret_cast<Pdev*>(d);
    EngDeletePalette(p->palette);
    delete p;
}

BOOL ResetPDEV(DHPDEV oldPdev, DHPDEV) {
    Log("ResetPDEV");
    return Fails(reinterpret_cast<Pdev*>(oldPdev), INDEX_DrvResetPDEV) ? FALSE : TRUE;
}

HSURF EnableSurface(DHPDEV d) {
    Log("EnableSurface");
    auto* p = reinterpret_cast<Pdev*>(d);
    if (Fails(p, INDEX_DrvEnableSurface)) return nullptr;
    LONG rows = p->s.bandHeight > 0 ? p->s.bandHeight : p->s.height;
    p->bandRows = rows;
    p->band = reinterpret_cast<HSURF>(EngCreateBitmap({p->s.width, rows}, 0, p->s.format, BMF_TOPDOWN, nullptr));
    p->bandObj = EngLockSurface(p->band);
    p->surface = EngCreateDeviceSurface(reinterpret_cast<DHSURF>(p), {p->s.width, rows}, p->s.format);
    if (!p->bandObj || !p->surface || !EngAssociateSurface(p->surface, p->hdev, p->s.hooks)) return nullptr;
    EngAssociateSurface(p->band, p->hdev, 0);
    if (p->s.bandHeight > 0) EngMarkBandingSurface(p->surface);
    return p->surface;
}

void DisableSurface(DHPDEV d) {
    Log("DisableSurface");
    auto* p = reinterpret_cast<Pdev*>(d);
    if (p->bandObj) EngUnlockSurface(p->bandObj);
    if (p->band) EngDeleteSurface(p->band);
    if (p->surface) EngDeleteSurface(p->surface);
    p->band = p->surface = nullptr;
    p->bandObj = nullptr;
}

BOOL StartDoc(SURFOBJ* so, LPWSTR name, DWORD job) {
    std::string n;
    for (LPWSTR c = name; c && *c; ++c) n += static_cast<char>(*c);
    Log("StartDoc " + n + " " + std::to_string(job));
    if (Fails(P(so), INDEX_DrvStartDoc)) return FALSE;
    P(so)->pages = 0;
    Send(P(so), "DOC " + n);
    return TRUE;
}

BOOL StartPage(SURFOBJ* so) {
    Log("StartPage");
    Pdev* p = P(so);
    if (Fails(p, INDEX_DrvStartPage)) return FALSE;
    NewPage(p);
    p->bandTop = 0;
    EraseBand(p);
    return TRUE;
}

BOOL SendPage(SURFOBJ* so) {
    Log("SendPage");
    Pdev* p = P(so);
    KeepBand(p);
    FinishPage(p);
    return TRUE;
}

BOOL EndDoc(SURFOBJ* so, FLONG fl) {
    Log("EndDoc " + std::to_string(fl));
    if (Fails(P(so), INDEX_DrvEndDoc)) return FALSE;
    if (!(fl & ED_ABORTDOC)) Send(P(so), "END");
    return TRUE;
}

BOOL StartBanding(SURFOBJ* so, POINTL* pt) {
    Pdev* p = P(so);
    p->bandTop = 0;
    *pt = {0, 0};
    EraseBand(p);
    Log("StartBanding 0,0");
    return TRUE;
}

BOOL NextBand(SURFOBJ* so, POINTL* pt) {
    Pdev* p = P(so);
    KeepBand(p);
    p->bandTop += p->bandRows;
    if (p->bandTop >= p->s.height) {
        FinishPage(p);
        *pt = {-1, -1};
    } else {
        EraseBand(p);
        *pt = {0, p->bandTop};
    }
    Log("NextBand " + std::to_string(pt->x) + "," + std::to_string(pt->y));
    return TRUE;
}

BOOL BitBlt(SURFOBJ* so, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* r, POINTL* ps,
            POINTL* pm, BRUSHOBJ* pbo, POINTL* pb, ROP4 rop) {
    char b[16];
    std::snprintf(b, sizeof b, "%04X", rop);
    std::string line = "BitBlt " + Rect(r) + " " + b;
    if (pbo && pbo->iSolidColor == BR_NOT_SOLID) line += BRUSHOBJ_pvGetRbrush(pbo) ? " realized" : " unrealized";
    Log(line);
    return EngBitBlt(P(so)->bandObj, src, mask, pco, pxlo, r, ps, pm, pbo, pb, rop);
}

BOOL CopyBits(SURFOBJ* so, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* r, POINTL* ps) {
    Log("CopyBits " + Rect(r));
    return EngCopyBits(P(so)->bandObj, src, pco, pxlo, r, ps);
}

BOOL StretchBlt(SURFOBJ* so, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* ca,
                POINTL* ht, RECTL* rd, RECTL* rs, POINTL* pm, ULONG mode) {
    Log("StretchBlt " + Rect(rd));
    return EngStretchBlt(P(so)->bandObj, src, mask, pco, pxlo, ca, ht, rd, rs, pm, mode);
}

BOOL StretchBltROP(SURFOBJ* so, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* ca,
                   POINTL* ht, RECTL* rd, RECTL* rs, POINTL* pm, ULONG mode, BRUSHOBJ* pbo, DWORD rop) {
    Log("StretchBltROP " + Rect(rd));
    return EngStretchBltROP(P(so)->bandObj, src, mask, pco, pxlo, ca, ht, rd, rs, pm, mode, pbo, rop);
}

// Text and paths are logged and punted back to the engine on the band.
BOOL TextOut(SURFOBJ* so, STROBJ* str, FONTOBJ* fo, CLIPOBJ* pco, RECTL* extra, RECTL* opaque, BRUSHOBJ* fore,
             BRUSHOBJ* back, POINTL* org, MIX mix) {
    std::string line = "TextOut " + std::to_string(str ? str->cGlyphs : 0);
    if (fo && (fo->flFontType & FO_TYPE_DEVICE)) line += " device";
    Log(line);
    return EngTextOut(P(so)->bandObj, str, fo, pco, extra, opaque, fore, back, org, mix);
}

BOOL StrokePath(SURFOBJ* so, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, POINTL* org, LINEATTRS* la,
                MIX mix) {
    Log("StrokePath");
    return EngStrokePath(P(so)->bandObj, ppo, pco, pxo, pbo, org, la, mix);
}

BOOL FillPath(SURFOBJ* so, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* org, MIX mix, FLONG options) {
    Log("FillPath");
    return EngFillPath(P(so)->bandObj, ppo, pco, pbo, org, mix, options);
}

BOOL StrokeAndFillPath(SURFOBJ* so, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* stroke, LINEATTRS* la,
                       BRUSHOBJ* fill, POINTL* org, MIX mix, FLONG options) {
    Log("StrokeAndFillPath");
    return EngStrokeAndFillPath(P(so)->bandObj, ppo, pco, pxo, stroke, la, fill, org, mix, options);
}

BOOL RealizeBrush(BRUSHOBJ* pbo, SURFOBJ*, SURFOBJ* pattern, SURFOBJ*, XLATEOBJ* pxlo, ULONG hatch) {
    char b[16];
    std::snprintf(b, sizeof b, "%08X", hatch);
    std::string line = std::string("RealizeBrush ") + b;
    if (pattern) line += " " + std::to_string(pattern->sizlBitmap.cx) + "x" + std::to_string(pattern->sizlBitmap.cy);
    if (pxlo) {
        std::snprintf(b, sizeof b, "%06X", XLATEOBJ_iXlate(pxlo, 1));
        line += std::string(" fg ") + b;
    }
    Log(line);
    auto* r = static_cast<ULONG*>(BRUSHOBJ_pvAllocRbrush(pbo, 16));
    if (!r) return FALSE;
    r[0] = hatch;
    return TRUE;
}

// Dark colours get more black pixels in an 8 x 8 cell: pixel (x, y) is white
// when the grey level passes the cell's threshold.
ULONG DitherColor(DHPDEV, ULONG, ULONG rgb, ULONG* pul) {
    Log("DitherColor");
    int grey = (5 * (rgb & 0xFF) + 9 * ((rgb >> 8) & 0xFF) + 2 * ((rgb >> 16) & 0xFF)) >> 4;
    auto* bytes = reinterpret_cast<BYTE*>(pul);
    for (int y = 0; y < 8; ++y) {
        BYTE row = 0;
        for (int x = 0; x < 8; ++x)
            if (grey > ((x * 5 + y * 3) % 8) * 32 + 16) row |= BYTE(0x80 >> x);
        bytes[y * 4] = row;
        bytes[y * 4 + 1] = bytes[y * 4 + 2] = bytes[y * 4 + 3] = 0;
    }
    return DCR_DRIVER;
}

ULONG Escape(SURFOBJ*, ULONG code, ULONG cjIn, PVOID in, ULONG cjOut, PVOID out) {
    Log("Escape " + std::to_string(code) + " " + std::to_string(cjIn) + " " + std::to_string(cjOut));
    if (out && in) std::memcpy(out, in, cjIn < cjOut ? cjIn : cjOut);
    return code == 4242 ? 0 : cjIn + 1;
}

void Free(PVOID, ULONG_PTR) { Log("Free"); }

BOOL QuerySpoolType(DHPDEV, LPWSTR) { return FALSE; }

template <class F>
PFN Fn(F f) { return reinterpret_cast<PFN>(f); }

DRVFN g_hooks[] = {
    {INDEX_DrvEnablePDEV, Fn(EnablePDEV)},     {INDEX_DrvResetPDEV, Fn(ResetPDEV)},
    {INDEX_DrvCompletePDEV, Fn(CompletePDEV)}, {INDEX_DrvDisablePDEV, Fn(DisablePDEV)},
    {INDEX_DrvEnableSurface, Fn(EnableSurface)}, {INDEX_DrvDisableSurface, Fn(DisableSurface)},
    {INDEX_DrvBitBlt, Fn(BitBlt)},             {INDEX_DrvStretchBlt, Fn(StretchBlt)},
    {INDEX_DrvStretchBltROP, Fn(StretchBltROP)}, {INDEX_DrvCopyBits, Fn(CopyBits)},
    {INDEX_DrvSendPage, Fn(SendPage)},         {INDEX_DrvRealizeBrush, Fn(RealizeBrush)},
    {INDEX_DrvStartPage, Fn(StartPage)},       {INDEX_DrvStartDoc, Fn(StartDoc)},
    {INDEX_DrvEscape, Fn(Escape)},             {INDEX_DrvEndDoc, Fn(EndDoc)},
    {INDEX_DrvFree, Fn(Free)},                 {INDEX_DrvDitherColor, Fn(DitherColor)},
    {INDEX_DrvStartBanding, Fn(StartBanding)}, {INDEX_DrvNextBand, Fn(NextBand)},
    {INDEX_DrvQuerySpoolType, Fn(QuerySpoolType)}, {INDEX_DrvTextOut, Fn(TextOut)},
    {INDEX_DrvStrokePath, Fn(StrokePath)},     {INDEX_DrvFillPath, Fn(FillPath)},
    {INDEX_DrvStrokeAndFillPath, Fn(StrokeAndFillPath)},
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL DrvEnableDriver(ULONG version, ULONG cj, DRVENABLEDATA* ded) {
    Log("EnableDriver " + std::to_string(version));
    if (version < 0x20000 || cj < sizeof(DRVENABLEDATA) || !ded) {
        SetLastError(ERROR_INVALID_CATEGORY);
        return FALSE;
    }
    ded->iDriverVersion = 0x20000;
    ded->c = sizeof(g_hooks) / sizeof(g_hooks[0]);
    ded->pdrvfn = g_hooks;
    return TRUE;
}

__attribute__((visibility("default"))) void DrvDisableDriver() { Log("DisableDriver"); }

__attribute__((visibility("default"))) const char* TestDriverLog() { return g_log.c_str(); }
__attribute__((visibility("default"))) void TestDriverClear() {
    g_log.clear();
    g_pages.clear();
}
__attribute__((visibility("default"))) size_t TestDriverPageCount() { return g_pages.size(); }
__attribute__((visibility("default"))) const BYTE* TestDriverPage(size_t index, LONG* stride) {
    if (index >= g_pages.size()) return nullptr;
    if (stride) *stride = g_pageStride;
    return g_pages[index].data();
}

}  // extern "C"
