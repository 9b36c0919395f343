// Building, checking, comparing and merging the private DEVMODE.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "base/types.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

namespace zq {

// CRC-16 with polynomial 0x1021 whose byte enters at the bottom of the
// register before the table step. 0 for no bytes.
uint16_t CalcDevmodeCrc(std::span<const uint8_t> bytes);
// The check value over bytes 64-219 and its test against 1224.
uint16_t DevmodeCheckValue(const PrivateDevmode& record);
bool IsDevmodeCrcValid(const PrivateDevmode& record);
void SetDevmodeCrc(PrivateDevmode& record);

// Spec version, sizes, private version and the three signatures.
bool IsValidPrivateDevmode(const PrivateDevmode& record);
// The same over bytes that may be shorter than a record.
bool IsValidPrivateDevmode(std::span<const uint8_t> bytes);

// The one place where bytes become a record: nullopt unless `bytes` holds a
// whole record (the signatures are not checked here).
std::optional<PrivateDevmode> DevmodeFromBytes(std::span<const uint8_t> bytes);
std::span<const uint8_t> DevmodeBytes(const PrivateDevmode& record);

// Non-zero when the two records agree in every field a user can choose.
bool DevmodesEqual(const PrivateDevmode& a, const PrivateDevmode& b);

// The two records were written for the same driver: their model names (239)
// agree, ignoring case.
bool SameModelName(const PrivateDevmode& a, const PrivateDevmode& b);

// What a default record depends on besides the model data.
struct DefaultInputs {
    bool usa = false;           // Letter rather than A4
    uint32_t ansiCodePage = 1252;
    int modelIndex = 0;         // index of the model string and record
};

// Fills `record` with the model's defaults, keeping dmDeviceName, the model
// name (239) and the printer name (271) that stand in it.
void BuildDefaultDevmode(PrivateDevmode& record, const ModelData& model, const DefaultInputs& inputs);

// What the merge asks outside the two records.
struct MergeEnvironment {
    // Accepts a paper code of a form (user-defined form, form association,
    // spooler form); an empty function refuses every form.
    std::function<bool(int paperCode)> acceptForm;
};

// Merges an application's record, of whatever size, into `base`; the result
// goes to `out`. Public fields are read only within the application's
// dmSize and the bytes given; private fields only from a valid whole record
// of the base's model (SameModelName).
int ValidateDevmodeForModel(PrivateDevmode& out, std::span<const uint8_t> application,
                            const PrivateDevmode& base, const ModelData& model,
                            const MergeEnvironment& env);

}  // namespace zq
