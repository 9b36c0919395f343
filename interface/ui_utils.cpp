#include "interface/ui_utils.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/locale.h"
#include "base/profile.h"
#include "base/resources.h"
#include "base/text.h"
#include "base/files.h"
#include "base/loader.h"
#include "base/muldiv.h"
#include "common/res_ids.h"
#include "common/xlated_request.h"
#include "interface/dialog_library.h"
#include "interface/install_record.h"
#include "settings/devmode_ops.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "settings/module_model_data.h"
#include "settings/paper_record.h"
#include "settings/paper_resolution.h"
#include "settings/pd_list.h"
#include "settings/user_forms.h"

extern "C" BOOL isUSA() {
    // A locale that cannot be read is not taken for the US.
    return zq::IsUsaCountry(zq::UserCountry()) ? TRUE : FALSE;
}

extern "C" BOOL GetPaperFormat(LPCSTR printerName, HANDLE printer, zq::PaperFormat* out,
                               const zq::PrivateDevmode* devmode, int paperCode, int orientation, BOOL rotated,
                               int dpi, BOOL keepModelSize) {
    if (out == nullptr || devmode == nullptr) {
        return FALSE;
    }
    const zq::ModuleModelData model(zq::DriverModule());
    zq::PrinterFormSources forms(printerName != nullptr ? printerName : "", printer, model, *devmode);
    return zq::ComputePaperFormat(model, *devmode, forms, paperCode, orientation, rotated != FALSE, dpi,
                                  keepModelSize != FALSE, *out)
               ? TRUE
               : FALSE;
}

extern "C" DWORD Rename(const zq::RenameNames* names) {
    if (names == nullptr || names->oldName == nullptr || names->newName == nullptr) {
        return 0;
    }
    const std::string oldName(names->oldName, strnlen(names->oldName, 256));
    const std::string newName(names->newName, strnlen(names->newName, 256));
    if (oldName.empty() || newName.empty()) {
        return 0;
    }
    const std::string newKey = std::string(zq::kUserPrintersKey) + "\\" + zq::PrinterNameToKeyName(newName);
    const std::u16string from =
        zq::AnsiToWide(std::string(zq::kUserPrintersKey) + "\\" + zq::PrinterNameToKeyName(oldName));
    const std::u16string toPath = zq::AnsiToWide(newKey);
    if (zq::EqualsIgnoreCase(from, toPath)) {
        return 0;  // deleting the old key would delete the copy
    }
    HKEY source = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, from.c_str(), 0, KEY_READ, &source) != ERROR_SUCCESS) {
        return 0;
    }
    HKEY target = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, toPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target,
                        nullptr) != ERROR_SUCCESS) {
        RegCloseKey(source);
        return 0;
    }
    // The old key goes only once every value has its copy: a failure half
    // way keeps the settings under the old name.
    bool copied = true;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD nameChars = 256;
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegEnumValueW(source, i, name, &nameChars, nullptr, &type, nullptr, &size);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        std::vector<BYTE> data(size);
        nameChars = 256;
        if (rc == ERROR_SUCCESS) {
            rc = RegEnumValueW(source, i, name, &nameChars, nullptr, &type, data.data(), &size);
        }
        if (rc != ERROR_SUCCESS ||
            RegSetValueExW(target, name, 0, type, data.data(), size) != ERROR_SUCCESS) {
            copied = false;
            break;
        }
        zq::InstallLogEntry entry;
        entry.printerName = newName;
        entry.keyKind = "hkcu";
        entry.key = newKey;
        entry.valueName = zq::WideToAnsi(std::u16string_view(name, nameChars));
        entry.sectionKind = 2;
        zq::AddInstallLogEntry(entry);
    }
    RegCloseKey(target);
    RegCloseKey(source);
    if (!copied) {
        return 0;
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, from.c_str());
    return 1;
}

