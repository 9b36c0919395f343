// The actions' lines, with the faults of the file and registry actions
// built soundly.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "postinst/actions.h"
#include "postinst/engine.h"
#include "postinst_fixture.h"

namespace fs = std::filesystem;
using namespace postinst;

namespace {

class Actions : public postinst::testing::PostinstRoot {
protected:
    // An engine loaded with a fixture INF whose install section names the
    // sections of the lines under test.
    void Load(const std::string& sections) {
        WriteHost("c/media/t.inf", "[Manufacturer]\r\nZ=Models\r\n[Models]\r\n\"Zelquor Mira 12 PCL\"=INST\r\n[INST]\r\n" +
                                       sections);
        Printer();
        SetCurrentDirectoryA("C:\\media");
        ASSERT_EQ(engine_.run("-I t.inf -N P1"), 0);
    }
    KovrantEngine engine_;
};

TEST_F(Actions, InstallFileCases) {
    WriteHost("c/src/plain.txt", "plain");
    WriteHost("c/src/keep.txt", "keep");
    WriteHost("c/src/short.lz", std::string("SZDD\x88\xf0\x27\x33" "A\0\x10\0\0\0\xff" "abc", 18));
    WriteHost("c/src/same.txt", "same");
    Load("ZelInstallFile=F\r\n[F]\r\n"
         "a,1,C:\\dst\\plain.txt,C:\\src\\plain.txt,C:\\tmp\\t1,1,1\r\n"    // copied, source deleted, recorded
         "b,1,C:\\dst\\short.txt,C:\\src\\short.lz,C:\\tmp\\t2,1,1\r\n"      // damaged: nothing written, source kept
         "c,1,C:\\dst\\none.txt,C:\\src\\missing.txt,C:\\tmp\\t3\r\n"        // no source
         "d,1,C:\\src\\same.txt,C:\\src\\same.txt,C:\\tmp\\t4,1,1\r\n"       // one file named twice: kept
         "e,2,C:\\dst\\conn.txt,C:\\src\\keep.txt,C:\\tmp\\t5\r\n"           // connections only: not run
         "f,1,C:\\dst\\two.txt\r\n");                                        // too few arguments
    EXPECT_EQ(ReadHost("c/dst/plain.txt"), "plain");
    EXPECT_FALSE(fs::exists(Host("c/src/plain.txt")));
    EXPECT_FALSE(fs::exists(Host("c/dst/short.txt")));
    EXPECT_TRUE(fs::exists(Host("c/src/short.lz")));
    EXPECT_EQ(CountLines("InstFileInfo::ourLZCopy: LZCopy failed:  source file format invalid"), 1u);
    EXPECT_EQ(CountLines("InstFileInfo::HandleCommand: file C:\\src\\missing.txt does not exist!"), 1u);
    EXPECT_EQ(ReadHost("c/src/same.txt"), "same");
    EXPECT_FALSE(fs::exists(Host("c/dst/conn.txt")));
    EXPECT_EQ(CountLines("InstFileInfo::HandleCommand: not enough arguments!"), 1u);
    // Error lines: the damaged file, the missing source, the short line.
    EXPECT_EQ(CountLines("GenericInfo::ReadINF: Error parsing command:"), 3u);
    std::vector<std::string> recorded;
    for (auto& op : engine_.LogOperations()) recorded.push_back(op.path);
    EXPECT_EQ(recorded, (std::vector<std::string>{"C:\\dst\\plain.txt", "C:\\src\\same.txt"}));
    // No temporary expansion is left beside the destinations.
    for (auto& e : fs::directory_iterator(Host("c/dst"))) EXPECT_NE(e.path().filename().string().substr(0, 3), "tmp");
}

TEST_F(Actions, DeleteLines) {
    WriteHost("c/d/a.txt", "a");
    WriteHost("c/d/b.txt", "b");
    WriteHost("c/d/c.txt", "c");
    Load("ZelDelFiles=SecA,SecB,Missing\r\n[SecA]\r\n1,1,C:\\d\\a.txt,0\r\n1,1\r\n[SecB]\r\n1,1,C:\\d\\b.txt,7\r\n"
         "1,1,C:\\d\\c.txt,2\r\n0,0,C:\\d\\never.txt\r\n");
    EXPECT_FALSE(fs::exists(Host("c/d/a.txt")));
    EXPECT_FALSE(fs::exists(Host("c/d/b.txt")));
    EXPECT_TRUE(fs::exists(Host("c/d/c.txt")));  // at restart only
    EXPECT_EQ(zq::PendingRenames().size(), 1u);
    EXPECT_EQ(CountLines("DeleteFileInfo::HandleCommand: not enough arguments!"), 1u);
    EXPECT_EQ(CountLines("DeleteFilesInfo::HandleCommand: invalid flag: 7"), 1u);
    EXPECT_EQ(CountLines("GenericInfo::ReadINF: Section Missing not found"), 1u);
    EXPECT_EQ(CountLines("GenericInfo::ReadINF: Error parsing command:"), 1u);
}

TEST_F(Actions, PrinterDataLines) {
    Load("ZelPrtDrvData=D\r\n[D]\r\n"
         "a,1,NUMBER,Hex,0x1F\r\n"
         "b,1,NUMBER,Bare,0x\r\n"
         "c,1,BINARY,Bin,7\r\n"
         "d,1,STRING,Text,%device%\r\n"
         "e,1,STRING,Hex,kept as text,2\r\n"      // exists as a number: overwritten
         "f,1,NUMBER,Bin2,5,2\r\n"
         "g,1,other,Word,w\r\n"
         "h,1,NUMBER\r\n");
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("P1"), &h, nullptr));
    auto get = [&](const char* name, DWORD* type) {
        BYTE data[64] = {};
        DWORD needed = 0;
        GetPrinterDataA(h, const_cast<LPSTR>(name), type, data, sizeof data, &needed);
        return std::string(reinterpret_cast<char*>(data), needed);
    };
    DWORD type = 0;
    EXPECT_EQ(get("Bare", &type), std::string(4, '\0'));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(get("Bin", &type), std::string("\x07\0\0\0", 4));
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(get("Text", &type), std::string("Zelquor Mira 12 PCL\0", 20));
    EXPECT_EQ(get("Hex", &type), std::string("kept as text\0", 13));
    EXPECT_EQ(get("Word", &type), std::string("w\0", 2));
    EXPECT_EQ(type, REG_SZ);
    ClosePrinter(h);
    EXPECT_EQ(CountLines("PrtDrvDataInfo::HandleCommand: not enough arguments!"), 1u);
}

