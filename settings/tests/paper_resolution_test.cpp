// Paper resolution: which spooler forms fit a model and the codes they
// get, their sizes and areas, the paper record of a code, a printer's whole
// paper list and the fields of "PrinterConfig".
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/locale.h"
#include "base/memory.h"
#include "common/res_ids.h"
#include "settings/paper_resolution.h"
#include "settings/user_forms.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace zq {
namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

class PaperTest : public testing::StoreRoot {
protected:
    void SetUp() override {
        StoreRoot::SetUp();
        ASSERT_TRUE(testing::InstallDriver(u"Zelquor Tarn 45 PCL XL"));
        printer_ = testing::AddLocalPrinter(u"Office", u"Zelquor Tarn 45 PCL XL");
        ASSERT_NE(printer_, nullptr);
        // Limits 3: width 4-8.5 inches, length 6-14 inches.
        std::vector<uint8_t> limits;
        for (uint16_t v : {10200, 4800, 16800, 7200}) Put16(limits, v);
        model_.SetResource(res::kPaperLimits, 3, limits);
        record_.model.paperLimitsId = 2;
        // Row 0: Letter (0x1) on geometry rows 0/1 and the form entry on 2/3.
        std::vector<uint8_t> row;
        Put16(row, 2);
        Put16(row, 0);
        Put32(row, 0x1);
        for (uint16_t g : {0, 1, 0, 1}) Put16(row, g);
        Put32(row, 0x80000000u);
        for (uint16_t g : {2, 3, 2, 3}) Put16(row, g);
        row.resize(292);
        model_.SetResource(res::kModelPaperTable, 1, row);
        std::vector<uint8_t> geometry;
        const uint16_t rows[4][13] = {
            {10200, 13200, 9600, 12672, 300, 300, 5760, 7603, 7, 200, 200, 9800, 12800},
            {13200, 10200, 12704, 9792, 240, 200, 7622, 5875, 7, 200, 200, 12800, 9800},
            {10200, 16800, 9600, 16288, 300, 300, 0, 0, 11, 0, 0, 0, 0},
            {16800, 10200, 16320, 9792, 240, 200, 0, 0, 11, 0, 0, 0, 0},
        };
        for (const auto& r : rows) {
            for (uint16_t w : r) Put16(geometry, w);
        }
        model_.SetResource(res::kPaperGeometry, 1, geometry);
    }
    void TearDown() override {
        ClosePrinter(printer_);
        StoreRoot::TearDown();
    }
    bool AddForm(const char16_t* name, DWORD flags, LONG w, LONG l) {
        FORM_INFO_1W f{};
        f.Flags = flags;
        f.pName = const_cast<LPWSTR>(name);
        f.Size = {w, l};
        f.ImageableArea = {0, 0, w, l};
        return AddFormW(printer_, 1, reinterpret_cast<LPBYTE>(&f)) != FALSE;
    }
    HANDLE printer_ = nullptr;
    MemoryModelData model_;
    PrivateDevmode record_{};
};

TEST_F(PaperTest, OnlyUserFormsWithinTheLimitsFitAndAreCodedInOrder) {
    void *codes = nullptr, *sizes = nullptr, *names = nullptr;
    EXPECT_EQ(EnumModelForms(printer_, model_, record_, &codes, &sizes, &names), 0);
    EXPECT_EQ(codes, nullptr);
    EXPECT_EQ(sizes, nullptr);
    EXPECT_EQ(names, nullptr);

    ASSERT_TRUE(AddForm(u"Square", FORM_USER, 100000, 100000));   // too narrow and short
    ASSERT_TRUE(AddForm(u"My A4", FORM_USER, 210000, 297000));
    ASSERT_TRUE(AddForm(u"Letter Plus", FORM_USER, 215900, 279400));
    const auto fitting = FittingSpoolerForms(printer_, model_, record_);
    ASSERT_EQ(fitting.size(), 2u);
    EXPECT_EQ(fitting[0].code, 896);
    EXPECT_EQ(fitting[0].name, u"My A4");
    EXPECT_EQ(fitting[1].code, 897);

    ASSERT_EQ(EnumModelForms(printer_, model_, record_, &codes, &sizes, &names), 2);
    const auto* c = static_cast<const uint16_t*>(codes);
    EXPECT_EQ((std::vector<uint16_t>{c[0], c[1], c[2]}), (std::vector<uint16_t>{896, 897, 0}));
    const auto* s = static_cast<const int32_t*>(sizes);
    EXPECT_EQ((std::vector<int32_t>{s[0], s[1], s[2], s[3], s[4], s[5]}),
              (std::vector<int32_t>{2100, 2970, 2159, 2794, 0, 0}));
    EXPECT_EQ(std::string(static_cast<const char*>(names), 19), std::string("My A4\0Letter Plus\0\0", 19));
    for (void* b : {codes, sizes, names}) {
        GlobalUnlock(GlobalHandle(b));
        GlobalFree(GlobalHandle(b));
    }

    // Without limits nothing fits.
    record_.model.paperLimitsId = 7;
    EXPECT_TRUE(FittingSpoolerForms(printer_, model_, record_).empty());
}