namespace zq {

namespace {

struct PaperBit {
    int code;
    uint32_t bit;
};
constexpr PaperBit kPaperBits[] = {
    {1, 0x1},        {5, 0x2},        {13, 0x4},       {9, 0x8},        {7, 0x10},
    {11, 0x20},      {37, 0x40},      {19, 0x80},      {20, 0x100},     {27, 0x200},
    {28, 0x400},     {34, 0x800},     {8, 0x2000},     {12, 0x4000},    {258, 0x8000},
    {14, 0x10000},   {6, 0x20000},    {257, 0x40000},  {259, 0x80000},  {260, 0x100000},
    {261, 0x200000}, {262, 0x400000}, {3, 0x800000},   {768, 0x80000000},
};

struct NameId {
    uint32_t bit;
    uint16_t id;
};
constexpr NameId kNameIds[] = {
    {0x1, 1000},      {0x2, 1001},      {0x4, 1002},      {0x8, 1003},      {0x10, 1004},
    {0x20, 1005},     {0x40, 1006},     {0x80, 1007},     {0x100, 1008},    {0x200, 1009},
    {0x400, 1010},    {0x800, 1011},    {0x1000, 1012},   {0x2000, 1013},   {0x8000, 1014},
    {0x4000, 1015},   {0x40000, 1016},  {0x10000, 1017},  {0x20000, 1018},  {0x80000, 1019},
    {0x100000, 1020}, {0x200000, 1021}, {0x400000, 1022}, {0x800000, 1023},
};

}  // namespace

bool IsUsaCountry(std::optional<int> country) {
    if (!country) {
        return false;
    }
    const int c = *country;
    return c == 1 || c == 2 || c == 50 || c == 51 || c == 53 || c == 54 || (c >= 56 && c <= 59) ||
           (c >= 500 && c <= 599);
}

int ResolvePrintQuality(const PrivateDevmode& record, int value) {
    if (value == 0) {
        value = record.dm.dmPrintQuality;
        if (value == 0) {
            return 0;
        }
    }
    if (value > 0) {
        return value;
    }
    // The slot to start from; each falls back to the nearest earlier slot
    // that is set.
    int start = 0;
    switch (value) {
        case DMRES_DRAFT: start = 3; break;
        case DMRES_LOW: start = 2; break;
        case DMRES_MEDIUM: start = 1; break;
        default: start = 0; break;
    }
    for (int slot = start; slot > 0; --slot) {
        if (record.resolutions[slot] != 0) {
            return record.resolutions[slot];
        }
    }
    return record.resolutions[0];
}

uint32_t PaperSizeToMaskBit(int paperCode) {
    for (const auto& p : kPaperBits) {
        if (p.code == paperCode) {
            return p.bit;
        }
    }
    return paperCode >= 512 ? kFormMaskBit : 0;
}

uint16_t PaperMaskBitToNameId(uint32_t maskBit) {
    for (const auto& n : kNameIds) {
        if (n.bit == maskBit) {
            return n.id;
        }
    }
    return 6104;
}

uint32_t GetModelPaperMask(const ModelData& model, uint16_t row) {
    uint32_t mask = 0;
    for (const auto& e : ReadPaperTableRow(model, row)) {
        mask |= e.mask;
    }
    return mask;
}

void RestrictFontSetsByCodePage(PrivateDevmode& record, const ModelData& model,
                                bool (*isValidCodePage)(uint32_t codePage)) {
    FontSetMasks allowed;
    for (const auto& cp : ReadCodePageList(model, static_cast<uint16_t>(record.model.codePageId + 1))) {
        if (isValidCodePage != nullptr && !isValidCodePage(cp.codePage)) {
            continue;
        }
        if (const auto row = ReadCodePageRow(model, cp.tableIndex)) {
            allowed.first |= row->first;
            allowed.second |= row->second;
        }
    }
    record.fontSets1 &= allowed.first;
    record.fontSets2 &= allowed.second;
}

bool IsOvraName(std::string_view name) {
    return StartsWithIgnoreCase(name, "Ovra");
}

int CheckOvraModel(HANDLE /*printer*/, std::string_view modelName) {
    return IsOvraName(modelName) ? 1 : 0;
}

bool IsOvraModel(std::u16string_view name) {
    if (name.size() < 4) {
        return false;
    }
    std::string head;
    for (size_t i = 0; i < 4; ++i) {
        head.push_back(name[i] < 0x80 ? static_cast<char>(name[i]) : '?');
    }
    return IsOvraName(head);
}

size_t CopyStringPadded(std::span<char> field, std::string_view text) {
    if (field.empty()) {
        return 0;
    }
    const size_t n = std::min(text.size(), field.size() - 1);
    std::fill(field.begin(), field.end(), '\0');
    std::copy_n(text.begin(), n, field.begin());
    return n;
}

int FindModelIndexByName(const ModelData& model, std::string_view modelName) {
    for (int i = 0; i < 500; ++i) {
        const auto s = model.String(static_cast<uint16_t>(res::kModelStringBase + i));
        if (!s) {
            return -1;
        }
        if (EqualsIgnoreCase(*s, modelName)) {
            return i;
        }
    }
    return -1;
}

int FindModelIndex(HMODULE module, std::string_view driverName) {
    // The section is the whole driver name: drivers whose names share their
    // first 32 characters may stand for different models. Only the name
    // that stands in for a missing "Model" key is cut.
    const std::string section(driverName);
    const std::string fallback(driverName.substr(0, std::min<size_t>(driverName.size(), 32)));
    char model[33] = {};
    GetPrivateProfileStringA(section.c_str(), "Model", fallback.c_str(), model, sizeof model, "pclrend.ini");
    return FindModelIndexByName(ModuleModelData(module), model);
}

size_t LoadDriverResource(HMODULE module, uint16_t type, uint16_t id, std::span<uint8_t> out) {
    return ModuleModelData(module).Resource(type, id, out);
}

LoadedModel LoadModelRecord(HMODULE module, int index) {
    LoadedModel m;
    const ModuleModelData data(module);
    if (const auto name = data.String(static_cast<uint16_t>(res::kModelStringBase + index))) {
        CopyStringPadded(m.name, *name);
        m.nameLoaded = true;
    }
    std::array<uint8_t, sizeof(ModelRecord)> bytes{};
    if (data.Resource(res::kModelRecord, static_cast<uint16_t>(res::kModelRecordBase + index), bytes) > 0) {
        std::memcpy(&m.record, bytes.data(), sizeof m.record);
        m.recordLoaded = true;
    }
    return m;
}

std::optional<int> UserCountry() {
    const int size = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, nullptr, 0);
    if (size <= 0 || size > 16) {
        return std::nullopt;
    }
    WCHAR text[16] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, text, size) <= 0) {
        return std::nullopt;
    }
    std::optional<int> country;
    for (int i = 0; i < size && text[i] != 0; ++i) {
        if (text[i] < u'0' || text[i] > u'9') {
            return std::nullopt;
        }
        country = country.value_or(0) * 10 + (text[i] - u'0');
    }
    return country;
}

