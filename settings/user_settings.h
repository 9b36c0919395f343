// The per-user copy of a printer's settings: each user keeps, under
// "Software\Zelquor\Printers\<key name>" of HKEY_CURRENT_USER (the default
// user under HKEY_USERS\.DEFAULT), the record "CurrentDevmode" and the tag
// lists stored by name. The driver reads the user's copy first and falls
// back to the printer's.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace zq {

constexpr size_t kUserKeyPathMax = 264;

// The printer's name as the spooler gives it (information level 2).
std::optional<std::u16string> PrinterNameOf(HANDLE printer);

// The printer name with every backslash turned into a comma; nullopt for a
// null or empty name.
std::optional<std::u16string> PrinterNameToKeyName(const char16_t* printerName);

// Creates or opens the user's key of the printer under HKEY_CURRENT_USER or
// HKEY_USERS (the default user); `keyName` null takes the printer's own
// name. TRUE with the key open (the caller closes it); FALSE with a null key
// for another root, no printer, a path over 264 characters or a registry
// refusal. `path`, when given, receives the path (at least 265 characters).
BOOL OpenUserPrinterKey(HANDLE printer, HKEY root, HKEY* key, const char16_t* keyName, char16_t* path);

// A value of the current user's key of the printer (`openKey` when given,
// else the key is opened and closed here); nullopt when it is missing or
// cannot be read.
std::optional<std::vector<uint8_t>> ReadUserValue(HANDLE printer, HKEY root, HKEY openKey, const char16_t* valueName,
                                                  const char16_t* keyName);

// Writes a binary value under the user's key of the printer (`keyName` null:
// the printer's own name) and records the value, the key and the base key
// in the install log, so that uninstallation removes them. TRUE when
// written.
BOOL WriteUserValue(HANDLE printer, const char16_t* keyName, const char16_t* valueName, std::span<const uint8_t> bytes);

// The record the user sees: the user's copy of `valueName` when it holds
// exactly `out.size()` bytes, else the printer's. 0 with `out` filled; 13
// when neither copy has that size (`out` unchanged); 87 when the printer
// cannot be read.
uint32_t ReadUserDevmode(HANDLE printer, const char16_t* valueName, std::span<uint8_t> out);
// The same with the user's key of the printer already open (`userKey`
// null: the user has none, only the printer's copy is read).
uint32_t ReadUserDevmode(HANDLE printer, HKEY userKey, const char16_t* valueName, std::span<uint8_t> out);

// Opens the user's key of the printer for reading, creating nothing; null
// when the user has none. The caller closes it.
HKEY OpenUserPrinterKeyForRead(HANDLE printer, const char16_t* keyName);

}  // namespace zq
