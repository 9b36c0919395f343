// The tag tables: what an export writes for a record, that an import of it
// gives the record back, the rows with their own rules, and lists that are
// malformed or carry values the tables do not know.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "common/res_ids.h"
#include "settings/tag_tables.h"
#include "settings/font_lists.h"
#include "settings/macros.h"
#include "settings/paper_resolution.h"
#include "settings/pd_list.h"
#include "settings/user_forms.h"
#include "settings/watermarks.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "settings/tests/model_fixture.h"
#include "settings/tests/tag_list_fixture.h"
#include "testing/printer_fixture.h"

namespace zq {
namespace {

using Context = testing::TagListFixture;
using testing::Cat;
using testing::El;
using testing::V;

// A record whose resolutions are those the quality map knows.
PrivateDevmode BaseRecord() {
    PrivateDevmode r{};
    r.resolutions[0] = 1200;
    r.resolutions[1] = 600;
    r.resolutions[2] = 300;
    r.defaultResolution = 600;
    r.dm.dmPrintQuality = 600;
    r.dm.dmCopies = 1;
    return r;
}

std::vector<uint8_t> Export(PrivateDevmode& record, uint32_t scope, UINT codePage = 1252) {
    DvCfgContext ctx;
    ctx.scope = scope;
    ctx.record = &record;
    ctx.codePage = codePage;
    Context out;
    EXPECT_GE(DevmodeToTagList(ctx, &out.c), 0);
    return out.Bytes();
}

int Import(PrivateDevmode& record, const std::vector<uint8_t>& list, uint32_t scope) {
    DvCfgContext ctx;
    ctx.scope = scope;
    ctx.record = &record;
    Context in;
    EXPECT_TRUE(TagListAttach(&in.c, list.data(), list.size()));
    return ImportTagList(ctx, &in.c);
}

// Finds the value at a path of tags (every element entered in turn).
std::optional<uint32_t> ValueAt(const std::vector<uint8_t>& list, std::initializer_list<uint32_t> path) {
    Context r;
    TagListAttach(&r.c, list.data(), list.size());
    for (uint32_t want : path) {
        uint32_t tag = 0;
        bool found = false;
        while (TagEnter(&r.c, &tag)) {
            if (tag == want) {
                found = true;
                break;
            }
            TagEnd(&r.c);
        }
        if (!found) return std::nullopt;
    }
    uint32_t v = 0;
    if (TagRead(&r.c, &v, 4) != 4) return std::nullopt;
    return v;
}

TEST(TagTables, TopTableHasOneRowPerTag) {
    const auto rows = TopTagTable().rows;
    std::vector<uint32_t> tags;
    for (const DvCfgRow& r : rows) tags.push_back(r.tag);
    std::sort(tags.begin(), tags.end());
    EXPECT_EQ(std::adjacent_find(tags.begin(), tags.end()), tags.end());
}

TEST(TagTables, DriverMapsGoBothWays) {
    const std::pair<const char*, ValueMap> maps[] = {
        {"paper", PaperCodeMap()},   {"source kinds", SourceKindMap()}, {"option codes", OptionCodeMap()},
        {"selectors", SelectorMap()}, {"1079", Code1079Map()},          {"slot values", SlotValueCodeMap()},
        {"234", Code234Map()},       {"235", Code235Map()},
    };
    for (const auto& [name, map] : maps) {
        for (const ValuePair& a : map) {
            for (const ValuePair& b : map) {
                if (&a == &b) continue;
                EXPECT_NE(a.field, b.field) << name;
                EXPECT_NE(a.tag, b.tag) << name;
            }
            // List choices sit from 256 or from 0x80000001; 0 names none.
            const uint32_t t = static_cast<uint32_t>(a.tag);
            EXPECT_TRUE(t == 0 || (t >= 256 && t < 0x10000) || t > 0x80000000u) << name << " " << t;
        }
    }
    for (const OptionKind& k : OptionKindTable()) EXPECT_GE(k.tag, 256u);
    EXPECT_EQ(PaperCodeToTag(520), 0x80000009u);
    EXPECT_EQ(PaperCodeToTag(640), 0x80000081u);
    EXPECT_EQ(PaperCodeToTag(2), 0u) << "a paper the driver does not know";
}

TEST(TagTables, EdgeCasesOfSingleRows) {
    {
        PrivateDevmode r = BaseRecord();
        r.dm.dmCopies = 0;
        EXPECT_EQ(ValueAt(Export(r, 1), {18, 1}), 1u) << "copies outside the range export the default";
    }
    {
        PrivateDevmode r = BaseRecord();
        r.dm.dmPaperSize = 520;
        const auto list = Export(r, 1);
        EXPECT_EQ(ValueAt(list, {1, 1}), 0x80000009u);
        EXPECT_EQ(ValueAt(list, {1, 4}), std::nullopt);
    }
    {
        PrivateDevmode r = BaseRecord();
        r.rotated237 = 1;
        Import(r, El(11, El(3, V(5))), 1);
        EXPECT_EQ(r.rotated237, 1) << "an unknown tag value leaves the byte";
        Import(r, El(11, El(3, V(2))), 1);
        EXPECT_EQ(r.rotated237, 0);
    }
    {
        // Rows for scopes 1 and 2 follow the model's word 394.
        PrivateDevmode r = BaseRecord();
        r.accountTracking = 1;
        EXPECT_EQ(ValueAt(Export(r, 1), {75, 1}), 1u);
        EXPECT_EQ(ValueAt(Export(r, 2), {75, 1}), std::nullopt);
        r.model.flags394 = 0x4;
        EXPECT_EQ(ValueAt(Export(r, 1), {75, 1}), std::nullopt);
        EXPECT_EQ(ValueAt(Export(r, 2), {75, 1}), 1u);
    }
    {
        PrivateDevmode r = BaseRecord();
        r.cjkSwitch = 1;
        const auto list = Export(r, 1, 949);
        EXPECT_EQ(ValueAt(list, {131586, 2, 4, 1}), 13u);
        EXPECT_EQ(ValueAt(Export(r, 1, 932), {131586, 2, 1, 1}), 13u);
        EXPECT_EQ(ValueAt(Export(r, 1, 1252), {131586, 2, 2, 1}), 13u);
        PrivateDevmode other = BaseRecord();
        Import(other, list, 1);
        EXPECT_EQ(other.cjkSwitch, 1) << "imported on any system";
    }
    {
        // 400/2 and 179/1 take a 2-byte value; other leaves need 4 bytes.
        PrivateDevmode r = BaseRecord();
        Import(r, Cat({El(400, El(2, {0x34, 0x12})), El(13, El(1, {1, 0}))}), 1);
        EXPECT_EQ(r.darknessLevel, 0x34);
        EXPECT_EQ(r.dm.dmCollate, 0);
    }
    {
        // Values for bytes are taken only when they fit.
        PrivateDevmode r = BaseRecord();
        r.count460 = 7;
        Import(r, El(260, El(1, V(300))), 2);
        EXPECT_EQ(r.count460, 7);
        Import(r, El(260, El(1, V(12000))), 2);
        EXPECT_EQ(r.count460, 0) << "outside the range: the default";
        Import(r, El(260, El(1, V(200))), 2);
        EXPECT_EQ(r.count460, 200);
    }
    {
        // The adjustment level: value x 10 / 100 + 10 only where it fits.
        PrivateDevmode r = BaseRecord();
        r.adjustments[2] = 10;
        Import(r, El(354, El(65536, El(8, V(50)))), 1);
        EXPECT_EQ(r.adjustments[2], 15);
        Import(r, El(354, El(65536, El(8, V(5000)))), 1);
        EXPECT_EQ(r.adjustments[2], 15);
    }
}

// Field bytes that an export and an import carry, chosen at random among
// the values the tables know.
void RandomiseCarriedFields(PrivateDevmode& r, std::mt19937& rng) {
    auto pick = [&](std::initializer_list<int> values) {
        std::uniform_int_distribution<size_t> d(0, values.size() - 1);
        return *(values.begin() + d(rng));
    };
    r.dm.dmOrientation = static_cast<short>(pick({1, 2}));
    r.switch453 = static_cast<BYTE>(pick({0, 1}));
    r.rotated237 = static_cast<BYTE>(pick({0, 1}));
    r.dm.dmPaperSize = static_cast<short>(pick({1, 5, 9, 11, 13, 258}));
    r.dm.dmCopies = static_cast<short>(pick({1, 2, 99, 9999}));
    r.dm.dmDefaultSource = static_cast<short>(pick({7, 1, 2, 3, 4, 14, 9, 13}));
    r.switch458 = static_cast<BYTE>(pick({0, 1}));
    r.dm.dmPrintQuality = static_cast<short>(pick({-1, -2, -4, 300, 600, 1200}));
    r.dm.dmYResolution = r.dm.dmPrintQuality;
    r.resolutionFeature = static_cast<BYTE>(pick({0, 1, 4}));
    r.dm.dmDuplex = static_cast<short>(pick({1, 2, 3}));
    r.separatePages = static_cast<BYTE>(pick({0, 1}));
    r.pagesPerSheet = static_cast<BYTE>(pick({0, 3, 7}));
    r.option602 = static_cast<BYTE>(pick({0, 1}));
    r.dm.dmTTOption = static_cast<short>(pick({1, 2, 4}));
    r.switch225 = static_cast<BYTE>(pick({0, 1}));
    r.dm.dmCollate = static_cast<short>(pick({0, 1}));
    r.dm.dmICMMethod = static_cast<DWORD>(pick({1, 2}));
    r.printerLanguage = static_cast<BYTE>(pick({0, 1, 2, 4, 5, 6}));
    r.option231 = static_cast<BYTE>(pick({0, 3, 5}));
    r.darknessLevel = static_cast<BYTE>(pick({0, 77, 255}));
    r.option448 = static_cast<BYTE>(pick({0, 1, 9, 16}));
    r.switch224 = static_cast<BYTE>(pick({0, 1}));
    r.collateAllowed = static_cast<BYTE>(pick({0, 1}));
    r.switch1236 = static_cast<BYTE>(pick({0, 1}));
    r.overlaySwitch = static_cast<BYTE>(pick({0, 1}));
    r.overlayAtPageStart = static_cast<BYTE>(pick({0, 1}));
    std::strcpy(r.overlayName1, pick({0, 1}) ? "FIRST" : "");
    std::strcpy(r.overlayName2, pick({0, 1}) ? "SECOND OVERLAY" : "");
    r.pairFirst = static_cast<BYTE>(pick({0, 1, 2}));
    r.pairSecond = static_cast<BYTE>(pick({0, 1, 2, 3, 4}));
    r.printerCopies = static_cast<BYTE>(pick({0, 1, 5}));
    r.option651 = static_cast<BYTE>(pick({2, 4}));
    std::strcpy(r.pin849, pick({0, 1}) ? "1234" : "");
    r.option449 = static_cast<BYTE>(pick({0, 1, 2, 3, 4, 5, 6, 7}));
    r.option450 = static_cast<BYTE>(pick({0, 2, 4}));
    r.option1228 = static_cast<BYTE>(pick({0, 1, 2}));
    r.accountTracking = static_cast<BYTE>(pick({0, 1}));
    r.switch1237 = static_cast<BYTE>(pick({0, 1}));
    r.option653 = static_cast<BYTE>(pick({0, 1, 2}));
    r.swEnable = static_cast<BYTE>(pick({0, 1}));
    r.metaSpool = static_cast<BYTE>(pick({0, 1, 2}));
    r.switch604 = static_cast<BYTE>(pick({0, 1}));
    r.dm.dmColor = static_cast<short>(pick({1, 2}));
    r.dm.dmICMIntent = static_cast<DWORD>(pick({1, 2, 3}));
    r.option655 = static_cast<BYTE>(pick({0, 5}));
    r.options1230[0] = static_cast<BYTE>(pick({0, 3, 5}));
    r.options1230[2] = static_cast<BYTE>(pick({1, 4}));
    r.option656 = static_cast<BYTE>(pick({0, 2}));
    r.option657 = static_cast<BYTE>(pick({0, 3}));
    r.adjustSelector = static_cast<BYTE>(pick({0, 4}));
    r.adjustments[0] = static_cast<BYTE>(pick({0, 9}));
    r.adjustments[1] = static_cast<BYTE>(pick({0, 200}));
    r.adjustments[2] = static_cast<BYTE>(pick({0, 10, 30}));
    r.adjustments[6] = static_cast<BYTE>(pick({10, 5}));
    r.option1079 = static_cast<BYTE>(pick({0, 3}));
    r.option670 = static_cast<BYTE>(pick({0, 1, 3}));
    r.option1078 = static_cast<BYTE>(pick({0, 1, 2}));
    r.option1094 = static_cast<BYTE>(pick({0, 1}));
    r.option1088 = static_cast<BYTE>(pick({0, 1, 2}));
    r.reversePageOrder = static_cast<BYTE>(pick({0, 1}));
    r.switch1080 = static_cast<BYTE>(pick({0, 1}));
    r.switch1090 = static_cast<BYTE>(pick({0, 1}));
    r.option1081 = static_cast<BYTE>(pick({0, 3}));
    r.number1091 = static_cast<BYTE>(pick({1, 16, 99}));
    r.switch1234 = static_cast<BYTE>(pick({0, 1}));
    r.option1082 = static_cast<BYTE>(pick({0, 3}));
    r.switch1083 = static_cast<BYTE>(pick({0, 1}));
    r.number1084 = static_cast<DWORD>(pick({0, 65535}));
    r.switch1226 = static_cast<BYTE>(pick({0, 1}));
    r.option1240 = static_cast<BYTE>(pick({0, 200}));
    r.option1241 = static_cast<BYTE>(pick({0, 5}));
    r.options1244[0] = static_cast<BYTE>(pick({0, 1}));
    r.options1244[3] = static_cast<BYTE>(pick({0, 250}));
    r.options1244[4] = static_cast<BYTE>(pick({0, 2}));
    r.memoryMegabytes = static_cast<WORD>(pick({0, 16, 512}));
    r.duplexOptions = static_cast<BYTE>(pick({0, 3}));
    r.count460 = static_cast<BYTE>(pick({0, 255}));
    r.cjkSwitch = static_cast<BYTE>(pick({0, 1}));
}

TEST(TagTables, ExportThenImportGivesTheRecordBack) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 50; ++round) {
        for (uint16_t flags394 : {0, 4}) {
            PrivateDevmode source = BaseRecord();
            source.model.flags394 = flags394;
            RandomiseCarriedFields(source, rng);
            const auto list = Export(source, 3);
            PrivateDevmode target = BaseRecord();
            target.model.flags394 = flags394;
            ASSERT_GT(Import(target, list, 3), 0);
            // 459 folds 1-3 into 3 (one tag value for all); 824 travels only
            // in profiles.
            EXPECT_EQ(Export(target, 3), list) << "round " << round;
            PrivateDevmode expected = source;
            if (expected.duplexOptions != 0) expected.duplexOptions = 3;
            expected.dm.dmYResolution = 0;
            target.dm.dmYResolution = 0;
            const auto* a = reinterpret_cast<const uint8_t*>(&expected);
            const auto* b = reinterpret_cast<const uint8_t*>(&target);
            for (size_t i = 0; i < sizeof target; ++i) {
                EXPECT_EQ(a[i], b[i]) << "byte " << i << " round " << round;
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(TagTables, MalformedListsStopTheWalkKeepingEarlierImports) {
    const auto first = El(18, El(1, V(7)));     // copies 7
    const auto later = El(13, El(1, V(1)));     // collate on
    std::vector<uint8_t> zero = El(5, V(1));
    zero[4] = zero[5] = zero[6] = zero[7] = 0;
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"length 0", Cat({first, zero, later})},
        {"length 4", Cat({first, El(5, V(1), 4), later})},
        {"length 7", Cat({first, El(5, V(1), 7), later})},
        {"past the list", Cat({first, El(5, V(1), 1000)})},
        {"child past its parent", Cat({first, El(13, El(1, V(1), 20))})},
        {"cut head", Cat({first, std::vector<uint8_t>{13, 0, 0}})},
    };
    for (const auto& [what, list] : cases) {
        PrivateDevmode r = BaseRecord();
        Import(r, list, 1);
        EXPECT_EQ(r.dm.dmCopies, 7) << what;
        EXPECT_EQ(r.dm.dmCollate, 0) << what;
    }
    // Values the tables do not carry leave the fields alone.
    PrivateDevmode r = BaseRecord();
    r.dm.dmDuplex = 2;
    r.dm.dmDefaultSource = 7;
    Import(r, Cat({El(12, El(1, V(999))), El(2, El(1, {1, 1})), El(18, El(1, V(3)))}), 1);
    EXPECT_EQ(r.dm.dmDuplex, 2);
    EXPECT_EQ(r.dm.dmDefaultSource, 7);
    EXPECT_EQ(r.dm.dmCopies, 3);
}

TEST(TagTables, ImportOnlyTakesRowsOfItsScopeAndPass) {
    PrivateDevmode r = BaseRecord();
    r.memoryMegabytes = 8;
    // Printer rows are not imported by a document-scope walk.
    Import(r, Cat({El(259, El(1, V(64 * 1024))), El(18, El(1, V(4)))}), 1);
    EXPECT_EQ(r.memoryMegabytes, 8);
    EXPECT_EQ(r.dm.dmCopies, 4);
    Import(r, El(259, El(1, V(64 * 1024))), 2);
    EXPECT_EQ(r.memoryMegabytes, 64);
}

}  // namespace
}  // namespace zq

