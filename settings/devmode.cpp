#include <algorithm>
#include <array>
#include <cstring>

#include "base/text.h"
#include "common/res_ids.h"
#include "interface/ui_utils.h"
#include "settings/devmode_ops.h"

namespace zq {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 0x8000) ? ((c << 1) ^ 0x1021) : (c << 1);
        }
        t[i] = static_cast<uint16_t>(c);
    }
    return t;
}
constexpr auto kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x1021);

// Texts of the record compared case-insensitively within their field.
template <size_t N>
bool TextEqualNoCase(const char (&a)[N], const char (&b)[N]) {
    return EqualsIgnoreCase(std::string_view(a, strnlen(a, N)), std::string_view(b, strnlen(b, N)));
}

template <size_t N>
void CopyText(char (&to)[N], const char (&from)[N]) {
    std::memcpy(to, from, N);
    to[N - 1] = '\0';  // an application's text need not be terminated
}

template <typename T>
bool SameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Copies the record bytes [from, to] of `src` into `dst`.
void CopyRange(PrivateDevmode& dst, const PrivateDevmode& src, size_t from, size_t to) {
    auto* d = reinterpret_cast<uint8_t*>(&dst);
    const auto* s = reinterpret_cast<const uint8_t*>(&src);
    std::memcpy(d + from, s + from, to - from + 1);
}

bool RangeEqual(const PrivateDevmode& a, const PrivateDevmode& b, size_t from, size_t to) {
    const auto* x = reinterpret_cast<const uint8_t*>(&a);
    const auto* y = reinterpret_cast<const uint8_t*>(&b);
    return std::memcmp(x + from, y + from, to - from + 1) == 0;
}

uint16_t ResourceId(uint16_t word) {
    return static_cast<uint16_t>(word + 1);
}

// Byte 232 may stay set only while the resolution table has an entry of the
// current print quality with its flag set.
void RecheckResolutionFeature(PrivateDevmode& out, const ResolutionTable& resolutions) {
    if (out.resolutionFeature == 0) {
        return;
    }
    const bool allowed = std::any_of(resolutions.entries.begin(), resolutions.entries.end(), [&](const auto& e) {
        return e.dpi == out.dm.dmPrintQuality && e.featureFlag != 0;
    });
    if (!allowed) {
        out.resolutionFeature = 0;
    }
}

}  // namespace

bool SameModelName(const PrivateDevmode& a, const PrivateDevmode& b) {
    return TextEqualNoCase(a.modelName, b.modelName);
}

namespace {

bool HasProfile(const PrivateDevmode& r) {
    return r.profileKind != 0 &&
           (r.profileId[0] | r.profileId[1] | r.profileId[2] | r.profileId[3]) != 0;
}

void TakeProfile(PrivateDevmode& out, const PrivateDevmode& from) {
    out.profileKind = from.profileKind;
    std::memcpy(out.profileId, from.profileId, sizeof(out.profileId));
}

// The application's public part as far as it can be read: the bytes given
// and its own dmSize, whichever ends first.
class PublicView {
public:
    explicit PublicView(std::span<const uint8_t> bytes) : bytes_(bytes) {
        if (bytes.size() >= offsetof(DEVMODEW, dmSize) + 2) {
            const size_t declared = Read<uint16_t>(offsetof(DEVMODEW, dmSize));
            extent_ = std::min({bytes.size(), declared, sizeof(DEVMODEW)});
        }
    }
    template <typename T>
    std::optional<T> Field(size_t offset) const {
        if (offset + sizeof(T) > extent_) {
            return std::nullopt;
        }
        return Read<T>(offset);
    }

private:
    template <typename T>
    T Read(size_t offset) const {
        T v;
        std::memcpy(&v, bytes_.data() + offset, sizeof(T));
        return v;
    }
    std::span<const uint8_t> bytes_;
    size_t extent_ = 0;
};

}  // namespace

uint16_t CalcDevmodeCrc(std::span<const uint8_t> bytes) {
    uint16_t c = 0;
    for (const uint8_t b : bytes) {
        c = static_cast<uint16_t>(((c << 8) | b) ^ kCrcTable[c >> 8]);
    }
    return c;
}

std::span<const uint8_t> DevmodeBytes(const PrivateDevmode& record) {
    return {reinterpret_cast<const uint8_t*>(&record), sizeof(record)};
}

