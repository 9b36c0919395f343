// The graphics engine's driver interface: the objects the engine hands to a
// printer driver, the driver's hook table and the Eng* services a driver
// calls back. Field names and meanings are those drivers compute with; sizes
// are native (64-bit), so every size a driver needs comes from sizeof.
//
// Path, transform and font objects (PATHOBJ, XFORMOBJ, FONTOBJ, STROBJ,
// LINEATTRS, IFIMETRICS...) are declared in gdi/ddi_path.h and
// gdi/ddi_font.h; they are only named here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/types.h"

using FLONG = uint32_t;
using ROP4 = ULONG;
using MIX = ULONG;
using HSURF = struct HSURF__*;
using HDEV = struct HDEV__*;
using DHPDEV = struct DHPDEV__*;
using DHSURF = struct DHSURF__*;
using HBM = HSURF;

struct PATHOBJ;
struct XFORMOBJ;
struct FONTOBJ;
struct STROBJ;
struct LINEATTRS;
struct IFIMETRICS;
struct FD_GLYPHSET;
struct GLYPHDATA;
struct GLYPHPOS;
struct FD_KERNINGPAIR;
struct COLORADJUSTMENT;

// ---- Bitmap formats and surfaces ----------------------------------------

constexpr ULONG BMF_1BPP = 1;
constexpr ULONG BMF_4BPP = 2;
constexpr ULONG BMF_8BPP = 3;
constexpr ULONG BMF_16BPP = 4;
constexpr ULONG BMF_24BPP = 5;
constexpr ULONG BMF_32BPP = 6;
constexpr ULONG BMF_4RLE = 7;
constexpr ULONG BMF_8RLE = 8;
constexpr ULONG BMF_JPEG = 9;
constexpr ULONG BMF_PNG = 10;

// fjBitmap / EngCreateBitmap flags.
constexpr FLONG BMF_TOPDOWN = 0x0001;
constexpr FLONG BMF_NOZEROINIT = 0x0002;
constexpr FLONG BMF_DONTCACHE = 0x0004;
constexpr FLONG BMF_USERMEM = 0x0008;

// iType of a surface.
constexpr USHORT STYPE_BITMAP = 0;
constexpr USHORT STYPE_DEVICE = 1;
constexpr USHORT STYPE_DEVBITMAP = 3;

struct SURFOBJ {
    DHSURF dhsurf;
    HSURF hsurf;
    DHPDEV dhpdev;
    HDEV hdev;
    SIZEL sizlBitmap;
    ULONG cjBits;
    PVOID pvBits;
    PVOID pvScan0;    // first scan line (top row) of the bitmap
    LONG lDelta;      // bytes from one scan line to the next; negative for bottom-up
    ULONG iUniq;
    ULONG iBitmapFormat;
    USHORT iType;
    USHORT fjBitmap;
};

// Bits per pixel of a BMF_* format; 0 for compressed or unknown formats.
constexpr ULONG BitsPerPixel(ULONG format) {
    switch (format) {
        case BMF_1BPP: return 1;
        case BMF_4BPP: return 4;
        case BMF_8BPP: return 8;
        case BMF_16BPP: return 16;
        case BMF_24BPP: return 24;
        case BMF_32BPP: return 32;
        default: return 0;
    }
}

// ---- Hooks a surface asks for (EngAssociateSurface) ----------------------

constexpr FLONG HOOK_BITBLT = 0x00000001;
constexpr FLONG HOOK_STRETCHBLT = 0x00000002;
constexpr FLONG HOOK_PLGBLT = 0x00000004;
constexpr FLONG HOOK_TEXTOUT = 0x00000008;
constexpr FLONG HOOK_PAINT = 0x00000010;
constexpr FLONG HOOK_STROKEPATH = 0x00000020;
constexpr FLONG HOOK_FILLPATH = 0x00000040;
constexpr FLONG HOOK_STROKEANDFILLPATH = 0x00000080;
constexpr FLONG HOOK_LINETO = 0x00000100;
constexpr FLONG HOOK_COPYBITS = 0x00000400;
constexpr FLONG HOOK_STRETCHBLTROP = 0x00002000;
constexpr FLONG HOOK_FLAGS = 0x0003B5FF;

