// Resource types and ids of the interface driver's own resources that more
// than one library looks up.
#pragma once

#include <cstdint>

namespace zq::res {

// Model data, each chosen by a model-record word plus 1 (type 260 by the
// model index).
constexpr uint16_t kSourceTable = 259;       // paper sources, 272 bytes
constexpr uint16_t kModelRecord = 260;       // 82 bytes, id 10500 + model index
constexpr uint16_t kResolutionTable = 261;   // 48 bytes
constexpr uint16_t kLanguage = 262;          // printer language values
constexpr uint16_t kOption231 = 263;         // value of byte 231
constexpr uint16_t kPairTable = 264;         // pairs of bytes 233/234, 104 bytes
constexpr uint16_t kFontList = 265;          // resident fonts: description ids - 1, ended by a negative value
constexpr uint16_t kFontDescription = 258;   // one resident font description
constexpr uint16_t kSlotTable = 266;         // installable-option slots, 88 bytes
constexpr uint16_t kSlotValues = 267;        // values of one slot, 152 bytes
constexpr uint16_t kInstallables = 274;      // installable options, 144 bytes
constexpr uint16_t kCodePageList = 276;      // model code pages, 88 bytes
constexpr uint16_t kTrayTable = 277;         // installed trays, 48 bytes
constexpr uint16_t kBinTable = 278;          // output bins, 80 bytes
constexpr uint16_t kPaperLimits = 279;       // custom-paper limits, 8 bytes
constexpr uint16_t kPageList = 281;          // sheet pages, 32 bytes
constexpr uint16_t kControlTable = 283;      // control table, up to 1242 bytes
constexpr uint16_t kOption231Override = 284; // overrides type 263
constexpr uint16_t kCapacityList = 285;      // capacities of one paper source, 72 bytes; id in the source entry

// Static tables of the interface driver, kept as resources of their own
// types so that every model's data is authored in one place.
constexpr uint16_t kModelPaperTable = 300;   // one 292-byte row per id (row + 1)
constexpr uint16_t kPaperGeometry = 301;     // id 1: every geometry row, 26 bytes each
constexpr uint16_t kCodePageTable = 302;     // id 1: every code-page row, 48 bytes each

// Strings.
constexpr uint16_t kModelStringBase = 10000;  // model string 10000 + index
constexpr uint16_t kModelRecordBase = 10500;  // model record id 10500 + index

}  // namespace zq::res