namespace zq {
namespace {

class ListRowsTest : public testing::StoreRoot {
protected:
    void SetUp() override {
        StoreRoot::SetUp();
        ASSERT_TRUE(testing::InstallDriver(u"Zelquor Tarn 45 PCL XL"));
        for (const char16_t* name : {u"Office", u"Fresh"}) {
            HANDLE p = testing::AddLocalPrinter(name, u"Zelquor Tarn 45 PCL XL");
            ASSERT_NE(p, nullptr);
            printers_.push_back(p);
        }
    }
    void TearDown() override {
        for (HANDLE p : printers_) ClosePrinter(p);
        StoreRoot::TearDown();
    }
    static DvCfgContext ContextFor(const char* printer, uint32_t scope, HANDLE handle, PrivateDevmode& r) {
        DvCfgContext ctx;
        ctx.scope = scope;
        ctx.record = &r;
        ctx.printerName = printer;
        ctx.printer = handle;
        return ctx;
    }
    std::vector<uint8_t> ExportFrom(const char* printer, uint32_t scope, HANDLE handle = nullptr) {
        PrivateDevmode r = BaseRecord();
        DvCfgContext ctx = ContextFor(printer, scope, handle, r);
        Context out;
        EXPECT_GE(DevmodeToTagList(ctx, &out.c), 0);
        return out.Bytes();
    }
    int ImportInto(const char* printer, const std::vector<uint8_t>& list, uint32_t scope, HANDLE handle = nullptr) {
        PrivateDevmode r = BaseRecord();
        DvCfgContext ctx = ContextFor(printer, scope, handle, r);
        Context in;
        TagListAttach(&in.c, list.data(), list.size());
        return ImportTagList(ctx, &in.c);
    }
    struct Mark {
        std::string text;
        LOGFONTA font{};
        uint32_t colour = 0;
        uint16_t fields[4] = {};
    };
    static std::vector<uint8_t> FontBytes(const LOGFONTA& f) {
        const auto* p = reinterpret_cast<const uint8_t*>(&f);
        return {p, p + sizeof f};
    }
    std::optional<Mark> Get(const char* printer, const char* name) {
        Mark m;
        char text[256] = {};
        WatermarkGetRequest q;
        q.text = text;
        q.textCapacity = sizeof text;
        q.font = reinterpret_cast<uint8_t*>(&m.font);
        q.colour = &m.colour;
        q.lighten = &m.fields[0];
        for (int i = 0; i < 3; ++i) q.placement[i] = &m.fields[i + 1];
        if (WatermarkGet(printer, 0, name, q) != 1) return std::nullopt;
        m.text = text;
        return m;
    }
    // A spooler form of the user's, sizes in thousandths of a millimetre.
    bool AddUserForm(const char16_t* name, SIZEL size, RECTL imageable) {
        FORM_INFO_1W form{};
        form.Flags = FORM_USER;
        form.pName = const_cast<LPWSTR>(name);
        form.Size = size;
        form.ImageableArea = imageable;
        return AddFormW(printers_[0], 1, reinterpret_cast<LPBYTE>(&form)) != FALSE;
    }
    // Custom-paper limits 4-8.5 by 6-14 inches as the model's first.
    static MemoryModelData ModelWithLimits() {
        MemoryModelData model;
        std::vector<uint8_t> limits;
        for (uint16_t v : {10200, 4800, 16800, 7200}) {
            limits.push_back(static_cast<uint8_t>(v));
            limits.push_back(static_cast<uint8_t>(v >> 8));
        }
        model.SetResource(res::kPaperLimits, 1, limits);
        return model;
    }
    std::vector<HANDLE> printers_;
};

TEST_F(ListRowsTest, WatermarksMoveToAFreshPrinterEqualByName) {
    LOGFONTA font{};
    font.lfHeight = -720;
    font.lfEscapement = 2700;
    font.lfOrientation = 2700;
    font.lfWeight = 700;
    font.lfItalic = 255;
    font.lfUnderline = 1;
    font.lfCharSet = 238;
    font.lfPitchAndFamily = 0x22;
    std::strcpy(font.lfFaceName, "Plain Sans");
    const auto fontBytes = FontBytes(font);
    WatermarkContent content{"DRAFT", std::span<const uint8_t, 60>(fontBytes.data(), 60), 0x123456, 40, {1, 0, 1}};
    ASSERT_TRUE(WatermarkAdd("Office", 0, "Draft", content));
    LOGFONTA plain{};
    plain.lfHeight = -400;
    plain.lfWeight = 400;
    plain.lfEscapement = plain.lfOrientation = 450;
    const auto plainBytes = FontBytes(plain);
    WatermarkContent second{"Copy", std::span<const uint8_t, 60>(plainBytes.data(), 60), 0, 0, {0, 0, 0}};
    ASSERT_TRUE(WatermarkAdd("Office", 0, "Copy", second));

    const auto list = ExportFrom("Office", kScopeWatermarks);
    EXPECT_EQ(ValueAt(list, {288, 65536, 7}), static_cast<uint32_t>(-90)) << "2700 travels as -90";
    ASSERT_GT(ImportInto("Fresh", list, kScopeWatermarks), 0);
    for (const char* name : {"Draft", "Copy"}) {
        SCOPED_TRACE(name);
        const auto a = Get("Office", name), b = Get("Fresh", name);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->text, b->text);
        EXPECT_EQ(FontBytes(a->font), FontBytes(b->font));
        EXPECT_EQ(a->colour, b->colour);
        EXPECT_EQ(std::vector<uint16_t>(a->fields, a->fields + 4), std::vector<uint16_t>(b->fields, b->fields + 4));
    }
}

TEST_F(ListRowsTest, WatermarkWeightFromChild18WinsInEitherOrder) {
    auto text = [](uint32_t tag, const std::string& s) {
        return El(tag, El(1, Cat({El(1, std::vector<uint8_t>(s.begin(), s.end())), El(2, V(0))})));
    };
    for (bool weightFirst : {true, false}) {
        const auto weight = El(18, V(600));
        const auto style = El(5, V(3));
        const auto entry = El(65536, Cat({text(1, "Mark"), text(2, "Text"), weightFirst ? weight : style,
                                          weightFirst ? style : weight, El(7, V(static_cast<uint32_t>(-90)))}));
        ASSERT_GT(ImportInto("Fresh", El(288, entry), kScopeWatermarks), 0);
        const auto m = Get("Fresh", "Mark");
        ASSERT_TRUE(m);
        EXPECT_EQ(m->font.lfWeight, 600) << weightFirst;
        EXPECT_EQ(m->font.lfItalic, 0) << weightFirst;
        EXPECT_EQ(m->font.lfEscapement, 2700);
        EXPECT_EQ(m->font.lfOrientation, 2700);
    }
}


TEST_F(ListRowsTest, OverlaysAndFontFilesMoveToAFreshPrinter) {
    ASSERT_TRUE(MacroAdd("Office", 7, "Letterhead", 3, 5));
    ASSERT_TRUE(MacroAdd("Office", 9, "Form B", 0, 4));
    ASSERT_TRUE(SoftFontAddEntry("Office", "C:\\fonts\\plain.pfm", "plain.sfp", 2));
    ASSERT_TRUE(PcmAddEntry("Office", "C:\\fonts\\cart.pcm", 5));
    const auto list = ExportFrom("Office", kScopeOverlays | kScopeFontFiles, printers_[0]);
    ASSERT_GT(ImportInto("Fresh", list, kScopeOverlays | kScopeFontFiles, printers_[1]), 0);
    auto overlays = [](const char* printer) {
        void *ids = nullptr, *names = nullptr, *types = nullptr;
        const int n = MacroEnumerate(printer, &ids, &names, &types);
        std::vector<std::string> out;
        const char* t = static_cast<const char*>(names);
        for (int i = 0; i < n; ++i) {
            MacroRequest q;
            uint16_t id = static_cast<const uint16_t*>(ids)[i], type = static_cast<const uint16_t*>(types)[i], value = 0;
            char name[64] = {};
            std::strcpy(name, t);
            q.size = sizeof q;
            q.operation = 3;
            q.id = &id;
            q.name = name;
            q.type = &type;
            q.value = &value;
            MacroFeedbackRequest(printer, q);
            out.push_back(std::string(t) + "/" + std::to_string(id) + "/" + std::to_string(type) + "/" +
                          std::to_string(value));
            t += std::strlen(t) + 1;
        }
        for (void* b : {ids, names, types}) if (b) FreeEnumerationBlock(b);
        return out;
    };
    EXPECT_EQ(overlays("Fresh"), overlays("Office"));
    EXPECT_EQ(overlays("Fresh").size(), 2u);
    auto fonts = [](const char* printer, HANDLE h) {
        void *kinds = nullptr, *paths = nullptr, *seconds = nullptr, *values = nullptr;
        FontListRequest q{&kinds, &paths, &seconds, &values};
        const int n = FontListEnumerate(printer, q, h);
        std::vector<std::string> out;
        const char* p = static_cast<const char*>(paths);
        const char* s = static_cast<const char*>(seconds);
        for (int i = 0; i < n; ++i) {
            out.push_back(std::to_string(static_cast<const uint16_t*>(kinds)[2 * i]) + "/" + p + "/" + s + "/" +
                          std::to_string(static_cast<const uint16_t*>(values)[2 * i]));
            p += std::strlen(p) + 1;
            s += std::strlen(s) + 1;
        }
        for (void* b : {kinds, paths, seconds, values}) if (b) FreeEnumerationBlock(b);
        return out;
    };
    EXPECT_EQ(fonts("Fresh", printers_[1]), fonts("Office", printers_[0]));
    EXPECT_EQ(fonts("Fresh", printers_[1]).size(), 2u);
}


TEST_F(ListRowsTest, FormsTravelByNameAndResolveToThePrintersCodes) {
    std::vector<uint8_t> block(32, 0);
    ASSERT_TRUE(UserFormAdd("Office", 512, "Card", {0, 0, 8000, 9000, block}));
    ASSERT_TRUE(UserFormAdd("Fresh", 512, "Other", {0, 0, 8000, 9000, block}));
    ASSERT_TRUE(UserFormAdd("Fresh", 513, "CARD", {0, 0, 8000, 9000, block}));
    MemoryModelData model;
    PrivateDevmode source = BaseRecord();
    source.dm.dmPaperSize = 512;
    DvCfgContext out;
    out.scope = kScopeDocument;
    out.record = &source;
    out.printerName = "Office";
    out.model = &model;
    Context list;
    ASSERT_GT(DevmodeToTagList(out, &list.c), 0);
    const auto bytes = list.Bytes();
    EXPECT_EQ(ValueAt(bytes, {1, 1}), 0x80000001u);
    EXPECT_EQ(ValueAt(bytes, {1, 4, 1, 1}), static_cast<uint32_t>('C' | 'a' << 8 | 'r' << 16 | 'd' << 24));

    PrivateDevmode target = BaseRecord();
    DvCfgContext in;
    in.scope = kScopeDocument;
    in.record = &target;
    in.printerName = "Fresh";
    in.model = &model;
    Context reader;
    TagListAttach(&reader.c, bytes.data(), bytes.size());
    ASSERT_GT(ImportTagList(in, &reader.c), 0);
    EXPECT_EQ(target.dm.dmPaperSize, 513) << "found by name, ignoring case";

    // A4 by the paper map, and a second paper named after a user-defined
    // form: forms are not kept as the second paper.
    auto text = [](const std::string& t) { return El(1, Cat({El(1, std::vector<uint8_t>(t.begin(), t.end())), El(2, V(0))})); };
    const auto a4 = El(1, El(1, V(static_cast<uint32_t>(PaperCodeToTag(9)))));
    const auto second = El(30, El(4, text("Card")));
    PrivateDevmode r = BaseRecord();
    r.secondPaper = 5;
    in.record = &r;
    in.paper[0] = in.paper[1] = {};
    const auto l = Cat({a4, second});
    Context again;
    TagListAttach(&again.c, l.data(), l.size());
    ASSERT_GT(ImportTagList(in, &again.c), 0);
    EXPECT_EQ(r.dm.dmPaperSize, 9);
    EXPECT_EQ(r.secondPaper, 0);
}


TEST_F(ListRowsTest, UserFormsMoveByNameWithinTheModelsLimits) {
    const MemoryModelData model = ModelWithLimits();
    std::vector<uint8_t> block(32, 0);
    ASSERT_TRUE(UserFormAdd("Office", 512, "Card", {0, 0, 8000, 9000, block}));
    ASSERT_TRUE(UserFormAdd("Office", 513, "Poster", {0, 0, 20000, 20000, block}));  // outside the limits
    ASSERT_TRUE(UserFormAdd("Office", 514, "Kept", {0, 0, 6000, 8000, block}));
    ASSERT_TRUE(UserFormAdd("Fresh", 512, "KEPT", {0, 0, 7000, 7500, block}));
    auto run = [&](const char* printer, const std::vector<uint8_t>* in) {
        PrivateDevmode r = BaseRecord();
        DvCfgContext ctx = ContextFor(printer, kScopeForms, nullptr, r);
        ctx.model = &model;
        Context list;
        if (in == nullptr) {
            EXPECT_GT(DevmodeToTagList(ctx, &list.c), 0);
            return list.Bytes();
        }
        TagListAttach(&list.c, in->data(), in->size());
        EXPECT_GT(ImportTagList(ctx, &list.c), 0);
        return std::vector<uint8_t>{};
    };
    const auto exported = run("Office", nullptr);
    run("Fresh", &exported);
    auto size = [](const char* printer, const char* name) -> std::optional<std::pair<uint16_t, uint16_t>> {
        const uint16_t id = UserFormIdFromName(printer, name);
        if (id == 0) return std::nullopt;
        uint16_t w[4] = {};
        UserFormGetRequest q;
        for (int i = 0; i < 4; ++i) q.words[i] = &w[i];
        if (UserFormGet(printer, id, q) != 1) return std::nullopt;
        return std::make_pair(w[2], w[3]);
    };
    EXPECT_EQ(size("Fresh", "Card"), std::make_pair(uint16_t{8000}, uint16_t{9000}));
    EXPECT_EQ(UserFormIdFromName("Fresh", "Card"), 513) << "the lowest free code";
    EXPECT_EQ(size("Fresh", "Poster"), std::nullopt);
    EXPECT_EQ(size("Fresh", "Kept"), std::make_pair(uint16_t{7000}, uint16_t{7500})) << "an existing form stays";

    // Measures in other units: 8500 thousandths at 1000 a unit is 10200;
    // unit code 35 is absent, so that form lacks its width.
    auto measure = [](uint32_t tag, uint32_t value, uint32_t upi, uint32_t unit) {
        std::vector<uint8_t> d;
        for (uint32_t w : {20u, value, 1u, upi, unit}) {
            const auto bytes = V(w);
            d.insert(d.end(), bytes.begin(), bytes.end());
        }
        return El(tag, d);
    };
    auto text = [](const std::string& t) { return El(1, El(1, Cat({El(1, std::vector<uint8_t>(t.begin(), t.end())), El(2, V(0))}))); };
    const auto list = El(9, El(65536, Cat({El(65536, Cat({text("Wide"), measure(2, 8500, 1000, 37), measure(3, 9000, 1200, 37)})),
                                           El(65536, Cat({text("Odd"), measure(2, 8000, 1200, 35), measure(3, 9000, 1200, 37)}))})));
    run("Fresh", &list);
    EXPECT_EQ(size("Fresh", "Wide"), std::make_pair(uint16_t{10200}, uint16_t{9000}));
    EXPECT_EQ(size("Fresh", "Odd"), std::nullopt);

    // With all eight codes in use a ninth form is not added.
    for (uint16_t code = 512; code < 520; ++code) {
        UserFormAdd("Office", code, "Form " + std::to_string(code), {0, 0, 8000, 9000, block});
    }
    ASSERT_EQ(UserFormIdFromName("Fresh", "Ninth"), 0);
    const auto ninth = El(9, El(65536, El(65536, Cat({text("Ninth"), measure(2, 8000, 1200, 37), measure(3, 9000, 1200, 37)}))));
    run("Office", &ninth);
    EXPECT_EQ(UserFormIdFromName("Office", "Ninth"), 0);
}


TEST_F(ListRowsTest, FittingSpoolerFormsTravelAndAreAddedByName) {
    const MemoryModelData model = ModelWithLimits();
    ASSERT_TRUE(AddUserForm(u"Office A4", {210000, 297000}, {5000, 6000, 205000, 291000}));
    PrivateDevmode r = BaseRecord();
    DvCfgContext out = ContextFor("Office", kScopeForms, printers_[0], r);
    out.model = &model;
    Context list;
    ASSERT_GT(DevmodeToTagList(out, &list.c), 0);
    const auto bytes = list.Bytes();
    EXPECT_EQ(ValueAt(bytes, {9, 131072, 131072, 3}), 9921u);
    EXPECT_EQ(ValueAt(bytes, {9, 131072, 131072, 7}), 236u);
    // Forms are the spooler's, not the printer's: take the form away and
    // bring it back from the list.
    ASSERT_TRUE(DeleteFormW(printers_[0], const_cast<LPWSTR>(u"Office A4")));
    DvCfgContext in = ContextFor("Fresh", kScopeForms, printers_[1], r);
    in.model = &model;
    Context reader;
    TagListAttach(&reader.c, bytes.data(), bytes.size());
    ASSERT_GT(ImportTagList(in, &reader.c), 0);
    const auto back = FittingSpoolerForms(printers_[1], model, r);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].name, u"Office A4");
    EXPECT_NEAR(back[0].width, 210000, 30);
    EXPECT_NEAR(back[0].imageable.left, 5000, 30);
}


