// A stand-in of the dialog library's translation exports for the tests: a
// string request answers "text <id>" ("direct <id>" for a direct id), a
// resource request the address of a 4-byte block for type 10, else nothing.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/xlated_request.h"

namespace {
const uint8_t kBlock[4] = {1, 2, 3, 4};
}

extern "C" {
int LoadXlatedString(zq::XlatedRequest* request) {
    if (request == nullptr || request->buffer == nullptr || request->length == 0 || request->id == 0) return 0;
    const int n = std::snprintf(request->buffer, request->length, "%s %u", request->direct ? "direct" : "text",
                                request->id);
    return n < request->length ? n : request->length - 1;
}
const void* LoadXlatedResource(zq::XlatedRequest* request) {
    return request != nullptr && (request->type & 0xFFFF) == 10 ? kBlock : nullptr;
}
uint32_t GetSizeofXlatedResource(zq::XlatedRequest* request) {
    return request != nullptr && (request->type & 0xFFFF) == 10 ? sizeof kBlock : 0;
}
}
