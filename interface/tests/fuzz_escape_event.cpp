// Arbitrary bytes as an application's escape, as GDI hands it to the
// interface driver's ESCAPE event: the save-settings escape reads a record
// only when it is whole and valid, and answers 1 whatever it is given.
#include <cstdint>
#include <cstring>
#include <vector>

#include "interface/document_events.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    int code = 0;
    std::memcpy(&code, data, 4);
    // The declared size may lie about the data behind it only by being
    // smaller: GDI hands over exactly what the application gave.
    std::vector<uint8_t> bytes(data + 4, data + size);
    const bool asSaveSettings = (code & 1) != 0;
    DOCEVENT_ESCAPE escape{asSaveSettings ? 5021 : code, static_cast<int>(bytes.size()),
                           bytes.empty() ? nullptr : bytes.data()};
    if (DrvDocumentEvent(nullptr, nullptr, DOCUMENTEVENT_ESCAPE, sizeof escape, &escape, 0, nullptr) != 1)
        __builtin_trap();
    return 0;
}
