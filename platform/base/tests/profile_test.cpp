#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/kernel_objects.h"
#include "base/process.h"
#include "base/profile.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kIni = "C:\\WINDOWS\\zqtest.ini";

class Profile : public zq::testing::FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        WriteHost("c/windows/zqtest.ini",
                  "; leading comment\r\n"
                  "[General]\r\n"
                  "Name = Zelquor Laser  \r\n"
                  "Quoted=\"  spaced  \"\r\n"
                  "Single='x'\r\n"
                  "Count=42\r\n"
                  "Negative=-7\r\n"
                  "; inner comment\r\n"
                  "Bare\r\n"
                  "\r\n"
                  "[Fonts]\r\n"
                  "Alpha=1\r\n"
                  "alpha=2\r\n"
                  "\r\n"
                  "[general]\r\n"
                  "Name=second section\r\n"
                  "Extra=only here\r\n");
    }

    std::string Get(const char* section, const char* key, const char* def = "", DWORD size = 256) {
        std::vector<char> buf(size + 1, '#');
        const DWORD n = GetPrivateProfileStringA(section, key, def, buf.data(), size, kIni);
        return std::string(buf.data(), n);
    }

    // A NUL-separated list as it came back, with the length returned.
    std::pair<std::string, DWORD> List(const char* section, const char* key, DWORD size) {
        std::vector<char> buf(size, '#');
        const DWORD n = GetPrivateProfileStringA(section, key, "", buf.data(), size, kIni);
        return {std::string(buf.data(), size), n};
    }

    std::string File() { return ReadHost("c/windows/zqtest.ini"); }
};

TEST_F(Profile, ReadsValuesAsWindowsTrimsThem) {
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"General", "Name", "Zelquor Laser"},
        {"GENERAL", "name", "Zelquor Laser"},  // first matching section wins
        {"General", "Quoted", "  spaced  "},
        {"General", "Single", "x"},
        {"General", "Bare", ""},
        {"General", "Extra", "dflt"},          // only in the second [general]
        {"Fonts", "ALPHA", "1"},               // first matching key wins
        {"Missing", "Name", "dflt"},
        {"General", "Missing", "dflt"},
    };
    for (const auto& c : cases) EXPECT_EQ(Get(c.section, c.key, "dflt  "), c.expected) << c.section << "/" << c.key;
    // Probing a whole section: a missing one gives the default back.
    char probe[8];
    EXPECT_EQ(GetPrivateProfileStringA("Missing", nullptr, "dflt", probe, sizeof probe, kIni), 4u);
    EXPECT_EQ(std::string(probe, 6), std::string("dflt\0\0", 6));
    EXPECT_EQ(GetPrivateProfileIntA("General", "Count", 5, kIni), 42u);
    EXPECT_EQ(static_cast<INT>(GetPrivateProfileIntA("General", "Negative", 5, kIni)), -7);
    EXPECT_EQ(GetPrivateProfileIntA("General", "Name", 5, kIni), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("General", "None", 5, kIni), 5u);
    EXPECT_EQ(GetPrivateProfileIntA("General", "Count", 5, "C:\\WINDOWS\\nofile.ini"), 5u);
}

TEST_F(Profile, TruncatesValuesAndLists) {
    // A value that does not fit: size - 1 characters and the NUL.
    EXPECT_EQ(Get("General", "Name", "", 8), "Zelquor");
    EXPECT_EQ(Get("Missing", "Name", "default", 4), "def");

    auto sections = List(nullptr, nullptr, 64);
    EXPECT_EQ(sections.second, 14u);
    EXPECT_EQ(sections.first.substr(0, 15), std::string("General\0Fonts\0\0", 15));
    auto keys = List("general", nullptr, 64);
    EXPECT_EQ(keys.first.substr(0, keys.second + 1),
              std::string("Name\0Quoted\0Single\0Count\0Negative\0Bare\0\0", 40));
    EXPECT_EQ(keys.second, 39u);
    // A list that does not fit ends with two NULs and gives size - 2.
    auto cut = List("General", nullptr, 10);
    EXPECT_EQ(cut.second, 8u);
    EXPECT_EQ(cut.first, std::string("Name\0Quo\0\0", 10));
    // A section without keys gives an empty list.
    WritePrivateProfileStringA("Empty", "k", "v", kIni);
    WritePrivateProfileStringA("Empty", "k", nullptr, kIni);
    auto empty = List("Empty", nullptr, 8);
    EXPECT_EQ(empty.second, 0u);
    EXPECT_EQ(empty.first.substr(0, 2), std::string("\0\0", 2));

    char section[64];
    const DWORD n = GetPrivateProfileSectionA("Fonts", section, sizeof section, kIni);
    EXPECT_EQ(std::string(section, n + 1), std::string("Alpha=1\0alpha=2\0\0", 17));
}

