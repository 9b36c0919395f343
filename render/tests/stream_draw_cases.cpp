// The spool stream's drawing bodies called as the engine calls them: the
// record sequences each case writes, read back with the stream walker.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gdi/ddi.h"
#include "gdi/ddi_path.h"
#include "render/output.h"
#include "render/spool_stream.h"
#include "render/stream_draw.h"
#include "render/tests/capture_sink.h"
#include "vemfread/vemfread.h"

namespace pclrend {
namespace {

namespace vemf = zq::vemf;

POINTFIX P(LONG x, LONG y) { return {x * 16, y * 16}; }

class StreamDrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        zq::PrivateDevmode dm{};
        dm.privateVersion = zq::kPrivateDevmodeVersion;
        dm.dm.dmPrintQuality = 300;
        dm.dm.dmCopies = 1;
        dm.dm.dmDuplex = DMDUP_SIMPLEX;
        dm.printerLanguage = 4;
        auto& g = dm.paperFormats[0];
        g.width = 850, g.length = 1100, g.printableWidth = 800, g.printableLength = 1050;
        dm.paperFormats[1] = g;
        ASSERT_TRUE(RecordFromDevmode(r, dm));
        DecideOutputMode(r, dm);
        ASSERT_TRUE(StreamEnable(r, 1));
        r.sink = &sink;
        ASSERT_TRUE(StreamStartDoc(r, u"d"));
        ASSERT_TRUE(StreamStartPage(r));
        line.MoveTo(P(10, 10));
        line.LineTo(P(200, 10));
    }
    // The drawing records of page 1, after its nine state records.
    std::vector<vemfread::Record> Drawn() {
        EXPECT_TRUE(StreamSendPage(r));
        EXPECT_TRUE(StreamEndDoc(r));
        walked = vemfread::Walk(sink.bytes);
        EXPECT_TRUE(walked.ok) << walked.error;
        std::vector<vemfread::Record> out;
        if (walked.pages.empty()) return out;
        const auto& recs = walked.pages[0].records;
        size_t start = 0;
        while (start < recs.size() && recs[start].type != vemf::kPageRecord) ++start;
        for (size_t i = start + 10; i + 1 < recs.size(); ++i) out.push_back(recs[i]);
        return out;
    }
    static std::vector<uint32_t> Types(const std::vector<vemfread::Record>& recs) {
        std::vector<uint32_t> t;
        for (const auto& rec : recs) t.push_back(rec.type);
        return t;
    }
    static size_t Count(const std::vector<uint32_t>& types, uint32_t type) {
        return static_cast<size_t>(std::count(types.begin(), types.end(), type));
    }
    DeviceRecord r;
    CaptureSink sink;
    zq::gdi::Path line;
    vemfread::Stream walked;
};

TEST_F(StreamDrawTest, SameBrushTwiceIsCreatedOnceAndSelectedTwice) {
    BRUSHOBJ red{0x0000FF, nullptr, 0};
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &red, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &red, nullptr, 0x0D0D, 0));
    const auto types = Types(Drawn());
    EXPECT_EQ(Count(types, vemf::kCreateBrush), 1u);
    EXPECT_EQ(Count(types, vemf::kSelectObject), 2u);
    EXPECT_EQ(Count(types, vemf::kFillPath), 2u);
    // State records only on change: the opaque background once.
    EXPECT_EQ(Count(types, vemf::kSetBkMode), 1u);
    EXPECT_EQ(Count(types, vemf::kSetRop2), 0u);
    // A red brush makes the page a colour page.
    EXPECT_EQ(walked.pages[0].entry.summary[2], 0u);
}

TEST_F(StreamDrawTest, The65thSolidBrushDeletesTheOldestFirst) {
    std::vector<BRUSHOBJ> brushes;
    for (uint32_t i = 0; i < 65; ++i) brushes.push_back({i * 0x010101u, nullptr, 0});
    for (auto& b : brushes) ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &b, nullptr, 0x0D0D, 0));
    const auto recs = Drawn();
    size_t del = 0;
    while (del < recs.size() && recs[del].type != vemf::kDeleteObject) ++del;
    ASSERT_LT(del + 1, recs.size());
    // The first brush's handle goes, then the 65th brush is created.
    EXPECT_EQ(recs[del].U32(8), 1u);
    EXPECT_EQ(recs[del + 1].type, vemf::kCreateBrush);
    EXPECT_EQ(recs[del + 1].U32(8), 65u);
}

