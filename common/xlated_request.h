// The request the interface driver hands to the dialog library's
// translation exports (LoadXlatedString, LoadXlatedResource,
// GetSizeofXlatedResource). Both libraries are ours and run in one process,
// so the record carries native pointers.
#pragma once

#include <cstdint>

namespace zq {

struct XlatedRequest {
    uint16_t size = 0;     // 20 for a string request, 16 for a resource request
    uint32_t direct = 0;   // 0: `id` is a logical id, translated by the library
    uint16_t id = 0;
    char* buffer = nullptr;  // strings: the caller's buffer
    uint32_t type = 0;       // resources: the resource type (low 16 bits used)
    uint16_t length = 0;     // strings: the buffer's size in characters
};

constexpr uint16_t kXlatedStringRequestSize = 20;
constexpr uint16_t kXlatedResourceRequestSize = 16;

// The exports' signature.
using LoadXlatedStringProc = int (*)(XlatedRequest* request);

}  // namespace zq