TEST_F(Profile, WritesKeepOrderCommentsAndSpelling) {
    ASSERT_TRUE(WritePrivateProfileStringA("general", "COUNT", "43", kIni));  // the file's spelling stays
    ASSERT_TRUE(WritePrivateProfileStringA("Fonts", "Gamma", "3", kIni));      // after the section's last line
    ASSERT_TRUE(WritePrivateProfileStringA("New Section", "Key", "v", kIni)); // appended at the end
    ASSERT_TRUE(WritePrivateProfileStringA("General", "Single", nullptr, kIni));
    EXPECT_EQ(File(),
              "; leading comment\r\n"
              "[General]\r\n"
              "Name = Zelquor Laser  \r\n"
              "Quoted=\"  spaced  \"\r\n"
              "Count=43\r\n"
              "Negative=-7\r\n"
              "; inner comment\r\n"
              "Bare\r\n"
              "\r\n"
              "[Fonts]\r\n"
              "Alpha=1\r\n"
              "alpha=2\r\n"
              "Gamma=3\r\n"
              "\r\n"
              "[general]\r\n"
              "Name=second section\r\n"
              "Extra=only here\r\n"
              "[New Section]\r\n"
              "Key=v\r\n");

    // A null key deletes the section (every header of that name).
    ASSERT_TRUE(WritePrivateProfileStringA("GENERAL", nullptr, nullptr, kIni));
    EXPECT_EQ(File(),
              "; leading comment\r\n"
              "[Fonts]\r\n"
              "Alpha=1\r\n"
              "alpha=2\r\n"
              "Gamma=3\r\n"
              "\r\n"
              "[New Section]\r\n"
              "Key=v\r\n");
    EXPECT_EQ(Get("General", "Name", "gone"), "gone");

    ASSERT_TRUE(WritePrivateProfileSectionA("Fonts", "One=1\0Two=2\0", kIni));
    EXPECT_EQ(Get("Fonts", "Two"), "2");
    EXPECT_EQ(Get("Fonts", "Alpha", "none"), "none");
    // Deleting from a file that does not exist creates nothing.
    EXPECT_TRUE(WritePrivateProfileStringA("S", "K", nullptr, "C:\\WINDOWS\\never.ini"));
    EXPECT_FALSE(fs::exists(Host("c/windows/never.ini")));
    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "V", "C:\\nodir\\x.ini"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Profile, BareNamesLiveInTheWindowsDirectoryAndWinIniServesProfiles) {
    ASSERT_TRUE(WritePrivateProfileStringA("pclrend", "tag", "7", "pclrend.ini"));
    EXPECT_EQ(ReadHost("c/windows/pclrend.ini"), "[pclrend]\r\ntag=7\r\n");
    ASSERT_TRUE(WriteProfileStringA("Devices", "Zelquor", "winspool,LPT1:"));
    char buf[64];
    EXPECT_EQ(GetProfileStringA("devices", "ZELQUOR", "", buf, sizeof buf), 14u);
    EXPECT_STREQ(buf, "winspool,LPT1:");
    EXPECT_TRUE(fs::exists(Host("c/windows/win.ini")));
}

