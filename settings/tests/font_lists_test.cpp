// The per-printer font list files: names, the records an install writes,
// the older "SoftFont" value moved into the file, the toolkit's requests,
// damaged files, and writers in several processes at once.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/text.h"
#include "settings/font_lists.h"
#include "settings/pd_list.h"
#include "settings/printer_data_values.h"
#include "store/spooler.h"
#include "settings/tests/decoder.h"
#include "settings/tests/office_printer.h"

namespace zq {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr char kPrinter[] = "Office";

class FontListTest : public testing::OfficePrinter {
protected:
    void SetUp() override {
        OfficePrinter::SetUp();
        const auto dir = MapPath(u"C:\\fonts");
        ASSERT_TRUE(dir);
        std::filesystem::create_directories(*dir);
        const auto pfm = MapPath(AnsiToWide(FontFileName(printer_, ".PFM")));
        ASSERT_TRUE(pfm);
        std::filesystem::create_directories(pfm->parent_path());
    }
    // Writes a font file C:\fonts\<name> of `size` bytes and returns its path.
    std::string Font(const std::string& name, size_t size, uint8_t fill = 0x5A) {
        const std::string path = "C:\\fonts\\" + name;
        std::ofstream out(*MapPath(AnsiToWide(path)), std::ios::binary);
        const Bytes bytes(size, fill);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::filesystem::path ListFile(const char* ext) { return *MapPath(AnsiToWide(FontFileName(printer_, ext))); }
    std::optional<Bytes> FileBytes(const char* ext) {
        std::ifstream in(ListFile(ext), std::ios::binary);
        if (!in) return std::nullopt;
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void WriteFile(const char* ext, const Bytes& bytes) {
        std::ofstream out(ListFile(ext), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    struct Entry {
        uint16_t id;
        std::string path;
        size_t contentSize;  // 0 without content
        bool operator==(const Entry&) const = default;
    };
    std::vector<Entry> Entries(const char* ext) {
        std::vector<Entry> out;
        const auto bytes = FileBytes(ext);
        if (!bytes) return out;
        PdListHolder list(PdListOpenBytes(*bytes));
        const uint16_t contentKey = std::string(ext) == ".PCM" ? 4 : 5;
        if (PdListFirst(list.get())) {
            do {
                out.push_back({PdFieldWord(list.get(), 1).value_or(0),
                               std::string(PdFieldText(list.get(), 2).value_or("")),
                               PdFieldData(list.get(), contentKey).value_or(std::span<const uint8_t>{}).size()});
            } while (PdListNext(list.get()));
        }
        return out;
    }
};

TEST(FontFileNameTest, PrinterNamesBecomeSafeFileNames) {
    const struct {
        std::u16string printer;
        std::string component;
    } cases[] = {
        {u"Office", "Office"},
        {u"\\\\server\\Laser 2", "Laser 2"},
        {u"../../etc/passwd", ".._.._etc_passwd"},
        {u"a:b*c?d\"e<f>g|h", "a_b_c_d_e_f_g_h"},
        {u"Caf\u00e9-1_x.y", "Caf_-1_x.y"},
        {std::u16string(80, u'n'), std::string(63, 'n')},
    };
    for (const auto& c : cases) EXPECT_EQ(FileNameComponent(c.printer), c.component);
}

TEST_F(FontListTest, NamesSitInTheDriverDirectory) {
    const std::string pcm = FontFileName(printer_, ".PCM");
    EXPECT_TRUE(pcm.ends_with("\\zelOffice.PCM")) << pcm;
    char buffer[kFontFileNameCapacity];
    EXPECT_EQ(GetSoftFontFileName(buffer, printer_), pcm.size());
    EXPECT_EQ(std::string(buffer), pcm.substr(0, pcm.size() - 3) + "PFM");
    EXPECT_EQ(FontFileName(nullptr, ".PCL"), "VFS_NONE.PCL");
}

TEST_F(FontListTest, InstallingTheSameFontTwiceLeavesOneRecord) {
    const std::string a = Font("a.pfm", 300), b = Font("b.pfm", 10);
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, a.c_str(), "a.sfp", 7));
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, b.c_str(), nullptr, 0));
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, "C:\\FONTS\\A.PFM", "a.sfp", 8));
    EXPECT_EQ(Entries(".PFM"), (std::vector<Entry>{{2, b, 10}, {1, "C:\\FONTS\\A.PFM", 300}}));
    // A file that cannot be read is recorded without its content.
    ASSERT_TRUE(PcmAddEntry(kPrinter, "C:\\fonts\\missing.pcm", 3));
    EXPECT_EQ(Entries(".PCM"), (std::vector<Entry>{{1, "C:\\fonts\\missing.pcm", 0}}));
}