TEST_F(Actions, RegistryLines) {
    Registry reg;
    reg.CreateKey("HKLM", "SOFTWARE\\Zelquor\\T", false);
    RegistryValue v;
    v.kind = RegistryValue::kString;
    v.text = "user's";
    reg.WriteValue("HKLM", "SOFTWARE\\Zelquor\\T", "Kept", v);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelquor\\T", 0, KEY_ALL_ACCESS, &key), 0);
    RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0);  // a value without data
    RegCloseKey(key);
    v.text = "default";
    reg.WriteValue("HKLM", "SOFTWARE\\Zelquor\\T", "", v);
    v.text = "gone";
    reg.WriteValue("HKLM", "SOFTWARE\\Zelquor\\T", "Old", v);
    Load("AddReg=R\r\nDelReg=X\r\n[R]\r\n"
         "HKLM,SOFTWARE\\Zelquor\\T,Num,1,42\r\n"
         "HKLM,SOFTWARE\\Zelquor\\T,Quiet,0x10001,7\r\n"
         "HKLM,SOFTWARE\\Zelquor\\T,Str,0,\"a, b\"\r\n"
         "HKLM,SOFTWARE\\Zelquor\\T,Kept,2,installer's\r\n"
         "HKLM,SOFTWARE\\Zelquor\\T,Empty,2,filled\r\n"
         "HKLM,SOFTWARE\\Zelquor\\New\\Deep,V,0,x\r\n"
         "[X]\r\nHKLM,SOFTWARE\\Zelquor\\T\r\nHKLM,SOFTWARE\\Zelquor\\T,Old\r\n");
    EXPECT_EQ(reg.ReadString("HKLM", "SOFTWARE\\Zelquor\\T", "Num"), "42");
    EXPECT_EQ(reg.ReadString("HKLM", "SOFTWARE\\Zelquor\\T", "Quiet"), "7");
    EXPECT_EQ(reg.ReadString("HKLM", "SOFTWARE\\Zelquor\\T", "Str"), "a, b");
    EXPECT_EQ(reg.ReadString("HKLM", "SOFTWARE\\Zelquor\\T", "Kept"), "user's");
    EXPECT_EQ(reg.ReadString("HKLM", "SOFTWARE\\Zelquor\\T", "Empty"), "filled");
    EXPECT_EQ(reg.ReadString("HKLM", "SOFTWARE\\Zelquor\\New\\Deep", "V"), "x");
    EXPECT_FALSE(reg.ValueExists("HKLM", "SOFTWARE\\Zelquor\\T", ""));
    EXPECT_FALSE(reg.ValueExists("HKLM", "SOFTWARE\\Zelquor\\T", "Old"));
    EXPECT_EQ(CountLines("setupRegValue: binary type not supported, assuming DWORD"), 1u);
    // Only values this install wrote are recorded for the uninstaller.
    std::vector<std::string> recorded;
    for (auto& op : engine_.LogOperations()) recorded.push_back(op.path);
    EXPECT_EQ(recorded, (std::vector<std::string>{
                            "HKLM, \"SOFTWARE\\Zelquor\\T\", Num", "HKLM, \"SOFTWARE\\Zelquor\\T\", Quiet",
                            "HKLM, \"SOFTWARE\\Zelquor\\T\", Str", "HKLM, \"SOFTWARE\\Zelquor\\T\", Empty",
                            "HKLM, \"SOFTWARE\\Zelquor\\New\\Deep\", V"}));
}

TEST_F(Actions, ProgramLines) {
    // No cmd.exe and no such programs on the root: each start fails and is
    // logged with its error; a path with blanks is quoted, so the part
    // before the blank is never started.
    WriteHost("c/Program", "not a program");
    Load("ZelRunApps=P\r\n[P]\r\n"
         "a,1,C:\\Program Files\\Zelquor\\tool.exe,/x\r\n"
         "b,1,C:\\Program Files\\Zelquor\\setup.bat,,0,1\r\n"
         "c,1,DRIVER_DOC_PROP\r\n"
         "d,1,C:\\quiet.exe,,0,0,WIN32,0\r\n"
         "e,1\r\n");
    EXPECT_EQ(CountLines("RunProgramInfo: C:\\Program Files\\Zelquor\\tool.exe /x returned 0 (error code 2)"), 1u);
    EXPECT_EQ(CountLines("RunProgramInfo: C:\\Program Files\\Zelquor\\setup.bat  returned 0 (error code 2)"), 1u);
    EXPECT_EQ(CountLines("RunProgramInfo: C:\\quiet.exe  ran.  (Error code 2)"), 1u);
    EXPECT_EQ(CountLines("RunAppInfo::HandleCommand: Not enough arguments!"), 1u);
}

}  // namespace
