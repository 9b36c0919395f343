// The control record list: its bytes per kind, derived by hand from the
// record layouts; each write-back rule; the constraint pass by type.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "interface/control_records.h"
#include "settings/devmode_ops.h"
#include "settings/tests/model_fixture.h"

namespace zq {
namespace {

using testing::Bytes;
using testing::TestModel;

struct Entry { uint16_t type, kind, p1 = 0, p2 = 0, flags = 0; };

class ControlRecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Option list of type 42 (resource 270 id 1): three values.
        model.data.SetResource(270, 1, Bytes(8 + 18).u16(0, 3).u16(8, 0).u16(10, 2200).u16(14, 2).u16(16, 2201)
                                           .u16(20, 4).u16(22, 2202).get());
        // Adjustment choices (resource 272 id 1): five, of which three are kept.
        Bytes adjust(8 + 20);
        adjust.u16(0, 5);
        for (uint16_t i = 0; i < 5; ++i) adjust.u16(8 + 4 * i, i).u16(10 + 4 * i, static_cast<uint16_t>(2300 + i));
        model.data.SetResource(272, 1, adjust.get());
        // Installable options (274 id 1): byte 8 v + 14 is byte 1093's value.
        Bytes installables(144);
        installables.u16(0, 2).u8(14, 0x11).u8(22, 0x22);
        model.data.SetResource(274, 1, installables.get());
        model.record.id270 = 0;
        model.record.id272 = 0;
        model.record.installableId = 0;
        model.record.controlTableId = 0;
        model.Commit();
    }
    void Table(std::initializer_list<Entry> entries) {
        Bytes b(2 + 10 * entries.size());
        b.u16(0, static_cast<uint16_t>(entries.size()));
        size_t at = 2;
        for (const auto& e : entries) {
            b.u16(at, e.type).u16(at + 2, e.kind).u16(at + 4, e.p1).u16(at + 6, e.p2).u16(at + 8, e.flags);
            at += 10;
        }
        model.data.SetResource(283, 1, b.get());
    }
    PrivateDevmode Default() {
        model.Commit();
        PrivateDevmode r{};
        BuildDefaultDevmode(r, model.data, {true, 1252, 0});
        return r;
    }
    ControlLists Build(const PrivateDevmode& working, const PrivateDevmode& defaults, uint32_t token = 0x1234) {
        ControlLists lists;
        EXPECT_EQ(BuildControlRecords(lists, token, working, defaults, model.data), 0);
        return lists;
    }
    static uint16_t W(const uint8_t* rec, size_t at) { return static_cast<uint16_t>(rec[at] | (rec[at + 1] << 8)); }
    static uint32_t D(const uint8_t* rec, size_t at) { return W(rec, at) | (static_cast<uint32_t>(W(rec, at + 2)) << 16); }
    TestModel model;
};

TEST_F(ControlRecordsTest, HeaderRecordsInTableOrderAndTrailer) {
    Table({{1, 1, 1, 2, 0x1FF}, {81, 13}, {3, 1, 1, 9999}, {200, 1}, {5, 18}, {65, 1}});
    PrivateDevmode w = Default();
    w.dm.dmCopies = 7;
    const PrivateDevmode d = Default();
    const ControlLists lists = Build(w, d, 0xCAFE);
    // Header, two kind-1 records (types 200 and 65 and kind 18 are left out).
    ASSERT_EQ(lists.working.size(), 1532u + 14 + 14 + 14);
    const uint8_t* b = lists.working.data();
    EXPECT_EQ(W(b, 0), 1532);
    EXPECT_EQ(W(b, 2), 65);
    EXPECT_EQ(D(b, 8), 0xCAFEu);
    for (size_t i = 12; i < 1532; ++i) ASSERT_EQ(b[i], 0) << i;
    const uint8_t expected[] = {14, 0, 1, 0, 0xFF, 0, 1, 0, 1, 0, 1, 0, 2, 0,     // orientation, flags' low byte
                                14, 0, 3, 0, 0, 0, 7, 0, 1, 0, 1, 0, 0x0F, 0x27};  // copies 7, default 1, 1..9999
    EXPECT_EQ(std::vector<uint8_t>(b + 1532, b + 1532 + 28), std::vector<uint8_t>(std::begin(expected), std::end(expected)));
    for (size_t i = 1532 + 28; i < lists.working.size(); ++i) EXPECT_EQ(b[i], 0);
    EXPECT_EQ(lists.saved, lists.working);
    EXPECT_EQ(lists.byType[1], lists.working.data() + 1532);
    EXPECT_EQ(lists.byType[3], lists.working.data() + 1546);
    EXPECT_EQ(lists.savedByType[3], lists.saved.data() + 1546);
    EXPECT_EQ(lists.byType[81], nullptr);
}

