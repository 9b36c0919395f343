// The resource compiler: script errors with their place, the preprocessor and
// header constants, extended dialog and menu templates byte for byte, typed
// records, and the zqrc command.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "base/resource_directory.h"
#include "base/resources.h"
#include "rc_compiler.h"

namespace fs = std::filesystem;
using zq::rc::CompileError;
using zq::rc::CompileOptions;
using zq::rc::CompileText;

namespace {

// Compiles a script whose included files come from a table.
std::vector<zq::rc::Resource> Compile(const std::string& text, const std::map<std::string, std::string>& files = {}) {
    CompileOptions options;
    options.readFile = [&](const fs::path& p) -> std::optional<std::string> {
        auto it = files.find(p.filename().string());
        if (it == files.end()) return std::nullopt;
        return it->second;
    };
    return CompileText(text, "t.rc", options).resources;
}

std::vector<uint8_t> Only(const std::string& text, const std::map<std::string, std::string>& files = {}) {
    auto r = Compile(text, files);
    EXPECT_EQ(r.size(), 1u);
    return r.empty() ? std::vector<uint8_t>{} : r[0].data;
}

TEST(RcErrors, NameTheFileAndLine) {
    struct Case {
        const char* script;
        const char* message;
    } cases[] = {
        {"1 DIALOG 0, 0, 10\nBEGIN\nEND\n", "t.rc:2: expected ','"},
        {"STRINGTABLE\nBEGIN\n  1 \"abc\n END", "t.rc:3: string not closed"},
        {"1 DIALOG 0,0,1,1\nBEGIN\n  FOO 1\nEND", "t.rc:3: unknown control statement 'FOO'"},
        {"RECORD 300 1 {\n  uint8 x = 256;\n}", "t.rc:2: value 256 does not fit 'x' (uint8)"},
        {"RECORD 300 1 {\n  sint16 x = -32769;\n}", "t.rc:2: value -32769 does not fit 'x' (sint16)"},
        {"RECORD 300 1 SIZE 4 {\n uint16 x;\n}", "t.rc:1: record lays out 2 bytes, declared SIZE 4"},
        {"RECORD 300 1 {\n\n char[2] n = \"abc\";\n}", "t.rc:3: text of 3 characters does not fit 'n' (char[2])"},
        {"STRINGTABLE\nBEGIN\n 1 \"a\"\n 1 \"b\"\nEND", "t.rc:4: string id 1 defined twice"},
        {"1 RCDATA\nBEGIN\n  NOPE + 1\nEND", "t.rc:3: undefined symbol 'NOPE'"},
        {"#include \"ids.h\"\n", "ids.h:2: #error"},
        {"\n1 BITMAP \"none.bmp\"", "t.rc:2: cannot find 'none.bmp'"},
        {"STRUCT S SIZE 3 {\n uint16 a;\n}", "STRUCT S lays out 2 bytes, declared SIZE 3"},
        {"RECORD 300 1 {\n uint16 a;\n uint8 a;\n}", "t.rc:3: field 'a' declared twice"},
        {"RECORD 300 1 : Missing { }", "t.rc:1: unknown STRUCT 'Missing'"},
        {"#if 1\n1 RCDATA { 1 }\n", "#if without #endif"},
        {"1 MENU\nBEGIN\n MENUITEM \"x\" 5\nEND", "t.rc:3: expected ','"},
        {"1 ACCELERATORS", "t.rc:1: ACCELERATORS resources are not supported"},
        {"1 VERSIONINFO\nBEGIN\n KEY \"x\"\nEND", "t.rc:3: BLOCK or VALUE expected in VERSIONINFO, not 'KEY'"},
        {"RECORD 300 1 {\n uint16 list[2] = {1, 2, 3};\n}", "t.rc:2: 3 values for 'list[2]'"},
        {"STRUCT S { uint8 a; }\nRECORD 300 1 {\n S s = { b = 1 };\n}", "t.rc:3: S has no field 'b'"},
        {"RECORD 300 1 {\n float f;\n}", "t.rc:2: unknown field type 'float'"},
        {"RECORD 300 1 {\n uint16 n = count(none);\n}", "t.rc:2: count(none): no such field"},
        {"RECORD 300 1 {\n char[4] t = \"\xE2\x82\xAC\xE2\x84\x96\";\n}", "has no ANSI (Windows-1252) form"},
        {"1 RCDATA { 1 / (2 - 2) }", "t.rc:1: division by zero"},
        {"1 DIALOG 0, 0, 40000, 1\nBEGIN\nEND", "t.rc:1: width 40000 is out of range"},
    };
    std::map<std::string, std::string> files = {{"ids.h", "#define A 1\n#error bad\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        try {
            auto r = Compile(c.script, files);
            zq::rc::BuildDirectory(r);
            ADD_FAILURE() << "no error";
        } catch (const CompileError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(RcErrors, DuplicateResourcesNameBothPlaces) {
    auto r = Compile("1 RCDATA { 1 }\n\n2 RCDATA { 1 }\n1 RCDATA { 2 }\n");
    try {
        zq::rc::BuildDirectory(r);
        ADD_FAILURE() << "no error";
    } catch (const CompileError& e) {
        EXPECT_STREQ(e.what(), "t.rc:4: resource defined twice (first at t.rc:1)");
    }
}

TEST(RcPreprocessor, SymbolsFromDefinesAndCxxHeaders) {
    // A header shared with C++ code: constants, enums, namespaces, and things
    // a script does not need (types, functions, function-like macros).
    const std::string header =
        "#pragma once\n"
        "#include <windows.h>\n"
        "namespace ids {\n"
        "inline constexpr int kBase = 0x100;\n"
        "constexpr unsigned short kNext = kBase + 2;\n"
        "enum Colour : int { Red = 5, Green, Blue = Red * 3 };\n"
        "struct Row { int a; int b; };\n"
        "inline int Twice(int x) { return 2 * x; }\n"
        "#define SQUARE(x) ((x) * (x))\n"
        "#define PLAIN (kNext + 1)\n"
        "}  // namespace ids\n";
    auto data = Only(
        "#include \"ids.h\"\n"
        "#ifdef PLAIN\n"
        "#  if PLAIN == 0x103 && defined(Green)\n"
        "#    define PICK 1\n"
        "#  elif 1\n"
        "#    define PICK 2\n"
        "#  else\n"
        "#    define PICK 3\n"
        "#  endif\n"
        "#else\n"
        "#  define PICK 4\n"
        "#endif\n"
        "1 RCDATA { kBase, kNext, PLAIN, Red, Green, Blue, PICK, 0x10000L, -1 }\n",
        {{"ids.h", header}});
    const std::vector<uint8_t> expected = {0x00, 0x01, 0x02, 0x01, 0x03, 0x01, 5, 0, 6, 0,
                                           15,   0,    1,    0,    0,    0,    1, 0, 0xFF, 0xFF};
    EXPECT_EQ(data, expected);
}

TEST(RcTemplates, DialogExIsByteExact) {
    auto data = Only(
        "1 DIALOGEX 1, 2, 30, 40\n"
        "STYLE WS_POPUP\n"
        "FONT 8, \"A\", 400, 1, 2\n"
        "BEGIN\n"
        "  CONTROL \"t\", 7, \"Cls\", WS_TABSTOP, 1, 2, 3, 4, WS_EX_CLIENTEDGE, 99\n"
        "END\n");
    const std::vector<uint8_t> expected = {
        0x01, 0x00, 0xFF, 0xFF,  // version 1, signature
        0, 0, 0, 0,              // help id
        0, 0, 0, 0,              // extended style
        0x40, 0, 0, 0x80,        // WS_POPUP | DS_SETFONT
        1, 0,                    // one item
        1, 0, 2, 0, 30, 0, 40, 0,
        0, 0, 0, 0, 0, 0,        // no menu, default class, empty title
        8, 0, 0x90, 0x01, 1, 2,  // point size, weight 400, italic, charset
        'A', 0, 0, 0,
        0, 0,                    // padding to a DWORD
        99, 0, 0, 0,             // help id
        0x00, 0x02, 0, 0,        // WS_EX_CLIENTEDGE
        0x00, 0x00, 0x01, 0x50,  // WS_CHILD | WS_VISIBLE | WS_TABSTOP
        1, 0, 2, 0, 3, 0, 4, 0,
        7, 0, 0, 0,              // id as a DWORD
        'C', 0, 'l', 0, 's', 0, 0, 0,
        't', 0, 0, 0,
        0, 0,                    // no creation data
    };
    EXPECT_EQ(data, expected);
}

TEST(RcTemplates, ControlStylesTakeDefaultsAndNot) {
    auto data = Only(
        "1 DIALOG 0, 0, 9, 9\n"
        "STYLE WS_CHILD\n"
        "BEGIN\n"
        "  EDITTEXT 5, 0, 0, 1, 1, ES_NUMBER | NOT WS_BORDER | NOT WS_TABSTOP\n"
        "END\n");
    // Header: 18 bytes, menu, class, title (2 each) = 24; the item follows.
    ASSERT_GE(data.size(), 28u);
    uint32_t style = data[24] | (data[25] << 8) | (data[26] << 16) | (static_cast<uint32_t>(data[27]) << 24);
    EXPECT_EQ(style, 0x50000000u | 0x2000u);  // WS_CHILD | WS_VISIBLE | ES_NUMBER
    uint32_t dialogStyle = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    EXPECT_EQ(dialogStyle, 0x40000000u);  // STYLE replaces the default, no font, no caption
}

TEST(RcTemplates, MenuExIsByteExact) {
    auto data = Only(
        "2 MENUEX\n"
        "BEGIN\n"
        "  POPUP \"P\", 5, MFT_STRING, MFS_GRAYED, 77\n"
        "  BEGIN\n"
        "    MENUITEM \"I\", 6, MFT_RADIOCHECK, MFS_CHECKED\n"
        "  END\n"
        "  MENUITEM SEPARATOR\n"
        "END\n");
    const std::vector<uint8_t> expected = {
        1, 0, 4, 0, 0, 0, 0, 0,              // version 1, items start 4 bytes on, help id
        0, 0, 0, 0, 3, 0, 0, 0, 5, 0, 0, 0,  // type, MFS_GRAYED, id 5
        0x01, 0,                             // a popup, not the last
        'P', 0, 0, 0, 0, 0,                  // text and padding
        77, 0, 0, 0,                         // the popup's help id
        0, 2, 0, 0, 8, 0, 0, 0, 6, 0, 0, 0,  // MFT_RADIOCHECK, MFS_CHECKED, id 6
        0x80, 0,                             // last of its level
        'I', 0, 0, 0, 0, 0,
        0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // MFT_SEPARATOR
        0x80, 0, 0, 0,                       // last, empty text
    };
    EXPECT_EQ(data, expected);
}

TEST(RcRecords, FieldsLayOutAsDeclared) {
    struct Case {
        const char* script;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"RECORD 300 1 { uint8 a = 1; uint16 b = 0x0203; uint32 c = 0x04050607; sint16 d = -2; sint8 e = -1; }",
         {1, 3, 2, 7, 6, 5, 4, 0xFE, 0xFF, 0xFF}},
        {"RECORD 300 1 { uint16 x = (1 << 4) | 3 + 2; uint16 y = ~0 & 0xF0; }", {21, 0, 0xF0, 0}},
        // Counts and sizes may name fields declared later.
        {"STRUCT E SIZE 3 { uint8 k; uint16 v = 9; }\n"
         "RECORD 300 1 { uint8 n = count(rows); uint8 s = sizeof(rows); uint8 e = sizeof(E); E rows[] = { {1}, {k = 2, v = 3} }; }",
         {2, 6, 3, 1, 9, 0, 2, 3, 0}},
        {"RECORD 300 1 { char[4] a = \"\xC3\xA9\xE2\x82\xAC\"; wchar[2] w = \"\xE2\x82\xAC\"; pad[2]; }",
         {0xE9, 0x80, 0, 0, 0xAC, 0x20, 0, 0, 0, 0}},
        {"STRUCT In { uint8 p; uint8 q = 4; }\n"
         "STRUCT Out SIZE 6 { In a; In b[2] = { {q = 5} }; }\n"
         "RECORD 300 1 : Out { b = { {p = 1}, {2, 3} }; }",
         {0, 4, 1, 4, 2, 3}},
        {"#define TWO 2\nRECORD 300 1 { array uint16 r[TWO + 1] = {600}; }", {0x58, 2, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        try {
            EXPECT_EQ(Only(c.script), c.bytes);
        } catch (const CompileError& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST(RcTemplates, IconFileBecomesImagesAndAGroup) {
    // An icon file of two images: ICONDIR, two 16-byte entries, the images.
    std::string ico = {0, 0, 1, 0, 2, 0};
    auto entry = [&](char size, char bits, uint32_t bytes, uint32_t offset) {
        ico += std::string{size, size, 0, 0, 1, 0, bits, 0};
        for (int i = 0; i < 4; ++i) ico.push_back(static_cast<char>(bytes >> (8 * i)));
        for (int i = 0; i < 4; ++i) ico.push_back(static_cast<char>(offset >> (8 * i)));
    };
    entry(16, 4, 3, 38);
    entry(32, 8, 2, 41);
    ico += "abcde";
    auto r = Compile("7 ICON \"a.ico\"\n", {{"a.ico", ico}});
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].type.id, 3);  // RT_ICON, numbered from 1
    EXPECT_EQ(r[0].name.id, 1);
    EXPECT_EQ(r[0].data, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(r[1].name.id, 2);
    EXPECT_EQ(r[1].data, (std::vector<uint8_t>{'d', 'e'}));
    EXPECT_EQ(r[2].type.id, 14);  // RT_GROUP_ICON
    EXPECT_EQ(r[2].name.id, 7);
    const std::vector<uint8_t> group = {0, 0, 1, 0, 2, 0,                      // header
                                        16, 16, 0, 0, 1, 0, 4, 0, 3, 0, 0, 0, 1, 0,  // 14-byte entries
                                        32, 32, 0, 0, 1, 0, 8, 0, 2, 0, 0, 0, 2, 0};
    EXPECT_EQ(r[2].data, group);
    // An image that lies outside the file is refused.
    ico[18] = 100;
    EXPECT_THROW(Compile("7 ICON \"a.ico\"\n", {{"a.ico", ico}}), CompileError);
}

TEST(RcDirectory, OrderOfStatementsDoesNotMatter) {
    auto a = zq::rc::BuildDirectory(Compile("1 RCDATA { 1 }\nx RCDATA { 2 }\n2 300 { 3 }\n"));
    auto b = zq::rc::BuildDirectory(Compile("2 300 { 3 }\nX RCDATA { 2 }\n1 RCDATA { 1 }\n"));
    EXPECT_EQ(a, b);
    EXPECT_TRUE(zq::IsValidResourceDirectory(a.data(), a.size()));
}

TEST(ZqrcCommand, WritesOutputsAndReportsErrorsWithTheirPlace) {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    fs::path zqrc = fs::path(bin) / "bin/zqrc";
    std::string tmpl = (fs::temp_directory_path() / "zqrc-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    fs::path dir = tmpl;
    std::ofstream(dir / "ids.h") << "#define IDS_X 7\n";
    std::ofstream(dir / "good.rc") << "#include \"ids.h\"\nSTRINGTABLE { IDS_X \"seven\" }\n";
    std::ofstream(dir / "bad.rc") << "STRINGTABLE\nBEGIN\n  1 \"one\"\n  2 two\nEND\n";
    std::string run = zqrc.string() + " -o " + (dir / "out.cpp").string() + " --res " + (dir / "out.res").string() +
                      " --depfile " + (dir / "out.d").string() + " " + (dir / "good.rc").string();
    EXPECT_EQ(std::system(run.c_str()), 0);
    std::ifstream dep(dir / "out.d");
    std::string deps((std::istreambuf_iterator<char>(dep)), {});
    EXPECT_NE(deps.find("ids.h"), std::string::npos);
    std::ifstream src(dir / "out.cpp");
    std::string source((std::istreambuf_iterator<char>(src)), {});
    EXPECT_NE(source.find(zq::kResourceDirectorySymbol), std::string::npos);

    std::string failing = zqrc.string() + " -o " + (dir / "bad.cpp").string() + " " + (dir / "bad.rc").string() +
                          " 2> " + (dir / "err.txt").string();
    EXPECT_NE(std::system(failing.c_str()), 0);
    std::ifstream err(dir / "err.txt");
    std::string message((std::istreambuf_iterator<char>(err)), {});
    EXPECT_EQ(message, (dir / "bad.rc").string() + ":4: expected a string, found 'two'\n");
    fs::remove_all(dir);
}

}  // namespace
