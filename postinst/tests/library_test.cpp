// The engine's parts: paths, tokenizer, INF text and macros, registry and
// version classes, file operations.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "postinst/engine.h"
#include "postinst/file_op.h"
#include "postinst/inf.h"
#include "postinst/registry.h"
#include "postinst_fixture.h"

namespace fs = std::filesystem;
using namespace postinst;

namespace {

TEST(Paths, SetSplitsLikeSplitpath) {
    struct Case {
        const char* text;
        const char* dir;
        const char* name;
    } cases[] = {
        {"C:/a/b.txt", "C:\\a", "b.txt"},
        {"C:/a/b.txt/", "C:\\a\\b.txt", ""},
        {"C:\\a\\", "C:\\a", ""},
        {"  name.inf ", "", "name.inf"},
        {"C:x.txt", "C:", "x.txt"},
        {"\\\\srv\\share\\f", "\\\\srv\\share", "f"},
    };
    for (auto& c : cases) {
        PathObject p;
        ASSERT_TRUE(p.Set(c.text));
        EXPECT_EQ(p.Dir(), c.dir) << c.text;
        EXPECT_EQ(p.Name(), c.name) << c.text;
    }
    PathObject keep("C:\\x\\y");
    EXPECT_FALSE(keep.Set("   "));
    EXPECT_EQ(keep.FullPath(), "C:\\x\\y");
    PathObject dir;
    dir.SetDir("C:/base/");
    dir.Append("sub/deeper");
    EXPECT_EQ(dir.FullPath(), "C:\\base\\sub\\deeper");
}

TEST(Tokens, QuotesHoldDelimiters) {
    struct Case {
        const char* text;
        int flags;
        std::vector<std::string> tokens;
    } cases[] = {
        {"\"a, b\",c", Tokenizer::kQuotes, {"a, b", "c"}},
        {"\"a, b\",c", 0, {"\"a", "b\"", "c"}},
        {"x ,  y,", Tokenizer::kQuotes, {"x", "y"}},
        {"1,,3", 0, {"1", "", "3"}},
        {"\"open, quote", Tokenizer::kQuotes, {"\"open", "quote"}},
    };
    for (auto& c : cases) EXPECT_EQ(Tokenizer(c.text, ',', c.flags).AllTokens(), c.tokens) << c.text;
}

TEST(Inf, LinesSectionsAndKeys) {
    InfFile inf;
    inf.LoadText(
        "dropped=before any section\r\n[A]\r\n ; comment\r\n#also\r\nKey = \"quoted, value\" \r\nbare\r\n=value\r\n"
        "x=1;not a comment\r\n[B]\r\n[a]\r\nKey=second\r\n");
    ASSERT_NE(inf.findSection("a"), nullptr);
    EXPECT_EQ(inf.findSection("A")->lines.size(), 4u);
    std::string v;
    EXPECT_TRUE(inf.getValue("A", "key", v));
    EXPECT_EQ(v, "quoted, value");
    EXPECT_TRUE(inf.getValue("A", "BARE", v));
    EXPECT_EQ(v, "");
    EXPECT_TRUE(inf.getValue("A", "x", v));
    EXPECT_EQ(v, "1;not a comment");
    EXPECT_FALSE(inf.getValue("A", "", v));
    EXPECT_FALSE(inf.getValue("Missing", "Key", v));
    EXPECT_EQ(inf.Sections().size(), 3u);
    std::string k;
    EXPECT_FALSE(splitKeyValue("=value", k, v));
}

TEST(Inf, LanguageRows) {
    struct Case {
        const char* iso;
        uint16_t id;
    } cases[] = {{"de_AT", 0x07}, {"DE", 0x07}, {"zh_HK", 0x0404}, {"pt_BR", 0x416}, {"gd", 0x3c},
                 {"zu", 0x35},    {"xx_YY", 0},  {"", 0}};
    for (auto& c : cases) EXPECT_EQ(LanguageIdOfIso(c.iso), c.id) << c.iso;
    EXPECT_EQ(localeNameOfLangId(0x0c07), "de_AT");
    EXPECT_EQ(localeNameOfLangId(0x1234), "en_US");
}

class Library : public postinst::testing::PostinstRoot {};

TEST_F(Library, MacrosExpandOnce) {
    Media();
    KovrantEngine engine;
    SetCurrentDirectoryA("C:\\media");
    engine.parseCommandLine("-I zelquor.inf -N x");
    engine.getStrings();
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    struct Case {
        const char* text;
        std::string expanded;
        const char* logged;
    } cases[] = {
        {"%DESCRIPTION%", "Zelquor printer drivers, with sample documents", nullptr},
        {"$11$\\a.dll", std::string(system) + "\\a.dll", nullptr},
        {"%11%\\a.dll", std::string(system) + "\\a.dll", nullptr},
        {"$abc$", "$abc$", "KovrantEngine::DecodeMacros: invalid macro: abc"},
        {"50%", "50%", "KovrantEngine::DecodeMacros: Runaway macro in string 50%"},
        {"%%", "", nullptr},
        {"%unknown%x", "x", nullptr},
        {"%zelquor%%zelquor%", "ZelquorZelquor", nullptr},
        {"$4711$", "", "LookupDir: could not get directory for code 4711"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(engine.DecodeMacros(c.text), c.expanded);
        if (c.logged) {
            EXPECT_EQ(CountLines(c.logged), 1u);
        }
    }
}

TEST_F(Library, WindowsVersionsFromTheRegistry) {
    struct Case {
        const char* version9x;
        const char* sub;
        const char* versionNT;
        const char* csd;
        int cls;
        int sp;
    } cases[] = {
        {nullptr, nullptr, "5.0", "Service Pack 4", OSInfo::kWin2000, 4},
        {nullptr, nullptr, "5.2", "", OSInfo::kWinXP, 0},
        {nullptr, nullptr, "4.0", "Service Pack 6a, v.1", OSInfo::kNT4, 6},
        {nullptr, nullptr, "6.0", "", OSInfo::kUnknown, 0},
        {"4.10.2222", " A ", nullptr, nullptr, OSInfo::kWin98SE, 0},
        {"4.10.1998", "", nullptr, nullptr, OSInfo::kWin98, 0},
        {"4.90.3000", "", nullptr, nullptr, OSInfo::kWinMe, 0},
        {"4.0.950", "", nullptr, nullptr, OSInfo::kWin95, 0},
    };
    Registry reg;
    auto set = [&](const char* key, const char* name, const char* text) {
        if (!text) {
            reg.DeleteValue("HKLM", key, name);
            return;
        }
        RegistryValue v;
        v.kind = RegistryValue::kString;
        v.text = text;
        reg.WriteValue("HKLM", key, name, v);
    };
    const char* k9x = "Software\\Microsoft\\Windows\\CurrentVersion";
    const char* kNT = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    for (auto& c : cases) {
        set(k9x, "VersionNumber", c.version9x);
        set(k9x, "SubVersionNumber", c.sub);
        set(kNT, "CurrentVersion", c.versionNT);
        set(kNT, "CSDVersion", c.csd);
        OSInfo os;
        EXPECT_EQ(os.Class(), c.cls) << (c.versionNT ? c.versionNT : c.version9x);
        EXPECT_EQ(os.ServicePack(), c.sp);
    }
}

TEST_F(Library, RegistryValuesAndKeys) {
    Registry reg;
    ASSERT_TRUE(reg.CreateKey("HKLM", "Software\\A\\B", true));
    RegistryValue bin;
    bin.kind = RegistryValue::kBinary;
    bin.text = "ABC";
    ASSERT_TRUE(reg.WriteValue("HKLM", "Software\\A\\B", "bin", bin));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\A\\B", 0, KEY_READ, &key), 0);
    BYTE data[4] = {};
    DWORD size = sizeof data, type = 0;
    RegQueryValueExA(key, "bin", nullptr, &type, data, &size);
    RegCloseKey(key);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(data[0], 0xAB);
    EXPECT_EQ(data[1], 0xC0);
    RegistryValue n;
    n.kind = RegistryValue::kNumber;
    n.number = 10;
    reg.WriteValue("HKLM", "Software\\A\\B", "n", n);
    EXPECT_EQ(reg.ReadString("HKLM", "Software\\A\\B", "n"), "10");
    RegistryValue multi;
    multi.kind = RegistryValue::kMultiString;
    EXPECT_FALSE(reg.WriteValue("HKLM", "Software\\A\\B", "m", multi));
    EXPECT_EQ(CountLines("Registry::WriteValue: unsupported registry type Reg_Multi_String"), 1u);
    reg.DeleteValue("HKLM", "Software\\A\\B", "bin");
    reg.DeleteValue("HKLM", "Software\\A\\B", "n");
    EXPECT_TRUE(reg.DeleteEmptyKey("HKLM", "Software\\A\\B", true));
    EXPECT_FALSE(reg.IsKeyEmpty("HKLM", "Software\\A"));  // gone
    EXPECT_TRUE(reg.ReadString("HKLM", "Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion") == "5.0");
    Registry remote;
    remote.SetMachine("OTHER");
    EXPECT_EQ(remote.getRootKey("HKCU"), nullptr);
}

TEST_F(Library, VersionsCompareAsNumbers) {
    EXPECT_EQ(FileOp::CompareVersions("5.1.2.0", "5.1.10.0"), -1);
    EXPECT_EQ(FileOp::CompareVersions("1.0.0", "1.0"), 1);
    EXPECT_EQ(FileOp::CompareVersions("", "0"), -1);
    EXPECT_EQ(FileOp::CompareVersions("2.0", "2.0"), 0);
    fs::create_directories(Host("c/m"));
    fs::copy_file(postinst::testing::Built("platform/base/tests/modules/zqvermod_a.so"), Host("c/m/a.dll"));
    fs::copy_file(postinst::testing::Built("platform/base/tests/modules/zqvermod_b.so"), Host("c/m/b.dll"));
    EXPECT_EQ(FileOp::GetFileVersion(PathObject("C:\\m\\a.dll")), "5. 1. 2. 0");
    EXPECT_EQ(FileOp::CompareVersions(FileOp::GetFileVersion(PathObject("C:\\m\\a.dll")),
                                      FileOp::GetFileVersion(PathObject("C:\\m\\b.dll"))),
              -1);
    EXPECT_TRUE(FileOp::isNewer(PathObject("C:\\m\\b.dll"), PathObject("C:\\m\\a.dll")));
    // Flags 1: an older version replaces a newer one, since they differ.
    EXPECT_TRUE(FileOp::Copy(PathObject("C:\\m\\a.dll"), PathObject("C:\\m\\b.dll"), FileOp::kVersionsDiffer));
    EXPECT_EQ(FileOp::GetFileVersion(PathObject("C:\\m\\b.dll")), "5. 1. 2. 0");
}

TEST_F(Library, RemovingFilesAndDirectories) {
    WriteHost("c/d/ro.txt", "x");
    SetFileAttributesA("C:\\d\\ro.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(FileOp::Remove(PathObject("C:\\d\\ro.txt"), 0));
    EXPECT_FALSE(fs::exists(Host("c/d/ro.txt")));
    EXPECT_FALSE(FileOp::Remove(PathObject("C:\\d\\missing.txt"), 0));
    EXPECT_TRUE(zq::PendingRenames().empty());
    EXPECT_FALSE(FileOp::Remove(PathObject(), 0));
    EXPECT_EQ(CountLines("FileOp::Remove: nothin' from nothin' leaves nothin'!"), 1u);
    // A directory that is gone already is not claimed as removed.
    PathObject gone;
    gone.SetDir("C:\\nothere");
    EXPECT_FALSE(deleteDir(gone));
    PathObject made;
    made.SetDir("C:\\x\\y\\z");
    SetCurrentDirectoryA("C:\\d");
    EXPECT_TRUE(FileOp::MakePath(made));
    EXPECT_TRUE(fs::is_directory(Host("c/x/y/z")));
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    EXPECT_STREQ(cwd, "C:\\d");
    // Deleting at restart only: scheduled, the file stays for now.
    WriteHost("c/d/later.txt", "x");
    EXPECT_TRUE(FileOp::Remove(PathObject("C:\\d\\later.txt"), FileOp::kOnlyAtReboot));
    EXPECT_TRUE(fs::exists(Host("c/d/later.txt")));
    ASSERT_EQ(zq::PendingRenames().size(), 1u);
}

TEST_F(Library, TheRebootBatchGathersDirectories) {
    addToRebootBatFile("C:\\first");
    addToRebootBatFile("C:\\second");
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string batch = std::string(temp) + "unsttmp0.bat";
    auto host = zq::MapPath(zq::Utf8ToUtf16(batch));
    ASSERT_TRUE(host);
    std::ifstream in(*host, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "rmdir \"C:\\first\"\r\nrmdir \"C:\\second\"\r\ndel \"" + batch + "\"\r\n");
    EXPECT_EQ(Registry().ReadString("HKLM", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "ZelTmpDelBat"),
              "C:\\WINDOWS\\command.com /C \"" + batch + "\"");
}

// A destination held open without sharing: the flag matrix of the copy.
TEST_F(Library, CopyOntoADestinationInUse) {
    WriteHost("c/d/new.txt", "new");
    struct Case {
        int flags;
        bool result;
        bool scheduled;
    } cases[] = {
        {0, false, false},                         // a sharing violation is no "in use" without flag 4
        {FileOp::kSharingIsInUse, true, true},     // in use: replaced at restart
        {FileOp::kSharingIsInUse | FileOp::kRecheck | FileOp::kTimesDiffer, true, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.flags);
        zq::ApplyPendingRenames();
        WriteHost("c/d/old.txt", "old");
        HANDLE held = CreateFileA("C:\\d\\old.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(FileOp::Copy(PathObject("C:\\d\\new.txt"), PathObject("C:\\d\\old.txt"), c.flags), c.result);
        CloseHandle(held);
        EXPECT_EQ(ReadHost("c/d/old.txt"), "old");
        EXPECT_EQ(!zq::PendingRenames().empty(), c.scheduled);
        if (c.scheduled) {
            // The restart puts the new file in place.
            EXPECT_TRUE(zq::ApplyPendingRenames());
            EXPECT_EQ(ReadHost("c/d/old.txt"), "new");
        }
    }
}

}  // namespace

namespace {

// The deliverables carry the package's one version number.
TEST_F(Library, TheDriversCarryThePackageVersion) {
    for (const char* module : {"pclrend.so", "drvui.so"}) {
        fs::path built = postinst::testing::Built(std::string("lib/") + module);
        if (!fs::exists(built)) GTEST_SKIP() << module << " not built";
        fs::create_directories(Host("c/m"));
        fs::copy_file(built, Host("c/m") / module, fs::copy_options::overwrite_existing);
        EXPECT_EQ(FileOp::GetFileVersion(PathObject(std::string("C:\\m\\") + module)), "1.0.0.1") << module;
    }
}

}  // namespace
