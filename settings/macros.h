// The overlay macros the driver knows per printer: a record list in the
// printer-data value "Macro". Fields: 1 id (1-32767), 2 name, 3 a uint16
// value and 4 the type (uint16), each present only when non-zero; a record
// without a type counts as type 5. A name appears once per type.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/types.h"
#include "settings/pd_list.h"

namespace zq {

inline constexpr char kMacroListValue[] = "Macro";
constexpr uint16_t kDefaultMacroType = 5;
constexpr uint16_t kChosenIdMacroType = 6;

PdList* MacroListOpen(const char* printerName);
// Fields 1, 2 and 4; 1 when every requested one exists.
int MacroGetFields(PdList* list, const uint8_t** id, const uint8_t** name, const uint8_t** type);

// TRUE when stored. Id 0 chooses one only for type 6.
BOOL MacroAdd(const char* printerName, uint16_t id, std::string_view name, uint16_t value, uint16_t type);
// The first record whose id (unless 0) and, with a name, name and type match.
BOOL MacroDelete(const char* printerName, uint16_t id, const char* name, uint16_t type);
BOOL MacroListClear(const char* printerName);
// An id to use for a new overlay, 0 when none may be used.
uint16_t MacroFindFreeId(const char* printerName, int wishedId, const char* name, uint16_t type);
// Locked blocks of ids, names and types; the number of records.
int MacroEnumerate(const char* printerName, void** ids, void** names, void** types);

// The toolkit feedback's overlay request; any pointer may be null.
struct MacroRequest {
    uint16_t size = 0;
    uint16_t operation = 0;  // 1 add, 2 delete, 3 look up
    uint16_t* id = nullptr;
    char* name = nullptr;
    size_t nameCapacity = 64;  // a look-up fills at most this many bytes
    uint16_t* type = nullptr;
    uint16_t* value = nullptr;
};
int MacroFeedbackRequest(const char* printerName, const MacroRequest& request);

}  // namespace zq
