// Module resources compiled by zqrc (tests/module/zqtestmod.rc and .rec),
// read back through the resource API from the module and from its
// standalone resource file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/loader.h"
#include "base/locale.h"
#include "base/resources.h"
#include "base/root.h"
#include "base/text.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

namespace {

constexpr WORD kNeutral = 0;
constexpr WORD kGerman = MAKELANGID(0x07, 0x01);

fs::path BinaryDir() {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    return fs::path(bin ? bin : ".");
}

std::vector<BYTE> Bytes(const void* p, size_t n) {
    auto b = static_cast<const BYTE*>(p);
    return std::vector<BYTE>(b, b + n);
}

std::vector<BYTE> FileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Resources : public zq::testing::FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        module_ = LoadLibraryW(zq::Utf8ToUtf16((BinaryDir() / "platform/base/tests/modules/zqtestmod.so").string()).c_str());
        ASSERT_NE(module_, nullptr) << zq::LastLoadError();
    }
    void TearDown() override {
        FreeLibrary(module_);
        FreshRoot::TearDown();
    }

    std::vector<BYTE> Resource(LPCWSTR name, LPCWSTR type) {
        HRSRC r = FindResourceW(module_, name, type);
        if (!r) return {};
        return Bytes(LockResource(LoadResource(module_, r)), SizeofResource(module_, r));
    }

    HMODULE module_ = nullptr;
};

TEST_F(Resources, LoadStringWCopiesTruncatesAndTerminates) {
    // "Zelquor printer driver" has 22 characters.
    struct Case {
        UINT id;
        int size;
        int result;
        std::u16string text;
    } cases[] = {
        {2, 100, 22, u"Zelquor printer driver"},
        {2, 23, 22, u"Zelquor printer driver"},
        {2, 22, 21, u"Zelquor printer drive"},
        {2, 2, 1, u"Z"},
        {2, 1, 0, u""},
        {1, 10, 5, u"Hello"},
        {17, 64, 12, u"Second block"},
        {3, 10, 0, u""},   // empty string
        {7, 10, 0, u""},   // absent in a present block
        {40, 10, 0, u""},  // absent block
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << " size " << c.size);
        std::u16string buffer(128, u'#');
        EXPECT_EQ(LoadStringW(module_, c.id, buffer.data(), c.size), c.result);
        EXPECT_EQ(std::u16string(buffer.c_str()), c.text);
        EXPECT_EQ(buffer[static_cast<size_t>(c.size)], u'#') << "wrote past the buffer";
    }
}

TEST_F(Resources, LoadStringWWithoutBufferGivesAPointerIntoTheModule) {
    LPCWSTR text = nullptr;
    int n = LoadStringW(module_, 2, reinterpret_cast<LPWSTR>(&text), 0);
    ASSERT_EQ(n, 22);
    EXPECT_EQ(std::u16string(text, 22), u"Zelquor printer driver");
    text = nullptr;
    EXPECT_EQ(LoadStringW(module_, 40, reinterpret_cast<LPWSTR>(&text), 0), 0);
}

TEST_F(Resources, LoadStringAConvertsToTheAnsiCodePage) {
    struct Case {
        UINT id;
        int size;
        int result;
        std::string text;
    } cases[] = {
        {4, 10, 5, "Gr\xF6\xDF" "e"},
        {4, 3, 2, "Gr"},
        {2, 8, 7, "Zelquor"},
        {9, 8, 0, ""},
    };
    for (const auto& c : cases) {
        std::string buffer(64, '#');
        EXPECT_EQ(LoadStringA(module_, c.id, buffer.data(), c.size), c.result) << c.id;
        EXPECT_EQ(std::string(buffer.c_str()), c.text) << c.id;
        EXPECT_EQ(buffer[static_cast<size_t>(c.size)], '#');
    }
}

