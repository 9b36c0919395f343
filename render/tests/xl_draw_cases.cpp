// The PCL XL drawing bodies called as the engine calls them, on a record
// writing into a capture sink: what each edge case sends, read back with the
// test-side reader where the stream must stay well formed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "gdi/ddi.h"
#include "gdi/ddi_path.h"
#include "gdi/engine.h"
#include "pclread/pclread.h"
#include "render/driver.h"
#include "render/output.h"
#include "render/tests/capture_sink.h"
#include "render/tests/xl_capture.h"
#include "render/xl_page.h"

namespace pclrend {
namespace {

using Bytes = std::vector<uint8_t>;

POINTFIX P(LONG x, LONG y) { return {x * 16, y * 16}; }

size_t Count(const Bytes& b, const Bytes& needle) {
    size_t n = 0;
    for (auto it = b.begin(); (it = std::search(it, b.end(), needle.begin(), needle.end())) != b.end(); ++it) ++n;
    return n;
}

class XlDrawTest : public ::testing::Test, protected XlCapture {
protected:
    void SetUp() override {
        r.resolution = 600;
        line.MoveTo(P(10, 10));
        line.LineTo(P(200, 10));
    }
    zq::gdi::Path line;
    BRUSHOBJ black{0x000000, nullptr, 0};
};

const Bytes kClipReplace = {0xC0, 0x00, 0xF8, 0x53, 0x62};

TEST_F(XlDrawTest, NopMixWritesNothing) {
    EXPECT_TRUE(XlFillPath(r, &line, nullptr, &black, 0x0B0B, FP_WINDINGMODE));
    EXPECT_TRUE(XlStrokePath(r, &line, nullptr, &black, nullptr, 0x0B0B));
    EXPECT_TRUE(Out().empty());
}

TEST_F(XlDrawTest, OneRectangularClipServesTwoStrokes) {
    CLIPOBJ clip{};
    clip.iDComplexity = DC_RECT;
    clip.rclBounds = {5, 5, 100, 100};
    ASSERT_TRUE(XlStrokePath(r, &line, &clip, &black, nullptr, 0x0D0D));
    ASSERT_TRUE(XlStrokePath(r, &line, &clip, &black, nullptr, 0x0D0D));
    const Bytes out = Out();
    EXPECT_EQ(Count(out, kClipReplace), 1u);
    EXPECT_EQ(Count(out, {0x86}), 2u) << "two PaintPath";
    clip.rclBounds.right = 101;
    ASSERT_TRUE(XlStrokePath(r, &line, &clip, &black, nullptr, 0x0D0D));
    EXPECT_EQ(Count(Out(), kClipReplace), 1u) << "another rectangle is a new clip";
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, &black, nullptr, 0x0D0D));
    EXPECT_EQ(Count(Out(), {0x69}), 1u) << "no clip: SetClipToPage";
}

TEST_F(XlDrawTest, ComplexClipWithoutIdentityIsSentEveryCall) {
    const RECTL rects[] = {{0, 0, 50, 50}, {60, 60, 90, 90}};
    zq::gdi::EngineClip clip(zq::gdi::Region::FromRects(rects));
    clip.iUniq = 0;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(XlFillPath(r, &line, &clip, &black, 0x0D0D, FP_WINDINGMODE));
    Bytes out = Out();
    EXPECT_EQ(Count(out, kClipReplace), 2u);
    EXPECT_EQ(Count(out, {0xC0, 0x01, 0xF8, 0x54, 0x7F}), 1u) << "even-odd clip mode, once";
    clip.iUniq = 77;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(XlFillPath(r, &line, &clip, &black, 0x0D0D, FP_WINDINGMODE));
    EXPECT_EQ(Count(Out(), kClipReplace), 1u) << "with an identity it is kept";
}

TEST_F(XlDrawTest, AlternateCosmeticLineIsADashOfTwelveAt600Dpi) {
    LINEATTRS alternate{};
    alternate.fl = LA_ALTERNATE;
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, &black, &alternate, 0x0D0D));
    EXPECT_EQ(Count(Out(), {0xC9, 0xC0, 0x02, 0x0C, 0x00, 0x0C, 0x00, 0xF8, 0x4A, 0x70}), 1u);
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, &black, &alternate, 0x0D0D));
    EXPECT_EQ(Count(Out(), {0x70}), 0u) << "the dash in force is not sent again";
    LINEATTRS solid{};
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, &black, &solid, 0x0D0D));
    EXPECT_EQ(Count(Out(), {0xC0, 0x00, 0xF8, 0x4E, 0x70}), 1u) << "SolidLine";
}

