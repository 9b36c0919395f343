#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>

#include "base/clock.h"
#include "base/locale.h"
#include "base/paths.h"
#include "base/text.h"
#include "postinst/engine.h"
#include "postinst_fixture.h"
#include "store/spooler.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path HostOf(const char* windowsPath) {
    auto p = zq::MapPath(zq::Utf8ToUtf16(windowsPath));
    return p ? *p : fs::path();
}

class Engine : public postinst::testing::PostinstRoot {
protected:
    int Run(const std::string& commandLine) {
        SetCurrentDirectoryA("C:\\media");
        postinst::KovrantEngine engine;
        return engine.run(commandLine);
    }

    std::string Reg(const char* name, const char* key = "SOFTWARE\\Zelquor") {
        return postinst::Registry().ReadString("HKLM", key, name);
    }

    DWORD PrinterNumber(const char* printer, const char* name) {
        HANDLE h = nullptr;
        if (!OpenPrinterA(const_cast<LPSTR>(printer), &h, nullptr)) return 0xFFFFFFFF;
        DWORD type = 0, value = 0, needed = 0;
        DWORD r = GetPrinterDataA(h, const_cast<LPSTR>(name), &type, reinterpret_cast<LPBYTE>(&value), 4, &needed);
        ClosePrinter(h);
        return r == 0 && type == REG_DWORD ? value : 0xFFFFFFFF;
    }

    // Every file under the root's C: drive with its bytes, for comparing
    // two states of the root.
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> files;
        for (auto& e : fs::recursive_directory_iterator(Host("c")))
            if (e.is_regular_file() && e.path().extension() != ".log")
                files[fs::relative(e.path(), Host("c")).string()] = ReadAll(e.path());
        return files;
    }
};

TEST_F(Engine, ThePackageInfInstallsAndASecondRunChangesNothing) {
    Media();
    Printer();
    ASSERT_EQ(Run("-I zelquor.inf -N P1 -P LPT1:"), 0);
    // The expansion, with the INF's entry for the driver added.
    EXPECT_EQ(ReadAll(HostOf("C:\\WINDOWS\\pclrend.ini")),
              ReadAll(postinst::testing::Source("platform/base/tests/data/lz/text")) +
                  "[Zelquor Mira 12 PCL]\r\nLanguage=en_US\r\n");
    EXPECT_EQ(ReadAll(HostOf("C:\\Program Files\\Zelquor\\Samples\\letters\\letter.txt")),
              "Zelquor sample: a short letter.\r\n");
    EXPECT_EQ(fs::file_size(HostOf("C:\\Program Files\\Zelquor\\Samples\\chart.bin")), 30000u);
    EXPECT_EQ(Reg("InstallDir"), "C:\\Program Files\\Zelquor");
    EXPECT_EQ(Reg("Description"), "Zelquor printer drivers, with sample documents");
    EXPECT_EQ(Reg("Version"), "1");
    EXPECT_EQ(Reg("Model", "SOFTWARE\\Zelquor\\Models\\Zelquor Mira 12 PCL"), "Zelquor Mira 12");
    EXPECT_EQ(PrinterNumber("P1", "ConvertInOwnProcess"), 1u);
    EXPECT_EQ(PrinterNumber("P1", "Compress"), 1u);
    EXPECT_FALSE(fs::exists(HostOf("C:\\TEMP\\pclrend.tmp")));
    EXPECT_EQ(CountLines("Error parsing command"), 0u);
    EXPECT_EQ(CountLines("InstFileInfo::HandleCommand: wrote file C:\\WINDOWS\\pclrend.ini log section Driver "
                         "Zelquor Mira 12 PCL"),
              1u);
    auto first = Files();
    ASSERT_EQ(Run("-I zelquor.inf -N P1 -P LPT1:"), 0);
    EXPECT_EQ(Files(), first);
    EXPECT_EQ(CountLines("Error parsing command"), 0u);
}