uint16_t DevmodeCheckValue(const PrivateDevmode& record) {
    return CalcDevmodeCrc(DevmodeBytes(record).subspan(kCheckedRangeStart, kCheckedRangeSize));
}

bool IsDevmodeCrcValid(const PrivateDevmode& record) {
    return DevmodeCheckValue(record) == record.checkValue;
}

void SetDevmodeCrc(PrivateDevmode& record) {
    record.checkValue = DevmodeCheckValue(record);
}

bool IsValidPrivateDevmode(const PrivateDevmode& r) {
    return r.dm.dmSpecVersion == DM_SPECVERSION && r.dm.dmSize == kPublicDevmodeSize &&
           r.dm.dmDriverExtra == kDriverExtraSize && r.privateVersion == kPrivateDevmodeVersion &&
           r.signature1 == kPrivateDevmodeSignature && r.signature2 == kPrivateDevmodeSignature &&
           r.signature3 == kPrivateDevmodeSignature;
}

std::optional<PrivateDevmode> DevmodeFromBytes(std::span<const uint8_t> bytes) {
    if (bytes.size() < sizeof(PrivateDevmode)) {
        return std::nullopt;
    }
    PrivateDevmode r;
    std::memcpy(&r, bytes.data(), sizeof(r));
    return r;
}

bool IsValidPrivateDevmode(std::span<const uint8_t> bytes) {
    const auto r = DevmodeFromBytes(bytes);
    return r && IsValidPrivateDevmode(*r);
}

bool DevmodesEqual(const PrivateDevmode& a, const PrivateDevmode& b) {
    const DEVMODEW& x = a.dm;
    const DEVMODEW& y = b.dm;
    if (x.dmOrientation != y.dmOrientation || x.dmPaperSize != y.dmPaperSize || x.dmCopies != y.dmCopies ||
        x.dmDefaultSource != y.dmDefaultSource || x.dmPrintQuality != y.dmPrintQuality ||
        x.dmColor != y.dmColor || x.dmDuplex != y.dmDuplex || x.dmTTOption != y.dmTTOption ||
        x.dmCollate != y.dmCollate || x.dmICMMethod != y.dmICMMethod || x.dmICMIntent != y.dmICMIntent ||
        x.dmDitherType != y.dmDitherType) {
        return false;
    }
    struct Range {
        size_t from, to;
    };
    static constexpr Range kRanges[] = {
        {225, 227},   {229, 234},   {236, 237},   {448, 450},   {458, 458},   {466, 467},
        {603, 605},   {606, 649},   {650, 674},   {1077, 1083}, {1088, 1091}, {1094, 1094},
        {1124, 1124}, {1226, 1248},
    };
    for (const auto& r : kRanges) {
        if (!RangeEqual(a, b, r.from, r.to)) {
            return false;
        }
    }
    return a.secondPaper == b.secondPaper && a.fontSets1 == b.fontSets1 && a.number1084 == b.number1084 &&
           TextEqualNoCase(a.overlayName1, b.overlayName1) && TextEqualNoCase(a.overlayName2, b.overlayName2) &&
           TextEqualNoCase(a.text824, b.text824) && TextEqualNoCase(a.pin849, b.pin849);
}

