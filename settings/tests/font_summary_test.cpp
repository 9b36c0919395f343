// The device-font summary: description reading (both forms, damaged data),
// the symbol-set escape, scaling, the build from its five sources, and the
// cache file shared by the interface driver and the renderer.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "base/paths.h"
#include "base/text.h"
#include "settings/font_description.h"
#include "settings/font_lists.h"
#include "settings/font_summary.h"
#include "settings/font_summary_cache.h"
#include "settings/pd_list.h"
#include "settings/printer_data_values.h"
#include "settings/tests/decoder.h"
#include "settings/tests/font_fixtures.h"
#include "store/spooler.h"
#include "settings/tests/office_printer.h"

namespace zq {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FontSpec;

TEST(SymbolSetEscapeTest, FirstCompleteEscapeGivesTheCode) {
    const struct {
        std::string text;
        uint16_t code;
    } cases[] = {
        {"\x1b(19U", 629},         {"\x1b(8U", 277},         {"\x1b(s1p\x1b(10U", 341},
        {"\x1b(Q\x1b(0N", 14},     {"", 0},                  {"\x1b(", 0},
        {"\x1b(12", 0},            {"\x1b(12u", 0},          {"(8U", 0},
        {"\x1b(8U\x1b(19U", 277},  {"\x1b(99999999999U", static_cast<uint16_t>(0xFFFFFF * 32 + 21)},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseSymbolSetEscape(c.text), c.code) << c.text;
}

TEST(ScaleFontTest, BitmapMetricsFollowTheJobResolution) {
    FontMetricsRecord m{};
    m.vertRes = m.horzRes = 300;
    m.ascent = 30, m.internalLeading = 3, m.externalLeading = 1, m.pixWidth = 10, m.pixHeight = 41, m.avgWidth = 7,
    m.maxWidth = 20, m.pointSize = 12;
    FontMetricsRecord bitmap = m;
    ASSERT_TRUE(ScaleFontToResolution(bitmap, false, 600));
    EXPECT_EQ(bitmap.vertRes, 600);
    EXPECT_EQ(bitmap.ascent, 60);
    EXPECT_EQ(bitmap.pixHeight, 82);
    EXPECT_EQ(bitmap.avgWidth, 14);
    EXPECT_EQ(bitmap.pointSize, 12);
    FontMetricsRecord outline = m;
    ASSERT_TRUE(ScaleFontToResolution(outline, true, 600));
    EXPECT_EQ(outline.horzRes, 600);
    EXPECT_EQ(outline.ascent, 30);
    FontMetricsRecord zero = m;
    zero.vertRes = 0;
    EXPECT_FALSE(ScaleFontToResolution(zero, false, 600));
    EXPECT_TRUE(ScaleFontToResolution(zero, true, 600));
}

TEST(FontDescriptionTest, BothFormsRead) {
    FontSpec s;
    s.memory = 5000;
    s.kernPairs = 2;
    const auto first = ReadFontDescription(testing::FirstForm(s), 0, 1, false);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->face, "Test Face");  // leading blanks dropped
    EXPECT_EQ(first->symbolSet, 629);
    EXPECT_EQ(first->memory, 5000u);
    EXPECT_TRUE(first->scalable);
    EXPECT_EQ(first->vertical[1], -12);
    EXPECT_EQ(first->panose.size(), 10u);
    EXPECT_EQ(first->symbolSets.size(), 24u);
    EXPECT_EQ(first->widths.size(), 8u);
    EXPECT_EQ(first->charMap.size(), (4u + 10) * 3);
    EXPECT_EQ(first->kerning.size(), 16u);
    s.selection = "\x1b(8U";
    s.memory = 0;
    const auto second = ReadFontDescription(testing::SecondForm(s), 0, 1, false);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->symbolSet, 277);
    EXPECT_EQ(second->metrics.word32, 32);
    EXPECT_EQ(second->vertical[0], 1400);
    EXPECT_EQ(second->vertical[1], -400);
    EXPECT_EQ(second->memory, 0u);  // given as 0 by its driver information
    s.driverInfo = false;
    s.scalable = false;
    const auto estimated = ReadFontDescription(testing::SecondForm(s), 0, 1, false);
    ASSERT_TRUE(estimated);
    EXPECT_EQ(estimated->memory, 4u * (50 * ((25 + 7) / 8) + 63));
    EXPECT_EQ(ReadFontDescription(testing::SecondForm(s), 0, 2, false)->memory, 0u);
    EXPECT_FALSE(ReadFontDescription(testing::SecondForm(s), 0, 1, true));  // scalable only
    s.scalable = true;
    s.orientation = 2;
    EXPECT_FALSE(ReadFontDescription(testing::FirstForm(s), 1, 1, false));
    EXPECT_TRUE(ReadFontDescription(testing::FirstForm(s), 2, 1, false));
    EXPECT_TRUE(ReadFontDescription(testing::FirstForm(s), 0, 1, false));
}

