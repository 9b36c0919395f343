// The module loader: name resolution, reference counting with attach and
// detach, exports, module handles and file names.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/error.h"
#include "base/loader.h"
#include "base/root.h"
#include "base/text.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

namespace {

fs::path BuiltModule() {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    return fs::path(bin ? bin : ".") / "platform/base/tests/modules/zqtestmod.so";
}

std::string Events() {
    const char* e = std::getenv("ZQ_TESTMOD_EVENTS");
    return e ? e : "";
}

class Loader : public zq::testing::FreshRoot {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(BuiltModule())) << BuiltModule();
        FreshRoot::SetUp();
        unsetenv("ZQ_TESTMOD_EVENTS");
        unsetenv("ZQ_TESTMOD_FAIL_ATTACH");
        unsetenv("ZQ_LIB_PATH");
    }
    void TearDown() override {
        unsetenv("ZQ_TESTMOD_FAIL_ATTACH");
        unsetenv("ZQ_LIB_PATH");
        FreshRoot::TearDown();
    }
    // A copy of the module at a place under the root, under a given name.
    fs::path Place(const std::string& relative) {
        fs::path p = root_ / relative;
        fs::create_directories(p.parent_path());
        fs::copy_file(BuiltModule(), p, fs::copy_options::overwrite_existing);
        return p;
    }
};

TEST_F(Loader, ResolvesWindowsNamesWithoutRegardToCase) {
    Place("c/Drivers/ZqTestMod.so");
    Place("c/windows/system32/zqsys.so");
    fs::path lib = Place("buildlib/zqlib.so");
    setenv("ZQ_LIB_PATH", ("/nonexistent:" + lib.parent_path().string()).c_str(), 1);
    struct Case {
        const char16_t* name;
        const char* expected;  // relative to the root; null: not found
    } cases[] = {
        {u"C:\\drivers\\ZQTESTMOD.DLL", "c/Drivers/ZqTestMod.so"},
        {u"c:/DRIVERS/zqtestmod.dll", "c/Drivers/ZqTestMod.so"},
        {u"\\Drivers\\zqtestmod", "c/Drivers/ZqTestMod.so"},
        {u"C:\\drivers\\sub\\..\\ZqTestMod.drv", "c/Drivers/ZqTestMod.so"},
        {u"ZQSYS.DLL", "c/windows/system32/zqsys.so"},
        {u"zqlib", "buildlib/zqlib.so"},
        {u"C:\\..\\..\\zqsys.dll", nullptr},
        {u"C:\\drivers\\missing.dll", nullptr},
        {u"nosuchmodule.dll", nullptr},
    };
    for (const auto& c : cases) {
        auto got = zq::ResolveModulePath(c.name);
        SCOPED_TRACE(zq::Utf16ToUtf8(c.name));
        if (!c.expected) {
            EXPECT_FALSE(got.has_value());
            continue;
        }
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(fs::canonical(*got), root_ / c.expected);
    }
}

TEST_F(Loader, AttachesOnceAndDetachesWhenTheLastReferenceGoes) {
    Place("c/Drivers/ZqTestMod.so");
    HMODULE a = LoadLibraryW(u"C:\\DRIVERS\\zqtestmod.dll");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Events(), "A");
    // A second load by another spelling is the same module, counted.
    HMODULE b = LoadLibraryA("c:\\drivers\\ZQTESTMOD");
    EXPECT_EQ(a, b);
    HMODULE c = LoadLibraryW(u"ZqTestMod.DLL");  // bare name of a loaded module
    EXPECT_EQ(a, c);
    EXPECT_EQ(GetModuleHandleW(u"ZQTESTMOD.DLL"), a);
    EXPECT_EQ(Events(), "A");
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_TRUE(FreeLibrary(b));
    EXPECT_EQ(Events(), "A");
    EXPECT_TRUE(FreeLibrary(c));
    EXPECT_EQ(Events(), "AD");
    // The handle is dead now; nothing is called twice.
    EXPECT_FALSE(FreeLibrary(c));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetModuleHandleW(u"zqtestmod.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(Events(), "AD");
    // Loaded again, it gets a new handle and a new attach.
    HMODULE d = LoadLibraryW(u"C:\\Drivers\\ZqTestMod.so");
    ASSERT_NE(d, nullptr);
    EXPECT_NE(d, a);
    EXPECT_TRUE(FreeLibrary(d));
    EXPECT_EQ(Events(), "ADAD");
}

TEST_F(Loader, RefusedAttachFailsTheLoad) {
    Place("c/Drivers/ZqTestMod.so");
    setenv("ZQ_TESTMOD_FAIL_ATTACH", "1", 1);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"C:\\Drivers\\zqtestmod.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_DLL_INIT_FAILED);
    // As on Windows the module is told to detach before it goes.
    EXPECT_EQ(Events(), "AD");
    EXPECT_EQ(GetModuleHandleW(u"zqtestmod.dll"), nullptr);
}

