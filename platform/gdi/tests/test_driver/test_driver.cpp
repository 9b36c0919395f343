// A printer driver for tests only: every hook call is logged, drawing goes
// to the engine on a band bitmap, and each band is copied into a page image.
#include "test_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "gdi/ddi_font.h"
#include "gdi/ddi_path.h"
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
    gi->ulHTPatternSize = p->s.htPatternSize;
    *di = DEVINFO{};
    if (p->s.format == BMF_1BPP) {
        ULONG mono[2] = {0x000000, 0xFFFFFF};
        p->palette = EngCreatePalette(PAL_INDEXED, 2, mono, 0, 0, 0);
    } else {
        p->palette = EngCreatePalette(PAL_BGR, 0, nullptr, 0, 0, 0);
    }
    di->hpalDefault = p->palette;
    if (p->s.halftone) di->flGraphicsCaps |= GCAPS_HALFTONE;
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
    if (!p->s.looseBand) EngAssociateSurface(p->band, p->hdev, 0);
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

// A halftoning one-bit driver stretches every image with the engine's
// halftone, as monochrome printers do.
ULONG StretchMode(SURFOBJ* so, ULONG mode) {
    const Pdev* p = P(so);
    return p && p->s.halftone && p->s.format == BMF_1BPP ? HALFTONE : mode;
}

BOOL StretchBlt(SURFOBJ* so, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* ca,
                POINTL* ht, RECTL* rd, RECTL* rs, POINTL* pm, ULONG mode) {
    Log("StretchBlt " + Rect(rd));
    return EngStretchBlt(P(so)->bandObj, src, mask, pco, pxlo, ca, ht, rd, rs, pm, StretchMode(so, mode));
}

BOOL StretchBltROP(SURFOBJ* so, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* ca,
                   POINTL* ht, RECTL* rd, RECTL* rs, POINTL* pm, ULONG mode, BRUSHOBJ* pbo, DWORD rop) {
    Log("StretchBltROP " + Rect(rd));
    return EngStretchBltROP(P(so)->bandObj, src, mask, pco, pxlo, ca, ht, rd, rs, pm, StretchMode(so, mode), pbo, rop);
}