int FarEastCharset() {
    const auto country = UserCountry();
    if (country == 81) {
        return 128;
    }
    if (country == 82) {
        return 129;
    }
    return 0;
}

std::optional<int> PaperFormSources::AssociatedPaper(int) {
    return std::nullopt;
}

std::optional<PaperGeometryRow> PaperFormSources::UserForm(int, int) {
    return std::nullopt;
}

std::optional<PaperGeometryRow> PaperFormSources::SpoolerForm(int, int) {
    return std::nullopt;
}

namespace {

// A form's geometry row from its size and the printable area of one
// orientation index (1/1200 inch): landscape exchanges width and length;
// the second area is the first.
PaperGeometryRow FormRow(uint16_t width, uint16_t length, const PaperArea& area, uint16_t flags,
                         int orientationIndex) {
    if (orientationIndex & 1) std::swap(width, length);
    PaperGeometryRow r{};
    r[0] = width;
    r[1] = length;
    r[2] = area.printableWidth;
    r[3] = area.printableLength;
    r[4] = area.horizontalOffset;
    r[5] = area.verticalOffset;
    r[6] = static_cast<uint16_t>((area.printableWidth * 720 + 600) / 1200);
    r[7] = static_cast<uint16_t>((area.printableLength * 720 + 600) / 1200);
    r[8] = flags;
    r[9] = area.horizontalOffset;
    r[10] = area.verticalOffset;
    r[11] = area.printableWidth;
    r[12] = area.printableLength;
    return r;
}

}  // namespace

