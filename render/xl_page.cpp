#include "render/xl_page.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "render/output.h"
#include "render/page_setup.h"

namespace pclrend {

using namespace xl;

namespace {

constexpr uint16_t kBackSide = 0x04;  // changeFlags: the next sheet side is a back

std::span<const uint8_t> Bytes(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

uint16_t PageCopies(const DeviceRecord& r) {
    // With the printer making the copies (PJL QTY), each page is printed once.
    return r.printerCopies ? 1 : static_cast<uint16_t>(std::max<int16_t>(1, r.copies));
}

bool CustomPaper(const DeviceRecord& r) {
    const uint16_t asked = r.geometry.paperCodeAsked;
    return asked >= 640 && asked <= 671;
}

void SendBeginPage(DeviceRecord& r) {
    const XlMedia m = XlMediaOf(r);
    XlAttrEnum(r, Attr::Orientation, m.orientation);
    if (m.custom) {
        XlAttrReal32XY(r, Attr::CustomMediaSize, m.customWidth, m.customLength);
        XlAttrEnum(r, Attr::CustomMediaSizeUnits, Measure::Inch);
    } else {
        XlAttrEnum(r, Attr::MediaSize, m.size);
    }
    XlAttrEnum(r, Attr::MediaSource, m.source);
    if (m.type) XlAttrUByteArray(r, Attr::MediaType, Bytes(m.type));
    if (m.duplex) {
        XlAttrEnum(r, Attr::DuplexPageMode, m.binding);
        XlAttrEnum(r, Attr::DuplexPageSide, m.side);
    } else {
        XlAttrEnum(r, Attr::SimplexPageMode, SimplexPageMode::FrontSide);
    }
    XlOperator(r, Op::BeginPage);
    r.xl.pageOpen = true;
    r.xl.PageStart();
    // A monochrome page: every grey level meets a grey colour space.
    XlAttrEnum(r, Attr::ColorSpace, ColorSpace::Gray);
    XlOperator(r, Op::SetColorSpace);
    r.xl.colour.space = static_cast<uint8_t>(ColorSpace::Gray);
}

// Where the engine's page lies on the sheet: its printable area's corner,
// on n-up and fit-to-page pages its cell, drawn at the cell's scale.
// The printable area's corner on the sheet. A back side is printed with the
// printable area centred on the sheet.
std::pair<int32_t, int32_t> PrintableCorner(const DeviceRecord& r) {
    const auto& g = r.geometry;
    if (r.duplex != 1 && (r.changeFlags & kBackSide))
        return {(static_cast<int32_t>(g.usedWidth) - g.usedPrintableWidth) / 2,
                (static_cast<int32_t>(g.usedLength) - g.usedPrintableLength) / 2};
    return {g.usedLeftMargin, g.usedTopMargin};
}

void PlacePage(DeviceRecord& r) {
    auto [x, y] = PrintableCorner(r);
    const bool mapped = PageIsMapped(r);
    // A clip lies on the sheet where the page before set it: the next page
    // of an n-up sheet starts unclipped, whatever rectangle it asks for.
    if (r.xl.clip.set) {
        XlOperator(r, Op::SetClipToPage);
        r.xl.clip.set = false;
        r.xl.clip.id = 0;
    }
    if (mapped && r.currentCell) {
        x += static_cast<int32_t>(r.currentCell->left);
        y += static_cast<int32_t>(r.currentCell->top);
    }
    XlAttrSInt16XY(r, Attr::PageOrigin, static_cast<int16_t>(x), static_cast<int16_t>(y));
    XlOperator(r, Op::SetPageOrigin);
    if (mapped && r.PageWidth() && r.PageHeight()) {
        XlAttrReal32XY(r, Attr::PageScale, static_cast<float>(r.drawnWidth) / static_cast<float>(r.PageWidth()),
                       static_cast<float>(r.drawnHeight) / static_cast<float>(r.PageHeight()));
        XlOperator(r, Op::SetPageScale);
    }
}

// A frame of thickness t around the drawn page, in sheet coordinates.
void NupFrame(DeviceRecord& r) {
    const int t = FrameThickness(r.resolution);
    if (r.xl.brush != kXlNoSource) {
        XlAttrUByte(r, Attr::NullBrush, 0);
        XlOperator(r, Op::SetBrushSource);
        r.xl.brush = kXlNoSource;
    }
    if (r.xl.line.penWidth != t) {
        XlAttrUInt16(r, Attr::PenWidth, static_cast<uint16_t>(t));
        XlOperator(r, Op::SetPenWidth);
        r.xl.line.penWidth = t;
    }
    if (r.xl.pen != 0) {
        XlAttrUByte(r, Attr::GrayLevel, 0);
        XlOperator(r, Op::SetPenSource);
        r.xl.pen = 0;
    }
    if (r.xl.line.dashKind) {
        XlAttrUByte(r, Attr::SolidLine, 0);
        XlOperator(r, Op::SetLineDash);
        r.xl.line.dashKind = 0;
    }
    if (r.xl.rop != 252) {
        XlAttrUByte(r, Attr::ROP3, 252);
        XlOperator(r, Op::SetROP);
        r.xl.rop = 252;
    }
    const int32_t L = static_cast<int32_t>(r.currentCell->left) + r.geometry.usedLeftMargin;
    const int32_t T = static_cast<int32_t>(r.currentCell->top) + r.geometry.usedTopMargin;
    const int32_t W = r.drawnWidth, H = r.drawnHeight;
    auto u = [](int32_t v) { return static_cast<uint16_t>(std::max(0, v)); };
    XlAttrUInt16Box(r, Attr::BoundingBox, u(L - t), u(T - t), u(L + W + t), u(T + H + t));
    XlOperator(r, Op::Rectangle);
}

void EndSheet(DeviceRecord& r) {
    if (!r.xl.pageOpen) return;
    XlAttrUInt16(r, Attr::PageCopies, PageCopies(r));
    XlOperator(r, Op::EndPage);
    r.xl.pageOpen = false;
}

void SetUByte(DeviceRecord& r, Attr a, uint8_t v, Op op) {
    XlAttrUByte(r, a, v);
    XlOperator(r, op);
}

// What the state around a stream leaves in force: the caches say so, and
// the font selection is to be made again.
void CachesAsAroundStream(DeviceRecord& r) {
    XlState& x = r.xl;
    x.colour = {static_cast<uint8_t>(ColorSpace::Gray), {}};
    x.line = XlLineCache{};
    x.line.penWidth = 1;
    x.pen = 0;
    x.brush = kXlNoSource;
    x.rop = 252;
    x.sourceTxMode = x.paintTxMode = x.fillMode = 0;
    x.boldValue = x.simItalic = false;
    x.clip = {};
    x.clip.mode = static_cast<uint8_t>(FillMode::EvenOdd);
    r.currentSymbolSet = r.lastFontHeight = r.ttSize = 0;
    r.symbolSetResource = 0;
}

// The state a stream expects. Before it runs, what differs from that state
// is set back (and the fixed part always); after it ran, everything, since
// the stream may have changed any of it. The caches then say so.
void StreamState(DeviceRecord& r, bool all) {
    const XlState& x = r.xl;
    if (all || x.colour.space != static_cast<uint8_t>(ColorSpace::Gray) || !x.colour.palette.empty())
        SetUByte(r, Attr::ColorSpace, static_cast<uint8_t>(ColorSpace::Gray), Op::SetColorSpace);
    if (all || x.line.penWidth != 1) {
        XlAttrUInt16(r, Attr::PenWidth, 1);
        XlOperator(r, Op::SetPenWidth);
    }
    if (all || x.line.dashKind) SetUByte(r, Attr::SolidLine, 0, Op::SetLineDash);
    if (all || x.pen != 0) SetUByte(r, Attr::GrayLevel, 0, Op::SetPenSource);
    if (all || x.brush != kXlNoSource) SetUByte(r, Attr::NullBrush, 0, Op::SetBrushSource);
    if (all || x.rop != 252) SetUByte(r, Attr::ROP3, 252, Op::SetROP);
    if (all || x.sourceTxMode) SetUByte(r, Attr::TxMode, 0, Op::SetSourceTxMode);
    if (all || x.paintTxMode) SetUByte(r, Attr::TxMode, 0, Op::SetPaintTxMode);
    if (all || x.fillMode) SetUByte(r, Attr::FillMode, 0, Op::SetFillMode);
    SetUByte(r, Attr::ClipMode, static_cast<uint8_t>(FillMode::EvenOdd), Op::SetClipMode);
    SetUByte(r, Attr::LineCapStyle, static_cast<uint8_t>(LineCap::Butt), Op::SetLineCap);
    SetUByte(r, Attr::MiterLength, 1, Op::SetMiterLimit);
    SetUByte(r, Attr::LineJoinStyle, static_cast<uint8_t>(LineJoin::Miter), Op::SetLineJoin);
    XlAttrUInt16(r, Attr::CharAngle, 0);
    XlOperator(r, Op::SetCharAngle);
    if (all || x.boldValue) {
        XlAttrReal32(r, Attr::CharBoldValue, 0.0f);
        XlOperator(r, Op::SetCharBoldValue);
    }
    if (all || x.simItalic) {
        XlAttrUInt16XY(r, Attr::CharShear, 0, 0);
        XlOperator(r, Op::SetCharShear);
    }
    if (all || x.clip.set) XlOperator(r, Op::SetClipToPage);
    CachesAsAroundStream(r);
}

// A stream the printer holds, run between the two overlay origins: from
// the printable corner back to the sheet's, and back again.
void RunStream(DeviceRecord& r, std::string_view name) {
    const auto [x, y] = PrintableCorner(r);
    StreamState(r, false);
    XlAttrSInt16XY(r, Attr::PageOrigin, static_cast<int16_t>(-x), static_cast<int16_t>(-y));
    XlOperator(r, Op::SetPageOrigin);
    XlOperator(r, Op::PushGS);
    XlAttrUByteArray(r, Attr::StreamName, Bytes(name));
    XlOperator(r, Op::ExecStream);
    XlOperator(r, Op::PopGS);
    XlAttrSInt16XY(r, Attr::PageOrigin, static_cast<int16_t>(x), static_cast<int16_t>(y));
    XlOperator(r, Op::SetPageOrigin);
    StreamState(r, true);
    r.selectedFontId = r.designatedFontId = 0;
}

std::string_view FieldText(const char* field, size_t size) { return {field, strnlen(field, size)}; }

void Overlays(DeviceRecord& r, uint8_t placement) {
    if (!r.devmode) return;
    const zq::PrivateDevmode& dm = *r.devmode;
    std::string_view name;
    if (r.pageCount == 1) name = FieldText(dm.overlayName1, sizeof dm.overlayName1);
    else if (r.pageCount % 2) name = dm.overlaySwitch ? FieldText(dm.overlayName1, sizeof dm.overlayName1)
                                                      : FieldText(dm.overlayName2, sizeof dm.overlayName2);
    else name = FieldText(dm.overlayName2, sizeof dm.overlayName2);
    if (dm.overlayAtPageStart == placement && !name.empty()) RunStream(r, name);
    if (!CustomPaper(r)) return;
    const bool back = r.duplex != 1 && (r.changeFlags & kBackSide);
    const std::string_view custom = back ? FieldText(dm.userPaperOverlay2, sizeof dm.userPaperOverlay2)
                                         : FieldText(dm.userPaperOverlay1, sizeof dm.userPaperOverlay1);
    if (dm.userPaperSettings[back ? 1 : 0] == placement && !custom.empty()) RunStream(r, custom);
}

}  // namespace

bool XlMediaSizeOf(uint16_t paperCode, MediaSize& size) {
    static constexpr std::pair<uint16_t, MediaSize> kSizes[] = {
        {1, MediaSize::Letter},         {2, MediaSize::Letter},          {3, MediaSize::Ledger},
        {4, MediaSize::Ledger},         {5, MediaSize::Legal},           {7, MediaSize::Executive},
        {8, MediaSize::A3},             {9, MediaSize::A4},              {10, MediaSize::A4},
        {11, MediaSize::A5},            {12, MediaSize::JisB4},          {13, MediaSize::JisB5},
        {20, MediaSize::Com10Envelope}, {27, MediaSize::DLEnvelope},     {28, MediaSize::C5Envelope},
        {34, MediaSize::B5Envelope},    {37, MediaSize::MonarchEnvelope}, {43, MediaSize::JPostcard},
        {69, MediaSize::JDoublePostcard},
    };
    for (const auto& [code, s] : kSizes)
        if (code == paperCode) {
            size = s;
            return true;
        }
    return false;
}

MediaSource XlMediaSourceOf(uint16_t paperSource) {
    switch (paperSource) {
    case 1: return MediaSource::UpperCassette;
    case 2: return MediaSource::LowerCassette;
    case 3: return MediaSource::ThirdCassette;
    case 4: return MediaSource::ManualFeed;
    case 5: return MediaSource::EnvelopeTray;
    case 6: return MediaSource::ManualFeed;
    case 7: return MediaSource::AutoSelect;
    case 14: return MediaSource::UpperCassette;
    case 256: return MediaSource::MultiPurposeTray;
    default: return MediaSource::Default;
    }
}

XlMedia XlMediaOf(const DeviceRecord& r) {
    XlMedia m;
    const int code = PageOrientationCode(r);
    m.orientation = static_cast<Orientation>(code);
    const auto& g = r.geometry;
    m.custom = CustomPaper(r) || !XlMediaSizeOf(g.paperCodeUsed, m.size);
    if (m.custom && r.resolution) {
        // The sheet as it is fed: the page's own width and length, turned
        // back for landscape pages.
        float w = static_cast<float>(g.usedWidth) / r.resolution, l = static_cast<float>(g.usedLength) / r.resolution;
        if (code % 2) std::swap(w, l);
        m.customWidth = w;
        m.customLength = l;
    }
    m.source = XlMediaSourceOf(r.paperSource);
    if (r.devmode) {
        const auto& dm = *r.devmode;
        for (size_t slot = 0; slot < std::size(dm.slotSourceCodes); ++slot)
            if (dm.slotSourceCodes[slot] == r.paperSource && dm.slotValues[slot]) {
                m.type = PaperTypeName(dm.slotValues[slot]);
                break;
            }
    }
    m.duplex = r.duplex != 1;
    m.binding = r.duplex == 3 ? DuplexPageMode::HorizontalBinding : DuplexPageMode::VerticalBinding;
    m.side = (r.changeFlags & kBackSide) ? DuplexPageSide::Back : DuplexPageSide::Front;
    return m;
}

void XlSessionStart(DeviceRecord& r) {
    if (!(r.jobFlags & 0x40)) SpoolWrite(r, "@PJL ENTER LANGUAGE=PCLXL\n");
    SpoolWrite(r, kStreamHeader);
    XlAttrUInt16XY(r, Attr::UnitsPerMeasure, r.resolution, r.resolution);
    XlAttrEnum(r, Attr::Measure, Measure::Inch);
    XlAttrEnum(r, Attr::ErrorReport, ErrorReport::BackChannelAndErrorPage);
    XlOperator(r, Op::BeginSession);
    XlAttrEnum(r, Attr::SourceType, SourceType::Default);
    XlAttrEnum(r, Attr::DataOrg, DataOrg::LowByteFirst);
    XlOperator(r, Op::OpenDataSource);
    XlAttrUByteArray(r, Attr::CommentData, Bytes(kSessionComment));
    XlOperator(r, Op::Comment);
    r.xl = XlState{};
}

int XlPagePart(DeviceRecord& r) {
    if (!r.xl.pageOpen) SendBeginPage(r);
    PlacePage(r);
    Overlays(r, 1);
    r.changeFlags &= static_cast<uint16_t>(~(0x80 | 0x40 | 0x20 | 0x100));
    return 0;
}

int XlPageEnd(DeviceRecord& r) {
    r.bandActive = 1;
    // An overlay belongs to its page: it runs where the page lies, before
    // the n-up page goes back to the sheet's coordinates.
    Overlays(r, 0);
    if (r.pagesPerSheet > 1) {
        XlOperator(r, Op::SetPageDefaultCTM);
        if (r.nupFrame && r.currentCell) NupFrame(r);
    }
    if (!(r.pagesPerSheet > 1 && r.sheetPages != r.pagesPerSheet)) {
        EndSheet(r);
        SpoolFlush(r);
        r.changeFlags ^= kBackSide;
    }
    r.sheetPageCount = r.pageCount;
    return 1;
}

void XlSessionEnd(DeviceRecord& r) {
    if (r.xl.pageOpen) {
        EndSheet(r);
        r.changeFlags ^= kBackSide;
    }
    XlOperator(r, Op::CloseDataSource);
    XlOperator(r, Op::EndSession);
}

}  // namespace pclrend
