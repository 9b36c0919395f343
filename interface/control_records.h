// The control record list of a sheet: built per model from the model's
// control table and the working and default records, written back into a
// record, loaded again from one, and kept consistent by the constraint pass
// that the pages call after every change.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/types.h"
#include "common/control_records.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

extern "C" {
// The constraint pass over a list, called by the pages after a change: 0
// when the list is empty or the loaded profile was forgotten, else the
// length of the last record.
WORD RefreshProc(BYTE* list);
}

namespace zq {

// One entry of the model's control table (resource type 283).
struct ControlEntry {
    uint16_t type = 0;
    uint16_t kind = 0;
    uint16_t parameter1 = 0;
    uint16_t parameter2 = 0;
    uint16_t flags = 0;
};
inline constexpr size_t kControlTableSize = 1242;
inline constexpr size_t kControlEntrySize = 10;

// The entries of control table `id`: the count clamped to what the bytes
// hold, entries of an unknown type or kind left out. Empty when missing.
std::vector<ControlEntry> ReadControlTable(const ModelData& model, uint16_t id);
// True when the control table is there at all.
bool HasControlTable(const ModelData& model, uint16_t id);

// The option list of a kind-7 control: resource (type, id) of the model,
// a u16 count and from byte 8 entries of `entrySize` bytes whose first three
// words are {value, string id, word}. nullopt for a type without a list.
struct OptionList {
    uint16_t resource = 0;
    uint16_t id = 0;
    uint8_t entrySize = 6;
};
inline constexpr size_t kListResourceSize = 152;
std::optional<OptionList> FindOptionList(uint16_t controlType, const ModelRecord& model);

// The two lists of a sheet and, per control type, where its record stands.
struct ControlLists {
    std::vector<uint8_t> working;
    std::vector<uint8_t> saved;
    std::array<uint8_t*, kControlTypeSlots> byType{};
    std::array<uint8_t*, kControlTypeSlots> savedByType{};
};

// Builds both lists (the saved one a copy) and indexes them. 0 on success,
// -1 when the model has no control table.
int BuildControlRecords(ControlLists& lists, uint32_t contextToken, const PrivateDevmode& working,
                        const PrivateDevmode& defaults, const ModelData& model);

// Sets byType[t] to the record of type t in the list (null where none).
void IndexControlRecords(std::span<uint8_t> list, std::array<uint8_t*, kControlTypeSlots>& byType);

// Writes every record of the list into the record and renews its check
// value, which it returns. Records of unknown types, or too short for their
// type, are skipped; the walk stops at a length that leaves the list.
uint16_t ControlsToDevmode(std::span<const uint8_t> list, PrivateDevmode& devmode, const ModelData& model);

// The way back after a profile or default load: every record with a field
// takes its current value from the record; the model's paper ranges,
// sources and print qualities are built again. Defaults stay.
void DevmodeToControls(std::span<uint8_t> list, const PrivateDevmode& devmode, const PrivateDevmode& defaults,
                       const ModelData& model);

// What the constraint pass needs beyond the list: the sheet's records and
// model data. Without it (a list whose sheet is unknown) the model-bound
// steps are left out.
struct ControlContext {
    const ModelData* model = nullptr;
    const PrivateDevmode* working = nullptr;
    const PrivateDevmode* defaults = nullptr;
};

// The constraint pass (what RefreshProc runs).
uint16_t RefreshControlRecords(std::span<uint8_t> list, const ControlContext& context);

// Rebuilds the print-quality record from the model's resolutions for the
// requested resolution and kind, the printer language (type 13) and the
// pages-per-sheet code (type 47).
void RecomputePrintQualityChoices(QualityRecord& record, uint16_t dpi, uint16_t kind, uint16_t language,
                                  uint16_t pagesPerSheet, const ModelData& model, const PrivateDevmode& working,
                                  const PrivateDevmode& defaults);

// The tokens that stand for a sheet in the list header: a per-process
// table, so that no address crosses a library boundary.
uint32_t RegisterControlContext(const ControlContext& context);
void UnregisterControlContext(uint32_t token);

}  // namespace zq
