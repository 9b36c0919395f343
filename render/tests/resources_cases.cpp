// The renderer's own resources as the built pclrend.so holds them: the
// symbol-set character tables, checked against the system's code-page
// conversion (iconv) at test time.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "base/loader.h"
#include "base/resources.h"

namespace {

constexpr int kSymbolSetType = 273;

// The character byte `code` prints in the code page; 0xFFFF when it has none.
uint16_t FromCodePage(const char* codePage, int code) {
    iconv_t cd = iconv_open("UTF-16LE", codePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    char in = static_cast<char>(code), out[8] = {};
    char *inp = &in, *outp = out;
    size_t inLeft = 1, outLeft = sizeof out;
    const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || sizeof out - outLeft != 2) return 0xFFFF;
    return static_cast<uint16_t>(static_cast<uint8_t>(out[0]) | static_cast<uint8_t>(out[1]) << 8);
}

class PclrendResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA("pclrend.dll");
        ASSERT_NE(module_, nullptr) << zq::LastLoadError();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

TEST_F(PclrendResources, SymbolSetTablesAgreeWithTheCodePages) {
    const struct {
        int id;
        const char* codePage;
    } sets[] = {{1, "WINDOWS-1252"}, {2, "WINDOWS-1250"}, {3, "WINDOWS-1251"},
                {4, "WINDOWS-1254"}, {5, "WINDOWS-1257"}, {6, "WINDOWS-1253"}};
    for (const auto& s : sets) {
        ULONG size = 0;
        const auto* table = static_cast<const uint8_t*>(EngFindResource(module_, s.id, kSymbolSetType, &size));
        ASSERT_NE(table, nullptr) << "symbol set " << s.id;
        ASSERT_EQ(size, 512u) << "symbol set " << s.id;
        int printable = 0;
        for (int code = 0; code < 256; ++code) {
            const uint16_t stored = static_cast<uint16_t>(table[2 * code] | table[2 * code + 1] << 8);
            const uint16_t want = code < 32 ? 0xFFFF : FromCodePage(s.codePage, code);
            ASSERT_NE(want, 0) << "iconv has no " << s.codePage;
            EXPECT_EQ(stored, want) << s.codePage << " byte " << code;
            printable += stored != 0xFFFF;
        }
        // Every set prints at least ASCII and most of its upper half.
        EXPECT_GT(printable, 200) << s.codePage;
    }
    // The double-byte rows have no table: the renderer skips them.
    for (int id = 7; id <= 10; ++id) {
        ULONG size = 0;
        EXPECT_EQ(EngFindResource(module_, id, kSymbolSetType, &size), nullptr) << id;
    }
    // A few characters the rows are chosen for.
    auto at = [&](int id, int code) {
        ULONG size = 0;
        const auto* t = static_cast<const uint8_t*>(EngFindResource(module_, id, kSymbolSetType, &size));
        return static_cast<uint16_t>(t[2 * code] | t[2 * code + 1] << 8);
    };
    EXPECT_EQ(at(1, 0x80), 0x20AC);  // euro sign
    EXPECT_EQ(at(3, 0xC0), 0x0410);  // Cyrillic A
    EXPECT_EQ(at(6, 0xC1), 0x0391);  // Greek Alpha
    EXPECT_EQ(at(1, 0x81), 0xFFFF);  // unassigned in 1252
}

// The renderer builds the same font summary as the interface driver when
// the cache has none: both hold the same resident fonts.
TEST_F(PclrendResources, ResidentFontsAreTheInterfaceDriversOwn) {
    HMODULE drvui = LoadLibraryA("drvui.dll");
    ASSERT_NE(drvui, nullptr) << zq::LastLoadError();
    int descriptions = 0;
    for (const int type : {265, 258}) {
        for (int id = 1; id < 100; ++id) {
            ULONG size = 0;
            const void* ours = EngFindResource(module_, id, type, &size);
            HRSRC theirs = FindResourceA(drvui, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
            ASSERT_EQ(ours != nullptr, theirs != nullptr) << "type " << type << " id " << id;
            if (ours == nullptr) continue;
            ASSERT_EQ(size, SizeofResource(drvui, theirs)) << "type " << type << " id " << id;
            EXPECT_EQ(std::memcmp(ours, LockResource(LoadResource(drvui, theirs)), size), 0) << type << " " << id;
            descriptions += type == 258;
        }
    }
    EXPECT_GT(descriptions, 12);
    FreeLibrary(drvui);
}

}  // namespace
