// The per-user copy: key names, where the key lies for a user and for the
// default user, and which copy of the record a user sees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/user_settings.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "settings/tests/office_printer.h"

namespace zq {
namespace {

TEST(UserSettings, KeyNameTurnsBackslashesIntoCommas) {
    struct Case {
        const char16_t* name;
        std::optional<std::u16string> key;
    };
    const Case cases[] = {
        {u"\\\\srv\\q", u",,srv,q"},
        {u"Office", u"Office"},
        {u"a\\b\\\\c", u"a,b,,c"},
        {u"", std::nullopt},
        {nullptr, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(PrinterNameToKeyName(c.name), c.key);
}

class UserSettingsTest : public testing::OfficePrinter {
protected:
    void SetUserValue(const char16_t* name, const std::vector<uint8_t>& bytes) {
        HKEY key = nullptr;
        ASSERT_TRUE(OpenUserPrinterKey(printer_, HKEY_CURRENT_USER, &key, nullptr, nullptr));
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void SetPrinterValue(const char* name, const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> copy = bytes;
        ASSERT_EQ(SetPrinterDataA(printer_, const_cast<LPSTR>(name), REG_BINARY, copy.data(),
                                  static_cast<DWORD>(copy.size())),
                  0u);
    }
};

TEST_F(UserSettingsTest, KeyLiesUnderTheUserOrTheDefaultUserAndNowhereElse) {
    HKEY key = nullptr;
    char16_t path[kUserKeyPathMax + 1] = {};
    ASSERT_TRUE(OpenUserPrinterKey(printer_, HKEY_CURRENT_USER, &key, nullptr, path));
    EXPECT_EQ(std::u16string(path), u"Software\\Zelquor\\Printers\\Office");
    RegCloseKey(key);
    HKEY check = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, u"tester\\Software\\Zelquor\\Printers\\Office", 0, KEY_READ, &check),
              ERROR_SUCCESS);
    RegCloseKey(check);

    ASSERT_TRUE(OpenUserPrinterKey(printer_, HKEY_USERS, &key, u",,srv,q", path));
    EXPECT_EQ(std::u16string(path), u".DEFAULT\\Software\\Zelquor\\Printers\\,,srv,q");
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, u".DEFAULT\\Software\\Zelquor\\Printers\\,,srv,q", 0, KEY_READ, &check),
              ERROR_SUCCESS);
    RegCloseKey(check);

    key = reinterpret_cast<HKEY>(1);
    EXPECT_FALSE(OpenUserPrinterKey(printer_, HKEY_LOCAL_MACHINE, &key, nullptr, nullptr));
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(OpenUserPrinterKey(nullptr, HKEY_CURRENT_USER, &key, u"Office", nullptr));
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zelquor\\Printers\\Office", 0, KEY_READ, &check),
              ERROR_FILE_NOT_FOUND);

    // The path may hold 264 characters and no more.
    const size_t prefix = std::u16string_view(u"Software\\Zelquor\\Printers\\").size();
    const std::u16string longest(kUserKeyPathMax - prefix, u'n');
    ASSERT_TRUE(OpenUserPrinterKey(printer_, HKEY_CURRENT_USER, &key, longest.c_str(), path));
    EXPECT_EQ(std::u16string(path).size(), kUserKeyPathMax);
    RegCloseKey(key);
    const std::u16string tooLong = longest + u"n";
    EXPECT_FALSE(OpenUserPrinterKey(printer_, HKEY_CURRENT_USER, &key, tooLong.c_str(), path));
    EXPECT_EQ(key, nullptr);
}

TEST_F(UserSettingsTest, UserValuesAreReadOnlyForTheCurrentUser) {
    SetUserValue(u"DefDrvCfgData", {1, 2, 3});
    EXPECT_EQ(ReadUserValue(printer_, HKEY_CURRENT_USER, nullptr, u"DefDrvCfgData", nullptr),
              (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ReadUserValue(printer_, HKEY_USERS, nullptr, u"DefDrvCfgData", nullptr), std::nullopt);
    EXPECT_EQ(ReadUserValue(printer_, HKEY_CURRENT_USER, nullptr, u"Missing", nullptr), std::nullopt);
    EXPECT_EQ(ReadUserValue(printer_, HKEY_CURRENT_USER, nullptr, nullptr, nullptr), std::nullopt);
    // A key the caller holds open is used and left open.
    HKEY key = nullptr;
    ASSERT_TRUE(OpenUserPrinterKey(printer_, HKEY_CURRENT_USER, &key, nullptr, nullptr));
    EXPECT_EQ(ReadUserValue(printer_, HKEY_CURRENT_USER, key, u"DefDrvCfgData", nullptr),
              (std::vector<uint8_t>{1, 2, 3}));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"DefDrvCfgData", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(UserSettingsTest, UserSeesTheirCopyWhenWholeElseThePrinters) {
    const std::vector<uint8_t> user(1256, 0xAA), printerCopy(1256, 0xBB);
    struct Case {
        const char* what;
        std::optional<size_t> userSize, printerSize;
        uint32_t result;
        uint8_t seen;  // the byte the output then holds; 0: unchanged
    };
    const Case cases[] = {
        {"user copy wins", 1256, 1256, 0, 0xAA},
        {"a 1255-byte user copy is ignored", 1255, 1256, 0, 0xBB},
        {"a 1255-byte printer copy fails", std::nullopt, 1255, 13, 0},
        {"a longer printer copy fails", std::nullopt, 1300, 13, 0},
        {"no copy at all", std::nullopt, std::nullopt, 13, 0},
        {"only the user's", 1256, std::nullopt, 0, 0xAA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HKEY key = nullptr;
        ASSERT_TRUE(OpenUserPrinterKey(printer_, HKEY_CURRENT_USER, &key, nullptr, nullptr));
        RegDeleteValueW(key, u"CurrentDevmode");
        RegCloseKey(key);
        DeletePrinterDataA(printer_, const_cast<LPSTR>("CurrentDevmode"));
        if (c.userSize) SetUserValue(u"CurrentDevmode", std::vector<uint8_t>(*c.userSize, 0xAA));
        if (c.printerSize) SetPrinterValue("CurrentDevmode", std::vector<uint8_t>(*c.printerSize, 0xBB));
        std::vector<uint8_t> out(1256, 0);
        EXPECT_EQ(ReadUserDevmode(printer_, u"CurrentDevmode", out), c.result);
        EXPECT_EQ(out, std::vector<uint8_t>(1256, c.seen));
    }
    std::vector<uint8_t> out(1256, 0);
    EXPECT_EQ(ReadUserDevmode(nullptr, u"CurrentDevmode", out), 87u);
}

}  // namespace
}  // namespace zq