TEST_F(PaperTest, SpoolerFormGeometryKeepsTheReferenceMargins) {
    ASSERT_TRUE(AddForm(u"Letter Plus", FORM_USER, 215900, 279400));
    uint16_t paper = 0, printerCode = 9, width = 0, length = 0;
    PaperArea areas[4] = {};
    ASSERT_EQ(GetSpoolerFormGeometry(printer_, model_, record_, 896, paper, printerCode, width, length, 0, areas), 1);
    EXPECT_EQ(paper, 768);
    EXPECT_EQ(printerCode, 0);
    EXPECT_EQ(width, 10200);
    EXPECT_EQ(length, 13200);
    EXPECT_EQ((std::vector<uint16_t>{areas[0].printableWidth, areas[0].printableLength, areas[0].horizontalOffset,
                                     areas[0].verticalOffset}),
              (std::vector<uint16_t>{9600, 12688, 300, 300}));
    EXPECT_EQ((std::vector<uint16_t>{areas[1].printableWidth, areas[1].printableLength, areas[1].horizontalOffset,
                                     areas[1].verticalOffset}),
              (std::vector<uint16_t>{12720, 9792, 240, 200}));
    EXPECT_EQ(GetSpoolerFormGeometry(printer_, model_, record_, 897, paper, printerCode, width, length, 0, areas), 0);
    EXPECT_EQ(GetSpoolerFormGeometry(printer_, model_, record_, 895, paper, printerCode, width, length, 0, areas), 0);
}

TEST_F(PaperTest, PaperRecordOfACode) {
    PaperRecord r{};
    std::strcpy(r.name, "kept");
    ASSERT_EQ(BuildPaperNameRecord("Office", model_, 0, 1, r, 0), 1);
    EXPECT_EQ(r.paperCode, 1);
    EXPECT_EQ(r.printerCode, 7);
    EXPECT_EQ(r.width, 10200);
    EXPECT_EQ(r.areas[1].printableWidth, 12704);

    // The form entry's printer code has bit 12 outside the US only.
    LocaleSettings s = CurrentLocaleSettings();
    for (const auto& [country, bit] : {std::pair{49, 0x1000}, std::pair{1, 0}}) {
        s.country = country;
        ScopedLocaleSettings scoped(s);
        ASSERT_EQ(BuildPaperNameRecord("Office", model_, 0, 768, r, 0), 1);
        EXPECT_EQ(r.printerCode, 11 | bit) << country;
    }

    // A code the driver does not know, or the row lacks, leaves the record.
    const PaperRecord before = r;
    EXPECT_EQ(BuildPaperNameRecord("Office", model_, 0, 2, r, 0), 0);
    EXPECT_EQ(BuildPaperNameRecord("Office", model_, 0, 5, r, 0), 0);
    EXPECT_EQ(std::memcmp(&before, &r, sizeof r), 0);

    // A user-defined form is its own record.
    std::vector<uint8_t> block(32, 0x11);
    UserFormValues v{600, 0x1000, 8000, 9000, block};
    ASSERT_TRUE(UserFormAdd("Office", 512, "Card", v));
    ASSERT_EQ(BuildPaperNameRecord("Office", model_, 0, 512, r, 0), 1);
    EXPECT_STREQ(r.name, "Card");
    EXPECT_EQ(r.width, 8000);
    EXPECT_EQ(r.areas[3].verticalOffset, 0x1111);
}

