// Driver loading and the order of hook calls, seen by the recording driver.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/error.h"
#include "gdi/dc.h"
#include "test_support.h"

namespace {

using Calls = std::vector<std::string>;

HDC Open(const TestDriverSettings& s) {
    TestDevmode dm = MakeTestDevmode(s);
    return zq::CreateDCForDriver(RecordingDriver::Path(), &dm.dm, u"Zelquor Test");
}

TEST(DriverOrder, TwoPageBandedDocument) {
    RecordingDriver drv;
    ASSERT_TRUE(drv.Loaded());
    TestDriverSettings s;
    s.width = 40;
    s.height = 250;
    s.bandHeight = 100;
    HDC dc = Open(s);
    ASSERT_NE(dc, nullptr);
    DOCINFOW di{sizeof(DOCINFOW), u"Doc", nullptr, nullptr, 0};
    int job = StartDocW(dc, &di);
    ASSERT_GT(job, 0);
    for (int page = 0; page < 2; ++page) {
        ASSERT_GT(StartPage(dc), 0);
        ASSERT_TRUE(PatBlt(dc, 5, 90, 10, 20, BLACKNESS));  // crosses the first band edge
        ASSERT_GT(EndPage(dc), 0);
    }
    ASSERT_GT(EndDoc(dc), 0);
    ASSERT_TRUE(DeleteDC(dc));

    const std::string start = "StartDoc Doc " + std::to_string(job);
    const Calls page = {"StartPage",
                        "StartBanding 0,0",
                        "BitBlt 5,90,15,110 0000",  // band 0-100; its clip object cuts at 100
                        "NextBand 0,100",
                        "BitBlt 5,-10,15,10 0000",  // band-relative coordinates
                        "NextBand 0,200",
                        "NextBand -1,-1"};
    Calls want = {"EnableDriver 131072", "EnablePDEV", "CompletePDEV", "EnableSurface", start};
    want.insert(want.end(), page.begin(), page.end());
    want.insert(want.end(), page.begin(), page.end());
    want.insert(want.end(), {"EndDoc 0", "DisableSurface", "DisablePDEV", "DisableDriver"});
    EXPECT_EQ(drv.Calls(), want);
    EXPECT_EQ(drv.PageCount(), 2u);
}

TEST(DriverOrder, UnbandedPageEndsWithSendPage) {
    RecordingDriver drv;
    TestDriverSettings s;
    HDC dc = Open(s);
    ASSERT_NE(dc, nullptr);
    DOCINFOW di{sizeof(DOCINFOW), u"X", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &di), 0);
    ASSERT_GT(StartPage(dc), 0);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);
    DeleteDC(dc);
    Calls calls = drv.Calls();
    ASSERT_GE(calls.size(), 8u);
    EXPECT_EQ(calls[5], "StartPage");
    EXPECT_EQ(calls[6], "SendPage");
    EXPECT_EQ(calls[7], "EndDoc 0");
}

struct FailCase {
    ULONG failAt;
    std::vector<std::string> tail;  // the last calls
};
class DriverFailures : public ::testing::TestWithParam<FailCase> {};

// A hook that answers FALSE stops the step, keeps the driver's last error and
// releases what was enabled.
TEST_P(DriverFailures, StopAtTheFailingStep) {
    const auto c = GetParam();
    RecordingDriver drv;
    TestDriverSettings s;
    s.failAt = c.failAt;
    SetLastError(0);
    HDC dc = Open(s);
    if (c.failAt == INDEX_DrvEnablePDEV || c.failAt == INDEX_DrvEnableSurface) {
        EXPECT_EQ(dc, nullptr);
        if (c.failAt == INDEX_DrvEnablePDEV) {
            EXPECT_EQ(GetLastError(), kTestDriverError);
        }
        Calls calls = drv.Calls();
        ASSERT_GE(calls.size(), c.tail.size());
        EXPECT_EQ(Calls(calls.end() - c.tail.size(), calls.end()), c.tail);
        return;
    }
    ASSERT_NE(dc, nullptr);
    DOCINFOW di{sizeof(DOCINFOW), u"F", nullptr, nullptr, 0};
    int job = StartDocW(dc, &di);
    if (c.failAt == INDEX_DrvStartDoc) {
        EXPECT_EQ(job, -1);
        EXPECT_EQ(GetLastError(), kTestDriverError);
        EXPECT_EQ(StartPage(dc), -1);  // no document
    } else {
        EXPECT_EQ(StartPage(dc), -1);
        EXPECT_EQ(GetLastError(), kTestDriverError);
    }
    DeleteDC(dc);
    Calls calls = drv.Calls();
    EXPECT_EQ(calls.back(), "DisableDriver");
    EXPECT_EQ(calls[calls.size() - 2], "DisablePDEV");
}

