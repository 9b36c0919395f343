#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/version.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

namespace {

fs::path Built(const std::string& relative) {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    return fs::path(bin ? bin : ".") / "platform/base/tests" / relative;
}

class Version : public zq::testing::FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        fs::create_directories(Host("c/m"));
        fs::copy_file(Built("modules/zqvermod_a.so"), Host("c/m/a.dll"));
        fs::copy_file(Built("modules/zqvermod_b.so"), Host("c/m/b.dll"));
        fs::copy_file(Built("zq_resources/zqvermod_b.res"), Host("c/m/b.res"));
    }

    std::vector<uint8_t> Block(const char* path) {
        DWORD handle = 99;
        DWORD size = GetFileVersionInfoSizeA(path, &handle);
        EXPECT_EQ(handle, 0u);
        std::vector<uint8_t> block(size);
        if (size) {
            EXPECT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
        }
        return block;
    }

    std::string Text(std::vector<uint8_t>& block, const char* query) {
        LPVOID p = nullptr;
        UINT n = 0;
        if (!VerQueryValueA(block.data(), query, &p, &n)) return "<none>";
        EXPECT_EQ(n, std::strlen(static_cast<char*>(p)) + 1);
        return static_cast<char*>(p);
    }
};

TEST_F(Version, ModulesAndResourceFilesAnswerTheirBlock) {
    struct Case {
        const char* path;
        DWORD ms, ls;
        const char* fileVersion;
    } cases[] = {
        {"C:\\m\\a.dll", 0x00050001, 0x00020000, "5, 1, 2, 0"},
        {"C:\\m\\b.dll", 0x00050001, 0x000A0000, "5.1.10.0"},
        {"C:\\m\\b.res", 0x00050001, 0x000A0000, "5.1.10.0"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto block = Block(c.path);
        ASSERT_FALSE(block.empty());
        LPVOID p = nullptr;
        UINT n = 0;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &p, &n));
        ASSERT_EQ(n, sizeof(VS_FIXEDFILEINFO));
        auto* fixed = static_cast<VS_FIXEDFILEINFO*>(p);
        EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
        EXPECT_EQ(fixed->dwFileVersionMS, c.ms);
        EXPECT_EQ(fixed->dwFileVersionLS, c.ls);
        EXPECT_EQ(fixed->dwFileType, 3u);
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &p, &n));
        ASSERT_EQ(n, 4u);
        auto* words = static_cast<uint16_t*>(p);
        EXPECT_EQ(words[0], 0x407);
        EXPECT_EQ(words[1], 1200);
        EXPECT_EQ(Text(block, "\\StringFileInfo\\040704b0\\FileVersion"), c.fileVersion);
        EXPECT_EQ(Text(block, "\\stringfileinfo\\040704B0\\CompanyName"), "Zelquor");
        EXPECT_EQ(Text(block, "\\StringFileInfo\\040904b0\\FileVersion"), "<none>");
    }
}

TEST_F(Version, FilesWithoutABlockHaveNoVersion) {
    WriteHost("c/m/plain.txt", "not a module");
    fs::copy_file(Built("modules/zqtestmod.so"), Host("c/m/noversion.dll"));
    struct Case {
        const char* path;
        DWORD error;
    } cases[] = {
        {"C:\\m\\plain.txt", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"C:\\m\\noversion.dll", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"C:\\m\\missing.dll", ERROR_FILE_NOT_FOUND},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.path);
        DWORD handle = 0;
        EXPECT_EQ(GetFileVersionInfoSizeA(c.path, &handle), 0u);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(Version, AShortBufferNeverLetsTextsLandOutsideIt) {
    DWORD size = GetFileVersionInfoSizeA("C:\\m\\a.dll", nullptr);
    ASSERT_GT(size, 100u);
    std::vector<uint8_t> block(size / 2 + 8);
    ASSERT_TRUE(GetFileVersionInfoA("C:\\m\\a.dll", 0, static_cast<DWORD>(block.size()), block.data()));
    LPVOID p = nullptr;
    UINT n = 0;
    // Whatever is still reachable lies inside the buffer.
    if (VerQueryValueA(block.data(), "\\StringFileInfo\\040704b0\\FileVersion", &p, &n)) {
        EXPECT_GE(static_cast<uint8_t*>(p), block.data());
        EXPECT_LE(static_cast<uint8_t*>(p) + n, block.data() + block.size());
    }
}

}  // namespace