TEST_F(ControlRecordsTest, OnlyKind13GivesHeaderAndEndAndMissingTableFails) {
    Table({{81, 13}, {89, 13}});
    const PrivateDevmode d = Default();
    ControlLists lists = Build(d, d);
    EXPECT_EQ(lists.working.size(), 1532u + 14);
    EXPECT_EQ(lists.byType[65], lists.working.data());
    model.data.RemoveResource(283, 1);
    EXPECT_EQ(BuildControlRecords(lists, 1, d, d, model.data), -1);
    // A count beyond the bytes is cut to the entries there.
    model.data.SetResource(283, 1, Bytes(12).u16(0, 50).u16(2, 3).u16(4, 1).get());
    ASSERT_EQ(BuildControlRecords(lists, 1, d, d, model.data), 0);
    EXPECT_EQ(lists.working.size(), 1532u + 14 + 14);
}

// Each kind's record, field by field, from the layouts.
TEST_F(ControlRecordsTest, RecordsOfEveryKind) {
    model.record.flags396 = 0x4000;        // custom range: paper ranges offered
    model.record.flags392 = 0x1;
    model.record.flags400 = 0x0400;        // byte 401 bit 2: job storage of 8
    Table({{2, 2}, {4, 3}, {7, 4}, {27, 5}, {50, 6}, {42, 7}, {16, 8}, {29, 9}, {59, 10}, {62, 11, 4, 5},
           {34, 12}, {75, 14}, {77, 15}, {94, 16}, {95, 17, 8, 9}, {51, 1, 3, 4}, {20, 1}});
    PrivateDevmode w = Default();
    PrivateDevmode d = w;
    w.dm.dmPaperSize = 9;
    w.dm.dmDefaultSource = 2;
    w.pagesPerSheet = 2;
    std::strcpy(w.overlayName1, "Letterhead");
    w.overlayAtPageStart = 1;
    w.option655 = 2;
    w.pairFirst = 1;
    w.fontSets1 = 0x11;
    d.fontSets2 = 0x22;
    w.watermarkId1 = 3;
    w.watermarkPlacement = 1;
    w.adjustments[661 - 658] = 2;
    w.number1084 = 70000;
    w.printerCopies = 3;
    std::strcpy(w.text824, "Quarterly");
    std::strcpy(w.pin849, "1234");
    w.profileKind = 2;
    w.profileId[3] = 9;
    w.accountTracking = 1;
    std::strcpy(w.accountId, "ACC-7");
    std::strcpy(w.userName, "tester");
    w.count460 = 6;
    d.memoryMegabytes = 48;
    const ControlLists lists = Build(w, d);
    auto rec = [&](uint16_t type) { return lists.byType[type]; };

    const uint8_t* p = rec(2);
    ASSERT_TRUE(p);
    EXPECT_EQ(W(p, 0), 22);
    const uint16_t paper[] = {9, 1, 512, 519, 1200, 768, 640, 671};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(W(p, 6 + 2 * i), paper[i]) << i;

    p = rec(4);  // sources 7, 1, 2, 3 with masks 1, 2, 4, 8
    EXPECT_EQ(W(p, 0), 100);
    EXPECT_EQ(W(p, 6), 2);
    EXPECT_EQ(W(p, 8), 7);
    EXPECT_EQ(W(p, 12), 1);
    EXPECT_EQ(W(p, 14), 7);
    EXPECT_EQ(W(p, 12 + 8 * 3), 8);
    EXPECT_EQ(W(p, 14 + 8 * 3), 3);
    EXPECT_EQ(W(p, 12 + 8 * 4), 0);

    p = rec(7);
    EXPECT_EQ(W(p, 0), 14);
    EXPECT_EQ(p[10], 1);
    EXPECT_EQ(p[11], 0);  // pages per sheet set
    EXPECT_EQ(p[12], 1);  // word 392 bit 0

    p = rec(27);
    EXPECT_EQ(W(p, 0), 136);
    EXPECT_STREQ(reinterpret_cast<const char*>(p + 6), "Letterhead");
    EXPECT_EQ(p[70], 0);
    EXPECT_EQ(p[134], 1);

    p = rec(50);  // resolutions 600/1, 600/1, 300/0, 1200/0; current 600 kind 1
    EXPECT_EQ(W(p, 0), 44);
    EXPECT_EQ(W(p, 6), 0);
    EXPECT_EQ(W(p, 14), 600);
    EXPECT_EQ(W(p, 18), 1);
    EXPECT_EQ(W(p, 14 + 6 * 2), 300);
    EXPECT_EQ(W(p, 14 + 6 * 3), 1200);

    p = rec(42);
    EXPECT_EQ(W(p, 0), 124);
    EXPECT_EQ(W(p, 6), 2);
    EXPECT_EQ(W(p, 10 + 6), 2);
    EXPECT_EQ(W(p, 12 + 6), 2201);
    EXPECT_EQ(W(p, 10 + 18), 0xFFFF);

    p = rec(16);  // pair table: one entry {2, 0}
    EXPECT_EQ(W(p, 0), 162);
    EXPECT_EQ(W(p, 6), 1);
    EXPECT_EQ(W(p, 8), 2);
    EXPECT_EQ(W(p, 10), 2);
    EXPECT_EQ(W(p, 18), 0xFFFF);

    p = rec(29);  // slots of sources 7 (values 5) and 2 (values 9)
    EXPECT_EQ(W(p, 0), 1326);
    EXPECT_EQ(W(p, 6), 7);
    EXPECT_EQ(W(p, 8), 5);
    EXPECT_EQ(W(p, 10), 1);
    EXPECT_EQ(W(p, 12), 5);
    EXPECT_EQ(W(p, 18), 0xFFFF);
    EXPECT_EQ(W(p, 6 + 120), 2);
    EXPECT_EQ(W(p, 6 + 240), 0);
    EXPECT_EQ(W(p, 6 + 240 + 6), 0xFFFF);

    p = rec(59);
    EXPECT_EQ(W(p, 0), 24);
    EXPECT_EQ(D(p, 8), 0x11u);
    EXPECT_EQ(D(p, 12), 0x80000001u);
    EXPECT_EQ(D(p, 20), 0x22u);

    p = rec(62);
    EXPECT_EQ(W(p, 0), 36);
    EXPECT_EQ(W(p, 6), 4);
    EXPECT_EQ(W(p, 8), 5);
    EXPECT_EQ(W(p, 10), 3);
    EXPECT_EQ(D(p, 20), 1u);

    p = rec(34);  // second adjustment group: three of five choices kept
    EXPECT_EQ(W(p, 0), 26);
    EXPECT_EQ(W(p, 6), 2);
    EXPECT_EQ(W(p, 10 + 4 * 2 + 2), 2302);
    EXPECT_EQ(W(p, 10 + 4 * 3), 0xFFFF);

    p = rec(75);
    EXPECT_EQ(D(p, 8), 70000u);

    p = rec(77);
    EXPECT_EQ(W(p, 0), 44);
    EXPECT_EQ(W(p, 6), 3);
    EXPECT_EQ(W(p, 10), 8);
    EXPECT_STREQ(reinterpret_cast<const char*>(p + 12), "Quarterly");
    EXPECT_STREQ(reinterpret_cast<const char*>(p + 37), "1234");

    p = rec(94);
    EXPECT_EQ(D(p, 8), 2u);
    EXPECT_EQ(D(p, 8 + 16), 9u);
    EXPECT_EQ(D(p, 28), 4u);
    EXPECT_EQ(D(p, 32), 1u);

    p = rec(95);
    EXPECT_EQ(W(p, 0), 114);
    EXPECT_EQ(W(p, 6), 1);
    EXPECT_EQ(W(p, 10), 8);
    EXPECT_STREQ(reinterpret_cast<const char*>(p + 14), "ACC-7");
    EXPECT_STREQ(reinterpret_cast<const char*>(p + 72), "tester");

    p = rec(51);
    EXPECT_EQ(W(p, 10), 6);
    EXPECT_EQ(W(p, 12), 4);
    p = rec(20);
    EXPECT_EQ(W(p, 6), 16);
    EXPECT_EQ(W(p, 8), 48);
    EXPECT_EQ(W(p, 10), 16);
}

