// A run that dies half-way, and a destination that is locked, leave nothing
// torn: a second run reaches the state of a clean run.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "base/files.h"
#include "base/root.h"
#include "postinst/engine.h"
#include "postinst_fixture.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Repair : public postinst::testing::PostinstRoot {
protected:
    // Runs the postinst program in C:\media, as the installer starts it.
    int RunProgram() {
        std::string cmd = "cd '" + Host("c/media").string() + "' && ZQ_ROOT='" + root_.string() + "' '" +
                          postinst::testing::Built("bin/postinst").string() +
                          "' -I zelquor.inf -N P1 > /dev/null 2>&1";
        int status = std::system(cmd.c_str());
        return status;
    }

    std::map<std::string, std::string> State() {
        std::map<std::string, std::string> files;
        for (auto& e : fs::recursive_directory_iterator(Host("c")))
            if (e.is_regular_file() && e.path().extension() != ".log" && e.path().parent_path() != Host("c/media"))
                files[fs::relative(e.path(), Host("c")).string()] = ReadAll(e.path());
        for (const char* name : {"InstallDir", "Description", "Samples", "Version"})
            files[std::string("reg:") + name] = postinst::Registry().ReadString("HKLM", "SOFTWARE\\Zelquor", name);
        return files;
    }

    void UseInf(const std::string& runFirst) {
        std::string inf = ReadAll(postinst::testing::Source("postinst/res/zelquor.inf"));
        size_t at = inf.find("docprops,2,DRIVER_DOC_PROP");
        ASSERT_NE(at, std::string::npos);
        inf.replace(at, std::string("docprops,2,DRIVER_DOC_PROP").size(), runFirst);
        WriteHost("c/media/zelquor.inf", inf);
    }
};

TEST_F(Repair, ARunKilledByItsFirstProgramIsRepairedByTheNext) {
    if (!fs::exists(postinst::testing::Built("bin/postinst"))) GTEST_SKIP() << "postinst not built";
    Media();
    Printer();
    // The clean state, from a root of its own.
    ASSERT_EQ(RunProgram(), 0);
    auto clean = State();
    for (auto& e : fs::directory_iterator(Host("c")))
        if (e.path().filename() != "media") fs::remove_all(e.path());
    // The spooler's records live beside the drive: the driver goes back to
    // its state before the first run.
    DriverFiles();
    ASSERT_TRUE(zq::testing::InstallDriver(u"Zelquor Mira 12 PCL"));
    postinst::Registry().DeleteKey("HKLM", "SOFTWARE\\Zelquor");
    postinst::Registry().CreateKey("HKLM", "SOFTWARE\\Zelquor", false);
    SetString("KovrantDebug", "C:\\postinst.log");

    WriteHost("c/windows/system32/killer", "#!/bin/sh\nkill -KILL $PPID\n");
    chmod(Host("c/windows/system32/killer").c_str(), 0755);
    UseInf("kill,1,killer");
    int status = RunProgram();
    EXPECT_NE(status, 0);
    // Killed after the archive, before the files: no temporary file lies
    // anywhere, and nothing after the program ran.
    for (auto& e : fs::recursive_directory_iterator(Host("c")))
        EXPECT_NE(e.path().filename().string().rfind("tmp", 0), 0u) << e.path();
    EXPECT_FALSE(fs::exists(Host("c/windows/pclrend.ini")));
    UseInf("docprops,2,DRIVER_DOC_PROP");
    ASSERT_EQ(RunProgram(), 0);
    auto repaired = State();
    repaired.erase("windows/system32/killer");
    EXPECT_EQ(repaired, clean);
}

TEST_F(Repair, ALockedDestinationIsReplacedAtRestart) {
    Media();
    Printer();
    WriteHost("c/windows/pclrend.ini", "an older pclrend.ini\r\n");
    // Older than the media's file, and held open without sharing.
    HANDLE held = CreateFileA("C:\\WINDOWS\\pclrend.ini", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    FILETIME old{};
    old.dwHighDateTime = 0x01000000;
    SetFileTime(held, &old, &old, &old);
    SetCurrentDirectoryA("C:\\media");
    {
        postinst::KovrantEngine engine;
        EXPECT_EQ(engine.run("-I zelquor.inf -N P1"), 0);
    }
    CloseHandle(held);
    EXPECT_EQ(ReadHost("c/windows/pclrend.ini"), "an older pclrend.ini\r\n");
    EXPECT_TRUE(zq::ApplyPendingRenames());
    EXPECT_EQ(ReadHost("c/windows/pclrend.ini"),
              ReadAll(postinst::testing::Source("platform/base/tests/data/lz/text")));
    EXPECT_EQ(CountLines("GenericInfo::ReadINF: Error parsing command:"), 0u);
}

}  // namespace
