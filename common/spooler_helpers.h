// The one place where the driver libraries reach the spooler's printer
// information calls. Each helper takes the arguments of the call it wraps,
// in the same order, and returns its result unchanged: FALSE (with the
// spooler's last error) for the BOOL calls, the Win32 error for the
// printer-data calls.
#pragma once

#include <cstdlib>

#include "base/memory.h"
#include "store/spooler.h"

namespace zq {

inline BOOL SplGetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetPrinterW(printer, level, buffer, size, needed);
}
inline BOOL SplGetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetPrinterA(printer, level, buffer, size, needed);
}
// Every level, directory publishing (7) included, answers what the spooler
// answered: a refused publishing request is no success.
inline BOOL SplSetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    return SetPrinterW(printer, level, info, command);
}
inline DWORD SplGetPrinterDataW(HANDLE printer, LPWSTR name, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
    return GetPrinterDataW(printer, name, type, data, size, needed);
}
inline DWORD SplGetPrinterDataA(HANDLE printer, LPSTR name, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
    return GetPrinterDataA(printer, name, type, data, size, needed);
}
inline DWORD SplSetPrinterDataW(HANDLE printer, LPWSTR name, DWORD type, LPBYTE data, DWORD size) {
    return SetPrinterDataW(printer, name, type, data, size);
}
inline DWORD SplSetPrinterDataA(HANDLE printer, LPSTR name, DWORD type, LPBYTE data, DWORD size) {
    return SetPrinterDataA(printer, name, type, data, size);
}
inline BOOL SplGetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed) {
    return GetPrinterDriverW(printer, environment, level, buffer, size, needed);
}
inline BOOL SplGetPrinterDriverA(HANDLE printer, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed) {
    return GetPrinterDriverA(printer, environment, level, buffer, size, needed);
}

// The printer's information of a level in fixed global memory, which the
// caller frees with GlobalFree; null when the printer does not answer the
// size query as a size query, or the block cannot be had or filled.
inline void* AllocPrinterInfo(HANDLE printer, DWORD level) {
    DWORD needed = 0;
    if (SplGetPrinterW(printer, level, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        needed == 0) {
        return nullptr;
    }
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, needed);
    if (block == nullptr) return nullptr;
    if (!SplGetPrinterW(printer, level, static_cast<LPBYTE>(block), needed, &needed)) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

}  // namespace zq