// Associations travel by name: their paper by the paper map or by a form's
// name, their watermarks and overlays by the names the printer has.
class AssociationRowTest : public ListRowsTest {
protected:
    void SetUp() override {
        ListRowsTest::SetUp();
        if (HasFatalFailure()) return;
        // The automatic source's value table: slot row {7, 0} with values
        // 0 (code 0x80000001) and 3 (code 0x80000004).
        testing::Bytes slots(16);
        slots.u16(0, 1).u16(8, 7).u16(10, 0).u16(12, 5);
        model_.SetResource(res::kSlotTable, 1, slots.get());
        testing::Bytes values(20);
        values.u16(0, 2).u16(8, 0).u16(10, 1).u16(14, 3).u16(16, 4);
        model_.SetResource(res::kSlotValues, 5, values.get());
        LOGFONTA font{};
        const auto* f = reinterpret_cast<const uint8_t*>(&font);
        for (const char* printer : {"Office", "Fresh"}) {
            for (const char* mark : {"Copy", "Draft"}) {
                ASSERT_TRUE(WatermarkAdd(printer, 0, mark, {mark, std::span<const uint8_t, 60>(f, 60), 0, 0, {}}));
            }
            ASSERT_TRUE(MacroAdd(printer, 7, "Letterhead", 0, 4));
            ASSERT_TRUE(MacroAdd(printer, 8, "Terms", 0, 4));
        }
        const std::vector<uint8_t> block(32, 0);
        ASSERT_TRUE(UserFormAdd("Office", 512, "Card", {0, 0, 8000, 9000, block}));
        ASSERT_TRUE(UserFormAdd("Fresh", 512, "Other", {0, 0, 8000, 9000, block}));
        ASSERT_TRUE(UserFormAdd("Fresh", 513, "Card", {0, 0, 8000, 9000, block}));
    }
    static FormAssocRecord Assoc(const char* name, uint16_t paper, uint16_t value = 0) {
        FormAssocRecord r{};
        std::strcpy(r.name, name);
        r.paperCode = paper;
        r.sourceValue = value;
        return r;
    }
    static void Set(FormAssocText& t, const char* name, uint16_t flag) {
        std::strcpy(t.name, name);
        t.flag = flag;
    }
    std::vector<uint8_t> Export(const char* printer, HANDLE handle) {
        PrivateDevmode r = BaseRecord();
        DvCfgContext ctx = ContextFor(printer, kScopeAssociations, handle, r);
        ctx.model = &model_;
        Context out;
        EXPECT_GE(DevmodeToTagList(ctx, &out.c), 0);
        return out.Bytes();
    }
    int Import(const char* printer, HANDLE handle, const std::vector<uint8_t>& list) {
        PrivateDevmode r = BaseRecord();
        DvCfgContext ctx = ContextFor(printer, kScopeAssociations, handle, r);
        ctx.model = &model_;
        Context in;
        TagListAttach(&in.c, list.data(), list.size());
        return ImportTagList(ctx, &in.c);
    }
    // The kinds of the watermark (131072) or overlay (262144) elements of
    // the first association in the list, in order.
    static std::vector<uint32_t> Kinds(const std::vector<uint8_t>& list, uint32_t which, uint32_t kindTag) {
        Context r;
        TagListAttach(&r.c, list.data(), list.size());
        std::vector<uint32_t> kinds;
        uint32_t tag = 0;
        if (!TagEnter(&r.c, &tag) || tag != 24 || !TagEnter(&r.c, &tag)) return kinds;
        while (TagEnter(&r.c, &tag)) {
            if (tag == which) {
                uint32_t child = 0;
                while (TagEnter(&r.c, &child)) {
                    uint32_t v = 0;
                    if (child == kindTag && TagRead(&r.c, &v, 4) == 4) kinds.push_back(v);
                    TagEnd(&r.c);
                }
            }
            TagEnd(&r.c);
        }
        return kinds;
    }
    MemoryModelData model_ = ModelWithLimits();
};

