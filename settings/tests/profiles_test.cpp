// Personal profiles through the profile library beside the driver: saved,
// listed (built-ins first), applied, changed and deleted; and what the user
// is told when the library or one of its entries is missing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/msgbox.h"
#include "base/profile.h"
#include "settings/config_data.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/printer_devmode.h"
#include "settings/profiles.h"
#include "settings/tag_tables.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

#ifndef ZQ_DRVUI_FILE
#define ZQ_DRVUI_FILE ""
#endif
#ifndef ZQ_PROFUTIL_FILE
#define ZQ_PROFUTIL_FILE ""
#endif
#ifndef ZQ_FAKE_DLGUI_FILE
#define ZQ_FAKE_DLGUI_FILE ""
#endif
#ifndef ZQ_NO_PROFILE_ENTRIES_FILE
#define ZQ_NO_PROFILE_ENTRIES_FILE ""
#endif

namespace zq {
namespace {

struct Seen {
    std::vector<std::vector<uint32_t>> ids;
    std::vector<std::string> names;
    int answer = 7;
};
int Record(const ProfileEntry* e, void* data) {
    auto* seen = static_cast<Seen*>(data);
    seen->ids.emplace_back(e->id, e->id + 4);
    seen->names.emplace_back(e->name);
    return seen->answer;
}

// The driver loaded from a directory of the test's own, with or without a
// profile library beside it (`library`: the file that stands in for it).
class ProfilesTest : public testing::StoreRoot {
protected:
    void Load(const char* library, bool dialogs = false) {
        const std::filesystem::path dir = root_ / "driver";
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(ZQ_DRVUI_FILE, dir / "drvui.so");
        if (library != nullptr) std::filesystem::copy_file(library, dir / "profutil.so");
        if (dialogs) std::filesystem::copy_file(ZQ_FAKE_DLGUI_FILE, dir / "dlgui.so");
        module_ = LoadLibraryA((dir / "drvui.so").c_str());
        ASSERT_NE(module_, nullptr) << LastLoadError();
        ASSERT_EQ(GetModuleHandleA("drvui.dll"), module_) << "the driver copy stands for the driver";
        ASSERT_TRUE(WritePrivateProfileStringA("Zelquor Tarn 45 PCL XL", "Model", "Zelquor Tarn 45 XL", "pclrend.ini"));
        ASSERT_TRUE(testing::InstallDriver(u"Zelquor Tarn 45 PCL XL"));
        printer_ = testing::AddLocalPrinter(u"Office", u"Zelquor Tarn 45 PCL XL");
        ASSERT_NE(printer_, nullptr);
        ASSERT_EQ(GetPrinterDevmode(printer_, module_, record_, {}, 2), 1u);
    }
    void TearDown() override {
        if (printer_ != nullptr) ClosePrinter(printer_);
        if (module_ != nullptr) FreeLibrary(module_);
        StoreRoot::TearDown();
    }
    Seen List(uint32_t flags, const uint32_t id[4] = nullptr) {
        Seen seen;
        const uint32_t none[4] = {};
        const int last = EnumPersonalProfiles(nullptr, flags, id ? id : none, Record, &seen, 0, printer_);
        EXPECT_EQ(last, seen.ids.empty() ? 3 : 7) << "the last callback's answer, 3 when none was called";
        return seen;
    }

