// The control record list: the settings of one property sheet as the pages
// edit them, the interface driver writes them back and the renderer keeps
// them for the job. A packed sequence of records in one block, each led by
// the same six bytes, opened by the list header record and ended by a record
// of length 0 (the block carries 14 zero bytes after the last record).
//
// Byte-exact: the block travels between the interface driver, the dialogs
// and the renderer and into the spool stream. Little-endian throughout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq {

// Control types run from 1 to 124; 65 is the list header.
inline constexpr uint16_t kFirstControlType = 1;
inline constexpr uint16_t kLastControlType = 124;
inline constexpr uint16_t kListHeaderType = 65;
inline constexpr size_t kControlTypeSlots = 125;  // indexed by type, 0 unused

// Zero bytes behind the last record.
inline constexpr size_t kListTrailerSize = 14;

// Layout kinds of the model control table's entries; 13 makes no record.
inline constexpr uint16_t kFirstKind = 1;
inline constexpr uint16_t kLastKind = 17;
inline constexpr uint16_t kNoRecordKind = 13;

// Ends the lists inside kinds 7, 8, 9 and 12.
inline constexpr uint16_t kListEnd = 0xFFFF;

#pragma pack(push, 1)

struct ControlHead {
    uint16_t length;   // bytes of the whole record; 0 ends the list
    uint16_t type;     // control type
    uint8_t flags;     // low byte of the control entry's fifth word
    uint8_t changed;   // set by a page, cleared by the constraint pass
};
static_assert(sizeof(ControlHead) == 6);
static_assert(offsetof(ControlHead, type) == 2 && offsetof(ControlHead, flags) == 4 &&
              offsetof(ControlHead, changed) == 5);

// The first record of every list: the owning sheet context as a 32-bit
// token of the process's handle table, never an address.
struct ListHeaderRecord {
    ControlHead head;
    uint16_t reserved6;
    uint32_t contextToken;
    uint8_t rest[1520];
};
static_assert(sizeof(ListHeaderRecord) == 1532);
static_assert(offsetof(ListHeaderRecord, contextToken) == 8);

// Kind 1: a value with its two resource parameters.
struct ValueRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    uint16_t parameter1;
    uint16_t parameter2;
};
static_assert(sizeof(ValueRecord) == 14);
static_assert(offsetof(ValueRecord, parameter1) == 10 && offsetof(ValueRecord, parameter2) == 12);

// Kind 2: the paper size with the ranges of user forms, form templates and
// associations the model offers (zeros where it offers none).
struct PaperRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    uint16_t userFormFirst;    // 512
    uint16_t userFormLast;     // 519
    uint16_t unitsPerInch;     // 1200
    uint16_t formTemplate;     // 768
    uint16_t associationFirst; // 640
    uint16_t associationLast;  // 671
};
static_assert(sizeof(PaperRecord) == 22);
static_assert(offsetof(PaperRecord, userFormFirst) == 10 && offsetof(PaperRecord, unitsPerInch) == 14 &&
              offsetof(PaperRecord, formTemplate) == 16 && offsetof(PaperRecord, associationLast) == 20);

// Kind 3: the paper source and the model's sources.
struct SourceChoice {
    uint16_t installedMask;
    uint16_t binCode;
    uint16_t trayId;
    uint16_t word;
};
static_assert(sizeof(SourceChoice) == 8);
inline constexpr size_t kSourceChoices = 11;
struct SourceRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    uint16_t heavyMedia;  // 1 when a source's media table holds a value above 500
    SourceChoice sources[kSourceChoices];
};
static_assert(sizeof(SourceRecord) == 100);
static_assert(offsetof(SourceRecord, heavyMedia) == 10 && offsetof(SourceRecord, sources) == 12);

// Kind 4: the TrueType option.
struct TrueTypeRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    uint8_t one;              // 1
    uint8_t singlePage;       // 1 when byte 605 is 0
    uint8_t trueTypeAsFour;   // bit 0 of word 392
    uint8_t reserved13;
};
static_assert(sizeof(TrueTypeRecord) == 14);
static_assert(offsetof(TrueTypeRecord, one) == 10 && offsetof(TrueTypeRecord, trueTypeAsFour) == 12);

