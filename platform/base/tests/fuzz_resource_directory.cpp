// Fuzzes the reader of compiled resource directories (standalone resource
// files opened by EngLoadModule), including the string-block walk of
// LoadString.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/resources.h"
#include "base/text.h"
#include "testing/temp_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zq::IsValidResourceDirectory(data, size);
    // A file in memory where the host has one: the loader opens by path.
    static const std::string path =
        (zq::testing::ProcessTempDirectory("zq-fuzz-resources") / "fuzz.res").string();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::u16string wide = zq::Utf8ToUtf16(path);
    HANDLE module = EngLoadModule(wide.data());
    if (module) {
        char16_t buffer[64];
        for (UINT id : {0u, 1u, 2u, 15u, 16u, 17u, 300u})
            LoadStringW(static_cast<HMODULE>(module), id, buffer, 64);
        ULONG length = 0;
        for (int type : {2, 5, 6, 10, 259})
            for (int name : {0, 1, 100})
                if (auto* p = static_cast<const volatile uint8_t*>(EngFindResource(module, name, type, &length)))
                    for (ULONG i = 0; i < length; ++i) (void)p[i];
        for (const auto& e : zq::ListResources(static_cast<HMODULE>(module))) (void)e;
        EngFreeModule(module);
    }
    std::remove(path.c_str());
    return 0;
}