TEST(FontDescriptionTest, DamagedDataRefusesTheFont) {
    FontSpec s;
    s.kernPairs = 1;
    const Bytes good = testing::FirstForm(s);
    ASSERT_TRUE(ReadFontDescription(good, 0, 1, false));
    auto u32 = [&](size_t at) { return uint32_t(good[at] | good[at + 1] << 8 | good[at + 2] << 16 | good[at + 3] << 24); };
    const size_t ext = 128 + 2 * s.characters;
    const size_t driverInfo = u32(ext + 24);
    const size_t charMap = u32(ext + 40);
    const struct {
        const char* what;
        size_t at;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"face offset past the end", 68 + 44, {0xFF, 0xFF, 0, 0}},
        {"no face offset", 68 + 44, {0, 0, 0, 0}},
        {"extended metrics past the end", ext + 4, {0xF0, 0xFF, 0, 0}},
        {"driver information past the end", ext + 24, {0xF0, 0xFF, 0, 0}},
        {"sub-record of length 0", driverInfo + 6, {0, 0}},
        {"sub-record type 4", driverInfo + 4, {4, 0}},
        {"sub-records longer than their block", driverInfo, {0xFF, 0x0F}},
        {"character map segments past the end", charMap + 18, {0xFE, 0xFF}},
        {"kerning pairs past the end", u32(ext + 4) + 48, {0xFF, 0x7F}},
        {"widths past the end", 68 + 32, {0xFF, 0x7F}},
        {"symbol-set block past the end", ext + 36, {0xFF, 0xFF, 0xFF, 0}},
    };
    for (const auto& c : cases) {
        Bytes bad = good;
        std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + static_cast<std::ptrdiff_t>(c.at));
        EXPECT_FALSE(ReadFontDescription(bad, 0, 1, false)) << c.what;
    }
    for (size_t cut : {size_t{0}, size_t{1}, size_t{100}, size_t{127}, good.size() / 2}) {
        EXPECT_FALSE(ReadFontDescription(std::span(good).first(cut), 0, 1, false)) << cut;
    }
    Bytes pfm = testing::SecondForm(s);
    pfm[96] = 20;  // last character before the first
    EXPECT_FALSE(ReadFontDescription(pfm, 0, 1, false));
}

