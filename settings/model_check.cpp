#include "settings/model_check.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "common/res_ids.h"
#include "interface/control_records.h"
#include "interface/ui_utils.h"
#include "settings/devmode.h"
#include "settings/font_description.h"
#include "settings/font_summary.h"
#include "settings/tag_tables.h"

namespace zq {

namespace {

struct Checker {
    const ModelData& data;
    std::vector<std::string> problems;
    std::string where;

    void Fail(const std::string& what) { problems.push_back(where + ": " + what); }

    size_t Size(uint16_t type, uint16_t id) const { return data.Resource(type, id, {}); }

    std::vector<uint8_t> Bytes(uint16_t type, uint16_t id) const {
        std::vector<uint8_t> b(Size(type, id));
        data.Resource(type, id, b);
        return b;
    }

    static uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
        return at + 1 < b.size() ? static_cast<uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
    }

    // A table of `count` entries of `entry` bytes from `first`, within `limit`.
    bool Table(uint16_t type, uint16_t id, size_t limit, size_t first, size_t entry, size_t countAt = 0) {
        const auto b = Bytes(type, id);
        const std::string name = "type " + std::to_string(type) + " id " + std::to_string(id);
        if (b.empty()) {
            Fail(name + " is missing");
            return false;
        }
        if (b.size() > limit) {
            Fail(name + " has " + std::to_string(b.size()) + " bytes, readers take " + std::to_string(limit));
            return false;
        }
        if (entry > 0) {
            const size_t count = U16(b, countAt);
            if (first + count * entry > b.size()) {
                Fail(name + " counts " + std::to_string(count) + " entries that its bytes do not hold");
                return false;
            }
        }
        return true;
    }

    uint16_t Ref(uint16_t word) const { return static_cast<uint16_t>(word + 1); }

    // What an installable source keeps in "PrinterConfig": a field of its
    // own of a kind the record has, and capacities that name a class.
    void SourceConfig(const SourceTable& t) {
        std::set<std::pair<uint8_t, uint8_t>> fields;
        for (const SourceEntry& e : t.entries) {
            const std::string source = "paper source " + std::to_string(e.code);
            const bool knownField = e.configField == 0 || (e.configField >= 1 && e.configField <= 5) ||
                                    e.configField == 32 || e.configField == 33 || e.configField == 48;
            if (!knownField) Fail(source + " names \"PrinterConfig\" field " + std::to_string(e.configField));
            if (e.configKind != 0 && e.configKind != 1 && e.configKind != 3) {
                Fail(source + " has \"PrinterConfig\" kind " + std::to_string(e.configKind));
            }
            if (e.configKind == 1 && e.configField == 0) Fail(source + " has kind 1 but no field");
            if (e.configKind != 0 && !fields.insert({e.configKind, e.configKind == 3 ? 0 : e.configField}).second) {
                Fail(source + " shares its \"PrinterConfig\" field with another source");
            }
            if (e.capacityListId == 0) continue;
            if (e.configKind != 1) Fail(source + " has capacities but no two-bit field to record them");
            if (!Table(res::kCapacityList, e.capacityListId, kCapacityListSize, 8, 8)) continue;
            const auto caps = ReadCapacityList(data, e.capacityListId);
            if (caps.empty()) Fail(source + ": capacity list " + std::to_string(e.capacityListId) + " is empty");
            std::set<int> classes;
            for (const SourceCapacity& c : caps) {
                const int sheets = std::abs(static_cast<int>(c.capacity));
                if (sheets == 0) Fail(source + " has a capacity of 0 sheets");
                // Export finds a capacity again by the class it recorded.
                const int cls = sheets <= 250 ? 1 : sheets <= 550 ? 2 : 3;
                if (!classes.insert(cls).second) {
                    Fail(source + ": two capacities of list " + std::to_string(e.capacityListId) + " share a class");
                }
            }
        }
    }