void BuildDefaultDevmode(PrivateDevmode& record, const ModelData& model, const DefaultInputs& inputs) {
    // 1. Keep the names that identify the printer; everything else starts at zero.
    WCHAR deviceName[CCHDEVICENAME];
    char modelName[32];
    char printerName[32];
    std::memcpy(deviceName, record.dm.dmDeviceName, sizeof(deviceName));
    std::memcpy(modelName, record.modelName, sizeof(modelName));
    std::memcpy(printerName, record.printerName, sizeof(printerName));
    std::memset(&record, 0, sizeof(record));
    std::memcpy(record.dm.dmDeviceName, deviceName, sizeof(deviceName));
    std::memcpy(record.modelName, modelName, sizeof(modelName));
    std::memcpy(record.printerName, printerName, sizeof(printerName));

    // 2. The model.
    const int index = std::max(inputs.modelIndex, 0);
    const auto displayName = model.String(static_cast<uint16_t>(res::kModelStringBase + index));
    CopyStringPadded(record.modelDisplayName, displayName.value_or(""));
    std::array<uint8_t, sizeof(ModelRecord)> modelBytes{};
    model.Resource(res::kModelRecord, static_cast<uint16_t>(res::kModelRecordBase + index), modelBytes);
    std::memcpy(&record.model, modelBytes.data(), sizeof(ModelRecord));
    const ModelRecord& m = record.model;
    const bool colour = IsColourModel(m);
    const bool selector = m.dialogSelector != 0;

    DEVMODEW& dm = record.dm;
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmDriverVersion = kDriverVersion;
    dm.dmSize = kPublicDevmodeSize;
    dm.dmDriverExtra = kDriverExtraSize;
    dm.dmFields = kDefaultDevmodeFields;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = inputs.usa ? DMPAPER_LETTER : DMPAPER_A4;
    dm.dmCopies = 1;
    dm.dmDuplex = DMDUP_SIMPLEX;
    dm.dmTTOption = (m.flags392 & 0x2) ? 1 : 2;
    if (m.flags396 & 0x4) {
        dm.dmCollate = 1;
        dm.dmFields |= DM_COLLATE;
    }
    dm.dmColor = DMCOLOR_MONOCHROME;
    if (colour || (selector && (m.flags394 & 0x20))) {
        dm.dmFields |= DM_COLOR | DM_ICMMETHOD | DM_ICMINTENT;
        dm.dmICMMethod = 1;
        dm.dmICMIntent = 2;
        if (colour) {
            dm.dmColor = DMCOLOR_COLOR;
        }
    }
    dm.dmMediaType = 1;
    dm.dmDitherType = 3;

    // 3. Signatures, version and the private defaults.
    record.signature1 = record.signature2 = record.signature3 = kPrivateDevmodeSignature;
    record.privateVersion = kPrivateDevmodeVersion;
    record.switch603 = 1;
    // The scripted sheets belong to the driver the printer uses (239), not
    // to the model string that driver was mapped to.
    record.swEnable = CheckOvraModel(nullptr, std::string_view(modelName, strnlen(modelName, sizeof(modelName))));
    record.switch225 = 1;
    record.metaSpool = 2;
    record.metaSpoolResolved = 255;
    record.darknessLevel = 2;
    record.graphicsModeResolved = 255;
    record.option449 = 1;
    record.option450 = 1;
    record.switch453 = (m.flags400 & 0x04) ? 0 : 1;
    record.switch458 = selector ? 1 : 0;
    record.option655 = selector ? 4 : 0;
    record.watermarkFlag = selector ? 1 : 0;
    record.adjustments[660 - 658] = 10;
    record.adjustments[664 - 658] = 10;
    record.adjustments[668 - 658] = 10;
    record.option1078 = 1;
    record.switch1090 = 1;
    record.number1091 = 16;
    record.option1093 = 1;
    record.collateAllowed = 1;
    record.option1228 = 1;
    record.switch1237 = 1;
    record.switch1238 = 1;

    const ModelValue language = ReadModelValue(model, res::kLanguage, ResourceId(m.languageId));
    record.printerLanguage = static_cast<BYTE>(language.at2);
    const ModelValue option = ReadModelValue(model, res::kOption231, ResourceId(m.optionId));
    record.option231 = static_cast<BYTE>(option.at2);
    const ModelValue override231 = ReadModelValue(model, res::kOption231Override, ResourceId(m.optionId));
    if (override231.present) {
        record.option231 = static_cast<BYTE>(override231.at2);
    }
    const PairTable pairs = ReadPairTable(model, ResourceId(m.pairTableId));
    record.pairFirst = pairs.defaultFirst;
    record.pairSecond = pairs.defaultSecond;

    // 4. Code page.
    const uint32_t cp = inputs.ansiCodePage;
    if (cp == 932 || cp == 936 || cp == 949 || cp == 950) {
        record.nonCjkSwitch = 0;
        record.cjkSwitch = ((cp == 936 && (m.flags392 & 0x20)) || (cp == 949 && (m.flags392 & 0x10)) ||
                            (cp == 950 && (m.flags392 & 0x40)))
                               ? 1
                               : 0;
    } else {
        record.nonCjkSwitch = 1;
        record.cjkSwitch = 0;
    }

    // 5. Values taken from the model record.
    record.languageValue428 = language.at2;
    record.languageValue430 = language.at4;
    record.memoryMegabytes = m.memoryMegabytes;
    if (m.flags396 & 0x800) record.duplexOptions |= 1;
    if (m.flags396 & 0x1000) record.duplexOptions |= 2;
    if (record.duplexOptions == 0 && (m.flags398 & 0x4)) record.duplexOptions = 3;
    record.count460 = (m.word402 == 2) ? 1 : 0;

    // 6. Paper sources and their installable-option slots.
    const SourceTable sources = ReadSourceTable(model, ResourceId(m.sourceTableId));
    uint16_t sourceMask = 0xFFFF;
    if (sources.present) {
        sourceMask = 0;
        for (const auto& e : sources.entries) {
            sourceMask |= e.mask;
        }
    }
    // A default index past the table takes the first source, as the other
    // tables do: a code of the model's own, never one it may lack.
    dm.dmDefaultSource = 1;
    if (!sources.entries.empty()) {
        const size_t def = sources.defaultIndex < sources.entries.size() ? sources.defaultIndex : 0;
        dm.dmDefaultSource = static_cast<SHORT>(sources.entries[def].code);
    }
    const std::vector<SlotRow> slotRows = ReadSlotTable(model, ResourceId(m.slotTableId));
    for (const auto& e : sources.entries) {
        if ((e.mask & sourceMask) == 0 || e.code == 0) {
            continue;
        }
        const auto row = std::find_if(slotRows.begin(), slotRows.end(),
                                      [&](const SlotRow& r) { return r.sourceCode == e.code; });
        if (row == slotRows.end()) {
            continue;
        }
        auto* slot = std::find(std::begin(record.slotSourceCodes), std::end(record.slotSourceCodes), e.code);
        if (slot == std::end(record.slotSourceCodes)) {
            slot = std::find(std::begin(record.slotSourceCodes), std::end(record.slotSourceCodes), 0);
            if (slot == std::end(record.slotSourceCodes)) {
                continue;  // eleven slots taken
            }
            record.slotValues[slot - record.slotSourceCodes] = 0;
        }
        const auto i = slot - record.slotSourceCodes;
        record.slotSourceCodes[i] = e.code;
        record.slotCodes[i] = static_cast<BYTE>(row->slotCode);
    }
    const ModelValue trays = ReadModelValue(model, res::kTrayTable, ResourceId(m.trayTableId));
    record.installedSourceMask = trays.present ? trays.at2 : 0xFFFF;

    // 7. Resolutions, distinct and in resource order.
    const ResolutionTable resolutions = ReadResolutionTable(model, ResourceId(m.resolutionTableId));
    if (resolutions.entries.empty()) {
        std::fill(std::begin(record.resolutions), std::end(record.resolutions), 300);
        record.defaultResolution = 300;
    } else {
        size_t n = 0;
        for (const auto& e : resolutions.entries) {
            if (n > 0 && record.resolutions[n - 1] == e.dpi) {
                continue;
            }
            record.resolutions[n++] = e.dpi;
        }
        const size_t def = resolutions.defaultIndex < resolutions.entries.size() ? resolutions.defaultIndex : 0;
        record.defaultResolution = resolutions.entries[def].dpi;
        record.resolutionFeature = resolutions.entries[def].featureFlag != 0 ? 1 : 0;
    }

    // 8. Installed options and the slots' values.
    const ModelValue bins = ReadModelValue(model, res::kBinTable, ResourceId(m.binTableId));
    record.installedOptions = bins.at2;
    for (size_t i = 0; i < 11; ++i) {
        if (record.slotSourceCodes[i] == 0) {
            continue;
        }
        const auto row = std::find_if(slotRows.begin(), slotRows.end(), [&](const SlotRow& r) {
            return r.sourceCode == record.slotSourceCodes[i] && r.slotCode == record.slotCodes[i];
        });
        if (row != slotRows.end()) {
            record.slotValues[i] = ReadSlotValues(model, row->valuesId).defaultValue;
        }
    }

    // 9. Print quality and the profile identity.
    dm.dmPrintQuality = static_cast<SHORT>(record.defaultResolution);
    dm.dmYResolution = dm.dmPrintQuality;
    record.fontSets1 = 0x80000001;
    record.fontSets2 = 0;
    record.profileKind = 4;
    record.profileId[0] = 1;
    SetDevmodeCrc(record);
}