TEST_F(XlDrawTest, PointsBeyondTheSignedRangeAreCutNotWrapped) {
    zq::gdi::Path far;
    far.MoveTo(P(10, 10));
    far.LineTo(P(40000, 10));
    far.LineTo(P(10, -40000));
    ASSERT_TRUE(XlFillPath(r, &far, nullptr, &black, 0x0D0D, FP_WINDINGMODE));
    const Bytes out = Out();
    EXPECT_EQ(Count(out, {0xFF, 0x7F, 0x0A, 0x00}), 1u) << "x cut to 32767";
    EXPECT_EQ(Count(out, {0x0A, 0x00, 0x01, 0x80}), 1u) << "y cut to -32767";
}

TEST_F(XlDrawTest, ALargeImageGoesInBlocksWithContinuousLines) {
    const SIZEL size{200, 400};
    HBITMAP bitmap = EngCreateBitmap(size, 200, BMF_8BPP, BMF_TOPDOWN, nullptr);
    ASSERT_TRUE(bitmap);
    SURFOBJ* so = EngLockSurface(reinterpret_cast<HSURF>(bitmap));
    ASSERT_TRUE(so);
    for (LONG y = 0; y < 400; ++y)
        for (LONG x = 0; x < 200; ++x) static_cast<uint8_t*>(so->pvScan0)[y * so->lDelta + x] = static_cast<uint8_t>(x);
    const RECTL dest{100, 100, 300, 500};
    const RECTL src{0, 0, 200, 400};
    r.darknessLevel = 4;
    // A document around the blit so that the reader sees a whole page.
    DeviceRecord& d = r;
    d.xl = XlState{};
    d.jobFlags = 0;
    d.stamp = kStampPortrait;
    d.paperSource = 1;
    d.geometry.paperCodeAsked = d.geometry.paperCodeUsed = 1;
    d.geometry.width = d.geometry.usedWidth = 5100;
    d.geometry.length = d.geometry.usedLength = 6600;
    d.pageCount = d.sheetPages = 1;
    XlSessionStart(d);
    XlPagePart(d);
    ASSERT_TRUE(XlBitBlt(d, so, nullptr, nullptr, nullptr, dest, &src, nullptr, 0xCCCC));
    XlPageEnd(d);
    XlSessionEnd(d);
    SpoolFlush(d);
    const pclread::Job job = pclread::Read(sink.bytes);
    std::string errors;
    for (const auto& e : job.errors) errors += e + "\n";
    EXPECT_TRUE(job.Ok()) << errors;
    EXPECT_EQ(job.xl.operatorCounts.at("ReadImage"), 3u) << "150 + 150 + 100 rows of 200 bytes";
    ASSERT_EQ(job.xl.pages.size(), 1u);
    // No margins here: the page's (100, 100) is the sheet's.
    EXPECT_LT(job.xl.pages[0].At(100, 400), 64) << "index 0 at the image's left prints black";
    EXPECT_GT(job.xl.pages[0].At(299, 400), 192) << "other indices print white without a translation";
    EXPECT_GT(job.xl.pages[0].At(300, 400), 192) << "the image ends at its destination";
    EngUnlockSurface(so);
    EngDeleteSurface(reinterpret_cast<HSURF>(bitmap));
}

TEST_F(XlDrawTest, CompressedSourcesAreRefusedWithError2000) {
    SURFOBJ rle{};
    rle.iType = STYPE_BITMAP;
    rle.iBitmapFormat = BMF_8RLE;
    rle.sizlBitmap = {10, 10};
    const RECTL dest{0, 0, 10, 10};
    SetLastError(0);
    EXPECT_FALSE(XlBitBlt(r, &rle, nullptr, nullptr, nullptr, dest, nullptr, nullptr, 0xCCCC));
    EXPECT_EQ(GetLastError(), 2000u);
}

}  // namespace
}  // namespace pclrend
