#include "pclread/pclxl_reader.h"

#include "pclread/pclread.h"
#include "pclread/device_faces.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace pclread {

bool DecodeXlRle(std::span<const uint8_t> data, std::vector<uint8_t>& out) {
    // The same run-length form as PCL's method 2, without a seed row.
    std::vector<uint8_t> row;
    if (!DecodePackBits(data, row)) return false;
    out.insert(out.end(), row.begin(), row.end());
    return true;
}

namespace {

constexpr std::string_view kUel = "\x1b%-12345X";

// Attribute identifiers of the public format that this reader knows.
struct AttrName {
    uint8_t id;
    const char* name;
};
constexpr AttrName kAttrs[] = {
    {0x02, "PaletteDepth"}, {0x03, "ColorSpace"}, {0x04, "NullBrush"}, {0x05, "NullPen"}, {0x06, "PaletteData"},
    {0x08, "PatternSelectID"}, {0x09, "GrayLevel"}, {0x0B, "RGBColor"}, {0x0C, "PatternOrigin"},
    {0x0D, "NewDestinationSize"}, {0x24, "MediaDestination"}, {0x25, "MediaSize"}, {0x26, "MediaSource"},
    {0x27, "MediaType"}, {0x28, "Orientation"}, {0x29, "PageAngle"}, {0x2A, "PageOrigin"}, {0x2B, "PageScale"},
    {0x2C, "ROP3"}, {0x2D, "TxMode"}, {0x2F, "CustomMediaSize"}, {0x30, "CustomMediaSizeUnits"},
    {0x31, "PageCopies"}, {0x34, "SimplexPageMode"}, {0x35, "DuplexPageMode"}, {0x36, "DuplexPageSide"},
    {0x42, "BoundingBox"}, {0x43, "DashOffset"}, {0x45, "EndPoint"}, {0x46, "FillMode"}, {0x47, "LineCapStyle"},
    {0x48, "LineJoinStyle"}, {0x49, "MiterLength"}, {0x4A, "LineDashStyle"}, {0x4B, "PenWidth"}, {0x4C, "Point"},
    {0x4D, "NumberOfPoints"}, {0x4E, "SolidLine"}, {0x50, "PointType"}, {0x51, "ControlPoint1"},
    {0x52, "ControlPoint2"}, {0x53, "ClipRegion"}, {0x54, "ClipMode"}, {0x62, "ColorDepth"}, {0x63, "BlockHeight"},
    {0x64, "ColorMapping"}, {0x65, "CompressMode"}, {0x67, "DestinationSize"}, {0x68, "PatternPersistence"},
    {0x69, "PatternDefineID"}, {0x6B, "SourceHeight"}, {0x6C, "SourceWidth"}, {0x6D, "StartLine"},
    {0x6E, "PadBytesMultiple"}, {0x6F, "BlockByteLength"}, {0x81, "CommentData"}, {0x82, "DataOrg"},
    {0x86, "Measure"}, {0x88, "SourceType"}, {0x89, "UnitsPerMeasure"}, {0x8B, "StreamName"},
    {0x8C, "StreamDataLength"}, {0x8F, "ErrorReport"}, {0xA1, "CharAngle"}, {0xA2, "CharCode"},
    {0xA3, "CharDataSize"}, {0xA4, "CharScale"}, {0xA5, "CharShear"}, {0xA6, "CharSize"},
    {0xA7, "FontHeaderLength"}, {0xA8, "FontName"}, {0xA9, "FontFormat"}, {0xAA, "SymbolSet"}, {0xAB, "TextData"},
    {0xAF, "XSpacingData"}, {0xB0, "YSpacingData"}, {0xB1, "CharBoldValue"},
};

// The data types the public format allows for an attribute, where this
// reader checks them (tags; an attribute not listed is not checked).
struct AttrTypes {
    uint8_t id;
    std::array<uint8_t, 4> tags;
};
constexpr AttrTypes kTypes[] = {
    {0x02, {0xC0}},             {0x03, {0xC0}},             {0x04, {0xC0}},             {0x05, {0xC0}},
    {0x06, {0xC8}},             {0x08, {0xC1, 0xC3}},       {0x09, {0xC0, 0xC5}},       {0x0B, {0xC8, 0xCD}},
    {0x25, {0xC0, 0xC8}},       {0x26, {0xC0}},             {0x27, {0xC8}},             {0x28, {0xC0}},
    {0x2A, {0xD0, 0xD1, 0xD3}}, {0x2B, {0xD0, 0xD1, 0xD5}}, {0x2C, {0xC0}},             {0x2D, {0xC0}},
    {0x2F, {0xD1, 0xD5}},       {0x30, {0xC0}},             {0x31, {0xC1}},             {0x34, {0xC0}},
    {0x35, {0xC0}},             {0x36, {0xC0}},             {0x42, {0xE0, 0xE1, 0xE3}}, {0x46, {0xC0}},
    {0x47, {0xC0}},             {0x48, {0xC0}},             {0x49, {0xC0, 0xC1}},       {0x4A, {0xC8, 0xC9, 0xCB}},
    {0x4B, {0xC0, 0xC1}},       {0x4C, {0xD0, 0xD1, 0xD3}}, {0x4D, {0xC0, 0xC1}},       {0x4E, {0xC0}},
    {0x50, {0xC0}},             {0x53, {0xC0}},             {0x54, {0xC0}},             {0x62, {0xC0}},
    {0x63, {0xC1}},             {0x64, {0xC0}},             {0x65, {0xC0}},             {0x67, {0xD1}},
    {0x68, {0xC0}},             {0x69, {0xC3}},             {0x6B, {0xC1}},             {0x6C, {0xC1}},
    {0x6D, {0xC1}},             {0x6F, {0xC2}},             {0x81, {0xC8, 0xC9}},       {0x82, {0xC0}},
    {0x86, {0xC0}},             {0x88, {0xC0}},             {0x89, {0xD1, 0xD5}},       {0x8B, {0xC8, 0xC9}},
    {0x8C, {0xC2}},             {0x8F, {0xC0}},
};

// Every attribute and operator of a stream is looked up: by tables indexed
// by the identifier, built once, rather than by searching the lists.
bool TypeAllowed(uint16_t id, uint8_t tag) {
    static const auto kById = [] {
        std::array<const AttrTypes*, 256> t{};
        for (const auto& a : kTypes) t[a.id] = &a;
        return t;
    }();
    const AttrTypes* t = id < kById.size() ? kById[id] : nullptr;
    if (!t) return true;
    return std::find(t->tags.begin(), t->tags.end(), tag) != t->tags.end() && tag != 0;
}

const char* AttrNameOf(uint16_t id) {
    static const auto kById = [] {
        std::array<const char*, 256> t{};
        for (const auto& a : kAttrs) t[a.id] = a.name;
        return t;
    }();
    return id < kById.size() ? kById[id] : nullptr;
}

enum class Data : uint8_t { None, Always, WithPoints };

// An operator, the attributes it may carry and those it must carry.
struct OpInfo {
    uint8_t code;
    const char* name;
    std::vector<uint8_t> allowed;
    std::vector<uint8_t> required;
    Data data = Data::None;
};

const std::vector<OpInfo>& Operators() {
    static const std::vector<OpInfo> ops = {
        {0x41, "BeginSession", {0x86, 0x89, 0x8F}, {0x86, 0x89}},
        {0x42, "EndSession", {}, {}},
        {0x43, "BeginPage", {0x28, 0x25, 0x26, 0x27, 0x24, 0x2F, 0x30, 0x34, 0x35, 0x36}, {}},
        {0x44, "EndPage", {0x31}, {}},
        {0x47, "Comment", {0x81}, {}},
        {0x48, "OpenDataSource", {0x88, 0x82}, {0x88, 0x82}},
        {0x49, "CloseDataSource", {}, {}},
        {0x4F, "BeginFontHeader", {0xA8, 0xA9}, {0xA8, 0xA9}},
        {0x50, "ReadFontHeader", {0xA7}, {0xA7}, Data::Always},
        {0x51, "EndFontHeader", {}, {}},
        {0x52, "BeginChar", {0xA8}, {0xA8}},
        {0x53, "ReadChar", {0xA2, 0xA3}, {0xA2, 0xA3}, Data::Always},
        {0x54, "EndChar", {}, {}},
        {0x55, "RemoveFont", {0xA8}, {0xA8}},
        {0x5B, "BeginStream", {0x8B}, {0x8B}},
        {0x5C, "ReadStream", {0x8C}, {0x8C}, Data::Always},
        {0x5D, "EndStream", {}, {}},
        {0x5E, "ExecStream", {0x8B}, {0x8B}},
        {0x5F, "RemoveStream", {0x8B}, {0x8B}},
        {0x60, "PopGS", {}, {}},
        {0x61, "PushGS", {}, {}},
        {0x62, "SetClipReplace", {0x53}, {0x53}},
        {0x63, "SetBrushSource", {0x0B, 0x09, 0x04, 0x08, 0x0C, 0x0D}, {}},
        {0x64, "SetCharAngle", {0xA1}, {0xA1}},
        {0x65, "SetCharScale", {0xA4}, {0xA4}},
        {0x66, "SetCharShear", {0xA5}, {0xA5}},
        {0x67, "SetClipIntersect", {0x53}, {0x53}},
        {0x68, "SetClipRectangle", {0x53, 0x42}, {0x53, 0x42}},
        {0x69, "SetClipToPage", {}, {}},
        {0x6A, "SetColorSpace", {0x03, 0x02, 0x06}, {}},
        {0x6B, "SetCursor", {0x4C}, {0x4C}},
        {0x6E, "SetFillMode", {0x46}, {0x46}},
        {0x6F, "SetFont", {0xA8, 0xA6, 0xAA}, {0xA8, 0xA6, 0xAA}},
        {0x70, "SetLineDash", {0x4A, 0x43, 0x4E}, {}},
        {0x71, "SetLineCap", {0x47}, {0x47}},
        {0x72, "SetLineJoin", {0x48}, {0x48}},
        {0x73, "SetMiterLimit", {0x49}, {0x49}},
        {0x74, "SetPageDefaultCTM", {}, {}},
        {0x75, "SetPageOrigin", {0x2A}, {0x2A}},
        {0x76, "SetPageRotation", {0x29}, {0x29}},
        {0x77, "SetPageScale", {0x2B, 0x86, 0x89}, {}},
        {0x78, "SetPaintTxMode", {0x2D}, {0x2D}},
        {0x79, "SetPenSource", {0x0B, 0x09, 0x05, 0x08, 0x0C, 0x0D}, {}},
        {0x7A, "SetPenWidth", {0x4B}, {0x4B}},
        {0x7B, "SetROP", {0x2C}, {0x2C}},
        {0x7C, "SetSourceTxMode", {0x2D}, {0x2D}},
        {0x7D, "SetCharBoldValue", {0xB1}, {0xB1}},
        {0x7F, "SetClipMode", {0x54}, {0x54}},
        {0x84, "CloseSubPath", {}, {}},
        {0x85, "NewPath", {}, {}},
        {0x86, "PaintPath", {}, {}},
        {0x93, "BezierPath", {0x4D, 0x50, 0x51, 0x52, 0x45}, {}, Data::WithPoints},
        {0x9B, "LinePath", {0x4D, 0x50, 0x45}, {}, Data::WithPoints},
        {0x9D, "LineRelPath", {0x4D, 0x50, 0x45}, {}, Data::WithPoints},
        {0xA0, "Rectangle", {0x42}, {0x42}},
        {0xA1, "RectanglePath", {0x42}, {0x42}},
        {0xA8, "Text", {0xAB, 0xAF, 0xB0}, {0xAB}},
        {0xB0, "BeginImage", {0x64, 0x62, 0x6C, 0x6B, 0x67}, {0x64, 0x62, 0x6C, 0x6B, 0x67}},
        {0xB1, "ReadImage", {0x6D, 0x63, 0x65, 0x6E, 0x6F}, {0x6D, 0x63, 0x65}, Data::Always},
        {0xB2, "EndImage", {}, {}},
        {0xB3, "BeginRastPattern", {0x64, 0x62, 0x6C, 0x6B, 0x67, 0x69, 0x68}, {0x64, 0x62, 0x6C, 0x6B, 0x67, 0x69, 0x68}},
        {0xB4, "ReadRastPattern", {0x6D, 0x63, 0x65, 0x6E}, {0x6D, 0x63, 0x65}, Data::Always},
        {0xB5, "EndRastPattern", {}, {}},
    };
    return ops;
}

const OpInfo* FindOp(uint8_t code) {
    static const auto kByCode = [] {
        std::array<const OpInfo*, 256> t{};
        for (const auto& op : Operators()) t[op.code] = &op;
        return t;
    }();
    return kByCode[code];
}

struct Value {
    uint8_t tag = 0;
    std::vector<double> n;       // the numbers: 1 scalar, 2 xy, 4 box, or the array's elements
    std::vector<uint8_t> bytes;  // a ubyte array as it was written
    bool array = false;
    double At(size_t i) const { return i < n.size() ? n[i] : 0; }
    // As a whole number, cut to the 32-bit range (a real32 can hold anything).
    int64_t I(size_t i) const {
        const double v = At(i);
        if (!std::isfinite(v)) return 0;
        return static_cast<int64_t>(std::clamp(v, -2147483648.0, 2147483647.0));
    }
};

// Sheet sizes of the size enumeration, in thousandths of an inch.
bool MediaSizeMils(int code, int& w, int& h) {
    static constexpr std::array<std::array<int, 3>, 17> kSizes = {{
        {0, 8500, 11000}, {1, 8500, 14000}, {2, 8268, 11693}, {3, 7250, 10500}, {4, 11000, 17000},
        {5, 11693, 16535}, {6, 4125, 9500}, {7, 3875, 7500}, {8, 6378, 9016}, {9, 4331, 8661},
        {10, 10118, 14331}, {11, 7165, 10118}, {12, 6929, 9843}, {14, 3937, 5827}, {15, 7874, 5827},
        {16, 5827, 8268}, {17, 4134, 5827},
    }};
    for (const auto& s : kSizes)
        if (s[0] == code) {
            w = s[1];
            h = s[2];
            return true;
        }
    return false;
}

struct Pattern {
    int32_t width = 0, height = 0;  // destination size in device pixels
    std::vector<uint8_t> grey;
};

struct Paint {
    enum Kind : uint8_t { None, Grey, Pattern } kind = Grey;
    uint8_t grey = 0;
    int32_t pattern = 0;
};

using Mask = std::vector<uint8_t>;  // 1 inside the clip, one byte per pixel

struct Gs {
    std::array<double, 6> ctm{1, 0, 0, 1, 0, 0};  // x' = a x + c y + e, y' = b x + d y + f
    Paint brush, pen;
    double penWidth = 1;
    std::vector<double> dash;
    uint8_t fillMode = 0, clipMode = 0, rop = 252, sourceTx = 0, paintTx = 0;
    uint8_t colourSpace = 1;
    uint8_t cap = 0, join = 0;     // butt ends, mitred corners
    double miterLimit = 10;
    std::vector<uint8_t> palette;
    std::shared_ptr<Mask> clip;
    double cursorX = 0, cursorY = 0;
};

struct Point {
    double x, y;
};
struct SubPath {
    std::vector<Point> points;  // device pixels
    bool closed = false;
};

struct Image {
    bool open = false;
    bool pattern = false;
    bool rgb = false;  // direct RGB: three samples a pixel
    int mapping = 0, depth = 0;
    int32_t width = 0, height = 0, destW = 0, destH = 0, rowsRead = 0;
    int32_t patternId = 0;
    std::vector<uint8_t> rows;  // unpacked samples, one byte each
};

uint8_t Rop3(uint8_t d, uint8_t s, uint8_t p, uint8_t rop) {
    // Each set bit of the code names one combination of pattern, source and
    // destination bits (pattern the high one); the result has a bit wherever
    // the three bits form a named combination. Eight planes at once.
    const unsigned np = static_cast<uint8_t>(~p), ns = static_cast<uint8_t>(~s), nd = static_cast<uint8_t>(~d);
    unsigned out = 0;
    for (int idx = 0; idx < 8; ++idx)
        if ((rop >> idx) & 1) out |= ((idx & 4) ? p : np) & ((idx & 2) ? s : ns) & ((idx & 1) ? d : nd);
    return static_cast<uint8_t>(out);
}

class XlReader {
public:
    XlReader(size_t base, size_t maxPages, XlSession& s, std::vector<std::string>& errors)
        : base_(base), maxPages_(maxPages), s_(s), errors_(errors) {}

