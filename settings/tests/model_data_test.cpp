// The shipped model data: the checker finds nothing wrong with it and finds
// each kind of fault put into it; the default record of every model, in the
// US and elsewhere, field by field.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/res_ids.h"
#include "interface/ui_utils.h"
#include "settings/devmode_ops.h"
#include "settings/directory_model_data.h"
#include "settings/model_check.h"

#ifndef ZQ_MODEL_DATA_FILE
#define ZQ_MODEL_DATA_FILE ""
#endif

namespace zq {
namespace {

std::optional<DirectoryModelData> Shipped() {
    const std::filesystem::path path = ZQ_MODEL_DATA_FILE;
    if (path.empty() || !std::filesystem::exists(path)) {
        return std::nullopt;
    }
    return DirectoryModelData::FromFile(path);
}

// The shipped data with some resources replaced or taken away.
class Patched : public ModelData {
public:
    explicit Patched(const ModelData& base) : base_(base) {}
    void Set(uint16_t type, uint16_t id, std::vector<uint8_t> bytes) { patches_[{type, id}] = std::move(bytes); }
    void Remove(uint16_t type, uint16_t id) { patches_[{type, id}] = std::nullopt; }
    std::vector<uint8_t> Get(uint16_t type, uint16_t id) const {
        std::vector<uint8_t> b(Resource(type, id, {}));
        Resource(type, id, b);
        return b;
    }
    size_t Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const override {
        const auto it = patches_.find({type, id});
        if (it == patches_.end()) {
            return base_.Resource(type, id, out);
        }
        if (!it->second) {
            return 0;
        }
        const auto& b = *it->second;
        if (const size_t n = std::min(out.size(), b.size()); n > 0) {
            std::memcpy(out.data(), b.data(), n);
        }
        return b.size();
    }
    std::optional<std::string> String(uint16_t id) const override { return base_.String(id); }

private:
    const ModelData& base_;
    std::map<std::pair<uint16_t, uint16_t>, std::optional<std::vector<uint8_t>>> patches_;
};

class ShippedModels : public ::testing::Test {
protected:
    void SetUp() override {
        data = Shipped();
        if (!data) {
            GTEST_SKIP() << "drvui's resource file is not built";
        }
    }
    PrivateDevmode Default(int index, bool usa, uint32_t codePage = 1252) {
        // The shipped pclrend.ini maps each model's own name to it, so the
        // model string serves as the driver name (239).
        PrivateDevmode r{};
        CopyStringPadded(r.modelName, data->String(static_cast<uint16_t>(res::kModelStringBase + index)).value_or(""));
        BuildDefaultDevmode(r, *data, {usa, codePage, index});
        return r;
    }
    std::optional<DirectoryModelData> data;
};

TEST_F(ShippedModels, CheckerFindsNothing) {
    int models = 0;
    const auto problems = CheckModelData(*data, &models);
    EXPECT_EQ(models, 5);
    for (const auto& p : problems) ADD_FAILURE() << p;
}

TEST_F(ShippedModels, CheckerFindsBrokenReferencesAndSizes) {
    auto u16 = [](std::vector<uint8_t>& b, size_t at, uint16_t v) {
        b[at] = v & 0xFF;
        b[at + 1] = v >> 8;
    };
    auto u32 = [&](std::vector<uint8_t>& b, size_t at, uint32_t v) {
        u16(b, at, static_cast<uint16_t>(v));
        u16(b, at + 2, static_cast<uint16_t>(v >> 16));
    };
    auto U32 = [](const std::vector<uint8_t>& b, size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    };
    // A resident description's driver information: the extension stands
    // behind the 2 x n widths (n at 100), its seventh offset names the block.
    auto DriverInfoAt = [&](const std::vector<uint8_t>& b) -> size_t {
        const size_t n = b[100] | b[101] << 8;
        return U32(b, 128 + 2 * n + 24);
    };
    struct Case {
        const char* what;
        std::function<void(Patched&)> breakIt;
        const char* expected;
    };
    const Case cases[] = {
        {"missing model record", [](Patched& p) { p.Remove(260, 10501); }, "model record 10501"},
        {"short model record", [](Patched& p) { p.Set(260, 10502, std::vector<uint8_t>(80)); }, "not 82"},
        {"missing source table", [](Patched& p) { p.Remove(259, 2); }, "type 259 id 2 is missing"},
        {"source table too long", [](Patched& p) { p.Set(259, 1, std::vector<uint8_t>(273)); }, "readers take 272"},
        {"source count beyond bytes",
         [&](Patched& p) { auto b = p.Get(259, 1); u16(b, 0, 9); p.Set(259, 1, b); }, "do not hold"},
        {"default source outside",
         [&](Patched& p) { auto b = p.Get(259, 3); u16(b, 2, 3); p.Set(259, 3, b); }, "default paper source"},
        {"slot values missing", [](Patched& p) { p.Remove(267, 2); }, "type 267 id 2 is missing"},
        {"slot default not a value",
         [&](Patched& p) { auto b = p.Get(267, 2); b[2] = 9; p.Set(267, 2, b); }, "not among its values"},
        {"resolution default outside",
         [&](Patched& p) { auto b = p.Get(261, 3); u16(b, 0, 1); p.Set(261, 3, b); }, "default resolution"},
        {"paper row missing", [](Patched& p) { p.Remove(300, 3); }, "paper table row 2 is missing"},
        {"paper geometry outside",
         [&](Patched& p) { auto b = p.Get(300, 1); u16(b, 4 + 4, 999); p.Set(300, 1, b); }, "geometry row 999"},
        {"paper mask of two bits",
         [&](Patched& p) { auto b = p.Get(300, 1); u16(b, 4, 3); p.Set(300, 1, b); }, "has an entry with mask 3"},
        {"too many paper entries",
         [&](Patched& p) { auto b = p.Get(300, 2); u16(b, 0, 25); p.Set(300, 2, b); }, "exceeds 24"},
        {"code-page row missing",
         [&](Patched& p) { auto b = p.Get(276, 2); u16(b, 8 + 4, 40); p.Set(276, 2, b); }, "code-page row 40"},
        {"limits reversed",
         [&](Patched& p) { auto b = p.Get(279, 3); u16(b, 2, 20000); p.Set(279, 3, b); }, "minimum below maximum"},
        {"custom size without limits",
         [&](Patched& p) { auto b = p.Get(260, 10503); u16(b, 386 - 340, 0xFFFF); p.Set(260, 10503, b); },
         "offers custom size but the model names no custom-paper limits"},
        {"custom size with empty limits",
         [&](Patched& p) { p.Set(279, 3, std::vector<uint8_t>(8)); }, "row 1 offers custom size"},
        {"source never installable",
         [&](Patched& p) { auto b = p.Get(277, 3); u16(b, 2, 0x0003); p.Set(277, 3, b); },
         "paper source 4 is outside the installed mask"},
        {"installable tray not listed",
         [&](Patched& p) { auto b = p.Get(277, 2); u16(b, 0, 1); p.Set(277, 2, b); },
         "paper source 257 is outside the installed mask"},
        {"control of unknown kind",
         [&](Patched& p) { auto b = p.Get(283, 1); u16(b, 2 + 2, 18); p.Set(283, 1, b); }, "has unknown kind 18"},
        {"control type out of range",
         [&](Patched& p) { auto b = p.Get(283, 2); u16(b, 2, 125); p.Set(283, 2, b); }, "125 is not a control type"},
        {"control type repeated",
         [&](Patched& p) { auto b = p.Get(283, 3); u16(b, 12, 1); p.Set(283, 3, b); }, "control type 1 is repeated"},
        {"control count beyond bytes",
         [&](Patched& p) { auto b = p.Get(283, 4); u16(b, 0, 40); p.Set(283, 4, b); }, "do not hold"},
        {"pair control without pair table",
         [&](Patched& p) { auto b = p.Get(260, 10500); u16(b, 364 - 340, 0xFFFF); p.Set(260, 10500, b); },
         "control type 16 of kind 8 needs the model's pair table"},
        {"adjustment control without adjustment table",
         [&](Patched& p) { auto b = p.Get(283, 1); u16(b, 2 + 2, 12); p.Set(283, 1, b); },
         "control type 1 of kind 12 needs the model's adjustment table"},
        {"option list missing", [](Patched& p) { p.Remove(270, 1); },
         "control type 42 names option list type 270 id 1, which is missing"},
        {"option list too long",
         [&](Patched& p) { auto b = p.Get(270, 1); u16(b, 0, 19); p.Set(270, 1, b); }, "do not fit"},
        {"font list missing", [](Patched& p) { p.Remove(265, 2); }, "font list 2 is missing"},
        {"font description missing", [](Patched& p) { p.Remove(258, 38); }, "font list 1: font 38 has no description"},
        {"font description damaged",
         [&](Patched& p) { auto b = p.Get(258, 1); b.resize(b.size() / 2); p.Set(258, 1, b); },
         "font list 1: font 1 does not read as a font description"},
        {"font description of another size",
         [&](Patched& p) { auto b = p.Get(258, 5); b.push_back(0); p.Set(258, 5, b); },
         "font 5 is not a resident description of its own size"},
        {"font listed twice",
         [&](Patched& p) { auto b = p.Get(265, 1); u16(b, 2, 0); p.Set(265, 1, b); }, "font 1 is listed twice"},
        {"font list without end",
         [&](Patched& p) { auto b = p.Get(265, 3); b.erase(b.end() - 2, b.end()); p.Set(265, 3, b); },
         "font list 3 has no end mark"},
        // Font 2 is the bold of font 1's face. Its driver information (the
        // seventh offset of the extension behind the widths) holds the
        // selection string's offset at 12 and the PCL XL name's at 28.
        {"PCL XL name shared by two styles",
         [&](Patched& p) { auto b = p.Get(258, 2); u32(b, DriverInfoAt(b) + 28, 0); p.Set(258, 2, b); },
         "font list 1: font 2 shares the PCL XL name \"Zel Roman\" with font 1 of another style"},
        {"PCL XL name too long",
         [&](Patched& p) {
             auto b = p.Get(258, 3);
             const size_t info = DriverInfoAt(b);
             u32(b, info + 28, U32(b, info + 12));
             p.Set(258, 3, b);
         },
         "font 3: PCL XL name \"\x1b(#SYMSET"},
        // Installable sources: tray 3 is entry 4 and tray 4 entry 5 of the
        // Tarn's source table (entries of 24 bytes from byte 8).
        {"capacity list missing", [](Patched& p) { p.Remove(285, 1); }, "type 285 id 1 is missing"},
        {"capacity list too long", [](Patched& p) { p.Set(285, 2, std::vector<uint8_t>(73)); }, "readers take 72"},
        {"capacities of one class",
         [&](Patched& p) { auto b = p.Get(285, 1); u16(b, 8 + 8 + 2, 200); p.Set(285, 1, b); }, "share a class"},
        {"capacity of no sheets",
         [&](Patched& p) { auto b = p.Get(285, 2); u16(b, 8 + 2, 0); p.Set(285, 2, b); }, "capacity of 0 sheets"},
        {"capacities without a field",
         [&](Patched& p) { auto b = p.Get(259, 2); b[8 + 24 * 4 + 13] = 0; p.Set(259, 2, b); },
         "paper source 3 has capacities but no two-bit field"},
        {"unknown config field",
         [&](Patched& p) { auto b = p.Get(259, 2); b[8 + 24 * 4 + 12] = 7; p.Set(259, 2, b); },
         "names \"PrinterConfig\" field 7"},
        {"unknown config kind",
         [&](Patched& p) { auto b = p.Get(259, 2); b[8 + 24 * 5 + 13] = 2; p.Set(259, 2, b); },
         "paper source 257 has \"PrinterConfig\" kind 2"},
        {"config field shared",
         [&](Patched& p) { auto b = p.Get(259, 2); b[8 + 24 * 5 + 12] = 2; p.Set(259, 2, b); },
         "paper source 257 shares its \"PrinterConfig\" field"},
        {"installables missing", [](Patched& p) { p.Remove(274, 2); }, "type 274 id 2 is missing"},
        {"installables too long", [](Patched& p) { p.Set(274, 2, std::vector<uint8_t>(145)); }, "readers take 144"},
        {"option without a code",
         [&](Patched& p) { auto b = p.Get(274, 2); u16(b, 8, 99); p.Set(274, 2, b); },
         "installable option 99 has no code in the option-code table"},
        {"option mask repeated",
         [&](Patched& p) { auto b = p.Get(274, 2); u16(b, 8 + 8 + 4, 0x01); p.Set(274, 2, b); },
         "installable option 2 needs a mask bit of its own"},
        {"geometry past the paper",
         [&](Patched& p) { auto b = p.Get(301, 1); u16(b, 8, 5000); p.Set(301, 1, b); }, "leaves the paper"},
    };
    for (const auto& c : cases) {
        Patched p(*data);
        c.breakIt(p);
        const auto problems = CheckModelData(p);
        bool found = false;
        for (const auto& line : problems) found = found || line.find(c.expected) != std::string::npos;
        EXPECT_TRUE(found) << c.what << ": expected \"" << c.expected << "\"";
    }
}

struct Golden {
    int index;
    const char* name;
    SHORT source;
    SHORT quality;
    SHORT color;
    SHORT ttOption;
    SHORT collate;
    DWORD fields;
    DWORD icmMethod;
    WORD resolutions[5];
    BYTE feature232;
    BYTE language229;
    BYTE option231;
    BYTE pair233, pair234;
    BYTE duplex459, count460, switch453, switch458;
    WORD sources462, options464, memory434;
    BYTE swEnable;
    WORD slotCodes[4];
    BYTE slotValues[4];
};

const Golden kGoldens[] = {
    {0, "Zelquor Mira 12", 1, 600, 1, 1, 0, 0x04007703, 0, {600, 300, 0, 0, 0}, 1, 1, 2, 1, 0,
     3, 0, 0, 0, 0xFFFF, 0, 8, 0, {0, 0, 0, 0}, {0, 0, 0, 0}},
    {1, "Zelquor Tarn 45 XL", 1, 600, 1, 2, 1, 0x04007703 | DM_COLLATE, 0, {1200, 600, 300, 0, 0}, 1, 2, 3, 2, 1,
     3, 1, 1, 1, 0x000F, 0x0021, 32, 0, {1, 2, 3, 257}, {0, 1, 0, 0}},
    {2, "Zelquor Corvo C30", 1, 600, 2, 2, 1, 0x04007703 | DM_COLLATE | DM_COLOR | DM_ICMMETHOD | DM_ICMINTENT, 1,
     {600, 0, 0, 0, 0}, 1, 4, 1, 0, 0, 0, 0, 1, 1, 0x0007, 0, 64, 0, {0, 0, 0, 0}, {0, 0, 0, 0}},
    {3, "Ovra Zelquor Lite 8", 1, 300, 1, 2, 0, 0x04007703 | DM_COLOR | DM_ICMMETHOD | DM_ICMINTENT, 1,
     {300, 300, 300, 300, 300}, 0, 1, 0, 0, 0, 2, 0, 1, 1, 0xFFFF, 0, 4, 1, {0, 0, 0, 0}, {0, 0, 0, 0}},
    {4, "Zelquor Corvo C30 Photo", 1, 600, 2, 2, 1, 0x04007703 | DM_COLLATE | DM_COLOR | DM_ICMMETHOD | DM_ICMINTENT, 1,
     {600, 0, 0, 0, 0}, 1, 4, 1, 0, 0, 0, 0, 1, 1, 0x0007, 0, 64, 0, {0, 0, 0, 0}, {0, 0, 0, 0}},
};

TEST_F(ShippedModels, GoldenDefaults) {
    for (const bool usa : {true, false}) {
        for (const auto& g : kGoldens) {
            const PrivateDevmode r = Default(g.index, usa);
            SCOPED_TRACE(std::string(g.name) + (usa ? " in the US" : " elsewhere"));
            EXPECT_TRUE(IsValidPrivateDevmode(r));
            EXPECT_TRUE(IsDevmodeCrcValid(r));
            EXPECT_STREQ(r.modelDisplayName, g.name);
            EXPECT_EQ(r.dm.dmPaperSize, usa ? DMPAPER_LETTER : DMPAPER_A4);
            EXPECT_EQ(r.dm.dmFields, g.fields);
            EXPECT_EQ(r.dm.dmOrientation, 1);
            EXPECT_EQ(r.dm.dmCopies, 1);
            EXPECT_EQ(r.dm.dmDefaultSource, g.source);
            EXPECT_EQ(r.dm.dmPrintQuality, g.quality);
            EXPECT_EQ(r.dm.dmYResolution, g.quality);
            EXPECT_EQ(r.dm.dmColor, g.color);
            EXPECT_EQ(r.dm.dmDuplex, 1);
            EXPECT_EQ(r.dm.dmTTOption, g.ttOption);
            EXPECT_EQ(r.dm.dmCollate, g.collate);
            EXPECT_EQ(r.dm.dmICMMethod, g.icmMethod);
            EXPECT_EQ(r.dm.dmICMIntent, g.icmMethod * 2);
            EXPECT_EQ(r.dm.dmMediaType, 1u);
            EXPECT_EQ(r.dm.dmDitherType, 3u);
            for (int i = 0; i < 5; ++i) EXPECT_EQ(r.resolutions[i], g.resolutions[i]) << "slot " << i;
            EXPECT_EQ(r.defaultResolution, static_cast<WORD>(g.quality));
            EXPECT_EQ(r.resolutionFeature, g.feature232);
            EXPECT_EQ(r.printerLanguage, g.language229);
            EXPECT_EQ(r.option231, g.option231);
            EXPECT_EQ(r.pairFirst, g.pair233);
            EXPECT_EQ(r.pairSecond, g.pair234);
            EXPECT_EQ(r.duplexOptions, g.duplex459);
            EXPECT_EQ(r.count460, g.count460);
            EXPECT_EQ(r.switch453, g.switch453);
            EXPECT_EQ(r.switch458, g.switch458);
            EXPECT_EQ(r.installedSourceMask, g.sources462);
            EXPECT_EQ(r.installedOptions, g.options464);
            EXPECT_EQ(r.memoryMegabytes, g.memory434);
            EXPECT_EQ(r.swEnable, g.swEnable);
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(r.slotSourceCodes[i], g.slotCodes[i]) << "slot " << i;
                EXPECT_EQ(r.slotValues[i], g.slotValues[i]) << "slot " << i;
            }
            EXPECT_EQ(r.slotSourceCodes[4], 0);
            // Defaults every model shares.
            EXPECT_EQ(r.switch225, 1);
            EXPECT_EQ(r.nonCjkSwitch, 1);
            EXPECT_EQ(r.metaSpool, 2);
            EXPECT_EQ(r.metaSpoolResolved, 255);
            EXPECT_EQ(r.graphicsModeResolved, 255);
            EXPECT_EQ(r.darknessLevel, 2);
            EXPECT_EQ(r.option449, 1);
            EXPECT_EQ(r.switch603, 1);
            EXPECT_EQ(r.adjustments[2], 10);
            EXPECT_EQ(r.adjustments[6], 10);
            EXPECT_EQ(r.adjustments[10], 10);
            EXPECT_EQ(r.option1078, 1);
            EXPECT_EQ(r.switch1090, 1);
            EXPECT_EQ(r.number1091, 16);
            EXPECT_EQ(r.option1093, 1);
            EXPECT_EQ(r.collateAllowed, 1);
            EXPECT_EQ(r.option1228, 1);
            EXPECT_EQ(r.switch1237, 1);
            EXPECT_EQ(r.switch1238, 1);
            EXPECT_EQ(r.fontSets1, 0x80000001u);
            // The resident-font lists (word 352): one per model, none for
            // Ovra; the Corvo C30 Photo has the Corvo's.
            constexpr uint16_t kFontLists[] = {0, 1, 2, 0xFFFF, 2};
            EXPECT_EQ(r.model.fontListId, kFontLists[g.index]);
            EXPECT_EQ(r.profileKind, 4u);
            EXPECT_EQ(r.profileId[0], 1u);
        }
    }
}

// Every model that offers custom size keeps a size within its limits (the
// checker proves the limits are there; this proves the merge reads them).
TEST_F(ShippedModels, CustomSizeIsKeptWhereOffered) {
    for (int index = 0; index < 4; ++index) {
        const PrivateDevmode base = Default(index, true);
        SCOPED_TRACE(base.modelDisplayName);
        if ((GetModelPaperMask(*data, base.model.paperTableRow) & kCustomSizeMaskBit) == 0) {
            continue;
        }
        PrivateDevmode app = base;
        app.dm.dmFields = DM_PAPERSIZE;
        app.dm.dmPaperSize = 257;
        app.dm.dmPaperWidth = 1778;   // 7 x 9 inches
        app.dm.dmPaperLength = 2286;
        PrivateDevmode out{};
        ValidateDevmodeForModel(out, DevmodeBytes(app), base, *data, {});
        EXPECT_EQ(out.dm.dmPaperWidth, 1778);
        EXPECT_EQ(out.dm.dmPaperLength, 2286);
    }
}

TEST_F(ShippedModels, CodePageSwitches) {
    struct Case { int index; uint32_t cp; BYTE s226, s1227; };
    const Case cases[] = {
        {1, 936, 0, 1}, {1, 950, 0, 0}, {1, 1252, 1, 0}, {2, 950, 0, 1}, {2, 949, 0, 1}, {2, 936, 0, 0}, {0, 932, 0, 0},
    };
    for (const auto& c : cases) {
        const PrivateDevmode r = Default(c.index, true, c.cp);
        EXPECT_EQ(r.nonCjkSwitch, c.s226) << c.index << " " << c.cp;
        EXPECT_EQ(r.cjkSwitch, c.s1227) << c.index << " " << c.cp;
    }
}

}  // namespace
}  // namespace zq