// Every write-back rule: one record changed, the field it reaches.
TEST_F(ControlRecordsTest, WriteBackRules) {
    // Media byte of source 2 (entry 2, byte 16) and the model's limits 3.
    Bytes sources(272);
    sources.u16(0, 3).u16(8, 0x1).u16(10, 7).u16(32, 0x2).u16(34, 1).u16(56, 0x4).u16(58, 2).u8(56 + 16, 6);
    model.data.SetResource(259, 1, sources.get());
    model.record.installableId = 0;
    struct Case {
        const char* what;
        uint16_t type;
        uint16_t kind;
        std::function<void(uint8_t*)> change;
        std::function<bool(const PrivateDevmode&)> holds;
    };
    auto set16 = [](uint8_t* r, size_t at, uint16_t v) { std::memcpy(r + at, &v, 2); };
    const Case cases[] = {
        {"custom paper from the limits", 2, 2, [&](uint8_t* r) { set16(r, 6, 257); },
         [](auto& d) { return d.dm.dmPaperSize == 257 && d.dm.dmPaperWidth == 2159 && d.dm.dmPaperLength == 3556; }},
        {"other paper clears the size", 2, 2, [&](uint8_t* r) { set16(r, 6, 9); },
         [](auto& d) { return d.dm.dmPaperSize == 9 && d.dm.dmPaperWidth == 0 && d.dm.dmPaperLength == 0; }},
        {"source takes its media byte", 4, 3, [&](uint8_t* r) { set16(r, 6, 2); },
         [](auto& d) { return d.dm.dmDefaultSource == 2 && d.mediaByte == 6; }},
        {"pair second on a mono model", 17, 1, [&](uint8_t* r) { set16(r, 6, 3); },
         [](auto& d) { return d.pairSecond == 3 && d.colourOption235 == 0; }},
        {"slot value by option id", 29, 9, [&](uint8_t* r) { set16(r, 6 + 120 + 2, 4); },
         [](auto& d) { return d.slotSourceCodes[1] == 2 && d.slotValues[1] == 4 && d.slotValues[0] == 5; }},
        {"pages per sheet and 602", 47, 1, [&](uint8_t* r) { r[6] = 3; r[7] = 1; },
         [](auto& d) { return d.pagesPerSheet == 3 && d.option602 == 1; }},
        {"quality entry 3", 50, 6, [&](uint8_t* r) { set16(r, 6, 3); },
         [](auto& d) { return d.dm.dmPrintQuality == 1200 && d.dm.dmYResolution == 1200 && d.resolutionFeature == 0; }},
        {"quality 5 keeps the resolution", 50, 6, [&](uint8_t* r) { set16(r, 6, 5); },
         [](auto& d) { return d.dm.dmPrintQuality == 600 && d.dm.dmYResolution == 600; }},
        {"installable 1093", 57, 1, [&](uint8_t* r) { set16(r, 6, 1); },
         [](auto& d) { return d.option448 == 1 && d.option1093 == 0x22; }},
        {"installable past the table", 57, 1, [&](uint8_t* r) { set16(r, 6, 20); },
         [](auto& d) { return d.option448 == 20 && d.option1093 == 1; }},
        {"79 above 5", 79, 1, [&](uint8_t* r) { set16(r, 6, 7); },
         [](auto& d) { return d.pairSecond == 1 && d.option231 == 2; }},
        {"79 three", 79, 1, [&](uint8_t* r) { set16(r, 6, 3); },
         [](auto& d) { return d.pairSecond == 4 && d.option231 == 3; }},
        {"79 zero", 79, 1, [&](uint8_t* r) { set16(r, 6, 0); },
         [](auto& d) { return d.pairSecond == 0 && d.option231 == 0; }},
        {"98 two", 98, 1, [&](uint8_t* r) { set16(r, 6, 2); },
         [](auto& d) { return d.option670 == 3 && d.resolutionFeature == 1; }},
        {"98 one", 98, 1, [&](uint8_t* r) { set16(r, 6, 1); },
         [](auto& d) { return d.option670 == 1 && d.resolutionFeature == 0; }},
        {"PIN of digits", 77, 15, [&](uint8_t* r) { std::memcpy(r + 37, "9876", 5); std::memset(r + 12, 'J', 25); },
         [](auto& d) { return std::string(d.pin849) == "9876" && std::string(d.text824) == std::string(24, 'J'); }},
        {"PIN not digits", 77, 15, [&](uint8_t* r) { std::memcpy(r + 37, "12a4", 5); },
         [](auto& d) { return d.pin849[0] == 0; }},
        {"account id of 16", 95, 17, [&](uint8_t* r) { set16(r, 6, 1); std::memset(r + 14, 'A', 17); std::memset(r + 72, 'u', 41); },
         [](auto& d) { return d.accountTracking == 1 && std::string(d.accountId) == std::string(16, 'A') &&
                              std::string(d.userName) == std::string(40, 'u'); }},
        {"copies", 3, 1, [&](uint8_t* r) { set16(r, 6, 12); }, [](auto& d) { return d.dm.dmCopies == 12; }},
        {"dither u32 from u16", 10, 1, [&](uint8_t* r) { set16(r, 6, 2); }, [](auto& d) { return d.dm.dmDitherType == 2u; }},
        {"memory word", 20, 1, [&](uint8_t* r) { set16(r, 6, 64); }, [](auto& d) { return d.memoryMegabytes == 64; }},
        {"460 from byte 10", 51, 1, [&](uint8_t* r) { r[6] = 9; r[10] = 2; }, [](auto& d) { return d.count460 == 2; }},
    };
    for (const auto& c : cases) {
        // One record per case: types 17 and 79 both reach byte 234.
        Table({{c.type, c.kind}});
        PrivateDevmode w = Default();
        w.option1093 = 1;
        ControlLists lists = Build(w, w);
        ASSERT_NE(lists.byType[c.type], nullptr) << c.what;
        c.change(lists.byType[c.type]);
        PrivateDevmode out = w;
        const uint16_t crc = ControlsToDevmode(lists.working, out, model.data);
        EXPECT_TRUE(c.holds(out)) << c.what;
        EXPECT_EQ(crc, DevmodeCheckValue(out)) << c.what;
        EXPECT_EQ(out.checkValue, crc);
    }
    // The colour rule sends type 17 to byte 235.
    model.record.flags400 = 0x08;
    Table({{17, 1}});
    PrivateDevmode w = Default();
    ControlLists lists = Build(w, w);
    lists.byType[17][6] = 2;
    ControlsToDevmode(lists.working, w, model.data);
    EXPECT_EQ(w.colourOption235, 2);
}

