#include "interface/control_records.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "base/muldiv.h"
#include "common/res_ids.h"
#include "interface/ui_utils.h"
#include "settings/devmode_ops.h"

namespace zq {

namespace {

// ---- The record as bytes: the list names its fields by byte position.

uint8_t* Bytes(PrivateDevmode& r) { return reinterpret_cast<uint8_t*>(&r); }
const uint8_t* Bytes(const PrivateDevmode& r) { return reinterpret_cast<const uint8_t*>(&r); }

uint32_t Read(const PrivateDevmode& r, size_t at, size_t width) {
    uint32_t v = 0;
    std::memcpy(&v, Bytes(r) + at, width);
    return v;
}

void Write(PrivateDevmode& r, size_t at, size_t width, uint32_t v) {
    std::memcpy(Bytes(r) + at, &v, width);
}

uint16_t U16(std::span<const uint8_t> b, size_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
}

uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return at + 4 <= b.size() ? static_cast<uint32_t>(U16(b, at) | (U16(b, at + 2) << 16)) : 0;
}

// Copies a text into a field of n bytes and terminates it within the field.
void CopyText(char* to, const char* from, size_t n) {
    const size_t len = strnlen(from, n - 1);
    std::memset(to, 0, n);
    std::memcpy(to, from, len);
}

// ---- Control types and their record fields.

// A control whose value is one field of the record: the value is the
// record's word at byte 6 (its low byte for a byte field).
struct Field {
    uint16_t type;
    uint16_t offset;
    uint8_t width;
};
constexpr Field kFields[] = {
    {1, 76, 2},    {3, 86, 2},    {6, 94, 2},    {7, 98, 2},    {8, 100, 2},   {10, 200, 4},
    {11, 224, 1},  {12, 225, 1},  {13, 229, 1},  {14, 230, 1},  {15, 231, 1},  {16, 233, 1},
    {19, 237, 1},  {20, 434, 2},  {21, 306, 1},  {22, 451, 1},  {23, 459, 1},  {24, 462, 2},
    {26, 466, 1},  {30, 654, 1},  {31, 658, 1},  {32, 659, 1},  {33, 660, 1},  {34, 661, 1},
    {35, 662, 1},  {36, 663, 1},  {37, 664, 1},  {38, 665, 1},  {39, 666, 1},  {40, 667, 1},
    {41, 668, 1},  {42, 655, 1},  {43, 656, 1},  {44, 657, 1},  {45, 92, 2},   {46, 669, 1},
    {48, 188, 4},  {49, 192, 4},  {51, 460, 1},  {52, 461, 1},  {53, 458, 1},  {54, 232, 1},
    {57, 448, 1},  {58, 449, 1},  {60, 226, 1},  {63, 670, 1},  {66, 670, 1},  {67, 670, 1},
    {68, 1077, 1}, {69, 1078, 1}, {70, 1080, 1}, {71, 603, 1},  {72, 1081, 1}, {73, 1082, 1},
    {74, 1083, 1}, {76, 1088, 1}, {78, 450, 1},  {82, 464, 2},  {83, 1089, 1}, {84, 1090, 1},
    {85, 653, 1},  {86, 652, 1},  {87, 227, 1},  {88, 604, 1},  {90, 1091, 1}, {91, 1096, 2},
    {93, 1094, 1}, {97, 1079, 1}, {99, 1226, 1}, {100, 1227, 1}, {101, 1228, 1}, {102, 1229, 1},
    {104, 1230, 1}, {105, 1231, 1}, {106, 1232, 1}, {108, 1104, 1}, {109, 1233, 1}, {110, 1234, 1},
    {111, 1235, 1}, {112, 1237, 1}, {113, 1236, 1}, {114, 1238, 1}, {115, 1239, 1}, {116, 1242, 1},
    {117, 1240, 1}, {118, 1241, 1}, {119, 1243, 1}, {120, 1244, 1}, {121, 1245, 1}, {122, 1246, 1},
    {123, 1247, 1}, {124, 1248, 1},
};

const Field* FindField(uint16_t type) {
    for (const auto& f : kFields) {
        if (f.type == type) return &f;
    }
    return nullptr;
}

// Byte 234 carries type 17 on models other than colour ones (and on the
// models whose option word 362 is 3 the other byte).
size_t PairSecondOffset(const PrivateDevmode& r) {
    const bool colour = (r.model.flags400 & 0x8) != 0 && (r.model.flags400 & 0x800) == 0;
    return (!colour && r.model.optionId != 3) ? 234 : 235;
}

// The current value of a control type in a record; nullopt for a type with
// no value of its own.
std::optional<uint16_t> ValueOf(uint16_t type, const PrivateDevmode& r) {
    if (const Field* f = FindField(type)) {
        return static_cast<uint16_t>(Read(r, f->offset, f->width));
    }
    switch (type) {
        case 2: return static_cast<uint16_t>(r.dm.dmPaperSize);
        case 4: return static_cast<uint16_t>(r.dm.dmDefaultSource);
        case 17: return Read(r, PairSecondOffset(r), 1);
        case 47: return static_cast<uint16_t>(Read(r, 605, 1) | (Read(r, 602, 1) << 8));
        case 79: {
            const uint32_t v231 = Read(r, 231, 1);
            const uint32_t v234 = Read(r, 234, 1);
            if (v234 == 4) return static_cast<uint16_t>(v231);
            return static_cast<uint16_t>(v231 != 0 ? v231 + 5 : 0);
        }
        case 98: {
            const uint32_t v = Read(r, 670, 1);
            return static_cast<uint16_t>(v == 1 ? 1 : v == 3 ? 2 : 0);
        }
        default: return std::nullopt;
    }
}

// The list resource of a kind-7 control: resource type and the model word
// (DEVMODE offset) whose value + 1 is its id; entries from byte 8 after a
// u16 count, `entry` bytes each, the first three words taken.
struct ListSource {
    uint16_t type;
    uint16_t resource;
    uint16_t selector;
    uint8_t entry;
};
constexpr ListSource kListSources[] = {
    {13, 262, 360, 6}, {15, 263, 362, 6}, {42, 270, 374, 6}, {57, 274, 368, 8}, {58, 275, 370, 6},
    {79, 284, 362, 6}, {104, 286, 390, 6}, {105, 286, 390, 6}, {106, 286, 390, 6},
};

uint16_t Ref(uint16_t word) {
    return static_cast<uint16_t>(word + 1);
}

}  // namespace

