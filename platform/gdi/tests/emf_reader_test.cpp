// The metafile reader: typed records out of what the writer produced, and a
// clear error (never a crash) for every kind of damage.
#include <gtest/gtest.h>

#include <cstring>

#include "gdi/emf.h"
#include "gdi/emf_writer.h"

namespace zq::emf {
namespace {

std::vector<uint8_t> SampleFile() {
    Writer w(850, 1100, 100);
    w.Value(Rt::SetMapMode, 1);
    const POINTL tri[] = {{10, 10}, {100, 10}, {55, 90}};
    w.Poly(Rt::Polygon, tri);
    w.Poly16(Rt::Polyline16, tri);
    const uint32_t counts[] = {2, 3};
    const POINTL five[] = {{0, 0}, {5, 5}, {1, 1}, {2, 2}, {3, 3}};
    w.PolyPoly(Rt::PolyPolygon, counts, five);
    w.CreateFont(1, MakeLogFont(u"Liberation Serif", -24));
    const int32_t dx[] = {10, 11, 12};
    w.ExtTextOutW({40, 50}, u"abc", 0, {}, dx);
    const uint32_t px[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    w.StretchDIBits({0, 0, 20, 20}, 2, 2, px);
    const RECTL clip[] = {{0, 0, 10, 10}, {20, 20, 30, 30}};
    w.ClipRects(5, clip);
    const uint8_t odd[] = {1, 2, 3, 4};
    w.Raw(999, odd);
    w.Raw(999, odd);
    return w.Finish();
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

// Offset of the n-th record after the header.
size_t RecordAt(const std::vector<uint8_t>& b, int n) {
    size_t pos = 0;
    for (int i = 0; i <= n; ++i) {
        uint32_t size;
        std::memcpy(&size, b.data() + pos + 4, 4);
        pos += size;
    }
    return pos;
}

TEST(EmfReader, ReadsWhatTheWriterWrote) {
    auto bytes = SampleFile();
    auto r = ParseEmf(bytes);
    ASSERT_TRUE(r.document) << r.error;
    const Document& d = *r.document;
    EXPECT_EQ(d.header.device.cx, 850);
    EXPECT_EQ(d.header.bytes, bytes.size());
    ASSERT_EQ(d.records.size(), 9u);  // 8 known + end; the two unknowns are counted
    EXPECT_EQ(d.skipped.at(999), 2u);
    EXPECT_EQ(d.SkippedCount(), 2u);

    auto& poly = std::get<Poly>(d.records[1]);
    EXPECT_EQ(poly.type, Rt::Polygon);
    ASSERT_EQ(poly.points.size(), 3u);
    EXPECT_EQ(poly.points[2].x, 55);
    EXPECT_EQ(poly.bounds.right, 100);
    auto& p16 = std::get<Poly>(d.records[2]);
    EXPECT_EQ(p16.points[1].y, 10);
    auto& pp = std::get<PolyPoly>(d.records[3]);
    EXPECT_EQ(pp.counts, (std::vector<uint32_t>{2, 3}));
    auto& font = std::get<CreateFont>(d.records[4]);
    EXPECT_EQ(font.font.lfHeight, -24);
    EXPECT_EQ(std::u16string(font.font.lfFaceName), u"Liberation Serif");
    auto& text = std::get<TextOut>(d.records[5]);
    EXPECT_EQ(text.text, u"abc");
    EXPECT_EQ(text.dx, (std::vector<int32_t>{10, 11, 12}));
    EXPECT_EQ(text.reference.y, 50);
    auto& img = std::get<StretchDib>(d.records[6]);
    EXPECT_EQ(img.dib.width, 2);
    EXPECT_EQ(img.dib.Pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(img.dib.Pixel(1, 1), 0xFFFFFFu);
    auto& clip = std::get<Region>(d.records[7]);
    ASSERT_EQ(clip.rects.size(), 2u);
    EXPECT_EQ(clip.rects[1].left, 20);
}

// Damage to the file's frame (header, record sizes, the end) refuses the
// file; damage inside one record (its points, text, bitmap, region) refuses
// that record alone, with the same clear words, and the rest is read.
TEST(EmfReader, DamageGivesAClearError) {
    struct Case {
        const char* name;
        void (*damage)(std::vector<uint8_t>&);
        const char* expect;
        bool wholeFile;
    };
    const Case cases[] = {
        {"truncated header", [](auto& b) { b.resize(40); }, "too short", true},
        {"no signature", [](auto& b) { Put32(b, 40, 0); }, "signature", true},
        {"record past end", [](auto& b) { Put32(b, RecordAt(b, 0) + 4, 0x10000); }, "past the end", true},
        {"record size zero", [](auto& b) { Put32(b, RecordAt(b, 0) + 4, 0); }, "invalid size", true},
        {"unaligned size", [](auto& b) { Put32(b, RecordAt(b, 0) + 4, 13); }, "invalid size", true},
        {"point count too big", [](auto& b) { Put32(b, RecordAt(b, 1) + 24, 0x40000000); }, "point", false},
        {"poly-poly sum wrong", [](auto& b) { Put32(b, RecordAt(b, 3) + 32, 3); }, "add up", false},
        {"text offset outside", [](auto& b) { Put32(b, RecordAt(b, 5) + 48, 0xFFFFFFF0); }, "text", false},
        {"bitmap bits short", [](auto& b) { Put32(b, RecordAt(b, 6) + 60, 4); }, "bitmap", false},
        {"bitmap huge", [](auto& b) { Put32(b, RecordAt(b, 6) + 80 + 4, 0x7FFFFFFF); }, "bitmap", false},
        {"region count", [](auto& b) { Put32(b, RecordAt(b, 7) + 16 + 8, 1000); }, "region", false},
        {"no end record", [](auto& b) { b.resize(b.size() - 20); }, "end-of-file", true},
        {"cut inside record", [](auto& b) { b.resize(b.size() - 6); }, "past the end", true},
        {"cut in record head", [](auto& b) { b.resize(b.size() - 16); }, "cut off", true},
    };
    const auto whole = ParseEmf(SampleFile());
    ASSERT_TRUE(whole.document);
    for (const Case& c : cases) {
        auto bytes = SampleFile();
        c.damage(bytes);
        auto r = ParseEmf(bytes);
        if (c.wholeFile) {
            EXPECT_FALSE(r.document) << c.name;
            EXPECT_NE(r.error.find(c.expect), std::string::npos) << c.name << ": " << r.error;
            EXPECT_NE(r.error.find("damaged enhanced metafile"), std::string::npos) << c.name;
            continue;
        }
        ASSERT_TRUE(r.document) << c.name << ": " << r.error;
        ASSERT_EQ(r.document->refused.size(), 1u) << c.name;
        EXPECT_NE(r.document->refused[0].find(c.expect), std::string::npos) << c.name << ": " << r.document->refused[0];
        EXPECT_EQ(r.document->records.size() + 1, whole.document->records.size()) << c.name << ": the others stand";
    }
}

TEST(EmfReader, DibChecksItsTables) {
    // 1-bit, 2 x 2, palette of two entries.
    std::vector<uint8_t> info(40 + 8, 0);
    Put32(info, 0, 40);
    Put32(info, 4, 2);
    Put32(info, 8, 2);
    info[12] = 1;
    info[14] = 1;
    Put32(info, 40, 0x000000);
    Put32(info, 44, 0xFFFFFF);
    std::vector<uint8_t> bits = {0x80, 0, 0, 0, 0x40, 0, 0, 0};  // bottom row: x=0 set; top row: x=1
    auto dib = ParseDib(info, bits);
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->Pixel(1, 0), 0xFFFFFFu);
    EXPECT_EQ(dib->Pixel(0, 0), 0u);
    EXPECT_EQ(dib->Pixel(0, 1), 0xFFFFFFu);
    EXPECT_EQ(dib->Pixel(5, 5), 0u);  // outside: no read

    std::string why;
    bits.resize(7);
    EXPECT_FALSE(ParseDib(info, bits, &why));
    EXPECT_NE(why.find("shorter"), std::string::npos);
    bits.resize(8);
    info[14] = 3;  // 3 bits per pixel
    EXPECT_FALSE(ParseDib(info, bits, &why));
    info[14] = 1;
    Put32(info, 16, 1);  // BI_RLE8
    EXPECT_FALSE(ParseDib(info, bits, &why));
    EXPECT_NE(why.find("compressed"), std::string::npos);
}

}  // namespace
}  // namespace zq::emf