TEST_F(Resources, LoadStringANeverCutsADoubleByteCharacter) {
    zq::LocaleSettings japanese;
    japanese.ansiCodePage = 932;
    zq::ScopedLocaleSettings scope(japanese);
    // "日本語" is six bytes in code page 932.
    struct Case {
        int size;
        int result;
    } cases[] = {{7, 6}, {6, 4}, {5, 4}, {4, 2}, {3, 2}, {2, 0}};
    for (const auto& c : cases) {
        std::string buffer(16, '#');
        EXPECT_EQ(LoadStringA(module_, 6, buffer.data(), c.size), c.result) << c.size;
        EXPECT_EQ(buffer[static_cast<size_t>(c.result)], '\0') << c.size;
        EXPECT_EQ(std::string(buffer.c_str()), zq::WideToAnsi(u"日本語", 932).substr(0, static_cast<size_t>(c.result)));
    }
}

TEST_F(Resources, LanguagesArePickedNeutralFirstOrAsAsked) {
    std::u16string buffer(32, 0);
    EXPECT_EQ(LoadStringW(module_, 1, buffer.data(), 32), 5);
    EXPECT_EQ(std::u16string(buffer.c_str()), u"Hello");
    // Strings come in blocks of sixteen per language: the neutral block is
    // chosen, and a string that only its German twin holds is not there.
    EXPECT_EQ(LoadStringW(module_, 5, buffer.data(), 32), 0);

    HRSRC german = FindResourceExW(module_, RT_STRING, MAKEINTRESOURCEW(1), kGerman);
    ASSERT_NE(german, nullptr);
    HRSRC neutral = FindResourceExW(module_, RT_STRING, MAKEINTRESOURCEW(1), kNeutral);
    ASSERT_NE(neutral, nullptr);
    EXPECT_NE(german, neutral);
    // The German block: "Hallo" (string 1) and "Nur deutsch" (string 5).
    auto block = Bytes(LockResource(LoadResource(module_, german)), SizeofResource(module_, german));
    std::u16string all;
    for (size_t i = 0; i + 1 < block.size(); i += 2) all.push_back(static_cast<char16_t>(block[i] | (block[i + 1] << 8)));
    EXPECT_EQ(all, std::u16string(u"\0\x5Hallo\0\0\0\xBNur deutsch", 22) + std::u16string(10, u'\0'));
    EXPECT_EQ(FindResourceExW(module_, RT_STRING, MAKEINTRESOURCEW(1), MAKELANGID(0x0C, 1)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
}

TEST_F(Resources, DialogTemplateIsByteExact) {
    // IDD_SMALL DIALOG 10, 20, 100, 40 with DS_MODALFRAME | WS_POPUP |
    // WS_CAPTION, caption "Hi", FONT 8 "Tahoma"; a DEFPUSHBUTTON and an LTEXT.
    const std::vector<BYTE> expected = {
        0xC0, 0x00, 0xC0, 0x80,  // style: WS_POPUP|WS_CAPTION|DS_MODALFRAME|DS_SETFONT
        0, 0, 0, 0,              // extended style
        2, 0,                    // two items
        10, 0, 20, 0, 100, 0, 40, 0,
        0, 0,                    // no menu
        0, 0,                    // default class
        'H', 0, 'i', 0, 0, 0,    // caption
        8, 0,                    // point size
        'T', 0, 'a', 0, 'h', 0, 'o', 0, 'm', 0, 'a', 0, 0, 0,
        // item 1 at offset 44 (DWORD aligned already)
        0x01, 0x00, 0x01, 0x50,  // WS_CHILD|WS_VISIBLE|WS_TABSTOP|BS_DEFPUSHBUTTON
        0, 0, 0, 0,
        5, 0, 6, 0, 30, 0, 12, 0,
        1, 0,                    // IDOK
        0xFF, 0xFF, 0x80, 0x00,  // class: button atom
        'O', 0, 'K', 0, 0, 0,
        0, 0,                    // no creation data
        0, 0,                    // padding to a DWORD
        // item 2 at offset 76
        0x80, 0x00, 0x02, 0x50,  // WS_CHILD|WS_VISIBLE|WS_GROUP|SS_NOPREFIX (SS_LEFT)
        0, 0, 0, 0,
        40, 0, 6, 0, 10, 0, 8, 0,
        0xFF, 0xFF,              // id -1
        0xFF, 0xFF, 0x82, 0x00,  // class: static atom
        'A', 0, 0, 0,
        0, 0,
    };
    EXPECT_EQ(Resource(MAKEINTRESOURCEW(100), RT_DIALOG), expected);
}

// A menu template decoder of the test's own, to read the menu back.
struct MenuItem {
    WORD flags;
    WORD id;  // 0 for popups
    std::u16string text;
    int depth;
};

std::vector<MenuItem> DecodeMenu(const std::vector<BYTE>& b) {
    std::vector<MenuItem> out;
    size_t at = 4;  // version and header size, both 0
    auto word = [&] {
        WORD w = static_cast<WORD>(b.at(at) | (b.at(at + 1) << 8));
        at += 2;
        return w;
    };
    auto text = [&] {
        std::u16string s;
        while (WORD c = word()) s.push_back(static_cast<char16_t>(c));
        return s;
    };
    std::function<void(int)> level = [&](int depth) {
        for (;;) {
            MenuItem item{};
            item.depth = depth;
            item.flags = word();
            if (!(item.flags & 0x10)) item.id = word();
            item.text = text();
            out.push_back(item);
            if (item.flags & 0x10) level(depth + 1);
            if (item.flags & 0x80) return;
        }
    };
    level(0);
    EXPECT_EQ(at, b.size()) << "bytes after the menu's end";
    return out;
}

TEST_F(Resources, MenuTemplateReadsBack) {
    auto bytes = Resource(MAKEINTRESOURCEW(200), RT_MENU);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0] | bytes[1] | bytes[2] | bytes[3], 0);
    auto items = DecodeMenu(bytes);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].text, u"&File");
    EXPECT_EQ(items[0].flags, 0x10);
    EXPECT_EQ(items[1].text, u"&Open");
    EXPECT_EQ(items[1].id, 101);
    EXPECT_EQ(items[1].flags, 0);
    EXPECT_EQ(items[2].text, u"");  // separator
    EXPECT_EQ(items[2].id, 0);
    EXPECT_EQ(items[3].text, u"E&xit");
    EXPECT_EQ(items[3].flags, 0x80 | 0x01);  // MF_END | MF_GRAYED
    EXPECT_EQ(items[3].id, 102);
    EXPECT_EQ(items[4].flags, 0x80 | 0x4000);  // MF_END | MF_HELP
    EXPECT_EQ(items[4].depth, 0);
}