// ---- Clip objects -------------------------------------------------------

constexpr BYTE DC_TRIVIAL = 0;
constexpr BYTE DC_RECT = 1;
constexpr BYTE DC_COMPLEX = 3;

constexpr BYTE FC_RECT = 1;
constexpr BYTE FC_RECT4 = 2;
constexpr BYTE FC_COMPLEX = 3;

constexpr BYTE TC_RECTANGLES = 4;
constexpr BYTE TC_PATHOBJ = 2;

constexpr BYTE OC_BANK_CLIP = 1;

constexpr ULONG CT_RECTANGLES = 0;

constexpr ULONG CD_RIGHTDOWN = 0;
constexpr ULONG CD_LEFTDOWN = 1;
constexpr ULONG CD_RIGHTUP = 2;
constexpr ULONG CD_LEFTUP = 3;
constexpr ULONG CD_ANY = 4;

struct CLIPOBJ {
    ULONG iUniq;
    RECTL rclBounds;
    BYTE iDComplexity;
    BYTE iFComplexity;
    BYTE iMode;
    BYTE fjOptions;
};

// What CLIPOBJ_bEnum writes: a count and as many rectangles as the caller's
// byte count holds.
struct ENUMRECTS {
    ULONG c;
    RECTL arcl[1];
};

// ---- Brushes ------------------------------------------------------------

struct BRUSHOBJ {
    ULONG iSolidColor;  // 0xFFFFFFFF: not a solid colour, realise it
    PVOID pvRbrush;
    FLONG flColorType;
};

constexpr ULONG BR_NOT_SOLID = 0xFFFFFFFF;  // iSolidColor of a pattern or hatch brush

// The top bit of DrvRealizeBrush's hatch argument: dither this colour.
constexpr ULONG RB_DITHERCOLOR = 0x80000000;

// DrvDitherColor answers.
constexpr ULONG DCR_SOLID = 0;
constexpr ULONG DCR_DRIVER = 1;
constexpr ULONG DCR_HALFTONE = 2;
constexpr ULONG DM_DEFAULT = 0;
constexpr ULONG DM_MONOCHROME = 1;

// Standard hatch styles.
constexpr ULONG HS_HORIZONTAL = 0;
constexpr ULONG HS_VERTICAL = 1;
constexpr ULONG HS_FDIAGONAL = 2;
constexpr ULONG HS_BDIAGONAL = 3;
constexpr ULONG HS_CROSS = 4;
constexpr ULONG HS_DIAGCROSS = 5;
constexpr ULONG HS_DDI_MAX = 6;

// ---- Colour translation and palettes ------------------------------------

constexpr FLONG XO_TRIVIAL = 0x01;
constexpr FLONG XO_TABLE = 0x02;
constexpr FLONG XO_TO_MONO = 0x04;

constexpr ULONG XO_SRCPALETTE = 1;
constexpr ULONG XO_DESTPALETTE = 2;

struct XLATEOBJ {
    ULONG iUniq;
    FLONG flXlate;
    USHORT iSrcType;
    USHORT iDstType;
    ULONG cEntries;  // entries of pulXlate (indexed sources)
    ULONG* pulXlate;
};

constexpr ULONG PAL_INDEXED = 0x01;
constexpr ULONG PAL_BITFIELDS = 0x02;
constexpr ULONG PAL_RGB = 0x04;   // 0x00BBGGRR, red in the low byte
constexpr ULONG PAL_BGR = 0x08;   // 0x00RRGGBB

struct PALOBJ {
    ULONG ulReserved;
};

// ---- Stretching ---------------------------------------------------------

constexpr ULONG BLACKONWHITE = 1;
constexpr ULONG WHITEONBLACK = 2;
constexpr ULONG COLORONCOLOR = 3;
constexpr ULONG HALFTONE = 4;