TEST_F(ControlRecordsTest, BrokenListsAreWalkedSafely) {
    Table({{3, 1}, {1, 1}});
    PrivateDevmode w = Default();
    ControlLists lists = Build(w, w);
    // A record whose length leaves the list ends the walk before it.
    std::vector<uint8_t> cut(lists.working.begin(), lists.working.begin() + 1532 + 14 + 6);
    cut[1532] = 14;
    cut[1532 + 6] = 0x63;  // copies 99 in the first record
    const uint16_t len = 60;
    std::memcpy(cut.data() + 1532 + 14, &len, 2);
    PrivateDevmode out = w;
    ControlsToDevmode(cut, out, model.data);
    EXPECT_EQ(out.dm.dmCopies, 99);
    EXPECT_EQ(RefreshControlRecords(cut, {}), 14);
    EXPECT_EQ(RefreshControlRecords({}, {}), 0);
}

TEST_F(ControlRecordsTest, RefreshByType) {
    model.record.flags396 = 0x4000;
    Table({{2, 2}, {4, 3}, {7, 4}, {11, 1}, {1, 1}, {13, 1}, {47, 1}, {50, 6}, {53, 1}, {95, 17}, {94, 16}});
    PrivateDevmode w = Default();
    w.profileKind = 3;
    w.profileId[0] = 8;
    const ControlContext context{&model.data, &w, &w};
    auto fresh = [&] { return Build(w, w); };
    auto profileKept = [](const ControlLists& l) { return D(l.byType[94], 8) == 3; };
    auto changed = [](ControlLists& l, uint16_t type, uint16_t v) {
        std::memcpy(l.byType[type] + 6, &v, 2);
        l.byType[type][5] = 1;
    };
    {
        ControlLists l = fresh();
        changed(l, 11, 1);
        EXPECT_EQ(RefreshControlRecords(l.working, context), 48);  // the last record's length
        EXPECT_TRUE(profileKept(l));
        EXPECT_EQ(l.byType[11][5], 0);
    }
    {
        ControlLists l = fresh();
        changed(l, 1, 2);
        EXPECT_EQ(RefreshControlRecords(l.working, context), 0);
        EXPECT_FALSE(profileKept(l));
        EXPECT_EQ(D(l.byType[94], 8 + 16), 0u);
    }
    {
        // Pages per sheet: TrueType 2 becomes 4 and is no longer single-page.
        ControlLists l = fresh();
        EXPECT_EQ(W(l.byType[7], 6), 2);
        changed(l, 47, 2);
        RefreshControlRecords(l.working, context);
        EXPECT_EQ(W(l.byType[7], 6), 4);
        EXPECT_EQ(l.byType[7][11], 0);
        changed(l, 47, 0);
        RefreshControlRecords(l.working, context);
        EXPECT_EQ(l.byType[7][11], 1);
    }
    {
        // The PCL XL language closes the user-form ranges of the paper record.
        ControlLists l = fresh();
        EXPECT_EQ(W(l.byType[2], 10), 512);
        changed(l, 13, 2);
        RefreshControlRecords(l.working, context);
        EXPECT_EQ(W(l.byType[2], 10), 0);
        EXPECT_EQ(W(l.byType[2], 16), 0);
        changed(l, 13, 1);
        RefreshControlRecords(l.working, context);
        EXPECT_EQ(W(l.byType[2], 12), 519);
    }
    {
        ControlLists l = fresh();
        changed(l, 53, 1);
        RefreshControlRecords(l.working, context);
        EXPECT_EQ(W(l.byType[4], 6), 7);
    }
    {
        // Account tracking forgets the profile unless the model keeps it as
        // a printer setting.
        ControlLists l = fresh();
        changed(l, 95, 1);
        RefreshControlRecords(l.working, context);
        EXPECT_FALSE(profileKept(l));
        PrivateDevmode printerScope = w;
        printerScope.model.flags394 = 0x4;
        l = fresh();
        changed(l, 95, 1);
        RefreshControlRecords(l.working, {&model.data, &printerScope, &w});
        EXPECT_TRUE(profileKept(l));
    }
    {
        // Through the export: the header's token finds the sheet.
        ControlLists l = fresh();
        const uint32_t token = RegisterControlContext(context);
        std::memcpy(l.working.data() + 8, &token, 4);
        changed(l, 11, 1);
        EXPECT_EQ(RefreshProc(l.working.data()), 48);
        changed(l, 1, 1);
        EXPECT_EQ(RefreshProc(l.working.data()), 0);
        UnregisterControlContext(token);
        EXPECT_EQ(RefreshProc(nullptr), 0);
    }
}