std::optional<OptionList> FindOptionList(uint16_t controlType, const ModelRecord& model) {
    for (const auto& s : kListSources) {
        if (s.type != controlType) continue;
        uint16_t word = 0;
        std::memcpy(&word, reinterpret_cast<const uint8_t*>(&model) + (s.selector - 340), 2);
        return OptionList{s.resource, Ref(word), s.entry};
    }
    return std::nullopt;
}

namespace {

// ---- Building each kind.

template <typename Record>
Record& At(std::span<uint8_t> list, size_t at) {
    return *reinterpret_cast<Record*>(list.data() + at);
}

void BuildPaper(PaperRecord& rec, const PrivateDevmode& w, const PrivateDevmode& d) {
    rec.current = static_cast<uint16_t>(w.dm.dmPaperSize);
    rec.defaultValue = static_cast<uint16_t>(d.dm.dmPaperSize);
    const uint16_t flags = w.model.flags396;
    const bool ranges = (flags & 0x4000) != 0 && !(w.printerLanguage == 2 && (flags & 0x8000) == 0);
    rec.userFormFirst = ranges ? 512 : 0;
    rec.userFormLast = ranges ? 519 : 0;
    rec.formTemplate = ranges ? 768 : 0;
    rec.associationFirst = ranges ? 640 : 0;
    rec.associationLast = ranges ? 671 : 0;
    rec.unitsPerInch = 1200;
}

// A media table (type 285): u16 count, entries of u16 from byte 8.
bool HeavyMedia(const ModelData& model, uint16_t id) {
    if (id == 0) return false;
    const auto t = ReadModelResource<88>(model, 285, id);
    const size_t count = std::min<size_t>(t.u16(0), (88 - 8) / 2);
    for (size_t i = 0; i < count; ++i) {
        if (t.u16(8 + 2 * i) > 500) return true;
    }
    return false;
}

void BuildSources(SourceRecord& rec, const PrivateDevmode& w, const PrivateDevmode& d, const ModelData& model) {
    rec.current = static_cast<uint16_t>(w.dm.dmDefaultSource);
    rec.defaultValue = static_cast<uint16_t>(d.dm.dmDefaultSource);
    std::memset(rec.sources, 0, sizeof rec.sources);
    rec.heavyMedia = 0;
    const auto t = ReadModelResource<kSourceTableSize>(model, res::kSourceTable, Ref(w.model.sourceTableId));
    const size_t count = std::min<size_t>({t.u16(0), kSourceChoices, (kSourceTableSize - 8) / kSourceEntrySize});
    for (size_t i = 0; i < count; ++i) {
        const size_t e = 8 + i * kSourceEntrySize;
        rec.sources[i] = {t.u16(e), t.u16(e + 2), t.u16(e + 4), t.u16(e + 6)};
        // The entry's word at 8 names its media table.
        if (HeavyMedia(model, t.u16(e + 8))) rec.heavyMedia = 1;
    }
}

void BuildOptionList(OptionRecord& rec, uint16_t type, const PrivateDevmode& w, const ModelData& model) {
    std::memset(rec.choices, 0, sizeof rec.choices);
    size_t n = 0;
    if (const auto list = FindOptionList(type, w.model)) {
        const auto t = ReadModelResource<kListResourceSize>(model, list->resource, list->id);
        const size_t fits = (kListResourceSize - 8) / list->entrySize;
        const size_t count = std::min<size_t>({t.u16(0), fits, kOptionChoicesKept});
        for (; n < count; ++n) {
            const size_t e = 8 + n * list->entrySize;
            rec.choices[n] = {t.u16(e), t.u16(e + 2), t.u16(e + 4)};
        }
    }
    rec.choices[n].value = kListEnd;
}

void BuildPairs(PairRecord& rec, const PrivateDevmode& w, const ModelData& model) {
    std::memset(rec.choices, 0, sizeof rec.choices);
    const auto t = ReadModelResource<104>(model, res::kPairTable, Ref(w.model.pairTableId));
    const size_t count = std::min<size_t>({t.u16(0), (104 - 8) / 16, kPairChoicesKept});
    size_t n = 0;
    for (; n < count; ++n) {
        const size_t e = 8 + n * 16;
        rec.choices[n] = {t.u16(e), t.u16(e + 2), t.u16(e + 4), t.u16(e + 6)};
    }
    rec.choices[n].first = kListEnd;
}

void BuildSlots(SlotRecord& rec, const PrivateDevmode& w, const ModelData& model) {
    std::memset(rec.groups, 0, sizeof rec.groups);
    const auto rows = ReadSlotTable(model, Ref(w.model.slotTableId));
    for (size_t i = 0; i < kSlotGroups; ++i) {
        SlotGroup& g = rec.groups[i];
        g.optionId = w.slotSourceCodes[i];
        g.current = w.slotValues[i];
        size_t n = 0;
        if (g.optionId != 0) {
            const auto row = std::find_if(rows.begin(), rows.end(), [&](const SlotRow& r) {
                return r.sourceCode == g.optionId && r.slotCode == w.slotCodes[i];
            });
            if (row != rows.end()) {
                const SlotValues values = ReadSlotValues(model, row->valuesId);
                for (; n < values.values.size() && n < kSlotValuesKept; ++n) {
                    const auto& v = values.values[n];
                    g.values[n] = {v.value, v.tagValue, v.stringId};
                }
            }
        }
        g.count = static_cast<uint16_t>(n);
        g.values[n].value = kListEnd;
    }
}

void BuildAdjust(AdjustRecord& rec, const PrivateDevmode& w, const ModelData& model) {
    std::memset(rec.choices, 0, sizeof rec.choices);
    const auto t = ReadModelResource<40>(model, 272, Ref(w.model.id272));
    const size_t count = std::min<size_t>({t.u16(0), (40 - 8) / 4, kAdjustChoicesKept});
    size_t n = 0;
    for (; n < count; ++n) {
        rec.choices[n] = {t.u16(8 + 4 * n), t.u16(10 + 4 * n)};
    }
    rec.choices[n].value = kListEnd;
}

void BuildJobStore(JobStoreRecord& rec, const PrivateDevmode& w, const PrivateDevmode& d) {
    rec.current = w.printerCopies;
    rec.defaultValue = d.printerCopies;
    const uint8_t byte401 = static_cast<uint8_t>(w.model.flags400 >> 8);
    rec.storage = (byte401 & 0x4) ? 8 : (byte401 & 0x20) ? 16 : 0;
    CopyText(rec.jobName, w.text824, kJobNameSize);
    CopyText(rec.pin, w.pin849, kPinSize);
    rec.option651 = w.option651;
}

void FillRecord(std::span<uint8_t> list, size_t at, const ControlEntry& e, const PrivateDevmode& w,
                const PrivateDevmode& d, const ModelData& model) {
    ControlHead& head = At<ControlHead>(list, at);
    head.length = ControlRecordLength(e.kind);
    head.type = e.type;
    head.flags = static_cast<uint8_t>(e.flags & 0xFF);
    head.changed = 0;
    const uint16_t cur = ValueOf(e.type, w).value_or(0);
    const uint16_t def = ValueOf(e.type, d).value_or(0);
    switch (e.kind) {
        case 1: {
            auto& r = At<ValueRecord>(list, at);
            r.current = cur;
            r.defaultValue = def;
            r.parameter1 = e.parameter1;
            r.parameter2 = e.parameter2;
            if (e.type == 51 || e.type == 52) {
                r.parameter1 = static_cast<uint16_t>(Read(w, e.type == 51 ? 460 : 461, 1));
            } else if (e.type == 20) {
                r.defaultValue = static_cast<uint16_t>(Read(d, 434, 2));
                r.parameter1 = w.model.memoryMegabytes;
                r.parameter2 = w.model.word342;
            }
            break;
        }
        case 2: BuildPaper(At<PaperRecord>(list, at), w, d); break;
        case 3: BuildSources(At<SourceRecord>(list, at), w, d, model); break;
        case 4: {
            auto& r = At<TrueTypeRecord>(list, at);
            r.current = static_cast<uint16_t>(w.dm.dmTTOption);
            r.defaultValue = static_cast<uint16_t>(d.dm.dmTTOption);
            r.one = 1;
            r.singlePage = w.pagesPerSheet == 0 ? 1 : 0;
            r.trueTypeAsFour = static_cast<uint8_t>(w.model.flags392 & 0x1);
            break;
        }
        case 5: {
            auto& r = At<OverlayRecord>(list, at);
            const bool first = e.type == 27;
            CopyText(r.current, first ? w.overlayName1 : w.overlayName2, kOverlayNameSize);
            CopyText(r.defaultValue, first ? d.overlayName1 : d.overlayName2, kOverlayNameSize);
            r.switchCurrent = w.overlayAtPageStart;
            r.switchDefault = d.overlayAtPageStart;
            break;
        }
        case 6:
            RecomputePrintQualityChoices(At<QualityRecord>(list, at), static_cast<uint16_t>(w.dm.dmPrintQuality),
                                         w.resolutionFeature, w.printerLanguage, w.pagesPerSheet, model, w, d);
            break;
        case 7: {
            auto& r = At<OptionRecord>(list, at);
            r.current = cur;
            r.defaultValue = def;
            BuildOptionList(r, e.type, w, model);
            break;
        }
        case 8: {
            auto& r = At<PairRecord>(list, at);
            r.current = w.pairFirst;
            r.defaultValue = d.pairFirst;
            BuildPairs(r, w, model);
            break;
        }
        case 9: BuildSlots(At<SlotRecord>(list, at), w, model); break;
        case 10: {
            auto& r = At<FontSetRecord>(list, at);
            r.firstCurrent = w.fontSets1;
            r.firstDefault = d.fontSets1;
            r.secondCurrent = w.fontSets2;
            r.secondDefault = d.fontSets2;
            break;
        }
        case 11: {
            auto& r = At<WatermarkRecord>(list, at);
            r.parameter1 = e.parameter1;
            r.parameter2 = e.parameter2;
            r.firstCurrent = w.watermarkId1;
            r.firstDefault = d.watermarkId1;
            r.secondCurrent = w.watermarkId2;
            r.secondDefault = d.watermarkId2;
            r.placementCurrent = w.watermarkPlacement;
            r.placementDefault = d.watermarkPlacement;
            r.flagCurrent = w.watermarkFlag;
            r.flagDefault = d.watermarkFlag;
            break;
        }
        case 12: {
            auto& r = At<AdjustRecord>(list, at);
            const size_t selector = e.type == 34 ? 661 : e.type == 38 ? 665 : 654;
            r.current = static_cast<uint16_t>(Read(w, selector, 1));
            r.defaultValue = static_cast<uint16_t>(Read(d, selector, 1));
            BuildAdjust(r, w, model);
            break;
        }
        case 14: {
            auto& r = At<NumberRecord>(list, at);
            r.current = w.number1084;
            r.defaultValue = d.number1084;
            break;
        }
        case 15: BuildJobStore(At<JobStoreRecord>(list, at), w, d); break;
        case 16: {
            auto& r = At<ProfileRecord>(list, at);
            for (size_t i = 0; i < 5; ++i) {
                const size_t offset = i == 0 ? 1100 : 1108 + 4 * (i - 1);
                r.current[i] = Read(w, offset, 4);
                r.defaultValue[i] = Read(d, offset, 4);
            }
            break;
        }
        case 17: {
            auto& r = At<AccountRecord>(list, at);
            r.current = w.accountTracking;
            r.defaultValue = d.accountTracking;
            r.parameter1 = e.parameter1;
            r.parameter2 = e.parameter2;
            std::memcpy(r.accountId, Bytes(w) + 1125, 16);
            r.accountEnd = 0;
            CopyText(r.computerName, w.computerName, sizeof r.computerName);
            CopyText(r.userName, w.userName, sizeof r.userName);
            break;
        }
        default: break;
    }
}

// Walks the records of a list: calls f(offset, head) for each until the end
// record or a length that would leave the list.
template <typename F>
void Walk(std::span<const uint8_t> list, F f) {
    size_t at = 0;
    while (at + sizeof(ControlHead) <= list.size()) {
        const uint16_t length = U16(list, at);
        if (length == 0 || length < sizeof(ControlHead) || at + length > list.size()) {
            return;
        }
        ControlHead head;
        std::memcpy(&head, list.data() + at, sizeof head);
        f(at, head);
        at += length;
    }
}

// Bytes a record of a type must hold before it is written back.
size_t NeededLength(uint16_t type) {
    switch (type) {
        case 27: case 28: return sizeof(OverlayRecord);
        case 29: return sizeof(SlotRecord);
        case 50: return sizeof(QualityRecord);
        case 51: case 52: return 12;
        case 59: return sizeof(FontSetRecord);
        case 62: return sizeof(WatermarkRecord);
        case 75: return sizeof(NumberRecord);
        case 77: return sizeof(JobStoreRecord);
        case 94: return 28;
        case 95: return sizeof(AccountRecord);
        default: return 8;
    }
}

void WriteBack(std::span<const uint8_t> rec, uint16_t type, PrivateDevmode& dm, const ModelData& model) {
    const uint16_t v = U16(rec, 6);
    if (const Field* f = FindField(type); f != nullptr && type != 51 && type != 52 && type != 57) {
        Write(dm, f->offset, f->width, f->width == 1 ? (v & 0xFF) : v);
        return;
    }
    switch (type) {
        case 2: {
            dm.dm.dmPaperSize = static_cast<SHORT>(v);
            dm.dm.dmPaperWidth = 0;
            dm.dm.dmPaperLength = 0;
            if (v == 257) {
                const auto limits = ReadModelResource<8>(model, res::kPaperLimits, Ref(dm.model.paperLimitsId));
                if (limits.present()) {
                    dm.dm.dmPaperWidth = static_cast<SHORT>(MulDiv(limits.u16(0), 254, 1200));
                    dm.dm.dmPaperLength = static_cast<SHORT>(MulDiv(limits.u16(4), 254, 1200));
                }
            }
            break;
        }
        case 4: {
            dm.dm.dmDefaultSource = static_cast<SHORT>(v);
            const auto t = ReadModelResource<kSourceTableSize>(model, res::kSourceTable, Ref(dm.model.sourceTableId));
            const size_t count = std::min<size_t>(t.u16(0), (kSourceTableSize - 8) / kSourceEntrySize);
            for (size_t i = 0; i < count; ++i) {
                const size_t e = 8 + i * kSourceEntrySize;
                if (t.u16(e + 2) == v) {
                    dm.mediaByte = t.u8(e + 16);
                    break;
                }
            }
            break;
        }
        case 17: Write(dm, PairSecondOffset(dm), 1, v & 0xFF); break;
        case 27:
        case 28: {
            char* name = type == 27 ? dm.overlayName1 : dm.overlayName2;
            CopyText(name, reinterpret_cast<const char*>(rec.data() + offsetof(OverlayRecord, current)),
                     kOverlayNameSize);
            dm.overlayAtPageStart = rec[offsetof(OverlayRecord, switchCurrent)];
            break;
        }
        case 29: {
            for (size_t i = 0; i < kSlotGroups; ++i) {
                for (size_t g = 0; g < kSlotGroups; ++g) {
                    const size_t base = offsetof(SlotRecord, groups) + g * sizeof(SlotGroup);
                    if (U16(rec, base) == dm.slotSourceCodes[i]) {
                        dm.slotValues[i] = static_cast<uint8_t>(U16(rec, base + 2));
                        break;
                    }
                }
            }
            break;
        }
        case 47:
            dm.pagesPerSheet = static_cast<uint8_t>(v & 0xFF);
            dm.option602 = rec[7];
            break;
        case 50: {
            if (v < kQualityChoices) {
                const size_t e = offsetof(QualityRecord, choices) + v * sizeof(QualityChoice);
                dm.dm.dmPrintQuality = static_cast<SHORT>(U16(rec, e));
                const uint16_t kind = U16(rec, e + 4);
                if (kind != 2) dm.resolutionFeature = static_cast<uint8_t>(kind);
            }
            dm.dm.dmYResolution = dm.dm.dmPrintQuality;
            break;
        }
        case 51: dm.count460 = rec[10]; break;
        case 52: dm.count461 = rec[10]; break;
        case 57: {
            dm.option448 = static_cast<uint8_t>(v & 0xFF);
            // The installable-option table is 144 bytes: a value past it
            // leaves byte 1093 alone.
            const auto t = ReadModelResource<144>(model, res::kInstallables, Ref(dm.model.installableId));
            const size_t at = 8u * v + 14;
            if (t.present() && at < t.size) dm.option1093 = t.u8(at);
            break;
        }
        case 59:
            dm.fontSets1 = U32(rec, 8);
            dm.fontSets2 = U32(rec, 16);
            break;
        case 62:
            dm.watermarkId1 = rec[10];
            dm.watermarkId2 = rec[14];
            dm.watermarkPlacement = rec[20];
            dm.watermarkFlag = rec[28];
            break;
        case 75: dm.number1084 = U32(rec, 8); break;
        case 77: {
            dm.printerCopies = static_cast<uint8_t>(v & 0xFF);
            CopyText(dm.text824, reinterpret_cast<const char*>(rec.data() + offsetof(JobStoreRecord, jobName)),
                     kJobNameSize);
            // The PIN is at most four digits: anything else is not kept.
            char pin[kPinSize] = {};
            CopyText(pin, reinterpret_cast<const char*>(rec.data() + offsetof(JobStoreRecord, pin)), kPinSize);
            const bool digits = std::all_of(pin, pin + strnlen(pin, kPinSize), [](char c) { return c >= '0' && c <= '9'; });
            CopyText(dm.pin849, digits ? pin : "", kPinSize);
            dm.option651 = rec[offsetof(JobStoreRecord, option651)];
            break;
        }
        case 79:
            if (v > 5) {
                Write(dm, 234, 1, 1);
                Write(dm, 231, 1, static_cast<uint8_t>(v - 5));
            } else {
                Write(dm, 231, 1, v);
                Write(dm, 234, 1, v != 0 ? 4 : 0);
            }
            break;
        case 94:
            for (size_t i = 0; i < 5; ++i) {
                Write(dm, i == 0 ? 1100 : 1108 + 4 * (i - 1), 4, U32(rec, 8 + 4 * i));
            }
            break;
        case 95: {
            dm.accountTracking = static_cast<uint8_t>(v & 0xFF);
            // The account id is at most 16 characters; every text ends
            // within its field.
            std::memcpy(Bytes(dm) + 1125, rec.data() + offsetof(AccountRecord, accountId), 16);
            Write(dm, 1141, 1, 0);
            CopyText(dm.computerName, reinterpret_cast<const char*>(rec.data() + offsetof(AccountRecord, computerName)),
                     sizeof dm.computerName);
            CopyText(dm.userName, reinterpret_cast<const char*>(rec.data() + offsetof(AccountRecord, userName)),
                     sizeof dm.userName);
            break;
        }
        case 98:
            if (v == 0) {
                Write(dm, 670, 1, 0);
            } else if (v == 1) {
                Write(dm, 670, 1, 1);
                dm.resolutionFeature = 0;
            } else if (v == 2) {
                Write(dm, 670, 1, 3);
                dm.resolutionFeature = 1;
            }
            break;
        default: break;  // no field, or not written back
    }
}

// ---- Tokens of the list header.

struct ContextTable {
    std::mutex lock;
    std::map<uint32_t, ControlContext> contexts;
    uint32_t next = 1;
};

ContextTable& Contexts() {
    static ContextTable table;
    return table;
}

std::optional<ControlContext> FindContext(uint32_t token) {
    auto& t = Contexts();
    std::lock_guard g(t.lock);
    const auto it = t.contexts.find(token);
    if (it == t.contexts.end()) return std::nullopt;
    return it->second;
}

// Types whose change forgets the loaded profile.
bool ForgetsProfile(uint16_t t) {
    return (t >= 1 && t <= 10) || t == 12 || (t >= 14 && t <= 19) || (t >= 25 && t <= 46) || t == 48 ||
           t == 49 || t == 54 || (t >= 57 && t <= 63) || (t >= 66 && t <= 69) || (t >= 71 && t <= 79) ||
           t == 83 || (t >= 85 && t <= 88) || t == 90 || t == 91 || t == 93 || (t >= 97 && t <= 99) ||
           t == 101 || (t >= 104 && t <= 106) || (t >= 109 && t <= 111) || (t >= 114 && t <= 124);
}

}  // namespace

