#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/diag.h"
#include "base/msgbox.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace {

class SystemSeeds : public zq::testing::StoreRoot {
protected:
    std::string Read(HKEY root, const char* path, const char* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
        char buffer[300] = {};
        DWORD size = sizeof buffer, type = 0;
        LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
        RegCloseKey(key);
        return r == ERROR_SUCCESS && type == REG_SZ ? buffer : "<no value>";
    }
};

TEST_F(SystemSeeds, AFreshRootIsWindows2000WithItsFolders) {
    const char* cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const char* shell = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    struct Case {
        HKEY root;
        const char* path;
        const char* name;
        const char* value;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion", "5.0"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CSDVersion", "Service Pack 4"},
        {HKEY_LOCAL_MACHINE, cv, "ProgramFilesDir", "C:\\Program Files"},
        {HKEY_LOCAL_MACHINE, cv, "CommonFilesDir", "C:\\Program Files\\Common Files"},
        {HKEY_LOCAL_MACHINE, cv, "VersionNumber", "<no value>"},  // no 9x version beside the NT one
        {HKEY_LOCAL_MACHINE, shell, "Common Programs", "C:\\Documents and Settings\\All Users\\Start Menu\\Programs"},
        {HKEY_LOCAL_MACHINE, shell, "Common Desktop", "C:\\Documents and Settings\\All Users\\Desktop"},
        {HKEY_CURRENT_USER, shell, "Programs", "C:\\Documents and Settings\\tester\\Start Menu\\Programs"},
        {HKEY_CURRENT_USER, shell, "SendTo", "C:\\Documents and Settings\\tester\\SendTo"},
        {HKEY_USERS, ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Desktop",
         "C:\\Documents and Settings\\Default User\\Desktop"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Read(c.root, c.path, c.name), c.value);
    }
}

TEST_F(SystemSeeds, DocumentPropertiesNeedsThePrintersInterfaceDriver) {
    // The driver's configuration file is not in the root: the calls that
    // the interface driver answers fail, prompt or not, and the printer
    // keeps no DEVMODE.
    ASSERT_TRUE(zq::testing::InstallDriver(u"Zelquor Test"));
    HANDLE added = zq::testing::AddLocalPrinter(u"P", u"Zelquor Test");
    ASSERT_NE(added, nullptr);
    ClosePrinter(added);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("P"), &printer, nullptr));
    zq::DiagCapture capture;
    EXPECT_EQ(DocumentPropertiesA(nullptr, printer, const_cast<LPSTR>("P"), nullptr, nullptr, 4), -1);
    EXPECT_EQ(DocumentPropertiesA(nullptr, printer, const_cast<LPSTR>("P"), nullptr, nullptr, 0), -1);
    EXPECT_FALSE(capture.Matching("configuration file does not load").empty());
    EXPECT_EQ(DeviceCapabilitiesA("P", nullptr, 2, nullptr, nullptr), -1);
    ClosePrinter(printer);
    EXPECT_EQ(DocumentPropertiesA(nullptr, printer, const_cast<LPSTR>("P"), nullptr, nullptr, 4), -1);
}

TEST_F(SystemSeeds, ADriverWithoutADefaultIsAskedOncePerHandleWhileThePrinterKeepsIt) {
    // Level 2 of a printer without a DEVMODE asks its driver for a default
    // (each ask loads the driver's configuration file, here missing): asked
    // once through a handle, again through another handle, and again when
    // the printer takes another driver.
    ASSERT_TRUE(zq::testing::InstallDriver(u"Zelquor Test"));
    ASSERT_TRUE(zq::testing::InstallDriver(u"Zelquor Other"));
    HANDLE added = zq::testing::AddLocalPrinter(u"P", u"Zelquor Test");
    ASSERT_NE(added, nullptr);
    ClosePrinter(added);
    zq::DiagCapture capture;
    const auto asks = [&] { return capture.Matching("configuration file does not load").size(); };
    const auto level2 = [](HANDLE printer) {
        DWORD needed = 0;
        GetPrinterW(printer, 2, nullptr, 0, &needed);
        std::vector<BYTE> info(needed);
        EXPECT_TRUE(GetPrinterW(printer, 2, info.data(), needed, &needed));
        EXPECT_EQ(reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode, nullptr) << "no default to be had";
        return info;
    };
    HANDLE first = nullptr, second = nullptr;
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("P"), &first, nullptr));
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("P"), &second, nullptr));
    for (int i = 0; i < 3; ++i) level2(first);
    EXPECT_EQ(asks(), 1u);
    level2(second);
    level2(second);
    EXPECT_EQ(asks(), 2u);
    std::vector<BYTE> info = level2(first);
    auto* p2 = reinterpret_cast<PRINTER_INFO_2W*>(info.data());
    p2->pDriverName = const_cast<LPWSTR>(u"Zelquor Other");
    ASSERT_TRUE(SetPrinterW(first, 2, info.data(), 0));
    level2(first);
    level2(first);
    EXPECT_EQ(asks(), 3u) << "the printer's new driver is asked";
    ClosePrinter(first);
    ClosePrinter(second);
}

}  // namespace
