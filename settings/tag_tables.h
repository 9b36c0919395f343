// Configuration tag tables: for every setting that leaves the driver as a
// tag list, the tag that carries it, the record field it comes from, how
// its value is coded and the scope it belongs to. One walk exports a record
// into a list; the reverse walk, in three passes, imports a list into a
// record.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/types.h"
#include "settings/devmode.h"
#include "settings/model_data.h"
#include "settings/tag_list.h"

namespace zq {

// Scope flags of the rows.
constexpr uint32_t kScopeDocument = 1;
constexpr uint32_t kScopePrinter = 2;
constexpr uint32_t kScopeWatermarks = 4;
constexpr uint32_t kScopeFontFiles = 8;
constexpr uint32_t kScopeOverlays = 16;
constexpr uint32_t kScopeForms = 32;
constexpr uint32_t kScopeAssociations = 256;
constexpr uint32_t kScopeAll = 1023;

// Paper codes kept in the scratch area of an import.
struct CollectedPaper {
    bool seen = false;
    uint32_t tagValue = 0;
    std::string name;  // at most 63 characters
};

// One walk over the tables.
struct DvCfgContext {
    uint32_t scope = 0;
    uint32_t pass = 7;
    // The model name of the record for an export, the printer's name for
    // an import (ANSI).
    std::string printerName;
    HANDLE printer = nullptr;
    bool updatePrinterData = false;  // import handlers also update printer data
    bool profile = false;            // export the profile-only text 824
    PrivateDevmode* record = nullptr;
    const ModelData* model = nullptr;
    UINT codePage = 0;               // the system's ANSI code page; 0: ask
    CollectedPaper paper[2];
    uint32_t rowsImported = 0;
};

struct DvCfgRow;
struct DvCfgTable {
    std::span<const DvCfgRow> rows;
};

// Handlers answer 1 when they wrote or imported, 0 when they did nothing
// and a negative value on failure, which ends the walk.
using DvCfgHandler = int (*)(uint32_t flags, TagListContext** list, DvCfgContext& context, uint32_t tag,
                             const void* argument);

struct DvCfgRow {
    uint32_t tag;
    uint32_t mask;
    uint32_t pass;
    uint32_t scope;
    DvCfgHandler exporter;
    const void* exportArgument;
    DvCfgHandler importer;
    const void* importArgument;
};

// Value maps: {field value, tag value} pairs.
struct ValuePair {
    int32_t field;
    int32_t tag;
};
using ValueMap = std::span<const ValuePair>;

// Leaf descriptors. Offsets are record offsets; widths 1, -1, 2, -2, 4, -4.
struct RangeLeaf {
    uint16_t offset;
    int16_t width;
    uint16_t valueSize;
    uint32_t minimum;
    uint32_t maximum;
    uint32_t defaultValue;
};
struct MapLeaf {
    uint16_t offset;
    int16_t width;
    uint16_t valueSize;
    ValueMap map;
};
struct ScaleLeaf {
    uint16_t offset;
    int16_t width;
    uint16_t multiplier;
    uint16_t divisor;
    uint16_t valueSize;
};
struct CallbackLeaf {
    // Gives the field's internal value (false: nothing to export) and
    // stores one.
    bool (*get)(const DvCfgContext& context, int64_t& value);
    void (*set)(DvCfgContext& context, int64_t value);
    uint16_t valueSize;
    ValueMap map;
};

// The root: 70 rows.
const DvCfgTable& TopTagTable();
// Number of distinct top-level tags (each has one row).
size_t TopTagRowCount();

// Exports the record into the writer for the scope (pass 7). The number of
// rows written, 0 when none, negative when the writer failed.
int DevmodeToTagList(DvCfgContext& context, TagListContext** writer);
// Imports a list in three passes and, when anything was imported, runs the
// closing steps. The number of top-level elements imported; negative when
// a handler failed.
int ImportTagList(DvCfgContext& context, TagListContext** reader);

// The driver's own tables the rows carry values through.
ValueMap PaperCodeMap();          // DMPAPER code -> tag value (1/1, 30/1, 24)
ValueMap SourceKindMap();         // paper-source code -> source kind (256)
ValueMap OptionCodeMap();         // installable-option code -> tag value (257)
struct OptionKind {
    uint16_t mask;
    uint32_t tag;
};
std::span<const OptionKind> OptionKindTable();  // (257)
ValueMap SelectorMap();           // adjustment selector byte -> tag value (354)
ValueMap Code1079Map();           // byte 1079 -> tag value (354)
ValueMap SlotValueCodeMap();      // slot value -> tag value (3/1, 24)
ValueMap Code234Map();            // byte 234 -> tag value (179/1)
ValueMap Code235Map();            // byte 235 -> tag value (179/1)

// Paper codes on the wire: a code up to 262 through the paper map, a form
// code as 0x80000000 + code - 511. 0 when the code has no tag value.
uint32_t PaperCodeToTag(uint32_t code);

}  // namespace zq
