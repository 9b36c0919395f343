#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "base/diag.h"
#include "base/error.h"
#include "base/paths.h"
#include "base/text.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

namespace {

class Paths : public zq::testing::FreshRoot {};

TEST_F(Paths, MapsWindowsFormsUnderTheRoot) {
    fs::create_directories(Host("c/Data"));
    fs::create_directories(Host("c/DATA"));
    fs::create_directories(Host("c/windows/system32/Drivers"));
    struct Case {
        std::u16string_view windows;
        std::string host;
    } cases[] = {
        {u"C:\\", "c"},
        {u"c:\\WINDOWS\\SYSTEM32\\x.dll", "c/windows/system32/x.dll"},
        {u"C:/windows/./system32/../temp/f.txt", "c/windows/temp/f.txt"},
        {u"C:\\windows\\system32\\drivers\\new\\deeper", "c/windows/system32/Drivers/new/deeper"},
        {u"D:\\data\\x", "d/data/x"},
        {u"\\\\server\\share\\dir\\f", "unc/server/share/dir/f"},
        {u"//server/share/f", "unc/server/share/f"},
        {u"\\\\?\\C:\\temp\\x", "c/temp/x"},
        {u"sub\\f", "c/sub/f"},
        {u"\\abs", "c/abs"},
        {u"C:name. .", "c/name"},
        // Exact spelling first, else the first case-insensitive match in
        // byte order: "DATA" sorts before "Data".
        {u"C:\\Data\\f", "c/Data/f"},
        {u"C:\\data\\f", "c/DATA/f"},
    };
    for (const auto& c : cases) {
        auto host = zq::MapPath(c.windows);
        ASSERT_TRUE(host) << zq::Utf16ToUtf8(c.windows);
        EXPECT_EQ(*host, Host(c.host)) << zq::Utf16ToUtf8(c.windows);
    }
}

// The same Windows path mapped again follows what changed on disk in
// between, and the root set in between.
TEST_F(Paths, MappingAgainFollowsChanges) {
    fs::create_directories(Host("c/Data"));
    const auto map = [] { return zq::MapPath(u"C:\\Data\\f.txt"); };
    struct Step {
        const char* what;
        std::function<void()> change;
        std::string host;  // under the root in use
    } steps[] = {
        {"missing", [] {}, "c/Data/f.txt"},
        {"made as spelled", [this] { WriteHost("c/Data/f.txt", "x"); }, "c/Data/f.txt"},
        {"replaced by another spelling",
         [this] {
             fs::remove(Host("c/Data/f.txt"));
             WriteHost("c/Data/F.TXT", "x");
         },
         "c/Data/F.TXT"},
        {"its folder renamed",
         [this] {
             fs::rename(Host("c/Data"), Host("c/data2"));
             fs::create_directories(Host("c/DATA"));
             WriteHost("c/DATA/f.txt", "x");
         },
         "c/DATA/f.txt"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        map();  // remembered from before the change
        step.change();
        const auto host = map();
        ASSERT_TRUE(host);
        EXPECT_EQ(*host, root_ / step.host);
    }
    // Another root: the same path maps under it.
    const fs::path other = zq::testing::MakeTempDirectory("zqroot");
    zq::SetSystemRoot(other);
    fs::create_directories(other / "c" / "Data");
    std::ofstream(other / "c" / "Data" / "f.txt") << "y";
    const auto host = map();
    zq::SetSystemRoot(root_);
    zq::testing::RemoveTree(other);
    ASSERT_TRUE(host);
    EXPECT_EQ(*host, other / "c" / "Data" / "f.txt");
}

TEST_F(Paths, RefusesWhatLeavesTheRoot) {
    fs::create_directories(Host("c/windows"));
    fs::create_symlink("/", Host("c/out"));
    fs::create_symlink(Host("c/windows"), Host("c/in"));
    fs::create_symlink("/nonexistent-zq-target/file", Host("c/dangling"));
    fs::create_symlink("../../..", Host("c/windows/up"));
    zq::DiagCapture diag;
    for (std::u16string_view path : {u"C:\\..", u"C:\\a\\..\\..\\x", u"\\\\server\\share\\..\\other\\x",
                                     u"..\\..", u"C:\\out\\etc\\passwd", u"C:\\OUT", u"C:\\dangling",
                                     u"C:\\windows\\up\\x", u"\\\\..\\..", u"\\\\..\\..\\x",
                                     u"C:\\WINDOWS\\UP\\x", u"C:\\out\\new-file", u"C:\\windows\\UP"}) {
        SetLastError(0);
        EXPECT_FALSE(zq::MapPath(path)) << zq::Utf16ToUtf8(path);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << zq::Utf16ToUtf8(path);
    }
    EXPECT_FALSE(diag.Matching("root").empty());
    auto inside = zq::MapPath(u"C:\\in\\f");
    ASSERT_TRUE(inside);
    EXPECT_EQ(*inside, Host("c/in/f"));
    // A file cannot be created through a refused link either.
    EXPECT_FALSE(fs::exists("/nonexistent-zq-target"));
}

TEST_F(Paths, RefusesMalformedNames) {
    struct Case {
        std::u16string_view path;
        DWORD error;
    } cases[] = {
        {u"C:\\a<b", ERROR_INVALID_NAME}, {u"C:\\a\\b|c", ERROR_INVALID_NAME}, {u"C:\\x\\y:z", ERROR_INVALID_NAME},
        {u"\\\\server", ERROR_BAD_PATHNAME}, {u"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(zq::MapPath(c.path)) << zq::Utf16ToUtf8(c.path);
        EXPECT_EQ(GetLastError(), c.error) << zq::Utf16ToUtf8(c.path);
    }
}

TEST_F(Paths, HostPathsMapBack) {
    EXPECT_EQ(zq::ToWindowsPath(Host("c/windows/x.ini")), u"C:\\windows\\x.ini");
    EXPECT_EQ(zq::ToWindowsPath(Host("c")), u"C:\\");
    EXPECT_EQ(zq::ToWindowsPath(Host("unc/srv/sh/a")), u"\\\\srv\\sh\\a");
    EXPECT_FALSE(zq::ToWindowsPath("/etc/passwd"));
    EXPECT_FALSE(zq::ToWindowsPath(Host("registry.db")));
}

TEST_F(Paths, DirectoryCallsFollowTheSizeRule) {
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetWindowsDirectoryA(buf, 10), 11u);  // too short: size with NUL, buffer untouched
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(GetWindowsDirectoryA(buf, 11), 10u);
    EXPECT_STREQ(buf, "C:\\WINDOWS");
    EXPECT_EQ(GetSystemDirectoryA(buf, sizeof buf), 19u);
    EXPECT_STREQ(buf, "C:\\WINDOWS\\system32");
    WCHAR wbuf[32];
    EXPECT_EQ(GetTempPathW(32, wbuf), 8u);
    EXPECT_EQ(std::u16string(wbuf), u"C:\\TEMP\\");
    EXPECT_EQ(GetTempPathW(0, nullptr), 9u);
    // The locations exist on the root.
    EXPECT_TRUE(fs::is_directory(Host("c/windows/system32")));
    EXPECT_TRUE(fs::is_directory(Host("c/temp")));
}

TEST_F(Paths, CurrentDirectoryResolvesRelativePaths) {
    char buf[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buf), 3u);
    EXPECT_STREQ(buf, "C:\\");
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\windows\\"));
    EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buf), 10u);
    EXPECT_STREQ(buf, "C:\\windows");  // drive letters are upper case
    EXPECT_EQ(zq::MapPath(u"system32\\f"), Host("c/windows/system32/f"));
    EXPECT_EQ(zq::FullWindowsPath(u"c:temp"), u"C:\\windows\\temp");
    EXPECT_EQ(zq::FullWindowsPath(u"D:temp"), u"D:\\temp");
    EXPECT_EQ(zq::FullWindowsPath(u".."), u"C:\\");

    WriteHost("c/file.txt", "x");
    struct Case {
        const char* path;
        DWORD error;
    } failures[] = {{"C:\\missing", ERROR_FILE_NOT_FOUND},
                    {"C:\\missing\\deeper", ERROR_PATH_NOT_FOUND},
                    {"C:\\file.txt", ERROR_DIRECTORY}};
    for (const auto& f : failures) {
        SetLastError(0);
        EXPECT_FALSE(SetCurrentDirectoryA(f.path)) << f.path;
        EXPECT_EQ(GetLastError(), f.error) << f.path;
    }
    EXPECT_STREQ((GetCurrentDirectoryA(MAX_PATH, buf), buf), "C:\\windows");
}

