// The actions that finish an installation: monitor, print processor,
// dependent files, start-menu links and the uninstaller, with the install
// record handed on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "com/com.h"
#include "postinst/actions.h"
#include "postinst/engine.h"
#include "postinst/file_op.h"
#include "postinst_fixture.h"
#include "store/admin.h"

namespace fs = std::filesystem;
using namespace postinst;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path HostOf(const std::string& windowsPath) {
    auto p = zq::MapPath(zq::AnsiToWide(windowsPath));
    return p ? *p : fs::path();
}

struct DriverState {
    std::string monitor;
    std::vector<std::string> dependents;
};

class Finishing : public postinst::testing::PostinstRoot {
protected:
    static constexpr const char* kHead =
        "[Manufacturer]\r\nZ=Models\r\n[Models]\r\n\"Zelquor Mira 12 PCL\"=INST\r\n"
        "\"zelquor mira 12 pcl\"=INST\r\n[INST]\r\nDataSection=DATA\r\n";

    void SetUp() override {
        PostinstRoot::SetUp();
        Media();
        fs::create_directories(Host("c/media"));
    }

    // Runs the engine over an INF of the head above and the given text.
    int RunInf(const std::string& text, const std::string& printer = "P1") {
        WriteHost("c/media/t.inf", kHead + text);
        SetCurrentDirectoryA("C:\\media");
        KovrantEngine engine;
        return engine.run("-I t.inf -N \"" + printer + "\"");
    }

    // A level-6 driver whose files are in the version directory.
    void Driver(const std::string& name, const std::string& monitor = "", const std::string& deps = "",
                DWORD version = 3) {
        DriverFiles({"pclrend.dll", "drvui.dll", "extra.dat", "more.dat", "pclrend.ini"});
        std::string n = name, drv = "pclrend.dll", ui = "drvui.dll", mon = monitor, multi = deps + '\0';
        DRIVER_INFO_6A d{};
        d.cVersion = version;
        d.pName = n.data();
        d.pDriverPath = drv.data();
        d.pDataFile = ui.data();
        d.pConfigFile = ui.data();
        d.pDependentFiles = multi.data();
        d.pMonitorName = mon.empty() ? nullptr : mon.data();
        ASSERT_TRUE(AddPrinterDriverA(nullptr, 6, reinterpret_cast<LPBYTE>(&d)));
    }

    // A fresh root with the model's driver and the printer P1 of it.
    void FreshPrinter() {
        TearDown();
        SetUp();
        Driver("Zelquor Mira 12 PCL");
        AddPrinter("P1", "Zelquor Mira 12 PCL");
    }

    void AddPrinter(const std::string& name, const std::string& driver, DWORD attributes = 0,
                    const std::string& processor = "WinPrint", const std::string& datatype = "RAW") {
        std::string n = name, d = driver, port = "LPT1:", p = processor, t = datatype;
        PRINTER_INFO_2A info{};
        info.pPrinterName = n.data();
        info.pDriverName = d.data();
        info.pPortName = port.data();
        info.pPrintProcessor = p.data();
        info.pDatatype = t.data();
        info.Attributes = attributes;
        HANDLE h = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        ASSERT_NE(h, nullptr);
        ClosePrinter(h);
    }

    // Marks the printer read-only: a SetPrinterA call then fails and says so.
    void ReadOnly(const std::string& name) { ASSERT_TRUE(zq::store::SetPrinterReadOnly(zq::AnsiToWide(name), true)); }

    DriverState State(const std::string& name) {
        DWORD needed = 0, count = 0;
        std::string env = "Windows NT x86";
        EnumPrinterDriversA(nullptr, env.data(), 3, nullptr, 0, &needed, &count);
        std::vector<BYTE> buffer(needed);
        EXPECT_TRUE(EnumPrinterDriversA(nullptr, env.data(), 3, buffer.data(), needed, &needed, &count));
        auto* d = reinterpret_cast<DRIVER_INFO_3A*>(buffer.data());
        DriverState s;
        for (DWORD i = 0; i < count; ++i) {
            if (name != d[i].pName) continue;
            s.monitor = d[i].pMonitorName ? d[i].pMonitorName : "";
            for (const char* p = d[i].pDependentFiles; p && *p; p += std::strlen(p) + 1)
                s.dependents.push_back(PathObject(p).Name());
        }
        return s;
    }

    PRINTER_INFO_2A PrinterInfo(const std::string& name, std::vector<BYTE>& buffer) {
        HANDLE h = nullptr;
        std::string n = name;
        EXPECT_TRUE(OpenPrinterA(n.data(), &h, nullptr));
        DWORD needed = 0;
        GetPrinterA(h, 2, nullptr, 0, &needed);
        buffer.assign(needed, 0);
        EXPECT_TRUE(GetPrinterA(h, 2, buffer.data(), needed, &needed));
        ClosePrinter(h);
        return *reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
    }