// A printer with its model data, list files and printer data.
class FontSummaryTest : public testing::OfficePrinter {
protected:
    void SetUp() override {
        OfficePrinter::SetUp();
        std::filesystem::create_directories(*MapPath(u"C:\\fonts"));
        std::filesystem::create_directories(Host(".PCL").parent_path());
        devmode_ = Devmode(600);
        sources_.model = &model_;
        sources_.printer = printer_;
        sources_.codePage = 1252;
        sources_.readFile = [](const std::string& name) -> std::optional<Bytes> {
            std::ifstream in(*MapPath(AnsiToWide(name)), std::ios::binary);
            if (!in) return std::nullopt;
            return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        };
    }
    static PrivateDevmode Devmode(int16_t quality) {
        PrivateDevmode d{};
        std::u16string name = u"Office";
        std::copy(name.begin(), name.end(), d.dm.dmDeviceName);
        d.dm.dmSpecVersion = 0x401;
        d.dm.dmDriverVersion = kDriverVersion;
        d.dm.dmSize = kPublicDevmodeSize;
        d.dm.dmDriverExtra = kDriverExtraSize;
        d.dm.dmFields = kDefaultDevmodeFields | DM_PRINTQUALITY;
        d.dm.dmPrintQuality = quality;
        d.privateVersion = kPrivateDevmodeVersion;
        std::strcpy(d.modelDisplayName, "Zelquor Tarn 45 XL");
        return d;
    }
    std::filesystem::path Host(const char* ext) { return *MapPath(AnsiToWide(FontFileName(printer_, ext))); }
    // Resident fonts: list 1 of type 265 naming descriptions 258.
    void Resident(const std::vector<FontSpec>& fonts) {
        std::vector<uint8_t> list;
        for (size_t i = 0; i < fonts.size(); ++i) {
            list.push_back(uint8_t(i)), list.push_back(uint8_t(i >> 8));
            model_.SetResource(kFontDescriptionType, uint16_t(i + 1), testing::FirstForm(fonts[i]));
        }
        list.push_back(0xFF), list.push_back(0xFF);
        model_.SetResource(kResidentFontListType, 1, list);
    }
    std::string FontFile(const std::string& name, const Bytes& bytes) {
        const std::string path = "C:\\fonts\\" + name;
        std::ofstream out(*MapPath(AnsiToWide(path)), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    struct Font {
        std::string face;
        uint16_t resourceId, listId, kind;
        uint8_t charSet;
        uint32_t scalable;
        bool operator==(const Font&) const = default;
    };
    std::vector<Font> Fonts(const Bytes& summary) {
        std::vector<Font> out;
        for (const FontSummaryEntry& e : SummaryEntries(summary)) {
            out.push_back({SummaryString(summary, e.strings[0]), e.resourceId, e.listId, e.kind, e.charSet, e.scalable});
        }
        return out;
    }
    std::optional<Bytes> CacheFile() {
        std::ifstream in(Host(".PCL"), std::ios::binary);
        if (!in) return std::nullopt;
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    Bytes Build(const PrivateDevmode& d) { return *BuildFontSummary(d, sources_); }

    MemoryModelData model_;
    FontSummarySources sources_;
    PrivateDevmode devmode_{};
};

FontSpec Face(const std::string& face, bool scalable = true) {
    FontSpec s;
    s.face = face;
    s.scalable = scalable;
    return s;
}

TEST_F(FontSummaryTest, SourcesSortInByFaceName) {
    Resident({Face("Tarn Sans"), Face("symbol"), Face("Courier Mono", false), Face("ZAPFDINGBATS")});
    ASSERT_TRUE(SoftFontAddEntry("Office", FontFile("soft.pfm", testing::SecondForm(Face("Mellow"))).c_str(),
                                 "C:\\dl\\soft.sfp", 4));
    ASSERT_TRUE(PcmAddEntry("Office",
                            FontFile("cart.pcm", testing::Cartridge({testing::SecondForm(Face("Bravo")),
                                                                     testing::SecondForm(Face("Alpha Cart"))}))
                                .c_str(),
                            0));
    const std::string extra = FontFile("extra.pfm", testing::SecondForm(Face("Extra")));
    const std::string value = extra + ";C:\\fonts\\missing.pfm;";
    SetPrinterDataA(printer_, const_cast<LPSTR>("AdditionalFonts"), 3, (LPBYTE)value.c_str(), DWORD(value.size() + 1));
    const Bytes summary = Build(devmode_);
    ASSERT_TRUE(IsValidFontSummary(summary));
    EXPECT_EQ(Fonts(summary), (std::vector<Font>{{"Alpha Cart", 0xFFFF, 1, 1, 0, 1},
                                                 {"Bravo", 0xFFFF, 1, 1, 0, 1},
                                                 {"Courier Mono", 3, 0xFFFF, 2, 0, 0},
                                                 {"Extra", 0xFFFF, 0xFFFF, 1, 0, 1},
                                                 {"Mellow", 0xFFFF, 1, 4, 0, 1},
                                                 {"symbol", 2, 0xFFFF, 2, 2, 1},
                                                 {"Tarn Sans", 1, 0xFFFF, 2, 0, 1},
                                                 {"ZAPFDINGBATS", 4, 0xFFFF, 2, 2, 1}}));
    // The soft font carries its two files, split into directory and name.
    const FontSummaryEntry& mellow = SummaryEntries(summary)[4];
    EXPECT_EQ(SummaryString(summary, mellow.strings[3]), "C:\\fonts\\");
    EXPECT_EQ(SummaryString(summary, mellow.strings[5]), "soft.pfm");
    EXPECT_EQ(SummaryString(summary, mellow.strings[4]), "C:\\dl\\");
    EXPECT_EQ(SummaryString(summary, mellow.strings[6]), "soft.sfp");
    const FontSummaryEntry& tarn = SummaryEntries(summary)[6];
    EXPECT_EQ(tarn.strings[3], kEmptySlot);
    EXPECT_EQ(tarn.metrics[2], 600);  // scaled to the job
    EXPECT_EQ(tarn.designResolution, 300);
    EXPECT_EQ(tarn.symbolSet, 629);
    EXPECT_EQ(tarn.useAge, 0xFFFF);
    // Only scalable fonts with byte 605 set.
    PrivateDevmode scalableOnly = devmode_;
    scalableOnly.pagesPerSheet = 1;
    const auto faces = Fonts(Build(scalableOnly));
    EXPECT_EQ(faces.size(), 7u);
    for (const Font& f : faces) EXPECT_EQ(f.scalable, 1u) << f.face;
    // The independent decoder reads the same block.
    const auto text = testing::Decode("summary", {summary}, root_);
    if (!text) GTEST_SKIP() << "python3 is not available: the decoder cannot run";
    EXPECT_NE((*text)[0].find("summary fonts=8 "), std::string::npos) << (*text)[0];
    EXPECT_NE((*text)[0].find("font 5 face='symbol' res=2 list=65535 kind=2 charset=2"), std::string::npos) << (*text)[0];
}

TEST_F(FontSummaryTest, DoubleByteSystemsAppendFontDb) {
    Resident({Face("Zeta"), Face("Alpha")});
    testing::ByteWriter db;
    const Bytes a = testing::SecondForm(Face("Mincho Test")), b = testing::FirstForm(Face("Gothic Test"));
    db.U32(2), db.U32(12), db.U32(uint32_t(12 + a.size()));
    db.b.insert(db.b.end(), a.begin(), a.end());
    db.b.insert(db.b.end(), b.begin(), b.end());
    sources_.readFontDb = [&] { return std::optional<Bytes>(db.b); };
    sources_.codePage = 932;
    PrivateDevmode d = devmode_;
    d.model.flags392 = 0x8;
    using Names = std::vector<std::string>;
    auto names = [&](const Bytes& s) {
        Names n;
        for (const auto& f : Fonts(s)) n.push_back(f.face);
        return n;
    };
    EXPECT_EQ(names(Build(d)), (Names{"Zeta", "Alpha"}));  // no "DBCSpfm" yet
    SetPrinterDataA(printer_, const_cast<LPSTR>("DBCSpfm"), 3, (LPBYTE) "fontdb", 7);
    EXPECT_EQ(names(Build(d)), (Names{"Zeta", "Alpha", "Mincho Test", "Gothic Test"}));
    d.model.flags392 = 0;
    EXPECT_EQ(names(Build(d)), (Names{"Zeta", "Alpha"}));
    sources_.codePage = 1252;
    d.model.flags392 = 0x8;
    EXPECT_EQ(names(Build(d)), (Names{"Alpha", "Zeta"}));
}

TEST_F(FontSummaryTest, AtMost451Fonts) {
    std::vector<FontSpec> fonts;
    for (int i = 0; i < 460; ++i) fonts.push_back(Face("Face " + std::to_string(1000 + i)));
    Resident(fonts);
    const Bytes summary = Build(devmode_);
    const auto entries = SummaryEntries(summary);
    ASSERT_EQ(entries.size(), 451u);
    EXPECT_EQ(SummaryString(summary, entries.back().strings[0]), "Face 1450");
}

TEST_F(FontSummaryTest, CacheScenarios) {
    Resident({Face("Tarn Sans"), Face("Tarn Serif")});
    const CacheStringSource strings = [](uint16_t id) -> std::optional<std::string> {
        if (id > 15) return std::nullopt;
        return "S" + std::to_string(id) + ";";
    };
    auto refresh = [&](const PrivateDevmode& d) { return RefreshFontSummary(d, printer_, sources_, strings); };
    auto qualities = [&] {
        std::vector<int> q;
        const auto bytes = CacheFile();
        const auto v = ParseCacheFile(*bytes);
        for (const auto& e : v->entries) {
            PrivateDevmode k;
            std::memcpy(&k, e.key.data(), sizeof k);
            q.push_back(k.dm.dmPrintQuality);
        }
        return q;
    };
    ASSERT_TRUE(refresh(devmode_));
    // The header, the strings the dialog library gives, and the stored name.
    auto file = CacheFile();
    ASSERT_TRUE(file);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file->data()), 18), std::string("Version 1.0.0.23 \0", 18));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file->data()) + 28, 12), "S13;S14;S15;");
    EXPECT_EQ(ReadPrinterDataBytes(printer_, "FontSummaryFile").bytes.size(), GetFontSummaryFileName(printer_).size() + 1);
    // Copies and paper size do not matter.
    PrivateDevmode other = devmode_;
    other.dm.dmCopies = 7;
    other.dm.dmPaperSize = 9;
    ASSERT_TRUE(refresh(other));
    EXPECT_EQ(qualities(), (std::vector<int>{600}));
    // Two qualities, newest first; a hit on the third of three rotates.
    ASSERT_TRUE(refresh(Devmode(300)));
    ASSERT_TRUE(refresh(Devmode(1200)));
    EXPECT_EQ(qualities(), (std::vector<int>{1200, 300, 600}));
    const Bytes before = *CacheFile();
    ASSERT_TRUE(FindCachedFontSummary(devmode_, printer_));
    EXPECT_EQ(qualities(), (std::vector<int>{600, 1200, 300}));
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 28 + 12, CacheFile()->begin()));  // header unchanged
    // Without DM_PRINTQUALITY nothing matches: every refresh stores anew.
    PrivateDevmode noQuality = devmode_;
    noQuality.dm.dmFields &= ~DM_PRINTQUALITY;
    ASSERT_TRUE(refresh(noQuality));
    ASSERT_TRUE(refresh(noQuality));
    EXPECT_EQ(qualities(), (std::vector<int>{600, 600, 600, 1200, 300}));
    // The renderer's rule: dmFields equal, so it finds the entry without it.
    EXPECT_TRUE(ReadCachedFontSummary(printer_, noQuality));
    PrivateDevmode fields = devmode_;
    fields.dm.dmFields |= 0x8;
    EXPECT_FALSE(ReadCachedFontSummary(printer_, fields));
    EXPECT_EQ(*ReadCachedFontSummary(printer_, Devmode(300)), Build(Devmode(300)));
    // A summary over 102400 bytes leaves one entry.
    std::vector<FontSpec> many;
    for (int i = 0; i < 400; ++i) many.push_back(Face("Big " + std::to_string(i)));
    Resident(many);
    PrivateDevmode big = Devmode(2400);
    ASSERT_GT(Build(big).size(), 102400u);
    ASSERT_TRUE(refresh(big));
    EXPECT_EQ(qualities(), (std::vector<int>{2400}));
    // A bad tag or key size counts as absent and the file is made anew.
    for (size_t at : {size_t{3}, size_t{18}}) {
        Bytes bad = *CacheFile();
        bad[at] ^= 0x40;
        std::ofstream(Host(".PCL"), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bad.data()), std::streamsize(bad.size()));
        EXPECT_FALSE(FindCachedFontSummary(big, printer_));
        EXPECT_FALSE(ReadCachedFontSummary(printer_, big));
        ASSERT_TRUE(refresh(big));
        EXPECT_EQ(qualities(), (std::vector<int>{2400}));
    }
    // The decoder agrees with the file.
    const auto text = testing::Decode("cache", {*CacheFile()}, root_);
    if (text) {
        EXPECT_NE((*text)[0].find("cache tag='Version 1.0.0.23 ' key=1256 entries=1"), std::string::npos) << (*text)[0];
        EXPECT_NE((*text)[0].find("strings 'S13;S14;S15;'"), std::string::npos);
        EXPECT_NE((*text)[0].find("summary fonts=400 "), std::string::npos);
    }
    EXPECT_TRUE(DeleteFontSummaryFile(u"Office"));
    EXPECT_FALSE(CacheFile());
}

