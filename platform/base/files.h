// Files on the system root, with the Win32 calls and the 16-bit-handle calls
// of the package (paths are Windows paths, see base/paths.h).
//
// Sharing. Each CreateFile gets its own open file description and marks what
// it reads, writes or deletes, and what it refuses to share, with advisory
// byte locks far beyond any data (open-file-description locks, so they hold
// between the handles of one process as between processes). An open that
// conflicts with a handle already open fails with ERROR_SHARING_VIOLATION,
// as does DeleteFile or MoveFile of a file opened without FILE_SHARE_DELETE.
// LockFile ranges are advisory locks too; ReadFile and WriteFile of a range
// another handle locked fail with ERROR_LOCK_VIOLATION.
//
// Attributes. Only read-only is kept, as the file's write permission bits;
// plain files report FILE_ATTRIBUTE_NORMAL. Files have no 8.3 names.
//
// Replacement at restart. MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT appends
// one line to $ZQ_ROOT/pending-file-renames.txt (UTF-8):
//     <flags in decimal> TAB <full Windows source path> TAB <destination>
// with an empty destination for a deletion (a source ending in a backslash
// names a directory). zq::PendingRenames reads the list and
// zq::ApplyPendingRenames carries it out and empties it, as a restart of
// Windows would.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/kernel_objects.h"
#include "base/paths.h"
#include "base/types.h"

// Only pointers of these pass through here; their contents are not used.
struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPOVERLAPPED = OVERLAPPED*;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_EXECUTE = 0x20000000;
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD FILE_READ_DATA = 0x0001;
constexpr DWORD FILE_WRITE_DATA = 0x0002;
constexpr DWORD FILE_APPEND_DATA = 0x0004;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x0080;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x0100;
constexpr DWORD DELETE = 0x00010000;

constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
// A symbolic link, reported by the directory search beside its target's
// attributes.
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

// OpenFile styles.
constexpr UINT OF_READ = 0x0000;
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_READWRITE = 0x0002;
constexpr UINT OF_SHARE_COMPAT = 0x0000;
constexpr UINT OF_SHARE_EXCLUSIVE = 0x0010;
constexpr UINT OF_SHARE_DENY_WRITE = 0x0020;
constexpr UINT OF_SHARE_DENY_READ = 0x0030;
constexpr UINT OF_SHARE_DENY_NONE = 0x0040;
constexpr UINT OF_PARSE = 0x0100;
constexpr UINT OF_DELETE = 0x0200;
constexpr UINT OF_VERIFY = 0x0400;
constexpr UINT OF_CANCEL = 0x0800;
constexpr UINT OF_CREATE = 0x1000;
constexpr UINT OF_PROMPT = 0x2000;
constexpr UINT OF_EXIST = 0x4000;
constexpr UINT OF_REOPEN = 0x8000;
constexpr int OFS_MAXPATHNAME = 128;

struct OFSTRUCT {
    BYTE cBytes;
    BYTE fFixedDisk;
    WORD nErrCode;
    WORD Reserved1;
    WORD Reserved2;
    CHAR szPathName[OFS_MAXPATHNAME];
};
static_assert(sizeof(OFSTRUCT) == 136);
static_assert(offsetof(OFSTRUCT, nErrCode) == 2 && offsetof(OFSTRUCT, szPathName) == 8);

// WIN32_FIND_DATAA and WIN32_FIND_DATAW differ only in the width of their
// names.
template <class Char>
struct Win32FindDataOf {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    Char cFileName[MAX_PATH];
    Char cAlternateFileName[14];
};
using WIN32_FIND_DATAA = Win32FindDataOf<CHAR>;
using WIN32_FIND_DATAW = Win32FindDataOf<WCHAR>;
static_assert(sizeof(WIN32_FIND_DATAA) == 320);
static_assert(offsetof(WIN32_FIND_DATAA, nFileSizeLow) == 32 && offsetof(WIN32_FIND_DATAA, cFileName) == 44);
static_assert(offsetof(WIN32_FIND_DATAA, cAlternateFileName) == 304);
static_assert(sizeof(WIN32_FIND_DATAW) == 592);
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == 44 && offsetof(WIN32_FIND_DATAW, cAlternateFileName) == 564);

extern "C" {
HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL SetEndOfFile(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL FlushFileBuffers(HANDLE file);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite);
BOOL LockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh);
BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh);

HFILE OpenFile(LPCSTR fileName, OFSTRUCT* info, UINT style);
// _lopen modes are the OF_ access and share styles; _lcreat takes attribute bits.
HFILE _lopen(LPCSTR path, int mode);
HFILE _lcreat(LPCSTR path, int attributes);
UINT _lread(HFILE file, LPVOID buffer, UINT count);
// A count of 0 cuts the file at the current position.
UINT _lwrite(HFILE file, LPCSTR buffer, UINT count);
LONG _llseek(HFILE file, LONG offset, int origin);
HFILE _lclose(HFILE file);

BOOL DeleteFileA(LPCSTR fileName);
BOOL DeleteFileW(LPCWSTR fileName);
BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists);
BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists);
BOOL MoveFileA(LPCSTR existing, LPCSTR newName);
BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName);
BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags);
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryA(LPCSTR path);
BOOL RemoveDirectoryW(LPCWSTR path);
DWORD GetFileAttributesA(LPCSTR fileName);
DWORD GetFileAttributesW(LPCWSTR fileName);
BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes);
BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes);

// "*" and "?" match without regard to case; a pattern ending in ".*" also
// matches names without a dot ("*.*" is everything). Entries come in
// case-insensitive name order, "." and ".." first outside a drive's root.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);
}

namespace zq {

// Win32 file times count 100 ns since 1601-01-01 UTC.
FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);

struct PendingRename {
    DWORD flags = 0;
    std::u16string source;
    std::u16string destination;  // empty: delete the source
};

std::filesystem::path PendingRenamesFile();
std::vector<PendingRename> PendingRenames();
// Carries out and forgets the pending list; false when an entry failed (the
// others are still done).
bool ApplyPendingRenames();

// Durable writes: files the package replaces (profiles, list files) are
// flushed to disk, with their folder, before the replacement is reported
// done, so that a crash leaves the old or the new contents. On by default;
// a fuzz target, which writes thousands of throwaway files and never
// survives a crash, turns it off. What is written, and when another reader
// sees it, is the same either way.
void SetDurableWrites(bool on);
bool DurableWrites();
// fsync when writes are durable; true when it succeeded or was not asked.
bool SyncIfDurable(int fd);

// Whether a Windows name matches a FindFirstFile pattern.
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern);

}  // namespace zq