    // Installable options: codes the driver's option-code table carries,
    // and a mask bit of their own.
    void Installables(const std::vector<InstallableOption>& options) {
        uint16_t seen = 0;
        for (const InstallableOption& o : options) {
            const std::string option = "installable option " + std::to_string(o.code);
            const auto codes = OptionCodeMap();
            if (std::none_of(codes.begin(), codes.end(), [&](const ValuePair& p) { return p.field == o.code; })) {
                Fail(option + " has no code in the option-code table");
            }
            if (std::popcount(o.mask) != 1 || (seen & o.mask) != 0) Fail(option + " needs a mask bit of its own");
            seen |= o.mask;
        }
    }

    void Model(int index) {
        where = "model " + std::to_string(index);
        const auto name = data.String(static_cast<uint16_t>(res::kModelStringBase + index));
        if (name->size() >= 32) {
            Fail("model string is longer than 31 characters");
        }
        where += " (" + *name + ")";
        const auto bytes = Bytes(res::kModelRecord, static_cast<uint16_t>(res::kModelRecordBase + index));
        if (bytes.size() != sizeof(ModelRecord)) {
            Fail("model record " + std::to_string(res::kModelRecordBase + index) + " has " +
                 std::to_string(bytes.size()) + " bytes, not 82");
            return;
        }
        ModelRecord m;
        std::memcpy(&m, bytes.data(), sizeof m);
        if (m.dialogSelector > 45) {
            Fail("dialog selector above 45");
        }

        size_t sourceCount = 0;
        if (m.sourceTableId != kNoResource &&
            Table(res::kSourceTable, Ref(m.sourceTableId), kSourceTableSize, 8, kSourceEntrySize)) {
            const SourceTable t = ReadSourceTable(data, Ref(m.sourceTableId));
            sourceCount = t.entries.size();
            if (t.defaultIndex >= t.entries.size()) {
                Fail("default paper source " + std::to_string(t.defaultIndex) + " is not an entry");
            }
            uint16_t seen = 0;
            std::set<uint16_t> codes;
            for (const auto& e : t.entries) {
                if (std::popcount(e.mask) != 1 || (seen & e.mask) != 0) {
                    Fail("paper source " + std::to_string(e.code) + " needs a mask bit of its own");
                }
                seen |= e.mask;
                if (e.code == 0 || !codes.insert(e.code).second) {
                    Fail("paper source code " + std::to_string(e.code) + " is zero or repeated");
                }
            }
            SourceConfig(t);
        }
        if (m.resolutionTableId != kNoResource &&
            Table(res::kResolutionTable, Ref(m.resolutionTableId), kResolutionTableSize, 8, 8, 2)) {
            const ResolutionTable t = ReadResolutionTable(data, Ref(m.resolutionTableId));
            const auto b = Bytes(res::kResolutionTable, Ref(m.resolutionTableId));
            if (t.entries.size() != U16(b, 2)) {
                Fail("resolution table counts entries with a resolution of 0");
            }
            if (t.defaultIndex >= t.entries.size()) {
                Fail("default resolution is not an entry");
            }
        }
        if (m.languageId != kNoResource) {
            Table(res::kLanguage, Ref(m.languageId), 8, 0, 0);
        }
        if (m.optionId != kNoResource) {
            Table(res::kOption231, Ref(m.optionId), 8, 0, 0);
            if (Size(res::kOption231Override, Ref(m.optionId)) > 8) {
                Fail("type 284 longer than 8 bytes");
            }
        }
        if (m.installableId != kNoResource &&
            Table(res::kInstallables, Ref(m.installableId), kInstallablesSize, 8, 8)) {
            Installables(ReadInstallables(data, Ref(m.installableId)));
        }
        if (m.pairTableId != kNoResource) {
            Table(res::kPairTable, Ref(m.pairTableId), kPairTableSize, 8, 16);
        }
        if (m.slotTableId != kNoResource &&
            Table(res::kSlotTable, Ref(m.slotTableId), kSlotTableSize, 8, 8)) {
            for (const auto& row : ReadSlotTable(data, Ref(m.slotTableId))) {
                if (!Table(res::kSlotValues, row.valuesId, kSlotValuesSize, 8, 6)) {
                    continue;
                }
                const SlotValues v = ReadSlotValues(data, row.valuesId);
                bool found = false;
                for (const auto& x : v.values) found = found || x.value == v.defaultValue;
                if (!found) {
                    Fail("default of slot values " + std::to_string(row.valuesId) + " is not among its values");
                }
            }
            if (sourceCount > 11) {
                Fail("more paper sources than the eleven slots");
            }
        }
        if (m.codePageId != kNoResource &&
            Table(res::kCodePageList, Ref(m.codePageId), kCodePageListSize, 8, 8)) {
            for (const auto& cp : ReadCodePageList(data, Ref(m.codePageId))) {
                if (!ReadCodePageRow(data, cp.tableIndex)) {
                    Fail("code page " + std::to_string(cp.codePage) + " names code-page row " +
                         std::to_string(cp.tableIndex) + ", which is missing");
                }
            }
        }
        if (m.trayTableId != kNoResource && Table(res::kTrayTable, Ref(m.trayTableId), 48, 8, 8)) {
            Installable(m);
        }
        if (m.binTableId != kNoResource) {
            Table(res::kBinTable, Ref(m.binTableId), 80, 8, 8);
        }
        if (m.paperLimitsId != kNoResource && Table(res::kPaperLimits, Ref(m.paperLimitsId), 8, 0, 0)) {
            const CustomPaperLimits l = ReadCustomPaperLimits(data, Ref(m.paperLimitsId));
            if (Size(res::kPaperLimits, Ref(m.paperLimitsId)) != 8 || l.minWidth > l.maxWidth ||
                l.minLength > l.maxLength) {
                Fail("custom-paper limits are not four words of minimum below maximum");
            }
        }
        PaperRow(m.paperTableRow);
        CustomSizeLimits(m);
        if (m.controlTableId != kNoResource) {
            Controls(m);
        }
        if (m.fontListId != kNoResource) {
            Fonts(Ref(m.fontListId));
        }
    }