    size_t Run(std::span<const uint8_t> in) {
        in_ = in;
        pos_ = 0;
        // Streams may run streams, a few levels deep: a small job could ask
        // for more work than any printer would do. What streams replay is
        // bounded by the job's own size.
        streamBudget_ = std::max<size_t>(s_.minStreamReplay, 16 * in.size());
        const int64_t bytes = static_cast<int64_t>(std::min<size_t>(in.size(), size_t{1} << 40));
        paintBudget_ = std::max<int64_t>(s_.minPaintPoints,
                                         s_.paintPointsPerByte > (INT64_MAX >> 41) ? INT64_MAX : s_.paintPointsPerByte * bytes);
        if (!Header()) return pos_;
        Body(0);
        for (size_t code = 0; code < opCounts_.size(); ++code)
            if (opCounts_[code] != 0) s_.operatorCounts[FindOp(static_cast<uint8_t>(code))->name] += opCounts_[code];
        if (sessionOpen_) Error("session left open at the end of the stream");
        if (unreported_ > 0) errors_.push_back("PCL XL: " + std::to_string(unreported_) + " more errors");
        return pos_;
    }

private:
    // The first thousand errors are kept; the rest are only counted. The
    // text is put together from its parts only when it is kept: a stream
    // replayed many times repeats its faults without end.
    template <class... Parts>
    void Error(const Parts&... parts) {
        if (reported_ >= 1000) {
            ++unreported_;
            return;
        }
        ++reported_;
        std::string text = "PCL XL at " + std::to_string(base_ + pos_) + ": ";
        (text += ... += parts);
        errors_.push_back(std::move(text));
    }

    bool AtUel() const {
        return in_.size() - pos_ >= kUel.size() && std::equal(kUel.begin(), kUel.end(), in_.begin() + static_cast<ptrdiff_t>(pos_));
    }

    // ") HP-PCL XL;class;revision;comment" up to its line feed.
    bool Header() {
        size_t end = pos_;
        while (end < in_.size() && in_[end] != '\n') ++end;
        const std::string line(in_.begin(), in_.begin() + static_cast<ptrdiff_t>(end));
        if (end >= in_.size()) {
            Error("stream header without its line feed");
            pos_ = in_.size();
            return false;
        }
        pos_ = end + 1;
        if (line.size() < 2 || line[0] != ')') {
            Error(line.empty() || line[0] != '(' ? "stream header without a binding" : "big-endian binding is not what this driver writes");
            return false;
        }
        if (line.compare(1, 11, " HP-PCL XL;") != 0) {
            Error("stream header is not \" HP-PCL XL;\"");
            return false;
        }
        const size_t cls = 12, semi = line.find(';', cls), semi2 = semi == std::string::npos ? semi : line.find(';', semi + 1);
        if (semi2 == std::string::npos) {
            Error("stream header without class and revision");
            return false;
        }
        s_.protocol = line.substr(cls, semi2 - cls);
        static const std::array<std::string_view, 5> kClasses = {"1;1", "2;0", "2;1", "3;0", "1;0"};
        if (std::find(kClasses.begin(), kClasses.end(), s_.protocol) == kClasses.end())
            Error("unknown protocol class " + s_.protocol);
        return true;
    }

    static bool Space(uint8_t b) { return b == 0 || b == 9 || b == 10 || b == 11 || b == 12 || b == 13 || b == 32; }

    bool Need(size_t n) {
        if (in_.size() - pos_ < n) {
            Error("element cut off by the end of the stream");
            pos_ = in_.size();
            return false;
        }
        return true;
    }
    uint32_t U(size_t at, int width) const {
        uint32_t v = 0;
        for (int i = width - 1; i >= 0; --i) v = (v << 8) | in_[at + static_cast<size_t>(i)];
        return v;
    }
    double Number(size_t at, int base) const {
        switch (base) {
        case 0: return in_[at];
        case 1: return U(at, 2);
        case 2: return U(at, 4);
        case 3: return static_cast<int16_t>(U(at, 2));
        case 4: return static_cast<int32_t>(U(at, 4));
        default: {
            float f;
            const uint32_t v = U(at, 4);
            std::memcpy(&f, &v, 4);
            return f;
        }
        }
    }
    static int Width(int base) { return base == 0 ? 1 : (base == 1 || base == 3) ? 2 : 4; }

