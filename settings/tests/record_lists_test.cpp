// Record lists in printer data: the stored bytes, the cursor rules, damaged
// values, and the watermark, form, association and overlay lists on top.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "settings/macros.h"
#include "settings/pd_list.h"
#include "settings/printer_data_values.h"
#include "settings/user_forms.h"
#include "settings/watermarks.h"
#include "store/spooler.h"
#include "settings/tests/decoder.h"
#include "settings/tests/office_printer.h"

namespace zq {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr char kPrinter[] = "Office";

LPSTR A(const char* s) { return const_cast<LPSTR>(s); }

// A record written by hand: {key, data} fields, spare bytes 0.
Bytes Record(std::initializer_list<std::pair<uint16_t, Bytes>> fields) {
    Bytes r{0, 0};
    for (const auto& [key, data] : fields) {
        const size_t len = data.size() + 5;
        r.insert(r.end(), {uint8_t(key), uint8_t(key >> 8), uint8_t(len), uint8_t(len >> 8)});
        r.insert(r.end(), data.begin(), data.end());
        r.push_back(0);
    }
    r.insert(r.end(), {0, 0, 5, 0, 0});
    r[0] = uint8_t(r.size());
    r[1] = uint8_t(r.size() >> 8);
    return r;
}
Bytes W(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes T(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

class RecordListTest : public testing::OfficePrinter {
protected:
    std::optional<Bytes> Stored(const char* value) {
        const PrinterDataBytes v = ReadPrinterDataBytes(printer_, value);
        if (v.status != ValueRead::Ok) return std::nullopt;
        return v.bytes;
    }
    void Store(const char* value, const Bytes& bytes) {
        Bytes copy = bytes;
        uint8_t none = 0;
        ASSERT_EQ(SetPrinterDataA(printer_, A(value), kRegBinary, copy.empty() ? &none : copy.data(),
                                  static_cast<DWORD>(copy.size())),
                  0u);
    }
    // Ids of the records in list order (0 for a record without one).
    std::vector<uint16_t> Ids(const char* value) {
        std::vector<uint16_t> ids;
        PdListHolder list(PdListOpen(kPrinter, value));
        if (PdListFirst(list.get())) {
            do ids.push_back(PdFieldWord(list.get(), kPdIdKey).value_or(0));
            while (PdListNext(list.get()));
        }
        return ids;
    }
};

TEST_F(RecordListTest, AppendingOneWordToAnEmptyListStoresFourteenBytes) {
    PdList* list = PdListOpen(kPrinter, "Test");
    ASSERT_NE(list, nullptr);
    const uint16_t id = 0x1234;
    const PdField f{1, 2, &id};
    ASSERT_EQ(PdListAppend(list, 1, &f), 1);
    EXPECT_EQ(PdListClose(list), TRUE);
    EXPECT_EQ(Stored("Test"), (Bytes{0x0E, 0, 1, 0, 7, 0, 0x34, 0x12, 0, 0, 0, 5, 0, 0}));
}

TEST_F(RecordListTest, CursorAndWriteBackRules) {
    const Bytes a = Record({{1, W(1)}, {2, T("a")}});
    const Bytes b = Record({{2, T("b")}, {1, W(2)}});  // fields in another order
    const Bytes c = Record({{1, W(3)}});
    struct Case {
        const char* what;
        std::optional<Bytes> before;
        void (*act)(PdList*);
        std::optional<Bytes> after;
    };
    const Case cases[] = {
        {"missing value, no change", std::nullopt,
         [](PdList* l) {
             EXPECT_EQ(PdListFirst(l), 0);
             const uint8_t* p = reinterpret_cast<const uint8_t*>(1);
             EXPECT_EQ(PdListGetField(l, 1, &p), 0);
             EXPECT_EQ(p, nullptr);
         },
         std::nullopt},
        {"deleting the only record", a, [](PdList* l) { PdListDeleteCurrent(l); }, Bytes{}},
        {"clearing an empty list", std::nullopt, [](PdList* l) { PdListClear(l); }, std::nullopt},
        {"clearing a list", Cat({a, b}), [](PdList* l) { PdListClear(l); }, Bytes{}},
        {"cursor after a delete", Cat({a, b, c}),
         [](PdList* l) {
             PdListFirst(l);
             PdListDeleteCurrent(l);
             EXPECT_EQ(PdFieldWord(l, 1), 2);  // the former second record
             EXPECT_EQ(PdFieldText(l, 2), "b");
         },
         Cat({b, c})},
        {"next on the last record", Cat({a, b}),
         [](PdList* l) {
             PdListFirst(l);
             EXPECT_EQ(PdListNext(l), 1);
             EXPECT_EQ(PdListNext(l), 0);
             const uint8_t* p = nullptr;
             EXPECT_EQ(PdListGetField(l, 1, &p), 0);
             EXPECT_EQ(PdListNext(l), 0);
         },
         Cat({a, b})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeletePrinterDataA(printer_, A("Test"));
        if (c.before) Store("Test", *c.before);
        PdList* list = PdListOpen(kPrinter, "Test");
        ASSERT_NE(list, nullptr);
        c.act(list);
        EXPECT_EQ(PdListClose(list), TRUE);
        EXPECT_EQ(Stored("Test"), c.after);
    }
}

TEST_F(RecordListTest, DamagedValuesOpenToTheirSoundPrefixAndStayStored) {
    const Bytes good = Record({{1, W(1)}, {2, T("one")}});
    Bytes zeroLength = Record({{1, W(2)}});
    zeroLength[0] = 0;
    Bytes shortRecord = Record({{1, W(2)}});
    shortRecord[0] = 6;
    Bytes shortField = Record({{1, W(2)}});
    shortField[4] = 4;
    Bytes pastEnd = Record({{1, W(2)}});
    pastEnd[0] = 0xF0;
    Bytes fieldPastRecord = Record({{1, W(2)}});
    fieldPastRecord[4] = 0x40;
    Bytes noTerminator = Record({{1, W(2)}});
    noTerminator[9] = 9;  // terminator key
    struct Case {
        const char* what;
        Bytes tail;
    };
    const Case cases[] = {{"record length 0", zeroLength},       {"record length below 7", shortRecord},
                          {"field length below 5", shortField},  {"record past the end", pastEnd},
                          {"field past its record", fieldPastRecord}, {"no terminator", noTerminator},
                          {"a lone byte", Bytes{7}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes value = Cat({good, c.tail, good});
        Store("Test", value);
        PdList* list = PdListOpen(kPrinter, "Test");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->block.size(), good.size());
        EXPECT_EQ(list->damagedBytes, value.size() - good.size());
        int records = 0;
        if (PdListFirst(list)) {
            do ++records;
            while (PdListNext(list) && records < 10);
        }
        EXPECT_EQ(records, 1);
        EXPECT_EQ(PdListClose(list), TRUE);
        EXPECT_EQ(Stored("Test"), value);  // nothing written on a read
    }
}

TEST_F(RecordListTest, FreeIdsScanEveryRecordAndIgnoreIdsOutOfRange) {
    // A record without an id, then id 1, and ids of 32768 and 65535.
    Store(kWatermarkListValue, Cat({Record({{2, T("no id")}}), Record({{1, W(1)}, {2, T("one")}}),
                                    Record({{1, W(0x8000)}}), Record({{1, W(0xFFFF)}}), Record({{1, W(2)}})}));
    EXPECT_EQ(WatermarkFindFreeId(kPrinter), 3);
    Store(kUserFormListValue, Cat({Record({{2, T("x")}}), Record({{1, W(512)}}), Record({{1, W(513)}})}));
    EXPECT_EQ(UserFormFindFreeId(kPrinter), 514);
    Store(kMacroListValue, Cat({Record({{2, T("x")}}), Record({{1, W(1)}, {2, T("a")}})}));
    EXPECT_EQ(MacroFindFreeId(kPrinter, 0, nullptr, 0), 2);
}

TEST_F(RecordListTest, RecordsOver65535BytesAreRefused) {
    PdList* list = PdListOpen(kPrinter, "Test");
    const std::vector<uint8_t> big(65530 - 5, 1);
    const std::vector<uint8_t> fits(65535 - 7 - 5, 1);
    const PdField tooBig[] = {{1, 2, "\1\0"}, {5, static_cast<uint16_t>(big.size()), big.data()}};
    EXPECT_EQ(PdListAppend(list, 2, tooBig), 0);
    EXPECT_FALSE(list->changed);
    const PdField justFits{5, static_cast<uint16_t>(fits.size()), fits.data()};
    EXPECT_EQ(PdListAppend(list, 1, &justFits), 1);
    EXPECT_EQ(list->block.size(), 65535u);
    PdListDiscard(list);
}

// A watermark with its font named after `face`.
struct Font {
    uint8_t bytes[kLogFontSize] = {};
    explicit Font(const char* face) { std::strncpy(reinterpret_cast<char*>(bytes + 28), face, 31); }
};

BOOL AddWatermark(uint16_t id, const char* name, const char* text) {
    static const Font font("Arial");
    WatermarkContent c{text, font.bytes};
    c.colour = 0x00FF00;
    c.lighten = 30;
    c.placement[0] = 7;
    return WatermarkAdd(kPrinter, id, name, c);
}

TEST_F(RecordListTest, WatermarkEdgeCases) {
    ASSERT_TRUE(AddWatermark(1, "One", "ONE"));
    ASSERT_TRUE(AddWatermark(2, "Two", "TWO"));
    ASSERT_TRUE(AddWatermark(4, "Four", "FOUR"));
    EXPECT_EQ(Ids(kWatermarkListValue), (std::vector<uint16_t>{1, 2, 4}));
    // Id 0 among 1, 2, 4 takes 3.
    ASSERT_TRUE(AddWatermark(0, "Three", "THREE"));
    EXPECT_EQ(WatermarkIdFromName(kPrinter, "three"), 3);
    // The same name under another id replaces that record.
    ASSERT_TRUE(AddWatermark(9, "TWO", "again"));
    EXPECT_EQ(Ids(kWatermarkListValue), (std::vector<uint16_t>{1, 4, 3, 9}));
    // Get by name alone with id -1 or 0; the text is cut to its buffer.
    for (int id : {-1, 0}) {
        char text[4] = "zzz";
        uint32_t colour = 0;
        uint16_t placement = 0;
        WatermarkGetRequest r;
        r.text = text;
        r.textCapacity = sizeof text;
        r.colour = &colour;
        r.placement[0] = &placement;
        EXPECT_EQ(WatermarkGet(kPrinter, id, "four", r), 1);
        EXPECT_STREQ(text, "FOU");
        EXPECT_EQ(colour, 0x00FF00u);
        EXPECT_EQ(placement, 7);
    }
    // Name from id with a 5-character buffer.
    ASSERT_TRUE(AddWatermark(12, "Confidential", "C"));
    char name[5] = "????";
    EXPECT_EQ(WatermarkNameFromId(kPrinter, 12, name, sizeof name), 12u);
    EXPECT_STREQ(name, "Conf");
    // Set: nothing asked gives 0 and changes nothing; a delete answers 1.
    EXPECT_EQ(WatermarkSet(kPrinter, 0, "", "", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(WatermarkSet(kPrinter, 12, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(WatermarkSet(kPrinter, 12, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    // Enumeration blocks: ids ended by 0, names ended by an empty name.
    void* ids = nullptr;
    void* names = nullptr;
    ASSERT_EQ(WatermarkEnumerate(kPrinter, &ids, &names), 4);
    const auto* w = static_cast<const uint16_t*>(ids);
    EXPECT_EQ((std::vector<uint16_t>{w[0], w[1], w[2], w[3], w[4]}), (std::vector<uint16_t>{1, 4, 3, 9, 0}));
    EXPECT_EQ(std::string(static_cast<const char*>(names), 25), std::string("One\0Four\0Three\0TWO\0\0\0\0\0\0\0", 25));
    FreeEnumerationBlock(ids);
    FreeEnumerationBlock(names);
}

TEST_F(RecordListTest, UserFormEdgeCases) {
    const uint8_t block[3] = {1, 2, 3};
    UserFormValues letter{0, 0, 10200, 13200, block};
    ASSERT_TRUE(UserFormAdd(kPrinter, 512, "Letter copy", letter));
    ASSERT_TRUE(UserFormAdd(kPrinter, 514, "Other", letter));
    ASSERT_TRUE(UserFormAdd(kPrinter, 0, "Between", letter));
    EXPECT_EQ(UserFormIdFromName(kPrinter, "between"), 513);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(UserFormAdd(kPrinter, 0, ("F" + std::to_string(i)).c_str(), letter));
    EXPECT_FALSE(UserFormAdd(kPrinter, 0, "Ninth", letter));
    EXPECT_EQ(UserFormSet(kPrinter, 0, "Ninth", letter), 0);
    EXPECT_EQ(Ids(kUserFormListValue).size(), 8u);
    EXPECT_FALSE(UserFormAdd(kPrinter, 520, "Out of range", letter));
    void* sizes = nullptr;
    ASSERT_EQ(UserFormEnumerate(kPrinter, nullptr, nullptr, &sizes), 8);
    const auto* s = static_cast<const int32_t*>(sizes);
    EXPECT_EQ(s[0], 2159);
    EXPECT_EQ(s[1], 2794);
    EXPECT_EQ(s[16], 0);
    EXPECT_EQ(s[17], 0);
    FreeEnumerationBlock(sizes);
    // Get: the name cut to the caller's capacity, the block to its length.
    char name[6];
    uint8_t got[2] = {};
    uint16_t width = 0;
    UserFormGetRequest r;
    r.name = name;
    r.nameCapacity = sizeof name;
    r.words[2] = &width;
    r.block = got;
    r.blockLength = sizeof got;
    EXPECT_EQ(UserFormGet(kPrinter, 512, r), 1);
    EXPECT_STREQ(name, "Lette");
    EXPECT_EQ(width, 10200);
    EXPECT_EQ(got[1], 2);
}

TEST_F(RecordListTest, FormAssociations) {
    FormAssocValues v;
    v.texts = {"wm", "", "overlay", "x"};
    v.words = {1, 2, 3, 4};
    ASSERT_TRUE(FormAssocAdd(kPrinter, 0, "Invoice", v));
    ASSERT_TRUE(FormAssocAdd(kPrinter, 0, "Memo", v));
    EXPECT_EQ(Ids(kFormAssocListValue), (std::vector<uint16_t>{640, 641}));
    char texts[4][4];
    uint16_t words[4] = {};
    FormAssocGetRequest r;
    for (int i = 0; i < 4; ++i) {
        r.texts[i] = texts[i];
        r.words[i] = &words[i];
    }
    r.textCapacity = 4;
    ASSERT_EQ(FormAssocGet(kPrinter, 641, r), 1);
    EXPECT_STREQ(texts[2], "ove");
    EXPECT_EQ(words[3], 4);
    EXPECT_EQ(FormAssocSet(kPrinter, 640, nullptr, nullptr), 1);
    EXPECT_EQ(Ids(kFormAssocListValue), (std::vector<uint16_t>{641}));
}

TEST_F(RecordListTest, MacroEdgeCases) {
    // Type 6 with id 0 in an empty list: the top of the id range's last group.
    ASSERT_TRUE(MacroAdd(kPrinter, 0, "Logo", 0, 6));
    EXPECT_EQ(Ids(kMacroListValue), (std::vector<uint16_t>{32752}));
    EXPECT_FALSE(MacroAdd(kPrinter, 0, "Other", 0, 5));  // only type 6 gets an id chosen
    EXPECT_FALSE(MacroAdd(kPrinter, 32768, "Too high", 0, 5));
    // The same name with another type keeps both.
    ASSERT_TRUE(MacroAdd(kPrinter, 7, "Logo", 3, 0));
    EXPECT_EQ(Ids(kMacroListValue), (std::vector<uint16_t>{32752, 7}));
    // A wished id in use gives the lowest free one; the name rule decides over it.
    EXPECT_EQ(MacroFindFreeId(kPrinter, 7, nullptr, 0), 1);
    EXPECT_EQ(MacroFindFreeId(kPrinter, 9, nullptr, 0), 9);
    EXPECT_EQ(MacroFindFreeId(kPrinter, 9, "logo", 6), 0);
    EXPECT_EQ(MacroFindFreeId(kPrinter, 9, "", 6), 0);
    EXPECT_EQ(MacroFindFreeId(kPrinter, 9, "logo", 4), 9);
    // Look-up by name fills id and type.
    uint16_t id = 0, type = 0;
    char name[16] = "LOGO";
    MacroRequest look{0, 3, &id, name, sizeof name, &type, nullptr};
    EXPECT_EQ(MacroFeedbackRequest(kPrinter, look), 1);
    EXPECT_EQ(id, 32752);
    EXPECT_EQ(type, 6);
    // The record without a type gives 0 when its type is asked for.
    id = 7;
    type = 0;
    EXPECT_EQ(MacroFeedbackRequest(kPrinter, look), 0);
    // An unknown operation and an add without a name do nothing.
    EXPECT_EQ(MacroFeedbackRequest(kPrinter, MacroRequest{0, 4}), 0);
    EXPECT_EQ(MacroFeedbackRequest(kPrinter, MacroRequest{0, 1, &id}), 0);
}

TEST_F(RecordListTest, MacroAddReplacesTheFirstRecordOfThatNameAndType) {
    // A stored list where "Form" appears under type 5 (no key 4) and type 6.
    Store(kMacroListValue, Cat({Record({{1, W(1)}, {2, T("Form")}}), Record({{1, W(2)}, {2, T("Form")}, {4, W(6)}}),
                                Record({{1, W(3)}, {2, T("Other")}})}));
    ASSERT_TRUE(MacroAdd(kPrinter, 10, "FORM", 0, 6));
    EXPECT_EQ(Ids(kMacroListValue), (std::vector<uint16_t>{1, 3, 10}));
    ASSERT_TRUE(MacroDelete(kPrinter, 0, "form", 5));
    EXPECT_EQ(Ids(kMacroListValue), (std::vector<uint16_t>{3, 10}));
    void* types = nullptr;
    ASSERT_EQ(MacroEnumerate(kPrinter, nullptr, nullptr, &types), 2);
    EXPECT_EQ(static_cast<const uint16_t*>(types)[1], 6);
    FreeEnumerationBlock(types);
}

TEST_F(RecordListTest, InstalledOptionsRecordReadsOnlyThirtyTwoBytes) {
    uint8_t out[32];
    EXPECT_EQ(InstalledOptionsRecord(printer_, out), 1);
    Bytes longer(40, 3);
    Store("PrinterConfig", longer);
    EXPECT_EQ(InstalledOptionsRecord(printer_, out), 1);
    EXPECT_EQ(Stored("PrinterConfig"), longer);  // left as it is
    Bytes exact(32, 4);
    Store("PrinterConfig", exact);
    EXPECT_EQ(InstalledOptionsRecord(printer_, out), 0);
    EXPECT_EQ(out[31], 4);
    EXPECT_EQ(FindPrinterDataValue("PType")->name, "PType");
    EXPECT_EQ(FindPrinterDataValue("fontsummaryfile")->size, 260u);
}

TEST_F(RecordListTest, TheIndependentDecoderReadsEveryListValue) {
    ASSERT_TRUE(AddWatermark(2, "Draft", "DRAFT"));
    const uint8_t block[2] = {9, 8};
    ASSERT_TRUE(UserFormAdd(kPrinter, 0, "Card", UserFormValues{1, 2, 600, 1200, block}));
    FormAssocValues assoc;
    assoc.texts = {"a", "", "c", "d"};
    ASSERT_TRUE(FormAssocAdd(kPrinter, 0, "Memo", assoc));
    ASSERT_TRUE(MacroAdd(kPrinter, 0, "Logo", 0, 6));
    ASSERT_TRUE(MacroAdd(kPrinter, 5, "Sign", 3, 0));
    const struct {
        const char* value;
        std::string text;
    } cases[] = {
        {kWatermarkListValue,
         "record 1=2 2='Draft' 3='DRAFT' 4=" + std::string(56, '0') + "417269616c" + std::string(54, '0') +
             " 5=00ff0000 6=1e00 7=0700 8=0000 9=0000\n"},
        {kUserFormListValue, "record 1=512 2='Card' 3=0100 4=0200 5=5802 6=b004 7=0908\n"},
        {kFormAssocListValue, "record 1=640 2='Memo' 3=0000 4=0000 5='a' 6=0000 7='' 8=0000 9='c' 10=0000 11='d' 12=0000\n"},
        {kMacroListValue, "record 1=32752 2='Logo' 4=0600\nrecord 1=5 2='Sign' 3=0300\n"},
    };
    // A damaged tail is reported where it starts.
    Bytes damaged = *Stored(kMacroListValue);
    const size_t sound = damaged.size();
    damaged.insert(damaged.end(), {9, 0, 1, 0});
    std::vector<Bytes> blocks;
    for (const auto& c : cases) blocks.push_back(*Stored(c.value));
    blocks.push_back(damaged);
    const auto texts = testing::Decode("records", blocks, root_);
    if (!texts) GTEST_SKIP() << "python3 is not available: the decoder cannot run";
    ASSERT_EQ(texts->size(), blocks.size());
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ((*texts)[i], cases[i].text) << cases[i].value;
    EXPECT_NE(texts->back().find("damaged 4 bytes at " + std::to_string(sound)), std::string::npos) << texts->back();
}

}  // namespace
}  // namespace zq
