#include "interface/ui_utils.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/locale.h"
#include "base/profile.h"
#include "base/resources.h"
#include "base/text.h"
#include "common/res_ids.h"
#include "settings/module_model_data.h"

extern "C" BOOL isUSA() {
    // The user's country number as the locale gives it; a locale that
    // cannot be read is not taken for the US.
    const int size = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, nullptr, 0);
    if (size <= 0 || size > 16) {
        return FALSE;
    }
    WCHAR text[16] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, text, size) <= 0) {
        return FALSE;
    }
    std::optional<int> country;
    for (int i = 0; i < size && text[i] != 0; ++i) {
        if (text[i] < u'0' || text[i] > u'9') {
            return FALSE;
        }
        country = country.value_or(0) * 10 + (text[i] - u'0');
    }
    return zq::IsUsaCountry(country) ? TRUE : FALSE;
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

}  // namespace zq