    HMODULE module_ = nullptr;
    HANDLE printer_ = nullptr;
    PrivateDevmode record_{};
};

TEST_F(ProfilesTest, SavedProfilesAreListedAppliedChangedAndDeleted) {
    Load(ZQ_PROFUTIL_FILE);
    const ModuleModelData model(module_);
    PrivateDevmode draft = record_;
    draft.dm.dmCopies = 3;
    uint32_t id[4] = {};
    ASSERT_EQ(WritePersonalProfile(nullptr, draft, kProfileKindUser, id, "Draft", "three copies", kScopeDocument,
                                   printer_, &model),
              0u);
    EXPECT_EQ(std::vector<uint32_t>(id, id + 4), (std::vector<uint32_t>{9, 1, 0, 0}));
    uint32_t shared[4] = {};
    PrivateDevmode wide = record_;
    wide.dm.dmOrientation = DMORIENT_LANDSCAPE;
    ASSERT_EQ(WritePersonalProfile(nullptr, wide, kProfileKindMachine, shared, "Wide", "", kScopeDocument, printer_,
                                   &model),
              0u);
    EXPECT_EQ(shared[0], 10u);
    // The same name again replaces the profile in place.
    uint32_t again[4] = {};
    ASSERT_EQ(WritePersonalProfile(nullptr, draft, kProfileKindUser, again, "Draft", "", kScopeDocument, printer_,
                                   &model),
              0u);
    EXPECT_EQ(std::vector<uint32_t>(again, again + 4), std::vector<uint32_t>(id, id + 4));

    // Built-ins first; the installed defaults only once a configuration
    // was installed.
    Seen seen = List(kListBuiltIn | kProfileKindUser | kProfileKindMachine);
    EXPECT_EQ(seen.names, (std::vector<std::string>{" Factory Defaults", "Draft", "Wide"}));
    ASSERT_FALSE(seen.ids.empty());
    EXPECT_EQ(seen.ids[0], (std::vector<uint32_t>{1, 0, 0, 0}));
    const uint8_t installed[] = {1, 2, 3};
    SetPrinterDataA(printer_, const_cast<LPSTR>("DCD_InstalledDocDefaults"), REG_BINARY,
                    const_cast<LPBYTE>(installed), sizeof installed);
    seen = List(kListBuiltIn | kProfileKindUser);
    EXPECT_EQ(seen.names, (std::vector<std::string>{" Factory Defaults", " Installed Defaults", "Draft"}));
    EXPECT_EQ(List(kProfileKindMachine, shared).names, (std::vector<std::string>{"Wide"}));
    EXPECT_TRUE(List(0).names.empty());

    PrivateDevmode target = record_;
    target.profileKind = 4;
    ASSERT_EQ(ReadPersonalProfile("Office", 9, id, kScopeDocument, target, printer_, &model), 0u);
    EXPECT_EQ(target.dm.dmCopies, 3);
    EXPECT_EQ(target.profileKind, 0u);

    ASSERT_EQ(ChangePersonalProfile(nullptr, wide, kProfileKindUser, id, "Draft", kScopeDocument, printer_, &model),
              0u);
    target = record_;
    ASSERT_EQ(ReadPersonalProfile("Office", 9, id, kScopeDocument, target, printer_, &model), 0u);
    EXPECT_EQ(target.dm.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(target.dm.dmCopies, 1);
    ASSERT_EQ(ChangePersonalProfileInfo(nullptr, record_, "Landscape", id, "now wide"), 0u);
    EXPECT_EQ(List(kProfileKindUser).names, (std::vector<std::string>{"Landscape"}));

    ASSERT_EQ(DeletePersonalProfile(nullptr, kProfileKindUser, id, nullptr), 0u);
    EXPECT_NE(DeletePersonalProfile(nullptr, kProfileKindUser, id, nullptr), 0u);
    target = record_;
    EXPECT_EQ(ReadPersonalProfile("Office", 9, id, kScopeDocument, target, printer_, &model), kProfileMissing);
    EXPECT_EQ(target.dm.dmCopies, record_.dm.dmCopies);
}

TEST_F(ProfilesTest, MissingLibraryIsToldOnceAndAnswered) {
    Load(nullptr);
    ScopedMessageBoxScript boxes;
    const uint32_t id[4] = {9, 1, 0, 0};
    PrivateDevmode target = record_;
    EXPECT_EQ(ReadPersonalProfile("Office", 9, id, kScopeDocument, target, printer_, nullptr), kProfileNoLibrary);
    EXPECT_EQ(LoadDcdFile("Office", "C:\\x.dcd", "x", 0, kScopeAll, target, printer_, nullptr), -1);
    const auto shown = MessageBoxService::Shown();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& box : shown) {
        EXPECT_EQ(box.caption, "Office");
        EXPECT_NE(box.text.find("(profutil.DLL)1[0x0000]"), std::string::npos) << box.text;
    }
    // The other operations answer 3 without a word.
    uint32_t out[4] = {};
    EXPECT_EQ(WritePersonalProfile(nullptr, record_, kProfileKindUser, out, "A", "", kScopeDocument, printer_,
                                   nullptr),
              kProfileMissing);
    EXPECT_EQ(DeletePersonalProfile(nullptr, kProfileKindUser, id, nullptr), kProfileMissing);
    EXPECT_EQ(ChangePersonalProfileInfo(nullptr, record_, "B", id, ""), kProfileMissing);
    EXPECT_TRUE(List(kProfileKindUser | kProfileKindMachine).names.empty());
    EXPECT_EQ(MessageBoxService::Shown().size(), 2u);
    EXPECT_EQ(std::memcmp(&target, &record_, sizeof target), 0) << "nothing was applied";
}

TEST_F(ProfilesTest, MissingEntryNamesTheEntry) {
    Load(ZQ_NO_PROFILE_ENTRIES_FILE);
    ScopedMessageBoxScript boxes;
    const uint32_t id[4] = {9, 1, 0, 0};
    PrivateDevmode target = record_;
    EXPECT_EQ(ReadPersonalProfile("Office", 9, id, kScopeDocument, target, printer_, nullptr), kProfileNoLibrary);
    EXPECT_EQ(LoadDcdFile("Office", "C:\\x.dcd", "x", 0, kScopeAll, target, printer_, nullptr), -1);
    const auto shown = MessageBoxService::Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[0].text.find("1[0x0004]"), std::string::npos) << shown[0].text;
    EXPECT_NE(shown[1].text.find("1[0x0003]"), std::string::npos) << shown[1].text;
}

TEST_F(ProfilesTest, TranslatedTextsAreUsedAsFormatsSafely) {
    Load(ZQ_PROFUTIL_FILE, true);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelquor\\DrvCfg\\Second", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const auto& [name, text] : {std::pair{u"DCDConfigFile", std::u16string(u"C:\\none.dcd")},
                                     std::pair{u"DCDShortDesc", std::u16string(u"Desk")}}) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * 2));
    }
    RegCloseKey(key);
    HANDLE second = testing::AddLocalPrinter(u"Second", u"Zelquor Tarn 45 PCL XL");
    ASSERT_NE(second, nullptr);
    ScopedMessageBoxScript boxes;
    MessageBoxService::Queue(IDCANCEL);
    PrivateDevmode r{};
    ASSERT_EQ(GetPrinterDevmode(second, module_, r, {}, 2), 1u);
    ClosePrinter(second);
    const auto shown = MessageBoxService::Shown();
    ASSERT_EQ(shown.size(), 1u);
    // Strings 3, 4 and 5 joined; the printer name for the one %s, the
    // translation's own conversions kept as text.
    EXPECT_EQ(shown[0].text, "Zelquor could not read the configuration file of Second (%d%n).");
    EXPECT_EQ(shown[0].caption, "Printer configuration");
    // The built-in profiles are named by the dialog library.
    Seen seen = List(kListBuiltIn);
    EXPECT_EQ(seen.names, (std::vector<std::string>{"Factory settings"}));
}

}  // namespace
}  // namespace zq
