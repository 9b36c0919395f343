// Windows paths on the system root.
//
// Every Windows location lives under $ZQ_ROOT:
//   C:\...                 -> $ZQ_ROOT/c/...
//   D:\... (other drives)  -> $ZQ_ROOT/d/...
//   \\server\share\...     -> $ZQ_ROOT/unc/server/share/...
// Forward slashes count as backslashes; "." and ".." are folded; trailing
// dots and blanks of a name are dropped as Windows does. Relative paths
// resolve against the process's current directory, which starts at C:\ (or,
// when the program was started inside the root's tree, at that directory).
// Existing components are found without regard to case: an exact match
// first, else the first of the case-insensitive matches in byte order, so the
// choice never depends on directory order. A path that would leave its drive
// or share (".." above it) or the root (a symbolic link pointing out) is
// refused with ERROR_ACCESS_DENIED.
//
// The Windows directory is C:\WINDOWS ($ZQ_ROOT/c/windows), the system
// directory C:\WINDOWS\system32 and the temporary directory C:\TEMP; these
// exist as soon as any path is mapped.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/types.h"

constexpr DWORD MAX_PATH = 260;

extern "C" {
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
DWORD GetTempPathA(DWORD size, LPSTR buffer);
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
// Unique 0: a free name is chosen and the empty file created; otherwise the
// name is only formed. The buffer holds MAX_PATH characters.
UINT GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName);
UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR tempFileName);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR path);
BOOL SetCurrentDirectoryW(LPCWSTR path);
DWORD GetFullPathNameA(LPCSTR fileName, DWORD size, LPSTR buffer, LPSTR* filePart);
DWORD GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart);
// Files have no 8.3 names here: both give an existing path back as it was
// written (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when it is missing).
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);
DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size);
DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size);
DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD size);
// %WINDIR%, %SYSTEMROOT%, %SYSTEMDRIVE%, %TEMP% and %TMP% name the Windows
// locations; any other name comes from the process environment (found
// without regard to case). Unknown names stay as written. The result is the
// size needed including the NUL; a short buffer is left alone.
DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size);
DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);
}

namespace zq {

// The host path of a Windows path, or nothing with the last error set
// (ERROR_ACCESS_DENIED for a path that leaves the root, ERROR_INVALID_NAME
// for characters Windows refuses, ERROR_BAD_PATHNAME for a UNC name without
// a share). The path need not exist; existing components keep their case on
// disk, missing ones are taken as written.
std::optional<std::filesystem::path> MapPath(std::u16string_view windowsPath);

// The Windows path of a host path under the root (C:\windows\x for
// $ZQ_ROOT/c/windows/x), or nothing when it lies outside the drives.
std::optional<std::u16string> ToWindowsPath(const std::filesystem::path& hostPath);

// The full Windows form of a path ("C:\A\B"), as GetFullPathName gives it;
// nothing with the last error set when it is malformed or leaves its drive.
std::optional<std::u16string> FullWindowsPath(std::u16string_view windowsPath);

std::u16string WindowsDirectory();  // C:\WINDOWS
std::u16string SystemDirectory();   // C:\WINDOWS\system32
std::u16string TempDirectory();     // C:\TEMP\ (with its backslash)
std::u16string CurrentDirectory();

// A bare file name (no drive, no separator) in the Windows directory,
// anything else as it stands; used by the profile calls.
std::u16string InWindowsDirectory(std::u16string_view fileName);

}  // namespace zq