TEST_F(AssociationRowTest, EqualWatermarksTravelOnceAndOverlaysCompareTheirFlags) {
    FormAssocRecord a = Assoc("Invoices", 9);
    Set(a.watermarks[0], "Copy", 1);
    Set(a.watermarks[1], "COPY", 0);
    Set(a.overlays[0], "Letterhead", 1);
    Set(a.overlays[1], "Letterhead", 0);
    ASSERT_EQ(StoreFormAssocRecord("Office", 640, &a), 1);
    const auto list = Export("Office", printers_[0]);
    EXPECT_EQ(Kinds(list, 131072, 2), std::vector<uint32_t>{50});
    EXPECT_EQ(Kinds(list, 262144, 3), (std::vector<uint32_t>{51, 52}));
    EXPECT_EQ(ValueAt(list, {24, 65536, 2}), PaperCodeToTag(9));
}

TEST_F(AssociationRowTest, AssociationsMoveToAFreshPrinterByName) {
    FormAssocRecord a = Assoc("Invoices", 9, 3);
    Set(a.watermarks[0], "Copy", 1);
    Set(a.watermarks[1], "Copy", 1);
    Set(a.overlays[0], "Letterhead", 1);
    Set(a.overlays[1], "Terms", 0);
    FormAssocRecord b = Assoc("Cards", 512);
    Set(b.watermarks[1], "Draft", 0);
    ASSERT_TRUE(AddUserForm(u"Half letter", {139700, 215900}, {0, 0, 139700, 215900}));
    const FormAssocRecord c = Assoc("Notes", 896);
    ASSERT_EQ(StoreFormAssocRecord("Office", 640, &a), 1);
    ASSERT_EQ(StoreFormAssocRecord("Office", 641, &b), 1);
    ASSERT_EQ(StoreFormAssocRecord("Office", 642, &c), 1);
    const auto list = Export("Office", printers_[0]);
    EXPECT_EQ(ValueAt(list, {24, 65536, 4}), 0x80000004u) << "the source value through the value-code table";
    ASSERT_GT(Import("Fresh", printers_[1], list), 0);

    FormAssocRecord got{};
    ASSERT_EQ(ReadFormAssocRecord("Fresh", FormAssocIdFromName("Fresh", "Invoices"), got), 1);
    EXPECT_EQ(std::memcmp(&got, &a, sizeof a), 0);
    ASSERT_EQ(ReadFormAssocRecord("Fresh", FormAssocIdFromName("Fresh", "Cards"), got), 1);
    FormAssocRecord cardsThere = b;
    cardsThere.paperCode = 513;  // the fresh printer's form of that name
    EXPECT_EQ(std::memcmp(&got, &cardsThere, sizeof b), 0);
    ASSERT_EQ(ReadFormAssocRecord("Fresh", FormAssocIdFromName("Fresh", "Notes"), got), 1);
    EXPECT_EQ(got.paperCode, 896) << "a spooler form travels by its name";
}