// ---- Device description (DrvEnablePDEV) ---------------------------------

using LDECI4 = LONG;

struct CIECHROMA {
    LDECI4 x;
    LDECI4 y;
    LDECI4 Y;
};

struct COLORINFO {
    CIECHROMA Red, Green, Blue, Cyan, Magenta, Yellow, AlignmentWhite;
    LDECI4 RedGamma, GreenGamma, BlueGamma;
    LDECI4 MagentaInCyanDye, YellowInCyanDye, CyanInMagentaDye;
    LDECI4 YellowInMagentaDye, CyanInYellowDye, MagentaInYellowDye;
};

struct GDIINFO {
    ULONG ulVersion;
    ULONG ulTechnology;
    ULONG ulHorzSize;   // millimetres
    ULONG ulVertSize;
    ULONG ulHorzRes;    // pixels
    ULONG ulVertRes;
    ULONG cBitsPixel;
    ULONG cPlanes;
    ULONG ulNumColors;
    FLONG flRaster;
    ULONG ulLogPixelsX;
    ULONG ulLogPixelsY;
    FLONG flTextCaps;
    ULONG ulDACRed;
    ULONG ulDACGreen;
    ULONG ulDACBlue;
    ULONG ulAspectX;
    ULONG ulAspectY;
    ULONG ulAspectXY;
    LONG xStyleStep;
    LONG yStyleStep;
    LONG denStyleStep;
    POINTL ptlPhysOffset;
    SIZEL szlPhysSize;
    ULONG ulNumPalReg;
    COLORINFO ciDevice;
    ULONG ulDevicePelsDPI;
    ULONG ulPrimaryOrder;
    ULONG ulHTPatternSize;
    ULONG ulHTOutputFormat;
    FLONG flHTFlags;
    ULONG ulVRefresh;
    ULONG ulBltAlignment;
    ULONG ulPanningHorzRes;
    ULONG ulPanningVertRes;
    ULONG xPanningAlignment;
    ULONG yPanningAlignment;
    ULONG cxHTPat;
    ULONG cyHTPat;
    LPBYTE pHTPatA;
    LPBYTE pHTPatB;
    LPBYTE pHTPatC;
    ULONG flShadeBlend;
    ULONG ulPhysicalPixelCharacteristics;
    ULONG ulPhysicalPixelGamma;
};

constexpr ULONG DT_RASPRINTER = 2;

struct DEVINFO {
    FLONG flGraphicsCaps;
    LOGFONTW lfDefaultFont;
    LOGFONTW lfAnsiVarFont;
    LOGFONTW lfAnsiFixFont;
    ULONG cFonts;
    ULONG iDitherFormat;
    USHORT cxDither;
    USHORT cyDither;
    HPALETTE hpalDefault;
};

constexpr FLONG GCAPS_HALFTONE = 0x00000010;  // the device asks for the engine's halftoning
constexpr FLONG GCAPS_DONTJOURNAL = 0x00002000;

// ---- The driver's function table ----------------------------------------

using PFN = void (*)();

struct DRVFN {
    ULONG iFunc;
    PFN pfn;
};

struct DRVENABLEDATA {
    ULONG iDriverVersion;
    ULONG c;
    DRVFN* pdrvfn;
};

constexpr ULONG DDI_DRIVER_VERSION_NT5 = 0x00030000;
constexpr ULONG ENGINE_VERSION = 0x00020000;  // what the engine announces to DrvEnableDriver

