// The registry calls as their callers rely on them: size queries, short
// buffers, missing values, names without regard to case, the roots.
#include <cstring>
#include <string>
#include <vector>

#include "store/registry.h"
#include "testing/printer_fixture.h"

namespace {

using StoreTest = zq::testing::StoreRoot;

using RegistryTest = StoreTest;

struct Key {
    HKEY h = nullptr;
    ~Key() {
        if (h) RegCloseKey(h);
    }
};

std::vector<BYTE> Bytes(std::u16string_view s) {
    std::vector<BYTE> b((s.size() + 1) * 2, 0);
    std::memcpy(b.data(), s.data(), s.size() * 2);
    return b;
}

TEST_F(RegistryTest, QueryValueSizeProtocol) {
    Key k;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Zelquor\\Test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &k.h, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    auto text = Bytes(u"hello");
    ASSERT_EQ(RegSetValueExW(k.h, u"Text", 0, REG_SZ, text.data(), static_cast<DWORD>(text.size())), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k.h, u"Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);

    struct Case {
        const char16_t* name;
        bool withBuffer;
        DWORD size;
        LONG rc;
        DWORD sizeAfter;
        DWORD type;
    };
    const Case cases[] = {
        {u"Text", false, 0, ERROR_SUCCESS, 12, REG_SZ},      // size query
        {u"TEXT", true, 4, ERROR_MORE_DATA, 12, REG_SZ},     // short buffer, other case
        {u"text", true, 12, ERROR_SUCCESS, 12, REG_SZ},      // exact
        {u"Empty", true, 0, ERROR_SUCCESS, 0, REG_BINARY},   // zero-length value
        {u"Missing", true, 64, ERROR_FILE_NOT_FOUND, 64, 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        BYTE buffer[64] = {};
        DWORD size = c.size, type = 99;
        EXPECT_EQ(RegQueryValueExW(k.h, c.name, nullptr, &type, c.withBuffer ? buffer : nullptr, &size), c.rc);
        EXPECT_EQ(size, c.sizeAfter);
        EXPECT_EQ(type, c.type);
    }
    BYTE out[12];
    DWORD size = sizeof out;
    ASSERT_EQ(RegQueryValueExW(k.h, u"Text", nullptr, nullptr, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(0, std::memcmp(out, text.data(), 12));
}

TEST_F(RegistryTest, AnsiAndWideFormsMeetInOneValue) {
    Key k;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelquor", &k.h), ERROR_SUCCESS);
    const char narrow[] = "caf\xe9";  // Latin-1 e acute
    ASSERT_EQ(RegSetValueExA(k.h, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(narrow), sizeof narrow),
              ERROR_SUCCESS);
    char16_t wide[8] = {};
    DWORD size = sizeof wide;
    ASSERT_EQ(RegQueryValueExW(k.h, u"NAME", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::u16string(wide), u"caf\u00e9");
    // The A form answers the narrow size and text.
    char back[8] = {};
    size = 0;
    ASSERT_EQ(RegQueryValueExA(k.h, "name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    ASSERT_EQ(RegQueryValueExA(k.h, "name", nullptr, nullptr, reinterpret_cast<BYTE*>(back), &size), ERROR_SUCCESS);
    EXPECT_STREQ(back, narrow);
    // Binary data is never converted.
    const BYTE bin[3] = {0x41, 0, 0x42};
    ASSERT_EQ(RegSetValueExA(k.h, "Bin", 0, REG_BINARY, bin, 3), ERROR_SUCCESS);
    BYTE got[3];
    size = 3;
    ASSERT_EQ(RegQueryValueExW(k.h, u"Bin", nullptr, nullptr, got, &size), ERROR_SUCCESS);
    EXPECT_EQ(0, std::memcmp(got, bin, 3));
}

TEST_F(RegistryTest, OpenCreateDeleteAndErrors) {
    Key missing;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nothing", 0, KEY_READ, &missing.h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.h, nullptr);

    Key a, b;
    ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, u"Software\\A\\B", &b.h), ERROR_SUCCESS);
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\a", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &a.h,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    // A key with subkeys stays; leaves go first.
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(a.h, u"b"), ERROR_SUCCESS);
    // The handle of a deleted key reports it.
    DWORD v = 1;
    EXPECT_EQ(RegSetValueExW(b.h, u"x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\A"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\A"), ERROR_FILE_NOT_FOUND);

    // A key opened for reading refuses writes.
    Key ro;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &ro.h), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(ro.h, u"x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(ro.h, u"x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, EnumerationAndInfo) {
    Key k;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Enum", &k.h), ERROR_SUCCESS);
    for (auto* name : {u"Zeta", u"alpha", u"Mid"}) {
        Key sub;
        ASSERT_EQ(RegCreateKeyW(k.h, name, &sub.h), ERROR_SUCCESS);
    }
    DWORD one = 1;
    auto longText = Bytes(u"a longer text");
    ASSERT_EQ(RegSetValueExW(k.h, u"Second", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k.h, u"First", 0, REG_SZ, longText.data(), static_cast<DWORD>(longText.size())),
              ERROR_SUCCESS);

    std::vector<std::u16string> keys;
    for (DWORD i = 0;; ++i) {
        char16_t name[16];
        DWORD chars = 16;
        LONG rc = RegEnumKeyExW(k.h, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        keys.emplace_back(name, chars);
    }
    EXPECT_EQ(keys, (std::vector<std::u16string>{u"alpha", u"Mid", u"Zeta"}));
    char16_t tiny[3];
    DWORD chars = 3;
    EXPECT_EQ(RegEnumKeyExW(k.h, 0, tiny, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    // Values come back in the order they were first set.
    char16_t name[16];
    DWORD nameChars = 16, type = 0, size = 0;
    ASSERT_EQ(RegEnumValueW(k.h, 0, name, &nameChars, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Second");
    EXPECT_EQ(size, 4u);
    BYTE small[4];
    nameChars = 16;
    size = sizeof small;
    EXPECT_EQ(RegEnumValueW(k.h, 1, name, &nameChars, nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, longText.size());
    nameChars = 16;
    EXPECT_EQ(RegEnumValueW(k.h, 2, name, &nameChars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKeyW(k.h, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, &maxName,
                               &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 3u);
    EXPECT_EQ(maxSub, 5u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 6u);
    EXPECT_EQ(maxData, longText.size());
}

TEST_F(RegistryTest, CurrentUserIsTheUsersHive) {
    Key k;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Zelquor", &k.h), ERROR_SUCCESS);
    Key viaUsers;
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, u"tester\\Software\\Zelquor", 0, KEY_READ, &viaUsers.h), ERROR_SUCCESS);
    Key defaults;
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, u".DEFAULT", 0, KEY_READ, &defaults.h), ERROR_SUCCESS);
    // Another user sees another hive.
    zq::store::SetRegistryUser(u"other");
    Key other;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Zelquor", 0, KEY_READ, &other.h), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ConnectSecurityAndClassesRoot) {
    HKEY remote = nullptr;
    EXPECT_EQ(RegConnectRegistryW(nullptr, HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
    EXPECT_EQ(remote, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegConnectRegistryA("\\\\elsewhere-zq", HKEY_LOCAL_MACHINE, &remote), 53);
    DWORD size = 0;
    EXPECT_EQ(RegGetKeySecurity(HKEY_LOCAL_MACHINE, DACL_SECURITY_INFORMATION, nullptr, &size),
              ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> sd(size);
    EXPECT_EQ(RegGetKeySecurity(HKEY_LOCAL_MACHINE, DACL_SECURITY_INFORMATION, sd.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(RegSetKeySecurity(HKEY_LOCAL_MACHINE, DACL_SECURITY_INFORMATION, sd.data()), ERROR_SUCCESS);
    Key classes;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "ZelQuor.Thing", &classes.h), ERROR_SUCCESS);
    Key viaHklm;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes\\zelquor.thing", &viaHklm.h), ERROR_SUCCESS);
}

}  // namespace
