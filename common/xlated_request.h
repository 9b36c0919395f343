// The request of the dialog library's translation exports (LoadXlatedString,
// LoadXlatedResource, GetSizeofXlatedResource). It carries the caller's
// buffer, so it stays in the process: a plain record with a native pointer.
#pragma once

#include <cstdint>

namespace zq {

struct XlatedRequest {
    uint32_t size = 0;      // 20 for a string request, 16 for a resource request
    uint32_t direct = 0;    // non-zero: `id` is the resource library's own id
    uint32_t id = 0;        // otherwise a logical id, translated by the library
    char* buffer = nullptr; // strings: the caller's buffer
    uint32_t type = 0;      // resources: the resource type (low 16 bits)
    uint16_t length = 0;    // strings: the buffer's size in characters
};

inline constexpr uint32_t kXlatedStringRequest = 20;
inline constexpr uint32_t kXlatedResourceRequest = 16;

}  // namespace zq