TEST_F(StreamDrawTest, AnEqualRectangularClipWritesNoClipRecords) {
    BRUSHOBJ black{0, nullptr, 0};
    CLIPOBJ clip{};
    clip.iDComplexity = DC_RECT;
    clip.rclBounds = {5, 5, 100, 100};
    ASSERT_TRUE(StreamStrokeFill(r, &line, &clip, nullptr, nullptr, &black, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, &clip, nullptr, nullptr, &black, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &black, nullptr, 0x0D0D, 0));
    const auto types = Types(Drawn());
    EXPECT_EQ(Count(types, vemf::kSelectClipPath), 1u);
    EXPECT_EQ(Count(types, vemf::kExtSelectClipRgn), 1u) << "no clip: back to the page";
}

// (The engine drops a figure that is only a start point before it reaches
// the driver, so the empty run of that case cannot be made here.)
TEST_F(StreamDrawTest, AStrokeWritesItsStateObjectsPathAndStroke) {
    BRUSHOBJ black{0, nullptr, 0};
    zq::gdi::Path closed;
    closed.MoveTo(P(30, 40));
    closed.LineTo(P(50, 40));
    closed.LineTo(P(50, 60));
    closed.CloseFigure();
    ASSERT_TRUE(StreamStrokeFill(r, &closed, nullptr, &black, nullptr, nullptr, nullptr, 0x0D06, 0));
    const auto recs = Drawn();
    const std::vector<uint32_t> expected = {vemf::kSetBkMode,  vemf::kSetRop2,    vemf::kSetBrushOrg, vemf::kCreatePen,
                                            vemf::kSelectObject, vemf::kBeginPath, vemf::kMoveTo,      vemf::kPolylineTo,
                                            vemf::kCloseFigure, vemf::kEndPath,   vemf::kStrokePath,   vemf::kDeleteObject};
    EXPECT_EQ(Types(recs), expected);
    ASSERT_EQ(recs.size(), expected.size());
    EXPECT_EQ(recs[1].U32(8), 6u);   // the mix's foreground
    EXPECT_EQ(recs[6].U32(8), 30u);  // the figure's start
    EXPECT_EQ(recs[7].U32(24), 2u);  // two more points
    EXPECT_EQ(recs[7].bytes.size(), 28u + 16);
    EXPECT_EQ(walked.pages[0].entry.summary[0], 1u) << "mix 6 is not a plain operation";
}

TEST_F(StreamDrawTest, PatternBlitsAndRasterOperationFlags) {
    BRUSHOBJ black{0, nullptr, 0};
    const RECTL dest{10, 20, 60, 90};
    ASSERT_TRUE(StreamPatternBlit(r, nullptr, dest, &black, nullptr, 0xF0F0));
    ASSERT_TRUE(StreamPatternBlit(r, nullptr, dest, nullptr, nullptr, 0x5555));  // destination only
    EXPECT_FALSE(StreamPatternBlit(r, nullptr, dest, nullptr, nullptr, 0x5A5A));  // a pattern without a brush
    const auto recs = Drawn();
    std::vector<const vemfread::Record*> blits;
    for (const auto& rec : recs)
        if (rec.type == vemf::kPatternBlit) blits.push_back(&rec);
    ASSERT_EQ(blits.size(), 2u);
    EXPECT_EQ(blits[0]->U32(24), 10u);
    EXPECT_EQ(blits[0]->U32(32), 50u);
    EXPECT_EQ(blits[0]->U32(40), 0xF0u);
    EXPECT_EQ(walked.pages[0].entry.summary[0], 1u) << "ROP3 0x55 is not a plain operation";
}

}  // namespace
}  // namespace pclrend