TEST_F(PaperTest, PrinterPapersListFormsAssociationsAndFittingSpoolerForms) {
    std::vector<uint8_t> block(32, 0);
    ASSERT_TRUE(UserFormAdd("Office", 512, "Card", {0, 0, 8000, 9000, block}));
    FormAssocValues assoc;
    assoc.value3 = 9;
    ASSERT_TRUE(FormAssocAdd("Office", 640, "Invoices", assoc));
    ASSERT_TRUE(AddForm(u"My A4", FORM_USER, 210000, 297000));
    const auto papers = EnumeratePrinterPapers("Office", printer_, model_, record_, 64);
    std::vector<std::pair<uint16_t, std::string>> tail;
    for (const auto& p : papers) {
        if (p.code >= 512) tail.emplace_back(p.code, p.name);
    }
    EXPECT_EQ(tail, (std::vector<std::pair<uint16_t, std::string>>{{512, "Card"}, {640, "Invoices"}, {896, "My A4"}}));
    EXPECT_EQ(FindPaperByName(papers, "my a4"), 896);
    EXPECT_EQ(FindPaperByName(papers, "none"), std::nullopt);
    EXPECT_EQ(EnumeratePrinterPapers("Office", printer_, model_, record_, 1).size(), 1u) << "bounded by the capacity";
}