TEST_F(FontSummaryTest, APrinterWithoutANameUsesVfsNone) {
    EXPECT_EQ(GetFontSummaryFileName(nullptr), "VFS_NONE.PCL");
    const std::string name = GetFontSummaryFileName(printer_);
    EXPECT_TRUE(name.ends_with("\\zelOffice.PCL")) << name;
}

TEST_F(FontSummaryTest, ReadersInOtherProcessesSeeWholeEntriesWhileWritersStoreAndRotate) {
    std::vector<FontSpec> fonts;
    for (int i = 0; i < 40; ++i) fonts.push_back(Face("Face " + std::to_string(i)));
    Resident(fonts);
    const int16_t qualities[] = {150, 300, 600, 1200};
    std::vector<Bytes> reference;
    for (int16_t q : qualities) reference.push_back(Build(Devmode(q)));
    EXPECT_TRUE(InChildren(4, [&](int c) {
        bool ok = true;
        for (int round = 0; round < 12; ++round) {
            const int k = (c + round) % 4;
            if (c % 2 == 0) {
                ok = RefreshFontSummary(Devmode(qualities[k]), printer_, sources_, nullptr) && ok;
            } else if (const auto got = ReadCachedFontSummary(printer_, Devmode(qualities[k]))) {
                ok = *got == reference[size_t(k)] && ok;
            }
        }
        return ok;
    }));
    // A writer killed while storing leaves a file that reads whole.
    const pid_t victim = fork();
    ASSERT_GE(victim, 0);
    if (victim == 0) {
        for (;;) StoreFontSummary(Devmode(75), reference[0], printer_, nullptr),
                    RefreshFontSummary(Devmode(int16_t(100 + (getpid() % 7))), printer_, sources_, nullptr);
    }
    // Killed mid-work once it has stored at least once (a loaded machine can
    // take a while to get there).
    for (int i = 0; i < 400 && !ReadCachedFontSummary(printer_, Devmode(75)); ++i) usleep(25000);
    usleep(200000);
    kill(victim, SIGKILL);
    waitpid(victim, nullptr, 0);
    const Bytes last = *CacheFile();
    const auto v = ParseCacheFile(last);
    ASSERT_TRUE(v);
    EXPECT_FALSE(v->damaged);
    for (const auto& e : v->entries) EXPECT_TRUE(IsValidFontSummary(e.summary));
    // The victim's entries may have pushed older ones past the file's size
    // limit; whatever is still there reads as it was stored.
    const auto stored = ReadCachedFontSummary(printer_, Devmode(75));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, reference[0]);
    if (const auto older = ReadCachedFontSummary(printer_, Devmode(600))) {
        EXPECT_EQ(*older, reference[2]);
    }
}

}  // namespace
}  // namespace zq
