// A stand-in of the dialog library for the tests: LoadXlatedString serves a
// small table of logical string ids.
#include <algorithm>
#include <cstring>

#include "common/xlated_request.h"

namespace {
struct Entry {
    unsigned short id;
    const char* text;
};
constexpr Entry kStrings[] = {
    {3, "Zelquor"},           {13, "Device fonts of "}, {14, "the printer, "},  {15, "kept by the "},
    {16, "interface driver"}, {17, " for the "},        {18, "renderer. "},     {19, "Do not edit; "},
    {20, "it is rebuilt"},    {21, " when needed."},
};
}  // namespace

extern "C" int LoadXlatedString(zq::XlatedRequest* request) {
    if (request == nullptr || request->buffer == nullptr || request->length == 0) return 0;
    for (const Entry& e : kStrings) {
        if (e.id != request->id) continue;
        const size_t n = std::min<size_t>(std::strlen(e.text), request->length - 1u);
        std::memcpy(request->buffer, e.text, n);
        request->buffer[n] = '\0';
        return static_cast<int>(n);
    }
    return 0;
}