std::vector<ControlEntry> ReadControlTable(const ModelData& model, uint16_t id) {
    const auto t = ReadModelResource<kControlTableSize>(model, res::kControlTable, id);
    std::vector<ControlEntry> out;
    if (!t.present()) return out;
    const size_t count = std::min<size_t>(t.u16(0), (t.size - 2) / kControlEntrySize);
    for (size_t i = 0; i < count; ++i) {
        const size_t e = 2 + i * kControlEntrySize;
        ControlEntry c{t.u16(e), t.u16(e + 2), t.u16(e + 4), t.u16(e + 6), t.u16(e + 8)};
        if (c.type < kFirstControlType || c.type > kLastControlType || c.type == kListHeaderType ||
            (c.kind != kNoRecordKind && ControlRecordLength(c.kind) == 0)) {
            continue;
        }
        out.push_back(c);
    }
    return out;
}

bool HasControlTable(const ModelData& model, uint16_t id) {
    return model.Resource(res::kControlTable, id, {}) > 0;
}

int BuildControlRecords(ControlLists& lists, uint32_t contextToken, const PrivateDevmode& working,
                        const PrivateDevmode& defaults, const ModelData& model) {
    const uint16_t id = Ref(working.model.controlTableId);
    if (!HasControlTable(model, id)) {
        return -1;
    }
    const auto entries = ReadControlTable(model, id);
    size_t size = sizeof(ListHeaderRecord) + kListTrailerSize;
    for (const auto& e : entries) size += ControlRecordLength(e.kind);
    lists.working.assign(size, 0);
    auto& header = At<ListHeaderRecord>(lists.working, 0);
    header.head.length = sizeof(ListHeaderRecord);
    header.head.type = kListHeaderType;
    header.contextToken = contextToken;
    size_t at = sizeof(ListHeaderRecord);
    for (const auto& e : entries) {
        if (e.kind == kNoRecordKind) continue;
        FillRecord(lists.working, at, e, working, defaults, model);
        at += ControlRecordLength(e.kind);
    }
    lists.saved = lists.working;
    IndexControlRecords(lists.working, lists.byType);
    IndexControlRecords(lists.saved, lists.savedByType);
    return 0;
}