    // The resident-font list (type 265): 16-bit values ended by a negative
    // one, each naming a description (type 258, value + 1) that reads as a
    // whole font, at most once, and no more fonts than a summary takes. A
    // PCL XL printer selects a font by its name alone (the second text, else
    // the face), so each name fits the font-name field and names fonts of
    // one style only.
    void Fonts(uint16_t listId) {
        const auto list = Bytes(res::kFontList, listId);
        const std::string name = "font list " + std::to_string(listId);
        if (list.empty()) {
            Fail(name + " is missing");
            return;
        }
        std::set<int> seen;
        struct Style {
            uint16_t id;
            uint16_t weight;
            uint8_t italic;
        };
        std::map<std::string, Style> xlNames;
        size_t at = 0;
        for (; at + 2 <= list.size(); at += 2) {
            const int16_t v = static_cast<int16_t>(U16(list, at));
            if (v < 0) break;
            const uint16_t id = static_cast<uint16_t>(v + 1);
            const std::string font = name + ": font " + std::to_string(id);
            if (!seen.insert(v).second) Fail(font + " is listed twice");
            const auto d = Bytes(res::kFontDescription, id);
            if (d.empty()) {
                Fail(font + " has no description");
                continue;
            }
            const auto f = ReadFontDescription(d, 0, 2, false);
            if (!f) {
                Fail(font + " does not read as a font description");
                continue;
            }
            if (U16(d, 0) != kResidentFormat || d.size() < 8 || (d[4] | d[5] << 8 | d[6] << 16 | uint32_t(d[7]) << 24) != d.size()) {
                Fail(font + " is not a resident description of its own size");
            }
            if (f->charMap.empty() || f->panose.empty() || f->symbolSets.empty() || f->selection.empty()) {
                Fail(font + " lacks a character map, PANOSE, symbol sets or selection string");
            }
            const std::string xlName = f->secondText.empty() ? f->face : f->secondText;
            const size_t field = f->metrics.charSet == 129 ? 20 : 16;
            if (xlName.size() > field) {
                Fail(font + ": PCL XL name \"" + xlName + "\" is longer than " + std::to_string(field) + " bytes");
            }
            const Style style{id, f->metrics.weight, f->metrics.italic};
            const auto [known, added] = xlNames.emplace(xlName, style);
            if (!added && (known->second.weight != style.weight || known->second.italic != style.italic)) {
                Fail(font + " shares the PCL XL name \"" + xlName + "\" with font " + std::to_string(known->second.id) +
                     " of another style");
            }
        }
        if (at + 2 > list.size()) Fail(name + " has no end mark");
        if (seen.size() > static_cast<size_t>(kMaxSummaryFonts)) {
            Fail(name + " has " + std::to_string(seen.size()) + " fonts, a summary takes " +
                 std::to_string(kMaxSummaryFonts));
        }
    }

