// The application side of vector drawing and text: pens, fonts, lines and
// shapes, paths, text output, SaveDC/RestoreDC, mapping modes and world
// transforms. State lives in each DC beside the brush and clip of the DC.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "gdi/dc.h"
#include "gdi/ddi_font.h"
#include "gdi/font.h"

struct XFORM {
    FLOAT eM11, eM12, eM21, eM22, eDx, eDy;
};
struct LOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
};
struct TEXTMETRICW {
    LONG tmHeight, tmAscent, tmDescent, tmInternalLeading, tmExternalLeading, tmAveCharWidth, tmMaxCharWidth,
        tmWeight, tmOverhang, tmDigitizedAspectX, tmDigitizedAspectY;
    WCHAR tmFirstChar, tmLastChar, tmDefaultChar, tmBreakChar;
    BYTE tmItalic, tmUnderlined, tmStruckOut, tmPitchAndFamily, tmCharSet;
};
struct ENUMLOGFONTW {
    LOGFONTW elfLogFont;
    WCHAR elfFullName[64];
    WCHAR elfStyle[32];
};
using FONTENUMPROCW = int (*)(const LOGFONTW*, const TEXTMETRICW*, DWORD fontType, LPARAM);

// Pen styles.
constexpr int PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5,
              PS_INSIDEFRAME = 6, PS_USERSTYLE = 7, PS_ALTERNATE = 8;
constexpr DWORD PS_STYLE_MASK = 0xF, PS_ENDCAP_ROUND = 0x000, PS_ENDCAP_SQUARE = 0x100, PS_ENDCAP_FLAT = 0x200,
                PS_ENDCAP_MASK = 0xF00, PS_JOIN_ROUND = 0x0000, PS_JOIN_BEVEL = 0x1000, PS_JOIN_MITER = 0x2000,
                PS_JOIN_MASK = 0xF000, PS_COSMETIC = 0x00000, PS_GEOMETRIC = 0x10000, PS_TYPE_MASK = 0xF0000;
constexpr UINT BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2;
// Stock objects beyond the brushes.
constexpr int WHITE_PEN = 6, BLACK_PEN = 7, NULL_PEN = 8, OEM_FIXED_FONT = 10, ANSI_FIXED_FONT = 11,
              ANSI_VAR_FONT = 12, SYSTEM_FONT = 13, DEVICE_DEFAULT_FONT = 14, SYSTEM_FIXED_FONT = 16,
              DEFAULT_GUI_FONT = 17;
// Modes.
constexpr int ALTERNATE = 1, WINDING = 2;
constexpr int R2_BLACK = 1, R2_NOT = 6, R2_XORPEN = 7, R2_NOP = 11, R2_COPYPEN = 13, R2_WHITE = 16;
constexpr int MM_TEXT = 1, MM_LOMETRIC = 2, MM_HIMETRIC = 3, MM_LOENGLISH = 4, MM_HIENGLISH = 5, MM_TWIPS = 6,
              MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8;
constexpr int GM_COMPATIBLE = 1, GM_ADVANCED = 2;
constexpr DWORD MWT_IDENTITY = 1, MWT_LEFTMULTIPLY = 2, MWT_RIGHTMULTIPLY = 3, MWT_SET = 4;
constexpr int AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2;
// Text alignment.
constexpr UINT TA_NOUPDATECP = 0, TA_UPDATECP = 1, TA_LEFT = 0, TA_RIGHT = 2, TA_CENTER = 6, TA_TOP = 0,
               TA_BOTTOM = 8, TA_BASELINE = 24, TA_HORZ_MASK = 6, TA_VERT_MASK = 24;
// ExtTextOut options.
constexpr UINT ETO_OPAQUE = 0x2, ETO_CLIPPED = 0x4, ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000;
// Bézier point kinds of PolyDraw.
constexpr BYTE PT_CLOSEFIGURE = 1, PT_LINETO = 2, PT_BEZIERTO = 4, PT_MOVETO = 6;
// Font enumeration kinds.
constexpr DWORD RASTER_FONTTYPE = 1, DEVICE_FONTTYPE = 2, TRUETYPE_FONTTYPE = 4;
constexpr LONG FW_NORMAL = 400, FW_BOLD = 700;

extern "C" {
HPEN CreatePen(int style, int width, COLORREF color);
HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styles);
HFONT CreateFontIndirectW(const LOGFONTW* font);

BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous);
BOOL LineTo(HDC hdc, int x, int y);
BOOL Polyline(HDC hdc, const POINT* points, int count);
BOOL PolylineTo(HDC hdc, const POINT* points, DWORD count);
BOOL Polygon(HDC hdc, const POINT* points, int count);
BOOL PolyPolygon(HDC hdc, const POINT* points, const INT* counts, int polygons);
BOOL PolyPolyline(HDC hdc, const POINT* points, const DWORD* counts, DWORD polylines);
BOOL PolyBezier(HDC hdc, const POINT* points, DWORD count);
BOOL PolyBezierTo(HDC hdc, const POINT* points, DWORD count);
BOOL PolyDraw(HDC hdc, const POINT* points, const BYTE* kinds, int count);
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
BOOL RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height);
BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom);
BOOL Arc(HDC hdc, int l, int t, int r, int b, int xs, int ys, int xe, int ye);
BOOL ArcTo(HDC hdc, int l, int t, int r, int b, int xs, int ys, int xe, int ye);
BOOL Chord(HDC hdc, int l, int t, int r, int b, int xs, int ys, int xe, int ye);
BOOL Pie(HDC hdc, int l, int t, int r, int b, int xs, int ys, int xe, int ye);
BOOL AngleArc(HDC hdc, int x, int y, DWORD radius, FLOAT start, FLOAT sweep);
BOOL SetPixelV(HDC hdc, int x, int y, COLORREF color);

BOOL BeginPath(HDC hdc);
BOOL EndPath(HDC hdc);
BOOL AbortPath(HDC hdc);
BOOL CloseFigure(HDC hdc);
BOOL StrokePath(HDC hdc);
BOOL FillPath(HDC hdc);
BOOL StrokeAndFillPath(HDC hdc);
BOOL FlattenPath(HDC hdc);
BOOL WidenPath(HDC hdc);
BOOL SelectClipPath(HDC hdc, int mode);

int SetPolyFillMode(HDC hdc, int mode);
int SetROP2(HDC hdc, int rop2);
int SetArcDirection(HDC hdc, int direction);
BOOL SetMiterLimit(HDC hdc, FLOAT limit, FLOAT* previous);
int SaveDC(HDC hdc);
BOOL RestoreDC(HDC hdc, int saved);

int SetMapMode(HDC hdc, int mode);
int GetMapMode(HDC hdc);
BOOL SetWindowOrgEx(HDC hdc, int x, int y, POINT* previous);
BOOL SetWindowExtEx(HDC hdc, int x, int y, SIZE* previous);
BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* previous);
BOOL SetViewportExtEx(HDC hdc, int x, int y, SIZE* previous);
BOOL ScaleViewportExtEx(HDC hdc, int xn, int xd, int yn, int yd, SIZE* previous);
BOOL ScaleWindowExtEx(HDC hdc, int xn, int xd, int yn, int yd, SIZE* previous);
int SetGraphicsMode(HDC hdc, int mode);
BOOL SetWorldTransform(HDC hdc, const XFORM* xform);
BOOL ModifyWorldTransform(HDC hdc, const XFORM* xform, DWORD mode);
BOOL GetWorldTransform(HDC hdc, XFORM* xform);
BOOL DPtoLP(HDC hdc, POINT* points, int count);
BOOL LPtoDP(HDC hdc, POINT* points, int count);

UINT SetTextAlign(HDC hdc, UINT align);
int SetTextCharacterExtra(HDC hdc, int extra);
BOOL SetTextJustification(HDC hdc, int breakExtra, int breakCount);
BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int count);
BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx);
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size);
BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics);
int EnumFontFamiliesW(HDC hdc, LPCWSTR family, FONTENUMPROCW proc, LPARAM lparam);
}

namespace zq::gdi {

class PenObject : public GdiObject {
public:
    GdiObject* SelectInto(DeviceContext& dc) override;
    DWORD style = PS_SOLID;       // with end cap, join and type bits
    LONG width = 0;               // logical units; 0: one device pixel
    COLORREF color = 0;
    std::vector<DWORD> userStyle; // PS_USERSTYLE lengths
    bool Null() const { return (style & PS_STYLE_MASK) == PS_NULL; }
};

class FontObject : public GdiObject {
public:
    GdiObject* SelectInto(DeviceContext& dc) override;
    LOGFONTW logical{};
};

// Stock pens and fonts (WHITE_PEN ... DEFAULT_GUI_FONT); null for other indexes.
GdiObject* StockDrawObject(int index);

// The transform from logical to device coordinates (world, then page).
XFORML LogicalToDevice(DeviceContext& dc);

}  // namespace zq::gdi
