// The dialog-library stand-in: its translation tables, the texts and
// pictures it reads from the resource library beside it, the tray names,
// and the account-id prompt's answer from the printer's key.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "base/loader.h"
#include "base/resources.h"
#include "common/uitypes.h"
#include "outside/dialog_library.h"
#include "store/registry.h"
#include "testing/fresh_root.h"
#include "testing/temp_root.h"

#ifndef ZQ_DLGUI_STANDIN
#define ZQ_DLGUI_STANDIN ""
#endif

namespace zq {
namespace {

XlatedRequest Request(uint32_t id, uint32_t direct = 0) {
    XlatedRequest r;
    r.size = kXlatedStringRequest;
    r.direct = direct;
    r.id = id;
    return r;
}

TEST(DialogLibraryTables, LogicalIdsToResourceIds) {
    const struct {
        uint32_t id;
        uint32_t direct;
        uint16_t expected;
    } cases[] = {
        {1, 0, 6007},     {12, 0, 6020},   {1000, 0, 6104}, {1012, 0, 6116}, {1023, 0, 6761},
        {1013, 0, 6117},  {1014, 0, 6120}, {1015, 0, 6118}, {1016, 0, 6119}, {1018, 0, 6714},
        {21, 0, 6591},    {22, 0, 6592},   {23, 0, 6006},   {3003, 0, 6628}, {3004, 0, 6629},
        {3000, 0, 6625},  {3002, 0, 6627},
        {24, 0, 0},       {999, 0, 0},     {0, 0, 0},       {1024, 0, 0},
        // Only the low 16 bits of the id count.
        {0x10000 + 1000, 0, 6104},
        // A direct id is the resource library's own.
        {6257, 1, 6257},  {0, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outside::TranslateStringId(Request(c.id, c.direct)), c.expected) << c.id << " " << c.direct;
    }
    EXPECT_EQ(outside::TranslateResourceId(Request(10000)), 6601);
    EXPECT_EQ(outside::TranslateResourceId(Request(10002)), 6603);
    EXPECT_EQ(outside::TranslateResourceId(Request(10003)), 0);
    EXPECT_EQ(outside::TranslateResourceId(Request(6602, 1)), 6602);
    EXPECT_EQ(outside::ResourceLibraryPath("C:\\drivers\\dlgui.dll"), "C:\\drivers\\dlgres.DLL");
    EXPECT_EQ(outside::ResourceLibraryPath("/build/lib/dlgui.so"), "/build/lib/dlgres.DLL");
    EXPECT_EQ(outside::ResourceLibraryPath("dlgui.dll"), "dlgres.DLL");
}

class DialogLibrary : public testing::FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        lib_ = LoadLibraryA("dlgui.dll");
        ASSERT_NE(lib_, nullptr) << LastLoadError();
        load_ = reinterpret_cast<decltype(load_)>(GetProcAddress(lib_, "LoadXlatedString"));
        resource_ = reinterpret_cast<decltype(resource_)>(GetProcAddress(lib_, "LoadXlatedResource"));
        size_ = reinterpret_cast<decltype(size_)>(GetProcAddress(lib_, "GetSizeofXlatedResource"));
        tray_ = reinterpret_cast<decltype(tray_)>(GetProcAddress(lib_, "GetTrayID"));
        ASSERT_TRUE(load_ && resource_ && size_ && tray_);
    }
    void TearDown() override {
        if (lib_ != nullptr) FreeLibrary(lib_);
        FreshRoot::TearDown();
    }
    std::string Text(uint32_t id, uint32_t direct = 0, uint16_t length = 256) {
        char buffer[256];
        std::memset(buffer, '#', sizeof buffer);
        XlatedRequest r = Request(id, direct);
        r.buffer = buffer;
        r.length = length;
        const int n = load_(&r);
        if (n == 0) {
            // Nothing loaded: the caller's buffer is left as it was.
            EXPECT_EQ(buffer[0], '#') << id;
            return {};
        }
        return std::string(buffer, static_cast<size_t>(n));
    }
    HMODULE lib_ = nullptr;
    int (*load_)(XlatedRequest*) = nullptr;
    const void* (*resource_)(XlatedRequest*) = nullptr;
    DWORD (*size_)(XlatedRequest*) = nullptr;
    WORD (*tray_)(DWORD) = nullptr;
};

TEST_F(DialogLibrary, PaperAndTrayNamesMessagesAndPageLines) {
    EXPECT_EQ(Text(1000), "Letter");
    EXPECT_EQ(Text(1003), "A4");
    EXPECT_EQ(Text(1023), "Tabloid");
    EXPECT_EQ(Text(1017), "Folio");
    EXPECT_EQ(Text(24), "");
    EXPECT_EQ(Text(0, 1), "");
    // Every paper name of the mask bits and every tray name loads.
    for (uint32_t id = 1000; id <= 1023; ++id) EXPECT_FALSE(Text(id).empty()) << id;
    for (DWORD i = 0; i < 15; ++i) EXPECT_FALSE(Text(tray_(i), 1).empty()) << i;
    EXPECT_EQ(Text(tray_(8), 1), "Automatically select");
    // The mismatch message substitutes one %s, the printer name.
    const std::string format = Text(21);
    const size_t first = format.find('%');
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(format.substr(first, 2), "%s");
    EXPECT_EQ(format.find('%', first + 1), std::string::npos);
    EXPECT_FALSE(Text(22).empty());
    for (uint32_t id = 3000; id <= 3002; ++id) EXPECT_FALSE(Text(id).empty()) << id;
    // A short buffer takes what fits with its terminator.
    EXPECT_EQ(Text(1001, 0, 4), "Leg");
}