void IndexControlRecords(std::span<uint8_t> list, std::array<uint8_t*, kControlTypeSlots>& byType) {
    byType.fill(nullptr);
    Walk(list, [&](size_t at, const ControlHead& head) {
        if (head.type < kControlTypeSlots) byType[head.type] = list.data() + at;
    });
}

uint16_t ControlsToDevmode(std::span<const uint8_t> list, PrivateDevmode& devmode, const ModelData& model) {
    Walk(list, [&](size_t at, const ControlHead& head) {
        if (head.type == kListHeaderType || head.length < NeededLength(head.type)) return;
        WriteBack(list.subspan(at, head.length), head.type, devmode, model);
    });
    SetDevmodeCrc(devmode);
    return devmode.checkValue;
}

void DevmodeToControls(std::span<uint8_t> list, const PrivateDevmode& devmode, const PrivateDevmode& defaults,
                       const ModelData& model) {
    // The list stands in the order of the model's control table: each record
    // that is still its entry's is filled again from the record, as the
    // build fills it (the defaults come from the same default record, so
    // they stay as they are).
    const auto entries = ReadControlTable(model, Ref(devmode.model.controlTableId));
    auto entry = entries.begin();
    Walk(list, [&](size_t at, const ControlHead& head) {
        if (head.type == kListHeaderType) return;
        while (entry != entries.end() && entry->kind == kNoRecordKind) ++entry;
        if (entry != entries.end() && entry->type == head.type && ControlRecordLength(entry->kind) == head.length) {
            FillRecord(list, at, *entry, devmode, defaults, model);
            ++entry;
            return;
        }
        // A record the table does not explain keeps all but its value.
        if (head.length >= 8) {
            if (const auto v = ValueOf(head.type, devmode)) {
                std::memcpy(list.data() + at + 6, &*v, 2);
            }
        }
    });
}

