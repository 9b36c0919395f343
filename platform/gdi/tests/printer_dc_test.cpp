// CreateDC on a printer of the spooler: the printer's driver file is found
// through GetPrinterDriver, loaded from the driver directory and enabled with
// the printer's name and port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "base/paths.h"
#include "base/root.h"
#include "gdi/dc.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "test_support.h"

namespace {

using PrinterDc = SpoolerPrinterTest;

TEST_F(PrinterDc, LoadsThePrintersDriverAndPrintsAPage) {
    RecordingDriver drv(driverFile_);
    ASSERT_TRUE(drv.Loaded());
    TestDriverSettings s;
    s.width = 20;
    s.height = 30;
    s.bandHeight = 16;
    TestDevmode dm = MakeTestDevmode(s);
    HDC dc = CreateDCW(u"WINSPOOL", u"Zelquor Office", nullptr, &dm.dm);
    ASSERT_NE(dc, nullptr) << GetLastError();
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 20);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 30);
    DOCINFOW di{sizeof(DOCINFOW), u"Letter", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &di), 0);
    ASSERT_GT(StartPage(dc), 0);
    ASSERT_TRUE(PatBlt(dc, 0, 0, 20, 30, BLACKNESS));
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);
    EXPECT_TRUE(DeleteDC(dc));
    auto calls = drv.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "EnableDriver 131072");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "NextBand 0,16"), calls.end());
    EXPECT_EQ(calls.back(), "DisableDriver");
    ASSERT_EQ(drv.PageCount(), 1u);
    EXPECT_EQ(Jobs().size(), 1u);
}

// What the driver writes through WritePrinter lands in a RAW job of the
// printer, numbered as StartDoc answers.
TEST_F(PrinterDc, DocumentIsARawJobOfThePrinter) {
    RecordingDriver drv(driverFile_);
    TestDevmode dm = MakeTestDevmode(TestDriverSettings{});
    HDC dc = CreateDCW(u"WINSPOOL", kPrinter, nullptr, &dm.dm);
    ASSERT_NE(dc, nullptr) << GetLastError();
    DOCINFOW di{sizeof(DOCINFOW), u"Report", nullptr, nullptr, 0};
    int job = StartDocW(dc, &di);
    ASSERT_GT(job, 0);
    for (int page = 0; page < 2; ++page) {
        ASSERT_GT(StartPage(dc), 0);
        ASSERT_GT(EndPage(dc), 0);
    }
    ASSERT_GT(EndDoc(dc), 0);
    EXPECT_TRUE(DeleteDC(dc));
    auto calls = drv.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "StartDoc Report " + std::to_string(job)), calls.end());
    EXPECT_EQ(Jobs(), (std::vector<std::pair<DWORD, std::u16string>>{{DWORD(job), u"RAW"}}));
    EXPECT_EQ(JobBytes(DWORD(job)), "DOC Report\nPAGE 1\nPAGE 2\nEND\n");
}

// A document that does not end well leaves no job behind, and the driver
// hears ED_ABORTDOC.
TEST_F(PrinterDc, AbortedAndFailedDocumentsLeaveNoJob) {
    RecordingDriver drv(driverFile_);
    enum class End { AbortDoc, DriverEndDocFails, DeleteDcOpen, DriverStartDocFails };
    for (End how : {End::AbortDoc, End::DriverEndDocFails, End::DeleteDcOpen, End::DriverStartDocFails}) {
        SCOPED_TRACE(static_cast<int>(how));
        drv.Clear();
        TestDriverSettings s;
        if (how == End::DriverEndDocFails) s.failAt = INDEX_DrvEndDoc;
        if (how == End::DriverStartDocFails) s.failAt = INDEX_DrvStartDoc;
        TestDevmode dm = MakeTestDevmode(s);
        HDC dc = CreateDCW(u"WINSPOOL", kPrinter, nullptr, &dm.dm);
        ASSERT_NE(dc, nullptr);
        DOCINFOW di{sizeof(DOCINFOW), u"Lost", nullptr, nullptr, 0};
        SetLastError(0);
        int job = StartDocW(dc, &di);
        if (how == End::DriverStartDocFails) {
            EXPECT_EQ(job, -1);
            EXPECT_EQ(GetLastError(), kTestDriverError);
        } else {
            ASSERT_GT(job, 0);
            ASSERT_GT(StartPage(dc), 0);
            ASSERT_GT(EndPage(dc), 0);
            if (how == End::AbortDoc) {
                EXPECT_EQ(AbortDoc(dc), 1);
            }
            if (how == End::DriverEndDocFails) {
                EXPECT_EQ(EndDoc(dc), -1);
                EXPECT_EQ(GetLastError(), kTestDriverError);
            }
        }
        EXPECT_TRUE(DeleteDC(dc));
        if (how == End::AbortDoc || how == End::DeleteDcOpen) {
            auto calls = drv.Calls();
            EXPECT_NE(std::find(calls.begin(), calls.end(), "EndDoc 1"), calls.end());
        }
        EXPECT_TRUE(Jobs().empty());
        if (job > 0) {
            EXPECT_FALSE(std::filesystem::exists(zq::store::JobFile(DWORD(job))));
        }
    }
}

TEST_F(PrinterDc, UnknownPrinterAndMissingDriverFileFail) {
    SetLastError(0);
    EXPECT_EQ(CreateDCW(nullptr, u"Nobody", nullptr, nullptr), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    std::filesystem::remove(driverFile_);
    SetLastError(0);
    EXPECT_EQ(CreateDCW(nullptr, u"Zelquor Office", nullptr, nullptr), nullptr);
    EXPECT_NE(GetLastError(), 0u);
}

}  // namespace
