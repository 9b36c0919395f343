#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/files.h"
#include "base/fsutil.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

namespace {

class Files : public zq::testing::FreshRoot {
protected:
    HANDLE Open(const char* name, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
        return CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
};

TEST_F(Files, CreationDispositionsAndTheirCodes) {
    struct Case {
        DWORD disposition;
        bool exists;
        bool opens;
        DWORD error;
        std::string contentAfter;  // of the file on disk; "-" for none
    } cases[] = {
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "-"},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "-"},
    };
    for (const auto& c : cases) {
        const std::string label = "disposition " + std::to_string(c.disposition) + (c.exists ? " existing" : " new");
        fs::remove(Host("c/f.txt"));
        fs::remove(Host("c/F.TXT"));  // a new file takes the name as written
        if (c.exists) WriteHost("c/f.txt", "old");
        SetLastError(12345);
        HANDLE h = Open("C:\\F.TXT", GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << label;
        EXPECT_EQ(GetLastError(), c.error) << label;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        const std::string name = c.exists ? "c/f.txt" : "c/F.TXT";
        if (c.contentAfter == "-")
            EXPECT_FALSE(fs::exists(Host(name))) << label;
        else
            EXPECT_EQ(ReadHost(name), c.contentAfter) << label;
    }
    // A missing directory is a missing path, whatever the disposition.
    for (DWORD d : {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS}) {
        SetLastError(0);
        EXPECT_EQ(Open("C:\\nodir\\f.txt", GENERIC_WRITE, 0, d), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND) << d;
    }
    SetLastError(0);
    EXPECT_EQ(Open("C:\\f.txt", GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Files, SharingModesConflictBetweenHandles) {
    constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE;
    constexpr DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SD = FILE_SHARE_DELETE;
    struct Case {
        DWORD access1, share1, access2, share2;
        bool secondOpens;
    } cases[] = {
        {R, SR, R, SR, true},
        {R, SR, W, SR | SW, false},       // the first refuses writers
        {W, 0, R, SR | SW, false},        // the first shares nothing
        {R, SR | SW, W, SR, true},        // the second refuses writers, and nobody writes
        {W, SR | SW, R, SR, false},       // the second refuses writers, but the first writes
        {0, 0, R | W, 0, true},           // attributes-only opens conflict with nothing
        {R | W, SR | SW | SD, R | W, SR | SW | SD, true},
    };
    WriteHost("c/s.txt", "data");
    for (const auto& c : cases) {
        HANDLE first = Open("C:\\s.txt", c.access1, c.share1);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        SetLastError(0);
        HANDLE second = Open("c:\\S.TXT", c.access2, c.share2);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens) << c.access1 << "/" << c.share1 << " then " << c.access2 << "/" << c.share2;
        if (second == INVALID_HANDLE_VALUE)
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        else
            CloseHandle(second);
        CloseHandle(first);
        // Closing gives the file back.
        HANDLE again = Open("C:\\s.txt", c.access2, c.share2);
        EXPECT_NE(again, INVALID_HANDLE_VALUE);
        CloseHandle(again);
    }

    // Deleting needs FILE_SHARE_DELETE from every open handle.
    HANDLE noDelete = Open("C:\\s.txt", R, SR | SW);
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("C:\\s.txt"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    SetLastError(0);
    EXPECT_FALSE(MoveFileA("C:\\s.txt", "C:\\t.txt"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(noDelete);
    HANDLE withDelete = Open("C:\\s.txt", R, SR | SD);
    EXPECT_TRUE(DeleteFileA("C:\\s.txt"));
    CloseHandle(withDelete);
    EXPECT_FALSE(fs::exists(Host("c/s.txt")));
}

TEST_F(Files, SharingHoldsBetweenProcesses) {
    WriteHost("c/shared.bin", "data");
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE h = CreateFileA("C:\\shared.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const char state = h == INVALID_HANDLE_VALUE ? 'n' : 'y';
        (void)!::write(ready[1], &state, 1);
        char c;
        (void)!::read(release[0], &c, 1);
        _exit(0);
    }
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ASSERT_EQ(state, 'y');
    SetLastError(0);
    EXPECT_EQ(CreateFileA("C:\\shared.bin", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileA("C:\\shared.bin"));
    (void)!::write(release[1], "x", 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
    // The child's handle went with it.
    HANDLE h = CreateFileA("C:\\shared.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

TEST_F(Files, ReadWriteSeekAndCut) {
    HANDLE h = Open("C:\\rw.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
    ASSERT_TRUE(SetEndOfFile(h));
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(h, &high), 5u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 3u);
    char buf[16] = {};
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "lo");
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));  // end of file: success, nothing read
    EXPECT_EQ(n, 0u);

    SetLastError(0);
    EXPECT_EQ(SetFilePointer(h, -10, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    // Beyond 4 GiB through the high part; a low part of 0 is no failure.
    LONG hi = 1;
    SetLastError(99);
    EXPECT_EQ(SetFilePointer(h, 0, &hi, FILE_BEGIN), 0u);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(hi, 1);
    hi = 0;
    EXPECT_EQ(SetFilePointer(h, 0, &hi, FILE_CURRENT), 0u);
    EXPECT_EQ(hi, 1);
    CloseHandle(h);

    HANDLE readOnly = Open("C:\\rw.bin", GENERIC_READ, FILE_SHARE_READ);
    SetLastError(0);
    EXPECT_FALSE(WriteFile(readOnly, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(readOnly);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(readOnly));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Files, SixteenBitCallsAndTheZeroLengthCut) {
    OFSTRUCT of{};
    HFILE f = OpenFile("C:\\windows\\list.dat", &of, OF_CREATE | OF_READWRITE | OF_SHARE_EXCLUSIVE);
    ASSERT_NE(f, HFILE_ERROR);
    EXPECT_STREQ(of.szPathName, "C:\\windows\\list.dat");
    EXPECT_EQ(of.cBytes, sizeof(OFSTRUCT));
    EXPECT_EQ(_lwrite(f, "0123456789", 10), 10u);
    EXPECT_EQ(_llseek(f, 4, FILE_BEGIN), 4);
    EXPECT_EQ(_lwrite(f, "", 0), 0u);  // cuts the file here
    EXPECT_EQ(_llseek(f, 0, FILE_END), 4);
    EXPECT_EQ(_llseek(f, 1, FILE_BEGIN), 1);
    char buf[8] = {};
    EXPECT_EQ(_lread(f, buf, sizeof buf), 3u);
    EXPECT_STREQ(buf, "123");
    EXPECT_EQ(_lclose(f), 0);
    EXPECT_EQ(ReadHost("c/windows/list.dat"), "0123");

    // The exclusive open refused others while it lasted; OF_EXIST now finds it.
    EXPECT_GT(OpenFile("C:\\WINDOWS\\LIST.DAT", &of, OF_EXIST), 0);
    // A bare name is found in the Windows directory.
    HFILE bare = OpenFile("list.dat", &of, OF_READ);
    ASSERT_NE(bare, HFILE_ERROR);
    EXPECT_STREQ(of.szPathName, "C:\\WINDOWS\\list.dat");
    _lclose(bare);

    EXPECT_EQ(OpenFile("C:\\missing.dat", &of, OF_EXIST), HFILE_ERROR);
    EXPECT_EQ(of.nErrCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenFile("C:\\windows\\list.dat", &of, OF_DELETE), 1);
    EXPECT_FALSE(fs::exists(Host("c/windows/list.dat")));

    HFILE created = _lcreat("C:\\new.dat", 0);
    ASSERT_NE(created, HFILE_ERROR);
    EXPECT_EQ(_lwrite(created, "abc", 3), 3u);
    _lclose(created);
    HFILE opened = _lopen("C:\\new.dat", OF_READ);
    ASSERT_NE(opened, HFILE_ERROR);
    EXPECT_EQ(_lwrite(opened, "x", 1), static_cast<UINT>(HFILE_ERROR));  // opened for reading only
    _lclose(opened);
}

TEST_F(Files, FindMatchesWildcardsWithoutCase) {
    for (const char* name : {"Alpha.TXT", "beta.txt", "gamma.dat", "README", "a1.txt", "ab.txt"})
        WriteHost(std::string("c/list/") + name, "12345");
    fs::create_directories(Host("c/list/Sub"));
    struct Case {
        const char* pattern;
        std::vector<std::string> names;
    } cases[] = {
        {"C:\\list\\*", {".", "..", "a1.txt", "ab.txt", "Alpha.TXT", "beta.txt", "gamma.dat", "README", "Sub"}},
        {"C:\\list\\*.*", {".", "..", "a1.txt", "ab.txt", "Alpha.TXT", "beta.txt", "gamma.dat", "README", "Sub"}},
        {"C:\\LIST\\*.txt", {"a1.txt", "ab.txt", "Alpha.TXT", "beta.txt"}},
        {"C:/list/a?.TXT", {"a1.txt", "ab.txt"}},
        {"C:\\list\\A*", {"a1.txt", "ab.txt", "Alpha.TXT"}},
        {"C:\\list\\readme.*", {"README"}},
        {"C:\\list\\*a*.d?t", {"gamma.dat"}},
        {"C:\\list\\BETA.TXT", {"beta.txt"}},
    };
    for (const auto& c : cases) {
        WIN32_FIND_DATAA data;
        std::vector<std::string> found;
        HANDLE h = FindFirstFileA(c.pattern, &data);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.pattern;
        do {
            found.emplace_back(data.cFileName);
            EXPECT_EQ(data.cAlternateFileName[0], '\0');
            if (found.back() == "Sub") {
                EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            }
            if (found.back() == "README") {
                EXPECT_EQ(data.nFileSizeLow, 5u);
            }
        } while (FindNextFileA(h, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(h));
        EXPECT_EQ(found, c.names) << c.pattern;
    }
    WIN32_FIND_DATAW wdata;
    HANDLE w = FindFirstFileW(u"C:\\list\\g*", &wdata);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::u16string(wdata.cFileName), u"gamma.dat");
    FindClose(w);

    WIN32_FIND_DATAA data;
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA("C:\\list\\nothing*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA("C:\\nodir\\*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // A drive's root lists no "." and "..".
    HANDLE root = FindFirstFileA("C:\\*", &data);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    do {
        EXPECT_STRNE(data.cFileName, ".");
    } while (FindNextFileA(root, &data));
    FindClose(root);
}

TEST_F(Files, CopyMoveAndDelete) {
    WriteHost("c/a.txt", "alpha");
    WriteHost("c/b.txt", "beta");
    const auto before = fs::last_write_time(Host("c/a.txt"));
    SetLastError(0);
    EXPECT_FALSE(CopyFileA("C:\\a.txt", "C:\\b.txt", TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadHost("c/b.txt"), "beta");
    ASSERT_TRUE(CopyFileA("C:\\A.TXT", "C:\\b.txt", FALSE));
    EXPECT_EQ(ReadHost("c/b.txt"), "alpha");
    EXPECT_EQ(fs::last_write_time(Host("c/b.txt")), before);
    SetLastError(0);
    EXPECT_FALSE(CopyFileA("C:\\none.txt", "C:\\c.txt", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    SetLastError(0);
    EXPECT_FALSE(MoveFileA("C:\\a.txt", "C:\\b.txt"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(MoveFileExA("C:\\a.txt", "C:\\b.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(fs::exists(Host("c/a.txt")));
    ASSERT_TRUE(MoveFileA("C:\\b.txt", "C:\\moved.txt"));
    EXPECT_EQ(ReadHost("c/moved.txt"), "alpha");

    EXPECT_TRUE(DeleteFileA("c:\\MOVED.txt"));
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("C:\\moved.txt"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("C:\\nodir\\x"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, ReplacementAtRestartIsRecordedAndCarriedOut) {
    WriteHost("c/windows/new.dll", "new");
    WriteHost("c/windows/old.dll", "old");
    WriteHost("c/temp/gone.tmp", "x");
    fs::create_directories(Host("c/temp/olddir"));
    ASSERT_TRUE(MoveFileExA("C:\\windows\\new.dll", "C:\\windows\\old.dll",
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(MoveFileExA("C:\\temp\\gone.tmp", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExW(u"C:\\temp\\olddir\\", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    // Nothing happens before the restart.
    EXPECT_EQ(ReadHost("c/windows/old.dll"), "old");
    const auto pending = zq::PendingRenames();
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0].source, u"C:\\windows\\new.dll");
    EXPECT_EQ(pending[0].destination, u"C:\\windows\\old.dll");
    EXPECT_EQ(pending[1].destination, u"");
    EXPECT_EQ(pending[2].source, u"C:\\temp\\olddir\\");

    EXPECT_TRUE(zq::ApplyPendingRenames());
    EXPECT_EQ(ReadHost("c/windows/old.dll"), "new");
    EXPECT_FALSE(fs::exists(Host("c/windows/new.dll")));
    EXPECT_FALSE(fs::exists(Host("c/temp/gone.tmp")));
    EXPECT_FALSE(fs::exists(Host("c/temp/olddir")));
    EXPECT_TRUE(zq::PendingRenames().empty());

    SetLastError(0);
    EXPECT_FALSE(MoveFileExA("C:\\x", "C:\\y", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Files, DirectoriesAndAttributes) {
    EXPECT_TRUE(CreateDirectoryA("C:\\d1", nullptr));
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryA("C:\\D1", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryA("C:\\x\\y", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    WriteHost("c/d1/f", "1");
    SetLastError(0);
    EXPECT_FALSE(RemoveDirectoryA("C:\\d1"));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    SetLastError(0);
    EXPECT_FALSE(RemoveDirectoryA("C:\\d1\\f"));
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);

    EXPECT_EQ(GetFileAttributesA("C:\\d1"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("C:\\d1\\F"), FILE_ATTRIBUTE_NORMAL);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA("C:\\d1\\none"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // Read-only is kept as the mode and enforced, also for root.
    ASSERT_TRUE(SetFileAttributesA("C:\\d1\\f", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA("C:\\d1\\f"), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(fs::status(Host("c/d1/f")).permissions() & fs::perms::owner_write, fs::perms::none);
    SetLastError(0);
    EXPECT_EQ(CreateFileA("C:\\d1\\f", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("C:\\d1\\f"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesA("C:\\d1\\f", GetFileAttributesA("C:\\d1\\f") & ~FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(DeleteFileA("C:\\d1\\f"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\d1"));
}

TEST_F(Files, LockedRangesRefuseOtherHandles) {
    WriteHost("c/lock.bin", std::string(100, 'x'));
    HANDLE a = CreateFileA("C:\\lock.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    HANDLE b = CreateFileA("C:\\lock.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(LockFile(a, 10, 0, 20, 0));
    SetLastError(0);
    EXPECT_FALSE(LockFile(b, 25, 0, 10, 0));
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    EXPECT_FALSE(LockFile(a, 29, 0, 1, 0));  // locks do not stack, even on one handle
    DWORD n = 0;
    SetFilePointer(b, 15, nullptr, FILE_BEGIN);
    SetLastError(0);
    EXPECT_FALSE(WriteFile(b, "y", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    char c;
    EXPECT_FALSE(ReadFile(b, &c, 1, &n, nullptr));
    SetFilePointer(b, 40, nullptr, FILE_BEGIN);
    EXPECT_TRUE(WriteFile(b, "y", 1, &n, nullptr));  // outside the range
    SetFilePointer(a, 15, nullptr, FILE_BEGIN);
    EXPECT_TRUE(WriteFile(a, "z", 1, &n, nullptr));  // the owner may
    SetLastError(0);
    EXPECT_FALSE(UnlockFile(a, 10, 0, 5, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);
    EXPECT_TRUE(UnlockFile(a, 10, 0, 20, 0));
    SetFilePointer(b, 15, nullptr, FILE_BEGIN);
    EXPECT_TRUE(WriteFile(b, "y", 1, &n, nullptr));
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(Files, FileTimesRoundTrip) {
    HANDLE h = CreateFileA("C:\\t.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // 2001-02-03 04:05:06 UTC.
    const FILETIME when = zq::FileTimeFromUnix(981173106, 0);
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &when));
    FILETIME write{}, access{};
    ASSERT_TRUE(GetFileTime(h, nullptr, &access, &write));
    EXPECT_EQ(write.dwLowDateTime, when.dwLowDateTime);
    EXPECT_EQ(write.dwHighDateTime, when.dwHighDateTime);
    CloseHandle(h);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(
                  fs::last_write_time(Host("c/t.txt")).time_since_epoch() -
                  std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(981173106)))
                      .time_since_epoch())
                  .count(),
              0);
}

// A file is read whole onto what is already there: a regular file
// (empty too), a pipe's bytes to its end; a file that cannot be opened leaves
// the buffer as it was.
TEST(AppendFile, ReadsWholeFilesAndPipes) {
    const std::string dir = std::filesystem::temp_directory_path() / ("zq-append-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::vector<uint8_t> big(200000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + i / 251);
    {
        std::ofstream(dir + "/big", std::ios::binary).write(reinterpret_cast<const char*>(big.data()), big.size());
        std::ofstream(dir + "/empty", std::ios::binary);
    }
    std::vector<uint8_t> out{1, 2, 3};
    ASSERT_TRUE(zq::fsutil::AppendFile(dir + "/big", out));
    ASSERT_EQ(out.size(), 3 + big.size());
    EXPECT_TRUE(std::equal(big.begin(), big.end(), out.begin() + 3));
    EXPECT_TRUE(zq::fsutil::AppendFile(dir + "/empty", out));
    EXPECT_EQ(out.size(), 3 + big.size());
    EXPECT_FALSE(zq::fsutil::AppendFile(dir + "/missing", out));
    EXPECT_EQ(out.size(), 3 + big.size());
    // A directory opens but cannot be read: nothing of it is kept.
    EXPECT_FALSE(zq::fsutil::AppendFile(dir, out));
    EXPECT_EQ(out.size(), 3 + big.size());

    // A pipe has no size: it is read to its end, past one read's worth.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        size_t at = 0;
        while (at < big.size()) {
            const ssize_t n = write(fds[1], big.data() + at, big.size() - at);
            if (n <= 0) _exit(1);
            at += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::vector<uint8_t> piped;
    EXPECT_TRUE(zq::fsutil::AppendFile("/proc/self/fd/" + std::to_string(fds[0]), piped));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(piped, big);
    std::filesystem::remove_all(dir);
}

}  // namespace