TEST_F(PaperTest, PrinterConfigFields) {
    uint8_t record[32] = {};
    const uint8_t two = 2;
    EXPECT_EQ(SetPrinterConfigField(1, false, 1, 1, 0, &two, record), 1);
    EXPECT_EQ(SetPrinterConfigField(1, true, 1, 5, 3, nullptr, record), 1);
    EXPECT_EQ(SetPrinterConfigField(1, true, 3, 0, 0, nullptr, record), 1);
    EXPECT_EQ(SetPrinterConfigField(1, true, 1, 6, 3, nullptr, record), 0);
    EXPECT_EQ(SetPrinterConfigField(1, true, 2, 1, 3, nullptr, record), 0);
    uint32_t word = 0, first = 0;
    std::memcpy(&first, record, 4);
    std::memcpy(&word, record + 4, 4);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(word, (2u << 8) | 3u | (1u << 10));
    ASSERT_EQ(SetPrinterDataA(printer_, const_cast<LPSTR>("PrinterConfig"), 3, record, 32), 0u);
    uint16_t v = 9;
    EXPECT_EQ(GetPrinterConfigField(printer_, 9, v), 1);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(GetPrinterConfigField(printer_, 13, v), 1);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(GetPrinterConfigField(printer_, 14, v), 0);
    EXPECT_EQ(v, 0);
    // A damaged record reads as zeros and stays as it is.
    uint8_t shortRecord[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(SetPrinterDataA(printer_, const_cast<LPSTR>("PrinterConfig"), 3, shortRecord, 5), 0u);
    EXPECT_EQ(GetPrinterConfigField(printer_, 9, v), 1);
    EXPECT_EQ(v, 0);
    DWORD type = 0, needed = 0;
    uint8_t back[32];
    EXPECT_EQ(GetPrinterDataA(printer_, const_cast<LPSTR>("PrinterConfig"), &type, back, 32, &needed), 0u);
    EXPECT_EQ(needed, 5u);
}


TEST_F(PaperTest, FormCodesResolveToTheirPaper) {
    std::vector<uint8_t> block(32, 7);
    ASSERT_TRUE(UserFormAdd("Office", 512, "Card", {0, 0, 8000, 9000, block}));
    FormAssocValues onCard, onLetter, onNothing;
    onCard.value3 = 512;
    onLetter.value3 = 1;
    // Fields 10-12 hold an overlay's name and flag: never a size.
    onLetter.texts[2] = "Overlay";
    onLetter.words[2] = 1;
    ASSERT_TRUE(FormAssocAdd("Office", 640, "On card", onCard));
    ASSERT_TRUE(FormAssocAdd("Office", 641, "On letter", onLetter));
    ASSERT_TRUE(FormAssocAdd("Office", 642, "On nothing", onNothing));
    ASSERT_TRUE(AddForm(u"My A4", FORM_USER, 210000, 297000));
    struct Case {
        uint16_t code;
        std::optional<std::pair<uint16_t, uint16_t>> size;
    };
    const Case cases[] = {
        {512, std::pair<uint16_t, uint16_t>{8000, 9000}},
        {513, std::nullopt},
        {640, std::pair<uint16_t, uint16_t>{8000, 9000}},
        {641, std::pair<uint16_t, uint16_t>{10200, 13200}},
        {642, std::nullopt},
        {896, std::pair<uint16_t, uint16_t>{9921, 14031}},
        {897, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto found = FindPaperByCode("Office", printer_, model_, record_, c.code);
        ASSERT_EQ(found.has_value(), c.size.has_value()) << c.code;
        if (found) {
            EXPECT_EQ(std::make_pair(found->width, found->length), *c.size) << c.code;
        }
    }
    const MergeEnvironment env = PrinterFormEnvironment("Office", printer_, model_, record_);
    EXPECT_TRUE(env.acceptForm(512));
    EXPECT_TRUE(env.acceptForm(896));
    EXPECT_FALSE(env.acceptForm(513));
    EXPECT_FALSE(env.acceptForm(9));
}


TEST_F(PaperTest, PaperAndAssociationRecordsAreStoredAndReportTheOutcome) {
    // A paper record becomes a user-defined form: name, the four words and
    // the area block, read back through the form's own record.
    PaperRecord paper{};
    std::strcpy(paper.name, "Postcard");
    paper.paperCode = 768;
    paper.printerCode = 0x1000 | 11;
    paper.width = 5000;
    paper.length = 7000;
    paper.areas[2] = {4600, 6600, 200, 200};
    ASSERT_EQ(StoreUserFormFromPaperRecord("Office", 513, &paper), 1);
    PaperRecord back{};
    ASSERT_EQ(BuildPaperNameRecord("Office", model_, 0, 513, back, 0), 1);
    EXPECT_EQ(std::memcmp(&back, &paper, sizeof paper), 0);
    PaperRecord unnamed = paper;
    unnamed.name[0] = '\0';
    EXPECT_EQ(StoreUserFormFromPaperRecord("Office", 514, &unnamed), 0) << "a form needs a name";
    EXPECT_EQ(StoreUserFormFromPaperRecord("Office", 513, nullptr), 1);
    EXPECT_EQ(StoreUserFormFromPaperRecord("Office", 513, nullptr), 0) << "nothing left to delete";
    EXPECT_EQ(UserFormIdFromName("Office", "Postcard"), 0);

    // The association record's twelve fields travel unchanged.
    FormAssocRecord assoc{};
    std::strcpy(assoc.name, "Invoices");
    assoc.paperCode = 9;
    assoc.sourceValue = 2;
    std::strcpy(assoc.overlays[0].name, "Letterhead");
    assoc.overlays[0].flag = 1;
    std::strcpy(assoc.overlays[1].name, "Back page");
    std::strcpy(assoc.watermarks[0].name, "Copy");
    assoc.watermarks[1].flag = 1;
    ASSERT_EQ(StoreFormAssocRecord("Office", 0, &assoc), 1) << "code 0 takes the lowest free one";
    FormAssocRecord read;
    std::memset(&read, 0x5A, sizeof read);
    ASSERT_EQ(ReadFormAssocRecord("Office", 640, read), 1);
    EXPECT_EQ(std::memcmp(&read, &assoc, sizeof assoc), 0);
    std::memset(&read, 0x5A, sizeof read);
    EXPECT_EQ(ReadFormAssocRecord("Office", 641, read), 0);
    const FormAssocRecord zero{};
    EXPECT_EQ(std::memcmp(&read, &zero, sizeof read), 0) << "a missing association reads as zeros";
    FormAssocRecord unnamedAssoc = assoc;
    unnamedAssoc.name[0] = '\0';
    EXPECT_EQ(StoreFormAssocRecord("Office", 641, &unnamedAssoc), 0);
    EXPECT_EQ(StoreFormAssocRecord("Office", 640, nullptr), 1);
    EXPECT_EQ(StoreFormAssocRecord("Office", 640, nullptr), 0);
    EXPECT_EQ(StoreFormAssocRecord("Office", 0, nullptr), 0) << "code 0 deletes nothing";
}

}  // namespace
}  // namespace zq