    std::optional<Value> ReadValue() {
        const uint8_t tag = in_[pos_];
        const int base = tag & 0x07;
        const int kind = tag & 0xF8;
        if (base > 5 || (kind != 0xC0 && kind != 0xC8 && kind != 0xD0 && kind != 0xE0)) {
            Error("unknown data type tag ", std::to_string(tag));
            ++pos_;
            return std::nullopt;
        }
        ++pos_;
        Value v;
        v.tag = tag;
        const int w = Width(base);
        if (kind == 0xC8) {
            if (!Need(1)) return std::nullopt;
            const uint8_t lt = in_[pos_++];
            size_t count = 0;
            if (lt == 0xC0) {
                if (!Need(1)) return std::nullopt;
                count = in_[pos_++];
            } else if (lt == 0xC1) {
                if (!Need(2)) return std::nullopt;
                count = U(pos_, 2);
                pos_ += 2;
            } else {
                Error("array length is neither a ubyte nor a uint16");
                return std::nullopt;
            }
            if (!Need(count * static_cast<size_t>(w))) return std::nullopt;
            v.array = true;
            if (base == 0) v.bytes.assign(in_.begin() + static_cast<ptrdiff_t>(pos_), in_.begin() + static_cast<ptrdiff_t>(pos_ + count));
            for (size_t i = 0; i < count; ++i) v.n.push_back(Number(pos_ + i * static_cast<size_t>(w), base));
            pos_ += count * static_cast<size_t>(w);
            return v;
        }
        const size_t count = kind == 0xC0 ? 1 : kind == 0xD0 ? 2 : 4;
        if (!Need(count * static_cast<size_t>(w))) return std::nullopt;
        for (size_t i = 0; i < count; ++i) v.n.push_back(Number(pos_ + i * static_cast<size_t>(w), base));
        pos_ += count * static_cast<size_t>(w);
        return v;
    }

    // The embedded data that follows an operator: its length header and bytes.
    std::optional<std::span<const uint8_t>> Embedded() {
        while (pos_ < in_.size() && Space(in_[pos_])) ++pos_;
        if (pos_ >= in_.size()) {
            Error("embedded data missing at the end of the stream");
            return std::nullopt;
        }
        size_t length = 0;
        if (in_[pos_] == 0xFA) {
            if (!Need(5)) return std::nullopt;
            length = U(pos_ + 1, 4);
            pos_ += 5;
        } else if (in_[pos_] == 0xFB) {
            if (!Need(2)) return std::nullopt;
            length = in_[pos_ + 1];
            pos_ += 2;
        } else {
            Error("embedded data expected after the operator");
            return std::nullopt;
        }
        if (in_.size() - pos_ < length) {
            Error("embedded data length " + std::to_string(length) + " runs past the end");
            pos_ = in_.size();
            return std::nullopt;
        }
        auto data = in_.subspan(pos_, length);
        pos_ += length;
        return data;
    }

    void Body(int depth) {
        std::map<uint16_t, Value> attrs;
        std::optional<Value> pending;
        while (pos_ < in_.size()) {
            if (AtUel()) {
                if (depth == 0) return;
                Error("universal exit inside a stream");
                return;
            }
            const uint8_t b = in_[pos_];
            if (Space(b)) {
                ++pos_;
                continue;
            }
            if (b >= 0xC0 && b <= 0xEF) {
                if (pending) Error("a value without its attribute");
                pending = ReadValue();
                continue;
            }
            if (b == 0xF8 || b == 0xF9) {
                const int w = b == 0xF8 ? 1 : 2;
                if (!Need(1 + static_cast<size_t>(w))) return;
                const uint16_t id = static_cast<uint16_t>(U(pos_ + 1, w));
                if (!pending) Error("attribute without a value");
                else if (!AttrNameOf(id)) Error("unknown attribute ", std::to_string(id));
                else if (attrs.count(id)) Error("attribute ", AttrNameOf(id), " given twice");
                else {
                    if (!TypeAllowed(id, pending->tag))
                        Error("attribute ", AttrNameOf(id), " with data type ", std::to_string(pending->tag));
                    attrs[id] = std::move(*pending);
                }
                pending.reset();
                pos_ += 1 + static_cast<size_t>(w);
                continue;
            }
            if (b == 0xFA || b == 0xFB) {
                Error("embedded data without an operator that takes it");
                ++pos_;
                continue;
            }
            const OpInfo* op = FindOp(b);
            if (!op) {
                Error("unknown operator or byte ", std::to_string(b));
                ++pos_;
                attrs.clear();
                pending.reset();
                continue;
            }
            if (pending) Error("a value without its attribute before ", op->name);
            pending.reset();
            const size_t at = pos_++;
            for (const auto& [id, v] : attrs)
                if (std::find(op->allowed.begin(), op->allowed.end(), id) == op->allowed.end())
                    Error(op->name, " does not take ", AttrNameOf(id));
            for (uint8_t id : op->required)
                if (!attrs.count(id)) Error(op->name, " lacks ", AttrNameOf(id));
            ++opCounts_[op->code];
            Execute(*op, attrs, at, depth);
            attrs.clear();
        }
        if (pending || !attrs.empty()) Error("attributes without an operator at the end");
    }

    const Value* A(const std::map<uint16_t, Value>& a, uint8_t id) {
        auto it = a.find(id);
        return it == a.end() ? nullptr : &it->second;
    }

    // ---- Pages and the graphics state ---------------------------------
    Point Map(double x, double y) const {
        const auto& m = gs_.ctm;
        return {m[0] * x + m[2] * y + m[4], m[1] * x + m[3] * y + m[5]};
    }

