// Several processes on one database: two writers on one printer lose
// nothing, and a writer killed in the middle of a series leaves every value
// it committed readable.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "store/registry.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace {

using StoreTest = zq::testing::StoreRoot;

LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }

class ConcurrencyTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_TRUE(zq::testing::InstallDriver(u"Zelquor Laser", {u"zqrend.so", u"zqdata.bin", u"zqui.so"}));
        HANDLE h = zq::testing::AddLocalPrinter(u"Shared", u"Zelquor Laser");
        ASSERT_NE(h, nullptr);
        ClosePrinter(h);
    }

    // In a child: writes `count` values "<prefix><i>" = i to the printer,
    // one call each, then exits with 0 when every call succeeded.
    static void Writer(const std::u16string& prefix, DWORD count, int readyFd) {
        HANDLE h = nullptr;
        if (!OpenPrinterW(W(u"Shared"), &h, nullptr)) _exit(10);
        for (DWORD i = 0; i < count; ++i) {
            std::u16string name = prefix + std::u16string(1, u'0' + i / 100 % 10) +
                                  std::u16string(1, u'0' + i / 10 % 10) + std::u16string(1, u'0' + i % 10);
            if (SetPrinterDataW(h, name.data(), REG_DWORD, reinterpret_cast<LPBYTE>(&i), 4) != ERROR_SUCCESS) _exit(11);
            if (readyFd >= 0 && i == 9) {
                char c = 1;
                if (write(readyFd, &c, 1) != 1) _exit(12);
            }
        }
        ClosePrinter(h);
        _exit(0);
    }

    // The values under the printer's data, as (name, number).
    static std::vector<std::pair<std::u16string, DWORD>> Values(HANDLE h) {
        std::vector<std::pair<std::u16string, DWORD>> out;
        for (DWORD i = 0;; ++i) {
            char16_t name[64];
            DWORD value = 0, nameNeeded = 0, dataNeeded = 0, type = 0;
            DWORD rc = EnumPrinterDataW(h, i, name, sizeof name, &nameNeeded, &type, reinterpret_cast<BYTE*>(&value), 4,
                                        &dataNeeded);
            if (rc != ERROR_SUCCESS) break;
            out.emplace_back(name, value);
        }
        return out;
    }
};

TEST_F(ConcurrencyTest, TwoWritersOnOnePrinterLoseNothing) {
    constexpr DWORD kCount = 150;
    pid_t a = fork();
    ASSERT_GE(a, 0);
    if (a == 0) Writer(u"A", kCount, -1);
    pid_t b = fork();
    ASSERT_GE(b, 0);
    if (b == 0) Writer(u"B", kCount, -1);
    for (pid_t pid : {a, b}) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Shared"), &h, nullptr));
    auto values = Values(h);
    ClosePrinter(h);
    ASSERT_EQ(values.size(), 2 * kCount);
    DWORD seenA = 0, seenB = 0;
    for (auto& [name, value] : values) {
        DWORD index = static_cast<DWORD>((name[1] - u'0') * 100 + (name[2] - u'0') * 10 + (name[3] - u'0'));
        EXPECT_EQ(value, index);
        (name[0] == u'A' ? seenA : seenB) += 1;
    }
    EXPECT_EQ(seenA, kCount);
    EXPECT_EQ(seenB, kCount);
}

TEST_F(ConcurrencyTest, WriterKilledMidwayLeavesCommittedValues) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        Writer(u"K", 1000, fds[1]);
    }
    close(fds[1]);
    char c = 0;
    ASSERT_EQ(read(fds[0], &c, 1), 1);  // ten values are in
    close(fds[0]);
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Shared"), &h, nullptr));
    auto values = Values(h);
    // Every value the writer committed is there, in order and intact.
    ASSERT_GE(values.size(), 10u);
    for (DWORD i = 0; i < values.size(); ++i) EXPECT_EQ(values[i].second, i);
    // And the store takes writes again.
    DWORD one = 1;
    EXPECT_EQ(SetPrinterDataW(h, W(u"After"), REG_DWORD, reinterpret_cast<LPBYTE>(&one), 4), ERROR_SUCCESS);
    ClosePrinter(h);
}

TEST_F(ConcurrencyTest, ReadsSeeAnotherProcessesWrites) {
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Shared"), &h, nullptr));
    std::vector<BYTE> first(1256, 1);
    ASSERT_EQ(SetPrinterDataW(h, W(u"CurrentDevmode"), REG_BINARY, first.data(), 1256), ERROR_SUCCESS);
    std::vector<BYTE> got(1256);
    DWORD needed = 0;
    // Read twice so that the second read comes from whatever the handle keeps.
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(GetPrinterDataW(h, W(u"CurrentDevmode"), nullptr, got.data(), 1256, &needed), ERROR_SUCCESS);
    EXPECT_EQ(got, first);
    EXPECT_EQ(GetPrinterDataW(h, W(u"Missing"), nullptr, got.data(), 1256, &needed), ERROR_FILE_NOT_FOUND);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE c = nullptr;
        if (!OpenPrinterW(W(u"Shared"), &c, nullptr)) _exit(10);
        std::vector<BYTE> second(1256, 2);
        DWORD one = 1;
        if (SetPrinterDataW(c, W(u"CurrentDevmode"), REG_BINARY, second.data(), 1256) != ERROR_SUCCESS) _exit(11);
        if (SetPrinterDataW(c, W(u"Missing"), REG_DWORD, reinterpret_cast<LPBYTE>(&one), 4) != ERROR_SUCCESS) _exit(12);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(GetPrinterDataW(h, W(u"CurrentDevmode"), nullptr, got.data(), 1256, &needed), ERROR_SUCCESS);
    EXPECT_EQ(got, std::vector<BYTE>(1256, 2));
    EXPECT_EQ(GetPrinterDataW(h, W(u"Missing"), nullptr, got.data(), 1256, &needed), ERROR_SUCCESS);
    EXPECT_EQ(needed, 4u);
    ClosePrinter(h);
}

}  // namespace