// Kind 5: an overlay name and the overlay switch (byte 467).
inline constexpr size_t kOverlayNameSize = 64;
struct OverlayRecord {
    ControlHead head;
    char current[kOverlayNameSize];
    char defaultValue[kOverlayNameSize];
    uint8_t switchCurrent;
    uint8_t switchDefault;
};
static_assert(sizeof(OverlayRecord) == 136);
static_assert(offsetof(OverlayRecord, defaultValue) == 70 && offsetof(OverlayRecord, switchCurrent) == 134);

// Kind 6: print quality with the model's resolutions.
struct QualityChoice {
    uint16_t dpi;
    uint16_t verticalDpi;
    uint16_t kind;
};
static_assert(sizeof(QualityChoice) == 6);
inline constexpr size_t kQualityChoices = 5;
struct QualityRecord {
    ControlHead head;
    uint16_t current;       // index of the current entry
    uint16_t defaultValue;  // index of the default entry
    uint16_t word10;
    uint8_t onlyFirst;      // 1: the draft choice is the first entry
    uint8_t reserved13;
    QualityChoice choices[kQualityChoices];
};
static_assert(sizeof(QualityRecord) == 44);
static_assert(offsetof(QualityRecord, word10) == 10 && offsetof(QualityRecord, onlyFirst) == 12 &&
              offsetof(QualityRecord, choices) == 14);

// Kind 7: an option with the model's values, ended by kListEnd.
struct OptionChoice {
    uint16_t value;
    uint16_t stringId;
    uint16_t word;
};
static_assert(sizeof(OptionChoice) == 6);
inline constexpr size_t kOptionSlots = 19;
inline constexpr size_t kOptionChoicesKept = 18;  // so that the end mark fits
struct OptionRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    OptionChoice choices[kOptionSlots];
};
static_assert(sizeof(OptionRecord) == 124);
static_assert(offsetof(OptionRecord, choices) == 10);

// Kind 8: the pair of bytes 233/234 with the model's pairs.
struct PairChoice {
    uint16_t first;
    uint16_t second;
    uint16_t word4;
    uint16_t highestDpi;
};
static_assert(sizeof(PairChoice) == 8);
inline constexpr size_t kPairSlots = 19;
inline constexpr size_t kPairChoicesKept = 18;
struct PairRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    PairChoice choices[kPairSlots];
};
static_assert(sizeof(PairRecord) == 162);
static_assert(offsetof(PairRecord, choices) == 10);

// Kind 9: the eleven installable-option slots with their values.
inline constexpr size_t kSlotGroups = 11;
inline constexpr size_t kSlotValuesKept = 18;
struct SlotGroup {
    uint16_t optionId;   // private word 606 + 2i
    uint16_t current;    // private byte 639 + i
    uint16_t count;
    OptionChoice values[19];  // count entries, then kListEnd
};
static_assert(sizeof(SlotGroup) == 120);
struct SlotRecord {
    ControlHead head;
    SlotGroup groups[kSlotGroups];
};
static_assert(sizeof(SlotRecord) == 1326);
static_assert(offsetof(SlotRecord, groups) == 6);

// Kind 10: the two font-set masks.
struct FontSetRecord {
    ControlHead head;
    uint16_t reserved6;
    uint32_t firstCurrent;
    uint32_t firstDefault;
    uint32_t secondCurrent;
    uint32_t secondDefault;
};
static_assert(sizeof(FontSetRecord) == 24);
static_assert(offsetof(FontSetRecord, firstCurrent) == 8 && offsetof(FontSetRecord, secondCurrent) == 16);

// Kind 11: the watermarks (bytes 673, 674, 671, 672).
struct WatermarkRecord {
    ControlHead head;
    uint16_t parameter1;
    uint16_t parameter2;
    uint16_t firstCurrent;
    uint16_t firstDefault;
    uint16_t secondCurrent;
    uint16_t secondDefault;
    uint16_t reserved18;
    uint32_t placementCurrent;
    uint32_t placementDefault;
    uint32_t flagCurrent;
    uint32_t flagDefault;
};
static_assert(sizeof(WatermarkRecord) == 36);
static_assert(offsetof(WatermarkRecord, firstCurrent) == 10 && offsetof(WatermarkRecord, secondCurrent) == 14 &&
              offsetof(WatermarkRecord, placementCurrent) == 20 && offsetof(WatermarkRecord, flagCurrent) == 28);

