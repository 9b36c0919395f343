// Private heaps, global and local memory blocks.
//
// Every new block, and every part a reallocation adds, reads as zero, with or
// without the zero-initialise flags. Handles and blocks are tracked: a freed
// or unknown handle or pointer gives FALSE or NULL with ERROR_INVALID_HANDLE
// or ERROR_INVALID_PARAMETER, never a crash or a double free. Destroying a
// heap frees every block still allocated from it.
#pragma once

#include <cstddef>

#include "base/error.h"
#include "base/types.h"

constexpr DWORD HEAP_NO_SERIALIZE = 0x00000001;
constexpr DWORD HEAP_GROWABLE = 0x00000002;
constexpr DWORD HEAP_GENERATE_EXCEPTIONS = 0x00000004;
constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
constexpr DWORD HEAP_REALLOC_IN_PLACE_ONLY = 0x00000010;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_NOCOMPACT = 0x0010;
constexpr UINT GMEM_NODISCARD = 0x0020;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GMEM_MODIFY = 0x0080;
constexpr UINT GMEM_DISCARDABLE = 0x0100;
constexpr UINT GMEM_NOT_BANKED = 0x1000;
constexpr UINT GMEM_SHARE = 0x2000;
constexpr UINT GMEM_DDESHARE = 0x2000;
constexpr UINT GMEM_LOCKCOUNT = 0x00FF;
constexpr UINT GMEM_INVALID_HANDLE = 0x8000;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_MOVEABLE = 0x0002;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LMEM_MODIFY = 0x0080;
constexpr UINT LMEM_LOCKCOUNT = 0x00FF;
constexpr UINT LMEM_INVALID_HANDLE = 0x8000;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;
constexpr UINT LHND = LMEM_MOVEABLE | LMEM_ZEROINIT;

// GlobalUnlock of a block that is not locked.

extern "C" {

// maximumSize 0 makes a heap that grows; otherwise the heap's blocks together
// never exceed it. Allocation failures give NULL with ERROR_NOT_ENOUGH_MEMORY
// (HEAP_GENERATE_EXCEPTIONS raises nothing).
HANDLE HeapCreate(DWORD options, SIZE_T initialSize, SIZE_T maximumSize);
BOOL HeapDestroy(HANDLE heap);
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
// (SIZE_T)-1 for a block the heap does not hold.
SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID block);
BOOL HeapValidate(HANDLE heap, DWORD flags, LPCVOID block);
// The process heap lives as long as the process; HeapDestroy refuses it.
HANDLE GetProcessHeap();

// A fixed block's handle is its address; a movable block's handle is a token
// that GlobalLock turns into the address. Lock counts apply to movable
// blocks; a fixed block's count is always 0.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags);
// NULL on success, the handle on failure.
HGLOBAL GlobalFree(HGLOBAL block);
LPVOID GlobalLock(HGLOBAL block);
// TRUE while still locked; FALSE with NO_ERROR when the count reaches 0;
// FALSE with ERROR_NOT_LOCKED when it was not locked.
BOOL GlobalUnlock(HGLOBAL block);
SIZE_T GlobalSize(HGLOBAL block);
HGLOBAL GlobalHandle(LPCVOID address);
// Lock count in the low byte; GMEM_INVALID_HANDLE for a bad handle.
UINT GlobalFlags(HGLOBAL block);

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalReAlloc(HLOCAL block, SIZE_T bytes, UINT flags);
HLOCAL LocalFree(HLOCAL block);
LPVOID LocalLock(HLOCAL block);
BOOL LocalUnlock(HLOCAL block);
SIZE_T LocalSize(HLOCAL block);
HLOCAL LocalHandle(LPCVOID address);
UINT LocalFlags(HLOCAL block);

// The machine's memory as GlobalMemoryStatus reports it (bytes).
struct MEMORYSTATUS {
    DWORD dwLength;
    DWORD dwMemoryLoad;  // percent in use
    SIZE_T dwTotalPhys;
    SIZE_T dwAvailPhys;
    SIZE_T dwTotalPageFile;
    SIZE_T dwAvailPageFile;
    SIZE_T dwTotalVirtual;
    SIZE_T dwAvailVirtual;
};
void GlobalMemoryStatus(MEMORYSTATUS* status);

}  // extern "C"

namespace zq {

// Blocks still allocated: from one heap (0 for a heap that does not exist),
// and global or local blocks of the whole process. For leak checks in tests.
size_t HeapBlockCount(HANDLE heap);
size_t GlobalBlockCount();

}  // namespace zq
