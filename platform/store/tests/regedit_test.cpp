// REGEDIT4 export and import: every value type survives, the text reads as
// regedit writes it, and bad input is refused whole.
#include <cstring>
#include <string>

#include "store/registry.h"
#include "testing/printer_fixture.h"

namespace {

using StoreTest = zq::testing::StoreRoot;

using RegeditTest = StoreTest;

TEST_F(RegeditTest, ImportReadsEveryFormAndExportWritesItBack) {
    const std::string text =
        "REGEDIT4\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelquor\\Fixture]\r\n"
        "@=\"default\"\r\n"
        "\"Text\"=\"a \\\"quoted\\\" C:\\\\path\"\r\n"
        "\"Number\"=dword:0000002a\r\n"
        "\"Bytes\"=hex:00,01,fe,\\\r\n"
        "  ff\r\n"
        "\"Expand\"=hex(2):25,54,45,4d,50,25,00\r\n"
        "\"Multi\"=hex(7):61,00,62,63,00,00\r\n"
        "\"Empty\"=hex:\r\n"
        "\r\n"
        "[HKCU\\Software\\Zelquor]\r\n"
        "\"User\"=\"yes\"\r\n";
    ASSERT_EQ(zq::store::ImportRegistry(text), "");

    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelquor\\Fixture", 0, KEY_READ, &k), ERROR_SUCCESS);
    struct Case {
        const char* name;
        DWORD type;
        std::string bytes;  // as the A calls see them
    };
    const Case cases[] = {
        {"", REG_SZ, std::string("default\0", 8)},
        {"Text", REG_SZ, std::string("a \"quoted\" C:\\path\0", 19)},
        {"Number", REG_DWORD, std::string("\x2a\0\0\0", 4)},
        {"Bytes", REG_BINARY, std::string("\x00\x01\xfe\xff", 4)},
        {"Expand", REG_EXPAND_SZ, std::string("%TEMP%\0", 7)},
        {"Multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"Empty", REG_BINARY, std::string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[64] = {};
        DWORD size = sizeof buffer, type = 0;
        ASSERT_EQ(RegQueryValueExA(k, c.name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(std::string(buffer, size), c.bytes);
    }
    RegCloseKey(k);
    ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "tester\\Software\\Zelquor", 0, KEY_READ, &k), ERROR_SUCCESS);
    RegCloseKey(k);

    auto exported = zq::store::ExportRegistry(u"hklm\\software\\zelquor\\fixture");
    ASSERT_TRUE(exported);
    EXPECT_EQ(*exported,
              "REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelquor\\Fixture]\n"
              "@=\"default\"\n"
              "\"Text\"=\"a \\\"quoted\\\" C:\\\\path\"\n"
              "\"Number\"=dword:0000002a\n"
              "\"Bytes\"=hex:00,01,fe,ff\n"
              "\"Expand\"=hex(2):25,54,45,4d,50,25,00\n"
              "\"Multi\"=hex(7):61,00,62,63,00,00\n"
              "\"Empty\"=hex:\n\n");
    EXPECT_FALSE(zq::store::ExportRegistry(u"HKLM\\SOFTWARE\\Nothing"));
}

TEST_F(RegeditTest, LongValuesWrapAndComeBack) {
    std::string bytes(300, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i);
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Long", &k), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(k, "Blob", 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()), 300),
              ERROR_SUCCESS);
    auto first = zq::store::ExportRegistry(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Long");
    ASSERT_TRUE(first);
    for (size_t start = 0, end; (end = first->find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u);
    ASSERT_EQ(RegDeleteValueA(k, "Blob"), ERROR_SUCCESS);
    ASSERT_EQ(zq::store::ImportRegistry(*first), "");
    char back[300];
    DWORD size = sizeof back;
    ASSERT_EQ(RegQueryValueExA(k, "Blob", nullptr, nullptr, reinterpret_cast<BYTE*>(back), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(back, size), bytes);
    RegCloseKey(k);
}

TEST_F(RegeditTest, BadInputChangesNothing) {
    const char* cases[] = {
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n",                         // no header
        "REGEDIT4\n\"v\"=\"outside a key\"\n",                        // value before a key
        "REGEDIT4\n[HKEY_NOWHERE\\X]\n",                              // unknown root
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"d\"=dword:xyz\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"h\"=hex:0g\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"s\"=\"unterminated\n",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_NE(zq::store::ImportRegistry(text), "");
        HKEY k = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    }
    // Deletion lines remove keys and values.
    ASSERT_EQ(zq::store::ImportRegistry("REGEDIT4\n[HKLM\\SOFTWARE\\X\\Y]\n\"a\"=\"1\"\n\"b\"=\"2\"\n"), "");
    ASSERT_EQ(zq::store::ImportRegistry("REGEDIT4\n[HKLM\\SOFTWARE\\X\\Y]\n\"a\"=-\n"), "");
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\X\\Y", 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(k, "a", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(k, "b", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(k);
    ASSERT_EQ(zq::store::ImportRegistry("REGEDIT4\n[-HKLM\\SOFTWARE\\X]\n"), "");
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
}

// One import walks many paths in one transaction, each sharing components
// with the last: a key deleted and made again, a path in another spelling,
// a sibling and a parent after a deep key must all land where their names say.
TEST_F(RegeditTest, PathsWalkedOneAfterAnotherInOneImport) {
    const std::string text =
        "REGEDIT4\n"
        "[HKLM\\SOFTWARE\\W\\A\\B\\C]\n\"v\"=\"first\"\n"
        "[-HKLM\\SOFTWARE\\W\\A\\B]\n"
        "[HKLM\\SOFTWARE\\W\\A\\B\\C]\n\"w\"=\"again\"\n"
        "[HKLM\\SOFTWARE\\w\\a\\b\\c\\D]\n\"v\"=\"below\"\n"
        "[HKLM\\SOFTWARE\\W\\A\\E]\n\"v\"=\"sibling\"\n"
        "[HKLM\\SOFTWARE\\W]\n\"v\"=\"top\"\n"
        "[HKLM\\SOFTWARE\\W\\A\\B\\C]\n\"x\"=\"back\"\n";
    ASSERT_EQ(zq::store::ImportRegistry(text), "");
    struct Case {
        const char* key;
        const char* value;
        const char* expect;  // nullptr: the value is gone
    };
    const Case cases[] = {
        {"SOFTWARE\\W\\A\\B\\C", "v", nullptr},  // went with the deleted key
        {"SOFTWARE\\W\\A\\B\\C", "w", "again"},
        {"SOFTWARE\\W\\A\\B\\C", "x", "back"},
        {"SOFTWARE\\W\\A\\B\\C\\D", "v", "below"},
        {"SOFTWARE\\W\\A\\E", "v", "sibling"},
        {"SOFTWARE\\W", "v", "top"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.value);
        HKEY k = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.key, 0, KEY_READ, &k), ERROR_SUCCESS);
        char buffer[32] = {};
        DWORD size = sizeof buffer;
        const LONG rc = RegQueryValueExA(k, c.value, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
        RegCloseKey(k);
        if (c.expect == nullptr) {
            EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
        } else {
            ASSERT_EQ(rc, ERROR_SUCCESS);
            EXPECT_STREQ(buffer, c.expect);
        }
    }
    // The other spelling found the keys already there rather than making twins.
    HKEY w = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\W", 0, KEY_READ, &w), ERROR_SUCCESS);
    DWORD subKeys = 0;
    ASSERT_EQ(RegQueryInfoKeyA(w, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(w);
    EXPECT_EQ(subKeys, 1u);
}

}  // namespace