INSTANTIATE_TEST_SUITE_P(Steps, DriverFailures,
                         ::testing::Values(FailCase{INDEX_DrvEnablePDEV, {"EnablePDEV", "DisableDriver"}},
                                           FailCase{INDEX_DrvEnableSurface,
                                                    {"EnableSurface", "DisablePDEV", "DisableDriver"}},
                                           FailCase{INDEX_DrvStartDoc, {}}, FailCase{INDEX_DrvStartPage, {}}));

TEST(DriverLoad, MissingFileAndMissingEntry) {
    SetLastError(0);
    EXPECT_EQ(zq::CreateDCForDriver("/nonexistent/zq.so", nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Escapes, ReachTheDriverWithTheirBuffers) {
    RecordingDriver drv;
    HDC dc = Open(TestDriverSettings{});
    ASSERT_NE(dc, nullptr);
    char in[4] = {'a', 'b', 'c', 'd'}, out[8] = {};
    EXPECT_EQ(ExtEscape(dc, 5012, 4, in, 8, out), 5);
    EXPECT_EQ(std::string(out, 4), "abcd");
    EXPECT_EQ(ExtEscape(dc, 4242, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(ExtEscape(dc, 1, 4, nullptr, 0, nullptr), -1);  // size without a buffer
    DeleteDC(dc);
    Calls calls = drv.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "Escape 5012 4 8"), calls.end());
}

TEST(Brushes, GreyOnOneBitIsDitheredAndRealizedByTheDriver) {
    RecordingDriver drv;
    TestDriverSettings s;
    s.format = BMF_1BPP;
    s.width = 16;
    s.height = 8;
    HDC dc = Open(s);
    ASSERT_NE(dc, nullptr);
    DOCINFOW di{sizeof(DOCINFOW), u"B", nullptr, nullptr, 0};
    StartDocW(dc, &di);
    StartPage(dc);
    HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    HBRUSH hatch = CreateHatchBrush(HS_CROSS, RGB(255, 0, 0));
    RECT left{0, 0, 8, 8}, right{8, 0, 16, 8};
    EXPECT_EQ(FillRect(dc, &left, grey), 1);
    EXPECT_EQ(FillRect(dc, &right, black), 1);
    EXPECT_EQ(FillRect(dc, &right, hatch), 1);
    EndPage(dc);
    EndDoc(dc);
    DeleteDC(dc);
    DeleteObject(grey);
    DeleteObject(black);
    DeleteObject(hatch);

    Calls calls = drv.Calls();
    auto has = [&](const std::string& c) { return std::find(calls.begin(), calls.end(), c) != calls.end(); };
    EXPECT_TRUE(has("RealizeBrush 80808080"));       // the dither flag and the colour
    EXPECT_TRUE(has("DitherColor"));
    EXPECT_TRUE(has("BitBlt 0,0,8,8 F0F0 realized"));
    EXPECT_TRUE(has("BitBlt 8,0,16,8 F0F0"));        // black is solid: no realisation
    EXPECT_TRUE(has("RealizeBrush 00000004 8x8 fg 000000"));  // red on a mono page is black
    ASSERT_EQ(drv.PageCount(), 1u);
    LONG stride = 0;
    const BYTE* page = drv.Page(0, &stride);
    // The driver's dither cell: neither all black nor all white.
    int white = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) white += (page[y * stride] >> (7 - x)) & 1;
    EXPECT_GT(white, 8);
    EXPECT_LT(white, 56);
}

}  // namespace

