// The version-query calls over the standard version block (resource type
// 16) that zqrc compiles from a VERSIONINFO statement.
//
// The block is read from the file's bytes, never by loading it: a module
// carries its resource directory in the ELF section ".zqrsrc", a standalone
// resource file is the directory itself. Any other file has no version
// (ERROR_RESOURCE_TYPE_NOT_FOUND).
//
// The block handed out by GetFileVersionInfoA is the block's bytes followed
// by as many bytes again, where VerQueryValueA puts the ANSI form of the
// texts it is asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/types.h"

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);
static_assert(offsetof(VS_FIXEDFILEINFO, dwFileVersionMS) == 8 && offsetof(VS_FIXEDFILEINFO, dwFileType) == 36);

constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;

extern "C" {
DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data);
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length);
}

namespace zq {

// The version block of a file image (ELF module or resource file), for the
// calls above and the fuzz target.
std::optional<std::vector<uint8_t>> VersionBlockOfImage(std::span<const uint8_t> image);

}  // namespace zq