    // The driver's files staged in the driver directory: the sign that the
    // driver was added again.
    bool Staged() { return fs::exists(Host("c/windows/system32/spool/drivers/w32x86/pclrend.dll")); }

    void Windows(const char* version) {
        RegistryValue v;
        v.kind = RegistryValue::kString;
        v.text = version;
        Registry().WriteValue("HKLM", "Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion", v);
    }
};

// ---------------------------------------------------------------- monitor

TEST_F(Finishing, MonitorLines) {
    struct Case {
        const char* name;
        const char* line;
        const char* driverMonitor;
        DWORD attributes;
        bool readOnly;
        bool readded;         // the driver was added again
        const char* monitor;  // the driver's monitor afterwards
        const char* logged;   // a line the log holds ("" none)
        const char* absent;   // a line the log must not hold
    };
    const Case cases[] = {
        {"ties the monitor and asks for bidi", "m,1,Zelquor Language Monitor,1", "", 0, false, true,
         "Zelquor Language Monitor", "MonitorInfo::HandleCommand: Printer P1 needs an update!", ""},
        {"the same monitor is not added again", "m,1,Zelquor Language Monitor,1", "Zelquor Language Monitor", 0,
         false, false, "Zelquor Language Monitor", "needs an update!", ""},
        {"switch 0 with the same monitor changes nothing at all", "m,1,Zelquor Language Monitor,0",
         "Zelquor Language Monitor", 0, true, false, "Zelquor Language Monitor", "",
         "MonitorInfo::HandleCommand: OpenPrinter"},
        {"a printer with bidi already gets no SetPrinterA", "m,1,Zelquor Language Monitor,1",
         "Zelquor Language Monitor", PRINTER_ATTRIBUTE_ENABLE_BIDI, true, false, "Zelquor Language Monitor", "",
         "MonitorInfo::HandleCommand: OpenPrinter"},
        {"a refused printer is logged, the line still succeeds", "m,1,Zelquor Language Monitor,1",
         "Zelquor Language Monitor", 0, true, false, "Zelquor Language Monitor",
         "MonitorInfo::HandleCommand: OpenPrinter of printer P1 failed with code 5", "Error parsing command"},
        {"a monitor the spooler lacks", "m,1,Nowhere Monitor,1", "", 0, false, false, "",
         "MonitorInfo::HandleCommand: Nowhere Monitor does not exist.", ""},
        {"the name is taken as written, not expanded", "m,1,%Mon%,1", "", 0, false, false, "",
         "MonitorInfo::HandleCommand: %Mon% does not exist.", ""},
        {"one field", "m,1,Zelquor Language Monitor", "", 0, false, false, "",
         "MonitorInfo::HandleCommand: not enough arguments!", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Driver("Zelquor Mira 12 PCL", c.driverMonitor, "extra.dat");
        AddPrinter("P1", "Zelquor Mira 12 PCL", c.attributes);
        if (c.readOnly) ReadOnly("P1");
        ASSERT_EQ(RunInf(std::string("ZelAssociateMonitor=MON\r\n[MON]\r\n") + c.line +
                         "\r\n[Strings]\r\nMon=Zelquor Language Monitor\r\n"),
                  0);
        EXPECT_EQ(Staged(), c.readded);
        EXPECT_EQ(State("Zelquor Mira 12 PCL").monitor, c.monitor);
        if (*c.logged) {
            EXPECT_EQ(CountLines(c.logged), 1u);
        }
        if (*c.absent) {
            EXPECT_EQ(CountLines(c.absent), 0u);
        }
    }
}

TEST_F(Finishing, BidiIsSetOnThePrinter) {
    Driver("Zelquor Mira 12 PCL");
    AddPrinter("P1", "Zelquor Mira 12 PCL");
    ASSERT_EQ(RunInf("ZelAssociateMonitor=MON\r\n[MON]\r\nm,1,Zelquor Language Monitor,1\r\n"), 0);
    std::vector<BYTE> buffer;
    EXPECT_TRUE(PrinterInfo("P1", buffer).Attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI);
}

// A staging failure keeps the driver as it was and fails the line.
TEST_F(Finishing, AMissingDriverFileFailsTheMonitorLine) {
    Driver("Zelquor Mira 12 PCL", "", "gone.dat");
    AddPrinter("P1", "Zelquor Mira 12 PCL");
    ASSERT_EQ(RunInf("ZelAssociateMonitor=MON\r\n[MON]\r\nm,1,Zelquor Language Monitor,0\r\n"), 0);
    EXPECT_EQ(CountLines("DriverComponent::UpdatePrinterDriver: dependent file not found: "
                         "C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3\\gone.dat"),
              1u);
    EXPECT_EQ(CountLines("MonitorInfo::HandleCommand: unable to update driver."), 1u);
    EXPECT_EQ(State("Zelquor Mira 12 PCL").monitor, "");
}

// ---------------------------------------------------------------- processor

TEST_F(Finishing, ProcessorDataSections) {
    struct Case {
        const char* name;
        const char* data;
        const char* processor;  // the printer's afterwards
        const char* datatype;
        const char* logged;
    };
    const Case cases[] = {
        {"the maker's keys", "ZelPrintProcessor=ZelPrint,zelprint.dll\r\nZelDefaultDataType=NT EMF 1.008\r\n",
         "ZelPrint", "NT EMF 1.008", "ProcessorInfo::addProcessor: added processor successfully!"},
        {"both pairs: the maker's processor, never the plain datatype",
         "ZelPrintProcessor=ZelPrint,zelprint.dll\r\nPrintProcessor=Other,other.dll\r\nDefaultDataType=TEXT\r\n",
         "ZelPrint", "RAW", "\t\tData Type: "},
        {"no maker's processor: the plain one with the maker's datatype",
         "PrintProcessor=Other,other.dll\r\nZelDefaultDataType=TEXT\r\nDefaultDataType=RAW\r\n", "Other", "TEXT",
         "\t\tProcessor: Other"},
        {"quoted and expanded", "ZelPrintProcessor=\"%Proc%, zelprint.dll\"\r\n", "ZelPrint", "RAW",
         "\t\tDLL: zelprint.dll"},
        {"no DLL: nothing is added", "ZelPrintProcessor=Lonely\r\n", "WinPrint", "RAW", "\t\tDLL: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FreshPrinter();
        ASSERT_EQ(RunInf(std::string("[DATA]\r\n") + c.data + "[Strings]\r\nProc=ZelPrint\r\n"), 0);
        std::vector<BYTE> buffer;
        auto info = PrinterInfo("P1", buffer);
        EXPECT_STREQ(info.pPrintProcessor, c.processor);
        EXPECT_STREQ(info.pDatatype, c.datatype);
        EXPECT_EQ(CountLines(c.logged), 1u) << c.logged;
        EXPECT_EQ(CountLines("ProcessorInfo Status"), 1u);
    }
}

TEST_F(Finishing, AMatchingPrinterGetsNoSetPrinterButTheProcessorIsStillAdded) {
    Driver("Zelquor Mira 12 PCL");
    std::string env = "Windows NT x86", dll = "zelprint.dll", name = "ZelPrint";
    ASSERT_TRUE(AddPrintProcessorA(nullptr, env.data(), dll.data(), name.data()));
    AddPrinter("P1", "Zelquor Mira 12 PCL", 0, "ZelPrint", "RAW");
    ReadOnly("P1");
    ASSERT_EQ(RunInf("[DATA]\r\nZelPrintProcessor=ZelPrint,zelprint.dll\r\nZelDefaultDataType=RAW\r\n"), 0);
    EXPECT_EQ(CountLines("ProcessorInfo::addProcessor: system AddPrintProcessor returned 3005"), 1u);
    EXPECT_EQ(CountLines("writeProcessorInfo"), 0u);
}

TEST_F(Finishing, NoDataSectionIsNoError) {
    Driver("Zelquor Mira 12 PCL");
    AddPrinter("P1", "Zelquor Mira 12 PCL");
    WriteHost("c/media/t.inf", "[Manufacturer]\r\nZ=Models\r\n[Models]\r\n\"Zelquor Mira 12 PCL\"=INST\r\n[INST]\r\n");
    SetCurrentDirectoryA("C:\\media");
    KovrantEngine engine;
    ASSERT_EQ(engine.run("-I t.inf -N P1"), 0);
    EXPECT_EQ(CountLines("\t\tNo data section!"), 1u);
    EXPECT_EQ(CountLines("Error parsing command"), 0u);
}

// A connection to another computer gets printer data and the monitor, but
// no print processor.
TEST_F(Finishing, AConnectionGetsNoProcessor) {
    Driver("Zelquor Mira 12 PCL");
    std::string server = "\\\\FARAWAY", name = "\\\\FARAWAY\\P1", shortName = "P1", driver = "Zelquor Mira 12 PCL",
                port = "LPT1:";
    PRINTER_INFO_2A info{};
    info.pPrinterName = shortName.data();
    info.pDriverName = driver.data();
    info.pPortName = port.data();
    HANDLE h = AddPrinterA(server.data(), 2, reinterpret_cast<LPBYTE>(&info));
    ASSERT_NE(h, nullptr);
    ClosePrinter(h);
    ASSERT_EQ(RunInf("ZelAssociateMonitor=MON\r\nZelPrtDrvData=PD\r\n[MON]\r\nm,3,Zelquor Language Monitor,0\r\n"
                     "[PD]\r\nl,3,NUMBER,LangId,1\r\n[DATA]\r\nZelPrintProcessor=ZelPrint,zelprint.dll\r\n",
                     name),
              0);
    EXPECT_EQ(CountLines("Point and Print:   yes"), 1u);
    EXPECT_EQ(CountLines("GenericInfo::Process: Processing ZelPrtDrvData"), 1u);
    EXPECT_EQ(CountLines("GenericInfo::Process: Processing ZelAssociateMonitor"), 1u);
    EXPECT_EQ(CountLines("ProcessorInfo Status"), 0u);
}

// ---------------------------------------------------------------- dependent files

TEST_F(Finishing, DependentFileCases) {
    struct Case {
        const char* name;
        const char* copyFiles;
        std::string driverDeps;  // NUL-separated
        DWORD version;
        const char* osVersion;
        std::vector<std::string> after;
        bool readded;
        const char* logged;
    };
    using V = std::vector<std::string>;
    const Case cases[] = {
        {"a missing file replaces the list", "FILES,@ more.dat", "extra.dat", 3, "5.0",
         V{"extra.dat", "more.dat", "pclrend.ini"}, true, "\tThis file will cause an update: "},
        {"every INF file there: not added again", "FILES", std::string("extra.dat\0pclrend.ini", 21), 3,
         "5.0", V{"extra.dat", "pclrend.ini"}, false, ""},
        {"a case difference alone is no update", "FILES", std::string("EXTRA.DAT\0PCLREND.INI", 21), 3,
         "5.0", V{"EXTRA.DAT", "PCLREND.INI"}, false, ""},
        {"the driver's own files are left out", "FILES,@pclrend.dll,@drvui.dll",
         std::string("extra.dat\0pclrend.ini", 21), 3, "5.0", V{"extra.dat", "pclrend.ini"}, false, ""},
        {"no driver list: nothing to compare", "FILES", "", 3, "5.0", V{}, false,
         "UpdateDepFilesInfo::Process: no driver dependent files found:"},
        {"no INF file", "NOSUCH", "extra.dat", 3, "5.0", V{"extra.dat"}, false,
         "UpdateDepFilesInfo::Process: no inf dependent files found:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Windows(c.osVersion);
        Driver("Zelquor Mira 12 PCL", "", c.driverDeps, c.version);
        AddPrinter("P1", "Zelquor Mira 12 PCL");
        ASSERT_EQ(RunInf(std::string("CopyFiles=") + c.copyFiles + "\r\n[FILES]\r\nextra.dat\r\npclrend.ini=x,y\r\n"),
                  0);
        EXPECT_EQ(State("Zelquor Mira 12 PCL").dependents, c.after);
        EXPECT_EQ(Staged(), c.readded);
        if (*c.logged) {
            EXPECT_GE(CountLines(c.logged), 1u) << c.logged;
        }
    }
}

// A driver of another Windows version is left alone, and that is success.
TEST_F(Finishing, ADriverOfAnotherVersionIsNotAddedAgain) {
    Windows("5.1");
    std::string name = "Old", file = "old.dll";
    DRIVER_INFO_3A d{};
    d.cVersion = 2;
    d.pName = name.data();
    d.pDriverPath = d.pDataFile = d.pConfigFile = file.data();
    EXPECT_TRUE(DriverComponent::UpdatePrinterDriver(&d, 6));
    EXPECT_EQ(CountLines("UpdatePrinterDriver: not updating alt driver Old (version 2): wrong OS"), 1u);
    EXPECT_EQ(State("Old").dependents.size(), 0u);
    DWORD needed = 0, count = 0;
    std::string env = "Windows NT x86";
    EnumPrinterDriversA(nullptr, env.data(), 3, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    EnumPrinterDriversA(nullptr, env.data(), 3, buffer.data(), needed, &needed, &count);
    EXPECT_EQ(count, 0u);
}

// The dependent-file action runs before the monitor action, and the monitor
// action's re-add carries the new list: the held record is shared.
TEST_F(Finishing, ChangesToTheDriverRecordStayVisible) {
    Driver("Zelquor Mira 12 PCL", "", "extra.dat");
    AddPrinter("P1", "Zelquor Mira 12 PCL");
    ASSERT_EQ(RunInf("CopyFiles=@extra.dat,@more.dat\r\nZelAssociateMonitor=MON\r\n[MON]\r\n"
                     "m,1,Zelquor Language Monitor,0\r\n"),
              0);
    auto s = State("Zelquor Mira 12 PCL");
    EXPECT_EQ(s.monitor, "Zelquor Language Monitor");
    EXPECT_EQ(s.dependents, (std::vector<std::string>{"extra.dat", "more.dat"}));
}

// With update mode off a printer whose driver name differs only in case
// from the installed driver's gets the dependent-file action for the driver
// but no registry actions; with update mode on it gets all three.
TEST_F(Finishing, ACaseDifferenceGetsOnlyTheDependentFiles) {
    for (bool update : {false, true}) {
        SCOPED_TRACE(update ? "update mode" : "one printer");
        TearDown();
        SetUp();
        if (update) SetString("KovrantUpdateAllPrinters", "1");
        Driver("Zelquor Mira 12 PCL", "", "extra.dat");
        AddPrinter("P1", "zelquor mira 12 pcl");
        std::vector<BYTE> buffer;
        ASSERT_STREQ(PrinterInfo("P1", buffer).pDriverName, "zelquor mira 12 pcl");
        ASSERT_EQ(RunInf("CopyFiles=@extra.dat,@more.dat\r\nAddReg=R\r\n[R]\r\nHKLM,SOFTWARE\\Zelquor,X,0,1\r\n"), 0);
        EXPECT_EQ(State("Zelquor Mira 12 PCL").dependents, (std::vector<std::string>{"extra.dat", "more.dat"}));
        EXPECT_EQ(CountLines("GenericInfo::Process: Processing AddReg"), update ? 1u : 0u);
    }
}

// ---------------------------------------------------------------- start menu

// What lnkinfo (liblnk-utils) reads back from a link: its local path,
// arguments and working directory; empty when the tool is absent.
std::string LnkInfo(const fs::path& link) {
    if (std::system("command -v lnkinfo > /dev/null 2>&1") != 0) return "";
    fs::path out = fs::temp_directory_path() / ("lnkinfo-" + std::to_string(::getpid()) + ".txt");
    std::string cmd = "lnkinfo '" + link.string() + "' > '" + out.string() + "' 2>&1";
    std::system(cmd.c_str());
    std::string text = ReadAll(out);
    fs::remove(out);
    return text;
}

bool HasLnkInfo() { return std::system("command -v lnkinfo > /dev/null 2>&1") == 0; }

TEST_F(Finishing, StartMenuLines) {
    struct Case {
        const char* name;
        const char* line;
        const char* osKey;    // "" Windows 2000, else a 9x VersionNumber
        const char* link;     // the link file ("" none)
        const char* target;
        const char* arguments;
        const char* workingDir;
        const char* logged;
    };
    const char* common = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
    const std::string commonLink = std::string(common) + "\\Zelquor\\Samples.LNK";
    const std::string expandedLink = std::string(common) + "\\Zel Group\\Zel Item.LNK";
    const Case cases[] = {
        {"a folder name in lower case", "s,1,common_programs,Zelquor,Samples,C:\\Tools\\view.exe,-a x", "",
         commonLink.c_str(), "C:\\Tools\\view.exe", "-a x", "C:\\Tools", ""},
        {"an unknown folder on NT: all users' programs", "s,1,NOWHERE,Zelquor,Samples,C:\\Tools\\view.exe", "",
         commonLink.c_str(), "C:\\Tools\\view.exe", "", "C:\\Tools", ""},
        {"an unknown folder on Windows 98: the user's programs", "s,1,NOWHERE,Zelquor,Samples,C:\\Tools\\view.exe",
         "4.10", "C:\\Documents and Settings\\tester\\Start Menu\\Programs\\Zelquor\\Samples.LNK",
         "C:\\Tools\\view.exe", "", "C:\\Tools", ""},
        {"a target in a drive's root", "s,1,PROGRAMS,Zelquor,Samples,C:\\view.exe,", "",
         "C:\\Documents and Settings\\tester\\Start Menu\\Programs\\Zelquor\\Samples.LNK", "C:\\view.exe", "",
         "C:\\", ""},
        {"expanded fields", "s,1,COMMON_PROGRAMS,%Group%,%Item%,%777%\\view.exe,%Args% %777%", "",
         expandedLink.c_str(), "C:\\Program Files\\Zelquor\\view.exe",
         "--open C:\\Program Files\\Zelquor", "C:\\Program Files\\Zelquor", ""},
        {"a folder without a path writes nothing", "s,1,PRINTERS,Zelquor,Samples,C:\\Tools\\view.exe", "", "", "", "",
         "", "StartMenuInfo::HandleCommand: failed to create link."},
        {"three fields", "s,1,PROGRAMS,Zelquor,Samples", "", "", "", "", "",
         "StartMenuInfo::HandleCommand: not enough arguments!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FreshPrinter();
        if (*c.osKey) {
            RegistryValue v;
            v.kind = RegistryValue::kString;
            v.text = c.osKey;
            Registry().WriteValue("HKLM", "Software\\Microsoft\\Windows\\CurrentVersion", "VersionNumber", v);
        }
        // Strings are read before the actions; the 9x run names the driver.
        ASSERT_EQ(RunInf(std::string("ZelAddGroup=G\r\n[G]\r\n") + c.line +
                             "\r\n[Zel_Unst_Info]\r\nZelInstallDir=2500,Zelquor\r\n[Strings]\r\nGroup=Zel Group\r\n"
                             "Item=Zel Item\r\nArgs=\"--open\"\r\n",
                         *c.osKey ? "Zelquor Mira 12 PCL" : "P1"),
                  0);
        if (*c.logged) {
            EXPECT_EQ(CountLines(c.logged), 1u) << c.logged;
        }
        if (!*c.link) {
            EXPECT_FALSE(fs::exists(HostOf(std::string(common) + "\\Zelquor")));
            EXPECT_FALSE(fs::exists(Host("c/media/Zelquor")));
            continue;
        }
        fs::path link = HostOf(c.link);
        ASSERT_TRUE(fs::exists(link)) << c.link;
        std::string bytes = ReadAll(link);
        ASSERT_GE(bytes.size(), 76u);
        EXPECT_EQ(bytes.substr(0, 4), std::string("\x4c\0\0\0", 4));
        if (!HasLnkInfo()) {
            GTEST_LOG_(INFO) << "lnkinfo is absent: the link is not read back";
            continue;
        }
        std::string info = LnkInfo(link);
        EXPECT_NE(info.find(std::string("Local path\t\t\t: ") + c.target), std::string::npos) << info;
        EXPECT_NE(info.find(std::string("Working directory\t\t: ") + c.workingDir), std::string::npos) << info;
        if (*c.arguments) {
            EXPECT_NE(info.find(std::string("Command line arguments\t\t: ") + c.arguments), std::string::npos) << info;
        } else {
            EXPECT_EQ(info.find("Command line arguments"), std::string::npos) << info;
        }
    }
}

// An existing link of the same name is overwritten, and a link the COM
// object cannot take (a target too long for a path) is not saved at all.
TEST_F(Finishing, LinksAreOverwrittenAndNeverHalfWritten) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    Shortcut link;
    PathObject folder;
    folder.SetDir("C:\\Links");
    link.SetLink(folder, "One");
    link.SetTarget(PathObject("C:\\Tools\\a.exe"));
    ASSERT_TRUE(link.CreateLink());
    std::string first = ReadAll(Host("c/Links/One.LNK"));
    link.SetTarget(PathObject("C:\\Tools\\bb.exe"));
    ASSERT_TRUE(link.CreateLink());
    std::string second = ReadAll(Host("c/Links/One.LNK"));
    EXPECT_NE(first, second);
    EXPECT_NE(second.find("C:\\Tools\\bb.exe"), std::string::npos);
    Shortcut bad;
    bad.SetLink(folder, "Two");
    bad.SetTarget(PathObject("C:\\" + std::string(300, 'x') + "\\a.exe"));
    EXPECT_FALSE(bad.CreateLink());
    EXPECT_FALSE(fs::exists(Host("c/Links/Two.LNK")));
    EXPECT_EQ(CountLines("Shortcut::CreateLink: failed to set shortcut path: "), 1u);
    CoUninitialize();
}

// The COM runtime: objects need CoInitialize, interfaces count references,
// unknown classes and interfaces are refused.
TEST(Com, CreationAndReferences) {
    // The start-menu action leaves COM initialised for the process.
    IShellLinkA* link = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                               reinterpret_cast<void**>(&link)),
              S_OK);
    IPersistFile* file = nullptr;
    ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)), S_OK);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(file->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(link));
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(link->QueryInterface(CLSID_ShellLink, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(file->Release(), 1u);
    EXPECT_EQ(link->Release(), 0u);
    void* other = nullptr;
    EXPECT_EQ(CoCreateInstance(IID_IPersistFile, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &other),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
    CoUninitialize();
}

// ---------------------------------------------------------------- uninstaller

class Uninstaller : public Finishing {
protected:
    // The trace of the install-record and engine stand-ins.
    std::string Trace() { return ReadAll(Host("c/windows/system32/instrec/trace.log")); }

    // An uninstaller archive on the media holding the given engine.
    void Archive(const std::string& name, const std::string& engine, const std::string& extra = "") {
        fs::path stage = Host("stage");
        fs::remove_all(stage);
        fs::create_directories(stage / "Install");
        if (!engine.empty()) fs::copy_file(engine, stage / "Install" / "Engine.dll");
        std::ofstream(stage / "Install" / "readme.txt") << "uninstaller";
        std::string cmd = "cd '" + stage.string() + "' && TZ=UTC zip -q -r -X '" +
                          Host("c/media/" + name).string() + "' Install" + extra;
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        fs::remove_all(stage);
    }

    // The package's library in the system directory, as the installer puts it.
    void InstallRecordLibrary() {
        fs::create_directories(Host("c/windows/system32"));
        fs::copy_file(ZQ_INSTREC_SO, Host("c/windows/system32/instrec.so"));
    }

    int RunUninstall(const std::string& lines, bool logged = true) {
        Driver("Zelquor Mira 12 PCL");
        AddPrinter("P1", "Zelquor Mira 12 PCL");
        std::string text = "ZelUninstall=U\r\n";
        if (logged) text += "AddReg=R\r\n[R]\r\nHKLM,SOFTWARE\\Zelquor,X,0,1\r\n";
        return RunInf(text + "[U]\r\nZelInstallDir=2500,Zelquor\r\n" + lines);
    }

    fs::path WorkFolder(const std::string& archive) {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        return HostOf(PathObject(std::string(temp)).Dir() + "\\" + archive + "_Extracted");
    }
};

TEST_F(Uninstaller, TheEngineRunsTheScriptAndTheRecordsFollow) {
    if (std::system("command -v zip > /dev/null 2>&1") != 0) GTEST_SKIP() << "zip is absent";
    InstallRecordLibrary();
    Archive("uninst.zip", ZQ_ENGINE_SO);
    SetString("InstallLanguageISO", "de_DE");
    ASSERT_EQ(RunUninstall("u,1,%1%\\uninst.zip,Zelquor\r\n"), 0);
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string work = PathObject(std::string(temp)).Dir() + "\\uninst.zip_Extracted";
    std::string expected = "SetWorkingDirA(\"" + work + "\\Install\")\n" + "SetLanguageA(\"de_DE\")\n" +
                           "DoInstallA(\"" + work + "\\Temp.isf\", \"\", \"\")\n" +
                           "  | [Install]\n  | Uninstaller=1\n  | \n" + "GetErrorCode() = 0\n";
    std::string trace = Trace();
    ASSERT_EQ(trace.substr(0, expected.size()), expected) << trace;
    std::string rest = trace.substr(expected.size());
    EXPECT_EQ(rest.find("AddAnyItem("), 0u) << rest;
    EXPECT_NE(rest.find("AddAnyItem(\"Uninstaller\", \"HKLM, \"SOFTWARE\\Zelquor\", X\", 3, \"Zelquor\")\n"),
              std::string::npos)
        << rest;
    EXPECT_EQ(rest.rfind("AddDriverNameEx(\"Zelquor Mira 12 PCL\", \"Zelquor\", 0)\n"),
              rest.size() - std::string("AddDriverNameEx(\"Zelquor Mira 12 PCL\", \"Zelquor\", 0)\n").size());
    EXPECT_EQ(CountLines("UninstallerInfo::HandleCommand: installation returned code 0"), 1u);
    EXPECT_FALSE(fs::exists(WorkFolder("uninst.zip")));
}

TEST_F(Uninstaller, Cases) {
    struct Case {
        const char* name;
        bool running;
        bool withEngine;
        bool logged;          // an operation was logged
        bool plant;           // a work folder with an engine of its own is there
        const char* archive;  // the media file's name
        std::vector<const char*> logLines;
        bool engineCalled;
        bool recordsHanded;
    };
    const Case cases[] = {
        {"a custom installer skips extraction but still flushes", true, true, true, false, "uninst.zip",
         {"UninstallInfo::HandleCommand: Skipping - custom installer is running.",
          "KovrantEngine::flushLogOps: logging operations..."},
         false, true},
        {"no engine in the archive: not-loaded lines, code 0, folder removed", false, false, true, false,
         "uninst.zip",
         {"InstallEngine::loadTheDll: could not load ", "InstallEngine::ourGetProcAddress: DLL has not been loaded.",
          "UninstallerInfo::HandleCommand: installation returned code 0"},
         false, true},
        {"no logged operation leaves instrec unloaded", false, true, false, false, "uninst.zip",
         {"KovrantEngine::flushLogOps: logging operations..."}, true, false},
        {"an archive that is not there", false, true, true, false, "absent.zip",
         {"UninstallerInfo::HandleCommand: could not extract "}, false, true},
        {"a planted work folder is removed before extraction", false, false, true, true, "uninst.zip",
         {"InstallEngine::loadTheDll: could not load "}, false, true},
    };
    if (std::system("command -v zip > /dev/null 2>&1") != 0) GTEST_SKIP() << "zip is absent";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        InstallRecordLibrary();
        Archive("uninst.zip", c.withEngine ? ZQ_ENGINE_SO : "");
        if (c.running) SetString("Running", "1");
        if (c.plant) {
            fs::create_directories(WorkFolder("uninst.zip") / "Install");
            fs::copy_file(ZQ_ENGINE_SO, WorkFolder("uninst.zip") / "Install" / "Engine.dll");
        }
        ASSERT_EQ(RunUninstall(std::string("u,1,%1%\\") + c.archive + ",Zelquor\r\n", c.logged), 0);
        for (const char* l : c.logLines) EXPECT_GE(CountLines(l), 1u) << l;
        std::string trace = Trace();
        EXPECT_EQ(trace.find("SetWorkingDirA") != std::string::npos, c.engineCalled) << trace;
        EXPECT_EQ(trace.find("AddDriverNameEx") != std::string::npos, c.recordsHanded) << trace;
        if (!c.logged) {
            EXPECT_EQ(trace.find("AddAnyItem"), std::string::npos);
        }
        if (std::string(c.archive) == "uninst.zip" && !c.running) {
            EXPECT_FALSE(fs::exists(WorkFolder("uninst.zip")));
        }
    }
}

// Two lines naming one archive reuse its work folder: the second finds it
// gone and makes it again.
TEST_F(Uninstaller, TwoLinesOfOneArchive) {
    if (std::system("command -v zip > /dev/null 2>&1") != 0) GTEST_SKIP() << "zip is absent";
    InstallRecordLibrary();
    Archive("uninst.zip", ZQ_ENGINE_SO);
    ASSERT_EQ(RunUninstall("a,1,%1%\\uninst.zip,One\r\nb,1,%1%\\uninst.zip,Two\r\n"), 0);
    std::string trace = Trace();
    size_t first = trace.find("GetErrorCode"), second = trace.find("GetErrorCode", first + 1);
    EXPECT_NE(second, std::string::npos) << trace;
    EXPECT_NE(trace.find("AddDriverNameEx(\"Zelquor Mira 12 PCL\", \"One\", 0)"), std::string::npos);
    EXPECT_NE(trace.find("AddDriverNameEx(\"Zelquor Mira 12 PCL\", \"Two\", 0)"), std::string::npos);
    EXPECT_FALSE(fs::exists(WorkFolder("uninst.zip")));
}

// A half-extracted archive never runs an engine.
TEST_F(Uninstaller, ADamagedArchiveRunsNoEngine) {
    if (std::system("command -v zip > /dev/null 2>&1") != 0) GTEST_SKIP() << "zip is absent";
    InstallRecordLibrary();
    Archive("uninst.zip", ZQ_ENGINE_SO);
    // Spoil the last entry's data (readme.txt is stored after Engine.dll).
    std::string bytes = ReadAll(Host("c/media/uninst.zip"));
    size_t at = bytes.rfind("uninstaller");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'U';
    std::ofstream(Host("c/media/uninst.zip"), std::ios::binary) << bytes;
    ASSERT_EQ(RunUninstall("u,1,%1%\\uninst.zip,Zelquor\r\n"), 0);
    EXPECT_EQ(CountLines("UninstallerInfo::HandleCommand: could not extract "), 1u);
    EXPECT_EQ(Trace().find("SetWorkingDirA"), std::string::npos);
}

// The work folder goes with everything in it, but a link in it goes as
// itself: what it points to stays.
TEST_F(Finishing, WipeOutDirectoryRemovesLinksAsThemselves) {
    fs::create_directories(Host("c/work/sub"));
    fs::create_directories(Host("c/keep"));
    std::ofstream(Host("c/work/sub/a.txt")) << "a";
    std::ofstream(Host("c/keep/precious.txt")) << "p";
    fs::create_directory_symlink(Host("c/keep"), Host("c/work/dirlink"));
    fs::create_symlink(Host("c/keep/precious.txt"), Host("c/work/filelink"));
    PathObject work;
    work.SetDir("C:\\work");
    EXPECT_TRUE(WipeOutDirectory(work));
    EXPECT_FALSE(fs::exists(Host("c/work")));
    EXPECT_TRUE(fs::exists(Host("c/keep/precious.txt")));
}

}  // namespace
