// The application side of the graphics engine: device contexts on a printer
// or in memory, documents and pages, brushes, bit-block calls with
// device-independent bitmaps, rectangular clipping and escapes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "base/types.h"
#include "gdi/engine.h"

// Device-independent bitmap header (the bytes of packed DIBs and of the
// spool format): 40 bytes.
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: bottom-up rows; negative: top-down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == 32);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
static_assert(offsetof(BITMAPINFO, bmiColors) == 40);

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

// Logical palettes.
struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};
static_assert(sizeof(PALETTEENTRY) == 4);

struct LOGPALETTE {
    WORD palVersion;  // 0x300
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};
static_assert(offsetof(LOGPALETTE, palPalEntry) == 4);

constexpr BYTE PC_RESERVED = 0x01;  // the entry may be animated
constexpr BYTE PC_EXPLICIT = 0x02;
constexpr BYTE PC_NOCOLLAPSE = 0x04;
constexpr UINT GDI_ERROR = 0xFFFFFFFF;

struct DOCINFOW {
    int cbSize;
    LPCWSTR lpszDocName;
    LPCWSTR lpszOutput;
    LPCWSTR lpszDatatype;
    DWORD fwType;
};

// Raster operations of the DC calls: the ROP3 in bits 16-23.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD SRCERASE = 0x00440328;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD NOTSRCERASE = 0x001100A6;
constexpr DWORD MERGECOPY = 0x00C000CA;
constexpr DWORD MERGEPAINT = 0x00BB0226;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD PATPAINT = 0x00FB0A09;
constexpr DWORD PATINVERT = 0x005A0049;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// GetDeviceCaps indices.
constexpr int DRIVERVERSION = 0;
constexpr int TECHNOLOGY = 2;
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int PHYSICALWIDTH = 110;
constexpr int PHYSICALHEIGHT = 111;
constexpr int PHYSICALOFFSETX = 112;
constexpr int PHYSICALOFFSETY = 113;

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;

// Region answers and CombineRgn modes.
constexpr int ERROR_REGION = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;
constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_XOR = 3;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;

constexpr int STRETCH_ANDSCANS = 1;
constexpr int STRETCH_ORSCANS = 2;
constexpr int STRETCH_DELETESCANS = 3;
constexpr int STRETCH_HALFTONE = 4;

extern "C" {

HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* devmode);
// An information context: a DC of the printer that answers questions and
// takes no documents.
HDC CreateICW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* devmode);
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
int GetDeviceCaps(HDC hdc, int index);

int StartDocW(HDC hdc, const DOCINFOW* info);
int StartPage(HDC hdc);
int EndPage(HDC hdc);
int EndDoc(HDC hdc);
int AbortDoc(HDC hdc);
HDC ResetDCW(HDC hdc, const DEVMODEW* devmode);
int ExtEscape(HDC hdc, int code, int cjIn, LPCSTR in, int cjOut, LPSTR out);

HBRUSH CreateSolidBrush(COLORREF color);
HBRUSH CreateHatchBrush(int style, COLORREF color);
HBRUSH CreatePatternBrush(HBITMAP bitmap);
HBRUSH CreateDIBPatternBrushPt(const void* packedDib, UINT usage);
HGDIOBJ GetStockObject(int index);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);

COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF SetTextColor(HDC hdc, COLORREF color);
int SetBkMode(HDC hdc, int mode);
int SetStretchBltMode(HDC hdc, int mode);
BOOL SetBrushOrgEx(HDC hdc, int x, int y, POINT* previous);

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits);
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);

BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop);
int FillRect(HDC hdc, const RECT* rect, HBRUSH brush);
BOOL BitBlt(HDC hdc, int x, int y, int width, int height, HDC source, int x1, int y1, DWORD rop);
BOOL StretchBlt(HDC hdc, int x, int y, int width, int height, HDC source, int x1, int y1, int width1,
                int height1, DWORD rop);
int StretchDIBits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info, UINT usage);

HPALETTE CreatePalette(const LOGPALETTE* palette);
HPALETTE SelectPalette(HDC hdc, HPALETTE palette, BOOL forceBackground);
UINT RealizePalette(HDC hdc);
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);
UINT SetPaletteEntries(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries);
BOOL AnimatePalette(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries);

HRGN CreateRectRgn(int left, int top, int right, int bottom);
int CombineRgn(HRGN dest, HRGN a, HRGN b, int mode);
int SelectClipRgn(HDC hdc, HRGN region);
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);
int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom);
int GetClipBox(HDC hdc, RECT* rect);

}  // extern "C"

namespace zq {

// A device context on a driver file directly (no printer of the store).
HDC CreateDCForDriver(const std::string& driverPath, const DEVMODEW* devmode, std::u16string_view deviceName = u"");

// The pages a printer DC has drawn, kept for the reference render when asked.
void KeepPages(HDC hdc, bool keep);
size_t KeptPageCount(HDC hdc);
// Renders kept page `index` unbanded on an engine bitmap and writes it as PNG.
bool WriteReferencePng(HDC hdc, size_t index, const std::string& pngPath);
// The same, as an engine bitmap of the page (format of the device).
gdi::Bitmap RenderReferencePage(HDC hdc, size_t index);

}  // namespace zq