namespace {

// Only the calls the surface asked for reach the driver; the others fall
// back to the engine.
TEST(HookMask, DecidesWhichCallsReachTheDriver) {
    struct Case {
        FLONG hooks;
        bool bitBltReaches;
        bool copyBitsReaches;
    };
    const Case cases[] = {{HOOK_BITBLT | HOOK_COPYBITS, true, true},
                          {HOOK_BITBLT, true, false},
                          {HOOK_COPYBITS, false, true},
                          {0, false, false}};
    for (const auto& c : cases) {
        RecordingDriver drv;
        TestDriverSettings s;
        s.hooks = c.hooks;
        HDC dc = Open(s);
        ASSERT_NE(dc, nullptr);
        HDC mem = CreateCompatibleDC(dc);
        HBITMAP bmp = CreateBitmap(4, 4, 1, 24, nullptr);
        HGDIOBJ old = SelectObject(mem, bmp);
        DOCINFOW di{sizeof(DOCINFOW), u"H", nullptr, nullptr, 0};
        StartDocW(dc, &di);
        StartPage(dc);
        PatBlt(dc, 0, 0, 4, 4, WHITENESS);
        BitBlt(dc, 0, 0, 4, 4, mem, 0, 0, SRCCOPY);
        EndPage(dc);
        EndDoc(dc);
        SelectObject(mem, old);
        DeleteObject(bmp);
        DeleteDC(mem);
        DeleteDC(dc);
        Calls calls = drv.Calls();
        auto starts = [&](const std::string& p) {
            return std::any_of(calls.begin(), calls.end(), [&](const std::string& l) { return l.rfind(p, 0) == 0; });
        };
        // With BitBlt hooked but not CopyBits, the copy goes to DrvBitBlt.
        EXPECT_EQ(starts("BitBlt 0,0,4,4 FFFF"), c.bitBltReaches) << c.hooks;
        EXPECT_EQ(starts("CopyBits"), c.copyBitsReaches) << c.hooks;
        EXPECT_EQ(starts("BitBlt 0,0,4,4 CCCC"), c.bitBltReaches && !c.copyBitsReaches) << c.hooks;
    }
}

}  // namespace

namespace {

// ResetDC between pages: a new PDEV takes over through DrvResetPDEV, the old
// one is disabled, and the new one gets its surface.
TEST(DriverOrder, ResetBetweenPages) {
    RecordingDriver drv;
    TestDriverSettings s;
    HDC dc = Open(s);
    ASSERT_NE(dc, nullptr);
    DOCINFOW di{sizeof(DOCINFOW), u"R", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &di), 0);
    ASSERT_GT(StartPage(dc), 0);
    EXPECT_EQ(ResetDCW(dc, nullptr), nullptr);  // not inside a page
    ASSERT_GT(EndPage(dc), 0);
    s.width = 80;
    TestDevmode dm = MakeTestDevmode(s);
    drv.Clear();
    ASSERT_EQ(ResetDCW(dc, &dm.dm), dc);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 80);
    EXPECT_EQ(drv.Calls(), (Calls{"EnablePDEV", "ResetPDEV", "DisableSurface", "DisablePDEV", "CompletePDEV",
                                  "EnableSurface"}));
    ASSERT_GT(StartPage(dc), 0);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);
    DeleteDC(dc);

    // A driver that refuses the reset keeps the old PDEV.
    s.failAt = INDEX_DrvResetPDEV;
    TestDevmode failing = MakeTestDevmode(s);
    dc = Open(s);
    ASSERT_NE(dc, nullptr);
    drv.Clear();
    EXPECT_EQ(ResetDCW(dc, &failing.dm), nullptr);
    EXPECT_EQ(drv.Calls(), (Calls{"EnablePDEV", "ResetPDEV", "DisablePDEV"}));
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 80);
    DeleteDC(dc);
}

}  // namespace
