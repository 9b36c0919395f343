// Engine objects for fonts and text as drivers see them: FONTOBJ and its
// metrics (IFIMETRICS), glyphs (GLYPHDATA, GLYPHBITS), strings (STROBJ,
// GLYPHPOS), glyph sets, and the text services of the engine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/types.h"
#include "gdi/ddi.h"
#include "gdi/ddi_path.h"

using FWORD = SHORT;
using FSHORT = USHORT;
using HGLYPH = ULONG;
using PTRDIFF = LONG;  // byte offsets from the start of the structure

constexpr HGLYPH HGLYPH_INVALID = 0xFFFFFFFF;

struct PANOSE {
    BYTE bFamilyType, bSerifStyle, bWeight, bProportion, bContrast, bStrokeVariation, bArmStyle, bLetterform,
        bMidline, bXHeight;
};
static_assert(sizeof(PANOSE) == 10);

struct IFIMETRICS {
    ULONG cjThis;
    ULONG cjIfiExtra;
    PTRDIFF dpwszFamilyName;
    PTRDIFF dpwszStyleName;
    PTRDIFF dpwszFaceName;
    PTRDIFF dpwszUniqueName;
    PTRDIFF dpFontSim;
    LONG lEmbedId;
    LONG lItalicAngle;
    LONG lCharBias;
    PTRDIFF dpCharSets;
    BYTE jWinCharSet;
    BYTE jWinPitchAndFamily;
    USHORT usWinWeight;
    ULONG flInfo;
    USHORT fsSelection;
    USHORT fsType;
    FWORD fwdUnitsPerEm;
    FWORD fwdLowestPPEm;
    FWORD fwdWinAscender;
    FWORD fwdWinDescender;
    FWORD fwdMacAscender;
    FWORD fwdMacDescender;
    FWORD fwdMacLineGap;
    FWORD fwdTypoAscender;
    FWORD fwdTypoDescender;
    FWORD fwdTypoLineGap;
    FWORD fwdAveCharWidth;
    FWORD fwdMaxCharInc;
    FWORD fwdCapHeight;
    FWORD fwdXHeight;
    FWORD fwdSubscriptXSize;
    FWORD fwdSubscriptYSize;
    FWORD fwdSubscriptXOffset;
    FWORD fwdSubscriptYOffset;
    FWORD fwdSuperscriptXSize;
    FWORD fwdSuperscriptYSize;
    FWORD fwdSuperscriptXOffset;
    FWORD fwdSuperscriptYOffset;
    FWORD fwdUnderscoreSize;
    FWORD fwdUnderscorePosition;
    FWORD fwdStrikeoutSize;
    FWORD fwdStrikeoutPosition;
    BYTE chFirstChar;
    BYTE chLastChar;
    BYTE chDefaultChar;
    BYTE chBreakChar;
    WCHAR wcFirstChar;
    WCHAR wcLastChar;
    WCHAR wcDefaultChar;
    WCHAR wcBreakChar;
    POINTL ptlBaseline;
    POINTL ptlAspect;
    POINTL ptlCaret;
    RECTL rclFontBox;
    BYTE achVendId[4];
    ULONG cKerningPairs;
    ULONG ulPanoseCulture;
    PANOSE panose;
};

struct FONTSIM {
    PTRDIFF dpBold;
    PTRDIFF dpItalic;
    PTRDIFF dpBoldItalic;
};
struct FONTDIFF {
    BYTE jReserved1, jReserved2, jReserved3, bWeight;
    USHORT usWinWeight;
    FSHORT fsSelection;
    FWORD fwdAveCharWidth;
    FWORD fwdMaxCharInc;
    POINTL ptlCaret;
};
static_assert(sizeof(FONTSIM) == 12 && sizeof(FONTDIFF) == 20);

