// Enhanced metafiles: the spool format of printed documents.
//
// ParseEmf turns the bytes of a file into typed records. Every size, count
// and offset in the file is checked against the record that carries it, so a
// damaged file gives one clear error instead of a read out of bounds. Record
// kinds the reader does not know are skipped and counted, never fatal; a
// record whose own size is sound but whose contents are damaged is refused
// alone, with its reason.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/types.h"

namespace zq::emf {

// Record kinds (iType of each record).
enum class Rt : uint32_t {
    Header = 1, PolyBezier = 2, Polygon = 3, Polyline = 4, PolyBezierTo = 5, PolylineTo = 6,
    PolyPolyline = 7, PolyPolygon = 8, SetWindowExtEx = 9, SetWindowOrgEx = 10,
    SetViewportExtEx = 11, SetViewportOrgEx = 12, SetBrushOrgEx = 13, Eof = 14, SetPixelV = 15,
    SetMapperFlags = 16, SetMapMode = 17, SetBkMode = 18, SetPolyFillMode = 19, SetRop2 = 20,
    SetStretchBltMode = 21, SetTextAlign = 22, SetColorAdjustment = 23, SetTextColor = 24,
    SetBkColor = 25, OffsetClipRgn = 26, MoveToEx = 27, SetMetaRgn = 28, ExcludeClipRect = 29,
    IntersectClipRect = 30, ScaleViewportExtEx = 31, ScaleWindowExtEx = 32, SaveDC = 33,
    RestoreDC = 34, SetWorldTransform = 35, ModifyWorldTransform = 36, SelectObject = 37,
    CreatePen = 38, CreateBrushIndirect = 39, DeleteObject = 40, AngleArc = 41, Ellipse = 42,
    Rectangle = 43, RoundRect = 44, Arc = 45, Chord = 46, Pie = 47, SelectPalette = 48,
    CreatePalette = 49, SetPaletteEntries = 50, ResizePalette = 51, RealizePalette = 52,
    ExtFloodFill = 53, LineTo = 54, ArcTo = 55, PolyDraw = 56, SetArcDirection = 57,
    SetMiterLimit = 58, BeginPath = 59, EndPath = 60, CloseFigure = 61, FillPath = 62,
    StrokeAndFillPath = 63, StrokePath = 64, FlattenPath = 65, WidenPath = 66,
    SelectClipPath = 67, AbortPath = 68, GdiComment = 70, FillRgn = 71, FrameRgn = 72,
    InvertRgn = 73, PaintRgn = 74, ExtSelectClipRgn = 75, BitBlt = 76, StretchBlt = 77,
    MaskBlt = 78, PlgBlt = 79, SetDIBitsToDevice = 80, StretchDIBits = 81,
    ExtCreateFontIndirectW = 82, ExtTextOutA = 83, ExtTextOutW = 84, PolyBezier16 = 85,
    Polygon16 = 86, Polyline16 = 87, PolyBezierTo16 = 88, PolylineTo16 = 89,
    PolyPolyline16 = 90, PolyPolygon16 = 91, PolyDraw16 = 92, CreateMonoBrush = 93,
    CreateDIBPatternBrushPt = 94, ExtCreatePen = 95, PolyTextOutA = 96, PolyTextOutW = 97,
    SetICMMode = 98, CreateColorSpace = 99, SetColorSpace = 100, DeleteColorSpace = 101,
    SetICMProfileA = 112, SetICMProfileW = 113, AlphaBlend = 114, SetLayout = 115,
    TransparentBlt = 116, GradientFill = 118, SetTextJustification = 120,
    CreateColorSpaceW = 122,
};

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t kStockObject = 0x80000000;   // object index of a stock object

// The 2x3 world transform of a record (XFORM layout).
struct Xform {
    float eM11 = 1, eM12 = 0, eM21 = 0, eM22 = 1, eDx = 0, eDy = 0;
};

// A device-independent bitmap carried by a record, checked: the header
// describes a bitmap whose colour table and rows fit in the bytes given.
struct Dib {
    int32_t width = 0;
    int32_t height = 0;       // positive: bottom-up rows
    uint16_t bitCount = 0;    // 1, 4, 8, 16, 24 or 32
    uint32_t compression = 0; // 0 BI_RGB or 3 BI_BITFIELDS
    std::vector<uint32_t> colors;  // RGBQUAD entries (0x00RRGGBB)
    uint32_t masks[3] = {0, 0, 0}; // BI_BITFIELDS
    std::span<const uint8_t> info;  // the BITMAPINFO as it stands in the record
    std::span<const uint8_t> bits;
    // A run-length encoded image expanded: the header (now uncompressed),
    // its colours and the rows; `info` and `bits` then point into it.
    std::shared_ptr<const std::vector<uint8_t>> expanded;
    size_t Stride() const { return ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4; }
    // Colour of one pixel as 0x00RRGGBB; rows counted from the top.
    uint32_t Pixel(int32_t x, int32_t yFromTop) const;
};

struct Header {
    RECTL bounds{};     // device units
    RECTL frame{};      // 0.01 mm
    uint32_t version = 0;
    uint32_t bytes = 0;
    uint32_t records = 0;
    uint16_t handles = 0;
    std::u16string description;
    SIZEL device{};     // reference device in pixels
    SIZEL millimeters{};
    SIZEL micrometers{};  // the reference device's size more finely, when the header carries it
};

struct Poly { Rt type; RECTL bounds; std::vector<POINTL> points; };
struct PolyPoly { Rt type; RECTL bounds; std::vector<uint32_t> counts; std::vector<POINTL> points; };
struct PolyDraw { Rt type; RECTL bounds; std::vector<POINTL> points; std::vector<uint8_t> kinds; };
// Records of one 32-bit value: modes, colours, object indexes, SaveDC depth.
struct Value { Rt type; uint32_t value; };
// Records of one point: MoveToEx, LineTo, window and viewport origins and
// extents, OffsetClipRgn, SetBrushOrgEx.
struct Point { Rt type; POINTL point; };
// Records of one rectangle: Ellipse, Rectangle, clip rectangles and the
// bounds of FillPath, StrokePath and StrokeAndFillPath.
struct Rect { Rt type; RECTL rect; };
// Records without operands: BeginPath, EndPath, SaveDC, ...
struct Plain { Rt type; };
struct Scale { Rt type; int32_t xNum, xDenom, yNum, yDenom; };
struct RoundRect { RECTL box; SIZEL corner; };
struct ArcLike { Rt type; RECTL box; POINTL start; POINTL end; };
struct AngleArc { POINTL center; uint32_t radius; float start; float sweep; };
struct Transform { Rt type; Xform xform; uint32_t mode; };
struct SetPixel { POINTL point; COLORREF color; };
struct CreatePen { uint32_t index; uint32_t style; int32_t width; COLORREF color; };
struct ExtCreatePen {
    uint32_t index; uint32_t style; uint32_t width; uint32_t brushStyle; COLORREF color;
    uint32_t hatch; std::vector<uint32_t> styleEntries; std::optional<Dib> pattern;
};
struct CreateBrush { uint32_t index; uint32_t style; COLORREF color; uint32_t hatch; };
struct CreateDibBrush { Rt type; uint32_t index; uint32_t usage; Dib dib; };
struct CreateFont { uint32_t index; LOGFONTW font; };
struct CreatePalette { uint32_t index; std::vector<uint32_t> entries; };
struct TextOut {
    Rt type;  // ExtTextOutA / ExtTextOutW / PolyTextOut* (one entry each)
    RECTL bounds; uint32_t graphicsMode; float xScale, yScale;
    POINTL reference; uint32_t options; RECTL rect;
    std::u16string text;       // A records: their bytes in the ANSI code page
    std::string narrow;        // A records: the bytes as recorded (spacing is per byte)
    std::vector<int32_t> dx;   // empty, or one (ETO_PDY: two) per character, per byte for A
};
struct Blt {
    Rt type;  // BitBlt, StretchBlt, AlphaBlend, TransparentBlt, MaskBlt, PlgBlt
    RECTL bounds; int32_t xDest, yDest, cxDest, cyDest; uint32_t rop;
    int32_t xSrc, ySrc, cxSrc, cySrc; Xform xformSrc; COLORREF bkColorSrc; uint32_t usage;
    std::optional<Dib> source;
    std::optional<Dib> mask;  // MaskBlt, PlgBlt: one bit a pixel, read from (xMask, yMask)
    int32_t xMask, yMask;
    POINTL corners[3] = {};   // PlgBlt: where the source's top left, top right and bottom left go
};
struct StretchDib {
    Rt type;  // StretchDIBits or SetDIBitsToDevice
    RECTL bounds; int32_t xDest, yDest, xSrc, ySrc, cxSrc, cySrc; uint32_t usage; uint32_t rop;
    int32_t cxDest, cyDest; uint32_t startScan, scans;
    Dib dib;
};
struct Region { Rt type; RECTL bounds; uint32_t brush; SIZEL frame; uint32_t mode; std::vector<RECTL> rects; };
struct Comment { std::span<const uint8_t> data; };
struct Gradient { RECTL bounds; uint32_t mode; std::vector<uint8_t> raw; uint32_t vertices; uint32_t meshes; };
struct End { };

using Record = std::variant<Poly, PolyPoly, PolyDraw, Value, Point, Rect, Plain, Scale, RoundRect,
                            ArcLike, AngleArc, Transform, SetPixel, CreatePen, ExtCreatePen,
                            CreateBrush, CreateDibBrush, CreateFont, CreatePalette, TextOut, Blt,
                            StretchDib, Region, Comment, Gradient, End>;

struct Document {
    Header header;
    std::vector<Record> records;
    // Record kinds seen that the reader does not interpret, with their counts.
    std::map<uint32_t, size_t> skipped;
    // Records whose contents are damaged (a bitmap, run-length stream,
    // region or vertex list that does not hold together): each refused with
    // its kind, byte offset and what is wrong; the records around it stand.
    std::vector<std::string> refused;
    size_t SkippedCount() const;
};

struct ParseResult {
    std::optional<Document> document;
    std::string error;  // set when document is empty: what is wrong and at which byte
    size_t length = 0;  // bytes up to and with the end-of-file record
};

// The document keeps spans into `bytes`: they must outlive it.
ParseResult ParseEmf(std::span<const uint8_t> bytes);

// A document of several pages is its pages' metafiles one after another,
// each from its header to its end record.
struct PagesResult {
    std::vector<Document> pages;
    std::string error;  // set when a page is damaged: which page, what and where
};
PagesResult ParseEmfPages(std::span<const uint8_t> bytes);

// Parses the pages one after another, handing each page's document and
// bytes to `onPage`. Answers what is wrong with the first damaged page (its
// number, what and where), "the document has no page", or "" when every
// page parsed; after an error no further page is handed over.
std::string ForEachEmfPage(std::span<const uint8_t> bytes,
                           const std::function<void(Document&, std::span<const uint8_t>)>& onPage);

// The name of a record kind ("STRETCHDIBITS"), or "kind N" for one not known.
std::string RecordName(uint32_t type);

// Checks a packed BITMAPINFO and its bits (shared with the DIB calls).
std::optional<Dib> ParseDib(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                            std::string* why = nullptr);

}  // namespace zq::emf