TEST_F(FontListTest, AFontTooLargeForARecordIsRefusedAndTheOldEntryKept) {
    const std::string a = Font("big.pfm", 1000);
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, a.c_str(), nullptr, 1));
    Font("big.pfm", 70000);
    EXPECT_FALSE(SoftFontAddEntry(kPrinter, a.c_str(), nullptr, 1));
    EXPECT_EQ(Entries(".PFM"), (std::vector<Entry>{{1, a, 1000}}));
    uint16_t kind = 1;
    char path[260];
    std::strcpy(path, a.c_str());
    FontRequest install{0, 1, &kind, path, nullptr, nullptr};
    EXPECT_EQ(FontFeedbackRequest(kPrinter, install, printer_), 0);
}

TEST_F(FontListTest, ShortFilesAreReplacedAndDamagedOnesKeepTheirSoundPrefix) {
    WriteFile(".PCM", Bytes{1, 2, 3});
    PdList* list = PcmListOpen(kPrinter, printer_);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(PdListFirst(list), 0);
    EXPECT_TRUE(PcmListSave(list, printer_));
    EXPECT_EQ(FileBytes(".PCM"), Bytes{});
    // One good record, then a record length of 0.
    ASSERT_TRUE(PcmAddEntry(kPrinter, Font("c.pcm", 20).c_str(), 0));
    Bytes damaged = *FileBytes(".PCM");
    damaged.insert(damaged.end(), {0, 0, 1, 0, 7, 0, 1, 0});
    WriteFile(".PCM", damaged);
    list = PcmListOpen(kPrinter, printer_);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->damagedBytes, 8u);
    EXPECT_TRUE(PcmListSave(list, printer_));
    EXPECT_EQ(FileBytes(".PCM"), damaged);  // a read leaves the file alone
}

TEST_F(FontListTest, TheOlderSoftFontValueMovesIntoTheFileOnce) {
    const std::string a = Font("m1.pfm", 40), b = Font("m2.pfm", 50);
    PdList* old = PdListOpen(kPrinter, "SoftFont");
    const uint16_t v1 = 4, v2 = 5;
    const PdField r1[] = {{1, 2, &v1}, {2, static_cast<uint16_t>(a.size() + 1), a.c_str()}, {3, 3, "dl"}, {4, 2, &v1}};
    const PdField r2[] = {{1, 2, &v2}, {2, static_cast<uint16_t>(b.size() + 1), b.c_str()}, {4, 2, &v2}};
    ASSERT_EQ(PdListAppend(old, 4, r1), 1);
    ASSERT_EQ(PdListAppend(old, 3, r2), 1);
    ASSERT_TRUE(PdListClose(old));
    PdList* list = SoftFontListOpen(kPrinter, printer_);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(SoftFontListSave(list, printer_));
    EXPECT_EQ(Entries(".PFM"), (std::vector<Entry>{{1, a, 40}, {2, b, 50}}));
    EXPECT_EQ(ReadPrinterDataBytes(printer_, "SoftFont").bytes, Bytes{});
    // Opening again moves nothing more.
    list = SoftFontListOpen(kPrinter, printer_);
    EXPECT_TRUE(SoftFontListSave(list, printer_));
    EXPECT_EQ(Entries(".PFM").size(), 2u);
}

