// User-defined forms ("UserDefForms", ids 512-519) and form associations
// ("UserAssocForms", ids 640-671): record lists in printer data.
//
// User form fields: 1 id, 2 name, 3 and 4 uint16 values, 5 width and 6
// length in 1/1200 inch, 7 a block of the caller's length.
// Association fields: 1 id, 2 name, 3 and 4 uint16 values, then four
// {text, uint16} pairs as keys 5/6, 7/8, 9/10, 11/12.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/types.h"
#include "settings/pd_list.h"

namespace zq {

inline constexpr char kUserFormListValue[] = "UserDefForms";
inline constexpr char kFormAssocListValue[] = "UserAssocForms";
constexpr uint16_t kFirstUserForm = 512;
constexpr uint32_t kUserFormEnd = 520;
constexpr uint16_t kFirstFormAssoc = 640;
constexpr uint32_t kFormAssocEnd = 672;
constexpr size_t kFormNameCapacity = 64;

struct UserFormValues {
    uint16_t value3 = 0;
    uint16_t value4 = 0;
    uint16_t width = 0;   // 1/1200 inch
    uint16_t length = 0;  // 1/1200 inch
    std::span<const uint8_t> block;
};

struct FormAssocValues {
    uint16_t value3 = 0;
    uint16_t value4 = 0;
    std::array<std::string, 4> texts;  // keys 5, 7, 9, 11
    std::array<uint16_t, 4> words{};   // keys 6, 8, 10, 12
};

PdList* UserFormListOpen(const char* printerName);
PdList* FormAssocListOpen(const char* printerName);
int UserFormGetFields(PdList* list, std::span<const uint8_t** const, 7> out);
int FormAssocGetFields(PdList* list, std::span<const uint8_t** const, 12> out);

uint16_t UserFormFindFreeId(const char* printerName);
uint16_t FormAssocFindFreeId(const char* printerName);
uint16_t UserFormIdFromName(const char* printerName, std::string_view name);
uint16_t FormAssocIdFromName(const char* printerName, std::string_view name);

// Replace by id and by name; id 0 takes the lowest free id of the range.
// TRUE when stored.
BOOL UserFormAdd(const char* printerName, uint16_t id, std::string_view name, const UserFormValues& values);
BOOL FormAssocAdd(const char* printerName, uint16_t id, std::string_view name, const FormAssocValues& values);
BOOL UserFormDelete(const char* printerName, uint16_t id, const char* name);
BOOL FormAssocDelete(const char* printerName, uint16_t id, const char* name);
// Add or replace when a name (and for a user form a block) is given, else
// delete. 1 when the list was changed and written, else 0.
int UserFormSet(const char* printerName, uint16_t id, const char* name, const UserFormValues& values);
int FormAssocSet(const char* printerName, uint16_t id, const char* name, const FormAssocValues* values);

// Optional outputs of the Get calls; texts are cut to their capacity.
struct UserFormGetRequest {
    char* name = nullptr;
    size_t nameCapacity = kFormNameCapacity;
    uint16_t* words[4] = {};  // fields 3-6
    uint8_t* block = nullptr;
    size_t blockLength = 0;
};
struct FormAssocGetRequest {
    char* name = nullptr;
    size_t nameCapacity = kFormNameCapacity;
    uint16_t* value3 = nullptr;
    uint16_t* value4 = nullptr;
    char* texts[4] = {};
    size_t textCapacity = kFormNameCapacity;
    uint16_t* words[4] = {};
};
// The first record with that id (any for 0 or -1); 1 when found and every
// requested field was copied.
int UserFormGet(const char* printerName, int id, const UserFormGetRequest& request);
int FormAssocGet(const char* printerName, int id, const FormAssocGetRequest& request);

// Ids, names and (user forms) sizes as sint32 {width, length} pairs in
// tenths of a millimetre, ended by {0, 0}.
int UserFormEnumerate(const char* printerName, void** ids, void** names, void** sizes);
int FormAssocEnumerate(const char* printerName, void** ids, void** names);

}  // namespace zq
