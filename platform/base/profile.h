// The INI profile calls.
//
// A bare file name lives in the Windows directory; win.ini serves the
// GetProfile/WriteProfile calls. Section and key names compare without case,
// the first matching section (and key within it) wins. Values are trimmed of
// blanks and of one pair of enclosing quotes on reading. Lines starting with
// ";" are comments. Writing keeps every other line, comment and order as it
// stands: a new key goes after the last line of its section, a new section at
// the end of the file. Files are ANSI (process code page), UTF-8 with a
// byte-order mark or UTF-16 LE with a byte-order mark, and keep their form
// and line ends when written.
//
// A write re-reads the file, changes it and replaces it by writing a
// temporary file beside it and renaming it over the old one, under an
// advisory lock on the file's directory: a reader sees the old or the new
// file, never half of one, and two processes writing the same file lose
// neither's change.
//
// Buffer rules: a value that does not fit is cut and size - 1 returned; a
// list (sections, keys, a section's lines) is NUL-separated and ends with a
// second NUL; a list that does not fit is cut, still ends with two NULs, and
// size - 2 is returned. With a null key a missing section gives the default.
#pragma once

#include "base/types.h"

extern "C" {
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName);
DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD size,
                               LPCWSTR fileName);
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);
UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR fileName);
DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR fileName);
DWORD GetPrivateProfileSectionW(LPCWSTR section, LPWSTR buffer, DWORD size, LPCWSTR fileName);
DWORD GetPrivateProfileSectionNamesA(LPSTR buffer, DWORD size, LPCSTR fileName);
DWORD GetPrivateProfileSectionNamesW(LPWSTR buffer, DWORD size, LPCWSTR fileName);
// A null value deletes the key, a null key the section.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName);
// Replaces the section's lines with "key=value" lines given as a list; a null
// list deletes the section.
BOOL WritePrivateProfileSectionA(LPCSTR section, LPCSTR lines, LPCSTR fileName);
BOOL WritePrivateProfileSectionW(LPCWSTR section, LPCWSTR lines, LPCWSTR fileName);

DWORD GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size);
DWORD GetProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD size);
UINT GetProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue);
UINT GetProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue);
BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value);
BOOL WriteProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value);
}
