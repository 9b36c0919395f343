// PCL XL encoding: the operator, attribute and enumeration values the
// renderer writes, and one small encoder per element (a tagged value with its
// attribute, an operator, an embedded-data header). Every PCL XL byte of the
// renderer leaves through these, in the little-endian binding.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "render/device_record.h"

namespace pclrend::xl {

// Data-type tags.
enum class Tag : uint8_t {
    UByte = 0xC0,
    UInt16 = 0xC1,
    SInt16 = 0xC3,
    Real32 = 0xC5,
    UByteArray = 0xC8,
    UInt16Array = 0xC9,
    SInt16Array = 0xCB,
    UInt16XY = 0xD1,
    SInt16XY = 0xD3,
    Real32XY = 0xD5,
    UInt16Box = 0xE1,
    SInt16Box = 0xE3,
    AttrUByte = 0xF8,
    DataLength = 0xFA,
    DataLengthByte = 0xFB,
};

enum class Op : uint8_t {
    BeginSession = 0x41,
    EndSession = 0x42,
    BeginPage = 0x43,
    EndPage = 0x44,
    Comment = 0x47,
    OpenDataSource = 0x48,
    CloseDataSource = 0x49,
    BeginFontHeader = 0x4F,
    ReadFontHeader = 0x50,
    EndFontHeader = 0x51,
    BeginChar = 0x52,
    ReadChar = 0x53,
    EndChar = 0x54,
    RemoveFont = 0x55,
    ExecStream = 0x5E,
    PopGS = 0x60,
    PushGS = 0x61,
    SetClipReplace = 0x62,
    SetBrushSource = 0x63,
    SetCharAngle = 0x64,
    SetCharScale = 0x65,
    SetCharShear = 0x66,
    SetClipToPage = 0x69,
    SetColorSpace = 0x6A,
    SetCursor = 0x6B,
    SetFillMode = 0x6E,
    SetFont = 0x6F,
    SetLineDash = 0x70,
    SetLineCap = 0x71,
    SetLineJoin = 0x72,
    SetMiterLimit = 0x73,
    SetPageDefaultCTM = 0x74,
    SetPageOrigin = 0x75,
    SetPageScale = 0x77,
    SetPaintTxMode = 0x78,
    SetPenSource = 0x79,
    SetPenWidth = 0x7A,
    SetROP = 0x7B,
    SetSourceTxMode = 0x7C,
    SetCharBoldValue = 0x7D,
    SetClipMode = 0x7F,
    CloseSubPath = 0x84,
    NewPath = 0x85,
    PaintPath = 0x86,
    BezierPath = 0x93,
    LinePath = 0x9B,
    LineRelPath = 0x9D,
    Rectangle = 0xA0,
    RectanglePath = 0xA1,
    Text = 0xA8,
    BeginImage = 0xB0,
    ReadImage = 0xB1,
    EndImage = 0xB2,
    BeginRastPattern = 0xB3,
    ReadRastPattern = 0xB4,
    EndRastPattern = 0xB5,
};

enum class Attr : uint8_t {
    PaletteDepth = 0x02,
    ColorSpace = 0x03,
    NullBrush = 0x04,
    NullPen = 0x05,
    PaletteData = 0x06,
    PatternSelectID = 0x08,
    GrayLevel = 0x09,
    RGBColor = 0x0B,
    MediaSize = 0x25,
    MediaSource = 0x26,
    MediaType = 0x27,
    Orientation = 0x28,
    PageOrigin = 0x2A,
    PageScale = 0x2B,
    ROP3 = 0x2C,
    TxMode = 0x2D,
    CustomMediaSize = 0x2F,
    CustomMediaSizeUnits = 0x30,
    PageCopies = 0x31,
    SimplexPageMode = 0x34,
    DuplexPageMode = 0x35,
    DuplexPageSide = 0x36,
    BoundingBox = 0x42,
    FillMode = 0x46,
    LineCapStyle = 0x47,
    LineJoinStyle = 0x48,
    MiterLength = 0x49,
    LineDashStyle = 0x4A,
    PenWidth = 0x4B,
    Point = 0x4C,
    NumberOfPoints = 0x4D,
    SolidLine = 0x4E,
    PointType = 0x50,
    ClipRegion = 0x53,
    ClipMode = 0x54,
    ColorDepth = 0x62,
    BlockHeight = 0x63,
    ColorMapping = 0x64,
    CompressMode = 0x65,
    DestinationSize = 0x67,
    PatternPersistence = 0x68,
    PatternDefineID = 0x69,
    SourceHeight = 0x6B,
    SourceWidth = 0x6C,
    StartLine = 0x6D,
    CommentData = 0x81,
    DataOrg = 0x82,
    Measure = 0x86,
    SourceType = 0x88,
    UnitsPerMeasure = 0x89,
    StreamName = 0x8B,
    ErrorReport = 0x8F,
    CharAngle = 0xA1,
    CharCode = 0xA2,
    CharDataSize = 0xA3,
    CharScale = 0xA4,
    CharShear = 0xA5,
    CharSize = 0xA6,
    FontHeaderLength = 0xA7,
    FontName = 0xA8,
    FontFormat = 0xA9,
    SymbolSet = 0xAA,
    TextData = 0xAB,
    XSpacingData = 0xAF,
    YSpacingData = 0xB0,
    CharBoldValue = 0xB1,
};

// Enumerations (the values of ubyte attributes).
enum class ColorSpace : uint8_t { Gray = 1, Rgb = 2 };
enum class Measure : uint8_t { Inch = 0, Millimeter = 1, TenthsOfMillimeter = 2 };
enum class ErrorReport : uint8_t { None = 0, BackChannel = 1, ErrorPage = 2, BackChannelAndErrorPage = 3 };
enum class SourceType : uint8_t { Default = 0 };
enum class DataOrg : uint8_t { HighByteFirst = 0, LowByteFirst = 1 };
enum class Orientation : uint8_t { Portrait = 0, Landscape = 1, ReversePortrait = 2, ReverseLandscape = 3 };
enum class MediaSize : uint8_t {
    Letter = 0,
    Legal = 1,
    A4 = 2,
    Executive = 3,
    Ledger = 4,
    A3 = 5,
    Com10Envelope = 6,
    MonarchEnvelope = 7,
    C5Envelope = 8,
    DLEnvelope = 9,
    JisB4 = 10,
    JisB5 = 11,
    B5Envelope = 12,
    JPostcard = 14,
    JDoublePostcard = 15,
    A5 = 16,
};
enum class MediaSource : uint8_t {
    Default = 0,
    AutoSelect = 1,
    ManualFeed = 2,
    MultiPurposeTray = 3,
    UpperCassette = 4,
    LowerCassette = 5,
    EnvelopeTray = 6,
    ThirdCassette = 7,
};
enum class SimplexPageMode : uint8_t { FrontSide = 0 };
enum class DuplexPageMode : uint8_t { HorizontalBinding = 0, VerticalBinding = 1 };
enum class DuplexPageSide : uint8_t { Front = 0, Back = 1 };
enum class FillMode : uint8_t { NonZeroWinding = 0, EvenOdd = 1 };
enum class ClipRegion : uint8_t { Interior = 0, Exterior = 1 };
enum class LineCap : uint8_t { Butt = 0, Round = 1, Square = 2, Triangle = 3 };
enum class LineJoin : uint8_t { Miter = 0, Round = 1, Bevel = 2, None = 3 };
enum class TxMode : uint8_t { Opaque = 0, Transparent = 1 };
enum class ColorDepth : uint8_t { Bit1 = 0, Bit4 = 1, Bit8 = 2 };
enum class ColorMapping : uint8_t { Direct = 0, Indexed = 1 };
enum class CompressMode : uint8_t { None = 0, Rle = 1 };
enum class PatternPersistence : uint8_t { Temporary = 0, Page = 1, Session = 2 };
enum class PointType : uint8_t { UByte = 0, SByte = 1, UInt16 = 2, SInt16 = 3 };

// The stream header: class 1.1, the little-endian binding, and our comment.
inline constexpr std::string_view kStreamHeader{") HP-PCL XL;1;1;Comment Zelquor Emulation, NT 4.0 Driver\0\n", 58};
inline constexpr std::string_view kSessionComment = "Zelquor Enhanced XL=1.0";

// Encoders: each writes one whole element through SpoolWrite and returns
// whether the record is still writing (false once the document is closed or
// lost, when nothing more is written).
bool XlOperator(DeviceRecord& r, Op op);
bool XlAttrUByte(DeviceRecord& r, Attr a, uint8_t v);
bool XlAttrUInt16(DeviceRecord& r, Attr a, uint16_t v);
bool XlAttrSInt16(DeviceRecord& r, Attr a, int16_t v);
bool XlAttrReal32(DeviceRecord& r, Attr a, float v);
bool XlAttrUInt16XY(DeviceRecord& r, Attr a, uint16_t x, uint16_t y);
bool XlAttrSInt16XY(DeviceRecord& r, Attr a, int16_t x, int16_t y);
bool XlAttrReal32XY(DeviceRecord& r, Attr a, float x, float y);
bool XlAttrUInt16Box(DeviceRecord& r, Attr a, uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2);
bool XlAttrSInt16Box(DeviceRecord& r, Attr a, int16_t x1, int16_t y1, int16_t x2, int16_t y2);
bool XlAttrUByteArray(DeviceRecord& r, Attr a, std::span<const uint8_t> v);
bool XlAttrUInt16Array(DeviceRecord& r, Attr a, std::span<const uint16_t> v);
bool XlAttrUInt16ArrayOf32(DeviceRecord& r, Attr a, std::span<const uint32_t> v);
bool XlAttrSInt16Array(DeviceRecord& r, Attr a, std::span<const int16_t> v);
// Palette entries as the engine keeps them: red, green, blue, unused.
bool XlAttrRgbArray(DeviceRecord& r, Attr a, std::span<const uint32_t> entries);
bool XlAttrGreyArray(DeviceRecord& r, Attr a, std::span<const uint32_t> entries);
bool XlDataLength(DeviceRecord& r, uint32_t length);
// The short form of a data length, for embedded data of up to 255 bytes.
bool XlDataLengthByte(DeviceRecord& r, uint8_t length);
bool XlRawPoint(DeviceRecord& r, int16_t x, int16_t y);

// The grey a palette entry prints at: grey of the colour through the
// record's tone curve.
uint8_t XlGrey(const DeviceRecord& r, uint32_t rgb);

// Enumeration values as ubyte attributes.
template <typename E>
bool XlAttrEnum(DeviceRecord& r, Attr a, E v) {
    return XlAttrUByte(r, a, static_cast<uint8_t>(v));
}

}  // namespace pclrend::xl