std::optional<int> PrinterFormSources::AssociatedPaper(int code) {
    uint16_t paper = 0;
    FormAssocGetRequest q;
    q.value3 = &paper;
    if (printerName_.empty() || FormAssocGet(printerName_.c_str(), code, q) != 1 || paper == 0) {
        return std::nullopt;
    }
    return paper;
}

std::optional<PaperGeometryRow> PrinterFormSources::UserForm(int code, int orientationIndex) {
    if (code < kFirstUserForm || code >= static_cast<int>(kUserFormEnd) || printerName_.empty()) {
        return std::nullopt;
    }
    zq::PaperRecord form{};
    if (!BuildPaperNameRecord(printerName_.c_str(), model_, record_.model.paperTableRow, static_cast<uint16_t>(code),
                              form, 0xFF)) {
        return std::nullopt;
    }
    return FormRow(form.width, form.length, form.areas[orientationIndex & 3], form.printerCode, orientationIndex);
}

std::optional<PaperGeometryRow> PrinterFormSources::SpoolerForm(int code, int orientationIndex) {
    uint16_t paper = 0, printerCode = 0, width = 0, length = 0;
    PaperArea areas[4] = {};
    if (code < kFirstSpoolerForm || code > 0xFFFF ||
        !GetSpoolerFormGeometry(printer_, model_, record_, static_cast<uint16_t>(code), paper, printerCode, width,
                                length, record_.model.paperTableRow, areas)) {
        return std::nullopt;
    }
    return FormRow(width, length, areas[orientationIndex & 3], 0, orientationIndex);
}

namespace {

// Words of a paper geometry row.
enum GeometryWord : size_t {
    kWidth, kLength, kPrintableWidth, kPrintableLength, kLeft, kTop, kPrintableWidth720, kPrintableLength720,
    kFlags, kSecondLeft, kSecondTop, kSecondPrintableWidth, kSecondPrintableLength,
};

constexpr uint16_t kFormFlag = 0x1000;

constexpr int kCustomSizeCode = 257;
constexpr int kFirstEnvelope = 19;
constexpr int kLastEnvelope = 38;

// The model's entry for a paper's mask bit: the first whose mask holds it.
std::optional<PaperTableEntry> FindPaperEntry(const ModelData& model, uint16_t row, uint32_t bit) {
    for (const auto& e : ReadPaperTableRow(model, row)) {
        if (e.mask & bit) {
            return e;
        }
    }
    return std::nullopt;
}

uint16_t ToWord(int v) {
    return static_cast<uint16_t>(std::clamp(v, 0, 0xFFFF));
}

}  // namespace