TEST_F(Engine, TheLogHasItsHeaderAndTheActionsInTheirOrder) {
    zq::FakeClock clock;
    zq::ScopedClock scoped(clock);
    Media();
    Printer();
    ASSERT_EQ(Run("-I zelquor.inf -N P1"), 0);
    auto lines = LogLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "---- Post install utility Flight Recorder ----");
    EXPECT_EQ(lines[1], "Mon Jan  1 00:00:00 2001");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "Command line: -I zelquor.inf -N P1");
    std::vector<std::string> processing;
    for (auto& l : lines)
        if (l.rfind("GenericInfo::Process: Processing ", 0) == 0) processing.push_back(l.substr(33));
    std::vector<std::string> expected = {"ZelUnZipZipFile",     "ZelUnZipEXEFile", "ZelInstallFile", "DelReg",
                                         "AddReg",              "ZelPrtDrvData",   "ZelAssociateMonitor",
                                         "UpdateInis",          "ZelAddGroup",     "ZelRunApps",
                                         "ZelDelFiles",         "ZelUninstall"};
    EXPECT_EQ(processing, expected);
    for (const char* summary : {"Driver name:       Zelquor Mira 12 PCL", "Print Object Name: P1",
                                "Point and Print:   no", "Install section:   ZQ_MIRA12", "Network level:\t\t1"})
        EXPECT_EQ(CountLines(summary), 1u) << summary;
    EXPECT_EQ(CountLines("GenericInfo::Process: Finished.  (Elapsed time: 0.000000 seconds.)"), expected.size());
}

// The whole flight recorder of a fixture run under the fake clock.
TEST_F(Engine, AFixtureRunLogsTheGoldenLog) {
    zq::FakeClock clock;
    zq::ScopedClock scoped(clock);
    Media();
    WriteHost("c/media/zelquor.inf", ReadAll(postinst::testing::Source("postinst/tests/data/fixture.inf")));
    Printer();
    ASSERT_EQ(Run("-I zelquor.inf -N P1 -P LPT1:"), 0);
    std::string log;
    for (auto& l : LogLines()) log += l + "\n";
    std::string golden = ReadAll(postinst::testing::Source("postinst/tests/data/fixture.log"));
    if (std::getenv("ZQ_WRITE_GOLDEN")) std::ofstream(postinst::testing::Source("postinst/tests/data/fixture.log")) << log;
    EXPECT_EQ(log, golden);
}

// A connection counts as this computer's printer when its server is this
// computer, whose name may use all 15 characters.
TEST_F(Engine, ConnectionsToThisComputerAreLocal) {
    Media();
    auto saved = zq::CurrentLocaleSettings();
    auto named = saved;
    named.computerName = "ZELQUORHOST1234";
    zq::SetLocaleSettings(named);
    ASSERT_TRUE(zq::testing::InstallDriver(u"Zelquor Mira 12 PCL"));
    struct Case {
        const char* server;
        const char* pointAndPrint;
        bool samples;  // the archive line runs for local printers only
    } cases[] = {{"\\\\ZELQUORHOST1234", "Point and Print:   no", true},
                 {"\\\\OTHERHOST", "Point and Print:   yes", false}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.server);
        fs::remove_all(Host("c/Program Files"));
        fs::remove(Host("c/postinst.log"));
        std::string server = c.server, name = "P", driver = "Zelquor Mira 12 PCL";
        PRINTER_INFO_2A info{};
        info.pPrinterName = name.data();
        info.pDriverName = driver.data();
        HANDLE added = AddPrinterA(server.data(), 2, reinterpret_cast<LPBYTE>(&info));
        ASSERT_NE(added, nullptr);
        ClosePrinter(added);
        EXPECT_EQ(Run("-I zelquor.inf -N \"" + server + "\\P\""), 0);
        EXPECT_EQ(CountLines(c.pointAndPrint), 1u);
        EXPECT_EQ(fs::exists(HostOf("C:\\Program Files\\Zelquor\\Samples\\readme.txt")), c.samples);
        // The printer-data action runs for both; its lines are for local
        // printers only.
        EXPECT_EQ(CountLines("GenericInfo::Process: Processing ZelPrtDrvData"), 1u);
        EXPECT_EQ(PrinterNumber((server + "\\P").c_str(), "ConvertInOwnProcess"), c.samples ? 1u : 0xFFFFFFFFu);
    }
    zq::SetLocaleSettings(saved);
}