void RecomputePrintQualityChoices(QualityRecord& record, uint16_t dpi, uint16_t kind, uint16_t language,
                                  uint16_t pagesPerSheet, const ModelData& model, const PrivateDevmode& working,
                                  const PrivateDevmode& defaults) {
    record.current = 0;
    record.defaultValue = 0;
    record.word10 = 0;
    record.onlyFirst = 0;
    std::memset(record.choices, 0, sizeof record.choices);
    const auto t = ReadModelResource<kResolutionTableSize>(model, res::kResolutionTable,
                                                           Ref(working.model.resolutionTableId));
    size_t n = 0;
    for (size_t i = 0; i < kQualityChoices; ++i) {
        const size_t e = 8 + 8 * i;
        const QualityChoice c{t.u16(e), t.u16(e + 2), t.u16(e + 4)};
        if (c.dpi == 0) break;
        if (language == 5 && (c.dpi != 600 || c.kind == 0)) continue;
        record.choices[n++] = c;
    }
    if (pagesPerSheet == 0 && language == 2 && dpi == 600 && kind == 1) {
        record.onlyFirst = 1;
    }
    int defaultDpi = defaults.dm.dmPrintQuality;
    if (defaultDpi < 0) defaultDpi = ResolvePrintQuality(defaults, defaultDpi);
    bool currentFound = false;
    bool defaultFound = false;
    for (size_t i = 0; i < kQualityChoices && record.choices[i].verticalDpi != 0; ++i) {
        const QualityChoice& c = record.choices[i];
        if (!currentFound && c.dpi == dpi && c.kind == kind) {
            record.current = static_cast<uint16_t>(i);
            currentFound = true;
        }
        if (!defaultFound && c.dpi == defaultDpi && c.kind == defaults.resolutionFeature) {
            record.defaultValue = static_cast<uint16_t>(i);
            defaultFound = true;
        }
    }
    if (record.onlyFirst == 1 && record.choices[0].dpi != 1200 && record.choices[0].kind != 1 &&
        record.choices[0].kind != 4) {
        record.current = 0;
    }
}

