// Small services of the interface driver that the settings model, the
// property sheets and the dialogs share: the locale test, print qualities,
// paper masks and names, model lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/types.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

extern "C" {
// TRUE for the countries that use Letter paper by default.
BOOL isUSA();
}

namespace zq {

// The country rule of isUSA: nullopt stands for a locale that cannot be read.
bool IsUsaCountry(std::optional<int> country);

// A DMRES_ value or 0 (the record's own dmPrintQuality) to dots per inch
// through the record's resolution slots; positive values pass unchanged.
int ResolvePrintQuality(const PrivateDevmode& record, int value);

// The one bit of the model paper mask that stands for a paper code: 0 for
// unknown codes below 512, 0x80000000 for forms.
uint32_t PaperSizeToMaskBit(int paperCode);

// The dialog library's logical string id of a paper mask bit's name.
uint16_t PaperMaskBitToNameId(uint32_t maskBit);

// OR of the masks of every entry of a row of the model paper table.
uint32_t GetModelPaperMask(const ModelData& model, uint16_t row);

constexpr uint32_t kFormMaskBit = 0x80000000;
constexpr uint32_t kCustomSizeMaskBit = 0x40000;

// Limits the record's two font-set masks to the model's code pages that the
// system accepts.
void RestrictFontSetsByCodePage(PrivateDevmode& record, const ModelData& model,
                                bool (*isValidCodePage)(uint32_t codePage));

// Names that begin with the "Ovra" prefix, ignoring case.
bool IsOvraName(std::string_view name);
int CheckOvraModel(HANDLE printer, std::string_view modelName);
bool IsOvraModel(std::u16string_view name);

// Copies text into an n-byte field, zero-filling the rest; at most n - 1
// characters so that the field stays terminated. Returns the characters copied.
size_t CopyStringPadded(std::span<char> field, std::string_view text);

// Index i of the first model string 10000 + i equal to modelName, ignoring
// case; -1 when none.
int FindModelIndexByName(const ModelData& model, std::string_view modelName);

// The model a driver stands for: the key "Model" of the section named by the
// whole driver name in pclrend.ini (default the driver name cut to 32
// characters), looked up
// among the module's model strings; -1 when none.
int FindModelIndex(HMODULE module, std::string_view driverName);

// Copies at most out.size() bytes of the module's resource (type, id);
// returns the resource's size, 0 when it is absent.
size_t LoadDriverResource(HMODULE module, uint16_t type, uint16_t id, std::span<uint8_t> out);

// Model string 10000 + index (32 bytes) and model record 10500 + index.
struct LoadedModel {
    bool nameLoaded = false;
    bool recordLoaded = false;
    char name[32] = {};
    ModelRecord record{};
};
LoadedModel LoadModelRecord(HMODULE module, int index);

}  // namespace zq
