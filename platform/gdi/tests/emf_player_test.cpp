// Playing our sample documents: every record is played, the pages look as
// drawn (pixel checks at known places), and on the recording test driver the
// banded output equals the engine's unbanded reference render.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gdi/dc_draw.h"
#include "gdi/emf_player.h"
#include "gdi/emf_writer.h"
#include "test_support.h"

namespace {

using namespace zq;

std::vector<uint8_t> Sample(const std::string& name) {
    const char* src = std::getenv("ZQ_SOURCE_DIR");
    std::filesystem::path p = std::filesystem::path(src ? src : ".") / "platform/gdi/tests/data/emf" / name;
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

using Page = MemoryPage;

TEST(EmfPlayer, SamplesPlayEveryRecord) {
    for (const char* name : {"text.emf", "shapes.emf", "photo.emf", "clip.emf"}) {
        auto bytes = Sample(name);
        ASSERT_FALSE(bytes.empty()) << name;
        auto parsed = emf::ParseEmf(bytes);
        ASSERT_TRUE(parsed.document) << name << ": " << parsed.error;
        Page page(850, 1100);
        auto stats = emf::Play(page.dc, *parsed.document, {0, 0, 850, 1100});
        EXPECT_EQ(stats.failed, 0u) << name;
        EXPECT_EQ(stats.Skipped(), 0u) << name;
        EXPECT_EQ(stats.played, parsed.document->records.size()) << name;
        EXPECT_GT(page.NotWhite(), 1000u) << name;
        if (const char* out = std::getenv("ZQ_EMF_PNG_DIR"))
            gdi::WritePng(*gdi::DeviceContext::FromHandle(page.dc)->bitmap->bitmap->Get(),
                          std::string(out) + "/" + name + ".png");
    }
}

TEST(EmfPlayer, ShapesAndClipsLandWhereDrawn) {
    Page shapes(850, 1100);
    auto s = emf::ParseEmf(Sample("shapes.emf"));
    ASSERT_TRUE(s.document);
    emf::Play(shapes.dc, *s.document, {0, 0, 850, 1100});
    EXPECT_EQ(shapes.At(200, 160), RGB(200, 40, 40));   // inside the red rectangle
    EXPECT_EQ(shapes.At(60, 60), RGB(0, 0, 0));         // its outline
    EXPECT_EQ(shapes.At(600, 160), RGB(40, 120, 220));  // inside the blue ellipse
    EXPECT_EQ(shapes.At(425, 62), RGB(255, 255, 255));  // outside the ellipse's corner
    EXPECT_EQ(shapes.At(570, 390), RGB(250, 200, 0));   // winding star: centre filled
    EXPECT_EQ(shapes.At(720, 390), RGB(255, 255, 255)); // alternate star: centre empty

    Page clip(850, 1100);
    auto c = emf::ParseEmf(Sample("clip.emf"));
    ASSERT_TRUE(c.document);
    emf::Play(clip.dc, *c.document, {0, 0, 850, 1100});
    EXPECT_NE(clip.At(300, 150), RGB(255, 255, 255));   // inside the clip rectangle
    EXPECT_EQ(clip.At(100, 150), RGB(255, 255, 255));   // stripes cut off left of it
    EXPECT_NE(clip.At(400, 450), RGB(255, 255, 255));   // inside the second region rectangle
    EXPECT_EQ(clip.At(290, 450), RGB(255, 255, 255));   // between region rectangles
    EXPECT_NE(clip.At(300, 775), RGB(255, 255, 255));   // inside the ellipse
    EXPECT_EQ(clip.At(420, 775), RGB(255, 255, 255));   // the hole cut out of it
    EXPECT_EQ(clip.At(160, 610), RGB(255, 255, 255));   // outside the ellipse's corner
    EXPECT_EQ(clip.At(30, 500), RGB(0, 0, 0));          // the frame drawn after the restores
}

// The frame of the metafile is fitted to the destination: half the size,
// half the coordinates.
TEST(EmfPlayer, FitsTheFrameToTheDestination) {
    emf::Writer w(200, 200, 100);
    w.CreateBrush(1, 0, RGB(0, 0, 255));
    w.Value(emf::Rt::SelectObject, 1);
    w.CreatePen(2, 5, 0, 0);
    w.Value(emf::Rt::SelectObject, 2);
    w.Rect(emf::Rt::Rectangle, {100, 100, 200, 200});
    auto bytes = w.Finish();
    auto d = emf::ParseEmf(bytes);
    ASSERT_TRUE(d.document);
    Page page(100, 100);
    auto stats = emf::Play(page.dc, *d.document, {0, 0, 100, 100});
    EXPECT_EQ(stats.failed, 0u);
    EXPECT_EQ(page.At(75, 75), RGB(0, 0, 255));
    EXPECT_EQ(page.At(45, 45), RGB(255, 255, 255));
}

// Unknown records and records that refer to missing objects are counted,
// never fatal; the rest of the page is drawn.
TEST(EmfPlayer, OddRecordsAreCountedNotFatal) {
    emf::Writer w(100, 100, 100);
    const uint8_t junk[8] = {};
    w.Raw(250, junk);
    w.Value(emf::Rt::SelectObject, 77);       // no such object
    w.Value(emf::Rt::DeleteObject, 0x80000004);  // stock objects are not deleted
    w.Value(emf::Rt::RestoreDC, 0xFFFFFFFF);   // nothing saved by the metafile
    w.CreateBrush(1, 0, RGB(255, 0, 0));
    w.Value(emf::Rt::SelectObject, 1);
    w.Rect(emf::Rt::Rectangle, {10, 10, 90, 90});
    auto bytes = w.Finish();
    auto d = emf::ParseEmf(bytes);
    ASSERT_TRUE(d.document);
    Page page(100, 100);
    auto stats = emf::Play(page.dc, *d.document, {0, 0, 100, 100});
    EXPECT_EQ(stats.skipped.at(250), 1u);
    EXPECT_EQ(stats.failed, 3u);
    EXPECT_EQ(page.At(50, 50), RGB(255, 0, 0));
}

TEST(EmfPlayer, PrintingOnTheTestDriverMatchesTheReferenceRender) {
    RecordingDriver drv;
    ASSERT_TRUE(drv.Loaded());
    TestDriverSettings s;
    s.width = 425;
    s.height = 550;
    s.bandHeight = 128;
    TestDevmode dm = MakeTestDevmode(s);
    for (const char* name : {"shapes.emf", "text.emf", "clip.emf"}) {
        drv.Clear();
        HDC dc = CreateDCForDriver(RecordingDriver::Path(), &dm.dm);
        ASSERT_TRUE(dc);
        KeepPages(dc, true);
        DOCINFOW di{sizeof(DOCINFOW), u"sample", nullptr, nullptr, 0};
        ASSERT_GT(StartDocW(dc, &di), 0);
        ASSERT_GT(StartPage(dc), 0);
        auto d = emf::ParseEmf(Sample(name));
        ASSERT_TRUE(d.document);
        auto stats = emf::Play(dc, *d.document, {0, 0, 425, 550});
        EXPECT_EQ(stats.failed, 0u) << name;
        ASSERT_GT(EndPage(dc), 0);
        ASSERT_GT(EndDoc(dc), 0);
        gdi::Bitmap ref = RenderReferencePage(dc, 0);
        ASSERT_TRUE(ref);
        DeleteDC(dc);
        auto calls = drv.Calls();
        // The page goes out band by band, five bands of 128 rows.
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](auto& c) { return c.rfind("NextBand", 0) == 0; }), 5);
        ASSERT_EQ(drv.PageCount(), 1u);
        LONG stride = 0;
        const BYTE* page = drv.Page(0, &stride);
        const gdi::Surface* r = ref.Get();
        size_t differ = 0;
        for (LONG y = 0; y < 550; ++y)
            if (std::memcmp(page + static_cast<size_t>(y) * stride, r->Row(y), 425 * 3) != 0) {
                if (!differ && std::getenv("ZQ_DEBUG_DIFF"))
                    for (LONG x = 0; x < 425; ++x)
                        if (std::memcmp(page + y * stride + 3 * x, r->Row(y) + 3 * x, 3))
                            std::printf("%s first diff y=%d x=%d page=%02x%02x%02x ref=%02x%02x%02x\n", name, y, x,
                                        page[y * stride + 3 * x], page[y * stride + 3 * x + 1], page[y * stride + 3 * x + 2],
                                        r->Row(y)[3 * x], r->Row(y)[3 * x + 1], r->Row(y)[3 * x + 2]), x = 425;
                ++differ;
            }
        EXPECT_EQ(differ, 0u) << name;
    }
}

}  // namespace