// Kind 12: an adjustment group's selector with the model's choices.
struct AdjustChoice {
    uint16_t value;
    uint16_t stringId;
};
static_assert(sizeof(AdjustChoice) == 4);
inline constexpr size_t kAdjustSlots = 4;
inline constexpr size_t kAdjustChoicesKept = 3;
struct AdjustRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    AdjustChoice choices[kAdjustSlots];
};
static_assert(sizeof(AdjustRecord) == 26);
static_assert(offsetof(AdjustRecord, choices) == 10);

// Kind 14: the number at 1084.
struct NumberRecord {
    ControlHead head;
    uint16_t reserved6;
    uint32_t current;
    uint32_t defaultValue;
};
static_assert(sizeof(NumberRecord) == 16);
static_assert(offsetof(NumberRecord, current) == 8);

// Kind 15: the job-storage option (650, 651) and its two texts.
inline constexpr size_t kJobNameSize = 25;
inline constexpr size_t kPinSize = 5;
struct JobStoreRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    uint16_t storage;         // 8 or 16 by the model's bits
    char jobName[kJobNameSize];  // private 824
    char pin[kPinSize];          // private 849: at most 4 digits
    uint8_t option651;
    uint8_t reserved43;
};
static_assert(sizeof(JobStoreRecord) == 44);
static_assert(offsetof(JobStoreRecord, jobName) == 12 && offsetof(JobStoreRecord, pin) == 37 &&
              offsetof(JobStoreRecord, option651) == 42);

// Kind 16: the personal-profile identity of the working and default records.
struct ProfileRecord {
    ControlHead head;
    uint16_t reserved6;
    uint32_t current[5];      // private 1100, 1108, 1112, 1116, 1120
    uint32_t defaultValue[5];
};
static_assert(sizeof(ProfileRecord) == 48);
static_assert(offsetof(ProfileRecord, current) == 8 && offsetof(ProfileRecord, defaultValue) == 28);

// Kind 17: account tracking with the job's account, computer and user.
struct AccountRecord {
    ControlHead head;
    uint16_t current;
    uint16_t defaultValue;
    uint16_t parameter1;
    uint16_t parameter2;
    char accountId[16];       // private 1125-1140
    uint8_t accountEnd;       // private 1141
    char computerName[41];    // private 1142-1182
    char userName[41];        // private 1183-1223
    uint8_t reserved113;
};
static_assert(sizeof(AccountRecord) == 114);
static_assert(offsetof(AccountRecord, accountId) == 14 && offsetof(AccountRecord, accountEnd) == 30 &&
              offsetof(AccountRecord, computerName) == 31 && offsetof(AccountRecord, userName) == 72);

#pragma pack(pop)

// Length of a record of each kind; 0 for kind 13 and unknown kinds.
constexpr uint16_t ControlRecordLength(uint16_t kind) {
    switch (kind) {
        case 1: return sizeof(ValueRecord);
        case 2: return sizeof(PaperRecord);
        case 3: return sizeof(SourceRecord);
        case 4: return sizeof(TrueTypeRecord);
        case 5: return sizeof(OverlayRecord);
        case 6: return sizeof(QualityRecord);
        case 7: return sizeof(OptionRecord);
        case 8: return sizeof(PairRecord);
        case 9: return sizeof(SlotRecord);
        case 10: return sizeof(FontSetRecord);
        case 11: return sizeof(WatermarkRecord);
        case 12: return sizeof(AdjustRecord);
        case 14: return sizeof(NumberRecord);
        case 15: return sizeof(JobStoreRecord);
        case 16: return sizeof(ProfileRecord);
        case 17: return sizeof(AccountRecord);
        default: return 0;
    }
}

}  // namespace zq
