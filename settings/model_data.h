// Where a printer model's data comes from, and the readers of the model
// resources that the settings record is built from.
//
// Every reader copies at most the size the record's layout allows into a
// zeroed buffer, so a short resource reads as zeros and a long one is cut;
// entry counts are bounded by what fits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/types.h"

namespace zq {

class ModelData {
public:
    virtual ~ModelData() = default;
    // Copies at most out.size() bytes of resource (type, id); returns the
    // resource's full size, 0 when it is absent.
    virtual size_t Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const = 0;
    // String `id` of the string table, nullopt when absent.
    virtual std::optional<std::string> String(uint16_t id) const = 0;
};

// Model data held in memory: tests, and tools that read compiled tables.
class MemoryModelData : public ModelData {
public:
    void SetResource(uint16_t type, uint16_t id, std::vector<uint8_t> bytes);
    void RemoveResource(uint16_t type, uint16_t id);
    void SetString(uint16_t id, std::string text);
    size_t Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const override;
    std::optional<std::string> String(uint16_t id) const override;

private:
    std::map<std::pair<uint16_t, uint16_t>, std::vector<uint8_t>> resources_;
    std::map<uint16_t, std::string> strings_;
};

// A resource read into a fixed, zeroed buffer of N bytes.
template <size_t N>
struct ResourceBytes {
    std::array<uint8_t, N> bytes{};
    size_t size = 0;  // bytes copied
    bool present() const { return size > 0; }
    uint8_t u8(size_t at) const { return at < N ? bytes[at] : 0; }
    uint16_t u16(size_t at) const {
        return static_cast<uint16_t>(u8(at) | (u8(at + 1) << 8));
    }
    uint32_t u32(size_t at) const {
        return static_cast<uint32_t>(u16(at)) | (static_cast<uint32_t>(u16(at + 2)) << 16);
    }
};

template <size_t N>
ResourceBytes<N> ReadModelResource(const ModelData& model, uint16_t type, uint16_t id) {
    ResourceBytes<N> r;
    const size_t full = model.Resource(type, id, r.bytes);
    r.size = full < N ? full : N;
    return r;
}

// Type 259: the paper sources. 24-byte entries from byte 8.
struct SourceEntry {
    uint16_t mask = 0;
    uint16_t code = 0;   // DMBIN source code
    uint16_t trayId = 0;
    uint8_t value = 0;   // entry byte 10
    uint8_t media = 0;   // entry byte 16
    uint16_t capacityListId = 0;  // entry word 6: id of the type 285 list, 0 for none
    uint8_t configField = 0;      // entry byte 12: the "PrinterConfig" field of an installable source
    uint8_t configKind = 0;       // entry byte 13: that field's kind (1 two bits, 3 the duplex bit)
};
struct SourceTable {
    bool present = false;
    uint16_t defaultIndex = 0;
    std::vector<SourceEntry> entries;
};
constexpr size_t kSourceTableSize = 272;
constexpr size_t kSourceEntrySize = 24;
SourceTable ReadSourceTable(const ModelData& model, uint16_t id);

// Type 261: the resolutions. 8-byte entries from byte 8, at most five.
struct ResolutionEntry {
    uint16_t dpi = 0;
    uint16_t yDpi = 0;
    uint8_t featureFlag = 0;
};
struct ResolutionTable {
    bool present = false;
    uint16_t defaultIndex = 0;
    std::vector<ResolutionEntry> entries;  // entries with a dpi of 0 end the list
};
constexpr size_t kResolutionTableSize = 48;
ResolutionTable ReadResolutionTable(const ModelData& model, uint16_t id);

// Type 264: the pair table (bytes 233/234).
struct PairEntry {
    uint16_t first = 0;
    uint16_t second = 0;   // 0 = any
    uint16_t highestDpi = 0;
};
struct PairTable {
    bool present = false;
    uint8_t defaultFirst = 0;
    uint8_t defaultSecond = 0;
    std::vector<PairEntry> entries;
};
constexpr size_t kPairTableSize = 104;
PairTable ReadPairTable(const ModelData& model, uint16_t id);

// Type 266: installable-option slots. 8-byte rows from byte 8:
// {source code, slot code, id of the type 267 record, reserved}.
struct SlotRow {
    uint16_t sourceCode = 0;
    uint16_t slotCode = 0;
    uint16_t valuesId = 0;
};
constexpr size_t kSlotTableSize = 88;
std::vector<SlotRow> ReadSlotTable(const ModelData& model, uint16_t id);

// Type 267: the values of one slot: count at 0, default byte at 2, 6-byte
// entries {value, tag value, string id} from byte 8.
struct SlotValue {
    uint16_t value = 0;
    uint16_t tagValue = 0;
    uint16_t stringId = 0;
};
struct SlotValues {
    bool present = false;
    uint8_t defaultValue = 0;
    std::vector<SlotValue> values;
};
constexpr size_t kSlotValuesSize = 152;
SlotValues ReadSlotValues(const ModelData& model, uint16_t id);

// Type 274: the installable options: count at 0, 8-byte entries from byte
// 8 {option code, reserved, option mask (bits of DEVMODE word 464), reserved}.
struct InstallableOption {
    uint16_t code = 0;
    uint16_t mask = 0;
};
constexpr size_t kInstallablesSize = 144;
std::vector<InstallableOption> ReadInstallables(const ModelData& model, uint16_t id);

// Type 285: the capacities of one paper source: count at 0, 8-byte entries
// from byte 8 {key, sint16 capacity in sheets, reserved}.
struct SourceCapacity {
    uint16_t key = 0;
    int16_t capacity = 0;
};
constexpr size_t kCapacityListSize = 72;
std::vector<SourceCapacity> ReadCapacityList(const ModelData& model, uint16_t id);

// Type 276: the model's code pages: count at 0, 8-byte entries from byte 8
// {code page, reserved, code-page table index, reserved}.
struct CodePageEntry {
    uint16_t codePage = 0;
    uint16_t tableIndex = 0;
};
constexpr size_t kCodePageListSize = 88;
std::vector<CodePageEntry> ReadCodePageList(const ModelData& model, uint16_t id);

// Code-page table (static data): 48-byte rows, font-set masks at 8 and 12.
constexpr size_t kCodePageRowSize = 48;
struct FontSetMasks {
    uint32_t first = 0;
    uint32_t second = 0;
};
std::optional<FontSetMasks> ReadCodePageRow(const ModelData& model, uint16_t index);

// Type 279, in 1/1200 inch.
struct CustomPaperLimits {
    bool present = false;
    uint16_t maxWidth = 0;
    uint16_t minWidth = 0;
    uint16_t maxLength = 0;
    uint16_t minLength = 0;
};
CustomPaperLimits ReadCustomPaperLimits(const ModelData& model, uint16_t id);

// A single value at byte 2 (types 262, 263, 277, 278, 284) and byte 4 (262).
struct ModelValue {
    bool present = false;
    uint16_t at2 = 0;
    uint16_t at4 = 0;
};
ModelValue ReadModelValue(const ModelData& model, uint16_t type, uint16_t id);

// Model paper table rows (static data): 292 bytes, u16 count (at most 24),
// u16 0, then 12-byte entries {mask, four geometry row indexes}.
struct PaperTableEntry {
    uint32_t mask = 0;
    std::array<uint16_t, 4> geometry{};
};
constexpr size_t kPaperTableRowSize = 292;
constexpr size_t kPaperTableMaxEntries = 24;
std::vector<PaperTableEntry> ReadPaperTableRow(const ModelData& model, uint16_t row);

// Paper geometry rows (static data): 13 words each, in 1/1200 inch.
using PaperGeometryRow = std::array<uint16_t, 13>;
constexpr size_t kPaperGeometryRowSize = 26;
std::optional<PaperGeometryRow> ReadPaperGeometryRow(const ModelData& model, uint16_t index);

}  // namespace zq
