// The dialog-library stand-in's translation tables and account-id answer,
// for its exports and their tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/types.h"
#include "common/xlated_request.h"

namespace zq::outside {

// The resource library's id of a request: the id itself for a direct
// request, else the logical id's entry in the string (or picture) table;
// 0 for a logical id without one.
uint16_t TranslateStringId(const XlatedRequest& request);
uint16_t TranslateResourceId(const XlatedRequest& request);

// The tray-name string id of a tray index (its low 16 bits); 0 past the
// table.
uint16_t TrayNameId(uint32_t index);

// The resource library's path beside the library at `ownPath`.
std::string ResourceLibraryPath(std::string_view ownPath);

// The account-id prompt: an id of at most 16 digits and its terminator, in
// a field of 18 bytes.
inline constexpr size_t kAccountIdChars = 16;
inline constexpr size_t kAccountIdField = 18;

// The id the prompt answers for a printer: its "Current Account ID" when
// that is 1 to 16 digits; nullopt stands for Cancel.
std::optional<std::string> AccountIdAnswer(std::string_view printerName);

// Fills the account-id field with the answer: 1 for OK, 0 for Cancel (the
// field then stays as it was).
int AnswerAccountPrompt(std::string_view printerName, char (&accountId)[kAccountIdField]);

}  // namespace zq::outside

extern "C" {
int LoadXlatedString(zq::XlatedRequest* request);
const void* LoadXlatedResource(zq::XlatedRequest* request);
DWORD GetSizeofXlatedResource(zq::XlatedRequest* request);
WORD GetTrayID(DWORD index);
}