TEST_F(ControlRecordsTest, PrintQualityChoices) {
    model.SetResolutions(0, {{1200, 0}, {600, 1}, {600, 0}, {300, 0}});
    model.Commit();
    PrivateDevmode w = Default();
    QualityRecord q{};
    RecomputePrintQualityChoices(q, 600, 0, 1, 0, model.data, w, w);
    EXPECT_EQ(q.current, 2);
    EXPECT_EQ(q.defaultValue, 0);  // default 1200, kind 0
    EXPECT_EQ(q.choices[3].dpi, 300);
    // Language 5 keeps the 600-dpi entries of a non-zero kind only.
    RecomputePrintQualityChoices(q, 600, 1, 5, 0, model.data, w, w);
    EXPECT_EQ(q.choices[0].dpi, 600);
    EXPECT_EQ(q.choices[0].kind, 1);
    EXPECT_EQ(q.choices[1].dpi, 0);
    EXPECT_EQ(q.current, 0);
    // PCL XL at 600 dpi of kind 1 on one page per sheet: only the first.
    RecomputePrintQualityChoices(q, 600, 1, 2, 0, model.data, w, w);
    EXPECT_EQ(q.onlyFirst, 1);
    EXPECT_EQ(q.current, 1);  // the first entry is 1200 dpi
    model.SetResolutions(0, {{600, 0}, {600, 1}});
    model.Commit();
    RecomputePrintQualityChoices(q, 600, 1, 2, 0, model.data, w, w);
    EXPECT_EQ(q.current, 0);
    RecomputePrintQualityChoices(q, 600, 1, 2, 3, model.data, w, w);
    EXPECT_EQ(q.onlyFirst, 0);
    EXPECT_EQ(q.current, 1);
}

