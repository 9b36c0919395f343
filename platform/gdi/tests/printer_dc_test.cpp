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

LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }

class PrinterDc : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zq-gdi-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        zq::SetSystemRoot(root_);
        zq::store::SetRegistryUser(u"tester");
        // The driver file sits in the driver directory, as an installed
        // driver would.
        auto dir = zq::MapPath(u"C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3");
        ASSERT_TRUE(dir);
        std::filesystem::create_directories(*dir);
        driverFile_ = (*dir / "zqtestdrv.so").string();
        std::filesystem::copy_file(ZQ_TEST_DRIVER_PATH, driverFile_);

        DRIVER_INFO_3W d{};
        d.cVersion = 3;
        d.pName = W(u"Zelquor Test Raster");
        d.pEnvironment = W(u"Windows NT x86");
        d.pDriverPath = W(u"zqtestdrv.so");
        d.pDataFile = W(u"zqtest.bin");
        d.pConfigFile = W(u"zqtestui.so");
        ASSERT_TRUE(AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&d)));
        PRINTER_INFO_2W info{};
        info.pPrinterName = W(u"Zelquor Office");
        info.pDriverName = W(u"Zelquor Test Raster");
        info.pPortName = W(u"LPT1:");
        info.pPrintProcessor = W(u"WinPrint");
        info.pDatatype = W(u"RAW");
        HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        ASSERT_NE(h, nullptr);
        ClosePrinter(h);
    }
    void TearDown() override {
        zq::SetSystemRoot({});
        zq::store::SetRegistryUser(u"");
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    std::filesystem::path root_;
    std::string driverFile_;
};

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