bool ComputePaperFormat(const ModelData& model, const PrivateDevmode& devmode, PaperFormSources& forms,
                        int paperCode, int orientation, bool rotated, int dpi, bool keepModelSize,
                        PaperFormat& out) {
    // Device units come from 1/1200 inch by MulDiv: a resolution that does
    // not divide 1200 (720 dpi) keeps its true scale.
    if (dpi <= 0) {
        return false;
    }
    const bool landscape = orientation == DMORIENT_LANDSCAPE;
    const int orientationIndex = (landscape ? 1 : 0) + (rotated ? 2 : 0);
    int code = paperCode;
    if (code >= 640 && code <= 671) {
        code = forms.AssociatedPaper(code).value_or(DMPAPER_LETTER);
    }
    int orientationCode = rotated ? -orientation : orientation;
    std::optional<PaperGeometryRow> g = forms.UserForm(code, orientationIndex);
    if (g) {
        (*g)[kFlags] |= kFormFlag;
    } else if (code >= 896) {
        g = forms.SpoolerForm(code, orientationIndex);
        if (g) {
            uint16_t flags = 0;
            if (const auto entry = FindPaperEntry(model, devmode.model.paperTableRow, kFormMaskBit)) {
                if (const auto row = ReadPaperGeometryRow(model, entry->geometry[orientationIndex])) {
                    flags = (*row)[kFlags];
                }
            }
            (*g)[kFlags] = static_cast<uint16_t>(flags | kFormFlag);
        }
    }
    if (!g) {
        // A code without a bit of its own is looked for as Letter.
        const uint32_t bit = PaperSizeToMaskBit(code);
        const auto entry = FindPaperEntry(model, devmode.model.paperTableRow, bit != 0 ? bit : 0x1);
        if (!entry) {
            return false;
        }
        g = ReadPaperGeometryRow(model, entry->geometry[orientationIndex]);
        if (!g) {
            return false;
        }
        const bool envelope = code >= kFirstEnvelope && code <= kLastEnvelope;
        if (envelope && !landscape && (devmode.model.flags398 & 0x10)) {
            orientationCode = rotated ? 1 : -1;
        }
        if (code == kCustomSizeCode && !keepModelSize && devmode.dm.dmPaperWidth > 0 &&
            devmode.dm.dmPaperLength > 0) {
            PaperGeometryRow& r = *g;
            int width = MulDiv(devmode.dm.dmPaperWidth, 1200, 254);
            int length = MulDiv(devmode.dm.dmPaperLength, 1200, 254);
            if (landscape) {
                std::swap(width, length);
            }
            r[kWidth] = ToWord(width);
            r[kLength] = ToWord(length);
            r[kPrintableWidth] = ToWord(width - 2 * r[kLeft]);
            r[kPrintableLength] = ToWord(length - 2 * r[kTop]);
            r[kPrintableWidth720] = ToWord((r[kPrintableWidth] * 720 + 600) / 1200);
            r[kPrintableLength720] = ToWord((r[kPrintableLength] * 720 + 600) / 1200);
        }
    }
    const PaperGeometryRow& r = *g;
    auto scaled = [&](GeometryWord w) { return ToWord(MulDiv(r[w], dpi, 1200)); };
    PaperFormat f{};
    f.paperCodeAsked = static_cast<WORD>(paperCode);
    f.orientation = static_cast<WORD>(orientation);
    f.paperCodeUsed = static_cast<WORD>(code);
    f.orientationCode = static_cast<WORD>(orientationCode);
    f.usedWidth = scaled(kWidth);
    f.usedLength = scaled(kLength);
    f.usedPrintableWidth = scaled(kPrintableWidth);
    f.usedPrintableLength = scaled(kPrintableLength);
    f.usedLeftMargin = scaled(kLeft);
    f.usedTopMargin = scaled(kTop);
    f.printableWidth720 = r[kPrintableWidth720];
    f.printableLength720 = r[kPrintableLength720];
    f.usedSecondLeftMargin = scaled(kSecondLeft);
    f.usedSecondTopMargin = scaled(kSecondTop);
    f.usedSecondPrintableWidth = scaled(kSecondPrintableWidth);
    f.usedSecondPrintableLength = scaled(kSecondPrintableLength);
    f.flags = r[kFlags];
    f.width = f.usedWidth;
    f.length = f.usedLength;
    f.printableWidth = f.usedPrintableWidth;
    f.printableLength = f.usedPrintableLength;
    f.leftMargin = f.usedLeftMargin;
    f.topMargin = f.usedTopMargin;
    f.secondLeftMargin = f.usedSecondLeftMargin;
    f.secondTopMargin = f.usedSecondTopMargin;
    f.secondPrintableWidth = f.usedSecondPrintableWidth;
    f.secondPrintableLength = f.usedSecondPrintableLength;
    out = f;
    return true;
}