namespace zq::gdi {

// Objects behind HGDIOBJ. Other kinds (pens, fonts) derive from it and
// decide what selecting them into a DC does.
class GdiObject {
public:
    GdiObject();
    virtual ~GdiObject();
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    HGDIOBJ Handle() { return static_cast<HGDIOBJ>(this); }
    // Selects into the DC and returns the object it replaces.
    virtual GdiObject* SelectInto(class DeviceContext& dc) = 0;
    bool stock = false;
    int selections = 0;  // DCs that have it selected; such an object is not deleted
};

GdiObject* ObjectFromHandle(HGDIOBJ h);  // null for an unknown handle
template <class T>
T* ObjectAs(HGDIOBJ h) { return dynamic_cast<T*>(ObjectFromHandle(h)); }

class BrushObject : public GdiObject {
public:
    explicit BrushObject(LogicalBrush brush) : logical(std::move(brush)) {}
    GdiObject* SelectInto(DeviceContext& dc) override;
    LogicalBrush logical;
};

class BitmapObject : public GdiObject {
public:
    GdiObject* SelectInto(DeviceContext& dc) override;
    std::shared_ptr<Bitmap> bitmap;
    std::shared_ptr<Palette> palette;  // colour table of an indexed DIB
};

// A logical palette. On a true-colour surface nothing is mapped into a
// system palette: the palette only gives colours to the indices of
// DIB_PAL_COLORS tables. DIB sections made through it keep following it,
// so SetPaletteEntries and AnimatePalette recolour them for later drawing.
class PaletteObject : public GdiObject {
public:
    GdiObject* SelectInto(DeviceContext& dc) override;  // palettes go through SelectPalette
    std::vector<PALETTEENTRY> entries;
    struct Follower {
        std::weak_ptr<Palette> colours;  // the DIB's colour table
        std::vector<WORD> indices;       // its DIB_PAL_COLORS indices into `entries`
    };
    std::vector<Follower> followers;
    void Recolour();  // brings every live follower up to `entries`
};

// A DIB_PAL_COLORS header turned into an ordinary one: the WORD indices of
// its colour table looked up in the palette selected into `hdc`.
struct PalColors {
    std::vector<DWORD> storage;  // header and RGBQUAD table, aligned
    std::vector<WORD> indices;
    PaletteObject* source = nullptr;
    const BYTE* bitsAfter = nullptr;  // where the bits of a packed DIB start
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(storage.data()); }
};
std::optional<PalColors> ResolvePalColors(HDC hdc, const BITMAPINFO* info);

class RegionObject : public GdiObject {
public:
    GdiObject* SelectInto(DeviceContext& dc) override;
    Region region;
};

// Behind HDC.
class DeviceContext {
public:
    DeviceContext();
    ~DeviceContext();
    static DeviceContext* FromHandle(HDC h);
    HDC Handle() { return reinterpret_cast<HDC>(this); }

    // Printer DCs have a device; memory DCs a selected bitmap.
    std::unique_ptr<Device> device;
    HANDLE printer = nullptr;  // the spooler's printer of a DC made by CreateDC, closed with the DC
    BitmapObject* bitmap = nullptr;

    // State.
    BrushObject* brush = nullptr;
    COLORREF bkColor = 0xFFFFFF;
    COLORREF textColor = 0;
    int bkMode = OPAQUE;
    int stretchMode = STRETCH_ANDSCANS;
    POINTL brushOrigin{0, 0};
    std::optional<Region> clip;  // device coordinates; none: the whole surface

    // The printer's interface driver, whose DrvDocumentEvent hears every
    // document event of a DC made by CreateDC; null for other DCs.
    HMODULE uiModule = nullptr;
    int (*documentEvent)(HANDLE, HDC, int, ULONG, void*, ULONG, void*) = nullptr;
    int eventDepth = 0;       // events running; an escape inside one raises none
    bool informationOnly = false;  // made by CreateIC: no documents
    bool holdDrawing = false; // drawing before DrvStartPage is played after it

    // Documents.
    bool docOpen = false;
    bool pageOpen = false;
    bool keepPages = false;
    DisplayList page;
    std::vector<std::shared_ptr<const DisplayList>> keptPages;

    SIZEL Size() const;           // page or bitmap size in pixels
    RECTL Bounds() const { return {0, 0, Size().cx, Size().cy}; }
    Region EffectiveClip() const; // clip cut to the surface
    ULONG Format() const;         // BMF_* of the drawing surface
    const Palette& Pal() const;

    // Draws a record: recorded into the page and, on a surface that does
    // not band, played at once.
    bool Draw(std::shared_ptr<const Record> record);

    // Per-DC state that other kinds of drawing keep (fonts, pens, transforms).
    template <class T>
    T& Ext() {
        auto& slot = ext_[std::type_index(typeid(T))];
        if (!slot) slot = std::make_shared<T>();
        return *static_cast<T*>(slot.get());
    }

private:
    std::unordered_map<std::type_index, std::shared_ptr<void>> ext_;
};

}  // namespace zq::gdi
