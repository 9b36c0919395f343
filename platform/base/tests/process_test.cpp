#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/files.h"
#include "base/kernel_objects.h"
#include "base/process.h"
#include "base/profile.h"
#include "base/text.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

// Started as "<this program>.exe --zq-helper MODE ...", the test program
// plays the child for the process and profile tests and never reaches the
// tests:
//   argv FILE ARGS...        writes ARGS one per line to the Windows path FILE
//   cwd FILE                 writes its current directory to FILE
//   exit N                   ends at once with code N
//   block                    waits until it is killed
//   ini FILE PREFIX N        writes keys PREFIX0..PREFIX<N-1> to section Shared
namespace {

void WriteWindowsFile(const std::string& path, const std::string& text) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) _exit(90);
    DWORD n = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
}

[[noreturn]] void RunHelper(const std::vector<std::string>& a) {
    const std::string& mode = a[2];
    if (mode == "argv") {
        std::string text;
        for (size_t i = 4; i < a.size(); ++i) text += a[i] + "\n";
        WriteWindowsFile(a[3], text);
        _exit(0);
    }
    if (mode == "cwd") {
        char buf[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, buf);
        WriteWindowsFile(a[3], buf);
        _exit(0);
    }
    if (mode == "exit") _exit(std::atoi(a[3].c_str()));
    if (mode == "block") {
        for (;;) ::pause();
    }
    if (mode == "ini") {
        const int n = std::atoi(a[5].c_str());
        for (int i = 0; i < n; ++i) {
            const std::string key = a[4] + std::to_string(i);
            if (!WritePrivateProfileStringA("Shared", key.c_str(), std::to_string(i).c_str(), a[3].c_str())) _exit(91);
        }
        _exit(0);
    }
    _exit(92);
}

[[maybe_unused]] const bool g_helper = [] {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
    if (args.size() >= 3 && args[1] == "--zq-helper") RunHelper(args);
    return false;
}();

class Processes : public zq::testing::FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        char self[4096];
        const ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
        ASSERT_GT(len, 0);
        self[len] = '\0';
        ::setenv("ZQ_BIN_PATH", fs::path(self).parent_path().c_str(), 1);
        helper_ = fs::path(self).filename().string() + ".exe --zq-helper ";
    }

    PROCESS_INFORMATION Start(const std::string& commandLine, const char* currentDirectory = nullptr) {
        std::string cmd = commandLine;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        EXPECT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDirectory, &si, &pi))
            << commandLine << ": " << GetLastError();
        return pi;
    }

    DWORD Finish(PROCESS_INFORMATION& pi) {
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
        DWORD code = 12345;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return code;
    }

    void Script(const std::string& relative, const std::string& body) {
        WriteHost(relative, "#!/bin/sh\n" + body + "\n");
        fs::permissions(Host(relative), fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    }

    std::string helper_;
};

