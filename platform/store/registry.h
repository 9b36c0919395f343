// The registry: keys and values kept in the store's database under the
// system root, shared by every process that uses the same root.
//
// Roots are the predefined handles. HKEY_CURRENT_USER is HKEY_USERS\<user>,
// the user being $ZQ_USER or the Linux user (zq::store::SetRegistryUser
// overrides it); HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
// Key and value names compare without regard to case. Every call is one
// database transaction.
#pragma once

#include "base/error.h"
#include "base/types.h"

using SECURITY_INFORMATION = DWORD;
using PSECURITY_DESCRIPTOR = void*;
struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using PHKEY = HKEY*;

namespace zq::store {
inline HKEY PredefinedKey(uint32_t code) {
    return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(code)));
}
}  // namespace zq::store

inline const HKEY HKEY_CLASSES_ROOT = zq::store::PredefinedKey(0x80000000u);
inline const HKEY HKEY_CURRENT_USER = zq::store::PredefinedKey(0x80000001u);
inline const HKEY HKEY_LOCAL_MACHINE = zq::store::PredefinedKey(0x80000002u);
inline const HKEY HKEY_USERS = zq::store::PredefinedKey(0x80000003u);
inline const HKEY HKEY_CURRENT_CONFIG = zq::store::PredefinedKey(0x80000005u);

// Value types.
// The registry database is damaged or is no database.
constexpr DWORD ERROR_BADDB = 1009;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Key access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_EXECUTE = 0x20019;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 1;
constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 2;
constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 4;
constexpr SECURITY_INFORMATION SACL_SECURITY_INFORMATION = 8;

extern "C" {
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegOpenKeyW(HKEY key, LPCWSTR subKey, PHKEY result);
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result);
LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegCloseKey(HKEY key);
LONG RegConnectRegistryW(LPCWSTR machine, HKEY key, PHKEY result);
LONG RegConnectRegistryA(LPCSTR machine, HKEY key, PHKEY result);

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
LONG RegDeleteValueA(HKEY key, LPCSTR name);
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved, LPWSTR keyClass,
                   LPDWORD classChars, FILETIME* lastWrite);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD reserved, LPSTR keyClass,
                   LPDWORD classChars, FILETIME* lastWrite);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize);
LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyChars, LPDWORD maxClassChars, LPDWORD values, LPDWORD maxValueNameChars,
                      LPDWORD maxValueBytes, LPDWORD securityBytes, FILETIME* lastWrite);
LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classChars, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyChars, LPDWORD maxClassChars, LPDWORD values, LPDWORD maxValueNameChars,
                      LPDWORD maxValueBytes, LPDWORD securityBytes, FILETIME* lastWrite);

// Security is accepted and ignored: every key reports the same empty
// self-relative descriptor, and setting one changes nothing.
LONG RegGetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, LPDWORD size);
LONG RegSetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);
LONG RegFlushKey(HKEY key);
}
