// Fuzzes the version reader: file images (ELF modules, resource files) and
// queries into the block they give.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto block = zq::VersionBlockOfImage({data, size});
    if (!block) return 0;
    std::vector<uint8_t> full(block->size() * 2);
    std::memcpy(full.data(), block->data(), block->size());
    for (const char* q : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\FileVersion",
                          "\\StringFileInfo\\040704b0\\FileVersion", "\\a\\b\\c\\d"}) {
        LPVOID p = nullptr;
        UINT n = 0;
        if (VerQueryValueA(full.data(), q, &p, &n)) {
            auto* b = static_cast<const uint8_t*>(p);
            if (b < full.data() || b + n > full.data() + full.size()) __builtin_trap();
        }
    }
    return 0;
}