TEST_F(ControlRecordsTest, DevmodeToControlsTakesCurrentValues) {
    Table({{3, 1, 1, 9999}, {81, 13}, {2, 2}, {50, 6}, {47, 1}, {62, 11, 4, 5}, {77, 15}, {27, 5}, {94, 16}});
    PrivateDevmode w = Default();
    ControlLists lists = Build(w, w);
    PrivateDevmode loaded = w;
    loaded.dm.dmCopies = 42;
    loaded.dm.dmPaperSize = 9;
    loaded.dm.dmPrintQuality = 300;
    loaded.resolutionFeature = 0;
    loaded.pagesPerSheet = 4;
    loaded.watermarkId2 = 6;
    std::strcpy(loaded.text824, "Loaded job");
    std::strcpy(loaded.overlayName1, "Form B");
    loaded.profileKind = 5;
    DevmodeToControls(lists.working, loaded, w, model.data);
    EXPECT_EQ(W(lists.byType[62], 14), 6);
    EXPECT_EQ(W(lists.byType[62], 6), 4);  // the table's parameter
    EXPECT_STREQ(reinterpret_cast<const char*>(lists.byType[77] + 12), "Loaded job");
    EXPECT_STREQ(reinterpret_cast<const char*>(lists.byType[27] + 6), "Form B");
    EXPECT_EQ(D(lists.byType[94], 8), 5u);
    EXPECT_EQ(D(lists.byType[94], 28), 4u);  // the default record's kind
    EXPECT_EQ(W(lists.byType[3], 6), 42);
    EXPECT_EQ(W(lists.byType[3], 8), 1);  // default unchanged
    EXPECT_EQ(W(lists.byType[3], 12), 9999);
    EXPECT_EQ(W(lists.byType[2], 6), 9);
    EXPECT_EQ(W(lists.byType[50], 6), 2);
    EXPECT_EQ(W(lists.byType[47], 6), 4);
    // Written back, the loaded settings come out again.
    PrivateDevmode out = w;
    ControlsToDevmode(lists.working, out, model.data);
    EXPECT_EQ(out.dm.dmCopies, 42);
    EXPECT_EQ(out.dm.dmPrintQuality, 300);
    EXPECT_EQ(out.pagesPerSheet, 4);
    EXPECT_EQ(out.watermarkId2, 6);
    EXPECT_STREQ(out.text824, "Loaded job");
    EXPECT_STREQ(out.overlayName1, "Form B");
}

}  // namespace
}  // namespace zq