TEST_F(Loader, DataFileLoadDoesNotAttachUntilAnOrdinaryLoad) {
    Place("c/Drivers/ZqTestMod.so");
    HMODULE data = LoadLibraryExW(u"C:\\Drivers\\zqtestmod.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Events(), "");
    HMODULE code = LoadLibraryW(u"C:\\Drivers\\zqtestmod.dll");
    EXPECT_EQ(code, data);
    EXPECT_EQ(Events(), "A");
    FreeLibrary(code);
    FreeLibrary(data);
    EXPECT_EQ(Events(), "AD");
}

TEST_F(Loader, GetProcAddressFindsOnlyTheModulesOwnExports) {
    HMODULE m = LoadLibraryW(zq::Utf8ToUtf16(BuiltModule().string()).c_str());
    ASSERT_NE(m, nullptr);
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(m, "ZqTestModuleAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    struct Case {
        LPCSTR name;
        const char* why;
    } missing[] = {
        {"NoSuchExport", "absent"},
        {"SetLastError", "belongs to a library the module depends on"},
        {MAKEINTRESOURCEA(1), "by ordinal"},
    };
    for (const auto& c : missing) {
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(m, c.name), nullptr) << c.why;
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND) << c.why;
    }
    EXPECT_TRUE(FreeLibrary(m));
}

TEST_F(Loader, MissingModulesAndBadHandles) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"C:\\nowhere\\nothing.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    // A file that is not a module.
    fs::create_directories(root_ / "c/Drivers");
    std::ofstream(root_ / "c/Drivers/text.so") << "not a module";
    EXPECT_EQ(LoadLibraryW(u"C:\\Drivers\\TEXT.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), 193u);
    HMODULE bogus = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x12340000));
    EXPECT_EQ(GetProcAddress(bogus, "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST_F(Loader, ModuleFileNamesFollowTheSizeProtocol) {
    Place("c/Drivers/ZqTestMod.so");
    HMODULE m = LoadLibraryW(u"c:\\drivers\\zqtestmod.dll");
    ASSERT_NE(m, nullptr);
    const std::u16string full = u"C:\\Drivers\\ZqTestMod.so";
    const auto n = static_cast<DWORD>(full.size());
    struct Case {
        DWORD size;
        DWORD result;
        DWORD error;
        std::u16string text;
    } cases[] = {
        {n + 10, n, ERROR_SUCCESS, full},
        {n + 1, n, ERROR_SUCCESS, full},
        {n, n, ERROR_INSUFFICIENT_BUFFER, full.substr(0, n - 1)},
        {4, 4, ERROR_INSUFFICIENT_BUFFER, u"C:\\"},
        {1, 1, ERROR_INSUFFICIENT_BUFFER, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::u16string buffer(64, u'#');
        SetLastError(12345);
        EXPECT_EQ(GetModuleFileNameW(m, buffer.data(), c.size), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(std::u16string(buffer.c_str()), c.text);
        EXPECT_EQ(buffer[c.size], u'#') << "wrote past the buffer";

        std::string narrow(64, '#');
        EXPECT_EQ(GetModuleFileNameA(m, narrow.data(), c.size), c.result);
        EXPECT_EQ(std::string(narrow.c_str()), zq::Utf16ToUtf8(c.text));
    }
    EXPECT_EQ(GetModuleFileNameW(m, nullptr, 0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    FreeLibrary(m);

    // The program's own name is its file.
    char16_t self[512];
    DWORD length = GetModuleFileNameW(nullptr, self, 512);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(fs::path(zq::Utf16ToUtf8(std::u16string(self, length))), fs::read_symlink("/proc/self/exe"));
    EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
}

TEST_F(Loader, AModuleLoadsItsSiblingByTheDirectoryOfItsFileName) {
    // What a driver does: take its own file name, cut the file part (at the
    // last separator of either kind) and load a sibling from there.
    Place("c/Drivers/ZqTestMod.so");
    Place("c/Drivers/Sibling.so");
    HMODULE m = LoadLibraryW(u"C:\\Drivers\\zqtestmod.dll");
    ASSERT_NE(m, nullptr);
    char path[260];
    ASSERT_GT(GetModuleFileNameA(m, path, sizeof path), 0u);
    std::string dir(path);
    dir.erase(dir.find_last_of("\\/") + 1);
    HMODULE sibling = LoadLibraryA((dir + "SIBLING.DLL").c_str());
    EXPECT_NE(sibling, nullptr);
    EXPECT_NE(sibling, m);
    FreeLibrary(sibling);
    FreeLibrary(m);
    // From the build tree (outside the root) the same works with '/' paths.
    HMODULE built = LoadLibraryW(zq::Utf8ToUtf16(BuiltModule().string()).c_str());
    ASSERT_GT(GetModuleFileNameA(built, path, sizeof path), 0u);
    dir = path;
    dir.erase(dir.find_last_of("\\/") + 1);
    HMODULE again = LoadLibraryA((dir + "ZQTESTMOD.DLL").c_str());
    EXPECT_EQ(again, built);
    FreeLibrary(again);
    FreeLibrary(built);
}

}  // namespace
