// Helpers of the engine tests: the recording test driver, seen from outside.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/paths.h"
#include "gdi/dc_draw.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "test_driver/test_driver.h"
#include "testing/printer_fixture.h"

class RecordingDriver {
public:
    // Keeps the driver module loaded for the whole test, so its log outlives
    // the device contexts that load and unload it.
    explicit RecordingDriver(const std::string& path = ZQ_TEST_DRIVER_PATH) : module_(dlopen(path.c_str(), RTLD_NOW)) {
        log_ = reinterpret_cast<PFN_TestDriverLog>(dlsym(module_, "TestDriverLog"));
        clear_ = reinterpret_cast<PFN_TestDriverClear>(dlsym(module_, "TestDriverClear"));
        count_ = reinterpret_cast<PFN_TestDriverPageCount>(dlsym(module_, "TestDriverPageCount"));
        page_ = reinterpret_cast<PFN_TestDriverPage>(dlsym(module_, "TestDriverPage"));
        clear_();
    }
    ~RecordingDriver() {
        if (module_) dlclose(module_);
    }
    RecordingDriver(const RecordingDriver&) = delete;
    RecordingDriver& operator=(const RecordingDriver&) = delete;

    static std::string Path() { return ZQ_TEST_DRIVER_PATH; }
    bool Loaded() const { return module_ && log_ && clear_ && count_ && page_; }
    std::vector<std::string> Calls() const {
        std::vector<std::string> out;
        std::istringstream in(log_());
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    void Clear() { clear_(); }
    size_t PageCount() const { return count_(); }
    const BYTE* Page(size_t i, LONG* stride) const { return page_(i, stride); }

private:
    void* module_;
    PFN_TestDriverLog log_ = nullptr;
    PFN_TestDriverClear clear_ = nullptr;
    PFN_TestDriverPageCount count_ = nullptr;
    PFN_TestDriverPage page_ = nullptr;
};

// A fresh system root with the recording test driver installed in the driver
// directory, as an installed driver would be, and one printer on it,
// "Zelquor Office" on LPT1:.
class SpoolerPrinterTest : public zq::testing::StoreRoot {
protected:
    static constexpr const char16_t* kPrinter = u"Zelquor Office";

    void SetUp() override {
        StoreRoot::SetUp();
        auto dir = zq::MapPath(u"C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3");
        ASSERT_TRUE(dir);
        std::filesystem::create_directories(*dir);
        driverFile_ = (*dir / "zqtestdrv.so").string();
        std::filesystem::copy_file(ZQ_TEST_DRIVER_PATH, driverFile_);
        zq::testing::DriverFiles files;
        files.driverPath = u"zqtestdrv.so";
        files.dataFile = u"zqtest.bin";
        files.configFile = u"zqtestui.so";
        ASSERT_TRUE(zq::testing::InstallDriver(u"Zelquor Test Raster", files));
        HANDLE h = zq::testing::AddLocalPrinter(kPrinter, u"Zelquor Test Raster");
        ASSERT_NE(h, nullptr);
        ClosePrinter(h);
    }

    static LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }
    static std::string JobBytes(DWORD job) {
        std::ifstream in(zq::store::JobFile(job), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // The ids of the printer's jobs with their datatypes; an aborted job,
    // whose record stays marked deleted, is no longer one of them.
    std::vector<std::pair<DWORD, std::u16string>> Jobs() const {
        std::vector<std::pair<DWORD, std::u16string>> out;
        HANDLE h = nullptr;
        if (!OpenPrinterW(W(kPrinter), &h, nullptr)) return out;
        DWORD needed = 0, count = 0;
        EnumJobsW(h, 0, 0xFFFFFFFF, 1, nullptr, 0, &needed, &count);
        std::vector<BYTE> buf(needed);
        if (needed && EnumJobsW(h, 0, 0xFFFFFFFF, 1, buf.data(), needed, &needed, &count)) {
            auto* jobs = reinterpret_cast<JOB_INFO_1W*>(buf.data());
            for (DWORD i = 0; i < count; ++i)
                if (!(jobs[i].Status & JOB_STATUS_DELETED))
                    out.emplace_back(jobs[i].JobId, jobs[i].pDatatype ? jobs[i].pDatatype : u"");
        }
        ClosePrinter(h);
        return out;
    }

    std::string driverFile_;
};

// A 24-bit memory page of the engine, white to start with.
struct MemoryPage {
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    MemoryPage(int w, int h) {
        dc = CreateCompatibleDC(nullptr);
        bmp = CreateBitmap(w, h, 1, 24, nullptr);
        SelectObject(dc, bmp);
        PatBlt(dc, 0, 0, w, h, WHITENESS);
    }
    ~MemoryPage() {
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    MemoryPage(const MemoryPage&) = delete;
    MemoryPage& operator=(const MemoryPage&) = delete;
    const zq::gdi::Surface* Surface() const { return zq::gdi::DeviceContext::FromHandle(dc)->bitmap->bitmap->Get(); }
    COLORREF At(int x, int y) const {
        ULONG v = Surface()->Pixel(x, y);
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    size_t NotWhite() const {
        const zq::gdi::Surface* s = Surface();
        size_t n = 0;
        for (LONG y = 0; y < s->sizlBitmap.cy; ++y)
            for (LONG x = 0; x < s->sizlBitmap.cx; ++x) n += s->Pixel(x, y) != 0xFFFFFF;
        return n;
    }
    // The extent of what is not white (right and bottom exclusive); right <
    // left when the page is blank.
    RECTL InkBox() const {
        const zq::gdi::Surface* s = Surface();
        RECTL ink{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
        for (LONG y = 0; y < s->sizlBitmap.cy; ++y)
            for (LONG x = 0; x < s->sizlBitmap.cx; ++x)
                if (s->Pixel(x, y) != 0xFFFFFF) {
                    ink.left = std::min(ink.left, x);
                    ink.top = std::min(ink.top, y);
                    ink.right = std::max(ink.right, x + 1);
                    ink.bottom = std::max(ink.bottom, y + 1);
                }
        return ink;
    }
};

