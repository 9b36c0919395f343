#include "settings/tag_tables.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "base/locale.h"
#include "base/muldiv.h"
#include "base/text.h"
#include "interface/ui_utils.h"
#include "settings/font_lists.h"
#include "settings/macros.h"
#include "settings/paper_resolution.h"
#include "settings/pd_list.h"
#include "settings/printer_data_values.h"
#include "settings/user_forms.h"
#include "settings/watermarks.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace zq {
namespace {

// Room for every paper a printer can have: the model's built-in papers, the
// eight user-defined forms, the 32 associations and the fitting spooler
// forms, so that the import finds any of them by name.
constexpr size_t kPaperListCapacity = 1024;

// ---------------------------------------------------------------- fields

uint8_t* FieldAt(DvCfgContext& c, uint16_t offset) {
    return reinterpret_cast<uint8_t*>(c.record) + offset;
}
const uint8_t* FieldAt(const DvCfgContext& c, uint16_t offset) {
    return reinterpret_cast<const uint8_t*>(c.record) + offset;
}

int64_t ReadField(const DvCfgContext& c, uint16_t offset, int16_t width) {
    const uint8_t* p = FieldAt(c, offset);
    switch (width) {
        case 1: return p[0];
        case -1: return static_cast<int8_t>(p[0]);
        case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
        case -2: { int16_t v; std::memcpy(&v, p, 2); return v; }
        case 4: { uint32_t v; std::memcpy(&v, p, 4); return v; }
        case -4: { int32_t v; std::memcpy(&v, p, 4); return v; }
        default: return 0;
    }
}

bool Fits(int64_t value, int16_t width) {
    switch (width) {
        case 1: return value >= 0 && value <= 0xFF;
        case -1: return value >= -128 && value <= 127;
        case 2: return value >= 0 && value <= 0xFFFF;
        case -2: return value >= -32768 && value <= 32767;
        case 4: return value >= 0 && value <= 0xFFFFFFFFLL;
        case -4: return value >= INT32_MIN && value <= INT32_MAX;
        default: return false;
    }
}

// Stores a value into a field of that width; a value that does not fit is
// not taken (false), so it can never wrap into another setting.
bool WriteField(DvCfgContext& c, uint16_t offset, int16_t width, int64_t value) {
    if (!Fits(value, width)) return false;
    uint8_t* p = FieldAt(c, offset);
    const uint32_t v = static_cast<uint32_t>(value);
    const size_t n = static_cast<size_t>(width < 0 ? -width : width);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
    return true;
}

std::optional<int32_t> MapToTag(ValueMap map, int64_t field) {
    for (const ValuePair& p : map) {
        if (p.field == field) return p.tag;
    }
    return std::nullopt;
}

std::optional<int32_t> MapToField(ValueMap map, int64_t tag) {
    for (const ValuePair& p : map) {
        if (static_cast<uint32_t>(p.tag) == static_cast<uint32_t>(tag)) return p.field;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- values

int WriteValue(TagListContext** list, uint32_t tag, uint32_t value) {
    return TagWriteUint32(list, tag, value) ? 1 : -1;
}

// The current element's value: 4 bytes (sign-extended when `signedValue`
// and fewer are accepted); nullopt when it is shorter than `need`.
std::optional<int64_t> ReadValue(TagListContext** list, size_t need = 4, bool signedValue = false) {
    const uint8_t* data = nullptr;
    size_t length = 0;
    if (!TagData(list, &data, &length) || length < need) return std::nullopt;
    const size_t n = std::min<size_t>(length, 4);
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(data[i]) << (8 * i);
    if (signedValue && n < 4 && (v >> (8 * n - 1)) & 1) v |= ~0u << (8 * n);
    return signedValue ? static_cast<int64_t>(static_cast<int32_t>(v)) : static_cast<int64_t>(v);
}

// The current element's first N 32-bit words; false when it is shorter.
template <size_t N>
bool ReadWords(TagListContext** list, uint32_t (&words)[N]) {
    const uint8_t* data = nullptr;
    size_t length = 0;
    if (!TagData(list, &data, &length) || length < sizeof words) return false;
    std::memcpy(words, data, sizeof words);
    return true;
}

// Text elements {tag: {1: {1: text, 2: uint32 0}}}, written only when the
// text is not empty.
int WriteText(TagListContext** list, uint32_t tag, std::string_view text) {
    if (text.empty()) return 0;
    const bool ok = TagBegin(list, tag) && TagBegin(list, 1) && TagBegin(list, 1) &&
                    TagWrite(list, text.data(), text.size()) && TagEnd(list) && TagWriteUint32(list, 2, 0) &&
                    TagEnd(list) && TagEnd(list);
    return ok ? 1 : -1;
}

// The entered element as a text element, or as bare text when its data
// does not begin with a child 1; at most `maxChars`, one trailing NUL
// dropped.
std::string ReadText(TagListContext** list, size_t maxChars = 63) {
    const uint8_t* data = nullptr;
    size_t length = 0;
    std::string text;
    uint32_t tag = 0;
    bool element = false;
    if (TagEnter(list, &tag)) {
        element = tag == 1;
        uint32_t inner = 0;
        if (element && TagEnter(list, &inner)) {
            if (inner == 1 && TagData(list, &data, &length)) text.assign(reinterpret_cast<const char*>(data), length);
            TagEnd(list);
        }
        TagEnd(list);
    }
    if (!element && TagData(list, &data, &length)) text.assign(reinterpret_cast<const char*>(data), length);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    text.resize(strnlen(text.c_str(), text.size()));
    if (text.size() > maxChars) text.resize(maxChars);
    return text;
}

std::string FieldText(const DvCfgContext& c, uint16_t offset, size_t size) {
    const char* p = reinterpret_cast<const char*>(FieldAt(c, offset));
    return std::string(p, strnlen(p, size));
}

void SetFieldText(DvCfgContext& c, uint16_t offset, size_t size, std::string_view text) {
    char* p = reinterpret_cast<char*>(FieldAt(c, offset));
    std::memset(p, 0, size);
    std::memcpy(p, text.data(), std::min(text.size(), size - 1));
}

// Walks the children of the entered element, calling `each` with every
// child's tag while the child is entered.
template <class F>
void ForEachChild(TagListContext** list, F each) {
    uint32_t tag = 0;
    while (TagEnter(list, &tag)) {
        each(tag);
        if (!TagEnd(list)) return;
    }
}

// ---------------------------------------------------------------- leaves

int ExportRange(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const auto& d = *static_cast<const RangeLeaf*>(arg);
    int64_t v = ReadField(c, d.offset, d.width);
    if (v < static_cast<int64_t>(d.minimum) || v > static_cast<int64_t>(d.maximum)) v = d.defaultValue;
    return WriteValue(list, tag, static_cast<uint32_t>(v));
}

int ImportRange(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    const auto& d = *static_cast<const RangeLeaf*>(arg);
    const auto v = ReadValue(list, d.valueSize, d.width < 0);
    if (!v) return 0;
    const int64_t value =
        (*v < static_cast<int64_t>(d.minimum) || *v > static_cast<int64_t>(d.maximum)) ? d.defaultValue : *v;
    return WriteField(c, d.offset, d.width, value) ? 1 : 0;
}

int ExportMap(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const auto& d = *static_cast<const MapLeaf*>(arg);
    const auto t = MapToTag(d.map, ReadField(c, d.offset, d.width));
    return t ? WriteValue(list, tag, static_cast<uint32_t>(*t)) : 0;
}

int ImportMap(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    const auto& d = *static_cast<const MapLeaf*>(arg);
    const auto v = ReadValue(list, d.valueSize);
    if (!v) return 0;
    const auto f = MapToField(d.map, *v);
    return f && WriteField(c, d.offset, d.width, *f) ? 1 : 0;
}

int ExportScale(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const auto& d = *static_cast<const ScaleLeaf*>(arg);
    const int64_t v = ReadField(c, d.offset, d.width) * d.multiplier / d.divisor;
    return WriteValue(list, tag, static_cast<uint32_t>(v));
}

int ImportScale(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    const auto& d = *static_cast<const ScaleLeaf*>(arg);
    const auto v = ReadValue(list, d.valueSize, d.width < 0);
    if (!v) return 0;
    return WriteField(c, d.offset, d.width, *v * d.divisor / d.multiplier) ? 1 : 0;
}

int ExportCallback(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const auto& d = *static_cast<const CallbackLeaf*>(arg);
    int64_t internal = 0;
    if (!d.get(c, internal)) return 0;
    const auto t = MapToTag(d.map, internal);
    return t ? WriteValue(list, tag, static_cast<uint32_t>(*t)) : 0;
}

int ImportCallback(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    const auto& d = *static_cast<const CallbackLeaf*>(arg);
    const auto v = ReadValue(list, d.valueSize);
    if (!v) return 0;
    const auto f = MapToField(d.map, *v);
    if (!f) return 0;
    d.set(c, *f);
    return 1;
}

// A byte carried as a uint32; an import keeps the low byte of a value of
// `need` or more bytes.
struct ByteLeaf {
    uint16_t offset;
    uint16_t need;
};

int ExportByte(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    return WriteValue(list, tag, *FieldAt(c, static_cast<const ByteLeaf*>(arg)->offset));
}

int ImportByte(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    const auto& d = *static_cast<const ByteLeaf*>(arg);
    const auto v = ReadValue(list, d.need);
    if (!v) return 0;
    *FieldAt(c, d.offset) = static_cast<uint8_t>(*v);
    return 1;
}

// ---------------------------------------------------------------- walks

// Rows for scopes 1 and 2 together belong to the printer on models whose
// word 394 has 0x4, else to the document.
uint32_t AdjustedScope(const DvCfgRow& row, const DvCfgContext& c) {
    if (row.scope != kScopeAll && (row.scope & 3) == 3) {
        return (c.record->model.flags394 & 0x4) ? kScopePrinter : kScopeDocument;
    }
    return row.scope;
}

int ExportTable(const DvCfgTable& table, TagListContext** list, DvCfgContext& c) {
    int wrote = 0;
    for (const DvCfgRow& row : table.rows) {
        if ((row.scope & c.scope) == 0) continue;
        const uint32_t flags = AdjustedScope(row, c);
        if ((flags & c.scope) == 0 || row.exporter == nullptr) continue;
        const int r = row.exporter(flags, list, c, row.tag, row.exportArgument);
        if (r < 0) return r;
        if (r > 0) ++wrote;
    }
    return wrote;
}

const DvCfgRow* MatchRow(const DvCfgTable& table, uint32_t tag, const DvCfgContext& c, uint32_t& flags) {
    for (const DvCfgRow& row : table.rows) {
        if ((tag & row.mask) != row.tag || (row.scope & c.scope) == 0 || (row.pass & c.pass) == 0) continue;
        flags = AdjustedScope(row, c);
        if ((flags & c.scope) == 0) continue;
        return &row;
    }
    return nullptr;
}

// Imports the elements at the current level; the number imported, or a
// negative result from a handler.
int ImportLevel(const DvCfgTable& table, TagListContext** list, DvCfgContext& c) {
    int imported = 0;
    uint32_t tag = 0;
    while (TagEnter(list, &tag)) {
        uint32_t flags = 0;
        const DvCfgRow* row = MatchRow(table, tag, c, flags);
        int r = 0;
        if (row != nullptr && row->importer != nullptr) r = row->importer(flags, list, c, tag, row->importArgument);
        if (r < 0) return r;
        if (r > 0) ++imported;
        if (!TagEnd(list)) return -1;
    }
    return imported;
}

int ExportGroup(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    if (!TagBegin(list, tag)) return -1;
    const int r = ExportTable(*static_cast<const DvCfgTable*>(arg), list, c);
    if (r < 0) return r;
    if (r == 0) return TagDiscard(list) ? 0 : -1;
    return TagEnd(list) ? 1 : -1;
}

int ImportGroup(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    // Inner rows import in any pass: the pass was decided at the top.
    const uint32_t pass = c.pass;
    c.pass = 7;
    const int r = ImportLevel(*static_cast<const DvCfgTable*>(arg), list, c);
    c.pass = pass;
    return r < 0 ? r : (r > 0 ? 1 : 0);
}

}  // namespace

// ---------------------------------------------------------------- driver tables

namespace {

// Papers up to 262 that the driver knows, carried as list choices from 256.
constexpr ValuePair kPaperCodes[] = {
    {1, 256},   {5, 257},   {9, 258},   {11, 259},  {13, 260},  {7, 261},   {8, 262},   {12, 263},
    {6, 264},   {3, 265},   {14, 266},  {19, 267},  {20, 268},  {27, 269},  {28, 270},  {34, 271},
    {37, 272},  {257, 273}, {258, 274}, {259, 275}, {260, 276}, {261, 277}, {262, 278},
};

// Source kinds of row 256: list choices from 256 by paper-source code.
constexpr ValuePair kSourceKinds[] = {
    {1, 256}, {2, 257}, {3, 258}, {4, 259}, {5, 260}, {6, 261}, {8, 262}, {9, 263}, {10, 264},
    {11, 265}, {12, 266}, {13, 267}, {14, 268}, {15, 269}, {257, 270}, {258, 271}, {259, 272}, {260, 273},
};

constexpr ValuePair kOptionCodes[] = {
    {1, 256}, {2, 257}, {3, 258}, {4, 259}, {5, 260}, {6, 261}, {7, 262}, {8, 263},
};

constexpr OptionKind kOptionKinds[] = {
    {0x0001, 256}, {0x0002, 257}, {0x0004, 258}, {0x0008, 259}, {0x0010, 260}, {0x0020, 261},
};

constexpr ValuePair kSelectors[] = {
    {0, 0}, {1, 256}, {2, 257}, {3, 258}, {4, 259},
};

constexpr ValuePair kCodes1079[] = {
    {0, 0}, {1, 256}, {2, 257}, {3, 258},
};

// Slot values of the automatic source and of the associations: list
// choices from 0x80000001, 0 for none.
constexpr ValuePair kSlotValueCodes[] = {
    {0, 0},
    {1, static_cast<int32_t>(0x80000001)}, {2, static_cast<int32_t>(0x80000002)},
    {3, static_cast<int32_t>(0x80000003)}, {4, static_cast<int32_t>(0x80000004)},
    {5, static_cast<int32_t>(0x80000005)}, {6, static_cast<int32_t>(0x80000006)},
    {7, static_cast<int32_t>(0x80000007)}, {8, static_cast<int32_t>(0x80000008)},
};

constexpr ValuePair kCodes234[] = {
    {0, 0}, {1, 256}, {2, 257}, {3, 258}, {4, 259},
};

constexpr ValuePair kCodes235[] = {
    {0, 0}, {1, 260}, {2, 261}, {3, 262},
};

}  // namespace

ValueMap PaperCodeMap() { return kPaperCodes; }
ValueMap SourceKindMap() { return kSourceKinds; }
ValueMap OptionCodeMap() { return kOptionCodes; }
std::span<const OptionKind> OptionKindTable() { return kOptionKinds; }
ValueMap SelectorMap() { return kSelectors; }
ValueMap Code1079Map() { return kCodes1079; }
ValueMap SlotValueCodeMap() { return kSlotValueCodes; }
ValueMap Code234Map() { return kCodes234; }
ValueMap Code235Map() { return kCodes235; }

uint32_t PaperCodeToTag(uint32_t code) {
    if (code > 262) return 0x80000000u + code - 511;
    const auto t = MapToTag(kPaperCodes, code);
    return t ? static_cast<uint32_t>(*t) : 0;
}

namespace {

// ---------------------------------------------------------------- own rows

// 1/1 and 30/1: the paper codes; 1/4 and 30/4 their names. The argument is
// the index of the paper (0 dmPaperSize, 1 the second paper at 1096).
uint32_t PaperOf(const DvCfgContext& c, size_t which) {
    return which == 0 ? static_cast<uint16_t>(c.record->dm.dmPaperSize)
                      : static_cast<uint32_t>(std::max<int16_t>(c.record->secondPaper, 0));
}

int ExportPaperCode(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const uint32_t code = PaperOf(c, *static_cast<const size_t*>(arg));
    const uint32_t value = PaperCodeToTag(code);
    return value != 0 ? WriteValue(list, tag, value) : 0;
}

int ImportPaperCode(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    const auto v = ReadValue(list);
    if (!v) return 0;
    CollectedPaper& p = c.paper[*static_cast<const size_t*>(arg)];
    p.seen = true;
    p.tagValue = static_cast<uint32_t>(*v);
    return 1;
}

// Only forms travel with a name: a user-defined form's or a form
// association's.
std::string FormName(const DvCfgContext& c, uint32_t code) {
    char name[kFormNameCapacity] = {};
    if (c.printerName.empty()) return {};
    if (code >= kFirstUserForm && code < kUserFormEnd) {
        UserFormGetRequest q;
        q.name = name;
        if (UserFormGet(c.printerName.c_str(), static_cast<int>(code), q) != 1) return {};
    } else if (code >= kFirstFormAssoc && code < kFormAssocEnd) {
        FormAssocGetRequest q;
        q.name = name;
        if (FormAssocGet(c.printerName.c_str(), static_cast<int>(code), q) != 1) return {};
    }
    return name;
}

int ExportPaperName(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const uint32_t code = PaperOf(c, *static_cast<const size_t*>(arg));
    if (code <= 262) return 0;
    return WriteText(list, tag, FormName(c, code));
}

int ImportPaperName(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    CollectedPaper& p = c.paper[*static_cast<const size_t*>(arg)];
    p.name = ReadText(list, 63);
    return p.name.empty() ? 0 : 1;
}

constexpr size_t kFirstPaper = 0;
constexpr size_t kSecondPaper = 1;

// The per-source values of the automatic source (3/1 and the
// associations): a value's code through the value-code table, and back.
std::optional<uint32_t> SlotValueCode(const SlotValues& values, uint16_t value) {
    for (const SlotValue& v : values.values) {
        if (v.value != value) continue;
        const auto t = MapToTag(kSlotValueCodes, v.tagValue);
        return t ? std::optional<uint32_t>(static_cast<uint32_t>(*t)) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<uint16_t> SlotValueFromCode(const SlotValues& values, int64_t code) {
    for (const ValuePair& p : kSlotValueCodes) {
        if (static_cast<uint32_t>(p.tag) != static_cast<uint32_t>(code)) continue;
        for (const SlotValue& s : values.values) {
            if (s.tagValue == p.field) return s.value;
        }
    }
    return std::nullopt;
}

// 3/1: the per-source value of the slot whose source is automatic (7),
// through resource 266 and its type 267 record.
struct SlotLookup {
    size_t slot = 0;
    SlotValues values;
};

// The slot of a paper source and the values of its type 267 record.
std::optional<SlotLookup> SourceSlot(const DvCfgContext& c, uint16_t sourceCode) {
    if (c.model == nullptr) return std::nullopt;
    for (size_t i = 0; i < std::size(c.record->slotSourceCodes); ++i) {
        if (c.record->slotSourceCodes[i] != sourceCode) continue;
        for (const SlotRow& row : ReadSlotTable(*c.model, static_cast<uint16_t>(c.record->model.slotTableId + 1))) {
            if (row.sourceCode == sourceCode && row.slotCode == c.record->slotCodes[i]) {
                return SlotLookup{i, ReadSlotValues(*c.model, row.valuesId)};
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<SlotLookup> AutomaticSlot(const DvCfgContext& c) { return SourceSlot(c, 7); }

int ExportSlotValue(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    const auto l = AutomaticSlot(c);
    if (!l) return 0;
    const auto code = SlotValueCode(l->values, c.record->slotValues[l->slot]);
    return code ? WriteValue(list, tag, *code) : 0;
}

int ImportSlotValue(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    const auto v = ReadValue(list);
    const auto l = AutomaticSlot(c);
    if (!v || !l) return 0;
    const auto value = SlotValueFromCode(l->values, *v);
    if (!value) return 0;
    c.record->slotValues[l->slot] = static_cast<uint8_t>(*value);
    return 1;
}

// 131586/2: byte 1227 under a child named after the system's code page.
UINT SystemCodePage(const DvCfgContext& c) {
    return c.codePage != 0 ? c.codePage : GetACP();
}

int ExportCjk(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    const UINT cp = SystemCodePage(c);
    const uint32_t child = cp == 932 ? 1 : (cp == 936 || cp == 950) ? 3 : cp == 949 ? 4 : 2;
    const bool ok = TagBegin(list, tag) && TagBegin(list, child) &&
                    TagWriteUint32(list, 1, c.record->cjkSwitch != 0 ? 13 : 14) && TagEnd(list) && TagEnd(list);
    return ok ? 1 : -1;
}

int ImportCjk(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    uint32_t child = 0;
    if (!TagEnter(list, &child)) return 0;
    int r = 0;
    ForEachChild(list, [&](uint32_t t) {
        if (t != 1 || r != 0) return;
        const auto v = ReadValue(list);
        if (v == 13u || v == 14u) {
            c.record->cjkSwitch = *v == 13 ? 1 : 0;
            r = 1;
        }
    });
    TagEnd(list);
    return r;
}

// 131074/65536: the two overlay texts 468 and 532.
int ExportOverlayText(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const int which = *static_cast<const int*>(arg);
    const std::string text = FieldText(c, which == 1 ? 468 : 532, 64);
    const uint32_t kind = which == 1 ? (c.record->overlaySwitch ? 20 : 18) : (c.record->overlaySwitch ? 21 : 19);
    if (!TagBegin(list, tag)) return -1;
    if (WriteText(list, 1, text) < 0) return -1;
    const bool ok = TagWriteUint32(list, 4, c.record->overlayAtPageStart ? 26 : 27) && TagBegin(list, 3) &&
                    TagWriteUint32(list, 1, kind) && TagEnd(list) && TagEnd(list);
    return ok ? 1 : -1;
}

// Reads {1: text; 3: {1: kind}; 4: flag} (overlays) or {1: text; 2: {1:
// kind}; 3: flag} (watermarks).
struct KindElement {
    std::string text;
    bool hasText = false;
    uint32_t kind = 0;
    uint32_t flag = 0;
};

KindElement ReadKindElement(TagListContext** list, uint32_t kindTag, uint32_t flagTag) {
    KindElement e;
    ForEachChild(list, [&](uint32_t t) {
        if (t == 1) {
            e.text = ReadText(list);
            e.hasText = true;
        } else if (t == kindTag) {
            ForEachChild(list, [&](uint32_t k) {
                if (k == 1) e.kind = static_cast<uint32_t>(ReadValue(list).value_or(0));
            });
        } else if (t == flagTag) {
            e.flag = static_cast<uint32_t>(ReadValue(list).value_or(0));
        }
    });
    return e;
}

int ImportOverlayText(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    const KindElement e = ReadKindElement(list, 3, 4);
    if (e.kind < 17 || e.kind > 21) return 0;
    if (e.kind == 17 || e.kind == 18 || e.kind == 20) SetFieldText(c, 468, 64, e.text);
    if (e.kind == 17 || e.kind == 19 || e.kind == 21) SetFieldText(c, 532, 64, e.text);
    if (e.flag == 26) c.record->overlayAtPageStart = 1;
    if (e.flag == 27) c.record->overlayAtPageStart = 0;
    if (e.kind == 18 || e.kind == 19) c.record->overlaySwitch = 0;
    if (e.kind == 20 || e.kind == 21) c.record->overlaySwitch = 1;
    return 1;
}

// 289/65536: the two watermarks chosen by id, carried by name.
int ExportWatermarkChoice(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const int which = *static_cast<const int*>(arg);
    const uint8_t id = which == 1 ? c.record->watermarkId1 : c.record->watermarkId2;
    const uint32_t kind = which == 1 ? (c.record->watermarkPlacement ? 20 : 18)
                                     : (c.record->watermarkPlacement ? 21 : 19);
    char name[64] = {};
    if (id != 0 && !c.printerName.empty()) WatermarkNameFromId(c.printerName.c_str(), id, name, sizeof name);
    if (!TagBegin(list, tag)) return -1;
    if (WriteText(list, 1, name) < 0) return -1;
    const bool ok = TagWriteUint32(list, 3, c.record->watermarkFlag ? 26 : 27) && TagBegin(list, 2) &&
                    TagWriteUint32(list, 1, kind) && TagEnd(list) && TagEnd(list);
    return ok ? 1 : -1;
}

int ImportWatermarkChoice(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    const KindElement e = ReadKindElement(list, 2, 3);
    if (e.kind < 17 || e.kind > 21) return 0;
    const uint16_t id =
        e.text.empty() || c.printerName.empty() ? 0 : WatermarkIdFromName(c.printerName.c_str(), e.text);
    const uint8_t byteId = id <= 0xFF ? static_cast<uint8_t>(id) : 0;
    if (e.kind == 17 || e.kind == 18 || e.kind == 20) c.record->watermarkId1 = byteId;
    if (e.kind == 17 || e.kind == 19 || e.kind == 21) c.record->watermarkId2 = byteId;
    if (e.kind == 20 || e.kind == 21) c.record->watermarkPlacement = 1;
    if (e.kind == 18 || e.kind == 19) c.record->watermarkPlacement = 0;
    if (e.flag == 26) c.record->watermarkFlag = 1;
    if (e.flag == 27) c.record->watermarkFlag = 0;
    return 1;
}

// 448: font sets by character set.
struct CharsetTag {
    uint32_t tag;
    uint8_t charset;
};
constexpr CharsetTag kCharsetTags[] = {{1, 0}, {2, 238}, {3, 204}, {4, 161}, {5, 162}, {6, 186}};

struct FontSetRow {
    uint8_t charset;
    uint32_t mask1;
};
// The character sets of the font-set table that travel in row 448.
constexpr FontSetRow kFontSets[] = {{0, 0x1}, {238, 0x2}, {204, 0x4}, {162, 0x10}, {186, 0x80}, {161, 0x8}};

uint32_t CharsetMask(uint8_t charset) {
    for (const FontSetRow& r : kFontSets) {
        if (r.charset == charset) return r.mask1;
    }
    return 0;
}

// The bits of every valid code page of the model, and the character sets
// among them that travel.
struct ModelFontSets {
    FontSetMasks all;
    std::vector<uint8_t> charsets;
};

ModelFontSets ListedFontSets(const DvCfgContext& c) {
    ModelFontSets out;
    if (c.model == nullptr) return out;
    for (const CodePageEntry& cp : ReadCodePageList(*c.model, static_cast<uint16_t>(c.record->model.codePageId + 1))) {
        if (!IsValidCodePage(cp.codePage)) continue;
        const auto row = ReadCodePageRow(*c.model, cp.tableIndex);
        if (!row) continue;
        out.all.first |= row->first;
        out.all.second |= row->second;
        for (const FontSetRow& r : kFontSets) {
            if ((row->first & r.mask1) && std::find(out.charsets.begin(), out.charsets.end(), r.charset) ==
                                                out.charsets.end()) {
                out.charsets.push_back(r.charset);
            }
        }
    }
    return out;
}

int ExportFontSets(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    const ModelFontSets sets = ListedFontSets(c);
    if (sets.charsets.empty()) return 0;
    if (!TagBegin(list, tag)) return -1;
    for (const CharsetTag& ct : kCharsetTags) {
        if (std::find(sets.charsets.begin(), sets.charsets.end(), ct.charset) == sets.charsets.end()) continue;
        const uint32_t mask = CharsetMask(ct.charset);
        const bool on = ((c.record->fontSets1 | c.record->fontSets2) & mask) != 0;
        if (!TagWriteUint32(list, ct.tag, on ? 1 : 2)) return -1;
    }
    return TagEnd(list) ? 1 : -1;
}

int ImportFontSets(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    uint32_t on = 0, off = 0;
    bool any = false;
    ForEachChild(list, [&](uint32_t t) {
        for (const CharsetTag& ct : kCharsetTags) {
            if (ct.tag != t) continue;
            const auto v = ReadValue(list);
            if (v == 1u) on |= CharsetMask(ct.charset), any = true;
            if (v == 2u) off |= CharsetMask(ct.charset), any = true;
        }
    });
    if (!any) return 0;
    const ModelFontSets sets = ListedFontSets(c);
    c.record->fontSets1 = sets.all.first & ~off & on;
    c.record->fontSets2 = sets.all.second & ~off & on;
    return 1;
}

// 15: byte 449 as three children through eight rows.
struct Row449 {
    uint32_t child1, child3, child4;
};
constexpr Row449 k449Rows[] = {{0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {1, 2, 0}, {1, 1, 258}, {1, 1, 256}, {1, 1, 257}, {1, 2, 258}};

int Export449(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    if (c.record->option449 >= std::size(k449Rows)) return 0;
    const Row449& r = k449Rows[c.record->option449];
    // Child 4 is written even when 0, so that the row is found again.
    const bool ok = TagBegin(list, tag) && TagWriteUint32(list, 1, r.child1) && TagWriteUint32(list, 3, r.child3) &&
                    TagWriteUint32(list, 4, r.child4) && TagEnd(list);
    return ok ? 1 : -1;
}

int Import449(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    std::optional<int64_t> c1, c3, c4;
    ForEachChild(list, [&](uint32_t t) {
        if (t == 1) c1 = ReadValue(list);
        if (t == 3) c3 = ReadValue(list);
        if (t == 4) c4 = ReadValue(list);
    });
    if (!c1 || !c3) return 0;
    std::optional<size_t> found;
    for (size_t i = 0; i < std::size(k449Rows); ++i) {
        const Row449& r = k449Rows[i];
        if (r.child1 == *c1 && r.child3 == *c3 && (!c4 || r.child4 == *c4)) found = i;
    }
    if (!found) return 0;
    c.record->option449 = static_cast<uint8_t>(*found);
    return 1;
}

// 354: three adjustment groups and byte 1079.
constexpr uint16_t kGroupStarts[3][4] = {{654, 658, 659, 660}, {661, 662, 663, 664}, {665, 666, 667, 668}};

int ExportAdjustments(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    if (!TagBegin(list, tag)) return -1;
    for (size_t g = 0; g < 3; ++g) {
        const auto* o = kGroupStarts[g];
        if (!TagBegin(list, static_cast<uint32_t>(65536 * (g + 1)))) return -1;
        if (const auto sel = MapToTag(kSelectors, *FieldAt(c, o[0]))) {
            if (!TagWriteUint32(list, 9, static_cast<uint32_t>(*sel))) return -1;
        }
        const int level = *FieldAt(c, o[3]);
        if (!TagWriteUint32(list, 6, *FieldAt(c, o[1])) || !TagWriteUint32(list, 5, *FieldAt(c, o[2])) ||
            !TagWriteUint32(list, 8, static_cast<uint32_t>((level - 10) * 10)) || !TagEnd(list)) {
            return -1;
        }
    }
    if (!TagBegin(list, 262144)) return -1;
    if (const auto code = MapToTag(kCodes1079, c.record->option1079)) {
        if (!TagWriteUint32(list, 9, static_cast<uint32_t>(*code))) return -1;
    }
    return TagEnd(list) && TagEnd(list) ? 1 : -1;
}

// Backwards through a map where every matching row is applied: the last
// one wins.
std::optional<int32_t> LastField(ValueMap map, int64_t tag) {
    std::optional<int32_t> f;
    for (const ValuePair& p : map) {
        if (static_cast<uint32_t>(p.tag) == static_cast<uint32_t>(tag)) f = p.field;
    }
    return f;
}

int ImportAdjustments(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    int r = 0;
    ForEachChild(list, [&](uint32_t g) {
        if (g == 262144) {
            ForEachChild(list, [&](uint32_t t) {
                if (t != 9) return;
                const auto v = ReadValue(list);
                if (!v) return;
                if (const auto f = LastField(kCodes1079, *v)) c.record->option1079 = static_cast<uint8_t>(*f), r = 1;
            });
            return;
        }
        if (g != 65536 && g != 131072 && g != 196608) return;
        const auto* o = kGroupStarts[g / 65536 - 1];
        ForEachChild(list, [&](uint32_t t) {
            const auto v = ReadValue(list, 4, true);
            if (!v) return;
            int64_t value = *v;
            uint16_t at = 0;
            if (t == 5) at = o[2];
            else if (t == 6) at = o[1];
            else if (t == 8) value = value * 10 / 100 + 10, at = o[3];
            else if (t == 9) {
                const auto f = LastField(kSelectors, *v);
                if (!f) return;
                value = *f;
                at = o[0];
            } else {
                return;
            }
            if (WriteField(c, at, 1, value)) r = 1;
        });
    });
    return r;
}

// 355: byte 669 on models whose byte 400 has 0x80, else byte 670.
constexpr ValuePair k669[] = {{0, 0}, {1, 260}};
constexpr ValuePair k670[] = {{0, 0}, {1, 258}, {2, 256}, {3, 257}};

bool Uses669(const DvCfgContext& c) {
    return (c.record->model.flags400 & 0x80) != 0;
}

int Export355(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    const bool first = Uses669(c);
    const auto t = MapToTag(first ? ValueMap(k669) : ValueMap(k670), first ? c.record->option669 : c.record->option670);
    if (!t) return 0;
    return TagBegin(list, tag) && TagWriteUint32(list, 1, static_cast<uint32_t>(*t)) && TagEnd(list) ? 1 : -1;
}

int Import355(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    int r = 0;
    ForEachChild(list, [&](uint32_t t) {
        const uint8_t* data = nullptr;
        size_t length = 0;
        if (t != 1 || !TagData(list, &data, &length) || length != 4) return;
        const auto v = ReadValue(list);
        const bool first = Uses669(c);
        const auto f = MapToField(first ? ValueMap(k669) : ValueMap(k670), *v);
        if (!f) return;
        (first ? c.record->option669 : c.record->option670) = static_cast<uint8_t>(*f);
        r = 1;
    });
    return r;
}

// 179/1: byte 235 on colour-option models, else byte 234.
bool Uses235(const DvCfgContext& c) {
    const uint16_t w400 = c.record->model.flags400;
    return ((w400 & 0x8) && !(w400 & 0x800)) || c.record->model.optionId == 3;
}

int Export179(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    const bool colour = Uses235(c);
    const auto t = MapToTag(colour ? ValueMap(kCodes235) : ValueMap(kCodes234),
                            colour ? c.record->colourOption235 : c.record->pairSecond);
    return t ? WriteValue(list, tag, static_cast<uint32_t>(*t)) : 0;
}

int Import179(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    const auto v = ReadValue(list, 2);
    if (!v) return 0;
    const bool colour = Uses235(c);
    const auto f = MapToField(colour ? ValueMap(kCodes235) : ValueMap(kCodes234), *v);
    if (!f) return 0;
    (colour ? c.record->colourOption235 : c.record->pairSecond) = static_cast<uint8_t>(*f);
    return 1;
}

// 20/4 (profiles only) and 20/5: texts 824 and 849.
struct TextLeaf {
    uint16_t offset;
    uint16_t size;
    uint16_t readChars;
    bool profileOnly;
};

int ExportTextLeaf(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void* arg) {
    const auto& d = *static_cast<const TextLeaf*>(arg);
    if (d.profileOnly && !c.profile) return 0;
    return WriteText(list, tag, FieldText(c, d.offset, d.size));
}

int ImportTextLeaf(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void* arg) {
    const auto& d = *static_cast<const TextLeaf*>(arg);
    SetFieldText(c, d.offset, d.size, ReadText(list, d.readChars));
    return 1;
}

// ---------------------------------------------------------------- list rows

// The ids and names of a record list's enumeration.
struct Enumerated {
    std::vector<uint16_t> ids;
    std::vector<std::string> names;
};

Enumerated EnumerateList(int (*enumerate)(const char*, void**, void**), const char* printerName) {
    Enumerated out;
    void* ids = nullptr;
    void* names = nullptr;
    const int n = enumerate(printerName, &ids, &names);
    if (n > 0 && ids != nullptr && names != nullptr) {
        const auto* w = static_cast<const uint16_t*>(ids);
        const char* t = static_cast<const char*>(names);
        for (int i = 0; i < n; ++i) {
            out.ids.push_back(w[i]);
            out.names.emplace_back(t);
            t += out.names.back().size() + 1;
        }
    }
    if (ids != nullptr) FreeEnumerationBlock(ids);
    if (names != nullptr) FreeEnumerationBlock(names);
    return out;
}

// 0 .. n - 1, for lists written by index (a plain vector: the ranges view
// trips clang's concepts over this standard library).
std::vector<size_t> Indices(size_t n) {
    std::vector<size_t> v(n);
    std::iota(v.begin(), v.end(), size_t{0});
    return v;
}

// Writes a list row: its element holds one element `entryTag` per item
// that `writeOne` wrote (an item it fails is dropped and the list goes on);
// the row's element is dropped when no item was written.
template <class Items, class F>
int WriteList(TagListContext** list, uint32_t tag, uint32_t entryTag, const Items& items, F writeOne) {
    if (!TagBegin(list, tag)) return -1;
    int wrote = 0;
    for (const auto& item : items) {
        if (!TagBegin(list, entryTag)) return -1;
        const bool ok = writeOne(item);
        if (!(ok ? TagEnd(list) : TagDiscard(list))) return -1;
        wrote += ok ? 1 : 0;
    }
    if (wrote == 0) return TagDiscard(list) ? 0 : -1;
    return TagEnd(list) ? 1 : -1;
}

// Entries of a list row: every child whose tag lies in [low, low + 65536).
template <class F>
void ForEachEntry(TagListContext** list, uint32_t low, F each) {
    ForEachChild(list, [&](uint32_t t) {
        if (t >= low && t - low < 65536) each();
    });
}

constexpr ValuePair kWatermarkCharsets[] = {{0, 1}, {238, 2}, {204, 3}, {161, 4}, {162, 5}, {186, 6}};
constexpr ValuePair kPitches[] = {{1, 256}, {2, 257}};
constexpr ValuePair kFamilies[] = {{0x10, 256}, {0x20, 257}, {0x30, 258}, {0x40, 259}, {0x50, 260}};

bool WriteWatermark(TagListContext** list, const std::string& name, const char* text, const LOGFONTA& f,
                    uint32_t colour, const uint16_t fields[4]) {
    auto on = [](bool b) { return b ? 1u : 2u; };
    if (WriteText(list, 1, name) < 0 || WriteText(list, 2, text) < 0) return false;
    if (WriteText(list, 3, std::string(f.lfFaceName, strnlen(f.lfFaceName, sizeof f.lfFaceName))) < 0) return false;
    bool ok = TagWriteUint32(list, 4, static_cast<uint32_t>(std::abs(static_cast<int64_t>(f.lfHeight)) / 20));
    if (const auto cs = MapToTag(kWatermarkCharsets, f.lfCharSet)) ok = ok && TagWriteUint32(list, 6, *cs);
    int angle = (f.lfEscapement / 10) % 360;
    if (angle > 180) angle -= 360;
    if (angle <= -180) angle += 360;
    ok = ok && TagWriteUint32(list, 7, static_cast<uint32_t>(angle)) && TagWriteUint32(list, 8, colour & 0xFFFFFF) &&
         TagWriteUint32(list, 9, fields[0]) && TagWriteUint32(list, 10, (fields[1] || fields[2]) ? 2 : 1) &&
         TagWriteUint32(list, 11, fields[1]) && TagWriteUint32(list, 12, fields[2]) &&
         TagWriteUint32(list, 13, fields[3] ? 4 : 3) && TagWriteUint32(list, 14, on(f.lfStrikeOut)) &&
         TagWriteUint32(list, 15, on(f.lfUnderline)) && TagWriteUint32(list, 17, on(f.lfItalic)) &&
         TagWriteUint32(list, 18, static_cast<uint32_t>(f.lfWeight));
    if (const auto p = MapToTag(kPitches, f.lfPitchAndFamily & 0x3)) ok = ok && TagWriteUint32(list, 19, *p);
    if (const auto fam = MapToTag(kFamilies, f.lfPitchAndFamily & 0xF0)) ok = ok && TagWriteUint32(list, 20, *fam);
    const bool bold = f.lfWeight > 499;
    const uint32_t style = bold ? (f.lfItalic ? 4 : 3) : (f.lfItalic ? 2 : 1);
    return ok && TagWriteUint32(list, 5, style);
}

int ExportWatermarks(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    const Enumerated marks = EnumerateList(WatermarkEnumerate, c.printerName.c_str());
    return WriteList(list, tag, 65536, Indices(marks.ids.size()), [&](size_t i) {
        char text[256] = {};
        LOGFONTA font{};
        uint32_t colour = 0;
        uint16_t fields[4] = {};
        WatermarkGetRequest request;
        request.text = text;
        request.textCapacity = sizeof text;
        request.font = reinterpret_cast<uint8_t*>(&font);
        request.colour = &colour;
        request.lighten = &fields[0];
        request.placement[0] = &fields[1];
        request.placement[1] = &fields[2];
        request.placement[2] = &fields[3];
        // A watermark that cannot be read is skipped.
        return WatermarkGet(c.printerName.c_str(), marks.ids[i], marks.names[i].c_str(), request) == 1 &&
               WriteWatermark(list, marks.names[i], text, font, colour, fields);
    });
}

// One watermark element read back; the style's halves are taken only when
// no earlier child 5, 17 or 18 gave them.
struct WatermarkElement {
    std::string name, text;
    LOGFONTA font{};
    uint32_t colour = 0;
    uint16_t fields[4] = {};
    bool weightGiven = false, italicGiven = false, familyGiven = false;
};

void ReadWatermarkChild(TagListContext** list, uint32_t t, WatermarkElement& w) {
    if (t == 1) { w.name = ReadText(list); return; }
    if (t == 2) { w.text = ReadText(list, 255); return; }
    if (t == 3) {
        const std::string face = ReadText(list, 31);
        std::memcpy(w.font.lfFaceName, face.c_str(), face.size() + 1);
        return;
    }
    const auto v = ReadValue(list, 4, true);
    if (!v) return;
    const int64_t x = *v;
    switch (t) {
        case 4: w.font.lfHeight = static_cast<int32_t>(x >= 0 ? -20 * std::min<int64_t>(x, 100000) : x); break;
        case 5:
            if (x < 1 || x > 4) break;
            if (!w.weightGiven) w.font.lfWeight = x >= 3 ? 700 : 400, w.weightGiven = true;
            if (!w.italicGiven) w.font.lfItalic = (x == 2 || x == 4) ? 255 : 0, w.italicGiven = true;
            break;
        case 6:
            if (const auto cs = MapToField(kWatermarkCharsets, x)) w.font.lfCharSet = static_cast<uint8_t>(*cs);
            break;
        case 7: {
            int64_t a = x % 360;
            if (a < 0) a += 360;
            w.font.lfEscapement = w.font.lfOrientation = static_cast<int32_t>(a * 10);
            break;
        }
        case 8: w.colour = static_cast<uint32_t>(x) & 0xFFFFFF; break;
        case 9: w.fields[0] = static_cast<uint16_t>(x); break;
        case 11: w.fields[1] = static_cast<uint16_t>(x); break;
        case 12: w.fields[2] = static_cast<uint16_t>(x); break;
        case 13:
            if (x == 3) w.fields[3] = 0;
            if (x == 4) w.fields[3] = 1;
            break;
        case 14: w.font.lfStrikeOut = x == 1; break;
        case 15: w.font.lfUnderline = x == 1; break;
        case 17: w.font.lfItalic = x == 1 ? 255 : 0, w.italicGiven = true; break;
        case 18:
            if (x >= 1 && x <= 999) w.font.lfWeight = static_cast<int32_t>(x), w.weightGiven = true;
            break;
        case 19:
            if (x == 256 || x == 257) w.font.lfPitchAndFamily = static_cast<uint8_t>((w.font.lfPitchAndFamily & ~3) | (x - 255));
            break;
        case 20:
            if (!w.familyGiven && x >= 256 && x <= 260) {
                w.font.lfPitchAndFamily = static_cast<uint8_t>((w.font.lfPitchAndFamily & 0x0F) | ((x - 255) << 4));
                w.familyGiven = true;
            }
            break;
        default: break;
    }
}

int ImportWatermarks(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    int set = 0;
    ForEachEntry(list, 65536, [&]() {
        WatermarkElement w;
        ForEachChild(list, [&](uint32_t t) { ReadWatermarkChild(list, t, w); });
        if (w.name.empty() || w.text.empty()) return;
        const uint16_t id = WatermarkIdFromName(c.printerName.c_str(), w.name);
        if (WatermarkSet(c.printerName.c_str(), id, w.name.c_str(), w.text.c_str(),
                         reinterpret_cast<const uint8_t*>(&w.font), &w.colour, &w.fields[0], &w.fields[1],
                         &w.fields[2], &w.fields[3]) == 1) {
            ++set;
        }
    });
    return set > 0 ? 1 : 0;
}

// Code records {12, code, 0}: the codes 39, 40, 41, 48, 49 stand for 1-5.
constexpr uint32_t kCodeRecordCodes[] = {39, 40, 41, 48, 49};

bool WriteCodeRecord(TagListContext** list, uint32_t tag, uint32_t value) {
    if (value < 1 || value > 5) return true;
    uint8_t record[12] = {};
    const uint32_t words[3] = {12, kCodeRecordCodes[value - 1], 0};
    std::memcpy(record, words, sizeof record);
    return TagBegin(list, tag) && TagWrite(list, record, sizeof record) && TagEnd(list);
}

// 1-5, or 0 (absent) for a short record or another code.
uint16_t ReadCodeRecord(TagListContext** list) {
    uint32_t words[2];
    if (!ReadWords(list, words)) return 0;
    if (words[0] < 8) return 0;
    for (size_t i = 0; i < std::size(kCodeRecordCodes); ++i) {
        if (kCodeRecordCodes[i] == words[1]) return static_cast<uint16_t>(i + 1);
    }
    return 0;
}

constexpr ValuePair kOverlayTypes[] = {{4, 2}, {5, 3}, {6, 4}};

int ExportOverlays(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    void* ids = nullptr;
    void* names = nullptr;
    void* types = nullptr;
    const int n = MacroEnumerate(c.printerName.c_str(), &ids, &names, &types);
    std::vector<uint16_t> idList, typeList;
    std::vector<std::string> nameList;
    if (n > 0 && ids != nullptr && names != nullptr && types != nullptr) {
        const char* t = static_cast<const char*>(names);
        for (int i = 0; i < n; ++i) {
            idList.push_back(static_cast<const uint16_t*>(ids)[i]);
            typeList.push_back(static_cast<const uint16_t*>(types)[i]);
            nameList.emplace_back(t);
            t += nameList.back().size() + 1;
        }
    }
    for (void* b : {ids, names, types}) {
        if (b != nullptr) FreeEnumerationBlock(b);
    }
    return WriteList(list, tag, 65536, Indices(idList.size()), [&](size_t i) {
        uint16_t id = idList[i], type = typeList[i], value = 0;
        char name[64] = {};
        std::strncpy(name, nameList[i].c_str(), sizeof name - 1);
        MacroRequest q;
        q.size = sizeof q;
        q.operation = 3;
        q.id = &id;
        q.name = name;
        q.type = &type;
        q.value = &value;
        if (MacroFeedbackRequest(c.printerName.c_str(), q) != 1) value = 0;
        if (WriteText(list, 1, nameList[i]) < 0 || !TagWriteUint32(list, 3, idList[i])) return false;
        if (const auto t = MapToTag(kOverlayTypes, typeList[i]); t && !TagWriteUint32(list, 4, *t)) return false;
        return WriteCodeRecord(list, 5, value);
    });
}

int ImportOverlays(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    int added = 0;
    ForEachEntry(list, 65536, [&]() {
        std::string name;
        std::optional<uint16_t> id;
        uint16_t type = 0, value = 0;
        ForEachChild(list, [&](uint32_t t) {
            if (t == 1) name = ReadText(list);
            if (t == 3) {
                if (const auto v = ReadValue(list); v && *v <= 0xFFFF) id = static_cast<uint16_t>(*v);
            }
            if (t == 4) type = static_cast<uint16_t>(MapToField(kOverlayTypes, ReadValue(list).value_or(0)).value_or(0));
            if (t == 5) value = ReadCodeRecord(list);
        });
        if (name.empty() || !id) return;
        char nameBuffer[64] = {};
        std::strncpy(nameBuffer, name.c_str(), sizeof nameBuffer - 1);
        uint16_t idValue = *id;
        MacroRequest q;
        q.size = sizeof q;
        q.operation = 1;
        q.id = &idValue;
        q.name = nameBuffer;
        q.type = &type;
        q.value = &value;
        if (MacroFeedbackRequest(c.printerName.c_str(), q) == 1) ++added;
    });
    return added > 0 ? 1 : 0;
}

int ExportFontFiles(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    void* kinds = nullptr;
    void* paths = nullptr;
    void* seconds = nullptr;
    void* values = nullptr;
    FontListRequest q;
    q.kinds = &kinds;
    q.paths = &paths;
    q.seconds = &seconds;
    q.values = &values;
    const int n = FontListEnumerate(c.printerName.c_str(), q, c.printer);
    struct FontEntry {
        uint16_t kind, value;
        std::string path, second;
    };
    std::vector<FontEntry> entries;
    if (n > 0 && kinds != nullptr && paths != nullptr && seconds != nullptr && values != nullptr) {
        const char* p = static_cast<const char*>(paths);
        const char* s = static_cast<const char*>(seconds);
        for (int i = 0; i < n; ++i) {
            FontEntry e{static_cast<const uint16_t*>(kinds)[2 * i], static_cast<const uint16_t*>(values)[2 * i], p, s};
            p += e.path.size() + 1;
            s += e.second.size() + 1;
            entries.push_back(std::move(e));
        }
    }
    for (void* b : {kinds, paths, seconds, values}) {
        if (b != nullptr) FreeEnumerationBlock(b);
    }
    return WriteList(list, tag, 65536, entries, [&](const FontEntry& e) {
        return WriteText(list, e.kind == 2 ? 2 : 1, e.path) >= 0 && WriteText(list, 3, e.second) >= 0 &&
               WriteCodeRecord(list, 4, e.value);
    });
}

int ImportFontFiles(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    int added = 0;
    ForEachEntry(list, 65536, [&]() {
        std::string soft, cartridge, second;
        uint16_t value = 0;
        ForEachChild(list, [&](uint32_t t) {
            if (t == 1) soft = ReadText(list, 259);
            if (t == 2) cartridge = ReadText(list, 259);
            if (t == 3) second = ReadText(list, 259);
            if (t == 4) value = ReadCodeRecord(list);
        });
        if (soft.empty() && cartridge.empty()) return;
        uint16_t kind = cartridge.empty() ? 1 : 2;
        char path[kFontFileNameCapacity] = {};
        char secondName[kFontFileNameCapacity] = {};
        const std::string& chosen = kind == 2 ? cartridge : soft;
        std::strncpy(path, chosen.c_str(), sizeof path - 1);
        std::strncpy(secondName, second.c_str(), sizeof secondName - 1);
        FontRequest q;
        q.size = sizeof q;
        q.operation = 1;
        q.kind = &kind;
        q.path = path;
        q.second = second.empty() ? nullptr : secondName;
        q.value = value != 0 ? &value : nullptr;
        if (FontFeedbackRequest(c.printerName.c_str(), q, c.printer) == 1) ++added;
    });
    return added > 0 ? 1 : 0;
}

// Measure records {20, value, multiplier, units per inch, unit code}; the
// driver writes {20, value in 1/1200 inch, 1, 1200, 37}.
bool WriteMeasure(TagListContext** list, uint32_t tag, uint32_t value) {
    const uint32_t words[5] = {20, value, 1, 1200, 37};
    return TagBegin(list, tag) && TagWrite(list, words, sizeof words) && TagEnd(list);
}

// The value in 1/1200 inch, 0 (absent) for a short record or another unit.
uint16_t ReadMeasure(TagListContext** list) {
    uint32_t w[5];
    if (!ReadWords(list, w)) return 0;
    if (w[4] != 37 || w[3] == 0) return 0;
    if (w[2] == 1 && w[3] == 1200) return static_cast<uint16_t>(w[1]);
    return static_cast<uint16_t>(w[1] * w[2] * 1200u / w[3]);
}

// The lowest code of [first, end) that no paper of the list uses.
std::optional<uint16_t> FreeCode(const std::vector<PrinterPaper>& papers, uint16_t first, uint16_t end) {
    for (uint16_t code = first; code < end; ++code) {
        if (std::none_of(papers.begin(), papers.end(), [&](const PrinterPaper& p) { return p.code == code; })) {
            return code;
        }
    }
    return std::nullopt;
}

int ExportUserForms(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    if (c.model == nullptr || c.printerName.empty()) return 0;
    void* ids = nullptr;
    void* names = nullptr;
    void* sizes = nullptr;
    const int n = UserFormEnumerate(c.printerName.c_str(), &ids, &names, &sizes);
    std::vector<uint16_t> codes;
    if (n > 0 && ids != nullptr) codes.assign(static_cast<const uint16_t*>(ids), static_cast<const uint16_t*>(ids) + n);
    for (void* b : {ids, names, sizes}) {
        if (b != nullptr) FreeEnumerationBlock(b);
    }
    return WriteList(list, tag, 65536, codes, [&](uint16_t code) {
        // A form whose record cannot be had is skipped.
        PaperRecord r{};
        return BuildPaperNameRecord(c.printerName.c_str(), *c.model, c.record->model.paperTableRow, code, r, 0) &&
               WriteText(list, 1, std::string(r.name, strnlen(r.name, sizeof r.name))) >= 0 &&
               WriteMeasure(list, 3, r.length) && WriteMeasure(list, 2, r.width) &&
               TagWriteUint32(list, 4, (r.printerCode & 0x1000) ? 4 : 3);
    });
}

int ImportUserForms(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    PaperLimits limits;
    if (c.model == nullptr || c.printerName.empty() ||
        !GetCustomPaperLimits(*c.model, c.record->model.paperLimitsId, limits)) {
        return 0;
    }
    auto papers = EnumeratePrinterPapers(c.printerName.c_str(), c.printer, *c.model, *c.record, kPaperListCapacity);
    int passed = 0;
    ForEachEntry(list, 65536, [&]() {
        PaperRecord form{};
        BuildPaperNameRecord(nullptr, *c.model, c.record->model.paperTableRow, kCustomPaperCode, form, 0);
        const PaperRecord templ = form;
        std::string name;
        ForEachChild(list, [&](uint32_t t) {
            if (t == 1) name = ReadText(list);
            if (t == 2) form.width = ReadMeasure(list);
            if (t == 3) form.length = ReadMeasure(list);
            if (t == 4) {
                const auto unit = ReadValue(list);
                form.printerCode = static_cast<uint16_t>(unit == 4u ? (form.printerCode | 0x1000) : (form.printerCode & ~0x1000));
            }
        });
        if (name.empty() || form.width == 0 || form.length == 0) return;
        if (form.width < limits.minWidth || form.width > limits.maxWidth || form.length < limits.minLength ||
            form.length > limits.maxLength) {
            return;
        }
        ++passed;
        if (FindPaperByName(papers, name)) return;  // an existing form stays as it is
        const auto code = FreeCode(papers, kFirstUserForm, kUserFormEnd);
        if (!code) return;
        std::memset(form.name, 0, sizeof form.name);
        std::memcpy(form.name, name.data(), std::min(name.size(), sizeof form.name - 1));
        // The printable areas keep the template's margins.
        const uint16_t W = form.width, L = form.length;
        auto cut = [](int v) { return static_cast<uint16_t>(v & 0xFFFC); };
        const PaperArea* m = templ.areas;
        form.areas[0].printableWidth = cut(W - 2 * m[0].horizontalOffset);
        form.areas[0].printableLength = cut(L - 2 * m[0].horizontalOffset);
        form.areas[1].printableWidth = cut(L - 2 * m[1].horizontalOffset);
        form.areas[1].printableLength = cut(W - 2 * m[1].verticalOffset);
        form.areas[2].printableWidth = cut(W - 2 * m[2].horizontalOffset);
        form.areas[2].printableLength = cut(L - 2 * m[2].verticalOffset);
        form.areas[3].printableWidth = cut(L - 2 * m[3].horizontalOffset);
        form.areas[3].printableLength = cut(W - 2 * m[3].verticalOffset);
        const auto* block = reinterpret_cast<const uint8_t*>(form.areas);
        const UserFormValues values{form.paperCode, form.printerCode, form.width, form.length,
                                    std::span<const uint8_t>(block, sizeof form.areas)};
        if (UserFormSet(c.printerName.c_str(), *code, form.name, values) == 1) papers.push_back({*code, name});
    });
    return passed > 0 ? 1 : 0;
}

int ExportSpoolerForms(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    if (c.model == nullptr || c.printer == nullptr) return 0;
    const auto forms = FittingSpoolerForms(c.printer, *c.model, *c.record);
    auto inch = [](LONG v) { return static_cast<uint32_t>(MulDiv(v, 1200, 25400)); };
    return WriteList(list, tag, 131072, forms, [&](const SpoolerForm& f) {
        return WriteText(list, 1, WideToAnsi(f.name)) >= 0 && TagWriteUint32(list, 2, f.flags) &&
               TagWriteUint32(list, 3, inch(f.width)) && TagWriteUint32(list, 4, inch(f.length)) &&
               TagWriteUint32(list, 5, inch(f.imageable.top)) && TagWriteUint32(list, 6, inch(f.imageable.bottom)) &&
               TagWriteUint32(list, 7, inch(f.imageable.left)) && TagWriteUint32(list, 8, inch(f.imageable.right));
    });
}

int ImportSpoolerForms(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    PaperLimits limits;
    if (c.model == nullptr || c.printer == nullptr ||
        !GetCustomPaperLimits(*c.model, c.record->model.paperLimitsId, limits)) {
        return 0;
    }
    std::vector<std::string> names;
    for (const SpoolerForm& f : FittingSpoolerForms(c.printer, *c.model, *c.record)) names.push_back(WideToAnsi(f.name));
    int passed = 0;
    ForEachEntry(list, 131072, [&]() {
        std::string name;
        std::optional<uint32_t> flags;
        uint32_t v[9] = {};  // children 3-8 in 1/1200 inch
        ForEachChild(list, [&](uint32_t t) {
            if (t == 1) name = ReadText(list);
            if (t == 2) {
                if (const auto x = ReadValue(list)) flags = static_cast<uint32_t>(*x);
            }
            if (t >= 3 && t <= 8) v[t] = static_cast<uint32_t>(ReadValue(list).value_or(0));
        });
        if (name.empty() || !flags || v[3] == 0 || v[4] == 0) return;
        if (v[3] < limits.minWidth || v[3] > limits.maxWidth || v[4] < limits.minLength || v[4] > limits.maxLength) {
            return;
        }
        ++passed;
        if (std::any_of(names.begin(), names.end(), [&](const std::string& n) { return EqualsIgnoreCase(n, name); })) {
            return;
        }
        if (names.size() >= 32) return;  // codes 896-927 are all in use
        auto um = [](uint32_t x) { return static_cast<LONG>(MulDiv(static_cast<INT>(x), 25400, 1200)); };
        std::u16string wide = AnsiToWide(name);
        FORM_INFO_1W form{};
        form.Flags = *flags;
        form.pName = wide.data();
        form.Size = {um(v[3]), um(v[4])};
        form.ImageableArea = {um(v[7]), um(v[5]), um(v[8]), um(v[6])};
        if (AddFormW(c.printer, 1, reinterpret_cast<LPBYTE>(&form))) names.push_back(name);
    });
    return passed > 0 ? 1 : 0;
}

// 24: the form associations.
const ModelData& ModelOf(const DvCfgContext& c) {
    static const MemoryModelData none;
    return c.model != nullptr ? *c.model : none;
}

// The value table of the automatic source: the values record of the first
// slot row of source 7 and slot code 0.
SlotValues AssociationValues(const DvCfgContext& c) {
    if (c.model == nullptr) return {};
    for (const SlotRow& row : ReadSlotTable(*c.model, static_cast<uint16_t>(c.record->model.slotTableId + 1))) {
        if (row.sourceCode == 7 && row.slotCode == 0) return ReadSlotValues(*c.model, row.valuesId);
    }
    return {};
}

constexpr uint32_t kAssocWatermark = 131072;
constexpr uint32_t kAssocOverlay = 262144;
constexpr uint32_t kSameBoth = 50, kFrontOnly = 51, kBackOnly = 52;
constexpr uint32_t kFlagSet = 26, kFlagClear = 27;

std::string_view AssocText(const FormAssocText& t) {
    return std::string_view(t.name, strnlen(t.name, sizeof t.name));
}

// A front and a back text as one element of kind 50 when they are the
// same, else one element each (51 front, 52 back); empty texts are not
// written. Watermarks count as the same by name, overlays by name and flag.
bool WriteAssocPair(TagListContext** list, uint32_t tag, const FormAssocText (&pair)[2], bool compareFlags,
                    uint32_t kindTag, uint32_t flagTag) {
    const std::string_view front = AssocText(pair[0]), back = AssocText(pair[1]);
    const bool same = !front.empty() && EqualsIgnoreCase(front, back) && (!compareFlags || pair[0].flag == pair[1].flag);
    auto one = [&](const FormAssocText& t, uint32_t kind) {
        return TagBegin(list, tag) && WriteText(list, 1, AssocText(t)) >= 0 &&
               TagWriteUint32(list, flagTag, t.flag != 0 ? kFlagSet : kFlagClear) && TagWriteUint32(list, kindTag, kind) &&
               TagEnd(list);
    };
    if (!front.empty() && !one(pair[0], same ? kSameBoth : kFrontOnly)) return false;
    if (!back.empty() && !same && !one(pair[1], kBackOnly)) return false;
    return true;
}

int ExportAssociations(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    if (c.printerName.empty()) return 0;
    const Enumerated assocs = EnumerateList(FormAssocEnumerate, c.printerName.c_str());
    const SlotValues values = AssociationValues(c);
    return WriteList(list, tag, 65536, assocs.ids, [&](uint16_t code) {
        FormAssocRecord r;
        if (!ReadFormAssocRecord(c.printerName.c_str(), code, r)) return false;
        if (WriteText(list, 1, std::string_view(r.name, strnlen(r.name, sizeof r.name))) < 0) return false;
        if (const auto v = SlotValueCode(values, r.sourceValue); v && *v != 0 && !TagWriteUint32(list, 4, *v)) {
            return false;
        }
        if (r.paperCode <= 262) {
            if (const auto t = MapToTag(kPaperCodes, r.paperCode); t && !TagWriteUint32(list, 2, static_cast<uint32_t>(*t))) {
                return false;
            }
        } else if (r.paperCode < kFirstFormAssoc || r.paperCode >= kFormAssocEnd) {
            // A form travels by its name: a user-defined form's, or a fitting
            // spooler form's (the importer finds either by name).
            std::string name = FormName(c, r.paperCode);
            if (r.paperCode >= kFirstSpoolerForm && c.printer != nullptr && c.model != nullptr) {
                if (const auto form = GetSpoolerFormInfo(c.printer, *c.model, *c.record, r.paperCode)) {
                    name = WideToAnsi(form->name);
                }
            }
            if (WriteText(list, 5, name) < 0) return false;
        }
        return WriteAssocPair(list, kAssocWatermark, r.watermarks, false, 2, 3) &&
               WriteAssocPair(list, kAssocOverlay, r.overlays, true, 3, 4);
    });
}

// One watermark or overlay element of an association: the name, when the
// printer has one of that name, goes to the front (kind 50, 51 or none)
// and to the back (50, 52 or none).
void ReadAssocPair(TagListContext** list, const std::vector<std::string>& known, uint32_t kindTag, uint32_t flagTag,
                   FormAssocText (&pair)[2]) {
    std::string name;
    uint32_t kind = 0, flag = 0;
    ForEachChild(list, [&](uint32_t t) {
        if (t == 1) name = ReadText(list);
        if (t == kindTag) kind = static_cast<uint32_t>(ReadValue(list).value_or(0));
        if (t == flagTag) flag = static_cast<uint32_t>(ReadValue(list).value_or(0));
    });
    const auto it = std::find_if(known.begin(), known.end(),
                                 [&](const std::string& k) { return EqualsIgnoreCase(k, name); });
    if (name.empty() || it == known.end()) return;
    if (kind < kSameBoth || kind > kBackOnly) kind = 0;  // absent
    for (size_t side = 0; side < 2; ++side) {
        if (kind != 0 && kind != kSameBoth && kind != (side == 0 ? kFrontOnly : kBackOnly)) continue;
        FormAssocText& t = pair[side];
        std::memset(t.name, 0, sizeof t.name);
        std::memcpy(t.name, it->data(), std::min(it->size(), sizeof t.name - 1));
        t.flag = flag == kFlagSet ? 1 : 0;
    }
}

int ImportAssociations(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    if (c.printerName.empty()) return 0;
    const char* printer = c.printerName.c_str();
    std::vector<std::string> overlays;
    {
        void *ids = nullptr, *names = nullptr, *types = nullptr;
        const int n = MacroEnumerate(printer, &ids, &names, &types);
        const char* t = static_cast<const char*>(names);
        for (int i = 0; i < n && t != nullptr; ++i) {
            overlays.emplace_back(t);
            t += overlays.back().size() + 1;
        }
        for (void* b : {ids, names, types}) {
            if (b != nullptr) FreeEnumerationBlock(b);
        }
    }
    const std::vector<std::string> watermarks = EnumerateList(WatermarkEnumerate, printer).names;
    auto papers = EnumeratePrinterPapers(printer, c.printer, ModelOf(c), *c.record, kPaperListCapacity);
    const SlotValues values = AssociationValues(c);
    int stored = 0;
    ForEachEntry(list, 65536, [&]() {
        FormAssocRecord r{};
        std::string name;
        ForEachChild(list, [&](uint32_t t) {
            if (t == 1) name = ReadText(list);
            if (t == 2) {
                const auto v = ReadValue(list);
                if (const auto f = v ? MapToField(kPaperCodes, *v) : std::nullopt; f && *f != 0) {
                    r.paperCode = static_cast<uint16_t>(*f);
                }
            }
            if (t == 4) {
                const auto v = ReadValue(list);
                if (const auto s = v ? SlotValueFromCode(values, *v) : std::nullopt) r.sourceValue = *s;
            }
            if (t == 5) {
                const auto code = FindPaperByName(papers, ReadText(list));
                if (code && (*code < kFirstFormAssoc || *code >= kFormAssocEnd)) r.paperCode = *code;
            }
            if (t == kAssocWatermark) ReadAssocPair(list, watermarks, 2, 3, r.watermarks);
            if (t == kAssocOverlay) ReadAssocPair(list, overlays, 3, 4, r.overlays);
        });
        if (name.empty() || r.paperCode == 0 || FindPaperByName(papers, name)) return;
        const auto code = FreeCode(papers, kFirstFormAssoc, kFormAssocEnd);
        if (!code) return;
        std::memcpy(r.name, name.data(), std::min(name.size(), sizeof r.name - 1));
        const FormAssocValues v = FormAssocValuesOf(r);
        if (FormAssocSet(printer, *code, r.name, &v) == 1) {
            papers.push_back({*code, name});
            ++stored;
        }
    });
    return stored > 0 ? 1 : 0;
}

// ---------------------------------------------------------------- "PrinterConfig" rows

// The 32-byte record read once per row and written back once, only when a
// handler changed it (and only when the walk may update printer data).
class ConfigRecord {
public:
    // An import reads the record only when it may update it.
    ConfigRecord(const DvCfgContext& c, bool read) : printer_(read ? c.printer : nullptr) {
        if (printer_ != nullptr) InstalledOptionsRecord(printer_, bytes);
        std::memcpy(before_, bytes, sizeof bytes);
    }
    uint32_t Word(size_t i) const {
        uint32_t w = 0;
        std::memcpy(&w, bytes + 4 * i, 4);
        return w;
    }
    void SetWord(size_t i, uint32_t w) { std::memcpy(bytes + 4 * i, &w, 4); }
    // Writes the record when it changed; false when that write failed.
    bool Flush(bool allowed) {
        if (!allowed || printer_ == nullptr || std::memcmp(before_, bytes, sizeof bytes) == 0) return true;
        if (SetPrinterDataA(printer_, const_cast<LPSTR>("PrinterConfig"), REG_BINARY, bytes, sizeof bytes) !=
            ERROR_SUCCESS) {
            return false;
        }
        std::memcpy(before_, bytes, sizeof bytes);
        return true;
    }
    uint8_t bytes[32] = {};

private:
    HANDLE printer_;
    uint8_t before_[32] = {};
};

// The value a source's field holds in the first configuration word, laid
// out as SetPrinterConfigField writes it.
uint16_t ConfigFieldValue(uint32_t word, uint32_t kind, uint32_t field) {
    if (kind == 3) return (word >> 10) & 1;
    if (kind != 1) return 0;
    if (field >= 1 && field <= 5) return (word >> (2 * (5 - field))) & 3;
    if (field == 32) return (word >> 11) & 1;
    if (field == 33 || field == 48) return (word >> 12) & 3;
    return 0;
}

// The two-bit class of a source's capacity.
uint8_t CapacityClass(int capacity) {
    const int sheets = std::abs(capacity);
    return sheets <= 250 ? 1 : sheets <= 550 ? 2 : 3;
}

SourceTable ModelSources(const DvCfgContext& c) {
    if (c.model == nullptr) return {};
    return ReadSourceTable(*c.model, static_cast<uint16_t>(c.record->model.sourceTableId + 1));
}

// 256: the installed paper sources.
int ExportSources(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    const SourceTable sources = ModelSources(c);
    const ConfigRecord config(c, true);
    std::vector<SourceEntry> entries;
    for (const SourceEntry& e : sources.entries) {
        if (e.code != 7 && MapToTag(kSourceKinds, e.code)) entries.push_back(e);
    }
    return WriteList(list, tag, 65536, entries, [&](const SourceEntry& e) {
        const bool installed = (e.mask & c.record->installedSourceMask) != 0;
        if (!TagWriteUint32(list, 1, static_cast<uint32_t>(*MapToTag(kSourceKinds, e.code))) ||
            !TagWriteUint32(list, 2, installed ? 15 : 16)) {
            return false;
        }
        // The capacity the source's field records; none when the field
        // records no class the source's list has.
        if (installed) {
            const uint16_t recorded = ConfigFieldValue(config.Word(1), e.configKind, e.configField);
            for (const SourceCapacity& cap : ReadCapacityList(*c.model, e.capacityListId)) {
                if (e.configKind == 1 && recorded != 0 && CapacityClass(cap.capacity) == recorded) {
                    if (!TagWriteUint32(list, 3, static_cast<uint32_t>(std::abs(cap.capacity)))) return false;
                    break;
                }
            }
        }
        if (const auto slot = SourceSlot(c, e.code)) {
            if (const auto code = SlotValueCode(slot->values, c.record->slotValues[slot->slot])) {
                if (!TagWriteUint32(list, 5, *code)) return false;
            }
        }
        return true;
    });
}

int ImportSources(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    const SourceTable sources = ModelSources(c);
    ConfigRecord config(c, c.updatePrinterData);
    int r = 0;
    ForEachEntry(list, 65536, [&]() {
        std::optional<int64_t> kind, state, capacity, code;
        ForEachChild(list, [&](uint32_t t) {
            if (t == 1) kind = ReadValue(list);
            if (t == 2) state = ReadValue(list);
            if (t == 3) capacity = ReadValue(list);
            if (t == 5) code = ReadValue(list);
        });
        const auto sourceCode = kind ? MapToField(kSourceKinds, *kind) : std::nullopt;
        if (!sourceCode) return;
        const auto e = std::find_if(sources.entries.begin(), sources.entries.end(),
                                    [&](const SourceEntry& s) { return s.code != 7 && s.code == *sourceCode; });
        if (e == sources.entries.end()) return;
        if (state == 15u || state == 16u) {
            const bool installed = *state == 15;
            c.record->installedSourceMask =
                static_cast<WORD>(installed ? (c.record->installedSourceMask | e->mask) : (c.record->installedSourceMask & ~e->mask));
            r = 1;
            if (c.updatePrinterData && e->configKind != 0) {
                std::optional<uint8_t> byte;
                if (capacity && *capacity != 0) {
                    for (const SourceCapacity& cap : ReadCapacityList(*c.model, e->capacityListId)) {
                        if (std::abs(cap.capacity) == *capacity) {
                            byte = CapacityClass(cap.capacity);
                            break;
                        }
                    }
                }
                // Without a capacity an installed source keeps the class it
                // has, or takes the first when its field is clear.
                uint16_t kept = ConfigFieldValue(config.Word(1), e->configKind, e->configField);
                if (kept == 0) kept = 1;
                uint8_t record[32];
                std::memcpy(record, config.bytes, sizeof record);
                SetPrinterConfigField(1, installed, e->configKind, e->configField, kept, byte ? &*byte : nullptr, record);
                std::memcpy(config.bytes, record, sizeof record);
            }
        }
        if (code) {
            if (const auto slot = SourceSlot(c, e->code)) {
                if (const auto value = SlotValueFromCode(slot->values, *code)) {
                    c.record->slotValues[slot->slot] = static_cast<uint8_t>(*value);
                    r = 1;
                }
            }
        }
    });
    if (!config.Flush(c.updatePrinterData)) return -1;
    return r;
}

// 257: the installable options. Each model class keeps an option's unit in
// one 3-bit group of "PrinterConfig": groups 0-2 are bits 14-22 of the
// first word, groups 3-6 bits 0-11 of the second. A unit code is 1 output
// unit A, 2 a bin of finisher B, 3 finisher A, 4 output unit B.
struct OptionPlace {
    uint16_t mask;
    uint8_t group;
    uint8_t unit;
};
constexpr OptionPlace kPlacesA[] = {{0x01, 0, 1}, {0x02, 1, 1}, {0x04, 2, 1}, {0x20, 3, 3}, {0x08, 4, 2}, {0x10, 5, 4}};
constexpr OptionPlace kPlacesB[] = {{0x01, 0, 1}, {0x20, 1, 3}, {0x08, 2, 2}, {0x10, 3, 4}};
constexpr OptionPlace kPlacesC[] = {{0x20, 0, 3}, {0x01, 1, 1}, {0x02, 2, 1}, {0x04, 3, 1}, {0x08, 4, 2}, {0x10, 5, 4}};
constexpr uint16_t kClassACodes[] = {11, 16, 18, 20, 21, 25, 27, 30, 31, 35, 36, 38};
constexpr uint32_t kOptionCapacity = 500;

std::span<const OptionPlace> PlacesOf(uint16_t modelCode) {
    if (std::find(std::begin(kClassACodes), std::end(kClassACodes), modelCode) != std::end(kClassACodes)) {
        return kPlacesA;
    }
    if (modelCode == 10 || modelCode == 14) return kPlacesB;
    return kPlacesC;
}

std::optional<OptionPlace> PlaceOf(const DvCfgContext& c, uint16_t optionMask) {
    for (const OptionPlace& p : PlacesOf(c.record->model.modelCode)) {
        if (p.mask & optionMask) return p;
    }
    return std::nullopt;
}

uint32_t GroupValue(const ConfigRecord& config, uint8_t group) {
    return group < 3 ? (config.Word(1) >> (14 + 3 * group)) & 7 : (config.Word(2) >> (3 * (group - 3))) & 7;
}

void SetGroup(ConfigRecord& config, uint8_t group, uint32_t value) {
    const size_t word = group < 3 ? 1 : 2;
    const uint32_t shift = group < 3 ? 14 + 3 * group : 3 * (group - 3);
    config.SetWord(word, (config.Word(word) & ~(7u << shift)) | ((value & 7u) << shift));
}

std::vector<InstallableOption> ModelOptions(const DvCfgContext& c) {
    if (c.model == nullptr) return {};
    return ReadInstallables(*c.model, static_cast<uint16_t>(c.record->model.installableId + 1));
}

int ExportOptions(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t tag, const void*) {
    const ConfigRecord config(c, true);
    std::vector<InstallableOption> options;
    for (const InstallableOption& o : ModelOptions(c)) {
        if (MapToTag(kOptionCodes, o.code)) options.push_back(o);
    }
    return WriteList(list, tag, 65536, options, [&](const InstallableOption& o) {
        const uint16_t installed = o.mask & c.record->installedOptions;
        if (!TagWriteUint32(list, 1, static_cast<uint32_t>(*MapToTag(kOptionCodes, o.code))) ||
            !TagWriteUint32(list, 2, installed != 0 ? 15 : 16)) {
            return false;
        }
        for (const OptionKind& k : kOptionKinds) {
            if ((k.mask & installed) == 0) continue;
            if (!TagWriteUint32(list, 4, k.tag)) return false;
            break;
        }
        const auto place = PlaceOf(c, o.mask);
        const bool present = place && GroupValue(config, place->group) == place->unit;
        return TagWriteUint32(list, 3, present ? kOptionCapacity : 0) != 0;
    });
}

int ImportOptions(uint32_t, TagListContext** list, DvCfgContext& c, uint32_t, const void*) {
    const auto options = ModelOptions(c);
    ConfigRecord config(c, c.updatePrinterData);
    int r = 0;
    ForEachEntry(list, 65536, [&]() {
        std::optional<int64_t> code, state, capacity;
        ForEachChild(list, [&](uint32_t t) {
            if (t == 1) code = ReadValue(list);
            if (t == 2) state = ReadValue(list);
            if (t == 3) capacity = ReadValue(list);
        });
        const auto optionCode = code ? MapToField(kOptionCodes, *code) : std::nullopt;
        if (!optionCode) return;
        const auto o = std::find_if(options.begin(), options.end(),
                                    [&](const InstallableOption& x) { return x.code == *optionCode; });
        if (o == options.end()) return;
        if (state == 15u) c.record->installedOptions = static_cast<WORD>(c.record->installedOptions | o->mask), r = 1;
        if (state == 16u) c.record->installedOptions = static_cast<WORD>(c.record->installedOptions & ~o->mask), r = 1;
        // A group is rewritten only when the list disagrees with it.
        const auto place = PlaceOf(c, o->mask);
        if (!c.updatePrinterData || !capacity || !place) return;
        const bool present = GroupValue(config, place->group) == place->unit;
        if (present != (*capacity > 0)) SetGroup(config, place->group, present ? 0 : place->unit);
        r = 1;
    });
    if (!config.Flush(c.updatePrinterData)) return -1;
    return r;
}


// ---------------------------------------------------------------- the table

constexpr ValuePair kSwitch[] = {{0, 2}, {1, 1}};
constexpr ValuePair kThreeWay[] = {{0, 0}, {1, 2}, {2, 1}};
constexpr ValuePair kReverseSwitch[] = {{0, 1}, {1, 2}};

constexpr DvCfgRow Leaf(uint32_t tag, uint32_t scope, DvCfgHandler e, DvCfgHandler i, const void* arg,
                        uint32_t pass = 7, uint32_t mask = 0xFFFFFFFF) {
    return {tag, mask, pass, scope, e, arg, i, arg};
}
constexpr DvCfgRow MapRow(uint32_t tag, uint32_t scope, const MapLeaf* leaf) {
    return Leaf(tag, scope, ExportMap, ImportMap, leaf);
}
constexpr DvCfgRow RangeRow(uint32_t tag, uint32_t scope, const RangeLeaf* leaf) {
    return Leaf(tag, scope, ExportRange, ImportRange, leaf);
}
constexpr DvCfgRow Group(uint32_t tag, uint32_t scope, uint32_t pass, const DvCfgTable* table) {
    return {tag, 0xFFFFFFFF, pass, scope, ExportGroup, table, ImportGroup, table};
}
constexpr DvCfgRow Own(uint32_t tag, uint32_t scope, uint32_t pass, DvCfgHandler e, DvCfgHandler i,
                       const void* arg = nullptr) {
    return {tag, 0xFFFFFFFF, pass, scope, e, arg, i, arg};
}

constexpr MapLeaf M(uint16_t offset, int16_t width, ValueMap map) { return {offset, width, 4, map}; }

// Maps of single rows.
constexpr ValuePair k459[] = {{0, 16}, {3, 15}, {2, 15}, {1, 15}};
constexpr ValuePair k76[] = {{1, 1}, {2, 2}};
constexpr ValuePair kSources[] = {
    {0, 257}, {1, 258}, {2, 259}, {7, 256}, {5, 260}, {6, 261}, {8, 262}, {3, 288}, {14, 290}, {4, 289},
    {9, static_cast<int32_t>(0x80000001)}, {10, static_cast<int32_t>(0x80000002)},
    {11, static_cast<int32_t>(0x80000003)}, {12, static_cast<int32_t>(0x80000004)},
    {13, static_cast<int32_t>(0x80000005)},
};
constexpr ValuePair kQuality[] = {{-1, 7}, {-2, 8}, {-3, 9}, {-4, 10}, {300, 300}, {600, 600}, {1200, 1200}};
constexpr ValuePair k232[] = {{0, 2}, {1, 257}, {4, 259}};
constexpr ValuePair k94[] = {{1, 256}, {2, 257}, {3, 258}};
constexpr ValuePair k605[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 6}, {5, 9}, {6, 12}, {7, 16}};
constexpr ValuePair k602[] = {{0, 11}, {1, 12}};
constexpr ValuePair k98[] = {{1, 1}, {2, 2}, {4, 3}};
constexpr ValuePair k200[] = {{1, 6}, {3, 256}, {2, 257}};
constexpr ValuePair k229[] = {{6, 1}, {1, 2}, {0, 3}, {2, 4}, {4, 6}, {5, 7}};
constexpr ValuePair k231[] = {{0, 0}, {1, 256}, {2, 257}, {3, 258}, {4, 259}, {5, 260}};
constexpr ValuePair k448[] = {
    {0, 0}, {1, 256},
    {2, static_cast<int32_t>(0x80000001)}, {3, static_cast<int32_t>(0x80000002)},
    {4, static_cast<int32_t>(0x80000003)}, {5, static_cast<int32_t>(0x80000004)},
    {6, static_cast<int32_t>(0x80000005)}, {7, static_cast<int32_t>(0x80000006)},
    {8, static_cast<int32_t>(0x80000007)}, {9, static_cast<int32_t>(0x80000008)},
    {10, static_cast<int32_t>(0x80000009)}, {11, static_cast<int32_t>(0x8000000A)},
    {12, static_cast<int32_t>(0x8000000B)}, {13, static_cast<int32_t>(0x8000000C)},
    {14, static_cast<int32_t>(0x8000000D)}, {15, static_cast<int32_t>(0x8000000E)},
    {16, static_cast<int32_t>(0x8000000F)},
};
constexpr ValuePair k650[] = {{0, 1}, {2, 5}, {5, 9}, {3, 6}, {4, 7}, {1, 8}};
constexpr ValuePair k450[] = {{0, 0}, {1, 2}, {2, 1}, {3, 3}, {4, 4}};
constexpr ValuePair k1228[] = {{0, 0}, {1, 2}, {2, 257}};
constexpr ValuePair k227[] = {{0, 2}, {1, 257}, {2, 256}};
constexpr ValuePair k92[] = {{1, 2}, {2, 1}};
constexpr ValuePair k188b[] = {{1, 0}, {2, 1}};
constexpr ValuePair k192[] = {{2, 1}, {1, 2}, {3, 3}};
constexpr ValuePair k655[] = {{0, 0}, {1, 2}, {2, 256}, {3, 257}, {4, 262}, {5, static_cast<int32_t>(0x80000001)}};
constexpr ValuePair k1230[] = {{0, 0}, {1, 2}, {2, 257}, {3, 256}, {4, 263}, {5, 266}};
constexpr ValuePair k656[] = {{0, 0}, {1, 256}, {2, 257}};
constexpr ValuePair k657[] = {{0, 0}, {1, 257}, {2, 258}, {3, 256}};
constexpr ValuePair k1078[] = {{0, 258}, {1, 257}, {2, 256}};
constexpr ValuePair k1078b[] = {{0, 7}};
constexpr ValuePair k1094[] = {{0, 2}, {1, 7}};
constexpr ValuePair k1088[] = {{0, 0}, {1, 34}, {2, 2}};
constexpr ValuePair k1081[] = {{0, 256}, {1, 257}, {2, 258}, {3, 259}};
constexpr ValuePair k1082[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}};
constexpr ValuePair kIdentity5[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};

// Leaves.
constexpr ScaleLeaf kMemory{434, 2, 1024, 1, 4};
constexpr MapLeaf kL459 = M(459, 1, k459);
constexpr RangeLeaf kL460{460, 1, 4, 0, 9999, 0};
constexpr RangeLeaf kL461{461, 1, 4, 0, 9999, 0};
constexpr MapLeaf kL76 = M(76, 2, k76);
constexpr MapLeaf kL453 = M(453, 1, kReverseSwitch);
constexpr MapLeaf kL237 = M(237, 1, kSwitch);
constexpr RangeLeaf kL86{86, 2, 4, 1, 9999, 1};
// The default source goes through the source table's own reading of the
// field: a DMBIN code as the record holds it.
bool GetDefaultSource(const DvCfgContext& c, int64_t& value) {
    value = c.record->dm.dmDefaultSource;
    return true;
}
void SetDefaultSource(DvCfgContext& c, int64_t value) {
    c.record->dm.dmDefaultSource = static_cast<short>(value);
}
constexpr CallbackLeaf kL88{GetDefaultSource, SetDefaultSource, 4, kSources};
constexpr MapLeaf kL458 = M(458, 1, kReverseSwitch);
constexpr MapLeaf kL90 = M(90, -2, kQuality);
constexpr MapLeaf kL232 = M(232, 1, k232);
constexpr MapLeaf kL94 = M(94, 2, k94);
constexpr MapLeaf kL1089 = M(1089, 1, kSwitch);
constexpr MapLeaf kL1233 = M(1233, 1, kSwitch);
constexpr MapLeaf kL605 = M(605, 1, k605);
constexpr MapLeaf kL602 = M(602, 1, k602);
constexpr MapLeaf kL603 = M(603, 1, kSwitch);
constexpr MapLeaf kL98 = M(98, 2, k98);
constexpr MapLeaf kL225 = M(225, 1, kSwitch);
constexpr MapLeaf kL226 = M(226, 1, kSwitch);
constexpr MapLeaf kL100 = M(100, 2, kSwitch);
constexpr MapLeaf kL200 = M(200, 4, k200);
constexpr MapLeaf kL229 = M(229, 1, k229);
constexpr MapLeaf kL231 = M(231, 1, k231);
constexpr ByteLeaf kL230{230, 2};
constexpr MapLeaf kL448 = M(448, 1, k448);
constexpr MapLeaf kL224 = M(224, 1, kSwitch);
constexpr MapLeaf kL1104 = M(1104, 1, kSwitch);
constexpr MapLeaf kL1236 = M(1236, 1, kSwitch);
constexpr MapLeaf kL233 = M(233, 1, kThreeWay);
constexpr MapLeaf kL650 = M(650, 1, k650);
constexpr MapLeaf kL651 = M(651, 1, k650);
constexpr TextLeaf kT824{824, 25, 25, true};
constexpr TextLeaf kT849{849, 5, 4, false};
constexpr MapLeaf kL450 = M(450, 1, k450);
constexpr MapLeaf kL1228 = M(1228, 1, k1228);
constexpr MapLeaf kL1124 = M(1124, 1, kSwitch);
constexpr MapLeaf kL1237 = M(1237, 1, kSwitch);
constexpr MapLeaf kL653 = M(653, 1, kThreeWay);
constexpr MapLeaf kL652 = M(652, 1, kSwitch);
constexpr MapLeaf kL227 = M(227, 1, k227);
constexpr MapLeaf kL604 = M(604, 1, kReverseSwitch);
constexpr MapLeaf kL92 = M(92, 2, k92);
constexpr MapLeaf kL188 = M(188, 4, k92);
constexpr MapLeaf kL188b = M(188, 4, k188b);
constexpr MapLeaf kL192 = M(192, 4, k192);
constexpr MapLeaf kL655 = M(655, 1, k655);
constexpr MapLeaf kL1230 = M(1230, 1, k1230);
constexpr MapLeaf kL1231 = M(1231, 1, k1230);
constexpr MapLeaf kL1232 = M(1232, 1, k1230);
constexpr MapLeaf kL656 = M(656, 1, k656);
constexpr MapLeaf kL657 = M(657, 1, k657);
constexpr MapLeaf kL1078 = M(1078, 1, k1078);
constexpr MapLeaf kL1078b = M(1078, 1, k1078b);
constexpr MapLeaf kL1094 = M(1094, 1, k1094);
constexpr MapLeaf kL1088 = M(1088, 1, k1088);
constexpr MapLeaf kL1077 = M(1077, 1, kSwitch);
constexpr MapLeaf kL1080 = M(1080, 1, kSwitch);
constexpr MapLeaf kL1090 = M(1090, 1, kSwitch);
constexpr MapLeaf kL1081 = M(1081, 1, k1081);
constexpr RangeLeaf kL1091{1091, 1, 4, 1, 99, 16};
constexpr MapLeaf kL1234 = M(1234, 1, kSwitch);
constexpr MapLeaf kL1235 = M(1235, 1, kSwitch);
constexpr MapLeaf kL1082 = M(1082, 1, k1082);
constexpr MapLeaf kL1083 = M(1083, 1, kSwitch);
constexpr RangeLeaf kL1084{1084, 4, 4, 0, 65535, 0};
constexpr MapLeaf kL1226 = M(1226, 1, kSwitch);
constexpr ByteLeaf kL1240{1240, 4};
constexpr MapLeaf kL1241 = M(1241, 1, kIdentity5);
constexpr MapLeaf kL1242 = M(1242, 1, kIdentity5);
constexpr MapLeaf kL1243 = M(1243, 1, kSwitch);
constexpr ByteLeaf kL1244{1244, 4};
constexpr ByteLeaf kL1245{1245, 4};
constexpr ByteLeaf kL1246{1246, 4};
constexpr ByteLeaf kL1247{1247, 4};
constexpr MapLeaf kL1238 = M(1238, 1, kSwitch);
constexpr MapLeaf kL1239 = M(1239, 1, kSwitch);
constexpr MapLeaf kL1248 = M(1248, 1, kThreeWay);

constexpr int kArg1 = 1;
constexpr int kArg2 = 2;

// Child tables.
constexpr DvCfgRow k9Rows[] = {Own(65536, kScopeForms, 7, ExportUserForms, ImportUserForms),
                               Own(131072, kScopeForms, 7, ExportSpoolerForms, ImportSpoolerForms)};
constexpr DvCfgTable k9Table{k9Rows};
constexpr DvCfgRow k259Rows[] = {Leaf(1, 2, ExportScale, ImportScale, &kMemory)};
constexpr DvCfgRow k258Rows[] = {MapRow(1, 2, &kL459)};
constexpr DvCfgRow k260Rows[] = {RangeRow(1, 2, &kL460)};
constexpr DvCfgRow k261Rows[] = {RangeRow(1, 2, &kL461)};
constexpr DvCfgRow k11Rows[] = {MapRow(1, 1, &kL76), MapRow(2, 1, &kL453), MapRow(3, 1, &kL237)};
constexpr DvCfgRow k1Rows[] = {Leaf(1, 1, ExportPaperCode, ImportPaperCode, &kFirstPaper),
                           Leaf(4, 1, ExportPaperName, ImportPaperName, &kFirstPaper)};
constexpr DvCfgRow k30Rows[] = {Leaf(1, 1, ExportPaperCode, ImportPaperCode, &kSecondPaper),
                            Leaf(4, 1, ExportPaperName, ImportPaperName, &kSecondPaper)};
constexpr DvCfgRow k18Rows[] = {RangeRow(1, 1, &kL86)};
constexpr DvCfgRow k2Rows[] = {Leaf(1, 1, ExportCallback, ImportCallback, &kL88)};
constexpr DvCfgRow k3Rows[] = {Own(1, 1, 7, ExportSlotValue, ImportSlotValue)};
constexpr DvCfgRow k5Rows[] = {MapRow(1, 1, &kL458)};
constexpr DvCfgRow k16Rows[] = {MapRow(1, 1, &kL90), MapRow(2, 1, &kL90)};
constexpr DvCfgRow k401Rows[] = {MapRow(1, 1, &kL232)};
constexpr DvCfgRow k12Rows[] = {MapRow(1, 1, &kL94), MapRow(3, 1, &kL1089), MapRow(2, 1, &kL1233)};
constexpr DvCfgRow k19Rows[] = {MapRow(1, 1, &kL605), MapRow(3, 1, &kL602), MapRow(2, 1, &kL603)};
constexpr DvCfgRow k416Rows[] = {MapRow(1, 1, &kL98)};
constexpr DvCfgRow k419Rows[] = {MapRow(1, 1, &kL225)};
constexpr DvCfgRow k418Rows[] = {MapRow(1, 1, &kL226)};
constexpr DvCfgRow k131586Rows[] = {Own(2, 1, 4, ExportCjk, ImportCjk)};
constexpr DvCfgRow k13Rows[] = {MapRow(1, 1, &kL100)};
constexpr DvCfgRow k180Rows[] = {MapRow(1, 1, &kL200)};
constexpr DvCfgRow k131104Rows[] = {MapRow(1, 1, &kL229)};
constexpr DvCfgRow k177Rows[] = {MapRow(1, 1, &kL231)};
constexpr DvCfgRow k400Rows[] = {Leaf(2, 1, ExportByte, ImportByte, &kL230)};
constexpr DvCfgRow k6Rows[] = {MapRow(1, 1, &kL448)};
constexpr DvCfgRow k71Rows[] = {MapRow(1, 2, &kL224)};
constexpr DvCfgRow k31Rows[] = {MapRow(31, 2, &kL1104)};
constexpr DvCfgRow k128Rows[] = {MapRow(2, 2, &kL1236)};
constexpr DvCfgRow k131074Rows[] = {
    Leaf(65536, 1, ExportOverlayText, ImportOverlayText, &kArg1, 7, 0xFFFF0000),
    Leaf(65536, 1, ExportOverlayText, ImportOverlayText, &kArg2, 7, 0xFFFF0000),
};
constexpr DvCfgRow k289Rows[] = {
    Leaf(65536, 1, ExportWatermarkChoice, ImportWatermarkChoice, &kArg1, 7, 0xFFFF0000),
    Leaf(65536, 1, ExportWatermarkChoice, ImportWatermarkChoice, &kArg2, 7, 0xFFFF0000),
};
constexpr DvCfgRow k179Rows[] = {Own(1, 1, 7, Export179, Import179)};
constexpr DvCfgRow k20Rows[] = {MapRow(2, 1, &kL650), MapRow(9, 1, &kL651),
                            Leaf(4, 1, ExportTextLeaf, ImportTextLeaf, &kT824),
                            Leaf(5, 1, ExportTextLeaf, ImportTextLeaf, &kT849)};
constexpr DvCfgRow k21Rows[] = {MapRow(1, 1, &kL450)};
constexpr DvCfgRow k22Rows[] = {MapRow(1, 1, &kL1228)};
constexpr DvCfgRow k75Rows[] = {MapRow(1, 3, &kL1124), MapRow(2, 3, &kL1237)};
constexpr DvCfgRow k181Rows[] = {MapRow(1, 1, &kL653)};
constexpr DvCfgRow k131Rows[] = {MapRow(1, 1, &kL652)};
constexpr DvCfgRow k23Rows[] = {MapRow(1, 1, &kL227)};
constexpr DvCfgRow k131105Rows[] = {MapRow(1, 1, &kL604)};
constexpr DvCfgRow k352Rows[] = {MapRow(1, 1, &kL92)};
constexpr DvCfgRow k353Rows[] = {MapRow(1, 1, &kL188), MapRow(2, 1, &kL188b), MapRow(3, 1, &kL192)};
constexpr DvCfgRow k186InnerRows[] = {MapRow(1, 1, &kL1230), MapRow(2, 1, &kL1231), MapRow(3, 1, &kL1232)};
constexpr DvCfgTable k186Inner{k186InnerRows};
constexpr DvCfgRow k186Rows[] = {MapRow(1, 1, &kL655), Group(65536, 1, 7, &k186Inner)};
constexpr DvCfgRow k187Rows[] = {MapRow(1, 1, &kL656)};
constexpr DvCfgRow k191Rows[] = {MapRow(1, 1, &kL657)};
constexpr DvCfgRow k178Rows[] = {MapRow(1, 1, &kL1078), MapRow(2, 1, &kL1078b), MapRow(3, 1, &kL1094)};
constexpr DvCfgRow k193InnerRows[] = {MapRow(2, 1, &kL1088)};
constexpr DvCfgTable k193Inner{k193InnerRows};
constexpr DvCfgRow k193Rows[] = {Group(1, 1, 7, &k193Inner)};
constexpr DvCfgRow k25Rows[] = {MapRow(1, 1, &kL1077)};
constexpr DvCfgRow k74Rows[] = {MapRow(1, 2, &kL1080)};
constexpr DvCfgRow k26Rows[] = {MapRow(1, 2, &kL1090)};
constexpr DvCfgRow k27Rows[] = {MapRow(1, 1, &kL1081)};
constexpr DvCfgRow k28Rows[] = {RangeRow(4, 1, &kL1091), MapRow(3, 1, &kL1234), MapRow(2, 1, &kL1235)};
constexpr DvCfgRow k29Rows[] = {MapRow(1, 1, &kL1082), MapRow(2, 1, &kL1082), MapRow(4, 1, &kL1083),
                            RangeRow(6, 1, &kL1084)};
constexpr DvCfgRow k183Rows[] = {MapRow(1, 1, &kL1226)};
constexpr DvCfgRow k480Rows[] = {Leaf(2, 1, ExportByte, ImportByte, &kL1240), MapRow(3, 1, &kL1241),
                             MapRow(1, 1, &kL1242)};
constexpr DvCfgRow k357Rows[] = {MapRow(1, 1, &kL1243), Leaf(2, 1, ExportByte, ImportByte, &kL1244),
                             Leaf(3, 1, ExportByte, ImportByte, &kL1245), Leaf(4, 1, ExportByte, ImportByte, &kL1246),
                             Leaf(5, 1, ExportByte, ImportByte, &kL1247)};
constexpr DvCfgRow k481Rows[] = {MapRow(1, 1, &kL1238)};
constexpr DvCfgRow k482Rows[] = {MapRow(1, 1, &kL1239)};
constexpr DvCfgRow k358Rows[] = {MapRow(1, 1, &kL1248)};

constexpr DvCfgTable k259Table{k259Rows};
constexpr DvCfgTable k258Table{k258Rows};
constexpr DvCfgTable k260Table{k260Rows};
constexpr DvCfgTable k261Table{k261Rows};
constexpr DvCfgTable k11Table{k11Rows};
constexpr DvCfgTable k1Table{k1Rows};
constexpr DvCfgTable k30Table{k30Rows};
constexpr DvCfgTable k18Table{k18Rows};
constexpr DvCfgTable k2Table{k2Rows};
constexpr DvCfgTable k3Table{k3Rows};
constexpr DvCfgTable k5Table{k5Rows};
constexpr DvCfgTable k16Table{k16Rows};
constexpr DvCfgTable k401Table{k401Rows};
constexpr DvCfgTable k12Table{k12Rows};
constexpr DvCfgTable k19Table{k19Rows};
constexpr DvCfgTable k416Table{k416Rows};
constexpr DvCfgTable k419Table{k419Rows};
constexpr DvCfgTable k418Table{k418Rows};
constexpr DvCfgTable k131586Table{k131586Rows};
constexpr DvCfgTable k13Table{k13Rows};
constexpr DvCfgTable k180Table{k180Rows};
constexpr DvCfgTable k131104Table{k131104Rows};
constexpr DvCfgTable k177Table{k177Rows};
constexpr DvCfgTable k400Table{k400Rows};
constexpr DvCfgTable k6Table{k6Rows};
constexpr DvCfgTable k71Table{k71Rows};
constexpr DvCfgTable k31Table{k31Rows};
constexpr DvCfgTable k128Table{k128Rows};
constexpr DvCfgTable k131074Table{k131074Rows};
constexpr DvCfgTable k289Table{k289Rows};
constexpr DvCfgTable k179Table{k179Rows};
constexpr DvCfgTable k20Table{k20Rows};
constexpr DvCfgTable k21Table{k21Rows};
constexpr DvCfgTable k22Table{k22Rows};
constexpr DvCfgTable k75Table{k75Rows};
constexpr DvCfgTable k181Table{k181Rows};
constexpr DvCfgTable k131Table{k131Rows};
constexpr DvCfgTable k23Table{k23Rows};
constexpr DvCfgTable k131105Table{k131105Rows};
constexpr DvCfgTable k352Table{k352Rows};
constexpr DvCfgTable k353Table{k353Rows};
constexpr DvCfgTable k186Table{k186Rows};
constexpr DvCfgTable k187Table{k187Rows};
constexpr DvCfgTable k191Table{k191Rows};
constexpr DvCfgTable k178Table{k178Rows};
constexpr DvCfgTable k193Table{k193Rows};
constexpr DvCfgTable k25Table{k25Rows};
constexpr DvCfgTable k74Table{k74Rows};
constexpr DvCfgTable k26Table{k26Rows};
constexpr DvCfgTable k27Table{k27Rows};
constexpr DvCfgTable k28Table{k28Rows};
constexpr DvCfgTable k29Table{k29Rows};
constexpr DvCfgTable k183Table{k183Rows};
constexpr DvCfgTable k480Table{k480Rows};
constexpr DvCfgTable k357Table{k357Rows};
constexpr DvCfgTable k481Table{k481Rows};
constexpr DvCfgTable k482Table{k482Rows};
constexpr DvCfgTable k358Table{k358Rows};

constexpr DvCfgRow kTopRows[] = {
    Own(256, 2, 1, ExportSources, ImportSources),
    Own(257, 2, 1, ExportOptions, ImportOptions),
    Group(259, 2, 1, &k259Table),
    Group(258, 2, 1, &k258Table),
    Group(260, 2, 1, &k260Table),
    Group(261, 2, 1, &k261Table),
    Own(288, kScopeWatermarks, 1, ExportWatermarks, ImportWatermarks),
    Own(131073, kScopeOverlays, 1, ExportOverlays, ImportOverlays),
    Group(9, kScopeForms, 1, &k9Table),
    Own(24, kScopeAssociations, 2, ExportAssociations, ImportAssociations),
    Own(131585, kScopeFontFiles, 1, ExportFontFiles, ImportFontFiles),
    Group(11, 1, 4, &k11Table),
    Group(1, 1, 4, &k1Table),
    Group(30, 1, 4, &k30Table),
    Group(18, 1, 4, &k18Table),
    Group(2, 1, 4, &k2Table),
    Group(3, 1, 4, &k3Table),
    Group(5, 1, 4, &k5Table),
    Group(16, 1, 4, &k16Table),
    Group(401, 1, 4, &k401Table),
    Group(12, 1, 4, &k12Table),
    Group(19, 1, 4, &k19Table),
    Group(416, 1, 4, &k416Table),
    Group(419, 1, 4, &k419Table),
    Group(418, 1, 4, &k418Table),
    Group(131586, 1, 4, &k131586Table),
    Group(13, 1, 4, &k13Table),
    Group(180, 1, 4, &k180Table),
    Group(131104, 1, 4, &k131104Table),
    Group(177, 1, 4, &k177Table),
    Group(400, 1, 4, &k400Table),
    Group(6, 1, 4, &k6Table),
    Group(71, 2, 4, &k71Table),
    Group(31, 2, 4, &k31Table),
    Group(128, 2, 4, &k128Table),
    Group(131074, 1, 4, &k131074Table),
    Group(289, 1, 4, &k289Table),
    Own(448, 1, 4, ExportFontSets, ImportFontSets),
    MapRow(184, 1, &kL233),
    Group(179, 1, 4, &k179Table),
    Group(20, 1, 4, &k20Table),
    Own(15, 1, 4, Export449, Import449),
    Group(21, 1, 4, &k21Table),
    Group(22, 1, 4, &k22Table),
    Group(75, 3, 4, &k75Table),
    Group(181, 1, 4, &k181Table),
    Group(131, 1, 4, &k131Table),
    Group(23, 1, 4, &k23Table),
    Group(131105, 1, 4, &k131105Table),
    Group(352, 1, 4, &k352Table),
    Group(353, 1, 4, &k353Table),
    Group(186, 1, 4, &k186Table),
    Group(187, 1, 4, &k187Table),
    Group(191, 1, 4, &k191Table),
    Own(354, 1, 4, ExportAdjustments, ImportAdjustments),
    Own(355, 1, 4, Export355, Import355),
    Group(178, 1, 4, &k178Table),
    Group(193, 1, 4, &k193Table),
    Group(25, 1, 4, &k25Table),
    Group(74, 2, 4, &k74Table),
    Group(26, 2, 4, &k26Table),
    Group(27, 1, 4, &k27Table),
    Group(28, 1, 4, &k28Table),
    Group(29, 1, 4, &k29Table),
    Group(183, 1, 4, &k183Table),
    Group(480, 1, 4, &k480Table),
    Group(357, 1, 4, &k357Table),
    Group(481, 1, 4, &k481Table),
    Group(482, 1, 4, &k482Table),
    Group(358, 1, 4, &k358Table),
};
constexpr DvCfgTable kTopTable{kTopRows};

}  // namespace

const DvCfgTable& TopTagTable() { return kTopTable; }
size_t TopTagRowCount() { return std::size(kTopRows); }

int DevmodeToTagList(DvCfgContext& context, TagListContext** writer) {
    if (context.record == nullptr) return -1;
    context.pass = 7;
    return ExportTable(kTopTable, writer, context);
}

namespace {

// Closing step 1: the collected papers become codes of this printer: by
// the paper map, else by name among the printer's papers.
uint32_t ResolvePaper(const DvCfgContext& c, const CollectedPaper& p, std::optional<std::vector<PrinterPaper>>& papers) {
    if (p.seen) {
        if (const auto f = MapToField(kPaperCodes, p.tagValue); f && *f != 0) return static_cast<uint32_t>(*f);
    }
    if (p.name.empty() || c.model == nullptr || c.printerName.empty()) return 0;
    if (!papers) papers = EnumeratePrinterPapers(c.printerName.c_str(), c.printer, *c.model, *c.record, kPaperListCapacity);
    return FindPaperByName(*papers, p.name).value_or(0);
}

// Byte 234 by value groups: the first row of its group that the model's
// pair table lists as a second value.
struct ValueGroup {
    uint8_t value;
    uint16_t group;
};
constexpr ValueGroup kValueGroups[] = {{0, 0}, {4, 256}, {1, 2}, {2, 256}, {3, 257}, {0, 3}};

void RemapPairSecond(DvCfgContext& c) {
    if (c.model == nullptr) return;
    const PairTable pairs = ReadPairTable(*c.model, static_cast<uint16_t>(c.record->model.pairTableId + 1));
    if (!pairs.present) return;
    for (size_t i = 0; i < std::size(kValueGroups); ++i) {
        if (kValueGroups[i].value != c.record->pairSecond) continue;
        for (size_t j = i; j < std::size(kValueGroups); ++j) {
            if (kValueGroups[j].group != kValueGroups[i].group) continue;
            const bool listed = std::any_of(pairs.entries.begin(), pairs.entries.end(),
                                            [&](const PairEntry& e) { return e.second == kValueGroups[j].value; });
            if (listed) {
                c.record->pairSecond = kValueGroups[j].value;
                return;
            }
        }
        return;
    }
}

// Closing step 2: the print quality is one of the model's, and the pair
// (233, 234) one the model allows at that quality.
void CheckResolutionAndPair(DvCfgContext& c) {
    PrivateDevmode& r = *c.record;
    const int q = r.dm.dmPrintQuality;
    if (q > 0 || q < -4) {
        const bool listed = std::any_of(std::begin(r.resolutions), std::end(r.resolutions),
                                        [&](WORD res) { return res != 0 && res == q; });
        if (!listed) r.dm.dmPrintQuality = static_cast<short>(r.defaultResolution);
    }
    if (c.model == nullptr) return;
    const PairTable pairs = ReadPairTable(*c.model, static_cast<uint16_t>(r.model.pairTableId + 1));
    if (!pairs.present) return;
    const int quality = r.dm.dmPrintQuality;
    const bool allowed = std::any_of(pairs.entries.begin(), pairs.entries.end(), [&](const PairEntry& e) {
        return e.first == r.pairFirst && (e.second == 0 || e.second == r.pairSecond) && e.highestDpi >= quality;
    });
    if (!allowed) {
        r.pairFirst = pairs.defaultFirst;
        r.pairSecond = pairs.defaultSecond;
    }
}

void CloseImport(DvCfgContext& c, uint8_t swEnableBefore) {
    std::optional<std::vector<PrinterPaper>> papers;
    if (const uint32_t first = ResolvePaper(c, c.paper[0], papers); first != 0) {
        c.record->dm.dmPaperSize = static_cast<short>(first);
    }
    if (c.paper[1].seen || !c.paper[1].name.empty()) {
        const uint32_t second = ResolvePaper(c, c.paper[1], papers);
        c.record->secondPaper = static_cast<SHORT>(second < 263 ? second : 0);
    }
    RemapPairSecond(c);
    if (c.printer != nullptr && !IsOvraName(c.printerName)) {
        // Written only when it changes, so that loading a record that is
        // already in place writes nothing.
        BYTE sw = c.record->swEnable;
        BYTE stored = 0;
        DWORD type = 0, needed = 0;
        const DWORD rc = GetPrinterDataA(c.printer, const_cast<LPSTR>("SWEnable"), &type, &stored, 1, &needed);
        // A missing value stands for the record's own byte: it is written
        // when the import changed that byte.
        const bool present = rc == ERROR_SUCCESS && needed == 1;
        if ((present && stored != sw) || (!present && sw != swEnableBefore)) {
            SetPrinterDataA(c.printer, const_cast<LPSTR>("SWEnable"), REG_BINARY, &sw, 1);
        }
    }
    CheckResolutionAndPair(c);
}

}  // namespace

int ImportTagList(DvCfgContext& context, TagListContext** reader) {
    if (context.record == nullptr) return -1;
    int imported = 0;
    const uint8_t swEnableBefore = context.record->swEnable;
    for (uint32_t pass : {1u, 2u, 4u}) {
        if (!TagListRewind(reader)) return imported > 0 ? imported : -1;
        context.pass = pass;
        const int r = ImportLevel(kTopTable, reader, context);
        if (r < 0) return r;
        imported += r;
    }
    context.pass = 7;
    if (imported > 0) CloseImport(context, swEnableBefore);
    return imported;
}

}  // namespace zq