TEST_F(FontListTest, FeedbackLooksUpRemovesAndLists) {
    const std::string soft = Font("s.pfm", 12), cart = Font("k.pcm", 34);
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, soft.c_str(), "s.sfp", 21));
    ASSERT_TRUE(PcmAddEntry(kPrinter, cart.c_str(), 9));
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, cart.c_str(), nullptr, 22));  // same path in both lists
    // Kind 0 with a cartridge's path only: the soft-font list is asked first.
    uint16_t kind = 0, value = 0;
    char path[260], second[8] = "";
    std::strcpy(path, soft.c_str());
    FontRequest look{0, 3, &kind, path, second, &value, sizeof path, sizeof second};
    EXPECT_EQ(FontFeedbackRequest(kPrinter, look, printer_), 1);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(value, 21);
    EXPECT_STREQ(second, "s.sfp");
    // A look-up on a cartridge's path: its value, and the kind becomes 2.
    ASSERT_TRUE(SoftFontDeleteEntry(kPrinter, cart.c_str(), nullptr));
    kind = 0;
    value = 0;
    std::strcpy(path, cart.c_str());
    FontRequest cartridge{0, 3, &kind, path, nullptr, &value};
    EXPECT_EQ(FontFeedbackRequest(kPrinter, cartridge, printer_), 1);
    EXPECT_EQ(kind, 2);
    EXPECT_EQ(value, 9);
    // The list: soft fonts first, then cartridges.
    void* kinds = nullptr;
    void* paths = nullptr;
    ASSERT_EQ(FontListEnumerate(kPrinter, FontListRequest{&kinds, &paths, nullptr, nullptr}, printer_), 2);
    const auto* k = static_cast<const uint16_t*>(kinds);
    EXPECT_EQ((std::vector<uint16_t>{k[0], k[1], k[2], k[3]}), (std::vector<uint16_t>{1, 0, 2, 0}));
    EXPECT_EQ(std::string(static_cast<const char*>(paths)), soft);
    FreeEnumerationBlock(kinds);
    FreeEnumerationBlock(paths);
    // Remove with kind 0 deletes the path from both lists.
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, cart.c_str(), nullptr, 22));
    kind = 0;
    FontRequest remove{0, 2, &kind, path};
    EXPECT_EQ(FontFeedbackRequest(kPrinter, remove, printer_), 1);
    EXPECT_EQ(Entries(".PCM"), std::vector<Entry>{});
    EXPECT_EQ(Entries(".PFM"), (std::vector<Entry>{{1, soft, 12}}));
    kind = 3;
    EXPECT_EQ(FontFeedbackRequest(kPrinter, remove, printer_), 0);
}

TEST_F(FontListTest, WritersInSeveralProcessesLoseNoEntry) {
    std::vector<std::string> fonts;
    for (int i = 0; i < 16; ++i) fonts.push_back(Font("p" + std::to_string(i) + ".pfm", 100 + i));
    EXPECT_TRUE(InChildren(4, [&](int c) {
        bool ok = true;
        for (int i = c; i < 16; i += 4) ok = SoftFontAddEntry(kPrinter, fonts[i].c_str(), nullptr, 1) && ok;
        return ok;
    }));
    const auto entries = Entries(".PFM");
    EXPECT_EQ(entries.size(), 16u);
    std::vector<bool> ids(17, false);
    for (const Entry& e : entries) {
        ASSERT_TRUE(e.id >= 1 && e.id <= 16);
        EXPECT_FALSE(ids[e.id]) << "id " << e.id << " given twice";
        ids[e.id] = true;
    }
    // No temporary file is left beside the list.
    for (const auto& f : std::filesystem::directory_iterator(ListFile(".PFM").parent_path())) {
        EXPECT_EQ(f.path().filename().string().find(".PFM."), std::string::npos) << f.path();
    }
}

TEST_F(FontListTest, TheIndependentDecoderReadsBothListFiles) {
    const std::string soft = Font("x.pfm", 3, 0x41), cart = Font("y.pcm", 2, 0x42);
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, soft.c_str(), "x.sfp", 0));
    ASSERT_TRUE(PcmAddEntry(kPrinter, cart.c_str(), 0));
    ASSERT_TRUE(PcmAddEntry(kPrinter, soft.c_str(), 6));
    const auto texts = testing::Decode("records", {*FileBytes(".PFM"), *FileBytes(".PCM")}, root_);
    if (!texts) GTEST_SKIP() << "python3 is not available: the decoder cannot run";
    ASSERT_EQ(texts->size(), 2u);
    EXPECT_EQ((*texts)[0], "record 1=1 2='C:\\fonts\\x.pfm' 3='x.sfp' 4=0000 5=414141\n");
    EXPECT_EQ((*texts)[1], "record 1=1 2='C:\\fonts\\y.pcm' 4=4242\nrecord 1=2 2='C:\\fonts\\x.pfm' 3=0600 4=414141\n");
}

TEST_F(FontListTest, DeletingTheListFiles) {
    ASSERT_TRUE(PcmAddEntry(kPrinter, Font("d.pcm", 5).c_str(), 0));
    EXPECT_TRUE(DeletePcmListFile(printer_));
    EXPECT_FALSE(FileBytes(".PCM"));
    EXPECT_FALSE(DeletePcmListFile(printer_));
    ASSERT_TRUE(SoftFontAddEntry(kPrinter, Font("e.pfm", 5).c_str(), nullptr, 0));
    EXPECT_TRUE(SoftFontListClear(kPrinter));
    EXPECT_EQ(FileBytes(".PFM"), Bytes{});
}

}  // namespace
}  // namespace zq