std::optional<PaperDescription> GetPaperDescription(const ModelData& model, uint16_t paperTableRow, int paperCode,
                                                    HMODULE dialogLibrary) {
    const uint32_t bit = PaperSizeToMaskBit(paperCode);
    const auto entry = FindPaperEntry(model, paperTableRow, bit != 0 ? bit : 0x1);
    if (!entry) {
        return std::nullopt;
    }
    PaperDescription d;
    d.code = paperCode;
    char name[65] = {};
    if (CallLoadXlatedString(dialogLibrary, 0, PaperMaskBitToNameId(entry->mask), name, sizeof name - 1) > 0) {
        d.name = std::string(name, strnlen(name, sizeof name));
    }
    for (size_t i = 0; i < 4; ++i) {
        const auto g = ReadPaperGeometryRow(model, entry->geometry[i]);
        if (!g) {
            continue;
        }
        if (i == 0) {
            d.flags = (*g)[kFlags];
            d.width = (*g)[kWidth];
            d.length = (*g)[kLength];
        }
        d.margins[4 * i] = (*g)[kPrintableWidth];
        d.margins[4 * i + 1] = (*g)[kPrintableLength];
        d.margins[4 * i + 2] = (*g)[kLeft];
        d.margins[4 * i + 3] = (*g)[kTop];
    }
    return d;
}

std::optional<PaperDescription> GetPaperDescription(const ModelData& model, uint16_t paperTableRow, int paperCode,
                                                    uint8_t dialogSelector) {
    const HMODULE library = LoadDialogLibrary(dialogSelector);
    auto d = GetPaperDescription(model, paperTableRow, paperCode, library);
    if (library != nullptr) {
        FreeLibrary(library);
    }
    return d;
}

std::string PrinterNameToKeyName(std::string_view printerName) {
    std::string key(printerName);
    std::replace(key.begin(), key.end(), '\\', ',');
    return key;
}

int ApplicationAliasValue(int value, std::string_view alias, std::string_view application, std::string_view key,
                          int defaultValue) {
    if (value != defaultValue || application.empty() || key.empty()) {
        return value;
    }
    size_t start = 0;
    while (start < alias.size()) {
        size_t end = alias.find(';', start);
        if (end == std::string_view::npos) {
            break;  // an entry must be ended
        }
        const std::string_view entry = alias.substr(start, end - start);
        start = end + 1;
        // The separator is any one character that cannot continue the name.
        if (entry.size() <= application.size() ||
            !EqualsIgnoreCase(entry.substr(0, application.size()), application) ||
            std::isalnum(static_cast<unsigned char>(entry[application.size()]))) {
            continue;
        }
        std::string_view items = entry.substr(application.size() + 1);
        while (!items.empty()) {
            const size_t bang = items.find('!');
            const std::string_view item = items.substr(0, bang);
            items = bang == std::string_view::npos ? std::string_view() : items.substr(bang + 1);
            if (item.size() > key.size() && EqualsIgnoreCase(item.substr(0, key.size()), key) &&
                !std::isalnum(static_cast<unsigned char>(item[key.size()]))) {
                return std::atoi(std::string(item.substr(key.size() + 1)).c_str());
            }
        }
    }
    return value;
}

int ApplicationAliasValue(int value, HANDLE printer, std::string_view key, int defaultValue) {
    if (value != defaultValue) {
        return value;
    }
    char path[261] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path - 1);
    std::string application(path, n);
    application = application.substr(application.find_last_of("\\/") == std::string::npos
                                          ? 0
                                          : application.find_last_of("\\/") + 1);
    application = application.substr(0, application.rfind('.'));
    for (char& c : application) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    char alias[2048] = {};
    DWORD type = 0;
    DWORD needed = 0;
    if (GetPrinterDataA(printer, const_cast<LPSTR>("ALIAS"), &type, reinterpret_cast<LPBYTE>(alias), 2047,
                        &needed) != ERROR_SUCCESS) {
        return value;
    }
    return ApplicationAliasValue(value, std::string_view(alias, strnlen(alias, std::min<size_t>(needed, 2047))),
                                 application, key, defaultValue);
}

bool IsValidCheckValue(const PrivateDevmode& record) {
    return IsDevmodeCrcValid(record);
}

int64_t EstimateFontMemory(int64_t a, int64_t b, int64_t c) {
    return a * (c * ((b + 7) / 8) + 63);
}