    // The control table: whole entries of known types and kinds, each type
    // once, and every table a control's record is built from.
    void Controls(const ModelRecord& m) {
        const uint16_t id = Ref(m.controlTableId);
        if (!Table(res::kControlTable, id, kControlTableSize, 2, kControlEntrySize)) {
            return;
        }
        const auto b = Bytes(res::kControlTable, id);
        std::set<uint16_t> types;
        for (size_t i = 0; i < U16(b, 0); ++i) {
            const uint16_t type = U16(b, 2 + 10 * i);
            const uint16_t kind = U16(b, 4 + 10 * i);
            const std::string what = "control type " + std::to_string(type);
            if (type < kFirstControlType || type > kLastControlType || type == kListHeaderType) {
                Fail(what + " is not a control type");
                continue;
            }
            if (kind != kNoRecordKind && ControlRecordLength(kind) == 0) {
                Fail(what + " has unknown kind " + std::to_string(kind));
                continue;
            }
            if (!types.insert(type).second) {
                Fail(what + " is repeated");
            }
            auto needs = [&](uint16_t word, uint16_t resourceType, const char* table) {
                if (word == kNoResource || Size(resourceType, Ref(word)) == 0) {
                    Fail(what + " of kind " + std::to_string(kind) + " needs the model's " + table);
                }
            };
            switch (kind) {
                case 3: needs(m.sourceTableId, res::kSourceTable, "paper-source table"); break;
                case 6: needs(m.resolutionTableId, res::kResolutionTable, "resolution table"); break;
                case 8: needs(m.pairTableId, res::kPairTable, "pair table"); break;
                case 9: needs(m.slotTableId, res::kSlotTable, "slot table"); break;
                case 12: needs(m.id272, 272, "adjustment table"); break;
                case 7: {
                    const auto list = FindOptionList(type, m);
                    if (!list) {
                        Fail(what + " of kind 7 has no option list");
                        break;
                    }
                    const size_t size = Size(list->resource, list->id);
                    if (list->id == 0 || size == 0) {
                        Fail(what + " names option list type " + std::to_string(list->resource) + " id " +
                             std::to_string(list->id) + ", which is missing");
                        break;
                    }
                    const auto l = Bytes(list->resource, list->id);
                    // The language and option values keep their own 8 bytes;
                    // only a list beyond them is read as entries.
                    const size_t count = U16(l, 0);
                    if (count > kOptionChoicesKept || 8 + count * list->entrySize > std::max<size_t>(size, 8)) {
                        Fail(what + " has an option list of " + std::to_string(count) +
                             " entries that do not fit");
                    }
                    break;
                }
                default: break;
            }
        }
    }

    // A paper source outside the installed mask (462) can be chosen only
    // once it is installed, and only the installable trays of type 277 ever
    // are: any other such source is offered and can never be used.
    void Installable(const ModelRecord& m) {
        if (m.sourceTableId == kNoResource) {
            return;
        }
        const auto trays = Bytes(res::kTrayTable, Ref(m.trayTableId));
        const uint16_t installed = U16(trays, 2);
        std::set<uint16_t> installable;
        for (size_t i = 0; i < U16(trays, 0); ++i) {
            installable.insert(U16(trays, 8 + 8 * i));
        }
        for (const auto& e : ReadSourceTable(data, Ref(m.sourceTableId)).entries) {
            if ((e.mask & installed) == 0 && installable.count(e.code) == 0) {
                Fail("paper source " + std::to_string(e.code) +
                     " is outside the installed mask and no installable tray, so it can never be installed");
            }
        }
    }

