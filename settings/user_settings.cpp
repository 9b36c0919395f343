#include "settings/user_settings.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "interface/install_record.h"
#include "settings/printer_data_values.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace zq {
namespace {

constexpr std::u16string_view kPrintersKey = u"Software\\Zelquor\\Printers";
constexpr std::u16string_view kDefaultUserPrefix = u".DEFAULT\\";

}  // namespace

std::optional<std::u16string> PrinterNameOf(HANDLE printer) {
    if (printer == nullptr) return std::nullopt;
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed < sizeof(PRINTER_INFO_2W)) return std::nullopt;
    std::vector<uint8_t> buffer(needed);
    if (!GetPrinterW(printer, 2, buffer.data(), needed, &needed)) return std::nullopt;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    if (info->pPrinterName == nullptr) return std::nullopt;
    return std::u16string(info->pPrinterName);
}

std::optional<std::u16string> PrinterNameToKeyName(const char16_t* printerName) {
    if (printerName == nullptr || printerName[0] == u'\0') return std::nullopt;
    std::u16string key(printerName);
    std::replace(key.begin(), key.end(), u'\\', u',');
    return key;
}

namespace {

// The path of the user's key of the printer, or nullopt for another root,
// no printer or a path over 264 characters.
std::optional<std::u16string> UserPrinterKeyPath(HANDLE printer, HKEY root, const char16_t* keyName) {
    if (printer == nullptr || (root != HKEY_CURRENT_USER && root != HKEY_USERS)) return std::nullopt;
    std::optional<std::u16string> name;
    if (keyName != nullptr && keyName[0] != u'\0') {
        name = keyName;
    } else if (auto printerName = PrinterNameOf(printer)) {
        name = PrinterNameToKeyName(printerName->c_str());
    }
    if (!name) return std::nullopt;
    std::u16string full;
    if (root == HKEY_USERS) full = kDefaultUserPrefix;
    full += kPrintersKey;
    full += u'\\';
    full += *name;
    if (full.size() > kUserKeyPathMax) return std::nullopt;
    return full;
}

}  // namespace

BOOL OpenUserPrinterKey(HANDLE printer, HKEY root, HKEY* key, const char16_t* keyName, char16_t* path) {
    if (key == nullptr) return FALSE;
    *key = nullptr;
    const auto full = UserPrinterKeyPath(printer, root, keyName);
    if (!full) return FALSE;
    HKEY opened = nullptr;
    if (RegCreateKeyExW(root, full->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &opened,
                        nullptr) != ERROR_SUCCESS) {
        return FALSE;
    }
    *key = opened;
    if (path != nullptr) {
        std::copy(full->begin(), full->end(), path);
        path[full->size()] = u'\0';
    }
    return TRUE;
}

std::optional<std::vector<uint8_t>> ReadUserValue(HANDLE printer, HKEY root, HKEY openKey, const char16_t* valueName,
                                                  const char16_t* keyName) {
    if (root != HKEY_CURRENT_USER || valueName == nullptr) return std::nullopt;
    HKEY key = openKey;
    if (key == nullptr) {
        // A read opens the key as it is: it creates nothing.
        const auto path = UserPrinterKeyPath(printer, root, keyName);
        if (!path || RegOpenKeyExW(root, path->c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> result;
    // One query reads a value that fits the first buffer; a larger one is
    // asked again at the size the first query gave, and again when it
    // changes size between the queries.
    DWORD size = 4096;
    for (int attempt = 0; attempt < 4 && !result; ++attempt) {
        DWORD type = 0;
        std::vector<uint8_t> bytes(size);
        DWORD got = size;
        const LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, bytes.data(), &got);
        if (rc == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        bytes.resize(got);
        result = std::move(bytes);
    }
    if (openKey == nullptr) RegCloseKey(key);
    return result;
}

BOOL WriteUserValue(HANDLE printer, const char16_t* keyName, const char16_t* valueName,
                    std::span<const uint8_t> bytes) {
    if (valueName == nullptr) return FALSE;
    HKEY key = nullptr;
    char16_t path[kUserKeyPathMax + 1] = {};
    if (!OpenUserPrinterKey(printer, HKEY_CURRENT_USER, &key, keyName, path)) return FALSE;
    const bool ok = RegSetValueExW(key, valueName, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size())) ==
                    ERROR_SUCCESS;
    RegCloseKey(key);
    if (!ok) return FALSE;
    InstallLogEntry entry;
    entry.printer = printer;
    entry.keyKind = "hkcu";
    entry.sectionKind = 2;
    entry.key = WideToAnsi(path);
    entry.valueName = WideToAnsi(valueName);
    AddInstallLogEntry(entry);
    entry.valueName.clear();
    AddInstallLogEntry(entry);
    entry.key = WideToAnsi(kPrintersKey);
    entry.sectionKind = 1;
    AddInstallLogEntry(entry);
    return TRUE;
}

uint32_t ReadUserDevmode(HANDLE printer, const char16_t* valueName, std::span<uint8_t> out) {
    const auto name = PrinterNameOf(printer);
    if (!name) return ERROR_INVALID_PARAMETER;
    const auto keyName = PrinterNameToKeyName(name->c_str());
    HKEY key = keyName ? OpenUserPrinterKeyForRead(printer, keyName->c_str()) : nullptr;
    const uint32_t result = ReadUserDevmode(printer, key, valueName, out);
    if (key != nullptr) RegCloseKey(key);
    return result;
}

HKEY OpenUserPrinterKeyForRead(HANDLE printer, const char16_t* keyName) {
    const auto path = UserPrinterKeyPath(printer, HKEY_CURRENT_USER, keyName);
    HKEY key = nullptr;
    if (!path || RegOpenKeyExW(HKEY_CURRENT_USER, path->c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

uint32_t ReadUserDevmode(HANDLE printer, HKEY userKey, const char16_t* valueName, std::span<uint8_t> out) {
    if (printer == nullptr || valueName == nullptr) return ERROR_INVALID_PARAMETER;
    if (userKey != nullptr) {
        if (auto user = ReadUserValue(printer, HKEY_CURRENT_USER, userKey, valueName, nullptr);
            user && user->size() == out.size()) {
            std::memcpy(out.data(), user->data(), out.size());
            return ERROR_SUCCESS;
        }
    }
    // The printer's copy: read whole, so that a longer value is refused
    // rather than cut to the record's size.
    const PrinterDataBytes stored = ReadPrinterDataBytes(printer, WideToAnsi(valueName).c_str());
    if (stored.status != ValueRead::Ok || stored.bytes.size() != out.size()) return ERROR_INVALID_DATA;
    std::memcpy(out.data(), stored.bytes.data(), out.size());
    return ERROR_SUCCESS;
}

}  // namespace zq