TEST_F(AssociationRowTest, ImportKeepsWhatThePrinterHasAndNeedsAPaper) {
    FormAssocRecord kept = Assoc("Invoices", 1);
    ASSERT_EQ(StoreFormAssocRecord("Fresh", 640, &kept), 1);
    auto text = [](uint32_t tag, const std::string& t) {
        return El(tag, El(1, Cat({El(1, std::vector<uint8_t>(t.begin(), t.end())), El(2, V(0))})));
    };
    const auto entries = Cat({
        // Same name as the printer's association: left as it is.
        El(65536, Cat({text(1, "INVOICES"), El(2, V(PaperCodeToTag(9)))})),
        // Paper named after an association: no paper, not stored.
        El(65536, Cat({text(1, "Loop"), text(5, "Invoices")})),
        // An unknown watermark and a kind outside 50-52 (absent: both sides).
        El(65536, Cat({text(1, "Memo"), El(2, V(PaperCodeToTag(5))),
                       El(131072, Cat({text(1, "Secret"), El(2, V(51)), El(3, V(26))})),
                       El(262144, Cat({text(1, "terms"), El(3, V(77)), El(4, V(26))}))})),
    });
    ASSERT_GT(Import("Fresh", printers_[1], El(24, entries)), 0);
    FormAssocRecord got{};
    ASSERT_EQ(ReadFormAssocRecord("Fresh", 640, got), 1);
    EXPECT_EQ(got.paperCode, 1);
    EXPECT_EQ(FormAssocIdFromName("Fresh", "Loop"), 0);
    ASSERT_EQ(ReadFormAssocRecord("Fresh", FormAssocIdFromName("Fresh", "Memo"), got), 1);
    EXPECT_EQ(got.paperCode, 5);
    EXPECT_STREQ(got.watermarks[0].name, "");
    EXPECT_STREQ(got.overlays[0].name, "Terms");
    EXPECT_STREQ(got.overlays[1].name, "Terms");
    EXPECT_EQ(got.overlays[1].flag, 1);
}