// Function indices of the hook table.
constexpr ULONG INDEX_DrvEnablePDEV = 0;
constexpr ULONG INDEX_DrvCompletePDEV = 1;
constexpr ULONG INDEX_DrvDisablePDEV = 2;
constexpr ULONG INDEX_DrvEnableSurface = 3;
constexpr ULONG INDEX_DrvDisableSurface = 4;
constexpr ULONG INDEX_DrvAssertMode = 5;
constexpr ULONG INDEX_DrvResetPDEV = 7;
constexpr ULONG INDEX_DrvCreateDeviceBitmap = 10;
constexpr ULONG INDEX_DrvDeleteDeviceBitmap = 11;
constexpr ULONG INDEX_DrvRealizeBrush = 12;
constexpr ULONG INDEX_DrvDitherColor = 13;
constexpr ULONG INDEX_DrvStrokePath = 14;
constexpr ULONG INDEX_DrvFillPath = 15;
constexpr ULONG INDEX_DrvStrokeAndFillPath = 16;
constexpr ULONG INDEX_DrvPaint = 17;
constexpr ULONG INDEX_DrvBitBlt = 18;
constexpr ULONG INDEX_DrvCopyBits = 19;
constexpr ULONG INDEX_DrvStretchBlt = 20;
constexpr ULONG INDEX_DrvSetPalette = 22;
constexpr ULONG INDEX_DrvTextOut = 23;
constexpr ULONG INDEX_DrvEscape = 24;
constexpr ULONG INDEX_DrvDrawEscape = 25;
constexpr ULONG INDEX_DrvQueryFont = 26;
constexpr ULONG INDEX_DrvQueryFontTree = 27;
constexpr ULONG INDEX_DrvQueryFontData = 28;
constexpr ULONG INDEX_DrvSetPointerShape = 29;
constexpr ULONG INDEX_DrvMovePointer = 30;
constexpr ULONG INDEX_DrvLineTo = 31;
constexpr ULONG INDEX_DrvSendPage = 32;
constexpr ULONG INDEX_DrvStartPage = 33;
constexpr ULONG INDEX_DrvEndDoc = 34;
constexpr ULONG INDEX_DrvStartDoc = 35;
constexpr ULONG INDEX_DrvGetGlyphMode = 37;
constexpr ULONG INDEX_DrvSynchronize = 38;
constexpr ULONG INDEX_DrvSaveScreenBits = 40;
constexpr ULONG INDEX_DrvGetModes = 41;
constexpr ULONG INDEX_DrvFree = 42;
constexpr ULONG INDEX_DrvDestroyFont = 43;
constexpr ULONG INDEX_DrvQueryFontCaps = 44;
constexpr ULONG INDEX_DrvLoadFontFile = 45;
constexpr ULONG INDEX_DrvUnloadFontFile = 46;
constexpr ULONG INDEX_DrvFontManagement = 47;
constexpr ULONG INDEX_DrvQueryTrueTypeTable = 48;
constexpr ULONG INDEX_DrvQueryTrueTypeOutline = 49;
constexpr ULONG INDEX_DrvGetTrueTypeFile = 50;
constexpr ULONG INDEX_DrvQueryFontFile = 51;
constexpr ULONG INDEX_DrvQueryAdvanceWidths = 53;
constexpr ULONG INDEX_DrvSetPixelFormat = 54;
constexpr ULONG INDEX_DrvDescribePixelFormat = 55;
constexpr ULONG INDEX_DrvSwapBuffers = 56;
constexpr ULONG INDEX_DrvStartBanding = 57;
constexpr ULONG INDEX_DrvNextBand = 58;
constexpr ULONG INDEX_DrvGetDirectDrawInfo = 59;
constexpr ULONG INDEX_DrvEnableDirectDraw = 60;
constexpr ULONG INDEX_DrvDisableDirectDraw = 61;
constexpr ULONG INDEX_DrvQuerySpoolType = 62;
constexpr ULONG INDEX_DrvIcmCreateColorTransform = 64;
constexpr ULONG INDEX_DrvIcmDeleteColorTransform = 65;
constexpr ULONG INDEX_DrvIcmCheckBitmapBits = 66;
constexpr ULONG INDEX_DrvIcmSetDeviceGammaRamp = 67;
constexpr ULONG INDEX_DrvGradientFill = 68;
constexpr ULONG INDEX_DrvStretchBltROP = 69;
constexpr ULONG INDEX_DrvPlgBlt = 70;
constexpr ULONG INDEX_DrvAlphaBlend = 71;
constexpr ULONG INDEX_DrvTransparentBlt = 74;
constexpr ULONG INDEX_LAST = 89;