// Text and paths are logged and punted back to the engine on the band.
BOOL TextOut(SURFOBJ* so, STROBJ* str, FONTOBJ* fo, CLIPOBJ* pco, RECTL* extra, RECTL* opaque, BRUSHOBJ* fore,
             BRUSHOBJ* back, POINTL* org, MIX mix) {
    std::string line = "TextOut " + std::to_string(str ? str->cGlyphs : 0);
    if (fo && (fo->flFontType & FO_TYPE_DEVICE)) {
        // The printer's own font: the text goes to the printer, nothing to
        // the band.
        Log(line + " device " + std::to_string(fo->iFace));
        return TRUE;
    }
    // The string's background holds its first glyph's origin, in the same
    // (band) coordinates.
    if (str && str->cGlyphs) {
        ULONG n = 0;
        GLYPHPOS* gp = nullptr;
        STROBJ_vEnumStart(str);
        STROBJ_bEnumPositionsOnly(str, &n, &gp);
        if (n && gp && (gp->ptl.y < str->rclBkGround.top || gp->ptl.y > str->rclBkGround.bottom))
            line += " background apart from the glyphs";
        STROBJ_vEnumStart(str);
    }
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

std::vector<TestEscapeAnswer> g_escapes;

ULONG Escape(SURFOBJ*, ULONG code, ULONG cjIn, PVOID in, ULONG cjOut, PVOID out) {
    std::string line = "Escape " + std::to_string(code) + " " + std::to_string(cjIn) + " " + std::to_string(cjOut);
    if (g_escapes.empty()) {
        Log(line);
        if (out && in) std::memcpy(out, in, cjIn < cjOut ? cjIn : cjOut);
        return code == 4242 ? 0 : cjIn + 1;
    }
    if (in && cjIn > 0) {
        line += ' ';
        for (ULONG i = 0; i < cjIn && i < 4; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", static_cast<const BYTE*>(in)[i]);
            line += hex;
        }
    }
    Log(line);
    if (code == 8) {
        ULONG asked = 0;
        if (!in || cjIn < sizeof asked) return 0;
        std::memcpy(&asked, in, sizeof asked);
        for (const auto& e : g_escapes)
            if (e.code == asked) return 1;
        return 0;
    }
    for (const auto& e : g_escapes) {
        if (e.code != code) continue;
        if (out) std::memcpy(out, e.answer, std::min<ULONG>(std::min<ULONG>(e.size, sizeof e.answer), cjOut));
        return static_cast<ULONG>(e.result);
    }
    return 0;
}

// Device faces of invented printer fonts: one fixed-pitch face and a
// proportional family in two weights, 1000 units to the em.
struct TestFace {
    const char16_t* name;
    bool fixed;
    USHORT weight;
};
constexpr TestFace kFaces[] = {{u"Zel Courier", true, 400}, {u"Zel Gothic", false, 400}, {u"Zel Gothic", false, 700}};
constexpr ULONG kFaceCount = sizeof(kFaces) / sizeof(kFaces[0]);
constexpr WCHAR kFirstChar = 0x20, kLastChar = 0x7E;

// Advance of a character in font units.
LONG NotionalWidth(ULONG face, HGLYPH g) {
    const TestFace& f = kFaces[face - 1];
    if (f.fixed) return 600;
    return 400 + LONG(g % 5) * 60 + (f.weight >= 700 ? 40 : 0);
}

// Blocks handed to the engine carry an id that DrvFree must bring back.
ULONG_PTR g_nextId = 100;

IFIMETRICS* QueryFont(DHPDEV, ULONG_PTR, ULONG iFace, ULONG_PTR* pid) {
    Log("QueryFont " + std::to_string(iFace));
    if (pid) *pid = 0;
    if (iFace == 0) return reinterpret_cast<IFIMETRICS*>(ULONG_PTR(kFaceCount));
    if (iFace > kFaceCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const TestFace& f = kFaces[iFace - 1];
    size_t nameChars = std::char_traits<char16_t>::length(f.name) + 1;
    const size_t simAt = sizeof(IFIMETRICS);
    const size_t nameAt = simAt + sizeof(FONTSIM) + sizeof(FONTDIFF);
    const size_t size = nameAt + 2 * nameChars + 2;  // family, then an empty style name
    auto* ifi = static_cast<IFIMETRICS*>(std::calloc(1, size));
    ifi->cjThis = static_cast<ULONG>(size);
    ifi->dpwszFamilyName = ifi->dpwszFaceName = static_cast<PTRDIFF>(nameAt);
    ifi->dpwszStyleName = ifi->dpwszUniqueName = static_cast<PTRDIFF>(nameAt + 2 * nameChars);
    std::memcpy(reinterpret_cast<BYTE*>(ifi) + nameAt, f.name, 2 * nameChars);
    if (f.weight < 700) {
        ifi->dpFontSim = static_cast<PTRDIFF>(simAt);
        FONTSIM sim{sizeof(FONTSIM), 0, 0};
        std::memcpy(reinterpret_cast<BYTE*>(ifi) + simAt, &sim, sizeof sim);
    }
    ifi->jWinCharSet = 0;
    ifi->jWinPitchAndFamily = f.fixed ? 0x31 : 0x22;
    ifi->usWinWeight = f.weight;
    ifi->flInfo = FM_INFO_TECH_OUTLINE_NOT_TRUETYPE | FM_INFO_1BPP | FM_INFO_RIGHT_HANDED |
                  (f.fixed ? FM_INFO_CONSTANT_WIDTH : 0);
    ifi->fsSelection = f.weight >= 700 ? FM_SEL_BOLD : 0;
    ifi->fwdUnitsPerEm = 1000;
    ifi->fwdWinAscender = ifi->fwdMacAscender = ifi->fwdTypoAscender = 800;
    ifi->fwdWinDescender = 200;
    ifi->fwdMacDescender = ifi->fwdTypoDescender = -200;
    ifi->fwdAveCharWidth = f.fixed ? 600 : 520;
    ifi->fwdMaxCharInc = f.fixed ? 600 : 680;
    ifi->fwdUnderscoreSize = ifi->fwdStrikeoutSize = 50;
    ifi->fwdUnderscorePosition = -100;
    ifi->fwdStrikeoutPosition = 300;
    ifi->chFirstChar = 0x20;
    ifi->chLastChar = 0x7E;
    ifi->wcFirstChar = kFirstChar;
    ifi->wcLastChar = kLastChar;
    ifi->wcDefaultChar = ifi->wcBreakChar = 0x20;
    ifi->cKerningPairs = f.fixed ? 0 : 2;
    if (pid) *pid = g_nextId++;
    Log("QueryFont " + std::to_string(iFace) + " id " + std::to_string(pid ? *pid : 0));
    return ifi;
}

PVOID QueryFontTree(DHPDEV, ULONG_PTR, ULONG iFace, ULONG iMode, ULONG_PTR* pid) {
    std::string line = "QueryFontTree " + std::to_string(iFace) + " " + std::to_string(iMode);
    if (pid) *pid = 0;
    if (iFace < 1 || iFace > kFaceCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        Log(line);
        return nullptr;
    }
    PVOID out = nullptr;
    if (iMode == QFT_GLYPHSET) {
        auto* set = static_cast<FD_GLYPHSET*>(std::calloc(1, sizeof(FD_GLYPHSET)));
        set->cjThis = sizeof(FD_GLYPHSET);
        set->flAccel = GS_UNICODE_HANDLES;
        set->cGlyphsSupported = kLastChar - kFirstChar + 1;
        set->cRuns = 1;
        set->awcrun[0] = {kFirstChar, USHORT(kLastChar - kFirstChar + 1), nullptr};
        out = set;
    } else if (iMode == QFT_KERNPAIRS && !kFaces[iFace - 1].fixed) {
        auto* pairs = static_cast<FD_KERNINGPAIR*>(std::calloc(3, sizeof(FD_KERNINGPAIR)));
        pairs[0] = {u'A', u'V', -80};
        pairs[1] = {u'V', u'A', -80};
        out = pairs;
    }
    if (out && pid) *pid = g_nextId++;
    if (out) line += " id " + std::to_string(pid ? *pid : 0);
    Log(line);
    return out;
}

// The realised font's scale from font units to pixels along x; nullopt for
// a font object this driver did not describe.
std::optional<double> ScaleOf(FONTOBJ* pfo) {
    XFORMOBJ* xo = pfo ? FONTOBJ_pxoGetXform(pfo) : nullptr;
    if (!xo || pfo->iFace < 1 || pfo->iFace > kFaceCount) return std::nullopt;
    XFORML m{};
    XFORMOBJ_iGetXform(xo, &m);
    if (!(m.eM11 > 0)) return std::nullopt;
    return double{m.eM11};
}

// 28.4 advances of the realised font: the font's transform scales the
// notional width, brought to whole pixels as printers space their fonts.
BOOL QueryAdvanceWidths(DHPDEV, FONTOBJ* pfo, ULONG iMode, HGLYPH* phg, PVOID pvWidths, ULONG count) {
    Log("QueryAdvanceWidths " + std::to_string(pfo ? pfo->iFace : 0) + " " + std::to_string(count));
    auto scale = ScaleOf(pfo);
    if (!scale || iMode > QAW_GETEASYWIDTHS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* widths = static_cast<USHORT*>(pvWidths);
    for (ULONG i = 0; i < count; ++i) {
        LONG fx = LONG(std::lround(NotionalWidth(pfo->iFace, phg[i]) * *scale * 16));
        widths[i] = static_cast<USHORT>((fx + 8) & ~15);
    }
    return TRUE;
}

LONG QueryFontData(DHPDEV, FONTOBJ* pfo, ULONG iMode, HGLYPH hg, GLYPHDATA* pgd, PVOID pv, ULONG cj) {
    Log("QueryFontData " + std::to_string(iMode));
    auto scale = ScaleOf(pfo);
    if (!scale) return -1;
    if (iMode == QFD_MAXEXTENTS) {
        if (!pv) return sizeof(FD_DEVICEMETRICS);
        if (cj < sizeof(FD_DEVICEMETRICS)) return -1;
        auto* dm = static_cast<FD_DEVICEMETRICS*>(pv);
        *dm = FD_DEVICEMETRICS{};
        dm->cxMax = static_cast<ULONG>(std::lround((kFaces[pfo->iFace - 1].fixed ? 600 : 680) * *scale));
        return sizeof(FD_DEVICEMETRICS);
    }
    if (iMode != QFD_GLYPHANDBITMAP || !pgd) return -1;
    *pgd = GLYPHDATA{};
    pgd->hg = hg;
    pgd->fxD = pgd->fxAB = FIX(std::lround(NotionalWidth(pfo->iFace, hg) * *scale * 16));
    pgd->ptqD.x.HighPart = pgd->fxD;
    return 0;
}

void Free(PVOID pv, ULONG_PTR id) {
    Log("Free " + std::to_string(id));
    std::free(pv);
}

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
    {INDEX_DrvStrokeAndFillPath, Fn(StrokeAndFillPath)}, {INDEX_DrvQueryFont, Fn(QueryFont)},
    {INDEX_DrvQueryFontTree, Fn(QueryFontTree)}, {INDEX_DrvQueryAdvanceWidths, Fn(QueryAdvanceWidths)},
    {INDEX_DrvQueryFontData, Fn(QueryFontData)},
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
__attribute__((visibility("default"))) void TestDriverSetEscapes(const TestEscapeAnswer* table, size_t count) {
    g_escapes.assign(table, table ? table + count : table);
}
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