// The 9x family names the driver with -N and has no printer to open.
TEST_F(Engine, OnThe9xFamilyTheNameIsTheDriver) {
    Media();
    Printer();
    postinst::Registry reg;
    postinst::RegistryValue v;
    v.kind = postinst::RegistryValue::kString;
    v.text = "4.10.2222";
    reg.WriteValue("HKLM", "Software\\Microsoft\\Windows\\CurrentVersion", "VersionNumber", v);
    EXPECT_EQ(Run("-I zelquor.inf -N \"Zelquor Mira 12 PCL\""), 0);
    EXPECT_EQ(CountLines("Driver name:       Zelquor Mira 12 PCL"), 1u);
    EXPECT_EQ(CountLines("Print Object Name: "), 1u);
    // No driver of the 9x environment is installed: no registry lines ran;
    // the printer of that driver got its printer data.
    EXPECT_EQ(CountLines("GenericInfo::Process: Processing AddReg"), 0u);
    EXPECT_EQ(PrinterNumber("P1", "ConvertInOwnProcess"), 1u);
}

TEST_F(Engine, ExitCodesBeforeTheActions) {
    Media();
    Printer();
    WriteHost("c/media/nomanufacturer.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    WriteHost("c/media/otherdriver.inf", "[Manufacturer]\r\nZ=Models\r\n[Models]\r\n\"Other\"=OTHER\r\n");
    struct Case {
        const char* line;
        int code;
        const char* logged;
    } cases[] = {
        {"", 1, "parseCommandLine: no printer name specified."},
        {"-N P1", 1, "parseCommandLine: could not load INF: "},
        {"-I zelquor.inf -N Nobody", 2, "KovrantApp::getPrinterInfo: OpenPrinter of Nobody failed with error code"},
        {"-I nomanufacturer.inf -N P1", 3, "could not find manufacturer section: Manufacturer"},
        {"-I otherdriver.inf -N P1", 4, "Command line: -I otherdriver.inf -N P1"},
        // "-S" is a plain flag: the option after it keeps its value, and
        // as the last token it still makes the run silent.
        {"-I zelquor.inf -S -N P1", 0, "Print Object Name: P1"},
        {"-i zelquor.inf -n P1 -S", 0, "Print Object Name: P1"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.line);
        fs::remove(Host("c/postinst.log"));
        EXPECT_EQ(Run(c.line), c.code);
        EXPECT_EQ(CountLines(c.logged), 1u);
    }
}

TEST_F(Engine, TheInstallLanguageSelectsItsStringsSections) {
    Media();
    Printer();
    SetString("InstallLanguageISO", "de_AT");
    ASSERT_EQ(Run("-I zelquor.inf -N P1"), 0);
    EXPECT_EQ(CountLines("\tHex Country code: 0007"), 1u);
    EXPECT_EQ(CountLines("\tISO code: de_AT"), 1u);
    EXPECT_TRUE(fs::exists(HostOf("C:\\Program Files\\Zelquor\\Beispiele\\readme.txt")));
    // The no-clobber flag keeps the language of the first install.
    EXPECT_EQ(Reg("InstallLanguage"), "de_AT");
    // Without a chosen language the user's one counts: 0x0407 reads
    // Strings.0007, then Strings.0407.
    postinst::Registry().DeleteValue("HKLM", "SOFTWARE\\Zelquor", "InstallLanguageISO");
    auto saved = zq::CurrentLocaleSettings();
    auto german = saved;
    german.languageId = 0x0407;
    zq::SetLocaleSettings(german);
    ASSERT_EQ(Run("-I zelquor.inf -N P1"), 0);
    zq::SetLocaleSettings(saved);
    EXPECT_EQ(CountLines("\tHex Country code: 0407"), 1u);
    EXPECT_EQ(Reg("Description"), "Zelquor Druckertreiber, mit Beispieldokumenten f\xfcr B\xfcro und K\xfc" "che");
}

TEST_F(Engine, TheUtf16CopyOfTheInfInstallsAlike) {
    Media("postinst/tests/data/zelquor-utf16.inf");
    Printer();
    ASSERT_EQ(Run("-I zelquor.inf -N P1"), 0);
    EXPECT_EQ(Reg("Description"), "Zelquor printer drivers, with sample documents");
    EXPECT_TRUE(fs::exists(HostOf("C:\\WINDOWS\\pclrend.ini")));
}

TEST_F(Engine, WithoutADebugValueNoLogIsWritten) {
    Media();
    Printer();
    postinst::Registry().DeleteValue("HKLM", "SOFTWARE\\Zelquor", "KovrantDebug");
    ASSERT_EQ(Run("-I zelquor.inf -N P1"), 0);
    EXPECT_FALSE(fs::exists(Host("c/postinst.log")));
}

}  // namespace
