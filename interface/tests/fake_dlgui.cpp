// A stand-in of the dialog library's translation exports for the tests. A
// string request for one of a few logical ids answers its text from a small
// table (the font summary's description, the configuration and profile
// messages, the built-in profiles' names); any other non-zero id answers
// "text <id>" ("direct <id>" for a direct id). A resource request answers the
// address of a 4-byte block for type 10, else nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/xlated_request.h"

namespace {
const uint8_t kBlock[4] = {1, 2, 3, 4};

struct Entry {
    uint32_t id;
    const char* text;
};
constexpr Entry kStrings[] = {
    {1, "The settings file %s (%s) could not be applied."},
    {2, "Printer configuration"},
    {4, " could not read the configuration file of %s"},
    // A translation that carries conversions of its own: they must come
    // out as text.
    {5, " (%d%%n)."},
    {23, "Profiles cannot be used"},
    {3003, "Factory settings"},
    {3004, "Installed settings"},
    {3, "Zelquor"},           {13, "Device fonts of "}, {14, "the printer, "},  {15, "kept by the "},
    {16, "interface driver"}, {17, " for the "},        {18, "renderer. "},     {19, "Do not edit; "},
    {20, "it is rebuilt"},    {21, " when needed."},
};

int Copy(zq::XlatedRequest* request, const char* text) {
    const size_t n = std::min<size_t>(std::strlen(text), request->length - 1u);
    std::memcpy(request->buffer, text, n);
    request->buffer[n] = '\0';
    return static_cast<int>(n);
}
}  // namespace

extern "C" {
int LoadXlatedString(zq::XlatedRequest* request) {
    if (request == nullptr || request->buffer == nullptr || request->length == 0 || request->id == 0) return 0;
    if (request->direct == 0) {
        for (const Entry& e : kStrings) {
            if (e.id == request->id) return Copy(request, e.text);
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "%s %u", request->direct ? "direct" : "text", request->id);
    return Copy(request, text);
}
const void* LoadXlatedResource(zq::XlatedRequest* request) {
    return request != nullptr && (request->type & 0xFFFF) == 10 ? kBlock : nullptr;
}
uint32_t GetSizeofXlatedResource(zq::XlatedRequest* request) {
    return request != nullptr && (request->type & 0xFFFF) == 10 ? sizeof kBlock : 0;
}
}
