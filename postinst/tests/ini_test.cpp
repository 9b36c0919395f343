// INI files: the streaming edit of one key and the in-memory document,
// compared byte for byte in both encodings, and the INF action over them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/files.h"
#include "base/text.h"
#include "postinst/engine.h"
#include "postinst/ini_file.h"
#include "postinst_fixture.h"

namespace fs = std::filesystem;
using namespace postinst;

namespace {

std::string Utf16(const std::string& ansi) {
    std::string out = "\xFF\xFE";
    for (char16_t c : zq::AnsiToWide(ansi)) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

class Ini : public postinst::testing::PostinstRoot {
protected:
    std::string Read(const std::string& relative) {
        std::ifstream in(Host(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // No temporary file is left beside the file or in the temporary folder.
    void ExpectNoLeftovers() {
        for (const char* dir : {"c/ini", "c/temp"}) {
            if (!fs::exists(Host(dir))) continue;
            for (auto& e : fs::directory_iterator(Host(dir)))
                EXPECT_EQ(e.path().filename().string().rfind("tmp", 0), std::string::npos) << e.path();
        }
    }
};

TEST_F(Ini, QuickWriteCases) {
    struct Case {
        const char* name;
        std::string before;
        const char* section;
        const char* key;
        const char* value;
        int mode;
        std::string after;
    };
    const Case cases[] = {
        {"an existing key keeps its place and spelling; indentation goes", "[S]\r\n  Key = old\r\n\tother=1\r\n", "s",
         "KEY", "new", 1, "[S]\r\nKey=new\r\nother=1\r\n"},
        {"a missing section is appended with the key", "[A]\r\na=1\r\n", "T", "k", "v", 1,
         "[A]\r\na=1\r\n[T]\r\nk=v\r\n"},
        {"the last section gets the key after its last line", "[A]\r\na=1\r\n[S]\r\nx=1\r\n", "S", "k", "v", 1,
         "[A]\r\na=1\r\n[S]\r\nx=1\r\nk=v\r\n"},
        {"a middle section gets it before the next header", "[S]\r\nx=1\r\n\r\n[B]\r\nb=2\r\n", "S", "k", "v", 1,
         "[S]\r\nx=1\r\n\r\nk=v\r\n[B]\r\nb=2\r\n"},
        {"only the first line of the key changes", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "3", 1,
         "[S]\r\nk=3\r\nk=2\r\n"},
        {"a value may hold \"=\"", "[S]\r\nk=1\r\n", "S", "k", "a=b", 1, "[S]\r\nk=a=b\r\n"},
        {"comments, blank and \"=\" lines stay", "; c\r\n[S]\r\n# d\r\n=odd\r\n\r\nk=1\r\n", "S", "k", "2", 1,
         "; c\r\n[S]\r\n# d\r\n=odd\r\n\r\nk=2\r\n"},
        {"line feeds become CR LF", "[S]\nk=1\nz=2\n", "S", "k", "2", 1, "[S]\r\nk=2\r\nz=2\r\n"},
        {"deleting with the file's value, case ignored", "[S]\r\nk=Value\r\nz=1\r\n", "S", "k", "VALUE", 2,
         "[S]\r\nz=1\r\n"},
        {"deleting with another value keeps the line", "[S]\r\nk=Value\r\n", "S", "k", "other", 2,
         "[S]\r\nk=Value\r\n"},
        {"deleting without a value", "[S]\r\nk=Value\r\n", "S", "K", "", 2, "[S]\r\n"},
        {"deleting a missing key only trims", "[S]\r\n  a=1  \r\n[T]\r\nk=1\r\n", "S", "k", "", 2,
         "[S]\r\na=1\r\n[T]\r\nk=1\r\n"},
        {"an empty file (a mark alone in UTF-16) gets the section and key", "", "S", "k", "v", 1, "[S]\r\nk=v\r\n"},
    };
    fs::create_directories(Host("c/ini"));
    for (const auto& c : cases) {
        for (bool wide : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (wide ? " (UTF-16)" : " (ANSI)"));
            WriteHost("c/ini/t.ini", wide ? Utf16(c.before) : c.before);
            ASSERT_TRUE(QuickWriteIniString("C:\\ini\\t.ini", c.section, c.key, c.value, c.mode));
            EXPECT_EQ(Read("c/ini/t.ini"), wide ? Utf16(c.after) : c.after);
            ExpectNoLeftovers();
        }
    }
}

// Nothing to edit, or a destination that cannot be replaced: false, and the
// file stays as it was.
TEST_F(Ini, QuickWriteFailuresLeaveTheFile) {
    fs::create_directories(Host("c/ini"));
    EXPECT_FALSE(QuickWriteIniString("C:\\ini\\none.ini", "S", "k", "v", 1));
    EXPECT_FALSE(fs::exists(Host("c/ini/none.ini")));
    EXPECT_EQ(CountLines("quick_write_helper: could not open file C:\\ini\\none.ini for reading."), 1u);
    for (const char* empty : {"file", "section", "key"}) {
        SCOPED_TRACE(empty);
        std::string f = std::string(empty) == "file" ? "" : "C:\\ini\\t.ini";
        std::string s = std::string(empty) == "section" ? "" : "S";
        std::string k = std::string(empty) == "key" ? "" : "k";
        EXPECT_FALSE(QuickWriteIniString(f, s, k, "v", 1));
    }
    // A destination that is a folder cannot be replaced by a file.
    fs::create_directories(Host("c/ini/dir.ini"));
    EXPECT_FALSE(QuickWriteIniString("C:\\ini\\dir.ini", "S", "k", "v", 1));
    EXPECT_TRUE(fs::is_directory(Host("c/ini/dir.ini")));
    ExpectNoLeftovers();
}

TEST_F(Ini, ReadAndWriteCases) {
    struct Case {
        const char* name;
        bool raw;
        std::string text;
        std::string written;
        const char* logged;
    };
    const Case cases[] = {
        {"names and values are trimmed, quotes come off", false, "[S]\r\na = 1\r\nb=\"two words\"\r\n",
         "[S]\r\na=1\r\nb=two words\r\n\r\n", ""},
        {"a line starting with \"=\" is dropped", false, "[S]\r\n=x\r\nk=v\r\n", "[S]\r\nk=v\r\n\r\n",
         "IniFile::Read C:\\ini\\t.ini [line 2]: Could not parse name=value line"},
        {"data before any section", false, "k=v\r\n[S]\r\n", "[S]\r\n\r\n",
         "IniFile::Read C:\\ini\\t.ini [line 1]: Data found that does not belong to any section"},
        {"an empty section name", false, "[S]\r\na=1\r\n[ ]\r\nb=2\r\n", "[S]\r\na=1\r\nb=2\r\n\r\n",
         "IniFile::Read C:\\ini\\t.ini [line 3]: Empty section"},
        {"a second header reopens the section; a repeated key keeps its place", false,
         "[S]\r\na=1\r\n[T]\r\nt=1\r\n[s]\r\nb=2\r\nA=3\r\n", "[S]\r\na=3\r\nb=2\r\n\r\n[T]\r\nt=1\r\n\r\n", ""},
        {"raw lines round-trip; a name with \"=\" and nothing comes back alone", true,
         "[S]\r\nfirst line\r\nk=v\r\nname=\r\nlast line\r\n",
         "[S]\r\nfirst line\r\nk=v\r\nname\r\nlast line\r\n\r\n", ""},
        {"comments and blank lines go", false, "; c\r\n\r\n[S]\r\n# d\r\nk=v\r\n", "[S]\r\nk=v\r\n\r\n", ""},
    };
    fs::create_directories(Host("c/ini"));
    for (const auto& c : cases) {
        for (bool wide : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (wide ? " (UTF-16)" : " (ANSI)"));
            TearDown();
            SetUp();
            fs::create_directories(Host("c/ini"));
            WriteHost("c/ini/t.ini", wide ? Utf16(c.text) : c.text);
            IniFile ini(c.raw);
            ASSERT_TRUE(ini.Read("C:\\ini\\t.ini"));
            EXPECT_EQ(ini.Encoding(), wide ? 2 : 1);
            ASSERT_TRUE(ini.Write("C:\\ini\\out.ini"));
            EXPECT_EQ(Read("c/ini/out.ini"), wide ? Utf16(c.written) : c.written);
            if (*c.logged) {
                EXPECT_EQ(CountLines(c.logged), 1u) << c.logged;
            }
        }
    }
}

TEST_F(Ini, SectionsAndValues) {
    IniFile ini;
    ini.SetValue("S", "Key", "1");
    ini.SetValue("s", "KEY", "2");
    ini.SetValue("", "k", "v");
    ini.SetValue("S", "", "v");
    EXPECT_EQ(CountLines("IniFile::SetValue: section name cannot be empty"), 1u);
    EXPECT_EQ(CountLines("IniFile::SetValue: value name cannot be empty"), 1u);
    ASSERT_EQ(ini.Sections().size(), 1u);
    IniSection* s = ini.FindSection("s");
    ASSERT_NE(s, nullptr);
    std::string value, key;
    ASSERT_TRUE(s->GetValue("key", value));
    EXPECT_EQ(value, "2");
    ASSERT_TRUE(s->Reset());
    ASSERT_TRUE(s->GetCurrentValue(key, value));
    EXPECT_EQ(key, "Key");  // the spelling of the first insertion
    s->Next();
    EXPECT_FALSE(s->GetCurrentValue(key, value));
    IniSection other("O");
    other.SetValue("key", "3");
    other.SetValue("new", "4");
    s->Merge(other, false);
    s->GetValue("Key", value);
    EXPECT_EQ(value, "2");
    s->Merge(other, true);
    s->GetValue("Key", value);
    EXPECT_EQ(value, "3");
    s->RemoveValue("KEY");
    EXPECT_FALSE(s->GetValue("key", value));
    EXPECT_EQ(s->Keys(), std::vector<std::string>{"new"});
    auto kept = ini.RemoveSection("S", true);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(ini.FindSection("S"), nullptr);
    ini.AddSection(std::move(kept));
    EXPECT_NE(ini.FindSection("S"), nullptr);
    EXPECT_FALSE(ini.Write());
    EXPECT_EQ(CountLines("IniFile::Write: empty file name!"), 1u);
}

// The INF action: a value keeps every "=" after the first, a file that is
// not there is made, and a delete-only line counts as done.
TEST_F(Ini, UpdateInisLines) {
    Media();
    Printer();
    fs::create_directories(Host("c/ini"));
    WriteHost("c/ini/old.ini", "[S]\r\nold=1\r\nkeep=1\r\n");
    WriteHost("c/media/t.inf",
              "[Manufacturer]\r\nZ=Models\r\n[Models]\r\n\"Zelquor Mira 12 PCL\"=INST\r\n[INST]\r\nUpdateInis=U\r\n"
              "[U]\r\nC:\\ini\\new.ini,%Sec%,,Formula=a=b=c\r\nC:\\ini\\old.ini,S,old=1\r\n"
              "C:\\ini\\old.ini,S,,\r\nC:\\ini\\old.ini\r\n[Strings]\r\nSec=Zel Section\r\n");
    SetCurrentDirectoryA("C:\\media");
    KovrantEngine engine;
    ASSERT_EQ(engine.run("-I t.inf -N P1"), 0);
    EXPECT_EQ(Read("c/ini/new.ini"), "[Zel Section]\r\nFormula=a=b=c\r\n");
    EXPECT_EQ(Read("c/ini/old.ini"), "[S]\r\nkeep=1\r\n");
    EXPECT_EQ(CountLines("UpdateIniInfo::HandleCommand: not enough arguments!"), 1u);
    EXPECT_EQ(CountLines("Error parsing command"), 0u);
}

}  // namespace