// DrvEnableDriver and the hooks, as the engine calls them.
using PFN_DrvEnableDriver = BOOL (*)(ULONG iEngineVersion, ULONG cj, DRVENABLEDATA* pded);
using PFN_DrvDisableDriver = void (*)();
using PFN_DrvEnablePDEV = DHPDEV (*)(DEVMODEW* pdm, LPWSTR pwszLogAddress, ULONG cPat, HSURF* phsurfPatterns,
                                     ULONG cjCaps, ULONG* pdevcaps, ULONG cjDevInfo, DEVINFO* pdi, HDEV hdev,
                                     LPWSTR pwszDeviceName, HANDLE hDriver);
using PFN_DrvCompletePDEV = void (*)(DHPDEV dhpdev, HDEV hdev);
using PFN_DrvDisablePDEV = void (*)(DHPDEV dhpdev);
using PFN_DrvResetPDEV = BOOL (*)(DHPDEV dhpdevOld, DHPDEV dhpdevNew);
using PFN_DrvEnableSurface = HSURF (*)(DHPDEV dhpdev);
using PFN_DrvDisableSurface = void (*)(DHPDEV dhpdev);
using PFN_DrvStartDoc = BOOL (*)(SURFOBJ* pso, LPWSTR pwszDocName, DWORD dwJobId);
using PFN_DrvEndDoc = BOOL (*)(SURFOBJ* pso, FLONG fl);
// DrvEndDoc's flag for a document that ends without printing.
constexpr FLONG ED_ABORTDOC = 1;
using PFN_DrvStartPage = BOOL (*)(SURFOBJ* pso);
using PFN_DrvSendPage = BOOL (*)(SURFOBJ* pso);
using PFN_DrvStartBanding = BOOL (*)(SURFOBJ* pso, POINTL* pptl);
using PFN_DrvNextBand = BOOL (*)(SURFOBJ* pso, POINTL* pptl);
using PFN_DrvEscape = ULONG (*)(SURFOBJ* pso, ULONG iEsc, ULONG cjIn, PVOID pvIn, ULONG cjOut, PVOID pvOut);
using PFN_DrvBitBlt = BOOL (*)(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                               RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo,
                               POINTL* pptlBrush, ROP4 rop4);
using PFN_DrvCopyBits = BOOL (*)(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                                 RECTL* prclDest, POINTL* pptlSrc);
using PFN_DrvStretchBlt = BOOL (*)(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                                   XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                                   RECTL* prclSrc, POINTL* pptlMask, ULONG iMode);
using PFN_DrvStretchBltROP = BOOL (*)(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                                      XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                                      RECTL* prclSrc, POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo, DWORD rop4);
using PFN_DrvRealizeBrush = BOOL (*)(BRUSHOBJ* pbo, SURFOBJ* psoTarget, SURFOBJ* psoPattern, SURFOBJ* psoMask,
                                     XLATEOBJ* pxlo, ULONG iHatch);
using PFN_DrvDitherColor = ULONG (*)(DHPDEV dhpdev, ULONG iMode, ULONG rgb, ULONG* pul);
using PFN_DrvStrokePath = BOOL (*)(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo,
                                   POINTL* pptlBrushOrg, LINEATTRS* plineattrs, MIX mix);
using PFN_DrvFillPath = BOOL (*)(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
                                 MIX mix, FLONG flOptions);
using PFN_DrvStrokeAndFillPath = BOOL (*)(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                                          BRUSHOBJ* pboStroke, LINEATTRS* plineattrs, BRUSHOBJ* pboFill,
                                          POINTL* pptlBrushOrg, MIX mixFill, FLONG flOptions);
using PFN_DrvTextOut = BOOL (*)(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                                RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg,
                                MIX mix);
using PFN_DrvFree = void (*)(PVOID pv, ULONG_PTR id);
using PFN_DrvQuerySpoolType = BOOL (*)(DHPDEV dhpdev, LPWSTR pwchType);