// The export fills the context's account id from the printer's last one,
// and cancels for a context without a printer name.
TEST_F(DialogLibrary, AccountPromptExportWritesTheContextsId) {
    using Ask = int (*)(HWND, DWORD, DWORD, SheetContext*);
    const auto ask = reinterpret_cast<Ask>(GetProcAddress(lib_, "fnGetAcctTrack"));
    ASSERT_NE(ask, nullptr);
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Zelquor\\Printers\\Office", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &h, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(h, "Current Account ID", 0, REG_SZ, reinterpret_cast<const BYTE*>("4711"), 5), ERROR_SUCCESS);
    RegCloseKey(h);
    SheetContext context{};
    EXPECT_EQ(ask(nullptr, 0, 0, &context), 0);
    char office[] = "Office";
    context.printerNameAnsi = office;
    EXPECT_EQ(ask(nullptr, 0, 0, &context), 1);
    EXPECT_STREQ(context.accountId, "4711");
    EXPECT_EQ(ask(nullptr, 0, 0, nullptr), 0);
}

TEST_F(DialogLibrary, TrayTableByIndex) {
    const struct {
        DWORD index;
        WORD id;
    } cases[] = {{0, 6090}, {3, 6094}, {5, 6093}, {7, 6096}, {13, 6103}, {14, 6257},
                 {15, 0},   {0xFFFF, 0}, {0x10005, 6093}};
    for (const auto& c : cases) EXPECT_EQ(tray_(c.index), c.id) << c.index;
}

TEST_F(DialogLibrary, PicturesOfTheInstructionPage) {
    for (uint32_t id = 10000; id <= 10002; ++id) {
        XlatedRequest r = Request(id);
        r.size = kXlatedResourceRequest;
        r.type = 2;  // RT_BITMAP
        const auto* bits = static_cast<const uint8_t*>(resource_(&r));
        ASSERT_NE(bits, nullptr) << id;
        // A device-independent bitmap without its file header: a 40-byte
        // header of a 64 x 64 one-bit picture, two colours, 512 bytes of rows.
        uint32_t header = 0;
        int32_t width = 0, height = 0;
        uint16_t bitCount = 0;
        std::memcpy(&header, bits, 4);
        std::memcpy(&width, bits + 4, 4);
        std::memcpy(&height, bits + 8, 4);
        std::memcpy(&bitCount, bits + 14, 2);
        EXPECT_EQ(header, 40u);
        EXPECT_EQ(width, 64);
        EXPECT_EQ(height, 64);
        EXPECT_EQ(bitCount, 1);
        EXPECT_EQ(size_(&r), 40u + 8 + 512) << id;
        r.type = 0x10000 + 2;  // only the low 16 bits name the type
        EXPECT_EQ(size_(&r), 40u + 8 + 512) << id;
    }
    XlatedRequest r = Request(10003);
    r.type = 2;
    EXPECT_EQ(resource_(&r), nullptr);
    EXPECT_EQ(size_(&r), 0u);
    r = Request(10000);
    r.type = 6;  // no string block of that id
    EXPECT_EQ(resource_(&r), nullptr);
    EXPECT_EQ(resource_(nullptr), nullptr);
    EXPECT_EQ(size_(nullptr), 0u);
}

TEST(DialogLibraryAttach, FailsWithoutItsResourceLibrary) {
    const auto dir = testing::MakeTempDirectory("dlgui-alone");
    ASSERT_TRUE(std::filesystem::exists(ZQ_DLGUI_STANDIN)) << ZQ_DLGUI_STANDIN;
    std::filesystem::copy_file(ZQ_DLGUI_STANDIN, dir / "dlgui.so");
    EXPECT_EQ(LoadLibraryA((dir / "dlgui.so").c_str()), nullptr);
    testing::RemoveTree(dir);
}

using AccountPrompt = testing::FreshRoot;

TEST_F(AccountPrompt, AnswersThePrintersLastIdElseCancels) {
    auto set = [](const char* printer, const char* id) {
        HKEY h = nullptr;
        const std::string key = std::string("Software\\Zelquor\\Printers\\") + printer;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(h, "Current Account ID", 0, REG_SZ, reinterpret_cast<const BYTE*>(id),
                                 static_cast<DWORD>(std::strlen(id) + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(h);
    };
    char field[outside::kAccountIdField];
    std::memset(field, 'x', sizeof field);
    // No key for the printer: Cancel, the field untouched.
    EXPECT_EQ(outside::AnswerAccountPrompt("Office", field), 0);
    EXPECT_EQ(field[0], 'x');
    const struct {
        const char* id;
        int answer;
    } cases[] = {
        {"4711", 1}, {"1234567890123456", 1}, {"12345678901234567", 0}, {"", 0}, {"12a4", 0}, {"-12", 0},
    };
    for (const auto& c : cases) {
        set("Office", c.id);
        std::memset(field, 'x', sizeof field);
        EXPECT_EQ(outside::AnswerAccountPrompt("Office", field), c.answer) << c.id;
        if (c.answer == 1) {
            EXPECT_STREQ(field, c.id);
            EXPECT_EQ(field[17], '\0');
        } else {
            EXPECT_EQ(field[0], 'x') << c.id;
        }
    }
    EXPECT_EQ(outside::AnswerAccountPrompt("", field), 0);
    EXPECT_FALSE(outside::AccountIdAnswer("Other"));
}

}  // namespace
}  // namespace zq