// flInfo bits.
constexpr ULONG FM_INFO_TECH_TRUETYPE = 0x00000001;
constexpr ULONG FM_INFO_TECH_BITMAP = 0x00000002;
constexpr ULONG FM_INFO_TECH_STROKE = 0x00000004;
constexpr ULONG FM_INFO_TECH_OUTLINE_NOT_TRUETYPE = 0x00000008;
constexpr ULONG FM_INFO_ARB_XFORMS = 0x00000010;
constexpr ULONG FM_INFO_1BPP = 0x00000020;
constexpr ULONG FM_INFO_INTEGER_WIDTH = 0x00000100;
constexpr ULONG FM_INFO_CONSTANT_WIDTH = 0x00001000;
constexpr ULONG FM_INFO_NOT_CONTIGUOUS = 0x00002000;
constexpr ULONG FM_INFO_RETURNS_OUTLINES = 0x00008000;
constexpr ULONG FM_INFO_RETURNS_BITMAPS = 0x00020000;
constexpr ULONG FM_INFO_RIGHT_HANDED = 0x00080000;
constexpr ULONG FM_INFO_90DEGREE_ROTATIONS = 0x00200000;
constexpr ULONG FM_INFO_OPTICALLY_FIXED_PITCH = 0x00400000;
constexpr ULONG FM_INFO_FAMILY_EQUIV = 0x08000000;
constexpr ULONG FM_INFO_DBCS_FIXED_PITCH = 0x10000000;
// fsSelection bits.
constexpr USHORT FM_SEL_ITALIC = 0x0001;
constexpr USHORT FM_SEL_UNDERSCORE = 0x0002;
constexpr USHORT FM_SEL_NEGATIVE = 0x0004;
constexpr USHORT FM_SEL_OUTLINED = 0x0008;
constexpr USHORT FM_SEL_STRIKEOUT = 0x0010;
constexpr USHORT FM_SEL_BOLD = 0x0020;
constexpr USHORT FM_SEL_REGULAR = 0x0040;

struct FONTOBJ {
    ULONG iUniq;
    ULONG iFace;
    ULONG cxMax;
    FLONG flFontType;
    ULONG_PTR iTTUniq;
    ULONG_PTR iFile;
    SIZE sizLogResPpi;
    ULONG ulStyleSize;
    PVOID pvConsumer;
    PVOID pvProducer;
};
constexpr FLONG FO_TYPE_RASTER = 0x1;
constexpr FLONG FO_TYPE_DEVICE = 0x2;
constexpr FLONG FO_TYPE_TRUETYPE = 0x4;
constexpr FLONG FO_SIM_BOLD = 0x2000;
constexpr FLONG FO_SIM_ITALIC = 0x4000;
constexpr FLONG FO_EM_HEIGHT = 0x8000;
constexpr ULONG FO_HGLYPHS = 0;
constexpr ULONG FO_GLYPHBITS = 1;
constexpr ULONG FO_PATHOBJ = 2;

struct GLYPHBITS {
    POINTL ptlOrigin;   // top left of the bitmap from the glyph's origin on the baseline
    SIZEL sizlBitmap;
    BYTE aj[1];         // rows of (cx + 7) / 8 bytes, top row first
};
union GLYPHDEF {
    GLYPHBITS* pgb;
    PATHOBJ* ppo;
};
struct LARGE_INTEGER {
    DWORD LowPart;
    LONG HighPart;
};
struct POINTQF {
    LARGE_INTEGER x;
    LARGE_INTEGER y;
};
struct GLYPHDATA {
    GLYPHDEF gdf;
    HGLYPH hg;
    FIX fxD;        // advance
    FIX fxA;        // left bearing
    FIX fxAB;       // advance minus right bearing
    FIX fxInkTop;
    FIX fxInkBottom;
    RECTL rclInk;
    POINTQF ptqD;   // advance vector (high words 28.4)
};

struct GLYPHPOS {
    HGLYPH hg;
    GLYPHDEF* pgdf;
    POINTL ptl;     // glyph origin on the baseline, device pixels
};

struct STROBJ {
    ULONG cGlyphs;
    FLONG flAccel;
    ULONG ulCharInc;
    RECTL rclBkGround;
    GLYPHPOS* pgp;      // all positions, or null: enumerate
    LPWSTR pwszOrg;
};
constexpr FLONG SO_FLAG_DEFAULT_PLACEMENT = 0x1;
constexpr FLONG SO_HORIZONTAL = 0x2;
constexpr FLONG SO_VERTICAL = 0x4;
constexpr FLONG SO_REVERSED = 0x8;
constexpr FLONG SO_ZERO_BEARINGS = 0x10;
constexpr FLONG SO_CHAR_INC_EQUAL_BM_BASE = 0x20;
constexpr FLONG SO_MAXEXT_EQUAL_BM_SIDE = 0x40;
constexpr FLONG SO_DO_NOT_SUBSTITUTE_DEVICE_FONT = 0x80;
constexpr FLONG SO_GLYPHINDEX_TEXTOUT = 0x100;

struct WCRUN {
    WCHAR wcLow;
    USHORT cGlyphs;
    HGLYPH* phg;    // null: handles are the characters themselves
};
struct FD_GLYPHSET {
    ULONG cjThis;
    FLONG flAccel;
    ULONG cGlyphsSupported;
    ULONG cRuns;
    WCRUN awcrun[1];
};
constexpr FLONG GS_UNICODE_HANDLES = 0x1;
constexpr FLONG GS_8BIT_HANDLES = 0x2;
constexpr FLONG GS_16BIT_HANDLES = 0x4;