// Installed sources and options, and what "PrinterConfig" records of them.
class ConfigRowsTest : public ListRowsTest {
protected:
    void SetUp() override {
        ListRowsTest::SetUp();
        if (HasFatalFailure()) return;
        // Sources: automatic, tray 1 (built in, with a media slot), tray 3
        // and tray 4 (installable, with capacities) and the manual feed
        // (field 32, a single bit).
        testing::Bytes sources(8 + 5 * 24);
        sources.u16(0, 5);
        const struct { uint16_t mask, code, list; uint8_t field, kind; } entries[] = {
            {0x1, 7, 0, 0, 0}, {0x2, 1, 0, 0, 0}, {0x4, 3, 1, 2, 1}, {0x8, 257, 2, 3, 1}, {0x10, 4, 0, 32, 1}};
        for (size_t i = 0; i < std::size(entries); ++i) {
            const size_t at = 8 + 24 * i;
            sources.u16(at, entries[i].mask).u16(at + 2, entries[i].code).u16(at + 6, entries[i].list);
            sources.u8(at + 12, entries[i].field).u8(at + 13, entries[i].kind);
        }
        model_.SetResource(res::kSourceTable, 1, sources.get());
        model_.SetResource(res::kCapacityList, 1, testing::Bytes(24).u16(0, 2).u16(8, 1).u16(10, 250).u16(16, 2).u16(18, 500).get());
        model_.SetResource(res::kCapacityList, 2,
                           testing::Bytes(24).u16(0, 2).u16(8, 1).u16(10, 500).u16(16, 2).u16(18, static_cast<uint16_t>(-2000)).get());
        model_.SetResource(res::kSlotTable, 1, testing::Bytes(16).u16(0, 1).u16(8, 1).u16(10, 1).u16(12, 2).get());
        model_.SetResource(res::kSlotValues, 2, testing::Bytes(20).u16(0, 2).u16(8, 0).u16(10, 1).u16(14, 1).u16(16, 2).get());
        model_.SetResource(res::kInstallables, 1,
                           testing::Bytes(32).u16(0, 3).u16(8, 1).u16(12, 0x01).u16(16, 2).u16(20, 0x02).u16(24, 6).u16(28, 0x20).get());
    }
    PrivateDevmode Record(uint16_t modelCode) const {
        PrivateDevmode r = BaseRecord();
        r.model.modelCode = modelCode;
        r.slotSourceCodes[0] = 1;
        r.slotCodes[0] = 1;
        return r;
    }
    void SetConfig(HANDLE printer, uint32_t word1, uint32_t word2) {
        uint8_t bytes[32] = {};
        const uint32_t words[3] = {1, word1, word2};
        std::memcpy(bytes, words, sizeof words);
        ASSERT_EQ(SetPrinterDataA(printer, const_cast<LPSTR>("PrinterConfig"), REG_BINARY, bytes, 32), 0u);
    }
    std::vector<uint8_t> Config(HANDLE printer) {
        uint8_t bytes[32] = {};
        DWORD type = 0, needed = 0;
        if (GetPrinterDataA(printer, const_cast<LPSTR>("PrinterConfig"), &type, bytes, 32, &needed) != 0) return {};
        return {bytes, bytes + needed};
    }
    std::vector<uint8_t> Export(const char* printer, HANDLE handle, PrivateDevmode& r) {
        DvCfgContext ctx = ContextFor(printer, kScopePrinter, handle, r);
        ctx.model = &model_;
        Context out;
        EXPECT_GE(DevmodeToTagList(ctx, &out.c), 0);
        return out.Bytes();
    }
    int Import(const char* printer, HANDLE handle, PrivateDevmode& r, const std::vector<uint8_t>& list) {
        DvCfgContext ctx = ContextFor(printer, kScopePrinter, handle, r);
        ctx.model = &model_;
        ctx.updatePrinterData = true;
        Context in;
        TagListAttach(&in.c, list.data(), list.size());
        return ImportTagList(ctx, &in.c);
    }
    MemoryModelData model_;
};

