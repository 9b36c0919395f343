// The uninstall log: components and shared components, the tree walk, the
// special lists, saving (and deleting on save), and the older forms.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "postinst/registry.h"
#include "postinst/uninstall_log.h"
#include "postinst_fixture.h"

namespace fs = std::filesystem;
using namespace postinst;

namespace {

class ULog : public postinst::testing::PostinstRoot {
protected:
    void SetUp() override {
        PostinstRoot::SetUp();
        fs::create_directories(Host("c/windows/system32"));
    }
    std::string Saved() {
        std::ifstream in(Host("c/windows/system32/ZelFiles.ulf"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(ULog, ComponentsAndSaving) {
    UninstallLog log(false, "OEM1");
    EXPECT_FALSE(log.AddComponent("Drivers", "drivers", false));
    EXPECT_EQ(CountLines("UninstallLog::AddComponent: Drivers: cannot be the same as its parent"), 1u);
    EXPECT_TRUE(log.AddComponent("Kovrant", "", true));  // no parent: nothing changes
    EXPECT_TRUE(log.Sections().empty());
    ASSERT_TRUE(log.AddComponent("Drivers", "Install", false));
    ASSERT_TRUE(log.AddComponent("Kovrant", "Install", true));
    ASSERT_TRUE(log.AddComponent("Port LPT1", "Drivers", false));
    log.itemSection(1, "Drivers", true)->SetValue("C:\\WINDOWS\\pclrend.ini", "1");
    log.itemSection(2, "Drivers", true)->SetValue("C:\\WINDOWS\\shared.dll", "2");
    log.itemSection(3, "Kovrant", true)->SetValue("HKLM,SOFTWARE\\Zelquor", "1");
    ASSERT_TRUE(log.Save());
    EXPECT_EQ(Saved(),
              "[Install]\r\nDrivers,OEM1=1\r\nKovrant=1\r\n\r\n"
              "[Kovrant_Special]\r\nShared=1\r\nInstalledBy=OEM1\r\n\r\n"
              "[Drivers,OEM1]\r\nPort LPT1,OEM1=1\r\n\r\n"
              "[Drivers_Files,OEM1]\r\nC:\\WINDOWS\\pclrend.ini=1\r\nC:\\WINDOWS\\shared.dll=2\r\n\r\n"
              "[Kovrant_Reg]\r\nHKLM,SOFTWARE\\Zelquor=1\r\n\r\n");
    std::set<std::string, IniKeyLess> items;
    log.GetItems(2, "Drivers", items);
    EXPECT_EQ(items, (std::set<std::string, IniKeyLess>{"C:\\WINDOWS\\shared.dll"}));
    EXPECT_EQ(log.getSection(9, "Drivers"), "");
    EXPECT_EQ(CountLines("UninstallLog::getSection: invalid item type 9"), 1u);
    // Breadth first, case ignored.
    EXPECT_EQ(log.FindParent("port lpt1"), "Drivers");
    EXPECT_EQ(log.FindParent("KOVRANT"), "Install");
    EXPECT_EQ(log.FindParent("nowhere"), "");
    // Removing a private component drops it and what is below it.
    EXPECT_TRUE(log.RemoveComponent("Drivers", false));
    EXPECT_EQ(log.FindSection("Drivers_Files,OEM1"), nullptr);
    EXPECT_EQ(log.FindSection("Drivers,OEM1"), nullptr);
    EXPECT_EQ(log.FindParent("Drivers"), "");
    // Delete on save removes the file.
    log.SetDeleteOnSave(true);
    EXPECT_TRUE(log.Save());
    EXPECT_FALSE(fs::exists(Host("c/windows/system32/ZelFiles.ulf")));
}

// One shared component of two installations: each lists itself once, and
// removing it for one leaves the other.
TEST_F(ULog, SharedComponentsCountTheirInstallations) {
    UninstallLog log(false, "OEM1");
    ASSERT_TRUE(log.AddComponent("Kovrant", "Install", true));
    ASSERT_TRUE(log.AddComponent("Kovrant", "Install", true));
    log.SetQualifier("oem2");
    ASSERT_TRUE(log.AddComponent("Kovrant", "Install", true));
    log.SetQualifier("OEM2");
    ASSERT_TRUE(log.AddComponent("Kovrant", "Install", true));
    EXPECT_EQ(log.GetSpecial("Kovrant", "InstalledBy"), "OEM1,oem2");
    std::vector<std::string> children;
    log.GetChildren("Install", false, children);
    EXPECT_EQ(children, std::vector<std::string>{"Kovrant"});
    EXPECT_TRUE(log.RemoveComponent("Kovrant", true));
    EXPECT_EQ(log.GetSpecial("Kovrant", "InstalledBy"), "OEM1");
    children.clear();
    log.GetChildren("Install", false, children);
    EXPECT_TRUE(children.empty());
    children.clear();
    log.GetChildren("Install", true, children);
    EXPECT_EQ(children, std::vector<std::string>{"Kovrant"});
}

TEST_F(ULog, ListsAndMoves) {
    UninstallLog log(false, "Q");
    log.SetSpecial("C", "L", "a,");
    log.AddToList("C", "L", "b");
    log.AddToList("C", "L", "B");
    EXPECT_EQ(log.GetSpecial("C", "L"), "a,b");
    log.AddToList("C", "M", "x");
    EXPECT_EQ(log.GetSpecial("C", "M"), "x");
    EXPECT_TRUE(log.IsInList("C", "L", "A"));
    log.RemoveFromList("C", "L", "A");
    EXPECT_EQ(log.GetSpecial("C", "L"), "b");
    ASSERT_TRUE(log.AddComponent("Tools", "Install", true));
    ASSERT_TRUE(log.AddComponent("Kovrant", "Tools", true));
    EXPECT_FALSE(log.ChangeComponent("Kovrant", "Install", "Tools", true, false));
    EXPECT_TRUE(log.ChangeComponent("Kovrant", "Tools", "Install", true, true));
    EXPECT_EQ(CountLines("UninstallLog::ChangeComponent: need to remove Tools"), 1u);
    EXPECT_EQ(log.FindParent("Kovrant"), "Install");
}

// The older INI form: renamed components, the children of "Install" marked
// shared, a "Generic" driver list entry read as "OEM"; the old file goes
// once converted and saved.
TEST_F(ULog, TheOlderFileFormConverts) {
    WriteHost("c/windows/system32/ZelFiles.usr",
              "[Install]\r\nZelDriverSet=1\r\n[ZelDriverSet]\r\nPort LPT1=1\r\n[ZelDriverSet_Files]\r\n"
              "C:\\WINDOWS\\pclrend.ini=1\r\n[DriverList_Special]\r\nZelquor Mira 12 PCL=Generic\r\n"
              "Zelquor Tarn 45 PCL XL=Maker\r\n");
    UninstallLog log(false, "OEM1");
    ASSERT_TRUE(log.Load(false, true));
    EXPECT_FALSE(fs::exists(Host("c/windows/system32/ZelFiles.usr")));
    EXPECT_EQ(Saved(),
              "[Install]\r\nDrivers=1\r\n\r\n[Drivers]\r\nPort LPT1=1\r\n\r\n"
              "[Drivers_Files]\r\nC:\\WINDOWS\\pclrend.ini=1\r\n\r\n"
              "[DriverList_Special,OEM_HostCD]\r\nZelquor Mira 12 PCL=1\r\n\r\n"
              "[DriverList_Special,Maker_HostCD]\r\nZelquor Tarn 45 PCL XL=1\r\n\r\n"
              "[Drivers_Special]\r\nInstalledBy=OEM1\r\nShared=1\r\n\r\n"
              "[Port LPT1_Special]\r\nInstalledBy=OEM1\r\nShared=1\r\n\r\n");
    EXPECT_TRUE(log.IsShared("Drivers"));
}

// The registry form with its log file; both go when asked.
TEST_F(ULog, TheRegistryFormConverts) {
    RegistryValue v;
    v.kind = RegistryValue::kString;
    v.text = "1";
    Registry().CreateKey("HKLM", "Software\\Zelquor\\UnstLog\\Install", false);
    Registry().CreateKey("HKLM", "Software\\Zelquor\\UnstLog\\Driver Mira", false);
    Registry().WriteValue("HKLM", "Software\\Zelquor\\UnstLog\\Install", "ZelUninst", v);
    Registry().WriteValue("HKLM", "Software\\Zelquor\\UnstLog\\Driver Mira", "C:\\WINDOWS\\pclrend.ini", v);
    WriteHost("c/windows/system32/Zelfiles.log", "[ZelUninst_Reg]\r\nHKLM,SOFTWARE\\Zelquor=1\r\n");
    UninstallLog log(false, "OEM1");
    ASSERT_TRUE(log.Load(true, true));
    EXPECT_FALSE(fs::exists(Host("c/windows/system32/Zelfiles.log")));
    EXPECT_FALSE(Registry().ValueExists("HKLM", "Software\\Zelquor\\UnstLog\\Install", "ZelUninst"));
    std::string value;
    std::string names;
    for (const auto& sec : log.Sections()) names += sec->Name() + ";";
    ASSERT_NE(log.FindSection("Driver Mira,OEM1"), nullptr) << names;
    EXPECT_TRUE(log.FindSection("Uninstaller_Reg")->GetValue("HKLM,SOFTWARE\\Zelquor", value));
    EXPECT_TRUE(log.IsShared("Uninstaller"));
}

TEST_F(ULog, TheProcessLogLoadsNothing) {
    WriteHost("c/windows/system32/ZelFiles.ulf", "[Install]\r\nX=1\r\n");
    EXPECT_TRUE(ProcessUninstallLog().Sections().empty());
}

}  // namespace