struct FD_KERNINGPAIR {
    WCHAR wcFirst;
    WCHAR wcSecond;
    FWORD fwdKern;
};

struct POINTE {
    FLOATL x;
    FLOATL y;
};
struct FD_DEVICEMETRICS {
    FLONG flRealizedType;
    POINTE pteBase;
    POINTE pteSide;
    LONG lD;
    FIX fxMaxAscender;
    FIX fxMaxDescender;
    POINTL ptlUnderline1;
    POINTL ptlStrikeOut;
    POINTL ptlULThickness;
    POINTL ptlSOThickness;
    ULONG cxMax;
    ULONG cyMax;
    ULONG cjGlyphMax;
    LONG fdxQuantized[4];
    LONG lNonLinearExtLeading;
    LONG lNonLinearIntLeading;
    LONG lNonLinearMaxCharWidth;
    LONG lNonLinearAvgCharWidth;
    LONG lMinA;
    LONG lMinC;
    LONG lMinD;
    LONG alReserved[1];
};

// DrvQueryFontTree and DrvQueryFontData modes.
constexpr ULONG QFT_LIGATURES = 1;
constexpr ULONG QFT_KERNPAIRS = 2;
constexpr ULONG QFT_GLYPHSET = 3;
constexpr ULONG QFD_GLYPHANDBITMAP = 1;
constexpr ULONG QFD_GLYPHANDOUTLINE = 2;
constexpr ULONG QFD_MAXEXTENTS = 3;
constexpr ULONG QAW_GETWIDTHS = 0;
constexpr ULONG QAW_GETEASYWIDTHS = 1;

using PFN_DrvQueryFont = IFIMETRICS* (*)(DHPDEV dhpdev, ULONG_PTR iFile, ULONG iFace, ULONG_PTR* pid);
using PFN_DrvQueryFontTree = PVOID (*)(DHPDEV dhpdev, ULONG_PTR iFile, ULONG iFace, ULONG iMode, ULONG_PTR* pid);
using PFN_DrvQueryFontData = LONG (*)(DHPDEV dhpdev, FONTOBJ* pfo, ULONG iMode, HGLYPH hg, GLYPHDATA* pgd,
                                      PVOID pv, ULONG cjSize);
using PFN_DrvQueryAdvanceWidths = BOOL (*)(DHPDEV dhpdev, FONTOBJ* pfo, ULONG iMode, HGLYPH* phg, PVOID pvWidths,
                                           ULONG cGlyphs);
using PFN_DrvGetGlyphMode = ULONG (*)(DHPDEV dhpdev, FONTOBJ* pfo);

extern "C" {
IFIMETRICS* FONTOBJ_pifi(FONTOBJ* pfo);
XFORMOBJ* FONTOBJ_pxoGetXform(FONTOBJ* pfo);
ULONG FONTOBJ_cGetGlyphs(FONTOBJ* pfo, ULONG iMode, ULONG cGlyph, HGLYPH* phg, PVOID* ppvGlyph);
PVOID FONTOBJ_pvTrueTypeFontFile(FONTOBJ* pfo, ULONG* pcjFile);

void STROBJ_vEnumStart(STROBJ* pstro);
BOOL STROBJ_bEnum(STROBJ* pstro, ULONG* pc, GLYPHPOS** ppgpos);
BOOL STROBJ_bEnumPositionsOnly(STROBJ* pstro, ULONG* pc, GLYPHPOS** ppgpos);

BOOL EngTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
                BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix);
FD_GLYPHSET* EngComputeGlyphSet(INT nCodePage, INT nFirstChar, INT cChars);

void EngMultiByteToUnicodeN(LPWSTR UnicodeString, ULONG MaxBytesInUnicodeString, ULONG* BytesInUnicodeString,
                            char* MultiByteString, ULONG BytesInMultiByteString);
void EngUnicodeToMultiByteN(char* MultiByteString, ULONG MaxBytesInMultiByteString, ULONG* BytesInMultiByteString,
                            PWSTR UnicodeString, ULONG BytesInUnicodeString);
INT EngWideCharToMultiByte(UINT CodePage, LPWSTR WideCharString, INT BytesInWideCharString, LPSTR MultiByteString,
                           INT BytesInMultiByteString);
INT EngMultiByteToWideChar(UINT CodePage, LPWSTR WideCharString, INT BytesInWideCharString, LPSTR MultiByteString,
                           INT BytesInMultiByteString);
}