TEST_F(ConfigRowsTest, InstalledSourcesAndTheirCapacitiesMoveToAFreshPrinter) {
    // Every combination of trays 3 and 4 and the manual feed, installed or
    // not, each installed tray with every class its capacities have.
    struct Tray { uint16_t mask; uint32_t shift; std::vector<uint32_t> classes; };
    const Tray trays[] = {{0x4, 6, {1, 2}}, {0x8, 4, {2, 3}}, {0x10, 11, {1}}};
    for (uint32_t combo = 0; combo < 36; ++combo) {
        uint32_t rest = combo;
        uint16_t mask = 0x3;
        uint32_t word1 = 0x400;  // the duplex bit, which no source changes
        for (const Tray& t : trays) {
            const uint32_t n = static_cast<uint32_t>(t.classes.size()) + 1;
            const uint32_t pick = rest % n;
            rest /= n;
            if (pick == 0) continue;
            mask = static_cast<uint16_t>(mask | t.mask);
            word1 |= t.classes[pick - 1] << t.shift;
        }
        if (rest != 0) continue;
        SCOPED_TRACE(combo);
        SetConfig(printers_[0], word1, 0x123);
        // The fresh printer differs in the fields of trays 3 and 4 and the
        // manual feed's bit.
        SetConfig(printers_[1], word1 ^ 0x8F0, 0x123);
        PrivateDevmode office = Record(12);
        office.installedSourceMask = mask;
        office.slotValues[0] = 1;
        const auto list = Export("Office", printers_[0], office);
        PrivateDevmode fresh = Record(12);
        fresh.installedSourceMask = static_cast<WORD>(~mask & 0x1F);
        ASSERT_GT(Import("Fresh", printers_[1], fresh, list), 0);
        EXPECT_EQ(fresh.installedSourceMask & 0x1E, mask & 0x1E);
        EXPECT_EQ(fresh.slotValues[0], 1);
        EXPECT_EQ(Config(printers_[1]), Config(printers_[0]));
        // Back into the printer it came from: nothing changes.
        const auto before = Config(printers_[0]);
        ASSERT_GT(Import("Office", printers_[0], office, list), 0);
        EXPECT_EQ(Config(printers_[0]), before);
        EXPECT_EQ(office.installedSourceMask, mask);
    }
    PrivateDevmode r = Record(12);
    r.installedSourceMask = 0xF;
    SetConfig(printers_[0], 3u << 4, 0);
    EXPECT_EQ(ValueAt(Export("Office", printers_[0], r), {256, 65536, 3}), std::nullopt) << "tray 1 has no capacities";
}

