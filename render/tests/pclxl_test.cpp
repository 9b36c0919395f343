#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <vector>

#include "render/halftone.h"
#include "render/output.h"
#include "render/pclxl.h"
#include "render/tests/capture_sink.h"

namespace pclrend::xl {
namespace {

using Bytes = std::vector<uint8_t>;

// A record open for writing into a capture sink.
struct Open {
    Open() {
        EXPECT_TRUE(AllocateBuffers(r, false));
        r.sink = &sink;
        r.jobState = kJobOpen;
    }
    Bytes Out() {
        SpoolFlush(r);
        return sink.bytes;
    }
    DeviceRecord r;
    CaptureSink sink;
};

struct EncoderCase {
    const char* name;
    std::function<bool(DeviceRecord&)> write;
    Bytes bytes;
};

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

TEST(PclXlEncoders, GoldenBytesOfEveryElement) {
    static const uint16_t u16s[] = {1, 0x1234};
    static const int16_t s16s[] = {-1, 2};
    static const uint32_t u32s[] = {0x00050010, 0xFFFF0003};
    static const uint8_t ubytes[] = {'a', 'b', 'c'};
    static const uint32_t rgb[] = {0xFF102030, 0x00FFFFFF};
    const std::vector<EncoderCase> cases = {
        {"operator", [](auto& r) { return XlOperator(r, Op::BeginSession); }, {0x41}},
        {"ubyte", [](auto& r) { return XlAttrUByte(r, Attr::ColorSpace, 1); }, {0xC0, 0x01, 0xF8, 0x03}},
        {"enum", [](auto& r) { return XlAttrEnum(r, Attr::Measure, Measure::Inch); }, {0xC0, 0x00, 0xF8, 0x86}},
        {"uint16", [](auto& r) { return XlAttrUInt16(r, Attr::PageCopies, 0x0102); }, {0xC1, 0x02, 0x01, 0xF8, 0x31}},
        {"sint16 -1", [](auto& r) { return XlAttrSInt16(r, Attr::PatternDefineID, -1); }, {0xC3, 0xFF, 0xFF, 0xF8, 0x69}},
        {"real32 1.0", [](auto& r) { return XlAttrReal32(r, Attr::CharBoldValue, 1.0f); },
         {0xC5, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0xB1}},
        {"uint16 xy", [](auto& r) { return XlAttrUInt16XY(r, Attr::UnitsPerMeasure, 600, 1200); },
         {0xD1, 0x58, 0x02, 0xB0, 0x04, 0xF8, 0x89}},
        {"sint16 xy", [](auto& r) { return XlAttrSInt16XY(r, Attr::PageOrigin, -100, 200); },
         {0xD3, 0x9C, 0xFF, 0xC8, 0x00, 0xF8, 0x2A}},
        {"real32 xy", [](auto& r) { return XlAttrReal32XY(r, Attr::PageScale, 0.5f, 2.0f); },
         {0xD5, 0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x40, 0xF8, 0x2B}},
        {"uint16 box", [](auto& r) { return XlAttrUInt16Box(r, Attr::BoundingBox, 1, 2, 0x300, 4); },
         {0xE1, 0x01, 0x00, 0x02, 0x00, 0x00, 0x03, 0x04, 0x00, 0xF8, 0x42}},
        {"sint16 box", [](auto& r) { return XlAttrSInt16Box(r, Attr::BoundingBox, -1, 2, 3, -4); },
         {0xE3, 0xFF, 0xFF, 0x02, 0x00, 0x03, 0x00, 0xFC, 0xFF, 0xF8, 0x42}},
        {"ubyte array", [](auto& r) { return XlAttrUByteArray(r, Attr::CommentData, ubytes); },
         {0xC8, 0xC0, 0x03, 'a', 'b', 'c', 0xF8, 0x81}},
        {"empty array", [](auto& r) { return XlAttrUByteArray(r, Attr::StreamName, {}); }, {0xC8, 0xC0, 0x00, 0xF8, 0x8B}},
        {"uint16 array", [](auto& r) { return XlAttrUInt16Array(r, Attr::TextData, u16s); },
         {0xC9, 0xC0, 0x02, 0x01, 0x00, 0x34, 0x12, 0xF8, 0xAB}},
        {"uint16 array of 32-bit values", [](auto& r) { return XlAttrUInt16ArrayOf32(r, Attr::LineDashStyle, u32s); },
         {0xC9, 0xC0, 0x02, 0x10, 0x00, 0x03, 0x00, 0xF8, 0x4A}},
        {"sint16 array", [](auto& r) { return XlAttrSInt16Array(r, Attr::XSpacingData, s16s); },
         {0xCB, 0xC0, 0x02, 0xFF, 0xFF, 0x02, 0x00, 0xF8, 0xAF}},
        {"rgb array", [](auto& r) { return XlAttrRgbArray(r, Attr::PaletteData, rgb); },
         {0xC8, 0xC0, 0x06, 0x30, 0x20, 0x10, 0xFF, 0xFF, 0xFF, 0xF8, 0x06}},
        {"data length", [](auto& r) { return XlDataLength(r, 0x01020304); }, {0xFA, 0x04, 0x03, 0x02, 0x01}},
        {"data length in a byte", [](auto& r) { return XlDataLengthByte(r, 200); }, {0xFB, 200}},
        {"relative line operator", [](auto& r) { return XlOperator(r, Op::LineRelPath); }, {0x9D}},
        {"raw point", [](auto& r) { return XlRawPoint(r, -2, 0x0203); }, {0xFE, 0xFF, 0x03, 0x02}},
    };
    for (const auto& c : cases) {
        Open o;
        EXPECT_TRUE(c.write(o.r)) << c.name;
        EXPECT_EQ(o.Out(), c.bytes) << c.name;
    }
}

TEST(PclXlEncoders, ArrayLengthTakesTheWideFormAbove255Bytes) {
    const std::vector<uint8_t> b255(255, 7), b256(256, 7);
    const std::vector<uint32_t> rgb86(86, 0x000000);
    const std::vector<uint16_t> w300(300, 0x0101);
    struct Case {
        const char* name;
        std::function<bool(DeviceRecord&)> write;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"255 elements", [&](auto& r) { return XlAttrUByteArray(r, Attr::PaletteData, b255); },
         Concat(Concat({0xC8, 0xC0, 0xFF}, Repeat(7, 255)), {0xF8, 0x06})},
        {"256 elements", [&](auto& r) { return XlAttrUByteArray(r, Attr::PaletteData, b256); },
         Concat(Concat({0xC8, 0xC1, 0x00, 0x01}, Repeat(7, 256)), {0xF8, 0x06})},
        {"86 rgb entries are 258 bytes", [&](auto& r) { return XlAttrRgbArray(r, Attr::PaletteData, rgb86); },
         Concat(Concat({0xC8, 0xC1, 0x02, 0x01}, Repeat(0, 258)), {0xF8, 0x06})},
        {"300 words", [&](auto& r) { return XlAttrUInt16Array(r, Attr::TextData, w300); },
         Concat(Concat({0xC9, 0xC1, 0x2C, 0x01}, Repeat(1, 600)), {0xF8, 0xAB})},
    };
    for (const auto& c : cases) {
        Open o;
        EXPECT_TRUE(c.write(o.r)) << c.name;
        EXPECT_EQ(o.Out(), c.bytes) << c.name;
    }
}

TEST(PclXlEncoders, GreyPaletteGoesThroughTheToneCurve) {
    // Red, green, blue, white: grey (5r + 9g + 2b) / 16, then the record's curve.
    const uint32_t entries[] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};
    for (int darkness : {0, 4, 8, 12}) {
        Open o;
        o.r.darknessLevel = static_cast<uint8_t>(darkness);
        ASSERT_TRUE(XlAttrGreyArray(o.r, Attr::PaletteData, entries));
        const uint8_t* curve = Halftone().curves[darkness < 9 ? darkness : 4].data();
        EXPECT_EQ(o.Out(), (Bytes{0xC8, 0xC0, 0x04, curve[79], curve[143], curve[31], curve[255], 0xF8, 0x06}))
            << "darkness " << darkness;
    }
}