HFILE OpenFileBesideModule(const char* fileName, UINT style) {
    if (fileName == nullptr) {
        return HFILE_ERROR;
    }
    OFSTRUCT info{};
    const HFILE file = OpenFile(fileName, &info, style);
    if (file > 0) {
        return file;
    }
    // Only the directory of the driver's own module is tried besides the
    // name as given; no length limit beyond the platform's own.
    char module[1024] = {};
    const DWORD n = GetModuleFileNameA(DriverModule(), module, sizeof module);
    if (n == 0 || n >= sizeof module) {
        return HFILE_ERROR;
    }
    std::string dir(module, n);
    const size_t cut = dir.find_last_of("\\/");
    dir.resize(cut == std::string::npos ? 0 : cut + 1);
    std::string name(fileName);
    const size_t last = name.find_last_of("\\/:");
    if (last != std::string::npos) {
        name = name.substr(last + 1);
    }
    if (name.empty()) {
        return HFILE_ERROR;
    }
    return OpenFile((dir + name).c_str(), &info, style);
}

namespace {

const std::array<int, 91>& SineTable() {
    static const std::array<int, 91> table = [] {
        std::array<int, 91> t{};
        for (int d = 0; d <= 90; ++d) {
            t[static_cast<size_t>(d)] = static_cast<int>(std::lround(10000.0 * std::sin(d * M_PI / 180.0)));
        }
        return t;
    }();
    return table;
}

const std::array<double, 90>& TangentTable() {
    static const std::array<double, 90> table = [] {
        std::array<double, 90> t{};
        for (int i = 0; i < 90; ++i) {
            t[static_cast<size_t>(i)] = std::round(std::tan(i * M_PI / 180.0) * 1e6) / 1e6;
        }
        return t;
    }();
    return table;
}

}  // namespace

int TableSine(int angle) {
    const int64_t whole = angle;
    const int m = static_cast<int>((whole < 0 ? -whole : whole) % 360);
    int index = m;
    if (m > 90 && m <= 180) {
        index = 180 - m;
    } else if (m > 180 && m <= 270) {
        index = m - 180;
    } else if (m > 270) {
        index = 360 - m;
    }
    // Each of the lower half-turn and a negative angle turns the sign; both
    // together leave it (sin -270 = +1).
    const bool negative = (m > 180) != (angle < 0);
    const int v = SineTable()[static_cast<size_t>(index)];
    return negative ? -v : v;
}

int TableCosine(int angle) {
    return TableSine(static_cast<int>((static_cast<int64_t>(angle) + 90) % 360));
}

int TableArcTangent(int x, int y) {
    const auto& tangents = TangentTable();
    if (x == 0) {
        return 450;
    }
    const double ratio = static_cast<double>(y) / x;
    for (int i = 0; i < 90; ++i) {
        if (tangents[static_cast<size_t>(i)] > ratio) {
            return 10 * i;
        }
    }
    return 450;
}

int CallLoadXlatedString(HMODULE dialogLibrary, uint32_t direct, uint32_t id, char* buffer, uint16_t size) {
    if (dialogLibrary == nullptr || buffer == nullptr || size == 0) {
        return 0;
    }
    using Load = int (*)(XlatedRequest*);
    const auto load = reinterpret_cast<Load>(GetProcAddress(dialogLibrary, "LoadXlatedString"));
    if (load == nullptr) {
        return 0;
    }
    XlatedRequest request;
    request.size = kXlatedStringRequest;
    request.direct = direct;
    request.id = id;
    request.buffer = buffer;
    request.length = size;
    return load(&request);
}

namespace {

// Calls one of the dialog library's resource exports with a resource request.
template <typename Result>
Result CallXlatedResourceExport(HMODULE dialogLibrary, const char* exportName, uint16_t type, uint32_t id) {
    if (dialogLibrary == nullptr) {
        return Result{};
    }
    using Call = Result (*)(XlatedRequest*);
    const auto call = reinterpret_cast<Call>(GetProcAddress(dialogLibrary, exportName));
    if (call == nullptr) {
        return Result{};
    }
    XlatedRequest request;
    request.size = kXlatedResourceRequest;
    request.id = id;
    request.type = type;
    return call(&request);
}

}  // namespace

