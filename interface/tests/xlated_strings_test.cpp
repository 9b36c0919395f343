// Strings of the dialog library and files beside the driver.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/files.h"
#include "base/loader.h"
#include "base/paths.h"
#include "interface/dialog_library.h"
#include "base/text.h"
#include "interface/ui_utils.h"
#include "testing/fresh_root.h"

namespace zq {
namespace {

using XlatedStringsTest = testing::FreshRoot;

TEST_F(XlatedStringsTest, StringsComeFromTheDialogLibraryExport) {
    char buffer[8] = "keep";
    EXPECT_EQ(CallLoadXlatedString(nullptr, 0, 13, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "keep");
    HMODULE instrec = LoadLibraryA(ZQ_FAKE_INSTREC);
    ASSERT_NE(instrec, nullptr);
    EXPECT_EQ(CallLoadXlatedString(instrec, 0, 13, buffer, sizeof buffer), 0);  // no such export
    EXPECT_STREQ(buffer, "keep");
    FreeLibrary(instrec);
    HMODULE dialogs = LoadLibraryA(ZQ_FAKE_DLGUI);
    ASSERT_NE(dialogs, nullptr);
    EXPECT_EQ(CallLoadXlatedString(dialogs, 0, 3, buffer, sizeof buffer), 7);
    EXPECT_STREQ(buffer, "Zelquor");
    EXPECT_EQ(CallLoadXlatedString(dialogs, 0, 13, buffer, 5), 4);
    EXPECT_STREQ(buffer, "Devi");
    EXPECT_EQ(CallLoadXlatedString(dialogs, 0, 0, buffer, sizeof buffer), 0);
    FreeLibrary(dialogs);
}

TEST_F(XlatedStringsTest, FilesAreFoundBesideTheDriver) {
    // The driver as installed: in the driver directory of the root.
    const std::string dir = "C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3\\";
    const auto hostDir = MapPath(AnsiToWide(dir));
    ASSERT_TRUE(hostDir);
    std::filesystem::create_directories(*hostDir);
    HMODULE built = LoadLibraryA("drvui.dll");
    ASSERT_NE(built, nullptr);
    char builtPath[MAX_PATH + 1] = {};
    ASSERT_GT(GetModuleFileNameA(built, builtPath, sizeof builtPath), 0u);
    FreeLibrary(built);
    std::filesystem::copy_file(builtPath, *hostDir / "drvui.so");
    HMODULE driver = LoadLibraryA((dir + "drvui.dll").c_str());
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(DriverModule(), driver);
    std::ofstream(*hostDir / "fontdb.dfm") << "data";
    // Found beside the driver when the named place lacks it.
    const HFILE h = OpenFileBesideModule("C:\\nowhere\\fontdb.dfm", OF_READ);
    EXPECT_GT(h, 0);
    char got[4] = {};
    if (h > 0) {
        EXPECT_EQ(_lread(h, got, 4), 4u);
        _lclose(h);
    }
    EXPECT_EQ(std::string(got, 4), "data");
    EXPECT_LE(OpenFileBesideModule("C:\\nowhere\\missing.dfm", OF_READ), 0);
    FreeLibrary(driver);
}

}  // namespace
}  // namespace zq
