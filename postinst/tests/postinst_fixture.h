// A fresh root with the spooler's database, a driver and a printer, the
// media folder C:\media with the package's INF and its files, and the
// flight recorder writing to C:\postinst.log.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "postinst/debug_log.h"
#include "postinst/registry.h"
#include "testing/printer_fixture.h"

namespace postinst::testing {

inline std::filesystem::path Source(const std::string& relative) {
    const char* src = std::getenv("ZQ_SOURCE_DIR");
    return std::filesystem::path(src ? src : "../..") / relative;
}

inline std::filesystem::path Built(const std::string& relative) {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    return std::filesystem::path(bin ? bin : ".") / relative;
}

class PostinstRoot : public zq::testing::StoreRoot {
protected:
    void SetUp() override {
        StoreRoot::SetUp();
        Registry reg;
        reg.CreateKey("HKLM", "SOFTWARE\\Zelquor", false);
        SetString("KovrantDebug", "C:\\postinst.log");
        DebugLog::Instance().SetFile("C:\\postinst.log");
    }
    void TearDown() override {
        DebugLog::Instance().SetFile("");
        StoreRoot::TearDown();
    }

    void SetString(const std::string& name, const std::string& text) {
        RegistryValue v;
        v.kind = RegistryValue::kString;
        v.text = text;
        Registry().WriteValue("HKLM", "SOFTWARE\\Zelquor", name, v);
    }

    void Media(const std::string& inf = "postinst/res/zelquor.inf") {
        std::filesystem::create_directories(Host("c/media"));
        std::filesystem::copy_file(Source(inf), Host("c/media/zelquor.inf"));
        std::filesystem::copy_file(Source("postinst/tests/data/samples.zip"), Host("c/media/samples.zip"));
        std::filesystem::copy_file(Source("postinst/tests/data/pclrend.in_"), Host("c/media/pclrend.in_"));
        // The language monitor the system's installer adds from the INF.
        std::string name = "Zelquor Language Monitor", env = "Windows NT x86", dll = "zqlmon.dll";
        MONITOR_INFO_2A m{name.data(), env.data(), dll.data()};
        AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&m));
    }

    // The driver's files in the version directory, where the installer put
    // them (placeholders: nothing loads them).
    void DriverFiles(const std::vector<std::string>& names = {"pclrend.dll", "drvui.dll"}) {
        auto dir = Host("c/windows/system32/spool/drivers/w32x86/3");
        std::filesystem::create_directories(dir);
        for (const auto& n : names) std::ofstream(dir / n) << n;
    }

    void Printer(const std::u16string& name = u"P1", const std::u16string& driver = u"Zelquor Mira 12 PCL") {
        DriverFiles();
        ASSERT_TRUE(zq::testing::InstallDriver(driver));
        HANDLE p = zq::testing::AddLocalPrinter(name, driver);
        ASSERT_NE(p, nullptr);
        ClosePrinter(p);
    }

    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        std::ifstream in(Host("c/postinst.log"), std::ios::binary);
        std::string l;
        while (std::getline(in, l)) {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            lines.push_back(l);
        }
        return lines;
    }

    size_t CountLines(const std::string& part) {
        DebugLog::Instance().Flush();
        size_t n = 0;
        for (auto& l : LogLines()) n += l.find(part) != std::string::npos;
        return n;
    }
};

}  // namespace postinst::testing