const void* CallLoadXlatedResource(HMODULE dialogLibrary, uint16_t type, uint32_t id) {
    return CallXlatedResourceExport<const void*>(dialogLibrary, "LoadXlatedResource", type, id);
}

uint32_t CallGetSizeofXlatedResource(HMODULE dialogLibrary, uint16_t type, uint32_t id) {
    return CallXlatedResourceExport<uint32_t>(dialogLibrary, "GetSizeofXlatedResource", type, id);
}

bool CanOpenPrinter(std::u16string_view printerName) {
    if (printerName.empty()) return false;
    std::u16string name(printerName);
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, &defaults)) return false;
    ClosePrinter(printer);
    return true;
}

bool CanOpenPrinter(std::string_view printerName) {
    return CanOpenPrinter(std::u16string_view(AnsiToWide(printerName)));
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool HasId(const PdList* list, uint16_t id) {
    return PdFieldWord(list, kPdIdKey) == id;
}

}  // namespace

int NamedListSetEntry(const char* printerName, const char* listName, uint16_t id, const char* text,
                      size_t binaryLength) {
    if (printerName == nullptr || listName == nullptr || id == 0 || id >= 0x8000 || text == nullptr ||
        binaryLength > 64) {
        return 0;
    }
    std::string stored;
    if (binaryLength > 0) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        for (size_t i = 0; i < binaryLength; ++i) {
            const auto b = static_cast<uint8_t>(text[i]);
            stored.push_back(kDigits[b >> 4]);
            stored.push_back(kDigits[b & 0xF]);
        }
    } else {
        stored = text;
    }
    if (stored.size() >= 0x7FFF) return 0;
    PdListHolder list(PdListOpen(printerName, listName));
    if (!list) return 0;
    PdDeleteFirst(list.get(), [&](const PdList* l) { return HasId(l, id); });
    PdDeleteFirst(list.get(), [&](const PdList* l) { return PdNameIs(l, stored); });
    const PdField fields[] = {
        {kPdIdKey, 2, &id},
        {kPdNameKey, static_cast<uint16_t>(stored.size() + 1), stored.c_str()},
    };
    if (!PdListAppend(list.get(), 2, fields)) return 0;
    return list.Close() ? 1 : 0;
}

int NamedListGetEntry(const char* printerName, const char* listName, uint16_t id, std::span<char> buffer,
                      bool binary) {
    if (printerName == nullptr || listName == nullptr || buffer.empty()) return 0;
    PdListHolder list(PdListOpen(printerName, listName));
    if (!list || !PdFindFirst(list.get(), [&](const PdList* l) { return HasId(l, id); })) return 0;
    const std::string_view text = PdFieldText(list.get(), kPdNameKey).value_or("");
    if (!binary) {
        CopyBounded(text, buffer.data(), buffer.size());
        return 1;
    }
    if (text.size() % 2 != 0 || text.size() / 2 > buffer.size()) return 0;
    for (size_t i = 0; i < text.size() / 2; ++i) {
        const int high = HexDigit(text[2 * i]);
        const int low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return 0;
        buffer[i] = static_cast<char>((high << 4) | low);
    }
    return 1;
}

int NamedListDeleteEntry(const char* printerName, const char* listName, uint16_t id) {
    if (printerName == nullptr || listName == nullptr) return 0;
    PdListHolder list(PdListOpen(printerName, listName));
    if (!list || !PdDeleteFirst(list.get(), [&](const PdList* l) { return HasId(l, id); })) return 0;
    return list.Close() ? 1 : 0;
}

int NamedListClear(const char* printerName, const char* listName) {
    if (printerName == nullptr || listName == nullptr) return 0;
    PdListHolder list(PdListOpen(printerName, listName));
    if (!list) return 0;
    PdListClear(list.get());
    return list.Close() ? 1 : 0;
}

}  // namespace zq