uint16_t RefreshControlRecords(std::span<uint8_t> list, const ControlContext& context) {
    std::array<uint8_t*, kControlTypeSlots> byType{};
    IndexControlRecords(list, byType);
    bool forget = false;
    bool any = false;
    uint16_t lastLength = 0;
    auto value = [](const uint8_t* rec) { return static_cast<uint16_t>(rec[6] | (rec[7] << 8)); };
    auto recompute = [&]() {
        if (byType[50] == nullptr || byType[13] == nullptr || byType[47] == nullptr ||
            byType[kListHeaderType] == nullptr || context.model == nullptr || context.working == nullptr ||
            context.defaults == nullptr || U16({byType[50], 2}, 0) != sizeof(QualityRecord)) {
            return;
        }
        auto& q = *reinterpret_cast<QualityRecord*>(byType[50]);
        const uint16_t index = std::min<uint16_t>(q.current, kQualityChoices - 1);
        RecomputePrintQualityChoices(q, q.choices[index].dpi, q.choices[index].kind, value(byType[13]),
                                     value(byType[47]) & 0xFF, *context.model, *context.working,
                                     *context.defaults);
    };
    size_t at = 0;
    while (at + sizeof(ControlHead) <= list.size()) {
        const uint16_t length = U16(list, at);
        if (length < sizeof(ControlHead) || at + length > list.size()) break;
        any = true;
        lastLength = length;
        uint8_t* rec = list.data() + at;
        at += length;
        if (rec[5] == 0) continue;
        rec[5] = 0;
        const uint16_t type = U16(list, at - length + 2);
        const uint16_t v = length >= 8 ? value(rec) : 0;
        switch (type) {
            case 13: {
                if (auto* paper = byType[2]; paper != nullptr && U16({paper, 2}, 0) == sizeof(PaperRecord)) {
                    const uint8_t* r81 = byType[81];
                    const bool open = v != 2 || (r81 != nullptr && U16({r81, 2}, 0) > 7 && (r81[7] & 0x80));
                    auto& p = *reinterpret_cast<PaperRecord*>(paper);
                    p.userFormFirst = open ? 512 : 0;
                    p.userFormLast = open ? 519 : 0;
                    p.formTemplate = open ? 768 : 0;
                }
                recompute();
                forget = true;
                break;
            }
            case 47:
                for (uint8_t* r : {byType[7]}) {
                    if (r == nullptr || U16({r, 2}, 0) < sizeof(TrueTypeRecord)) continue;
                    auto& tt = *reinterpret_cast<TrueTypeRecord*>(r);
                    if ((v & 0xFF) != 0) {
                        tt.singlePage = 0;
                        if (tt.current == 2) tt.current = 4;
                    } else {
                        tt.singlePage = 1;
                    }
                }
                recompute();
                forget = true;
                break;
            case 50:
                if (auto* q = byType[50]; q != nullptr && U16({q, 2}, 0) == sizeof(QualityRecord)) {
                    auto& r = *reinterpret_cast<QualityRecord*>(q);
                    r.onlyFirst = r.word10 != 0 ? 1 : 0;
                }
                forget = true;
                break;
            case 53:
                if (v == 1) {
                    if (auto* s = byType[4]; s != nullptr && U16({s, 2}, 0) >= 8) {
                        const uint16_t seven = 7;
                        std::memcpy(s + 6, &seven, 2);
                    }
                }
                forget = true;
                break;
            case 95:
                // Account tracking is a printer setting on models whose byte
                // 394 says so: the profile stays.
                if (context.working == nullptr || (context.working->model.flags394 & 0x4) == 0) forget = true;
                break;
            default:
                if (ForgetsProfile(type)) forget = true;
                break;
        }
    }
    if (!any) return 0;
    if (forget && byType[94] != nullptr && U16({byType[94], 2}, 0) >= 28) {
        std::memset(byType[94] + 8, 0, 20);
        return 0;
    }
    return lastLength;
}

uint32_t RegisterControlContext(const ControlContext& context) {
    auto& t = Contexts();
    std::lock_guard g(t.lock);
    const uint32_t token = t.next++;
    t.contexts[token] = context;
    return token;
}

void UnregisterControlContext(uint32_t token) {
    auto& t = Contexts();
    std::lock_guard g(t.lock);
    t.contexts.erase(token);
}

}  // namespace zq

extern "C" WORD RefreshProc(BYTE* list) {
    if (list == nullptr) return 0;
    // The list is walked by its own lengths up to its end record; its
    // header names the sheet whose records and model the pass may use.
    size_t size = 0;
    while (true) {
        uint16_t length = 0;
        std::memcpy(&length, list + size, 2);
        if (length < sizeof(zq::ControlHead)) break;
        size += length;
    }
    const std::span<uint8_t> span(list, size + 2);
    zq::ControlContext context;
    if (size >= sizeof(zq::ListHeaderRecord)) {
        const auto& header = *reinterpret_cast<const zq::ListHeaderRecord*>(list);
        if (header.head.type == zq::kListHeaderType) {
            context = zq::FindContext(header.contextToken).value_or(zq::ControlContext{});
        }
    }
    return zq::RefreshControlRecords(span, context);
}