TEST_F(Resources, BitmapIsTheFileWithoutItsFileHeader) {
    auto bitmap = Resource(MAKEINTRESOURCEW(300), RT_BITMAP);
    auto file = FileBytes(fs::path(std::getenv("ZQ_SOURCE_DIR")) / "platform/base/tests/module/tiny.bmp");
    ASSERT_EQ(file.size(), 14 + bitmap.size());
    EXPECT_TRUE(std::equal(bitmap.begin(), bitmap.end(), file.begin() + 14));
    {
        // BITMAPINFOHEADER: size, width, height.
        int32_t header, width, height;
        std::memcpy(&header, bitmap.data(), 4);
        std::memcpy(&width, bitmap.data() + 4, 4);
        std::memcpy(&height, bitmap.data() + 8, 4);
        EXPECT_EQ(header, 40);
        EXPECT_EQ(width, 2);
        EXPECT_EQ(height, 2);
    }
}

TEST_F(Resources, RecordsHaveTheirFieldsWhereDeclared) {
    auto sources = Resource(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(259));
    const std::vector<BYTE> expected = {
        2, 0,                    // count(entries)
        1, 0,                    // defaultIndex
        'Z', 'Q', 0, 0,          // char[4] tag
        0x01, 0x00, 7, 0, 0xFF, 0xFF, 0, 0,   // mask 1, source 7, capacity -1
        0x02, 0x00, 1, 0, 250, 0, 3, 0,       // mask 2, source 1, capacity 250, media 3
    };
    EXPECT_EQ(sources, expected);

    auto model = Resource(MAKEINTRESOURCEW(10500), MAKEINTRESOURCEW(260));
    ASSERT_EQ(model.size(), 48u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(model.data())), "ZQ Laser 5");
    EXPECT_EQ(model[16], 'L');
    EXPECT_EQ(model[17], 0);
    EXPECT_EQ(model[18], '5');
    EXPECT_EQ(model[32] | (model[33] << 8), 600);  // struct default kept
    EXPECT_EQ(model[34] | (model[35] << 8), 300);
    EXPECT_EQ(model[36] | model[37], 0);
    EXPECT_EQ(model[42], 0x01);
    EXPECT_EQ(model[45], 0x80);
}