TEST_F(Profile, Utf16FileKeepsItsByteOrderMark) {
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("[Sec]\r\nKey=\xE9t\xE9\r\n")) {
        bytes += c;
        bytes += '\0';
    }
    // "été" as UTF-16: é is U+00E9, one unit each.
    WriteHost("c/windows/wide.ini", bytes);
    WCHAR value[32];
    EXPECT_EQ(GetPrivateProfileStringW(u"sec", u"key", u"", value, 32, u"wide.ini"), 3u);
    EXPECT_EQ(std::u16string(value), u"\u00E9t\u00E9");
    ASSERT_TRUE(WritePrivateProfileStringW(u"Sec", u"New", u"\u4E2D", u"wide.ini"));
    const std::string after = ReadHost("c/windows/wide.ini");
    std::u16string expected = u"\uFEFF[Sec]\r\nKey=\u00E9t\u00E9\r\nNew=\u4E2D\r\n";
    std::string expectedBytes;
    for (char16_t c : expected) {
        expectedBytes += static_cast<char>(c & 0xFF);
        expectedBytes += static_cast<char>(c >> 8);
    }
    EXPECT_EQ(after, expectedBytes);
}

// A file behind a UTF-8 mark: each sequence reads as the character it
// encodes, and bytes that are not UTF-8 (overlong forms among them, which
// would otherwise make a NUL or a separator) each stand for themselves.
TEST_F(Profile, Utf8FileReadsOnlyWellFormedSequences) {
    struct Case {
        const char* name;
        std::string bytes;      // of the section name in the file
        std::u16string listed;  // as the section names list it
    } cases[] = {
        {"two bytes", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
        {"three bytes", "\xE2\x82\xAC", u"\u20AC"},
        {"four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"overlong NUL", "A\xC0\x80" "B", u"A\u00C0\u0080B"},
        {"overlong slash", "A\xC0\xAF" "B", u"A\u00C0\u00AFB"},
        {"overlong three bytes", "\xE0\x80\x80", u"\u00E0\u0080\u0080"},
        {"overlong four bytes", "\xF0\x80\x80\x80", u"\u00F0\u0080\u0080\u0080"},
        {"surrogate", "\xED\xA0\x80", u"\u00ED\u00A0\u0080"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteHost("c/windows/utf8.ini", "\xEF\xBB\xBF[" + c.bytes + "]\r\nKey=1\r\n");
        char16_t names[64] = {};
        const DWORD n = GetPrivateProfileSectionNamesW(names, 64, u"C:\\WINDOWS\\utf8.ini");
        // One name, then the closing NUL: nothing inside it ends it early.
        EXPECT_EQ(std::u16string(names, n), c.listed + u'\0');
        EXPECT_EQ(GetPrivateProfileIntW(c.listed.c_str(), u"Key", 0, u"C:\\WINDOWS\\utf8.ini"), 1u);
    }
}

TEST_F(Profile, ConcurrentWritersLoseNothing) {
    // Two processes (copies of this test program) each write their own keys
    // to one file at the same time.
    char self[4096];
    const ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(len, 0);
    self[len] = '\0';
    const fs::path exe(self);
    ::setenv("ZQ_BIN_PATH", exe.parent_path().c_str(), 1);
    constexpr int kKeys = 40;
    std::vector<PROCESS_INFORMATION> children;
    for (const char* prefix : {"a", "b"}) {
        std::string cmd = exe.filename().string() + ".exe --zq-helper ini C:\\WINDOWS\\shared.ini " + prefix + " " +
                          std::to_string(kKeys);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            << GetLastError();
        children.push_back(pi);
    }
    for (auto& pi : children) {
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
        DWORD code = 1;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
        EXPECT_EQ(code, 0u);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    for (const char* prefix : {"a", "b"})
        for (int i = 0; i < kKeys; ++i) {
            const std::string key = std::string(prefix) + std::to_string(i);
            char buf[32];
            GetPrivateProfileStringA("Shared", key.c_str(), "lost", buf, sizeof buf, "shared.ini");
            EXPECT_EQ(std::string(buf), std::to_string(i)) << key;
        }
}

}  // namespace