    void BeginPage(const std::map<uint16_t, Value>& a) {
        if (pageOpen_) Error("BeginPage inside a page");
        int wMils = 8500, hMils = 11000;
        if (const Value* size = A(a, 0x25)) {
            if (!size->array && !MediaSizeMils(static_cast<int>(size->I(0)), wMils, hMils))
                Error("unknown media size " + std::to_string(static_cast<int>(size->I(0))));
            if (A(a, 0x2F)) Error("BeginPage with both MediaSize and CustomMediaSize");
        } else if (const Value* custom = A(a, 0x2F)) {
            const Value* units = A(a, 0x30);
            if (!units) Error("CustomMediaSize without its units");
            const double per = !units || units->At(0) == 0 ? 1000.0 : units->At(0) == 1 ? 1000.0 / 25.4 : 100.0 / 25.4;
            // Sizes beyond a thousand units are cut: no sheet is that large.
            auto cut = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1000.0) : 0.0; };
            wMils = static_cast<int>(std::lround(cut(custom->At(0)) * per));
            hMils = static_cast<int>(std::lround(cut(custom->At(1)) * per));
        } else {
            Error("BeginPage without a media size");
        }
        if (const Value* o = A(a, 0x28); o && o->At(0) > 3) Error("unknown orientation");
        landscape_ = A(a, 0x28) && static_cast<int>(A(a, 0x28)->I(0)) % 2 == 1;
        if (A(a, 0x35) && !A(a, 0x36)) Error("DuplexPageMode without DuplexPageSide");
        if (A(a, 0x34) && A(a, 0x35)) Error("both simplex and duplex page modes");
        if (const Value* src = A(a, 0x26); src && src->At(0) > 7) s_.notes.push_back("media source beyond the standard values");
        pageOpen_ = true;
        page_ = GreyPage{};
        page_.width = std::max(1, static_cast<int32_t>(std::lround(wMils * static_cast<double>(s_.unitsX) / 1000.0)));
        page_.height = std::max(1, static_cast<int32_t>(std::lround(hMils * static_cast<double>(s_.unitsY) / 1000.0)));
        if (landscape_) std::swap(page_.width, page_.height);
        if (static_cast<int64_t>(page_.width) * page_.height > s_.maxPixels) {
            Error("page too large to render");
            page_.width = page_.height = 1;
        }
        page_.grey.assign(static_cast<size_t>(page_.width) * page_.height, 255);
        gs_ = Gs{};
        stack_.clear();
        path_.clear();
        pagePatterns_.clear();
    }

    // The pattern a paint stands for, tiled from the page's user origin;
    // nullptr for a grey or an unknown pattern.
    struct Tile {
        const Pattern* pattern = nullptr;
        int64_t ox = 0, oy = 0;
        uint8_t At(int32_t x, int32_t y) const {
            const Pattern& pat = *pattern;
            const auto px = static_cast<int32_t>(((x - ox) % pat.width + pat.width) % pat.width);
            const auto py = static_cast<int32_t>(((y - oy) % pat.height + pat.height) % pat.height);
            return pat.grey[static_cast<size_t>(py) * pat.width + px];
        }
    };

    Tile TileOf(const Paint& p) const {
        if (p.kind != Paint::Pattern) return {};
        auto it = pagePatterns_.find(p.pattern);
        if (it == pagePatterns_.end()) it = sessionPatterns_.find(p.pattern);
        if (it == sessionPatterns_.end() || it->second.width <= 0 || it->second.height <= 0) return {};
        const Point o = Map(0, 0);
        auto whole = [](double v) { return std::isfinite(v) ? static_cast<int64_t>(std::clamp(std::round(v), -1e9, 1e9)) : 0; };
        return {&it->second, whole(o.x), whole(o.y)};
    }

    // The paint's pattern value at a pixel: its grey, a tile's pixel, or 0
    // (black) for a pattern the session does not hold.
    static uint8_t PatternValue(const Paint& p, const Tile& tile, int32_t x, int32_t y) {
        if (p.kind == Paint::Grey) return p.grey;
        return tile.pattern ? tile.At(x, y) : 0;
    }


    // Pixels xa..xb of row y painted with `paint` as source and pattern.
    void PutRow(int32_t y, int32_t xa, int32_t xb, const Paint& paint) {
        if (paint.kind == Paint::None || y < 0 || y >= page_.height) return;
        xa = std::max(xa, 0);
        xb = std::min(xb, page_.width - 1);
        if (xa > xb) return;
        const size_t row = static_cast<size_t>(y) * page_.width;
        const uint8_t* clip = gs_.clip ? gs_.clip->data() + row : nullptr;
        uint8_t* d = page_.grey.data() + row;
        if (paint.kind == Paint::Grey) {
            // One grey as source and pattern: each bit of the result follows
            // from the destination's bit alone, as one of two masks.
            const uint8_t ones = Rop3(0xFF, paint.grey, paint.grey, gs_.rop);
            const uint8_t zeros = Rop3(0x00, paint.grey, paint.grey, gs_.rop);
            if (!clip && ones == zeros) {
                std::memset(d + xa, ones, static_cast<size_t>(xb - xa) + 1);
                return;
            }
            for (int32_t x = xa; x <= xb; ++x)
                if (!clip || clip[x]) d[x] = static_cast<uint8_t>((d[x] & ones) | (~d[x] & zeros));
            return;
        }
        const Tile tile = TileOf(paint);
        const bool transparentWhite = gs_.paintTx;
        for (int32_t x = xa; x <= xb; ++x) {
            if (clip && !clip[x]) continue;
            const uint8_t p = PatternValue(paint, tile, x, y);
            if (transparentWhite && p == 255) continue;
            d[x] = Rop3(d[x], p, p, gs_.rop);
        }
    }

    // One pixel painted with `paint` as source and pattern.
    void Put(int32_t x, int32_t y, const Paint& paint) {
        if (x >= 0 && x < page_.width) PutRow(y, x, x, paint);
    }

    // Pixels whose centres lie inside the polygons, by the fill rule, as
    // runs of a row: visit(y, first x, last x).
    template <typename Visit>
    void Scan(const std::vector<SubPath>& paths, bool evenOdd, Visit visit) const {
        double top = 1e300, bottom = -1e300;
        for (const auto& sp : paths)
            for (const auto& p : sp.points) {
                if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;  // nothing sound to fill
                top = std::min(top, p.y);
                bottom = std::max(bottom, p.y);
            }
        if (top > bottom) return;
        const int32_t y0 = static_cast<int32_t>(std::clamp(std::floor(top), 0.0, page_.height - 1.0));
        const int32_t y1 = static_cast<int32_t>(std::clamp(std::ceil(bottom), 0.0, page_.height - 1.0));
        std::vector<std::pair<double, int>> xs;
        for (int32_t y = y0; y <= y1; ++y) {
            const double cy = y + 0.5;
            xs.clear();
            for (const auto& sp : paths) {
                const size_t n = sp.points.size();
                for (size_t i = 0; i < n && n > 1; ++i) {
                    const Point a = sp.points[i], b = sp.points[(i + 1) % n];
                    if ((a.y <= cy) == (b.y <= cy)) continue;
                    xs.emplace_back(a.x + (cy - a.y) * (b.x - a.x) / (b.y - a.y), b.y > a.y ? 1 : -1);
                }
            }
            std::sort(xs.begin(), xs.end());
            int winding = 0;
            for (size_t i = 0; i + 1 < xs.size(); ++i) {
                winding += xs[i].second;
                const bool in = evenOdd ? (i % 2 == 0) : winding != 0;
                if (!in) continue;
                const double w = page_.width;
                const int32_t xa = static_cast<int32_t>(std::clamp(std::ceil(xs[i].first - 0.5), 0.0, w));
                const int32_t xb = static_cast<int32_t>(std::clamp(std::ceil(xs[i + 1].first - 0.5), 0.0, w)) - 1;
                if (xa <= xb) visit(y, xa, xb);
            }
        }
    }

    void Fill(const std::vector<SubPath>& paths, const Paint& paint, bool evenOdd) {
        if (paint.kind == Paint::None) return;
        Scan(paths, evenOdd, [&](int32_t y, int32_t xa, int32_t xb) { PutRow(y, xa, xb, paint); });
    }

    // The pieces of a subpath the dash pattern inks; the subpath itself
    // without a dash. Dashes are laid out in user units, as the line was
    // drawn, so a page scaled unequally across and down stretches a line's
    // dashes by the scale along it (without an inverse, `scale` device
    // pixels a unit).
    std::vector<SubPath> Dashed(const SubPath& sp, double scale, size_t most) const {
        const auto& m = gs_.ctm;
        const double det = m[0] * m[3] - m[1] * m[2];
        const bool inverse = std::isfinite(det) && std::fabs(det) > 1e-12;
        auto length = [&](Point a, Point b) {
            const double dx = b.x - a.x, dy = b.y - a.y;
            if (!inverse) return std::hypot(dx, dy);
            return std::hypot((m[3] * dx - m[2] * dy) / det, (m[0] * dy - m[1] * dx) / det);
        };
        std::vector<double> dash;
        double period = 0;
        for (double d : gs_.dash) {
            dash.push_back(std::isfinite(d) ? std::max(0.0, inverse ? d : d * scale) : 0.0);
            period += dash.back();
        }
        if (dash.size() % 2) dash.insert(dash.end(), dash.begin(), dash.end());  // odd: on and off swap
        if (dash.empty() || period <= 0 || !std::isfinite(period)) return {sp};
        std::vector<Point> pts = sp.points;
        if (sp.closed && !pts.empty()) pts.push_back(pts.front());
        std::vector<SubPath> out;
        size_t k = 0;
        double left = dash[0];  // of the current dash entry
        bool on = true;
        SubPath piece;
        if (!pts.empty()) piece.points.push_back(pts[0]);
        for (size_t i = 0; i + 1 < pts.size(); ++i) {
            Point a = pts[i];
            const Point b = pts[i + 1];
            double len = length(a, b);
            while (len > left) {
                const double t = left / len;
                a = {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
                len -= left;
                if (on) {
                    piece.points.push_back(a);
                    out.push_back(std::move(piece));
                }
                piece = {};
                on = !on;
                k = (k + 1) % dash.size();
                left = dash[k];
                if (on) piece.points.push_back(a);
                if (out.size() >= most) return out;  // a pattern far finer than the page
            }
            left -= len;
            if (on) piece.points.push_back(b);
        }
        if (on && piece.points.size() > 1) out.push_back(std::move(piece));
        return out;
    }

    // A disc of radius `r` as a polygon fine enough for whole pixels.
    static SubPath Disc(Point c, double r) {
        const int n = static_cast<int>(std::clamp(std::ceil(2 * 3.14159265358979 * r), 16.0, 512.0));
        SubPath d{{}, true};
        for (int i = 0; i < n; ++i) {
            const double a = 2 * 3.14159265358979 * i / n;
            d.points.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
        }
        return d;
    }

    // The pen's outline of one open or closed piece as polygons: each
    // segment a quadrilateral of the pen's width, the corners by the line
    // join, the ends by the line cap.
    void Outline(const SubPath& sp, double half, std::vector<SubPath>& out) const {
        std::vector<Point> pts;
        for (const Point& p : sp.points)
            if (pts.empty() || p.x != pts.back().x || p.y != pts.back().y) pts.push_back(p);
        if (sp.closed && pts.size() > 1 && pts.front().x == pts.back().x && pts.front().y == pts.back().y) pts.pop_back();
        auto unit = [](Point a, Point b) {
            const double len = std::hypot(b.x - a.x, b.y - a.y);
            return len > 0 ? Point{(b.x - a.x) / len, (b.y - a.y) / len} : Point{1, 0};
        };
        const size_t n = pts.size();
        if (n == 0) return;
        if (n == 1) {
            // A dot: a round cap draws a disc, a square one a square.
            if (gs_.cap == 1) out.push_back(Disc(pts[0], half));
            else if (gs_.cap == 2) {
                const Point c = pts[0];
                out.push_back({{{c.x - half, c.y - half}, {c.x + half, c.y - half}, {c.x + half, c.y + half}, {c.x - half, c.y + half}}, true});
            }
            return;
        }
        const bool closed = sp.closed && n > 2;
        const size_t segments = closed ? n : n - 1;
        for (size_t i = 0; i < segments; ++i) {
            const Point a = pts[i], b = pts[(i + 1) % n], d = unit(a, b);
            const double nx = -d.y * half, ny = d.x * half;
            out.push_back({{{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}}, true});
        }
        // Corners: every point of a closed piece, the inner ones of an open one.
        for (size_t i = closed ? 0 : 1; i < (closed ? n : n - 1); ++i) {
            const Point v = pts[i], d1 = unit(pts[(i + n - 1) % n], v), d2 = unit(v, pts[(i + 1) % n]);
            const double cross = d1.x * d2.y - d1.y * d2.x;
            if (gs_.join == 1) {
                out.push_back(Disc(v, half));
                continue;
            }
            if (gs_.join == 3 || std::fabs(cross) < 1e-12) continue;  // no join, or straight on
            // The outer side's edges meet at the miter point, or are cut across.
            const double side = cross > 0 ? -1 : 1;
            const Point p1{v.x - d1.y * half * side, v.y + d1.x * half * side};
            const Point p2{v.x - d2.y * half * side, v.y + d2.x * half * side};
            const double t = ((p2.x - p1.x) * d2.y - (p2.y - p1.y) * d2.x) / cross;
            const Point m{p1.x + d1.x * t, p1.y + d1.y * t};
            const bool miter = gs_.join == 0 && std::hypot(m.x - v.x, m.y - v.y) <= gs_.miterLimit * half;
            if (miter) out.push_back({{v, p1, m, p2}, true});
            else out.push_back({{v, p1, p2}, true});
        }
        if (closed) return;
        for (int end = 0; end < 2; ++end) {
            const Point c = end ? pts[n - 1] : pts[0];
            const Point d = end ? unit(pts[n - 2], pts[n - 1]) : unit(pts[1], pts[0]);  // outwards
            const double nx = -d.y * half, ny = d.x * half;
            if (gs_.cap == 1) out.push_back(Disc(c, half));
            else if (gs_.cap == 2)
                out.push_back({{{c.x + nx, c.y + ny}, {c.x + nx + d.x * half, c.y + ny + d.y * half},
                                {c.x - nx + d.x * half, c.y - ny + d.y * half}, {c.x - nx, c.y - ny}}, true});
            else if (gs_.cap == 3)
                out.push_back({{{c.x + nx, c.y + ny}, {c.x + d.x * half, c.y + d.y * half}, {c.x - nx, c.y - ny}}, true});
        }
    }

    // The pen's outline painted once in each pixel whose centre it covers.
    void Stroke(const std::vector<SubPath>& paths) {
        if (gs_.pen.kind == Paint::None) return;
        const double scale = std::sqrt(std::fabs(gs_.ctm[0] * gs_.ctm[3] - gs_.ctm[1] * gs_.ctm[2]));
        const double half = std::max(0.5, gs_.penWidth * scale / 2);
        std::vector<SubPath> quads;
        for (const auto& sp : paths)
            for (const auto& piece : Dashed(sp, scale, static_cast<size_t>(std::min<int64_t>(paintBudget_, 1000000))))
                Outline(piece, half, quads);
        if (!ChargePaint(quads.size())) return;
        // Overlapping segments are painted once: the union by non-zero winding
        // of consistently oriented quadrilaterals is not guaranteed, so mark.
        std::vector<size_t> marked;
        std::vector<uint8_t>& mark = strokeMark_;
        mark.resize(page_.grey.size());
        for (const auto& q : quads)
            Scan({q}, false, [&](int32_t y, int32_t xa, int32_t xb) {
                for (int32_t x = xa; x <= xb; ++x) {
                    const size_t at = static_cast<size_t>(y) * page_.width + x;
                    if (!mark[at]) marked.push_back(at);
                    mark[at] = 1;
                }
            });
        for (size_t at : marked) {
            Put(static_cast<int32_t>(at % page_.width), static_cast<int32_t>(at / page_.width), gs_.pen);
            mark[at] = 0;
        }
    }

    void AddRectangle(const Value& box) {
        const Point a = Map(box.At(0), box.At(1)), b = Map(box.At(2), box.At(1)), c = Map(box.At(2), box.At(3)),
                    d = Map(box.At(0), box.At(3));
        path_.push_back({{a, b, c, d}, true});
    }

    // Takes `n` points of painting from the job's budget; false, and the
    // painting is left out, once it is spent.
    bool ChargePaint(size_t n) {
        if (static_cast<uint64_t>(paintBudget_) >= n) {
            paintBudget_ -= static_cast<int64_t>(n);
            return true;
        }
        if (!paintSpent_) Error("paths paint more points than the job allows: the rest are not painted");
        paintSpent_ = true;
        paintBudget_ = 0;
        return false;
    }

    void PaintCurrentPath() {
        // Outside a page there is no sheet to paint on (the fault is reported).
        if (!pageOpen_) return;
        size_t points = 0;
        for (const auto& sp : path_) points += sp.points.size();
        if (!ChargePaint(points)) return;
        Fill(path_, gs_.brush, gs_.fillMode == 1);
        Stroke(path_);
    }

    void Points(const OpInfo& op, const std::map<uint16_t, Value>& a) {
        const bool bezier = op.code == 0x93;
        std::vector<Point> pts;
        if (const Value* count = A(a, 0x4D)) {
            const Value* type = A(a, 0x50);
            if (!type) Error(std::string(op.name) + " with points lacks PointType");
            const int t = type ? static_cast<int>(type->I(0)) : 3;
            if (t > 3) Error("unknown point type");
            const size_t w = t <= 1 ? 1 : 2;
            const auto data = Embedded();
            if (!data) return;
            const size_t n = static_cast<size_t>(count->I(0));
            if (data->size() != n * 2 * w) {
                Error(std::string(op.name) + ": data length " + std::to_string(data->size()) + " is not " +
                      std::to_string(n) + " points");
                return;
            }
            if (bezier && n % 3) Error("BezierPath points are not a multiple of three");
            for (size_t i = 0; i < n; ++i) {
                auto val = [&](size_t at) -> double {
                    const uint8_t* p = data->data() + at;
                    switch (t) {
                    case 0: return p[0];
                    case 1: return static_cast<int8_t>(p[0]);
                    case 2: return static_cast<uint16_t>(p[0] | p[1] << 8);
                    default: return static_cast<int16_t>(p[0] | p[1] << 8);
                    }
                };
                pts.push_back({val(i * 2 * w), val(i * 2 * w + w)});
            }
        } else if (const Value* end = A(a, 0x45)) {
            if (bezier) {
                const Value *c1 = A(a, 0x51), *c2 = A(a, 0x52);
                if (!c1 || !c2) Error("BezierPath without its control points");
                if (c1) pts.push_back({c1->At(0), c1->At(1)});
                if (c2) pts.push_back({c2->At(0), c2->At(1)});
            }
            pts.push_back({end->At(0), end->At(1)});
        } else {
            Error(std::string(op.name) + " without points");
            return;
        }
        if (!cursorSet_) Error(std::string(op.name) + " without a current point");
        if (path_.empty()) path_.push_back({{Map(gs_.cursorX, gs_.cursorY)}, false});
        auto& sp = path_.back().points;
        double cx = gs_.cursorX, cy = gs_.cursorY;
        if (!bezier) {
            // LineRelPath: each point is an offset from the one before.
            const bool relative = op.code == 0x9D;
            for (auto p : pts) {
                if (relative) p = {cx + p.x, cy + p.y};
                sp.push_back(Map(p.x, p.y));
                cx = p.x;
                cy = p.y;
            }
        } else {
            for (size_t i = 0; i + 3 <= pts.size(); i += 3) {
                const Point p0{cx, cy}, p1 = pts[i], p2 = pts[i + 1], p3 = pts[i + 2];
                // Chords of about four device pixels along the control polygon
                // stay well within a pixel of the curve.
                const Point d0 = Map(p0.x, p0.y), d1 = Map(p1.x, p1.y), d2 = Map(p2.x, p2.y), d3 = Map(p3.x, p3.y);
                const double reach = std::hypot(d1.x - d0.x, d1.y - d0.y) + std::hypot(d2.x - d1.x, d2.y - d1.y) +
                                     std::hypot(d3.x - d2.x, d3.y - d2.y);
                const int steps = std::isfinite(reach) ? static_cast<int>(std::clamp(std::ceil(reach / 4), 16.0, 4096.0)) : 16;
                for (int k = 1; k <= steps; ++k) {
                    const double t = static_cast<double>(k) / steps, u = 1 - t;
                    const double x = u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x;
                    const double y = u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y;
                    sp.push_back(Map(x, y));
                }
                cx = p3.x;
                cy = p3.y;
            }
        }
        gs_.cursorX = cx;
        gs_.cursorY = cy;
    }

    Paint Source(const std::map<uint16_t, Value>& a, uint8_t nullId) {
        Paint p;
        if (const Value* g = A(a, 0x09)) {
            if (gs_.colourSpace != 1) Error("GrayLevel outside a grey colour space");
            p.grey = static_cast<uint8_t>(g->I(0));
        } else if (const Value* rgb = A(a, 0x0B)) {
            if (gs_.colourSpace != 2) Error("RGBColor outside an RGB colour space");
            p.grey = static_cast<uint8_t>((5 * rgb->I(0) + 9 * rgb->I(1) + 2 * rgb->I(2)) / 16);
        } else if (A(a, nullId)) {
            p.kind = Paint::None;
        } else if (const Value* id = A(a, 0x08)) {
            p.kind = Paint::Pattern;
            p.pattern = static_cast<int32_t>(id->I(0));
            if (!pagePatterns_.count(p.pattern) && !sessionPatterns_.count(p.pattern))
                Error("pattern " + std::to_string(p.pattern) + " selected before it was defined");
        } else {
            Error("colour source without a colour");
        }
        return p;
    }

    // ---- Images and raster patterns -----------------------------------
    void BeginImage(const std::map<uint16_t, Value>& a, bool pattern) {
        if (image_.open) Error("an image begins inside another");
        image_ = Image{};
        image_.open = true;
        image_.pattern = pattern;
        image_.mapping = A(a, 0x64) ? static_cast<int>(A(a, 0x64)->I(0)) : 0;
        image_.depth = A(a, 0x62) ? static_cast<int>(A(a, 0x62)->I(0)) : 0;
        image_.width = A(a, 0x6C) ? static_cast<int32_t>(A(a, 0x6C)->I(0)) : 0;
        image_.height = A(a, 0x6B) ? static_cast<int32_t>(A(a, 0x6B)->I(0)) : 0;
        if (const Value* d = A(a, 0x67)) {
            image_.destW = static_cast<int32_t>(d->I(0));
            image_.destH = static_cast<int32_t>(d->I(1));
        }
        image_.rgb = gs_.colourSpace == 2 && image_.mapping == 0;
        if (image_.rgb && image_.depth != 2) Error("direct RGB pixels of fewer than 8 bits");
        if (pattern && A(a, 0x69)) image_.patternId = static_cast<int32_t>(A(a, 0x69)->I(0));
        patternPersistence_ = pattern && A(a, 0x68) ? static_cast<int>(A(a, 0x68)->I(0)) : 0;
        if (image_.depth > 2) Error("unknown colour depth");
        if (image_.mapping > 1) Error("unknown colour mapping");
        const size_t entries = image_.mapping == 1 ? (1u << (image_.depth == 0 ? 1 : image_.depth == 1 ? 4 : 8)) : 0;
        if (image_.mapping == 1 && gs_.palette.size() < entries)
            Error("indexed image with a palette of " + std::to_string(gs_.palette.size()) + " entries for " +
                  std::to_string(entries) + " indices");
        // A source image holds no more samples than the largest sheet has
        // pixels: this driver never sends finer images than it prints.
        if (image_.width <= 0 || image_.height <= 0 ||
            static_cast<int64_t>(image_.width) * image_.height > std::min<int64_t>(100000000, s_.maxPixels)) {
            Error("image size out of range");
            image_.width = image_.height = 0;
        }
        image_.rows.reserve(static_cast<size_t>(std::max(0, image_.width)) * std::max(0, image_.height));
        imageX_ = gs_.cursorX;
        imageY_ = gs_.cursorY;
    }

    void ReadBlock(const std::map<uint16_t, Value>& a, bool pattern) {
        if (!image_.open || image_.pattern != pattern) Error("image data outside its image");
        const int32_t start = A(a, 0x6D) ? static_cast<int32_t>(A(a, 0x6D)->I(0)) : 0;
        const int32_t rows = A(a, 0x63) ? static_cast<int32_t>(A(a, 0x63)->I(0)) : 0;
        const int mode = A(a, 0x65) ? static_cast<int>(A(a, 0x65)->I(0)) : 0;
        const int pad = A(a, 0x6E) ? static_cast<int>(A(a, 0x6E)->I(0)) : 4;
        const auto data = Embedded();
        if (!data || !image_.open) return;
        if (start != image_.rowsRead) Error("StartLine " + std::to_string(start) + " where line " + std::to_string(image_.rowsRead) + " follows");
        if (rows <= 0 || image_.rowsRead + rows > image_.height) {
            Error("block height runs past the image");
            return;
        }
        const int bits = image_.depth == 0 ? 1 : image_.depth == 1 ? 4 : 8;
        // Direct RGB: three samples a pixel, kept as their grey.
        const size_t samples = image_.rgb ? 3 : 1;
        const size_t rowBytes = (static_cast<size_t>(image_.width) * bits * samples + 7) / 8;
        const size_t padded = pad > 0 ? (rowBytes + pad - 1) / pad * pad : rowBytes;
        std::vector<uint8_t> raw;
        if (mode == 0) {
            raw.assign(data->begin(), data->end());
        } else if (mode == 1) {
            if (!DecodeXlRle(*data, raw)) Error("run-length data malformed");
        } else {
            Error("compression mode " + std::to_string(mode) + " is not one this driver writes");
            return;
        }
        if (raw.size() != padded * static_cast<size_t>(rows)) {
            Error("block of " + std::to_string(rows) + " rows holds " + std::to_string(raw.size()) + " bytes, not " +
                  std::to_string(padded * rows));
            raw.resize(padded * static_cast<size_t>(rows), 0);
        }
        // The block's samples, one byte each, written in place.
        const size_t width = static_cast<size_t>(image_.width);
        const size_t at = image_.rows.size();
        image_.rows.resize(at + width * static_cast<size_t>(rows));
        for (int32_t r = 0; r < rows; ++r) {
            const uint8_t* src = raw.data() + static_cast<size_t>(r) * padded;
            uint8_t* dst = image_.rows.data() + at + static_cast<size_t>(r) * width;
            if (image_.rgb && bits == 8) {
                for (size_t x = 0; x < width; ++x, src += 3)
                    dst[x] = static_cast<uint8_t>((5 * src[0] + 9 * src[1] + 2 * src[2]) / 16);
            } else if (bits == 8) {
                std::memcpy(dst, src, width);
            } else {
                for (size_t x = 0; x < width; ++x) {
                    const int shift = 8 - bits - static_cast<int>(x * bits % 8);
                    dst[x] = static_cast<uint8_t>((src[x * bits / 8] >> shift) & ((1 << bits) - 1));
                }
            }
        }
        image_.rowsRead += rows;
    }

    uint8_t Sample(uint8_t v) const {
        if (image_.mapping == 1) return v < gs_.palette.size() ? gs_.palette[v] : 0;
        if (image_.depth == 0) return v ? 255 : 0;
        if (image_.depth == 1) return static_cast<uint8_t>(v * 17);
        return v;
    }

    void EndImage(bool pattern) {
        if (!image_.open || image_.pattern != pattern) {
            Error("end of an image that was not begun");
            return;
        }
        image_.open = false;
        if (image_.rowsRead != image_.height)
            Error("image ends after " + std::to_string(image_.rowsRead) + " of " + std::to_string(image_.height) + " rows");
        if (image_.width <= 0 || image_.height <= 0) return;
        const double scale = std::sqrt(std::fabs(gs_.ctm[0] * gs_.ctm[3]));
        auto size = [](double v) { return static_cast<int32_t>(std::isfinite(v) ? std::clamp(std::round(v), 0.0, 1e8) : 0.0); };
        const int32_t dw = size(image_.destW * std::fabs(gs_.ctm[0]));
        const int32_t dh = size(image_.destH * std::fabs(gs_.ctm[3]));
        if (dw == 0 || dh == 0) return;
        (void)scale;
        // Each sample's grey, and the source column of a painted column,
        // found once for the image rather than at every pixel.
        std::array<uint8_t, 256> grey{};
        for (int v = 0; v < 256; ++v) grey[static_cast<size_t>(v)] = Sample(static_cast<uint8_t>(v));
        auto columns = [&](int32_t from, int32_t to, int32_t width) {
            std::vector<int32_t> column(static_cast<size_t>(std::max(0, to - from)));
            for (int32_t x = from; x < to; ++x)
                column[static_cast<size_t>(x - from)] = static_cast<int32_t>(static_cast<int64_t>(x) * image_.width / width);
            return column;
        };
        if (pattern) {
            Pattern p;
            p.width = std::max(1, std::min(dw, 4096));
            p.height = std::max(1, std::min(dh, 4096));
            // A tile is held whole, so it obeys the sheets' limit.
            if (static_cast<int64_t>(p.width) * p.height > s_.maxPixels) {
                Error("pattern too large to render");
                return;
            }
            p.grey.resize(static_cast<size_t>(p.width) * p.height);
            const std::vector<int32_t> column = columns(0, p.width, p.width);
            for (int32_t y = 0; y < p.height; ++y) {
                const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * image_.height / p.height);
                const uint8_t* src = image_.rows.data() + static_cast<size_t>(sy) * image_.width;
                uint8_t* dst = p.grey.data() + static_cast<size_t>(y) * p.width;
                for (int32_t x = 0; x < p.width; ++x) dst[x] = grey[src[column[static_cast<size_t>(x)]]];
            }
            (patternPersistence_ == 0 || patternPersistence_ == 1 ? pagePatterns_ : sessionPatterns_)[image_.patternId] = std::move(p);
            return;
        }
        const Point o = Map(imageX_, imageY_);
        if (!std::isfinite(o.x) || !std::isfinite(o.y)) return;
        const int32_t ox = static_cast<int32_t>(std::clamp(std::round(o.x), -1e8, 1e8));
        const int32_t oy = static_cast<int32_t>(std::clamp(std::round(o.y), -1e8, 1e8));
        // Only the part on the sheet is painted.
        const int32_t y0 = std::max(0, -oy), y1 = std::min(dh, page_.height - oy);
        const int32_t x0 = std::max(0, -ox), x1 = std::min(dw, page_.width - ox);
        const Tile tile = TileOf(gs_.brush);
        const std::vector<int32_t> column = columns(x0, x1, dw);
        for (int32_t y = y0; y < y1; ++y) {
            const int32_t py = oy + y;
            const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * image_.height / dh);
            const uint8_t* src = image_.rows.data() + static_cast<size_t>(sy) * image_.width;
            const size_t row = static_cast<size_t>(py) * page_.width;
            const uint8_t* clip = gs_.clip ? gs_.clip->data() + row : nullptr;
            uint8_t* dst = page_.grey.data() + row;
            for (int32_t x = x0; x < x1; ++x) {
                const int32_t px = ox + x;
                if (clip && !clip[px]) continue;
                const uint8_t s = grey[src[column[static_cast<size_t>(x - x0)]]];
                if (gs_.sourceTx && s == 255) continue;
                const uint8_t p = gs_.brush.kind == Paint::None ? 0 : PatternValue(gs_.brush, tile, px, py);
                dst[px] = Rop3(dst[px], s, p, gs_.rop);
            }
        }
    }

    // ---- Clips ----------------------------------------------------------
    void ClipTo(const std::vector<SubPath>& paths, bool exterior, bool intersect) {
        auto mask = std::make_shared<Mask>(page_.grey.size(), exterior ? 1 : 0);
        Scan(paths, gs_.clipMode == 1, [&](int32_t y, int32_t xa, int32_t xb) {
            std::fill_n(mask->data() + static_cast<size_t>(y) * page_.width + xa, xb - xa + 1, exterior ? 0 : 1);
        });
        if (intersect && gs_.clip) {
            // Eight pixels at a time: the mask is as large as the sheet.
            uint8_t* m = mask->data();
            const uint8_t* c = gs_.clip->data();
            const size_t n = mask->size();
            size_t i = 0;
            for (; i + 8 <= n; i += 8) {
                uint64_t a, b;
                std::memcpy(&a, m + i, 8);
                std::memcpy(&b, c + i, 8);
                a &= b;
                std::memcpy(m + i, &a, 8);
            }
            for (; i < n; ++i) m[i] &= c[i];
        }
        gs_.clip = mask;
    }

    // ---- Operators -------------------------------------------------------
    void Execute(const OpInfo& op, const std::map<uint16_t, Value>& a, size_t at, int depth) {
        (void)at;
        const bool pageOp = op.code >= 0x60;
        if (pageOp && !pageOpen_) Error(op.name, " outside a page");
        if (!pageOp && op.code != 0x41 && op.code != 0x47 && !sessionOpen_) Error(op.name, " outside a session");
        if (streamOpen_ && op.code != 0x5C && op.code != 0x5D) Error(op.name, " inside a stream definition");
        switch (op.code) {
        case 0x41:
            if (sessionOpen_) Error("BeginSession inside a session");
            sessionOpen_ = true;
            if (const Value* u = A(a, 0x89)) {
                s_.unitsX = static_cast<int32_t>(u->I(0));
                s_.unitsY = static_cast<int32_t>(u->I(1));
            }
            if (A(a, 0x86) && A(a, 0x86)->At(0) != 0) {
                // Units per millimetre or tenth: keep the pixel grid in inches.
                const double f = A(a, 0x86)->At(0) == 1 ? 25.4 : 254;
                s_.unitsX = static_cast<int32_t>(std::lround(s_.unitsX * f));
                s_.unitsY = static_cast<int32_t>(std::lround(s_.unitsY * f));
            }
            if (s_.unitsX <= 0 || s_.unitsY <= 0 || s_.unitsX > 4800 || s_.unitsY > 4800) {
                Error("units per measure out of range");
                s_.unitsX = s_.unitsY = 300;
            }
            break;
        case 0x42:
            if (pageOpen_) Error("EndSession inside a page");
            if (dataSourceOpen_) Error("EndSession with the data source open");
            sessionOpen_ = false;
            break;
        case 0x48:
            if (dataSourceOpen_) Error("OpenDataSource twice");
            if (A(a, 0x82) && A(a, 0x82)->At(0) != 1) Error("data organisation is not low byte first");
            dataSourceOpen_ = true;
            break;
        case 0x49:
            if (!dataSourceOpen_) Error("CloseDataSource without an open one");
            dataSourceOpen_ = false;
            break;
        case 0x43:
            BeginPage(a);
            placing_ = true;
            break;
        case 0x44:
            if (!pageOpen_) break;
            if (image_.open) Error("page ends inside an image");
            pageOpen_ = false;
            if (const Value* c = A(a, 0x31); c && c->At(0) < 1) Error("PageCopies 0");
            if (s_.pages.size() < maxPages_) s_.pages.push_back(std::move(page_));
            page_ = GreyPage{};
            break;
        case 0x5B:
            if (streamOpen_) Error("BeginStream inside a stream");
            streamOpen_ = true;
            streamName_ = A(a, 0x8B) ? std::string(A(a, 0x8B)->bytes.begin(), A(a, 0x8B)->bytes.end()) : "";
            streamBytes_.clear();
            break;
        case 0x5C:
            if (const auto d = Embedded()) {
                if (!streamOpen_) Error("ReadStream outside a stream");
                if (A(a, 0x8C) && static_cast<size_t>(A(a, 0x8C)->I(0)) != d->size())
                    Error("StreamDataLength differs from the data length");
                streamBytes_.insert(streamBytes_.end(), d->begin(), d->end());
            }
            break;
        case 0x5D:
            if (!streamOpen_) Error("EndStream outside a stream");
            streamOpen_ = false;
            streams_[streamName_] = streamBytes_;
            break;
        case 0x5E: {
            const std::string name = A(a, 0x8B) ? std::string(A(a, 0x8B)->bytes.begin(), A(a, 0x8B)->bytes.end()) : "";
            auto it = streams_.find(name);
            if (it == streams_.end()) {
                s_.notes.push_back("ExecStream of \"" + name + "\", which the session does not define (the printer may hold it)");
                break;
            }
            if (depth >= 4) {
                Error("streams nested too deeply");
                break;
            }
            if (it->second.size() > streamBudget_) {
                if (streamBudget_ != 0) Error("streams replay more than sixteen times the job: the rest are not run");
                streamBudget_ = 0;
                break;
            }
            streamBudget_ -= it->second.size();
            Nested(it->second, depth + 1);
            break;
        }
        case 0x5F: streams_.erase(A(a, 0x8B) ? std::string(A(a, 0x8B)->bytes.begin(), A(a, 0x8B)->bytes.end()) : ""); break;
        case 0x60:
            if (stack_.empty()) Error("PopGS without a PushGS");
            else {
                gs_ = stack_.back();
                stack_.pop_back();
            }
            break;
        case 0x61:
            placing_ = false;
            if (stack_.size() > 32) Error("graphics state stack too deep");
            else stack_.push_back(gs_);
            break;
        case 0x62:
        case 0x67:
            if (path_.empty()) Error(std::string(op.name) + " without a path");
            ClipTo(path_, A(a, 0x53) && A(a, 0x53)->At(0) == 1, op.code == 0x67);
            break;
        case 0x68: {
            const Value* box = A(a, 0x42);
            if (!box) break;
            auto saved = path_;
            path_.clear();
            AddRectangle(*box);
            ClipTo(path_, A(a, 0x53) && A(a, 0x53)->At(0) == 1, true);
            path_ = saved;
            break;
        }
        case 0x69: gs_.clip.reset(); break;
        case 0x63: gs_.brush = Source(a, 0x04); break;
        case 0x79: gs_.pen = Source(a, 0x05); break;
        case 0x6A:
            if (const Value* cs = A(a, 0x03)) {
                if (cs->At(0) < 1 || cs->At(0) > 2) Error("unknown colour space");
                gs_.colourSpace = static_cast<uint8_t>(cs->I(0));
            }
            gs_.palette.clear();
            if (const Value* pd = A(a, 0x06)) {
                if (!A(a, 0x02)) Error("PaletteData without PaletteDepth");
                if (gs_.colourSpace == 1) {
                    gs_.palette = pd->bytes;
                } else {
                    if (pd->bytes.size() % 3) Error("RGB palette not a whole number of entries");
                    for (size_t i = 0; i + 2 < pd->bytes.size(); i += 3)
                        gs_.palette.push_back(static_cast<uint8_t>((5 * pd->bytes[i] + 9 * pd->bytes[i + 1] + 2 * pd->bytes[i + 2]) / 16));
                }
            }
            break;
        case 0x6B:
            if (const Value* p = A(a, 0x4C)) {
                gs_.cursorX = p->At(0);
                gs_.cursorY = p->At(1);
                cursorSet_ = true;
                path_.push_back({{Map(gs_.cursorX, gs_.cursorY)}, false});
            }
            break;
        case 0x6E: gs_.fillMode = A(a, 0x46) ? static_cast<uint8_t>(A(a, 0x46)->I(0)) : 0; break;
        case 0x7F: gs_.clipMode = A(a, 0x54) ? static_cast<uint8_t>(A(a, 0x54)->I(0)) : 0; break;
        case 0x70:
            if (A(a, 0x4A) && A(a, 0x4E)) Error("SetLineDash with both a dash and SolidLine");
            if (A(a, 0x4A) && A(a, 0x4A)->n.size() > 20) Error("LineDashStyle of more than 20 entries");
            gs_.dash = A(a, 0x4A) ? A(a, 0x4A)->n : std::vector<double>{};
            break;
        case 0x71: gs_.cap = A(a, 0x47) ? static_cast<uint8_t>(A(a, 0x47)->I(0)) : 0; break;
        case 0x72: gs_.join = A(a, 0x48) ? static_cast<uint8_t>(A(a, 0x48)->I(0)) : 0; break;
        case 0x73: gs_.miterLimit = A(a, 0x49) ? std::max(1.0, A(a, 0x49)->At(0)) : 10; break;
        case 0x74:
            gs_.ctm = {1, 0, 0, 1, 0, 0};
            placing_ = true;
            break;
        case 0x75:
            if (const Value* o = A(a, 0x2A)) {
                const Point p = Map(o->At(0), o->At(1));
                gs_.ctm[4] = p.x;
                gs_.ctm[5] = p.y;
            }
            break;
        case 0x77:
            if (const Value* s = A(a, 0x2B)) {
                if (s->At(0) <= 0 || s->At(1) <= 0) Error("page scale not positive");
                gs_.ctm[0] *= s->At(0);
                gs_.ctm[1] *= s->At(0);
                gs_.ctm[2] *= s->At(1);
                gs_.ctm[3] *= s->At(1);
                // The scale after the page's default CTM places a page on
                // its sheet; a later one (a stroke's half-pixel shift) does not.
                if (placing_) s_.placements.push_back({s_.pages.size(), gs_.ctm[4], gs_.ctm[5], gs_.ctm[0], gs_.ctm[3]});
                placing_ = false;
            } else {
                Error("SetPageScale without PageScale");
            }
            break;
        case 0x78: gs_.paintTx = A(a, 0x2D) ? static_cast<uint8_t>(A(a, 0x2D)->I(0)) : 0; break;
        case 0x7C: gs_.sourceTx = A(a, 0x2D) ? static_cast<uint8_t>(A(a, 0x2D)->I(0)) : 0; break;
        case 0x7A: gs_.penWidth = A(a, 0x4B) ? A(a, 0x4B)->At(0) : 1; break;
        case 0x7B: gs_.rop = A(a, 0x2C) ? static_cast<uint8_t>(A(a, 0x2C)->I(0)) : 252; break;
        case 0x84:
            if (path_.empty()) Error("CloseSubPath without a path");
            else {
                path_.back().closed = true;
                const Point first = path_.back().points.front();
                path_.push_back({{first}, false});
            }
            break;
        case 0x85:
            path_.clear();
            break;
        case 0x86:
            PaintCurrentPath();
            break;
        case 0x93:
        case 0x9B:
        case 0x9D: Points(op, a); break;
        case 0xA0:
        case 0xA1:
            if (const Value* box = A(a, 0x42)) {
                if (op.code == 0xA0) path_.clear();
                AddRectangle(*box);
                if (op.code == 0xA0) {
                    PaintCurrentPath();
                    path_.clear();
                }
            }
            break;
        case 0xB0:
        case 0xB3: BeginImage(a, op.code == 0xB3); break;
        case 0xB1:
        case 0xB4: ReadBlock(a, op.code == 0xB4); break;
        case 0xB2:
        case 0xB5: EndImage(op.code == 0xB5); break;
        case 0x4F:
            headerFont_ = Name(a);
            headerBytes_.clear();
            break;
        case 0x50:
            if (auto d = Embedded()) headerBytes_.insert(headerBytes_.end(), d->begin(), d->end());
            break;
        case 0x51: EndFontHeader(); break;
        case 0x52: charFont_ = Name(a); break;
        case 0x53:
            if (auto d = Embedded()) ReadChar(A(a, 0xA2) ? static_cast<uint32_t>(A(a, 0xA2)->I(0)) : 0, *d);
            break;
        case 0x55:
            fonts_.erase(Name(a));
            painter_.Forget(FontKey(Name(a)));
            break;
        case 0x64:
            if (const Value* v = A(a, 0xA1)) charAngle_ = v->At(0);
            break;
        case 0x65:
            if (const Value* v = A(a, 0xA4)) charScaleX_ = v->At(0), charScaleY_ = v->At(1);
            break;
        case 0x66:
            if (const Value* v = A(a, 0xA5)) charSheared_ = v->At(0) != 0 || v->At(1) != 0;
            break;
        case 0x6F:
            currentFont_ = Name(a);
            charSize_ = A(a, 0xA6) ? A(a, 0xA6)->At(0) : 0;
            symbolSet_ = A(a, 0xAA) ? static_cast<uint32_t>(A(a, 0xAA)->I(0)) : 0;
            // A font not downloaded is one of the printer's by its name.
            if (!fonts_.count(currentFont_) && !FindDeviceFace(currentFont_))
                Error("SetFont of font \"" + currentFont_ + "\" that was neither downloaded nor a printer face");
            break;
        case 0xA8: Text(a); break;
        default: break;
        }
    }

    // ---- Downloaded fonts ---------------------------------------------
    std::string Name(const std::map<uint16_t, Value>& a) {
        const Value* v = A(a, 0xA8);
        return v ? std::string(v->bytes.begin(), v->bytes.end()) : std::string();
    }

    uint32_t FontKey(const std::string& name) {
        auto [it, added] = fontKeys_.emplace(name, static_cast<uint32_t>(fontKeys_.size()));
        return it->second;
    }

    static uint16_t Be16(std::span<const uint8_t> d, size_t at) {
        return at + 2 <= d.size() ? static_cast<uint16_t>(d[at] << 8 | d[at + 1]) : 0;
    }

    void EndFontHeader() {
        const std::span<const uint8_t> d(headerBytes_);
        if (d.size() < 8) return Error("font header shorter than 8 bytes");
        SoftFont font;
        const uint8_t technology = d[4];
        if (technology == 254) {
            font.format = 20;
        } else if (technology == 1) {
            font.format = 15;
            size_t at = 8;
            bool ended = false;
            while (at + 6 <= d.size()) {
                const uint16_t id = Be16(d, at);
                const uint32_t length = uint32_t{Be16(d, at + 2)} << 16 | Be16(d, at + 4);
                at += 6;
                if (id == 0xFFFF) {
                    ended = true;
                    break;
                }
                if (length > d.size() - at) return Error("font segment longer than the header");
                if (id == ('G' << 8 | 'T')) font.globals.assign(d.begin() + static_cast<ptrdiff_t>(at), d.begin() + static_cast<ptrdiff_t>(at + length));
                at += length;
            }
            if (!ended || at != d.size()) Error("font header does not end with its null segment");
        } else {
            return Error("font scaling technology " + std::to_string(technology));
        }
        fonts_[headerFont_] = std::move(font);
        painter_.Forget(FontKey(headerFont_));
    }

    void ReadChar(uint32_t code, std::span<const uint8_t> d) {
        auto it = fonts_.find(charFont_);
        if (it == fonts_.end()) return Error("character for font \"" + charFont_ + "\" that was not downloaded");
        SoftFont& font = it->second;
        ++font.glyphDownloads;
        if (font.format == 20) {
            if (d.size() < 10 || d[0] != 0) return Error("bitmap character header");
            SoftFont::Bitmap b;
            b.left = static_cast<int16_t>(Be16(d, 2));
            b.top = static_cast<int16_t>(Be16(d, 4));
            b.width = Be16(d, 6);
            b.height = Be16(d, 8);
            b.rows.assign(d.begin() + 10, d.end());
            if (b.rows.size() != (static_cast<size_t>(b.width) + 7) / 8 * b.height) Error("bitmap character data size");
            if (font.bitmaps.count(code)) Error("character " + std::to_string(code) + " sent twice");
            font.bitmaps[code] = std::move(b);
            return;
        }
        if (d.size() < 6 || d[0] != 1 || d[1] > 1) return Error("TrueType character header");
        const size_t head = d[1] == 1 ? 10 : 6;
        if (Be16(d, 2) + size_t{2} != d.size()) Error("TrueType character size differs from its data");
        if (d.size() < head) return Error("TrueType character header");
        const uint16_t glyph = Be16(d, head - 2);
        if (code != 65535) {
            if (font.codeToGlyph.count(code)) Error("character " + std::to_string(code) + " sent twice");
            font.codeToGlyph[code] = glyph;
        }
        font.glyphs[glyph].assign(d.begin() + static_cast<ptrdiff_t>(head), d.end());
        painter_.Forget(FontKey(charFont_));
    }

    void Text(const std::map<uint16_t, Value>& a) {
        const Value* text = A(a, 0xAB);
        auto it = fonts_.find(currentFont_);
        if (text && it == fonts_.end()) {
            if (const DeviceFaceRow* face = FindDeviceFace(currentFont_)) return DeviceText(*face, *text, a);
        }
        if (!text || it == fonts_.end()) return Error("Text without a font");
        const SoftFont& font = it->second;
        const Value* dx = A(a, 0xAF);
        const Value* dy = A(a, 0xB0);
        const size_t count = text->n.size();
        // A bitmap font prints as it was sent: a printer refuses its
        // characters under a character scale, shear or angle.
        if (font.format == 20 && (charAngle_ != 0 || charScaleX_ != 1 || charScaleY_ != 1 || charSheared_))
            Error("text in a bitmap font under a character scale, shear or angle");
        for (size_t i = 0; i < count; ++i) {
            const auto code = static_cast<uint32_t>(text->I(i));
            const Point at = Map(gs_.cursorX, gs_.cursorY);
            const auto x = static_cast<int32_t>(std::lround(at.x)), y = static_cast<int32_t>(std::lround(at.y));
            auto pixel = [&](int32_t px, int32_t py) { Put(px, py, gs_.brush); };
            if (font.format == 20) {
                auto b = font.bitmaps.find(code);
                if (b == font.bitmaps.end()) Error("character " + std::to_string(code) + " printed but not sent");
                else DrawBitmapChar(b->second, x, y, pixel);
            } else if (auto g = font.codeToGlyph.find(code); g == font.codeToGlyph.end()) {
                Error("character " + std::to_string(code) + " printed but not sent");
            } else {
                // An outline character: drawn from the rebuilt font, judged
                // by the text tolerance (its run is the job's one glyph).
                const double em = charSize_ * charScaleY_ * std::hypot(gs_.ctm[2], gs_.ctm[3]);
                TextGlyph box = StartGlyph(at);
                const std::string fault = painter_.Draw(FontKey(currentFont_), font, g->second, em, x, y,
                                                        [&](int32_t px, int32_t py) {
                                                            pixel(px, py);
                                                            Grow(box, px, py);
                                                        },
                                                        charAngle_);
                if (!fault.empty()) Error(fault);
                if (box.right > box.left) page_.textGlyphs.push_back(box);
            }
            gs_.cursorX += dx ? dx->At(i) : 0;
            gs_.cursorY += dy ? dy->At(i) : 0;
        }
    }

    static TextGlyph StartGlyph(const Point& runStart) {
        return {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, static_cast<int32_t>(std::lround(runStart.x)),
                static_cast<int32_t>(std::lround(runStart.y)), 0};
    }
    static void Grow(TextGlyph& g, int32_t x, int32_t y) {
        g.left = std::min(g.left, x), g.top = std::min(g.top, y);
        g.right = std::max(g.right, x + 1), g.bottom = std::max(g.bottom, y + 1);
    }

    // Text in a printer face: each code through the symbol set to its
    // character, drawn from the face's source font at the character size
    // the scale gives; the job spaces the characters.
    void DeviceText(const DeviceFaceRow& face, const Value& text, const std::map<uint16_t, Value>& a) {
        const Value* dx = A(a, 0xAF);
        const Value* dy = A(a, 0xB0);
        const double em = charSize_ * charScaleY_ * std::hypot(gs_.ctm[2], gs_.ctm[3]);
        const Point start = Map(gs_.cursorX, gs_.cursorY);
        for (size_t i = 0; i < text.n.size(); ++i) {
            const auto code = static_cast<uint8_t>(text.I(i));
            const char32_t ch = face.symbolSet == "-" ? SymbolSetCharacter(symbolSet_, code) : code;
            const Point at = Map(gs_.cursorX, gs_.cursorY);
            if (!ch) {
                Error("code " + std::to_string(code) + " has no character in symbol set " + std::to_string(symbolSet_));
            } else {
                std::string fault;
                TextGlyph g = StartGlyph(start);
                devicePainter_.Draw(face, ch, em, static_cast<int32_t>(std::lround(at.x)),
                                    static_cast<int32_t>(std::lround(at.y)), [&](int32_t px, int32_t py) {
                                        Put(px, py, gs_.brush);
                                        Grow(g, px, py);
                                    },
                                    fault, charAngle_);
                if (!fault.empty()) Error(fault);
                if (g.right > g.left) page_.textGlyphs.push_back(g);
            }
            gs_.cursorX += dx ? dx->At(i) : 0;
            gs_.cursorY += dy ? dy->At(i) : 0;
        }
    }

    // A stream held in the session: its own header, then operators. It runs
    // from its own copy, since it may redefine or remove itself as it runs.
    void Nested(const std::vector<uint8_t> bytes, int depth) {
        const auto saveIn = in_;
        const size_t savePos = pos_;
        in_ = bytes;
        pos_ = 0;
        if (!bytes.empty() && bytes[0] == ')') {
            while (pos_ < in_.size() && in_[pos_] != '\n') ++pos_;
            if (pos_ < in_.size()) ++pos_;
        }
        Body(depth);
        in_ = saveIn;
        pos_ = savePos;
    }

    size_t base_, maxPages_;
    size_t streamBudget_ = 0;  // bytes streams may still replay
    int64_t paintBudget_ = 0;  // points paths may still paint
    bool paintSpent_ = false;
    size_t reported_ = 0, unreported_ = 0;
    std::array<size_t, 256> opCounts_{};  // by operator code, named at the end
    XlSession& s_;
    std::vector<std::string>& errors_;
    std::span<const uint8_t> in_;
    size_t pos_ = 0;
    bool sessionOpen_ = false, dataSourceOpen_ = false, pageOpen_ = false, landscape_ = false, cursorSet_ = false;
    bool placing_ = false;  // SetPageDefaultCTM seen, the page not yet scaled
    bool streamOpen_ = false;
    std::string streamName_;
    std::vector<uint8_t> streamBytes_;
    std::map<std::string, std::vector<uint8_t>> streams_;
    GreyPage page_;
    Gs gs_;
    std::vector<Gs> stack_;
    std::vector<SubPath> path_;
    Image image_;
    double imageX_ = 0, imageY_ = 0;
    int patternPersistence_ = 0;
    std::map<int32_t, Pattern> pagePatterns_, sessionPatterns_;
    std::vector<uint8_t> strokeMark_;  // pixels of the stroke being painted
    // Fonts downloaded in the session, by name.
    std::map<std::string, SoftFont> fonts_;
    std::map<std::string, uint32_t> fontKeys_;
    std::string headerFont_, charFont_, currentFont_;
    std::vector<uint8_t> headerBytes_;
    double charSize_ = 0;
    GlyphPainter painter_;
    DeviceFacePainter devicePainter_;
    double charScaleX_ = 1, charScaleY_ = 1;
    bool charSheared_ = false;
    double charAngle_ = 0;  // degrees
    uint32_t symbolSet_ = 0;
};

}  // namespace

size_t ReadXl(std::span<const uint8_t> bytes, size_t baseOffset, size_t maxPages, XlSession& session,
              std::vector<std::string>& errors) {
    session.present = true;
    XlReader reader(baseOffset, maxPages, session, errors);
    return reader.Run(bytes);
}

}  // namespace pclread