TEST_F(Resources, NamesAndTypesByNumberStringAndHash) {
    EXPECT_NE(FindResourceW(module_, u"#100", RT_DIALOG), nullptr);
    EXPECT_NE(FindResourceA(module_, MAKEINTRESOURCEA(1), "#259"), nullptr);
    // String names compare without regard to case.
    const std::vector<BYTE> greeting = {'H', 'i', 0x2A, 0, 7, 0, 0, 0};
    EXPECT_EQ(Resource(u"greeting", RT_RCDATA), greeting);
    HRSRC byAnsi = FindResourceA(module_, "GreeTing", "#10");
    ASSERT_NE(byAnsi, nullptr);
    EXPECT_EQ(SizeofResource(module_, byAnsi), 8u);
    EXPECT_EQ(FindResourceW(module_, MAKEINTRESOURCEW(101), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceW(module_, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(999)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);

    std::vector<WORD> dialogs;
    auto collect = [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
        reinterpret_cast<std::vector<WORD>*>(param)->push_back(static_cast<WORD>(reinterpret_cast<uintptr_t>(name)));
        return TRUE;
    };
    EXPECT_TRUE(EnumResourceNamesW(module_, RT_STRING, collect, reinterpret_cast<LONG_PTR>(&dialogs)));
    EXPECT_EQ(dialogs, (std::vector<WORD>{1, 2}));  // string blocks, once per name
}

TEST_F(Resources, TheProgramHasResourcesOfItsOwn) {
    std::u16string buffer(32, 0);
    EXPECT_EQ(LoadStringW(nullptr, 1, buffer.data(), 32), 14);
    EXPECT_EQ(std::u16string(buffer.c_str()), u"Program string");
    EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), 1, buffer.data(), 32), 14);
    // The module's string 1 is another one.
    EXPECT_EQ(LoadStringW(module_, 1, buffer.data(), 32), 5);
}

TEST_F(Resources, EngineCallsReadTheModuleAndItsResourceFile) {
    fs::path resFile = BinaryDir() / "platform/base/tests/zq_resources/zqtestmod.res";
    fs::path soFile = BinaryDir() / "platform/base/tests/modules/zqtestmod.so";
    for (const fs::path& file : {resFile, soFile}) {
        SCOPED_TRACE(file.string());
        std::u16string path = zq::Utf8ToUtf16(file.string());
        HANDLE h = EngLoadModule(path.data());
        ASSERT_NE(h, nullptr);
        ULONG size = 0;
        PVOID record = EngFindResource(h, 1, 259, &size);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(Bytes(record, size), Resource(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(259)));
        size = 77;
        EXPECT_EQ(EngFindResource(h, 7, 259, &size), nullptr);
        EXPECT_EQ(size, 0u);
        std::u16string buffer(32, 0);
        EXPECT_EQ(LoadStringW(static_cast<HMODULE>(h), 1, buffer.data(), 32), 5);
        EngFreeModule(h);
    }
}

TEST(ResourceDirectory, MalformedBytesAreRefused) {
    // A directory of one entry, then damaged in the ways a file can be.
    std::vector<BYTE> good = {'Z', 'Q', 'R', 'S', 'R', 'C', '0', '1', 1, 0, 0, 0, 48, 0, 0, 0,
                              10, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 4, 0, 0, 0,
                              0, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0, 0};
    ASSERT_TRUE(zq::IsValidResourceDirectory(good.data(), good.size()));
    struct Case {
        size_t offset;
        BYTE value;
        const char* what;
    } damage[] = {
        {0, 'X', "magic"},
        {8, 200, "entry count beyond the size"},
        {12, 200, "total size beyond the bytes"},
        {28, 46, "data beyond the end"},
        {32, 0xFF, "data size beyond the end"},
        {23, 0x80, "string name offset beyond the end"},
        {18, 1, "numbered type above 65535"},
    };
    for (const auto& d : damage) {
        auto bytes = good;
        bytes[d.offset] = d.value;
        EXPECT_FALSE(zq::IsValidResourceDirectory(bytes.data(), bytes.size())) << d.what;
    }
    EXPECT_FALSE(zq::IsValidResourceDirectory(good.data(), 20));
}

}  // namespace
