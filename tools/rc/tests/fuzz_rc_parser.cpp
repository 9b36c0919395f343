// Fuzzes the resource compiler's preprocessor, script and record parsers, and
// checks that whatever compiles gives a directory the resource API accepts.
#include <cstdint>
#include <string>

#include "base/resources.h"
#include "rc_compiler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    zq::rc::CompileOptions options;
    options.maxResourceBytes = 1u << 20;
    options.maxIncludeCount = 16;
    // Every file a script names reads as a small header of ids, except
    // "self", which is the input again (nested includes stay bounded).
    options.readFile = [&](const std::filesystem::path& p) -> std::optional<std::string> {
        if (p.filename() == "self") return text;
        if (p.filename() == "missing") return std::nullopt;
        return std::string("#define IDX 7\nconstexpr int IDY = IDX + 1;\nenum { IDZ = 3, IDW };\n");
    };
    try {
        auto result = zq::rc::CompileText(text, "fuzz.rc", options);
        auto directory = zq::rc::BuildDirectory(result.resources);
        if (!zq::IsValidResourceDirectory(directory.data(), directory.size())) __builtin_trap();
    } catch (const zq::rc::CompileError&) {
    }
    return 0;
}