TEST_F(Paths, FullPathNameGivesTheFilePart) {
    char buf[MAX_PATH];
    char* part = nullptr;
    EXPECT_EQ(GetFullPathNameA("C:/a/b/../c.txt", MAX_PATH, buf, &part), 10u);
    EXPECT_STREQ(buf, "C:\\a\\c.txt");
    EXPECT_STREQ(part, "c.txt");
    EXPECT_EQ(GetFullPathNameA("C:\\a\\dir\\", MAX_PATH, buf, &part), 9u);
    EXPECT_EQ(part, nullptr);
    EXPECT_EQ(GetFullPathNameA("C:\\a\\c.txt", 5, buf, &part), 11u);
}

TEST_F(Paths, ShortAndLongNamesAreThePathItself) {
    WriteHost("c/windows/Long File Name.txt", "x");
    char buf[MAX_PATH];
    EXPECT_EQ(GetShortPathNameA("C:\\WINDOWS\\long file name.txt", buf, MAX_PATH), 29u);
    EXPECT_STREQ(buf, "C:\\WINDOWS\\long file name.txt");
    EXPECT_EQ(GetLongPathNameA("C:\\WINDOWS\\long file name.txt", buf, 5), 30u);
    SetLastError(0);
    EXPECT_EQ(GetShortPathNameA("C:\\WINDOWS\\missing.txt", buf, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Paths, TempFileNamesAreUniqueAndCreated) {
    char first[MAX_PATH], second[MAX_PATH];
    const UINT a = GetTempFileNameA("C:\\TEMP\\", "ISGX", 0, first);
    const UINT b = GetTempFileNameA("C:\\TEMP", "ISG", 0, second);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_STRNE(first, second);
    EXPECT_EQ(std::string(first).rfind("C:\\TEMP\\ISG", 0), 0u);
    EXPECT_EQ(std::string(first).substr(std::strlen(first) - 4), ".TMP");
    EXPECT_TRUE(fs::is_regular_file(*zq::MapPath(zq::Utf8ToUtf16(first))));
    EXPECT_TRUE(fs::is_regular_file(*zq::MapPath(zq::Utf8ToUtf16(second))));

    // A given number only forms the name.
    EXPECT_EQ(GetTempFileNameA("C:\\TEMP", "tmp", 0x1A2B, first), 0x1A2Bu);
    EXPECT_STREQ(first, "C:\\TEMP\\tmp1A2B.TMP");
    EXPECT_FALSE(fs::exists(Host("c/temp/tmp1A2B.TMP")));

    SetLastError(0);
    EXPECT_EQ(GetTempFileNameA("C:\\NoSuchDir", "ISG", 0, first), 0u);
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
}

TEST_F(Paths, ExpandsEnvironmentStrings) {
    ::setenv("ZQ_PATHS_TEST_VAR", "value", 1);
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"%WINDIR%\\x", "C:\\WINDOWS\\x"},
        {"%windir%;%SystemRoot%", "C:\\WINDOWS;C:\\WINDOWS"},
        {"%TEMP%\\f", "C:\\TEMP\\f"},
        {"<%zq_paths_test_var%>", "<value>"},
        {"%ZQ_UNDEFINED_VAR%x%TEMP%", "%ZQ_UNDEFINED_VAR%xC:\\TEMP"},
        {"100%", "100%"},
        {"%%", "%%"},
    };
    for (const auto& c : cases) {
        char buf[128];
        const DWORD n = ExpandEnvironmentStringsA(c.in, buf, sizeof buf);
        EXPECT_STREQ(buf, c.out) << c.in;
        EXPECT_EQ(n, std::strlen(c.out) + 1) << c.in;
    }
    char small[4] = "abc";
    EXPECT_EQ(ExpandEnvironmentStringsA("%WINDIR%", small, sizeof small), 11u);
    EXPECT_STREQ(small, "abc");
    ::unsetenv("ZQ_PATHS_TEST_VAR");
}

}  // namespace