TEST(CommandLine, SplitsByTheWindowsRules) {
    struct Case {
        std::u16string_view line;
        std::vector<std::u16string> args;
    } cases[] = {
        {u"prog a b", {u"prog", u"a", u"b"}},
        {u"  prog\t a   b  ", {u"prog", u"a", u"b"}},
        {u"\"C:\\Zel Tools\\x.exe\" arg", {u"C:\\Zel Tools\\x.exe", u"arg"}},
        {u"\"C:\\dir\\\" rest", {u"C:\\dir\\", u"rest"}},  // no escapes in the program name
        {u"p \"a b\" c", {u"p", u"a b", u"c"}},
        {u"p a\"b c\"d", {u"p", u"ab cd"}},
        {u"p \\\"a", {u"p", u"\"a"}},
        {u"p \\\\\"a b\"", {u"p", u"\\a b"}},
        {u"p \\\\\\\"a", {u"p", u"\\\"a"}},
        {u"p a\\\\b", {u"p", u"a\\\\b"}},
        {u"p C:\\dir\\", {u"p", u"C:\\dir\\"}},
        {u"p \"\"", {u"p", u""}},
        {u"p \"a\"\"b\"", {u"p", u"a\"b"}},
        {u"p Printer;LPT1:;UI;", {u"p", u"Printer;LPT1:;UI;"}},
        {u"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(zq::SplitCommandLine(c.line), c.args) << zq::Utf16ToUtf8(c.line);

    for (std::u16string_view arg : {u"plain", u"", u"a b", u"q\"uote", u"tail\\", u"tail\\\\ x", u"C:\\a b\\"}) {
        auto back = zq::SplitCommandLine(u"p " + zq::QuoteArgument(arg));
        ASSERT_EQ(back.size(), 2u) << zq::Utf16ToUtf8(arg);
        EXPECT_EQ(back[1], arg);
    }
}

TEST_F(Processes, ChildSeesTheSplitArguments) {
    auto pi = Start(helper_ + "argv C:\\TEMP\\args.txt a \"b c\" d\\\"e \"f\\\\\"");
    EXPECT_EQ(Finish(pi), 0u);
    EXPECT_EQ(ReadHost("c/temp/args.txt"), "a\nb c\nd\"e\nf\\\n");
}

TEST_F(Processes, WaitWithATimeLimit) {
    // A child that ends at once.
    auto quick = Start(helper_ + "exit 3");
    EXPECT_EQ(WaitForSingleObject(quick.hThread, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(Finish(quick), 3u);

    // A child that does not end by itself: the wait runs out, then it is killed.
    auto slow = Start(helper_ + "block");
    EXPECT_EQ(WaitForSingleObject(slow.hProcess, 20), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(slow.hProcess, 0), WAIT_TIMEOUT);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(slow.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    ASSERT_TRUE(TerminateProcess(slow.hProcess, 77));
    EXPECT_EQ(WaitForSingleObject(slow.hProcess, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(Finish(slow), 77u);
}

TEST_F(Processes, StartsInTheGivenDirectory) {
    auto pi = Start(helper_ + "cwd C:\\TEMP\\cwd.txt", "C:\\WINDOWS\\system32");
    EXPECT_EQ(Finish(pi), 0u);
    EXPECT_EQ(ReadHost("c/temp/cwd.txt"), "C:\\windows\\system32");
}

TEST_F(Processes, FindsProgramsAsWindowsNamesThem) {
    Script("c/windows/system32/zqecho", "echo \"$@\" > found.txt");
    Script("c/Zel Tools/run", "echo tool \"$1\" > found.txt");
    struct Case {
        const char* commandLine;
        const char* output;
    } cases[] = {
        {"ZQECHO.EXE one two", "one two\n"},          // system directory, ".exe" dropped, any case
        {"zqecho three", "three\n"},
        {"C:\\windows\\system32\\zqecho.exe four", "four\n"},
        {"C:\\Zel Tools\\run.exe five", "tool five\n"},  // unquoted path with a blank
        {"\"C:\\Zel Tools\\run.exe\" six", "tool six\n"},
    };
    for (const auto& c : cases) {
        fs::remove(Host("c/temp/found.txt"));
        auto pi = Start(c.commandLine, "C:\\TEMP");
        EXPECT_EQ(Finish(pi), 0u) << c.commandLine;
        EXPECT_EQ(ReadHost("c/temp/found.txt"), c.output) << c.commandLine;
    }

    struct Failure {
        const char* commandLine;
        DWORD error;
    } failures[] = {
        {"nosuchprogram.exe x", ERROR_FILE_NOT_FOUND},
        {"C:\\..\\..\\bin\\sh.exe", ERROR_ACCESS_DENIED},
        {"", ERROR_INVALID_PARAMETER},
    };
    for (const auto& f : failures) {
        std::string cmd = f.commandLine;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        SetLastError(0);
        EXPECT_FALSE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            << f.commandLine;
        EXPECT_EQ(GetLastError(), f.error) << f.commandLine;
    }
    EXPECT_EQ(WinExec("nosuchprogram.exe", 1), ERROR_FILE_NOT_FOUND);
    EXPECT_GT(WinExec((helper_ + "exit 0").c_str(), 1), 31u);
}

}  // namespace