TEST_F(ConfigRowsTest, SourceElementsTheModelDoesNotKnowLeavePrinterConfig) {
    SetConfig(printers_[0], 0x2A5, 0x7);
    const auto before = Config(printers_[0]);
    PrivateDevmode r = Record(12);
    r.installedSourceMask = 0x3;
    uint32_t tray3 = 0;
    for (const ValuePair& p : SourceKindMap()) {
        if (p.field == 3) tray3 = static_cast<uint32_t>(p.tag);
    }
    const auto list = El(256, Cat({El(65536, Cat({El(1, V(999)), El(2, V(15))})),
                                   El(65536, Cat({El(1, V(tray3)), El(2, V(15)), El(3, V(12345))}))}));
    ASSERT_GT(Import("Office", printers_[0], r, list), 0);
    EXPECT_EQ(r.installedSourceMask, 0x7);
    EXPECT_EQ(Config(printers_[0]), before) << "a capacity the tray does not have keeps its class";
}

TEST_F(ConfigRowsTest, InstalledOptionsSurviveEveryCombinationForEachModelClass) {
    std::mt19937 rng(7);
    for (uint16_t modelCode : {11, 10, 12}) {
        for (uint32_t installed = 0; installed < 8; ++installed) {
            SCOPED_TRACE(std::to_string(modelCode) + "/" + std::to_string(installed));
            const uint16_t options = static_cast<uint16_t>((installed & 1 ? 0x01 : 0) | (installed & 2 ? 0x02 : 0) |
                                                           (installed & 4 ? 0x20 : 0));
            // Whatever the groups hold, export then import changes nothing.
            // (No source is installed, so the source fields stay clear.)
            const uint32_t word1 = static_cast<uint32_t>(rng()) & ~0x3FFFu, word2 = static_cast<uint32_t>(rng());
            SetConfig(printers_[0], word1, word2);
            PrivateDevmode office = Record(modelCode);
            office.installedOptions = static_cast<WORD>(options | 0x100);
            const auto list = Export("Office", printers_[0], office);
            const auto before = Config(printers_[0]);
            ASSERT_GT(Import("Office", printers_[0], office, list), 0);
            EXPECT_EQ(Config(printers_[0]), before);
            EXPECT_EQ(office.installedOptions, options | 0x100);
            // A fresh printer ends up with the same options and capacities.
            SetConfig(printers_[1], ~word1, ~word2);
            PrivateDevmode fresh = Record(modelCode);
            ASSERT_GT(Import("Fresh", printers_[1], fresh, list), 0);
            EXPECT_EQ(fresh.installedOptions, options);
            EXPECT_EQ(Export("Fresh", printers_[1], fresh), list);
        }
    }
}

TEST_F(ConfigRowsTest, OptionCapacityAndKindFollowTheGroups) {
    PrivateDevmode r = Record(12);
    r.installedOptions = 0x20;
    SetConfig(printers_[0], 0, 0);
    const auto stapler = [](uint32_t capacity) {
        return El(257, El(65536, Cat({El(1, V(static_cast<uint32_t>(OptionCodeMap()[5].tag))), El(2, V(15)),
                                      El(3, V(capacity))})));
    };
    ASSERT_EQ(OptionCodeMap()[5].field, 6);
    ASSERT_GT(Import("Office", printers_[0], r, stapler(500)), 0);
    const auto list = Export("Office", printers_[0], r);
    Context reader;
    TagListAttach(&reader.c, list.data(), list.size());
    std::vector<std::pair<uint32_t, uint32_t>> got;  // option tag, capacity
    uint32_t tag = 0;
    while (TagEnter(&reader.c, &tag) && tag != 257) TagEnd(&reader.c);
    ASSERT_EQ(tag, 257u);
    while (TagEnter(&reader.c, &tag)) {
        uint32_t child = 0, option = 0, capacity = 99, kind = 0;
        while (TagEnter(&reader.c, &child)) {
            uint32_t v = 0;
            TagRead(&reader.c, &v, 4);
            if (child == 1) option = v;
            if (child == 3) capacity = v;
            if (child == 4) kind = v;
            TagEnd(&reader.c);
        }
        got.emplace_back(option, capacity);
        if (option == static_cast<uint32_t>(OptionCodeMap()[5].tag)) {
            EXPECT_EQ(kind, OptionKindTable()[5].tag) << "the kind of mask 0x20";
        }
        TagEnd(&reader.c);
    }
    EXPECT_EQ(got.size(), 3u);
    EXPECT_EQ(got.back().second, 500u);
    ASSERT_GT(Import("Office", printers_[0], r, stapler(0)), 0);
    const auto cleared = Config(printers_[0]);
    EXPECT_EQ(std::vector<uint8_t>(cleared.begin() + 4, cleared.end()), std::vector<uint8_t>(28, 0));
}

}  // namespace
}  // namespace zq