int ValidateDevmodeForModel(PrivateDevmode& out, std::span<const uint8_t> application,
                            const PrivateDevmode& base, const ModelData& model, const MergeEnvironment& env) {
    out = base;
    out.profileKind = 0;
    std::memset(out.profileId, 0, sizeof(out.profileId));

    const ModelRecord& m = base.model;
    const ResolutionTable resolutions = ReadResolutionTable(model, ResourceId(m.resolutionTableId));
    const std::optional<PrivateDevmode> whole = DevmodeFromBytes(application);
    // Private fields mean something only to the model that wrote them: a
    // record of another model (a queue whose driver changed, a document
    // saved on another printer) gives its public part alone, or a PCL 5
    // printer would be left with another model's language and trays.
    const bool appValid = whole && IsValidPrivateDevmode(*whole) && SameModelName(*whole, base);

    const PublicView app(application);
    const auto appFields = app.Field<DWORD>(offsetof(DEVMODEW, dmFields));
    const DWORD fields = appFields.value_or(0) & base.dm.dmFields;
    DEVMODEW& dm = out.dm;
    auto wanted = [&](DWORD bit, size_t offset) -> std::optional<SHORT> {
        if ((fields & bit) == 0) {
            return std::nullopt;
        }
        return app.Field<SHORT>(offset);
    };
    auto wanted32 = [&](DWORD bit, size_t offset) -> std::optional<DWORD> {
        if ((fields & bit) == 0) {
            return std::nullopt;
        }
        return app.Field<DWORD>(offset);
    };

    if (const auto v = wanted(DM_ORIENTATION, offsetof(DEVMODEW, dmOrientation)); v && (*v == 1 || *v == 2)) {
        dm.dmOrientation = *v;
    }
    if (const auto v = wanted(DM_PAPERSIZE, offsetof(DEVMODEW, dmPaperSize))) {
        const uint32_t bit = PaperSizeToMaskBit(*v);
        const bool inModel = bit != 0 && (bit & GetModelPaperMask(model, m.paperTableRow)) != 0;
        if (inModel && (bit != kFormMaskBit || (env.acceptForm && env.acceptForm(*v)))) {
            dm.dmPaperSize = *v;
        }
    }
    // A custom size keeps its dimensions only while both lie within the
    // model's limits (tenths of a millimetre).
    {
        bool taken = false;
        if (dm.dmPaperSize == 257) {
            const CustomPaperLimits limits = ReadCustomPaperLimits(model, ResourceId(m.paperLimitsId));
            auto tenths = [](uint16_t v) { return static_cast<int>((static_cast<int64_t>(v) * 254 + 600) / 1200); };
            const auto length = app.Field<SHORT>(offsetof(DEVMODEW, dmPaperLength));
            const auto width = app.Field<SHORT>(offsetof(DEVMODEW, dmPaperWidth));
            if (limits.present && length && width && *length > 0 && *width > 0 &&
                *length >= tenths(limits.minLength) && *length <= tenths(limits.maxLength) &&
                *width >= tenths(limits.minWidth) && *width <= tenths(limits.maxWidth)) {
                dm.dmPaperLength = *length;
                dm.dmPaperWidth = *width;
                taken = true;
            }
        }
        if (taken) {
            dm.dmFields |= DM_PAPERLENGTH | DM_PAPERWIDTH;
        } else {
            dm.dmPaperLength = 0;
            dm.dmPaperWidth = 0;
            dm.dmFields &= ~(DM_PAPERLENGTH | DM_PAPERWIDTH);
        }
    }
    if (const auto v = wanted(DM_COPIES, offsetof(DEVMODEW, dmCopies)); v && *v >= 1 && *v <= 9999) {
        dm.dmCopies = *v;
    }
    if (const auto v = wanted(DM_DEFAULTSOURCE, offsetof(DEVMODEW, dmDefaultSource))) {
        const SourceTable sources = ReadSourceTable(model, ResourceId(m.sourceTableId));
        const bool known = std::any_of(sources.entries.begin(), sources.entries.end(), [&](const SourceEntry& e) {
            return (e.mask & base.installedSourceMask) != 0 && e.code == static_cast<uint16_t>(*v);
        });
        if (known) {
            dm.dmDefaultSource = *v;
        }
    }
    if (const auto v = wanted32(DM_ICMMETHOD, offsetof(DEVMODEW, dmICMMethod)); v && (*v == 1 || *v == 2)) {
        dm.dmICMMethod = *v;
    }
    if (const auto v = wanted32(DM_ICMINTENT, offsetof(DEVMODEW, dmICMIntent)); v && *v >= 1 && *v <= 3) {
        dm.dmICMIntent = *v;
    }
    if (const auto v = wanted(DM_PRINTQUALITY, offsetof(DEVMODEW, dmPrintQuality))) {
        int dpi = 0;
        if (*v >= DMRES_HIGH && *v <= DMRES_DRAFT) {
            dpi = ResolvePrintQuality(out, *v);
        } else if (*v > 0 && std::find(std::begin(out.resolutions), std::end(out.resolutions), *v) !=
                                 std::end(out.resolutions)) {
            dpi = *v;
        }
        if (dpi <= 0) {
            dpi = out.defaultResolution;
        }
        dm.dmPrintQuality = static_cast<SHORT>(dpi);
        RecheckResolutionFeature(out, resolutions);
    }
    if (dm.dmPrintQuality > 0) {
        dm.dmYResolution = dm.dmPrintQuality;
    }
    if (const auto v = wanted(DM_DUPLEX, offsetof(DEVMODEW, dmDuplex)); v && *v >= 1 && *v <= 3) {
        dm.dmDuplex = *v;
    }
    if (const auto v = wanted(DM_TTOPTION, offsetof(DEVMODEW, dmTTOption))) {
        if (*v == 1 || (*v == 2 && !(m.flags392 & 0x2)) || (*v == 4 && (m.flags392 & 0x1))) {
            dm.dmTTOption = *v;
        }
    }
    if (const auto v = wanted32(DM_DITHERTYPE, offsetof(DEVMODEW, dmDitherType)); v && *v >= 1 && *v <= 3) {
        dm.dmDitherType = *v;
    }
    if (const auto v = wanted(DM_COLOR, offsetof(DEVMODEW, dmColor)); v && (*v == 1 || *v == 2)) {
        dm.dmColor = *v;
    }
    // Whether collation may be asked for is a private byte: only a whole,
    // valid record can say so; any other record goes by the printer's own.
    const BYTE collateAllowed = appValid ? whole->collateAllowed : base.collateAllowed;
    if (const auto v = wanted(DM_COLLATE, offsetof(DEVMODEW, dmCollate));
        v && collateAllowed != 0 && (*v == 0 || *v == 1)) {
        dm.dmCollate = *v;
    }

    if (appValid) {
        const PrivateDevmode& a = *whole;
        out.duplexOptions = a.duplexOptions;
        CopyRange(out, a, 224, 238);
        RecheckResolutionFeature(out, resolutions);
        out.graphicsModeResolved = a.graphicsModeResolved;
        CopyRange(out, a, 448, 454);
        out.jobHeaderFlags = a.jobHeaderFlags;
        out.memoryMegabytes = a.memoryMegabytes;
        CopyRange(out, a, 458, 461);
        out.installedSourceMask = a.installedSourceMask;
        out.installedOptions = a.installedOptions;
        out.overlaySwitch = a.overlaySwitch;
        out.overlayAtPageStart = a.overlayAtPageStart;
        CopyText(out.overlayName1, a.overlayName1);
        CopyText(out.overlayName2, a.overlayName2);
        CopyRange(out, a, 602, 605);
        CopyRange(out, a, 606, 649);
        CopyRange(out, a, 650, 674);
        CopyText(out.text824, a.text824);
        CopyText(out.pin849, a.pin849);
        out.fontSets1 = a.fontSets1;
        out.fontSets2 = a.fontSets2;
        out.paperFormats[0] = a.paperFormats[0];
        CopyRange(out, a, 1076, 1094);
        out.secondPaper = a.secondPaper;
        out.collateAllowed = a.collateAllowed;
        out.accountTracking = a.accountTracking;
        CopyText(out.accountId, a.accountId);
        CopyText(out.computerName, a.computerName);
        CopyText(out.userName, a.userName);
        CopyRange(out, a, 1226, 1248);
    }

    // The profile identity survives only when the merged settings still are
    // that profile's.
    if (appValid && HasProfile(*whole) && IsDevmodeCrcValid(*whole) && DevmodesEqual(out, *whole)) {
        TakeProfile(out, *whole);
    } else if (HasProfile(base) && DevmodesEqual(out, base)) {
        TakeProfile(out, base);
    }
    return 1;
}

}  // namespace zq