TEST(PclXlEncoders, NothingIsWrittenOnceTheDocumentIsClosed) {
    Open o;
    o.r.jobState = kJobIdle;
    EXPECT_FALSE(XlOperator(o.r, Op::EndPage));
    EXPECT_FALSE(XlAttrUInt16(o.r, Attr::PageCopies, 1));
    o.r.jobState = kJobOpen;
    EXPECT_TRUE(o.Out().empty());
}

TEST(PclXlEncoders, AFailedWriteInsideAnArrayLosesTheDocument) {
    // The array flushes the full buffer part-way; the sink fails there.
    Open o;
    o.sink.goodPieces = 0;
    o.r.mainFill = kBufferSize - 10;
    const std::vector<uint8_t> data(1000, 1);
    EXPECT_FALSE(XlAttrUByteArray(o.r, Attr::PaletteData, data));
    EXPECT_TRUE(o.r.documentLost);
    EXPECT_FALSE(XlOperator(o.r, Op::EndPage));
}

TEST(PclXlEncoders, StreamHeaderIsFiftyEightBytesEndingInNulAndLineFeed) {
    ASSERT_EQ(kStreamHeader.size(), 58u);
    EXPECT_EQ(kStreamHeader.substr(0, 16), ") HP-PCL XL;1;1;");
    EXPECT_EQ(kStreamHeader.substr(56), std::string_view("\0\n", 2));
}

}  // namespace
}  // namespace pclrend::xl