    // A row that offers custom size needs limits to take a size within; the
    // merge turns every custom size into 0 x 0 without them.
    void CustomSizeLimits(const ModelRecord& m) {
        bool offered = false;
        for (const auto& e : ReadPaperTableRow(data, m.paperTableRow)) {
            offered = offered || e.mask == kCustomSizeMaskBit;
        }
        if (!offered) {
            return;
        }
        const CustomPaperLimits l = m.paperLimitsId == kNoResource ? CustomPaperLimits{}
                                                                    : ReadCustomPaperLimits(data, Ref(m.paperLimitsId));
        if (!l.present || l.maxWidth == 0 || l.maxLength == 0) {
            Fail("paper table row " + std::to_string(m.paperTableRow) +
                 " offers custom size but the model names no custom-paper limits");
        }
    }

    void PaperRow(uint16_t row) {
        const auto b = Bytes(res::kModelPaperTable, static_cast<uint16_t>(row + 1));
        if (b.empty()) {
            Fail("paper table row " + std::to_string(row) + " is missing");
            return;
        }
        if (b.size() > kPaperTableRowSize || U16(b, 0) > kPaperTableMaxEntries || 4 + U16(b, 0) * 12u > b.size()) {
            Fail("paper table row " + std::to_string(row) + " exceeds 24 entries of 292 bytes");
            return;
        }
        const size_t geometryRows = Size(res::kPaperGeometry, 1) / kPaperGeometryRowSize;
        uint32_t seen = 0;
        for (const auto& e : ReadPaperTableRow(data, row)) {
            const bool known = e.mask == kCustomSizeMaskBit || e.mask == kFormMaskBit ||
                               PaperMaskBitToNameId(e.mask) != 6104;
            if (std::popcount(e.mask) != 1 || !known) {
                Fail("paper table row " + std::to_string(row) + " has an entry with mask " + std::to_string(e.mask));
            }
            if (seen & e.mask) {
                Fail("paper table row " + std::to_string(row) + " repeats mask " + std::to_string(e.mask));
            }
            seen |= e.mask;
            for (const uint16_t g : e.geometry) {
                if (g >= geometryRows) {
                    Fail("paper table row " + std::to_string(row) + " names geometry row " + std::to_string(g) +
                         " of " + std::to_string(geometryRows));
                }
            }
        }
    }

    void Geometry() {
        where = "paper geometry";
        const size_t size = Size(res::kPaperGeometry, 1);
        if (size == 0 || size % kPaperGeometryRowSize != 0) {
            Fail("rows are missing or not whole");
            return;
        }
        for (uint16_t i = 0; i < size / kPaperGeometryRowSize; ++i) {
            const auto g = *ReadPaperGeometryRow(data, i);
            const std::string row = "row " + std::to_string(i);
            if (g[4] + g[2] > g[0] || g[5] + g[3] > g[1]) {
                Fail(row + ": printable area leaves the paper");
            }
            if (g[8] != 0 && g[8] != 1 && g[8] != 6 && g[8] != 7 && g[8] != 11) {
                Fail(row + ": printer code " + std::to_string(g[8]));
            }
            if (g[6] != g[2] * 720 / 1200 || g[7] != g[3] * 720 / 1200) {
                Fail(row + ": 1/720-inch sizes disagree with the printable area");
            }
            if (g[9] * 2 + g[11] != g[0] || g[10] * 2 + g[12] != g[1]) {
                Fail(row + ": margins and inner size disagree with the paper");
            }
        }
        where = "code-page table";
        if (Size(res::kCodePageTable, 1) % kCodePageRowSize != 0) {
            Fail("rows are not whole");
        }
    }
};

}  // namespace

std::vector<std::string> CheckModelData(const ModelData& model, int* models) {
    Checker c{model, {}, {}};
    c.Geometry();
    int n = 0;
    while (model.String(static_cast<uint16_t>(res::kModelStringBase + n))) {
        c.Model(n);
        ++n;
    }
    if (n == 0) {
        c.where = "models";
        c.Fail("no model string 10000");
    }
    if (models != nullptr) {
        *models = n;
    }
    return c.problems;
}

}  // namespace zq