// ROP3 codes the engine and its callers name.
constexpr ULONG ROP3_BLACKNESS = 0x00;
constexpr ULONG ROP3_NOTSRCERASE = 0x11;
constexpr ULONG ROP3_NOTSRCCOPY = 0x33;
constexpr ULONG ROP3_SRCERASE = 0x44;
constexpr ULONG ROP3_DSTINVERT = 0x55;
constexpr ULONG ROP3_PATINVERT = 0x5A;
constexpr ULONG ROP3_SRCINVERT = 0x66;
constexpr ULONG ROP3_SRCAND = 0x88;
constexpr ULONG ROP3_NOP = 0xAA;
constexpr ULONG ROP3_MERGEPAINT = 0xBB;
constexpr ULONG ROP3_MERGECOPY = 0xC0;
constexpr ULONG ROP3_SRCCOPY = 0xCC;
constexpr ULONG ROP3_SRCPAINT = 0xEE;
constexpr ULONG ROP3_PATCOPY = 0xF0;
constexpr ULONG ROP3_PATPAINT = 0xFB;
constexpr ULONG ROP3_WHITENESS = 0xFF;

// A ROP4 with the same ROP3 in foreground and background.
constexpr ROP4 Rop4(ULONG rop3) { return (rop3 & 0xFF) | ((rop3 & 0xFF) << 8); }
constexpr ROP4 Rop4(ULONG fore, ULONG back) { return (fore & 0xFF) | ((back & 0xFF) << 8); }

// ---- Engine services ----------------------------------------------------

extern "C" {

HBITMAP EngCreateBitmap(SIZEL sizl, LONG lWidth, ULONG iFormat, FLONG fl, PVOID pvBits);
HSURF EngCreateDeviceSurface(DHSURF dhsurf, SIZEL sizl, ULONG iFormatCompat);
BOOL EngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG flHooks);
BOOL EngMarkBandingSurface(HSURF hsurf);
SURFOBJ* EngLockSurface(HSURF hsurf);
void EngUnlockSurface(SURFOBJ* pso);
BOOL EngDeleteSurface(HSURF hsurf);
BOOL EngEraseSurface(SURFOBJ* pso, RECTL* prcl, ULONG iColor);
HPALETTE EngCreatePalette(ULONG iMode, ULONG cColors, ULONG* pulColors, FLONG flRed, FLONG flGreen, FLONG flBlue);
BOOL EngDeletePalette(HPALETTE hpal);

BOOL EngBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclTrg,
               POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo, POINTL* pptlBrush, ROP4 rop4);
BOOL EngCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest,
                 POINTL* pptlSrc);
BOOL EngStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                   COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask,
                   ULONG iMode);
BOOL EngStretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                      COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask,
                      ULONG iMode, BRUSHOBJ* pbo, DWORD rop4);

ULONG CLIPOBJ_cEnumStart(CLIPOBJ* pco, BOOL bAll, ULONG iType, ULONG iDirection, ULONG cLimit);
BOOL CLIPOBJ_bEnum(CLIPOBJ* pco, ULONG cj, ULONG* pul);
PATHOBJ* CLIPOBJ_ppoGetPath(CLIPOBJ* pco);

PVOID BRUSHOBJ_pvAllocRbrush(BRUSHOBJ* pbo, ULONG cj);
PVOID BRUSHOBJ_pvGetRbrush(BRUSHOBJ* pbo);
ULONG BRUSHOBJ_ulGetBrushColor(BRUSHOBJ* pbo);

ULONG XLATEOBJ_iXlate(XLATEOBJ* pxlo, ULONG iColor);
ULONG XLATEOBJ_cGetPalette(XLATEOBJ* pxlo, ULONG iPal, ULONG cPal, ULONG* pPal);

PVOID EngAllocMem(ULONG fl, ULONG cj, ULONG tag);
void EngFreeMem(PVOID pv);
ULONG EngGetLastError();
void EngSetLastError(ULONG iError);

}  // extern "C"

constexpr ULONG FL_ZERO_MEMORY = 0x00000001;
